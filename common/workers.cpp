#include "workers.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

struct Job {
  WorkFn fn = nullptr;
  void* context = nullptr;
  size_t count = 0;
  size_t chunk = 1;
  std::atomic<size_t> next{0};
};

// Never destroyed: detached workers may still be waiting on it while the process exits.
struct Pool {
  std::mutex mutex;                  // guards everything below but the job's counter
  std::condition_variable wake;      // workers wait here for a new generation
  std::condition_variable finished;  // the caller waits here for the workers
  Job* job = nullptr;
  unsigned long generation = 0;  // bumped for every job
  unsigned busy = 0;             // workers still inside the current job
};
Pool& pool() {
  static Pool* p = new Pool;
  return *p;
}
thread_local bool insideWorker = false;

void drain(Job& j) {
  for (;;) {
    size_t begin = j.next.fetch_add(j.chunk, std::memory_order_relaxed);
    if (begin >= j.count) return;
    j.fn(j.context, begin, std::min(begin + j.chunk, j.count));
  }
}

void workerMain() {
  insideWorker = true;
  Pool& p = pool();
  unsigned long seen = 0;
  std::unique_lock<std::mutex> lock(p.mutex);
  for (;;) {
    p.wake.wait(lock, [&] { return p.generation != seen; });
    seen = p.generation;
    Job* j = p.job;
    lock.unlock();
    drain(*j);
    lock.lock();
    if (--p.busy == 0) p.finished.notify_one();
  }
}

unsigned decideCount() {
  if (const char* env = std::getenv("VELMORA_THREADS")) {
    int n = std::atoi(env);
    if (n > 0) return static_cast<unsigned>(std::min(n, 256));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

void startThreads() {
  // Workers live for the whole process; they block on `wake` when idle and are never
  // joined, so exit() from any thread does not wait for them.
  static std::once_flag once;
  std::call_once(once, [] {
    for (unsigned i = 1; i < workerCount(); ++i) std::thread(workerMain).detach();
  });
}

}  // namespace

unsigned workerCount() {
  static const unsigned count = decideCount();
  return count;
}

void parallelFor(size_t count, size_t chunk, WorkFn fn, void* context) {
  if (count == 0) return;
  chunk = std::max<size_t>(chunk, 1);
  if (insideWorker || workerCount() == 1 || count <= chunk) {
    fn(context, 0, count);
    return;
  }
  startThreads();
  static std::mutex callers;  // one job at a time
  std::lock_guard<std::mutex> one(callers);
  Job j;
  j.fn = fn;
  j.context = context;
  j.count = count;
  j.chunk = chunk;
  Pool& p = pool();
  {
    std::lock_guard<std::mutex> lock(p.mutex);
    p.job = &j;
    p.busy = workerCount() - 1;
    ++p.generation;
  }
  p.wake.notify_all();
  insideWorker = true;
  drain(j);
  insideWorker = false;
  std::unique_lock<std::mutex> lock(p.mutex);
  p.finished.wait(lock, [&] { return p.busy == 0; });
  p.job = nullptr;
}
