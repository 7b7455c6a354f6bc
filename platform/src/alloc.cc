// The allocation seam and its countdown injector: "the next nth-1
// allocations succeed, then one (or every later one) fails". The plug-in's
// wrapped malloc/calloc/realloc ask the same countdown, so one sweep reaches
// every allocation of a test run.
#include "alloc.h"

#include <atomic>
#include <cstdlib>

#include <vantlow/platform_testing.h>

namespace {
std::atomic<bool> gArmed{false};
std::atomic<long> gCountdown{0};
std::atomic<bool> gRepeat{false};
std::atomic<long> gFailed{0};
std::atomic<long> gLive{0};
thread_local int tPermanentDepth = 0;
} // namespace

namespace vp {

void *Allocate(std::size_t size) noexcept {
  const bool counted = tPermanentDepth == 0;
  if (counted && VPFaultAllocStep()) return nullptr;
  void *p = std::malloc(size ? size : 1);
  if (p && counted) gLive.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void Free(void *p) noexcept {
  if (!p) return;
  if (tPermanentDepth == 0) gLive.fetch_sub(1, std::memory_order_relaxed);
  std::free(p);
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
