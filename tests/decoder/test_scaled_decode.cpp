// test_scaled_decode.cpp - decoding reduced by 2, 4 and 8 against the
// reference libjpeg's reduced decode (scale_denom, integer DCT, no fancy
// upsampling: djpeg -scale 1/N -dct int -nosmooth), over photographs in
// grey, RGB sampled 4:2:0, 4:2:2 and 4:4:4, progressive, restart intervals
// and subsampled CMYK; the same lines on two worker threads and through
// the thumbnail interface.
#include <gtest/gtest.h>

#include "support/decode_paths.h"
#include "support/test_support.h"
#include "thumb_stream.h"

using namespace testing_support;

namespace {

Image Ours(const Bytes& jpeg, int denom, int threads) {
  FilterRunOptions options;
  options.threads = threads, options.scale = denom;
  const FilterRun run = RunDecodeFilter(jpeg, options);
  EXPECT_TRUE(run.ended && !run.failed) << run.message;
  return {static_cast<uint16_t>(run.width), static_cast<uint16_t>(run.height), run.colors, Pixels(run)};
}

Bytes Thumb(const Bytes& jpeg, int denom) {
  short w = 0, h = 0, c = 0;
  const char* data = reinterpret_cast<const char*>(jpeg.data());
  JPEGThumbHandle t = StartJPEGDecompressScaled(data, static_cast<long>(jpeg.size()), denom, &w, &h, &c);
  Bytes lines(static_cast<size_t>(w) * h * c);
  EXPECT_EQ(GetJPEGData(t, reinterpret_cast<char*>(lines.data()), h, static_cast<short>(w * c)), 1);
  CloseJPEG(t);
  return lines;
}

}  // namespace

TEST(ScaledDecode, MatchesTheReferenceAtEveryScale) {
  const Image rgb = LoadTestImage("coffee.ppm"), grey = LoadTestImage("camera.pgm");
  const Image astronaut = LoadTestImage("astronaut.ppm");
  const struct { const char* name; Bytes jpeg; bool inkInverted; } cases[] = {
      {"grey", LibjpegEncode(grey, {90}), false},
      {"420 restarts", LibjpegEncode(rgb, {90, 2, 2, 0, 1}), false},
      {"422", LibjpegEncode(rgb, {90, 2, 1}), false},
      {"444 progressive", LibjpegEncode(astronaut, {90, 1, 1, 0, 0, false, true}), false},
      {"retina 420", ReadFileBytes(TestdataPath("retina.jpg")), false},
      {"cmyk subsampled", PeerEncode(PeerWriter::kMagickCmykSubsampled, rgb), true},
  };
  for (const auto& c : cases) {
    for (int denom : {2, 4, 8}) {
      SCOPED_TRACE(std::string(c.name) + " 1/" + std::to_string(denom));
      Image peer;
      ASSERT_TRUE(LibjpegDecode(c.jpeg, &peer, false, nullptr, false, denom));
      const Image ours = Ours(c.jpeg, denom, 0);
      ASSERT_EQ(ours.width * 100 + ours.height, peer.width * 100 + peer.height);
      EXPECT_GE(Psnr(ours, c.inkInverted ? InvertedInks(peer) : peer), 50.0);
      EXPECT_EQ(Ours(c.jpeg, denom, 2).pixels, ours.pixels);
      EXPECT_EQ(Thumb(c.jpeg, denom), ours.pixels);
    }
  }
}
