// Device memory is host heap memory; copies in every direction are memcpy.
#include <cuda_runtime.h>

#include <cstdlib>
#include <cstring>

#include "faults.h"

namespace hostgpu {
thread_local cudaError_t lastError = cudaSuccess;

cudaError_t record(cudaError_t error) {
  if (error != cudaSuccess) lastError = error;
  return error;
}
}  // namespace hostgpu

using hostgpu::record;

cudaError_t cudaMalloc(void** devPtr, size_t size) {
  if (devPtr == nullptr) return record(cudaErrorInvalidValue);
  *devPtr = nullptr;
  if (hostgpu::injectedFault(hostgpu::Call::Malloc)) return record(cudaErrorMemoryAllocation);
  if (size == 0) return cudaSuccess;
  if (size > size_t(-1) - 255) return record(cudaErrorMemoryAllocation);  // rounding up would wrap
  // 256-byte alignment, as cudaMalloc guarantees.
  void* p = std::aligned_alloc(256, (size + 255) / 256 * 256);
  if (p == nullptr) return record(cudaErrorMemoryAllocation);
  *devPtr = p;
  return cudaSuccess;
}

cudaError_t cudaFree(void* devPtr) {
  std::free(devPtr);
  return cudaSuccess;
}

cudaError_t cudaMemcpy(void* dst, const void* src, size_t count, cudaMemcpyKind kind) {
  if (kind < cudaMemcpyHostToHost || kind > cudaMemcpyDefault) return record(cudaErrorInvalidValue);
  if (count == 0) return cudaSuccess;
  if (dst == nullptr || src == nullptr) return record(cudaErrorInvalidValue);
  std::memmove(dst, src, count);
  return cudaSuccess;
}

cudaError_t cudaMemset(void* devPtr, int value, size_t count) {
  if (count == 0) return cudaSuccess;
  if (devPtr == nullptr) return record(cudaErrorInvalidValue);
  std::memset(devPtr, value, count);
  return cudaSuccess;
}

// Launches finish before they return, so there is never outstanding work.
cudaError_t cudaDeviceSynchronize() { return cudaSuccess; }

cudaError_t cudaGetLastError() {
  cudaError_t e = hostgpu::lastError;
  hostgpu::lastError = cudaSuccess;
  return e;
}
