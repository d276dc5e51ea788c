// test_thumb_stream.cpp - the in-memory thumbnail interface: the same lines
// as the decode filter driven directly, batches of lines, the answers for a
// null handle, zero lines and data that ends inside the scan, and copies
// that never run past the decoded line.
#include <gtest/gtest.h>

#include "host_test_util.h"
#include "jpeg_filters.h"
#include "thumb_stream.h"

using namespace host_test;
using testing_support::LibjpegEncode;
using testing_support::MemSource;
using testing_support::SyntheticImage;

namespace {

// The lines the decode filter hands out when driven directly.
Image FilterDecode(const Bytes& jpeg) {
  MemSource source(jpeg);
  int16_t width = 0, height = 0, code = -1;
  Stm* s = JPEGDOpen(source.stm(), &width, &height, &code);
  EXPECT_NE(s, nullptr);
  Image img;
  if (s == nullptr) return img;
  img.width = width;
  img.height = height;
  img.colors = code == 0 ? 3 : code == 1 ? 4 : 1;
  const size_t lineBytes = static_cast<size_t>(width) * img.colors;
  for (int y = 0; y < height; y++) {
    EXPECT_EQ(s->filBuf(s), 0);
    img.pixels.insert(img.pixels.end(), s->base, s->base + lineBytes);
  }
  JPEGDClose(s);
  return img;
}

JPEGThumbHandle Open(const Bytes& jpeg, short* w, short* h, short* c) {
  *w = 0;
  return StartJPEGDecompress(reinterpret_cast<const char*>(jpeg.data()), static_cast<long>(jpeg.size()),
                             w, h, c);
}

}  // namespace

TEST(Thumbnail, DecodesLikeTheFilterInBatches) {
  struct Case {
    const char* name;
    Bytes jpeg;
  };
  const Case cases[] = {
      {"grey", LibjpegEncode(SyntheticImage(50, 33, 1))},
      {"rgb", LibjpegEncode(SyntheticImage(77, 41, 3))},
      {"cmyk", LibjpegEncode(SyntheticImage(30, 20, 4))},
      {"larger than one 8192-byte piece", testing_support::ReadFileBytes(
                                              testing_support::TestdataPath("retina.jpg"))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Image ref = FilterDecode(c.jpeg);
    short w, h, colors;
    JPEGThumbHandle t = Open(c.jpeg, &w, &h, &colors);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(w, ref.width);
    EXPECT_EQ(h, ref.height);
    EXPECT_EQ(colors, ref.colors);
    const short lineBytes = static_cast<short>(w * colors);
    Bytes got(static_cast<size_t>(lineBytes) * h);
    for (int y = 0; y < h; y += 7) {  // batches of 7 lines, the last one shorter
      const short lines = static_cast<short>(std::min(7, h - y));
      EXPECT_EQ(GetJPEGData(t, reinterpret_cast<char*>(&got[static_cast<size_t>(y) * lineBytes]), lines,
                            lineBytes),
                1);
    }
    EXPECT_EQ(got, ref.pixels);
    CloseJPEG(t);
  }
}

TEST(Thumbnail, NullHandleAndZeroLines) {
  char buffer[4] = {1, 2, 3, 4};
  EXPECT_EQ(GetJPEGData(nullptr, buffer, 1, 4), 0);
  CloseJPEG(nullptr);

  const Bytes jpeg = LibjpegEncode(SyntheticImage(16, 16, 1));
  short w, h, c;
  JPEGThumbHandle t = Open(jpeg, &w, &h, &c);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(GetJPEGData(t, buffer, 0, 4), 1);
  EXPECT_EQ(GetJPEGData(t, nullptr, 0, 4), 1);
  EXPECT_EQ(buffer[0], 1);
  CloseJPEG(t);
}

TEST(Thumbnail, UnreadableDataGivesNoHandle) {
  const Bytes eoiOnly = {0xFF, 0xD8, 0xFF, 0xD9};
  const Bytes garbage = ResourceBytes(1000);
  const Bytes jpeg = LibjpegEncode(SyntheticImage(64, 64, 3));
  const Bytes headerOnly(jpeg.begin(), jpeg.begin() + 100);
  short w, h, c;
  EXPECT_EQ(Open(eoiOnly, &w, &h, &c), nullptr);
  EXPECT_EQ(Open(garbage, &w, &h, &c), nullptr);
  EXPECT_EQ(Open(headerOnly, &w, &h, &c), nullptr);
  EXPECT_EQ(Open(Bytes{}, &w, &h, &c), nullptr);
  EXPECT_EQ(StartJPEGDecompress(nullptr, 10, &w, &h, &c), nullptr);
  EXPECT_EQ(StartJPEGDecompress("x", 1, nullptr, &h, &c), nullptr);
}

TEST(Thumbnail, DataEndingInsideTheScanLeavesTheRestUntouched) {
  const Bytes jpeg = LibjpegEncode(SyntheticImage(64, 256, 3));
  const Bytes cut(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2));
  short w, h, c;
  JPEGThumbHandle t = Open(cut, &w, &h, &c);
  ASSERT_NE(t, nullptr);
  const size_t lineBytes = static_cast<size_t>(w) * c;
  Bytes buffer(lineBytes * h, 0xA5);
  EXPECT_EQ(GetJPEGData(t, reinterpret_cast<char*>(buffer.data()), h, static_cast<short>(lineBytes)), 1);
  // The last line could not be decoded and keeps its old contents.
  EXPECT_EQ(Bytes(buffer.end() - static_cast<long>(lineBytes), buffer.end()), Bytes(lineBytes, 0xA5));
  EXPECT_NE(Bytes(buffer.begin(), buffer.begin() + static_cast<long>(lineBytes)), Bytes(lineBytes, 0xA5));
  CloseJPEG(t);
}

TEST(Thumbnail, NeverCopiesPastTheDecodedLine) {
  const Bytes jpeg = LibjpegEncode(SyntheticImage(20, 4, 3));
  short w, h, c;
  JPEGThumbHandle t = Open(jpeg, &w, &h, &c);
  ASSERT_NE(t, nullptr);
  const short decoded = static_cast<short>(w * c);
  const short stride = static_cast<short>(decoded + 50);  // the caller's lines are longer
  Bytes buffer(static_cast<size_t>(stride) * h, 0x33);
  EXPECT_EQ(GetJPEGData(t, reinterpret_cast<char*>(buffer.data()), h, stride), 1);
  for (int y = 0; y < h; y++)
    for (int i = decoded; i < stride; i++) ASSERT_EQ(buffer[static_cast<size_t>(y) * stride + i], 0x33);
  CloseJPEG(t);
}
