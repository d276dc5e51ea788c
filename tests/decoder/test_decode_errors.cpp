// test_decode_errors.cpp - streams the decoder must refuse, each with its
// exact message, at the open or at a later fill, whatever the refill piece
// size (one-byte pieces make the end of data arrive on the slow path): other
// JPEG processes, truncation, damaged Huffman data, wrong segment lengths,
// misplaced markers and bad or missing tables. Also the width hint's count.
#include <gtest/gtest.h>

#include <functional>

#include "decoder/decode_test_util.h"

namespace decoder_test {
namespace {

Bytes Base(bool progressive = false, bool arithmetic = false, int restart = 0) {
  static const Image img = SyntheticImage(160, 128, 3, 21);
  LibjpegOptions o;
  o.progressive = progressive, o.arithmetic = arithmetic, o.restartInterval = restart;
  return LibjpegEncode(img, o);
}
// Base with the byte at (first marker `code`) + offset set to value, or decreased by one.
Bytes Patched(uint8_t code, long offset, int value, Bytes j = Base()) {
  uint8_t& b = j[FindMarker(j, code) + offset];
  b = static_cast<uint8_t>(value < 0 ? b - 1 : value);
  return j;
}
// The first `length` bytes of j (all but the last -length when negative), then `tail`.
Bytes Cut(long length, const Bytes& tail = {}, Bytes j = Base()) {
  j.resize(length < 0 ? j.size() + length : length);
  return Insert(j, j.size(), tail);
}
Bytes Before(uint8_t code, const Bytes& bytes, const Bytes& j = Base()) { return Insert(j, FindMarker(j, code), bytes); }
const long kDataStart = FindMarker(Base(), 0xDA) + 14;  // after a three-component SOS
const Bytes kEOI = {0xFF, 0xD9};

struct BadCase {
  const char* name;
  std::function<Bytes()> make;
  bool atOpen;          // else after some lines
  const char* message;  // the message, or its start when it ends in "no. "
};

const BadCase kBadCases[] = {
    {"progressive", [] { return Base(true); }, true, "Non-baseline or invalid marker code = 194"},
    {"arithmetic", [] { return Base(false, true); }, true, "Non-baseline or invalid marker code = 201"},
    {"precision12", [] { return Patched(0xC0, 4, 12); }, true, "Frame spec precision not 8"},
    {"soi_eoi", [] { return Bytes{0xFF, 0xD8, 0xFF, 0xD9}; }, true, "Failed to understand file format"},
    {"tables_then_eoi", [] { return Cut(FindMarker(Base(), 0xDA), kEOI); }, true, "Failed to understand file format"},
    {"cut_in_dht", [] { return Cut(FindMarker(Base(), 0xC4) + 10); }, true, "Source EOF during marker"},
    {"cut_in_first_strip", [] { return Cut(kDataStart + 40); }, true, "Source EOF in 8x8 block no. "},
    {"cut_in_later_strip", [] { return Cut(-300); }, false, "Source EOF in 8x8 block no. "},
    {"eoi_in_later_strip", [] { return Cut(-300, kEOI); }, false, "Illegal JPEG marker 0xD9 in MCU"},
    {"bad_huffman_code", [] { return Insert(Base(), kDataStart, {0xFF, 0, 0xFF, 0, 0xFF, 0}); }, true,
     "Bad Huffcodes in 8x8 block no. 0"},
    {"sos_length_short", [] { return Patched(0xDA, 3, -1); }, true, "218 marker segment length is too short"},
    {"dht_length_short", [] { return Patched(0xC4, 3, -1); }, true, "196 marker segment length is too short"},
    {"rst_in_data_without_dri", [] { return Insert(Base(), Base().size() - 300, {0xFF, 0xD3}); }, false,
     "Unexpected JPEG RST3 marker in MCU"},
    {"rst_between_segments", [] { return Before(0xC4, {0xFF, 0xD0}); }, true, "Non-baseline or invalid marker code = 208"},
    {"other_marker_where_restart_is_due", [] { return Patched(0xD0, 1, 0xFE, Base(false, false, 2)); }, true,
     "Illegal JPEG marker 0xFE in MCU"},
    {"qtable_used_not_defined", [] { return Patched(0xDB, 69 + 4, 0x02); }, true, "QTable 1 used but not defined"},
    {"second_scan", [] { const Bytes j = Base(); return Cut(-2, Bytes(j.begin() + FindMarker(j, 0xDA), j.end())); }, false,
     "Streams with more than one scan are not supported"},
    {"scan_huff_table_4", [] { return Patched(0xDA, 6, 0x40); }, true, "Scan Huffman table no. >= 4"},
    {"scan_huff_table_undefined", [] { return Patched(0xDA, 6, 0x23); }, true, "Bad Huffcodes in 8x8 block no. 0"},
    {"dht_over_committed", [] { return Before(0xC4, Segment(0xC4, {0x01, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1})); },
     true, "Over-committed Huffman spec."},
};

class BadStreams : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadStreams, FailWithTheirMessage) {
  const BadCase& c = GetParam();
  const Bytes jpeg = c.make();
  for (size_t piece : {8192, 1}) {
    const DecodeResult r = Decode(jpeg, [piece](size_t) { return piece; });
    EXPECT_EQ(r.opened, !c.atOpen) << "piece " << piece;
    EXPECT_EQ(r.complete, false);
    const std::string want = c.message;
    EXPECT_EQ(want.back() == ' ' ? r.message.substr(0, want.size()) : r.message, want) << r.message;
  }
}

INSTANTIATE_TEST_SUITE_P(Decoder, BadStreams, ::testing::ValuesIn(kBadCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The count a fill sets: the width hint times the colours, never above the
// line, never past what the 16-bit count holds.
TEST(WidthHint, CountFollowsTheHintWithinLimits) {
  const struct { int16_t hint; int width, colors, count; } cases[] = {
      {0, 24, 1, 0}, {10, 24, 3, 30}, {100, 24, 3, 72}, {-5, 24, 3, 0}, {30000, 12000, 3, 32767}};
  for (const auto& c : cases) {
    const DecodeResult r = Decode(LibjpegEncode(SyntheticImage(c.width, 16, c.colors, 3)),
                                  nullptr, c.hint);
    ASSERT_TRUE(r.complete) << r.message;
    EXPECT_EQ(r.firstCount, c.count) << "hint " << c.hint;
  }
}

}  // namespace
}  // namespace decoder_test
