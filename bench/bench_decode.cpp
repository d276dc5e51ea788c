// bench_decode.cpp - the "decode" suite: our decode filter against
// libjpeg-turbo on the benchmark photograph, 4:2:0 and 4:4:4, in one run.
// libjpeg-turbo runs twice: with its defaults (fancy upsampling) and with
// plain upsampling, which is what our decoder does. Run with
// JSIMD_FORCENONE=1 to compare against libjpeg-turbo without SIMD.
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "bench/bench_common.h"
#include "jpeg_filters.h"

namespace {

constexpr size_t kPiece = 32767;  // largest Stm buffer (16-bit count)

// A memory source in 32 KB refills, each followed by the 0xFF guard byte.
struct BenchSource {
  Stm stm;
  const std::vector<uint8_t>* data;
  size_t position;
  std::vector<uint8_t> buffer;
};

int16_t BenchFill(Stm* s) {
  auto* src = static_cast<BenchSource*>(s->procData);
  const size_t left = src->data->size() - src->position;
  if (left == 0) {
    s->eof = 1;
    s->count = 0;
    return -1;
  }
  const size_t n = left < kPiece ? left : kPiece;
  std::memcpy(src->buffer.data(), src->data->data() + src->position, n);
  src->buffer[n] = 0xFF;
  src->position += n;
  s->ptr = s->base = src->buffer.data();
  s->count = static_cast<int16_t>(n - 1);
  return *s->ptr++;
}

}  // namespace

// Decodes the whole image through our filter; returns a checksum.
unsigned bench::DecodeOurs(const std::vector<uint8_t>& jpeg, int threads) {
  BenchSource src{};
  src.data = &jpeg;
  src.buffer.resize(kPiece + 1);
  src.stm.procData = &src;
  src.stm.filBuf = &BenchFill;
  src.stm.ptr = src.stm.base = src.buffer.data();
  int16_t width = 0, height = 0, colorCode = 0;
  Stm* s = JPEGDOpen(&src.stm, &width, &height, &colorCode);
  if (s == nullptr) {
    std::fprintf(stderr, "decode failed: %s\n", JPEGLastErrorMessage());
    return 0;
  }
  if (threads != 0) JPEGSetCodingThreads(s, threads);
  unsigned sum = 0;
  for (int y = 0; y < static_cast<uint16_t>(height) && JPEGDFilBuf(s) == 0; y++) sum += s->base[y % 7];
  JPEGDClose(s);
  return sum;
}

unsigned bench::DecodeLibjpeg(const std::vector<uint8_t>& jpeg, bool fancy) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.do_fancy_upsampling = fancy ? TRUE : FALSE;
  jpeg_start_decompress(&cinfo);
  std::vector<uint8_t> line(static_cast<size_t>(cinfo.output_width) * cinfo.output_components);
  unsigned sum = 0;
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = line.data();
    jpeg_read_scanlines(&cinfo, &row, 1);
    sum += line[cinfo.output_scanline % 7];
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return sum;
}

namespace {

volatile unsigned gSink;

void DecodeSuite() {
  const bench::Image& photo = bench::BigPhoto();
  const double megapixels = photo.width * static_cast<double>(photo.height) / 1e6;
  for (bool subsample : {true, false}) {
    const std::vector<uint8_t> jpeg = bench::LibjpegEncode(photo, 75, subsample);
    const char* layout = subsample ? "4:2:0" : "4:4:4";
    std::printf("decode %dx%d %s q75 (%zu bytes)\n", photo.width, photo.height, layout, jpeg.size());
    const double ours = bench::BestSeconds([&] { gSink = bench::DecodeOurs(jpeg); });
    const double fancy = bench::BestSeconds([&] { gSink = bench::DecodeLibjpeg(jpeg, true); });
    const double plain = bench::BestSeconds([&] { gSink = bench::DecodeLibjpeg(jpeg, false); });
    bench::PrintRate("ours", megapixels, "MP", ours);
    bench::PrintRate("libjpeg-turbo (default)", megapixels, "MP", fancy);
    bench::PrintRate("libjpeg-turbo (no fancy upsampling)", megapixels, "MP", plain);
    bench::PrintRatio("ours / libjpeg-turbo (default)", 1 / ours, 1 / fancy);
    bench::PrintRatio("ours / libjpeg-turbo (no fancy upsampling)", 1 / ours, 1 / plain);
  }
}

}  // namespace

JPEG_BENCH_SUITE("decode", DecodeSuite);
