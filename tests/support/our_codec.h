// our_codec.h - our own encode filter driven the simplest way, for tests
// that need a JPEG stream of ours.
#ifndef JPEG_TESTS_SUPPORT_OUR_CODEC_H
#define JPEG_TESTS_SUPPORT_OUR_CODEC_H

#include <cstdint>
#include <string>

#include "support/test_support.h"

namespace testing_support {

struct OurEncodeOptions {
  double qFactor = 0.76;
  bool subsample = false;
  bool blend = false;
  int markerMode = 0;
  Bytes markerData;  // host segments written right after SOI (and APP0)
  int threads = 0;   // worker threads for the filter (JPEGSetCodingThreads)
  bool ascii85 = false;  // written through the ASCII85 encode filter
  long failAfter = -1;   // the target fails past this many bytes (-1: never)
  size_t stop = SIZE_MAX;  // raster bytes written before the close
  int lumaH = 0, lumaV = 0;  // chroma sampling (JPEGEncodeOptions); 0: as subsample says
  bool optimize = false, progressive = false;  // tables built for the image; a progressive scan script
};

struct OurEncodeResult {
  bool ok = false;      // opened, every byte taken, no failure reported
  std::string message;  // the codec's message when not ok
  Bytes jpeg;           // what reached the target
  size_t taken = 0;     // raster bytes the filter took
};

// Encodes img through JPEGOpen/StmFWrite/JPEGClose into memory; the verdict
// is this thread's own, so threads may encode at once.
OurEncodeResult OurEncode(const Image& img, const OurEncodeOptions& options = {});


}  // namespace testing_support

#endif
