// OpenGL buffer interop: registration is a table of buffer names; mapping is OpenGL's own
// glMapBuffer on the buffer, so the address a kernel gets is the vertex storage itself.
#include <cuda_gl_interop.h>

#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/glx.h>

#include <map>

#include "faults.h"

namespace {

struct GlBuffers {
  PFNGLBINDBUFFERPROC bind = nullptr;
  PFNGLMAPBUFFERPROC map = nullptr;
  PFNGLUNMAPBUFFERPROC unmap = nullptr;
  PFNGLISBUFFERPROC isBuffer = nullptr;
};

// The entry points, looked up once a context is current; null members mean the
// context offers no buffer objects.
const GlBuffers* currentGl() {
  if (glXGetCurrentContext() == nullptr) return nullptr;
  static const GlBuffers gl = [] {
    GlBuffers g;
    auto get = [](const char* name) { return glXGetProcAddress(reinterpret_cast<const GLubyte*>(name)); };
    g.bind = reinterpret_cast<PFNGLBINDBUFFERPROC>(get("glBindBuffer"));
    g.map = reinterpret_cast<PFNGLMAPBUFFERPROC>(get("glMapBuffer"));
    g.unmap = reinterpret_cast<PFNGLUNMAPBUFFERPROC>(get("glUnmapBuffer"));
    g.isBuffer = reinterpret_cast<PFNGLISBUFFERPROC>(get("glIsBuffer"));
    return g;
  }();
  if (!gl.bind || !gl.map || !gl.unmap || !gl.isBuffer) return nullptr;
  return &gl;
}

struct Registration {
  void* mapped = nullptr;  // the mapping's address while mapped
};

std::map<GLuint, Registration> registered;

// Binds buf to GL_ARRAY_BUFFER for the duration of one call, then puts the caller's
// binding back.
class ArrayBinding {
 public:
  ArrayBinding(const GlBuffers& gl, GLuint buf) : gl_(gl) {
    GLint previous = 0;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &previous);
    previous_ = static_cast<GLuint>(previous);
    gl_.bind(GL_ARRAY_BUFFER, buf);
  }
  ~ArrayBinding() { gl_.bind(GL_ARRAY_BUFFER, previous_); }
  ArrayBinding(const ArrayBinding&) = delete;
  ArrayBinding& operator=(const ArrayBinding&) = delete;

 private:
  const GlBuffers& gl_;
  GLuint previous_ = 0;
};

}  // namespace

using hostgpu::Call;
using hostgpu::injectedFault;
using hostgpu::record;

// There is one device, the host; it serves whatever OpenGL context is current.
cudaError_t cudaGLSetGLDevice(int device) {
  return device == 0 ? cudaSuccess : record(cudaErrorInvalidDevice);
}

cudaError_t cudaGLRegisterBufferObject(GLuint buf) {
  if (injectedFault(Call::Register)) return record(cudaErrorInvalidValue);
  const GlBuffers* gl = currentGl();
  if (gl == nullptr) return record(cudaErrorInvalidGraphicsContext);
  if (buf == 0 || !gl->isBuffer(buf)) return record(cudaErrorInvalidValue);
  if (registered.count(buf) != 0) return record(cudaErrorInvalidValue);
  registered[buf] = Registration{};
  return cudaSuccess;
}

cudaError_t cudaGLUnregisterBufferObject(GLuint buf) {
  if (injectedFault(Call::Unregister)) return record(cudaErrorInvalidResourceHandle);
  auto it = registered.find(buf);
  if (it == registered.end()) return record(cudaErrorInvalidResourceHandle);
  // A buffer still mapped is dropped with its mapping; OpenGL has deleted it or will.
  registered.erase(it);
  return cudaSuccess;
}

cudaError_t cudaGLMapBufferObject(void** devPtr, GLuint buf) {
  if (devPtr == nullptr) return record(cudaErrorInvalidValue);
  if (injectedFault(Call::Map)) return record(cudaErrorMapBufferObjectFailed);
  auto it = registered.find(buf);
  if (it == registered.end()) return record(cudaErrorInvalidResourceHandle);
  if (it->second.mapped != nullptr) return record(cudaErrorAlreadyMapped);
  const GlBuffers* gl = currentGl();
  if (gl == nullptr) return record(cudaErrorInvalidGraphicsContext);
  void* p;
  {
    ArrayBinding bound(*gl, buf);
    p = gl->map(GL_ARRAY_BUFFER, GL_READ_WRITE);
  }
  if (p == nullptr) return record(cudaErrorMapBufferObjectFailed);
  it->second.mapped = p;
  *devPtr = p;
  return cudaSuccess;
}

cudaError_t cudaGLUnmapBufferObject(GLuint buf) {
  if (injectedFault(Call::Unmap)) return record(cudaErrorUnmapBufferObjectFailed);
  auto it = registered.find(buf);
  if (it == registered.end()) return record(cudaErrorInvalidResourceHandle);
  if (it->second.mapped == nullptr) return record(cudaErrorNotMapped);
  const GlBuffers* gl = currentGl();
  if (gl == nullptr) return record(cudaErrorInvalidGraphicsContext);
  GLboolean intact;
  {
    ArrayBinding bound(*gl, buf);
    intact = gl->unmap(GL_ARRAY_BUFFER);
  }
  it->second.mapped = nullptr;
  // GL_FALSE means the storage was lost while mapped (a display mode change, say).
  return intact ? cudaSuccess : record(cudaErrorUnmapBufferObjectFailed);
}
