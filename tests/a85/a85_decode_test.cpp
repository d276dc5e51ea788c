// a85_decode_test.cpp - the ASCII85 decode filter: it reads back what the
// reference writer produces however the source's buffers are cut, skips
// white space anywhere, accepts other writers' layouts, and ends malformed
// text with the bytes decoded so far and the error flag.
#include <gtest/gtest.h>

#include <random>

#include "a85/a85_test_util.h"
#include "a85_filters.h"

namespace {

using a85test::Bytes;
using a85test::Decoded;
using a85test::DecodeWithFilter;
using a85test::RefEncode;
using testing_support::MemSource;

void ExpectClean(const Decoded& d, const Bytes& expected, const std::string& what) {
  EXPECT_EQ(d.data, expected) << what;
  EXPECT_TRUE(d.eof) << what;
  EXPECT_FALSE(d.error) << what;
  EXPECT_TRUE(d.sentinelsOk) << what;
}

Bytes DataOfLength(size_t n) {
  return n % 2 ? a85test::ZeroHeavyBytes(n, static_cast<uint32_t>(n))
               : a85test::RandomBytes(n, static_cast<uint32_t>(n));
}

// Source piece sizes: whole text at once, one character per refill, sizes
// that cut groups, and random sizes.
class DecodePieces : public ::testing::TestWithParam<int> {};

TEST_P(DecodePieces, ReadsBackEveryLength) {
  const int piece = GetParam();
  for (size_t n = 0; n <= 3000; n += (piece == 1 ? 7 : 1)) {
    const Bytes data = DataOfLength(n);
    const std::string text = RefEncode(data);
    std::mt19937 rng(static_cast<uint32_t>(n));
    const Decoded d = DecodeWithFilter(a85test::ToBytes(text), [&](size_t) -> size_t {
      return piece > 0 ? static_cast<size_t>(piece) : 1 + rng() % 300;
    });
    ExpectClean(d, data, "length " + std::to_string(n));
    ASSERT_EQ(d.sourceConsumed, text.size());
    if (HasFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, DecodePieces, ::testing::Values(8192, 1, 2, 5, 7, 64, 2047, 0));

TEST(A85Decode, EverySplitPositionOfTheSource) {
  const Bytes data = a85test::ZeroHeavyBytes(700, 5);
  const std::string text = RefEncode(data);
  for (size_t split = 1; split < text.size(); split++) {
    const Decoded d = DecodeWithFilter(a85test::ToBytes(text), [split](size_t k) -> size_t {
      return k == 0 ? split : 100000;
    });
    ExpectClean(d, data, "split " + std::to_string(split));
    if (HasFailure()) return;
  }
}

TEST(A85Decode, ReadingInRunsGivesTheSameBytes) {
  const Bytes data = a85test::RandomBytes(20000, 4);
  const std::string text = RefEncode(data);
  for (uint32_t run : {1u, 3u, 2048u, 5000u}) {
    const Decoded d = a85test::DecodeInRuns(text, 333, run);
    EXPECT_EQ(d.data, data) << "run " << run;
    EXPECT_FALSE(d.error);
  }
}

// White space (backspace to carriage return, and space) anywhere except
// inside the end marker.
TEST(A85Decode, SkipsWhiteSpaceAnywhere) {
  const char kWhite[] = {8, 9, 10, 11, 12, 13, 32};
  std::mt19937 rng(11);
  for (int trial = 0; trial < 200; trial++) {
    const Bytes data = DataOfLength(static_cast<size_t>(rng() % 400));
    const std::string text = RefEncode(data);
    std::string spaced;
    for (size_t i = 0; i < text.size(); i++) {
      const bool insideMarker = i > 0 && text[i - 1] == '~';
      while (!insideMarker && rng() % 3 == 0) spaced += kWhite[rng() % sizeof kWhite];
      spaced += text[i];
    }
    ExpectClean(DecodeWithFilter(a85test::ToBytes(spaced), [&](size_t) { return 1 + rng() % 9; }),
                data, spaced);
    if (HasFailure()) return;
  }
}

TEST(A85Decode, ReadsOtherWritersLayouts) {
  const Bytes data = a85test::ZeroHeavyBytes(5000, 8);
  struct Layout {
    std::string text;
    const char* what;
  } layouts[] = {
      {RefEncode(data, 64, true, false), "no end marker"},
      {RefEncode(data, 64, false, true), "zero groups spelled out"},
      {RefEncode(data, 1 << 30, true, true), "one line"},
      {a85test::RefEncodeWrapped(data, 72, "\r\n", true), "72-character lines, CRLF"},
      {a85test::RefEncodeWrapped(data, 76, "\n", false), "76-character lines, no marker"},
      {a85test::RefEncodeWrapped(data, 1, " ", true), "a space after every character"},
  };
  for (const Layout& l : layouts) {
    Bytes reference;
    ASSERT_TRUE(a85test::RefDecode(l.text, &reference)) << l.what;
    ASSERT_EQ(reference, data) << l.what;
    ExpectClean(DecodeWithFilter(l.text, 8192), data, l.what);
    ExpectClean(DecodeWithFilter(l.text, 3), data, l.what);
  }
}

TEST(A85Decode, StopsAtTheEndMarker) {
  MemSource source(a85test::ToBytes("9jqo^~>XYZ"), 4);
  Stm* s = A85DOpen(source.stm(), nullptr);
  ASSERT_NE(s, nullptr);
  uint8_t out[8];
  EXPECT_EQ(StmFRead(out, 1, 8, s), 4u);
  EXPECT_EQ(std::string(out, out + 4), "Man ");
  EXPECT_FALSE(s->error);
  A85DClose(s);
  EXPECT_EQ(os_fgetc(source.stm()), 'X');  // the source is left just after "~>"
}

// Malformed text: the bytes before the fault are delivered, then the end
// with the error flag.
struct Malformed {
  const char* text;
  Bytes expected;
  bool error;
};

void PrintTo(const Malformed& m, std::ostream* os) { *os << '"' << m.text << '"'; }

class DecodeEnds : public ::testing::TestWithParam<Malformed> {};

TEST_P(DecodeEnds, DeliversBytesThenReports) {
  const Malformed& m = GetParam();
  std::string text(m.text);
  if (text == "NUL") text = std::string("9jqo^") + '\0' + "9jqo^";
  for (size_t piece : {1, 2, 3, 100}) {
    const Decoded d = DecodeWithFilter(text, piece);
    EXPECT_EQ(d.data, m.expected) << text << " piece " << piece;
    EXPECT_TRUE(d.eof);
    EXPECT_EQ(d.error, m.error) << text << " piece " << piece;
    EXPECT_TRUE(d.sentinelsOk);
  }
}

const Bytes kMan = {'M', 'a', 'n', ' '};
const Bytes kManM = {'M', 'a', 'n', ' ', 'M'};
const Bytes kManMan = {'M', 'a', 'n', ' ', 'M', 'a', 'n', ' '};

INSTANTIATE_TEST_SUITE_P(
    Texts, DecodeEnds,
    ::testing::Values(Malformed{"9jqo^v9jqo^", kMan, true},         // byte above "u"
                      Malformed{"NUL", kMan, true},                 // NUL is not white space
                      Malformed{"9jqo^9jz", kManM, true},           // "z" inside a group
                      Malformed{"9jqo^z", {'M', 'a', 'n', ' ', 0, 0, 0, 0}, false},
                      Malformed{"9jqo^~x9jqo^", kMan, true},        // "~" without ">"
                      Malformed{"9jqo^~", kMan, true},              // "~" at the very end
                      Malformed{"9jqo^~ >", kMan, true},            // nothing between them
                      Malformed{"9jqo^9", kMan, true},              // one final digit
                      Malformed{"9jqo^9~>", kMan, true},
                      Malformed{"9jqo^9j", kManM, false},           // two to four final digits
                      Malformed{"9jqo^9jqo~>", {'M', 'a', 'n', ' ', 'M', 'a', 'n'}, false},
                      Malformed{"9jqo^9jqo^~>9jqo^v", kManMan, false},  // after the end: unread
                      Malformed{"", {}, false}, Malformed{"~>", {}, false},
                      Malformed{"  \b\t", {}, false}, Malformed{"9", {}, true}));

TEST(A85Decode, OverRangeGroupsWrap) {
  // "s8W-!" is the largest group; above it the value wraps modulo 2^32.
  const Decoded max = DecodeWithFilter("s8W-!", 8192);
  EXPECT_EQ(max.data, Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
  const Decoded wrapped = DecodeWithFilter("s8W-\"uuuuu", 3);
  const uint32_t uuuuu = static_cast<uint32_t>(85ull * 85 * 85 * 85 * 85 - 1);
  EXPECT_EQ(wrapped.data, Bytes({0, 0, 0, 0, static_cast<uint8_t>(uuuuu >> 24),
                                 static_cast<uint8_t>(uuuuu >> 16), static_cast<uint8_t>(uuuuu >> 8),
                                 static_cast<uint8_t>(uuuuu)}));
  EXPECT_FALSE(wrapped.error);
}

// A source whose refill fails after some characters.
struct FailingSource {
  Stm stm{};
  std::string text;
  uint8_t buffer[64];
  static int16_t Fill(Stm* s) {
    auto* self = static_cast<FailingSource*>(s->procData);
    if (self->text.empty()) {
      s->error = 1;
      s->count = 0;
      return -1;
    }
    const size_t n = std::min<size_t>(self->text.size(), 3);
    std::copy(self->text.begin(), self->text.begin() + n, self->buffer);
    self->text.erase(0, n);
    s->ptr = s->base + 1;
    s->count = static_cast<int16_t>(n - 1);
    return s->base[0];
  }
};

TEST(A85Decode, SourceFailureEndsWithError) {
  FailingSource src;
  src.text = "9jqo^9jqo^9j";
  src.stm.procData = &src;
  src.stm.ptr = src.stm.base = src.buffer;
  src.stm.filBuf = &FailingSource::Fill;
  Stm* s = A85DOpen(&src.stm, nullptr);
  ASSERT_NE(s, nullptr);
  uint8_t out[16];
  EXPECT_EQ(StmFRead(out, 1, 16, s), 9u);  // two groups and the partial one
  EXPECT_TRUE(s->eof);
  EXPECT_TRUE(s->error);
  A85DClose(s);
}

TEST(A85Decode, RefusesNullSource) { EXPECT_EQ(A85DOpen(nullptr, nullptr), nullptr); }

TEST(A85Decode, FullFillsAndSentinel) {
  const Bytes data = a85test::RandomBytes(2048 * 3 + 100, 6);
  MemSource source(a85test::ToBytes(RefEncode(data)), 1000);
  Stm* s = A85DOpen(source.stm(), nullptr);
  ASSERT_NE(s, nullptr);
  for (int fill = 0; fill < 3; fill++) {
    ASSERT_EQ(s->filBuf(s), data[2048 * fill]);
    EXPECT_EQ(s->count, 2047);
    EXPECT_EQ(s->base[2048], 0xFF);
    s->count = 0;
  }
  ASSERT_EQ(s->filBuf(s), data[2048 * 3]);
  EXPECT_EQ(s->count, 99);
  EXPECT_EQ(s->base[100], 0xFF);
  s->count = 0;
  EXPECT_EQ(s->filBuf(s), -1);
  EXPECT_EQ(s->count, 0);
  EXPECT_EQ(s->base[0], 0xFF);
  EXPECT_TRUE(s->eof);
  A85DClose(s);
}

}  // namespace
