// filter_release.cpp - freeing a codec state's strip memory, and a filter
// with everything it owns (strip_jobs.h declares both). They sit with the
// strip jobs rather than with the allocation (codec/strip_memory.cpp)
// because a state's workers must stop before its tables go: the release
// reaches up to the worker ring, which the codec layer below must not see.
// What a direction keeps outside the strip memory and the state (the
// decoder's replay source) that direction frees before calling here.
#include <cstdlib>

#include "jpeg_filters.h"
#include "parallel/strip_jobs.h"

void DCTfree(DCTState* state) {
  DCTParallelRelease(state);  // first: workers may still read the state's tables
  if (state->releaseWork != nullptr) state->releaseWork(state);
  if (state->stripMemory == nullptr) return;
  std::free(state->stripMemory);
  state->stripMemory = nullptr;
  for (DCTComponent& c : state->components) c.strip = nullptr;
  state->lineBuffer = nullptr;
}

void DCTReleaseFilter(JPEGFilterContext* ctx) {
  DCTState* state = ctx->state;
  if (state != nullptr) {
    std::free(state->markerData);
    DCTfree(state);
    std::free(state);
  }
  std::free(ctx);
}
