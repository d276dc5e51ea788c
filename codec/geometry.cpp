// geometry.cpp - component, sampling and MCU geometry shared by encoder
// and decoder, the DC predictor reset, canonical Huffman code generation
// and the zigzag table.
//
// Once the component count and sampling factors are known, DCTInitCommon
// derives everything the per-line and per-block code relies on, so nothing
// is recomputed later: the largest sampling factors, the MCU count per row,
// each component's padded strip width, the colour transform that really
// applies and the specialised line paths (hFastMode, vFastMode).
#include "codec/codec_state.h"

// Zigzag position -> natural index (ITU-T T.81 Figure A.6), padded with 16
// entries that all map to 64, the discard slot after a block's 64
// coefficients: a zero run that overshoots position 63 (by at most 16) lands
// there instead of outside the block.
const uint8_t DCTunzigzag[80] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
    64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64, 64};

namespace {

constexpr int32_t kMaxBlocksPerMCU = 10;       // ITU-T T.81 B.2.3 limit for interleaved scans
constexpr int32_t kMaxSamplingFactor = 4;      // largest H or V of a component

int32_t CeilDiv(int32_t a, int32_t b) { return (a + b - 1) / b; }

void CheckSampling(DCTState* state) {
  int32_t maxH = 1, maxV = 1, blocks = 0;
  for (int i = 0; i < state->Colors; i++) {
    const DCTComponent& c = state->components[i];
    if (c.hSamples * c.vSamples == 0 || c.hSamples > kMaxSamplingFactor ||
        c.vSamples > kMaxSamplingFactor || c.hSamples < 0 || c.vSamples < 0) {
      DCTStmErr0("Sampling not [1..4]");
    }
    if (c.hSamples > maxH) maxH = c.hSamples;
    if (c.vSamples > maxV) maxV = c.vSamples;
    blocks += c.hSamples * c.vSamples;
  }
  state->blocksPerMCU = blocks;
  if (blocks > kMaxBlocksPerMCU && !state->allowOversizedMCU) {
    DCTStmErr0("Sum(HSamples * VSamples) > 10 limit");
  }
  state->maxHSamples = maxH;
  state->maxVSamples = maxV;
}

int32_t ResolveTransform(const DCTState* state) {
  const int32_t t = state->colorTransform;
  if (t == kTransformNone) return kTransformNone;
  if (t == kTransformUnknown) {
    return state->Colors == 3 && state->frameColors == 3 ? kTransformYCbCr : kTransformNone;
  }
  if (t == kTransformYCbCr) {
    return state->Colors == 4 ? kTransformYCCK : state->Colors == 3 ? kTransformYCbCr : kTransformNone;
  }
  if (t == kTransformYCCK && state->Colors == 4) return kTransformYCCK;
  DCTStmErr1("Unusable ColorTransform=%ld", t);
}

int32_t HorizontalFastMode(const DCTState* state) {
  const DCTComponent* c = state->components;
  if (c[1].hSamples != 1 || c[2].hSamples != 1) return kHFastGeneral;
  const bool transformed = state->colorTransform != kTransformNone;
  const int32_t firstH = c[0].hSamples;
  if (state->Colors == 3) {
    if (firstH == 2 && !transformed) return kHFastPlain211;
    if (firstH == 1 && transformed) return kHFastYCbCr111;
    if (firstH == 2 && transformed) return kHFastYCbCr211;
  } else if (state->Colors == 4 && transformed) {
    if (firstH == 1 && c[3].hSamples == 1) return kHFastYCCK1111;
    if (firstH == 2 && c[3].hSamples == 2) return kHFastYCCK2112;
  }
  return kHFastGeneral;
}

// Lines whose chroma rows do not change (Vmax 4, chroma sampled once per
// four lines) can be produced from component 0 alone.
int32_t VerticalFastMode(const DCTState* state) {
  const DCTComponent* c = state->components;
  if (state->maxVSamples != kMaxSamplingFactor || !c[0].fullRes || c[1].vSamples != 1)
    return kVFastOff;
  if (state->Colors == 2) return kVFastLumaOnly;
  if (c[2].vSamples != 1) return kVFastOff;
  if (state->Colors == 3) return kVFastLumaOnly;
  return state->colorTransform != kTransformNone && c[3].fullRes ? kVFastLumaOnly : kVFastOff;
}

// A scaled decode has Columns reduced to ceil(width / d) and blocks of
// side 8 / d (subsampled components: up to 8), so the MCU count is that of
// the full size.
void SetWidths(DCTState* state) {
  const int32_t maxH = state->maxHSamples;
  const int32_t side = DCTBlockSide(state);
  if (state->Colors >= 2) {
    state->mcusPerRow = CeilDiv(state->Columns, side * maxH);
    for (int i = 0; i < state->Colors; i++) {
      DCTComponent& c = state->components[i];
      c.stripWidth = c.hSamples * DCTComponentSide(state, &c) * state->mcusPerRow;
    }
  } else {
    // Non-interleaved scan: one block per MCU.
    DCTComponent& c = state->components[0];
    state->mcusPerRow = CeilDiv(c.hSamples * state->Columns, side * maxH);
    c.stripWidth = side * state->mcusPerRow;
  }
}

}  // namespace

void DCTInitCommon(DCTState* state, int32_t) {
  CheckSampling(state);
  const int32_t maxH = state->maxHSamples;
  state->samplesPerHGroup = state->Colors * maxH;
  state->paddedLineSamples = CeilDiv(state->Columns, maxH) * state->Colors * maxH;
  state->outputLineBytes = state->Columns * state->outputColors;
  state->colorTransform = ResolveTransform(state);
  state->hFastMode = HorizontalFastMode(state);
  for (int i = 0; i < 4; i++) {
    DCTComponent& c = state->components[i];
    c.fullRes = i < state->Colors && c.hSamples == maxH && c.vSamples == state->maxVSamples;
  }
  state->vFastMode = VerticalFastMode(state);
  SetWidths(state);
}

void DCTreset_dc(DCTState* state) {
  for (DCTComponent& c : state->components) c.lastDC = 0;
}

// Code lengths (ITU-T T.81 Figure C.1) and canonical codes (Figure C.2)
// from the 16 BITS counts. A length whose codes use up every remaining code
// value is refused: at least one value of every length stays free, so no
// code consists only of 1-bits.
int32_t DCTsize_codes(DCTState* state, const uint8_t bits[16], uint8_t* sizes, uint16_t* codes,
                      int32_t maxCodes) {
  int32_t free = 2, count = 0;
  for (int32_t length = 1; length <= 16; length++) {
    free = 2 * (free - bits[length - 1]);
    if (free < 2) DCTStmErr0("Over-committed Huffman spec.");
    for (int32_t k = 0; k < bits[length - 1]; k++) {
      if (count >= maxCodes) DCTStmErr1("Code table over %ld entries", maxCodes);
      sizes[count++] = static_cast<uint8_t>(length);
    }
  }
  sizes[count] = 0;
  state->huffCodeCount = count;
  uint32_t code = 0;
  int32_t size = count > 0 ? sizes[0] : 0;
  for (int32_t k = 0; k < count;) {
    while (k < count && sizes[k] == size) codes[k++] = static_cast<uint16_t>(code++);
    if (k == count) break;
    code <<= (sizes[k] - size);
    size = sizes[k];
  }
  return static_cast<int32_t>(code);
}
