// cmd_optimize.cpp - the optimize command: a JPEG file's entropy-coded data
// coded anew with Huffman tables built for it (sequential, or progressive),
// its coefficients and segments kept (JPEGOptimizeCoding, jpeg_transcode.h).
#include <string>

#include "cli.h"
#include "commands.h"
#include "decode_failure.h"
#include "file_io.h"
#include "file_stm.h"
#include "jpeg_transcode.h"
#include "stm.h"
#include "tool_error.h"

namespace jpegtool {

int RunOptimize(const Args& args) {
  static const CommandSpec kSpec{"optimize", {{"progressive", false}}, 2, 2};
  const ParsedArgs parsed = ParseCommandLine(kSpec, args);
  if (parsed.help) return PrintCommandHelp("optimize"), 0;
  CheckOutputsApart({parsed.positionals[0]}, {parsed.positionals[1]});
  const Bytes input = ReadWholeFile(parsed.positionals[0]);
  OutputFile output(parsed.positionals[1]);
  FileStm sink;
  InitFileSink(&sink, &output);
  JPEGTranscodeOptions options{};
  options.progressive = parsed.Has("progressive") ? 1 : 0;
  const bool coded = JPEGOptimizeCoding(input.data(), input.size(), &sink.stm, &options) == 0;
  const std::string message = coded ? "" : JPEGLastErrorMessage();
  const bool written = FinishFileSink(&sink);
  if (!output.WriteError().empty()) Fail(output.WriteError());
  if (!coded) Fail(DescribeDecodeFailure("optimize", message, input));
  if (!written) Fail("optimize failed: I/O error");
  output.Commit();
  return 0;
}

}  // namespace jpegtool
