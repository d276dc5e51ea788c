/* jpeg_oneshot.h - JPEG data held in memory, one call at a time: read its
 * header, decode it into a raster, encode a raster into it.
 *
 * Each call is complete in itself: it opens the filters of jpeg_filters.h
 * and jpeg_options.h on the caller's memory, runs them to the end and closes
 * them. Nothing is kept between calls and no call touches another's state,
 * so any number of calls may run at once on any threads. gJPEGError is left
 * to the filters (a failing call sets it, as they do); the call's own answer
 * and its result record are what tell success from failure.
 *
 * Every call answers a status (JPEG_MEM_OK, or one of the failures below)
 * and, when `result` is not null, fills *result: the same status and, on a
 * failure, one line saying why in result->message ("" on success). The text
 * is the call's own, written into the caller's record, never a global.
 *
 * Rasters: lines top first, each `width` pixels of `components` interleaved
 * 8-bit samples (1 grey, 2 two components, 3 RGB, 4 CMYK with 0 = no ink),
 * `pitch` bytes from the start of one line to the start of the next (0:
 * width x components, the lines packed). A raster of `height` lines takes
 * pitch x (height - 1) + width x components bytes.
 *
 * Memory the library allocates (JPEGMemDecodeAlloc, JPEGMemEncodeAlloc)
 * belongs to the caller once the call succeeds, and is released with
 * JPEGMemFree; after a failure the pointer is null and nothing is held.
 * The caller's input is only read, and need only stay valid for the call. */
#ifndef JPEG_ONESHOT_H
#define JPEG_ONESHOT_H

#include <stddef.h>
#include <stdint.h>

#include "jpeg_export.h"

JPEG_EXTERN_C_BEGIN

/* Statuses. */
#define JPEG_MEM_OK 0
/* A null pointer where one is needed, a size or pitch that cannot be, a
 * quality outside 0..100, a scale other than 1, 2, 4 or 8, a negative
 * thread count, ill-formed segments to write. */
#define JPEG_MEM_BAD_ARGUMENT 1
/* The data is no JPEG, is damaged or cut short, or is of a kind the decoder
 * does not read (lossless, hierarchical, arithmetic-coded, 12-bit); the
 * message is the decoder's. */
#define JPEG_MEM_BAD_DATA 2
/* The codec refused the image or a choice: an image size or component count
 * it cannot code, sampling that needs the colour transform; the message is
 * the codec's. */
#define JPEG_MEM_REFUSED 3
/* The library could not allocate what the call needs. */
#define JPEG_MEM_NO_MEMORY 4
/* The caller's output buffer is too small: nothing usable is in it; the
 * size needed is given back (see each call). */
#define JPEG_MEM_TOO_SMALL 5
/* Writing the JPEG data failed inside the encoder (the message says why). */
#define JPEG_MEM_FAILED 6

typedef struct JPEGMemResult {
  int32_t status;    /* the call's answer */
  char message[256]; /* "" on success; otherwise why, one line */
} JPEGMemResult;

/* --- the header -------------------------------------------------------- */

/* Colour of the coded image, as the decoder reads it (the same rules). */
#define JPEG_MEM_COLOUR_UNKNOWN 0 /* a colour-transform value the decoder refuses, or over 4 components */
#define JPEG_MEM_COLOUR_GREY 1
#define JPEG_MEM_COLOUR_TWO 2   /* two components, decoded as they are */
#define JPEG_MEM_COLOUR_YCBCR 3 /* decoded to RGB */
#define JPEG_MEM_COLOUR_RGB 4   /* three components coded as RGB */
#define JPEG_MEM_COLOUR_CMYK 5
#define JPEG_MEM_COLOUR_YCCK 6 /* decoded to CMYK */
/* Four components stored with the ink inverted (255 = no ink), as other
 * programs store them under their colour segment; decoded to CMYK with
 * 0 = no ink like the others. */
#define JPEG_MEM_COLOUR_INVERTED_CMYK 7
#define JPEG_MEM_COLOUR_INVERTED_YCCK 8

/* Where one APPn or COM segment stands in the data. */
typedef struct JPEGMemSegment {
  size_t offset;   /* of the marker's 0xFF */
  uint16_t marker; /* 0xE0..0xEF (APP0..APP15) or 0xFE (COM) */
  uint16_t length; /* the length field: body bytes + 2; the body is at offset + 4 */
} JPEGMemSegment;

typedef struct JPEGMemHeader {
  int32_t width, height;   /* of the frame, 1..65535 (0 where the frame says 0) */
  int32_t components;      /* of the frame, 1..255 */
  int32_t colour;          /* JPEG_MEM_COLOUR_* */
  int32_t frameMarker;     /* 0xC0 baseline, 0xC1 extended, 0xC2 progressive (decoded); others are not */
  int32_t progressive;     /* 1 for a progressive frame (0xC2, 0xC6, 0xCA, 0xCE), else 0 */
  int32_t bitsPerSample;   /* 8 (decoded) or what the frame says */
  int32_t restartInterval; /* MCUs between restart markers before the first scan, 0 none */
  uint8_t samplingH[4];    /* horizontal and vertical sampling factors of */
  uint8_t samplingV[4];    /* the first four components (0 beyond `components`) */
  uint32_t segmentCount;   /* APPn and COM segments in the whole data (may exceed capacity) */
  int32_t endOfImage;      /* 1 when the walk reached the EOI marker */
} JPEGMemHeader;

/* Reads the header of the JPEG data at data[0..size) without decoding any
 * of its lines: everything up to the first scan, and the places of the APPn
 * and COM segments of the whole data (the walk passes over the
 * entropy-coded data of every scan to the EOI marker). The first `capacity`
 * segments, in data order, go into segments[] (null when capacity is 0);
 * header->segmentCount counts them all.
 * Fails (JPEG_MEM_BAD_DATA) when the data does not start with SOI, a segment
 * before the first scan runs past the end or has a length below 2, or no
 * frame header and scan header are found; the fields read before the
 * failure are filled (frameMarker tells the kind of a file cut short), the
 * rest are 0. After the first scan header the walk stops quietly at EOI, at
 * the end of the data or at a segment that runs past it (endOfImage 0).
 * JPEG_MEM_BAD_ARGUMENT: header null, data null with size > 0, segments
 * null with capacity > 0. */
JPEG_API int32_t JPEGMemReadHeader(const uint8_t* data, size_t size, JPEGMemHeader* header,
                                   JPEGMemSegment* segments, uint32_t capacity, JPEGMemResult* result);

/* --- decoding ------------------------------------------------------------ */

/* Decode choices; a null pointer, or a record of zeros, is full size on the
 * calling thread alone. */
typedef struct JPEGMemDecodeOptions {
  /* 1, 2, 4 or 8 (0 = 1): the image reduced by that factor, each side
   * rounded up (width = (header width + scale - 1) / scale). */
  int32_t scaleDenominator;
  /* Worker threads besides the caller's (JPEGSetCodingThreads); 0 or 1 none.
   * The lines are the same either way. */
  int32_t threads;
} JPEGMemDecodeOptions;

/* The decoded raster's shape. */
typedef struct JPEGMemImage {
  int32_t width, height; /* after scaling */
  int32_t components;    /* 1, 2, 3 (RGB) or 4 (CMYK, 0 = no ink) */
  size_t pitch;          /* bytes from one line to the next in the buffer */
} JPEGMemImage;

/* Decodes the JPEG data at data[0..size) into the caller's buffer of
 * `bufferBytes` bytes, line y at pixels + y * pitch (pitch 0: packed).
 * *image gets the shape (also on JPEG_MEM_TOO_SMALL, so a caller may ask
 * with a null buffer and 0 bytes first). The whole image must decode and
 * the data end cleanly after it (with EOI or simply at its end).
 * Fails: JPEG_MEM_BAD_ARGUMENT (data or image null, a pitch below a line,
 * a bad scale or thread count),
 * JPEG_MEM_BAD_DATA (the decoder's reason), JPEG_MEM_REFUSED (a scale the
 * decoder does not offer), JPEG_MEM_NO_MEMORY, JPEG_MEM_TOO_SMALL (buffer
 * null or shorter than the raster; nothing is written). After BAD_DATA the
 * lines decoded before the damage are in the buffer. */
JPEG_API int32_t JPEGMemDecode(const uint8_t* data, size_t size, const JPEGMemDecodeOptions* options,
                               uint8_t* pixels, size_t pitch, size_t bufferBytes, JPEGMemImage* image,
                               JPEGMemResult* result);

/* The same, into a packed raster the library allocates: *pixels (free it
 * with JPEGMemFree), *image its shape. On a failure *pixels is null. */
JPEG_API int32_t JPEGMemDecodeAlloc(const uint8_t* data, size_t size, const JPEGMemDecodeOptions* options,
                                    uint8_t** pixels, JPEGMemImage* image, JPEGMemResult* result);

/* --- encoding ------------------------------------------------------------ */

/* Encode choices; a null pointer, or a record of zeros, is quality 75, full
 * chroma, the built-in Huffman tables, a JFIF segment with a 1:1 aspect. */
typedef struct JPEGMemEncodeOptions {
  int32_t quality;  /* 1..100 on the familiar scale (JPEGQFactorForQuality); 0: see qFactor */
  double qFactor;   /* used when quality is 0 and qFactor > 0: the filters' QFactor (smaller is finer) */
  uint8_t lumaH;    /* sampling of component 0 (and 3) against the chroma, as JPEGEncodeOptions: */
  uint8_t lumaV;    /*   1x1, 2x1, 1x2, 2x2; 0x0 full chroma */
  uint8_t optimize;    /* non-zero: Huffman tables built for the image */
  uint8_t progressive; /* non-zero: progressive scans */
  int16_t markerMode;  /* JPEGEncodeParams.markerMode: 0 JFIF and colour transform, 1, 2, 3 (portable CMYK) */
  uint16_t densityUnits; /* JFIF density: 0 aspect ratio, 1 dots per inch, 2 per cm */
  uint16_t xDensity, yDensity; /* 0 and 0: 1 and 1 */
  /* Ready-made segments written after SOI (and the JFIF segment), as
   * JPEGEncodeParams.markerData: each the marker (0xFF, 0xE0..0xEF or 0xFE),
   * two length bytes (big-endian, counting themselves) and the body: EXIF,
   * ICC profile chunks, XMP, comments. Copied; may be null with 0 bytes. */
  const uint8_t* segments;
  size_t segmentBytes;
  int32_t threads; /* worker threads besides the caller's; 0 or 1 none; the bytes are the same */
} JPEGMemEncodeOptions;

/* Encodes the raster at pixels (width x height, 1..65535 each, `components`
 * 1..4, `pitch` as above) into the caller's buffer jpeg[0..capacity).
 * *jpegBytes gets the length of the JPEG data, and on JPEG_MEM_TOO_SMALL
 * the length it needs (the whole image is coded to learn it).
 * Fails: JPEG_MEM_BAD_ARGUMENT (pixels or jpegBytes null, a size outside
 * 1..65535, components outside 1..4, a pitch below a line, a quality
 * outside 0..100, a negative thread count, ill-formed segments),
 * JPEG_MEM_REFUSED (the encoder's reason: a sampling it cannot take, say
 * without the colour transform),
 * JPEG_MEM_NO_MEMORY, JPEG_MEM_TOO_SMALL, JPEG_MEM_FAILED (the output
 * could not be completed; the encoder's reason). *jpegBytes is 0 after
 * any failure but JPEG_MEM_TOO_SMALL. */
JPEG_API int32_t JPEGMemEncode(const uint8_t* pixels, int32_t width, int32_t height, int32_t components,
                               size_t pitch, const JPEGMemEncodeOptions* options, uint8_t* jpeg,
                               size_t capacity, size_t* jpegBytes, JPEGMemResult* result);

/* The same, into memory the library allocates: *jpeg (free it with
 * JPEGMemFree), *jpegBytes long. On a failure *jpeg is null. */
JPEG_API int32_t JPEGMemEncodeAlloc(const uint8_t* pixels, int32_t width, int32_t height, int32_t components,
                                    size_t pitch, const JPEGMemEncodeOptions* options, uint8_t** jpeg,
                                    size_t* jpegBytes, JPEGMemResult* result);

/* Releases memory the calls above allocated; null is ignored. */
JPEG_API void JPEGMemFree(void* memory);

JPEG_EXTERN_C_END

#endif
