// test_filter_query.cpp - what an open decode filter tells the layers above
// it by its stream alone: line bytes and colours, every line handed out, the
// end of the image, and whether this filter (and no other) has failed.
#include <gtest/gtest.h>

#include "decode/jpeg_filter_query.h"
#include "jpeg_filters.h"
#include "support/our_codec.h"

using namespace testing_support;

namespace {

struct Opened {
  MemSource source;
  Stm* jpeg;
  explicit Opened(const Bytes& data) : source(data, 512) {
    int16_t width = 0, height = 0, colorCode = -1;
    jpeg = JPEGDOpen(source.stm(), &width, &height, &colorCode);
  }
  ~Opened() { JPEGDClose(jpeg); }
};

TEST(DecodeQuery, FollowsTheImageToItsEnd) {
  const Image img = SyntheticImage(21, 5, 3);
  Opened d(OurEncode(img).jpeg);
  ASSERT_NE(d.jpeg, nullptr);
  EXPECT_EQ(JPEGDLineBytes(d.jpeg), 21 * 3);
  EXPECT_EQ(JPEGDColors(d.jpeg), 3);
  for (int y = 0; y < 5; y++) {  // the open made line 0; each fill hands out one line
    EXPECT_FALSE(JPEGDEveryLineHandedOut(d.jpeg)) << y;
    ASSERT_EQ(JPEGDFilBuf(d.jpeg), 0) << y;
  }
  EXPECT_TRUE(JPEGDEveryLineHandedOut(d.jpeg));
  EXPECT_TRUE(JPEGDFinishImage(d.jpeg));
  EXPECT_EQ(JPEGDLineBytes(d.jpeg), 0);  // the line buffer is gone with the image
  EXPECT_FALSE(JPEGDFilterFailed(d.jpeg));
}

TEST(DecodeQuery, AFailureBelongsToItsOwnFilter) {
  const Bytes good = OurEncode(SyntheticImage(64, 64, 1)).jpeg;
  const Bytes cut(good.begin(), good.begin() + static_cast<long>(good.size() * 3 / 4));  // scan cut
  Opened sound(good), damaged(cut);
  ASSERT_NE(sound.jpeg, nullptr);
  ASSERT_NE(damaged.jpeg, nullptr);
  while (JPEGDFilBuf(damaged.jpeg) == 0) {
  }
  EXPECT_TRUE(JPEGDFilterFailed(damaged.jpeg));
  EXPECT_FALSE(JPEGDFilterFailed(sound.jpeg));
  EXPECT_EQ(JPEGDColors(sound.jpeg), 1);
}

TEST(DecodeQuery, ANullStreamAnswersNothing) {
  EXPECT_EQ(JPEGDLineBytes(nullptr), 0);
  EXPECT_EQ(JPEGDColors(nullptr), 0);
  EXPECT_FALSE(JPEGDEveryLineHandedOut(nullptr));
  EXPECT_FALSE(JPEGDFinishImage(nullptr));
  EXPECT_FALSE(JPEGDFilterFailed(nullptr));
}

}  // namespace
