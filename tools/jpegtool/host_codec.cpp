// host_codec.cpp - the host-stream round trip used by the encode, decode and
// demo commands. Host failures arrive as HostFailure exceptions; they are
// turned into one line of words, preferring the codec's own message.
#include "host_codec.h"

#include <cstring>
#include <memory>

#include "host_framework.h"
#include "jpeg_stream.h"
#include "progress.h"
#include "stm.h"
#include "tool_error.h"

namespace jpegtool {

const double kQFactorByQuality[kQualityLevels] = {1.3, 1.0, 0.76, 0.65, 0.4, 0.25, 0.15};

namespace {

// The codec keeps a raster line in a buffer whose count is a signed 16-bit
// field, and the host options carry width and height as 16-bit numbers.
constexpr long kLargestLineBytes = 32767;
constexpr long kLargestDimension = 32767;

std::string DescribeHostCode(int code) {
  switch (code) {
    case kHostFileNotFound:
      return "file not found";
    case kHostIOError:
      return "I/O error";
    case kHostDiskFull:
      return "the disk is full";
    case kHostEndOfFile:
      return "the data ends too early";
    case kHostPermission:
      return "permission denied";
    case kHostParamError:
      return "the codec refused the parameters";
    case kHostNoMemory:
      return "out of memory";
    default:
      return "host error " + std::to_string(code);
  }
}

// Closing the file reports errors its last writes met.
void CloseTargetFile(TJPEGWriteStream* stream) {
  if (TFileStream* file = dynamic_cast<TFileStream*>(stream->Target())) file->Close();
}

[[noreturn]] void FailFromHost(const std::string& verb, const HostFailure& failure) {
  const char* codecMessage = JPEGLastErrorMessage();
  if (gJPEGError != 0 && codecMessage != nullptr && codecMessage[0] != '\0') {
    Fail(verb + " failed: " + codecMessage);
  }
  Fail(verb + " failed: " + DescribeHostCode(failure.error));
}

struct FreeObject {
  void operator()(TObject* object) const { FreeIfObject(object); }
};
struct FreeHandle {
  void operator()(uint8_t** handle) const { FreeLargeHandle(handle); }
};
using HandleOwner = std::unique_ptr<uint8_t*, FreeHandle>;

// The host sizes handles, and the spooled segments (18 bytes more per
// 32000), with 32-bit numbers; a gigabyte leaves ample room.
constexpr size_t kLargestResourceBytes = size_t{1} << 30;

HandleOwner MakeResourceHandle(const Bytes& resources) {
  if (resources.empty()) return HandleOwner();
  if (resources.size() > kLargestResourceBytes) Fail("encode failed: the resource data is larger than 1 GiB");
  HandleOwner handle(NewLargeHandle(static_cast<int32_t>(resources.size())));
  std::memcpy(*handle, resources.data(), resources.size());
  return handle;
}

JPEGWriteOptions MakeWriteOptions(const Image& image, const EncodeSettings& settings) {
  JPEGWriteOptions options{};
  options.quality = settings.quality;
  options.xResolution = static_cast<int16_t>(settings.xDpi);
  options.yResolution = static_cast<int16_t>(settings.yDpi);
  options.width = static_cast<int16_t>(image.width);
  options.height = static_cast<int16_t>(image.height);
  options.colors = static_cast<int16_t>(image.colors);
  options.markerMode = settings.markerMode;
  return options;
}

void WriteLines(TJPEGWriteStream* stream, const Image& image, bool quiet) {
  Progress progress("encoding", image.height, static_cast<long long>(image.width) * image.height, quiet);
  std::vector<char> line(image.LineBytes());
  for (int y = 0; y < image.height; ++y) {
    // PutJPEGRaster takes a non-const line; hand it a copy.
    std::memcpy(line.data(), image.Line(y), line.size());
    stream->PutJPEGRaster(line.data(), static_cast<long>(line.size()));
    progress.Update(y + 1);
  }
}

void ReadLines(TJPEGReadStream* stream, Image* image, bool quiet) {
  Progress progress("decoding", image->height, static_cast<long long>(image->width) * image->height, quiet);
  for (int y = 0; y < image->height; ++y) {
    stream->GetJPEGRaster(reinterpret_cast<char*>(image->Line(y)));
    progress.Update(y + 1);
  }
}

Bytes CopyHandle(uint8_t** handle) {
  if (handle == nullptr || *handle == nullptr) return Bytes();
  const int32_t size = GetHandleSize(handle);
  return Bytes(*handle, *handle + (size > 0 ? size : 0));
}

void CheckDecodable(const JPEGReadInfo& info) {
  if (info.width <= 0 || info.height <= 0 || info.colors < 1 || info.colors > 4) {
    Fail("decode failed: the image is too large for the codec (its size does not fit 16-bit fields)");
  }
}

}  // namespace

void CheckEncodable(const Image& image) {
  const long lineBytes = static_cast<long>(image.LineBytes());
  if (image.width > kLargestDimension || lineBytes > kLargestLineBytes) {
    Fail("image too wide for the codec: " + std::to_string(image.width) + " pixels x " +
         std::to_string(image.colors) + " samples = " + std::to_string(lineBytes) +
         " bytes per line (at most " + std::to_string(kLargestLineBytes) + ")");
  }
  if (image.height > kLargestDimension) {
    Fail("image too tall for the codec: " + std::to_string(image.height) + " lines (at most " +
         std::to_string(kLargestDimension) + ")");
  }
}

void EncodeImageToFile(const Image& image, const EncodeSettings& settings, const std::string& path) {
  CheckEncodable(image);
  gJPEGError = 0;
  try {
    HandleOwner resources = MakeResourceHandle(settings.resources);
    TFile file(path);
    std::unique_ptr<TJPEGWriteStream, FreeObject> stream(MakeJPEGWriteFileStream(&file));
    if (!stream) Fail("encode failed: cannot create the output stream");
    stream->fUserMarkers = resources.get();
    stream->StartJPEG(MakeWriteOptions(image, settings), settings.ascii85 ? 1 : 0);
    WriteLines(stream.get(), image, settings.quiet);
    stream->StopJPEG();
    CloseTargetFile(stream.get());
    if (gJPEGError != 0) Fail(std::string("encode failed: ") + JPEGLastErrorMessage());
  } catch (const HostFailure& failure) {
    FailFromHost("encode", failure);
  }
}

DecodedImage DecodeJpegFile(const std::string& path, bool ascii85, bool quiet) {
  gJPEGError = 0;
  DecodedImage decoded;
  try {
    TFile file(path);
    std::unique_ptr<TJPEGReadStream, FreeObject> stream(MakeJPEGReadFileStream(&file));
    if (!stream) Fail("decode failed: cannot open the input stream");
    JPEGReadInfo info{};
    stream->StartJPEG(&info, ascii85 ? 1 : 0);
    CheckDecodable(info);
    decoded.image.width = info.width;
    decoded.image.height = info.height;
    decoded.image.colors = info.colors;
    decoded.image.pixels.resize(decoded.image.LineBytes() * decoded.image.height);
    ReadLines(stream.get(), &decoded.image, quiet);
    stream->StopJPEG();
    decoded.dpi = stream->fResolution / 65536.0;
    decoded.resources = CopyHandle(stream->fResources);
  } catch (const HostFailure& failure) {
    FailFromHost("decode", failure);
  }
  if (gJPEGError != 0) Fail(std::string("decode failed: ") + JPEGLastErrorMessage());
  return decoded;
}

}  // namespace jpegtool
