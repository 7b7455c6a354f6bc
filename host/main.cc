// The `vantlow` command: everything it does is in RunVantlow (app.h).
#include "app.h"

int main(int argc, char **argv) {
  return vantlow::host::RunVantlow(argc, argv);
}
