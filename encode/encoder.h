// encoder.h - the encoder's internal procedures, from raster lines to JPEG bytes.
//
// The encode filter (jpeg_encode_filter.cpp) configures a DCTState and calls
// DCTEncodeOpen (encoder_setup.cpp); each complete raster line then goes to
// DCTEFlush (marker_writer.cpp), which writes the header on the first line,
// moves lines into the component strips (strip_input.cpp), codes a strip of
// MCUs when one is complete (block_coder.cpp, with the forward DCT of
// forward_dct.cpp and the bit writer of bit_writer.cpp) and writes EOI after the
// last line. The default tables live in builtin_tables.cpp.
//
// Glossary. The encoder's table and procedure names below are fixed (the
// tests and the other layers call them by these names); read them as:
//   qluma1, qkroma1, qkroma2  quantization bases: luminance; chrominance at
//                             full resolution (1) and in a subsampled image (2)
//   tluma1, tkroma1           caps on the scaled luminance / chrominance steps
//   dtsbits                   DC table specifications (BITS + HUFFVAL), entry
//                             2s + 0 luminance, 2s + 1 chrominance of set s
//   atsL<s>, atsC<s>          AC table specification of set s 0..4, for
//                             luminance (L) and chrominance (C)
//   atsptrs, atsLen           the ten AC specifications and their byte
//                             lengths, indexed 2s + 0 (L) or 2s + 1 (C)
//   sput                      "stream put": header bytes onto the target, and
//                             with a v, the variable-length bit output
//   DCTEinit_sputv            empties the bit output (open)
//   DCTEmdusputv              appends n bits of entropy-coded data ("mdu":
//                             minimum data unit, the coded 8 x 8 block)
//   DCTEsput8, DCTEsput16     one header byte, one big-endian 16-bit word
//   DCTEsputmarker            pads the bits to a byte with 1s, writes a marker
//   DCTEclose_sput            the final padding and EOI
//   DCTEmake_huffenc          code table (code, length per event) of a
//                             Huffman specification
//   DCTEInitCT                builds the colour-transform (CT) tables
//   DCTEGetNCLine             takes the raster line in lineBuffer into the
//                             component strips (colour conversion, downsampling)
//   DCTEFixRightBot           fills a strip line's right edge; at a group's
//                             last line, reduces a subsampled component's bottom
//   DCTEPointStrip            address of one line of a component strip
//   DCTEget_ovflines          completes the last strip with lines past the
//                             image's bottom ("overflow lines")
//   DCTEQScale, DCTEScaleQT   the transform's output scale, and scaling the
//                             quantization tables (QT) by it
//   DCTTransform              forward DCT of one block, level shift included
//   DCTEcodeStrip, DCTEFlush  codes one strip of MCUs; takes one raster line
#ifndef JPEG_ENCODE_ENCODER_H
#define JPEG_ENCODE_ENCODER_H

#include <cstdint>
#include <cstring>

#include "codec/codec_state.h"
#include "codec/jpeg_markers.h"
#include "stream/stm_inline.h"

// The quality factor in 16.16 fixed point (qFactorFixed): kQFactorOne is 1.0.
constexpr int32_t kQFactorShift = 16;
constexpr int32_t kQFactorOne = 1 << kQFactorShift;

// --- default tables (builtin_tables.cpp) -----------------------------------------
extern const uint8_t qluma1[64];   // quantization bases, zigzag order
extern const uint8_t qkroma1[64];
extern const uint8_t qkroma2[64];
extern const uint8_t tluma1[64];   // quantizer caps, zigzag order
extern const uint8_t tkroma1[64];
extern const uint8_t dtsbits[8][28]; // DC specifications: BITS[16] + HUFFVAL[12]
extern const uint8_t atsL0[], atsC0[], atsL1[], atsC1[], atsL2[], atsC2[], atsL3[], atsC3[],
    atsL4[], atsC4[];              // AC specifications: BITS[16] + HUFFVAL
extern const uint8_t* const atsptrs[10]; // the ten above, in table-set order
extern const int32_t atsLen[10];   // 16 + symbol count of each

// --- bit output and Huffman code tables (bit_writer.cpp) ------------------------
void DCTEinit_sputv(DCTState* state);
void DCTEmdusputv(DCTState* state, uint32_t value, int32_t n);
void DCTEsput8(DCTState* state, int32_t byte);
void DCTEsput16(DCTState* state, int32_t value);
void DCTEsputmarker(DCTState* state, int32_t code);
void DCTEclose_sput(DCTState* state);
void DCTEmake_huffenc(DCTState* state, const uint8_t* spec, uint16_t* code, uint8_t* length,
                      int32_t isAC);

// The bit writer as the block coder runs it: pending bits in a 64-bit
// accumulator held in locals for the length of a strip, written out eight
// bytes at a time when it fills, and reduced to the state's partial byte
// (bitBuffer, bitsFree) when the strip ends (DCTELoadSink / DCTEStoreSink).
// Filling only once per 64 bits keeps the branch that writes rare.
struct DCTEBitSink {
  uint64_t acc;   // pending bits at the low end; bits above `bits` are stale
  int32_t bits;   // pending bit count, 0..63 between calls
  Stm* target;
};

[[noreturn]] void DCTEmissingCode();  // raises the missing-Huffman-code failure

static inline void DCTEputByte(Stm* target, uint32_t byte) {
  StmPutByte(static_cast<int16_t>(byte), target);
}

// One data byte, 0xFF followed by a stuffed 0.
static inline void DCTEputDataByte(Stm* target, uint32_t byte) {
  DCTEputByte(target, byte);
  if (byte == 0xFF) DCTEputByte(target, 0);
}

// Writes every complete pending byte; fewer than 8 bits stay pending.
static inline void DCTEflushBytes(DCTEBitSink* sink) {
  while (sink->bits >= 8) {
    sink->bits -= 8;
    DCTEputDataByte(sink->target, static_cast<uint32_t>(sink->acc >> sink->bits) & 0xFF);
  }
}

// Stores the word's eight bytes at p, most significant first.
static inline void DCTEstoreWord64(uint8_t* p, uint64_t word) {
  uint64_t bigEndian = word;  // most significant byte first in memory
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  bigEndian = __builtin_bswap64(word);
#endif
  std::memcpy(p, &bigEndian, 8);
}

// Eight data bytes, most significant first. When none is 0xFF and the
// target has room they are stored at once.
static inline void DCTEputDataWord64(Stm* target, uint64_t word) {
  if (__builtin_expect(!JPEGHasMarkerPrefixByte(word) && target->count >= 8, 1)) {
    DCTEstoreWord64(target->ptr, word);
    target->ptr += 8;
    target->count = static_cast<int16_t>(target->count - 8);
    return;
  }
  for (int shift = 56; shift >= 0; shift -= 8) DCTEputDataByte(target, (word >> shift) & 0xFF);
}

// Appends the low n bits of value (bits above n are zero), most significant
// first; n is at most 63 (the block coder's longest: three ZRLs and an
// event). When the accumulator overflows (so at least one bit was pending),
// its 64 bits are completed with the top of value and written, and the rest
// of value stays pending.
// DCTEputCodedBits takes n as known non-zero (an event of a complete code
// table); DCTEputBits raises the missing-code failure for n = 0.
static inline void DCTEputCodedBits(DCTEBitSink* sink, uint64_t value, int32_t n) {
  const int32_t total = sink->bits + n;
  if (__builtin_expect(total < 64, 1)) {
    sink->acc = (sink->acc << n) | value;
    sink->bits = total;
    return;
  }
  const int32_t rest = total - 64;  // 0..62; n - rest = 64 - bits lies in 1..63
  DCTEputDataWord64(sink->target, (sink->acc << (n - rest)) | (value >> rest));
  sink->acc = value;
  sink->bits = rest;
}

static inline void DCTEputBits(DCTEBitSink* sink, uint32_t value, int32_t n) {
  if (n == 0) DCTEmissingCode();
  DCTEputCodedBits(sink, value, n);
}

// Pads the pending bits to a byte boundary with 1-bits and writes them all.
static inline void DCTEpadToByte(DCTEBitSink* sink) {
  const int32_t partial = sink->bits & 7;
  if (partial != 0) DCTEputBits(sink, (1u << (8 - partial)) - 1, 8 - partial);
  DCTEflushBytes(sink);
}

// The state's partial byte keeps its pending bits from the most significant
// end, bitsFree (1..8) positions still open.
static inline DCTEBitSink DCTELoadSink(const DCTState* state) {
  const int32_t pending = 8 - state->bitsFree;
  return DCTEBitSink{(state->bitBuffer & 0xFF) >> state->bitsFree, pending, state->targetStm};
}

static inline void DCTEStoreSink(DCTState* state, DCTEBitSink* sink) {
  DCTEflushBytes(sink);
  state->bitBuffer = static_cast<uint32_t>(sink->acc << (8 - sink->bits)) & 0xFF;
  state->bitsFree = 8 - sink->bits;
}

// --- input strips (strip_input.cpp) ---------------------------------------------
void DCTEInitCT(DCTState* state);
void DCTEGetNCLine(DCTState* state);
// The same for a raster line held elsewhere, read only; for the layouts
// DCTEReadsLinesInPlace accepts: no padding past the line, converters that
// do not write into it.
void DCTEGetLineFrom(DCTState* state, const uint8_t* raster);
bool DCTEReadsLinesInPlace(const DCTState* state);
void DCTEFixRightBot(uint8_t* line, DCTComponent* comp, DCTState* state, int32_t lastLineOfGroup);
uint8_t* DCTEPointStrip(const DCTComponent* comp, int32_t subLine, int32_t group);
void DCTEget_ovflines(DCTState* state);

// --- set-up (encoder_setup.cpp) ------------------------------------------------------
void DCTEncodeOpen(DCTState* state);

// --- forward DCT (forward_dct.cpp) --------------------------------------------------
// 128 x 64 x 65536: the sum of the 128 sample offsets of a block at the
// output scale of coefficient 0, taken off the DC after the transform.
constexpr int32_t DCTELevelShift = 0x20000000;
extern const uint32_t DCTEQScale[64];  // AAN output scale factors, natural order
extern const uint16_t DCTEACPeak[64];  // largest |AC coefficient| of 8-bit blocks, natural order
void DCTEScaleQT(DCTState* state);
void DCTTransform(DCTState* state, int32_t* coef, const uint8_t* samples, const DCTComponent* comp);

// The dead-zone thresholds T of one quantization table (zigzag order) as
// the transform kernel's significance test takes them (forwardDCTMask):
// natural order, T and 2T with their top bits flipped, so that a signed
// SIMD comparison performs the unsigned one.
struct DCTEThresholds {
  alignas(16) uint32_t tFlipped[64];
  alignas(16) uint32_t twoTFlipped[64];
};

static inline void DCTEPrepareThresholds(DCTEThresholds* z, const int32_t* T) {
  for (int32_t k = 0; k < 64; k++) {
    const uint32_t t = static_cast<uint32_t>(T[k]);
    z->tFlipped[DCTunzigzag[k]] = t ^ 0x80000000u;
    z->twoTFlipped[DCTunzigzag[k]] = (2 * t) ^ 0x80000000u;
  }
}

// |G| of a transform coefficient, without overflow for any value.
static inline uint32_t DCTEMagnitude(int32_t G) {
  return G < 0 ? 0u - static_cast<uint32_t>(G) : static_cast<uint32_t>(G);
}

// --- block coder (block_coder.cpp) ------------------------------------------------
void DCTEcodeStrip(DCTState* state, int32_t firstLine);
// Its two builds (block_coder.cpp) for a strip coded as it comes.
void DCTECodeMCUStrip(DCTState* state, int32_t firstLine);
void DCTECodeMCUStripBitOps(DCTState* state, int32_t firstLine);

// --- marker segments and the per-line driver (marker_writer.cpp) ------------------
int32_t DCTEFlush(DCTState* state);
// Takes the next raster line where the writer holds it, as DCTEFlush takes
// the buffered one, when that is allowed: the header is written (the first
// line, which starts any coding threads, comes through the buffer), the
// image goes on past it (the last line does too, where the close finds it)
// and nothing writes into it. False, taking nothing, otherwise.
bool DCTETakeLineInPlace(DCTState* state, const uint8_t* raster);

// --- strips coded on worker threads (parallel_encode.cpp; parallel/strip_jobs.h
// states the scheme) ------------------------------------------------------------------
// Starts the workers when the state may use them (DCTParallelWanted).
void DCTEParallelStart(DCTState* state);
// Keeps the raster line in the line buffer for the strip's worker.
void DCTEParallelLine(DCTState* state);
// After the image's last line: the worker completes the strip (as
// DCTEget_ovflines does on the filter's thread).
void DCTEParallelLastLine(DCTState* state);
// The strip that starts at raster line firstLine has all its lines: the
// restart count moves past it, and a complete job goes to a worker.
void DCTEParallelStrip(DCTState* state, int32_t firstLine);
// Writes out every job in flight, in order.
void DCTEParallelFinish(DCTState* state);
// Before an image is given up: the strips complete so far are coded and
// written, as the serial coder has written them.
void DCTEParallelDrain(DCTState* state);

#endif
