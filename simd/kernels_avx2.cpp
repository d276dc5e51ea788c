// kernels_avx2.cpp - the AVX2 kernel table: the forward DCT of fdct_vec.h, and
// the inverse DCT and the colour conversions of encoder and decoder written
// here with AVX2 intrinsics, compiled with AVX2 (the build gives this file
// alone -mavx2). It includes nothing that defines functions with external
// linkage, so no AVX2 code can leak into paths that run before the CPU check
// in dispatch.cpp.
//
// GCC keeps an array of vectors on the stack unless the loops over it are
// unrolled, and then copies rows through it in 16-byte pieces whose 32-byte
// reloads stall; hence the unroll requests on such loops (without them the
// inverse DCT ran slower than the SSE2 one).
#include "simd/chroma_terms.h"
#include "simd/coefficient_masks.h"
#include "simd/kernels.h"
#include "simd/reduce_weights.h"
#include "simd/ycc_words.h"

#if defined(__x86_64__)
#include <immintrin.h>

#include "simd/fdct_vec.h"

namespace {

#define JPEG_AVX2_INLINE inline __attribute__((always_inline))

// --- inverse DCT (scalar reference: inverse_dct.cpp) --------------------------
//
// The coefficients may be any 32-bit values (hostile quantizers), so every
// step wraps around as the scalar code's does. The column pass runs on the
// rows as loaded (lane j = column j); pairing the halves of rows r and r + 4,
// then one in-lane 4x4 transpose per half gives the row pass its columns
// (lane r = row r). The row pass leaves output column n in vector n, which
// is descaled, packed to bytes and transposed as bytes (a quarter of the
// shuffling of a second 32-bit transpose). When lastCol < 4, columns 4..7
// are zero before and after the column pass, so only columns 0..3 are
// transposed and the row pass drops their terms.

// x c mod 2^32, the scalar WrapMul. _mm256_mullo_epi32 takes two micro-ops
// and ten cycles, but the 16-bit-halves product of kernels_sse2.cpp (four
// micro-ops) measured slower here: the pass has enough independent work to
// hide the latency.
JPEG_AVX2_INLINE __m256i MulWrap(__m256i x, int32_t c) { return _mm256_mullo_epi32(x, _mm256_set1_epi32(c)); }

JPEG_AVX2_INLINE __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
JPEG_AVX2_INLINE __m256i Sub(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }
JPEG_AVX2_INLINE __m256i Sra(__m256i a, int n) { return _mm256_srai_epi32(a, n); }

// One 8-point pass over eight lanes, in place (idct_pass.h).
#include "simd/idct_pass.h"

template <bool kNarrow>
JPEG_AVX2_INLINE void IdctPass(__m256i* x) {
  IdctPassLanes<kNarrow>(x);
}

// In-place transpose of the 4x4 blocks in both 128-bit halves of w[0..3].
// The first step interleaves rows by 64-bit shifts and blends (lanes 0, 2
// of rows 0, 1 in t0, lanes 1, 3 in t1), which leaves the shuffle unit to
// the second; measured faster than unpacking.
JPEG_AVX2_INLINE void Transpose4x4Halves(__m256i* w) {
  const __m256i t0 = _mm256_blend_epi32(w[0], _mm256_slli_epi64(w[1], 32), 0xAA);
  const __m256i t1 = _mm256_blend_epi32(_mm256_srli_epi64(w[0], 32), w[1], 0xAA);
  const __m256i t2 = _mm256_blend_epi32(w[2], _mm256_slli_epi64(w[3], 32), 0xAA);
  const __m256i t3 = _mm256_blend_epi32(_mm256_srli_epi64(w[2], 32), w[3], 0xAA);
  w[0] = _mm256_unpacklo_epi64(t0, t2);
  w[2] = _mm256_unpackhi_epi64(t0, t2);
  w[1] = _mm256_unpacklo_epi64(t1, t3);
  w[3] = _mm256_unpackhi_epi64(t1, t3);
}

// Rows x[0..7] (lane j = column j) into columns (lane r = row r): rows r and
// r + 4 are paired half by half, then each half's 4x4 is transposed. With
// kNarrow only columns 0..3 are formed (x[4..7] are left as they were).
template <bool kNarrow>
JPEG_AVX2_INLINE void RowsToColumns(__m256i* x) {
  __m256i left[4], right[4];  // columns 0..3 / 4..7 of rows r (low half) and r + 4 (high half)
  for (int r = 0; r < 4; r++) {
    left[r] = _mm256_permute2x128_si256(x[r], x[r + 4], 0x20);
    if (!kNarrow) right[r] = _mm256_permute2x128_si256(x[r], x[r + 4], 0x31);
  }
  Transpose4x4Halves(left);
  for (int j = 0; j < 4; j++) x[j] = left[j];
  if (!kNarrow) {
    Transpose4x4Halves(right);
    for (int j = 0; j < 4; j++) x[4 + j] = right[j];
  }
}

// Output columns n, n + 1 descaled by 2^18 and saturated to 16 bits (the
// descaled values lie within +-2^13, so only the later unsigned byte
// saturation clamps: to 0..255, as the scalar clamp).
JPEG_AVX2_INLINE __m256i DescaledWords(__m256i a, __m256i b) {
  return _mm256_packs_epi32(Sra(a, 18), Sra(b, 18));
}

// Stores output columns x[0..7] (lane r = row r) as eight rows of bytes.
JPEG_AVX2_INLINE void StoreSamples(const __m256i* x, uint8_t* out, int32_t stride) {
  // Per 128-bit half h: bytes of columns 0..3 (left) or 4..7 (right), four
  // bytes each for rows 4h..4h+3.
  const __m256i left = _mm256_packus_epi16(DescaledWords(x[0], x[1]), DescaledWords(x[2], x[3]));
  const __m256i right = _mm256_packus_epi16(DescaledWords(x[4], x[5]), DescaledWords(x[6], x[7]));
  // Transpose each 4x4 of bytes: then four bytes per row.
  const __m256i order = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15,
                                         0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
  const __m256i leftRows = _mm256_shuffle_epi8(left, order), rightRows = _mm256_shuffle_epi8(right, order);
  const __m256i rows01 = _mm256_unpacklo_epi32(leftRows, rightRows);  // rows 0, 1 | 4, 5
  const __m256i rows23 = _mm256_unpackhi_epi32(leftRows, rightRows);  // rows 2, 3 | 6, 7
  const __m128i pairs[4] = {_mm256_castsi256_si128(rows01), _mm256_castsi256_si128(rows23),
                            _mm256_extracti128_si256(rows01, 1), _mm256_extracti128_si256(rows23, 1)};
  for (int k = 0; k < 4; k++) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * k * stride), pairs[k]);
    // (movhps: no alignment needed, where _mm_storeh_pd is a typed double store)
    _mm_storeh_pi(reinterpret_cast<__m64*>(out + (2 * k + 1) * stride), _mm_castsi128_ps(pairs[k]));
  }
}

void AvxInverseDCT(int32_t* block, uint8_t* out, int32_t stride, int32_t lastCol) {
  __m256i x[8];
#pragma GCC unroll 8
  for (int r = 0; r < 8; r++) x[r] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 8 * r));
  IdctPass<false>(x);  // the column pass: lane j is column j
  if (lastCol < 4) {   // columns 4..7 were zero and stay zero
    RowsToColumns<true>(x);
    IdctPass<true>(x);  // the row pass: x[n] holds output column n
  } else {
    RowsToColumns<false>(x);
    IdctPass<false>(x);
  }
  StoreSamples(x, out, stride);
}

// --- per-coefficient flags into zigzag-order masks ----------------------------
//
// Flag bytes (0 or -1, one per coefficient) packed from wider lanes sit in
// the two vectors' four 128-bit halves in an order the packing fixes; they
// are put in zigzag order by byte shuffles, one per source half and result
// vector, before their top bits are gathered. A ZigzagGather gives, for
// result vector v (zigzag positions 32v..32v+31) and source half h, the
// source byte of each result byte, or 0x80 (a zero byte) when it comes from
// another half.

struct ZigzagGather {
  uint8_t index[2][4][32];
};

// NaturalOf(h, j): the natural index whose flag is byte j of half h (0, 1:
// the first vector's low and high 128 bits; 2, 3: the second's).
template <int32_t (*NaturalOf)(int32_t, int32_t)>
constexpr ZigzagGather MakeZigzagGather() {
  ZigzagGather g{};
  const coefficient_masks::ZigzagPositions zigzag = coefficient_masks::MakeZigzagPositions();
  for (int32_t v = 0; v < 2; v++)
    for (int32_t h = 0; h < 4; h++)
      for (int32_t k = 0; k < 32; k++) {
        g.index[v][h][k] = 0x80;
        for (int32_t j = 0; j < 16; j++)
          if (zigzag.of[NaturalOf(h, j)] == 32 * v + k) g.index[v][h][k] = static_cast<uint8_t>(j);
      }
  return g;
}

// 32-bit flags of rows 0..3 (then 4..7), packed twice: each half holds
// four columns of four rows.
constexpr int32_t NaturalOfPackedWords(int32_t h, int32_t j) {
  return 8 * ((h < 2 ? 0 : 4) + j / 4) + (h % 2 == 1 ? 4 : 0) + j % 4;
}

// 16-bit flags of rows 0..3 (then 4..7), packed once: each half holds two
// whole rows, 0 and 2 in the low half, 1 and 3 in the high one.
constexpr int32_t NaturalOfPackedHalfwords(int32_t h, int32_t j) {
  return 8 * ((h < 2 ? 0 : 4) + h % 2 + 2 * (j / 8)) + j % 8;
}

alignas(32) constexpr ZigzagGather kDeadZoneGather = MakeZigzagGather<NaturalOfPackedWords>();
alignas(32) constexpr ZigzagGather kStoredGather = MakeZigzagGather<NaturalOfPackedHalfwords>();

// 32 of the zigzag-ordered bytes (v = 0: positions 0..31, 1: 32..63) from
// the four halves.
JPEG_AVX2_INLINE __m256i GatherZigzag(const ZigzagGather& gather, const __m256i* halves, int32_t v) {
  __m256i out = _mm256_setzero_si256();
  for (int32_t h = 0; h < 4; h++) {
    const __m256i index = _mm256_load_si256(reinterpret_cast<const __m256i*>(gather.index[v][h]));
    out = _mm256_or_si256(out, _mm256_shuffle_epi8(halves[h], index));
  }
  return out;
}

// The flags of the 64 coefficients, in two vectors as NaturalOf describes,
// as a zigzag-order mask of the set ones.
JPEG_AVX2_INLINE uint64_t ZigzagMaskOf(const ZigzagGather& gather, __m256i first, __m256i second) {
  const __m256i halves[4] = {
      _mm256_permute2x128_si256(first, first, 0x00), _mm256_permute2x128_si256(first, first, 0x11),
      _mm256_permute2x128_si256(second, second, 0x00), _mm256_permute2x128_si256(second, second, 0x11)};
  const uint32_t low = static_cast<uint32_t>(_mm256_movemask_epi8(GatherZigzag(gather, halves, 0)));
  const uint32_t high = static_cast<uint32_t>(_mm256_movemask_epi8(GatherZigzag(gather, halves, 1)));
  return static_cast<uint64_t>(high) << 32 | low;
}

// --- forward DCT with the dead-zone test ---------------------------------------

// The level shift off the DC of the transform in v (row r in v[r]), the
// coefficients stored, and the dead-zone mask.
JPEG_AVX2_INLINE uint64_t StoreWithDeadZoneMask(VecU* v, int32_t* coef, const uint32_t* tFlipped,
                                                const uint32_t* twoTFlipped) {
  const VecU levelShift = {static_cast<uint32_t>(0x20000000), 0, 0, 0, 0, 0, 0, 0};
  v[0] -= levelShift;
  // Inside the dead zone: G + T < 2T unsigned, tested signed with both
  // sides' top bits flipped (the thresholds come flipped).
  __m256i inside[8];
#pragma GCC unroll 8
  for (int r = 0; r < 8; r++) {
    StoreLanes(coef + 8 * r, v[r]);
    const __m256i tr = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(tFlipped + 8 * r));
    const __m256i t2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(twoTFlipped + 8 * r));
    inside[r] = _mm256_cmpgt_epi32(t2, _mm256_add_epi32((__m256i)v[r], tr));
  }
  const __m256i rows0to3 = _mm256_packs_epi16(_mm256_packs_epi32(inside[0], inside[1]),
                                              _mm256_packs_epi32(inside[2], inside[3]));
  const __m256i rows4to7 = _mm256_packs_epi16(_mm256_packs_epi32(inside[4], inside[5]),
                                              _mm256_packs_epi32(inside[6], inside[7]));
  return ~ZigzagMaskOf(kDeadZoneGather, rows0to3, rows4to7);
}

uint64_t AvxForwardDCTMask(int32_t* coef, const uint8_t* samples, int32_t stride,
                           const uint32_t* tFlipped, const uint32_t* twoTFlipped) {
  VecU v[8];
  VecForwardDCTRows(v, samples, stride);
  return StoreWithDeadZoneMask(v, coef, tFlipped, twoTFlipped);
}

// Two blocks step by step, each step of the one beside the same step of the
// other: one block's transform is a chain of dependent steps, too long for
// the processor to run much of the next block's beside it on its own.
void AvxForwardDCTMaskPair(DCTEBlockTransform* jobs) {
  VecU a[8], b[8];
  LoadSampleColumns(a, jobs[0].samples, jobs[0].stride);
  LoadSampleColumns(b, jobs[1].samples, jobs[1].stride);
  FdctButterfly<FdctRowOps>(a);
  FdctButterfly<FdctRowOps>(b);
  Transpose8(a);
  Transpose8(b);
  FdctButterfly<FdctColumnOps>(a);
  FdctButterfly<FdctColumnOps>(b);
  jobs[0].zigzag = StoreWithDeadZoneMask(a, jobs[0].coef, jobs[0].tFlipped, jobs[0].twoTFlipped);
  jobs[1].zigzag = StoreWithDeadZoneMask(b, jobs[1].coef, jobs[1].tFlipped, jobs[1].twoTFlipped);
}

// --- the encoder's quantizer (scalar form: block_coder.cpp) ------------------
//
// The 32 x 32 -> 64-bit products come two lanes in four: the even lanes
// directly, the odd ones shifted down first (their figures come a lane
// down already, DCTQuantizerSteps); each is shifted by its own count and
// the halves are put together again. The event itself (category and
// magnitude bits) the coder looks up by the index m + 1024 x (G < 0): one
// load per coded coefficient costs less than forming it in all 64 lanes.

JPEG_AVX2_INLINE __m256i Load8(const uint32_t* p) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(p)); }

uint64_t AvxQuantize(uint32_t* index, const int32_t* coef, const DCTQuantizerSteps* steps) {
  const __m256i largest = _mm256_set1_epi32(1023), negativeRow = _mm256_set1_epi32(1024);
  uint64_t trouble = 0;
#pragma GCC unroll 8
  for (int i = 0; i < 64; i += 8) {
    const __m256i g = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(coef + i));
    const __m256i n = _mm256_add_epi32(_mm256_abs_epi32(g), Load8(steps->d + i));
    const __m256i even = _mm256_srlv_epi64(_mm256_mul_epu32(n, Load8(steps->magic + i)), Load8(steps->evenShift + i));
    const __m256i odd = _mm256_srlv_epi64(_mm256_mul_epu32(_mm256_srli_epi64(n, 32), Load8(steps->oddMagic + i)),
                                          Load8(steps->oddShift + i));
    const __m256i m = _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA);
    const __m256i bad = _mm256_or_si256(n, _mm256_cmpgt_epi32(m, largest));  // top bits
    trouble |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(bad)))) << i;
    const __m256i negative = _mm256_and_si256(_mm256_srai_epi32(g, 31), negativeRow);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(index + i), _mm256_or_si256(m, negative));
  }
  return trouble;
}

// --- the decoder's dequantization of stored blocks (scalar form: coefficient_store.cpp)

void AvxDequantize(int32_t* block, const int16_t* coefs, const int32_t* quant) {
#pragma GCC unroll 8
  for (int i = 0; i < 64; i += 8) {
    const __m256i c = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coefs + i)));
    const __m256i q = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(quant + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(block + i), _mm256_mullo_epi32(c, q));
  }
}

// --- the non-zero mask of a stored block (scalar form: coefficient_store.cpp)

uint64_t AvxNonZeroZigzag(const int16_t* coefs) {
  const __m256i zero = _mm256_setzero_si256();
  __m256i zeros[4];
  for (int32_t i = 0; i < 4; i++)
    zeros[i] = _mm256_cmpeq_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(coefs + 16 * i)), zero);
  return ~ZigzagMaskOf(kStoredGather, _mm256_packs_epi16(zeros[0], zeros[1]), _mm256_packs_epi16(zeros[2], zeros[3]));
}

// --- the decoder's 1/2 reduced transform (scalar form: scaled_idct.cpp) -----
//
// 64-bit lanes throughout, as the scalar passes. The column pass runs on four
// columns per vector (inputs are 32-bit, so _mm256_mul_epi32 is exact); its
// results are transposed so that the row pass runs on the four rows at once,
// which needs them inside 32 bits: otherwise the block goes back to the
// scalar passes. AVX2 has no 64-bit arithmetic shift: x >> n is taken as the
// logical shift of x + 2^63, less 2^(63-n).

JPEG_AVX2_INLINE __m256i ShiftRight64(__m256i x, int n) {
  const __m256i top = _mm256_set1_epi64x(static_cast<int64_t>(uint64_t{1} << 63));
  return _mm256_sub_epi64(_mm256_srli_epi64(_mm256_xor_si256(x, top), n),
                          _mm256_set1_epi64x(static_cast<int64_t>(uint64_t{1} << (63 - n))));
}

JPEG_AVX2_INLINE __m256i Weighted(__m256i x, int32_t w) { return _mm256_mul_epi32(x, _mm256_set1_epi64x(w)); }

// y[0..3] of one 8 -> 4 pass over in[0..7] (lanes: four independent inputs).
JPEG_AVX2_INLINE void ReducePass4(const __m256i* in, __m256i* y) {
  for (int k = 0; k < 2; ++k) {
    const int32_t* w = kReduceWeights4[k];
    const __m256i even = _mm256_add_epi64(_mm256_add_epi64(Weighted(in[0], w[0]), Weighted(in[2], w[2])),
                                          Weighted(in[6], w[6]));  // w[4] is 0
    const __m256i odd = _mm256_add_epi64(_mm256_add_epi64(Weighted(in[1], w[1]), Weighted(in[3], w[3])),
                                         _mm256_add_epi64(Weighted(in[5], w[5]), Weighted(in[7], w[7])));
    y[k] = _mm256_add_epi64(even, odd);
    y[3 - k] = _mm256_sub_epi64(even, odd);
  }
}

// Four vectors of four 64-bit lanes, rows to columns.
JPEG_AVX2_INLINE void Transpose4x64(__m256i* m) {
  const __m256i t0 = _mm256_unpacklo_epi64(m[0], m[1]), t1 = _mm256_unpackhi_epi64(m[0], m[1]);
  const __m256i t2 = _mm256_unpacklo_epi64(m[2], m[3]), t3 = _mm256_unpackhi_epi64(m[2], m[3]);
  m[0] = _mm256_permute2x128_si256(t0, t2, 0x20);
  m[1] = _mm256_permute2x128_si256(t1, t3, 0x20);
  m[2] = _mm256_permute2x128_si256(t0, t2, 0x31);
  m[3] = _mm256_permute2x128_si256(t1, t3, 0x31);
}

int32_t AvxReduceBlock4(const int32_t* block, int32_t lastCol, uint8_t* out, int32_t stride) {
  __m256i columns[8];  // columns[v]: mid[0..3][v]
  const __m256i round = _mm256_set1_epi64x(kReducePassRound);
  __m256i outside = _mm256_setzero_si256();
  for (int half = 0; half < 2; ++half) {
    if (half == 1 && lastCol < 4) {
      for (int v = 4; v < 8; ++v) columns[v] = _mm256_setzero_si256();
      break;
    }
    __m256i in[8], y[4];
    for (int u = 0; u < 8; ++u)
      in[u] = _mm256_cvtepi32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * u + 4 * half)));
    ReducePass4(in, y);
    for (int k = 0; k < 4; ++k) {
      y[k] = ShiftRight64(_mm256_add_epi64(y[k], round), kReduceWeightBits);  // lanes: columns
      // inside 32 bits when x + 2^31 is below 2^32
      outside = _mm256_or_si256(outside, _mm256_srli_epi64(_mm256_add_epi64(y[k], _mm256_set1_epi64x(int64_t{1} << 31)), 32));
    }
    Transpose4x64(y);  // y[j]: column 4 half + j, lanes: rows
    for (int j = 0; j < 4; ++j) columns[4 * half + j] = y[j];
  }
  if (!_mm256_testz_si256(outside, outside)) return 1;
  __m256i y[4];
  ReducePass4(columns, y);  // y[n]: output column n, lanes: rows
  __m128i words[4];
  for (int n = 0; n < 4; ++n) {
    const __m256i v = ShiftRight64(_mm256_add_epi64(y[n], _mm256_set1_epi64x(kReduceOutBias)), kReduceOutShift);
    // the low 32 bits of each lane (the value fits them), rows 0..3
    words[n] = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6)));
  }
  // words[n] lane k = sample (k, n): to rows, then saturated to 0..255.
  const __m128i a = _mm_unpacklo_epi32(words[0], words[1]), b = _mm_unpackhi_epi32(words[0], words[1]);
  const __m128i c = _mm_unpacklo_epi32(words[2], words[3]), d = _mm_unpackhi_epi32(words[2], words[3]);
  const __m128i rows01 = _mm_packs_epi32(_mm_unpacklo_epi64(a, c), _mm_unpackhi_epi64(a, c));
  const __m128i rows23 = _mm_packs_epi32(_mm_unpacklo_epi64(b, d), _mm_unpackhi_epi64(b, d));
  const __m128i bytes = _mm_packus_epi16(rows01, rows23);
  const int32_t rows[4] = {_mm_cvtsi128_si32(bytes), _mm_extract_epi32(bytes, 1), _mm_extract_epi32(bytes, 2),
                           _mm_extract_epi32(bytes, 3)};
  for (int k = 0; k < 4; ++k) __builtin_memcpy(out + k * stride, &rows[k], 4);
  return 0;
}

// --- encoder colour conversion ----------------------------------------------
//
// The colour tables (strip_input.cpp) hold linear terms, each rounded down
// on its own, that the scalar code adds: for a pixel (R, G, B)
//   Y         = (32768 + 19595 R + 38470 G + 7471 B) >> 16
//   Cb x 256  = ((C1 - a R) >> 10) + ((C2 - b G) >> 10) + (B << s)
//   Cr x 256  = (R << s) + ((C3 - e G) >> 10) + ((C4 - d B) >> 10)
// (the pair tables: the same of two samples' sums with halved constants).
// The forms here are those of kernels_sse2.cpp on sixteen 16-bit lanes, with
// its constants and its argument: Y from _mm256_madd_epi16 of the word pairs
// (R, 2G) and (B, 2); each chroma term as offset - mulhi(v x scale + bias,
// multiplier), constants found by search and checked against the term for
// every index (the colour tests repeat that check through both kernels).

// The chroma terms' constants: chroma_terms.h.

inline __m256i Words(uint16_t w) { return _mm256_set1_epi16(static_cast<int16_t>(w)); }

// Two 16-bit constants for _mm256_madd_epi16: `even` multiplies the low word
// of every 32-bit lane, `odd` the high one.
inline __m256i WordPair(int16_t even, int16_t odd) {
  const uint32_t low = static_cast<uint16_t>(even), high = static_cast<uint16_t>(odd);
  return _mm256_set1_epi32(static_cast<int32_t>(low | (high << 16)));
}

// mulhi(v x scale + bias, multiplier): the term is its offset minus this.
inline __m256i TermDrop(const __m256i& v, const ChromaTerm& t) {
  const bool powerOfTwo = (t.scale & (t.scale - 1)) == 0;
  const __m256i scaled =
      powerOfTwo ? _mm256_slli_epi16(v, __builtin_ctz(t.scale)) : _mm256_mullo_epi16(v, Words(t.scale));
  return _mm256_mulhi_epu16(_mm256_add_epi16(scaled, Words(t.bias)), Words(t.multiplier));
}

// Cb and Cr (16-bit lanes, 0..255) of sixteen pixels or pair sums.
inline void ChromaWords(const ChromaTerms& t, const __m256i& r, const __m256i& g, const __m256i& b, __m256i* cb,
                        __m256i* cr) {
  const __m256i cb256 = _mm256_sub_epi16(
      _mm256_sub_epi16(_mm256_add_epi16(_mm256_slli_epi16(b, t.sampleShift), Words(t.cbR.offset + t.cbG.offset)),
                       TermDrop(r, t.cbR)),
      TermDrop(g, t.cbG));
  const __m256i cr256 = _mm256_sub_epi16(
      _mm256_sub_epi16(_mm256_add_epi16(_mm256_slli_epi16(r, t.sampleShift), Words(t.crG.offset + t.crB.offset)),
                       TermDrop(g, t.crG)),
      TermDrop(b, t.crB));
  *cb = _mm256_srli_epi16(cb256, 8);
  *cr = _mm256_srli_epi16(cr256, 8);
}

// Y (16-bit lanes) of sixteen pixels. The unpacks and the pack work per
// 128-bit half, so the lanes keep their order.
inline __m256i LumaWords(const __m256i& r, const __m256i& g, const __m256i& b) {
  const __m256i g2 = _mm256_add_epi16(g, g), two = _mm256_set1_epi16(2);
  const __m256i rgWeights = WordPair(19595, 19235), bWeights = WordPair(7471, 16384);
  const __m256i lo = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(r, g2), rgWeights),
                                      _mm256_madd_epi16(_mm256_unpacklo_epi16(b, two), bWeights));
  const __m256i hi = _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(r, g2), rgWeights),
                                      _mm256_madd_epi16(_mm256_unpackhi_epi16(b, two), bWeights));
  return _mm256_packs_epi32(_mm256_srli_epi32(lo, 16), _mm256_srli_epi32(hi, 16));
}

// Byte shuffles that pick one channel of eight RGB pixels (24 bytes) as
// words: `first` covers the pixels' bytes 0..15, `second` bytes 8..23 (the
// two loads of LoadPlanes16); a channel byte comes from `first` when it lies
// in 0..15. The same pattern serves both 128-bit halves.
struct ByteShuffle {
  int8_t index[32];
};
constexpr ByteShuffle ChannelWords(int channel, bool second) {
  ByteShuffle m{};
  for (int i = 0; i < 32; i++) m.index[i] = -1;  // a zero byte
  for (int half = 0; half < 2; half++) {
    for (int k = 0; k < 8; k++) {
      const int byte = 3 * k + channel;
      if ((byte >= 16) == second) m.index[16 * half + 2 * k] = static_cast<int8_t>(second ? byte - 8 : byte);
    }
  }
  return m;
}
constexpr ByteShuffle kChannelWords[3][2] = {{ChannelWords(0, false), ChannelWords(0, true)},
                                             {ChannelWords(1, false), ChannelWords(1, true)},
                                             {ChannelWords(2, false), ChannelWords(2, true)}};

inline __m256i LoadShuffle(const ByteShuffle& m) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(m.index));
}

// R, G and B of sixteen pixels (exactly the 48 bytes at p) as words: per
// 128-bit half eight pixels, from two overlapping 16-byte loads.
inline void LoadPlanes16(const uint8_t* p, __m256i* planes) {
  const auto load2 = [p](int low, int high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + low))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + high)), 1);
  };
  const __m256i first = load2(0, 24), second = load2(8, 32);
  for (int c = 0; c < 3; c++) {
    planes[c] = _mm256_or_si256(_mm256_shuffle_epi8(first, LoadShuffle(kChannelWords[c][0])),
                                _mm256_shuffle_epi8(second, LoadShuffle(kChannelWords[c][1])));
  }
}

// Two vectors of sixteen words 0..255 as 32 bytes in order (the pack works
// per 128-bit half; the 64-bit units 0, 2, 1, 3 put them back).
inline void StoreBytes32(uint8_t* p, const __m256i& a, const __m256i& b) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8));
}

void AvxRGBToYCbCr(const uint32_t* const* tables, const uint8_t* rgb, uint8_t* y, uint8_t* cb,
                   uint8_t* cr, int32_t count) {
  int32_t i = 0;
  for (; i + 32 <= count; i += 32) {
    __m256i first[3], second[3], cb0, cr0, cb1, cr1;
    LoadPlanes16(rgb + 3 * i, first);
    LoadPlanes16(rgb + 3 * i + 48, second);
    StoreBytes32(y + i, LumaWords(first[0], first[1], first[2]), LumaWords(second[0], second[1], second[2]));
    ChromaWords(kSingleChromaTerms, first[0], first[1], first[2], &cb0, &cr0);
    ChromaWords(kSingleChromaTerms, second[0], second[1], second[2], &cb1, &cr1);
    StoreBytes32(cb + i, cb0, cb1);
    StoreBytes32(cr + i, cr0, cr1);
  }
  DCTERGBToYCbCrScalar(tables, rgb + 3 * i, y + i, cb + i, cr + i, count - i);
}

void AvxRGBPairsToYCbCr(const uint32_t* const* tables, const uint8_t* rgb, uint8_t* y,
                        uint8_t* cb, uint8_t* cr, int32_t count) {
  const __m256i ones = _mm256_set1_epi16(1);
  int32_t i = 0;
  for (; i + 16 <= count; i += 16) {  // sixteen pairs: 32 pixels
    __m256i first[3], second[3], sums[3], cbs, crs;
    LoadPlanes16(rgb + 6 * i, first);
    LoadPlanes16(rgb + 6 * i + 48, second);
    StoreBytes32(y + 2 * i, LumaWords(first[0], first[1], first[2]), LumaWords(second[0], second[1], second[2]));
    // Pair sums as 32-bit lanes (pairs 0..3 | 4..7 of each half), packed to
    // words: pairs 0..3, 8..11 | 4..7, 12..15.
    for (int c = 0; c < 3; c++)
      sums[c] = _mm256_packs_epi32(_mm256_madd_epi16(first[c], ones), _mm256_madd_epi16(second[c], ones));
    ChromaWords(kPairChromaTerms, sums[0], sums[1], sums[2], &cbs, &crs);
    // Bytes in groups of four: Cb of pairs 0..3, 8..11, Cr 0..3, 8..11 | Cb
    // 4..7, 12..15, Cr 4..7, 12..15; then in order.
    const __m256i both = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(cbs, crs),
                                                     _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cb + i), _mm256_castsi256_si128(both));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cr + i), _mm256_extracti128_si256(both, 1));
  }
  DCTERGBPairsToYCbCrScalar(tables, rgb + 6 * i, y + 2 * i, cb + i, cr + i, count - i);
}

// --- decoder colour conversion -------------------------------------------------
//
// Per pixel, with the packed table words W_b = cbTable[Cb], W_r = crTable[Cr]:
//   R = Y + W_r,  G = Y - ((int32)(W_b + W_r) >> 20),  B = Y + W_b
// (32-bit sums), each stored as its low byte unless bits 8..10 are set:
// then 0 if bit 10 is set, else 255. With d = sample - 128 and the words
// as the tables build them (ycc_words.h), the three terms are small:
//   offR = (kCrToR d + kHalf) >> 16     (the low half of W_r, -179..178)
//   offB = (kCbToB d + kHalf) >> 16     (the low half of W_b, -227..226)
//   share = (hi(W_b) + hi(W_r) + carry) >> 4, carry the one out of the
//           low halves' unsigned sum     (-136..135)
// so Y + offR, Y - share and Y + offB lie within -227..481: bits 0..10 are
// the sum itself, and the clamp is the unsigned saturation of a pack. Every
// term is computed in 16-bit lanes, sixteen samples at once: a product
// c x d whose floor(/65536) is wanted is split as c = 65536 k + c' with
// |c'| < 2^15, giving k d + mulhi(d, c') (+ the carry of kHalf into the
// high half: bit 15 of mullo(d, c')).

// floor((k x 65536 + c') d / 65536), or with kHalf added before the floor.
template <int kWhole, int kPart, bool kRound>
inline __m256i HighOfProduct(const __m256i& d) {
  const __m256i part = _mm256_set1_epi16(static_cast<int16_t>(kPart));
  __m256i high = _mm256_add_epi16(_mm256_mullo_epi16(d, _mm256_set1_epi16(kWhole)), _mm256_mulhi_epi16(d, part));
  if (kRound) high = _mm256_add_epi16(high, _mm256_srli_epi16(_mm256_mullo_epi16(d, part), 15));
  return high;
}

// The terms of sixteen chroma sample pairs (16-bit lanes, in sample order
// within each 128-bit half as loaded).
struct ChromaTerms16 {
  __m256i offR, offB, share;
};

inline ChromaTerms16 ChromaTermsOf(const uint8_t* cb, const uint8_t* cr) {
  const __m256i bias = _mm256_set1_epi16(128);
  const __m256i db = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb))), bias);
  const __m256i dr = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr))), bias);
  static_assert(kCrToR == 65536 + 26345 && kCbToB == 2 * 65536 - 14942, "split of the R and B factors");
  static_assert(kCbToG16 == 6 * 65536 - 32363 && kCrToG16 == 11 * 65536 + 27930, "split of the G factors");
  static_assert(kGreenBias == 8 * 65536 + kHalf, "the G bias: 8 and a half");
  ChromaTerms16 t;
  t.offR = HighOfProduct<1, 26345, true>(dr);
  t.offB = HighOfProduct<2, -14942, true>(db);
  const __m256i highB = _mm256_add_epi16(HighOfProduct<6, -32363, true>(db), _mm256_set1_epi16(8));
  const __m256i highR = HighOfProduct<11, 27930, false>(dr);
  const __m256i lowSum = _mm256_add_epi16(t.offB, t.offR);
  const __m256i carry = _mm256_srli_epi16(
      _mm256_or_si256(_mm256_and_si256(t.offB, t.offR), _mm256_andnot_si256(lowSum, _mm256_or_si256(t.offB, t.offR))), 15);
  t.share = _mm256_srai_epi16(_mm256_add_epi16(_mm256_add_epi16(highB, highR), carry), 4);
  return t;
}

// Sixteen pixels, Y and the terms in 16-bit lanes: the pixels of the low
// 128-bit half go to `low` (24 bytes), those of the high half to `high`.
inline void StoreRGB16(const __m256i& y, const __m256i& offR, const __m256i& share, const __m256i& offB, uint8_t* low,
                       uint8_t* high) {
  // Per half: R0..R7 G0..G7, and B0..B7 twice.
  const __m256i rg = _mm256_packus_epi16(_mm256_add_epi16(y, offR), _mm256_sub_epi16(y, share));
  const __m256i bb = _mm256_packus_epi16(_mm256_add_epi16(y, offB), _mm256_add_epi16(y, offB));
  const char z = -1;  // shuffle index that yields a zero byte
  // Bytes 0..15 of the eight RGB pixels, then bytes 16..23.
  const __m256i firstRG = _mm256_setr_epi8(0, 8, z, 1, 9, z, 2, 10, z, 3, 11, z, 4, 12, z, 5,
                                           0, 8, z, 1, 9, z, 2, 10, z, 3, 11, z, 4, 12, z, 5);
  const __m256i firstB = _mm256_setr_epi8(z, z, 0, z, z, 1, z, z, 2, z, z, 3, z, z, 4, z,
                                          z, z, 0, z, z, 1, z, z, 2, z, z, 3, z, z, 4, z);
  const __m256i restRG = _mm256_setr_epi8(13, z, 6, 14, z, 7, 15, z, z, z, z, z, z, z, z, z,
                                          13, z, 6, 14, z, 7, 15, z, z, z, z, z, z, z, z, z);
  const __m256i restB = _mm256_setr_epi8(z, 5, z, z, 6, z, z, 7, z, z, z, z, z, z, z, z,
                                         z, 5, z, z, 6, z, z, 7, z, z, z, z, z, z, z, z);
  const __m256i first = _mm256_or_si256(_mm256_shuffle_epi8(rg, firstRG), _mm256_shuffle_epi8(bb, firstB));
  const __m256i rest = _mm256_or_si256(_mm256_shuffle_epi8(rg, restRG), _mm256_shuffle_epi8(bb, restB));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(low), _mm256_castsi256_si128(first));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(low + 16), _mm256_castsi256_si128(rest));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(high), _mm256_extracti128_si256(first, 1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(high + 16), _mm256_extracti128_si256(rest, 1));
}

void AvxYCbCrToRGB(const uint32_t* cbTable, const uint32_t* crTable, const uint8_t* y,
                   const uint8_t* cb, const uint8_t* cr, uint8_t* rgb, int32_t count) {
  int32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const ChromaTerms16 t = ChromaTermsOf(cb + i, cr + i);
    const __m256i luma = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + i)));
    StoreRGB16(luma, t.offR, t.share, t.offB, rgb + 3 * i, rgb + 3 * i + 24);
  }
  DCTDYCbCrToRGBScalar(cbTable, crTable, y + i, cb + i, cr + i, rgb + 3 * i, count - i);
}

// Thirty-two pixels per sixteen chroma samples: each term doubled into the
// pixel pairs (pixels 0..7 and 16..23, then 8..15 and 24..31, as the bytes
// of Y widen).
void AvxYCbCrPairsToRGB(const uint32_t* cbTable, const uint32_t* crTable, const uint8_t* y,
                        const uint8_t* cb, const uint8_t* cr, uint8_t* rgb, int32_t count) {
  int32_t k = 0;
  const __m256i zero = _mm256_setzero_si256();
  for (; k + 16 <= count; k += 16) {
    const ChromaTerms16 t = ChromaTermsOf(cb + k, cr + k);
    const __m256i luma = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + 2 * k));
    uint8_t* out = rgb + 6 * k;
    StoreRGB16(_mm256_unpacklo_epi8(luma, zero), _mm256_unpacklo_epi16(t.offR, t.offR),
               _mm256_unpacklo_epi16(t.share, t.share), _mm256_unpacklo_epi16(t.offB, t.offB), out, out + 48);
    StoreRGB16(_mm256_unpackhi_epi8(luma, zero), _mm256_unpackhi_epi16(t.offR, t.offR),
               _mm256_unpackhi_epi16(t.share, t.share), _mm256_unpackhi_epi16(t.offB, t.offB), out + 24, out + 72);
  }
  DCTDYCbCrPairsToRGBScalar(cbTable, crTable, y + 2 * k, cb + k, cr + k, rgb + 6 * k, count - k);
}

}  // namespace

// Time per 64 pixels against the SSE2 kernels (jpegbench kernels, best of
// three runs on a shared 2-core x86-64 machine): forward DCT 19 ns vs 28,
// with the dead-zone mask 24 vs 35, inverse DCT 19 vs 31, RGB to YCbCr 19 vs
// 43 (pairs 17 vs 37), YCbCr to RGB 31 vs 55 (pairs 24 vs 42). Computing the
// chroma words instead of gathering them took YCbCr to RGB from 62 to 28 ns
// (pairs 47 to 34) on a 2-core AMD EPYC machine, where gathers are slow;
// computing only the three small terms, in 16-bit lanes, then took it from
// 28 to 21 ns (pairs 31 to 15; SSE2 there: 75 and 54).
const DCTKernels DCTKernelsAVX2 = {&VecForwardDCT, &AvxForwardDCTMask, &AvxInverseDCT, &AvxRGBToYCbCr,
                                   &AvxRGBPairsToYCbCr, &AvxYCbCrToRGB, &AvxYCbCrPairsToRGB, &AvxQuantize,
                                   &AvxReduceBlock4, &AvxDequantize, &AvxNonZeroZigzag, &AvxForwardDCTMaskPair};
#endif
