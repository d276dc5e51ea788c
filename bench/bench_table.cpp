// bench_table.cpp - the "table" suite: the four headline cases (encode and
// decode, 4:2:0 and 4:4:4) of the benchmark photograph, our MP/s against
// libjpeg-turbo with its SIMD code and without it, in one run.
//
// libjpeg-turbo decides once per process whether to use SIMD (it reads
// JSIMD_FORCENONE on first use), so its plain-C timings come from a child:
// jpegbench re-executes itself with JSIMD_FORCENONE=1 and --peer-times, and
// the child prints one "peer <case> <seconds>" line per case.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_common.h"

namespace {

volatile unsigned gSink;

using Case = bench::HeadlineCase;
constexpr const Case* kCases = bench::kHeadlineCases;
constexpr int kCaseCount = bench::kHeadlineCaseCount;

// The compressed input of a decode case (libjpeg-turbo at quality 75).
const std::vector<uint8_t>& DecodeInput(bool subsample420) {
  static const std::vector<uint8_t> jpeg420 = bench::LibjpegEncode(bench::BigPhoto(), 75, true);
  static const std::vector<uint8_t> jpeg444 = bench::LibjpegEncode(bench::BigPhoto(), 75, false);
  return subsample420 ? jpeg420 : jpeg444;
}

void RunOurs(const Case& c) {
  if (c.encode) {
    gSink = static_cast<unsigned>(bench::EncodeOurs(bench::BigPhoto(), c.subsample420));
  } else {
    gSink = bench::DecodeOurs(DecodeInput(c.subsample420));
  }
}

// libjpeg-turbo with its defaults: quality 75, fancy upsampling on decode.
void RunPeer(const Case& c) {
  if (c.encode) {
    gSink = static_cast<unsigned>(bench::LibjpegEncode(bench::BigPhoto(), 75, c.subsample420).size());
  } else {
    gSink = bench::DecodeLibjpeg(DecodeInput(c.subsample420), true);
  }
}

double TimePeer(const Case& c) {
  return bench::BestSeconds([&] { RunPeer(c); });
}

// Best times of ours and the peer's, their runs alternating so that both
// see the same machine load (the figures are best-of, about 2 s in all).
void TimeBoth(const Case& c, double* ours, double* peer) {
  *ours = *peer = 1e30;
  double total = 0;
  for (int round = 0; round < 5 || (total < 2.0 && round < 200); round++) {
    const double a = bench::BestSeconds([&] { RunOurs(c); }, 1, 0);
    const double b = bench::BestSeconds([&] { RunPeer(c); }, 1, 0);
    total += a + b;
    if (a < *ours) *ours = a;
    if (b < *peer) *peer = b;
  }
}

// Runs this program again with libjpeg-turbo's SIMD off and collects its
// peer timings; a case the child did not report stays 0.
void TimePeerWithoutSimd(double* seconds) {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return;
  self[n] = '\0';
  const std::string command = std::string("JSIMD_FORCENONE=1 '") + self + "' --peer-times";
  FILE* child = popen(command.c_str(), "r");
  if (child == nullptr) return;
  char line[256];
  while (std::fgets(line, sizeof line, child) != nullptr) {
    int index = -1;
    double s = 0;
    if (std::sscanf(line, "peer %d %lf", &index, &s) == 2 && index >= 0 && index < kCaseCount)
      seconds[index] = s;
  }
  pclose(child);
}

double Rate(double seconds) { return bench::PhotoRate(seconds); }

void TableSuite() {
  const bench::Image& img = bench::BigPhoto();
  std::printf("  image %d x %d RGB; libjpeg-turbo quality 75 (decode: its default upsampling)\n",
              img.width, img.height);
  double ours[kCaseCount], simd[kCaseCount], plain[kCaseCount] = {};
  for (int i = 0; i < kCaseCount; i++) {
    TimeBoth(kCases[i], &ours[i], &simd[i]);
  }
  TimePeerWithoutSimd(plain);
  std::printf("  %-14s %10s %14s %8s %14s %8s\n", "case", "ours MP/s", "turbo SIMD", "ratio",
              "turbo no-SIMD", "ratio");
  for (int i = 0; i < kCaseCount; i++) {
    std::printf("  %-14s %10.1f %14.1f %7.2fx %14.1f %7.2fx\n", kCases[i].name, Rate(ours[i]),
                Rate(simd[i]), simd[i] / ours[i], Rate(plain[i]),
                plain[i] > 0 ? plain[i] / ours[i] : 0.0);
  }
}

}  // namespace

void bench::PrintPeerTimes() {
  for (int i = 0; i < kCaseCount; i++) std::printf("peer %d %.9f\n", i, TimePeer(kCases[i]));
}

JPEG_BENCH_SUITE("table", TableSuite);
