// fuzz_harness.h - the one harness behind the libFuzzer targets and the
// replay test (tests/fuzz_replay): one entry per API area, each taking any
// bytes, driving the library with them and checking what must hold whatever
// they are (a failed check throws, fuzz_support.h). The first byte of the
// decode and host entries picks the path; the rest is that path's input.
//   Decode     the decode filter, cut into pieces, against whole buffers,
//              progressive or over ASCII85: the same lines and verdict;
//              or (ParallelDecode) with workers against one thread; or
//              scaled, the one-call API, re-coding (the opt-in paths);
//   Encode     the encode filter (over ASCII85 or not) with any parameters,
//              options and raster pieces; what codes must decode to its size.
//   A85        the ASCII85 decoder, cut into pieces against whole buffers,
//              and its bytes through the encoder and back.
//   Host   0: the thumbnail interface against the decode filter;
//          1: the read stream, plain or ASCII85, or over a failing stream;
//          2: the write stream, any options, early stops; read back.
#ifndef JPEG_FUZZ_HARNESS_H
#define JPEG_FUZZ_HARNESS_H

#include <cmath>
#include <limits>
#include <string>
#include <tuple>

#include "bn_streams.h"
#include "jpeg_oneshot.h"
#include "jpeg_options.h"
#include "jpeg_transcode.h"
#include "stream/error_path.h"
#include "fuzz_support.h"
#include "thumb_stream.h"

namespace fuzz {

// ---- decode ---------------------------------------------------------------------

// What one decode of the bytes showed; Key() is what must not depend on how
// the bytes arrive nor on worker threads.
struct Decoded {
  bool opened = false, ended = false, failed = false;  // ended: every line, then the clean end
  int16_t width = 0, height = 0;
  int32_t lineBytes = 0, colors = 0;
  std::string message;
  std::vector<std::vector<uint8_t>> lines;
  auto Key() const { return std::tie(opened, ended, failed, message, lines); }
};

template <typename Proc> Proc Entry(int index) { return reinterpret_cast<Proc>(BNStreams[index]); }

// The one decode routine of the fuzz targets and the tests: the decode
// filter from the filter table over `below`, with `threads` workers from the
// first strip on when not 0, the thread's message and failure cleared first;
// every byte of every line is read (and kept unless `keep` is false), up to
// maxSamples; `failed` is the filter's own verdict, never gJPEGError.
inline Decoded DecodeFrom(Stm* below, int16_t widthHint, int64_t maxSamples, int threads = 0, bool keep = true,
                          int32_t scale = 0) {
  JPEGErrorMessage("");
  DCTClearFailure();
  Decoded d;
  int16_t info[3] = {widthHint, 0, -1};  // width, height, colour code
  const JPEGDecodeOptions options{scale, nullptr, nullptr};
  Stm* s = scale != 0 ? JPEGDOpenWithOptions(below, &options, &info[0], &info[1], &info[2])
                      : Entry<BNOpenJPEGDecodeProc>(kBNOpenJPEGDecode)(below, info);
  d.width = info[0], d.height = info[1];
  if (s != nullptr) {
    d.opened = true;
    if (threads != 0) FUZZ_CHECK(JPEGSetCodingThreads(s, threads) == threads);
    d.lineBytes = JPEGDLineBytes(s);
    d.colors = JPEGDColors(s);
    const int64_t rows = static_cast<uint16_t>(d.height);
    d.ended = ReadLines(s, rows, d.lineBytes, maxSamples, keep ? &d.lines : nullptr) == rows && JPEGDFinishImage(s);
    d.failed = JPEGDFilterFailed(s);
    Entry<BNCloseProc>(kBNCloseJPEGDecode)(s);
  }
  d.message = JPEGLastErrorMessage();
  return d;
}

inline Decoded DecodeBytes(const std::vector<uint8_t>& j, uint16_t bufSize, uint8_t pattern, int16_t widthHint,
                           int64_t maxSamples, int threads = 0, int32_t scale = 0) {
  MemorySource src;
  InitSource(&src, j.data(), j.size(), bufSize, pattern);
  return DecodeFrom(&src.stm, widthHint, maxSamples, threads, true, scale);
}

// Forces the first frame header (when the segments before it lead there) to
// SOF2 when its frame is small: a progressive image is decoded whole before
// its first line, so the frame size sets the time of one run. False: skip.
inline bool ForceProgressive(std::vector<uint8_t>* jpeg, int64_t maxSamples) {
  const std::vector<uint8_t>& j = *jpeg;
  size_t p = 0;
  for (;;) {
    while (p < j.size() && j[p] != 0xFF) p++;  // junk before a marker is skipped
    while (p < j.size() && j[p] == 0xFF) p++;  // fill bytes
    if (p + 2 >= j.size() || j[p] == 0xDA || j[p] == 0xD9) return false;
    if (j[p] >= 0xC0 && j[p] <= 0xC2) break;
    const size_t length = j[p] == 0xD8 ? 0 : (size_t{j[p + 1]} << 8) | j[p + 2];
    if (j[p] != 0xD8 && length < 2) return false;
    p += 1 + length;
  }
  if (p + 9 <= j.size()) {  // after the code: length (2), precision, rows (2), columns (2), components
    const int64_t rows = (j[p + 4] << 8) | j[p + 5], columns = (j[p + 6] << 8) | j[p + 7];
    if ((columns + 32) * (rows + 32) * std::min(4, int{j[p + 8]}) > maxSamples) return false;  // 32: largest MCU
  }
  (*jpeg)[p] = 0xC2;
  return true;
}

// The decode filter with 2, 3, 5 or 8 workers (the mode byte's low two bits)
// against the caller's thread alone. Input: the piece pattern, the mode
// byte; with its bit 2 set four more bytes insert a run of one value (a
// 16-bit position, a length in 512-byte units, the value), so that runs of
// garbage span the workers' 32 KB windows; then the JPEG bytes.
inline int ParallelDecode(const uint8_t* data, size_t size) {
  static const int kThreads[] = {2, 3, 5, 8};
  if (size < 2 || size > 64 * 1024) return 0;
  Params in(data, size);
  const uint8_t pattern = in.Byte(), mode = in.Byte();
  size_t at = 0, runBytes = 0;
  uint8_t value = 0;
  if (mode & 4) {
    at = in.U16();
    runBytes = (size_t{in.Byte()} + 1) * 512;
    value = in.Byte();
  }
  std::vector<uint8_t> jpeg = in.Bytes();
  jpeg.insert(jpeg.begin() + static_cast<long>(at % (jpeg.size() + 1)), runBytes, value);
  FUZZ_CHECK(DecodeBytes(jpeg, 4096, pattern, 0, 2 << 20).Key() ==
             DecodeBytes(jpeg, 4096, pattern, 0, 2 << 20, kThreads[mode & 3]).Key());
  return 0;
}

// The first byte picks the path, the second cuts the pieces:
//   0: the decode filter in pieces against whole buffers;
//   1: the same, the first frame header forced progressive;
//   2: the decode filter over the ASCII85 decode filter (JPEG bytes wrapped
//      here, with white space: the same as read directly; or text as it stands);
//   3: the rest is ParallelDecode's input.
//   4 to 7: the opt-in paths (Features), the second byte their choices.
inline void Features(uint8_t path, uint8_t choices, const std::vector<uint8_t>& jpeg);
inline int Decode(const uint8_t* data, size_t size) {
  if (size < 2 || size > 64 * 1024) return 0;
  if (data[0] % 8 == 3) return ParallelDecode(data + 1, size - 1);
  const uint8_t path = data[0] % 8, pattern = data[1];
  std::vector<uint8_t> jpeg(data + 2, data + size);
  if (path >= 4) return Features(path, pattern, jpeg), 0;
  const int16_t hint = static_cast<int16_t>(pattern & 0x40 ? 100 : 0);
  if (path == 2) {
    std::vector<uint8_t> text = jpeg;
    if (!(pattern & 1)) {
      const std::vector<uint8_t> plain = A85Text(jpeg.data(), jpeg.size());
      text.clear();
      for (size_t i = 0; i < plain.size(); i++) {  // never inside the closing "~>"
        text.push_back(plain[i]);
        if (i + 2 < plain.size() && i % (1 + pattern % 29) == 0) text.push_back("\n\r \t\b"[(i + pattern) % 5]);
      }
    }
    MemorySource src;
    InitSource(&src, text.data(), text.size(), 512, pattern | 3);
    Stm* a85 = A85DOpen(&src.stm, nullptr);
    const Decoded wrapped = DecodeFrom(a85, hint, 1 << 22);
    A85DClose(a85);
    if (!(pattern & 1)) FUZZ_CHECK(wrapped.Key() == DecodeBytes(jpeg, 32767, 0, hint, 1 << 22).Key());
    return 0;
  }
  const int64_t maxSamples = path == 1 ? 1 << 20 : 4 << 20;
  if (path == 1 && !ForceProgressive(&jpeg, maxSamples)) return 0;
  FUZZ_CHECK(DecodeBytes(jpeg, 4096, pattern, hint, maxSamples).Key() ==
             DecodeBytes(jpeg, 32767, 0, hint, maxSamples).Key());
  return 0;
}

// ---- encode ---------------------------------------------------------------------

constexpr int64_t kMaxEncodeSamples = 1 << 14;  // bytes written per run at most

struct EncodeSettings {
  JPEGEncodeParams params{};
  std::vector<uint8_t> markers;  // marker data handed to the filter
  bool rawMarkers = false;       // markers are arbitrary bytes, not well-formed segments
  bool ascii85 = false, twice = false, earlyClose = false, extraBytes = false;
  bool withOptions = false, oneCall = false;  // open with `options`; also code through JPEGMemEncode
  JPEGEncodeOptions options{};
  uint16_t sinkPiece = 512;
  size_t sinkFailAfter = kNeverFails;
  uint32_t stopFraction = 0;  // where an early close happens, in 1/65536 of the image
  uint32_t pieceSeed = 0;
  std::vector<uint8_t> samples;  // cycled over the image
};

inline int32_t EncodeSize(Params& in) {
  static const int32_t kOdd[] = {0, -1, -8, 7, 8, 9, 8191, 8192, 10923, 16384, 32767, 32768, 65535, 65536,
                                 1 << 24, INT32_MAX, INT32_MIN};
  const uint16_t v = in.U16();
  return v & 0x8000 ? kOdd[v % std::size(kOdd)] : 1 + v % 300;
}

inline double QFactor(Params& in) {
  static const double kOdd[] = {-3.0, -0.0, 0.15, 1.01, 1.0100001, 1.31, 1.3100001, 32767.99, 32768.0, 65536.0,
                                1e6, 1e300, 5e-324, HUGE_VAL, -HUGE_VAL, std::numeric_limits<double>::quiet_NaN()};
  const uint8_t q = in.Byte();
  return q < 200 ? q / 64.0 : kOdd[q % std::size(kOdd)];  // 0 .. 3.1, or an odd one
}

// Well-formed user segments (FF, APPn or COM, length, payload) or raw bytes.
inline std::vector<uint8_t> Markers(Params& in, bool raw) {
  static const uint8_t kUserMarkers[4] = {0xE1, 0xE2, 0xED, 0xFE};
  const uint8_t head = in.Byte();
  if (raw) return in.Bytes(head % 64);
  std::vector<uint8_t> out;
  for (int k = 0; k < head % 4; k++) {
    const uint8_t marker = kUserMarkers[in.Byte() % 4];
    const std::vector<uint8_t> payload = in.Bytes(in.Byte() % 48);
    const size_t length = payload.size() + 2;
    out.insert(out.end(), {0xFF, marker, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length & 0xFF)});
    out.insert(out.end(), payload.begin(), payload.end());
  }
  return out;
}

inline EncodeSettings ReadEncodeSettings(Params& in) {
  static const uint16_t kSinkPieces[4] = {1, 7, 512, 8192};
  EncodeSettings s;
  const uint8_t a = in.Byte(), b = in.Byte();
  if (b & 0x40) {  // sampling 0..3 each way (3 is refused), built tables, progressive
    const uint8_t o = in.Byte();
    s.withOptions = true;
    s.oneCall = (o >> 6) & 1;
    s.options = {uint8_t(o & 3), uint8_t(o >> 2 & 3), uint8_t(o >> 4 & 1), uint8_t(o >> 5 & 1)};
  }
  JPEGEncodeParams& p = s.params;
  p.Colors = static_cast<int16_t>(1 + (a & 3));
  p.subsample = (a >> 2) & 1;
  p.blend = (a >> 3) & 1;
  s.ascii85 = (a >> 6) & 1;
  s.twice = (a >> 7) & 1;
  s.rawMarkers = b & 1;
  s.sinkPiece = kSinkPieces[(b >> 1) & 3];
  s.earlyClose = (b >> 4) & 1;
  s.extraBytes = (b >> 5) & 1;
  p.markerMode = static_cast<int16_t>(((a >> 4) & 3) < 3 ? (a >> 4) & 3 : in.U16());
  p.Columns = EncodeSize(in);
  p.Rows = EncodeSize(in);
  // Ordinary sizes are cut down to a small image; odd ones are kept as they are.
  if (p.Columns > 0 && p.Columns <= 300 && p.Rows > 0 && p.Rows <= 300)
    p.Rows = std::max<int32_t>(1, std::min<int64_t>(p.Rows, kMaxEncodeSamples / (p.Columns * p.Colors)));
  p.QFactor = QFactor(in);
  p.densityUnits = in.U16();
  p.xDensity = in.U16();
  p.yDensity = in.U16();
  s.markers = Markers(in, s.rawMarkers);
  if ((b >> 3) & 1) s.sinkFailAfter = 1 + in.U16() % 4096;
  s.stopFraction = in.U16();
  s.pieceSeed = in.U32();
  s.samples = in.Bytes();
  if (s.samples.empty()) s.samples.push_back(0x80);
  return s;
}

struct EncodeRun {
  bool opened = false, sinkFailed = false;
  bool exact = false;   // exactly the image's bytes went in
  bool failed = false;  // a failure was reported, while writing or at the close
  std::vector<uint8_t> out;
};

// Writes the raster in pieces of varying length: whole lines, lines a little
// short or long, single bytes, runs; answers the bytes taken.
inline uint64_t WriteRaster(Stm* s, const EncodeSettings& st, uint64_t line, uint64_t goal) {
  const std::vector<uint8_t>& v = st.samples;
  Lcg lcg{st.pieceSeed};
  std::vector<uint8_t> piece;
  uint64_t written = 0, taken = 0;
  while (written < goal) {
    const uint32_t r = lcg.Next();
    uint64_t n = r % 4 == 0 ? line : r % 4 == 1 ? line + (r >> 4) % 5 - 2 : r % 4 == 2 ? 1 : 1 + (r >> 4) % (2 * line + 1);
    if (n == 0 || n > goal - written) n = goal - written;
    if (r % 4 == 2) {
      taken += os_fputc(v[written % v.size()], s) >= 0 ? 1 : 0;
    } else {
      piece.resize(n);
      for (uint64_t i = 0; i < n; i++) piece[i] = v[(written + i) % v.size()];
      taken += StmFWrite(piece.data(), 1, static_cast<uint32_t>(n), s);
    }
    written += n;
  }
  return taken;
}

inline EncodeRun EncodeOnce(const EncodeSettings& st) {
  EncodeRun run;
  MemorySink sink;
  InitSink(&sink, st.sinkPiece, st.sinkFailAfter);
  Stm* a85 = st.ascii85 ? Entry<BNOpenProc>(kBNOpenAscii85Encode)(&sink.stm, nullptr) : nullptr;
  JPEGEncodeParams params = st.params;
  uint8_t* markerBytes = const_cast<uint8_t*>(st.markers.data());
  params.markerData = st.markers.empty() ? nullptr : &markerBytes;
  params.markerDataLength = static_cast<int32_t>(st.markers.size());
  gJPEGError = 0;
  Stm* s = st.withOptions ? JPEGOpenWithOptions(a85 ? a85 : &sink.stm, &params, &st.options)
                           : Entry<BNOpenJPEGEncodeProc>(kBNOpenJPEGEncode)(a85 ? a85 : &sink.stm, &params);
  run.opened = s != nullptr;
  if (!run.opened) FUZZ_CHECK(gJPEGError != 0);  // a refusal always says why
  if (run.opened) {
    FUZZ_CHECK(!(params.QFactor < 0.0));  // negative factors are stored back as 0
    const uint64_t line = static_cast<uint64_t>(params.Columns) * static_cast<uint64_t>(params.Colors);
    const uint64_t total = line * static_cast<uint64_t>(params.Rows);
    uint64_t goal = st.earlyClose ? total * st.stopFraction / 65536 : st.extraBytes ? total + 1 + st.stopFraction % 16 : total;
    goal = std::min<uint64_t>(goal, kMaxEncodeSamples);  // odd sizes: never all of it
    const uint64_t taken = WriteRaster(s, st, line, goal);
    run.exact = goal == total;
    run.sinkFailed = sink.stm.error != 0;
    // Bytes past the image are refused; those before it are taken.
    if (!run.sinkFailed && !s->error) FUZZ_CHECK(taken == std::min(goal, total));
    // A failure while writing sets the stream's error flag (and the close
    // then stays silent); a failure at the close sets gJPEGError.
    const bool failedWhileWriting = s->error != 0;
    gJPEGError = 0;
    Entry<BNCloseProc>(kBNCloseJPEGEncode)(s);
    run.failed = failedWhileWriting || gJPEGError != 0;
  }
  if (a85 != nullptr) Entry<BNCloseIntProc>(kBNCloseAscii85Encode)(a85);
  DrainSink(&sink);
  run.sinkFailed = run.sinkFailed || sink.stm.error != 0;
  run.out = sink.out;
  Touch(run.out.data(), run.out.size());
  return run;
}

// What a finished run wrote decodes (through ASCII85 when wrapped) to the
// image's size and every line.
inline Decoded CheckDecodes(const EncodeSettings& st, const EncodeRun& run) {
  const JPEGEncodeParams& p = st.params;
  MemorySource src;
  InitSource(&src, run.out.data(), run.out.size(), 4096);
  Stm* a85 = st.ascii85 ? Entry<BNOpenProc>(kBNOpenAscii85Decode)(&src.stm, nullptr) : nullptr;
  const Decoded d = DecodeFrom(a85 ? a85 : &src.stm, 0, INT64_MAX);
  if (a85 != nullptr) Entry<BNCloseProc>(kBNCloseAscii85Decode)(a85);
  FUZZ_CHECK(d.opened && d.ended && d.lineBytes == p.Columns * p.Colors);
  FUZZ_CHECK(static_cast<uint16_t>(d.width) == p.Columns && static_cast<uint16_t>(d.height) == p.Rows);
  return d;
}

// The opt-in choices: sampling beyond 2 is refused; built tables and
// progressive scans decode to the lines of the plain coding (when it codes);
// JPEGMemEncode of the same raster into 64 KB writes the filter's bytes
// when its records say the same (no blend nor subsample, a density given).
inline void CheckOptions(const EncodeSettings& st, const EncodeRun& run, const Decoded* lines) {
  const JPEGEncodeParams& p = st.params;
  FUZZ_CHECK(!run.opened || (st.options.lumaH < 3 && st.options.lumaV < 3));
  EncodeSettings plain = st;
  plain.options.optimize = plain.options.progressive = 0;
  if (lines && (st.options.optimize || st.options.progressive)) {
    const EncodeRun other = EncodeOnce(plain);
    if (!other.failed && !other.sinkFailed) FUZZ_CHECK(CheckDecodes(plain, other).lines == lines->lines);
  }
  if (!st.oneCall || p.Columns <= 0 || p.Columns > 300 || p.Rows <= 0 || p.Rows > 300) return;
  std::vector<uint8_t> raster(size_t(p.Columns) * p.Rows * p.Colors), out(64 * 1024);
  for (size_t i = 0; i < raster.size(); i++) raster[i] = st.samples[i % st.samples.size()];
  JPEGMemEncodeOptions o{};
  std::tie(o.qFactor, o.lumaH, o.lumaV, o.optimize, o.progressive) = std::tie(p.QFactor, st.options.lumaH,
      st.options.lumaV, st.options.optimize, st.options.progressive);
  std::tie(o.markerMode, o.densityUnits, o.xDensity, o.yDensity) = std::tie(p.markerMode, p.densityUnits, p.xDensity, p.yDensity);
  std::tie(o.segments, o.segmentBytes) = std::make_tuple(st.markers.data(), st.markers.size());
  size_t n = 0;
  JPEGMemResult r{};
  const int32_t status = JPEGMemEncode(raster.data(), p.Columns, p.Rows, p.Colors, 0, &o, out.data(), out.size(), &n, &r);
  FUZZ_CHECK(status == r.status && (status == JPEG_MEM_OK || status == JPEG_MEM_TOO_SMALL || n == 0));
  const bool same = p.QFactor > 0 && !p.subsample && !p.blend && (p.xDensity || p.yDensity) && !st.rawMarkers && !st.ascii85;
  if (same && lines && status == JPEG_MEM_OK) FUZZ_CHECK(std::vector<uint8_t>(out.data(), out.data() + n) == run.out);
}

inline int Encode(const uint8_t* data, size_t size) {
  if (size > 16 * 1024) return 0;
  Params in(data, size);
  const EncodeSettings st = ReadEncodeSettings(in);
  const EncodeRun run = EncodeOnce(st);
  // Exactly the image's bytes code silently; fewer (a close anywhere before
  // the last byte) or more (bytes past the image) are failures the caller sees.
  if (run.opened && !run.sinkFailed) FUZZ_CHECK(run.exact || run.failed);
  if (run.opened && !run.sinkFailed && run.exact && !st.rawMarkers) {
    FUZZ_CHECK(!run.failed);
    const Decoded d = CheckDecodes(st, run);
    if (st.withOptions) CheckOptions(st, run, &d);
  } else if (st.withOptions) {
    CheckOptions(st, run, nullptr);
  }
  if (st.twice) {  // the same input writes the same bytes and reports the same
    const EncodeRun again = EncodeOnce(st);
    FUZZ_CHECK(again.opened == run.opened && again.failed == run.failed && again.out == run.out);
  }
  return 0;
}

// ---- ASCII85 --------------------------------------------------------------------

// The text decoded from pieces cut as `pattern` says; every fill ends in 0xFF.
inline std::pair<std::vector<uint8_t>, bool> A85Decode(const uint8_t* text, size_t size, uint8_t pattern) {
  MemorySource src;
  InitSource(&src, text, size, 1024, pattern);
  Stm* s = A85DOpen(&src.stm, nullptr);
  FUZZ_CHECK(s != nullptr);
  std::vector<uint8_t> bytes;
  for (int16_t c; (c = s->filBuf(s)) >= 0; s->count = 0) {
    FUZZ_CHECK(s->ptr[s->count] == 0xFF);
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.insert(bytes.end(), s->ptr, s->ptr + s->count);
  }
  FUZZ_CHECK(s->base[0] == 0xFF && s->eof && s->filBuf(s) == -1);
  const bool error = s->error != 0;
  A85DClose(s);
  return {bytes, error};
}

// Bytes and end state do not depend on where the source's buffers end; the
// bytes encode and decode back unchanged.
inline int A85(const uint8_t* data, size_t size) {
  if (size < 1 || size > 1 << 16) return 0;
  const auto pieces = A85Decode(data + 1, size - 1, data[0]), whole = A85Decode(data + 1, size - 1, 0);
  FUZZ_CHECK(pieces == whole);
  const std::vector<uint8_t> text = A85Text(whole.first.data(), whole.first.size(), 61);
  FUZZ_CHECK(A85Decode(text.data(), text.size(), data[0]) == std::make_pair(whole.first, false));
  return 0;
}

// ---- host streams ---------------------------------------------------------------

// The thumbnail interface reads the bytes in place: it accepts what the
// filter accepts (it may turn away two components and lines longer than its
// 16-bit count holds), reports the same size
// and hands out the same samples in batches, one batch past the end, to a
// caller's line that is exact or short (no byte written past it).
inline void Thumbnail(const uint8_t options, const uint8_t* jpeg, size_t length, int scale = 0) {
  constexpr int64_t kMaxSamples = 1 << 21;
  const Decoded direct = DecodeBytes(std::vector<uint8_t>(jpeg, jpeg + length), 32767, 0, 0, kMaxSamples, 0, scale);
  short width = 0, height = 0, colors = 0;
  const char* text = reinterpret_cast<const char*>(jpeg);
  JPEGThumbHandle handle = scale ? StartJPEGDecompressScaled(text, static_cast<long>(length), scale, &width, &height, &colors)
                                 : StartJPEGDecompress(text, static_cast<long>(length), &width, &height, &colors);
  FUZZ_CHECK(handle != nullptr ? direct.opened : !direct.opened || direct.colors == 2 || direct.lineBytes > 32767);
  if (handle == nullptr) return;
  const int32_t exact = static_cast<uint16_t>(width) * colors;
  FUZZ_CHECK(width == direct.width && height == direct.height && exact == direct.lineBytes);
  const int32_t lineBytes = options & 0x80 ? std::max(0, exact - 1 - (options >> 4 & 7)) : exact;
  const short batch = static_cast<short>(1 + ((options >> 1) & 3));
  const int64_t rows = AffordableRows(static_cast<uint16_t>(height), exact, kMaxSamples);
  std::vector<uint8_t> buffer(static_cast<size_t>(batch) * lineBytes + 1);
  for (int64_t y = 0; y < rows + batch; y += batch) {
    GetJPEGData(handle, reinterpret_cast<char*>(buffer.data()), batch, static_cast<short>(lineBytes));
    for (size_t i = 0, row = static_cast<size_t>(y); i < size_t(batch) && row + i < direct.lines.size(); i++)
      FUZZ_CHECK(!std::memcmp(&buffer[i * lineBytes], direct.lines[row + i].data(), lineBytes));
  }
  CloseJPEG(handle);
}

// What one read through the read stream showed.
struct StreamRead {
  bool started = false;
  JPEGReadInfo info{};
  int32_t resolution = 0;
  std::vector<uint8_t> resources, lines;
  auto Key() const { return std::tie(started, info.width, info.height, info.colors, info.colorCode, resolution, resources, lines); }
};

// Failures come out as HostFailure and nothing else; afterwards no stream
// stays registered for the decoder's application segments.
inline StreamRead ReadStream(TStream* source, unsigned char ascii85) {
  StreamRead out;
  TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(source);
  out.started = Succeeds([&] { stream->StartJPEG(&out.info, ascii85); });
  if (out.started) {
    FUZZ_CHECK(out.info.colors >= 1 && out.info.colors <= 4);
    FUZZ_CHECK(stream->fLineBytes == out.info.colors * static_cast<uint16_t>(out.info.width));
    out.resolution = stream->fResolution;
    const LargeHandle h = stream->fResources;
    FUZZ_CHECK(GetHandleSize(h) >= 0);
    if (h != nullptr) out.resources.assign(*h, *h + GetHandleSize(h));
    const int64_t lineBytes = stream->fLineBytes;
    std::vector<uint8_t> line(static_cast<size_t>(lineBytes) + 1);
    for (int64_t y = 0; y < static_cast<uint16_t>(out.info.height) && (y + 1) * lineBytes <= 1 << 21; y++) {
      if (!Succeeds([&] { stream->GetJPEGRaster(reinterpret_cast<char*>(line.data())); })) break;
      out.lines.insert(out.lines.end(), line.begin(), line.end() - 1);
    }
  }
  Succeeds([&] { stream->StopJPEG(); });
  FUZZ_CHECK(gJPEGReadStream == nullptr);
  stream->Free();
  FUZZ_CHECK(gJPEGReadStream == nullptr);
  return out;
}

// The options' low two bits: plain; plain and again wrapped as ASCII85
// (both reads the same); ASCII85 text as it stands; plain over a host
// stream failing on one transfer (which one, with what code, the rest say).
inline void ReadStreamPaths(uint8_t options, const uint8_t* data, size_t size) {
  static const int16_t kCodes[4] = {kHostIOError, kHostDiskFull, kHostNoMemory, kHostEndOfFile};
  const std::vector<uint8_t> rest(data, data + size);
  const int mode = options & 3;
  FailingStream source(rest, mode == 3 ? 1 + ((options >> 2) & 15) : 0, kCodes[options >> 6]);
  const StreamRead plain = ReadStream(&source, mode == 2);
  if (mode != 1) return;
  TMemoryStream text(A85Text(rest.data(), rest.size()));
  FUZZ_CHECK(plain.Key() == ReadStream(&text, 1).Key());
}

// The write stream with any options, stopped after any number of lines: no
// crash, no leak. A whole image of sound options reads back through the read
// stream with its size, colours and every line, or coding failed on its own
// (the coarse qualities' reduced tables lack the codes of large coefficients).
inline void WriteStreamPath(const uint8_t* data, size_t size) {
  static const int16_t kOddSizes[] = {0, -1, 7, 8, 9, 16, 17, 8192, 10923, 16384, 32767, -32768};
  static const int32_t kMarkerModes[] = {0, 1, 2, 3, -1, 0x10001, 0x20000};
  Params in(data, size);
  const auto side = [&] {
    const uint8_t v = in.Byte();
    return v & 0x80 ? kOddSizes[v % std::size(kOddSizes)] : static_cast<int16_t>(1 + v);
  };
  const uint8_t a = in.Byte(), b = in.Byte();
  JPEGWriteOptions o{};
  o.quality = (a & 7) == 7 ? (a >> 3) % 3 * 9 - 1 : a & 7;  // 0..6, sometimes -1, 8 or 17
  o.colors = static_cast<int16_t>(std::max(0, (b & 7) - 1));
  o.markerMode = kMarkerModes[(b >> 3) % std::size(kMarkerModes)];
  o.width = side();
  o.height = side();
  o.xResolution = o.yResolution = static_cast<int16_t>(in.U16());
  const uint32_t seed = in.U32();
  std::vector<uint8_t> samples = in.Bytes();
  samples.push_back(0x40);
  const int64_t lineBytes = int64_t{static_cast<uint16_t>(o.width)} * o.colors;
  const bool earlyStop = (a >> 4) & 1, small = lineBytes * o.height <= 1 << 15;
  TMemoryStream target(std::vector<uint8_t>{});
  TJPEGWriteStream* stream = MakeJPEGWriteFolioprintStream(&target);
  bool written = Succeeds([&] { stream->StartJPEG(o, (a >> 3) & 1); });
  const int64_t rows = !written ? 0 : earlyStop ? seed % (o.height + 1) : o.height;
  std::vector<uint8_t> line(static_cast<size_t>(lineBytes) + 1);
  for (int64_t y = 0, passed = 0; y < rows && written && passed <= 1 << 15; y++, passed += lineBytes) {
    for (int64_t i = 0; i < lineBytes; i++) line[i] = samples[(passed + i) % samples.size()];
    written = Succeeds([&] { stream->PutJPEGRaster(reinterpret_cast<char*>(line.data()), lineBytes); });
  }
  written = Succeeds([&] { stream->StopJPEG(); }) && written;
  stream->Free();
  const bool sound = o.quality >= 0 && o.quality <= 6 && o.colors >= 1 && o.colors <= 4 && o.width != 0;
  if (!sound || o.height <= 0 || !small || earlyStop) return;
  if (!written) {
    FUZZ_CHECK(std::string(JPEGLastErrorMessage()) == "Event with no Huffcode in the spec");
    return;
  }
  TMemoryStream source(target.Contents());
  const StreamRead back = ReadStream(&source, (a >> 3) & 1);
  if (!back.started && o.colors == 2) return;  // a reader may turn away two-component images
  FUZZ_CHECK(back.started && back.info.width == o.width && back.info.height == o.height);
  FUZZ_CHECK(back.info.colors == o.colors && back.lines.size() == size_t(lineBytes * o.height));
}

inline int Host(const uint8_t* data, size_t size) {
  if (size < 2 || size > 64 * 1024) return 0;
  switch (data[0] % 3) {
    case 0: Thumbnail(data[1], data + 2, size - 2); break;
    case 1: ReadStreamPaths(data[1], data + 2, size - 2); break;
    default: if (size <= 16 * 1024) WriteStreamPath(data + 1, size - 1);
  }
  return 0;
}

// ---- opt-in decode paths ---------------------------------------------------------

// Scaled by 1, 2, 4 or 8 (the choices' low bits): in pieces (with two
// workers when bit 2 is set) against whole buffers, and through the
// thumbnail interface; a denominator of 3 is refused.
inline void Scaled(uint8_t choices, const std::vector<uint8_t>& j) {
  const int scale = 1 << (choices & 3);
  FUZZ_CHECK(DecodeBytes(j, 32767, 0, 0, 1 << 22, 0, scale).Key() ==
             DecodeBytes(j, 4096, choices, 0, 1 << 22, choices & 4 ? 2 : 0, scale).Key());
  Thumbnail(choices, j.data(), j.size(), scale);
  FUZZ_CHECK(!DecodeBytes(j, 512, 0, 0, 1, 0, 3).opened);
}

// The one-call API: the header walk lists segments where they stand; an
// image that decodes (any scale and threads) fills a 256-byte buffer with
// the same bytes when it fits, and finds it too small when not.
inline void OneCall(uint8_t choices, const std::vector<uint8_t>& j) {
  JPEGMemHeader h{};
  JPEGMemSegment seg[8]{};
  JPEGMemResult r{};
  FUZZ_CHECK(JPEGMemReadHeader(j.data(), j.size(), &h, seg, 8, &r) == r.status);
  for (const JPEGMemSegment& g : seg)
    if (&g - seg < int64_t{h.segmentCount})
      FUZZ_CHECK(g.offset + 2 + g.length <= j.size() && j[g.offset] == 0xFF && j[g.offset + 1] == g.marker);
  const JPEGMemDecodeOptions o{1 << (choices & 3), choices >> 2 & 3}, one{o.scaleDenominator, 0};
  uint8_t small[256];
  JPEGMemImage fixed{}, image{};
  const int32_t status = JPEGMemDecode(j.data(), j.size(), &one, small, 0, sizeof small, &fixed, &r);
  uint8_t* pixels = nullptr;
  if (int64_t{h.width} * h.height * h.components > 1 << 20 ||
      JPEGMemDecodeAlloc(j.data(), j.size(), &o, &pixels, &image, &r) != JPEG_MEM_OK) return;
  const size_t n = size_t(image.width) * image.height * image.components;
  Touch(pixels, n);
  FUZZ_CHECK(n > sizeof small ? status == JPEG_MEM_TOO_SMALL : status == JPEG_MEM_OK && !std::memcmp(small, pixels, n));
  JPEGMemFree(pixels);
}

// Re-coding, sequential or progressive: what it writes decodes to the input's lines.
inline void Recode(uint8_t choices, const std::vector<uint8_t>& j) {
  JPEGMemHeader h{};
  if (JPEGMemReadHeader(j.data(), j.size(), &h, nullptr, 0, nullptr) != JPEG_MEM_OK || h.height == 0 ||
      int64_t{h.width} * h.height * h.components > 1 << 20) return;
  MemorySink sink;
  InitSink(&sink, 512);
  const JPEGTranscodeOptions o{uint8_t(choices & 1)};
  if (JPEGOptimizeCoding(j.data(), j.size(), &sink.stm, &o) != 0) return;
  DrainSink(&sink);
  const Decoded out = DecodeBytes(sink.out, 4096, choices, 0, INT64_MAX);
  FUZZ_CHECK(out.ended && !out.failed && out.lines == DecodeBytes(j, 32767, 0, 0, INT64_MAX).lines);
}

inline void Features(uint8_t path, uint8_t choices, const std::vector<uint8_t>& jpeg) {
  if (path == 5) return OneCall(choices, jpeg);
  if (path == 6) return Recode(choices, jpeg);
  Scaled(choices, jpeg);
}

}  // namespace fuzz

#endif
