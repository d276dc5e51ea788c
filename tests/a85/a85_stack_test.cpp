// a85_stack_test.cpp - the filters stacked through the exported table
// BNStreams: JPEG encode over ASCII85 encode over a memory stream, and
// ASCII85 decode under JPEG decode, against the unwrapped path.
#include <gtest/gtest.h>

#include <algorithm>

#include "a85/a85_test_util.h"
#include "bn_streams.h"

namespace {

using a85test::Bytes;
using testing_support::Image;
using testing_support::MemSink;
using testing_support::MemSource;

template <typename Proc>
Proc Entry(int index) {
  return reinterpret_cast<Proc>(BNStreams[index]);
}

JPEGEncodeParams ParamsFor(const Image& img) {
  JPEGEncodeParams p{};
  p.QFactor = 0.76;
  p.subsample = 1;
  p.blend = 1;
  p.densityUnits = 1;
  p.xDensity = p.yDensity = 72;
  p.Columns = img.width;
  p.Rows = img.height;
  p.Colors = static_cast<int16_t>(img.colors);
  p.markerMode = 0;
  return p;
}

// Writes img through a JPEG encode filter opened from the table on `below`,
// and closes it. Returns false when the filter cannot be opened.
bool EncodeThroughTable(const Image& img, Stm* below) {
  JPEGEncodeParams params = ParamsFor(img);
  Stm* jpeg = Entry<BNOpenJPEGEncodeProc>(kBNOpenJPEGEncode)(below, &params);
  if (jpeg == nullptr) return false;
  const uint32_t lineBytes = static_cast<uint32_t>(img.width * img.colors);
  for (int y = 0; y < img.height; y++) StmFWrite(img.Row(y), 1, lineBytes, jpeg);
  const bool failed = jpeg->error != 0;
  Entry<BNCloseProc>(kBNCloseJPEGEncode)(jpeg);
  return !failed;
}

int ColorsOf(int16_t colorCode) {
  switch (colorCode) {
    case 0: return 3;
    case 1: return 4;
    case 2: return 1;
    default: return 2;  // left unchanged for two components
  }
}

// Reads every line from a JPEG decode filter opened from the table on
// `below`, and checks that the image then ends cleanly. An empty image when
// the filter cannot be opened.
Image DecodeThroughTable(Stm* below) {
  Image img;
  int16_t info[3] = {0, 0, -1};
  gJPEGError = 0;
  Stm* jpeg = Entry<BNOpenJPEGDecodeProc>(kBNOpenJPEGDecode)(below, info);
  if (jpeg == nullptr) return img;
  img.width = info[0];
  img.height = info[1];
  img.colors = ColorsOf(info[2]);
  const size_t lineBytes = static_cast<size_t>(img.width) * img.colors;
  for (int y = 0; y < img.height; y++) {
    if (jpeg->filBuf(jpeg) != 0) break;
    img.pixels.insert(img.pixels.end(), jpeg->base, jpeg->base + lineBytes);
  }
  EXPECT_EQ(jpeg->filBuf(jpeg), -1);  // the end of the image ...
  EXPECT_EQ(gJPEGError, 0);           // ... not a failure
  Entry<BNCloseProc>(kBNCloseJPEGDecode)(jpeg);
  return img;
}

TEST(BNStreamsTable, NullBelowIsRefused) {
  JPEGEncodeParams params = ParamsFor(testing_support::SyntheticImage(8, 8, 3));
  EXPECT_EQ(Entry<BNOpenJPEGEncodeProc>(kBNOpenJPEGEncode)(nullptr, &params), nullptr);
  int16_t info[3] = {0, 0, 0};
  EXPECT_EQ(Entry<BNOpenJPEGDecodeProc>(kBNOpenJPEGDecode)(nullptr, info), nullptr);
  EXPECT_EQ(Entry<BNOpenProc>(kBNOpenAscii85Encode)(nullptr, nullptr), nullptr);
  EXPECT_EQ(Entry<BNOpenProc>(kBNOpenAscii85Decode)(nullptr, nullptr), nullptr);
}

// (width, height, colours)
class StackedJpeg : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(StackedJpeg, WrappedPathGivesTheSameImage) {
  const auto [width, height, colors] = GetParam();
  const Image img = testing_support::SyntheticImage(width, height, colors, 5);

  MemSink plainSink;
  ASSERT_TRUE(EncodeThroughTable(img, plainSink.stm()));
  const Bytes plain = plainSink.Contents();

  // JPEG encode over ASCII85 encode; closed top-down.
  MemSink textSink(997);
  Stm* a85 = Entry<BNOpenProc>(kBNOpenAscii85Encode)(textSink.stm(), nullptr);
  ASSERT_NE(a85, nullptr);
  ASSERT_TRUE(EncodeThroughTable(img, a85));
  EXPECT_FALSE(a85->error);
  const int32_t lines = Entry<BNCloseIntProc>(kBNCloseAscii85Encode)(a85);
  const Bytes text = textSink.Contents();
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text[text.size() - 2], 0x7E);
  EXPECT_EQ(text.back(), 0x3E);
  EXPECT_EQ(lines, std::count(text.begin(), text.end(), '\n'));
  Bytes unwrapped;
  ASSERT_TRUE(a85test::RefDecode(std::string(text.begin(), text.end()), &unwrapped));
  EXPECT_EQ(unwrapped, plain);  // the same JPEG bytes, only wrapped

  MemSource plainSource(plain);
  const Image direct = DecodeThroughTable(plainSource.stm());
  ASSERT_EQ(direct.width, width);
  ASSERT_EQ(direct.height, height);
  ASSERT_EQ(direct.pixels.size(), img.pixels.size());
  EXPECT_GT(testing_support::Psnr(direct, img), 25.0);

  // ASCII85 decode under JPEG decode, the text cut into awkward pieces.
  for (size_t piece : {size_t{1}, size_t{7}, size_t{4093}}) {
    MemSource textSource(text, piece);
    Stm* a85d = Entry<BNOpenProc>(kBNOpenAscii85Decode)(textSource.stm(), nullptr);
    ASSERT_NE(a85d, nullptr);
    const Image wrapped = DecodeThroughTable(a85d);
    Entry<BNCloseProc>(kBNCloseAscii85Decode)(a85d);
    EXPECT_EQ(wrapped.width, direct.width);
    EXPECT_EQ(wrapped.height, direct.height);
    EXPECT_EQ(wrapped.pixels, direct.pixels) << "piece " << piece;
  }
}

// Text another writer made of a JPEG file another encoder made reads back
// through the stack as the same image as the file itself.
TEST(StackedJpegDecode, ReadsOtherWritersText) {
  const Image img = testing_support::LoadTestImage("coffee.ppm");
  testing_support::LibjpegOptions options;
  options.restartInterval = 7;
  const Bytes file = testing_support::LibjpegEncode(img, options);
  MemSource fileSource(file);
  const Image direct = DecodeThroughTable(fileSource.stm());
  ASSERT_EQ(direct.pixels.size(), img.pixels.size());
  const std::string text = a85test::RefEncodeWrapped(file, 76, "\r\n", false);
  MemSource textSource(a85test::ToBytes(text), 509);
  Stm* a85d = Entry<BNOpenProc>(kBNOpenAscii85Decode)(textSource.stm(), nullptr);
  ASSERT_NE(a85d, nullptr);
  const Image wrapped = DecodeThroughTable(a85d);
  EXPECT_FALSE(a85d->error);
  Entry<BNCloseProc>(kBNCloseAscii85Decode)(a85d);
  EXPECT_EQ(wrapped.pixels, direct.pixels);
}

INSTANTIATE_TEST_SUITE_P(Images, StackedJpeg,
                         ::testing::Values(std::make_tuple(97, 61, 3), std::make_tuple(64, 64, 1),
                                           std::make_tuple(33, 17, 4), std::make_tuple(600, 40, 3)));

}  // namespace
