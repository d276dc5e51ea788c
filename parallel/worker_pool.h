// worker_pool.h - a small pool of worker threads for the codec's opt-in
// parallel strip coding (strip_jobs.h).
//
// A job is a record that starts with a DCTPoolJob; the pool runs job->run on
// one of its threads. Jobs run in the order submitted, any number at once;
// the submitter waits for a particular job when it needs its result. The
// pool never raises through the codec's error path: a job catches its own
// failures (it arms the jump on its worker thread) and records them, and the
// pool's procedures only report failure by their results.
#ifndef JPEG_PARALLEL_WORKER_POOL_H
#define JPEG_PARALLEL_WORKER_POOL_H

#include <cstdint>

struct DCTPoolJob {
  void (*run)(DCTPoolJob* job);
  int32_t status;  // guarded by the pool: kJobIdle, kJobQueued or kJobDone
};

enum DCTPoolJobStatus : int32_t { kJobIdle = 0, kJobQueued = 1, kJobDone = 2 };

struct DCTWorkerPool;

// A pool of `threads` workers, or null when not even one could be started.
DCTWorkerPool* DCTPoolCreate(int32_t threads);
// Queues a job (its status must not be kJobQueued).
void DCTPoolSubmit(DCTWorkerPool* pool, DCTPoolJob* job);
// Waits until the job has run; at once for a job that is not queued.
void DCTPoolWait(DCTWorkerPool* pool, DCTPoolJob* job);
// Runs what is queued, stops the workers and frees the pool.
void DCTPoolDestroy(DCTWorkerPool* pool);

#endif
