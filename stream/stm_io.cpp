// stm_io.cpp - buffered byte I/O on a Stm: single bytes, runs of items, and
// pushing one byte back. The per-byte forms are the inline ones of
// stm_inline.h behind an exported call; the run forms copy one block per
// buffer and call the owner's procedure only when the buffer is exhausted;
// a run of whole lines may go to a line filter in place (line_transfer.h).
#include <cstring>

#include "stream/line_transfer.h"
#include "stream/stm_inline.h"

namespace {

// Number of items of `size` bytes that arrived complete when `remaining` of
// `total` bytes are missing.
uint32_t CompleteItems(uint32_t nitems, uint32_t size, uint64_t remaining) {
  const uint64_t missingItems = (remaining + size - 1) / size;
  return nitems - static_cast<uint32_t>(missingItems);
}

}  // namespace

extern "C" {

int16_t os_fgetc(Stm* s) { return StmGetByte(s); }

int16_t os_fputc(int16_t c, Stm* s) { return StmPutByte(c, s); }

uint32_t StmFRead(void* dst, uint32_t size, uint32_t nitems, Stm* s) {
  uint64_t remaining = static_cast<uint64_t>(size) * nitems;
  if (remaining == 0) return nitems;
  auto* out = static_cast<uint8_t*>(dst);
  while (remaining > 0) {
    if (s->count > 0) {
      uint64_t n = remaining < static_cast<uint64_t>(s->count) ? remaining : s->count;
      std::memcpy(out, s->ptr, n);
      out += n;
      s->ptr += n;
      s->count = static_cast<int16_t>(s->count - n);
      remaining -= n;
    } else {
      s->count = -1;  // exhausted; see stm_inline.h
      const int16_t c = s->filBuf(s);
      if (c < 0) break;
      *out++ = static_cast<uint8_t>(c);
      remaining--;
    }
  }
  return CompleteItems(nitems, size, remaining);
}

uint32_t StmFWrite(const void* src, uint32_t size, uint32_t nitems, Stm* s) {
  uint64_t remaining = static_cast<uint64_t>(size) * nitems;
  if (remaining == 0) return nitems;
  const auto* in = static_cast<const uint8_t*>(src);
  while (remaining > 0) {
    const uint64_t inPlace = StmWriteLinesInPlace(s, in, remaining);
    in += inPlace;
    remaining -= inPlace;
    if (remaining == 0) break;
    if (s->count > 0) {
      uint64_t n = remaining < static_cast<uint64_t>(s->count) ? remaining : s->count;
      std::memcpy(s->ptr, in, n);
      in += n;
      s->ptr += n;
      s->count = static_cast<int16_t>(s->count - n);
      remaining -= n;
    } else {
      s->count = -1;
      if (s->flsBuf(*in, s) < 0) break;
      in++;
      remaining--;
    }
  }
  return CompleteItems(nitems, size, remaining);
}

int16_t StmUnGetc(int16_t c, Stm* s) {
  if (c == -1) return -1;
  if (s->ptr > s->base) {
    *--s->ptr = static_cast<uint8_t>(c);
    s->count = static_cast<int16_t>(s->count < 0 ? 1 : s->count + 1);
    s->eof = 0;
    return c;
  }
  if (s->ptr == s->base && s->count == 0) {
    *s->base = static_cast<uint8_t>(c);
    s->count = 1;
    s->eof = 0;
    return c;
  }
  return -1;
}

}  // extern "C"
