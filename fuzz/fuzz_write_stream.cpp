// fuzz_write_stream.cpp - libFuzzer target for TJPEGWriteStream: StartJPEG
// with options taken from the input (quality, resolution, size, colours,
// marker mode, ASCII85), resource data of sizes around the 32000-byte
// segment limit, PutJPEGRaster with lines of varying length, an early
// StopJPEG, and a host stream that may fail on one of its writes.
//
// Every failure must come out as HostFailure. When the options are sound,
// every line has its exact length, all lines went in and the host stream
// took every byte, the image must read back through TJPEGReadStream with
// its size, colours, resolution and resource data intact.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <iterator>
#include <vector>

#include "fuzz_support.h"
#include "jpeg_stream.h"

namespace {

constexpr size_t kMaxInput = 16 * 1024;
constexpr int64_t kMaxSamples = 1 << 15;  // bytes passed per run at most
constexpr int16_t kOddSizes[] = {0, -1, 7, 8, 9, 16, 17, 8192, 10923, 16384, 32767, -32768};
constexpr int32_t kResourceSizes[] = {1, 15, 31999, 32000, 32001, 64001};
constexpr int32_t kMarkerModes[] = {0, 1, 2, 3, -1, 0x10001, 0x20000};
constexpr char kNoHuffcode[] = "Event with no Huffcode in the spec";
constexpr int16_t kHostCodes[4] = {kHostIOError, kHostDiskFull, kHostNoMemory, kHostParamError};

struct Settings {
  JPEGWriteOptions options{};
  unsigned char ascii85 = 0;
  bool withResources = false, earlyStop = false;
  bool oddLines = false;  // some lines are not width x colors bytes long
  int failingCall = 0;
  int16_t failCode = 0;
  uint32_t seed = 0;
  std::vector<uint8_t> resources, samples;
};

int16_t Size(fuzz::Params& in) {
  const uint8_t v = in.Byte();
  if (v & 0x80) return kOddSizes[v % std::size(kOddSizes)];
  return static_cast<int16_t>(1 + v);
}

Settings ReadSettings(fuzz::Params& in) {
  Settings s;
  const uint8_t a = in.Byte(), b = in.Byte();
  JPEGWriteOptions& o = s.options;
  o.quality = (a & 7) == 7 ? (a >> 3) % 3 * 9 - 1 : a & 7;  // 0..6, sometimes -1, 8 or 17
  o.colors = static_cast<int16_t>(b & 7) - 1 < 0 ? 0 : static_cast<int16_t>((b & 7) - 1);  // 0..6
  o.markerMode = kMarkerModes[(b >> 3) % std::size(kMarkerModes)];
  s.ascii85 = (a >> 3) & 1;
  s.earlyStop = (a >> 4) & 1;
  s.oddLines = (a >> 5) & 1;
  s.withResources = (a >> 6) & 1;
  const bool hostFails = (a >> 7) & 1;
  o.width = Size(in);
  o.height = Size(in);
  o.xResolution = static_cast<int16_t>(in.U16());
  o.yResolution = static_cast<int16_t>(in.U16());
  if (s.withResources) {
    const uint8_t r = in.Byte();
    const size_t size = r & 0x80 ? kResourceSizes[r % std::size(kResourceSizes)] : r;
    fuzz::Lcg lcg{r * 2654435761u};
    s.resources.resize(size);
    for (auto& v : s.resources) v = static_cast<uint8_t>(lcg.Next());
  }
  if (hostFails) {
    const uint8_t f = in.Byte();
    s.failingCall = 1 + (f & 15);
    s.failCode = kHostCodes[f >> 6];
  }
  s.seed = in.U32();
  s.samples = in.Bytes();
  if (s.samples.empty()) s.samples.push_back(0x40);
  return s;
}

struct Written {
  bool started = false, allLines = false, stopped = false;
};

// Writes the image; answers how far it got.
Written Write(TJPEGWriteStream* stream, const Settings& st) {
  Written w;
  w.started = fuzz::Succeeds([&] { stream->StartJPEG(st.options, st.ascii85); });
  if (!w.started) return w;
  const int64_t lineBytes = int64_t{static_cast<uint16_t>(st.options.width)} * st.options.colors;  // width is unsigned
  const int64_t height = st.options.height;
  int64_t rows = height;
  if (st.earlyStop) rows = st.seed % (height + 1);
  fuzz::Lcg lcg{st.seed};
  std::vector<uint8_t> line;
  int64_t passed = 0, y = 0;
  bool ok = true;
  for (; y < rows && ok && passed <= kMaxSamples; y++) {
    int64_t n = lineBytes;
    if (st.oddLines && lcg.Next() % 3 == 0) n = lcg.Next() % (2 * lineBytes + 2);
    line.resize(static_cast<size_t>(n) + 1);
    for (int64_t i = 0; i < n; i++) line[i] = st.samples[(passed + i) % st.samples.size()];
    ok = fuzz::Succeeds([&] { stream->PutJPEGRaster(reinterpret_cast<char*>(line.data()), static_cast<long>(n)); });
    passed += n;
  }
  w.allLines = ok && y == height;
  w.stopped = fuzz::Succeeds([&] { stream->StopJPEG(); });
  return w;
}

// Reads the image back and compares what the writer was given.
void CheckReadsBack(const Settings& st, const std::vector<uint8_t>& file) {
  const JPEGWriteOptions& o = st.options;
  TMemoryStream source(file);
  TJPEGReadStream* reader = MakeJPEGReadFolioprintStream(&source);
  JPEGReadInfo info{};
  const bool started = fuzz::Succeeds([&] { reader->StartJPEG(&info, st.ascii85); });
  if (!started && o.colors == 2) {  // a reader may turn away two-component images
    reader->Free();
    return;
  }
  FUZZ_CHECK(started);
  FUZZ_CHECK(info.width == o.width && info.height == o.height && info.colors == o.colors);
  // The JFIF segment carries the resolution unless marker mode 1, mode 2
  // for RGB or the portable mode for CMYK leaves it out.
  const int16_t mode = static_cast<int16_t>(o.markerMode);
  const bool jfif = mode != 1 && !(mode == 2 && o.colors == 3) && !(mode == kJPEGPortableMarkerMode && o.colors == 4);
  const int32_t dpi = jfif ? static_cast<uint16_t>(o.xResolution) : 0;
  FUZZ_CHECK(reader->fResolution == (dpi < 32768 ? dpi * 65536 : 0));
  const int32_t size = GetHandleSize(reader->fResources);
  FUZZ_CHECK(std::vector<uint8_t>(reader->fResources ? *reader->fResources : nullptr,
                                  reader->fResources ? *reader->fResources + size : nullptr) ==
             st.resources);
  std::vector<char> line(static_cast<size_t>(reader->fLineBytes) + 1);
  for (int y = 0; y < info.height; y++) FUZZ_CHECK(fuzz::Succeeds([&] { reader->GetJPEGRaster(line.data()); }));
  FUZZ_CHECK(fuzz::Succeeds([&] { reader->StopJPEG(); }));
  reader->Free();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  fuzz::Params in(data, size);
  const Settings st = ReadSettings(in);
  fuzz::FailingStream target({}, st.failingCall, st.failCode);
  TJPEGWriteStream* stream = MakeJPEGWriteFolioprintStream(&target);
  LargeHandle resources = nullptr;
  if (st.withResources) {
    resources = NewLargeHandle(static_cast<int32_t>(st.resources.size()));
    std::copy(st.resources.begin(), st.resources.end(), *resources);
    stream->fUserMarkers = resources;
  }
  const Written w = Write(stream, st);
  stream->Free();
  FreeLargeHandle(resources);
  fuzz::Touch(target.Contents().data(), target.Contents().size());

  const JPEGWriteOptions& o = st.options;
  const bool sound = o.quality >= 0 && o.quality <= 6 && o.colors >= 1 && o.colors <= 4 &&
                     o.width != 0 && o.height > 0;  // the width is read unsigned: 1..65535
  const bool small = int64_t{static_cast<uint16_t>(o.width)} * o.height * o.colors <= kMaxSamples;
  if (sound && small && !st.oddLines && !st.earlyStop && st.failingCall == 0) {
    FUZZ_CHECK(w.started);
    // Coding can fail on its own, and only so: the reduced Huffman tables of
    // the coarse qualities lack the codes of large coefficients.
    if (w.allLines && w.stopped)
      CheckReadsBack(st, target.Contents());
    else
      FUZZ_CHECK(std::string(JPEGLastErrorMessage()) == kNoHuffcode);
  }
  return 0;
}
