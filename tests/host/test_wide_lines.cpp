// test_wide_lines.cpp - the host streams with raster lines wider than a
// Stm's 16-bit count: PutJPEGRaster takes whole lines of any width (the
// width field read unsigned, up to 65535) and GetJPEGRaster gives whole
// lines back, plain and ASCII85 (a wrong length names the real line
// length: test_jpeg_write_stream.cpp); the thumbnail interface refuses what
// its 16-bit line length cannot carry, and still takes the longest line it can.
#include "host_test_util.h"
#include "support/our_codec.h"

namespace {

using testing_support::Psnr;
using testing_support::Tiled;

TEST(WideLines, WholeLinesOutAndBackThroughTheHostStreams) {
  const Image rgb = Tiled(testing_support::LoadTestImage("coffee.ppm"), 40000, 9);
  const Image cmyk = Tiled(testing_support::LoadTestImage("chelsea_cmyk.pam"), 16384, 7);
  const Image grey = Tiled(testing_support::LoadTestImage("camera.pgm"), 65535, 2);  // width field 0xFFFF
  const struct { const Image* img; int32_t quality; unsigned char ascii85; double minPsnr; } cases[] = {
      {&rgb, 6, 0, 40}, {&rgb, 1, 1, 30}, {&cmyk, 6, 1, 38}, {&cmyk, 0, 0, 28}, {&grey, 6, 0, 40}};
  for (const auto& c : cases) {
    const Image& img = *c.img;
    SCOPED_TRACE(testing::Message() << img.width << " x " << img.colors << ", quality " << c.quality
                                    << (c.ascii85 ? ", ASCII85" : ""));
    TMemoryStream target;  // out through a write stream, back through a read stream
    TJPEGWriteStream* out = MakeJPEGWriteFolioprintStream(&target);
    ASSERT_EQ(FailureCode([&] { WriteImage(out, img, Options(img, c.quality), c.ascii85); }), 0) << JPEGLastErrorMessage();
    out->Free();
    TMemoryStream source(target.Contents());
    TJPEGReadStream* in = MakeJPEGReadFolioprintStream(&source);
    JPEGReadInfo info{};
    const Image back = ReadImage(in, &info, c.ascii85);
    in->Free();
    EXPECT_EQ(static_cast<uint16_t>(info.width), img.width);
    EXPECT_EQ(std::tie(info.height, info.colors), std::tie(img.height, img.colors));
    const double psnr = Psnr(back, img);
    std::printf("%d x %d colours, quality %d: %.2f dB against the source\n", img.width, img.colors, c.quality, psnr);
    EXPECT_GE(psnr, c.minPsnr);
  }
}

// The thumbnail interface's lines are at most 32767 bytes (a short): such a
// line decodes whole, a longer one is refused at the start with its reason.
TEST(WideLines, ThumbnailTakesLinesUpTo32767Bytes) {
  const struct { int width, colors; bool taken; } cases[] = {
      {32767, 1, true}, {10922, 3, true}, {32768, 1, false}, {10923, 3, false}, {8192, 4, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << " x " << c.colors);
    const Image img = testing_support::SyntheticImage(c.width, 3, c.colors);
    const Bytes jpeg = testing_support::OurEncode(img).jpeg;
    short w = 0, h = 0, colors = 0;
    gJPEGError = 0;
    JPEGThumbHandle t = StartJPEGDecompress(reinterpret_cast<const char*>(jpeg.data()),
                                            static_cast<long>(jpeg.size()), &w, &h, &colors);
    EXPECT_EQ(t != nullptr, c.taken);
    if (t == nullptr) {
      EXPECT_EQ(gJPEGError, 1);
      EXPECT_EQ(JPEGLastErrorMessage(), "Raster line of " + std::to_string(c.width * c.colors) +
                                            " bytes exceeds the thumbnail interface's 32767-byte limit");
      continue;
    }
    const short lineBytes = static_cast<short>(c.width * c.colors);
    std::vector<char> lines(size_t{3} * static_cast<size_t>(lineBytes));
    EXPECT_EQ(GetJPEGData(t, lines.data(), 3, lineBytes), 1);
    EXPECT_GE(Psnr(Bytes(lines.begin(), lines.end()), img.pixels), 28);
    CloseJPEG(t);
  }
}

}  // namespace
