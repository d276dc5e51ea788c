// fuzz_support.h - what the libFuzzer targets share: taking parameters from
// the front of the input, a memory source that cuts its data into refill
// pieces and stores the decoder's 0xFF guard byte after every refill, a
// memory sink, ASCII85 text made by the library's own encoder, reading
// every line of a decoded image, a host stream that fails on one transfer,
// and reading every byte of an output so the sanitizers see it. Everything
// is deterministic: the same input always takes the same path.
#ifndef JPEG_FUZZ_SUPPORT_H
#define JPEG_FUZZ_SUPPORT_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "a85_filters.h"
#include "decode/jpeg_filter_query.h"
#include "jpeg_filters.h"
#include "jpeg_stream.h"
#include "stm.h"
#include "stream/stm_inline.h"
#include "stream/stm_procs.h"

namespace fuzz {

// Stops the run loudly when an expectation about the library fails: the
// exception ends a fuzz run (uncaught) and fails a replay test (caught).
#ifndef FUZZ_FAIL
#define FUZZ_FAIL(what) throw std::runtime_error(what)
#endif
#define FUZZ_CHECK(cond)                                                                  \
  do {                                                                                    \
    if (!(cond)) FUZZ_FAIL(std::string(__FILE__ ":") + std::to_string(__LINE__) + ": " #cond); \
  } while (0)

// Takes parameters byte by byte from the front of the input; an exhausted
// input answers zeros.
class Params {
 public:
  Params(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return size_ == 0 ? 0 : (size_--, *data_++); }
  uint16_t U16() {
    const uint16_t high = Byte();
    return static_cast<uint16_t>(high << 8 | Byte());
  }
  uint32_t U32() {
    const uint32_t high = U16();
    return high << 16 | U16();
  }
  // Up to n bytes of the input (fewer when it runs out); the rest with n = -1.
  std::vector<uint8_t> Bytes(size_t n = SIZE_MAX) {
    if (n > size_) n = size_;
    std::vector<uint8_t> out(data_, data_ + n);
    data_ += n;
    size_ -= n;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
};

// A small generator for piece sizes and sample values, seeded from the input.
struct Lcg {
  uint32_t state;
  uint32_t Next() {
    state = state * 1103515245u + 12345u;
    return state >> 8;
  }
};

// Adds up every byte so that each one is read (and checked by ASan).
inline void Touch(const uint8_t* p, size_t n) {
  volatile unsigned sum = 0;
  for (size_t i = 0; i < n; i++) sum = sum + p[i];
}

// The one in-memory source and sink of the fuzz targets and the tests
// (tests/support wraps them). The source hands out its data in refill
// pieces, each followed by the guard byte the decoder relies on; `pattern`
// cuts the pieces (by its low two bits): whole buffers, a fixed size of
// 1..64, that size alternating with single bytes, or scattered sizes of
// 1..97; `pieceFn`, when set, cuts them instead. The decoders must give the
// same result for any cut.
struct MemorySource {
  Stm stm;
  const uint8_t* data;
  size_t size;
  size_t position;
  size_t pieces;
  uint8_t pattern;
  std::vector<uint8_t> buffer;
  std::function<size_t(size_t)> pieceFn;
};

inline size_t PieceSize(MemorySource* src) {
  const size_t k = src->pieces++, p = src->pattern;
  if (src->pieceFn) return std::max<size_t>(1, src->pieceFn(k));
  switch (p & 3) {
    case 0: return src->stm.bufSize;
    case 1: return (p >> 2) + 1;
    case 2: return k % 2 ? (p >> 2) + 1 : 1;
    default: return 1 + (k * 2654435761u + p) % 97;
  }
}

inline int16_t MemorySourceFill(Stm* s) {
  auto* src = static_cast<MemorySource*>(s->procData);
  if (s->eof || s->error) return -1;
  const size_t n = std::min({PieceSize(src), size_t{s->bufSize}, src->size - src->position});
  if (n != 0) std::memcpy(src->buffer.data(), src->data + src->position, n);
  src->position += n;
  s->base = src->buffer.data();
  return StmRefillWithGuard(s, n);
}

inline void InitSource(MemorySource* src, const uint8_t* data, size_t size, uint16_t bufSize,
                       uint8_t pattern = 0) {
  std::memset(&src->stm, 0, sizeof src->stm);
  src->data = data;
  src->size = size;
  src->position = src->pieces = 0;
  src->pattern = pattern;
  src->buffer.assign(size_t{bufSize} + 1, 0);
  src->stm.procData = src;
  src->stm.bufSize = bufSize;
  src->stm.ptr = src->stm.base = src->buffer.data();
  src->stm.filBuf = &MemorySourceFill;
  src->stm.flsBuf = &StmRefuseFlush;
}

// A sink collecting what is written into it, through a buffer of `piece`
// bytes; it refuses every byte beyond `failAfter` (its error flag set, as a
// full disk would).
constexpr size_t kNeverFails = SIZE_MAX;
struct MemorySink {
  Stm stm;
  std::vector<uint8_t> out;
  std::vector<uint8_t> buffer;
  size_t failAfter;
};

inline int16_t MemorySinkFlush(int16_t c, Stm* s) {
  auto* sink = static_cast<MemorySink*>(s->procData);
  if (s->error || s->eof) return -1;
  const size_t n = static_cast<size_t>(s->ptr - s->base);
  if (sink->out.size() + n > sink->failAfter) {
    s->error = 1;
    s->count = 0;
    return -1;
  }
  sink->out.insert(sink->out.end(), s->base, s->ptr);
  return StmRestartWrite(c, s);
}

inline void InitSink(MemorySink* sink, uint16_t piece, size_t failAfter = kNeverFails) {
  std::memset(&sink->stm, 0, sizeof sink->stm);
  sink->out.clear();
  sink->buffer.assign(piece, 0);
  sink->failAfter = failAfter;
  sink->stm.procData = sink;
  sink->stm.bufSize = piece;
  sink->stm.count = static_cast<int16_t>(piece);
  sink->stm.ptr = sink->stm.base = sink->buffer.data();
  sink->stm.flsBuf = &MemorySinkFlush;
  sink->stm.filBuf = &StmRefuseFill;
}

// What the sink took, with what it still buffers (unless it failed).
inline std::vector<uint8_t> SinkContents(const MemorySink& sink) {
  std::vector<uint8_t> all = sink.out;
  if (!sink.stm.error) all.insert(all.end(), sink.stm.base, sink.stm.ptr);
  return all;
}
inline void DrainSink(MemorySink* sink) {
  sink->out = SinkContents(*sink);
  sink->stm.ptr = sink->stm.base;
}

// The bytes as ASCII85 text, written by the library's own encode filter
// through a sink of `piece` bytes (small pieces make groups straddle flushes).
inline std::vector<uint8_t> A85Text(const uint8_t* data, size_t size, uint16_t piece = 4096) {
  MemorySink sink;
  InitSink(&sink, piece);
  Stm* a85 = A85EOpen(&sink.stm, nullptr);
  FUZZ_CHECK(a85 != nullptr);
  if (size != 0) FUZZ_CHECK(StmFWrite(data, 1, static_cast<uint32_t>(size), a85) == size);
  FUZZ_CHECK(!a85->error);
  A85EClose(a85);
  DrainSink(&sink);
  return sink.out;
}

// `rows` lines of `lineBytes`, cut down to `maxSamples` bytes (at least one line).
inline int64_t AffordableRows(int64_t rows, int64_t lineBytes, int64_t maxSamples) {
  const int64_t affordable = maxSamples / (lineBytes > 0 ? lineBytes : 1);
  return rows < affordable ? rows : (affordable > 0 ? affordable : 1);
}

// Reads up to `rows` lines of `lineBytes` from a decode filter's stream,
// stopping after `maxSamples`, and reads every byte of each (a line of more
// than 32767 bytes comes in pieces, one per fill); keeps the lines in `kept`
// when given. Answers the lines read.
inline int64_t ReadLines(Stm* s, int64_t rows, int64_t lineBytes, int64_t maxSamples,
                         std::vector<std::vector<uint8_t>>* kept = nullptr) {
  rows = AffordableRows(rows, lineBytes, maxSamples);
  std::vector<uint8_t> line(kept != nullptr && lineBytes > 0 ? static_cast<size_t>(lineBytes) : 0);
  for (int64_t y = 0; y < rows; y++) {
    for (int64_t at = 0; at < lineBytes;) {
      if (s->filBuf(s) != 0) return y;
      int32_t start = 0, bytes = 0;
      JPEGDLinePiece(s, &start, &bytes);
      FUZZ_CHECK(start == at && bytes > 0 && start + bytes <= lineBytes);
      Touch(s->base, static_cast<size_t>(bytes));
      if (kept != nullptr) std::memcpy(line.data() + start, s->base, static_cast<size_t>(bytes));
      at += bytes;
    }
    if (lineBytes <= 0 && s->filBuf(s) != 0) return y;
    if (kept != nullptr) kept->push_back(line);
  }
  return rows;
}

// Runs a host call; answers false when it raised HostFailure.
template <typename Body> bool Succeeds(Body&& body) {
  try {
    body();
  } catch (const HostFailure&) {
    return false;
  }
  return true;
}

// A memory stream whose failingCall-th transfer (1-based; 0 never) raises code.
class FailingStream : public TMemoryStream {
 public:
  FailingStream(std::vector<uint8_t> contents, int failingCall, int16_t code)
      : TMemoryStream(std::move(contents)), failingCall_(failingCall), code_(code) {}
  int32_t GetLength() override { return Count(), TMemoryStream::GetLength(); }
  void GetBytes(int32_t count, void* buffer) override { Count(), TMemoryStream::GetBytes(count, buffer); }
  void PutBytes(int32_t count, const void* buffer) override { Count(), TMemoryStream::PutBytes(count, buffer); }

 private:
  void Count() {
    if (++calls_ == failingCall_) Failure(code_, 0);
  }
  int failingCall_, calls_ = 0;
  int16_t code_;
};

}  // namespace fuzz

#endif
