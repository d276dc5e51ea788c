// test_decode.cpp - whole streams through our decode filter, fed in pieces
// of any size. Good streams: files written by libjpeg-turbo (every sampling,
// restarts, optimized and 16-bit tables, qualities 10..100, retina.jpg, lines
// wider than the 16-bit count), rewritten by jpegtran -scans as
// sequential scans in any order and layout, or
// written as its progression, and files of other programs (cjpeg -rgb,
// ImageMagick and Pillow CMYK) decode close to libjpeg's own decode without
// fancy upsampling (our decoder replicates) and to what djpeg shows; a
// multi-scan file gives exactly the pixels of its one-scan twin; any piece
// size gives the same lines; variants that only move tables give the same
// pixels. Bad streams fail with their exact message at the open or a later
// fill, at any piece size.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <random>

#include "support/decode_paths.h"
#include "support/our_codec.h"

namespace {

using namespace testing_support;
using Script = std::vector<std::vector<int>>;  // per scan: the frame component indices

// ---- the decode filter in pieces of any size, and byte surgery on JPEG files ----

struct DecodeResult {
  bool opened = false, complete = false;  // complete: every line, then the end, no failure
  int colors = 0;
  std::string message;                    // the codec's message after a failure, else ""
  Image image;
};

// Through the shared filter driver: pieces of pieceSize bytes (or pieceFn(k) when given).
DecodeResult Decode(const Bytes& jpeg, size_t pieceSize = 8192, MemSource::PieceFn pieceFn = nullptr) {
  const FilterRun r = RunDecodeFilter(jpeg, {0, pieceSize, false, true, 0, std::move(pieceFn)});
  return {r.opened, r.ended && !r.failed, r.colors, r.failed || !r.opened ? r.message : "",
          Image{static_cast<uint16_t>(r.width), static_cast<uint16_t>(r.height), r.colors, Pixels(r)}};
}

// jpeg rewritten by the peer's transcoder as sequential scans (all
// coefficients, no approximation) per script, with a restart interval in MCUs.
Bytes Rescan(const Bytes& jpeg, const Script& script, int restart = 0) {
  TempDir dir;
  const std::string in = dir.File("in.jpg");
  WriteFileBytes(in, jpeg);
  std::string scans;
  for (const auto& scan : script) {
    for (int c : scan) scans += std::to_string(c) + " ";
    scans += ";";
  }
  const std::string restarts = restart ? " -restart " + std::to_string(restart) + "B" : "";
  return PeerFileFromShell("echo '" + scans + "' > scans && jpegtran -copy none -scans scans" + restarts + " -outfile out.jpg '" + in + "'");
}

// libjpeg's decode; four components come back with the ink turned back.
Image Reference(const Bytes& jpeg) {
  Image ref;
  EXPECT_TRUE(LibjpegDecode(jpeg, &ref, false));
  return ref.colors == 4 ? InvertedInks(ref) : ref;
}

void ExpectDecodesCloseTo(const Bytes& jpeg, const Image& want, double minPsnr = 40) {
  const DecodeResult ours = Decode(jpeg);
  ASSERT_TRUE(ours.complete) << ours.message;
  EXPECT_GE(Psnr(ours.image, want), minPsnr);  // 0 when the geometry differs
}

// Each DQT segment (one 8-bit table per segment, in a row) rewritten as a
// 16-bit table, each quantizer times factor.
Bytes WidenDQT(Bytes j, int factor) {
  for (long i = FindMarker(j, 0xDB); j[i + 1] == 0xDB; i += 2 + 2 + 1 + 128) {
    Bytes wide = {0xFF, 0xDB, 0, 2 + 1 + 128, static_cast<uint8_t>(0x10 | j[i + 4])};
    for (int k = 5; k <= 68; k++) wide.insert(wide.end(), {static_cast<uint8_t>(j[i + k] * factor >> 8), static_cast<uint8_t>(j[i + k] * factor)});
    j.erase(j.begin() + i, j.begin() + i + 2 + 67);
    j.insert(j.begin() + i, wide.begin(), wide.end());
  }
  return j;
}

Image Load(const char* image, int colors) { return image[0] ? LoadTestImage(image) : SyntheticImage(37 + colors, 23, colors, 8); }

// libjpeg's files (colours 0: the file itself) as written and with 16-bit
// tables (quantizers as written and multiplied past 255); then the layouts
// only our encoder writes, against their source. Options: quality, luma sampling, restarts
// in MCUs or rows, optimized.
TEST(GoodStreams, CloseToLibjpegAndToTheSource) {
  const struct { const char* image; int colors; LibjpegOptions options; } cases[] = {
      {"camera.pgm", 1, {75, 1, 1}}, {"astronaut.ppm", 3, {75, 1, 1}}, {"astronaut.ppm", 3, {75, 2, 1}},
      {"astronaut.ppm", 3, {75, 2, 2}}, {"coffee.ppm", 3, {75, 1, 2}}, {"coffee.ppm", 3, {75, 4, 1}},
      {"", 3, {75, 2, 2}}, {"", 3, {75, 4, 1}}, {"", 1, {}}, {"chelsea_cmyk.pam", 4, {75, 1, 1}},
      {"coffee.ppm", 3, {75, 2, 2, 7}}, {"camera.pgm", 1, {75, 1, 1, 1}}, {"astronaut.ppm", 3, {75, 2, 2, 0, 1}},
      {"coffee.ppm", 3, {75, 1, 1, 0, 3}}, {"astronaut.ppm", 3, {75, 2, 2, 0, 0, true}},
      {"camera.pgm", 1, {75, 1, 1, 0, 0, true}}, {"coffee.ppm", 3, {10}}, {"coffee.ppm", 3, {100, 1, 1}},
      {"camera.pgm", 1, {100, 1, 1}}, {"retina.jpg", 0, {}}};
  for (const auto& c : cases) {
    const Bytes jpeg = c.colors ? LibjpegEncode(Load(c.image, c.colors), c.options) : ReadFileBytes(TestdataPath(c.image));
    for (int wide : {0, 1, 3}) {
      SCOPED_TRACE(std::string(c.image) + " quality " + std::to_string(c.options.quality) + " widened " + std::to_string(wide));
      const Bytes j = wide ? WidenDQT(jpeg, wide) : jpeg;
      ExpectDecodesCloseTo(j, Reference(j));
    }
  }
  for (int colors : {2, 4}) {  // the layouts only our encoder writes: two components, YCCK subsampled
    const Image in = SyntheticImage(37 + colors, 23, colors, 8);
    ExpectDecodesCloseTo(OurEncode(in, {0.5, true, true, 1, {}}).jpeg, in, colors == 2 ? 30 : 26);
  }
}

struct Layout {
  const char* name;
  int colors, hSamp0, vSamp0;  // luma sampling of three-component images
  Script script;
  bool progressive;  // also written as libjpeg's progression
};

// Every layout, photo and odd-sized synthetic, with and without restarts,
// as sequential scans and as libjpeg's progression (DC first and refinement
// scans interleaved, AC bands per component, end-of-band runs): >= 40 dB
// against libjpeg's decode, the pixels and colour code of our decode of the
// one-scan original.
TEST(MultiScan, LayoutsAndProgressionsMatchLibjpegAndTheOneScanTwin) {
  const Layout layouts[] = {
      {"grey", 1, 1, 1, {{0}}, true}, {"rgb444 0;1;2", 3, 1, 1, {{0}, {1}, {2}}, true},
      {"rgb444 2;0;1", 3, 1, 1, {{2}, {0}, {1}}, false}, {"rgb444 0 1;2", 3, 1, 1, {{0, 1}, {2}}, false},
      {"rgb420 0;1;2", 3, 2, 2, {{0}, {1}, {2}}, true}, {"rgb420 1 2;0", 3, 2, 2, {{1, 2}, {0}}, false},
      {"rgb420 0;2;1", 3, 2, 2, {{0}, {2}, {1}}, false}, {"rgb422 0 2;1", 3, 2, 1, {{0, 2}, {1}}, true},
      {"cmyk 0;1;2;3", 4, 1, 1, {{0}, {1}, {2}, {3}}, true}, {"cmyk 3;2;1;0", 4, 1, 1, {{3}, {2}, {1}, {0}}, false},
      {"cmyk 0 1;2 3", 4, 1, 1, {{0, 1}, {2, 3}}, false}};
  for (const Layout& l : layouts) {
    for (const bool photo : {true, false}) {
      const Image img = photo ? LoadTestImage(l.colors == 1 ? "camera.pgm" : l.colors == 3 ? "coffee.ppm" : "chelsea_cmyk.pam")
                              : SyntheticImage(61, 37, l.colors, 9);  // partial MCUs and blocks at both edges
      const Bytes single = LibjpegEncode(img, {85, l.hSamp0, l.vSamp0});
      const DecodeResult twin = Decode(single);
      ASSERT_TRUE(twin.complete) << twin.message;
      for (const int restart : {0, 3}) {
        SCOPED_TRACE(std::string(l.name) + (photo ? " photo" : " synthetic") + " restart " + std::to_string(restart));
        std::vector<Bytes> files = {Rescan(single, l.script, restart)};
        ASSERT_EQ(Markers(files[0], 0xDA).size(), l.script.size());
        if (l.progressive) files.push_back(LibjpegEncode(img, {85, l.hSamp0, l.vSamp0, restart, 0, false, true}));
        for (const Bytes& file : files) {
          const DecodeResult ours = Decode(file);
          ASSERT_TRUE(ours.complete) << ours.message;
          EXPECT_EQ(ours.colors, twin.colors);
          EXPECT_GE(Psnr(ours.image, Reference(file)), 40);
          EXPECT_EQ(ours.image.pixels, twin.image.pixels);
        }
      }
    }
  }
}

// The guard byte is rewritten after every refill and the bit reader tells it
// from a real 0xFF across every scan boundary, restart marker and end-of-band
// run: any refill size, down to one byte, gives the same lines. Files that
// only move tables (a DQT between scans, AC tables with end-of-band runs
// before the frame header) or give a lone component sampling factors give
// the same pixels too.
TEST(AnyFile, AnyPieceSizeAndMovedTablesSameLines) {
  std::mt19937 rng(7);
  const Image img = SyntheticImage(45, 29, 3, 4);
  for (const Bytes& jpeg : {LibjpegEncode(img, {95, 2, 2, 3, 0, true}), Rescan(LibjpegEncode(img), {{1, 2}, {0}}, 2),
                            LibjpegEncode(img, {90, 2, 2, 2, 0, false, true})}) {
    const DecodeResult whole = Decode(jpeg);
    ASSERT_TRUE(whole.complete) << whole.message;
    for (size_t n : {1, 3, 0}) {  // 0: random sizes 1..40
      const DecodeResult split = Decode(jpeg, 0, [&](size_t) -> size_t { return n ? n : 1 + rng() % 40; });
      EXPECT_TRUE(split.complete && split.image.pixels == whole.image.pixels) << n << ": " << split.message;
    }
  }
  const Bytes single = LibjpegEncode(SyntheticImage(40, 24, 3, 2), {80, 2, 2}), multi = Rescan(single, {{0}, {1}, {2}});
  const std::vector<long> dqt = Markers(multi, 0xDB), sos = Markers(multi, 0xDA);
  const long dqt1End = SegmentEnd(multi, dqt[1]);
  const Bytes prog = LibjpegEncode(LoadTestImage("coffee.ppm"), {75, 2, 2, 0, 0, false, true});
  const std::vector<long> ps = Markers(prog, 0xDA), dht = Markers(prog, 0xC4);
  const long sof = FindMarker(prog, 0xC2), table = *std::find_if(dht.begin(), dht.end(), [&](long at) { return at > ps[0]; });
  const Bytes grey = LibjpegEncode(SyntheticImage(45, 29, 1, 6), {90, 1, 1, 0, 0, false, true});
  Bytes sampled = grey;
  sampled.at(FindMarker(grey, 0xC2) + 2 + 2 + 1 + 4 + 1 + 1) = 0x22;  // H = V = 2
  const std::pair<Bytes, Bytes> variants[] = {
      {single, Cat({Slice(multi, 0, dqt[1]), Slice(multi, dqt1End, sos[1]), Slice(multi, dqt[1], dqt1End), Slice(multi, sos[1], multi.size())})},
      {prog, Cat({Slice(prog, 0, sof), Slice(prog, table, SegmentEnd(prog, table)), Slice(prog, sof, table),
                   Slice(prog, SegmentEnd(prog, table), prog.size())})},
      {grey, sampled}};
  for (const auto& [original, variant] : variants) {
    const DecodeResult want = Decode(original), got = Decode(variant);
    EXPECT_TRUE(got.complete && got.image.pixels == want.image.pixels) << got.message;
  }
}

// Files other programs write: RGB coded without transform, CMYK as YCCK
// (also with luma and black sampled 1x4) and as plain CMYK, all with
// inverted ink. Each decodes to what djpeg shows and to libjpeg's own
// decode. Then layouts derived from them, against libjpeg: no APP14 (the
// component identifiers 'R', 'G', 'B' decide), a JFIF segment (YCbCr, even
// against APP14), another APP14 identifier (libjpeg takes the original).
TEST(PeerFiles, ColoursMatchTheReferenceDecoder) {
  const Image coffee = LoadTestImage("coffee.ppm");
  for (PeerWriter writer : {PeerWriter::kCjpegRgb, PeerWriter::kMagickCmyk, PeerWriter::kMagickCmykSubsampled, PeerWriter::kPillowCmyk}) {
    SCOPED_TRACE(static_cast<int>(writer));
    const Bytes jpeg = PeerEncode(writer, coffee);
    const DecodeResult ours = Decode(jpeg);
    ASSERT_TRUE(ours.complete) << ours.message;
    EXPECT_GE(Psnr(ours.image.colors == 4 ? InkToRgb(ours.image) : ours.image, DjpegDecode(jpeg)), 40);
    EXPECT_GE(Psnr(ours.image, Reference(jpeg)), 40);
  }
  const Bytes rgb = PeerEncode(PeerWriter::kCjpegRgb, Crop(coffee, 160, 96)), cmyk = PeerEncode(PeerWriter::kMagickCmyk, Crop(coffee, 160, 96));
  const auto without = [](const Bytes& j, uint8_t code) { const long at = FindMarker(j, code); return Cat({Slice(j, 0, at), Slice(j, SegmentEnd(j, at), j.size())}); };
  const auto jfif = [](const Bytes& j) { return Insert(j, 2, Segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 2, 0, 0, 1, 0, 1, 0, 0})); };
  const auto renamed = [](Bytes j, const char* id) { std::copy(id, id + 5, j.begin() + FindMarker(j, 0xEE) + 4); return j; };
  const std::pair<Bytes, Bytes> layouts[] = {{without(rgb, 0xEE), {}}, {jfif(rgb), {}}, {jfif(without(rgb, 0xEE)), {}},
                                             {renamed(rgb, "Peer9"), rgb}, {renamed(cmyk, "Zz_01"), cmyk}};
  for (const auto& [jpeg, as] : layouts) ExpectDecodesCloseTo(jpeg, Reference(as.empty() ? jpeg : as));
}

// The peer's files with lines wider than the 16-bit count, up to its largest
// width, through the decode filter (in pieces) and the read stream (whole).
TEST(PeerFiles, WideLinesOnTheFilterAndTheReadStream) {
  const struct { int width, height, colors; LibjpegOptions options; } files[] = {
      {65500, 5, 1, {90}}, {65500, 4, 3, {90}}, {65500, 3, 3, {90, 1, 1, 0, 1}}, {40000, 4, 3, {90, 2, 2, 0, 0, false, true}},
      {10923, 17, 3, {90, 2, 1}}};  // the narrowest two-piece RGB line
  for (const auto& f : files) {
    const Bytes jpeg = LibjpegEncode(Tiled(LoadTestImage(f.colors == 1 ? "camera.pgm" : "coffee.ppm"), f.width, f.height), f.options);
    for (DecodePath path : {DecodePath::kFilter, DecodePath::kReadStream}) {
      const PathVerdict v = DecodeThrough(path, jpeg);
      ASSERT_TRUE(v.ok) << f.width << " " << PathName(path) << ": " << v.message;
      EXPECT_GE(Psnr(v.lines, Reference(jpeg).pixels), 40.0) << f.width << " " << PathName(path);
    }
  }
}

// The count a fill sets is the width hint times the colours, never above the
// line (or, for a line wider than the 16-bit count holds, its piece).
TEST(GoodStreams, HintSetsCount) {
  const struct { int16_t hint; int width, colors, count; } hints[] = {
      {0, 24, 1, 0}, {10, 24, 3, 30}, {100, 24, 3, 72}, {-5, 24, 3, 0}, {30000, 12000, 3, 32766}};
  for (const auto& c : hints) {
    MemSource source(LibjpegEncode(SyntheticImage(c.width, 16, c.colors, 3)));
    int16_t info[3] = {c.hint, 0, -1};
    Stm* s = COpenJPEGDecode(source.stm(), info);
    EXPECT_TRUE(s != nullptr && s->filBuf(s) == 0 && s->count == c.count) << "hint " << c.hint;
    JPEGDClose(s);
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
// The first `length` bytes of j (all but the last -length when negative), then `tail`.
Bytes Cut(long length, const Bytes& tail = {}, Bytes j = Base()) {
  j.resize(length < 0 ? j.size() + length : length);
  return Insert(j, j.size(), tail);
}

// Bad streams fail with their message (its start when it ends in "no. "),
// at the open or a later fill, never with a wrong image, at any piece size
// (one-byte pieces make the end of data arrive on the slow path). A complete
// image whose data ends where EOI should stand (EOI missing, cut in half,
// garbage or fill bytes instead) decodes completely (message ""). Scans:
// m[k] is the k-th SOS of "0;1;2", p[k] of libjpeg's progression for YCbCr:
// DC Al 1; Y 1..5 Al 2; Cr, Cb 1..63 Al 1; Y 6..63 Al 2; Y 1..63 Ah 2 Al 1; ...
TEST(BadStreams, FailWithTheirMessageAtAnyPieceSize) {
  const Bytes eoi = {0xFF, 0xD9}, base = Base(), mj = Rescan(LibjpegEncode(SyntheticImage(128, 96, 3, 3), {75, 2, 2}), {{0}, {1}, {2}});
  const Bytes pj = LibjpegEncode(SyntheticImage(128, 96, 3, 8), {75, 2, 2, 0, 0, false, true});
  const std::vector<long> m = Markers(mj, 0xDA), p = Markers(pj, 0xDA), pdht = Markers(pj, 0xC4);
  ASSERT_EQ(m.size(), 3u);
  ASSERT_EQ(p.size(), 10u);
  const long data = FindMarker(base, 0xDA) + 14, me = mj.size(), pe = pj.size(), firstSs = p[0] + 2 + 2 + 1 + 2 * 3;
  const long tablesOfScan1 = *std::find_if(pdht.begin(), pdht.end(), [&](long at) { return at > p[0]; });
  const auto pp = [&](long at, uint8_t value) { Bytes j = pj; j[at] = value; return j; };
  Bytes huge = Rescan(LibjpegEncode(SyntheticImage(32, 16, 3, 5), {75, 2, 2}), {{0}, {1}, {2}});
  for (int i = 5; i <= 8; i++) huge[FindMarker(huge, 0xC0) + i] = 0xFF;  // Y and X: the header alone allocates nothing big
  Bytes seq = LibjpegEncode(SyntheticImage(64, 48, 1, 3), {75, 1, 1});
  const long ac = FindMarker(seq, 0xC4) + 33;  // the second table (AC) of a grey file
  ASSERT_EQ(seq[ac], 0xFF);
  seq[ac + 4 + 1 + 16] = 0x20;  // run 2, size 0 in a sequential file
  const struct { const char* name; Bytes jpeg; bool opens; const char* message; } cases[] = {
      {"lossless", Patched(0xC0, 1, 0xC3), false, "Non-baseline or invalid marker code = 195"},
      {"arithmetic", Base(false, true), false, "Non-baseline or invalid marker code = 201"},
      {"precision12", Patched(0xC0, 4, 12), false, "Frame spec precision not 8"},
      {"soi_eoi", {0xFF, 0xD8, 0xFF, 0xD9}, false, "Failed to understand file format"},
      {"tables_then_eoi", Cut(FindMarker(base, 0xDA), eoi), false, "Failed to understand file format"},
      {"cut_in_dht", Cut(FindMarker(base, 0xC4) + 10), false, "Source EOF during marker"},
      {"cut_in_first_strip", Cut(data + 40), false, "Source EOF in 8x8 block no. "},
      {"no_scan_data", Cut(data), false, "Source EOF in 8x8 block no. 0"},
      {"cut_in_later_strip", Cut(-300), true, "Source EOF in 8x8 block no. "},
      {"eoi_in_later_strip", Cut(-300, eoi), true, "Illegal JPEG marker 0xD9 in MCU"},
      {"bad_huffman_code", Insert(base, data, {0xFF, 0, 0xFF, 0, 0xFF, 0}), false, "Bad Huffcodes in 8x8 block no. 0"},
      {"sos_length_short", Patched(0xDA, 3, -1), false, "218 marker segment length is too short"},
      {"dht_length_short", Patched(0xC4, 3, -1), false, "196 marker segment length is too short"},
      {"rst_without_dri", Insert(base, base.size() - 300, {0xFF, 0xD3}), true, "Unexpected JPEG RST3 marker in MCU"},
      {"rst_between_segments", Insert(base, FindMarker(base, 0xC4), {0xFF, 0xD0}), false, "Non-baseline or invalid marker code = 208"},
      {"other_marker_for_restart", Patched(0xD0, 1, 0xFE, Base(false, false, 2)), false, "Illegal JPEG marker 0xFE in MCU"},
      {"qtable_not_defined", Patched(0xDB, 69 + 4, 0x02), false, "QTable 1 used but not defined"},
      {"second_scan", Cut(-2, Slice(base, FindMarker(base, 0xDA), base.size())), true, "Streams with more than one scan are not supported"},
      {"scan_huff_table_4", Patched(0xDA, 6, 0x40), false, "Scan Huffman table no. >= 4"},
      {"scan_huff_table_undefined", Patched(0xDA, 6, 0x23), false, "Bad Huffcodes in 8x8 block no. 0"},
      {"dht_over_committed", Insert(base, FindMarker(base, 0xC4), Segment(0xC4, {1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1})), false,
       "Over-committed Huffman spec."},
      {"band runs in a sequential file", seq, false, "AC HuffTable unusable value 32"},
      {"huge frame, little data", huge, false, "Illegal JPEG marker 0xC4 in MCU"},
      {"no EOI", Cut(-2), true, ""}, {"half an EOI", Cut(-1), true, ""}, {"garbage instead", Cut(-2, {1, 2, 3}), true, ""},
      {"fill bytes only", Cut(-2, {0xFF, 0xFF}), true, ""}, {"garbage then EOI", Cut(-2, {7, 0xFF, 0xFF, 0xD9}), true, ""},
      {"cut segment after the image", Cut(-2, {0xFF, 0xFE, 0, 9, 'x'}), true, "Source EOF during marker"},
      {"invalid marker after the image", Cut(-2, {0xFF, 0xC3}), true, "Non-baseline or invalid marker code = 195"},
      {"first component coded twice", Cat({Slice(mj, 0, m[1]), Slice(mj, m[0], me)}), false, "Component 1 coded in more than one scan"},
      {"two-component scan repeats one", Cat({Slice(mj, 0, m[2]), Slice(mj, m[1], m[2]), Slice(mj, m[2], me)}), false,
       "Component 2 coded in more than one scan"},
      {"last component never coded", Cat({Slice(mj, 0, m[2]), eoi}), false, "Component 3 not coded before EOI"},
      {"scan after the image is complete", Cat({Slice(mj, 0, me - 2), Slice(mj, m[2], me)}), true,
       "Streams with more than one scan are not supported"},
      {"cut inside the second scan", Slice(mj, 0, m[1] + 40), false, "Source EOF in 8x8 block no. "},
      {"EOI inside the second scan", Cat({Slice(mj, 0, m[1] + 40), eoi}), false, "Illegal JPEG marker 0xD9 in MCU"},
      {"next scan inside the first", Cat({Slice(mj, 0, m[0] + 40), Slice(mj, m[1], me)}), false, "Illegal JPEG marker 0xDA in MCU"},
      {"DC scan with Se 1", pp(firstSs + 1, 1), false, "Bad progressive scan Ss=0 Se=1"},
      {"AC band past 63", pp(p[1] + 2 + 2 + 1 + 2 + 1, 64), false, "Bad progressive scan Ss=1 Se=64"},
      {"first scan refines", pp(firstSs + 2, 0x21), false, "Bad successive approximation Ah=2 Al=1"},
      {"Al above 13", pp(firstSs + 2, 0x0E), false, "Bad successive approximation Ah=0 Al=14"},
      {"band coded twice", Cat({Slice(pj, 0, p[2]), Slice(pj, p[1], pe)}), false, "Bad successive approximation Ah=0 Al=2"},
      {"refinement first", Cat({Slice(pj, 0, p[1]), Slice(pj, p[5], pe)}), false, "Bad successive approximation Ah=2 Al=1"},
      {"no DC scan", Cat({Slice(pj, 0, p[0]), Slice(pj, tablesOfScan1, p[2]), eoi}), false, "Progressive AC scan before the DC scan of component 1"},
      {"cut inside a progressive scan", Slice(pj, 0, p[4] + 60), false, "Source EOF in 8x8 block no. "},
      {"EOI inside a progressive scan", Cat({Slice(pj, 0, p[4] + 60), eoi}), false, "Illegal JPEG marker 0xD9 in MCU"}};
  const DecodeResult whole = Decode(base);
  for (const auto& c : cases) {
    for (size_t piece : {8192, 1}) {
      const DecodeResult r = Decode(c.jpeg, piece);
      EXPECT_EQ(r.opened, c.opens) << c.name << " piece " << piece;
      EXPECT_EQ(r.complete, !*c.message) << c.name << " piece " << piece;
      EXPECT_EQ(c.message[0] && c.message[std::strlen(c.message) - 1] == ' ' ? r.message.substr(0, std::strlen(c.message)) : r.message, c.message) << c.name << " piece " << piece;
      if (r.complete) {
        EXPECT_EQ(r.image.pixels, whole.image.pixels) << c.name;
      }
    }
  }
}

}  // namespace
