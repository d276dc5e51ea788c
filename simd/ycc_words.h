// ycc_words.h - the decoder's YCbCr-to-RGB table words (raster_output.cpp
// builds its tables from these constants) as arithmetic, so that the AVX2
// conversion computes a pixel's words instead of gathering them.
//
// With d = sample - 128 and 32-bit wrap-around:
//   Cb word = Pack(kCbToG16 d + kGreenBias, kCbToB d + kHalf)
//   Cr word = Pack(kCrToG16 d,              kCrToR d + kHalf)
// where Pack(high, low) keeps the high half of `high` and puts bits 16..31
// of `low` in the low half. The tables of a YCCK image carry other biases.
#ifndef JPEG_SIMD_YCC_WORDS_H
#define JPEG_SIMD_YCC_WORDS_H

#include <cstdint>

// 16.16 JFIF coefficients (Cb and Cr shares of G carried in 1/16 units).
constexpr int32_t kCbToB = 116130;    // 1.772 * 65536
constexpr int32_t kCrToR = 91881;     // 1.402 * 65536
constexpr int32_t kCbToG16 = 360853;  // 0.34414 * 16 * 65536
constexpr int32_t kCrToG16 = 748826;  // 0.71414 * 16 * 65536
constexpr int32_t kHalf = 32768;      // 0.5, rounding of the R and B offsets
constexpr int32_t kGreenBias = 557056;  // 8.5 * 65536: rounding of the G share

#endif
