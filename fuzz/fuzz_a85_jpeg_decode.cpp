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
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "decode/jpeg_filter_query.h"
#include "jpeg_filters.h"

namespace {

// The text with white space inserted every few characters (never inside the
// closing "~>").
std::vector<uint8_t> Sprinkle(const std::vector<uint8_t>& text, uint8_t mode) {
  static const uint8_t kWhite[] = {'\n', '\r', ' ', '\t', '\b'};
  std::vector<uint8_t> out;
  const size_t every = 1 + mode % 29;
  for (size_t i = 0; i < text.size(); i++) {
    out.push_back(text[i]);
    if (i + 2 < text.size() && i % every == 0) out.push_back(kWhite[(i + mode) % 5]);
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 << 18) return 0;
  const uint8_t mode = data[0];
  const std::vector<uint8_t> text = mode & 1 ? std::vector<uint8_t>(data + 1, data + size)
                                             : Sprinkle(fuzz::A85Text(data + 1, size - 1), mode);
  fuzz::MemorySource src;
  fuzz::InitSource(&src, text.data(), text.size(), 512, mode | 3);  // scattered pieces
  Stm* a85 = A85DOpen(&src.stm, nullptr);
  if (a85 == nullptr) return 0;
  int16_t width = 0, height = 0, colorCode = -1;
  Stm* jpeg = JPEGDOpen(a85, &width, &height, &colorCode);
  if (jpeg != nullptr) {
    fuzz::ReadLines(jpeg, static_cast<uint16_t>(height), JPEGDLineBytes(jpeg), 1 << 22);
    JPEGDClose(jpeg);
  }
  A85DClose(a85);
  return 0;
}
