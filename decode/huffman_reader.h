// huffman_reader.h - the Huffman decoders' shared fast path: the bit reader
// held in locals and the symbol look-ups, used by both Huffman entropy
// decoders (huffman_sequential.cpp, huffman_progressive.cpp). Everything
// here is inline so that each decoder's block loop keeps the reader in
// registers for a whole call.
//
// A decoder loads the reader from the state at the start of a strip or run
// of blocks (LoadReader) and stores it back at the end (StoreReader). In
// locals the unread bits stand at the top of the 64-bit buffer, zeros below
// them, so that the next symbol's prefix is one shift of the buffer and
// consuming bits one shift back: the chain from one symbol to the next is
// a shift, the table load and a shift. The state keeps them at the low end.
// Bytes
// are taken from the source buffer without testing its count: every source
// stores a 0xFF guard byte after its valid bytes, and any 0xFF sends the
// reader to the slow path in compressed_input.cpp, which tells the guard
// (count gone negative) from a real 0xFF. The tables themselves are built
// from DHT bodies in compressed_input.cpp (DCTDmake_huffdec).
//
// The functions are static: the decoders that include them are built twice
// (once for the bit instructions, simd/kernels.h), and a shared out-of-line
// copy would let the linker run one build's code for the other.
#ifndef JPEG_DECODE_HUFFMAN_READER_H
#define JPEG_DECODE_HUFFMAN_READER_H

#include <cstdint>
#include <cstring>

#include "codec/jpeg_markers.h"
#include "decode/decoder.h"
#include "stream/stm_inline.h"

namespace huffman {

constexpr int32_t kBlockSize = 64;
constexpr int32_t kCoefficientSlots = kBlockSize + 4;  // the discard slot, padded for alignment
constexpr int32_t kLastZigzag = 63;
constexpr int32_t kWindowBits = 16;
constexpr int32_t kLongCodeMark = 16;  // lookahead lengths from here on start a search
constexpr int32_t kSearchStartBias = 15;

struct BitReader {
  uint64_t buffer;   // unread bits from the top down, zeros below them
  int32_t bits;      // unread bits; below 0 past the end of the data (zeros read)
  int32_t next;      // lookahead byte, 0..255 or -1
  const uint8_t* ptr;  // source buffer position (just past `next`)
  int32_t count;     // source count
};

// The reader at the state's position (after an out-of-line step moved it)
// with the given bits.
static inline BitReader ReaderAt(const DCTState* state, uint64_t buffer, int32_t bits) {
  return BitReader{buffer, bits, state->nextByte, state->targetStm->ptr, state->targetStm->count};
}

static inline BitReader LoadReader(const DCTState* state) {
  const int32_t bits = state->bitCount;  // at most 63
  return ReaderAt(state, bits > 0 ? state->bitBuffer << (64 - bits) : 0, bits);
}

// The guard byte past the source buffer, in the state's lookahead, replaced
// by the real byte behind it (a refill of the source).
static inline void ReplaceGuard(DCTState* state) {
  if (state->nextByte == kMarkerPrefix && state->targetStm->count < 0) state->nextByte = StmGetByte(state->targetStm);
}

static inline void SyncReader(DCTState* state, const BitReader& r) {
  Stm* source = state->targetStm;
  source->ptr = const_cast<uint8_t*>(r.ptr);
  source->count = static_cast<int16_t>(r.count);
  state->nextByte = r.next;
}

// Stores the reader back; a guard byte in the lookahead is replaced by a
// real read first, so that the marker reader and the next call find a real
// byte there.
static inline void StoreReader(DCTState* state, const BitReader& r) {
  SyncReader(state, r);
  state->bitBuffer = r.bits > 0 ? r.buffer >> (64 - r.bits) : 0;
  state->bitCount = r.bits;
  ReplaceGuard(state);
}

// Takes `bits` bits off the top of the buffer.
static inline void Consume(BitReader& r, int32_t bits) {
  r.buffer <<= bits;
  r.bits -= bits;
}

// Appends one byte of entropy-coded data below the unread bits (8 more of
// them); false when a marker or the end of the data stands there (an error
// if slack < 0). Past the end (bits below 0) the byte's first bits stand
// for zeros already read and drop out, as they do when read.
static inline bool AppendByte(DCTState* state, BitReader& r, int32_t slack) {
  uint32_t byte = static_cast<uint32_t>(r.next);
  if (__builtin_expect(byte >= kMarkerPrefix, 0)) {  // 0xFF, or -1 as unsigned
    SyncReader(state, r);
    const int32_t b = DCTDFetchByteSlow(state, slack);
    r = ReaderAt(state, r.buffer, r.bits);
    if (b < 0) return false;
    byte = static_cast<uint32_t>(b);
  }
  const int32_t shift = 56 - r.bits;  // r.bits <= 55 here
  if (shift < 64) r.buffer |= static_cast<uint64_t>(byte) << shift;
  r.bits += 8;
  r.next = *r.ptr++;  // safe: the guard byte stands after the valid bytes
  r.count--;
  return true;
}

// The number of bytes of the word, from its most significant one, before
// the first 0xFF, or 7 when none of the first seven is one. Exact per
// byte: no carry runs from one byte into the next.
static inline uint32_t BytesBeforeMarkerByte(uint64_t word) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  const uint64_t inverse = ~word;  // a 0xFF byte is 0 here
  const uint64_t zero = ~(((inverse & kLow7) + kLow7) | inverse | kLow7);  // 0x80 in each zero byte
  return static_cast<uint32_t>(__builtin_clzll(zero | 1)) / 8;
}

// The bits of a reader's buffer, what an out-of-line step hands back.
struct HeldBits {
  uint64_t buffer;
  int32_t bits;
};

// The top-up where the source buffer holds fewer than eight bytes: the same
// bytes, one at a time, the guard at the buffer's end replaced by the real
// byte behind it (a refill of the source). The reader's position comes and
// goes through the state (SyncReader), its bits by value: a caller's reader
// never has its address taken and stays in registers.
[[gnu::noinline, gnu::cold]] static HeldBits TopUpByteByByte(DCTState* state, HeldBits held) {
  BitReader r = ReaderAt(state, held.buffer, held.bits);
  for (uint32_t n = static_cast<uint32_t>(63 - r.bits) >> 3; n > 0; n--) {
    if (r.count < 0) {  // the lookahead may be the guard
      SyncReader(state, r);
      ReplaceGuard(state);
      r = ReaderAt(state, r.buffer, r.bits);
    }
    if (static_cast<uint32_t>(r.next) >= kMarkerPrefix) break;  // a real 0xFF, or the end of the data
    r.buffer |= static_cast<uint64_t>(r.next) << (56 - r.bits);
    r.bits += 8;
    r.next = *r.ptr++;  // safe: the guard byte stands after the valid bytes
    r.count--;
  }
  SyncReader(state, r);
  return HeldBits{r.buffer, r.bits};
}

// Tops the buffer up to 56..63 bits without a branch on how many it holds:
// the lookahead byte and the plain bytes after it that fit enter at once,
// up to the first 0xFF (which AppendByte takes, telling a stuffed byte from
// a marker). What enters depends on the data and the bits already taken
// only, never on where the source's buffers end: readers of the same data
// that stop at the same bit, whatever pieces their bytes came in, have read
// the same bytes, and so go on from the same place after a scan or a
// restart interval, whether the data is whole, in pieces or split among
// workers (parallel_decode.cpp). False, with nothing done, where the
// source buffer holds fewer than eight bytes: the caller tops up byte by
// byte (TopUpByteByByte). Without a call, so that the symbol loop that
// inlines it keeps its registers.
static inline bool TopUpInPlace(BitReader& r) {
  if (r.bits < 0) return true;  // past the end of the data: nothing to add
  if (__builtin_expect(r.count < 8, 0)) return false;
  if (static_cast<uint32_t>(r.next) >= kMarkerPrefix) return true;  // a real 0xFF (not the guard: count >= 8)
  const uint32_t n = static_cast<uint32_t>(63 - r.bits) >> 3;  // bytes that fit: 0..7
  uint64_t ahead;
  std::memcpy(&ahead, r.ptr, sizeof ahead);
  const uint64_t following = __builtin_bswap64(ahead);  // ptr[0..7], ptr[0] at the top
  const uint64_t bytes = static_cast<uint64_t>(r.next) << 56 | following >> 8;  // next, ptr[0..6]
  uint32_t m = n;
  if (__builtin_expect(JPEGHasMarkerPrefixByte(bytes & ~(~uint64_t{0} >> (8 * n))), 0)) {
    const uint32_t plain = 1 + BytesBeforeMarkerByte(following);  // the lookahead byte and those before a 0xFF
    m = n < plain ? n : plain;
  }
  const uint64_t taken = ~(~uint64_t{0} >> (8 * m));  // their bits, at the top
  r.buffer |= (bytes & taken) >> r.bits;
  r.bits += static_cast<int32_t>(8 * m);
  r.next = static_cast<int32_t>((bytes >> (56 - 8 * m)) & 0xFF);  // byte m: the new lookahead
  r.ptr += m;
  r.count -= static_cast<int32_t>(m);
  return true;
}

// Always inlined whole: left to itself the compiler splits the byte-by-byte
// branch off into a function that takes the reader's address, and the
// reader of every loop that inlines the rest then lives in memory.
[[gnu::always_inline]] static inline void TopUp(DCTState* state, BitReader& r) {
  if (TopUpInPlace(r)) return;
  SyncReader(state, r);
  const HeldBits held = TopUpByteByByte(state, HeldBits{r.buffer, r.bits});
  r = ReaderAt(state, held.buffer, held.bits);
}

// Makes at least 16 bits available before a Huffman symbol, as far as the
// data goes: a top-up where it can, else byte by byte.
static inline void FillForSymbol(DCTState* state, BitReader& r) {
  if (r.bits >= kWindowBits) return;
  TopUp(state, r);
  // slack: the bits before the byte
  if (r.bits < kWindowBits && AppendByte(state, r, r.bits - 1)) AppendByte(state, r, r.bits - 1);
}

// The next 16 unread bits; bits missing at the end of the data count as 0.
static inline uint32_t Window16(const BitReader& r) {
  return static_cast<uint32_t>(r.buffer >> (64 - kWindowBits));
}

// n (1..15) raw bits of the data.
static inline int32_t GetBits(DCTState* state, BitReader& r, int32_t n) {
  if (r.bits < n) {
    AppendByte(state, r, r.bits - n);  // negative slack: no byte is the truncation error
    AppendByte(state, r, r.bits - n);
  }
  const int32_t value = static_cast<int32_t>(r.buffer >> (64 - n));
  Consume(r, n);
  return value;
}

// The value of s (1..11) magnitude bits (T.81 F.2.2.1, EXTEND): negative
// when the top of the s bits is clear, then raw - (2^s - 1). A sign is a
// coin toss, so this is computed rather than branched on.
static inline int32_t ExtendMagnitude(int32_t raw, int32_t s) {
  const uint32_t negative = (static_cast<uint32_t>(raw) >> (s - 1)) ^ 1u;
  return raw - static_cast<int32_t>(((1u << s) - 1) & (0u - negative));
}

// s extra bits of a magnitude, read and extended to a signed value.
static inline int32_t ReceiveExtend(DCTState* state, BitReader& r, int32_t s) {
  return ExtendMagnitude(GetBits(state, r, s), s);
}

// Finds the code length from `length` on, consumes the code, returns its value.
static inline int32_t DecodeLong(DCTState* state, BitReader& r, const DCTDHuffTable* table,
                          int32_t length) {
  const int32_t w = static_cast<int32_t>(Window16(r));
  if (w >= table->endMark) DCTDBadCodeError(state);
  while (length < 16 && table->maxCode[length - 1] < w) length++;
  Consume(r, length);
  const int32_t code = w >> (kWindowBits - length);
  return table->values[table->valueOffset[length - 1] + code];
}

// The look-up prefix: the next kDCTDLookaheadBits bits of the window.
static inline uint32_t LookupPrefix(const BitReader& r) {
  return static_cast<uint32_t>(r.buffer >> (64 - kDCTDLookaheadBits));
}

// The symbol of a lookahead pair (length, symbol) the reader stands at: a
// short code consumed, a longer one found by the search from the length
// the pair names.
static inline int32_t SymbolOfPair(DCTState* state, BitReader& r, const DCTDHuffTable* table, int32_t length,
                                   int32_t symbol) {
  if (length < kLongCodeMark) {
    Consume(r, length);
    return symbol;
  }
  return DecodeLong(state, r, table, length - kSearchStartBias);
}

// The Huffman symbol that begins with `prefix` (the reader filled for a
// symbol).
static inline int32_t SymbolOfPrefix(DCTState* state, BitReader& r, const DCTDHuffTable* table,
                              uint32_t prefix) {
  return SymbolOfPair(state, r, table, table->lookahead[prefix][0], table->lookahead[prefix][1]);
}

// One Huffman symbol.
static inline int32_t DecodeSymbol(DCTState* state, BitReader& r, const DCTDHuffTable* table) {
  FillForSymbol(state, r);
  return SymbolOfPrefix(state, r, table, LookupPrefix(r));
}

// Fields of a combined look-up entry (DCTDHuffTable::fast).
static inline int32_t FastBits(int32_t entry) { return entry & 0xFF; }

// Consumes an entry's bits. Its bit count is below 64, so masking the
// entry with 63 keeps it, and the mask is the one the processor's shift
// applies anyway: the shift then takes the loaded entry as it is, one step
// less between a symbol's look-up and the next one's.
static inline void ConsumeFast(BitReader& r, int32_t entry) {
  r.buffer <<= static_cast<uint32_t>(entry) & 63;
  r.bits -= FastBits(entry);
}
static inline int32_t FastAdvance(int32_t entry) { return (entry >> 8) & 0xFF; }
static inline int32_t FastValue(int32_t entry) { return entry >> 16; }

// The symbol after an entry TakeFastEntry refused: from the lookahead pair
// the entry carries, or, where the entry holds a whole event the reader
// lacks the bits of (at the end of the data), from the lookahead table.
static inline int32_t SymbolOfEntry(DCTState* state, BitReader& r, const DCTDHuffTable* table, int32_t entry,
                                    uint32_t prefix) {
  if (__builtin_expect(FastBits(entry) != kDCTDNoFastEntry, 0)) return SymbolOfPrefix(state, r, table, prefix);
  return SymbolOfPair(state, r, table, (entry >> 8) & 0xFF, (entry >> 16) & 0xFF);
}

// Fills the reader and looks up the next event. True when the combined
// look-up holds all of it and the reader has its bits: the entry, consumed.
// Else false, nothing consumed, and the entry and prefix for the symbol
// look-up (SymbolOfEntry).
static inline bool TakeFastEntry(DCTState* state, BitReader& r, const DCTDHuffTable* table, int32_t* entry,
                          uint32_t* prefix) {
  FillForSymbol(state, r);
  *prefix = LookupPrefix(r);
  *entry = table->fast[*prefix];
  if (__builtin_expect(FastBits(*entry) > r.bits, 0)) return false;
  ConsumeFast(r, *entry);
  return true;
}

// The DC difference of one block: code and magnitude bits by one look-up
// when the prefix holds both and the reader has them, else symbol and bits
// one after the other.
static inline int32_t DecodeDCDifference(DCTState* state, BitReader& r, const DCTDHuffTable* table) {
  int32_t entry;
  uint32_t prefix;
  if (TakeFastEntry(state, r, table, &entry, &prefix)) return FastValue(entry);
  const int32_t s = SymbolOfEntry(state, r, table, entry, prefix);
  return s != 0 ? ReceiveExtend(state, r, s) : 0;
}

// TakeFastEntry for the `event`-th AC event of a block without a refill
// test: every kEventsPerTopUp-th event tops the buffer up first, and an
// event that finds too few bits for its entry takes TakeFastEntry's
// refilling path. (A test before every event, taken at random about once
// in seven and decided only after the previous look-up, cost more than
// the top-ups.) The look-up takes the bits held before a top-up, so that it
// need not wait for it: the bits a top-up adds go below them.
constexpr int32_t kEventsPerTopUp = 4;  // at most 40 bits of combined entries, usually about 25

static inline bool TakeACEntry(DCTState* state, BitReader& r, const DCTDHuffTable* table, int32_t event,
                               int32_t* entry, uint32_t* prefix) {
  *prefix = LookupPrefix(r);
  const int32_t held = r.bits;
  if (event % kEventsPerTopUp == 0) TopUp(state, r);
  *entry = table->fast[*prefix];
  if (__builtin_expect(FastBits(*entry) <= held, 1)) {
    ConsumeFast(r, *entry);
    return true;
  }
  // An event the combined look-up does not hold, its prefix read from bits
  // held, enough of them for its symbol: the entry's lookahead pair serves.
  if (FastBits(*entry) == kDCTDNoFastEntry && held >= kWindowBits) return false;
  return TakeFastEntry(state, r, table, entry, prefix);
}

// Decodes the AC events of one sequential block, handing each coefficient
// to store(k, value) (zigzag position k, 1..63); returns true when a run
// went past position 63 (the overrunning value is dropped). Most events
// come from the combined look-up (TakeACEntry), end of block among them
// (an advance past position 63 with value 0: a coded coefficient is never
// 0); the rest are decoded as symbol and magnitude bits.
template <typename Store>
static inline bool DecodeACEvents(DCTState* state, BitReader& r, const DCTDHuffTable* table,
                           Store store) {
  for (int32_t k = 0, event = 0;; event++) {
    int32_t entry, v;
    uint32_t prefix;
    if (TakeACEntry(state, r, table, event, &entry, &prefix)) {
      k += FastAdvance(entry);
      v = FastValue(entry);
    } else {
      const int32_t rs = SymbolOfEntry(state, r, table, entry, prefix);
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
    if (__builtin_expect(k >= kLastZigzag, 0)) {  // once a block: its end
      if (k > kLastZigzag) return v != 0;          // value 0: end of block
      store(k, v);
      return false;
    }
    store(k, v);
  }
}

// A coefficient as the store keeps it: 16 bits, wrapped (valid streams stay
// far inside; hostile ones only get a wrong picture, never undefined values).
static inline int16_t StoreCoef(int32_t v) {
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(v)));
}

}  // namespace huffman

#endif
