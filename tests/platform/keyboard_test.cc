// GetKeys: the KeyMap byte layout, the cancel latch shown as Escape, and the
// latch set the way hosts set it (from a signal handler).
#include <Carbon/Keyboard.h>
#include <gtest/gtest.h>
#include <vantlow/toolbox_testing.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr unsigned kEscape = 53;

// The keys GetKeys reports as held, in code order.
std::vector<unsigned> HeldKeys() {
  KeyMap map;
  std::memset(map, 0xA5, sizeof map); // every byte must be written
  GetKeys(map);
  const UInt8 *bytes = reinterpret_cast<const UInt8 *>(map);
  std::vector<unsigned> held;
  for (unsigned k = 0; k < 128; ++k)
    if (bytes[k / 8] & (1u << (k % 8))) held.push_back(k);
  return held;
}

class KeyboardTest : public ::testing::Test {
protected:
  void SetUp() override {
    VPCancelLatchClear();
    VPTestSetKeyMap(nullptr);
  }
  void TearDown() override { SetUp(); }
};

struct LayoutCase {
  const char *name;
  unsigned key;
  unsigned byte;
  UInt8 mask;
};

class KeyMapLayoutTest : public KeyboardTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(KeyMapLayoutTest, KeyIsOneBitOfItsByte) {
  const LayoutCase &c = GetParam();
  VPTestSetKeyDown(static_cast<UInt16>(c.key), TRUE);
  KeyMapByteArray expected = {};
  expected[c.byte] = c.mask;
  KeyMap map;
  std::memset(map, 0xFF, sizeof map);
  GetKeys(map);
  EXPECT_EQ(0, std::memcmp(map, expected, sizeof expected));
}

const LayoutCase kLayoutCases[] = {
    {"Escape", 53, 6, 0x20},  {"Command", 55, 6, 0x80},   {"Period", 47, 5, 0x80},
    {"FirstKey", 0, 0, 0x01}, {"LastKey", 127, 15, 0x80},
};

INSTANTIATE_TEST_SUITE_P(Keys, KeyMapLayoutTest, ::testing::ValuesIn(kLayoutCases),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(KeyboardTest, NothingHeldFillsEveryByteWithZero) {
  EXPECT_TRUE(HeldKeys().empty());
}

TEST_F(KeyboardTest, LatchShowsEscapeUntilCleared) {
  VPCancelLatchSet();
  EXPECT_TRUE(VPCancelLatchIsSet());
  EXPECT_EQ(HeldKeys(), std::vector<unsigned>{kEscape});
  VPCancelLatchClear();
  EXPECT_FALSE(VPCancelLatchIsSet());
  EXPECT_TRUE(HeldKeys().empty());
}

TEST_F(KeyboardTest, LatchAddsToTheKeysATestHolds) {
  VPTestSetKeyDown(55, TRUE);
  VPTestSetKeyDown(47, TRUE);
  VPCancelLatchSet();
  EXPECT_EQ(HeldKeys(), (std::vector<unsigned>{47, kEscape, 55}));
  // Clearing the latch releases Escape only; a key the test holds stays.
  VPTestSetKeyDown(kEscape, TRUE);
  VPCancelLatchClear();
  EXPECT_EQ(HeldKeys(), (std::vector<unsigned>{47, kEscape, 55}));
}

TEST_F(KeyboardTest, KeyMapIsReplacedReleasedAndOutOfRangeCodesIgnored) {
  KeyMapByteArray keys = {};
  keys[0] = 0x01;  // key 0
  keys[15] = 0x80; // key 127
  VPTestSetKeyMap(keys);
  VPTestSetKeyDown(128, TRUE);
  VPTestSetKeyDown(0xFFFF, TRUE);
  EXPECT_EQ(HeldKeys(), (std::vector<unsigned>{0, 127}));
  VPTestSetKeyDown(0, FALSE);
  EXPECT_EQ(HeldKeys(), std::vector<unsigned>{127});
  VPTestSetKeyMap(nullptr);
  EXPECT_TRUE(HeldKeys().empty());
}

extern "C" void SetLatchOnSignal(int) {
  VPCancelLatchSet();
}

TEST_F(KeyboardTest, SignalHandlerCanSetTheLatch) {
  struct sigaction action = {};
  struct sigaction previous = {};
  action.sa_handler = SetLatchOnSignal;
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(0, sigaction(SIGUSR1, &action, &previous));
  std::raise(SIGUSR1);
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ(HeldKeys(), std::vector<unsigned>{kEscape});
}

TEST_F(KeyboardTest, NullKeyMapIsIgnored) {
  VPCancelLatchSet();
  GetKeys(nullptr);
  EXPECT_TRUE(VPCancelLatchIsSet());
}

} // namespace
