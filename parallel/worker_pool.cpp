// worker_pool.cpp - the worker pool of worker_pool.h: standard threads, one
// mutex, a queue of jobs and two condition variables (work to do, work done).
//
// This file is the one place of the codec core with C++ objects that have
// destructors (the threads, the lock guards). That is safe because no codec
// error ever jumps through it: the jobs it runs arm their own jump on the
// worker thread and land inside the job, and nothing here raises.
#include "parallel/worker_pool.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

struct DCTWorkerPool {
  std::mutex lock;
  std::condition_variable workToDo;
  std::condition_variable workDone;
  std::deque<DCTPoolJob*> queue;
  std::vector<std::thread> threads;
  bool stopping = false;
};

namespace {

void WorkerLoop(DCTWorkerPool* pool) {
  std::unique_lock<std::mutex> guard(pool->lock);
  for (;;) {
    pool->workToDo.wait(guard, [pool] { return pool->stopping || !pool->queue.empty(); });
    if (pool->queue.empty()) return;  // stopping, and nothing is left to run
    DCTPoolJob* job = pool->queue.front();
    pool->queue.pop_front();
    guard.unlock();
    job->run(job);
    guard.lock();
    job->status = kJobDone;
    pool->workDone.notify_all();
  }
}

}  // namespace

DCTWorkerPool* DCTPoolCreate(int32_t threads) {
  auto* pool = new (std::nothrow) DCTWorkerPool;
  if (pool == nullptr) return nullptr;
  try {
    pool->threads.reserve(static_cast<size_t>(threads));
    // A lambda (a type without linkage) keeps the thread's standard-library
    // instances local to this file instead of exported from the library.
    for (int32_t i = 0; i < threads; i++) pool->threads.emplace_back([pool] { WorkerLoop(pool); });
  } catch (const std::exception&) {
    // Out of threads or memory: run with those that started, if any.
  }
  if (pool->threads.empty()) {
    delete pool;
    return nullptr;
  }
  return pool;
}

void DCTPoolSubmit(DCTWorkerPool* pool, DCTPoolJob* job) {
  {
    std::lock_guard<std::mutex> guard(pool->lock);
    job->status = kJobQueued;
    pool->queue.push_back(job);
  }
  pool->workToDo.notify_one();
}

void DCTPoolWait(DCTWorkerPool* pool, DCTPoolJob* job) {
  std::unique_lock<std::mutex> guard(pool->lock);
  pool->workDone.wait(guard, [job] { return job->status != kJobQueued; });
}

void DCTPoolDestroy(DCTWorkerPool* pool) {
  if (pool == nullptr) return;
  {
    std::lock_guard<std::mutex> guard(pool->lock);
    pool->stopping = true;
  }
  pool->workToDo.notify_all();
  for (std::thread& t : pool->threads) t.join();
  delete pool;
}
