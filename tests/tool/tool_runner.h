// tool_runner.h - what the jpegtool tests share: running the built binary
// through the shell (exit status, stdout, stderr); temporary directories
// come from the shared support (TempDir).
#ifndef JPEG_TESTS_TOOL_TOOL_RUNNER_H
#define JPEG_TESTS_TOOL_TOOL_RUNNER_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tool_test {

using namespace testing_support;
namespace fs = std::filesystem;
constexpr size_t npos = std::string::npos;

inline std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}
inline void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
inline std::string Text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// text with every `from` replaced by `to`.
inline std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != npos; at = text.find(from, at + to.size())) text.replace(at, from.size(), to);
  return text;
}

struct ToolResult {
  int status;  // the shell turns death by a signal into 128 + its number
  std::string out, err;
};

// Runs a shell command line in which JPEGTOOL stands for the tool; stdout and
// stderr are captured unless the command redirects them.
inline ToolResult RunShell(const std::string& command) {
  TempDir capture;
  const std::string line = Replace(command, "JPEGTOOL", "'" JPEGTOOL_PATH "'");
  const int wait = system(("{ " + line + " ; } >" + capture.File("out") + " 2>" + capture.File("err")).c_str());
  return {WIFEXITED(wait) ? WEXITSTATUS(wait) : -1, ReadText(capture.File("out")), ReadText(capture.File("err"))};
}

// Runs jpegtool with these arguments (none holds a quote).
inline ToolResult RunTool(const std::vector<std::string>& args) {
  std::string command = "JPEGTOOL";
  for (const std::string& arg : args) command += " '" + arg + "'";
  return RunShell(command);
}

// Runs jpegtool and expects it to succeed silently on stderr.
inline ToolResult Ok(const std::vector<std::string>& args) {
  ToolResult result = RunTool(args);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  return result;
}

}  // namespace tool_test

#endif
