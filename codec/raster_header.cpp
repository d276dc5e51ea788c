// raster_header.cpp - the 18-byte raster header that the library exports
// for callers outside it: the header layout of an uncompressed TGA image,
// little-endian (type 3 for grey, 2 for colour; width, height, bits per pixel).
// It lives with the codec because reading it fills a codec state.
#include "codec/codec_state.h"
#include "stream/stm_inline.h"

namespace {

constexpr int kRasterHeaderBytes = 18;
constexpr int kImageTypeAt = 2;     // 3 grey, 2 true colour
constexpr int kWidthAt = 12;        // 16 bits, little-endian
constexpr int kHeightAt = 14;       // 16 bits, little-endian
constexpr int kBitsPerPixelAt = 16;
constexpr uint8_t kGreyImage = 3, kTrueColourImage = 2;

}  // namespace

extern "C" {

int32_t vs_init_out(Stm* out, int32_t kind, int32_t width, int32_t height, int32_t colors) {
  if (kind != 1) return 0;
  uint8_t header[kRasterHeaderBytes] = {};
  header[kImageTypeAt] = colors == 1 ? kGreyImage : kTrueColourImage;
  header[kWidthAt] = static_cast<uint8_t>(width);
  header[kWidthAt + 1] = static_cast<uint8_t>(width >> 8);
  header[kHeightAt] = static_cast<uint8_t>(height);
  header[kHeightAt + 1] = static_cast<uint8_t>(height >> 8);
  header[kBitsPerPixelAt] = static_cast<uint8_t>(colors * 8);
  int16_t last = 0;
  for (uint8_t byte : header) last = StmPutByte(byte, out);
  return last == -1 ? 1 : 0;
}

// A byte that could not be read (-1) takes part in the arithmetic as -1.
int32_t vs_init_in(DCTState* state, Stm* in, int32_t) {
  int32_t bytes[kRasterHeaderBytes];
  for (int32_t& b : bytes) b = StmGetByte(in);
  state->Columns = bytes[kWidthAt] + bytes[kWidthAt + 1] * 256;
  state->Rows = bytes[kHeightAt] + bytes[kHeightAt + 1] * 256;
  state->Colors = bytes[kBitsPerPixelAt] / 8;
  return bytes[kRasterHeaderBytes - 1] == -1 ? 1 : 0;
}

}  // extern "C"
