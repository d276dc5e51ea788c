// marker_writer.cpp - everything in the encoded stream that is not entropy
// coded data, and the per-line driver DCTEFlush.
//
// On the first raster line DCTEFlush writes the header: SOI, the marker data
// the filter assembled (JFIF APP0 and the caller's segments), the APP14
// colour-transform segment (in the portable layout under the identifier
// other programs expect, the CMYK lines then inverted as they are taken
// in), one DQT, SOF0, one DHT (with the table set picked
// from the quality factor), DRI and SOS; with tables built for the image or
// progressive scans (SOF2) the header ends at the frame header and the rest
// follows the last strip (coefficient_image.h). Then every line goes into the
// component strips (strip_input.cpp); each complete strip of 8 x Vmax lines
// is coded at once (block_coder.cpp); after the last line the strip is
// completed and coded, the bits padded with 1s, EOI written and the strip
// memory released. Header segments are written while the bit buffer is
// empty, so nothing in them is padded or stuffed. Multi-byte fields are
// big-endian (ITU-T T.81 B.1.1.4).
#include "codec/jpeg_markers.h"
#include "encode/coefficient_image.h"
#include "encode/encoder.h"
#include "parallel/strip_jobs.h"

namespace {

constexpr int32_t kAPP14Version = 100;
constexpr int32_t kDCSpecBytes = 28;   // BITS[16] + 12 DC categories
constexpr int32_t kACSpecBytes = 178;  // BITS[16] + 162 AC symbols

void PutBlock(DCTState* state, const uint8_t* bytes, uint32_t n) {
  StmFWrite(bytes, 1, n, state->targetStm);
}

void DCTEgenMarkers(DCTState* state) {
  PutBlock(state, state->markerData, static_cast<uint32_t>(state->markerDataLength));
}

// The identifier other programs expect in a colour segment of this layout
// (five bytes, no zero). Under it, four components with transform 0 are
// untransformed CMYK with inverted ink: the portable layout.
constexpr uint8_t kPeerColourSegmentIdentifier[kColourSegmentIdentifierBytes] = {0x41, 0x64, 0x6F,
                                                                                  0x62, 0x65};

// APP14: the identifier (ours, or in the portable layout the one other
// programs expect), version, the two flag words and the colour transform.
void DCTEgenFOSeg(DCTState* state) {
  DCTEsputmarker(state, kAPP14);
  DCTEsput16(state, 2 + kColourSegmentBodyBytes);
  PutBlock(state,
           state->invertInks ? kPeerColourSegmentIdentifier
                             : reinterpret_cast<const uint8_t*>(kColourSegmentIdentifier),
           kColourSegmentIdentifierBytes);
  DCTEsput16(state, kAPP14Version);
  DCTEsput16(state, state->app14Flags0);
  DCTEsput16(state, state->app14Flags1);
  DCTEsput8(state, state->colorTransform);
}

// One DQT holding every table, 8-bit entries in zigzag order.
void DCTEgenDQT(DCTState* state, int32_t firstTable) {
  DCTEsputmarker(state, kDQT);
  DCTEsput16(state, 65 * state->qTableCount + 2);
  for (int32_t k = firstTable; k < state->qTableCount; k++) {
    DCTEsput8(state, k);  // Pq = 0 (8-bit), Tq = k
    for (int32_t j = 0; j < 64; j++) DCTEsput8(state, state->qTable[k][j] & 0xFF);
  }
}

// Component identifiers 1, 2, ...; three untransformed components (written
// without a JFIF segment) are 'R', 'G', 'B', by which other programs take
// them for RGB.
int32_t ComponentId(const DCTState* state, int32_t i) {
  constexpr uint8_t kRGB[3] = {'R', 'G', 'B'};
  return state->Colors == 3 && state->colorTransform == kTransformNone ? kRGB[i] : i + 1;
}

void DCTEgenSOF(DCTState* state, int32_t precision, int32_t markerCode) {
  DCTEsputmarker(state, markerCode);
  DCTEsput16(state, 3 * state->Colors + 8);
  DCTEsput8(state, precision);
  DCTEsput16(state, state->Rows);
  DCTEsput16(state, state->Columns);
  DCTEsput8(state, state->Colors);
  for (int32_t i = 0; i < state->Colors; i++) {
    const DCTComponent* c = &state->components[i];
    DCTEsput8(state, ComponentId(state, i));
    DCTEsput8(state, c->hSamples * 16 + c->vSamples);
    DCTEsput8(state, c->qTableSel);
  }
}

int32_t DCTEcount_huff(const uint8_t bits[16]) {
  int32_t n = 0;
  for (int32_t i = 0; i < 16; i++) n += bits[i];
  return n;
}

// Quality factors (qFactorFixed, 16.16 fixed point) that bound the table
// sets: a factor below kQFactorSet<N>Below gets set N or a finer one. Set 0
// serves factors of 93/64 (1.453125) and above; AC set 4 has no DC set of
// its own, its factors take DC set 3.
constexpr int32_t kQFactorSet4Below = kQFactorOne / 32;      // 2048, 0.03125
constexpr int32_t kQFactorSet3Below = kQFactorOne / 8;       // 8192, 0.125
constexpr int32_t kQFactorSet2Below = kQFactorOne * 3 / 4;   // 49152, 0.75
constexpr int32_t kQFactorSet1Below = kQFactorOne * 93 / 64; // 95232, 1.453125

// The DC and AC table sets for a quality factor: coarser quantization gets
// the AC tables with the smaller alphabets (WideEnoughACSet then makes sure
// they hold every coefficient size the quantizers allow).
void PickTableSets(int32_t qFactorFixed, int32_t* dcSet, int32_t* acSet) {
  if (qFactorFixed < kQFactorSet3Below) {
    *dcSet = 3;
    *acSet = qFactorFixed < kQFactorSet4Below ? 4 : 3;
  } else if (qFactorFixed < kQFactorSet2Below) {
    *dcSet = *acSet = 2;
  } else if (qFactorFixed < kQFactorSet1Below) {
    *dcSet = *acSet = 1;
  } else {
    *dcSet = *acSet = 0;
  }
}

// Writes one table (class/identifier byte, BITS and HUFFVAL). The code table
// is built from a copy of the specification, so its storage may overlap
// the specification's.
void WriteDCTable(DCTState* state, int32_t i) {
  DCTEHuffDC* t = &state->dcHuffTable[i];
  uint8_t copy[kDCSpecBytes];
  for (int32_t b = 0; b < kDCSpecBytes; b++) copy[b] = t->spec[b];
  os_fputc(static_cast<int16_t>(i), state->targetStm);
  PutBlock(state, t->spec, static_cast<uint32_t>(16 + t->count));
  DCTEmake_huffenc(state, copy, t->code, t->length, 0);
}

void WriteACTable(DCTState* state, int32_t i) {
  DCTEHuffAC* t = &state->acHuffTable[i];
  uint8_t copy[kACSpecBytes];
  for (int32_t b = 0; b < kACSpecBytes; b++) copy[b] = t->spec[b];
  os_fputc(static_cast<int16_t>(0x10 + i), state->targetStm);
  PutBlock(state, t->spec, static_cast<uint32_t>(16 + t->count));
  DCTEmake_huffenc(state, copy, t->code, t->length, 1);
}

// Largest magnitude category the block coder can meet with quantization
// table k: at each AC position the largest coefficient 8-bit samples give
// (plus a little for the integer transform's rounding) over the step,
// rounded as the coder rounds.
int32_t ACCategoryBound(const DCTState* state, int32_t k) {
  constexpr int32_t kTransformSlack = 3;  // peak + slack stays below 1023.5: category <= 10
  int32_t bound = 0;
  for (int32_t j = 1; j < 64; j++) {
    const int32_t q = state->qTable[k][j];  // unscaled: the header is written before scaling
    const int32_t peak = DCTEACPeak[DCTunzigzag[j]] + kTransformSlack;
    const int32_t m = (2 * peak + q) / (2 * q);
    int32_t category = 0;
    while ((1 << category) <= m) category++;
    if (category > bound) bound = category;
  }
  return bound;
}

int32_t LargestACSize(const uint8_t* spec, int32_t specBytes) {
  int32_t largest = 0;
  for (int32_t i = 16; i < specBytes; i++)
    if ((spec[i] & 15) > largest) largest = spec[i] & 15;
  return largest;
}

// The AC set for table slot i (whose components use quantization table i):
// the quality factor's set, or the next wider one as long as that lacks a
// size the quantizers allow. Sets with higher numbers have the wider
// alphabets; the last ones code every baseline event. (The coarsest set
// codes sizes up to 6 only, while the capped steps, 12 at most at the high
// frequencies, let a sharp edge reach size 7; such factors get set 1.)
int32_t WideEnoughACSet(const DCTState* state, int32_t set, int32_t slot) {
  constexpr int32_t kACSets = 5;
  const int32_t bound = ACCategoryBound(state, slot);
  while (set < kACSets - 1 && LargestACSize(atsptrs[2 * set + slot], atsLen[2 * set + slot]) < bound)
    set++;
  return set;
}

void DCTEgenDHT(DCTState* state) {
  int32_t d, a;
  PickTableSets(state->qFactorFixed, &d, &a);
  int32_t length = 2;
  for (int32_t i = 0; i < state->dcTableCount; i++) {
    DCTEHuffDC* t = &state->dcHuffTable[i];
    for (int32_t b = 0; b < kDCSpecBytes; b++) t->spec[b] = dtsbits[2 * d + i][b];
    t->count = DCTEcount_huff(t->spec);
    length += 17 + t->count;
  }
  for (int32_t i = 0; i < state->acTableCount; i++) {
    DCTEHuffAC* t = &state->acHuffTable[i];
    const int32_t set = WideEnoughACSet(state, a, i);
    const int32_t n = atsLen[2 * set + i];
    for (int32_t b = 0; b < n; b++) t->spec[b] = atsptrs[2 * set + i][b];
    for (int32_t b = n; b < kACSpecBytes; b++) t->spec[b] = 0;
    t->count = DCTEcount_huff(t->spec);
    length += 17 + t->count;
  }
  DCTEsputmarker(state, kDHT);
  DCTEsput16(state, length);
  for (int32_t i = 0; i < state->dcTableCount; i++) WriteDCTable(state, i);
  for (int32_t i = 0; i < state->acTableCount; i++) WriteACTable(state, i);
}

void DCTEgenResync(DCTState* state) {
  DCTEsputmarker(state, kDRI);
  DCTEsput16(state, 4);
  DCTEsput16(state, state->restartInterval);
}

void DCTEgenSOS(DCTState* state) {
  DCTEsputmarker(state, kSOS);
  DCTEsput16(state, 2 * state->Colors + 6);
  DCTEsput8(state, state->Colors);
  for (int32_t i = 0; i < state->Colors; i++) {
    const DCTComponent* c = &state->components[i];
    DCTEsput8(state, ComponentId(state, i));
    DCTEsput8(state, c->dcTableSel * 16 + c->acTableSel);
  }
  DCTEsput16(state, 0x003F);  // Ss = 0, Se = 63
  DCTEsput8(state, 0);        // Ah = Al = 0
}

bool BuffersImage(const DCTState* state) { return state->optimizeTables || state->progressiveScans; }

// With tables built for the image (or progressive scans) the header stops
// after the frame header: the tables, DRI and scans follow the last strip
// (scan_writer.cpp), from the coefficients kept until then.
void DCTEgenHeader(DCTState* state) {
  DCTEsputmarker(state, kSOI);
  DCTEgenMarkers(state);
  DCTEgenFOSeg(state);
  DCTEgenDQT(state, 0);
  DCTEgenSOF(state, 8, state->progressiveScans ? kSOF2 : kSOF0);
  if (BuffersImage(state)) {
    DCTEBeginCoefImage(state);
    for (int32_t i = 0; i < state->Colors; i++) state->coefImage->plane[i].id = ComponentId(state, i);
    return;
  }
  DCTEgenDHT(state);
  if (state->restartInterval != 0) DCTEgenResync(state);
  DCTEgenSOS(state);
}

// Header, restart bookkeeping and transform scaling, on the first line.
void StartImage(DCTState* state) {
  DCTEgenHeader(state);
  if (state->restartInterval != 0) {
    state->restartCountdown = state->restartInterval + 1;
    state->restartMarkerNumber = 0;
  }
  DCTEScaleQT(state);
  DCTEParallelStart(state);
  state->stripBlockLine = 0;
  state->stripSubLine = 0;
  state->phase = kEncPhaseCoding;
  state->stripFirstLine = state->linesDone;
}

void CheckTarget(const DCTState* state) {
  if (state->targetStm->error) DCTStmErr0("Target error prevents output");
  if (state->targetStm->eof) DCTStmErr0("Target EOF prevents output");
}

// Codes a complete strip and, after the last one, ends the stream. The
// target is checked again after EOI, so that losing the stream's last bytes
// is reported too (while the strip memory, which holds the filter's line
// buffer, still exists).
void FinishStrip(DCTState* state) {
  if (state->parallel != nullptr) {
    DCTEParallelStrip(state, state->stripFirstLine);
  } else {
    DCTEcodeStrip(state, state->stripFirstLine);
  }
  state->stripBlockLine = 0;
  CheckTarget(state);
  if (state->phase == kEncPhaseDone) {
    if (state->parallel != nullptr) {
      DCTEParallelFinish(state);
      CheckTarget(state);
    }
    if (state->coefImage != nullptr) DCTEWriteBufferedImage(state);
    DCTEclose_sput(state);
    CheckTarget(state);
    DCTfree(state);
  }
  state->stripFirstLine = state->linesDone;
}

// The portable layout stores ink inverted (255 = no ink): the line, in the
// filter's own buffer, is turned over before it is coded.
void InvertLine(DCTState* state) {
  uint8_t* line = state->lineBuffer;
  for (int32_t i = 0; i < state->inputLineBytes; i++) line[i] = static_cast<uint8_t>(255 - line[i]);
}

// Takes one raster line, the buffered one (raster null) or one read in
// place, and codes the strip it completes.
int32_t TakeLine(DCTState* state, const uint8_t* raster) {
  if (state->phase == kEncPhaseHeader)
    StartImage(state);
  else if (state->phase != kEncPhaseCoding)
    return -1;
  if (raster != nullptr) {
    DCTEGetLineFrom(state, raster);
  } else {
    if (state->invertInks) InvertLine(state);
    if (state->parallel != nullptr) {
      DCTEParallelLine(state);  // a worker converts it with the rest of its strip
    } else {
      DCTEGetNCLine(state);
    }
  }
  if (++state->linesDone == state->Rows) {
    if (state->parallel != nullptr) {
      DCTEParallelLastLine(state);
    } else {
      DCTEget_ovflines(state);
    }
    state->phase = kEncPhaseDone;
  }
  if (++state->stripSubLine == state->maxVSamples) {
    state->stripSubLine = 0;
    if (++state->stripBlockLine == 8) FinishStrip(state);
  }
  return state->phase < kEncPhaseDone ? 0 : -1;
}

}  // namespace

int32_t DCTEFlush(DCTState* state) { return TakeLine(state, nullptr); }

bool DCTETakeLineInPlace(DCTState* state, const uint8_t* raster) {
  const bool inTurn = state->phase == kEncPhaseCoding && state->linesDone + 1 < state->Rows;
  if (!inTurn || state->invertInks || state->parallel != nullptr || !DCTEReadsLinesInPlace(state)) return false;
  TakeLine(state, raster);
  return true;
}
