// scan_writer.cpp - the scans of a coefficient image (coefficient_image.h)
// with Huffman tables built for each of them, after the frame header.
//
// Sequential (optimized tables): one interleaved scan of every component,
// its DC and AC tables (one pair per table slot: luminance, chrominance)
// counted over the whole image and written in one DHT before the SOS.
// Progressive: a script of spectral selection and successive approximation
// much like the common encoders use: the DC of every component at half
// precision; each component's low band and then the rest at a quarter
// (luminance; chrominance at half precision in one band); a refinement bit
// for luminance; the DC refinement; the last bit of each component. Every
// scan that codes symbols is counted first and gets a DHT of its own.
#include "codec/jpeg_markers.h"
#include "encode/coefficient_image.h"
#include "encode/encoder.h"

namespace {

constexpr int32_t kMaxScans = 24;
constexpr int32_t kSlots = 2;

struct Script {
  int32_t count;
  DCTEScan scans[kMaxScans];
};

void Add(Script* s, int32_t plane, int32_t ss, int32_t se, int32_t ah, int32_t al) {
  s->scans[s->count++] = DCTEScan{1, {plane, 0, 0, 0}, ss, se, ah, al};
}

void AddDC(Script* s, int32_t colors, int32_t ah, int32_t al) {
  DCTEScan scan = {colors, {0, 1, 2, 3}, 0, 0, ah, al};
  s->scans[s->count++] = scan;
}

// Luminance and two chrominance components.
void LumaChromaScript(Script* s) {
  AddDC(s, 3, 0, 1);
  Add(s, 0, 1, 5, 0, 2);
  Add(s, 2, 1, 63, 0, 1);
  Add(s, 1, 1, 63, 0, 1);
  Add(s, 0, 6, 63, 0, 2);
  Add(s, 0, 1, 63, 2, 1);
  AddDC(s, 3, 1, 0);
  Add(s, 2, 1, 63, 1, 0);
  Add(s, 1, 1, 63, 1, 0);
  Add(s, 0, 1, 63, 1, 0);  // the largest scan last
}

void GeneralScript(Script* s, int32_t colors) {
  AddDC(s, colors, 0, 1);
  for (int32_t c = 0; c < colors; c++) Add(s, c, 1, 5, 0, 2);
  for (int32_t c = 0; c < colors; c++) Add(s, c, 6, 63, 0, 2);
  for (int32_t c = 0; c < colors; c++) Add(s, c, 1, 63, 2, 1);
  AddDC(s, colors, 1, 0);
  for (int32_t c = 0; c < colors; c++) Add(s, c, 1, 63, 1, 0);
}

void MakeScript(Script* s, const DCTECoefImage* image, int32_t progressive) {
  s->count = 0;
  if (!progressive) {
    DCTEScan all = {image->colors, {0, 1, 2, 3}, 0, 63, 0, 0};
    s->scans[s->count++] = all;
  } else if (image->colors == 3 && image->plane[1].tableSlot == 1 && image->plane[2].tableSlot == 1) {
    LumaChromaScript(s);
  } else {
    GeneralScript(s, image->colors);
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

// Counts the scan's symbols, builds and writes its tables, then codes it.
void WriteScan(DCTState* state, const DCTECoefImage* image, const DCTEScan* scan) {
  DCTEOptTable dc[kSlots] = {}, ac[kSlots] = {};
  DCTEScanCoder coder = {state, 1, {}, {}};
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
  Script script;
  MakeScript(&script, image, progressive);
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
