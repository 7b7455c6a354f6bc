// Shared by the fuzz targets: owning handles, a check that stops the run
// with a message (libFuzzer then keeps the input that broke it), and a guard
// that everything one input made (objects and platform allocations) is gone
// once the input is done, which finds leaks that LeakSanitizer cannot see
// because a cache or registry still points at them.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <type_traits>

#include <CoreFoundation/CoreFoundation.h>
#include <vantlow/platform_testing.h>

namespace fuzz {

struct Releaser {
  void operator()(const void *p) const {
    if (p) CFRelease(p);
  }
};
// Owns one reference (Create rule) and gives it up at the end of scope.
template <class Ref> using Owned = std::unique_ptr<std::remove_pointer_t<Ref>, Releaser>;

[[noreturn]] inline void Broken(const char *file, int line, const char *what) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
  std::abort();
}

#define FUZZ_CHECK(cond) ((cond) ? (void)0 : ::fuzz::Broken(__FILE__, __LINE__, #cond))

// Runs one input and checks that it left no object and no platform block
// alive. Long-lived state the platform keeps on purpose (constant strings,
// interned folders) is made outside the counts.
template <class F> void RunWithoutLeaks(F &&body) {
  const long objects = VPLiveObjectCount();
  const long blocks = VPLiveAllocationCount();
  body();
  FUZZ_CHECK(VPLiveObjectCount() == objects);
  FUZZ_CHECK(VPLiveAllocationCount() == blocks);
}

// The UTF-16 units of a string.
inline std::u16string Units(CFStringRef s) {
  std::u16string out(static_cast<std::size_t>(CFStringGetLength(s)), u'\0');
  if (!out.empty())
    CFStringGetCharacters(s, CFRangeMake(0, static_cast<CFIndex>(out.size())),
                          reinterpret_cast<UniChar *>(out.data()));
  return out;
}

} // namespace fuzz
