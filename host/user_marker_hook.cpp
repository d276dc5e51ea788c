// user_marker_hook.cpp - the decoder's user-segment hook. The marker parser
// calls it for every application and comment segment it does not consume
// itself; the segments go to the read stream registered in gJPEGReadStream
// (if any), which takes resolution and resource data from them.
//
// The hook runs below a decode filter entry, so no host failure may leave
// it: a failure (out of memory while gathering resources) is caught here and
// recorded in the stream, which raises it once the decoder has returned.
#include "dct/dctd.h"
#include "jpeg_stream.h"

void DCTDusermarker(char* data, uint16_t marker, uint16_t length) {
  TJPEGReadStream* stream = gJPEGReadStream;
  if (stream == nullptr) return;
  try {
    stream->ParseUserMarker(data, marker, length);
  } catch (...) {
    stream->NoteMarkerFailure(CurrentHostFailure().error);
  }
}
