// Counters and locks that cost plain memory operations while the process
// has one thread. A folder walk bumps reference counts, live counters and
// the File Manager's lock several times per entry; as locked instructions
// they cost more than the rest of the entry's own work. The C library
// clears __libc_single_threaded before the first thread is made and never
// sets it again, and making a thread orders everything before it, so a
// process that goes from one thread to several switches to the atomic
// forms safely. Nothing here makes a thread while it holds a lock.
#pragma once

#include <atomic>
#include <sys/single_threaded.h>

namespace vp {

inline bool OneThread() noexcept {
  return __libc_single_threaded != 0;
}

// a += delta; returns the value before.
template <class T>
T CountAdd(std::atomic<T> &a, T delta, std::memory_order order = std::memory_order_relaxed) noexcept {
  if (OneThread()) {
    const T old = a.load(std::memory_order_relaxed);
    a.store(old + delta, std::memory_order_relaxed);
    return old;
  }
  return a.fetch_add(delta, order);
}

} // namespace vp
