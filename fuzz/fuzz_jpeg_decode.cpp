// fuzz_jpeg_decode.cpp - libFuzzer target for the JPEG decode filter.
//
// Input: one byte choosing how the memory source cuts the rest into refill
// pieces (and whether a width hint is passed), then the JPEG bytes. Every
// line of every accepted image is read byte by byte, so a line that points
// outside its buffer shows up under ASan.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"

namespace {

constexpr uint8_t kWidthHintFlag = 0x40;  // pattern bit: pass a width hint to the open

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 64 * 1024) return 0;
  const int16_t hint = static_cast<int16_t>(data[0] & kWidthHintFlag ? 100 : 0);
  fuzz::DecodeEveryLine(data + 1, size - 1, data[0], hint, int64_t{4} << 20);
  return 0;
}
