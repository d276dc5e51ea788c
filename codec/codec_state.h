// codec_state.h - the codec state shared by the JPEG encoder and decoder.
//
// One DCTState per open JPEG filter, created zero-filled by DCTFirstInit.
// It holds the image parameters, the sampling geometry, four component
// records, the Huffman and quantization tables and the counters of the line
// and strip machinery. Fields marked enc or dec are used by one side only.
// The per-image working memory (quantization tables, component strips,
// colour tables, the raster line buffer) is one block, the strip memory,
// allocated once by DCTallocate when the geometry is known.
//
// Rule for every file under codec/, decode/, encode/ and parallel/ (but the
// worker pool, parallel/worker_pool.cpp): plain records and procedures, no object
// with a destructor, because errors leave through longjmp (error_path.h).
//
// Glossary. The record, field and procedure names here are fixed (tests,
// peers of the host code and the decoder use them); read them as:
//   DCT, DCTE, DCTD     prefixes: shared by both directions, encoder only
//                       (encode/encoder.h), decoder only (decode/decoder.h)
//   Colors, Columns, Rows, QFactor, ColorTransform
//                       the filter parameter words: components, width,
//                       height, quality factor, colour transform
//   hSamples, vSamples  a component's sampling factors H and V; maxHSamples,
//                       maxVSamples are Hmax and Vmax
//   hFastMode, vFastMode  which specialised line path applies (enums below)
//   fullRes             the component is sampled at Hmax x Vmax
//   lastBlockX, edgeSamples  where the real samples of a strip line end
//   stripBlockLine, stripSubLine  position of the next raster line in the
//                       strip: block row 0..7, line 0..Vmax-1 within it
//   encCTTable, decCTTable  colour-transform (CT) look-up tables
//   qTable, qThreshold  quantizer steps as coded (capped) and the encoder's
//                       uncapped dead-zone thresholds, zigzag order;
//                       qFactorFixed is QFactor in 16.16; maxQuantValue the
//                       largest step the quality factor allows
//   dcHuffTable, acHuffTable / huffDecDC, huffDecAC
//                       Huffman tables of the encoder / of the decoder
//   app14Version, app14Flags0, app14Flags1  fields of the colour-transform
//                       APP14 segment
//   dqtBodyLength, dhtBodyLength  body bytes of the last DQT / DHT segment
//                       read; 0 until one has been seen
//   blend               average chroma pairs when downsampling
//   DCTFirstInit        a new zero-filled state
//   DCTallocate, DCTfree  the strip memory, allocated once and released
//   DCTInitCommon       the geometry both directions share
//   DCTstrip_bytes      bytes of one component strip
//   DCTreset_dc         zeroes the DC predictors (image and restart start)
//   DCTsize_codes       code lengths and codes of a Huffman specification
//   DCTunzigzag         zigzag position -> natural (row-major) index
#ifndef JPEG_CODEC_CODEC_STATE_H
#define JPEG_CODEC_CODEC_STATE_H

#include <cstdint>

#include "jpeg_filters.h"   // JPEGFilterContext and JPEGEncodeParams, below
#include "jpeg_segments.h"  // JPEGSegmentHook, the decoder's user-segment hook
#include "stm.h"

// The decoder's user-segment hook, the public JPEGSegmentHook
// (jpeg_segments.h): called with the hook's own data for every application
// and comment segment the parser does not consume itself, with a copy of
// the segment body (length bytes) that the parser frees afterwards.
typedef JPEGSegmentHook DCTUserMarkerProc;

// --- Huffman records -------------------------------------------------------

// Encoder code table of one DC Huffman table. Index of an event: the
// magnitude category 0..11 of the DC difference.
struct DCTEHuffDC {
  uint8_t spec[28];   // BITS[16] + HUFFVAL[12], as in a DHT table body
  int32_t count;      // number of HUFFVAL symbols
  uint16_t code[12];  // Huffman code of the event, right-aligned
  uint8_t length[12]; // code length + magnitude bits; 0 = no code
};

// Encoder code table of one AC Huffman table. Index of an event:
// size * 16 + run for size 1..10 (size-major), 0 for EOB, 1 for ZRL.
struct DCTEHuffAC {
  uint8_t spec[178];
  int32_t count;
  uint16_t code[176];
  uint8_t length[176];
};

// Decoder table of one DC or AC Huffman table (canonical codes, ITU-T T.81
// Annex C and F.2.2.3), plus a prefix lookahead of symbols and a combined
// look-up of whole events (code and magnitude bits) that fit the prefix.
//
// Prefix bits of the decoder's one-look-up table: codes of up to this many
// bits decode with one look-up (the common ones in practice), longer codes
// by a search from the length the look-up names. Ten bits serve code and
// magnitude bits of 94% of the AC events of a quality-90 photograph in the
// combined look-up (nine: 87%; eleven: 94%, in tables twice the size).
constexpr int32_t kDCTDLookaheadBits = 10;

// The combined look-up (symbol and magnitude bits at once) of a prefix of
// kDCTDLookaheadBits bits, one int32 entry:
//   bits 0..7   bits to consume (code length + magnitude bits), or
//               kDCTDNoFastEntry when the prefix holds no complete event;
//   bits 8..15  AC: zigzag positions to advance (run + 1), kDCTDFastEOB for
//               end of block; DC: 0;
//   bits 16..31 the decoded (extended) value, signed; 0 for end of block.
// An entry of kDCTDNoFastEntry carries the prefix's lookahead pair instead,
// so that the symbol look-up after it needs no second load: its length in
// bits 8..15, its value in bits 16..23.
constexpr int32_t kDCTDNoFastEntry = 0xFF;  // more bits than the reader ever holds
constexpr int32_t kDCTDFastEOB = 64;        // moves past the last zigzag position

struct DCTDHuffTable {
  int32_t maxCode[16];     // per length L (index L-1): ((last code + 1) << (16-L)) - 1, or -1
  int32_t endMark;         // maxCode of the longest length + 1
  int32_t valueOffset[16]; // values[valueOffset[L-1] + code] is the value of a code of length L
  uint8_t bits[16];        // code counts per length, as read
  uint8_t values[162];     // HUFFVAL in the order read (12 used by a DC table)
  uint8_t lookahead[1 << kDCTDLookaheadBits][2]; // (length, value) per prefix; length >= 16 = search start
  int32_t fast[1 << kDCTDLookaheadBits];         // combined look-up, see above
};

// --- Components ------------------------------------------------------------

struct DCTComponent {
  int32_t hSamples;   // horizontal sampling factor H, 1..4 (0 = unused record)
  int32_t vSamples;   // vertical sampling factor V, 1..4
  int32_t stripWidth; // bytes of one strip line
  int32_t lastDC;     // DC predictor
  uint8_t* strip;     // strip buffer inside the strip memory
  int32_t lastBlockX; // enc: sample offset of the last block column holding real samples
  uint8_t componentId;     // dec: Ci of the frame header
  uint8_t frameQTableSel;  // dec: Tqi of the frame header
  uint8_t scanComponentId; // dec: Csj of the scan header
  uint8_t dcTableSel;
  uint8_t acTableSel;
  uint8_t qTableSel;
  uint8_t edgeSamples; // enc: real samples in the last MCU column, 0 if it is full
  void* acHuffPtr;     // DCTEHuffAC* (enc) or DCTDHuffTable* (dec)
  void* dcHuffPtr;     // DCTEHuffDC* (enc) or DCTDHuffTable* (dec)
  int32_t* qTablePtr;  // qTable[qTableSel]
  int32_t fullRes;     // 1 when H = maxHSamples and V = maxVSamples
};

// --- Decoder scan bookkeeping ------------------------------------------------

// The quantizers read from DQT segments, by table number, in DQT (zigzag)
// order, and which table numbers have been defined.
struct DCTDQuantStore {
  uint16_t table[4][64];
  uint32_t defined;
};

// One scan header (T.81 B.2.3): the frame components it codes, in frame
// order, and its spectral selection and successive approximation fields.
struct DCTDScanInfo {
  int32_t count;          // Ns
  int32_t frameIndex[4];  // frame component of scan component j
  int32_t ss, se, ah, al; // as read; a sequential scan has 0, 63, 0, 0
};

struct DCTDCoefStore;  // coefficient_store.cpp
struct DCTParallel;    // strip_jobs.h
struct DCTDReplaySource;  // parallel_decode.cpp
struct DCTDEntropyDecoder;  // decode/entropy_decoder.h
struct DCTECoefImage;  // encode/coefficient_image.h

// --- Meanings of the state's mode fields ---------------------------------------

// DCTState::phase of an encoder (marker_writer.cpp).
enum DCTEncodePhase : int32_t {
  kEncPhaseHeader = 0,  // nothing written yet
  kEncPhaseCoding = 1,  // header out, strips being coded
  kEncPhaseDone = 2,    // EOI written, strip memory released
};

// DCTState::phase of a decoder (marker_parser.cpp).
enum DCTDecodePhase : int32_t {
  kDecPhaseFresh = 0,    // nothing read yet
  kDecPhaseMarkers = 1,  // between images or scans: marker segments are due
  kDecPhaseEnd = 2,      // the image has ended (EOI, or its data ended cleanly)
  kDecPhaseScans = 3,    // a multi-scan image: its scans go into the coefficient store
  kDecPhaseStrip = 4,    // the next strip of MCUs is to be decoded
  kDecPhaseLines = 5,    // lines of the decoded strip are being handed out
};

// DCTState::colorTransform: what the encoder applied or the decoder undoes
// (0..2 also in the colour-transform APP14 segment and JPEGEncodeParams).
enum DCTColorTransform : int32_t {
  kTransformNone = 0,
  kTransformYCbCr = 1,  // three components; for four, resolved to YCCK by the geometry
  kTransformYCCK = 2,
  kTransformUnknown = 0x3FFF,  // decoder: no colour-transform segment seen yet
};

// DCTState::hFastMode: the specialised line paths by component count, the
// horizontal sampling factors H of the components and the transform
// (geometry.cpp); everything else goes the general way.
enum DCTHFastMode : int32_t {
  kHFastGeneral = 0,
  kHFastPlain211 = 1,     // 3 components, H 2,1,1, no transform
  kHFastYCbCr111 = 2,     // 3 components, H 1,1,1, YCbCr
  kHFastYCbCr211 = 3,     // 3 components, H 2,1,1, YCbCr
  kHFastYCCK1111 = 4,     // 4 components, H 1,1,1,1, YCCK
  kHFastYCCK2112 = 5,     // 4 components, H 2,1,1,2, YCCK
};

// DCTState::vFastMode: whether lines whose chroma rows repeat (Vmax 4,
// chroma sampled once per four lines) are made from component 0 (and K) alone.
enum DCTVFastMode : int32_t {
  kVFastOff = 0,
  kVFastLumaOnly = 1,
};

// --- Codec state -----------------------------------------------------------

struct DCTState {
  uint8_t* markerData;      // enc: marker bytes written right after SOI
  int32_t markerDataLength; // enc
  Stm* filterStm;           // the filter's own stream
  int32_t phase;            // DCTEncodePhase or DCTDecodePhase
  uint8_t* lineBuffer;      // one raster line inside the strip memory
  int32_t stripBlockLine;   // 0..7
  int32_t stripSubLine;     // 0..maxVSamples-1
  int32_t linesDone;        // enc: raster lines consumed
  int32_t linesEmitted;     // dec: raster lines produced
  int32_t stripFirstLine;   // enc: first raster line of the strip being assembled
  int32_t hFastMode;        // DCTHFastMode
  int32_t vFastMode;        // DCTVFastMode
  int32_t maxHSamples;
  int32_t maxVSamples;
  int32_t mcusPerRow;
  int32_t blocksPerMCU;
  int32_t restartMarkerNumber; // 0..7
  int32_t restartInterval;     // MCUs per interval; 0 = none
  int32_t restartCountdown;
  int32_t Colors;          // components coded (dec: in the scan)
  int32_t outputColors;    // components per pixel exchanged with the client
  int32_t Columns;
  int32_t Rows;
  int32_t inputLineBytes;  // enc: Columns * Colors
  int32_t outputLineBytes; // dec: Columns * outputColors
  int32_t colorTransform;  // DCTColorTransform; dec starts at kTransformUnknown
  int32_t blend;           // enc
  int32_t allowOversizedMCU; // dec
  Stm* targetStm;          // enc: receives bytes; dec: supplies them
  uint64_t bitBuffer;       // enc: the partial byte; dec: bits read ahead (low end)
  int32_t nextByte;        // dec: one-byte lookahead, -1 = end
  union {
    int32_t bitsFree;      // enc: free bit positions of the partial byte, 1..8
    int32_t bitCount;      // dec: unconsumed bits in bitBuffer
  };
  uint16_t app14Version;   // dec
  uint16_t app14Flags0;
  uint16_t app14Flags1;
  int16_t frameColors;
  int16_t dqtBodyLength;   // dec
  int16_t dhtBodyLength;   // dec
  DCTComponent components[4];
  int32_t blockNumber;
  int32_t paddedLineSamples; // ceil(Columns / maxHSamples) * Colors * maxHSamples
  int32_t samplesPerHGroup;  // Colors * maxHSamples
  uint32_t* encCTTable[6];   // enc colour tables (in the strip memory)
  uint32_t* decCTTable[2];   // dec colour tables (in the strip memory)
  union {
    DCTEHuffDC dcHuffTable[2]; // enc
    DCTDHuffTable huffDecDC[4]; // dec
  };
  union {
    DCTEHuffAC acHuffTable[2];  // enc
    DCTDHuffTable huffDecAC[4]; // dec
  };
  int32_t acTableCount;   // enc
  int32_t dcTableCount;   // enc
  int32_t huffCodeCount;  // codes produced by the last DCTsize_codes
  int32_t qFactorFixed;   // enc: QFactor * 65536, truncated
  int32_t maxQuantValue;  // enc: 85, 90 or 93
  int32_t qTableCount;    // 1..4
  int32_t* qTable[4];     // 64 entries each, zigzag order, in the strip memory
  int32_t* qThreshold[4]; // enc: dead-zone thresholds, in the strip memory
  uint8_t* stripMemory;   // start of the strip memory block (null when released)
  int32_t stripMemoryBytes; // its size in bytes
  DCTUserMarkerProc userMarkerHook; // dec: where user segments go; null = dropped
  void* userMarkerHookData;         // dec: the hook's own data
  // --- dec: multi-scan images (coefficient_store.cpp) ---
  DCTDQuantStore quantStore;     // quantizers of every DQT so far, kept across scans
  DCTDScanInfo scan;             // the scan header being decoded
  DCTDCoefStore* coefStore;      // whole-image coefficients; null on the one-scan path
  void (*releaseWork)(DCTState* state); // frees memory outside the strip block; DCTfree calls it
  int32_t progressive;           // dec: the frame is SOF2 (spectral selection, successive approximation)
  int32_t eobRun;                // dec: blocks left in the current end-of-band run
  const DCTDEntropyDecoder* entropy; // dec: the current scan's entropy decoder
  int32_t eoiRead;               // dec: EOI was read before the lines were made (progressive)
  int32_t invertInks;     // 1 when the coded CMYK holds ink inverted (255 = no ink), as peers
                          // write it; dec: output lines are turned back to 0 = no ink;
                          // enc: the portable layout, input lines are inverted
  // The filter's buffer holds one piece of the raster line: a line of more
  // than 32767 bytes does not fit the Stm's 16-bit count, so it travels in
  // consecutive pieces of JPEG_LINE_PIECE_BYTES (jpeg_filters.h), the last
  // holding the rest; a line that fits is one piece. The whole line lives in
  // lineBuffer either way.
  int32_t linePieceStart; // offset in the line of the piece the filter's buffer holds
  int32_t linePieceBytes; // bytes of that piece
  // Opt-in coding of restart intervals on worker threads (strip_jobs.h).
  int32_t codingThreads;  // workers asked for (JPEGSetCodingThreads); below 2: none
  DCTParallel* parallel;  // the workers and the strips in flight; null until started
  DCTDReplaySource* replaySource; // dec: bytes read ahead handed back to the serial reader
  // Opt-in coding choices (jpeg_options.h); zero = as the plain opens.
  int32_t optimizeTables;   // enc: Huffman tables built for the image
  int32_t progressiveScans; // enc: a progressive frame
  int32_t scaleDenominator; // dec: 1, 2, 4 or 8 (0 = 1)
  DCTECoefImage* coefImage; // enc: the whole image's coefficients (optimized or progressive)
  int32_t keepCoefficients; // dec: every image goes through the coefficient store, kept whole
  // dec: the frame's own size. Columns and Rows are the size of the lines
  // handed out, which scaled decoding reduces (decode/scaled_idct.cpp).
  int32_t frameColumns;
  int32_t frameRows;
};

// Samples along one side of a block in the component strips: 8, or
// 8 / scaleDenominator when the decoder reduces the image.
static inline int32_t DCTBlockSide(const DCTState* state) {
  return state->scaleDenominator > 1 ? 8 / state->scaleDenominator : 8;
}

// Samples along one side of a block of component c in its strip: the
// image's block side, doubled (up to 8) while the component's subsampling
// leaves room in both directions, so that a reduced image gets subsampled
// components from the inverse DCT at up to the size they are shown at,
// rather than upsampled. The maximal sampling factors must be known.
inline int32_t DCTComponentSide(const DCTState* state, const DCTComponent* c) {
  const int32_t side = DCTBlockSide(state);
  int32_t n = side;
  while (n < 8 && (state->maxHSamples * side) % (c->hSamples * n * 2) == 0 &&
         (state->maxVSamples * side) % (c->vSamples * n * 2) == 0) {
    n *= 2;
  }
  return n;
}

// --- Shared procedures (strip_memory.cpp, geometry.cpp; DCTfree: strip_jobs.h)

DCTState* DCTFirstInit();
void DCTallocate(DCTState* state, int32_t lineBytes, int32_t isEncoder);
int32_t DCTstrip_bytes(const DCTComponent* c, int32_t maxV);

// The filters' codec-state set-up from their open parameters (internal to
// jpeg_encode_filter.cpp and jpeg_decode_filter.cpp).
void JPEGEncConfigure(DCTState* state, JPEGEncodeParams* params);
void JPEGDecConfigure(DCTState* state, Stm* filterStm, Stm* source);

// Bytes of the piece of a raster line of lineBytes bytes (pixels of
// `colors` samples) that starts at offset `start`.
int32_t DCTLinePieceBytes(int32_t lineBytes, int32_t colors, int32_t start);

// A zeroed filter context over the stream below (null when memory runs out);
// its release is DCTReleaseFilter (parallel/strip_jobs.h).
JPEGFilterContext* DCTNewFilterContext(Stm* below);

void DCTInitCommon(DCTState* state, int32_t isEncoder);
void DCTreset_dc(DCTState* state);
int32_t DCTsize_codes(DCTState* state, const uint8_t bits[16], uint8_t* sizes, uint16_t* codes,
                      int32_t maxCodes);

// Zigzag position -> natural (row-major) index; entries 64..79 are 64, the
// discard slot one past a block, so a zero run past 63 stays inside.
extern const uint8_t DCTunzigzag[80];

// x rounded up to a multiple of 4.
constexpr int32_t DCTceil4(int32_t x) { return (x + 3) & ~3; }

#endif
