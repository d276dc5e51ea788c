// test_keeping.cpp - what jpegtool keeps of the user's: recompress keeps the
// segments another program wrote (ImageMagick reads the same profile and
// EXIF tags back), and decode --partial gives back the lines of a damaged
// file the way djpeg does.
#include "tool_runner.h"

namespace tool_test {
namespace {

// The profile, EXIF, comment and ICC lines of `identify -verbose`.
std::string MetadataLines(const std::string& path) {
  return RunShell("identify -verbose '" + path + "' | grep -E '^ +(Profile-|exif:|comment:|icc:)'").out;
}

// Pillow writes a JPEG carrying a three-chunk ICC profile, EXIF tags and a
// comment; recompress keeps them all, in order, and --strip drops them.
TEST(Recompress, KeepsAnotherProgramsProfileExifAndComment) {
  TempDir dir;
  WritePNM(dir.File("in.ppm"), LoadTestImage("coffee.ppm"));
  const std::string make =
      "from PIL import Image; e = Image.Exif(); e[0x010E] = 'kept text'; e[0x013B] = 'kept artist'; "
      "Image.open('" + dir.File("in.ppm") + "').save('" + dir.File("in.jpg") +
      "', icc_profile=open('/usr/share/color/icc/ghostscript/default_cmyk.icc', 'rb').read(), "
      "exif=e.tobytes(), comment=b'kept comment', quality=90)";
  ASSERT_EQ(RunShell("/usr/bin/python3 -c \"" + make + "\"").status, 0);
  const std::string before = MetadataLines(dir.File("in.jpg"));
  for (const char* line : {"Profile-icc: 187484 bytes", "exif:Artist: kept artist", "comment: kept comment"})
    ASSERT_NE(before.find(line), npos) << before;

  Ok({"recompress", "--level", "5", dir.File("in.jpg"), dir.File("out.jpg")});
  EXPECT_EQ(MetadataLines(dir.File("out.jpg")), before);
  EXPECT_GE(Psnr(LoadTestImage("coffee.ppm"), DjpegDecode(ReadFileBytes(dir.File("out.jpg")))), 30);
  Ok({"recompress", "--strip", dir.File("in.jpg"), dir.File("stripped.jpg")});
  EXPECT_EQ(MetadataLines(dir.File("stripped.jpg")), "");
}

// CMYK that Pillow wrote (inverted ink under its colour segment) stays in
// that layout: ImageMagick shows the recompressed file as it showed the input.
TEST(Recompress, KeepsAnotherProgramsCmykReadable) {
  TempDir dir;
  WritePNM(dir.File("in.ppm"), LoadTestImage("coffee.ppm"));
  const std::string make = "from PIL import Image; Image.open('" + dir.File("in.ppm") +
                           "').convert('CMYK').save('" + dir.File("in.jpg") + "', quality=95)";
  ASSERT_EQ(RunShell("/usr/bin/python3 -c \"" + make + "\"").status, 0);
  Ok({"recompress", "--level", "6", dir.File("in.jpg"), dir.File("out.jpg")});
  for (const char* name : {"in", "out"})
    ASSERT_EQ(RunShell("convert " + dir.File(name + std::string(".jpg")) + " " + dir.File(name + std::string(".pam"))).status, 0);
  EXPECT_GE(Psnr(LoadPNM(dir.File("in.pam")), LoadPNM(dir.File("out.pam"))), 40);
}

// A file cut in its 26th MCU row, and one cut in its first: the lines
// before the cut come out as djpeg gives them, and past the MCU row djpeg
// leaves half-decoded both fill with mid-grey; the damage is one line on
// stderr and the status is 2.
TEST(DecodePartial, GivesTheGoodLinesAndGreyLikeDjpeg) {
  TempDir dir;
  Ok({"encode", "--level", "4", TestdataPath("coffee.ppm"), dir.File("whole.jpg")});
  const struct { size_t bytes; const char* damage; int good; } cuts[] = {
      {30000, "(Source EOF in 8x8 block no. 5772): 200 of 400 lines decoded", 200},
      {1200, "): 0 of 400 lines decoded", 0}};
  for (const auto& cut : cuts) {
    SCOPED_TRACE(cut.bytes);
    WriteText(dir.File("cut.jpg"), ReadText(dir.File("whole.jpg")).substr(0, cut.bytes));
    const ToolResult result = RunTool({"decode", "--partial", dir.File("cut.jpg"), dir.File("out.ppm")});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.err.rfind("jpegtool: decode: damaged input (", 0), 0u) << result.err;
    EXPECT_NE(result.err.find(std::string(cut.damage) + ", the rest filled with grey\n"), npos) << result.err;
    RunShell("djpeg -pnm -nosmooth -outfile '" + dir.File("djpeg.ppm") + "' '" + dir.File("cut.jpg") + "'");
    const Image ours = LoadPNM(dir.File("out.ppm")), theirs = LoadPNM(dir.File("djpeg.ppm"));
    ASSERT_EQ(ours.pixels.size(), theirs.pixels.size());
    const size_t good = cut.good * ours.width * 3, past = (cut.good + 8) * ours.width * 3;
    if (good > 0) {
      EXPECT_GE(Psnr(Bytes(ours.pixels.begin(), ours.pixels.begin() + good),
                     Bytes(theirs.pixels.begin(), theirs.pixels.begin() + good)), 45);
    }
    EXPECT_TRUE(std::equal(ours.pixels.begin() + past, ours.pixels.end(), theirs.pixels.begin() + past));
  }
}

}  // namespace
}  // namespace tool_test
