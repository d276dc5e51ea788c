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

namespace {

volatile unsigned gSink;

// One row of the table; decode rows read the peer's file. Our encoder runs
// at `qFactor`: on the photograph the headline settings (QFactor 0.76
// subsampled and blended, 1.0 at full resolution, against quality 75); on
// the other images the QFactor whose file is about the size of the peer's
// (within 1%), so that both code about as many coefficients. The encode
// rows print both byte counts.
struct Row {
  const char* name;
  const bench::Image& (*image)();
  int quality;
  double qFactor;
  bool encode;
  bool subsample420;
  bool progressive;
};

const Row kRows[] = {
    {"photo enc 4:2:0", bench::BigPhoto, 75, 0.76, true, true, false},
    {"photo enc 4:4:4", bench::BigPhoto, 75, 1.0, true, false, false},
    {"photo dec 4:2:0", bench::BigPhoto, 75, 0, false, true, false},
    {"photo dec 4:4:4", bench::BigPhoto, 75, 0, false, false, false},
    {"detail enc 4:2:0", bench::DetailedPhoto, 90, 0.25, true, true, false},
    {"detail enc 4:4:4", bench::DetailedPhoto, 90, 0.217, true, false, false},
    {"detail dec 4:2:0", bench::DetailedPhoto, 90, 0, false, true, false},
    {"detail dec 4:4:4", bench::DetailedPhoto, 90, 0, false, false, false},
    {"detail dec prog", bench::DetailedPhoto, 90, 0, false, true, true},
    {"noise enc 4:2:0", bench::NoiseImage, 75, 0.73, true, true, false},
    {"noise enc 4:4:4", bench::NoiseImage, 75, 0.54, true, false, false},
    {"noise dec 4:2:0", bench::NoiseImage, 75, 0, false, true, false},
    {"noise dec 4:4:4", bench::NoiseImage, 75, 0, false, false, false},
};
constexpr int kRowCount = sizeof kRows / sizeof kRows[0];

// Byte counts of the last encode of each row, ours and the peer's.
unsigned gOurBytes[kRowCount], gPeerBytes[kRowCount];

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
    gSink = gOurBytes[row] = static_cast<unsigned>(bench::EncodeOursAt(r.image(), r.qFactor, r.subsample420));
  } else {
    gSink = bench::DecodeOurs(DecodeInput(row));
  }
}

// libjpeg-turbo with its defaults: fancy upsampling on decode.
void RunPeer(int row) {
  const Row& r = kRows[row];
  if (r.encode) {
    gSink = gPeerBytes[row] =
        static_cast<unsigned>(bench::LibjpegEncode(r.image(), r.quality, r.subsample420).size());
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
  std::printf("  libjpeg-turbo: photo and noise at quality 75, detail at 90; ours: QFactor 0.76 / 1.0 on\n"
              "  the photo, elsewhere files of about its size; decode reads libjpeg-turbo's file\n"
              "  (prog: its progressive script) and it decodes with its default upsampling\n");
  double ours[kRowCount], simd[kRowCount], plain[kRowCount] = {};
  for (int i = 0; i < kRowCount; i++) TimeBoth(i, &ours[i], &simd[i]);
  TimePeerWithoutSimd(plain);
  std::printf("  %-17s %10s %14s %8s %14s %8s   %s\n", "case", "ours MP/s", "turbo SIMD", "ratio",
              "turbo no-SIMD", "ratio", "KB ours/turbo");
  for (int i = 0; i < kRowCount; i++) {
    std::printf("  %-17s %10.1f %14.1f %7.2fx %14.1f %7.2fx", kRows[i].name, Rate(i, ours[i]),
                Rate(i, simd[i]), simd[i] / ours[i], Rate(i, plain[i]),
                plain[i] > 0 ? plain[i] / ours[i] : 0.0);
    if (kRows[i].encode) std::printf("   %u/%u", gOurBytes[i] / 1024, gPeerBytes[i] / 1024);
    std::printf("\n");
  }
}

}  // namespace

void bench::PrintPeerTimes() {
  for (int i = 0; i < kRowCount; i++) std::printf("peer %d %.9f\n", i, TimePeer(i));
}

int bench::RunTableRow(int row, int times, bool peer) {
  if (row < 0 || row >= kRowCount) {
    std::fprintf(stderr, "jpegbench: rows are 0..%d\n", kRowCount - 1);
    return 2;
  }
  kRows[row].image();  // the image and the decode input are made before the runs
  if (!kRows[row].encode) DecodeInput(row);
  const double best = times > 0 ? bench::BestSeconds([&] { peer ? RunPeer(row) : RunOurs(row); }, times, 0) : 0;
  std::printf("%s: %d runs of %s, best %.3f ms", kRows[row].name, times, peer ? "the peer" : "ours", best * 1e3);
  if (kRows[row].encode && times > 0) {
    peer ? RunOurs(row) : RunPeer(row);
    std::printf(", %u bytes (libjpeg-turbo %u)", gOurBytes[row], gPeerBytes[row]);
  }
  std::printf("\n");
  return 0;
}

JPEG_BENCH_SUITE("table", TableSuite);
