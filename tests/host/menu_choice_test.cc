// Which item --choose names: keywords, command IDs and texts against a menu
// of two plug-ins, items that cannot be chosen, and the messages when
// nothing fits.
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "menu_choice.h"
#include "menu_items.h"
#include "named_rows.h"

namespace {

using vantlow::host::ChoosableItems;
using vantlow::host::FindItem;
using vantlow::host::ItemPath;
using vantlow::host::MenuItem;
using namespace vantlow_test;
using vantlow_test::PrintTo; // found beside the rows, for GoogleTest

// Another plug-in's item first (it uses 2001 too), then the sizes submenu
// with a disabled line and a header, then a nested submenu.
std::vector<MenuItem> Menu() {
  return {
      Item("Other plug-in", 2001, kMenuItemAttrHidden), Item("Fixture", 1),
      Submenu("Sizes", {Item("Total: 3 KB", 2001), Item("-", 0, kMenuItemAttrSeparator),
                        Item("Copy All Sizes", 2004), Item("Frozen", 2002, kMenuItemAttrDisabled),
                        Item("cannot scan 1 folder(s)", 0, kMenuItemAttrSectionHeader)}),
      Submenu("More", {Item("Deep", 4242)})};
}

struct Case {
  const char *name;
  std::string what;
  ItemPath path;       // empty: nothing is found
  std::string problem; // when nothing is found
};

const Case kCases[] = {
    {"KeywordSkipsHiddenItemOfAnotherPlugin", "total", {2, 0}, ""},
    {"KeywordAll", "all", {2, 2}, ""},
    {"CommandID", "4242", {3, 0}, ""},
    {"CommandIDOfFirstItem", "1", {1}, ""},
    {"ExactText", "Copy All Sizes", {2, 2}, ""},
    {"TextIsCaseSensitive", "copy all sizes", {}, "no item of the menu reads 'copy all sizes'"},
    {"KeywordWithoutItem", "setup", {}, "the menu has no item for 'setup' (command 2010)"},
    {"DisabledItemByKeyword", "data", {}, "the menu has no item for 'data' (command 2002)"},
    {"UnknownCommandID", "77", {}, "the menu has no item with command 77"},
    {"SubmenuTitle", "Sizes", {}, "the item 'Sizes' cannot be chosen"},
    {"SectionHeader",
     "cannot scan 1 folder(s)",
     {},
     "the item 'cannot scan 1 folder(s)' cannot be chosen"},
    {"SeparatorText", "-", {}, "the item '-' cannot be chosen"},
    {"TextNotUtf8IsShownSafely", "caf\xE9", {}, "no item of the menu reads 'caf\xEF\xBF\xBD'"},
};

class FindItemTest : public testing::TestWithParam<Case> {};

TEST_P(FindItemTest, Finds) {
  const Case &c = GetParam();
  ItemPath path;
  std::string problem;
  bool found = FindItem(Menu(), c.what, &path, &problem);
  EXPECT_EQ(found, !c.path.empty()) << problem;
  if (found) {
    EXPECT_EQ(path, c.path);
  } else {
    EXPECT_EQ(problem, c.problem);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, FindItemTest, testing::ValuesIn(kCases), RowName());

TEST(ChoosableItemsTest, ListsWhatAUserCanPickInMenuOrder) {
  EXPECT_EQ(ChoosableItems(Menu()), (std::vector<ItemPath>{{1}, {2, 0}, {2, 2}, {3, 0}}));
}

} // namespace
