// oneshot_result.cpp - the result record, raster sizes and open messages
// shared by the one-call entries (oneshot_internal.h).
#include <cstdarg>
#include <cstdio>

#include "oneshot/oneshot_internal.h"
#include "stream/error_path.h"

int32_t Report(JPEGMemResult* result, int32_t status, const char* format, ...) {
  if (result == nullptr) return status;
  result->status = status;
  va_list args;
  va_start(args, format);
  std::vsnprintf(result->message, sizeof result->message, format, args);
  va_end(args);
  return status;
}

int32_t ReportOk(JPEGMemResult* result) {
  if (result != nullptr) {
    result->status = JPEG_MEM_OK;
    result->message[0] = '\0';
  }
  return JPEG_MEM_OK;
}

bool RasterBytes(int32_t width, int32_t height, int32_t components, size_t pitch, size_t* bytes) {
  if (width < 1 || height < 1 || components < 1) return false;
  const size_t line = static_cast<size_t>(width) * static_cast<size_t>(components);
  if (pitch == 0) pitch = line;
  if (pitch < line) return false;
  const size_t before = static_cast<size_t>(height - 1);
  if (before != 0 && pitch > (SIZE_MAX - line) / before) return false;
  *bytes = pitch * before + line;
  return true;
}

const char* OpenFailureMessage(const char* fallback) {
  const char* message = JPEGLastErrorMessage();
  return DCTThreadFailed() && message[0] != '\0' ? message : fallback;
}
