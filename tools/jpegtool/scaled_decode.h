// scaled_decode.h - the decode and thumb commands' --scale: its parsing, and
// decode --scale through the decode filter opened with a scale denominator
// (scaled_decode.cpp).
#ifndef JPEGTOOL_SCALED_DECODE_H
#define JPEGTOOL_SCALED_DECODE_H

#include <string>

#include "host_codec.h"

namespace jpegtool {

// "1/1", "1/2", "1/4", "1/8" or the bare denominator 1, 2, 4, 8; anything else
// is a usage error naming --scale.
int ParseScale(const std::string& text);

// DecodeJpeg for an image reduced by scale (2, 4 or 8): the same lines,
// messages and threads, the resolution from the JFIF segment; no resources.
void DecodeScaledJpeg(ByteReader* input, bool ascii85, bool quiet, DecodeTarget* target, int threads,
                      int scale, DecodeResult* result);

}  // namespace jpegtool

#endif
