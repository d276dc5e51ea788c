// host_internal.h - what the host layer shares between its own files (and
// its tests) but does not export: test hooks for refused allocations (test
// builds only), the read stream's user-segment hook and the colour count of a
// decode filter's colour code. (What an open decode filter knows about its
// lines it answers itself: decode/jpeg_filter_query.h.)
#ifndef JPEG_HOST_HOST_INTERNAL_H
#define JPEG_HOST_HOST_INTERNAL_H

#include <cstdint>

#include "stm.h"

#ifdef JPEG_TEST_HOOKS
// Test hooks, built only into the test archive (jpeg_static_testhooks,
// which defines JPEG_TEST_HOOKS for its users); the shipped libraries do
// not carry them.
// Lets `allowed` more TObject allocations of the calling thread succeed, then
// refuses one (its operator new answers null) and goes back to normal. -1
// cancels.
void HostRefuseObjectAllocationAfter(int allowed);
// The same for large-handle allocations and growth (NewLargeHandle and
// ResizeLargeHandle then raise kHostNoMemory).
void HostRefuseHandleAllocationAfter(int allowed);
#endif

// The read stream's user-segment hook (user_marker_hook.cpp): passes one
// segment to ParseUserMarker of the TJPEGReadStream that stream points at.
void DCTDusermarker(void* stream, char* data, uint16_t marker, uint16_t length);

// Components per pixel for a decode filter's colour code: 0 three, 1 four,
// 2 one; any other value (the filter leaves the code alone for two
// components) asks the filter itself.
int16_t ColorsForCode(int16_t colorCode, const Stm* jpegStm);

#endif
