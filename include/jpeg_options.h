/* jpeg_options.h - opt-in coding choices beyond the filters' open records:
 * quality on the familiar 1..100 scale, chroma sampling, Huffman tables
 * built for the image, progressive scans (encode) and scaled decoding.
 *
 * The open records of jpeg_filters.h keep their layout; these choices travel
 * in records of their own, given at open. A null options pointer, or a
 * record of zeros, opens exactly as JPEGOpen / JPEGDOpenWithSegments do, so
 * the bytes written and the lines read are those of the plain opens. New
 * fields are only ever appended; zero always means "as the plain open". */
#ifndef JPEG_OPTIONS_H
#define JPEG_OPTIONS_H

#include "jpeg_segments.h"

JPEG_EXTERN_C_BEGIN

/* The QFactor (JPEGEncodeParams.QFactor) whose files land near those of
 * other encoders at `quality` 1..100 (their size and fidelity at the same
 * number): 1.45 x S/100, S = 5000/quality below 50 and 200 - 2 x quality
 * from 50 up; values outside 1..100 are clamped. */
JPEG_API double JPEGQFactorForQuality(int32_t quality);

/* Encode choices. lumaH x lumaV is the sampling of component 0 (and of
 * component 3) against the two chroma components: 1x1 (4:4:4), 2x1
 * (4:2:2), 1x2 (4:4:0), 2x2 (4:2:0). Zero in both takes the sampling from
 * params->subsample as JPEGOpen does; one component is always coded 1x1.
 * params->blend chooses averaged (non-zero) or picked chroma samples. Sampling other than 1x1 needs the
 * colour transform (it is refused in marker mode 2 and the portable
 * layout). optimize: Huffman tables built for the image (two passes over
 * its coefficients) instead of the built-in ones. progressive: a
 * progressive frame (SOF2) with a scan script of spectral selection and
 * successive approximation; its tables are always built for the image. */
typedef struct JPEGEncodeOptions {
  uint8_t lumaH;       /* 0, 1 or 2 */
  uint8_t lumaV;       /* 0, 1 or 2 */
  uint8_t optimize;    /* non-zero: optimized Huffman tables */
  uint8_t progressive; /* non-zero: progressive scans */
} JPEGEncodeOptions;

/* JPEGOpen with options (null: exactly JPEGOpen). Refused options make the
 * open fail with the reason in gJPEGError / JPEGLastErrorMessage(). */
JPEG_API Stm* JPEGOpenWithOptions(Stm* target, JPEGEncodeParams* params, const JPEGEncodeOptions* options);

/* Decode choices. scaleDenominator 1, 2, 4 or 8 (0 = 1; other values make
 * the open fail): the image comes out reduced by that factor, each
 * dimension rounded up, the reduction done inside the inverse transform (no
 * full-size decode). hook and hookData: as
 * JPEGDOpenWithSegments (jpeg_segments.h); null for none. width and height
 * come back as the scaled size. */
typedef struct JPEGDecodeOptions {
  int32_t scaleDenominator;
  JPEGSegmentHook hook;
  void* hookData;
} JPEGDecodeOptions;

/* JPEGDOpenWithSegments with options (null: exactly JPEGDOpen). */
JPEG_API Stm* JPEGDOpenWithOptions(Stm* source, const JPEGDecodeOptions* options, int16_t* width,
                                   int16_t* height, int16_t* colorCode);

JPEG_EXTERN_C_END

#endif
