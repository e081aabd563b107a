#include "nbody.h"

#include <GL/glew.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "fatal.h"
#include "random.h"
#include "vbo.h"

float4* hostPos = nullptr;
float4* hostVel = nullptr;
float4* devVel = nullptr;
float3 accel = {0, 0, 0};

namespace {

constexpr float kRadius = 0.25f;
constexpr double kCentres[3][2] = {{0.5, 0.5}, {-0.5, -0.5}, {0.5, -0.5}};

// Offsets advance by repeated single-precision addition of 0.01: the accumulated drift
// decides which grid points on the rim count as inside, so it must not be a product.
float advance(float offset) { return static_cast<float>(offset + 0.01); }

double velocityOf(int draw) { return (draw / double(crt::kRandMax) - 0.5) * 0.5; }

}  // namespace

void allocateParticles(int n) {
  std::printf("alokacja... \n");
  const unsigned long bytes = 16ul * static_cast<unsigned long>(n);
  hostPos = static_cast<float4*>(allocateZeroed(bytes, "body positions"));
  hostVel = static_cast<float4*>(allocateZeroed(bytes, "body velocities"));
  devVel = static_cast<float4*>(allocateDevice(bytes, "body velocities"));
}

int seedDisks() {
  int i = 0;
  for (const auto& centre : kCentres) {
    for (float u = -kRadius; u < kRadius; u = advance(u)) {
      for (float v = -kRadius; v < kRadius; v = advance(v)) {
        const float r2 = static_cast<float>(static_cast<double>(u) * u + static_cast<double>(v) * v);
        const float r = static_cast<float>(std::sqrt(static_cast<double>(r2)));
        if (!(r < kRadius)) continue;
        if (i >= kBodies) break;  // full: the rest of this row adds nothing
        crt::rand();              // drawn and discarded
        const int vx = crt::rand();
        const int vy = crt::rand();
        hostPos[i].x = static_cast<float>(centre[0] + u);
        hostPos[i].y = static_cast<float>(centre[1] + v);
        hostVel[i].x = static_cast<float>(velocityOf(vx));
        hostVel[i].y = static_cast<float>(velocityOf(vy));
        ++i;
      }
    }
  }
  std::cout << "particles: " << i << std::endl;
  return i;
}

void uploadVelocities(int n) {
  cudaMemcpy(devVel, hostVel, 16ul * static_cast<unsigned long>(n), cudaMemcpyHostToDevice);
}

void freeParticles() {
  std::printf("dealokacja... \n");
  std::free(hostPos);
  std::free(hostVel);
  cudaFree(devVel);
  hostPos = hostVel = devVel = nullptr;
}

void initBodies() {
  createVBO(&posVbo, GL_DYNAMIC_DRAW);
  createVBO(&colorVbo, GL_STATIC_DRAW);

  glBindBufferARB(GL_ARRAY_BUFFER, colorVbo);
  if (auto* colour = static_cast<float*>(glMapBufferARB(GL_ARRAY_BUFFER, GL_WRITE_ONLY))) {
    for (int k = 0; k < kBodies; ++k) {
      crt::rand();  // drawn and discarded: the seeding starts after these draws
      colour[4 * k + 0] = 0.25f;
      colour[4 * k + 1] = 0.25f;
      colour[4 * k + 2] = 0.35f;
      colour[4 * k + 3] = 0.25f;
    }
  }
  glUnmapBufferARB(GL_ARRAY_BUFFER);

  allocateParticles(kBodies);
  seedDisks();
  uploadVelocities(kBodies);

  copyPositionsToBuffer(hostPos, kBodies);

  accel = float3{0, 0, 0};
}
