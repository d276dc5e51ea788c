// scan_coder.cpp - one scan of a coefficient image (coefficient_image.h),
// counted into its Huffman tables or written with them.
//
// The four kinds of scan (ITU-T T.81 F.1.2 and G.1.2):
//   sequential      Ss 0, Se 63: DC difference, then AC run/size events
//                   with ZRL for 16 zeros and EOB
//   DC first        Ss 0, Se 0, Ah 0: the DC shifted right by Al, coded as
//                   differences (several components interleaved)
//   DC refinement   Ss 0, Ah > 0: bit Al of each DC, one raw bit, no codes
//   AC first        one component's band Ss..Se shifted by Al; runs of
//                   blocks with nothing left in the band are counted into
//                   end-of-band runs (EOBn symbols with n extra bits)
//   AC refinement   bit Al of the band: coefficients newly non-zero are
//                   coded as run/size 1 events with a sign bit; those
//                   non-zero before get their bit as a raw correction bit,
//                   sent after the next event (or with the end-of-band run)
// The same walk serves both passes; only `counting` tells whether a symbol
// is counted or written, so the counts are exactly the symbols written.
#include "codec/jpeg_markers.h"
#include "encode/coefficient_image.h"
#include "encode/encoder.h"

namespace {

constexpr int32_t kMaxEOBRun = 0x7FFF;      // longest end-of-band run one symbol codes
constexpr int32_t kMaxCorrectionBits = 937; // buffered before a run is sent: 1000 - 64 + 1
constexpr uint32_t kACLimit = 1024;         // AC magnitudes: category 10 at most
constexpr uint32_t kDCDiffLimit = 2048;     // DC differences: category 11 at most

struct Walk {
  DCTEScanCoder* coder;
  DCTEBitSink sink;
  const DCTEScan* scan;
  int32_t lastDC[4];
  uint32_t eobRun;
  int32_t correctionCount;                    // bits buffered for the end-of-band run
  uint8_t corrections[kMaxCorrectionBits + 64];
  int32_t restartCountdown;
  int32_t restartNumber;
};

int32_t Category(uint32_t v) { return 32 - __builtin_clz(2 * v + 1) - 1; }

uint32_t Magnitude(int32_t v) { return v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v); }

// v >> al rounded toward minus infinity (the shift of a two's complement value).
int32_t ShiftDown(int32_t v, int32_t al) { return v >= 0 ? v >> al : -((-v - 1) >> al) - 1; }

void PutRaw(Walk* w, uint32_t value, int32_t n) {
  if (w->coder->counting) w->coder->rawBits += static_cast<uint64_t>(n);
  if (w->coder->counting || n == 0) return;
  DCTEputBits(&w->sink, value & ((1u << n) - 1), n);
}

void PutSymbol(Walk* w, DCTEOptTable* t, int32_t symbol) {
  if (w->coder->counting) {
    t->freq[symbol]++;
    return;
  }
  if (t->size[symbol] == 0) DCTEmissingCode();
  DCTEputBits(&w->sink, t->code[symbol], t->size[symbol]);
}

// The low s bits of a value's magnitude code (negative: the complement).
uint32_t ValueBits(int32_t v, int32_t s) {
  return (v < 0 ? static_cast<uint32_t>(v) - 1 : static_cast<uint32_t>(v)) & ((1u << s) - 1);
}

void PutDCDiff(Walk* w, DCTEOptTable* t, int32_t diff) {
  const uint32_t m = Magnitude(diff);
  if (m >= kDCDiffLimit) DCTStmErr1("DC difference %ld too large for 8-bit coding", diff);
  const int32_t s = Category(m);
  PutSymbol(w, t, s);
  PutRaw(w, ValueBits(diff, s), s);
}

void PutAC(Walk* w, DCTEOptTable* t, int32_t run, int32_t value) {
  const uint32_t m = Magnitude(value);
  if (m >= kACLimit) DCTStmErr1("AC coefficient %ld too large for 8-bit coding", value);
  const int32_t s = Category(m);
  PutSymbol(w, t, run * 16 + s);
  PutRaw(w, ValueBits(value, s), s);
}

// Sends the pending end-of-band run and the correction bits it carries.
void FlushEOBRun(Walk* w) {
  if (w->eobRun == 0) return;
  const int32_t n = Category(w->eobRun) - 1;  // 2^n <= run < 2^(n+1)
  PutSymbol(w, w->coder->ac[0], n * 16);
  PutRaw(w, w->eobRun, n);
  for (int32_t i = 0; i < w->correctionCount; i++) PutRaw(w, w->corrections[i], 1);
  w->eobRun = 0;
  w->correctionCount = 0;
}

void SequentialBlock(Walk* w, int32_t j, const int16_t* b) {
  PutDCDiff(w, w->coder->dc[j], b[0] - w->lastDC[j]);
  w->lastDC[j] = b[0];
  int32_t run = 0;
  for (int32_t k = 1; k < 64; k++) {
    if (b[k] == 0) {
      run++;
      continue;
    }
    for (; run > 15; run -= 16) PutSymbol(w, w->coder->ac[j], 0xF0);
    PutAC(w, w->coder->ac[j], run, b[k]);
    run = 0;
  }
  if (run > 0) PutSymbol(w, w->coder->ac[j], 0x00);
}

void DCFirstBlock(Walk* w, int32_t j, const int16_t* b) {
  const int32_t dc = ShiftDown(b[0], w->scan->al);
  PutDCDiff(w, w->coder->dc[j], dc - w->lastDC[j]);
  w->lastDC[j] = dc;
}

void DCRefineBlock(Walk* w, const int16_t* b) {
  PutRaw(w, static_cast<uint32_t>(ShiftDown(b[0], w->scan->al)), 1);
}

void ACFirstBlock(Walk* w, const int16_t* b) {
  DCTEOptTable* t = w->coder->ac[0];
  int32_t run = 0;
  for (int32_t k = w->scan->ss; k <= w->scan->se; k++) {
    const int32_t m = static_cast<int32_t>(Magnitude(b[k]) >> w->scan->al);
    if (m == 0) {
      run++;
      continue;
    }
    FlushEOBRun(w);
    for (; run > 15; run -= 16) PutSymbol(w, t, 0xF0);
    PutAC(w, t, run, b[k] < 0 ? -m : m);
    run = 0;
  }
  if (run > 0 && ++w->eobRun == kMaxEOBRun) FlushEOBRun(w);
}

// The last position of the band whose coefficient becomes non-zero in this
// scan (its magnitude >> Al is exactly 1); Ss - 1 when none does.
int32_t LastNewlyNonZero(const int16_t* b, const DCTEScan* s) {
  int32_t last = s->ss - 1;
  for (int32_t k = s->ss; k <= s->se; k++)
    if ((Magnitude(b[k]) >> s->al) == 1) last = k;
  return last;
}

void ACRefineBlock(Walk* w, const int16_t* b) {
  DCTEOptTable* t = w->coder->ac[0];
  const int32_t eob = LastNewlyNonZero(b, w->scan);
  uint8_t pending[64];  // correction bits of this block not sent yet
  int32_t count = 0, run = 0;
  for (int32_t k = w->scan->ss; k <= w->scan->se; k++) {
    const uint32_t m = Magnitude(b[k]) >> w->scan->al;
    if (m == 0) {
      run++;
      continue;
    }
    for (; run > 15 && k <= eob; run -= 16) {
      FlushEOBRun(w);
      PutSymbol(w, t, 0xF0);
      for (int32_t i = 0; i < count; i++) PutRaw(w, pending[i], 1);
      count = 0;
    }
    if (m > 1) {  // non-zero before: its correction bit
      pending[count++] = static_cast<uint8_t>(m & 1);
      continue;
    }
    FlushEOBRun(w);
    PutSymbol(w, t, run * 16 + 1);
    PutRaw(w, b[k] < 0 ? 0 : 1, 1);
    for (int32_t i = 0; i < count; i++) PutRaw(w, pending[i], 1);
    count = run = 0;
  }
  if (run == 0 && count == 0) return;
  w->eobRun++;
  for (int32_t i = 0; i < count; i++) w->corrections[w->correctionCount++] = pending[i];
  if (w->eobRun == kMaxEOBRun || w->correctionCount > kMaxCorrectionBits) FlushEOBRun(w);
}

void CodeBlock(Walk* w, int32_t j, const int16_t* b) {
  const DCTEScan* s = w->scan;
  if (s->ss == 0 && s->se == 63)
    SequentialBlock(w, j, b);
  else if (s->ss == 0 && s->ah == 0)
    DCFirstBlock(w, j, b);
  else if (s->ss == 0)
    DCRefineBlock(w, b);
  else if (s->ah == 0)
    ACFirstBlock(w, b);
  else
    ACRefineBlock(w, b);
}

// Before each MCU: at the end of a restart interval, the pending run goes
// out, the bits are padded and RSTn written, and prediction starts again.
void Restart(Walk* w, const DCTECoefImage* image) {
  if (image->restartInterval == 0) return;
  if (w->restartCountdown-- > 0) return;
  w->restartCountdown = image->restartInterval - 1;
  FlushEOBRun(w);
  for (int32_t& dc : w->lastDC) dc = 0;
  if (w->coder->counting) return;
  DCTEpadToByte(&w->sink);
  DCTEputByte(w->sink.target, kMarkerPrefix);
  DCTEputByte(w->sink.target, kRST0 + static_cast<uint32_t>(w->restartNumber));
  w->restartNumber = (w->restartNumber + 1) & 7;
}

void InterleavedScan(Walk* w, const DCTECoefImage* image) {
  for (int32_t row = 0; row < image->mcuRows; row++) {
    for (int32_t mcu = 0; mcu < image->mcusPerRow; mcu++) {
      Restart(w, image);
      for (int32_t j = 0; j < w->scan->count; j++) {
        const DCTECoefPlane* p = &image->plane[w->scan->planes[j]];
        for (int32_t v = 0; v < p->v; v++)
          for (int32_t h = 0; h < p->h; h++) CodeBlock(w, j, DCTECoefBlock(p, mcu * p->h + h, row * p->v + v));
      }
    }
  }
}

void SingleScan(Walk* w, const DCTECoefImage* image) {
  const DCTECoefPlane* p = &image->plane[w->scan->planes[0]];
  for (int32_t by = 0; by < p->codedHigh; by++) {
    for (int32_t bx = 0; bx < p->codedWide; bx++) {
      Restart(w, image);
      CodeBlock(w, 0, DCTECoefBlock(p, bx, by));
    }
  }
}

}  // namespace

void DCTECodeScan(DCTEScanCoder* coder, const DCTECoefImage* image, const DCTEScan* scan) {
  Walk w = {};
  w.coder = coder;
  w.scan = scan;
  w.restartCountdown = image->restartInterval;  // the first interval has no marker before it
  if (!coder->counting) w.sink = DCTELoadSink(coder->state);
  if (scan->count > 1)
    InterleavedScan(&w, image);
  else
    SingleScan(&w, image);
  FlushEOBRun(&w);
  if (!coder->counting) DCTEStoreSink(coder->state, &w.sink);
}
