// cmd_thumb.cpp - the thumb command: a JPEG decoded through the thumbnail
// interface (thumb_stream.h), the way a host previews a file it holds in
// memory. The compressed bytes are in memory, as the interface takes them;
// the decoded image is not: lines are fetched a batch at a time and written
// out, so memory does not grow with the image (as with decode). --scale N
// reduces the image by N (1, 2, 4, 8) through StartJPEGDecompressScaled.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>

#include "cli.h"
#include "commands.h"
#include "decode_failure.h"
#include "file_io.h"
#include "pnm_io.h"
#include "scaled_decode.h"
#include "stm.h"
#include "thumb_stream.h"
#include "tool_error.h"

namespace jpegtool {
namespace {

constexpr size_t kBatchBytes = 256 * 1024;  // decoded lines fetched at once (at least one line)
constexpr size_t kLargestLineBytes = 32767;  // GetJPEGData's `short lineBytes`
constexpr size_t kMostLinesAtOnce = 32767;   // and its `short lines`

struct CloseThumb {
  void operator()(JPEGThumbContext* handle) const { CloseJPEG(handle); }
};
using ThumbHandle = std::unique_ptr<JPEGThumbContext, CloseThumb>;

std::string CodecMessage(const char* fallback) {
  const char* message = JPEGLastErrorMessage();
  return gJPEGError != 0 && message != nullptr && message[0] != '\0' ? message : fallback;
}

// The interface hands out the frame's 16-bit sizes as short: read back
// unsigned, a 65535-line image is 65535 lines.
int Dimension(short value) { return static_cast<uint16_t>(value); }

ThumbHandle OpenThumb(const Bytes& data, int scale, ImageShape* shape) {
  short width = 0, height = 0, colors = 0;
  gJPEGError = 0;
  ThumbHandle handle(StartJPEGDecompressScaled(reinterpret_cast<const char*>(data.data()),
                                               static_cast<long>(data.size()), scale, &width, &height,
                                               &colors));
  if (!handle) Fail("thumb failed: " + CodecMessage("the decoder could not be opened"));
  shape->width = Dimension(width);
  shape->height = Dimension(height);
  shape->colors = colors;
  if (shape->width == 0 || shape->height == 0 || colors < 1 || colors > 4 ||
      shape->LineBytes() > kLargestLineBytes) {
    Fail("thumb failed: the image is too large for the thumbnail interface");
  }
  return handle;
}

// Decodes every line of the image into output, a batch of lines at a time.
void StreamThumb(JPEGThumbContext* handle, const ImageShape& shape, OutputFile* output) {
  const size_t lineBytes = shape.LineBytes();
  const int batch = static_cast<int>(std::min(kMostLinesAtOnce, std::max<size_t>(1, kBatchBytes / lineBytes)));
  Bytes lines(static_cast<size_t>(batch) * lineBytes);
  PnmWriter writer(output, shape);
  for (int y = 0; y < shape.height; y += batch) {
    const int count = std::min(batch, shape.height - y);
    gJPEGError = 0;
    if (GetJPEGData(handle, reinterpret_cast<char*>(lines.data()), static_cast<short>(count),
                    static_cast<short>(lineBytes)) != 1 ||
        gJPEGError != 0) {
      Fail("thumb failed: " + CodecMessage("a line could not be decoded"));
    }
    for (int i = 0; i < count; ++i) writer.WriteLine(lines.data() + static_cast<size_t>(i) * lineBytes);
  }
}

}  // namespace

int RunThumb(const Args& args) {
  static const CommandSpec kSpec{"thumb", {{"scale", true}}, 2, 2};
  const ParsedArgs parsed = ParseCommandLine(kSpec, args);
  if (parsed.help) return PrintCommandHelp("thumb"), 0;
  const int scale = parsed.Has("scale") ? ParseScale(parsed.Value("scale")) : 1;
  CheckOutputsApart({parsed.positionals[0]}, {parsed.positionals[1]});
  const Bytes data = ReadWholeFile(parsed.positionals[0]);
  OutputFile output(parsed.positionals[1]);
  ImageShape shape;
  try {
    const ThumbHandle handle = OpenThumb(data, scale, &shape);
    StreamThumb(handle.get(), shape, &output);
  } catch (const ToolError& error) {
    RethrowDecodeFailure(error, "thumb", data);
  }
  output.Commit();
  if (!parsed.quiet) {
    std::fprintf(output.IsStandardOutput() ? stderr : stdout, "%dx%d colors=%d\n", shape.width, shape.height,
                 shape.colors);
  }
  return 0;
}

}  // namespace jpegtool
