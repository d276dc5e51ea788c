// filter_table.cpp - BNStreams, the exported table of the four filters'
// open/close entries, and the thin COpen*/CClose* functions it holds.
//
// It sits above the filters it lists (encode/, decode/, a85/), with the
// host adapters that use it; the stream layer knows no filter.
//
// A client (the host stream adapters, or a host application that only has
// the table) opens and closes filters through these entries without linking
// to the filter entry points by name. Every entry forwards its arguments to
// the filter's own entry and returns its result; the table holds no state.
// Opens take the stream below first and a parameter pointer second; the
// ASCII85 filters ignore the parameter pointer.
#include "bn_streams.h"

#include "a85_filters.h"
#include "jpeg_filters.h"

extern "C" {

Stm* COpenAscii85Encode(Stm* target, void* params) { return A85EOpen(target, params); }

int32_t CCloseAscii85Encode(Stm* s) { return A85EClose(s); }

Stm* COpenAscii85Decode(Stm* source, void* params) { return A85DOpen(source, params); }

void CCloseAscii85Decode(Stm* s) { A85DClose(s); }

Stm* COpenJPEGEncode(Stm* target, JPEGEncodeParams* params) { return JPEGOpen(target, params); }

void CCloseJPEGEncode(Stm* s) { JPEGClose(s); }

// info[0..2] are handed to the decoder as three separate pointers (width
// hint in and width out, height, colour code). A caller that passes no info
// array gets a decoder opened with no width hint; the sizes it reports go
// to a scratch array instead of through a null pointer.
Stm* COpenJPEGDecode(Stm* source, int16_t* info) {
  int16_t scratch[3] = {0, 0, 0};
  int16_t* fields = info != nullptr ? info : scratch;
  return JPEGDOpen(source, &fields[0], &fields[1], &fields[2]);
}

void CCloseJPEGDecode(Stm* s) { JPEGDClose(s); }

// The entries have different signatures; callers cast an entry back to the
// matching type declared in bn_streams.h before calling it.
const BNStreamProc BNStreams[8] = {
    reinterpret_cast<BNStreamProc>(&COpenAscii85Encode),
    reinterpret_cast<BNStreamProc>(&CCloseAscii85Encode),
    reinterpret_cast<BNStreamProc>(&COpenAscii85Decode),
    reinterpret_cast<BNStreamProc>(&CCloseAscii85Decode),
    reinterpret_cast<BNStreamProc>(&COpenJPEGEncode),
    reinterpret_cast<BNStreamProc>(&CCloseJPEGEncode),
    reinterpret_cast<BNStreamProc>(&COpenJPEGDecode),
    reinterpret_cast<BNStreamProc>(&CCloseJPEGDecode),
};

}  // extern "C"
