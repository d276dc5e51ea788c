// memory_encode.cpp - JPEGMemEncode and JPEGMemEncodeAlloc: a raster in
// memory encoded into JPEG data in memory in one call.
//
// The encode filter is opened through JPEGOpenWithOptions on a bottom Stm
// whose flush procedure moves each full buffer into the caller's buffer or
// into memory of our own that grows as the data does. Past the end of a
// caller's buffer the bytes are only counted, so the call can say how much
// it needed. The raster's lines are written one by one (StmFWrite: the
// filter takes lines wider than its 16-bit count in pieces), the last one
// is coded by a flush with the end mark, and the filter is closed.
#include <cstdlib>
#include <cstring>

#include "jpeg_marker_codes.h"
#include "jpeg_options.h"
#include "oneshot/oneshot_internal.h"
#include "stm_owner.h"

namespace {

constexpr uint16_t kSinkBytes = 16384;
constexpr size_t kFirstGrowth = 65536;
constexpr int32_t kLargestSide = 65535;   // the frame's 16-bit fields
constexpr int32_t kDefaultQuality = 75;
constexpr size_t kLargestSegmentBytes = 0x7FFFFFFF;  // JPEGEncodeParams.markerDataLength

struct MemorySink {
  Stm stm;
  uint8_t* out;     // the caller's buffer, or memory of ours when `grows`
  size_t capacity;  // bytes of out
  size_t total;     // bytes the encoder has written (beyond capacity only counted)
  bool grows;
  bool failed;  // memory of ours could not grow
  uint8_t buffer[kSinkBytes];
};

bool Grow(MemorySink* k, size_t needed) {
  size_t capacity = k->capacity < kFirstGrowth ? kFirstGrowth : k->capacity;
  while (capacity < needed) capacity = capacity > SIZE_MAX / 2 ? needed : capacity * 2;
  auto* out = static_cast<uint8_t*>(std::realloc(k->out, capacity));
  if (out == nullptr) return false;
  k->out = out;
  k->capacity = capacity;
  return true;
}

// Moves the buffered bytes to out (or counts them past a caller's buffer).
bool Drain(MemorySink* k) {
  const size_t n = static_cast<size_t>(k->stm.ptr - k->stm.base);
  k->stm.ptr = k->stm.base;
  if (k->failed) return false;
  if (k->total + n > k->capacity && k->grows && !Grow(k, k->total + n)) k->failed = true;
  if (!k->failed && k->total + n <= k->capacity && n > 0) std::memcpy(k->out + k->total, k->stm.base, n);
  k->total += n;
  return !k->failed;
}

int16_t FlushToMemory(int16_t c, Stm* s) {
  auto* k = static_cast<MemorySink*>(s->procData);
  if (!Drain(k)) {
    s->error = 1;
    s->count = 0;
    return -1;
  }
  s->count = static_cast<int16_t>(s->bufSize);
  if (c == -1) {
    s->eof = 1;
    s->count = 0;
    return -1;
  }
  *s->ptr++ = static_cast<uint8_t>(c);
  s->count--;
  return c;
}

void InitSink(MemorySink* k, uint8_t* out, size_t capacity, bool grows) {
  std::memset(&k->stm, 0, sizeof k->stm);
  k->out = out;
  k->capacity = capacity;
  k->total = 0;
  k->grows = grows;
  k->failed = false;
  k->stm.procData = k;
  k->stm.bufSize = kSinkBytes;
  k->stm.count = static_cast<int16_t>(kSinkBytes);
  k->stm.ptr = k->stm.base = k->buffer;
  k->stm.flsBuf = FlushToMemory;
  k->stm.filBuf = StmRefuseFill;
}

// The segments to write, one after the other, each an APPn or COM segment
// whose length field keeps it inside the bytes given.
int32_t CheckSegments(const uint8_t* p, size_t n, JPEGMemResult* result) {
  if (n > 0 && p == nullptr) return Report(result, JPEG_MEM_BAD_ARGUMENT, "segments null with %zu bytes", n);
  if (n > kLargestSegmentBytes) return Report(result, JPEG_MEM_BAD_ARGUMENT, "%zu bytes of segments: too many", n);
  for (size_t at = 0; at < n;) {
    if (n - at < 4 || p[at] != JPEG_MARKER_PREFIX || !(JPEG_MARKER_IS_APP(p[at + 1]) || p[at + 1] == JPEG_MARKER_COM))
      return Report(result, JPEG_MEM_BAD_ARGUMENT, "the segments hold no APPn or COM segment at byte %zu", at);
    const size_t length = static_cast<size_t>(p[at + 2] << 8 | p[at + 3]);
    if (length < 2 || length > n - at - 2)
      return Report(result, JPEG_MEM_BAD_ARGUMENT, "the segment at byte %zu has a length of %zu", at, length);
    at += 2 + length;
  }
  return JPEG_MEM_OK;
}

int32_t CheckImage(const uint8_t* pixels, int32_t width, int32_t height, int32_t components, size_t pitch,
                   const size_t* jpegBytes, JPEGMemResult* result) {
  if (pixels == nullptr || jpegBytes == nullptr)
    return Report(result, JPEG_MEM_BAD_ARGUMENT, "a null pointer where the pixels or the length are needed");
  if (width < 1 || width > kLargestSide || height < 1 || height > kLargestSide)
    return Report(result, JPEG_MEM_BAD_ARGUMENT, "an image of %dx%d: each side must be 1..65535", width, height);
  if (components < 1 || components > 4)
    return Report(result, JPEG_MEM_BAD_ARGUMENT, "%d components: 1 to 4 are coded", components);
  size_t bytes = 0;
  if (!RasterBytes(width, height, components, pitch, &bytes))
    return Report(result, JPEG_MEM_BAD_ARGUMENT, "pitch %zu is below a line of %d pixels", pitch, width);
  return JPEG_MEM_OK;
}

int32_t CheckOptions(const JPEGMemEncodeOptions* o, JPEGMemResult* result) {
  if (o == nullptr) return JPEG_MEM_OK;
  if (o->quality < 0 || o->quality > 100)
    return Report(result, JPEG_MEM_BAD_ARGUMENT, "quality %d is outside 1..100", o->quality);
  if (o->threads < 0) return Report(result, JPEG_MEM_BAD_ARGUMENT, "a negative thread count, %d", o->threads);
  return CheckSegments(o->segments, o->segmentBytes, result);
}

double QFactorOf(const JPEGMemEncodeOptions* o) {
  if (o != nullptr && o->quality > 0) return JPEGQFactorForQuality(o->quality);
  if (o != nullptr && o->qFactor > 0) return o->qFactor;
  return JPEGQFactorForQuality(kDefaultQuality);
}

// The filter's parameters; markerData points at `segments`, which the
// filter only copies (it takes a non-const pointer for the host's sake).
JPEGEncodeParams ParamsFor(int32_t width, int32_t height, int32_t components, const JPEGMemEncodeOptions* o,
                           uint8_t** segments) {
  JPEGEncodeParams p;
  std::memset(&p, 0, sizeof p);
  p.QFactor = QFactorOf(o);
  p.Columns = width;
  p.Rows = height;
  p.Colors = static_cast<int16_t>(components);
  p.xDensity = p.yDensity = 1;
  if (o == nullptr) return p;
  p.markerMode = o->markerMode;
  p.densityUnits = o->densityUnits;
  if (o->xDensity != 0 || o->yDensity != 0) {
    p.xDensity = o->xDensity;
    p.yDensity = o->yDensity;
  }
  *segments = const_cast<uint8_t*>(o->segments);
  p.markerData = segments;
  p.markerDataLength = static_cast<int32_t>(o->segmentBytes);
  return p;
}

JPEGEncodeOptions ChoicesFor(const JPEGMemEncodeOptions* o) {
  JPEGEncodeOptions e;
  std::memset(&e, 0, sizeof e);
  if (o == nullptr) return e;
  e.lumaH = o->lumaH;
  e.lumaV = o->lumaV;
  e.optimize = o->optimize;
  e.progressive = o->progressive;
  return e;
}

// Writes every line and codes the last; false when the filter fails.
bool WriteLines(Stm* filter, const uint8_t* pixels, int32_t height, size_t lineBytes, size_t pitch) {
  for (int32_t y = 0; y < height && !filter->error; y++)
    StmFWrite(pixels + static_cast<size_t>(y) * pitch, 1, static_cast<uint32_t>(lineBytes), filter);
  if (!filter->error) JPEGEFlsBuf(-1, filter);  // codes the last line and ends the image
  return !filter->error;
}

int32_t Encode(const uint8_t* pixels, int32_t width, int32_t height, int32_t components, size_t pitch,
               const JPEGMemEncodeOptions* options, MemorySink* sink, JPEGMemResult* result) {
  uint8_t* segments = nullptr;
  JPEGEncodeParams params = ParamsFor(width, height, components, options, &segments);
  const JPEGEncodeOptions choices = ChoicesFor(options);
  Stm* filter = JPEGOpenWithOptions(&sink->stm, &params, &choices);
  if (filter == nullptr) {
    const char* message = OpenFailureMessage(nullptr);
    if (message == nullptr) return Report(result, JPEG_MEM_NO_MEMORY, "out of memory opening the encoder");
    return Report(result, JPEG_MEM_REFUSED, "%s", message);
  }
  if (options != nullptr && options->threads > 1) JPEGSetCodingThreads(filter, options->threads);
  const size_t lineBytes = static_cast<size_t>(width) * static_cast<size_t>(components);
  const bool written = WriteLines(filter, pixels, height, lineBytes, pitch != 0 ? pitch : lineBytes);
  JPEGMemResult failure;
  Report(&failure, JPEG_MEM_FAILED, "%s", static_cast<const JPEGFilterContext*>(filter->procData)->message);
  JPEGClose(filter);
  const bool drained = Drain(sink);
  if (sink->failed || !drained) return Report(result, JPEG_MEM_NO_MEMORY, "out of memory for the JPEG data");
  if (!written) return Report(result, JPEG_MEM_FAILED, "%s", failure.message);
  return ReportOk(result);
}

int32_t CheckAll(const uint8_t* pixels, int32_t width, int32_t height, int32_t components, size_t pitch,
                 const JPEGMemEncodeOptions* options, const size_t* jpegBytes, JPEGMemResult* result) {
  const int32_t status = CheckImage(pixels, width, height, components, pitch, jpegBytes, result);
  return status != JPEG_MEM_OK ? status : CheckOptions(options, result);
}

}  // namespace

int32_t JPEGMemEncode(const uint8_t* pixels, int32_t width, int32_t height, int32_t components, size_t pitch,
                      const JPEGMemEncodeOptions* options, uint8_t* jpeg, size_t capacity, size_t* jpegBytes,
                      JPEGMemResult* result) {
  if (jpegBytes != nullptr) *jpegBytes = 0;
  int32_t status = CheckAll(pixels, width, height, components, pitch, options, jpegBytes, result);
  if (status != JPEG_MEM_OK) return status;
  auto* sink = static_cast<MemorySink*>(std::malloc(sizeof(MemorySink)));
  if (sink == nullptr) return Report(result, JPEG_MEM_NO_MEMORY, "out of memory for the output stream");
  InitSink(sink, jpeg, jpeg != nullptr ? capacity : 0, false);
  status = Encode(pixels, width, height, components, pitch, options, sink, result);
  if (status == JPEG_MEM_OK && sink->total > sink->capacity) {
    status = Report(result, JPEG_MEM_TOO_SMALL, "the JPEG data takes %zu bytes, the buffer holds %zu",
                    sink->total, sink->capacity);
  }
  if (status == JPEG_MEM_OK || status == JPEG_MEM_TOO_SMALL) *jpegBytes = sink->total;
  std::free(sink);
  return status;
}

int32_t JPEGMemEncodeAlloc(const uint8_t* pixels, int32_t width, int32_t height, int32_t components,
                           size_t pitch, const JPEGMemEncodeOptions* options, uint8_t** jpeg, size_t* jpegBytes,
                           JPEGMemResult* result) {
  if (jpeg == nullptr) return Report(result, JPEG_MEM_BAD_ARGUMENT, "a null pointer where the JPEG data goes");
  *jpeg = nullptr;
  if (jpegBytes != nullptr) *jpegBytes = 0;
  int32_t status = CheckAll(pixels, width, height, components, pitch, options, jpegBytes, result);
  if (status != JPEG_MEM_OK) return status;
  auto* sink = static_cast<MemorySink*>(std::malloc(sizeof(MemorySink)));
  if (sink == nullptr) return Report(result, JPEG_MEM_NO_MEMORY, "out of memory for the output stream");
  InitSink(sink, nullptr, 0, true);
  status = Encode(pixels, width, height, components, pitch, options, sink, result);
  if (status == JPEG_MEM_OK) {
    *jpeg = sink->out;
    *jpegBytes = sink->total;
  } else {
    std::free(sink->out);
  }
  std::free(sink);
  return status;
}
