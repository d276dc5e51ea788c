// a85_filters_test.cpp - the ASCII85 encode and decode filters against a
// reference encoder written straight from the base-85 definition (so the
// filters are never checked against themselves): the encoder's text for
// every length, the decoder reading it back however the source is cut and
// laid out, malformed text, and failing targets.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "a85_filters.h"
#include "support/test_support.h"

namespace {

using testing_support::Bytes;
using testing_support::MemSink;
using testing_support::MemSource;

// Reference text: groups of four bytes as five base-85 digits, most
// significant first ("z" for a zero group); the final partial group n,
// zero-padded, as its first n + 1 digits. A line feed goes before every
// group but that final one once the line holds `lineLimit` characters.
std::string RefEncode(const Bytes& data, int lineLimit = 64) {
  std::string text;
  for (size_t i = 0, column = 0; i < data.size(); i += 4) {
    const size_t n = std::min<size_t>(4, data.size() - i);
    uint64_t v = 0;
    for (size_t k = 0; k < 4; k++) v = v * 256 + (k < n ? data[i + k] : 0);
    std::string group(5, '!');
    for (uint64_t r = v, k = 5; k-- > 0; r /= 85) group[k] = static_cast<char>('!' + r % 85);
    group = n < 4 ? group.substr(0, n + 1) : v == 0 ? "z" : group;
    if (column >= static_cast<size_t>(lineLimit) && n == 4) text += '\n', column = 0;
    text += group;
    column += group.size();
  }
  return text + "~>";
}

// Random bytes, or three in four zero so that many groups are all zero and
// others partly zero.
Bytes TestBytes(size_t n, bool zeroHeavy = false) {
  std::mt19937 rng(static_cast<uint32_t>(n));
  Bytes b(n);
  for (auto& v : b) v = zeroHeavy && rng() % 4 != 0 ? 0 : static_cast<uint8_t>(rng());
  return b;
}

// Opens the encoder on `sink` and writes `data` in runs of varying length
// (single bytes with os_fputc, longer runs with StmFWrite).
Stm* OpenAndWrite(MemSink* sink, const Bytes& data, uint32_t seed = 1) {
  Stm* s = A85EOpen(sink->stm(), nullptr);
  std::mt19937 rng(seed);
  for (size_t i = 0, run; i < data.size(); i += run) {
    run = std::min<size_t>(data.size() - i, rng() % 3 == 0 ? 1 : 1 + rng() % 5000);
    if (run == 1) os_fputc(data[i], s);
    else StmFWrite(&data[i], 1, static_cast<uint32_t>(run), s);
  }
  return s;
}

std::string Text(const MemSink& sink) {
  const Bytes out = sink.Contents();
  return std::string(out.begin(), out.end());
}

// Every length, random and zero-heavy; small sink buffers send the groups
// through the target's byte writes instead of its direct path.
TEST(A85Encode, TextMatchesReferenceForEveryLength) {
  for (uint16_t sinkBuf : {4096, 7, 1}) {
    for (size_t n = 0; n <= 3000; n++) {
      const Bytes data = TestBytes(n, n % 2);
      MemSink sink(sinkBuf);
      Stm* s = OpenAndWrite(&sink, data, static_cast<uint32_t>(n));
      ASSERT_FALSE(s->error);
      const int32_t lines = A85EClose(s);
      const std::string expected = RefEncode(data);
      ASSERT_EQ(Text(sink), expected) << "length " << n << " sink buffer " << sinkBuf;
      ASSERT_EQ(lines, std::count(expected.begin(), expected.end(), '\n')) << "length " << n;
    }
  }
}

TEST(A85Encode, FailingTargetsAndTheEndOfTheText) {
  EXPECT_EQ(A85EOpen(nullptr, nullptr), nullptr);
  for (long failAfter : {100, 10}) {  // amid the data; only when the end flushes
    MemSink sink(16, failAfter);
    Stm* s = OpenAndWrite(&sink, TestBytes(failAfter == 100 ? 20000 : 40));
    EXPECT_EQ(s->error != 0, failAfter == 100);
    EXPECT_TRUE(Asc85EPutEOF(s) == -1 && s->error);
    EXPECT_EQ(os_fputc('x', s), -1);
    A85EClose(s);
  }
  MemSink sink;
  Stm* s = OpenAndWrite(&sink, {'s', 'u', 'r', 'e', '.'});
  EXPECT_EQ(s->flsBuf(-1, s), -1);  // the end-of-data signal finishes the text
  EXPECT_TRUE(s->eof && !s->error);
  EXPECT_EQ(Asc85EPutEOF(s), -1);  // after the end, writes are refused ...
  EXPECT_LT(StmFWrite(Bytes(5000, 1).data(), 1, 5000, s), 5000u);
  EXPECT_EQ(s->count, 0);  // ... without driving the count below the buffer
  EXPECT_EQ(A85EClose(s), 0);
  EXPECT_EQ(Text(sink), "F*2M7/c~>");
}

struct Decoded {
  Bytes data;
  bool clean = true;  // the end, no error, 0xFF after every fill's bytes and at base[0]
  int next = -1;      // the source's next byte after the filter is closed
};

// Decodes `text` from a source handing out pieces of pieces(k) characters,
// refilling with the filter's own procedure so every fill can be checked.
template <typename Pieces>  // a fixed size, or a function of the piece's index
Decoded Decode(const std::string& text, Pieces pieces) {
  MemSource source(Bytes(text.begin(), text.end()), pieces);
  Decoded d;
  Stm* s = A85DOpen(source.stm(), nullptr);
  for (int16_t c; (c = s->filBuf(s)) >= 0; s->ptr += s->count, s->count = 0) {
    d.data.push_back(static_cast<uint8_t>(c));
    d.data.insert(d.data.end(), s->ptr, s->ptr + s->count);
    d.clean &= s->ptr[s->count] == 0xFF;
  }
  d.clean &= s->base[0] == 0xFF && s->filBuf(s) == -1 && s->eof && !s->error;
  A85DClose(s);
  d.next = os_fgetc(source.stm());
  return d;
}

// Whole text at once, one character per refill, sizes that cut groups,
// random sizes (0); then other writers' layouts: other line lengths and ends, groups cut by line
// ends, white space (backspace to carriage return, space) anywhere.
TEST(A85Decode, ReadsBackHoweverTheSourceIsCutAndLaidOut) {
  std::mt19937 rng(1);
  for (size_t piece : {8192, 1, 7, 0}) {
    for (size_t n = 0; n <= 3000 && !HasFailure(); n += piece == 8192 ? 1 : 7) {
      const Bytes data = TestBytes(n, n % 2);
      auto pieces = [&](size_t) { return piece ? piece : 1 + rng() % 300; };
      const Decoded d = Decode(RefEncode(data) + "X", pieces);  // "X" stays in the source
      EXPECT_EQ(d.data, data) << "length " << n << " piece " << piece;
      EXPECT_TRUE(d.clean && d.next == 'X') << "length " << n << " piece " << piece;
    }
  }
  const Bytes other = TestBytes(5000, true);
  std::string flat = RefEncode(other, 1 << 30), wrap72, wrap76, spaced = "\b ";
  flat.resize(flat.size() - 2);  // one line, end mark apart
  for (size_t i = 0; i < flat.size(); i += 72) wrap72 += flat.substr(i, 72) + "\r\n";
  for (size_t i = 0; i < flat.size(); i += 76) wrap76 += flat.substr(i, 76) + "\n";
  for (char c : flat + "~>") {
    spaced += c;
    while (c != '~' && rng() % 3 == 0) spaced += " \b\t\n\v\f\r"[rng() % 7];
  }
  for (const std::string& layout : {flat + "~>", spaced, wrap72 + "~>\r\n", wrap76 + "~>"}) {
    for (size_t piece : {8192, 3, 1}) {
      const Decoded d = Decode(layout, piece);
      EXPECT_TRUE(d.data == other && d.clean) << layout.substr(0, 80) << " piece " << piece;
    }
  }
}

// The whole text split into two refills at every position reads back
// whole. Text cut anywhere before the end of its end mark "~>" may have lost
// its tail: the bytes of the groups before the cut are delivered (a cut
// group gives at most one byte fewer than its digits, those of the longer
// value rounded up), then the end with the error flag.
TEST(A85Decode, SplitAnywhereReadsBackCutBeforeTheEndMarkIsAnError) {
  const Bytes data = TestBytes(230, true);
  const std::string text = RefEncode(data, 40);
  for (size_t cut = 0; cut <= text.size(); cut++) {
    const Decoded split = Decode(text, [cut](size_t k) { return k == 0 ? std::max<size_t>(cut, 1) : 100000; });
    EXPECT_TRUE(split.data == data && split.clean) << "split " << cut;
    for (size_t piece : {1, 7, 4096}) {
      const Decoded d = Decode(text.substr(0, cut), piece);
      const bool whole = cut == text.size();
      EXPECT_EQ(d.clean, whole) << "cut " << cut << " piece " << piece;
      // Complete groups before the cut: digits (white space apart) / 5, "z" as one.
      size_t groups = 0, digits = 0;
      for (size_t i = 0; i < cut && text[i] != '~'; i++) {
        if (text[i] == 'z') groups++;
        if (text[i] >= '!' && text[i] <= 'u' && ++digits == 5) groups++, digits = 0;
      }
      const size_t complete = std::min(4 * groups, data.size());
      ASSERT_GE(d.data.size(), complete) << "cut " << cut;
      EXPECT_LE(d.data.size(), std::min(complete + (digits ? digits - 1 : 0), data.size()));
      EXPECT_TRUE(std::equal(data.begin(), data.begin() + static_cast<long>(complete), d.data.begin()))
          << "cut " << cut;
    }
  }
}

// Malformed text delivers the bytes before the fault, then the end with the
// error flag; so does a source that fails.
TEST(A85Decode, EndsMalformedTextWithTheBytesSoFar) {
  const std::string man = "9jqo^";
  const Bytes kMan = {'M', 'a', 'n', ' '};
  const struct {
    std::string text;
    Bytes expected;
    bool error;
  } cases[] = {
      {man + "v" + man, kMan, true},                   // byte above "u"
      {man + std::string(1, '\0') + man, kMan, true},  // NUL is not white space
      {man + "9jz", {'M', 'a', 'n', ' ', 'M'}, true},  // "z" inside a group
      {man + "~x" + man, kMan, true},                  // "~" not followed by ">"
      {man + "~ >", kMan, true},
      {man + "9", kMan, true},  // a final single digit
      {man + "9~>", kMan, true},
      {man + "z~>", {'M', 'a', 'n', ' ', 0, 0, 0, 0}, false},
      {man + "9jqo~>", {'M', 'a', 'n', ' ', 'M', 'a', 'n'}, false},
      {man + "9jqo", {'M', 'a', 'n', ' ', 'M', 'a', 'n'}, true},  // no end mark
      {man + "~>" + man + "v", kMan, false},  // after the end: unread
      {"  \b\t~>", {}, false},
      {"  \b\t", {}, true},
      {"", {}, true},
      {"s8W-\"uuuuu~>", {0, 0, 0, 0, 0x08, 0x78, 0x0E, 0xC4}, false},  // over 2^32: wraps
  };
  for (const auto& c : cases) {
    for (size_t piece : {1, 2, 100}) {
      const Decoded d = Decode(c.text, piece);
      EXPECT_EQ(d.data, c.expected) << c.text << " piece " << piece;
      EXPECT_EQ(d.clean, !c.error) << c.text << " piece " << piece;
    }
  }
  EXPECT_EQ(A85DOpen(nullptr, nullptr), nullptr);
  MemSource failed(Bytes{'9', 'j'});
  failed.stm()->error = 1;  // a failing source is no clean end either
  Stm* s = A85DOpen(failed.stm(), nullptr);
  EXPECT_TRUE(s->filBuf(s) == -1 && s->error);
  A85DClose(s);
}

}  // namespace
