// fuzz_progressive.cpp - libFuzzer target for the decode filter's
// progressive path: the coefficient store, spectral bands, successive
// approximation, end-of-band runs and restarts across scans.
//
// Input: one pattern byte (how the source cuts the data into refill
// pieces, fuzz_support.h), then a JPEG file. The harness walks the
// marker segments the way the decoder's marker reader does up to the first
// frame header and forces it to a progressive one (SOF2), so every input
// that gets that far exercises the progressive path whatever the mutations
// did to the marker code. Frames larger than kMaxFrameSamples are skipped:
// a progressive image is decoded whole before its first line, so the frame
// size, not the input size, sets the time of one run.
#include <vector>

#include "fuzz_support.h"

namespace {

constexpr size_t kMaxInput = 32 * 1024;
constexpr int64_t kMaxFrameSamples = 1 << 20;  // (Columns + MCU) x (Rows + MCU) x components
constexpr int64_t kLargestMCU = 32;            // samples: 8 x the largest sampling factor 4
constexpr uint8_t kMarkerPrefix = 0xFF;
constexpr uint8_t kSOI = 0xD8, kEOI = 0xD9, kSOS = 0xDA;
constexpr uint8_t kSOF0 = 0xC0, kSOF1 = 0xC1, kSOF2 = 0xC2;

// The offset of the first frame header's marker code, or -1 when the
// segments before it do not lead there (the decoder fails on those early).
long FindFrameHeader(const std::vector<uint8_t>& j) {
  size_t i = 0;
  for (;;) {
    while (i < j.size() && j[i] != kMarkerPrefix) i++;  // junk before a marker is skipped
    while (i < j.size() && j[i] == kMarkerPrefix) i++;  // fill bytes
    if (i + 2 >= j.size()) return -1;
    const uint8_t code = j[i];
    if (code == kSOF0 || code == kSOF1 || code == kSOF2) return static_cast<long>(i);
    if (code == kSOS || code == kEOI) return -1;
    if (code == kSOI) {
      i++;
      continue;
    }
    const size_t length = (static_cast<size_t>(j[i + 1]) << 8) | j[i + 2];
    if (length < 2) return -1;
    i += 1 + length;
  }
}

// Whether the frame header whose code is at `at` asks for a small image.
bool FrameSmallEnough(const std::vector<uint8_t>& j, long at) {
  const size_t p = static_cast<size_t>(at);
  if (p + 9 > j.size()) return true;  // cut short: the decoder fails on it
  // After the code: length (2), precision, rows (2), columns (2), components.
  const int64_t rows = (j[p + 4] << 8) | j[p + 5], columns = (j[p + 6] << 8) | j[p + 7];
  const int64_t components = j[p + 8] > 4 ? 4 : j[p + 8];  // more fail at the frame header
  return (columns + kLargestMCU) * (rows + kLargestMCU) * components <= kMaxFrameSamples;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > kMaxInput) return 0;
  std::vector<uint8_t> jpeg(data + 1, data + size);
  const long frame = FindFrameHeader(jpeg);
  if (frame < 0 || !FrameSmallEnough(jpeg, frame)) return 0;
  jpeg[static_cast<size_t>(frame)] = kSOF2;
  fuzz::DecodeEveryLine(jpeg.data(), jpeg.size(), data[0], 0, kMaxFrameSamples);
  return 0;
}
