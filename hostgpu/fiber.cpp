#include "fiber.h"

#include <boost/context/detail/fcontext.hpp>

#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif
#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace hostgpu {
namespace {

namespace bctx = boost::context::detail;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr size_t kStackBytes = 1 << 20;  // instrumented frames are much larger
#else
constexpr size_t kStackBytes = 128 << 10;
#endif

// What a switch hands to the fiber it lands in.
struct Hop {
  Fiber* from;  // to be saved with the context it left, or null if it finished
  Fiber* to;
};

void beforeSwitch(Fiber* self, Fiber& to, void** fakeStack) {
#if defined(__SANITIZE_ADDRESS__)
  const void* bottom = to.stack ? to.stack : to.asanBottom;
  size_t size = to.stack ? to.stackSize : to.asanSize;
  __sanitizer_start_switch_fiber(self ? fakeStack : nullptr, bottom, size);
#else
  (void)self, (void)fakeStack;
#endif
#if defined(__SANITIZE_THREAD__)
  __tsan_switch_to_fiber(to.tsan, 0);
#else
  (void)to;
#endif
}

void afterSwitch(void* fakeStack, bctx::transfer_t t) {
  Hop* hop = static_cast<Hop*>(t.data);
#if defined(__SANITIZE_ADDRESS__)
  const void* bottom = nullptr;
  size_t size = 0;
  __sanitizer_finish_switch_fiber(fakeStack, &bottom, &size);
  if (hop->from && hop->from->stack == nullptr) {
    hop->from->asanBottom = bottom;
    hop->from->asanSize = size;
  }
#else
  (void)fakeStack;
#endif
  if (hop->from) hop->from->context = t.fctx;
}

void trampoline(bctx::transfer_t t) {
  Fiber* self = static_cast<Hop*>(t.data)->to;
  afterSwitch(nullptr, t);
  self->body(*self);
  std::abort();  // bodies switch away for good instead of returning
}

}  // namespace

void adoptThread(Fiber& self) {
  self.stack = nullptr;
#if defined(__SANITIZE_THREAD__)
  self.tsan = __tsan_get_current_fiber();
#endif
}

void startFiber(Fiber& f, void (*body)(Fiber&)) {
  if (f.stack == nullptr) {
    f.stackSize = kStackBytes;
    f.stack = static_cast<char*>(std::aligned_alloc(64, kStackBytes));
    if (f.stack == nullptr) std::abort();
#if defined(__SANITIZE_THREAD__)
    f.tsan = __tsan_create_fiber(0);
#endif
  }
  f.body = body;
  f.context = bctx::make_fcontext(f.stack + f.stackSize, f.stackSize, trampoline);
}

void switchFiber(Fiber* self, Fiber& to) {
  void* fakeStack = nullptr;
  Hop hop{self, &to};
  void* target = to.context;
  to.context = nullptr;
  beforeSwitch(self, to, &fakeStack);
  bctx::transfer_t t = bctx::jump_fcontext(target, &hop);
  afterSwitch(fakeStack, t);
}

void releaseFiber(Fiber& f) {
#if defined(__SANITIZE_THREAD__)
  if (f.stack && f.tsan) __tsan_destroy_fiber(f.tsan);
  f.tsan = nullptr;
#endif
  std::free(f.stack);
  f.stack = nullptr;
  f.context = nullptr;
}

}  // namespace hostgpu
