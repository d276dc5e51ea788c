// dispatch.cpp - picks the kernel table (kernels.h) once per process: the
// best level the CPU supports, lowered by JPEG_SIMD=scalar|sse2|avx2 when set.
// A request above what the CPU runs falls back to the best it does run.
#include <cstdlib>
#include <cstring>

#include "simd/kernels.h"

#if defined(__x86_64__)
#define JPEG_SIMD_X86 1
#else
#define JPEG_SIMD_X86 0
#endif

namespace {

const DCTKernels kScalarKernels = {&DCTForwardDCTScalar, &DCTEForwardDCTMaskScalar, &DCTInverseDCTScalar,
                                   &DCTERGBToYCbCrScalar, &DCTERGBPairsToYCbCrScalar,
                                   &DCTDYCbCrToRGBScalar, &DCTDYCbCrPairsToRGBScalar, nullptr,
                                   &DCTDReduceBlock4Scalar};

constexpr const char* kLevelNames[kDCTSimdLevels] = {"scalar", "sse2", "avx2"};

int32_t BestSupportedLevel() {
#if JPEG_SIMD_X86
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2")) return kDCTSimdAVX2;
  return kDCTSimdSSE2;  // part of every x86-64 CPU
#else
  return kDCTSimdScalar;
#endif
}

int32_t RequestedLevel() {
  const char* request = std::getenv("JPEG_SIMD");
  if (request != nullptr) {
    for (int32_t level = 0; level < kDCTSimdLevels; level++)
      if (std::strcmp(request, kLevelNames[level]) == 0) return level;
  }
  return kDCTSimdLevels - 1;
}

DCTSimdLevel ChooseLevel() {
  const int32_t best = BestSupportedLevel();
  const int32_t requested = RequestedLevel();
  return static_cast<DCTSimdLevel>(requested < best ? requested : best);
}

}  // namespace

DCTSimdLevel DCTActiveSimdLevel() {
  static const DCTSimdLevel level = ChooseLevel();  // initialised once, thread-safely
  return level;
}

const DCTKernels* DCTKernelsAt(int32_t level) {
  if (level < 0 || level > BestSupportedLevel()) return nullptr;
#if JPEG_SIMD_X86
  if (level == kDCTSimdAVX2) return &DCTKernelsAVX2;
  if (level == kDCTSimdSSE2) return &DCTKernelsSSE2;
#endif
  return &kScalarKernels;
}

const DCTKernels& DCTActiveKernels() {
  static const DCTKernels* const kernels = DCTKernelsAt(DCTActiveSimdLevel());
  return *kernels;
}

const char* DCTSimdLevelName(int32_t level) {
  return level >= 0 && level < kDCTSimdLevels ? kLevelNames[level] : "unknown";
}
