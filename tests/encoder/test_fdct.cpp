// test_fdct.cpp - the encoder's scaled forward DCT and the scaling of its
// quantization tables: flat blocks exactly, random and extreme blocks
// against a double-precision DCT (ITU-T T.81 A.3.3), the scale table
// against its defining formula, and the table products.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "encoder/test_strips_support.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kStride = 24;  // a strip line wider than the block

// a(0) = 1, a(k) = sqrt(2) cos(k pi / 16): the AAN output scale factors.
double Aan(int k) { return k == 0 ? 1.0 : std::sqrt(2.0) * std::cos(k * kPi / 16); }

// 65536 x 8 x a(u) x a(v) x F(v, u), F the DCT of (sample - 128).
void ReferenceDct(const uint8_t* samples, int stride, double* out) {
  for (int v = 0; v < 8; v++) {
    for (int u = 0; u < 8; u++) {
      double sum = 0;
      for (int y = 0; y < 8; y++) {
        for (int x = 0; x < 8; x++) {
          sum += (samples[y * stride + x] - 128.0) * std::cos((2 * x + 1) * u * kPi / 16) *
                 std::cos((2 * y + 1) * v * kPi / 16);
        }
      }
      const double cu = u == 0 ? 1 / std::sqrt(2.0) : 1, cv = v == 0 ? 1 / std::sqrt(2.0) : 1;
      out[8 * v + u] = 65536.0 * 8 * Aan(u) * Aan(v) * 0.25 * cu * cv * sum;
    }
  }
}

// Transforms an 8 x 8 block stored in a strip of kStride bytes per line.
void Transform(const uint8_t* samples, int32_t* coef) {
  DCTComponent comp{};
  comp.stripWidth = kStride;
  DCTTransform(nullptr, coef, samples, &comp);
}

std::vector<uint8_t> Strip() { return std::vector<uint8_t>(8 * kStride, 0xA5); }

class FlatBlockTest : public ::testing::TestWithParam<int> {};

TEST_P(FlatBlockTest, OnlyTheDcCoefficient) {
  const int v = GetParam();
  std::vector<uint8_t> strip = Strip();
  for (int y = 0; y < 8; y++) std::memset(&strip[y * kStride], v, 8);
  int32_t coef[64];
  Transform(strip.data(), coef);
  EXPECT_EQ(coef[0], (v - 128) * 8 * 8 * 65536);
  for (int i = 1; i < 64; i++) EXPECT_EQ(coef[i], 0) << "coefficient " << i;
}

INSTANTIATE_TEST_SUITE_P(Values, FlatBlockTest,
                         ::testing::Values(0, 1, 64, 127, 128, 129, 200, 255));

TEST(Fdct, ExtremeFlatBlocks) {
  int32_t coef[64];
  std::vector<uint8_t> strip = Strip();
  for (int y = 0; y < 8; y++) std::memset(&strip[y * kStride], 0, 8);
  Transform(strip.data(), coef);
  EXPECT_EQ(coef[0], -536870912);
  for (int y = 0; y < 8; y++) std::memset(&strip[y * kStride], 255, 8);
  Transform(strip.data(), coef);
  EXPECT_EQ(coef[0], 532676608);
}

// Largest error, in units of F (65536 x 8 x a(u) x a(v)), relative to |F| or,
// for coefficients below 64, to 64.
double WorstError(const uint8_t* samples) {
  int32_t coef[64];
  double expected[64];
  Transform(samples, coef);
  ReferenceDct(samples, kStride, expected);
  double worst = 0;
  for (int v = 0; v < 8; v++) {
    for (int u = 0; u < 8; u++) {
      const double unit = 65536.0 * 8 * Aan(u) * Aan(v);
      const double f = std::fabs(expected[8 * v + u]) / unit;
      worst = std::max(worst,
                       std::fabs(coef[8 * v + u] - expected[8 * v + u]) / unit / std::max(f, 64.0));
    }
  }
  return worst;
}

// The integer multipliers are within about 1e-4 of the true constants, so
// every coefficient lies within 0.3% of the exact DCT (and within 0.2 of a
// unit of F where F is small; F itself reaches +-1024).
TEST(Fdct, RandomBlocksMatchTheExactDct) {
  std::mt19937 rng(42);
  double worst = 0;
  for (int n = 0; n < 2000; n++) {
    std::vector<uint8_t> strip = Strip();
    for (int y = 0; y < 8; y++) {
      for (int x = 0; x < 8; x++) strip[y * kStride + x] = static_cast<uint8_t>(rng() >> 24);
    }
    worst = std::max(worst, WorstError(strip.data()));
  }
  EXPECT_LT(worst, 0.003);
  RecordProperty("worst", std::to_string(worst));
}

// Blocks of only 0 and 255 (checkerboards, stripes, a single corner) push
// the intermediates to their extremes: still exact within tolerance, and
// without overflow under the sanitizers.
TEST(Fdct, ExtremeBlocksMatchTheExactDct) {
  using Pattern = bool (*)(int, int);
  const Pattern patterns[] = {
      [](int x, int y) { return ((x + y) & 1) != 0; },
      [](int x, int y) { return ((x + y) & 1) == 0; },
      [](int x, int) { return (x & 1) != 0; },
      [](int, int y) { return y < 4; },
      [](int x, int y) { return x < 4 && y < 4; },
      [](int x, int y) { return x == 0 && y == 0; },
      [](int x, int y) { return !(x == 7 && y == 7); },
      [](int x, int y) { return (x ^ y) > 3; },
  };
  for (Pattern p : patterns) {
    for (int invert = 0; invert < 2; invert++) {
      std::vector<uint8_t> strip = Strip();
      for (int y = 0; y < 8; y++) {
        for (int x = 0; x < 8; x++) strip[y * kStride + x] = p(x, y) != (invert != 0) ? 255 : 0;
      }
      EXPECT_LT(WorstError(strip.data()), 0.003);
    }
  }
}

// Bit-exact outputs for two blocks, computed independently with unbounded
// integers and flooring shifts from the multipliers and shift forms above:
// the coefficients reach the Huffman coder, so every rounding must match.
const uint8_t kGoldenASamples[64] = {130, 183, 14,  238, 127, 26, 80,  57,  190, 240, 126, 194, 52,
                                     127, 6,   110, 208, 143, 93, 199, 81,  36,  71,  227, 64,  67,
                                     0,   2,   107, 110, 84,  85, 148, 160, 101, 104, 93,  100, 196,
                                     152, 11,  184, 212, 84,  74, 135, 33,  169, 154, 1,   173, 33,
                                     158, 181, 156, 246, 161, 94, 246, 241, 90,  29,  131, 11};
const int32_t kGoldenACoef[64] = {
    -42860544, 58437488,  33080832,  -48450848, 30277632,  -41696,    -837120,   -7585648,
    -27030544, 98742117,  28676728,  34191758,  71626672,  -28564044, -50766774, -31664135,
    40548352,  123250245, -91891008, -31744373, 34359296,  52830576,  -7536320,  -2777666,
    3518184,   -46371733, -11801175, -5213814,  -44372264, -43239157, -5854409,  -3017437,
    -44302336, 16411200,  -42291200, 42918384,  -5505024,  37276176,  -40808448, 4843968,
    -32091368, -92124047, 9793353,   38709208,  24256296,  -12667623, 6959063,   8270463,
    -3192832,  27434955,  -17637568, -38596987, 6928384,   2268544,   -8764224,  -2641870,
    16806416,  -8654017,  15427734,  88880,     12976720,  9315848,   -2395992,  1457381};
const uint8_t kGoldenBSamples[64] = {
    255, 255, 74,  111, 255, 255, 222, 3,   255, 246, 85,  122, 219, 210, 233, 14,
    22,  59,  219, 201, 170, 207, 147, 129, 33,  70,  201, 174, 181, 218, 93,  66,
    255, 219, 118, 155, 111, 75,  10,  47,  255, 210, 129, 166, 75,  30,  21,  58,
    66,  103, 147, 93,  214, 251, 187, 133, 77,  114, 129, 66,  225, 6,   133, 70};
const int32_t kGoldenBCoef[64] = {
    49807360,  92802304,   -90980352, 96310016,  -26214400, -12235520, -13877248, 6099712,
    113373440, 2173737,    -28426835, 132454287, -54524864, 20220748,  -11152557, -10615489,
    47300608,  -66806935,  36662912,  117913035, -34643968, -17289164, -46788224, 19340951,
    26007296,  184739947,  120198706, 85275227,  23924960,  -5239169,  -17429169, -13829220,
    -26214400, 41484096,   -10919936, 12892000,  12058624,  -14333792, -7954432,  4522176,
    16877824,  -115832561, -68310066, -5244801,  -31396064, -2341335,  22425777,  -560278,
    -17940480, 22167959,   659840,    -36251723, 15769600,  5096012,   1076864,   -129943,
    3649280,   -10619235,  -679853,   -1768841,  -394304,   -1492180,  2248365,   -419717};

TEST(Fdct, BitExactOnFixedBlocks) {
  const uint8_t* samples[2] = {kGoldenASamples, kGoldenBSamples};
  const int32_t* expected[2] = {kGoldenACoef, kGoldenBCoef};
  for (int b = 0; b < 2; b++) {
    std::vector<uint8_t> strip = Strip();
    for (int y = 0; y < 8; y++) std::memcpy(&strip[y * kStride], samples[b] + 8 * y, 8);
    int32_t coef[64];
    Transform(strip.data(), coef);
    for (int i = 0; i < 64; i++)
      EXPECT_EQ(coef[i], expected[b][i]) << "block " << b << " coefficient " << i;
  }
}

// Entry (r, c) is round(4 a(r) a(c) 65536), except (6, 5), one below.
TEST(QuantScale, FollowsTheAanFactors) {
  for (int r = 0; r < 8; r++) {
    for (int c = 0; c < 8; c++) {
      const auto rule = static_cast<uint32_t>(std::lround(4 * Aan(r) * Aan(c) * 65536));
      const uint32_t expected = r == 6 && c == 5 ? rule - 1 : rule;
      EXPECT_EQ(DCTEQScale[8 * r + c], expected) << "row " << r << " column " << c;
    }
  }
  EXPECT_EQ(DCTEQScale[6 * 8 + 5], 111467u);
  EXPECT_EQ(DCTEQScale[5 * 8 + 6], 111468u);
}

// Both tables of every quantization table in use are multiplied, zigzag
// position i by the factor of its natural position; tables beyond
// qTableCount are left alone.
TEST(QuantScale, ScalesBothTablesInPlace) {
  strips_test::Layout layout;
  layout.qTables = 2;
  DCTState* s = strips_test::NewState(layout);
  for (int k = 0; k < 2; k++) {
    for (int i = 0; i < 64; i++) {
      s->qTable[k][i] = 1 + i + k;
      s->qThreshold[k][i] = k == 0 && i == 4 ? 255 : 90 - i - k;
    }
  }
  DCTEScaleQT(s);
  for (int k = 0; k < 2; k++) {
    for (int i = 0; i < 64; i++) {
      const auto scale = static_cast<int64_t>(DCTEQScale[DCTunzigzag[i]]);
      EXPECT_EQ(s->qTable[k][i], (1 + i + k) * scale);
      EXPECT_EQ(s->qThreshold[k][i], (k == 0 && i == 4 ? 255 : 90 - i - k) * scale);
    }
  }
  // The largest product: 255 at the position of the largest factor (1, 1).
  EXPECT_EQ(s->qThreshold[0][4], 255 * 504333);
  strips_test::FreeState(s);
}

// The transform and the scaled tables together: G / (2 x scaled step) is
// F / step, so quantization needs one division per coefficient.
TEST(QuantScale, TransformOverScaledStepIsDctOverStep) {
  strips_test::Layout layout;
  DCTState* s = strips_test::NewState(layout);
  for (int i = 0; i < 64; i++) s->qTable[0][i] = s->qThreshold[0][i] = 1 + (i * 7) % 50;
  DCTEScaleQT(s);
  std::mt19937 rng(9);
  std::vector<uint8_t> strip = Strip();
  for (int y = 0; y < 8; y++) {
    for (int x = 0; x < 8; x++) strip[y * kStride + x] = static_cast<uint8_t>(rng() >> 24);
  }
  int32_t coef[64];
  double reference[64];
  Transform(strip.data(), coef);
  ReferenceDct(strip.data(), kStride, reference);
  for (int i = 0; i < 64; i++) {
    const int n = DCTunzigzag[i];
    const double step = 1 + (i * 7) % 50;
    const double f = reference[n] / (65536.0 * 8 * Aan(n % 8) * Aan(n / 8));
    EXPECT_NEAR(coef[n] / (2.0 * s->qTable[0][i]), f / step, 0.1 / step) << "zigzag " << i;
  }
  strips_test::FreeState(s);
}

}  // namespace
