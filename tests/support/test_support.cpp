// test_support.cpp - images, PSNR and memory streams for the tests.
#include "support/test_support.h"

#include "jpeg_filters.h"
#include "stream/stm_inline.h"
#include "stream/stm_procs.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace testing_support {

std::string TestdataPath(const std::string& name) { return std::string(JPEG_TESTDATA_DIR) + "/" + name; }

Bytes ReadFileBytes(const std::string& path) {
  Bytes bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw std::runtime_error("cannot open " + path);
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  return bytes;
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + path);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

namespace {

// Reads the next header token of a PNM file (skipping white space and comments).
std::string NextToken(const Bytes& b, size_t* pos) {
  while (*pos < b.size()) {
    if (b[*pos] == '#') {
      while (*pos < b.size() && b[*pos] != '\n') ++*pos;
    } else if (std::isspace(b[*pos])) {
      ++*pos;
    } else {
      break;
    }
  }
  std::string token;
  while (*pos < b.size() && !std::isspace(b[*pos])) token += static_cast<char>(b[(*pos)++]);
  return token;
}

}  // namespace

Image LoadPNM(const std::string& path) {
  Bytes b = ReadFileBytes(path);
  size_t pos = 0;
  std::string magic = NextToken(b, &pos);
  Image img;
  int maxval = 0;
  if (magic == "P5" || magic == "P6") {
    img.colors = magic == "P5" ? 1 : 3;
    img.width = std::stoi(NextToken(b, &pos));
    img.height = std::stoi(NextToken(b, &pos));
    maxval = std::stoi(NextToken(b, &pos));
  } else if (magic == "P7") {
    for (std::string t = NextToken(b, &pos); t != "ENDHDR"; t = NextToken(b, &pos)) {
      if (t.empty()) throw std::runtime_error("bad PAM header in " + path);
      if (t == "WIDTH") img.width = std::stoi(NextToken(b, &pos));
      else if (t == "HEIGHT") img.height = std::stoi(NextToken(b, &pos));
      else if (t == "DEPTH") img.colors = std::stoi(NextToken(b, &pos));
      else if (t == "MAXVAL") maxval = std::stoi(NextToken(b, &pos));
      else if (t == "TUPLTYPE") NextToken(b, &pos);
    }
  } else {
    throw std::runtime_error("not a binary PNM: " + path);
  }
  pos++;  // the single white-space byte before the raster
  if (maxval != 255) throw std::runtime_error("MAXVAL must be 255 in " + path);
  size_t size = static_cast<size_t>(img.width) * img.height * img.colors;
  if (b.size() < pos + size) throw std::runtime_error("truncated " + path);
  img.pixels.assign(b.begin() + static_cast<long>(pos), b.begin() + static_cast<long>(pos + size));
  return img;
}

Image LoadTestImage(const std::string& name) { return LoadPNM(TestdataPath(name)); }

Image SyntheticImage(int width, int height, int colors, uint32_t seed) {
  Image img;
  img.width = width;
  img.height = height;
  img.colors = colors;
  img.pixels.resize(static_cast<size_t>(width) * height * colors);
  uint32_t r = seed * 2654435761u + 1;
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      for (int c = 0; c < colors; c++) {
        r = r * 1664525u + 1013904223u;
        int smooth = (x * (3 + c) * 255 / std::max(1, width) + y * (5 - c) * 255 / std::max(1, height)) / 4;
        int texture = static_cast<int>((r >> 24) & 31) - 16;
        img.pixels[(static_cast<size_t>(y) * width + x) * colors + c] =
            static_cast<uint8_t>(std::clamp(smooth + 64 + texture, 0, 255));
      }
    }
  }
  return img;
}

Image Tiled(const Image& tile, int width, int height) {
  const size_t pixel = static_cast<size_t>(tile.colors);
  Image img{width, height, tile.colors, Bytes(size_t{1} * width * height * pixel)};
  for (int y = 0; y < height; y++) {
    for (int x = 0; x < width; x++) {
      const uint8_t* p = tile.Row(y % tile.height) + (x % tile.width) * pixel;
      std::copy(p, p + pixel, &img.pixels[(size_t{1} * y * width + x) * pixel]);
    }
  }
  return img;
}

Image Crop(const Image& img, int width, int height) {
  Image out;
  out.width = std::min(width, img.width);
  out.height = std::min(height, img.height);
  out.colors = img.colors;
  for (int y = 0; y < out.height; y++) {
    const uint8_t* row = img.Row(y);
    out.pixels.insert(out.pixels.end(), row, row + static_cast<size_t>(out.width) * out.colors);
  }
  return out;
}

double Psnr(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size() || a.empty()) return 0.0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); i++) {
    double d = static_cast<double>(a[i]) - b[i];
    sum += d * d;
  }
  if (sum == 0) return 99.0;
  double mse = sum / static_cast<double>(a.size());
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

double Psnr(const Image& a, const Image& b) {
  if (a.width != b.width || a.height != b.height || a.colors != b.colors) return 0.0;
  return Psnr(a.pixels, b.pixels);
}

// --- MemSink -----------------------------------------------------------------

MemSink::MemSink(uint16_t bufSize, long failAfter) : buffer_(bufSize), failAfter_(failAfter) {
  stm_.procData = this;
  stm_.bufSize = bufSize;
  stm_.count = static_cast<int16_t>(bufSize);
  stm_.ptr = stm_.base = buffer_.data();
  stm_.flsBuf = &MemSink::FlsBuf;
  stm_.filBuf = &StmRefuseFill;
}

void MemSink::Flush() {
  size_t n = static_cast<size_t>(stm_.ptr - stm_.base);
  if (failAfter_ >= 0 && static_cast<long>(flushed_.size() + n) > failAfter_) {
    stm_.error = 1;
  } else {
    flushed_.insert(flushed_.end(), stm_.base, stm_.ptr);
  }
  stm_.ptr = stm_.base;
  stm_.count = static_cast<int16_t>(stm_.bufSize);
}

int16_t MemSink::FlsBuf(int16_t c, Stm* s) {
  auto* self = static_cast<MemSink*>(s->procData);
  if (s->error || s->eof) return -1;
  self->Flush();
  if (s->error) {
    s->count = 0;
    return -1;
  }
  return StmRestartWrite(c, s);
}

Bytes MemSink::Contents() const {
  Bytes all = flushed_;
  if (!stm_.error) all.insert(all.end(), stm_.base, stm_.ptr);
  return all;
}

// --- MemSource -----------------------------------------------------------------

MemSource::MemSource(Bytes data, size_t pieceSize)
    : MemSource(std::move(data), [pieceSize](size_t) { return pieceSize; }) {}

MemSource::MemSource(Bytes data, PieceFn pieceSize)
    : data_(std::move(data)), buffer_(65536 + 1), pieceSize_(std::move(pieceSize)) {
  stm_.procData = this;
  stm_.bufSize = 65535;
  stm_.count = 0;
  stm_.ptr = stm_.base = buffer_.data();
  stm_.filBuf = &MemSource::FilBuf;
  stm_.flsBuf = &StmRefuseFlush;
}

int16_t MemSource::FilBuf(Stm* s) {
  auto* self = static_cast<MemSource*>(s->procData);
  if (s->eof || s->error) return -1;
  size_t left = self->data_.size() - self->position_;
  if (left == 0) {
    s->eof = 1;
    s->count = 0;
    return -1;
  }
  size_t n = std::clamp<size_t>(self->pieceSize_(self->pieces_++), 1, 32767);
  n = std::min(n, left);
  std::memcpy(s->base, &self->data_[self->position_], n);
  self->position_ += n;
  return StmRefillWithGuard(s, n);
}

bool FillDecodedLine(Stm* jpeg, size_t lineBytes, int colors, uint8_t* line, int* firstCount) {
  const size_t piece = lineBytes <= 32767 ? lineBytes : JPEG_LINE_PIECE_BYTES(colors);
  size_t at = 0;
  do {
    if (jpeg->filBuf(jpeg) != 0) return false;
    if (at == 0 && firstCount != nullptr) *firstCount = jpeg->count;
    const size_t n = std::min(piece, lineBytes - at);
    std::memcpy(line + at, jpeg->base, n);
    at += n;
  } while (at < lineBytes);
  return true;
}

}  // namespace testing_support
