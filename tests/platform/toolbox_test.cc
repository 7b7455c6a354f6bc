// TickCount, SysBeep, Gestalt and handles.
#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/carbon_testing.h>
#include <vantlow/platform_testing.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "test_support.h"

namespace {

UInt32 gFakeTicks = 0;
UInt32 FakeTicks() {
  return gFakeTicks;
}

class TickCountTest : public ::testing::Test {
protected:
  void TearDown() override { VPTickCountSetSource(nullptr); }
};

TEST_F(TickCountTest, ATestClockReplacesTheMonotonicOneAndDifferencesSurviveTheWrap) {
  VPTickCountSetSource(FakeTicks);
  gFakeTicks = 0xFFFFFFF0u;
  const UInt32 start = TickCount();
  EXPECT_EQ(start, 0xFFFFFFF0u);
  gFakeTicks = 0x10u; // wrapped
  EXPECT_EQ(static_cast<UInt32>(TickCount() - start), 0x20u);
}

TEST_F(TickCountTest, TheRealClockCountsSixtiethsOfASecond) {
  const UInt32 before = TickCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  const UInt32 elapsed = TickCount() - before;
  // 15 ticks expected; the bounds only tell a tick from a millisecond or a second.
  EXPECT_GE(elapsed, 14u);
  EXPECT_LT(elapsed, 250u);
}

struct GestaltCase {
  const char *name;
  OSType selector;
  SInt32 version; // the override, 0 for none
  OSErr overrideResult;
  OSErr err;
  SInt32 response; // expected; -7 means untouched
};

class GestaltTest : public ::testing::TestWithParam<GestaltCase> {
protected:
  void TearDown() override { VPGestaltReset(); }
};

TEST_P(GestaltTest, AnswersTheSystemVersionOrAnError) {
  const GestaltCase &c = GetParam();
  if (c.version || c.overrideResult) VPGestaltSetSystemVersion(c.version, c.overrideResult);
  SInt32 response = -7;
  EXPECT_EQ(Gestalt(c.selector, &response), c.err);
  EXPECT_EQ(response, c.response);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GestaltTest,
    ::testing::ValuesIn(std::vector<GestaltCase>{
        {"built_in_version_reads_as_10_4", gestaltSystemVersion, 0, noErr, noErr, 0x1040},
        {"older_system_for_itxt", gestaltSystemVersion, 0x101F, noErr, noErr, 0x101F},
        {"failing_query", gestaltSystemVersion, 0x1040, paramErr, paramErr, -7},
        {"unknown_selector", 0x71717171, 0, noErr, gestaltUndefSelectorErr, -7},
    }),
    [](const auto &row) { return std::string(row.param.name); });

TEST(Gestalt, NullResponseIsParamErr) {
  EXPECT_EQ(Gestalt(gestaltSystemVersion, nullptr), paramErr);
}

int gHostBeeps = 0;
void HostBeep() {
  ++gHostBeeps;
}

class SysBeepTest : public ::testing::Test {
protected:
  void TearDown() override {
    VPSysBeepSetHandler(nullptr);
    VPSyscallReset();
  }
};

TEST_F(SysBeepTest, TheHostsHandlerTakesTheBeepAndEveryBeepIsCounted) {
  VPSysBeepSetHandler(HostBeep);
  const long before = VPSysBeepCount();
  gHostBeeps = 0;
  SysBeep(0);
  SysBeep(30);
  EXPECT_EQ(gHostBeeps, 2);
  EXPECT_EQ(VPSysBeepCount() - before, 2);
}

TEST_F(SysBeepTest, WithoutAControllingTerminalNothingIsWritten) {
  VPSyscallReset();
  ASSERT_TRUE(VPSyscallFail("openat", 1, ENXIO, true, nullptr)); // what open("/dev/tty") gives
  const long before = VPSysBeepCount();
  SysBeep(0);
  EXPECT_EQ(VPSysBeepCount() - before, 1);
  EXPECT_EQ(VPSyscallCount("openat"), 1);
  EXPECT_EQ(VPSyscallCount("write"), 0);
}

// A child process in a session of its own whose controlling terminal is a
// pseudo-terminal this test reads: the bell must arrive there.
TEST_F(SysBeepTest, RingsTheBellOfTheControllingTerminal) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const char *slaveName = ptsname(master);
  ASSERT_NE(slaveName, nullptr);
  std::string slave = slaveName;

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (setsid() < 0) _exit(2);
    int fd = open(slave.c_str(), O_RDWR); // the first terminal a session leader opens is its own
    if (fd < 0) _exit(3);
    SysBeep(0);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);

  pollfd p = {master, POLLIN, 0};
  ASSERT_EQ(poll(&p, 1, 2000), 1) << "nothing reached the terminal";
  char buf[8] = {};
  ssize_t n = read(master, buf, sizeof buf);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(buf[0], '\a');
  close(master);
}

TEST(Handles, HoldTheirSizeIncludingZeroAndRefuseNegativeSizes) {
  const long blocks = VPLiveAllocationCount();
  for (Size size : {0, 1, 80, 4096}) {
    Handle h = NewHandle(size);
    ASSERT_NE(h, nullptr) << size;
    ASSERT_NE(*h, nullptr) << size;
    EXPECT_EQ(GetHandleSize(h), size);
    std::memset(*h, 0x5A, static_cast<size_t>(size)); // the whole block is writable
    DisposeHandle(h);
  }
  EXPECT_EQ(NewHandle(-1), nullptr);
  EXPECT_EQ(GetHandleSize(nullptr), 0);
  DisposeHandle(nullptr);
  EXPECT_EQ(VPLiveAllocationCount(), blocks);
}

TEST(Handles, AFailedAllocationGivesNull) {
  vantlow_test::SweepAllocationFailures(
      [](long n) {
        Handle h = NewHandle(16);
        if (n == 1) {
          EXPECT_EQ(h, nullptr);
        }
        if (h) {
          EXPECT_EQ(GetHandleSize(h), 16);
          DisposeHandle(h);
        }
      },
      false);
}

} // namespace
