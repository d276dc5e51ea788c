// a85_encode_test.cpp - the ASCII85 encode filter: its text against the
// reference encoder for every length up to a few thousand bytes, the line
// layout, the end of the text, and failing targets.
#include <gtest/gtest.h>

#include <algorithm>

#include "a85/a85_test_util.h"
#include "a85_filters.h"

namespace {

using a85test::Bytes;
using a85test::EncodeWithFilter;
using a85test::RefEncode;
using testing_support::MemSink;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    lines.push_back(text.substr(start, nl - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

// (data kind, sink buffer size): a small sink buffer sends many groups
// through the target's byte writes instead of the direct path.
class EncodeEveryLength : public ::testing::TestWithParam<std::tuple<bool, int>> {};

TEST_P(EncodeEveryLength, TextMatchesReference) {
  const bool zeroHeavy = std::get<0>(GetParam());
  const uint16_t sinkBuf = static_cast<uint16_t>(std::get<1>(GetParam()));
  for (size_t n = 0; n <= 3000; n++) {
    const Bytes data = zeroHeavy ? a85test::ZeroHeavyBytes(n, static_cast<uint32_t>(n))
                                 : a85test::RandomBytes(n, static_cast<uint32_t>(n));
    const a85test::Encoded e = EncodeWithFilter(data, sinkBuf, static_cast<uint32_t>(n) + 7);
    const std::string expected = RefEncode(data);
    ASSERT_EQ(e.text, expected) << "length " << n;
    ASSERT_FALSE(e.error);
    ASSERT_EQ(e.lines, std::count(expected.begin(), expected.end(), '\n')) << "length " << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Data, EncodeEveryLength,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(4096, 7, 1)));

TEST(A85Encode, ZeroBytesBecomeZInLinesOf64) {
  const a85test::Encoded e = EncodeWithFilter(Bytes(1000, 0));
  const std::string z64(64, 'z');
  EXPECT_EQ(e.text, z64 + "\n" + z64 + "\n" + z64 + "\n" + std::string(58, 'z') + "~>");
  EXPECT_EQ(e.lines, 3);
}

TEST(A85Encode, NonZeroDataGivesLinesOf65) {
  const Bytes data = a85test::RandomBytes(100000, 3);
  Bytes nonzero = data;
  for (auto& b : nonzero) b |= 1;
  const a85test::Encoded e = EncodeWithFilter(nonzero);
  const std::vector<std::string> lines = Lines(e.text);
  ASSERT_GT(lines.size(), 2u);
  for (size_t i = 0; i + 1 < lines.size(); i++) ASSERT_EQ(lines[i].size(), 65u) << "line " << i;
  EXPECT_LE(lines.back().size(), 65u + 4 + 2);
  EXPECT_EQ(e.lines, static_cast<int32_t>(lines.size() - 1));
}

TEST(A85Encode, ShortTexts) {
  struct Case {
    Bytes data;
    const char* text;
  } cases[] = {
      {{}, "~>"},
      {{0}, "!!~>"},                  // a final partial zero group is never "z"
      {{0, 0, 0}, "!!!!~>"},
      {{0, 0, 0, 0}, "z~>"},
      {{0, 0, 0, 0, 0}, "z!!~>"},
      {{0xFF, 0xFF, 0xFF, 0xFF}, "s8W-!~>"},
      {{'M', 'a', 'n', ' '}, "9jqo^~>"},
      {{'s', 'u', 'r', 'e', '.'}, "F*2M7/c~>"},
  };
  for (const Case& c : cases) {
    const a85test::Encoded e = EncodeWithFilter(c.data);
    EXPECT_EQ(e.text, c.text);
    EXPECT_EQ(e.lines, 0);
  }
}

TEST(A85Encode, RefusesNullTarget) { EXPECT_EQ(A85EOpen(nullptr, nullptr), nullptr); }

TEST(A85Encode, FailingTargetSetsErrorFlag) {
  MemSink sink(64, 100);  // takes 100 characters, then fails
  Stm* s = A85EOpen(sink.stm(), nullptr);
  ASSERT_NE(s, nullptr);
  const Bytes data = a85test::RandomBytes(20000, 9);
  const uint32_t written = StmFWrite(data.data(), 1, static_cast<uint32_t>(data.size()), s);
  EXPECT_LT(written, data.size());
  EXPECT_TRUE(s->error);
  EXPECT_EQ(os_fputc('x', s), -1);
  EXPECT_EQ(Asc85EPutEOF(s), -1);
  A85EClose(s);
}

TEST(A85Encode, TargetFailingAtTheEndIsReported) {
  // Everything fits the target's buffer until the close flushes it: the
  // failure shows in the end-of-text result.
  MemSink sink(16, 10);
  Stm* s = A85EOpen(sink.stm(), nullptr);
  ASSERT_NE(s, nullptr);
  const Bytes data = a85test::RandomBytes(40, 2);
  ASSERT_EQ(StmFWrite(data.data(), 1, 40, s), 40u);
  EXPECT_EQ(Asc85EPutEOF(s), -1);
  EXPECT_TRUE(s->error);
  A85EClose(s);
}

TEST(A85Encode, WritesAfterTheEndFail) {
  MemSink sink;
  Stm* s = A85EOpen(sink.stm(), nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Asc85EPutEOF(s), 0);
  EXPECT_EQ(Asc85EPutEOF(s), -1);
  const Bytes data(5000, 1);
  EXPECT_LT(StmFWrite(data.data(), 1, 5000, s), 5000u);
  EXPECT_EQ(os_fputc(1, s), -1);
  EXPECT_EQ(s->count, 0);  // never driven below the buffer by repeated refusals
  A85EClose(s);
  const Bytes out = sink.Contents();
  EXPECT_EQ(std::string(out.begin(), out.end()), "~>");
}

TEST(A85Encode, FlushWithEndSignalFinishesTheText) {
  MemSink sink;
  Stm* s = A85EOpen(sink.stm(), nullptr);
  ASSERT_NE(s, nullptr);
  const Bytes data = {'s', 'u', 'r', 'e', '.'};
  ASSERT_EQ(StmFWrite(data.data(), 1, 5, s), 5u);
  EXPECT_EQ(s->flsBuf(-1, s), -1);
  EXPECT_TRUE(s->eof);
  EXPECT_FALSE(s->error);
  EXPECT_EQ(A85EClose(s), 0);
  const Bytes out = sink.Contents();
  EXPECT_EQ(std::string(out.begin(), out.end()), "F*2M7/c~>");
}

}  // namespace
