// Device step of the n-body cluster. Every body sums the softened attraction
// BIGG (q - p) / (|q - p|^2 + EPS2)^(3/2) of all bodies, itself included (it adds 0), in
// increasing index order, adds a pull of constant strength KDAT toward the attractor and
// the uniform acceleration, and moves by semi-implicit Euler. No walls.
#include <cuda_runtime.h>
#include <gpu_launch.h>

#include "fatal.h"
#include "nbody.h"
#include "velmoracuda.h"

__constant__ float KDAT = 0.405f;
__constant__ float BIGG = 0.001f;
__constant__ float EPS2 = 0.004f;

// The positions as they were when the current step began; set by the launches.
__device__ const float4* stepStart;

// One tile of bodies per pass, one slot filled by each thread of the block.
__shared__ float4 shPosition[kTile];

// The attraction of the body at q on the body at p.
__device__ __forceinline__ float2 tileTerm(float4 q, float4 p) {
  const float dx = q.x - p.x;
  const float dy = q.y - p.y;
  const float s = (dy * dy + dx * dx) + EPS2;
  const float r = 1.0f / rsqrtf(s);
  const float c = 1.0f / (r * (r * r));
  return make_float2((dx * BIGG) * c, (dy * BIGG) * c);
}

// Pull toward the attractor, the uniform acceleration, the pair sum, then the move.
__device__ __forceinline__ void integrate(float4* positions, float4* velocities, int i, float4 p, float2 acc,
                                          float dt, float3 accel, float3 attractor) {
  const float ax = attractor.x - p.x;
  const float ay = attractor.y - p.y;
  const float dist = 1.0f / rsqrtf(ay * ay + ax * ax);
  float fx = 0.0f, fy = 0.0f;
  if (dist != 0.0f) {
    const float u = 1.0f / dist;
    fx = (ax * KDAT) * u;
    fy = (ay * KDAT) * u;
  }
  float4 v = velocities[i];
  v.x = v.x + dt * (acc.x + (accel.x + fx));
  v.y = v.y + dt * (acc.y + (accel.y + fy));
  p.x = p.x + dt * v.x;
  p.y = p.y + dt * v.y;
  positions[i] = p;
  velocities[i] = v;
}

__global__ void moveparticlesSharedOnDevice(float4* positions, float4* velocities, float dt, float3 accel,
                                            int n, float3 attractor) {
  const int k = threadIdx.x;
  const int width = blockDim.x;
  const int i = blockIdx.x * blockDim.x + threadIdx.x;
  const bool hasBody = i < n;
  float4 p = make_float4(0, 0, 0, 0);
  if (hasBody) p = positions[i];
  float2 acc = make_float2(0, 0);
  // Every thread, with or without a body, fills its slot and meets both barriers of
  // every pass.
  for (int t = 0; t < n; t += width) {
    if (t + k < n) shPosition[k] = stepStart[t + k];
    __syncthreads();
    if (hasBody) {
      const int m = min(width, n - t);
      const int whole = (m + ((m >> 31) & 63)) & -64;
      int j = 0;
      for (; j < whole; j += 64) {
        // The terms of a run are independent; only their sum is ordered. Forming them
        // sixteen at a time before adding them in order keeps the operations and their
        // order, lets a CPU compiler vectorise the sixteen, and keeps the GPU's register
        // use moderate (all 64 at once needs three times the registers).
        UNROLL_FULLY
        for (int part = 0; part < 64; part += 16) {
          float2 term[16];
          UNROLL_FULLY
          for (int slot = 0; slot < 16; ++slot) term[slot] = tileTerm(shPosition[j + part + slot], p);
          UNROLL_FULLY
          for (int slot = 0; slot < 16; ++slot) {
            acc.x = acc.x + term[slot].x;
            acc.y = acc.y + term[slot].y;
          }
        }
      }
      for (; j < m; ++j) {
        const float2 t = tileTerm(shPosition[j], p);
        acc.x = acc.x + t.x;
        acc.y = acc.y + t.y;
      }
    }
    __syncthreads();
  }
  if (!hasBody) return;
  integrate(positions, velocities, i, p, acc, dt, accel, attractor);
}

__global__ void moveparticlesOnDevice(float4* positions, float4* velocities, float dt, float3 accel, int n,
                                      float3 attractor) {
  const int i = blockIdx.x * blockDim.x + threadIdx.x;
  if (i >= n) return;
  const float4 p = positions[i];
  float2 acc = make_float2(0, 0);
  for (int j = 0; j < n; ++j) {
    const float qx = stepStart[j].x;
    const float qy = stepStart[j].y;
    const float dx = p.x - qx;
    const float dy = p.y - qy;
    const float s = (dy * dy + dx * dx) + EPS2;
    const float r = 1.0f / rsqrtf(s);
    if (r != 0.0f) {
      const float inv = 1.0f / r;
      const float inv2 = 1.0f / (r * r);
      acc.x = acc.x - ((dx * inv) * BIGG) * inv2;
      acc.y = acc.y - inv2 * ((inv * dy) * BIGG);
    }
  }
  integrate(positions, velocities, i, p, acc, dt, accel, attractor);
}

namespace {

// Copies the positions where the kernels read the other bodies from. The copy grows with
// n and lives for the rest of the process.
void takeSnapshot(const float4* positions, int n) {
  static float4* snapshot = nullptr;
  static int capacity = 0;
  if (n > capacity) {
    cudaFree(snapshot);
    snapshot = static_cast<float4*>(
        allocateDevice(16ul * static_cast<unsigned long>(n), "the step's body positions"));
    capacity = n;
    const float4* start = snapshot;
    cudaMemcpyToSymbol(stepStart, &start, sizeof start);  // NOLINT(bugprone-sizeof-expression)
  }
  cudaMemcpy(snapshot, positions, 16ul * static_cast<unsigned long>(n), cudaMemcpyDeviceToDevice);
}

void launchShared(dim3 grid, float4* positions, float4* velocities, float dt, float3 accel, int n,
                  float3 attractor) {
  if (n <= 0) return;
  takeSnapshot(positions, n);
  launchKernel<moveparticlesSharedOnDevice>(grid, dim3(kTile), positions, velocities, dt, accel, n,
                                            attractor);
  cudaDeviceSynchronize();
}

}  // namespace

int nbodyGridSize(int n) { return n / kTile + (n % kTile != 0 ? 1 : 0); }

void launchMoveParticlesShared(float4* positions, float dt, float3 accel, int n, float3 attractor) {
  launchShared(dim3(kNBodyGrid), positions, devVel, dt, accel, n, attractor);
}

void launchMoveParticlesSharedWith(float4* positions, float4* velocities, float dt, float3 accel, int n,
                                   float3 attractor) {
  launchShared(dim3(nbodyGridSize(n)), positions, velocities, dt, accel, n, attractor);
}

void launchMoveParticlesDirectWith(float4* positions, float4* velocities, float dt, float3 accel, int n,
                                   float3 attractor) {
  if (n <= 0) return;
  takeSnapshot(positions, n);
  const int blocks = n / kDirectBlock + (n % kDirectBlock != 0 ? 1 : 0);
  launchKernel<moveparticlesOnDevice>(dim3(blocks), dim3(kDirectBlock), positions, velocities, dt, accel, n,
                                      attractor);
  cudaDeviceSynchronize();
}
