// user_marker_hook.cpp - the read stream's user-segment hook. A read stream
// opens its decode filter with this hook and itself as the hook's data, so
// the marker parser hands every application and comment segment it does not
// consume itself to the stream that owns the decode, which takes resolution
// and resource data from them. Decoders opened by anyone else (the
// thumbnail interface, a host using the filter table) have no hook.
//
// The hook runs below a decode filter entry, so no host failure may leave
// it: a failure (out of memory while gathering resources) is caught here and
// recorded in the stream, which raises it once the decoder has returned.
#include "host/host_internal.h"
#include "jpeg_stream.h"

void DCTDusermarker(void* stream, char* data, uint16_t marker, uint16_t length) {
  auto* owner = static_cast<TJPEGReadStream*>(stream);
  try {
    owner->ParseUserMarker(data, marker, length);
  } catch (...) {
    owner->NoteMarkerFailure(CurrentHostFailure().error);
  }
}
