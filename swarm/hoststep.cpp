#include "hoststep.h"

#include <cmath>

#include "swarm.h"
#include "workers.h"

namespace {

struct StepJob {
  float4* pos;
  float4* vel;
  float dt;
  float3 accel;
  float3 attractor;
  bool avx2;
};

void runStepJob(void* context, size_t begin, size_t end) {
  const StepJob& j = *static_cast<const StepJob*>(context);
  if (j.avx2)
    stepParticlesAvx2(j.pos, j.vel, begin, end, j.dt, j.accel, j.attractor);
  else
    stepParticlesPortable(j.pos, j.vel, begin, end, j.dt, j.accel, j.attractor);
}

}  // namespace

void stepParticles(float4* pos, float4* vel, size_t count, float dt, float3 accel, float3 attractor) {
  static const bool avx2 = hostHasAvx2();
  StepJob job{pos, vel, dt, accel, attractor, avx2};
  parallelFor(count, 16384, runStepJob, &job);
}

void moveparticlesOnHost(float dt, float3 accel, float3 attractor) {
  stepParticles(hostPos, hostVel, kParticles, dt, accel, attractor);
}

void stepParticleReference(float4& pos, float4& vel, float dt, float3 accel, float3 attractor) {
  const double kdat = 0.8f;
  const double dy = static_cast<double>(attractor.y) - pos.y;
  const double dx = static_cast<double>(attractor.x) - pos.x;
  const float s = static_cast<float>(dx * dx + dy * dy);
  const float d = static_cast<float>(std::sqrt(static_cast<double>(s)));
  float fx = 0, fy = 0;
  if (d != 0) {
    fx = static_cast<float>((dx * kdat) / d);
    fy = static_cast<float>((kdat * dy) / d);
  }
  vel.x = static_cast<float>(vel.x + (static_cast<double>(accel.x) + fx) * static_cast<double>(dt));
  vel.y = static_cast<float>(vel.y + (static_cast<double>(accel.y) + fy) * static_cast<double>(dt));
  pos.x = static_cast<float>(pos.x + static_cast<double>(vel.x) * dt);
  pos.y = static_cast<float>(pos.y + static_cast<double>(vel.y) * dt);
  if (pos.x > 1) {
    pos.x = 1;
    vel.x = -vel.x;
  }
  if (pos.y > 1) {
    pos.y = 1;
    vel.y = -vel.y;
  }
  if (pos.x < -1) {
    pos.x = -1;
    vel.x = -vel.x;
  }
  if (pos.y < -1) {
    pos.y = -1;
    vel.y = -vel.y;
  }
}
