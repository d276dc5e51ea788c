// Sampling checks and the colour transform a frame resolves to, releasing
// the strip memory, and canonical Huffman code generation with its two refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "codec/codec_state.h"
#include "parallel/strip_jobs.h"
#include "stream/error_path.h"

namespace {

struct Sampling {
  int h, v;
};

// A state with `sampling.size()` components, configured for DCTInitCommon.
DCTState* MakeState(std::initializer_list<Sampling> sampling, int columns, int transform,
                    bool oversizedOk = false) {
  DCTState* s = static_cast<DCTState*>(calloc(1, sizeof(DCTState)));
  int i = 0;
  for (Sampling f : sampling) {
    s->components[i].hSamples = f.h;
    s->components[i].vSamples = f.v;
    i++;
  }
  s->Colors = s->outputColors = s->frameColors = i;
  s->Columns = columns;
  s->Rows = 16;
  s->colorTransform = transform;
  s->allowOversizedMCU = oversizedOk;
  return s;
}

// Runs fn under an armed entry; returns the raised message or "".
template <typename Fn>
std::string Raised(Fn fn) {
  static char message[kDCTMessageSize];
  DCTSavedEnv saved;
  message[0] = '\0';
  DCTSaveEnv(&saved, message);
  if (setjmp(gEnv) != 0) {
    DCTEndTry(&saved);
    return message;
  }
  fn();
  DCTEndTry(&saved);
  return "";
}

}  // namespace

TEST(Geometry, ResolvesTheColourTransform) {
  struct Case {
    int colors, frameColors, in, out;
  } cases[] = {{4, 4, 1, 2}, {3, 3, 1, 1}, {2, 2, 1, 0}, {1, 1, 1, 0}, {4, 4, 2, 2},
               {3, 3, 0x3FFF, 1}, {1, 1, 0x3FFF, 0}, {3, 4, 0x3FFF, 0}, {3, 3, 0, 0}};
  for (const Case& c : cases) {
    DCTState* s = MakeState({{1, 1}, {1, 1}, {1, 1}, {1, 1}}, 8, c.in);
    s->Colors = s->outputColors = c.colors;
    s->frameColors = static_cast<int16_t>(c.frameColors);
    ASSERT_EQ(Raised([&] { DCTInitCommon(s, 0); }), "");
    EXPECT_EQ(s->colorTransform, c.out) << c.colors << " " << c.in;
    free(s);
  }
}

TEST(Geometry, RefusesBadSamplingAndTransforms) {
  struct Case {
    std::initializer_list<Sampling> sampling;
    int transform;
    bool oversizedOk;
    const char* message;
  } cases[] = {
      {{{2, 2}, {1, 1}, {1, 1}}, 2, false, "Unusable ColorTransform=2"},
      {{{1, 1}}, 7, false, "Unusable ColorTransform=7"},
      {{{0, 1}}, 0, false, "Sampling not [1..4]"},
      {{{1, 5}}, 0, false, "Sampling not [1..4]"},
      {{{2, 2}, {2, 2}, {2, 2}, {2, 2}}, 0, false, "Sum(HSamples * VSamples) > 10 limit"},
      {{{2, 2}, {2, 2}, {2, 2}, {2, 2}}, 0, true, ""},
      {{{2, 2}, {1, 1}, {1, 1}, {2, 2}}, 1, false, ""},
  };
  for (const Case& c : cases) {
    DCTState* s = MakeState(c.sampling, 16, c.transform, c.oversizedOk);
    EXPECT_EQ(Raised([&] { DCTInitCommon(s, 1); }), c.message);
    free(s);
  }
}

// Strip sizes and offsets show in the sanitizer build of every coding test;
// what is checked here is that releasing twice is harmless.
TEST(StripMemory, ReleasingTwiceDoesNothing) {
  DCTState* s = MakeState({{2, 2}, {1, 1}, {1, 1}}, 16, 1);
  s->qTableCount = 2;
  ASSERT_EQ(Raised([&] { DCTInitCommon(s, 0); }), "");
  ASSERT_EQ(Raised([&] { DCTallocate(s, s->outputLineBytes, 0); }), "");
  DCTfree(s);
  EXPECT_EQ(s->components[0].strip, nullptr);
  DCTfree(s);  // a second release does nothing
  free(s);
}

TEST(HuffmanCodes, CanonicalCodesFromCounts) {
  DCTState* s = MakeState({{1, 1}}, 8, 0);
  // The luminance DC table of ITU-T T.81 Table K.3 and its codes.
  const uint8_t bits[16] = {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
  uint8_t sizes[13];
  uint16_t codes[12];
  ASSERT_EQ(Raised([&] { DCTsize_codes(s, bits, sizes, codes, 12); }), "");
  EXPECT_EQ(s->huffCodeCount, 12);
  const uint8_t wantSizes[13] = {2, 3, 3, 3, 3, 3, 4, 5, 6, 7, 8, 9, 0};
  const uint16_t wantCodes[12] = {0x0, 0x2, 0x3, 0x4, 0x5, 0x6, 0xE, 0x1E, 0x3E, 0x7E, 0xFE, 0x1FE};
  EXPECT_TRUE(std::equal(sizes, sizes + 13, wantSizes));
  EXPECT_TRUE(std::equal(codes, codes + 12, wantCodes));

  const uint8_t oneAndTwo[16] = {1, 1};
  ASSERT_EQ(Raised([&] { DCTsize_codes(s, oneAndTwo, sizes, codes, 12); }), "");
  EXPECT_EQ(codes[0], 0);
  EXPECT_EQ(codes[1], 2);  // "10"
  EXPECT_EQ(sizes[1], 2);
  free(s);
}

TEST(HuffmanCodes, RefusesOverCommittedAndOversizedTables) {
  DCTState* s = MakeState({{1, 1}}, 8, 0);
  uint8_t sizes[163];
  uint16_t codes[162];
  const uint8_t twoOfLengthOne[16] = {2};
  EXPECT_EQ(Raised([&] { DCTsize_codes(s, twoOfLengthOne, sizes, codes, 12); }),
            "Over-committed Huffman spec.");
  const uint8_t allOnesCode[16] = {1, 1, 2};
  EXPECT_EQ(Raised([&] { DCTsize_codes(s, allOnesCode, sizes, codes, 12); }),
            "Over-committed Huffman spec.");
  uint8_t thirteen[16] = {0, 0, 0, 0, 13};
  EXPECT_EQ(Raised([&] { DCTsize_codes(s, thirteen, sizes, codes, 12); }), "Code table over 12 entries");
  uint8_t many[16] = {0, 0, 0, 0, 0, 0, 0, 0, 100, 63};
  EXPECT_EQ(Raised([&] { DCTsize_codes(s, many, sizes, codes, 162); }), "Code table over 162 entries");
  many[9] = 62;
  EXPECT_EQ(Raised([&] { DCTsize_codes(s, many, sizes, codes, 162); }), "");
  const uint8_t empty[16] = {};
  EXPECT_EQ(Raised([&] { EXPECT_EQ(DCTsize_codes(s, empty, sizes, codes, 12), 0); }), "");
  EXPECT_EQ(s->huffCodeCount, 0);
  free(s);
}
