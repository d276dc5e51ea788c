// pnm_io.h - PNM images in and out, one line at a time.
//
// PnmReader takes what the usual PNM-to-JPEG converters take: P2 and P5
// (grey), P3 and P6 (RGB), and P7 (PAM, DEPTH 1 to 4: GRAYSCALE, RGB, CMYK,
// or two components), comments in the header, any MAXVAL from 1 to 65535
// and 16-bit samples; samples are scaled to 8 bits with rounding
// (v * 255 + MAXVAL / 2) / MAXVAL. Anything else is refused with one line.
// PnmWriter writes P5, P6, or P7 for 2 and 4 components, MAXVAL 255.
#ifndef JPEGTOOL_PNM_IO_H
#define JPEGTOOL_PNM_IO_H

#include <cstdint>
#include <string>
#include <vector>

#include "byte_reader.h"
#include "file_io.h"

namespace jpegtool {

struct ImageShape {
  int width = 0;
  int height = 0;
  int colors = 0;  // samples per pixel, 1..4

  size_t LineBytes() const { return static_cast<size_t>(width) * colors; }
};

// A whole image in memory (the demo photograph, the thumbnail interface).
struct Image : ImageShape {
  std::vector<uint8_t> pixels;  // LineBytes() per line, top line first

  const uint8_t* Line(int y) const { return pixels.data() + LineBytes() * y; }
  uint8_t* Line(int y) { return pixels.data() + LineBytes() * y; }
};

// Where encoders get their lines from.
class LineSource {
 public:
  virtual ~LineSource() = default;
  virtual const ImageShape& Shape() const = 0;
  // The next line, LineBytes() 8-bit samples.
  virtual void ReadLine(uint8_t* line) = 0;
  // The same line where it already lies, if the source holds it as is,
  // else read into scratch; valid until the next call.
  virtual const uint8_t* NextLine(uint8_t* scratch) {
    ReadLine(scratch);
    return scratch;
  }
};

class PnmReader : public LineSource {
 public:
  // Reads and checks the header; nothing is allocated for the pixels.
  explicit PnmReader(ByteReader* input);
  const ImageShape& Shape() const override { return shape_; }
  long Maxval() const { return maxval_; }
  void ReadLine(uint8_t* line) override;
  const uint8_t* NextLine(uint8_t* scratch) override;  // 8-bit binary lines straight from the input's buffer

 private:
  [[noreturn]] void Bad(const std::string& what) const;
  void ReadBinaryLine(uint8_t* line);
  void ReadPlainLine(uint8_t* line);
  [[noreturn]] void Truncated() const;

  ByteReader* input_;
  ImageShape shape_;
  long maxval_ = 0;
  bool plain_ = false;  // P2/P3: decimal numbers
  int linesRead_ = 0;
  std::vector<uint8_t> scale_;  // sample value -> 8 bits
  std::vector<uint8_t> wide_;   // one line of 16-bit samples
};

// Lines of an image held in memory.
class ImageLines : public LineSource {
 public:
  explicit ImageLines(const Image& image) : image_(image) {}
  const ImageShape& Shape() const override { return image_; }
  void ReadLine(uint8_t* line) override;

 private:
  const Image& image_;
  int next_ = 0;
};

// Parses a whole PNM held in memory.
Image ParsePnm(const uint8_t* data, size_t size, const std::string& name);

class PnmWriter {
 public:
  // Writes the header at once.
  PnmWriter(OutputFile* output, const ImageShape& shape);
  void WriteLine(const uint8_t* line) { output_->Write(line, lineBytes_); }

 private:
  OutputFile* output_;
  size_t lineBytes_;
};

void WritePnmFile(const std::string& path, const Image& image);

}  // namespace jpegtool

#endif
