// Reading a small file whole (see small_file.h).
#include "small_file.h"

#include <cerrno>
#include <cstring>

#include "syscalls.h"

namespace {

// Closes the descriptor on every way out, exceptions included.
class FdGuard {
public:
  explicit FdGuard(int fd) noexcept : fd_(fd) {}
  ~FdGuard() { vp::sys::close(fd_); }
  FdGuard(const FdGuard &) = delete;
  FdGuard &operator=(const FdGuard &) = delete;
  int get() const noexcept { return fd_; }

private:
  int fd_;
};

} // namespace

namespace vp {

int ReadSmallFile(const char *path, std::size_t maxBytes, String8 *out) {
  int fd = sys::openat(AT_FDCWD, path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return errno;
  FdGuard guard(fd);
  struct stat st;
  if (sys::fstatat(fd, "", &st, AT_EMPTY_PATH) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  if (st.st_size > 0 && static_cast<unsigned long long>(st.st_size) > maxBytes) return EFBIG;

  out->clear();
  // The size told by fstat is a hint only: the file may grow or shrink while
  // we read, so read until the end and check the cap as we go.
  std::size_t want = st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 4096;
  for (;;) {
    std::size_t used = out->size();
    if (used > maxBytes) return EFBIG;
    std::size_t room = want > used ? want - used : 4096;
    if (room > maxBytes + 1 - used) room = maxBytes + 1 - used;
    out->resize(used + room);
    ssize_t n = sys::read(fd, out->data() + used, room);
    if (n < 0) {
      int err = errno;
      if (err == EINTR) {
        out->resize(used);
        continue;
      }
      return err;
    }
    out->resize(used + static_cast<std::size_t>(n));
    if (n == 0) break;
  }
  return out->size() > maxBytes ? EFBIG : 0;
}

const char *DescribeReadError(int err, char *buf, std::size_t size) noexcept {
  switch (err) {
  case EFBIG:
    return "the file is too large";
  case EINVAL:
    return "not a regular file";
  default:
    return strerror_r(err, buf, size);
  }
}

} // namespace vp
