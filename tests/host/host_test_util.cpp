// host_test_util.cpp - segments, a failing host stream, temporary folders and
// whole-image reads for the host-layer tests.
#include "host_test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "bn_streams.h"

namespace host_test {

Bytes Segment(uint8_t marker, const Bytes& payload) {
  const size_t length = payload.size() + 2;
  Bytes s = {0xFF, marker, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
  s.insert(s.end(), payload.begin(), payload.end());
  return s;
}

Bytes InsertAfterSOI(const Bytes& jpeg, const Bytes& segments) {
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), segments.begin(), segments.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

Bytes JFIFPayload(uint8_t units, uint16_t xDensity) {
  return {'J', 'F', 'I', 'F', 0, 1, 2, units, static_cast<uint8_t>(xDensity >> 8),
          static_cast<uint8_t>(xDensity), static_cast<uint8_t>(xDensity >> 8),
          static_cast<uint8_t>(xDensity), 0, 0};
}

Bytes StormPayload(uint16_t dpi) {
  return {'S', 't', 'o', 'r', 'm', 0, 9, 9, 9, 9, static_cast<uint8_t>(dpi >> 8),
          static_cast<uint8_t>(dpi), 9, 9};
}

Bytes OrlyxPayload(uint32_t resolution, const Bytes& resources) {
  const char* sig = "Orlyx_Imagerion2.5:";
  Bytes p(sig, sig + 19);
  for (int shift = 24; shift >= 0; shift -= 8) p.push_back(static_cast<uint8_t>(resolution >> shift));
  p.insert(p.end(), {0, 0, 0, 0});
  p.insert(p.end(), resources.begin(), resources.end());
  return p;
}

Bytes ImagerionPayload(const Bytes& piece) {
  const char* sig = "Imagerion 3.0";
  Bytes p(sig, sig + 14);  // with the terminating zero
  p.insert(p.end(), piece.begin(), piece.end());
  return p;
}

Bytes ResourceBytes(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(size);
  for (auto& v : b) v = static_cast<uint8_t>(rng());
  return b;
}

Bytes HandleBytes(LargeHandle h) {
  if (h == nullptr) return {};
  return Bytes(*h, *h + GetHandleSize(h));
}

LargeHandle HandleWith(const Bytes& bytes) {
  LargeHandle h = NewLargeHandle(static_cast<int32_t>(bytes.size()));
  if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
  return h;
}

Bytes Ascii85(const Bytes& bytes) {
  testing_support::MemSink sink;
  Stm* a85 = COpenAscii85Encode(sink.stm(), nullptr);
  EXPECT_NE(a85, nullptr);
  StmFWrite(bytes.data(), 1, static_cast<uint32_t>(bytes.size()), a85);
  CCloseAscii85Encode(a85);
  return sink.Contents();
}

// --- FailingStream ----------------------------------------------------------------

int FailingStream::alive = 0;

FailingStream::FailingStream(Bytes contents, int readCall, int writeCall, int16_t code)
    : contents_(std::move(contents)), readCall_(readCall), writeCall_(writeCall), code_(code) {
  alive++;
}

FailingStream::~FailingStream() { alive--; }

int32_t FailingStream::GetPosition() { return position_; }
int32_t FailingStream::GetLength() { return static_cast<int32_t>(contents_.size()); }

void FailingStream::GetBytes(int32_t count, void* buffer) {
  if (++reads_ == readCall_) Failure(code_, 0);
  if (count > GetLength() - position_) Failure(kHostEndOfFile, 0);
  std::memcpy(buffer, contents_.data() + position_, static_cast<size_t>(count));
  position_ += count;
}

void FailingStream::PutBytes(int32_t count, const void* buffer) {
  if (++writes_ == writeCall_) Failure(code_, 0);
  const auto* p = static_cast<const uint8_t*>(buffer);
  contents_.insert(contents_.end(), p, p + count);
  position_ = static_cast<int32_t>(contents_.size());
}

// --- TempDir ----------------------------------------------------------------------

TempDir::TempDir() {
  std::random_device rd;
  path_ = std::filesystem::temp_directory_path() /
          ("jpeg_host_test_" + std::to_string(rd()) + "_" + std::to_string(rd()));
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

// --- reading ----------------------------------------------------------------------

Image ReadImage(TJPEGReadStream* stream, bool ascii85, JPEGReadInfo* info) {
  stream->StartJPEG(info, ascii85 ? 1 : 0);
  Image img;
  img.width = info->width;
  img.height = info->height;
  img.colors = info->colors;
  img.pixels.resize(static_cast<size_t>(img.width) * img.height * img.colors);
  for (int y = 0; y < img.height; y++)
    stream->GetJPEGRaster(reinterpret_cast<char*>(&img.pixels[static_cast<size_t>(y) * img.width * img.colors]));
  stream->StopJPEG();
  return img;
}

Image ReadBytes(const Bytes& data, bool ascii85, JPEGReadInfo* info, int32_t* resolution,
                Bytes* resources) {
  TMemoryStream source(data);
  TJPEGReadStream* stream = MakeJPEGReadFolioprintStream(&source);
  Image img;
  try {
    img = ReadImage(stream, ascii85, info);
  } catch (...) {
    stream->Free();
    throw;
  }
  if (resolution) *resolution = stream->fResolution;
  if (resources) *resources = HandleBytes(stream->fResources);
  stream->Free();
  return img;
}

}  // namespace host_test
