// CUDA's vector types with CUDA's sizes and alignments (float4 is 16-byte aligned,
// float3 and dim3 are packed 32-bit fields).
#pragma once

struct alignas(8) float2 {
  float x, y;
};
struct float3 {
  float x, y, z;
};
struct alignas(16) float4 {
  float x, y, z, w;
};
struct uint3 {
  unsigned int x, y, z;
};
struct dim3 {
  unsigned int x = 1, y = 1, z = 1;
  constexpr dim3(unsigned int vx = 1, unsigned int vy = 1, unsigned int vz = 1) : x(vx), y(vy), z(vz) {}
};

inline float2 make_float2(float x, float y) { return float2{x, y}; }
inline float3 make_float3(float x, float y, float z) { return float3{x, y, z}; }
inline float4 make_float4(float x, float y, float z, float w) { return float4{x, y, z, w}; }

static_assert(sizeof(float2) == 8 && sizeof(float3) == 12, "CUDA's sizes");
static_assert(sizeof(float4) == 16, "CUDA's size");
static_assert(alignof(float4) == 16, "CUDA's alignment");
