// bench_encode.cpp - the "encode" suite: the benchmark photograph (about
// 8 MP RGB) compressed through the JPEG encode filter into memory, against
// libjpeg-turbo compressing the same pixels in the same run:
//   subsampled and blended at QFactor 0.76  vs  quality 75, 4:2:0
//   full resolution at QFactor 1.0          vs  quality 75, 4:4:4
// Run with JSIMD_FORCENONE=1 to compare against libjpeg-turbo's plain C code.
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench_common.h"
#include "jpeg_filters.h"

namespace {

// A target that appends the encoded bytes to a vector kept across runs (its
// capacity is reserved once, so runs measure the encoder, not the vector).
struct VectorTarget {
  std::vector<uint8_t> bytes;
  uint8_t buffer[16384];
  Stm stm{};

  static int16_t Flush(int16_t c, Stm* s) {
    auto* self = static_cast<VectorTarget*>(s->procData);
    self->bytes.insert(self->bytes.end(), s->base, s->ptr);
    s->ptr = s->base;
    s->count = static_cast<int16_t>(s->bufSize);
    if (c == -1) return -1;
    s->count--;
    *s->ptr++ = static_cast<uint8_t>(c);
    return c;
  }
  void Reset() {
    bytes.clear();
    stm = Stm{};
    stm.procData = this;
    stm.bufSize = sizeof buffer;
    stm.count = static_cast<int16_t>(sizeof buffer);
    stm.ptr = stm.base = buffer;
    stm.flsBuf = Flush;
  }
  void Finish() { bytes.insert(bytes.end(), stm.base, stm.ptr); }
};

// Encodes img through the filter, one raster line per write; returns bytes.
size_t EncodeWithFilter(const bench::Image& img, double quality, bool subsample, VectorTarget* t,
                        int threads = 0) {
  t->Reset();
  JPEGEncodeParams p{};
  p.QFactor = quality;
  p.subsample = subsample ? 1 : 0;
  p.blend = subsample ? 1 : 0;
  p.Columns = img.width;
  p.Rows = img.height;
  p.Colors = static_cast<int16_t>(img.colors);
  Stm* s = JPEGOpen(&t->stm, &p);
  if (s == nullptr) {
    std::fprintf(stderr, "jpegbench: encoder refused the image: %s\n", JPEGLastErrorMessage());
    return 0;
  }
  if (threads != 0) JPEGSetCodingThreads(s, threads);
  const size_t line = static_cast<size_t>(img.width) * img.colors;
  for (int y = 0; y < img.height; y++) StmFWrite(&img.pixels[y * line], 1, static_cast<uint32_t>(line), s);
  JPEGClose(s);
  t->Finish();
  return t->bytes.size();
}

void RunCase(const bench::Image& img, const char* label, double quality, bool subsample) {
  const double mp = img.width * static_cast<double>(img.height) / 1e6;
  VectorTarget target;
  target.bytes.reserve(img.pixels.size());
  size_t ours = 0, theirs = 0;
  const double tOurs = bench::BestSeconds([&] { ours = EncodeWithFilter(img, quality, subsample, &target); });
  const double tTheirs = bench::BestSeconds([&] { theirs = bench::LibjpegEncode(img, 75, subsample).size(); });
  char name[160];
  std::snprintf(name, sizeof name, "ours %s QFactor %.2f (%zu bytes)", label, quality, ours);
  bench::PrintRate(name, mp, "MP", tOurs);
  std::snprintf(name, sizeof name, "libjpeg-turbo %s q75 (%zu bytes)", subsample ? "4:2:0" : "4:4:4", theirs);
  bench::PrintRate(name, mp, "MP", tTheirs);
  bench::PrintRatio(std::string("speed ratio ours/libjpeg-turbo, ") + label, tTheirs, tOurs);
}

VectorTarget gLastTarget;

}  // namespace

size_t bench::EncodeOurs(const bench::Image& img, bool subsample420, int threads) {
  return EncodeWithFilter(img, subsample420 ? 0.76 : 1.0, subsample420, &gLastTarget, threads);
}

size_t bench::EncodeOursAt(const bench::Image& img, double qFactor, bool subsample420) {
  return EncodeWithFilter(img, qFactor, subsample420, &gLastTarget);
}

const std::vector<uint8_t>& bench::LastEncodedOurs() { return gLastTarget.bytes; }

namespace {

void EncodeSuite() {
  const bench::Image& img = bench::BigPhoto();
  std::printf("  image %d x %d x %d\n", img.width, img.height, img.colors);
  RunCase(img, "2x2 blend", 0.76, true);
  RunCase(img, "1x1", 1.0, false);
}

}  // namespace

JPEG_BENCH_SUITE("encode", EncodeSuite);
