// fuzz_tool.cpp - libFuzzer target for jpegtool's own parsers. The first
// byte picks one: even, the PNM/PAM reader (the header parsed, every line
// read in full until the image ends or the reader refuses the input with its
// one-line error, so a sample written outside the line shows under ASan);
// odd, the segment walker behind `jpegtool info` (every segment formatted,
// the JFIF density lookup over the same bytes).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "info_walker.h"
#include "pnm_io.h"
#include "tool_error.h"

namespace {

void ReadPnm(const uint8_t* data, size_t size) {
  try {
    jpegtool::ByteReader input(data, size, "fuzz");
    jpegtool::PnmReader reader(&input);
    const jpegtool::ImageShape& shape = reader.Shape();
    if (shape.LineBytes() > size_t{1} << 20) return;  // refused by the codec anyway; keeps runs fast
    std::vector<uint8_t> line(shape.LineBytes());
    volatile uint8_t sum = 0;
    for (int y = 0; y < shape.height; ++y) {
      reader.ReadLine(line.data());
      for (uint8_t sample : line) sum = static_cast<uint8_t>(sum + sample);
    }
  } catch (const jpegtool::ToolError&) {
  }
}

void WalkSegments(const uint8_t* data, size_t size) {
  const jpegtool::JpegSummary summary = jpegtool::WalkJpeg(data, size);
  size_t total = summary.problem.size();
  for (const jpegtool::SegmentInfo& segment : summary.segments) {
    total += jpegtool::FormatSegment(segment).size();
    total += jpegtool::WithArticle(jpegtool::FrameKind(segment.marker)).size();
  }
  const jpegtool::JfifDensity density = jpegtool::FindJfifDensity(data, size);
  volatile size_t sink = total + static_cast<size_t>(density.x + density.y);
  (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  if (data[0] % 2 == 0) ReadPnm(data + 1, size - 1);
  else WalkSegments(data + 1, size - 1);
  return 0;
}
