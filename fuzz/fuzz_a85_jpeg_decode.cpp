// fuzz_a85_jpeg_decode.cpp - libFuzzer target for the read path of wrapped
// JPEG data: the JPEG decode filter reading through the ASCII85 decode
// filter, the way the host reads JPEG data embedded as text.
//
// The first input byte chooses the form of the rest: with its low bit clear
// the rest is JPEG data, which the target wraps as ASCII85 text itself
// (white space of the kind the first byte picks sprinkled in), so the
// fuzzer can work on the JPEG structure; with it set the rest is taken as
// text as it stands. The text reaches the ASCII85 decoder in pieces whose
// sizes the first byte also chooses. Every line the decoder delivers is
// read, up to a bound on the pixels so huge declared images stay quick.
#include <cstdint>
#include <cstring>
#include <vector>

#include "a85_filters.h"
#include "jpeg_filters.h"

namespace {

constexpr long kMaxSamples = 1 << 22;  // samples read per input at most

struct PieceSource {
  Stm stm;
  const std::vector<uint8_t>* text;
  size_t pos;
  uint32_t schedule;
  uint8_t buffer[512 + 1];
};

int16_t PieceFill(Stm* s) {
  PieceSource* src = static_cast<PieceSource*>(s->procData);
  const size_t left = src->text->size() - src->pos;
  if (left == 0) {
    s->eof = 1;
    s->count = 0;
    return -1;
  }
  src->schedule = src->schedule * 1103515245u + 12345u;
  size_t n = 1 + (src->schedule >> 16) % 512;
  if (n > left) n = left;
  std::memcpy(src->buffer, src->text->data() + src->pos, n);
  src->buffer[n] = 0xFF;  // the guard byte every source of compressed data stores
  src->pos += n;
  s->ptr = src->buffer + 1;
  s->count = static_cast<int16_t>(n - 1);
  return src->buffer[0];
}

// ASCII85 text of `data`, with white space after some groups.
std::vector<uint8_t> Wrap(const uint8_t* data, size_t size, uint8_t mode) {
  static const uint8_t kWhite[] = {'\n', '\r', ' ', '\t', '\b'};
  std::vector<uint8_t> text;
  for (size_t i = 0; i < size; i += 4) {
    uint32_t v = 0;
    const size_t n = size - i < 4 ? size - i : 4;
    for (size_t k = 0; k < 4; k++) v = v << 8 | (k < n ? data[i + k] : 0);
    if (v == 0 && n == 4) {
      text.push_back('z');
    } else {
      uint8_t digits[5];
      for (int k = 4; k >= 0; k--, v /= 85) digits[k] = static_cast<uint8_t>('!' + v % 85);
      text.insert(text.end(), digits, digits + n + 1);
    }
    if ((i / 4) % (1 + mode % 29) == 0) text.push_back(kWhite[(i / 4 + mode) % 5]);
  }
  text.push_back('~');
  text.push_back('>');
  return text;
}

int ColorsOf(int16_t colorCode) {
  switch (colorCode) {
    case 0: return 3;
    case 1: return 4;
    case 2: return 1;
    default: return 2;  // left unchanged for two components
  }
}

// Reads the lines of the image, touching every sample of each (so the
// sanitizer checks the whole line the decoder hands out).
void DecodeLines(Stm* jpeg, int16_t width, int16_t height, int16_t colorCode) {
  const long lineBytes = static_cast<long>(static_cast<uint16_t>(width)) * ColorsOf(colorCode);
  long samples = 0;
  volatile uint8_t sink = 0;
  // A line of more than 32767 bytes comes in pieces, one per fill.
  const long piece = lineBytes <= 32767 ? lineBytes : JPEG_LINE_PIECE_BYTES(ColorsOf(colorCode));
  for (int y = 0; y < height && samples < kMaxSamples; y++) {
    uint8_t sum = 0;
    long at = 0;
    do {
      if (jpeg->filBuf(jpeg) != 0) return;
      const long n = lineBytes - at < piece ? lineBytes - at : piece;
      for (long i = 0; i < n; i++) sum = static_cast<uint8_t>(sum + jpeg->base[i]);
      at += n;
    } while (at < lineBytes);
    sink = sum;
    samples += lineBytes > 0 ? lineBytes : 1;
  }
  (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 << 18) return 0;
  const uint8_t mode = data[0];
  const std::vector<uint8_t> text =
      mode & 1 ? std::vector<uint8_t>(data + 1, data + size) : Wrap(data + 1, size - 1, mode);
  PieceSource src;
  std::memset(&src.stm, 0, sizeof src.stm);
  src.stm.ptr = src.stm.base = src.buffer;
  src.stm.bufSize = 512;
  src.stm.procData = &src;
  src.stm.filBuf = &PieceFill;
  src.text = &text;
  src.pos = 0;
  src.schedule = mode;
  Stm* a85 = A85DOpen(&src.stm, nullptr);
  if (a85 == nullptr) return 0;
  int16_t width = 0, height = 0, colorCode = -1;
  Stm* jpeg = JPEGDOpen(a85, &width, &height, &colorCode);
  if (jpeg != nullptr) {
    DecodeLines(jpeg, width, height, colorCode);
    JPEGDClose(jpeg);
  }
  A85DClose(a85);
  return 0;
}
