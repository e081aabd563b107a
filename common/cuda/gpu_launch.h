// launchKernel<kernel>(grid, block, args...): the one way Velmora starts a kernel, here
// with nvcc's own launch syntax. Asynchronous, as CUDA launches are; the result is the
// launch's own status (configuration errors and the like), not the kernel's.
#pragma once

#include <cuda_runtime.h>

// Unrolls the loop that follows completely (the kernels' fixed-length tile runs).
#define UNROLL_FULLY _Pragma("unroll")

template <auto Kernel, class... A>
cudaError_t launchKernel(dim3 grid, dim3 block, A... args) {
  Kernel<<<grid, block>>>(args...);
  return cudaGetLastError();
}
