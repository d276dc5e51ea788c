// strip_jobs.h - opt-in coding of restart intervals on worker threads.
//
// Restart markers cut the entropy-coded data into intervals that do not
// depend on one another: each starts byte-aligned with the DC predictors at
// zero (ITU-T T.81 F.1.2.3, E.1.4). When every strip (MCU row) of a scan
// begins a new interval, which is so for every file the encoder writes (one
// interval per MCU row), strips can be coded on several threads at once:
//
//  - the encoder (parallel_encode.cpp) keeps the raster lines of the next
//    strips in a job and has a worker convert and code them into a byte
//    buffer of its own; the filter's thread goes on taking lines and writes
//    the buffers out in order when the ring of jobs is full (or at the
//    end), joining them with the padding the serial coder writes before a
//    restart marker;
//  - the decoder (parallel_decode.cpp) reads ahead the compressed bytes of
//    the next strips, up to their restart markers, and has workers decode
//    them into raster lines, which the filter's thread hands out in order.
//
// A job is a run of consecutive strips, enough pixels that handing it over
// costs little beside its coding, yet few enough strips that every worker
// has several jobs of an image. Within a job the worker runs the serial
// coder itself, restart markers and all.
//
// The bytes written and the samples made are exactly those of the serial
// coder, errors included: a worker's failure is raised by the filter's
// thread, with the same message, when the serial coder would have reached
// it. Each job works on a copy of the codec state (tables are shared
// read-only), so the workers share nothing mutable.
#ifndef JPEG_PARALLEL_STRIP_JOBS_H
#define JPEG_PARALLEL_STRIP_JOBS_H

#include <cstddef>
#include <cstdint>

#include "codec/codec_state.h"
#include "parallel/worker_pool.h"

// Most worker threads a filter may ask for.
constexpr int32_t kDCTMostCodingThreads = 64;
// Raster lines of a block row of a component sampled at 1: a strip has
// this many times the largest vertical sampling factor.
constexpr int32_t kDCTBlockLines = 8;
// Restart markers are numbered modulo 8 (RST0..RST7): the mask that wraps a count.
constexpr int32_t kDCTRestartNumberMask = 7;

// The part of a strip job every direction has: a direction's own job record
// (parallel_encode.cpp, parallel_decode.cpp) begins with it, and the ring
// allocates each job at the size the direction asks for.
struct DCTStripJob {
  DCTPoolJob work;         // first: the pool's view of the job
  DCTState state;          // the codec state the worker codes with
  uint8_t* strips[4];      // the job's own component strips
  uint8_t* bytes;          // the job's compressed bytes
  size_t capacity;         // room at `bytes`, one guard byte not counted
  uint8_t* lines;          // the raster lines of the job's strips
  size_t lineStride;       // bytes from one of them to the next
  Stm stream;              // writes or reads `bytes` for the worker's coder
  int32_t stripCount;      // strips in the job
  int32_t failed;          // the worker's coding raised an error
  char message[256];       // its message
};

// The ring of strip jobs and the workers that run them. A direction's own
// parallel state begins with it; DCTState::parallel points at it.
struct DCTParallel {
  DCTWorkerPool* pool;
  DCTStripJob** jobs;    // a ring of `slots` jobs
  int32_t slots;
  int32_t stripsPerJob;  // strips a job takes (the last job of an image may take fewer)
  int32_t head;          // the oldest job in flight
  int32_t inFlight;
};

// What the ring counts for a direction's own job fields when it sizes
// itself: a fixed allowance, so the ring holds as many jobs in either
// direction as it did when one record carried both directions' fields.
constexpr size_t kDCTJobOwnFieldBytes = 72;

// What a direction's ring is made of: the procedure its workers run, and
// the sizes of its job record and its parallel state, each beginning with
// the generic one above.
struct DCTRingLayout {
  void (*run)(DCTPoolJob* job);
  size_t jobBytes;
  size_t ringBytes;
};

// MCUs of a strip that lies wholly inside the image.
int32_t DCTMCUsPerStrip(const DCTState* state);
// Whether the state may code its strips on workers: threads were asked for,
// the scan has restart intervals and every strip starts a new one.
bool DCTParallelWanted(const DCTState* state);
// Starts the workers and the ring of strip jobs (zeroed records of the
// layout's sizes), each with strip buffers
// sized as the state's and room for the raster lines of its strips, each
// as long as the line buffer for lines of lineBytes (the same margin after
// it); false, with nothing started, when that fails: the caller then codes
// on its own thread. The ring holds at most 32 MB at its start
// (but two jobs, whatever their size) and no more jobs than the image has
// and one; no more workers start than the ring can keep busy.
bool DCTParallelStart(DCTState* state, const DCTRingLayout& layout, int32_t lineBytes);
// Raster lines of one strip (of a reduced image: of its reduced strips).
int32_t DCTLinesPerStrip(const DCTState* state);
// Waits for every job in flight, stops the workers and frees it all.
void DCTParallelRelease(DCTState* state);
// Frees the state's workers (first: they may still read its tables), the
// memory its releaseWork names and its strip memory (filter_release.cpp).
void DCTfree(DCTState* state);
// Frees a filter context with everything it owns: marker data, workers,
// strip memory, state (filter_release.cpp). What a direction keeps outside
// the strip memory it frees first (the decoder: DCTDReleaseFilter).
void DCTReleaseFilter(JPEGFilterContext* ctx);

// The job at ring position `offset` from the head.
DCTStripJob* DCTParallelJobAt(const DCTParallel* p, int32_t offset);
// Takes the head job off the ring once it has run.
DCTStripJob* DCTParallelTakeHead(DCTState* state);
// Raises the error the job's worker met, with its message, on this thread.
[[noreturn]] void DCTParallelRaise(const DCTStripJob* job);
// The state copy a job starts from: the caller's, with the job's strips.
void DCTParallelSnapshot(DCTStripJob* job, const DCTState* state);
// Submits the job at the ring's tail.
void DCTParallelSubmit(DCTState* state, DCTStripJob* job);
// Arms the error jump on the worker thread around one strip's coding.
void DCTParallelRunGuarded(DCTStripJob* job, void (*code)(DCTStripJob* job));

#endif
