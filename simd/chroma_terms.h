// chroma_terms.h - the constants the SSE2 and AVX2 encoder colour
// conversions (kernels_sse2.cpp, kernels_avx2.cpp) compute the chroma table terms
// with, in 16-bit lanes.
//
// Each chroma term t(v) = (C - k v) >> 10 of the colour tables
// (strip_input.cpp) is a function of one 8-bit sample, or of the 9-bit sum
// of two for the pair tables, and is computed as
//   offset - mulhi(v x scale + bias, multiplier)
// The four constants of every term were found by a search and checked
// against t(v) for every v the term is indexed by; the colour tests repeat
// that check through both kernels. sampleShift is the table's shift s of
// the sample's own share (B << s in Cb, R << s in Cr).
#ifndef JPEG_SIMD_CHROMA_TERMS_H
#define JPEG_SIMD_CHROMA_TERMS_H

#include <cstdint>

struct ChromaTerm {
  uint16_t scale, bias, multiplier, offset;
};

struct ChromaTerms {
  ChromaTerm cbR, cbG, crG, crB;
  int sampleShift;
};

constexpr ChromaTerms kSingleChromaTerms = {
    {64, 20, 44233, 11085}, {89, 159, 62446, 21974}, {128, 206, 54878, 27691}, {32, 93, 42632, 5436}, 7};
constexpr ChromaTerms kPairChromaTerms = {
    {32, 20, 44234, 11085}, {64, 40, 43419, 21849}, {64, 206, 54878, 27691}, {16, 485, 42632, 5691}, 6};

#endif
