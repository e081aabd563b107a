// velmora-cpu and velmora-gpu: the 500,000-particle swarm. This file is built twice;
// VELMORA_DEVICE_STEP picks the step (host loop or device kernel) and the drawing
// (immediate mode from host arrays, or one array call from the shared buffers).
#include <GL/glew.h>  // before any other OpenGL header

#include <GL/freeglut.h>

#include <cuda_gl_interop.h>

#include <cstdlib>

#include "checked.h"
#include "frame.h"
#include "hoststep.h"
#include "pointer.h"
#include "swarm.h"
#include "timing.h"
#include "vbo.h"
#include "velmoracuda.h"

namespace {
constexpr bool kDeviceStep = VELMORA_DEVICE_STEP;
constexpr float kDt = 0.01f;
constexpr float kPointSize = 1.8f;
constexpr float kMarkerSize = 10.8f;
}  // namespace

const char* const programTitle = kDeviceStep ? "Velmora GPU" : "Velmora CPU";
const int windowX = kDeviceStep ? 530 : 10;
const int windowY = 10;
const size_t vboBytes = 16 * size_t{kParticles};
const int timingWindow = 50;

void initProgram() { initSwarm(); }

void idle() {
  uint32_t t0, t1, t2;
  if (kDeviceStep) {
    t0 = tickCount();
    t1 = tickCount();
    t2 = tickCount();
    void* p = nullptr;
    cudaSafeCall(cudaGLMapBufferObject(&p, posVbo));
    launchMoveParticles(static_cast<float4*>(p), kDt, accel, kParticles, attractor);
    cudaSafeCall(cudaGLUnmapBufferObject(posVbo));
  } else {
    t0 = tickCount();
    moveparticlesOnHost(kDt, accel, attractor);
    t1 = tickCount();
    t2 = tickCount();
    void* p = nullptr;  // unused: the pair only exercises the interop path
    cudaSafeCall(cudaGLMapBufferObject(&p, posVbo));
    cudaSafeCall(cudaGLUnmapBufferObject(posVbo));
  }
  const uint32_t t3 = tickCount();
  recordStepTimes(tickSeconds(t0, t1), tickSeconds(t2, t3));
  glutPostRedisplay();
}

namespace {

void drawMarker() {
  glPointSize(kMarkerSize);
  glColor3f(1, 0, 0);
  glBegin(GL_POINTS);
  glVertex2f(attractor.x, attractor.y);
  glEnd();
}

void drawFromHost() {
  glBegin(GL_POINTS);
  for (int i = 0; i < kParticles; ++i) {
    const double t = tint[i];
    glColor3f(static_cast<float>(4 * t), static_cast<float>(3 * t), 0);
    glVertex2f(hostPos[i].x, hostPos[i].y);
  }
  glEnd();
}

}  // namespace

void display() {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glPointSize(kPointSize);
  if (kDeviceStep)
    drawVertexBuffers(kParticles);
  else
    drawFromHost();
  drawMarker();
  glutSwapBuffers();
}

void keyboard(unsigned char key, int, int) {
  if (key == 27 || key == 'q') {
    deleteVBO(&posVbo);
    deleteVBO(&colorVbo);
    freeParticles();
    std::exit(0);
  }
  glutPostRedisplay();
}
