// OpenGL buffer interop of the host GPU runtime on a real context (Mesa on Xvfb).
#include <gtest/gtest.h>

#include <GL/glew.h>
#include <GL/glx.h>

#include <cuda_gl_interop.h>
#include <gpu_launch.h>

#include <vector>

#include "gl_window.h"

namespace {

class GlInterop : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(openGlWindow());
    glGenBuffers(1, &buffer_);
    glBindBuffer(GL_ARRAY_BUFFER, buffer_);
    std::vector<float> initial(kFloats);
    for (int i = 0; i < kFloats; ++i) initial[i] = static_cast<float>(i);
    glBufferData(GL_ARRAY_BUFFER, kFloats * sizeof(float), initial.data(), GL_DYNAMIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
  }
  void TearDown() override {
    cudaGLUnregisterBufferObject(buffer_);
    glDeleteBuffers(1, &buffer_);
    cudaGetLastError();
  }
  std::vector<float> contents() {
    std::vector<float> data(kFloats);
    GLint bound = 0;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
    glBindBuffer(GL_ARRAY_BUFFER, buffer_);
    glGetBufferSubData(GL_ARRAY_BUFFER, 0, kFloats * sizeof(float), data.data());
    glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(bound));
    return data;
  }
  static GLint arrayBinding() {
    GLint bound = -1;
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
    return bound;
  }

  static constexpr int kFloats = 4 * 1000;
  GLuint buffer_ = 0;
};

TEST_F(GlInterop, LifecycleErrors) {
  void* p = nullptr;
  EXPECT_EQ(cudaGLMapBufferObject(&p, buffer_), cudaErrorInvalidResourceHandle) << "not registered yet";
  EXPECT_EQ(cudaGLUnmapBufferObject(buffer_), cudaErrorInvalidResourceHandle);
  EXPECT_EQ(cudaGLUnregisterBufferObject(buffer_), cudaErrorInvalidResourceHandle);

  ASSERT_EQ(cudaGLRegisterBufferObject(buffer_), cudaSuccess);
  EXPECT_EQ(cudaGLUnmapBufferObject(buffer_), cudaErrorNotMapped);
  EXPECT_EQ(cudaGLMapBufferObject(static_cast<void**>(nullptr), buffer_), cudaErrorInvalidValue);
  ASSERT_EQ(cudaGLMapBufferObject(&p, buffer_), cudaSuccess);
  EXPECT_NE(p, nullptr);
  void* again = nullptr;
  EXPECT_EQ(cudaGLMapBufferObject(&again, buffer_), cudaErrorAlreadyMapped);
  EXPECT_EQ(cudaGetLastError(), cudaErrorAlreadyMapped);
  EXPECT_EQ(cudaGLUnmapBufferObject(buffer_), cudaSuccess);
  EXPECT_EQ(cudaGLUnmapBufferObject(buffer_), cudaErrorNotMapped);
  // A second round works like the first: the state went back to registered.
  ASSERT_EQ(cudaGLMapBufferObject(&p, buffer_), cudaSuccess);
  EXPECT_EQ(cudaGLUnmapBufferObject(buffer_), cudaSuccess);
  EXPECT_EQ(cudaGLUnregisterBufferObject(buffer_), cudaSuccess);
  EXPECT_EQ(cudaGLUnregisterBufferObject(buffer_), cudaErrorInvalidResourceHandle);
  EXPECT_EQ(cudaGLMapBufferObject(&p, buffer_), cudaErrorInvalidResourceHandle) << "unregistered";
}

TEST_F(GlInterop, NamesOpenGLDoesNotKnowAreRefused) {
  EXPECT_EQ(cudaGLRegisterBufferObject(0), cudaErrorInvalidValue);
  EXPECT_EQ(cudaGLRegisterBufferObject(buffer_ + 1000), cudaErrorInvalidValue);
  EXPECT_EQ(cudaGLSetGLDevice(0), cudaSuccess);
  EXPECT_EQ(cudaGLSetGLDevice(1), cudaErrorInvalidDevice);
}

TEST_F(GlInterop, WithoutAContextOnlyUnregisterWorks) {
  ASSERT_EQ(cudaGLRegisterBufferObject(buffer_), cudaSuccess);
  void* p = nullptr;
  ASSERT_EQ(cudaGLMapBufferObject(&p, buffer_), cudaSuccess);
  Display* display = glXGetCurrentDisplay();
  const GLXDrawable drawable = glXGetCurrentDrawable();
  const GLXContext context = glXGetCurrentContext();
  ASSERT_TRUE(glXMakeCurrent(display, None, nullptr));

  GLuint other = buffer_ + 1;
  EXPECT_EQ(cudaGLRegisterBufferObject(other), cudaErrorInvalidGraphicsContext);
  EXPECT_EQ(cudaGLUnmapBufferObject(buffer_), cudaErrorInvalidGraphicsContext);

  ASSERT_TRUE(glXMakeCurrent(display, drawable, context));
  EXPECT_EQ(cudaGLUnmapBufferObject(buffer_), cudaSuccess);
  ASSERT_TRUE(glXMakeCurrent(display, None, nullptr));
  EXPECT_EQ(cudaGLMapBufferObject(&p, buffer_), cudaErrorInvalidGraphicsContext);
  EXPECT_EQ(cudaGLUnregisterBufferObject(buffer_), cudaSuccess) << "needs no context";
  ASSERT_TRUE(glXMakeCurrent(display, drawable, context));
}

__global__ void scaleAndShift(float* data, int n) {
  const int i = static_cast<int>(blockIdx.x * blockDim.x + threadIdx.x);
  if (i < n) data[i] = data[i] * 2.0f + 0.5f;
}

TEST_F(GlInterop, KernelWritesThroughTheMappingReachTheBuffer) {
  ASSERT_EQ(cudaGLRegisterBufferObject(buffer_), cudaSuccess);
  void* mapped = nullptr;
  ASSERT_EQ(cudaGLMapBufferObject(&mapped, buffer_), cudaSuccess);
  float* p = static_cast<float*>(mapped);
  EXPECT_EQ(p[3], 3.0f) << "the mapping shows the buffer's contents";
  ASSERT_EQ(launchKernel<scaleAndShift>(dim3(kFloats / 128 + 1), dim3(128), p, kFloats), cudaSuccess);
  ASSERT_EQ(cudaGLUnmapBufferObject(buffer_), cudaSuccess);
  const std::vector<float> after = contents();
  for (int i = 0; i < kFloats; ++i) ASSERT_EQ(after[i], static_cast<float>(i) * 2.0f + 0.5f) << i;
}

TEST_F(GlInterop, MapAndUnmapLeaveTheArrayBufferBindingAlone) {
  ASSERT_EQ(cudaGLRegisterBufferObject(buffer_), cudaSuccess);
  GLuint other = 0;
  glGenBuffers(1, &other);
  glBindBuffer(GL_ARRAY_BUFFER, other);
  glBufferData(GL_ARRAY_BUFFER, 64, nullptr, GL_STATIC_DRAW);
  for (GLuint bound : {other, 0u, buffer_}) {
    glBindBuffer(GL_ARRAY_BUFFER, bound);
    void* p = nullptr;
    ASSERT_EQ(cudaGLMapBufferObject(&p, buffer_), cudaSuccess);
    EXPECT_EQ(arrayBinding(), static_cast<GLint>(bound)) << "after map";
    ASSERT_EQ(cudaGLUnmapBufferObject(buffer_), cudaSuccess);
    EXPECT_EQ(arrayBinding(), static_cast<GLint>(bound)) << "after unmap";
  }
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glDeleteBuffers(1, &other);
}

}  // namespace
