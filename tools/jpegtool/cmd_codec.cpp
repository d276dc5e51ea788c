// cmd_codec.cpp - the encode, decode and thumb commands: PNM in, JPEG out
// through the host write stream; JPEG in, PNM out through the host read
// stream or the thumbnail interface.
#include <cstdio>
#include <memory>

#include "cli.h"
#include "commands.h"
#include "file_io.h"
#include "host_codec.h"
#include "info_walker.h"
#include "pnm_io.h"
#include "stm.h"
#include "thumb_stream.h"
#include "tool_error.h"

namespace jpegtool {
namespace {

// JFIF densities are 16-bit; the host passes them as signed 16-bit numbers.
constexpr int kLargestDpi = 32767;

void ParseDpi(const std::string& text, EncodeSettings* settings) {
  const size_t comma = text.find(',');
  settings->xDpi = ParseIntInRange(text.substr(0, comma), 1, kLargestDpi, "--dpi");
  settings->yDpi = comma == std::string::npos
                       ? settings->xDpi
                       : ParseIntInRange(text.substr(comma + 1), 1, kLargestDpi, "--dpi");
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
  return settings;
}

// When the codec cannot read a file, the segment walker can often say why
// in terms a user knows: not a JPEG at all, or a progressive one.
std::string DecodeHint(const std::string& path) {
  const Bytes bytes = ReadWholeFile(path);
  const JpegSummary summary = WalkJpeg(bytes.data(), bytes.size());
  if (summary.segments.empty()) return " (" + summary.problem + ")";
  if (summary.frameMarker != 0 && summary.frameMarker != 0xC0 && summary.frameMarker != 0xC1) {
    return " (a " + FrameKind(summary.frameMarker) +
           " JPEG: only baseline and extended sequential Huffman files can be decoded)";
  }
  return "";
}

std::string FormatDpi(double dpi) {
  char text[32];
  if (dpi == static_cast<long>(dpi))
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(dpi));
  else
    std::snprintf(text, sizeof text, "%.2f", dpi);
  return text;
}

void WritePnmOutput(const std::string& path, const Image& image) {
  AtomicOutput output(path);
  const Bytes bytes = FormatPnm(image);
  output.Write(bytes.data(), bytes.size());
  output.Commit();
}

struct CloseThumb {
  void operator()(JPEGThumbContext* handle) const { CloseJPEG(handle); }
};

std::string CodecMessage(const char* fallback) {
  const char* message = JPEGLastErrorMessage();
  return gJPEGError != 0 && message != nullptr && message[0] != '\0' ? message : fallback;
}

Image DecodeThumbnail(const Bytes& data) {
  short width = 0, height = 0, colors = 0;
  gJPEGError = 0;
  std::unique_ptr<JPEGThumbContext, CloseThumb> handle(StartJPEGDecompress(
      reinterpret_cast<const char*>(data.data()), static_cast<long>(data.size()), &width, &height, &colors));
  if (!handle) Fail("thumb failed: " + CodecMessage("the decoder could not be opened"));
  Image image;
  image.width = width;
  image.height = height;
  image.colors = colors;
  if (width <= 0 || height <= 0 || colors < 1 || colors > 4 || image.LineBytes() > 32767) {
    Fail("thumb failed: the image is too large for the thumbnail interface");
  }
  image.pixels.resize(image.LineBytes() * height);
  for (int y = 0; y < height; ++y) {
    GetJPEGData(handle.get(), reinterpret_cast<char*>(image.Line(y)), 1,
                static_cast<short>(image.LineBytes()));
    if (gJPEGError != 0) Fail("thumb failed: " + CodecMessage("a line could not be decoded"));
  }
  return image;
}

}  // namespace

int RunEncode(const Args& args) {
  static const CommandSpec kSpec{
      "encode",
      {{"quality", true}, {"ascii85", false}, {"marker-mode", true}, {"dpi", true}, {"resources", true}},
      2,
      2};
  const ParsedArgs parsed = ParseCommandLine(kSpec, args);
  if (parsed.help) return PrintCommandHelp("encode"), 0;
  const EncodeSettings settings = ParseEncodeSettings(parsed);
  const Image image = ReadPnmFile(parsed.positionals[0]);
  CheckEncodable(image);
  AtomicOutput output(parsed.positionals[1]);
  output.CloseFile();  // the host file stream opens the temporary file itself
  EncodeImageToFile(image, settings, output.TemporaryPath());
  output.Commit();
  return 0;
}

int RunDecode(const Args& args) {
  static const CommandSpec kSpec{"decode", {{"ascii85", false}, {"resources", true}}, 2, 2};
  const ParsedArgs parsed = ParseCommandLine(kSpec, args);
  if (parsed.help) return PrintCommandHelp("decode"), 0;
  const std::string& input = parsed.positionals[0];
  CheckReadableFile(input);
  const bool ascii85 = parsed.Has("ascii85");
  DecodedImage decoded;
  try {
    decoded = DecodeJpegFile(input, ascii85, parsed.quiet);
  } catch (const ToolError& error) {
    Fail(error.what() + (ascii85 ? std::string() : DecodeHint(input)));
  }
  WritePnmOutput(parsed.positionals[1], decoded.image);
  if (parsed.Has("resources")) {
    WriteWholeFile(parsed.Value("resources"), decoded.resources.data(), decoded.resources.size());
  }
  std::printf("%dx%d colors=%d dpi=%s resources=%zu\n", decoded.image.width, decoded.image.height,
              decoded.image.colors, FormatDpi(decoded.dpi).c_str(), decoded.resources.size());
  return 0;
}

int RunThumb(const Args& args) {
  static const CommandSpec kSpec{"thumb", {}, 2, 2};
  const ParsedArgs parsed = ParseCommandLine(kSpec, args);
  if (parsed.help) return PrintCommandHelp("thumb"), 0;
  const std::string& input = parsed.positionals[0];
  const Bytes data = ReadWholeFile(input);
  Image image;
  try {
    image = DecodeThumbnail(data);
  } catch (const ToolError& error) {
    Fail(error.what() + DecodeHint(input));
  }
  WritePnmOutput(parsed.positionals[1], image);
  std::printf("%dx%d colors=%d\n", image.width, image.height, image.colors);
  return 0;
}

}  // namespace jpegtool
