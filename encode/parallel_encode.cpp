// parallel_encode.cpp - the encoder's strips coded on worker threads
// (strip_jobs.h states the scheme).
//
// The filter's thread keeps each raster line in the job of its run of
// strips as it arrives, and keeps the restart count as the serial coder
// would. When the run is complete, DCTEParallelStrip hands the job to a
// worker, which assembles each component strip from the lines exactly as
// the filter's thread would (strip_input.cpp: colour conversion, reduction,
// edge filling, completion of the last strip) and codes it with
// DCTEcodeStrip into the job's byte buffer, starting from an empty bit
// buffer. Each job but the first starts with a restart interval, so its
// bytes begin with the RSTn marker the serial coder writes there; what the
// serial coder does just before that marker, padding the previous strip's
// last partial byte with 1-bits, the filter's thread does when it writes the
// buffers out in order. The last job's partial byte is left in the state
// for the EOI that follows, as the serial coder leaves it.
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "encode/encoder.h"
#include "parallel/strip_jobs.h"

namespace {

constexpr size_t kWindowBytes = 32767;  // what the sink's 16-bit count spans
constexpr int32_t kEmptyBitBuffer = 8;  // bitsFree of a bit buffer holding no bits

// A run of strips the encoder hands to a worker: the raster lines as they
// arrived, coded into the job's bytes through its stream.
struct EncodeJob {
  DCTStripJob strip;  // first: the ring's view of the job
  int32_t firstLine;  // first raster line of the job's first strip
  int32_t lineCount;  // raster lines received
};

// The encoder's parallel state: the ring, and the job taking lines.
struct EncodeRing {
  DCTParallel ring;     // first: what DCTState::parallel points at
  EncodeJob* filling;   // the job receiving the lines of the strip under way; null between jobs
};

static_assert(std::is_standard_layout_v<EncodeJob> && std::is_standard_layout_v<EncodeRing>,
              "the ring's records are reached through their first members");
static_assert(sizeof(EncodeJob) <= sizeof(DCTStripJob) + kDCTJobOwnFieldBytes, "the ring's sizing counts less");

EncodeRing* RingOf(const DCTState* state) { return reinterpret_cast<EncodeRing*>(state->parallel); }

EncodeJob* JobAt(const EncodeRing* r, int32_t offset) {
  return reinterpret_cast<EncodeJob*>(DCTParallelJobAt(&r->ring, offset));
}

// The flush procedure of a job's sink: the bytes so far stay where they are
// and the next window opens right after them, the buffer grown to hold it.
int16_t GrowSink(int16_t c, Stm* s) {
  auto* job = static_cast<DCTStripJob*>(s->procData);
  const size_t used = static_cast<size_t>(s->ptr - job->bytes);
  if (used + kWindowBytes > job->capacity) {
    const size_t capacity = 2 * (used + kWindowBytes);
    auto* bytes = static_cast<uint8_t*>(std::realloc(job->bytes, capacity + 1));
    if (bytes == nullptr) DCTStmErr0("Insufficient storage");
    job->bytes = bytes;
    job->capacity = capacity;
  }
  s->base = job->bytes + used;
  return StmRestartWrite(c, s);
}

void OpenSink(DCTStripJob* job) {
  Stm* s = &job->stream;
  std::memset(s, 0, sizeof *s);
  s->procData = job;
  s->base = s->ptr = job->bytes;
  s->bufSize = static_cast<uint16_t>(kWindowBytes);
  s->count = static_cast<int16_t>(kWindowBytes);
  s->flsBuf = &GrowSink;
}

// The job's lines through the line stage and its strips through the block
// coder, as DCTEFlush and FinishStrip run them line by line.
void CodeJobStrip(DCTStripJob* strip) {
  auto* job = reinterpret_cast<EncodeJob*>(strip);
  DCTState* s = &strip->state;
  s->stripBlockLine = 0;
  s->stripSubLine = 0;
  s->linesDone = job->firstLine;
  int32_t stripFirstLine = job->firstLine;
  for (int32_t i = 0; i < job->lineCount; i++) {
    s->lineBuffer = strip->lines + static_cast<size_t>(i) * strip->lineStride;
    DCTEGetNCLine(s);
    if (++s->linesDone == s->Rows) DCTEget_ovflines(s);
    if (++s->stripSubLine < s->maxVSamples) continue;
    s->stripSubLine = 0;
    if (++s->stripBlockLine < kDCTBlockLines) continue;
    DCTEcodeStrip(s, stripFirstLine);
    s->stripBlockLine = 0;
    stripFirstLine = s->linesDone;
  }
}

void RunJob(DCTPoolJob* work) {
  DCTParallelRunGuarded(reinterpret_cast<DCTStripJob*>(work), &CodeJobStrip);
}

// The restart count and marker number after the strip's MCUs, as the
// serial coder leaves them (DCTEcodeResync runs before every MCU).
void AdvanceRestartCount(DCTState* state, int32_t firstLine) {
  int32_t mcus = state->mcusPerRow;
  if (state->Colors == 1) {
    // block rows left in the image
    const int32_t rows = (state->Rows - firstLine + kDCTBlockLines - 1) / kDCTBlockLines;
    const int32_t v = state->components[0].vSamples;
    mcus *= rows < v ? rows : v;
  }
  for (int32_t m = 0; m < mcus; m++) {
    if (--state->restartCountdown > 0) continue;
    state->restartCountdown = state->restartInterval;
    state->restartMarkerNumber = (state->restartMarkerNumber + 1) & kDCTRestartNumberMask;
  }
}

// Writes the oldest job's bytes after the previous strip's padded last
// byte, and keeps its own last partial byte in the state. A target that
// fails is reported at once, in the words of the serial coder.
void WriteHead(DCTState* state) {
  DCTStripJob* job = DCTParallelTakeHead(state);
  if (job->failed) DCTParallelRaise(job);
  DCTEBitSink sink = DCTELoadSink(state);
  DCTEpadToByte(&sink);
  DCTEStoreSink(state, &sink);
  StmFWrite(job->bytes, 1, static_cast<uint32_t>(job->stream.ptr - job->bytes), state->targetStm);
  if (state->targetStm->error) DCTStmErr0("Target error prevents output");
  if (state->targetStm->eof) DCTStmErr0("Target EOF prevents output");
  state->bitBuffer = job->state.bitBuffer;
  state->bitsFree = job->state.bitsFree;
}

}  // namespace

void DCTEParallelStart(DCTState* state) {
  if (!DCTParallelWanted(state)) return;
  // A line as the line buffer holds it: the padded samples and the pixels
  // the line stage replicates past the end.
  const int32_t lineBytes = state->paddedLineSamples > state->inputLineBytes ? state->paddedLineSamples
                                                                             : state->inputLineBytes;
  DCTParallelStart(state, DCTRingLayout{&RunJob, sizeof(EncodeJob), sizeof(EncodeRing)}, lineBytes);
}

void DCTEParallelLine(DCTState* state) {
  EncodeRing* r = RingOf(state);
  if (r->filling == nullptr) {  // the job's first line: a free job, with the state as it stands
    // Only a full ring writes its oldest job out: where a failing target
    // is noticed then depends on the image and the ring alone, not on
    // which worker finished first.
    if (r->ring.inFlight == r->ring.slots) WriteHead(state);
    EncodeJob* job = JobAt(r, r->ring.inFlight);
    DCTStripJob* strip = &job->strip;
    DCTParallelSnapshot(strip, state);
    OpenSink(strip);
    strip->state.targetStm = &strip->stream;
    strip->state.bitBuffer = 0;
    strip->state.bitsFree = kEmptyBitBuffer;
    job->firstLine = state->linesDone;
    job->lineCount = 0;
    strip->stripCount = 0;
    r->filling = job;
  }
  EncodeJob* job = r->filling;
  uint8_t* line = job->strip.lines + static_cast<size_t>(job->lineCount) * job->strip.lineStride;
  std::memcpy(line, state->lineBuffer, static_cast<size_t>(state->inputLineBytes));
  job->lineCount++;
}

void DCTEParallelLastLine(DCTState* state) {
  // As DCTEget_ovflines leaves the counts, so that the strip completes now.
  state->stripSubLine = state->maxVSamples - 1;
  state->stripBlockLine = kDCTBlockLines - 1;
}

void DCTEParallelStrip(DCTState* state, int32_t firstLine) {
  EncodeRing* r = RingOf(state);
  EncodeJob* job = r->filling;
  AdvanceRestartCount(state, firstLine);
  if (++job->strip.stripCount < r->ring.stripsPerJob && state->phase != kEncPhaseDone) return;
  r->filling = nullptr;
  DCTParallelSubmit(state, &job->strip);
}

void DCTEParallelFinish(DCTState* state) {
  while (state->parallel->inFlight > 0) WriteHead(state);
}

void DCTEParallelDrain(DCTState* state) {
  EncodeRing* r = RingOf(state);
  if (r->filling != nullptr && r->filling->strip.stripCount > 0) DCTParallelSubmit(state, &r->filling->strip);
  r->filling = nullptr;
  DCTEParallelFinish(state);
}
