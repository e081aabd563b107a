// velmora-check-swarm: the swarm kernel moveparticlesOnDevice through launchMoveParticlesWith.
#include <algorithm>
#include <cmath>

#include "check.h"
#include "frame.h"
#include "hoststep.h"
#include "random.h"
#include "swarm.h"
#include "velmoracuda.h"

// The frame's buffer size; the state code that seeds the swarm links against the frame.
const size_t vboBytes = 16 * size_t{kParticles};

namespace {

constexpr float kDt = 0.01f;
constexpr float kPull = 0.8f;  // KDAT of the swarm module
constexpr int kSteps = 10;
constexpr int kQuickSteps = 2;
constexpr int kQuickParticles = 20000;

// The swarm exactly as both programs start it: the colour fill's 500,000 draws, then
// seedParticles. It can be made once per process, from the untouched generator.
const Case& seededSwarm() {
  static const Case swarm = [] {
    Case c;
    c.name = "seeded";
    c.pos.resize(kParticles);
    c.vel.resize(kParticles);
    std::vector<float> tints(kParticles);
    for (int i = 0; i < kParticles; ++i) crt::rand();
    hostPos = c.pos.data();
    hostVel = c.vel.data();
    tint = tints.data();
    seedParticles();
    hostPos = hostVel = nullptr;
    tint = nullptr;
    c.dt = kDt;
    c.accel = float3{0, -0.5f, 0};
    return c;
  }();
  return swarm;
}

Case handMade(const char* name, std::vector<float4> pos, std::vector<float4> vel, float3 attractor,
              float3 accel = float3{0, -0.5f, 0}) {
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

Case randomSwarm(const char* name, int n, uint32_t seed, float3 attractor) {
  CaseRandom r(seed);
  std::vector<float4> pos(n), vel(n);
  for (int i = 0; i < n; ++i) {
    pos[i] = float4{r.uniform(-1, 1), r.uniform(-1, 1), 0, 0};
    vel[i] = float4{r.uniform(-0.25f, 0.25f), r.uniform(-0.25f, 0.25f), 0, 0};
  }
  return handMade(name, pos, vel, attractor);
}

std::vector<Case> swarmCases(bool quick) {
  const int steps = quick ? kQuickSteps : kSteps;
  std::vector<Case> cases;
  Case seeded = seededSwarm();
  if (quick) {
    seeded.pos.resize(kQuickParticles);
    seeded.vel.resize(kQuickParticles);
  }
  seeded.attractors.assign(steps, float3{0, 0, 0});
  cases.push_back(std::move(seeded));

  // n not a multiple of the 128-thread block: the last block is partly empty.
  cases.push_back(randomSwarm("random-1000", 1000, 1, float3{0.1f, 0.2f, 0}));
  cases.push_back(randomSwarm("random-100", 100, 2, float3{-0.4f, 0.3f, 0}));
  cases.push_back(randomSwarm("random-129", 129, 3, float3{0, 0, 0}));
  cases.push_back(randomSwarm("single", 1, 4, float3{0.5f, 0.5f, 0}));
  // At rest on the attractor: no pull, only accel; then pulled back along y alone.
  cases.push_back(handMade("on-attractor", {{0.3f, -0.2f, 0, 0}, {0.3f, -0.2f, 0, 0}, {-0.9f, 0.9f, 0, 0}},
                           {{0, 0, 0, 0}, {0.1f, 0.05f, 0, 0}, {0.2f, -0.1f, 0, 0}}, float3{0.3f, -0.2f, 0}));
  // Each particle leaves the square through a corner in the first step: two walls at once.
  cases.push_back(handMade(
      "walls-two-axes",
      {{0.999f, -0.999f, 0, 0}, {-0.999f, 0.999f, 0, 0}, {0.999f, 0.999f, 0, 0}, {-0.999f, -0.999f, 0, 0}},
      {{0.5f, -0.5f, 0, 0}, {-0.5f, 0.8f, 0, 0}, {0.5f, 0.8f, 0, 0}, {-0.5f, -0.5f, 0, 0}}, float3{0, 0, 0}));
  // Exactly on a wall, and kept there: the attractor in the corner (1, 1) pulls along the
  // wall, so x (or y) stays exactly 1 and must be left alone, not bounced.
  cases.push_back(handMade(
      "on-wall", {{1.0f, 0.3f, 0, 0}, {0.3f, 1.0f, 0, 0}, {1.0f, 1.0f, 0, 0}, {1.0f, -1.0f, 0, 0}},
      {{0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0.3f, 0, 0}}, float3{1, 1, 0}, float3{0, 0, 0}));
  Case moving = randomSwarm("attractor-moving", 300, 5, float3{0, 0, 0});
  for (int s = 0; s < kSteps; ++s)
    moving.attractors[s] = float3{0.1f * s - 0.5f, 0.3f - 0.05f * s, 9.0f};  // z is never read
  cases.push_back(std::move(moving));

  for (size_t k = 1; k < cases.size(); ++k) cases[k].attractors.resize(steps, cases[k].attractors.back());
  return cases;
}

void referenceStep(std::vector<float4>& pos, std::vector<float4>& vel, float dt, float3 accel,
                   float3 attractor) {
  for (size_t i = 0; i < pos.size(); ++i) stepParticleReference(pos[i], vel[i], dt, accel, attractor);
}

// The kernel's arithmetic as nvcc compiles it by default: a*b+c contracted into one fused
// multiply-add wherever the source has that shape, rsqrtf approximate, 1/x exact.
void gpuRoundingStep(std::vector<float4>& pos, std::vector<float4>& vel, float dt, float3 accel,
                     float3 attractor) {
  for (size_t i = 0; i < pos.size(); ++i) {
    float4 p = pos[i], v = vel[i];
    const float dx = attractor.x - p.x;
    const float dy = attractor.y - p.y;
    const float dist = 1.0f / rsqrtLikeDevice(std::fma(dx, dx, dy * dy));
    float fx = 0, fy = 0;
    if (dist != 0.0f) {
      const float inv = 1.0f / dist;
      fx = (dx * kPull) * inv;
      fy = (dy * kPull) * inv;
    }
    v.x = std::fma(dt, accel.x + fx, v.x);
    v.y = std::fma(dt, accel.y + fy, v.y);
    p.x = std::fma(dt, v.x, p.x);
    p.y = std::fma(dt, v.y, p.y);
    if (p.x > 1.0f) v.x = -v.x, p.x = 1.0f;
    if (p.y > 1.0f) v.y = -v.y, p.y = 1.0f;
    if (p.x < -1.0f) v.x = -v.x, p.x = -1.0f;
    if (p.y < -1.0f) v.y = -v.y, p.y = -1.0f;
    pos[i] = p;
    vel[i] = v;
  }
}

// A particle whose two runs split (its path passes so close to the attractor that the
// pull's direction, 1/dist sensitive, turns differently; or it ends within rounding of a
// wall and bounces in one run only) still moves under the same bounded forces in both:
// each step its velocities can part by at most 2 KDAT dt from the pull plus twice its
// speed from one bounce, and its positions by dt times that per step.
double maxSpeed(const Case& c) {
  double v = 0;
  for (const float4& e : c.vel) v = std::max({v, std::fabs(double(e.x)), std::fabs(double(e.y))});
  return v + c.steps() * c.dt * (kPull + std::fabs(double(c.accel.y)) + std::fabs(double(c.accel.x)));
}
double splitVel(const Case& c) { return 2 * maxSpeed(c) + 2 * kPull * c.dt * c.steps(); }
double splitPos(const Case& c) { return c.dt * c.steps() * splitVel(c); }

}  // namespace

const Module& checkedModule() {
  static const Module module{
      "swarm",
      {{"moveparticlesOnDevice",
        launchMoveParticlesWith,
        // Per step the device differs by a few roundings: rsqrtf is within 2 ulp, the
        // reciprocals are exact, and three multiply-adds are fused (each fusion drops one
        // rounding of half an ulp). The pull enters the velocity scaled by dt, and the
        // velocity the position, so the differences hardly compound: the GPU-rounding
        // model reaches 9 ulp after 10 steps on the seeded swarm; 16 leaves room for a
        // device whose rsqrtf errs the other way more often. Floors: each step adds about
        // dt (KDAT + |accel|) = 0.013 to a velocity, so a velocity or position near zero
        // is judged at ulp(1/16), the absolute error those additions carry.
        // Outliers: at most 1 particle in 10,000 per step may split (see splitVel).
        {1.0f / 16, 1.0f / 16, 16, 1e-4, splitVel, splitPos},
        gpuRoundingStep}},
      swarmCases,
      referenceStep,
      // The reference rounds in double where the kernel rounds in float (the square
      // root, the pull): up to 4 ulp seen after 10 steps of the hand-made cases, none of
      // which passes near the attractor, so no outliers.
      {1.0f / 16, 1.0f / 16, 8, 0, nullptr, nullptr},
      16 * size_t{kParticles},
      false,
  };
  return module;
}
