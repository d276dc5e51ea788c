// host_codec.cpp - the host-stream round trip used by the encode, decode and
// demo commands. Host failures arrive as HostFailure exceptions; they are
// turned into one line of words, preferring the codec's own message.
#include "host_codec.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "host_framework.h"
#include "host_io.h"
#include "jpeg_filters.h"
#include "jpeg_stream.h"
#include "progress.h"
#include "stm.h"
#include "tool_error.h"

namespace jpegtool {

const double kQFactorByQuality[kQualityLevels] = {1.3, 1.0, 0.76, 0.65, 0.4, 0.25, 0.15};

namespace {

// The host options carry the width as a 16-bit number read unsigned (the
// frame's limit too) and the height as a signed one. Lines of any width
// pass: the codec moves those wider than its 16-bit count in pieces.
constexpr long kLargestWidth = 65535;
constexpr long kLargestHeight = 32767;

// Widths travel in the host records' 16-bit fields, read unsigned.
int16_t WidthField(int width) { return static_cast<int16_t>(static_cast<uint16_t>(width)); }
int WidthOf(int16_t field) { return static_cast<uint16_t>(field); }

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

JPEGWriteOptions MakeWriteOptions(const ImageShape& shape, const EncodeSettings& settings) {
  JPEGWriteOptions options{};
  options.quality = settings.quality;
  options.xResolution = static_cast<int16_t>(settings.xDpi);
  options.yResolution = static_cast<int16_t>(settings.yDpi);
  options.width = WidthField(shape.width);
  options.height = static_cast<int16_t>(shape.height);
  options.colors = static_cast<int16_t>(shape.colors);
  options.markerMode = settings.markerMode;
  return options;
}

void WriteLines(TJPEGWriteStream* stream, LineSource* source, bool quiet) {
  const ImageShape& shape = source->Shape();
  Progress progress("encoding", shape.height, static_cast<long long>(shape.width) * shape.height, quiet);
  std::vector<uint8_t> line(shape.LineBytes());
  for (int y = 0; y < shape.height; ++y) {
    source->ReadLine(line.data());
    stream->PutJPEGRaster(reinterpret_cast<char*>(line.data()), static_cast<long>(line.size()));
    progress.Update(y + 1);
  }
}

void ReadLines(TJPEGReadStream* stream, const ImageShape& shape, DecodeTarget* target, bool quiet) {
  Progress progress("decoding", shape.height, static_cast<long long>(shape.width) * shape.height, quiet);
  std::vector<uint8_t> line(shape.LineBytes());
  for (int y = 0; y < shape.height; ++y) {
    stream->GetJPEGRaster(reinterpret_cast<char*>(line.data()));
    target->PutLine(line.data());
    progress.Update(y + 1);
  }
}

Bytes CopyHandle(uint8_t** handle) {
  if (handle == nullptr || *handle == nullptr) return Bytes();
  const int32_t size = GetHandleSize(handle);
  return Bytes(*handle, *handle + (size > 0 ? size : 0));
}

void CheckDecodable(const JPEGReadInfo& info) {
  if (WidthOf(info.width) == 0 || info.height <= 0 || info.colors < 1 || info.colors > 4) {
    Fail("decode failed: the image is too large for the codec (its size does not fit 16-bit fields)");
  }
}

// The host stream adapters are host objects: made with new, freed with Free().
template <typename Stream, typename Inner>
std::unique_ptr<Stream, FreeObject> MakeAdapter(Inner* inner) {
  std::unique_ptr<Stream, FreeObject> stream(new Stream(inner));
  if (!stream) throw std::bad_alloc();
  return stream;
}

}  // namespace

void CheckEncodable(const ImageShape& shape) {
  if (shape.width > kLargestWidth) {
    Fail("image too wide for the codec: " + std::to_string(shape.width) + " pixels (at most " +
         std::to_string(kLargestWidth) + ")");
  }
  if (shape.height > kLargestHeight) {
    Fail("image too tall for the codec: " + std::to_string(shape.height) + " lines (at most " +
         std::to_string(kLargestHeight) + ")");
  }
}

void EncodeLines(LineSource* source, const EncodeSettings& settings, OutputFile* output) {
  CheckEncodable(source->Shape());
  gJPEGError = 0;
  try {
    HandleOwner resources = MakeResourceHandle(settings.resources);
    auto target = MakeAdapter<OutputStream>(output);
    std::unique_ptr<TJPEGWriteStream, FreeObject> stream(MakeJPEGWriteFolioprintStream(target.get()));
    if (!stream) Fail("encode failed: cannot create the output stream");
    stream->fUserMarkers = resources.get();
    stream->StartJPEG(MakeWriteOptions(source->Shape(), settings), settings.ascii85 ? 1 : 0);
    if (settings.threads > 1) JPEGSetCodingThreads(stream->fJPEGStm, settings.threads);
    WriteLines(stream.get(), source, settings.quiet);
    stream->StopJPEG();
  } catch (const HostFailure& failure) {
    if (!output->WriteError().empty()) Fail(output->WriteError());
    FailFromHost("encode", failure);
  }
  if (!output->WriteError().empty()) Fail(output->WriteError());
  if (gJPEGError != 0) Fail(std::string("encode failed: ") + JPEGLastErrorMessage());
}

void ImageTarget::Begin(const ImageShape& shape) {
  static_cast<ImageShape&>(image) = shape;
  image.pixels.clear();
}

void ImageTarget::PutLine(const uint8_t* line) {
  // Grown line by line: a file that ends early costs only what it held.
  image.pixels.insert(image.pixels.end(), line, line + image.LineBytes());
}

DecodeResult DecodeJpeg(ByteReader* input, bool ascii85, bool quiet, DecodeTarget* target, int threads) {
  gJPEGError = 0;
  DecodeResult result;
  try {
    auto source = MakeAdapter<ReaderStream>(input);
    std::unique_ptr<TJPEGReadStream, FreeObject> stream(MakeJPEGReadFolioprintStream(source.get()));
    if (!stream) Fail("decode failed: cannot open the input stream");
    JPEGReadInfo info{};
    stream->StartJPEG(&info, ascii85 ? 1 : 0);
    if (threads > 1) JPEGSetCodingThreads(stream->fJPEGStm, threads);
    CheckDecodable(info);
    ImageShape shape;
    shape.width = WidthOf(info.width);
    shape.height = info.height;
    shape.colors = info.colors;
    target->Begin(shape);
    ReadLines(stream.get(), shape, target, quiet);
    stream->StopJPEG();
    result.dpi = stream->fResolution / 65536.0;
    result.resources = CopyHandle(stream->fResources);
  } catch (const HostFailure& failure) {
    input->CheckError();
    FailFromHost("decode", failure);
  }
  input->CheckError();
  if (gJPEGError != 0) Fail(std::string("decode failed: ") + JPEGLastErrorMessage());
  return result;
}

void EncodeImageToFile(const Image& image, const EncodeSettings& settings, const std::string& path) {
  OutputFile output(path);
  ImageLines lines(image);
  EncodeLines(&lines, settings, &output);
  output.Commit();
}

Image DecodeJpegFile(const std::string& path, bool ascii85, DecodeResult* result) {
  ByteReader input(path);
  ImageTarget target;
  const DecodeResult decoded = DecodeJpeg(&input, ascii85, true, &target);
  if (result != nullptr) *result = decoded;
  return std::move(target.image);
}

}  // namespace jpegtool
