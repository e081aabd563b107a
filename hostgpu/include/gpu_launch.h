// launchKernel<kernel>(grid, block, args...): the one way Velmora starts a kernel.
//
// The kernel is a template argument, so the compiler sees its body where the per-block
// thread loop is instantiated and can inline it there. Blocks are spread over all cores.
// A block runs its threads as a plain loop until one of them reaches __syncthreads; from
// then on that block's threads run as fibers that switch at the barrier. The launch is
// synchronous. Only one-dimensional blocks and grids are supported; anything else, or a
// block of more than 1024 threads, is refused with cudaErrorInvalidConfiguration.
#pragma once

#include <tuple>

#include "cuda_runtime.h"

// Marks a fixed-length loop the GPU compiler unrolls completely. Here the loop is left
// whole: the vectoriser does more with it than with 64 copies of its body.
#define UNROLL_FULLY

namespace hostgpu {

// Runs blocks [first, end) of the launch whose arguments are at args, every thread of
// each block in order; the built-in indices are set by the caller's loop.
using BlockRangeFn = void (*)(const void* args, unsigned first, unsigned end);
// Runs the kernel body once for the current threadIdx and blockIdx.
using ThreadFn = void (*)(const void* args);

cudaError_t launchGrid(dim3 grid, dim3 block, const void* args, BlockRangeFn plain, ThreadFn one);

// Set by the launcher when the block of a plain loop has switched to fibers: the loop must
// stop, the rest of that block now runs as fibers.
inline thread_local bool abandonPlainLoop = false;

template <auto Kernel, class Args>
__attribute__((always_inline)) inline void blockLoop(const void* p, unsigned first, unsigned end) {
  const Args& args = *static_cast<const Args*>(p);
  const unsigned width = blockDim.x;
  for (unsigned b = first; b < end; ++b) {
    blockIdx.x = b;
    for (unsigned t = 0; t < width; ++t) {
      threadIdx.x = t;
      std::apply(Kernel, args);
      if (abandonPlainLoop) return;
    }
  }
}

// Each runner exists twice: for the target's baseline instruction set, and where the CPU
// family has one, for a wider vector unit chosen at run time (see wideCode()). The kernel
// is inlined into both, so each copy is vectorised for its own width; without FMA
// contraction both give the same results bit for bit.
template <auto Kernel, class Args>
[[gnu::flatten]] void runBlocks(const void* p, unsigned first, unsigned end) {
  blockLoop<Kernel, Args>(p, first, end);
}

template <auto Kernel, class Args>
[[gnu::flatten]] void runOneThread(const void* p) {
  std::apply(Kernel, *static_cast<const Args*>(p));
}

#if defined(__x86_64__)
template <auto Kernel, class Args>
[[gnu::flatten, gnu::target("avx2")]] void runBlocksWide(const void* p, unsigned first, unsigned end) {
  blockLoop<Kernel, Args>(p, first, end);
}

template <auto Kernel, class Args>
[[gnu::flatten, gnu::target("avx2")]] void runOneThreadWide(const void* p) {
  std::apply(Kernel, *static_cast<const Args*>(p));
}
#else
template <auto Kernel, class Args>
void runBlocksWide(const void* p, unsigned first, unsigned end) {
  runBlocks<Kernel, Args>(p, first, end);
}
template <auto Kernel, class Args>
void runOneThreadWide(const void* p) {
  runOneThread<Kernel, Args>(p);
}
#endif

// True when the wide runners may be used: the CPU has the wider unit and HOSTGPU_ISA is
// not "portable" (which tests use to exercise the baseline code).
bool wideCode();

}  // namespace hostgpu

template <auto Kernel, class... A>
cudaError_t launchKernel(dim3 grid, dim3 block, A... args) {
  using Args = std::tuple<A...>;
  const Args packed{args...};
  if (hostgpu::wideCode())
    return hostgpu::launchGrid(grid, block, &packed, &hostgpu::runBlocksWide<Kernel, Args>,
                               &hostgpu::runOneThreadWide<Kernel, Args>);
  return hostgpu::launchGrid(grid, block, &packed, &hostgpu::runBlocks<Kernel, Args>,
                             &hostgpu::runOneThread<Kernel, Args>);
}
