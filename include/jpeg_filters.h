/* jpeg_filters.h - the JPEG encode and decode filters.
 *
 * Encode filter: JPEGOpen(target, params) returns a Stm into which the caller
 * writes exactly Rows raster lines of Columns x Colors interleaved 8-bit
 * samples (StmFWrite, os_fputc); the filter writes a complete baseline JPEG
 * stream into target. JPEGClose finishes it. The filter's buffer is one
 * raster line; a line is coded when the first byte of the next one arrives
 * (or at close). Failures: a null open, the stream's error flag, gJPEGError,
 * and the text in the context's message buffer.
 *
 * Decode filter: JPEGDOpen(source, &width, &height, &colorCode) parses the
 * header and decodes the first line; every JPEGDFilBuf call then makes the
 * next raster line available at the stream's base (answer 0) or reports the
 * end of the image or a failure (answer -1). JPEGDClose frees the filter.
 *
 * Any number of filters may be open at once, on any threads; each filter is
 * used by one thread at a time. The threading rules of the error path and of
 * gJPEGError are in stm.h. */
#ifndef JPEG_FILTERS_H
#define JPEG_FILTERS_H

#include "stm.h"

JPEG_EXTERN_C_BEGIN

/* The context of one open JPEG filter, encode or decode. */
typedef struct JPEGFilterContext {
  Stm* target;       /* encode: receives the compressed bytes; decode: supplies them */
  Stm stm;           /* the filter's own stream; its address is what the open returns */
  DCTState* state;   /* codec state, owned by the filter */
  char message[256]; /* the filter's message buffer */
} JPEGFilterContext;

/* Parameters of the encode filter. JPEGOpen writes QFactor (negative values
 * become 0.0), ColorTransform and, in marker mode 2, subsample back. */
typedef struct JPEGEncodeParams {
  double QFactor;           /* scale of the built-in quantization tables */
  uint8_t subsample;        /* non-zero: component 0 (and 3) sampled 2x2 */
  uint8_t blend;            /* average chroma when downsampling */
  uint8_t reserved;         /* not read */
  uint8_t ColorTransform;   /* overwritten from markerMode */
  uint16_t densityUnits;    /* JFIF units (low 8 bits written) */
  uint16_t xDensity;        /* JFIF horizontal density */
  uint16_t yDensity;        /* JFIF vertical density */
  int32_t Columns;          /* width in pixels */
  int32_t Rows;             /* height in lines */
  int16_t Colors;           /* components per pixel, 1..4 */
  int16_t markerMode;       /* 1: no JFIF APP0; 2: APP0, no transform, no subsampling; else APP0 + transform */
  uint8_t** markerData;     /* ready-made marker segments written right after SOI (and APP0) */
  int32_t markerDataLength; /* bytes of *markerData; 0 = none */
} JPEGEncodeParams;

JPEG_API Stm* JPEGOpen(Stm* target, JPEGEncodeParams* params);
JPEG_API int16_t JPEGEFlsBuf(int16_t c, Stm* s);
JPEG_API void JPEGClose(Stm* s);

/* colorCode: 0 three components, 1 four, 2 one (unchanged for two). */
JPEG_API Stm* JPEGDOpen(Stm* source, int16_t* width, int16_t* height, int16_t* colorCode);
JPEG_API int16_t JPEGDFilBuf(Stm* s);
JPEG_API void JPEGDClose(Stm* s);

JPEG_EXTERN_C_END

#endif
