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
#include <utility>
#include <vector>

#include "bn_streams.h"
#include "fuzz_support.h"
#include "jpeg_stream.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;
constexpr int64_t kMaxSamples = 1 << 21;  // samples read per image at most
constexpr int16_t kHostCodes[4] = {kHostIOError, kHostDiskFull, kHostNoMemory, kHostEndOfFile};

// A memory stream whose failingCall-th transfer (1-based; 0 never) raises code.
class FailingStream : public TMemoryStream {
 public:
  FailingStream(std::vector<uint8_t> contents, int failingCall, int16_t code)
      : TMemoryStream(std::move(contents)), failingCall_(failingCall), code_(code) {}
  int32_t GetLength() override {
    Count();
    return TMemoryStream::GetLength();
  }
  void GetBytes(int32_t count, void* buffer) override {
    Count();
    TMemoryStream::GetBytes(count, buffer);
  }

 private:
  void Count() {
    if (++calls_ == failingCall_) Failure(code_, 0);
  }
  int failingCall_, calls_ = 0;
  int16_t code_;
};

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

template <typename Body> bool Succeeds(Body&& body) {
  try {
    body();
  } catch (const HostFailure&) {
    return false;
  }
  return true;
}

void TakeResources(TJPEGReadStream* stream, Outcome* out) {
  const LargeHandle h = stream->fResources;
  const int32_t size = GetHandleSize(h);
  FUZZ_CHECK(size >= 0);
  if (h != nullptr) out->resources.assign(*h, *h + size);
  fuzz::Touch(out->resources.data(), out->resources.size());
}

Outcome Read(TStream* source, unsigned char ascii85) {
  Outcome out;
  TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(source);
  out.started = Succeeds([&] { stream->StartJPEG(&out.info, ascii85); });
  if (out.started) {
    FUZZ_CHECK(out.info.colors >= 1 && out.info.colors <= 4);
    FUZZ_CHECK(stream->fLineBytes == out.info.colors * static_cast<uint16_t>(out.info.width));
    out.resolution = stream->fResolution;
    TakeResources(stream, &out);
    const int64_t lineBytes = stream->fLineBytes;
    const int64_t rows = static_cast<uint16_t>(out.info.height);
    std::vector<uint8_t> line(static_cast<size_t>(lineBytes) + 1);
    for (int64_t y = 0; y < rows && (y + 1) * lineBytes <= kMaxSamples; y++) {
      if (!Succeeds([&] { stream->GetJPEGRaster(reinterpret_cast<char*>(line.data())); })) break;
      fuzz::Touch(line.data(), line.size());
      out.lines.insert(out.lines.end(), line.begin(), line.end() - 1);
    }
  }
  Succeeds([&] { stream->StopJPEG(); });
  FUZZ_CHECK(gJPEGReadStream == nullptr);
  stream->Free();
  FUZZ_CHECK(gJPEGReadStream == nullptr);
  return out;
}

// The data as ASCII85 text, written by the library's own encode filter.
std::vector<uint8_t> Wrap(const uint8_t* data, size_t size) {
  fuzz::MemorySink sink;
  fuzz::InitSink(&sink, 4096, 0);
  Stm* a85 = COpenAscii85Encode(&sink.stm, nullptr);
  FUZZ_CHECK(a85 != nullptr);
  if (size != 0) FUZZ_CHECK(StmFWrite(data, 1, static_cast<uint32_t>(size), a85) == size);
  CCloseAscii85Encode(a85);
  fuzz::DrainSink(&sink);
  return sink.out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxInput) return 0;
  const uint8_t options = data[0];
  std::vector<uint8_t> rest(data + 1, data + size);
  switch (options & 3) {
    case 0: {
      TMemoryStream source(rest);
      Read(&source, 0);
      break;
    }
    case 1: {
      TMemoryStream plainSource(rest);
      const Outcome plain = Read(&plainSource, 0);
      TMemoryStream textSource(Wrap(rest.data(), rest.size()));
      const Outcome wrapped = Read(&textSource, 1);
      FUZZ_CHECK(plain == wrapped);
      break;
    }
    case 2: {
      TMemoryStream source(rest);
      Read(&source, 1);
      break;
    }
    default: {
      FailingStream source(rest, 1 + ((options >> 2) & 15), kHostCodes[options >> 6]);
      Read(&source, 0);
      break;
    }
  }
  return 0;
}
