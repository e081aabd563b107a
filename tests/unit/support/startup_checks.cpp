#include "startup_checks.h"

#include <cuda_gl_interop.h>
#include <gtest/gtest.h>

#include "bits.h"
#include "vbo.h"

std::vector<float4> readBuffer(GLuint buffer, int count, GLint binding) {
  std::vector<float4> data(static_cast<size_t>(count));
  glBindBuffer(GL_ARRAY_BUFFER, buffer);
  glGetBufferSubData(GL_ARRAY_BUFFER, 0, 16 * GLsizeiptr{count}, data.data());
  glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(binding));
  return data;
}

void expectSharedBuffers(int count, const float4* hostPos, GLint binding) {
  EXPECT_NE(posVbo, 0u);
  EXPECT_NE(colorVbo, 0u);
  EXPECT_NE(posVbo, colorVbo);
  EXPECT_EQ(binding, static_cast<GLint>(posVbo)) << "the position fill leaves posVbo bound";
  for (GLuint buffer : {posVbo, colorVbo}) {
    GLint size = 0;
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &size);
    EXPECT_EQ(size, 16 * count);
    void* mapped = nullptr;
    EXPECT_EQ(cudaGLMapBufferObject(&mapped, buffer), cudaSuccess) << "registered by createVBO";
    EXPECT_EQ(cudaGLUnmapBufferObject(buffer), cudaSuccess);
  }
  glBindBuffer(GL_ARRAY_BUFFER, static_cast<GLuint>(binding));

  const std::vector<float4> position = readBuffer(posVbo, count, binding);
  int differ = 0;
  for (int i = 0; i < count; ++i)
    differ += !sameBits(position[i].x, hostPos[i].x) || !sameBits(position[i].y, hostPos[i].y) ||
              !sameBits(position[i].z, hostPos[i].z);
  EXPECT_EQ(differ, 0);
}

void expectDeviceCopy(const float4* devVel, const float4* hostVel, int count) {
  std::vector<float4> device(static_cast<size_t>(count));
  ASSERT_EQ(cudaMemcpy(device.data(), devVel, 16 * static_cast<size_t>(count), cudaMemcpyDeviceToHost),
            cudaSuccess);
  int differ = 0;
  for (int i = 0; i < count; ++i) differ += !sameBits(device[i], hostVel[i]);
  EXPECT_EQ(differ, 0);
}
