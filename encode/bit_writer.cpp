// bit_writer.cpp - the encoder's output below the block coder: the bit writer
// with JPEG byte stuffing, byte and marker output for the header, the end of
// the stream, and the Huffman code tables built from a DHT specification.
//
// A code table is indexed by event so that one look-up gives the Huffman
// code and the total bit count of the event (code length plus the magnitude
// bits appended to it): DC by magnitude category, AC by size * 16 + run
// (size-major), with EOB at 0 and ZRL at 1. The block coder (block_coder.cpp)
// then writes each event, code and magnitude bits, with one call.
#include "codec/jpeg_markers.h"
#include "encode/encoder.h"

namespace {

constexpr int32_t kDCCategories = 12;  // DC difference categories 0..11
constexpr int32_t kMaxACCodes = 162;   // every baseline AC symbol
constexpr int32_t kMaxACSize = 10;     // largest baseline AC magnitude category
constexpr int32_t kZRLRun = 15;        // the run nibble of ZRL (0xF0): 16 zeros
constexpr int32_t kEOBIndex = 0;       // code-table indices of EOB and ZRL
constexpr int32_t kZRLIndex = 1;
constexpr int32_t kLengthCounts = 16;  // BITS: code counts of lengths 1..16, before HUFFVAL

// Code-table index of an AC symbol (RRRRSSSS), or -1 if the symbol is not a
// baseline event: sizes 1..10 with any run, EOB (0x00) and ZRL (0xF0).
int32_t ACEventIndex(int32_t symbol) {
  const int32_t size = symbol & 15;
  const int32_t run = symbol >> 4;
  if (size > kMaxACSize) return -1;
  if (size != 0) return size * 16 + run;
  if (run == 0) return kEOBIndex;
  if (run == kZRLRun) return kZRLIndex;
  return -1;
}

}  // namespace

void DCTEmissingCode() { DCTStmErr0("Event with no Huffcode in the spec"); }

void DCTEinit_sputv(DCTState* state) {
  state->bitBuffer = 0;
  state->bitsFree = 8;
}

void DCTEmdusputv(DCTState* state, uint32_t value, int32_t n) {
  DCTEBitSink sink = DCTELoadSink(state);
  DCTEputBits(&sink, value, n);
  DCTEStoreSink(state, &sink);
}

void DCTEsput8(DCTState* state, int32_t byte) {
  DCTEputByte(state->targetStm, static_cast<uint32_t>(byte) & 0xFF);
}

void DCTEsput16(DCTState* state, int32_t value) {
  DCTEsput8(state, value >> 8);
  DCTEsput8(state, value & 0xFF);
}

// Pads the partial byte with 1-bits (stuffed like any data byte) and writes
// the marker, which is never stuffed. The bit buffer is empty afterwards.
void DCTEsputmarker(DCTState* state, int32_t code) {
  const int32_t f = state->bitsFree;
  if (f < 8) DCTEmdusputv(state, (1u << f) - 1, f);
  DCTEsput16(state, (kMarkerPrefix << 8) + code);
}

void DCTEclose_sput(DCTState* state) { DCTEsputmarker(state, kEOI); }

void DCTEmake_huffenc(DCTState* state, const uint8_t* spec, uint16_t* code, uint8_t* length,
                      int32_t isAC) {
  uint8_t sizes[kMaxACCodes + 1];
  uint16_t codes[kMaxACCodes];
  DCTsize_codes(state, spec, sizes, codes, isAC ? kMaxACCodes : kDCCategories);
  const uint8_t* symbols = spec + kLengthCounts;
  for (int32_t k = 0; k < state->huffCodeCount; k++) {
    const int32_t symbol = symbols[k];
    int32_t index;
    int32_t magnitudeBits;
    if (isAC) {
      index = ACEventIndex(symbol);
      if (index < 0) DCTStmErr1("Unusable AC codeword %ld in HuffTables", symbol);
      magnitudeBits = symbol & 15;
    } else {
      if (symbol >= kDCCategories)
        DCTStmErr1("Unusable DC codeword mag. cat. >= %ld in HuffTables", kDCCategories);
      index = symbol;
      magnitudeBits = symbol;
    }
    code[index] = codes[k];
    length[index] = static_cast<uint8_t>(sizes[k] + magnitudeBits);
  }
}
