/* thumb_stream.h - decoding a JPEG image held in memory, line by line.
 *
 * StartJPEGDecompress opens a decoder on the caller's bytes (not copied: they
 * must stay valid until CloseJPEG) and reports the size and the number of
 * colours (3, 4 or 1; 2 for a two-component image). GetJPEGData decodes the
 * next lines into the caller's buffer; CloseJPEG releases the handle. */
#ifndef JPEG_THUMB_STREAM_H
#define JPEG_THUMB_STREAM_H

#include "jpeg_export.h"

JPEG_EXTERN_C_BEGIN

typedef struct JPEGThumbContext* JPEGThumbHandle;

JPEG_API JPEGThumbHandle StartJPEGDecompress(const char* data, long length, short* width,
                                             short* height, short* colors);
JPEG_API int GetJPEGData(JPEGThumbHandle handle, char* buffer, short lines, short lineBytes);
JPEG_API void CloseJPEG(JPEGThumbHandle handle);

JPEG_EXTERN_C_END

#endif
