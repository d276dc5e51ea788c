// target_parallel_decode.cpp - the fuzz_parallel_decode target's code,
// compiled into the replay test under its own entry name; a failed check
// throws instead of aborting.
#include <stdexcept>
#define FUZZ_FAIL(what) throw std::runtime_error(what)
#define LLVMFuzzerTestOneInput Fuzz_parallel_decode_OneInput
#include "../../fuzz/fuzz_parallel_decode.cpp"
