// coefficient_masks.cpp - the zigzag bit tables of coefficient_masks.h,
// computed by the compiler.
#include "simd/coefficient_masks.h"

namespace coefficient_masks {
namespace {

constexpr ZigzagBitTables MakeZigzagBitTables() {
  ZigzagBitTables t{};
  const ZigzagPositions zigzag = MakeZigzagPositions();
  for (int r = 0; r < 8; r++)
    for (int b = 0; b < 256; b++)
      for (int j = 0; j < 8; j++)
        if (b >> j & 1) t.row[r][b] |= uint64_t{1} << zigzag.of[8 * r + j];
  return t;
}

}  // namespace

constexpr ZigzagBitTables kZigzagBits = MakeZigzagBitTables();

}  // namespace coefficient_masks
