// test_foundation.cpp - the pieces under every filter: the error path (a
// raise lands at the armed entry with its message formatted, cut to the
// buffer; nested entries return to their own) and byte I/O on a Stm (item counts on short
// reads and refused writes, a 16-bit count that never wraps, pushing back,
// the 18-byte raster header).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "codec/codec_state.h"
#include "stream/error_path.h"
#include "stream/stm_inline.h"
#include "support/test_support.h"

namespace {

using testing_support::Bytes;
using testing_support::MemSink;
using testing_support::MemSource;

// Runs body under an armed entry; returns the message that landed, or "".
template <typename Body>
std::string Raised(char (&message)[kDCTMessageSize], Body body) {
  DCTSavedEnv saved;
  message[0] = '\0';
  DCTSaveEnv(&saved, message);
  if (setjmp(gEnv) != 0) {
    JPEGErrorMessage(message);
    DCTEndTry(&saved);
    return message;
  }
  body();
  DCTEndTry(&saved);
  return "";
}

TEST(ErrorPath, MessagesLandAtTheirOwnEntryCutToTheBuffer) {
  char message[kDCTMessageSize];
  gJPEGError = 0;
  EXPECT_EQ(Raised(message, [] { DCTStmErr1("Cannot allocate %ld bytes", 608); }), "Cannot allocate 608 bytes");
  EXPECT_EQ(gJPEGError, 1);
  EXPECT_STREQ(JPEGLastErrorMessage(), "Cannot allocate 608 bytes");
  EXPECT_EQ(Raised(message, [] { DCTStmErr2("%ld and %ld", -7, 9); }), "-7 and 9");
  struct {
    char message[kDCTMessageSize];
    char tail[16];
  } buffers;
  std::memset(buffers.tail, 'x', sizeof buffers.tail);
  const std::string name(1000, 'n');
  const std::string landed = Raised(buffers.message, [&] { report_open_failure(name.c_str()); });
  EXPECT_EQ(landed.size(), 255u);
  EXPECT_EQ(landed.rfind("fopen failure for file nnn", 0), 0u);
  EXPECT_EQ(buffers.tail[0], 'x');  // nothing written past the buffer
  char outer[kDCTMessageSize], inner[kDCTMessageSize];
  std::string innerResult;
  EXPECT_EQ(Raised(outer, [&] {
              innerResult = Raised(inner, [] { DCTStmErr0("inner failure"); });
              DCTStmErr0("outer failure");
            }),
            "outer failure");
  EXPECT_EQ(innerResult, "inner failure");
}

Bytes Iota(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; i++) b[i] = static_cast<uint8_t>(i * 7 + 1);
  return b;
}

TEST(StmIO, ItemCountsPushBackAndACountThatNeverWraps) {
  MemSource src(Iota(9), 4);
  uint8_t out[12] = {};
  EXPECT_EQ(StmFRead(out, 4, 3, src.stm()), 2u);  // only complete items count
  EXPECT_EQ(std::memcmp(out, Iota(9).data(), 9), 0);
  EXPECT_EQ(StmFRead(out, 0, 7, src.stm()), 7u);
  EXPECT_EQ(StmFRead(out, 3, 0, src.stm()), 0u);
  EXPECT_EQ(src.consumed(), 9u);
  MemSink sink(8, 8);  // the second flush fails
  EXPECT_EQ(StmFWrite(out, 0, 5, sink.stm()), 5u);
  EXPECT_EQ(os_fputc(0x141, sink.stm()), 0x41);  // the low eight bits
  // 16 bytes are taken (8 flushed, 8 buffered), one of them before; the
  // flush for byte 17 fails, so 5 whole 3-byte items were written.
  EXPECT_EQ(StmFWrite(Iota(30).data(), 3, 10, sink.stm()), 5u);
  EXPECT_TRUE(sink.stm()->error);
  for (int i = 0; i < 70000; i++) ASSERT_EQ(os_fputc(1, sink.stm()), -1);
  EXPECT_TRUE(sink.stm()->count >= -1 && sink.stm()->count <= 0);

  MemSource again(Iota(10), 10);
  Stm* s = again.stm();
  EXPECT_EQ(StmUnGetc(-1, s), -1);
  const int16_t first = os_fgetc(s), countAfterRead = s->count;
  EXPECT_EQ(StmUnGetc(first, s), first);
  EXPECT_EQ(s->count, countAfterRead + 1);
  EXPECT_EQ(os_fgetc(s), first);
  uint8_t buffer[4] = {};
  Stm fresh{};
  fresh.base = fresh.ptr = buffer;
  fresh.eof = 1;
  EXPECT_EQ(StmUnGetc(0x5A, &fresh), 0x5A);  // into a fresh empty buffer
  EXPECT_TRUE(fresh.count == 1 && buffer[0] == 0x5A && !fresh.eof);
  EXPECT_EQ(StmUnGetc(0x11, &fresh), -1);  // nothing read from this buffer yet
}

TEST(StmIO, RasterHeaderWrittenAndReadBack) {
  MemSink sink;
  EXPECT_EQ(vs_init_out(sink.stm(), 0, 640, 480, 3), 0);
  EXPECT_TRUE(sink.Contents().empty());
  EXPECT_EQ(vs_init_out(sink.stm(), 1, 640, 480, 3), 0);
  EXPECT_EQ(sink.Contents(), Bytes({0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x02, 0xE0, 0x01, 0x18, 0x00}));
  DCTState state{};
  MemSource full(Bytes{0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10, 0x01, 0x20, 0x00, 0x08, 0x00});
  EXPECT_EQ(vs_init_in(&state, full.stm(), 0), 0);
  EXPECT_TRUE(state.Columns == 272 && state.Rows == 32 && state.Colors == 1);
  MemSource shortHeader(Bytes(15, 0));  // bytes 15..17 read as -1
  EXPECT_EQ(vs_init_in(&state, shortHeader.stm(), 0), 1);
  EXPECT_EQ(state.Rows, 0 + -1 * 256);
}

}  // namespace
