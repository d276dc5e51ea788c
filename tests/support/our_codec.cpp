// our_codec.cpp - see our_codec.h.
#include "support/our_codec.h"

#include <algorithm>

#include "jpeg_filters.h"

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
  Stm* s = JPEGOpen(sink.stm(), &p);
  if (s == nullptr) {
    r.message = JPEGLastErrorMessage();
    return r;
  }
  const uint32_t total = static_cast<uint32_t>(img.pixels.size());
  const bool allTaken = StmFWrite(img.pixels.data(), 1, total, s) == total && !s->error;
  JPEGClose(s);
  r.ok = allTaken && !gJPEGError;
  if (!r.ok) r.message = JPEGLastErrorMessage();
  r.jpeg = sink.Contents();
  return r;
}

bool OurDecode(const Bytes& jpeg, Image* out, std::string* message, size_t piece) {
  MemSource src(jpeg, piece);
  int16_t width = 0, height = 0, colorCode = -1;  // left as it is for two components
  gJPEGError = 0;
  Stm* s = JPEGDOpen(src.stm(), &width, &height, &colorCode);
  *out = Image{};
  if (s == nullptr) {
    if (message) *message = JPEGLastErrorMessage();
    return false;
  }
  out->width = static_cast<uint16_t>(width);
  out->height = static_cast<uint16_t>(height);
  out->colors = colorCode == 0 ? 3 : colorCode == 1 ? 4 : colorCode == 2 ? 1 : 2;
  bool ok = true;
  for (int y = 0; y < out->height; y++) {
    if (JPEGDFilBuf(s) != 0) {
      ok = false;
      break;
    }
    out->pixels.insert(out->pixels.end(), s->base, s->base + static_cast<size_t>(out->width) * out->colors);
  }
  JPEGDClose(s);
  if (!ok && message) *message = JPEGLastErrorMessage();
  return ok;
}

}  // namespace testing_support
