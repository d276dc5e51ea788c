// idct_pass.h - the inverse DCT's 8-point pass on vector lanes, shared
// by the SSE2 and AVX2 kernels (kernels_sse2.cpp, kernels_avx2.cpp).
//
// It is the flow graph of inverse_dct.cpp's Pass1D (constants 181, 3135,
// 10703 and 4433, every product wrapping modulo 2^32 as the scalar code's
// do), on one vector of 32-bit lanes per row: x[n] is input n, and output n
// on return. A kernel file includes it inside its own anonymous namespace,
// after defining for its vector type V the lane operations Add, Sub, Sra
// (arithmetic shift) and MulWrap (product by a constant, modulo 2^32); so
// each file gets its own copy, built for its own instruction set. With
// kNarrow, inputs 4..7 are zero on entry and are not read.
#ifndef JPEG_SIMD_IDCT_PASS_H
#define JPEG_SIMD_IDCT_PASS_H

template <bool kNarrow, typename V>
inline __attribute__((always_inline)) void IdctPassLanes(V* x) {
  const V a = kNarrow ? x[1] : Add(x[1], x[7]), b = kNarrow ? x[1] : Sub(x[1], x[7]);
  const V s = kNarrow ? x[3] : Add(x[3], x[5]), d = kNarrow ? x[3] : Sub(x[3], x[5]);
  const V p = MulWrap(Sra(Sub(a, s), 8), 181);
  const V m = MulWrap(Sra(Sub(b, d), 13), 3135);
  const V q = Sub(MulWrap(Sra(b, 13), 10703), m);
  const V r = Sub(m, MulWrap(Sra(d, 13), 4433));
  const V o0 = Add(Add(a, s), q), o1 = Add(q, p), o2 = Add(p, r), o3 = r;
  const V x6 = kNarrow ? V{} : x[6];
  const V g = MulWrap(Sra(Sub(x[2], x6), 8), 181);
  const V h = Add(g, Add(x[2], x6));
  const V sum04 = kNarrow ? x[0] : Add(x[0], x[4]), dif04 = kNarrow ? x[0] : Sub(x[0], x[4]);
  const V e0 = Add(sum04, h), e3 = Sub(sum04, h), e1 = Add(dif04, g), e2 = Sub(dif04, g);
  x[0] = Add(e0, o0);
  x[7] = Sub(e0, o0);
  x[1] = Add(e1, o1);
  x[6] = Sub(e1, o1);
  x[2] = Add(e2, o2);
  x[5] = Sub(e2, o2);
  x[3] = Add(e3, o3);
  x[4] = Sub(e3, o3);
}

#endif
