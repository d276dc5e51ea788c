// simd_sse2.cpp - the SSE2 kernel table: simd_vec.h compiled for the x86-64
// baseline (SSE2 is part of every x86-64 CPU).
#include "dct/simd.h"

#if defined(__x86_64__)
#include "dct/simd_vec.h"

const DCTKernels DCTKernelsSSE2 = {&VecForwardDCT, &VecInverseDCT};
#endif
