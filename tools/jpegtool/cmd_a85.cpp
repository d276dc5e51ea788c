// cmd_a85.cpp - the a85encode and a85decode commands: the ASCII85 filters
// alone, opened through the exported filter table over file streams.
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

struct CloseFile {
  void operator()(FILE* file) const { std::fclose(file); }
};
using FileOwner = std::unique_ptr<FILE, CloseFile>;

FileOwner OpenInput(const std::string& path) {
  CheckReadableFile(path);
  FileOwner file(std::fopen(path.c_str(), "rb"));
  if (!file) CheckReadableFile(path);  // gone since: fails with the system's reason
  return file;
}

// Copies the input file into the encode filter; false if the filter refused bytes.
bool PumpIntoFilter(FILE* input, Stm* filter, const std::string& inputPath) {
  uint8_t chunk[kChunkBytes];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, input)) > 0) {
    if (StmFWrite(chunk, 1, static_cast<uint32_t>(got), filter) != got) return false;
  }
  if (std::ferror(input)) Fail("cannot read " + inputPath);
  return true;
}

// Copies the decode filter's bytes to the output; returns the byte count.
size_t PumpOutOfFilter(Stm* filter, AtomicOutput* output) {
  uint8_t chunk[kChunkBytes];
  size_t total = 0;
  for (;;) {
    const uint32_t got = StmFRead(chunk, 1, sizeof chunk, filter);
    output->Write(chunk, got);
    total += got;
    if (got < sizeof chunk) return total;
  }
}

}  // namespace

int RunA85Encode(const Args& args) {
  static const CommandSpec kSpec{"a85encode", {}, 2, 2};
  const ParsedArgs parsed = ParseCommandLine(kSpec, args);
  if (parsed.help) return PrintCommandHelp("a85encode"), 0;
  FileOwner input = OpenInput(parsed.positionals[0]);
  AtomicOutput output(parsed.positionals[1]);
  std::unique_ptr<FileStm> sink(new FileStm);
  InitFileSink(sink.get(), output.File());
  Stm* filter = reinterpret_cast<BNOpenProc>(BNStreams[kBNOpenAscii85Encode])(&sink->stm, nullptr);
  if (filter == nullptr) Fail("a85encode failed: the ASCII85 filter could not be opened");
  const bool pumped = PumpIntoFilter(input.get(), filter, parsed.positionals[0]);
  reinterpret_cast<BNCloseIntProc>(BNStreams[kBNCloseAscii85Encode])(filter);
  if (!pumped || !FinishFileSink(sink.get())) Fail("cannot write " + parsed.positionals[1]);
  output.Commit();
  return 0;
}

int RunA85Decode(const Args& args) {
  static const CommandSpec kSpec{"a85decode", {}, 2, 2};
  const ParsedArgs parsed = ParseCommandLine(kSpec, args);
  if (parsed.help) return PrintCommandHelp("a85decode"), 0;
  FileOwner input = OpenInput(parsed.positionals[0]);
  AtomicOutput output(parsed.positionals[1]);
  std::unique_ptr<FileStm> source(new FileStm);
  InitFileSource(source.get(), input.get());
  Stm* filter = reinterpret_cast<BNOpenProc>(BNStreams[kBNOpenAscii85Decode])(&source->stm, nullptr);
  if (filter == nullptr) Fail("a85decode failed: the ASCII85 filter could not be opened");
  const size_t decoded = PumpOutOfFilter(filter, &output);
  const bool badData = filter->error != 0;
  reinterpret_cast<BNCloseProc>(BNStreams[kBNCloseAscii85Decode])(filter);
  if (source->stm.error) Fail("cannot read " + parsed.positionals[0]);
  if (badData) {
    Fail("a85decode failed: " + parsed.positionals[0] + " is not valid ASCII85 text (bad data after " +
         std::to_string(decoded) + " decoded bytes)");
  }
  output.Commit();
  return 0;
}

}  // namespace jpegtool
