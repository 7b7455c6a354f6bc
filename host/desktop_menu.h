// Where `vantlow --menu` finds its desktop popup. The popup lives in a
// separate library that is built only when GTK 3 is there; the program
// registers it before it runs, so the host library itself (and the tests
// linked with it) never depends on a toolkit.
#pragma once

#include "cli_options.h"

namespace vantlow::host {

// Shows the menu for options.paths as a desktop popup and carries out the
// choice; returns the program's exit status (see app.h).
using DesktopMenuFunction = int (*)(const Options &options);

// Registers the popup (null: none, the default).
void SetDesktopMenu(DesktopMenuFunction function);
// The registered popup, or null when this build has none.
DesktopMenuFunction DesktopMenu();

} // namespace vantlow::host
