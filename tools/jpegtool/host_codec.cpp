// host_codec.cpp - decoding through the host read stream, used by the
// decode and demo commands (encoding runs the filters: filter_encode.cpp). Host failures arrive as HostFailure exceptions; they are
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

namespace {

// Width and height come in the read stream's 16-bit fields, to be read
// unsigned (up to 65535, the frame's limit). Lines of any width pass: the
// codec moves those wider than its 16-bit count in pieces.
int SideOf(int16_t field) { return static_cast<uint16_t>(field); }

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
  if (SideOf(info.width) == 0 || SideOf(info.height) == 0 || info.colors < 1 || info.colors > 4) {
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

void ImageTarget::Begin(const ImageShape& shape) {
  static_cast<ImageShape&>(image) = shape;
  image.pixels.clear();
}

void ImageTarget::PutLine(const uint8_t* line) {
  // Grown line by line: a file that ends early costs only what it held.
  image.pixels.insert(image.pixels.end(), line, line + image.LineBytes());
}

// The resolution and resource data the read stream has gathered so far.
void TakeSegments(const TJPEGReadStream& stream, DecodeResult* result) {
  result->dpi = stream.fResolution / 65536.0;
  result->resources = CopyHandle(stream.fResources);
}

void DecodeJpeg(ByteReader* input, bool ascii85, bool quiet, DecodeTarget* target, int threads,
                DecodeResult* result) {
  gJPEGError = 0;
  try {
    auto source = MakeAdapter<ReaderStream>(input);
    std::unique_ptr<TJPEGReadStream, FreeObject> stream(MakeJPEGReadFolioprintStream(source.get()));
    if (!stream) Fail("decode failed: cannot open the input stream");
    JPEGReadInfo info{};
    stream->StartJPEG(&info, ascii85 ? 1 : 0);
    if (threads > 1) JPEGSetCodingThreads(stream->fJPEGStm, threads);
    CheckDecodable(info);
    TakeSegments(*stream, result);
    ImageShape shape;
    shape.width = SideOf(info.width);
    shape.height = SideOf(info.height);
    shape.colors = info.colors;
    target->Begin(shape);
    ReadLines(stream.get(), shape, target, quiet);
    stream->StopJPEG();
    TakeSegments(*stream, result);
  } catch (const HostFailure& failure) {
    input->CheckError();
    FailFromHost("decode", failure);
  }
  input->CheckError();
  if (gJPEGError != 0) Fail(std::string("decode failed: ") + JPEGLastErrorMessage());
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
  DecodeResult decoded;
  DecodeJpeg(&input, ascii85, true, &target, 0, &decoded);
  if (result != nullptr) *result = decoded;
  return std::move(target.image);
}

}  // namespace jpegtool
