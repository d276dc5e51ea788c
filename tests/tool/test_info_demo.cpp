// test_info_demo.cpp - the segment listing on known files and on damaged
// bytes, and the demo run into a temporary directory.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>

#include "tool_runner.h"

namespace tool_test {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// The segment names of an info listing, in order (the third column).
std::vector<std::string> SegmentNames(const std::string& listing) {
  std::vector<std::string> names;
  const std::regex row(R"(^\s*\d+\s+(?:FF[0-9A-F]{2}\s+)?(\S+))");
  std::smatch match;
  for (const std::string& line : Lines(listing)) {
    if (std::regex_search(line, match, row)) names.push_back(match[1]);
  }
  return names;
}

TEST(Info, ListsEverySegmentOfOurOwnFile) {
  TempDir dir;
  WriteText(dir.File("res.bin"), "resource bytes");
  ASSERT_EQ(RunTool({"encode", "--quality", "2", "--resources", dir.File("res.bin"), Testdata("coffee.ppm"),
                     dir.File("out.jpg")})
                .status,
            0);
  const ToolResult info = RunTool({"info", dir.File("out.jpg")});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(SegmentNames(info.out), (std::vector<std::string>{"SOI", "APP0", "APP13", "APP14", "DQT", "SOF0",
                                                              "DHT", "DRI", "SOS", "data", "EOI"}));
  const std::vector<std::string> lines = Lines(info.out);
  EXPECT_NE(lines[2].find("       0  FFD8  SOI"), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find("       2  FFE0  APP0      16  JFIF 1.02, density 72x72 dots per inch"),
            std::string::npos)
      << lines[3];
  EXPECT_NE(info.out.find("\"Imagerion 3.0\" image resources, 14 bytes"), std::string::npos);
  // Quality 2 subsamples chroma and blends: the transform segment says so.
  EXPECT_NE(info.out.find("\"Orlyx\" colour transform 1 (YCbCr), version 100, flags 0x8000"),
            std::string::npos);
  EXPECT_NE(info.out.find("baseline, 8-bit, 600x400, 3 components: id 1 2x2"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("restart interval"), std::string::npos);
}

TEST(Info, DescribesAForeignFile) {
  const ToolResult info = RunTool({"info", Testdata("retina.jpg")});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("baseline, 8-bit, 1411x1411, 3 components: id 1 2x2 q0, id 2 1x1 q1, id 3 1x1 q1"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("tables: DC0"), std::string::npos);
}

TEST(Info, DamagedFilesAreDescribedNotTrusted) {
  TempDir dir;
  ASSERT_EQ(RunTool({"encode", Testdata("camera.pgm"), dir.File("ok.jpg")}).status, 0);
  const std::string good = ReadText(dir.File("ok.jpg"));
  struct Case {
    std::string bytes;
    const char* message;
  };
  const Case cases[] = {
      {"GIF89a", "not a JPEG file"},
      {good.substr(0, 10), "the file ends inside the APP0 segment"},
      {good.substr(0, good.size() / 2), "the file ends inside the entropy-coded data"},
      {good.substr(0, good.size() - 2), "the file ends inside the entropy-coded data"},
      {std::string("\xFF\xD8\xFF\xE0\x00\x01", 6), "length below 2"},
      {std::string("\xFF\xD8\x12\x34\xFF\xD9", 6), ""},
      {good + "trailing", ""},
  };
  for (const Case& test : cases) {
    WriteText(dir.File("bad.jpg"), test.bytes);
    const ToolResult info = RunTool({"info", dir.File("bad.jpg")});
    if (test.message[0] == '\0') {
      EXPECT_EQ(info.status, 0) << info.err;
    } else {
      EXPECT_EQ(info.status, 1);
      EXPECT_NE(info.err.find(test.message), std::string::npos) << info.err;
    }
  }
  WriteText(dir.File("bad.jpg"), good + "trailing");
  EXPECT_NE(RunTool({"info", dir.File("bad.jpg")}).out.find("8 bytes after EOI"), std::string::npos);
}

TEST(Demo, WritesTableFilesAndChart) {
  TempDir dir;
  const std::string out = dir.File("demo");
  const ToolResult result = RunTool({"demo", "--runs", "1", out});
  ASSERT_EQ(result.status, 0) << result.err;
  const std::regex row(
      R"(^\s+(\d)\s+(\d+\.\d+)\s+(\d+)\s+(\d+)\s+(\d+\.\d+)\s+(\d+\.\d+)\s+\d+\.\d\s+\d+\.\d$)");
  std::vector<double> psnr;
  std::smatch match;
  for (const std::string& line : Lines(result.out)) {
    if (!std::regex_match(line, match, row)) continue;
    EXPECT_EQ(std::stoi(match[1]), static_cast<int>(psnr.size()));
    EXPECT_EQ(ReadText(out + "/coffee-q" + std::string(match[1]) + ".jpg").size(), std::stoul(match[3]));
    EXPECT_GT(std::stoul(match[4]), std::stoul(match[3]));  // ASCII85 is larger
    psnr.push_back(std::stod(match[6]));
  }
  ASSERT_EQ(psnr.size(), 7u) << result.out;
  EXPECT_LT(psnr.front(), psnr.back());
  EXPECT_GT(psnr.front(), 25);
  const std::string svg = ReadText(out + "/chart.svg");
  EXPECT_EQ(svg.rfind("<svg", 0), 0u);
  EXPECT_NE(svg.find("<polyline"), std::string::npos);
  EXPECT_NE(svg.find(">q6<"), std::string::npos);
  EXPECT_NE(ReadText(out + "/table.txt").find("QFactor"), std::string::npos);
  EXPECT_TRUE(FileExists(out + "/coffee-q0.a85"));
  EXPECT_TRUE(FileExists(out + "/coffee.ppm"));
}

}  // namespace
}  // namespace tool_test
