// decode_paths.h - a JPEG file decoded the three ways a host can: the decode
// filter filled to its end, the read stream (start, every line, stop) and the
// thumbnail interface, each reporting its verdict the same way; the one
// decode driver of the decode-path, memory, parallel and stress tests. No
// verdict is read from the process-wide gJPEGError, so threads may decode at once.
#ifndef JPEG_TESTS_SUPPORT_DECODE_PATHS_H
#define JPEG_TESTS_SUPPORT_DECODE_PATHS_H

#include <string>
#include <tuple>

#include "fuzz_harness.h"
#include "support/test_support.h"

namespace testing_support {

struct PathVerdict {
  bool ok = false;      // every line and a clean end, no failure reported
  std::string message;  // the codec's message after a failure
  Bytes lines;          // every line delivered (kept only when asked for)
  int32_t resolution = 0;  // read stream: fResolution
  Bytes resources;         // read stream: fResources
  auto Key() const { return std::tie(ok, message, lines, resolution, resources); }
};

// Every line through the decode filter from the filter table, with `threads`
// workers from the first fill on (0: none), the source handing out `piece`
// bytes at a time, optionally under the ASCII85 decode filter. The verdict is
// the filter's own (JPEGDFinishImage, JPEGDFilterFailed), never the
// process-wide gJPEGError, so threads may decode at once.
struct FilterRunOptions {
  int threads = 0;
  size_t piece = 4096;
  bool ascii85 = false;
  bool keepLines = true;
  int16_t widthHint = 0;         // what the open is handed as the width
  MemSource::PieceFn pieceFn{};  // when set, cuts the pieces instead of `piece`
  int scale = 0;                 // reduced by 2, 4 or 8 (JPEGDOpenWithOptions); 0: the plain open
};
// What the run showed: the fuzz harness's record (Key(): the lines, verdict
// and message that must not depend on pieces nor threads).
using FilterRun = fuzz::Decoded;
Bytes Pixels(const FilterRun& run);  // every line kept, one after another
FilterRun RunDecodeFilter(const Bytes& jpeg, const FilterRunOptions& options = {});
// Components per pixel of a decode open's colour code.
int ColorsOfCode(int code);

enum class DecodePath { kFilter, kReadStream, kThumbnail };
const char* PathName(DecodePath path);
// The filter and the read stream take `ascii85` (text) and the filter
// `threads` and `piece`; every path takes keepLines.
PathVerdict DecodeThrough(DecodePath path, const Bytes& jpeg, const FilterRunOptions& options = {});

}  // namespace testing_support

#endif
