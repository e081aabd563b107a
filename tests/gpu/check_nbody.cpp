// velmora-check-nbody: the tiled kernel moveparticlesSharedOnDevice and the direct kernel
// moveparticlesOnDevice, through their launches with the caller's velocities.
#include <cmath>
#include <iostream>
#include <sstream>

#include "check.h"
#include "frame.h"
#include "nbody.h"
#include "random.h"
#include "velmoracuda.h"

// The frame's buffer size; the state code that seeds the bodies links against the frame.
const size_t vboBytes = 16 * size_t{kBodies};

namespace {

constexpr float kDt = 0.004f;
constexpr float kPull = 0.405f;  // KDAT of the n-body module
constexpr float kBigG = 0.001f;
constexpr float kEps2 = 0.004f;
constexpr int kSteps = 10;
constexpr int kQuickSteps = 2;
constexpr int kQuickBodies = 1000;

// The bodies exactly as velmora-nbody starts them: the colour fill's 5,835 draws, then
// seedDisks. It can be made once per process, from the untouched generator.
const Case& seededBodies() {
  static const Case bodies = [] {
    Case c;
    c.name = "seeded";
    c.pos.resize(kBodies);
    c.vel.resize(kBodies);
    for (int i = 0; i < kBodies; ++i) crt::rand();
    hostPos = c.pos.data();
    hostVel = c.vel.data();
    std::ostringstream quiet;  // seedDisks prints the count; the check reports its own
    std::streambuf* out = std::cout.rdbuf(quiet.rdbuf());
    const int seeded = seedDisks();
    std::cout.rdbuf(out);
    hostPos = hostVel = nullptr;
    if (seeded != kBodies) {
      std::fprintf(stderr, "velmora-check: seedDisks made %d bodies, not %d\n", seeded, kBodies);
      std::exit(2);
    }
    c.dt = kDt;
    c.accel = float3{0, 0, 0};
    return c;
  }();
  return bodies;
}

Case handMade(const char* name, std::vector<float4> pos, std::vector<float4> vel, float3 attractor,
              float3 accel = float3{0, 0, 0}) {
  Case c;
  c.name = name;
  c.pos = std::move(pos);
  c.vel = std::move(vel);
  c.dt = kDt;
  c.accel = accel;
  c.attractors.assign(kSteps, attractor);
  markZW(c);
  return c;
}

// Bodies spread a little past the view square (nothing holds them inside it).
Case randomBodies(const char* name, int n, uint32_t seed, float3 attractor, float3 accel) {
  CaseRandom r(seed);
  std::vector<float4> pos(n), vel(n);
  for (int i = 0; i < n; ++i) {
    pos[i] = float4{r.uniform(-1.5f, 1.5f), r.uniform(-1.5f, 1.5f), 0, 0};
    vel[i] = float4{r.uniform(-0.25f, 0.25f), r.uniform(-0.25f, 0.25f), 0, 0};
  }
  return handMade(name, pos, vel, attractor, accel);
}

std::vector<Case> nbodyCases(bool quick) {
  const int steps = quick ? kQuickSteps : kSteps;
  std::vector<Case> cases;
  Case seeded = seededBodies();
  if (quick) {
    seeded.pos.resize(kQuickBodies);
    seeded.vel.resize(kQuickBodies);
  }
  seeded.attractors.assign(steps, float3{0, 0, 0});
  cases.push_back(std::move(seeded));

  // n not a multiple of the 64-body tile or the 128-thread block: partial last tiles.
  cases.push_back(randomBodies("random-1000", 1000, 11, float3{0.2f, -0.1f, 0}, float3{0.1f, -0.2f, 0}));
  cases.push_back(randomBodies("random-100", 100, 12, float3{0, 0, 0}, float3{0, 0, 0}));
  // Alone: only its own pair, which adds nothing.
  cases.push_back(randomBodies("single", 1, 13, float3{0.5f, -0.5f, 0}, float3{0, 0, 0}));
  // Two bodies on the same spot pull each other with zero force, not an infinite one.
  cases.push_back(handMade("coincident", {{0.25f, 0.25f, 0, 0}, {0.25f, 0.25f, 0, 0}, {-0.3f, 0.1f, 0, 0}},
                           {{0, 0, 0, 0}, {0.1f, 0, 0, 0}, {0, 0, 0, 0}}, float3{0, 0, 0}));
  // At rest on the attractor: no pull from it, only the other bodies'.
  cases.push_back(handMade("on-attractor", {{0.4f, 0.4f, 0, 0}, {0.45f, 0.4f, 0, 0}, {-0.8f, 0.2f, 0, 0}},
                           {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0.1f, 0, 0}}, float3{0.4f, 0.4f, 0}));
  Case moving = randomBodies("attractor-moving", 200, 14, float3{0, 0, 0}, float3{0, 0, 0});
  for (int s = 0; s < kSteps; ++s)
    moving.attractors[s] = float3{0.1f * s - 0.5f, 0.3f - 0.05f * s, 9.0f};  // z is never read
  cases.push_back(std::move(moving));

  for (size_t k = 1; k < cases.size(); ++k) cases[k].attractors.resize(steps, cases[k].attractors.back());
  return cases;
}

// The step in double precision, written from the physics rather than from the kernels:
// softened attraction of every body (itself adds nothing), constant pull toward the
// attractor, semi-implicit Euler; only the stored state is rounded to float.
void referenceStep(std::vector<float4>& pos, std::vector<float4>& vel, float dt, float3 accel,
                   float3 attractor) {
  const std::vector<float4> start = pos;
  for (size_t i = 0; i < pos.size(); ++i) {
    const double px = start[i].x, py = start[i].y;
    double ax = 0, ay = 0;
    for (const float4& q : start) {
      const double dx = q.x - px, dy = q.y - py;
      const double s = dx * dx + dy * dy + double(kEps2);
      const double scale = double(kBigG) / (s * std::sqrt(s));
      ax += dx * scale;
      ay += dy * scale;
    }
    const double tx = attractor.x - px, ty = attractor.y - py;
    const double dist = std::hypot(tx, ty);
    if (dist != 0) {
      ax += double(kPull) * tx / dist;
      ay += double(kPull) * ty / dist;
    }
    vel[i].x = static_cast<float>(vel[i].x + dt * (ax + accel.x));
    vel[i].y = static_cast<float>(vel[i].y + dt * (ay + accel.y));
    pos[i].x = static_cast<float>(px + double(dt) * vel[i].x);
    pos[i].y = static_cast<float>(py + double(dt) * vel[i].y);
  }
}

// The common tail of both kernels with the GPU's rounding.
void integrateLikeDevice(float4& p, float4& v, float accX, float accY, float dt, float3 accel,
                         float3 attractor) {
  const float ax = attractor.x - p.x;
  const float ay = attractor.y - p.y;
  const float dist = 1.0f / rsqrtLikeDevice(std::fma(ax, ax, ay * ay));
  float fx = 0, fy = 0;
  if (dist != 0.0f) {
    const float u = 1.0f / dist;
    fx = (ax * kPull) * u;
    fy = (ay * kPull) * u;
  }
  v.x = std::fma(dt, accX + (accel.x + fx), v.x);
  v.y = std::fma(dt, accY + (accel.y + fy), v.y);
  p.x = std::fma(dt, v.x, p.x);
  p.y = std::fma(dt, v.y, p.y);
}

void tiledGpuRounding(std::vector<float4>& pos, std::vector<float4>& vel, float dt, float3 accel,
                      float3 attractor) {
  const std::vector<float4> start = pos;
  for (size_t i = 0; i < pos.size(); ++i) {
    const float4 p = start[i];
    float accX = 0, accY = 0;
    for (const float4& q : start) {
      const float dx = q.x - p.x;
      const float dy = q.y - p.y;
      const float r = 1.0f / rsqrtLikeDevice(std::fma(dx, dx, dy * dy) + kEps2);
      const float c = 1.0f / (r * (r * r));
      accX = std::fma(dx * kBigG, c, accX);
      accY = std::fma(dy * kBigG, c, accY);
    }
    integrateLikeDevice(pos[i], vel[i], accX, accY, dt, accel, attractor);
  }
}

void directGpuRounding(std::vector<float4>& pos, std::vector<float4>& vel, float dt, float3 accel,
                       float3 attractor) {
  const std::vector<float4> start = pos;
  for (size_t i = 0; i < pos.size(); ++i) {
    const float4 p = start[i];
    float accX = 0, accY = 0;
    for (const float4& q : start) {
      const float dx = p.x - q.x;
      const float dy = p.y - q.y;
      const float r = 1.0f / rsqrtLikeDevice(std::fma(dx, dx, dy * dy) + kEps2);
      if (r != 0.0f) {
        const float inv = 1.0f / r;
        const float inv2 = 1.0f / (r * r);
        accX = std::fma(-((dx * inv) * kBigG), inv2, accX);
        accY = std::fma(-inv2, (inv * dy) * kBigG, accY);
      }
    }
    integrateLikeDevice(pos[i], vel[i], accX, accY, dt, accel, attractor);
  }
}

// Both kernels add the same 5,835 terms in the same order on both runtimes; what differs is
// the rounding of each term (rsqrtf within 2 ulp, fused multiply-adds) and with it of each
// partial sum, and the velocity carries the difference from step to step. The GPU-rounding
// model reaches 43 ulp after 10 steps of the seeded bodies; 128 leaves room for a device
// whose rsqrtf errs one way more often, and is still 400 times less than one pair term
// at its strongest (0.096 dt) that a tile missed or counted twice. Floors: the pair sum
// of a seeded body reaches about 1 where the disks are dense, so a velocity near zero is
// judged at ulp(1/16); positions are judged at ulp(1/4), the disks' scale.
constexpr Tolerance kVsHost{0.25f, 1.0f / 16, 128, 0, nullptr, nullptr};

}  // namespace

const Module& checkedModule() {
  static const Module module{
      "nbody",
      {{"moveparticlesSharedOnDevice", launchMoveParticlesSharedWith, kVsHost, tiledGpuRounding},
       {"moveparticlesOnDevice", launchMoveParticlesDirectWith, kVsHost, directGpuRounding}},
      nbodyCases,
      referenceStep,
      // Against a double-precision sum the float sums of up to 1,000 terms lose a few
      // ulp of the largest partial sum per step: up to 4 ulp seen after 10 steps.
      {0.25f, 1.0f / 16, 16, 0, nullptr, nullptr},
      16 * size_t{kBodies},
      true,
  };
  return module;
}
