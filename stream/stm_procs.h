// stm_procs.h - ready-made pieces of the buffer procedures that stream
// owners write (stm.h states the contract they follow).
//
// Every source of compressed data refills the same way: it puts up to a
// buffer's worth of bytes at `base`, stores one 0xFF guard byte right after
// them (the decoder's bit reader runs over a 0xFF without testing the count
// on every byte, and tells the guard from a real 0xFF by the count), then
// hands out the first byte. And every one-directional stream answers the
// other direction's procedure with a refusal. The host streams, the
// thumbnail interface, jpegtool's file streams and the tests' memory streams
// all use these instead of their own copies.
//
// Internal to the library and its tools (not exported from jpeg.so).
#ifndef JPEG_STREAM_STM_PROCS_H
#define JPEG_STREAM_STM_PROCS_H

#include <cstddef>

#include "stm.h"

// The guard byte a source stores after the valid bytes of every refill.
constexpr uint8_t kStmGuardByte = 0xFF;

// The end of a refill whose `got` bytes already stand at s->base: stores the
// guard byte at base[got] (the buffer has room for bufSize + 1 bytes), points
// ptr past the first byte, leaves count at the bytes after it and returns the
// first byte. got == 0 is the end of the data: eof set, count 0, answer -1
// (the guard byte is stored all the same). got is at most bufSize and at most
// 32768, since count is a signed 16-bit field.
int16_t StmRefillWithGuard(Stm* s, size_t got);

// The flush procedure of a read-only stream and the fill procedure of a
// write-only one: a write into a source, or a read from a sink, fails the
// stream (error set, count 0, answer -1).
int16_t StmRefuseFlush(int16_t c, Stm* s);
int16_t StmRefuseFill(Stm* s);

#endif
