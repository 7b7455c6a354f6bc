// The named table of file-system calls. The platform never calls these
// system calls directly: it calls vp::sys::*, which a test can make fail at
// the nth call with a chosen errno, or slow down (platform_testing.h). This
// is the only way to produce EACCES, EIO or a vanishing entry as root.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

namespace vp::sys {

enum class Call : int {
  kOpenat,
  kFstatat,
  kStatx,
  kGetdents,
  kRead,
  kPread,
  kWrite,
  kFsync,
  kClose,
  kRenameat,
  kUnlinkat,
  kMkdirat,
  kFaccessat,
  kFstatvfs,
  kFchmod,
  kGetcwd,
  kFutimens,
  kReadlinkat,
  kCount
};

int openat(int dirfd, const char *path, int flags, mode_t mode = 0) noexcept;
int fstatat(int dirfd, const char *path, struct stat *st, int flags) noexcept;
int statx(int dirfd, const char *path, int flags, unsigned mask, struct statx *st) noexcept;
// Raw directory entries (struct linux_dirent64) of an open folder.
long getdents(int fd, void *buf, size_t size) noexcept;
ssize_t read(int fd, void *buf, size_t size) noexcept;
ssize_t pread(int fd, void *buf, size_t size, off_t offset) noexcept;
ssize_t write(int fd, const void *buf, size_t size) noexcept;
int fsync(int fd) noexcept;
int close(int fd) noexcept;
int renameat(int olddirfd, const char *oldpath, int newdirfd, const char *newpath) noexcept;
int unlinkat(int dirfd, const char *path, int flags) noexcept;
int mkdirat(int dirfd, const char *path, mode_t mode) noexcept;
int faccessat(int dirfd, const char *path, int mode, int flags) noexcept;
int fstatvfs(int fd, struct statvfs *st) noexcept;
int fchmod(int fd, mode_t mode) noexcept;
// The current directory; null with errno set on failure.
char *getcwd(char *buf, size_t size) noexcept;
int futimens(int fd, const struct timespec times[2]) noexcept;
// The target of a symbolic link, not zero-terminated; -1 with errno set.
ssize_t readlinkat(int dirfd, const char *path, char *buf, size_t size) noexcept;

} // namespace vp::sys
