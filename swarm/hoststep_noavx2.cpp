// CPUs other than x86-64 have no AVX2 loop; the portable one serves.
#include <cstdlib>

#include "hoststep.h"

void stepParticlesAvx2(float4*, float4*, size_t, size_t, float, float3, float3) { std::abort(); }

bool hostHasAvx2() { return false; }
