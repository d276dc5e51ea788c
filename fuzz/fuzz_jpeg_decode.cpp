// fuzz_jpeg_decode.cpp - libFuzzer target for the JPEG decode filter.
//
// Input: one byte choosing how the memory source cuts the rest into refill
// pieces (the decoder must give the same result for any cut), then the
// JPEG bytes. Every line of every accepted image is read byte by byte, so a
// line that points outside its buffer shows up under ASan.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "jpeg_filters.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;
constexpr int64_t kMaxSamples = 4 * 1024 * 1024;  // Columns x Rows x colours

// A memory source that stores the 0xFF guard byte after every refill.
struct FuzzSource {
  Stm stm;
  const uint8_t* data;
  size_t size;
  size_t position;
  size_t pieces;
  uint8_t pattern;
  std::vector<uint8_t> buffer;
};

size_t PieceSize(FuzzSource* src) {
  const size_t k = src->pieces++;
  const uint8_t p = src->pattern;
  switch (p & 3) {
    case 0: return 4096;
    case 1: return (p >> 2) + 1;                    // fixed, 1..64
    case 2: return k % 2 ? (p >> 2) + 1 : 1;        // alternating with single bytes
    default: return 1 + (k * 2654435761u + p) % 97;  // scattered
  }
}

int16_t FuzzFill(Stm* s) {
  auto* src = static_cast<FuzzSource*>(s->procData);
  if (src->position >= src->size) {
    s->eof = 1;
    s->count = 0;
    return -1;
  }
  size_t n = PieceSize(src);
  if (n > src->size - src->position) n = src->size - src->position;
  std::memcpy(src->buffer.data(), src->data + src->position, n);
  src->buffer[n] = 0xFF;
  src->position += n;
  s->ptr = s->base = src->buffer.data();
  s->count = static_cast<int16_t>(n - 1);
  return *s->ptr++;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxInput) return 0;
  FuzzSource src{};
  src.data = data + 1;
  src.size = size - 1;
  src.pattern = data[0];
  src.buffer.assign(4096 + 1, 0);
  src.stm.procData = &src;
  src.stm.bufSize = 4096;
  src.stm.ptr = src.stm.base = src.buffer.data();
  src.stm.filBuf = &FuzzFill;
  int16_t width = static_cast<int16_t>(data[0] & 0x40 ? 100 : 0), height = 0, colorCode = -1;
  Stm* s = JPEGDOpen(&src.stm, &width, &height, &colorCode);
  if (s == nullptr) return 0;
  const int64_t columns = static_cast<uint16_t>(width), rows = static_cast<uint16_t>(height);
  const int64_t colors = colorCode == 0 ? 3 : colorCode == 1 ? 4 : colorCode == 2 ? 1 : 2;
  unsigned sum = 0;
  if (columns * rows * colors <= kMaxSamples) {
    // A line of more than 32767 bytes comes in pieces, one per fill.
    const int64_t lineBytes = columns * colors;
    const int64_t piece = lineBytes <= 32767 ? lineBytes : JPEG_LINE_PIECE_BYTES(colors);
    bool filled = true;
    for (int64_t y = 0; filled && y < rows; y++) {
      int64_t at = 0;
      do {
        filled = JPEGDFilBuf(s) == 0;
        const int64_t n = lineBytes - at < piece ? lineBytes - at : piece;
        for (int64_t x = 0; filled && x < n; x++) sum += s->base[x];
        at += n;
      } while (filled && at < lineBytes);
    }
    JPEGDFilBuf(s);
  }
  JPEGDClose(s);
  volatile unsigned sink = sum;
  (void)sink;
  return 0;
}
