// fuzz_parallel_decode.cpp - libFuzzer target for the harness's ParallelDecode entry (fuzz_harness.h).
#include "fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzz::ParallelDecode(data, size); }
