// test_progressive.cpp - jpegtool on progressive files other programs write
// (cjpeg 4:2:0 with restart markers, ImageMagick CMYK): decode and thumb
// write exactly the lines the decode filter gives; the same files cut short
// fail with the decoder's message and leave no output file.
#include <cstdio>

#include "support/decode_paths.h"
#include "tool_runner.h"

namespace {

using namespace tool_test;

TEST(ProgressiveFiles, DecodeAndThumbGiveTheFilterLines) {
  TempDir dir;
  WritePNM(dir.File("in.ppm"), Crop(LoadTestImage("coffee.ppm"), 131, 77));
  const struct { const char* name; std::string command; } peers[] = {
      {"cjpeg 4:2:0, restarts", "cjpeg -progressive -restart 3B -outfile out.jpg " + dir.File("in.ppm")},
      {"convert CMYK", "convert " + dir.File("in.ppm") + " -colorspace CMYK -interlace Plane out.jpg"}};
  for (const auto& peer : peers) {
    SCOPED_TRACE(peer.name);
    const Bytes jpeg = PeerFileFromShell(peer.command);
    WriteFileBytes(dir.File("p.jpg"), jpeg);
    const PathVerdict filter = DecodeThrough(DecodePath::kFilter, jpeg);
    ASSERT_TRUE(filter.ok) << filter.message;
    for (const char* command : {"decode", "thumb"}) {
      Ok({command, dir.File("p.jpg"), dir.File("out.pnm")});
      EXPECT_TRUE(LoadPNM(dir.File("out.pnm")).pixels == filter.lines) << command;
    }
    const size_t cuts[] = {jpeg.size() / 3, jpeg.size() - 5};
    for (const size_t cut : cuts) {
      WriteFileBytes(dir.File("cut.jpg"), Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(cut)));
      for (const std::string command : {"decode", "thumb"}) {
        std::remove(dir.File("cut.pnm").c_str());
        const ToolResult r = RunTool({command, dir.File("cut.jpg"), dir.File("cut.pnm")});
        EXPECT_EQ(r.status, 1) << command << " cut at " << cut;
        EXPECT_NE(r.err.find(command + " failed: Source EOF"), npos) << r.err;
        EXPECT_FALSE(fs::exists(dir.File("cut.pnm"))) << command << " cut at " << cut;
      }
    }
  }
}

}  // namespace
