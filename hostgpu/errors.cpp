// Error names and descriptions, word for word as the CUDA runtime gives them, so a report
// reads the same whichever runtime a program was built with.
#include <cuda_runtime.h>

namespace {

struct ErrorText {
  cudaError_t code;
  const char* name;
  const char* description;
};

constexpr ErrorText kErrors[] = {
    {cudaSuccess, "cudaSuccess", "no error"},
    {cudaErrorInvalidValue, "cudaErrorInvalidValue", "invalid argument"},
    {cudaErrorMemoryAllocation, "cudaErrorMemoryAllocation", "out of memory"},
    {cudaErrorInitializationError, "cudaErrorInitializationError", "initialization error"},
    {cudaErrorInvalidConfiguration, "cudaErrorInvalidConfiguration", "invalid configuration argument"},
    {cudaErrorInvalidDevicePointer, "cudaErrorInvalidDevicePointer", "invalid device pointer"},
    {cudaErrorInvalidDevice, "cudaErrorInvalidDevice", "invalid device ordinal"},
    {cudaErrorMapBufferObjectFailed, "cudaErrorMapBufferObjectFailed", "mapping of buffer object failed"},
    {cudaErrorUnmapBufferObjectFailed, "cudaErrorUnmapBufferObjectFailed",
     "unmapping of buffer object failed"},
    {cudaErrorAlreadyMapped, "cudaErrorAlreadyMapped", "resource already mapped"},
    {cudaErrorNotMapped, "cudaErrorNotMapped", "resource not mapped"},
    {cudaErrorInvalidGraphicsContext, "cudaErrorInvalidGraphicsContext", "invalid OpenGL or DirectX context"},
    {cudaErrorInvalidResourceHandle, "cudaErrorInvalidResourceHandle", "invalid resource handle"},
    {cudaErrorUnknown, "cudaErrorUnknown", "unknown error"},
};

const ErrorText* find(cudaError_t error) {
  for (const ErrorText& e : kErrors)
    if (e.code == error) return &e;
  return nullptr;
}

}  // namespace

// CUDA answers codes it does not know with these two texts.
const char* cudaGetErrorString(cudaError_t error) {
  const ErrorText* e = find(error);
  return e ? e->description : "unrecognized error code";
}

const char* cudaGetErrorName(cudaError_t error) {
  const ErrorText* e = find(error);
  return e ? e->name : "unrecognized error code";
}
