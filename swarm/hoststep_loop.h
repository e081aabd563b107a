// The host step's loop body, included by one source file per instruction set so each is
// compiled with its own flags. Written so the compiler can vectorise it across particles:
// both outcomes of each test are computed and one is selected, whole float4 elements are
// loaded and stored (z and w go back unchanged). Every rounding is the reference's.
#include <cmath>

#include "hoststep.h"

namespace {

inline void stepRange(float4* __restrict pos, float4* __restrict vel, size_t begin, size_t end, float dt,
                      float3 accel, float3 attractor) {
  constexpr double kPull = 0.8f;  // KDAT, the single-precision 0.8, widened
  const double step = dt, ax = accel.x, ay = accel.y, cx = attractor.x, cy = attractor.y;
  for (size_t i = begin; i < end; ++i) {
    float4 p = pos[i];
    float4 v = vel[i];
    const double dy = cy - p.y;
    const double dx = cx - p.x;
    const float s = static_cast<float>(dx * dx + dy * dy);
    const float d = static_cast<float>(std::sqrt(static_cast<double>(s)));
    const float fx = d != 0 ? static_cast<float>((dx * kPull) / d) : 0.0f;
    const float fy = d != 0 ? static_cast<float>((kPull * dy) / d) : 0.0f;
    v.x = static_cast<float>(v.x + (ax + fx) * step);
    v.y = static_cast<float>(v.y + (ay + fy) * step);
    p.x = static_cast<float>(p.x + v.x * step);
    p.y = static_cast<float>(p.y + v.y * step);
    const bool right = p.x > 1.0f;
    p.x = right ? 1.0f : p.x;
    v.x = right ? -v.x : v.x;
    const bool top = p.y > 1.0f;
    p.y = top ? 1.0f : p.y;
    v.y = top ? -v.y : v.y;
    const bool left = p.x < -1.0f;
    p.x = left ? -1.0f : p.x;
    v.x = left ? -v.x : v.x;
    const bool bottom = p.y < -1.0f;
    p.y = bottom ? -1.0f : p.y;
    v.y = bottom ? -v.y : v.y;
    pos[i] = p;
    vel[i] = v;
  }
}

}  // namespace
