// The n-body device module through the host GPU runtime: its constants and grid, both
// kernels against plain sequential loops and a double-precision reference, the pair law
// and the pull at their edges, and what a step must leave alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "nbody.h"
#include "nbody_support.h"
#include "velmoracuda.h"

// The module's constants: plain globals under the host runtime.
extern float KDAT;
extern float BIGG;
extern float EPS2;

namespace {

constexpr float kDt = 0.004f;  // the program's step
constexpr float3 kNoAccel{0, 0, 0};
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The constants as decimals, for everything computed here.
constexpr float kPull = 0.405f, kBigG = 0.001f, kEps2 = 0.004f;

using Arrays = std::vector<float4>;

enum class Launch {
  Tiled,    // launchMoveParticlesSharedWith: nbodyGridSize(n) blocks of 64
  Direct,   // launchMoveParticlesDirectWith
  Program,  // launchMoveParticlesShared: the fixed 92 blocks, velocities from devVel
};

const char* nameOf(Launch l) {
  switch (l) {
    case Launch::Tiled:
      return "tiled";
    case Launch::Direct:
      return "direct";
    default:
      return "program's launch";
  }
}

// Positions and velocities in device memory for the span of one test.
class DeviceBodies {
 public:
  DeviceBodies(const Arrays& pos, const Arrays& vel) : n_(pos.size()) {
    cudaMalloc(&pos_, bytes());
    cudaMalloc(&vel_, bytes());
    cudaMemcpy(pos_, pos.data(), bytes(), cudaMemcpyHostToDevice);
    cudaMemcpy(vel_, vel.data(), bytes(), cudaMemcpyHostToDevice);
  }
  ~DeviceBodies() {
    cudaFree(pos_);
    cudaFree(vel_);
  }
  DeviceBodies(const DeviceBodies&) = delete;
  DeviceBodies& operator=(const DeviceBodies&) = delete;

  void step(Launch launch, int n, float3 attractor, float3 accel = kNoAccel, float dt = kDt) {
    switch (launch) {
      case Launch::Tiled:
        launchMoveParticlesSharedWith(pos_, vel_, dt, accel, n, attractor);
        break;
      case Launch::Direct:
        launchMoveParticlesDirectWith(pos_, vel_, dt, accel, n, attractor);
        break;
      case Launch::Program: {
        float4* const saved = devVel;
        devVel = vel_;
        launchMoveParticlesShared(pos_, dt, accel, n, attractor);
        devVel = saved;
        break;
      }
    }
  }
  Arrays positions() const { return fetch(pos_); }
  Arrays velocities() const { return fetch(vel_); }

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

// ---- Float references --------------------------------------------------------------------
//
// One step written as a sequential loop over the bodies that reads every other body from
// the positions as they were before the step. A kernel whose blocks read positions that
// other blocks had already moved would differ from it for some bodies, so exact agreement
// shows that the step does not depend on the order blocks run in. Each reference keeps its
// kernel's operations and their order, and the host runtime's reciprocal square root is a
// correctly rounded 1 / sqrt. The agreement is bit for bit only because the whole build,
// this file included, has no FMA contraction (-ffp-contract=off): every product and sum
// rounds once, here, in the kernels and in their AVX2 copies alike.

float rsqrtOf(float s) { return 1.0f / std::sqrt(s); }

// The direct kernel's pair sum: p - q, and three reciprocals.
float2 directPairSum(const Arrays& start, int n, float4 p) {
  float ax = 0, ay = 0;
  for (int j = 0; j < n; ++j) {
    const float dx = p.x - start[j].x;
    const float dy = p.y - start[j].y;
    const float r = 1.0f / rsqrtOf((dy * dy + dx * dx) + kEps2);
    if (r != 0.0f) {
      const float inv = 1.0f / r;
      const float inv2 = 1.0f / (r * r);
      ax = ax - ((dx * inv) * kBigG) * inv2;
      ay = ay - inv2 * ((inv * dy) * kBigG);
    }
  }
  return {ax, ay};
}

// The tiled kernel's pair sum: q - p and 1 / r^3. The kernel forms its terms sixteen at a
// time before adding them, still in index order; each term is rounded the same either way.
float2 tiledPairSum(const Arrays& start, int n, float4 p) {
  float ax = 0, ay = 0;
  for (int j = 0; j < n; ++j) {
    const float dx = start[j].x - p.x;
    const float dy = start[j].y - p.y;
    const float r = 1.0f / rsqrtOf((dy * dy + dx * dx) + kEps2);
    const float c = 1.0f / (r * (r * r));
    ax = ax + (dx * kBigG) * c;
    ay = ay + (dy * kBigG) * c;
  }
  return {ax, ay};
}

void floatStep(Launch launch, Arrays& pos, Arrays& vel, int n, float3 attractor, float3 accel = kNoAccel,
               float dt = kDt) {
  const Arrays start(pos.begin(), pos.begin() + n);
  for (int i = 0; i < n; ++i) {
    float4& p = pos[i];
    float4& v = vel[i];
    const float2 acc = launch == Launch::Direct ? directPairSum(start, n, p) : tiledPairSum(start, n, p);
    const float ax = attractor.x - p.x;
    const float ay = attractor.y - p.y;
    const float dist = 1.0f / rsqrtOf(ay * ay + ax * ax);
    float fx = 0, fy = 0;
    if (dist != 0.0f) {
      fx = (ax * kPull) * (1.0f / dist);
      fy = (ay * kPull) * (1.0f / dist);
    }
    v.x = v.x + dt * (acc.x + (accel.x + fx));
    v.y = v.y + dt * (acc.y + (accel.y + fy));
    p.x = p.x + dt * v.x;
    p.y = p.y + dt * v.y;
  }
}

struct Mismatch {
  int count = 0, first = -1;
};

Mismatch bitwiseMismatch(const Arrays& kp, const Arrays& kv, const Arrays& rp, const Arrays& rv, int n) {
  Mismatch m;
  for (int i = 0; i < n; ++i)
    if ((!sameBits(kp[i], rp[i]) || !sameBits(kv[i], rv[i])) && m.count++ == 0) m.first = i;
  return m;
}

// ---- Double reference --------------------------------------------------------------------

// The step in double precision, straight from the law: the softened pair attraction summed
// over all bodies, a pull of fixed strength toward the attractor. `spread` is each body's
// sum of the pair terms' magnitudes, which bounds how far a float sum of them can round.
struct Exact {
  std::vector<double> px, py, vx, vy, spread;
};

Exact exactFrom(const Arrays& pos, const Arrays& vel) {
  Exact e;
  for (const float4& p : pos) {
    e.px.push_back(p.x);
    e.py.push_back(p.y);
  }
  for (const float4& v : vel) {
    e.vx.push_back(v.x);
    e.vy.push_back(v.y);
  }
  e.spread.resize(pos.size());
  return e;
}

void exactStep(Exact& e, float3 attractor, double dt) {
  const size_t n = e.px.size();
  const std::vector<double> sx = e.px, sy = e.py;
  for (size_t i = 0; i < n; ++i) {
    double ax = 0, ay = 0, spread = 0;
    for (size_t j = 0; j < n; ++j) {
      const double dx = sx[j] - sx[i], dy = sy[j] - sy[i];
      const double d2 = dx * dx + dy * dy;
      const double s = d2 + 0.004;
      const double k = 0.001 / (s * std::sqrt(s));
      ax += k * dx;
      ay += k * dy;
      spread += k * std::sqrt(d2);
    }
    const double tx = attractor.x - sx[i], ty = attractor.y - sy[i];
    const double dist = std::hypot(tx, ty);
    if (dist != 0) {
      ax += 0.405 * tx / dist;
      ay += 0.405 * ty / dist;
    }
    e.vx[i] += dt * ax;
    e.vy[i] += dt * ay;
    e.px[i] += dt * e.vx[i];
    e.py[i] += dt * e.vy[i];
    e.spread[i] = spread;
  }
}

constexpr float3 kSeededAttractor{0.3f, -0.2f, 0};

const Exact& exactSeededStep() {
  static const Exact e = [] {
    Exact r = exactFrom(seededBodies().pos, seededBodies().vel);
    exactStep(r, kSeededAttractor, kDt);
    return r;
  }();
  return e;
}

// How far one float step's velocity may lie from the exact one. A float pair sum of 5,835
// terms rounds at every addition by at most 2^-24 of the partial sum, which never exceeds
// the body's spread (40 to 74 for the seeded bodies); such errors add up like a random
// walk, so 2 sqrt(n) 2^-24 spread bounds them with room to spare, and each term's own few
// roundings are far smaller. The velocity takes dt times that, plus the roundings of its
// last additions, a few ulps of 0.25: at most 2.8e-6 in all. A position adds dt times the
// velocity's error and an ulp or two of 1. A law with a wrong exponent, softening or sign,
// or a sum that misses or repeats bodies (even the last pass's 11), is off by far more.
double velocityTolerance(double spread) {
  return kDt * 2 * std::sqrt(double(kBodies)) * std::ldexp(1.0, -24) * spread + 4 * std::ldexp(1.0, -25);
}
const double kPositionRounding = 2 * std::ldexp(1.0, -23);

// ---- Module -----------------------------------------------------------------------------

TEST(NBodyModule, ConstantsHaveTheirBitPatterns) {
  EXPECT_EQ(bitsOf(KDAT), 0x3ecf5c29u);
  EXPECT_EQ(bitsOf(BIGG), 0x3a83126fu);
  EXPECT_EQ(bitsOf(EPS2), 0x3b83126fu);
  EXPECT_EQ(bitsOf(kPull), 0x3ecf5c29u);
  EXPECT_EQ(bitsOf(kBigG), 0x3a83126fu);
  EXPECT_EQ(bitsOf(kEps2), 0x3b83126fu);
}

TEST(NBodyGridSize, OneBlockPer64BodiesRoundedUp) {
  struct Case {
    int n, blocks;
  } cases[] = {{5835, 92}, {5888, 92}, {5889, 93}, {64, 1}, {65, 2}, {63, 1}, {1, 1}, {0, 0}, {100, 2}};
  for (const Case& c : cases) EXPECT_EQ(nbodyGridSize(c.n), c.blocks) << "n = " << c.n;
  EXPECT_EQ(kTile, 64);
  EXPECT_EQ(kNBodyGrid, 92);
  EXPECT_EQ(nbodyGridSize(kBodies), kNBodyGrid);
}

// ---- Whole steps of the seeded bodies -------------------------------------------------------

TEST(NBodyKernel, OneStepEqualsTheSequentialLoopOverOldPositionsBitForBit) {
  const Bodies& b = seededBodies();
  const float4 someone = b.pos[2500];
  struct Case {
    Launch launch;
    float3 attractor, accel;
  } cases[] = {
      {Launch::Tiled, {0, 0, 0}, kNoAccel},
      {Launch::Direct, {0, 0, 0}, kNoAccel},
      {Launch::Program, {0, 0, 0}, kNoAccel},
      {Launch::Tiled, {someone.x, someone.y, 0}, {0.1f, -0.2f, 0}},
      {Launch::Direct, {someone.x, someone.y, 0}, {0.1f, -0.2f, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << nameOf(c.launch) << ", attractor " << c.attractor.x << ", "
                                    << c.attractor.y);
    DeviceBodies device(b.pos, b.vel);
    device.step(c.launch, kBodies, c.attractor, c.accel);
    Arrays rp = b.pos, rv = b.vel;
    floatStep(c.launch, rp, rv, kBodies, c.attractor, c.accel);
    const Arrays kp = device.positions(), kv = device.velocities();
    const Mismatch m = bitwiseMismatch(kp, kv, rp, rv, kBodies);
    EXPECT_EQ(m.count, 0) << "first: body " << m.first;
  }
}

// Against the law in double precision, one step of the program's dt.
TEST(NBodyKernel, BothKernelsAgreeWithTheLawInDoublePrecision) {
  const Bodies& b = seededBodies();
  const Exact& e = exactSeededStep();
  for (Launch launch : {Launch::Tiled, Launch::Direct}) {
    SCOPED_TRACE(nameOf(launch));
    DeviceBodies device(b.pos, b.vel);
    device.step(launch, kBodies, kSeededAttractor);
    const Arrays kp = device.positions(), kv = device.velocities();
    int off = 0, first = -1;
    double worstVelocity = 0, worstRatio = 0;
    for (int i = 0; i < kBodies; ++i) {
      const double vTolerance = velocityTolerance(e.spread[i]);
      const double pTolerance = kDt * vTolerance + kPositionRounding;
      const double dv = std::max(std::fabs(kv[i].x - e.vx[i]), std::fabs(kv[i].y - e.vy[i]));
      const double dp = std::max(std::fabs(kp[i].x - e.px[i]), std::fabs(kp[i].y - e.py[i]));
      worstVelocity = std::max(worstVelocity, dv);
      worstRatio = std::max(worstRatio, dv / vTolerance);
      if ((!(dv <= vTolerance) || !(dp <= pTolerance)) && off++ == 0) first = i;
    }
    std::printf("%s: largest velocity difference %g, %.2f of its tolerance\n", nameOf(launch), worstVelocity,
                worstRatio);
    EXPECT_EQ(off, 0) << "first: body " << first << " v (" << kv[first].x << ", " << kv[first].y << ") vs ("
                      << e.vx[first] << ", " << e.vy[first] << ")";
  }
}

// Ten steps of both kernels against ten steps of the law. The float and exact states part
// a little more each step, and a step's rounding feeds back through the positions; but a
// pair term changes with a position by at most BIGG / EPS2^(3/2) ~ 4 per unit, so over ten
// steps of 0.004 the fed-back part stays far below the fresh roundings, and the errors
// grow with the step count, not faster: k steps within k one-step velocity tolerances,
// positions within the sum of dt times those plus k position roundings. The two kernels,
// each that close to the law, are within twice it of each other; they form the pair term
// differently, so they do not agree everywhere bit for bit.
TEST(NBodyKernel, TiledAndDirectStayWithTheLawOverTenSteps) {
  const Bodies& b = seededBodies();
  const Exact& first = exactSeededStep();
  const double spread = *std::max_element(first.spread.begin(), first.spread.end());
  const double oneStep = velocityTolerance(spread);
  DeviceBodies tiled(b.pos, b.vel), direct(b.pos, b.vel);
  Exact exact = exactFrom(b.pos, b.vel);
  for (int steps = 1; steps <= 10; ++steps) {
    tiled.step(Launch::Tiled, kBodies, kSeededAttractor);
    direct.step(Launch::Direct, kBodies, kSeededAttractor);
    exactStep(exact, kSeededAttractor, kDt);
    if (steps != 1 && steps != 10) continue;
    SCOPED_TRACE(testing::Message() << steps << " steps");
    const double vTolerance = steps * oneStep;
    const double pTolerance = steps * (kDt * (steps + 1) / 2 * oneStep + kPositionRounding);
    const Arrays tp = tiled.positions(), tv = tiled.velocities();
    const Arrays dp = direct.positions(), dv = direct.velocities();
    double worstV = 0, worstP = 0, apartV = 0, apartP = 0;
    int identical = 0;
    for (int i = 0; i < kBodies; ++i) {
      for (const Arrays* v : {&tv, &dv})
        worstV = std::max({worstV, std::fabs((*v)[i].x - exact.vx[i]), std::fabs((*v)[i].y - exact.vy[i])});
      for (const Arrays* p : {&tp, &dp})
        worstP = std::max({worstP, std::fabs((*p)[i].x - exact.px[i]), std::fabs((*p)[i].y - exact.py[i])});
      apartV = std::max({apartV, std::fabs(double(tv[i].x) - dv[i].x), std::fabs(double(tv[i].y) - dv[i].y)});
      apartP = std::max({apartP, std::fabs(double(tp[i].x) - dp[i].x), std::fabs(double(tp[i].y) - dp[i].y)});
      identical += sameBits(tv[i], dv[i]) && sameBits(tp[i], dp[i]);
    }
    std::printf(
        "after %d steps: from the law, velocities %g, positions %g; between the kernels %g, %g; "
        "%d bodies identical\n",
        steps, worstV, worstP, apartV, apartP, identical);
    EXPECT_LE(worstV, vTolerance);
    EXPECT_LE(worstP, pTolerance);
    EXPECT_LE(apartV, 2 * vTolerance);
    EXPECT_LE(apartP, 2 * pTolerance);
    EXPECT_LT(identical, kBodies);
  }
}

// ---- Single bodies and pairs --------------------------------------------------------------

TEST(NBodyKernel, ALoneBodyFeelsOnlyAccelAndThePull) {
  // With n = 1 the only pair is the body with itself, which adds exactly 0. Values chosen so
  // that every operation is exact, except the 3-4-5 pull (0.243, -0.324), which rounds a
  // few times on its way: a few ulps of 0.405, under 1e-7.
  struct Case {
    const char* what;
    float4 p, v;
    float3 attractor, accel;
    float dt;
    float px, py, vx, vy;
    bool exact;
  } cases[] = {
      {"on the attractor: no pull, dt * accel only",
       {0.25f, 0.75f, 0, 0},
       {0.5f, -0.25f, 0, 0},
       {0.25f, 0.75f, 0},
       {0.25f, -0.5f, 0},
       0.5f,
       0.5625f,
       0.5f,
       0.625f,
       -0.5f,
       true},
      {"pull along x, exactly KDAT",
       {0.5f, 0, 0, 0},
       {0, 0, 0, 0},
       {0, 0, 0},
       kNoAccel,
       0.5f,
       0.5f - kPull / 4,
       0,
       -kPull / 2,
       0,
       true},
      {"pull along a 3-4-5 diagonal",
       {-0.75f, 1.0f, 0, 0},
       {0, 0, 0, 0},
       {0, 0, 0},
       kNoAccel,
       0.5f,
       -0.68925f,
       0.919f,
       0.1215f,
       -0.162f,
       false},
  };
  for (Launch launch : {Launch::Tiled, Launch::Direct}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << nameOf(launch) << ": " << c.what);
      DeviceBodies device(Arrays{c.p}, Arrays{c.v});
      device.step(launch, 1, c.attractor, c.accel, c.dt);
      const float4 p = device.positions()[0], v = device.velocities()[0];
      if (c.exact) {
        EXPECT_EQ(p.x, c.px);
        EXPECT_EQ(p.y, c.py);
        EXPECT_EQ(v.x, c.vx);
        EXPECT_EQ(v.y, c.vy);
      } else {
        EXPECT_NEAR(p.x, c.px, 1e-7);
        EXPECT_NEAR(p.y, c.py, 1e-7);
        EXPECT_NEAR(v.x, c.vx, 1e-7);
        EXPECT_NEAR(v.y, c.vy, 1e-7);
      }
    }
  }
}

TEST(NBodyKernel, CoincidentBodiesPullEachOtherWithZeroForce) {
  // Both on the attractor as well, so nothing else acts: the velocities stay exactly as
  // they were. A pair term without softening would be 0 / 0 here.
  const float4 p{0.1f, 0.2f, 0, 0};
  const Arrays vel{{0.05f, -0.05f, 0, 0}, {-0.125f, 0.0625f, 0, 0}};
  for (Launch launch : {Launch::Tiled, Launch::Direct}) {
    SCOPED_TRACE(nameOf(launch));
    DeviceBodies device(Arrays{p, p}, vel);
    device.step(launch, 2, float3{p.x, p.y, 0});
    const Arrays kp = device.positions(), kv = device.velocities();
    for (int i = 0; i < 2; ++i) {
      EXPECT_TRUE(sameBits(kv[i], vel[i])) << "body " << i << ": " << kv[i].x << ", " << kv[i].y;
      EXPECT_EQ(kp[i].x, p.x + kDt * vel[i].x);
      EXPECT_EQ(kp[i].y, p.y + kDt * vel[i].y);
    }
  }
}

// Body 0 sits on the attractor, so only body 1 acts on it: its velocity change over dt is
// the pair law BIGG d / (d^2 + EPS2)^(3/2), along the line toward body 1. About ten float
// roundings stand between the inputs and that velocity, so 4e-6 of it is ample. Body 1
// feels the same pull back plus the attractor's KDAT, both toward body 0.
TEST(NBodyKernel, TwoBodiesAttractByTheSoftenedInverseSquareLaw) {
  const float d0x = -0.2f, d0y = 0.1f;
  const double peak = std::sqrt(0.004 / 2);  // where the law is largest, 0.0962
  for (Launch launch : {Launch::Tiled, Launch::Direct}) {
    double previous = 0;
    for (double d : {0.01, 0.04, peak, 0.05, 0.2, 0.75, 1.6}) {
      SCOPED_TRACE(testing::Message() << nameOf(launch) << ", d = " << d);
      const float4 a{d0x, d0y, 0, 0};
      const float4 b{static_cast<float>(d0x + 0.6 * d), static_cast<float>(d0y + 0.8 * d), 0, 0};
      DeviceBodies device(Arrays{a, b}, Arrays(2, float4{0, 0, 0, 0}));
      device.step(launch, 2, float3{a.x, a.y, 0});
      const Arrays kv = device.velocities();

      const double dx = double(b.x) - a.x, dy = double(b.y) - a.y, dist = std::hypot(dx, dy);
      const double law = 0.001 * dist / std::pow(dist * dist + 0.004, 1.5);
      const double ax = kv[0].x / double(kDt), ay = kv[0].y / double(kDt);
      EXPECT_NEAR(ax, law * dx / dist, 4e-6 * law);
      EXPECT_NEAR(ay, law * dy / dist, 4e-6 * law);
      const double bx = kv[1].x / double(kDt), by = kv[1].y / double(kDt);
      EXPECT_NEAR(bx, -(law + 0.405) * dx / dist, 1e-6);
      EXPECT_NEAR(by, -(law + 0.405) * dy / dist, 1e-6);

      const double felt = std::hypot(ax, ay);
      if (d == peak) {
        EXPECT_NEAR(felt, 0.0962250, 1e-6);
        EXPECT_GT(felt, previous);
      }
      if (d == 0.05) {
        EXPECT_LT(felt, previous) << "past the peak";
      }
      previous = felt;
    }
  }
}

TEST(NBodyKernel, PullHasStrengthKdatNearAndFar) {
  // A body at rest, alone: after one step |v| = dt * |pull|, pointing at the attractor.
  struct Case {
    float4 p;
    float3 attractor;
  } cases[] = {
      {{0.001f, 0, 0, 0}, {0, 0, 0}},
      {{0, -0.3f, 0, 0}, {0, 0, 0}},
      {{0.6f, 0.8f, 0, 0}, {0, 0, 0}},
      {{-0.99f, -0.99f, 0, 0}, {0.99f, 0.99f, 0}},
      {{0.25f, 0.5f, 0, 0}, {0.2501f, 0.4998f, 0}},
      {{1.5f, -3.0f, 0, 0}, {-1, 1, 0}},
  };
  for (Launch launch : {Launch::Tiled, Launch::Direct}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << nameOf(launch) << ", body at " << c.p.x << ", " << c.p.y);
      DeviceBodies device(Arrays{c.p}, Arrays{float4{0, 0, 0, 0}});
      device.step(launch, 1, c.attractor);
      const float4 v = device.velocities()[0];
      EXPECT_NEAR(std::hypot(v.x, v.y) / kDt, 0.405, 1e-6);
      const double tx = double(c.attractor.x) - c.p.x, ty = double(c.attractor.y) - c.p.y;
      EXPECT_NEAR((v.x * ty - v.y * tx) / (std::hypot(v.x, v.y) * std::hypot(tx, ty)), 0.0, 1e-6)
          << "along the line to the attractor";
      EXPECT_GT(v.x * tx + v.y * ty, 0.0) << "toward it";
    }
  }
}

TEST(NBodyKernel, NoWallsHoldTheBodies) {
  // Bodies beyond or crossing the edges of the view keep going; a wall would put them on
  // x or y = +-1 and turn their velocity round.
  struct Case {
    float4 p, v;
  } cases[] = {
      {{1.5f, 0, 0, 0}, {1.0f, 0, 0, 0}},
      {{-0.999f, 0, 0, 0}, {-1.0f, 0, 0, 0}},
      {{0, 2.0f, 0, 0}, {0, 0.5f, 0, 0}},
      {{0.9999f, -0.9999f, 0, 0}, {0.5f, -0.5f, 0, 0}},
  };
  for (Launch launch : {Launch::Tiled, Launch::Direct}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << nameOf(launch) << ", body at " << c.p.x << ", " << c.p.y);
      DeviceBodies device(Arrays{c.p}, Arrays{c.v});
      device.step(launch, 1, float3{0, 0, 0});
      const float4 p = device.positions()[0], v = device.velocities()[0];
      const double dist = std::hypot(double(c.p.x), double(c.p.y));
      const double vx = c.v.x - kDt * 0.405 * c.p.x / dist, vy = c.v.y - kDt * 0.405 * c.p.y / dist;
      EXPECT_NEAR(v.x, vx, 1e-6);
      EXPECT_NEAR(v.y, vy, 1e-6);
      EXPECT_NEAR(p.x, c.p.x + kDt * vx, 1e-6);
      EXPECT_NEAR(p.y, c.p.y + kDt * vy, 1e-6);
      EXPECT_TRUE(std::fabs(p.x) > 1 || std::fabs(p.y) > 1) << p.x << ", " << p.y;
    }
  }
}

// ---- What a step leaves alone ---------------------------------------------------------------

TEST(NBodyKernel, ZAndWKeptBitForBitAndZOfAccelAndAttractorIgnored) {
  const Bodies& b = seededBodies();
  Arrays pos = b.pos, vel = b.vel;
  for (int i = 0; i < kBodies; ++i) {
    pos[i].z = floatOf(0x7fc00000u | static_cast<uint32_t>(i));  // NaNs with payloads
    pos[i].w = floatOf(0x80000000u | static_cast<uint32_t>(i));  // negative denormals
    vel[i].z = floatOf(0xff800000u);                             // -infinity
    vel[i].w = floatOf(0xffc00001u + static_cast<uint32_t>(i));  // negative NaNs
  }
  const float3 attractor{0.1f, 0.2f, 0};
  for (Launch launch : {Launch::Tiled, Launch::Direct}) {
    SCOPED_TRACE(nameOf(launch));
    DeviceBodies plain(pos, vel), oddZ(pos, vel);
    plain.step(launch, kBodies, attractor);
    oddZ.step(launch, kBodies, float3{attractor.x, attractor.y, kNaN}, float3{0, 0, 1e30f});
    const Arrays kp = plain.positions(), kv = plain.velocities();
    EXPECT_EQ(zwChanged(kp.data(), kv.data(), pos.data(), vel.data(), kBodies), 0);

    // x and y as if z and w were 0.
    Arrays rp = b.pos, rv = b.vel;
    floatStep(launch, rp, rv, kBodies, attractor);
    int wrongXY = 0;
    for (int i = 0; i < kBodies; ++i)
      wrongXY += bitsOf(kp[i].x) != bitsOf(rp[i].x) || bitsOf(kp[i].y) != bitsOf(rp[i].y) ||
                 bitsOf(kv[i].x) != bitsOf(rv[i].x) || bitsOf(kv[i].y) != bitsOf(rv[i].y);
    EXPECT_EQ(wrongXY, 0);

    const Arrays zp = oddZ.positions(), zv = oddZ.velocities();
    EXPECT_EQ(differing(zp.data(), zv.data(), kp.data(), kv.data(), kBodies), 0);
  }
}

// Threads whose index is not below n neither write nor bring their elements into the sums.
// The arrays run on past n with NaN-laden guards, as far as the largest launch has threads;
// a guard read into a tile would turn the bodies' sums into NaN, a stale tile slot summed
// in the last, short pass would shift them, and either breaks the exact match.
TEST(NBodyKernel, ThreadsPastTheCountTouchNothing) {
  const Bodies& b = seededBodies();
  struct Case {
    Launch launch;
    int n;
  } cases[] = {
      {Launch::Tiled, 100},     // 2 blocks: 28 threads without a body, a last pass of 36
      {Launch::Direct, 100},    // 1 block of 128
      {Launch::Program, 100},   // 92 blocks, 90 of them without a body
      {Launch::Program, 5835},  // threads 5,835 to 5,887 idle, a last pass of 11
      {Launch::Tiled, 5835},
  };
  const int threads = kNBodyGrid * kTile;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << nameOf(c.launch) << ", n = " << c.n);
    const int guard = threads + kTile - c.n;
    Arrays pos(b.pos.begin(), b.pos.begin() + c.n), vel(b.vel.begin(), b.vel.begin() + c.n);
    for (int g = 0; g < guard; ++g) {
      pos.push_back(float4{floatOf(0x7fa00000u + g), floatOf(0xdeadbeefu), 0.5f, -0.5f});
      vel.push_back(float4{floatOf(0x7fb00000u + g), floatOf(0x01020304u), 0.25f, -0.25f});
    }
    DeviceBodies device(pos, vel);
    device.step(c.launch, c.n, float3{0, 0, 0});
    const Arrays kp = device.positions(), kv = device.velocities();
    int touched = 0;
    for (int i = c.n; i < c.n + guard; ++i) touched += !sameBits(kp[i], pos[i]) || !sameBits(kv[i], vel[i]);
    EXPECT_EQ(touched, 0);
    Arrays rp = pos, rv = vel;
    floatStep(c.launch, rp, rv, c.n, float3{0, 0, 0});
    const Mismatch m = bitwiseMismatch(kp, kv, rp, rv, c.n);
    EXPECT_EQ(m.count, 0) << "first: body " << m.first;
  }
}

TEST(NBodyKernel, NoBodiesNoLaunch) {
  // n = 0 (or less) leaves everything as it was, even for the program's fixed grid.
  const Arrays pos{{0.5f, 0.5f, 0, 0}}, vel{{0.1f, 0.1f, 0, 0}};
  for (Launch launch : {Launch::Tiled, Launch::Direct, Launch::Program}) {
    for (int n : {0, -5}) {
      SCOPED_TRACE(testing::Message() << nameOf(launch) << ", n = " << n);
      DeviceBodies device(pos, vel);
      device.step(launch, n, float3{0, 0, 0});
      EXPECT_TRUE(sameBits(device.positions()[0], pos[0]));
      EXPECT_TRUE(sameBits(device.velocities()[0], vel[0]));
    }
  }
}

}  // namespace
