// test_fdct.cpp - the encoder's scaled forward DCT and the scaling of its
// quantization tables: flat blocks exactly, a fixed block bit-exactly,
// random and extreme blocks against a double-precision DCT (ITU-T T.81
// A.3.3), the scale table against its defining formula, and the products.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "dct/dcte.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kStride = 24;  // a strip line wider than the block

// a(0) = 1, a(k) = sqrt(2) cos(k pi / 16): the AAN output scale factors.
double Aan(int k) { return k == 0 ? 1.0 : std::sqrt(2.0) * std::cos(k * kPi / 16); }

// Transforms an 8 x 8 block (8 bytes per row) placed in a strip of kStride
// bytes per line whose other bytes are not part of the block.
void Transform(const uint8_t* block, int32_t* coef) {
  std::vector<uint8_t> strip(8 * kStride, 0xA5);
  for (int y = 0; y < 8; y++) std::memcpy(&strip[y * kStride], block + 8 * y, 8);
  DCTComponent comp{};
  comp.stripWidth = kStride;
  DCTTransform(nullptr, coef, strip.data(), &comp);
}

// Largest error of the transform of `block`, in units of F (65536 x 8 x a(u)
// x a(v), F the DCT of sample - 128), relative to |F| or, below 64, to 64.
double WorstError(const uint8_t* block) {
  int32_t coef[64];
  Transform(block, coef);
  double worst = 0;
  for (int v = 0; v < 8; v++) {
    for (int u = 0; u < 8; u++) {
      double f = 0;
      for (int y = 0; y < 8; y++) {
        for (int x = 0; x < 8; x++) {
          f += (block[8 * y + x] - 128.0) * std::cos((2 * x + 1) * u * kPi / 16) *
               std::cos((2 * y + 1) * v * kPi / 16);
        }
      }
      f *= 0.25 * (u == 0 ? M_SQRT1_2 : 1) * (v == 0 ? M_SQRT1_2 : 1);
      const double got = coef[8 * v + u] / (65536.0 * 8 * Aan(u) * Aan(v));
      worst = std::max(worst, std::fabs(got - f) / std::max(std::fabs(f), 64.0));
    }
  }
  return worst;
}

TEST(Fdct, FlatBlocksHaveOnlyDc) {
  for (int v : {0, 1, 64, 127, 128, 129, 200, 255}) {
    const std::vector<uint8_t> block(64, static_cast<uint8_t>(v));
    int32_t coef[64];
    Transform(block.data(), coef);
    EXPECT_EQ(coef[0], (v - 128) * 8 * 8 * 65536) << v;
    for (int i = 1; i < 64; i++) EXPECT_EQ(coef[i], 0) << v << ": coefficient " << i;
  }
  int32_t coef[64];
  Transform(std::vector<uint8_t>(64, 0).data(), coef);
  EXPECT_EQ(coef[0], -536870912);
  Transform(std::vector<uint8_t>(64, 255).data(), coef);
  EXPECT_EQ(coef[0], 532676608);
}

// Computed independently with unbounded integers and flooring shifts from
// the row multipliers and column shift forms: the coefficients reach the
// entropy coder, so every rounding must match bit for bit.
const uint8_t kGoldenSamples[64] = {130, 183, 14,  238, 127, 26, 80,  57,  190, 240, 126, 194, 52,
                                    127, 6,   110, 208, 143, 93, 199, 81,  36,  71,  227, 64,  67,
                                    0,   2,   107, 110, 84,  85, 148, 160, 101, 104, 93,  100, 196,
                                    152, 11,  184, 212, 84,  74, 135, 33,  169, 154, 1,   173, 33,
                                    158, 181, 156, 246, 161, 94, 246, 241, 90,  29,  131, 11};
const int32_t kGoldenCoef[64] = {
    -42860544, 58437488,  33080832,  -48450848, 30277632,  -41696,    -837120,   -7585648,
    -27030544, 98742117,  28676728,  34191758,  71626672,  -28564044, -50766774, -31664135,
    40548352,  123250245, -91891008, -31744373, 34359296,  52830576,  -7536320,  -2777666,
    3518184,   -46371733, -11801175, -5213814,  -44372264, -43239157, -5854409,  -3017437,
    -44302336, 16411200,  -42291200, 42918384,  -5505024,  37276176,  -40808448, 4843968,
    -32091368, -92124047, 9793353,   38709208,  24256296,  -12667623, 6959063,   8270463,
    -3192832,  27434955,  -17637568, -38596987, 6928384,   2268544,   -8764224,  -2641870,
    16806416,  -8654017,  15427734,  88880,     12976720,  9315848,   -2395992,  1457381};

TEST(Fdct, BitExactOnAFixedBlock) {
  int32_t coef[64];
  Transform(kGoldenSamples, coef);
  for (int i = 0; i < 64; i++) EXPECT_EQ(coef[i], kGoldenCoef[i]) << "coefficient " << i;
}

// The integer multipliers are within about 1e-4 of the true constants, so
// every coefficient is within 0.3% of the exact DCT (0.2 of a unit where F
// is small; F reaches +-1024). Blocks of only 0 and 255 push the
// intermediates to their extremes (overflow would show under the sanitizers).
TEST(Fdct, MatchesTheExactDct) {
  std::mt19937 rng(42);
  double worst = 0;
  uint8_t block[64];
  for (int n = 0; n < 2000; n++) {
    for (uint8_t& s : block) s = static_cast<uint8_t>(rng() >> 24);
    worst = std::max(worst, WorstError(block));
  }
  for (int pattern = 0; pattern < 8; pattern++) {
    for (int i = 0; i < 64; i++) {
      const int x = i % 8, y = i / 8;
      const bool on[8] = {((x + y) & 1) != 0, (x & 1) != 0, y < 4,
                          x < 4 && y<4, i == 0, i != 63, (x ^ y)> 3, ((x * y) & 2) != 0};
      block[i] = on[pattern] ? 255 : 0;
    }
    worst = std::max(worst, WorstError(block));
    for (uint8_t& s : block) s = static_cast<uint8_t>(255 - s);
    worst = std::max(worst, WorstError(block));
  }
  EXPECT_LT(worst, 0.003);
  RecordProperty("worst", std::to_string(worst));
}

// Entry (r, c) is round(4 a(r) a(c) 65536), except (6, 5), one below.
TEST(QuantScale, FollowsTheAanFactors) {
  for (int r = 0; r < 8; r++) {
    for (int c = 0; c < 8; c++) {
      const auto rule = static_cast<uint32_t>(std::lround(4 * Aan(r) * Aan(c) * 65536));
      EXPECT_EQ(DCTEQScale[8 * r + c], r == 6 && c == 5 ? rule - 1 : rule) << r << ", " << c;
    }
  }
  EXPECT_EQ(DCTEQScale[6 * 8 + 5], 111467u);
}

// Both tables of each table in use are scaled, zigzag position i by the
// factor of its natural position; a table beyond qTableCount is left alone.
TEST(QuantScale, ScalesBothTablesInPlace) {
  DCTState state{};
  int32_t tables[3][2][64];
  for (int k = 0; k < 3; k++) {
    state.qTable[k] = tables[k][0];
    state.qThreshold[k] = tables[k][1];
    for (int i = 0; i < 64; i++) {
      tables[k][0][i] = 1 + i + k;
      tables[k][1][i] = i == 4 ? 255 : 90 - i - k;  // 4: natural (1, 1), the largest factor
    }
  }
  state.qTableCount = 2;
  DCTEScaleQT(&state);
  for (int k = 0; k < 3; k++) {
    for (int i = 0; i < 64; i++) {
      const int64_t scale = k < 2 ? DCTEQScale[DCTunzigzag[i]] : 1;
      EXPECT_EQ(tables[k][0][i], (1 + i + k) * scale) << k << ", " << i;
      EXPECT_EQ(tables[k][1][i], (i == 4 ? 255 : 90 - i - k) * scale) << k << ", " << i;
    }
  }
  EXPECT_EQ(tables[0][1][4], 255 * 504333);
}

}  // namespace
