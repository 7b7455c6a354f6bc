// Reference counting and the allocation seam.
#include <cstring>
#include <malloc.h>
#include <string>
#include <thread>
#include <vector>

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

namespace {

// Bytes that differ with the length and the position, so a block shared by
// two objects or cut short shows in the contents.
std::vector<UInt8> Pattern(size_t length, UInt8 salt) {
  std::vector<UInt8> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<UInt8>(i * 7 + length + salt);
  return bytes;
}

// Whether the object holds exactly these bytes, inside its own block: a
// handle is the address of the block the object was made in, and its bytes
// follow it in that block (empty data has no bytes of its own).
bool Holds(CFDataRef data, const std::vector<UInt8> &bytes) {
  if (!data || static_cast<size_t>(CFDataGetLength(data)) != bytes.size()) return false;
  if (bytes.empty()) return true;
  const UInt8 *block = static_cast<const UInt8 *>(static_cast<const void *>(data));
  const UInt8 *end = CFDataGetBytePtr(data) + bytes.size();
  if (end > block + malloc_usable_size(const_cast<UInt8 *>(block))) return false;
  return memcmp(CFDataGetBytePtr(data), bytes.data(), bytes.size()) == 0;
}

// Makes objects of every small size, frees every other one, makes the freed
// sizes again in the opposite order (so recycled blocks meet other sizes),
// and checks every object still holds its own bytes.
void ChurnSmallBlocks(UInt8 salt, std::string *failure) {
  constexpr size_t kSizes = 300;
  std::vector<CFDataRef> objects(kSizes);
  for (size_t n = 0; n < kSizes; ++n) {
    const std::vector<UInt8> bytes = Pattern(n, salt);
    objects[n] = CFDataCreate(nullptr, bytes.data(), static_cast<CFIndex>(n));
  }
  for (size_t n = 0; n < kSizes; n += 2) CFRelease(objects[n]);
  for (size_t n = kSizes; n-- > 0;) {
    if (n % 2) continue;
    const std::vector<UInt8> bytes = Pattern(n, static_cast<UInt8>(salt + 1));
    objects[n] = CFDataCreate(nullptr, bytes.data(), static_cast<CFIndex>(n));
  }
  for (size_t n = 0; n < kSizes; ++n) {
    const UInt8 used = n % 2 ? salt : static_cast<UInt8>(salt + 1);
    if (!Holds(objects[n], Pattern(n, used)) && failure->empty())
      *failure = "object of " + std::to_string(n) + " bytes overruns its block or lost its bytes";
    if (objects[n]) CFRelease(objects[n]);
  }
}

} // namespace

TEST(AllocationSeam, RecycledBlocksFitEveryRequestOnEveryThread) {
  const long liveBefore = VPLiveAllocationCount();
  std::string failure;
  for (int round = 0; round < 3; ++round) ChurnSmallBlocks(static_cast<UInt8>(round), &failure);
  EXPECT_EQ(failure, "");
  // Threads keep blocks of their own and give them back when they end;
  // blocks freed on another thread than the one that made them are fine.
  std::vector<std::string> failures(4);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < failures.size(); ++t)
    threads.emplace_back([t, &failures] {
      for (int round = 0; round < 3; ++round)
        ChurnSmallBlocks(static_cast<UInt8>(t * 16 + round), &failures[t]);
    });
  for (std::thread &thread : threads) thread.join();
  for (const std::string &f : failures) EXPECT_EQ(f, "");
  EXPECT_EQ(VPLiveAllocationCount(), liveBefore);
}

TEST(ReferenceCounts, StayRightWhenThreadsShareAnObject) {
  const long objectsBefore = VPLiveObjectCount();
  const UInt8 byte = 1;
  CFDataRef shared = CFDataCreate(nullptr, &byte, 1);
  ASSERT_NE(shared, nullptr);
  CFRetain(shared); // held by the threads while they run
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([shared] {
      for (int i = 0; i < 100000; ++i) {
        CFRetain(shared);
        CFRelease(shared);
      }
    });
  for (std::thread &thread : threads) thread.join();
  EXPECT_EQ(CFGetRetainCount(shared), 2);
  CFRelease(shared);
  CFRelease(shared);
  EXPECT_EQ(VPLiveObjectCount(), objectsBefore);
}
