// test_enc_errors.cpp - the encode filter under misuse and failure: bad
// parameters refused at open with their message, early and late closes, a
// failing target, bytes past the image, and the memory the filter takes
// (one working block at open, nothing per line).
#include <gtest/gtest.h>

#include <malloc.h>
#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's own count of heap bytes in use.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include <cstring>

#include "dct/dct_state.h"
#include "enc_test_util.h"

namespace {

using enc_test::EncodeImage;
using enc_test::EncodeOptions;
using enc_test::MakeParams;
using testing_support::Bytes;
using testing_support::Image;
using testing_support::MemSink;
using testing_support::SyntheticImage;

struct OpenCase {
  int width, height, colors;
  const char* message;
};

class OpenRefused : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OpenRefused, NullWithMessage) {
  const OpenCase& c = GetParam();
  JPEGEncodeParams p = MakeParams(c.width, c.height, c.colors, EncodeOptions{}, nullptr);
  MemSink sink;
  gJPEGError = 0;
  EXPECT_EQ(JPEGOpen(sink.stm(), &p), nullptr);
  EXPECT_EQ(gJPEGError, 1);
  EXPECT_STREQ(JPEGLastErrorMessage(), c.message);
  EXPECT_TRUE(sink.Contents().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Params, OpenRefused,
    ::testing::Values(OpenCase{8, 8, 0, "Wrong number of colors!"},
                      OpenCase{8, 8, 5, "Wrong number of colors!"},
                      OpenCase{8, 8, -1, "Wrong number of colors!"},
                      OpenCase{0, 8, 3, "Columns==0"}, OpenCase{8, 0, 3, "Rows==0"},
                      OpenCase{0, 0, 1, "Columns==0"},
                      OpenCase{10923, 8, 3, "Raster line of 32769 bytes exceeds the 32767-byte limit"},
                      OpenCase{2000000000, 8, 4,
                               "Raster line of 2147483647 bytes exceeds the 32767-byte limit"},
                      OpenCase{-5, 8, 1, "Columns=-5 out of range"},
                      OpenCase{8, 65536, 1, "Rows=65536 out of range"}));

TEST(EncoderOpen, NullTargetOrParams) {
  JPEGEncodeParams p = MakeParams(8, 8, 1, EncodeOptions{}, nullptr);
  MemSink sink;
  EXPECT_EQ(JPEGOpen(nullptr, &p), nullptr);
  EXPECT_EQ(JPEGOpen(sink.stm(), nullptr), nullptr);
  JPEGClose(nullptr);  // does nothing
}

TEST(EncoderOpen, MarkerDataLengthWithoutData) {
  JPEGEncodeParams p = MakeParams(8, 8, 1, EncodeOptions{}, nullptr);
  p.markerDataLength = 10;
  MemSink sink;
  EXPECT_EQ(JPEGOpen(sink.stm(), &p), nullptr);
  p.markerDataLength = -1;
  EXPECT_EQ(JPEGOpen(sink.stm(), &p), nullptr);
}

// The longest line the stream record can hold still works.
TEST(EncoderOpen, LongestLine) {
  Image img = SyntheticImage(32767, 2, 1);
  enc_test::EncodeResult r = EncodeImage(img);
  ASSERT_TRUE(r.opened) << r.message;
  EXPECT_TRUE(r.writeOk);
  Image out;
  std::string msg;
  ASSERT_TRUE(testing_support::LibjpegDecode(r.jpeg, &out, false, &msg)) << msg;
  EXPECT_EQ(out.width, 32767);
}

// --- closing early and late ----------------------------------------------------

struct Writer {
  MemSink sink;
  JPEGEncodeParams p;
  Stm* s;
  explicit Writer(const Image& img, long failAfter = -1)
      : sink(256, failAfter), p(MakeParams(img.width, img.height, img.colors, EncodeOptions{}, nullptr)) {
    gJPEGError = 0;
    s = JPEGOpen(sink.stm(), &p);
  }
  uint32_t Write(const Image& img, size_t from, size_t n) {
    return StmFWrite(img.pixels.data() + from, 1, static_cast<uint32_t>(n), s);
  }
};

TEST(EncoderClose, PrematureCloseLeavesNoEOI) {
  const Image img = SyntheticImage(40, 40, 3);
  Writer w(img);
  ASSERT_NE(w.s, nullptr);
  const size_t line = 40 * 3;
  w.Write(img, 0, 20 * line);
  JPEGClose(w.s);
  EXPECT_EQ(gJPEGError, 1);
  EXPECT_STREQ(JPEGLastErrorMessage(), "Premature close before EOI");
  const Bytes out = w.sink.Contents();
  ASSERT_GT(out.size(), 600u);  // header and the strips coded so far
  EXPECT_NE(out[out.size() - 1], 0xD9);
  EXPECT_EQ(enc_test::ScanMarkers(out), std::vector<int>({0xD0}));  // two MCU rows, one RST
}

// Nothing written at all is no image, not one made of stale buffer bytes.
TEST(EncoderClose, CloseWithoutAnyLine) {
  const Image img = SyntheticImage(8, 1, 1);
  Writer w(img);
  ASSERT_NE(w.s, nullptr);
  JPEGClose(w.s);
  EXPECT_EQ(gJPEGError, 1);
  EXPECT_STREQ(JPEGLastErrorMessage(), "Premature close before EOI");
  EXPECT_TRUE(w.sink.Contents().empty());
}

// Half of the last line: the close completes it with what the buffer holds.
TEST(EncoderClose, HalfLastLineFinishes) {
  const Image img = SyntheticImage(30, 10, 3);
  Writer w(img);
  ASSERT_NE(w.s, nullptr);
  w.Write(img, 0, img.pixels.size() - 45);
  JPEGClose(w.s);
  EXPECT_EQ(gJPEGError, 0);
  const Bytes out = w.sink.Contents();
  Image dec;
  std::string msg;
  ASSERT_TRUE(testing_support::LibjpegDecode(out, &dec, false, &msg)) << msg;
  EXPECT_EQ(dec.height, 10);
}

// One byte more than the image holds is refused; the close is silent.
TEST(EncoderClose, ByteBeyondImageRefused) {
  const Image img = SyntheticImage(16, 16, 3);
  Writer w(img);
  ASSERT_NE(w.s, nullptr);
  Bytes more = img.pixels;
  more.push_back(7);
  const uint32_t n = StmFWrite(more.data(), 1, static_cast<uint32_t>(more.size()), w.s);
  EXPECT_EQ(n, img.pixels.size());
  EXPECT_EQ(os_fputc(9, w.s), -1);
  EXPECT_FALSE(w.s->error);
  JPEGClose(w.s);
  EXPECT_EQ(gJPEGError, 0);
  const Bytes out = w.sink.Contents();
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out[out.size() - 2], 0xFF);
  EXPECT_EQ(out.back(), 0xD9);
}

// --- a failing target ---------------------------------------------------------

TEST(EncoderTarget, ErrorStopsOutput) {
  const Image img = SyntheticImage(64, 64, 3);
  Writer w(img, 600);  // fails on the first flush past 600 bytes
  ASSERT_NE(w.s, nullptr);
  uint32_t written = 0;
  for (size_t at = 0; at < img.pixels.size() && !w.s->error; at += 192) written += w.Write(img, at, 192);
  EXPECT_TRUE(w.s->error);
  EXPECT_EQ(gJPEGError, 1);
  EXPECT_STREQ(JPEGLastErrorMessage(), "Target error prevents output");
  // Further writes are taken and dropped; the count never wraps, however many.
  for (int i = 0; i < 100000; i++) os_fputc(static_cast<int16_t>(i & 0xFF), w.s);
  EXPECT_LE(w.s->count, 0);
  EXPECT_GE(w.s->count, -1);
  StmFWrite(img.pixels.data(), 1, 70000 > img.pixels.size() ? static_cast<uint32_t>(img.pixels.size()) : 70000, w.s);
  EXPECT_GE(w.s->count, -1);
  gJPEGError = 0;
  JPEGClose(w.s);  // already reported: silent
  EXPECT_EQ(gJPEGError, 0);
}

TEST(EncoderTarget, EndOfFileStopsOutput) {
  const Image img = SyntheticImage(16, 32, 1);
  Writer w(img);
  ASSERT_NE(w.s, nullptr);
  w.sink.stm()->flsBuf(-1, w.sink.stm());  // the target has been ended
  w.Write(img, 0, img.pixels.size());
  EXPECT_TRUE(w.s->error);
  EXPECT_STREQ(JPEGLastErrorMessage(), "Target EOF prevents output");
  JPEGClose(w.s);
}

// Losing the last bytes of the stream (the EOI marker) is reported too.
TEST(EncoderTarget, FailureInTheLastBytes) {
  const Image img = SyntheticImage(16, 16, 1);
  const size_t total = EncodeImage(img).jpeg.size();
  MemSink sink(1, static_cast<long>(total) - 2);  // the flush of EOI's 0xFF fails
  JPEGEncodeParams p = MakeParams(16, 16, 1, EncodeOptions{}, nullptr);
  Stm* s = JPEGOpen(sink.stm(), &p);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(StmFWrite(img.pixels.data(), 1, static_cast<uint32_t>(img.pixels.size()), s),
            img.pixels.size());
  gJPEGError = 0;
  JPEGClose(s);  // codes the last line, then finds the target failed
  EXPECT_EQ(gJPEGError, 1);
  EXPECT_STREQ(JPEGLastErrorMessage(), "Target error prevents output");
}

// Coarse quantization selects the small alphabets; a block that needs a
// larger size (a pixel checkerboard at QFactor 2) stops the coder.
TEST(EncoderTarget, MissingHuffmanCodeStopsCoding) {
  Image img;
  img.width = img.height = 16;
  img.colors = 1;
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 16; x++) img.pixels.push_back((x + y) % 2 ? 255 : 0);
  EncodeOptions o;
  o.quality = 2.0;
  enc_test::EncodeResult r = EncodeImage(img, o);
  EXPECT_FALSE(r.writeOk);
  EXPECT_TRUE(r.jpegError);
  EXPECT_EQ(r.message, "Event with no Huffcode in the spec");
}

// --- memory ---------------------------------------------------------------------

// A target that throws the bytes away, so the output allocates nothing.
struct NullTarget {
  uint8_t buffer[4096];
  Stm stm{};
  NullTarget() {
    stm.bufSize = sizeof buffer;
    stm.count = static_cast<int16_t>(sizeof buffer);
    stm.ptr = stm.base = buffer;
    stm.flsBuf = [](int16_t c, Stm* s) -> int16_t {
      s->ptr = s->base;
      s->count = static_cast<int16_t>(s->bufSize);
      if (c == -1) return -1;
      s->count--;
      *s->ptr++ = static_cast<uint8_t>(c);
      return c;
    };
  }
};

// Heap bytes in use: glibc's arena statistics, or the sanitizer allocator's
// own count when it has replaced malloc.
size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#endif
}

// Heap in use after open and at the peak while writing: independent of the
// number of lines.
std::pair<long, long> HeapGrowth(int width, int height) {
  const Image line = SyntheticImage(width, 16, 3);
  NullTarget target;
  JPEGEncodeParams p = MakeParams(width, height, 3, EncodeOptions{0.76, true, true, 0, {}}, nullptr);
  const size_t before = HeapInUse();
  Stm* s = JPEGOpen(&target.stm, &p);
  if (!s) return {-1, -1};
  const long atOpen = static_cast<long>(HeapInUse() - before);
  long peak = atOpen;
  for (int y = 0; y < height; y++) {
    StmFWrite(line.Row(y % 16), 1, static_cast<uint32_t>(width * 3), s);
    if (y % 97 == 0) peak = std::max(peak, static_cast<long>(HeapInUse() - before));
  }
  JPEGClose(s);
  return {atOpen, peak};
}

TEST(EncoderMemory, DoesNotGrowWithHeight) {
  const auto small = HeapGrowth(300, 16);
  const auto tall = HeapGrowth(300, 20000);
  ASSERT_GT(small.first, 0);
  EXPECT_EQ(tall.first, small.first);
  EXPECT_EQ(tall.second, tall.first);
  // One strip (16 lines of luma, 9 of each chroma) plus tables: far below
  // even a tenth of the image.
  EXPECT_LT(tall.first, 300 * 3 * 20000 / 10);
}

}  // namespace
