// reduce_weights.h - the weights of the reduced inverse DCT that decodes an
// image at 1/2 and 1/4 (decode/scaled_idct.cpp, and its AVX2 form in
// kernels_avx2.cpp), with the fixed-point units both share.
//
// Weight of input u for output k of an 8 -> s pass, s = 4 or 2: with
// a(0) = 1, a(u) = sqrt(2) cos(u pi / 16) the scale folded into the
// quantizers and C(0) = 1 / sqrt(2), C(u) = 1 otherwise,
//   W(k, u) = a(u) * (s / 8) * sum over x in [8k/s, 8(k+1)/s) of
//             C(u) / 2 * cos((2x + 1) u pi / 16),
// in 1/2^18 units, computed offline in double precision (e.g. with Python's
// math module) and rounded to nearest. Row s-1-k is row k with the odd
// columns negated, which the passes use; input 4 never contributes to the
// mean of a sample pair.
#ifndef JPEG_SIMD_REDUCE_WEIGHTS_H
#define JPEG_SIMD_REDUCE_WEIGHTS_H

#include <cstdint>

constexpr int kReduceWeightBits = 18;  // the weights' fixed-point unit, 2^18
// The block's coefficients carry 2^15 (the decoder's dequantizing scale);
// the second pass adds the weights' 2^18 again.
constexpr int kReduceOutShift = kReduceWeightBits + 15;
// The level shift of +128 and one half for rounding to nearest.
constexpr int64_t kReduceOutBias = (int64_t{128} << kReduceOutShift) + (int64_t{1} << (kReduceOutShift - 1));
constexpr int64_t kReducePassRound = int64_t{1} << (kReduceWeightBits - 1);

constexpr int32_t kReduceWeights4[2][8] = {
    {92682, 164736, 111877, 49041, 0, -21895, -19195, -6518},
    {92682, 68236, -111877, -118395, 0, 52859, 19195, -2700},
};
constexpr int32_t kReduceWeights2[1][8] = {
    {92682, 116486, 0, -34677, 0, 15482, 0, -4609},
};

#endif
