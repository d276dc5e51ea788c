// scan_writer.cpp - the scans of a coefficient image (coefficient_image.h)
// with Huffman tables built for each of them, after the frame header.
//
// Sequential (optimized tables): one interleaved scan of every component
// (one scan per component when an MCU would hold more than 10 blocks), its
// DC and AC tables (one pair per table slot: luminance, chrominance)
// counted over the whole image and written in one DHT before the SOS.
//
// Progressive: the scan script of the common encoders, chosen per component
// by what it costs. Its shape: the DC of every component in one scan; the
// AC of each luminance-slot component in two bands (1..5, then 6..63), of
// each chrominance component in one (1..63); then refinement scans, one bit
// each, down to full precision. The first scans of a component may leave
// out Al = 0, 1 or 2 low bits (the DC 0 or 1); every choice is counted (its
// scans' code and raw bits with tables built for them, and their segments)
// and the cheapest one taken per component, so the script is never larger
// than the common one (DC at Al 1, luminance at 2, chrominance at 1), which
// is one of the choices. Every scan that codes symbols gets a DHT of its own.
#include "codec/jpeg_markers.h"
#include "encode/coefficient_image.h"
#include "encode/encoder.h"

namespace {

constexpr int32_t kMaxScans = 32;
constexpr int32_t kSlots = 2;
constexpr int32_t kMaxACAl = 2;  // low bits the first AC scans may leave out
constexpr int32_t kMaxDCAl = 1;

struct Script {
  int32_t count;
  DCTEScan scans[kMaxScans];
};

void Add(Script* s, int32_t plane, int32_t ss, int32_t se, int32_t ah, int32_t al) {
  s->scans[s->count++] = DCTEScan{1, {plane, 0, 0, 0}, ss, se, ah, al};
}

// An interleaved scan holds at most 10 blocks per MCU; an image whose MCU
// holds more (sampling such as 4x4 with 1x1) is coded one scan per component.
constexpr int32_t kMaxBlocksPerMCU = 10;

bool Interleavable(const DCTECoefImage* image) {
  int32_t blocks = 0;
  for (int32_t c = 0; c < image->colors; c++) blocks += image->plane[c].h * image->plane[c].v;
  return blocks <= kMaxBlocksPerMCU;
}

// The band ss..se of every component: one interleaved scan, or one per component.
void AddAll(Script* s, const DCTECoefImage* image, int32_t se, int32_t ah, int32_t al) {
  if (Interleavable(image)) {
    s->scans[s->count++] = DCTEScan{image->colors, {0, 1, 2, 3}, 0, se, ah, al};
    return;
  }
  for (int32_t c = 0; c < image->colors; c++) Add(s, c, 0, se, ah, al);
}

void AddDC(Script* s, const DCTECoefImage* image, int32_t ah, int32_t al) { AddAll(s, image, 0, ah, al); }

bool SplitBands(const DCTECoefImage* image, int32_t plane) { return image->plane[plane].tableSlot == 0; }

// The first scans of one component's AC, leaving out al low bits.
void AddFirstAC(Script* s, const DCTECoefImage* image, int32_t c, int32_t al, int32_t band) {
  if (!SplitBands(image, c)) {
    if (band == 0) Add(s, c, 1, 63, 0, al);
  } else {
    Add(s, c, band == 0 ? 1 : 6, band == 0 ? 5 : 63, 0, al);
  }
}

// The whole script for the chosen dcAl and per-component al: DC, the low
// luminance bands, chrominance, the high luminance bands, then the
// refinements, the last bit of luminance last.
void MakeScript(Script* s, const DCTECoefImage* image, int32_t dcAl, const int32_t* al) {
  s->count = 0;
  AddDC(s, image, 0, dcAl);
  for (int32_t band = 0; band < 2; band++)
    for (int32_t c = 0; c < image->colors; c++) AddFirstAC(s, image, c, al[c], band);
  for (int32_t bit = kMaxACAl; bit > 0; bit--) {
    if (bit == 1 && dcAl == 1) AddDC(s, image, 1, 0);
    for (int32_t c = image->colors - 1; c >= 0; c--)
      if (al[c] >= bit) Add(s, c, 1, 63, bit, bit - 1);
  }
}

bool UsesDC(const DCTEScan* scan) { return scan->ss == 0 && scan->ah == 0; }
bool UsesAC(const DCTEScan* scan) { return scan->se > 0; }

// The slots whose tables the scan codes with, as a bit set.
uint32_t SlotsUsed(const DCTECoefImage* image, const DCTEScan* scan) {
  uint32_t used = 0;
  for (int32_t j = 0; j < scan->count; j++) used |= 1u << image->plane[scan->planes[j]].tableSlot;
  return used;
}

void PutTable(DCTState* state, int32_t classAndId, const DCTEOptTable* t) {
  DCTEsput8(state, classAndId);
  for (int32_t i = 0; i < 16; i++) DCTEsput8(state, t->bits[i]);
  for (int32_t i = 0; i < t->count; i++) DCTEsput8(state, t->values[i]);
}

// One DHT with the scan's DC tables (class 0) and AC tables (class 1).
void WriteDHT(DCTState* state, const DCTEScan* scan, uint32_t slots, const DCTEOptTable* dc,
              const DCTEOptTable* ac) {
  int32_t length = 2;
  for (int32_t k = 0; k < kSlots; k++) {
    if ((slots >> k & 1) == 0) continue;
    if (UsesDC(scan)) length += 17 + dc[k].count;
    if (UsesAC(scan)) length += 17 + ac[k].count;
  }
  DCTEsputmarker(state, kDHT);
  DCTEsput16(state, length);
  for (int32_t k = 0; k < kSlots; k++)
    if ((slots >> k & 1) != 0 && UsesDC(scan)) PutTable(state, k, &dc[k]);
  for (int32_t k = 0; k < kSlots; k++)
    if ((slots >> k & 1) != 0 && UsesAC(scan)) PutTable(state, 0x10 + k, &ac[k]);
}

void WriteSOS(DCTState* state, const DCTECoefImage* image, const DCTEScan* scan) {
  DCTEsputmarker(state, kSOS);
  DCTEsput16(state, 2 * scan->count + 6);
  DCTEsput8(state, scan->count);
  for (int32_t j = 0; j < scan->count; j++) {
    const DCTECoefPlane* p = &image->plane[scan->planes[j]];
    DCTEsput8(state, p->id);
    DCTEsput8(state, p->tableSlot * 16 + p->tableSlot);
  }
  DCTEsput8(state, scan->ss);
  DCTEsput8(state, scan->se);
  DCTEsput8(state, scan->ah * 16 + scan->al);
}

// Bits of a scan coded with tables built for it, its DHT and SOS included.
uint64_t ScanBits(DCTState* state, const DCTECoefImage* image, const DCTEScan* scan) {
  DCTEOptTable dc[kSlots] = {}, ac[kSlots] = {};
  DCTEScanCoder coder = {state, 1, {}, {}, 0};
  for (int32_t j = 0; j < scan->count; j++) {
    const int32_t slot = image->plane[scan->planes[j]].tableSlot;
    coder.dc[j] = &dc[slot];
    coder.ac[j] = &ac[slot];
  }
  DCTECodeScan(&coder, image, scan);
  uint64_t bits = coder.rawBits + 8 * (8 + 2 * static_cast<uint64_t>(scan->count));  // SOS
  DCTEOptTable* tables[2 * kSlots] = {&dc[0], &dc[1], &ac[0], &ac[1]};
  for (DCTEOptTable* t : tables) {
    bool used = false;
    for (uint32_t f : t->freq) used = used || f != 0;
    if (!used) continue;
    DCTEBuildOptTable(t);
    bits += 8 * (17 + static_cast<uint64_t>(t->count));
    for (int32_t sym = 0; sym < 256; sym++) bits += uint64_t{t->freq[sym]} * t->size[sym];
  }
  return bits;
}

// Bits of one component's AC scans when its first scans leave out al bits.
uint64_t ComponentBits(DCTState* state, const DCTECoefImage* image, int32_t c, int32_t al) {
  Script s = {};
  for (int32_t band = 0; band < 2; band++) AddFirstAC(&s, image, c, al, band);
  for (int32_t bit = al; bit > 0; bit--) Add(&s, c, 1, 63, bit, bit - 1);
  uint64_t bits = 0;
  for (int32_t n = 0; n < s.count; n++) bits += ScanBits(state, image, &s.scans[n]);
  return bits;
}

// The cheapest choice of dcAl and of each component's al.
void ChooseScript(Script* s, DCTState* state, const DCTECoefImage* image) {
  int32_t al[4] = {};
  for (int32_t c = 0; c < image->colors; c++) {
    uint64_t best = 0;
    for (int32_t a = 0; a <= kMaxACAl; a++) {
      const uint64_t bits = ComponentBits(state, image, c, a);
      if (a == 0 || bits < best) best = bits, al[c] = a;
    }
  }
  int32_t dcAl = 0;
  uint64_t best = 0;
  for (int32_t a = 0; a <= kMaxDCAl; a++) {
    Script dc = {};
    AddDC(&dc, image, 0, a);
    if (a > 0) AddDC(&dc, image, a, a - 1);
    uint64_t bits = 0;
    for (int32_t n = 0; n < dc.count; n++) bits += ScanBits(state, image, &dc.scans[n]);
    if (a == 0 || bits < best) best = bits, dcAl = a;
  }
  MakeScript(s, image, dcAl, al);
}

// Counts the scan's symbols, builds and writes its tables, then codes it.
void WriteScan(DCTState* state, const DCTECoefImage* image, const DCTEScan* scan) {
  DCTEOptTable dc[kSlots] = {}, ac[kSlots] = {};
  DCTEScanCoder coder = {state, 1, {}, {}, 0};
  for (int32_t j = 0; j < scan->count; j++) {
    const int32_t slot = image->plane[scan->planes[j]].tableSlot;
    coder.dc[j] = &dc[slot];
    coder.ac[j] = &ac[slot];
  }
  const uint32_t slots = SlotsUsed(image, scan);
  const bool coded = UsesDC(scan) || UsesAC(scan);
  if (coded) {
    DCTECodeScan(&coder, image, scan);
    for (int32_t k = 0; k < kSlots; k++) {
      if ((slots >> k & 1) == 0) continue;
      DCTEBuildOptTable(&dc[k]);
      DCTEBuildOptTable(&ac[k]);
    }
    WriteDHT(state, scan, slots, dc, ac);
  }
  WriteSOS(state, image, scan);
  coder.counting = 0;
  DCTECodeScan(&coder, image, scan);
}

}  // namespace

void DCTEWriteCoefImage(DCTState* state, const DCTECoefImage* image, int32_t progressive) {
  for (int32_t i = 0; i < image->colors; i++)
    if (image->plane[i].tableSlot < 0 || image->plane[i].tableSlot >= kSlots)
      DCTStmErr1("BUG: table slot %ld", image->plane[i].tableSlot);
  Script script = {};
  if (progressive) {
    ChooseScript(&script, state, image);
  } else {
    AddAll(&script, image, 63, 0, 0);
  }
  if (image->restartInterval != 0) {
    DCTEsputmarker(state, kDRI);
    DCTEsput16(state, 4);
    DCTEsput16(state, image->restartInterval);
  }
  for (int32_t n = 0; n < script.count; n++) WriteScan(state, image, &script.scans[n]);
}

void DCTEWriteBufferedImage(DCTState* state) {
  DCTEWriteCoefImage(state, state->coefImage, state->progressiveScans);
}
