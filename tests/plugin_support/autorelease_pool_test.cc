// The autorelease pool: which pool an object goes to, when it is released,
// what an out-of-order or empty-stack call leaves behind, and the exact
// lines it prints.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include "autorelease_pool.h"
#include "test_support.h"

namespace {

using vantlow_test::StdoutCapture;

const std::string kNoPool = "Vantlow: MyCFAutoreleasePool GetCurrentPool: no pool\n\n";
const std::string kIllegal = "Vantlow: MyCFAutoreleasePoolDispose: illegal dispose\n\n";

// A fresh object the test owns one reference to.
CFTypeRef NewObject() {
  static const UInt8 bytes[] = {1, 2, 3};
  return CFDataCreate(nullptr, bytes, sizeof bytes);
}

class AutoreleasePool : public ::testing::Test {
protected:
  void SetUp() override {
    // The stack itself lives for the rest of the process; make it before
    // counting what each test leaves alive.
    MyCFAutoreleasePoolDispose(MyCFAutoreleasePoolCreate());
    objectsBefore_ = VPLiveObjectCount();
  }
  void TearDown() override { EXPECT_EQ(VPLiveObjectCount(), objectsBefore_) << "objects leaked"; }

private:
  long objectsBefore_ = 0;
};

TEST_F(AutoreleasePool, NullIsReturnedSilently) {
  MyCFAutoreleasePool *pool = MyCFAutoreleasePoolCreate();
  ASSERT_NE(pool, nullptr);
  StdoutCapture out;
  EXPECT_EQ(MyCFAutorelease(nullptr), nullptr);
  MyCFAutoreleasePoolDispose(nullptr);
  EXPECT_EQ(out.Take(), "");
  MyCFAutoreleasePoolDispose(pool);
}

TEST_F(AutoreleasePool, WithoutAPoolTheObjectStaysWithItsCaller) {
  CFTypeRef obj = NewObject();
  ASSERT_NE(obj, nullptr);
  StdoutCapture out;
  EXPECT_EQ(MyCFAutorelease(obj), obj);
  EXPECT_EQ(out.Take(), kNoPool);
  EXPECT_EQ(CFGetRetainCount(obj), 1);
  CFRelease(obj);
}

TEST_F(AutoreleasePool, ObjectLivesUntilItsOwnPoolIsDisposed) {
  CFTypeRef outerObj = NewObject(), innerObj = NewObject();
  ASSERT_TRUE(outerObj && innerObj);
  MyCFAutoreleasePool *outer = MyCFAutoreleasePoolCreate();
  ASSERT_NE(outer, nullptr);
  // The test keeps one reference of its own to watch the pool's.
  EXPECT_EQ(MyCFAutorelease(CFRetain(outerObj)), outerObj);
  MyCFAutoreleasePool *inner = MyCFAutoreleasePoolCreate();
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(MyCFAutorelease(CFRetain(innerObj)), innerObj);
  EXPECT_EQ(CFGetRetainCount(outerObj), 2);
  EXPECT_EQ(CFGetRetainCount(innerObj), 2);

  MyCFAutoreleasePoolDispose(inner);
  EXPECT_EQ(CFGetRetainCount(innerObj), 1);
  EXPECT_EQ(CFGetRetainCount(outerObj), 2);
  MyCFAutoreleasePoolDispose(outer);
  EXPECT_EQ(CFGetRetainCount(outerObj), 1);
  CFRelease(outerObj);
  CFRelease(innerObj);
}

TEST_F(AutoreleasePool, ObjectHandedOverTwiceIsReleasedTwice) {
  CFTypeRef obj = NewObject();
  ASSERT_NE(obj, nullptr);
  MyCFAutoreleasePool *pool = MyCFAutoreleasePoolCreate();
  ASSERT_NE(pool, nullptr);
  MyCFAutorelease(CFRetain(obj));
  MyCFAutorelease(CFRetain(obj));
  EXPECT_EQ(CFGetRetainCount(obj), 3);
  MyCFAutoreleasePoolDispose(pool);
  EXPECT_EQ(CFGetRetainCount(obj), 1);
  CFRelease(obj);
}

TEST_F(AutoreleasePool, OutOfOrderDisposeChangesNothing) {
  CFTypeRef obj = NewObject(), later = NewObject();
  ASSERT_TRUE(obj && later);
  MyCFAutoreleasePool *outer = MyCFAutoreleasePoolCreate();
  MyCFAutoreleasePool *inner = MyCFAutoreleasePoolCreate();
  ASSERT_TRUE(outer && inner);
  MyCFAutorelease(CFRetain(obj)); // into inner

  StdoutCapture out;
  MyCFAutoreleasePoolDispose(outer);
  EXPECT_EQ(out.Take(), kIllegal);
  EXPECT_NE(outer->array, nullptr) << "the outer record must stay allocated and intact";
  EXPECT_EQ(CFGetRetainCount(obj), 2);

  MyCFAutoreleasePoolDispose(inner);
  EXPECT_EQ(CFGetRetainCount(obj), 1);
  // The outer pool is current again and takes what comes next.
  MyCFAutorelease(CFRetain(later));
  EXPECT_EQ(CFGetRetainCount(later), 2);
  MyCFAutoreleasePoolDispose(outer);
  EXPECT_EQ(CFGetRetainCount(later), 1);
  CFRelease(obj);
  CFRelease(later);
}

// Records that are not the pool on top: each row is one way a caller can
// get the order wrong, with the exact lines it must print.
TEST_F(AutoreleasePool, IllegalDisposeLines) {
  struct Case {
    const char *name;
    bool poolOnStack; // another pool is current during the call
    bool withArray;   // the record names an array
    std::string lines;
  } cases[] = {
      {"record without array, empty stack", false, false, kNoPool + kIllegal},
      {"record without array, a pool on top", true, false, kIllegal},
      {"foreign array, empty stack", false, true, kNoPool + kIllegal},
      {"foreign array, a pool on top", true, true, kIllegal},
  };
  for (const Case &c : cases) {
    MyCFAutoreleasePool *top = c.poolOnStack ? MyCFAutoreleasePoolCreate() : nullptr;
    CFMutableArrayRef foreign = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    ASSERT_NE(foreign, nullptr);
    MyCFAutoreleasePool record = {c.withArray ? foreign : nullptr};
    StdoutCapture out;
    MyCFAutoreleasePoolDispose(&record);
    EXPECT_EQ(out.Take(), c.lines) << c.name;
    EXPECT_EQ(CFGetRetainCount(foreign), 1) << c.name;
    CFRelease(foreign);
    if (top) {
      StdoutCapture quiet;
      MyCFAutoreleasePoolDispose(top);
      EXPECT_EQ(quiet.Take(), "") << c.name << ": the real pool must still be on top";
    }
  }
}

// Under every allocation failure a pool either is not made or works, and an
// object that the pool could not take is not left behind alive.
TEST_F(AutoreleasePool, AllocationSweep) {
  vantlow_test::SweepAllocationFailures(
      [](long n) {
        MyCFAutoreleasePool *pool = nullptr;
        CFTypeRef obj = nullptr, kept = nullptr;
        {
          StdoutCapture quiet; // "no pool" when the pool was not made
          pool = MyCFAutoreleasePoolCreate();
          obj = NewObject();
          kept = MyCFAutorelease(obj);
        }
        if (pool) {
          EXPECT_TRUE(kept == obj || kept == nullptr) << n;
          MyCFAutoreleasePoolDispose(pool);
        } else if (kept) {
          CFRelease(kept); // no pool: still the caller's
        }
      },
      false);
}

// Until the stack can be made, every use reports it again. The stack is made
// once per process, so this runs in a process of its own.
TEST(AutoreleasePoolStack, CannotBeMadeIsReportedOnEveryUse) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const std::string line = "Vantlow: MyCFAutoreleasePool GetPools() cannot alloc data\n\n";
        std::string seen;
        bool ok = true;
        {
          StdoutCapture out;
          VPFaultArm(1, true);
          ok &= MyCFAutoreleasePoolCreate() == nullptr;
          ok &= MyCFAutoreleasePoolCreate() == nullptr;
          VPFaultDisarm();
          seen = out.Take();
        }
        ok &= seen == line + line;
        MyCFAutoreleasePool *pool = MyCFAutoreleasePoolCreate(); // now it can be made
        ok &= pool != nullptr;
        MyCFAutoreleasePoolDispose(pool);
        fprintf(stderr, "%s", seen.c_str());
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "GetPools\\(\\) cannot alloc data");
}

} // namespace
