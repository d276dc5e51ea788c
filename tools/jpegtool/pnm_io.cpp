// pnm_io.cpp - the streaming PNM/PAM reader and the PNM writer. The reader
// takes any bytes: header numbers are bounded, nothing is allocated from a
// header number beyond one line, and every sample is checked against MAXVAL.
#include "pnm_io.h"

#include <cstring>

#include "tool_error.h"

namespace jpegtool {
namespace {

// Far above any size the codec accepts, low enough that products of header
// numbers cannot overflow.
constexpr long kLargestHeaderNumber = 1000000;
constexpr long kLargestMaxval = 65535;    // 16-bit samples
constexpr long kLargestByteMaxval = 255;  // above it, samples take two bytes
constexpr size_t kLongestPamLine = 1024;

bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

// Skips white space and '#' comments (which run to the end of their line).
void SkipSpaceAndComments(ByteReader* in) {
  for (int c = in->Peek(); c >= 0; c = in->Peek()) {
    if (c == '#') {
      while (c >= 0 && c != '\n') c = in->Get();
    } else if (IsSpace(c)) {
      in->Get();
    } else {
      return;
    }
  }
}

// A decimal number; -1 at the end of the input, -2 for a byte that starts
// no number, -3 for a number above limit.
long ReadNumber(ByteReader* in, long limit) {
  SkipSpaceAndComments(in);
  int c = in->Peek();
  if (c < 0) return -1;
  if (!IsDigit(c)) return -2;
  long value = 0;
  for (; IsDigit(c); c = in->Peek()) {
    in->Get();
    value = value * 10 + (c - '0');
    if (value > limit) return -3;
  }
  return value;
}

struct Header {
  long width = 0, height = 0, depth = 0, maxval = 0;
  std::string tupleType;
};

// The rounding scale of samples 0..maxval to 0..255.
std::vector<uint8_t> ScaleTable(long maxval) {
  std::vector<uint8_t> table(static_cast<size_t>(maxval) + 1);
  for (long v = 0; v <= maxval; ++v) table[v] = static_cast<uint8_t>((v * 255 + maxval / 2) / maxval);
  return table;
}

}  // namespace

void PnmReader::Bad(const std::string& what) const { Fail(input_->Name() + ": " + what); }

namespace {

long HeaderNumber(ByteReader* in, const char* what, const std::string& name) {
  const long value = ReadNumber(in, kLargestHeaderNumber);
  if (value == -1) {
    in->CheckError();
    Fail(name + ": truncated PNM header (no " + what + ")");
  }
  if (value == -2) Fail(name + ": bad PNM header: " + what + " is not a number");
  if (value == -3) Fail(name + ": bad PNM header: " + what + " is too large");
  return value;
}

void ReadClassicHeader(ByteReader* in, Header* header) {
  header->width = HeaderNumber(in, "width", in->Name());
  header->height = HeaderNumber(in, "height", in->Name());
  header->maxval = HeaderNumber(in, "MAXVAL", in->Name());
  // One white-space byte ends the header.
  if (!IsSpace(in->Get())) Fail(in->Name() + ": bad PNM header: no space after MAXVAL");
}

std::string PamLine(ByteReader* in) {
  std::string line;
  for (int c = in->Get(); c != '\n'; c = in->Get()) {
    if (c < 0) {
      in->CheckError();
      Fail(in->Name() + ": truncated PAM header (no ENDHDR)");
    }
    if (line.size() >= kLongestPamLine) Fail(in->Name() + ": bad PAM header: a line is too long");
    line += static_cast<char>(c);
  }
  while (!line.empty() && IsSpace(static_cast<unsigned char>(line.back()))) line.pop_back();
  const size_t start = line.find_first_not_of(" \t");
  return start == std::string::npos ? std::string() : line.substr(start);
}

long PamNumber(const std::string& value, const char* what, const std::string& name) {
  ByteReader field(reinterpret_cast<const uint8_t*>(value.data()), value.size(), name);
  const long number = ReadNumber(&field, kLargestHeaderNumber);
  SkipSpaceAndComments(&field);
  if (number < 0 || field.Peek() >= 0) Fail(name + ": bad PAM header: " + what + " '" + value + "'");
  return number;
}

void ReadPamHeader(ByteReader* in, Header* header) {
  if (!PamLine(in).empty()) Fail(in->Name() + ": bad PAM header: text after P7");
  for (;;) {
    const std::string line = PamLine(in);
    if (line.empty() || line[0] == '#') continue;
    if (line == "ENDHDR") return;
    const size_t gap = line.find_first_of(" \t");
    const std::string key = line.substr(0, gap);
    const size_t valueStart = gap == std::string::npos ? gap : line.find_first_not_of(" \t", gap);
    const std::string value = valueStart == std::string::npos ? "" : line.substr(valueStart);
    if (key == "WIDTH")
      header->width = PamNumber(value, "WIDTH", in->Name());
    else if (key == "HEIGHT")
      header->height = PamNumber(value, "HEIGHT", in->Name());
    else if (key == "DEPTH")
      header->depth = PamNumber(value, "DEPTH", in->Name());
    else if (key == "MAXVAL")
      header->maxval = PamNumber(value, "MAXVAL", in->Name());
    else if (key == "TUPLTYPE")
      header->tupleType = value;
    else
      Fail(in->Name() + ": bad PAM header: unknown field '" + key.substr(0, 40) + "'");
  }
}

// TUPLTYPE must agree with DEPTH where it names a layout this tool knows;
// types with alpha would be coded as something they are not.
void CheckTupleType(const Header& header, const std::string& name) {
  struct Known {
    const char* name;
    long depth;
  };
  static const Known kKnown[] = {{"GRAYSCALE", 1}, {"RGB", 3}, {"CMYK", 4}};
  if (header.tupleType.empty() || header.depth == 2) return;
  for (const Known& known : kKnown) {
    if (header.tupleType == known.name) {
      if (known.depth != header.depth) {
        Fail(name + ": TUPLTYPE " + header.tupleType + " does not fit DEPTH " + std::to_string(header.depth));
      }
      return;
    }
  }
  Fail(name + ": TUPLTYPE " + header.tupleType.substr(0, 40) + " is not supported (GRAYSCALE, RGB or CMYK)");
}

void CheckHeader(const Header& header, const std::string& name) {
  if (header.width <= 0 || header.height <= 0) Fail(name + ": bad PNM header: width and height must be positive");
  if (header.depth < 1 || header.depth > 4) {
    Fail(name + ": PAM DEPTH " + std::to_string(header.depth) + " is not supported (1 to 4)");
  }
  if (header.maxval < 1 || header.maxval > kLargestMaxval) {
    Fail(name + ": MAXVAL " + std::to_string(header.maxval) + " is not supported (1 to 65535)");
  }
  CheckTupleType(header, name);
}

}  // namespace

PnmReader::PnmReader(ByteReader* input) : input_(input) {
  const int p = input->Get();
  const int kind = input->Get();
  if (p != 'P' || kind < '1' || kind > '7') {
    input->CheckError();
    Bad("not a PNM image (P2, P3, P5, P6 or P7)");
  }
  if (kind == '1' || kind == '4') Bad("P1 and P4 bitmaps are not supported (P2, P3, P5, P6 or P7)");
  Header header;
  if (kind == '7') {
    ReadPamHeader(input, &header);
  } else {
    ReadClassicHeader(input, &header);
    header.depth = kind == '2' || kind == '5' ? 1 : 3;
    plain_ = kind == '2' || kind == '3';
  }
  CheckHeader(header, input->Name());
  shape_.width = static_cast<int>(header.width);
  shape_.height = static_cast<int>(header.height);
  shape_.colors = static_cast<int>(header.depth);
  maxval_ = header.maxval;
  if (maxval_ != kLargestByteMaxval) scale_ = ScaleTable(maxval_);
}

void PnmReader::Truncated() const {
  input_->CheckError();
  Bad("truncated PNM: the pixels of " + std::to_string(shape_.height) + " lines expected, " +
      std::to_string(linesRead_) + " complete");
}

void PnmReader::ReadBinaryLine(uint8_t* line) {
  const size_t samples = shape_.LineBytes();
  if (maxval_ <= kLargestByteMaxval) {
    const size_t got = input_->Read(line, samples);
    if (got < samples) Truncated();
    if (maxval_ == kLargestByteMaxval) return;
    for (size_t i = 0; i < samples; ++i) {
      if (line[i] > maxval_) Bad("sample value " + std::to_string(line[i]) + " exceeds MAXVAL");
      line[i] = scale_[line[i]];
    }
    return;
  }
  wide_.resize(samples * 2);
  if (input_->Read(wide_.data(), wide_.size()) < wide_.size()) Truncated();
  for (size_t i = 0; i < samples; ++i) {
    const long value = long{wide_[2 * i]} << 8 | wide_[2 * i + 1];  // most significant byte first
    if (value > maxval_) Bad("sample value " + std::to_string(value) + " exceeds MAXVAL");
    line[i] = scale_[value];
  }
}

void PnmReader::ReadPlainLine(uint8_t* line) {
  const size_t samples = shape_.LineBytes();
  for (size_t i = 0; i < samples; ++i) {
    const long value = ReadNumber(input_, kLargestMaxval);
    if (value == -1) Truncated();
    if (value == -2) Bad("bad plain PNM: a sample is not a number");
    if (value == -3 || value > maxval_) Bad("a sample value exceeds MAXVAL");
    line[i] = maxval_ == kLargestByteMaxval ? static_cast<uint8_t>(value) : scale_[value];
  }
}

void PnmReader::ReadLine(uint8_t* line) {
  if (linesRead_ >= shape_.height) Bad("read past the last line");
  if (plain_)
    ReadPlainLine(line);
  else
    ReadBinaryLine(line);
  ++linesRead_;
}

const uint8_t* PnmReader::NextLine(uint8_t* scratch) {
  if (!plain_ && maxval_ == kLargestByteMaxval && linesRead_ < shape_.height) {
    if (const uint8_t* line = input_->Borrow(shape_.LineBytes())) {
      ++linesRead_;
      return line;
    }
  }
  ReadLine(scratch);
  return scratch;
}

void ImageLines::ReadLine(uint8_t* line) {
  std::memcpy(line, image_.Line(next_++), image_.LineBytes());
}

Image ParsePnm(const uint8_t* data, size_t size, const std::string& name) {
  ByteReader input(data, size, name);
  PnmReader reader(&input);
  Image image;
  static_cast<ImageShape&>(image) = reader.Shape();
  image.pixels.resize(image.LineBytes() * image.height);
  for (int y = 0; y < image.height; ++y) reader.ReadLine(image.Line(y));
  return image;
}

PnmWriter::PnmWriter(OutputFile* output, const ImageShape& shape)
    : output_(output), lineBytes_(shape.LineBytes()) {
  std::string header;
  const std::string size = std::to_string(shape.width) + " " + std::to_string(shape.height);
  if (shape.colors == 1 || shape.colors == 3) {
    header = (shape.colors == 1 ? "P5\n" : "P6\n") + size + "\n255\n";
  } else {
    header = "P7\nWIDTH " + std::to_string(shape.width) + "\nHEIGHT " + std::to_string(shape.height) +
             "\nDEPTH " + std::to_string(shape.colors) + "\nMAXVAL 255\n" +
             (shape.colors == 4 ? "TUPLTYPE CMYK\n" : "") + "ENDHDR\n";
  }
  output->Write(header.data(), header.size());
}

void WritePnmFile(const std::string& path, const Image& image) {
  OutputFile output(path);
  PnmWriter writer(&output, image);
  for (int y = 0; y < image.height; ++y) writer.WriteLine(image.Line(y));
  output.Commit();
}

}  // namespace jpegtool
