// cmd_info.cpp - the info command: the segment list of a JPEG file.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "commands.h"
#include "file_io.h"
#include "info_walker.h"
#include "tool_error.h"

namespace jpegtool {

int RunInfo(const Args& args) {
  static const CommandSpec kSpec{"info", {}, 1, 1};
  const ParsedArgs parsed = ParseCommandLine(kSpec, args);
  if (parsed.help) return PrintCommandHelp("info"), 0;
  const std::string& path = parsed.positionals[0];
  const Bytes bytes = ReadWholeFile(path);
  const JpegSummary summary = WalkJpeg(bytes.data(), bytes.size());
  const std::string name = path == "-" ? "standard input" : path;
  // Nothing to list: say so first, and only that.
  if (summary.segments.empty()) Fail(name + ": " + summary.problem);
  std::printf("%s: %zu bytes\n", name.c_str(), bytes.size());
  std::printf("  offset  mark  name  length  details\n");
  for (const SegmentInfo& segment : summary.segments) std::printf("%s\n", FormatSegment(segment).c_str());
  // The listing is the output: a failed write is the command's failure.
  if (std::fflush(stdout) != 0) Fail(std::string("cannot write standard output: ") + std::strerror(errno));
  if (std::ferror(stdout)) Fail("cannot write standard output: write error");
  if (!summary.problem.empty()) Fail(name + ": " + summary.problem);
  return 0;
}

}  // namespace jpegtool
