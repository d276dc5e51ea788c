// block_coder.cpp - the block coder: one complete strip (an MCU row of every
// component, assembled by strip_input.cpp) becomes entropy-coded data.
//
// MCUs are walked in scan order; each image block is transformed
// (forward_dct.cpp), quantized with a dead zone and Huffman coded through the
// bit writer (DCTEputBits in encoder.h), with a restart marker before every
// restart interval but the first. The dead zone uses the uncapped quantizers
// (qThreshold): a coefficient G is zero when -T <= G < T, tested as the one
// unsigned comparison (G + T) < 2T; the magnitude of the others uses the
// capped quantizers (qTable), which never exceed the threshold, so every
// coefficient outside the dead zone codes as a magnitude of at least 1.
// Blocks wholly right of the image skip the transform and cost a DC
// category 0 and an EOB. Blocks with many coefficients outside the dead
// zone are quantized by the vector kernel and their events go into the
// accumulator in groups, the complete bytes written after each group
// without a test for a full accumulator (CodeDenseBlock).
//
// The file is built twice on x86-64 (JPEG_CODER_NAME, simd/kernels.h): the
// second build, for the bit instructions, codes the strips when the CPU has
// them; DCTEcodeStrip, built once, chooses.
#include <cstring>
#include <memory>
#include <new>

#include "codec/jpeg_markers.h"
#include "codec/wrap_arith.h"
#include "encode/coefficient_image.h"
#include "encode/encoder.h"
#include "simd/coefficient_masks.h"
#include "simd/kernels.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__BMI__)
#include <immintrin.h>
#endif

using namespace coefficient_masks;

namespace {

constexpr int32_t kEOB = 0;  // AC code-table index of end of block
constexpr int32_t kZRL = 1;  // AC code-table index of a run of 16 zeros
constexpr int32_t kMaxV = 4; // largest vertical sampling factor
constexpr int32_t kMaxColors = 4;  // components of an image
constexpr int32_t kMaxEncoderQTables = 2;  // luminance and chrominance
// Blocks with more coefficients outside the dead zone than this are
// quantized whole by the vector kernel; fewer cost less one at a time.
constexpr int32_t kVectorQuantizeFrom = 8;

// Largest magnitudes baseline coding produces from 8-bit samples: AC values
// below 1024 (category 10), DC differences below 2048 (category 11).
constexpr uint32_t kACLimit = 1024;
constexpr uint32_t kDCDiffLimit = 2048;

// Category (number of significant bits, 0 for 0) of a magnitude below
// `limit` (at most 4096); a larger one can only come from an internal fault
// and is reported rather than indexing past the code tables.
inline int32_t Category(uint32_t v, uint32_t limit) {
  if (v >= limit)
    DCTStmErr1("BUG: quantized magnitude %ld out of range", static_cast<int32_t>(v & 0x7FFFFFFF));
  return 31 - __builtin_clz(2 * v + 1);  // 2v + 1 is never 0 and has one bit more than v
}

// Low s bits of a signed value's JPEG magnitude code: the value itself when
// positive, the complement of its magnitude when negative (the magnitude
// below 2^s XORed with the value's sign, all ones or all zeros).
inline uint32_t MagnitudeBits(int32_t value, uint32_t magnitude, int32_t s) {
  const uint32_t sign = static_cast<uint32_t>(value >> 31);
  return (magnitude ^ sign) & ((1u << s) - 1);
}

// Outside the dead zone -T <= G < T (unsigned arithmetic: no overflow). The
// SSE2 build tests four coefficients at once and does not call it.
[[maybe_unused]] inline bool Significant(int32_t G, uint32_t t) {
  return static_cast<uint32_t>(G) + t >= 2 * t;
}

// An AC coefficient as the coder's loop takes it, an event: its magnitude
// bits from bit kEventBitsShift up, its category s in bits 6..9 (s times
// 64: its row of the coder's code slots, EventCodes), nothing else.
constexpr uint32_t kEventBitsShift = 10;
constexpr uint32_t kCategoryShift = 6;
constexpr uint32_t kEventRowMask = 15u << kCategoryShift;
// The grouped coder's end item (CodeGroupedAC): no magnitude bits, in the
// row past the categories' (kEndRow), whose slots give the end of block or
// nothing.
constexpr int32_t kEndRow = 11;
constexpr uint32_t kEndItem = static_cast<uint32_t>(kEndRow) << kCategoryShift;

// The event of each AC value of magnitude m below kACLimit, positive and
// negative: one look-up in the coder's loop, at m + kACLimit x (value < 0)
// (as the vector quantizer gives it). A negative value's magnitude bits are
// the complement of m's s low bits. The natural position of each zigzag
// position stands beside them, so that the coder's loop reads both through
// one base register. Magnitude 0 is never coded: its entry is the grouped
// coder's end item (kEndItem), which stands at zigzag and natural position
// 64, past the block's.
constexpr uint32_t kEndPosition = 64;  // position of the grouped coder's end items

struct EventTable {
  uint32_t of[2 * kACLimit];
  uint8_t natural[kEndPosition + 1];
};

constexpr EventTable MakeEventTable() {
  EventTable t{};
  const ZigzagPositions zigzag = MakeZigzagPositions();
  for (int32_t n = 0; n < 64; n++) t.natural[zigzag.of[n]] = static_cast<uint8_t>(n);
  t.natural[kEndPosition] = kEndPosition;
  t.of[0] = kEndItem;
  for (uint32_t m = 1; m < kACLimit; m++) {
    uint32_t s = 0;
    while ((m >> s) != 0) s++;
    t.of[m] = m << kEventBitsShift | s << kCategoryShift;
    t.of[kACLimit + m] = (~m & ((1u << s) - 1)) << kEventBitsShift | s << kCategoryShift;
  }
  return t;
}

constexpr EventTable kACEventsOf = MakeEventTable();

// What the coder needs of one quantization table, prepared per strip:
// - the dead-zone thresholds (DCTEThresholds);
// - for each zigzag position, the divisor 2D as a multiply and shift: with
//   l = ceil(log2(2D)) and M = floor((2^(31+l) - 1) / 2D) + 1, n / 2D is
//   (n x M) >> (31 + l) for every n below 2^31 (Granlund and Montgomery,
//   "Division by invariant integers using multiplication", 1994, thm 4.2).
// The divide's figures sit with the natural index of their zigzag position
// in one 16-byte record, so that the coder's loop reads one record per
// coefficient from one base pointer.
struct ZigzagStep {
  uint32_t magic;
  uint32_t d;       // the capped quantizer D at the transform's scale
  uint8_t shift;
  uint8_t natural;  // DCTunzigzag of the position
  uint8_t unused[6];
};

struct DeadZone {
  DCTEThresholds thresholds;
  ZigzagStep step[64];
  DCTQuantizerSteps vector;  // the divide's figures again, for the vector quantizer
};

constexpr uint32_t kMultiplyLimit = 0x80000000u;  // numerators the multiply serves

void PrepareDeadZone(DeadZone* z, const int32_t* T, const int32_t* D) {
  DCTEPrepareThresholds(&z->thresholds, T);
  z->vector = DCTQuantizerSteps{};  // the halves no figure fills stay 0
  for (int32_t k = 0; k < 64; k++) {
    const uint64_t divisor = 2 * static_cast<uint64_t>(static_cast<uint32_t>(D[k]));
    const int32_t l = 64 - __builtin_clzll(divisor - 1);  // ceil(log2(divisor)), divisor >= 2
    ZigzagStep& step = z->step[k];
    step.magic = static_cast<uint32_t>(((uint64_t{1} << (31 + l)) - 1) / divisor + 1);
    step.d = static_cast<uint32_t>(D[k]);
    step.shift = static_cast<uint8_t>(31 + l);
    step.natural = DCTunzigzag[k];
    const int32_t n = step.natural;
    z->vector.d[n] = step.d;
    z->vector.magic[n] = step.magic;
    (n % 2 == 0 ? z->vector.evenShift[n] : z->vector.oddShift[n - 1]) = step.shift;
    if (n % 2 != 0) z->vector.oddMagic[n - 1] = step.magic;
  }
}

// The dead zones of the tables this thread saw last. Every strip of an
// image uses the same tables, so the divisions that make the figures run
// once per image rather than once per strip.
struct DeadZoneCache {
  int32_t T[64], D[64];
  bool valid;
  DeadZone zone;
};

const DeadZone* DeadZoneOf(int32_t slot, const int32_t* T, const int32_t* D) {
  thread_local DeadZoneCache cache[kMaxEncoderQTables];
  DeadZoneCache& c = cache[slot];
  if (!c.valid || std::memcmp(c.T, T, sizeof c.T) != 0 || std::memcmp(c.D, D, sizeof c.D) != 0) {
    std::memcpy(c.T, T, sizeof c.T);
    std::memcpy(c.D, D, sizeof c.D);
    PrepareDeadZone(&c.zone, T, D);
    c.valid = true;
  }
  return &c.zone;
}

// n / (2 d) for the divisor of one zigzag position.
inline uint32_t DivideByTwiceStep(uint32_t n, const ZigzagStep& step) {
  if (__builtin_expect(n < kMultiplyLimit, 1))
    return static_cast<uint32_t>((uint64_t{n} * step.magic) >> step.shift);
  return n / (2 * step.d);
}

// Writes the DC event of one block and updates the predictor. D0 is the
// scaled DC divisor; the value is rounded half away from zero.
inline void CodeDC(DCTEBitSink* sink, DCTComponent* comp, const DCTEHuffDC* dc, int32_t G,
                   const DeadZone* zone) {
  const uint32_t m = DivideByTwiceStep(DCTEMagnitude(G) + zone->step[0].d, zone->step[0]);
  const int32_t value = G < 0 ? -static_cast<int32_t>(m) : static_cast<int32_t>(m);
  const int32_t diff = value - comp->lastDC;
  comp->lastDC = value;
  const uint32_t mag = DCTEMagnitude(diff);
  const int32_t s = Category(mag, kDCDiffLimit);
  if (s > 11) __builtin_unreachable();  // Category refused larger ones; tells the compiler the bound
  const uint32_t bits = MagnitudeBits(diff, mag, s);
  DCTEputBits(sink, (static_cast<uint32_t>(dc->code[s]) << s) | bits, dc->length[s]);
}

// Bit n set when coefficient n (natural order) lies outside its dead zone;
// the thresholds come with their top bits flipped.
[[maybe_unused]] inline uint64_t SignificantNatural(const int32_t* coef, const uint32_t* tFlipped,
                                   const uint32_t* twoTFlipped) {
  uint64_t mask = 0;
#if defined(__SSE2__)
  for (int32_t i = 0; i < 64; i += 4) {
    const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coef + i));
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tFlipped + i));
    const __m128i t2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(twoTFlipped + i));
    // inside the dead zone: G + T < 2T (unsigned), i.e. 2T > G + T with
    // both sides' top bits flipped
    const __m128i inside = _mm_cmpgt_epi32(t2, _mm_add_epi32(g, t));
    const uint32_t bits = static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(inside))) ^ 15u;
    mask |= static_cast<uint64_t>(bits) << i;
  }
#else
  for (int32_t i = 0; i < 64; i++)
    if (Significant(coef[i], tFlipped[i] ^ 0x80000000u)) mask |= uint64_t{1} << i;
#endif
  return mask;
}

// Where to split the zero run from `first` up to the coefficient at zigzag
// position k (magnitude category s) when the table has no code for that run
// with that size. The default tables lack only a few such events (the
// chrominance table of set 1: runs 13 to 15 with size 7), and always have
// the same size after shorter runs and size 1 after any run. So one zero of
// the run is coded as +-1 (the sign of its coefficient), splitting the run
// into two the table codes. Of the zeros that allow it, the one whose
// coefficient lies nearest its dead-zone edge is chosen: coding it as one
// step adds the least error, (step - |G|) / scale at the transform's own
// scale.
int32_t SplitPosition(const DCTEHuffAC* ac, const int32_t* coef, const int32_t* D, int32_t first,
                      int32_t k, int32_t s) {
  int32_t best = -1;
  int64_t bestExcess = 0, bestScale = 1;
  for (int32_t j = first; j < k; j++) {
    if (ac->length[16 + (j - first)] == 0 || ac->length[s * 16 + (k - 1 - j)] == 0) continue;
    const int64_t scale = DCTEQScale[DCTunzigzag[j]];
    const int64_t excess = int64_t{D[j]} - DCTEMagnitude(coef[DCTunzigzag[j]]);
    if (best < 0 || excess * bestScale < bestExcess * scale) {
      best = j;
      bestExcess = excess;
      bestScale = scale;
    }
  }
  if (best < 0) DCTEmissingCode();
  return best;
}

// Codes the coefficient at zigzag position k (category s, magnitude bits
// `bits`) after the zeros from `first` on as two events, the run split at
// SplitPosition. Rare: kept out of the block coder's loop.
[[gnu::noinline, gnu::cold]] void CodeSplitRun(DCTEBitSink* sink, const DCTEHuffAC* ac, const int32_t* coef, const int32_t* D,
                  int32_t first, int32_t k, int32_t s, uint32_t bits) {
  const int32_t best = SplitPosition(ac, coef, D, first, k, s);
  const int32_t index = 16 + (best - first);  // size 1 after the zeros before `best`
  const uint32_t sign = coef[DCTunzigzag[best]] >= 0 ? 1 : 0;
  DCTEputBits(sink, (static_cast<uint32_t>(ac->code[index]) << 1) | sign, ac->length[index]);
  const int32_t rest = s * 16 + (k - 1 - best);
  DCTEputBits(sink, (static_cast<uint32_t>(ac->code[rest]) << s) | bits, ac->length[rest]);
}

// The coder's code slots of one AC table: slot s * 64 + run for an event
// of category s after `run` zeros (0..62): its codes, a ZRL for every 16
// zeros then the event's own, shifted up by s, so that the magnitude bits
// go below them with one OR, and their bit count. Events the table has no
// code for, and the few whose codes would pass 63 bits, get the length
// kUnusualEvent, which no pending bit count can take: the loop's test for
// a full accumulator sends them on, so that it tests for nothing else.
// Slot 0 holds the end of block. The end row gives the grouped coder's end
// items their codes (CodeGroupedAC): run 0 (position 63 was the last one
// written) nothing, a longer run the end of block. The end items after the
// first one come after it (their run, 64 - 65, wraps to one less than the
// row's first slot) and land on the last slot of category 10, run 63,
// which no event has (a position follows at most 62 zeros): it too codes
// nothing.
constexpr int32_t kRunsPerRow = 64;
constexpr int32_t kEventSlots = (kEndRow + 1) * kRunsPerRow;  // categories 0..10, then the end row
constexpr uint8_t kUnusualEvent = 64;

struct EventCodes {
  uint64_t shiftedCode[kEventSlots];
  uint8_t length[kEventSlots];
};

void MakeEventCodes(EventCodes* codes, const DCTEHuffAC* ac) {
  for (int32_t slot = 0; slot < kEndRow * kRunsPerRow; slot++) {
    const int32_t size = slot / kRunsPerRow, run = slot % kRunsPerRow;
    const int32_t index = size * 16 + run % 16;  // the table's own index of the event after the ZRLs
    const int32_t zeroRuns = run / 16;
    const int32_t length = zeroRuns * ac->length[kZRL] + ac->length[index];
    codes->shiftedCode[slot] = 0;
    codes->length[slot] = kUnusualEvent;
    if (size == 0 || ac->length[index] <= size || (zeroRuns != 0 && ac->length[kZRL] == 0) || length >= 64)
      continue;
    uint64_t code = 0;
    for (int32_t z = 0; z < zeroRuns; z++) code = code << ac->length[kZRL] | ac->code[kZRL];
    codes->shiftedCode[slot] = (code << (ac->length[index] - size) | ac->code[index]) << size;
    codes->length[slot] = static_cast<uint8_t>(length);
  }
  codes->shiftedCode[kEOB] = ac->code[kEOB];
  codes->length[kEOB] = ac->length[kEOB];
  const int32_t endRow = kEndRow * kRunsPerRow;
  for (int32_t slot = endRow - 1; slot < kEventSlots; slot++) {
    const bool endOfBlock = slot > endRow;  // after zeros
    codes->shiftedCode[slot] = endOfBlock ? ac->code[kEOB] : 0;
    codes->length[slot] = endOfBlock ? ac->length[kEOB] : 0;
  }
}

// The event codes of the AC tables this thread saw last, one per component
// slot: every strip of an image uses the same tables. On the heap, made at
// the thread's first strip: kept in thread-local storage, they would add
// 55 KB (this file is built twice) to every thread of the host that
// touches the library.
struct EventCodesCache {
  decltype(DCTEHuffAC::code) code;  // the table they were made from
  decltype(DCTEHuffAC::length) length;
  bool valid;
  EventCodes codes;
};

const EventCodes* EventCodesOf(int32_t slot, const DCTEHuffAC* ac) {
  thread_local std::unique_ptr<EventCodesCache[]> cache;
  if (cache == nullptr) {
    cache.reset(new (std::nothrow) EventCodesCache[kMaxColors]());
    if (cache == nullptr)
      DCTStmErr1("Cannot allocate %ld bytes", static_cast<int32_t>(kMaxColors * sizeof(EventCodesCache)));
  }
  EventCodesCache& c = cache[slot];
  if (!c.valid || std::memcmp(c.code, ac->code, sizeof c.code) != 0 ||
      std::memcmp(c.length, ac->length, sizeof c.length) != 0) {
    std::memcpy(c.code, ac->code, sizeof c.code);
    std::memcpy(c.length, ac->length, sizeof c.length);
    MakeEventCodes(&c.codes, ac);
    c.valid = true;
  }
  return &c.codes;
}

// An event of length kUnusualEvent: ZRL for every 16 zeros of the run,
// then the event, or, where the table has no code for it, the run split.
// Rare: out of the block coder's loop, which stays smaller without it.
[[gnu::noinline]] void CodeUnusualEvent(DCTEBitSink* sink, const DCTEHuffAC* ac, const int32_t* coef,
                                        const int32_t* D, uint32_t run, int32_t k, uint32_t event) {
  for (; run >= 16; run -= 16) DCTEputBits(sink, ac->code[kZRL], ac->length[kZRL]);
  const int32_t s = static_cast<int32_t>(event >> kCategoryShift & 15);
  const uint32_t bits = event >> kEventBitsShift;
  const int32_t index = s * 16 + static_cast<int32_t>(run);
  if (ac->length[index] != 0) {
    DCTEputBits(sink, (static_cast<uint32_t>(ac->code[index]) << s) | bits, ac->length[index]);
  } else {
    CodeSplitRun(sink, ac, coef, D, k - static_cast<int32_t>(run), k, s, bits);
  }
}

// One AC event: `run` zeros, then the coefficient at zigzag position k,
// `event` as eventAt gives it. One test sends both a full accumulator and
// an unusual event on.
inline void CodeACEvent(DCTEBitSink* sink, const EventCodes* codes, const DCTEHuffAC* ac,
                        const int32_t* coef, const int32_t* D, uint32_t run, int32_t k, uint32_t event) {
  const uint32_t slot = (event & kEventRowMask) + run;
  const int32_t length = codes->length[slot];
  const int32_t total = sink->bits + length;
  if (__builtin_expect(total < 64, 1)) {
    sink->acc = (sink->acc << length) | codes->shiftedCode[slot] | event >> kEventBitsShift;
    sink->bits = total;
  } else if (__builtin_expect(length != kUnusualEvent, 1)) {
    DCTEputCodedBits(sink, codes->shiftedCode[slot] | event >> kEventBitsShift, length);
  } else {
    // Out of line, through a copy of the sink: the caller's sink never has
    // its address taken and can stay in registers.
    DCTEBitSink outOfLine = *sink;
    CodeUnusualEvent(&outOfLine, ac, coef, D, run, k, event);
    *sink = outOfLine;
  }
}

// The next AC event of a block: the coefficient at the mask's lowest set
// bit (cleared), after the zeros since the last one. Taking the lowest bit
// and clearing it (rather than shifting the mask along) leaves a one-cycle
// dependency from event to event, so the events' look-ups overlap.
struct NextEvent {
  uint32_t k, run, event, slot;
};

template <typename EventAt>
[[gnu::always_inline]] inline NextEvent EventAtPosition(uint32_t k, uint64_t& rest, uint32_t& next, const EventAt& eventAt) {
  rest &= rest - 1;
  const uint32_t run = k - next;
  next = k + 1;
  const uint32_t event = eventAt(k);
  return NextEvent{k, run, event, (event & kEventRowMask) + run};
}

template <typename EventAt>
[[gnu::always_inline]] inline NextEvent TakeEvent(uint64_t& rest, uint32_t& next, const EventAt& eventAt) {
  return EventAtPosition(static_cast<uint32_t>(__builtin_ctzll(rest)), rest, next, eventAt);
}

// The lowest set bit's position, kEndPosition (64) for none: without a
// branch where the processor counts the zeros of an empty word.
inline uint32_t LowestPositionOr64(uint64_t mask) {
#if defined(__BMI__)
  return static_cast<uint32_t>(_tzcnt_u64(mask));
#else
  return mask != 0 ? static_cast<uint32_t>(__builtin_ctzll(mask)) : kEndPosition;
#endif
}

// TakeEvent, or an end item (at kEndPosition) once the mask is empty.
template <typename EventAt>
[[gnu::always_inline]] inline NextEvent TakeItem(uint64_t& rest, uint32_t& next, const EventAt& eventAt) {
  return EventAtPosition(LowestPositionOr64(rest), rest, next, eventAt);
}

// A group of events whose codes together take at most this many bits goes
// into the accumulator as one, after at most 7 pending bits: the sum stays
// below 64.
constexpr int32_t kGroupBits = 56;
constexpr int32_t kGroupEvents = 3;  // events that go into the accumulator as one group

// The sink's accumulator and its target's position in registers while a
// block's events go in in groups. After each group the complete bytes are
// written without a branch on how many: eight bytes are stored and the
// position moves on by the complete ones, the rest being overwritten
// later. `roomEnd` is the first position (as an address) from which eight
// bytes no longer fit the target's buffer, 0 when they fit nowhere (a
// target without a buffer, whose every byte goes through its procedure).
// A 0xFF among the bytes and a target nearly full go byte by byte
// (FlushOneByOne).
struct GroupWriter {
  uint64_t acc;
  uint32_t bits;
  uint8_t* out;
  uintptr_t roomEnd;
};

inline GroupWriter Reload(const DCTEBitSink* sink) {
  Stm* target = sink->target;
  const int32_t count = target->count;
  const uintptr_t end = reinterpret_cast<uintptr_t>(target->ptr) + static_cast<uintptr_t>(count - 7);
  const uintptr_t roomEnd = count >= 8 ? end : 0;
  return GroupWriter{sink->acc, static_cast<uint32_t>(sink->bits), target->ptr, roomEnd};
}

inline void Sync(const GroupWriter& w, DCTEBitSink* sink) {
  Stm* target = sink->target;
  target->count = static_cast<int16_t>(target->count - static_cast<int32_t>(w.out - target->ptr));
  target->ptr = w.out;
  sink->acc = w.acc;
  sink->bits = static_cast<int32_t>(w.bits);
}

// The complete bytes one at a time: a 0xFF among them (followed by a
// stuffed 0 in place where the buffer has room for fourteen bytes) or too
// little room for the eight-byte store (through the sink).
[[gnu::noinline]] void FlushOneByOne(GroupWriter* w, DCTEBitSink* sink) {
  constexpr uint32_t kStuffedReach = 14 - 8;  // seven bytes, each maybe stuffed, past the store's reach
  if (reinterpret_cast<uintptr_t>(w->out) + kStuffedReach >= w->roomEnd) {
    Sync(*w, sink);
    DCTEflushBytes(sink);
    *w = Reload(sink);
    return;
  }
  for (; w->bits >= 8; w->bits -= 8) {
    const uint8_t byte = static_cast<uint8_t>(w->acc >> (w->bits - 8));
    *w->out++ = byte;
    if (byte == 0xFF) *w->out++ = 0;
  }
}

// JPEGHasMarkerPrefixByte with a byte compare in a vector register: the loop that
// asks runs short of general registers for the word test's two constants.
inline bool HasFFByte(uint64_t word) {
#if defined(__SSE2__)
  const __m128i bytes = _mm_cvtsi64_si128(static_cast<int64_t>(word));
  return (_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(-1))) & 0xFF) != 0;
#else
  return JPEGHasMarkerPrefixByte(word);
#endif
}

[[gnu::always_inline]] inline GroupWriter FlushGroup(GroupWriter w, DCTEBitSink* sink) {
  // The pending bits (at most 63) at the top of a word, zeros below them
  // (none pending: one stale bit). Only the complete bytes can be 0xFF: the
  // partial one has a zero at its end.
  const uint64_t word = (w.acc << 1) << (63 - w.bits);
  if (__builtin_expect(HasFFByte(word) || reinterpret_cast<uintptr_t>(w.out) >= w.roomEnd, 0)) {
    GroupWriter outOfLine = w;  // a copy: the loop's writer never has its address taken
    FlushOneByOne(&outOfLine, sink);
    return outOfLine;
  }
  DCTEstoreWord64(w.out, word);
  return GroupWriter{w.acc, w.bits & 7, w.out + (w.bits >> 3), w.roomEnd};
}

// The event of the coefficient at zigzag position k from the vector
// quantizer's indexes (every index in range).
inline uint32_t IndexedEvent(const uint32_t* eventIndex, uint32_t k) {
  return kACEventsOf.of[eventIndex[kACEventsOf.natural[k]]];
}

// A group too long to go in as one (a missing code, long zero runs), its
// items taken again from the positions not yet written before it (so that
// the loop need not keep them) and coded one at a time through the sink.
[[gnu::noinline]] void CodeLongGroup(GroupWriter* w, DCTEBitSink* sink, const EventCodes* codes,
                                     const DCTEHuffAC* ac, const int32_t* coef, const int32_t* D,
                                     const uint32_t* eventIndex, uint64_t zigzag, uint64_t restBefore) {
  Sync(*w, sink);
  const uint64_t written = zigzag & ~restBefore & ~uint64_t{1};
  uint32_t next = written == 0 ? 1 : 64 - static_cast<uint32_t>(__builtin_clzll(written));
  const auto eventAt = [eventIndex](uint32_t k) { return IndexedEvent(eventIndex, k); };
  for (int32_t i = 0; i < kGroupEvents; i++) {
    const NextEvent e = TakeItem(restBefore, next, eventAt);
    if (e.k != kEndPosition)
      CodeACEvent(sink, codes, ac, coef, D, e.run, static_cast<int32_t>(e.k), e.event);
    else if (codes->length[e.slot] != 0)
      DCTEputBits(sink, codes->shiftedCode[e.slot], codes->length[e.slot]);
  }
  *w = Reload(sink);
}

// The AC coefficients outside the dead zone (`zigzag`, bit k for zigzag
// position k; the DC's bit ignored), in zigzag order, with zero runs and
// EOB unless position 63 was the last one written. Coding only these is the
// same as stopping at the last one: every position past it lies inside the
// dead zone. eventAt(k) gives the event of the coefficient at zigzag
// position k. Fit for blocks with few events, each through CodeACEvent:
// the test for a full accumulator is rarely taken.
template <typename EventAt>
[[gnu::always_inline]] inline void CodeAC(DCTEBitSink* sink, const EventCodes* codes, const DCTEHuffAC* ac,
                                          const int32_t* coef, const int32_t* D, uint64_t zigzag, EventAt eventAt) {
  uint64_t rest = zigzag & ~uint64_t{1};
  uint32_t next = 1;  // the position after the last one written
  while (rest != 0) {
    const NextEvent e = TakeEvent(rest, next, eventAt);
    CodeACEvent(sink, codes, ac, coef, D, e.run, static_cast<int32_t>(e.k), e.event);
  }
  if (next != 64) DCTEputBits(sink, codes->shiftedCode[kEOB], codes->length[kEOB]);
}

// CodeAC for a block with many events, quantized by the vector quantizer:
// they go in kGroupEvents at a time, the complete bytes written after each
// group (GroupWriter), so that whether the accumulator is full never needs
// a test; taken about one event in ten at random and decided late (its
// operand comes at the end of a chain of look-ups), that test cost more
// than the flushes. Once the mask is empty, end items fill the last group:
// the first one codes the end of block (nothing after position 63), those
// after it nothing (the end row of EventCodes), so that every group is
// whole and the block ends with the group that took the first one: one
// branch a block ends the loop, where a last part group, taken one event
// at a time, and the end of block cost one each.
inline void CodeGroupedAC(DCTEBitSink* sink, const EventCodes* codes, const DCTEHuffAC* ac, const int32_t* coef,
                          const int32_t* D, uint64_t zigzag, const uint32_t* eventIndex) {
  const auto eventAt = [eventIndex](uint32_t k) { return IndexedEvent(eventIndex, k); };
  uint64_t rest = zigzag & ~uint64_t{1};  // the AC positions not yet written
  uint32_t next = 1;                       // the position after the last item taken
  GroupWriter w = FlushGroup(Reload(sink), sink);
  do {
    const uint64_t restBefore = rest;
    NextEvent item[kGroupEvents];
    uint32_t length[kGroupEvents], total = 0;
    for (int32_t i = 0; i < kGroupEvents; i++) {
      item[i] = TakeItem(rest, next, eventAt);
      length[i] = codes->length[item[i].slot];
      total += length[i];
    }
    if (__builtin_expect(total <= kGroupBits, 1)) {
      for (int32_t i = 0; i < kGroupEvents; i++)
        w.acc = (w.acc << length[i]) | codes->shiftedCode[item[i].slot] | item[i].event >> kEventBitsShift;
      w.bits += total;
    } else {
      GroupWriter outOfLine = w;  // a copy: the loop's writer never has its address taken
      CodeLongGroup(&outOfLine, sink, codes, ac, coef, D, eventIndex, zigzag, restBefore);
      w = outOfLine;
    }
    w = FlushGroup(w, sink);
  } while (next <= kEndPosition);  // past it once an end item was taken
  Sync(w, sink);
}

// The event of one coefficient, quantized here.
inline uint32_t QuantizedEvent(const int32_t* coef, const DeadZone* zone, uint32_t k) {
  const ZigzagStep& step = zone->step[k];
  const int32_t G = coef[step.natural];
  const uint32_t m = DivideByTwiceStep(DCTEMagnitude(G) + step.d, step);
  if (m >= kACLimit) DCTStmErr1("BUG: quantized magnitude %ld out of range", static_cast<int32_t>(m & 0x7FFFFFFF));
  return kACEventsOf.of[(static_cast<uint32_t>(G) >> 31) * kACLimit + m];
}

// A block wholly right of the image: DC difference 0 and EOB.
void CodeNullBlock(DCTEBitSink* sink, const DCTComponent* comp) {
  const DCTEHuffDC* dc = static_cast<const DCTEHuffDC*>(comp->dcHuffPtr);
  const DCTEHuffAC* ac = static_cast<const DCTEHuffAC*>(comp->acHuffPtr);
  DCTEputBits(sink, dc->code[0], dc->length[0]);
  DCTEputBits(sink, ac->code[kEOB], ac->length[kEOB]);
}

// Quantizes and codes a block with many coefficients outside the dead zone:
// by the vector quantizer, the events grouped (CodeGroupedAC). Any AC
// coefficient the vector quantizer cannot take (inside the dead zone or
// not: its mask is in natural order) sends the block to the scalar one,
// which takes them all. Out of line: the strip loop, which codes the many
// blocks with few events, keeps its registers.
[[gnu::noinline]] void CodeDenseBlock(DCTEBitSink* sinkOut, DCTComponent* comp, const DeadZone* zone,
                                      const EventCodes* codes, const int32_t* coef, uint64_t zigzag,
                                      const DCTKernels& kernels) {
  alignas(32) uint32_t eventIndex[kEndPosition + 1];
  const bool vectorQuantized = (kernels.quantize(eventIndex, coef, &zone->vector) & ~uint64_t{1}) == 0;
  eventIndex[kEndPosition] = 0;  // the end item's index (EventTable)
  const int32_t* D = comp->qTablePtr;
  const auto* ac = static_cast<const DCTEHuffAC*>(comp->acHuffPtr);
  DCTEBitSink sink = *sinkOut;
  CodeDC(&sink, comp, static_cast<const DCTEHuffDC*>(comp->dcHuffPtr), coef[0], zone);
  const auto scalarEvent = [&](uint32_t k) { return QuantizedEvent(coef, zone, k); };
  if (vectorQuantized)
    CodeGroupedAC(&sink, codes, ac, coef, D, zigzag, eventIndex);
  else
    CodeAC(&sink, codes, ac, coef, D, zigzag, scalarEvent);
  *sinkOut = sink;
}

// Quantizes and codes one transformed image block (its coefficients and
// its mask of those outside the dead zone, kernels.h). The sink is copied
// into a local for the block so that its accumulator stays in registers.
// Inlined into the strip loops: called apart, it saves and restores a
// register file's worth of state per block.
[[gnu::always_inline]] inline void CodeTransformedBlock(DCTEBitSink* sinkOut, DCTComponent* comp,
                                                        const DeadZone* zone, const EventCodes* codes,
                                                        const int32_t* coef, uint64_t zigzag) {
  const DCTKernels& kernels = DCTActiveKernels();
  if (kernels.quantize != nullptr && BitCount(zigzag) > kVectorQuantizeFrom)
    return CodeDenseBlock(sinkOut, comp, zone, codes, coef, zigzag, kernels);
  const int32_t* D = comp->qTablePtr;
  const auto* ac = static_cast<const DCTEHuffAC*>(comp->acHuffPtr);
  DCTEBitSink sink = *sinkOut;
  CodeDC(&sink, comp, static_cast<const DCTEHuffDC*>(comp->dcHuffPtr), coef[0], zone);
  const auto scalarEvent = [&](uint32_t k) { return QuantizedEvent(coef, zone, k); };
  CodeAC(&sink, codes, ac, coef, D, zigzag, scalarEvent);
  *sinkOut = sink;
}

// Transforms, quantizes and codes one image block.
inline void CodeBlock(DCTEBitSink* sink, DCTComponent* comp, const DeadZone* zone, const EventCodes* codes,
                      const uint8_t* samples) {
  alignas(32) int32_t coef[64];
  const uint64_t zigzag = DCTActiveKernels().forwardDCTMask(coef, samples, comp->stripWidth, zone->thresholds.tFlipped,
                                                            zone->thresholds.twoTFlipped);
  CodeTransformedBlock(sink, comp, zone, codes, coef, zigzag);
}

// The first block of each of a component's V block rows, and the end of
// each row's image samples.
struct BlockCursors {
  const uint8_t* first[kMaxV];
  const uint8_t* end[kMaxV];
};

void DCTEInitStrip(BlockCursors* cursors, const DCTComponent* comp) {
  const uint8_t* row = comp->strip;
  for (int32_t j = 0; j < comp->vSamples; j++) {
    cursors->first[j] = row;
    cursors->end[j] = row + comp->lastBlockX + 8;
    row += 8 * comp->stripWidth;
  }
}

// What the coder reads for one component's blocks, prepared per strip.
struct ComponentCoder {
  const DeadZone* zone;
  const EventCodes* codes;
};

constexpr int32_t kMaxMcuBlocks = kMaxColors * kMaxV * kMaxV;  // sampling factors are 1..4

// The blocks of one MCU in coding order: each one's component and coder,
// its samples in the strip's first MCU, which move on `step` bytes an MCU,
// and the end of the image samples of its block row. Listed once per strip.
struct McuBlock {
  DCTComponent* comp;
  ComponentCoder coder;
  const uint8_t* first;
  const uint8_t* end;
  int32_t step;
};

int32_t ListMcuBlocks(DCTState* state, BlockCursors* cursors, const ComponentCoder* coders, McuBlock* list) {
  int32_t n = 0;
  for (int32_t i = 0; i < state->Colors; i++) {
    DCTComponent* comp = &state->components[i];
    DCTEInitStrip(&cursors[i], comp);
    for (int32_t j = 0; j < comp->vSamples; j++)
      for (int32_t h = 0; h < comp->hSamples && n < kMaxMcuBlocks; h++)
        list[n++] = McuBlock{comp, coders[i], cursors[i].first[j] + 8 * h, cursors[i].end[j], 8 * comp->hSamples};
  }
  return n;
}

// Before each MCU: at the end of a restart interval, restart the DC
// predictors and write the next RSTn marker (after 1-bit padding).
void DCTEcodeResync(DCTState* state, DCTEBitSink* sink) {
  if (--state->restartCountdown > 0) return;
  state->restartCountdown = state->restartInterval;
  DCTreset_dc(state);
  DCTEpadToByte(sink);
  DCTEputByte(sink->target, kMarkerPrefix);
  DCTEputByte(sink->target, kRST0 + static_cast<uint32_t>(state->restartMarkerNumber));
  state->restartMarkerNumber = (state->restartMarkerNumber + 1) & 7;
}

// Interleaved strips are coded a run of MCUs at a time: every block of the
// run is transformed first, each list block's row of the strip in turn,
// then the MCUs are coded in order. A block row is read 8 blocks (one
// 64-byte cache line of each of its 8 sample rows) at a time, so that its
// lines come into the cache once. Strip lines a power of two apart (images
// 1024, 2048 or 4096 samples wide) put the rows of every component's block
// in one cache set: transformed block by block in MCU order, the
// components' rows evicted one another, and every block's samples came from
// the second-level cache (detailed and noise images 4096 and 2048 wide
// encoded 5-10% faster in runs). Two blocks side by side go through the
// paired kernel.
constexpr int32_t kRunMcus = 8;     // MCUs transformed at a time, at most
constexpr int32_t kRunBlocks = kMaxMcuBlocks;  // blocks transformed at a time, at most (16 KB of coefficients)

struct TransformedRun {
  alignas(32) int32_t coef[kRunBlocks][64];
  uint64_t zigzag[kRunBlocks];
  int32_t mcus;  // MCUs in the run
};

// The samples of a list block in MCU m, null when it lies wholly right of
// the image.
inline const uint8_t* SamplesAt(const McuBlock& block, int32_t m) {
  const uint8_t* samples = block.first + static_cast<ptrdiff_t>(m) * block.step;
  return samples < block.end ? samples : nullptr;
}

// The blocks of MCUs m0 .. m0 + run->mcus - 1: block k of MCU m0 + j at
// index j x blockCount + k.
void TransformRun(TransformedRun* run, const McuBlock* blocks, int32_t blockCount, int32_t m0) {
  const DCTKernels& kernels = DCTActiveKernels();
  for (int32_t k = 0; k < blockCount; k++) {
    const McuBlock& block = blocks[k];
    const DCTEThresholds& t = block.coder.zone->thresholds;
    const int32_t stride = block.comp->stripWidth;
    int32_t j = 0;
    for (; j + 1 < run->mcus; j += 2) {
      const uint8_t* first = SamplesAt(block, m0 + j);
      const uint8_t* second = SamplesAt(block, m0 + j + 1);
      if (second == nullptr) break;  // the block row ends in the image here
      const int32_t at = j * blockCount + k;
      DCTEBlockTransform jobs[2] = {{run->coef[at], first, t.tFlipped, t.twoTFlipped, stride, 0},
                                    {run->coef[at + blockCount], second, t.tFlipped, t.twoTFlipped, stride, 0}};
      DCTETransformPair(kernels, jobs);
      run->zigzag[at] = jobs[0].zigzag;
      run->zigzag[at + blockCount] = jobs[1].zigzag;
    }
    for (; j < run->mcus; j++) {
      const uint8_t* samples = SamplesAt(block, m0 + j);
      if (samples == nullptr) break;
      const int32_t at = j * blockCount + k;
      run->zigzag[at] = kernels.forwardDCTMask(run->coef[at], samples, stride, t.tFlipped, t.twoTFlipped);
    }
  }
}

void CodeInterleavedStrip(DCTState* state, DCTEBitSink* sink, const ComponentCoder* coders) {
  BlockCursors cursors[kMaxColors];
  McuBlock blocks[kMaxMcuBlocks];
  const int32_t blockCount = ListMcuBlocks(state, cursors, coders, blocks);
  const int32_t fit = kRunBlocks / blockCount;  // at least 1: an MCU has at most kMaxMcuBlocks
  const int32_t runMcus = fit < kRunMcus ? fit : kRunMcus;
  TransformedRun run;
  for (int32_t m0 = 0; m0 < state->mcusPerRow; m0 += runMcus) {
    run.mcus = state->mcusPerRow - m0 < runMcus ? state->mcusPerRow - m0 : runMcus;
    TransformRun(&run, blocks, blockCount, m0);
    for (int32_t j = 0; j < run.mcus; j++) {
      if (state->restartInterval != 0) DCTEcodeResync(state, sink);
      for (int32_t k = 0; k < blockCount; k++) {
        const McuBlock& block = blocks[k];
        const int32_t at = j * blockCount + k;
        if (SamplesAt(block, m0 + j) == nullptr)
          CodeNullBlock(sink, block.comp);
        else
          CodeTransformedBlock(sink, block.comp, block.coder.zone, block.coder.codes, run.coef[at], run.zigzag[at]);
      }
      state->blockNumber += blockCount;
    }
  }
}

// One component: one block per MCU, block row by block row; rows wholly
// below the image are not coded.
void CodeSingleComponentStrip(DCTState* state, DCTEBitSink* sink, const ComponentCoder& coder,
                              int32_t line) {
  DCTComponent* comp = &state->components[0];
  for (int32_t r = 0; r < comp->vSamples; r++) {
    const uint8_t* cursor = comp->strip + r * 8 * comp->stripWidth;
    const uint8_t* end = cursor + comp->lastBlockX + 8;
    for (int32_t m = 0; m < state->mcusPerRow; m++, cursor += 8) {
      if (state->restartInterval != 0) DCTEcodeResync(state, sink);
      if (cursor >= end)
        CodeNullBlock(sink, comp);
      else
        CodeBlock(sink, comp, coder.zone, coder.codes, cursor);
    }
    state->blockNumber += state->mcusPerRow;
    line += 8;
    if (line >= state->Rows) break;
  }
}


// Each component's dead zone and event codes; components sharing an AC
// table share its event codes.
void PrepareCoders(const DCTState* state, ComponentCoder* coders) {
  const DeadZone* zones[kMaxEncoderQTables] = {};
  for (int32_t k = 0; k < state->qTableCount && k < kMaxEncoderQTables; k++)
    zones[k] = DeadZoneOf(k, state->qThreshold[k], state->qTable[k]);
  for (int32_t i = 0; i < state->Colors && i < kMaxColors; i++) {
    const DCTComponent* comp = &state->components[i];
    coders[i].zone = zones[comp->qTableSel];
    coders[i].codes = nullptr;
    for (int32_t j = 0; j < i; j++)
      if (state->components[j].acHuffPtr == comp->acHuffPtr) coders[i].codes = coders[j].codes;
    if (coders[i].codes == nullptr) coders[i].codes = EventCodesOf(i, static_cast<const DCTEHuffAC*>(comp->acHuffPtr));
  }
}

}  // namespace

void JPEG_CODER_NAME(DCTECodeMCUStrip)(DCTState* state, int32_t firstLine) {
  ComponentCoder coders[kMaxColors];
  PrepareCoders(state, coders);
  DCTEBitSink sink = DCTELoadSink(state);
  if (state->Colors > 1)
    CodeInterleavedStrip(state, &sink, coders);
  else
    CodeSingleComponentStrip(state, &sink, coders[0], firstLine);
  DCTEStoreSink(state, &sink);
}

#if !defined(JPEG_BITOP_BUILD)
uint64_t DCTEForwardDCTMaskScalar(int32_t* coef, const uint8_t* samples, int32_t stride,
                                  const uint32_t* tFlipped, const uint32_t* twoTFlipped) {
  DCTForwardDCTScalar(coef, samples, stride);
  coef[0] = WrapSub(coef[0], DCTELevelShift);
  return ToZigzagOrder(SignificantNatural(coef, tFlipped, twoTFlipped));
}

void DCTEcodeStrip(DCTState* state, int32_t firstLine) {
  if (state->coefImage != nullptr) return DCTEBufferStrip(state, firstLine);  // kept whole, coded later
#if defined(JPEG_HAVE_BITOP_CODERS)
  if (DCTUseBitOpCoders()) return DCTECodeMCUStripBitOps(state, firstLine);
#endif
  DCTECodeMCUStrip(state, firstLine);
}
#endif
