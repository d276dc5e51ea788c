// test_idct.cpp - the decoder's dequantization scale and inverse DCT against
// a double-precision reference (ITU-T T.81 A.3.3): blocks (DC-only ones
// down to black and up to white) from quantized 8-bit samples, and the same bytes for any lastCol/lastRow
// that cover the non-zero coefficients, hostile values included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "codec/wrap_arith.h"
#include "decode/decoder.h"

namespace {

using Block = std::vector<int32_t>;  // 65 entries: natural order + discard slot

double C(int x, int u) { return (u == 0 ? std::sqrt(0.5) : 1.0) * std::cos((2 * x + 1) * u * M_PI / 16); }

// The T.81 A.3.3 transform: forward on level-shifted samples, or
// inverse (then +128, rounded and clamped).
void Reference(const double* in, double* out, bool inverse) {
  for (int a = 0; a < 64; ++a) {
    double sum = 0;
    for (int n = 0; n < 64; ++n) sum += in[n] * (inverse ? C(a >> 3, n >> 3) * C(a & 7, n & 7) : C(n >> 3, a >> 3) * C(n & 7, a & 7));
    out[a] = inverse ? std::clamp(std::floor(0.25 * sum + 128.5), 0.0, 255.0) : 0.25 * sum;
  }
}

// DCTrev_transform into an 8x8 area of a 13-byte-stride buffer: nothing
// beside the area may change.
std::vector<uint8_t> Transform(Block block, int lastCol, int lastRow) {
  DCTComponent comp{};
  comp.stripWidth = 13;
  std::vector<uint8_t> out(13 * 8, 0xA5), area;
  DCTrev_transform(nullptr, block.data(), out.data(), lastCol, lastRow, &comp);
  for (int n = 0; n < 13 * 8; ++n) {
    if (n % 13 < 8) { area.push_back(out[n]); } else { EXPECT_EQ(out[n], 0xA5); }
  }
  return area;
}

// Every (lastCol, lastRow) covering (c, r) gives the bytes of (7, 7).
void ExpectExtentIndependent(const Block& block, int c, int r) {
  const auto full = Transform(block, 7, 7);
  for (int col = c; col < 8; ++col)
    for (int row = r; row < 8; ++row) ASSERT_EQ(Transform(block, col, row), full) << "(" << c << "," << r << ") as " << col << "," << row;
}

// Within 1 of the double reference on blocks from quantizing 8-bit samples
// (noise, gradients, flat incl. black and white) at qualities 10..100,
// dequantized with DCTDScaleQT multipliers the way the block decoder does it.
TEST(InverseDCT, WithinOneOfDoubleReferenceAndExtentIndependent) {
  std::mt19937 rng(1234);
  for (int quality = 10; quality <= 100; quality += 15) {
    const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    std::vector<int32_t> natural(64), scaledZz(64);
    for (int n = 0; n < 64; ++n) natural[n] = std::clamp(((10 + 6 * ((n >> 3) + (n & 7))) * scale + 50) / 100, 1, 255);
    for (int k = 0; k < 64; ++k) scaledZz[k] = natural[DCTunzigzag[k]];
    DCTDScaleQT(nullptr, scaledZz.data(), 0);
    for (int i = 0; i < 150; ++i) {
      double samples[64], coef[64], expected[64];
      const double base = i % 60 == 2 ? 0.0 : i % 60 == 5 ? 255.0 : rng() % 256, gx = int(rng() % 61) - 30.0, gy = int(rng() % 61) - 30.0;
      for (int n = 0; n < 64; ++n) {
        const double v = i % 3 == 0 ? rng() % 256 : i % 3 == 1 ? base + gx * ((n & 7) - 3.5) + gy * ((n >> 3) - 3.5) : base;
        samples[n] = std::clamp(std::round(v), 0.0, 255.0) - 128;
      }
      Reference(samples, coef, false);
      Block block(65, 0);
      int lastCol = 0, lastRow = 0;
      for (int k = 0; k < 64; ++k) {
        const int n = DCTunzigzag[k], q = static_cast<int>(std::lround(coef[n] / natural[n]));
        coef[n] = q * natural[n];
        if (q == 0) continue;
        block[n] = WrapMul(q, scaledZz[k]);  // the decoder's 32-bit product
        if (k > 0) lastCol = std::max(lastCol, n & 7), lastRow = std::max(lastRow, n >> 3);
      }
      Reference(coef, expected, true);
      const auto out = Transform(block, lastCol, lastRow);
      for (int n = 0; n < 64; ++n) ASSERT_LE(std::abs(out[n] - expected[n]), 1) << "quality " << quality;
      if (i % 10 == 0) ExpectExtentIndependent(block, lastCol, lastRow);
    }
  }
}

// Hostile streams reach the transform with any 32-bit values: the result is
// defined (wrap-around; the sanitizer build checks), the same for every
// covering extent, and written only inside the 8x8 output area.
TEST(InverseDCT, HostileCoefficientsWrapAndStayInBlock) {
  std::mt19937 rng(7);
  for (int i = 0; i < 100; ++i) {
    const int c = static_cast<int>(rng() % 8), r = static_cast<int>(rng() % 8);
    Block block(65, 0);
    for (int n = 0; n < 64; ++n) block[n] = (n & 7) <= c && (n >> 3) <= r ? static_cast<int32_t>(rng()) : 0;
    if (i % 10 == 0) block[0] = INT32_MAX;  // the DC bias itself wraps
    ExpectExtentIndependent(block, c, r);
  }
}

}  // namespace
