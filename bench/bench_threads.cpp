// bench_threads.cpp - the "threads" suite: the filters coding restart
// intervals on worker threads (JPEGSetCodingThreads) against the same
// filters on the caller's thread alone, and against libjpeg-turbo (with its
// SIMD) doing the same job, in one run. The decode cases read our own
// files, which restart every MCU row; libjpeg-turbo decodes the same files.
// The speed-up depends on free cores: on a machine shared with other work
// the figures fall toward 1.
#include <cstdio>
#include <vector>

#include "bench_common.h"

namespace {

volatile unsigned gSink;

using Case = bench::HeadlineCase;

// Our own file of the photograph, restarts every MCU row.
const std::vector<uint8_t>& OurFile(bool subsample420) {
  static std::vector<uint8_t> files[2];
  std::vector<uint8_t>& file = files[subsample420 ? 1 : 0];
  if (file.empty()) {
    bench::EncodeOurs(bench::BigPhoto(), subsample420);
    file = bench::LastEncodedOurs();
  }
  return file;
}

void RunOurs(const Case& c, int threads) {
  if (c.encode) {
    gSink = static_cast<unsigned>(bench::EncodeOurs(bench::BigPhoto(), c.subsample420, threads));
  } else {
    gSink = bench::DecodeOurs(OurFile(c.subsample420), threads);
  }
}

void RunPeer(const Case& c) {
  if (c.encode) {
    gSink = static_cast<unsigned>(bench::LibjpegEncode(bench::BigPhoto(), 75, c.subsample420).size());
  } else {
    gSink = bench::DecodeLibjpeg(OurFile(c.subsample420), true);
  }
}

double Rate(double seconds) { return bench::PhotoRate(seconds); }

// Best times, the three runs alternating so that all see the same load.
void TimeCase(const Case& c, int threads, double* one, double* many, double* peer) {
  *one = *many = *peer = 1e30;
  for (int round = 0; round < 5; round++) {
    const double a = bench::BestSeconds([&] { RunOurs(c, 0); }, 1, 0);
    const double b = bench::BestSeconds([&] { RunOurs(c, threads); }, 1, 0);
    const double p = bench::BestSeconds([&] { RunPeer(c); }, 1, 0);
    if (a < *one) *one = a;
    if (b < *many) *many = b;
    if (p < *peer) *peer = p;
  }
}

void ThreadsSuite() {
  constexpr int kThreads = 2;
  const bench::Image& img = bench::BigPhoto();
  std::printf("  image %d x %d RGB; %d worker threads; libjpeg-turbo with SIMD, one thread\n",
              img.width, img.height, kThreads);
  std::printf("  %-14s %12s %12s %9s %12s %14s\n", "case", "1 thread", "workers", "speed-up",
              "turbo SIMD", "ratio workers");
  for (const Case& c : bench::kHeadlineCases) {
    double one = 0, many = 0, peer = 0;
    TimeCase(c, kThreads, &one, &many, &peer);
    std::printf("  %-14s %7.1f MP/s %7.1f MP/s %8.2fx %7.1f MP/s %13.2fx\n", c.name, Rate(one),
                Rate(many), one / many, Rate(peer), peer / many);
  }
}

}  // namespace

JPEG_BENCH_SUITE("threads", ThreadsSuite);
