// test_memory.cpp - what the decoder's memory follows: the data, never the
// header. A header announcing a huge image (30000 x 10000, or 65535 x 65535
// with four components sampled 4x4, the largest strip a header can ask for)
// with no or little scan data behind it costs each path (decode filter, read
// stream, thumbnail) at most one strip, and nothing before scan data
// arrives; a progressive image's coefficient store grows with the data.
//
// Each decode runs in a forked child, which reports the growth of its peak
// resident size (VmHWM) and of its peak address space (VmPeak, which counts
// memory allocated but never touched) over what it inherited.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "support/decode_paths.h"

namespace {

using namespace testing_support;


constexpr long kMiB = 1024 * 1024;

long StatusKiB(const char* field) {  // a field of /proc/self/status, in KiB
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field) + 1));
  }
  return -1;
}

struct Growth {
  long residentBytes = -1, addressBytes = -1;
  bool decoded = false;  // the decode succeeded
};

// Runs decode in a child process and measures what it added.
Growth InChild(const std::function<bool()>& decode) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    const long rss = StatusKiB("VmRSS:"), peak = StatusKiB("VmPeak:");
    const bool decoded = decode();
    const Growth g{(StatusKiB("VmHWM:") - rss) * 1024, (StatusKiB("VmPeak:") - peak) * 1024, decoded};
    _exit(write(fds[1], &g, sizeof g) != sizeof g);
  }
  close(fds[1]);
  Growth g;
  if (read(fds[0], &g, sizeof g) != sizeof g) g = {};
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return g;
}

constexpr DecodePath kPaths[] = {DecodePath::kFilter, DecodePath::kReadStream, DecodePath::kThumbnail};

// A small reference file whose frame header claims width x height (and, when
// allSampled4x4, every component sampled 4x4), keeping dataBytes bytes of
// its scan data and no EOI.
Bytes HugeHeader(uint16_t width, uint16_t height, int colors, bool allSampled4x4, size_t dataBytes,
                 bool progressive = false) {
  LibjpegOptions options;
  options.progressive = progressive;
  Bytes j = LibjpegEncode(SyntheticImage(64, 64, colors, 3), options);
  const long f = FindMarker(j, progressive ? 0xC2 : 0xC0);
  j[f + 5] = static_cast<uint8_t>(height >> 8), j[f + 6] = static_cast<uint8_t>(height);
  j[f + 7] = static_cast<uint8_t>(width >> 8), j[f + 8] = static_cast<uint8_t>(width);
  for (int i = 0; allSampled4x4 && i < colors; i++) j[f + 11 + 3 * i] = 0x44;
  j.resize(std::min(j.size() - 2, SegmentEnd(j, FindMarker(j, 0xDA)) + dataBytes));
  return j;
}

// A header announcing a huge image costs nothing before its scan data and at
// most one strip after a little of it; a progressive image, decoded whole
// into a coefficient store before its first line, grows that store with the
// data, never with the header. bound: of the address space allocated; pages
// actually touched stay within 4 MiB whatever the header says. message: the
// start of the verdict ("" where it is not checked).
TEST(Memory, AHeaderAloneCostsAtMostOneStripAndTheStoreFollowsTheData) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "memory figures are meaningless under the sanitizer";
#endif
  constexpr long kResidentBound = 4 * kMiB;
  const struct { const char* name; Bytes jpeg; long bound; const char* message; } files[] = {
      {"30000x10000, no data", HugeHeader(30000, 10000, 3, false, 0), kMiB / 4, ""},
      {"65535x65535 4x4, no data", HugeHeader(65535, 65535, 4, true, 0), kMiB / 4, ""},
      // Some data (the 1,164-byte file): one strip, then the data ends.
      {"30000x10000, 541 bytes of data", HugeHeader(30000, 10000, 3, false, 541), 2 * kMiB, ""},
      // The largest strip any header can ask for: 4 x 65536 x 32 bytes.
      {"65535x65535 4x4, 541 bytes of data", HugeHeader(65535, 65535, 4, true, 541), 12 * kMiB, ""},
      {"progressive 65535x65535 4x4, no data", HugeHeader(65535, 65535, 4, true, 0, true), kMiB / 4, "Source EOF"},
      // One strip and one MCU row of the store (4 components x 4 block rows x 8192 blocks x
      // 128 bytes), of which only the blocks the data reaches are touched.
      {"progressive 65535x65535 4x4, 60 bytes of data", HugeHeader(65535, 65535, 4, true, 60, true), 26 * kMiB,
       "Source EOF"}};
  for (const auto& f : files) {
    for (DecodePath p : kPaths) {
      const std::string where = std::string(f.name) + ", " + PathName(p);
      if (f.message[0]) {  // decoded here, before the measured child, it raises the peak the child inherits
        const std::string message = DecodeThrough(p, f.jpeg, {0, 4096, false, false}).message;
        EXPECT_EQ(message.rfind(f.message, 0), 0u) << where << ": " << message;
      }
      const Growth g = InChild([&] { return DecodeThrough(p, f.jpeg, {0, 4096, false, false}).ok; });
      EXPECT_FALSE(g.decoded) << where;  // the data ends early
      EXPECT_TRUE(g.addressBytes >= 0 && g.addressBytes <= f.bound && g.residentBytes <= kResidentBound)
          << where << ": peak resident +" << g.residentBytes / 1024 << " KiB, address space +" << g.addressBytes / 1024 << " KiB";
    }
  }
}

}  // namespace
