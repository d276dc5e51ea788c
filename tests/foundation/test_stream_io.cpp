// Byte I/O on a Stm: item counts on short reads, block moves across refills,
// pushing back, and a 16-bit count that never wraps when a procedure refuses.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "codec/codec_state.h"
#include "stream/stm_inline.h"
#include "support/test_support.h"

using testing_support::Bytes;
using testing_support::MemSink;
using testing_support::MemSource;

namespace {

Bytes Iota(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; i++) b[i] = static_cast<uint8_t>(i * 7 + 1);
  return b;
}

// A write stream whose flush procedure always refuses.
int16_t RefuseFlush(int16_t, Stm* s) {
  s->error = 1;
  return -1;
}

}  // namespace

TEST(StmFRead, CountsOnlyCompleteItems) {
  MemSource src(Iota(9), 4);
  uint8_t out[12] = {};
  EXPECT_EQ(StmFRead(out, 4, 3, src.stm()), 2u);
  EXPECT_EQ(std::memcmp(out, Iota(9).data(), 9), 0);
}

TEST(StmFRead, ZeroSizeOrCountReturnsAtOnce) {
  MemSource src(Iota(5));
  uint8_t out[4];
  EXPECT_EQ(StmFRead(out, 0, 7, src.stm()), 7u);
  EXPECT_EQ(StmFRead(out, 3, 0, src.stm()), 0u);
  EXPECT_EQ(src.consumed(), 0u);
  MemSink sink;
  EXPECT_EQ(StmFWrite(out, 0, 5, sink.stm()), 5u);
  EXPECT_TRUE(sink.Contents().empty());
  EXPECT_EQ(os_fputc(0x141, sink.stm()), 0x41);  // the low eight bits
  EXPECT_EQ(sink.Contents(), Bytes{0x41});
}

TEST(StmFWrite, RefusedByteCountsAsNotWritten) {
  MemSink sink(8, 8);  // the second flush fails
  const Bytes data = Iota(30);
  // 16 bytes are taken (8 flushed, 8 buffered); the flush for byte 17 fails,
  // so 5 whole 3-byte items were written.
  EXPECT_EQ(StmFWrite(data.data(), 3, 10, sink.stm()), 5u);
  EXPECT_TRUE(sink.stm()->error);
}

TEST(OsFputc, CountNeverWrapsWhenTheOwnerKeepsRefusing) {
  uint8_t buffer[4] = {};
  uint8_t guard[64];
  std::memset(guard, 0xAA, sizeof guard);
  Stm s{};
  s.base = s.ptr = buffer;
  s.bufSize = 4;
  s.count = 4;
  s.flsBuf = RefuseFlush;
  for (int i = 0; i < 4; i++) EXPECT_EQ(os_fputc(static_cast<int16_t>(i), &s), i);
  for (int i = 0; i < 70000; i++) ASSERT_EQ(os_fputc(1, &s), -1);
  EXPECT_EQ(s.count, -1);
  EXPECT_EQ(s.ptr, buffer + 4);
}

TEST(StmUnGetc, PushesBackWhatWasRead) {
  MemSource src(Iota(10), 10);
  Stm* s = src.stm();
  EXPECT_EQ(StmUnGetc(-1, s), -1);
  const int16_t first = os_fgetc(s);
  const int16_t countAfterRead = s->count;
  EXPECT_EQ(StmUnGetc(first, s), first);
  EXPECT_EQ(s->count, countAfterRead + 1);
  EXPECT_EQ(os_fgetc(s), first);
}

TEST(StmUnGetc, StoresIntoAFreshEmptyBuffer) {
  uint8_t buffer[4] = {};
  Stm s{};
  s.base = s.ptr = buffer;
  s.eof = 1;
  EXPECT_EQ(StmUnGetc(0x5A, &s), 0x5A);
  EXPECT_EQ(s.count, 1);
  EXPECT_EQ(buffer[0], 0x5A);
  EXPECT_FALSE(s.eof);
  EXPECT_EQ(StmUnGetc(0x11, &s), -1);  // nothing read from this buffer yet
}

TEST(RasterHeader, WritesTheEighteenBytes) {
  MemSink sink;
  EXPECT_EQ(vs_init_out(sink.stm(), 0, 640, 480, 3), 0);
  EXPECT_TRUE(sink.Contents().empty());
  EXPECT_EQ(vs_init_out(sink.stm(), 1, 640, 480, 3), 0);
  const Bytes expected = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x02, 0xE0, 0x01, 0x18, 0x00};
  EXPECT_EQ(sink.Contents(), expected);
}

TEST(RasterHeader, ReadsItBackAndReportsAShortHeader) {
  DCTState* state = static_cast<DCTState*>(calloc(1, sizeof(DCTState)));
  MemSource full(Bytes{0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0x01, 0x20, 0x00, 0x08, 0x00});
  EXPECT_EQ(vs_init_in(state, full.stm(), 0), 0);
  EXPECT_EQ(state->Columns, 272);
  EXPECT_EQ(state->Rows, 32);
  EXPECT_EQ(state->Colors, 1);
  MemSource shortHeader(Bytes(15, 0));  // bytes 15..17 read as -1
  EXPECT_EQ(vs_init_in(state, shortHeader.stm(), 0), 1);
  EXPECT_EQ(state->Rows, 0 + -1 * 256);
  free(state);
}
