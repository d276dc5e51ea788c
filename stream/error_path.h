// error_path.h - the library's single error path, as seen from inside.
//
// A JPEG filter entry (open, flush/fill procedure, close) arms the jump (the
// pattern below) before calling into the codec. Code below raises with
// DCTStmErr0/1/2: the message is formatted into the buffer gErrorMsg points
// at and control longjmps back to the armed entry, which reports the failure
// its own way (null open, error flag on its stream).
//
// Why setjmp/longjmp and not a C++ exception: the codec core is plain
// records and procedures with no destructors anywhere between a raiser and
// its entry (a rule for every file of the codec core, codec_state.h), so the
// jump skips nothing; it costs nothing on the raising side's hot paths, needs
// no unwind tables in callers, and never lets a C++ exception cross the C
// interface of jpeg.so.
// Entries keep every local they read after a landing either untouched since
// the arming or volatile.
//
// Entries save the jump buffer and message pointer of any entry already
// running and restore them on the way out, so a filter entry reached from
// inside another one (a host stream procedure that opens a decoder, say)
// returns its failures to the right place. The pattern of every entry:
//
//   DCTSavedEnv saved;
//   DCTSaveEnv(&saved, ctx->message);     // gErrorMsg = ctx->message
//   if (setjmp(gEnv) != 0) {              // an error landed here
//     JPEGErrorMessage(ctx->message);
//     ... recover ...
//     DCTEndTry(&saved);
//     return failure;
//   }
//   ... call into the codec ...
//   DCTEndTry(&saved);
//
// (setjmp stands alone in the if: the language allows it nowhere else.)
//
// Threads: the jump buffer, the message pointer and everything else of the
// error path belong to the thread that runs the entry, so filters work on
// any number of threads at once. gJPEGError (stm.h) is the one process-wide
// flag left; the library writes it atomically and never decides anything by
// it: its own adapters test DCTThreadFailed or their filter's own result.
#ifndef JPEG_STREAM_ERROR_PATH_H
#define JPEG_STREAM_ERROR_PATH_H

#include <csetjmp>

#include "stm.h"

extern "C" {
extern thread_local jmp_buf gEnv;
extern thread_local char* gErrorMsg;
}

// What an entry saves of the entry it interrupts.
struct DCTSavedEnv {
  jmp_buf env;
  char* errorMsg;
  int armed;
};

// Names: "Env" is the jump buffer (gEnv) with the message pointer; an entry
// saves the interrupted entry's (DCTSaveEnv) and restores it (DCTEndTry).
//
// Saves the running entry's jump buffer and message pointer into `saved` and
// points gErrorMsg at `message` (the entry's own 256-byte buffer).
void DCTSaveEnv(DCTSavedEnv* saved, char* message);
// Restores what DCTSaveEnv saved.
void DCTEndTry(const DCTSavedEnv* saved);

// This thread's failure flag: set by JPEGErrorMessage (with gJPEGError),
// cleared by DCTClearFailure, which also clears gJPEGError for hosts that
// read it around a single-threaded call.
void DCTClearFailure();
bool DCTThreadFailed();

// Size of every filter's message buffer, terminator included.
constexpr int kDCTMessageSize = 256;

#endif
