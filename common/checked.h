// cudaSafeCall(call): runs a GPU-runtime call once; if it fails, prints
//   cudaSafeCall() Runtime API error in file <FILE>, line LINE : DESCRIPTION.
// on standard error and ends the process with status -1 at once, releasing nothing.
// FILE is the call site's path relative to the repository root.
#pragma once

#include <cuda_runtime.h>

[[noreturn]] void reportRuntimeError(cudaError_t error, const char* file, int line);

inline void checkRuntimeCall(cudaError_t error, const char* file, int line) {
  if (error != cudaSuccess) reportRuntimeError(error, file, line);
}

#define cudaSafeCall(call) checkRuntimeCall((call), __FILE__, __LINE__)
