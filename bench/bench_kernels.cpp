// bench_kernels.cpp - the "kernels" suite: every hot kernel of the SIMD
// table (simd/kernels.h) at every level this CPU runs, in nanoseconds per 64
// pixels (one 8x8 block, or 64 pixels of a colour line). The inputs are
// photograph-like: smooth gradients with noise for the samples, dequantized
// blocks with the zero runs of a quality-75 stream for the inverse DCT.
// Each figure is the best of many passes over a working set that stays in
// the first-level cache, so it measures the kernel, not memory.
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "bench/bench_common.h"
#include "decode/decoder.h"
#include "encode/encoder.h"
#include "simd/kernels.h"

namespace {

constexpr int kBlocks = 64;       // blocks per pass
constexpr int kLinePixels = 512;  // pixels per colour line
constexpr int kRepeats = 64;      // passes per timed run

// Sample rows of a smooth image with noise, kBlocks blocks side by side.
std::vector<uint8_t> SampleStrip(std::mt19937& rng) {
  std::vector<uint8_t> strip(8 * 8 * kBlocks);
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8 * kBlocks; x++)
      strip[y * 8 * kBlocks + x] = static_cast<uint8_t>((x * 3 + y * 5) / 4 % 200 + rng() % 40);
  return strip;
}

// Dequantized blocks as a quality-75 stream leaves them: a large DC, the
// low frequencies mostly set, the high ones mostly zero (so lastCol varies).
// Blocks within row 0 or column 0 never reach the kernel (the decoder has
// short cuts for them), so every block here has coefficient (1, 1). The
// scale factors are those of the decoder's tables (the order does not matter
// here).
std::vector<int32_t> CoefficientBlocks(std::mt19937& rng, std::vector<int32_t>& lastCols) {
  std::vector<int32_t> blocks(64 * kBlocks, 0);
  lastCols.assign(kBlocks, 0);
  for (int k = 0; k < kBlocks; k++) {
    int32_t* b = &blocks[64 * k];
    const int extent = 3 + static_cast<int>(rng() % 7);  // anti-diagonals 0 .. extent - 1 in use
    for (int n = 0; n < 64; n++) {
      const int u = n >> 3, v = n & 7;
      if (n == 0 || n == 9 || (u + v < extent && rng() % 3 != 0)) {
        const int32_t level = (static_cast<int32_t>(rng() % 40) - 20) | 1;  // odd: never zero
        b[n] = level * 16 * static_cast<int32_t>(DCTDQScale[n]);
        if (b[n] != 0 && v > lastCols[k]) lastCols[k] = v;
      }
    }
    b[0] += (128 << 18) + (1 << 17);  // the level shift and rounding on the DC
  }
  return blocks;
}

// Prints one line: the kernel at every level, ns per 64 pixels.
void PrintKernel(const char* name, const std::vector<double>& nsPerUnit) {
  std::printf("  %-22s", name);
  for (int32_t level = 0; level < kDCTSimdLevels; level++) {
    if (nsPerUnit[level] > 0)
      std::printf("  %s %6.1f", DCTSimdLevelName(level), nsPerUnit[level]);
  }
  std::printf("   ns/64 px\n");
}

// Times fn(kernels) at every runnable level; `units` blocks of 64 pixels per call.
template <class Fn>
void TimeKernel(const char* name, double units, Fn fn) {
  std::vector<double> ns(kDCTSimdLevels, 0);
  for (int32_t level = 0; level < kDCTSimdLevels; level++) {
    const DCTKernels* k = DCTKernelsAt(level);
    if (k == nullptr) continue;
    const double s = bench::BestSeconds([&] { for (int i = 0; i < kRepeats; i++) fn(*k); }, 5, 0.25);
    ns[level] = s * 1e9 / (units * kRepeats);
  }
  PrintKernel(name, ns);
}

void KernelsSuite() {
  std::mt19937 rng(1);
  const std::vector<uint8_t> strip = SampleStrip(rng);
  const int32_t stride = 8 * kBlocks;
  std::vector<int32_t> coef(64 * kBlocks);
  std::vector<uint32_t> tFlipped(64), twoTFlipped(64);
  for (int n = 0; n < 64; n++) {
    tFlipped[n] = (16 * DCTEQScale[n]) ^ 0x80000000u;
    twoTFlipped[n] = (2 * 16 * DCTEQScale[n]) ^ 0x80000000u;
  }
  volatile uint64_t sink = 0;
  TimeKernel("forward DCT", kBlocks, [&](const DCTKernels& k) {
    for (int b = 0; b < kBlocks; b++) k.forwardDCT(&coef[64 * b], &strip[8 * b], stride);
  });
  TimeKernel("forward DCT + mask", kBlocks, [&](const DCTKernels& k) {
    uint64_t m = 0;
    for (int b = 0; b < kBlocks; b++) m ^= k.forwardDCTMask(&coef[64 * b], &strip[8 * b], stride, tFlipped.data(), twoTFlipped.data());
    sink = sink + m;
  });

  std::vector<int32_t> lastCols;
  const std::vector<int32_t> blocks = CoefficientBlocks(rng, lastCols);
  std::vector<int32_t> work(blocks.size());
  std::vector<uint8_t> samples(8 * 8 * kBlocks);
  // The kernel leaves its block modified, so each pass starts from a copy
  // (the copy's time, the same at every level, is in the figure).
  TimeKernel("inverse DCT", kBlocks, [&](const DCTKernels& k) {
    work = blocks;
    for (int b = 0; b < kBlocks; b++) k.inverseDCT(&work[64 * b], &samples[8 * b], stride, lastCols[b]);
  });

  std::vector<uint8_t> rgb(3 * kLinePixels + 16), y(kLinePixels), cb(kLinePixels), cr(kLinePixels);
  for (int i = 0; i < 3 * kLinePixels; i++) rgb[i] = strip[i % strip.size()];
  DCTState enc{}, encPairs{};
  std::vector<uint32_t> encTables(6 * 512), pairTables(6 * 512);
  uint32_t* single[6];
  uint32_t* pairs[6];
  for (int i = 0; i < 6; i++) {
    single[i] = enc.encCTTable[i] = &encTables[512 * i];
    pairs[i] = encPairs.encCTTable[i] = &pairTables[512 * i];
  }
  enc.colorTransform = encPairs.colorTransform = 1;
  encPairs.blend = 1;
  enc.hFastMode = 2;
  encPairs.hFastMode = 3;
  enc.maxHSamples = 1;
  encPairs.maxHSamples = 2;
  DCTEInitCT(&enc);
  DCTEInitCT(&encPairs);
  const double lineUnits = kLinePixels / 64.0;
  TimeKernel("RGB to YCbCr", lineUnits, [&](const DCTKernels& k) {
    k.rgbToYCbCr(single, rgb.data(), y.data(), cb.data(), cr.data(), kLinePixels);
  });
  TimeKernel("RGB pairs to YCbCr", lineUnits, [&](const DCTKernels& k) {
    k.rgbPairsToYCbCr(pairs, rgb.data(), y.data(), cb.data(), cr.data(), kLinePixels / 2);
  });

  DCTState dec{};
  std::vector<uint32_t> cbTable(256), crTable(256);
  dec.decCTTable[0] = cbTable.data();
  dec.decCTTable[1] = crTable.data();
  dec.colorTransform = 1;
  DCTDInitCT(&dec);
  std::vector<uint8_t> planes(3 * kLinePixels), out(3 * kLinePixels + 16);
  for (int i = 0; i < 3 * kLinePixels; i++)  // luma of the strip, chroma near grey (few clamps)
    planes[i] = i < kLinePixels ? strip[i] : static_cast<uint8_t>(128 + static_cast<int>(rng() % 41) - 20);
  const uint8_t* py = &planes[0];
  const uint8_t* pcb = &planes[kLinePixels];
  const uint8_t* pcr = &planes[2 * kLinePixels];
  TimeKernel("YCbCr to RGB", lineUnits, [&](const DCTKernels& k) {
    k.yccToRGB(cbTable.data(), crTable.data(), py, pcb, pcr, out.data(), kLinePixels);
  });
  TimeKernel("YCbCr pairs to RGB", lineUnits, [&](const DCTKernels& k) {
    k.yccPairsToRGB(cbTable.data(), crTable.data(), py, pcb, pcr, out.data(), kLinePixels / 2);
  });
}

}  // namespace

JPEG_BENCH_SUITE("kernels", KernelsSuite);
