// The system-call table: counting, injected failures and delays around the
// real calls. The fast path, when no test has configured anything, is one
// relaxed counter increment and one flag test.
#include "syscalls.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <sys/syscall.h>
#include <time.h>

#include <vantlow/platform_testing.h>

#include "one_thread.h"

namespace {

using vp::sys::Call;

constexpr const char *kNames[] = {"openat",   "fstatat",  "statx",     "getdents", "read",
                                  "pread",    "write",    "fsync",     "close",    "renameat",
                                  "unlinkat", "mkdirat",  "faccessat", "fstatvfs", "fchmod",
                                  "getcwd",   "futimens", "readlinkat"};
static_assert(sizeof(kNames) / sizeof(kNames[0]) == static_cast<int>(Call::kCount));

struct Entry {
  std::atomic<long> calls{0};
  // Configuration, guarded by gMutex; `active` is read without it.
  std::atomic<bool> active{false};
  long failAt = 0; // matching call number that fails (0: none)
  long matched = 0;
  int err = 0;
  bool repeat = false;
  std::string suffix;
  long delayMicros = 0;
};

Entry gEntries[static_cast<int>(Call::kCount)];
std::mutex gMutex;

int IndexOf(const char *name) {
  if (!name) return -1;
  for (int i = 0; i < static_cast<int>(Call::kCount); ++i)
    if (std::strcmp(kNames[i], name) == 0) return i;
  return -1;
}

bool EndsWith(const char *path, const std::string &suffix) {
  if (suffix.empty()) return true;
  if (!path) return false;
  size_t n = std::strlen(path);
  return n >= suffix.size() && std::memcmp(path + n - suffix.size(), suffix.data(), suffix.size()) == 0;
}

// Counts the call; returns the errno to fail with, or 0 to go ahead.
int Check(Call c, const char *path = nullptr) noexcept {
  Entry &e = gEntries[static_cast<int>(c)];
  vp::CountAdd(e.calls, 1L);
  if (!e.active.load(std::memory_order_acquire)) return 0;
  long delay = 0;
  int fail = 0;
  {
    std::lock_guard<std::mutex> lock(gMutex);
    delay = e.delayMicros;
    if (e.failAt > 0 && EndsWith(path, e.suffix)) {
      long n = ++e.matched;
      if (n == e.failAt || (e.repeat && n > e.failAt)) fail = e.err;
    }
  }
  if (delay > 0) {
    struct timespec ts = {delay / 1000000, (delay % 1000000) * 1000};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }
  return fail;
}

#define VP_CHECK(call, path)                                                                       \
  do {                                                                                             \
    if (int injected_ = Check(call, path)) {                                                       \
      errno = injected_;                                                                           \
      return -1;                                                                                   \
    }                                                                                              \
  } while (0)

} // namespace

namespace vp::sys {

int openat(int dirfd, const char *path, int flags, mode_t mode) noexcept {
  VP_CHECK(Call::kOpenat, path);
  return ::openat(dirfd, path, flags, mode);
}
int fstatat(int dirfd, const char *path, struct stat *st, int flags) noexcept {
  VP_CHECK(Call::kFstatat, path);
  return ::fstatat(dirfd, path, st, flags);
}
int statx(int dirfd, const char *path, int flags, unsigned mask, struct statx *st) noexcept {
  VP_CHECK(Call::kStatx, path);
  return ::statx(dirfd, path, flags, mask, st);
}
long getdents(int fd, void *buf, size_t size) noexcept {
  VP_CHECK(Call::kGetdents, nullptr);
  return ::syscall(SYS_getdents64, fd, buf, size);
}
ssize_t read(int fd, void *buf, size_t size) noexcept {
  VP_CHECK(Call::kRead, nullptr);
  return ::read(fd, buf, size);
}
ssize_t pread(int fd, void *buf, size_t size, off_t offset) noexcept {
  VP_CHECK(Call::kPread, nullptr);
  return ::pread(fd, buf, size, offset);
}
ssize_t write(int fd, const void *buf, size_t size) noexcept {
  VP_CHECK(Call::kWrite, nullptr);
  return ::write(fd, buf, size);
}
int fsync(int fd) noexcept {
  VP_CHECK(Call::kFsync, nullptr);
  return ::fsync(fd);
}
int close(int fd) noexcept {
  VP_CHECK(Call::kClose, nullptr);
  return ::close(fd);
}
int renameat(int olddirfd, const char *oldpath, int newdirfd, const char *newpath) noexcept {
  VP_CHECK(Call::kRenameat, newpath);
  return ::renameat(olddirfd, oldpath, newdirfd, newpath);
}
int unlinkat(int dirfd, const char *path, int flags) noexcept {
  VP_CHECK(Call::kUnlinkat, path);
  return ::unlinkat(dirfd, path, flags);
}
int mkdirat(int dirfd, const char *path, mode_t mode) noexcept {
  VP_CHECK(Call::kMkdirat, path);
  return ::mkdirat(dirfd, path, mode);
}
int faccessat(int dirfd, const char *path, int mode, int flags) noexcept {
  VP_CHECK(Call::kFaccessat, path);
  return ::faccessat(dirfd, path, mode, flags);
}
int fstatvfs(int fd, struct statvfs *st) noexcept {
  VP_CHECK(Call::kFstatvfs, nullptr);
  return ::fstatvfs(fd, st);
}
int fchmod(int fd, mode_t mode) noexcept {
  VP_CHECK(Call::kFchmod, nullptr);
  return ::fchmod(fd, mode);
}
char *getcwd(char *buf, size_t size) noexcept {
  if (int injected = Check(Call::kGetcwd)) {
    errno = injected;
    return nullptr;
  }
  return ::getcwd(buf, size);
}
int futimens(int fd, const struct timespec times[2]) noexcept {
  VP_CHECK(Call::kFutimens, nullptr);
  return ::futimens(fd, times);
}

ssize_t readlinkat(int dirfd, const char *path, char *buf, size_t size) noexcept {
  VP_CHECK(Call::kReadlinkat, path);
  return ::readlinkat(dirfd, path, buf, size);
}

} // namespace vp::sys

extern "C" {

Boolean VPSyscallFail(const char *name, long nth, int err, Boolean repeat,
                      const char *nameSuffix) noexcept {
  int i = IndexOf(name);
  if (i < 0 || nth < 1 || err <= 0) return false;
  try {
    std::lock_guard<std::mutex> lock(gMutex);
    Entry &e = gEntries[i];
    e.failAt = nth;
    e.matched = 0;
    e.err = err;
    e.repeat = repeat != 0;
    e.suffix = nameSuffix ? nameSuffix : "";
    e.active = true;
    return true;
  } catch (...) {
    return false;
  }
}

Boolean VPSyscallDelay(const char *name, long microseconds) noexcept {
  int i = IndexOf(name);
  if (i < 0 || microseconds < 0) return false;
  std::lock_guard<std::mutex> lock(gMutex);
  Entry &e = gEntries[i];
  e.delayMicros = microseconds;
  e.active = e.delayMicros > 0 || e.failAt > 0;
  return true;
}

long VPSyscallCount(const char *name) noexcept {
  int i = IndexOf(name);
  return i < 0 ? -1 : gEntries[i].calls.load();
}

void VPSyscallReset(void) noexcept {
  std::lock_guard<std::mutex> lock(gMutex);
  for (Entry &e : gEntries) {
    e.active = false;
    e.calls = 0;
    e.failAt = 0;
    e.matched = 0;
    e.err = 0;
    e.repeat = false;
    e.suffix.clear();
    e.delayMicros = 0;
  }
}

} // extern "C"
