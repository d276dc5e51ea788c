// host_codec.h - encoding and decoding one line at a time: lines come from a
// LineSource and go to a DecodeTarget, so memory does not grow with the
// image height. Decoding goes through the host read stream
// (TJPEGReadStream, over the tool's own reader: host_io.h), the way the host
// application opens files. Encoding runs the encode filter directly
// (filter_encode.cpp) with the parameters the host's write stream gives it,
// so the bytes are the host's, for heights up to 65535 lines too (the
// host's write options hold at most 32767). Failures come back as ToolError
// with the codec's own message.
#ifndef JPEGTOOL_HOST_CODEC_H
#define JPEGTOOL_HOST_CODEC_H

#include <string>

#include "byte_reader.h"
#include "file_io.h"
#include "pnm_io.h"

namespace jpegtool {

// The host's quality indexes, 0 coarsest (their QFactors: TJPEGWriteStream::QFactorFor).
constexpr int kQualityLevels = 7;
// Qualities below this one subsample chroma 2x2.
constexpr int kFirstFullChromaQuality = 3;

struct EncodeSettings {
  int quality = 3;       // 0..6
  bool ascii85 = false;  // write the ASCII85-wrapped form
  int markerMode = 0;    // 0, 1, 2 or kJPEGPortableMarkerMode
  int xDpi = 72, yDpi = 72;
  Bytes resources;     // image-resource bytes, written as APP13 segments
  Bytes segments;      // ready-made segments written ahead of those (recompress)
  bool quiet = false;  // no progress line
  int threads = 0;     // codec worker threads (0: none)
  int scale = 0;       // --quality 1..100 (0: the host's index `quality`)
  int lumaH = 0, lumaV = 0;  // --sample HxV (0: as the quality chooses)
  bool grayscale = false;    // colour input coded as one component
  bool optimize = false;     // Huffman tables built for the image
  bool progressive = false;  // progressive scans
};

// Refuses images the codec cannot take (wider than 65535 pixels or taller
// than 65535 lines, the frame's 16-bit limits) with a message that says so.
void CheckEncodable(const ImageShape& shape);

// Encodes every line of source into output (not committed).
void EncodeLines(LineSource* source, const EncodeSettings& settings, OutputFile* output);

// Receives a decoded image: its shape first, then its lines in order.
class DecodeTarget {
 public:
  virtual ~DecodeTarget() = default;
  virtual void Begin(const ImageShape& shape) = 0;
  virtual void PutLine(const uint8_t* line) = 0;
};

// An Image in memory as a DecodeTarget.
class ImageTarget : public DecodeTarget {
 public:
  void Begin(const ImageShape& shape) override;
  void PutLine(const uint8_t* line) override;
  Image image;
};

struct DecodeResult {
  double dpi = 0;   // 0 when the file states none
  Bytes resources;  // gathered from the resource segments
};

// threads: codec worker threads for files with restart intervals (0: none).
// result gets the resolution and resources once the header is read (so a
// caller keeps them when a later line fails), and again at the end.
void DecodeJpeg(ByteReader* input, bool ascii85, bool quiet, DecodeTarget* target, int threads,
                DecodeResult* result);

// Encodes image into the file at path, replacing it only on success.
void EncodeImageToFile(const Image& image, const EncodeSettings& settings, const std::string& path);
// Decodes the file at path into memory.
Image DecodeJpegFile(const std::string& path, bool ascii85, DecodeResult* result = nullptr);

}  // namespace jpegtool

#endif
