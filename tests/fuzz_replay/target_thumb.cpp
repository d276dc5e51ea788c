// target_thumb.cpp - the fuzz_thumb target's code, compiled into the replay
// test under its own entry name; a failed check throws instead of aborting.
#include <stdexcept>
#define FUZZ_FAIL(what) throw std::runtime_error(what)
#define LLVMFuzzerTestOneInput Fuzz_thumb_OneInput
#include "../../fuzz/fuzz_thumb.cpp"
