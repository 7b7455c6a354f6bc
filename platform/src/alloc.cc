// The allocation seam and its countdown injector: "the next nth-1
// allocations succeed, then one (or every later one) fails". The plug-in's
// wrapped malloc/calloc/realloc ask the same countdown, so one sweep reaches
// every allocation of a test run.
//
// Small blocks freed through the seam are kept per thread, by size, and
// handed out again before the C allocator is asked. A folder walk makes and
// frees one small object per entry, thousands at a time, and the C
// allocator's own per-thread cache holds only a few blocks of each size:
// past them every block goes through its general lists and is sorted out
// again when a large block is next asked for. Sanitizer builds skip this
// cache so that every use after free is still caught.
#include "alloc.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <malloc.h>

#include <vantlow/platform_testing.h>

#include "one_thread.h"

namespace {
std::atomic<bool> gArmed{false};
std::atomic<long> gCountdown{0};
std::atomic<bool> gRepeat{false};
std::atomic<long> gFailed{0};
std::atomic<long> gLive{0};
// The platform library is loaded with the programs that use it, so its
// thread-locals can live in the static TLS block and be reached without a
// call into the dynamic linker on every allocation.
[[gnu::tls_model("initial-exec")]] thread_local int tPermanentDepth = 0;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kCacheBlocks = false;
#else
constexpr bool kCacheBlocks = true;
#endif

// Blocks are sorted by the C allocator's chunk size (usable size + 8, a
// multiple of 16 on x86-64 glibc): class c holds blocks of at least
// 16c - 8 usable bytes. Only classes up to 256-byte chunks are kept.
constexpr std::size_t kClasses = 17;
constexpr std::size_t kLargestSmall = 16 * (kClasses - 1) - 8; // 248 bytes
// Enough for the entries of a large folder; beyond it, or beyond the bytes
// a thread may keep in all, blocks go back to the C allocator.
constexpr std::uint32_t kBlocksPerClass = 16384;
constexpr std::size_t kBytesPerThread = 4u << 20;

struct FreeBlock {
  FreeBlock *next;
};

enum class CacheState : unsigned char { kUnused, kOpen, kClosed };

struct BlockCache {
  FreeBlock *heads[kClasses];
  std::uint32_t counts[kClasses];
  std::size_t bytes; // kept in all, by class size
  CacheState state;
};
[[gnu::tls_model("initial-exec")]] thread_local BlockCache tCache{};

// Gives a thread's kept blocks back when the thread ends; later frees on
// that thread (other thread-locals going away) go straight to the C
// allocator.
struct CacheReleaser {
  CacheReleaser() noexcept { tCache.state = CacheState::kOpen; }
  ~CacheReleaser() {
    tCache.state = CacheState::kClosed;
    for (std::size_t c = 0; c < kClasses; ++c) {
      while (FreeBlock *b = tCache.heads[c]) {
        tCache.heads[c] = b->next;
        std::free(b);
      }
      tCache.counts[c] = 0;
    }
    tCache.bytes = 0;
  }
};

std::size_t ClassForRequest(std::size_t size) noexcept {
  const std::size_t chunk = size + 8 < 32 ? 32 : size + 8;
  return (chunk + 15) / 16;
}

void *TakeCached(std::size_t size) noexcept {
  if (!kCacheBlocks || size > kLargestSmall) return std::malloc(size ? size : 1);
  const std::size_t c = ClassForRequest(size);
  if (FreeBlock *b = tCache.heads[c]) {
    tCache.heads[c] = b->next;
    --tCache.counts[c];
    tCache.bytes -= 16 * c;
    // The next allocation of this size reads the new head's link.
    __builtin_prefetch(b->next);
    return b;
  }
  // Asked at the class's full size, so that the block can serve any
  // request of its class when it comes back.
  return std::malloc(16 * c - 8);
}

void GiveBack(void *p) noexcept {
  if (kCacheBlocks && tCache.state != CacheState::kClosed) {
    const std::size_t c = (malloc_usable_size(p) + 8) / 16;
    if (c < kClasses && tCache.counts[c] < kBlocksPerClass &&
        tCache.bytes + 16 * c <= kBytesPerThread) {
      if (tCache.state == CacheState::kUnused) {
        // Registers the thread's releaser on its first kept block.
        thread_local CacheReleaser releaser;
        (void)releaser;
      }
      auto *b = static_cast<FreeBlock *>(p);
      b->next = tCache.heads[c];
      tCache.heads[c] = b;
      ++tCache.counts[c];
      tCache.bytes += 16 * c;
      return;
    }
  }
  std::free(p);
}
} // namespace

namespace vp {

void *Allocate(std::size_t size) noexcept {
  const bool counted = tPermanentDepth == 0;
  if (counted && gArmed.load(std::memory_order_relaxed) && VPFaultAllocStep()) return nullptr;
  void *p = TakeCached(size);
  if (p && counted) vp::CountAdd(gLive, 1L);
  return p;
}

void Free(void *p) noexcept {
  if (!p) return;
  if (tPermanentDepth == 0) vp::CountAdd(gLive, -1L);
  GiveBack(p);
}

PermanentAllocationScope::PermanentAllocationScope() noexcept { ++tPermanentDepth; }
PermanentAllocationScope::~PermanentAllocationScope() { --tPermanentDepth; }

} // namespace vp

extern "C" {

void VPFaultArm(long nth, Boolean repeat) noexcept {
  gArmed = false;
  gFailed = 0;
  gCountdown = nth < 1 ? 1 : nth;
  gRepeat = repeat != 0;
  gArmed = true;
}

void VPFaultDisarm(void) noexcept { gArmed = false; }

long VPFaultFailedCount(void) noexcept { return gFailed; }

Boolean VPFaultAllocStep(void) noexcept {
  if (!gArmed.load(std::memory_order_relaxed)) return false;
  long left = gCountdown.fetch_sub(1) - 1;
  if (left > 0) return false;
  if (left < 0 && !gRepeat) return false;
  gFailed.fetch_add(1);
  return true;
}

long VPLiveAllocationCount(void) noexcept { return gLive; }

Boolean VPFaultProbe(void) noexcept {
  if (!gArmed.load(std::memory_order_relaxed)) return true;
  void *p = vp::Allocate(1);
  if (!p) return false;
  vp::Free(p);
  return true;
}

} // extern "C"
