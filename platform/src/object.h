// The object model behind every CoreFoundation handle. Each public type is a
// struct deriving from vp::Object (struct __CFString : vp::Object, ...), so a
// handle is the address of its Object and a CFTypeRef converts back with
// vp::AsObject. Objects are allocated through the seam; immortal objects
// (constant strings, constant UUIDs, booleans) ignore retain and release.
#pragma once

#include <atomic>

#include <CoreFoundation/CoreFoundation.h>

#include "alloc.h"

namespace vp {

// Type IDs, one per class; 0 is never used.
enum : CFTypeID {
  kTypeIDString = 7,
  kTypeIDArray = 18,
  kTypeIDDictionary = 19,
  kTypeIDSet = 20,
  kTypeIDData = 21,
  kTypeIDNumber = 22,
  kTypeIDBoolean = 23,
  kTypeIDUUID = 24,
  kTypeIDURL = 25,
  kTypeIDBundle = 26,
  kTypeIDError = 27,
  kTypeIDEventTarget = 40, // reserved for the Carbon side
};

struct Object {
  Object() noexcept;
  Object(const Object &) = delete;
  Object &operator=(const Object &) = delete;
  virtual ~Object();

  virtual CFTypeID TypeID() const noexcept = 0;
  // Called only with another object of the same TypeID.
  virtual bool Equal(const Object &other) const noexcept { return this == &other; }
  virtual CFHashCode Hash() const noexcept { return reinterpret_cast<CFHashCode>(this); }
  // The text %@ and CFCopyDescription show. May throw std::bad_alloc.
  virtual String16 Describe() const;

  // Makes the object constant: never freed, not counted as alive.
  void MakeImmortal() noexcept;
  bool immortal() const noexcept { return immortal_; }

  static void *operator new(std::size_t size);
  static void operator delete(void *p) noexcept;

  std::atomic<CFIndex> refs{1};

private:
  bool immortal_ = false;
};

inline const Object *AsObject(CFTypeRef cf) noexcept { return static_cast<const Object *>(cf); }
inline CFTypeRef AsRef(const Object *o) noexcept { return static_cast<const void *>(o); }

// The object as T when it is one (T::kTypeID), else null: every public
// function checks its argument this way, so a wrong handle gives the
// function's "no answer" instead of a crash.
template <class T> const T *Cast(CFTypeRef cf) noexcept {
  if (!cf) return nullptr;
  const Object *o = AsObject(cf);
  return o->TypeID() == T::kTypeID ? static_cast<const T *>(o) : nullptr;
}
template <class T> T *CastMutable(CFTypeRef cf) noexcept { return const_cast<T *>(Cast<T>(cf)); }

// Starts bringing the first two cache lines of the object at p in (an
// object's header and, for small objects, its contents). A prefetch never
// faults, so p need not be an object at all.
inline void PrefetchObject(const void *p) noexcept {
  __builtin_prefetch(p);
  __builtin_prefetch(static_cast<const char *>(p) + 64);
}

// A held reference, released when the holder goes: RAII for CF objects.
template <class T = void> class Ref {
public:
  Ref() noexcept = default;
  // Takes over a reference the caller owns (Create rule).
  explicit Ref(const T *p) noexcept : p_(p) {}
  Ref(const Ref &o) noexcept : p_(o.p_) {
    if (p_) CFRetain(p_);
  }
  Ref(Ref &&o) noexcept : p_(o.p_) { o.p_ = nullptr; }
  Ref &operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ref() {
    if (p_) CFRelease(p_);
  }
  static Ref Retain(const T *p) noexcept {
    if (p) CFRetain(p);
    return Ref(p);
  }
  const T *get() const noexcept { return p_; }
  const T *release() noexcept {
    const T *p = p_;
    p_ = nullptr;
    return p;
  }
  explicit operator bool() const noexcept { return p_ != nullptr; }

private:
  const T *p_ = nullptr;
};

} // namespace vp
