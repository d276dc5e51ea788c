// recompress_source.cpp - RecompressSource: the decode filter over the
// tool's reader, opened with JPEGDOpenWithSegments so that the segments the
// decoder does not use come to KeepSegment; lines of more than 32767 bytes
// are gathered from the filter's pieces.
#include "recompress_source.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "jpeg_filters.h"
#include "jpeg_marker_codes.h"
#include "jpeg_segments.h"
#include "jpeg_marker_codes.h"
#include "tool_error.h"

namespace jpegtool {
namespace {

constexpr int16_t kWidthHint = 32767;  // the largest line piece goes whole
constexpr int16_t kNoColorCode = -1;   // left alone for two components

int BigEndian16(const char* p) {
  return (static_cast<uint8_t>(p[0]) << 8) | static_cast<uint8_t>(p[1]);
}

bool IsJfif(const char* body, uint16_t marker, uint16_t length) {
  return marker == JPEG_MARKER_APP0 && length >= JPEG_JFIF_BODY_BYTES &&
         std::memcmp(body, JPEG_JFIF_IDENTIFIER, JPEG_JFIF_IDENTIFIER_BYTES) == 0;
}

// The colour-transform layout (a five-character printable identifier, the
// version, two flag words, the transform byte), under any identifier.
bool IsColourSegment(const char* body, uint16_t marker, uint16_t length) {
  if (marker != JPEG_MARKER_APP14 || length < JPEG_COLOUR_SEGMENT_BODY_BYTES) return false;
  return std::all_of(body, body + JPEG_COLOUR_SEGMENT_IDENTIFIER_BYTES, [](char c) { return c >= 0x20 && c <= 0x7E; });
}

void TakeDensity(const char* body, KeptSegments* kept) {
  const int units = static_cast<uint8_t>(body[JPEG_JFIF_UNITS_AT]);
  const int x = BigEndian16(body + JPEG_JFIF_DENSITY_AT), y = BigEndian16(body + JPEG_JFIF_DENSITY_AT + 2);
  if (units == 1) kept->dpiX = x, kept->dpiY = y;
  if (units == 2) kept->dpiX = (x * 254 + 50) / 100, kept->dpiY = (y * 254 + 50) / 100;
}

// The segment hook: runs inside the decoder, so nothing may leave it.
void KeepSegment(void* data, char* body, uint16_t marker, uint16_t length) {
  auto* kept = static_cast<KeptSegments*>(data);
  if (IsJfif(body, marker, length)) return TakeDensity(body, kept);
  if (IsColourSegment(body, marker, length)) {
    kept->peerColourSegment = true;
    return;
  }
  const int segmentLength = length + 2;
  const uint8_t head[4] = {static_cast<uint8_t>(JPEG_MARKER_PREFIX), static_cast<uint8_t>(marker),
                           static_cast<uint8_t>(segmentLength >> 8), static_cast<uint8_t>(segmentLength & 0xFF)};
  try {
    kept->segments.insert(kept->segments.end(), head, head + 4);
    kept->segments.insert(kept->segments.end(), body, body + length);
  } catch (const std::bad_alloc&) {
    kept->failed = true;
  }
}

[[noreturn]] void FailDecode(ByteReader* input) {
  input->CheckError();
  const char* message = JPEGLastErrorMessage();
  Fail(std::string("recompress failed: ") + (message[0] != '\0' ? message : "the data ends too early"));
}

int ColorsOf(int16_t colorCode) {
  switch (colorCode) {
    case 0:
      return 3;
    case 1:
      return 4;
    case 2:
      return 1;
    default:
      Fail("recompress failed: two-component images cannot be re-encoded");
  }
}

}  // namespace

RecompressSource::RecompressSource(ByteReader* input) : input_(input), source_(new FileStm) {
  InitFileSource(source_.get(), input);
  int16_t width = kWidthHint, height = 0, colorCode = kNoColorCode;
  gJPEGError = 0;
  jpeg_ = JPEGDOpenWithSegments(&source_->stm, &width, &height, &colorCode, KeepSegment, &kept_);
  if (jpeg_ == nullptr) FailDecode(input);
  if (kept_.failed) throw std::bad_alloc();
  shape_.width = static_cast<uint16_t>(width);
  shape_.height = static_cast<uint16_t>(height);
  shape_.colors = ColorsOf(colorCode);
}

RecompressSource::~RecompressSource() { JPEGDClose(jpeg_); }

void RecompressSource::ReadLine(uint8_t* line) {
  const size_t lineBytes = shape_.LineBytes();
  for (size_t got = 0; got < lineBytes;) {
    if (JPEGDFilBuf(jpeg_) != 0 || jpeg_->count <= 0) FailDecode(input_);
    const size_t n = std::min(static_cast<size_t>(jpeg_->count), lineBytes - got);
    std::memcpy(line + got, jpeg_->base, n);
    got += n;
  }
}

void RecompressSource::Finish() {
  gJPEGError = 0;
  if (JPEGDFilBuf(jpeg_) == 0 || gJPEGError != 0) FailDecode(input_);
  if (kept_.failed) throw std::bad_alloc();
}

}  // namespace jpegtool
