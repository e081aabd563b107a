// Device step of the attractor swarm: one thread per particle, pull of constant strength
// KDAT toward the attractor, uniform acceleration, semi-implicit Euler, walls at ±1.
#include <cuda_runtime.h>
#include <gpu_launch.h>

#include "swarm.h"
#include "velmoracuda.h"

__constant__ float KDAT = 0.8f;

__global__ void moveparticlesOnDevice(float4* positions, float4* velocities, float dt, float3 accel, int n,
                                      float3 attractor) {
  const int i = blockIdx.x * blockDim.x + threadIdx.x;
  if (i >= n) return;
  float4 p = positions[i];
  const float dx = attractor.x - p.x;
  const float dy = attractor.y - p.y;
  const float dist = 1.0f / rsqrtf(dy * dy + dx * dx);
  float fx = 0.0f, fy = 0.0f;
  if (dist != 0.0f) {
    const float inv = 1.0f / dist;
    fx = (dx * KDAT) * inv;
    fy = (dy * KDAT) * inv;
  }
  float4 v = velocities[i];
  v.x = v.x + dt * (accel.x + fx);
  v.y = v.y + dt * (accel.y + fy);
  p.x = p.x + dt * v.x;
  p.y = p.y + dt * v.y;
  if (p.x > 1.0f) {
    v.x = -v.x;
    p.x = 1.0f;
  }
  if (p.y > 1.0f) {
    v.y = -v.y;
    p.y = 1.0f;
  }
  if (p.x < -1.0f) {
    v.x = -v.x;
    p.x = -1.0f;
  }
  if (p.y < -1.0f) {
    v.y = -v.y;
    p.y = -1.0f;
  }
  positions[i] = p;
  velocities[i] = v;
}

int swarmGridSize(int n) { return n / kSwarmBlock + (n % kSwarmBlock != 0 ? 1 : 0); }

void launchMoveParticlesWith(float4* positions, float4* velocities, float dt, float3 accel, int n,
                             float3 attractor) {
  launchKernel<moveparticlesOnDevice>(dim3(swarmGridSize(n)), dim3(kSwarmBlock), positions, velocities, dt,
                                      accel, n, attractor);
  cudaDeviceSynchronize();
}

void launchMoveParticles(float4* positions, float dt, float3 accel, int n, float3 attractor) {
  launchMoveParticlesWith(positions, devVel, dt, accel, n, attractor);
}
