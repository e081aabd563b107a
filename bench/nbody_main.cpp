// velmora-bench-nbody: the n-body kernels against a scalar loop over all pairs, without a
// window. velmora-bench runs it and reports its figures with its own.
#include <cuda_runtime.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "measure.h"
#include "nbody.h"
#include "nbody_reference.h"
#include "random.h"
#include "tile_passes.h"
#include "velmoracuda.h"

namespace {

constexpr float kDt = 0.004f;  // the program's time step
constexpr float3 kAccel = {0, 0, 0};
constexpr float3 kAttractor = {0, 0, 0};
constexpr double kPairs = double(kBodies) * kBodies;

struct Bodies {
  std::vector<float4> pos, vel;
};

// The bodies the program starts from. Its colour fill draws one number per body before
// the seeding does, so that many draws are skipped first.
Bodies seededBodies() {
  Bodies seed{std::vector<float4>(kBodies, float4{0, 0, 0, 0}),
              std::vector<float4>(kBodies, float4{0, 0, 0, 0})};
  for (int k = 0; k < kBodies; ++k) crt::rand();
  hostPos = seed.pos.data();
  hostVel = seed.vel.data();
  // seedDisks reports the count on std::cout, which --json keeps for the JSON alone.
  std::ostringstream report;
  std::streambuf* const out = std::cout.rdbuf(report.rdbuf());
  const int seeded = seedDisks();
  std::cout.rdbuf(out);
  hostPos = hostVel = nullptr;
  if (seeded != kBodies) {
    std::fprintf(stderr, "velmora-bench-nbody: seeding gave %d bodies, not %d\n", seeded, kBodies);
    std::exit(1);
  }
  return seed;
}

struct Figure {
  std::string kind;
  Timing timing;
  std::string error;
};

// Device copies of the bodies; every kind starts from the seeded state.
struct DeviceBodies {
  float4* pos = nullptr;
  float4* vel = nullptr;
  float* sink = nullptr;
  cudaError_t error = cudaSuccess;

  explicit DeviceBodies(const Bodies& seed) {
    const size_t bytes = sizeof(float4) * kBodies;
    error = cudaMalloc(&pos, bytes);
    if (error == cudaSuccess) error = cudaMalloc(&vel, bytes);
    if (error == cudaSuccess) error = cudaMalloc(&sink, sizeof(float) * nbodyGridSize(kBodies) * kTile);
    if (error == cudaSuccess) reset(seed);
  }
  ~DeviceBodies() {
    cudaFree(pos);
    cudaFree(vel);
    cudaFree(sink);
  }
  void reset(const Bodies& seed) {
    const size_t bytes = sizeof(float4) * kBodies;
    error = cudaMemcpy(pos, seed.pos.data(), bytes, cudaMemcpyHostToDevice);
    if (error == cudaSuccess) error = cudaMemcpy(vel, seed.vel.data(), bytes, cudaMemcpyHostToDevice);
    if (error == cudaSuccess) error = cudaDeviceSynchronize();
  }
  std::vector<float4> positions() const {
    std::vector<float4> out(kBodies);
    cudaMemcpy(out.data(), pos, sizeof(float4) * kBodies, cudaMemcpyDeviceToHost);
    return out;
  }
};

using Launch = void (*)(float4*, float4*, float, float3, int, float3);

Figure measureKernel(const char* kind, Launch launch, DeviceBodies& device, const Bodies& seed,
                     const Repetitions& reps) {
  Figure figure{kind, {}, ""};
  device.reset(seed);
  if (device.error != cudaSuccess) {
    figure.error = cudaGetErrorString(device.error);
    return figure;
  }
  figure.timing = timeRepeated(reps, [&] {
    cudaDeviceSynchronize();
    launch(device.pos, device.vel, kDt, kAccel, kBodies, kAttractor);
    cudaDeviceSynchronize();
  });
  if (cudaGetLastError() != cudaSuccess) figure.error = "the launch failed";
  return figure;
}

void scalarStep(Bodies& bodies, std::vector<float4>& start) {
  start = bodies.pos;
  stepBodiesScalar(bodies.pos.data(), bodies.vel.data(), start.data(), kBodies, kDt, kAccel, kAttractor);
}

// Largest coordinate difference after one step from the seeded state: the kernels and
// the scalar loop must compute the same step for the comparison to mean anything.
double oneStepDifference(Launch launch, DeviceBodies& device, const Bodies& seed,
                         const std::vector<float4>& scalar) {
  device.reset(seed);
  if (device.error != cudaSuccess) return NAN;
  launch(device.pos, device.vel, kDt, kAccel, kBodies, kAttractor);
  const std::vector<float4> got = device.positions();
  double worst = 0;
  for (int i = 0; i < kBodies; ++i)
    worst = std::max(
        {worst, std::fabs(double(got[i].x) - scalar[i].x), std::fabs(double(got[i].y) - scalar[i].y)});
  return worst;
}

JsonObject figureJson(const Figure& f) {
  JsonObject o;
  o.text("kind", f.kind);
  if (!f.error.empty()) return o.text("error", f.error);
  return o.number("median_ms", f.timing.median * 1e3)
      .integer("reps", f.timing.reps)
      .number("pairs_per_s", kPairs / f.timing.median);
}

void printFigure(const Figure& f) {
  if (!f.error.empty())
    std::printf("%-28s unavailable: %s\n", f.kind.c_str(), f.error.c_str());
  else
    std::printf("%-28s %9.3f %6d %12.1f\n", f.kind.c_str(), f.timing.median * 1e3, f.timing.reps,
                kPairs / f.timing.median / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parseOptions(argc, argv);
  const Bodies seed = seededBodies();
  DeviceBodies device(seed);

  // The scalar loop first: the kernels' one-step results are compared with it.
  Bodies scalar = seed;
  std::vector<float4> start;
  scalarStep(scalar, start);
  const std::vector<float4> scalarOneStep = scalar.pos;
  scalar = seed;
  Figure scalarFigure{"nbody-scalar-reference",
                      timeRepeated(repetitionsFor(options, 3.0), [&] { scalarStep(scalar, start); }), ""};

  const Figure tiled =
      measureKernel("nbody-tiled", launchMoveParticlesSharedWith, device, seed, repetitionsFor(options, 3.0));
  const Figure direct = measureKernel("nbody-direct", launchMoveParticlesDirectWith, device, seed,
                                      repetitionsFor(options, 3.0));

  Figure barriers{"tile-passes-only", {}, ""};
  if (device.error != cudaSuccess) {
    barriers.error = cudaGetErrorString(device.error);
  } else {
    barriers.timing = timeRepeated(repetitionsFor(options, 1.0),
                                   [&] { launchTilePassesOnly(device.pos, device.sink, kBodies); });
  }

  const double tiledDifference =
      oneStepDifference(launchMoveParticlesSharedWith, device, seed, scalarOneStep);
  const double directDifference =
      oneStepDifference(launchMoveParticlesDirectWith, device, seed, scalarOneStep);
  const double speedup = scalarFigure.timing.median / tiled.timing.median;
  const double barrierShare = barriers.timing.median / tiled.timing.median;
  const bool measured = tiled.error.empty() && direct.error.empty() && barriers.error.empty();

  if (options.json) {
    JsonObject out;
    out.integer("bodies", kBodies).number("pairs_per_step", kPairs);
    out.array("kinds", {figureJson(tiled), figureJson(direct), figureJson(scalarFigure)});
    out.object("barrier_overhead",
               figureJson(barriers).number("fraction_of_tiled", measured ? barrierShare : NAN));
    out.number("tiled_speedup_over_scalar", measured ? speedup : NAN).number("goal_tiled_speedup", 3);
    out.number("tiled_max_difference_after_one_step", tiledDifference)
        .number("direct_max_difference_after_one_step", directDifference);
    std::printf("%s\n", out.str().c_str());
  } else {
    std::printf("n-body step: %d bodies, %.0f pair terms per step\n", kBodies, kPairs);
    std::printf("%-28s %9s %6s %12s\n", "kind", "median ms", "reps", "Mpairs/s");
    printFigure(tiled);
    printFigure(direct);
    printFigure(scalarFigure);
    if (!barriers.error.empty())
      std::printf("%-28s unavailable: %s\n", barriers.kind.c_str(), barriers.error.c_str());
    if (measured) {
      std::printf(
          "barrier overhead: the tiled grid's fills and barriers alone take %.3f ms (median of %d), "
          "%.0f%% of a tiled step\n",
          barriers.timing.median * 1e3, barriers.timing.reps, 100 * barrierShare);
      std::printf("tiled / scalar speed: %.2fx   goal >= 3x: %s\n", speedup, speedup >= 3 ? "met" : "MISSED");
      std::printf(
          "agreement with the scalar loop after one step: tiled %.3g, direct %.3g (largest |difference|)\n",
          tiledDifference, directDifference);
    }
  }
  return 0;
}
