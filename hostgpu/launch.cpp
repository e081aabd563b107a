// Kernel launch: blocks go to the worker pool in chunks. Each worker runs its chunk as
// plain loops on one fiber; when a thread of some block reaches __syncthreads, that
// fiber becomes the thread's fiber, the block's later threads get fibers of their own, and
// the block finishes cooperatively: a thread that reaches the barrier hands the worker
// straight to the next thread of the block that has not, and the last one to arrive
// resumes the first. Threads that return early no longer count at the barrier. Once the
// block is done the worker starts a fresh plain loop on the blocks after it.
#include <gpu_launch.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "faults.h"
#include "fiber.h"
#include "workers.h"

namespace hostgpu {
namespace {

constexpr unsigned kMaxBlockThreads = 1024;

struct Launch {
  const void* args;
  BlockRangeFn plain;
  ThreadFn one;
  dim3 grid;
  dim3 block;
};

struct Worker {
  const Launch* launch = nullptr;
  Fiber native;  // the worker thread itself
  Fiber plain;   // runs plain loops; becomes a thread's fiber at a barrier
  unsigned rangeFirst = 0, rangeEnd = 0;
  bool fiberMode = false;           // the current block runs as fibers
  unsigned block = 0;               // that block
  unsigned firstBarrierThread = 0;  // the thread the plain fiber became
  unsigned alive = 0;               // its threads that have not returned
  unsigned arrived = 0;             // of those, the ones waiting at the barrier
  Fiber* thread[kMaxBlockThreads];  // each thread's fiber, null until it starts
  bool done[kMaxBlockThreads];
  Fiber slot[kMaxBlockThreads];  // fibers for threads after the first barrier thread

  ~Worker() {
    releaseFiber(plain);
    for (Fiber& f : slot) releaseFiber(f);
  }
};

thread_local Worker* current = nullptr;

Worker& worker() {
  // Kept for the thread's life; the stacks in it are reused by every launch.
  thread_local std::unique_ptr<Worker> w;
  if (!w) {
    w = std::make_unique<Worker>();
    adoptThread(w->native);
  }
  return *w;  // NOLINT(clang-analyzer-cplusplus.NewDelete): w was just assigned, nothing freed it
}

void threadBody(Fiber& self);

Fiber& fiberOf(Worker& w, unsigned t) {
  if (w.thread[t] == nullptr) {
    startFiber(w.slot[t], threadBody);
    w.thread[t] = &w.slot[t];
  }
  return *w.thread[t];
}

unsigned firstAlive(const Worker& w) {
  unsigned t = 0;
  while (w.done[t]) ++t;
  return t;
}

unsigned nextAliveAfter(const Worker& w, unsigned t) {
  do ++t;
  while (w.done[t]);
  return t;
}

// Picks who runs after thread `me` has arrived at the barrier or returned.
unsigned successor(Worker& w, unsigned me) {
  if (w.arrived == w.alive) {
    w.arrived = 0;  // everyone is at the barrier: release it
    return firstAlive(w);
  }
  return nextAliveAfter(w, me);
}

[[noreturn]] void threadFinished(Worker& w, unsigned me) {
  w.done[me] = true;
  --w.alive;
  if (w.alive == 0)
    switchFiber(nullptr, w.native);
  else
    switchFiber(nullptr, fiberOf(w, successor(w, me)));
  std::abort();
}

void threadBody(Fiber& self) {
  Worker& w = *current;
  unsigned me = static_cast<unsigned>(&self - w.slot);
  threadIdx = uint3{me, 0, 0};
  blockIdx = uint3{w.block, 0, 0};
  w.launch->one(w.launch->args);
  threadFinished(w, me);
}

void plainBody(Fiber&) {
  Worker& w = *current;
  w.launch->plain(w.launch->args, w.rangeFirst, w.rangeEnd);
  if (!w.fiberMode) switchFiber(nullptr, w.native);
  threadFinished(w, w.firstBarrierThread);
}

void enterFiberMode(Worker& w, unsigned me) {
  w.fiberMode = true;
  abandonPlainLoop = true;
  w.block = blockIdx.x;
  w.firstBarrierThread = me;
  const unsigned width = w.launch->block.x;
  for (unsigned t = 0; t < width; ++t) {
    w.thread[t] = nullptr;
    w.done[t] = t < me;  // the plain loop ran these to their end already
  }
  w.thread[me] = &w.plain;
  w.alive = width - me;
  w.arrived = 0;
}

void runRange(Worker& w, unsigned first, unsigned end) {
  while (first < end) {
    w.fiberMode = false;
    abandonPlainLoop = false;
    w.rangeFirst = first;
    w.rangeEnd = end;
    startFiber(w.plain, plainBody);
    switchFiber(&w.native, w.plain);
    if (!w.fiberMode) break;
    first = w.block + 1;
  }
  abandonPlainLoop = false;
}

void runChunk(void* context, size_t first, size_t end) {
  const Launch& launch = *static_cast<const Launch*>(context);
  Worker& w = worker();
  current = &w;
  w.launch = &launch;
  gridDim = launch.grid;
  blockDim = launch.block;
  runRange(w, static_cast<unsigned>(first), static_cast<unsigned>(end));
  w.launch = nullptr;
}

}  // namespace

bool wideCode() {
  static const bool wide = [] {
    const char* isa = std::getenv("HOSTGPU_ISA");
    if (isa != nullptr && std::strcmp(isa, "portable") == 0) return false;
#if defined(__x86_64__)
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
  }();
  return wide;
}

void syncthreads() {
  Worker* w = current;
  if (w == nullptr || w->launch == nullptr) {
    std::fputs("hostgpu: __syncthreads() called outside a kernel launch\n", stderr);
    std::abort();
  }
  const unsigned me = threadIdx.x;
  if (!w->fiberMode) enterFiberMode(*w, me);
  ++w->arrived;
  const unsigned next = successor(*w, me);
  if (next != me) switchFiber(w->thread[me], fiberOf(*w, next));
  threadIdx = uint3{me, 0, 0};
  blockIdx = uint3{w->block, 0, 0};
}

cudaError_t launchGrid(dim3 grid, dim3 block, const void* args, BlockRangeFn plain, ThreadFn one) {
  const bool oneDimensional = grid.y == 1 && grid.z == 1 && block.y == 1 && block.z == 1;
  if (!oneDimensional || grid.x == 0 || block.x == 0 || block.x > kMaxBlockThreads)
    return record(cudaErrorInvalidConfiguration);
  const Launch launch{args, plain, one, grid, block};
  // A few chunks per worker keeps the cores evenly loaded when blocks differ in cost.
  const size_t chunk = std::max<size_t>(1, grid.x / (workerCount() * 8));
  parallelFor(grid.x, chunk, runChunk, const_cast<Launch*>(&launch));
  return cudaSuccess;
}

}  // namespace hostgpu
