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
// a block is two passes of an s x 8 matrix (simd/reduce_weights.h; the
// 1/2 pass also runs as a vector kernel, kernels.h). At 1/8 the
// mean is the DC term alone. The block's coefficients arrive dequantized and
// scaled for the full-size transform (DCTDQScale, inverse_dct.cpp); the
// weights undo that scale. Sums are 64-bit: whatever the coefficients a
// hostile stream gives, nothing overflows, and the clamp keeps 0..255.
#include <cstddef>

#include "codec/wrap_arith.h"
#include "decode/decoder.h"
#include "simd/kernels.h"
#include "simd/reduce_weights.h"

namespace {

// What the full-size transform adds to the DC coefficient (2^18 units).
constexpr int32_t kDCBias = (128 << 18) + (1 << 17);

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
  v >>= kReduceOutShift;
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
    for (int k = 0; k < kSide; ++k) mid[k][v] = (y[k] + kReducePassRound) >> kReduceWeightBits;
  }
  for (int k = 0; k < kSide; ++k) {
    int64_t y[kSide];
    Pass<kSide>(w, mid[k], 1, y);
    for (int n = 0; n < kSide; ++n) out[k * stride + n] = Clamp(y[n] + kReduceOutBias);
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
    Reduce<2>(kReduceWeights2, block, lastCol, at, stride);
  } else {
    if (DCTActiveKernels().reduceBlock4(block, lastCol, at, stride) != 0) DCTDReduceBlock4Scalar(block, lastCol, at, stride);
  }
}

int32_t DCTDReduceBlock4Scalar(const int32_t* block, int32_t lastCol, uint8_t* out, int32_t stride) {
  Reduce<4>(kReduceWeights4, block, lastCol, out, stride);
  return 0;
}
