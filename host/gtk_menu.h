// `vantlow --menu PATH...`: the plug-ins' menu as a real desktop popup.
//
// Under X11 the menu is a GTK popup menu at the pointer (a process started
// by a file manager has no event that opened it, so the pointer's position
// on the root window stands in); under Wayland, where a client cannot place
// a popup without a parent window, it is a small undecorated window that the
// compositor places, closed by Escape or when it loses the focus. A submenu
// is populated (kEventMenuPopulate through the host's menu model) when the
// user opens it, so a plug-in in deferred mode measures only then; the
// pointer shows busy meanwhile and Escape cancels the calculation. A chosen
// line is handed to the plug-in that made it; what it puts on the scrap goes
// to the desktop clipboard, where it stays after the program has ended. A
// choice that opens a window ("Setup Period...") is shown in GTK too.
#pragma once

#include "cli_options.h"

namespace vantlow::host {

// Runs the popup for options.paths and returns the exit status (see app.h);
// 2 without a display. Registered with SetDesktopMenu by the program.
int RunGtkMenu(const Options &options);

} // namespace vantlow::host
