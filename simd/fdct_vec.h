// fdct_vec.h - the forward DCT's vector form, compiled by kernels_avx2.cpp for
// AVX2: the AAN butterflies written once with the compiler's generic vector
// types (eight 32-bit lanes), with AVX2 intrinsics where the generic forms
// compile to slower code (the sample loads and the row pass's products). The
// inverse DCT is written by hand in kernels_avx2.cpp; the SSE2 level has its
// own forms in kernels_sse2.cpp. Everything here has internal linkage, so the
// AVX2 copy can never be picked by the linker for code that runs on other
// CPUs.
//
// The arithmetic mirrors the scalar reference step for step: sums,
// differences and products in unsigned lanes (wrap-around, as WrapAdd and
// friends), right shifts in signed lanes (arithmetic, as the scalar >>), so
// every lane holds the bits the scalar code computes. Loops over the eight
// vectors carry unroll requests: left rolled, GCC keeps the vectors in a
// stack array.
#ifndef JPEG_SIMD_FDCT_VEC_H
#define JPEG_SIMD_FDCT_VEC_H

#include <cstdint>

#include "simd/kernels.h"

#if defined(__AVX2__)
#include <immintrin.h>
#endif

// The helpers below pass 32-byte vectors by value; they are always inlined
// and internal, so the calling convention GCC warns about never applies.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace {

typedef uint32_t VecU __attribute__((vector_size(32)));
typedef int32_t VecS __attribute__((vector_size(32)));
typedef uint8_t Bytes8 __attribute__((vector_size(8)));

#define JPEG_VEC_INLINE inline __attribute__((always_inline))

JPEG_VEC_INLINE VecU Sra(const VecU& x, int n) { return reinterpret_cast<VecU>(reinterpret_cast<const VecS&>(x) >> n); }

JPEG_VEC_INLINE void LoadBytes(VecU& v, const uint8_t* p) {
#if defined(__AVX2__)
  // The generic widening below compiles to byte-by-byte inserts.
  v = (VecU)_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
#else
  Bytes8 b;
  __builtin_memcpy(&b, p, 8);
  v = __builtin_convertvector(b, VecU);
#endif
}

JPEG_VEC_INLINE void LoadLanes(VecU& v, const int32_t* p) { __builtin_memcpy(&v, p, sizeof v); }
JPEG_VEC_INLINE void StoreLanes(int32_t* p, const VecU& v) { __builtin_memcpy(p, &v, sizeof v); }

// In-place transpose of eight rows of eight lanes: 32-bit pairs (by shifts
// and blends where AVX2 has them, which leaves the shuffle unit to the other
// two steps), then 64-bit pairs, then the 128-bit halves.
#if defined(__AVX2__)
// Rows a, b interleaved in lane pairs: a0 b0 a2 b2 | a4 b4 a6 b6 (even) and
// a1 b1 a3 b3 | a5 b5 a7 b7 (odd), by 64-bit shifts and blends.
JPEG_VEC_INLINE VecU EvenPairs(const VecU& a, const VecU& b) {
  return (VecU)_mm256_blend_epi32((__m256i)a, _mm256_slli_epi64((__m256i)b, 32), 0xAA);
}
JPEG_VEC_INLINE VecU OddPairs(const VecU& a, const VecU& b) {
  return (VecU)_mm256_blend_epi32(_mm256_srli_epi64((__m256i)a, 32), (__m256i)b, 0xAA);
}
#else
JPEG_VEC_INLINE VecU EvenPairs(const VecU& a, const VecU& b) {
  return __builtin_shufflevector(a, b, 0, 8, 2, 10, 4, 12, 6, 14);
}
JPEG_VEC_INLINE VecU OddPairs(const VecU& a, const VecU& b) {
  return __builtin_shufflevector(a, b, 1, 9, 3, 11, 5, 13, 7, 15);
}
#endif
JPEG_VEC_INLINE void Transpose8(VecU* r) {
  // t0: r0, r1 in pairs by columns 0, 2 | 4, 6; t1: columns 1, 3 | 5, 7.
  const VecU t0 = EvenPairs(r[0], r[1]), t1 = OddPairs(r[0], r[1]);
  const VecU t2 = EvenPairs(r[2], r[3]), t3 = OddPairs(r[2], r[3]);
  const VecU t4 = EvenPairs(r[4], r[5]), t5 = OddPairs(r[4], r[5]);
  const VecU t6 = EvenPairs(r[6], r[7]), t7 = OddPairs(r[6], r[7]);
  // u0: column 0 of rows 0..3 | column 4; u1: column 2 | 6; u2: 1 | 5; u3: 3 | 7.
  const VecU u0 = __builtin_shufflevector(t0, t2, 0, 1, 8, 9, 4, 5, 12, 13);
  const VecU u1 = __builtin_shufflevector(t0, t2, 2, 3, 10, 11, 6, 7, 14, 15);
  const VecU u2 = __builtin_shufflevector(t1, t3, 0, 1, 8, 9, 4, 5, 12, 13);
  const VecU u3 = __builtin_shufflevector(t1, t3, 2, 3, 10, 11, 6, 7, 14, 15);
  const VecU u4 = __builtin_shufflevector(t4, t6, 0, 1, 8, 9, 4, 5, 12, 13);
  const VecU u5 = __builtin_shufflevector(t4, t6, 2, 3, 10, 11, 6, 7, 14, 15);
  const VecU u6 = __builtin_shufflevector(t5, t7, 0, 1, 8, 9, 4, 5, 12, 13);
  const VecU u7 = __builtin_shufflevector(t5, t7, 2, 3, 10, 11, 6, 7, 14, 15);
  r[0] = __builtin_shufflevector(u0, u4, 0, 1, 2, 3, 8, 9, 10, 11);
  r[4] = __builtin_shufflevector(u0, u4, 4, 5, 6, 7, 12, 13, 14, 15);
  r[2] = __builtin_shufflevector(u1, u5, 0, 1, 2, 3, 8, 9, 10, 11);
  r[6] = __builtin_shufflevector(u1, u5, 4, 5, 6, 7, 12, 13, 14, 15);
  r[1] = __builtin_shufflevector(u2, u6, 0, 1, 2, 3, 8, 9, 10, 11);
  r[5] = __builtin_shufflevector(u2, u6, 4, 5, 6, 7, 12, 13, 14, 15);
  r[3] = __builtin_shufflevector(u3, u7, 0, 1, 2, 3, 8, 9, 10, 11);
  r[7] = __builtin_shufflevector(u3, u7, 4, 5, 6, 7, 12, 13, 14, 15);
}

// --- forward DCT (scalar reference: forward_dct.cpp) --------------------------

// The row pass's multipliers (16.16 fixed point) ...
#if defined(__AVX2__)
// With samples 0..255 every operand lies within +-2040 (the sum of eight
// differences of samples), so it fits the low 16 bits of its lane as a signed
// number, and _mm256_madd_epi16 with the word pair (c, 0) gives its exact
// product by c < 2^15 (one fast micro-op against two slow ones of
// _mm256_mullo_epi32). Constants above 2^15 are taken halved or quartered
// and the product shifted back up.
template <int kFactor, int kShift>
JPEG_VEC_INLINE VecU MulSmall(const VecU& x) {
  static_assert(kFactor < 32768, "the factor must fit a signed 16-bit word");
  return (VecU)_mm256_slli_epi32(_mm256_madd_epi16((__m256i)x, _mm256_set1_epi32(kFactor)), kShift);
}
struct FdctRowOps {
  static JPEG_VEC_INLINE VecU K(const VecU& x) { return x << 16; }
  static JPEG_VEC_INLINE VecU M1(const VecU& x) { return MulSmall<23168, 1>(x); }  // 46336
  static JPEG_VEC_INLINE VecU M2(const VecU& x) { return MulSmall<25080, 0>(x); }
  static JPEG_VEC_INLINE VecU M3(const VecU& x) { return MulSmall<17732, 1>(x); }  // 35464
  static JPEG_VEC_INLINE VecU M4(const VecU& x) { return MulSmall<21408, 2>(x); }  // 85632
};
#else
struct FdctRowOps {
  static JPEG_VEC_INLINE VecU K(const VecU& x) { return x << 16; }
  static JPEG_VEC_INLINE VecU M1(const VecU& x) { return x * 46336u; }
  static JPEG_VEC_INLINE VecU M2(const VecU& x) { return x * 25080u; }
  static JPEG_VEC_INLINE VecU M3(const VecU& x) { return x * 35464u; }
  static JPEG_VEC_INLINE VecU M4(const VecU& x) { return x * 85632u; }
};
#endif

// ... and the column pass's, as sums of arithmetic shifts.
struct FdctColumnOps {
  static JPEG_VEC_INLINE VecU K(const VecU& x) { return x; }
  static JPEG_VEC_INLINE VecU M1(const VecU& x) {
    const VecU p = x + Sra(x, 2);
    return Sra(Sra(Sra(x, 4) + p, 3) + p, 1);
  }
  static JPEG_VEC_INLINE VecU M2(const VecU& x) { return Sra(x - Sra(x, 2), 1) + Sra(x - Sra(x, 6), 7); }
  static JPEG_VEC_INLINE VecU M3(const VecU& x) {
    const VecU p = x + Sra(x, 4);
    return Sra(Sra(Sra(p, 2) + x, 6) + p, 1);
  }
  static JPEG_VEC_INLINE VecU M4(const VecU& x) {
    return x + Sra(x, 2) + Sra(x, 4) - Sra(x - Sra(x, 2), 7);
  }
};

// The AAN butterfly across eight vectors, in place.
template <class Ops>
JPEG_VEC_INLINE void FdctButterfly(VecU* v) {
  const VecU tmp0 = v[0] + v[7], tmp7 = v[0] - v[7], tmp1 = v[1] + v[6], tmp6 = v[1] - v[6];
  const VecU tmp2 = v[2] + v[5], tmp5 = v[2] - v[5], tmp3 = v[3] + v[4], tmp4 = v[3] - v[4];
  const VecU t10 = tmp0 + tmp3, t13 = tmp0 - tmp3, t11 = tmp1 + tmp2, t12 = tmp1 - tmp2;
  const VecU z1 = Ops::M1(t12 + t13);
  v[0] = Ops::K(t10 + t11);
  v[4] = Ops::K(t10 - t11);
  v[2] = Ops::K(t13) + z1;
  v[6] = Ops::K(t13) - z1;
  const VecU o10 = tmp4 + tmp5, o11 = tmp5 + tmp6, o12 = tmp6 + tmp7;
  const VecU z3 = Ops::M1(o11);
  const VecU z11 = Ops::K(tmp7) + z3, z13 = Ops::K(tmp7) - z3;
  const VecU w = Ops::M2(o12 - o10);
  const VecU z2 = Ops::M3(o10) - w, z4 = Ops::M4(o12) - w;
  v[5] = z13 + z2;
  v[3] = z13 - z2;
  v[1] = z11 + z4;
  v[7] = z11 - z4;
}

// Sample column x into v[x], lane r = row r.
JPEG_VEC_INLINE void LoadSampleColumns(VecU* v, const uint8_t* samples, int32_t stride) {
#if defined(__AVX2__)
  // Transposed as bytes (a quarter of the shuffling of 32-bit lanes): rows
  // interleaved in pairs, then in fours, so that each four bytes hold one
  // column's rows 0..3 or 4..7; one byte shuffle per column then widens.
  __m128i rows[8];
#pragma GCC unroll 8
  for (int r = 0; r < 8; r++) rows[r] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + r * stride));
  const __m128i r01 = _mm_unpacklo_epi8(rows[0], rows[1]), r23 = _mm_unpacklo_epi8(rows[2], rows[3]);
  const __m128i r45 = _mm_unpacklo_epi8(rows[4], rows[5]), r67 = _mm_unpacklo_epi8(rows[6], rows[7]);
  // Columns 0..3 (then 4..7), rows 0..3 in the low half and 4..7 in the high one.
  const __m256i left = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(r01, r23)),
                                               _mm_unpacklo_epi16(r45, r67), 1);
  const __m256i right = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpackhi_epi16(r01, r23)),
                                                _mm_unpackhi_epi16(r45, r67), 1);
  const char z = -1;  // shuffle index that yields a zero byte
#pragma GCC unroll 4
  for (int c = 0; c < 4; c++) {
    const char b = static_cast<char>(4 * c);
    const __m256i widen = _mm256_setr_epi8(b, z, z, z, b + 1, z, z, z, b + 2, z, z, z, b + 3, z, z, z,
                                           b, z, z, z, b + 1, z, z, z, b + 2, z, z, z, b + 3, z, z, z);
    v[c] = (VecU)_mm256_shuffle_epi8(left, widen);
    v[c + 4] = (VecU)_mm256_shuffle_epi8(right, widen);
  }
#else
  for (int r = 0; r < 8; r++) LoadBytes(v[r], samples + r * stride);
  Transpose8(v);
#endif
}

// The transform into v[r] (row r of the coefficients, lane u).
JPEG_VEC_INLINE void VecForwardDCTRows(VecU* v, const uint8_t* samples, int32_t stride) {
  LoadSampleColumns(v, samples, stride);  // v[x]: column x of the samples, lane r
  FdctButterfly<FdctRowOps>(v);
  Transpose8(v);  // v[r]: row r of the row pass, lane u
  FdctButterfly<FdctColumnOps>(v);
}

void VecForwardDCT(int32_t* coef, const uint8_t* samples, int32_t stride) {
  VecU v[8];
  VecForwardDCTRows(v, samples, stride);
#pragma GCC unroll 8
  for (int r = 0; r < 8; r++) StoreLanes(coef + 8 * r, v[r]);
}

}  // namespace

#endif
