// block_decoder.cpp - the block decoder: Huffman-decodes the 8x8 blocks of one
// strip (one MCU row, or the block rows of a single-component strip),
// dequantizes them into natural order, and has the inverse DCT write the
// samples into the component strips. It also counts MCUs against the restart
// interval and reads the restart markers.
//
// The bit reader's fast path is here: for a whole call of DCTdecode_color the
// bit buffer, bit count, lookahead byte and the source buffer's pointer and
// count live in locals (a BitReader that never escapes, so the compiler keeps
// it in registers). Bytes are taken from the source buffer without testing
// its count: every source stores a 0xFF guard byte after its valid bytes, and
// any 0xFF sends the reader to the slow path in compressed_input.cpp, which tells
// the guard (count gone negative) from a real 0xFF.
#include <cstddef>

#include "codec/jpeg_markers.h"
#include "codec/wrap_arith.h"
#include "decode/decoder.h"
#include "stream/stm_inline.h"

namespace {

constexpr int32_t kBlockSize = 64;
constexpr int32_t kCoefficientSlots = kBlockSize + 4;  // the discard slot, padded for alignment
constexpr int32_t kLastZigzag = 63;
constexpr int32_t kWindowBits = 16;
constexpr int32_t kLongCodeMark = 16;  // lookahead lengths from here on start a search
constexpr int32_t kSearchStartBias = 15;

struct BitReader {
  uint64_t buffer;   // new bytes enter at the low end
  int32_t bits;      // unread bits at the low end of buffer
  int32_t next;      // lookahead byte, 0..255 or -1
  const uint8_t* ptr;  // source buffer position (just past `next`)
  int32_t count;     // source count
};

inline BitReader LoadReader(const DCTState* state) {
  const Stm* source = state->targetStm;
  return BitReader{state->bitBuffer, state->bitCount, state->nextByte, source->ptr, source->count};
}

inline void SyncReader(DCTState* state, const BitReader& r) {
  Stm* source = state->targetStm;
  source->ptr = const_cast<uint8_t*>(r.ptr);
  source->count = static_cast<int16_t>(r.count);
  state->nextByte = r.next;
}

// Stores the reader back; a guard byte in the lookahead is replaced by a
// real read first, so that the marker reader and the next call find a real
// byte there.
void StoreReader(DCTState* state, const BitReader& r) {
  SyncReader(state, r);
  state->bitBuffer = r.buffer;
  state->bitCount = r.bits;
  if (r.next == kMarkerPrefix && r.count < 0) state->nextByte = StmGetByte(state->targetStm);
}

// Appends one byte of entropy-coded data to the buffer; false when a marker
// or the end of the data stands there (an error if slack < 0).
inline bool AppendByte(DCTState* state, BitReader& r, int32_t slack) {
  uint32_t byte = static_cast<uint32_t>(r.next);
  if (__builtin_expect(byte >= kMarkerPrefix, 0)) {  // 0xFF, or -1 as unsigned
    SyncReader(state, r);
    const int32_t b = DCTDFetchByteSlow(state, slack);
    r = BitReader{r.buffer, r.bits, state->nextByte, state->targetStm->ptr, state->targetStm->count};
    if (b < 0) return false;
    byte = static_cast<uint32_t>(b);
  }
  r.buffer = (r.buffer << 8) | byte;
  r.next = *r.ptr++;  // safe: the guard byte stands after the valid bytes
  r.count--;
  return true;
}

// Bytes one bulk refill appends: with fewer than 16 bits left they fill the
// 64-bit buffer to at most 63 bits.
constexpr int32_t kBulkBytes = 6;

// True when no byte of the word is 0xFF (no byte of the complement is 0).
inline bool NoMarkerByte(uint64_t word) {
  const uint64_t inverse = ~word;
  return ((inverse - 0x0101010101010101ull) & ~inverse & 0x8080808080808080ull) == 0;
}

// Makes at least 16 bits available before a Huffman symbol, as far as the
// data goes. Where the lookahead byte and the next five are plain data bytes
// (no 0xFF, all inside the source buffer), they enter at once: the same as
// six AppendByte calls, without their tests.
inline void FillForSymbol(DCTState* state, BitReader& r) {
  if (r.bits >= kWindowBits) return;
  if (r.count >= kBulkBytes && static_cast<uint32_t>(r.next) < kMarkerPrefix) {
    uint64_t ahead = 0;
    for (int32_t i = 0; i < kBulkBytes - 1; i++) ahead = (ahead << 8) | r.ptr[i];
    const uint64_t bytes = (static_cast<uint64_t>(r.next) << 40) | ahead;  // next, ptr[0..4]
    if (NoMarkerByte(bytes)) {  // its top two bytes are 0, never 0xFF
      r.buffer = (r.buffer << (8 * kBulkBytes)) | bytes;
      r.bits += 8 * kBulkBytes;
      r.next = r.ptr[kBulkBytes - 1];
      r.ptr += kBulkBytes;
      r.count -= kBulkBytes;
      return;
    }
  }
  if (!AppendByte(state, r, r.bits - 1)) return;
  if (!AppendByte(state, r, r.bits + 7)) {
    r.bits += 8;
    return;
  }
  r.bits += 16;
}

// The next 16 unread bits; bits missing at the end of the data count as 0.
inline uint32_t Window16(const BitReader& r) {
  if (r.bits >= kWindowBits) return (r.buffer >> (r.bits - kWindowBits)) & 0xFFFF;
  return (r.buffer << (kWindowBits - r.bits)) & 0xFFFF;
}

// n (1..15) raw bits of the data.
inline int32_t GetBits(DCTState* state, BitReader& r, int32_t n) {
  r.bits -= n;
  if (r.bits < 0) {
    AppendByte(state, r, r.bits);  // negative slack: no byte is the truncation error
    const bool second = AppendByte(state, r, r.bits + 8);
    r.bits += second ? 16 : 8;
  }
  return static_cast<int32_t>((r.buffer >> r.bits) & ((1u << n) - 1));
}

// s (1..11) extra bits of a magnitude, extended to a signed value (T.81
// F.2.2.1, EXTEND).
inline int32_t ReceiveExtend(DCTState* state, BitReader& r, int32_t s) {
  const int32_t raw = GetBits(state, r, s);
  if (raw < (1 << (s - 1))) return raw - ((1 << s) - 1);
  return raw;
}

// Finds the code length from `length` on, consumes the code, returns its value.
inline int32_t DecodeLong(DCTState* state, BitReader& r, const DCTDHuffTable* table,
                          int32_t length) {
  const int32_t w = static_cast<int32_t>(Window16(r));
  if (w >= table->endMark) DCTDBadHuff(state);
  while (length < 16 && table->maxCode[length - 1] < w) length++;
  r.bits -= length;
  const int32_t code = w >> (kWindowBits - length);
  return table->values[table->valueOffset[length - 1] + code];
}

// The look-up prefix: the next kDCTDLookaheadBits bits of the window.
inline uint32_t LookupPrefix(const BitReader& r) {
  return Window16(r) >> (kWindowBits - kDCTDLookaheadBits);
}

// The Huffman symbol that begins with `prefix` (the reader filled for a
// symbol): short codes by one look-up, longer ones by the search from the
// length the look-up names.
inline int32_t SymbolOfPrefix(DCTState* state, BitReader& r, const DCTDHuffTable* table,
                              uint32_t prefix) {
  const int32_t length = table->lookahead[prefix][0];
  if (length < kLongCodeMark) {
    r.bits -= length;
    return table->lookahead[prefix][1];
  }
  return DecodeLong(state, r, table, length - kSearchStartBias);
}

// One Huffman symbol.
inline int32_t DecodeSymbol(DCTState* state, BitReader& r, const DCTDHuffTable* table) {
  FillForSymbol(state, r);
  return SymbolOfPrefix(state, r, table, LookupPrefix(r));
}

// Fields of a combined look-up entry (DCTDHuffTable::fast).
inline int32_t FastBits(int32_t entry) { return entry & 0xFF; }
inline int32_t FastAdvance(int32_t entry) { return (entry >> 8) & 0xFF; }
inline int32_t FastValue(int32_t entry) { return entry >> 16; }

// The DC difference of one block: code and magnitude bits by one look-up
// when the prefix holds both and the reader has them, else symbol and bits
// one after the other.
inline int32_t DecodeDCDifference(DCTState* state, BitReader& r, const DCTDHuffTable* table) {
  FillForSymbol(state, r);
  const uint32_t prefix = LookupPrefix(r);
  const int32_t entry = table->fast[prefix];
  if (__builtin_expect(FastBits(entry) <= r.bits, 1)) {
    r.bits -= FastBits(entry);
    return FastValue(entry);
  }
  const int32_t s = SymbolOfPrefix(state, r, table, prefix);
  return s != 0 ? ReceiveExtend(state, r, s) : 0;
}

// Decodes the AC events of one sequential block, handing each coefficient
// to store(k, value) (zigzag position k, 1..63); returns true when a run
// went past position 63 (the overrunning value is dropped). Most events
// come from the combined look-up, end of block among them (an advance past
// position 63 with value 0: a coded coefficient is never 0); the rest are
// decoded as symbol and magnitude bits.
template <typename Store>
inline bool DecodeACEvents(DCTState* state, BitReader& r, const DCTDHuffTable* table,
                           Store store) {
  for (int32_t k = 0;;) {
    FillForSymbol(state, r);
    const uint32_t prefix = LookupPrefix(r);
    const int32_t entry = table->fast[prefix];
    int32_t v;
    if (__builtin_expect(FastBits(entry) <= r.bits, 1)) {
      r.bits -= FastBits(entry);
      k += FastAdvance(entry);
      v = FastValue(entry);
    } else {
      const int32_t rs = SymbolOfPrefix(state, r, table, prefix);
      const int32_t size = rs & 15;
      if (size == 0) {
        if (rs == 0) return false;  // end of block
        k += 16;                    // sixteen zeros
        if (k >= kLastZigzag) return k > kLastZigzag;
        continue;
      }
      k += (rs >> 4) + 1;
      v = ReceiveExtend(state, r, size);
    }
    if (k > kLastZigzag) return v != 0;  // value 0: end of block
    store(k, v);
    if (k == kLastZigzag) return false;
  }
}

// Decodes the AC coefficients of one block into `block` (natural order,
// dequantized as they arrive); returns lastCol and the highest natural
// index through the pointers.
inline void DecodeACs(DCTState* state, BitReader& r, const DCTDHuffTable* table,
                      const int32_t* quant, int32_t* block, int32_t* lastCol, int32_t* highest) {
  int32_t col = 0, high = 0;
  const bool overrun = DecodeACEvents(state, r, table, [&](int32_t k, int32_t v) {
    const int32_t n = DCTunzigzag[k];
    block[n] = WrapMul(v, quant[k]);
    if (n > high) high = n;
    if ((n & 7) > col) col = n & 7;
  });
  if (overrun) {
    col = 7;
    high = kLastZigzag;
  }
  *lastCol = col;
  *highest = high;
}

// Zeroes what a block and its transform left in the coefficient block. The
// transform writes only within columns 0..lastCol (all rows), and the
// decoder stores coefficients only there, so the rest is still zero.
inline void ClearUsedColumns(int32_t* block, int32_t lastCol) {
  if (lastCol == 0) {
    for (int32_t r = 0; r < 8; r++) block[8 * r] = 0;
  } else if (lastCol < 4) {
    for (int32_t r = 0; r < 8; r++) {
      for (int32_t c = 0; c < 4; c++) block[8 * r + c] = 0;
    }
  } else {
    for (int32_t i = 0; i < kBlockSize; i++) block[i] = 0;
  }
}

}  // namespace

void DCTDInitStrip(uint8_t* rowPointers[4], const DCTComponent* comp) {
  for (int32_t i = 0; i < comp->vSamples && i < 4; i++) {
    rowPointers[i] = comp->strip + static_cast<size_t>(8) * i * comp->stripWidth;
  }
}

namespace {

// Decodes one block of `comp` and inverse-transforms it to `out`. `block`
// (64 coefficients and the discard slot) is zero on entry and on return, so
// the strip loops clear it once rather than once per block.
inline void DecodeBlock(DCTState* state, BitReader& r, DCTComponent* comp, uint8_t* out,
                        int32_t* block) {
  const auto* dcTable = static_cast<const DCTDHuffTable*>(comp->dcHuffPtr);
  const auto* acTable = static_cast<const DCTDHuffTable*>(comp->acHuffPtr);
  const int32_t* quant = comp->qTablePtr;
  comp->lastDC = WrapAdd(comp->lastDC, DecodeDCDifference(state, r, dcTable));
  block[0] = WrapMul(comp->lastDC, quant[0]);
  int32_t lastCol, highest;
  DecodeACs(state, r, acTable, quant, block, &lastCol, &highest);
  DCTrev_transform(state, block, out, lastCol, highest >> 3, comp);
  ClearUsedColumns(block, lastCol);
  state->blockNumber++;
}

// Decodes rows x blocksPerRow blocks of one component.
void DecodeBlocks(DCTState* state, int32_t rows, int32_t blocksPerRow, DCTComponent* comp,
                  uint8_t* rowPointers[4], int32_t* block) {
  BitReader r = LoadReader(state);
  for (int32_t row = 0; row < rows; row++) {
    for (int32_t b = 0; b < blocksPerRow; b++) {
      DecodeBlock(state, r, comp, rowPointers[row], block);
      rowPointers[row] += 8;
    }
  }
  StoreReader(state, r);
}

}  // namespace

namespace {

// A coefficient as the store keeps it: 16 bits, wrapped (valid streams stay
// far inside; hostile ones only get a wrong picture, never undefined values).
inline int16_t StoreCoef(int32_t v) {
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v)));
}

// The AC coefficients of one block into `coefs` (natural order, as coded).
// A run past the last coefficient ends the block the way DecodeACs does.
inline void DecodeRawACs(DCTState* state, BitReader& r, const DCTDHuffTable* table,
                         int16_t* coefs) {
  DecodeACEvents(state, r, table,
                 [&](int32_t k, int32_t v) { coefs[DCTunzigzag[k]] = StoreCoef(v); });
}

// --- progressive scans (T.81 G.1.2) ----------------------------------------------

struct Band {
  int32_t ss, se, al;  // first and last zigzag position, point transform
};

// One block of a first AC scan: values of the band, shifted up by Al, or
// one block of an end-of-band run.
inline void DecodeACFirst(DCTState* state, BitReader& r, const DCTDHuffTable* table, Band band,
                          int16_t* coefs) {
  if (state->eobRun > 0) {
    state->eobRun--;
    return;
  }
  for (int32_t k = band.ss; k <= band.se;) {
    const int32_t rs = DecodeSymbol(state, r, table);
    const int32_t run = rs >> 4, size = rs & 15;
    if (size != 0) {
      k += run;
      const int32_t v = ReceiveExtend(state, r, size);
      if (k > band.se) return;  // past the band: the value is dropped
      coefs[DCTunzigzag[k++]] = StoreCoef(ShiftLeft(v, band.al));
    } else if (run == 15) {
      k += 16;  // sixteen zeros
    } else {    // EOBn: this block and 2^n - 1 + (n bits) more end here
      state->eobRun = (1 << run) - 1;
      if (run != 0) state->eobRun += GetBits(state, r, run);
      return;
    }
  }
}

// A correction bit for a coefficient already non-zero: 1 raises its
// magnitude by the bit of weight 2^Al.
inline void Refine(DCTState* state, BitReader& r, int16_t* coef, int32_t bit) {
  if (GetBits(state, r, 1) == 0 || (*coef & bit) != 0) return;
  *coef = StoreCoef(*coef >= 0 ? *coef + bit : *coef - bit);
}

// One block of an AC refinement scan: correction bits for the non-zero
// coefficients of the band, and coefficients that become +-2^Al.
inline void DecodeACRefine(DCTState* state, BitReader& r, const DCTDHuffTable* table, Band band,
                           int16_t* coefs) {
  const int32_t bit = 1 << band.al;
  int32_t k = band.ss;
  if (state->eobRun == 0) {
    for (; k <= band.se; k++) {
      const int32_t rs = DecodeSymbol(state, r, table);
      int32_t run = rs >> 4;
      int32_t value = 0;
      if ((rs & 15) != 0) {
        value = GetBits(state, r, 1) != 0 ? bit : -bit;
      } else if (run != 15) {
        state->eobRun = 1 << run;
        if (run != 0) state->eobRun += GetBits(state, r, run);
        break;
      }
      // Skip `run` zero coefficients, refining the non-zero ones passed.
      for (; k <= band.se; k++) {
        int16_t* coef = &coefs[DCTunzigzag[k]];
        if (*coef != 0) {
          Refine(state, r, coef, bit);
        } else if (--run < 0) {
          break;
        }
      }
      if (value != 0 && k <= band.se) coefs[DCTunzigzag[k]] = StoreCoef(value);
    }
  }
  if (state->eobRun > 0) {  // inside an end-of-band run: refine the rest
    for (; k <= band.se; k++) {
      int16_t* coef = &coefs[DCTunzigzag[k]];
      if (*coef != 0) Refine(state, r, coef, bit);
    }
    state->eobRun--;
  }
}

}  // namespace

void DCTDdecodeCoefBlocks(DCTState* state, DCTComponent* comp, int16_t* coefs, int32_t count) {
  BitReader r = LoadReader(state);
  const auto* dcTable = static_cast<const DCTDHuffTable*>(comp->dcHuffPtr);
  const auto* acTable = static_cast<const DCTDHuffTable*>(comp->acHuffPtr);
  const DCTDScanInfo& scan = state->scan;
  const Band band = {scan.ss, scan.se, scan.al};
  const bool dcScan = scan.ss == 0, refine = scan.ah != 0;
  int32_t lastDC = comp->lastDC;
  for (int32_t b = 0; b < count; b++, coefs += kBlockSize) {
    if (state->progressive == 0) {
      lastDC = WrapAdd(lastDC, DecodeDCDifference(state, r, dcTable));
      coefs[0] = StoreCoef(lastDC);
      DecodeRawACs(state, r, acTable, coefs);
    } else if (dcScan && !refine) {
      lastDC = WrapAdd(lastDC, DecodeDCDifference(state, r, dcTable));
      coefs[0] = StoreCoef(ShiftLeft(lastDC, band.al));
    } else if (dcScan) {
      if (GetBits(state, r, 1) != 0) coefs[0] = StoreCoef(coefs[0] | (1 << band.al));
    } else if (!refine) {
      DecodeACFirst(state, r, acTable, band, coefs);
    } else {
      DecodeACRefine(state, r, acTable, band, coefs);
    }
    state->blockNumber++;
  }
  comp->lastDC = lastDC;
  StoreReader(state, r);
}

void DCTdecode_color(DCTState* state, int32_t rows, int32_t blocksPerRow, DCTComponent* comp,
                     uint8_t* rowPointers[4]) {
  alignas(16) int32_t block[kCoefficientSlots] = {};
  DecodeBlocks(state, rows, blocksPerRow, comp, rowPointers, block);
}

void DCTdecodeResync(DCTState* state) {
  if (--state->restartCountdown > 0) return;
  state->restartCountdown = state->restartInterval;
  DCTreset_dc(state);
  const int32_t code = DCTDsgetmarker(state);  // drops the interval's unread bits
  // Only the marker's kind is checked, not its number: a wrong RSTn is
  // accepted. Any other marker means the scan's data ended early.
  if (!JPEGIsRST(code)) DCTDTruncateError(state, code);
  state->restartMarkerNumber = (state->restartMarkerNumber + 1) & 7;
}

namespace {

// One MCU row of an interleaved scan. The reader stays in locals for the
// whole row; it goes back to the state only around a restart marker.
void DecodeInterleavedStrip(DCTState* state) {
  alignas(16) int32_t block[kCoefficientSlots] = {};
  uint8_t* rowPointers[4][4];
  for (int32_t c = 0; c < state->Colors; c++) DCTDInitStrip(rowPointers[c], &state->components[c]);
  BitReader r = LoadReader(state);
  for (int32_t mcu = 0; mcu < state->mcusPerRow; mcu++) {
    if (state->restartInterval != 0) {
      StoreReader(state, r);
      DCTdecodeResync(state);
      r = LoadReader(state);
    }
    for (int32_t c = 0; c < state->Colors; c++) {
      DCTComponent* comp = &state->components[c];
      for (int32_t v = 0; v < comp->vSamples; v++) {
        for (int32_t h = 0; h < comp->hSamples; h++) {
          DecodeBlock(state, r, comp, rowPointers[c][v], block);
          rowPointers[c][v] += 8;
        }
      }
    }
  }
  StoreReader(state, r);
}

// Up to vSamples block rows of a single-component scan; block rows that
// begin below the image are not in the data. Each block is one MCU.
void DecodeSingleStrip(DCTState* state) {
  alignas(16) int32_t block[kCoefficientSlots] = {};
  DCTComponent* comp = &state->components[0];
  for (int32_t row = 0; row < comp->vSamples; row++) {
    if (state->linesEmitted + 8 * row >= state->Rows) break;
    uint8_t* rowPointer[4] = {comp->strip + static_cast<size_t>(8) * row * comp->stripWidth};
    int32_t left = state->mcusPerRow;
    while (left > 0) {
      int32_t run = left;
      if (state->restartInterval != 0) {
        DCTdecodeResync(state);
        if (state->restartCountdown < run) run = state->restartCountdown;
        state->restartCountdown -= run - 1;
      }
      DecodeBlocks(state, 1, run, comp, rowPointer, block);
      left -= run;
    }
  }
}

}  // namespace

void DCTDdecodeStrip(DCTState* state) {
  if (state->Colors == 1) {
    DecodeSingleStrip(state);
  } else {
    DecodeInterleavedStrip(state);
  }
}
