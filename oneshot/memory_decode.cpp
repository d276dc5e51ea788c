// memory_decode.cpp - JPEGMemDecode and JPEGMemDecodeAlloc: JPEG data in
// memory decoded into a raster in one call.
//
// A bottom Stm hands the caller's bytes to the decode filter in pieces, each
// followed by the decoder's guard byte (stm_owner.h); the filter is opened
// through JPEGDOpenWithOptions (scale) and given its worker threads
// (JPEGSetCodingThreads), and every line is copied out, piece by piece for
// lines wider than the filter's 16-bit count. The image's end is settled as
// the thumbnail interface settles it (JPEGDFinishImage): the data must end
// cleanly after the last line.
#include <cstdlib>
#include <cstring>

#include "decode/jpeg_filter_query.h"
#include "jpeg_marker_codes.h"
#include "jpeg_options.h"
#include "oneshot/oneshot_internal.h"
#include "stm_owner.h"

namespace {

constexpr uint16_t kPieceBytes = 8192;
constexpr int16_t kWidthHint = 32767;  // the filter's count as large as it goes
constexpr int16_t kNoColorCode = -1;   // left alone by the decoder for two components

struct MemorySource {
  Stm stm;
  const uint8_t* data;
  size_t size;
  size_t position;
  uint8_t buffer[kPieceBytes + 1];  // a piece and its guard byte
};

int16_t FillFromMemory(Stm* s) {
  if (s->eof || s->error) return -1;
  auto* source = static_cast<MemorySource*>(s->procData);
  const size_t left = source->size - source->position;
  const size_t n = left < s->bufSize ? left : s->bufSize;
  if (n > 0) std::memcpy(s->base, source->data + source->position, n);
  source->position += n;
  return StmRefillWithGuard(s, n);
}

void InitSource(MemorySource* source, const uint8_t* data, size_t size) {
  std::memset(&source->stm, 0, sizeof source->stm);
  source->data = data;
  source->size = size;
  source->position = 0;
  source->stm.procData = source;
  source->stm.bufSize = kPieceBytes;
  source->stm.ptr = source->stm.base = source->buffer;
  source->stm.flsBuf = StmRefuseFlush;
  source->stm.filBuf = FillFromMemory;
}

int32_t ColorsFor(int16_t colorCode, const Stm* filter) {
  switch (colorCode) {
    case 0:
      return 3;
    case 1:
      return 4;
    case 2:
      return 1;
    default:
      return JPEGDColors(filter);
  }
}

bool ValidScale(int32_t scale) { return scale == 0 || scale == 1 || scale == 2 || scale == 4 || scale == 8; }

// The decoder's reason; data that does not start with SOI is said to be no
// JPEG first, with the decoder's words after it.
int32_t OpenFailed(const MemorySource* source, JPEGMemResult* result) {
  const char* message = OpenFailureMessage(nullptr);
  if (message == nullptr) return Report(result, JPEG_MEM_NO_MEMORY, "out of memory opening the decoder");
  const uint8_t* d = source->data;
  if (source->size < 2 || d[0] != JPEG_MARKER_PREFIX || d[1] != JPEG_MARKER_SOI) {
    if (source->size < 2) return Report(result, JPEG_MEM_BAD_DATA, "not a JPEG file: %zu bytes (%s)", source->size, message);
    return Report(result, JPEG_MEM_BAD_DATA, "not a JPEG file: starts with 0x%02X 0x%02X (%s)", d[0], d[1], message);
  }
  return Report(result, JPEG_MEM_BAD_DATA, "%s", message);
}

// Opens the decode filter on `source`; *filter and *image on success.
int32_t OpenDecoder(MemorySource* source, const JPEGMemDecodeOptions* options, Stm** filter,
                    JPEGMemImage* image, JPEGMemResult* result) {
  const int32_t scale = options != nullptr ? options->scaleDenominator : 0;
  const int32_t threads = options != nullptr ? options->threads : 0;
  if (!ValidScale(scale)) return Report(result, JPEG_MEM_BAD_ARGUMENT, "scale 1/%d: only 1, 2, 4 and 8", scale);
  if (threads < 0) return Report(result, JPEG_MEM_BAD_ARGUMENT, "a negative thread count, %d", threads);
  const JPEGDecodeOptions decodeOptions{scale, nullptr, nullptr};
  int16_t width = kWidthHint, height = 0, colorCode = kNoColorCode;
  *filter = JPEGDOpenWithOptions(&source->stm, &decodeOptions, &width, &height, &colorCode);
  if (*filter == nullptr) return OpenFailed(source, result);
  image->width = static_cast<uint16_t>(width);
  image->height = static_cast<uint16_t>(height);
  image->components = ColorsFor(colorCode, *filter);
  if (threads > 1) JPEGSetCodingThreads(*filter, threads);
  return JPEG_MEM_OK;
}

// Copies the next line, piece by piece, into row; false when the filter
// has no more lines or fails.
bool NextLine(Stm* filter, uint8_t* row, int32_t lineBytes) {
  for (int32_t done = 0; done < lineBytes;) {
    if (JPEGDFilBuf(filter) != 0) return false;
    int32_t start = 0, bytes = 0;
    JPEGDLinePiece(filter, &start, &bytes);
    if (bytes <= 0 || start + bytes > lineBytes) return false;
    std::memcpy(row + start, filter->base, static_cast<size_t>(bytes));
    done = start + bytes;
  }
  return true;
}

int32_t DecodeFailed(Stm* filter, int32_t line, JPEGMemResult* result) {
  const char* message = static_cast<const JPEGFilterContext*>(filter->procData)->message;
  if (message[0] != '\0') return Report(result, JPEG_MEM_BAD_DATA, "%s", message);
  return Report(result, JPEG_MEM_BAD_DATA, "the image ends before line %d", line + 1);
}

// Every line into pixels (pitch apart), then the image's clean end.
int32_t DecodeLines(Stm* filter, const JPEGMemImage* image, uint8_t* pixels, JPEGMemResult* result) {
  const int32_t lineBytes = image->width * image->components;
  if (JPEGDLineBytes(filter) != lineBytes)
    return Report(result, JPEG_MEM_BAD_DATA, "decoded lines of %d bytes, not %d", JPEGDLineBytes(filter), lineBytes);
  for (int32_t y = 0; y < image->height; y++) {
    if (!NextLine(filter, pixels + static_cast<size_t>(y) * image->pitch, lineBytes))
      return DecodeFailed(filter, y, result);
  }
  if (!JPEGDFinishImage(filter)) return DecodeFailed(filter, image->height, result);
  return ReportOk(result);
}

}  // namespace

int32_t JPEGMemDecode(const uint8_t* data, size_t size, const JPEGMemDecodeOptions* options, uint8_t* pixels,
                      size_t pitch, size_t bufferBytes, JPEGMemImage* image, JPEGMemResult* result) {
  if ((data == nullptr && size > 0) || image == nullptr)
    return Report(result, JPEG_MEM_BAD_ARGUMENT, "a null pointer where data or the image shape is needed");
  std::memset(image, 0, sizeof *image);
  MemorySource source;
  InitSource(&source, data, size);
  Stm* filter = nullptr;
  int32_t status = OpenDecoder(&source, options, &filter, image, result);
  if (status != JPEG_MEM_OK) return status;
  image->pitch = pitch != 0 ? pitch : static_cast<size_t>(image->width) * image->components;
  size_t needed = 0;
  if (!RasterBytes(image->width, image->height, image->components, image->pitch, &needed)) {
    status = Report(result, JPEG_MEM_BAD_ARGUMENT, "pitch %zu is below a line of %d pixels", pitch, image->width);
  } else if (pixels == nullptr || bufferBytes < needed) {
    status = Report(result, JPEG_MEM_TOO_SMALL, "the image needs %zu bytes, the buffer holds %zu", needed,
                    pixels == nullptr ? size_t{0} : bufferBytes);
  } else {
    status = DecodeLines(filter, image, pixels, result);
  }
  JPEGDClose(filter);
  return status;
}

int32_t JPEGMemDecodeAlloc(const uint8_t* data, size_t size, const JPEGMemDecodeOptions* options,
                           uint8_t** pixels, JPEGMemImage* image, JPEGMemResult* result) {
  if (pixels == nullptr || image == nullptr || (data == nullptr && size > 0))
    return Report(result, JPEG_MEM_BAD_ARGUMENT, "a null pointer where data, the image or its shape is needed");
  *pixels = nullptr;
  std::memset(image, 0, sizeof *image);
  MemorySource source;
  InitSource(&source, data, size);
  Stm* filter = nullptr;
  int32_t status = OpenDecoder(&source, options, &filter, image, result);
  if (status != JPEG_MEM_OK) return status;
  image->pitch = static_cast<size_t>(image->width) * image->components;
  size_t bytes = 0;
  uint8_t* raster = nullptr;
  if (RasterBytes(image->width, image->height, image->components, 0, &bytes))
    raster = static_cast<uint8_t*>(std::malloc(bytes));
  if (raster == nullptr) {
    status = Report(result, JPEG_MEM_NO_MEMORY, "out of memory for a raster of %zu bytes", bytes);
  } else {
    status = DecodeLines(filter, image, raster, result);
  }
  JPEGDClose(filter);
  if (status != JPEG_MEM_OK) {
    std::free(raster);
    raster = nullptr;
  }
  *pixels = raster;
  return status;
}

void JPEGMemFree(void* memory) { std::free(memory); }
