// The host's key-state provider: GetKeys asks it, a held cancel key is
// latched (it stays reported after the key is let go, until the host clears
// the latch), and removing the provider stops the asking.
#include <Carbon/Keyboard.h>
#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr unsigned kEscape = 53;

bool gEscapeDown = false;
int gAsked = 0;

Boolean FakeKeyboard() {
  ++gAsked;
  return gEscapeDown ? TRUE : FALSE;
}

bool EscapeReported() {
  KeyMap map;
  GetKeys(map);
  const UInt8 *bytes = reinterpret_cast<const UInt8 *>(map);
  return (bytes[kEscape / 8] & (1u << (kEscape % 8))) != 0;
}

class KeyStateProviderTest : public ::testing::Test {
protected:
  void SetUp() override {
    VPCancelLatchClear();
    gEscapeDown = false;
    gAsked = 0;
    VPKeyStateSetProvider(&FakeKeyboard);
  }
  void TearDown() override {
    VPKeyStateSetProvider(nullptr);
    VPCancelLatchClear();
  }
};

TEST_F(KeyStateProviderTest, KeyUpReportsNothing) {
  EXPECT_FALSE(EscapeReported());
  EXPECT_EQ(1, gAsked);
  EXPECT_FALSE(VPCancelLatchIsSet());
}

TEST_F(KeyStateProviderTest, HeldKeyIsLatchedUntilTheHostClears) {
  gEscapeDown = true;
  EXPECT_TRUE(EscapeReported());
  gEscapeDown = false; // let go between two polls
  EXPECT_TRUE(EscapeReported());
  EXPECT_TRUE(VPCancelLatchIsSet());
  VPCancelLatchClear();
  EXPECT_FALSE(EscapeReported());
}

TEST_F(KeyStateProviderTest, RemovedProviderIsNotAsked) {
  VPKeyStateSetProvider(nullptr);
  gEscapeDown = true;
  EXPECT_FALSE(EscapeReported());
  EXPECT_EQ(0, gAsked);
}

} // namespace
