#include "nbody_reference.h"

#include <cmath>

namespace {

// The n-body module's constants (KDAT, BIGG, EPS2), which live in its device memory.
constexpr float kPull = 0.405f;
constexpr float kBigG = 0.001f;
constexpr float kEps2 = 0.004f;

float rsqrt(float x) { return 1.0f / std::sqrt(x); }

}  // namespace

void stepBodiesScalar(float4* pos, float4* vel, const float4* start, int n, float dt, float3 accel,
                      float3 attractor) {
  for (int i = 0; i < n; ++i) {
    float4 p = pos[i];
    float ax = 0, ay = 0;
    for (int j = 0; j < n; ++j) {
      const float dx = p.x - start[j].x;
      const float dy = p.y - start[j].y;
      const float s = (dy * dy + dx * dx) + kEps2;
      const float r = 1.0f / rsqrt(s);
      if (r != 0.0f) {
        const float inv = 1.0f / r;
        const float inv2 = 1.0f / (r * r);
        ax = ax - ((dx * inv) * kBigG) * inv2;
        ay = ay - inv2 * ((inv * dy) * kBigG);
      }
    }
    const float tx = attractor.x - p.x;
    const float ty = attractor.y - p.y;
    const float dist = 1.0f / rsqrt(ty * ty + tx * tx);
    float fx = 0, fy = 0;
    if (dist != 0.0f) {
      const float u = 1.0f / dist;
      fx = (tx * kPull) * u;
      fy = (ty * kPull) * u;
    }
    float4 v = vel[i];
    v.x = v.x + dt * (ax + (accel.x + fx));
    v.y = v.y + dt * (ay + (accel.y + fy));
    p.x = p.x + dt * v.x;
    p.y = p.y + dt * v.y;
    pos[i] = p;
    vel[i] = v;
  }
}
