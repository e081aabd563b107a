// The n-body device module: the tiled all-pairs kernel moveparticlesSharedOnDevice, the
// direct kernel moveparticlesOnDevice and their launches.
//
// A step reads every other body's position as it was when the step began (a copy taken
// by the launch), so the result does not depend on the order in which blocks run; each
// thread then writes its own body's new position and velocity in place.
#pragma once

#include <cuda_runtime.h>

constexpr int kTile = 64;          // threads per block of the tiled kernel = bodies per tile
constexpr int kNBodyGrid = 92;     // blocks of the program's launch: covers 5,835 bodies
constexpr int kDirectBlock = 128;  // threads per block of the direct kernel

// Blocks of kTile threads needed for n bodies.
int nbodyGridSize(int n);

// One tiled step of the program: 92 blocks of 64 threads, velocities from devVel; waits
// for the device.
void launchMoveParticlesShared(float4* positions, float dt, float3 accel, int n, float3 attractor);
// The tiled step with the caller's velocities, on nbodyGridSize(n) blocks.
void launchMoveParticlesSharedWith(float4* positions, float4* velocities, float dt, float3 accel, int n,
                                   float3 attractor);
// The direct step with the caller's velocities, on blocks of kDirectBlock threads.
void launchMoveParticlesDirectWith(float4* positions, float4* velocities, float dt, float3 accel, int n,
                                   float3 attractor);
