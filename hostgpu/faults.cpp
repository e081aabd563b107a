#include "faults.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace hostgpu {
namespace {

struct Plan {
  bool armed = false;
  Call call = Call::Map;
  long when = 1;
};

Plan readPlan() {
  Plan plan;
  const char* spec = std::getenv("HOSTGPU_FAIL");
  if (spec == nullptr || *spec == '\0') return plan;
  static const struct {
    const char* name;
    Call call;
  } names[] = {{"register", Call::Register},
               {"unregister", Call::Unregister},
               {"map", Call::Map},
               {"unmap", Call::Unmap},
               {"malloc", Call::Malloc}};
  const char* colon = std::strchr(spec, ':');
  size_t length = colon ? static_cast<size_t>(colon - spec) : std::strlen(spec);
  for (const auto& n : names) {
    if (std::strlen(n.name) == length && std::strncmp(spec, n.name, length) == 0) {
      plan.armed = true;
      plan.call = n.call;
    }
  }
  if (colon) plan.when = std::max(1L, std::strtol(colon + 1, nullptr, 10));
  return plan;
}

}  // namespace

bool injectedFault(Call call) {
  static const Plan plan = readPlan();
  static long seen = 0;  // calls of the planned kind so far; the interop calls are single-threaded
  if (!plan.armed || plan.call != call) return false;
  return ++seen == plan.when;
}

}  // namespace hostgpu
