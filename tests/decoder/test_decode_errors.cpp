// test_decode_errors.cpp - streams the decoder must refuse, each with its
// message: other JPEG processes, damaged headers and data, truncation at
// every stage, misplaced markers, bad tables; and the filter's behaviour
// around failures (null open, -1 fills with the error flag, the message).
// Under the sanitizer build these also show that nothing leaks.
#include <gtest/gtest.h>

#include <functional>

#include "decoder/decode_test_util.h"
#include "jpeg_filters.h"

namespace decoder_test {
namespace {

using testing_support::LibjpegEncode;
using testing_support::LibjpegOptions;

const Image& Photo() {
  static const Image img = testing_support::SyntheticImage(160, 128, 3, 21);
  return img;
}

Bytes Base(LibjpegOptions o = {}) { return LibjpegEncode(Photo(), o); }

Bytes Patched(Bytes jpeg, long offset, uint8_t value) {
  jpeg[offset] = value;
  return jpeg;
}

Bytes Cut(const Bytes& jpeg, long length) { return Bytes(jpeg.begin(), jpeg.begin() + length); }

// Offset of the first entropy-coded byte.
long DataStart(const Bytes& jpeg) {
  const long sos = FindMarker(jpeg, 0xDA);
  return sos + 2 + ((jpeg[sos + 2] << 8) | jpeg[sos + 3]);
}

Bytes Replace(const Bytes& jpeg, long offset, long length, const Bytes& with) {
  Bytes out(jpeg.begin(), jpeg.begin() + offset);
  out.insert(out.end(), with.begin(), with.end());
  out.insert(out.end(), jpeg.begin() + offset + length, jpeg.end());
  return out;
}

// A DHT segment with one table: class/number byte, counts per length 1..16,
// then the values.
Bytes OneTableDHT(uint8_t table, std::vector<int> counts, const Bytes& values) {
  Bytes body{table};
  counts.resize(16, 0);
  for (int c : counts) body.push_back(static_cast<uint8_t>(c));
  body.insert(body.end(), values.begin(), values.end());
  return Segment(0xC4, body);
}

// The base stream with an extra DHT segment before its own tables.
Bytes WithDHT(const Bytes& dht) {
  const Bytes j = Base();
  return Insert(j, FindMarker(j, 0xC4), dht);
}

Bytes Values(int n, uint8_t first, uint8_t step = 1) {
  Bytes v;
  for (int i = 0; i < n; i++) v.push_back(static_cast<uint8_t>(first + i * step));
  return v;
}

enum class Fails { AtOpen, Later };

struct BadCase {
  const char* name;
  std::function<Bytes()> make;
  Fails where;
  const char* message;
};

LibjpegOptions Progressive() {
  LibjpegOptions o;
  o.progressive = true;
  return o;
}
LibjpegOptions Arithmetic() {
  LibjpegOptions o;
  o.arithmetic = true;
  return o;
}

const BadCase kBadCases[] = {
    {"progressive", [] { return Base(Progressive()); }, Fails::AtOpen,
     "Non-baseline or invalid marker code = 194"},
    {"arithmetic", [] { return Base(Arithmetic()); }, Fails::AtOpen,
     "Non-baseline or invalid marker code = 201"},
    {"precision12",
     [] { const Bytes j = Base(); return Patched(j, FindMarker(j, 0xC0) + 4, 12); },
     Fails::AtOpen, "Frame spec precision not 8"},
    {"soi_eoi_only", [] { return Bytes{0xFF, 0xD8, 0xFF, 0xD9}; }, Fails::AtOpen,
     "Failed to understand file format"},
    {"tables_then_eoi",
     [] { const Bytes j = Base(); Bytes out = Cut(j, FindMarker(j, 0xDA)); out.push_back(0xFF); out.push_back(0xD9); return out; },
     Fails::AtOpen, "Failed to understand file format"},
    {"empty", [] { return Bytes{}; }, Fails::AtOpen, "Source EOF during marker"},
    {"cut_in_dht", [] { const Bytes j = Base(); return Cut(j, FindMarker(j, 0xC4) + 10); },
     Fails::AtOpen, "Source EOF during marker"},
    {"cut_after_ff", [] { const Bytes j = Base(); return Cut(j, FindMarker(j, 0xC4) + 1); },
     Fails::AtOpen, "Source EOF before marker"},
    {"cut_in_first_strip", [] { const Bytes j = Base(); return Cut(j, DataStart(j) + 40); },
     Fails::AtOpen, "Source EOF in 8x8 block no. "},
    {"cut_in_later_strip", [] { const Bytes j = Base(); return Cut(j, j.size() - 300); },
     Fails::Later, "Source EOF in 8x8 block no. "},
    {"eoi_in_later_strip",
     [] { const Bytes j = Base(); Bytes out = Cut(j, j.size() - 300); out.push_back(0xFF); out.push_back(0xD9); return out; },
     Fails::Later, "Illegal JPEG marker 0xD9 in MCU"},
    {"rst_in_data_without_dri",
     [] { const Bytes j = Base(); return Insert(j, j.size() - 300, {0xFF, 0xD3}); },
     Fails::Later, "Unexpected JPEG RST3 marker in MCU"},
    {"bad_huffman_code",
     [] { const Bytes j = Base(); return Replace(j, DataStart(j), 6, {0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00}); },
     Fails::AtOpen, "Bad Huffcodes in 8x8 block no. 0"},
    {"rst_between_segments",
     [] { const Bytes j = Base(); return Insert(j, FindMarker(j, 0xC4), {0xFF, 0xD0}); },
     Fails::AtOpen, "Non-baseline or invalid marker code = 208"},
    {"dnl_marker",
     [] { const Bytes j = Base(); return Insert(j, FindMarker(j, 0xC4), Segment(0xDC, {0, 8})); },
     Fails::AtOpen, "Non-baseline or invalid marker code = 220"},
    {"ff00_between_segments",
     [] { const Bytes j = Base(); return Insert(j, FindMarker(j, 0xC4), {0xFF, 0x00}); },
     Fails::AtOpen, "Non-baseline or invalid marker code = 0"},
    {"sos_length_short",
     [] { const Bytes j = Base(); const long s = FindMarker(j, 0xDA); return Patched(j, s + 3, j[s + 3] - 1); },
     Fails::AtOpen, "218 marker segment length is too short"},
    {"dqt_length_short",
     [] { const Bytes j = Base(); const long s = FindMarker(j, 0xDB); return Patched(j, s + 3, j[s + 3] - 1); },
     Fails::AtOpen, "219 marker segment length is too short"},
    {"dht_length_short",
     [] { const Bytes j = Base(); const long s = FindMarker(j, 0xC4); return Patched(j, s + 3, j[s + 3] - 1); },
     Fails::AtOpen, "196 marker segment length is too short"},
    {"sof_length_short",
     [] { const Bytes j = Base(); const long s = FindMarker(j, 0xC0); return Patched(j, s + 3, j[s + 3] - 1); },
     Fails::AtOpen, "192 marker segment length is too short"},
    {"app_length_below_2",
     [] { const Bytes j = Base(); return Insert(j, 2, {0xFF, 0xE3, 0x00, 0x01}); },
     Fails::AtOpen, "227 marker segment length is too short"},
    {"app_runs_past_end",
     [] { return Bytes{0xFF, 0xD8, 0xFF, 0xE1, 0x10, 0x00, 1, 2, 3}; },
     Fails::AtOpen, "Source EOF during marker"},
    {"zero_width",
     [] { const Bytes j = Base(); const long s = FindMarker(j, 0xC0); return Patched(Patched(j, s + 7, 0), s + 8, 0); },
     Fails::AtOpen, "0 width image"},
    {"zero_height",
     [] { const Bytes j = Base(); const long s = FindMarker(j, 0xC0); return Patched(Patched(j, s + 5, 0), s + 6, 0); },
     Fails::AtOpen, "0 length image (DNL markers not supported)"},
    {"five_components",
     [] { const Bytes j = Base(); return Patched(j, FindMarker(j, 0xC0) + 9, 5); },
     Fails::AtOpen, "Frame no. colors==5 not [1..4]"},
    {"second_sof",
     [] { const Bytes j = Base(); const long s = FindMarker(j, 0xC0); return Insert(j, s, Bytes(j.begin() + s, j.begin() + s + 19)); },
     Fails::AtOpen, "Second SOF marker not allowed"},
    {"sampling_5",
     [] { const Bytes j = Base(); return Patched(j, FindMarker(j, 0xC0) + 11, 0x51); },
     Fails::AtOpen, "Sampling not [1..4]"},
    {"sampling_0",
     [] { const Bytes j = Base(); return Patched(j, FindMarker(j, 0xC0) + 11, 0x10); },
     Fails::AtOpen, "Sampling not [1..4]"},
    {"dqt_table_4",
     [] { const Bytes j = Base(); return Patched(j, FindMarker(j, 0xDB) + 4, 0x04); },
     Fails::AtOpen, "DQT segment QTable no. >= 4"},
    {"dqt_zero_quantizer",
     [] { const Bytes j = Base(); return Patched(j, FindMarker(j, 0xDB) + 10, 0); },
     Fails::AtOpen, "DQT seg. ill. quantizer 0"},
    {"dht_table_class_2",
     [] { const Bytes j = Base(); return Patched(j, FindMarker(j, 0xC4) + 4, 0x20); },
     Fails::AtOpen, "Bad DHT segment table no."},
    {"dht_table_4",
     [] { const Bytes j = Base(); return Patched(j, FindMarker(j, 0xC4) + 4, 0x04); },
     Fails::AtOpen, "Bad DHT segment table no."},
    {"frame_qtable_unset",
     [] { const Bytes j = Base(); return Patched(j, FindMarker(j, 0xC0) + 12, 3); },
     Fails::AtOpen, "SOF specified a QTable >= no. QTables"},
    {"dht_163_ac_values", [] { return WithDHT(OneTableDHT(0x11, {0, 0, 0, 0, 0, 0, 0, 0, 163}, Bytes(163, 0x01))); },
     Fails::AtOpen, "Code table over 162 entries"},
    {"dht_13_dc_values", [] { return WithDHT(OneTableDHT(0x01, {0, 0, 0, 0, 13}, Values(13, 0))); },
     Fails::AtOpen, "Code table over 12 entries"},
    {"dht_over_committed", [] { return WithDHT(OneTableDHT(0x01, {2}, {0, 1})); }, Fails::AtOpen,
     "Over-committed Huffman spec."},
    {"dht_all_ones_code", [] { return WithDHT(OneTableDHT(0x01, {1, 1, 2}, {0, 1, 2, 3})); },
     Fails::AtOpen, "Over-committed Huffman spec."},
    {"dht_ac_value_0x20", [] { return WithDHT(OneTableDHT(0x11, {0, 3}, {0x00, 0x20, 0x01})); },
     Fails::AtOpen, "AC HuffTable unusable value 32"},
    {"dht_ac_value_size_11", [] { return WithDHT(OneTableDHT(0x11, {0, 2}, {0x00, 0x0B})); },
     Fails::AtOpen, "AC HuffTable unusable value 11"},
    {"dht_dc_value_12", [] { return WithDHT(OneTableDHT(0x01, {0, 2}, {11, 12})); }, Fails::AtOpen,
     "DC HuffTable unusable mag. category >= 12"},
    {"dht_body_past_end", [] { return Bytes{0xFF, 0xD8, 0xFF, 0xC4, 0x00, 0x20, 0x00, 1, 1}; },
     Fails::AtOpen, "Source EOF during marker"},
    {"qtable_used_not_defined",
     [] { Bytes j = Base(); const long first = FindMarker(j, 0xDB); const long second = first + 69; j[second + 4] = 0x02; return j; },
     Fails::AtOpen, "QTable 1 used but not defined"},
    {"scan_huff_table_4",
     [] { const Bytes j = Base(); return Patched(j, FindMarker(j, 0xDA) + 6, 0x40); },
     Fails::AtOpen, "Scan Huffman table no. >= 4"},
    {"scan_huff_table_undefined",
     [] { const Bytes j = Base(); return Patched(j, FindMarker(j, 0xDA) + 6, 0x23); },
     Fails::AtOpen, "Bad Huffcodes in 8x8 block no. 0"},
    {"scan_zero_components",
     [] { const Bytes j = Base(); return Patched(j, FindMarker(j, 0xDA) + 4, 0); },
     Fails::AtOpen, "No. scan components=0"},
    {"scan_more_than_frame",
     [] { const Bytes j = Base(); return Patched(j, FindMarker(j, 0xDA) + 4, 4); },
     Fails::AtOpen, "No. scan components > no. frame comp."},
    {"scan_unknown_id",
     [] { const Bytes j = Base(); return Patched(j, FindMarker(j, 0xDA) + 7, 9); },
     Fails::AtOpen, "No frame comp. ID equal to a scan component ID"},
    {"scan_order_swapped",
     [] { Bytes j = Base(); const long s = FindMarker(j, 0xDA); std::swap(j[s + 5], j[s + 7]); return j; },
     Fails::AtOpen, "No frame comp. ID equal to a scan component ID"},
    {"dqt_before_soi",
     [] { const Bytes j = Base(); const long q = FindMarker(j, 0xDB); Bytes dqt(j.begin() + q, j.begin() + q + 69); return Insert(Cut(j, 0), 0, dqt); },
     Fails::AtOpen, "SOS, DHT, DQT, or EOI marker before SOI marker"},
    {"eoi_before_soi", [] { return Bytes{0xFF, 0xD9}; }, Fails::AtOpen,
     "SOS, DHT, DQT, or EOI marker before SOI marker"},
    {"unusable_transform",
     [] { const Bytes j = Base(); return Insert(j, 2, Segment(0xEE, {'O', 'r', 'l', 'y', 'x', 0, 1, 0, 0, 0, 0, 2})); },
     Fails::AtOpen, "Unusable ColorTransform=2"},
    {"second_scan",
     [] { Bytes j = Base(); const long sos = FindMarker(j, 0xDA); Bytes tail(j.begin() + sos, j.end()); j.resize(j.size() - 2); j.insert(j.end(), tail.begin(), tail.end()); return j; },
     Fails::Later, "Streams with more than one scan are not supported"},
};

class BadStreams : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadStreams, FailWithTheirMessage) {
  const BadCase& c = GetParam();
  const DecodeResult r = Decode(c.make());
  if (c.where == Fails::AtOpen) {
    EXPECT_FALSE(r.opened);
  } else {
    EXPECT_TRUE(r.opened);
    EXPECT_FALSE(r.complete);
    EXPECT_GT(r.linesDelivered, 0);
  }
  EXPECT_EQ(r.message.substr(0, std::string(c.message).size()), c.message) << r.message;
}

INSTANTIATE_TEST_SUITE_P(Decoder, BadStreams, ::testing::ValuesIn(kBadCases),
                         [](const auto& info) { return std::string(info.param.name); });

// After a failing fill every further fill answers -1 at once; the message
// stays what the failure said.
TEST(FilterFailures, FillsAfterAFailureAnswerMinusOne) {
  const Bytes j = Base();
  testing_support::MemSource source(Cut(j, j.size() - 300));
  int16_t w = 0, h = 0, cc = -1;
  gJPEGError = 0;
  Stm* s = JPEGDOpen(source.stm(), &w, &h, &cc);
  ASSERT_NE(s, nullptr);
  int fills = 0;
  while (JPEGDFilBuf(s) == 0) fills++;
  EXPECT_LT(fills, h);
  EXPECT_TRUE(s->error);
  EXPECT_EQ(s->count, 0);
  EXPECT_EQ(gJPEGError, 1);
  gJPEGError = 0;
  EXPECT_EQ(JPEGDFilBuf(s), -1);
  EXPECT_EQ(gJPEGError, 0);
  JPEGDClose(s);
}

TEST(FilterFailures, NullArguments) {
  int16_t w = 0, h = 0, cc = 0;
  EXPECT_EQ(JPEGDOpen(nullptr, &w, &h, &cc), nullptr);
  JPEGDClose(nullptr);
  Stm bare{};
  JPEGDClose(&bare);
}

// A failure inside one filter's fill lands in that filter's own entry, even
// with another decode filter open at the same time.
TEST(FilterFailures, TwoFiltersKeepTheirOwnErrors) {
  const Bytes good = Base();
  const Bytes bad = Cut(good, good.size() - 300);
  testing_support::MemSource goodSource(good), badSource(bad);
  int16_t w1 = 0, h1 = 0, c1 = -1, w2 = 0, h2 = 0, c2 = -1;
  Stm* a = JPEGDOpen(goodSource.stm(), &w1, &h1, &c1);
  Stm* b = JPEGDOpen(badSource.stm(), &w2, &h2, &c2);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  int goodLines = 0;
  while (JPEGDFilBuf(b) == 0) {
    if (JPEGDFilBuf(a) == 0) goodLines++;
  }
  while (JPEGDFilBuf(a) == 0) goodLines++;
  EXPECT_EQ(goodLines, h1);
  EXPECT_FALSE(a->error && std::string(JPEGLastErrorMessage()).empty());
  EXPECT_EQ(std::string(JPEGLastErrorMessage()).rfind("Source EOF in 8x8 block no.", 0), 0u);
  JPEGDClose(b);
  JPEGDClose(a);
}

}  // namespace
}  // namespace decoder_test
