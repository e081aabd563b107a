// The host step: the worked cases, and every loop (reference, portable, AVX2, threaded)
// equal to the reference bit for bit over the seeded swarm and hand-made edge cases.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "hoststep.h"
#include "swarm.h"
#include "swarm_support.h"

namespace {

constexpr float kDt = 0.01f;
constexpr float3 kAccel{0.0f, -0.5f, 0.0f};
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// z and w patterns no step may disturb: a NaN with payload, -0, a denormal, -inf.
const float kOddZ = floatOf(0x7fc12345u), kOddW = floatOf(0x80000000u);
const float kOddVz = floatOf(0x00000001u), kOddVw = floatOf(0xff800000u);

using Arrays = std::vector<float4>;

struct Loop {
  const char* name;
  // Steps particles [begin, end) of pos and vel.
  void (*step)(Arrays& pos, Arrays& vel, size_t begin, size_t end, float3 attractor);
};

const Loop kReference{"reference", [](Arrays& pos, Arrays& vel, size_t begin, size_t end, float3 attractor) {
                        for (size_t i = begin; i < end; ++i)
                          stepParticleReference(pos[i], vel[i], kDt, kAccel, attractor);
                      }};

const Loop kLoops[] = {
    kReference,
    {"portable",
     [](Arrays& pos, Arrays& vel, size_t begin, size_t end, float3 attractor) {
       stepParticlesPortable(pos.data(), vel.data(), begin, end, kDt, kAccel, attractor);
     }},
    {"avx2",
     [](Arrays& pos, Arrays& vel, size_t begin, size_t end, float3 attractor) {
       stepParticlesAvx2(pos.data(), vel.data(), begin, end, kDt, kAccel, attractor);
     }},
    {"threaded",
     [](Arrays& pos, Arrays& vel, size_t begin, size_t end, float3 attractor) {
       stepParticles(pos.data() + begin, vel.data() + begin, end - begin, kDt, kAccel, attractor);
     }},
    {"moveparticlesOnHost",
     [](Arrays& pos, Arrays& vel, size_t begin, size_t end, float3 attractor) {
       // Whole-swarm entry: only reachable through the global arrays, all of them.
       ASSERT_EQ(begin, 0u);
       ASSERT_EQ(end, size_t{kParticles});
       ASSERT_EQ(pos.size(), size_t{kParticles});
       hostPos = pos.data();
       hostVel = vel.data();
       moveparticlesOnHost(kDt, kAccel, attractor);
       hostPos = hostVel = nullptr;
     }},
};

class HostStep : public testing::TestWithParam<Loop> {
 protected:
  void SetUp() override {
    if (std::string(GetParam().name) == "avx2" && !hostHasAvx2()) GTEST_SKIP() << "this CPU has no AVX2";
  }
  bool wholeSwarmOnly() const { return std::string(GetParam().name) == "moveparticlesOnHost"; }
  void step(Arrays& pos, Arrays& vel, float3 attractor) {
    GetParam().step(pos, vel, 0, pos.size(), attractor);
  }
};

struct Particle {
  float4 p, v;
};

TEST_P(HostStep, WorkedCases) {
  if (wholeSwarmOnly()) GTEST_SKIP() << "steps the whole swarm only; covered by the swarm comparison";
  struct Case {
    const char* what;
    float3 attractor;
    float px, py, vx, vy;      // before
    float epx, epy, evx, evy;  // after
  } cases[] = {
      {"at rest at (0.5, 0)",
       {0, 0, 0},
       0.5f,
       0,
       0,
       0,
       0.49992001f,
       -0.000049999999f,
       -0.0080000004f,
       -0.0049999999f},
      {"at rest on the attractor: no pull", {0, 0, 0}, 0, 0, 0, 0, 0, -0.000049999999f, 0, -0.0049999999f},
      {"so close that the squared distance rounds to 0: no pull",
       {0, 0, 0},
       1e-30f,
       0,
       0,
       0,
       1e-30f,
       -0.000049999999f,
       0,
       -0.0049999999f},
      {"through the right wall: clamped, reversed",
       {0, 0, 0},
       0.9999f,
       0,
       0.1f,
       0,
       1.0f,
       -0.000049999999f,
       -0.092f,
       -0.0049999999f},
      // The attractor straight below: no pull along x.
      {"ends exactly on x = 1: no bounce",
       {0.9990234375f, 0, 0},
       0.9990234375f,
       0.5f,
       0.09765625f,
       0,
       1.0f,
       0.499870002f,
       0.09765625f,
       -0.0130000003f},
      {"ends at x = 1.0000001: bounces",
       {1, 0, 0},
       1.0f,
       0.5f,
       1e-5f,
       0,
       1.0f,
       0.499870002f,
       -1e-5f,
       -0.0130000003f},
      // Outside and already heading back in: the velocity is negated, not made positive.
      {"beyond the wall heading inward",
       {0, 0, 0},
       1.5f,
       0,
       -0.1f,
       0,
       1.0f,
       -0.000049999999f,
       0.108f,
       -0.0049999999f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Arrays pos{float4{c.px, c.py, kOddZ, kOddW}}, vel{float4{c.vx, c.vy, kOddVz, kOddVw}};
    step(pos, vel, c.attractor);
    EXPECT_EQ(pos[0].x, c.epx);
    EXPECT_EQ(pos[0].y, c.epy);
    EXPECT_EQ(vel[0].x, c.evx);
    EXPECT_EQ(vel[0].y, c.evy);
    EXPECT_EQ(bitsOf(pos[0].z), bitsOf(kOddZ));
    EXPECT_EQ(bitsOf(pos[0].w), bitsOf(kOddW));
    EXPECT_EQ(bitsOf(vel[0].z), bitsOf(kOddVz));
    EXPECT_EQ(bitsOf(vel[0].w), bitsOf(kOddVw));
  }
}

TEST_P(HostStep, CornerCrossingReflectsBothAxes) {
  if (wholeSwarmOnly()) GTEST_SKIP() << "steps the whole swarm only; covered by the swarm comparison";
  struct Case {
    float px, py, vx, vy, wallX, wallY;
  } cases[] = {{0.999f, -0.999f, 0.5f, -0.5f, 1.0f, -1.0f}, {-0.999f, 0.999f, -0.5f, 0.5f, -1.0f, 1.0f}};
  for (const Case& c : cases) {
    Arrays pos{float4{c.px, c.py, 0, 0}}, vel{float4{c.vx, c.vy, 0, 0}};
    step(pos, vel, float3{0, 0, 0});
    EXPECT_EQ(pos[0].x, c.wallX);
    EXPECT_EQ(pos[0].y, c.wallY);
    // Both components turned around, their size what the pull and accel made of it.
    EXPECT_LT(vel[0].x * c.vx, 0);
    EXPECT_LT(vel[0].y * c.vy, 0);
    EXPECT_NEAR(std::fabs(vel[0].x), 0.5f, 0.02f);
    EXPECT_NEAR(std::fabs(vel[0].y), 0.5f, 0.02f);
  }
}

TEST_P(HostStep, NotANumberNeverBounces) {
  if (wholeSwarmOnly()) GTEST_SKIP() << "steps the whole swarm only; covered by the swarm comparison";
  // A NaN position poisons the pull and so both axes; a NaN velocity only its own axis.
  Arrays pos{float4{kNaN, 0.5f, 0, 0}, float4{0.999f, 0.999f, 0, 0}},
      vel{float4{0, 0, 0, 0}, float4{kNaN, 1, 0, 0}};
  step(pos, vel, float3{0, 0, 0});
  EXPECT_TRUE(std::isnan(pos[0].x) && std::isnan(pos[0].y) && std::isnan(vel[0].x) && std::isnan(vel[0].y));
  EXPECT_TRUE(std::isnan(pos[1].x) && std::isnan(vel[1].x));
  EXPECT_EQ(pos[1].y, 1.0f);
  EXPECT_LT(vel[1].y, 0.0f);
}

// Hand-made particles, enough of them to fill vector lanes and leave a tail.
void edgeCases(Arrays& pos, Arrays& vel) {
  const float values[] = {0.0f,   -0.0f, 1.0f,  -1.0f, 0.5f, 1.0000001f, -1.0000001f, 0.99999994f, 1e-30f,
                          1e-45f, 3.0f,  -7.5f, kNaN,  kInf, -kInf,      0.25f,       -0.3f};
  const size_t n = sizeof values / sizeof values[0];
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < n; j += 3) {
      pos.push_back(float4{values[i], values[j], kOddZ, kOddW});
      vel.push_back(float4{values[(i + j) % n] * 0.1f, values[(i * 7 + j) % n], kOddVz, kOddVw});
    }
}

// x and y bit for bit, except that a NaN matches any NaN: which operand's NaN an
// operation passes on, and with which sign, is up to the instruction order the compiler
// picks. z and w are copied, never computed, so they must match exactly.
bool sameStep(const float4& a, const float4& b) {
  auto same = [](float u, float v) { return bitsOf(u) == bitsOf(v) || (std::isnan(u) && std::isnan(v)); };
  return same(a.x, b.x) && same(a.y, b.y) && bitsOf(a.z) == bitsOf(b.z) && bitsOf(a.w) == bitsOf(b.w);
}

void expectSameBits(const Arrays& a, const Arrays& b, const char* what) {
  ASSERT_EQ(a.size(), b.size());
  size_t differ = 0, first = a.size();
  for (size_t i = 0; i < a.size(); ++i)
    if (!sameStep(a[i], b[i])) {
      ++differ;
      if (first == a.size()) first = i;
    }
  EXPECT_EQ(differ, 0u) << what << ": first at " << first;
}

TEST_P(HostStep, EdgeCasesMatchTheReferenceBitForBit) {
  if (wholeSwarmOnly()) GTEST_SKIP() << "steps the whole swarm only; covered by the swarm comparison";
  Arrays pos, vel;
  edgeCases(pos, vel);
  for (float3 attractor : {float3{0, 0, 0}, float3{1, -1, 0}, float3{0.5f, 0.25f, 0}, float3{kNaN, 0, 0}}) {
    Arrays p = pos, v = vel, rp = pos, rv = vel;
    for (int s = 0; s < 3; ++s) {
      step(p, v, attractor);
      kReference.step(rp, rv, 0, rp.size(), attractor);
    }
    expectSameBits(p, rp, "positions");
    expectSameBits(v, rv, "velocities");
  }
}

TEST_P(HostStep, SeededSwarmMatchesTheReferenceBitForBit) {
  const SwarmState& swarm = seededSwarm();
  const float4 someone = swarm.pos[123457];
  const float3 attractors[] = {{0, 0, 0},
                               {0.5f, -0.3f, 0},
                               {-1, 1, 0},
                               {2.5f, -3, 0},
                               {someone.x, someone.y, 0}};  // one particle sits on it
  for (const float3& attractor : attractors) {
    SCOPED_TRACE(testing::Message() << "attractor " << attractor.x << "," << attractor.y);
    Arrays p = swarm.pos, v = swarm.vel, rp = swarm.pos, rv = swarm.vel;
    for (int s = 0; s < 4; ++s) {
      step(p, v, attractor);
      kReference.step(rp, rv, 0, rp.size(), attractor);
    }
    expectSameBits(p, rp, "positions");
    expectSameBits(v, rv, "velocities");
  }
}

TEST_P(HostStep, ZOfAccelAndAttractorIsNeverRead) {
  const SwarmState& swarm = seededSwarm();
  Arrays p = swarm.pos, v = swarm.vel, zp = swarm.pos, zv = swarm.vel;
  step(p, v, float3{0.1f, 0.2f, 0});
  // accel is fixed for the table's loops; only the attractor's z can be varied here.
  step(zp, zv, float3{0.1f, 0.2f, kNaN});
  expectSameBits(zp, p, "positions");
  expectSameBits(zv, v, "velocities");
}

TEST_P(HostStep, StepsOnlyTheGivenRange) {
  if (wholeSwarmOnly()) GTEST_SKIP() << "steps the whole swarm only";
  const SwarmState& swarm = seededSwarm();
  // Ranges that start and end off any lane or chunk boundary.
  const size_t ranges[][2] = {{3, 16384 * 3 + 5}, {0, 1}, {77, 77}, {kParticles - 13, kParticles}};
  for (const auto& r : ranges) {
    Arrays p = swarm.pos, v = swarm.vel, rp = swarm.pos, rv = swarm.vel;
    GetParam().step(p, v, r[0], r[1], float3{0.2f, 0.1f, 0});
    kReference.step(rp, rv, r[0], r[1], float3{0.2f, 0.1f, 0});
    expectSameBits(p, rp, "positions");
    expectSameBits(v, rv, "velocities");
  }
}

INSTANTIATE_TEST_SUITE_P(Loops, HostStep, testing::ValuesIn(kLoops),
                         [](const testing::TestParamInfo<Loop>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
