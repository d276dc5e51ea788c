// decode_paths.cpp - the three host decode paths driven to the end of an
// image (decode_paths.h). Lines longer than the thumbnail interface's 16-bit
// line length are taken in part there.
#include "support/decode_paths.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "jpeg_filters.h"
#include "jpeg_stream.h"
#include "thumb_stream.h"

namespace testing_support {
namespace {

constexpr size_t kLargestThumbnailLine = 32767;

PathVerdict Failed() {
  PathVerdict v;
  v.message = gJPEGError ? JPEGLastErrorMessage() : "(no codec message)";
  return v;
}

void Keep(PathVerdict* v, bool keep, const void* line, size_t bytes) {
  const auto* p = static_cast<const uint8_t*>(line);
  if (keep) v->lines.insert(v->lines.end(), p, p + bytes);
}

// Every line, then -1 without a failure.
PathVerdict ThroughFilter(const Bytes& jpeg, bool keepLines) {
  MemSource source(jpeg);
  int16_t width = 0, height = 0, code = -1;
  Stm* s = JPEGDOpen(source.stm(), &width, &height, &code);
  if (s == nullptr) return Failed();
  PathVerdict v;
  const size_t bytes = static_cast<uint16_t>(width) * size_t{code == 0 ? 3u : code == 1 ? 4u : code == 2 ? 1u : 2u};
  int y = 0;
  for (; y < static_cast<uint16_t>(height) && s->filBuf(s) == 0; y++) Keep(&v, keepLines, s->base, bytes);
  v.ok = y == static_cast<uint16_t>(height) && s->filBuf(s) == -1 && !gJPEGError;
  JPEGDClose(s);
  return v.ok ? v : Failed();
}

PathVerdict ThroughReadStream(const Bytes& jpeg, bool keepLines) {
  TMemoryStream source(jpeg);
  TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(&source);
  PathVerdict v;
  int16_t raised = 0;
  try {
    JPEGReadInfo info{};
    stream->StartJPEG(&info, 0);
    std::vector<char> line(static_cast<size_t>(stream->fLineBytes));
    for (int y = 0; y < static_cast<uint16_t>(info.height); y++) {
      stream->GetJPEGRaster(line.data());
      Keep(&v, keepLines, line.data(), line.size());
    }
    stream->StopJPEG();
  } catch (const HostFailure& f) {
    raised = f.error;
  }
  stream->Free();
  if (raised != 0) {
    EXPECT_EQ(raised, kHostCodecError);  // running out of bytes is the codec's failure
    return Failed();
  }
  v.ok = !gJPEGError;
  return v;
}

PathVerdict ThroughThumbnail(const Bytes& jpeg, bool keepLines) {
  short w = 0, h = 0, c = 0;
  JPEGThumbHandle t = StartJPEGDecompress(reinterpret_cast<const char*>(jpeg.data()), static_cast<long>(jpeg.size()), &w, &h, &c);
  if (t == nullptr) return Failed();
  PathVerdict v;
  std::vector<char> line(std::min(static_cast<uint16_t>(w) * static_cast<size_t>(c), kLargestThumbnailLine));
  v.ok = true;
  for (int y = 0; v.ok && y < static_cast<uint16_t>(h); y++) {
    v.ok = GetJPEGData(t, line.data(), 1, static_cast<short>(line.size())) == 1;
    if (v.ok) Keep(&v, keepLines, line.data(), line.size());
  }
  CloseJPEG(t);
  EXPECT_EQ(v.ok, !gJPEGError);  // a failure always carries the decoder's message
  return v.ok ? v : Failed();
}

}  // namespace

const char* PathName(DecodePath path) {
  return path == DecodePath::kFilter ? "decode filter" : path == DecodePath::kReadStream ? "read stream" : "thumbnail";
}

PathVerdict DecodeThrough(DecodePath path, const Bytes& jpeg, bool keepLines) {
  gJPEGError = 0;
  switch (path) {
    case DecodePath::kFilter: return ThroughFilter(jpeg, keepLines);
    case DecodePath::kReadStream: return ThroughReadStream(jpeg, keepLines);
    default: return ThroughThumbnail(jpeg, keepLines);
  }
}

}  // namespace testing_support
