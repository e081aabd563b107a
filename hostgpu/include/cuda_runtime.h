// The subset of the CUDA runtime that Velmora uses, implemented on CPU threads.
//
// Host side: device memory is ordinary heap memory, copies are memcpy, launches are
// synchronous (a launch returns when every block has run), so cudaDeviceSynchronize has
// nothing left to wait for. Device side: kernels are plain C++ compiled from the same .cu
// files nvcc compiles; __shared__ storage is per block, __syncthreads switches the block's
// threads as fibers. Error numbers and description texts are CUDA's own.
//
// Not here: streams, events, textures, atomics, dynamic shared memory, 2-D/3-D blocks.
#pragma once

#include <cstddef>

#include "hostgpu/device.h"
#include "hostgpu/types.h"

enum cudaError_t {
  cudaSuccess = 0,
  cudaErrorInvalidValue = 1,
  cudaErrorMemoryAllocation = 2,
  cudaErrorInitializationError = 3,
  cudaErrorInvalidConfiguration = 9,
  cudaErrorInvalidDevicePointer = 17,
  cudaErrorInvalidDevice = 101,
  cudaErrorMapBufferObjectFailed = 205,
  cudaErrorUnmapBufferObjectFailed = 206,
  cudaErrorAlreadyMapped = 208,
  cudaErrorNotMapped = 211,
  cudaErrorInvalidGraphicsContext = 219,
  cudaErrorInvalidResourceHandle = 400,
  cudaErrorUnknown = 999,
};
typedef cudaError_t cudaError;

enum cudaMemcpyKind {
  cudaMemcpyHostToHost = 0,
  cudaMemcpyHostToDevice = 1,
  cudaMemcpyDeviceToHost = 2,
  cudaMemcpyDeviceToDevice = 3,
  cudaMemcpyDefault = 4,
};

cudaError_t cudaMalloc(void** devPtr, size_t size);
template <class T>
inline cudaError_t cudaMalloc(T** devPtr, size_t size) {
  return cudaMalloc(reinterpret_cast<void**>(devPtr), size);
}
cudaError_t cudaFree(void* devPtr);
cudaError_t cudaMemcpy(void* dst, const void* src, size_t count, cudaMemcpyKind kind);
// Device variables are ordinary globals here; the symbol is the variable itself.
template <class T>
inline cudaError_t cudaMemcpyToSymbol(const T& symbol, const void* src, size_t count, size_t offset = 0,
                                      cudaMemcpyKind kind = cudaMemcpyHostToDevice) {
  // NOLINTNEXTLINE(bugprone-sizeof-expression): symbols are often pointers; their size is meant
  if (offset + count > sizeof(T) || kind == cudaMemcpyDeviceToHost) return cudaErrorInvalidValue;
  return cudaMemcpy(const_cast<char*>(reinterpret_cast<const char*>(&symbol)) + offset, src, count, kind);
}
cudaError_t cudaMemset(void* devPtr, int value, size_t count);
cudaError_t cudaDeviceSynchronize();
cudaError_t cudaGetLastError();
const char* cudaGetErrorString(cudaError_t error);
const char* cudaGetErrorName(cudaError_t error);
