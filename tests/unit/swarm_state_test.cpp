// The swarm's start-up state, built by initSwarm itself on a real OpenGL context: the
// colour fill's draws, seeding, upload, position fill, accel.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <cuda_gl_interop.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "gl_window.h"
#include "startup_checks.h"
#include "swarm.h"
#include "swarm_support.h"
#include "vbo.h"

namespace {

const float3 accelAtStart = accel;
const GLuint buffersAtStart[2] = {posVbo, colorVbo};

struct Started {
  bool ok = false;
  GLint arrayBinding = -1;
};

// initSwarm once per process, before anything else draws from the generator.
const Started& started() {
  static const Started s = [] {
    Started r;
    if (!openGlWindow()) return r;
    initSwarm();
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &r.arrayBinding);
    r.ok = true;
    return r;
  }();
  return s;
}

// The generator's rule, walked here independently to find which particles drew what.
struct Draws {
  std::vector<uint16_t> colour;               // draw of vertex i
  std::vector<std::array<uint16_t, 5>> seed;  // a..e of particle i
};
const Draws& draws() {
  static const Draws d = [] {
    Draws r;
    uint32_t state = 1;
    auto next = [&] {
      state = state * 214013u + 2531011u;
      return static_cast<uint16_t>((state >> 16) & 0x7FFF);
    };
    r.colour.resize(kParticles);
    r.seed.resize(kParticles);
    for (auto& c : r.colour) c = next();
    for (auto& s : r.seed)
      for (auto& v : s) v = next();
    return r;
  }();
  return d;
}

class SwarmStart : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(started().ok); }
};

TEST(SwarmBeforeStart, NothingExistsYet) {
  EXPECT_EQ(buffersAtStart[0], 0u);
  EXPECT_EQ(buffersAtStart[1], 0u);
  EXPECT_EQ(accelAtStart.x, 0.0f);
  EXPECT_EQ(accelAtStart.y, 0.0f);
  EXPECT_EQ(accelAtStart.z, 0.0f);
}

TEST_F(SwarmStart, ParticleZeroDrawsTheResultsAfterTheColourFill) {
  EXPECT_EQ(draws().seed[0], (std::array<uint16_t, 5>{18907, 127, 4442, 29349, 15520}));
  EXPECT_EQ(hostPos[0].x, 0.15402691f);
  EXPECT_EQ(hostPos[0].y, -0.9922483f);
  EXPECT_EQ(tint[0], 0.040668968f);
  EXPECT_EQ(hostVel[0].x, 0.19784386f);
  // -0.013176366 to eight digits; the float nearest the exact -0.0131763664662... is this one.
  EXPECT_EQ(hostVel[0].y, -0.0131763667f);
}

TEST_F(SwarmStart, ColourVertexZeroComesFromTheFirstDraw) {
  EXPECT_EQ(draws().colour[0], 41);
  EXPECT_EQ(tintOf(41), 0.00037537768f);
  const std::vector<float4> colour = readBuffer(colorVbo, kParticles, started().arrayBinding);
  EXPECT_EQ(colour[0].x, 0.0015015107f);
  EXPECT_EQ(colour[0].y, 0.0011261330f);
  EXPECT_EQ(colour[0].z, 0.0f);
}

TEST_F(SwarmStart, ExtremeDrawsGiveTheEndsOfEveryRange) {
  const float maxTint = 0.3f;
  EXPECT_EQ(tintOf(32767), maxTint);
  EXPECT_EQ(tintOf(0), 0.0f);

  // For each of the five draws, the first particle that drew 32767 and the first that
  // drew 0 there. Three million draws make both ends turn up in every place.
  const float atMax[5] = {1.0f, 1.0f, maxTint, 0.25f, 0.25f};
  const float atZero[5] = {-1.0f, -1.0f, 0.0f, -0.25f, -0.25f};
  auto value = [](int particle, int place) {
    switch (place) {
      case 0:
        return hostPos[particle].x;
      case 1:
        return hostPos[particle].y;
      case 2:
        return tint[particle];
      case 3:
        return hostVel[particle].x;
      default:
        return hostVel[particle].y;
    }
  };
  for (int place = 0; place < 5; ++place) {
    int foundMax = -1, foundZero = -1;
    for (int i = 0; i < kParticles && (foundMax < 0 || foundZero < 0); ++i) {
      if (foundMax < 0 && draws().seed[i][place] == 32767) foundMax = i;
      if (foundZero < 0 && draws().seed[i][place] == 0) foundZero = i;
    }
    ASSERT_GE(foundMax, 0);
    ASSERT_GE(foundZero, 0);
    EXPECT_EQ(value(foundMax, place), atMax[place]) << "draw " << place << " of particle " << foundMax;
    EXPECT_EQ(value(foundZero, place), atZero[place]) << "draw " << place << " of particle " << foundZero;
  }

  const std::vector<float4> colour = readBuffer(colorVbo, kParticles, started().arrayBinding);
  int maxVertex = -1, zeroVertex = -1;
  for (int i = 0; i < kParticles; ++i) {
    if (maxVertex < 0 && draws().colour[i] == 32767) maxVertex = i;
    if (zeroVertex < 0 && draws().colour[i] == 0) zeroVertex = i;
  }
  ASSERT_GE(maxVertex, 0);
  ASSERT_GE(zeroVertex, 0);
  EXPECT_EQ(colour[maxVertex].x, 1.2f);
  EXPECT_EQ(colour[maxVertex].y, std::nextafter(0.9f, 1.0f)) << "3 x 0.3f, exact: one ulp above 0.9f";
  EXPECT_EQ(colour[zeroVertex].x, 0.0f);
  EXPECT_EQ(colour[zeroVertex].y, 0.0f);
}

TEST_F(SwarmStart, EveryValueInItsRangeAndTheSwarmFlat) {
  int outside = 0, notFlat = 0, blue = 0;
  const std::vector<float4> colour = readBuffer(colorVbo, kParticles, started().arrayBinding);
  for (int i = 0; i < kParticles; ++i) {
    const float4 p = hostPos[i], v = hostVel[i];
    outside += !(p.x >= -1 && p.x <= 1 && p.y >= -1 && p.y <= 1 && v.x >= -0.25f && v.x <= 0.25f &&
                 v.y >= -0.25f && v.y <= 0.25f && tint[i] >= 0 && tint[i] <= 0.3f);
    notFlat += bitsOf(p.z) != 0 || bitsOf(p.w) != 0 || bitsOf(v.z) != 0 || bitsOf(v.w) != 0;
    blue += colour[i].z != 0;
  }
  EXPECT_EQ(outside, 0);
  EXPECT_EQ(notFlat, 0) << "z and w must be +0";
  EXPECT_EQ(blue, 0);
}

TEST_F(SwarmStart, BuffersHoldThePositionsAndStayRegistered) {
  expectSharedBuffers(kParticles, hostPos, started().arrayBinding);
}

TEST_F(SwarmStart, DeviceVelocitiesUploadedAndAccelSet) {
  expectDeviceCopy(devVel, hostVel, kParticles);
  EXPECT_EQ(accel.x, 0.0f);
  EXPECT_EQ(accel.y, -0.5f);
  EXPECT_EQ(accel.z, 0.0f);
}

}  // namespace
