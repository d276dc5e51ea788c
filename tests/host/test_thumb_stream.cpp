// test_thumb_stream.cpp - the in-memory thumbnail interface: the same lines
// as the decode filter driven directly (in batches, into lines longer than
// the decoded ones, for every colour count including two components, and
// lines up to the interface's 32767-byte limit, longer ones refused), and
// its results for a null handle, zero lines, unreadable data, data that ends
// inside the scan and lines past the end. Then damaged data on every path:
// files of ours and of peers cut at many points give the same verdict from
// the decode filter, the read stream and the thumbnail interface: success
// with the whole image when only (part of) EOI is missing, failure with the
// decoder's message when scan data is missing (for a progressive file,
// whatever is missing).
#include "host_test_util.h"
#include "jpeg_filters.h"
#include "support/decode_paths.h"
#include "support/our_codec.h"

using testing_support::DecodePath;
using testing_support::DecodeThrough;
using testing_support::LibjpegEncode;
using testing_support::PathName;
using testing_support::PathVerdict;

// Data cut inside the scan gives the lines the filter gives, and the batch
// that meets the cut answers 0, as does every later one; the rest of the
// caller's buffer (lines 3 bytes longer than decoded where a short allows)
// keeps its old contents. Lines past the end answer 0. Lines are at most
// 32767 bytes (a short): a longer one is refused at the start with its reason.
TEST(Thumbnail, DecodesLikeTheFilterNeverPastTheLine) {
  const Bytes rgb = LibjpegEncode(SyntheticImage(64, 256, 3));
  const auto ours = [](int width, int colors) { return testing_support::OurEncode(SyntheticImage(width, 3, colors)).jpeg; };
  const struct { Bytes jpeg; int colors; bool whole; int refusedLine = 0; } cases[] = {
      {ours(32767, 1), 1, true}, {ours(10922, 3), 3, true},  {ours(32768, 1), 1, false, 32768},
      {ours(10923, 3), 3, false, 32769}, {ours(8192, 4), 4, false, 32768},
      {LibjpegEncode(SyntheticImage(50, 33, 1)), 1, true},
      {LibjpegEncode(SyntheticImage(30, 20, 4)), 4, true},
      {testing_support::OurEncode(SyntheticImage(33, 17, 2)).jpeg, 2, true},
      // Larger than one 8192-byte piece; then data cut inside the scan.
      {testing_support::ReadFileBytes(testing_support::TestdataPath("retina.jpg")), 3, true},
      {Bytes(rgb.begin(), rgb.begin() + static_cast<long>(rgb.size() / 2)), 3, false},
  };
  short w = 0, h = 0, c = 0;
  for (const auto& [jpeg, colors, whole, refusedLine] : cases) {
    const char* data = reinterpret_cast<const char*>(jpeg.data());
    gJPEGError = 0;
    JPEGThumbHandle t = StartJPEGDecompress(data, static_cast<long>(jpeg.size()), &w, &h, &c);
    if (refusedLine != 0) {
      EXPECT_TRUE(t == nullptr && gJPEGError == 1);
      EXPECT_EQ(JPEGLastErrorMessage(), "Raster line of " + std::to_string(refusedLine) +
                                            " bytes exceeds the thumbnail interface's 32767-byte limit");
      continue;
    }
    ASSERT_TRUE(t != nullptr && c == colors) << colors;
    const int decoded = w * c, stride = decoded + (decoded <= 32764 ? 3 : 0);
    EXPECT_EQ(GetJPEGData(t, nullptr, 0, static_cast<short>(stride)), 1);  // zero lines: nothing touched
    // Batches of 7 lines (the last one shorter) into a buffer pre-filled with 0x77.
    Bytes got(size_t{1} * stride * h, 0x77), expected = got;
    std::vector<int> results;
    for (int y = 0; y < h; y += 7)
      results.push_back(GetJPEGData(t, reinterpret_cast<char*>(&got[size_t{1} * y * stride]),
                                    static_cast<short>(std::min(7, h - y)), static_cast<short>(stride)));
    const auto firstFailed = std::find(results.begin(), results.end(), 0);
    EXPECT_EQ(firstFailed == results.end(), whole) << colors;
    EXPECT_TRUE(std::all_of(firstFailed, results.end(), [](int r) { return r == 0; }));  // no success after a failure
    EXPECT_EQ(gJPEGError != 0, !whole);
    char past[8];
    if (whole) {
      EXPECT_EQ(GetJPEGData(t, past, 1, 8), 0);  // the image has no more lines
    } else {
      EXPECT_EQ(std::string(JPEGLastErrorMessage()).rfind("Source EOF in 8x8 block no. ", 0), 0u);
    }
    CloseJPEG(t);
    const testing_support::FilterRun direct = testing_support::RunDecodeFilter(jpeg);  // the filter's lines
    ASSERT_FALSE(direct.lines.empty());
    for (size_t y = 0; y < direct.lines.size(); y++) std::copy(direct.lines[y].begin(), direct.lines[y].end(), &expected[y * stride]);
    EXPECT_TRUE(got == expected) << "colours " << colors;
  }
  char buffer[4];
  EXPECT_EQ(GetJPEGData(nullptr, buffer, 1, 4), 0);
  CloseJPEG(nullptr);
  EXPECT_EQ(StartJPEGDecompress(reinterpret_cast<const char*>(rgb.data()), 100, &w, &h, &c), nullptr);  // cut header
  EXPECT_EQ(StartJPEGDecompress(nullptr, 10, &w, &h, &c), nullptr);
}

namespace {

// Offsets to cut at: every segment start, 40 points spread over the scan
// data, and each of the last 6 bytes.
std::vector<size_t> CutPoints(const Bytes& jpeg) {
  std::vector<size_t> cuts;
  const size_t data = testing_support::SegmentEnd(jpeg, testing_support::FindMarker(jpeg, 0xDA));
  for (size_t i = 2; i < data; i++) if (jpeg[i] == 0xFF && jpeg[i + 1] != 0) cuts.push_back(i);
  for (size_t k = 0; k < 40; k++) cuts.push_back(data + (jpeg.size() - 6 - data) * k / 40);
  for (size_t i = jpeg.size() - 6; i <= jpeg.size(); i++) cuts.push_back(i);
  return cuts;
}

}  // namespace

// Only the last bytes (EOI, and the final byte of scan data when that holds
// nothing but fill bits) may go without a failure; whatever the cut, the
// three paths agree, and a success delivers the whole image. A progressive
// image is decoded whole before its first line, so a cut anywhere, even
// where only EOI is missing (a cut between scans looks the same, and later
// scans may refine every coefficient), fails.
TEST(DamagedData, EveryPathGivesTheSameVerdictAtEveryCut) {
  const Image photo = testing_support::Crop(testing_support::LoadTestImage("coffee.ppm"), 120, 72);
  testing_support::OurEncodeOptions subsampled;
  subsampled.subsample = true;
  const struct { const char* name; Bytes jpeg; bool progressive = false; } files[] = {
      {"ours", testing_support::OurEncode(photo, subsampled).jpeg},  // restart markers every MCU row
      {"reference 4:2:0", LibjpegEncode(photo)},
      {"reference grey, restarts", LibjpegEncode(SyntheticImage(77, 41, 1), {75, 1, 1, 3})},
      {"peer CMYK", testing_support::PeerEncode(testing_support::PeerWriter::kMagickCmyk, photo)},
      {"progressive, restarts", LibjpegEncode(photo, {75, 2, 2, 3, 0, false, true}), true}};
  for (const auto& f : files) {
    const PathVerdict whole = DecodeThrough(DecodePath::kFilter, f.jpeg);
    ASSERT_TRUE(whole.ok) << f.name << ": " << whole.message;
    for (size_t cut : CutPoints(f.jpeg)) {
      SCOPED_TRACE(std::string(f.name) + " cut at " + std::to_string(cut) + " of " + std::to_string(f.jpeg.size()));
      const Bytes jpeg(f.jpeg.begin(), f.jpeg.begin() + static_cast<long>(cut));
      const PathVerdict filter = DecodeThrough(DecodePath::kFilter, jpeg);
      for (DecodePath path : {DecodePath::kReadStream, DecodePath::kThumbnail}) {
        const PathVerdict other = DecodeThrough(path, jpeg);
        EXPECT_EQ(other.ok, filter.ok) << PathName(path);
        EXPECT_EQ(other.message, filter.message) << PathName(path);
        EXPECT_EQ(other.lines, filter.lines) << PathName(path);
      }
      if (cut == f.jpeg.size() || (cut >= f.jpeg.size() - 2 && !f.progressive)) {
        EXPECT_TRUE(filter.ok) << filter.message;  // only EOI missing
        EXPECT_EQ(filter.lines, whole.lines);
      } else if (cut < f.jpeg.size() - 4 || f.progressive) {
        EXPECT_FALSE(filter.ok);
      }
    }
  }
}
