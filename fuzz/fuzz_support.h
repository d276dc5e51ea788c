// fuzz_support.h - what the libFuzzer targets share: taking parameters from
// the front of the input, a memory source that stores the decoder's 0xFF
// guard byte after every refill, a memory sink, and reading every byte of
// an output so the sanitizers see it. Everything is deterministic: the same
// input always takes the same path.
#ifndef JPEG_FUZZ_SUPPORT_H
#define JPEG_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "stm.h"

namespace fuzz {

// Takes parameters byte by byte from the front of the input; an exhausted
// input answers zeros.
class Params {
 public:
  Params(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() {
    if (size_ == 0) return 0;
    size_--;
    return *data_++;
  }
  uint16_t U16() {
    const uint16_t high = Byte();
    return static_cast<uint16_t>(high << 8 | Byte());
  }
  uint32_t U32() {
    const uint32_t high = U16();
    return high << 16 | U16();
  }
  // A number in 0 .. n-1 (n > 0).
  uint32_t Below(uint32_t n) { return U16() % n; }
  // Up to n bytes of the input (fewer when it runs out).
  std::vector<uint8_t> Bytes(size_t n) {
    if (n > size_) n = size_;
    std::vector<uint8_t> out(data_, data_ + n);
    data_ += n;
    size_ -= n;
    return out;
  }
  const uint8_t* Rest() const { return data_; }
  size_t Left() const { return size_; }

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
  unsigned sum = 0;
  for (size_t i = 0; i < n; i++) sum += p[i];
  volatile unsigned sink = sum;
  (void)sink;
}

// A source handing out bytes in pieces of `piece` bytes, each followed by
// the guard byte the decoder relies on.
struct MemorySource {
  Stm stm;
  const uint8_t* data;
  size_t size;
  size_t position;
  std::vector<uint8_t> buffer;
};

inline int16_t MemorySourceFill(Stm* s) {
  auto* src = static_cast<MemorySource*>(s->procData);
  if (s->eof || s->error) return -1;
  if (src->position >= src->size) {
    s->eof = 1;
    s->count = 0;
    return -1;
  }
  size_t n = s->bufSize;
  if (n > src->size - src->position) n = src->size - src->position;
  std::memcpy(src->buffer.data(), src->data + src->position, n);
  src->buffer[n] = 0xFF;
  src->position += n;
  s->ptr = s->base = src->buffer.data();
  s->count = static_cast<int16_t>(n - 1);
  return *s->ptr++;
}

inline void InitSource(MemorySource* src, const uint8_t* data, size_t size, uint16_t piece) {
  std::memset(&src->stm, 0, sizeof src->stm);
  src->data = data;
  src->size = size;
  src->position = 0;
  src->buffer.assign(size_t{piece} + 1, 0);
  src->stm.procData = src;
  src->stm.bufSize = piece;
  src->stm.ptr = src->stm.base = src->buffer.data();
  src->stm.filBuf = &MemorySourceFill;
}

// A sink collecting what is written into it, through a buffer of `piece`
// bytes; with `failAfter` > 0 it refuses every byte beyond that many (its
// error flag set, as a full disk would).
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
  if (sink->failAfter != 0 && sink->out.size() + n > sink->failAfter) {
    s->error = 1;
    s->count = 0;
    return -1;
  }
  sink->out.insert(sink->out.end(), s->base, s->ptr);
  s->ptr = s->base;
  s->count = static_cast<int16_t>(s->bufSize);
  if (c < 0) {
    s->eof = 1;
    s->count = 0;
    return -1;
  }
  *s->ptr++ = static_cast<uint8_t>(c);
  s->count--;
  return c;
}

inline void InitSink(MemorySink* sink, uint16_t piece, size_t failAfter) {
  std::memset(&sink->stm, 0, sizeof sink->stm);
  sink->out.clear();
  sink->buffer.assign(piece, 0);
  sink->failAfter = failAfter;
  sink->stm.procData = sink;
  sink->stm.bufSize = piece;
  sink->stm.count = static_cast<int16_t>(piece);
  sink->stm.ptr = sink->stm.base = sink->buffer.data();
  sink->stm.flsBuf = &MemorySinkFlush;
}

// Moves what the sink still buffers into its output.
inline void DrainSink(MemorySink* sink) {
  if (!sink->stm.error) sink->out.insert(sink->out.end(), sink->stm.base, sink->stm.ptr);
  sink->stm.ptr = sink->stm.base;
}

// Stops the run loudly when an expectation about the library fails. The
// replay test defines FUZZ_FAIL to turn the failure into a test failure.
#ifndef FUZZ_FAIL
#define FUZZ_FAIL(what)                        \
  do {                                         \
    std::fprintf(stderr, "%s\n", what);        \
    std::abort();                              \
  } while (0)
#endif
#define FUZZ_STRINGIFY2(x) #x
#define FUZZ_STRINGIFY(x) FUZZ_STRINGIFY2(x)
#define FUZZ_CHECK(cond)                                                                      \
  do {                                                                                        \
    if (!(cond)) FUZZ_FAIL(__FILE__ ":" FUZZ_STRINGIFY(__LINE__) ": check failed: " #cond); \
  } while (0)

}  // namespace fuzz

#endif
