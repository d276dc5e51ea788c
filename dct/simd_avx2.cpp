// simd_avx2.cpp - the AVX2 kernel table: simd_vec.h compiled with AVX2 (the
// build gives this file alone -mavx2). It includes nothing that defines
// functions with external linkage, so no AVX2 code can leak into paths that
// run before the CPU check in simd_dispatch.cpp.
#include "dct/simd.h"

#if defined(__x86_64__)
#include "dct/simd_vec.h"

const DCTKernels DCTKernelsAVX2 = {&VecForwardDCT, &VecInverseDCT};
#endif
