// a85_test_util.h - what the ASCII85 tests share: a reference encoder and
// decoder written straight from the base-85 definition (so the filters are
// never checked against themselves), test data makers, and drivers that push
// data through the filters the way clients do.
#ifndef JPEG_TESTS_A85_A85_TEST_UTIL_H
#define JPEG_TESTS_A85_A85_TEST_UTIL_H

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace a85test {

using testing_support::Bytes;

// Reference ASCII85 text of `data` in this library's layout: groups with a
// line feed before a group once the line holds `lineLimit` characters, "z"
// for zero groups when `useZ`, the final partial group as its first n + 1
// digits, then "~>" when `endMarker`.
std::string RefEncode(const Bytes& data, int lineLimit = 64, bool useZ = true,
                      bool endMarker = true);

// The same groups laid out as another writer might: lines of exactly
// `lineLength` characters (groups cut anywhere) ended by `newline`, and
// the end marker on a line of its own.
std::string RefEncodeWrapped(const Bytes& data, size_t lineLength, const std::string& newline,
                             bool endMarker);

// Reference decoder: white space skipped, "z" between groups, "~>" or the
// end of the text ends the data, the final partial group padded with "u".
// Returns false for text it finds malformed.
bool RefDecode(const std::string& text, Bytes* out);

Bytes RandomBytes(size_t n, uint32_t seed);
// Mostly zero bytes, in runs, so that many groups are all zero and others
// are partly zero.
Bytes ZeroHeavyBytes(size_t n, uint32_t seed);
Bytes ToBytes(const std::string& s);

// What the decode filter delivered.
struct Decoded {
  Bytes data;
  bool eof = false;
  bool error = false;
  bool sentinelsOk = true;  // 0xFF after every fill's bytes, and at base[0] after the last
  size_t sourceConsumed = 0;
};

// Decodes `text` through A85DOpen on a MemSource that hands out pieces of
// pieceSize(k) characters. Reads byte by byte, checking the 0xFF after
// every fill.
Decoded DecodeWithFilter(const Bytes& text, testing_support::MemSource::PieceFn pieceSize);
Decoded DecodeWithFilter(const std::string& text, size_t pieceSize = 8192);
// The same, reading with StmFRead in runs of `run` bytes.
Decoded DecodeInRuns(const std::string& text, size_t pieceSize, uint32_t run);

// What the encode filter wrote.
struct Encoded {
  std::string text;
  int32_t lines = 0;
  bool error = false;  // the filter's error flag just before close
};

// Encodes `data` through A85EOpen on a MemSink with the given buffer size,
// writing in runs of varying length (single bytes with os_fputc, runs with
// StmFWrite) taken from `seed`.
Encoded EncodeWithFilter(const Bytes& data, uint16_t sinkBufSize = 4096, uint32_t seed = 1);

}  // namespace a85test

#endif
