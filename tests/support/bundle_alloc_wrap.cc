// Wrapped malloc, calloc, realloc and free for a test build of a plug-in
// bundle (vantlow_add_bundle WRAP_ALLOC). Like alloc_wrap.cc for test
// executables, they ask the platform's fault injector first, so that an
// allocation sweep driven by a test reaches the plug-in's allocations inside
// the loaded bundle. The module keeps its own count of live blocks and
// exports it, as the only symbol besides the factory, so the test can see a
// leak inside the bundle.
#include <atomic>
#include <cstddef>

#include <vantlow/platform_testing.h>

extern "C" {
void *__real_malloc(size_t size);
void *__real_calloc(size_t count, size_t size);
void *__real_realloc(void *p, size_t size);
void __real_free(void *p);
void *__wrap_malloc(size_t size);
void *__wrap_calloc(size_t count, size_t size);
void *__wrap_realloc(void *p, size_t size);
void __wrap_free(void *p);
__attribute__((visibility("default"))) long VPBundleAllocWrapLiveBlocks(void) noexcept;
}

namespace {
std::atomic<long> gLive{0};
}

extern "C" void *__wrap_malloc(size_t size) {
  if (VPFaultAllocStep()) return nullptr;
  void *p = __real_malloc(size);
  if (p) ++gLive;
  return p;
}

extern "C" void *__wrap_calloc(size_t count, size_t size) {
  if (VPFaultAllocStep()) return nullptr;
  void *p = __real_calloc(count, size);
  if (p) ++gLive;
  return p;
}

extern "C" void *__wrap_realloc(void *p, size_t size) {
  if (VPFaultAllocStep()) return nullptr;
  void *q = __real_realloc(p, size);
  if (q && !p) ++gLive;
  if (!q && p && size == 0) --gLive; // glibc frees the block
  return q;
}

extern "C" void __wrap_free(void *p) {
  if (p) --gLive;
  __real_free(p);
}

extern "C" long VPBundleAllocWrapLiveBlocks(void) noexcept {
  return gLive;
}
