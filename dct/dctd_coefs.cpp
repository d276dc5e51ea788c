// dctd_coefs.cpp - the whole-image coefficient store of multi-scan images.
//
// A sequential image whose first scan does not code every frame component in
// one interleaved scan (one scan per component, or a mix such as "Y" then
// "Cb Cr", in any order) cannot be turned into lines strip by strip while the
// data streams past: the first line needs every component. Such an image is
// decoded in two passes:
//
//   1. Every scan is entropy-decoded into the store: per frame component a
//      grid of 8x8 blocks of 16-bit coefficients, natural order, as coded
//      (not dequantized). The grid is MCU-padded (mcusPerRow x H blocks
//      across, MCU rows x V down) so that interleaved scans, which code
//      whole MCUs, fit; a non-interleaved scan codes only the blocks that
//      hold samples, ceil(component width / 8) x ceil(component height / 8)
//      (ITU-T T.81 A.2.2, A.2.3). Restart intervals count MCUs per scan; in
//      a non-interleaved scan one block is one MCU.
//   2. When every component is coded, the store is dequantized and inverse
//      transformed strip by strip into the ordinary component strips, and
//      the lines leave through the ordinary output stage (colour transform,
//      upsampling), so the pixels equal those of the one-scan path.
//
// Memory follows the data: a block row of the grid is allocated when a scan
// first writes into it, and freed once its strip has been transformed; only
// the table of row pointers is sized from the frame header.
//
// The quantizers of a component are latched when its first scan starts, so
// a DQT segment between scans applies to the components coded after it.
//
// Room for progressive scans: a later decoder of spectral-selection and
// successive-approximation scans works on this same store. Its scans carry
// Ss, Se, Ah and Al in state->scan (already read and kept), decode into the
// same blocks (a DC or AC band at a time, refinement bits OR-ed in), and
// replace the per-component `coded` mask below by a per-component record of
// which coefficient bands and bits have arrived; the two passes, the lazy
// rows and the output step stay as they are. A fully interleaved one-scan
// image never comes here: it keeps the streaming path of dctd_blocks.cpp.
#include <cstdlib>
#include <cstring>

#include "dct/dct_arith.h"
#include "dct/dctd.h"

struct DCTDCoefComponent {
  int32_t blocksWide;  // grid width in blocks: mcusPerRow x H
  int32_t blocksHigh;  // grid height in blocks: MCU rows x V
  int32_t codedWide;   // blocks across that hold samples: ceil(component width / 8)
  int32_t codedHigh;   // block rows that hold samples
  int16_t** rows;      // per block row: blocksWide x 64 coefficients, null until touched
  int32_t quant[64];   // natural order, scaled for the inverse DCT, latched at the first scan
};

struct DCTDCoefStore {
  DCTDCoefComponent comp[4];
  int32_t mcuRows;  // MCU rows of the image
  uint32_t coded;   // bit f: frame component f has been coded
};

namespace {

constexpr int32_t kBlockSize = 64;
constexpr uint8_t kZeroBlockSample = 128;  // what an all-zero block transforms to

int32_t CeilDiv(int32_t a, int32_t b) { return static_cast<int32_t>((static_cast<int64_t>(a) + b - 1) / b); }

void* AllocateOrFail(size_t count, size_t size) {
  void* p = std::calloc(count, size);
  if (p == nullptr) {
    const uint64_t bytes = static_cast<uint64_t>(count) * size;
    DCTStmErr1("Cannot allocate %ld bytes", static_cast<int32_t>(bytes > 0x7FFFFFFF ? 0x7FFFFFFF : bytes));
  }
  return p;
}

void ReleaseStore(DCTState* state) {
  DCTDCoefStore* store = state->coefStore;
  state->coefStore = nullptr;
  state->releaseWork = nullptr;
  if (store == nullptr) return;
  for (DCTDCoefComponent& cc : store->comp) {
    if (cc.rows == nullptr) continue;
    for (int32_t by = 0; by < cc.blocksHigh; by++) std::free(cc.rows[by]);
    std::free(cc.rows);
  }
  std::free(store);
}

// Block row `by` of frame component f, allocated (zeroed) on first touch.
int16_t* TouchRow(DCTDCoefStore* store, int32_t f, int32_t by) {
  DCTDCoefComponent& cc = store->comp[f];
  if (cc.rows[by] == nullptr) {
    cc.rows[by] = static_cast<int16_t*>(
        AllocateOrFail(static_cast<size_t>(cc.blocksWide) * kBlockSize, sizeof(int16_t)));
  }
  return cc.rows[by];
}

// The quantizers of table q, scaled as the one-scan path scales them, in
// natural order.
void LatchQuantizers(DCTState* state, int32_t q, int32_t* natural) {
  int32_t zigzag[kBlockSize];
  for (int32_t k = 0; k < kBlockSize; k++) zigzag[k] = state->quantStore.table[q][k];
  DCTDScaleQT(state, zigzag, q);
  for (int32_t k = 0; k < kBlockSize; k++) natural[DCTunzigzag[k]] = zigzag[k];
}

// One MCU-less run of a non-interleaved scan: every block is an MCU.
void DecodeSingleComponentScan(DCTState* state, DCTDCoefStore* store, int32_t f) {
  DCTComponent* comp = &state->components[f];
  const DCTDCoefComponent& cc = store->comp[f];
  for (int32_t by = 0; by < cc.codedHigh; by++) {
    int16_t* row = TouchRow(store, f, by);
    for (int32_t bx = 0; bx < cc.codedWide;) {
      int32_t run = cc.codedWide - bx;
      if (state->restartInterval != 0) {
        DCTdecodeResync(state);
        if (state->restartCountdown < run) run = state->restartCountdown;
        state->restartCountdown -= run - 1;
      }
      DCTDdecodeCoefBlocks(state, comp, row + static_cast<size_t>(bx) * kBlockSize, run);
      bx += run;
    }
  }
}

// An interleaved scan of two or more components: whole MCUs, each holding
// V rows of H blocks of every scan component (T.81 A.2.3).
void DecodeInterleavedScan(DCTState* state, DCTDCoefStore* store) {
  const DCTDScanInfo& scan = state->scan;
  for (int32_t mcuRow = 0; mcuRow < store->mcuRows; mcuRow++) {
    int16_t* rows[4][4];
    for (int32_t j = 0; j < scan.count; j++) {
      const int32_t f = scan.frameIndex[j];
      const int32_t v = state->components[f].vSamples;
      for (int32_t i = 0; i < v; i++) rows[j][i] = TouchRow(store, f, mcuRow * v + i);
    }
    for (int32_t mcu = 0; mcu < state->mcusPerRow; mcu++) {
      if (state->restartInterval != 0) DCTdecodeResync(state);
      for (int32_t j = 0; j < scan.count; j++) {
        DCTComponent* comp = &state->components[scan.frameIndex[j]];
        const size_t first = static_cast<size_t>(mcu) * comp->hSamples * kBlockSize;
        for (int32_t i = 0; i < comp->vSamples; i++) {
          DCTDdecodeCoefBlocks(state, comp, rows[j][i] + first, comp->hSamples);
        }
      }
    }
  }
}

// Dequantizes one stored block and transforms it into the strip at `out`,
// with the same coefficient extents the one-scan path passes.
void TransformBlock(DCTState* state, const int16_t* coefs, const int32_t* quant, uint8_t* out,
                    const DCTComponent* comp) {
  alignas(16) int32_t block[kBlockSize];
  block[0] = WrapMul(coefs[0], quant[0]);
  int32_t lastCol = 0, highest = 0;
  for (int32_t n = 1; n < kBlockSize; n++) {
    block[n] = coefs[n] == 0 ? 0 : WrapMul(coefs[n], quant[n]);
    if (coefs[n] == 0) continue;
    highest = n;
    if ((n & 7) > lastCol) lastCol = n & 7;
  }
  DCTrev_transform(state, block, out, lastCol, highest >> 3, comp);
}

}  // namespace

void DCTDBeginCoefImage(DCTState* state) {
  ReleaseStore(state);
  auto* store = static_cast<DCTDCoefStore*>(AllocateOrFail(1, sizeof(DCTDCoefStore)));
  state->coefStore = store;
  state->releaseWork = &ReleaseStore;
  store->mcuRows = CeilDiv(state->Rows, 8 * state->maxVSamples);
  for (int32_t f = 0; f < state->frameColors; f++) {
    const DCTComponent& comp = state->components[f];
    DCTDCoefComponent& cc = store->comp[f];
    cc.blocksWide = state->mcusPerRow * comp.hSamples;
    cc.blocksHigh = store->mcuRows * comp.vSamples;
    // Component size in samples (T.81 A.1.1): ceil(X x H / Hmax), likewise Y.
    const int32_t width = CeilDiv(state->Columns * comp.hSamples, state->maxHSamples);
    const int32_t height = CeilDiv(state->Rows * comp.vSamples, state->maxVSamples);
    cc.codedWide = CeilDiv(width, 8);
    cc.codedHigh = CeilDiv(height, 8);
    cc.rows = static_cast<int16_t**>(AllocateOrFail(static_cast<size_t>(cc.blocksHigh), sizeof(int16_t*)));
  }
}

void DCTDBeginCoefScan(DCTState* state) {
  DCTDCoefStore* store = state->coefStore;
  const DCTDScanInfo& scan = state->scan;
  for (int32_t j = 0; j < scan.count; j++) {
    const int32_t f = scan.frameIndex[j];
    DCTComponent* comp = &state->components[f];
    if ((store->coded & (1u << f)) != 0) {
      DCTStmErr1("Component %ld coded in more than one scan", comp->componentId);
    }
    store->coded |= 1u << f;
    LatchQuantizers(state, comp->qTableSel, store->comp[f].quant);
  }
  state->restartCountdown = state->restartInterval + 1;
  state->restartMarkerNumber = 0;
  DCTreset_dc(state);
}

void DCTDdecodeCoefScan(DCTState* state) {
  DCTDCoefStore* store = state->coefStore;
  if (state->scan.count == 1) {
    DecodeSingleComponentScan(state, store, state->scan.frameIndex[0]);
  } else {
    DecodeInterleavedScan(state, store);
  }
}

bool DCTDCoefImageComplete(const DCTState* state) {
  const uint32_t all = (1u << state->frameColors) - 1;
  return (state->coefStore->coded & all) == all;
}

void DCTDFailUncoded(const DCTState* state) {
  for (int32_t f = 0; f < state->frameColors; f++) {
    if ((state->coefStore->coded & (1u << f)) == 0) {
      DCTStmErr1("Component %ld not coded before EOI", state->components[f].componentId);
    }
  }
  DCTStmErr0("BUG: EOI with every component coded");
}

void DCTDCoefsToStrip(DCTState* state) {
  DCTDCoefStore* store = state->coefStore;
  const int32_t strip = state->linesEmitted / (8 * state->maxVSamples);
  for (int32_t f = 0; f < state->frameColors; f++) {
    const DCTComponent* comp = &state->components[f];
    DCTDCoefComponent& cc = store->comp[f];
    for (int32_t i = 0; i < comp->vSamples; i++) {
      const int32_t by = strip * comp->vSamples + i;
      uint8_t* out = comp->strip + static_cast<size_t>(8) * i * comp->stripWidth;
      const int16_t* row = by < cc.blocksHigh ? cc.rows[by] : nullptr;
      if (row == nullptr) {  // padding below the samples: never shown
        std::memset(out, kZeroBlockSample, static_cast<size_t>(8) * comp->stripWidth);
        continue;
      }
      for (int32_t bx = 0; bx < cc.blocksWide; bx++) {
        TransformBlock(state, row + static_cast<size_t>(bx) * kBlockSize, cc.quant, out + 8 * bx, comp);
      }
      std::free(cc.rows[by]);  // each block row is shown once
      cc.rows[by] = nullptr;
    }
  }
}
