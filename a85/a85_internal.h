// a85_internal.h - what the two ASCII85 filters keep private: the decode
// table and the fast paths that work straight out of the source's buffer
// (decode) or into the target's buffer (encode). Tests reach these through
// the static library; nothing here is exported from jpeg.so.
#ifndef JPEG_A85_A85_INTERNAL_H
#define JPEG_A85_A85_INTERNAL_H

#include <cstdint>

#include "a85_filters.h"

constexpr uint32_t kA85Base = 85;  // five base-85 digits stand for four bytes

// Character classes of the decode table. Digits "!".."u" map to their
// values 0..84; the other classes follow them.
enum : uint8_t {
  kA85DigitCount = 85, // values below this are digits
  kA85White = 85,      // skipped: backspace..carriage return (8..13) and space
  kA85Zero = 86,       // "z": four zero bytes, only where a group may start
  kA85Tilde = 87,      // "~": starts the end marker "~>"
  kA85Invalid = 88     // anything else, NUL included
};

// Per-open decode table: the class of every byte value and the digit
// weights of a group, so a group's value is five look-ups and four adds.
struct A85DecodeTable {
  uint8_t classOf[256];                  // per byte value: its digit value or class
  uint16_t placeValue1[kA85DigitCount];  // digit d one place from the right: d * 85
  uint32_t placeValue2[kA85DigitCount];  // d * 85^2
  uint32_t placeValue3[kA85DigitCount];  // d * 85^3
  uint32_t placeValue4[kA85DigitCount];  // d * 85^4, modulo 2^32
};

// Fills the table of the decode filter `ctx` (ctx->table must point at one).
void BuildDecodeTable(A85FilterContext* ctx);

// Decodes complete groups straight out of `source`'s buffered characters
// into `out` (inside `s`'s buffer) while whole 4-byte slots remain. Stops
// before a group that is cut off by the end of the buffered characters or
// holds anything but digits and white space (or is "z" other than at its
// start); `source`'s ptr/count are left just after the last group decoded.
// Returns the advanced `out`.
uint8_t* Asc85FastFill(uint8_t* out, Stm* s, Stm* source, const A85DecodeTable* table);

// Encodes whole groups from `src` (up to `s`->ptr) straight into `target`'s
// buffer while the target has room and the column is below 64. Returns the
// position after the last group encoded.
uint8_t* Asc85FastFlush(uint8_t* src, Stm* target, Stm* s, int16_t* column);

#endif
