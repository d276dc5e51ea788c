/* jpeg_filters.h - the JPEG encode and decode filters.
 *
 * Raster lines and the 16-bit count: a Stm's count and bufSize cannot hold
 * more than 32767 bytes, so a line of more than 32767 bytes (8192 CMYK or
 * 10923 RGB pixels and wider) passes through a filter's buffer in
 * consecutive pieces: every piece but the last holds JPEG_LINE_PIECE_BYTES
 * (whole pixels: 32767, 32766, 32766 or 32764 bytes for 1..4 samples per
 * pixel), the last one the rest. A line that fits is one piece, the whole
 * line. Images are at most 65535 pixels wide.
 *
 * Encode filter: JPEGOpen(target, params) returns a Stm into which the caller
 * writes exactly Rows raster lines of Columns x Colors interleaved 8-bit
 * samples (StmFWrite, os_fputc); the filter writes a complete baseline JPEG
 * stream into target. JPEGClose finishes it. The filter's buffer is one
 * raster line, or for a wider line one piece of it: the filter gathers the
 * pieces into a whole line of its own, so a writer sees only a byte stream.
 * A line is coded when the first byte of the next one arrives (or at close).
 * Failures: a null open, the stream's error flag, gJPEGError, and the text in
 * the context's message buffer.
 *
 * Decode filter: JPEGDOpen(source, &width, &height, &colorCode) parses the
 * header and decodes the first line (width and height come back as 16-bit
 * numbers to be read unsigned: up to 65535); every JPEGDFilBuf call then
 * makes the next raster line available at the stream's base (answer 0) or
 * reports the end of the image or a failure (answer -1). A line of more
 * than 32767 bytes comes in consecutive pieces instead, one per call, each
 * at base: the pieces of a line, taken in order, are the line. count is the
 * smaller of bufSize (the width hint given to the open times the colours, at
 * most 32767) and the bytes at base. JPEGDClose frees the filter.
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
 * become 0.0), ColorTransform and, in marker mode 2 and the portable layout,
 * subsample back.
 *
 * markerMode 0 (or any value not named here): JFIF APP0 and the colour
 * transform. 1: no JFIF APP0. 2: no colour transform, no subsampling;
 * three components are written as RGB that other programs read as such
 * (component identifiers 'R', 'G', 'B', no JFIF APP0), other counts keep
 * the APP0. JPEG_MARKER_MODE_PORTABLE: four components as untransformed
 * CMYK the way other programs store it (ink inverted, 255 = no ink, under
 * the colour segment they look for; no JFIF APP0, no subsampling), which
 * they and this library's decoder read back as the CMYK given (0 = no
 * ink); one to three components as mode 0. */
#define JPEG_MARKER_MODE_PORTABLE 3
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
  int16_t markerMode;       /* 0, 1, 2 or JPEG_MARKER_MODE_PORTABLE: see above */
  uint8_t** markerData;     /* ready-made marker segments written right after SOI (and APP0) */
  int32_t markerDataLength; /* bytes of *markerData; 0 = none */
} JPEGEncodeParams;

/* Bytes of every piece but the last of a raster line of more than 32767
 * bytes, for pixels of `colors` samples: the most whole pixels that fit. */
#define JPEG_LINE_PIECE_BYTES(colors) (32767 - 32767 % (colors))

JPEG_API Stm* JPEGOpen(Stm* target, JPEGEncodeParams* params);
JPEG_API int16_t JPEGEFlsBuf(int16_t c, Stm* s);
JPEG_API void JPEGClose(Stm* s);

/* colorCode: 0 three components, 1 four, 2 one (unchanged for two). */
/* Opt-in coding on worker threads. Restart markers split the compressed
 * data into independent intervals; when each strip of MCUs (one MCU row, or
 * 8 x V lines of a one-component image) starts a new interval, as in every
 * file the encode filter writes, a filter can code several strips at once
 * on `threads` worker threads of its own, besides the caller's. Output bytes
 * and lines, and every failure and its message, are exactly those of the
 * filter without workers, damaged data included. Files whose strips do not
 * start intervals (or that have no restart markers, or several scans) are
 * coded as usual.
 * A failing target: the encode filter hands a run of coded strips to its
 * target only when its ring of strip jobs is full, at the image's end or at
 * a close that gives the image up. The bytes the target took and the
 * message are those of the filter without workers, but the failure shows
 * at a later call: the raster bytes taken before it are more, up to the
 * strips the ring holds. For one image and thread count that call is the
 * same from run to run.
 * Memory: the strips in flight (their raster lines, component strips and
 * the first 64 KB of their compressed bytes) hold at most 32 MB beyond what
 * the filter holds alone, or two strips where one strip needs more than
 * 16 MB; a decoder's strip whose compressed data is longer holds that too.
 * No more workers start than the image's strips and that memory keep busy.
 * Call it on an encode filter before its first byte, or on a decode filter
 * any time before the workers have started (they start at the next strip);
 * 0 or 1 means no workers. Answers the thread count taken (at most 64), or
 * -1 when the stream is no JPEG filter or it is too late. The workers stop
 * when the image is done or the filter is closed. */
JPEG_API int32_t JPEGSetCodingThreads(Stm* filter, int32_t threads);

JPEG_API Stm* JPEGDOpen(Stm* source, int16_t* width, int16_t* height, int16_t* colorCode);
JPEG_API int16_t JPEGDFilBuf(Stm* s);
JPEG_API void JPEGDClose(Stm* s);

JPEG_EXTERN_C_END

#endif
