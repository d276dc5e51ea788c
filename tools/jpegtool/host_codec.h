// host_codec.h - encoding and decoding whole images through the host
// stream classes (TJPEGWriteStream, TJPEGReadStream), the way the host
// application saves and opens files. Failures come back as ToolError with
// the codec's own message.
#ifndef JPEGTOOL_HOST_CODEC_H
#define JPEGTOOL_HOST_CODEC_H

#include <string>

#include "file_io.h"
#include "pnm_io.h"

namespace jpegtool {

// The QFactor each quality index selects (index 0 coarsest).
constexpr int kQualityLevels = 7;
extern const double kQFactorByQuality[kQualityLevels];

struct EncodeSettings {
  int quality = 3;       // 0..6
  bool ascii85 = false;  // write the ASCII85-wrapped form
  int markerMode = 0;    // 0, 1 or 2
  int xDpi = 72, yDpi = 72;
  Bytes resources;     // image-resource bytes, written as APP13 segments
  bool quiet = false;  // no progress line
};

// Refuses images the codec cannot take (lines over 32767 bytes, sizes
// beyond its 16-bit fields) with a message that says so.
void CheckEncodable(const Image& image);

// Encodes image into the file at path (created or truncated).
void EncodeImageToFile(const Image& image, const EncodeSettings& settings, const std::string& path);

struct DecodedImage {
  Image image;
  double dpi = 0;   // 0 when the file states none
  Bytes resources;  // gathered from the resource segments
};

DecodedImage DecodeJpegFile(const std::string& path, bool ascii85, bool quiet);

}  // namespace jpegtool

#endif
