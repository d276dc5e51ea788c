// forward_dct.cpp - the encoder's forward DCT and the scaling of its
// quantization tables.
//
// DCTTransform is a scaled integer DCT of the Arai-Agui-Nakajima
// factorisation: a row pass in 16.16 fixed point with four integer
// multiplies per butterfly, then a column pass that multiplies by shifts and
// adds only. Its outputs carry the AAN scale factors (coefficient 8v + u is
// 65536 x 8 x a(u) x a(v) x F(v, u), F the DCT of ITU-T T.81 A.3.3), and
// DCTEScaleQT folds those factors into the quantization tables once per
// image, so the block coder (block_coder.cpp) quantizes a coefficient with a
// single division and tests the dead zone with a single comparison.
#include "codec/wrap_arith.h"
#include "encode/encoder.h"
#include "simd/kernels.h"

// Entry (r, c) is round(4 x a(r) x a(c) x 65536), a(0) = 1 and
// a(k) = sqrt(2) x cos(k x pi / 16). Entry (6, 5) is 111467, one below the
// rounded value of its mirror (5, 6); streams written so far rely on it.
const uint32_t DCTEQScale[64] = {
    262144, 363604, 342508, 308249, 262144, 205965, 141871, 72325,
    363604, 504333, 475072, 427553, 363604, 285682, 196781, 100318,
    342508, 475072, 447508, 402746, 342508, 269107, 185364, 94498,
    308249, 427553, 402746, 362462, 308249, 242189, 166823, 85046,
    262144, 363604, 342508, 308249, 262144, 205965, 141871, 72325,
    205965, 285682, 269107, 242189, 205965, 161826, 111468, 56826,
    141871, 196781, 185364, 166823, 141871, 111467, 76780,  39142,
    72325,  100318, 94498,  85046,  72325,  56826,  39142,  19955};

// Largest |F(u, v)| of an AC coefficient over all blocks of 8-bit samples,
// rounded up; entry 8v + u, the DC entry unused (0). A coefficient is a sum
// of the samples weighted by w(x, y) = 1/4 C(u) C(v) cos((2x+1)u pi/16)
// cos((2y+1)v pi/16), and the weights of an AC coefficient sum to 0, so its
// extreme is 127.5 x sum |w|: samples of 255 where w is positive and 0
// elsewhere. The sum separates into per-axis sums: 1020 where u and v are
// each 0 or 4, down to 838 where both are odd. The transform above matches
// these extremes within a hundredth of a unit.
const uint16_t DCTEACPeak[64] = {
    0,    925, 943, 925, 1020, 925, 943, 925,
    925,  838, 854, 838, 925,  838, 854, 838,
    943,  854, 871, 854, 943,  854, 871, 854,
    925,  838, 854, 838, 925,  838, 854, 838,
    1020, 925, 943, 925, 1020, 925, 943, 925,
    925,  838, 854, 838, 925,  838, 854, 838,
    943,  854, 871, 854, 943,  854, 871, 854,
    925,  838, 854, 838, 925,  838, 854, 838};

namespace {

// The samples are never level-shifted; the offset is removed from the DC
// coefficient alone, after the transform.
constexpr int32_t kLevelShift = DCTELevelShift;

// Row pass: samples 0..255 in, 16.16 out. The multipliers are 0.7071,
// 0.3827, 0.5412 and 1.3066 in 16.16 fixed point. Intermediates stay below
// 2^28 in magnitude, so plain int32 arithmetic cannot overflow; K shifts
// values that may be negative, hence ShiftLeft.
struct RowPass {
  static int32_t K(int32_t x) { return ShiftLeft(x, 16); }
  static int32_t M1(int32_t x) { return x * 46336; }
  static int32_t M2(int32_t x) { return x * 25080; }
  static int32_t M3(int32_t x) { return x * 35464; }
  static int32_t M4(int32_t x) { return x * 85632; }
};

// Column pass: the same four constants as sums of arithmetic shifts (each
// shift rounds toward minus infinity). The column inputs are at most
// 8 x 255 x 65536 in magnitude and every intermediate stays inside int32.
struct ColumnPass {
  static int32_t K(int32_t x) { return x; }
  static int32_t M1(int32_t x) {  // 0.70703
    const int32_t p = x + (x >> 2);
    return ((((x >> 4) + p) >> 3) + p) >> 1;
  }
  static int32_t M2(int32_t x) {  // 0.38269
    return ((x - (x >> 2)) >> 1) + ((x - (x >> 6)) >> 7);
  }
  static int32_t M3(int32_t x) {  // 0.54114
    const int32_t p = x + (x >> 4);
    return ((((p >> 2) + x) >> 6) + p) >> 1;
  }
  static int32_t M4(int32_t x) {  // 1.30664
    return x + (x >> 2) + (x >> 4) - ((x - (x >> 2)) >> 7);
  }
};

// One 8-point AAN butterfly: reads in[0], in[step], ..., in[7 x step] and
// writes the eight scaled outputs to out[0], out[step], ... (in and out may
// be the same array: every input is read before the first output is stored).
template <class Pass, class Sample>
inline void Butterfly(const Sample* in, int32_t* out, int step) {
  const int32_t x0 = in[0], x1 = in[step], x2 = in[2 * step], x3 = in[3 * step];
  const int32_t x4 = in[4 * step], x5 = in[5 * step], x6 = in[6 * step], x7 = in[7 * step];
  const int32_t tmp0 = x0 + x7, tmp7 = x0 - x7, tmp1 = x1 + x6, tmp6 = x1 - x6;
  const int32_t tmp2 = x2 + x5, tmp5 = x2 - x5, tmp3 = x3 + x4, tmp4 = x3 - x4;

  // Even part.
  const int32_t t10 = tmp0 + tmp3, t13 = tmp0 - tmp3, t11 = tmp1 + tmp2, t12 = tmp1 - tmp2;
  const int32_t z1 = Pass::M1(t12 + t13);
  out[0] = Pass::K(t10 + t11);
  out[4 * step] = Pass::K(t10 - t11);
  out[2 * step] = Pass::K(t13) + z1;
  out[6 * step] = Pass::K(t13) - z1;

  // Odd part.
  const int32_t o10 = tmp4 + tmp5, o11 = tmp5 + tmp6, o12 = tmp6 + tmp7;
  const int32_t z3 = Pass::M1(o11);
  const int32_t z11 = Pass::K(tmp7) + z3, z13 = Pass::K(tmp7) - z3;
  const int32_t w = Pass::M2(o12 - o10);
  const int32_t z2 = Pass::M3(o10) - w, z4 = Pass::M4(o12) - w;
  out[5 * step] = z13 + z2;
  out[3 * step] = z13 - z2;
  out[1 * step] = z11 + z4;
  out[7 * step] = z11 - z4;
}

}  // namespace

void DCTForwardDCTScalar(int32_t* coef, const uint8_t* samples, int32_t stride) {
  for (int r = 0; r < 8; r++) Butterfly<RowPass>(samples + r * stride, coef + 8 * r, 1);
  for (int u = 0; u < 8; u++) Butterfly<ColumnPass>(coef + u, coef + u, 8);
}

void DCTTransform(DCTState* /*state*/, int32_t* coef, const uint8_t* samples,
                  const DCTComponent* comp) {
  DCTActiveKernels().forwardDCT(coef, samples, comp->stripWidth);
  coef[0] = WrapSub(coef[0], kLevelShift);
}

void DCTEScaleQT(DCTState* state) {
  for (int k = 0; k < state->qTableCount; k++) {
    int32_t* steps = state->qTable[k];
    int32_t* thresholds = state->qThreshold[k];
    for (int i = 0; i < 64; i++) {
      // Quantizers are at most 255, so the largest product, 255 x 504333, fits.
      const auto scale = static_cast<int32_t>(DCTEQScale[DCTunzigzag[i]]);
      steps[i] *= scale;
      thresholds[i] *= scale;
    }
  }
}
