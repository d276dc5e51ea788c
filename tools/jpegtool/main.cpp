// main.cpp - jpegtool's entry: picks the command, runs it, and turns any
// failure into one line on stderr and a non-zero exit status.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "commands.h"
#include "host_framework.h"
#include "tool_error.h"

#ifndef JPEGTOOL_VERSION
#define JPEGTOOL_VERSION "unknown"
#endif

namespace {

using jpegtool::Args;

struct Command {
  const char* name;
  int (*run)(const Args&);
};

const Command kCommands[] = {
    {"encode", jpegtool::RunEncode},       {"decode", jpegtool::RunDecode},
    {"thumb", jpegtool::RunThumb},         {"a85encode", jpegtool::RunA85Encode},
    {"a85decode", jpegtool::RunA85Decode}, {"info", jpegtool::RunInfo},
    {"demo", jpegtool::RunDemo},           {"recompress", jpegtool::RunRecompress},
    {"optimize", jpegtool::RunOptimize},
};

int RunCommand(const std::string& name, const Args& args) {
  for (const Command& command : kCommands) {
    if (name == command.name) return command.run(args);
  }
  jpegtool::FailUsage("unknown command '" + name + "' (see 'jpegtool --help')");
}

int Dispatch(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(jpegtool::ToolUsage(), stderr);
    return jpegtool::kExitUsage;
  }
  const std::string first = argv[1];
  if (first == "--help" || first == "-h" || first == "help") {
    if (argc > 2 && jpegtool::CommandHelp(argv[2]) != nullptr)
      jpegtool::PrintCommandHelp(argv[2]);
    else
      std::fputs(jpegtool::ToolUsage(), stdout);
    return 0;
  }
  if (first == "--version") {
    std::printf("jpegtool %s\n", JPEGTOOL_VERSION);
    return 0;
  }
  if (first.size() > 1 && first[0] == '-')
    jpegtool::FailUsage("unknown option " + first + " (see 'jpegtool --help')");
  return RunCommand(first, Args(argv + 2, argv + argc));
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const int status = Dispatch(argc, argv);
    const bool flushFailed = std::fflush(stdout) != 0;
    if (flushFailed || std::ferror(stdout)) {
      std::fprintf(stderr, "jpegtool: cannot write standard output: %s\n",
                   flushFailed ? std::strerror(errno) : "write error");
      return jpegtool::kExitFailure;
    }
    return status;
  } catch (const jpegtool::ToolError& error) {
    std::fflush(stdout);
    std::clearerr(stdout);
    std::fprintf(stderr, "jpegtool: %s\n", error.what());
    return error.exitStatus();
  } catch (const HostFailure& failure) {
    std::fprintf(stderr, "jpegtool: host failure %d\n", failure.error);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "jpegtool: out of memory\n");
  } catch (const std::exception& error) {
    std::fprintf(stderr, "jpegtool: %s\n", error.what());
  }
  return jpegtool::kExitFailure;
}
