// Application preferences: the values of each application ID, read once
// from ${XDG_CONFIG_HOME:-~/.config}/vantlow/<appID>.plist and kept in
// memory, and the atomic save that writes them back (a temporary file, a
// flush, a rename, a flush of the folder). A file that cannot be read reads
// as no values and is moved aside as <name>.corrupt by the next save, so it
// is never overwritten unseen and never half-written.
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <vantlow/platform_testing.h>

#include "cf_property_list_internal.h"
#include "cf_string_internal.h"
#include "syscalls.h"

namespace {

using vp::String16;
using vp::String8;

// Larger files are not read: preferences are a few lines, and a cap keeps a
// mistaken or hostile file from costing unbounded memory.
constexpr std::size_t kMaxFileBytes = 1u << 20;
constexpr const char *kCorruptSuffix = ".corrupt";
constexpr const char *kPlistSuffix = ".plist";
// NAME_MAX less ".plist.corrupt".
constexpr std::size_t kMaxIDBytes = 255 - 14;

class FdGuard {
public:
  explicit FdGuard(int fd) noexcept : fd_(fd) {}
  ~FdGuard() {
    if (fd_ >= 0) vp::sys::close(fd_);
  }
  FdGuard(const FdGuard &) = delete;
  FdGuard &operator=(const FdGuard &) = delete;
  int get() const noexcept { return fd_; }
  // Closes now and tells whether the close succeeded (it reports write
  // errors on some file systems).
  bool Close() noexcept {
    int fd = fd_;
    fd_ = -1;
    return vp::sys::close(fd) == 0;
  }

private:
  int fd_;
};

struct Domain {
  String16 appID;
  String8 folder;   // absolute; empty when no home folder could be found
  String8 fileName; // <appID>.plist
  vp::Ref<> values; // a CFMutableDictionary
  bool dirty = false;
  // A file was there that could not be read: the next save moves it aside.
  bool unreadable = false;
};

struct Store {
  std::mutex lock;
  vp::Vector<Domain> domains;
};

Store &TheStore() {
  // Never destroyed: other statics may still use preferences while the
  // process ends.
  alignas(Store) static unsigned char storage[sizeof(Store)];
  static Store *store = ::new (storage) Store;
  return *store;
}

// The file name for an application ID, or false when the ID cannot name a
// file inside our folder safely.
bool FileNameFor(const String16 &id, String8 &out) {
  if (id.empty()) return false;
  for (std::size_t i = 0; i < id.size(); ++i) {
    char16_t u = id[i];
    if (u == 0 || u == u'/') return false;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < id.size() && id[i + 1] >= 0xDC00 &&
        id[i + 1] <= 0xDFFF) {
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      return false;
    }
  }
  String8 name = vp::ToUTF8Lossy(id); // exact: no unpaired surrogate is left
  if (name == "." || name == ".." || name.size() > kMaxIDBytes) return false;
  out = name + kPlistSuffix;
  return true;
}

// ${XDG_CONFIG_HOME:-$HOME/.config}/vantlow, with the home folder from the
// password database when HOME is unset or not absolute. False when there is
// no home folder at all.
bool ConfigFolder(String8 &out) {
  const char *xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    out = xdg;
  } else {
    const char *home = std::getenv("HOME");
    if (home && home[0] == '/') {
      out = home;
    } else {
      long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
      vp::Vector<char> buf(hint > 0 ? static_cast<std::size_t>(hint) : 16384);
      struct passwd pw, *found = nullptr;
      while (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &found) == ERANGE &&
             buf.size() < (1u << 20))
        buf.resize(buf.size() * 2);
      if (!found || !pw.pw_dir || pw.pw_dir[0] != '/') return false;
      out = pw.pw_dir;
    }
    out += "/.config";
  }
  out += "/vantlow";
  return true;
}

// Reads the file into bytes; false when it cannot be read as a property
// list file (not regular, too large, a read error).
bool ReadFile(int fd, String8 &bytes) {
  struct stat st;
  if (vp::sys::fstatat(fd, "", &st, AT_EMPTY_PATH) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<unsigned long long>(st.st_size) > kMaxFileBytes)
    return false;
  // The size is a hint: the file may change while we read, so read to the
  // end, one byte past the cap at most.
  bytes.resize(static_cast<std::size_t>(st.st_size) + 1);
  std::size_t used = 0;
  for (;;) {
    if (used == bytes.size()) {
      if (used > kMaxFileBytes) return false;
      bytes.resize(std::min(used * 2 + 1, kMaxFileBytes + 1));
    }
    ssize_t n = vp::sys::read(fd, bytes.data() + used, bytes.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  bytes.resize(used);
  return used <= kMaxFileBytes;
}

// Fills d.values from the file. A missing file is no values; a file that
// cannot be read is no values and marks the domain unreadable. Throws
// std::bad_alloc, and then marks nothing: a lack of memory says nothing
// about the file.
void Load(Domain &d) {
  vp::Ref<> values(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                             &kCFTypeDictionaryValueCallBacks));
  if (!values) throw std::bad_alloc();
  d.values = values;
  if (d.folder.empty()) return;
  FdGuard dir(vp::sys::openat(AT_FDCWD, d.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() < 0) {
    // No folder: nothing was ever saved. A folder we cannot open may hold a
    // file all the same, which a later save must not replace unseen.
    d.unreadable = errno != ENOENT;
    return;
  }
  FdGuard file(vp::sys::openat(dir.get(), d.fileName.c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.get() < 0) {
    d.unreadable = errno != ENOENT;
    return;
  }
  String8 bytes;
  if (!ReadFile(file.get(), bytes)) {
    d.unreadable = true;
    return;
  }
  vp::plist::Failure failure;
  vp::Ref<> plist(vp::plist::Read(bytes, kCFPropertyListImmutable, nullptr, failure));
  if (!plist || CFGetTypeID(plist.get()) != vp::kTypeIDDictionary) {
    d.unreadable = true;
    return;
  }
  vp::Ref<> copy(
      CFDictionaryCreateMutableCopy(nullptr, 0, static_cast<CFDictionaryRef>(plist.get())));
  if (!copy) throw std::bad_alloc();
  d.values = copy;
}

// The domain of an application ID, read on first use; null when the ID is
// not usable. With load false, only a domain already in memory is found.
// Throws std::bad_alloc.
Domain *Find(Store &store, CFStringRef appID, bool load) {
  const String16 *id = vp::Units(appID);
  if (!id) return nullptr;
  for (Domain &d : store.domains)
    if (d.appID == *id) return &d;
  if (!load) return nullptr;
  Domain d;
  if (!FileNameFor(*id, d.fileName)) return nullptr;
  d.appID = *id;
  if (!ConfigFolder(d.folder)) d.folder.clear();
  Load(d);
  store.domains.push_back(std::move(d));
  return &store.domains.back();
}

CFMutableDictionaryRef Values(const Domain &d) {
  return static_cast<CFMutableDictionaryRef>(const_cast<void *>(d.values.get()));
}

// Makes the folder and any missing parents, mode 0700.
bool MakeFolders(const String8 &path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    String8 prefix = path.substr(0, slash);
    if (vp::sys::mkdirat(AT_FDCWD, prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == String8::npos) return true;
  }
}

bool WriteAll(int fd, const UInt8 *p, std::size_t n) {
  while (n > 0) {
    ssize_t w = vp::sys::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return true;
}

std::atomic<unsigned long> gTempCounter{0};

// Set when a CFPreferencesSetAppValue could not be kept for lack of memory:
// the next synchronize says false rather than report the lost change as
// saved.
std::atomic<bool> gLostChange{false};

// Writes bytes over the domain's file atomically (see CFPreferences.h).
bool Save(Domain &d, const UInt8 *bytes, std::size_t length) {
  if (d.folder.empty()) return false;
  int dirFd = vp::sys::openat(AT_FDCWD, d.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0 && errno == ENOENT && MakeFolders(d.folder))
    dirFd = vp::sys::openat(AT_FDCWD, d.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  FdGuard dir(dirFd);
  if (dir.get() < 0) return false;
  // Made before the temporary file exists, so that a lack of memory cannot
  // leave one behind.
  String8 corrupt = d.fileName + kCorruptSuffix;

  // A name no other process or attempt uses: the process ID and a counter.
  // One left behind by a process that died with a reused ID is skipped.
  char temp[64];
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    std::snprintf(temp, sizeof temp, ".prefs-%ld-%lu.tmp", static_cast<long>(getpid()),
                  gTempCounter.fetch_add(1));
    fd = vp::sys::openat(dir.get(), temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                         0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return false;
  FdGuard file(fd);
  // fchmod: the umask may have taken bits away from 0600.
  bool written = vp::sys::fchmod(file.get(), 0600) == 0 && WriteAll(file.get(), bytes, length) &&
                 vp::sys::fsync(file.get()) == 0;
  if (!file.Close()) written = false;
  if (!written) {
    vp::sys::unlinkat(dir.get(), temp, 0);
    return false;
  }

  bool movedAside = false;
  if (d.unreadable) {
    if (vp::sys::renameat(dir.get(), d.fileName.c_str(), dir.get(), corrupt.c_str()) == 0) {
      movedAside = true;
    } else if (errno != ENOENT) {
      vp::sys::unlinkat(dir.get(), temp, 0);
      return false;
    }
  }
  if (vp::sys::renameat(dir.get(), temp, dir.get(), d.fileName.c_str()) != 0) {
    if (movedAside) vp::sys::renameat(dir.get(), corrupt.c_str(), dir.get(), d.fileName.c_str());
    vp::sys::unlinkat(dir.get(), temp, 0);
    return false;
  }
  d.unreadable = false; // what is there now is ours
  return vp::sys::fsync(dir.get()) == 0;
}

// The value of a key, retained; null when there is none.
vp::Ref<> Copy(CFStringRef key, CFStringRef appID) {
  if (CFGetTypeID(key) != vp::kTypeIDString) return vp::Ref<>();
  Store &store = TheStore();
  std::lock_guard<std::mutex> hold(store.lock);
  Domain *d = Find(store, appID, true);
  if (!d) return vp::Ref<>();
  return vp::Ref<>::Retain(CFDictionaryGetValue(Values(*d), key));
}

} // namespace

extern "C" {

CFPropertyListRef CFPreferencesCopyAppValue(CFStringRef key, CFStringRef applicationID) noexcept {
  return vp::Edge<CFPropertyListRef>(nullptr, [&] { return Copy(key, applicationID).release(); });
}

Boolean CFPreferencesGetAppBooleanValue(CFStringRef key, CFStringRef applicationID,
                                        Boolean *keyExistsAndHasValidFormat) noexcept {
  Boolean valid = false, result = false;
  vp::EdgeVoid([&] {
    vp::Ref<> v = Copy(key, applicationID);
    if (!v) return;
    if (CFGetTypeID(v.get()) == vp::kTypeIDBoolean) {
      valid = true;
      result = CFBooleanGetValue(static_cast<CFBooleanRef>(v.get()));
    } else if (CFGetTypeID(v.get()) == vp::kTypeIDNumber) {
      auto n = static_cast<CFNumberRef>(v.get());
      SInt64 i = 0;
      if (!CFNumberIsFloatType(n) && CFNumberGetValue(n, kCFNumberSInt64Type, &i) &&
          (i == 0 || i == 1)) {
        valid = true;
        result = i == 1;
      }
    }
  });
  if (keyExistsAndHasValidFormat) *keyExistsAndHasValidFormat = valid;
  return result;
}

CFIndex CFPreferencesGetAppIntegerValue(CFStringRef key, CFStringRef applicationID,
                                        Boolean *keyExistsAndHasValidFormat) noexcept {
  static_assert(sizeof(CFIndex) == sizeof(SInt64), "CFIndex is 64 bits wide here");
  Boolean valid = false;
  CFIndex result = 0;
  vp::EdgeVoid([&] {
    vp::Ref<> v = Copy(key, applicationID);
    if (!v || CFGetTypeID(v.get()) != vp::kTypeIDNumber) return;
    auto n = static_cast<CFNumberRef>(v.get());
    if (CFNumberIsFloatType(n)) {
      Float64 f = 0;
      CFNumberGetValue(n, kCFNumberFloat64Type, &f);
      // Whole numbers in [-2^63, 2^63) only.
      if (std::isfinite(f) && std::trunc(f) == f && f >= -9223372036854775808.0 &&
          f < 9223372036854775808.0) {
        valid = true;
        result = static_cast<CFIndex>(f);
      }
      return;
    }
    SInt64 i = 0;
    if (CFNumberGetValue(n, kCFNumberSInt64Type, &i)) {
      valid = true;
      result = static_cast<CFIndex>(i);
    }
  });
  if (keyExistsAndHasValidFormat) *keyExistsAndHasValidFormat = valid;
  return valid ? result : 0;
}

void CFPreferencesSetAppValue(CFStringRef key, CFPropertyListRef value,
                              CFStringRef applicationID) noexcept {
  if (CFGetTypeID(key) != vp::kTypeIDString) return;
  bool kept = vp::Edge<bool>(false, [&] {
    if (value && !vp::plist::IsPropertyList(value)) return true; // refused, not lost
    Store &store = TheStore();
    std::lock_guard<std::mutex> hold(store.lock);
    Domain *d = Find(store, applicationID, true);
    if (!d) return true; // an unusable ID: nothing to keep
    CFMutableDictionaryRef values = Values(*d);
    const void *old = CFDictionaryGetValue(values, key);
    if (!value) {
      if (!old) return true;
      CFDictionaryRemoveValue(values, key);
      d->dirty = true;
      return true;
    }
    bool same = old && CFEqual(old, value);
    CFDictionarySetValue(values, key, value);
    // The dictionary stays as it was when memory ran out.
    if (CFDictionaryGetValue(values, key) != value) return false;
    if (!same) d->dirty = true;
    return true;
  });
  if (!kept) gLostChange = true;
}

Boolean CFPreferencesAppSynchronize(CFStringRef applicationID) noexcept {
  if (gLostChange.exchange(false)) return false;
  return vp::Edge<Boolean>(false, [&]() -> Boolean {
    Store &store = TheStore();
    std::lock_guard<std::mutex> hold(store.lock);
    Domain *d = Find(store, applicationID, false);
    if (!d) {
      // Never read, so never changed: valid IDs have nothing to write.
      String8 name;
      const String16 *id = vp::Units(applicationID);
      return id && FileNameFor(*id, name);
    }
    if (!d->dirty) return true;
    vp::plist::Failure failure;
    vp::Ref<> xml(vp::plist::WriteXML(d->values.get(), failure));
    if (!xml) return false;
    auto data = static_cast<CFDataRef>(xml.get());
    if (!Save(*d, CFDataGetBytePtr(data), static_cast<std::size_t>(CFDataGetLength(data))))
      return false;
    d->dirty = false;
    return true;
  });
}

void VPPreferencesResetForTesting(void) noexcept {
  Store &store = TheStore();
  std::lock_guard<std::mutex> hold(store.lock);
  vp::Vector<Domain>().swap(store.domains);
  gLostChange = false;
}

} // extern "C"
