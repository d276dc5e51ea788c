// bench_table.cpp - the "table" suite: encode and decode, 4:2:0 and 4:4:4,
// on three images (the benchmark photograph at quality 75, the detailed
// photograph at quality 90, a noise-rich synthetic image at quality 75) and
// a progressive decode of the detailed photograph: our MP/s against
// libjpeg-turbo with its SIMD code and without it, in one run.
//
// libjpeg-turbo decides once per process whether to use SIMD (it reads
// JSIMD_FORCENONE on first use), so its plain-C timings come from a child:
// jpegbench re-executes itself with JSIMD_FORCENONE=1 and --peer-times, and
// the child prints one "peer <row> <seconds>" line per row.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "jpeg_options.h"

namespace {

volatile unsigned gSink;

// One row of the table. Our encoder runs at the QFactor near the peer's
// quality (QFactorForQuality, times 0.76 when subsampled and blended, as
// for the headline cases); decode rows read the peer's file.
struct Row {
  const char* name;
  const bench::Image& (*image)();
  int quality;
  bool encode;
  bool subsample420;
  bool progressive;
};

const Row kRows[] = {
    {"photo enc 4:2:0", bench::BigPhoto, 75, true, true, false},
    {"photo enc 4:4:4", bench::BigPhoto, 75, true, false, false},
    {"photo dec 4:2:0", bench::BigPhoto, 75, false, true, false},
    {"photo dec 4:4:4", bench::BigPhoto, 75, false, false, false},
    {"detail enc 4:2:0", bench::DetailedPhoto, 90, true, true, false},
    {"detail enc 4:4:4", bench::DetailedPhoto, 90, true, false, false},
    {"detail dec 4:2:0", bench::DetailedPhoto, 90, false, true, false},
    {"detail dec 4:4:4", bench::DetailedPhoto, 90, false, false, false},
    {"detail dec prog", bench::DetailedPhoto, 90, false, true, true},
    {"noise enc 4:2:0", bench::NoiseImage, 75, true, true, false},
    {"noise enc 4:4:4", bench::NoiseImage, 75, true, false, false},
    {"noise dec 4:2:0", bench::NoiseImage, 75, false, true, false},
    {"noise dec 4:4:4", bench::NoiseImage, 75, false, false, false},
};
constexpr int kRowCount = sizeof kRows / sizeof kRows[0];

double QFactorOf(const Row& r) {
  const double q = JPEGQFactorForQuality(r.quality);
  return r.subsample420 ? 0.76 * q : q;
}

// The compressed input of a decode row, made once per row.
const std::vector<uint8_t>& DecodeInput(int row) {
  static std::vector<uint8_t> files[kRowCount];
  const Row& r = kRows[row];
  if (files[row].empty())
    files[row] = bench::LibjpegEncode(r.image(), r.quality, r.subsample420, r.progressive);
  return files[row];
}

void RunOurs(int row) {
  const Row& r = kRows[row];
  if (r.encode) {
    gSink = static_cast<unsigned>(bench::EncodeOursAt(r.image(), QFactorOf(r), r.subsample420));
  } else {
    gSink = bench::DecodeOurs(DecodeInput(row));
  }
}

// libjpeg-turbo with its defaults: fancy upsampling on decode.
void RunPeer(int row) {
  const Row& r = kRows[row];
  if (r.encode) {
    gSink = static_cast<unsigned>(bench::LibjpegEncode(r.image(), r.quality, r.subsample420).size());
  } else {
    gSink = bench::DecodeLibjpeg(DecodeInput(row), true);
  }
}

double TimePeer(int row) {
  return bench::BestSeconds([&] { RunPeer(row); });
}

// Best times of ours and the peer's, their runs alternating so that both
// see the same machine load (the figures are best-of, about 2 s in all).
void TimeBoth(int row, double* ours, double* peer) {
  *ours = *peer = 1e30;
  double total = 0;
  for (int round = 0; round < 5 || (total < 2.0 && round < 200); round++) {
    const double a = bench::BestSeconds([&] { RunOurs(row); }, 1, 0);
    const double b = bench::BestSeconds([&] { RunPeer(row); }, 1, 0);
    total += a + b;
    if (a < *ours) *ours = a;
    if (b < *peer) *peer = b;
  }
}

// Runs this program again with libjpeg-turbo's SIMD off and collects its
// peer timings; a case the child did not report stays 0.
void TimePeerWithoutSimd(double* seconds) {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return;
  self[n] = '\0';
  const std::string command = std::string("JSIMD_FORCENONE=1 '") + self + "' --peer-times";
  FILE* child = popen(command.c_str(), "r");
  if (child == nullptr) return;
  char line[256];
  while (std::fgets(line, sizeof line, child) != nullptr) {
    int index = -1;
    double s = 0;
    if (std::sscanf(line, "peer %d %lf", &index, &s) == 2 && index >= 0 && index < kRowCount)
      seconds[index] = s;
  }
  pclose(child);
}

double Rate(int row, double seconds) {
  const bench::Image& img = kRows[row].image();
  return seconds > 0 ? img.width * static_cast<double>(img.height) / 1e6 / seconds : 0;
}

void TableSuite() {
  for (const auto* img : {&bench::BigPhoto(), &bench::DetailedPhoto(), &bench::NoiseImage()})
    std::printf("  image %d x %d RGB\n", img->width, img->height);
  std::printf("  photo and noise at quality 75, detail at 90; decode reads libjpeg-turbo's file\n"
              "  (prog: its progressive script) and it decodes with its default upsampling\n");
  double ours[kRowCount], simd[kRowCount], plain[kRowCount] = {};
  for (int i = 0; i < kRowCount; i++) TimeBoth(i, &ours[i], &simd[i]);
  TimePeerWithoutSimd(plain);
  std::printf("  %-17s %10s %14s %8s %14s %8s\n", "case", "ours MP/s", "turbo SIMD", "ratio",
              "turbo no-SIMD", "ratio");
  for (int i = 0; i < kRowCount; i++) {
    std::printf("  %-17s %10.1f %14.1f %7.2fx %14.1f %7.2fx\n", kRows[i].name, Rate(i, ours[i]),
                Rate(i, simd[i]), simd[i] / ours[i], Rate(i, plain[i]),
                plain[i] > 0 ? plain[i] / ours[i] : 0.0);
  }
}

}  // namespace

void bench::PrintPeerTimes() {
  for (int i = 0; i < kRowCount; i++) std::printf("peer %d %.9f\n", i, TimePeer(i));
}

int bench::RunTableRow(int row, int times) {
  if (row < 0 || row >= kRowCount) {
    std::fprintf(stderr, "jpegbench: rows are 0..%d\n", kRowCount - 1);
    return 2;
  }
  kRows[row].image();  // the image and the decode input are made before the runs
  if (!kRows[row].encode) DecodeInput(row);
  for (int i = 0; i < times; i++) RunOurs(row);
  std::printf("%s: %d runs\n", kRows[row].name, times);
  return 0;
}

JPEG_BENCH_SUITE("table", TableSuite);
