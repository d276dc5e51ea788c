// The error path: a raise lands at the armed entry with its message
// formatted, nested entries return failures to the right place, and the
// most recent message is kept for hosts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "stream/error_path.h"

namespace {

// A minimal filter entry: arms the jump around `body` and returns the
// message that landed, or "" when nothing was raised.
template <typename Body>
std::string RunEntry(char (&message)[kDCTMessageSize], Body body) {
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

}  // namespace

TEST(ErrorPath, RaisesLandAtTheArmedEntryWithTheirMessage) {
  char message[kDCTMessageSize];
  gJPEGError = 0;
  EXPECT_EQ(RunEntry(message, [] { DCTStmErr0("Columns==0"); }), "Columns==0");
  EXPECT_EQ(gJPEGError, 1);
  EXPECT_STREQ(JPEGLastErrorMessage(), "Columns==0");
  EXPECT_EQ(RunEntry(message, [] { DCTStmErr1("Cannot allocate %ld bytes", 608); }),
            "Cannot allocate 608 bytes");
  EXPECT_EQ(RunEntry(message, [] { DCTStmErr1("Illegal JPEG marker 0x%2X in MCU", 0xC8); }),
            "Illegal JPEG marker 0xC8 in MCU");
  EXPECT_EQ(RunEntry(message, [] { DCTStmErr1("Unexpected JPEG RST%d marker in MCU", 5); }),
            "Unexpected JPEG RST5 marker in MCU");
  EXPECT_EQ(RunEntry(message, [] { DCTStmErr2("%ld and %ld", -7, 9); }), "-7 and 9");
  EXPECT_EQ(RunEntry(message, [] {}), "");
}

TEST(ErrorPath, LongFileNamesAreCutToTheBuffer) {
  struct {
    char message[kDCTMessageSize];
    char tail[16];
  } buffers;
  std::memset(buffers.tail, 'x', sizeof buffers.tail);
  const std::string name(1000, 'n');
  std::string landed = RunEntry(buffers.message, [&] { report_open_failure(name.c_str()); });
  EXPECT_EQ(landed.size(), 255u);
  EXPECT_EQ(landed.rfind("fopen failure for file nnn", 0), 0u);
  EXPECT_EQ(buffers.tail[0], 'x');  // nothing written past the buffer
}

TEST(ErrorPath, NestedEntriesReturnToTheirOwnEntry) {
  char outer[kDCTMessageSize], inner[kDCTMessageSize];
  std::string innerResult;
  std::string outerResult = RunEntry(outer, [&] {
    innerResult = RunEntry(inner, [] { DCTStmErr0("inner failure"); });
    DCTStmErr0("outer failure");
  });
  EXPECT_EQ(innerResult, "inner failure");
  EXPECT_EQ(outerResult, "outer failure");
  EXPECT_STREQ(inner, "inner failure");
}
