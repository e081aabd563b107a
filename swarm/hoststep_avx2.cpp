// The host step compiled for AVX2 (x86-64 only; see CMakeLists.txt). No FMA: contraction
// would change the roundings.
#include "hoststep_loop.h"

void stepParticlesAvx2(float4* pos, float4* vel, size_t begin, size_t end, float dt, float3 accel,
                       float3 attractor) {
  stepRange(pos, vel, begin, end, dt, accel, attractor);
}

bool hostHasAvx2() { return __builtin_cpu_supports("avx2"); }
