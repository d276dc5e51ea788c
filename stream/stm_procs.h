// stm_procs.h - ready-made pieces of the buffer procedures that stream
// owners write (stm.h states the contract they follow).
//
// Every source of compressed data refills the same way, storing the 0xFF
// guard byte after the bytes of the refill, and every one-directional stream
// answers the other direction's procedure with a refusal. The procedures are
// installed API (include/stm_owner.h, exported from the libraries), so hosts
// writing their own streams use them too; the host streams, the thumbnail
// interface, jpegtool's file streams and the tests' memory streams all do.
#ifndef JPEG_STREAM_STM_PROCS_H
#define JPEG_STREAM_STM_PROCS_H

#include "stm_owner.h"

// The guard byte a source stores after the valid bytes of every refill.
constexpr uint8_t kStmGuardByte = STM_GUARD_BYTE;

#endif
