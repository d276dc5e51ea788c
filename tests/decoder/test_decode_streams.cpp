// test_decode_streams.cpp - whole streams through our decode filter, fed in
// pieces of any size. Good streams: every layout our encoder writes comes
// back close to its input; files written by libjpeg-turbo (every sampling,
// restarts, optimized and 16-bit tables, qualities 10..100, retina.jpg)
// decode close to libjpeg's own decode without fancy upsampling (our decoder
// replicates); any piece size gives the same lines; the width hint sets the
// count. Bad streams fail with their exact message at the open or a later
// fill, at any piece size. The fuzz seeds and crashes/ replay cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "decoder/filter_decode.h"
#include "support/our_codec.h"

namespace {

using namespace testing_support;

void ExpectDecodesCloseTo(const Bytes& jpeg, const Image& want, double minPsnr) {
  const DecodeResult ours = Decode(jpeg);
  ASSERT_TRUE(ours.complete) << ours.message;
  EXPECT_GE(Psnr(ours.image, want), minPsnr);  // 0 when the geometry differs
}

// Rewrites each DQT segment (libjpeg and retina.jpg write one 8-bit table per
// segment, the segments in a row) as a 16-bit table, each quantizer times factor.
Bytes WidenDQT(Bytes j, int factor) {
  for (long i = FindMarker(j, 0xDB); j[i + 1] == 0xDB; i += 2 + 2 + 1 + 128) {
    Bytes wide = {0xFF, 0xDB, 0, 2 + 1 + 128, static_cast<uint8_t>(0x10 | j[i + 4])};
    for (int k = 5; k <= 68; k++) wide.insert(wide.end(), {static_cast<uint8_t>(j[i + k] * factor >> 8), static_cast<uint8_t>(j[i + k] * factor)});
    j.erase(j.begin() + i, j.begin() + i + 2 + 67);
    j.insert(j.begin() + i, wide.begin(), wide.end());
  }
  return j;
}

// Odd-sized synthetic images when `image` is "".
Image Load(const char* image, int colors) { return image[0] ? LoadTestImage(image) : SyntheticImage(37 + colors, 23, colors, 8); }

TEST(GoodStreams, OurLayoutsRoundTrip) {
  const struct { const char* image; int colors; OurEncodeOptions options; double minPsnr; } cases[] = {
      {"astronaut.ppm", 3, {0.76, false, false, 0, {}}, 30}, {"astronaut.ppm", 3, {0.76, true, true, 0, {}}, 28},
      {"astronaut.ppm", 3, {4.0, true, false, 0, {}}, 22}, {"", 3, {0.76, false, false, 2, {}}, 30},
      {"", 3, {0.5, true, false, 1, Segment(0xED, Bytes(200, 0x3C))}, 28}, {"camera.pgm", 1, {0.0, false, false, 0, {}}, 45},
      {"", 2, {0.5, false, false, 0, {}}, 30}, {"chelsea_cmyk.pam", 4, {0.76, true, false, 0, {}}, 26},
      {"", 4, {0.5, true, true, 1, {}}, 26}, {"", 1, {0.3, true, false, 0, {}}, 30}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.image) + " colors " + std::to_string(c.colors) + " q " + std::to_string(c.options.qFactor));
    const Image in = Load(c.image, c.colors);
    const OurEncodeResult enc = OurEncode(in, c.options);
    ASSERT_TRUE(enc.ok) << enc.message;
    ExpectDecodesCloseTo(enc.jpeg, in, c.minPsnr);
  }
}

// As written, and with 16-bit quantization tables (quantizers as written and
// multiplied past 255). Colors 0: the file itself. Options: quality, luma sampling, restarts in MCUs or rows, optimized.
TEST(GoodStreams, LibjpegLayoutsCloseToLibjpeg) {
  const struct { const char* image; int colors; LibjpegOptions options; } cases[] = {
      {"camera.pgm", 1, {75, 1, 1}}, {"astronaut.ppm", 3, {75, 1, 1}}, {"astronaut.ppm", 3, {75, 2, 1}},
      {"astronaut.ppm", 3, {75, 2, 2}}, {"coffee.ppm", 3, {75, 1, 2}}, {"coffee.ppm", 3, {75, 4, 1}},
      {"", 3, {75, 2, 2}}, {"", 3, {75, 4, 1}}, {"", 1, {}}, {"chelsea_cmyk.pam", 4, {75, 1, 1}},
      {"coffee.ppm", 3, {75, 2, 2, 7}}, {"camera.pgm", 1, {75, 1, 1, 1}}, {"astronaut.ppm", 3, {75, 2, 2, 0, 1}},
      {"coffee.ppm", 3, {75, 1, 1, 0, 3}}, {"astronaut.ppm", 3, {75, 2, 2, 0, 0, true}},
      {"camera.pgm", 1, {75, 1, 1, 0, 0, true}}, {"coffee.ppm", 3, {10}}, {"coffee.ppm", 3, {50}},
      {"coffee.ppm", 3, {90}}, {"coffee.ppm", 3, {100, 1, 1}}, {"camera.pgm", 1, {100, 1, 1}}, {"retina.jpg", 0, {}}};
  for (const auto& c : cases) {
    const Bytes jpeg = c.colors ? LibjpegEncode(Load(c.image, c.colors), c.options) : ReadFileBytes(TestdataPath(c.image));
    for (int wide : {0, 1, 3}) {
      SCOPED_TRACE(std::string(c.image) + " quality " + std::to_string(c.options.quality) + " widened " + std::to_string(wide));
      const Bytes j = wide ? WidenDQT(jpeg, wide) : jpeg;
      Image reference;
      ASSERT_TRUE(LibjpegDecode(j, &reference, false));
      // libjpeg writes CMYK as YCCK with inverted ink, which we turn back.
      ExpectDecodesCloseTo(j, reference.colors == 4 ? InvertedInks(reference) : reference, 40);
    }
  }
}

Bytes WithoutSegment(const Bytes& j, uint8_t code) {  // the first segment with that marker removed
  const long at = FindMarker(j, code);
  return Join({Slice(j, 0, at), Slice(j, SegmentEnd(j, at), static_cast<long>(j.size()))});
}
Bytes WithJFIF(const Bytes& j) {  // a JFIF APP0 segment right after SOI
  return Insert(j, 2, Segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 2, 0, 0, 1, 0, 1, 0, 0}));
}
Bytes WithIdentifier(Bytes j, const char* id) {  // the APP14 identifier replaced
  std::copy(id, id + 5, j.begin() + FindMarker(j, 0xEE) + 4);
  return j;
}

// Files other programs write: RGB coded without transform, CMYK as YCCK
// (also with luma and black sampled 1x4, which takes the vertical path) and
// as plain CMYK, all with inverted ink. Each decodes to what djpeg shows
// (CMYK turned to RGB the way djpeg does) and, byte for byte, to libjpeg's
// own decode (CMYK with its ink turned back). Then layouts derived from
// them, against libjpeg: no APP14 (the component identifiers 'R', 'G', 'B'
// decide), a JFIF segment (YCbCr, even against APP14), another identifier.
TEST(PeerFiles, ColoursMatchTheReferenceDecoder) {
  const Image coffee = LoadTestImage("coffee.ppm");
  const struct { const char* name; PeerWriter writer; } peers[] = {
      {"cjpeg -rgb", PeerWriter::kCjpegRgb}, {"convert CMYK", PeerWriter::kMagickCmyk},
      {"convert CMYK 1x4", PeerWriter::kMagickCmykSubsampled}, {"Pillow CMYK", PeerWriter::kPillowCmyk}};
  for (const auto& p : peers) {
    SCOPED_TRACE(p.name);
    const Bytes jpeg = PeerEncode(p.writer, coffee);
    const DecodeResult ours = Decode(jpeg);
    ASSERT_TRUE(ours.complete) << ours.message;
    const Image shown = ours.image.colors == 4 ? InkToRgb(ours.image) : ours.image;
    EXPECT_GE(Psnr(shown, DjpegDecode(jpeg)), 40);
    Image reference;
    ASSERT_TRUE(LibjpegDecode(jpeg, &reference, false));
    EXPECT_GE(Psnr(ours.image, reference.colors == 4 ? InvertedInks(reference) : reference), 40);
  }
  const Bytes rgb = PeerEncode(PeerWriter::kCjpegRgb, Crop(coffee, 160, 96));
  const Bytes cmyk = PeerEncode(PeerWriter::kMagickCmyk, Crop(coffee, 160, 96));
  // Reference: libjpeg's decode of `as` (the file itself when empty); libjpeg
  // knows APP14 under one identifier only, so renamed files take the original.
  const struct { const char* name; Bytes jpeg, as; } layouts[] = {
      {"rgb without APP14", WithoutSegment(rgb, 0xEE), {}}, {"rgb with JFIF", WithJFIF(rgb), {}},
      {"rgb with JFIF, no APP14", WithJFIF(WithoutSegment(rgb, 0xEE)), {}},
      {"rgb, other identifier", WithIdentifier(rgb, "Peer9"), rgb}, {"cmyk, other identifier", WithIdentifier(cmyk, "Zz_01"), cmyk}};
  for (const auto& l : layouts) {
    SCOPED_TRACE(l.name);
    Image reference;
    ASSERT_TRUE(LibjpegDecode(l.as.empty() ? l.jpeg : l.as, &reference, false));
    if (reference.colors == 4) reference = InvertedInks(reference);
    ExpectDecodesCloseTo(l.jpeg, reference, 40);
  }
}

// The count a fill sets is the width hint times the colours, never above the
// line (or, for a line wider than the 16-bit count holds, its piece). (Any
// piece size gives the same lines: test_scans.cpp.)
TEST(GoodStreams, HintSetsCount) {
  const struct { int16_t hint; int width, colors, count; } hints[] = {
      {0, 24, 1, 0}, {10, 24, 3, 30}, {100, 24, 3, 72}, {-5, 24, 3, 0}, {30000, 12000, 3, 32766}};  // a line's first piece
  for (const auto& c : hints) {
    const DecodeResult r = Decode(LibjpegEncode(SyntheticImage(c.width, 16, c.colors, 3)), 8192, nullptr, c.hint);
    ASSERT_TRUE(r.complete) << r.message;
    EXPECT_EQ(r.firstCount, c.count) << "hint " << c.hint;
  }
}

Bytes Base(bool progressive = false, bool arithmetic = false, int restart = 0) {
  static const Image img = SyntheticImage(160, 128, 3, 21);
  return LibjpegEncode(img, {75, 2, 2, restart, 0, false, progressive, arithmetic});
}
// j with the byte at (first marker `code`) + offset set to value, or decreased by one.
Bytes Patched(uint8_t code, long offset, int value, Bytes j = Base()) {
  uint8_t& b = j[FindMarker(j, code) + offset];
  b = static_cast<uint8_t>(value < 0 ? b - 1 : value);
  return j;
}
// The first `length` bytes of Base() (all but the last -length when negative), then `tail`.
Bytes Cut(long length, const Bytes& tail = {}) {
  Bytes j = Base();
  j.resize(length < 0 ? j.size() + length : length);
  return Insert(j, j.size(), tail);
}
const long kDataStart = FindMarker(Base(), 0xDA) + 14;  // after a three-component SOS

// One-byte pieces make the end of data arrive on the slow path.
TEST(BadStreams, FailWithTheirMessageAtAnyPieceSize) {
  const struct { const char* name; std::function<Bytes()> make; bool atOpen; const char* message; } cases[] = {
      // message: the whole message, or its start when it ends in "no. "
      {"lossless", [] { return Patched(0xC0, 1, 0xC3); }, true, "Non-baseline or invalid marker code = 195"},
      {"arithmetic", [] { return Base(false, true); }, true, "Non-baseline or invalid marker code = 201"},
      {"precision12", [] { return Patched(0xC0, 4, 12); }, true, "Frame spec precision not 8"},
      {"soi_eoi", [] { return Bytes{0xFF, 0xD8, 0xFF, 0xD9}; }, true, "Failed to understand file format"},
      {"tables_then_eoi", [] { return Cut(FindMarker(Base(), 0xDA), {0xFF, 0xD9}); }, true, "Failed to understand file format"},
      {"cut_in_dht", [] { return Cut(FindMarker(Base(), 0xC4) + 10); }, true, "Source EOF during marker"},
      {"cut_in_first_strip", [] { return Cut(kDataStart + 40); }, true, "Source EOF in 8x8 block no. "},
      {"no_scan_data", [] { return Cut(kDataStart); }, true, "Source EOF in 8x8 block no. 0"},
      {"cut_in_later_strip", [] { return Cut(-300); }, false, "Source EOF in 8x8 block no. "},
      {"eoi_in_later_strip", [] { return Cut(-300, {0xFF, 0xD9}); }, false, "Illegal JPEG marker 0xD9 in MCU"},
      {"bad_huffman_code", [] { return Insert(Base(), kDataStart, {0xFF, 0, 0xFF, 0, 0xFF, 0}); }, true, "Bad Huffcodes in 8x8 block no. 0"},
      {"sos_length_short", [] { return Patched(0xDA, 3, -1); }, true, "218 marker segment length is too short"},
      {"dht_length_short", [] { return Patched(0xC4, 3, -1); }, true, "196 marker segment length is too short"},
      {"rst_in_data_without_dri", [] { return Insert(Base(), Base().size() - 300, {0xFF, 0xD3}); }, false, "Unexpected JPEG RST3 marker in MCU"},
      {"rst_between_segments", [] { return Insert(Base(), FindMarker(Base(), 0xC4), {0xFF, 0xD0}); }, true,
       "Non-baseline or invalid marker code = 208"},
      {"other_marker_where_restart_is_due", [] { return Patched(0xD0, 1, 0xFE, Base(false, false, 2)); }, true, "Illegal JPEG marker 0xFE in MCU"},
      {"qtable_used_not_defined", [] { return Patched(0xDB, 69 + 4, 0x02); }, true, "QTable 1 used but not defined"},
      {"second_scan", [] { const Bytes j = Base(); return Cut(-2, Bytes(j.begin() + FindMarker(j, 0xDA), j.end())); }, false,
       "Streams with more than one scan are not supported"},
      {"scan_huff_table_4", [] { return Patched(0xDA, 6, 0x40); }, true, "Scan Huffman table no. >= 4"},
      {"scan_huff_table_undefined", [] { return Patched(0xDA, 6, 0x23); }, true, "Bad Huffcodes in 8x8 block no. 0"},
      {"dht_over_committed", [] {
         return Insert(Base(), FindMarker(Base(), 0xC4), Segment(0xC4, {0x01, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
       }, true, "Over-committed Huffman spec."}};
  for (const auto& c : cases) {
    const Bytes jpeg = c.make();
    for (size_t piece : {8192, 1}) {
      const DecodeResult r = Decode(jpeg, piece);
      const std::string want = c.message;
      EXPECT_EQ(r.opened, !c.atOpen) << c.name << " piece " << piece;
      EXPECT_EQ(MessageAsWanted(r.message, want), want) << c.name << " piece " << piece;
    }
  }
}

// A complete image whose data ends where EOI should stand (EOI missing or
// cut in half, garbage or fill bytes instead) decodes completely, to the
// same lines, at any piece size; what is not EOI or the end still fails.
TEST(EndOfImage, MissingEOIIsNoFailureButOtherTrailersAre) {
  const DecodeResult whole = Decode(Base());
  ASSERT_TRUE(whole.complete);
  const struct { const char* name; Bytes jpeg; const char* message; } cases[] = {
      {"no EOI", Cut(-2), ""}, {"half an EOI", Cut(-1), ""}, {"garbage instead", Cut(-2, {1, 2, 3}), ""},
      {"fill bytes only", Cut(-2, {0xFF, 0xFF}), ""}, {"garbage then EOI", Cut(-2, {7, 0xFF, 0xFF, 0xD9}), ""},
      {"cut segment after the image", Cut(-2, {0xFF, 0xFE, 0, 9, 'x'}), "Source EOF during marker"},
      {"invalid marker after the image", Cut(-2, {0xFF, 0xC3}), "Non-baseline or invalid marker code = 195"}};
  for (const auto& c : cases) {
    for (size_t piece : {8192, 1}) {
      const DecodeResult r = Decode(c.jpeg, piece);
      EXPECT_EQ(r.complete, c.message[0] == 0) << c.name << " piece " << piece;
      EXPECT_EQ(r.message, c.message) << c.name;
      EXPECT_EQ(r.image.pixels, whole.image.pixels) << c.name;  // every line was delivered either way
    }
  }
}

// Replayed the way the fuzz target runs: first byte = refill pattern and
// width hint, then the JPEG. Seeds decode completely; crash inputs end in a
// clean failure or a complete image (the sanitizer build checks the rest).
TEST(Corpus, SeedsDecodeAndCrashInputsEndCleanly) {
  namespace fs = std::filesystem;
  for (const bool seeds : {true, false}) {
    int files = 0;
    for (const auto& e : fs::directory_iterator(seeds ? fs::path(JPEG_FUZZ_CORPUS_DIR) / "jpeg_decode" : fs::path(__FILE__).parent_path() / "crashes")) {
      const Bytes input = ReadFileBytes(e.path().string());
      const size_t p = input.at(0), step = (p >> 2) + 1;
      const auto pieces = [=](size_t k) -> size_t {  // the fuzz target's four refill patterns
        const size_t sizes[] = {4096, step, k % 2 ? step : 1, 1 + (k * 2654435761u + p) % 97};
        return sizes[p & 3];
      };
      const DecodeResult r = Decode(Bytes(input.begin() + 1, input.end()), 0, pieces, static_cast<int16_t>(p & 0x40 ? 100 : 0));
      EXPECT_TRUE(r.complete || (!seeds && !r.message.empty())) << e.path().filename() << ": " << r.message;
      files++;
    }
    EXPECT_GE(files, 5);
  }
}

}  // namespace
