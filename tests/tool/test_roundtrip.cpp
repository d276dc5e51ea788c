// test_roundtrip.cpp - the commands end to end on real photographs: every
// route an image takes (plain, ASCII85 and a85decode, thumb, worker threads,
// the system decoder) gives the same pixels back; resolution and resources
// come back out of the file; images taller than a signed 16-bit height match
// djpeg.
#include "tool_runner.h"

namespace tool_test {
namespace {

TEST(RoundTrip, EveryRouteGivesTheSamePixels) {
  const struct { const char* file; int colors; double minPsnr; } photos[] = {
      {"camera.pgm", 1, 33}, {"coffee.ppm", 3, 30}, {"chelsea_cmyk.pam", 4, 28}};
  for (const auto& photo : photos) {
    SCOPED_TRACE(photo.file);
    const std::string in = TestdataPath(photo.file);
    TempDir dir;
    Ok({"encode", in, dir.File("plain.jpg")});
    Ok({"encode", "--ascii85", "--threads", "3", in, dir.File("text.a85")});
    Ok({"encode", "--threads", "2", in, dir.File("threads.jpg")});
    EXPECT_EQ(ReadText(dir.File("threads.jpg")), ReadText(dir.File("plain.jpg")));
    Ok({"a85decode", dir.File("text.a85"), dir.File("unwrapped.jpg")});  // the plain file wrapped
    EXPECT_EQ(ReadText(dir.File("unwrapped.jpg")), ReadText(dir.File("plain.jpg")));
    Ok({"decode", dir.File("plain.jpg"), dir.File("plain.pnm")});
    const std::string decoded = ReadText(dir.File("plain.pnm"));
    for (const std::vector<std::string>& route :
         {std::vector<std::string>{"decode", "--ascii85", "--threads", "2", dir.File("text.a85")},
          {"decode", "--threads", "2", dir.File("plain.jpg")}, {"thumb", dir.File("plain.jpg")}}) {
      std::vector<std::string> args = route;
      args.push_back(dir.File("route.pnm"));
      Ok(args);
      EXPECT_EQ(ReadText(dir.File("route.pnm")), decoded) << route[0] << " " << route[1];
    }
    const Image back = LoadPNM(dir.File("plain.pnm"));
    ASSERT_EQ(back.colors, photo.colors);
    EXPECT_GE(Psnr(LoadPNM(in), back), photo.minPsnr);
    Image theirs;  // the system decoder agrees (it leaves four components untransformed)
    ASSERT_TRUE(LibjpegDecode(ReadFileBytes(dir.File("plain.jpg")), &theirs));
    EXPECT_TRUE(photo.colors == 4 || Psnr(theirs, back) >= 40) << Psnr(theirs, back);
  }
}

// Resources larger than one segment holds are split over two and joined again.
TEST(RoundTrip, ResolutionAndResourcesComeBack) {
  TempDir dir;
  std::string resources(40000, '\0');
  for (size_t i = 0; i < resources.size(); ++i) resources[i] = static_cast<char>(i * 7 + i / 251);
  WriteText(dir.File("res.bin"), resources);
  Ok({"encode", "--dpi", "300,150", "--resources", dir.File("res.bin"), TestdataPath("camera.pgm"), dir.File("a.jpg")});
  EXPECT_EQ(Ok({"decode", "--resources", dir.File("back.bin"), dir.File("a.jpg"), dir.File("a.pgm")}).out,
            "512x512 colors=1 dpi=300,150 resources=40000\n");
  EXPECT_EQ(ReadText(dir.File("back.bin")), resources);
}

// More lines than a signed 16-bit height holds, plain and ASCII85: the
// decoded image matches the source and what djpeg shows; thumb (which
// fetches at most 32767 lines at a time) gives every line too.
TEST(RoundTrip, TallImageMatchesDjpeg) {
  TempDir dir;
  const Image tall = Tiled(LoadTestImage("coffee.ppm"), 16, 40000);
  WritePNM(dir.File("tall.ppm"), tall);
  Ok({"encode", "--quality", "6", dir.File("tall.ppm"), dir.File("plain.jpg")});
  Ok({"encode", "--quality", "6", "--ascii85", dir.File("tall.ppm"), dir.File("text.a85")});
  Ok({"decode", dir.File("plain.jpg"), dir.File("plain.pnm")});
  Ok({"decode", "--ascii85", dir.File("text.a85"), dir.File("text.pnm")});
  Ok({"thumb", "--quiet", dir.File("plain.jpg"), dir.File("thumb.pnm")});
  EXPECT_EQ(ReadText(dir.File("text.pnm")), ReadText(dir.File("plain.pnm")));
  EXPECT_EQ(ReadText(dir.File("thumb.pnm")), ReadText(dir.File("plain.pnm")));
  const Image back = LoadPNM(dir.File("plain.pnm"));
  EXPECT_GE(Psnr(tall, back), 35);
  EXPECT_GE(Psnr(DjpegDecode(ReadFileBytes(dir.File("plain.jpg"))), back), 40.0);
}

}  // namespace
}  // namespace tool_test
