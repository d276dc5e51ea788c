// wrap_arith.h - 32-bit two's-complement arithmetic without undefined behaviour.
//
// The transforms and colour tables are specified as 32-bit arithmetic with
// wrap-around and arithmetic right shifts. Signed overflow and left shifts of
// negative values are undefined in C++17, so wherever a value may leave the
// int32 range (or be negative when shifted left) the code goes through these
// helpers, which compute in uint32_t and convert back (modulo 2^32, which is
// what every supported compiler does and C++20 guarantees). Right shifts of
// negative int32 values are arithmetic on every supported compiler.
#ifndef JPEG_CODEC_WRAP_ARITH_H
#define JPEG_CODEC_WRAP_ARITH_H

#include <cstdint>

static inline int32_t WrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
static inline int32_t WrapSub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
static inline int32_t WrapMul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
static inline int32_t WrapNeg(int32_t a) {
  return static_cast<int32_t>(0u - static_cast<uint32_t>(a));
}
// x << n for any sign of x, with the bits shifted out dropped.
static inline int32_t ShiftLeft(int32_t x, int n) {
  return static_cast<int32_t>(static_cast<uint32_t>(x) << n);
}
// Arithmetic (flooring) right shift.
static inline int32_t ShiftRight(int32_t x, int n) { return x >> n; }

#endif
