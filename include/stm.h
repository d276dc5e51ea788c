/* stm.h - the byte-stream record every filter and adapter of the library
 * uses, its buffered byte I/O, the library's error path and the 18-byte
 * raster header helpers.
 *
 * A Stm is a buffer plus two owner-supplied procedures: filBuf refills the
 * buffer when a reader runs it dry, flsBuf empties it when a writer fills it.
 * Filters embed a Stm in their context and point procData back at it, so
 * streams stack: JPEG encode over ASCII85 encode over a host stream, and the
 * reverse for reading. Byte values travel as 16-bit signed numbers, 0..255
 * for data and -1 for end of data or failure.
 *
 * Procedure contract (every owner honours it):
 *  - filBuf(s): refill; return the first byte with ptr just past it and count
 *    the bytes after it, or -1 at end of data (eof set) or failure (error set).
 *  - flsBuf(c, s): dispose of the full buffer, start an empty one, store c as
 *    its first byte and return c; with c = -1 set eof, leave count 0 and
 *    return -1; return -1 if the bytes cannot be taken.
 *  - A stream that supplies compressed bytes to the JPEG decoder stores one
 *    0xFF guard byte right after the valid bytes of its buffer on every refill.
 *  - The JPEG decode filter's filBuf is the one exception: its clients call it
 *    directly, and it answers 0 with the next raster line at base (or, for a
 *    line of more than 32767 bytes, the next piece of it: jpeg_filters.h),
 *    consuming nothing, or -1 at the end of the image or on failure.
 *
 * count and bufSize are 16-bit, so a buffer holds at most 32767 bytes; the
 * JPEG filters pass wider raster lines through in pieces (jpeg_filters.h).
 *
 * The record layout is part of the library's binary interface: a C program
 * with its own copy of this record works with jpeg.so.
 *
 * Names (fixed by that interface):
 *   filBuf, flsBuf          fill a reader's buffer, flush a writer's
 *   procData                the owner's pointer back to its context
 *   os_fgetc, os_fputc      one byte in / out, as the C library's fgetc/fputc
 *   StmFRead, StmFWrite     blocks of items, as fread/fwrite
 *   DCTStmErr0/1/2          raise a failure with a text and 0, 1 or 2 numbers
 *   gJPEGError              the sticky failure flag (below)
 *   scd, os_eprint1         kept for old callers: scd answers 0, os_eprint1
 *                           prints nothing
 *   report_open_failure     raises "fopen failure for file %s"
 *   vs_init_in, vs_init_out read / write the 18-byte raster header (below) */
#ifndef JPEG_STM_H
#define JPEG_STM_H

#include <stdint.h>
#include "jpeg_export.h"

JPEG_EXTERN_C_BEGIN

typedef struct Stm Stm;
typedef int16_t (*StmFlsBufProc)(int16_t c, Stm* s);
typedef int16_t (*StmFilBufProc)(Stm* s);

struct Stm {
  uint8_t eof;          /* end of data reached (reading) or signalled (writing -1) */
  uint8_t error;        /* the stream has failed; never cleared by the byte I/O */
  int16_t count;        /* reading: unread bytes; writing: free bytes; < 0 when exhausted */
  uint8_t* ptr;         /* next byte to read or write */
  uint8_t* base;        /* start of the buffer */
  void* procData;       /* owner's private pointer */
  uint16_t bufSize;     /* buffer capacity in bytes */
  uint16_t reserved;    /* 0; not read */
  StmFlsBufProc flsBuf; /* write side */
  StmFilBufProc filBuf; /* read side */
};

/* Opaque to callers: the codec state of a JPEG filter (vs_init_in fills it). */
typedef struct DCTState DCTState;

JPEG_API uint32_t StmFRead(void* dst, uint32_t size, uint32_t nitems, Stm* s);
JPEG_API uint32_t StmFWrite(const void* src, uint32_t size, uint32_t nitems, Stm* s);
JPEG_API int16_t os_fgetc(Stm* s);
JPEG_API int16_t os_fputc(int16_t c, Stm* s);
JPEG_API int16_t StmUnGetc(int16_t c, Stm* s);

/* The error path. A JPEG filter entry arms the jump; code below it raises
 * with one of these, which format the message into the 256-byte buffer of the
 * filter and jump back to the entry. They never return.
 *
 * Threads: any number of filters and host streams may work at once, one per
 * thread or several interleaved on one thread. The jump, the message pointer
 * and the last message are per thread; a failure lands only in the entry of
 * its own filter. */
#if defined(__cplusplus)
#define JPEG_NORETURN [[noreturn]]
#elif defined(__GNUC__)
#define JPEG_NORETURN __attribute__((noreturn))
#else
#define JPEG_NORETURN
#endif
JPEG_NORETURN JPEG_API void DCTStmErr0(const char* msg);
JPEG_NORETURN JPEG_API void DCTStmErr1(const char* fmt, int32_t a);
JPEG_NORETURN JPEG_API void DCTStmErr2(const char* fmt, int32_t a, int32_t b);

/* Called by a filter entry when an error has landed at its armed point:
 * sets gJPEGError and keeps a copy of the message for the calling thread
 * (JPEGLastErrorMessage). */
JPEG_API void JPEGErrorMessage(const char* msg);
/* A process-wide, sticky flag: set to 1 by a codec failure on any thread and
 * cleared only by hosts (and by the host streams of jpeg_stream.h when they
 * start). A single-threaded host may clear it before a call and test it after.
 * It cannot say which thread or filter failed, so threaded hosts must not
 * decide by it: they use each call's own result (a null open, -1 from a fill,
 * the stream's error flag, a HostFailure) and JPEGLastErrorMessage(). The
 * library stores it atomically; a host that reads it while other threads use
 * the library should read it atomically too (__atomic_load_n). */
JPEG_API extern uint8_t gJPEGError;
/* The most recent codec message passed to JPEGErrorMessage on the calling
 * thread ("" if none there yet). The text stays valid until the thread's
 * next failure; other threads' failures never change it. */
JPEG_API const char* JPEGLastErrorMessage(void);

JPEG_API int32_t scd(void);
JPEG_NORETURN JPEG_API void report_open_failure(const char* name);
JPEG_API void os_eprint1(const char* fmt, ...);

/* 18-byte raster header (the uncompressed TGA header layout, little-endian).
 * Both live with the codec (codec/raster_header.cpp), not with the byte
 * I/O, because vs_init_in fills a codec state; they stay exported here as
 * they always were. */
JPEG_API int32_t vs_init_in(DCTState* state, Stm* in, int32_t extra);
JPEG_API int32_t vs_init_out(Stm* out, int32_t kind, int32_t width, int32_t height,
                             int32_t colors);

JPEG_EXTERN_C_END

#endif
