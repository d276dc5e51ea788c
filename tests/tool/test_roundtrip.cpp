// test_roundtrip.cpp - the commands end to end on real photographs: every
// route an image takes (plain, ASCII85 and a85decode, thumb, worker threads,
// djpeg) gives the same pixels back, images taller than a signed 16-bit
// height included; resolution and resources come back out of the file.
#include "tool_runner.h"

namespace tool_test {
namespace {

TEST(RoundTrip, EveryRouteGivesTheSamePixels) {
  TempDir tall;  // 40000 lines
  WritePNM(tall.File("tall.ppm"), Tiled(LoadTestImage("coffee.ppm"), 16, 40000));
  const struct { std::string in; int colors; double minPsnr; } photos[] = {
      {TestdataPath("camera.pgm"), 1, 33}, {TestdataPath("coffee.ppm"), 3, 30},
      {TestdataPath("chelsea_cmyk.pam"), 4, 28}, {tall.File("tall.ppm"), 3, 30}};
  for (const auto& photo : photos) {
    const std::string& in = photo.in;
    SCOPED_TRACE(in);
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
    // djpeg agrees (it leaves four components untransformed).
    EXPECT_TRUE(photo.colors == 4 || Psnr(DjpegDecode(ReadFileBytes(dir.File("plain.jpg"))), back) >= 40);
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

}  // namespace
}  // namespace tool_test
