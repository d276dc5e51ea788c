// decoder.h - the decoder's internal procedures, from JPEG bytes to raster lines.
//
// The decode filter (jpeg_decode_filter.cpp) calls DCTDFilBuf once per line
// (marker_parser.cpp): it parses the header through SOS, sets up the scan,
// has the scan's entropy decoder (entropy_decoder.h: huffman_sequential.cpp,
// huffman_progressive.cpp) decode one strip of MCUs through the entropy
// input (compressed_input.cpp) and the inverse DCT (inverse_dct.cpp),
// and hands the strip out line by line through the output stage
// (raster_output.cpp). Images coded in several scans (sequential ones whose
// first scan leaves components out, and progressive ones) are first decoded
// whole into a coefficient store (coefficient_store.cpp), from which the strips are
// then made.
//
// Glossary of the fixed names below (the decoder's procedures keep the names
// the rest of the system knows them by):
//   DCTDinit_sgetv     sets up the entropy input: the bit reader over the source
//   DCTDpremdusget     reads what follows a 0xFF in coded data: a stuffed 0,
//                      fill bytes, or a marker, which it pushes back
//   DCTDmake_huffdec   builds a decode table (with its combined look-up) from
//                      a DHT segment's counts and values
//   DCTDQScale         the inverse DCT's per-coefficient scale, zigzag order;
//   DCTDScaleQT        a quantization table multiplied by it
//   DCTrev_transform   dequantized block to 8x8 samples (the inverse DCT)
//   DCTDInitCT         builds the output stage's two colour-conversion tables
//   DCTPutNCLine       writes one output raster line into lineBuffer from the
//                      decoded strip (upsampled, interleaved, converted)
#ifndef JPEG_DECODE_DECODER_H
#define JPEG_DECODE_DECODER_H

#include <cstdint>

#include "codec/codec_state.h"

// --- entropy input (compressed_input.cpp) -------------------------------------------
void DCTDinit_sgetv(DCTState* state);
int32_t DCTDReadByte(DCTState* state);
int32_t DCTDReadWord(DCTState* state);
int32_t DCTDNextMarker(DCTState* state);
int32_t DCTDpremdusget(DCTState* state, int32_t slack);
[[noreturn]] void DCTDBadCodeError(DCTState* state);
// The truncation error for the marker code (or -1, end of data) that ended
// the entropy-coded data where bits were needed.
[[noreturn]] void DCTDTruncateError(DCTState* state, int32_t code);
void DCTDmake_huffdec(DCTState* state, DCTDHuffTable* table, int32_t isAC);
// The check of an AC table's values for a sequential scan that uses it: a
// table read before the frame header may hold end-of-band runs, which only
// progressive scans code.
void DCTDCheckSequentialACTable(const DCTDHuffTable* table);
// Internal to the decoder. Segment bodies as blocks: false (read) or the
// "Source EOF during marker" error (skip) at end of data.
bool DCTDReadSegmentBytes(DCTState* state, uint8_t* dst, int32_t n);
void DCTDSkipSegmentBytes(DCTState* state, int32_t n);
// The bit reader's slow byte fetch, with the reader state synced into the
// state and source: called when nextByte is 0xFF (stuffed, marker or guard)
// or end of data. Returns the byte to append, or -1 when a marker or the end
// of data stands there (raising the truncation error when slack < 0).
int32_t DCTDFetchByteSlow(DCTState* state, int32_t slack);
// After an image: skips what DCTDNextMarker would skip silently and tells
// whether the data ends before any marker code (true), leaving the marker
// for DCTDNextMarker otherwise.
bool DCTDEndOfDataAhead(DCTState* state);
// Makes every Huffman table of the state decode as a bad code until a DHT
// segment defines it.
void DCTDInitHuffTables(DCTState* state);

// --- dequantization and inverse DCT (inverse_dct.cpp) ----------------------------
extern const uint32_t DCTDQScale[64];  // zigzag order
void DCTDScaleQT(DCTState* state, int32_t* table, int32_t index);
void DCTrev_transform(DCTState* state, int32_t* block, uint8_t* out, int32_t lastCol,
                      int32_t lastRow, const DCTComponent* comp);

// --- scaled decoding (scaled_idct.cpp) ---------------------------------------------
// Keeps the frame's size in frameColumns / frameRows and, when the state's
// scaleDenominator d is above 1, reduces Columns and Rows to the output's
// ceil(size / d); called once per image, before the geometry is set up.
void DCTDScaleGeometry(DCTState* state);
// Where a block of a reduced image goes: `out` addresses the block on the
// full-size grid of comp's strip (8 samples per block, 8 rows per block
// row), as the entropy decoders and the coefficient store address it at
// every scale; the answer is its place in the reduced strip, whose blocks
// have `side` samples a side (DCTComponentSide).
uint8_t* DCTDScaledPlace(uint8_t* out, const DCTComponent* comp, int32_t side);
// DCTrev_transform for a block of side 4, 2 or 1: its side x side samples
// at `out` (its place in the strip, rows `stride` bytes apart), each the
// mean of the samples of the full-size transform it stands for.
void DCTDScaledTransform(const int32_t* block, uint8_t* out, int32_t lastCol, int32_t lastRow,
                         int32_t stride, int32_t side);

// --- entropy decoding (entropy_decoder.h) --------------------------------------
// One strip of an image coded in one interleaved scan, through the scan's
// entropy decoder: Huffman-decoded, dequantized, inverse-transformed into
// the component strips (entropy_decoder.cpp). The interface the sequential
// and progressive Huffman decoders implement, and where an arithmetic
// decoder would go, is in entropy_decoder.h.
void DCTDdecodeStrip(DCTState* state);

// --- whole-image coefficients of multi-scan images (coefficient_store.cpp) -------------
// Creates the store after the first scan of a multi-scan image has set the
// frame's geometry and strip memory; nothing of the grid is allocated yet.
void DCTDBeginCoefImage(DCTState* state);
// Checks the layout of the scan just read (state->scan) against what earlier
// scans coded, latches the quantizers of newly coded components, and resets
// the DC predictors and the restart count.
void DCTDBeginCoefScan(DCTState* state);
// Decodes every MCU of the current scan into the store.
void DCTDdecodeCoefScan(DCTState* state);
// True when every frame component has been coded.
bool DCTDCoefImageComplete(const DCTState* state);
// The error for an EOI that came before every frame component was coded.
[[noreturn]] void DCTDFailUncoded(const DCTState* state);
// Block row `by` of frame component f of the store: blocks of 64 coefficients
// in natural order, mcusPerRow x H of them (a lone component: its strip's);
// null for a row no scan reached (all zero).
const int16_t* DCTDCoefRow(const DCTState* state, int32_t f, int32_t by);
// Dequantizes and inverse-transforms the store's blocks of the strip that
// begins at line linesEmitted into the component strips.
void DCTDCoefsToStrip(DCTState* state);

// --- output strips (raster_output.cpp) --------------------------------------------
void DCTDInitCT(DCTState* state);
// The row of a component strip (v block rows high) that raster line
// (blockLine, subLine) of the strip reads: vertical upsampling.
int32_t DCTStripRowOfLine(int32_t blockLine, int32_t subLine, int32_t maxV, int32_t v);
void DCTPutNCLine(DCTState* state, int32_t blockLine, int32_t subLine);
// Rewrites the three samples before pixelEnd from colour-conversion results
// that left 0..255, clamped.
void DCTDClampPixel(int32_t r, int32_t g, int32_t b, uint8_t* pixelEnd);

// --- marker parser and the per-line driver (marker_parser.cpp) -------------------
int32_t DCTDFilBuf(DCTState* state);
void DCTDReadHeaders(DCTState* state);
// Reads a whole image into the coefficient store (every scan, whatever the
// image's kind) and stops there, the store kept whole for the transcoder
// (DCTDCoefRow); the lines are never made.
void DCTDReadCoefficients(DCTState* state);
// True once DCTDFilBuf has reached the end of the image cleanly (EOI, or the
// end of the data right after a complete image).
bool DCTDImageEnded(const DCTState* state);
// True when every line of the image has been handed out.
bool DCTDEveryLineEmitted(const DCTState* state);

// The decode filter's open with a hook, JPEGDOpenHooked, and its queries for
// the layers above: decode/jpeg_filter_query.h.

// --- strips decoded on worker threads (parallel_decode.cpp; parallel/strip_jobs.h
// states the scheme) ------------------------------------------------------------------
// Fills the component strips with the next strip decoded by a worker; false
// when no worker strip is at hand, and the caller decodes it itself.
bool DCTDParallelStrip(DCTState* state);
// Points the line buffer at the next raster line of a strip a worker made
// (the line stays in the job until the next strip is under way); false when
// the strip was decoded on the filter's thread.
bool DCTDParallelLine(DCTState* state);
// Frees the source that hands read-ahead bytes back to the serial decoder.
void DCTDFreeReplaySource(DCTState* state);
// Frees a decode filter's context: its replay source, then what
// DCTReleaseFilter frees.
void DCTDReleaseFilter(JPEGFilterContext* ctx);

#endif
