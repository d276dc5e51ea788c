// a85_stack_test.cpp - the filters stacked through the exported table
// BNStreams: JPEG encode over ASCII85 encode over a memory stream, and
// ASCII85 decode under JPEG decode, against the unwrapped path.
#include <gtest/gtest.h>

#include <algorithm>

#include "bn_streams.h"
#include "support/test_support.h"

namespace {

using testing_support::Image;
using testing_support::MemSink;
using testing_support::MemSource;

template <typename Proc>
Proc Entry(int index) {
  return reinterpret_cast<Proc>(BNStreams[index]);
}

// Writes img through a JPEG encode filter opened from the table on `below`
// and closes that filter (only that one: closing goes top-down).
void EncodeThroughTable(const Image& img, Stm* below) {
  JPEGEncodeParams p{};
  p.QFactor = 0.76;
  p.subsample = p.blend = p.densityUnits = 1;
  p.xDensity = p.yDensity = 72;
  p.Columns = img.width, p.Rows = img.height, p.Colors = static_cast<int16_t>(img.colors);
  const auto open = Entry<BNOpenJPEGEncodeProc>(kBNOpenJPEGEncode);
  EXPECT_EQ(open(nullptr, &p), nullptr);  // a null stream below is refused
  Stm* jpeg = open(below, &p);
  for (int y = 0; y < img.height; y++) StmFWrite(img.Row(y), 1, img.width * img.colors, jpeg);
  EXPECT_FALSE(jpeg->error);
  Entry<BNCloseProc>(kBNCloseJPEGEncode)(jpeg);
}

// Reads every line of `colors` samples from a JPEG decode filter opened from
// the table on `below`; the image must then end cleanly.
Image DecodeThroughTable(Stm* below, int colors) {
  int16_t info[3] = {0, 0, -1};
  const auto open = Entry<BNOpenJPEGDecodeProc>(kBNOpenJPEGDecode);
  EXPECT_EQ(open(nullptr, info), nullptr);  // a null stream below is refused
  gJPEGError = 0;
  Stm* jpeg = open(below, info);
  Image img{info[0], info[1], colors, {}};
  for (int y = 0; y < img.height && jpeg->filBuf(jpeg) == 0; y++) {
    img.pixels.insert(img.pixels.end(), jpeg->base, jpeg->base + img.width * colors);
  }
  EXPECT_TRUE(jpeg->filBuf(jpeg) == -1 && gJPEGError == 0);
  Entry<BNCloseProc>(kBNCloseJPEGDecode)(jpeg);
  return img;
}

TEST(BNStreamsTable, JpegOverAscii85GivesTheSameImage) {
  for (int colors : {3, 1, 4}) {
    const Image img = testing_support::SyntheticImage(97 - 32 * (colors == 4), 61, colors, 5);
    EXPECT_EQ(Entry<BNOpenProc>(kBNOpenAscii85Encode)(nullptr, nullptr), nullptr);
    EXPECT_EQ(Entry<BNOpenProc>(kBNOpenAscii85Decode)(nullptr, nullptr), nullptr);
    MemSink plainSink;
    EncodeThroughTable(img, plainSink.stm());
    MemSource plainSource(plainSink.Contents());
    const Image direct = DecodeThroughTable(plainSource.stm(), colors);
    ASSERT_EQ(direct.pixels.size(), img.pixels.size());

    MemSink textSink(997);
    Stm* a85 = Entry<BNOpenProc>(kBNOpenAscii85Encode)(textSink.stm(), nullptr);
    EncodeThroughTable(img, a85);
    EXPECT_FALSE(a85->error);
    const int32_t lines = Entry<BNCloseIntProc>(kBNCloseAscii85Encode)(a85);
    const auto text = textSink.Contents();
    EXPECT_EQ(std::string(text.end() - 2, text.end()), "~>");
    EXPECT_EQ(lines, std::count(text.begin(), text.end(), '\n'));

    for (size_t piece : {1, 7, 4093}) {  // the text cut into awkward pieces
      MemSource textSource(text, piece);
      Stm* a85d = Entry<BNOpenProc>(kBNOpenAscii85Decode)(textSource.stm(), nullptr);
      const Image wrapped = DecodeThroughTable(a85d, colors);
      Entry<BNCloseProc>(kBNCloseAscii85Decode)(a85d);
      EXPECT_EQ(wrapped.pixels, direct.pixels) << "piece " << piece;
    }
  }
}

// ASCII85-wrapped JPEG cut at every point before the end of its end mark.
// A cut inside the JPEG data fails the decoder (and the ASCII85 stream ends
// with its error flag); a cut after the JPEG's last byte leaves a complete
// image, and the ASCII85 stream, read on to its end, reports the missing end
// mark. Only the uncut text is clean on both counts.
TEST(BNStreamsTable, CutTextUnderTheJpegDecoderIsReported) {
  const Image img = testing_support::SyntheticImage(19, 11, 3, 2);
  MemSink textSink(997);
  Stm* a85 = Entry<BNOpenProc>(kBNOpenAscii85Encode)(textSink.stm(), nullptr);
  EncodeThroughTable(img, a85);
  Entry<BNCloseIntProc>(kBNCloseAscii85Encode)(a85);
  const auto text = textSink.Contents();
  for (size_t cut = 0; cut <= text.size(); cut++) {
    MemSource source(testing_support::Bytes(text.begin(), text.begin() + static_cast<long>(cut)), 61);
    Stm* a85d = Entry<BNOpenProc>(kBNOpenAscii85Decode)(source.stm(), nullptr);
    int16_t info[3] = {0, 0, -1};
    gJPEGError = 0;
    Stm* jpeg = Entry<BNOpenJPEGDecodeProc>(kBNOpenJPEGDecode)(a85d, info);
    int lines = 0;
    while (jpeg != nullptr && jpeg->filBuf(jpeg) == 0) lines++;
    const bool jpegFailed = jpeg == nullptr || gJPEGError != 0;
    if (jpeg != nullptr) Entry<BNCloseProc>(kBNCloseJPEGDecode)(jpeg);
    while (os_fgetc(a85d) >= 0) {
    }
    EXPECT_TRUE(a85d->eof);
    EXPECT_EQ(a85d->error != 0, cut < text.size()) << "cut " << cut;
    EXPECT_EQ(jpegFailed, lines < img.height) << "cut " << cut;
    Entry<BNCloseProc>(kBNCloseAscii85Decode)(a85d);
  }
}

}  // namespace

namespace {

// Every filter runs one way: the other direction's procedure refuses (the
// stream fails, -1) instead of calling through a null pointer.
TEST(FilterDirections, TheOtherDirectionIsRefused) {
  const testing_support::Bytes jpeg = [] {
    MemSink sink;
    EncodeThroughTable(testing_support::SyntheticImage(16, 16, 3), sink.stm());
    return sink.Contents();
  }();
  MemSink sink;
  MemSource source(jpeg);
  JPEGEncodeParams p{};
  p.QFactor = 0.5;
  p.Columns = p.Rows = 8;
  p.Colors = 1;
  int16_t info[3] = {0, 0, 0};
  struct Case {
    const char* name;
    Stm* filter;
    bool writes;  // the filter's own direction
    int close;
  } cases[] = {
      {"JPEG encode", Entry<BNOpenJPEGEncodeProc>(kBNOpenJPEGEncode)(sink.stm(), &p), true, kBNCloseJPEGEncode},
      {"JPEG decode", Entry<BNOpenJPEGDecodeProc>(kBNOpenJPEGDecode)(source.stm(), info), false,
       kBNCloseJPEGDecode},
      {"ASCII85 encode", Entry<BNOpenProc>(kBNOpenAscii85Encode)(sink.stm(), nullptr), true,
       kBNCloseAscii85Encode},
      {"ASCII85 decode", Entry<BNOpenProc>(kBNOpenAscii85Decode)(source.stm(), nullptr), false,
       kBNCloseAscii85Decode},
  };
  for (const Case& c : cases) {
    ASSERT_NE(c.filter, nullptr) << c.name;
    const int16_t answer = c.writes ? c.filter->filBuf(c.filter) : c.filter->flsBuf('x', c.filter);
    EXPECT_EQ(answer, -1) << c.name;
    EXPECT_TRUE(c.filter->error) << c.name;
  }
  for (auto it = std::rbegin(cases); it != std::rend(cases); ++it) Entry<BNCloseProc>(it->close)(it->filter);
}

}  // namespace
