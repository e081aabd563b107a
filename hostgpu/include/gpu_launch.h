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

// Unrolls the loop that follows completely (the kernels' fixed-length tile runs).
#define UNROLL_FULLY _Pragma("GCC unroll 64")

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
[[gnu::flatten]] void runBlocks(const void* p, unsigned first, unsigned end) {
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

template <auto Kernel, class Args>
void runOneThread(const void* p) {
  std::apply(Kernel, *static_cast<const Args*>(p));
}

}  // namespace hostgpu

template <auto Kernel, class... A>
cudaError_t launchKernel(dim3 grid, dim3 block, A... args) {
  using Args = std::tuple<A...>;
  const Args packed{args...};
  return hostgpu::launchGrid(grid, block, &packed, &hostgpu::runBlocks<Kernel, Args>,
                             &hostgpu::runOneThread<Kernel, Args>);
}
