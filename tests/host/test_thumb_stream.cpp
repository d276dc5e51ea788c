// test_thumb_stream.cpp - the in-memory thumbnail interface: the same lines
// as the decode filter driven directly (in batches, into lines longer than
// the decoded ones, for every colour count including two components), and
// the answers for a null handle, zero lines, unreadable data and data that
// ends inside the scan.
#include "host_test_util.h"
#include "jpeg_filters.h"
#include "support/our_codec.h"

using testing_support::LibjpegEncode;

// Data cut inside the scan gives the lines the filter gives; the rest of the
// caller's buffer keeps its old contents.
TEST(Thumbnail, DecodesLikeTheFilterNeverPastTheLine) {
  const Bytes rgb = LibjpegEncode(SyntheticImage(64, 256, 3));
  const std::pair<Bytes, int> cases[] = {
      {LibjpegEncode(SyntheticImage(50, 33, 1)), 1},
      {LibjpegEncode(SyntheticImage(30, 20, 4)), 4},
      {testing_support::OurEncode(SyntheticImage(33, 17, 2)).jpeg, 2},
      // Larger than one 8192-byte piece; then data cut inside the scan.
      {testing_support::ReadFileBytes(testing_support::TestdataPath("retina.jpg")), 3},
      {Bytes(rgb.begin(), rgb.begin() + static_cast<long>(rgb.size() / 2)), 3},
  };
  short w = 0, h = 0, c = 0;
  for (const auto& [jpeg, colors] : cases) {
    const char* data = reinterpret_cast<const char*>(jpeg.data());
    JPEGThumbHandle t = StartJPEGDecompress(data, static_cast<long>(jpeg.size()), &w, &h, &c);
    ASSERT_TRUE(t != nullptr && c == colors) << colors;
    const int decoded = w * c, stride = decoded + 3;  // the caller's lines are longer
    EXPECT_EQ(GetJPEGData(t, nullptr, 0, static_cast<short>(stride)), 1);  // zero lines: nothing touched
    Bytes got(size_t{1} * stride * h, 0x77), expected(got);
    for (int y = 0; y < h; y += 7)  // batches of 7 lines, the last one shorter
      EXPECT_EQ(GetJPEGData(t, reinterpret_cast<char*>(&got[size_t{1} * y * stride]),
                            static_cast<short>(std::min(7, h - y)), static_cast<short>(stride)), 1);
    CloseJPEG(t);
    testing_support::MemSource source(jpeg);
    int16_t width, height, code;
    Stm* s = JPEGDOpen(source.stm(), &width, &height, &code);  // the filter driven directly
    size_t at = 0;
    for (; at < got.size() && s->filBuf(s) == 0; at += stride) std::copy(s->base, s->base + decoded, &expected[at]);
    JPEGDClose(s);
    ASSERT_GT(at, 0u);
    EXPECT_TRUE(got == expected) << "colours " << colors;
  }
  char buffer[4];
  EXPECT_EQ(GetJPEGData(nullptr, buffer, 1, 4), 0);
  CloseJPEG(nullptr);
  EXPECT_EQ(StartJPEGDecompress(reinterpret_cast<const char*>(rgb.data()), 100, &w, &h, &c), nullptr);  // cut header
  EXPECT_EQ(StartJPEGDecompress(nullptr, 10, &w, &h, &c), nullptr);
}
