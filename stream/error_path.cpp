// error_path.cpp - raising an error inside the codec and landing at the
// armed filter entry (see error_path.h for the mechanism and why it is a
// longjmp), the failure flags, and the copy of the most recent message that
// hosts read to tell a person why a file failed. All of it is per thread but
// the process-wide flag gJPEGError, which is only ever stored atomically.
#include "stream/error_path.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" {
thread_local jmp_buf gEnv;
thread_local char* gErrorMsg = nullptr;
JPEG_API uint8_t gJPEGError = 0;
}

namespace {

// Non-zero while some entry has armed gEnv (saved and restored with it).
thread_local int gEnvArmed = 0;
// Where a raise formats its text when no filter buffer is registered.
thread_local char gFallbackMessage[kDCTMessageSize];
// The most recent message passed to JPEGErrorMessage on this thread.
thread_local char gLastMessage[kDCTMessageSize];
// Set with gJPEGError by JPEGErrorMessage on this thread.
thread_local bool gThreadFailed = false;

// gJPEGError stays a plain exported byte (hosts read and clear it); the
// library's own stores are atomic so that threads failing at once do not race.
void StoreProcessFlag(uint8_t value) { __atomic_store_n(&gJPEGError, value, __ATOMIC_RELAXED); }

[[noreturn]] void Land() {
  if (!gEnvArmed) {
    // Raised outside every filter entry: there is nowhere to return to.
    std::fprintf(stderr, "jpeg: unhandled codec error: %s\n", gErrorMsg);
    std::abort();
  }
  longjmp(gEnv, 1);
}

char* MessageBuffer() {
  if (gErrorMsg == nullptr) gErrorMsg = gFallbackMessage;
  return gErrorMsg;
}

// Formats into the message buffer; snprintf cuts an over-long text (only a
// long file name can make one) safely at 255 characters.
void FormatMessage(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(MessageBuffer(), kDCTMessageSize, fmt, args);
  va_end(args);
}

}  // namespace

void DCTSaveEnv(DCTSavedEnv* saved, char* message) {
  std::memcpy(saved->env, gEnv, sizeof(jmp_buf));
  saved->errorMsg = gErrorMsg;
  saved->armed = gEnvArmed;
  gErrorMsg = message;
  gEnvArmed = 1;
}

void DCTEndTry(const DCTSavedEnv* saved) {
  std::memcpy(gEnv, saved->env, sizeof(jmp_buf));
  gErrorMsg = saved->errorMsg;
  gEnvArmed = saved->armed;
}

void DCTClearFailure() {
  gThreadFailed = false;
  StoreProcessFlag(0);
}

bool DCTThreadFailed() { return gThreadFailed; }

extern "C" {

void DCTStmErr0(const char* msg) {
  FormatMessage("%s", msg);
  Land();
}

// The codec's formats take their numbers as long (%ld), a character code
// (%X, %d) or nothing; each is passed the type its conversion expects.
void DCTStmErr1(const char* fmt, int32_t a) {
  if (std::strstr(fmt, "%l") != nullptr) {
    FormatMessage(fmt, static_cast<long>(a));
  } else {
    FormatMessage(fmt, static_cast<int>(a));
  }
  Land();
}

void DCTStmErr2(const char* fmt, int32_t a, int32_t b) {
  if (std::strstr(fmt, "%l") != nullptr) {
    FormatMessage(fmt, static_cast<long>(a), static_cast<long>(b));
  } else {
    FormatMessage(fmt, static_cast<int>(a), static_cast<int>(b));
  }
  Land();
}

void JPEGErrorMessage(const char* msg) {
  gThreadFailed = true;
  StoreProcessFlag(1);
  if (msg != nullptr && msg != gLastMessage) {
    std::snprintf(gLastMessage, sizeof gLastMessage, "%s", msg);
  }
}

const char* JPEGLastErrorMessage(void) { return gLastMessage; }

int32_t scd(void) { return 0; }

void report_open_failure(const char* name) {
  FormatMessage("fopen failure for file %s\n", name != nullptr ? name : "(null)");
  Land();
}

void os_eprint1(const char*, ...) {}

}  // extern "C"
