/* thumb_stream.h - decoding a JPEG image held in memory, line by line.
 *
 * StartJPEGDecompress opens a decoder on the caller's bytes (not copied: they
 * must stay valid until CloseJPEG) and reports the size and the number of
 * colours (3, 4 or 1; 2 for a two-component image); width and height are
 * 16-bit numbers to be read unsigned (up to 65535). It returns null when the
 * header cannot be read or the first lines cannot be decoded, and when a
 * line holds more than the 32767 bytes a `short lineBytes` can take
 * (gJPEGError set, JPEGLastErrorMessage() says so).
 *
 * GetJPEGData decodes the next `lines` lines into buffer, line i at
 * buffer + i * lineBytes (lineBytes bytes of each, at most the decoded line).
 * It returns
 *   1  every line asked for was decoded; when they include the image's last
 *      line, the data after it also ended cleanly (with EOI, or simply at its
 *      end: a complete image whose EOI is missing is accepted). Also 1 when
 *      `lines` is below 1: nothing is decoded.
 *   0  otherwise: a null handle or buffer, a negative lineBytes, lines asked
 *      for past the image's last one, or data that is damaged or missing
 *      (the lines from the failing one on are left as they were; gJPEGError
 *      is set and JPEGLastErrorMessage() gives the decoder's reason). A
 *      handle that answered 0 for damaged data answers 0 from then on.
 * CloseJPEG releases the handle (null is ignored).
 *
 * StartJPEGDecompressScaled is StartJPEGDecompress for the image reduced by
 * scaleDenominator 1, 2, 4 or 8 (another value is refused, gJPEGError
 * set): width and height come back as the reduced size, each rounded up,
 * and GetJPEGData hands out its lines. The reduction is made in the inverse
 * DCT, so a large photograph's thumbnail costs a fraction of its full
 * decode. */
#ifndef JPEG_THUMB_STREAM_H
#define JPEG_THUMB_STREAM_H

#include "jpeg_export.h"

JPEG_EXTERN_C_BEGIN

typedef struct JPEGThumbContext* JPEGThumbHandle;

JPEG_API JPEGThumbHandle StartJPEGDecompress(const char* data, long length, short* width,
                                             short* height, short* colors);
JPEG_API JPEGThumbHandle StartJPEGDecompressScaled(const char* data, long length, int scaleDenominator,
                                                   short* width, short* height, short* colors);
JPEG_API int GetJPEGData(JPEGThumbHandle handle, char* buffer, short lines, short lineBytes);
JPEG_API void CloseJPEG(JPEGThumbHandle handle);

JPEG_EXTERN_C_END

#endif
