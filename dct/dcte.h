// dcte.h - the encoder's internal procedures, from raster lines to JPEG bytes.
//
// The encode filter (jpeg_encode_filter.cpp) configures a DCTState and calls
// DCTEncodeOpen (dcte_setup.cpp); each complete raster line then goes to
// DCTEFlush (dcte_markers.cpp), which writes the header on the first line,
// moves lines into the component strips (dcte_strips.cpp), codes a strip of
// MCUs when one is complete (dcte_blocks.cpp, with the forward DCT of
// dcte_fdct.cpp and the bit writer of dcte_huff.cpp) and writes EOI after the
// last line. The default tables live in dcte_tables.cpp.
#ifndef JPEG_DCT_DCTE_H
#define JPEG_DCT_DCTE_H

#include <cstdint>

#include "dct/dct_state.h"
#include "stream/stm_inline.h"

// --- default tables (dcte_tables.cpp) -----------------------------------------
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

// --- bit output and Huffman code tables (dcte_huff.cpp) ------------------------
void DCTEinit_sputv(DCTState* state);
void DCTEmdusputv(DCTState* state, uint32_t value, int32_t n);
void DCTEsput8(DCTState* state, int32_t byte);
void DCTEsput16(DCTState* state, int32_t value);
void DCTEsputmarker(DCTState* state, int32_t code);
void DCTEclose_sput(DCTState* state);
void DCTEmake_huffenc(DCTState* state, const uint8_t* spec, uint16_t* code, uint8_t* length,
                      int32_t isAC);

// The bit writer as the block coder runs it: the partial byte and the target
// held in locals for the length of a block, written back to the state after.
// `buffer` holds the pending bits of the partial byte from its most
// significant end, `free` (1..8) the positions still open, as in the state's
// bitBuffer and bitsFree.
struct DCTEBitSink {
  uint32_t buffer;
  int32_t free;
  Stm* target;
};

[[noreturn]] void DCTEmissingCode();  // raises the missing-Huffman-code failure

static inline void DCTEputByte(Stm* target, uint32_t byte) {
  StmPutByte(static_cast<int16_t>(byte), target);
}

// Appends the low n bits of value (bits above n are zero), most significant
// first; every completed byte goes out at once, 0xFF followed by a stuffed 0.
static inline void DCTEputBits(DCTEBitSink* sink, uint32_t value, int32_t n) {
  int32_t f = sink->free;
  if (n < f) {
    if (n == 0) DCTEmissingCode();
    sink->buffer |= value << (f - n);
    sink->free = f - n;
    return;
  }
  int32_t r = n - f;  // bits of value left once the partial byte is full
  uint32_t b = (value >> r) | sink->buffer;
  for (;;) {
    DCTEputByte(sink->target, b);
    if (b == 0xFF) DCTEputByte(sink->target, 0);
    if (r < 8) break;
    value &= (1u << r) - 1;
    r -= 8;
    b = value >> r;
  }
  sink->buffer = (value << (8 - r)) & 0xFF;
  sink->free = 8 - r;
}

// --- input strips (dcte_strips.cpp) ---------------------------------------------
void DCTEInitCT(DCTState* state);
void DCTEGetNCLine(DCTState* state);
void DCTEFixRightBot(uint8_t* line, DCTComponent* comp, DCTState* state, int32_t lastLineOfGroup);
uint8_t* DCTEPointStrip(const DCTComponent* comp, int32_t subLine, int32_t group);
void DCTEget_ovflines(DCTState* state);

// --- set-up (dcte_setup.cpp) ------------------------------------------------------
void DCTEncodeOpen(DCTState* state);

// --- forward DCT (dcte_fdct.cpp) --------------------------------------------------
extern const uint32_t DCTEQScale[64];  // AAN output scale factors, natural order
extern const uint16_t DCTEACPeak[64];  // largest |AC coefficient| of 8-bit blocks, natural order
void DCTEScaleQT(DCTState* state);
void DCTTransform(DCTState* state, int32_t* coef, const uint8_t* samples, const DCTComponent* comp);

// --- block coder (dcte_blocks.cpp) ------------------------------------------------
extern const uint8_t DCTmagnitof[64];
void DCTEcodeStrip(DCTState* state, int32_t firstLine);

// --- marker segments and the per-line driver (dcte_markers.cpp) ------------------
int32_t DCTEFlush(DCTState* state);

#endif
