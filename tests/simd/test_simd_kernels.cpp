// test_simd_kernels.cpp - every kernel level this CPU runs computes exactly
// the scalar reference's bits: forward and inverse DCT on random, extreme
// blocks, colour conversion over every colour. The codec reaches the
// kernels only through the same per-level table, so whole files agree too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "decode/decoder.h"
#include "encode/encoder.h"
#include "simd/kernels.h"
#include "support/test_support.h"

namespace {

using testing_support::Bytes;
using testing_support::Image;

// The scalar references, named here rather than taken from the dispatch
// table, so that a mis-wired table entry cannot become its own reference.
const DCTKernels kScalar = {&DCTForwardDCTScalar, &DCTEForwardDCTMaskScalar, &DCTInverseDCTScalar, &DCTERGBToYCbCrScalar,
                            &DCTERGBPairsToYCbCrScalar, &DCTDYCbCrToRGBScalar, &DCTDYCbCrPairsToRGBScalar, nullptr,
                            &DCTDReduceBlock4Scalar, &DCTDDequantizeScalar, &DCTDNonZeroZigzagScalar, nullptr};

// The one driver: what run(kernels) gives at every vector level this CPU
// runs equals what it gives with the scalar references, bit for bit.
template <typename Run>
void ExpectEveryLevelMatchesScalar(const Run& run, const std::string& what) {
  const auto want = run(kScalar);
  for (int32_t level = kDCTSimdScalar + 1; level < kDCTSimdLevels; level++) {
    if (const DCTKernels* k = DCTKernelsAt(level)) { ASSERT_EQ(run(*k), want) << DCTSimdLevelName(level) << " " << what; }
  }
}

// 8x8 sample blocks: noise, flat extremes, and every coefficient at its extremes.
std::vector<Bytes> SampleBlocks() {
  std::vector<Bytes> blocks;
  std::mt19937 rng(7);
  for (int i = 0; i < 2000; i++) {
    Bytes b(64);
    for (auto& s : b) s = static_cast<uint8_t>(rng());
    blocks.push_back(b);
  }
  for (int v : {0, 255}) blocks.push_back(Bytes(64, static_cast<uint8_t>(v)));
  // The largest magnitude of every coefficient: 255 where its basis function
  // is positive, 0 elsewhere, and the inverse pattern (the transforms' value
  // ranges are argued from these extremes).
  for (int u = 0; u < 8; u++)
    for (int v = 0; v < 8; v++) {
      Bytes peak(64);
      for (int n = 0; n < 64; n++)
        peak[n] = std::cos((2 * (n % 8) + 1) * u * M_PI / 16) * std::cos((2 * (n / 8) + 1) * v * M_PI / 16) > 0 ? 255 : 0;
      blocks.push_back(peak);
      for (auto& sample : peak) sample = static_cast<uint8_t>(255 - sample);
      blocks.push_back(peak);
    }
  return blocks;
}

// Plain, and with dead-zone thresholds as the encoder scales them
// (quantizer x AAN scale, from the finest to the coarsest, and one set with
// every bit pattern); the plain transform reads its block at stride 13
// inside a larger buffer, as in a strip.
TEST(SimdKernels, ForwardDCTsMatchScalar) {
  const std::vector<Bytes> blocks = SampleBlocks();
  std::mt19937 rng(3);
  for (size_t i = 0; i < blocks.size() && !HasFailure(); i++) {
    Bytes strip(8 * 13 + 8, 0x5A);
    for (int r = 0; r < 8; r++) std::memcpy(&strip[r * 13], &blocks[i][8 * r], 8);
    uint32_t tFlipped[64], twoTFlipped[64];
    const uint32_t quantizer = 1 + static_cast<uint32_t>(i % 255);
    for (int n = 0; n < 64; n++) {
      const uint32_t t = i % 7 == 6 ? static_cast<uint32_t>(rng()) : quantizer * DCTEQScale[n];
      tFlipped[n] = t ^ 0x80000000u;
      twoTFlipped[n] = (2 * t) ^ 0x80000000u;
    }
    Bytes otherStrip(8 * 13 + 8, 0xA5);  // another block, for the second of a pair
    for (int r = 0; r < 8; r++) std::memcpy(&otherStrip[r * 13], &blocks[(i * 7 + 1) % blocks.size()][8 * r], 8);
    ExpectEveryLevelMatchesScalar([&](const DCTKernels& k) {
      std::vector<int32_t> plain(64), masked(64), pairFirst(64), pairSecond(64);
      k.forwardDCT(plain.data(), strip.data(), 13);
      const uint64_t mask = k.forwardDCTMask(masked.data(), blocks[i].data(), 8, tFlipped, twoTFlipped);
      // Paired with another block, at another stride, with other
      // thresholds (the flipped ones in each other's place).
      DCTEBlockTransform jobs[2] = {{pairFirst.data(), blocks[i].data(), tFlipped, twoTFlipped, 8, 0},
                                    {pairSecond.data(), otherStrip.data(), twoTFlipped, tFlipped, 13, 0}};
      DCTETransformPair(k, jobs);
      return std::make_tuple(plain, masked, mask, pairFirst, pairSecond, jobs[0].zigzag, jobs[1].zigzag);
    }, "block " + std::to_string(i));
  }
}

// Dequantized blocks as the decoder may meet them: typical magnitudes,
// extreme ones from hostile quantizers (any 32-bit value, wrapping), and
// sparse blocks with only the first columns used (kernels take a shorter
// path when lastCol < 4), with typical or hostile values.
std::vector<std::vector<int32_t>> CoefficientBlocks() {
  std::vector<std::vector<int32_t>> blocks;
  std::mt19937 rng(11);
  for (int i = 0; i < 4000; i++) {
    std::vector<int32_t> b(64, 0);
    const int kind = i % 5;
    const int columns = kind >= 3 ? 1 + static_cast<int>(rng() % 4) : 8;
    for (int n = 0; n < 64; n++) {
      if ((n & 7) >= columns) continue;
      if (kind == 0) b[n] = static_cast<int32_t>(rng() % 4001) * 3000 - 6000000;   // typical
      if (kind == 1 || kind == 4) b[n] = static_cast<int32_t>(rng());              // hostile
      if (kind == 2 || kind == 3) b[n] = rng() % 3 == 0 ? static_cast<int32_t>(rng() % 200001) * 500 - 50000000 : 0;
    }
    b[0] = static_cast<int32_t>(static_cast<uint32_t>(b[0]) + (128u << 18) + (1u << 17));
    blocks.push_back(b);
  }
  // The 32-bit extremes in sign patterns (every product and sum wraps).
  for (const uint32_t extreme : {0x7FFFFFFFu, 0x80000000u, 0xFFFF8000u, 0x00017FFFu}) {
    for (int pattern = 0; pattern < 4; pattern++) {
      std::vector<int32_t> b(64);
      for (int n = 0; n < 64; n++) {
        const bool flip[4] = {false, (n & 1) != 0, ((n >> 3) & 1) != 0, n % 3 == 0};
        b[n] = static_cast<int32_t>(flip[pattern] ? 0u - extreme : extreme);
      }
      blocks.push_back(b);
    }
  }
  return blocks;
}

int32_t LastColumn(const std::vector<int32_t>& b) {
  int32_t last = 0;
  for (int n = 0; n < 64; n++)
    if (b[n] != 0 && (n & 7) > last) last = n & 7;
  return last;
}

// The full-size transform, then the 1/2 reduced one (a block it does not
// serve goes to the scalar passes, as the decoder does).
TEST(SimdKernels, InverseDCTMatchesScalar) {
  const auto blocks = CoefficientBlocks();
  for (size_t i = 0; i < blocks.size() && !HasFailure(); i++) {
    ExpectEveryLevelMatchesScalar([&](const DCTKernels& k) {
      std::vector<int32_t> block = blocks[i];
      Bytes out(8 * 21 + 4 * 7, 0x33);  // strides 21 and 7: bytes between rows stay untouched
      if (k.reduceBlock4(block.data(), LastColumn(blocks[i]), &out[8 * 21], 7) != 0)
        DCTDReduceBlock4Scalar(block.data(), LastColumn(blocks[i]), &out[8 * 21], 7);
      k.inverseDCT(block.data(), out.data(), 21, LastColumn(blocks[i]));
      return out;
    }, "block " + std::to_string(i));
  }
}

// Stored coefficients times scaled quantizers, wrapping: every extreme of
// both, and random ones.
TEST(SimdKernels, DequantizationAndNonZeroMaskMatchScalar) {
  std::mt19937 rng(7);
  const int32_t extremes[] = {0, 1, -1, 32767, -32768, 430476, INT32_MIN, INT32_MAX};
  for (int round = 0; round < 200; round++) {
    std::vector<int16_t> coefs(64);
    std::vector<int32_t> quant(64);
    for (int n = 0; n < 64; n++) {
      coefs[n] = static_cast<int16_t>(round < 8 ? extremes[(n + round) % 8] : rng());
      quant[n] = round < 8 ? extremes[(n * 3 + round) % 8] : static_cast<int32_t>(rng());
      if (round % 3 == 0 && rng() % 4 != 0) coefs[n] = 0;  // sparse, for the non-zero mask
    }
    ExpectEveryLevelMatchesScalar([&](const DCTKernels& k) {
      std::vector<int32_t> block(64);
      k.dequantize(block.data(), coefs.data(), quant.data());
      return std::make_tuple(block, k.nonZeroZigzag(coefs.data()));
    }, "round " + std::to_string(round));
  }
}

// The encoder's YCbCr colour tables, single-pixel or pair form, built by the
// encoder's own set-up.
struct ColorTableSet {
  std::vector<uint32_t> storage = std::vector<uint32_t>(6 * 512);
  uint32_t* tables[6];
  explicit ColorTableSet(bool pairs) {
    DCTState state{};
    for (int i = 0; i < 6; i++) tables[i] = state.encCTTable[i] = &storage[512 * i];
    state.colorTransform = 1;
    state.blend = pairs ? 1 : 0;
    state.hFastMode = pairs ? 3 : 2;
    state.maxHSamples = pairs ? 2 : 1;
    DCTEInitCT(&state);
  }
};

// Lines of every length around the vector widths; then every colour, and
// every combination of two channels' pair sums (the third varying along
// with them): the vector forms compute each table term by formula, so
// nothing short of every index proves them.
TEST(SimdKernels, ColourConversionMatchesScalarForEveryColour) {
  const ColorTableSet single(false), pairs(true);
  // The single or pair form over n pixels (pairs) of line: Y at 0, Cb at 2n, Cr at 3n.
  const auto convert = [&](const Bytes& line, int n, bool pair) {
    return [&line, &single, &pairs, n, pair](const DCTKernels& k) {
      Bytes out(5 * n, 0x11);
      (pair ? k.rgbPairsToYCbCr : k.rgbToYCbCr)((pair ? pairs : single).tables, line.data(), &out[0], &out[2 * n], &out[3 * n], n);
      return out;
    };
  };
  std::mt19937 rng(5);
  for (int pixels = 1; pixels < 80 && !HasFailure(); pixels++) {
    for (int round = 0; round < 20; round++) {
      Bytes line(static_cast<size_t>(pixels) * 6 + 6);  // random, with the tables' corner values
      for (auto& v : line) v = static_cast<uint8_t>(rng());
      for (int i = 0; i < 2 * pixels && i < 8; i++) line[3 * i + (i % 3)] = (i & 1) ? 255 : 0;
      for (const bool pair : {false, true})
        ExpectEveryLevelMatchesScalar(convert(line, pixels, pair), std::to_string(pixels) + (pair ? " pairs" : " pixels"));
    }
  }
  constexpr int kLine = 65536, kSums = 511;  // pair sums 0..510
  Bytes line(3 * kLine);
  for (int red = 0; red < 256 && !HasFailure(); red++) {
    for (int j = 0; j < kLine; j++) {
      line[3 * j] = static_cast<uint8_t>(red);
      line[3 * j + 1] = static_cast<uint8_t>(j >> 8);
      line[3 * j + 2] = static_cast<uint8_t>(j);
    }
    ExpectEveryLevelMatchesScalar(convert(line, kLine, false), "red " + std::to_string(red));
  }
  for (int sweep = 0; sweep < 2; sweep++) {
    for (int outer = 0; outer < kSums && !HasFailure(); outer++) {
      for (int j = 0; j < kSums; j++) {
        const int third = (outer * 7 + j * 3) % kSums;
        const int sums[2][3] = {{outer, j, third}, {third, outer, j}};  // (R, G) or (G, B) swept
        for (int c = 0; c < 3; c++) {
          line[6 * j + c] = static_cast<uint8_t>(sums[sweep][c] - sums[sweep][c] / 2);
          line[6 * j + 3 + c] = static_cast<uint8_t>(sums[sweep][c] / 2);
        }
      }
      ExpectEveryLevelMatchesScalar(convert(line, kSums, true), "sweep " + std::to_string(sweep) + ", sum " + std::to_string(outer));
    }
  }
}

// The decoder's packed YCbCr colour tables, the only ones the conversion
// kernels are given (the AVX2 forms compute their words); random samples
// and the extremes take results out of range, so the clamp runs too.
struct DecoderTableSet {
  std::vector<uint32_t> cb = std::vector<uint32_t>(256), cr = std::vector<uint32_t>(256);
  DecoderTableSet() {
    DCTState state{};
    state.decCTTable[0] = cb.data();
    state.decCTTable[1] = cr.data();
    state.colorTransform = 1;
    DCTDInitCT(&state);
  }
};

// Random lines of every length around the vector widths; then every
// (Y, Cb, Cr): the vector forms compute each table term by formula, so
// nothing short of every colour proves them (one line per Cb, Cr and Y in
// the pixel index; in pairs, the second Y is the first's complement).
TEST(SimdKernels, DecoderColourConversionMatchesScalar) {
  std::mt19937 rng(9);
  const DecoderTableSet t;
  constexpr int kLine = 65536;
  Bytes y(kLine), cb(kLine), cr(kLine), pairY(2 * kLine);
  for (int j = 0; j < kLine; j++) {
    cr[j] = static_cast<uint8_t>(j >> 8);
    y[j] = pairY[2 * j] = static_cast<uint8_t>(j);
    pairY[2 * j + 1] = static_cast<uint8_t>(255 - (j & 255));
  }
  for (int blue = 0; blue < 256 && !HasFailure(); blue++) {
    std::fill(cb.begin(), cb.end(), static_cast<uint8_t>(blue));
    for (const bool pair : {false, true}) {
      ExpectEveryLevelMatchesScalar([&](const DCTKernels& k) {
        Bytes out(3 * (pair ? 2 : 1) * kLine);
        (pair ? k.yccPairsToRGB : k.yccToRGB)(t.cb.data(), t.cr.data(), pair ? pairY.data() : y.data(), cb.data(),
                                              cr.data(), out.data(), kLine);
        return out;
      }, "Cb " + std::to_string(blue) + (pair ? " in pairs" : ""));
    }
  }
  for (int pixels = 1; pixels < 70 && !HasFailure(); pixels++) {
    for (int round = 0; round < 20; round++) {
      Bytes planes(4 * pixels);
      for (auto& v : planes) v = static_cast<uint8_t>(rng());
      for (int i = 0; i < pixels && i < 6; i++) planes[i] = (i & 1) ? 255 : 0;
      const uint8_t *y = &planes[0], *cb = &planes[2 * pixels], *cr = &planes[3 * pixels];
      for (const bool pair : {false, true}) {
        ExpectEveryLevelMatchesScalar([&](const DCTKernels& k) {
          Bytes out(3 * pixels + 8, 0x77);
          (pair ? k.yccPairsToRGB : k.yccToRGB)(t.cb.data(), t.cr.data(), y, cb, cr, out.data(), pair ? pixels / 2 : pixels);
          return out;
        }, std::to_string(pixels) + (pair ? " pixels in pairs" : " pixels"));
      }
    }
  }
}

}  // namespace
