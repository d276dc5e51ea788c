// test_oneshot.cpp - the one-call memory API (jpeg_oneshot.h) against the
// encode filter it wraps (same bytes) and libjpeg (the peer reads what it
// writes, it reads what the peer writes); headers of known files; every
// failure's status and text; two threads at once.
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "jpeg_oneshot.h"
#include "support/our_codec.h"
#include "support/test_support.h"

namespace {
using namespace testing_support;

Bytes Encode(const Image& img, const JPEGMemEncodeOptions* o, JPEGMemResult* r) {
  uint8_t* out = nullptr;
  size_t n = 0;
  JPEGMemEncodeAlloc(img.pixels.data(), img.width, img.height, img.colors, 0, o, &out, &n, r);
  Bytes jpeg(out, out + n);
  JPEGMemFree(out);
  return jpeg;
}

// Decodes into a buffer whose lines are 5 bytes longer than the image's;
// the padding must come back untouched.
Image Decode(const Bytes& jpeg, int threads, JPEGMemResult* r) {
  JPEGMemImage shape{};
  const JPEGMemDecodeOptions o{1, threads};
  JPEGMemDecode(jpeg.data(), jpeg.size(), &o, nullptr, 0, 0, &shape, r);
  const size_t line = static_cast<size_t>(shape.width) * shape.components, pitch = line + 5;
  Bytes buffer(pitch * shape.height, 0xA5);
  Image img{shape.width, shape.height, shape.components, {}};
  if (JPEGMemDecode(jpeg.data(), jpeg.size(), &o, buffer.data(), pitch, buffer.size(), &shape, r) != 0) return img;
  for (int y = 0; y < img.height; y++) {
    img.pixels.insert(img.pixels.end(), &buffer[y * pitch], &buffer[y * pitch + line]);
    EXPECT_EQ(Bytes(&buffer[y * pitch + line], &buffer[y * pitch + pitch]), Bytes(5, 0xA5));
  }
  return img;
}

TEST(OneShot, EncodesTheFilterBytesAndLibjpegReadsThem) {
  const Bytes exif = {0xFF, 0xE1, 0, 8, 'E', 'x', 'i', 'f', 0, 0, 0xFF, 0xFE, 0, 4, 'h', 'i'};
  struct Row { int colors, width, mode, threads; double q; bool subsample; bool segments; };
  for (const Row& t : {Row{3, 300, 0, 0, 0.5, false, true}, Row{3, 300, 0, 2, 1.2, true, false},
                       Row{1, 121, 0, 0, 0.3, false, true}, Row{4, 75, 3, 2, 0.5, false, false},
                       Row{3, 11000, 2, 0, 0.8, false, false}}) {
    const Image img = Tiled(LoadTestImage(t.colors == 1 ? "camera.pgm" : t.colors == 3 ? "coffee.ppm" : "chelsea_cmyk.pam"), t.width, 40);
    const uint8_t sampling = t.subsample ? 2 : 0;
    const JPEGMemEncodeOptions o{0, t.q, sampling, sampling, 0, 0, static_cast<int16_t>(t.mode), 1, 72, 72,
                                 t.segments ? exif.data() : nullptr, t.segments ? exif.size() : 0, t.threads};
    JPEGMemResult r;
    const Bytes jpeg = Encode(img, &o, &r);
    ASSERT_EQ(r.status, JPEG_MEM_OK) << r.message;
    EXPECT_EQ(jpeg, OurEncode(img, {t.q, t.subsample, false, t.mode, t.segments ? exif : Bytes{}, t.threads}).jpeg);
    Bytes exact(jpeg.size());  // the caller's buffer: exactly enough, then a byte short
    size_t n = 0;
    for (size_t capacity : {exact.size(), exact.size() - 1}) {
      EXPECT_EQ(JPEGMemEncode(img.pixels.data(), img.width, img.height, img.colors, 0, &o, exact.data(), capacity, &n, &r),
                capacity == jpeg.size() ? JPEG_MEM_OK : JPEG_MEM_TOO_SMALL);
      EXPECT_EQ(n, jpeg.size());
    }
    EXPECT_EQ(exact, jpeg);
    Image peer;
    ASSERT_TRUE(LibjpegDecode(jpeg, &peer));
    EXPECT_GT(Psnr(t.mode == 3 ? InvertedInks(peer) : peer, img), 30.0);
  }
}

TEST(OneShot, DecodesLikeLibjpeg) {
  const Image photo = LoadTestImage("coffee.ppm"), grey = LoadTestImage("camera.pgm");
  struct Row { const Image* img; LibjpegOptions o; int width; };  // 11111 RGB pixels: lines in pieces
  for (const Row& t : {Row{&photo, {80, 2, 2, 0, 1, false, false, false}, 0}, Row{&photo, {90, 1, 1, 0, 0, true, true, false}, 0},
                       Row{&grey, {75, 1, 1, 0, 1, false, true, false}, 0}, Row{&photo, {75, 2, 1, 0, 1, false, false, false}, 11111}}) {
    const Image img = t.width != 0 ? Tiled(*t.img, t.width, 24) : *t.img;
    const Bytes jpeg = LibjpegEncode(img, t.o);
    Image peer;
    ASSERT_TRUE(LibjpegDecode(jpeg, &peer));
    JPEGMemResult r;
    const Image ours = Decode(jpeg, 0, &r);
    EXPECT_EQ(r.status, JPEG_MEM_OK) << r.message;
    EXPECT_GT(Psnr(ours, peer), 45.0);
    EXPECT_EQ(Decode(jpeg, 2, &r).pixels, ours.pixels);
  }
}

// The header of files whose writer is known (ours, libjpeg's), and the
// places of their segments: each stands at its offset with its length.
TEST(OneShot, ReadsHeaders) {
  const Image photo = Crop(LoadTestImage("coffee.ppm"), 99, 70), grey = Crop(LoadTestImage("camera.pgm"), 64, 64);
  const Bytes segments = {0xFF, 0xE2, 0, 5, 'I', 'C', 'C', 0xFF, 0xFE, 0, 3, '!'};
  const JPEGMemEncodeOptions plain{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, segments.data(), segments.size(), 0},
      rgb{0, 0, 0, 0, 0, 0, 2, 0, 0, 0, nullptr, 0, 0}, portable{0, 0, 0, 0, 0, 0, 3, 0, 0, 0, nullptr, 0, 0};
  JPEGMemResult r;
  Bytes progressive = LibjpegEncode(photo, {75, 2, 2, 0, 0, false, true, false});
  const std::string text(progressive.begin(), progressive.end());
  const size_t second = text.find("\xFF\xDA", text.find("\xFF\xDA") + 2);  // a COM before the second scan
  const Bytes comment = {0xFF, 0xFE, 0, 4, 'x', 'y'};
  progressive.insert(progressive.begin() + static_cast<long>(second), comment.begin(), comment.end());
  struct Row { Bytes jpeg; long colour, segments, width, components, progressive, restart; };
  for (const Row& t : {Row{Encode(photo, &plain, &r), JPEG_MEM_COLOUR_YCBCR, 4, 99, 3, 0, 13}, Row{Encode(photo, &rgb, &r), JPEG_MEM_COLOUR_RGB, 1, 99, 3, 0, 13},
                       Row{Encode(SyntheticImage(40, 30, 4), &portable, &r), JPEG_MEM_COLOUR_INVERTED_CMYK, 1, 40, 4, 0, 5},
                       Row{Encode(SyntheticImage(40, 30, 4), nullptr, &r), JPEG_MEM_COLOUR_YCCK, 2, 40, 4, 0, 5},
                       Row{LibjpegEncode(grey, {75, 1, 1, 3, 0, false, false, false}), JPEG_MEM_COLOUR_GREY, 1, 64, 1, 0, 3},
                       Row{progressive, JPEG_MEM_COLOUR_YCBCR, 2, 99, 3, 1, 0}}) {
    JPEGMemHeader h;
    JPEGMemSegment s[8];
    ASSERT_EQ(JPEGMemReadHeader(t.jpeg.data(), t.jpeg.size(), &h, s, 8, &r), JPEG_MEM_OK) << r.message;
    EXPECT_EQ((std::vector<long>{h.colour, h.segmentCount, h.width, h.components, h.progressive, h.restartInterval, h.endOfImage}),
              (std::vector<long>{t.colour, t.segments, t.width, t.components, t.progressive, t.restart, 1}));
    for (uint32_t i = 0; i < h.segmentCount; i++) EXPECT_EQ(t.jpeg[s[i].offset + 1] << 16 | t.jpeg[s[i].offset + 3], s[i].marker << 16 | (s[i].length & 255));
  }
}

// Every failure answers its status, puts it in the record too, with a reason.
TEST(OneShot, EveryFailureSaysWhy) {
  const Image img = SyntheticImage(33, 17, 3);
  JPEGMemResult r;
  const Bytes good = Encode(img, nullptr, &r), cut(good.begin(), good.end() - 40), head(good.begin(), good.begin() + 120);
  const Bytes badSegment = {0xFF, 0xE1, 0, 9, 1};
  const JPEGMemEncodeOptions bad{101, 0, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, 0, 0}, refused{0, 0, 2, 2, 0, 0, 2, 0, 0, 0, nullptr, 0, 0},
      segments{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, badSegment.data(), badSegment.size(), 0};
  const JPEGMemDecodeOptions scale3{3, 0};
  JPEGMemHeader h;
  JPEGMemImage shape;
  uint8_t *out = nullptr, small[64];
  const uint8_t* px = img.pixels.data();
  size_t n = 0;
  const struct { int status; std::function<int32_t(JPEGMemResult*)> call; } rows[] = {
      {JPEG_MEM_BAD_DATA, [&](JPEGMemResult* q) { return JPEGMemReadHeader(px, 40, &h, nullptr, 0, q); }},
      {JPEG_MEM_BAD_DATA, [&](JPEGMemResult* q) { return JPEGMemReadHeader(head.data(), head.size(), &h, nullptr, 0, q); }},
      {JPEG_MEM_BAD_DATA, [&](JPEGMemResult* q) { return JPEGMemDecodeAlloc(cut.data(), cut.size(), nullptr, &out, &shape, q); }},
      {JPEG_MEM_BAD_DATA, [&](JPEGMemResult* q) { return JPEGMemDecodeAlloc(px, 99, nullptr, &out, &shape, q); }},
      {JPEG_MEM_BAD_ARGUMENT, [&](JPEGMemResult* q) { return JPEGMemDecodeAlloc(good.data(), good.size(), &scale3, &out, &shape, q); }},
      {JPEG_MEM_TOO_SMALL, [&](JPEGMemResult* q) { return JPEGMemDecode(good.data(), good.size(), nullptr, small, 0, 64, &shape, q); }},
      {JPEG_MEM_BAD_ARGUMENT, [&](JPEGMemResult* q) { return JPEGMemDecode(good.data(), good.size(), nullptr, small, 98, 64, &shape, q); }},
      {JPEG_MEM_BAD_ARGUMENT, [&](JPEGMemResult* q) { return JPEGMemEncodeAlloc(px, 33, 17, 3, 0, &bad, &out, &n, q); }},
      {JPEG_MEM_BAD_ARGUMENT, [&](JPEGMemResult* q) { return JPEGMemEncodeAlloc(px, 33, 17, 3, 0, &segments, &out, &n, q); }},
      {JPEG_MEM_REFUSED, [&](JPEGMemResult* q) { return JPEGMemEncodeAlloc(px, 33, 17, 3, 0, &refused, &out, &n, q); }},
      {JPEG_MEM_TOO_SMALL, [&](JPEGMemResult* q) { return JPEGMemEncode(px, 33, 17, 3, 0, nullptr, small, 64, &n, q); }},
  };
  for (const auto& row : rows) {
    std::memset(&r, 'x', sizeof r);  // every field is set by the call
    EXPECT_TRUE(row.call(&r) == row.status && r.status == row.status && std::strlen(r.message) > 8 && out == nullptr)
        << row.status << ": " << r.message;
  }
  EXPECT_EQ(shape.width * shape.height, 33 * 17);  // given back with TOO_SMALL
  EXPECT_EQ(n, good.size());
}

// Two threads at once, one decoding damaged data and encoding, the other
// decoding good data: each call's answer and text are its own.
TEST(OneShot, TwoThreadsAtOnce) {
  const Image img = Tiled(LoadTestImage("coffee.ppm"), 700, 300);
  JPEGMemResult r;
  const Bytes good = Encode(img, nullptr, &r), damaged(good.begin(), good.begin() + good.size() / 2);
  const Image expected = Decode(good, 0, &r);
  const std::string why = (Decode(damaged, 0, &r), r.message);
  bool goodOk = true, damagedOk = true;
  std::thread first([&] {
    for (int i = 0; i < 6; i++) goodOk = goodOk && Decode(good, 2, &r).pixels == expected.pixels && r.message[0] == '\0';
  });
  JPEGMemResult q;  // this thread's own record
  for (int i = 0; i < 6; i++) {
    damagedOk = damagedOk && Encode(img, nullptr, &q) == good && q.status == JPEG_MEM_OK;
    damagedOk = damagedOk && (Decode(damaged, 0, &q), q.status == JPEG_MEM_BAD_DATA && why == q.message);
  }
  first.join();
  EXPECT_TRUE(goodOk && damagedOk);
}

}  // namespace
