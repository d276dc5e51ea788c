// fuzz_a85.cpp - libFuzzer target for the harness's A85 entry (fuzz_harness.h).
#include "fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzz::A85(data, size); }
