// test_support.cpp - images, PSNR and memory streams for the tests.
#include "support/test_support.h"

#include "jpeg_filters.h"
#include "stream/stm_inline.h"
#include "stream/stm_procs.h"

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace testing_support {

TempDir::TempDir() : path((std::filesystem::temp_directory_path() / "jpeg-test-XXXXXX").string()) {
  if (mkdtemp(path.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
}
TempDir::~TempDir() { std::filesystem::remove_all(path); }

std::string TestdataPath(const std::string& name) { return std::string(JPEG_TESTDATA_DIR) + "/" + name; }

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot open " + path);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary);
  if (!f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())))
    throw std::runtime_error("cannot write " + path);
}

// P5 and P6 headers are "magic width height maxval"; a P7 header is lines
// of "KEYWORD value" up to ENDHDR. A single white-space byte ends either.
Image LoadPNM(const std::string& path) {
  const Bytes b = ReadFileBytes(path);
  std::istringstream in(std::string(b.begin(), b.begin() + static_cast<long>(std::min<size_t>(b.size(), 512))));
  std::string magic, key;
  Image img;
  int maxval = 0;
  in >> magic;
  if (magic == "P5" || magic == "P6") {
    img.colors = magic == "P5" ? 1 : 3;
    in >> img.width >> img.height >> maxval;
  }
  while (magic == "P7" && in >> key && key != "ENDHDR") {
    if (key == "WIDTH") in >> img.width;
    else if (key == "HEIGHT") in >> img.height;
    else if (key == "DEPTH") in >> img.colors;
    else if (key == "MAXVAL") in >> maxval;
    else in >> key;  // TUPLTYPE's value
  }
  const size_t pos = static_cast<size_t>(in.tellg()) + 1, size = size_t{1} * img.width * img.height * img.colors;
  if (!in || maxval != 255 || b.size() < pos + size) throw std::runtime_error("not a binary PNM of MAXVAL 255: " + path);
  img.pixels.assign(b.begin() + static_cast<long>(pos), b.begin() + static_cast<long>(pos + size));
  return img;
}

Image LoadTestImage(const std::string& name) { return LoadPNM(TestdataPath(name)); }

Image SyntheticImage(int width, int height, int colors, uint32_t seed) {
  Image img{width, height, colors, Bytes(size_t{1} * width * height * colors)};
  uint32_t r = seed * 2654435761u + 1;
  for (size_t i = 0; i < img.pixels.size(); i++) {
    const int c = static_cast<int>(i % colors), x = static_cast<int>(i / colors % width), y = static_cast<int>(i / colors / width);
    r = r * 1664525u + 1013904223u;
    const int smooth = (x * (3 + c) * 255 / std::max(1, width) + y * (5 - c) * 255 / std::max(1, height)) / 4;
    img.pixels[i] = static_cast<uint8_t>(std::clamp(smooth + 64 + static_cast<int>((r >> 24) & 31) - 16, 0, 255));
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
  Image out{std::min(width, img.width), std::min(height, img.height), img.colors, {}};
  for (int y = 0; y < out.height; y++) out.pixels.insert(out.pixels.end(), img.Row(y), img.Row(y) + size_t{1} * out.width * out.colors);
  return out;
}

double Psnr(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size() || a.empty()) return 0.0;
  double sum = 0;
  for (size_t i = 0; i < a.size(); i++) sum += (static_cast<double>(a[i]) - b[i]) * (static_cast<double>(a[i]) - b[i]);
  return sum == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * static_cast<double>(a.size()) / sum);
}

double Psnr(const Image& a, const Image& b) {
  if (a.width != b.width || a.height != b.height || a.colors != b.colors) return 0.0;
  return Psnr(a.pixels, b.pixels);
}


}  // namespace testing_support
