// CFBoolean: the two constant objects kCFBooleanTrue and kCFBooleanFalse.
// They are built before any other static object of the library (and so
// before any program that links it starts), and never destroyed, so they
// are usable from every static constructor and destructor.
#include <CoreFoundation/CFScalars.h>

#include <utility>

#include "cf_collection_internal.h"

struct __CFBoolean final : vp::Object {
  static constexpr CFTypeID kTypeID = vp::kTypeIDBoolean;

  explicit __CFBoolean(bool v) noexcept : value(v) { MakeImmortal(); }

  CFTypeID TypeID() const noexcept override { return kTypeID; }
  // Only two objects exist, so identity is value equality.
  CFHashCode Hash() const noexcept override { return value ? 1 : 0; }
  vp::String16 Describe() const override {
    vp::String16 out;
    vp::AppendASCII(out, value ? "true" : "false");
    return out;
  }

  const bool value;
};

namespace {

// Holds a T whose destructor never runs.
template <class T> union Forever {
  template <class... A> explicit Forever(A &&...args) : object(std::forward<A>(args)...) {}
  ~Forever() {}
  T object;
};

__attribute__((init_priority(101))) Forever<__CFBoolean> gTrue(true);
__attribute__((init_priority(101))) Forever<__CFBoolean> gFalse(false);

} // namespace

extern "C" {

const CFBooleanRef kCFBooleanTrue = &gTrue.object;
const CFBooleanRef kCFBooleanFalse = &gFalse.object;

CFTypeID CFBooleanGetTypeID(void) noexcept {
  return vp::kTypeIDBoolean;
}

Boolean CFBooleanGetValue(CFBooleanRef boolean) noexcept {
  const __CFBoolean *b = vp::Cast<__CFBoolean>(boolean);
  return b && b->value;
}

} // extern "C"
