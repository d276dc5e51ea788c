// fuzz_a85_decode.cpp - libFuzzer target for the ASCII85 decode filter.
//
// The first input byte picks how the source cuts the text into refills; the
// rest is the text. Every decoded byte is read, the 0xFF after each fill is
// checked, and the same text is decoded again from one whole buffer: the
// bytes and the end state must not depend on where the source's buffers
// end. The decoded bytes are then encoded and decoded once more, which must
// give them back unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "a85_filters.h"
#include "stream/stm_inline.h"

namespace {

// A source handing out `data` in pieces, with a 0xFF guard byte after each.
struct PieceSource {
  Stm stm;
  const uint8_t* data;
  size_t size;
  size_t pos;
  uint32_t schedule;  // picks the piece sizes; 0: pieces of 1024
  uint8_t buffer[1024 + 1];
};

int16_t PieceFill(Stm* s) {
  PieceSource* src = static_cast<PieceSource*>(s->procData);
  if (src->pos >= src->size) {
    s->eof = 1;
    s->count = 0;
    return -1;
  }
  size_t n = 1024;
  if (src->schedule != 0) {
    src->schedule = src->schedule * 1103515245u + 12345u;
    n = 1 + (src->schedule >> 16) % 1024;
    if ((src->schedule >> 8) % 4 == 0) n = 1 + n % 7;  // often tiny pieces
  }
  if (n > src->size - src->pos) n = src->size - src->pos;
  std::memcpy(src->buffer, src->data + src->pos, n);
  src->buffer[n] = 0xFF;
  src->pos += n;
  s->ptr = src->buffer + 1;
  s->count = static_cast<int16_t>(n - 1);
  return src->buffer[0];
}

void InitSource(PieceSource* src, const uint8_t* data, size_t size, uint32_t schedule) {
  std::memset(&src->stm, 0, sizeof src->stm);
  src->stm.ptr = src->stm.base = src->buffer;
  src->stm.bufSize = 1024;
  src->stm.procData = src;
  src->stm.filBuf = &PieceFill;
  src->data = data;
  src->size = size;
  src->pos = 0;
  src->schedule = schedule;
}

struct Result {
  std::vector<uint8_t> bytes;
  bool error;
};

// Decodes the text, cut into pieces as `schedule` says.
Result Decode(const uint8_t* text, size_t size, uint32_t schedule) {
  PieceSource src;
  InitSource(&src, text, size, schedule);
  Stm* s = A85DOpen(&src.stm, nullptr);
  if (s == nullptr) abort();
  Result r{{}, false};
  for (;;) {
    const int16_t c = s->filBuf(s);
    if (c < 0) break;
    if (s->ptr[s->count] != 0xFF) abort();  // the byte after the fill's data
    r.bytes.push_back(static_cast<uint8_t>(c));
    r.bytes.insert(r.bytes.end(), s->ptr, s->ptr + s->count);
    s->count = 0;
  }
  if (s->base[0] != 0xFF || !s->eof) abort();
  if (s->filBuf(s) != -1) abort();
  r.error = s->error != 0;
  A85DClose(s);
  return r;
}

// A sink collecting what the encoder writes.
struct Sink {
  Stm stm;
  std::vector<uint8_t>* out;
  uint8_t buffer[61];  // small, so groups straddle its flushes
};

int16_t SinkFlush(int16_t c, Stm* s) {
  Sink* sink = static_cast<Sink*>(s->procData);
  sink->out->insert(sink->out->end(), s->base, s->ptr);
  return StmRestartWrite(c, s);  // bufSize is the sink buffer's size
}

std::vector<uint8_t> Encode(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> text;
  Sink sink;
  std::memset(&sink.stm, 0, sizeof sink.stm);
  sink.out = &text;
  sink.stm.ptr = sink.stm.base = sink.buffer;
  sink.stm.count = sizeof sink.buffer;
  sink.stm.bufSize = sizeof sink.buffer;
  sink.stm.procData = &sink;
  sink.stm.flsBuf = &SinkFlush;
  Stm* s = A85EOpen(&sink.stm, nullptr);
  if (s == nullptr) abort();
  if (!bytes.empty() && StmFWrite(bytes.data(), 1, static_cast<uint32_t>(bytes.size()), s) !=
                            bytes.size()) {
    abort();
  }
  if (s->error) abort();
  A85EClose(s);
  text.insert(text.end(), sink.stm.base, sink.stm.ptr);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 << 16) return 0;
  const uint32_t schedule = data[0] + 1u;
  const Result pieces = Decode(data + 1, size - 1, schedule);
  const Result whole = Decode(data + 1, size - 1, 0);
  if (pieces.bytes != whole.bytes || pieces.error != whole.error) abort();
  const std::vector<uint8_t> text = Encode(whole.bytes);
  const Result again = Decode(text.data(), text.size(), schedule);
  if (again.bytes != whole.bytes || again.error) abort();
  return 0;
}
