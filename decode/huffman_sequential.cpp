// huffman_sequential.cpp - the sequential Huffman entropy decoder (baseline
// and extended frames), one implementation of entropy_decoder.h.
//
// decodeStrip is the streaming path of an image coded in one interleaved
// scan: it Huffman-decodes one strip's 8x8 blocks, dequantizes them into
// natural order as they arrive and has the inverse DCT write the samples
// into the component strips, reading restart markers between MCUs. The bit
// reader (huffman_reader.h) lives in locals for a whole MCU row; it goes
// back to the state only around a restart marker. decodeBlocks decodes the
// blocks of a multi-scan sequential image into the coefficient store.
// The file is built twice on x86-64 (JPEG_CODER_NAME, simd/kernels.h); the
// scan's decoder is chosen in entropy_decoder.cpp.
#include <cstddef>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/wrap_arith.h"
#include "decode/entropy_decoder.h"
#include "decode/huffman_reader.h"
#include "simd/coefficient_masks.h"
#include "simd/kernels.h"

using namespace huffman;

namespace {

constexpr int32_t kMaxVSamples = 4;  // row pointers per component strip

// For each zigzag position, the bit of its column (bits 0..7) and the bit of
// its row (bits 8..15): ORed over a block's coefficients they give its
// extent, the highest column and row holding one, for two instructions an
// event.
struct ExtentBits {
  uint16_t of[kBlockSize];
};

constexpr ExtentBits MakeExtentBits() {
  ExtentBits e{};
  const coefficient_masks::ZigzagPositions zigzag = coefficient_masks::MakeZigzagPositions();
  for (int32_t n = 0; n < kBlockSize; n++)
    e.of[zigzag.of[n]] = static_cast<uint16_t>(1u << (8 + n / 8) | 1u << (n % 8));
  return e;
}

constexpr ExtentBits kExtentBits = MakeExtentBits();
constexpr uint32_t kWholeBlockExtent = 0xFFFF;  // every row and column

inline int32_t HighestBit(uint32_t bits) { return 31 - __builtin_clz(bits | 1); }  // 0 for none
inline int32_t LastColumnOf(uint32_t extent) { return HighestBit(extent & 0xFF); }
inline int32_t LastRowOf(uint32_t extent) { return HighestBit(extent >> 8); }

// What the decoder does with the coefficient at one zigzag position: its
// quantizer, its extent bits (ExtentBits) and its natural position, in one
// eight-byte record, so that storing a coefficient reads one record from
// one base pointer. Made per strip from the component's quantization table.
struct ZigzagStep {
  int32_t quant;
  uint16_t extent;
  uint8_t natural;
  uint8_t unused;
};

struct ZigzagSteps {
  ZigzagStep at[kBlockSize];
};

void MakeZigzagSteps(ZigzagSteps* steps, const int32_t* quant) {
  for (int32_t k = 0; k < kBlockSize; k++)
    steps->at[k] = ZigzagStep{quant[k], kExtentBits.of[k], DCTunzigzag[k], 0};
}

// Decodes the AC coefficients of one block into `block` (natural order,
// dequantized as they arrive); returns the block's extent (ExtentBits; 0
// when only the DC was coded).
inline uint32_t DecodeACs(DCTState* state, BitReader& r, const DCTDHuffTable* table,
                          const ZigzagSteps* steps, int32_t* block) {
  uint32_t extent = 0;
  const bool overrun = DecodeACEvents(state, r, table, [&](int32_t k, int32_t v) {
    const ZigzagStep& step = steps->at[k];
    block[step.natural] = WrapMul(v, step.quant);
    extent |= step.extent;
  });
  return overrun ? kWholeBlockExtent : extent;
}

// Zeroes what a block and its transform left in the coefficient block. The
// transform writes only within columns 0..lastCol (all rows), and the
// decoder stores coefficients only there, so the rest is still zero; a
// block with only its DC left only that. Sixteen-byte stores, unrolled: a
// loop or memset of the whole block becomes a string store, whose start-up
// costs more than the 16 stores.
template <int32_t kStep>
inline void ClearEveryRowFrom0(int32_t* block) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
#pragma GCC unroll 16
  for (int32_t i = 0; i < kBlockSize; i += kStep) _mm_store_si128(reinterpret_cast<__m128i*>(block + i), zero);
#else
  for (int32_t i = 0; i < kBlockSize; i += kStep) std::memset(block + i, 0, 4 * sizeof *block);
#endif
}

inline void ClearUsedColumns(int32_t* block, uint32_t extent) {
  if (extent == 0) {
    block[0] = 0;
    return;
  }
  const int32_t lastCol = LastColumnOf(extent);
  if (lastCol == 0) {
    for (int32_t r = 0; r < 8; r++) block[8 * r] = 0;
  } else if (lastCol < 4) {
    ClearEveryRowFrom0<8>(block);  // the left half of each row
  } else {
    ClearEveryRowFrom0<4>(block);  // all of it
  }
}

// The first sample of each block row of a component's strip.
void StripRowPointers(uint8_t* rowPointers[kMaxVSamples], const DCTComponent* comp) {
  for (int32_t i = 0; i < comp->vSamples && i < kMaxVSamples; i++) {
    rowPointers[i] = comp->strip + static_cast<size_t>(8) * i * comp->stripWidth;
  }
}

// Decodes one block of `comp` and inverse-transforms it to `out`. `block`
// (64 coefficients and the discard slot) is zero on entry and on return, so
// the strip loops clear it once rather than once per block.
inline void DecodeBlock(DCTState* state, BitReader& r, DCTComponent* comp, const ZigzagSteps* steps,
                        uint8_t* out, int32_t* block) {
  const auto* dcTable = static_cast<const DCTDHuffTable*>(comp->dcHuffPtr);
  const auto* acTable = static_cast<const DCTDHuffTable*>(comp->acHuffPtr);
  comp->lastDC = WrapAdd(comp->lastDC, DecodeDCDifference(state, r, dcTable));
  block[0] = WrapMul(comp->lastDC, steps->at[0].quant);
  const uint32_t extent = DecodeACs(state, r, acTable, steps, block);
  DCTrev_transform(state, block, out, LastColumnOf(extent), LastRowOf(extent), comp);
  ClearUsedColumns(block, extent);
  state->blockNumber++;
}

// Decodes `count` blocks of one block row of `comp`, from `out` on.
void DecodeBlockRun(DCTState* state, int32_t count, DCTComponent* comp, const ZigzagSteps* steps,
                    uint8_t* out, int32_t* block) {
  BitReader r = LoadReader(state);
  for (int32_t b = 0; b < count; b++) {
    DecodeBlock(state, r, comp, steps, out, block);
    out += 8;
  }
  StoreReader(state, r);
}

// The blocks of one MCU in coding order: each one's component and the
// pointer to the block row it lands in, which moves on 8 samples a block.
// Listed once per strip, so that the MCU loop is one loop over blocks.
struct McuBlock {
  DCTComponent* comp;
  const ZigzagSteps* steps;
  uint8_t** out;
};

constexpr int32_t kMaxMcuBlocks = 4 * kMaxVSamples * kMaxVSamples;  // sampling factors are 1..4

int32_t ListMcuBlocks(DCTState* state, uint8_t* rowPointers[][kMaxVSamples], const ZigzagSteps* steps,
                      McuBlock* list) {
  int32_t n = 0;
  for (int32_t c = 0; c < state->Colors; c++) {
    DCTComponent* comp = &state->components[c];
    for (int32_t v = 0; v < comp->vSamples && v < kMaxVSamples; v++)
      for (int32_t h = 0; h < comp->hSamples && n < kMaxMcuBlocks; h++)
        list[n++] = McuBlock{comp, &steps[c], &rowPointers[c][v]};
  }
  return n;
}

// One MCU row of an interleaved scan. The reader stays in locals for the
// whole row; it goes back to the state only around a restart marker.
void DecodeInterleavedStrip(DCTState* state) {
  alignas(16) int32_t block[kCoefficientSlots] = {};
  uint8_t* rowPointers[4][kMaxVSamples];
  ZigzagSteps steps[4];
  for (int32_t c = 0; c < state->Colors; c++) {
    StripRowPointers(rowPointers[c], &state->components[c]);
    MakeZigzagSteps(&steps[c], state->components[c].qTablePtr);
  }
  McuBlock blocks[kMaxMcuBlocks];
  const int32_t blockCount = ListMcuBlocks(state, rowPointers, steps, blocks);
  BitReader r = LoadReader(state);
  for (int32_t mcu = 0; mcu < state->mcusPerRow; mcu++) {
    if (state->restartInterval != 0) {
      StoreReader(state, r);
      DCTDRestartStep(state);
      r = LoadReader(state);
    }
    for (int32_t b = 0; b < blockCount; b++) {
      DecodeBlock(state, r, blocks[b].comp, blocks[b].steps, *blocks[b].out, block);
      *blocks[b].out += 8;
    }
  }
  StoreReader(state, r);
}

// Up to vSamples block rows of a single-component scan; block rows that
// begin below the image are not in the data. Each block is one MCU.
void DecodeSingleStrip(DCTState* state) {
  alignas(16) int32_t block[kCoefficientSlots] = {};
  DCTComponent* comp = &state->components[0];
  ZigzagSteps steps;
  MakeZigzagSteps(&steps, comp->qTablePtr);
  for (int32_t row = 0; row < comp->vSamples; row++) {
    if (state->linesEmitted + DCTBlockSide(state) * row >= state->Rows) break;
    uint8_t* out = comp->strip + static_cast<size_t>(8) * row * comp->stripWidth;
    int32_t left = state->mcusPerRow;
    while (left > 0) {
      int32_t run = left;
      if (state->restartInterval != 0) {
        DCTDRestartStep(state);
        if (state->restartCountdown < run) run = state->restartCountdown;
        state->restartCountdown -= run - 1;
      }
      DecodeBlockRun(state, run, comp, &steps, out, block);
      out += static_cast<size_t>(8) * run;
      left -= run;
    }
  }
}

void DecodeStrip(DCTState* state) {
  if (state->Colors == 1) {
    DecodeSingleStrip(state);
  } else {
    DecodeInterleavedStrip(state);
  }
}

// Blocks of a multi-scan sequential image into the coefficient store: the
// DC prediction and every AC coefficient, as coded. A run past the last
// coefficient ends the block the way DecodeACs does.
void DecodeStoredBlocks(DCTState* state, DCTComponent* comp, int16_t* coefs, int32_t count) {
  BitReader r = LoadReader(state);
  const auto* dcTable = static_cast<const DCTDHuffTable*>(comp->dcHuffPtr);
  const auto* acTable = static_cast<const DCTDHuffTable*>(comp->acHuffPtr);
  int32_t lastDC = comp->lastDC;
  for (int32_t b = 0; b < count; b++, coefs += kBlockSize) {
    lastDC = WrapAdd(lastDC, DecodeDCDifference(state, r, dcTable));
    coefs[0] = StoreCoef(lastDC);
    DecodeACEvents(state, r, acTable,
                   [&](int32_t k, int32_t v) { coefs[DCTunzigzag[k]] = StoreCoef(v); });
    state->blockNumber++;
  }
  comp->lastDC = lastDC;
  StoreReader(state, r);
}

void StartScan(DCTState*) {}  // nothing of its own across a scan but the DC predictions

}  // namespace

const DCTDEntropyDecoder JPEG_CODER_NAME(kDCTDHuffmanSequential) = {
    StartScan, DecodeStrip, DecodeStoredBlocks, nullptr, DCTDRestartStep,
};
