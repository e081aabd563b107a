// velmora-nbody's start-up state, built by initBodies itself on a real OpenGL context: the
// colour fill's draws, the three disks, the upload, the position fill, accel.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <cuda_gl_interop.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "gl_window.h"
#include "nbody.h"
#include "nbody_support.h"
#include "startup_checks.h"
#include "vbo.h"

namespace {

constexpr int kPerDisk = 1945;

const GLuint buffersAtStart[2] = {posVbo, colorVbo};
const float4* const arraysAtStart[3] = {hostPos, hostVel, devVel};

struct Started {
  bool ok = false;
  GLint arrayBinding = -1;
  std::string output;
};

// initBodies once per process, before anything else draws from the generator.
const Started& started() {
  static const Started s = [] {
    Started r;
    if (!openGlWindow()) return r;
    testing::internal::CaptureStdout();
    initBodies();
    r.output = testing::internal::GetCapturedStdout();
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &r.arrayBinding);
    r.ok = true;
    return r;
  }();
  return s;
}

// The generator's rule, walked here on its own: the three draws of body i come after the
// colour fill's one draw per body.
std::array<int, 3> drawsOfBody(int body) {
  uint32_t state = 1;
  auto next = [&] {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFF);
  };
  for (int k = 0; k < kBodies + 3 * body; ++k) next();
  const int a = next(), b = next();
  return {a, b, next()};
}

class BodiesStart : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(started().ok); }
};

TEST(BodiesBeforeStart, NothingExistsYet) {
  EXPECT_EQ(buffersAtStart[0], 0u);
  EXPECT_EQ(buffersAtStart[1], 0u);
  for (const float4* array : arraysAtStart) EXPECT_EQ(array, nullptr);
}

TEST_F(BodiesStart, PrintsTheAllocationAndTheBodyCount) {
  EXPECT_EQ(started().output, "alokacja... \nparticles: 5835\n");
}

TEST_F(BodiesStart, DisksStartWhereTheirFirstInsidePointLies) {
  // u = -0.25 never lies inside, so every disk begins at u = -0.24. Each coordinate is the
  // double sum of the centre and the accumulated float offset, rounded once: hence
  // -0.74000001 and -0.56999993, not the floats nearest -0.74 and -0.57.
  struct Case {
    int body;
    float x, y;
  } cases[] = {
      {0, 0.25999999f, 0.430000067f},
      {1, 0.25999999f, 0.440000057f},
      {kPerDisk - 1, 0.740000129f, 0.560000062f},
      {kPerDisk, -0.74000001f, -0.569999933f},
      {2 * kPerDisk - 1, -0.259999871f, -0.439999938f},
      {2 * kPerDisk, 0.25999999f, -0.569999933f},
      {kBodies - 1, 0.740000129f, -0.439999938f},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hostPos[c.body].x, c.x) << "body " << c.body;
    EXPECT_EQ(hostPos[c.body].y, c.y) << "body " << c.body;
  }
}

TEST_F(BodiesStart, EachDiskHoldsItsOwnBodiesAndNoMore) {
  // Disk k's bodies are 1,945 k to 1,945 (k + 1) - 1; every one within the radius of its
  // centre, and stored by ascending x, then ascending y.
  const double centres[3][2] = {{0.5, 0.5}, {-0.5, -0.5}, {0.5, -0.5}};
  int misplaced = 0, outOfOrder = 0;
  for (int i = 0; i < kBodies; ++i) {
    const double* c = centres[i / kPerDisk];
    misplaced += !(std::hypot(hostPos[i].x - c[0], hostPos[i].y - c[1]) < 0.25 + 1e-6);
    if (i % kPerDisk != 0) {
      const float4 a = hostPos[i - 1], b = hostPos[i];
      outOfOrder += !(a.x < b.x || (a.x == b.x && a.y < b.y));
    }
  }
  EXPECT_EQ(misplaced, 0);
  EXPECT_EQ(outOfOrder, 0);
}

// The grid points that lie exactly on the circle in decimal terms: only the four with both
// offsets negative come out inside once the offsets have drifted by repeated addition.
TEST_F(BodiesStart, OnlyFourOfTheEighteenRimPointsAreInside) {
  // Coordinate in the first disk, float(0.5 + accumulated offset), for each decimal offset.
  auto diskOne = [](double offset) {
    struct Entry {
      double offset;
      float coordinate;
    } table[] = {{-0.25, 0.25f},        {-0.24, 0.25999999f}, {-0.2, 0.300000012f}, {-0.15, 0.350000054f},
                 {-0.07, 0.430000067f}, {0.0, 0.50000006f},   {0.07, 0.570000052f}, {0.15, 0.650000095f},
                 {0.2, 0.700000107f},   {0.24, 0.740000129f}};
    for (const Entry& e : table)
      if (e.offset == offset) return e.coordinate;
    ADD_FAILURE() << "no offset " << offset;
    return 0.0f;
  };
  struct Case {
    double u, v;
    bool inside;
  } cases[] = {
      {-0.24, -0.07, true}, {-0.2, -0.15, true},  {-0.15, -0.2, true},  {-0.07, -0.24, true},
      {-0.25, 0.0, false},  {0.0, -0.25, false},  {-0.24, 0.07, false}, {0.24, -0.07, false},
      {0.24, 0.07, false},  {-0.07, 0.24, false}, {0.07, -0.24, false}, {0.07, 0.24, false},
      {-0.2, 0.15, false},  {0.2, -0.15, false},  {0.2, 0.15, false},   {-0.15, 0.2, false},
      {0.15, -0.2, false},  {0.15, 0.2, false},
  };
  for (const Case& c : cases) {
    const float x = diskOne(c.u), y = diskOne(c.v);
    int found = 0;
    for (int i = 0; i < kPerDisk; ++i) found += hostPos[i].x == x && hostPos[i].y == y;
    EXPECT_EQ(found, c.inside ? 1 : 0) << "(u, v) = (" << c.u << ", " << c.v << ")";
  }
}

TEST_F(BodiesStart, VelocitiesComeFromTheDrawsAfterTheColourFill) {
  EXPECT_EQ(drawsOfBody(0), (std::array<int, 3>{20420, 25254, 7953}));
  EXPECT_EQ(drawsOfBody(1), (std::array<int, 3>{15760, 3586, 25419}));
  EXPECT_EQ(hostVel[0].x, 0.13535722f);
  EXPECT_EQ(hostVel[0].y, -0.12864314f);
  EXPECT_EQ(hostVel[1].x, -0.195280313f);
  EXPECT_EQ(hostVel[1].y, 0.137874991f);

  // Every body: the second and third draw, (d / 32767 - 0.5) * 0.5 in double, rounded once.
  uint32_t state = 1;
  auto next = [&] {
    state = state * 214013u + 2531011u;
    return static_cast<int>((state >> 16) & 0x7FFF);
  };
  for (int k = 0; k < kBodies; ++k) next();
  int wrong = 0, first = -1;
  for (int i = 0; i < kBodies; ++i) {
    next();
    const int dx = next(), dy = next();
    const bool ok = hostVel[i].x == static_cast<float>((dx / 32767.0 - 0.5) * 0.5) &&
                    hostVel[i].y == static_cast<float>((dy / 32767.0 - 0.5) * 0.5);
    if (!ok && wrong++ == 0) first = i;
  }
  EXPECT_EQ(wrong, 0) << "first: body " << first;
}

TEST_F(BodiesStart, EveryVelocityInRangeAndEveryBodyFlat) {
  int outside = 0, notFlat = 0;
  for (int i = 0; i < kBodies; ++i) {
    const float4 p = hostPos[i], v = hostVel[i];
    outside += !(v.x >= -0.25f && v.x <= 0.25f && v.y >= -0.25f && v.y <= 0.25f);
    notFlat += bitsOf(p.z) != 0 || bitsOf(p.w) != 0 || bitsOf(v.z) != 0 || bitsOf(v.w) != 0;
  }
  EXPECT_EQ(outside, 0);
  EXPECT_EQ(notFlat, 0) << "z and w must be +0";
}

TEST_F(BodiesStart, ColourBufferIsOneBluishGrey) {
  const std::vector<float4> colour = readBuffer(colorVbo, kBodies, started().arrayBinding);
  int wrong = 0;
  for (const float4& c : colour)
    wrong += bitsOf(c.x) != bitsOf(0.25f) || bitsOf(c.y) != bitsOf(0.25f) || bitsOf(c.z) != 0x3EB33333u ||
             bitsOf(c.w) != bitsOf(0.25f);
  EXPECT_EQ(wrong, 0);
}

TEST_F(BodiesStart, BuffersHoldThePositionsAndStayRegistered) {
  expectSharedBuffers(kBodies, hostPos, started().arrayBinding);
}

TEST_F(BodiesStart, DeviceVelocitiesUploadedAndAccelZero) {
  expectDeviceCopy(devVel, hostVel, kBodies);
  EXPECT_EQ(bitsOf(accel.x), 0u);
  EXPECT_EQ(bitsOf(accel.y), 0u);
  EXPECT_EQ(bitsOf(accel.z), 0u);
}

// A second allocation and its release, with the program's arrays put back afterwards.
TEST_F(BodiesStart, AllocationIsZeroFilledAndReleaseClearsThePointers) {
  float4* const saved[3] = {hostPos, hostVel, devVel};
  const int n = 7;
  testing::internal::CaptureStdout();
  allocateParticles(n);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "alokacja... \n");
  ASSERT_NE(hostPos, nullptr);
  ASSERT_NE(hostVel, nullptr);
  ASSERT_NE(devVel, nullptr);
  int nonZero = 0;
  for (int i = 0; i < n; ++i)
    for (const float4* a : {hostPos, hostVel}) nonZero += !sameBits(a[i], float4{0, 0, 0, 0});
  EXPECT_EQ(nonZero, 0);
  // The device array takes n elements: the last one can be written and read back.
  const float4 probe{1, 2, 3, 4};
  EXPECT_EQ(cudaMemcpy(devVel + n - 1, &probe, sizeof probe, cudaMemcpyHostToDevice), cudaSuccess);

  testing::internal::CaptureStdout();
  freeParticles();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "dealokacja... \n");
  EXPECT_EQ(hostPos, nullptr);
  EXPECT_EQ(hostVel, nullptr);
  EXPECT_EQ(devVel, nullptr);
  hostPos = saved[0];
  hostVel = saved[1];
  devVel = saved[2];
}

}  // namespace
