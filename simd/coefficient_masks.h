// coefficient_masks.h - bit masks over the 64 coefficients of a block, one
// bit a coefficient, as the dead-zone kernels make them (kernels.h) and the
// block coder (encode/block_coder.cpp) and the progressive refinement
// decoder (decode/huffman_progressive.cpp) walk them: a natural-order mask
// put into zigzag order, set bits counted, and runs of positions. The functions are static, as the entropy coders that
// use them are built twice (simd/kernels.h): no build lends the other code.
#ifndef JPEG_SIMD_COEFFICIENT_MASKS_H
#define JPEG_SIMD_COEFFICIENT_MASKS_H

#include <cstdint>
#if defined(__BMI2__)
#include <immintrin.h>
#endif

namespace coefficient_masks {

// The zigzag position of each natural (row-major) index (ITU-T T.81 A.3.6),
// for tables the compiler builds.
struct ZigzagPositions {
  uint8_t of[64];
};

constexpr ZigzagPositions MakeZigzagPositions() {
  ZigzagPositions z{};
  int k = 0;
  for (int diagonal = 0; diagonal < 15; diagonal++) {
    const int first = diagonal < 8 ? 0 : diagonal - 7;
    const int last = diagonal < 8 ? diagonal : 7;
    for (int i = first; i <= last; i++) {
      const int row = diagonal % 2 ? i : first + last - i;  // odd diagonals run downwards
      z.of[8 * row + diagonal - row] = static_cast<uint8_t>(k++);
    }
  }
  return z;
}

// Natural-order bit masks to zigzag-order ones, a byte (one block row) at a
// time: kZigzagBits.row[r][b] has bit k set for each set bit j of b whose
// natural index 8r + j sits at zigzag position k.
struct ZigzagBitTables {
  uint64_t row[8][256];
};

extern const ZigzagBitTables kZigzagBits;  // coefficient_masks.cpp

static inline uint64_t ToZigzagOrder(uint64_t natural) {
  uint64_t z = 0;
  for (int32_t r = 0; r < 8; r++) z |= kZigzagBits.row[r][(natural >> (8 * r)) & 0xFF];
  return z;
}

// Set bits of a word: one instruction where the build has it (the bit
// instruction builds), else without the library call a build for the
// baseline instruction set makes of __builtin_popcountll.
static inline int32_t BitCount(uint64_t x) {
#if defined(__POPCNT__)
  return __builtin_popcountll(x);
#else
  x -= (x >> 1) & 0x5555555555555555ull;
  x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
  return static_cast<int32_t>((x * 0x0101010101010101ull) >> 56);
#endif
}

// Positions from..to-1 (0 <= from, to <= 64); none when to <= from. With
// BMI2, each bound is one instruction that keeps the bits below it.
static inline uint64_t PositionRange(int32_t from, int32_t to) {
#if defined(__BMI2__)
  const uint64_t all = ~uint64_t{0};
  return _bzhi_u64(all, static_cast<uint32_t>(to)) & ~_bzhi_u64(all, static_cast<uint32_t>(from));
#else
  const uint64_t fromOn = from >= 64 ? 0 : ~uint64_t{0} << from;
  const uint64_t toOn = to >= 64 ? 0 : ~uint64_t{0} << to;
  return fromOn & ~toOn;
#endif
}

}  // namespace coefficient_masks

#endif
