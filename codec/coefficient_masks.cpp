// coefficient_masks.cpp - the zigzag bit tables of coefficient_masks.h,
// computed by the compiler.
#include "codec/coefficient_masks.h"

namespace coefficient_masks {
namespace {

constexpr ZigzagBitTables MakeZigzagBitTables() {
  ZigzagBitTables t{};
  uint8_t zigzagOf[64] = {};  // natural index -> zigzag position (ITU-T T.81 A.3.6)
  int k = 0;
  for (int diagonal = 0; diagonal < 15; diagonal++) {
    const int first = diagonal < 8 ? 0 : diagonal - 7;
    const int last = diagonal < 8 ? diagonal : 7;
    for (int i = first; i <= last; i++) {
      const int row = diagonal % 2 ? i : first + last - i;  // odd diagonals run downwards
      zigzagOf[8 * row + diagonal - row] = static_cast<uint8_t>(k++);
    }
  }
  for (int r = 0; r < 8; r++)
    for (int b = 0; b < 256; b++)
      for (int j = 0; j < 8; j++)
        if (b >> j & 1) t.row[r][b] |= uint64_t{1} << zigzagOf[8 * r + j];
  return t;
}

}  // namespace

constexpr ZigzagBitTables kZigzagBits = MakeZigzagBitTables();

}  // namespace coefficient_masks
