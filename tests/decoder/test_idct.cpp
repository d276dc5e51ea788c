// test_idct.cpp - the decoder's dequantization scale and inverse DCT against
// a double-precision reference (ITU-T T.81 A.3.3), the equivalence of the
// specialised forms, and the wrap-around behaviour on hostile coefficients.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "dct/dct_arith.h"
#include "dct/dctd.h"

namespace {

using Block = std::vector<int32_t>;  // 65 entries: natural order + discard slot

// ITU-T T.81 Annex K tables (K.1 luminance, K.2 chrominance), natural order.
const int kLumaQ[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                        14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                        18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                        49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
const int kChromaQ[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                          24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                          99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                          99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

double Alpha(int n) { return n == 0 ? 1.0 / std::sqrt(2.0) : 1.0; }

// cos((2x + 1) u pi / 16), the DCT basis, at [x][u].
struct Basis {
  double c[8][8];
  Basis() {
    for (int x = 0; x < 8; ++x) {
      for (int u = 0; u < 8; ++u) c[x][u] = std::cos((2 * x + 1) * u * M_PI / 16);
    }
  }
};
const Basis kBasis;

// Forward DCT of T.81 A.3.3 on level-shifted samples, natural order.
void ForwardDct(const uint8_t* samples, double* coef) {
  for (int u = 0; u < 8; ++u) {
    for (int v = 0; v < 8; ++v) {
      double sum = 0;
      for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
          sum += (samples[8 * y + x] - 128.0) * kBasis.c[x][v] * kBasis.c[y][u];
        }
      }
      coef[8 * u + v] = 0.25 * Alpha(u) * Alpha(v) * sum;
    }
  }
}

// Inverse DCT of T.81 A.3.3, then +128, round and clamp.
void ReferenceIdct(const double* coef, uint8_t* out) {
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      double sum = 0;
      for (int u = 0; u < 8; ++u) {
        for (int v = 0; v < 8; ++v) {
          sum += Alpha(u) * Alpha(v) * coef[8 * u + v] * kBasis.c[x][v] * kBasis.c[y][u];
        }
      }
      const double value = std::floor(0.25 * sum + 128.0 + 0.5);
      out[8 * y + x] = static_cast<uint8_t>(std::clamp(value, 0.0, 255.0));
    }
  }
}

// IJG-style quality scaling of a base table (quality 1..100), natural order.
std::vector<int> ScaledTable(const int* base, int quality) {
  const int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
  std::vector<int> q(64);
  for (int i = 0; i < 64; ++i) q[i] = std::clamp((base[i] * scale + 50) / 100, 1, 255);
  return q;
}

// The transform-ready multipliers for a natural-order table: zigzag order,
// scaled by DCTDScaleQT.
std::vector<int32_t> ScaledZigzag(const std::vector<int>& natural) {
  std::vector<int32_t> zz(64);
  for (int k = 0; k < 64; ++k) zz[k] = natural[DCTunzigzag[k]];
  DCTDScaleQT(nullptr, zz.data(), 0);
  return zz;
}

struct Extent {
  int lastCol = 0;
  int lastRow = 0;
};

// Dequantizes quantized coefficients the way the block decoder does and
// notes how far the non-zero AC coefficients reach.
Extent Dequantize(const int* quantized, const std::vector<int32_t>& scaledZz, Block& block) {
  block.assign(65, 0);
  Extent e;
  int highest = 0;
  for (int k = 0; k < 64; ++k) {
    const int n = DCTunzigzag[k];
    if (quantized[n] == 0) continue;
    block[n] = WrapMul(quantized[n], scaledZz[k]);  // the decoder's 32-bit product
    if (k > 0) {
      highest = std::max(highest, n);
      e.lastCol = std::max(e.lastCol, n & 7);
    }
  }
  e.lastRow = highest >> 3;
  return e;
}

// Runs DCTrev_transform on a copy of `block` into an 8x8 output (stride 8).
std::vector<uint8_t> Transform(const Block& block, int lastCol, int lastRow, int stride = 8) {
  DCTComponent comp{};
  comp.stripWidth = stride;
  Block scratch = block;
  std::vector<uint8_t> out(static_cast<size_t>(stride) * 8, 0xA5);
  DCTrev_transform(nullptr, scratch.data(), out.data(), lastCol, lastRow, &comp);
  return out;
}

enum class Kind { kNoise, kSmooth, kEdges, kFlat };

void MakeSamples(Kind kind, std::mt19937& rng, uint8_t* s) {
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const double base = byte(rng), gx = unit(rng) * 30, gy = unit(rng) * 30, curve = unit(rng) * 3;
  const int split = byte(rng) % 8, lo = byte(rng), hi = byte(rng);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      double v = 0;
      switch (kind) {
        case Kind::kNoise: v = byte(rng); break;
        case Kind::kSmooth: v = base + gx * (x - 3.5) + gy * (y - 3.5) + curve * x * y; break;
        case Kind::kEdges: v = (x + y / 2 > split ? hi : lo) + unit(rng) * 8; break;
        case Kind::kFlat: v = base; break;
      }
      s[8 * y + x] = static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
    }
  }
}

TEST(DCTDQScale, KnownEntriesAndDerivation) {
  auto at = [](int row, int col) {
    for (int k = 0; k < 64; ++k) {
      if (DCTunzigzag[k] == 8 * row + col) return DCTDQScale[k];
    }
    return 0u;
  };
  EXPECT_EQ(at(0, 0), 32768u);
  EXPECT_EQ(at(0, 1), 23624u);
  EXPECT_EQ(at(1, 0), 23624u);
  EXPECT_EQ(at(1, 1), 17032u);
  EXPECT_EQ(at(0, 4), 32768u);
  EXPECT_EQ(at(4, 4), 32768u);
  EXPECT_EQ(at(7, 7), 430476u);
  auto a = [](int n) { return n == 0 ? 1.0 : std::sqrt(2.0) * std::cos(n * M_PI / 16); };
  for (int k = 0; k < 64; ++k) {
    const int n = DCTunzigzag[k];
    EXPECT_EQ(DCTDQScale[k], std::lround(32768.0 / (a(n >> 3) * a(n & 7)))) << "zigzag " << k;
  }
}

TEST(DCTDScaleQT, MultipliesInPlaceWithWrapAround) {
  std::vector<int32_t> table(64, 1);
  table[63] = 65535;  // a 16-bit quantizer at (7,7): 65535 * 430476 exceeds 2^31
  table[10] = 3;
  DCTDScaleQT(nullptr, table.data(), 0);
  EXPECT_EQ(table[0], 32768);
  EXPECT_EQ(table[10], 3 * 32768);
  EXPECT_EQ(table[63], static_cast<int32_t>(65535u * 430476u));
  EXPECT_LT(table[63], 0);
  // Decoding goes on with the wrapped multiplier: any coefficient gives samples.
  Block block(65, 0);
  block[63] = table[63] * 1;
  block[0] = 5 * table[0];
  const auto out = Transform(block, 7, 7);
  EXPECT_EQ(out.size(), 64u);
}

TEST(DCTrevTransform, DcOnlyBlocks) {
  const struct {
    int32_t dc;  // dequantized DC value (quantizer x value)
    uint8_t expected;
  } cases[] = {{0, 128}, {80, 138}, {-1024, 0}, {1016, 255}, {-8, 127}, {4, 129}, {-4, 128}, {12, 130}};
  for (const auto& c : cases) {
    Block block(65, 0);
    block[0] = c.dc * 32768;  // the scaled quantizer carries 2^15
    for (int lastCol = 0; lastCol < 8; ++lastCol) {
      for (int lastRow = 0; lastRow < 8; ++lastRow) {
        const auto out = Transform(block, lastCol, lastRow);
        for (uint8_t s : out) ASSERT_EQ(s, c.expected) << "dc " << c.dc;
      }
    }
  }
}

// The claimed accuracy: at most 1 of difference from the double reference on
// blocks that come from quantizing real 8-bit samples at qualities 10..100.
TEST(DCTrevTransform, WithinOneOfDoubleReference) {
  std::mt19937 rng(1234);
  int worst = 0;
  long blocks = 0, samplesOff = 0;
  const Kind kinds[] = {Kind::kNoise, Kind::kSmooth, Kind::kEdges, Kind::kFlat};
  for (int quality = 10; quality <= 100; quality += 5) {
    for (const int* base : {kLumaQ, kChromaQ}) {
      const auto natural = ScaledTable(base, quality);
      const auto scaledZz = ScaledZigzag(natural);
      for (int i = 0; i < 1000; ++i) {
        uint8_t samples[64];
        MakeSamples(kinds[i % 4], rng, samples);
        double coef[64], dequant[64];
        int quantized[64];
        ForwardDct(samples, coef);
        for (int n = 0; n < 64; ++n) {
          quantized[n] = static_cast<int>(std::lround(coef[n] / natural[n]));
          dequant[n] = quantized[n] * natural[n];
        }
        uint8_t expected[64];
        ReferenceIdct(dequant, expected);
        Block block;
        const Extent e = Dequantize(quantized, scaledZz, block);
        const auto out = Transform(block, e.lastCol, e.lastRow);
        for (int n = 0; n < 64; ++n) {
          const int diff = std::abs(out[n] - expected[n]);
          worst = std::max(worst, diff);
          samplesOff += diff != 0;
        }
        ++blocks;
      }
    }
  }
  std::printf("IDCT vs double reference: %ld blocks, %ld samples off by 1, worst difference %d\n",
              blocks, samplesOff, worst);
  RecordProperty("worst_difference", worst);
  EXPECT_LE(worst, 1);
}

// Blocks whose non-zero coefficients lie within (c, r): transform with every
// (lastCol, lastRow) >= (c, r) and expect the same bytes.
void ExpectExtentIndependent(const Block& block, int c, int r) {
  const auto full = Transform(block, 7, 7);
  for (int lastCol = c; lastCol < 8; ++lastCol) {
    for (int lastRow = r; lastRow < 8; ++lastRow) {
      ASSERT_EQ(Transform(block, lastCol, lastRow), full)
          << "extent (" << c << "," << r << ") passed as (" << lastCol << "," << lastRow << ")";
    }
  }
}

TEST(DCTrevTransform, SameBytesForAnyCoveringExtent) {
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> small(-60, 60);
  const auto scaledZz = ScaledZigzag(ScaledTable(kLumaQ, 50));
  for (int c = 0; c < 8; ++c) {
    for (int r = 0; r < 8; ++r) {
      for (int i = 0; i < 40; ++i) {
        Block block(65, 0);
        for (int k = 0; k < 64; ++k) {
          const int n = DCTunzigzag[k];
          if ((n & 7) <= c && (n >> 3) <= r && rng() % 3 != 0) block[n] = WrapMul(small(rng), scaledZz[k]);
        }
        ExpectExtentIndependent(block, c, r);
      }
    }
  }
}

// Hostile streams reach the transform with any 32-bit values: the result is
// still defined (wrap-around, checked by the sanitizer build), the same for
// every form, and written only inside the 8x8 output area.
TEST(DCTrevTransform, HostileCoefficientsWrapAndStayInBlock) {
  std::mt19937 rng(7);
  for (int i = 0; i < 300; ++i) {
    const int c = static_cast<int>(rng() % 8), r = static_cast<int>(rng() % 8);
    Block block(65, 0);
    for (int n = 0; n < 64; ++n) {
      if ((n & 7) <= c && (n >> 3) <= r) block[n] = static_cast<int32_t>(rng());
    }
    if (i % 10 == 0) block[0] = INT32_MAX;  // the DC bias itself wraps
    ExpectExtentIndependent(block, c, r);
    const int stride = 13;
    const auto out = Transform(block, c, r, stride);
    for (int y = 0; y < 8; ++y) {
      for (int x = 8; x < stride; ++x) ASSERT_EQ(out[y * stride + x], 0xA5);
    }
  }
}

}  // namespace
