// target_encode.cpp - the fuzz_encode target's code, compiled into the replay
// test under its own entry name; a failed check throws instead of aborting.
#include <stdexcept>
#define FUZZ_FAIL(what) throw std::runtime_error(what)
#define LLVMFuzzerTestOneInput Fuzz_encode_OneInput
#include "../../fuzz/fuzz_encode.cpp"
