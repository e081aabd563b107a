#include "swarm.h"

#include <GL/glew.h>

#include <cstdio>
#include <cstdlib>

#include "fatal.h"
#include "random.h"
#include "vbo.h"

float4* hostPos = nullptr;
float4* hostVel = nullptr;
float* tint = nullptr;
float4* devVel = nullptr;
float3 accel = {0, 0, 0};

namespace {
constexpr double kTintScale = 0.3f;  // the single-precision 0.3, widened

double unit(int draw) { return draw / double(crt::kRandMax); }
}  // namespace

float tintOf(int draw) { return static_cast<float>(draw * kTintScale / crt::kRandMax); }

void allocateParticles(int n) {
  std::printf("alokacja... \n");
  const unsigned long bytes = 16ul * static_cast<unsigned long>(n);
  hostPos = static_cast<float4*>(allocateZeroed(bytes, "particle positions"));
  hostVel = static_cast<float4*>(allocateZeroed(bytes, "particle velocities"));
  tint = static_cast<float*>(allocateZeroed(4ul * static_cast<unsigned long>(n), "particle colours"));
  devVel = static_cast<float4*>(allocateDevice(bytes, "particle velocities"));
}

void seedParticles() {
  for (int i = 0; i < kParticles; ++i) {
    const int a = crt::rand(), b = crt::rand(), c = crt::rand(), d = crt::rand(), e = crt::rand();
    hostPos[i].x = static_cast<float>((unit(a) - 0.5) * 2);
    hostPos[i].y = static_cast<float>((unit(b) - 0.5) * 2);
    tint[i] = static_cast<float>(unit(c) * kTintScale);
    hostVel[i].x = static_cast<float>((unit(d) - 0.5) * 0.5);
    hostVel[i].y = static_cast<float>((unit(e) - 0.5) * 0.5);
  }
}

void uploadVelocities(int n) {
  cudaMemcpy(devVel, hostVel, 16ul * static_cast<unsigned long>(n), cudaMemcpyHostToDevice);
}

void freeParticles() {
  std::printf("dealokacja... \n");
  std::free(hostPos);
  std::free(hostVel);
  std::free(tint);
  cudaFree(devVel);
  hostPos = hostVel = devVel = nullptr;
  tint = nullptr;
}

void initSwarm() {
  createVBO(&posVbo, GL_DYNAMIC_DRAW);
  createVBO(&colorVbo, GL_STATIC_DRAW);

  glBindBufferARB(GL_ARRAY_BUFFER, colorVbo);
  if (auto* colour = static_cast<float*>(glMapBufferARB(GL_ARRAY_BUFFER, GL_WRITE_ONLY))) {
    for (int i = 0; i < kParticles; ++i) {
      const double t = tintOf(crt::rand());
      colour[4 * i + 0] = static_cast<float>(4 * t);
      colour[4 * i + 1] = static_cast<float>(3 * t);
      colour[4 * i + 2] = 0;
    }
  }
  glUnmapBufferARB(GL_ARRAY_BUFFER);

  allocateParticles(kParticles);
  seedParticles();
  uploadVelocities(kParticles);

  copyPositionsToBuffer(hostPos, kParticles);

  accel = float3{0, -0.5f, 0};
}
