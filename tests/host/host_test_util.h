// host_test_util.h - what the host-layer tests share: building application
// segments and splicing them into JPEG data, a host stream that fails on
// command, a temporary folder, ASCII85 wrapping, and reading a whole image
// through a read stream.
#ifndef JPEG_TESTS_HOST_HOST_TEST_UTIL_H
#define JPEG_TESTS_HOST_HOST_TEST_UTIL_H

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "host_framework.h"
#include "jpeg_stream.h"
#include "support/test_support.h"

namespace host_test {

using testing_support::Bytes;
using testing_support::Image;

// One marker segment: FF marker, length (payload + 2) and the payload.
Bytes Segment(uint8_t marker, const Bytes& payload);
// jpeg with segments inserted right after SOI.
Bytes InsertAfterSOI(const Bytes& jpeg, const Bytes& segments);

Bytes JFIFPayload(uint8_t units, uint16_t xDensity);
Bytes StormPayload(uint16_t dpi);
Bytes OrlyxPayload(uint32_t resolution, const Bytes& resources);
Bytes ImagerionPayload(const Bytes& piece);

// Deterministic bytes standing for a host's resource data.
Bytes ResourceBytes(size_t size, uint32_t seed = 7);
// The bytes a LargeHandle holds.
Bytes HandleBytes(LargeHandle h);
// A new handle holding bytes.
LargeHandle HandleWith(const Bytes& bytes);

// ASCII85 text for bytes, through the library's encode filter.
Bytes Ascii85(const Bytes& bytes);

// A memory stream that fails on command: the readCall-th GetBytes (1-based)
// or the writeCall-th PutBytes raises `code` (0 = never). It also counts
// how many instances are alive, so tests see the ones a factory owns freed.
class FailingStream : public TStream {
 public:
  explicit FailingStream(Bytes contents = {}, int readCall = 0, int writeCall = 0,
                         int16_t code = kHostIOError);
  ~FailingStream() override;
  int32_t GetPosition() override;
  int32_t GetLength() override;
  void GetBytes(int32_t count, void* buffer) override;
  void PutBytes(int32_t count, const void* buffer) override;
  const Bytes& Contents() const { return contents_; }
  int reads() const { return reads_; }
  int writes() const { return writes_; }
  static int alive;

 private:
  Bytes contents_;
  int32_t position_ = 0;
  int readCall_, writeCall_;
  int16_t code_;
  int reads_ = 0, writes_ = 0;
};

// The code of the HostFailure body raises, or 0 when it raises nothing.
template <typename Body>
int16_t FailureCode(Body&& body) {
  try {
    body();
  } catch (const HostFailure& f) {
    return f.error;
  }
  return 0;
}

// A folder under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Starts stream, reads every line and stops it; info receives the header.
Image ReadImage(TJPEGReadStream* stream, bool ascii85, JPEGReadInfo* info);
// Reads JPEG bytes (optionally ASCII85 text) through a memory read stream;
// resolution and resources are copied out.
Image ReadBytes(const Bytes& data, bool ascii85, JPEGReadInfo* info, int32_t* resolution = nullptr,
                Bytes* resources = nullptr);

}  // namespace host_test

#endif
