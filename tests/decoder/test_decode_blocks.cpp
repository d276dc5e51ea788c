// test_decode_blocks.cpp - the block decoder on hand-made scans: blocks that
// end without an end-of-block symbol, zero runs that reach or overshoot
// position 63, restart intervals (markers with wrong numbers, junk before a
// marker), a single-component scan sampled 2x2 whose last strip is partly
// outside the image, and codes longer than the 7-bit lookahead. Outputs are
// compared with libjpeg's decode of the same stream where libjpeg decodes it
// the same way, and with our own decode of an equivalent stream elsewhere.
#include <gtest/gtest.h>

#include <cstdlib>

#include "decoder/decode_test_util.h"

namespace decoder_test {
namespace {

using testing_support::LibjpegDecode;
using testing_support::MaxAbsDiff;

// One AC event: `run` zeros then `value` (value 0 with run 15 is sixteen
// zeros); eob ends the block early.
struct Ac {
  int run;
  int value;
};
struct Block {
  int dcDiff;
  std::vector<Ac> acs;
  bool eob = true;
};

class BitWriter {
 public:
  void Put(uint32_t bits, int count) {
    for (int i = count - 1; i >= 0; i--) {
      acc_ = (acc_ << 1) | ((bits >> i) & 1);
      if (++n_ == 8) Flush();
    }
  }
  Bytes Finish() {
    while (n_ != 0) Put(1, 1);  // pad with 1-bits
    return out_;
  }

 private:
  void Flush() {
    out_.push_back(static_cast<uint8_t>(acc_));
    if ((acc_ & 0xFF) == 0xFF) out_.push_back(0);  // byte stuffing
    acc_ = 0;
    n_ = 0;
  }
  Bytes out_;
  uint32_t acc_ = 0;
  int n_ = 0;
};

int SizeOf(int v) {
  int s = 0;
  for (int a = std::abs(v); a != 0; a >>= 1) s++;
  return s;
}
uint32_t MagnitudeBits(int v, int s) { return v >= 0 ? v : v + (1 << s) - 1; }

// DC table: twelve 4-bit codes, category c has code c. AC table: EOB = 00,
// 0x01 = 010, then every other symbol (run 0..15, size 1..10, and 0xF0) a
// 9-bit code in symbol order, starting at 011000000.
struct Tables {
  Bytes dht;
  std::vector<int> acSymbols;  // in code order after the first two
};

Tables MakeTables() {
  Tables t;
  Bytes dc(16, 0);
  dc[3] = 12;
  for (int c = 0; c < 12; c++) dc.push_back(static_cast<uint8_t>(c));
  Bytes ac(16, 0);
  ac[1] = 1;
  ac[2] = 1;
  ac.push_back(0x00);
  ac.push_back(0x01);
  for (int rs = 0; rs < 256; rs++) {
    const int size = rs & 15;
    if ((size >= 1 && size <= 10 && rs != 0x01) || rs == 0xF0) t.acSymbols.push_back(rs);
  }
  ac[8] = static_cast<uint8_t>(t.acSymbols.size());
  for (int rs : t.acSymbols) ac.push_back(static_cast<uint8_t>(rs));
  Bytes body{0x00};
  body.insert(body.end(), dc.begin(), dc.end());
  body.push_back(0x10);
  body.insert(body.end(), ac.begin(), ac.end());
  t.dht = Segment(0xC4, body);
  return t;
}

void PutAcSymbol(BitWriter& w, const Tables& t, int rs) {
  if (rs == 0x00) return w.Put(0, 2);
  if (rs == 0x01) return w.Put(2, 3);
  for (size_t i = 0; i < t.acSymbols.size(); i++) {
    if (t.acSymbols[i] == rs) return w.Put(192 + static_cast<uint32_t>(i), 9);
  }
  FAIL() << "no code for " << rs;
}

void PutBlock(BitWriter& w, const Tables& t, const Block& b) {
  const int s = SizeOf(b.dcDiff);
  w.Put(s, 4);
  if (s) w.Put(MagnitudeBits(b.dcDiff, s), s);
  for (const Ac& a : b.acs) {
    const int size = SizeOf(a.value);
    PutAcSymbol(w, t, a.run << 4 | size);
    if (size) w.Put(MagnitudeBits(a.value, size), size);
  }
  if (b.eob) PutAcSymbol(w, t, 0x00);
}

struct Scan {
  int width = 8, height = 8;
  uint8_t sampling = 0x11;
  int restartInterval = 0;
  // Blocks in data order; a restart marker is written after every
  // restartInterval blocks unless markerCodes says otherwise.
  std::vector<Block> blocks;
  std::vector<Bytes> markers;  // the bytes written at each restart point
};

Bytes BuildGrey(const Scan& scan) {
  const Tables t = MakeTables();
  Bytes out{0xFF, 0xD8};
  Bytes dqt{0x00};
  for (int k = 0; k < 64; k++) dqt.push_back(static_cast<uint8_t>(2 + k / 8));
  for (const Bytes& seg :
       {Segment(0xDB, dqt),
        Segment(0xC0, {8, static_cast<uint8_t>(scan.height >> 8), static_cast<uint8_t>(scan.height),
                       static_cast<uint8_t>(scan.width >> 8), static_cast<uint8_t>(scan.width), 1, 1,
                       scan.sampling, 0}),
        t.dht}) {
    out.insert(out.end(), seg.begin(), seg.end());
  }
  if (scan.restartInterval) {
    const Bytes dri = Segment(0xDD, {0, static_cast<uint8_t>(scan.restartInterval)});
    out.insert(out.end(), dri.begin(), dri.end());
  }
  const Bytes sos = Segment(0xDA, {1, 1, 0x00, 0, 63, 0});
  out.insert(out.end(), sos.begin(), sos.end());
  BitWriter w;
  size_t marker = 0;
  for (size_t i = 0; i < scan.blocks.size(); i++) {
    if (scan.restartInterval && i > 0 && i % scan.restartInterval == 0) {
      const Bytes data = w.Finish();
      out.insert(out.end(), data.begin(), data.end());
      w = BitWriter();
      const Bytes m = marker < scan.markers.size()
                          ? scan.markers[marker]
                          : Bytes{0xFF, static_cast<uint8_t>(0xD0 + marker % 8)};
      out.insert(out.end(), m.begin(), m.end());
      marker++;
    }
    PutBlock(w, t, scan.blocks[i]);
  }
  const Bytes data = w.Finish();
  out.insert(out.end(), data.begin(), data.end());
  out.push_back(0xFF);
  out.push_back(0xD9);
  return out;
}

Image DecodeOk(const Bytes& jpeg) {
  const DecodeResult r = Decode(jpeg);
  EXPECT_TRUE(r.complete) << r.message;
  return r.image;
}

void ExpectMatchesLibjpeg(const Bytes& jpeg) {
  Image ours = DecodeOk(jpeg), theirs;
  ASSERT_TRUE(LibjpegDecode(jpeg, &theirs, false));
  ASSERT_EQ(ours.pixels.size(), theirs.pixels.size());
  EXPECT_LE(MaxAbsDiff(ours.pixels, theirs.pixels), 2);
}

Block Busy(int dc, int seed) {
  Block b{dc, {}};
  for (int k = 0; k < 12; k++) b.acs.push_back({(seed + k) % 3, (((seed * 7 + k * 5) % 41) - 20) | 1});
  return b;
}

TEST(HandMadeBlocks, EndOfBlockRightAfterDC) {
  Scan s;
  s.width = 16;
  s.blocks = {Block{40, {}}, Block{-25, {}}};
  const Image img = DecodeOk(BuildGrey(s));
  // Quantizer 2: DC 80 -> 138 everywhere; then 30 -> 131.75 rounds to 132.
  for (int y = 0; y < 8; y++) {
    for (int x = 0; x < 8; x++) EXPECT_EQ(img.pixels[y * 16 + x], 138);
    for (int x = 8; x < 16; x++) EXPECT_EQ(img.pixels[y * 16 + x], 132);
  }
  ExpectMatchesLibjpeg(BuildGrey(s));
}

TEST(HandMadeBlocks, BusyBlocksMatchLibjpeg) {
  Scan s;
  s.width = 40;
  s.height = 16;
  for (int i = 0; i < 10; i++) s.blocks.push_back(Busy(i % 2 ? 7 : -5, i));
  ExpectMatchesLibjpeg(BuildGrey(s));
}

// A coefficient at position 63 completes the block with no EOB symbol; the
// next bits belong to the next block.
TEST(HandMadeBlocks, CoefficientAt63NeedsNoEndOfBlock) {
  Scan s;
  s.width = 24;
  Block full{3, {{0, 5}, {15, 0}, {15, 0}, {15, 0}, {13, -3}}, false};  // 1, 2..49 zero, 63
  s.blocks = {full, Busy(2, 3), full};
  ExpectMatchesLibjpeg(BuildGrey(s));
}

// Sixteen zeros from position 47 end at 63 and complete the block.
TEST(HandMadeBlocks, SixteenZerosReaching63CompleteTheBlock) {
  Scan s;
  s.width = 16;
  Block b{1, {{0, 4}, {15, 0}, {15, 0}, {13, 2}, {15, 0}}, false};  // 1, 47, 48..63 zero
  s.blocks = {b, Busy(-4, 5)};
  ExpectMatchesLibjpeg(BuildGrey(s));
}

// A run that overshoots 63 drops its coefficient: the block decodes as if
// the coefficient were absent, and decoding goes on with the next block.
TEST(HandMadeBlocks, OvershootingRunIsDiscarded) {
  Scan over, plain;
  over.width = plain.width = 24;
  Block overshoot{6, {{0, 9}, {15, 0}, {15, 0}, {15, 0}, {11, 3}, {15, 7}}, false};
  Block without{6, {{0, 9}, {15, 0}, {15, 0}, {15, 0}, {11, 3}}};
  over.blocks = {overshoot, Busy(1, 2), Busy(-1, 4)};
  plain.blocks = {without, Busy(1, 2), Busy(-1, 4)};
  EXPECT_EQ(DecodeOk(BuildGrey(over)).pixels, DecodeOk(BuildGrey(plain)).pixels);
}

// Interval 2 and five MCUs: markers before MCUs 2 and 4, the DC predictor
// back at 0 after each (the DC differences below only add up right so).
TEST(HandMadeBlocks, RestartIntervalResetsThePredictor) {
  Scan s;
  s.width = 40;
  s.restartInterval = 2;
  s.blocks = {Block{10, {}}, Block{5, {}}, Block{10, {}}, Block{5, {}}, Block{10, {}}};
  const Bytes jpeg = BuildGrey(s);
  const Image img = DecodeOk(jpeg);
  const int expected[5] = {131, 132, 131, 132, 131};  // DC 20 -> 130.5, 30 -> 131.75
  for (int b = 0; b < 5; b++) EXPECT_EQ(img.pixels[b * 8], expected[b]) << "block " << b;
  ExpectMatchesLibjpeg(jpeg);
}

// The number of a restart marker is not checked, and junk bytes before a
// marker are skipped.
TEST(HandMadeBlocks, RestartMarkerNumberAndJunkAreIgnored) {
  Scan s;
  s.width = 40;
  s.height = 16;
  s.restartInterval = 3;
  for (int i = 0; i < 10; i++) s.blocks.push_back(Busy(i - 5, i));
  const Image reference = DecodeOk(BuildGrey(s));
  s.markers = {{0xFF, 0xD3}, {0x12, 0x34, 0xFF, 0xFF, 0xD7}, {0xFF, 0xD0}};
  EXPECT_EQ(DecodeOk(BuildGrey(s)).pixels, reference.pixels);
}

// A restart due where the stream holds some other marker: the scan's data
// ended early.
TEST(HandMadeBlocks, OtherMarkerWhereRestartIsDue) {
  Scan s;
  s.width = 40;
  s.restartInterval = 2;
  for (int i = 0; i < 5; i++) s.blocks.push_back(Busy(i, i));
  s.markers = {{0xFF, 0xFE, 0x00, 0x02}};
  const DecodeResult r = Decode(BuildGrey(s));
  EXPECT_FALSE(r.opened);
  EXPECT_EQ(r.message, "Illegal JPEG marker 0xFE in MCU");
}

// One component sampled 2x2 in a 20-line image: strips of 16 lines; the
// second strip holds only one block row of data.
TEST(HandMadeBlocks, SingleComponentWithVerticalSampling) {
  Scan s;
  s.width = 16;
  s.height = 20;
  s.sampling = 0x22;
  for (int i = 0; i < 6; i++) s.blocks.push_back(Busy(3 - i, i));
  ExpectMatchesLibjpeg(BuildGrey(s));
}

// The last code of the scan needs bits past the data: the missing bits
// count as zero, so an EOB code 00 of which only the first bit is present
// still ends the block; a further read of bits is the truncation error.
TEST(HandMadeBlocks, LastCodeCompletedWithZeroBits) {
  Scan s;
  s.blocks = {Block{5, {}, true}};
  // DC 0011 101, EOB 00, padding: 3A 7F.
  Bytes jpeg = BuildGrey(s);
  const long eoi = static_cast<long>(jpeg.size()) - 2;
  ASSERT_EQ(jpeg[eoi - 1], 0x7F);
  const Image full = DecodeOk(jpeg);
  jpeg.erase(jpeg.begin() + eoi - 1);
  EXPECT_EQ(DecodeOk(jpeg).pixels, full.pixels);
  s.width = 16;
  s.blocks.push_back(Block{0, {}, true});  // 0000 00: 3A 01
  Bytes two = BuildGrey(s);
  ASSERT_EQ(two[two.size() - 3], 0x01);
  two.erase(two.end() - 3);
  const DecodeResult r = Decode(two);
  EXPECT_FALSE(r.opened);
  EXPECT_EQ(r.message, "Illegal JPEG marker 0xD9 in MCU");
}

}  // namespace
}  // namespace decoder_test
