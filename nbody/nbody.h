// State of velmora-nbody: 5,835 bodies seeded in three disks. After start-up the live
// state is on the device (the mapped position buffer and devVel); the host arrays keep
// their seeded values until they are freed.
#pragma once

#include <cuda_runtime.h>

constexpr int kBodies = 5835;  // 1,945 per disk

extern float4* hostPos;
extern float4* hostVel;
extern float4* devVel;
extern float3 accel;  // (0, 0, 0)

// Prints "alokacja... \n", then allocates hostPos and hostVel (zero-filled) and devVel.
void allocateParticles(int n);
// Fills hostPos and hostVel from the three disks (three draws per body, the first
// discarded) and prints "particles: <count>". Returns the count.
int seedDisks();
void uploadVelocities(int n);
// Prints "dealokacja... \n" and releases the three arrays.
void freeParticles();
// Buffers, colours, arrays, seeding, upload, positions, accel: the tail of initGL.
void initBodies();
