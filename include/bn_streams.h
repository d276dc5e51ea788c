/* bn_streams.h - the exported table of filter open/close entries.
 *
 * BNStreams lets a client open and close the four filters without linking to
 * their entry points by name. Each entry has its own signature; cast the
 * entry to the matching type below before calling it:
 *
 *   index 0 COpenAscii85Encode  BNOpenProc      (target, params ignored)
 *   index 1 CCloseAscii85Encode BNCloseIntProc  -> line feeds written
 *   index 2 COpenAscii85Decode  BNOpenProc      (source, params ignored)
 *   index 3 CCloseAscii85Decode BNCloseProc
 *   index 4 COpenJPEGEncode     BNOpenJPEGEncodeProc (target, JPEGEncodeParams*)
 *   index 5 CCloseJPEGEncode    BNCloseProc
 *   index 6 COpenJPEGDecode     BNOpenJPEGDecodeProc (source, int16_t info[3]:
 *                               width hint in / width out, height, colour code)
 *   index 7 CCloseJPEGDecode    BNCloseProc
 *
 * Stack filters by passing one filter's Stm as the next one's stream below;
 * close top-down. Names: BN is the host's prefix for what it looks up in the
 * library; COpen / CClose are the entries' plain-C open and close. */
#ifndef JPEG_BN_STREAMS_H
#define JPEG_BN_STREAMS_H

#include "jpeg_filters.h"

JPEG_EXTERN_C_BEGIN

typedef void (*BNStreamProc)(void);
typedef Stm* (*BNOpenProc)(Stm* below, void* params);
typedef Stm* (*BNOpenJPEGEncodeProc)(Stm* below, JPEGEncodeParams* params);
typedef Stm* (*BNOpenJPEGDecodeProc)(Stm* below, int16_t* info);
typedef void (*BNCloseProc)(Stm* s);
typedef int32_t (*BNCloseIntProc)(Stm* s);

enum {
  kBNOpenAscii85Encode = 0,
  kBNCloseAscii85Encode = 1,
  kBNOpenAscii85Decode = 2,
  kBNCloseAscii85Decode = 3,
  kBNOpenJPEGEncode = 4,
  kBNCloseJPEGEncode = 5,
  kBNOpenJPEGDecode = 6,
  kBNCloseJPEGDecode = 7
};

JPEG_API extern const BNStreamProc BNStreams[8];

JPEG_API Stm* COpenAscii85Encode(Stm* target, void* params);
JPEG_API int32_t CCloseAscii85Encode(Stm* s);
JPEG_API Stm* COpenAscii85Decode(Stm* source, void* params);
JPEG_API void CCloseAscii85Decode(Stm* s);
JPEG_API Stm* COpenJPEGEncode(Stm* target, JPEGEncodeParams* params);
JPEG_API void CCloseJPEGEncode(Stm* s);
JPEG_API Stm* COpenJPEGDecode(Stm* source, int16_t* info);
JPEG_API void CCloseJPEGDecode(Stm* s);

JPEG_EXTERN_C_END

#endif
