// The `vantlow` command: everything it does is in RunVantlow (app.h). A
// build with GTK 3 registers the desktop popup for --menu first.
#include "app.h"

#ifdef VANTLOW_HAVE_GTK
#include "desktop_menu.h"
#include "gtk_menu.h"
#endif

int main(int argc, char **argv) {
#ifdef VANTLOW_HAVE_GTK
  vantlow::host::SetDesktopMenu(&vantlow::host::RunGtkMenu);
#endif
  return vantlow::host::RunVantlow(argc, argv);
}
