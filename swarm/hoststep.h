// The host attractor step of velmora-cpu: every particle is pulled toward the attractor
// with strength 0.8 whatever its distance, accelerated by accel, moved by semi-implicit
// Euler and bounced off the walls x = ±1, y = ±1. Arithmetic is double precision, rounded
// to float exactly where the model says; the result is the same bit for bit however the
// particles are split over cores and vector lanes.
#pragma once

#include <cuda_runtime.h>

#include <cstddef>

// The whole swarm: hostPos and hostVel, all cores, the widest vector code this CPU runs.
void moveparticlesOnHost(float dt, float3 accel, float3 attractor);

// Particles [begin, end) of the given arrays, in the calling thread.
void stepParticlesPortable(float4* pos, float4* vel, size_t begin, size_t end, float dt, float3 accel,
                           float3 attractor);
// The same loop compiled for AVX2; callable only where hostHasAvx2() is true.
void stepParticlesAvx2(float4* pos, float4* vel, size_t begin, size_t end, float dt, float3 accel,
                       float3 attractor);
bool hostHasAvx2();

// The whole of the given arrays, on all cores, with the best loop available.
void stepParticles(float4* pos, float4* vel, size_t count, float dt, float3 accel, float3 attractor);

// One particle, written the plain way; the reference the loops above must match exactly.
void stepParticleReference(float4& pos, float4& vel, float dt, float3 accel, float3 attractor);
