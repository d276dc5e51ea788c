// test_colour_layouts.cpp - files of ours that other programs must show
// right, checked against the programs themselves, run at test time: CMYK in
// the portable layout (jpegtool encode --portable, through the host write
// stream and the encode filter) in djpeg, ImageMagick, Pillow and
// Ghostscript, and read back by our decode filter, read stream, thumbnail
// interface and jpegtool decode; untransformed RGB (marker mode 2) in
// djpeg, ImageMagick and Pillow. Every figure is printed.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "support/decode_paths.h"
#include "support/our_codec.h"

namespace {

using namespace testing_support;

int Tool(const std::string& args) {
  return std::system((std::string(JPEGTOOL_PATH) + " " + args + " >/dev/null 2>&1").c_str());
}


struct Layout {
  const char* name;
  const char* image;    // in testdata/
  const char* options;  // jpegtool encode options besides --level 6
  double floor;         // least PSNR in every peer
};
const Layout kLayouts[] = {{"CMYK portable", "chelsea_cmyk.pam", "--portable", 40},
                           {"RGB mode 2", "coffee.ppm", "--marker-mode 2", 40}};

Bytes EncodeWithTool(const Layout& l) {
  TempDir dir;  // each test in a folder of its own: CTest runs them side by side
  const std::string out = dir.File("out.jpg");
  EXPECT_EQ(Tool(std::string("encode --quiet --level 6 ") + l.options + " " + TestdataPath(l.image) + " " + out), 0);
  return ReadFileBytes(out);
}

// What a program shows against the source: the samples themselves, or for
// CMYK shown as RGB (djpeg), the source turned to RGB the same way.
double PsnrShown(const Image& shown, const Image& source) {
  return Psnr(shown, shown.colors == source.colors ? source : InkToRgb(source));
}

TEST(ColourLayouts, OtherProgramsShowTheSource) {
  const struct { const char* name; PeerReader reader; } peers[] = {{"djpeg", PeerReader::kDjpeg},
                                                                   {"ImageMagick", PeerReader::kMagick},
                                                                   {"Pillow", PeerReader::kPillow},
                                                                   {"Ghostscript", PeerReader::kGhostscript}};
  for (const Layout& l : kLayouts) {
    const Image source = LoadTestImage(l.image);
    const Bytes jpeg = EncodeWithTool(l);
    for (const auto& p : peers) {
      if (p.reader == PeerReader::kGhostscript && source.colors != 4) continue;  // placed as CMYK only
      const double psnr = PsnrShown(PeerRead(p.reader, jpeg, source.width, source.height), source);
      std::printf("%-14s %-12s %6.2f dB\n", l.name, p.name, psnr);
      EXPECT_GE(psnr, l.floor) << l.name << " in " << p.name;
    }
  }
}

// The portable layout comes back as the CMYK given (0 = no ink), and mode-2
// RGB as RGB (also as written before, with a JFIF segment), on every decode
// path; the portable mode is mode 0 for grey, two components and RGB.
TEST(ColourLayouts, OurDecodersReadThemBack) {
  for (const Layout& l : kLayouts) {
    const Image source = LoadTestImage(l.image);
    const Bytes jpeg = EncodeWithTool(l);
    for (DecodePath path : {DecodePath::kFilter, DecodePath::kReadStream, DecodePath::kThumbnail}) {
      const PathVerdict v = DecodeThrough(path, jpeg);
      ASSERT_TRUE(v.ok) << v.message;
      EXPECT_GE(Psnr(v.lines, source.pixels), 40) << l.name << " " << PathName(path);
    }
    if (source.colors == 3) {  // mode 2 as written before, with JFIF: our colour segment still decides
      const Bytes before = Insert(jpeg, 2, Segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 2, 0, 0, 1, 0, 1, 0, 0}));
      EXPECT_GE(Psnr(DecodeThrough(DecodePath::kFilter, before).lines, source.pixels), 40);
    }
    TempDir dir;
    WriteFileBytes(dir.File("in.jpg"), jpeg);
    ASSERT_EQ(Tool("decode --quiet " + dir.File("in.jpg") + " " + dir.File("out.pam")), 0);
    EXPECT_GE(Psnr(LoadPNM(dir.File("out.pam")), source), 40) << l.name << " jpegtool decode";
  }
  for (int colors : {1, 2, 3}) {
    const Image img = SyntheticImage(33, 17, colors);
    EXPECT_EQ(OurEncode(img, {0.5, true, false, 3, {}}).jpeg, OurEncode(img, {0.5, true, false, 0, {}}).jpeg);
  }
}

}  // namespace
