// The host step for any CPU: baseline instruction set of the target.
#include "hoststep_loop.h"

void stepParticlesPortable(float4* pos, float4* vel, size_t begin, size_t end, float dt, float3 accel,
                           float3 attractor) {
  stepRange(pos, vel, begin, end, dt, accel, attractor);
}
