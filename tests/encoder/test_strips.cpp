// test_strips.cpp - the encoder's input strips: colour conversion on every
// line path against a double-precision reference, horizontal and vertical
// chroma reduction, the right-edge and bottom fills, the end-of-image
// completion and the internal-error guards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "encoder/test_strips_support.h"

namespace {

using strips_test::FeedImage;
using strips_test::Layout;
using strips_test::Planes;

// ---- reference colour conversion (ITU-R BT.601 as used by JFIF) ------------

struct Ycc {
  double y, cb, cr;
};

Ycc ReferenceYCbCr(double r, double g, double b) {
  return {0.299 * r + 0.587 * g + 0.114 * b, -0.168736 * r - 0.331264 * g + 0.5 * b + 128,
          0.5 * r - 0.418688 * g - 0.081312 * b + 128};
}

// YCCK: the YCbCr of the RGB that C, M, Y complement.
Ycc ReferenceYcck(double c, double m, double y) {
  return ReferenceYCbCr(255 - c, 255 - m, 255 - y);
}

Ycc Reference(const uint8_t* p, int colors) {
  return colors == 4 ? ReferenceYcck(p[0], p[1], p[2]) : ReferenceYCbCr(p[0], p[1], p[2]);
}

// ---- layouts -------------------------------------------------------------------

struct NamedLayout {
  const char* name;
  Layout layout;
};

Layout Make(int colors, std::vector<int> h, std::vector<int> v, int transform, int blend = 0,
            int forceHFast = -1) {
  Layout l;
  l.colors = colors;
  for (int i = 0; i < colors; i++) {
    l.h[i] = h[i];
    l.v[i] = v[i];
  }
  l.transform = transform;
  l.blend = blend;
  l.forceHFast = forceHFast;
  return l;
}

struct StateHolder {
  explicit StateHolder(const Layout& l) : state(strips_test::NewState(l)) {}
  ~StateHolder() { strips_test::FreeState(state); }
  DCTState* state;
};

// One row of pixels repeated down the image.
std::vector<uint8_t> Repeat(const std::vector<uint8_t>& row, int rows) {
  std::vector<uint8_t> image;
  for (int y = 0; y < rows; y++) image.insert(image.end(), row.begin(), row.end());
  return image;
}

// Which pixel of a group of hmax pixels a subsampled component's j-th sample
// comes from (no blending).
int PickedPixel(int hmax, int h, int j) {
  static const int kPicks[5][4][3] = {
      {}, {}, {{0}, {}, {}}, {{1}, {0, 2}, {}}, {{1}, {0, 2}, {0, 1, 3}}};
  return kPicks[hmax][h - 1][j];
}

// ---- known colours -----------------------------------------------------------------

struct KnownColour {
  uint8_t rgb[3];
  uint8_t y, cb, cr;
};

const KnownColour kKnownColours[] = {
    {{255, 0, 0}, 76, 85, 255},
    {{255, 255, 255}, 255, 128, 128},
    {{0, 0, 0}, 0, 128, 128},
};

class KnownColourTest : public ::testing::TestWithParam<NamedLayout> {};

// Every transform path gives the exact values of a flat image of the colour.
TEST_P(KnownColourTest, FlatImages) {
  Layout layout = GetParam().layout;
  layout.columns = 21;
  layout.rows = 5;
  for (const KnownColour& k : kKnownColours) {
    StateHolder h(layout);
    std::vector<uint8_t> pixel(layout.colors);
    if (layout.colors == 4) {  // CMYK whose CMY complement the RGB
      for (int i = 0; i < 3; i++) pixel[i] = static_cast<uint8_t>(255 - k.rgb[i]);
      pixel[3] = 77;
    } else {
      std::copy(k.rgb, k.rgb + 3, pixel.begin());
    }
    std::vector<uint8_t> row;
    for (int x = 0; x < layout.columns; x++) row.insert(row.end(), pixel.begin(), pixel.end());
    const Planes planes = FeedImage(h.state, Repeat(row, layout.rows));
    const uint8_t expected[4] = {k.y, k.cb, k.cr, 77};
    // The first block row of every component holds image lines and their
    // mirror copies only, up to the last block column with image samples.
    for (int c = 0; c < layout.colors; c++) {
      const int end = h.state->components[c].lastBlockX + 8;
      for (int y = 0; y < 8; y++) {
        const uint8_t* line = planes.Line(c, y);
        for (int x = 0; x < end; x++) {
          ASSERT_EQ(line[x], expected[c]) << "component " << c << " line " << y << " x " << x;
        }
      }
    }
  }
}

const NamedLayout kTransformLayouts[] = {
    {"YCbCr111", Make(3, {1, 1, 1}, {1, 1, 1}, 1)},
    {"YCbCr211", Make(3, {2, 1, 1}, {1, 1, 1}, 1)},
    {"YCbCr211Blend", Make(3, {2, 1, 1}, {2, 1, 1}, 1, 1)},
    {"YCbCr111General", Make(3, {1, 1, 1}, {1, 1, 1}, 1, 0, 0)},
    {"YCbCr311General", Make(3, {3, 1, 1}, {1, 1, 1}, 1)},
    {"YCbCr421General", Make(3, {4, 1, 2}, {1, 1, 1}, 1, 1)},
    {"YCbCr211BlendGeneral", Make(3, {2, 1, 1}, {1, 1, 1}, 1, 1, 0)},
    {"YCbCrLumaOnly", Make(3, {1, 1, 1}, {4, 1, 1}, 1)},
    {"Ycck1111", Make(4, {1, 1, 1, 1}, {1, 1, 1, 1}, 1)},
    {"Ycck2112", Make(4, {2, 1, 1, 2}, {1, 1, 1, 1}, 1)},
    {"Ycck2112Blend", Make(4, {2, 1, 1, 2}, {2, 1, 1, 2}, 1, 1)},
    {"Ycck1112General", Make(4, {1, 1, 1, 2}, {1, 1, 1, 1}, 1)},
    {"YcckLumaOnly", Make(4, {1, 1, 1, 1}, {4, 1, 1, 4}, 2)},
};

std::string LayoutName(const ::testing::TestParamInfo<NamedLayout>& info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Paths, KnownColourTest, ::testing::ValuesIn(kTransformLayouts),
                         LayoutName);

// ---- random pixels against the reference ---------------------------------------

class ConversionTest : public ::testing::TestWithParam<NamedLayout> {};

// The first line of the image: each component sample against the double
// reference of the pixel (or pixel pair) it comes from.
TEST_P(ConversionTest, MatchesReference) {
  Layout layout = GetParam().layout;
  layout.columns = 3001;
  layout.rows = 1;
  StateHolder h(layout);
  const DCTState* s = h.state;
  const int colors = layout.colors;
  const std::vector<uint8_t> pixels = strips_test::RandomBytes(3001u * colors, 7);
  const Planes planes = FeedImage(h.state, pixels);
  const int hmax = s->maxHSamples;
  auto pixel = [&](int x) { return &pixels[std::min(x, layout.columns - 1) * colors]; };
  // Every table conversion rounds to nearest (up to the fixed-point slack);
  // the general path's blend averages two already rounded conversions.
  const double tolerance = layout.blend && s->hFastMode == 0 ? 1.0 : 0.51;
  double worst = 0;
  for (int c = 0; c < colors; c++) {
    const int hc = layout.h[c];
    // Samples that hold image data, including those of the last group,
    // which the replicated last pixel completes.
    const DCTComponent& comp = s->components[c];
    const int samples = comp.lastBlockX + ((comp.edgeSamples & 7) ? (comp.edgeSamples & 7) : 8);
    for (int i = 0; i < samples; i++) {
      const int group = i / hc, j = i % hc;
      double expected = 0;
      if (c == 3) {
        expected = pixel(hc == hmax ? i : group * hmax + PickedPixel(hmax, hc, j))[3];
      } else if (hc == hmax) {
        const Ycc ref = Reference(pixel(i), colors);
        expected = c == 0 ? ref.y : c == 1 ? ref.cb : ref.cr;
      } else if (hmax == 2 && layout.blend) {
        const uint8_t* a = pixel(2 * group);
        const uint8_t* b = pixel(2 * group + 1);
        double mean[3];
        for (int k = 0; k < 3; k++) mean[k] = (a[k] + b[k]) / 2.0;
        const Ycc ref = colors == 4 ? ReferenceYcck(mean[0], mean[1], mean[2])
                                    : ReferenceYCbCr(mean[0], mean[1], mean[2]);
        expected = c == 1 ? ref.cb : ref.cr;
      } else {
        const Ycc ref = Reference(pixel(group * hmax + PickedPixel(hmax, hc, j)), colors);
        expected = c == 0 ? ref.y : c == 1 ? ref.cb : ref.cr;
      }
      expected = std::min(255.0, std::max(0.0, expected));
      const double diff = std::fabs(planes.Line(c, 0)[i] - expected);
      worst = std::max(worst, diff);
      ASSERT_LE(diff, tolerance) << "component " << c << " sample " << i;
    }
  }
  RecordProperty("worst", std::to_string(worst));
}

INSTANTIATE_TEST_SUITE_P(Paths, ConversionTest, ::testing::ValuesIn(kTransformLayouts), LayoutName);

// All 2^24 colours through the single-pixel tables, YCbCr and YCCK: the
// packed chroma halves never carry into each other and every value is
// within one of the reference (in fact correctly rounded).
TEST(ColourTables, EveryColourRoundsToNearest) {
  for (int colors : {3, 4}) {
    Layout layout =
        colors == 3 ? Make(3, {1, 1, 1}, {1, 1, 1}, 1) : Make(4, {1, 1, 1, 1}, {1, 1, 1, 1}, 1);
    layout.columns = 4096;
    layout.rows = 1;
    StateHolder h(layout);
    DCTState* s = h.state;
    double worst = 0;
    for (int line = 0; line < 4096; line++) {
      for (int x = 0; x < 4096; x++) {
        const uint32_t rgb = static_cast<uint32_t>(line) << 12 | static_cast<uint32_t>(x);
        uint8_t* p = s->lineBuffer + x * colors;
        p[0] = static_cast<uint8_t>(rgb >> 16);
        p[1] = static_cast<uint8_t>(rgb >> 8);
        p[2] = static_cast<uint8_t>(rgb);
        if (colors == 4) p[3] = static_cast<uint8_t>(x);
      }
      s->stripSubLine = s->stripBlockLine = 0;
      DCTEGetNCLine(s);
      for (int x = 0; x < 4096; x++) {
        const uint8_t* p = s->lineBuffer + x * colors;
        const Ycc ref = Reference(p, colors);
        const double d = std::max({std::fabs(s->components[0].strip[x] - ref.y),
                                   std::fabs(s->components[1].strip[x] - std::min(255.0, ref.cb)),
                                   std::fabs(s->components[2].strip[x] - std::min(255.0, ref.cr))});
        worst = std::max(worst, d);
      }
    }
    EXPECT_LE(worst, 0.51) << colors << " components";
  }
}

// ---- fast paths agree with the general path ------------------------------------------

struct FastCase {
  const char* name;
  Layout layout;
  int tolerance;  // 0: identical strips
};

class FastPathTest : public ::testing::TestWithParam<FastCase> {};

int MaxDiff(const Planes& a, const Planes& b) {
  int worst = 0;
  for (size_t c = 0; c < a.plane.size(); c++) {
    EXPECT_EQ(a.plane[c].size(), b.plane[c].size());
    for (size_t i = 0; i < std::min(a.plane[c].size(), b.plane[c].size()); i++) {
      worst = std::max(worst, std::abs(a.plane[c][i] - b.plane[c][i]));
    }
  }
  return worst;
}

// Odd sizes exercise the replicated right edge, the mirror fills and the
// completion of the last group; the general path is forced by clearing the
// fast-mode selectors before the strip memory is laid out.
TEST_P(FastPathTest, MatchesGeneralPath) {
  for (int rows : {37, 38, 40, 65}) {
    Layout fast = GetParam().layout;
    fast.columns = 53;
    fast.rows = rows;
    Layout general = fast;
    general.forceHFast = 0;
    general.forceVFast = 0;
    const std::vector<uint8_t> pixels =
        strips_test::RandomBytes(static_cast<size_t>(53) * rows * fast.colors, rows);
    StateHolder a(fast), b(general);
    const Planes pa = FeedImage(a.state, pixels);
    const Planes pb = FeedImage(b.state, pixels);
    EXPECT_LE(MaxDiff(pa, pb), GetParam().tolerance) << rows << " rows";
  }
}

const FastCase kFastCases[] = {
    {"Pairs211", Make(3, {2, 1, 1}, {2, 1, 1}, 0), 0},
    {"Pairs211Blend", Make(3, {2, 1, 1}, {2, 1, 1}, 0, 1), 0},
    {"YCbCr111", Make(3, {1, 1, 1}, {1, 1, 1}, 1), 0},
    {"YCbCr111V211", Make(3, {1, 1, 1}, {2, 1, 1}, 1), 0},
    {"YCbCr211", Make(3, {2, 1, 1}, {2, 1, 1}, 1), 0},
    // Pair tables round the chroma of the mean once; the general path
    // averages two rounded conversions.
    {"YCbCr211Blend", Make(3, {2, 1, 1}, {2, 1, 1}, 1, 1), 1},
    {"Ycck1111", Make(4, {1, 1, 1, 1}, {1, 1, 1, 1}, 1), 0},
    {"Ycck2112", Make(4, {2, 1, 1, 2}, {1, 1, 1, 1}, 1), 0},
    {"Ycck2112Blend", Make(4, {2, 1, 1, 2}, {2, 1, 1, 2}, 1, 1), 1},
    // Luma-only lines (chroma once per four lines) against full lines.
    {"LumaOnlyGrey2", Make(2, {1, 1}, {4, 1}, 0), 0},
    {"LumaOnlyPairs211", Make(3, {2, 1, 1}, {4, 1, 1}, 0), 0},
    {"LumaOnlyYCbCr111", Make(3, {1, 1, 1}, {4, 1, 1}, 1), 0},
    {"LumaOnlyYCbCr211", Make(3, {2, 1, 1}, {4, 1, 1}, 1), 0},
    {"LumaOnlyYcck1111", Make(4, {1, 1, 1, 1}, {4, 1, 1, 4}, 1), 0},
};

std::string FastName(const ::testing::TestParamInfo<FastCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Modes, FastPathTest, ::testing::ValuesIn(kFastCases), FastName);

// The general path with luma-only lines (the last image line converted in
// full, the repeats taken from the converted buffer) against the general
// path with full lines.
TEST(FastPath, GeneralLumaOnlyMatchesFullLines) {
  const Layout layouts[] = {Make(3, {2, 1, 1}, {4, 1, 1}, 1, 0, 0),
                            Make(4, {1, 1, 1, 1}, {4, 1, 1, 4}, 1, 0, 0)};
  for (const Layout& base : layouts) {
    for (int rows : {33, 34, 35, 36}) {
      Layout lumaOnly = base;
      lumaOnly.columns = 29;
      lumaOnly.rows = rows;
      Layout full = lumaOnly;
      full.forceVFast = 0;
      const std::vector<uint8_t> pixels =
          strips_test::RandomBytes(static_cast<size_t>(29) * rows * base.colors, 3);
      StateHolder a(lumaOnly), b(full);
      ASSERT_EQ(a.state->vFastMode, 1);
      EXPECT_EQ(MaxDiff(FeedImage(a.state, pixels), FeedImage(b.state, pixels)), 0)
          << base.colors << " components, " << rows << " rows";
    }
  }
}

// ---- distribution without a transform -------------------------------------------------

// Each component takes the samples of its sampling factor from every group
// of Hmax pixels: all of them, the pair's first or (blend) rounded mean, or
// the fixed picks for Hmax 3 and 4.
TEST(Distribution, ComponentsTakeTheirSamples) {
  const Layout layouts[] = {
      Make(4, {1, 1, 1, 1}, {1, 1, 1, 1}, 0),
      Make(2, {2, 1}, {1, 1}, 0, 1),
      Make(3, {3, 1, 2}, {1, 1, 1}, 0),
      Make(4, {4, 1, 2, 3}, {1, 1, 1, 1}, 0),
      Make(1, {3}, {1}, 0),
  };
  for (Layout layout : layouts) {
    layout.columns = 64;
    layout.rows = 1;
    StateHolder h(layout);
    const int colors = layout.colors, hmax = h.state->maxHSamples;
    const std::vector<uint8_t> pixels = strips_test::RandomBytes(64u * colors, 11);
    const Planes planes = FeedImage(h.state, pixels);
    for (int c = 0; c < colors; c++) {
      const int hc = layout.h[c];
      for (int i = 0; i < 64 / hmax * hc; i++) {
        const int group = i / hc;
        int expected;
        if (hc == hmax) {
          expected = pixels[i * colors + c];
        } else if (layout.blend) {
          expected =
              (pixels[2 * group * colors + c] + pixels[(2 * group + 1) * colors + c] + 1) >> 1;
        } else {
          expected = pixels[(group * hmax + PickedPixel(hmax, hc, i % hc)) * colors + c];
        }
        ASSERT_EQ(planes.Line(c, 0)[i], expected)
            << colors << " colours, component " << c << " sample " << i;
      }
    }
  }
}

// ---- right-edge and bottom fills ---------------------------------------------------

// The fill of a block holding k valid samples (rows or columns): the index
// of the valid sample each position ends up equal to.
const int kMirrorFill[8][8] = {
    {},
    {0, 0, 0, 0, 0, 0, 0, 0},
    {0, 1, 1, 0, 0, 1, 1, 0},
    {0, 1, 2, 0, 0, 2, 1, 0},
    {0, 1, 2, 3, 3, 2, 1, 0},
    {0, 1, 2, 3, 4, 2, 1, 0},
    {0, 1, 2, 3, 4, 5, 1, 0},
    {0, 1, 2, 3, 4, 5, 6, 0},
};

class RightEdgeTest : public ::testing::TestWithParam<int> {};

TEST_P(RightEdgeTest, MirrorsTheValidSamples) {
  const int k = GetParam();
  Layout layout = Make(1, {1}, {1}, 0);
  layout.columns = 8 + k;
  layout.rows = 8;
  StateHolder h(layout);
  std::vector<uint8_t> row(layout.columns);
  for (int x = 0; x < layout.columns; x++) row[x] = static_cast<uint8_t>(10 + x);
  const Planes planes = FeedImage(h.state, Repeat(row, 8));
  ASSERT_EQ(planes.width[0], 16);
  for (int y = 0; y < 8; y++) {
    for (int i = 0; i < 8; i++)
      EXPECT_EQ(planes.Line(0, y)[8 + i], 18 + kMirrorFill[k][i]) << "position " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(ValidSamples, RightEdgeTest, ::testing::Range(1, 8));

// With H 2, 1, 1 and 17 columns: luma (width 32) has one valid sample in its
// third block column, chroma (width 16, nine samples) one in its second.
TEST(RightEdge, SubsampledComponents) {
  Layout layout = Make(3, {2, 1, 1}, {1, 1, 1}, 0);
  layout.columns = 17;
  layout.rows = 8;
  StateHolder h(layout);
  EXPECT_EQ(h.state->components[0].lastBlockX, 16);
  EXPECT_EQ(h.state->components[1].lastBlockX, 8);
  const std::vector<uint8_t> pixels = strips_test::RandomBytes(17u * 3 * 8, 5);
  const Planes planes = FeedImage(h.state, pixels);
  for (int y = 0; y < 8; y++) {
    for (int x = 17; x < 24; x++) EXPECT_EQ(planes.Line(0, y)[x], planes.Line(0, y)[16]);
    for (int c = 1; c < 3; c++) {
      for (int x = 9; x < 16; x++) EXPECT_EQ(planes.Line(c, y)[x], planes.Line(c, y)[8]);
    }
  }
}

class BottomFillTest : public ::testing::TestWithParam<int> {};

// An image of k lines (Vmax 1): the strip's lines mirror the valid ones.
TEST_P(BottomFillTest, MirrorsTheValidLines) {
  const int k = GetParam();
  Layout layout = Make(1, {1}, {1}, 0);
  layout.rows = k;
  StateHolder h(layout);
  std::vector<uint8_t> pixels;
  for (int y = 0; y < k; y++) pixels.insert(pixels.end(), 8, static_cast<uint8_t>(100 + y));
  const Planes planes = FeedImage(h.state, pixels);
  ASSERT_EQ(planes.plane[0].size(), 64u);
  for (int y = 0; y < 8; y++)
    EXPECT_EQ(planes.Line(0, y)[3], 100 + kMirrorFill[k][y]) << "line " << y;
}

INSTANTIATE_TEST_SUITE_P(ValidLines, BottomFillTest, ::testing::Range(1, 8));

// Whole block rows below the image are zero: 3 lines of a 1 x 2 sampled
// component fill its first block row by mirroring and zero the second.
TEST(BottomFill, ZeroesBlockRowsBelowTheImage) {
  Layout layout = Make(2, {1, 1}, {2, 1}, 0);
  layout.rows = 3;
  StateHolder h(layout);
  std::vector<uint8_t> pixels;
  for (int y = 0; y < 3; y++) {
    for (int x = 0; x < 8; x++) {
      pixels.push_back(static_cast<uint8_t>(100 + y));
      pixels.push_back(static_cast<uint8_t>(200 + y));
    }
  }
  const Planes planes = FeedImage(h.state, pixels);
  const int lumaLines[8] = {100, 101, 102, 100, 100, 102, 101, 100};
  for (int y = 0; y < 8; y++) EXPECT_EQ(planes.Line(0, y)[0], lumaLines[y]);
  for (int y = 8; y < 16; y++) EXPECT_EQ(planes.Line(0, y)[0], 0);
  // Chroma, one line per two: raster line 0, then line 2 (the last group,
  // completed by repeating line 2), then the mirror.
  const int chromaLines[8] = {200, 202, 202, 200, 200, 202, 202, 200};
  for (int y = 0; y < 8; y++) EXPECT_EQ(planes.Line(1, y)[0], chromaLines[y]);
}

// Vmax 4 with a 1 x 2 chroma component: the last group keeps the chroma line
// that holds image lines even when two or three of its four raster lines are
// repeats; only the line built from repeats alone is mirrored over.
TEST(BottomFill, KeepsChromaOfShortLastGroup) {
  for (int blend : {0, 1}) {
    for (int rows : {1, 2, 3, 4}) {
      Layout layout = Make(2, {1, 1}, {4, 2}, 0, blend);
      layout.rows = rows;
      StateHolder h(layout);
      std::vector<uint8_t> pixels;
      for (int y = 0; y < rows; y++) {
        for (int x = 0; x < 8; x++) {
          pixels.push_back(50);
          pixels.push_back(static_cast<uint8_t>(100 + 20 * y));
        }
      }
      const Planes planes = FeedImage(h.state, pixels);
      const int last = 100 + 20 * (rows - 1);
      // Chroma line 0 from raster lines 0 and 1, line 1 from lines 2 and 3.
      const int line0 = blend && rows >= 2 ? (100 + 120 + 1) >> 1 : 100;
      const int line1 = blend ? (std::min(last, 140) + last + 1) >> 1 : std::min(last, 140);
      const bool twoLines = rows >= 3;
      for (int y = 0; y < 8; y++) {
        const int expected = twoLines && kMirrorFill[2][y] == 1 ? line1 : line0;
        EXPECT_EQ(planes.Line(1, y)[0], expected)
            << "blend " << blend << ", rows " << rows << ", line " << y;
      }
    }
  }
}

// ---- vertical reduction ---------------------------------------------------------------

struct ReductionCase {
  int vmax, v, blend;
  std::vector<int> expected;  // the component's V lines of the group
};

class ReductionTest : public ::testing::TestWithParam<ReductionCase> {};

// One group of Vmax raster lines whose second component holds 10, 60, 130,
// 240 (first Vmax of them) on its lines.
TEST_P(ReductionTest, ReducesOneGroup) {
  const ReductionCase& r = GetParam();
  Layout layout = Make(2, {1, 1}, {r.vmax, r.v}, 0, r.blend);
  layout.rows = r.vmax;
  StateHolder h(layout);
  const int values[4] = {10, 60, 130, 240};
  std::vector<uint8_t> pixels;
  for (int y = 0; y < r.vmax; y++) {
    for (int x = 0; x < 8; x++) {
      pixels.push_back(1);
      pixels.push_back(static_cast<uint8_t>(values[y] + x));
    }
  }
  const Planes planes = FeedImage(h.state, pixels);
  for (int y = 0; y < r.v; y++) {
    for (int x = 0; x < 8; x++) {
      EXPECT_EQ(planes.Line(1, y)[x], r.expected[y] + x) << "line " << y << " x " << x;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    VmaxV, ReductionTest,
    ::testing::Values(ReductionCase{2, 1, 0, {10}}, ReductionCase{2, 1, 1, {35}},
                      ReductionCase{3, 1, 0, {60}}, ReductionCase{3, 1, 1, {65}},
                      ReductionCase{3, 2, 0, {10, 130}}, ReductionCase{3, 2, 1, {23, 113}},
                      ReductionCase{4, 1, 0, {60}}, ReductionCase{4, 1, 1, {110}},
                      ReductionCase{4, 2, 0, {10, 130}}, ReductionCase{4, 2, 1, {35, 185}},
                      ReductionCase{4, 3, 0, {10, 60, 240}},
                      ReductionCase{4, 3, 1, {10, 95, 240}}));

// ---- internal-error guards -------------------------------------------------------------------

TEST(Guards, UnknownHorizontalModeWithTransform) {
  Layout layout = Make(3, {1, 1, 1}, {1, 1, 1}, 1);
  StateHolder h(layout);
  h.state->hFastMode = 1;  // a layout without a transform
  EXPECT_EQ(strips_test::RaisedMessage(DCTEGetNCLine, h.state), "BUG unknown hor. fast mode.");
}

TEST(Guards, LumaOnlyLineOfFourUntransformedComponents) {
  Layout layout = Make(4, {1, 1, 1, 1}, {4, 1, 1, 4}, 0);
  StateHolder h(layout);
  h.state->vFastMode = 1;
  EXPECT_EQ(strips_test::RaisedMessage(DCTEGetNCLine, h.state),
            "BUG: colorconv==0 but vFast non-0 for cn != 3.");
}

TEST(StripAddressing, GroupsOfSubsampledComponents) {
  Layout layout = Make(2, {1, 1}, {4, 2}, 0);
  StateHolder h(layout);
  const DCTComponent* c = &h.state->components[1];
  EXPECT_EQ(DCTEPointStrip(c, 0, 0), c->strip);
  EXPECT_EQ(DCTEPointStrip(c, 3, 2), c->strip + 7 * c->stripWidth);
  // The last group's extra lines run past the component's 16 lines.
  EXPECT_EQ(DCTEPointStrip(c, 3, 7), c->strip + 17 * c->stripWidth);
}

}  // namespace
