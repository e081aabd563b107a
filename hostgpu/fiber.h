// Minimal fibers on Boost.Context's fcontext: a fiber is a stack and a saved context.
// Switching is a direct jump from one fiber to another; the fiber switched away from is
// saved so it can be resumed later. Sanitizers are told about every stack switch.
#pragma once

#include <cstddef>

namespace hostgpu {

struct Fiber {
  void* context = nullptr;  // where to resume; null while running or finished
  char* stack = nullptr;    // lowest address; null for a thread's own stack
  size_t stackSize = 0;
  const void* asanBottom = nullptr;  // a thread's own stack, as the address sanitizer reports it
  size_t asanSize = 0;
  void* tsan = nullptr;  // the thread sanitizer's handle for this fiber
  void (*body)(Fiber& self) = nullptr;
};

// Adopts the calling thread's own stack as `self`, the fiber others switch back to.
void adoptThread(Fiber& self);

// Prepares f to run body(f) on its own stack (allocated on first use, then kept) when it
// is first switched to. body must never return: it ends by switching away with
// self == nullptr.
void startFiber(Fiber& f, void (*body)(Fiber&));

// Suspends the running fiber `self` and resumes `to`; returns when some fiber switches
// back to `self`. With self == nullptr the running fiber is finished and never resumes.
void switchFiber(Fiber* self, Fiber& to);

// Frees a fiber's stack; it must not be running or suspended.
void releaseFiber(Fiber& f);

}  // namespace hostgpu
