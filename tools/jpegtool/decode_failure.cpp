// decode_failure.cpp - wording the codec's failures for a person (see
// decode_failure.h); the header reader (jpeg_oneshot.h) looks at the bytes
// already read.
#include "decode_failure.h"

#include "info_walker.h"
#include "jpeg_marker_codes.h"
#include "jpeg_oneshot.h"

namespace jpegtool {
namespace {

// Why the codec could not read a JPEG that starts right: its frame kind, when
// it is one the codec does not decode ("" otherwise).
std::string FrameKindHint(const Bytes& head) {
  JPEGMemHeader header;  // filled as far as the bytes go, also when they end early
  JPEGMemReadHeader(head.data(), head.size(), &header, nullptr, 0, nullptr);
  const int frame = header.frameMarker;
  if (frame == 0 || frame == JPEG_MARKER_SOF0 || frame == JPEG_MARKER_SOF1 || frame == JPEG_MARKER_SOF2) return "";
  return " (" + WithArticle(FrameKind(frame)) +
         " JPEG: only baseline, extended sequential and progressive Huffman files can be decoded)";
}

}  // namespace

std::string DescribeDecodeFailure(const std::string& verb, const std::string& codecText, const Bytes& head) {
  const std::string notJpeg = NotJpegReason(head.data(), head.size());
  if (!notJpeg.empty()) return verb + " failed: " + notJpeg + " (" + codecText + ")";
  return verb + " failed: " + codecText + FrameKindHint(head);
}

void RethrowDecodeFailure(const ToolError& error, const std::string& verb, const Bytes& head) {
  const std::string prefix = verb + " failed: ";
  const std::string text = error.what();
  if (text.compare(0, prefix.size(), prefix) != 0) throw error;
  throw ToolError(DescribeDecodeFailure(verb, text.substr(prefix.size()), head), error.exitStatus());
}

}  // namespace jpegtool
