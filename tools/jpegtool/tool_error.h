// tool_error.h - how jpegtool reports a failure: every command throws a
// ToolError carrying one line of plain words; main() prints it after
// "jpegtool: " and exits non-zero. Usage errors (bad options, wrong argument
// counts) carry their own exit status so scripts can tell them apart.
#ifndef JPEGTOOL_TOOL_ERROR_H
#define JPEGTOOL_TOOL_ERROR_H

#include <stdexcept>
#include <string>

namespace jpegtool {

constexpr int kExitFailure = 1;  // the input or the codec failed
constexpr int kExitUsage = 2;    // the command line was wrong

class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const std::string& message, int exitStatus = kExitFailure)
      : std::runtime_error(message), exitStatus_(exitStatus) {}
  int exitStatus() const { return exitStatus_; }

 private:
  int exitStatus_;
};

[[noreturn]] inline void Fail(const std::string& message) { throw ToolError(message); }
[[noreturn]] inline void FailUsage(const std::string& message) { throw ToolError(message, kExitUsage); }

}  // namespace jpegtool

#endif
