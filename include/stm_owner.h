/* stm_owner.h - ready-made pieces of the buffer procedures written by the
 * owner of a bottom Stm, the stream a filter stack reads from or writes to
 * (stm.h states the contract every procedure follows).
 *
 * A source of compressed data for the JPEG decode filter must store one
 * STM_GUARD_BYTE right after the valid bytes of its buffer on every refill
 * (the decoder's bit reader runs over a 0xFF without testing the count on
 * every byte, and tells the guard from a real 0xFF by the count), so its
 * buffer holds bufSize + 1 bytes. A fill procedure reads up to bufSize bytes
 * to base and ends with StmRefillWithGuard:
 *
 *   static int16_t FileFill(Stm* s) {
 *     if (s->eof || s->error) return -1;
 *     return StmRefillWithGuard(s, fread(s->base, 1, s->bufSize, (FILE*)s->procData));
 *   }
 *
 * A stream used in one direction only answers the other direction's
 * procedure with StmRefuseFlush or StmRefuseFill. */
#ifndef JPEG_STM_OWNER_H
#define JPEG_STM_OWNER_H

#include <stddef.h>
#include "stm.h"

JPEG_EXTERN_C_BEGIN

/* The byte a source stores after the valid bytes of every refill. */
#define STM_GUARD_BYTE 0xFF

/* The end of a refill whose `got` bytes already stand at s->base: stores
 * STM_GUARD_BYTE at base[got], points ptr past the first byte, leaves count
 * at the bytes after it and returns the first byte. got == 0 is the end of
 * the data: eof set, count 0, answer -1 (the guard byte is stored all the
 * same). got is at most bufSize and at most 32768, since count is a signed
 * 16-bit field. */
JPEG_API int16_t StmRefillWithGuard(Stm* s, size_t got);

/* The flush procedure of a read-only stream and the fill procedure of a
 * write-only one: a write into a source, or a read from a sink, fails the
 * stream (error set, count 0, answer -1). */
JPEG_API int16_t StmRefuseFlush(int16_t c, Stm* s);
JPEG_API int16_t StmRefuseFill(Stm* s);

JPEG_EXTERN_C_END

#endif
