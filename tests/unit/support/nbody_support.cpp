#include "nbody_support.h"

#include "frame.h"
#include "nbody.h"
#include "random.h"

// velmora-nbody's buffer size, which createVBO reads.
const size_t vboBytes = 16 * size_t{kBodies};

const Bodies& seededBodies() {
  static const Bodies bodies = [] {
    Bodies b;
    b.pos.resize(kBodies);  // zero-filled, as allocateParticles leaves them
    b.vel.resize(kBodies);
    for (int i = 0; i < kBodies; ++i) crt::rand();  // what the colour fill draws
    float4* const savedPos = hostPos;
    float4* const savedVel = hostVel;
    hostPos = b.pos.data();
    hostVel = b.vel.data();
    seedDisks();
    hostPos = savedPos;
    hostVel = savedVel;
    return b;
  }();
  return bodies;
}
