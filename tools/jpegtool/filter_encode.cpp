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
  if (settings.scale > 0) p.QFactor = JPEGQFactorForQuality(settings.scale);
  return p;
}

// Whether the file gets the colour transform, without which chroma cannot
// be subsampled (marker mode 2, portable CMYK).
bool HasColourTransform(int markerMode, int colors) {
  return markerMode != 2 && !(markerMode == kJPEGPortableMarkerMode && colors == 4);
}

// The sampling asked for: --sample, else 2x2 under --quality (as other
// encoders do at every quality) when the layout allows it, else the
// host's own choice for its index (no options). Subsampled chroma is
// averaged, as the host's coarse indexes do.
JPEGEncodeOptions MakeOptions(const ImageShape& shape, const EncodeSettings& settings, JPEGEncodeParams* p) {
  JPEGEncodeOptions options{};
  if (settings.lumaH > 0) {
    options.lumaH = static_cast<uint8_t>(settings.lumaH);
    options.lumaV = static_cast<uint8_t>(settings.lumaV);
  } else if (settings.scale > 0) {
    const uint8_t s = HasColourTransform(settings.markerMode, shape.colors) ? 2 : 1;
    options.lumaH = options.lumaV = s;
  }
  if (options.lumaH != 0) p->blend = shape.colors > 1 && options.lumaH * options.lumaV > 1 ? 1 : 0;
  options.optimize = settings.optimize ? 1 : 0;
  options.progressive = settings.progressive ? 1 : 0;
  return options;
}

// Colour lines coded as one component (--grayscale): luma with the
// encoder's own weights (0.299, 0.587, 0.114 in 16.16, rounded).
class GreySource : public LineSource {
 public:
  explicit GreySource(LineSource* colour)
      : colour_(colour), shape_{colour->Shape().width, colour->Shape().height, 1}, line_(colour->Shape().LineBytes()) {}
  const ImageShape& Shape() const override { return shape_; }
  void ReadLine(uint8_t* line) override {
    colour_->ReadLine(line_.data());
    const uint8_t* p = line_.data();
    for (int x = 0; x < shape_.width; ++x, p += 3) {
      line[x] = static_cast<uint8_t>((19595u * p[0] + 38470u * p[1] + 7471u * p[2] + 0x8000u) >> 16);
    }
  }

 private:
  LineSource* colour_;
  ImageShape shape_;
  std::vector<uint8_t> line_;
};

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

void EncodeLines(LineSource* colour, const EncodeSettings& settings, OutputFile* output) {
  if (settings.grayscale && colour->Shape().colors != 1 && colour->Shape().colors != 3) {
    Fail("--grayscale takes grey or RGB input, not " + std::to_string(colour->Shape().colors) + " components");
  }
  std::unique_ptr<GreySource> grey;
  if (settings.grayscale && colour->Shape().colors == 3) grey.reset(new GreySource(colour));
  LineSource* source = grey ? static_cast<LineSource*>(grey.get()) : colour;
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
  const JPEGEncodeOptions options = MakeOptions(shape, settings, &params);

  gJPEGError = 0;
  FilterChain chain(output, settings.ascii85);
  Stm* jpeg = chain.Open(&params, &options);
  if (settings.threads > 1) JPEGSetCodingThreads(jpeg, settings.threads);
  Progress progress("encoding", shape.height, static_cast<long long>(shape.width) * shape.height,
                    settings.quiet);
  std::vector<uint8_t> line(shape.LineBytes());
  for (int y = 0; y < shape.height && jpeg->error == 0; ++y) {
    StmFWrite(source->NextLine(line.data()), 1, static_cast<uint32_t>(line.size()), jpeg);
    progress.Update(y + 1);
  }
  const bool written = chain.Close();
  if (!output->WriteError().empty()) Fail(output->WriteError());
  if (gJPEGError != 0) Fail(CodecFailure());
  if (!written) Fail("encode failed: I/O error");
}

}  // namespace jpegtool
