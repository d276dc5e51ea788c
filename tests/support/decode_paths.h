// decode_paths.h - a JPEG file decoded the three ways a host can: the decode
// filter filled to its end, the read stream (start, every line, stop) and the
// thumbnail interface, each reporting its verdict the same way.
#ifndef JPEG_TESTS_SUPPORT_DECODE_PATHS_H
#define JPEG_TESTS_SUPPORT_DECODE_PATHS_H

#include <string>

#include "support/test_support.h"

namespace testing_support {

struct PathVerdict {
  bool ok = false;      // every line and a clean end, no failure reported
  std::string message;  // the codec's message after a failure
  Bytes lines;          // every line delivered (kept only when asked for)
};

enum class DecodePath { kFilter, kReadStream, kThumbnail };
const char* PathName(DecodePath path);
PathVerdict DecodeThrough(DecodePath path, const Bytes& jpeg, bool keepLines = true);

}  // namespace testing_support

#endif
