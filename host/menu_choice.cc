// Which item of a menu a user means (see menu_choice.h).
#include "menu_choice.h"

#include <cerrno>
#include <cstdlib>
#include <functional>

#include "display_text.h"

namespace vantlow::host {
namespace {

struct Keyword {
  std::string_view word;
  UInt32 command;
};

constexpr Keyword kKeywords[] = {{"count", 2000}, {"total", 2001}, {"data", 2002},
                                 {"rsrc", 2003},  {"all", 2004},   {"setup", 2010}};

// Calls visit for every item, depth first; stops when visit returns true
// and returns true then.
bool Walk(const std::vector<MenuItem> &items, ItemPath *path,
          const std::function<bool(const MenuItem &, const ItemPath &)> &visit) {
  for (size_t i = 0; i < items.size(); ++i) {
    path->push_back(i);
    if (visit(items[i], *path)) return true;
    if (items[i].hasSubmenu && Walk(items[i].submenu, path, visit)) return true;
    path->pop_back();
  }
  return false;
}

// A command ID written in decimal (an optional '-' and digits only).
bool ParseCommandID(const std::string &text, UInt32 *command) {
  if (text.empty()) return false;
  size_t start = text[0] == '-' ? 1 : 0;
  if (start == text.size()) return false;
  for (size_t i = start; i < text.size(); ++i)
    if (text[i] < '0' || text[i] > '9') return false;
  errno = 0;
  long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE || value < INT32_MIN || value > UINT32_MAX) return false;
  *command = static_cast<UInt32>(value);
  return true;
}

} // namespace

bool IsChoosable(const MenuItem &item) {
  constexpr UInt32 kNotChosen = kMenuItemAttrSeparator | kMenuItemAttrSectionHeader |
                                kMenuItemAttrDisabled | kMenuItemAttrHidden;
  return !item.hasSubmenu && (item.attributes & kNotChosen) == 0;
}

const MenuItem &ItemAt(const std::vector<MenuItem> &menu, const ItemPath &path) {
  const std::vector<MenuItem> *level = &menu;
  const MenuItem *item = nullptr;
  for (size_t index : path) {
    item = &level->at(index);
    level = &item->submenu;
  }
  return *item;
}

std::vector<ItemPath> ChoosableItems(const std::vector<MenuItem> &menu) {
  std::vector<ItemPath> found;
  ItemPath path;
  Walk(menu, &path, [&](const MenuItem &item, const ItemPath &at) {
    if (IsChoosable(item)) found.push_back(at);
    return false;
  });
  return found;
}

bool KeywordCommand(std::string_view keyword, UInt32 *command) {
  for (const Keyword &k : kKeywords) {
    if (k.word == keyword) {
      *command = k.command;
      return true;
    }
  }
  return false;
}

bool FindItem(const std::vector<MenuItem> &menu, const std::string &what, ItemPath *path,
              std::string *problem) {
  UInt32 command = 0;
  const bool keyword = KeywordCommand(what, &command);
  const bool byCommand = keyword || ParseCommandID(what, &command);
  ItemPath at;
  bool found = Walk(menu, &at, [&](const MenuItem &item, const ItemPath &) {
    return IsChoosable(item) && (byCommand ? item.command == command : item.text == what);
  });
  if (found) {
    *path = at;
    return true;
  }
  const std::string shown = PrintableText(what);
  if (keyword) {
    *problem = "the menu has no item for '" + shown + "' (command " + std::to_string(command) + ")";
  } else if (byCommand) {
    *problem = "the menu has no item with command " + std::to_string(command);
  } else {
    at.clear();
    bool named =
        Walk(menu, &at, [&](const MenuItem &item, const ItemPath &) { return item.text == what; });
    *problem = named ? "the item '" + shown + "' cannot be chosen"
                     : "no item of the menu reads '" + shown + "'";
  }
  return false;
}

} // namespace vantlow::host
