// test_wide_lines.cpp - raster lines wider than a Stm's 16-bit count (32767
// bytes) through the encode and decode filters. Written in runs of any size,
// down to single bytes, a wide image codes to exactly the bytes it codes to
// when written at once; the reference peer reads the file close to the
// source; and the decode filter hands every line back in consecutive pieces
// at base that make up the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "codec/codec_state.h"
#include "jpeg_filters.h"
#include "support/our_codec.h"

namespace {

using testing_support::Bytes;
using testing_support::Image;
using testing_support::MemSink;
using testing_support::MemSource;

constexpr size_t kLargestCount = 32767;

// The peer leaves our four-component files as stored (Y, Cb, Cr, K; their
// colour segment is not the one it knows): back to CMYK, with C, M, Y the
// complements of R, G, B.
Image YcckToCmyk(Image img) {
  for (size_t i = 0; i + 3 < img.pixels.size(); i += 4) {
    const double y = img.pixels[i], cb = img.pixels[i + 1] - 128.0, cr = img.pixels[i + 2] - 128.0;
    const double rgb[3] = {y + 1.402 * cr, y - 0.344136 * cb - 0.714136 * cr, y + 1.772 * cb};
    for (int c = 0; c < 3; c++) img.pixels[i + c] = static_cast<uint8_t>(255 - std::lround(std::clamp(rgb[c], 0.0, 255.0)));
  }
  return img;
}

struct WideCase {
  const char* name;
  int width, height, colors;
  bool subsample;
};

void PrintTo(const WideCase& c, std::ostream* out) { *out << c.name; }

JPEGEncodeParams Params(const WideCase& c, double quality) {
  return JPEGEncodeParams{quality, static_cast<uint8_t>(c.subsample), 0, 0, 0, 1, 72, 72,
                          c.width, c.height, static_cast<int16_t>(c.colors), 0, nullptr, 0};
}

// Encodes img writing runs of the sizes in `runs` in turn (0: one os_fputc).
// Every piece the filter's buffer offers fits the 16-bit count.
Bytes EncodeInRuns(const Image& img, const WideCase& c, double quality, const std::vector<size_t>& runs) {
  MemSink sink;
  JPEGEncodeParams p = Params(c, quality);
  gJPEGError = 0;
  Stm* s = JPEGOpen(sink.stm(), &p);
  EXPECT_NE(s, nullptr) << JPEGLastErrorMessage();
  if (s == nullptr) return {};
  size_t at = 0;
  for (size_t k = 0; at < img.pixels.size() && !s->error; k++) {
    EXPECT_LE(s->bufSize, kLargestCount);
    const size_t run = std::min(runs[k % runs.size()], img.pixels.size() - at);
    if (run == 0) {
      os_fputc(img.pixels[at++], s);
    } else {
      EXPECT_EQ(StmFWrite(&img.pixels[at], 1, static_cast<uint32_t>(run), s), run);
      at += run;
    }
  }
  EXPECT_FALSE(s->error) << JPEGLastErrorMessage();
  JPEGClose(s);
  EXPECT_EQ(gJPEGError, 0) << JPEGLastErrorMessage();
  return sink.Contents();
}

// Decodes with our filter, checking that each wide line arrives as pieces
// of JPEG_LINE_PIECE_BYTES, consecutive in one line buffer, the last piece
// the rest, with count the piece's bytes (the hint asks for at least that).
Image DecodeInPieces(const Bytes& jpeg, int colors) {
  MemSource source(jpeg, 5000);
  int16_t width = 32767, height = 0, code = -1;  // a hint of 32767 bytes or more: count = every piece
  Stm* s = JPEGDOpen(source.stm(), &width, &height, &code);
  EXPECT_NE(s, nullptr) << JPEGLastErrorMessage();
  Image img{static_cast<uint16_t>(width), static_cast<uint16_t>(height), colors, {}};
  if (s == nullptr) return img;
  const size_t lineBytes = size_t{1} * img.width * colors, piece = JPEG_LINE_PIECE_BYTES(colors);
  for (int y = 0; y < img.height; y++) {
    const uint8_t* lineStart = nullptr;
    for (size_t at = 0; at < lineBytes; at += piece) {
      if (JPEGDFilBuf(s) != 0) {
        ADD_FAILURE() << "line " << y << " piece at " << at << ": " << JPEGLastErrorMessage();
        JPEGDClose(s);
        return img;
      }
      if (at == 0) lineStart = s->base;
      const size_t n = std::min(piece, lineBytes - at);
      EXPECT_EQ(s->base, lineStart + at);
      EXPECT_EQ(static_cast<size_t>(s->count), n);
      img.pixels.insert(img.pixels.end(), s->base, s->base + n);
    }
  }
  EXPECT_EQ(JPEGDFilBuf(s), -1);  // the end, not another piece
  EXPECT_EQ(gJPEGError, 0) << JPEGLastErrorMessage();
  JPEGDClose(s);
  return img;
}

class WideLines : public ::testing::TestWithParam<WideCase> {};

// Fine quality and full chroma, so the peer's decode is held to the source;
// with chroma subsampled the two decoders are held to each other.
TEST_P(WideLines, OddRunsCodeTheSameBytesWhichBothDecodersRead) {
  const WideCase c = GetParam();
  const Image img = testing_support::Tiled(testing_support::LoadTestImage(c.colors == 4 ? "chelsea_cmyk.pam" : c.colors == 3 ? "coffee.ppm" : "camera.pgm"),
                          c.width, c.height);
  const double quality = 0.15;
  const Bytes whole = EncodeInRuns(img, c, quality, {img.pixels.size()});
  ASSERT_FALSE(whole.empty());
  EXPECT_EQ(EncodeInRuns(img, c, quality, {1, 4093, 32767, 32768, 0, 65537, 7}), whole);
  EXPECT_EQ(EncodeInRuns(img, c, quality, {size_t{1} * c.width * c.colors - 1}), whole);  // line ends move

  Image theirs;
  std::string message;
  ASSERT_TRUE(testing_support::LibjpegDecode(whole, &theirs, false, &message)) << message;
  ASSERT_EQ(std::tie(theirs.width, theirs.height, theirs.colors), std::tie(img.width, img.height, img.colors));
  if (c.colors == 4) theirs = YcckToCmyk(theirs);
  const Image ours = DecodeInPieces(whole, c.colors);
  if (!c.subsample) {
    EXPECT_GE(testing_support::Psnr(theirs, img), 40.0);
  }
  EXPECT_GE(testing_support::Psnr(ours, theirs), 40.0);
}

INSTANTIATE_TEST_SUITE_P(Images, WideLines,
                         ::testing::Values(WideCase{"Rgb40000", 40000, 11, 3, false},
                                           WideCase{"Rgb40000Subsampled", 40000, 19, 3, true},
                                           WideCase{"Cmyk16384", 16384, 9, 4, false},
                                           WideCase{"Cmyk16384Subsampled", 16384, 17, 4, true},
                                           WideCase{"Grey65500", 65500, 3, 1, false}),
                         [](const ::testing::TestParamInfo<WideCase>& info) { return std::string(info.param.name); });

}  // namespace
