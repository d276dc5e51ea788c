// test_enc_filter.cpp - the encode filter end to end. Every stream it writes
// decodes with the reference peer (libjpeg-turbo, which must not even warn)
// close to the input over all options and sizes; the bytes are exact where
// they are fixed (segment order, tables by quality factor, restart
// markers, padding and EOI, flat blocks, the bit writer's stuffing); misuse
// and failing targets are reported with their message, once; and the memory
// taken does not grow with the image. Leaks show in the sanitizer build.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cmath>

#include "codec/codec_state.h"
#include "encode/encoder.h"
#include "jpeg_filters.h"
#include "support/our_codec.h"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's own count of heap bytes in use.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

using testing_support::Bytes;
using testing_support::Image;
using testing_support::MemSink;
using testing_support::SyntheticImage;

using testing_support::OurEncodeOptions;

// The caller's parameters, JFIF density 72 dpi, no host data.
JPEGEncodeParams MakeParams(int width, int height, int colors) {
  return JPEGEncodeParams{0.76, 0, 0, 0, 0, 1, 72, 72, width, height, static_cast<int16_t>(colors), 0, nullptr, 0};
}

// Our encoding of img; it must succeed.
Bytes Encode(const Image& img, const OurEncodeOptions& o = {}) {
  const auto r = testing_support::OurEncode(img, o);
  EXPECT_TRUE(r.ok) << r.message;
  return r.jpeg;
}

// ---- the peer decodes every stream -------------------------------------------------

// Encodes, decodes with the peer (raw components unless it converts YCbCr to
// RGB itself) and compares component by component with what the stream
// should hold: the input, or for four components with the transform YCCK:
// Y, Cb, Cr of (255 - C, 255 - M, 255 - Y), and K unchanged.
void ExpectPeerDecodes(const Image& img, const OurEncodeOptions& o, double minPsnr) {
  const bool transform = o.markerMode != 2, raw = !(img.colors == 3 && transform);
  Image out;
  std::string msg;
  ASSERT_TRUE(testing_support::LibjpegDecode(Encode(img, o), &out, false, &msg, raw)) << msg;
  ASSERT_EQ(std::tie(out.width, out.height, out.colors), std::tie(img.width, img.height, img.colors));
  for (int c = 0; c < img.colors; c++) {
    Bytes got, want;
    for (size_t i = static_cast<size_t>(c); i < img.pixels.size(); i += static_cast<size_t>(img.colors)) {
      const uint8_t* p = &img.pixels[i - static_cast<size_t>(c)];
      const bool ycck = img.colors == 4 && transform && c < 3;
      const double r = ycck ? 255 - p[0] : 0, g = ycck ? 255 - p[1] : 0, b = ycck ? 255 - p[2] : 0;
      const double ycc[3] = {0.299 * r + 0.587 * g + 0.114 * b, -0.16874 * r - 0.33126 * g + 0.5 * b + 128,
                             0.5 * r - 0.41869 * g - 0.08131 * b + 128};
      got.push_back(out.pixels[i]);
      want.push_back(ycck ? static_cast<uint8_t>(std::lround(std::clamp(ycc[c], 0.0, 255.0))) : img.pixels[i]);
    }
    EXPECT_GT(testing_support::Psnr(got, want), minPsnr) << "component " << c;
  }
}

// Every component count, sampling, blending and marker mode in full; the
// sizes and quality factors rotate through them so that each size and each
// factor meets every component count, sampled both ways. The synthetic
// texture is noise of +-16 per sample; subsampled chroma loses most of it,
// coarse quantizers lose some. Then real photographs, grey, RGB and CMYK.
TEST(PeerDecodes, OptionMatrixAndPhotographs) {
  const double qualities[] = {0.0, 0.1, 0.25, 0.4, 0.65, 0.76, 1.0, 1.3};
  const int sizes[4][2] = {{1, 1}, {7, 9}, {17, 33}, {227, 149}};
  for (int n = 0; n < 48; n++) {
    const int colors = 1 + n / 12, sub = n / 6 % 2, blend = n / 3 % 2, mode = n % 3;
    const OurEncodeOptions o{qualities[n % 8], sub != 0, blend != 0, mode, {}};
    const Image img = SyntheticImage(sizes[n % 4][0], sizes[n % 4][1], colors, 3);
    SCOPED_TRACE(testing::Message() << colors << " colors, sub " << sub << ", blend " << blend << ", mode "
                                    << mode << ", " << img.width << "x" << img.height << ", q " << o.qFactor);
    ExpectPeerDecodes(img, o, o.qFactor <= 0.25 && !(sub && colors >= 2 && mode != 2) ? 32 : 22);
  }
  ExpectPeerDecodes(SyntheticImage(32767, 2, 1), {}, 22);  // the longest line the stream record holds
  // Photographs: file, subsampling, quality factor, least PSNR of a component.
  const std::tuple<const char*, bool, double, double> cases[] = {
      {"astronaut.ppm", true, 0.76, 28},    {"coffee.ppm", false, 1.0, 28},
      {"camera.pgm", false, 0.4, 33},       {"camera.pgm", true, 1.3, 27},
      {"chelsea_cmyk.pam", true, 0.76, 28}, {"chelsea_cmyk.pam", false, 0.25, 33}};
  for (const auto& [file, subsample, quality, minPsnr] : cases) {
    SCOPED_TRACE(file);
    ExpectPeerDecodes(testing_support::LoadTestImage(file), {quality, subsample, true, 0, {}}, minPsnr);
  }
}

// Writes `bytes` of img (up to two lines more than it holds; the surplus is
// 0x5A) in runs of the sizes in `runs` in turn (0: one os_fputc) into a
// target that fails on the flush past failAfter bytes (-1: never) or has
// been ended before the first write, and closes. After a failure while
// writing, further writes are taken and dropped, the count never wraps,
// however many, and nothing more reaches the target. Returns the message
// reported, which must be reported once: while writing (*whileWriting) or at
// the close, never both.
std::string WriteAndClose(const Image& img, size_t bytes, Bytes* out, long failAfter = -1, bool endTarget = false,
                          const std::vector<size_t>& runs = {192}, bool* whileWriting = nullptr,
                          const OurEncodeOptions& o = {}) {
  MemSink sink(failAfter >= 0 ? 1 : 256, failAfter);
  JPEGEncodeParams p = MakeParams(img.width, img.height, img.colors);
  p.QFactor = o.qFactor;
  p.subsample = o.subsample;
  gJPEGError = 0;
  Stm* s = JPEGOpen(sink.stm(), &p);
  if (s == nullptr) return "open failed";
  if (endTarget) sink.stm()->flsBuf(-1, sink.stm());
  Bytes in = img.pixels;
  in.resize(in.size() + 2 * static_cast<size_t>(img.width * img.colors), 0x5A);
  size_t taken = 0;
  for (size_t k = 0, at = 0, run; at < bytes && !s->error; k++, at += std::max<size_t>(run, 1)) {
    run = std::min(runs[k % runs.size()], bytes - at);
    taken += run == 0 ? os_fputc(in[at], s) >= 0 : StmFWrite(in.data() + at, 1, static_cast<uint32_t>(run), s);
  }
  EXPECT_TRUE(s->error || taken == bytes) << taken;
  if (whileWriting != nullptr) *whileWriting = s->error || gJPEGError;
  std::string message = gJPEGError ? JPEGLastErrorMessage() : "";
  const Bytes atFailure = sink.Contents();
  for (int i = 0; s->error && i < 100000; i++) os_fputc(static_cast<int16_t>(i & 0xFF), s);
  if (s->error) StmFWrite(in.data(), 1, static_cast<uint32_t>(in.size()), s);
  EXPECT_TRUE(!s->error || (s->count <= 0 && s->count >= -1)) << s->count;
  const bool failed = s->error;
  gJPEGError = 0;
  JPEGClose(s);
  EXPECT_TRUE(message.empty() || !gJPEGError) << "reported twice";
  *out = sink.Contents();
  EXPECT_TRUE(!failed || *out == atFailure) << "written after the failure";
  return gJPEGError ? JPEGLastErrorMessage() : message;
}

// ---- exact bytes ---------------------------------------------------------------------

// FNV-1a over the whole file.
uint64_t Digest(const Bytes& b) {
  uint64_t h = 14695981039346656037ull;
  for (uint8_t v : b) h = (h ^ v) * 1099511628211ull;
  return h;
}

// The default output bytes never change: whole-file digests over the
// quality factor on both sides of each bound where the table pair or the
// largest quantizer steps (far above the useful range too, where the 16.16
// factor once overflowed, and negative, taken as 0); every component count,
// marker mode (host data in APP1), subsampling and blending on a 17 x 150
// image (restart markers cycling past RST7); flat images whose scans hold a
// stuffed 0xFF, a 0xFF completed by the padding, and a block column right of
// the image; blocks that drive every AC coefficient to its extreme (flat -2)
// and bars that swing the blue-difference chroma fully at zigzag position 16
// (flat -3), which reach the largest Huffman sizes at every quality factor
// (a table pair lacking a size fails the encode). Lines wider than the 16-bit count, written in odd runs down to
// single bytes, code to the bytes of one write, which the peer reads.
TEST(EncoderBytes, DigestsOfDefaultOutput) {
  const double kUnit = 1 / 65536.0;
  const struct { int width, height, colors; double quality; bool subsample, blend; int mode, flat; uint64_t digest; } cases[] = {
      {16, 16, 3, -3.0, false, false, 0, -1, 0x3e0a448a849a85afull}, {16, 16, 3, 2047 * kUnit, true, false, 0, -1, 0x7e46281b36a64cd9ull},
      {16, 16, 3, 2048 * kUnit, false, false, 0, -1, 0x1b49a1b6d36ff8c4ull}, {16, 16, 3, 8191 * kUnit, true, false, 0, -1, 0x1c28f648863f6743ull},
      {16, 16, 3, 0.125, false, false, 0, -1, 0x1a3662d5bf858d67ull}, {16, 16, 3, 49151 * kUnit, true, false, 0, -1, 0x56df0f382e536ce5ull},
      {16, 16, 3, 0.75, false, false, 0, -1, 0xbf34456b1fe6eeeaull}, {16, 16, 3, 1.01, true, false, 0, -1, 0xad19e2667ecc021full},
      {16, 16, 3, 1.02, false, false, 0, -1, 0x999a20bef988a472ull}, {16, 16, 3, 1.31, true, false, 0, -1, 0xdd77f03703b4da03ull},
      {16, 16, 3, 1.32, false, false, 0, -1, 0x33b3109acf092b61ull}, {16, 16, 3, 95231 * kUnit, true, false, 0, -1, 0x99c270aa55ec5006ull},
      {16, 16, 3, 95232 * kUnit, false, false, 0, -1, 0xf41dd5eaac0379e9ull}, {16, 16, 3, 1e300, true, false, 0, -1, 0x8753d786a7befaa7ull},
      {17, 150, 1, 0.76, true, false, 0, -1, 0xaa474ee5117cc31ull}, {17, 150, 2, 0.76, true, true, 0, -1, 0x89e8033050fc7c58ull},
      {17, 150, 3, 0.76, false, true, 7, -1, 0xa299509ce9fac6dbull}, {17, 150, 3, 0.76, true, false, 1, -1, 0x9538efbdc31b003cull},
      {17, 150, 3, 0.76, false, false, 1, -1, 0x361ca611503c5609ull}, {17, 150, 4, 0.76, true, true, 0, -1, 0xbd5c63381641298cull},
      {17, 150, 3, 0.76, true, false, 2, -1, 0x305723d667f9a930ull}, {17, 150, 4, 0.76, false, false, 2, -1, 0x822bc4a5444d8e8full},
      {16, 16, 1, 0.0, false, false, 0, 0, 0xe124b8ebf0609e93ull}, {16, 16, 1, 0.0, false, false, 0, 5, 0x1cac4f6e6583a7cfull},
      {1, 16, 3, 0.0, true, false, 0, 200, 0x961b40fba6997d17ull}, {504, 8, 3, 0.0, false, true, 0, -2, 0x559fb753f3507148ull},
      {504, 8, 3, 1.3, true, true, 0, -2, 0xba52bc49e1df8897ull}, {504, 8, 3, 1e6, false, true, 0, -2, 0x180251efde6c495eull}, {16, 16, 3, 0.05, true, true, 0, -3, 0x4f111f4f6359df28ull},
      {16, 16, 3, 1.46, false, true, 0, -3, 0x2731eae522781945ull}, {16, 16, 3, 318.0, true, true, 0, -3, 0xdf994d69899a56deull}};
  Image extremes{504, 8, 3, {}}, bars{16, 16, 3, {}};
  for (int y = 0; y < 16; y++)
    for (int x = 0; x < 504; x++) {
      const int i = 1 + x / 8, bx = x / 2 % 8 % 4;  // extremes: coefficient i; bars: 2 x 2 pixels, blue or yellow
      const double w = std::cos((2 * (x % 8) + 1) * (i % 8) * M_PI / 16) * std::cos((2 * y + 1) * (i / 8) * M_PI / 16);
      const uint8_t v = w > 0 ? 255 : 0, blue = ((bx == 0 || bx == 3) == (y / 2 % 8 < 4)) ? 255 : 0;
      if (y < 8) extremes.pixels.insert(extremes.pixels.end(), {v, static_cast<uint8_t>(255 - v), v});
      if (x < 16) bars.pixels.insert(bars.pixels.end(), {static_cast<uint8_t>(255 - blue), static_cast<uint8_t>(255 - blue), blue});
    }
  for (const auto& c : cases) {
    const Image img = c.flat == -2 ? extremes : c.flat == -3 ? bars : c.flat < 0 ? SyntheticImage(c.width, c.height, c.colors)
                                 : Image{c.width, c.height, c.colors, Bytes(size_t{1} * c.width * c.height * c.colors, static_cast<uint8_t>(c.flat))};
    const Bytes host = c.mode == 1 && !c.subsample ? Bytes{0xFF, 0xE1, 0, 3, 0x55} : Bytes{};
    const uint64_t digest = Digest(Encode(img, {c.quality, c.subsample, c.blend, c.mode, host}));
    EXPECT_EQ(digest, c.digest) << std::hex << "0x" << digest << std::dec << " " << c.width << "x" << c.height << "x"
                                << c.colors << " q " << c.quality << " mode " << c.mode;
  }
  for (const auto& [width, height, colors, subsample] : {std::tuple{40000, 11, 3, false}, {40000, 19, 3, true},
                                                        {16384, 17, 4, true}, {65500, 3, 1, false}}) {
    const Image img = testing_support::Tiled(
        testing_support::LoadTestImage(colors == 4 ? "chelsea_cmyk.pam" : colors == 3 ? "coffee.ppm" : "camera.pgm"), width, height);
    const OurEncodeOptions o{0.15, subsample, false, 0, {}};
    const Bytes whole = Encode(img, o);
    for (const std::vector<size_t>& runs : {std::vector<size_t>{1, 4093, 32767, 32768, 0, 65537, 7},
                                            {size_t{1} * width * colors - 1}}) {  // line ends move
      Bytes out;
      EXPECT_EQ(WriteAndClose(img, img.pixels.size(), &out, -1, false, runs, nullptr, o), "") << width;
      EXPECT_TRUE(out == whole) << width;
    }
    ExpectPeerDecodes(img, o, subsample ? 25 : 33);
  }
}

// Whole lines are read where the writer holds them, the rest goes through
// the filter's buffer: a write split at every position, line by line or
// byte by byte, gives the bytes of one write.
TEST(EncoderBytes, WritesSplitAnywhereGiveTheBytesOfOneWrite) {
  for (const auto& [colors, subsample] : {std::pair{3, false}, {3, true}, {1, false}}) {
    const Image img = SyntheticImage(40, 24, colors);
    const size_t size = img.pixels.size();
    const OurEncodeOptions o{0.76, subsample, false, 0, {}};
    const Bytes whole = Encode(img, o);
    Bytes out;
    for (size_t split = 1; split < size; split++) {
      ASSERT_EQ(WriteAndClose(img, size, &out, -1, false, {split, size}, nullptr, o), "") << split;
      ASSERT_TRUE(out == whole) << "split at " << split << ", " << colors << (subsample ? " 4:2:0" : "");
    }
    for (size_t run : {size_t{1}, size_t{40}, size_t{120}, size_t{240}, size_t{359}}) {
      EXPECT_EQ(WriteAndClose(img, size, &out, -1, false, {run}, nullptr, o), "");
      EXPECT_TRUE(out == whole) << "runs of " << run;
    }
  }
}

// ---- misuse and failure ----------------------------------------------------------------

TEST(EncoderMisuse, OpenRefusedWithMessage) {
  // Width, height, colours, marker data length (with no marker data), message.
  const std::tuple<int, int, int, int, const char*> cases[] = {
      {8, 8, 0, 0, "Wrong number of colors!"}, {8, 8, 5, 0, "Wrong number of colors!"},
      {8, 8, -1, 0, "Wrong number of colors!"}, {0, 8, 3, 0, "Columns==0"}, {0, 0, 1, 0, "Columns==0"},
      {8, 0, 3, 0, "Rows==0"}, {-5, 8, 1, 0, "Columns=-5 out of range"},
      {8, 65536, 1, 0, "Rows=65536 out of range"}, {8, -1, 1, 0, "Rows=-1 out of range"},
      {8, 8, 1, 10, "Bad marker data length 10"}, {8, 8, 1, -1, "Bad marker data length -1"},
      {65536, 8, 1, 0, "Columns=65536 out of range"},
      {2000000000, 8, 4, 0, "Columns=2000000000 out of range"}};
  for (const auto& [width, height, colors, markerLength, message] : cases) {
    JPEGEncodeParams p = MakeParams(width, height, colors);
    p.markerDataLength = markerLength;
    MemSink sink;
    gJPEGError = 0;
    EXPECT_EQ(JPEGOpen(sink.stm(), &p), nullptr) << message;
    EXPECT_EQ(gJPEGError, 1);
    EXPECT_STREQ(JPEGLastErrorMessage(), message);
    EXPECT_TRUE(sink.Contents().empty());
  }
  JPEGEncodeParams p = MakeParams(8, 8, 1);
  MemSink sink;
  EXPECT_EQ(JPEGOpen(nullptr, &p), nullptr);
  EXPECT_EQ(JPEGOpen(sink.stm(), nullptr), nullptr);
  JPEGClose(nullptr);  // does nothing
}

// Raster data that does not fill exactly Rows lines, written in pieces of
// odd sizes: a failure the caller sees, with no EOI in the target. A surplus
// is found while writing (the last line is then never coded), a shortfall at
// the close, after the strips already coded (23 of 24 lines: two strips and
// their RST). Nothing written is no image, not one of stale buffer bytes.
// Exactly Rows lines give the whole image. Lines of 36000 bytes (wider than
// the 16-bit count: pieces of 32766 and 3234) end short inside their first
// piece, at a piece boundary, in the last piece. A target that fails amid
// the data, fails on the flush of EOI's 0xFF (found at the close) or has
// ended is reported once, with its message.
TEST(EncoderMisuse, WrongAmountOfRasterDataAndFailingTargets) {
  const Image img = SyntheticImage(40, 24, 3), wide = SyntheticImage(12000, 2, 3);  // lines of 120 bytes, three strips
  const size_t image = img.pixels.size(), line = 120;
  const long eoiAt = static_cast<long>(Encode(img).size()) - 2;
  const char* const kPast = "Raster data past the end of the image's 24 lines";
  const uint8_t rst0[] = {0xFF, 0xD0};
  const struct {
    const Image* img;
    size_t bytes;
    const char* message;  // "" for success
    bool whileWriting;
    long failAfter = -1;
    bool endTarget = false;
  } cases[] = {
      {&img, image, "", false},
      {&img, image - 1, "Premature close before EOI: line 24 has only 119 bytes", false},
      {&img, image - line, "Premature close before EOI", false},
      {&img, 0, "Premature close before EOI", false},
      {&img, 10 * line + 60, "Premature close before EOI: line 11 has only 60 bytes", false},
      {&img, image + 1, kPast, true},
      {&img, image + line, kPast, true},
      {&wide, 36000 + 100, "Premature close before EOI: line 2 has only 100 bytes", false},
      {&wide, 36000 + 32766, "Premature close before EOI: line 2 has only 32766 bytes", false},
      {&wide, 36000 + 35999, "Premature close before EOI: line 2 has only 35999 bytes", false},
      {&img, image, "Target error prevents output", true, eoiAt / 2},  // while writing
      {&img, image, "Target error prevents output", false, eoiAt},
      {&img, image, "Target EOF prevents output", true, -1, true},
  };
  for (const auto& c : cases) {
    for (size_t piece : {1, 7, 119, 121, 1001}) {
      SCOPED_TRACE(testing::Message() << c.bytes << " bytes, pieces of " << piece);
      Bytes out;
      bool whileWriting = false;
      EXPECT_EQ(WriteAndClose(*c.img, c.bytes, &out, c.failAfter, c.endTarget, {piece}, &whileWriting), c.message);
      EXPECT_EQ(whileWriting, c.whileWriting);
      const bool ok = *c.message == '\0';
      if (c.bytes == image - line) { EXPECT_NE(std::search(out.begin(), out.end(), rst0, rst0 + 2), out.end()); }
      EXPECT_TRUE(c.bytes > 0 || out.empty());
      EXPECT_EQ(out.size() >= 2 && out[out.size() - 2] == 0xFF && out.back() == 0xD9, ok);
      Image dec;
      EXPECT_EQ(testing_support::LibjpegDecode(out, &dec) && dec.height == c.img->height, ok);
    }
  }
}

// ---- memory ----------------------------------------------------------------------------

// Heap bytes in use: glibc's arena statistics, or the sanitizer allocator's
// own count when it has replaced malloc.
size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#endif
}

// The most heap in use after open while writing 300-pixel lines into a
// target that throws the bytes away (so that the output allocates nothing).
long PeakHeap(int height) {
  Stm target{};  // no buffer: every byte goes to flsBuf, which drops it
  target.flsBuf = [](int16_t c, Stm*) { return c; };
  const Image lines = SyntheticImage(300, 16, 3);
  JPEGEncodeParams p = MakeParams(300, height, 3);
  p.subsample = p.blend = 1;
  const size_t before = HeapInUse();
  Stm* s = JPEGOpen(&target, &p);
  long peak = static_cast<long>(HeapInUse() - before);
  for (int y = 0; s && y < height; y++) {
    StmFWrite(lines.Row(y % 16), 1, 900, s);
    if (y % 97 == 0) peak = std::max(peak, static_cast<long>(HeapInUse() - before));
  }
  JPEGClose(s);
  return peak;
}

// One strip (16 lines of luma, 9 of each chroma) plus tables: the same for
// 16 lines as for 20000, and far below a tenth of the image.
// The widest CMYK image, subsampled or not, takes a strip of a few megabytes.
TEST(EncoderMemory, DoesNotGrowWithHeight) {
  PeakHeap(16);  // the first open also sets up what the process keeps (kernel choice)
  const long small = PeakHeap(16);
  EXPECT_GT(small, 0);
  EXPECT_EQ(PeakHeap(20000), small);
  EXPECT_LT(small, 300 * 3 * 20000 / 10);
  for (const bool subsample : {false, true}) {
    MemSink sink;
    JPEGEncodeParams p = MakeParams(65535, 65535, 4);
    p.subsample = subsample;
    Stm* s = JPEGOpen(sink.stm(), &p);
    ASSERT_NE(s, nullptr) << JPEGLastErrorMessage();
    EXPECT_LE(static_cast<JPEGFilterContext*>(s->procData)->state->stripMemoryBytes, 8 << 20);
    JPEGClose(s);
  }
}

}  // namespace
