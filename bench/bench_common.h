// bench_common.h - what every jpegbench suite shares: the suite registry,
// the benchmark photographs, a best-of-N timer and the result printer.
//
// A suite is a function registered with JPEG_BENCH_SUITE(name, fn); jpegbench
// runs every suite (or those named on its command line) and each prints its
// own lines: a label, megapixels (or megabytes) per second, and our ratio to
// the reference run in the same process.
#ifndef JPEG_BENCH_BENCH_COMMON_H
#define JPEG_BENCH_BENCH_COMMON_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace bench {

struct Image {
  int width = 0;
  int height = 0;
  int colors = 0;
  std::vector<uint8_t> pixels;  // interleaved, width * colors bytes per line
};

// The multi-megapixel benchmark photograph: testdata/retina.jpg decoded with
// libjpeg and mirrored into a 2x2 tiling (2822 x 2822 RGB, about 8 MP).
const Image& BigPhoto();
// Grey version of the same (luma of BigPhoto).
const Image& BigPhotoGrey();

// The most detailed test photograph (testdata/astronaut.ppm) mirrored into
// an 8x8 tiling: 4096 x 4096 RGB, about 16.8 MP.
const Image& DetailedPhoto();
// A noise-rich synthetic image: slow colour ramps under uniform noise of 64
// levels, 2048 x 2048 RGB, the same every run.
const Image& NoiseImage();

// Compresses `img` with libjpeg-turbo (quality, 4:2:0 when subsample420 else
// 4:4:4; its standard progressive script when progressive) into memory.
std::vector<uint8_t> LibjpegEncode(const Image& img, int quality, bool subsample420,
                                   bool progressive = false);

// Runs fn repeatedly (at least `minRuns` times and about `minSeconds`) and
// returns the best time of one run in seconds.
double BestSeconds(const std::function<void()>& fn, int minRuns = 3, double minSeconds = 1.0);

// Prints "label: X MP/s" style lines in one format.
void PrintRate(const std::string& label, double units, const char* unitName, double seconds);
void PrintRatio(const std::string& label, double ours, double theirs);

// Our codec and libjpeg-turbo on one case each (bench_encode.cpp,
// bench_decode.cpp); the table suite (bench_table.cpp) times them side by side.
// EncodeOurs: 4:2:0 is the 2x2 blended layout at QFactor 0.76, 4:4:4 the full
// resolution one at QFactor 1.0 (both near quality 75); returns the byte count.
// threads: worker threads for the filter (JPEGSetCodingThreads); 0 none.
size_t EncodeOurs(const Image& img, bool subsample420, int threads = 0);
// The same at a given QFactor (4:2:0 is still subsampled and blended).
size_t EncodeOursAt(const Image& img, double qFactor, bool subsample420);
unsigned DecodeOurs(const std::vector<uint8_t>& jpeg, int threads = 0);
// The bytes of the last EncodeOurs.
const std::vector<uint8_t>& LastEncodedOurs();
unsigned DecodeLibjpeg(const std::vector<uint8_t>& jpeg, bool fancy);

// The four headline cases of the table and threads suites.
struct HeadlineCase {
  const char* name;
  bool encode;
  bool subsample420;
};
constexpr HeadlineCase kHeadlineCases[] = {
    {"encode 4:2:0", true, true},
    {"encode 4:4:4", true, false},
    {"decode 4:2:0", false, true},
    {"decode 4:4:4", false, false},
};
constexpr int kHeadlineCaseCount = sizeof kHeadlineCases / sizeof kHeadlineCases[0];
// Megapixels of BigPhoto per second for one run of `seconds`.
double PhotoRate(double seconds);

// The child mode of the table suite: libjpeg-turbo's time for every case,
// one "peer <case> <seconds>" line each.
void PrintPeerTimes();
// Runs our side (or the peer's) of one table row `times` times and nothing
// else (for perf record); returns the exit status.
int RunTableRow(int row, int times, bool peer);

using SuiteFn = void (*)();
int RegisterSuite(const char* name, SuiteFn fn);

}  // namespace bench

#define JPEG_BENCH_SUITE(name, fn) \
  static const int jpeg_bench_suite_##fn = ::bench::RegisterSuite(name, fn)

#endif
