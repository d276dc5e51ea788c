// encoder_setup.cpp - prepares a configured codec state for encoding.
//
// The encode filter (jpeg_encode_filter.cpp) has copied the caller's
// parameters into the state; DCTEncodeOpen validates the image size, works out
// the geometry, decides which components are chroma (and so which tables they
// use), allocates the strip memory, derives the quantizer and dead-zone tables
// from the built-in bases and the quality factor, and links the components to
// their Huffman code tables. Nothing is written here: the header goes out with
// the first raster line (marker_writer.cpp).
#include <cstdint>

#include "encode/encoder.h"

namespace {

// A baseline frame header carries the width and the line count in 16 bits.
// (Lines wider than the Stm's 16-bit count pass the filter in pieces.)
constexpr int32_t kMaxColumns = 65535;
constexpr int32_t kMaxRows = 65535;
// APP14 flags0 bit: the chroma was averaged (blended) while downsampling.
constexpr uint16_t kAPP14FlagBlended = 0x8000;

void ValidateSize(const DCTState* state) {
  if (state->Columns == 0) DCTStmErr0("Columns==0");
  if (state->Rows == 0) DCTStmErr0("Rows==0");
  if (state->Columns < 0 || state->Columns > kMaxColumns)
    DCTStmErr1("Columns=%ld out of range", state->Columns);
  if (state->Rows < 0 || state->Rows > kMaxRows)
    DCTStmErr1("Rows=%ld out of range", state->Rows);
}

// Real samples of component c across the image: luma-rate components hold
// Columns samples; subsampled ones hold their share of the padded groups.
int32_t RealWidth(const DCTState* state, const DCTComponent* c) {
  const int32_t hMax = state->maxHSamples;
  if (c->hSamples == hMax) return state->Columns;
  if (c->hSamples == 2 && hMax == 4) return (state->Columns + 1) / 2;
  return (state->Columns + hMax - 1) / hMax * c->hSamples;
}

bool IsChroma(const DCTState* state, int32_t i) {
  const DCTComponent* c = &state->components[i];
  if (state->colorTransform != kTransformNone) return i == 1 || i == 2;
  return c->hSamples < state->maxHSamples || c->vSamples < state->maxVSamples;
}

// Edge geometry and table numbers of every component.
void SetUpComponents(DCTState* state) {
  state->qTableCount = state->dcTableCount = state->acTableCount = 1;
  for (int32_t i = 0; i < state->Colors; i++) {
    DCTComponent* c = &state->components[i];
    const int32_t pad = c->stripWidth - RealWidth(state, c);
    c->edgeSamples = static_cast<uint8_t>(pad == 0 ? 0 : 8 * c->hSamples - pad);
    c->lastBlockX = c->stripWidth - (pad & ~7) - 8;
    const uint8_t table = IsChroma(state, i) ? 1 : 0;
    c->qTableSel = c->dcTableSel = c->acTableSel = table;
    if (table == 1) state->qTableCount = state->dcTableCount = state->acTableCount = 2;
  }
}

// One scaled quantizer, before the cap: the base times the 16.16 quality
// factor, rounded; the DC step grows at half the rate above 1.0 (one more
// shift). Computed in 64 bits so that any factor the configuration admits
// stays exact, then clamped to 1..maxQ.
int32_t ScaledQuantizer(int32_t factor, int32_t base, bool isDC, int32_t maxQ) {
  int64_t q;
  if (isDC && factor > kQFactorOne)
    q = base + ((static_cast<int64_t>(base) * (factor - kQFactorOne) + kQFactorOne) >>
                (kQFactorShift + 1));
  else
    q = (static_cast<int64_t>(factor) * base + kQFactorOne / 2) >> kQFactorShift;
  if (q <= 0) return 1;
  return q < maxQ ? static_cast<int32_t>(q) : maxQ;
}

void BuildQuantTables(DCTState* state) {
  const bool subsampled = state->maxHSamples + state->maxVSamples >= 3;
  for (int32_t k = 0; k < state->qTableCount; k++) {
    const uint8_t* base = k == 0 ? qluma1 : (subsampled ? qkroma2 : qkroma1);
    const uint8_t* cap = k == 0 ? tluma1 : tkroma1;
    for (int32_t j = 0; j < 64; j++) {
      const int32_t q = ScaledQuantizer(state->qFactorFixed, base[j], j == 0, state->maxQuantValue);
      state->qThreshold[k][j] = q;
      state->qTable[k][j] = cap[j] < q ? cap[j] : q;
    }
  }
}

}  // namespace

void DCTEncodeOpen(DCTState* state) {
  state->frameColors = static_cast<int16_t>(state->Colors);
  ValidateSize(state);
  state->inputLineBytes = state->Columns * state->Colors;
  DCTInitCommon(state, 1);
  state->app14Flags0 = state->blend ? kAPP14FlagBlended : 0;
  state->app14Flags1 = 0;
  SetUpComponents(state);
  DCTallocate(state, state->inputLineBytes, 1);
  DCTEinit_sputv(state);
  BuildQuantTables(state);
  for (int32_t i = 0; i < state->Colors; i++) {
    DCTComponent* c = &state->components[i];
    c->acHuffPtr = &state->acHuffTable[c->acTableSel];
    c->dcHuffPtr = &state->dcHuffTable[c->dcTableSel];
  }
  if (state->colorTransform != kTransformNone) DCTEInitCT(state);
}
