// fuzz_read_stream.cpp - libFuzzer target for TJPEGReadStream: StartJPEG,
// GetJPEGRaster for every line, the resolution and resource data it gathers
// from application segments, StopJPEG and Free, over a memory stream.
//
// Input: one byte of options, then the data. The low two bits choose:
//   0  the data is read as plain JPEG;
//   1  the data is read as plain JPEG and again wrapped as ASCII85 text (by
//      the library's own encode filter): both reads must report the same
//      image, the same resolution and resource data and the same lines;
//   2  the data is read as ASCII85 text as it stands;
//   3  the data is read as plain JPEG from a host stream that fails on one
//      of its transfers (which one, and with what code, the other bits say).
// Failures must come out as HostFailure and nothing else; every line the
// stream delivers and every byte of the resource data is read; afterwards
// no stream may stay registered for the decoder's application segments.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_support.h"
#include "jpeg_stream.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;
constexpr int64_t kMaxSamples = 1 << 21;  // samples read per image at most
constexpr int16_t kHostCodes[4] = {kHostIOError, kHostDiskFull, kHostNoMemory, kHostEndOfFile};

// What one read of the data showed.
struct Outcome {
  bool started = false;
  JPEGReadInfo info{};
  int32_t resolution = 0;
  std::vector<uint8_t> resources;
  std::vector<uint8_t> lines;  // the delivered lines, one after another
  bool operator==(const Outcome& o) const {
    return started == o.started && info.width == o.info.width && info.height == o.info.height &&
           info.colors == o.info.colors && info.colorCode == o.info.colorCode &&
           resolution == o.resolution && resources == o.resources && lines == o.lines;
  }
};

Outcome Read(TStream* source, unsigned char ascii85) {
  Outcome out;
  TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(source);
  out.started = fuzz::Succeeds([&] { stream->StartJPEG(&out.info, ascii85); });
  if (out.started) {
    FUZZ_CHECK(out.info.colors >= 1 && out.info.colors <= 4);
    FUZZ_CHECK(stream->fLineBytes == out.info.colors * static_cast<uint16_t>(out.info.width));
    out.resolution = stream->fResolution;
    const LargeHandle h = stream->fResources;
    FUZZ_CHECK(GetHandleSize(h) >= 0);
    if (h != nullptr) out.resources.assign(*h, *h + GetHandleSize(h));
    fuzz::Touch(out.resources.data(), out.resources.size());
    const int64_t lineBytes = stream->fLineBytes;
    const int64_t rows = static_cast<uint16_t>(out.info.height);
    std::vector<uint8_t> line(static_cast<size_t>(lineBytes) + 1);
    for (int64_t y = 0; y < rows && (y + 1) * lineBytes <= kMaxSamples; y++) {
      if (!fuzz::Succeeds([&] { stream->GetJPEGRaster(reinterpret_cast<char*>(line.data())); })) break;
      fuzz::Touch(line.data(), line.size());
      out.lines.insert(out.lines.end(), line.begin(), line.end() - 1);
    }
  }
  fuzz::Succeeds([&] { stream->StopJPEG(); });
  FUZZ_CHECK(gJPEGReadStream == nullptr);
  stream->Free();
  FUZZ_CHECK(gJPEGReadStream == nullptr);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxInput) return 0;
  const uint8_t options = data[0];
  std::vector<uint8_t> rest(data + 1, data + size);
  const int mode = options & 3;
  const int failingCall = mode == 3 ? 1 + ((options >> 2) & 15) : 0;
  fuzz::FailingStream source(rest, failingCall, kHostCodes[options >> 6]);
  const Outcome plain = Read(&source, mode == 2);
  if (mode == 1) {
    TMemoryStream textSource(fuzz::A85Text(rest.data(), rest.size()));
    FUZZ_CHECK(plain == Read(&textSource, 1));
  }
  return 0;
}
