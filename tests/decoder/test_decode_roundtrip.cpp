// test_decode_roundtrip.cpp - images through our encoder and back through
// our decoder: every component count (including two), subsampled or not,
// blended chroma, the marker modes, host segments, odd sizes and a range
// of quality factors. The decode must be close to the original and, for
// one and three components, to libjpeg's decode of the same stream.
#include <gtest/gtest.h>

#include <cstdio>

#include "decoder/decode_test_util.h"
#include "encoder/enc_test_util.h"

namespace decoder_test {
namespace {

using testing_support::LibjpegDecode;
using testing_support::Psnr;
using testing_support::SyntheticImage;

struct RoundTrip {
  const char* name;
  Image (*image)();
  enc_test::EncodeOptions options;
  double minPsnrToOriginal;
};

Image Astronaut() { return testing_support::LoadTestImage("astronaut.ppm"); }
Image Camera() { return testing_support::LoadTestImage("camera.pgm"); }
Image Chelsea() { return testing_support::LoadTestImage("chelsea_cmyk.pam"); }
Image OddRgb() { return SyntheticImage(45, 31, 3, 6); }
Image TwoComponents() { return SyntheticImage(50, 20, 2, 7); }
Image OddCmyk() { return SyntheticImage(19, 23, 4, 8); }

enc_test::EncodeOptions Enc(double q, bool subsample = false, bool blend = false, int mode = 0) {
  enc_test::EncodeOptions o;
  o.quality = q;
  o.subsample = subsample;
  o.blend = blend;
  o.markerMode = mode;
  return o;
}

enc_test::EncodeOptions WithHostSegments() {
  enc_test::EncodeOptions o = Enc(0.5);
  o.markerData = Segment(0xED, Bytes(200, 0x3C));
  const Bytes app1 = Segment(0xE1, {'E', 'x', 'i', 'f', 0, 0});
  o.markerData.insert(o.markerData.end(), app1.begin(), app1.end());
  return o;
}

const RoundTrip kRoundTrips[] = {
    {"rgb", Astronaut, Enc(0.76), 30},
    {"rgb_subsampled", Astronaut, Enc(0.76, true), 28},
    {"rgb_subsampled_blend", Astronaut, Enc(0.76, true, true), 28},
    {"rgb_fine", Astronaut, Enc(0.1), 38},
    {"rgb_coarse", Astronaut, Enc(4.0, true), 22},
    {"rgb_no_transform", Astronaut, Enc(0.76, false, false, 2), 30},
    {"rgb_no_app0", OddRgb, Enc(0.76, true, false, 1), 28},
    {"rgb_odd_subsampled", OddRgb, Enc(0.5, true), 28},
    {"grey", Camera, Enc(0.76), 30},
    {"grey_fine", Camera, Enc(0.0), 45},
    {"two_components", TwoComponents, Enc(0.5), 30},
    {"cmyk", Chelsea, Enc(0.76), 28},
    {"cmyk_subsampled", Chelsea, Enc(0.76, true), 26},
    {"cmyk_odd", OddCmyk, Enc(0.5, true, true), 26},
    {"host_segments", Camera, WithHostSegments(), 30},
};

class RoundTrips : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(RoundTrips, DecodeCloseToTheOriginal) {
  const RoundTrip& c = GetParam();
  const Image original = c.image();
  const enc_test::EncodeResult encoded = enc_test::EncodeImage(original, c.options);
  ASSERT_TRUE(encoded.writeOk) << encoded.message;
  const DecodeResult ours = Decode(encoded.jpeg);
  ASSERT_TRUE(ours.complete) << ours.message;
  ASSERT_EQ(ours.image.width, original.width);
  ASSERT_EQ(ours.image.height, original.height);
  ASSERT_EQ(ours.image.colors, original.colors);
  const double psnr = Psnr(ours.image, original);
  std::printf("[ PSNR     ] %-22s %.2f dB to the original (%zu bytes)\n", c.name, psnr,
              encoded.jpeg.size());
  EXPECT_GE(psnr, c.minPsnrToOriginal);
  if (original.colors == 1 || (original.colors == 3 && c.options.markerMode != 2)) {
    Image reference;
    ASSERT_TRUE(LibjpegDecode(encoded.jpeg, &reference, false));
    EXPECT_GE(Psnr(ours.image, reference), 40.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Decoder, RoundTrips, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace decoder_test
