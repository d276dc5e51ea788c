// fuzz_jpeg_decode.cpp - libFuzzer target for the JPEG decode filter.
//
// Input: one byte choosing how the memory source cuts the rest into refill
// pieces (fuzz_memory_source.h), then the JPEG bytes. Every line of every
// accepted image is read.
#include "fuzz_memory_source.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;
constexpr int64_t kMaxSamples = 4 * 1024 * 1024;  // Columns x Rows x colours
constexpr uint8_t kWidthHintFlag = 0x40;          // pattern bit: pass a width hint to the open

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxInput) return 0;
  fuzz_source::FuzzSource src{};
  fuzz_source::InitSource(&src, data + 1, size - 1, data[0]);
  fuzz_source::DecodeEveryLine(&src, static_cast<int16_t>(data[0] & kWidthHintFlag ? 100 : 0), kMaxSamples);
  return 0;
}
