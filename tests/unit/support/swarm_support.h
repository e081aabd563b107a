// Shared by the swarm tests: the seeded swarm and exact float comparison.
#pragma once

#include <cuda_runtime.h>

#include "bits.h"

#include <cstdint>
#include <cstring>
#include <vector>

struct SwarmState {
  std::vector<float4> pos, vel;
  std::vector<float> tint;
};

// The swarm as both programs start it: the colour fill's 500,000 draws, then
// seedParticles. Seeded on first use from this process's generator, so nothing in the
// process may draw from it before.
const SwarmState& seededSwarm();
