// test_huff_lookup.cpp - the decoder's combined Huffman look-up (code and
// magnitude bits of one event per prefix) against a decoding of every prefix
// straight from the canonical codes (ITU-T T.81 C.2, F.2.2.1), for DC and AC
// tables with short, long and one-bit codes and with end-of-band runs.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "decode/decoder.h"
#include "support/test_support.h"

namespace {

using testing_support::Bytes;
using testing_support::MemSource;

// A DHT table body: BITS (16 counts) then HUFFVAL.
struct Spec {
  const char* name;
  bool isAC;
  bool progressive;
  Bytes body;
};

Bytes Body(std::vector<int> counts, std::vector<int> values) {
  Bytes b;
  for (int c : counts) b.push_back(static_cast<uint8_t>(c));
  for (int v : values) b.push_back(static_cast<uint8_t>(v));
  return b;
}

// The four tables libjpeg writes for a colour file (the typical ones),
// then odd ones.
std::vector<Spec> Specs() {
  const Bytes j = testing_support::LibjpegEncode(testing_support::SyntheticImage(8, 8, 3));
  std::vector<Spec> specs;
  for (size_t i = 0; i + 4 < j.size(); i++) {
    if (j[i] != 0xFF || j[i + 1] != 0xC4) continue;
    const size_t end = i + 2 + (j[i + 2] << 8 | j[i + 3]);
    specs.push_back({"libjpeg", (j[i + 4] >> 4) == 1, false, Bytes(j.begin() + static_cast<long>(i) + 5, j.begin() + static_cast<long>(end))});
  }
  // A 1-bit code of category 8 (1 + 8 bits fill the prefix exactly) and a
  // 2-bit one of category 11 (too long for it).
  specs.push_back({"DC one-bit code", false, false, Body({1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {8, 11})});
  // Codes of 9 to 16 bits only: a 9-bit EOB, the rest never in the look-up.
  specs.push_back({"AC long codes", true, false, Body({0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 2}, {0x00, 0x01, 0xF0, 0x11, 0x0A, 0xFA, 0x21, 0x31, 0x05})});
  // End-of-band runs and sixteen zeros go the symbol's way; size-1 events
  // after them still fill the look-up.
  specs.push_back({"AC band runs", true, true, Body({0, 2, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {0x00, 0x10, 0x20, 0xF0, 0x01, 0xE1})});
  return specs;
}

// The event the canonical codes give for a prefix of kDCTDLookaheadBits bits.
struct Event {
  bool complete = false;  // the prefix holds its code and all its magnitude bits
  int total = 0, advance = 0, value = 0;
};

Event Reference(const Spec& spec, int prefix) {
  constexpr int width = kDCTDLookaheadBits;
  int code = 0, k = 0;
  for (int length = 1; length <= width; length++, code <<= 1) {
    for (int n = 0; n < spec.body[length - 1]; n++, k++, code++) {
      if (prefix >> (width - length) != code) continue;
      const int symbol = spec.body[16 + k];
      const int s = spec.isAC ? symbol & 15 : symbol;
      Event e;
      if ((spec.isAC && s == 0 && symbol != 0) || length + s > width) return e;
      const int raw = (prefix >> (width - length - s)) & ((1 << s) - 1);
      e.complete = true;
      e.total = length + s;
      e.advance = !spec.isAC ? 0 : s == 0 ? 64 : (symbol >> 4) + 1;
      e.value = s == 0 ? 0 : raw < (1 << (s - 1)) ? raw - (1 << s) + 1 : raw;
      return e;
    }
  }
  return Event{};  // a longer code, or none
}

TEST(HuffmanLookup, EveryPrefixGivesTheEventOfTheCanonicalCodes) {
  const std::vector<Spec> specs = Specs();
  EXPECT_EQ(specs.size(), 7u);
  for (const Spec& spec : specs) {
    SCOPED_TRACE(spec.name);
    DCTState* state = static_cast<DCTState*>(std::calloc(1, sizeof(DCTState)));
    state->progressive = spec.progressive ? 1 : 0;
    state->frameColors = 1;  // a frame header was read: its kind decides on band runs
    MemSource source(spec.body);
    state->targetStm = source.stm();
    DCTDinit_sgetv(state);
    DCTDHuffTable* table = spec.isAC ? &state->huffDecAC[0] : &state->huffDecDC[0];
    DCTDmake_huffdec(state, table, spec.isAC ? 1 : 0);
    int complete = 0;
    for (int prefix = 0; prefix < (1 << kDCTDLookaheadBits); prefix++) {
      const Event want = Reference(spec, prefix);
      const int32_t entry = table->fast[prefix];
      if (!want.complete) {
        EXPECT_EQ(entry, kDCTDNoFastEntry) << "prefix " << prefix;
        continue;
      }
      complete++;
      EXPECT_EQ(entry & 0xFF, want.total) << "prefix " << prefix;
      EXPECT_EQ((entry >> 8) & 0xFF, want.advance) << "prefix " << prefix;
      EXPECT_EQ(entry >> 16, want.value) << "prefix " << prefix;
    }
    EXPECT_GT(complete, 0);
    std::free(state);
  }
}

}  // namespace
