// velmora-nbody: 5,835 bodies in three disks, one tiled all-pairs step per idle cycle,
// drawn blended from the shared buffers; the space bar switches trails on and off.
#include <GL/glew.h>  // before any other OpenGL header

#include <GL/freeglut.h>

#include <cuda_gl_interop.h>

#include <cstdio>
#include <cstdlib>

#include "checked.h"
#include "frame.h"
#include "nbody.h"
#include "pointer.h"
#include "timing.h"
#include "vbo.h"
#include "velmoracuda.h"

namespace {
constexpr float kDt = 0.004f;
constexpr float kPointSize = 1.8f;
constexpr float kMarkerSize = 5.8f;
int clearScreen = 1;  // 0: frames are drawn over the last ones, leaving trails
}  // namespace

const char* const programTitle = "nBody GPU";
const int windowX = 620;
const int windowY = 100;
const size_t vboBytes = 16 * size_t{kBodies};
const int timingWindow = 5;

void initProgram() { initBodies(); }

void idle() {
  std::printf("step...\n");
  const uint32_t t0 = tickCount();
  void* p = nullptr;
  cudaSafeCall(cudaGLMapBufferObject(&p, posVbo));
  launchMoveParticlesShared(static_cast<float4*>(p), kDt, accel, kBodies, attractor);
  cudaSafeCall(cudaGLUnmapBufferObject(posVbo));
  const uint32_t t1 = tickCount();
  recordStepTimes(0.0f, tickSeconds(t0, t1));
  glutPostRedisplay();
}

void display() {
  if (clearScreen != 0) glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glPointSize(kPointSize);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  drawVertexBuffers(kBodies);
  glPointSize(kMarkerSize);
  glColor4f(1, 0, 0, 0.25f);
  glBegin(GL_POINTS);
  glVertex2f(attractor.x, attractor.y);
  glEnd();
  glutSwapBuffers();
}

void keyboard(unsigned char key, int, int) {
  if (key == 27 || key == 'q') {
    deleteVBO(&posVbo);
    deleteVBO(&colorVbo);
    freeParticles();
    std::exit(0);
  }
  if (key == ' ') clearScreen = 1 - clearScreen;
  glutPostRedisplay();
}
