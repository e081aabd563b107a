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
