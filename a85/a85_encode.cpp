// a85_encode.cpp - the ASCII85 encode filter: takes bytes through its own
// Stm and writes their ASCII85 text to a target Stm, so JPEG data can be
// embedded in page-description output.
//
// Bytes collect in a 2048-byte buffer; when it is full (or at close) every
// complete 4-byte group is encoded as five characters "!".."u", or "z" for
// four zero bytes. A line feed goes out before a group whenever the current
// line already holds 64 characters or more, so lines hold 64 to 68
// characters (65 for ordinary data). Groups are written straight into the
// target's buffer while it has room (Asc85FastFlush); a group that does not
// fit goes through the target's byte writes. The close encodes the final
// partial group (never as "z"), writes the end marker "~>" and returns the
// number of line feeds written. Failures are reported through the Stm flags
// and -1 results, never raised.
#include <cstdlib>
#include <cstring>

#include "a85/a85_internal.h"
#include "stream/stm_inline.h"
#include "stream/stm_procs.h"

namespace {

constexpr uint8_t kFirstDigitChar = '!';  // digit value 0
constexpr uint8_t kZeroGroupChar = 'z';   // four zero bytes
constexpr uint8_t kLineFeed = 10;
constexpr int16_t kLineLimit = 64;  // a line feed precedes a group from this column on
constexpr int kGroupDigits = 5;
constexpr int kGroupBytes = 4;

A85FilterContext* ContextOf(Stm* s) { return static_cast<A85FilterContext*>(s->procData); }

int16_t* ColumnOf(A85FilterContext* ctx) { return static_cast<int16_t*>(ctx->table); }

uint32_t GetBigEndian(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) << 24 | static_cast<uint32_t>(in[1]) << 16 |
         static_cast<uint32_t>(in[2]) << 8 | in[3];
}

// The five base-85 digit characters of v, most significant first.
void GroupChars(uint32_t v, uint8_t chars[kGroupDigits]) {
  for (int k = kGroupDigits - 1; k >= 0; k--) {
    chars[k] = static_cast<uint8_t>(kFirstDigitChar + v % kA85Base);
    v /= kA85Base;
  }
}

// Writes n characters through the target's byte writes; stops at the first
// one the target refuses.
void PutChars(const uint8_t* chars, int n, Stm* target) {
  for (int k = 0; k < n; k++) {
    if (StmPutByte(chars[k], target) < 0) return;
  }
}

// Encodes one group through the target's byte writes (the group that does
// not fit the room left in the target's buffer). The target's failures are
// not examined here; they show in its error flag.
void PutGroupSlow(const uint8_t* src, Stm* target, int16_t* column) {
  const uint32_t v = GetBigEndian(src);
  if (v == 0) {
    StmPutByte(kZeroGroupChar, target);
    *column += 1;
    return;
  }
  uint8_t chars[kGroupDigits];
  GroupChars(v, chars);
  PutChars(chars, kGroupDigits, target);
  *column += kGroupDigits;
}

// Puts the filter in its failed state: nothing pending, error flag set.
int16_t FailFlush(Stm* s) {
  s->error = 1;
  s->count = 0;
  s->ptr = s->base;
  return -1;
}

// Encodes every complete group between base and ptr. Returns the position
// after the last group encoded, or null when a line feed was refused.
uint8_t* EncodeGroups(A85FilterContext* ctx, Stm* s) {
  Stm* target = ctx->below;
  int16_t* column = ColumnOf(ctx);
  uint8_t* src = s->base;
  while (s->ptr - src >= kGroupBytes) {
    if (*column >= kLineLimit) {
      if (StmPutByte(kLineFeed, target) < 0) return nullptr;
      ctx->lineCount++;
      *column = 0;
    }
    if (target->count < kGroupDigits) {
      PutGroupSlow(src, target, column);
      src += kGroupBytes;
    } else {
      src = Asc85FastFlush(src, target, s, column);
    }
  }
  return src;
}

}  // namespace

uint8_t* Asc85FastFlush(uint8_t* src, Stm* target, Stm* s, int16_t* column) {
  // Work on local copies: the character stores could otherwise alias every
  // field read in the loop and force it to be reloaded per group.
  const uint8_t* const srcEnd = s->ptr;
  uint8_t* out = target->ptr;
  int count = target->count;
  int col = *column;
  while (srcEnd - src >= kGroupBytes && count >= 1 && col < kLineLimit) {
    const uint32_t v = GetBigEndian(src);
    if (v == 0) {
      *out++ = kZeroGroupChar;
      count -= 1;
      col += 1;
    } else {
      if (count < kGroupDigits) break;
      GroupChars(v, out);
      out += kGroupDigits;
      count -= kGroupDigits;
      col += kGroupDigits;
    }
    src += kGroupBytes;
  }
  target->ptr = out;
  target->count = static_cast<int16_t>(count);
  *column = static_cast<int16_t>(col);
  return src;
}

extern "C" {

Stm* A85EOpen(Stm* target, void* /*params*/) {
  if (target == nullptr) return nullptr;
  A85FilterContext* ctx = static_cast<A85FilterContext*>(std::calloc(1, sizeof(A85FilterContext)));
  if (ctx == nullptr) return nullptr;
  ctx->table = std::calloc(1, sizeof(int16_t));  // the column counter, 0
  if (ctx->table == nullptr) {
    std::free(ctx);
    return nullptr;
  }
  ctx->below = target;
  Stm* s = &ctx->stm;
  s->bufSize = A85_BUFFER_SIZE;
  s->count = A85_BUFFER_SIZE;
  s->ptr = s->base = ctx->buffer;
  s->procData = ctx;
  s->flsBuf = &Asc85EFlsBuf;
  s->filBuf = &StmRefuseFill;  // a write-only stream
  return s;
}

int16_t Asc85EFlsBuf(int16_t c, Stm* s) {
  A85FilterContext* ctx = ContextOf(s);
  s->count = 0;
  if (ctx->below->error || s->eof || s->error) return FailFlush(s);
  // -1 is the end-of-data signal of the flush contract: finish the text
  // rather than encode it as a data byte.
  if (c == -1) {
    Asc85EPutEOF(s);
    return -1;
  }
  uint8_t* src = EncodeGroups(ctx, s);
  if (src == nullptr) return FailFlush(s);
  const int leftover = static_cast<int>(s->ptr - src);  // 0..3 bytes
  std::memmove(s->base, src, static_cast<size_t>(leftover));
  s->base[leftover] = static_cast<uint8_t>(c);
  s->ptr = s->base + leftover + 1;
  s->count = static_cast<int16_t>(A85_BUFFER_SIZE - leftover - 1);
  return static_cast<int16_t>(c & 0xFF);
}

int16_t Asc85EPutEOF(Stm* s) {
  if (s->eof) return -1;
  A85FilterContext* ctx = ContextOf(s);
  Stm* target = ctx->below;
  // Encode every complete group; the flush stores a byte after the
  // leftovers, which is dropped again.
  if (Asc85EFlsBuf(0, s) < 0) {
    s->eof = 1;
    return FailFlush(s);
  }
  s->ptr--;
  const int leftover = static_cast<int>(s->ptr - s->base);
  if (leftover > 0) {
    // Zero-padded to a group, of which the first leftover + 1 digits say
    // all there is; never "z", even for zero bytes.
    uint8_t padded[kGroupBytes] = {0, 0, 0, 0};
    std::memcpy(padded, s->base, static_cast<size_t>(leftover));
    uint8_t chars[kGroupDigits];
    GroupChars(GetBigEndian(padded), chars);
    PutChars(chars, leftover + 1, target);
  }
  static const uint8_t kEndMarker[2] = {'~', '>'};
  PutChars(kEndMarker, 2, target);
  s->eof = 1;
  s->count = 0;
  s->ptr = s->base;
  if (target->error || s->error) {
    s->error = 1;
    return -1;
  }
  return 0;
}

int32_t A85EClose(Stm* s) {
  if (s == nullptr) return 0;
  A85FilterContext* ctx = ContextOf(s);
  Asc85EPutEOF(s);
  const int32_t lines = ctx->lineCount;
  std::free(ctx->table);
  std::free(ctx);
  return lines;
}

}  // extern "C"
