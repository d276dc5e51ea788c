// bench_a85.cpp - the "a85" suite: ASCII85 encode and decode throughput on a
// few megabytes of JPEG data (copies of the benchmark photograph compressed
// by libjpeg, end to end), with a plain memcpy of the same bytes in the same run for scale.
// Rates are in megabytes of binary data per second.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "a85_filters.h"
#include "bench/bench_common.h"
#include "stream/stm_inline.h"

namespace {

// Largest buffer a Stm can describe (its count is 16-bit signed).
constexpr size_t kStmBuffer = 32767;

// A sink appending what it is given to a growing byte vector.
struct VectorSink {
  Stm stm;
  std::vector<uint8_t>* out;
  std::vector<uint8_t> buffer;
};

int16_t SinkFlush(int16_t c, Stm* s) {
  auto* sink = static_cast<VectorSink*>(s->procData);
  sink->out->insert(sink->out->end(), s->base, s->ptr);
  return StmRestartWrite(c, s);
}

void InitSink(VectorSink* sink, std::vector<uint8_t>* out) {
  sink->buffer.assign(kStmBuffer, 0);
  sink->out = out;
  std::memset(&sink->stm, 0, sizeof sink->stm);
  sink->stm.ptr = sink->stm.base = sink->buffer.data();
  sink->stm.bufSize = kStmBuffer;
  sink->stm.count = kStmBuffer;
  sink->stm.procData = sink;
  sink->stm.flsBuf = &SinkFlush;
}

// A source handing out a byte vector in buffers of kStmBuffer bytes.
struct VectorSource {
  Stm stm;
  const std::vector<uint8_t>* data;
  size_t pos;
};

int16_t SourceFill(Stm* s) {
  auto* src = static_cast<VectorSource*>(s->procData);
  const size_t left = src->data->size() - src->pos;
  if (left == 0) {
    s->eof = 1;
    s->count = 0;
    return -1;
  }
  const size_t n = left < kStmBuffer ? left : kStmBuffer;
  // Reads straight out of the vector: the source owns no copy.
  s->base = s->ptr = const_cast<uint8_t*>(src->data->data() + src->pos);
  src->pos += n;
  s->ptr++;
  s->count = static_cast<int16_t>(n - 1);
  return s->base[0];
}

std::vector<uint8_t> EncodeText(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> text;
  text.reserve(data.size() * 5 / 4 + data.size() / 64 + 16);
  VectorSink sink;
  InitSink(&sink, &text);
  Stm* s = A85EOpen(&sink.stm, nullptr);
  StmFWrite(data.data(), 1, static_cast<uint32_t>(data.size()), s);
  A85EClose(s);
  text.insert(text.end(), sink.stm.base, sink.stm.ptr);
  return text;
}

size_t DecodeText(const std::vector<uint8_t>& text, std::vector<uint8_t>* out) {
  VectorSource src{};
  src.data = &text;
  src.stm.procData = &src;
  src.stm.filBuf = &SourceFill;
  Stm* s = A85DOpen(&src.stm, nullptr);
  const size_t n = StmFRead(out->data(), 1, static_cast<uint32_t>(out->size()), s);
  A85DClose(s);
  return n;
}

void RunA85() {
  const std::vector<uint8_t> photo = bench::LibjpegEncode(bench::BigPhoto(), 75, true);
  std::vector<uint8_t> jpeg;
  constexpr size_t kMinBytes = 4000000;  // a few megabytes, past every cache level
  while (jpeg.size() < kMinBytes) jpeg.insert(jpeg.end(), photo.begin(), photo.end());
  const double megabytes = jpeg.size() / 1e6;
  std::printf("a85: %.2f MB of JPEG data\n", megabytes);

  const std::vector<uint8_t> text = EncodeText(jpeg);
  std::vector<uint8_t> decoded(jpeg.size());
  if (DecodeText(text, &decoded) != jpeg.size() || decoded != jpeg) {
    std::printf("  a85: round trip FAILED\n");
    std::exit(1);
  }

  const double encode = bench::BestSeconds([&] { (void)EncodeText(jpeg); });
  const double decode = bench::BestSeconds([&] { (void)DecodeText(text, &decoded); });
  std::vector<uint8_t> copy(jpeg.size());
  const double copied = bench::BestSeconds([&] {
    std::memcpy(copy.data(), jpeg.data(), jpeg.size());
    __asm__ __volatile__("" : : "r"(copy.data()) : "memory");  // keep the copy
  });
  bench::PrintRate("ASCII85 encode", megabytes, "MB", encode);
  bench::PrintRate("ASCII85 decode", megabytes, "MB", decode);
  bench::PrintRate("memcpy of the same bytes", megabytes, "MB", copied);
  bench::PrintRatio("encode vs memcpy", copied, encode);
  bench::PrintRatio("decode vs memcpy", copied, decode);
}

}  // namespace

JPEG_BENCH_SUITE("a85", RunA85);
