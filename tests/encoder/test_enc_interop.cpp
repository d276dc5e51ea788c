// test_enc_interop.cpp - every stream the encoder writes decodes with the
// reference peer (libjpeg-turbo, which must not even warn) and comes back
// close to the input: all component counts, sampling, blending, marker
// modes, quality factors, awkward sizes and real photographs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "enc_test_util.h"

namespace {

using enc_test::EncodeImage;
using enc_test::EncodeOptions;
using testing_support::Bytes;
using testing_support::Image;

const double kQualities[] = {0.0, 0.15, 0.25, 0.4, 0.65, 0.76, 1.0, 1.3};

// What the encoder codes for a pixel of a four-component image with the
// YCCK transform: Y, Cb, Cr of (255 - C, 255 - M, 255 - Y), and K unchanged.
Image ExpectedYCCK(const Image& cmyk) {
  Image out = cmyk;
  for (size_t i = 0; i < cmyk.pixels.size(); i += 4) {
    const double r = 255 - cmyk.pixels[i], g = 255 - cmyk.pixels[i + 1], b = 255 - cmyk.pixels[i + 2];
    const double y = 0.299 * r + 0.587 * g + 0.114 * b;
    const double cb = -0.16874 * r - 0.33126 * g + 0.5 * b + 128;
    const double cr = 0.5 * r - 0.41869 * g - 0.08131 * b + 128;
    out.pixels[i] = static_cast<uint8_t>(std::lround(std::clamp(y, 0.0, 255.0)));
    out.pixels[i + 1] = static_cast<uint8_t>(std::lround(std::clamp(cb, 0.0, 255.0)));
    out.pixels[i + 2] = static_cast<uint8_t>(std::lround(std::clamp(cr, 0.0, 255.0)));
  }
  return out;
}

// PSNR of one component of two interleaved images.
double ComponentPsnr(const Image& a, const Image& b, int c) {
  Bytes x, y;
  for (size_t i = static_cast<size_t>(c); i < a.pixels.size(); i += static_cast<size_t>(a.colors)) {
    x.push_back(a.pixels[i]);
    y.push_back(b.pixels[i]);
  }
  return testing_support::Psnr(x, y);
}

struct Decoded {
  bool ok = false;
  std::string message;
  Image image;      // as decoded (RGB for YCbCr streams, raw components otherwise)
  Image reference;  // what it should be close to
};

// Encodes, decodes with the peer and picks the reference to compare with.
Decoded RoundTrip(const Image& img, const EncodeOptions& o, enc_test::EncodeResult* enc) {
  Decoded d;
  *enc = EncodeImage(img, o, 1000);
  if (!enc->writeOk || enc->jpegError) {
    d.message = "encode failed: " + enc->message;
    return d;
  }
  const bool transform = o.markerMode != 2;
  const bool raw = !(img.colors == 3 && transform);  // libjpeg converts YCbCr itself
  d.ok = testing_support::LibjpegDecode(enc->jpeg, &d.image, false, &d.message, raw);
  d.reference = (img.colors == 4 && transform) ? ExpectedYCCK(img) : img;
  return d;
}

// --- synthetic images over the whole option space ----------------------------

struct MatrixCase {
  int colors;
  bool subsample;
  bool blend;
  int markerMode;
  int width, height;
  double quality;
};

std::string Name(const MatrixCase& c) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "c%d_%s_%s_m%d_%dx%d_q%03d", c.colors, c.subsample ? "sub" : "full",
                c.blend ? "blend" : "pick", c.markerMode, c.width, c.height,
                static_cast<int>(std::lround(c.quality * 100)));
  return buf;
}

std::vector<MatrixCase> MatrixCases() {
  const std::pair<int, int> sizes[] = {{1, 1}, {7, 9}, {17, 33}, {227, 149}};
  std::vector<MatrixCase> cases;
  int n = 0;
  for (int colors = 1; colors <= 4; colors++)
    for (int sub = 0; sub < 2; sub++)
      for (int blend = 0; blend < 2; blend++)
        for (int mode = 0; mode < 3; mode++)
          for (auto [w, h] : sizes)
            cases.push_back({colors, sub != 0, blend != 0, mode, w, h, kQualities[n++ % 8]});
  // Every quality factor for every component count, subsampled and not.
  for (int colors = 1; colors <= 4; colors++)
    for (int sub = 0; sub < 2; sub++)
      for (double q : kQualities) cases.push_back({colors, sub != 0, true, 0, 227, 149, q});
  return cases;
}

class PeerDecodes : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(PeerDecodes, CloseToInput) {
  const MatrixCase& c = GetParam();
  const Image img = testing_support::SyntheticImage(c.width, c.height, c.colors, 3);
  EncodeOptions o;
  o.quality = c.quality;
  o.subsample = c.subsample;
  o.blend = c.blend;
  o.markerMode = c.markerMode;
  enc_test::EncodeResult enc;
  Decoded d = RoundTrip(img, o, &enc);
  ASSERT_TRUE(d.ok) << d.message;
  ASSERT_EQ(d.image.width, img.width);
  ASSERT_EQ(d.image.height, img.height);
  ASSERT_EQ(d.image.colors, img.colors);
  // The synthetic texture is noise of +-16 per sample; subsampled chroma
  // loses most of it, coarse quantizers lose some.
  const bool lossyChroma = c.subsample && c.colors >= 2 && c.markerMode != 2;
  const double floor = c.quality <= 0.25 ? (lossyChroma ? 22 : 32) : 22;
  EXPECT_GT(testing_support::Psnr(d.image, d.reference), floor);
}

INSTANTIATE_TEST_SUITE_P(Matrix, PeerDecodes, ::testing::ValuesIn(MatrixCases()),
                         [](const ::testing::TestParamInfo<MatrixCase>& info) {
                           return Name(info.param) + "_" + std::to_string(info.index);
                         });

// --- real photographs ------------------------------------------------------------

struct PhotoCase {
  const char* file;
  bool subsample;
  double quality;
  double minPsnr;
};

class Photos : public ::testing::TestWithParam<PhotoCase> {};

TEST_P(Photos, DecodeCloseToInput) {
  const PhotoCase& c = GetParam();
  const Image img = testing_support::LoadTestImage(c.file);
  EncodeOptions o;
  o.quality = c.quality;
  o.subsample = c.subsample;
  o.blend = true;
  enc_test::EncodeResult enc;
  Decoded d = RoundTrip(img, o, &enc);
  ASSERT_TRUE(d.ok) << d.message;
  if (img.colors == 4) {
    for (int k = 0; k < 4; k++)
      EXPECT_GT(ComponentPsnr(d.image, d.reference, k), c.minPsnr) << "component " << k;
  } else {
    EXPECT_GT(testing_support::Psnr(d.image, d.reference), c.minPsnr);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, Photos,
                         ::testing::Values(PhotoCase{"astronaut.ppm", true, 0.76, 28},
                                           PhotoCase{"coffee.ppm", false, 1.0, 28},
                                           PhotoCase{"camera.pgm", false, 0.4, 33},
                                           PhotoCase{"camera.pgm", true, 1.3, 27},
                                           PhotoCase{"chelsea_cmyk.pam", true, 0.76, 28},
                                           PhotoCase{"chelsea_cmyk.pam", false, 0.25, 33}));

// PSNR and bits per pixel of the astronaut photograph at each quality factor
// (printed for the record); quality must fall and size shrink as the factor
// grows.
TEST(Photos, AstronautRateDistortion) {
  const Image img = testing_support::LoadTestImage("astronaut.ppm");
  double lastPsnr = 100, lastBpp = 100;
  std::printf("  QFactor  subsample  PSNR(dB)  bits/pixel\n");
  for (int sub = 0; sub < 2; sub++) {
    lastPsnr = lastBpp = 100;
    for (double q : kQualities) {
      EncodeOptions o;
      o.quality = q;
      o.subsample = sub != 0;
      o.blend = true;
      enc_test::EncodeResult enc;
      Decoded d = RoundTrip(img, o, &enc);
      ASSERT_TRUE(d.ok) << d.message;
      const double psnr = testing_support::Psnr(d.image, d.reference);
      const double bpp = 8.0 * static_cast<double>(enc.jpeg.size()) / (img.width * img.height);
      std::printf("  %7.2f  %9s  %8.2f  %10.3f\n", q, sub ? "2x2" : "1x1", psnr, bpp);
      EXPECT_LT(psnr, lastPsnr + 0.01);
      EXPECT_LT(bpp, lastBpp);
      lastPsnr = psnr;
      lastBpp = bpp;
    }
  }
}

}  // namespace
