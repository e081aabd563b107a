// The swarm's device module: kernel moveparticlesOnDevice and its launch.
#pragma once

#include <cuda_runtime.h>

constexpr int kSwarmBlock = 128;  // threads per block

// Blocks needed for n particles: n / 128, plus one when n % 128 is not 0.
int swarmGridSize(int n);

// One device step of n particles in place, velocities from devVel; waits for the device.
void launchMoveParticles(float4* positions, float dt, float3 accel, int n, float3 attractor);
// The same with the caller's velocity array.
void launchMoveParticlesWith(float4* positions, float4* velocities, float dt, float3 accel, int n,
                             float3 attractor);
