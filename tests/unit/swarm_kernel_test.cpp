// The swarm's device kernel through the host GPU runtime: launch geometry, agreement with
// the host reference, and what it must leave alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "hoststep.h"
#include "swarm.h"
#include "swarm_support.h"
#include "velmoracuda.h"

namespace {

constexpr float kDt = 0.01f;
constexpr float3 kAccel{0.0f, -0.5f, 0.0f};
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

using Arrays = std::vector<float4>;

// Positions and velocities in device memory for the span of one test.
class DeviceSwarm {
 public:
  DeviceSwarm(const Arrays& pos, const Arrays& vel) : n_(pos.size()) {
    cudaMalloc(&pos_, bytes());
    cudaMalloc(&vel_, bytes());
    cudaMemcpy(pos_, pos.data(), bytes(), cudaMemcpyHostToDevice);
    cudaMemcpy(vel_, vel.data(), bytes(), cudaMemcpyHostToDevice);
  }
  ~DeviceSwarm() {
    cudaFree(pos_);
    cudaFree(vel_);
  }
  DeviceSwarm(const DeviceSwarm&) = delete;
  DeviceSwarm& operator=(const DeviceSwarm&) = delete;

  void step(int n, float3 attractor, float3 accel = kAccel) {
    launchMoveParticlesWith(pos_, vel_, kDt, accel, n, attractor);
  }
  Arrays positions() const { return fetch(pos_); }
  Arrays velocities() const { return fetch(vel_); }
  float4* pos() { return pos_; }
  float4* vel() { return vel_; }

 private:
  size_t bytes() const { return n_ * sizeof(float4); }
  Arrays fetch(const float4* from) const {
    Arrays out(n_);
    cudaMemcpy(out.data(), from, bytes(), cudaMemcpyDeviceToHost);
    return out;
  }
  size_t n_;
  float4* pos_ = nullptr;
  float4* vel_ = nullptr;
};

void referenceStep(Arrays& pos, Arrays& vel, float3 attractor, float3 accel = kAccel) {
  for (size_t i = 0; i < pos.size(); ++i) stepParticleReference(pos[i], vel[i], kDt, accel, attractor);
}

float ulpAt(float x) {
  x = std::fabs(x);
  return std::nextafter(x, std::numeric_limits<float>::infinity()) - x;
}

// One step of the single-precision kernel against the reference, which rounds to float
// only where it stores. Each stored value is a short sum: v + dt*(accel + pull) and
// p + dt*v. The kernel rounds every operation of it (the pull goes through rsqrt, two
// reciprocals and two products, a few ulps of 0.8 in all), so its error is a few ulps of
// the largest addend, not of the result: a velocity that cancels towards 0 still carries
// error on the scale of dt*|accel + pull| <= 0.013, a position near 0 on the scale of the
// position it came from, at least dt*|v|. Hence k ulps of max(|a|, |b|, floor) with
// floors 0.02 (velocity) and 0.01 (position), and k = 4: twice the rounding steps a
// chain of two sums can accumulate beyond the reference's one.
constexpr int kUlps = 4;
constexpr float kVelocityFloor = 0.02f, kPositionFloor = 0.01f;

bool agree(float a, float b, float floor) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  const float scale = std::max({std::fabs(a), std::fabs(b), floor});
  return std::fabs(a - b) <= kUlps * ulpAt(scale);
}

struct Disagreement {
  size_t count = 0, first = 0;
};

Disagreement compareStep(const Arrays& kp, const Arrays& kv, const Arrays& rp, const Arrays& rv) {
  Disagreement d;
  for (size_t i = 0; i < kp.size(); ++i) {
    const bool ok = agree(kp[i].x, rp[i].x, kPositionFloor) && agree(kp[i].y, rp[i].y, kPositionFloor) &&
                    agree(kv[i].x, rv[i].x, kVelocityFloor) && agree(kv[i].y, rv[i].y, kVelocityFloor);
    if (!ok && d.count++ == 0) d.first = i;
  }
  return d;
}

TEST(SwarmGridSize, OneBlockPer128ParticlesRoundedUp) {
  struct Case {
    int n, blocks;
  } cases[] = {{500000, 3907}, {128, 1}, {129, 2}, {127, 1}, {1, 1}, {0, 0}, {256, 2}, {1000, 8}};
  for (const Case& c : cases) EXPECT_EQ(swarmGridSize(c.n), c.blocks) << "n = " << c.n;
  EXPECT_EQ(kSwarmBlock, 128);
}

TEST(SwarmKernel, OneStepAgreesWithTheHostReference) {
  const SwarmState& s = seededSwarm();
  const float4 someone = s.pos[4242];
  for (float3 attractor :
       {float3{0, 0, 0}, float3{0.5f, -0.3f, 0}, float3{-1, 1, 0}, float3{someone.x, someone.y, 0}}) {
    SCOPED_TRACE(testing::Message() << "attractor " << attractor.x << "," << attractor.y);
    DeviceSwarm device(s.pos, s.vel);
    device.step(kParticles, attractor);
    Arrays rp = s.pos, rv = s.vel;
    referenceStep(rp, rv, attractor);
    const Arrays kp = device.positions(), kv = device.velocities();
    const Disagreement d = compareStep(kp, kv, rp, rv);
    EXPECT_EQ(d.count, 0u) << "first: particle " << d.first << " kernel (" << kp[d.first].x << ", "
                           << kp[d.first].y << ") v (" << kv[d.first].x << ", " << kv[d.first].y
                           << "), reference (" << rp[d.first].x << ", " << rp[d.first].y << ") v ("
                           << rv[d.first].x << ", " << rv[d.first].y << ")";
  }
}

// Over many steps the two drift apart. Each step adds differences of a few ulps (at most
// about 2.4e-7 inside the square) with no preferred sign, so typical particles drift like a
// random walk, about sqrt(100) x 6e-8 = 6e-7 after 100 steps; measured here: median 2.2e-8,
// 99th percentile 1.3e-7, largest 4.2e-7. A particle that passes very close to the
// attractor can leave on another path altogether (its pull direction hangs on those ulps),
// so the largest difference is not bounded; the percentiles are, with room for such a few,
// and the mean allows about 30 particles a whole view (2.8) apart. A wrong step rule is far
// outside all of these: integrating with the old velocity moves every particle by
// dt^2 |accel + pull| = 1.3e-4 per step.
TEST(SwarmKernel, HundredStepsStayCloseForTheBulkOfTheSwarm) {
  const SwarmState& s = seededSwarm();
  const float3 attractor{0.3f, 0.2f, 0};
  DeviceSwarm device(s.pos, s.vel);
  Arrays rp = s.pos, rv = s.vel;
  for (int step = 0; step < 100; ++step) {
    device.step(kParticles, attractor);
    referenceStep(rp, rv, attractor);
  }
  const Arrays kp = device.positions();
  std::vector<double> distance(kParticles);
  int outside = 0;
  double sum = 0;
  for (int i = 0; i < kParticles; ++i) {
    outside += !(std::fabs(kp[i].x) <= 1 && std::fabs(kp[i].y) <= 1);
    distance[i] = std::hypot(double(kp[i].x) - rp[i].x, double(kp[i].y) - rp[i].y);
    sum += distance[i];
  }
  std::sort(distance.begin(), distance.end());
  const double median = distance[kParticles / 2], p99 = distance[kParticles * 99 / 100];
  std::printf("distance after 100 steps: median %g, mean %g, 99th percentile %g, max %g\n", median,
              sum / kParticles, p99, distance.back());
  EXPECT_EQ(outside, 0);
  EXPECT_LE(median, 2e-7);
  EXPECT_LE(p99, 2e-6);
  EXPECT_LE(sum / kParticles, 2e-4);
}

TEST(SwarmKernel, ThreadsPastTheCountTouchNothing) {
  const SwarmState& s = seededSwarm();
  const int n = 1000;  // 8 blocks: 24 threads of the last have no particle
  const int guard = 1024 + 64 - n;
  Arrays pos(s.pos.begin(), s.pos.begin() + n), vel(s.vel.begin(), s.vel.begin() + n);
  for (int g = 0; g < guard; ++g) {
    pos.push_back(float4{floatOf(0x7fa00000u + g), floatOf(0xdeadbeefu), 0.5f, -0.5f});
    vel.push_back(float4{floatOf(0x7fb00000u + g), floatOf(0x01020304u), 0.25f, -0.25f});
  }
  const Arrays pos0 = pos, vel0 = vel;
  DeviceSwarm device(pos, vel);
  device.step(n, float3{0, 0, 0});
  const Arrays kp = device.positions(), kv = device.velocities();
  int touched = 0;
  for (int i = n; i < n + guard; ++i) touched += !sameBits(kp[i], pos0[i]) || !sameBits(kv[i], vel0[i]);
  EXPECT_EQ(touched, 0);
  int moved = 0;
  for (int i = 0; i < n; ++i) moved += !sameBits(kp[i], pos0[i]);
  EXPECT_EQ(moved, n);
}

TEST(SwarmKernel, ZAndWPreservedAndZOfAccelAndAttractorIgnored) {
  const SwarmState& s = seededSwarm();
  Arrays pos = s.pos, vel = s.vel;
  for (int i = 0; i < kParticles; ++i) {
    pos[i].z = floatOf(0x7fc00000u | static_cast<uint32_t>(i));  // NaNs with payloads
    pos[i].w = floatOf(0x80000000u | static_cast<uint32_t>(i));  // negative denormals
    vel[i].z = floatOf(0xff800000u);
    vel[i].w = static_cast<float>(i);
  }
  DeviceSwarm plain(pos, vel), oddZ(pos, vel);
  plain.step(kParticles, float3{0.1f, 0.2f, 0});
  oddZ.step(kParticles, float3{0.1f, 0.2f, kNaN}, float3{kAccel.x, kAccel.y, 1e30f});
  const Arrays kp = plain.positions(), kv = plain.velocities();
  EXPECT_EQ(zwChanged(kp.data(), kv.data(), pos.data(), vel.data(), kParticles), 0);
  const Arrays zp = oddZ.positions(), zv = oddZ.velocities();
  EXPECT_EQ(differing(zp.data(), zv.data(), kp.data(), kv.data(), kParticles), 0);
}

TEST(SwarmKernel, EdgeCases) {
  struct Case {
    const char* what;
    float3 attractor;
    float4 p, v;
    float epx, epy, evx, evy;
  } cases[] = {
      {"at rest at (0.5, 0)",
       {0, 0, 0},
       {0.5f, 0, 0, 0},
       {0, 0, 0, 0},
       0.49992001f,
       -0.000049999999f,
       -0.0080000004f,
       -0.0049999999f},
      {"on the attractor: dt * accel only",
       {0.25f, -0.5f, 0},
       {0.25f, -0.5f, 0, 0},
       {0.1f, 0.2f, 0, 0},
       0.251f,
       -0.49805f,
       0.1f,
       0.195f},
      {"through the right wall",
       {0, 0, 0},
       {0.9999f, 0, 0, 0},
       {0.1f, 0, 0, 0},
       1.0f,
       -0.000049999999f,
       -0.092f,
       -0.0049999999f},
      {"ends exactly on x = 1: no bounce",
       {0.9990234375f, 0, 0},
       {0.9990234375f, 0.5f, 0, 0},
       {0.09765625f, 0, 0, 0},
       1.0f,
       0.499870002f,
       0.09765625f,
       -0.0130000003f},
      {"ends at x = 1.0001: bounces",
       {1, 0, 0},
       {1.0f, 0.5f, 0, 0},
       {0.01f, 0, 0, 0},
       1.0f,
       0.499870002f,
       -0.01f,
       -0.0130000003f},
      {"beyond the wall heading inward: negated",
       {0, 0, 0},
       {1.5f, 0, 0, 0},
       {-0.1f, 0, 0, 0},
       1.0f,
       -0.000049999999f,
       0.108f,
       -0.0049999999f},
      {"across x = 1 and y = -1 at once",
       {0, 0, 0},
       {0.999f, -0.999f, 0, 0},
       {0.5f, -0.5f, 0, 0},
       1.0f,
       -1.0f,
       -0.494343132f,
       0.499343157f},
      {"NaN position never bounces", {0, 0, 0}, {kNaN, 0.5f, 0, 0}, {0, 0, 0, 0}, kNaN, kNaN, kNaN, kNaN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DeviceSwarm device(Arrays{c.p}, Arrays{c.v});
    device.step(1, c.attractor);
    const float4 p = device.positions()[0], v = device.velocities()[0];
    EXPECT_TRUE(agree(p.x, c.epx, kPositionFloor)) << p.x << " vs " << c.epx;
    EXPECT_TRUE(agree(p.y, c.epy, kPositionFloor)) << p.y << " vs " << c.epy;
    EXPECT_TRUE(agree(v.x, c.evx, kVelocityFloor)) << v.x << " vs " << c.evx;
    EXPECT_TRUE(agree(v.y, c.evy, kVelocityFloor)) << v.y << " vs " << c.evy;
    // A wall puts a particle exactly on it.
    if (std::fabs(c.epx) == 1) {
      EXPECT_EQ(p.x, c.epx);
    }
    if (std::fabs(c.epy) == 1) {
      EXPECT_EQ(p.y, c.epy);
    }
  }
}

TEST(SwarmKernel, PullHasTheSameStrengthNearAndFar) {
  // No accel, particles at rest: after one step |v| = dt * |pull|.
  const Arrays pos{{0.001f, 0, 0, 0}, {0, -0.3f, 0, 0}, {0.6f, 0.8f, 0, 0}, {-0.99f, -0.99f, 0, 0}};
  DeviceSwarm device(pos, Arrays(pos.size(), float4{0, 0, 0, 0}));
  device.step(static_cast<int>(pos.size()), float3{0, 0, 0}, float3{0, 0, 0});
  for (const float4& v : device.velocities())
    EXPECT_NEAR(std::hypot(v.x, v.y) / kDt, 0.8f, 1e-5f) << v.x << ", " << v.y;
}

TEST(SwarmKernel, LaunchMoveParticlesStepsDevVel) {
  const Arrays pos{{0.5f, 0, 0, 0}}, vel{{0, 0, 0, 0}};
  DeviceSwarm device(pos, vel);
  float4* saved = devVel;
  devVel = device.vel();
  launchMoveParticles(device.pos(), kDt, kAccel, 1, float3{0, 0, 0});
  devVel = saved;
  EXPECT_TRUE(agree(device.velocities()[0].x, -0.0080000004f, kVelocityFloor));
  EXPECT_TRUE(agree(device.positions()[0].x, 0.49992001f, kPositionFloor));
}

}  // namespace
