// fuzz_parallel_decode.cpp - libFuzzer target for the decode filter with
// worker threads, against the same filter without them.
//
// Input: one byte choosing the refill pieces of the memory source (as in
// fuzz_jpeg_decode) and, in its top bit, two or three workers; then the
// JPEG bytes. The image is decoded twice, on the caller's thread alone and
// with workers from the first strip on; the lines handed out, the verdict
// and the message must be the same, whatever the bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

constexpr int64_t kMaxSamples = int64_t{2} << 20;
constexpr uint8_t kThreeWorkersFlag = 0x80;

struct Outcome {
  bool opened = false;
  bool ended = false;  // every line, then the clean end
  std::string message;
  std::vector<std::vector<uint8_t>> lines;
};

Outcome Decode(const uint8_t* data, size_t size, uint8_t pattern, int threads) {
  Outcome o;
  fuzz::MemorySource src;
  fuzz::InitSource(&src, data, size, 4096, pattern);
  int16_t width = 0, height = 0, colorCode = -1;
  Stm* s = JPEGDOpen(&src.stm, &width, &height, &colorCode);
  if (s == nullptr) return o;
  o.opened = true;
  if (threads != 0) FUZZ_CHECK(JPEGSetCodingThreads(s, threads) == threads);
  const int64_t rows = static_cast<uint16_t>(height);
  const int64_t read = fuzz::ReadLines(s, rows, JPEGDLineBytes(s), kMaxSamples, &o.lines);
  o.ended = read == rows && JPEGDFilBuf(s) == -1 && !s->error;
  if (s->error) o.message = JPEGLastErrorMessage();
  JPEGDClose(s);
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 64 * 1024) return 0;
  const uint8_t pattern = data[0];
  const int threads = pattern & kThreeWorkersFlag ? 3 : 2;
  const Outcome serial = Decode(data + 1, size - 1, pattern, 0);
  const Outcome parallel = Decode(data + 1, size - 1, pattern, threads);
  FUZZ_CHECK(serial.opened == parallel.opened);
  FUZZ_CHECK(serial.ended == parallel.ended);
  FUZZ_CHECK(serial.message == parallel.message);
  FUZZ_CHECK(serial.lines == parallel.lines);
  return 0;
}
