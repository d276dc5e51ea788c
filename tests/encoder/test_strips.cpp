// test_strips.cpp - the encoder's input strips: colour conversion and
// horizontal reduction on every line path against a double-precision
// reference, fast paths against the general one, vertical reduction, the
// right-edge and bottom fills, the end-of-image completion and the
// internal-error guards. States are built by hand as the encoder set-up
// builds them, and lines are fed as the per-line driver feeds them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dct/dcte.h"
#include "stream/error_path.h"

namespace {

struct Layout {
  const char* name;
  int colors;
  std::vector<int> h, v;
  int transform = 0, blend = 0;
  int forceHFast = -1, forceVFast = -1;  // >= 0: replaces what DCTInitCommon chose
  int columns = 8, rows = 8;
};

using Bytes = std::vector<uint8_t>;

// Real samples per line and the last block column holding any, as the
// encoder set-up derives them.
void SetEdges(DCTState* s) {
  for (int i = 0; i < s->Colors; i++) {
    DCTComponent& c = s->components[i];
    const int h = c.hSamples, hmax = s->maxHSamples;
    const int real = h == hmax             ? s->Columns
                     : h == 2 && hmax == 4 ? (s->Columns + 1) / 2
                                           : (s->Columns + hmax - 1) / hmax * h;
    const int pad = c.stripWidth - real;
    c.edgeSamples = static_cast<uint8_t>(pad == 0 ? 0 : 8 * h - pad);
    c.lastBlockX = c.stripWidth - (pad & ~7) - 8;
  }
}

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
    DCTInitCommon(s, 1);
    if (l.forceHFast >= 0) s->hFastMode = l.forceHFast;
    if (l.forceVFast >= 0) s->vFastMode = l.forceVFast;
    s->inputLineBytes = s->Columns * s->Colors;
    SetEdges(s);
    s->qTableCount = 1;
    DCTallocate(s, s->inputLineBytes, 1);
    if (s->colorTransform != 0) DCTEInitCT(s);
  }
  ~State() {
    DCTfree(s);
    std::free(s);
  }
  DCTComponent& comp(int c) { return s->components[c]; }
  DCTState* s;
};

// Every finished strip of every component, one after another.
struct Planes {
  std::vector<Bytes> plane;
  std::vector<int> width;
  int At(int c, int y, int x) const { return plane[c][static_cast<size_t>(y) * width[c] + x]; }
};

// Feeds rows x columns pixels line by line, completing the last strip after
// the last line, exactly as the per-line driver does.
Planes Feed(DCTState* s, const Bytes& pixels) {
  Planes p;
  p.plane.resize(s->Colors);
  for (int c = 0; c < s->Colors; c++) p.width.push_back(s->components[c].stripWidth);
  for (int y = 0; y < s->Rows; y++) {
    std::memcpy(s->lineBuffer, &pixels[static_cast<size_t>(y) * s->inputLineBytes],
                s->inputLineBytes);
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
  for (auto& x : b) x = static_cast<uint8_t>(rng() >> 24);
  return b;
}

// Y, Cb, Cr (ITU-R BT.601 as JFIF uses it) of RGB, or of the RGB that C, M,
// Y complement (YCCK), clamped to 0..255.
void Reference(const double* p, bool ycck, double* out) {
  const double r = ycck ? 255 - p[0] : p[0], g = ycck ? 255 - p[1] : p[1],
               b = ycck ? 255 - p[2] : p[2];
  out[0] = 0.299 * r + 0.587 * g + 0.114 * b;
  out[1] = std::min(255.0, -0.168736 * r - 0.331264 * g + 0.5 * b + 128);
  out[2] = std::min(255.0, 0.5 * r - 0.418688 * g - 0.081312 * b + 128);
}

// The pixel of a group of hmax pixels that sample j of a component with h
// samples per group comes from (no blending).
int Pick(int hmax, int h, int j) {
  static const int kPicks[5][4][3] = {{}, {}, {{0}}, {{1}, {0, 2}}, {{1}, {0, 2}, {0, 1, 3}}};
  return h == hmax ? j : kPicks[hmax][h - 1][j];
}

// ---- conversion and horizontal reduction --------------------------------------

class LinePathTest : public ::testing::TestWithParam<Layout> {};

// One line of random pixels, with red, white and black (each as a pair, so
// that subsampled chroma sees the pure colour) in front: every image sample
// of every component against the reference of its pixel, of the exact mean
// of its pixel pair (blend), or of the raw sample without a transform.
TEST_P(LinePathTest, MatchesReference) {
  Layout l = GetParam();
  l.columns = 3001;
  l.rows = 1;
  Bytes pixels = Random(3001u * l.colors, 7);
  const uint8_t known[3][4] = {{255, 0, 0, 9}, {255, 255, 255, 9}, {0, 0, 0, 9}};
  const int knownYcc[3][3] = {{76, 85, 255}, {255, 128, 128}, {0, 128, 128}};
  for (int k = 0; k < 12; k++) {
    for (int c = 0; c < l.colors; c++) {
      const uint8_t v = known[k / 4][c];
      pixels[k * l.colors + c] = l.colors == 4 && c < 3 ? 255 - v : v;  // CMY of the RGB
    }
  }
  State st(l);
  const int hmax = st.s->maxHSamples, colors = l.colors;
  const Planes planes = Feed(st.s, pixels);
  const bool blendRounded = l.blend && st.s->hFastMode == 0 && l.transform;
  double worst = 0;
  for (int c = 0; c < colors; c++) {
    const DCTComponent& comp = st.comp(c);
    const int h = comp.hSamples, k = comp.edgeSamples & 7;
    for (int i = 0; i < comp.lastBlockX + (k ? k : 8); i++) {
      const int first = i / h * hmax + Pick(hmax, h, i % h);
      const bool pair = h < hmax && hmax == 2 && l.blend;
      double mean[4];
      for (int j = 0; j < colors; j++) {
        const int a = pixels[std::min(first, l.columns - 1) * colors + j];
        const int b = pixels[std::min(first + 1, l.columns - 1) * colors + j];
        mean[j] = pair ? (a + b) / 2.0 : a;
      }
      double ycc[3];
      Reference(mean, colors == 4, ycc);
      const double expected = l.transform && c < 3 ? ycc[c] : mean[c];
      const int got = planes.At(c, 0, i);
      if (l.transform && c < 3 && first < 12 && (!pair || (first + 1) / 4 == first / 4)) {
        ASSERT_EQ(got, knownYcc[first / 4][c]) << "component " << c << " sample " << i;
      }
      worst = std::max(worst, std::fabs(got - expected));
      // Table conversions round to nearest (within the fixed-point slack);
      // the general path's blend averages two already rounded conversions.
      ASSERT_LE(std::fabs(got - expected), blendRounded ? 1.0 : 0.51)
          << "component " << c << " sample " << i;
    }
  }
  RecordProperty("worst", std::to_string(worst));
}

std::string Name(const ::testing::TestParamInfo<Layout>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(
    Paths, LinePathTest,
    ::testing::Values(Layout{"YCbCr111", 3, {1, 1, 1}, {1, 1, 1}, 1},
                      Layout{"YCbCr211", 3, {2, 1, 1}, {1, 1, 1}, 1},
                      Layout{"YCbCr211Blend", 3, {2, 1, 1}, {2, 1, 1}, 1, 1},
                      Layout{"YCbCr111General", 3, {1, 1, 1}, {1, 1, 1}, 1, 0, 0},
                      Layout{"YCbCr211BlendGeneral", 3, {2, 1, 1}, {1, 1, 1}, 1, 1, 0},
                      Layout{"YCbCr311General", 3, {3, 1, 1}, {1, 1, 1}, 1},
                      Layout{"YCbCr412General", 3, {4, 1, 2}, {1, 1, 1}, 1, 1},
                      Layout{"YCbCrLumaOnly", 3, {1, 1, 1}, {4, 1, 1}, 1},
                      Layout{"Ycck1111", 4, {1, 1, 1, 1}, {1, 1, 1, 1}, 1},
                      Layout{"Ycck2112", 4, {2, 1, 1, 2}, {1, 1, 1, 1}, 1},
                      Layout{"Ycck2112Blend", 4, {2, 1, 1, 2}, {2, 1, 1, 2}, 1, 1},
                      Layout{"Ycck1112General", 4, {1, 1, 1, 2}, {1, 1, 1, 1}, 1},
                      Layout{"YcckLumaOnly", 4, {1, 1, 1, 1}, {4, 1, 1, 4}, 2},
                      Layout{"Grey3", 1, {3}, {1}},
                      Layout{"Copy1111", 4, {1, 1, 1, 1}, {1, 1, 1, 1}},
                      Layout{"Pairs21Blend", 2, {2, 1}, {1, 1}, 0, 1},
                      Layout{"Pairs211Blend", 3, {2, 1, 1}, {1, 1, 1}, 0, 1},
                      Layout{"Picks312", 3, {3, 1, 2}, {1, 1, 1}},
                      Layout{"Picks4123", 4, {4, 1, 2, 3}, {1, 1, 1, 1}}),
    Name);

// ---- fast paths against the general path -------------------------------------------

struct FastCase {
  Layout layout;
  int tolerance;  // 0: identical strips
};

class FastPathTest : public ::testing::TestWithParam<FastCase> {};

// Odd sizes exercise the replicated right edge, the fills and the completion
// of the last group; the general path is forced by clearing the selectors
// before the strip memory is laid out.
TEST_P(FastPathTest, MatchesGeneralPath) {
  for (int rows : {33, 34, 35, 36, 66}) {
    Layout fast = GetParam().layout;
    fast.columns = 53;
    fast.rows = rows;
    Layout general = fast;
    general.forceHFast = general.forceVFast = 0;
    const Bytes pixels = Random(53u * rows * fast.colors, rows);
    State a(fast), b(general);
    const Planes pa = Feed(a.s, pixels), pb = Feed(b.s, pixels);
    for (int c = 0; c < fast.colors; c++) {
      ASSERT_EQ(pa.plane[c].size(), pb.plane[c].size());
      for (size_t i = 0; i < pa.plane[c].size(); i++) {
        ASSERT_LE(std::abs(pa.plane[c][i] - pb.plane[c][i]), GetParam().tolerance)
            << rows << " rows, component " << c << " at " << i;
      }
    }
  }
}

std::string FastName(const ::testing::TestParamInfo<FastCase>& info) {
  return info.param.layout.name;
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FastPathTest,
    ::testing::Values(FastCase{{"Pairs211", 3, {2, 1, 1}, {2, 1, 1}}, 0},
                      FastCase{{"Pairs211Blend", 3, {2, 1, 1}, {2, 1, 1}, 0, 1}, 0},
                      FastCase{{"YCbCr111", 3, {1, 1, 1}, {2, 1, 1}, 1}, 0},
                      FastCase{{"YCbCr211", 3, {2, 1, 1}, {2, 1, 1}, 1}, 0},
                      // Pair tables round the chroma of the mean once; the general path
                      // averages two rounded conversions.
                      FastCase{{"YCbCr211Blend", 3, {2, 1, 1}, {2, 1, 1}, 1, 1}, 1},
                      FastCase{{"Ycck1111", 4, {1, 1, 1, 1}, {1, 1, 1, 1}, 1}, 0},
                      FastCase{{"Ycck2112", 4, {2, 1, 1, 2}, {1, 1, 1, 1}, 1}, 0},
                      FastCase{{"Ycck2112Blend", 4, {2, 1, 1, 2}, {2, 1, 1, 2}, 1, 1}, 1},
                      // Luma-only lines (chroma kept once per four lines) against full lines.
                      FastCase{{"LumaOnlyGrey2", 2, {1, 1}, {4, 1}}, 0},
                      FastCase{{"LumaOnlyPairs211", 3, {2, 1, 1}, {4, 1, 1}}, 0},
                      FastCase{{"LumaOnlyYCbCr211", 3, {2, 1, 1}, {4, 1, 1}, 1}, 0},
                      FastCase{{"LumaOnlyYcck1111", 4, {1, 1, 1, 1}, {4, 1, 1, 4}, 1}, 0},
                      // The general path's own luma-only lines: the last image line is
                      // converted in full and its repeats come from the converted buffer.
                      FastCase{{"GeneralLumaOnlyYCbCr", 3, {2, 1, 1}, {4, 1, 1}, 1, 0, 0}, 0},
                      FastCase{{"GeneralLumaOnlyYcck", 4, {1, 1, 1, 1}, {4, 1, 1, 4}, 1, 0, 0}, 0}),
    FastName);

// Tiny images on every layout stay inside the strip memory (checked by the
// sanitizer build) and produce one strip per 8 x Vmax lines.
TEST_P(FastPathTest, TinyImages) {
  for (int columns = 1; columns <= 9; columns++) {
    for (int rows : {1, 2, 5, 9}) {
      Layout l = GetParam().layout;
      l.columns = columns;
      l.rows = rows;
      State st(l);
      const Planes p = Feed(st.s, Random(static_cast<size_t>(columns) * rows * l.colors, 1));
      const int strips = (rows + 8 * st.s->maxVSamples - 1) / (8 * st.s->maxVSamples);
      EXPECT_EQ(p.plane[0].size(), static_cast<size_t>(strips) * 8 * l.v[0] * p.width[0]);
    }
  }
}

// ---- right-edge and bottom fills ---------------------------------------------------

// The fill of a block holding k valid samples (columns or lines): which
// valid sample each position ends up equal to.
const int kMirror[8][8] = {{},
                           {0, 0, 0, 0, 0, 0, 0, 0},
                           {0, 1, 1, 0, 0, 1, 1, 0},
                           {0, 1, 2, 0, 0, 2, 1, 0},
                           {0, 1, 2, 3, 3, 2, 1, 0},
                           {0, 1, 2, 3, 4, 2, 1, 0},
                           {0, 1, 2, 3, 4, 5, 1, 0},
                           {0, 1, 2, 3, 4, 5, 6, 0}};

// A grey image of 8 + k columns and k lines: sample (y, x) = 10 x y + x.
TEST(Fill, MirrorsRightEdgeAndBottom) {
  for (int k = 1; k < 8; k++) {
    State st({"grey", 1, {1}, {1}, 0, 0, -1, -1, 8 + k, k});
    Bytes pixels;
    for (int y = 0; y < k; y++) {
      for (int x = 0; x < 8 + k; x++) pixels.push_back(static_cast<uint8_t>(10 * y + x));
    }
    const Planes p = Feed(st.s, pixels);
    for (int y = 0; y < 8; y++) {
      for (int x = 0; x < 16; x++) {
        const int sourceX = x < 8 ? x : 8 + kMirror[k][x - 8];
        ASSERT_EQ(p.At(0, y, x), 10 * kMirror[k][y] + sourceX) << k << ": " << y << ", " << x;
      }
    }
  }
}

// H 2, 1, 1 and 17 columns: luma (width 32) has one valid sample in its
// third block column, chroma (width 16, nine samples) one in its second.
TEST(Fill, RightEdgeOfSubsampledComponents) {
  State st({"211", 3, {2, 1, 1}, {1, 1, 1}, 0, 0, -1, -1, 17, 8});
  const Planes p = Feed(st.s, Random(17u * 3 * 8, 5));
  for (int y = 0; y < 8; y++) {
    for (int x = 17; x < 24; x++) EXPECT_EQ(p.At(0, y, x), p.At(0, y, 16));
    for (int x = 9; x < 16; x++) EXPECT_EQ(p.At(1, y, x), p.At(1, y, 8));
  }
}

// Lines of a two-component image: component 0 gets 100 + y, component 1
// base1 + step1 x y (plus x when addX is set).
Bytes TwoComponentLines(int rows, int base1, int step1, bool addX = false) {
  Bytes pixels;
  for (int y = 0; y < rows; y++) {
    for (int x = 0; x < 8; x++) {
      pixels.push_back(static_cast<uint8_t>(100 + y));
      pixels.push_back(static_cast<uint8_t>(base1 + step1 * y + (addX ? x : 0)));
    }
  }
  return pixels;
}

// 3 lines sampled 1 x 2 and 1 x 1: component 0 mirrors its first block row
// and zeroes the second (wholly below the image); component 1 holds raster
// line 0, then line 2 (its group completed by repeating line 2), mirrored.
TEST(Fill, BottomOfShortImage) {
  State st({"21", 2, {1, 1}, {2, 1}, 0, 0, -1, -1, 8, 3});
  const Planes p = Feed(st.s, TwoComponentLines(3, 200, 1));
  const int luma[8] = {100, 101, 102, 100, 100, 102, 101, 100};
  const int chroma[8] = {200, 202, 202, 200, 200, 202, 202, 200};
  for (int y = 0; y < 16; y++) EXPECT_EQ(p.At(0, y, 0), y < 8 ? luma[y] : 0) << y;
  for (int y = 0; y < 8; y++) EXPECT_EQ(p.At(1, y, 0), chroma[y]) << y;
}

// Vmax 4 with a 1 x 2 component: the last group keeps the component line
// that holds image lines even when two or three of its four raster lines
// are repeats; only a line built from repeats alone is mirrored over.
TEST(Fill, KeepsChromaOfShortLastGroup) {
  for (int blend : {0, 1}) {
    for (int rows = 1; rows <= 4; rows++) {
      State st({"42", 2, {1, 1}, {4, 2}, 0, blend, -1, -1, 8, rows});
      const Planes p = Feed(st.s, TwoComponentLines(rows, 100, 20));
      const int last = 100 + 20 * (rows - 1), third = std::min(last, 140);
      const int line0 = blend && rows >= 2 ? 110 : 100;
      const int line1 = blend ? (third + last + 1) >> 1 : third;
      for (int y = 0; y < 8; y++) {
        EXPECT_EQ(p.At(1, y, 0), rows >= 3 && kMirror[2][y] == 1 ? line1 : line0)
            << "blend " << blend << ", rows " << rows << ", line " << y;
      }
    }
  }
}

// ---- vertical reduction ---------------------------------------------------------------

struct ReductionCase {
  int vmax, v, blend;
  std::vector<int> expected;  // the component's V lines
};

class ReductionTest : public ::testing::TestWithParam<ReductionCase> {};

// One group of Vmax lines; component 1 holds 12, 63, 132, 243 (plus x),
// values whose sums make most of the blends' rounding terms matter.
TEST_P(ReductionTest, ReducesOneGroup) {
  const ReductionCase& r = GetParam();
  State st({"r", 2, {1, 1}, {r.vmax, r.v}, 0, r.blend, -1, -1, 8, r.vmax});
  Bytes pixels = TwoComponentLines(r.vmax, 0, 0, true);
  const int values[4] = {12, 63, 132, 243};
  for (int i = 0; i < 8 * r.vmax; i++) pixels[2 * i + 1] += values[i / 8];
  const Planes p = Feed(st.s, pixels);
  for (int y = 0; y < r.v; y++) {
    for (int x = 0; x < 8; x++) EXPECT_EQ(p.At(1, y, x), r.expected[y] + x) << y << ", " << x;
  }
}

INSTANTIATE_TEST_SUITE_P(
    VmaxV, ReductionTest,
    ::testing::Values(ReductionCase{2, 1, 0, {12}}, ReductionCase{2, 1, 1, {38}},
                      ReductionCase{3, 1, 0, {63}}, ReductionCase{3, 1, 1, {68}},
                      ReductionCase{3, 2, 0, {12, 132}}, ReductionCase{3, 2, 1, {25, 115}},
                      ReductionCase{4, 1, 0, {63}}, ReductionCase{4, 1, 1, {113}},
                      ReductionCase{4, 2, 0, {12, 132}}, ReductionCase{4, 2, 1, {38, 188}},
                      ReductionCase{4, 3, 0, {12, 63, 243}},
                      ReductionCase{4, 3, 1, {12, 98, 243}}));

// ---- internal-error guards -------------------------------------------------------------------

std::string Raised(DCTState* s) {
  static char message[kDCTMessageSize];
  message[0] = '\0';
  DCTSavedEnv saved;
  DCTSaveEnv(&saved, message);
  if (setjmp(gEnv) == 0) DCTEGetNCLine(s);
  DCTEndTry(&saved);
  return message;
}

TEST(Guards, LayoutsTheGeometryNeverProduces) {
  State transformed({"t", 3, {1, 1, 1}, {1, 1, 1}, 1});
  transformed.s->hFastMode = 1;  // the untransformed 2, 1, 1 mode
  EXPECT_EQ(Raised(transformed.s), "BUG unknown hor. fast mode.");
  State four({"f", 4, {1, 1, 1, 1}, {4, 1, 1, 4}});
  four.s->vFastMode = 1;
  EXPECT_EQ(Raised(four.s), "BUG: colorconv==0 but vFast non-0 for cn != 3.");
}

}  // namespace
