// oneshot_internal.h - what the one-call entries of include/jpeg_oneshot.h
// share: filling the caller's result record, the size of a raster, and the
// message a failed filter open left on this thread.
#ifndef JPEG_ONESHOT_ONESHOT_INTERNAL_H
#define JPEG_ONESHOT_ONESHOT_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "jpeg_oneshot.h"

// Sets *result (when not null) to `status` and a formatted message; answers
// status, so that an entry can `return Report(...)`.
int32_t Report(JPEGMemResult* result, int32_t status, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int32_t ReportOk(JPEGMemResult* result);

// Bytes of one packed line of width x components, and of a raster of
// `height` such lines `pitch` bytes apart; false when that overflows.
bool RasterBytes(int32_t width, int32_t height, int32_t components, size_t pitch, size_t* bytes);

// The message a null filter open left on this thread, or `fallback` when
// there is none: the opens fail without a message only when the few hundred
// bytes of a filter context cannot be allocated.
const char* OpenFailureMessage(const char* fallback);

#endif
