// test_decode_peer.cpp - files written by libjpeg-turbo, in every sampling
// layout, with restarts, optimized tables, 16-bit quantization tables and a
// range of qualities, decode close to libjpeg's own decode (without fancy
// upsampling, which our decoder does not do), whatever the piece size of
// the source.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "decoder/decode_test_util.h"

namespace decoder_test {
namespace {

using testing_support::LibjpegDecode;
using testing_support::LibjpegEncode;
using testing_support::LibjpegOptions;
using testing_support::LoadTestImage;
using testing_support::Psnr;

struct PeerCase {
  const char* name;
  const char* image;  // testdata name, or "" for a synthetic odd-sized image
  LibjpegOptions options;
};

LibjpegOptions Opts(int h, int v, int quality = 75, int restart = 0, int restartRows = 0,
                    bool optimize = false) {
  LibjpegOptions o;
  o.hSamp0 = h;
  o.vSamp0 = v;
  o.quality = quality;
  o.restartInterval = restart;
  o.restartInRows = restartRows;
  o.optimize = optimize;
  return o;
}

const PeerCase kPeerCases[] = {
    {"grey", "camera.pgm", Opts(1, 1)},
    {"s444", "astronaut.ppm", Opts(1, 1)},
    {"s422", "astronaut.ppm", Opts(2, 1)},
    {"s420", "astronaut.ppm", Opts(2, 2)},
    {"s440", "coffee.ppm", Opts(1, 2)},
    {"s411", "coffee.ppm", Opts(4, 1)},
    {"s420_odd", "", Opts(2, 2)},
    {"s411_odd", "", Opts(4, 1)},
    {"grey_odd", "grey", Opts(1, 1)},
    {"cmyk", "chelsea_cmyk.pam", Opts(1, 1)},
    {"restart_mcus7", "coffee.ppm", Opts(2, 2, 75, 7)},
    {"restart_mcus1_grey", "camera.pgm", Opts(1, 1, 75, 1)},
    {"restart_rows1", "astronaut.ppm", Opts(2, 2, 75, 0, 1)},
    {"restart_rows3_444", "coffee.ppm", Opts(1, 1, 75, 0, 3)},
    {"optimized", "astronaut.ppm", Opts(2, 2, 75, 0, 0, true)},
    {"optimized_grey", "camera.pgm", Opts(1, 1, 75, 0, 0, true)},
    {"q10", "coffee.ppm", Opts(2, 2, 10)},
    {"q30", "coffee.ppm", Opts(2, 2, 30)},
    {"q50", "coffee.ppm", Opts(2, 2, 50)},
    {"q90", "coffee.ppm", Opts(2, 2, 90)},
    {"q100", "coffee.ppm", Opts(1, 1, 100)},
    {"q100_grey", "camera.pgm", Opts(1, 1, 100)},
};

Image CaseImage(const PeerCase& c) {
  if (std::string(c.image).empty()) return testing_support::SyntheticImage(77, 45, 3, 3);
  if (std::string(c.image) == "grey") return testing_support::SyntheticImage(13, 29, 1, 5);
  return LoadTestImage(c.image);
}

class PeerFiles : public ::testing::TestWithParam<PeerCase> {};

TEST_P(PeerFiles, DecodeCloseToLibjpeg) {
  const PeerCase& c = GetParam();
  const Bytes jpeg = LibjpegEncode(CaseImage(c), c.options);
  ASSERT_FALSE(jpeg.empty());
  Image reference;
  ASSERT_TRUE(LibjpegDecode(jpeg, &reference, false));
  const DecodeResult ours = Decode(jpeg);
  ASSERT_TRUE(ours.complete) << ours.message;
  ASSERT_EQ(ours.image.width, reference.width);
  ASSERT_EQ(ours.image.height, reference.height);
  ASSERT_EQ(ours.image.colors, reference.colors);
  const double psnr = Psnr(ours.image, reference);
  std::printf("[ PSNR     ] %-20s %.2f dB (%d bytes)\n", c.name, psnr, static_cast<int>(jpeg.size()));
  EXPECT_GE(psnr, 40.0);
}

// 16-bit DQT tables, with quantizers as written and multiplied past 255.
TEST_P(PeerFiles, WideQuantTablesDecodeCloseToLibjpeg) {
  const PeerCase& c = GetParam();
  for (int factor : {1, 3}) {
    const Bytes jpeg = WidenDQT(LibjpegEncode(CaseImage(c), c.options), factor);
    Image reference;
    ASSERT_TRUE(LibjpegDecode(jpeg, &reference, false));
    const DecodeResult ours = Decode(jpeg);
    ASSERT_TRUE(ours.complete) << ours.message;
    EXPECT_GE(Psnr(ours.image, reference), 40.0) << "factor " << factor;
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, PeerFiles, ::testing::ValuesIn(kPeerCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PeerFiles, RetinaDecodesCloseToLibjpeg) {
  const Bytes jpeg = testing_support::ReadFileBytes(testing_support::TestdataPath("retina.jpg"));
  Image reference;
  ASSERT_TRUE(LibjpegDecode(jpeg, &reference, false));
  const DecodeResult ours = Decode(jpeg);
  ASSERT_TRUE(ours.complete) << ours.message;
  const double psnr = Psnr(ours.image, reference);
  std::printf("[ PSNR     ] %-20s %.2f dB\n", "retina.jpg", psnr);
  EXPECT_GE(psnr, 40.0);
}

// The source refilled in pieces of any size, down to one byte, gives the
// same lines: the guard byte is rewritten after every refill and the bit
// reader tells it from a real 0xFF.
TEST(PieceSizes, AnyPieceSizeGivesIdenticalLines) {
  const Image img = testing_support::SyntheticImage(61, 37, 3, 11);
  for (const LibjpegOptions& o : {Opts(2, 2), Opts(1, 1, 95, 3), Opts(2, 1, 60, 0, 1, true)}) {
    const Bytes jpeg = LibjpegEncode(img, o);
    const DecodeResult whole = Decode(jpeg);
    ASSERT_TRUE(whole.complete) << whole.message;
    std::mt19937 rng(5);
    const std::vector<std::pair<const char*, testing_support::MemSource::PieceFn>> patterns = {
        {"1", [](size_t) -> size_t { return 1; }},
        {"2", [](size_t) -> size_t { return 2; }},
        {"3", [](size_t) -> size_t { return 3; }},
        {"7", [](size_t) -> size_t { return 7; }},
        {"random", [&rng](size_t) -> size_t { return 1 + rng() % 40; }},
        {"1,then 500", [](size_t k) -> size_t { return k % 2 ? 500 : 1; }},
    };
    for (const auto& [name, pieces] : patterns) {
      const DecodeResult split = Decode(jpeg, pieces);
      ASSERT_TRUE(split.complete) << name << ": " << split.message;
      EXPECT_EQ(split.image.pixels, whole.image.pixels) << "pieces " << name;
    }
  }
}

}  // namespace
}  // namespace decoder_test
