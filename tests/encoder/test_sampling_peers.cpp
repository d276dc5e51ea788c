// test_sampling_peers.cpp - every chroma sampling the encode options offer
// (1x1, 2x1, 1x2, 2x2; blended and not) on grey, RGB and CMYK images of
// odd size, read by djpeg, ImageMagick and Pillow, run at test time, against
// our own decode of the same file; coded on worker threads, the bytes must
// be the one-thread bytes. Every figure is printed.
//
// Other programs do not know our four-component colour segment and show the
// stored Y, Cb, Cr, K planes as CMYK, so for four components our decode is
// taken back to those planes before it is compared.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "jpeg_filters.h"
#include "jpeg_options.h"
#include "support/decode_paths.h"

namespace {

using namespace testing_support;

Bytes EncodeSampled(const Image& img, int h, int v, bool blend, int threads) {
  JPEGEncodeParams p{};
  p.QFactor = JPEGQFactorForQuality(95);
  p.blend = blend ? 1 : 0;
  p.Columns = img.width;
  p.Rows = img.height;
  p.Colors = static_cast<int16_t>(img.colors);
  JPEGEncodeOptions options{};
  options.lumaH = static_cast<uint8_t>(h);
  options.lumaV = static_cast<uint8_t>(v);
  MemSink sink;
  Stm* s = JPEGOpenWithOptions(sink.stm(), &p, &options);
  EXPECT_NE(s, nullptr) << JPEGLastErrorMessage();
  if (s == nullptr) return {};
  if (threads != 0) JPEGSetCodingThreads(s, threads);
  const uint32_t total = static_cast<uint32_t>(img.pixels.size());
  EXPECT_EQ(StmFWrite(img.pixels.data(), 1, total, s), total);
  JPEGClose(s);
  return sink.Contents();
}

uint8_t Clamped(double x) { return static_cast<uint8_t>(std::min(255.0, std::max(0.0, x + 0.5))); }

// What a peer should show of our decode: for four components the Y, Cb, Cr,
// K planes stored, as inverted ink (ImageMagick, Pillow) or as RGB from ink
// stored inverted (djpeg).
Image Expected(Image img, PeerReader reader) {
  if (img.colors != 4) return img;
  for (size_t i = 0; i < img.pixels.size(); i += 4) {
    const double c = img.pixels[i], m = img.pixels[i + 1], y = img.pixels[i + 2];
    img.pixels[i] = Clamped(0.299 * c + 0.587 * m + 0.114 * y);
    img.pixels[i + 1] = Clamped(127.0 - 0.16874 * c - 0.33126 * m + 0.5 * y);
    img.pixels[i + 2] = Clamped(127.0 + 0.5 * c - 0.41869 * m - 0.08131 * y);
    img.pixels[i + 3] = static_cast<uint8_t>(255 - img.pixels[i + 3]);
  }
  return reader == PeerReader::kDjpeg ? InkToRgb(img) : img;
}

TEST(SamplingPeers, EveryLayoutReadsAlikeInEveryPeer) {
  const struct { const char* name; PeerReader reader; } peers[] = {
      {"djpeg", PeerReader::kDjpeg}, {"ImageMagick", PeerReader::kMagick}, {"Pillow", PeerReader::kPillow}};
  const char* images[] = {"camera.pgm", "astronaut.ppm", "chelsea_cmyk.pam"};
  const int samplings[][2] = {{1, 1}, {2, 1}, {1, 2}, {2, 2}};
  for (const char* name : images) {
    const Image source = Crop(LoadTestImage(name), 203, 117);
    for (const auto& s : samplings) {
      for (bool blend : {false, true}) {
        const Bytes jpeg = EncodeSampled(source, s[0], s[1], blend, 0);
        EXPECT_EQ(EncodeSampled(source, s[0], s[1], blend, 3), jpeg) << name << " threads";
        const FilterRun ours = RunDecodeFilter(jpeg);
        ASSERT_TRUE(ours.ended) << ours.message;
        Image decoded = source;
        decoded.pixels = ours.pixels;
        EXPECT_GE(Psnr(decoded, source), 30) << name;
        for (const auto& p : peers) {
          if (source.colors == 1 && p.reader == PeerReader::kMagick) continue;  // shows grey as RGB
          const double psnr = Psnr(PeerRead(p.reader, jpeg, source.width, source.height), Expected(decoded, p.reader));
          std::printf("%-16s %dx%d blend %d %-11s %6.2f dB\n", name, s[0], s[1], blend, p.name, psnr);
          EXPECT_GE(psnr, 40) << name << " " << s[0] << "x" << s[1] << " blend " << blend << " in " << p.name;
        }
      }
    }
  }
}

}  // namespace
