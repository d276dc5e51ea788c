// decode_paths.cpp - the three host decode paths driven to the end of an
// image (decode_paths.h). The thumbnail interface, with its 16-bit line
// length, refuses lines longer than 32767 bytes.
#include "support/decode_paths.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "bn_streams.h"
#include "decode/jpeg_filter_query.h"
#include "jpeg_filters.h"
#include "jpeg_stream.h"
#include "stream/error_path.h"
#include "thumb_stream.h"

namespace testing_support {
namespace {

constexpr size_t kLargestThumbnailLine = 32767;

// A failed run's verdict: this thread's message, when the codec gave one.
PathVerdict Failed(PathVerdict v = {}) {
  v.ok = false;
  v.lines.clear();  // no lines after a failure, on every path
  v.message = DCTThreadFailed() ? JPEGLastErrorMessage() : "(no codec message)";
  return v;
}

void Keep(PathVerdict* v, bool keep, const void* line, size_t bytes) {
  const auto* p = static_cast<const uint8_t*>(line);
  if (keep) v->lines.insert(v->lines.end(), p, p + bytes);
}

PathVerdict ThroughFilter(const Bytes& jpeg, const FilterRunOptions& o) {
  const FilterRun run = RunDecodeFilter(jpeg, o);
  PathVerdict v;
  v.ok = run.ended && !run.failed;
  v.message = v.ok ? "" : run.failed || !run.opened ? run.message : "(no codec message)";
  if (v.ok) v.lines = Pixels(run);
  return v;
}

PathVerdict ThroughReadStream(const Bytes& jpeg, const FilterRunOptions& o) {
  TMemoryStream source(jpeg);
  TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(&source);
  PathVerdict v;
  int16_t raised = 0;
  try {
    JPEGReadInfo info{};
    stream->StartJPEG(&info, o.ascii85);
    std::vector<char> line(static_cast<size_t>(stream->fLineBytes));
    for (int y = 0; y < static_cast<uint16_t>(info.height); y++) {
      stream->GetJPEGRaster(line.data());
      Keep(&v, o.keepLines, line.data(), line.size());
    }
    stream->StopJPEG();
  } catch (const HostFailure& f) {
    raised = f.error;
  }
  v.resolution = stream->fResolution;
  v.resources = stream->fResources ? Bytes(*stream->fResources, *stream->fResources + GetHandleSize(stream->fResources)) : Bytes{};
  stream->Free();
  EXPECT_TRUE(raised == 0 || raised == kHostCodecError) << raised;  // running out of bytes is the codec's failure
  if (raised != 0 || DCTThreadFailed()) return Failed(std::move(v));
  v.ok = true;
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
  EXPECT_EQ(v.ok, !DCTThreadFailed());  // a failure always carries the decoder's message
  return v.ok ? v : Failed();
}

}  // namespace

int ColorsOfCode(int code) { return code == 0 ? 3 : code == 1 ? 4 : code == 2 ? 1 : 2; }

FilterRun RunDecodeFilter(const Bytes& jpeg, const FilterRunOptions& o) {
  const size_t piece = o.piece;
  MemSource source(jpeg, o.pieceFn ? o.pieceFn : [piece](size_t) { return piece; });
  Stm* a85 = o.ascii85 ? A85DOpen(source.stm(), nullptr) : nullptr;
  FilterRun run = fuzz::DecodeFrom(a85 ? a85 : source.stm(), o.widthHint, INT64_MAX, o.threads, o.keepLines, o.scale);
  if (a85 != nullptr) A85DClose(a85);
  return run;
}

Bytes Pixels(const FilterRun& run) {
  Bytes all;
  for (const Bytes& line : run.lines) all.insert(all.end(), line.begin(), line.end());
  return all;
}

const char* PathName(DecodePath path) {
  return path == DecodePath::kFilter ? "decode filter" : path == DecodePath::kReadStream ? "read stream" : "thumbnail";
}

PathVerdict DecodeThrough(DecodePath path, const Bytes& jpeg, const FilterRunOptions& o) {
  DCTClearFailure();
  switch (path) {
    case DecodePath::kFilter: return ThroughFilter(jpeg, o);
    case DecodePath::kReadStream: return ThroughReadStream(jpeg, o);
    default: return ThroughThumbnail(jpeg, o.keepLines);
  }
}

}  // namespace testing_support
