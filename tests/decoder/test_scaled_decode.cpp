// test_scaled_decode.cpp - decoding reduced by 2, 4 and 8 against the
// reference libjpeg's reduced decode (scale_denom, integer DCT, no fancy
// upsampling: djpeg -scale 1/N -dct int -nosmooth), over photographs in
// grey, RGB sampled 4:2:0, 4:2:2 and 4:4:4, progressive, restart intervals
// and subsampled CMYK; the same lines on two worker threads and through
// the thumbnail interface.
#include <gtest/gtest.h>
#include <jpeglib.h>

#include "jpeg_filters.h"
#include "jpeg_options.h"
#include "support/test_support.h"
#include "thumb_stream.h"

using namespace testing_support;

namespace {

Image PeerScaled(const Bytes& jpeg, int denom) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.scale_num = 1;
  cinfo.scale_denom = static_cast<unsigned>(denom);
  cinfo.do_fancy_upsampling = FALSE;
  jpeg_start_decompress(&cinfo);
  Image out{static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
            cinfo.output_components, {}};
  out.pixels.resize(static_cast<size_t>(out.width) * out.height * out.colors);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = &out.pixels[static_cast<size_t>(cinfo.output_scanline) * out.width * out.colors];
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return out;
}

Image Ours(const Bytes& jpeg, int denom, int threads) {
  MemSource source(jpeg);
  JPEGDecodeOptions options{denom, nullptr, nullptr};
  int16_t w = 32767, h = 0, code = 0;
  Stm* s = JPEGDOpenWithOptions(source.stm(), &options, &w, &h, &code);
  Image out{w, h, code == 0 ? 3 : code == 1 ? 4 : 1, {}};
  if (s == nullptr) return out;
  if (threads > 1) JPEGSetCodingThreads(s, threads);
  const size_t lineBytes = static_cast<size_t>(w) * out.colors;
  out.pixels.resize(lineBytes * h);
  for (int y = 0; y < h; y++) EXPECT_TRUE(FillDecodedLine(s, lineBytes, out.colors, &out.pixels[y * lineBytes]));
  JPEGDClose(s);
  return out;
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
      const Image peer = PeerScaled(c.jpeg, denom), ours = Ours(c.jpeg, denom, 0);
      ASSERT_EQ(ours.width * 100 + ours.height, peer.width * 100 + peer.height);
      EXPECT_GE(Psnr(ours, c.inkInverted ? InvertedInks(peer) : peer), 50.0);
      EXPECT_EQ(Ours(c.jpeg, denom, 2).pixels, ours.pixels);
      EXPECT_EQ(Thumb(c.jpeg, denom), ours.pixels);
    }
  }
}
