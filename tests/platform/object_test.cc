// Reference counting and the allocation seam.
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include "test_support.h"

TEST(AllocationSeam, FailsTheArmedAllocationOnceOrFromThenOn) {
  struct Case {
    const char *name;
    bool repeat;
    bool expected[4];
  } cases[] = {{"once", false, {true, false, true, true}}, {"repeat", true, {true, false, false, false}}};
  for (const Case &c : cases) {
    VPFaultArm(2, c.repeat);
    for (bool want : c.expected) EXPECT_EQ(!VPFaultAllocStep(), want) << c.name;
    VPFaultDisarm();
  }
}

TEST(AllocationSeam, WrappedMallocFollowsTheInjector) {
  VPFaultArm(1, false);
  void *p = malloc(8);
  VPFaultDisarm();
  EXPECT_EQ(p, nullptr);
  p = malloc(8);
  EXPECT_NE(p, nullptr);
  free(p);
}

TEST(SyscallTable, UnknownEntryIsRefused) {
  EXPECT_FALSE(VPSyscallFail("no-such-call", 1, 5, false, nullptr));
  EXPECT_TRUE(VPSyscallFail("openat", 1, 5, false, nullptr));
  VPSyscallReset();
}
