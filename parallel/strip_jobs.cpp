// strip_jobs.cpp - what the encoder's and the decoder's parallel strip
// coding share (strip_jobs.h): the ring of strip jobs, the state copies
// the workers code with, the error jump on the worker thread, and the
// exported switch, JPEGSetCodingThreads. The directions' own job records
// and parallel state live with them (parallel_encode.cpp,
// parallel_decode.cpp); here a job is the generic DCTStripJob they begin with.
#include "parallel/strip_jobs.h"

#include <cstdlib>
#include <cstring>

#include "jpeg_filters.h"
#include "stream/error_path.h"

namespace {

constexpr size_t kFirstByteCapacity = 65536;  // grows as a strip's data needs
constexpr int32_t kJobsPerThread = 2;         // so no worker waits for the next strip
constexpr int32_t kSpareJobs = 2;             // jobs the filter's thread has at hand
// Pixels a job should hold: a few hundred microseconds of coding, against a
// few microseconds of waking a worker and copying the codec state.
constexpr int64_t kJobPixels = int64_t{1} << 17;
constexpr int32_t kJobsPerWorkerPerImage = 4;  // at least, where the image has the strips
// What the ring of jobs may hold at its start (raster lines, component
// strips, compressed bytes), but for two jobs, which it always has.
constexpr int64_t kMostRingBytes = int64_t{32} << 20;
constexpr int32_t kLeastSlots = 2;

int32_t ImageStrips(const DCTState* state) {
  return (state->Rows + DCTLinesPerStrip(state) - 1) / DCTLinesPerStrip(state);
}

// Strips per job for the state's image and worker count.
int32_t StripsPerJob(const DCTState* state) {
  const int64_t stripPixels = int64_t{DCTLinesPerStrip(state)} * (state->Columns > 0 ? state->Columns : 1);
  int64_t strips = (kJobPixels + stripPixels - 1) / stripPixels;
  const int64_t fewest = ImageStrips(state) / (kJobsPerWorkerPerImage * int64_t{state->codingThreads});
  if (strips > fewest) strips = fewest;
  return strips < 1 ? 1 : static_cast<int32_t>(strips);
}

void FreeJob(DCTStripJob* job) {
  if (job == nullptr) return;
  for (uint8_t* strip : job->strips) std::free(strip);
  std::free(job->bytes);
  std::free(job->lines);
  std::free(job);
}

// A line's room in a job: the line buffer's, for lines of lineBytes
// (codec/strip_memory.cpp sizes the line area so).
size_t LineStride(const DCTState* state, int32_t lineBytes) {
  return static_cast<size_t>(DCTceil4(lineBytes + 3 * state->Colors + 8));
}

int32_t LinesPerJob(const DCTState* state, int32_t stripsPerJob) {
  return stripsPerJob * DCTLinesPerStrip(state);
}

// What one job holds at its start.
int64_t JobBytes(const DCTState* state, int32_t stripsPerJob, int32_t lineBytes) {
  int64_t bytes = int64_t{sizeof(DCTStripJob) + kDCTJobOwnFieldBytes} + int64_t{kFirstByteCapacity} +
                  int64_t{LinesPerJob(state, stripsPerJob)} * static_cast<int64_t>(LineStride(state, lineBytes));
  for (int32_t c = 0; c < state->Colors; c++) bytes += DCTstrip_bytes(&state->components[c], state->maxVSamples);
  return bytes;
}

// Jobs in the ring: two for every worker and two at hand, but no more than
// the image has jobs (and one), nor than kMostRingBytes hold.
int32_t RingSlots(const DCTState* state, int32_t stripsPerJob, int32_t lineBytes) {
  int64_t slots = int64_t{kJobsPerThread} * state->codingThreads + kSpareJobs;
  const int64_t imageJobs = (ImageStrips(state) + stripsPerJob - 1) / stripsPerJob;
  if (slots > imageJobs + 1) slots = imageJobs + 1;
  const int64_t fit = kMostRingBytes / JobBytes(state, stripsPerJob, lineBytes);
  if (slots > fit) slots = fit;
  return slots < kLeastSlots ? kLeastSlots : static_cast<int32_t>(slots);
}

// Workers worth starting: one fewer than the jobs the ring holds (the
// filter's thread works on one), at most those asked for.
int32_t UsefulWorkers(const DCTState* state, int32_t slots) {
  return state->codingThreads < slots - 1 ? state->codingThreads : slots - 1;
}

DCTStripJob* NewJob(const DCTState* state, const DCTRingLayout& layout, int32_t lines, size_t stride) {
  auto* job = static_cast<DCTStripJob*>(std::calloc(1, layout.jobBytes));
  if (job == nullptr) return nullptr;
  job->work.run = layout.run;
  job->bytes = static_cast<uint8_t*>(std::malloc(kFirstByteCapacity + 1));
  job->capacity = kFirstByteCapacity;
  job->lineStride = stride;
  job->lines = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(lines), stride));
  bool complete = job->bytes != nullptr && job->lines != nullptr;
  for (int32_t c = 0; c < state->Colors && complete; c++) {
    const int32_t bytes = DCTstrip_bytes(&state->components[c], state->maxVSamples);
    job->strips[c] = static_cast<uint8_t*>(std::calloc(1, static_cast<size_t>(bytes)));
    complete = job->strips[c] != nullptr;
  }
  if (complete) return job;
  FreeJob(job);
  return nullptr;
}

void FreeRing(DCTParallel* p) {
  for (int32_t i = 0; i < p->slots; i++) FreeJob(p->jobs[i]);
  std::free(p->jobs);
  std::free(p);
}

}  // namespace

int32_t DCTMCUsPerStrip(const DCTState* state) {
  if (state->Colors > 1) return state->mcusPerRow;
  return state->mcusPerRow * state->components[0].vSamples;
}

bool DCTParallelWanted(const DCTState* state) {
  if (state->codingThreads < 2 || state->restartInterval <= 0) return false;
  return DCTMCUsPerStrip(state) % state->restartInterval == 0;
}

bool DCTParallelStart(DCTState* state, const DCTRingLayout& layout, int32_t lineBytes) {
  auto* p = static_cast<DCTParallel*>(std::calloc(1, layout.ringBytes));
  if (p == nullptr) return false;
  p->stripsPerJob = StripsPerJob(state);
  p->slots = RingSlots(state, p->stripsPerJob, lineBytes);
  p->jobs = static_cast<DCTStripJob**>(std::calloc(static_cast<size_t>(p->slots), sizeof(DCTStripJob*)));
  bool complete = p->jobs != nullptr;
  for (int32_t i = 0; complete && i < p->slots; i++) {
    p->jobs[i] = NewJob(state, layout, LinesPerJob(state, p->stripsPerJob), LineStride(state, lineBytes));
    complete = p->jobs[i] != nullptr;
  }
  if (complete) p->pool = DCTPoolCreate(UsefulWorkers(state, p->slots));
  if (p->pool == nullptr) {
    if (p->jobs != nullptr) FreeRing(p); else std::free(p);
    return false;
  }
  state->parallel = p;
  return true;
}

int32_t DCTLinesPerStrip(const DCTState* state) { return DCTBlockSide(state) * state->maxVSamples; }

void DCTParallelRelease(DCTState* state) {
  DCTParallel* p = state->parallel;
  if (p == nullptr) return;
  state->parallel = nullptr;
  for (int32_t i = 0; i < p->inFlight; i++) DCTPoolWait(p->pool, &DCTParallelJobAt(p, i)->work);
  DCTPoolDestroy(p->pool);
  FreeRing(p);
}

DCTStripJob* DCTParallelJobAt(const DCTParallel* p, int32_t offset) {
  return p->jobs[(p->head + offset) % p->slots];
}

DCTStripJob* DCTParallelTakeHead(DCTState* state) {
  DCTParallel* p = state->parallel;
  DCTStripJob* job = DCTParallelJobAt(p, 0);
  DCTPoolWait(p->pool, &job->work);
  p->head = (p->head + 1) % p->slots;
  p->inFlight--;
  return job;
}

void DCTParallelRaise(const DCTStripJob* job) { DCTStmErr0(job->message); }

void DCTParallelSnapshot(DCTStripJob* job, const DCTState* state) {
  std::memcpy(&job->state, state, sizeof(DCTState));
  for (int32_t c = 0; c < state->Colors; c++) job->state.components[c].strip = job->strips[c];
  job->state.parallel = nullptr;
  job->state.codingThreads = 0;
  job->failed = 0;
  job->message[0] = '\0';
}

void DCTParallelSubmit(DCTState* state, DCTStripJob* job) {
  state->parallel->inFlight++;
  DCTPoolSubmit(state->parallel->pool, &job->work);
}

void DCTParallelRunGuarded(DCTStripJob* job, void (*code)(DCTStripJob* job)) {
  DCTSavedEnv saved;
  DCTSaveEnv(&saved, job->message);
  if (setjmp(gEnv) != 0) {
    job->failed = 1;
    DCTEndTry(&saved);
    return;
  }
  code(job);
  DCTEndTry(&saved);
}

int32_t JPEGSetCodingThreads(Stm* filter, int32_t threads) {
  if (filter == nullptr || filter->procData == nullptr) return -1;
  const bool encoder = filter->flsBuf == &JPEGEFlsBuf;
  const bool decoder = filter->filBuf == &JPEGDFilBuf;
  if (!encoder && !decoder) return -1;
  DCTState* state = static_cast<JPEGFilterContext*>(filter->procData)->state;
  if (state == nullptr || filter->error) return -1;
  // The encoder decides at its first line, the decoder at its next strip.
  if (encoder && state->phase != kEncPhaseHeader) return -1;
  if (decoder && state->parallel != nullptr) return -1;
  if (threads < 0) threads = 0;
  if (threads > kDCTMostCodingThreads) threads = kDCTMostCodingThreads;
  state->codingThreads = threads;
  return threads;
}
