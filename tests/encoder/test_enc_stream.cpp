// test_enc_stream.cpp - the bytes the encoder writes where they are fixed:
// header order and every segment, the Huffman table set chosen at the bounds
// of the quality factor, restart markers, padding and EOI, and the exact
// coding of flat blocks.
#include <gtest/gtest.h>

#include <cstring>

#include "dct/dcte.h"
#include "enc_test_util.h"

namespace {

using enc_test::EncodeImage;
using enc_test::EncodeOptions;
using enc_test::HeaderSegments;
using enc_test::Segment;
using testing_support::Bytes;
using testing_support::Image;
using testing_support::SyntheticImage;

void Append(Bytes* b, std::initializer_list<int> bytes) {
  for (int x : bytes) b->push_back(static_cast<uint8_t>(x));
}
void AppendRange(Bytes* b, const uint8_t* p, size_t n) { b->insert(b->end(), p, p + n); }
void Append16(Bytes* b, int v) { Append(b, {v >> 8, v & 0xFF}); }

// The quantizers the DQT must carry, computed here from the bases and caps.
Bytes ExpectedDQTTable(const uint8_t* base, const uint8_t* cap, double quality) {
  const int32_t F = static_cast<int32_t>(quality * 65536);
  const int maxQ = quality <= 1.01 ? 85 : quality <= 1.31 ? 90 : 93;
  Bytes t;
  for (int j = 0; j < 64; j++) {
    long q = (j == 0 && F > 65536) ? base[0] + ((base[0] * (F - 65536L) + 65536) >> 17)
                                   : (static_cast<long>(F) * base[j] + 32768) >> 16;
    q = q <= 0 ? 1 : std::min<long>(q, maxQ);
    t.push_back(static_cast<uint8_t>(std::min<long>(q, cap[j])));
  }
  return t;
}

// The whole header of a subsampled, blended three-component image with host
// marker data, byte for byte.
TEST(EncoderHeader, ThreeComponentsByteExact) {
  EncodeOptions o;
  o.quality = 0.76;
  o.subsample = true;
  o.blend = true;
  o.markerData = {0xFF, 0xED, 0x00, 0x04, 0xAB, 0xCD};
  enc_test::EncodeResult r = EncodeImage(SyntheticImage(17, 33, 3), o);
  ASSERT_TRUE(r.writeOk);
  ASSERT_FALSE(r.jpegError) << r.message;

  Bytes h;
  Append(&h, {0xFF, 0xD8});
  Append(&h, {0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 2, 1, 0, 72, 0, 72, 0, 0});
  AppendRange(&h, o.markerData.data(), o.markerData.size());
  Append(&h, {0xFF, 0xEE, 0, 14, 'O', 'r', 'l', 'y', 'x', 0, 100, 0x80, 0, 0, 0, 1});
  Append(&h, {0xFF, 0xDB, 0, 132, 0});
  Bytes t0 = ExpectedDQTTable(qluma1, tluma1, 0.76), t1 = ExpectedDQTTable(qkroma2, tkroma1, 0.76);
  AppendRange(&h, t0.data(), 64);
  Append(&h, {1});
  AppendRange(&h, t1.data(), 64);
  Append(&h, {0xFF, 0xC0, 0, 17, 8, 0, 33, 0, 17, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1});
  // 0.76 selects table set 1: DC entries 2 and 3, AC atsL1 and atsC1.
  Append(&h, {0xFF, 0xC4});
  Append16(&h, 2 + 2 * (17 + 12) + (17 + 114) + (17 + 111));
  Append(&h, {0});
  AppendRange(&h, dtsbits[2], 28);
  Append(&h, {1});
  AppendRange(&h, dtsbits[3], 28);
  Append(&h, {0x10});
  AppendRange(&h, atsL1, 130);
  Append(&h, {0x11});
  AppendRange(&h, atsC1, 127);
  Append(&h, {0xFF, 0xDD, 0, 4, 0, 2});  // one interval per MCU row: 2 MCUs
  Append(&h, {0xFF, 0xDA, 0, 12, 3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0});
  ASSERT_GE(r.jpeg.size(), h.size());
  EXPECT_EQ(Bytes(r.jpeg.begin(), r.jpeg.begin() + static_cast<long>(h.size())), h);
}

// The DQT carries min(q, cap) of the scaled bases, DC growing at half rate
// above 1.0, every entry within maxQuantValue.
TEST(EncoderHeader, DQTAcrossQualityFactors) {
  for (double q : {0.0, 0.15, 0.5, 1.0, 1.2, 1.3, 2.0, 5.0}) {
    EncodeOptions o;
    o.quality = q;
    o.subsample = true;
    enc_test::EncodeResult r = EncodeImage(SyntheticImage(8, 8, 3), o);
    ASSERT_TRUE(r.opened);
    for (const Segment& s : HeaderSegments(r.jpeg)) {
      if (s.marker != 0xDB) continue;
      ASSERT_EQ(s.body.size(), 130u);
      EXPECT_EQ(Bytes(s.body.begin() + 1, s.body.begin() + 65), ExpectedDQTTable(qluma1, tluma1, q)) << q;
      EXPECT_EQ(Bytes(s.body.begin() + 66, s.body.end()), ExpectedDQTTable(qkroma2, tkroma1, q)) << q;
    }
  }
}

std::vector<int> Markers(const std::vector<Segment>& segs) {
  std::vector<int> m;
  for (const Segment& s : segs) m.push_back(s.marker);
  return m;
}

struct LayoutCase {
  int colors;
  int markerMode;
  bool subsample;
  size_t markerBytes;
  std::vector<int> order;
  int dqtLength, sofLength, sosLength, transform;
  std::vector<int> dhtIds;
  std::vector<int> sofSampling;
};

class HeaderLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(HeaderLayout, SegmentsAndLengths) {
  const LayoutCase& c = GetParam();
  EncodeOptions o;
  o.markerMode = c.markerMode;
  o.subsample = c.subsample;
  if (c.markerBytes) o.markerData = {0xFF, 0xE1, 0x00, 0x03, 0x55};
  enc_test::EncodeResult r = EncodeImage(SyntheticImage(20, 12, c.colors), o);
  ASSERT_FALSE(r.jpegError) << r.message;
  std::vector<Segment> segs = HeaderSegments(r.jpeg);
  ASSERT_EQ(Markers(segs), c.order);
  for (const Segment& s : segs) {
    const int len = static_cast<int>(s.body.size()) + 2;
    if (s.marker == 0xDB) {
      EXPECT_EQ(len, c.dqtLength);
    }
    if (s.marker == 0xC0) {
      EXPECT_EQ(len, c.sofLength);
      for (int i = 0; i < c.colors; i++) EXPECT_EQ(s.body[7 + 3 * i], c.sofSampling[i]);
    }
    if (s.marker == 0xDA) {
      EXPECT_EQ(len, c.sosLength);
    }
    if (s.marker == 0xEE) {
      EXPECT_EQ(s.body[11], c.transform);
    }
    if (s.marker == 0xC4) {
      std::vector<int> ids;
      for (size_t i = 0; i < s.body.size();) {
        ids.push_back(s.body[i]);
        int n = 0;
        for (int k = 0; k < 16; k++) n += s.body[i + 1 + k];
        i += 17 + n;
      }
      EXPECT_EQ(ids, c.dhtIds);
    }
  }
  EXPECT_EQ(r.jpeg[r.jpeg.size() - 2], 0xFF);
  EXPECT_EQ(r.jpeg.back(), 0xD9);
}

const std::vector<int> kWithApp0 = {0xD8, 0xE0, 0xEE, 0xDB, 0xC0, 0xC4, 0xDD, 0xDA};
INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderLayout,
    ::testing::Values(
        LayoutCase{1, 0, false, 0, kWithApp0, 67, 11, 8, 0, {0x00, 0x10}, {0x11}},
        LayoutCase{1, 0, true, 0, kWithApp0, 67, 11, 8, 0, {0x00, 0x10}, {0x22}},
        LayoutCase{3, 0, false, 0, kWithApp0, 132, 17, 12, 1, {0x00, 0x01, 0x10, 0x11},
                   {0x11, 0x11, 0x11}},
        // No JFIF and no host data: APP14 follows SOI directly.
        LayoutCase{3, 1, true, 0, {0xD8, 0xEE, 0xDB, 0xC0, 0xC4, 0xDD, 0xDA}, 132, 17, 12, 1,
                   {0x00, 0x01, 0x10, 0x11}, {0x22, 0x11, 0x11}},
        LayoutCase{3, 1, false, 5, {0xD8, 0xE1, 0xEE, 0xDB, 0xC0, 0xC4, 0xDD, 0xDA}, 132, 17, 12,
                   1, {0x00, 0x01, 0x10, 0x11}, {0x11, 0x11, 0x11}},
        // Mode 2: no transform, subsampling forced off, one table pair.
        LayoutCase{3, 2, true, 5, {0xD8, 0xE0, 0xE1, 0xEE, 0xDB, 0xC0, 0xC4, 0xDD, 0xDA}, 67, 17,
                   12, 0, {0x00, 0x10}, {0x11, 0x11, 0x11}},
        LayoutCase{4, 0, true, 0, kWithApp0, 132, 20, 14, 2, {0x00, 0x01, 0x10, 0x11},
                   {0x22, 0x11, 0x11, 0x22}},
        LayoutCase{2, 0, false, 0, kWithApp0, 67, 14, 10, 0, {0x00, 0x10}, {0x11, 0x11}}));

TEST(EncoderHeader, MarkerModeWritesBackToCaller) {
  EncodeOptions o;
  o.markerMode = 2;
  o.subsample = true;
  JPEGEncodeParams p = enc_test::MakeParams(8, 8, 3, o, nullptr);
  p.QFactor = -3.0;
  testing_support::MemSink sink;
  Stm* s = JPEGOpen(sink.stm(), &p);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(p.subsample, 0);
  EXPECT_EQ(p.ColorTransform, 0);
  EXPECT_EQ(p.QFactor, 0.0);
  JPEGClose(s);
  p.markerMode = 7;
  s = JPEGOpen(sink.stm(), &p);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(p.ColorTransform, 1);
  JPEGClose(s);
}

// The table set at each bound of qFactorFixed (exact binary fractions).
struct SetCase {
  int32_t fixed;
  int dcEntry;  // dtsbits entry of the luminance DC table
  const uint8_t* ac;
  int acLen;
};

class TableSetBounds : public ::testing::TestWithParam<SetCase> {};

TEST_P(TableSetBounds, PicksSet) {
  const SetCase& c = GetParam();
  EncodeOptions o;
  o.quality = c.fixed / 65536.0;
  enc_test::EncodeResult r = EncodeImage(SyntheticImage(8, 8, 1), o);
  ASSERT_FALSE(r.jpegError) << r.message;
  for (const Segment& s : HeaderSegments(r.jpeg)) {
    if (s.marker != 0xC4) continue;
    Bytes dc(s.body.begin() + 1, s.body.begin() + 29);
    EXPECT_EQ(dc, Bytes(dtsbits[c.dcEntry], dtsbits[c.dcEntry] + 28));
    Bytes ac(s.body.begin() + 30, s.body.end());
    EXPECT_EQ(ac, Bytes(c.ac, c.ac + c.acLen));
    EXPECT_EQ(s.body[29], 0x10);
  }
}

INSTANTIATE_TEST_SUITE_P(Bounds, TableSetBounds,
                         ::testing::Values(SetCase{0, 6, atsL4, 178}, SetCase{2047, 6, atsL4, 178},
                                           SetCase{2048, 6, atsL3, 178}, SetCase{8191, 6, atsL3, 178},
                                           SetCase{8192, 4, atsL2, 178}, SetCase{49151, 4, atsL2, 178},
                                           SetCase{49152, 2, atsL1, 130}, SetCase{95231, 2, atsL1, 130},
                                           SetCase{95232, 0, atsL0, 114}, SetCase{131072, 0, atsL0, 114}));

// One restart interval per MCU row: RST0..RST7 cycling, none after the last
// MCU, and EOI last.
struct RestartCase {
  int width, height, colors;
  bool subsample;
  int intervals;  // MCU rows (block rows for one component)
  int dri;
};

class RestartMarkers : public ::testing::TestWithParam<RestartCase> {};

TEST_P(RestartMarkers, OnePerMCURow) {
  const RestartCase& c = GetParam();
  EncodeOptions o;
  o.subsample = c.subsample;
  enc_test::EncodeResult r = EncodeImage(SyntheticImage(c.width, c.height, c.colors), o);
  ASSERT_FALSE(r.jpegError) << r.message;
  for (const Segment& s : HeaderSegments(r.jpeg))
    if (s.marker == 0xDD) {
      EXPECT_EQ(s.body[0] << 8 | s.body[1], c.dri);
    }
  std::vector<int> expected;
  for (int i = 0; i + 1 < c.intervals; i++) expected.push_back(0xD0 + i % 8);
  expected.push_back(0xD9);
  EXPECT_EQ(enc_test::ScanMarkers(r.jpeg), expected);
  EXPECT_EQ(r.jpeg.back(), 0xD9);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RestartMarkers,
                         ::testing::Values(RestartCase{17, 150, 3, true, 10, 2},
                                           RestartCase{17, 150, 3, false, 19, 3},
                                           RestartCase{9, 75, 1, false, 10, 2},
                                           // One component sampled 2x2: still one block per MCU.
                                           RestartCase{9, 75, 1, true, 10, 2},
                                           RestartCase{1, 1, 4, true, 1, 1}));

// --- exact coding of flat blocks ------------------------------------------

// A reference bit packer: appends bits, stuffs, pads with ones.
struct BitString {
  Bytes out;
  std::vector<int> bits;
  void Put(uint32_t v, int n) {
    for (int i = n - 1; i >= 0; i--) bits.push_back(v >> i & 1);
    while (bits.size() >= 8) Emit();
  }
  void Emit() {
    int b = 0;
    for (int i = 0; i < 8; i++) b = b << 1 | bits[i];
    bits.erase(bits.begin(), bits.begin() + 8);
    out.push_back(static_cast<uint8_t>(b));
    if (b == 0xFF) out.push_back(0);
  }
  void Marker(int code) {
    while (!bits.empty() && bits.size() < 8) bits.push_back(1);
    if (!bits.empty()) Emit();
    out.push_back(0xFF);
    out.push_back(static_cast<uint8_t>(code));
  }
};

// Canonical code and length of a symbol in a DHT-style specification.
std::pair<uint32_t, int> CodeOf(const uint8_t* spec, int symbol) {
  int code = 0, k = 0;
  for (int len = 1; len <= 16; len++, code <<= 1)
    for (int n = 0; n < spec[len - 1]; n++, k++, code++)
      if (spec[16 + k] == symbol) return {static_cast<uint32_t>(code), len};
  ADD_FAILURE() << "no code for " << symbol;
  return {0, 0};
}

// A flat grey 16 x 16 image at QFactor 0 (all quantizers 1): every block
// has DC (v - 128) x 8 and no AC. Rows: block 0 codes the DC difference,
// block 1 a zero difference; RST0 restarts the predictor for row 2.
TEST(FlatBlocks, CodedExactly) {
  for (int v : {0, 127, 128, 200, 255}) {
    Image img;
    img.width = img.height = 16;
    img.colors = 1;
    img.pixels.assign(256, static_cast<uint8_t>(v));
    EncodeOptions o;
    o.quality = 0.0;
    enc_test::EncodeResult r = EncodeImage(img, o);
    ASSERT_FALSE(r.jpegError) << r.message;
    const uint8_t* dc = dtsbits[6];  // set 3 luminance
    auto eob = CodeOf(atsL4, 0x00);
    const int diff = (v - 128) * 8;
    const int mag = std::abs(diff);
    int s = 0;
    while ((1 << s) <= mag) s++;
    const uint32_t bits = diff >= 0 ? static_cast<uint32_t>(diff) : static_cast<uint32_t>(~mag & ((1 << s) - 1));
    BitString ref;
    for (int row = 0; row < 2; row++) {
      if (row == 1) ref.Marker(0xD0);
      auto c = CodeOf(dc, s);
      ref.Put(c.first, c.second);
      ref.Put(bits, s);
      ref.Put(eob.first, eob.second);
      auto zero = CodeOf(dc, 0);
      ref.Put(zero.first, zero.second);
      ref.Put(eob.first, eob.second);
    }
    ref.Marker(0xD9);
    const size_t start = enc_test::ScanStart(r.jpeg);
    EXPECT_EQ(Bytes(r.jpeg.begin() + static_cast<long>(start), r.jpeg.end()), ref.out) << v;
  }
}

// A block column wholly right of the image (a 1-pixel-wide image sampled 2x2
// leaves the second luma block of each block row empty) costs DC category 0
// and EOB, and leaves the predictor alone.
TEST(FlatBlocks, NullBlocksRightOfImage) {
  Image img;
  img.width = 1;
  img.height = 16;
  img.colors = 3;
  img.pixels.assign(48, 200);  // grey: Y 200, Cb 128, Cr 128
  EncodeOptions o;
  o.quality = 0.0;
  o.subsample = true;
  enc_test::EncodeResult r = EncodeImage(img, o);
  ASSERT_FALSE(r.jpegError) << r.message;
  BitString ref;
  auto dc0L = CodeOf(dtsbits[6], 0), dc0C = CodeOf(dtsbits[7], 0);
  auto eobL = CodeOf(atsL4, 0), eobC = CodeOf(atsC4, 0);
  auto dc10 = CodeOf(dtsbits[6], 10);
  ref.Put(dc10.first, dc10.second);  // first luma block: 576 = (200 - 128) x 8
  ref.Put(576, 10);
  ref.Put(eobL.first, eobL.second);
  for (int b = 0; b < 3; b++) {  // null block, real block (same DC), null block
    ref.Put(dc0L.first, dc0L.second);
    ref.Put(eobL.first, eobL.second);
  }
  for (int b = 0; b < 2; b++) {  // Cb, Cr
    ref.Put(dc0C.first, dc0C.second);
    ref.Put(eobC.first, eobC.second);
  }
  ref.Marker(0xD9);
  const size_t start = enc_test::ScanStart(r.jpeg);
  EXPECT_EQ(Bytes(r.jpeg.begin() + static_cast<long>(start), r.jpeg.end()), ref.out);
}

}  // namespace
