// OpenGL buffer interop of the host runtime. A registered buffer is mapped through
// OpenGL's own buffer mapping (read-write), so kernels write straight into the storage that
// OpenGL draws from. Mapping and unmapping save and restore the array-buffer binding, so
// the caller's binding is never disturbed. A current OpenGL context is needed for
// register, map and unmap; unregister does not touch OpenGL, since callers may have
// deleted the buffer already.
#pragma once

#include "cuda_runtime.h"

cudaError_t cudaGLSetGLDevice(int device);
cudaError_t cudaGLRegisterBufferObject(unsigned int bufObj);
cudaError_t cudaGLUnregisterBufferObject(unsigned int bufObj);
cudaError_t cudaGLMapBufferObject(void** devPtr, unsigned int bufObj);
cudaError_t cudaGLUnmapBufferObject(unsigned int bufObj);
