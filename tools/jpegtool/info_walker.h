// info_walker.h - a standalone walk over the segments of a JPEG file that
// describes each one without decoding the scan. It takes any bytes: every
// read is bounds-checked, and a file that ends early or holds stray bytes is
// described, not trusted.
#ifndef JPEGTOOL_INFO_WALKER_H
#define JPEGTOOL_INFO_WALKER_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace jpegtool {

struct SegmentInfo {
  size_t offset = 0;   // of the marker's 0xFF
  int marker = 0;      // the marker code, 0 for a run of bytes that is not a segment
  long length = -1;    // the length field, -1 for markers without one
  std::string name;    // "SOI", "APP0", "scan data", ...
  std::string detail;  // what the segment says
};

struct JpegSummary {
  std::vector<SegmentInfo> segments;
  bool sawEndOfImage = false;
  std::string problem;  // why the walk stopped early ("" when it ended at EOI)
};

JpegSummary WalkJpeg(const uint8_t* data, size_t size);

// "" for bytes that start with the SOI marker; otherwise what a person
// reads first: "not a JPEG file: starts with 0x68 0x65" (or "it is empty",
// "it holds one byte, 0x68").
std::string NotJpegReason(const uint8_t* data, size_t size);

// "baseline", "progressive", ... for an SOFn code.
std::string FrameKind(int marker);

// "a baseline", "an arithmetic-coded ...": the kind with its article.
std::string WithArticle(const std::string& kind);

// The densities of the JFIF segment among the header segments at data.
struct JfifDensity {
  bool found = false;
  int units = 0;  // 0 aspect ratio only, 1 dots per inch, 2 dots per centimetre
  int x = 0, y = 0;
};
JfifDensity FindJfifDensity(const uint8_t* data, size_t size);

// One printable line for a segment.
std::string FormatSegment(const SegmentInfo& segment);

}  // namespace jpegtool

#endif
