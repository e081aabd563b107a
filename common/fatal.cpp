#include "fatal.h"

#include <cuda_runtime.h>

#include <cstdio>
#include <cstdlib>

void fatalError(const char* message) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", message);
  std::exit(1);
}

void* allocateZeroed(unsigned long bytes, const char* what) {
  void* p = std::calloc(1, bytes);
  if (p == nullptr) {
    char message[256];
    std::snprintf(message, sizeof message, "ERROR: cannot allocate %lu bytes of host memory for %s.", bytes,
                  what);
    fatalError(message);
  }
  return p;
}

void* allocateDevice(unsigned long bytes, const char* what) {
  void* p = nullptr;
  const cudaError_t error = cudaMalloc(&p, bytes);
  if (error != cudaSuccess || p == nullptr) {
    char message[256];
    std::snprintf(message, sizeof message, "ERROR: cannot allocate %lu bytes of GPU memory for %s: %s.",
                  bytes, what, cudaGetErrorString(error));
    fatalError(message);
  }
  return p;
}
