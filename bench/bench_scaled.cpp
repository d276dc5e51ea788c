// bench_scaled.cpp - the "scaled" suite: decoding reduced by 2, 4 and 8
// (JPEGDOpenWithOptions with scaleDenominator) against libjpeg-turbo's
// reduced decode (scale_num / scale_denom, its defaults otherwise, as
// djpeg -scale 1/N) on the benchmark photograph, 4:2:0 and 4:4:4, in one
// run. Rates count the megapixels of the full-size image.
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "bench/bench_common.h"
#include "jpeg_filters.h"
#include "jpeg_options.h"

namespace {

constexpr size_t kPiece = 32767;  // largest Stm buffer (16-bit count)

// A memory source in 32 KB refills, each followed by the 0xFF guard byte.
struct ScaledSource {
  Stm stm;
  const std::vector<uint8_t>* data;
  size_t position;
  std::vector<uint8_t> buffer;
};

int16_t ScaledFill(Stm* s) {
  auto* src = static_cast<ScaledSource*>(s->procData);
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

unsigned DecodeOursScaled(const std::vector<uint8_t>& jpeg, int denom) {
  ScaledSource src{};
  src.data = &jpeg;
  src.buffer.resize(kPiece + 1);
  src.stm.procData = &src;
  src.stm.filBuf = &ScaledFill;
  src.stm.ptr = src.stm.base = src.buffer.data();
  JPEGDecodeOptions options{denom, nullptr, nullptr};
  int16_t width = 0, height = 0, colorCode = 0;
  Stm* s = JPEGDOpenWithOptions(&src.stm, &options, &width, &height, &colorCode);
  if (s == nullptr) {
    std::fprintf(stderr, "decode failed: %s\n", JPEGLastErrorMessage());
    return 0;
  }
  unsigned sum = 0;
  for (int y = 0; y < static_cast<uint16_t>(height) && JPEGDFilBuf(s) == 0; y++) sum += s->base[y % 7];
  JPEGDClose(s);
  return sum;
}

unsigned DecodeLibjpegScaled(const std::vector<uint8_t>& jpeg, int denom) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
  jpeg_read_header(&cinfo, TRUE);
  cinfo.scale_num = 1;
  cinfo.scale_denom = static_cast<unsigned>(denom);
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

volatile unsigned gSink;

void ScaledSuite() {
  const bench::Image& photo = bench::BigPhoto();
  const double megapixels = photo.width * static_cast<double>(photo.height) / 1e6;
  for (bool subsample : {true, false}) {
    const std::vector<uint8_t> jpeg = bench::LibjpegEncode(photo, 75, subsample);
    const char* layout = subsample ? "4:2:0" : "4:4:4";
    for (int denom : {2, 4, 8}) {
      std::printf("scaled decode 1/%d %dx%d %s q75 (%zu bytes)\n", denom, photo.width, photo.height, layout,
                  jpeg.size());
      const double ours = bench::BestSeconds([&] { gSink = DecodeOursScaled(jpeg, denom); });
      const double peer = bench::BestSeconds([&] { gSink = DecodeLibjpegScaled(jpeg, denom); });
      bench::PrintRate("ours", megapixels, "MP", ours);
      bench::PrintRate("libjpeg-turbo (scale_denom)", megapixels, "MP", peer);
      bench::PrintRatio("ours / libjpeg-turbo (scale_denom)", 1 / ours, 1 / peer);
    }
  }
}

}  // namespace

JPEG_BENCH_SUITE("scaled", ScaledSuite);
