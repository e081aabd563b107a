// Shared by the swarm tests: the seeded swarm and exact float comparison.
#pragma once

#include <cuda_runtime.h>

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

inline uint32_t bitsOf(float f) {
  uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  return u;
}
inline float floatOf(uint32_t u) {
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}
inline bool sameBits(const float4& a, const float4& b) { return std::memcmp(&a, &b, sizeof a) == 0; }
