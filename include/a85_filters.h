/* a85_filters.h - the ASCII85 encode and decode filters.
 *
 * Decode: A85DOpen(source, params) returns a Stm that delivers the bytes the
 * ASCII85 text read from source stands for (white space skipped, "z" for four
 * zero bytes, "~>" or the source's end closes the data). After every refill a
 * 0xFF byte stands right after the decoded bytes, so the JPEG decoder can read
 * through it. Malformed text ends the data: the bytes decoded so far are
 * delivered, then the stream reports end with its error flag set.
 *
 * Encode: A85EOpen(target, params) returns a Stm whose bytes are written to
 * target as ASCII85 text, a line feed before the group that follows column
 * 64. A85EClose writes the last partial group and "~>", frees the filter and
 * returns the number of line feeds written.
 *
 * The filters raise no errors; they report through the Stm flags and -1
 * results. params is not read. A null source or target is refused (null).
 *
 * Names: A85D / A85E open and close the decode / encode filter; Asc85DFilBuf
 * and Asc85EFlsBuf are their buffer procedures (fill a reader's buffer,
 * flush a writer's), Asc85EPutEOF writes the last group and "~>". */
#ifndef JPEG_A85_FILTERS_H
#define JPEG_A85_FILTERS_H

#include "stm.h"

JPEG_EXTERN_C_BEGIN

#define A85_BUFFER_SIZE 2048

/* The context of one open ASCII85 filter, encode or decode. */
typedef struct A85FilterContext {
  int32_t ended;     /* decode: the encoded data has ended */
  int32_t badData;   /* decode: it ended abnormally */
  Stm* below;        /* source (decode) or target (encode) */
  Stm stm;           /* the filter's own stream */
  void* table;       /* decode: the decode table; encode: the 16-bit column counter */
  int32_t lineCount; /* encode: line feeds written */
  uint8_t buffer[A85_BUFFER_SIZE + 4];
} A85FilterContext;

JPEG_API Stm* A85DOpen(Stm* source, void* params);
JPEG_API int16_t Asc85DFilBuf(Stm* s);
JPEG_API void A85DClose(Stm* s);

JPEG_API Stm* A85EOpen(Stm* target, void* params);
JPEG_API int16_t Asc85EFlsBuf(int16_t c, Stm* s);
JPEG_API int16_t Asc85EPutEOF(Stm* s);
JPEG_API int32_t A85EClose(Stm* s);

JPEG_EXTERN_C_END

#endif
