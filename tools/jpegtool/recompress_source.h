// recompress_source.h - the decoding half of `jpegtool recompress`: a JPEG
// read through the decode filter opened with a segment hook
// (jpeg_segments.h), handing out its lines one at a time as a LineSource for
// the encoder, and keeping the application and comment segments that the
// encoder does not write itself, ready to be written again.
#ifndef JPEGTOOL_RECOMPRESS_SOURCE_H
#define JPEGTOOL_RECOMPRESS_SOURCE_H

#include <memory>

#include "byte_reader.h"
#include "file_stm.h"
#include "pnm_io.h"

namespace jpegtool {

// What the hook gathered: every APPn and COM segment but the JFIF APP0 and
// a colour-transform APP14 (both written anew by the encoder), as whole
// segments (marker, length, body) in file order; and the JFIF density.
struct KeptSegments {
  Bytes segments;
  int dpiX = 0, dpiY = 0;  // 0 when the file states no density in dots per inch or centimetre
  bool failed = false;     // out of memory while keeping them
  bool peerColourSegment = false;  // another encoder's colour APP14 (CMYK then has inverted ink)
};

class RecompressSource : public LineSource {
 public:
  // Reads the header; fails (ToolError) when the decoder refuses the file.
  explicit RecompressSource(ByteReader* input);
  ~RecompressSource() override;
  RecompressSource(const RecompressSource&) = delete;
  RecompressSource& operator=(const RecompressSource&) = delete;

  const ImageShape& Shape() const override { return shape_; }
  void ReadLine(uint8_t* line) override;
  // After the last line: the data must end cleanly there.
  void Finish();
  const KeptSegments& Kept() const { return kept_; }

 private:
  ByteReader* input_;
  std::unique_ptr<FileStm> source_;
  Stm* jpeg_ = nullptr;
  ImageShape shape_;
  KeptSegments kept_;
};

}  // namespace jpegtool

#endif
