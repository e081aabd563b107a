// State of the 500,000-particle attractor swarm shared by velmora-cpu and velmora-gpu.
// Element i of every array is particle i. Positions and velocities use x and y only; z
// and w are zero from allocation on and no step changes them.
#pragma once

#include <cuda_runtime.h>

constexpr int kParticles = 500000;

extern float4* hostPos;  // host positions, view units
extern float4* hostVel;  // host velocities, view units per time unit
extern float* tint;      // colour weight per particle, 0 .. 0.3 (velmora-cpu draws with it)
extern float4* devVel;   // device velocities, the device step's own
extern float3 accel;     // uniform acceleration, (0, -0.5, 0) after initialisation

// Prints "alokacja... \n", then allocates the host arrays (zero-filled) and devVel.
void allocateParticles(int n);
// Fills hostPos, hostVel and tint from the generator, five draws per particle.
void seedParticles();
void uploadVelocities(int n);
// Prints "dealokacja... \n" and releases all four arrays.
void freeParticles();
// Buffers, colours, arrays, seeding, upload, positions, accel: the tail of initGL.
void initSwarm();

// Colour weight of a generator draw: (r * 0.3f) / 32767 rounded to float.
float tintOf(int draw);
