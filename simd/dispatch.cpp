// dispatch.cpp - picks the kernel table (kernels.h) once per process: the
// best level the CPU supports, lowered by JPEG_SIMD=scalar|sse2|avx2 when set.
// A request above what the CPU runs falls back to the best it does run.
#include <cstdlib>
#include <cstring>
#if defined(JPEG_HAVE_BITOP_CODERS)
#include <cpuid.h>
#endif

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
                                   &DCTDReduceBlock4Scalar, &DCTDDequantizeScalar, &DCTDNonZeroZigzagScalar, nullptr};

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

#if defined(JPEG_HAVE_BITOP_CODERS)  // x86-64 builds
// BMI1, BMI2, LZCNT and POPCNT, from the processor's own report (the
// compilers' feature tests do not all know LZCNT).
static bool CpuHasBitOps() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0 || (c & bit_POPCNT) == 0) return false;
  if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0 || (b & bit_BMI) == 0 || (b & bit_BMI2) == 0) return false;
  return __get_cpuid(0x80000001, &a, &b, &c, &d) != 0 && (c & bit_LZCNT) != 0;
}

bool DCTUseBitOpCoders() {
  static const bool use = DCTActiveSimdLevel() == kDCTSimdAVX2 && CpuHasBitOps();
  return use;
}

// The processor family (base family, plus the extended one above 0Fh).
static unsigned CpuFamily() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return 0;
  const unsigned base = (a >> 8) & 0xF;
  return base == 0xF ? base + ((a >> 20) & 0xFF) : base;
}

// Families 15h to 18h run PDEP as microcode, at tens to hundreds of cycles.
static bool CpuHasFastBitDeposit() {
  const unsigned family = CpuFamily();
  return family < 0x15 || family > 0x18;
}

bool DCTFastBitDeposit() {
  static const bool fast = DCTUseBitOpCoders() && CpuHasFastBitDeposit();
  return fast;
}
#else
bool DCTUseBitOpCoders() { return false; }
bool DCTFastBitDeposit() { return false; }
#endif

DCTSimdLevel DCTActiveSimdLevel() {
  static const DCTSimdLevel level = ChooseLevel();  // initialised once, thread-safely
  return level;
}

std::atomic<const DCTKernels*> gDCTActiveKernels{nullptr};

// Threads that meet the table first at the same time store the same pointer.
const DCTKernels* DCTChooseActiveKernels() {
  const DCTKernels* kernels = DCTKernelsAt(DCTActiveSimdLevel());
  gDCTActiveKernels.store(kernels, std::memory_order_release);
  return kernels;
}

const DCTKernels* DCTKernelsAt(int32_t level) {
  if (level < 0 || level > BestSupportedLevel()) return nullptr;
#if JPEG_SIMD_X86
  if (level == kDCTSimdAVX2) return &DCTKernelsAVX2;
  if (level == kDCTSimdSSE2) return &DCTKernelsSSE2;
#endif
  return &kScalarKernels;
}

const char* DCTSimdLevelName(int32_t level) {
  return level >= 0 && level < kDCTSimdLevels ? kLevelNames[level] : "unknown";
}
