// raster_header.cpp - the 18-byte raster header that the library exports
// for callers outside it: the header layout of an uncompressed TGA image,
// little-endian (type 3 for grey, 2 for colour; width, height, bits per pixel).
// It lives with the codec because reading it fills a codec state.
#include "codec/codec_state.h"
#include "stream/stm_inline.h"

namespace {

constexpr int kRasterHeaderBytes = 18;

}  // namespace

extern "C" {

int32_t vs_init_out(Stm* out, int32_t kind, int32_t width, int32_t height, int32_t colors) {
  if (kind != 1) return 0;
  uint8_t header[kRasterHeaderBytes] = {};
  header[2] = colors == 1 ? 3 : 2;  // image type: grey or true colour
  header[12] = static_cast<uint8_t>(width);
  header[13] = static_cast<uint8_t>(width >> 8);
  header[14] = static_cast<uint8_t>(height);
  header[15] = static_cast<uint8_t>(height >> 8);
  header[16] = static_cast<uint8_t>(colors * 8);  // bits per pixel
  int16_t last = 0;
  for (uint8_t byte : header) last = StmPutByte(byte, out);
  return last == -1 ? 1 : 0;
}

// A byte that could not be read (-1) takes part in the arithmetic as -1.
int32_t vs_init_in(DCTState* state, Stm* in, int32_t) {
  int32_t bytes[kRasterHeaderBytes];
  for (int32_t& b : bytes) b = StmGetByte(in);
  state->Columns = bytes[12] + bytes[13] * 256;
  state->Rows = bytes[14] + bytes[15] * 256;
  state->Colors = bytes[16] / 8;
  return bytes[kRasterHeaderBytes - 1] == -1 ? 1 : 0;
}

}  // extern "C"
