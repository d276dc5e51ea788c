// filter_encode.cpp - EncodeLines (host_codec.h): the encode filter, over
// the ASCII85 encode filter when asked, run directly on a bottom stream
// into the tool's OutputFile. It writes exactly the bytes the host's write
// stream writes for the same options (the same filter parameters, the
// resource data spooled into the same APP13 segments), but takes images up
// to 65535 lines, which the host's 16-bit signed height cannot carry, and
// any ready-made segments (recompress keeps the input's). One line is held
// at a time.
#include <algorithm>
#include <memory>
#include <vector>

#include "bn_streams.h"
#include "file_stm.h"
#include "host_codec.h"
#include "jpeg_filters.h"
#include "jpeg_marker_codes.h"
#include "jpeg_options.h"
#include "jpeg_stream.h"
#include "progress.h"
#include "stm.h"
#include "tool_error.h"

namespace jpegtool {
namespace {

// The frame stores width and height in 16 bits: the codec's limit.
constexpr long kLargestSide = 65535;
constexpr size_t kSignatureBytes = sizeof kJPEGResourceSignature;  // with its zero
// Segment bytes are counted in a 32-bit field; a gigabyte leaves ample room.
constexpr size_t kLargestSegmentBytes = size_t{1} << 30;

// The resource data as the host writes it: APP13 segments of at most
// kJPEGResourceChunk data bytes, each led by the resource signature.
void AppendResourceSegments(const Bytes& resources, Bytes* segments) {
  for (size_t at = 0; at < resources.size(); at += kJPEGResourceChunk) {
    const size_t n = std::min(resources.size() - at, size_t{kJPEGResourceChunk});
    const size_t length = 2 + kSignatureBytes + n;
    const uint8_t head[4] = {JPEG_MARKER_PREFIX, JPEG_MARKER_APP13, static_cast<uint8_t>(length >> 8),
                             static_cast<uint8_t>(length & 0xFF)};
    segments->insert(segments->end(), head, head + 4);
    segments->insert(segments->end(), kJPEGResourceSignature, kJPEGResourceSignature + kSignatureBytes);
    segments->insert(segments->end(), resources.begin() + at, resources.begin() + at + n);
  }
}

// The host write stream's parameters for these settings, so the bytes are
// the host's; only the height is not held to the host's signed 16-bit field.
JPEGEncodeParams MakeParams(const ImageShape& shape, const EncodeSettings& settings) {
  JPEGWriteOptions options{};
  options.quality = settings.quality;
  options.xResolution = static_cast<int16_t>(settings.xDpi);
  options.yResolution = static_cast<int16_t>(settings.yDpi);
  options.width = static_cast<int16_t>(shape.width);
  options.colors = static_cast<int16_t>(shape.colors);
  options.markerMode = settings.markerMode;
  JPEGEncodeParams p = TJPEGWriteStream::EncodeParamsFor(options);
  p.Rows = shape.height;
  return p;
}

std::string CodecFailure() {
  const char* message = JPEGLastErrorMessage();
  return std::string("encode failed: ") +
         (message != nullptr && message[0] != '\0' ? message : "the encoder refused the image");
}

// The open filters, closed top-down however the encoding ends.
class FilterChain {
 public:
  FilterChain(OutputFile* output, bool ascii85) {
    InitFileSink(&bottom_, output);
    if (ascii85) {
      a85_ = COpenAscii85Encode(&bottom_.stm, nullptr);
      if (a85_ == nullptr) Fail("encode failed: out of memory");
    }
  }
  ~FilterChain() { Close(); }
  FilterChain(const FilterChain&) = delete;
  FilterChain& operator=(const FilterChain&) = delete;

  Stm* Open(JPEGEncodeParams* params, const JPEGEncodeOptions* options) {
    jpeg_ = JPEGOpenWithOptions(a85_ != nullptr ? a85_ : &bottom_.stm, params, options);
    if (jpeg_ == nullptr) Fail(CodecFailure());
    return jpeg_;
  }
  // Writes the rest of the image and the ASCII85 end mark; true when every
  // byte reached the output.
  bool Close() {
    if (jpeg_ != nullptr) CCloseJPEGEncode(jpeg_);
    jpeg_ = nullptr;
    if (a85_ != nullptr) CCloseAscii85Encode(a85_);
    a85_ = nullptr;
    return FinishFileSink(&bottom_);
  }

 private:
  FileStm bottom_;
  Stm* a85_ = nullptr;
  Stm* jpeg_ = nullptr;
};

}  // namespace

void CheckEncodable(const ImageShape& shape) {
  if (shape.width > kLargestSide) {
    Fail("image too wide for the codec: " + std::to_string(shape.width) + " pixels (at most " +
         std::to_string(kLargestSide) + ")");
  }
  if (shape.height > kLargestSide) {
    Fail("image too tall for the codec: " + std::to_string(shape.height) + " lines (at most " +
         std::to_string(kLargestSide) + ")");
  }
}

void EncodeLines(LineSource* source, const EncodeSettings& settings, OutputFile* output) {
  const ImageShape& shape = source->Shape();
  CheckEncodable(shape);
  if (settings.resources.size() > kLargestSegmentBytes || settings.segments.size() > kLargestSegmentBytes) {
    Fail("encode failed: the segment data is larger than 1 GiB");
  }
  Bytes segments = settings.segments;
  AppendResourceSegments(settings.resources, &segments);
  uint8_t* segmentBytes = segments.data();
  JPEGEncodeParams params = MakeParams(shape, settings);
  params.markerData = segments.empty() ? nullptr : &segmentBytes;
  params.markerDataLength = static_cast<int32_t>(segments.size());

  gJPEGError = 0;
  FilterChain chain(output, settings.ascii85);
  JPEGEncodeOptions options{};
  options.optimize = settings.optimize ? 1 : 0;
  options.progressive = settings.progressive ? 1 : 0;
  Stm* jpeg = chain.Open(&params, &options);
  if (settings.threads > 1) JPEGSetCodingThreads(jpeg, settings.threads);
  Progress progress("encoding", shape.height, static_cast<long long>(shape.width) * shape.height,
                    settings.quiet);
  std::vector<uint8_t> line(shape.LineBytes());
  for (int y = 0; y < shape.height && jpeg->error == 0; ++y) {
    source->ReadLine(line.data());
    StmFWrite(line.data(), 1, static_cast<uint32_t>(line.size()), jpeg);
    progress.Update(y + 1);
  }
  const bool written = chain.Close();
  if (!output->WriteError().empty()) Fail(output->WriteError());
  if (gJPEGError != 0) Fail(CodecFailure());
  if (!written) Fail("encode failed: I/O error");
}

}  // namespace jpegtool
