// test_strips_support.h - building an encoder codec state by hand for the
// strip and transform tests, feeding raster lines through the input-strip
// code the way the per-line driver does, and catching raised errors.
#ifndef JPEG_TESTS_ENCODER_TEST_STRIPS_SUPPORT_H
#define JPEG_TESTS_ENCODER_TEST_STRIPS_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include "dct/dcte.h"

namespace strips_test {

// An image layout as the encode filter would configure it.
struct Layout {
  int colors = 1;
  int columns = 8;
  int rows = 8;
  int h[4] = {1, 1, 1, 1};
  int v[4] = {1, 1, 1, 1};
  int transform = 0;  // 0 none, 1 YCbCr (YCCK for four components)
  int blend = 0;
  int forceHFast = -1;  // >= 0: replaces the hFastMode DCTInitCommon chose
  int forceVFast = -1;  // >= 0: replaces vFastMode
  int qTables = 1;
};

// A state ready for raster lines: geometry, edge counts (as the encoder
// set-up derives them), strip memory and colour tables. Free with FreeState.
DCTState* NewState(const Layout& layout);
void FreeState(DCTState* state);

// Every component's strips, one after another: plane[c] has stripWidth
// bytes per line and 8 x V lines per strip.
struct Planes {
  std::vector<std::vector<uint8_t>> plane;
  std::vector<int> width;
  const uint8_t* Line(int c, int y) const { return &plane[c][static_cast<size_t>(y) * width[c]]; }
};

// Feeds `pixels` (rows x columns x colors bytes) line by line, completing
// the last strip after the last line, and collects every finished strip.
Planes FeedImage(DCTState* state, const std::vector<uint8_t>& pixels);

// Runs fn(state) with the error jump armed; returns the raised message, or
// an empty string when nothing was raised.
std::string RaisedMessage(void (*fn)(DCTState*), DCTState* state);

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed);

}  // namespace strips_test

#endif
