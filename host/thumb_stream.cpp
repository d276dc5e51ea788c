// thumb_stream.cpp - decoding a JPEG image held in memory, line by line, for
// thumbnails and previews (include/thumb_stream.h). No host framework is
// involved: a bottom Stm feeds the caller's bytes to the decode filter in
// pieces of at most 8192 bytes, each followed by the decoder's 0xFF guard
// byte, and the caller gets decoded lines in batches. Its line length is a
// 16-bit number, so images whose lines are wider than 32767 bytes are refused
// at the start, with a message saying so, rather than handed out cut.
#include "thumb_stream.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "decode/jpeg_filter_query.h"
#include "host/host_internal.h"
#include "jpeg_filters.h"
#include "jpeg_options.h"
#include "stream/stm_procs.h"

namespace {
constexpr uint16_t kPieceSize = 8192;
constexpr size_t kBufferBytes = kPieceSize + 2;  // a piece, its guard byte and one spare
constexpr int kThumbDone = 1, kThumbFailed = 0;  // GetJPEGData's results (thumb_stream.h)
constexpr int32_t kLargestLineBytes = 32767;     // what GetJPEGData's `short lineBytes` holds
}  // namespace

struct JPEGThumbContext {
  int32_t length;    // bytes of compressed data
  int32_t position;  // bytes already handed to the decoder
  const char* data;  // the caller's bytes, not copied
  Stm* jpegStm;      // the decode filter
  Stm stm;           // bottom stream over data
  uint8_t* buffer;   // buffer of stm
};

namespace {

JPEGThumbContext* ContextOf(Stm* s) { return static_cast<JPEGThumbContext*>(s->procData); }

int16_t MyReadStmFilBuf(Stm* s) {
  if (s->eof || s->error) return -1;
  JPEGThumbContext* context = ContextOf(s);
  const int32_t left = context->length - context->position;
  const int32_t n = left <= 0 ? 0 : left >= s->bufSize ? s->bufSize : left;
  if (n > 0) std::memcpy(s->base, context->data + context->position, static_cast<size_t>(n));
  context->position += n;
  return StmRefillWithGuard(s, static_cast<size_t>(n));  // n == 0: the end of the data
}

// Decodes the next line into line (at most lineBytes bytes of it); false
// when no line could be decoded, leaving line as it was.
bool GetJPEGRaster(JPEGThumbContext* context, char* line, short lineBytes) {
  Stm* jpegStm = context->jpegStm;
  if (jpegStm->filBuf(jpegStm) != 0) return false;
  const int32_t decoded = JPEGDLineBytes(jpegStm);
  const int32_t n = lineBytes < decoded ? lineBytes : decoded;
  if (n > 0) std::memcpy(line, jpegStm->base, static_cast<size_t>(n));
  return true;
}

void FreeContext(JPEGThumbContext* context) {
  std::free(context->buffer);
  std::free(context);
}

}  // namespace

namespace {

// Both starts: the image reduced by scaleDenominator (1: full size).
JPEGThumbHandle StartThumb(const char* data, long length, int32_t scaleDenominator, short* width,
                           short* height, short* colors) {
  if (width == nullptr || height == nullptr || colors == nullptr) return nullptr;
  if (length < 0 || length > std::numeric_limits<int32_t>::max() || (data == nullptr && length > 0))
    return nullptr;
  auto* context = static_cast<JPEGThumbContext*>(std::calloc(1, sizeof(JPEGThumbContext)));
  if (context == nullptr) return nullptr;
  context->length = static_cast<int32_t>(length);
  context->data = data;
  context->buffer = static_cast<uint8_t*>(std::malloc(kBufferBytes));
  if (context->buffer == nullptr) {
    FreeContext(context);
    return nullptr;
  }
  Stm& stm = context->stm;
  stm.procData = context;
  stm.bufSize = kPieceSize;
  stm.ptr = stm.base = context->buffer;
  stm.flsBuf = StmRefuseFlush;
  stm.filBuf = MyReadStmFilBuf;

  int16_t colorCode = -1;  // left alone by the decoder for two components
  JPEGDecodeOptions options{};
  options.scaleDenominator = scaleDenominator;
  context->jpegStm = JPEGDOpenWithOptions(&stm, &options, width, height, &colorCode);
  if (context->jpegStm == nullptr) {
    FreeContext(context);
    return nullptr;
  }
  if (JPEGDLineBytes(context->jpegStm) > kLargestLineBytes) {
    char message[96];
    std::snprintf(message, sizeof message,
                  "Raster line of %ld bytes exceeds the thumbnail interface's 32767-byte limit",
                  static_cast<long>(JPEGDLineBytes(context->jpegStm)));
    JPEGDClose(context->jpegStm);
    FreeContext(context);
    JPEGErrorMessage(message);
    return nullptr;
  }
  *colors = ColorsForCode(colorCode, context->jpegStm);
  return context;
}

}  // namespace

JPEGThumbHandle StartJPEGDecompress(const char* data, long length, short* width, short* height,
                                    short* colors) {
  return StartThumb(data, length, 1, width, height, colors);
}

JPEGThumbHandle StartJPEGDecompressScaled(const char* data, long length, int scaleDenominator, short* width,
                                          short* height, short* colors) {
  if (scaleDenominator != 1 && scaleDenominator != 2 && scaleDenominator != 4 && scaleDenominator != 8) {
    JPEGErrorMessage("Scale denominator not 1, 2, 4 or 8");
    return nullptr;
  }
  return StartThumb(data, length, scaleDenominator, width, height, colors);
}

int GetJPEGData(JPEGThumbHandle handle, char* buffer, short lines, short lineBytes) {
  if (handle == nullptr) return kThumbFailed;
  if (lines < 1) return kThumbDone;
  if (buffer == nullptr || lineBytes < 0) return kThumbFailed;
  Stm* jpegStm = handle->jpegStm;
  for (short i = 0; i < lines; i++) {
    if (!GetJPEGRaster(handle, buffer + static_cast<std::ptrdiff_t>(i) * lineBytes, lineBytes)) {
      return kThumbFailed;
    }
    // The image's last line also settles the image: the data after it must
    // end cleanly, as the decode filter and the read stream require.
    if (JPEGDEveryLineHandedOut(jpegStm) && !JPEGDFinishImage(jpegStm)) return kThumbFailed;
  }
  return kThumbDone;
}

void CloseJPEG(JPEGThumbHandle handle) {
  if (handle == nullptr) return;
  JPEGDClose(handle->jpegStm);
  FreeContext(handle);
}
