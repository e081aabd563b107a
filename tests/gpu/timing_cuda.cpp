// `time` on the CUDA runtime: each kernel's step on the program's seeded state, timed with
// CUDA events, and, where an OpenGL context can be had, one map + step + unmap cycle on a
// registered buffer of the program's size.
#include <GL/glew.h>  // before any other OpenGL header

#include <GL/freeglut.h>
#include <X11/Xlib.h>
#include <cuda_gl_interop.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include "check.h"

namespace {

constexpr int kWarmup = 5;
constexpr int kTimed = 50;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t h = v.size() / 2;
  return v.size() % 2 ? v[h] : (v[h - 1] + v[h]) / 2;
}

// Runs in a child process that has not touched CUDA: freeglut ends the process when it
// cannot open a display or a visual, and the parent must survive that. Exit status 0:
// timed or skipped with a message printed.
int timeInterop(const Module& m, const Case& c) {
  const char* display = std::getenv("DISPLAY");
  if (!display || !*display) {
    std::printf("SKIP  %s interop timing: no X display (DISPLAY is not set)\n", m.name);
    return 0;
  }
  if (Display* x = XOpenDisplay(nullptr))
    XCloseDisplay(x);
  else {
    std::printf("SKIP  %s interop timing: cannot open X display %s\n", m.name, display);
    return 0;
  }
  cudaGLSetGLDevice(0);
  int argc = 1;
  char name[] = "velmora-check";
  char* argv[] = {name, nullptr};
  glutInit(&argc, argv);
  glutInitDisplayMode(GLUT_DOUBLE | GLUT_RGBA);
  glutInitWindowSize(1, 1);
  glutCreateWindow(name);
  glutHideWindow();
  glewInit();
  const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));

  // The buffer holds the seeded positions (as many as fit), so the step does real work.
  const int n = static_cast<int>(std::min(m.vboBytes / sizeof(float4), c.pos.size()));
  GLuint vbo = 0;
  glGenBuffers(1, &vbo);
  glBindBuffer(GL_ARRAY_BUFFER, vbo);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(m.vboBytes), nullptr, GL_DYNAMIC_DRAW);
  glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(n * sizeof(float4)), c.pos.data());
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  if (cudaError_t e = cudaGLRegisterBufferObject(vbo); e != cudaSuccess) {
    std::printf("SKIP  %s interop timing: cannot register a buffer with the GL context of \"%s\": %s\n",
                m.name, renderer ? renderer : "?", cudaGetErrorString(e));
    return 0;
  }
  float4* vel = nullptr;
  cudaMalloc(&vel, n * sizeof(float4));
  cudaMemcpy(vel, c.vel.data(), n * sizeof(float4), cudaMemcpyHostToDevice);

  const Kernel& k = m.kernels.front();
  std::vector<double> samples;
  for (int r = 0; r < kWarmup + kTimed; ++r) {
    const auto start = std::chrono::steady_clock::now();
    void* p = nullptr;
    cudaError_t e = cudaGLMapBufferObject(&p, vbo);
    if (e == cudaSuccess) {
      k.launch(static_cast<float4*>(p), vel, c.dt, c.accel, n, c.attractors.front());
      e = cudaGLUnmapBufferObject(vbo);
    }
    if (e != cudaSuccess) {
      std::printf("FAIL  %s interop cycle: %s\n", m.name, cudaGetErrorString(e));
      return 1;
    }
    if (r >= kWarmup)
      samples.push_back(
          std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  std::printf(
      "time  %s interop: map + %s + unmap on a registered %zu-byte buffer (%s): %.1f us (median of %d)\n",
      m.name, k.name, m.vboBytes, renderer ? renderer : "?", median(samples), kTimed);
  cudaGLUnregisterBufferObject(vbo);
  glDeleteBuffers(1, &vbo);
  cudaFree(vel);
  return 0;
}

}  // namespace

int timeKernels(const Module& m, const std::vector<Case>& cases) {
  const Case& c = cases.front();  // the program's seeded state
  int failures = 0;

  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    const int rc = timeInterop(m, c);
    std::fflush(stdout);
    _exit(rc);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) {
    std::printf("SKIP  %s interop timing: cannot start the process that makes the GL context\n", m.name);
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::printf("SKIP  %s interop timing: the GL context could not be made (status %d; see above)\n", m.name,
                WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }

  cudaEvent_t start, stop;
  cudaEventCreate(&start);
  cudaEventCreate(&stop);
  for (const Kernel& k : m.kernels) {
    DeviceState state(c);
    std::vector<double> samples;
    for (int r = 0; r < kWarmup + kTimed; ++r) {
      cudaEventRecord(start);
      k.launch(state.pos, state.vel, c.dt, c.accel, c.n(), c.attractors.front());
      cudaEventRecord(stop);
      cudaEventSynchronize(stop);
      float ms = 0;
      cudaEventElapsedTime(&ms, start, stop);
      if (r >= kWarmup) samples.push_back(ms * 1e3);
    }
    if (cudaError_t e = cudaGetLastError(); e != cudaSuccess) {
      std::printf("FAIL  %s/%s timing: %s\n", m.name, k.name, cudaGetErrorString(e));
      ++failures;
      continue;
    }
    // A step as the programs call it: launch, run, and the wait for completion.
    const double us = median(samples);
    const double n = c.n();
    if (m.allPairs)
      std::printf("time  %s/%s n=%d: %.1f us/step, %.3g pair interactions/s (median of %d)\n", m.name, k.name,
                  c.n(), us, n * n / (us * 1e-6), kTimed);
    else
      std::printf("time  %s/%s n=%d: %.1f us/step, %.1f GB/s effective at 64 bytes/particle (median of %d)\n",
                  m.name, k.name, c.n(), us, 64 * n / (us * 1e-6) / 1e9, kTimed);
  }
  cudaEventDestroy(start);
  cudaEventDestroy(stop);
  return failures ? 1 : 0;
}
