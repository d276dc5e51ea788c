// tool_runner.h - runs the built jpegtool binary for the tests and collects
// its exit status and output; temporary directories that clean up after
// themselves.
#ifndef JPEG_TESTS_TOOL_TOOL_RUNNER_H
#define JPEG_TESTS_TOOL_TOOL_RUNNER_H

#include <string>
#include <vector>

#include "support/test_support.h"

namespace tool_test {

using testing_support::Bytes;

struct ToolResult {
  int status = -1;  // exit status, or -1 if the program did not exit normally
  std::string out;
  std::string err;
  // The stderr lines (without their line feeds).
  std::vector<std::string> ErrLines() const;
};

ToolResult RunTool(const std::vector<std::string>& args);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Names of the entries in the directory, sorted.
  std::vector<std::string> Entries() const;

 private:
  std::string path_;
};

std::string Testdata(const std::string& name);
bool FileExists(const std::string& path);
std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);

}  // namespace tool_test

#endif
