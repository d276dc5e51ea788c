// dcte_blocks.cpp - the block coder: one complete strip (an MCU row of every
// component, assembled by dcte_strips.cpp) becomes entropy-coded data.
//
// MCUs are walked in scan order; each image block is transformed
// (dcte_fdct.cpp), quantized with a dead zone and Huffman coded through the
// bit writer (DCTEputBits in dcte.h), with a restart marker before every
// restart interval but the first. The dead zone uses the uncapped quantizers
// (qThreshold): a coefficient G is zero when -T <= G < T, tested as the one
// unsigned comparison (G + T) < 2T; the magnitude of the others uses the
// capped quantizers (qTable), which never exceed the threshold, so every
// coefficient outside the dead zone codes as a magnitude of at least 1.
// Blocks wholly right of the image skip the transform and cost a DC
// category 0 and an EOB.
#include "dct/dcte.h"

// Magnitude category (number of significant bits) of 0..63.
const uint8_t DCTmagnitof[64] = {
    0, 1, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4,
    5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5,
    6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
    6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
};

namespace {

constexpr int32_t kEOB = 0;  // AC code-table index of end of block
constexpr int32_t kZRL = 1;  // AC code-table index of a run of 16 zeros
constexpr int32_t kMaxV = 4; // largest vertical sampling factor

// Category of a magnitude up to 4095 (baseline values stay far below).
inline int32_t Category(uint32_t v) {
  return v < 64 ? DCTmagnitof[v] : DCTmagnitof[v >> 6] + 6;
}

// Low s bits of a signed value's JPEG magnitude code: the value itself when
// positive, the complement of its magnitude when negative.
inline uint32_t MagnitudeBits(int32_t value, uint32_t magnitude, int32_t s) {
  return value >= 0 ? magnitude : ~magnitude & ((1u << s) - 1);
}

// Outside the dead zone -T <= G < T (unsigned arithmetic: no overflow).
inline bool Significant(int32_t G, int32_t T) {
  const uint32_t t = static_cast<uint32_t>(T);
  return static_cast<uint32_t>(G) + t >= 2 * t;
}

inline uint32_t Magnitude(int32_t G) {
  return G < 0 ? 0u - static_cast<uint32_t>(G) : static_cast<uint32_t>(G);
}

// Writes the DC event of one block and updates the predictor. D0 is the
// scaled DC divisor; the value is rounded half away from zero.
inline void CodeDC(DCTEBitSink* sink, DCTComponent* comp, const DCTEHuffDC* dc, int32_t G,
                   uint32_t D0) {
  const uint32_t m = (Magnitude(G) + D0) / (2 * D0);
  const int32_t value = G < 0 ? -static_cast<int32_t>(m) : static_cast<int32_t>(m);
  const int32_t diff = value - comp->lastDC;
  comp->lastDC = value;
  const uint32_t mag = Magnitude(diff);
  const int32_t s = Category(mag);
  const uint32_t bits = MagnitudeBits(diff, mag, s);
  DCTEputBits(sink, (static_cast<uint32_t>(dc->code[s]) << s) | bits, dc->length[s]);
}

// Coding end of a block: one past the last zigzag position from 7 up whose
// coefficient lies outside the dead zone; 7 when there is none (positions
// 1..6 are always examined by the AC loop).
inline int32_t CodingEnd(const int32_t* coef, const int32_t* T) {
  for (int32_t k = 63; k >= 7; k--)
    if (Significant(coef[DCTunzigzag[k]], T[k])) return k + 1;
  return 7;
}

void CodeAC(DCTEBitSink* sink, const DCTEHuffAC* ac, const int32_t* coef, const int32_t* T,
            const int32_t* D, int32_t end) {
  int32_t p = 1;  // one past the zigzag position of the last coefficient written
  for (int32_t k = 1; k < end; k++) {
    const int32_t G = coef[DCTunzigzag[k]];
    if (!Significant(G, T[k])) continue;
    const uint32_t d = static_cast<uint32_t>(D[k]);
    const uint32_t m = (Magnitude(G) + d) / (2 * d);
    const int32_t s = Category(m);
    const uint32_t bits = MagnitudeBits(G, m, s);
    int32_t run = k - p;
    for (; run >= 16; run -= 16) DCTEputBits(sink, ac->code[kZRL], ac->length[kZRL]);
    const int32_t index = s * 16 + run;
    DCTEputBits(sink, (static_cast<uint32_t>(ac->code[index]) << s) | bits, ac->length[index]);
    p = k + 1;
  }
  if (p != 64) DCTEputBits(sink, ac->code[kEOB], ac->length[kEOB]);
}

// A block wholly right of the image: DC difference 0 and EOB.
void CodeNullBlock(DCTEBitSink* sink, const DCTComponent* comp) {
  const DCTEHuffDC* dc = static_cast<const DCTEHuffDC*>(comp->dcHuffPtr);
  const DCTEHuffAC* ac = static_cast<const DCTEHuffAC*>(comp->acHuffPtr);
  DCTEputBits(sink, dc->code[0], dc->length[0]);
  DCTEputBits(sink, ac->code[kEOB], ac->length[kEOB]);
}

void CodeBlock(DCTState* state, DCTEBitSink* sink, DCTComponent* comp, const uint8_t* samples) {
  int32_t coef[64];
  DCTTransform(state, coef, samples, comp);
  const int32_t* T = state->qThreshold[comp->qTableSel];
  const int32_t* D = comp->qTablePtr;
  const int32_t end = CodingEnd(coef, T);
  CodeDC(sink, comp, static_cast<const DCTEHuffDC*>(comp->dcHuffPtr), coef[0],
         static_cast<uint32_t>(D[0]));
  CodeAC(sink, static_cast<const DCTEHuffAC*>(comp->acHuffPtr), coef, T, D, end);
}

// The next block of each of a component's V block rows, and each row's end.
struct BlockCursors {
  const uint8_t* next[kMaxV];
  const uint8_t* end[kMaxV];
};

void DCTEInitStrip(BlockCursors* cursors, const DCTComponent* comp) {
  const uint8_t* row = comp->strip;
  for (int32_t j = 0; j < comp->vSamples; j++) {
    cursors->next[j] = row;
    cursors->end[j] = row + comp->lastBlockX + 8;
    row += 8 * comp->stripWidth;
  }
}

// Codes the H x V blocks one component contributes to an MCU.
void DCTEcode_color(DCTState* state, DCTEBitSink* sink, DCTComponent* comp,
                    BlockCursors* cursors) {
  for (int32_t j = 0; j < comp->vSamples; j++) {
    for (int32_t h = 0; h < comp->hSamples; h++) {
      if (cursors->next[j] >= cursors->end[j])
        CodeNullBlock(sink, comp);
      else
        CodeBlock(state, sink, comp, cursors->next[j]);
      cursors->next[j] += 8;
    }
  }
  state->blockNumber += comp->hSamples * comp->vSamples;
}

// Before each MCU: at the end of a restart interval, restart the DC
// predictors and write the next RSTn marker (after 1-bit padding).
void DCTEcodeResync(DCTState* state, DCTEBitSink* sink) {
  if (--state->restartCountdown > 0) return;
  state->restartCountdown = state->restartInterval;
  DCTreset_dc(state);
  if (sink->free < 8) DCTEputBits(sink, (1u << sink->free) - 1, sink->free);
  DCTEputByte(sink->target, 0xFF);
  DCTEputByte(sink->target, 0xD0 + static_cast<uint32_t>(state->restartMarkerNumber));
  state->restartMarkerNumber = (state->restartMarkerNumber + 1) & 7;
}

void CodeInterleavedStrip(DCTState* state, DCTEBitSink* sink) {
  BlockCursors cursors[4];
  for (int32_t i = 0; i < state->Colors; i++) DCTEInitStrip(&cursors[i], &state->components[i]);
  for (int32_t m = 0; m < state->mcusPerRow; m++) {
    if (state->restartInterval != 0) DCTEcodeResync(state, sink);
    for (int32_t i = 0; i < state->Colors; i++)
      DCTEcode_color(state, sink, &state->components[i], &cursors[i]);
  }
}

// One component: one block per MCU, block row by block row; rows wholly
// below the image are not coded.
void CodeSingleComponentStrip(DCTState* state, DCTEBitSink* sink, int32_t line) {
  DCTComponent* comp = &state->components[0];
  for (int32_t r = 0; r < comp->vSamples; r++) {
    const uint8_t* cursor = comp->strip + r * 8 * comp->stripWidth;
    const uint8_t* end = cursor + comp->lastBlockX + 8;
    for (int32_t m = 0; m < state->mcusPerRow; m++, cursor += 8) {
      if (state->restartInterval != 0) DCTEcodeResync(state, sink);
      if (cursor >= end)
        CodeNullBlock(sink, comp);
      else
        CodeBlock(state, sink, comp, cursor);
    }
    state->blockNumber += state->mcusPerRow;
    line += 8;
    if (line >= state->Rows) break;
  }
}

}  // namespace

void DCTEcodeStrip(DCTState* state, int32_t firstLine) {
  DCTEBitSink sink{state->bitBuffer, state->bitsFree, state->targetStm};
  if (state->Colors > 1)
    CodeInterleavedStrip(state, &sink);
  else
    CodeSingleComponentStrip(state, &sink, firstLine);
  state->bitBuffer = sink.buffer;
  state->bitsFree = sink.free;
}
