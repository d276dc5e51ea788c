// scaled_idct.cpp - decoding an image reduced by 2, 4 or 8 inside the
// inverse DCT, so that no full-size sample is ever made.
//
// With scaleDenominator d the decoder's lines are ceil(width / d) pixels
// long and there are ceil(height / d) of them (DCTDScaleGeometry). Every
// block becomes s x s samples, s = 8 / d, and the line driver
// (marker_parser.cpp) hands out s x Vmax lines per strip. A subsampled
// component gets larger blocks where its sampling leaves room, up to 8 x 8
// (DCTComponentSide, codec_state.h: 4:2:0 chroma at 1/2 is transformed at
// full size), so it is upsampled less, or not at all; the output stage
// (raster_output.cpp) upsamples what is left. The entropy decoders and the
// coefficient store are the same for every d: they address a block on the
// full-size grid of its strip, and DCTDScaledPlace finds the block's place in
// the reduced strip from that address.
//
// Each reduced sample is the mean of the d x d full-size samples it stands
// for, computed from the coefficients directly: the mean of consecutive
// outputs of the 1-D inverse DCT is again a weighted sum of the inputs, so
// a block is two passes of an s x 8 matrix (kWeights4, kWeights2). At 1/8 the
// mean is the DC term alone. The block's coefficients arrive dequantized and
// scaled for the full-size transform (DCTDQScale, inverse_dct.cpp); the
// weights undo that scale. Sums are 64-bit: whatever the coefficients a
// hostile stream gives, nothing overflows, and the clamp keeps 0..255.
#include <cstddef>

#include "codec/wrap_arith.h"
#include "decode/decoder.h"

namespace {

constexpr int kWeightBits = 18;  // the weights' fixed-point unit, 2^18
// The block's coefficients carry 2^15 (DCTDQScale); the second pass adds the
// weights' 2^18 again.
constexpr int kOutShift = kWeightBits + 15;
// The level shift of +128 and one half for rounding to nearest.
constexpr int64_t kOutBias = (int64_t{128} << kOutShift) + (int64_t{1} << (kOutShift - 1));
constexpr int64_t kPassRound = int64_t{1} << (kWeightBits - 1);
// What the full-size transform adds to the DC coefficient (2^18 units).
constexpr int32_t kDCBias = (128 << 18) + (1 << 17);

// Weight of input u for output k of an 8 -> s pass, s = 4 or 2: with
// a(0) = 1, a(u) = sqrt(2) cos(u pi / 16) the scale folded into the
// quantizers and C(0) = 1 / sqrt(2), C(u) = 1 otherwise,
//   W(k, u) = a(u) * (s / 8) * sum over x in [8k/s, 8(k+1)/s) of
//             C(u) / 2 * cos((2x + 1) u pi / 16),
// in 1/2^18 units, computed offline in double precision (e.g. with Python's
// math module) and rounded to nearest. Row s-1-k is row k with the odd
// columns negated, which the passes use; input 4 never contributes to the
// mean of a sample pair.
constexpr int32_t kWeights4[2][8] = {
    {92682, 164736, 111877, 49041, 0, -21895, -19195, -6518},
    {92682, 68236, -111877, -118395, 0, 52859, 19195, -2700},
};
constexpr int32_t kWeights2[1][8] = {
    {92682, 116486, 0, -34677, 0, 15482, 0, -4609},
};

// One 8 -> kSide pass over in[0], in[stride], ..., in[7 * stride] with the
// weight rows w: outputs k and kSide-1-k share the even and odd sums.
template <int kSide, typename T>
inline void Pass(const int32_t (*w)[8], const T* in, int stride, int64_t* y) {
  for (int k = 0; k < kSide / 2; ++k) {
    int64_t even = 0, odd = 0;
    for (int u = 0; u < 8; u += 2) even += int64_t{w[k][u]} * in[u * stride];
    for (int u = 1; u < 8; u += 2) odd += int64_t{w[k][u]} * in[u * stride];
    y[k] = even + odd;
    y[kSide - 1 - k] = even - odd;
  }
}

inline uint8_t Clamp(int64_t v) {
  v >>= kOutShift;
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Columns first (only columns 0..lastCol can be non-zero), then rows.
template <int kSide>
void Reduce(const int32_t (*w)[8], const int32_t* block, int32_t lastCol, uint8_t* out,
            int32_t stride) {
  int64_t mid[kSide][8] = {};  // mid[k][v]: column v reduced, in coefficient units
  for (int v = 0; v <= lastCol && v < 8; ++v) {
    int64_t y[kSide];
    Pass<kSide>(w, block + v, 8, y);
    for (int k = 0; k < kSide; ++k) mid[k][v] = (y[k] + kPassRound) >> kWeightBits;
  }
  for (int k = 0; k < kSide; ++k) {
    int64_t y[kSide];
    Pass<kSide>(w, mid[k], 1, y);
    for (int n = 0; n < kSide; ++n) out[k * stride + n] = Clamp(y[n] + kOutBias);
  }
}

// The block's mean, as the full-size transform makes a DC-only block.
inline uint8_t Mean(int32_t dc) {
  const int32_t v = WrapAdd(dc, kDCBias) >> 18;
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

void Fill(uint8_t* out, int32_t stride, int32_t side, uint8_t value) {
  for (int32_t r = 0; r < side; ++r) {
    for (int32_t n = 0; n < side; ++n) out[r * stride + n] = value;
  }
}

int32_t CeilDiv(int32_t a, int32_t b) { return (a + b - 1) / b; }

}  // namespace

void DCTDScaleGeometry(DCTState* state) {
  state->frameColumns = state->Columns;
  state->frameRows = state->Rows;
  const int32_t d = state->scaleDenominator;
  if (d <= 1) return;
  state->Columns = CeilDiv(state->Columns, d);
  state->Rows = CeilDiv(state->Rows, d);
}

uint8_t* DCTDScaledPlace(uint8_t* out, const DCTComponent* comp, int32_t side) {
  const ptrdiff_t stride = comp->stripWidth;
  const ptrdiff_t gridRow = 8 * stride;  // one block row on the full-size grid
  const ptrdiff_t offset = out - comp->strip;
  return comp->strip + side * ((offset / gridRow) * stride + (offset % gridRow) / 8);
}

void DCTDScaledTransform(const int32_t* block, uint8_t* at, int32_t lastCol, int32_t lastRow,
                         int32_t stride, int32_t side) {
  if (side == 1 || (lastCol == 0 && lastRow == 0)) {
    Fill(at, stride, side, Mean(block[0]));
  } else if (side == 2) {
    Reduce<2>(kWeights2, block, lastCol, at, stride);
  } else {
    Reduce<4>(kWeights4, block, lastCol, at, stride);
  }
}
