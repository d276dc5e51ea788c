// bench_common.cpp - the shared pieces of jpegbench (see bench_common.h) and
// its main program.
#include "bench_common.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include <jpeglib.h>

namespace bench {
namespace {

std::map<std::string, SuiteFn>& Suites() {
  static std::map<std::string, SuiteFn> suites;
  return suites;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    std::fprintf(stderr, "jpegbench: cannot open %s\n", path.c_str());
    std::exit(1);
  }
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  return bytes;
}

Image LibjpegDecode(const std::vector<uint8_t>& jpeg) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  Image img;
  img.width = static_cast<int>(cinfo.output_width);
  img.height = static_cast<int>(cinfo.output_height);
  img.colors = cinfo.output_components;
  img.pixels.resize(static_cast<size_t>(img.width) * img.height * img.colors);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = &img.pixels[static_cast<size_t>(cinfo.output_scanline) * img.width * img.colors];
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return img;
}

// Mirrors `src` into an n x n tiling, every other tile flipped so that the
// seams stay smooth.
Image MirrorTile(const Image& src, int n) {
  Image out;
  out.width = src.width * n;
  out.height = src.height * n;
  out.colors = src.colors;
  out.pixels.resize(static_cast<size_t>(out.width) * out.height * out.colors);
  for (int y = 0; y < out.height; y++) {
    const int ty = y / src.height, ry = y % src.height;
    const int sy = ty % 2 ? src.height - 1 - ry : ry;
    for (int x = 0; x < out.width; x++) {
      const int tx = x / src.width, rx = x % src.width;
      const int sx = tx % 2 ? src.width - 1 - rx : rx;
      std::memcpy(&out.pixels[(static_cast<size_t>(y) * out.width + x) * out.colors],
                  &src.pixels[(static_cast<size_t>(sy) * src.width + sx) * src.colors],
                  static_cast<size_t>(src.colors));
    }
  }
  return out;
}

// A binary PPM (P6, maxval 255, no comments) as the test images are stored.
Image ReadPpm(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFile(path);
  Image img;
  int maxval = 0, used = 0;
  const std::string head(bytes.begin(), bytes.begin() + (bytes.size() < 64 ? bytes.size() : 64));
  if (std::sscanf(head.c_str(), "P6 %d %d %d%n", &img.width, &img.height, &maxval, &used) != 3 ||
      maxval != 255) {
    std::fprintf(stderr, "jpegbench: %s is not an 8-bit P6 file\n", path.c_str());
    std::exit(1);
  }
  img.colors = 3;
  const size_t size = static_cast<size_t>(img.width) * img.height * 3;
  const size_t start = static_cast<size_t>(used) + 1;  // one whitespace byte after maxval
  if (bytes.size() < start + size) {
    std::fprintf(stderr, "jpegbench: %s is truncated\n", path.c_str());
    std::exit(1);
  }
  img.pixels.assign(bytes.begin() + static_cast<long>(start), bytes.begin() + static_cast<long>(start + size));
  return img;
}

}  // namespace

const Image& DetailedPhoto() {
  static const Image img = MirrorTile(ReadPpm(JPEG_TESTDATA_DIR "/astronaut.ppm"), 8);
  return img;
}

const Image& NoiseImage() {
  static const Image img = [] {
    Image out;
    out.width = out.height = 2048;
    out.colors = 3;
    out.pixels.resize(static_cast<size_t>(out.width) * out.height * 3);
    uint32_t state = 0x9E3779B9u;  // xorshift32: the same image every run
    for (int y = 0; y < out.height; y++) {
      for (int x = 0; x < out.width; x++) {
        for (int c = 0; c < 3; c++) {
          state ^= state << 13;
          state ^= state >> 17;
          state ^= state << 5;
          const int base = (x * (c + 1) + y * (3 - c)) / 24 % 192;  // slow colour ramps
          out.pixels[(static_cast<size_t>(y) * out.width + x) * 3 + c] =
              static_cast<uint8_t>(base + static_cast<int>(state >> 26));  // + 0..63 of noise
        }
      }
    }
    return out;
  }();
  return img;
}

const Image& BigPhoto() {
  static const Image img = MirrorTile(LibjpegDecode(ReadFile(JPEG_TESTDATA_DIR "/retina.jpg")), 2);
  return img;
}

const Image& BigPhotoGrey() {
  static const Image grey = [] {
    const Image& rgb = BigPhoto();
    Image g;
    g.width = rgb.width;
    g.height = rgb.height;
    g.colors = 1;
    g.pixels.resize(static_cast<size_t>(g.width) * g.height);
    for (size_t i = 0; i < g.pixels.size(); i++) {
      const uint8_t* p = &rgb.pixels[i * 3];
      g.pixels[i] = static_cast<uint8_t>((19595 * p[0] + 38470 * p[1] + 7471 * p[2] + 32768) >> 16);
    }
    return g;
  }();
  return grey;
}

std::vector<uint8_t> LibjpegEncode(const Image& img, int quality, bool subsample420,
                                   bool progressive) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(img.width);
  cinfo.image_height = static_cast<JDIMENSION>(img.height);
  cinfo.input_components = img.colors;
  cinfo.in_color_space = img.colors == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  if (img.colors == 3) {
    int h = subsample420 ? 2 : 1;
    cinfo.comp_info[0].h_samp_factor = h;
    cinfo.comp_info[0].v_samp_factor = h;
  }
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(
        &img.pixels[static_cast<size_t>(cinfo.next_scanline) * img.width * img.colors]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

double BestSeconds(const std::function<void()>& fn, int minRuns, double minSeconds) {
  using clock = std::chrono::steady_clock;
  double best = 1e30, total = 0;
  for (int run = 0; run < minRuns || total < minSeconds; run++) {
    auto t0 = clock::now();
    fn();
    double s = std::chrono::duration<double>(clock::now() - t0).count();
    total += s;
    if (s < best) best = s;
    if (run > 1000) break;
  }
  return best;
}

void PrintRate(const std::string& label, double units, const char* unitName, double seconds) {
  std::printf("  %-52s %9.2f %s/s  (%.2f ms)\n", label.c_str(), units / seconds, unitName,
              seconds * 1e3);
}

void PrintRatio(const std::string& label, double ours, double theirs) {
  std::printf("  %-52s %9.2fx\n", label.c_str(), ours / theirs);
}

int RegisterSuite(const char* name, SuiteFn fn) {
  Suites()[name] = fn;
  return 0;
}

}  // namespace bench

int main(int argc, char** argv) {
  const auto& suites = bench::Suites();
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "--list") == 0)) {
    std::printf("usage: jpegbench [SUITE...]  (table: the headline ratios)\n       jpegbench --run|--run-peer ROW [N]  (one side of table row ROW, N times: for a profiler)\nsuites:");
    for (const auto& s : suites) std::printf(" %s", s.first.c_str());
    std::printf("\n");
    return 0;
  }
  if (argc > 2 && (std::strcmp(argv[1], "--run") == 0 || std::strcmp(argv[1], "--run-peer") == 0))
    return bench::RunTableRow(std::atoi(argv[2]), argc > 3 ? std::atoi(argv[3]) : 10,
                              std::strcmp(argv[1], "--run-peer") == 0);
  if (argc > 1 && std::strcmp(argv[1], "--peer-times") == 0) {
    bench::PrintPeerTimes();
    return 0;
  }
  const char* simd = std::getenv("JSIMD_FORCENONE");
  std::printf("jpegbench: libjpeg-turbo SIMD %s (JSIMD_FORCENONE=%s)\n",
              simd && std::strcmp(simd, "1") == 0 ? "off" : "on", simd ? simd : "unset");
  for (const auto& s : suites) {
    bool wanted = argc <= 1;
    for (int i = 1; i < argc; i++) wanted = wanted || s.first == argv[i];
    if (!wanted) continue;
    std::printf("[%s]\n", s.first.c_str());
    s.second();
  }
  return 0;
}

double bench::PhotoRate(double seconds) {
  const Image& img = BigPhoto();
  return seconds > 0 ? img.width * static_cast<double>(img.height) / 1e6 / seconds : 0;
}
