// our_codec.h - our own encode and decode filters driven the simplest way,
// for tests that need a JPEG stream of ours or the pixels back from one.
#ifndef JPEG_TESTS_SUPPORT_OUR_CODEC_H
#define JPEG_TESTS_SUPPORT_OUR_CODEC_H

#include <string>

#include "support/test_support.h"

namespace testing_support {

struct OurEncodeOptions {
  double qFactor = 0.76;
  bool subsample = false;
  bool blend = false;
  int markerMode = 0;
  Bytes markerData;  // host segments written right after SOI (and APP0)
};

struct OurEncodeResult {
  bool ok = false;      // opened, every byte taken, no failure reported
  std::string message;  // the codec's message when not ok
  Bytes jpeg;           // what reached the target
};

// Encodes img through JPEGOpen/StmFWrite/JPEGClose into memory.
OurEncodeResult OurEncode(const Image& img, const OurEncodeOptions& options = {});

// Decodes jpeg through JPEGDOpen/JPEGDFilBuf/JPEGDClose with the source
// refilled in pieces of `piece` bytes. Returns false (and the message) on
// failure; the lines decoded before a failure stay in *out.
bool OurDecode(const Bytes& jpeg, Image* out, std::string* message = nullptr, size_t piece = 8192);

}  // namespace testing_support

#endif
