// The kernel comparison programs velmora-check-swarm and velmora-check-nbody: one driver
// (check_main.cpp: cases, result files, comparison, self-check) and one file per device
// module describing its kernels, cases, tolerances and references. The two modules cannot
// share a process (both define KDAT, moveparticlesOnDevice and the state globals).
#pragma once

#include <cuda_runtime.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

using LaunchFn = void (*)(float4* positions, float4* velocities, float dt, float3 accel, int n,
                          float3 attractor);

// One step of a whole state on the host: the independent references and the model of the
// GPU's rounding that the self-check uses.
using HostStepFn = void (*)(std::vector<float4>& pos, std::vector<float4>& vel, float dt, float3 accel,
                            float3 attractor);

struct Case {
  std::string name;
  std::vector<float4> pos, vel;  // state before the first step
  float dt = 0;
  float3 accel{0, 0, 0};
  std::vector<float3> attractors;  // one per step
  int steps() const { return static_cast<int>(attractors.size()); }
  int n() const { return static_cast<int>(pos.size()); }
};

// How far two results of the same case may lie apart. The error of one component (x or y
// of a position or velocity) is |a - b| in units of the last place of max(|a|, |b|, floor):
// a component that passes near zero is judged by the absolute accuracy its inputs allow,
// not by its own tiny ulp. z and w must match bit for bit; a NaN or infinity on one side
// only always fails.
struct Tolerance {
  float posFloor;
  float velFloor;
  double bulkUlp;       // every component of every element, except the outliers below
  double outlierShare;  // elements per step allowed past bulkUlp, as a share of n (0: none)
  // Bound on |a - b| for an outlier's velocity and position components, from the case.
  double (*outlierVel)(const Case&);
  double (*outlierPos)(const Case&);
};

struct Kernel {
  const char* name;
  LaunchFn launch;
  Tolerance vsHost;  // GPU result against the host runtime's
  // The kernel's arithmetic rounded as the GPU rounds it: fused multiply-adds wherever
  // nvcc contracts, rsqrtf approximate (rsqrtLikeDevice), reciprocals exact.
  HostStepFn gpuRounding;
};

struct Module {
  const char* name;
  std::vector<Kernel> kernels;
  // Every case of the module: the program's seeded state first, then the hand-made ones.
  // quick: fewer steps and a smaller seeded state, for the sanitizers.
  std::vector<Case> (*cases)(bool quick);
  HostStepFn reference;   // written independently of the kernels
  Tolerance vsReference;  // a kernel through the host runtime against the reference
  size_t vboBytes;        // the program's shared position buffer, for the interop timing
  bool allPairs;          // each step costs n^2 pair terms (else 64 bytes per element)
};

const Module& checkedModule();

// Uniform floats for the hand-made cases. mt19937 is specified bit for bit and the
// conversion is ours, so the GPU machine and this one draw the same states.
class CaseRandom {
 public:
  explicit CaseRandom(uint32_t seed) : engine_(seed) {}
  float uniform(float lo, float hi) {
    return static_cast<float>(lo + (static_cast<double>(hi) - lo) * (engine_() / 4294967296.0));
  }

 private:
  std::mt19937 engine_;
};

// rsqrtf as the device may compute it: the correctly rounded value moved by up to 2 units
// in the last place (the documented bound of the approximate instruction), by an amount
// that is a fixed function of x.
float rsqrtLikeDevice(float x);

// Gives every element distinctive z and w (velocity w a NaN with a payload), which the
// kernels must carry through bit for bit.
void markZW(Case& c);

// `time`: kernel timings with the device's own clock; only the cuda build has it.
int timeKernels(const Module& module, const std::vector<Case>& cases);

// Fresh device arrays holding the case's start state, with guard elements around them.
struct DeviceState {
  float4* pos = nullptr;  // first of n elements; guards before and after
  float4* vel = nullptr;
  int n = 0;
  DeviceState(const Case& c);
  ~DeviceState();
  DeviceState(const DeviceState&) = delete;
  DeviceState& operator=(const DeviceState&) = delete;
  void download(std::vector<float4>& pos, std::vector<float4>& vel) const;
  // Empty when every guard element still holds its pattern, else what was overwritten.
  std::string guardDamage() const;

 private:
  float4* posBase = nullptr;
  float4* velBase = nullptr;
};
