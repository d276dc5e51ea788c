// fuzz_jpeg_decode.cpp - libFuzzer target for the JPEG decode filter.
//
// Input: one byte choosing how the memory source cuts the rest into refill
// pieces (and whether a width hint is passed), then the JPEG bytes. Every
// line of every accepted image is read byte by byte, so a line that points
// outside its buffer shows up under ASan.
#include <cstddef>
#include <cstdint>

#include "fuzz_support.h"
#include "host/host_internal.h"
#include "jpeg_filters.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 64 * 1024) return 0;
  fuzz::MemorySource src;
  fuzz::InitSource(&src, data + 1, size - 1, 4096, data[0]);
  int16_t width = static_cast<int16_t>(data[0] & 0x40 ? 100 : 0), height = 0, colorCode = -1;
  Stm* s = JPEGDOpen(&src.stm, &width, &height, &colorCode);
  if (s == nullptr) return 0;
  const int64_t rows = static_cast<uint16_t>(height);
  if (fuzz::ReadLines(s, rows, DecodedLineBytes(s), int64_t{4} << 20) == rows) JPEGDFilBuf(s);
  JPEGDClose(s);
  return 0;
}
