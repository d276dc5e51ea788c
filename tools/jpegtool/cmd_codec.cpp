// cmd_codec.cpp - the encode and decode commands: PNM in, JPEG out through
// the host write stream; JPEG in, PNM out through the host read stream, line
// by line (thumb, through the thumbnail interface, is in cmd_thumb.cpp).
#include <cstdio>
#include <memory>

#include "bn_streams.h"
#include "cli.h"
#include "commands.h"
#include "decode_failure.h"
#include "file_io.h"
#include "file_stm.h"
#include "host_codec.h"
#include "info_walker.h"
#include "pnm_io.h"
#include "stm.h"
#include "tool_error.h"

namespace jpegtool {
namespace {

// JFIF densities are 16-bit; the host passes them as signed 16-bit numbers.
constexpr int kLargestDpi = 32767;
constexpr int kJfifDotsPerInch = 1;

void ParseDpi(const std::string& text, EncodeSettings* settings) {
  const size_t comma = text.find(',');
  settings->xDpi = ParseIntInRange(text.substr(0, comma), 1, kLargestDpi, "--dpi");
  settings->yDpi = comma == std::string::npos
                       ? settings->xDpi
                       : ParseIntInRange(text.substr(comma + 1), 1, kLargestDpi, "--dpi");
}

// --threads N: worker threads for the codec, 0 (none) to 64.
int ParseThreads(const ParsedArgs& parsed) {
  return parsed.Has("threads") ? ParseIntInRange(parsed.Value("threads"), 0, 64, "--threads") : 0;
}

EncodeSettings ParseEncodeSettings(const ParsedArgs& parsed) {
  EncodeSettings settings;
  if (parsed.Has("quality")) settings.quality = ParseIntInRange(parsed.Value("quality"), 0, 6, "--quality");
  if (parsed.Has("marker-mode")) {
    settings.markerMode = ParseIntInRange(parsed.Value("marker-mode"), 0, 2, "--marker-mode");
  }
  if (parsed.Has("dpi")) ParseDpi(parsed.Value("dpi"), &settings);
  if (parsed.Has("resources")) settings.resources = ReadWholeFile(parsed.Value("resources"));
  settings.ascii85 = parsed.Has("ascii85");
  settings.quiet = parsed.quiet;
  settings.threads = ParseThreads(parsed);
  return settings;
}

// The bytes an ASCII85 text starts with (as many as its head holds).
Bytes UnwrapAscii85(const Bytes& text) {
  Bytes bytes;
  ByteReader input(text.data(), text.size(), "");
  std::unique_ptr<FileStm> source(new FileStm);
  InitFileSource(source.get(), &input);
  Stm* filter = reinterpret_cast<BNOpenProc>(BNStreams[kBNOpenAscii85Decode])(&source->stm, nullptr);
  if (filter == nullptr) return bytes;
  uint8_t chunk[4096];
  for (uint32_t got; (got = StmFRead(chunk, 1, sizeof chunk, filter)) > 0;) {
    bytes.insert(bytes.end(), chunk, chunk + got);
  }
  reinterpret_cast<BNCloseProc>(BNStreams[kBNCloseAscii85Decode])(filter);
  return bytes;
}

std::string FormatDpi(double dpi) {
  char text[32];
  if (dpi == static_cast<long>(dpi))
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(dpi));
  else
    std::snprintf(text, sizeof text, "%.2f", dpi);
  return text;
}

// "X", or "X,Y" when the JFIF segment states two different densities in
// dots per inch (the host's resolution keeps only one).
std::string DpiText(const Bytes& head, double dpi) {
  const JfifDensity density = FindJfifDensity(head.data(), head.size());
  if (density.found && density.units == kJfifDotsPerInch && density.x != density.y) {
    return std::to_string(density.x) + "," + std::to_string(density.y);
  }
  return FormatDpi(dpi);
}

// Statistics go to stdout, or to stderr when an image is written there.
FILE* StatsStream(bool imageOnStdout) { return imageOnStdout ? stderr : stdout; }

class PnmTarget : public DecodeTarget {
 public:
  explicit PnmTarget(OutputFile* output) : output_(output) {}
  void Begin(const ImageShape& shape) override {
    shape_ = shape;
    writer_.reset(new PnmWriter(output_, shape));
  }
  void PutLine(const uint8_t* line) override { writer_->WriteLine(line); }
  const ImageShape& Shape() const { return shape_; }

 private:
  OutputFile* output_;
  ImageShape shape_;
  std::unique_ptr<PnmWriter> writer_;
};

}  // namespace

int RunEncode(const Args& args) {
  static const CommandSpec kSpec{
      "encode",
      {{"quality", true},
       {"ascii85", false},
       {"marker-mode", true},
       {"dpi", true},
       {"resources", true},
       {"threads", true}},
      2,
      2};
  const ParsedArgs parsed = ParseCommandLine(kSpec, args);
  if (parsed.help) return PrintCommandHelp("encode"), 0;
  CheckOutputsApart({parsed.positionals[0], parsed.Has("resources") ? parsed.Value("resources") : "-"},
                    {parsed.positionals[1]});
  const EncodeSettings settings = ParseEncodeSettings(parsed);
  ByteReader input(parsed.positionals[0]);
  PnmReader reader(&input);
  CheckEncodable(reader.Shape());
  OutputFile output(parsed.positionals[1]);
  EncodeLines(&reader, settings, &output);
  output.Commit();
  return 0;
}

int RunDecode(const Args& args) {
  static const CommandSpec kSpec{"decode", {{"ascii85", false}, {"resources", true}, {"threads", true}}, 2, 2};
  const ParsedArgs parsed = ParseCommandLine(kSpec, args);
  if (parsed.help) return PrintCommandHelp("decode"), 0;
  const bool ascii85 = parsed.Has("ascii85");
  CheckOutputsApart({parsed.positionals[0]},
                    {parsed.positionals[1], parsed.Has("resources") ? parsed.Value("resources") : "-"});
  ByteReader input(parsed.positionals[0]);
  OutputFile image(parsed.positionals[1]);
  std::unique_ptr<OutputFile> resources;
  if (parsed.Has("resources")) resources.reset(new OutputFile(parsed.Value("resources")));
  PnmTarget target(&image);
  DecodeResult result;
  try {
    result = DecodeJpeg(&input, ascii85, parsed.quiet, &target, ParseThreads(parsed));
  } catch (const ToolError& error) {
    RethrowDecodeFailure(error, "decode", ascii85 ? UnwrapAscii85(input.Head()) : input.Head());
  }
  std::vector<OutputFile*> outputs{&image};
  if (resources) {
    resources->Write(result.resources.data(), result.resources.size());
    outputs.push_back(resources.get());
  }
  CommitAll(outputs);
  if (!parsed.quiet) {
    const Bytes head = ascii85 ? UnwrapAscii85(input.Head()) : input.Head();
    const bool onStdout = image.IsStandardOutput() || (resources && resources->IsStandardOutput());
    std::fprintf(StatsStream(onStdout), "%dx%d colors=%d dpi=%s resources=%zu\n", target.Shape().width,
                 target.Shape().height, target.Shape().colors, DpiText(head, result.dpi).c_str(),
                 result.resources.size());
  }
  return 0;
}

}  // namespace jpegtool
