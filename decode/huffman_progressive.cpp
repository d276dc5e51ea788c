// huffman_progressive.cpp - the progressive Huffman entropy decoder, one
// implementation of entropy_decoder.h in four tables, one per kind of
// progressive scan (T.81 G.1.2): DC first, DC refinement, AC first and AC
// refinement. The scan header chooses the table (DCTDHuffmanProgressive),
// so the block loops never test the scan's kind. Progressive images always
// go through the coefficient store (coefficient_store.cpp), so these tables
// fill only decodeBlocks; the end-of-band run (state->eobRun) is their own
// state across blocks, begun at zero at each scan and each restart marker.
// The file is built twice on x86-64 (JPEG_CODER_NAME, simd/kernels.h).
#if defined(JPEG_BITOP_BUILD)
#include <immintrin.h>
#endif

#include "codec/wrap_arith.h"
#include "decode/entropy_decoder.h"
#include "decode/huffman_reader.h"
#include "simd/coefficient_masks.h"
#include "simd/kernels.h"

using namespace huffman;
using namespace coefficient_masks;

namespace {

constexpr int32_t kZeroRunSymbol = 15;  // run 15, size 0: sixteen zeros
constexpr int32_t kZeroRunLength = 16;

// What a scan's block loop reads for every block: the band, and the
// kernel that finds a block's non-zero coefficients (taken from the kernel
// table once per run of blocks).
struct Band {
  int32_t ss, se, al;  // first and last zigzag position, point transform
  uint64_t (*nonZeroZigzag)(const int16_t* coefs);
};

// One block of a first AC scan: values of the band, shifted up by Al, or
// one block of an end-of-band run. Coefficients and end of block (an
// end-of-band run of one) mostly come from the combined look-up, as in
// sequential scans; longer end-of-band runs and sixteen zeros from the
// symbol look-up.
inline void DecodeACFirst(DCTState* state, BitReader& r, const DCTDHuffTable* table, Band band,
                          int16_t* coefs) {
  if (state->eobRun > 0) {
    state->eobRun--;
    return;
  }
  for (int32_t k = band.ss; k <= band.se;) {
    int32_t entry;
    uint32_t prefix;
    if (TakeFastEntry(state, r, table, &entry, &prefix)) {  // a coefficient or end of block, at once
      k += FastAdvance(entry) - 1;
      if (k > band.se) return;  // end of block (its advance passes any band), or past the band
      coefs[DCTunzigzag[k++]] = StoreCoef(ShiftLeft(FastValue(entry), band.al));
      continue;
    }
    const int32_t rs = SymbolOfEntry(state, r, table, entry, prefix);
    const int32_t run = rs >> 4, size = rs & 15;
    if (size != 0) {
      k += run;
      const int32_t v = ReceiveExtend(state, r, size);
      if (k > band.se) return;  // past the band: the value is dropped
      coefs[DCTunzigzag[k++]] = StoreCoef(ShiftLeft(v, band.al));
    } else if (run == kZeroRunSymbol) {
      k += kZeroRunLength;
    } else {    // EOBn: this block and 2^n - 1 + (n bits) more end here
      state->eobRun = (1 << run) - 1;
      if (run != 0) state->eobRun += GetBits(state, r, run);
      return;
    }
  }
}

// A correction bit for a coefficient already non-zero: 1 raises its
// magnitude by the bit of weight 2^Al unless that bit of the value is set
// already. Without branches on the bit or the value: they follow the image,
// not a pattern a predictor learns.
inline void Correct(int16_t* coef, int32_t al, int32_t correctionBit) {
  const int32_t c = *coef;
  const int32_t raise = correctionBit & ~(c >> al) & 1;  // 1: add 2^Al to the magnitude
  const int32_t sign = c >> 31;                          // 0 or -1
  *coef = StoreCoef(c + (((raise << al) ^ sign) - sign));
}

constexpr int32_t kMostBitsAtOnce = 15;  // GetBits takes up to this many

// Correction bits for the coefficients at the zigzag positions of `nonZero`,
// one each in ascending order, read up to 15 at a time.
inline void CorrectAll(DCTState* state, BitReader& r, int16_t* coefs, uint64_t nonZero, int32_t al) {
  while (nonZero != 0) {
    const int32_t pending = BitCount(nonZero);
    const int32_t count = pending < kMostBitsAtOnce ? pending : kMostBitsAtOnce;
    const int32_t bits = GetBits(state, r, count);
    for (int32_t i = count - 1; i >= 0; i--) {
      Correct(&coefs[DCTunzigzag[__builtin_ctzll(nonZero)]], al, (bits >> i) & 1);
      nonZero &= nonZero - 1;
    }
  }
}

// The (run + 1)-th set bit of `zeros` alone, or 0 when it has fewer. With
// kDeposit, one bit deposited at that zero instead of a loop over the run.
template <bool kDeposit>
inline uint64_t ZeroAfterRun(uint64_t zeros, int32_t run) {
#if defined(JPEG_BITOP_BUILD)
  if (kDeposit) return _pdep_u64(uint64_t{1} << run, zeros);
#endif
  for (; run > 0 && zeros != 0; run--) zeros &= zeros - 1;
  return zeros & (0 - zeros);
}

// One block of an AC refinement scan: correction bits for the non-zero
// coefficients of the band, and coefficients that become +-2^Al. A symbol's
// run counts zero coefficients only; the non-zero ones it passes each take
// a correction bit after the symbol (and its sign bit). Positions past the
// current one keep the values they had before this scan until it passes
// them, so the block's non-zero positions, taken once, tell where every run
// ends. `ahead` holds the band's positions not yet passed, as a mask: each
// symbol's end is one bit of it, which leaves no position to count.
template <bool kDeposit>
inline void DecodeACRefine(DCTState* state, BitReader& r, const DCTDHuffTable* table, Band band,
                           int16_t* coefs) {
  const int32_t bit = 1 << band.al;
  const uint64_t inBand = PositionRange(band.ss, band.se + 1);
  const uint64_t nonZero = band.nonZeroZigzag(coefs) & inBand;
  uint64_t ahead = inBand;
  if (state->eobRun == 0) {
    while (ahead != 0) {
      const int32_t rs = DecodeSymbol(state, r, table);
      const int32_t run = rs >> 4;
      int32_t value = 0;  // sixteen zeros: 0 stored over the zero that ends them
      if ((rs & 15) != 0) {
        value = (2 * GetBits(state, r, 1) - 1) * bit;
      } else if (run != kZeroRunSymbol) {
        state->eobRun = 1 << run;
        if (run != 0) state->eobRun += GetBits(state, r, run);
        break;
      }
      const uint64_t stop = ZeroAfterRun<kDeposit>(~nonZero & ahead, run);  // 0: past the band
      CorrectAll(state, r, coefs, nonZero & ahead & (stop - 1), band.al);
      ahead &= 0 - (stop << 1);  // the positions after stop (none when stop is 0 or position 63)
      if (stop != 0) coefs[DCTunzigzag[__builtin_ctzll(stop)]] = StoreCoef(value);
    }
  }
  if (state->eobRun > 0) {  // inside an end-of-band run: refine the rest
    CorrectAll(state, r, coefs, nonZero & ahead, band.al);
    state->eobRun--;
  }
}

// The band of the scan in state->scan.
inline Band BandOf(const DCTState* state) {
  return Band{state->scan.ss, state->scan.se, state->scan.al, DCTActiveKernels().nonZeroZigzag};
}

// The four kinds of scan, each a loop over `count` blocks of one component
// with the reader in locals.
// The refinement bit of one DC, without a branch on it.
inline void RefineDC(DCTState* state, BitReader& r, int16_t* coefs, int32_t al) {
  coefs[0] = StoreCoef(coefs[0] | GetBits(state, r, 1) << al);
}

// The DC scans' MCUs in one loop with the reader in locals, where a call
// per block would load and store the reader around a few bits.
// decodeDC(r, block) decodes one block.
template <typename DecodeDC>
void DecodeMcuBlocks(DCTState* state, DCTDMcuBlock* blocks, int32_t blockCount, int32_t mcuCount,
                     DecodeDC decodeDC) {
  BitReader r = LoadReader(state);
  for (int32_t m = 0; m < mcuCount; m++) {
    for (int32_t b = 0; b < blockCount; b++) {
      decodeDC(r, blocks[b]);
      blocks[b].coefs += blocks[b].step;
      state->blockNumber++;
    }
  }
  StoreReader(state, r);
}

void DecodeDCFirstMcus(DCTState* state, DCTDMcuBlock* blocks, int32_t blockCount, int32_t mcuCount) {
  const int32_t al = state->scan.al;
  DecodeMcuBlocks(state, blocks, blockCount, mcuCount, [&](BitReader& r, const DCTDMcuBlock& block) {
    DCTComponent* comp = block.comp;
    const auto* dcTable = static_cast<const DCTDHuffTable*>(comp->dcHuffPtr);
    comp->lastDC = WrapAdd(comp->lastDC, DecodeDCDifference(state, r, dcTable));
    block.coefs[0] = StoreCoef(ShiftLeft(comp->lastDC, al));
  });
}

void DecodeDCRefineMcus(DCTState* state, DCTDMcuBlock* blocks, int32_t blockCount, int32_t mcuCount) {
  const int32_t al = state->scan.al;
  DecodeMcuBlocks(state, blocks, blockCount, mcuCount,
                  [&](BitReader& r, const DCTDMcuBlock& block) { RefineDC(state, r, block.coefs, al); });
}

// A one-component DC scan: each block is an MCU of one block.
void DecodeDCFirst(DCTState* state, DCTComponent* comp, int16_t* coefs, int32_t count) {
  DCTDMcuBlock block{comp, coefs, kBlockSize};
  DecodeDCFirstMcus(state, &block, 1, count);
}

void DecodeDCRefine(DCTState* state, DCTComponent* comp, int16_t* coefs, int32_t count) {
  DCTDMcuBlock block{comp, coefs, kBlockSize};
  DecodeDCRefineMcus(state, &block, 1, count);
}

// A run of one component's blocks through one AC pass; the pass is a
// template argument, so each pass gets its own loop with the block decode
// inlined and no per-block test of the scan's kind.
using ACBlockDecoder = void (*)(DCTState*, BitReader&, const DCTDHuffTable*, Band, int16_t*);

template <ACBlockDecoder DecodeBlock>
void DecodeACBlocks(DCTState* state, DCTComponent* comp, int16_t* coefs, int32_t count) {
  BitReader r = LoadReader(state);
  const auto* acTable = static_cast<const DCTDHuffTable*>(comp->acHuffPtr);
  const Band band = BandOf(state);
  for (int32_t b = 0; b < count; b++, coefs += kBlockSize) {
    DecodeBlock(state, r, acTable, band, coefs);
    state->blockNumber++;
  }
  StoreReader(state, r);
}

void StartScan(DCTState* state) { state->eobRun = 0; }

// The restart step; a restart marker also ends an end-of-band run. (The
// countdown equals the interval right after a marker, and before the
// scan's first MCU, when the run is 0 anyway.)
void Restart(DCTState* state) {
  DCTDRestartStep(state);
  if (state->restartCountdown == state->restartInterval) state->eobRun = 0;
}

const DCTDEntropyDecoder kDCFirst = {StartScan, nullptr, DecodeDCFirst, DecodeDCFirstMcus, Restart};
const DCTDEntropyDecoder kDCRefine = {StartScan, nullptr, DecodeDCRefine, DecodeDCRefineMcus, Restart};
const DCTDEntropyDecoder kACFirst = {StartScan, nullptr, DecodeACBlocks<DecodeACFirst>, nullptr, Restart};
const DCTDEntropyDecoder kACRefine = {StartScan, nullptr, DecodeACBlocks<DecodeACRefine<false>>, nullptr, Restart};
#if defined(JPEG_BITOP_BUILD)
const DCTDEntropyDecoder kACRefineByDeposit = {StartScan, nullptr, DecodeACBlocks<DecodeACRefine<true>>, nullptr,
                                               Restart};
#endif

}  // namespace

// A scan whose band starts at 0 codes the DC; a non-zero Ah refines.
const DCTDEntropyDecoder* JPEG_CODER_NAME(DCTDHuffmanProgressive)(const DCTDScanInfo& scan) {
  const bool refine = scan.ah != 0;
  if (scan.ss == 0) return refine ? &kDCRefine : &kDCFirst;
#if defined(JPEG_BITOP_BUILD)
  if (refine && DCTFastBitDeposit()) return &kACRefineByDeposit;
#endif
  return refine ? &kACRefine : &kACFirst;
}
