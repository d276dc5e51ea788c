// test_enc_strips.cpp - the encoder's input strips and forward DCT: colour
// conversion and horizontal reduction on every line path against a
// double-precision reference, fast paths against the general one, vertical
// reduction, the right-edge and bottom fills; the transform's flat blocks
// and its accuracy against a double-precision DCT. States are built by hand
// as the encoder set-up builds them, and lines are fed as the per-line
// driver feeds them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encode/encoder.h"
#include "parallel/strip_jobs.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Components with their sampling (H, V), colour transform and blend;
// forceFast >= 0 replaces both fast-mode selectors the set-up chose;
// tolerance between the fast and the general path.
struct Layout {
  const char* name;
  int colors;
  std::vector<int> h, v;
  int transform = 0, blend = 0, forceFast = -1, tolerance = 0, columns = 8, rows = 8;
};

// A state for the layout as the encoder set-up prepares it; forcing the
// general path clears the selectors and lays the strip memory out again.
struct State {
  explicit State(const Layout& l) : s(DCTFirstInit()) {
    s->Colors = s->outputColors = l.colors;
    s->Columns = l.columns;
    s->Rows = l.rows;
    s->blend = l.blend;
    s->colorTransform = l.transform;
    for (int i = 0; i < l.colors; i++) {
      s->components[i].hSamples = l.h[i];
      s->components[i].vSamples = l.v[i];
    }
    DCTEncodeOpen(s);
    if (l.forceFast < 0) return;
    s->hFastMode = s->vFastMode = l.forceFast;
    DCTfree(s);
    DCTallocate(s, s->inputLineBytes, 1);
    if (s->colorTransform != 0) DCTEInitCT(s);
  }
  ~State() {
    DCTfree(s);
    std::free(s);
  }
  DCTState* s;
};

// Every finished strip of every component, one after another.
struct Planes {
  std::vector<Bytes> plane;
  const DCTState* s;
  int At(int c, int y, int x) const {
    return plane[c][static_cast<size_t>(y) * s->components[c].stripWidth + x];
  }
};

// Feeds the image line by line, completing the last strip after the last
// line, exactly as the per-line driver does.
Planes Feed(DCTState* s, const Bytes& pixels) {
  Planes p{std::vector<Bytes>(s->Colors), s};
  for (int y = 0; y < s->Rows; y++) {
    std::memcpy(s->lineBuffer, &pixels[static_cast<size_t>(y) * s->inputLineBytes], s->inputLineBytes);
    DCTEGetNCLine(s);
    if (++s->linesDone == s->Rows) DCTEget_ovflines(s);
    if (++s->stripSubLine < s->maxVSamples) continue;
    s->stripSubLine = 0;
    if (++s->stripBlockLine < 8) continue;
    s->stripBlockLine = 0;
    for (int c = 0; c < s->Colors; c++) {
      const DCTComponent& k = s->components[c];
      p.plane[c].insert(p.plane[c].end(), k.strip, k.strip + 8 * k.vSamples * k.stripWidth);
    }
  }
  return p;
}

Bytes Random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  std::generate(b.begin(), b.end(), [&] { return static_cast<uint8_t>(rng() >> 24); });
  return b;
}

// ---- conversion and horizontal reduction --------------------------------------

// Test names and failure messages show the layout by its name.
void PrintTo(const Layout& layout, std::ostream* out) { *out << layout.name; }

class LinePathTest : public ::testing::TestWithParam<Layout> {};

// One line of random pixels with red, white and black in front (four pixels
// each, so that subsampled chroma sees the pure colour): every image sample
// of every component against the reference of its pixel, of the exact mean
// of its pixel pair (blend), or of the raw sample without a transform.
TEST_P(LinePathTest, MatchesReference) {
  Layout l = GetParam();
  l.columns = 301;
  l.rows = 1;
  const int colors = l.colors;
  Bytes pixels = Random(301u * colors, 7);
  const int known[3][3] = {{255, 0, 0}, {255, 255, 255}, {0, 0, 0}};  // red clamps Cr at 255
  for (int k = 0; k < 12; k++)
    for (int c = 0; c < std::min(colors, 3); c++)
      pixels[k * colors + c] = static_cast<uint8_t>(colors == 4 ? 255 - known[k / 4][c] : known[k / 4][c]);
  State st(l);
  const int hmax = st.s->maxHSamples;
  const Planes planes = Feed(st.s, pixels);
  // Table conversions round to nearest (within the fixed-point slack); the
  // general path's blend averages two already rounded conversions.
  const double tolerance = l.blend && st.s->hFastMode == 0 && l.transform ? 1.0 : 0.51;
  // The pixel of a group of hmax that sample j of h per group comes from.
  static const int kPicks[5][4][3] = {{}, {}, {{0}}, {{1}, {0, 2}}, {{1}, {0, 2}, {0, 1, 3}}};
  for (int c = 0; c < colors; c++) {
    const DCTComponent& comp = st.s->components[c];
    const int h = comp.hSamples, k = comp.edgeSamples & 7;
    for (int i = 0; i < comp.lastBlockX + (k ? k : 8); i++) {
      const int first = i / h * hmax + (h == hmax ? i % h : kPicks[hmax][h - 1][i % h]);
      const bool pair = h < hmax && hmax == 2 && l.blend;
      const int x0 = std::min(first, l.columns - 1), x1 = std::min(pair ? first + 1 : first, l.columns - 1);
      double mean[4];
      for (int j = 0; j < colors; j++) mean[j] = (pixels[x0 * colors + j] + pixels[x1 * colors + j]) / 2.0;
      // Y, Cb, Cr (ITU-R BT.601 as JFIF uses it) of RGB, or of the RGB that
      // C, M, Y complement (YCCK), clamped to 0..255.
      const double r = colors == 4 ? 255 - mean[0] : mean[0], g = colors == 4 ? 255 - mean[1] : mean[1],
                   b = colors == 4 ? 255 - mean[2] : mean[2];
      const double ycc[3] = {0.299 * r + 0.587 * g + 0.114 * b,
                             std::min(255.0, -0.168736 * r - 0.331264 * g + 0.5 * b + 128),
                             std::min(255.0, 0.5 * r - 0.418688 * g - 0.081312 * b + 128)};
      const double expected = l.transform && c < 3 ? ycc[c] : mean[c];
      const int got = planes.At(c, 0, i);
      ASSERT_LE(std::fabs(got - expected), tolerance) << "component " << c << " sample " << i;
    }
  }
}

// Odd sizes exercise the replicated right edge, the fills and the completion
// of the last group, tiny ones the bounds of the strip memory (checked by the
// sanitizer build); the general path is forced by clearing the selectors
// before the strip memory is laid out.
TEST_P(LinePathTest, FastPathMatchesGeneralPath) {
  for (int columns : {1, 2, 3, 7, 9, 53}) {
    for (int rows : {1, 2, 5, 9, 33, 34, 35, 36, 66}) {
      Layout fast = GetParam(), general = GetParam();
      fast.columns = general.columns = columns;
      fast.rows = general.rows = rows;
      general.forceFast = 0;
      const Bytes pixels = Random(static_cast<size_t>(columns) * rows * fast.colors, rows);
      State a(fast), b(general);
      const Planes pa = Feed(a.s, pixels), pb = Feed(b.s, pixels);
      for (int c = 0; c < fast.colors; c++) {
        ASSERT_EQ(pa.plane[c].size(), pb.plane[c].size());
        for (size_t i = 0; i < pa.plane[c].size(); i++)
          ASSERT_LE(std::abs(pa.plane[c][i] - pb.plane[c][i]), fast.tolerance)
              << columns << "x" << rows << ", component " << c << " at " << i;
      }
    }
  }
}

// Sampling (H, V of each component), transform, blend; the general path
// forced on some layouts the fast paths also handle. Names: the fast paths'
// pair tables round the chroma of a blended pair once, the general path
// averages two rounded conversions (tolerance 1); luma-only lines keep
// chroma once per four lines; the general path's own luma-only lines
// convert the last image line in full and repeat it from the converted buffer.
const Layout kLayouts[] = {
    {"YCbCr111", 3, {1, 1, 1}, {2, 1, 1}, 1},          {"YCbCr211", 3, {2, 1, 1}, {2, 1, 1}, 1},
    {"YCbCr211Blend", 3, {2, 1, 1}, {2, 1, 1}, 1, 1, -1, 1},
    {"YCbCr111General", 3, {1, 1, 1}, {1, 1, 1}, 1, 0, 0},
    {"YCbCr211BlendGeneral", 3, {2, 1, 1}, {1, 1, 1}, 1, 1, 0},
    {"YCbCr311General", 3, {3, 1, 1}, {1, 1, 1}, 1},   {"YCbCr412General", 3, {4, 1, 2}, {1, 1, 1}, 1, 1},
    {"Ycck1111", 4, {1, 1, 1, 1}, {1, 1, 1, 1}, 1},    {"Ycck2112", 4, {2, 1, 1, 2}, {1, 1, 1, 1}, 1},
    {"Ycck2112Blend", 4, {2, 1, 1, 2}, {2, 1, 1, 2}, 1, 1, -1, 1},
    {"Ycck1112General", 4, {1, 1, 1, 2}, {1, 1, 1, 1}, 1}, {"Grey3", 1, {3}, {1}},
    {"LumaOnlyYCbCr111", 3, {1, 1, 1}, {4, 1, 1}, 1},  {"LumaOnlyYCbCr211", 3, {2, 1, 1}, {4, 1, 1}, 1},
    {"LumaOnlyYcck", 4, {1, 1, 1, 1}, {4, 1, 1, 4}, 2}, {"LumaOnlyGrey2", 2, {1, 1}, {4, 1}},
    {"LumaOnlyPairs211", 3, {2, 1, 1}, {4, 1, 1}},
    {"GeneralLumaOnlyYCbCr", 3, {2, 1, 1}, {4, 1, 1}, 1, 0, 0},
    {"GeneralLumaOnlyYcck", 4, {1, 1, 1, 1}, {4, 1, 1, 4}, 1, 0, 0},
    {"Pairs211", 3, {2, 1, 1}, {2, 1, 1}},             {"Pairs211Blend", 3, {2, 1, 1}, {2, 1, 1}, 0, 1},
    {"Pairs21Blend", 2, {2, 1}, {1, 1}, 0, 1},         {"Copy1111", 4, {1, 1, 1, 1}, {1, 1, 1, 1}},
    {"Picks312", 3, {3, 1, 2}, {1, 1, 1}},             {"Picks4123", 4, {4, 1, 2, 3}, {1, 1, 1, 1}}};
INSTANTIATE_TEST_SUITE_P(Paths, LinePathTest, ::testing::ValuesIn(kLayouts),
                         [](const ::testing::TestParamInfo<Layout>& i) { return std::string(i.param.name); });

// ---- right-edge and bottom fills, vertical reduction ------------------------------

// The fill of a block holding k valid samples (columns or lines): which
// valid sample each position ends up equal to.
const int kMirror[8][8] = {{}, {0, 0, 0, 0, 0, 0, 0, 0}, {0, 1, 1, 0, 0, 1, 1, 0}, {0, 1, 2, 0, 0, 2, 1, 0},
                           {0, 1, 2, 3, 3, 2, 1, 0}, {0, 1, 2, 3, 4, 2, 1, 0}, {0, 1, 2, 3, 4, 5, 1, 0},
                           {0, 1, 2, 3, 4, 5, 6, 0}};

// A grey image of 8 + k columns and k lines: sample (y, x) = 10 x y + x.
TEST(Fill, MirrorsRightEdgeAndBottom) {
  for (int k = 1; k < 8; k++) {
    State st({"grey", 1, {1}, {1}, 0, 0, -1, 0, 8 + k, k});
    Bytes pixels;
    for (int y = 0; y < k; y++)
      for (int x = 0; x < 8 + k; x++) pixels.push_back(static_cast<uint8_t>(10 * y + x));
    const Planes p = Feed(st.s, pixels);
    for (int y = 0; y < 8; y++)
      for (int x = 0; x < 16; x++)
        ASSERT_EQ(p.At(0, y, x), 10 * kMirror[k][y] + (x < 8 ? x : 8 + kMirror[k][x - 8]))
            << k << ": " << y << ", " << x;
  }
}

// Lines of a two-component image, 8 columns: component 0 gets 100 + y,
// component 1 chroma(y) + x.
template <class F>
Bytes TwoComponentLines(int rows, F chroma) {
  Bytes pixels;
  for (int i = 0; i < 8 * rows; i++)
    pixels.insert(pixels.end(), {static_cast<uint8_t>(100 + i / 8), static_cast<uint8_t>(chroma(i / 8) + i % 8)});
  return pixels;
}

// Vmax 4 with a 1 x 2 component: the last group keeps the component line
// that holds image lines even when two or three of its four raster lines
// are repeats; only a line built from repeats alone is mirrored over.
TEST(Fill, KeepsChromaOfShortLastGroup) {
  for (int blend : {0, 1}) {
    for (int rows = 1; rows <= 4; rows++) {
      State st({"42", 2, {1, 1}, {4, 2}, 0, blend, -1, 0, 8, rows});
      const Planes p = Feed(st.s, TwoComponentLines(rows, [](int y) { return 100 + 20 * y; }));
      const int last = 100 + 20 * (rows - 1), third = std::min(last, 140);
      const int line0 = blend && rows >= 2 ? 110 : 100;
      const int line1 = blend ? (third + last + 1) >> 1 : third;
      for (int y = 0; y < 8; y++)
        EXPECT_EQ(p.At(1, y, 0), rows >= 3 && kMirror[2][y] == 1 ? line1 : line0)
            << "blend " << blend << ", rows " << rows << ", line " << y;
    }
  }
}

// One group of Vmax lines; component 1 holds 12, 63, 132, 243 (plus x),
// values whose sums make most of the blends' rounding terms matter.
TEST(Reduction, OneGroupOfEachVmaxAndV) {
  static const int kValues[4] = {12, 63, 132, 243};
  // Vmax, V, blend, then the component's V lines.
  const int cases[][6] = {{2, 1, 0, 12},         {2, 1, 1, 38},         {3, 1, 0, 63},      {3, 1, 1, 68},
                          {3, 2, 0, 12, 132},    {3, 2, 1, 25, 115},    {4, 1, 0, 63},      {4, 1, 1, 113},
                          {4, 2, 0, 12, 132},    {4, 2, 1, 38, 188},    {4, 3, 0, 12, 63, 243},
                          {4, 3, 1, 12, 98, 243}};
  for (const auto& r : cases) {
    State st({"r", 2, {1, 1}, {r[0], r[1]}, 0, r[2], -1, 0, 8, r[0]});
    const Planes p = Feed(st.s, TwoComponentLines(r[0], [](int y) { return kValues[y]; }));
    for (int y = 0; y < r[1]; y++)
      for (int x = 0; x < 8; x++)
        EXPECT_EQ(p.At(1, y, x), r[3 + y] + x) << r[0] << "/" << r[1] << " blend " << r[2];
  }
}

// ---- forward DCT -------------------------------------------------------------------------

constexpr double kPi = 3.14159265358979323846;

// a(0) = 1, a(k) = sqrt(2) cos(k pi / 16): the AAN output scale factors.
double Aan(int k) { return k == 0 ? 1.0 : std::sqrt(2.0) * std::cos(k * kPi / 16); }

// Coefficients are F (the DCT of sample - 128, ITU-T T.81 A.3.3) x 65536 x
// 8 a(u) a(v); flat blocks give exactly DC (v - 128) x 64 x 65536 and no AC.
// The integer multipliers are within about 1e-4 of the true constants, so
// every coefficient is within 0.3% of the exact DCT (0.2 of a unit where F
// is small; F reaches +-1024). Random blocks of only 0 and 255 push the
// intermediates to their extremes (overflow would show under the sanitizers).
TEST(Fdct, FlatBlocksAndAccuracy) {
  std::mt19937 rng(42);
  double worst = 0;
  for (int n = 0; n < 1000; n++) {
    uint8_t block[64];
    const uint32_t flat = rng() >> 24, kind = n % 3;
    for (uint8_t& s : block)
      s = static_cast<uint8_t>(kind == 0 ? flat : kind == 1 ? rng() >> 24 : rng() % 2 * 255);
    // The block in a strip of 24 bytes per line whose other bytes are not part of it.
    std::vector<uint8_t> strip(8 * 24, 0xA5);
    for (int y = 0; y < 8; y++) std::memcpy(&strip[y * 24], block + 8 * y, 8);
    DCTComponent comp{};
    comp.stripWidth = 24;
    int32_t coef[64];
    DCTTransform(nullptr, coef, strip.data(), &comp);
    for (int i = 0; i < 64; i++) {
      const int u = i % 8, v = i / 8;
      const int32_t flatCoef = i ? 0 : (static_cast<int>(flat) - 128) * 64 * 65536;
      ASSERT_EQ(coef[i], kind == 0 ? flatCoef : coef[i]) << flat << ": " << i;
      double f = 0;
      for (int k = 0; k < 64; k++)
        f += (block[k] - 128.0) * std::cos((2 * (k % 8) + 1) * u * kPi / 16) *
             std::cos((2 * (k / 8) + 1) * v * kPi / 16);
      f *= 0.25 * (u == 0 ? M_SQRT1_2 : 1) * (v == 0 ? M_SQRT1_2 : 1);
      const double got = coef[i] / (65536.0 * 8 * Aan(u) * Aan(v));
      worst = std::max(worst, std::fabs(got - f) / std::max(std::fabs(f), 64.0));
    }
  }
  EXPECT_LT(worst, 0.003);
}

// The table of extreme AC coefficients the encoder sizes its Huffman tables
// by: the block of 0 and 255 along the signs of each basis function (either
// sign) reaches its entry to within a unit and exceeds it by less than the
// slack the table choice allows (3); random blocks of 0 and 255 stay below.
TEST(Fdct, ExtremeCoefficientsMatchThePeakTable) {
  auto transform = [](const uint8_t* block, int32_t* coef) {
    DCTComponent comp{};
    comp.stripWidth = 8;
    DCTTransform(nullptr, coef, block, &comp);
  };
  auto magnitude = [](const int32_t* coef, int i) {  // |F| of coefficient i
    return std::fabs(coef[i] / (65536.0 * 8 * Aan(i % 8) * Aan(i / 8)));
  };
  for (int i = 1; i < 64; i++) {
    for (int sign : {1, -1}) {
      uint8_t block[64];
      for (int k = 0; k < 64; k++)
        block[k] = sign * std::cos((2 * (k % 8) + 1) * (i % 8) * kPi / 16) *
                               std::cos((2 * (k / 8) + 1) * (i / 8) * kPi / 16) > 0 ? 255 : 0;
      int32_t coef[64];
      transform(block, coef);
      EXPECT_GT(magnitude(coef, i), DCTEACPeak[i] - 1.0) << i;
      EXPECT_LT(magnitude(coef, i), DCTEACPeak[i] + 3.0) << i;
    }
  }
  std::mt19937 rng(5);
  for (int n = 0; n < 2000; n++) {
    uint8_t block[64];
    for (uint8_t& s : block) s = rng() % 2 * 255;
    int32_t coef[64];
    transform(block, coef);
    for (int i = 1; i < 64; i++) ASSERT_LE(magnitude(coef, i), DCTEACPeak[i]) << i;
  }
}

}  // namespace
