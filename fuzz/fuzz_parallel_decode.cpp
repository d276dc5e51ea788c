// fuzz_parallel_decode.cpp - libFuzzer target for the decode filter with
// worker threads, against the same filter without them.
//
// Input: one byte choosing the refill pieces of the memory source (as in
// fuzz_jpeg_decode); a mode byte: its low two bits pick 2, 3, 5 or 8
// workers, and with bit 2 set four more bytes insert a run of one byte
// value (a 16-bit position, a length in 512-byte units, the value), so
// that runs of garbage span the workers' 32 KB windows; then the JPEG
// bytes. The image is decoded on the caller's thread alone and with workers
// from the first strip on, the thread's message cleared before each; the
// lines handed out, whether the image ended cleanly, the filter's own
// verdict and its message must be the same, whatever the bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "fuzz_support.h"
#include "stream/error_path.h"

namespace {

constexpr int64_t kMaxSamples = int64_t{2} << 20;
constexpr uint8_t kRunFlag = 0x04;
constexpr int kThreads[] = {2, 3, 5, 8};

struct Outcome {
  bool opened = false;
  bool ended = false;   // every line, then the clean end of the image
  bool failed = false;  // the filter's own verdict
  std::string message;
  std::vector<std::vector<uint8_t>> lines;
  auto Key() const { return std::tie(opened, ended, failed, message, lines); }
};

Outcome Decode(const std::vector<uint8_t>& data, uint8_t pattern, int threads) {
  JPEGErrorMessage("");
  DCTClearFailure();
  Outcome o;
  fuzz::MemorySource src;
  fuzz::InitSource(&src, data.data(), data.size(), 4096, pattern);
  int16_t width = 0, height = 0, colorCode = -1;
  Stm* s = JPEGDOpen(&src.stm, &width, &height, &colorCode);
  o.message = JPEGLastErrorMessage();
  if (s == nullptr) return o;
  o.opened = true;
  if (threads != 0) FUZZ_CHECK(JPEGSetCodingThreads(s, threads) == threads);
  const int64_t rows = static_cast<uint16_t>(height);
  const int64_t read = fuzz::ReadLines(s, rows, JPEGDLineBytes(s), kMaxSamples, &o.lines);
  o.ended = read == rows && JPEGDFinishImage(s);
  o.failed = JPEGDFilterFailed(s);
  o.message = JPEGLastErrorMessage();
  JPEGDClose(s);
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > 64 * 1024) return 0;
  fuzz::Params params(data, size);
  const uint8_t pattern = params.Byte();
  const uint8_t mode = params.Byte();
  size_t at = 0, runBytes = 0;
  uint8_t value = 0;
  if (mode & kRunFlag) {
    at = params.U16();
    runBytes = (size_t{params.Byte()} + 1) * 512;
    value = params.Byte();
  }
  std::vector<uint8_t> jpeg = params.Bytes();
  if (runBytes > 0) jpeg.insert(jpeg.begin() + static_cast<long>(at % (jpeg.size() + 1)), runBytes, value);
  const Outcome serial = Decode(jpeg, pattern, 0);
  const Outcome parallel = Decode(jpeg, pattern, kThreads[mode & 3]);
  FUZZ_CHECK(serial.Key() == parallel.Key());
  return 0;
}
