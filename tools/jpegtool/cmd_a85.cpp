// cmd_a85.cpp - the a85encode and a85decode commands: the ASCII85 filters
// alone, opened through the exported filter table over the tool's reader
// and output.
#include <cstdio>
#include <memory>

#include "bn_streams.h"
#include "cli.h"
#include "commands.h"
#include "file_io.h"
#include "file_stm.h"
#include "tool_error.h"

namespace jpegtool {
namespace {

constexpr size_t kChunkBytes = 8192;

// Copies the input into the encode filter; false if the filter refused bytes.
bool PumpIntoFilter(ByteReader* input, Stm* filter) {
  uint8_t chunk[kChunkBytes];
  size_t got;
  while ((got = input->Read(chunk, sizeof chunk)) > 0) {
    if (StmFWrite(chunk, 1, static_cast<uint32_t>(got), filter) != got) return false;
  }
  return true;
}

// Copies the decode filter's bytes to the output; returns the byte count.
size_t PumpOutOfFilter(Stm* filter, OutputFile* output) {
  uint8_t chunk[kChunkBytes];
  size_t total = 0;
  for (;;) {
    const uint32_t got = StmFRead(chunk, 1, sizeof chunk, filter);
    output->Write(chunk, got);
    total += got;
    if (got < sizeof chunk) return total;
  }
}

void FailWriting(const OutputFile& output) {
  Fail(output.WriteError().empty() ? "cannot write " + output.Name() : output.WriteError());
}

}  // namespace

int RunA85Encode(const Args& args) {
  static const CommandSpec kSpec{"a85encode", {}, 2, 2};
  const ParsedArgs parsed = ParseCommandLine(kSpec, args);
  if (parsed.help) return PrintCommandHelp("a85encode"), 0;
  CheckOutputsApart({parsed.positionals[0]}, {parsed.positionals[1]});
  ByteReader input(parsed.positionals[0]);
  OutputFile output(parsed.positionals[1]);
  std::unique_ptr<FileStm> sink(new FileStm);
  InitFileSink(sink.get(), &output);
  Stm* filter = reinterpret_cast<BNOpenProc>(BNStreams[kBNOpenAscii85Encode])(&sink->stm, nullptr);
  if (filter == nullptr) Fail("a85encode failed: the ASCII85 filter could not be opened");
  const bool pumped = PumpIntoFilter(&input, filter);
  reinterpret_cast<BNCloseIntProc>(BNStreams[kBNCloseAscii85Encode])(filter);
  input.CheckError();
  if (!pumped || !FinishFileSink(sink.get())) FailWriting(output);
  output.Commit();
  return 0;
}

int RunA85Decode(const Args& args) {
  static const CommandSpec kSpec{"a85decode", {}, 2, 2};
  const ParsedArgs parsed = ParseCommandLine(kSpec, args);
  if (parsed.help) return PrintCommandHelp("a85decode"), 0;
  CheckOutputsApart({parsed.positionals[0]}, {parsed.positionals[1]});
  ByteReader input(parsed.positionals[0]);
  OutputFile output(parsed.positionals[1]);
  std::unique_ptr<FileStm> source(new FileStm);
  InitFileSource(source.get(), &input);
  Stm* filter = reinterpret_cast<BNOpenProc>(BNStreams[kBNOpenAscii85Decode])(&source->stm, nullptr);
  if (filter == nullptr) Fail("a85decode failed: the ASCII85 filter could not be opened");
  size_t decoded = 0;
  try {
    decoded = PumpOutOfFilter(filter, &output);
  } catch (const ToolError&) {
    reinterpret_cast<BNCloseProc>(BNStreams[kBNCloseAscii85Decode])(filter);
    throw;
  }
  const bool badData = filter->error != 0;
  reinterpret_cast<BNCloseProc>(BNStreams[kBNCloseAscii85Decode])(filter);
  input.CheckError();
  if (badData) {
    Fail("a85decode failed: " + input.Name() + " is not valid ASCII85 text (bad data after " +
         std::to_string(decoded) + " decoded bytes)");
  }
  output.Commit();
  return 0;
}

}  // namespace jpegtool
