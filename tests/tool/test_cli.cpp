// test_cli.cpp - the command line itself: help, version, and the usage
// errors every command reports in one line with a non-zero status.
#include <gtest/gtest.h>

#include "tool_runner.h"

namespace tool_test {
namespace {

TEST(ToolCli, VersionAndToolHelp) {
  const ToolResult version = RunTool({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("jpegtool ", 0), 0u) << version.out;
  const ToolResult help = RunTool({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* command : {"encode", "decode", "thumb", "a85encode", "a85decode", "info", "demo"}) {
    EXPECT_NE(help.out.find(command), std::string::npos) << command;
  }
  const ToolResult bare = RunTool({});
  EXPECT_NE(bare.status, 0);
  EXPECT_NE(bare.err.find("usage"), std::string::npos);
}

class CommandHelp : public ::testing::TestWithParam<const char*> {};

TEST_P(CommandHelp, PrintsUsageAndSucceeds) {
  const ToolResult result = RunTool({GetParam(), "--help"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.rfind(std::string("usage: jpegtool ") + GetParam(), 0), 0u) << result.out;
  EXPECT_TRUE(result.err.empty());
}

INSTANTIATE_TEST_SUITE_P(AllCommands, CommandHelp,
                         ::testing::Values("encode", "decode", "thumb", "a85encode", "a85decode", "info",
                                           "demo"));

struct UsageCase {
  std::vector<std::string> args;
  const char* message;
};

void PrintTo(const UsageCase& test, std::ostream* out) {
  for (const std::string& arg : test.args) *out << arg << ' ';
}

class UsageErrors : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrors, OneLineAndStatusTwo) {
  TempDir dir;
  std::vector<std::string> args = GetParam().args;
  for (std::string& arg : args) {
    if (arg == "OUT") arg = dir.File("out.jpg");
    if (arg == "IN") arg = Testdata("camera.pgm");
  }
  const ToolResult result = RunTool(args);
  EXPECT_EQ(result.status, 2);
  ASSERT_EQ(result.ErrLines().size(), 1u) << result.err;
  EXPECT_NE(result.err.find(GetParam().message), std::string::npos) << result.err;
  EXPECT_EQ(result.err.rfind("jpegtool: ", 0), 0u);
  EXPECT_FALSE(FileExists(dir.File("out.jpg")));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UsageErrors,
    ::testing::Values(
        UsageCase{{"frobnicate"}, "unknown command 'frobnicate'"},
        UsageCase{{"--frobnicate"}, "unknown option --frobnicate"},
        UsageCase{{"encode", "--fast", "IN", "OUT"}, "unknown option --fast for encode"},
        UsageCase{{"encode", "-q", "IN", "OUT"}, "unknown option -q for encode"},
        UsageCase{{"decode", "--quality", "3", "IN", "OUT"}, "unknown option --quality for decode"},
        UsageCase{{"encode", "IN"}, "encode: missing arguments"},
        UsageCase{{"info", "a", "b"}, "info: unexpected argument 'b'"},
        UsageCase{{"encode", "--quality", "7", "IN", "OUT"}, "--quality: 7 is out of range"},
        UsageCase{{"encode", "--quality=-1", "IN", "OUT"}, "--quality: -1 is out of range"},
        UsageCase{{"encode", "--quality", "high", "IN", "OUT"}, "'high' is not a number"},
        UsageCase{{"encode", "--marker-mode", "3", "IN", "OUT"}, "--marker-mode: 3 is out of range"},
        UsageCase{{"encode", "--dpi", "0", "IN", "OUT"}, "--dpi: 0 is out of range"},
        UsageCase{{"encode", "--dpi", "72,", "IN", "OUT"}, "--dpi: missing number"},
        UsageCase{{"encode", "IN", "OUT", "--quality"}, "option --quality needs a value"},
        UsageCase{{"encode", "--ascii85=1", "IN", "OUT"}, "option --ascii85 takes no value"}));

}  // namespace
}  // namespace tool_test
