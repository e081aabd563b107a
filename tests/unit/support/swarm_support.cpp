#include "swarm_support.h"

#include "frame.h"
#include "random.h"
#include "swarm.h"

// The swarm programs' buffer size, which createVBO reads.
const size_t vboBytes = 16 * size_t{kParticles};

const SwarmState& seededSwarm() {
  static const SwarmState swarm = [] {
    SwarmState s;
    s.pos.resize(kParticles);  // zero-filled, as allocateParticles leaves them
    s.vel.resize(kParticles);
    s.tint.resize(kParticles);
    for (int i = 0; i < kParticles; ++i) crt::rand();  // what the colour fill draws
    hostPos = s.pos.data();
    hostVel = s.vel.data();
    tint = s.tint.data();
    seedParticles();
    hostPos = hostVel = nullptr;
    tint = nullptr;
    return s;
  }();
  return swarm;
}
