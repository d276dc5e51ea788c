// fuzz_info.cpp - libFuzzer target for the segment walker behind
// `jpegtool info`: any bytes are walked, every segment is formatted, and the
// JFIF density lookup runs over the same bytes.
#include <cstddef>
#include <cstdint>

#include "info_walker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const jpegtool::JpegSummary summary = jpegtool::WalkJpeg(data, size);
  size_t total = summary.problem.size();
  for (const jpegtool::SegmentInfo& segment : summary.segments) total += jpegtool::FormatSegment(segment).size();
  if (summary.frameMarker != 0) total += jpegtool::WithArticle(jpegtool::FrameKind(summary.frameMarker)).size();
  const jpegtool::JfifDensity density = jpegtool::FindJfifDensity(data, size);
  volatile size_t sink = total + static_cast<size_t>(density.x + density.y);
  (void)sink;
  return 0;
}
