// test_roundtrip.cpp - the commands end to end on real photographs: encode
// and decode (plain and ASCII85), thumb, resolution and resource segments,
// the ASCII85 commands, and agreement with the system libjpeg.
#include <gtest/gtest.h>

#include <cstdio>
#include <tuple>

#include "tool_runner.h"

namespace tool_test {
namespace {

using testing_support::Image;
using testing_support::LoadPNM;
using testing_support::Psnr;

void SavePnm(const std::string& path, const Image& image) {
  const char* magic = image.colors == 1 ? "P5" : image.colors == 3 ? "P6" : nullptr;
  std::string header = magic != nullptr ? std::string(magic) + " " + std::to_string(image.width) + " " +
                                              std::to_string(image.height) + " 255\n"
                                        : "P7\nWIDTH " + std::to_string(image.width) + "\nHEIGHT " +
                                              std::to_string(image.height) + "\nDEPTH " +
                                              std::to_string(image.colors) + "\nMAXVAL 255\nENDHDR\n";
  WriteText(path, header + std::string(image.pixels.begin(), image.pixels.end()));
}

void ExpectOk(const ToolResult& result) {
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(result.err.empty()) << result.err;
}

struct ImageCase {
  const char* file;
  int colors;
  double minPsnr;  // at quality 3
};

void PrintTo(const ImageCase& image, std::ostream* out) { *out << image.file; }

std::string RoundTripName(const ::testing::TestParamInfo<std::tuple<ImageCase, bool>>& info) {
  std::string name = std::get<0>(info.param).file;
  name = name.substr(0, name.find('.'));
  return name + (std::get<1>(info.param) ? "_ascii85" : "_plain");
}

class EncodeDecode : public ::testing::TestWithParam<std::tuple<ImageCase, bool>> {};

TEST_P(EncodeDecode, RealPhotographRoundTrip) {
  const ImageCase image = std::get<0>(GetParam());
  const bool ascii85 = std::get<1>(GetParam());
  TempDir dir;
  const std::string jpeg = dir.File("out.jpg"), decoded = dir.File("back.pnm");
  std::vector<std::string> encode{"encode", Testdata(image.file), jpeg};
  std::vector<std::string> decode{"decode", jpeg, decoded};
  if (ascii85) {
    encode.insert(encode.begin() + 1, "--ascii85");
    decode.insert(decode.begin() + 1, "--ascii85");
  }
  ExpectOk(RunTool(encode));
  const ToolResult result = RunTool(decode);
  ExpectOk(result);
  const Image original = LoadPNM(Testdata(image.file));
  const Image back = LoadPNM(decoded);
  EXPECT_EQ(result.out, std::to_string(original.width) + "x" + std::to_string(original.height) +
                            " colors=" + std::to_string(image.colors) + " dpi=72 resources=0\n");
  ASSERT_EQ(back.colors, image.colors);
  EXPECT_GE(Psnr(original, back), image.minPsnr);
  if (ascii85) {
    const std::string text = ReadText(jpeg);
    EXPECT_EQ(text.substr(text.size() - 2), "~>");
    EXPECT_EQ(text.find_first_of(std::string("\xFF\0", 2)), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Photographs, EncodeDecode,
                         ::testing::Combine(::testing::Values(ImageCase{"camera.pgm", 1, 33},
                                                              ImageCase{"coffee.ppm", 3, 30},
                                                              ImageCase{"chelsea_cmyk.pam", 4, 28}),
                                            ::testing::Bool()),
                         RoundTripName);

TEST(Encode, QualityIndexRunsFromCoarsestToFinest) {
  TempDir dir;
  const Image original = testing_support::Crop(testing_support::LoadTestImage("coffee.ppm"), 256, 160);
  SavePnm(dir.File("in.ppm"), original);
  double lastPsnr = 0;
  size_t lastSize = 0;
  for (const char* quality : {"0", "3", "6"}) {
    ExpectOk(RunTool({"encode", "--quality", quality, dir.File("in.ppm"), dir.File("q.jpg")}));
    ExpectOk(RunTool({"decode", dir.File("q.jpg"), dir.File("q.ppm")}));
    const size_t size = ReadText(dir.File("q.jpg")).size();
    const double psnr = Psnr(original, LoadPNM(dir.File("q.ppm")));
    EXPECT_GT(size, lastSize) << "quality " << quality;
    EXPECT_GT(psnr, lastPsnr) << "quality " << quality;
    lastSize = size;
    lastPsnr = psnr;
  }
}

TEST(Encode, TwoComponentImagesTravelAsPam) {
  TempDir dir;
  const Image original = testing_support::SyntheticImage(70, 45, 2);
  SavePnm(dir.File("in.pam"), original);
  ExpectOk(RunTool({"encode", "--quality", "5", dir.File("in.pam"), dir.File("out.jpg")}));
  const ToolResult result = RunTool({"decode", dir.File("out.jpg"), dir.File("back.pam")});
  ExpectOk(result);
  EXPECT_EQ(result.out, "70x45 colors=2 dpi=72 resources=0\n");
  const Image back = LoadPNM(dir.File("back.pam"));
  EXPECT_EQ(back.colors, 2);
  EXPECT_GE(Psnr(original, back), 30);
  ExpectOk(RunTool({"thumb", dir.File("out.jpg"), dir.File("thumb.pam")}));
  EXPECT_EQ(ReadText(dir.File("thumb.pam")), ReadText(dir.File("back.pam")));
}

TEST(Encode, ResolutionAndResourcesComeBack) {
  TempDir dir;
  std::string resources(40000, '\0');
  for (size_t i = 0; i < resources.size(); ++i) resources[i] = static_cast<char>(i * 7 + i / 251);
  WriteText(dir.File("res.bin"), resources);
  ExpectOk(RunTool({"encode", "--dpi", "300,150", "--resources", dir.File("res.bin"), Testdata("camera.pgm"),
                    dir.File("out.jpg")}));
  const ToolResult result =
      RunTool({"decode", "--resources", dir.File("back.bin"), dir.File("out.jpg"), dir.File("out.pgm")});
  ExpectOk(result);
  EXPECT_EQ(result.out, "512x512 colors=1 dpi=300 resources=40000\n");
  EXPECT_EQ(ReadText(dir.File("back.bin")), resources);
  const ToolResult info = RunTool({"info", dir.File("out.jpg")});
  EXPECT_NE(info.out.find("density 300x150 dots per inch"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("\"Imagerion 3.0\" image resources, 32000 bytes"), std::string::npos);
  EXPECT_NE(info.out.find("\"Imagerion 3.0\" image resources, 8000 bytes"), std::string::npos);
}

TEST(Encode, MarkerModeOneLeavesOutTheJfifSegment) {
  TempDir dir;
  ExpectOk(RunTool({"encode", "--marker-mode", "1", Testdata("camera.pgm"), dir.File("out.jpg")}));
  const ToolResult info = RunTool({"info", dir.File("out.jpg")});
  ExpectOk(info);
  EXPECT_EQ(info.out.find("JFIF"), std::string::npos) << info.out;
  const ToolResult result = RunTool({"decode", dir.File("out.jpg"), dir.File("out.pgm")});
  EXPECT_EQ(result.out, "512x512 colors=1 dpi=0 resources=0\n");
}

TEST(Encode, Ascii85FormIsThePlainFileWrapped) {
  TempDir dir;
  const std::string in = Testdata("chelsea_cmyk.pam");
  ExpectOk(RunTool({"encode", "--quality", "1", in, dir.File("plain.jpg")}));
  ExpectOk(RunTool({"encode", "--quality", "1", "--ascii85", in, dir.File("text.a85")}));
  ExpectOk(RunTool({"a85decode", dir.File("text.a85"), dir.File("unwrapped.jpg")}));
  EXPECT_EQ(ReadText(dir.File("unwrapped.jpg")), ReadText(dir.File("plain.jpg")));
}

TEST(Encode, OutputAgreesWithTheSystemDecoder) {
  TempDir dir;
  ExpectOk(RunTool({"encode", "--quality", "4", Testdata("coffee.ppm"), dir.File("out.jpg")}));
  ExpectOk(RunTool({"decode", dir.File("out.jpg"), dir.File("ours.ppm")}));
  const std::string jpeg = ReadText(dir.File("out.jpg"));
  Image theirs;
  std::string message;
  ASSERT_TRUE(testing_support::LibjpegDecode(Bytes(jpeg.begin(), jpeg.end()), &theirs, false, &message))
      << message;
  EXPECT_GE(Psnr(theirs, LoadPNM(dir.File("ours.ppm"))), 40);
}

TEST(Decode, ForeignFileMatchesTheSystemDecoderAndThumb) {
  TempDir dir;
  const ToolResult result = RunTool({"decode", Testdata("retina.jpg"), dir.File("retina.ppm")});
  ExpectOk(result);
  EXPECT_EQ(result.out.substr(0, 19), "1411x1411 colors=3 ");
  const Bytes jpeg = testing_support::ReadFileBytes(Testdata("retina.jpg"));
  Image theirs;
  ASSERT_TRUE(testing_support::LibjpegDecode(jpeg, &theirs));
  EXPECT_GE(Psnr(theirs, LoadPNM(dir.File("retina.ppm"))), 40);
  ExpectOk(RunTool({"thumb", Testdata("retina.jpg"), dir.File("thumb.ppm")}));
  EXPECT_EQ(ReadText(dir.File("thumb.ppm")), ReadText(dir.File("retina.ppm")));
}

TEST(Ascii85, CommandsRoundTripAnyBytes) {
  TempDir dir;
  std::string bytes;
  for (int i = 0; i < 5000; ++i) bytes += static_cast<char>((i * 131 + i / 7) & 0xFF);
  bytes += std::string(64, '\0');  // whole zero groups become "z"
  for (const std::string& content : {bytes, std::string(), std::string("abc")}) {
    WriteText(dir.File("in.bin"), content);
    ExpectOk(RunTool({"a85encode", dir.File("in.bin"), dir.File("text.a85")}));
    const std::string text = ReadText(dir.File("text.a85"));
    EXPECT_EQ(text.substr(text.size() - 2), "~>");
    for (char c : text) EXPECT_TRUE(c == '\n' || (c >= '!' && c <= 'z') || c == '~') << static_cast<int>(c);
    ExpectOk(RunTool({"a85decode", dir.File("text.a85"), dir.File("back.bin")}));
    EXPECT_EQ(ReadText(dir.File("back.bin")), content);
  }
}

}  // namespace
}  // namespace tool_test
