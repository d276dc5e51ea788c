// test_wide_lines.cpp - the peer's files with lines wider than a Stm's
// 16-bit count (up to the peer's largest width, 65500 pixels) decode through
// the decode filter, whose fills hand each line out in pieces, and through
// the read stream, which gathers them into whole lines; both agree with the
// peer's own decoding. (The thumbnail interface, whose line length is
// 16-bit, refuses such lines: tests/host/test_wide_lines.cpp.)
#include <gtest/gtest.h>

#include "support/decode_paths.h"
#include "support/test_support.h"

namespace {

using namespace testing_support;

struct PeerFile {
  const char* name;
  int width, height, colors;
  LibjpegOptions options;
};

void PrintTo(const PeerFile& f, std::ostream* out) { *out << f.name; }

class WidePeerFiles : public ::testing::TestWithParam<PeerFile> {};

TEST_P(WidePeerFiles, DecodeLikeThePeerOnTheFilterAndTheReadStream) {
  const PeerFile f = GetParam();
  const Image source = Tiled(LoadTestImage(f.colors == 1 ? "camera.pgm" : "coffee.ppm"), f.width, f.height);
  const Bytes jpeg = LibjpegEncode(source, f.options);
  Image theirs;
  std::string message;
  ASSERT_TRUE(LibjpegDecode(jpeg, &theirs, false, &message)) << message;
  for (DecodePath path : {DecodePath::kFilter, DecodePath::kReadStream}) {
    const PathVerdict v = DecodeThrough(path, jpeg);
    ASSERT_TRUE(v.ok) << PathName(path) << ": " << v.message;
    const double psnr = Psnr(v.lines, theirs.pixels);
    std::printf("%s, %s: %.2f dB against the peer's decoding\n", f.name, PathName(path), psnr);
    EXPECT_GE(psnr, 40.0) << PathName(path);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, WidePeerFiles,
    ::testing::Values(PeerFile{"Grey65500", 65500, 5, 1, {90}},
                      PeerFile{"Rgb65500Subsampled", 65500, 4, 3, {90}},
                      PeerFile{"Rgb65500FullChromaRestarts", 65500, 3, 3, {90, 1, 1, 0, 1}},
                      PeerFile{"Rgb40000Progressive", 40000, 4, 3, {90, 2, 2, 0, 0, false, true}},
                      PeerFile{"Rgb10923", 10923, 17, 3, {90, 2, 1}}),  // the narrowest two-piece RGB line
    [](const ::testing::TestParamInfo<PeerFile>& info) { return std::string(info.param.name); });

}  // namespace
