// test_progressive_peers.cpp - progressive files as other programs write
// them, made at test time: cjpeg in every sampling layout and grey,
// ImageMagick (-interlace Plane) in RGB and CMYK, Pillow (progressive=True)
// in RGB, grey and CMYK, each also rewritten with restart markers. Every
// host path (decode filter, read stream, thumbnail interface) delivers the
// same lines, within 40 dB of what djpeg shows. (Cut progressive files:
// tests/host/test_thumb_stream.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "support/decode_paths.h"

namespace {

using namespace testing_support;

// The source image: an odd-sized crop of the photograph (partial MCUs at
// both edges in every layout).
struct Source {
  TempDir dir;
  std::string rgb = dir.File("in.ppm");
  Source() { WritePNM(rgb, Crop(LoadTestImage("coffee.ppm"), 227, 149)); }
};

std::string Pillow(const std::string& in, const char* mode) {
  return "/usr/bin/python3 -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).convert('" +
         std::string(mode) + "').save('out.jpg', quality=85, progressive=True)\" " + in;
}

using Peer = std::pair<std::string, std::string>;  // name, and a command that writes out.jpg

std::vector<Peer> Peers(const Source& s) {
  const std::string cjpeg = "cjpeg -progressive -outfile out.jpg ";
  return {{"cjpeg 4:4:4", cjpeg + "-sample 1x1 " + s.rgb},
          {"cjpeg 4:2:2", cjpeg + "-sample 2x1 " + s.rgb},
          {"cjpeg 4:2:0", cjpeg + "-sample 2x2 " + s.rgb},
          {"cjpeg 4:4:0", cjpeg + "-sample 1x2 " + s.rgb},
          {"cjpeg 4:1:1", cjpeg + "-sample 4x1 " + s.rgb},
          {"cjpeg grey", cjpeg + "-grayscale " + s.rgb},
          {"convert RGB", "convert " + s.rgb + " -interlace Plane out.jpg"},
          {"convert CMYK", "convert " + s.rgb + " -colorspace CMYK -interlace Plane out.jpg"},
          {"Pillow RGB", Pillow(s.rgb, "RGB")},
          {"Pillow grey", Pillow(s.rgb, "L")},
          {"Pillow CMYK", Pillow(s.rgb, "CMYK")}};
}

// The same coefficients and progression with a restart marker every
// `interval` MCUs (jpegtran keeps the coefficients and the colour segments).
std::string WithRestarts(const std::string& command, int interval) {
  return command + " && jpegtran -copy all -progressive -restart " + std::to_string(interval) +
         "B -outfile r.jpg out.jpg && mv r.jpg out.jpg";
}

// Our lines as djpeg shows them: CMYK (0 = no ink) turned to RGB its way.
Image Shown(const Bytes& lines, const Image& like) {
  const Image ours{like.width, like.height, static_cast<int>(lines.size() / (size_t{1} * like.width * like.height)), lines};
  return ours.colors == 4 ? InkToRgb(ours) : ours;
}

TEST(ProgressivePeers, EveryPathMatchesTheReferenceDecoder) {
  const Source source;
  for (const auto& [peerName, command] : Peers(source)) {
    for (const int restart : {0, 3}) {
      const std::string name = peerName + (restart ? ", restart every 3 MCUs" : "");
      SCOPED_TRACE(name);
      const Bytes jpeg = PeerFileFromShell(restart ? WithRestarts(command, restart) : command);
      ASSERT_FALSE(Markers(jpeg, 0xC2).empty());                // SOF2
      ASSERT_EQ(Markers(jpeg, 0xD0).empty(), restart == 0);  // RST0
      const Image reference = DjpegDecode(jpeg);
      const PathVerdict filter = DecodeThrough(DecodePath::kFilter, jpeg);
      ASSERT_TRUE(filter.ok) << filter.message;
      const double psnr = Psnr(Shown(filter.lines, reference), reference);
      std::printf("%-40s %6.2f dB\n", name.c_str(), psnr);
      EXPECT_GE(psnr, 40);
      for (DecodePath path : {DecodePath::kReadStream, DecodePath::kThumbnail}) {
        const PathVerdict other = DecodeThrough(path, jpeg);
        EXPECT_TRUE(other.ok) << PathName(path) << ": " << other.message;
        EXPECT_TRUE(other.lines == filter.lines) << PathName(path);
      }
    }
  }
}

}  // namespace
