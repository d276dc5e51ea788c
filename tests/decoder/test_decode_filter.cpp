// test_decode_filter.cpp - the decode filter's interface: what the open
// reports (size, colour code), the count a fill sets from the width hint,
// the end of the image, and images at the edges of the size range (one
// pixel, 65500 columns, a declared 65535 columns with too little data).
#include <gtest/gtest.h>

#include "decoder/decode_test_util.h"
#include "jpeg_filters.h"

namespace decoder_test {
namespace {

using testing_support::LibjpegDecode;
using testing_support::LibjpegEncode;
using testing_support::LibjpegOptions;
using testing_support::SyntheticImage;

struct ColourCase {
  int colors;
  int16_t expectedCode;
};

class ColourCodes : public ::testing::TestWithParam<ColourCase> {};

TEST_P(ColourCodes, OpenReportsSizeAndColourCode) {
  const Bytes jpeg = LibjpegEncode(SyntheticImage(37, 21, GetParam().colors, 2));
  const DecodeResult r = Decode(jpeg);
  ASSERT_TRUE(r.complete) << r.message;
  EXPECT_EQ(r.colorCode, GetParam().expectedCode);
  EXPECT_EQ(r.image.width, 37);
  EXPECT_EQ(r.image.height, 21);
  EXPECT_EQ(r.linesDelivered, 21);
}

INSTANTIATE_TEST_SUITE_P(Decoder, ColourCodes,
                         ::testing::Values(ColourCase{3, 0}, ColourCase{4, 1}, ColourCase{1, 2}));

// The count a fill sets: the width hint times the colours, never above the
// line, and never beyond what the 16-bit count holds.
TEST(WidthHint, CountFollowsTheHint) {
  struct Case {
    int16_t hint;
    int width, colors;
    int expectedCount;
  };
  const Case cases[] = {
      {0, 24, 1, 0},      {10, 24, 1, 10},    {10, 24, 3, 30},
      {100, 24, 3, 72},   {-5, 24, 3, 0},     {30000, 12000, 3, 32767},
  };
  for (const Case& c : cases) {
    const Bytes jpeg = LibjpegEncode(SyntheticImage(c.width, 16, c.colors, 3));
    testing_support::MemSource source(jpeg);
    int16_t w = c.hint, h = 0, cc = -1;
    Stm* s = JPEGDOpen(source.stm(), &w, &h, &cc);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->base, nullptr);
    for (int y = 0; y < 16; y++) {
      ASSERT_EQ(JPEGDFilBuf(s), 0);
      EXPECT_EQ(s->count, c.expectedCount) << "hint " << c.hint;
      EXPECT_EQ(s->ptr, s->base);
    }
    EXPECT_EQ(JPEGDFilBuf(s), -1);
    EXPECT_EQ(s->count, 0);
    JPEGDClose(s);
  }
}

struct SizeCase {
  const char* name;
  int width, height, colors, h0, v0;
};

class ImageSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ImageSizes, DecodeCloseToLibjpeg) {
  const SizeCase& c = GetParam();
  LibjpegOptions o;
  o.hSamp0 = c.h0;
  o.vSamp0 = c.v0;
  const Bytes jpeg = LibjpegEncode(SyntheticImage(c.width, c.height, c.colors, 8), o);
  Image reference;
  ASSERT_TRUE(LibjpegDecode(jpeg, &reference, false));
  const DecodeResult r = Decode(jpeg);
  ASSERT_TRUE(r.complete) << r.message;
  EXPECT_GE(testing_support::Psnr(r.image, reference), 40.0);
}

INSTANTIATE_TEST_SUITE_P(
    Decoder, ImageSizes,
    ::testing::Values(SizeCase{"one_pixel_grey", 1, 1, 1, 1, 1}, SizeCase{"one_pixel_420", 1, 1, 3, 2, 2},
                      SizeCase{"one_pixel_411", 1, 1, 3, 4, 1}, SizeCase{"column_420", 1, 50, 3, 2, 2},
                      SizeCase{"row_440", 50, 1, 3, 1, 2}, SizeCase{"wide_grey", 65500, 9, 1, 1, 1},
                      SizeCase{"wide_420", 65500, 17, 3, 2, 2}, SizeCase{"wide_411", 65500, 3, 3, 4, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// A frame that declares the largest sizes over far too little data fails
// cleanly, at the open or at the fill that runs out.
TEST(ImageSizes, LargestDeclaredSizesWithTooLittleData) {
  const Bytes small = LibjpegEncode(SyntheticImage(64, 64, 3, 8));
  const long sof = FindMarker(small, 0xC0);
  for (int which : {0, 1, 2}) {
    Bytes j = small;
    if (which != 1) j[sof + 7] = j[sof + 8] = 0xFF;  // 65535 columns
    if (which != 0) j[sof + 5] = j[sof + 6] = 0xFF;  // 65535 rows
    const DecodeResult r = Decode(j);
    EXPECT_FALSE(r.complete);
    EXPECT_FALSE(r.message.empty());
  }
  // Four components all sampled 4x4 (64 blocks per MCU) over 65535 columns.
  Bytes cmyk = LibjpegEncode(SyntheticImage(64, 64, 4, 8));
  const long frame = FindMarker(cmyk, 0xC0);
  cmyk[frame + 7] = cmyk[frame + 8] = 0xFF;
  for (int c = 0; c < 4; c++) cmyk[frame + 11 + 3 * c] = 0x44;
  const DecodeResult r = Decode(cmyk);
  EXPECT_FALSE(r.opened);
  EXPECT_FALSE(r.message.empty());
}

}  // namespace
}  // namespace decoder_test
