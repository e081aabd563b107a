// The n-body step written as a plain single-threaded loop over all pairs, with the
// direct kernel's arithmetic (constants, order of operations, reciprocal of the
// reciprocal square root). Compiled at -O2: the yardstick the kernels are measured by.
#pragma once

#include <cuda_runtime.h>

// One step of n bodies in place; pair terms read `start`, the positions as the step began.
void stepBodiesScalar(float4* pos, float4* vel, const float4* start, int n, float dt, float3 accel,
                      float3 attractor);
