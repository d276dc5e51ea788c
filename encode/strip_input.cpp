// strip_input.cpp - the encoder's input side: raster lines into component
// strips.
//
// DCTEFlush (marker_writer.cpp) hands every raster line to DCTEGetNCLine,
// which converts RGB to YCbCr or CMYK to YCCK through the colour tables
// built by DCTEInitCT, reduces chroma horizontally while it writes the
// component strip lines, fills each line's right edge out to a whole block
// (DCTEFixRightBot) and, on the last line of a group of Vmax lines, reduces
// subsampled components vertically. After the last raster line
// DCTEget_ovflines completes the final strip. The block coder
// (block_coder.cpp) then reads 8 x V lines of every component.
//
// Colour arithmetic is table look-up plus addition in 32-bit unsigned
// arithmetic: three look-ups give Y (16.16), three more give Cb and Cr at
// once as two packed 8.8 accumulators (Cb x 256 in the high half, Cr x 256
// in the low half). The constants keep both halves within 0..65535, so no
// carry crosses between them.
#include <cstring>

#include "encode/encoder.h"
#include "simd/kernels.h"

namespace {

constexpr int32_t kSingleTableEntries = 256;  // indexed by one sample
constexpr int32_t kPairTableEntries = 511;    // indexed by the sum of two samples, 0..510

// 0.299, 0.587 and 0.114 in 16.16 fixed point.
constexpr int64_t kLumaR = 19595, kLumaG = 38470, kLumaB = 7471;
constexpr int64_t kLumaRound = 0x8000;          // 0.5 in 16.16
constexpr int64_t kInverseLumaBase = 0xFF8000;  // 255.5 in 16.16, for YCCK's 255 - luma

// Chroma coefficients 0.16874, 0.33126, 0.41869 and 0.08131 scaled by
// 4 x 65536 for the >> 10 that leaves 8.8 fixed point, with the sample's
// shift (<< 7, i.e. 0.5 x 256). Pair tables take the sum of two samples, so
// their coefficients and shift are halved.
struct ChromaConstants {
  int64_t a, b, e, d;
  int shift;
};
constexpr ChromaConstants kSingleChroma = {44233, 86839, 109756, 21316, 7};
constexpr ChromaConstants kPairChroma = {22117, 43419, 54878, 10658, 6};

// Offsets that spread 128.5 x 256 (the chroma offset plus the rounding half)
// over the three chroma tables, for YCbCr and for YCCK.
constexpr int64_t kCbOffsetR = 0xAD0200, kCbOffsetG = 22347264;
constexpr int64_t kCrOffsetG = 28179968, kCrOffsetB = 0x540200;
constexpr int64_t kYcckRound = 512, kYcckOffsetM = 0x20200;
constexpr int64_t kYcckHalfLow = 32767, kYcckHalfHigh = 0x7FFF0000;

// Filling positions k..7 of a partial block (columns at the right edge,
// lines at the bottom): position i is copied from kMirrorSource[i], which
// mirrors the valid samples about the block's centre where it can.
constexpr uint8_t kMirrorSource[8] = {0, 0, 1, 0, 3, 2, 1, 0};

bool UsesPairTables(const DCTState* state) {
  return state->blend != 0 && state->hFastMode != kHFastGeneral && state->maxHSamples >= 2;
}

uint32_t Table(int64_t value) { return static_cast<uint32_t>(value); }

void BuildYCbCrTables(uint32_t* const* t, int32_t n, const ChromaConstants& c) {
  for (int64_t k = 0; k < kSingleTableEntries; k++) {
    t[0][k] = Table(kLumaRound + kLumaR * k);
    t[1][k] = Table(kLumaG * k);
    t[2][k] = Table(kLumaB * k);
  }
  for (int64_t k = 0; k < n; k++) {
    t[3][k] = Table((k << c.shift) + (((kCbOffsetR - c.a * k) >> 10) << 16));
    t[4][k] = Table((((kCbOffsetG - c.b * k) >> 10) << 16) + ((kCrOffsetG - c.e * k) >> 10));
    t[5][k] = Table((k << (c.shift + 16)) + ((kCrOffsetB - c.d * k) >> 10));
  }
}

void BuildYcckTables(uint32_t* const* t, int32_t n, const ChromaConstants& c) {
  for (int64_t k = 0; k < kSingleTableEntries; k++) {
    t[0][k] = Table(kInverseLumaBase - kLumaR * k);
    t[1][k] = Table(kLumaG * k);
    t[2][k] = Table(kLumaB * k);
  }
  for (int64_t k = 0; k < n; k++) {
    t[3][k] = Table((((kYcckRound + c.a * k) >> 10) << 16) - (k << c.shift) + kYcckHalfLow);
    t[4][k] = Table((((kYcckOffsetM + c.b * k) >> 10) << 16) + ((kYcckOffsetM + c.e * k) >> 10));
    t[5][k] = Table(((kYcckRound + c.d * k) >> 10) - (k << (c.shift + 16)) + kYcckHalfHigh);
  }
}

// --- per-pixel conversions ----------------------------------------------------

struct ColorTables {
  const uint32_t *t0, *t1, *t2, *t3, *t4, *t5;
};

ColorTables TablesOf(const DCTState* state) {
  uint32_t* const* t = state->encCTTable;
  return {t[0], t[1], t[2], t[3], t[4], t[5]};
}

inline uint8_t LumaYCbCr(const ColorTables& t, const uint8_t* p) {
  return static_cast<uint8_t>((t.t0[p[0]] + t.t1[p[1]] + t.t2[p[2]]) >> 16);
}
inline uint8_t LumaYcck(const ColorTables& t, const uint8_t* p) {
  return static_cast<uint8_t>((t.t0[p[0]] - t.t1[p[1]] - t.t2[p[2]]) >> 16);
}
// Packed chroma of one pixel (single tables) ...
inline uint32_t Chroma(const ColorTables& t, const uint8_t* p) {
  return t.t3[p[0]] + t.t4[p[1]] + t.t5[p[2]];
}
// ... and of the mean of two pixels (pair tables).
inline uint32_t PairChroma(const ColorTables& t, const uint8_t* p, const uint8_t* q) {
  return t.t3[p[0] + q[0]] + t.t4[p[1] + q[1]] + t.t5[p[2] + q[2]];
}
inline uint8_t Cb(uint32_t w) { return static_cast<uint8_t>(w >> 24); }
inline uint8_t Cr(uint32_t w) { return static_cast<uint8_t>(w >> 8); }

ColorTables TablesOf(const uint32_t* const* t) { return {t[0], t[1], t[2], t[3], t[4], t[5]}; }

}  // namespace

void DCTERGBToYCbCrScalar(const uint32_t* const* tables, const uint8_t* rgb, uint8_t* y,
                          uint8_t* cb, uint8_t* cr, int32_t count) {
  const ColorTables t = TablesOf(tables);
  const uint8_t* p = rgb;
  for (int32_t i = 0; i < count; i++, p += 3) {
    const uint32_t w = Chroma(t, p);
    y[i] = LumaYCbCr(t, p);
    cb[i] = Cb(w);
    cr[i] = Cr(w);
  }
}

void DCTERGBPairsToYCbCrScalar(const uint32_t* const* tables, const uint8_t* rgb, uint8_t* y,
                               uint8_t* cb, uint8_t* cr, int32_t count) {
  const ColorTables t = TablesOf(tables);
  const uint8_t* p = rgb;
  for (int32_t i = 0; i < count; i++, p += 6) {
    const uint32_t w = PairChroma(t, p, p + 3);
    y[2 * i] = LumaYCbCr(t, p);
    y[2 * i + 1] = LumaYCbCr(t, p + 3);
    cb[i] = Cb(w);
    cr[i] = Cr(w);
  }
}

namespace {

// --- colour-transformed lines ---------------------------------------------------

int32_t PixelsInLine(const DCTState* state) { return state->paddedLineSamples / state->Colors; }

// A line whose chroma the vertical reduction discards: Y (and K) only.
void ConvertLumaOnly(const DCTState* state, const uint8_t* raster, uint8_t* const* lines) {
  const ColorTables t = TablesOf(state);
  const uint8_t* p = raster;
  const int32_t pixels = PixelsInLine(state);
  uint8_t *y = lines[0], *k = lines[3];
  if (state->Colors == 3) {
    for (int32_t i = 0; i < pixels; i++, p += 3) y[i] = LumaYCbCr(t, p);
    return;
  }
  for (int32_t i = 0; i < pixels; i++, p += 4) {
    y[i] = LumaYcck(t, p);
    k[i] = p[3];
  }
}

// Three components sampled 1, 1, 1 (the kernel table's colour conversion).
void ConvertYCbCr111(const DCTState* state, const uint8_t* raster, uint8_t* const* lines) {
  DCTActiveKernels().rgbToYCbCr(state->encCTTable, raster, lines[0], lines[1],
                                lines[2], PixelsInLine(state));
}

// Three components sampled 2, 1, 1: chroma of each pixel pair's mean
// (blend, pair tables: the kernel table's) or of its left pixel.
template <bool kBlend>
void ConvertYCbCr211(const DCTState* state, const uint8_t* raster, uint8_t* const* lines) {
  const int32_t pairs = state->paddedLineSamples / 6;
  if (kBlend) {
    DCTActiveKernels().rgbPairsToYCbCr(state->encCTTable, raster, lines[0], lines[1],
                                       lines[2], pairs);
    return;
  }
  const ColorTables t = TablesOf(state);
  const uint8_t* p = raster;
  uint8_t *y = lines[0], *cb = lines[1], *cr = lines[2];
  for (int32_t i = 0; i < pairs; i++, p += 6) {
    const uint32_t w = Chroma(t, p);
    y[2 * i] = LumaYCbCr(t, p);
    y[2 * i + 1] = LumaYCbCr(t, p + 3);
    cb[i] = Cb(w);
    cr[i] = Cr(w);
  }
}

// Four components sampled 1, 1, 1, 1 (CMYK to YCCK).
void ConvertYcck1111(const DCTState* state, const uint8_t* raster, uint8_t* const* lines) {
  const ColorTables t = TablesOf(state);
  const uint8_t* p = raster;
  const int32_t pixels = PixelsInLine(state);
  uint8_t *y = lines[0], *cb = lines[1], *cr = lines[2], *k = lines[3];
  for (int32_t i = 0; i < pixels; i++, p += 4) {
    const uint32_t w = Chroma(t, p);
    y[i] = LumaYcck(t, p);
    cb[i] = Cb(w);
    cr[i] = Cr(w);
    k[i] = p[3];
  }
}

// Four components sampled 2, 1, 1, 2.
template <bool kBlend>
void ConvertYcck2112(const DCTState* state, const uint8_t* raster, uint8_t* const* lines) {
  const ColorTables t = TablesOf(state);
  const uint8_t* p = raster;
  const int32_t pairs = state->paddedLineSamples / 8;
  uint8_t *y = lines[0], *cb = lines[1], *cr = lines[2], *k = lines[3];
  for (int32_t i = 0; i < pairs; i++, p += 8) {
    const uint32_t w = kBlend ? PairChroma(t, p, p + 4) : Chroma(t, p);
    y[2 * i] = LumaYcck(t, p);
    y[2 * i + 1] = LumaYcck(t, p + 4);
    cb[i] = Cb(w);
    cr[i] = Cr(w);
    k[2 * i] = p[3];
    k[2 * i + 1] = p[7];
  }
}

// Any other layout: the line buffer itself becomes Y, Cb, Cr (, K) and is
// then distributed like an untransformed line.
template <int kColors>
void ConvertInPlace(DCTState* state) {
  const ColorTables t = TablesOf(state);
  uint8_t* p = state->lineBuffer;
  const int32_t pixels = PixelsInLine(state);
  for (int32_t i = 0; i < pixels; i++, p += kColors) {
    const uint32_t w = Chroma(t, p);
    p[0] = kColors == 4 ? LumaYcck(t, p) : LumaYCbCr(t, p);
    p[1] = Cb(w);
    p[2] = Cr(w);
  }
}

// --- distribution of (converted or untransformed) samples ---------------------

// The mean of two samples, halves rounded up.
inline uint8_t RoundedMean(int a, int b) { return static_cast<uint8_t>((a + b + 1) >> 1); }

// dst[i] = src[i x step] for i < count.
void TakeEvery(uint8_t* dst, const uint8_t* src, int32_t step, int32_t count) {
  for (int32_t i = 0; i < count; i++) dst[i] = src[i * step];
}

// A line whose chroma the vertical reduction discards: component 0 only.
void DistributeLumaOnly(const DCTState* state, const uint8_t* raster, uint8_t* const* lines) {
  const int32_t colors = state->Colors;
  if (colors != 2 && colors != 3) DCTStmErr0("BUG: colorconv==0 but vFast non-0 for cn != 3.");
  TakeEvery(lines[0], raster, colors, state->paddedLineSamples / colors);
}

// Three components sampled 2, 1, 1 without a transform.
template <bool kBlend>
void DistributePairs211(const DCTState* state, const uint8_t* raster, uint8_t* const* lines) {
  const uint8_t* p = raster;
  const int32_t pairs = state->paddedLineSamples / 6;
  uint8_t *c0 = lines[0], *c1 = lines[1], *c2 = lines[2];
  for (int32_t i = 0; i < pairs; i++, p += 6) {
    c0[2 * i] = p[0];
    c0[2 * i + 1] = p[3];
    c1[i] = kBlend ? RoundedMean(p[1], p[4]) : p[1];
    c2[i] = kBlend ? RoundedMean(p[2], p[5]) : p[2];
  }
}

// Which pixels of a group of Hmax pixels a component with H samples keeps
// (for H < Hmax, Hmax 3 and 4); indexed [Hmax - 3][H - 1].
constexpr uint8_t kGroupPicks[2][3][3] = {
    {{1, 0, 0}, {0, 2, 0}, {0, 0, 0}},
    {{1, 0, 0}, {0, 2, 0}, {0, 1, 3}}};

// Component c of a line with Hmax > H: H samples out of every group.
void DistributeSubsampled(const DCTState* state, const uint8_t* raster, uint8_t* dst, int32_t c, int32_t h) {
  const int32_t colors = state->Colors, hmax = state->maxHSamples;
  const int32_t groupBytes = state->samplesPerHGroup;
  const int32_t groups = state->paddedLineSamples / groupBytes;
  const uint8_t* src = raster + c;
  if (hmax == 2) {  // H = 1: the pair's rounded mean, or its left sample
    if (state->blend == 0) {
      TakeEvery(dst, src, groupBytes, groups);
      return;
    }
    for (int32_t g = 0; g < groups; g++, src += groupBytes) {
      dst[g] = static_cast<uint8_t>((src[0] + src[colors] + 1) >> 1);
    }
    return;
  }
  const uint8_t* picks = kGroupPicks[hmax - 3][h - 1];
  for (int32_t g = 0; g < groups; g++, src += groupBytes, dst += h) {
    for (int32_t j = 0; j < h; j++) dst[j] = src[picks[j] * colors];
  }
}

void DistributeGeneral(const DCTState* state, const uint8_t* raster, uint8_t* const* lines) {
  const int32_t colors = state->Colors;
  if (colors == 1) {
    // The whole line; a single component's strip line may be up to Hmax - 1
    // samples shorter than the padded raster line.
    const int32_t width = state->components[0].stripWidth;
    const int32_t n = state->paddedLineSamples < width ? state->paddedLineSamples : width;
    std::memcpy(lines[0], raster, static_cast<size_t>(n));
    return;
  }
  if (state->maxHSamples > 4 || colors > 4) return;
  for (int32_t c = 0; c < colors; c++) {
    const int32_t h = state->components[c].hSamples;
    if (h == state->maxHSamples) {
      TakeEvery(lines[c], raster + c, colors, state->paddedLineSamples / colors);
    } else {
      DistributeSubsampled(state, raster, lines[c], c, h);
    }
  }
}

void DistributeLine(const DCTState* state, const uint8_t* raster, uint8_t* const* lines, bool lumaOnly) {
  if (lumaOnly) {
    DistributeLumaOnly(state, raster, lines);
  } else if (state->hFastMode != kHFastGeneral) {
    if (state->blend != 0) {
      DistributePairs211<true>(state, raster, lines);
    } else {
      DistributePairs211<false>(state, raster, lines);
    }
  } else {
    DistributeGeneral(state, raster, lines);
  }
}

void ConvertLine(DCTState* state, const uint8_t* raster, uint8_t* const* lines, bool lumaOnly) {
  if (state->hFastMode == kHFastGeneral && state->linesDone >= state->Rows) {
    // The last line repeated to complete its group: the buffer already holds
    // converted samples. A four-component luma-only copy would lose K.
    DistributeLine(state, raster, lines, lumaOnly && state->Colors != 4);
    return;
  }
  if (lumaOnly) {
    ConvertLumaOnly(state, raster, lines);
    return;
  }
  switch (state->hFastMode) {
    case kHFastYCbCr111: ConvertYCbCr111(state, raster, lines); break;
    case kHFastYCbCr211:
      if (state->blend != 0) {
        ConvertYCbCr211<true>(state, raster, lines);
      } else {
        ConvertYCbCr211<false>(state, raster, lines);
      }
      break;
    case kHFastYCCK1111: ConvertYcck1111(state, raster, lines); break;
    case kHFastYCCK2112:
      if (state->blend != 0) {
        ConvertYcck2112<true>(state, raster, lines);
      } else {
        ConvertYcck2112<false>(state, raster, lines);
      }
      break;
    case kHFastGeneral:
      if (state->Colors == 4) {
        ConvertInPlace<4>(state);
      } else {
        ConvertInPlace<3>(state);
      }
      DistributeGeneral(state, raster, lines);
      break;
    default: DCTStmErr0("BUG unknown hor. fast mode.");
  }
}

// Raster lines whose chroma is discarded by the vertical reduction
// (vFastMode: chroma once per four lines, no blending) need only component 0
// (and K). The general path converts the last image line in full because it
// is re-run from the converted buffer to complete the last group.
bool IsLumaOnlyLine(const DCTState* state) {
  if (state->vFastMode == kVFastOff || state->blend != 0) return false;
  const int32_t sub = state->stripSubLine, vmax = state->maxVSamples;
  if ((vmax == 2 && sub == 0) || (vmax >= 3 && sub == 1)) return false;
  return !(state->hFastMode == kHFastGeneral && state->linesDone == state->Rows - 1);
}

// Copies the last pixel three times after the line, so group-wise reads at
// the right edge see replicated pixels.
void ReplicateLastPixel(DCTState* state) {
  const int32_t colors = state->Colors;
  uint8_t* end = state->lineBuffer + state->inputLineBytes;
  const uint8_t* last = end - colors;
  for (int32_t i = 0; i < 3 * colors; i++) end[i] = last[i % colors];
}

// --- vertical reduction ---------------------------------------------------------

void CopyLine(uint8_t* dst, const uint8_t* src, int32_t n) {
  std::memcpy(dst, src, static_cast<size_t>(n));
}

// Blended reduction of Vmax lines l[0..Vmax-1] to V lines, in place.
void BlendLines(uint8_t* const* l, int32_t vmax, int32_t v, int32_t n) {
  uint8_t *l0 = l[0], *l1 = l[1], *l2 = l[2], *l3 = l[3];
  switch (vmax * 4 + v) {
    case 2 * 4 + 1:
      for (int32_t i = 0; i < n; i++) l0[i] = RoundedMean(l0[i], l1[i]);
      break;
    case 3 * 4 + 1:
      for (int32_t i = 0; i < n; i++) {
        l0[i] = static_cast<uint8_t>((l0[i] + 2 * l1[i] + l2[i] + 2) >> 2);
      }
      break;
    case 3 * 4 + 2:
      for (int32_t i = 0; i < n; i++) {
        l0[i] = static_cast<uint8_t>((3 * l0[i] + l1[i] + 2) >> 2);
        l1[i] = static_cast<uint8_t>((l1[i] + 3 * l2[i] + 2) >> 2);
      }
      break;
    case 4 * 4 + 1:
      for (int32_t i = 0; i < n; i++) {
        l0[i] = static_cast<uint8_t>((l0[i] + l1[i] + l2[i] + l3[i] + 2) >> 2);
      }
      break;
    case 4 * 4 + 2:
      for (int32_t i = 0; i < n; i++) {
        l0[i] = RoundedMean(l0[i], l1[i]);
        l1[i] = RoundedMean(l2[i], l3[i]);
      }
      break;
    case 4 * 4 + 3:
      for (int32_t i = 0; i < n; i++) l1[i] = RoundedMean(l1[i], l2[i]);
      CopyLine(l2, l3, n);
      break;
    default: break;
  }
}

// Unblended reduction: every kept line is one of the group's raster lines.
void PickLines(uint8_t* const* l, int32_t vmax, int32_t v, int32_t n) {
  switch (vmax * 4 + v) {
    case 3 * 4 + 1:
    case 4 * 4 + 1: CopyLine(l[0], l[1], n); break;
    case 3 * 4 + 2:
    case 4 * 4 + 2: CopyLine(l[1], l[2], n); break;
    case 4 * 4 + 3: CopyLine(l[2], l[3], n); break;
    default: break;  // Vmax 2, V 1 keeps l0
  }
}

void ReduceGroup(uint8_t* lastLine, const DCTComponent* comp, const DCTState* state) {
  const int32_t vmax = state->maxVSamples, width = comp->stripWidth;
  uint8_t* l[4] = {};
  for (int32_t j = 0; j < vmax; j++) l[j] = lastLine - (vmax - 1 - j) * width;
  if (state->blend != 0) {
    BlendLines(l, vmax, comp->vSamples, width);
  } else {
    PickLines(l, vmax, comp->vSamples, width);
  }
}

// --- end of image ---------------------------------------------------------------------

// Component lines of the last strip that hold image data, after the last
// group was completed with r repeats of the last raster line.
int32_t KeptLines(const DCTState* state, const DCTComponent* comp, int32_t repeats) {
  const int32_t v = comp->vSamples, vmax = state->maxVSamples;
  const int32_t lines = (state->stripBlockLine + 1) * v;
  if (v == vmax) return lines - repeats;
  // V 2 under Vmax 4: with two or three repeats the group's second
  // component line is made of repeats alone; its first still holds image data.
  if (vmax == 4 && v == 2 && repeats >= 2) return lines - 1;
  return lines;
}

// Mirror-fills the partial block row after `kept` lines, then zeroes the
// strip's whole block rows below the image.
void FillBottom(const DCTComponent* comp, int32_t kept) {
  const int32_t width = comp->stripWidth;
  const int32_t total = 8 * comp->vSamples;
  int32_t next = kept;
  if (kept % 8 != 0) {
    uint8_t* blockRow = comp->strip + (kept / 8) * 8 * width;
    for (int32_t j = kept % 8; j < 8; j++) {
      CopyLine(blockRow + j * width, blockRow + kMirrorSource[j] * width, width);
    }
    next = (kept / 8 + 1) * 8;
  }
  if (next < total) {
    std::memset(comp->strip + next * width, 0, static_cast<size_t>((total - next) * width));
  }
}

}  // namespace

void DCTEInitCT(DCTState* state) {
  const bool pairs = UsesPairTables(state);
  const int32_t n = pairs ? kPairTableEntries : kSingleTableEntries;
  const ChromaConstants& c = pairs ? kPairChroma : kSingleChroma;
  if (state->colorTransform == kTransformYCCK) {
    BuildYcckTables(state->encCTTable, n, c);
  } else {
    BuildYCbCrTables(state->encCTTable, n, c);
  }
}

uint8_t* DCTEPointStrip(const DCTComponent* comp, int32_t subLine, int32_t group) {
  return comp->strip + (subLine + group * comp->vSamples) * comp->stripWidth;
}

void DCTEGetNCLine(DCTState* state) {
  ReplicateLastPixel(state);
  DCTEGetLineFrom(state, state->lineBuffer);
}

bool DCTEReadsLinesInPlace(const DCTState* state) {
  // The general layout converts its line in place; untransformed, it only
  // distributes it.
  const bool readOnly = state->hFastMode != kHFastGeneral || state->colorTransform == kTransformNone;
  return readOnly && state->paddedLineSamples == state->inputLineBytes;
}

void DCTEGetLineFrom(DCTState* state, const uint8_t* raster) {
  uint8_t* lines[4] = {};
  for (int32_t c = 0; c < state->Colors; c++) {
    lines[c] = DCTEPointStrip(&state->components[c], state->stripSubLine, state->stripBlockLine);
  }
  const bool lumaOnly = IsLumaOnlyLine(state);
  if (state->colorTransform != kTransformNone) {
    ConvertLine(state, raster, lines, lumaOnly);
  } else {
    DistributeLine(state, raster, lines, lumaOnly);
  }
  const int32_t vmax = state->maxVSamples;
  const int32_t lastOfGroup = state->stripSubLine == vmax - 1 && vmax >= 2;
  for (int32_t c = state->Colors - 1; c >= 0; c--) {
    DCTEFixRightBot(lines[c], &state->components[c], state, lastOfGroup);
  }
}

void DCTEFixRightBot(uint8_t* line, DCTComponent* comp, DCTState* state, int32_t lastLineOfGroup) {
  const int32_t k = comp->edgeSamples & 7;
  if (k != 0) {
    uint8_t* block = line + comp->lastBlockX;
    for (int32_t i = k; i < 8; i++) block[i] = block[kMirrorSource[i]];
  }
  const int32_t v = comp->vSamples;
  if (lastLineOfGroup && v != 0 && v < state->maxVSamples) ReduceGroup(line, comp, state);
}

void DCTEget_ovflines(DCTState* state) {
  int32_t repeats = 0;
  while (state->stripSubLine + 1 < state->maxVSamples) {
    state->stripSubLine++;
    DCTEGetNCLine(state);
    repeats++;
  }
  for (int32_t c = state->Colors - 1; c >= 0; c--) {
    const DCTComponent* comp = &state->components[c];
    FillBottom(comp, KeptLines(state, comp, repeats));
  }
  state->stripBlockLine = 7;
}
