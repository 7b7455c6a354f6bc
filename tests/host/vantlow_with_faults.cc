// A test-only build of the `vantlow` command whose file-system calls the
// tests can slow down or make fail, through the platform's system-call
// table, before the command runs exactly as the real one does:
//   VANTLOW_TEST_SYSCALL_DELAY=<entry>=<microseconds>  e.g. fstatat=20000
//   VANTLOW_TEST_SYSCALL_FAIL=<entry>=<nth>[,<suffix>] every call from the
//                                                      nth on (of those whose
//                                                      name ends with suffix)
//                                                      fails with EIO
//   VANTLOW_TEST_SYSCALL_ERRNO=<number>                the errno of those
//                                                      failures instead of EIO
// It lets a test cancel a calculation that would otherwise be over before a
// key could arrive, and see a plug-in call fail. It is never installed.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <vantlow/platform_testing.h>

#include "app.h"

namespace {

// Splits "<entry>=<number>[,<suffix>]"; false when the text is not of that
// form (or has a suffix where none is wanted).
bool Split(const char *text, std::string *entry, long *number, std::string *suffix) {
  std::string setting = text;
  size_t eq = setting.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  char *end = nullptr;
  *number = std::strtol(setting.c_str() + eq + 1, &end, 10);
  if (!end || end == setting.c_str() + eq + 1) return false;
  if (*end == ',' && suffix)
    *suffix = end + 1;
  else if (*end != '\0')
    return false;
  *entry = setting.substr(0, eq);
  return true;
}

} // namespace

int main(int argc, char **argv) {
  std::string entry, suffix;
  long number = 0;
  if (const char *delay = std::getenv("VANTLOW_TEST_SYSCALL_DELAY")) {
    if (!Split(delay, &entry, &number, nullptr) || !VPSyscallDelay(entry.c_str(), number)) {
      std::fprintf(stderr, "bad VANTLOW_TEST_SYSCALL_DELAY '%s'\n", delay);
      return 99;
    }
  }
  int error = EIO;
  if (const char *text = std::getenv("VANTLOW_TEST_SYSCALL_ERRNO")) {
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (!end || end == text || *end != '\0' || value <= 0 || value > 4095) {
      std::fprintf(stderr, "bad VANTLOW_TEST_SYSCALL_ERRNO '%s'\n", text);
      return 99;
    }
    error = static_cast<int>(value);
  }
  if (const char *fail = std::getenv("VANTLOW_TEST_SYSCALL_FAIL")) {
    if (!Split(fail, &entry, &number, &suffix) ||
        !VPSyscallFail(entry.c_str(), number, error, true,
                       suffix.empty() ? nullptr : suffix.c_str())) {
      std::fprintf(stderr, "bad VANTLOW_TEST_SYSCALL_FAIL '%s'\n", fail);
      return 99;
    }
  }
  return vantlow::host::RunVantlow(argc, argv);
}
