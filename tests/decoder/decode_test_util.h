// decode_test_util.h - what the decoder tests share: running our decode
// filter over a byte string fed in pieces of any size, collecting its lines
// or its failure, and small editors that build bad or unusual JPEG streams.
#ifndef JPEG_TESTS_DECODER_DECODE_TEST_UTIL_H
#define JPEG_TESTS_DECODER_DECODE_TEST_UTIL_H

#include <algorithm>
#include <string>

#include "jpeg_filters.h"
#include "support/test_support.h"

namespace decoder_test {

using namespace testing_support;

struct DecodeResult {
  bool opened = false;    // JPEGDOpen returned a stream
  bool complete = false;  // every line came, then the end with no failure
  std::string message;    // JPEGLastErrorMessage() after a failure, else ""
  int firstCount = -1;    // the count the first fill set
  Image image;            // the lines delivered
};

// Pieces of pieceSize(k) bytes (8192 when null); widthHint goes to the open.
inline DecodeResult Decode(const Bytes& jpeg, MemSource::PieceFn pieceSize = nullptr, int16_t widthHint = 0) {
  DecodeResult r;
  MemSource source(jpeg, pieceSize ? pieceSize : [](size_t) -> size_t { return 8192; });
  gJPEGError = 0;
  int16_t width = widthHint, height = 0, colorCode = -1, lines = 0;
  Stm* s = JPEGDOpen(source.stm(), &width, &height, &colorCode);
  if ((r.opened = s != nullptr)) {
    Image& img = r.image;
    img.width = static_cast<uint16_t>(width), img.height = static_cast<uint16_t>(height);
    img.colors = colorCode == 0 ? 3 : colorCode == 1 ? 4 : colorCode == 2 ? 1 : 2;  // 3: two components
    while (lines < img.height && JPEGDFilBuf(s) == 0) {
      if (lines++ == 0) r.firstCount = s->count;
      img.pixels.insert(img.pixels.end(), s->base, s->base + static_cast<size_t>(img.width) * img.colors);
    }
    r.complete = lines == img.height && JPEGDFilBuf(s) == -1 && s->error && !gJPEGError;
  }
  if (gJPEGError) r.message = JPEGLastErrorMessage();
  JPEGDClose(s);  // takes null
  return r;
}

inline long FindMarker(const Bytes& jpeg, uint8_t code) {  // offset of FF code, or -1
  for (size_t i = 0; i + 1 < jpeg.size(); i++) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == code) return static_cast<long>(i);
  }
  return -1;
}

inline Bytes Insert(Bytes jpeg, long offset, const Bytes& bytes) {
  jpeg.insert(jpeg.begin() + offset, bytes.begin(), bytes.end());
  return jpeg;
}

inline Bytes Segment(uint8_t code, const Bytes& body) {  // FF code, length, body
  return Insert(body, 0, {0xFF, code, static_cast<uint8_t>((body.size() + 2) >> 8), static_cast<uint8_t>(body.size() + 2)});
}

// Rewrites every 8-bit DQT table as a 16-bit one, each quantizer times factor.
inline Bytes WidenDQT(const Bytes& jpeg, int factor) {
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  size_t i = 2;
  for (uint8_t code = 0; code != 0xDA && i + 4 <= jpeg.size();) {  // header segments up to SOS
    code = jpeg[i + 1];
    const size_t end = i + 2 + ((jpeg[i + 2] << 8) | jpeg[i + 3]);
    Bytes body(jpeg.begin() + i + 4, jpeg.begin() + end), wide;
    for (size_t p = 0; code == 0xDB && p < body.size(); p += 65) {  // 8-bit tables only
      wide.push_back(static_cast<uint8_t>(0x10 | body[p]));
      for (int k = 1; k <= 64; k++) {
        const int q = std::min(body[p + k] * factor, 65535);
        wide.insert(wide.end(), {static_cast<uint8_t>(q >> 8), static_cast<uint8_t>(q)});
      }
    }
    const Bytes seg = Segment(code, code == 0xDB ? wide : body);
    out.insert(out.end(), seg.begin(), seg.end());
    i = end;
  }
  out.insert(out.end(), jpeg.begin() + i, jpeg.end());
  return out;
}

}  // namespace decoder_test

#endif
