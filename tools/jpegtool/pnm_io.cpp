// pnm_io.cpp - the PNM/PAM reader and writer. The reader takes any bytes:
// header numbers are bounded, and the pixel count is checked against the
// bytes actually present before anything is allocated.
#include "pnm_io.h"

#include <cctype>
#include <cstring>

#include "file_io.h"
#include "tool_error.h"

namespace jpegtool {
namespace {

// Far above any size the codec accepts, low enough that products of two
// header numbers cannot overflow.
constexpr long kLargestHeaderNumber = 1000000;

class HeaderReader {
 public:
  HeaderReader(const uint8_t* data, size_t size, const std::string& name)
      : data_(data), size_(size), name_(name) {}

  size_t position() const { return position_; }
  [[noreturn]] void Bad(const std::string& what) const { Fail(name_ + ": " + what); }

  void SkipSpaceAndComments() {
    while (position_ < size_) {
      if (data_[position_] == '#') {
        while (position_ < size_ && data_[position_] != '\n') ++position_;
      } else if (std::isspace(data_[position_])) {
        ++position_;
      } else {
        return;
      }
    }
  }

  long Number(const char* what) {
    SkipSpaceAndComments();
    if (position_ >= size_) Bad(std::string("truncated PNM header (no ") + what + ")");
    if (!std::isdigit(data_[position_])) Bad(std::string("bad PNM header: ") + what + " is not a number");
    long value = 0;
    while (position_ < size_ && std::isdigit(data_[position_])) {
      value = value * 10 + (data_[position_++] - '0');
      if (value > kLargestHeaderNumber) Bad(std::string("bad PNM header: ") + what + " is too large");
    }
    return value;
  }

  // One whitespace byte ends the header of P5/P6.
  void SingleSpace() {
    if (position_ >= size_ || !std::isspace(data_[position_]))
      Bad("bad PNM header: no space before the pixels");
    ++position_;
  }

  // One line of a PAM header, without its line feed.
  std::string Line() {
    const size_t start = position_;
    while (position_ < size_ && data_[position_] != '\n') ++position_;
    if (position_ >= size_) Bad("truncated PAM header (no ENDHDR)");
    return std::string(reinterpret_cast<const char*>(data_) + start, position_++ - start);
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
  std::string name_;
};

struct Header {
  long width = 0, height = 0, depth = 0, maxval = 0;
  std::string tupleType;
};

void ReadClassicHeader(HeaderReader* reader, Header* header) {
  header->width = reader->Number("width");
  header->height = reader->Number("height");
  header->maxval = reader->Number("MAXVAL");
  reader->SingleSpace();
}

void TakePamField(HeaderReader* reader, const std::string& key, const std::string& value, Header* header) {
  auto number = [&](const char* what) {
    HeaderReader field(reinterpret_cast<const uint8_t*>(value.data()), value.size(), "");
    try {
      return field.Number(what);
    } catch (const ToolError&) {
      reader->Bad(std::string("bad PAM header: ") + what + " '" + value + "'");
    }
  };
  if (key == "WIDTH")
    header->width = number("WIDTH");
  else if (key == "HEIGHT")
    header->height = number("HEIGHT");
  else if (key == "DEPTH")
    header->depth = number("DEPTH");
  else if (key == "MAXVAL")
    header->maxval = number("MAXVAL");
  else if (key == "TUPLTYPE")
    header->tupleType = value;
  else
    reader->Bad("bad PAM header: unknown field '" + key + "'");
}

void ReadPamHeader(HeaderReader* reader, Header* header) {
  reader->Line();  // the rest of the "P7" line
  for (;;) {
    std::string line = reader->Line();
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    line = line.substr(start);
    if (line == "ENDHDR") return;
    const size_t gap = line.find_first_of(" \t");
    const std::string key = line.substr(0, gap);
    const size_t valueStart = gap == std::string::npos ? gap : line.find_first_not_of(" \t", gap);
    TakePamField(reader, key, valueStart == std::string::npos ? "" : line.substr(valueStart), header);
  }
}

// TUPLTYPE must agree with DEPTH where it names a layout this tool knows;
// types with alpha would be coded as something they are not.
void CheckTupleType(const HeaderReader& reader, const Header& header) {
  struct Known {
    const char* name;
    long depth;
  };
  static const Known kKnown[] = {{"GRAYSCALE", 1}, {"RGB", 3}, {"CMYK", 4}};
  if (header.tupleType.empty() || header.depth == 2) return;
  for (const Known& known : kKnown) {
    if (header.tupleType == known.name) {
      if (known.depth != header.depth) {
        reader.Bad("TUPLTYPE " + header.tupleType + " does not fit DEPTH " + std::to_string(header.depth));
      }
      return;
    }
  }
  reader.Bad("TUPLTYPE " + header.tupleType + " is not supported (GRAYSCALE, RGB or CMYK)");
}

void CheckHeader(const HeaderReader& reader, const Header& header) {
  if (header.width <= 0 || header.height <= 0)
    reader.Bad("bad PNM header: width and height must be positive");
  if (header.depth < 1 || header.depth > 4) {
    reader.Bad("PAM DEPTH " + std::to_string(header.depth) + " is not supported (1 to 4)");
  }
  if (header.maxval != 255) {
    reader.Bad("MAXVAL " + std::to_string(header.maxval) +
               " is not supported (only 8-bit images, MAXVAL 255)");
  }
  CheckTupleType(reader, header);
}

}  // namespace

Image ParsePnm(const uint8_t* data, size_t size, const std::string& name) {
  HeaderReader reader(data, size, name);
  if (size < 2 || data[0] != 'P' || (data[1] != '5' && data[1] != '6' && data[1] != '7')) {
    reader.Bad("not a binary PNM image (P5, P6 or P7)");
  }
  Header header;
  if (data[1] == '7') {
    ReadPamHeader(&reader, &header);
  } else {
    reader = HeaderReader(data + 2, size - 2, name);
    ReadClassicHeader(&reader, &header);
    header.depth = data[1] == '5' ? 1 : 3;
  }
  CheckHeader(reader, header);
  const size_t offset = (data[1] == '7' ? 0 : 2) + reader.position();
  Image image;
  image.width = static_cast<int>(header.width);
  image.height = static_cast<int>(header.height);
  image.colors = static_cast<int>(header.depth);
  const size_t needed = image.LineBytes() * image.height;
  if (size - offset < needed) {
    reader.Bad("truncated PNM: " + std::to_string(needed) + " bytes of pixels expected, " +
               std::to_string(size - offset) + " found");
  }
  image.pixels.assign(data + offset, data + offset + needed);
  return image;
}

Image ReadPnmFile(const std::string& path) {
  const Bytes bytes = ReadWholeFile(path);
  return ParsePnm(bytes.data(), bytes.size(), path);
}

std::vector<uint8_t> FormatPnm(const Image& image) {
  std::string header;
  const std::string size = std::to_string(image.width) + " " + std::to_string(image.height);
  if (image.colors == 1 || image.colors == 3) {
    header = (image.colors == 1 ? "P5\n" : "P6\n") + size + "\n255\n";
  } else {
    header = "P7\nWIDTH " + std::to_string(image.width) + "\nHEIGHT " + std::to_string(image.height) +
             "\nDEPTH " + std::to_string(image.colors) + "\nMAXVAL 255\n" +
             (image.colors == 4 ? "TUPLTYPE CMYK\n" : "") + "ENDHDR\n";
  }
  std::vector<uint8_t> bytes(header.begin(), header.end());
  bytes.insert(bytes.end(), image.pixels.begin(), image.pixels.end());
  return bytes;
}

void WritePnmFile(const std::string& path, const Image& image) {
  const std::vector<uint8_t> bytes = FormatPnm(image);
  WriteWholeFile(path, bytes.data(), bytes.size());
}

}  // namespace jpegtool
