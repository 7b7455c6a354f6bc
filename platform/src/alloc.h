// The platform's one allocation seam. Every allocation inside the platform
// goes through vp::Allocate, which the fault injector can make fail; C++
// containers reach it through SeamAllocator, which turns a failure into
// std::bad_alloc for the API edge (vp::Edge) to turn into a failure result.
#pragma once

#include <cstddef>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace vp {

// Null on failure, injected or real. Never throws.
void *Allocate(std::size_t size) noexcept;
void Free(void *p) noexcept;

// While one of these lives on a thread, that thread's vp::Allocate skips the
// fault injector and vp::Allocate/vp::Free leave the live count alone. It is
// for objects that last as long as the process (constant strings): they must
// never fail to be made, and must not count as a leak of whatever operation
// first asked for them. Blocks allocated inside a scope are never freed, or
// freed inside a scope.
class PermanentAllocationScope {
public:
  PermanentAllocationScope() noexcept;
  ~PermanentAllocationScope();
  PermanentAllocationScope(const PermanentAllocationScope &) = delete;
  PermanentAllocationScope &operator=(const PermanentAllocationScope &) = delete;
};

template <class T> struct SeamAllocator {
  using value_type = T;
  SeamAllocator() noexcept = default;
  template <class U> SeamAllocator(const SeamAllocator<U> &) noexcept {}
  T *allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    void *p = Allocate(n * sizeof(T));
    if (!p) throw std::bad_alloc();
    return static_cast<T *>(p);
  }
  void deallocate(T *p, std::size_t) noexcept { Free(p); }
  template <class U> bool operator==(const SeamAllocator<U> &) const noexcept { return true; }
};

using String16 = std::basic_string<char16_t, std::char_traits<char16_t>, SeamAllocator<char16_t>>;
using String8 = std::basic_string<char, std::char_traits<char>, SeamAllocator<char>>;
template <class T> using Vector = std::vector<T, SeamAllocator<T>>;

// Objects made with New are freed with Delete; New throws std::bad_alloc.
template <class T, class... Args> T *New(Args &&...args) {
  void *p = Allocate(sizeof(T));
  if (!p) throw std::bad_alloc();
  try {
    return ::new (p) T(std::forward<Args>(args)...);
  } catch (...) {
    Free(p);
    throw;
  }
}
template <class T> void Delete(T *p) noexcept {
  if (!p) return;
  p->~T();
  Free(p);
}

// Runs body at an extern "C" edge: any exception (an allocation that failed
// deep inside) becomes the function's failure result.
template <class R, class F> R Edge(R failure, F &&body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}
template <class F> void EdgeVoid(F &&body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

} // namespace vp
