// simd_sse2.cpp - the SSE2 kernel table. The scalar transforms already
// compile to SSE2 code (the x86-64 baseline) through the compiler's loop
// vectorization, and the eight-lane forms of simd_vec.h, split into SSE2
// halves, measured slower than them; so this level runs the scalar kernels
// (colour conversion included) until it has hand-written SSE2 ones.
#include "dct/simd.h"

#if defined(__x86_64__)
const DCTKernels DCTKernelsSSE2 = {&DCTForwardDCTScalar, &DCTEForwardDCTMaskScalar, &DCTInverseDCTScalar,
                                   &DCTERGBToYCbCrScalar, &DCTERGBPairsToYCbCrScalar,
                                   &DCTDYCbCrToRGBScalar, &DCTDYCbCrPairsToRGBScalar};
#endif
