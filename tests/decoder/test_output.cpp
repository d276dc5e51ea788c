// test_output.cpp - the decoder's output stage: colour conversion against
// worked examples and a double-precision JFIF reference, row selection,
// horizontal upsampling, the vertical fast path, and the agreement of every
// fast mode with the general interleave plus conversion pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "output_test_state.h"

namespace {

using output_test::Geometry;
using output_test::LineState;

Geometry Make(int colors, int columns, int transform, std::initializer_list<int> h,
              std::initializer_list<int> v) {
  Geometry g;
  g.colors = colors;
  g.columns = columns;
  g.transform = transform;
  std::copy(h.begin(), h.end(), g.h);
  std::copy(v.begin(), v.end(), g.v);
  return g;
}

// One pixel through the state's fast mode and through the general path.
std::vector<uint8_t> ConvertPixel(const Geometry& g, const std::vector<int>& in, bool general) {
  LineState ls(g, true);
  if (general) ls.st()->hFastMode = 0;
  ls.FillStrips([&](int comp, int, int) { return in[comp]; });
  auto line = ls.Line(0, 0);
  line.resize(g.colors);
  return line;
}

struct ColourCase {
  std::vector<int> in;
  std::vector<uint8_t> out;
};

TEST(DecoderColour, YCbCrExamples) {
  const ColourCase cases[] = {
      {{128, 128, 128}, {128, 128, 128}}, {{255, 128, 128}, {255, 255, 255}},
      {{0, 0, 0}, {0, 135, 0}},           // R and B negative, clamped by the fix-up
      {{255, 255, 255}, {255, 121, 255}}, // R and B above 255
      {{100, 200, 50}, {0, 131, 228}},    // only R clamped
      {{76, 85, 255}, {254, 0, 0}},       // G and B exactly 0, no clamping
  };
  const Geometry g = Make(3, 1, 1, {1, 1, 1}, {1, 1, 1});
  for (const auto& c : cases) {
    EXPECT_EQ(ConvertPixel(g, c.in, false), c.out) << c.in[0] << "," << c.in[1] << "," << c.in[2];
    EXPECT_EQ(ConvertPixel(g, c.in, true), c.out) << "general path";
  }
}

TEST(DecoderColour, YcckExamples) {
  const Geometry g = Make(4, 1, 2, {1, 1, 1, 1}, {1, 1, 1, 1});
  for (int k : {0, 77, 255}) {
    const ColourCase cases[] = {
        {{128, 128, 128, k}, {127, 127, 127, uint8_t(k)}},
        {{255, 128, 128, k}, {0, 0, 0, uint8_t(k)}},
        {{0, 128, 128, k}, {255, 255, 255, uint8_t(k)}},
        {{76, 85, 255, k}, {1, 255, 255, uint8_t(k)}},  // 255 minus the RGB example
    };
    for (const auto& c : cases) {
      EXPECT_EQ(ConvertPixel(g, c.in, false), c.out) << c.in[0] << "," << c.in[1] << "," << c.in[2];
      EXPECT_EQ(ConvertPixel(g, c.in, true), c.out) << "general path";
    }
  }
}

TEST(DecoderColour, ClampFixUpPerResult) {
  uint8_t px[3] = {11, 22, 33};
  DCTDCCOvfFixProc0(-1, 255, 256, px + 3);  // negative -> 0, in range kept, over -> 255
  EXPECT_EQ(px[0], 0);
  EXPECT_EQ(px[1], 22);
  EXPECT_EQ(px[2], 255);
  DCTDCCOvfFixProc0(-1024, 1023, 0x10005, px + 3);  // extremes; bits above 10 ignored
  EXPECT_EQ(px[0], 0);
  EXPECT_EQ(px[1], 255);
  EXPECT_EQ(px[2], 255);
}

double Clamp255(double v) { return std::clamp(std::floor(v + 0.5), 0.0, 255.0); }

// Every (Y, Cb, Cr) through the full-resolution fast mode, against the JFIF
// equations in double precision, rounded and clamped.
void CheckAgainstJfif(int transform) {
  const int colors = transform == 1 ? 3 : 4;
  LineState ls(Make(colors, 256, transform, {1, 1, 1, 1}, {1, 1, 1, 1}), false);
  for (int x = 0; x < 256; ++x) ls.Row(0, 0)[x] = static_cast<uint8_t>(x);
  if (colors == 4) std::fill(ls.Row(3, 0), ls.Row(3, 0) + 256, 9);
  int worst = 0;
  long off = 0;
  for (int cb = 0; cb < 256; ++cb) {
    for (int cr = 0; cr < 256; ++cr) {
      std::fill(ls.Row(1, 0), ls.Row(1, 0) + 256, cb);
      std::fill(ls.Row(2, 0), ls.Row(2, 0) + 256, cr);
      const auto line = ls.Line(0, 0);
      for (int y = 0; y < 256; ++y) {
        const double rgb[3] = {Clamp255(y + 1.402 * (cr - 128)),
                               Clamp255(y - 0.344136 * (cb - 128) - 0.714136 * (cr - 128)),
                               Clamp255(y + 1.772 * (cb - 128))};
        for (int c = 0; c < 3; ++c) {
          const double expected = colors == 3 ? rgb[c] : 255 - rgb[c];
          const int diff = static_cast<int>(std::fabs(line[colors * y + c] - expected));
          worst = std::max(worst, diff);
          off += diff != 0;
        }
        if (colors == 4) {
          ASSERT_EQ(line[4 * y + 3], 9);
        }
      }
    }
  }
  std::printf("transform %d vs JFIF reference: %ld of %d results off, worst %d\n", transform, off,
              3 << 24, worst);
  EXPECT_LE(worst, 1);
}

TEST(DecoderColour, YCbCrWithinOneOfJfif) { CheckAgainstJfif(1); }
TEST(DecoderColour, YcckWithinOneOfJfif) { CheckAgainstJfif(2); }

TEST(DecoderOutput, PointStripRows) {
  struct Row {
    int maxV, v;
    int offsets[4];
  };
  const Row rows[] = {
      {4, 1, {0, 0, 0, 0}}, {4, 2, {0, 0, 1, 1}}, {4, 3, {0, 1, 1, 2}}, {4, 4, {0, 1, 2, 3}},
      {3, 1, {0, 0, 0}},    {3, 2, {0, 0, 1}},    {3, 3, {0, 1, 2}},    {2, 1, {0, 0}},
      {2, 2, {0, 1}},       {1, 1, {0}},
  };
  for (const Row& r : rows) {
    for (int block = 0; block < 8; ++block) {
      for (int s = 0; s < r.maxV; ++s) {
        const int base = r.v < 2 ? block : block * r.v;
        const int got = DCTPointStrip(block, s, r.maxV, r.v);
        EXPECT_EQ(got, base + r.offsets[s]) << "maxV " << r.maxV << " v " << r.v << " s " << s;
        EXPECT_LT(got, 8 * r.v);  // always inside the component's strip rows
      }
    }
  }
}

TEST(DecoderOutput, UpsamplesThirdsAndQuarters) {
  {  // Hmax 3, component at H = 2: the middle pixel is the rounded mean
    LineState ls(Make(2, 3, 0, {3, 2}, {1, 1}), true);
    ls.Row(1, 0)[0] = 10;
    ls.Row(1, 0)[1] = 21;
    const auto line = ls.Line(0, 0);
    EXPECT_EQ(line[1], 10);
    EXPECT_EQ(line[3], 16);
    EXPECT_EQ(line[5], 21);
  }
  {  // Hmax 4, component at H = 3
    LineState ls(Make(2, 4, 0, {4, 3}, {1, 1}), true);
    ls.Row(1, 0)[0] = 10;
    ls.Row(1, 0)[1] = 20;
    ls.Row(1, 0)[2] = 30;
    const auto line = ls.Line(0, 0);
    EXPECT_EQ(line[1], 10);
    EXPECT_EQ(line[3], 20);
    EXPECT_EQ(line[5], 20);
    EXPECT_EQ(line[7], 30);
  }
}

// maxV 4 with only component 0 at full vertical resolution: lines after the
// first of a block line are updated from the stored previous line.
TEST(DecoderOutput, VerticalFastPathCarriesTheClamp) {
  LineState ls(Make(3, 8, 1, {1, 1, 1}, {4, 1, 1}), true);
  ASSERT_EQ(ls.st()->vFastMode, 1);
  ls.FillStrips([](int comp, int r, int) { return comp == 0 ? (r == 0 ? 255 : 245) : 255; });
  const auto first = ls.Line(0, 0);
  EXPECT_EQ(first[0], 255);  // R = 255 + 178, clamped
  const auto second = ls.Line(0, 1);
  EXPECT_EQ(second[0], 245);  // 255 - 10: the clamp error carries over
  EXPECT_EQ(second[2], 245);  // B was clamped too
}

// Random strips, every line of the strip, pixel values chosen so that no
// conversion result leaves 0..255: then the vertical fast path equals a
// full recompute.
TEST(DecoderOutput, VerticalFastPathMatchesRecomputeWithoutClamping) {
  const Geometry cases[] = {
      Make(2, 19, 0, {1, 1}, {4, 1}),       Make(2, 23, 0, {2, 1}, {4, 1}),
      Make(3, 21, 0, {2, 1, 1}, {4, 1, 1}), Make(3, 30, 1, {1, 1, 1}, {4, 1, 1}),
      Make(3, 29, 1, {2, 1, 1}, {4, 1, 1}), Make(3, 13, 1, {3, 2, 1}, {4, 1, 1}),
      Make(4, 17, 2, {1, 1, 1, 1}, {4, 1, 1, 4}), Make(4, 26, 2, {2, 1, 1, 2}, {4, 1, 1, 4}),
  };
  std::mt19937 rng(5);
  for (const Geometry& g : cases) {
    LineState fast(g, true), full(g, true);
    ASSERT_EQ(fast.st()->vFastMode, 1);
    full.st()->vFastMode = 0;
    auto sample = [&](int comp, int, int) {
      return comp == 0 || comp == 3 ? 60 + rng() % 130 : 120 + rng() % 16;
    };
    fast.FillStrips(sample);
    for (int i = 0; i < g.colors; ++i) {
      for (int r = 0; r < fast.Rows(i); ++r) {
        std::copy(fast.Row(i, r), fast.Row(i, r) + fast.Width(i), full.Row(i, r));
      }
    }
    EXPECT_EQ(fast.Strip(), full.Strip()) << "colors " << g.colors;
  }
}

// Naive per-pixel interleave of the strip rows for one line (no conversion).
std::vector<uint8_t> NaiveLine(LineState& ls, int blockLine, int subLine) {
  const DCTState* st = ls.st();
  std::vector<uint8_t> line(st->paddedLineSamples);
  const int hMax = st->maxHSamples;
  for (int i = 0; i < st->Colors; ++i) {
    const DCTComponent& c = st->components[i];
    const uint8_t* row = ls.Row(i, DCTPointStrip(blockLine, subLine, st->maxVSamples, c.vSamples));
    // A single component's row may be shorter than the padded line (H not
    // dividing 8); what lies past it is beyond Columns and left unwritten.
    const int pixels = st->Colors == 1 ? std::min(ls.Pixels(), c.stripWidth) : ls.Pixels();
    for (int x = 0; x < pixels; ++x) {
      const int k = x / hMax, j = x % hMax, h = c.hSamples;
      int value;
      if (h == hMax) value = row[x];
      else if (h == 1) value = row[k];
      else if (hMax == 4 && h == 2) value = row[2 * k + j / 2];
      else if (hMax == 4) value = row[3 * k + (j + 1) / 2];
      else value = j == 1 ? (row[2 * k] + row[2 * k + 1] + 1) >> 1 : row[2 * k + j / 2];
      line[st->Colors * x + i] = static_cast<uint8_t>(value);
    }
  }
  return line;
}

// Every sampling combination (H of each component 1..4, several vertical
// patterns), widths 1..40, in buffers of exactly the size the output stage
// may use: the fast modes give the bytes of the general path; without a
// colour transform, the general path gives the naive interleave.
void SweepGeometry(Geometry g, std::mt19937& rng, long& lines) {
  LineState ls(g, true);
  auto noise = [&](int, int, int) { return static_cast<int>(rng() & 0xFF); };
  ls.FillStrips(noise);
  const auto actual = ls.Strip();
  const int mode = ls.st()->hFastMode;
  ls.st()->hFastMode = 0;
  ASSERT_EQ(ls.Strip(), actual) << "hFastMode " << mode << " colors " << g.colors << " columns "
                                << g.columns << " H " << g.h[0] << g.h[1] << g.h[2] << g.h[3];
  if (ls.st()->colorTransform != 0) return;
  ls.st()->vFastMode = 0;
  for (int b = 0; b < 8; ++b) {
    for (int s = 0; s < ls.st()->maxVSamples; ++s, ++lines) {
      ASSERT_EQ(ls.Line(b, s), NaiveLine(ls, b, s))
          << "colors " << g.colors << " columns " << g.columns << " H " << g.h[0] << g.h[1]
          << g.h[2] << g.h[3] << " line " << b << "," << s;
    }
  }
}

TEST(DecoderOutput, EveryGeometryAgreesAndStaysInBounds) {
  std::mt19937 rng(11);
  long lines = 0;
  for (int colors = 1; colors <= 4; ++colors) {
    const int combos = 1 << (2 * colors);
    for (int combo = 0; combo < combos; ++combo) {
      Geometry g;
      g.colors = colors;
      for (int i = 0; i < colors; ++i) g.h[i] = 1 + ((combo >> (2 * i)) & 3);
      for (int pattern = 0; pattern < 3; ++pattern) {
        for (int i = 0; i < colors; ++i) {
          // all 1; component 0 (and 3) at 4, the rest 1 (vertical fast path);
          // random factors
          g.v[i] = pattern == 0 ? 1 : pattern == 1 ? (i == 0 || i == 3 ? 4 : 1) : 1 + rng() % 4;
        }
        for (int transform : {0, 1}) {
          if (transform == 1 && colors < 3) continue;
          g.transform = transform;
          for (g.columns = 1; g.columns <= 40; ++g.columns) {
            SweepGeometry(g, rng, lines);
            if (HasFatalFailure()) return;
          }
        }
      }
    }
  }
  std::printf("naive interleave compared on %ld lines\n", lines);
}

}  // namespace
