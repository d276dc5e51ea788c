// test_failures.cpp - every way a command line or an input can be bad: the
// tool exits non-zero with one line that says what went wrong, an existing
// output file and the input are left exactly as they were, and no temporary
// file stays behind.
#include <unistd.h>

#include <optional>

#include "tool_runner.h"

namespace tool_test {
namespace {

const std::string kJpeg = Text(LibjpegEncode(Crop(LoadTestImage("coffee.ppm"), 96, 64)));
const std::string kArithmetic = Text(
    LibjpegEncode(SyntheticImage(64, 48, 3), LibjpegOptions{75, 2, 2, 0, 0, false, false, /*arithmetic=*/true}));
const std::string kWideRgb = Text(LibjpegEncode(SyntheticImage(12000, 2, 3)));
const std::string kX(40000, 'x');
const std::string kPixel = "P5 1 1 255\nx";

struct Failure {
  const char* name;
  const char* args;                  // IN and OUT stand for DIR/in and DIR/out, DIR for the test's directory
  std::optional<std::string> input;  // the bytes of DIR/in, if there is one
  int status;
  const char* message;  // part of the one stderr line, DIR for the directory
};

void PrintTo(const Failure& test, std::ostream* out) { *out << test.name; }

class Failures : public ::testing::TestWithParam<Failure> {};

TEST_P(Failures, OneLineNoOutputNoLeftovers) {
  const Failure& test = GetParam();
  TempDir dir;
  if (test.input) WriteText(dir.File("in"), *test.input);
  WriteText(dir.File("out"), "precious");
  // Links an output may take: to the input (symbolic and hard) and to itself.
  ASSERT_EQ(symlink(dir.File("in").c_str(), dir.File("link").c_str()), 0);
  ASSERT_EQ(symlink(dir.File("loop").c_str(), dir.File("loop").c_str()), 0);
  ASSERT_TRUE(!test.input || link(dir.File("in").c_str(), dir.File("hard").c_str()) == 0);
  std::vector<std::string> args;
  std::istringstream words(
      Replace(Replace(Replace(test.args, "IN", "DIR/in"), "OUT", "DIR/out"), "DIR", dir.path));
  for (std::string word; words >> word;) args.push_back(word);
  const ToolResult result = RunTool(args);
  EXPECT_EQ(result.status, test.status);
  EXPECT_EQ(result.err.rfind("jpegtool: ", 0), 0u) << result.err;
  EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
  EXPECT_NE(Replace(result.err, dir.path, "DIR").find(test.message), npos) << result.err;
  EXPECT_TRUE(ReadText(dir.File("out")) == "precious") << "the existing output file was changed";
  EXPECT_TRUE(!test.input || ReadText(dir.File("in")) == *test.input) << "the input was changed";
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), {}), test.input ? 5 : 3) << "a file left behind";
}

const Failure kCases[] = {
    // The command line: status 2.
    {"UnknownCommand", "frobnicate", {}, 2, "unknown command 'frobnicate' (see 'jpegtool --help')"},
    {"MissingArguments", "encode IN", kPixel, 2, "encode: missing arguments"},
    {"QualityRange", "encode --level=-1 IN OUT", kPixel, 2, "--level: -1 is out of range (expected"},
    {"NoValue", "encode IN OUT --level", kPixel, 2, "option --level needs a value"},
    // Files that cannot be read or written.
    {"NoDestinationDir", "encode IN DIR/no/out", kPixel, 1, "cannot create a file beside DIR/no/out"},
    {"DirectoryOut", "a85encode IN DIR", kPixel, 1, "cannot write DIR: it is a directory"},
    // An output that is the input or the other output, refused before anything is written.
    {"OutputIsInput", "decode IN IN", kJpeg, 2, "refusing to write DIR/in: it is the same file as the input DIR/in"},
    {"OutputLinksToInput", "thumb IN DIR/link", kJpeg, 2, "write DIR/link: it is the same file as the input DIR/in"},
    {"EncodeOutputIsInput", "encode IN DIR/link", kPixel, 2, "it is the same file as the input DIR/in"},
    {"OutputsOneFile", "decode --resources OUT IN OUT", kJpeg, 2, "refusing to write DIR/out twice"},
    {"OutputLoops", "decode IN DIR/loop", kJpeg, 1, "cannot write DIR/loop: Too many levels of symbolic links"},
    // Images the encoder refuses.
    {"NotPnm", "encode IN OUT", "hello world", 1, "DIR/in: not a PNM image (P2, P3, P5, P6 or P7)"},
    {"SampleOverMaxval", "encode IN OUT", "P5 2 1 100\n\x10\x65", 1, "sample value 101 exceeds MAXVAL"},
    {"TruncatedPixels", "encode IN OUT", "P6 4 4 255\nxxxx", 1, "truncated PNM: the pixels of 4 lines expected, 0"},
    {"PamAlpha", "encode IN OUT", "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\nxxxx", 1,
     "TUPLTYPE RGB_ALPHA is not supported"},
    {"TooWide", "encode IN OUT", "P5 65536 1 255\n" + kX + kX.substr(14464), 1,
     "image too wide for the codec: 65536 pixels (at most 65535)"},
    {"DpiWithoutJfif", "encode --dpi 300 --marker-mode 1 IN OUT", kPixel, 2, "--dpi cannot be kept with --marker-mode 1"},
    // Files the decoder refuses.
    {"Empty", "decode IN OUT", "", 1, "decode failed: not a JPEG file: it is empty (Source EOF during marker)"},
    {"Truncated", "decode IN OUT", kJpeg.substr(0, 900), 1, "decode failed: Source EOF in 8x8 block"},
    {"ThumbTruncated", "thumb IN OUT", kJpeg.substr(0, 900), 1, "thumb failed: Source EOF in 8x8 block"},
    {"Arithmetic", "decode IN OUT", kArithmetic, 1, "(an arithmetic-coded JPEG:"},
    {"ThumbTooWide", "thumb IN OUT", kWideRgb, 1,
     "thumb failed: Raster line of 36000 bytes exceeds the thumbnail interface's 32767-byte limit"},
    // ASCII85 input: the bytes the text decodes to are what is not a JPEG.
    {"Ascii85Garbage", "decode --ascii85 IN OUT", "not ascii85 {}", 1, "not a JPEG file: starts with 0xF2 0x78 ("},
    // Damaged files the segment listing describes instead of trusting.
    {"InfoNotJpeg", "info IN", "GIF89a", 1, "DIR/in: not a JPEG file: starts with 0x47 0x49"},
    {"InfoInScan", "info IN", kJpeg.substr(0, kJpeg.size() - 2), 1, "ends inside the entropy-coded data"},
};

INSTANTIATE_TEST_SUITE_P(All, Failures, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Failure>& info) { return info.param.name; });

}  // namespace
}  // namespace tool_test
