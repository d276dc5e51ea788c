// our_codec.cpp - see our_codec.h.
#include "support/our_codec.h"

#include "jpeg_options.h"  // and jpeg_filters.h

namespace testing_support {

OurEncodeResult OurEncode(const Image& img, const OurEncodeOptions& o) {
  OurEncodeResult r;
  Bytes marker = o.markerData;
  uint8_t* handle = marker.empty() ? nullptr : marker.data();
  JPEGEncodeParams p{};
  p.QFactor = o.qFactor;
  p.subsample = o.subsample ? 1 : 0;
  p.blend = o.blend ? 1 : 0;
  p.densityUnits = 1;
  p.xDensity = p.yDensity = 72;
  p.Columns = img.width;
  p.Rows = img.height;
  p.Colors = static_cast<int16_t>(img.colors);
  p.markerMode = static_cast<int16_t>(o.markerMode);
  p.markerData = &handle;
  p.markerDataLength = static_cast<int32_t>(marker.size());
  MemSink sink;
  gJPEGError = 0;
  const JPEGEncodeOptions sampling{static_cast<uint8_t>(o.lumaH), static_cast<uint8_t>(o.lumaV), 0, 0};
  Stm* s = JPEGOpenWithOptions(sink.stm(), &p, &sampling);
  if (s == nullptr) {
    r.message = JPEGLastErrorMessage();
    return r;
  }
  if (o.threads != 0) JPEGSetCodingThreads(s, o.threads);
  const uint32_t total = static_cast<uint32_t>(img.pixels.size());
  const bool allTaken = StmFWrite(img.pixels.data(), 1, total, s) == total && !s->error;
  JPEGClose(s);
  r.ok = allTaken && !gJPEGError;
  if (!r.ok) r.message = JPEGLastErrorMessage();
  r.jpeg = sink.Contents();
  return r;
}

}  // namespace testing_support
