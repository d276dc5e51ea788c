// test_decode_streams.cpp - good streams: every layout our encoder writes
// comes back close to its input; files written by libjpeg-turbo (every
// sampling, restarts, optimized and 16-bit tables, qualities 10..100) decode
// close to libjpeg's own decode without fancy upsampling (our decoder
// replicates); any refill piece size gives the same lines; the fuzz seeds
// and the inputs kept in crashes/ replay without a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "decoder/decode_test_util.h"
#include "support/our_codec.h"

namespace decoder_test {
namespace {

// Odd-sized synthetic images when `image` is "".
Image Load(const char* image, int colors) { return image[0] ? LoadTestImage(image) : SyntheticImage(37 + colors, 23, colors, 8); }

struct RoundTrip {
  const char* image;
  int colors;
  OurEncodeOptions options;  // qFactor, subsample, blend, markerMode, host segments
  double minPsnr;
};

class RoundTrips : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(RoundTrips, DecodeCloseToTheInput) {
  const Image in = Load(GetParam().image, GetParam().colors);
  const OurEncodeResult enc = OurEncode(in, GetParam().options);
  ASSERT_TRUE(enc.ok) << enc.message;
  const DecodeResult ours = Decode(enc.jpeg);
  ASSERT_TRUE(ours.complete) << ours.message;
  ASSERT_EQ(ours.image.width * ours.image.colors, in.width * in.colors);
  EXPECT_GE(Psnr(ours.image, in), GetParam().minPsnr);
}

INSTANTIATE_TEST_SUITE_P(Decoder, RoundTrips, ::testing::Values(
    RoundTrip{"astronaut.ppm", 3, {0.76, false, false, 0, {}}, 30}, RoundTrip{"astronaut.ppm", 3, {0.76, true, true, 0, {}}, 28},
    RoundTrip{"astronaut.ppm", 3, {4.0, true, false, 0, {}}, 22}, RoundTrip{"", 3, {0.76, false, false, 2, {}}, 30},
    RoundTrip{"", 3, {0.5, true, false, 1, Segment(0xED, Bytes(200, 0x3C))}, 28}, RoundTrip{"camera.pgm", 1, {0.0, false, false, 0, {}}, 45},
    RoundTrip{"", 2, {0.5, false, false, 0, {}}, 30}, RoundTrip{"chelsea_cmyk.pam", 4, {0.76, true, false, 0, {}}, 26},
    RoundTrip{"", 4, {0.5, true, true, 1, {}}, 26}, RoundTrip{"", 1, {0.3, true, false, 0, {}}, 30}));

struct PeerCase {
  const char* image;
  int colors;
  LibjpegOptions options;  // quality, luma sampling, restarts in MCUs or rows, optimized tables
};

class PeerFiles : public ::testing::TestWithParam<PeerCase> {};

void ExpectCloseToLibjpeg(const Bytes& jpeg) {
  Image reference;
  ASSERT_TRUE(LibjpegDecode(jpeg, &reference, false));
  const DecodeResult ours = Decode(jpeg);
  ASSERT_TRUE(ours.complete) << ours.message;
  ASSERT_EQ(ours.image.width * ours.image.colors, reference.width * reference.colors);
  EXPECT_GE(Psnr(ours.image, reference), 40.0);
}

// As written, and with 16-bit quantization tables (quantizers as written
// and multiplied past 255).
TEST_P(PeerFiles, DecodeCloseToLibjpeg) {
  const Bytes jpeg = LibjpegEncode(Load(GetParam().image, GetParam().colors), GetParam().options);
  for (int wide : {0, 1, 3}) ExpectCloseToLibjpeg(wide ? WidenDQT(jpeg, wide) : jpeg);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PeerFiles, ::testing::Values(
    PeerCase{"camera.pgm", 1, {75, 1, 1}}, PeerCase{"astronaut.ppm", 3, {75, 1, 1}}, PeerCase{"astronaut.ppm", 3, {75, 2, 1}},
    PeerCase{"astronaut.ppm", 3, {75, 2, 2}}, PeerCase{"coffee.ppm", 3, {75, 1, 2}}, PeerCase{"coffee.ppm", 3, {75, 4, 1}},
    PeerCase{"", 3, {75, 2, 2}}, PeerCase{"", 3, {75, 4, 1}}, PeerCase{"", 1, {}}, PeerCase{"chelsea_cmyk.pam", 4, {75, 1, 1}},
    PeerCase{"coffee.ppm", 3, {75, 2, 2, 7}}, PeerCase{"camera.pgm", 1, {75, 1, 1, 1}}, PeerCase{"astronaut.ppm", 3, {75, 2, 2, 0, 1}},
    PeerCase{"coffee.ppm", 3, {75, 1, 1, 0, 3}}, PeerCase{"astronaut.ppm", 3, {75, 2, 2, 0, 0, true}},
    PeerCase{"camera.pgm", 1, {75, 1, 1, 0, 0, true}}, PeerCase{"coffee.ppm", 3, {10}}, PeerCase{"coffee.ppm", 3, {50}},
    PeerCase{"coffee.ppm", 3, {90}}, PeerCase{"coffee.ppm", 3, {100, 1, 1}}, PeerCase{"camera.pgm", 1, {100, 1, 1}}));

TEST(PeerFiles, Retina) { ExpectCloseToLibjpeg(ReadFileBytes(TestdataPath("retina.jpg"))); }

// The guard byte is rewritten after every refill and the bit reader tells
// it from a real 0xFF, so any piece size, down to one byte, gives the same lines.
TEST(PieceSizes, AnyPieceSizeGivesIdenticalLines) {
  LibjpegOptions restarts;
  restarts.quality = 95, restarts.restartInterval = 3, restarts.optimize = true;
  for (const LibjpegOptions& o : {LibjpegOptions{}, restarts}) {
    const Bytes jpeg = LibjpegEncode(SyntheticImage(61, 37, 3, 11), o);
    const DecodeResult whole = Decode(jpeg);
    ASSERT_TRUE(whole.complete) << whole.message;
    std::mt19937 rng(5);
    for (size_t n : {1, 2, 3, 7, 0}) {  // 0: random sizes 1..40
      const DecodeResult split = Decode(jpeg, [&](size_t) -> size_t { return n ? n : 1 + rng() % 40; });
      ASSERT_TRUE(split.complete) << n << ": " << split.message;
      EXPECT_EQ(split.image.pixels, whole.image.pixels) << "pieces " << n;
    }
  }
}

// Replayed the way the fuzz target runs: first byte = refill pattern and
// width hint, then the JPEG. Seeds decode completely; crash inputs end in a
// clean failure or a complete image (the sanitizer build checks the rest).
DecodeResult Replay(const std::filesystem::path& file) {
  const Bytes input = ReadFileBytes(file.string());
  const size_t p = input.at(0), step = (p >> 2) + 1;
  const MemSource::PieceFn patterns[] = {[](size_t) -> size_t { return 4096; }, [=](size_t) { return step; },
                                         [=](size_t k) -> size_t { return k % 2 ? step : 1; },
                                         [=](size_t k) -> size_t { return 1 + (k * 2654435761u + p) % 97; }};
  return Decode(Bytes(input.begin() + 1, input.end()), patterns[p & 3], static_cast<int16_t>(p & 0x40 ? 100 : 0));
}

TEST(Corpus, SeedsDecodeAndCrashInputsEndCleanly) {
  namespace fs = std::filesystem;
  int seeds = 0, crashes = 0;
  for (const auto& e : fs::directory_iterator(fs::path(JPEG_FUZZ_CORPUS_DIR) / "jpeg_decode")) {
    const DecodeResult r = Replay(e.path());
    EXPECT_TRUE(r.complete) << e.path().filename() << ": " << r.message;
    seeds++;
  }
  for (const auto& e : fs::directory_iterator(fs::path(__FILE__).parent_path() / "crashes")) {
    const DecodeResult r = Replay(e.path());
    EXPECT_TRUE(r.complete || !r.message.empty()) << e.path().filename();
    crashes++;
  }
  EXPECT_GE(seeds, 5);
  EXPECT_GE(crashes, 5);
}

}  // namespace
}  // namespace decoder_test
