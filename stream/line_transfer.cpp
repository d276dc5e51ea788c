// line_transfer.cpp - the one-slot table of the in-place line procedure
// (line_transfer.h). The procedure is stored before its key, so a reader
// that sees the key sees the procedure that belongs to it.
#include "stream/line_transfer.h"

#include <atomic>

namespace {

std::atomic<StmFlsBufProc> gWriteKey{nullptr};
std::atomic<StmLineWriteProc> gWriteProc{nullptr};

}  // namespace

void StmRegisterLineWrite(StmFlsBufProc flsBuf, StmLineWriteProc proc) {
  if (gWriteKey.load(std::memory_order_acquire) == flsBuf) return;
  gWriteProc.store(proc, std::memory_order_release);
  gWriteKey.store(flsBuf, std::memory_order_release);
}

uint64_t StmWriteLinesInPlace(Stm* s, const uint8_t* src, uint64_t bytes) {
  if (s->flsBuf == nullptr || gWriteKey.load(std::memory_order_acquire) != s->flsBuf) return 0;
  return gWriteProc.load(std::memory_order_acquire)(s, src, bytes);
}
