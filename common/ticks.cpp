// The platform's millisecond counter: a monotonic clock, cut to 32 bits like GetTickCount.
#include <ctime>

#include "timing.h"

uint32_t tickCount() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}
