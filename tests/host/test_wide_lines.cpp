// test_wide_lines.cpp - the host streams with raster lines wider than a
// Stm's 16-bit count: PutJPEGRaster takes whole lines of any width (the
// width field read unsigned, up to 65535) and GetJPEGRaster gives whole
// lines back, plain and ASCII85 (a wrong length names the real line
// length: test_jpeg_write_stream.cpp; the thumbnail interface's limit:
// test_thumb_stream.cpp).
#include "host_test_util.h"

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

}  // namespace
