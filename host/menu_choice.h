// Which item of a menu a user means: what can be chosen at all, and the
// item that --choose names by keyword, command ID or text. An item is found
// by its path, the 0-based index at each level from the top menu down.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "menu_model.h"

namespace vantlow::host {

using ItemPath = std::vector<size_t>;

// An item a user can choose: not a separator, a section header, disabled or
// hidden, and not the title of a submenu (which only opens it).
bool IsChoosable(const MenuItem &item);

// The item at path (which must lead to one).
const MenuItem &ItemAt(const std::vector<MenuItem> &menu, const ItemPath &path);

// Every choosable item, depth first in menu order.
std::vector<ItemPath> ChoosableItems(const std::vector<MenuItem> &menu);

// The command ID a keyword of --choose stands for: count 2000, total 2001,
// data 2002, rsrc 2003, all 2004, setup 2010; false for another word.
bool KeywordCommand(std::string_view keyword, UInt32 *command);

// The first choosable item, in menu order, that `what` names: a keyword
// (above), else a command ID in decimal, else an item's exact text. True
// with *path set, or false with *problem saying why nothing was found (one
// line, e.g. "the menu has no item for 'total' (command 2001)").
bool FindItem(const std::vector<MenuItem> &menu, const std::string &what, ItemPath *path,
              std::string *problem);

} // namespace vantlow::host
