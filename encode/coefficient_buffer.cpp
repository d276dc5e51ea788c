// coefficient_buffer.cpp - the encoder's whole-image coefficient buffer, for
// tables built for the image and progressive scans (coefficient_image.h
// states the scheme and its memory).
//
// DCTEBufferStrip takes the place of coding a strip: each block is
// transformed and quantized exactly as the block coder does it (the same
// kernel, dead zone and rounding), so the coefficients equal the ones a
// default-mode file carries with the same quantizers. A block wholly right
// of the image, which the block coder codes as DC difference 0 and EOB,
// keeps the DC of the block before it (always a block of the same component
// in the same MCU) and no AC.
#include <cstdlib>

#include "encode/coefficient_image.h"
#include "encode/encoder.h"
#include "simd/kernels.h"

namespace {

constexpr uint32_t kACLimit = 1024;  // baseline AC magnitudes stay below (category 10)
constexpr int32_t kMaxTables = 4;

int32_t CeilDiv(int32_t a, int32_t b) { return (a + b - 1) / b; }

void ReleaseCoefImage(DCTState* state) {
  DCTECoefImage* image = state->coefImage;
  state->coefImage = nullptr;
  state->releaseWork = nullptr;
  if (image == nullptr) return;
  for (DCTECoefPlane& p : image->plane) std::free(p.blocks);
  std::free(image);
}

// |g| / step rounded half away from zero, with g's sign (D is twice the step).
int16_t Quantize(int32_t g, uint32_t d) {
  const uint32_t m = (DCTEMagnitude(g) + d) / (2 * d);
  if (m >= kACLimit * 2)
    DCTStmErr1("BUG: quantized magnitude %ld out of range", static_cast<int32_t>(m & 0x7FFFFFFF));
  return static_cast<int16_t>(g < 0 ? -static_cast<int32_t>(m) : static_cast<int32_t>(m));
}

void QuantizeBlock(int16_t* out, const uint8_t* samples, const DCTComponent* comp,
                   const DCTEThresholds* z) {
  alignas(32) int32_t coef[64];
  const uint64_t significant =
      DCTActiveKernels().forwardDCTMask(coef, samples, comp->stripWidth, z->tFlipped, z->twoTFlipped);
  const int32_t* D = comp->qTablePtr;
  out[0] = Quantize(coef[0], static_cast<uint32_t>(D[0]));
  for (int32_t k = 1; k < 64; k++) {
    const int32_t n = DCTunzigzag[k];
    out[k] = (significant >> k & 1) != 0 ? Quantize(coef[n], static_cast<uint32_t>(D[k])) : 0;
    if (out[k] >= static_cast<int32_t>(kACLimit) || out[k] <= -static_cast<int32_t>(kACLimit))
      DCTStmErr1("BUG: quantized magnitude %ld out of range", out[k]);
  }
}

// Stores block (bx, by) of component i from the strip row `row` (the
// block's first sample line), or the null block when it lies wholly right
// of the image.
void StoreBlock(DCTState* state, int32_t i, int32_t bx, int32_t by, const uint8_t* row,
                const DCTEThresholds* zones) {
  DCTComponent* comp = &state->components[i];
  DCTECoefPlane* plane = &state->coefImage->plane[i];
  int16_t* out = DCTECoefBlock(plane, bx, by);
  if (8 * bx >= comp->lastBlockX + 8) {
    out[0] = static_cast<int16_t>(plane->lastDC);
    return;  // the AC stay zero from the allocation
  }
  QuantizeBlock(out, row + 8 * bx, comp, &zones[comp->qTableSel]);
  plane->lastDC = out[0];
}

}  // namespace

void DCTESetupPlane(DCTECoefPlane* plane, int32_t columns, int32_t rows, int32_t maxH, int32_t maxV,
                    int32_t blocksWide, int32_t blocksHigh) {
  plane->blocksWide = blocksWide;
  plane->blocksHigh = blocksHigh;
  plane->codedWide = CeilDiv(CeilDiv(columns * plane->h, maxH), 8);
  plane->codedHigh = CeilDiv(CeilDiv(rows * plane->v, maxV), 8);
  const size_t count = static_cast<size_t>(blocksWide) * static_cast<size_t>(blocksHigh) * kDCTEBlockCoefs;
  plane->blocks = static_cast<int16_t*>(std::calloc(count, sizeof(int16_t)));
  if (plane->blocks == nullptr) {
    const uint64_t bytes = static_cast<uint64_t>(count) * sizeof(int16_t);
    DCTStmErr1("Cannot allocate %ld bytes", static_cast<int32_t>(bytes > 0x7FFFFFFF ? 0x7FFFFFFF : bytes));
  }
}

void DCTEBeginCoefImage(DCTState* state) {
  auto* image = static_cast<DCTECoefImage*>(std::calloc(1, sizeof(DCTECoefImage)));
  if (image == nullptr) DCTStmErr1("Cannot allocate %ld bytes", static_cast<int32_t>(sizeof(DCTECoefImage)));
  state->coefImage = image;
  state->releaseWork = &ReleaseCoefImage;
  image->colors = state->Colors;
  image->mcusPerRow = state->mcusPerRow;
  image->mcuRows = CeilDiv(state->Rows, 8 * state->maxVSamples);
  image->restartInterval = state->restartInterval;
  for (int32_t i = 0; i < state->Colors; i++) {
    const DCTComponent* comp = &state->components[i];
    DCTECoefPlane* plane = &image->plane[i];
    plane->h = comp->hSamples;
    plane->v = comp->vSamples;
    plane->tableSlot = comp->dcTableSel;
    DCTESetupPlane(plane, state->Columns, state->Rows, state->maxHSamples, state->maxVSamples,
                   comp->stripWidth / 8, image->mcuRows * comp->vSamples);
  }
}

void DCTEBufferStrip(DCTState* state, int32_t firstLine) {
  DCTEThresholds zones[kMaxTables];
  for (int32_t k = 0; k < state->qTableCount && k < kMaxTables; k++)
    DCTEPrepareThresholds(&zones[k], state->qThreshold[k]);
  const int32_t strip = firstLine / (8 * state->maxVSamples);
  for (int32_t i = 0; i < state->Colors; i++) {
    const DCTComponent* comp = &state->components[i];
    const int32_t wide = state->coefImage->plane[i].blocksWide;
    for (int32_t j = 0; j < comp->vSamples; j++) {
      const uint8_t* row = comp->strip + static_cast<size_t>(8) * j * comp->stripWidth;
      for (int32_t bx = 0; bx < wide; bx++) StoreBlock(state, i, bx, strip * comp->vSamples + j, row, zones);
    }
  }
}
