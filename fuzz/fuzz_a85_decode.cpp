// fuzz_a85_decode.cpp - libFuzzer target for the ASCII85 decode filter.
//
// The first input byte picks how the source cuts the text into refills; the
// rest is the text. Every decoded byte is read, the 0xFF after each fill is
// checked, and the same text is decoded again from whole buffers: the bytes
// and the end state must not depend on where the source's buffers end. The
// decoded bytes are then encoded and decoded once more, which must give them
// back unchanged.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"

namespace {

struct Result {
  std::vector<uint8_t> bytes;
  bool error;
};

// Decodes the text, cut into pieces as `pattern` says.
Result Decode(const uint8_t* text, size_t size, uint8_t pattern) {
  fuzz::MemorySource src;
  fuzz::InitSource(&src, text, size, 1024, pattern);
  Stm* s = A85DOpen(&src.stm, nullptr);
  FUZZ_CHECK(s != nullptr);
  Result r{{}, false};
  for (int16_t c; (c = s->filBuf(s)) >= 0; s->count = 0) {
    FUZZ_CHECK(s->ptr[s->count] == 0xFF);  // the byte after the fill's data
    r.bytes.push_back(static_cast<uint8_t>(c));
    r.bytes.insert(r.bytes.end(), s->ptr, s->ptr + s->count);
  }
  FUZZ_CHECK(s->base[0] == 0xFF && s->eof && s->filBuf(s) == -1);
  r.error = s->error != 0;
  A85DClose(s);
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 << 16) return 0;
  const Result pieces = Decode(data + 1, size - 1, data[0]);
  const Result whole = Decode(data + 1, size - 1, 0);
  FUZZ_CHECK(pieces.bytes == whole.bytes && pieces.error == whole.error);
  const std::vector<uint8_t> text = fuzz::A85Text(whole.bytes.data(), whole.bytes.size(), 61);
  const Result again = Decode(text.data(), text.size(), data[0]);
  FUZZ_CHECK(again.bytes == whole.bytes && !again.error);
  return 0;
}
