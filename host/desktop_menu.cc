// The registration of the desktop popup (see desktop_menu.h).
#include "desktop_menu.h"

namespace vantlow::host {
namespace {
DesktopMenuFunction gDesktopMenu = nullptr;
} // namespace

void SetDesktopMenu(DesktopMenuFunction function) {
  gDesktopMenu = function;
}

DesktopMenuFunction DesktopMenu() {
  return gDesktopMenu;
}

} // namespace vantlow::host
