// coefficient_store.cpp - the whole-image coefficient store of multi-scan images.
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
// the table of row pointers is sized from the frame header. Every block of
// a scan that allocates costs at least one bit of data: a progressive
// component's AC scans, whose end-of-band runs pass over thousands of
// blocks for a few bits, must follow its DC scan, which has allocated every
// block row already.
//
// The quantizers of a component are latched when its first scan starts, so
// a DQT segment between scans applies to the components coded after it.
//
// Progressive images (T.81 Annex G) use the same store and passes: their
// scans (state->scan: Ss, Se, Ah, Al) code a band of coefficients of one
// component, or the DC of several, first at reduced precision and then one
// bit more per refinement scan (huffman_progressive.cpp). Each component keeps, per
// coefficient, the Al of the last scan that coded it, which checks every
// scan against the ones before. Refinement scans are optional, so a
// progressive image is complete at EOI, once every component's DC has begun.
// A fully interleaved one-scan sequential image never comes here: it keeps
// the streaming path (huffman_sequential.cpp).
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/wrap_arith.h"
#include "decode/decoder.h"
#include "decode/entropy_decoder.h"
#include "simd/coefficient_masks.h"
#include "simd/kernels.h"

struct DCTDCoefComponent {
  int32_t blocksWide;  // grid width in blocks: mcusPerRow x H (a lone component: its blocks)
  int32_t blocksHigh;  // grid height in blocks: MCU rows x V
  int32_t codedWide;   // blocks across that hold samples: ceil(component width / 8)
  int32_t codedHigh;   // block rows that hold samples
  int16_t** rows;      // per block row: blocksWide x 64 coefficients, null until touched
  int32_t quant[64];   // natural order, scaled for the inverse DCT, latched at the first scan
  int8_t bits[64];     // progressive: by zigzag position, Al of the last scan that coded it; -1 none
  bool latched;        // quant holds this component's quantizers
};

struct DCTDCoefStore {
  DCTDCoefComponent comp[4];
  int32_t mcuRows;  // MCU rows of the image
  uint32_t coded;   // bit f: frame component f has been coded (progressive: its DC begun)
};

namespace {

constexpr int32_t kBlockSize = 64;
constexpr int32_t kLastZigzag = 63;
constexpr int32_t kLargestAl = 13;  // a coefficient of 8-bit samples has at most 14 bits
constexpr uint8_t kZeroBlockSample = 128;  // what an all-zero block transforms to

int32_t CeilDiv(int32_t a, int32_t b) { return static_cast<int32_t>((static_cast<int64_t>(a) + b - 1) / b); }

// Bit n set when stored coefficient n is not zero.
uint64_t NonZeroMask(const int16_t* coefs) {
  uint64_t mask = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (int32_t i = 0; i < kBlockSize; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefs + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefs + i + 8));
    const __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
    mask |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(zeros)) ^ 0xFFFFu) << i;
  }
#else
  for (int32_t n = 0; n < kBlockSize; n++) mask |= static_cast<uint64_t>(coefs[n] != 0) << n;
#endif
  return mask;
}

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

// A non-interleaved scan: every block is an MCU, rows of blocks in order.
void DecodeSingleComponentScan(DCTState* state, DCTDCoefStore* store, int32_t f) {
  const DCTDEntropyDecoder* decoder = state->entropy;
  DCTComponent* comp = &state->components[f];
  const DCTDCoefComponent& cc = store->comp[f];
  for (int32_t by = 0; by < cc.codedHigh; by++) {
    for (int32_t bx = 0; bx < cc.codedWide;) {
      int32_t run = cc.codedWide - bx;
      if (state->restartInterval != 0) {
        decoder->restart(state);
        if (state->restartCountdown < run) run = state->restartCountdown;
        state->restartCountdown -= run - 1;
      }
      int16_t* first = TouchRow(store, f, by) + static_cast<size_t>(bx) * kBlockSize;
      decoder->decodeBlocks(state, comp, first, run);
      bx += run;
    }
  }
}

constexpr int32_t kMaxMcuBlocks = 4 * 4 * 4;  // scan components x V x H, each at most 4

// The blocks of the first MCU of row `mcuRow` of an interleaved scan, in
// coding order; returns their number.
int32_t ListMcuBlocks(DCTState* state, DCTDCoefStore* store, int32_t mcuRow, DCTDMcuBlock* list) {
  const DCTDScanInfo& scan = state->scan;
  int32_t n = 0;
  for (int32_t j = 0; j < scan.count; j++) {
    const int32_t f = scan.frameIndex[j];
    DCTComponent* comp = &state->components[f];
    for (int32_t i = 0; i < comp->vSamples; i++) {
      int16_t* row = TouchRow(store, f, mcuRow * comp->vSamples + i);
      for (int32_t h = 0; h < comp->hSamples && n < kMaxMcuBlocks; h++)
        list[n++] = DCTDMcuBlock{comp, row + static_cast<size_t>(h) * kBlockSize, comp->hSamples * kBlockSize};
    }
  }
  return n;
}

// One MCU row through the decoder's MCU loop, in runs that end at restart
// markers.
void DecodeMcuRow(DCTState* state, DCTDCoefStore* store, int32_t mcuRow) {
  DCTDMcuBlock blocks[kMaxMcuBlocks];
  const int32_t blockCount = ListMcuBlocks(state, store, mcuRow, blocks);
  for (int32_t mcu = 0; mcu < state->mcusPerRow;) {
    int32_t run = state->mcusPerRow - mcu;
    if (state->restartInterval != 0) {
      state->entropy->restart(state);
      if (state->restartCountdown < run) run = state->restartCountdown;
      state->restartCountdown -= run - 1;
    }
    state->entropy->decodeMcus(state, blocks, blockCount, run);
    mcu += run;
  }
}

// An interleaved scan of two or more components: whole MCUs, each holding
// V rows of H blocks of every scan component (T.81 A.2.3).
void DecodeInterleavedScan(DCTState* state, DCTDCoefStore* store) {
  const DCTDEntropyDecoder* decoder = state->entropy;
  const DCTDScanInfo& scan = state->scan;
  for (int32_t mcuRow = 0; mcuRow < store->mcuRows; mcuRow++) {
    if (decoder->decodeMcus != nullptr) {
      DecodeMcuRow(state, store, mcuRow);
      continue;
    }
    int16_t* rows[4][4];
    for (int32_t j = 0; j < scan.count; j++) {
      const int32_t f = scan.frameIndex[j];
      const int32_t v = state->components[f].vSamples;
      for (int32_t i = 0; i < v; i++) rows[j][i] = TouchRow(store, f, mcuRow * v + i);
    }
    for (int32_t mcu = 0; mcu < state->mcusPerRow; mcu++) {
      if (state->restartInterval != 0) decoder->restart(state);
      for (int32_t j = 0; j < scan.count; j++) {
        DCTComponent* comp = &state->components[scan.frameIndex[j]];
        const size_t first = static_cast<size_t>(mcu) * comp->hSamples * kBlockSize;
        for (int32_t i = 0; i < comp->vSamples; i++) {
          decoder->decodeBlocks(state, comp, rows[j][i] + first, comp->hSamples);
        }
      }
    }
  }
}

// Dequantizes one stored block and transforms it into the strip at `out`,
// with the same coefficient extents the one-scan path passes: the highest
// non-zero AC position and the highest column holding one (0 for none).
// The extents come from the block's non-zero mask, without a branch per
// coefficient.
void TransformBlock(DCTState* state, const int16_t* coefs, const int32_t* quant, uint8_t* out,
                    const DCTComponent* comp) {
  alignas(32) int32_t block[kBlockSize];
  DCTActiveKernels().dequantize(block, coefs, quant);
  const uint64_t ac = NonZeroMask(coefs) & ~uint64_t{1};
  const int32_t highest = ac != 0 ? 63 - __builtin_clzll(ac) : 0;
  uint64_t columns = ac | ac >> 32;  // the OR of the eight row bytes
  columns |= columns >> 16;
  columns |= columns >> 8;
  columns &= 0xFF;
  const int32_t lastCol = columns != 0 ? 31 - __builtin_clz(static_cast<uint32_t>(columns)) : 0;
  DCTrev_transform(state, block, out, lastCol, highest >> 3, comp);
}

}  // namespace

void DCTDDequantizeScalar(int32_t* block, const int16_t* coefs, const int32_t* quant) {
  for (int32_t n = 0; n < kBlockSize; n++) block[n] = WrapMul(coefs[n], quant[n]);
}

uint64_t DCTDNonZeroZigzagScalar(const int16_t* coefs) {
  return coefficient_masks::ToZigzagOrder(NonZeroMask(coefs));
}

void DCTDBeginCoefImage(DCTState* state) {
  ReleaseStore(state);
  auto* store = static_cast<DCTDCoefStore*>(AllocateOrFail(1, sizeof(DCTDCoefStore)));
  state->coefStore = store;
  state->releaseWork = &ReleaseStore;
  // Blocks hold samples of the frame's own size, whatever size the lines
  // come out at (scaled_idct.cpp).
  store->mcuRows = CeilDiv(state->frameRows, 8 * state->maxVSamples);
  for (int32_t f = 0; f < state->frameColors; f++) {
    const DCTComponent& comp = state->components[f];
    DCTDCoefComponent& cc = store->comp[f];
    // mcusPerRow x H; a lone component's H does not widen it.
    cc.blocksWide = comp.stripWidth / DCTComponentSide(state, &comp);
    cc.blocksHigh = store->mcuRows * comp.vSamples;
    // Component size in samples (T.81 A.1.1): ceil(X x H / Hmax), likewise Y.
    const int32_t width = CeilDiv(state->frameColumns * comp.hSamples, state->maxHSamples);
    const int32_t height = CeilDiv(state->frameRows * comp.vSamples, state->maxVSamples);
    cc.codedWide = CeilDiv(width, 8);
    cc.codedHigh = CeilDiv(height, 8);
    cc.rows = static_cast<int16_t**>(AllocateOrFail(static_cast<size_t>(cc.blocksHigh), sizeof(int16_t*)));
    std::memset(cc.bits, -1, sizeof cc.bits);
  }
}

namespace {

[[noreturn]] void BadApproximation(const DCTDScanInfo& scan) {
  DCTStmErr2("Bad successive approximation Ah=%ld Al=%ld", scan.ah, scan.al);
}

// The band and bit positions of a progressive scan (T.81 G.1.1.1): a DC
// scan codes only Ss = Se = 0, an AC scan one component's band within
// 1..63; a refinement adds exactly one bit below the previous scan's.
void CheckProgressiveScan(const DCTDScanInfo& scan) {
  const bool dc = scan.ss == 0;
  if ((dc && scan.se != 0) || (!dc && (scan.se < scan.ss || scan.se > kLastZigzag))) {
    DCTStmErr2("Bad progressive scan Ss=%ld Se=%ld", scan.ss, scan.se);
  }
  if (!dc && scan.count != 1) DCTStmErr1("Progressive AC scan of %ld components", scan.count);
  if (scan.al > kLargestAl || (scan.ah != 0 && scan.al != scan.ah - 1)) BadApproximation(scan);
}

// Records which bits of the band the scan codes for component cc; a first
// scan of coefficients already coded, or a refinement of bits not coded
// yet, is refused, and so is an AC scan before the component's first DC
// scan (T.81 G.1.1.1.1).
void RecordBits(DCTDCoefComponent* cc, const DCTDScanInfo& scan, const DCTComponent* comp) {
  if (scan.ss != 0 && cc->bits[0] < 0) {
    DCTStmErr1("Progressive AC scan before the DC scan of component %ld", comp->componentId);
  }
  for (int32_t k = scan.ss; k <= scan.se; k++) {
    const int32_t before = cc->bits[k];
    if (scan.ah == 0 ? before >= 0 : before != scan.ah) BadApproximation(scan);
    cc->bits[k] = static_cast<int8_t>(scan.al);
  }
}

}  // namespace

void DCTDBeginCoefScan(DCTState* state) {
  DCTDCoefStore* store = state->coefStore;
  const DCTDScanInfo& scan = state->scan;
  if (state->progressive != 0) CheckProgressiveScan(scan);
  for (int32_t j = 0; j < scan.count; j++) {
    const int32_t f = scan.frameIndex[j];
    DCTComponent* comp = &state->components[f];
    DCTDCoefComponent* cc = &store->comp[f];
    if (state->progressive != 0) {
      RecordBits(cc, scan, comp);
      if (scan.ss == 0) store->coded |= 1u << f;
    } else {
      if ((store->coded & (1u << f)) != 0) {
        DCTStmErr1("Component %ld coded in more than one scan", comp->componentId);
      }
      store->coded |= 1u << f;
    }
    if (!cc->latched) LatchQuantizers(state, comp->qTableSel, cc->quant);
    cc->latched = true;
  }
  state->restartCountdown = state->restartInterval + 1;
  state->restartMarkerNumber = 0;
  // Block numbers (in messages) count within the scan: one scan holds at
  // most 4 x 8192 x 8192 blocks, so the count stays far from overflowing
  // however many scans an image has.
  state->blockNumber = 0;
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

// Blocks are addressed on the full-size grid of the strip (8 samples each),
// as DCTrev_transform takes them at every scale.
void DCTDCoefsToStrip(DCTState* state) {
  DCTDCoefStore* store = state->coefStore;
  const int32_t strip = state->linesEmitted / (DCTBlockSide(state) * state->maxVSamples);
  for (int32_t f = 0; f < state->frameColors; f++) {
    const DCTComponent* comp = &state->components[f];
    DCTDCoefComponent& cc = store->comp[f];
    const int32_t side = DCTComponentSide(state, comp);
    for (int32_t i = 0; i < comp->vSamples; i++) {
      const int32_t by = strip * comp->vSamples + i;
      uint8_t* out = comp->strip + static_cast<size_t>(8) * i * comp->stripWidth;
      const int16_t* row = by < cc.blocksHigh ? cc.rows[by] : nullptr;
      if (row == nullptr) {  // padding below the samples: never shown
        std::memset(comp->strip + static_cast<size_t>(side) * i * comp->stripWidth, kZeroBlockSample,
                    static_cast<size_t>(side) * comp->stripWidth);
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

const int16_t* DCTDCoefRow(const DCTState* state, int32_t f, int32_t by) {
  const DCTDCoefComponent& cc = state->coefStore->comp[f];
  return by < cc.blocksHigh ? cc.rows[by] : nullptr;
}
