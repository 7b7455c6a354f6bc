// Menu items written by hand for the host's tests, and a description of a
// menu line by line: two menus compare equal exactly when their
// descriptions do, and a difference shows as a readable diff.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "menu_model.h"

namespace vantlow_test {

inline vantlow::host::MenuItem Item(std::string text, UInt32 command, UInt32 attributes = 0) {
  vantlow::host::MenuItem item;
  item.text = std::move(text);
  item.command = command;
  item.attributes = attributes;
  return item;
}

inline vantlow::host::MenuItem Submenu(std::string text,
                                       std::vector<vantlow::host::MenuItem> items) {
  vantlow::host::MenuItem item;
  item.text = std::move(text);
  item.hasSubmenu = true;
  item.submenu = std::move(items);
  return item;
}

// One line per item, "text [command,attributes]", submenus indented below
// their item.
inline std::string Describe(const std::vector<vantlow::host::MenuItem> &items, int depth = 0) {
  std::string out;
  for (const vantlow::host::MenuItem &item : items) {
    out += std::string(static_cast<size_t>(depth) * 2, ' ') + item.text + " [" +
           std::to_string(item.command) + "," + std::to_string(item.attributes) + "]\n";
    if (item.hasSubmenu) out += Describe(item.submenu, depth + 1);
  }
  return out;
}

} // namespace vantlow_test
