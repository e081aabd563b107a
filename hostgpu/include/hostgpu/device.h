// What kernel code sees in the host runtime: the qualifiers, the built-in indices and the
// barrier. The indices are per worker thread; the launcher sets them before each simulated
// GPU thread runs and again whenever a fiber resumes after a barrier.
#pragma once

#include <cmath>

#include "hostgpu/types.h"

#define __global__
#define __device__
#define __host__
#define __forceinline__ inline __attribute__((always_inline))
#define __constant__
// One worker thread runs one block at a time, so storage per worker thread is per block.
#define __shared__ static thread_local

inline thread_local uint3 threadIdx{0, 0, 0};
inline thread_local uint3 blockIdx{0, 0, 0};
inline thread_local dim3 blockDim{1, 1, 1};
inline thread_local dim3 gridDim{1, 1, 1};

namespace hostgpu {
void syncthreads();
}

inline void __syncthreads() { hostgpu::syncthreads(); }

// The device's fast reciprocal square root, here correctly rounded twice: sqrt, then 1/x.
inline float rsqrtf(float x) { return 1.0f / std::sqrt(x); }

// The device's integer min and max.
inline int min(int a, int b) { return a < b ? a : b; }
inline int max(int a, int b) { return a > b ? a : b; }
