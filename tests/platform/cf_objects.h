// Small helpers for tests of CoreFoundation objects: owning handles, making
// numbers and strings, reading an object's description as UTF-8, and a
// fixture that checks no object outlives the test.
#pragma once

#include <memory>
#include <string>
#include <type_traits>

#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

namespace cf_test {

struct Releaser {
  void operator()(const void *p) const {
    if (p) CFRelease(p);
  }
};
// Owns one reference (Create rule) and gives it up at the end of scope.
template <class Ref> using Owned = std::unique_ptr<std::remove_pointer_t<Ref>, Releaser>;

// A handle of any type seen as another type: for passing wrong handles.
template <class T> T As(CFTypeRef p) {
  return static_cast<T>(const_cast<void *>(p));
}

inline CFNumberRef Int(SInt32 v) {
  return CFNumberCreate(nullptr, kCFNumberSInt32Type, &v);
}
inline CFNumberRef Int64(SInt64 v) {
  return CFNumberCreate(nullptr, kCFNumberSInt64Type, &v);
}
inline CFNumberRef Double(double v) {
  return CFNumberCreate(nullptr, kCFNumberFloat64Type, &v);
}
inline CFStringRef Str(const char *utf8) {
  return CFStringCreateWithCString(nullptr, utf8, kCFStringEncodingUTF8);
}

// The object's description as UTF-8 ("<none>" when there is none).
inline std::string Text(CFTypeRef cf) {
  Owned<CFStringRef> d(CFCopyDescription(cf));
  char buf[1024];
  if (!d || !CFStringGetCString(d.get(), buf, sizeof buf, kCFStringEncodingUTF8)) return "<none>";
  return buf;
}

// Names each case of a parameterized test after its row's `name` field.
struct CaseName {
  template <class P> std::string operator()(const ::testing::TestParamInfo<P> &row) const {
    return row.param.name;
  }
};

// True when an injected allocation failure happened while fn ran.
template <class F> bool FailedDuring(F &&fn) {
  long before = VPFaultFailedCount();
  fn();
  return VPFaultFailedCount() > before;
}

// Checks that every object a test made is gone when it ends.
class LeakCheckedTest : public ::testing::Test {
protected:
  void SetUp() override { objects_ = VPLiveObjectCount(); }
  void TearDown() override {
    EXPECT_EQ(VPLiveObjectCount(), objects_) << "objects outlived the test";
  }

private:
  long objects_ = 0;
};

} // namespace cf_test
