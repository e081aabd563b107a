#include "fatal.h"

#include <cuda_runtime.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

void fatalError(const char* format, ...) {
  std::fflush(stdout);
  std::va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  std::exit(1);
}

void* allocateZeroed(unsigned long bytes, const char* what) {
  void* p = std::calloc(1, bytes);
  if (p == nullptr) fatalError("ERROR: cannot allocate %lu bytes of host memory for %s.", bytes, what);
  return p;
}

void* allocateDevice(unsigned long bytes, const char* what) {
  void* p = nullptr;
  cudaError_t error = cudaMalloc(&p, bytes);
  if (error != cudaSuccess || p == nullptr)
    fatalError("ERROR: cannot allocate %lu bytes of GPU memory for %s: %s.", bytes, what,
               cudaGetErrorString(error));
  return p;
}
