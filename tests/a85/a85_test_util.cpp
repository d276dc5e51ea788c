// a85_test_util.cpp - the reference ASCII85 coder and the filter drivers of
// the ASCII85 tests (see a85_test_util.h).
#include "a85/a85_test_util.h"

#include <random>

#include "a85_filters.h"

namespace a85test {

using testing_support::MemSink;
using testing_support::MemSource;

namespace {

const uint64_t kPow85[5] = {1, 85, 85 * 85, 85 * 85 * 85, 85ull * 85 * 85 * 85};

// The five base-85 digits of a 32-bit value, most significant first.
std::string Digits(uint64_t value) {
  std::string d;
  for (int k = 4; k >= 0; k--) {
    d += static_cast<char>('!' + (value / kPow85[k]) % 85);
  }
  return d;
}

uint64_t GroupAt(const Bytes& data, size_t i) {
  uint64_t v = 0;
  for (size_t k = 0; k < 4; k++) v = v * 256 + (i + k < data.size() ? data[i + k] : 0);
  return v;
}

// The characters of every group, without line breaks.
std::vector<std::string> Groups(const Bytes& data, bool useZ) {
  std::vector<std::string> groups;
  const size_t whole = data.size() / 4 * 4;
  for (size_t i = 0; i < whole; i += 4) {
    const uint64_t v = GroupAt(data, i);
    groups.push_back(useZ && v == 0 ? std::string("z") : Digits(v));
  }
  if (data.size() > whole) {
    groups.push_back(Digits(GroupAt(data, whole)).substr(0, data.size() - whole + 1));
  }
  return groups;
}

bool IsWhite(char c) { return c == ' ' || (c >= 8 && c <= 13); }

}  // namespace

std::string RefEncode(const Bytes& data, int lineLimit, bool useZ, bool endMarker) {
  std::vector<std::string> groups = Groups(data, useZ);
  const bool partial = data.size() % 4 != 0;
  std::string text;
  int column = 0;
  for (size_t g = 0; g < groups.size(); g++) {
    const bool last = partial && g + 1 == groups.size();
    if (column >= lineLimit && !last) {
      text += '\n';
      column = 0;
    }
    text += groups[g];
    column += static_cast<int>(groups[g].size());
  }
  if (endMarker) text += "~>";
  return text;
}

std::string RefEncodeWrapped(const Bytes& data, size_t lineLength, const std::string& newline,
                             bool endMarker) {
  std::string flat;
  for (const std::string& g : Groups(data, true)) flat += g;
  std::string text;
  for (size_t i = 0; i < flat.size(); i += lineLength) {
    text += flat.substr(i, lineLength) + newline;
  }
  if (endMarker) text += "~>" + newline;  // the marker is never cut
  return text;
}

bool RefDecode(const std::string& text, Bytes* out) {
  out->clear();
  std::string group;
  auto flush = [&](size_t n) {  // n digits pending
    std::string padded = group + std::string(5 - n, 'u');
    uint64_t v = 0;
    for (char c : padded) v = v * 85 + static_cast<uint64_t>(c - '!');
    if (v > 0xFFFFFFFFull) return false;
    const size_t bytes = n == 5 ? 4 : n - 1;
    for (size_t k = 0; k < bytes; k++) {
      out->push_back(static_cast<uint8_t>(v >> (24 - 8 * k)));
    }
    group.clear();
    return true;
  };
  for (size_t i = 0; i < text.size(); i++) {
    const char c = text[i];
    if (IsWhite(c)) continue;
    if (c == '~') {
      if (i + 1 >= text.size() || text[i + 1] != '>') return false;
      break;
    }
    if (c == 'z' && group.empty()) {
      out->insert(out->end(), 4, 0);
      continue;
    }
    if (c < '!' || c > 'u') return false;
    group += c;
    if (group.size() == 5 && !flush(5)) return false;
  }
  if (group.size() == 1) return false;
  return group.empty() || flush(group.size());
}

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& v : b) v = static_cast<uint8_t>(rng());
  return b;
}

Bytes ZeroHeavyBytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n, 0);
  size_t i = 0;
  while (i < n) {
    const size_t run = 1 + rng() % 23;
    const bool nonzero = rng() % 4 == 0;
    for (size_t k = 0; k < run && i < n; k++, i++) {
      b[i] = nonzero ? static_cast<uint8_t>(1 + rng() % 255) : 0;
    }
  }
  return b;
}

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

namespace {

// Reads the decode filter to its end with single-byte reads, refilling with
// the filter's own procedure so every fill can be checked.
void ReadByBytes(Stm* s, Decoded* d) {
  for (;;) {
    while (s->count > 0) {
      d->data.push_back(*s->ptr++);
      s->count--;
    }
    const int16_t c = s->filBuf(s);
    if (c < 0) break;
    d->data.push_back(static_cast<uint8_t>(c));
    if (s->ptr[s->count] != 0xFF) d->sentinelsOk = false;  // right after the fill's bytes
  }
  if (s->base[0] != 0xFF) d->sentinelsOk = false;
  if (s->filBuf(s) != -1) d->sentinelsOk = false;  // the end stays the end
}

void FinishDecode(Stm* s, MemSource* source, Decoded* d) {
  d->eof = s->eof != 0;
  d->error = s->error != 0;
  d->sourceConsumed = source->consumed();
  A85DClose(s);
}

}  // namespace

Decoded DecodeWithFilter(const Bytes& text, MemSource::PieceFn pieceSize) {
  MemSource source(text, std::move(pieceSize));
  Decoded d;
  Stm* s = A85DOpen(source.stm(), nullptr);
  if (s == nullptr) return d;
  ReadByBytes(s, &d);
  FinishDecode(s, &source, &d);
  return d;
}

Decoded DecodeWithFilter(const std::string& text, size_t pieceSize) {
  return DecodeWithFilter(ToBytes(text), [pieceSize](size_t) { return pieceSize; });
}

Decoded DecodeInRuns(const std::string& text, size_t pieceSize, uint32_t run) {
  MemSource source(ToBytes(text), pieceSize);
  Decoded d;
  Stm* s = A85DOpen(source.stm(), nullptr);
  if (s == nullptr) return d;
  Bytes chunk(run);
  for (;;) {
    const uint32_t got = StmFRead(chunk.data(), 1, run, s);
    d.data.insert(d.data.end(), chunk.begin(), chunk.begin() + got);
    if (got < run) break;
  }
  FinishDecode(s, &source, &d);
  return d;
}

Encoded EncodeWithFilter(const Bytes& data, uint16_t sinkBufSize, uint32_t seed) {
  MemSink sink(sinkBufSize);
  Encoded e;
  Stm* s = A85EOpen(sink.stm(), nullptr);
  if (s == nullptr) return e;
  std::mt19937 rng(seed);
  size_t i = 0;
  while (i < data.size()) {
    const size_t run = std::min<size_t>(data.size() - i, rng() % 3 == 0 ? 1 : rng() % 5000);
    if (run == 1) {
      os_fputc(data[i], s);
    } else {
      StmFWrite(&data[i], 1, static_cast<uint32_t>(run), s);
    }
    i += run;
  }
  e.error = s->error != 0;
  e.lines = A85EClose(s);
  const Bytes out = sink.Contents();
  e.text.assign(out.begin(), out.end());
  return e;
}

}  // namespace a85test
