// test_cli.cpp - help and version, the segment listing on known files, and
// the demo run into a temporary directory.
#include <regex>

#include "tool_runner.h"

namespace tool_test {
namespace {

TEST(Cli, HelpAndVersion) {
  EXPECT_EQ(Ok({"--version"}).out.rfind("jpegtool ", 0), 0u);
  const std::string help = Ok({"--help"}).out;
  for (const char* command : {"encode", "decode", "thumb", "a85encode", "a85decode", "info", "demo"}) {
    EXPECT_NE(help.find(command), npos) << command;
    EXPECT_EQ(Ok({command, "--help"}).out.rfind(std::string("usage: jpegtool ") + command, 0), 0u) << command;
  }
  EXPECT_NE(Ok({"encode", "--help"}).out.find("Qualities 0, 1 and 2 subsample chroma 2x2; 3 to 6 keep full"), npos);
  const ToolResult bare = RunTool({});
  EXPECT_EQ(bare.status, 2);
  EXPECT_EQ(bare.err.rfind("usage: jpegtool", 0), 0u) << bare.err;
}

// --quiet leaves standard output and standard error empty for every
// command that reports something.
TEST(Cli, QuietSilencesEveryStatsLine) {
  TempDir dir;
  const std::string photo = TestdataPath("coffee.ppm");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"encode", "--quiet", photo, dir.File("a.jpg")},
        {"decode", "--quiet", dir.File("a.jpg"), dir.File("a.ppm")},
        {"decode", "--quiet", "--resources", dir.File("r.bin"), dir.File("a.jpg"), dir.File("b.ppm")},
        {"thumb", "--quiet", dir.File("a.jpg"), dir.File("t.ppm")}}) {
    EXPECT_EQ(Ok(args).out, "") << args[0];
  }
  EXPECT_EQ(RunShell("JPEGTOOL decode --quiet " + dir.File("a.jpg") + " - >/dev/null").err, "");
}

TEST(Info, ListsAForeignFile) {
  const std::string info = Ok({"info", TestdataPath("retina.jpg")}).out;
  for (const char* line :
       {"     158  FFC0  SOF0      17  baseline, 8-bit, 1411x1411, 3 components: id 1 2x2 q0,",
        "     623        data          entropy-coded data, 268939 bytes, 0 restart markers\n",
        "  269562  FFD9  EOI\n"}) {
    EXPECT_NE(info.find(line), npos) << line << info;
  }
}

// Every segment in order; quality 2 subsamples chroma and blends, and the
// transform segment says so.
TEST(Info, ListsEverySegmentOfOurOwnFile) {
  TempDir dir;
  WriteText(dir.File("res.bin"), "resource bytes");
  Ok({"encode", "--quality", "2", "--resources", dir.File("res.bin"), TestdataPath("coffee.ppm"),
      dir.File("a.jpg")});
  WriteText(dir.File("a.jpg"), ReadText(dir.File("a.jpg")) + "trailing");
  const std::string info = Ok({"info", dir.File("a.jpg")}).out;
  size_t at = 0;
  for (const char* text :
       {"       0  FFD8  SOI\n", "       2  FFE0  APP0      16  JFIF 1.02, density 72x72 dots per inch",
        "  APP13 ", "\"Imagerion 3.0\" image resources, 14 bytes", "  APP14 ",
        "\"Orlyx\" colour transform 1 (YCbCr), version 100, flags 0x8000", "  DQT ", "  SOF0 ",
        "baseline, 8-bit, 600x400, 3 components: id 1 2x2", "  DHT ", "  DRI ", "  SOS ", "  data ",
        "  EOI\n", "  data          8 bytes after EOI"}) {
    at = info.find(text, at);
    ASSERT_NE(at, npos) << text << "\n" << info;
  }
}

TEST(Demo, WritesTableFilesAndChart) {
  TempDir dir;
  const std::string out = dir.File("demo");
  const std::string table = Ok({"demo", "--runs", "1", out}).out;
  // Each row: quality, QFactor, bytes, ASCII85 bytes, bits per pixel, PSNR, two timings.
  const std::regex row(R"(^\s+(\d)\s+\d+\.\d+\s+(\d+)\s+\d+\s+\d+\.\d+\s+(\d+\.\d+)\s+\d+\.\d\s+\d+\.\d$)");
  std::vector<double> psnr;
  std::smatch match;
  std::istringstream lines(table);
  for (std::string line; std::getline(lines, line);) {
    if (!std::regex_match(line, match, row)) continue;
    EXPECT_EQ(ReadText(out + "/coffee-q" + match.str(1) + ".jpg").size(), std::stoul(match[2]));
    psnr.push_back(std::stod(match[3]));
  }
  ASSERT_EQ(psnr.size(), 7u) << table;
  EXPECT_GT(psnr.front(), 25);
  EXPECT_LT(psnr.front(), psnr.back());
  const std::string chart = ReadText(out + "/chart.svg");
  EXPECT_EQ(chart.rfind("<svg", 0), 0u);
  for (const char* text : {">PSNR against bits per pixel (built-in photograph)<", ">bits per pixel<", ">PSNR (dB)<",
                           "q0-q2: 2x2 chroma | q3-q6: full chroma", "stroke-dasharray"}) {
    EXPECT_NE(chart.find(text), npos) << text;
  }
  // The system's cjpeg/djpeg (installed with the tests) appear at matching sizes.
  const std::string tableFile = ReadText(out + "/table.txt");
  EXPECT_NE(tableFile.find("QFactor"), npos);
  EXPECT_NE(tableFile.find("cjpeg/djpeg at matching sizes"), npos);
  EXPECT_NE(chart.find(">cjpeg/djpeg at matching sizes<"), npos);
  // --quiet: the files, and nothing printed.
  EXPECT_EQ(Ok({"demo", "--quiet", "--runs", "1", dir.File("quiet")}).out, "");
  EXPECT_EQ(ReadText(dir.File("quiet") + "/table.txt").size(), tableFile.size());
}

}  // namespace
}  // namespace tool_test
