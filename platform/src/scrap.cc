// The Scrap Manager on Linux: the per-user scrap as one file per flavor in
// a private folder (Scrap.h has the layout), so that the host and the desktop
// clipboard helpers can read back what a plug-in copied. A flavor file is
// written to a temporary file, flushed and renamed into place, so readers see
// a flavor whole or not at all. Each file's modification time is stamped
// with a strictly increasing clock reading, which is how the put order
// survives in the folder.
#include <Carbon/Scrap.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <pwd.h>

#include <vantlow/platform_testing.h>

#include "alloc.h"
#include "syscalls.h"

// The one scrap of the process; a ScrapRef is its address.
struct OpaqueScrapRef {
  int unused;
};

namespace {

OpaqueScrapRef gCurrentScrap;

constexpr char kTempPrefix[] = ".scrap-tmp-";
constexpr size_t kTempPrefixLength = sizeof kTempPrefix - 1;

// A flavor's file name: the four characters, or "0x" and eight hex digits.
struct FlavorName {
  char text[11];
};

bool IsSafeNameChar(unsigned char c) noexcept {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-';
}

bool IsPlainFlavor(ScrapFlavorType flavor) noexcept {
  for (int shift = 24; shift >= 0; shift -= 8)
    if (!IsSafeNameChar(static_cast<unsigned char>(flavor >> shift))) return false;
  return true;
}

FlavorName NameOf(ScrapFlavorType flavor) noexcept {
  FlavorName name;
  if (IsPlainFlavor(flavor)) {
    for (int i = 0; i < 4; ++i)
      name.text[i] = static_cast<char>(flavor >> (24 - 8 * i));
    name.text[4] = '\0';
  } else {
    std::snprintf(name.text, sizeof name.text, "0x%08x", static_cast<unsigned>(flavor));
  }
  return name;
}

// The flavor a file name stands for; only the names NameOf makes count, so
// foreign files and temporary files are never taken for flavors.
bool ParseName(const char *name, ScrapFlavorType *flavor) noexcept {
  size_t length = std::strlen(name);
  ScrapFlavorType value = 0;
  if (length == 4) {
    for (size_t i = 0; i < 4; ++i) {
      unsigned char c = static_cast<unsigned char>(name[i]);
      if (!IsSafeNameChar(c)) return false;
      value = (value << 8) | c;
    }
  } else if (length == 10 && name[0] == '0' && name[1] == 'x') {
    for (size_t i = 2; i < 10; ++i) {
      char c = name[i];
      unsigned digit;
      if (c >= '0' && c <= '9')
        digit = static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        digit = static_cast<unsigned>(c - 'a' + 10);
      else
        return false;
      value = (value << 4) | digit;
    }
    if (IsPlainFlavor(value)) return false;
  } else {
    return false;
  }
  if (value == 0) return false;
  *flavor = value;
  return true;
}

bool IsTempName(const char *name) noexcept {
  return std::strncmp(name, kTempPrefix, kTempPrefixLength) == 0;
}

OSStatus StatusFromErrno(int err) noexcept {
  switch (err) {
  case ENOENT:
  case ENOTDIR:
    return fnfErr;
  case EACCES:
  case EPERM:
  case EROFS:
    return afpAccessDenied;
  case ENOMEM:
    return memFullErr;
  default:
    return ioErr;
  }
}

// An open descriptor, closed through the system-call table when it goes.
class Fd {
public:
  Fd() noexcept = default;
  explicit Fd(int fd) noexcept : fd_(fd) {}
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  ~Fd() { Reset(-1); }
  int get() const noexcept { return fd_; }
  void Reset(int fd) noexcept {
    if (fd_ >= 0) vp::sys::close(fd_);
    fd_ = fd;
  }
  int Release() noexcept {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now and reports the result (a failed close can mean lost data).
  int Close() noexcept {
    int fd = fd_;
    fd_ = -1;
    return fd >= 0 ? vp::sys::close(fd) : 0;
  }

private:
  int fd_ = -1;
};

// Opens a folder; with follow false a symbolic link in its place is refused.
OSStatus OpenFolder(int dirfd, const char *path, bool follow, Fd *out) noexcept {
  int fd =
      vp::sys::openat(dirfd, path, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
  if (fd < 0) return StatusFromErrno(errno);
  out->Reset(fd);
  return noErr;
}

// Opens (and, with create, makes) the folder `name` inside parent.
OSStatus OpenChild(const Fd &parent, const char *name, bool create, bool follow, Fd *out) noexcept {
  if (create && vp::sys::mkdirat(parent.get(), name, 0700) != 0 && errno != EEXIST)
    return StatusFromErrno(errno);
  return OpenFolder(parent.get(), name, follow, out);
}

// The home folder: $HOME when absolute, else the password database's entry.
OSStatus OpenHome(Fd *out) {
  const char *home = std::getenv("HOME");
  if (home && home[0] == '/') return OpenFolder(AT_FDCWD, home, true, out);
  vp::Vector<char> buffer(1024);
  for (;;) {
    struct passwd entry;
    struct passwd *found = nullptr;
    int err = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
    if (err == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (err != 0) return StatusFromErrno(err);
    if (!found || !found->pw_dir || found->pw_dir[0] != '/') return fnfErr;
    return OpenFolder(AT_FDCWD, found->pw_dir, true, out);
  }
}

// Opens the scrap folder. Without create, a missing folder is reported as
// fnfErr and nothing is made. The base folder and ~/.cache may be symbolic
// links (users move caches to other disks); our own two folders may not. The
// scrap folder must belong to this user and is kept private (0700): it may
// hold anything the user copied.
OSStatus OpenScrapFolder(bool create, Fd *out) {
  Fd base;
  OSStatus status;
  const char *runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') {
    status = OpenFolder(AT_FDCWD, runtime, true, &base);
  } else {
    Fd home;
    status = OpenHome(&home);
    if (status == noErr) status = OpenChild(home, ".cache", create, true, &base);
  }
  if (status != noErr) return status;

  Fd vantlow;
  status = OpenChild(base, "vantlow", create, false, &vantlow);
  if (status != noErr) return status;
  Fd scrap;
  status = OpenChild(vantlow, "scrap", create, false, &scrap);
  if (status != noErr) return status;

  struct stat st;
  if (vp::sys::fstatat(scrap.get(), "", &st, AT_EMPTY_PATH) != 0) return StatusFromErrno(errno);
  if (st.st_uid != geteuid()) return afpAccessDenied;
  if ((st.st_mode & 077) != 0 && vp::sys::fchmod(scrap.get(), 0700) != 0)
    return StatusFromErrno(errno);
  out->Reset(scrap.Release());
  return noErr;
}

// One entry of the scrap folder that matters to us.
struct Entry {
  char name[256];
  ScrapFlavorType flavor; // 0 for a temporary file
  struct timespec stamp;
};

// Lists the flavor files (and, with temps, the temporary files) of the
// folder.
OSStatus ListEntries(const Fd &folder, bool temps, vp::Vector<Entry> *entries) {
  // A private descriptor: reading a listing moves the descriptor's offset.
  Fd listing;
  OSStatus status = OpenFolder(folder.get(), ".", false, &listing);
  if (status != noErr) return status;
  alignas(8) char buffer[8192];
  for (;;) {
    long n = vp::sys::getdents(listing.get(), buffer, sizeof buffer);
    if (n < 0) return StatusFromErrno(errno);
    if (n == 0) return noErr;
    for (long offset = 0; offset < n;) {
      // struct linux_dirent64: inode, offset, record length, type, name.
      unsigned short recordLength;
      std::memcpy(&recordLength, buffer + offset + 16, sizeof recordLength);
      const char *name = buffer + offset + 19;
      offset += recordLength;
      Entry entry{};
      bool flavor = ParseName(name, &entry.flavor);
      if (!flavor && !(temps && IsTempName(name))) continue;
      size_t length = std::strlen(name);
      if (length >= sizeof entry.name) continue;
      std::memcpy(entry.name, name, length + 1);
      entries->push_back(entry);
    }
  }
}

// Opens a flavor file and tells its size. A missing file is noTypeErr.
OSStatus OpenFlavor(const Fd &folder, const char *name, Fd *file, Size *size) noexcept {
  file->Reset(vp::sys::openat(folder.get(), name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (file->get() < 0) return errno == ENOENT ? noTypeErr : StatusFromErrno(errno);
  struct stat st;
  if (vp::sys::fstatat(file->get(), "", &st, AT_EMPTY_PATH) != 0) return StatusFromErrno(errno);
  if (!S_ISREG(st.st_mode) || st.st_size > INT32_MAX) return ioErr;
  *size = static_cast<Size>(st.st_size);
  return noErr;
}

// Reads up to want bytes of an open flavor file into destination.
OSStatus ReadFlavor(const Fd &file, void *destination, Size want, Size *copied) noexcept {
  Size done = 0;
  while (done < want) {
    ssize_t n = vp::sys::read(file.get(), static_cast<char *>(destination) + done,
                              static_cast<size_t>(want - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return StatusFromErrno(errno);
    if (n == 0) break; // the file shrank: hand out what there is
    done += static_cast<Size>(n);
  }
  *copied = done;
  return noErr;
}

// A modification time later than every one this process stamped before, so
// that flavors put in quick succession still sort in put order (file system
// clocks tick too coarsely for that).
struct timespec NextStamp() noexcept {
  static std::atomic<int64_t> last{0};
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  int64_t want = static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
  int64_t seen = last.load();
  int64_t next;
  do {
    next = std::max(want, seen + 1);
  } while (!last.compare_exchange_weak(seen, next));
  return {static_cast<time_t>(next / 1000000000), static_cast<long>(next % 1000000000)};
}

// Writes data into a new temporary file in folder, flushed; its name goes to
// tempName. On failure nothing is left behind.
OSStatus WriteTemp(const Fd &folder, const void *data, Size size, char (&tempName)[64]) noexcept {
  static std::atomic<unsigned long> counter{0};
  Fd file;
  for (int attempt = 0; file.get() < 0; ++attempt) {
    std::snprintf(tempName, sizeof tempName, "%s%ld-%lu", kTempPrefix, static_cast<long>(getpid()),
                  counter.fetch_add(1));
    int fd = vp::sys::openat(folder.get(), tempName,
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0)
      file.Reset(fd);
    else if (errno != EEXIST || attempt >= 100)
      return StatusFromErrno(errno);
  }
  OSStatus status = noErr;
  Size done = 0;
  while (status == noErr && done < size) {
    ssize_t n = vp::sys::write(file.get(), static_cast<const char *>(data) + done,
                               static_cast<size_t>(size - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      status = n < 0 ? StatusFromErrno(errno) : ioErr;
    else
      done += static_cast<Size>(n);
  }
  if (status == noErr) {
    struct timespec times[2] = {{0, UTIME_OMIT}, NextStamp()};
    if (vp::sys::futimens(file.get(), times) != 0 || vp::sys::fsync(file.get()) != 0)
      status = StatusFromErrno(errno);
  }
  if (file.Close() != 0 && status == noErr) status = StatusFromErrno(errno);
  if (status != noErr) vp::sys::unlinkat(folder.get(), tempName, 0);
  return status;
}

OSStatus CheckScrap(ScrapRef scrap) noexcept {
  return scrap == &gCurrentScrap ? OSStatus{noErr} : OSStatus{badScrapRefErr};
}

} // namespace

extern "C" {

OSStatus ClearCurrentScrap(void) noexcept {
  return vp::Edge<OSStatus>(memFullErr, []() -> OSStatus {
    if (!VPFaultProbe()) return memFullErr;
    Fd folder;
    OSStatus status = OpenScrapFolder(true, &folder);
    if (status != noErr) return status;
    vp::Vector<Entry> entries;
    status = ListEntries(folder, true, &entries);
    if (status != noErr) return status;
    for (const Entry &entry : entries)
      if (vp::sys::unlinkat(folder.get(), entry.name, 0) != 0 && errno != ENOENT)
        return StatusFromErrno(errno);
    return noErr;
  });
}

OSStatus GetCurrentScrap(ScrapRef *scrap) noexcept {
  if (!scrap) return paramErr;
  *scrap = nullptr;
  if (!VPFaultProbe()) return memFullErr;
  *scrap = &gCurrentScrap;
  return noErr;
}

OSStatus PutScrapFlavor(ScrapRef scrap, ScrapFlavorType flavorType, ScrapFlavorFlags flavorFlags,
                        Size flavorSize, const void *flavorData) noexcept {
  if (OSStatus status = CheckScrap(scrap)) return status;
  const ScrapFlavorFlags known = kScrapFlavorMaskSenderOnly | kScrapFlavorMaskTranslated;
  if (flavorType == 0 || (flavorFlags & ~known) != 0 || flavorSize < 0 ||
      (flavorSize > 0 && !flavorData))
    return paramErr;
  return vp::Edge<OSStatus>(memFullErr, [&]() -> OSStatus {
    if (!VPFaultProbe()) return memFullErr;
    Fd folder;
    OSStatus status = OpenScrapFolder(true, &folder);
    if (status != noErr) return status;
    const FlavorName name = NameOf(flavorType);
    struct stat st;
    if (vp::sys::fstatat(folder.get(), name.text, &st, AT_SYMLINK_NOFOLLOW) == 0)
      return duplicateScrapFlavorErr;
    if (errno != ENOENT) return StatusFromErrno(errno);
    char tempName[64];
    status = WriteTemp(folder, flavorData, flavorSize, tempName);
    if (status != noErr) return status;
    if (vp::sys::renameat(folder.get(), tempName, folder.get(), name.text) != 0) {
      status = StatusFromErrno(errno);
      vp::sys::unlinkat(folder.get(), tempName, 0);
    }
    return status;
  });
}

OSStatus GetScrapFlavorSize(ScrapRef scrap, ScrapFlavorType flavorType, Size *byteCount) noexcept {
  if (!byteCount) return paramErr;
  *byteCount = 0;
  if (OSStatus status = CheckScrap(scrap)) return status;
  return vp::Edge<OSStatus>(memFullErr, [&]() -> OSStatus {
    if (!VPFaultProbe()) return memFullErr;
    Fd folder;
    OSStatus status = OpenScrapFolder(false, &folder);
    if (status == fnfErr) return noTypeErr; // no folder: an empty scrap
    if (status != noErr) return status;
    Fd file;
    return OpenFlavor(folder, NameOf(flavorType).text, &file, byteCount);
  });
}

OSStatus GetScrapFlavorData(ScrapRef scrap, ScrapFlavorType flavorType, Size *byteCount,
                            void *destination) noexcept {
  if (!byteCount) return paramErr;
  const Size room = *byteCount;
  *byteCount = 0;
  if (OSStatus status = CheckScrap(scrap)) return status;
  if (room < 0 || (room > 0 && !destination)) return paramErr;
  return vp::Edge<OSStatus>(memFullErr, [&]() -> OSStatus {
    if (!VPFaultProbe()) return memFullErr;
    Fd folder;
    OSStatus status = OpenScrapFolder(false, &folder);
    if (status == fnfErr) return noTypeErr;
    if (status != noErr) return status;
    Fd file;
    Size size = 0;
    status = OpenFlavor(folder, NameOf(flavorType).text, &file, &size);
    if (status != noErr) return status;
    return ReadFlavor(file, destination, std::min(room, size), byteCount);
  });
}

OSStatus VPScrapVisitFlavors(ScrapRef scrap, VPScrapFlavorVisitor visit, void *context) noexcept {
  if (OSStatus status = CheckScrap(scrap)) return status;
  if (!visit) return paramErr;
  return vp::Edge<OSStatus>(memFullErr, [&]() -> OSStatus {
    Fd folder;
    OSStatus status = OpenScrapFolder(false, &folder);
    if (status == fnfErr) return noErr;
    if (status != noErr) return status;
    vp::Vector<Entry> entries;
    status = ListEntries(folder, false, &entries);
    if (status != noErr) return status;

    // Put order: the stamps PutScrapFlavor gave; a vanished file drops out.
    vp::Vector<Entry> present;
    present.reserve(entries.size());
    for (Entry &entry : entries) {
      struct stat st;
      if (vp::sys::fstatat(folder.get(), entry.name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT) continue;
        return StatusFromErrno(errno);
      }
      entry.stamp = st.st_mtim;
      present.push_back(entry);
    }
    std::sort(present.begin(), present.end(), [](const Entry &a, const Entry &b) {
      if (a.stamp.tv_sec != b.stamp.tv_sec) return a.stamp.tv_sec < b.stamp.tv_sec;
      if (a.stamp.tv_nsec != b.stamp.tv_nsec) return a.stamp.tv_nsec < b.stamp.tv_nsec;
      return a.flavor < b.flavor;
    });

    for (const Entry &entry : present) {
      Fd file;
      Size size = 0, copied = 0;
      status = OpenFlavor(folder, entry.name, &file, &size);
      if (status == noTypeErr) continue;
      if (status != noErr) return status;
      vp::Vector<char> data(static_cast<size_t>(size));
      status = ReadFlavor(file, data.data(), size, &copied);
      if (status != noErr) return status;
      static const char kNoBytes = 0;
      if (!visit(entry.flavor, copied > 0 ? data.data() : &kNoBytes, copied, context)) break;
    }
    return noErr;
  });
}

} // extern "C"
