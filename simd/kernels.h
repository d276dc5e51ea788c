// kernels.h - the table of hot inner kernels the codec runs through, chosen once
// per process for the CPU it runs on.
//
// Every kernel exists as the portable scalar code (the reference, in the
// file that uses it) and as vector code built for SSE2 (kernels_sse2.cpp) and
// AVX2 (kernels_avx2.cpp, compiled for AVX2 alone and only entered when the CPU
// reports it). All versions compute exactly the same bits. The level in use
// is the best the CPU runs, unless the environment variable JPEG_SIMD
// (scalar, sse2 or avx2, read once) asks for a lower one. Other architectures
// build the scalar level only.
#ifndef JPEG_SIMD_KERNELS_H
#define JPEG_SIMD_KERNELS_H

#include <atomic>
#include <cstdint>

enum DCTSimdLevel : int32_t { kDCTSimdScalar = 0, kDCTSimdSSE2 = 1, kDCTSimdAVX2 = 2 };
constexpr int32_t kDCTSimdLevels = 3;

// The encoder's divisors for the vector quantizer, natural order: d, and
// n / 2d as (n x magic) >> shift, laid out for 64-bit lane products: the
// multiply of an even lane reads magic[n] and shifts by evenShift[n]; an odd
// lane's figures sit one lane down, in oddMagic[n - 1] and oddShift[n - 1].
// The shifts' other halves are 0, so each 64-bit lane holds one count.
struct DCTQuantizerSteps {
  alignas(32) uint32_t d[64];
  alignas(32) uint32_t magic[64];
  alignas(32) uint32_t oddMagic[64];
  alignas(32) uint32_t evenShift[64];
  alignas(32) uint32_t oddShift[64];
};

// One block for the paired transform (forwardDCTMaskPair): forwardDCTMask's
// arguments, and its result.
struct DCTEBlockTransform {
  int32_t* coef;
  const uint8_t* samples;
  const uint32_t* tFlipped;
  const uint32_t* twoTFlipped;
  int32_t stride;
  uint64_t zigzag;
};

struct DCTKernels {
  // Forward DCT of the 8x8 samples at `samples` (`stride` bytes apart) into
  // 64 coefficients at the transform's scale, DC without the level shift
  // (see forward_dct.cpp).
  void (*forwardDCT)(int32_t* coef, const uint8_t* samples, int32_t stride);
  // The encoder's transform with the level shift taken off the DC (as
  // DCTTransform), then the dead-zone test of every coefficient G against
  // its threshold T: bit k of the result is set when the coefficient at
  // zigzag position k lies outside -T <= G < T. The thresholds are in
  // natural order, with their top bits flipped: tFlipped[n] is T and
  // twoTFlipped[n] is 2T, each XOR 2^31 (the test is G + T < 2T unsigned,
  // made signed by flipping both sides; G + (T XOR 2^31) flips the left).
  uint64_t (*forwardDCTMask)(int32_t* coef, const uint8_t* samples, int32_t stride,
                             const uint32_t* tFlipped, const uint32_t* twoTFlipped);
  // Inverse DCT of a dequantized block whose DC already carries the level
  // shift and rounding, written as clamped samples (see inverse_dct.cpp).
  // Coefficients right of lastCol are zero. The block is left modified.
  void (*inverseDCT)(int32_t* block, uint8_t* out, int32_t stride, int32_t lastCol);
  // Encoder colour conversion of `count` RGB pixels into Y, Cb and Cr lines
  // through the YCbCr colour tables (strip_input.cpp); the vector forms
  // compute the tables' sums directly.
  void (*rgbToYCbCr)(const uint32_t* const* tables, const uint8_t* rgb, uint8_t* y, uint8_t* cb,
                     uint8_t* cr, int32_t count);
  // The same for `count` pixel pairs sampled 2, 1, 1 with blended chroma:
  // two Y each, Cb and Cr of the pair's mean (the pair tables).
  void (*rgbPairsToYCbCr)(const uint32_t* const* tables, const uint8_t* rgb, uint8_t* y,
                          uint8_t* cb, uint8_t* cr, int32_t count);
  // Decoder colour conversion of `count` YCbCr pixels (Y, Cb, Cr lines) into
  // interleaved RGB through the packed YCbCr tables of the decoder, with
  // their clamp (raster_output.cpp; the AVX2 forms compute the tables' words,
  // simd/ycc_words.h, rather than reading them) ...
  void (*yccToRGB)(const uint32_t* cbTable, const uint32_t* crTable, const uint8_t* y,
                   const uint8_t* cb, const uint8_t* cr, uint8_t* rgb, int32_t count);
  // ... and of `count` pixel pairs whose chroma is sampled once per pair.
  void (*yccPairsToRGB)(const uint32_t* cbTable, const uint32_t* crTable, const uint8_t* y,
                        const uint8_t* cb, const uint8_t* cr, uint8_t* rgb, int32_t count);
  // The encoder's quantizer on all 64 coefficients G at once (natural
  // order): m = (|G| + d) / 2d, exactly as (n x magic) >> shift (steps), and
  // index[n] = m + 1024 when G < 0, m otherwise: the coder's index of the
  // value's event (block_coder.cpp). Returns the coefficients it cannot
  // serve (|G| + d of 2^31 or more, or m of 1024 or more), which the coder
  // codes one at a time. nullptr at levels where
  // quantizing only the coefficients outside the dead zone, one at a time,
  // is faster (block_coder.cpp).
  uint64_t (*quantize)(uint32_t* index, const int32_t* coef, const DCTQuantizerSteps* steps);
  // The decoder's 1/2 reduced transform of a dequantized block (columns
  // right of lastCol zero) into 4 x 4 samples, rows `stride` bytes apart,
  // exactly as the scalar passes of decode/scaled_idct.cpp; returns non-zero
  // without writing when a block's intermediate values leave the range the
  // vector form serves (hostile coefficients), for the scalar passes to do
  // it (the scalar form always returns 0).
  int32_t (*reduceBlock4)(const int32_t* block, int32_t lastCol, uint8_t* out, int32_t stride);
  // The decoder's dequantization of a stored block (coefficient store):
  // block[n] = coefs[n] x quant[n], the low 32 bits of the product.
  void (*dequantize)(int32_t* block, const int16_t* coefs, const int32_t* quant);
  // Bit k set when the stored coefficient (natural order) at zigzag
  // position k is not zero (progressive refinement).
  uint64_t (*nonZeroZigzag)(const int16_t* coefs);
  // forwardDCTMask of two blocks at once, jobs[0] and jobs[1], each mask
  // into its job's zigzag; nullptr where it would only make the two calls.
  void (*forwardDCTMaskPair)(DCTEBlockTransform* jobs);
};

// The two blocks' transforms by the paired kernel where the level has one,
// else one at a time.
static inline void DCTETransformPair(const DCTKernels& kernels, DCTEBlockTransform* jobs) {
  if (kernels.forwardDCTMaskPair != nullptr) return kernels.forwardDCTMaskPair(jobs);
  for (int32_t j = 0; j < 2; j++)
    jobs[j].zigzag = kernels.forwardDCTMask(jobs[j].coef, jobs[j].samples, jobs[j].stride, jobs[j].tFlipped,
                                            jobs[j].twoTFlipped);
}

DCTSimdLevel DCTActiveSimdLevel();
// The kernels of one level, or nullptr when this CPU or build cannot run it
// (tests compare every level against the scalar one).
const DCTKernels* DCTKernelsAt(int32_t level);
// The kernels of the level in use, chosen on first call, thread-safely: the
// table once chosen (null before), and the choosing, out of line, so that
// the hot loops read one pointer and keep the rare call off their path
// (a function-local static would put its guard's calls inline, and every
// caller would save registers for them).
extern std::atomic<const DCTKernels*> gDCTActiveKernels;
[[gnu::cold, gnu::noinline]] const DCTKernels* DCTChooseActiveKernels();
// Inline, so that the hot loops read the table without a call; static, so
// that each file keeps its own copy (the bit-op builds of the coders lend
// no function to the others).
static inline const DCTKernels& DCTActiveKernels() {
  const DCTKernels* kernels = gDCTActiveKernels.load(std::memory_order_acquire);
  if (__builtin_expect(kernels == nullptr, 0)) kernels = DCTChooseActiveKernels();
  return *kernels;
}
const char* DCTSimdLevelName(int32_t level);

// The entropy coders (encode/block_coder.cpp, decode/huffman_sequential.cpp,
// decode/huffman_progressive.cpp) are built twice on x86-64: for the baseline
// instruction set, and once more (their names ending in BitOps) for the bit
// instructions BMI1, BMI2, LZCNT and POPCNT, which take a few instructions
// off every coded event: shifts by any register, bit counts in one step.
// True when that second build runs: the AVX2 level is in use (so JPEG_SIMD
// runs the baseline coders too) and the CPU reports all four.
bool DCTUseBitOpCoders();
// True when that build runs and the CPU's bit deposit (PDEP) takes a few
// cycles, as on most; the progressive decoder then finds the end of a zero
// run with it.
bool DCTFastBitDeposit();

// The two builds' own names; JPEG_BITOP_BUILD marks the second.
#if defined(JPEG_BITOP_BUILD)
#define JPEG_CODER_NAME(name) name##BitOps
#else
#define JPEG_CODER_NAME(name) name
#endif

// The scalar references (forward_dct.cpp, block_coder.cpp, inverse_dct.cpp, strip_input.cpp,
// raster_output.cpp, coefficient_store.cpp).
void DCTForwardDCTScalar(int32_t* coef, const uint8_t* samples, int32_t stride);
void DCTInverseDCTScalar(int32_t* block, uint8_t* out, int32_t stride, int32_t lastCol);
uint64_t DCTEForwardDCTMaskScalar(int32_t* coef, const uint8_t* samples, int32_t stride,
                                  const uint32_t* tFlipped, const uint32_t* twoTFlipped);
void DCTERGBToYCbCrScalar(const uint32_t* const* tables, const uint8_t* rgb, uint8_t* y,
                          uint8_t* cb, uint8_t* cr, int32_t count);
void DCTERGBPairsToYCbCrScalar(const uint32_t* const* tables, const uint8_t* rgb, uint8_t* y,
                               uint8_t* cb, uint8_t* cr, int32_t count);
void DCTDYCbCrToRGBScalar(const uint32_t* cbTable, const uint32_t* crTable, const uint8_t* y,
                          const uint8_t* cb, const uint8_t* cr, uint8_t* rgb, int32_t count);
int32_t DCTDReduceBlock4Scalar(const int32_t* block, int32_t lastCol, uint8_t* out, int32_t stride);
void DCTDDequantizeScalar(int32_t* block, const int16_t* coefs, const int32_t* quant);
uint64_t DCTDNonZeroZigzagScalar(const int16_t* coefs);
void DCTDYCbCrPairsToRGBScalar(const uint32_t* cbTable, const uint32_t* crTable, const uint8_t* y,
                               const uint8_t* cb, const uint8_t* cr, uint8_t* rgb, int32_t count);

// The vector tables (kernels_sse2.cpp, kernels_avx2.cpp); x86-64 only.
extern const DCTKernels DCTKernelsSSE2;
extern const DCTKernels DCTKernelsAVX2;

#endif
