// Wrapped malloc, calloc, realloc and free for test executables (linked with
// -Wl,--wrap=...). They ask the platform's fault injector first, so that one
// countdown reaches the plug-in modules' own allocations, and count the
// blocks still held so that a test can see a leak at once.
#include <atomic>
#include <cstddef>

#include <vantlow/platform_testing.h>

#include "test_support.h"

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *p, size_t size);
void __real_free(void *p);
void *__wrap_malloc(size_t size);
void *__wrap_calloc(size_t count, size_t size);
void *__wrap_realloc(void *p, size_t size);
void __wrap_free(void *p);
}

namespace {
std::atomic<long> gWrappedLive{0};
}

extern "C" void *__wrap_malloc(size_t size) {
  if (VPFaultAllocStep()) return nullptr;
  void *p = __real_malloc(size);
  if (p) ++gWrappedLive;
  return p;
}

extern "C" void *__wrap_calloc(size_t count, size_t size) {
  if (VPFaultAllocStep()) return nullptr;
  void *p = __real_calloc(count, size);
  if (p) ++gWrappedLive;
  return p;
}

extern "C" void *__wrap_realloc(void *p, size_t size) {
  if (VPFaultAllocStep()) return nullptr;
  void *q = __real_realloc(p, size);
  if (q && !p) ++gWrappedLive;
  return q;
}

extern "C" void __wrap_free(void *p) {
  if (p) --gWrappedLive;
  __real_free(p);
}

namespace vantlow_test {
long WrappedLiveCount() { return gWrappedLive; }
} // namespace vantlow_test
