// filter_decode.h - what the decoder tests share: a file decoded through the
// decode filter in pieces of any size (every line, then the end), and the
// byte surgery the tests do on JPEG files (find markers, cut, join, insert).
#ifndef JPEG_TESTS_DECODER_FILTER_DECODE_H
#define JPEG_TESTS_DECODER_FILTER_DECODE_H

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "jpeg_filters.h"
#include "support/test_support.h"

namespace testing_support {

struct DecodeResult {
  bool opened = false, complete = false;  // complete: every line, then the end, no failure
  int colorCode = -1;
  std::string message;                    // JPEGLastErrorMessage() after a failure, else ""
  int firstCount = -1;                    // the count the first fill set
  Image image;
};

// Pieces of pieceSize bytes (or pieceFn(k) when given); widthHint goes to the open.
inline DecodeResult Decode(const Bytes& jpeg, size_t pieceSize = 8192, MemSource::PieceFn pieceFn = nullptr,
                           int16_t widthHint = 0) {
  DecodeResult r;
  MemSource source(jpeg, pieceFn ? pieceFn : [pieceSize](size_t) { return pieceSize; });
  gJPEGError = 0;
  int16_t width = widthHint, height = 0, colorCode = -1, lines = 0;
  Stm* s = JPEGDOpen(source.stm(), &width, &height, &colorCode);
  if ((r.opened = s != nullptr)) {
    Image& img = r.image;
    r.colorCode = colorCode;
    img.width = static_cast<uint16_t>(width), img.height = static_cast<uint16_t>(height);  // 16-bit, unsigned
    img.colors = colorCode == 0 ? 3 : colorCode == 1 ? 4 : colorCode == 2 ? 1 : 2;  // 3: two components
    const size_t lineBytes = static_cast<size_t>(img.width) * img.colors;
    Bytes line(lineBytes);
    while (lines < img.height &&
           FillDecodedLine(s, lineBytes, img.colors, line.data(), lines == 0 ? &r.firstCount : nullptr)) {
      lines++;
      img.pixels.insert(img.pixels.end(), line.begin(), line.end());
    }
    r.complete = lines == img.height && JPEGDFilBuf(s) == -1 && s->error && !gJPEGError;
  }
  if (gJPEGError) r.message = JPEGLastErrorMessage();
  JPEGDClose(s);  // takes null
  return r;
}

// want is the whole message, or its start when it ends in a space ("... no. ").
inline std::string MessageAsWanted(const std::string& got, const std::string& want) {
  return !want.empty() && want.back() == ' ' ? got.substr(0, want.size()) : got;
}

// Offsets of every marker `code` in j (entropy-coded data never holds FF
// followed by a marker code other than RSTn), and of the first one.
inline std::vector<long> Markers(const Bytes& j, uint8_t code) {
  std::vector<long> at;
  for (size_t i = 0; i + 1 < j.size(); i++) {
    if (j[i] == 0xFF && j[i + 1] == code) at.push_back(static_cast<long>(i));
  }
  return at;
}
inline long FindMarker(const Bytes& j, uint8_t code) {
  const uint8_t m[] = {0xFF, code};
  return std::search(j.begin(), j.end(), m, m + 2) - j.begin();
}
inline long SegmentEnd(const Bytes& j, long at) { return at + 2 + (j[at + 2] << 8) + j[at + 3]; }
inline Bytes Slice(const Bytes& j, long from, long to) { return Bytes(j.begin() + from, j.begin() + to); }
inline Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}
inline Bytes Insert(Bytes jpeg, long offset, const Bytes& bytes) {
  jpeg.insert(jpeg.begin() + offset, bytes.begin(), bytes.end());
  return jpeg;
}
inline Bytes Segment(uint8_t code, const Bytes& body) {  // FF code, length, body
  return Insert(body, 0, {0xFF, code, static_cast<uint8_t>((body.size() + 2) >> 8), static_cast<uint8_t>(body.size() + 2)});
}

}  // namespace testing_support

#endif
