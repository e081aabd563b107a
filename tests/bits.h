// Exact comparison of floats as bit patterns, for the tests' "bit for bit" checks: NaN
// payloads and the sign of zero count, as they would in a memory comparison.
#pragma once

#include <cuda_runtime.h>

#include <cstdint>
#include <cstring>

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
inline bool sameBits(float a, float b) { return bitsOf(a) == bitsOf(b); }
inline bool sameBits(const float4& a, const float4& b) {
  return sameBits(a.x, b.x) && sameBits(a.y, b.y) && sameBits(a.z, b.z) && sameBits(a.w, b.w);
}

// Elements i < count of (pos, vel) whose z or w differ in bits from (pos0, vel0).
inline int zwChanged(const float4* pos, const float4* vel, const float4* pos0, const float4* vel0,
                     int count) {
  int changed = 0;
  for (int i = 0; i < count; ++i)
    changed += !sameBits(pos[i].z, pos0[i].z) || !sameBits(pos[i].w, pos0[i].w) ||
               !sameBits(vel[i].z, vel0[i].z) || !sameBits(vel[i].w, vel0[i].w);
  return changed;
}

// Elements i < count where either pair of arrays differs in any bit.
inline int differing(const float4* pos, const float4* vel, const float4* pos0, const float4* vel0,
                     int count) {
  int differ = 0;
  for (int i = 0; i < count; ++i) differ += !sameBits(pos[i], pos0[i]) || !sameBits(vel[i], vel0[i]);
  return differ;
}
