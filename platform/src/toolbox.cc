// Small toolbox services: TickCount on the monotonic clock, SysBeep on the
// controlling terminal, Gestalt's system version, and handles. Tests drive
// the clock, count the beeps and choose the version through
// vantlow/carbon_testing.h.
#include <Carbon/Toolbox.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>

#include <fcntl.h>

#include <vantlow/carbon_testing.h>

#include "alloc.h"
#include "syscalls.h"

namespace {

std::atomic<UInt32 (*)(void)> gTickSource{nullptr};
std::atomic<void (*)(void)> gBeepHandler{nullptr};
std::atomic<long> gBeepCount{0};

// The version this platform reports: 10.4, so names travel as 'utxt'.
constexpr SInt32 kSystemVersion = 0x1040;
std::atomic<SInt32> gSystemVersion{kSystemVersion};
std::atomic<OSErr> gSystemVersionResult{noErr};

UInt32 MonotonicTicks() noexcept {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  // 60 ticks a second; the sum wraps modulo 2^32 as the tick counter does.
  const std::uint64_t ticks = static_cast<std::uint64_t>(ts.tv_sec) * 60u +
                              static_cast<std::uint64_t>(ts.tv_nsec) * 60u / 1000000000u;
  return static_cast<UInt32>(ticks);
}

// Rings the bell of the controlling terminal. Without one, opening /dev/tty
// fails (ENXIO) and nothing happens: there is nobody to hear it.
void RingTerminalBell() noexcept {
  int fd = vp::sys::openat(AT_FDCWD, "/dev/tty", O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  (void)vp::sys::write(fd, "\a", 1);
  vp::sys::close(fd);
}

// A handle is the address of the master pointer at the start of its block;
// the bytes follow the header. The magic number lets DisposeHandle and
// GetHandleSize ignore a pointer that is not a live handle of ours.
struct HandleBlock {
  char *master;
  Size size;
  UInt32 magic;
};
static_assert(sizeof(HandleBlock) % alignof(std::max_align_t) == 0,
              "the bytes after the header keep malloc's alignment");
constexpr UInt32 kHandleMagic = 0x48646C21; // 'Hdl!'

HandleBlock *BlockOf(Handle h) noexcept {
  if (!h) return nullptr;
  HandleBlock *block = reinterpret_cast<HandleBlock *>(h);
  return block->magic == kHandleMagic ? block : nullptr;
}

} // namespace

extern "C" {

UInt32 TickCount(void) noexcept {
  UInt32 (*source)(void) = gTickSource.load(std::memory_order_acquire);
  return source ? source() : MonotonicTicks();
}

void SysBeep(short) noexcept {
  gBeepCount.fetch_add(1, std::memory_order_relaxed);
  void (*handler)(void) = gBeepHandler.load(std::memory_order_acquire);
  if (handler)
    handler();
  else
    RingTerminalBell();
}

void VPSysBeepSetHandler(void (*handler)(void)) noexcept {
  gBeepHandler.store(handler, std::memory_order_release);
}

OSErr Gestalt(OSType selector, SInt32 *response) noexcept {
  if (!response) return paramErr;
  if (selector != gestaltSystemVersion) return gestaltUndefSelectorErr;
  OSErr result = gSystemVersionResult.load(std::memory_order_acquire);
  if (result != noErr) return result;
  *response = gSystemVersion.load(std::memory_order_acquire);
  return noErr;
}

Handle NewHandle(Size byteCount) noexcept {
  if (byteCount < 0) return nullptr;
  void *p = vp::Allocate(sizeof(HandleBlock) + static_cast<std::size_t>(byteCount));
  if (!p) return nullptr;
  HandleBlock *block = static_cast<HandleBlock *>(p);
  block->master = static_cast<char *>(p) + sizeof(HandleBlock);
  block->size = byteCount;
  block->magic = kHandleMagic;
  return &block->master;
}

void DisposeHandle(Handle h) noexcept {
  HandleBlock *block = BlockOf(h);
  if (!block) return;
  block->magic = 0;
  vp::Free(block);
}

Size GetHandleSize(Handle h) noexcept {
  HandleBlock *block = BlockOf(h);
  return block ? block->size : 0;
}

// ---- Test seams ----

void VPTickCountSetSource(UInt32 (*source)(void)) noexcept {
  gTickSource.store(source, std::memory_order_release);
}

long VPSysBeepCount(void) noexcept {
  return gBeepCount.load(std::memory_order_relaxed);
}

void VPGestaltSetSystemVersion(SInt32 version, OSErr result) noexcept {
  gSystemVersion.store(version, std::memory_order_release);
  gSystemVersionResult.store(result, std::memory_order_release);
}

void VPGestaltReset(void) noexcept {
  VPGestaltSetSystemVersion(kSystemVersion, noErr);
}

} // extern "C"
