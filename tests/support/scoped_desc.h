// An Apple Event descriptor that starts null and is disposed at the end of
// its scope, for tests that build descriptor lists.
#pragma once

#include <Carbon/AEDataModel.h>

namespace vantlow_test {

struct Desc {
  Desc() { AEInitializeDesc(&desc); }
  ~Desc() { AEDisposeDesc(&desc); }
  Desc(const Desc &) = delete;
  Desc &operator=(const Desc &) = delete;
  AEDesc desc;
};

} // namespace vantlow_test
