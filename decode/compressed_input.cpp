// compressed_input.cpp - the decoder's lowest layer: the one-byte lookahead on the
// compressed input, segment field reads, marker search, the slow path of the
// entropy-coded bit reader (0xFF bytes, markers, end of data, the guard byte)
// and the Huffman decode tables built from DHT bodies.
//
// The fast path of the bit reader lives in huffman_reader.h, which keeps the
// reader state in locals; it comes here only when the lookahead byte is
// 0xFF (a stuffed byte, a marker, or the guard byte every source stores
// after its valid bytes) or end of data.
#include <cstring>

#include "codec/jpeg_markers.h"
#include "decode/decoder.h"
#include "decode/huffman_reader.h"
#include "stream/stm_inline.h"

namespace {

constexpr int32_t kEndOfData = -1;
constexpr int32_t kDCValueLimit = 12;   // magnitude categories 0..11
constexpr int32_t kACValueLimit = 162;  // run/size symbols of an AC table
constexpr int32_t kLookaheadBits = kDCTDLookaheadBits;
constexpr uint8_t kLongCodeValue = 0x20;  // never a valid AC value
constexpr int32_t kSearchStartBias = 15;  // lookahead length 15 + L: search from L
constexpr int32_t kSkipPiece = 256;       // bytes dropped per block read

[[noreturn]] void SourceEOFDuringMarker() { DCTStmErr0("Source EOF during marker"); }

// An AC value is usable when its size is 1..10, or it is EOB (0x00) or
// sixteen zeros (0xF0).
bool UsableACValue(uint8_t v) {
  const int size = v & 15;
  return (size >= 1 && size <= 10) || v == 0x00 || v == 0xF0;
}

[[noreturn]] void UnusableACValue(uint8_t v) { DCTStmErr1("AC HuffTable unusable value %ld", v); }

// Progressive AC tables also code end-of-band runs: size 0 with any run.
// A table defined before the frame header may serve either kind of frame,
// so band runs are let through then and checked when a sequential scan
// uses the table (DCTDCheckSequentialACTable).
void CheckValues(const DCTDHuffTable* table, int32_t count, int32_t isAC, bool bandRunsAllowed) {
  for (int32_t k = 0; k < count; k++) {
    const uint8_t v = table->values[k];
    if (isAC) {
      const bool bandRun = bandRunsAllowed && (v & 15) == 0;
      if (!UsableACValue(v) && !bandRun) UnusableACValue(v);
    } else if (v >= kDCValueLimit) {
      DCTStmErr1("DC HuffTable unusable mag. category >= %ld", kDCValueLimit);
    }
  }
}

// maxCode, valueOffset and endMark from the canonical codes (T.81 F.2.2.3).
void BuildCodeLimits(DCTDHuffTable* table, const uint16_t* codes) {
  int32_t k = 0;
  table->endMark = 0;  // an empty table: every window is a bad code
  for (int32_t length = 1; length <= 16; length++) {
    const int32_t n = table->bits[length - 1];
    if (n == 0) {
      table->maxCode[length - 1] = -1;
      table->valueOffset[length - 1] = 0;
      continue;
    }
    table->valueOffset[length - 1] = k - codes[k];
    k += n;
    table->maxCode[length - 1] = ((codes[k - 1] + 1) << (16 - length)) - 1;
    table->endMark = table->maxCode[length - 1] + 1;
  }
}

// The prefix lookahead (DC and AC): entries of codes up to kLookaheadBits
// bits give (length, value); every other prefix names the length to start
// the search from.
void BuildLookahead(DCTDHuffTable* table, const uint8_t* sizes, const uint16_t* codes,
                    int32_t count) {
  constexpr int32_t entries = 1 << kLookaheadBits;
  int32_t filled = 0;
  for (int32_t k = 0; k < count && sizes[k] <= kLookaheadBits; k++) {
    const int32_t shift = kLookaheadBits - sizes[k];
    const int32_t first = codes[k] << shift;
    for (int32_t p = first; p < first + (1 << shift); p++) {
      table->lookahead[p][0] = sizes[k];
      table->lookahead[p][1] = table->values[k];
    }
    filled = first + (1 << shift);
  }
  int32_t length = kLookaheadBits + 1;
  for (int32_t p = filled; p < entries; p++) {
    while (length < 16 && table->maxCode[length - 1] < (p << (16 - kLookaheadBits))) length++;
    table->lookahead[p][0] = static_cast<uint8_t>(kSearchStartBias + length);
    table->lookahead[p][1] = kLongCodeValue;
  }
}

// Fills the prefixes that begin with `pattern` (`total` bits) with `entry`.
void FillFastPrefixes(DCTDHuffTable* table, int32_t pattern, int32_t total, int32_t entry) {
  const int32_t shift = kLookaheadBits - total;
  const int32_t first = pattern << shift;
  for (int32_t p = first; p < first + (1 << shift); p++) table->fast[p] = entry;
}

// The combined look-up (DCTDHuffTable::fast): every code whose length plus
// magnitude bits fit the prefix gets one entry per magnitude bit pattern.
// AC end of block has an entry too; sixteen zeros and end-of-band runs are
// left to the symbol look-up, and so is every prefix no such event fills:
// its entry carries the prefix's lookahead pair, so BuildLookahead runs
// first.
void BuildFastEntries(DCTDHuffTable* table, const uint8_t* sizes, const uint16_t* codes,
                      int32_t count, int32_t isAC) {
  for (int32_t p = 0; p < (1 << kLookaheadBits); p++)
    table->fast[p] = kDCTDNoFastEntry | table->lookahead[p][0] << 8 | table->lookahead[p][1] << 16;
  for (int32_t k = 0; k < count && sizes[k] <= kLookaheadBits; k++) {
    const uint8_t value = table->values[k];
    const int32_t s = isAC ? value & 15 : value;
    int32_t advance = 0;
    if (isAC) {
      if (s == 0 && value != 0) continue;  // sixteen zeros or an end-of-band run
      advance = s == 0 ? kDCTDFastEOB : (value >> 4) + 1;
    }
    const int32_t total = sizes[k] + s;
    if (total > kLookaheadBits) continue;
    for (int32_t raw = 0; raw < (1 << s); raw++) {
      const int32_t coefficient = s == 0 ? 0 : huffman::ExtendMagnitude(raw, s);
      const int32_t entry = static_cast<int32_t>(static_cast<uint32_t>(coefficient) << 16) |
                            (advance << 8) | total;
      FillFastPrefixes(table, (codes[k] << s) | raw, total, entry);
    }
  }
}

// Reads n bytes of a segment into dst as one block; false at end of data.
// nextByte is the first of them and is reloaded after the block.
bool ReadSegmentBlock(DCTState* state, uint8_t* dst, int32_t n) {
  if (n <= 0) return true;
  if (state->nextByte == kEndOfData) return false;
  dst[0] = static_cast<uint8_t>(state->nextByte);
  Stm* source = state->targetStm;
  const uint32_t rest = static_cast<uint32_t>(n - 1);
  if (StmFRead(dst + 1, 1, rest, source) != rest) {
    state->nextByte = kEndOfData;
    return false;
  }
  state->nextByte = StmGetByte(source);
  return true;
}

}  // namespace

void DCTDTruncateError(DCTState* state, int32_t m) {
  if (JPEGIsRST(m)) DCTStmErr1("Unexpected JPEG RST%d marker in MCU", m & 7);
  if (m == kEndOfData) DCTStmErr1("Source EOF in 8x8 block no. %ld", state->blockNumber);
  DCTStmErr1("Illegal JPEG marker 0x%2X in MCU", m);
}

void DCTDinit_sgetv(DCTState* state) {
  state->bitCount = 0;
  state->nextByte = StmGetByte(state->targetStm);
}

int32_t DCTDReadByte(DCTState* state) {
  const int32_t b = state->nextByte;
  if (b == kEndOfData) SourceEOFDuringMarker();
  state->nextByte = StmGetByte(state->targetStm);
  return b;
}

int32_t DCTDReadWord(DCTState* state) {
  const int32_t high = DCTDReadByte(state);
  return (high << 8) + DCTDReadByte(state);
}

bool DCTDReadSegmentBytes(DCTState* state, uint8_t* dst, int32_t n) {
  return ReadSegmentBlock(state, dst, n);
}

void DCTDSkipSegmentBytes(DCTState* state, int32_t n) {
  uint8_t scratch[kSkipPiece];
  while (n > 0) {
    const int32_t piece = n < kSkipPiece ? n : kSkipPiece;
    if (!ReadSegmentBlock(state, scratch, piece)) SourceEOFDuringMarker();
    n -= piece;
  }
}

int32_t DCTDNextMarker(DCTState* state) {
  state->bitCount = 0;
  while (DCTDReadByte(state) != kMarkerPrefix) {
  }
  for (;;) {
    const int32_t code = state->nextByte;
    if (code == kEndOfData) DCTStmErr0("Source EOF before marker");
    if (code == kEOI) return code;  // left unread: nothing after EOI is read
    DCTDReadByte(state);
    if (code != kMarkerPrefix) return code;
  }
}

bool DCTDEndOfDataAhead(DCTState* state) {
  state->bitCount = 0;
  while (state->nextByte != kEndOfData && state->nextByte != kMarkerPrefix) DCTDReadByte(state);
  if (state->nextByte == kEndOfData) return true;
  // nextByte is 0xFF: look at what follows it (and its fill bytes) and put
  // a marker code back for the marker reader.
  Stm* source = state->targetStm;
  for (;;) {
    const int32_t after = StmGetByte(source);
    if (after == kEndOfData) return true;  // the last byte is a lone 0xFF: EOI cut in half
    if (after != kMarkerPrefix) {
      StmUnGetc(static_cast<int16_t>(after), source);
      return false;
    }
  }
}

int32_t DCTDpremdusget(DCTState* state, int32_t slack) {
  Stm* source = state->targetStm;
  for (;;) {
    const int32_t m = StmGetByte(source);
    if (m == 0) return 0;  // 0xFF 0x00: a stuffed data byte
    if (m == kMarkerPrefix) continue;  // fill byte
    if (slack < 0) DCTDTruncateError(state, m);
    if (m != kEndOfData) {
      StmUnGetc(static_cast<int16_t>(m), source);
    } else {
      // A lone 0xFF at the end starts no marker: the data has ended. (Left
      // in the lookahead, it would be read again or not depending on how
      // the source keeps its count after the end.)
      state->nextByte = kEndOfData;
    }
    return m;
  }
}

int32_t DCTDFetchByteSlow(DCTState* state, int32_t slack) {
  Stm* source = state->targetStm;
  int32_t b = state->nextByte;
  if (b == kMarkerPrefix && source->count < 0) {
    // The guard byte past the buffer: read the real byte behind it.
    b = StmGetByte(source);
    state->nextByte = b;
    if (b >= 0 && b < kMarkerPrefix) return b;
  }
  if (b == kEndOfData) {
    if (slack < 0) DCTDTruncateError(state, kEndOfData);
    return kEndOfData;
  }
  return DCTDpremdusget(state, slack) == 0 ? kMarkerPrefix : kEndOfData;
}

void DCTDBadCodeError(DCTState* state) {
  DCTStmErr1("Bad Huffcodes in 8x8 block no. %ld", state->blockNumber);
}

void DCTDInitHuffTables(DCTState* state) {
  for (int t = 0; t < 4; t++) {
    DCTDHuffTable* tables[2] = {&state->huffDecDC[t], &state->huffDecAC[t]};
    for (DCTDHuffTable* table : tables) {
      std::memset(table, 0, sizeof *table);
      BuildLookahead(table, nullptr, nullptr, 0);  // every prefix: bad code
      BuildFastEntries(table, nullptr, nullptr, 0, 0);
    }
  }
}

void DCTDmake_huffdec(DCTState* state, DCTDHuffTable* table, int32_t isAC) {
  const int32_t limit = isAC ? kACValueLimit : kDCValueLimit;
  if (!ReadSegmentBlock(state, table->bits, 16)) SourceEOFDuringMarker();
  uint8_t sizes[kACValueLimit + 1];
  uint16_t codes[kACValueLimit];
  DCTsize_codes(state, table->bits, sizes, codes, limit);
  const int32_t count = state->huffCodeCount;
  if (!ReadSegmentBlock(state, table->values, count)) SourceEOFDuringMarker();
  const bool frameKindOpen = state->frameColors == 0;  // no frame header read yet
  CheckValues(table, count, isAC, state->progressive != 0 || frameKindOpen);
  BuildCodeLimits(table, codes);
  BuildLookahead(table, sizes, codes, count);
  BuildFastEntries(table, sizes, codes, count, isAC);
}

void DCTDCheckSequentialACTable(const DCTDHuffTable* table) {
  int32_t count = 0;
  for (const uint8_t n : table->bits) count += n;  // checked against the limit when read
  if (count > kACValueLimit) count = kACValueLimit;
  for (int32_t k = 0; k < count; k++) {
    if (!UsableACValue(table->values[k])) UnusableACValue(table->values[k]);
  }
}
