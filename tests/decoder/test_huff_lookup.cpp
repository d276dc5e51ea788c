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

// The typical luminance tables (T.81 K.3.1 and K.3.2).
const Bytes kLumaDC = Body({0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
Bytes LumaAC() {
  std::vector<int> values = {
      0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
      0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42, 0xB1, 0xC1, 0x15, 0x52, 0xD1, 0xF0, 0x24, 0x33, 0x62, 0x72,
      0x82, 0x09, 0x0A, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x34, 0x35, 0x36, 0x37,
      0x38, 0x39, 0x3A, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
      0x5A, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x83,
      0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9A, 0xA2, 0xA3,
      0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xB2, 0xB3, 0xB4, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xC2, 0xC3,
      0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xCA, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6, 0xD7, 0xD8, 0xD9, 0xDA, 0xE1, 0xE2,
      0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xEA, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0xFA};
  return Body({0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D}, values);
}

const Spec kSpecs[] = {
    {"luminance DC", false, false, kLumaDC},
    {"luminance AC", true, false, LumaAC()},
    // A 1-bit code of category 8 (1 + 8 bits fill the prefix exactly) and a
    // 2-bit one of category 11 (too long for it).
    {"DC one-bit code", false, false, Body({1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {8, 11})},
    // Codes of 9 to 16 bits only: a 9-bit EOB, the rest never in the look-up.
    {"AC long codes", true, false, Body({0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 2}, {0x00, 0x01, 0xF0, 0x11, 0x0A, 0xFA, 0x21, 0x31, 0x05})},
    // End-of-band runs and sixteen zeros go the symbol's way; size-1 events
    // after them still fill the look-up.
    {"AC band runs", true, true, Body({0, 2, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {0x00, 0x10, 0x20, 0xF0, 0x01, 0xE1})},
};

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
  for (const Spec& spec : kSpecs) {
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
