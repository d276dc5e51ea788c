// test_parallel.cpp - the filters with worker threads against the same
// filters without them: identical bytes from the encoder, identical lines,
// verdicts and messages from the decoder, on whole, peer and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "jpeg_filters.h"
#include "support/decode_paths.h"
#include "support/our_codec.h"
#include "support/test_support.h"

namespace {

using testing_support::Bytes;
using testing_support::FilterRun;
using testing_support::Image;
using testing_support::LibjpegEncode;
using testing_support::LibjpegOptions;
using testing_support::OurEncode;
using testing_support::OurEncodeOptions;
using testing_support::RunDecodeFilter;

void ExpectSameDecode(const Bytes& jpeg, const std::string& what, std::initializer_list<int> threads = {2},
                      size_t piece = 4096) {
  const FilterRun serial = RunDecodeFilter(jpeg, {0, piece});
  for (int t : threads) {
    const FilterRun parallel = RunDecodeFilter(jpeg, {t, piece});
    EXPECT_TRUE(parallel.Key() == serial.Key()) << what << ", " << t << " threads: \"" << parallel.message << "\"";
  }
}

// Where the file's restart markers stand.
std::vector<size_t> RestartMarkers(const Bytes& jpeg) {
  std::vector<size_t> markers;
  for (size_t i = 0; i + 1 < jpeg.size(); i++) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] >= 0xD0 && jpeg[i + 1] <= 0xD7) markers.push_back(i);
  }
  return markers;
}

Image Photo(int width, int height, const char* file = "coffee.ppm") {
  return testing_support::Tiled(testing_support::LoadTestImage(file), width, height);
}
Image Grey(int width, int height) { return Photo(width, height, "camera.pgm"); }

struct EncodeCase {
  std::string name;
  Image image;
  OurEncodeOptions options;
};

// Named images, then every line path of the encoder: 1 to 4 components,
// with and without subsampling, blending and colour transform, sizes that
// end strips and blocks early.
std::vector<EncodeCase> EncodeCases() {
  const OurEncodeOptions subsampled{0.76, true, false, 0, {}, 0}, blended{0.3, true, true, 0, {}, 0},
      coarse{2.5, false, false, 0, {}, 0}, moded{0.76, false, false, 2, {}, 0};
  std::vector<EncodeCase> cases = {
      {"rgb 4:4:4", Photo(301, 203), {}},
      {"rgb 4:2:0 blended", Photo(517, 141), blended},
      {"grey", Grey(333, 250), {}},
      {"grey one row", Grey(1000, 5), {}},
      {"one column", Photo(1, 300), coarse},
      {"wide", Photo(12000, 40), subsampled},
  };
  const OurEncodeOptions layouts[] = {{}, subsampled, blended, moded};
  for (int colors = 1; colors <= 4; colors++)
    for (size_t l = 0; l < 4; l++)
      for (const auto& [w, h] : {std::make_pair(37, 29), std::make_pair(211, 70)})
        cases.push_back({std::to_string(colors) + " colours, layout " + std::to_string(l) + ", " + std::to_string(w),
                         testing_support::SyntheticImage(w, h, colors, 11), layouts[l]});
  return cases;
}

// The encoder's bytes, then the decoder's lines of them, as one thread's.
TEST(Parallel, SameBytesAndLinesAsOneThread) {
  for (const EncodeCase& c : EncodeCases()) {
    OurEncodeOptions options = c.options;
    const auto serial = OurEncode(c.image, options);
    ASSERT_TRUE(serial.ok) << c.name << ": " << serial.message;
    for (int threads : {2, 3, 8}) {
      options.threads = threads;
      const auto parallel = OurEncode(c.image, options);
      EXPECT_TRUE(parallel.ok && parallel.jpeg == serial.jpeg) << c.name << " with " << threads << " threads";
    }
    ExpectSameDecode(serial.jpeg, c.name, {2});
    ExpectSameDecode(serial.jpeg, c.name + ", 700-byte pieces", {5}, 700);
  }
}

// Peer files: restarts every MCU row and every few MCUs (the workers take
// the files whose strips start intervals; the others decode serially).
TEST(ParallelDecode, PeerFilesWithRestarts) {
  const LibjpegOptions cases[] = {
      {75, 2, 2, 0, 1}, {90, 1, 1, 0, 2}, {75, 2, 1, 8, 0}, {75, 2, 2, 7, 0}, {75, 2, 2, 0, 0},
  };
  for (const LibjpegOptions& c : cases) {
    ExpectSameDecode(LibjpegEncode(Photo(640, 480), c), "restarts every " + std::to_string(c.restartInterval) +
                                                            " MCUs, " + std::to_string(c.restartInRows) + " rows");
  }
  ExpectSameDecode(LibjpegEncode(Grey(200, 300), {75, 1, 1, 5, 0}), "grey every 5 MCUs", {3});
}

// The restart marker at m lost, replaced by EOI, or with garbage before it:
// a few bytes and fill bytes, or runs long enough to span the workers'
// 32,767-byte windows.
Bytes EditMarker(const Bytes& jpeg, size_t m, int edit) {
  Bytes b = jpeg;
  const auto at = b.begin() + static_cast<long>(m);
  if (edit == 0) b.erase(at, at + 2);
  if (edit == 1) b[m + 1] = 0xD9;
  if (edit == 2) b.insert(at, {0x12, 0xFF, 0xFF});
  if (edit == 3) b.insert(at, 32740, 0x00);
  if (edit == 4) b.insert(at, 70001, 0x5A);
  return b;
}

// Damaged data fails (or ends) at the same line with the same message on
// every thread count: files cut short, bytes changed, and the restart
// markers RST1, RST3 and the last edited.
void ExpectSameVerdictsWhenDamaged(const Bytes& jpeg, bool cutsAndBytes) {
  const size_t scan = jpeg.size() / 5;  // inside the header's end or the first strip
  const size_t step = jpeg.size() / 45 + 1;
  for (size_t cut = scan; cutsAndBytes && cut < jpeg.size(); cut += step) {
    ExpectSameDecode(Bytes(jpeg.begin(), jpeg.begin() + static_cast<long>(cut)), "cut at " + std::to_string(cut));
  }
  for (size_t at = jpeg.size() / 3; cutsAndBytes && at + 2 < jpeg.size(); at += step + 34) {
    for (uint8_t value : {0x00, 0x5A, 0xFF}) {
      Bytes damaged = jpeg;
      damaged[at] = value;
      ExpectSameDecode(damaged, "byte " + std::to_string(at) + " = " + std::to_string(value));
    }
  }
  const std::vector<size_t> markers = RestartMarkers(jpeg);
  ASSERT_GE(markers.size(), 4u);
  for (size_t k : {size_t{1}, size_t{3}, markers.size() - 1}) {
    for (int edit = 0; edit < 5; edit++) {
      ExpectSameDecode(EditMarker(jpeg, markers[k], edit),
                       "edit " + std::to_string(edit) + " at restart marker " + std::to_string(k), {1, 2, 5, 8});
    }
  }
}

// The small image makes one strip a job, the tall one several; in the
// 1 MB file each strip spans a window (40 KB), and a restart marker is lost.
TEST(ParallelDecode, DamagedFilesGiveTheSameVerdict) {
  OurEncodeOptions subsampled{0.76, true, false, 0, {}, 0};
  ExpectSameVerdictsWhenDamaged(OurEncode(Photo(200, 120), subsampled).jpeg, true);
  ExpectSameVerdictsWhenDamaged(OurEncode(Photo(160, 520)).jpeg, true);
  subsampled.qFactor = 0.2;
  ExpectSameVerdictsWhenDamaged(OurEncode(Photo(640, 480), subsampled).jpeg, false);
  const Bytes big = OurEncode(Photo(8000, 400), subsampled).jpeg;
  ASSERT_GE(big.size(), 1000000u);
  const std::vector<size_t> markers = RestartMarkers(big);
  for (size_t k : {size_t{3}, markers.size() / 2, markers.size() - 2}) {
    ExpectSameDecode(EditMarker(big, markers[k], 0), "1 MB file, restart marker " + std::to_string(k) + " lost",
                     {1, 2, 5, 8});
  }
}

// A target that fails part way, and an encode closed early, fail with the
// one-thread message, the target holding the same bytes; workers take the
// raster bytes of the strips in their ring first (jpeg_filters.h), as many
// from run to run.
TEST(ParallelEncode, FailuresGiveTheSameMessageAndTarget) {
  const Image img = Photo(300, 400);
  const size_t all = img.pixels.size();
  const std::pair<long, size_t> cases[] = {{4096 * 3, all}, {20000, all}, {-1, all / 2 + 5}};
  for (const auto& c : cases) {
    OurEncodeOptions o;
    o.failAfter = c.first, o.stop = c.second;
    const auto serial = OurEncode(img, o);
    EXPECT_NE(serial.message, "");
    for (int threads : {2, 8}) {
      o.threads = threads;
      const auto first = OurEncode(img, o), again = OurEncode(img, o);
      const std::string what = "failing after " + std::to_string(c.first) + ", " + std::to_string(threads) + " threads";
      EXPECT_EQ(first.message, serial.message) << what;
      EXPECT_TRUE(first.jpeg == serial.jpeg) << what;
      EXPECT_GE(first.taken, serial.taken) << what;
      EXPECT_EQ(again.taken, first.taken) << what;
    }
  }
}

}  // namespace
