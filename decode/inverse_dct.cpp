// inverse_dct.cpp - the decoder's dequantization scale and inverse DCT.
//
// The inverse DCT is a scaled separable integer transform (an AAN-style flow
// graph): the per-coefficient factors its flow graph needs are folded into
// the quantization tables once per scan (DCTDScaleQT), so the entropy decoder
// (huffman_sequential.cpp) dequantizes with one multiplication per coefficient and
// DCTrev_transform needs five multiplications per 8-point pass. The level
// shift of +128 and the rounding to nearest ride on the DC coefficient.
//
// Every step is 32-bit two's-complement arithmetic with wrap-around (through
// wrap_arith.h), because hostile streams can feed any coefficient values; the
// final clamp keeps the samples in 0..255 whatever happened before. The
// exact order of shifts and multiplications below fixes the output bytes;
// the short cuts for blocks whose non-zero coefficients stay in row 0 or
// column 0 give exactly the bytes of the full transform. A reduced image
// (scaleDenominator above 1) has its blocks placed and, below 8 x 8,
// transformed by scaled_idct.cpp.
#include <cstring>

#include "codec/wrap_arith.h"
#include "decode/decoder.h"
#include "simd/kernels.h"

// Entry i = round(32768 / (a(u) * a(v))), (u, v) = (row, column) of the
// natural position DCTunzigzag[i], a(0) = 1, a(n) = sqrt(2) * cos(n * pi / 16).
// Computed offline in double precision (e.g. with Python's math module) and
// rounded to nearest; 32768 = 2^15 is the fixed-point unit the transform's
// final shift by 18 divides out together with the 1/8 of the 2-D IDCT.
const uint32_t DCTDQScale[64] = {
    32768, 23624,  23624,  25080,  17032,  25080,  27867,  18081,
    18081, 27867,  32768,  20091,  19195,  20091,  32768,  41706,
    23624, 21328,  21328,  23624,  41706,  60547,  30068,  25080,
    23699, 25080,  30068,  60547,  118768, 43652,  31920,  27867,
    27867, 31920,  43652,  118768, 85627,  46341,  35468,  32768,
    35468, 46341,  85627,  90901,  51491,  41706,  41706,  51491,
    90901, 101004, 60547,  53081,  60547,  101004, 118768, 77062,
    77062, 118768, 151163, 111877, 151163, 219455, 219455, 430476,
};

void DCTDScaleQT(DCTState* state, int32_t* table, int32_t index) {
  (void)state;
  (void)index;
  for (int i = 0; i < 64; ++i) {
    // A 16-bit DQT quantizer times up to 430476 may exceed 2^31: the low 32
    // bits of the product are the multiplier the decoder uses.
    table[i] = WrapMul(table[i], static_cast<int32_t>(DCTDQScale[i]));
  }
}

namespace {

// Fixed-point constants of the flow graph.
constexpr int32_t kInvSqrt2 = 181;          // 1/sqrt(2) in 1/256 units
constexpr int32_t kSqrt2Cos1 = 10703;       // sqrt(2) * cos(pi/8) in 1/8192 units
constexpr int32_t kSin1 = 3135;             // sin(pi/8) in 1/8192 units
constexpr int32_t kSqrt2Sin1 = 4433;        // sqrt(2) * sin(pi/8) in 1/8192 units
constexpr int kShift181 = 8;                // pre-shift before multiplying by 181
constexpr int kShift13 = 13;                // pre-shift before the 13-bit constants
constexpr int kOutShift = 18;               // 2^15 quantizer scale * 8 (the 2-D 1/8)
// (128 << 18) + (1 << 17): the level shift plus one half for rounding.
constexpr int32_t kDCBias = (128 << kOutShift) + (1 << (kOutShift - 1));

// One 8-point pass over in[0], in[stride], ..., in[7 * stride] into y[0..7].
// Zero inputs need no special form: the compiler-vectorized full pass costs
// less than branching to per-extent forms (measured), and the three cases
// that do skip work (DC only, row 0 only, column 0 only) are handled below.
inline void Pass1D(const int32_t* in, int stride, int32_t* y) {
  const int32_t x0 = in[0];
  const int32_t x1 = in[1 * stride];
  const int32_t x2 = in[2 * stride];
  const int32_t x3 = in[3 * stride];
  const int32_t x4 = in[4 * stride];
  const int32_t x5 = in[5 * stride];
  const int32_t x6 = in[6 * stride];
  const int32_t x7 = in[7 * stride];

  // Odd part.
  const int32_t a = WrapAdd(x1, x7);
  const int32_t b = WrapSub(x1, x7);
  const int32_t s = WrapAdd(x3, x5);
  const int32_t d = WrapSub(x3, x5);
  const int32_t p = WrapMul(WrapSub(a, s) >> kShift181, kInvSqrt2);
  const int32_t m = WrapMul(WrapSub(b, d) >> kShift13, kSin1);
  const int32_t q = WrapSub(WrapMul(b >> kShift13, kSqrt2Cos1), m);
  const int32_t r = WrapSub(m, WrapMul(d >> kShift13, kSqrt2Sin1));
  const int32_t o0 = WrapAdd(WrapAdd(a, s), q);
  const int32_t o1 = WrapAdd(q, p);
  const int32_t o2 = WrapAdd(p, r);
  const int32_t o3 = r;

  // Even part.
  const int32_t g = WrapMul(WrapSub(x2, x6) >> kShift181, kInvSqrt2);
  const int32_t h = WrapAdd(g, WrapAdd(x2, x6));
  const int32_t sum04 = WrapAdd(x0, x4);
  const int32_t dif04 = WrapSub(x0, x4);
  const int32_t e0 = WrapAdd(sum04, h);
  const int32_t e3 = WrapSub(sum04, h);
  const int32_t e1 = WrapAdd(dif04, g);
  const int32_t e2 = WrapSub(dif04, g);

  y[0] = WrapAdd(e0, o0);
  y[7] = WrapSub(e0, o0);
  y[1] = WrapAdd(e1, o1);
  y[6] = WrapSub(e1, o1);
  y[2] = WrapAdd(e2, o2);
  y[5] = WrapSub(e2, o2);
  y[3] = WrapAdd(e3, o3);
  y[4] = WrapSub(e3, o3);
}

// Final descale and clamp of one sample.
inline uint8_t ToSample(int32_t v) {
  v >>= kOutShift;
  v = v < 0 ? 0 : v;
  v = v > 255 ? 255 : v;
  return static_cast<uint8_t>(v);
}

// Writes one byte value to 8 consecutive samples.
inline void Fill8(uint8_t* out, uint8_t value) { std::memset(out, value, 8); }

// Column pass, in place, over columns 0..kColumns-1 (columns side by side,
// which the compiler turns into vector code). A column of zeros stays zero,
// so transforming a few columns past lastCol changes nothing.
template <int kColumns>
void ColumnPass(int32_t* block) {
  for (int j = 0; j < kColumns; ++j) {
    int32_t y[8];
    Pass1D(block + j, 8, y);
    for (int n = 0; n < 8; ++n) block[8 * n + j] = y[n];
  }
}

// Row pass with the rows side by side (vector code again): the results
// land transposed, are clamped as one array and stored row by row.
void RowPass(const int32_t* block, uint8_t* out, int32_t stride) {
  int32_t res[64];
  for (int r = 0; r < 8; ++r) {
    int32_t y[8];
    Pass1D(block + 8 * r, 1, y);
    for (int n = 0; n < 8; ++n) res[8 * n + r] = y[n];
  }
  uint8_t bytes[64];
  for (int i = 0; i < 64; ++i) bytes[i] = ToSample(res[i]);
  for (int r = 0; r < 8; ++r) {
    for (int n = 0; n < 8; ++n) out[r * stride + n] = bytes[8 * n + r];
  }
}

// Only row 0 may be non-zero: the column pass would copy every row-0 value
// to all eight rows, so all eight output rows are the transform of row 0.
[[gnu::noinline]] void RowZeroOnly(const int32_t* block, uint8_t* out, int32_t stride) {
  int32_t y[8];
  Pass1D(block, 1, y);
  for (int n = 0; n < 8; ++n) out[n] = ToSample(y[n]);
  for (int r = 1; r < 8; ++r) std::memcpy(out + r * stride, out, 8);
}

// Only column 0 may be non-zero: after its column pass each row's pass gets
// only its first value, which it copies to all eight outputs.
[[gnu::noinline]] void ColumnZeroOnly(int32_t* block, uint8_t* out, int32_t stride) {
  ColumnPass<1>(block);
  for (int r = 0; r < 8; ++r) Fill8(out + r * stride, ToSample(block[8 * r]));
}

// A block at full size: the level shift and rounding on the DC, then the
// short cuts or the full transform.
inline void TransformFullSize(int32_t* block, uint8_t* out, int32_t stride, int32_t lastCol, int32_t lastRow) {
  block[0] = WrapAdd(block[0], kDCBias);
  if (lastRow == 0) {
    if (lastCol == 0) {  // DC only: one value for the whole block
      const uint8_t v = ToSample(block[0]);
      for (int r = 0; r < 8; ++r) Fill8(out + r * stride, v);
      return;
    }
    RowZeroOnly(block, out, stride);
    return;
  }
  if (lastCol == 0) {
    ColumnZeroOnly(block, out, stride);
    return;
  }
  DCTActiveKernels().inverseDCT(block, out, stride, lastCol);
}

// A reduced image (scaled_idct.cpp): the block's place, and below 8 x 8 its
// own transform. Out of line, so that the full-size path needs no saved
// registers.
[[gnu::noinline]] void TransformReduced(DCTState* state, int32_t* block, uint8_t* out, int32_t lastCol,
                                       int32_t lastRow, const DCTComponent* comp) {
  const int32_t side = DCTComponentSide(state, comp);
  out = DCTDScaledPlace(out, comp, side);
  if (side < 8) {
    DCTDScaledTransform(block, out, lastCol, lastRow, comp->stripWidth, side);
    return;
  }
  TransformFullSize(block, out, comp->stripWidth, lastCol, lastRow);
}

}  // namespace

void DCTrev_transform(DCTState* state, int32_t* block, uint8_t* out, int32_t lastCol,
                      int32_t lastRow, const DCTComponent* comp) {
  if (state->scaleDenominator > 1) return TransformReduced(state, block, out, lastCol, lastRow, comp);
  TransformFullSize(block, out, comp->stripWidth, lastCol, lastRow);
}

void DCTInverseDCTScalar(int32_t* block, uint8_t* out, int32_t stride, int32_t lastCol) {
  // Columns past lastCol are zero; half the columns suffice when lastCol < 4.
  if (lastCol < 4) {
    ColumnPass<4>(block);
  } else {
    ColumnPass<8>(block);
  }
  RowPass(block, out, stride);
}
