// host_internal.h - what the host layer shares between its own files (and
// its tests) but does not export: a test hook for refused object
// allocations, the read stream's user-segment hook and what an open decode
// filter knows about its lines.
#ifndef JPEG_HOST_HOST_INTERNAL_H
#define JPEG_HOST_HOST_INTERNAL_H

#include <cstdint>

#include "stm.h"

// Lets `allowed` more TObject allocations of the calling thread succeed, then
// refuses one (its operator new answers null) and goes back to normal. -1
// cancels.
void HostRefuseObjectAllocationAfter(int allowed);
// The same for large-handle allocations and growth (NewLargeHandle and
// ResizeLargeHandle then raise kHostNoMemory).
void HostRefuseHandleAllocationAfter(int allowed);

// Bytes of one raster line the open decode filter behind jpegStm writes at
// its base (0 when it has none).
int32_t DecodedLineBytes(const Stm* jpegStm);
// Components per pixel of those lines (0 when unknown).
int32_t DecodedColors(const Stm* jpegStm);

// The read stream's user-segment hook (user_marker_hook.cpp): passes one
// segment to ParseUserMarker of the TJPEGReadStream that stream points at.
void DCTDusermarker(void* stream, char* data, uint16_t marker, uint16_t length);
// True when the decode filter behind jpegStm has handed out every line of
// its image.
bool DecodedEveryLine(const Stm* jpegStm);
// After the last line: reads on to the end of the image (the filter's line
// buffer is released, so the last line must have been copied out). True when
// the data ends there cleanly, with EOI or simply at its end; false when what
// follows is a failure (gJPEGError set, the codec's message recorded).
bool FinishDecodedImage(Stm* jpegStm);

// Components per pixel for a decode filter's colour code: 0 three, 1 four,
// 2 one; any other value (the filter leaves the code alone for two
// components) asks the filter itself.
int16_t ColorsForCode(int16_t colorCode, const Stm* jpegStm);

#endif
