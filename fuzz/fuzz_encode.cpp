// fuzz_encode.cpp - libFuzzer target for the JPEG encode filter, opened and
// closed through the exported filter table, optionally over the ASCII85
// encode filter.
//
// Input: the parameters first (see ReadSettings: colours, sampling, blend,
// marker mode, width and height, QFactor including odd and huge values,
// JFIF densities, marker segments, the target's buffer size and whether it
// fails, early close, extra bytes, a second run), then sample values that
// are cycled over the image. The raster goes in as pieces of varying
// length: whole lines, lines a little short or long, single bytes, runs.
// Each run stays small: ordinary sizes are capped at kMaxSamples and odd
// sizes are never written past it.
//
// Checks: a refused open reports a message; bytes past the image are
// refused and fail the write; a close before the last byte reports a
// failure; exactly the image's bytes code without failure and decode
// (through the ASCII85 decode filter when wrapped) to the declared size with
// every line; a second run with the same
// input writes the same bytes and reports the same.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <vector>

#include "bn_streams.h"
#include "fuzz_support.h"
#include "decode/jpeg_filter_query.h"

namespace {

constexpr size_t kMaxInput = 16 * 1024;
constexpr int64_t kMaxSamples = 1 << 14;  // bytes written per run at most
constexpr int32_t kOddSizes[] = {0,     -1,    -8,        7,         8,     9,
                                 8191,  8192,  10923,     16384,     32767, 32768,
                                 65535, 65536, 1 << 24,   INT32_MAX, INT32_MIN};
constexpr double kOddQFactors[] = {-3.0,   -0.0,    0.15,    1.01,    1.0100001, 1.31, 1.3100001,
                                   32767.99, 32768.0, 65536.0, 1e6,   1e300,     5e-324,
                                   std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(),
                                   std::numeric_limits<double>::quiet_NaN()};
constexpr uint16_t kSinkPieces[4] = {1, 7, 512, 8192};
constexpr uint8_t kUserMarkers[4] = {0xE1, 0xE2, 0xED, 0xFE};  // APP1, APP2, APP13, COM

struct Settings {
  JPEGEncodeParams params{};
  std::vector<uint8_t> markers;  // marker data handed to the filter
  bool rawMarkers = false;       // markers are arbitrary bytes, not well-formed segments
  bool ascii85 = false, twice = false, earlyClose = false, extraBytes = false;
  uint16_t sinkPiece = 512;
  size_t sinkFailAfter = 0;  // 0: the target never fails
  uint32_t stopFraction = 0; // where an early close happens, in 1/65536 of the image
  uint32_t pieceSeed = 0;
  std::vector<uint8_t> samples;  // cycled over the image
};

int32_t Size(fuzz::Params& in) {
  const uint16_t v = in.U16();
  if (v & 0x8000) return kOddSizes[v % std::size(kOddSizes)];
  return 1 + v % 300;
}

double QFactor(fuzz::Params& in) {
  const uint8_t q = in.Byte();
  if (q < 200) return q / 64.0;  // 0 .. 3.1
  if (q == 255) {
    const uint64_t bits = static_cast<uint64_t>(in.U32()) << 32 | in.U32();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  return kOddQFactors[q % std::size(kOddQFactors)];
}

// Well-formed user segments (FF, marker, length, payload) or raw bytes.
std::vector<uint8_t> Markers(fuzz::Params& in, bool raw) {
  const uint8_t head = in.Byte();
  if (raw) return in.Bytes(head % 64);
  std::vector<uint8_t> out;
  for (int k = 0; k < head % 4; k++) {
    const uint8_t marker = kUserMarkers[in.Byte() % 4];
    const std::vector<uint8_t> payload = in.Bytes(in.Byte() % 48);
    const size_t length = payload.size() + 2;
    out.insert(out.end(), {0xFF, marker, static_cast<uint8_t>(length >> 8),
                           static_cast<uint8_t>(length & 0xFF)});
    out.insert(out.end(), payload.begin(), payload.end());
  }
  return out;
}

Settings ReadSettings(fuzz::Params& in) {
  Settings s;
  const uint8_t a = in.Byte(), b = in.Byte();
  JPEGEncodeParams& p = s.params;
  p.Colors = static_cast<int16_t>(1 + (a & 3));
  p.subsample = (a >> 2) & 1;
  p.blend = (a >> 3) & 1;
  const int modeChoice = (a >> 4) & 3;
  s.ascii85 = (a >> 6) & 1;
  s.twice = (a >> 7) & 1;
  s.rawMarkers = b & 1;
  s.sinkPiece = kSinkPieces[(b >> 1) & 3];
  s.earlyClose = (b >> 4) & 1;
  s.extraBytes = (b >> 5) & 1;
  p.markerMode = static_cast<int16_t>(modeChoice < 3 ? modeChoice : in.U16());
  p.Columns = Size(in);
  p.Rows = Size(in);
  // Ordinary sizes are cut down to a small image; odd ones are kept as they are.
  if (p.Columns > 0 && p.Columns <= 300 && p.Rows > 0 && p.Rows <= 300) {
    const int32_t rowsAffordable = static_cast<int32_t>(kMaxSamples / (p.Columns * p.Colors));
    if (p.Rows > rowsAffordable) p.Rows = rowsAffordable > 0 ? rowsAffordable : 1;
  }
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

struct Run {
  bool opened = false, sinkFailed = false;
  bool exact = false;        // exactly the image's bytes went in
  bool failed = false;       // a failure was reported, while writing or at the close
  std::vector<uint8_t> out;  // what reached the target
};

// Writes `count` bytes of the image starting at `offset`; answers the bytes taken.
uint64_t WritePiece(Stm* s, const Settings& st, uint64_t offset, uint64_t count, bool oneByte,
                    std::vector<uint8_t>* scratch) {
  const std::vector<uint8_t>& v = st.samples;
  if (oneByte) return os_fputc(v[offset % v.size()], s) >= 0 ? 1 : 0;
  scratch->resize(count);
  for (uint64_t i = 0; i < count; i++) (*scratch)[i] = v[(offset + i) % v.size()];
  return StmFWrite(scratch->data(), 1, static_cast<uint32_t>(count), s);
}

Run Encode(const Settings& st) {
  Run run;
  fuzz::MemorySink sink;
  fuzz::InitSink(&sink, st.sinkPiece, st.sinkFailAfter);
  Stm* below = &sink.stm;
  Stm* a85 = nullptr;
  if (st.ascii85) {
    a85 = reinterpret_cast<BNOpenProc>(BNStreams[kBNOpenAscii85Encode])(&sink.stm, nullptr);
    FUZZ_CHECK(a85 != nullptr);
    below = a85;
  }
  JPEGEncodeParams params = st.params;
  uint8_t* markerBytes = const_cast<uint8_t*>(st.markers.data());
  params.markerData = st.markers.empty() ? nullptr : &markerBytes;
  params.markerDataLength = static_cast<int32_t>(st.markers.size());
  gJPEGError = 0;
  Stm* s = reinterpret_cast<BNOpenJPEGEncodeProc>(BNStreams[kBNOpenJPEGEncode])(below, &params);
  run.opened = s != nullptr;
  if (!run.opened) {
    FUZZ_CHECK(gJPEGError != 0);  // a refusal always says why
  } else {
    FUZZ_CHECK(!(params.QFactor < 0.0));  // negative factors are stored back as 0
    const uint64_t line = static_cast<uint64_t>(params.Columns) * static_cast<uint64_t>(params.Colors);
    const uint64_t total = line * static_cast<uint64_t>(params.Rows);
    uint64_t goal = total;
    if (st.earlyClose) goal = total * st.stopFraction / 65536;
    if (st.extraBytes && !st.earlyClose) goal = total + 1 + st.stopFraction % 16;
    if (goal > static_cast<uint64_t>(kMaxSamples)) goal = kMaxSamples;  // odd sizes: never all of it
    fuzz::Lcg lcg{st.pieceSeed};
    std::vector<uint8_t> scratch;
    uint64_t written = 0, taken = 0;
    while (written < goal) {
      const uint32_t r = lcg.Next();
      uint64_t n = line;
      switch (r % 4) {
        case 0: break;                                             // a whole line
        case 1: n = line + (r >> 4) % 5 - 2; break;                // a line, a little off
        case 2: n = 1; break;                                      // one byte
        default: n = 1 + (r >> 4) % (2 * line + 1); break;         // a run of any length
      }
      if (n == 0 || n > goal - written) n = goal - written;
      taken += WritePiece(s, st, written, n, r % 4 == 2, &scratch);
      written += n;
    }
    run.exact = written == total;
    run.sinkFailed = sink.stm.error != 0;
    // Bytes past the image are refused; those before it are taken.
    if (!run.sinkFailed && !s->error) FUZZ_CHECK(taken == (written < total ? written : total));
    // A failure while writing sets the stream's error flag (and the close
    // then stays silent); a failure at the close sets gJPEGError.
    const bool failedWhileWriting = s->error != 0;
    gJPEGError = 0;
    reinterpret_cast<BNCloseProc>(BNStreams[kBNCloseJPEGEncode])(s);
    run.failed = failedWhileWriting || gJPEGError != 0;
  }
  if (a85 != nullptr) reinterpret_cast<BNCloseIntProc>(BNStreams[kBNCloseAscii85Encode])(a85);
  fuzz::DrainSink(&sink);
  run.sinkFailed = run.sinkFailed || sink.stm.error != 0;
  run.out = sink.out;
  fuzz::Touch(run.out.data(), run.out.size());
  return run;
}

// Decodes what a finished run wrote and checks the image's size and lines.
void CheckDecodes(const Settings& st, const Run& run) {
  const JPEGEncodeParams& p = st.params;
  fuzz::MemorySource src;
  fuzz::InitSource(&src, run.out.data(), run.out.size(), 4096);
  Stm* below = &src.stm;
  Stm* a85 = nullptr;
  if (st.ascii85) {
    a85 = reinterpret_cast<BNOpenProc>(BNStreams[kBNOpenAscii85Decode])(&src.stm, nullptr);
    FUZZ_CHECK(a85 != nullptr);
    below = a85;
  }
  int16_t info[3] = {0, 0, -1};
  gJPEGError = 0;
  Stm* s = reinterpret_cast<BNOpenJPEGDecodeProc>(BNStreams[kBNOpenJPEGDecode])(below, info);
  FUZZ_CHECK(s != nullptr);
  FUZZ_CHECK(static_cast<uint16_t>(info[0]) == p.Columns && static_cast<uint16_t>(info[1]) == p.Rows);
  FUZZ_CHECK(JPEGDLineBytes(s) == p.Columns * p.Colors);
  FUZZ_CHECK(fuzz::ReadLines(s, p.Rows, p.Columns * p.Colors, INT64_MAX) == p.Rows);
  FUZZ_CHECK(JPEGDFilBuf(s) == -1);
  FUZZ_CHECK(gJPEGError == 0);
  reinterpret_cast<BNCloseProc>(BNStreams[kBNCloseJPEGDecode])(s);
  if (a85 != nullptr) reinterpret_cast<BNCloseProc>(BNStreams[kBNCloseAscii85Decode])(a85);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  fuzz::Params in(data, size);
  const Settings st = ReadSettings(in);
  const Run run = Encode(st);
  if (run.opened && !run.sinkFailed) {
    // Exactly the image's bytes code silently; fewer (a close anywhere
    // before the last byte, inside the last line too) or more (bytes past
    // the image) are failures the caller sees.
    if (!run.exact) FUZZ_CHECK(run.failed);
    if (run.exact && !st.rawMarkers) {
      FUZZ_CHECK(!run.failed);
      CheckDecodes(st, run);
    }
  }
  if (st.twice) {
    const Run again = Encode(st);
    FUZZ_CHECK(again.opened == run.opened && again.failed == run.failed && again.out == run.out);
  }
  return 0;
}
