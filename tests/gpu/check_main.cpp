// Driver of the kernel comparison programs. Modes:
//   run --out DIR [--quick]   every kernel over every case on this build's runtime; writes
//                             positions and velocities after each step to DIR
//   compare --reference DIR   recomputes the cases here and compares with DIR
//   selfcheck                 the kernels against independent host references, and the
//                             comparison against itself (it must be able to fail)
//   time                      kernel timings (cuda build only)
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bits.h"

#include <sys/stat.h>
#include <unistd.h>

#include "check.h"

namespace {

constexpr int kGuard = 256;  // elements each side; wider than any block of ours
constexpr uint32_t kGuardWord = 0xDEADBEEF;
constexpr char kMagic[8] = {'V', 'L', 'M', 'C', 'H', 'K', '0', '1'};

float4 guardElement() {
  float4 g;
  const uint32_t words[4] = {kGuardWord, kGuardWord, kGuardWord, kGuardWord};
  std::memcpy(&g, words, sizeof g);
  return g;
}

[[noreturn]] void die(const std::string& why) {
  std::fflush(stdout);
  std::fprintf(stderr, "velmora-check: %s\n", why.c_str());
  std::exit(2);
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char buffer[512];
  va_list args;
  va_start(args, fmt);
  // clang-tidy 14 misreads va_start on this target; args is initialised just above.
  // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized)
  std::vsnprintf(buffer, sizeof buffer, fmt, args);
  va_end(args);
  return buffer;
}

}  // namespace

DeviceState::DeviceState(const Case& c) : n(c.n()) {
  const size_t total = static_cast<size_t>(n) + 2 * kGuard;
  std::vector<float4> staging(total, guardElement());
  if (cudaMalloc(&posBase, total * sizeof(float4)) != cudaSuccess ||
      cudaMalloc(&velBase, total * sizeof(float4)) != cudaSuccess)
    die(format("cannot allocate device memory for %d elements", n));
  std::copy(c.pos.begin(), c.pos.end(), staging.begin() + kGuard);
  cudaMemcpy(posBase, staging.data(), total * sizeof(float4), cudaMemcpyHostToDevice);
  std::fill(staging.begin(), staging.end(), guardElement());
  std::copy(c.vel.begin(), c.vel.end(), staging.begin() + kGuard);
  cudaMemcpy(velBase, staging.data(), total * sizeof(float4), cudaMemcpyHostToDevice);
  pos = posBase + kGuard;
  vel = velBase + kGuard;
}

DeviceState::~DeviceState() {
  cudaFree(posBase);
  cudaFree(velBase);
}

void DeviceState::download(std::vector<float4>& p, std::vector<float4>& v) const {
  p.resize(n);
  v.resize(n);
  cudaMemcpy(p.data(), pos, n * sizeof(float4), cudaMemcpyDeviceToHost);
  cudaMemcpy(v.data(), vel, n * sizeof(float4), cudaMemcpyDeviceToHost);
}

std::string DeviceState::guardDamage() const {
  const size_t total = static_cast<size_t>(n) + 2 * kGuard;
  std::vector<float4> all(total);
  const float4 g = guardElement();
  std::string damage;
  for (int array = 0; array < 2; ++array) {
    cudaMemcpy(all.data(), array == 0 ? posBase : velBase, total * sizeof(float4), cudaMemcpyDeviceToHost);
    for (size_t k = 0; k < total; ++k) {
      if (k == kGuard) k = kGuard + static_cast<size_t>(n);
      if (k >= total) break;
      if (!sameBits(all[k], g)) {
        const long index = static_cast<long>(k) - kGuard;
        damage =
            format("%s element %ld (n = %d) overwritten", array == 0 ? "position" : "velocity", index, n);
        return damage;
      }
    }
  }
  return damage;
}

namespace {

// Units in the last place of a float of magnitude x, as a double.
double ulpOf(double x) {
  int e;
  std::frexp(x, &e);
  return std::ldexp(1.0, std::max(e, -125) - 24);
}

// Accumulates the differences between a candidate run and a reference run of one case.
class Comparison {
 public:
  Comparison(const Tolerance& t, const Case& c)
      : tol_(t),
        allowedOutliers_(static_cast<long>(t.outlierShare * c.n())),
        outlierVel_(t.outlierVel ? t.outlierVel(c) : 0),
        outlierPos_(t.outlierPos ? t.outlierPos(c) : 0) {}

  void fail(const std::string& why) {
    if (failure_.empty()) failure_ = why;
  }

  void step(int s, const std::vector<float4>& pos, const std::vector<float4>& vel,
            const std::vector<float4>& refPos, const std::vector<float4>& refVel) {
    if (!failure_.empty()) return;
    long outliers = 0;
    for (size_t i = 0; i < pos.size(); ++i) {
      const float a[4] = {pos[i].x, pos[i].y, vel[i].x, vel[i].y};
      const float b[4] = {refPos[i].x, refPos[i].y, refVel[i].x, refVel[i].y};
      if (!sameBits(pos[i].z, refPos[i].z) || !sameBits(pos[i].w, refPos[i].w) ||
          !sameBits(vel[i].z, refVel[i].z) || !sameBits(vel[i].w, refVel[i].w))
        return fail(format("step %d element %zu: z or w differ", s + 1, i));
      double worst = 0;
      for (int k = 0; k < 4; ++k) {
        const bool fa = std::isfinite(a[k]), fb = std::isfinite(b[k]);
        if (!fa || !fb) {
          // Both non-finite alike is agreement; anything else is a failure.
          const bool alike =
              (std::isnan(a[k]) && std::isnan(b[k])) || (std::isinf(a[k]) && sameBits(a[k], b[k]));
          if (!alike)
            return fail(format("step %d element %zu: %s %s is %g here, %g in the reference", s + 1, i,
                               k < 2 ? "position" : "velocity", k % 2 ? "y" : "x", a[k], b[k]));
          continue;
        }
        const double floor = k < 2 ? tol_.posFloor : tol_.velFloor;
        const double scale = std::max({std::fabs(double(a[k])), std::fabs(double(b[k])), floor});
        const double err = std::fabs(double(a[k]) - double(b[k])) / ulpOf(scale);
        worst = std::max(worst, err);
      }
      if (worst <= tol_.bulkUlp) {
        maxUlp_ = std::max(maxUlp_, worst);
        continue;
      }
      const double dv =
          std::max(std::fabs(double(vel[i].x) - refVel[i].x), std::fabs(double(vel[i].y) - refVel[i].y));
      const double dp =
          std::max(std::fabs(double(pos[i].x) - refPos[i].x), std::fabs(double(pos[i].y) - refPos[i].y));
      if (allowedOutliers_ == 0 || dv > outlierVel_ || dp > outlierPos_)
        return fail(
            format("step %d element %zu: %.3g ulp (|dpos| %.3g, |dvel| %.3g) over the bound of %.3g ulp",
                   s + 1, i, worst, dp, dv, tol_.bulkUlp));
      ++outliers;
      maxOutlierVel_ = std::max(maxOutlierVel_, dv);
      maxOutlierPos_ = std::max(maxOutlierPos_, dp);
    }
    if (outliers > allowedOutliers_)
      return fail(format("step %d: %ld elements past %.3g ulp, at most %ld allowed", s + 1, outliers,
                         tol_.bulkUlp, allowedOutliers_));
    maxOutliers_ = std::max(maxOutliers_, outliers);
  }

  bool passed() const { return failure_.empty(); }
  double maxUlp() const { return maxUlp_; }

  std::string summary() const {
    if (!failure_.empty()) return failure_;
    std::string s = format("max %.3g ulp", maxUlp_);
    if (maxOutliers_ > 0)
      s += format("; %ld outliers (at most %ld allowed), |dvel| <= %.3g, |dpos| <= %.3g", maxOutliers_,
                  allowedOutliers_, maxOutlierVel_, maxOutlierPos_);
    return s;
  }

 private:
  Tolerance tol_;
  long allowedOutliers_;
  double outlierVel_, outlierPos_;
  double maxUlp_ = 0, maxOutlierVel_ = 0, maxOutlierPos_ = 0;
  long maxOutliers_ = 0;
  std::string failure_;
};

using StepSink =
    std::function<void(int step, const std::vector<float4>& pos, const std::vector<float4>& vel)>;

// Runs one kernel over one case on this build's runtime. Empty result: no launch error and
// the guards are untouched; else what went wrong.
std::string runCase(const Kernel& kernel, const Case& c, const StepSink& sink) {
  DeviceState state(c);
  std::vector<float4> pos, vel;
  for (int s = 0; s < c.steps(); ++s) {
    kernel.launch(state.pos, state.vel, c.dt, c.accel, c.n(), c.attractors[s]);
    cudaError_t error = cudaGetLastError();
    if (error == cudaSuccess) error = cudaDeviceSynchronize();
    if (error != cudaSuccess) return format("step %d: %s", s + 1, cudaGetErrorString(error));
    state.download(pos, vel);
    sink(s, pos, vel);
  }
  return state.guardDamage();
}

// The case's state stepped by a host function.
void runHost(HostStepFn step, const Case& c, const StepSink& sink) {
  std::vector<float4> pos = c.pos, vel = c.vel;
  for (int s = 0; s < c.steps(); ++s) {
    step(pos, vel, c.dt, c.accel, c.attractors[s]);
    sink(s, pos, vel);
  }
}

std::string resultName(const Module& m, const Kernel& k, const Case& c) {
  return std::string(m.name) + "." + k.name + "." + c.name;
}

// Result file: the 8-byte magic, then n, steps and the length of the name as little-endian
// uint32, the name, then per step n positions and n velocities as float32 (x y z w).
class ResultWriter {
 public:
  ResultWriter(const std::string& path, const std::string& name, const Case& c) : path_(path) {
    file_ = std::fopen(path.c_str(), "wb");
    if (!file_) die("cannot write " + path);
    const uint32_t header[3] = {static_cast<uint32_t>(c.n()), static_cast<uint32_t>(c.steps()),
                                static_cast<uint32_t>(name.size())};
    put(kMagic, sizeof kMagic);
    put(header, sizeof header);
    put(name.data(), name.size());
  }
  ~ResultWriter() {
    if (std::fclose(file_) != 0) die("cannot write " + path_);
  }
  void step(const std::vector<float4>& pos, const std::vector<float4>& vel) {
    put(pos.data(), pos.size() * sizeof(float4));
    put(vel.data(), vel.size() * sizeof(float4));
  }

 private:
  void put(const void* p, size_t bytes) {
    if (std::fwrite(p, 1, bytes, file_) != bytes) die("cannot write " + path_);
  }
  std::string path_;
  FILE* file_ = nullptr;
};

class ResultReader {
 public:
  // Opens the file; problem() is non-empty when it is missing or is not this case's.
  ResultReader(const std::string& path, const std::string& name, const Case& c) : n_(c.n()) {
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
      problem_ = "no result file " + path;
      return;
    }
    char magic[8];
    uint32_t header[3];
    if (!get(magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof magic) != 0 ||
        !get(header, sizeof header)) {
      problem_ = "not a result file: " + path;
      return;
    }
    std::string stored(header[2], '\0');
    if (!get(stored.data(), stored.size()) || stored != name || header[0] != static_cast<uint32_t>(c.n()) ||
        header[1] != static_cast<uint32_t>(c.steps()))
      problem_ = format("%s holds %s (n=%u, %u steps), not this case (n=%d, %d steps)", path.c_str(),
                        stored.c_str(), header[0], header[1], c.n(), c.steps());
  }
  ~ResultReader() {
    if (file_) std::fclose(file_);
  }
  const std::string& problem() const { return problem_; }
  bool step(std::vector<float4>& pos, std::vector<float4>& vel) {
    pos.resize(n_);
    vel.resize(n_);
    return get(pos.data(), n_ * sizeof(float4)) && get(vel.data(), n_ * sizeof(float4));
  }

 private:
  bool get(void* p, size_t bytes) { return std::fread(p, 1, bytes, file_) == bytes; }
  size_t n_;
  FILE* file_ = nullptr;
  std::string problem_;
};

struct Report {
  int failures = 0;
  void line(bool pass, const std::string& what) {
    std::printf("%s  %s\n", pass ? "PASS" : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!pass) ++failures;
  }
};

std::string label(const Module& m, const Kernel& k, const Case& c) {
  return format("%s/%s %s (n=%d, %d steps)", m.name, k.name, c.name.c_str(), c.n(), c.steps());
}

int runMode(const Module& m, const std::string& dir, bool quick) {
  mkdir(dir.c_str(), 0777);
  Report report;
  for (const Case& c : m.cases(quick)) {
    for (const Kernel& k : m.kernels) {
      const std::string name = resultName(m, k, c);
      ResultWriter writer(dir + "/" + (name + ".bin"), name, c);
      const std::string problem = runCase(
          k, c, [&](int, const std::vector<float4>& p, const std::vector<float4>& v) { writer.step(p, v); });
      report.line(problem.empty(),
                  "run " + label(m, k, c) + ": " + (problem.empty() ? "guards untouched" : problem));
    }
  }
  return report.failures ? 1 : 0;
}

// Compares the result file of one kernel and case with this build's own run of it.
Comparison compareWithFile(const Module& m, const Kernel& k, const Case& c, const std::string& dir) {
  Comparison cmp(k.vsHost, c);
  const std::string name = resultName(m, k, c);
  ResultReader reader(dir + "/" + name + ".bin", name, c);
  if (!reader.problem().empty()) {
    cmp.fail(reader.problem());
    return cmp;
  }
  std::vector<float4> refPos, refVel;
  const std::string problem =
      runCase(k, c, [&](int s, const std::vector<float4>& p, const std::vector<float4>& v) {
        if (!reader.step(refPos, refVel))
          cmp.fail(format("result file ends before step %d", s + 1));
        else
          cmp.step(s, refPos, refVel, p, v);
      });
  if (!problem.empty()) cmp.fail("this build's run: " + problem);
  return cmp;
}

int compareMode(const Module& m, const std::string& dir) {
  Report report;
  for (const Case& c : m.cases(false))
    for (const Kernel& k : m.kernels) {
      const Comparison cmp = compareWithFile(m, k, c, dir);
      report.line(cmp.passed(), label(m, k, c) + " vs this runtime: " + cmp.summary());
    }
  return report.failures ? 1 : 0;
}

// A run compared with a host-side stepping of the same case.
Comparison compareWithHost(const Kernel& k, const Case& c, HostStepFn step, const Tolerance& tol) {
  std::vector<std::vector<float4>> hostPos, hostVel;
  runHost(step, c, [&](int, const std::vector<float4>& p, const std::vector<float4>& v) {
    hostPos.push_back(p);
    hostVel.push_back(v);
  });
  Comparison cmp(tol, c);
  const std::string problem =
      runCase(k, c, [&](int s, const std::vector<float4>& p, const std::vector<float4>& v) {
        cmp.step(s, p, v, hostPos[s], hostVel[s]);
      });
  if (!problem.empty()) cmp.fail(problem);
  return cmp;
}

// Overwrites one float of a result file: element `index` of the last step's positions,
// component x.
void corrupt(const std::string& path, const Case& c, const std::string& name, float value) {
  FILE* f = std::fopen(path.c_str(), "r+b");
  if (!f) die("cannot open " + path);
  const long header = sizeof kMagic + 3 * sizeof(uint32_t) + static_cast<long>(name.size());
  const long stepBytes = 2L * c.n() * static_cast<long>(sizeof(float4));
  const long index = c.n() / 2;
  std::fseek(f, header + (c.steps() - 1) * stepBytes + index * static_cast<long>(sizeof(float4)), SEEK_SET);
  std::fwrite(&value, sizeof value, 1, f);
  std::fclose(f);
}

int selfcheckMode(const Module& m) {
  Report report;
  std::vector<Case> cases = m.cases(false);
  std::vector<Case> small(cases.begin() + 1, cases.end());  // all but the program's seeded state

  for (const Kernel& k : m.kernels)
    for (const Case& c : small) {
      const Comparison cmp = compareWithHost(k, c, m.reference, m.vsReference);
      report.line(cmp.passed(), label(m, k, c) + " vs host reference: " + cmp.summary());
    }

  // The GPU's rounding (contracted multiply-adds, the approximate reciprocal square root)
  // must stay inside the tolerance compare uses, on every case.
  for (const Kernel& k : m.kernels)
    for (const Case& c : cases) {
      const Comparison cmp = compareWithHost(k, c, k.gpuRounding, k.vsHost);
      report.line(cmp.passed(),
                  label(m, k, c) + " with the GPU's rounding, within the compare bound: " + cmp.summary());
    }

  // The comparison itself, through result files: a run against itself, then with one
  // value made NaN, then with one value moved far.
  char dirTemplate[] = "/tmp/velmora-selfcheck-XXXXXX";
  if (!mkdtemp(dirTemplate)) die("cannot make a temporary directory");
  const std::string dir = dirTemplate;
  const Kernel& k = m.kernels.front();
  const Case& c = small.front();
  const std::string name = resultName(m, k, c);
  const std::string path = dir + "/" + name + ".bin";
  {
    ResultWriter writer(path, name, c);
    runCase(k, c,
            [&](int, const std::vector<float4>& p, const std::vector<float4>& v) { writer.step(p, v); });
  }
  Comparison same = compareWithFile(m, k, c, dir);
  report.line(same.passed() && same.maxUlp() == 0, "comparison of a run with itself: " + same.summary());
  const struct {
    const char* what;
    float value;
  } faults[] = {{"one NaN", std::nanf("")}, {"one value moved by 0.5", 0.0f}};
  for (const auto& fault : faults) {
    std::vector<float4> p, v;
    float value = fault.value;
    if (!std::isnan(value)) {
      // The stored value plus 0.5: far outside any bound, yet finite and in range.
      ResultReader reader(path, name, c);
      for (int s = 0; s < c.steps(); ++s) reader.step(p, v);
      value = p[c.n() / 2].x + 0.5f;
    }
    corrupt(path, c, name, value);
    const Comparison cmp = compareWithFile(m, k, c, dir);
    report.line(!cmp.passed(),
                format("comparison fails a result file with %s: ", fault.what) + cmp.summary());
    // Restore the file for the next fault.
    ResultWriter writer(path, name, c);
    runCase(k, c,
            [&](int, const std::vector<float4>& pp, const std::vector<float4>& vv) { writer.step(pp, vv); });
  }
  std::remove(path.c_str());
  rmdir(dir.c_str());
  return report.failures ? 1 : 0;
}

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: velmora-check-<module> run --out DIR [--quick]\n"
               "       velmora-check-<module> compare --reference DIR\n"
               "       velmora-check-<module> selfcheck\n"
               "       velmora-check-<module> time\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) usage();
  const std::string mode = argv[1];
  std::string dir;
  bool quick = false;
  for (int a = 2; a < argc; ++a) {
    const std::string arg = argv[a];
    if ((arg == "--out" || arg == "--reference") && a + 1 < argc)
      dir = argv[++a];
    else if (arg == "--quick")
      quick = true;
    else
      usage();
  }
  const Module& m = checkedModule();
  if (mode == "run" && !dir.empty()) return runMode(m, dir, quick);
  if (mode == "compare" && !dir.empty() && !quick) return compareMode(m, dir);
  if (mode == "selfcheck" && dir.empty() && !quick) return selfcheckMode(m);
  if (mode == "time" && dir.empty() && !quick) return timeKernels(m, m.cases(false));
  usage();
}

void markZW(Case& c) {
  for (int i = 0; i < c.n(); ++i) {
    const uint32_t nanBits = 0x7FC00000u | static_cast<uint32_t>(i + 1);
    float nan;
    std::memcpy(&nan, &nanBits, sizeof nan);
    c.pos[i].z = 0.5f * static_cast<float>(i) + 0.25f;
    c.pos[i].w = -1.0f - static_cast<float>(i);
    c.vel[i].z = 1e-3f * static_cast<float>(i + 1);
    c.vel[i].w = nan;
  }
}

float rsqrtLikeDevice(float x) {
  if (!(x > 0) || std::isinf(x)) return 1.0f / std::sqrt(x);  // 0, infinity, NaN, negative
  const float exact = static_cast<float>(1.0 / std::sqrt(static_cast<double>(x)));
  uint32_t bits;
  std::memcpy(&bits, &exact, sizeof bits);
  uint32_t key;
  std::memcpy(&key, &x, sizeof key);
  bits += static_cast<uint32_t>(static_cast<int>((key * 2654435761u) >> 29) % 5 - 2);
  float moved;
  std::memcpy(&moved, &bits, sizeof moved);
  return moved;
}
