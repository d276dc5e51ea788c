// decode_test_util.cpp - running the decode filter for the tests, and the
// stream editors of decode_test_util.h.
#include "decoder/decode_test_util.h"

#include <cstring>

#include "jpeg_filters.h"

namespace decoder_test {

using testing_support::MemSource;

namespace {

int ColorsOf(int16_t colorCode) {
  switch (colorCode) {
    case 0: return 3;
    case 1: return 4;
    case 2: return 1;
    default: return 2;
  }
}

}  // namespace

DecodeResult Decode(const Bytes& jpeg, MemSource::PieceFn pieceSize, int16_t widthHint) {
  DecodeResult result;
  MemSource source(jpeg, pieceSize ? pieceSize : [](size_t) -> size_t { return 8192; });
  gJPEGError = 0;
  int16_t width = widthHint, height = 0;
  Stm* s = JPEGDOpen(source.stm(), &width, &height, &result.colorCode);
  if (s == nullptr) {
    result.message = gJPEGError ? JPEGLastErrorMessage() : "";
    return result;
  }
  result.opened = true;
  Image& img = result.image;
  img.width = static_cast<uint16_t>(width);
  img.height = static_cast<uint16_t>(height);
  img.colors = ColorsOf(result.colorCode);
  const size_t lineBytes = static_cast<size_t>(img.width) * img.colors;
  img.pixels.reserve(lineBytes * img.height);
  for (int y = 0; y < img.height; y++) {
    if (JPEGDFilBuf(s) != 0) break;
    img.pixels.insert(img.pixels.end(), s->base, s->base + lineBytes);
    result.linesDelivered++;
  }
  if (result.linesDelivered == img.height) {
    result.complete = JPEGDFilBuf(s) == -1 && s->error && !gJPEGError;
  }
  if (gJPEGError) result.message = JPEGLastErrorMessage();
  JPEGDClose(s);
  return result;
}

long FindMarker(const Bytes& jpeg, uint8_t code) {
  for (size_t i = 0; i + 1 < jpeg.size(); i++) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == code) return static_cast<long>(i);
  }
  return -1;
}

Bytes Insert(const Bytes& jpeg, long offset, const Bytes& segment) {
  Bytes out(jpeg.begin(), jpeg.begin() + offset);
  out.insert(out.end(), segment.begin(), segment.end());
  out.insert(out.end(), jpeg.begin() + offset, jpeg.end());
  return out;
}

Bytes Segment(uint8_t code, const Bytes& body) {
  const size_t length = body.size() + 2;
  Bytes out{0xFF, code, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

namespace {

// Calls fn(code, offset of FF, body) for each header segment up to SOS and
// returns the offset just past the SOS segment.
template <typename Fn>
size_t ForEachSegment(const Bytes& jpeg, Fn fn) {
  size_t i = 2;  // after SOI
  while (i + 4 <= jpeg.size()) {
    const uint8_t code = jpeg[i + 1];
    const size_t length = (jpeg[i + 2] << 8) | jpeg[i + 3];
    Bytes body(jpeg.begin() + i + 4, jpeg.begin() + i + 2 + length);
    fn(code, i, body);
    i += 2 + length;
    if (code == 0xDA) break;
  }
  return i;
}

}  // namespace

Bytes WidenDQT(const Bytes& jpeg, int factor) {
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  const size_t dataStart = ForEachSegment(jpeg, [&](uint8_t code, size_t, const Bytes& body) {
    if (code != 0xDB) {
      Bytes seg = Segment(code, body);
      out.insert(out.end(), seg.begin(), seg.end());
      return;
    }
    Bytes wide;
    for (size_t p = 0; p < body.size();) {
      const bool isWide = (body[p] >> 4) != 0;
      wide.push_back(static_cast<uint8_t>(0x10 | (body[p] & 15)));
      p++;
      for (int k = 0; k < 64; k++) {
        int q = isWide ? (body[p] << 8 | body[p + 1]) : body[p];
        p += isWide ? 2 : 1;
        q *= factor;
        if (q > 65535) q = 65535;
        wide.push_back(static_cast<uint8_t>(q >> 8));
        wide.push_back(static_cast<uint8_t>(q));
      }
    }
    Bytes seg = Segment(0xDB, wide);
    out.insert(out.end(), seg.begin(), seg.end());
  });
  out.insert(out.end(), jpeg.begin() + dataStart, jpeg.end());
  return out;
}

Bytes TinyStream::Join(const Bytes& extraBeforeFrame) const {
  Bytes out = soi;
  for (const Bytes* part : {&extraBeforeFrame, &tables, &frame, &scan, &data, &eoi}) {
    out.insert(out.end(), part->begin(), part->end());
  }
  return out;
}

TinyStream MakeTinyGrey() {
  const Image img = testing_support::SyntheticImage(8, 8, 1, 7);
  const Bytes jpeg = testing_support::LibjpegEncode(img);
  TinyStream t;
  const size_t dataStart = ForEachSegment(jpeg, [&](uint8_t code, size_t, const Bytes& body) {
    Bytes seg = Segment(code, body);
    Bytes* part = code == 0xC0 ? &t.frame : code == 0xDA ? &t.scan : code == 0xE0 ? nullptr : &t.tables;
    if (part != nullptr) part->insert(part->end(), seg.begin(), seg.end());
  });
  t.data.assign(jpeg.begin() + dataStart, jpeg.end() - 2);
  return t;
}

}  // namespace decoder_test
