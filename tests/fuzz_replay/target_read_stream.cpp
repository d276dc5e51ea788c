// target_read_stream.cpp - the fuzz_read_stream target's code, compiled into the replay
// test under its own entry name; a failed check throws instead of aborting.
#include <stdexcept>
#define FUZZ_FAIL(what) throw std::runtime_error(what)
#define LLVMFuzzerTestOneInput Fuzz_read_stream_OneInput
#include "../../fuzz/fuzz_read_stream.cpp"
