// huffman_optimizer.cpp - Huffman code lengths built from symbol counts,
// limited to 16 bits, and their canonical codes (the tables of optimized and
// progressive files; coefficient_image.h).
//
// The lengths are those of a Huffman tree over the counted symbols plus one
// reserved symbol of count 1, which takes the code of all 1-bits so that no
// real code is all 1-bits (ITU-T T.81 K.2, figures K.1 to K.4). Lengths past
// 16 are folded back by moving pairs of the longest codes up a level (K.3);
// then the reserved code, one of the longest, is dropped.
#include <cstring>

#include "encode/coefficient_image.h"

namespace {

constexpr int32_t kSymbols = 257;     // 256 symbols and the reserved one
constexpr int32_t kReserved = 256;
constexpr int32_t kMaxTreeDepth = 64; // a 257-leaf tree is never deeper
constexpr int32_t kMaxCodeLength = 16;

// The two least frequent live symbols (count above zero), ties going to the
// higher symbol as in K.1; c2 is -1 when only one is left.
void TwoLeast(const uint64_t* freq, int32_t* c1, int32_t* c2) {
  *c1 = *c2 = -1;
  for (int32_t i = 0; i < kSymbols; i++) {
    if (freq[i] == 0) continue;
    if (*c1 < 0 || freq[i] <= freq[*c1]) {
      *c2 = *c1;
      *c1 = i;
    } else if (*c2 < 0 || freq[i] <= freq[*c2]) {
      *c2 = i;
    }
  }
}

// Code sizes of every symbol (K.1): repeatedly merges the two least
// frequent subtrees; `others` chains the symbols of one subtree.
void CodeSizes(const uint32_t* counts, int32_t* codeSize) {
  uint64_t freq[kSymbols];
  int32_t others[kSymbols];
  for (int32_t i = 0; i < kSymbols; i++) {
    freq[i] = i == kReserved ? 1 : counts[i];
    others[i] = -1;
    codeSize[i] = 0;
  }
  for (;;) {
    int32_t c1, c2;
    TwoLeast(freq, &c1, &c2);
    if (c2 < 0) break;
    freq[c1] += freq[c2];
    freq[c2] = 0;
    codeSize[c1]++;
    while (others[c1] >= 0) {
      c1 = others[c1];
      codeSize[c1]++;
    }
    others[c1] = c2;
    codeSize[c2]++;
    while (others[c2] >= 0) {
      c2 = others[c2];
      codeSize[c2]++;
    }
  }
}

// Folds code lengths above 16 back (K.3) and drops the reserved code.
void LimitLengths(int32_t* lengthCount) {
  for (int32_t i = kMaxTreeDepth; i > kMaxCodeLength; i--) {
    while (lengthCount[i] > 0) {
      int32_t j = i - 2;
      while (lengthCount[j] == 0) j--;
      lengthCount[i] -= 2;
      lengthCount[i - 1]++;
      lengthCount[j + 1] += 2;
      lengthCount[j]--;
    }
  }
  int32_t i = kMaxCodeLength;
  while (lengthCount[i] == 0) i--;
  lengthCount[i]--;
}

void AssignCodes(DCTEOptTable* t) {
  std::memset(t->size, 0, sizeof t->size);
  uint32_t code = 0;
  int32_t k = 0;
  for (int32_t length = 1; length <= kMaxCodeLength; length++) {
    for (int32_t n = 0; n < t->bits[length - 1]; n++, k++) {
      t->code[t->values[k]] = static_cast<uint16_t>(code++);
      t->size[t->values[k]] = static_cast<uint8_t>(length);
    }
    code <<= 1;
  }
}

}  // namespace

void DCTEBuildOptTable(DCTEOptTable* t) {
  bool any = false;
  for (uint32_t f : t->freq) any = any || f != 0;
  if (!any) t->freq[0] = 1;
  int32_t codeSize[kSymbols];
  CodeSizes(t->freq, codeSize);
  int32_t lengthCount[kMaxTreeDepth + 1] = {};
  for (int32_t i = 0; i < kSymbols; i++) {
    if (codeSize[i] > kMaxTreeDepth) DCTStmErr0("BUG: Huffman tree too deep");
    lengthCount[codeSize[i]]++;
  }
  lengthCount[0] = 0;
  LimitLengths(lengthCount);
  for (int32_t i = 0; i < kMaxCodeLength; i++) t->bits[i] = static_cast<uint8_t>(lengthCount[i + 1]);
  // Symbols by increasing tree depth; folding keeps that order meaningful:
  // the shortest codes still go to the most frequent symbols.
  t->count = 0;
  for (int32_t depth = 1; depth <= kMaxTreeDepth; depth++)
    for (int32_t s = 0; s < kReserved; s++)
      if (codeSize[s] == depth) t->values[t->count++] = static_cast<uint8_t>(s);
  AssignCodes(t);
}
