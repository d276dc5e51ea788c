// target_progressive.cpp - the fuzz_progressive target's code, compiled into
// the replay test under its own entry name; a failed check throws instead
// of aborting.
#include <stdexcept>
#define FUZZ_FAIL(what) throw std::runtime_error(what)
#define LLVMFuzzerTestOneInput Fuzz_progressive_OneInput
#include "../../fuzz/fuzz_progressive.cpp"
