// scaled_decode.cpp - decode --scale 1/2, 1/4, 1/8: the decode filter
// opened with a scale denominator (JPEGDOpenWithOptions, jpeg_options.h)
// over the tool's reader, the ASCII85 decode filter between them for
// --ascii85. The host read stream, which decode uses at full size, has no
// scaled open; this path gives the same lines, messages and --threads, and
// reads the resolution from the JFIF segment as the statistics line needs.
#include "scaled_decode.h"

#include <cstring>
#include <memory>
#include <vector>

#include "a85_filters.h"
#include "cli.h"
#include "file_stm.h"
#include "jpeg_filters.h"
#include "jpeg_options.h"
#include "progress.h"
#include "stm.h"
#include "tool_error.h"

namespace jpegtool {
namespace {

constexpr int kLargestPiece = 32767;      // a Stm count
constexpr double kCentimetresPerInch = 2.54;
constexpr int kJfifDotsPerCentimetre = 2;
constexpr uint16_t kJfifMarker = 0xE0;  // APP0
constexpr uint16_t kJfifBodyBytes = 14;   // identifier, version, units, densities, thumbnail size
constexpr int kJfifUnitsAt = 7;           // the units byte; the 16-bit X density follows

std::string CodecMessage() {
  const char* message = JPEGLastErrorMessage();
  return gJPEGError != 0 && message != nullptr && message[0] != '\0' ? message : "the data cannot be decoded";
}

// The decode filter and what it reads from, closed in reverse order.
struct FilterStack {
  FileStm file;
  Stm* ascii85 = nullptr;
  Stm* jpeg = nullptr;
  ~FilterStack() {
    if (jpeg != nullptr) JPEGDClose(jpeg);
    if (ascii85 != nullptr) A85DClose(ascii85);
  }
};

// One raster line of lineBytes bytes, in pieces when it is wider than a
// Stm count (jpeg_filters.h).
bool NextLine(Stm* jpeg, size_t lineBytes, int colors, uint8_t* line) {
  const size_t piece = lineBytes <= kLargestPiece ? lineBytes : JPEG_LINE_PIECE_BYTES(colors);
  size_t at = 0;
  do {
    if (jpeg->filBuf(jpeg) != 0) return false;
    const size_t n = piece < lineBytes - at ? piece : lineBytes - at;
    std::memcpy(line + at, jpeg->base, n);
    at += n;
  } while (at < lineBytes);
  return true;
}

// The resolution of a JFIF segment, in dots per inch, as the host's read
// stream takes it (dots per centimetre converted and rounded).
void NoteResolution(void* hookData, char* body, uint16_t marker, uint16_t length) {
  static const uint8_t kJfif[] = {'J', 'F', 'I', 'F', 0};
  const auto* p = reinterpret_cast<const uint8_t*>(body);
  if (marker != kJfifMarker || length < kJfifBodyBytes || std::memcmp(p, kJfif, sizeof kJfif) != 0) return;
  const int units = p[kJfifUnitsAt];
  const int x = (p[kJfifUnitsAt + 1] << 8) | p[kJfifUnitsAt + 2];
  auto* dpi = static_cast<double*>(hookData);
  if (units == 1) *dpi = x;
  if (units == kJfifDotsPerCentimetre) *dpi = static_cast<int>(x * kCentimetresPerInch + 0.5);
}

ImageShape OpenScaled(FilterStack* stack, ByteReader* input, bool ascii85, int scale, double* dpi) {
  InitFileSource(&stack->file, input);
  Stm* source = &stack->file.stm;
  if (ascii85) {
    stack->ascii85 = A85DOpen(source, nullptr);
    if (stack->ascii85 == nullptr) Fail("decode failed: cannot open the ASCII85 filter");
    source = stack->ascii85;
  }
  JPEGDecodeOptions options{};
  options.scaleDenominator = scale;
  options.hook = NoteResolution;
  options.hookData = dpi;
  int16_t width = kLargestPiece, height = 0, colorCode = -1;
  gJPEGError = 0;
  stack->jpeg = JPEGDOpenWithOptions(source, &options, &width, &height, &colorCode);
  input->CheckError();
  if (stack->jpeg == nullptr) Fail("decode failed: " + CodecMessage());
  const int colors = colorCode == 0 ? 3 : colorCode == 1 ? 4 : colorCode == 2 ? 1 : 2;
  return ImageShape{static_cast<uint16_t>(width), static_cast<uint16_t>(height), colors};
}

}  // namespace

int ParseScale(const std::string& text) {
  const std::string denominator = text.compare(0, 2, "1/") == 0 ? text.substr(2) : text;
  if (denominator == "1" || denominator == "2" || denominator == "4" || denominator == "8") {
    return ParseIntInRange(denominator, 1, 8, "--scale");
  }
  FailUsage("--scale takes 1/1, 1/2, 1/4 or 1/8 (or 1, 2, 4, 8), not '" + text + "'");
}

void DecodeScaledJpeg(ByteReader* input, bool ascii85, bool quiet, DecodeTarget* target, int threads,
                      int scale, DecodeResult* result) {
  FilterStack stack;
  result->dpi = 0;
  const ImageShape shape = OpenScaled(&stack, input, ascii85, scale, &result->dpi);
  if (threads > 1) JPEGSetCodingThreads(stack.jpeg, threads);
  target->Begin(shape);
  Progress progress("decoding", shape.height, static_cast<long long>(shape.width) * shape.height, quiet);
  std::vector<uint8_t> line(shape.LineBytes());
  for (int y = 0; y < shape.height; ++y) {
    gJPEGError = 0;
    const bool ok = NextLine(stack.jpeg, line.size(), shape.colors, line.data());
    input->CheckError();
    if (!ok || gJPEGError != 0) Fail("decode failed: " + CodecMessage());
    target->PutLine(line.data());
    progress.Update(y + 1);
  }
  // The data after the last line must end cleanly, as at full size: the
  // next fill reads to EOI and reports the end, or the damage.
  gJPEGError = 0;
  stack.jpeg->filBuf(stack.jpeg);
  input->CheckError();
  if (gJPEGError != 0) Fail("decode failed: " + CodecMessage());
}

}  // namespace jpegtool
