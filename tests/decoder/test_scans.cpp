// test_scans.cpp - images coded in several scans: sequential ones (one
// component per scan, mixed layouts, scans in another order than the
// frame's), made at test time by libjpeg's transcoder with a scan script
// (what jpegtran -scans does; the coefficients stay those of the one-scan
// file), and progressive ones written by libjpeg. They must decode close to
// libjpeg's own decode and to exactly the pixels of their one-scan twin, at
// any piece size; impossible layouts and cut data fail with their message.
#include <gtest/gtest.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>

#include <jpeglib.h>

#include "decoder/filter_decode.h"

namespace {

using namespace testing_support;
using Script = std::vector<std::vector<int>>;  // per scan: the frame component indices

struct TranscodeError {
  jpeg_error_mgr mgr;
  jmp_buf env;
};

void TranscodeErrorExit(j_common_ptr cinfo) { longjmp(reinterpret_cast<TranscodeError*>(cinfo->err)->env, 1); }

// libjpeg's transcoder (what jpegtran runs): jpeg's coefficients written
// again as the given scans, with a restart interval in MCUs. Plain data only
// here, for the error jump. The result is malloc'ed; null on failure.
unsigned char* Transcode(const Bytes& jpeg, const jpeg_scan_info* scans, int count, int restart,
                         unsigned long* size) {
  jpeg_decompress_struct in;
  jpeg_compress_struct out;
  TranscodeError err;
  in.err = out.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = TranscodeErrorExit;
  unsigned char* buffer = nullptr;
  if (setjmp(err.env)) {
    jpeg_destroy_compress(&out);
    jpeg_destroy_decompress(&in);
    std::free(buffer);
    return nullptr;
  }
  jpeg_create_decompress(&in);
  jpeg_create_compress(&out);
  jpeg_mem_src(&in, jpeg.data(), jpeg.size());
  jpeg_read_header(&in, TRUE);
  jvirt_barray_ptr* coefs = jpeg_read_coefficients(&in);
  jpeg_copy_critical_parameters(&in, &out);
  out.scan_info = scans;
  out.num_scans = count;
  out.restart_interval = static_cast<unsigned>(restart);
  jpeg_mem_dest(&out, &buffer, size);
  jpeg_write_coefficients(&out, coefs);
  jpeg_finish_compress(&out);
  jpeg_finish_decompress(&in);
  jpeg_destroy_compress(&out);
  jpeg_destroy_decompress(&in);
  return buffer;
}

// jpeg rewritten as sequential scans (all coefficients, no approximation) per script.
Bytes Rescan(const Bytes& jpeg, const Script& script, int restart = 0) {
  std::vector<jpeg_scan_info> scans(script.size());
  for (size_t s = 0; s < script.size(); s++) {
    scans[s] = {static_cast<int>(script[s].size()), {}, 0, 63, 0, 0};
    std::copy(script[s].begin(), script[s].end(), scans[s].component_index);
  }
  unsigned long size = 0;
  unsigned char* buffer = Transcode(jpeg, scans.data(), static_cast<int>(scans.size()), restart, &size);
  if (buffer == nullptr) {
    ADD_FAILURE() << "libjpeg could not rewrite the scans";
    return {};
  }
  Bytes result(buffer, buffer + size);
  std::free(buffer);
  return result;
}

struct Layout {
  const char* name;
  int colors;
  int hSamp0, vSamp0;  // luma sampling of three-component images
  Script script;
  bool progressive;  // also written as libjpeg's progression (once per sampling)
};

const Layout kLayouts[] = {
    {"grey", 1, 1, 1, {{0}}, true},
    {"rgb444 0;1;2", 3, 1, 1, {{0}, {1}, {2}}, true},
    {"rgb444 2;0;1", 3, 1, 1, {{2}, {0}, {1}}, false},
    {"rgb444 0 1;2", 3, 1, 1, {{0, 1}, {2}}, false},
    {"rgb420 0;1;2", 3, 2, 2, {{0}, {1}, {2}}, true},
    {"rgb420 1 2;0", 3, 2, 2, {{1, 2}, {0}}, false},
    {"rgb420 0;2;1", 3, 2, 2, {{0}, {2}, {1}}, false},
    {"rgb422 0 2;1", 3, 2, 1, {{0, 2}, {1}}, true},
    {"cmyk 0;1;2;3", 4, 1, 1, {{0}, {1}, {2}, {3}}, true},
    {"cmyk 3;2;1;0", 4, 1, 1, {{3}, {2}, {1}, {0}}, false},
    {"cmyk 0 1;2 3", 4, 1, 1, {{0, 1}, {2, 3}}, false},
};

// A multi-scan or progressive file against libjpeg's decode of it (>= 40 dB)
// and against our decode of its one-scan twin (the same pixels and colour
// code: the coefficients are the same).
void ExpectMatchesLibjpegAndTwin(const Bytes& file, const DecodeResult& twin) {
  Image reference;
  ASSERT_TRUE(LibjpegDecode(file, &reference, false));
  if (reference.colors == 4) reference = InvertedInks(reference);  // libjpeg gives inverted ink
  const DecodeResult ours = Decode(file);
  ASSERT_TRUE(ours.complete) << ours.message;
  EXPECT_EQ(ours.colorCode, twin.colorCode);
  EXPECT_GE(Psnr(ours.image, reference), 40);
  EXPECT_EQ(ours.image.pixels, twin.image.pixels);
}

Image Source(const Layout& l, bool photo) {
  if (!photo) return SyntheticImage(61, 37, l.colors, 9);  // partial MCUs and blocks at both edges
  return LoadTestImage(l.colors == 1 ? "camera.pgm" : l.colors == 3 ? "coffee.ppm" : "chelsea_cmyk.pam");
}

// Every layout, photo and odd-sized synthetic, with and without restarts,
// as sequential scans and as libjpeg's progression (DC first and refinement
// scans interleaved, AC bands per component, end-of-band runs): >= 40 dB
// against libjpeg's decode of the file, the same pixels as our decode of the
// one-scan original, the colour code of the frame.
TEST(MultiScan, LayoutsAndProgressionsMatchLibjpegAndTheOneScanTwin) {
  for (const Layout& l : kLayouts) {
    for (const bool photo : {true, false}) {
      const Image img = Source(l, photo);
      const Bytes single = LibjpegEncode(img, {85, l.hSamp0, l.vSamp0});
      const DecodeResult twin = Decode(single);
      ASSERT_TRUE(twin.complete) << twin.message;
      for (const int restart : {0, 3}) {
        SCOPED_TRACE(std::string(l.name) + (photo ? " photo" : " synthetic") + " restart " + std::to_string(restart));
        const Bytes multi = Rescan(single, l.script, restart);
        ASSERT_EQ(Markers(multi, 0xDA).size(), l.script.size());
        ExpectMatchesLibjpegAndTwin(multi, twin);
        if (!l.progressive) continue;
        const Bytes prog = LibjpegEncode(img, {85, l.hSamp0, l.vSamp0, restart, 0, false, true});
        ASSERT_GT(Markers(prog, 0xDA).size(), 2u);
        ExpectMatchesLibjpegAndTwin(prog, twin);
      }
    }
  }
}

// The guard byte is rewritten after every refill and the bit reader tells it
// from a real 0xFF, in one-scan files (with restarts and optimized tables)
// as in multi-scan and progressive ones, decoded whole into the store before
// the first line across every scan boundary, restart marker and end-of-band
// run: any refill size, down to one byte, gives the same lines.
TEST(AnyFile, AnyPieceSizeSameLines) {
  std::mt19937 rng(7);
  const Image img = SyntheticImage(45, 29, 3, 4);
  for (const Bytes& jpeg : {LibjpegEncode(img), LibjpegEncode(img, {95, 2, 2, 3, 0, true}),
                            Rescan(LibjpegEncode(img), {{2}, {0, 1}}), Rescan(LibjpegEncode(img), {{1, 2}, {0}}, 2),
                            LibjpegEncode(img, {90, 2, 2, 2, 0, false, true})}) {
    const DecodeResult whole = Decode(jpeg);
    ASSERT_TRUE(whole.complete) << whole.message;
    for (size_t n : {1, 2, 3, 7, 0}) {  // 0: random sizes 1..40
      const DecodeResult split = Decode(jpeg, 0, [&](size_t) -> size_t { return n ? n : 1 + rng() % 40; });
      ASSERT_TRUE(split.complete) << n << ": " << split.message;
      EXPECT_EQ(split.image.pixels, whole.image.pixels) << "pieces " << n;
    }
  }
}

// A DQT segment between scans serves the components coded after it.
TEST(MultiScan, QuantizersDefinedBetweenScans) {
  const Bytes single = LibjpegEncode(SyntheticImage(40, 24, 3, 2), {80, 2, 2});
  const Bytes multi = Rescan(single, {{0}, {1}, {2}});
  const std::vector<long> dqt = Markers(multi, 0xDB), sos = Markers(multi, 0xDA);
  ASSERT_EQ(dqt.size(), 2u);  // table 0 (luma), table 1 (chroma), one segment each
  const long dqt1End = dqt[1] + 2 + 2 + 65;
  const Bytes moved = Join({Slice(multi, 0, dqt[1]), Slice(multi, dqt1End, sos[1]), Slice(multi, dqt[1], dqt1End),
                            Slice(multi, sos[1], static_cast<long>(multi.size()))});
  const DecodeResult ours = Decode(moved), twin = Decode(single);
  ASSERT_TRUE(ours.complete) << ours.message;
  EXPECT_EQ(ours.image.pixels, twin.image.pixels);
}

// Layouts the decoder cannot serve, and cut data, fail with their message,
// never with a wrong image. Scans of "0;1;2": s[k] is the k-th SOS.
TEST(MultiScan, BadLayoutsAndCutDataFail) {
  const Bytes j = Rescan(LibjpegEncode(SyntheticImage(128, 96, 3, 3), {75, 2, 2}), {{0}, {1}, {2}});
  const std::vector<long> s = Markers(j, 0xDA);
  ASSERT_EQ(s.size(), 3u);
  const long end = static_cast<long>(j.size());
  const Bytes eoi = {0xFF, 0xD9};
  const struct { const char* name; Bytes jpeg; bool opens; const char* message; } cases[] = {
      {"first component coded twice", Join({Slice(j, 0, s[1]), Slice(j, s[0], end)}), false,
       "Component 1 coded in more than one scan"},
      {"two-component scan repeats one", Join({Slice(j, 0, s[2]), Slice(j, s[1], s[2]), Slice(j, s[2], end)}), false,
       "Component 2 coded in more than one scan"},
      {"last component never coded", Join({Slice(j, 0, s[2]), eoi}), false, "Component 3 not coded before EOI"},
      {"scan after the image is complete", Join({Slice(j, 0, end - 2), Slice(j, s[2], end)}), true,
       "Streams with more than one scan are not supported"},
      {"cut inside the second scan", Slice(j, 0, s[1] + 40), false, "Source EOF in 8x8 block no. "},
      {"EOI inside the second scan", Join({Slice(j, 0, s[1] + 40), eoi}), false, "Illegal JPEG marker 0xD9 in MCU"},
      {"next scan inside the first", Join({Slice(j, 0, s[0] + 40), Slice(j, s[1], end)}), false, "Illegal JPEG marker 0xDA in MCU"},
  };
  for (const auto& c : cases) {
    for (const size_t piece : {8192, 1}) {
      const DecodeResult r = Decode(c.jpeg, piece);
      const std::string want = c.message;
      EXPECT_EQ(r.opened, c.opens) << c.name << " piece " << piece;
      EXPECT_FALSE(r.complete) << c.name;
      EXPECT_EQ(MessageAsWanted(r.message, want), want) << c.name << " piece " << piece;
    }
  }
}

// The frame header alone allocates nothing big: a frame of 65535 x 65535
// with the data of a small image fails on that data, quickly.
TEST(MultiScan, HugeFrameWithLittleDataFailsCleanly) {
  Bytes j = Rescan(LibjpegEncode(SyntheticImage(32, 16, 3, 5), {75, 2, 2}), {{0}, {1}, {2}});
  const long sof = Markers(j, 0xC0).at(0);
  for (int i = 5; i <= 8; i++) j[sof + i] = 0xFF;  // Y and X
  const DecodeResult r = Decode(j);
  EXPECT_FALSE(r.opened);
  EXPECT_FALSE(r.message.empty());
  EXPECT_EQ(r.message.find("allocate"), std::string::npos) << r.message;
}

// A lone component's sampling factors do not change its block grid.
TEST(Progressive, GreySamplingFactorsIgnored) {
  const Bytes plain = LibjpegEncode(SyntheticImage(45, 29, 1, 6), {90, 1, 1, 0, 0, false, true});
  Bytes sampled = plain;
  sampled.at(Markers(plain, 0xC2).at(0) + 2 + 2 + 1 + 4 + 1 + 1) = 0x22;  // H = V = 2
  const DecodeResult want = Decode(plain), got = Decode(sampled);
  ASSERT_TRUE(got.complete) << got.message;
  EXPECT_EQ(got.image.pixels, want.image.pixels);
}

// Scans whose band or bits do not fit the ones before, and cut data. s[k]
// is the k-th SOS of libjpeg's progression for YCbCr: DC Al 1; Y 1..5 Al 2;
// Cr, Cb 1..63 Al 1; Y 6..63 Al 2; Y 1..63 Ah 2 Al 1; DC Ah 1 Al 0; ...
TEST(Progressive, BadScansAndCutDataFail) {
  const Bytes j = LibjpegEncode(SyntheticImage(128, 96, 3, 8), {75, 2, 2, 0, 0, false, true});
  const std::vector<long> s = Markers(j, 0xDA);
  ASSERT_EQ(s.size(), 10u);
  const long end = static_cast<long>(j.size());
  const auto patched = [&](long at, uint8_t value) { Bytes p = j; p[at] = value; return p; };
  const long firstSs = s[0] + 2 + 2 + 1 + 2 * 3;  // FF DA, Ls, Ns, three components
  const Bytes eoi = {0xFF, 0xD9};
  const std::vector<long> dht = Markers(j, 0xC4);
  const long tablesOfScan1 = *std::find_if(dht.begin(), dht.end(), [&](long at) { return at > s[0]; });
  const struct { const char* name; Bytes jpeg; const char* message; } cases[] = {
      {"DC scan with Se 1", patched(firstSs + 1, 1), "Bad progressive scan Ss=0 Se=1"},
      {"AC band past 63", patched(s[1] + 2 + 2 + 1 + 2 + 1, 64), "Bad progressive scan Ss=1 Se=64"},
      {"first scan refines", patched(firstSs + 2, 0x21), "Bad successive approximation Ah=2 Al=1"},
      {"Al above 13", patched(firstSs + 2, 0x0E), "Bad successive approximation Ah=0 Al=14"},
      {"band coded twice", Join({Slice(j, 0, s[2]), Slice(j, s[1], end)}), "Bad successive approximation Ah=0 Al=2"},
      {"refinement before its first scan", Join({Slice(j, 0, s[1]), Slice(j, s[5], end)}), "Bad successive approximation Ah=2 Al=1"},
      {"no DC scan", Join({Slice(j, 0, s[0]), Slice(j, tablesOfScan1, s[2]), eoi}),
       "Progressive AC scan before the DC scan of component 1"},
      {"cut inside a scan", Slice(j, 0, s[4] + 60), "Source EOF in 8x8 block no. "},
      {"EOI inside a scan", Join({Slice(j, 0, s[4] + 60), eoi}), "Illegal JPEG marker 0xD9 in MCU"},
  };
  for (const auto& c : cases) {
    for (const size_t piece : {8192, 1}) {
      const DecodeResult r = Decode(c.jpeg, piece);
      const std::string want = c.message;
      EXPECT_FALSE(r.opened) << c.name << " piece " << piece;
      EXPECT_EQ(MessageAsWanted(r.message, want), want) << c.name << " piece " << piece;
    }
  }
}

// A DHT segment's AC table values, and whether they hold an
// end-of-band run (size 0, run 1..14), which only progressive scans code.
long ValuesAt(long dht) { return dht + 4 + 1 + 16; }  // FF C4, length, Tc/Th, 16 counts
bool HoldsBandRuns(const Bytes& j, long dht) {
  for (long v = ValuesAt(dht); v < SegmentEnd(j, dht); v++) {
    if ((j[v] & 15) == 0 && j[v] != 0x00 && j[v] != 0xF0) return true;
  }
  return false;
}

// Tables may come before the frame header: a progressive file whose first
// AC table (end-of-band runs among its values) is moved before SOF2
// decodes as before; in a sequential file such a value fails with the same
// message wherever its table stands.
TEST(Progressive, HuffmanTablesBeforeTheFrameHeader) {
  const Bytes j = LibjpegEncode(LoadTestImage("coffee.ppm"), {75, 2, 2, 0, 0, false, true});
  const std::vector<long> s = Markers(j, 0xDA), dht = Markers(j, 0xC4);
  const long sof = Markers(j, 0xC2).at(0), end = static_cast<long>(j.size());
  const long table = *std::find_if(dht.begin(), dht.end(), [&](long at) { return at > s[0]; });
  ASSERT_LT(table, s[1]);  // the table of the first AC scan, and no other between
  ASSERT_EQ(j[table + 4] >> 4, 1);
  ASSERT_TRUE(HoldsBandRuns(j, table));
  const Bytes moved = Join({Slice(j, 0, sof), Slice(j, table, SegmentEnd(j, table)), Slice(j, sof, table),
                            Slice(j, SegmentEnd(j, table), end)});
  const DecodeResult want = Decode(j), got = Decode(moved);
  ASSERT_TRUE(got.complete) << got.message;
  EXPECT_EQ(got.image.pixels, want.image.pixels);

  Bytes seq = LibjpegEncode(SyntheticImage(64, 48, 1, 3), {75, 1, 1});
  const std::vector<long> seqDHT = Markers(seq, 0xC4);
  const long ac = *std::find_if(seqDHT.begin(), seqDHT.end(), [&](long at) { return seq[at + 4] == 0x10; });
  seq[ValuesAt(ac)] = 0x20;  // run 2, size 0
  const long seqSOF = Markers(seq, 0xC0).at(0), seqEnd = static_cast<long>(seq.size());
  const Bytes seqMoved = Join({Slice(seq, 0, seqSOF), Slice(seq, ac, SegmentEnd(seq, ac)), Slice(seq, seqSOF, ac),
                               Slice(seq, SegmentEnd(seq, ac), seqEnd)});
  for (const Bytes& bad : {seq, seqMoved}) {
    const DecodeResult r = Decode(bad);
    EXPECT_FALSE(r.opened);
    EXPECT_EQ(r.message, "AC HuffTable unusable value 32");
  }
}

}  // namespace
