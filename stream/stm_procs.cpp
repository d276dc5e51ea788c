// stm_procs.cpp - the shared refill ending and the refusing procedures of
// stream owners (include/stm_owner.h).
#include "stream/stm_procs.h"

int16_t StmRefillWithGuard(Stm* s, size_t got) {
  s->base[got] = kStmGuardByte;
  s->ptr = s->base;
  if (got == 0) {
    s->count = 0;
    s->eof = 1;
    return -1;
  }
  s->count = static_cast<int16_t>(got - 1);
  return *s->ptr++;
}

namespace {

int16_t Refuse(Stm* s) {
  s->error = 1;
  s->count = 0;
  return -1;
}

}  // namespace

int16_t StmRefuseFlush(int16_t, Stm* s) { return Refuse(s); }

int16_t StmRefuseFill(Stm* s) { return Refuse(s); }
