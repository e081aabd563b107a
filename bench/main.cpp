// velmora-bench: step timings of the swarm without a window, set against this machine's
// memory bandwidth measured in the same run; the n-body figures come from
// velmora-bench-nbody, run as a child because the two device modules cannot share a
// process (both define moveparticlesOnDevice, KDAT and the state globals).
#include <cuda_runtime.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hoststep.h"
#include "measure.h"
#include "random.h"
#include "swarm.h"
#include "velmoracuda.h"
#include "workers.h"

namespace {

constexpr double kBytesPerParticle = 64;  // two 16-byte loads and two 16-byte stores
constexpr size_t kCopyBytes = size_t(256) << 20;
constexpr size_t kCopyChunk = size_t(4) << 20;
constexpr size_t kStepChunk = 16384;  // particles per work item, as stepParticles hands out
constexpr float kDt = 0.01f;
constexpr float3 kAccel = {0, -0.5f, 0};
constexpr float3 kAttractor = {0, 0, 0};

struct Copy {
  size_t bytes = 0;  // per array
  Timing timing;
  std::string error;
  double gbps() const { return 2.0 * bytes / timing.median / 1e9; }  // read + write
};

struct StepFigure {
  std::string kind;
  Timing timing;
  std::string error;  // the step could not run here
  double goal = 0;    // largest acceptable time / floor; 0 when none is set
  const Copy* floorCopy = nullptr;
};

struct CopyJob {
  char* dst;
  const char* src;
};

void copyChunk(void* context, size_t begin, size_t end) {
  auto* job = static_cast<CopyJob*>(context);
  std::memcpy(job->dst + begin, job->src + begin, end - begin);
}

// A streaming copy on all cores. Both arrays are written once first so page faults stay
// out of the timing.
Copy measureHostCopy(size_t bytes, const Repetitions& reps) {
  std::vector<char> src(bytes, 1), dst(bytes, 0);
  CopyJob job{dst.data(), src.data()};
  Copy copy;
  copy.bytes = bytes;
  copy.timing = timeRepeated(reps, [&] { parallelFor(bytes, kCopyChunk, copyChunk, &job); });
  return copy;
}

Copy measureDeviceCopy(size_t bytes, const Repetitions& reps) {
  Copy copy;
  copy.bytes = bytes;
  void *src = nullptr, *dst = nullptr;
  cudaError_t error = cudaMalloc(&src, bytes);
  if (error == cudaSuccess) error = cudaMalloc(&dst, bytes);
  if (error == cudaSuccess) error = cudaMemset(src, 1, bytes);
  if (error == cudaSuccess) error = cudaMemset(dst, 0, bytes);
  if (error == cudaSuccess) error = cudaDeviceSynchronize();
  if (error != cudaSuccess) {
    copy.error = cudaGetErrorString(error);
  } else {
    copy.timing = timeRepeated(reps, [&] {
      cudaMemcpy(dst, src, bytes, cudaMemcpyDeviceToDevice);
      cudaDeviceSynchronize();
    });
  }
  cudaFree(src);
  cudaFree(dst);
  return copy;
}

struct Swarm {
  std::vector<float4> pos, vel;
};

// The seeded swarm the programs start from. Their colour fill draws one number per
// particle before the seeding does, so that many draws are skipped first.
Swarm seededSwarm() {
  Swarm seed{std::vector<float4>(kParticles, float4{0, 0, 0, 0}),
             std::vector<float4>(kParticles, float4{0, 0, 0, 0})};
  std::vector<float> tints(kParticles);
  for (int i = 0; i < kParticles; ++i) crt::rand();
  hostPos = seed.pos.data();
  hostVel = seed.vel.data();
  tint = tints.data();
  seedParticles();
  hostPos = hostVel = nullptr;
  tint = nullptr;
  return seed;
}

struct PortableJob {
  float4* pos;
  float4* vel;
};

void portableChunk(void* context, size_t begin, size_t end) {
  auto* job = static_cast<PortableJob*>(context);
  stepParticlesPortable(job->pos, job->vel, begin, end, kDt, kAccel, kAttractor);
}

std::vector<StepFigure> measureHostSteps(const Swarm& seed, const Repetitions& reps, const Copy& copy) {
  std::vector<StepFigure> figures;
  Swarm work;
  auto fresh = [&] { work = seed; };

  fresh();
  figures.push_back(
      {"host-step",
       timeRepeated(
           reps,
           [&] { stepParticles(work.pos.data(), work.vel.data(), kParticles, kDt, kAccel, kAttractor); }),
       "", 1.5, &copy});

  fresh();
  PortableJob job{work.pos.data(), work.vel.data()};
  figures.push_back({"host-step-portable",
                     timeRepeated(reps, [&] { parallelFor(kParticles, kStepChunk, portableChunk, &job); }),
                     "", 0, &copy});

  fresh();
  figures.push_back({"host-step-1thread-reference",
                     timeRepeated(reps,
                                  [&] {
                                    for (int i = 0; i < kParticles; ++i)
                                      stepParticleReference(work.pos[i], work.vel[i], kDt, kAccel,
                                                            kAttractor);
                                  }),
                     "", 0, &copy});
  return figures;
}

StepFigure measureDeviceStep(const Swarm& seed, const Repetitions& reps, const Copy& floorCopy, double goal) {
  StepFigure figure{"device-step", {}, "", goal, &floorCopy};
  const size_t bytes = sizeof(float4) * kParticles;
  float4 *pos = nullptr, *vel = nullptr;
  cudaError_t error = cudaMalloc(&pos, bytes);
  if (error == cudaSuccess) error = cudaMalloc(&vel, bytes);
  if (error == cudaSuccess) error = cudaMemcpy(pos, seed.pos.data(), bytes, cudaMemcpyHostToDevice);
  if (error == cudaSuccess) error = cudaMemcpy(vel, seed.vel.data(), bytes, cudaMemcpyHostToDevice);
  if (error == cudaSuccess) error = cudaDeviceSynchronize();
  if (error != cudaSuccess) {
    figure.error = cudaGetErrorString(error);
  } else {
    figure.timing = timeRepeated(reps, [&] {
      cudaDeviceSynchronize();
      launchMoveParticlesWith(pos, vel, kDt, kAccel, kParticles, kAttractor);
      cudaDeviceSynchronize();
    });
    if (cudaGetLastError() != cudaSuccess) figure.error = "the launch failed";
  }
  cudaFree(pos);
  cudaFree(vel);
  return figure;
}

std::string siblingProgram(const char* name) {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return name;
  std::string path(self, static_cast<size_t>(length));
  return path.substr(0, path.rfind('/') + 1) + name;
}

// Runs velmora-bench-nbody with the same options; its standard output, or why there is none.
bool runNbodyBench(const Options& options, std::string& output, std::string& error) {
  std::string command = "'" + siblingProgram("velmora-bench-nbody") + "'";
  if (options.json) command += " --json";
  if (options.quick) command += " --quick";
  std::fflush(stdout);
  FILE* child = popen(command.c_str(), "r");
  if (child == nullptr) {
    error = std::string("cannot start velmora-bench-nbody: ") + std::strerror(errno);
    return false;
  }
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, child)) > 0) output.append(buffer, got);
  const int status = pclose(child);
  if (status != 0) {
    error = "velmora-bench-nbody failed (status " + std::to_string(status) + ")";
    return false;
  }
  while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
  return true;
}

struct Derived {
  double perSecond, gbps, fraction, floorRatio;
};

Derived derive(const StepFigure& f) {
  const double bytes = kBytesPerParticle * kParticles;
  const double t = f.timing.median;
  Derived d{kParticles / t, bytes / t / 1e9, NAN, NAN};
  if (f.floorCopy && f.floorCopy->error.empty()) {
    d.fraction = d.gbps / f.floorCopy->gbps();
    d.floorRatio = t / (bytes / (f.floorCopy->gbps() * 1e9));
  }
  return d;
}

JsonObject copyJson(const Copy& c) {
  JsonObject o;
  o.integer("bytes_per_array", static_cast<long long>(c.bytes));
  if (!c.error.empty()) return o.text("error", c.error);
  return o.number("median_ms", c.timing.median * 1e3).integer("reps", c.timing.reps).number("gbps", c.gbps());
}

JsonObject stepJson(const StepFigure& f) {
  JsonObject o;
  o.text("kind", f.kind);
  if (!f.error.empty()) return o.text("error", f.error);
  const Derived d = derive(f);
  o.number("median_ms", f.timing.median * 1e3)
      .integer("reps", f.timing.reps)
      .number("particles_per_s", d.perSecond)
      .number("gbps", d.gbps)
      .number("fraction_of_copy", d.fraction)
      .number("time_over_floor", d.floorRatio);
  if (f.goal > 0) o.number("goal_time_over_floor", f.goal).boolean("goal_met", d.floorRatio <= f.goal);
  return o;
}

void printCopy(const char* what, const Copy& c) {
  if (!c.error.empty()) {
    std::printf("%-28s unavailable: %s\n", what, c.error.c_str());
    return;
  }
  std::printf("%-28s 2 x %6.1f MiB  %8.3f ms  %7.2f GB/s (read+write)  median of %d\n", what,
              c.bytes / 1048576.0, c.timing.median * 1e3, c.gbps(), c.timing.reps);
}

void printStep(const StepFigure& f) {
  if (!f.error.empty()) {
    std::printf("%-28s unavailable: %s\n", f.kind.c_str(), f.error.c_str());
    return;
  }
  const Derived d = derive(f);
  std::printf("%-28s %9.3f %6d %10.1f %8.2f %8.2f %8.2fx", f.kind.c_str(), f.timing.median * 1e3,
              f.timing.reps, d.perSecond / 1e6, d.gbps, d.fraction, d.floorRatio);
  if (f.goal > 0) std::printf("   goal <= %.1fx: %s", f.goal, d.floorRatio <= f.goal ? "met" : "MISSED");
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parseOptions(argc, argv);
  const auto started = std::chrono::steady_clock::now();
  const bool cudaRuntime = std::strcmp(runtimeName(), "cuda") == 0;
  // Other processes on the machine skew the threaded figures; the load says how much.
  double load = NAN;
  getloadavg(&load, 1);

  const Copy hostCopy = measureHostCopy(kCopyBytes, repetitionsFor(options, 1.0));
  // The swarm's own footprint, 16 MB: on CPUs with a large last-level cache the step's
  // arrays stay there between steps, which the DRAM copy above does not show.
  const Copy footprintCopy = measureHostCopy(sizeof(float4) * kParticles, repetitionsFor(options, 0.5));

  const Swarm seed = seededSwarm();
  std::vector<StepFigure> steps = measureHostSteps(seed, repetitionsFor(options, 2.5), hostCopy);
  Copy deviceCopy;
  if (cudaRuntime) deviceCopy = measureDeviceCopy(kCopyBytes, repetitionsFor(options, 0.5));
  steps.push_back(measureDeviceStep(seed, repetitionsFor(options, 2.5), cudaRuntime ? deviceCopy : hostCopy,
                                    cudaRuntime ? 0 : 2.0));

  std::string nbody, nbodyError;
  // In human mode the child's lines come after ours, so ours must be out first.
  if (!options.json) {
    std::printf("velmora-bench: runtime %s, %u threads, load average %.2f at start%s\n\n", runtimeName(),
                workerCount(), load, options.quick ? ", quick run (figures are not measurements)" : "");
    printCopy("memory: streaming copy", hostCopy);
    printCopy("  copy at swarm footprint", footprintCopy);
    if (cudaRuntime) printCopy("device: cudaMemcpy D2D", deviceCopy);
    std::printf(
        "\nswarm step: %d particles x %.0f bytes = %.1f MB per step; floor = bytes / copy bandwidth = "
        "%.3f ms\n",
        kParticles, kBytesPerParticle, kBytesPerParticle * kParticles / 1e6,
        kBytesPerParticle * kParticles / (hostCopy.gbps() * 1e9) * 1e3);
    std::printf("goals: host-step <= 1.5x floor; device-step on the host runtime <= 2x floor\n");
    std::printf("%-28s %9s %6s %10s %8s %8s %9s\n", "kind", "median ms", "reps", "Mpart/s", "GB/s", "of copy",
                "/ floor");
    for (const StepFigure& f : steps) printStep(f);
    std::printf("\n");
    std::fflush(stdout);
  }
  const bool nbodyRan = runNbodyBench(options, nbody, nbodyError);
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  if (options.json) {
    std::vector<JsonObject> kinds;
    kinds.reserve(steps.size());
    for (const StepFigure& f : steps) kinds.push_back(stepJson(f));
    JsonObject swarm;
    swarm.integer("particles", kParticles)
        .number("bytes_per_step", kBytesPerParticle * kParticles)
        .number("floor_ms", kBytesPerParticle * kParticles / (hostCopy.gbps() * 1e9) * 1e3)
        .array("kinds", kinds);
    JsonObject out;
    out.text("runtime", runtimeName()).integer("threads", workerCount()).boolean("quick", options.quick);
    out.number("load_average_at_start", load);
    out.object("copy", copyJson(hostCopy)).object("copy_swarm_footprint", copyJson(footprintCopy));
    if (cudaRuntime) out.object("device_copy", copyJson(deviceCopy));
    out.object("swarm", swarm);
    if (nbodyRan)
      out.raw("nbody", nbody);
    else
      out.raw("nbody", "null").text("nbody_error", nbodyError);
    out.number("elapsed_s", elapsed);
    std::printf("%s\n", out.str().c_str());
  } else {
    if (nbodyRan)
      std::printf("%s\n", nbody.c_str());
    else
      std::printf("n-body: unavailable: %s\n", nbodyError.c_str());
    std::printf("\nwhole run: %.1f s\n", elapsed);
  }
  return nbodyRan ? 0 : 1;
}
