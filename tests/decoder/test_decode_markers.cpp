// test_decode_markers.cpp - header variants the decoder accepts: segments
// in unusual places and orders, table numbers 2 and 3, mixed-precision DQT
// segments, over-long segments, application segments of every kind, the
// colour-transform APP14 segment, fill bytes and junk between segments, and
// nothing read after EOI. Each variant must decode exactly as the plain file.
#include <gtest/gtest.h>

#include <functional>

#include "decoder/decode_test_util.h"
#include "jpeg_filters.h"

namespace decoder_test {
namespace {

using testing_support::LibjpegDecode;
using testing_support::LibjpegEncode;
using testing_support::LibjpegOptions;

const Bytes& Colour() {
  static const Bytes jpeg = LibjpegEncode(testing_support::SyntheticImage(40, 24, 3, 9));
  return jpeg;
}
const Bytes& Grey() {
  static const Bytes jpeg = LibjpegEncode(testing_support::SyntheticImage(24, 16, 1, 4));
  return jpeg;
}

long SegmentEnd(const Bytes& j, long at) { return at + 2 + ((j[at + 2] << 8) | j[at + 3]); }
Bytes Part(const Bytes& j, long from, long to) { return Bytes(j.begin() + from, j.begin() + to); }
Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
Bytes WithSegmentLengthPlus(Bytes j, uint8_t code, int extra) {
  const long at = FindMarker(j, code);
  const long length = ((j[at + 2] << 8) | j[at + 3]) + extra;
  j[at + 2] = static_cast<uint8_t>(length >> 8);
  j[at + 3] = static_cast<uint8_t>(length);
  return Insert(j, SegmentEnd(j, at) - extra, Bytes(extra, 0xA5));
}

// The grey file with its DHT tables renumbered (DC 0 -> 2, AC 0 -> 3) and
// the scan's selector byte set accordingly.
Bytes RenumberedTables(const Bytes& j, uint8_t dc, uint8_t ac) {
  Bytes out = j;
  for (long at = 0; (at = FindMarker(out, 0xC4)) >= 0 && at < static_cast<long>(out.size());) {
    // Patch every table class byte in this segment, then hide it from
    // FindMarker by moving past it.
    long p = at + 4;
    const long end = SegmentEnd(out, at);
    while (p < end) {
      const bool isAC = out[p] >= 0x10;
      out[p] = isAC ? static_cast<uint8_t>(0x10 | ac) : dc;
      int count = 0;
      for (int k = 1; k <= 16; k++) count += out[p + k];
      p += 17 + count;
    }
    out[at + 1] = 0x01;  // temporary mark
  }
  for (size_t i = 0; i + 1 < out.size(); i++) {
    if (out[i] == 0xFF && out[i + 1] == 0x01) out[i + 1] = 0xC4;
  }
  out[FindMarker(out, 0xDA) + 6] = static_cast<uint8_t>(dc << 4 | ac);
  return out;
}

struct Variant {
  const char* name;
  const Bytes& (*base)();
  std::function<Bytes(const Bytes&)> edit;
};

const Variant kVariants[] = {
    {"junk_before_soi", Colour, [](const Bytes& j) { return Insert(j, 0, {1, 2, 3, 0x7F, 0}); }},
    {"fill_bytes_before_markers", Colour,
     [](const Bytes& j) { return Insert(Insert(j, FindMarker(j, 0xC4), {0xFF, 0xFF, 0xFF}), 2, {0xFF}); }},
    {"junk_between_segments", Colour,
     [](const Bytes& j) { return Insert(j, FindMarker(j, 0xC4), {0x00, 0x42, 0x10}); }},
    {"sof_dri_app_com_before_soi", Colour,
     [](const Bytes& j) {
       const long sof = FindMarker(j, 0xC0);
       Bytes head = Concat({Part(j, sof, SegmentEnd(j, sof)), Segment(0xDD, {0, 0}),
                            Segment(0xE5, {1, 2, 3}), Segment(0xFE, {'h', 'i'})});
       Bytes rest = Concat({Part(j, 0, sof), Part(j, SegmentEnd(j, sof), j.size())});
       return Concat({head, rest});
     }},
    {"app_and_com_segments", Colour,
     [](const Bytes& j) {
       return Insert(j, 2, Concat({Segment(0xE1, Bytes(300, 7)), Segment(0xFE, {}), Segment(0xEF, {9}),
                                   Segment(0xED, Bytes(40, 'x'))}));
     }},
    {"app14_short_or_foreign", Colour,
     [](const Bytes& j) {
       return Insert(j, 2, Concat({Segment(0xEE, Bytes(11, 'O')),
                                   Segment(0xEE, {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 1})}));
     }},
    {"app14_transform_1", Colour,
     [](const Bytes& j) { return Insert(j, 2, Segment(0xEE, {'O', 'r', 'l', 'y', 'x', 0, 1, 0, 0, 0, 0, 1, 0xEE})); }},
    {"dri_zero", Colour, [](const Bytes& j) { return Insert(j, FindMarker(j, 0xDA), Segment(0xDD, {0, 0})); }},
    {"segments_longer_than_content", Colour,
     [](const Bytes& j) {
       Bytes out = j;
       for (uint8_t code : {0xC0, 0xDA}) out = WithSegmentLengthPlus(out, code, 2);
       return out;
     }},
    {"dri_longer_than_content", Colour,
     [](const Bytes& j) { return Insert(j, FindMarker(j, 0xDA), Segment(0xDD, {0, 0, 5, 6})); }},
    {"sof1", Colour, [](const Bytes& j) { Bytes o = j; o[FindMarker(o, 0xC0) + 1] = 0xC1; return o; }},
    {"wide_then_narrow_dqt", Colour,
     [](const Bytes& j) {
       // First table as 16-bit, second kept 8-bit, in one segment.
       const long at = FindMarker(j, 0xDB);
       Bytes body = Part(j, at + 4, SegmentEnd(j, at));
       Bytes wide{static_cast<uint8_t>(0x10 | body[0])};
       for (int k = 1; k <= 64; k++) { wide.push_back(0); wide.push_back(body[k]); }
       Bytes rest(body.begin() + 65, body.end());
       Bytes dqt = Segment(0xDB, Concat({wide, rest}));
       return Concat({Part(j, 0, at), dqt, Part(j, SegmentEnd(j, at), j.size())});
     }},
    {"unused_tables_at_their_limits", Colour,
     [](const Bytes& j) {
       // AC table 3 with 162 values (all 8-bit codes), DC table 2 with
       // value 11 and the shortest codes 0 and 10.
       Bytes ac{0x13, 0, 0, 0, 0, 0, 0, 0, 162, 0, 0, 0, 0, 0, 0, 0, 0};
       for (int rs = 0; rs < 256; rs++) {
         if (((rs & 15) >= 1 && (rs & 15) <= 10) || rs == 0 || rs == 0xF0) ac.push_back(static_cast<uint8_t>(rs));
       }
       Bytes dc{0x02, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 11, 0};
       return Insert(j, FindMarker(j, 0xC4), Concat({Segment(0xC4, ac), Segment(0xC4, dc)}));
     }},
    {"huffman_tables_2_and_3", Grey, [](const Bytes& j) { return RenumberedTables(j, 2, 3); }},
    {"garbage_after_scan_data", Grey,
     [](const Bytes& j) { return Insert(j, j.size() - 2, {0x12, 0x34, 0x00}); }},
    {"unused_frame_components", Grey,
     [](const Bytes& j) {
       // The frame declares three components; the scan codes only the first.
       const long sof = FindMarker(j, 0xC0);
       Bytes frame = Part(j, sof, SegmentEnd(j, sof));
       frame[3] = 8 + 9;
       frame[9] = 3;
       frame.insert(frame.end(), {2, 0x11, 0, 3, 0x11, 0});
       return Concat({Part(j, 0, sof), frame, Part(j, SegmentEnd(j, sof), j.size())});
     }},
};

class AcceptedVariants : public ::testing::TestWithParam<Variant> {};

TEST_P(AcceptedVariants, DecodeLikeThePlainFile) {
  const Variant& v = GetParam();
  const Bytes& plain = v.base();
  const DecodeResult expected = Decode(plain);
  ASSERT_TRUE(expected.complete);
  const DecodeResult got = Decode(v.edit(plain));
  ASSERT_TRUE(got.complete) << got.message;
  EXPECT_EQ(got.colorCode, expected.colorCode);
  EXPECT_EQ(got.image.pixels, expected.image.pixels);
}

INSTANTIATE_TEST_SUITE_P(Decoder, AcceptedVariants, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });

// The colour-transform APP14 segment with transform 0 turns the YCbCr to RGB
// conversion off: the lines carry the coded components.
TEST(ColourTransformSegment, TransformZeroGivesTheCodedComponents) {
  LibjpegOptions o;
  o.hSamp0 = o.vSamp0 = 1;
  const Bytes plain = LibjpegEncode(testing_support::SyntheticImage(40, 24, 3, 9), o);
  const Bytes raw = Insert(plain, 2, Segment(0xEE, {'O', 'r', 'l', 'y', 'x', 0, 1, 0, 0, 0, 0, 0}));
  Image reference;
  ASSERT_TRUE(LibjpegDecode(plain, &reference, false, nullptr, true));
  const DecodeResult r = Decode(raw);
  ASSERT_TRUE(r.complete) << r.message;
  EXPECT_GE(testing_support::Psnr(r.image, reference), 40.0);
}

// EOI ends the stream: nothing after it is read, even with one-byte pieces.
TEST(EndOfImage, NothingAfterEOIIsRead) {
  const Bytes plain = Grey();
  Bytes trailing = plain;
  trailing.insert(trailing.end(), 100, 0xAB);
  testing_support::MemSource source(trailing, [](size_t) -> size_t { return 1; });
  int16_t w = 0, h = 0, cc = -1;
  Stm* s = JPEGDOpen(source.stm(), &w, &h, &cc);
  ASSERT_NE(s, nullptr);
  int lines = 0;
  while (JPEGDFilBuf(s) == 0) lines++;
  EXPECT_EQ(lines, h);
  EXPECT_EQ(source.consumed(), plain.size());
  JPEGDClose(s);
}

}  // namespace
}  // namespace decoder_test
