// cmd_codec.cpp - the encode, decode and recompress commands: PNM in, JPEG
// out through the encode filter; JPEG in, PNM out through the host read
// stream, line by line; JPEG in, JPEG out with the input's own segments kept
// (recompress_source.h). thumb, through the thumbnail interface, is in
// cmd_thumb.cpp.
#include <algorithm>
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
#include "jpeg_marker_codes.h"
#include "jpeg_oneshot.h"
#include "jpeg_stream.h"
#include "pnm_io.h"
#include "recompress_source.h"
#include "scaled_decode.h"
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

// --sample HxV: the luminance sampling factors against chroma, 1 or 2 each.
void ParseSample(const std::string& text, EncodeSettings* settings) {
  const bool valid = text.size() == 3 && (text[0] == '1' || text[0] == '2') && (text[1] == 'x' || text[1] == 'X') &&
                     (text[2] == '1' || text[2] == '2');
  if (!valid) FailUsage("--sample takes 1x1, 2x1, 1x2 or 2x2, not '" + text + "'");
  settings->lumaH = text[0] - '0';
  settings->lumaV = text[2] - '0';
}

// --threads N: worker threads for the codec, 0 (none) to 64.
int ParseThreads(const ParsedArgs& parsed) {
  return parsed.Has("threads") ? ParseIntInRange(parsed.Value("threads"), 0, 64, "--threads") : 0;
}

// Whether a file of `colors` components written in this marker mode has the
// JFIF segment, the only place its resolution is kept: not in mode 1, nor
// for RGB without the transform (mode 2) or portable CMYK.
bool KeepsResolution(int markerMode, int colors) {
  if (markerMode == 1) return false;
  if (markerMode == 2) return colors != 3;
  if (markerMode == kJPEGPortableMarkerMode) return colors != 4;
  return true;
}

// --dpi that the file would not keep is refused, never dropped in silence.
void CheckDpiKept(const ParsedArgs& parsed, const EncodeSettings& settings, int colors) {
  if (!parsed.Has("dpi") || KeepsResolution(settings.markerMode, colors)) return;
  FailUsage(settings.markerMode == 1
                ? "--dpi cannot be kept with --marker-mode 1, which writes no JFIF segment to carry it"
                : "--dpi cannot be kept: this image's layout has no JFIF segment to carry it");
}

bool IsCodecFailure(const ToolError& error, const char* verb) {
  return std::string(error.what()).rfind(std::string(verb) + " failed: ", 0) == 0;
}

// The options encode takes (recompress takes them too), with `more` after.
std::vector<OptionSpec> EncodeOptions(std::vector<OptionSpec> more = {}) {
  std::vector<OptionSpec> options{{"quality", true}, {"level", true}, {"ascii85", false}, {"marker-mode", true},
                                  {"portable", false}, {"dpi", true}, {"resources", true},
                                  {"threads", true},
                                  {"sample", true}, {"grayscale", false},
                                  {"optimize", false}, {"progressive", false}};
  options.insert(options.end(), more.begin(), more.end());
  return options;
}

EncodeSettings ParseEncodeSettings(const ParsedArgs& parsed) {
  EncodeSettings settings;
  if (parsed.Has("quality") && parsed.Has("level")) FailUsage("--quality and --level exclude each other");
  if (parsed.Has("quality")) settings.scale = ParseIntInRange(parsed.Value("quality"), 1, 100, "--quality");
  if (parsed.Has("level")) settings.quality = ParseIntInRange(parsed.Value("level"), 0, 6, "--level");
  if (parsed.Has("sample")) ParseSample(parsed.Value("sample"), &settings);
  settings.grayscale = parsed.Has("grayscale");
  if (parsed.Has("marker-mode")) {
    settings.markerMode = ParseIntInRange(parsed.Value("marker-mode"), 0, 2, "--marker-mode");
  }
  if (parsed.Has("portable")) {
    if (parsed.Has("marker-mode")) FailUsage("--portable and --marker-mode exclude each other");
    settings.markerMode = kJPEGPortableMarkerMode;
  }
  if (parsed.Has("dpi")) ParseDpi(parsed.Value("dpi"), &settings);
  CheckDpiKept(parsed, settings, 0);
  if (parsed.Has("resources")) settings.resources = ReadWholeFile(parsed.Value("resources"));
  settings.ascii85 = parsed.Has("ascii85");
  settings.quiet = parsed.quiet;
  settings.threads = ParseThreads(parsed);
  settings.optimize = parsed.Has("optimize");
  settings.progressive = parsed.Has("progressive");
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
  void PutLine(const uint8_t* line) override {
    writer_->WriteLine(line);
    ++lines_;
  }
  const ImageShape& Shape() const { return shape_; }
  bool Begun() const { return writer_ != nullptr; }
  int Lines() const { return lines_; }
  // The lines not decoded, as a decoder that met the damage at this point
  // and went on with nothing (no coefficients) gives them: mid-grey.
  void FillRest() {
    const std::vector<uint8_t> grey(shape_.LineBytes(), kMidGrey);
    while (lines_ < shape_.height) PutLine(grey.data());
  }

 private:
  static constexpr uint8_t kMidGrey = 128;
  OutputFile* output_;
  ImageShape shape_;
  int lines_ = 0;
  std::unique_ptr<PnmWriter> writer_;
};

}  // namespace

int RunEncode(const Args& args) {
  static const CommandSpec kSpec{"encode", EncodeOptions(), 2, 2};
  const ParsedArgs parsed = ParseCommandLine(kSpec, args);
  if (parsed.help) return PrintCommandHelp("encode"), 0;
  CheckOutputsApart({parsed.positionals[0], parsed.Has("resources") ? parsed.Value("resources") : "-"},
                    {parsed.positionals[1]});
  const EncodeSettings settings = ParseEncodeSettings(parsed);
  ByteReader input(parsed.positionals[0]);
  PnmReader reader(&input);
  CheckEncodable(reader.Shape());
  CheckDpiKept(parsed, settings, settings.grayscale ? 1 : reader.Shape().colors);
  OutputFile output(parsed.positionals[1]);
  EncodeLines(&reader, settings, &output);
  output.Commit();
  return 0;
}

// --partial after a failure: the lines decoded and grey for the rest go
// out, the damage to stderr (exit status 2 follows).
void GivePartial(const ToolError& error, PnmTarget* target, const std::vector<OutputFile*>& outputs) {
  const int good = target->Lines();
  target->FillRest();
  CommitAll(outputs);
  const std::string what = error.what();
  const std::string reason = what.substr(what.find(": ") + 2);  // after "decode failed"
  std::fprintf(stderr, "jpegtool: decode: damaged input (%s): %d of %d lines decoded, the rest filled with grey\n",
               reason.c_str(), good, target->Shape().height);
}

// A file damaged before its first line was out: the shape from its frame
// header (reduced by scale, sides rounded up), when the header reader
// finds one and a scan after it (damage in the scan data, not a header
// the decoder refused).
bool BeginFromFrame(const Bytes& head, bool ascii85, int scale, PnmTarget* target) {
  const Bytes bytes = ascii85 ? UnwrapAscii85(head) : head;
  JPEGMemHeader header;
  if (JPEGMemReadHeader(bytes.data(), bytes.size(), &header, nullptr, 0, nullptr) != JPEG_MEM_OK ||
      header.width <= 0 || header.height <= 0 || header.components < 1 || header.components > 4) {
    return false;
  }
  target->Begin(ImageShape{(header.width + scale - 1) / scale, (header.height + scale - 1) / scale,
                           header.components});
  return true;
}

int RunDecode(const Args& args) {
  static const CommandSpec kSpec{
      "decode",
      {{"ascii85", false}, {"resources", true}, {"threads", true}, {"partial", false},
       {"scale", true}},
      2, 2};
  const ParsedArgs parsed = ParseCommandLine(kSpec, args);
  if (parsed.help) return PrintCommandHelp("decode"), 0;
  const bool ascii85 = parsed.Has("ascii85");
  const int scale = parsed.Has("scale") ? ParseScale(parsed.Value("scale")) : 1;
  if (scale > 1 && parsed.Has("resources")) FailUsage("--resources cannot be kept with --scale");
  CheckOutputsApart({parsed.positionals[0]},
                    {parsed.positionals[1], parsed.Has("resources") ? parsed.Value("resources") : "-"});
  ByteReader input(parsed.positionals[0]);
  OutputFile image(parsed.positionals[1]);
  std::unique_ptr<OutputFile> resources;
  if (parsed.Has("resources")) resources.reset(new OutputFile(parsed.Value("resources")));
  std::vector<OutputFile*> outputs{&image};
  if (resources) outputs.push_back(resources.get());
  PnmTarget target(&image);
  DecodeResult result;
  try {
    if (scale > 1) {
      DecodeScaledJpeg(&input, ascii85, parsed.quiet, &target, ParseThreads(parsed), scale, &result);
    } else {
      DecodeJpeg(&input, ascii85, parsed.quiet, &target, ParseThreads(parsed), &result);
    }
  } catch (const ToolError& error) {
    const Bytes head = ascii85 ? UnwrapAscii85(input.Head()) : input.Head();
    if (parsed.Has("partial") && IsCodecFailure(error, "decode") &&
        (target.Begun() || BeginFromFrame(input.Head(), ascii85, scale, &target))) {
      if (resources) resources->Write(result.resources.data(), result.resources.size());
      GivePartial(error, &target, outputs);
      return kExitDamaged;
    }
    RethrowDecodeFailure(error, "decode", head);
  }
  if (resources) resources->Write(result.resources.data(), result.resources.size());
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

int RunRecompress(const Args& args) {
  static const CommandSpec kSpec{"recompress", EncodeOptions({{"strip", false}}), 2, 2};
  const ParsedArgs parsed = ParseCommandLine(kSpec, args);
  if (parsed.help) return PrintCommandHelp("recompress"), 0;
  EncodeSettings settings = ParseEncodeSettings(parsed);
  CheckOutputsApart({parsed.positionals[0]}, {parsed.positionals[1]});
  ByteReader input(parsed.positionals[0]);
  std::unique_ptr<RecompressSource> source;
  try {
    source.reset(new RecompressSource(&input));
  } catch (const ToolError& error) {
    RethrowDecodeFailure(error, "recompress", input.Head());
  }
  const KeptSegments& kept = source->Kept();
  const int colors = settings.grayscale && source->Shape().colors == 3 ? 1 : source->Shape().colors;
  // CMYK that another program wrote stays in the layout other programs read.
  if (kept.peerColourSegment && colors == 4 && !parsed.Has("marker-mode")) {
    settings.markerMode = kJPEGPortableMarkerMode;
  }
  CheckDpiKept(parsed, settings, colors);
  if (!parsed.Has("dpi") && kept.dpiX > 0 && kept.dpiY > 0 && KeepsResolution(settings.markerMode, colors)) {
    settings.xDpi = std::min(kept.dpiX, 65535);
    settings.yDpi = std::min(kept.dpiY, 65535);
  }
  if (!parsed.Has("strip")) settings.segments = kept.segments;
  OutputFile output(parsed.positionals[1]);
  EncodeLines(source.get(), settings, &output);
  source->Finish();
  output.Commit();
  return 0;
}

}  // namespace jpegtool
