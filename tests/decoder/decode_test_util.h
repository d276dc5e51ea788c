// decode_test_util.h - what the decoder tests share: running our decode
// filter over a byte string (in pieces of any size) and collecting its
// lines or its failure, and small editors that build bad or unusual JPEG
// streams from good ones.
#ifndef JPEG_TESTS_DECODER_DECODE_TEST_UTIL_H
#define JPEG_TESTS_DECODER_DECODE_TEST_UTIL_H

#include <string>
#include <vector>

#include "support/test_support.h"

namespace decoder_test {

using testing_support::Bytes;
using testing_support::Image;

struct DecodeResult {
  bool opened = false;    // JPEGDOpen returned a stream
  bool complete = false;  // every line came, then the end with no failure
  std::string message;    // JPEGLastErrorMessage() after a failure, else ""
  int linesDelivered = 0; // lines handed out before the end or the failure
  int16_t colorCode = -1;
  Image image;            // the lines delivered
};

// Decodes `jpeg` through JPEGDOpen/JPEGDFilBuf/JPEGDClose on a MemSource
// fed in pieces (pieceSize, or 8192 bytes when null).
DecodeResult Decode(const Bytes& jpeg, testing_support::MemSource::PieceFn pieceSize = nullptr,
                    int16_t widthHint = 0);

// Offset of the first marker `code` (the 0xFF byte), or -1.
long FindMarker(const Bytes& jpeg, uint8_t code);
// A stream with `segment` (marker bytes included) inserted at `offset`.
Bytes Insert(const Bytes& jpeg, long offset, const Bytes& segment);
// Rewrites every 8-bit DQT table as a 16-bit one, each quantizer times `factor`.
Bytes WidenDQT(const Bytes& jpeg, int factor);
// A marker segment: FF code, length, body.
Bytes Segment(uint8_t code, const Bytes& body);

// A small stream built from parts, for marker-level tests: a minimal 8x8
// grey image whose header pieces can be replaced.
struct TinyStream {
  Bytes soi{0xFF, 0xD8};
  Bytes tables;  // DQT + DHT
  Bytes frame;   // SOF0
  Bytes scan;    // SOS
  Bytes data;    // entropy-coded data
  Bytes eoi{0xFF, 0xD9};
  Bytes Join(const Bytes& extraBeforeFrame = {}) const;
};
TinyStream MakeTinyGrey();

}  // namespace decoder_test

#endif
