// The host GPU runtime without OpenGL: error texts, memory, launch configuration, and
// kernels with and without __syncthreads and __shared__ run over the worker pool.
#include <gtest/gtest.h>

#include <cuda_runtime.h>
#include <gpu_launch.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "workers.h"

namespace {

// ---- Error names and descriptions -----------------------------------------------------

TEST(ErrorTexts, MatchTheCudaRuntimes) {
  // Codes and texts as libcudart reports them.
  struct Case {
    int code;
    const char* name;
    const char* description;
  } cases[] = {
      {0, "cudaSuccess", "no error"},
      {1, "cudaErrorInvalidValue", "invalid argument"},
      {2, "cudaErrorMemoryAllocation", "out of memory"},
      {3, "cudaErrorInitializationError", "initialization error"},
      {9, "cudaErrorInvalidConfiguration", "invalid configuration argument"},
      {17, "cudaErrorInvalidDevicePointer", "invalid device pointer"},
      {101, "cudaErrorInvalidDevice", "invalid device ordinal"},
      {205, "cudaErrorMapBufferObjectFailed", "mapping of buffer object failed"},
      {206, "cudaErrorUnmapBufferObjectFailed", "unmapping of buffer object failed"},
      {208, "cudaErrorAlreadyMapped", "resource already mapped"},
      {211, "cudaErrorNotMapped", "resource not mapped"},
      {219, "cudaErrorInvalidGraphicsContext", "invalid OpenGL or DirectX context"},
      {400, "cudaErrorInvalidResourceHandle", "invalid resource handle"},
      {999, "cudaErrorUnknown", "unknown error"},
  };
  for (const Case& c : cases) {
    const cudaError_t e = static_cast<cudaError_t>(c.code);
    EXPECT_STREQ(cudaGetErrorName(e), c.name) << c.code;
    EXPECT_STREQ(cudaGetErrorString(e), c.description) << c.code;
  }
  EXPECT_EQ(cudaErrorNotMapped, 211);
  EXPECT_EQ(cudaErrorInvalidGraphicsContext, 219);
  EXPECT_EQ(cudaErrorInvalidResourceHandle, 400);
  for (int unknown : {-1, 12345, 77777}) {
    EXPECT_STREQ(cudaGetErrorString(static_cast<cudaError_t>(unknown)), "unrecognized error code") << unknown;
    EXPECT_STREQ(cudaGetErrorName(static_cast<cudaError_t>(unknown)), "unrecognized error code") << unknown;
  }
}

// ---- Memory ---------------------------------------------------------------------------

TEST(DeviceMemory, AllocateCopyEveryWayAndFree) {
  const size_t n = 1000;
  std::vector<int> source(n), back(n, -1);
  for (size_t i = 0; i < n; ++i) source[i] = static_cast<int>(i * 7919);
  int *a = nullptr, *b = nullptr;
  ASSERT_EQ(cudaMalloc(&a, n * sizeof(int)), cudaSuccess);
  ASSERT_EQ(cudaMalloc(&b, n * sizeof(int)), cudaSuccess);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 256, 0u) << "cudaMalloc aligns to 256 bytes";
  EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 256, 0u);
  EXPECT_EQ(cudaMemcpy(a, source.data(), n * sizeof(int), cudaMemcpyHostToDevice), cudaSuccess);
  EXPECT_EQ(cudaMemcpy(b, a, n * sizeof(int), cudaMemcpyDeviceToDevice), cudaSuccess);
  EXPECT_EQ(cudaMemcpy(back.data(), b, n * sizeof(int), cudaMemcpyDeviceToHost), cudaSuccess);
  EXPECT_EQ(back, source);
  EXPECT_EQ(cudaMemset(b, 0, n * sizeof(int)), cudaSuccess);
  EXPECT_EQ(cudaMemcpy(back.data(), b, n * sizeof(int), cudaMemcpyDefault), cudaSuccess);
  EXPECT_EQ(back, std::vector<int>(n, 0));
  EXPECT_EQ(cudaFree(a), cudaSuccess);
  EXPECT_EQ(cudaFree(b), cudaSuccess);
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
}

TEST(DeviceMemory, ZeroSizesAndNullPointers) {
  void* p = reinterpret_cast<void*>(0x1);
  EXPECT_EQ(cudaMalloc(&p, 0), cudaSuccess);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(cudaFree(nullptr), cudaSuccess);
  EXPECT_EQ(cudaMemcpy(nullptr, nullptr, 0, cudaMemcpyHostToDevice), cudaSuccess);
  EXPECT_EQ(cudaMemset(nullptr, 0, 0), cudaSuccess);
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);

  int x = 0;
  struct Case {
    const char* what;
    cudaError_t (*call)(int*);
  } cases[] = {
      {"cudaMalloc into null", [](int*) { return cudaMalloc(static_cast<void**>(nullptr), 16); }},
      {"copy to null", [](int* v) { return cudaMemcpy(nullptr, v, 4, cudaMemcpyHostToDevice); }},
      {"copy from null", [](int* v) { return cudaMemcpy(v, nullptr, 4, cudaMemcpyDeviceToHost); }},
      {"copy of unknown kind", [](int* v) { return cudaMemcpy(v, v, 4, static_cast<cudaMemcpyKind>(7)); }},
      {"memset of null", [](int*) { return cudaMemset(nullptr, 0, 4); }},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.call(&x), cudaErrorInvalidValue) << c.what;
    EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidValue) << c.what;
    EXPECT_EQ(cudaGetLastError(), cudaSuccess) << c.what << ": reading the last error clears it";
  }
}

TEST(DeviceMemory, ImpossibleSizesFailWithoutAPointer) {
  for (size_t size : {SIZE_MAX, SIZE_MAX - 100, size_t{1} << 62}) {
    void* p = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(cudaMalloc(&p, size), cudaErrorMemoryAllocation) << size;
    EXPECT_EQ(p, nullptr) << size;
    if (p != nullptr && p != reinterpret_cast<void*>(0x1)) cudaFree(p);
  }
  cudaGetLastError();
}

// ---- Launch configuration and barrier-free kernels -------------------------------------

__global__ void countVisits(int* visits, unsigned* wrongDims) {
  const unsigned i = blockIdx.x * blockDim.x + threadIdx.x;
  visits[i] += 1;
  if (threadIdx.y != 0 || threadIdx.z != 0 || blockIdx.y != 0 || blockIdx.z != 0 || blockDim.y != 1 ||
      gridDim.y != 1 || threadIdx.x >= blockDim.x || blockIdx.x >= gridDim.x)
    wrongDims[i] = 1;
}

struct Visits {
  std::vector<int> visits;
  std::vector<unsigned> wrong;
  explicit Visits(size_t n) : visits(n, 0), wrong(n, 0) {}
};

TEST(Launch, RefusesWhatTheRuntimeCannotRun) {
  struct Case {
    const char* what;
    dim3 grid, block;
  } cases[] = {
      {"block of 0", dim3(4), dim3(0)},   {"block of 1025", dim3(4), dim3(1025)},
      {"2-D block", dim3(4), dim3(8, 2)}, {"3-D block", dim3(4), dim3(8, 1, 2)},
      {"grid of 0", dim3(0), dim3(32)},   {"2-D grid", dim3(2, 2), dim3(32)},
  };
  for (const Case& c : cases) {
    Visits v(4096);
    EXPECT_EQ((launchKernel<countVisits>(c.grid, c.block, v.visits.data(), v.wrong.data())),
              cudaErrorInvalidConfiguration)
        << c.what;
    EXPECT_EQ(cudaGetLastError(), cudaErrorInvalidConfiguration) << c.what;
    EXPECT_EQ(v.visits, std::vector<int>(4096, 0)) << c.what << ": nothing may run";
  }
}

TEST(Launch, EveryThreadOfEveryBlockRunsExactlyOnce) {
  struct Case {
    unsigned grid, block;
  } cases[] = {{1, 1}, {1, 1024}, {3907, 128}, {5000, 7}, {92, 64}};
  for (const Case& c : cases) {
    Visits v(size_t{c.grid} * c.block);
    ASSERT_EQ((launchKernel<countVisits>(dim3(c.grid), dim3(c.block), v.visits.data(), v.wrong.data())),
              cudaSuccess);
    EXPECT_EQ(v.visits, std::vector<int>(v.visits.size(), 1)) << c.grid << " x " << c.block;
    EXPECT_EQ(v.wrong, std::vector<unsigned>(v.wrong.size(), 0)) << c.grid << " x " << c.block;
  }
}

__global__ void noteBlockThread(std::thread::id* ran) {
  if (threadIdx.x != 0) return;
  ran[blockIdx.x] = std::this_thread::get_id();
  // Long enough that every worker has woken before the blocks run out.
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

TEST(Launch, BlocksSpreadOverTheWorkers) {
  std::vector<std::thread::id> ran(128);
  ASSERT_EQ(launchKernel<noteBlockThread>(dim3(128), dim3(32), ran.data()), cudaSuccess);
  const std::set<std::thread::id> threads(ran.begin(), ran.end());
  EXPECT_EQ(threads.count(std::thread::id()), 0u) << "a block did not run";
  if (workerCount() > 1)
    EXPECT_GT(threads.size(), 1u) << workerCount() << " workers";
  else
    EXPECT_EQ(threads.size(), 1u);
  EXPECT_LE(threads.size(), workerCount());
}

// ---- __syncthreads and __shared__ ---------------------------------------------------------

__global__ void reverseInBlock(const int* in, int* out) {
  __shared__ int tile[1024];
  const unsigned t = threadIdx.x, g = blockIdx.x * blockDim.x + t;
  tile[t] = in[g];
  __syncthreads();
  out[g] = tile[blockDim.x - 1 - t];
}

// The same without the barrier: the test's own proof that it would see a missing one.
__global__ void reverseInBlockUnsynchronised(const int* in, int* out) {
  __shared__ int tile[1024];
  const unsigned t = threadIdx.x, g = blockIdx.x * blockDim.x + t;
  tile[t] = in[g];
  out[g] = tile[blockDim.x - 1 - t];
}

template <auto Kernel>
size_t reversalErrors(unsigned grid, unsigned width) {
  const size_t n = size_t{grid} * width;
  std::vector<int> in(n), out(n, -1);
  for (size_t i = 0; i < n; ++i) in[i] = static_cast<int>(i * 3 + 1);
  EXPECT_EQ(launchKernel<Kernel>(dim3(grid), dim3(width), static_cast<const int*>(in.data()), out.data()),
            cudaSuccess);
  size_t wrong = 0;
  for (size_t b = 0; b < grid; ++b)
    for (size_t t = 0; t < width; ++t) wrong += out[b * width + t] != in[b * width + (width - 1 - t)];
  return wrong;
}

TEST(Barrier, BlockReversalNeedsAndGetsTheBarrier) {
  for (unsigned width : {2u, 7u, 64u, 128u, 1000u, 1024u}) {
    EXPECT_EQ(reversalErrors<reverseInBlock>(60, width), 0u) << "width " << width;
    EXPECT_GT(reversalErrors<reverseInBlockUnsynchronised>(60, width), 0u) << "width " << width;
  }
  EXPECT_EQ(reversalErrors<reverseInBlock>(5, 1), 0u);
}

constexpr int kPhases = 5;

// Each phase adds the right-hand neighbour's value of the phase before.
__global__ void neighbourSums(int* perPhase, unsigned total) {
  __shared__ int s[1024];
  const unsigned t = threadIdx.x, w = blockDim.x, g = blockIdx.x * w + t;
  int v = static_cast<int>(g);
  s[t] = v;
  for (int k = 0; k < kPhases; ++k) {
    __syncthreads();
    const int right = s[(t + 1) % w];
    __syncthreads();
    v += right;
    s[t] = v;
    perPhase[k * total + g] = v;
  }
}

TEST(Barrier, EveryPhaseOfAMultiBarrierKernel) {
  const unsigned grid = 40, width = 96, total = grid * width;
  std::vector<int> perPhase(kPhases * total, -1);
  ASSERT_EQ(launchKernel<neighbourSums>(dim3(grid), dim3(width), perPhase.data(), total), cudaSuccess);
  for (unsigned b = 0; b < grid; ++b) {
    std::vector<int> s(width);
    for (unsigned t = 0; t < width; ++t) s[t] = static_cast<int>(b * width + t);
    for (int k = 0; k < kPhases; ++k) {
      std::vector<int> next(width);
      for (unsigned t = 0; t < width; ++t) next[t] = s[t] + s[(t + 1) % width];
      s = next;
      for (unsigned t = 0; t < width; ++t)
        ASSERT_EQ(perPhase[k * total + b * width + t], s[t])
            << "block " << b << " thread " << t << " phase " << k;
    }
  }
}

__global__ void ownBlockOnly(unsigned* foreign) {
  __shared__ unsigned s[256];
  const unsigned t = threadIdx.x;
  s[t] = blockIdx.x;
  __syncthreads();
  unsigned seen = 0;
  for (unsigned j = 0; j < blockDim.x; ++j) seen += s[j] != blockIdx.x;
  foreign[blockIdx.x * blockDim.x + t] = seen;
}

TEST(Barrier, SharedMemoryBelongsToOneBlock) {
  const unsigned grid = 2000, width = 256;
  std::vector<unsigned> foreign(grid * width, 99);
  ASSERT_EQ(launchKernel<ownBlockOnly>(dim3(grid), dim3(width), foreign.data()), cudaSuccess);
  EXPECT_EQ(foreign, std::vector<unsigned>(foreign.size(), 0));
}

__global__ void indicesAcrossBarriers(unsigned* wrong, int* runs) {
  const uint3 t0 = threadIdx, b0 = blockIdx;
  const unsigned g = b0.x * blockDim.x + t0.x;
  runs[g] += 1;
  for (int k = 0; k < 4; ++k) {
    __syncthreads();
    wrong[g] += threadIdx.x != t0.x || threadIdx.y != 0 || threadIdx.z != 0 || blockIdx.x != b0.x ||
                blockIdx.y != 0 || blockDim.x != 48 || gridDim.x != 300;
  }
}

TEST(Barrier, BuiltInIndicesRightAfterEveryBarrier) {
  std::vector<unsigned> wrong(300 * 48, 0);
  std::vector<int> runs(300 * 48, 0);
  ASSERT_EQ(launchKernel<indicesAcrossBarriers>(dim3(300), dim3(48), wrong.data(), runs.data()), cudaSuccess);
  EXPECT_EQ(wrong, std::vector<unsigned>(wrong.size(), 0));
  EXPECT_EQ(runs, std::vector<int>(runs.size(), 1));
}

__global__ void barrierInOneBlock(unsigned barrierBlock, int* out, int* runs) {
  __shared__ int s[64];
  const unsigned t = threadIdx.x, g = blockIdx.x * blockDim.x + t;
  runs[g] += 1;
  if (blockIdx.x != barrierBlock) {
    out[g] = static_cast<int>(g);
    return;
  }
  s[t] = static_cast<int>(g);
  __syncthreads();
  out[g] = s[blockDim.x - 1 - t];
}

TEST(Barrier, OnlyALaterBlockEverWaits) {
  const unsigned grid = 40, width = 64;
  for (unsigned barrierBlock : {1u, 17u, grid - 1}) {
    std::vector<int> out(grid * width, -1), runs(grid * width, 0);
    ASSERT_EQ(launchKernel<barrierInOneBlock>(dim3(grid), dim3(width), barrierBlock, out.data(), runs.data()),
              cudaSuccess);
    for (unsigned b = 0; b < grid; ++b)
      for (unsigned t = 0; t < width; ++t) {
        const unsigned g = b * width + t;
        const int expected = static_cast<int>(b == barrierBlock ? b * width + width - 1 - t : g);
        ASSERT_EQ(out[g], expected) << "barrier block " << barrierBlock << ", block " << b << " thread " << t;
      }
    EXPECT_EQ(runs, std::vector<int>(runs.size(), 1)) << "barrier block " << barrierBlock;
  }
}

// leave[g]: 0 returns before the first barrier, 1 between the first and the second, 2
// stays to the end. Those still present after each barrier sum what the others present
// wrote, so a barrier that waits for a departed thread hangs and one that does not wait
// for a present one gives a wrong sum.
__global__ void departures(const unsigned char* leave, long* firstSum, long* secondSum, int* runs) {
  __shared__ long s[1024];
  const unsigned t = threadIdx.x, w = blockDim.x, base = blockIdx.x * w, g = base + t;
  runs[g] += 1;
  if (leave[g] == 0) return;
  s[t] = 10L * g + 1;
  __syncthreads();
  long sum = 0;
  for (unsigned j = 0; j < w; ++j)
    if (leave[base + j] >= 1) sum += s[j];
  firstSum[g] = sum;
  if (leave[g] == 1) return;
  __syncthreads();
  s[t] = 10L * g + 2;
  __syncthreads();
  sum = 0;
  for (unsigned j = 0; j < w; ++j)
    if (leave[base + j] >= 2) sum += s[j];
  secondSum[g] = sum;
}

TEST(Barrier, ThreadsThatReturnEarlyNoLongerCount) {
  const unsigned grid = 30, width = 96;
  struct Pattern {
    const char* what;
    unsigned char (*leave)(unsigned block, unsigned thread);
  } patterns[] = {
      {"a third before the first barrier, a third between",
       [](unsigned, unsigned t) { return (unsigned char)(t % 3); }},
      {"thread 0 gone before the first barrier in odd blocks",
       [](unsigned b, unsigned t) { return (unsigned char)(b % 2 == 1 && t == 0 ? 0 : 2); }},
      {"only the last thread reaches the barriers",
       [](unsigned, unsigned t) { return (unsigned char)(t == 95 ? 2 : 0); }},
      {"only thread 0 reaches the barriers",
       [](unsigned, unsigned t) { return (unsigned char)(t == 0 ? 2 : 0); }},
      {"whole blocks gone in some blocks",
       [](unsigned b, unsigned) { return (unsigned char)(b % 3 == 0 ? 0 : 2); }},
      {"first half leaves between the barriers",
       [](unsigned, unsigned t) { return (unsigned char)(t < 48 ? 1 : 2); }},
      {"last half leaves between the barriers",
       [](unsigned, unsigned t) { return (unsigned char)(t >= 48 ? 1 : 2); }},
  };
  for (const Pattern& p : patterns) {
    SCOPED_TRACE(p.what);
    const unsigned n = grid * width;
    std::vector<unsigned char> leave(n);
    for (unsigned g = 0; g < n; ++g) leave[g] = p.leave(g / width, g % width);
    std::vector<long> first(n, -1), second(n, -1);
    std::vector<int> runs(n, 0);
    ASSERT_EQ(
        launchKernel<departures>(dim3(grid), dim3(width), static_cast<const unsigned char*>(leave.data()),
                                 first.data(), second.data(), runs.data()),
        cudaSuccess);
    EXPECT_EQ(runs, std::vector<int>(n, 1));
    for (unsigned b = 0; b < grid; ++b) {
      long expectFirst = 0, expectSecond = 0;
      for (unsigned t = 0; t < width; ++t) {
        const unsigned g = b * width + t;
        if (leave[g] >= 1) expectFirst += 10L * g + 1;
        if (leave[g] >= 2) expectSecond += 10L * g + 2;
      }
      for (unsigned t = 0; t < width; ++t) {
        const unsigned g = b * width + t;
        ASSERT_EQ(first[g], leave[g] >= 1 ? expectFirst : -1) << "block " << b << " thread " << t;
        ASSERT_EQ(second[g], leave[g] >= 2 ? expectSecond : -1) << "block " << b << " thread " << t;
      }
    }
  }
}

TEST(Barrier, BarrierAndBarrierFreeLaunchesInterleave) {
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    EXPECT_EQ(reversalErrors<reverseInBlock>(300, 32 + round), 0u);
    Visits v(500 * 64);
    ASSERT_EQ((launchKernel<countVisits>(dim3(500), dim3(64), v.visits.data(), v.wrong.data())), cudaSuccess);
    EXPECT_EQ(v.visits, std::vector<int>(v.visits.size(), 1));
    std::vector<int> out(40 * 64, -1), runs(40 * 64, 0);
    ASSERT_EQ(launchKernel<barrierInOneBlock>(dim3(40), dim3(64), 5u + round, out.data(), runs.data()),
              cudaSuccess);
    EXPECT_EQ(runs, std::vector<int>(runs.size(), 1));
  }
}

}  // namespace
