// fuzz_thumb.cpp - libFuzzer target for the thumbnail interface
// (StartJPEGDecompress, GetJPEGData, CloseJPEG) on arbitrary bytes.
//
// Input: one byte of options, then the JPEG bytes, which the interface reads
// in place (so a read past their end shows up under ASan). The options pick
// the width hint passed in, how many lines each GetJPEGData call asks for,
// and whether the caller's line size is exact, short or generous. Every line
// of an accepted image is fetched (up to a bound on the samples, so huge
// declared images stay quick), one batch more than the image holds, and
// every byte of the caller's buffer is read. The same bytes are also decoded
// by the decode filter straight from memory in larger pieces: the thumbnail
// must accept the same streams, report the same size, and hand out the same
// samples for every line the filter decodes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "decode/jpeg_filter_query.h"
#include "jpeg_filters.h"
#include "thumb_stream.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;
constexpr int64_t kMaxSamples = 1 << 21;  // samples fetched per input at most
constexpr uint16_t kDirectPiece = 32768;  // the largest piece a Stm count can describe
constexpr int32_t kMaxLineBytes = 32767;  // GetJPEGData takes the line size as a short
constexpr uint8_t kUntouched = 0xA5;      // what the caller's buffer holds beforehand

struct Decoded {
  bool opened = false;
  int16_t width = 0, height = 0;
  int32_t lineBytes = 0, colors = 0;
  std::vector<std::vector<uint8_t>> lines;  // the lines delivered, in order
};

// The decode filter's view of the same bytes.
Decoded DecodeDirectly(const uint8_t* data, size_t size) {
  Decoded d;
  fuzz::MemorySource src;
  fuzz::InitSource(&src, data, size, kDirectPiece);
  int16_t colorCode = -1;
  Stm* s = JPEGDOpen(&src.stm, &d.width, &d.height, &colorCode);
  if (s == nullptr) return d;
  d.opened = true;
  d.lineBytes = JPEGDLineBytes(s);
  d.colors = JPEGDColors(s);
  fuzz::ReadLines(s, static_cast<uint16_t>(d.height), d.lineBytes, kMaxSamples, &d.lines);
  JPEGDClose(s);
  return d;
}

// The caller's line size: exact, a little short or a little generous.
int32_t CallerLineBytes(int32_t exact, uint8_t options) {
  const int32_t delta = (options >> 4) & 7;
  int32_t n = exact;
  if (options & 0x80) n = (options & 8) ? exact + delta + 1 : exact - delta - 1;
  if (n < 0) n = 0;
  return n > kMaxLineBytes ? kMaxLineBytes : n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxInput) return 0;
  const uint8_t options = data[0];
  const uint8_t* jpeg = data + 1;
  const size_t length = size - 1;
  const Decoded direct = DecodeDirectly(jpeg, length);

  short width = (options & 0x40) ? 100 : 0;  // a width hint, as some callers pass
  short height = 0, colors = 0;
  JPEGThumbHandle handle = StartJPEGDecompress(reinterpret_cast<const char*>(jpeg),
                                               static_cast<long>(length), &width, &height, &colors);
  // The thumbnail accepts what the filter accepts; it may turn away
  // two-component images, which have no colour model of their own.
  if (handle == nullptr) {
    FUZZ_CHECK(!direct.opened || direct.colors == 2);
    return 0;
  }
  FUZZ_CHECK(direct.opened);
  FUZZ_CHECK(width == direct.width && height == direct.height);
  FUZZ_CHECK(colors >= 1 && colors <= 4);
  const int32_t exact = static_cast<uint16_t>(width) * colors;
  FUZZ_CHECK(exact == direct.lineBytes);

  const int32_t lineBytes = CallerLineBytes(exact, options);
  const short batch = static_cast<short>(1 + ((options >> 1) & 3));
  const int64_t rows = fuzz::AffordableRows(static_cast<uint16_t>(height), exact, kMaxSamples);
  std::vector<uint8_t> buffer(static_cast<size_t>(batch) * lineBytes + 1);
  const size_t compared = static_cast<size_t>(lineBytes < exact ? lineBytes : exact);
  for (int64_t y = 0; y < rows + batch; y += batch) {  // one batch past the image's end
    std::memset(buffer.data(), kUntouched, buffer.size());
    GetJPEGData(handle, reinterpret_cast<char*>(buffer.data()), batch, static_cast<short>(lineBytes));
    fuzz::Touch(buffer.data(), buffer.size());
    for (int64_t i = 0; i < batch; i++) {
      const size_t row = static_cast<size_t>(y + i);
      if (row >= direct.lines.size()) break;
      FUZZ_CHECK(std::memcmp(buffer.data() + i * lineBytes, direct.lines[row].data(), compared) == 0);
    }
  }
  CloseJPEG(handle);
  return 0;
}
