// pnm_io.h - binary PNM images in and out: P5 (grey), P6 (RGB) and P7 (PAM,
// DEPTH 1 to 4), 8-bit samples (MAXVAL 255), pixels interleaved.
#ifndef JPEGTOOL_PNM_IO_H
#define JPEGTOOL_PNM_IO_H

#include <cstdint>
#include <string>
#include <vector>

namespace jpegtool {

struct Image {
  int width = 0;
  int height = 0;
  int colors = 0;               // samples per pixel, 1..4
  std::vector<uint8_t> pixels;  // width * colors bytes per line, top line first

  size_t LineBytes() const { return static_cast<size_t>(width) * colors; }
  const uint8_t* Line(int y) const { return pixels.data() + LineBytes() * y; }
  uint8_t* Line(int y) { return pixels.data() + LineBytes() * y; }
};

// Parses a PNM held in memory; name is used in messages. Throws ToolError
// for anything that is not a complete 8-bit P5/P6/P7 image.
Image ParsePnm(const uint8_t* data, size_t size, const std::string& name);
Image ReadPnmFile(const std::string& path);

// The PNM form of an image: P5 for 1 colour, P6 for 3, P7 for 2 and 4
// (TUPLTYPE CMYK for 4).
std::vector<uint8_t> FormatPnm(const Image& image);
void WritePnmFile(const std::string& path, const Image& image);

}  // namespace jpegtool

#endif
