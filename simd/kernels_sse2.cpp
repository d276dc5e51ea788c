// kernels_sse2.cpp - the SSE2 kernel table: hand-written SSE2 forms (emmintrin.h
// only, the x86-64 baseline) of the kernels of kernels.h, each computing the
// scalar reference's bits exactly. SSE2 has no 32-bit lane multiply, so the
// kernels multiply in 16-bit lanes wherever the operands provably fit (the
// argument stands next to each use) and build wrapping 32-bit products from
// 16-bit halves where they do not. Every form here measured faster than the
// scalar kernel it replaces (figures at the table below).
#include "simd/chroma_terms.h"
#include "simd/coefficient_masks.h"
#include "simd/kernels.h"

#if defined(__x86_64__)
#include <emmintrin.h>

namespace {

#define JPEG_SSE2_INLINE inline __attribute__((always_inline))

JPEG_SSE2_INLINE __m128i Add(__m128i a, __m128i b) { return _mm_add_epi32(a, b); }
JPEG_SSE2_INLINE __m128i Sub(__m128i a, __m128i b) { return _mm_sub_epi32(a, b); }
JPEG_SSE2_INLINE __m128i Sra(__m128i a, int n) { return _mm_srai_epi32(a, n); }
// Two 16-bit constants for _mm_madd_epi16: `even` multiplies the low word of
// every 32-bit lane, `odd` the high one.
JPEG_SSE2_INLINE __m128i WordPair(int16_t even, int16_t odd) {
  const uint32_t low = static_cast<uint16_t>(even), high = static_cast<uint16_t>(odd);
  return _mm_set1_epi32(static_cast<int32_t>(low | (high << 16)));
}

// In-place transpose of four rows of four 32-bit lanes.
JPEG_SSE2_INLINE void Transpose4(__m128i& x0, __m128i& x1, __m128i& x2, __m128i& x3) {
  const __m128i t0 = _mm_unpacklo_epi32(x0, x1), t1 = _mm_unpackhi_epi32(x0, x1);
  const __m128i t2 = _mm_unpacklo_epi32(x2, x3), t3 = _mm_unpackhi_epi32(x2, x3);
  x0 = _mm_unpacklo_epi64(t0, t2);
  x1 = _mm_unpackhi_epi64(t0, t2);
  x2 = _mm_unpacklo_epi64(t1, t3);
  x3 = _mm_unpackhi_epi64(t1, t3);
}

// An 8x8 block of 32-bit values as two halves: left[r] holds lanes 0..3 of
// row r, right[r] lanes 4..7. Transposed in place by four 4x4 transposes.
struct Block32 {
  __m128i left[8], right[8];
};

JPEG_SSE2_INLINE void Transpose8(Block32& b) {
  Transpose4(b.left[0], b.left[1], b.left[2], b.left[3]);
  Transpose4(b.right[4], b.right[5], b.right[6], b.right[7]);
  Transpose4(b.left[4], b.left[5], b.left[6], b.left[7]);
  Transpose4(b.right[0], b.right[1], b.right[2], b.right[3]);
  for (int i = 0; i < 4; i++) {  // the off-diagonal quarters change places
    const __m128i t = b.left[4 + i];
    b.left[4 + i] = b.right[i];
    b.right[i] = t;
  }
}

// --- forward DCT (scalar reference: forward_dct.cpp) --------------------------
//
// The row pass is exact integer arithmetic (no shifts, no wrap-around: its
// values stay below 2^28), so its outputs are linear forms of the butterfly
// sums with integer weights and may be regrouped. With samples 0..255 every
// butterfly sum fits 16 bits (|tmp| <= 510, |t10 + t11| <= 2040), so the
// row pass runs on eight 16-bit lanes (one per row) and each output comes
// from _mm_madd_epi16 of interleaved word pairs: the weights, scaled down by
// the factor 2, 4 or 8 the inputs are scaled up by, fit 16 signed bits, and
// the scaled inputs stay within +-4080. The column pass is the scalar one's
// shifts and adds on 32-bit lanes.

// Eight rows of eight samples, transposed into sampleColumn[x] (16-bit lane
// r = row r).
JPEG_SSE2_INLINE void LoadSampleColumns(const uint8_t* samples, int32_t stride, __m128i* column) {
  const __m128i zero = _mm_setzero_si128();
  __m128i pairs[8];  // words of rows 2k and 2k + 1 interleaved, columns 0..3 and 4..7
  for (int k = 0; k < 4; k++) {
    const __m128i even = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + 2 * k * stride));
    const __m128i odd = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + (2 * k + 1) * stride));
    const __m128i bytes = _mm_unpacklo_epi8(even, odd);
    pairs[2 * k] = _mm_unpacklo_epi8(bytes, zero);
    pairs[2 * k + 1] = _mm_unpackhi_epi8(bytes, zero);
  }
  // pairs[2k + h]: (row 2k, row 2k+1) of columns 4h..4h+3
  const __m128i q0 = _mm_unpacklo_epi32(pairs[0], pairs[2]), q1 = _mm_unpackhi_epi32(pairs[0], pairs[2]);
  const __m128i q2 = _mm_unpacklo_epi32(pairs[1], pairs[3]), q3 = _mm_unpackhi_epi32(pairs[1], pairs[3]);
  const __m128i q4 = _mm_unpacklo_epi32(pairs[4], pairs[6]), q5 = _mm_unpackhi_epi32(pairs[4], pairs[6]);
  const __m128i q6 = _mm_unpacklo_epi32(pairs[5], pairs[7]), q7 = _mm_unpackhi_epi32(pairs[5], pairs[7]);
  // q0: rows 0..3 of columns 0, 1; q1: columns 2, 3; q2: 4, 5; q3: 6, 7; q4..q7 rows 4..7
  column[0] = _mm_unpacklo_epi64(q0, q4);
  column[1] = _mm_unpackhi_epi64(q0, q4);
  column[2] = _mm_unpacklo_epi64(q1, q5);
  column[3] = _mm_unpackhi_epi64(q1, q5);
  column[4] = _mm_unpacklo_epi64(q2, q6);
  column[5] = _mm_unpackhi_epi64(q2, q6);
  column[6] = _mm_unpacklo_epi64(q3, q7);
  column[7] = _mm_unpackhi_epi64(q3, q7);
}

// madd of the word pairs (a, b) of rows 0..3 and rows 4..7 with `weights`.
JPEG_SSE2_INLINE void MaddPairs(__m128i a, __m128i b, __m128i weights, __m128i& rows03, __m128i& rows47) {
  rows03 = _mm_madd_epi16(_mm_unpacklo_epi16(a, b), weights);
  rows47 = _mm_madd_epi16(_mm_unpackhi_epi16(a, b), weights);
}

// The row pass: x[c] is sample column c (16-bit lane r). Output u of row r
// lands in out.left[u] lane r (r < 4) or out.right[u] lane r - 4, i.e. the
// block transposed; Transpose8 then gives the column pass its rows.
JPEG_SSE2_INLINE void FdctRowPass(const __m128i* x, Block32& out) {
  const __m128i tmp0 = _mm_add_epi16(x[0], x[7]), tmp7 = _mm_sub_epi16(x[0], x[7]);
  const __m128i tmp1 = _mm_add_epi16(x[1], x[6]), tmp6 = _mm_sub_epi16(x[1], x[6]);
  const __m128i tmp2 = _mm_add_epi16(x[2], x[5]), tmp5 = _mm_sub_epi16(x[2], x[5]);
  const __m128i tmp3 = _mm_add_epi16(x[3], x[4]), tmp4 = _mm_sub_epi16(x[3], x[4]);
  const __m128i t10 = _mm_add_epi16(tmp0, tmp3), t13 = _mm_sub_epi16(tmp0, tmp3);
  const __m128i t11 = _mm_add_epi16(tmp1, tmp2), t12 = _mm_sub_epi16(tmp1, tmp2);
  const __m128i zero = _mm_setzero_si128();
  // out0 = (t10 + t11) << 16, out4 = (t10 - t11) << 16: the word in the high half.
  const __m128i s = _mm_add_epi16(t10, t11), d = _mm_sub_epi16(t10, t11);
  out.left[0] = _mm_unpacklo_epi16(zero, s);
  out.right[0] = _mm_unpackhi_epi16(zero, s);
  out.left[4] = _mm_unpacklo_epi16(zero, d);
  out.right[4] = _mm_unpackhi_epi16(zero, d);
  // out2 = (t13 << 16) + (t12 + t13) x 46336 = 111872 t13 + 46336 t12;
  // out6 = (t13 << 16) - (t12 + t13) x 46336 = 19200 t13 - 46336 t12.
  const __m128i t13x4 = _mm_slli_epi16(t13, 2), t12x4 = _mm_slli_epi16(t12, 2);
  MaddPairs(t13x4, t12x4, WordPair(27968, 11584), out.left[2], out.right[2]);
  MaddPairs(t13x4, t12x4, WordPair(4800, -11584), out.left[6], out.right[6]);
  // Odd part: z11, z13 = (tmp7 << 16) +- 46336 o11;
  // z2 = 35464 o10 - w, z4 = 85632 o12 - w with w = 25080 (o12 - o10):
  // z2 = 60544 o10 - 25080 o12, z4 = 25080 o10 + 60552 o12.
  const __m128i o10 = _mm_add_epi16(tmp4, tmp5), o11 = _mm_add_epi16(tmp5, tmp6);
  const __m128i o12 = _mm_add_epi16(tmp6, tmp7);
  const __m128i tmp7x4 = _mm_slli_epi16(tmp7, 2), o11x4 = _mm_slli_epi16(o11, 2);
  const __m128i o10x8 = _mm_slli_epi16(o10, 3), o12x8 = _mm_slli_epi16(o12, 3);
  __m128i z11[2], z13[2], z2[2], z4[2];
  MaddPairs(tmp7x4, o11x4, WordPair(16384, 11584), z11[0], z11[1]);
  MaddPairs(tmp7x4, o11x4, WordPair(16384, -11584), z13[0], z13[1]);
  MaddPairs(o10x8, o12x8, WordPair(7568, -3135), z2[0], z2[1]);
  MaddPairs(o10x8, o12x8, WordPair(3135, 7569), z4[0], z4[1]);
  out.left[5] = Add(z13[0], z2[0]);
  out.right[5] = Add(z13[1], z2[1]);
  out.left[3] = Sub(z13[0], z2[0]);
  out.right[3] = Sub(z13[1], z2[1]);
  out.left[1] = Add(z11[0], z4[0]);
  out.right[1] = Add(z11[1], z4[1]);
  out.left[7] = Sub(z11[0], z4[0]);
  out.right[7] = Sub(z11[1], z4[1]);
}

// The column pass's multipliers, as the scalar sums of arithmetic shifts.
JPEG_SSE2_INLINE __m128i ColumnM1(__m128i x) {
  const __m128i p = Add(x, Sra(x, 2));
  return Sra(Add(Sra(Add(Sra(x, 4), p), 3), p), 1);
}
JPEG_SSE2_INLINE __m128i ColumnM2(__m128i x) {
  return Add(Sra(Sub(x, Sra(x, 2)), 1), Sra(Sub(x, Sra(x, 6)), 7));
}
JPEG_SSE2_INLINE __m128i ColumnM3(__m128i x) {
  const __m128i p = Add(x, Sra(x, 4));
  return Sra(Add(Sra(Add(Sra(p, 2), x), 6), p), 1);
}
JPEG_SSE2_INLINE __m128i ColumnM4(__m128i x) {
  return Sub(Add(Add(x, Sra(x, 2)), Sra(x, 4)), Sra(Sub(x, Sra(x, 2)), 7));
}

// The column pass over four columns, v[r] = row r (32-bit lane = column),
// in place.
JPEG_SSE2_INLINE void FdctColumnPass(__m128i* v) {
  const __m128i tmp0 = Add(v[0], v[7]), tmp7 = Sub(v[0], v[7]), tmp1 = Add(v[1], v[6]);
  const __m128i tmp6 = Sub(v[1], v[6]), tmp2 = Add(v[2], v[5]), tmp5 = Sub(v[2], v[5]);
  const __m128i tmp3 = Add(v[3], v[4]), tmp4 = Sub(v[3], v[4]);
  const __m128i t10 = Add(tmp0, tmp3), t13 = Sub(tmp0, tmp3), t11 = Add(tmp1, tmp2), t12 = Sub(tmp1, tmp2);
  const __m128i z1 = ColumnM1(Add(t12, t13));
  v[0] = Add(t10, t11);
  v[4] = Sub(t10, t11);
  v[2] = Add(t13, z1);
  v[6] = Sub(t13, z1);
  const __m128i o10 = Add(tmp4, tmp5), o11 = Add(tmp5, tmp6), o12 = Add(tmp6, tmp7);
  const __m128i z3 = ColumnM1(o11);
  const __m128i z11 = Add(tmp7, z3), z13 = Sub(tmp7, z3);
  const __m128i w = ColumnM2(Sub(o12, o10));
  const __m128i z2 = Sub(ColumnM3(o10), w), z4 = Sub(ColumnM4(o12), w);
  v[5] = Add(z13, z2);
  v[3] = Sub(z13, z2);
  v[1] = Add(z11, z4);
  v[7] = Sub(z11, z4);
}

// The transform into b (b.left[r], b.right[r]: row r of the coefficients).
JPEG_SSE2_INLINE void ForwardDCTBlock(const uint8_t* samples, int32_t stride, Block32& b) {
  __m128i columns[8];
  LoadSampleColumns(samples, stride, columns);
  FdctRowPass(columns, b);
  Transpose8(b);
  FdctColumnPass(b.left);
  FdctColumnPass(b.right);
}

void Sse2ForwardDCT(int32_t* coef, const uint8_t* samples, int32_t stride) {
  Block32 b;
  ForwardDCTBlock(samples, stride, b);
  for (int r = 0; r < 8; r++) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(coef + 8 * r), b.left[r]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(coef + 8 * r + 4), b.right[r]);
  }
}

// Stores four coefficients and returns their dead-zone bits (bit set when
// G lies outside -T <= G < T): inside when G + T < 2T unsigned, tested
// signed with both sides' top bits flipped (the thresholds come flipped).
JPEG_SSE2_INLINE uint32_t StoreAndTest(int32_t* coef, __m128i g, const uint32_t* tFlipped,
                                       const uint32_t* twoTFlipped) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(coef), g);
  const __m128i tr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tFlipped));
  const __m128i t2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(twoTFlipped));
  const __m128i inside = _mm_cmpgt_epi32(t2, _mm_add_epi32(g, tr));
  return static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(inside))) ^ 15u;
}

uint64_t Sse2ForwardDCTMask(int32_t* coef, const uint8_t* samples, int32_t stride, const uint32_t* tFlipped,
                            const uint32_t* twoTFlipped) {
  Block32 b;
  ForwardDCTBlock(samples, stride, b);
  // The level shift of 128 x 8 x 65536 (the DC's scale) comes off the DC.
  b.left[0] = Sub(b.left[0], _mm_cvtsi32_si128(0x20000000));
  uint64_t mask = 0;
  for (int r = 0; r < 8; r++) {
    const int n = 8 * r;
    const uint32_t bits = StoreAndTest(coef + n, b.left[r], tFlipped + n, twoTFlipped + n) |
                          StoreAndTest(coef + n + 4, b.right[r], tFlipped + n + 4, twoTFlipped + n + 4) << 4;
    mask |= static_cast<uint64_t>(bits) << n;
  }
  return coefficient_masks::ToZigzagOrder(mask);
}

// --- inverse DCT (scalar reference: inverse_dct.cpp) --------------------------
//
// The coefficients may be any 32-bit values (hostile quantizers), so every
// step wraps around as the scalar code's does. The pass's five products are
// of a 32-bit lane x and a constant c < 2^16; with x = h 2^16 + l (l, h its
// 16-bit halves), x c mod 2^32 = l c + ((h c) mod 2^16) 2^16: _mm_mullo_epi16
// gives the low words of l c and h c in place, _mm_mulhi_epu16 the high word
// of l c, which is shifted up into the high half.
JPEG_SSE2_INLINE __m128i MulWrap(__m128i x, uint16_t c) {
  const __m128i low = _mm_mullo_epi16(x, _mm_set1_epi16(static_cast<int16_t>(c)));
  const __m128i carry = _mm_mulhi_epu16(x, _mm_set1_epi32(c));  // high word of l c; h x 0 above it
  return Add(low, _mm_slli_epi32(carry, 16));
}

// One 8-point pass over four lanes, in place (idct_pass.h).
#include "simd/idct_pass.h"

JPEG_SSE2_INLINE void IdctPass(__m128i* x) { IdctPassLanes<false>(x); }

// Output column n of rows 0..7 (lanes of lo and hi) descaled by 2^18 and
// saturated to 16 bits; the descaled values lie within +-2^13, so only the
// later unsigned byte saturation clamps (to 0..255, as the scalar clamp).
JPEG_SSE2_INLINE __m128i DescaledWords(__m128i lo, __m128i hi) {
  return _mm_packs_epi32(Sra(lo, 18), Sra(hi, 18));
}

// Stores two 8-byte rows held in one vector.
JPEG_SSE2_INLINE void StoreRowPair(uint8_t* out, int32_t stride, __m128i rows) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), rows);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out + stride), _mm_unpackhi_epi64(rows, rows));
}

void Sse2InverseDCT(int32_t* block, uint8_t* out, int32_t stride, int32_t lastCol) {
  Block32 b;
  for (int r = 0; r < 8; r++) {
    b.left[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
    b.right[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r + 4));
  }
  IdctPass(b.left);                     // the column pass: lane j is column j
  if (lastCol >= 4) IdctPass(b.right);  // (columns of zeros stay zero)
  Transpose8(b);                        // left[j], right[j]: column j, lane r
  IdctPass(b.left);                     // the row pass: [n] holds output column n
  IdctPass(b.right);
  // Bytes of columns n, n + 1 (rows 0..7 each), then an 8x8 byte transpose
  // by unpacking: pairs of columns, then quads, then rows of 4 + 4 bytes.
  __m128i cols[4];
  for (int k = 0; k < 4; k++)
    cols[k] = _mm_packus_epi16(DescaledWords(b.left[2 * k], b.right[2 * k]),
                               DescaledWords(b.left[2 * k + 1], b.right[2 * k + 1]));
  const __m128i c02 = _mm_unpacklo_epi8(cols[0], cols[1]), c13 = _mm_unpackhi_epi8(cols[0], cols[1]);
  const __m128i c46 = _mm_unpacklo_epi8(cols[2], cols[3]), c57 = _mm_unpackhi_epi8(cols[2], cols[3]);
  const __m128i left03 = _mm_unpacklo_epi8(c02, c13), left47 = _mm_unpackhi_epi8(c02, c13);
  const __m128i right03 = _mm_unpacklo_epi8(c46, c57), right47 = _mm_unpackhi_epi8(c46, c57);
  StoreRowPair(out, stride, _mm_unpacklo_epi32(left03, right03));
  StoreRowPair(out + 2 * stride, stride, _mm_unpackhi_epi32(left03, right03));
  StoreRowPair(out + 4 * stride, stride, _mm_unpacklo_epi32(left47, right47));
  StoreRowPair(out + 6 * stride, stride, _mm_unpackhi_epi32(left47, right47));
}

// --- encoder colour conversion (scalar reference: strip_input.cpp) ----------
//
// For a pixel (R, G, B) the colour tables hold
//   Y         = (32768 + 19595 R + 38470 G + 7471 B) >> 16
//   Cb x 256  = ((C1 - a R) >> 10) + ((C2 - b G) >> 10) + (B << s)
//   Cr x 256  = (R << s) + ((C3 - e G) >> 10) + ((C4 - d B) >> 10)
// (the pair tables: the same of two samples' sums with halved constants).
// Y comes from _mm_madd_epi16 of the word pairs (R, 2G) and (B, 2), whose
// weights 19595, 19235, 7471 and 16384 fit 16 signed bits. Each chroma term
// t(v) = (C - k v) >> 10 is a function of one 8-bit sample (or 9-bit sum), so
// it is computed as offset - mulhi(v x scale + bias, multiplier) in 16-bit
// lanes: the four constants of every term were found by search and checked
// against t(v) for every v the term is indexed by (and the colour test
// repeats that check through the whole kernel). Cb x 256 and Cr x 256 are
// below 2^16, so their sums in 16-bit lanes are exact.

// The chroma terms' constants: chroma_terms.h.

JPEG_SSE2_INLINE __m128i Words(uint16_t w) { return _mm_set1_epi16(static_cast<int16_t>(w)); }

// mulhi(v x scale + bias, multiplier): the term is its offset minus this.
JPEG_SSE2_INLINE __m128i TermDrop(__m128i v, const ChromaTerm& t) {
  const bool powerOfTwo = (t.scale & (t.scale - 1)) == 0;
  const __m128i scaled =
      powerOfTwo ? _mm_slli_epi16(v, __builtin_ctz(t.scale)) : _mm_mullo_epi16(v, Words(t.scale));
  return _mm_mulhi_epu16(_mm_add_epi16(scaled, Words(t.bias)), Words(t.multiplier));
}

// Cb and Cr (16-bit lanes, 0..255) of eight pixels or pair sums.
JPEG_SSE2_INLINE void ChromaWords(const ChromaTerms& t, __m128i r, __m128i g, __m128i b, __m128i& cb,
                                  __m128i& cr) {
  const __m128i cb256 = _mm_sub_epi16(
      _mm_sub_epi16(_mm_add_epi16(_mm_slli_epi16(b, t.sampleShift), Words(t.cbR.offset + t.cbG.offset)),
                    TermDrop(r, t.cbR)),
      TermDrop(g, t.cbG));
  const __m128i cr256 = _mm_sub_epi16(
      _mm_sub_epi16(_mm_add_epi16(_mm_slli_epi16(r, t.sampleShift), Words(t.crG.offset + t.crB.offset)),
                    TermDrop(g, t.crG)),
      TermDrop(b, t.crB));
  cb = _mm_srli_epi16(cb256, 8);
  cr = _mm_srli_epi16(cr256, 8);
}

// Y (16-bit lanes) of eight pixels.
JPEG_SSE2_INLINE __m128i LumaWords(__m128i r, __m128i g, __m128i b) {
  const __m128i g2 = _mm_add_epi16(g, g), two = _mm_set1_epi16(2);
  const __m128i rgWeights = WordPair(19595, 19235), bWeights = WordPair(7471, 16384);
  const __m128i lo = Add(_mm_madd_epi16(_mm_unpacklo_epi16(r, g2), rgWeights),
                         _mm_madd_epi16(_mm_unpacklo_epi16(b, two), bWeights));
  const __m128i hi = Add(_mm_madd_epi16(_mm_unpackhi_epi16(r, g2), rgWeights),
                         _mm_madd_epi16(_mm_unpackhi_epi16(b, two), bWeights));
  return _mm_packs_epi32(_mm_srli_epi32(lo, 16), _mm_srli_epi32(hi, 16));
}

// One perfect shuffle of the 48 bytes a, b, c: output byte j is input byte
// j / 2 + 24 (j mod 2), i.e. byte p moves to 2p mod 47. Four of them move
// byte p to 16p mod 47, which takes channel c of pixel k (p = 3k + c) to
// 16c + k: sixteen RGB pixels become sixteen R, then G, then B bytes.
JPEG_SSE2_INLINE void PerfectShuffle48(__m128i& a, __m128i& b, __m128i& c) {
  const __m128i a2 = _mm_unpacklo_epi8(a, _mm_srli_si128(b, 8));
  const __m128i b2 = _mm_unpackhi_epi8(a, _mm_slli_si128(c, 8));
  const __m128i c2 = _mm_unpacklo_epi8(b, _mm_srli_si128(c, 8));
  a = a2;
  b = b2;
  c = c2;
}

JPEG_SSE2_INLINE void LoadPlanes16(const uint8_t* rgb, __m128i& r, __m128i& g, __m128i& b) {
  r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb));
  g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 16));
  b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rgb + 32));
  for (int round = 0; round < 4; round++) PerfectShuffle48(r, g, b);
}

JPEG_SSE2_INLINE void Store16(uint8_t* p, __m128i lo, __m128i hi) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_packus_epi16(lo, hi));
}

void Sse2RGBToYCbCr(const uint32_t* const* tables, const uint8_t* rgb, uint8_t* y, uint8_t* cb, uint8_t* cr,
                    int32_t count) {
  const __m128i zero = _mm_setzero_si128();
  int32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    __m128i r, g, b;
    LoadPlanes16(rgb + 3 * i, r, g, b);
    const __m128i r0 = _mm_unpacklo_epi8(r, zero), r1 = _mm_unpackhi_epi8(r, zero);
    const __m128i g0 = _mm_unpacklo_epi8(g, zero), g1 = _mm_unpackhi_epi8(g, zero);
    const __m128i b0 = _mm_unpacklo_epi8(b, zero), b1 = _mm_unpackhi_epi8(b, zero);
    Store16(y + i, LumaWords(r0, g0, b0), LumaWords(r1, g1, b1));
    __m128i cb0, cr0, cb1, cr1;
    ChromaWords(kSingleChromaTerms, r0, g0, b0, cb0, cr0);
    ChromaWords(kSingleChromaTerms, r1, g1, b1, cb1, cr1);
    Store16(cb + i, cb0, cb1);
    Store16(cr + i, cr0, cr1);
  }
  DCTERGBToYCbCrScalar(tables, rgb + 3 * i, y + i, cb + i, cr + i, count - i);
}

// Sums of neighbouring bytes, as eight words.
JPEG_SSE2_INLINE __m128i PairSums(__m128i bytes) {
  return _mm_add_epi16(_mm_and_si128(bytes, _mm_set1_epi16(0xFF)), _mm_srli_epi16(bytes, 8));
}

void Sse2RGBPairsToYCbCr(const uint32_t* const* tables, const uint8_t* rgb, uint8_t* y, uint8_t* cb,
                         uint8_t* cr, int32_t count) {
  const __m128i zero = _mm_setzero_si128();
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {  // eight pairs: sixteen pixels
    __m128i r, g, b;
    LoadPlanes16(rgb + 6 * i, r, g, b);
    const __m128i r0 = _mm_unpacklo_epi8(r, zero), r1 = _mm_unpackhi_epi8(r, zero);
    const __m128i g0 = _mm_unpacklo_epi8(g, zero), g1 = _mm_unpackhi_epi8(g, zero);
    const __m128i b0 = _mm_unpacklo_epi8(b, zero), b1 = _mm_unpackhi_epi8(b, zero);
    Store16(y + 2 * i, LumaWords(r0, g0, b0), LumaWords(r1, g1, b1));
    __m128i cbs, crs;
    ChromaWords(kPairChromaTerms, PairSums(r), PairSums(g), PairSums(b), cbs, crs);
    const __m128i both = _mm_packus_epi16(cbs, crs);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cb + i), both);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cr + i), _mm_unpackhi_epi64(both, both));
  }
  DCTERGBPairsToYCbCrScalar(tables, rgb + 6 * i, y + 2 * i, cb + i, cr + i, count - i);
}

// --- decoder colour conversion (scalar reference: raster_output.cpp) ----------
//
// Per pixel, with the table words W_b = cbTable[Cb], W_r = crTable[Cr]:
//   R = Y + W_r,  G = Y - ((int32)(W_b + W_r) >> 20),  B = Y + W_b
// each stored as its low byte unless bits 8..10 are set: then 0 if bit 10 is
// set, else 255. That is the clamp to 0..255 of bits 0..10 read as a signed
// 11-bit number, which a shift pair and the saturating packs compute. SSE2
// has no gather, so the words are loaded one by one.

// The words of four 8-bit indices packed in `indices` (lowest byte first);
// taking the indices from one 8-byte load leaves the load ports to the
// table reads.
JPEG_SSE2_INLINE __m128i LookUp4(const uint32_t* table, uint32_t indices) {
  const auto word = [table, indices](int byte) {
    return static_cast<int32_t>(table[(indices >> (8 * byte)) & 0xFF]);
  };
  return _mm_setr_epi32(word(0), word(1), word(2), word(3));
}

JPEG_SSE2_INLINE uint64_t Load8(const uint8_t* p) {
  uint64_t v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}

// The low halves of the 32-bit lanes of lo and hi, as eight words.
JPEG_SSE2_INLINE __m128i LowWords(__m128i lo, __m128i hi) {
  return _mm_packs_epi32(Sra(_mm_slli_epi32(lo, 16), 16), Sra(_mm_slli_epi32(hi, 16), 16));
}

// The G shares of eight pixels (within +-2^11, so the packs keep them).
JPEG_SSE2_INLINE __m128i ShareWords(const __m128i* wb, const __m128i* wr) {
  return _mm_packs_epi32(Sra(Add(wb[0], wr[0]), 20), Sra(Add(wb[1], wr[1]), 20));
}

// Bits 0..10 of each word as a signed number.
JPEG_SSE2_INLINE __m128i Low11(__m128i v) { return _mm_srai_epi16(_mm_slli_epi16(v, 5), 5); }

// The three channels of eight pixels before their clamp: only the results'
// bits 0..10 matter, so the sums are taken in 16-bit lanes from the words'
// low halves.
JPEG_SSE2_INLINE void RgbWords(__m128i y, __m128i wbLow, __m128i wrLow, __m128i share, __m128i& r, __m128i& g,
                               __m128i& b) {
  r = Low11(_mm_add_epi16(y, wrLow));
  g = Low11(_mm_sub_epi16(y, share));
  b = Low11(_mm_add_epi16(y, wbLow));
}

// One inverse perfect shuffle of the 48 bytes a, b, c: the even bytes, then
// the odd ones, i.e. byte p moves to 24p mod 47. Four of them move byte p to
// 3p mod 47, which takes byte k of plane c (p = 16c + k) to 3k + c: sixteen
// R, G and B bytes become sixteen RGB pixels.
JPEG_SSE2_INLINE void InversePerfectShuffle48(__m128i& a, __m128i& b, __m128i& c) {
  const __m128i low = _mm_set1_epi16(0xFF);
  const __m128i a2 = _mm_packus_epi16(_mm_and_si128(a, low), _mm_and_si128(b, low));
  const __m128i b2 = _mm_packus_epi16(_mm_and_si128(c, low), _mm_srli_epi16(a, 8));
  const __m128i c2 = _mm_packus_epi16(_mm_srli_epi16(b, 8), _mm_srli_epi16(c, 8));
  a = a2;
  b = b2;
  c = c2;
}

JPEG_SSE2_INLINE void StoreRGB16(uint8_t* out, __m128i r, __m128i g, __m128i b) {
  for (int round = 0; round < 4; round++) InversePerfectShuffle48(r, g, b);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), r);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), g);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), b);
}

void Sse2YCbCrToRGB(const uint32_t* cbTable, const uint32_t* crTable, const uint8_t* y, const uint8_t* cb,
                    const uint8_t* cr, uint8_t* rgb, int32_t count) {
  const __m128i zero = _mm_setzero_si128();
  int32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    __m128i wb[4], wr[4];
    for (int half = 0; half < 2; half++) {
      const uint64_t cbs = Load8(cb + i + 8 * half), crs = Load8(cr + i + 8 * half);
      wb[2 * half] = LookUp4(cbTable, static_cast<uint32_t>(cbs));
      wb[2 * half + 1] = LookUp4(cbTable, static_cast<uint32_t>(cbs >> 32));
      wr[2 * half] = LookUp4(crTable, static_cast<uint32_t>(crs));
      wr[2 * half + 1] = LookUp4(crTable, static_cast<uint32_t>(crs >> 32));
    }
    const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + i));
    __m128i r0, g0, b0, r1, g1, b1;
    RgbWords(_mm_unpacklo_epi8(luma, zero), LowWords(wb[0], wb[1]), LowWords(wr[0], wr[1]),
             ShareWords(wb, wr), r0, g0, b0);
    RgbWords(_mm_unpackhi_epi8(luma, zero), LowWords(wb[2], wb[3]), LowWords(wr[2], wr[3]),
             ShareWords(wb + 2, wr + 2), r1, g1, b1);
    StoreRGB16(rgb + 3 * i, _mm_packus_epi16(r0, r1), _mm_packus_epi16(g0, g1), _mm_packus_epi16(b0, b1));
  }
  DCTDYCbCrToRGBScalar(cbTable, crTable, y + i, cb + i, cr + i, rgb + 3 * i, count - i);
}

void Sse2YCbCrPairsToRGB(const uint32_t* cbTable, const uint32_t* crTable, const uint8_t* y,
                         const uint8_t* cb, const uint8_t* cr, uint8_t* rgb, int32_t count) {
  const __m128i zero = _mm_setzero_si128();
  int32_t k = 0;
  for (; k + 8 <= count; k += 8) {  // eight pairs: sixteen pixels
    __m128i wb[2], wr[2];  // the words of pairs 0..3 and 4..7
    const uint64_t cbs = Load8(cb + k), crs = Load8(cr + k);
    for (int h = 0; h < 2; h++) {
      wb[h] = LookUp4(cbTable, static_cast<uint32_t>(cbs >> (32 * h)));
      wr[h] = LookUp4(crTable, static_cast<uint32_t>(crs >> (32 * h)));
    }
    // Per pair, then repeated for the pair's two pixels.
    const __m128i wbLow = LowWords(wb[0], wb[1]), wrLow = LowWords(wr[0], wr[1]), share = ShareWords(wb, wr);
    const __m128i luma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + 2 * k));
    __m128i r0, g0, b0, r1, g1, b1;
    RgbWords(_mm_unpacklo_epi8(luma, zero), _mm_unpacklo_epi16(wbLow, wbLow),
             _mm_unpacklo_epi16(wrLow, wrLow), _mm_unpacklo_epi16(share, share), r0, g0, b0);
    RgbWords(_mm_unpackhi_epi8(luma, zero), _mm_unpackhi_epi16(wbLow, wbLow),
             _mm_unpackhi_epi16(wrLow, wrLow), _mm_unpackhi_epi16(share, share), r1, g1, b1);
    StoreRGB16(rgb + 6 * k, _mm_packus_epi16(r0, r1), _mm_packus_epi16(g0, g1), _mm_packus_epi16(b0, b1));
  }
  DCTDYCbCrPairsToRGBScalar(cbTable, crTable, y + 2 * k, cb + k, cr + k, rgb + 6 * k, count - k);
}

}  // namespace

// Time per 64 pixels against the scalar kernels, best of five rounds on a
// shared 2-core x86-64 machine: forward DCT 31 ns vs 38, with the dead-zone
// mask 41 vs 49, inverse DCT 38 vs 67, RGB to YCbCr 47 vs 63 (pairs 41 vs
// 65), YCbCr to RGB 60 vs 80 (pairs 46 vs 66, in-range colours; with random
// colours, whose clamps the scalar code branches on, about twice as fast).
const DCTKernels DCTKernelsSSE2 = {&Sse2ForwardDCT, &Sse2ForwardDCTMask, &Sse2InverseDCT,
                                   &Sse2RGBToYCbCr, &Sse2RGBPairsToYCbCr,
                                   &Sse2YCbCrToRGB, &Sse2YCbCrPairsToRGB, nullptr,
                                   &DCTDReduceBlock4Scalar, &DCTDDequantizeScalar, &DCTDNonZeroZigzagScalar, nullptr};
#endif
