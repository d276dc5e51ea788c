// our_codec.cpp - see our_codec.h.
#include "support/our_codec.h"

#include <algorithm>

#include "a85_filters.h"
#include "jpeg_options.h"  // and jpeg_filters.h
#include "stream/error_path.h"

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
  MemSink sink(4096, o.failAfter);
  DCTClearFailure();
  Stm* below = o.ascii85 ? A85EOpen(sink.stm(), nullptr) : sink.stm();
  const JPEGEncodeOptions options{static_cast<uint8_t>(o.lumaH), static_cast<uint8_t>(o.lumaV), o.optimize, o.progressive};
  Stm* s = JPEGOpenWithOptions(below, &p, &options);
  if (s != nullptr && o.threads != 0) JPEGSetCodingThreads(s, o.threads);
  const uint32_t bytes = static_cast<uint32_t>(std::min(img.pixels.size(), o.stop));
  r.taken = s != nullptr ? StmFWrite(img.pixels.data(), 1, bytes, s) : 0;
  const bool allTaken = s != nullptr && r.taken == img.pixels.size() && !s->error;
  JPEGClose(s);
  if (o.ascii85) A85EClose(below);
  r.ok = allTaken && !DCTThreadFailed();
  if (!r.ok) r.message = JPEGLastErrorMessage();
  r.jpeg = sink.Contents();
  return r;
}

}  // namespace testing_support
