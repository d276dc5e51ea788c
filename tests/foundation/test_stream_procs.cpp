// test_stream_procs.cpp - the shared pieces of stream owners' procedures:
// the refill ending that stores the decoder's guard byte, and the refusing
// procedures of one-directional streams.
#include <gtest/gtest.h>

#include <cstring>

#include "stream/stm_inline.h"
#include "stream/stm_procs.h"

namespace {

struct Buffered {
  uint8_t bytes[8] = {};
  Stm stm{};
  Buffered() {
    std::memset(bytes, 0xAA, sizeof bytes);
    stm.base = stm.ptr = bytes;
    stm.bufSize = sizeof bytes - 1;  // one byte spare for the guard
  }
};

TEST(StmRefillWithGuard, HandsOutTheFirstByteAndGuardsTheRest) {
  struct Case {
    const char* name;
    size_t got;
  } cases[] = {{"one byte", 1}, {"some bytes", 3}, {"a full buffer", 7}};
  for (const Case& c : cases) {
    Buffered b;
    for (size_t i = 0; i < c.got; i++) b.bytes[i] = static_cast<uint8_t>(10 + i);
    EXPECT_EQ(StmRefillWithGuard(&b.stm, c.got), 10) << c.name;
    EXPECT_EQ(b.stm.count, static_cast<int16_t>(c.got - 1)) << c.name;
    EXPECT_EQ(b.stm.ptr, b.bytes + 1) << c.name;
    EXPECT_EQ(b.bytes[c.got], kStmGuardByte) << c.name;
    EXPECT_EQ(b.stm.eof, 0) << c.name;
    // The rest reads back in order; the guard is never handed out as data.
    for (size_t i = 1; i < c.got; i++) EXPECT_EQ(StmGetByte(&b.stm), 10 + static_cast<int>(i)) << c.name;
    EXPECT_EQ(b.stm.count, 0) << c.name;
  }
}

TEST(StmRefillWithGuard, NothingGotIsTheEndOfTheData) {
  Buffered b;
  EXPECT_EQ(StmRefillWithGuard(&b.stm, 0), -1);
  EXPECT_EQ(b.stm.eof, 1);
  EXPECT_EQ(b.stm.count, 0);
  EXPECT_EQ(b.stm.error, 0);
}

TEST(StmRefuse, WrongDirectionFailsTheStreamWithoutTouchingItsBytes) {
  Buffered source;
  source.stm.filBuf = [](Stm* s) { return StmRefillWithGuard(s, 0); };
  source.stm.flsBuf = StmRefuseFlush;
  EXPECT_EQ(StmPutByte(7, &source.stm), -1);
  EXPECT_EQ(source.stm.error, 1);
  EXPECT_EQ(source.stm.count, 0);
  EXPECT_EQ(source.bytes[0], 0xAA);

  Buffered sink;
  sink.stm.flsBuf = [](int16_t c, Stm* s) { return StmRestartWrite(c, s); };
  sink.stm.filBuf = StmRefuseFill;
  EXPECT_EQ(StmGetByte(&sink.stm), -1);
  EXPECT_EQ(sink.stm.error, 1);
  EXPECT_EQ(sink.stm.count, 0);
}

}  // namespace
