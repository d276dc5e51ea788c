// test_failures.cpp - every way an input can be bad: the tool exits 1 with
// one line that says what went wrong, and an existing output file is left
// exactly as it was (no temporary files left behind either).
#include <gtest/gtest.h>

#include <functional>

#include "tool_runner.h"

namespace tool_test {
namespace {

using testing_support::Image;

std::string Repeat(size_t count, char c = 'x') { return std::string(count, c); }

std::string BaselineJpeg() {
  const Image image = testing_support::Crop(testing_support::LoadTestImage("coffee.ppm"), 96, 64);
  const Bytes jpeg = testing_support::LibjpegEncode(image);
  return std::string(jpeg.begin(), jpeg.end());
}

std::string ProgressiveJpeg() {
  testing_support::LibjpegOptions options;
  options.progressive = true;
  const Bytes jpeg = testing_support::LibjpegEncode(testing_support::SyntheticImage(64, 48, 3), options);
  return std::string(jpeg.begin(), jpeg.end());
}

// The first DHT's table-class byte set to a value no table may have.
std::string BadHuffmanTableJpeg() {
  std::string jpeg = BaselineJpeg();
  const size_t dht = jpeg.find("\xFF\xC4");
  jpeg[dht + 4] = 0x55;
  return jpeg;
}

// A run of scrambled bytes in the middle of the entropy-coded data.
std::string CorruptScanJpeg() {
  std::string jpeg = BaselineJpeg();
  for (size_t i = 0; i < 200; ++i) jpeg[jpeg.size() / 2 + i] = static_cast<char>(i * 37 + 11);
  return jpeg;
}

struct FailureCase {
  const char* name;
  std::vector<std::string> command;    // IN and OUT are replaced by the paths
  std::function<std::string()> input;  // null: no input file at all
  std::vector<const char*> messages;   // all must appear in the one stderr line
};

void PrintTo(const FailureCase& test, std::ostream* out) { *out << test.name; }

class InputFailures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(InputFailures, ReportInWordsAndKeepOutput) {
  const FailureCase& test = GetParam();
  TempDir dir;
  const std::string in = dir.File("in"), out = dir.File("out");
  if (test.input) WriteText(in, test.input());
  WriteText(out, "precious");
  std::vector<std::string> args = test.command;
  for (std::string& arg : args) arg = arg == "IN" ? in : arg == "OUT" ? out : arg;
  const ToolResult result = RunTool(args);
  EXPECT_EQ(result.status, 1);
  ASSERT_EQ(result.ErrLines().size(), 1u) << result.err;
  EXPECT_EQ(result.err.rfind("jpegtool: ", 0), 0u) << result.err;
  for (const char* message : test.messages) {
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
  }
  // A failure line always says why: some words follow "failed: ".
  const size_t failed = result.err.find("failed: ");
  if (failed != std::string::npos) {
    EXPECT_GT(result.err.size(), failed + 8 + 5) << result.err;
  }
  EXPECT_EQ(ReadText(out), "precious");
  const std::vector<std::string> expected =
      test.input ? std::vector<std::string>{"in", "out"} : std::vector<std::string>{"out"};
  EXPECT_EQ(dir.Entries(), expected);
}

const FailureCase kEncodeCases[] = {
    {"Missing", {"encode", "IN", "OUT"}, nullptr, {"cannot open ", "No such file or directory"}},
    {"NotPnm",
     {"encode", "IN", "OUT"},
     [] { return std::string("hello world"); },
     {"not a binary PNM image"}},
    {"AsciiPnm",
     {"encode", "IN", "OUT"},
     [] { return std::string("P3 1 1 255 0 0 0\n"); },
     {"not a binary PNM image"}},
    {"Maxval16",
     {"encode", "IN", "OUT"},
     [] { return "P5 2 2 65535\n" + Repeat(8); },
     {"MAXVAL 65535 is not supported"}},
    {"TruncatedPixels",
     {"encode", "IN", "OUT"},
     [] { return "P6 4 4 255\n" + Repeat(10); },
     {"truncated PNM: 48 bytes of pixels expected, 10 found"}},
    {"TruncatedHeader",
     {"encode", "IN", "OUT"},
     [] { return std::string("P6 4"); },
     {"truncated PNM header"}},
    {"ZeroWidth",
     {"encode", "IN", "OUT"},
     [] { return std::string("P5 0 4 255\n"); },
     {"width and height must be positive"}},
    {"HugeHeaderNumber",
     {"encode", "IN", "OUT"},
     [] { return std::string("P5 99999999999999999999 1 255\n"); },
     {"width is too large"}},
    {"TooWideGrey",
     {"encode", "IN", "OUT"},
     [] { return "P5 40000 1 255\n" + Repeat(40000); },
     {"image too wide for the codec", "40000 bytes per line (at most 32767)"}},
    {"TooWideRgb",
     {"encode", "IN", "OUT"},
     [] { return "P6 11000 1 255\n" + Repeat(33000); },
     {"image too wide for the codec", "33000 bytes per line"}},
    {"TooTall",
     {"encode", "IN", "OUT"},
     [] { return "P5 1 40000 255\n" + Repeat(40000); },
     {"image too tall for the codec: 40000 lines"}},
    {"PamDepth5",
     {"encode", "IN", "OUT"},
     [] { return "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 5\nMAXVAL 255\nENDHDR\n" + Repeat(5); },
     {"PAM DEPTH 5 is not supported"}},
    {"PamAlpha",
     {"encode", "IN", "OUT"},
     [] { return "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n" + Repeat(4); },
     {"TUPLTYPE RGB_ALPHA is not supported"}},
    {"PamNoEnd",
     {"encode", "IN", "OUT"},
     [] { return std::string("P7\nWIDTH 1\nHEIGHT 1\n"); },
     {"truncated PAM header (no ENDHDR)"}},
    {"MissingResources",
     {"encode", "--resources", "nonexistent.bin", "IN", "OUT"},
     [] { return "P5 1 1 255\n" + Repeat(1); },
     {"cannot open nonexistent.bin"}},
};

const FailureCase kDecodeCases[] = {
    {"Missing", {"decode", "IN", "OUT"}, nullptr, {"cannot open ", "No such file or directory"}},
    {"Empty", {"decode", "IN", "OUT"}, [] { return std::string(); }, {"decode failed: "}},
    {"NotJpeg",
     {"decode", "IN", "OUT"},
     [] { return "P5 1 1 255\n" + Repeat(1); },
     {"decode failed: ", "not a JPEG file"}},
    {"Truncated", {"decode", "IN", "OUT"}, [] { return BaselineJpeg().substr(0, 900); }, {"decode failed: "}},
    {"BadHuffmanTable",
     {"decode", "IN", "OUT"},
     BadHuffmanTableJpeg,
     {"decode failed: Bad DHT segment table no."}},
    {"Progressive",
     {"decode", "IN", "OUT"},
     ProgressiveJpeg,
     {"decode failed: Non-baseline or invalid marker code = 194", "progressive"}},
    {"ThumbProgressive",
     {"thumb", "IN", "OUT"},
     ProgressiveJpeg,
     {"thumb failed: Non-baseline or invalid marker code = 194", "progressive"}},
    {"ThumbTruncated",
     {"thumb", "IN", "OUT"},
     [] { return BaselineJpeg().substr(0, 900); },
     {"thumb failed: "}},
    {"ThumbMissing", {"thumb", "IN", "OUT"}, nullptr, {"cannot open "}},
    {"CorruptScan", {"decode", "IN", "OUT"}, CorruptScanJpeg, {"decode failed: "}},
    {"ThumbCorruptScan", {"thumb", "IN", "OUT"}, CorruptScanJpeg, {"thumb failed: "}},
    {"Ascii85Garbage",
     {"decode", "--ascii85", "IN", "OUT"},
     [] { return std::string("not ascii85 {}"); },
     {"decode failed: "}},
    {"A85DecodeMalformed",
     {"a85decode", "IN", "OUT"},
     [] { return std::string("87cURD]i,\"Ebo80{{{{"); },
     {"a85decode failed: ", "is not valid ASCII85 text"}},
    {"A85EncodeMissing", {"a85encode", "IN", "OUT"}, nullptr, {"cannot open "}},
};

std::string CaseName(const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Encode, InputFailures, ::testing::ValuesIn(kEncodeCases), CaseName);
INSTANTIATE_TEST_SUITE_P(Decode, InputFailures, ::testing::ValuesIn(kDecodeCases), CaseName);

TEST(PathFailures, DirectoryAsInputIsReported) {
  TempDir dir;
  for (const char* command : {"encode", "decode", "thumb", "a85encode", "a85decode"}) {
    const ToolResult result = RunTool({command, dir.path(), dir.File("out")});
    EXPECT_EQ(result.status, 1) << command;
    EXPECT_EQ(result.err, "jpegtool: cannot read " + dir.path() + ": Is a directory\n") << command;
  }
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{});
}

TEST(PathFailures, UnwritableDestinationIsReported) {
  TempDir dir;
  const ToolResult result = RunTool({"encode", Testdata("camera.pgm"), dir.File("no/such/dir/out.jpg")});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("cannot create a file beside"), std::string::npos) << result.err;
  const ToolResult intoDirectory = RunTool({"a85encode", Testdata("camera.pgm"), dir.path()});
  EXPECT_EQ(intoDirectory.status, 1);
  EXPECT_NE(intoDirectory.err.find("it is a directory"), std::string::npos) << intoDirectory.err;
}

}  // namespace
}  // namespace tool_test

namespace tool_test {
namespace {

// Files from another encoder wider than the codec's 16-bit fields can
// hold: refused with a message, never a crash or a wrong image. A line of
// more than 32767 bytes still decodes through the read stream, but the
// thumbnail interface takes line sizes as 16-bit numbers.
testing_support::Image FlatImage(int width, int colors) {
  testing_support::Image image;
  image.width = width;
  image.height = 2;
  image.colors = colors;
  image.pixels.assign(static_cast<size_t>(width) * colors * image.height, 128);
  return image;
}

void ExpectRefused(const std::string& command, const std::string& jpeg, const std::string& out,
                   const char* message) {
  const ToolResult result = RunTool({command, jpeg, out});
  EXPECT_EQ(result.status, 1) << command;
  EXPECT_EQ(result.ErrLines().size(), 1u) << result.err;
  EXPECT_NE(result.err.find(command + " failed: " + message), std::string::npos) << result.err;
  EXPECT_FALSE(FileExists(out));
}

TEST(WideJpegFiles, BeyondSixteenBitsAreRefusedInWords) {
  TempDir dir;
  const std::string jpeg = dir.File("wide.jpg"), out = dir.File("out.pnm");
  testing_support::WriteFileBytes(jpeg, testing_support::LibjpegEncode(FlatImage(40000, 1)));
  ExpectRefused("decode", jpeg, out, "the image is too large for the codec");
  ExpectRefused("thumb", jpeg, out, "the image is too large for the thumbnail interface");
  testing_support::WriteFileBytes(jpeg, testing_support::LibjpegEncode(FlatImage(12000, 3)));
  ExpectRefused("thumb", jpeg, out, "the image is too large for the thumbnail interface");
  const ToolResult decoded = RunTool({"decode", jpeg, out});
  ASSERT_EQ(decoded.status, 0) << decoded.err;
  EXPECT_EQ(testing_support::Psnr(testing_support::LoadPNM(out), FlatImage(12000, 3)), 99);
}

}  // namespace
}  // namespace tool_test
