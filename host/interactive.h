// The interactive menu: the whole menu on the terminal's alternate screen,
// submenus indented under their titles and every item that can be chosen
// numbered. The arrow keys (or j and k, Home and End) move the highlight,
// digits go to an item by its number, Enter chooses; Escape, q or Ctrl-D
// closes the menu without a choice, and Ctrl-C interrupts the program.
#pragma once

#include <vector>

#include "menu_choice.h"
#include "menu_model.h"
#include "terminal.h"

namespace vantlow::host {

enum class PickResult {
  kChosen,      // *path names the item
  kDismissed,   // closed without a choice (or nothing can be chosen)
  kInterrupted, // Ctrl-C
  kFailed       // the terminal could not be used
};

// Shows menu on tty until the user decides; the terminal is as it was
// afterwards.
PickResult PickMenuItem(const Tty &tty, const std::vector<MenuItem> &menu,
                        ItemPath *path /* OUT */);

} // namespace vantlow::host
