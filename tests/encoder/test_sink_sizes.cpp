// test_sink_sizes.cpp - the encoder's bytes do not depend on the target's
// buffer size: the bit writer stores eight bytes at once only where the
// buffer has room for them and stuffs 0xFF bytes one at a time, so every
// size takes the fast and the slow ways at other places. The peer decodes
// what comes out without a warning.
#include <gtest/gtest.h>

#include "jpeg_filters.h"
#include "support/test_support.h"

namespace {

using namespace testing_support;

Bytes EncodeInto(const Image& img, uint16_t bufSize) {
  MemSink sink(bufSize);
  JPEGEncodeParams p{};
  p.QFactor = 0.15;  // finest: long codes, many 0xFF bytes
  p.Columns = img.width;
  p.Rows = img.height;
  p.Colors = static_cast<int16_t>(img.colors);
  Stm* s = JPEGOpen(sink.stm(), &p);
  EXPECT_NE(s, nullptr);
  if (s == nullptr) return {};
  StmFWrite(img.pixels.data(), 1, static_cast<uint32_t>(img.pixels.size()), s);
  JPEGClose(s);
  return sink.Contents();
}

TEST(BitWriter, BytesDoNotDependOnTheTargetBuffer) {
  const Image img = SyntheticImage(77, 45, 3, 7);
  const Bytes want = EncodeInto(img, 4096);
  Image decoded;
  ASSERT_TRUE(LibjpegDecode(want, &decoded));
  for (uint16_t size : {1, 2, 7, 8, 9, 15, 64}) EXPECT_EQ(EncodeInto(img, size), want) << size;
}

}  // namespace
