// test_roundtrip.cpp - the commands end to end on real photographs: every
// route an image takes (plain, ASCII85, a85decode, thumb, the system decoder)
// gives the same pixels back, the options come back out of the file, and the
// ASCII85 commands carry any bytes.
#include "tool_runner.h"

namespace tool_test {
namespace {

struct Photo {
  const char* name;
  const char* file;
  int colors;
  double minPsnr;  // at the default quality
};

void PrintTo(const Photo& photo, std::ostream* out) { *out << photo.file; }

class RoundTrip : public ::testing::TestWithParam<Photo> {};

TEST_P(RoundTrip, EveryRouteGivesTheSamePixels) {
  const Photo photo = GetParam();
  const std::string in = TestdataPath(photo.file);
  TempDir dir;
  Ok({"encode", in, dir.File("plain.jpg")});
  Ok({"encode", "--ascii85", in, dir.File("text.a85")});
  const std::string text = ReadText(dir.File("text.a85"));
  EXPECT_EQ(text.substr(text.size() - 2), "~>");
  // The ASCII85 form is the plain file wrapped.
  Ok({"a85decode", dir.File("text.a85"), dir.File("unwrapped.jpg")});
  EXPECT_EQ(ReadText(dir.File("unwrapped.jpg")), ReadText(dir.File("plain.jpg")));
  const Image original = LoadPNM(in);
  EXPECT_EQ(Ok({"decode", dir.File("plain.jpg"), dir.File("plain.pnm")}).out,
            std::to_string(original.width) + "x" + std::to_string(original.height) +
                " colors=" + std::to_string(photo.colors) + " dpi=72 resources=0\n");
  Ok({"decode", "--ascii85", dir.File("text.a85"), dir.File("text.pnm")});
  Ok({"thumb", dir.File("plain.jpg"), dir.File("thumb.pnm")});
  const std::string decoded = ReadText(dir.File("plain.pnm"));
  EXPECT_EQ(ReadText(dir.File("text.pnm")), decoded);
  EXPECT_EQ(ReadText(dir.File("thumb.pnm")), decoded);
  // Worker threads change nothing, through the host streams and ASCII85 too.
  Ok({"encode", "--threads", "2", in, dir.File("threads.jpg")});
  EXPECT_EQ(ReadText(dir.File("threads.jpg")), ReadText(dir.File("plain.jpg")));
  Ok({"encode", "--ascii85", "--threads", "3", in, dir.File("threads.a85")});
  EXPECT_EQ(ReadText(dir.File("threads.a85")), text);
  Ok({"decode", "--threads", "2", dir.File("plain.jpg"), dir.File("threads.pnm")});
  Ok({"decode", "--ascii85", "--threads", "2", dir.File("text.a85"), dir.File("threads-text.pnm")});
  EXPECT_EQ(ReadText(dir.File("threads.pnm")), decoded);
  EXPECT_EQ(ReadText(dir.File("threads-text.pnm")), decoded);
  const Image back = LoadPNM(dir.File("plain.pnm"));
  ASSERT_EQ(back.colors, photo.colors);
  EXPECT_GE(Psnr(original, back), photo.minPsnr);
  Image theirs;  // the system decoder agrees (it leaves four components untransformed)
  ASSERT_TRUE(LibjpegDecode(ReadFileBytes(dir.File("plain.jpg")), &theirs));
  EXPECT_TRUE(photo.colors == 4 || Psnr(theirs, back) >= 40) << Psnr(theirs, back);
}

INSTANTIATE_TEST_SUITE_P(Photos, RoundTrip,
                         ::testing::Values(Photo{"Grey", "camera.pgm", 1, 33}, Photo{"Rgb", "coffee.ppm", 3, 30},
                                           Photo{"Cmyk", "chelsea_cmyk.pam", 4, 28}),
                         [](const ::testing::TestParamInfo<Photo>& info) { return std::string(info.param.name); });

// Two-component PAM (DEPTH 2) in and out: two bytes a pixel on every route.
TEST(RoundTrip, TwoComponentPam) {
  TempDir dir;
  const Image img = SyntheticImage(33, 17, 2);
  WriteText(dir.File("two.pam"), "P7\nWIDTH 33\nHEIGHT 17\nDEPTH 2\nMAXVAL 255\nENDHDR\n" +
                                     std::string(img.pixels.begin(), img.pixels.end()));
  Ok({"encode", "--quality", "6", dir.File("two.pam"), dir.File("two.jpg")});
  EXPECT_EQ(Ok({"decode", dir.File("two.jpg"), dir.File("back.pam")}).out,
            "33x17 colors=2 dpi=72 resources=0\n");
  Ok({"thumb", dir.File("two.jpg"), dir.File("thumb.pam")});
  EXPECT_EQ(ReadText(dir.File("thumb.pam")), ReadText(dir.File("back.pam")));
  EXPECT_GE(Psnr(img, LoadPNM(dir.File("back.pam"))), 30);
}

// A file from another encoder (a 4:2:0 photograph): decode matches the
// system decoder, thumb gives the same pixels. (Its lines wider than the
// thumbnail interface takes are refused: see test_failures.cpp.)
TEST(RoundTrip, ForeignFileMatchesTheSystemDecoder) {
  TempDir dir;
  Ok({"decode", TestdataPath("retina.jpg"), dir.File("ours.ppm")});
  Image theirs;
  ASSERT_TRUE(LibjpegDecode(ReadFileBytes(TestdataPath("retina.jpg")), &theirs));
  EXPECT_GE(Psnr(theirs, LoadPNM(dir.File("ours.ppm"))), 40);
  Ok({"thumb", TestdataPath("retina.jpg"), dir.File("thumb.ppm")});
  EXPECT_EQ(ReadText(dir.File("thumb.ppm")), ReadText(dir.File("ours.ppm")));
}

// Lines of more than 32767 bytes, RGB and CMYK, and more lines than a
// signed 16-bit height holds, plain and ASCII85: the decoded image matches
// the source, and the system decoder reads the RGB files as we do.
TEST(RoundTrip, WideAndTallImagesEncodeAndDecode) {
  TempDir dir;
  const Image rgb = Tiled(LoadTestImage("coffee.ppm"), 40000, 6);
  const Image cmyk = Tiled(LoadTestImage("chelsea_cmyk.pam"), 16384, 5);
  const Image tall = Tiled(LoadTestImage("coffee.ppm"), 16, 40000);
  WritePNM(dir.File("rgb.ppm"), rgb);
  WritePNM(dir.File("tall.ppm"), tall);
  WriteText(dir.File("cmyk.pam"), "P7\nWIDTH 16384\nHEIGHT 5\nDEPTH 4\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\n" +
                                      std::string(cmyk.pixels.begin(), cmyk.pixels.end()));
  const struct { const char* in; const Image* source; const char* size; double minPsnr; } cases[] = {
      {"rgb.ppm", &rgb, "40000x6 colors=3", 40}, {"cmyk.pam", &cmyk, "16384x5 colors=4", 38},
      {"tall.ppm", &tall, "16x40000 colors=3", 35}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    Ok({"encode", "--quality", "6", dir.File(c.in), dir.File("plain.jpg")});
    Ok({"encode", "--quality", "6", "--ascii85", dir.File(c.in), dir.File("text.a85")});
    EXPECT_EQ(Ok({"decode", dir.File("plain.jpg"), dir.File("plain.pnm")}).out,
              std::string(c.size) + " dpi=72 resources=0\n");
    Ok({"decode", "--ascii85", dir.File("text.a85"), dir.File("text.pnm")});
    EXPECT_EQ(ReadText(dir.File("text.pnm")), ReadText(dir.File("plain.pnm")));
    const Image back = LoadPNM(dir.File("plain.pnm"));
    const double psnr = Psnr(*c.source, back);
    std::printf("%s: %.2f dB against the source\n", c.in, psnr);
    EXPECT_GE(psnr, c.minPsnr);
    if (c.source->colors == 3) {
      const double peer = Psnr(DjpegDecode(ReadFileBytes(dir.File("plain.jpg"))), back);
      std::printf("%s: djpeg %.2f dB against ours\n", c.in, peer);
      EXPECT_GE(peer, 40.0);
    }
  }
}

TEST(Encode, QualityIndexRunsFromCoarsestToFinest) {
  TempDir dir;
  const Image original = LoadTestImage("coffee.ppm");
  double lastPsnr = 0;
  size_t lastSize = 0;
  for (const char* quality : {"0", "3", "6"}) {
    Ok({"encode", "--quality", quality, TestdataPath("coffee.ppm"), dir.File("q.jpg")});
    Ok({"decode", dir.File("q.jpg"), dir.File("q.ppm")});
    const size_t size = ReadText(dir.File("q.jpg")).size();
    const double psnr = Psnr(original, LoadPNM(dir.File("q.ppm")));
    EXPECT_GT(size, lastSize) << "quality " << quality;
    EXPECT_GT(psnr, lastPsnr) << "quality " << quality;
    lastSize = size;
    lastPsnr = psnr;
  }
}

// Resources larger than one segment holds are split over two and joined again.
TEST(Encode, ResolutionResourcesAndMarkerModeComeBack) {
  TempDir dir;
  std::string resources(40000, '\0');
  for (size_t i = 0; i < resources.size(); ++i) resources[i] = static_cast<char>(i * 7 + i / 251);
  WriteText(dir.File("res.bin"), resources);
  Ok({"encode", "--dpi", "300,150", "--resources", dir.File("res.bin"), TestdataPath("camera.pgm"),
      dir.File("a.jpg")});
  EXPECT_EQ(Ok({"decode", "--resources", dir.File("back.bin"), dir.File("a.jpg"), dir.File("a.pgm")}).out,
            "512x512 colors=1 dpi=300,150 resources=40000\n");
  EXPECT_EQ(ReadText(dir.File("back.bin")), resources);
  // The ASCII85 form reports both densities too.
  Ok({"encode", "--ascii85", "--dpi", "300,150", TestdataPath("camera.pgm"), dir.File("a.a85")});
  EXPECT_EQ(Ok({"decode", "--ascii85", dir.File("a.a85"), dir.File("a.pgm")}).out,
            "512x512 colors=1 dpi=300,150 resources=0\n");
  const std::string info = Ok({"info", dir.File("a.jpg")}).out;
  for (const char* text : {"density 300x150 dots per inch", "\"Imagerion 3.0\" image resources, 32000 bytes",
                           "\"Imagerion 3.0\" image resources, 8000 bytes"}) {
    EXPECT_NE(info.find(text), npos) << info;
  }
  // Marker mode 1 leaves out the JFIF segment, and with it the resolution.
  Ok({"encode", "--marker-mode", "1", TestdataPath("camera.pgm"), dir.File("b.jpg")});
  EXPECT_EQ(Ok({"info", dir.File("b.jpg")}).out.find("JFIF"), npos);
  EXPECT_EQ(Ok({"decode", dir.File("b.jpg"), dir.File("b.pgm")}).out, "512x512 colors=1 dpi=0 resources=0\n");
}

TEST(Ascii85, CommandsRoundTripAnyBytes) {
  TempDir dir;
  std::string bytes;
  for (int i = 0; i < 5000; ++i) bytes += static_cast<char>((i * 131 + i / 7) & 0xFF);
  bytes += std::string(64, '\0');  // whole zero groups become "z"
  for (const std::string& content : {bytes, std::string(), std::string("abc")}) {
    WriteText(dir.File("in.bin"), content);
    Ok({"a85encode", dir.File("in.bin"), dir.File("text.a85")});
    const std::string text = ReadText(dir.File("text.a85"));
    EXPECT_EQ(text.substr(text.size() - 2), "~>");
    Ok({"a85decode", dir.File("text.a85"), dir.File("back.bin")});
    EXPECT_EQ(ReadText(dir.File("back.bin")), content);
  }
}

}  // namespace
}  // namespace tool_test
