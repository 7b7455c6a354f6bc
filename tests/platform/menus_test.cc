// The Menu Manager: items appended, inserted and deleted in place, their
// text, command IDs and attributes, submenus held by their items, and clean
// failure for bad indexes and under allocation faults.
#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

std::string Utf8(CFStringRef s) {
  char buf[256];
  if (!s || !CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingUTF8)) return "<none>";
  return buf;
}

// The texts of a menu's items, in order.
std::vector<std::string> Texts(MenuRef menu) {
  std::vector<std::string> out;
  for (MenuItemIndex i = 1; i <= CountMenuItems(menu); ++i) {
    CFStringRef text = nullptr;
    EXPECT_EQ(CopyMenuItemTextAsCFString(menu, i, &text), noErr);
    out.push_back(Utf8(text));
    if (text) CFRelease(text);
  }
  return out;
}

// A fresh menu holding "a", "b", "c" (commands 1, 2, 3), disposed at the end
// with a check that nothing stays allocated.
class MenusTest : public ::testing::Test {
protected:
  void SetUp() override {
    blocks_ = VPLiveAllocationCount();
    objects_ = VPLiveObjectCount();
    ASSERT_EQ(CreateNewMenu(128, 0, &menu_), noErr);
    const char *texts[] = {"a", "b", "c"};
    for (UInt32 i = 0; i < 3; ++i) {
      MenuItemIndex index = 0;
      CFStringRef text = CFStringCreateWithCString(nullptr, texts[i], kCFStringEncodingUTF8);
      ASSERT_EQ(AppendMenuItemTextWithCFString(menu_, text, 0, i + 1, &index), noErr);
      CFRelease(text);
      EXPECT_EQ(index, i + 1);
    }
  }
  void TearDown() override {
    if (menu_) {
      EXPECT_EQ(ReleaseMenu(menu_), noErr);
    }
    EXPECT_EQ(VPLiveAllocationCount(), blocks_) << "menu storage leaked";
    EXPECT_EQ(VPLiveObjectCount(), objects_) << "strings leaked";
  }

  MenuRef menu_ = nullptr;

private:
  long blocks_ = 0;
  long objects_ = 0;
};

struct InsertCase {
  const char *name;
  MenuItemIndex after;
  std::vector<std::string> texts;
};

class MenuInsertTest : public MenusTest, public ::testing::WithParamInterface<InsertCase> {};

TEST_P(MenuInsertTest, InsertsAfterTheGivenItem) {
  const InsertCase &c = GetParam();
  ASSERT_EQ(InsertMenuItemTextWithCFString(menu_, CFSTR("new"), c.after, kMenuItemAttrDisabled, 9),
            noErr);
  EXPECT_EQ(Texts(menu_), c.texts);
  for (MenuItemIndex i = 1; i <= CountMenuItems(menu_); ++i) {
    MenuCommand command = 0;
    ASSERT_EQ(GetMenuItemCommandID(menu_, i, &command), noErr);
    if (c.texts[i - 1] == "new") {
      EXPECT_EQ(command, 9u);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, MenuInsertTest,
                         ::testing::ValuesIn(std::vector<InsertCase>{
                             {"first", 0, {"new", "a", "b", "c"}},
                             {"middle", 2, {"a", "b", "new", "c"}},
                             {"after_last", 3, {"a", "b", "c", "new"}},
                             {"past_the_end", 99, {"a", "b", "c", "new"}},
                         }),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(MenusTest, DeleteRemovesOneItemAndLaterItemsMoveUp) {
  ASSERT_EQ(DeleteMenuItem(menu_, 2), noErr);
  EXPECT_EQ(Texts(menu_), (std::vector<std::string>{"a", "c"}));
  MenuCommand command = 0;
  EXPECT_EQ(GetMenuItemCommandID(menu_, 2, &command), noErr);
  EXPECT_EQ(command, 3u);
  ASSERT_EQ(DeleteMenuItem(menu_, CountMenuItems(menu_)), noErr); // the last, as the frame does
  EXPECT_EQ(Texts(menu_), std::vector<std::string>{"a"});
}

TEST_F(MenusTest, IndexesOutsideTheMenuAreRefusedAndChangeNothing) {
  for (MenuItemIndex bad : {MenuItemIndex{0}, MenuItemIndex{4}, MenuItemIndex{0xFFFF}}) {
    CFStringRef text = reinterpret_cast<CFStringRef>(1);
    MenuCommand command = 7;
    MenuItemAttributes attributes = 7;
    MenuRef sub = reinterpret_cast<MenuRef>(1);
    EXPECT_EQ(DeleteMenuItem(menu_, bad), menuItemNotFoundErr) << bad;
    EXPECT_EQ(CopyMenuItemTextAsCFString(menu_, bad, &text), menuItemNotFoundErr) << bad;
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(SetMenuItemTextWithCFString(menu_, bad, CFSTR("x")), menuItemNotFoundErr) << bad;
    EXPECT_EQ(GetMenuItemCommandID(menu_, bad, &command), menuItemNotFoundErr) << bad;
    EXPECT_EQ(SetMenuItemCommandID(menu_, bad, 1), menuItemNotFoundErr) << bad;
    EXPECT_EQ(GetMenuItemAttributes(menu_, bad, &attributes), menuItemNotFoundErr) << bad;
    EXPECT_EQ(ChangeMenuItemAttributes(menu_, bad, 1, 0), menuItemNotFoundErr) << bad;
    EXPECT_EQ(SetMenuItemHierarchicalMenu(menu_, bad, nullptr), menuItemNotFoundErr) << bad;
    EXPECT_EQ(GetMenuItemHierarchicalMenu(menu_, bad, &sub), menuItemNotFoundErr) << bad;
    EXPECT_EQ(sub, nullptr);
    EXPECT_EQ(command, 7u);
    EXPECT_EQ(attributes, 7u);
  }
  EXPECT_EQ(Texts(menu_), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(MenusTest, NullArgumentsAreParamErr) {
  CFStringRef text = nullptr;
  MenuRef menu = nullptr;
  EXPECT_EQ(CreateNewMenu(1, 0, nullptr), paramErr);
  EXPECT_EQ(AppendMenuItemTextWithCFString(nullptr, CFSTR("x"), 0, 0, nullptr), paramErr);
  EXPECT_EQ(AppendMenuItemTextWithCFString(menu_, nullptr, 0, 0, nullptr), paramErr);
  EXPECT_EQ(InsertMenuItemTextWithCFString(menu_, nullptr, 0, 0, 0), paramErr);
  EXPECT_EQ(SetMenuItemTextWithCFString(menu_, 1, nullptr), paramErr);
  EXPECT_EQ(CopyMenuItemTextAsCFString(nullptr, 1, &text), paramErr);
  EXPECT_EQ(CopyMenuItemTextAsCFString(menu_, 1, nullptr), paramErr);
  EXPECT_EQ(GetMenuItemHierarchicalMenu(menu_, 1, nullptr), paramErr);
  EXPECT_EQ(DeleteMenuItem(nullptr, 1), paramErr);
  EXPECT_EQ(RetainMenu(nullptr), paramErr);
  EXPECT_EQ(ReleaseMenu(nullptr), paramErr);
  EXPECT_EQ(CountMenuItems(nullptr), 0);
  DisposeMenu(nullptr);
  (void)menu;
  EXPECT_EQ(CountMenuItems(menu_), 3);
}

TEST_F(MenusTest, TextIsCopiedInAndOut) {
  CFMutableStringRef source = CFStringCreateMutable(nullptr, 0);
  CFStringAppendCString(source, "Copy All Sizes", kCFStringEncodingUTF8);
  ASSERT_EQ(SetMenuItemTextWithCFString(menu_, 2, source), noErr);
  CFStringAppendCString(source, " (changed)", kCFStringEncodingUTF8);
  CFRelease(source);
  EXPECT_EQ(Texts(menu_), (std::vector<std::string>{"a", "Copy All Sizes", "c"}));

  CFStringRef first = nullptr, second = nullptr;
  ASSERT_EQ(CopyMenuItemTextAsCFString(menu_, 1, &first), noErr);
  ASSERT_EQ(CopyMenuItemTextAsCFString(menu_, 1, &second), noErr);
  EXPECT_TRUE(CFEqual(first, second));
  EXPECT_EQ(CFGetRetainCount(first), 1) << "the caller owns each copy";
  CFRelease(first);
  CFRelease(second);
}

TEST_F(MenusTest, AttributesAreSetAndCleared) {
  struct Case {
    const char *name;
    MenuItemAttributes set, clear, expected;
  } cases[] = {{"separator", kMenuItemAttrSeparator, 0, 64},
               {"plus_header", kMenuItemAttrSectionHeader, 0, 64 | 128},
               {"clear_separator", 0, kMenuItemAttrSeparator, 128},
               {"clear_wins", kMenuItemAttrDisabled, kMenuItemAttrDisabled, 128}};
  for (const Case &c : cases) {
    ASSERT_EQ(ChangeMenuItemAttributes(menu_, 1, c.set, c.clear), noErr) << c.name;
    MenuItemAttributes got = 0;
    ASSERT_EQ(GetMenuItemAttributes(menu_, 1, &got), noErr) << c.name;
    EXPECT_EQ(got, c.expected) << c.name;
  }
  MenuItemIndex index = 0;
  ASSERT_EQ(AppendMenuItemTextWithCFString(menu_, CFSTR("-"), kMenuItemAttrSeparator, 0, &index),
            noErr);
  MenuItemAttributes got = 0;
  EXPECT_EQ(GetMenuItemAttributes(menu_, index, &got), noErr);
  EXPECT_EQ(got, 64u);
}

TEST_F(MenusTest, AnItemHoldsItsSubmenuUntilItLetsGo) {
  MenuRef sub = nullptr, other = nullptr;
  ASSERT_EQ(CreateNewMenu(2, 0, &sub), noErr);
  ASSERT_EQ(CreateNewMenu(3, 0, &other), noErr);
  ASSERT_EQ(AppendMenuItemTextWithCFString(sub, CFSTR("3 files"), 0, 2000, nullptr), noErr);

  ASSERT_EQ(SetMenuItemHierarchicalMenu(menu_, 1, sub), noErr);
  EXPECT_EQ(GetMenuRetainCount(sub), 2u);
  ReleaseMenu(sub); // the item's reference keeps it
  MenuRef got = nullptr;
  ASSERT_EQ(GetMenuItemHierarchicalMenu(menu_, 1, &got), noErr);
  EXPECT_EQ(got, sub);
  EXPECT_EQ(Texts(got), std::vector<std::string>{"3 files"});

  ASSERT_EQ(SetMenuItemHierarchicalMenu(menu_, 2, other), noErr);
  EXPECT_EQ(GetMenuRetainCount(other), 2u);
  ASSERT_EQ(SetMenuItemHierarchicalMenu(menu_, 2, nullptr), noErr); // detach
  EXPECT_EQ(GetMenuRetainCount(other), 1u);
  ASSERT_EQ(SetMenuItemHierarchicalMenu(menu_, 2, other), noErr);
  ASSERT_EQ(DeleteMenuItem(menu_, 2), noErr); // the deleted item lets go
  EXPECT_EQ(GetMenuRetainCount(other), 1u);
  ReleaseMenu(other);
  // sub goes with menu_ in TearDown; the leak check there proves it.
}

TEST_F(MenusTest, AMenuCannotBecomeItsOwnSubmenu) {
  MenuRef child = nullptr, grandchild = nullptr;
  ASSERT_EQ(CreateNewMenu(2, 0, &child), noErr);
  ASSERT_EQ(CreateNewMenu(3, 0, &grandchild), noErr);
  ASSERT_EQ(AppendMenuItemTextWithCFString(child, CFSTR("x"), 0, 0, nullptr), noErr);
  ASSERT_EQ(SetMenuItemHierarchicalMenu(menu_, 1, child), noErr);
  ASSERT_EQ(SetMenuItemHierarchicalMenu(child, 1, grandchild), noErr);

  EXPECT_EQ(SetMenuItemHierarchicalMenu(menu_, 2, menu_), paramErr);
  EXPECT_EQ(SetMenuItemHierarchicalMenu(child, 1, menu_), paramErr);
  AppendMenuItemTextWithCFString(grandchild, CFSTR("y"), 0, 0, nullptr);
  EXPECT_EQ(SetMenuItemHierarchicalMenu(grandchild, 1, menu_), paramErr);
  MenuRef got = nullptr;
  EXPECT_EQ(GetMenuItemHierarchicalMenu(child, 1, &got), noErr);
  EXPECT_EQ(got, grandchild) << "a refused change keeps the old submenu";
  ReleaseMenu(child);
  ReleaseMenu(grandchild);
}

TEST_F(MenusTest, CommandIDsAreReadAndChanged) {
  ASSERT_EQ(SetMenuItemCommandID(menu_, 3, 2010), noErr);
  MenuCommand command = 0;
  EXPECT_EQ(GetMenuItemCommandID(menu_, 3, &command), noErr);
  EXPECT_EQ(command, 2010u);
  EXPECT_EQ(GetMenuID(menu_), 128);
}

// The host's and the populate handler's work with every allocation failing
// in turn: each call succeeds or answers memFullErr with the menu unchanged.
TEST(MenusSweep, BuildingAndChangingAMenuFailsCleanlyAtEveryAllocation) {
  CFStringRef line = CFStringCreateWithCString(nullptr, "12 KB", kCFStringEncodingUTF8);
  vantlow_test::SweepAllocationFailures(
      [&](long) {
        MenuRef menu = nullptr, sub = nullptr;
        OSStatus err = CreateNewMenu(1, 0, &menu);
        if (err != noErr) {
          EXPECT_EQ(menu, nullptr);
        }
        if (err == noErr) err = CreateNewMenu(2, 0, &sub);
        if (err == noErr) err = AppendMenuItemTextWithCFString(menu, line, 0, 1, nullptr);
        if (err == noErr) {
          err = AppendMenuItemTextWithCFString(sub, CFSTR("Dummy"), 0, 2000, nullptr);
          if (err != noErr) {
            EXPECT_EQ(CountMenuItems(sub), 0);
          }
        }
        if (err == noErr) err = SetMenuItemHierarchicalMenu(menu, 1, sub);
        if (err == noErr) {
          err = SetMenuItemTextWithCFString(sub, 1, line);
          if (err != noErr) {
            EXPECT_EQ(Texts(sub), std::vector<std::string>{"Dummy"});
          }
        }
        if (err == noErr) {
          err = InsertMenuItemTextWithCFString(sub, CFSTR("-"), 0, kMenuItemAttrSeparator, 0);
          if (err != noErr) {
            EXPECT_EQ(CountMenuItems(sub), 1);
          }
        }
        if (err == noErr) {
          CFStringRef text = nullptr;
          err = CopyMenuItemTextAsCFString(sub, 2, &text);
          if (err != noErr) {
            EXPECT_EQ(text, nullptr);
          }
          if (text) CFRelease(text);
        }
        EXPECT_TRUE(err == noErr || err == memFullErr) << err;
        if (sub) ReleaseMenu(sub);
        if (menu) ReleaseMenu(menu);
      },
      false);
  CFRelease(line);
}

} // namespace
