#include "vbo.h"

#include <cuda_gl_interop.h>

#include "checked.h"
#include "frame.h"

GLuint posVbo = 0;
GLuint colorVbo = 0;

void createVBO(GLuint* vbo, GLenum usage) {
  glGenBuffers(1, vbo);
  glBindBuffer(GL_ARRAY_BUFFER, *vbo);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vboBytes), nullptr, usage);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  cudaSafeCall(cudaGLRegisterBufferObject(*vbo));
}

void copyPositionsToBuffer(const float4* positions, int count) {
  glBindBufferARB(GL_ARRAY_BUFFER, posVbo);
  if (auto* position = static_cast<float*>(glMapBufferARB(GL_ARRAY_BUFFER, GL_WRITE_ONLY))) {
    for (int i = 0; i < count; ++i) {
      position[4 * i + 0] = positions[i].x;
      position[4 * i + 1] = positions[i].y;
      position[4 * i + 2] = positions[i].z;
    }
  }
  glUnmapBufferARB(GL_ARRAY_BUFFER);
}

void drawVertexBuffers(int count) {
  glBindBuffer(GL_ARRAY_BUFFER, posVbo);
  glVertexPointer(3, GL_FLOAT, 16, nullptr);
  glBindBuffer(GL_ARRAY_BUFFER, colorVbo);
  glColorPointer(4, GL_FLOAT, 0, nullptr);
  glEnableClientState(GL_VERTEX_ARRAY);
  glEnableClientState(GL_COLOR_ARRAY);
  glDrawArrays(GL_POINTS, 0, count);
  glDisableClientState(GL_VERTEX_ARRAY);
  glDisableClientState(GL_COLOR_ARRAY);
}

void deleteVBO(GLuint* vbo) {
  glBindBuffer(GL_ARRAY_BUFFER, *vbo);
  glDeleteBuffers(1, vbo);
  cudaSafeCall(cudaGLUnregisterBufferObject(*vbo));
  *vbo = 0;
}
