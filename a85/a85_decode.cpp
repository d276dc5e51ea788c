// a85_decode.cpp - the ASCII85 decode filter: reads ASCII85 text from a
// source Stm and delivers the bytes it stands for through its own Stm, so
// the JPEG decoder can read JPEG data that was wrapped as text.
//
// Each fill decodes up to 2048 bytes. Whole groups are decoded straight out
// of the source's buffer (Asc85FastFill); only a group that straddles the
// end of the source's buffer, "z", the end marker or malformed text goes
// through the slow path, which reads the source byte by byte. Both paths give
// the same bytes, so where the source's buffers end never changes the data.
// After every fill a 0xFF byte stands right after the decoded bytes (the JPEG
// decoder's bit reader relies on it). The filter raises no errors: malformed
// text, or text that ends without the end mark "~>" (so may have been cut
// short), ends the data, the bytes decoded so far are delivered, and the
// next fill reports the end with the error flag set.
#include <cstdlib>
#include <cstring>

#include "a85/a85_internal.h"
#include "stream/stm_inline.h"
#include "stream/stm_procs.h"

namespace {

constexpr uint8_t kFirstDigitChar = '!';  // digit value 0
constexpr uint8_t kLastDigitChar = 'u';   // digit value 84
constexpr uint8_t kSentinel = 0xFF;       // stored after the decoded bytes
constexpr int kGroupDigits = 5;           // five characters ...
constexpr int kGroupBytes = 4;            // ... stand for four bytes

A85FilterContext* ContextOf(Stm* s) { return static_cast<A85FilterContext*>(s->procData); }

const A85DecodeTable* TableOf(A85FilterContext* ctx) {
  return static_cast<const A85DecodeTable*>(ctx->table);
}

uint32_t GroupValue(const uint8_t d[kGroupDigits], const A85DecodeTable* t) {
  return t->placeValue4[d[0]] + t->placeValue3[d[1]] + t->placeValue2[d[2]] +
         t->placeValue1[d[3]] + d[4];
}

void PutBigEndian(uint32_t v, uint8_t* out) {
  out[0] = static_cast<uint8_t>(v >> 24);
  out[1] = static_cast<uint8_t>(v >> 16);
  out[2] = static_cast<uint8_t>(v >> 8);
  out[3] = static_cast<uint8_t>(v);
}

// The common case: five digit characters in a row.
bool DecodeDenseGroup(const uint8_t* in, const A85DecodeTable* t, uint8_t* out) {
  const uint8_t d[kGroupDigits] = {t->classOf[in[0]], t->classOf[in[1]], t->classOf[in[2]],
                                   t->classOf[in[3]], t->classOf[in[4]]};
  if (d[0] >= kA85DigitCount || d[1] >= kA85DigitCount || d[2] >= kA85DigitCount ||
      d[3] >= kA85DigitCount || d[4] >= kA85DigitCount) {
    return false;
  }
  PutBigEndian(GroupValue(d, t), out);
  return true;
}

// Decodes the group starting at `in` when it lies complete before `end`,
// white space allowed anywhere in it. Returns the position after the group,
// or null when it cannot be decoded here (nothing is consumed then).
const uint8_t* DecodeFastGroup(const uint8_t* in, const uint8_t* end, const A85DecodeTable* t,
                               uint8_t* out) {
  if (end - in >= kGroupDigits && DecodeDenseGroup(in, t, out)) return in + kGroupDigits;
  uint8_t d[kGroupDigits];
  for (int k = 0; k < kGroupDigits; k++) {
    while (in < end && t->classOf[*in] == kA85White) in++;
    if (in == end) return nullptr;
    d[k] = t->classOf[*in++];
    if (k == 0 && d[0] == kA85Zero) {
      PutBigEndian(0, out);
      return in;
    }
    if (d[k] >= kA85DigitCount) return nullptr;
  }
  PutBigEndian(GroupValue(d, t), out);
  return in;
}

// Where the slow path stands within one group.
struct PendingGroup {
  uint8_t digits[kGroupDigits];
  int count;
};

// Ends the data: records why, and decodes the final partial group. One
// lone digit stands for no byte and marks the data bad; n = 2..4 digits v
// give the top n - 1 bytes of (v + 1) * 85^(5 - n). A writer encodes n - 1
// bytes B as the first n digits of B * 256^(5 - n); that value plus 85^(5 - n)
// is still below (B + 1) * 256^(5 - n), so the top bytes come out as B.
// Returns the advanced `out`.
uint8_t* EndData(A85FilterContext* ctx, const PendingGroup& group, bool abnormal, uint8_t* out) {
  ctx->ended = 1;
  if (abnormal || ctx->below->error) ctx->badData = 1;
  if (group.count == 1) ctx->badData = 1;
  if (group.count < 2) return out;
  uint32_t value = 0;
  uint32_t scale = 1;  // 85^(5 - n)
  for (int k = 0; k < group.count; k++) value = value * kA85DigitCount + group.digits[k];
  for (int k = group.count; k < kGroupDigits; k++) scale *= kA85DigitCount;
  uint8_t bytes[kGroupBytes];
  PutBigEndian((value + 1) * scale, bytes);  // unsigned: wraps modulo 2^32
  std::memcpy(out, bytes, static_cast<size_t>(group.count - 1));
  return out + (group.count - 1);
}

// Decodes one group reading the source byte by byte; `out` has room for a
// whole group. Returns the advanced `out`; sets ctx->ended when the data
// ended on the way.
uint8_t* DecodeSlowGroup(A85FilterContext* ctx, uint8_t* out) {
  Stm* source = ctx->below;
  const A85DecodeTable* t = TableOf(ctx);
  PendingGroup group = {{0, 0, 0, 0, 0}, 0};
  for (;;) {
    const int16_t c = StmGetByte(source);
    if (c < 0) return EndData(ctx, group, true, out);  // no end mark: the text was cut short
    const uint8_t kind = t->classOf[c];
    if (kind < kA85DigitCount) {
      group.digits[group.count++] = kind;
      if (group.count < kGroupDigits) continue;
      PutBigEndian(GroupValue(group.digits, t), out);
      return out + kGroupBytes;
    }
    if (kind == kA85White) continue;
    if (kind == kA85Zero && group.count == 0) {
      PutBigEndian(0, out);
      return out + kGroupBytes;
    }
    if (kind == kA85Tilde) return EndData(ctx, group, StmGetByte(source) != '>', out);
    return EndData(ctx, group, true, out);  // "z" inside a group, or an invalid byte
  }
}

// Fills s's buffer from `base` until it is full or the data ends; returns
// the number of bytes decoded.
int DecodeBuffer(A85FilterContext* ctx, Stm* s) {
  uint8_t* const end = s->base + A85_BUFFER_SIZE;
  uint8_t* out = s->base;
  while (!ctx->ended) {
    out = Asc85FastFill(out, s, ctx->below, TableOf(ctx));
    if (out == end) break;
    out = DecodeSlowGroup(ctx, out);
    if (out == end) break;
  }
  return static_cast<int>(out - s->base);
}

// Reports the end of the data (with the error flag if it ended badly).
void MarkEnd(A85FilterContext* ctx, Stm* s) {
  if (ctx->badData) s->error = 1;
  s->eof = 1;
}

}  // namespace

void BuildDecodeTable(A85FilterContext* ctx) {
  A85DecodeTable* t = static_cast<A85DecodeTable*>(ctx->table);
  std::memset(t->classOf, kA85Invalid, sizeof t->classOf);
  for (int c = kFirstDigitChar; c <= kLastDigitChar; c++) {
    t->classOf[c] = static_cast<uint8_t>(c - kFirstDigitChar);
  }
  for (int c = '\b'; c <= '\r'; c++) t->classOf[c] = kA85White;  // 8..13
  t->classOf[static_cast<uint8_t>(' ')] = kA85White;
  t->classOf[static_cast<uint8_t>('z')] = kA85Zero;
  t->classOf[static_cast<uint8_t>('~')] = kA85Tilde;
  for (uint32_t d = 0; d < kA85DigitCount; d++) {
    t->placeValue1[d] = static_cast<uint16_t>(d * kA85Base);
    t->placeValue2[d] = t->placeValue1[d] * kA85Base;
    t->placeValue3[d] = t->placeValue2[d] * kA85Base;
    t->placeValue4[d] = t->placeValue3[d] * kA85Base;  // unsigned: wraps modulo 2^32
  }
}

uint8_t* Asc85FastFill(uint8_t* out, Stm* s, Stm* source, const A85DecodeTable* table) {
  uint8_t* const outEnd = s->base + A85_BUFFER_SIZE;
  const uint8_t* const start = source->ptr;
  const uint8_t* const inEnd = start + (source->count > 0 ? source->count : 0);
  const uint8_t* in = start;
  while (outEnd - out >= kGroupBytes) {
    const uint8_t* next = DecodeFastGroup(in, inEnd, table, out);
    if (next == nullptr) break;
    in = next;
    out += kGroupBytes;
  }
  source->ptr += in - start;
  source->count = static_cast<int16_t>(source->count - (in - start));
  return out;
}

extern "C" {

Stm* A85DOpen(Stm* source, void* /*params*/) {
  if (source == nullptr) return nullptr;
  A85FilterContext* ctx = static_cast<A85FilterContext*>(std::calloc(1, sizeof(A85FilterContext)));
  if (ctx == nullptr) return nullptr;
  ctx->table = std::calloc(1, sizeof(A85DecodeTable));
  if (ctx->table == nullptr) {
    std::free(ctx);
    return nullptr;
  }
  BuildDecodeTable(ctx);
  ctx->below = source;
  Stm* s = &ctx->stm;
  s->bufSize = A85_BUFFER_SIZE;
  s->count = 0;
  s->ptr = s->base = ctx->buffer;
  s->procData = ctx;
  s->filBuf = &Asc85DFilBuf;
  s->flsBuf = &StmRefuseFlush;  // a read-only stream
  return s;
}

int16_t Asc85DFilBuf(Stm* s) {
  A85FilterContext* ctx = ContextOf(s);
  s->count = 0;
  s->ptr = s->base;
  const int decoded = ctx->ended ? 0 : DecodeBuffer(ctx, s);
  if (decoded == 0) MarkEnd(ctx, s);
  s->base[decoded] = kSentinel;
  if (s->eof) return -1;
  s->count = static_cast<int16_t>(decoded - 1);
  return *s->ptr++;
}

void A85DClose(Stm* s) {
  if (s == nullptr) return;
  A85FilterContext* ctx = ContextOf(s);
  std::free(ctx->table);
  std::free(ctx);
}

}  // extern "C"
