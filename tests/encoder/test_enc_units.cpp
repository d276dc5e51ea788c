// test_enc_units.cpp - the encoder's building blocks in isolation: default
// tables, the bit writer with stuffing and markers, code-table building, and
// the quantizer tables the set-up derives from the quality factor.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstring>
#include <random>
#include <set>

#include "dct/dcte.h"
#include "enc_test_util.h"
#include "stream/error_path.h"

namespace {

using testing_support::Bytes;
using testing_support::MemSink;

// Runs fn(arg) with the error jump armed; returns the raised message or "".
std::string RaisedBy(void (*fn)(void*), void* arg) {
  static char message[kDCTMessageSize];
  message[0] = 0;
  DCTSavedEnv saved;
  DCTSaveEnv(&saved, message);
  if (setjmp(gEnv) != 0) {
    DCTEndTry(&saved);
    return message;
  }
  fn(arg);
  DCTEndTry(&saved);
  return "";
}

// A zero-filled state writing into a MemSink.
struct BitFixture {
  MemSink sink{16};
  DCTState* state = DCTFirstInit();
  BitFixture() {
    state->targetStm = sink.stm();
    DCTEinit_sputv(state);
  }
  ~BitFixture() { std::free(state); }
};

// --- default tables ----------------------------------------------------------

const uint8_t* const kACSpecs[10] = {atsL0, atsC0, atsL1, atsC1, atsL2,
                                     atsC2, atsL3, atsC3, atsL4, atsC4};

int CountBits(const uint8_t* spec) {
  int n = 0;
  for (int i = 0; i < 16; i++) n += spec[i];
  return n;
}

// The reduced alphabets hold exactly the (run, size) pairs they advertise.
std::set<int> ExpectedSymbols(int maxSizeLowRuns, int lastLowRun, int maxSizeHighRuns) {
  std::set<int> s = {0x00, 0xF0};
  for (int run = 0; run < 16; run++) {
    const int maxSize = run <= lastLowRun ? maxSizeLowRuns : maxSizeHighRuns;
    for (int size = 1; size <= maxSize; size++) s.insert(run << 4 | size);
  }
  return s;
}

TEST(EncoderTables, AlphabetsOfEachSet) {
  const std::set<int> expected[10] = {
      ExpectedSymbols(6, 15, 6),  ExpectedSymbols(6, 8, 5),   ExpectedSymbols(7, 15, 7),
      ExpectedSymbols(7, 12, 6),  ExpectedSymbols(10, 15, 10), ExpectedSymbols(10, 15, 10),
      ExpectedSymbols(10, 15, 10), ExpectedSymbols(10, 15, 10), ExpectedSymbols(10, 15, 10),
      ExpectedSymbols(10, 15, 10)};
  for (int a = 0; a < 10; a++) {
    const uint8_t* spec = kACSpecs[a];
    EXPECT_EQ(CountBits(spec) + 16, atsLen[a]) << "AC table " << a;
    std::set<int> got(spec + 16, spec + atsLen[a]);
    EXPECT_EQ(got.size(), static_cast<size_t>(atsLen[a] - 16)) << "duplicate symbol in " << a;
    EXPECT_EQ(got, expected[a]) << "AC table " << a;
  }
}

// Every default specification builds: not over-committed, within the code
// limits, every symbol usable; and the built codes are the canonical ones.
TEST(EncoderTables, AllSpecificationsBuildCanonicalCodes) {
  struct Arg {
    DCTState* state;
    const uint8_t* spec;
    int isAC;
    uint16_t code[176];
    uint8_t length[176];
  };
  BitFixture f;
  for (int t = 0; t < 18; t++) {
    Arg arg{};
    arg.state = f.state;
    arg.isAC = t >= 8;
    arg.spec = arg.isAC ? kACSpecs[t - 8] : dtsbits[t];
    std::string msg = RaisedBy(
        [](void* p) {
          Arg* a = static_cast<Arg*>(p);
          DCTEmake_huffenc(a->state, a->spec, a->code, a->length, a->isAC);
        },
        &arg);
    ASSERT_EQ(msg, "") << "table " << t;
    // Canonical codes (ITU-T T.81 C.2) recomputed here.
    int code = 0, k = 0;
    for (int len = 1; len <= 16; len++, code <<= 1) {
      for (int n = 0; n < arg.spec[len - 1]; n++, k++, code++) {
        const int sym = arg.spec[16 + k];
        const int size = sym & 15;
        const int index = !arg.isAC ? sym : size ? size * 16 + (sym >> 4) : (sym == 0 ? 0 : 1);
        EXPECT_EQ(arg.code[index], code) << "table " << t << " symbol " << sym;
        EXPECT_EQ(arg.length[index], len + (arg.isAC ? size : sym)) << "table " << t;
      }
    }
  }
}

// --- code-table building failures --------------------------------------------

struct SpecCase {
  std::vector<uint8_t> bits;  // 16 counts
  std::vector<uint8_t> symbols;
  int isAC;
  const char* message;
};

class HuffencRejects : public ::testing::TestWithParam<SpecCase> {};

TEST_P(HuffencRejects, WithMessage) {
  struct Arg {
    DCTState* state;
    uint8_t spec[178];
    int isAC;
  } arg{};
  BitFixture f;
  arg.state = f.state;
  const SpecCase& c = GetParam();
  std::copy(c.bits.begin(), c.bits.end(), arg.spec);
  std::copy(c.symbols.begin(), c.symbols.end(), arg.spec + 16);
  arg.isAC = c.isAC;
  std::string msg = RaisedBy(
      [](void* p) {
        Arg* a = static_cast<Arg*>(p);
        DCTEmake_huffenc(a->state, a->spec, a->state->acHuffTable[0].code,
                         a->state->acHuffTable[0].length, a->isAC);
      },
      &arg);
  EXPECT_EQ(msg, c.message);
}

const std::vector<uint8_t> kTwoOfLength2 = {0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
INSTANTIATE_TEST_SUITE_P(
    Specs, HuffencRejects,
    ::testing::Values(
        SpecCase{kTwoOfLength2, {0x00, 0x10}, 1, "Unusable AC codeword 16 in HuffTables"},
        SpecCase{kTwoOfLength2, {0x0B, 0x01}, 1, "Unusable AC codeword 11 in HuffTables"},
        SpecCase{kTwoOfLength2, {0xF0, 0x00}, 1, ""},
        SpecCase{kTwoOfLength2, {3, 12}, 0, "Unusable DC codeword mag. cat. >= 12 in HuffTables"},
        SpecCase{{2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 1}, 0,
                 "Over-committed Huffman spec."},
        SpecCase{{0, 0, 0, 0, 13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                 {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0}, 0, "Code table over 12 entries"}));

// --- bit writer -----------------------------------------------------------------

struct BitCase {
  std::vector<std::pair<uint32_t, int>> puts;  // (value, count)
  int marker;                                  // -1: none
  Bytes expected;
};

class BitWriter : public ::testing::TestWithParam<BitCase> {};

TEST_P(BitWriter, WritesStuffedBytes) {
  BitFixture f;
  for (auto [v, n] : GetParam().puts) DCTEmdusputv(f.state, v, n);
  if (GetParam().marker >= 0) {
    DCTEsputmarker(f.state, GetParam().marker);
    EXPECT_EQ(f.state->bitsFree, 8);
  }
  EXPECT_EQ(f.sink.Contents(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BitWriter,
    ::testing::Values(
        BitCase{{{0xFF, 8}}, -1, {0xFF, 0x00}},
        BitCase{{{0xFF00, 16}}, -1, {0xFF, 0x00, 0x00}},
        BitCase{{{0b101, 3}}, 0xD9, {0xBF, 0xFF, 0xD9}},
        BitCase{{}, 0xD9, {0xFF, 0xD9}},
        BitCase{{{0x7F, 7}}, 0xD0, {0xFF, 0x00, 0xFF, 0xD0}},   // padding completes 0xFF
        BitCase{{{0, 1}, {0x7FFFFFF, 27}}, 0xD9,                // 27 bits over four bytes
                {0x7F, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0xD9}},
        BitCase{{{0b1, 1}, {0x5A5A5A5, 27}}, -1, {0xDA, 0x5A, 0x5A}}));

// Random event sequences against a one-bit-at-a-time reference writer.
TEST(BitWriter, MatchesBitwiseReference) {
  std::mt19937 rng(7);
  for (int round = 0; round < 50; round++) {
    BitFixture f;
    std::vector<int> bits;
    Bytes expected;
    auto flushReference = [&](bool pad) {
      while (bits.size() >= 8 || (pad && !bits.empty())) {
        while (pad && bits.size() < 8) bits.push_back(1);
        int b = 0;
        for (int i = 0; i < 8; i++) b = b << 1 | bits[i];
        bits.erase(bits.begin(), bits.begin() + 8);
        expected.push_back(static_cast<uint8_t>(b));
        if (b == 0xFF) expected.push_back(0);
      }
    };
    for (int e = 0; e < 300; e++) {
      if (rng() % 40 == 0) {
        flushReference(true);
        expected.push_back(0xFF);
        expected.push_back(0xD0 + e % 8);
        DCTEsputmarker(f.state, 0xD0 + e % 8);
        continue;
      }
      const int n = 1 + static_cast<int>(rng() % 27);
      // Many ones, so that 0xFF bytes (and stuffing) are frequent.
      const uint32_t v = (rng() % 3 ? 0xFFFFFFFFu : rng()) & ((1u << n) - 1);
      for (int i = n - 1; i >= 0; i--) bits.push_back(v >> i & 1);
      flushReference(false);
      DCTEmdusputv(f.state, v, n);
    }
    flushReference(true);
    DCTEclose_sput(f.state);
    expected.push_back(0xFF);
    expected.push_back(0xD9);
    ASSERT_EQ(f.sink.Contents(), expected) << "round " << round;
  }
}

TEST(BitWriter, ZeroLengthEventIsAMissingCode) {
  BitFixture f;
  std::string msg = RaisedBy([](void* p) { DCTEmdusputv(static_cast<DCTState*>(p), 0, 0); },
                             f.state);
  EXPECT_EQ(msg, "Event with no Huffcode in the spec");
}

// --- quantizer tables -----------------------------------------------------------

// Opens an encoder and returns its state (tables still unscaled: nothing has
// been written yet). The caller closes the stream.
struct OpenEncoder {
  MemSink sink;
  Stm* s = nullptr;
  DCTState* state = nullptr;
  OpenEncoder(double q, int colors, bool subsample, int markerMode = 0, int width = 16) {
    enc_test::EncodeOptions o;
    o.quality = q;
    o.subsample = subsample;
    o.markerMode = markerMode;
    JPEGEncodeParams p = enc_test::MakeParams(width, 16, colors, o, nullptr);
    s = JPEGOpen(sink.stm(), &p);
    if (s) state = static_cast<JPEGFilterContext*>(s->procData)->state;
  }
  ~OpenEncoder() {
    gJPEGError = 0;
    JPEGClose(s);  // premature: nothing written
  }
};

TEST(QuantTables, FactorOneReproducesBasesWithinCaps) {
  OpenEncoder e(1.0, 3, false);
  ASSERT_NE(e.state, nullptr);
  ASSERT_EQ(e.state->qTableCount, 2);
  for (int j = 0; j < 64; j++) {
    const int q0 = std::min<int>(qluma1[j], 85), q1 = std::min<int>(qkroma1[j], 85);
    EXPECT_EQ(e.state->qThreshold[0][j], q0);
    EXPECT_EQ(e.state->qTable[0][j], std::min<int>(q0, tluma1[j]));
    EXPECT_EQ(e.state->qThreshold[1][j], q1);
    EXPECT_EQ(e.state->qTable[1][j], std::min<int>(q1, tkroma1[j]));
  }
  EXPECT_EQ(e.state->qThreshold[0][63], 85);
  EXPECT_EQ(e.state->qTable[0][63], 12);
}

TEST(QuantTables, FactorZeroGivesAllOnes) {
  OpenEncoder e(-3.0, 1, false);
  ASSERT_NE(e.state, nullptr);
  for (int j = 0; j < 64; j++) {
    EXPECT_EQ(e.state->qTable[0][j], 1);
    EXPECT_EQ(e.state->qThreshold[0][j], 1);
  }
}

TEST(QuantTables, DCGrowsAtHalfRateAboveOne) {
  OpenEncoder e(2.0, 1, false);
  ASSERT_NE(e.state, nullptr);
  EXPECT_EQ(e.state->maxQuantValue, 93);
  EXPECT_EQ(e.state->qTable[0][0], 24);  // 16 + ((16 * 65536 + 65536) >> 17)
  for (int j = 1; j < 64; j++) EXPECT_EQ(e.state->qThreshold[0][j], std::min(2 * qluma1[j], 93));
}

TEST(QuantTables, RoundingAndClampAtIntermediateFactor) {
  OpenEncoder e(0.4, 3, true);
  ASSERT_NE(e.state, nullptr);
  const int32_t F = static_cast<int32_t>(0.4 * 65536);
  for (int j = 0; j < 64; j++) {
    const int q = std::max(1, std::min(85, (F * qkroma2[j] + 32768) >> 16));
    EXPECT_EQ(e.state->qThreshold[1][j], q) << j;
    EXPECT_EQ(e.state->qTable[1][j], std::min<int>(q, tkroma1[j])) << j;
  }
}

// Factors far above the supported range saturate instead of overflowing.
TEST(QuantTables, HugeFactorsSaturate) {
  for (double q : {318.0, 400.0, 1e6, 1e300}) {
    OpenEncoder e(q, 1, false);
    ASSERT_NE(e.state, nullptr);
    EXPECT_GT(e.state->qFactorFixed, 0);
    for (int j = 0; j < 64; j++) EXPECT_EQ(e.state->qThreshold[0][j], 93) << q;
  }
}

TEST(QuantTables, MaxQuantValueSteps) {
  const std::pair<double, int> cases[] = {{1.01, 85}, {1.02, 90}, {1.31, 90}, {1.32, 93}};
  for (auto [q, expected] : cases) {
    OpenEncoder e(q, 1, false);
    ASSERT_NE(e.state, nullptr);
    EXPECT_EQ(e.state->maxQuantValue, expected) << q;
  }
}

// Which components are chroma, and the tables and bases that follows from.
TEST(QuantTables, ChromaSelection) {
  struct Case {
    int colors;
    bool subsample;
    int markerMode;
    int tables;
    const uint8_t* chromaBase;
    std::vector<int> sel;
  };
  const Case cases[] = {
      {3, true, 0, 2, qkroma2, {0, 1, 1}},   // transform, 2x2 luma
      {3, false, 0, 2, qkroma1, {0, 1, 1}},  // transform, no subsampling
      {3, false, 2, 1, nullptr, {0, 0, 0}},  // no transform, all full resolution
      {2, false, 0, 1, nullptr, {0, 0}},     // two components at full resolution
      {2, true, 0, 2, qkroma2, {0, 1}},      // second component subsampled
      {4, true, 0, 2, qkroma2, {0, 1, 1, 0}},
      {1, true, 0, 1, nullptr, {0}},
  };
  for (const Case& c : cases) {
    OpenEncoder e(1.0, c.colors, c.subsample, c.markerMode);
    ASSERT_NE(e.state, nullptr);
    EXPECT_EQ(e.state->qTableCount, c.tables);
    EXPECT_EQ(e.state->dcTableCount, c.tables);
    EXPECT_EQ(e.state->acTableCount, c.tables);
    for (int i = 0; i < c.colors; i++) {
      EXPECT_EQ(e.state->components[i].qTableSel, c.sel[i]) << c.colors << " comp " << i;
      EXPECT_EQ(e.state->components[i].acHuffPtr, &e.state->acHuffTable[c.sel[i]]);
      EXPECT_EQ(e.state->components[i].dcHuffPtr, &e.state->dcHuffTable[c.sel[i]]);
    }
    if (c.chromaBase) {
      EXPECT_EQ(e.state->qThreshold[1][5], std::min<int>(c.chromaBase[5], 85));
    }
  }
}

// Right-edge geometry: real samples in the last MCU column and the start of
// the last block column that holds any.
TEST(EncoderSetup, EdgeGeometry) {
  struct Case {
    int width, colors;
    bool subsample;
    int comp, edge, lastBlockX;
  };
  const Case cases[] = {
      {16, 3, false, 0, 0, 8},   // exact fit
      {9, 1, false, 0, 1, 8},    // one real column in the second block
      {17, 3, true, 0, 1, 16},   // luma 32 wide, 17 real
      {17, 3, true, 1, 1, 8},    // chroma 16 wide, 9 real
      {40, 3, true, 1, 4, 16},   // chroma 24 wide, 20 real
      {9, 3, true, 1, 5, 0},     // chroma 8 wide, 5 real
      {1, 3, true, 0, 1, 0},     // luma 16 wide, 1 real: second block column empty
  };
  for (const Case& c : cases) {
    OpenEncoder e(1.0, c.colors, c.subsample, 0, c.width);
    ASSERT_NE(e.state, nullptr);
    EXPECT_EQ(e.state->components[c.comp].edgeSamples, c.edge) << c.width;
    EXPECT_EQ(e.state->components[c.comp].lastBlockX, c.lastBlockX) << c.width;
  }
}

}  // namespace
