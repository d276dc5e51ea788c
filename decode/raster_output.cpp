// raster_output.cpp - the decoder's output stage: from component strips to
// interleaved raster lines.
//
// After the entropy decoder has filled one strip (8 x maxVSamples raster lines)
// into the per-component strip buffers, DCTPutNCLine is called once per
// output line: it picks each component's strip row (vertical upsampling,
// DCTStripRowOfLine), interleaves the components into pixels while widening
// subsampled ones (horizontal upsampling), and converts YCbCr to RGB or YCCK
// to CMYK through two packed lookup tables (DCTDInitCT). The common layouts
// (hFastMode 1..5) run in one pass; everything else goes through a general
// interleaver and an in-place conversion pass. With vFastMode and no
// conversion, the lines of a block line after its first only change by
// component 0 and are updated from the previous line still held in
// lineBuffer. CMYK that another encoder stored with inverted ink is turned
// back (0 = no ink) as the line's last step. A reduced image
// (scaled_idct.cpp) whose subsampled components came out of the inverse DCT
// larger than their sampling says goes through ReducedLine, which upsamples
// each by what is left.
//
// Bounds: every loop works in whole groups of maxHSamples pixels and stops
// at paddedLineSamples (a whole number of such groups), so nothing is written
// past it; component reads stay inside the strip rows (rows cover whole
// MCUs, and a single-component copy is cut at the row length).
#include <cstring>

#include "codec/wrap_arith.h"
#include "decode/decoder.h"
#include "simd/kernels.h"
#include "simd/ycc_words.h"

namespace {

// The coefficients of the YCbCr table words: simd/ycc_words.h.
constexpr int32_t kCmyBiasRB = 16711680;    // 255 * 65536
constexpr int32_t kCmyBiasG = 267386880;    // 255 * 16 * 65536
constexpr int kGreenShift = 20;       // 16 (high half) + 4 (1/16 units)
constexpr uint32_t kOutOfRange = 0x700;  // bits 8..10: result outside 0..255
constexpr uint32_t kNegative = 0x400;    // bit 10: result below 0

// The packed table word: high half of `high` plus the 16-bit field of `low`
// taken from its bits 16..31.
inline uint32_t PackWord(int32_t high, int32_t low) {
  return (static_cast<uint32_t>(high) & 0xFFFF0000u) +
         (static_cast<uint32_t>(low >> 16) & 0xFFFFu);
}

inline int32_t AsSigned(uint32_t v) { return static_cast<int32_t>(v); }

// Stores the low bytes of three conversion results and clamps out-of-range
// ones (rare, so the fix-up stays out of line).
inline void StoreThree(uint32_t first, uint32_t second, uint32_t third, uint8_t* px) {
  px[0] = static_cast<uint8_t>(first);
  px[1] = static_cast<uint8_t>(second);
  px[2] = static_cast<uint8_t>(third);
  if (((first | second | third) & kOutOfRange) != 0) {
    DCTDClampPixel(AsSigned(first), AsSigned(second), AsSigned(third), px + 3);
  }
}

// floor(G share) from the two table words (the carry of the low halves is
// part of the sum on purpose).
inline uint32_t GreenShare(uint32_t cbWord, uint32_t crWord) {
  return static_cast<uint32_t>(AsSigned(cbWord + crWord) >> kGreenShift);
}

// One YCbCr pixel to RGB; `share` = GreenShare of the pixel's chroma words.
inline void RgbPixel(uint32_t y, uint32_t cbWord, uint32_t crWord, uint32_t share,
                     uint8_t* px) {
  StoreThree(y + crWord, y - share, y + cbWord, px);
}

// One YCC pixel to CMY (tables carry the -255 bias).
inline void CmyPixel(uint32_t y, uint32_t cbWord, uint32_t crWord, uint32_t share,
                     uint8_t* px) {
  const uint32_t negY = 0u - y;
  StoreThree(negY - crWord, negY + share, negY - cbWord, px);
}

struct Tables {
  const uint32_t* cb;
  const uint32_t* cr;
};

// --- vertical fast path -------------------------------------------------------

// Lines after the first of a block line when only component 0 changes and
// nothing is converted: component 0's samples are stored over the previous
// line, the other components' bytes stay. (Converted lines are recomputed in
// full: updating stored results by the change of component 0 would carry a
// clamped value's error into every following line.)
void VerticalUpdate(const DCTState* st, const uint8_t* c0, uint8_t* out, int32_t pixels) {
  const int32_t step = st->Colors;
  for (int32_t x = 0; x < pixels; ++x) out[step * x] = c0[x];
}

// --- horizontal fast modes ------------------------------------------------------

// Mode 1: three components sampled 2, 1, 1, no conversion.
void Mode1(const uint8_t* const* c, uint8_t* out, int32_t pairs) {
  const uint8_t* c0 = c[0];
  const uint8_t* c1 = c[1];
  const uint8_t* c2 = c[2];
  for (int32_t k = 0; k < pairs; ++k, out += 6) {
    out[0] = c0[2 * k];
    out[1] = c1[k];
    out[2] = c2[k];
    out[3] = c0[2 * k + 1];
    out[4] = c1[k];
    out[5] = c2[k];
  }
}

// Mode 2: YCbCr, all components at full horizontal resolution; mode 3:
// luma sampled 2 and chroma 1 (the kernel table's conversions).
void Mode2(const uint8_t* const* c, Tables t, uint8_t* out, int32_t pixels) {
  DCTActiveKernels().yccToRGB(t.cb, t.cr, c[0], c[1], c[2], out, pixels);
}

void Mode3(const uint8_t* const* c, Tables t, uint8_t* out, int32_t pairs) {
  DCTActiveKernels().yccPairsToRGB(t.cb, t.cr, c[0], c[1], c[2], out, pairs);
}

// Mode 4: YCCK, all at full horizontal resolution; K passes through.
void Mode4(const uint8_t* const* c, Tables t, uint8_t* out, int32_t pixels) {
  const uint32_t* const cbT = t.cb;  // local copies: the byte stores below
  const uint32_t* const crT = t.cr;  // cannot make them be reloaded
  const uint8_t* c0 = c[0];
  const uint8_t* c1 = c[1];
  const uint8_t* c2 = c[2];
  const uint8_t* c3 = c[3];
  for (int32_t x = 0; x < pixels; ++x, out += 4) {
    const uint32_t cbWord = cbT[c1[x]];
    const uint32_t crWord = crT[c2[x]];
    CmyPixel(c0[x], cbWord, crWord, GreenShare(cbWord, crWord), out);
    out[3] = c3[x];
  }
}

// Mode 5: YCCK with Y and K sampled 2, chroma 1.
void Mode5(const uint8_t* const* c, Tables t, uint8_t* out, int32_t pairs) {
  const uint32_t* const cbT = t.cb;  // local copies: the byte stores below
  const uint32_t* const crT = t.cr;  // cannot make them be reloaded
  const uint8_t* c0 = c[0];
  const uint8_t* c1 = c[1];
  const uint8_t* c2 = c[2];
  const uint8_t* c3 = c[3];
  for (int32_t k = 0; k < pairs; ++k, out += 8) {
    const uint32_t cbWord = cbT[c1[k]];
    const uint32_t crWord = crT[c2[k]];
    const uint32_t share = GreenShare(cbWord, crWord);
    CmyPixel(c0[2 * k], cbWord, crWord, share, out);
    out[3] = c3[2 * k];
    CmyPixel(c0[2 * k + 1], cbWord, crWord, share, out + 4);
    out[7] = c3[2 * k + 1];
  }
}

// --- general interleave -----------------------------------------------------------

// Spreads one component's samples over `groups` groups of hMax pixels, `step`
// bytes per pixel; the component has `h` samples per group.
template <int step>
void Spread(const uint8_t* s, int32_t h, int32_t hMax, uint8_t* out, int32_t groups) {
  if (h == hMax) {  // full resolution
    const int32_t pixels = groups * hMax;
    for (int32_t x = 0; x < pixels; ++x) out[step * x] = s[x];
    return;
  }
  if (h == 1) {  // one sample repeated over the group
    for (int32_t k = 0; k < groups; ++k, out += step * hMax) {
      for (int32_t j = 0; j < hMax; ++j) out[step * j] = s[k];
    }
    return;
  }
  if (hMax == 4 && h == 2) {  // s1 s1 s2 s2
    for (int32_t k = 0; k < groups; ++k, s += 2, out += 4 * step) {
      out[0] = out[step] = s[0];
      out[2 * step] = out[3 * step] = s[1];
    }
    return;
  }
  if (hMax == 4) {  // h 3: s1 s2 s2 s3
    for (int32_t k = 0; k < groups; ++k, s += 3, out += 4 * step) {
      out[0] = s[0];
      out[step] = out[2 * step] = s[1];
      out[3 * step] = s[2];
    }
    return;
  }
  // hMax 3, h 2: the middle pixel is the rounded mean of its neighbours.
  for (int32_t k = 0; k < groups; ++k, s += 2, out += 3 * step) {
    out[0] = s[0];
    out[step] = static_cast<uint8_t>((s[0] + s[1] + 1) >> 1);
    out[2 * step] = s[1];
  }
}

// h[i]: samples of component i per group of hMax pixels.
template <int colors>
void InterleaveAll(const int32_t* h, int32_t hMax, const uint8_t* const* c, uint8_t* out, int32_t groups) {
  for (int i = 0; i < colors; ++i) Spread<colors>(c[i], h[i], hMax, out + i, groups);
}

void Interleave(const DCTState* st, const int32_t* h, const uint8_t* const* c, uint8_t* out,
                int32_t pixels) {
  const int32_t groups = pixels / st->maxHSamples;
  switch (st->Colors) {
    case 2: InterleaveAll<2>(h, st->maxHSamples, c, out, groups); break;
    case 3: InterleaveAll<3>(h, st->maxHSamples, c, out, groups); break;
    default: InterleaveAll<4>(h, st->maxHSamples, c, out, groups); break;
  }
}

// In-place conversion of an interleaved line of `pixels` pixels.
void ConvertLine(const DCTState* st, Tables t, uint8_t* px, int32_t pixels) {
  const uint32_t* const cbT = t.cb;  // local copies: the byte stores below
  const uint32_t* const crT = t.cr;  // cannot make them be reloaded
  if (st->colorTransform == kTransformYCbCr) {
    for (int32_t x = 0; x < pixels; ++x, px += 3) {
      const uint32_t cbWord = cbT[px[1]];
      const uint32_t crWord = crT[px[2]];
      RgbPixel(px[0], cbWord, crWord, GreenShare(cbWord, crWord), px);
    }
  } else if (st->colorTransform == kTransformYCCK) {
    for (int32_t x = 0; x < pixels; ++x, px += 4) {
      const uint32_t cbWord = cbT[px[1]];
      const uint32_t crWord = crT[px[2]];
      CmyPixel(px[0], cbWord, crWord, GreenShare(cbWord, crWord), px);
    }
  }
}

// Lines through the general path: a plain copy for one component, else
// interleave then convert.
void GeneralLine(const DCTState* st, const uint8_t* const* c, Tables t, uint8_t* out,
                 int32_t pixels) {
  if (st->Colors == 1) {
    // Cut at the row length: a single component's row may be shorter than
    // the padded line when its H factor does not divide 8, and the bytes
    // past it are never delivered (they lie beyond Columns).
    int32_t bytes = st->paddedLineSamples;
    if (bytes > st->components[0].stripWidth) bytes = st->components[0].stripWidth;
    std::memcpy(out, c[0], static_cast<size_t>(bytes));
    return;
  }
  const int32_t h[4] = {st->components[0].hSamples, st->components[1].hSamples, st->components[2].hSamples,
                        st->components[3].hSamples};
  Interleave(st, h, c, out, pixels);
  if (st->colorTransform != kTransformNone) ConvertLine(st, t, out, pixels);
}

// --- reduced images ---------------------------------------------------------------

// A line of a reduced image in which some subsampled component came out of
// the inverse DCT larger than its sampling says (DCTComponentSide): such a
// component is upsampled by what is left, its factors times the growth.
// Components all at the line's resolution convert in one pass.
void ReducedLine(const DCTState* st, int32_t blockLine, int32_t subLine, Tables t, uint8_t* out,
                 int32_t pixels) {
  const int32_t side = DCTBlockSide(st);
  const uint8_t* c[4] = {nullptr, nullptr, nullptr, nullptr};
  int32_t h[4] = {0, 0, 0, 0};
  bool full = true;
  for (int32_t i = 0; i < st->Colors && i < 4; i++) {
    const DCTComponent& comp = st->components[i];
    const int32_t growth = DCTComponentSide(st, &comp) / side;
    const int32_t row = DCTStripRowOfLine(blockLine, subLine, st->maxVSamples, comp.vSamples * growth);
    c[i] = comp.strip + static_cast<intptr_t>(comp.stripWidth) * row;
    h[i] = comp.hSamples * growth;
    full = full && h[i] == st->maxHSamples && comp.vSamples * growth == st->maxVSamples;
  }
  if (full && st->colorTransform == kTransformYCbCr) {
    Mode2(c, t, out, pixels);
  } else if (full && st->colorTransform == kTransformYCCK) {
    Mode4(c, t, out, pixels);
  } else {
    Interleave(st, h, c, out, pixels);
    if (st->colorTransform != kTransformNone) ConvertLine(st, t, out, pixels);
  }
}

// Whether some component of a reduced image grew in the inverse DCT.
bool SomeComponentGrew(const DCTState* st) {
  if (st->scaleDenominator <= 1) return false;
  for (int32_t i = 0; i < st->Colors && i < 4; i++) {
    if (DCTComponentSide(st, &st->components[i]) != DCTBlockSide(st)) return true;
  }
  return false;
}

// Turns a line of ink values between the two polarities (0 = no ink and
// 255 = no ink): every sample becomes 255 minus itself.
void InvertSamples(uint8_t* line, int32_t bytes) {
  for (int32_t i = 0; i < bytes; ++i) line[i] = static_cast<uint8_t>(~line[i]);
}

}  // namespace

void DCTDYCbCrToRGBScalar(const uint32_t* cbTable, const uint32_t* crTable, const uint8_t* y,
                          const uint8_t* cb, const uint8_t* cr, uint8_t* rgb, int32_t count) {
  const uint32_t* const cbT = cbTable;  // local copies: the byte stores below
  const uint32_t* const crT = crTable;  // cannot make them be reloaded
  for (int32_t x = 0; x < count; ++x, rgb += 3) {
    const uint32_t cbWord = cbT[cb[x]];
    const uint32_t crWord = crT[cr[x]];
    RgbPixel(y[x], cbWord, crWord, GreenShare(cbWord, crWord), rgb);
  }
}

// Chroma looked up once per pixel pair.
void DCTDYCbCrPairsToRGBScalar(const uint32_t* cbTable, const uint32_t* crTable, const uint8_t* y,
                               const uint8_t* cb, const uint8_t* cr, uint8_t* rgb, int32_t count) {
  const uint32_t* const cbT = cbTable;
  const uint32_t* const crT = crTable;
  for (int32_t k = 0; k < count; ++k, rgb += 6) {
    const uint32_t cbWord = cbT[cb[k]];
    const uint32_t crWord = crT[cr[k]];
    const uint32_t share = GreenShare(cbWord, crWord);
    RgbPixel(y[2 * k], cbWord, crWord, share, rgb);
    RgbPixel(y[2 * k + 1], cbWord, crWord, share, rgb + 3);
  }
}

void DCTDInitCT(DCTState* state) {
  uint32_t* cbTable = state->decCTTable[0];
  uint32_t* crTable = state->decCTTable[1];
  if (cbTable == nullptr || crTable == nullptr) return;  // no transform, no tables
  const bool cmy = state->colorTransform != kTransformYCbCr;
  const int32_t gBias = cmy ? kGreenBias + kCmyBiasG : kGreenBias;
  const int32_t rbBias = cmy ? kHalf - kCmyBiasRB : kHalf;
  for (int32_t i = 0; i < 256; ++i) {
    const int32_t d = i - 128;
    cbTable[i] = PackWord(WrapAdd(WrapMul(kCbToG16, d), gBias), WrapAdd(WrapMul(kCbToB, d), rbBias));
    crTable[i] = PackWord(WrapMul(kCrToG16, d), WrapAdd(WrapMul(kCrToR, d), rbBias));
  }
}

int32_t DCTStripRowOfLine(int32_t blockLine, int32_t subLine, int32_t maxV, int32_t v) {
  if (v < 2) return blockLine;
  int32_t offset = subLine;
  if (maxV == 4 && v == 2) {
    offset = subLine >> 1;
  } else if (maxV == 4 && v == 3) {
    offset = (subLine + 1) >> 1;
  } else if (maxV != 4 && v == maxV - 1) {
    offset = subLine >> 1;
  }
  return blockLine * v + offset;
}

void DCTDClampPixel(int32_t r, int32_t g, int32_t b, uint8_t* pixelEnd) {
  const int32_t results[3] = {r, g, b};
  for (int i = 0; i < 3; ++i) {
    const uint32_t bits = static_cast<uint32_t>(results[i]) & kOutOfRange;
    if (bits != 0) pixelEnd[i - 3] = (bits & kNegative) != 0 ? 0 : 255;
  }
}

void DCTPutNCLine(DCTState* state, int32_t blockLine, int32_t subLine) {
  const uint8_t* c[4] = {nullptr, nullptr, nullptr, nullptr};
  const int32_t colors = state->Colors;
  for (int32_t i = 0; i < colors && i < 4; ++i) {
    const DCTComponent& comp = state->components[i];
    const int32_t row = DCTStripRowOfLine(blockLine, subLine, state->maxVSamples, comp.vSamples);
    c[i] = comp.strip + static_cast<intptr_t>(comp.stripWidth) * row;
  }
  uint8_t* out = state->lineBuffer;
  const int32_t pixels = colors > 0 ? state->paddedLineSamples / colors : 0;
  if (SomeComponentGrew(state)) {
    ReducedLine(state, blockLine, subLine, {state->decCTTable[0], state->decCTTable[1]}, out, pixels);
  } else if (subLine > 0 && state->vFastMode == kVFastLumaOnly && state->colorTransform == kTransformNone &&
      colors >= 2 &&
      colors <= 3) {
    VerticalUpdate(state, c[0], out, pixels);
  } else {
    const Tables t = {state->decCTTable[0], state->decCTTable[1]};
    switch (state->hFastMode) {
      case kHFastPlain211: Mode1(c, out, pixels / 2); break;
      case kHFastYCbCr111: Mode2(c, t, out, pixels); break;
      case kHFastYCbCr211: Mode3(c, t, out, pixels / 2); break;
      case kHFastYCCK1111: Mode4(c, t, out, pixels); break;
      case kHFastYCCK2112: Mode5(c, t, out, pixels / 2); break;
      default: GeneralLine(state, c, t, out, pixels); break;
    }
  }
  if (state->invertInks) InvertSamples(out, state->paddedLineSamples);
}
