// stm_inline.h - the per-byte hot path of the Stm layer, inline.
//
// The entropy coder, the decoder's segment reader and the ASCII85 filters
// move most bytes one at a time; these inline forms cost a test, a store and
// a pointer step per byte, with the owner's procedure called once per buffer.
// The exported os_fgetc/os_fputc are the same code behind a call.
//
// `count` is a 16-bit field. A procedure that refuses bytes may leave it
// exhausted; we park it at -1 before calling the procedure instead of letting
// each further call drive it lower, so it can never wrap to a large positive
// value and open the buffer to writes past its end.
#ifndef JPEG_STREAM_STM_INLINE_H
#define JPEG_STREAM_STM_INLINE_H

#include "stm.h"

static inline int16_t StmGetByte(Stm* s) {
  if (s->count > 0) {
    s->count--;
    return *s->ptr++;
  }
  s->count = -1;
  return s->filBuf(s);
}

static inline int16_t StmPutByte(int16_t c, Stm* s) {
  const uint8_t byte = static_cast<uint8_t>(c);
  if (s->count > 0) {
    s->count--;
    *s->ptr++ = byte;
    return byte;
  }
  s->count = -1;
  return s->flsBuf(byte, s);
}

// The second half of every flush procedure: the buffer, emptied by the
// owner, takes c as its first byte; c = -1 instead marks the end of the data
// (eof set, count 0). Returns c.
static inline int16_t StmRestartWrite(int16_t c, Stm* s) {
  s->ptr = s->base;
  s->count = static_cast<int16_t>(s->bufSize);
  if (c == -1) {
    s->eof = 1;
    s->count = 0;
    return -1;
  }
  s->count--;
  *s->ptr++ = static_cast<uint8_t>(c);
  return c;
}

#endif
