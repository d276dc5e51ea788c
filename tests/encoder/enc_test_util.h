// enc_test_util.h - what the encoder tests share: running the encode filter
// over an image into memory, and walking the segments of the stream it wrote.
#ifndef JPEG_TESTS_ENCODER_ENC_TEST_UTIL_H
#define JPEG_TESTS_ENCODER_ENC_TEST_UTIL_H

#include <cstdint>
#include <string>
#include <vector>

#include "jpeg_filters.h"
#include "support/test_support.h"

namespace enc_test {

using testing_support::Bytes;
using testing_support::Image;

struct EncodeOptions {
  double quality = 0.76;
  bool subsample = false;
  bool blend = false;
  int markerMode = 0;
  Bytes markerData;  // host segments written after SOI (and APP0)
};

inline JPEGEncodeParams MakeParams(int width, int height, int colors, const EncodeOptions& o,
                                   uint8_t** markerHandle) {
  JPEGEncodeParams p{};
  p.QFactor = o.quality;
  p.subsample = o.subsample ? 1 : 0;
  p.blend = o.blend ? 1 : 0;
  p.densityUnits = 1;
  p.xDensity = 72;
  p.yDensity = 72;
  p.Columns = width;
  p.Rows = height;
  p.Colors = static_cast<int16_t>(colors);
  p.markerMode = static_cast<int16_t>(o.markerMode);
  p.markerData = markerHandle;
  p.markerDataLength = static_cast<int32_t>(o.markerData.size());
  return p;
}

struct EncodeResult {
  bool opened = false;
  bool writeOk = false;   // every byte taken and no error flag
  bool jpegError = false; // gJPEGError after close
  std::string message;    // JPEGLastErrorMessage after close
  Bytes jpeg;
};

// Encodes img through the filter, writing `chunk` bytes per StmFWrite call.
inline EncodeResult EncodeImage(const Image& img, const EncodeOptions& o = {}, size_t chunk = 0) {
  EncodeResult r;
  Bytes marker = o.markerData;
  uint8_t* handle = marker.empty() ? nullptr : marker.data();
  JPEGEncodeParams p = MakeParams(img.width, img.height, img.colors, o, &handle);
  testing_support::MemSink sink;
  gJPEGError = 0;
  Stm* s = JPEGOpen(sink.stm(), &p);
  r.opened = s != nullptr;
  if (!s) {
    r.jpegError = gJPEGError != 0;
    r.message = JPEGLastErrorMessage();
    return r;
  }
  const size_t total = img.pixels.size();
  if (chunk == 0) chunk = total;
  size_t done = 0;
  while (done < total) {
    const size_t n = std::min(chunk, total - done);
    done += StmFWrite(img.pixels.data() + done, 1, static_cast<uint32_t>(n), s);
    if (s->error) break;
  }
  r.writeOk = done == total && !s->error;
  JPEGClose(s);
  r.jpegError = gJPEGError != 0;
  r.message = gJPEGError ? JPEGLastErrorMessage() : "";
  r.jpeg = sink.Contents();
  return r;
}

// One marker segment of a JPEG stream: marker code and body (after the
// length field). Markers without a length (SOI, EOI, RSTn) have an empty body.
struct Segment {
  int marker = 0;
  size_t offset = 0;  // of the 0xFF
  Bytes body;
};

// The header segments up to and including SOS.
inline std::vector<Segment> HeaderSegments(const Bytes& jpeg) {
  std::vector<Segment> out;
  size_t i = 0;
  while (i + 1 < jpeg.size() && jpeg[i] == 0xFF) {
    Segment seg;
    seg.marker = jpeg[i + 1];
    seg.offset = i;
    i += 2;
    if (seg.marker != 0xD8) {
      const size_t len = static_cast<size_t>(jpeg[i] << 8 | jpeg[i + 1]);
      seg.body.assign(jpeg.begin() + static_cast<long>(i + 2), jpeg.begin() + static_cast<long>(i + len));
      i += len;
    }
    out.push_back(seg);
    if (seg.marker == 0xDA) break;
  }
  return out;
}

// Offset just past the SOS segment (start of the entropy-coded data).
inline size_t ScanStart(const Bytes& jpeg) {
  std::vector<Segment> segs = HeaderSegments(jpeg);
  const Segment& sos = segs.back();
  return sos.offset + 4 + sos.body.size();
}

// Markers found in the entropy-coded data (0xFF followed by a non-zero byte).
inline std::vector<int> ScanMarkers(const Bytes& jpeg) {
  std::vector<int> markers;
  for (size_t i = ScanStart(jpeg); i + 1 < jpeg.size(); i++) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] != 0) {
      markers.push_back(jpeg[i + 1]);
      i++;
    }
  }
  return markers;
}

}  // namespace enc_test

#endif
