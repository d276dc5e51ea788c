// parallel_decode.cpp - the decoder's strips decoded on worker threads
// (strip_jobs.h states the scheme).
//
// The filter's thread reads ahead: for each of the next runs of strips it
// consumes the RSTn marker that starts the run, as the serial decoder's
// resync would, and copies the run's entropy-coded bytes, with its inner
// restart markers, into a job, up to the marker that ends the run. It copies
// that marker too, so the worker sees the data end exactly as the serial
// reader does, but leaves it in the source (lookahead 0xFF, the code
// unread) for the next run or for the marker reader. A worker decodes the
// job's strips one after the other with DCTDdecodeStrip from the copied
// bytes and makes their raster lines; the filter's thread takes the jobs in
// order, hands their lines out from the job, and carries each job's
// counters (block number, bit count, DC predictors, restart count) back
// into its own state, so that what follows the last strip finds the state
// the serial decoder leaves.
//
// Reading ahead never raises: where it cannot go on (a marker other than
// RSTn where a strip should start, or the end of the data) it stops with
// the source just before that point, and the serial decoder takes over
// there after the last job's strip, meeting the same error or end.
//
// Damaged data can make the serial reader go on elsewhere than at the
// marker that ends the strip: after a lost restart marker, say, it finishes
// the strip early and its resync then searches for a marker from there. A
// worker notices this (the strip is "diverged"); the filter's thread then
// drops the later jobs and hands every byte read ahead from that point back
// to the serial decoder through a replay source, so it reads exactly what
// the serial decoder would have read.
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "codec/jpeg_markers.h"
#include "decode/decoder.h"
#include "jpeg_filters.h"
#include "parallel/strip_jobs.h"
#include "stream/stm_inline.h"
#include "stream/stm_procs.h"

namespace {

constexpr int32_t kEndOfData = -1;
constexpr size_t kWindowBytes = 32767;  // what a source's 16-bit count spans

enum StripEnd { kEndedAtRestart, kEndedAtOtherMarker, kEndedAtEndOfData };

// Where a source that serves a byte array a window at a time stands: the
// end of the window served, and the byte its guard covers.
struct WindowCursor {
  size_t end;
  uint8_t covered;
};

// A run of strips the decoder reads ahead and hands to a worker: the
// compressed bytes, from the restart marker before the run up to the one
// after it, decoded into raster lines.
struct DecodeJob {
  DCTStripJob strip;    // first: the ring's view of the job
  size_t size;          // bytes held at strip.bytes
  size_t dataStart;     // where the strip's data starts (the restart marker before it)
  size_t consumedEnd;   // end of what reading ahead took from the source for it
  size_t resumeAt;      // where the serial reader goes on after a diverged strip
  int32_t diverged;     // the serial reader would not go on at the ending marker
  int32_t endedAtEnd;   // the strip's bytes run to the end of the data
  int32_t stripsDone;   // strips decoded (and their lines made) before a failure
  WindowCursor window;  // the window the job's stream serves
};

// The decoder's parallel state: the ring, where reading ahead stands, and
// the job whose lines are being handed out.
struct DecodeRing {
  DCTParallel ring;              // first: what DCTState::parallel points at
  int32_t gatherOpen;            // more strips may be gathered
  int32_t gatherLine;            // what the next strip to gather starts with:
  int32_t gatherBlockNumber;     //   its first line, block number
  int32_t gatherMarkerNumber;    //   and the number of the marker before it
  int32_t strayBytes;            // the job after the last in flight holds bytes read ahead for nothing
  const DecodeJob* linesFrom;    // the job whose lines the strip being handed out has
  int32_t linesFromStrip;        // which of its strips that is
  uint8_t* ownLineBuffer;        // the state's line buffer, while lines come from jobs
};

static_assert(std::is_standard_layout_v<DecodeJob> && std::is_standard_layout_v<DecodeRing>,
              "the ring's records are reached through their first members");
static_assert(sizeof(DecodeJob) <= sizeof(DCTStripJob) + kDCTJobOwnFieldBytes, "the ring's sizing counts less");

DecodeRing* RingOf(const DCTState* state) { return reinterpret_cast<DecodeRing*>(state->parallel); }

DecodeJob* JobAt(const DecodeRing* p, int32_t offset) {
  return reinterpret_cast<DecodeJob*>(DCTParallelJobAt(&p->ring, offset));
}

// --- byte arrays served a window at a time ---------------------------------------

// A source's 16-bit count spans at most kWindowBytes, so bytes[0..size) go
// to the bit reader a window at a time. Each window ends in the guard byte
// the reader relies on; it stands on the first byte of the next window,
// which is put back before that window is served. bytes has room for one
// byte past size, the guard after the last window.
void StartWindows(uint8_t* bytes, size_t size, size_t start, WindowCursor* w) {
  bytes[size] = kStmGuardByte;
  w->end = start;
  w->covered = bytes[start];
}

// The refill of such a source: the next window, or the end of the data.
int16_t ServeWindow(Stm* s, uint8_t* bytes, size_t size, WindowCursor* w) {
  bytes[w->end] = w->covered;
  const size_t start = w->end;
  const size_t n = size - start < kWindowBytes ? size - start : kWindowBytes;
  s->base = bytes + start;
  w->end = start + n;
  w->covered = bytes[w->end];
  return StmRefillWithGuard(s, n);
}

// Puts back the byte under the last window's guard: a reader that stops
// inside a window leaves the guard standing on a byte of the data.
void EndWindows(uint8_t* bytes, const WindowCursor* w) { bytes[w->end] = w->covered; }

// A read-only stream whose first fill calls `fill`.
void OpenWindowedSource(Stm* s, void* owner, uint8_t* bytes, StmFilBufProc fill) {
  std::memset(s, 0, sizeof *s);
  s->procData = owner;
  s->base = s->ptr = bytes;
  s->bufSize = static_cast<uint16_t>(kWindowBytes);
  s->filBuf = fill;
  s->flsBuf = &StmRefuseFlush;
}

// --- the job's source ----------------------------------------------------------------

int16_t NextJobWindow(Stm* s) {
  auto* job = static_cast<DecodeJob*>(s->procData);
  return ServeWindow(s, job->strip.bytes, job->size, &job->window);
}

// The job's strip data (what precedes it is the restart marker consumed for it).
void OpenSource(DecodeJob* job) {
  StartWindows(job->strip.bytes, job->size, job->dataStart, &job->window);
  OpenWindowedSource(&job->strip.stream, job, job->strip.bytes, &NextJobWindow);
}

// Where the serial reader goes on after the strip: its lookahead byte. It
// goes on at the ending marker when no 0xFF stands between its lookahead
// and that marker's run of 0xFF bytes, or the end of the data.
void NoteWhereReadingGoesOn(DecodeJob* job) {
  const DCTState* s = &job->strip.state;
  const size_t lookahead = static_cast<size_t>(s->targetStm->ptr - job->strip.bytes) - 1;
  if (s->nextByte == kEndOfData || lookahead >= job->consumedEnd) return;
  const uint8_t* p = job->strip.bytes + lookahead;
  const uint8_t* end = job->strip.bytes + job->consumedEnd;
  const void* ff = std::memchr(p, kMarkerPrefix, static_cast<size_t>(end - p));
  if (ff == nullptr) return;
  for (p = static_cast<const uint8_t*>(ff); p < end && *p == kMarkerPrefix; p++) {
  }
  if (p == end) return;  // only fill bytes before the ending marker
  job->diverged = 1;
  job->resumeAt = lookahead + 1;
}

// Raster lines of the strip that lie inside the image.
int32_t LinesInStrip(const DCTState* state, int32_t firstLine) {
  const int32_t lines = DCTLinesPerStrip(state);
  return state->Rows - firstLine < lines ? state->Rows - firstLine : lines;
}

// The strip's lines, made as the serial decoder makes them one at a time
// into its line buffer; the vertical fast path updates the line before in
// place, so each line starts as a copy of it then.
void MakeLines(DecodeJob* job, int32_t strip) {
  DCTState* s = &job->strip.state;
  const int32_t maxV = s->maxVSamples;
  const int32_t count = LinesInStrip(s, s->linesEmitted);
  uint8_t* first = job->strip.lines + static_cast<size_t>(strip) * DCTLinesPerStrip(s) * job->strip.lineStride;
  for (int32_t i = 0; i < count; i++) {
    s->lineBuffer = first + static_cast<size_t>(i) * job->strip.lineStride;
    if (i > 0 && s->vFastMode == kVFastLumaOnly) {
      std::memcpy(s->lineBuffer, s->lineBuffer - job->strip.lineStride, job->strip.lineStride);
    }
    DCTPutNCLine(s, i / maxV, i % maxV);
  }
}

// The job's strips, as the serial decoder decodes them one after the other
// (the resync at each strip's first MCU reads the restart marker between
// them), each strip's lines made as soon as it is decoded: when a later
// strip fails, the lines before it are handed out first, as they would be.
void DecodeJobStrip(DCTStripJob* strip) {
  auto* job = reinterpret_cast<DecodeJob*>(strip);
  DCTState* s = &job->strip.state;
  DCTDinit_sgetv(s);
  for (job->stripsDone = 0; job->stripsDone < job->strip.stripCount; job->stripsDone++) {
    DCTDdecodeStrip(s);
    MakeLines(job, job->stripsDone);
    s->linesEmitted += DCTLinesPerStrip(s);
  }
  EndWindows(job->strip.bytes, &job->window);
  NoteWhereReadingGoesOn(job);
}

void RunJob(DCTPoolJob* work) {
  auto* job = reinterpret_cast<DecodeJob*>(work);
  DCTParallelRunGuarded(&job->strip, &DecodeJobStrip);
  EndWindows(job->strip.bytes, &job->window);  // a failed job's bytes are whole too
}

// --- reading ahead ----------------------------------------------------------------

void Append(DecodeJob* job, const uint8_t* p, size_t n) {
  if (job->size + n > job->strip.capacity) {
    const size_t capacity = 2 * (job->size + n);
    auto* bytes = static_cast<uint8_t*>(std::realloc(job->strip.bytes, capacity + 1));
    if (bytes == nullptr) DCTStmErr0("Insufficient storage");
    job->strip.bytes = bytes;
    job->strip.capacity = capacity;
  }
  std::memcpy(job->strip.bytes + job->size, p, n);
  job->size += n;
}

void AppendByte(DecodeJob* job, int32_t b) {
  const uint8_t byte = static_cast<uint8_t>(b);
  Append(job, &byte, 1);
}

// The data byte in the lookahead and the plain ones after it in the source
// buffer, up to the next 0xFF, go in at once.
void AppendDataRun(DCTState* state, DecodeJob* job) {
  AppendByte(job, state->nextByte);
  Stm* source = state->targetStm;
  if (source->count > 0) {
    const auto* run = source->ptr;
    const void* ff = std::memchr(run, kMarkerPrefix, static_cast<size_t>(source->count));
    const size_t n = ff != nullptr ? static_cast<size_t>(static_cast<const uint8_t*>(ff) - run)
                                   : static_cast<size_t>(source->count);
    Append(job, run, n);
    source->ptr += n;
    source->count = static_cast<int16_t>(source->count - static_cast<int32_t>(n));
  }
  state->nextByte = StmGetByte(source);
}

// Copies the strip's bytes, `inner` restart markers included, up to the
// marker after them or the end of the data; the ending marker is copied but
// left in the source, with its 0xFF in the lookahead. consumedEnd marks
// what was taken from the source.
StripEnd CollectStrip(DCTState* state, DecodeJob* job, int32_t inner) {
  Stm* source = state->targetStm;
  for (;;) {
    job->consumedEnd = job->size;
    if (state->nextByte == kEndOfData) return kEndedAtEndOfData;
    if (state->nextByte != kMarkerPrefix) {
      AppendDataRun(state, job);
      continue;
    }
    const int32_t code = StmGetByte(source);
    AppendByte(job, kMarkerPrefix);
    if (code == kMarkerPrefix) continue;  // a fill byte; the next 0xFF is the lookahead
    if (code == kEndOfData) return kEndedAtEndOfData;
    AppendByte(job, code);
    if (code == 0 || (JPEGIsRST(code) && inner-- > 0)) {  // stuffed zero, or an inner RSTn
      state->nextByte = StmGetByte(source);
      continue;
    }
    StmUnGetc(static_cast<int16_t>(code), source);
    return JPEGIsRST(code) ? kEndedAtRestart : kEndedAtOtherMarker;
  }
}

// Consumes what the serial resync consumes before a strip, keeping it in
// the job: bytes up to a 0xFF, fill bytes, and an RSTn code. Anything else
// stays for the serial decoder (false), with the 0xFF in the lookahead.
bool TakeRestartMarker(DCTState* state, DecodeJob* job) {
  Stm* source = state->targetStm;
  while (state->nextByte != kEndOfData && state->nextByte != kMarkerPrefix) {
    AppendByte(job, state->nextByte);
    state->nextByte = StmGetByte(source);
  }
  job->consumedEnd = job->size;
  if (state->nextByte == kEndOfData) return false;
  for (;;) {
    const int32_t code = StmGetByte(source);
    if (code == kEndOfData) return false;
    if (code == kMarkerPrefix) {
      AppendByte(job, kMarkerPrefix);  // the one before was a fill byte
      job->consumedEnd = job->size;
      continue;
    }
    if (!JPEGIsRST(code)) {
      StmUnGetc(static_cast<int16_t>(code), source);
      return false;
    }
    AppendByte(job, kMarkerPrefix);
    AppendByte(job, code);
    state->nextByte = StmGetByte(source);
    return true;
  }
}

// MCUs of the strip that starts at raster line `line`: block rows below the
// image are not coded in a one-component scan.
int32_t MCUsInStrip(const DCTState* state, int32_t line) {
  if (state->Colors > 1) return state->mcusPerRow;
  const int32_t v = state->components[0].vSamples;
  int32_t rows = 0;
  while (rows < v && line + DCTBlockSide(state) * rows < state->Rows) rows++;
  return rows * state->mcusPerRow;
}

int32_t BlocksPerMCU(const DCTState* state) {
  if (state->Colors == 1) return 1;
  int32_t blocks = 0;
  for (int32_t c = 0; c < state->Colors; c++) {
    blocks += state->components[c].hSamples * state->components[c].vSamples;
  }
  return blocks;
}

// The job's state: as the serial decoder's just after the resync that
// starts the strip fired (DC predictors reset, count restarted, marker
// number stepped); its first MCU's resync then only counts.
void PrepareJobState(DCTState* state, DecodeJob* job) {
  const DecodeRing* p = RingOf(state);
  DCTParallelSnapshot(&job->strip, state);
  DCTState* s = &job->strip.state;
  s->targetStm = &job->strip.stream;
  s->bitBuffer = 0;
  s->bitCount = 0;
  s->restartCountdown = state->restartInterval + 1;
  s->restartMarkerNumber = (p->gatherMarkerNumber + 1) & kDCTRestartNumberMask;
  s->blockNumber = p->gatherBlockNumber;
  s->linesEmitted = p->gatherLine;
  DCTreset_dc(s);
}

// Reads the next strip's bytes into the ring's next job and submits it; on
// anything but a strip that ends at the next RSTn, reading ahead stops.
void GatherStrip(DCTState* state) {
  DecodeRing* p = RingOf(state);
  if (p->gatherLine >= state->Rows) {
    p->gatherOpen = 0;
    return;
  }
  DecodeJob* job = JobAt(p, p->ring.inFlight);
  job->size = job->consumedEnd = 0;
  job->diverged = 0;
  if (!TakeRestartMarker(state, job)) {
    p->gatherOpen = 0;
    p->strayBytes = job->consumedEnd > 0 ? 1 : 0;
    return;
  }
  job->dataStart = job->size;
  // The job's strips, each starting an interval: their MCUs and intervals.
  const int32_t linesPerStrip = DCTLinesPerStrip(state);
  int32_t mcus = 0, intervals = 0;
  job->strip.stripCount = 0;
  for (int32_t line = p->gatherLine; line < state->Rows && job->strip.stripCount < p->ring.stripsPerJob;
       line += linesPerStrip) {
    const int32_t stripMCUs = MCUsInStrip(state, line);
    mcus += stripMCUs;
    intervals += (stripMCUs + state->restartInterval - 1) / state->restartInterval;
    job->strip.stripCount++;
  }
  const StripEnd end = CollectStrip(state, job, intervals - 1);
  PrepareJobState(state, job);
  OpenSource(job);
  DCTParallelSubmit(state, &job->strip);
  p->gatherMarkerNumber = (p->gatherMarkerNumber + intervals) & kDCTRestartNumberMask;
  p->gatherBlockNumber += mcus * BlocksPerMCU(state);
  p->gatherLine += job->strip.stripCount * linesPerStrip;
  job->endedAtEnd = end == kEndedAtEndOfData ? 1 : 0;
  if (end != kEndedAtRestart) p->gatherOpen = 0;
}

// Reading ahead starts at a strip boundary whose resync fires, on a scan
// decoded straight into strips.
bool StartReadAhead(DCTState* state) {
  if (!DCTParallelWanted(state) || state->coefStore != nullptr) return false;
  if (state->restartCountdown != 1 || state->linesEmitted >= state->Rows) return false;
  if (!DCTParallelStart(state, DCTRingLayout{&RunJob, sizeof(DecodeJob), sizeof(DecodeRing)},
                        state->outputLineBytes)) {
    state->codingThreads = 0;  // no workers to be had: stay serial
    return false;
  }
  DecodeRing* p = RingOf(state);
  p->ownLineBuffer = state->lineBuffer;
  p->gatherOpen = 1;
  p->gatherLine = state->linesEmitted;
  p->gatherBlockNumber = state->blockNumber;
  p->gatherMarkerNumber = state->restartMarkerNumber;
  return true;
}

// The job's counters into the state, as the serial decoder leaves them.
void TakeCounters(DCTState* state, const DecodeJob* job) {
  for (int32_t c = 0; c < state->Colors; c++) {
    state->components[c].lastDC = job->strip.state.components[c].lastDC;
  }
  state->blockNumber = job->strip.state.blockNumber;
  state->bitBuffer = job->strip.state.bitBuffer;
  state->bitCount = job->strip.state.bitCount;
  state->restartCountdown = job->strip.state.restartCountdown;
  state->restartMarkerNumber = job->strip.state.restartMarkerNumber;
  // A lone 0xFF at the end of the data: the strip's reader may have found
  // the end behind it (the lookahead, read ahead, is this job's).
  if (job->endedAtEnd && job->strip.state.nextByte == kEndOfData) state->nextByte = kEndOfData;
}


// --- handing read-ahead bytes back ------------------------------------------------

}  // namespace

// The serial decoder's source after a diverged strip: first the bytes read
// ahead that the serial reader has yet to see, a window at a time, then the
// source below, copied a buffer at a time as the reader asks for it.
struct DCTDReplaySource {
  Stm stm;
  Stm* below;
  uint8_t* bytes;        // the bytes handed back, one guard byte after them
  size_t size;
  WindowCursor window;
  uint8_t refill[kWindowBytes + 1];  // a buffer's worth from below, and its guard
};

namespace {

int16_t ReplayFill(Stm* s) {
  auto* r = static_cast<DCTDReplaySource*>(s->procData);
  if (r->window.end < r->size) return ServeWindow(s, r->bytes, r->size, &r->window);
  s->base = r->refill;
  const int32_t first = StmGetByte(r->below);
  if (first == kEndOfData) return StmRefillWithGuard(s, 0);
  r->refill[0] = static_cast<uint8_t>(first);
  const size_t more = r->below->count > 0 ? static_cast<size_t>(r->below->count) : 0;
  const size_t n = more < kWindowBytes - 1 ? more : kWindowBytes - 1;
  std::memcpy(r->refill + 1, r->below->ptr, n);
  r->below->ptr += n;
  r->below->count = static_cast<int16_t>(r->below->count - static_cast<int32_t>(n));
  return StmRefillWithGuard(s, n + 1);
}

// Bytes of job `offset` (from the head) taken from the source.
size_t Consumed(const DecodeRing* p, int32_t offset, uint8_t* out) {
  const DecodeJob* job = JobAt(p, offset);
  if (out != nullptr) std::memcpy(out, job->strip.bytes, job->consumedEnd);
  return job->consumedEnd;
}

// Every byte read ahead after the diverged job's resume point, in the
// order of the data (the lookahead byte last); returns the count, copying
// into out when given.
size_t ReadAheadBytes(const DCTState* state, const DecodeJob* diverged, uint8_t* out) {
  const DecodeRing* p = RingOf(state);
  size_t n = 0;
  if (diverged->resumeAt < diverged->consumedEnd) {
    n = diverged->consumedEnd - diverged->resumeAt;
    if (out != nullptr) std::memcpy(out, diverged->strip.bytes + diverged->resumeAt, n);
  }
  const int32_t later = p->ring.inFlight + (p->strayBytes ? 1 : 0);
  for (int32_t i = 0; i < later; i++) n += Consumed(p, i, out != nullptr ? out + n : nullptr);
  if (state->nextByte != kEndOfData) {
    if (out != nullptr) out[n] = static_cast<uint8_t>(state->nextByte);
    n++;
  }
  return n;
}

// After a diverged strip: the later jobs are dropped, the workers stopped,
// and the serial decoder reads on from where its reader stood in that
// strip, through a replay source of the bytes read ahead.
void HandBackReadAhead(DCTState* state, const DecodeJob* diverged) {
  DecodeRing* p = RingOf(state);
  for (int32_t i = 0; i < p->ring.inFlight; i++) DCTPoolWait(p->ring.pool, &DCTParallelJobAt(&p->ring, i)->work);
  const size_t n = ReadAheadBytes(state, diverged, nullptr);
  auto* r = static_cast<DCTDReplaySource*>(std::calloc(1, sizeof(DCTDReplaySource)));
  uint8_t* bytes = static_cast<uint8_t*>(std::malloc(n + 1));
  if (r == nullptr || bytes == nullptr) {
    std::free(r);
    std::free(bytes);
    DCTStmErr0("Insufficient storage");
  }
  ReadAheadBytes(state, diverged, bytes);
  r->bytes = bytes;
  r->size = n;
  r->below = state->targetStm;
  StartWindows(bytes, n, 0, &r->window);
  OpenWindowedSource(&r->stm, r, bytes, &ReplayFill);
  state->nextByte = diverged->strip.state.nextByte;
  DCTDFreeReplaySource(state);  // one from an earlier image, if any
  state->replaySource = r;
  state->targetStm = &r->stm;
  state->codingThreads = 0;
  // The later jobs are dropped; the ring stays (the diverged job's lines are
  // still to be handed out) and is freed with the strip memory.
  p->ring.inFlight = 0;
  p->gatherOpen = 0;
  p->strayBytes = 0;
}

}  // namespace

void DCTDFreeReplaySource(DCTState* state) {
  DCTDReplaySource* r = state->replaySource;
  if (r == nullptr) return;
  if (state->targetStm == &r->stm) state->targetStm = r->below;
  std::free(r->bytes);
  std::free(r);
  state->replaySource = nullptr;
}

bool DCTDParallelLine(DCTState* state) {
  const DecodeRing* p = RingOf(state);
  if (p == nullptr || p->linesFrom == nullptr) return false;
  const int32_t line = p->linesFromStrip * DCTLinesPerStrip(state) +
                       state->stripBlockLine * state->maxVSamples + state->stripSubLine;
  state->lineBuffer = p->linesFrom->strip.lines + static_cast<size_t>(line) * p->linesFrom->strip.lineStride;
  return true;
}

bool DCTDParallelStrip(DCTState* state) {
  if (state->parallel == nullptr && !StartReadAhead(state)) return false;
  DecodeRing* p = RingOf(state);
  if (p->linesFrom != nullptr && ++p->linesFromStrip < p->linesFrom->strip.stripCount) {
    if (p->linesFromStrip == p->linesFrom->stripsDone) DCTParallelRaise(&p->linesFrom->strip);
    return true;
  }
  p->linesFrom = nullptr;  // its slot may take the next job now
  state->lineBuffer = p->ownLineBuffer;
  while (p->gatherOpen && p->ring.inFlight < p->ring.slots) GatherStrip(state);
  if (p->ring.inFlight == 0) return false;  // the filter's thread decodes the rest
  const auto* job = reinterpret_cast<const DecodeJob*>(DCTParallelTakeHead(state));
  if (job->strip.failed && job->stripsDone == 0) DCTParallelRaise(&job->strip);
  TakeCounters(state, job);
  p->linesFrom = job;
  p->linesFromStrip = 0;
  if (job->diverged) HandBackReadAhead(state, job);
  return true;
}

void DCTDReleaseFilter(JPEGFilterContext* ctx) {
  if (ctx->state != nullptr) DCTDFreeReplaySource(ctx->state);  // no worker reads it
  DCTReleaseFilter(ctx);
}
