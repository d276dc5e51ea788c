// test_output.cpp - the decoder's output stage on hand-built states:
// colour conversion examples (YCbCr and YCCK, on the fast and the general
// path), horizontal upsampling, the vertical fast path leaving no clamp error,
// and every fast mode agreeing with the general interleave plus conversion
// pass on a sampled sweep of geometries. The strips and the line buffer are
// heap blocks of exactly the size the output stage may touch, so the
// sanitizer build catches any access outside them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <random>
#include <vector>

#include "decode/decoder.h"
#include "parallel/strip_jobs.h"

namespace {

// transform: colorTransform before DCTInitCommon; h, v: each component's sampling factors.
struct Geometry { int colors, columns, transform; std::vector<int> h, v; };

struct LineState {
  explicit LineState(const Geometry& g) : st_(DCTFirstInit()) {
    st_->Colors = st_->outputColors = st_->frameColors = static_cast<int16_t>(g.colors);
    st_->Columns = g.columns, st_->Rows = 64, st_->colorTransform = g.transform, st_->allowOversizedMCU = 1;
    for (int i = 0; i < g.colors; ++i) st_->components[i].hSamples = g.h[i], st_->components[i].vSamples = g.v[i];
    DCTInitCommon(st_, 0);
    st_->qTableCount = 1;
    DCTallocate(st_, st_->outputLineBytes, 0);
    if (st_->colorTransform != 0) DCTDInitCT(st_);
    for (int i = 0; i < g.colors; ++i) {  // DCTfree releases stripMemory; these pointers are ours
      strips[i].assign(8u * g.v[i] * st_->components[i].stripWidth, 0);
      st_->components[i].strip = strips[i].data();
    }
    line_.assign(static_cast<size_t>(st_->paddedLineSamples), 0);
    st_->lineBuffer = line_.data();
  }
  ~LineState() { DCTfree(st_), std::free(st_); }

  // `count` lines from line k of the strip on, in the driver's order (8 x maxV lines).
  std::vector<uint8_t> Lines(int k, int count = 1) {
    std::vector<uint8_t> all;
    for (; count-- > 0; ++k) {
      DCTPutNCLine(st_, k / st_->maxVSamples, k % st_->maxVSamples);
      all.insert(all.end(), line_.begin(), line_.end());
    }
    return all;
  }
  void Fill(const std::function<int(int, int)>& sample) {  // sample(comp, row) -> byte, for every strip byte
    for (int i = 0; i < st_->Colors; ++i) {
      for (size_t k = 0; k < strips[i].size(); ++k) strips[i][k] = static_cast<uint8_t>(sample(i, k / st_->components[i].stripWidth));
    }
  }

  DCTState* st_;
  std::vector<uint8_t> strips[4], line_;  // component strips (8 x V rows each) and the line buffer
};

TEST(OutputColour, YCbCrAndYcckExamplesOnBothPaths) {
  const struct { std::vector<int> in; std::vector<uint8_t> out; } cases[] = {
      {{128, 128, 128}, {128, 128, 128}}, {{255, 128, 128}, {255, 255, 255}}, {{0, 0, 0}, {0, 135, 0}},  // R, B below 0
      {{255, 255, 255}, {255, 121, 255}}, {{100, 200, 50}, {0, 131, 228}}, {{76, 85, 255}, {254, 0, 0}},  // above 255; R only; G, B at 0
      {{128, 128, 128, 77}, {127, 127, 127, 77}}, {{255, 128, 128, 0}, {0, 0, 0, 0}},  // YCCK: 255 - RGB, K as it is
      {{0, 128, 128, 255}, {255, 255, 255, 255}}, {{76, 85, 255, 9}, {1, 255, 255, 9}}};
  for (const auto& c : cases) {
    const int colors = static_cast<int>(c.in.size());
    for (bool general : {false, true}) {
      LineState ls({colors, 1, colors - 2, std::vector<int>(colors, 1), std::vector<int>(colors, 1)});
      if (general) ls.st_->hFastMode = 0;
      ls.Fill([&](int comp, int) { return c.in[comp]; });
      const auto line = ls.Lines(0);
      EXPECT_EQ(std::vector<uint8_t>(line.begin(), line.begin() + colors), c.out) << "case " << &c - cases << (general ? " general" : " fast");
    }
  }
}

TEST(OutputUpsampling, ThirdsAndQuarters) {  // Hmax 3 over H 2: the middle pixel is the rounded mean
  const struct { int hMax, h; std::vector<int> in, out; } cases[] = {{3, 2, {10, 21}, {10, 16, 21}}, {4, 3, {10, 20, 30}, {10, 20, 20, 30}}};
  for (const auto& c : cases) {
    LineState ls({2, c.hMax, 0, {c.hMax, c.h}, {1, 1}});
    std::copy(c.in.begin(), c.in.end(), ls.strips[1].begin());
    const auto line = ls.Lines(0);
    for (int x = 0; x < c.hMax; ++x) EXPECT_EQ(line[2 * x + 1], c.out[x]) << c.hMax << " over " << c.h << ", x " << x;
  }
}

// maxV 4 with only component 0 at full vertical resolution: converted
// lines are recomputed, so a value clamped on one line does not carry its
// clamp error into the next (YCbCr and YCCK); unconverted lines are updated
// from component 0 alone.
TEST(OutputVerticalFastPath, ConvertedLinesCarryNoClampError) {
  const struct { int colors, transform; std::vector<uint8_t> second; } cases[] = {
      {3, 1, {255, 111, 255}}, {4, 2, {0, 144, 0, 245}}, {3, 0, {245, 255, 255}}};  // R, B clamped; was 245
  for (const auto& c : cases) {
    LineState ls({c.colors, 8, c.transform, std::vector<int>(c.colors, 1), {4, 1, 1, 4}});
    ASSERT_EQ(ls.st_->vFastMode, 1) << c.colors;
    ls.Fill([](int comp, int r) { return comp % 3 == 0 ? (r == 0 ? 255 : 245) : 255; });
    ls.Lines(0);
    const auto second = ls.Lines(1);
    EXPECT_EQ(std::vector<uint8_t>(second.begin(), second.begin() + c.colors), c.second) << c.colors;
  }
}

// Sampled geometries (H of each component 1..4, vertical factors all 1,
// fast-path shaped or random, widths 1..40, with and without conversion).
// Noise that never leaves 0..255 in conversion lets the vertical fast path
// be compared too: both fast modes give the general pass's bytes.
TEST(OutputFastModes, AgreeWithTheGeneralPassAndStayInBounds) {
  std::mt19937 rng(11);
  for (int colors = 1; colors <= 4; ++colors) {
    for (int combo = 0; combo < (1 << (2 * colors)); ++combo) {
      for (int transform = 0; transform <= (colors >= 3); ++transform) {
        const int pattern = static_cast<int>(rng() % 3);
        Geometry g{colors, 1 + static_cast<int>(rng() % 40), transform, {}, {}};
        for (int i = 0; i < colors; ++i) {
          g.h.push_back(1 + ((combo >> (2 * i)) & 3));
          g.v.push_back(pattern == 0 ? 1 : pattern == 1 ? (i == 0 || i == 3 ? 4 : 1) : 1 + rng() % 4);
        }
        LineState fast(g), general(g);
        fast.Fill([&](int comp, int) { return transform == 0 ? rng() & 0xFF : comp % 3 == 0 ? 60 + rng() % 130 : 120 + rng() % 16; });
        for (int i = 0; i < colors; ++i) std::copy(fast.strips[i].begin(), fast.strips[i].end(), general.strips[i].begin());
        general.st_->hFastMode = general.st_->vFastMode = 0;
        const int lines = 8 * fast.st_->maxVSamples, mode = fast.st_->hFastMode;
        ASSERT_EQ(fast.Lines(0, lines), general.Lines(0, lines))
            << "hFastMode " << mode << " colors " << colors << " columns " << g.columns << " combo " << combo << " pattern " << pattern;
      }
    }
  }
}

}  // namespace
