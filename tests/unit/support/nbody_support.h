// Shared by the n-body tests: the seeded bodies and exact float comparison.
#pragma once

#include <cuda_runtime.h>

#include "bits.h"

#include <cstdint>
#include <cstring>
#include <vector>

struct Bodies {
  std::vector<float4> pos, vel;
};

// The bodies as velmora-nbody starts them: the colour fill's 5,835 draws, then seedDisks.
// Seeded on first use from this process's generator, so nothing in the process may draw
// from it before.
const Bodies& seededBodies();
