// GetKeys and the process-wide cancel latch. The latch is the only keyboard
// state a plug-in sees on Linux: the host sets it when the user asks to
// cancel (from a signal handler or an input thread), and GetKeys shows it as
// the Escape key held. Tests hold further keys through a key map of their own.
#include <Carbon/Keyboard.h>

#include <atomic>
#include <cstring>

#include <vantlow/toolbox_testing.h>

namespace {

constexpr unsigned kKeyCount = 128;
constexpr unsigned kEscapeKey = 53;

// Both must be usable from a signal handler: lock-free atomics only.
std::atomic<bool> gCancelLatch{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the cancel latch must be lock-free");

std::atomic<UInt8> gTestKeys[kKeyCount / 8];
static_assert(std::atomic<UInt8>::is_always_lock_free, "the test key map must be lock-free");

// The host's key reader, consulted by GetKeys (null: none).
std::atomic<VPKeyStateProvider> gKeyStateProvider{nullptr};

void SetBit(UInt8 *bytes, unsigned key) noexcept {
  bytes[key / 8] = static_cast<UInt8>(bytes[key / 8] | (1u << (key % 8)));
}

} // namespace

extern "C" {

void GetKeys(KeyMap theKeys) noexcept {
  if (!theKeys) return;
  KeyMapByteArray bytes;
  for (unsigned i = 0; i < sizeof bytes; ++i)
    bytes[i] = gTestKeys[i].load(std::memory_order_relaxed);
  // A cancel key the host sees held is latched, so that a poll that comes
  // after the key was let go still sees the cancel.
  if (VPKeyStateProvider provider = gKeyStateProvider.load(std::memory_order_acquire))
    if (provider()) gCancelLatch.store(true, std::memory_order_release);
  if (gCancelLatch.load(std::memory_order_acquire)) SetBit(bytes, kEscapeKey);
  std::memcpy(theKeys, bytes, sizeof bytes);
}

void VPCancelLatchSet(void) noexcept {
  gCancelLatch.store(true, std::memory_order_release);
}

void VPCancelLatchClear(void) noexcept {
  gCancelLatch.store(false, std::memory_order_release);
}

Boolean VPCancelLatchIsSet(void) noexcept {
  return gCancelLatch.load(std::memory_order_acquire) ? TRUE : FALSE;
}

void VPKeyStateSetProvider(VPKeyStateProvider provider) noexcept {
  gKeyStateProvider.store(provider, std::memory_order_release);
}

void VPTestSetKeyMap(const KeyMapByteArray keys) noexcept {
  for (unsigned i = 0; i < kKeyCount / 8; ++i)
    gTestKeys[i].store(keys ? keys[i] : 0, std::memory_order_relaxed);
}

void VPTestSetKeyDown(UInt16 keyCode, Boolean down) noexcept {
  if (keyCode >= kKeyCount) return;
  const UInt8 bit = static_cast<UInt8>(1u << (keyCode % 8));
  if (down)
    gTestKeys[keyCode / 8].fetch_or(bit, std::memory_order_relaxed);
  else
    gTestKeys[keyCode / 8].fetch_and(static_cast<UInt8>(~bit), std::memory_order_relaxed);
}

} // extern "C"
