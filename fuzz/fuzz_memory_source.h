// fuzz_memory_source.h - the memory source the JPEG decode fuzz targets feed
// the decode filter from, and the reading of every line it yields.
//
// The source stores the 0xFF guard byte after every refill, as every real
// source does, and cuts the input into refill pieces by a pattern byte (the
// decoder must give the same result for any cut). Every line of an accepted
// image is read byte by byte, so a line that points outside its buffer shows
// up under ASan.
#ifndef JPEG_FUZZ_FUZZ_MEMORY_SOURCE_H
#define JPEG_FUZZ_FUZZ_MEMORY_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "jpeg_filters.h"

namespace fuzz_source {

constexpr size_t kBufferBytes = 4096;

struct FuzzSource {
  Stm stm;
  const uint8_t* data;
  size_t size;
  size_t position;
  size_t pieces;
  uint8_t pattern;
  std::vector<uint8_t> buffer;
};

inline size_t PieceSize(FuzzSource* src) {
  const size_t k = src->pieces++;
  const uint8_t p = src->pattern;
  switch (p & 3) {
    case 0: return kBufferBytes;
    case 1: return (p >> 2) + 1;                    // fixed, 1..64
    case 2: return k % 2 ? (p >> 2) + 1 : 1;        // alternating with single bytes
    default: return 1 + (k * 2654435761u + p) % 97;  // scattered
  }
}

inline int16_t FuzzFill(Stm* s) {
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

inline void InitSource(FuzzSource* src, const uint8_t* data, size_t size, uint8_t pattern) {
  src->data = data;
  src->size = size;
  src->pattern = pattern;
  src->buffer.assign(kBufferBytes + 1, 0);
  src->stm.procData = src;
  src->stm.bufSize = kBufferBytes;
  src->stm.ptr = src->stm.base = src->buffer.data();
  src->stm.filBuf = &FuzzFill;
}

// Opens the decode filter on the source and reads every line of an image
// of at most maxSamples samples (Columns x Rows x colours), then the end.
inline void DecodeEveryLine(FuzzSource* src, int16_t widthHint, int64_t maxSamples) {
  int16_t width = widthHint, height = 0, colorCode = -1;
  Stm* s = JPEGDOpen(&src->stm, &width, &height, &colorCode);
  if (s == nullptr) return;
  const int64_t columns = static_cast<uint16_t>(width), rows = static_cast<uint16_t>(height);
  const int64_t colors = colorCode == 0 ? 3 : colorCode == 1 ? 4 : colorCode == 2 ? 1 : 2;
  unsigned sum = 0;
  if (columns * rows * colors <= maxSamples) {
    // A line of more than 32767 bytes comes in pieces, one per fill.
    const int64_t lineBytes = columns * colors;
    const int64_t piece = lineBytes <= 32767 ? lineBytes : JPEG_LINE_PIECE_BYTES(colors);
    bool filled = true;
    for (int64_t y = 0; filled && y < rows; y++) {
      for (int64_t at = 0; filled && at < lineBytes; at += piece) {
        filled = JPEGDFilBuf(s) == 0;
        const int64_t n = lineBytes - at < piece ? lineBytes - at : piece;
        for (int64_t x = 0; filled && x < n; x++) sum += s->base[x];
      }
    }
    JPEGDFilBuf(s);
  }
  JPEGDClose(s);
  volatile unsigned sink = sum;
  (void)sink;
}

}  // namespace fuzz_source

#endif
