// Launch Services item flags (LSCopyItemInfoForRef) and the ".hidden" files
// of ordinary folders.
//
// An item is invisible when its name begins with "." or when the ".hidden"
// file of its folder lists it, as Linux file managers treat it. That file is
// read once per folder for the life of the process, and only when the
// folder holds one: one name per line (LF ends a line and nothing else is
// trimmed), a line longer than 255 bytes gives one name per 255-byte piece,
// a NUL byte ends a name. Names are compared as bytes, which is the same as
// comparing their lossless text forms. The file is untrusted: at most its
// first 1 MiB is read (a line cut by that limit is dropped), and bytes that
// are not text simply match nothing.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

#include <Carbon/LaunchServices.h>
#include <CoreFoundation/CFCollections.h>
#include <CoreFoundation/CFString.h>
#include <vantlow/files_testing.h>

#include "fsref.h"
#include "object.h"
#include "syscalls.h"

namespace vp::files {

struct HiddenNames {
  String8 bytes;                                         // the names, one after another
  Vector<std::pair<std::uint32_t, std::uint32_t>> names; // (offset, length), sorted by bytes

  std::string_view At(std::size_t i) const noexcept {
    return std::string_view(bytes.data() + names[i].first, names[i].second);
  }
  bool Contains(std::string_view name) const noexcept {
    std::size_t lo = 0, hi = names.size();
    while (lo < hi) {
      const std::size_t mid = lo + (hi - lo) / 2;
      const int c = At(mid).compare(name);
      if (c == 0) return true;
      if (c < 0)
        lo = mid + 1;
      else
        hi = mid;
    }
    return false;
  }
};

namespace {

constexpr std::size_t kHiddenFileLimit = 1 << 20;
constexpr std::size_t kPieceBytes = 255;

// Reads at most kHiddenFileLimit bytes of the folder's ".hidden" file. False
// when it cannot be read as a regular file.
bool ReadHiddenFile(int dirfd, String8 *out, bool *cut) {
  const int fd =
      sys::openat(dirfd, ".hidden", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct Closer {
    int fd;
    ~Closer() { sys::close(fd); }
  } closer{fd};
  struct stat st;
  if (sys::fstatat(fd, "", &st, AT_EMPTY_PATH) != 0 || !S_ISREG(st.st_mode)) return false;
  out->resize(kHiddenFileLimit + 1);
  std::size_t used = 0;
  while (used < out->size()) {
    const ssize_t n = sys::read(fd, out->data() + used, out->size() - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) break;
    used += static_cast<std::size_t>(n);
  }
  *cut = used > kHiddenFileLimit;
  out->resize(*cut ? kHiddenFileLimit : used);
  return true;
}

// Splits the file into names by the rules at the top of this file.
// Allocates in the caller's PermanentAllocationScope.
HiddenNames *ParseHiddenFile(std::string_view text, bool cut) {
  if (cut) {
    const std::size_t lastLF = text.rfind('\n');
    text = lastLF == std::string_view::npos ? std::string_view() : text.substr(0, lastLF + 1);
  }
  HiddenNames *hidden = New<HiddenNames>();
  try {
    hidden->bytes.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t end = text.find('\n', pos);
      if (end == std::string_view::npos) end = text.size();
      for (std::size_t piece = pos; piece < end; piece += kPieceBytes) {
        std::string_view name = text.substr(piece, std::min(kPieceBytes, end - piece));
        name = name.substr(0, name.find('\0'));
        if (name.empty()) continue; // the empty name matches no item
        hidden->names.emplace_back(static_cast<std::uint32_t>(hidden->bytes.size()),
                                   static_cast<std::uint32_t>(name.size()));
        hidden->bytes.append(name.data(), name.size());
      }
      pos = end + 1;
    }
    std::sort(hidden->names.begin(), hidden->names.end(), [&](const auto &a, const auto &b) {
      return std::string_view(hidden->bytes.data() + a.first, a.second) <
             std::string_view(hidden->bytes.data() + b.first, b.second);
    });
  } catch (...) {
    Delete(hidden);
    throw;
  }
  return hidden;
}

void ForgetHiddenNames(std::uint32_t folder) noexcept {
  if (const HiddenNames *names = NodeHiddenNames(folder)) {
    PermanentAllocationScope permanent;
    Delete(const_cast<HiddenNames *>(names));
    SetNodeHiddenNames(folder, nullptr);
  }
}

// Whether the item is the root of a mount: statx's mount-root attribute
// where the kernel reports it, else a device differing from its folder's.
OSErr IsMountRoot(int dirfd, const char *name, std::uint32_t folder, bool *out) noexcept {
  struct statx stx;
  if (sys::statx(dirfd, name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_INO, &stx) == 0) {
    if (stx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) {
      *out = (stx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
      return noErr;
    }
  } else if (errno != ENOSYS && errno != EINVAL) {
    return ErrnoToOSErr(errno);
  }
  struct stat st;
  if (sys::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) != 0)
    return ErrnoToOSErr(errno);
  *out = st.st_dev != NodeDevice(folder) ||
         (st.st_ino == NodeInode(folder) && st.st_dev == NodeDevice(folder));
  return noErr;
}

} // namespace

void NoteHiddenFile(std::uint32_t folder, bool present) noexcept {
  const HiddenState state = NodeHiddenState(folder);
  if (!present) {
    ForgetHiddenNames(folder);
    SetNodeHiddenState(folder, HiddenState::kAbsent);
  } else if (state == HiddenState::kUnknown || state == HiddenState::kAbsent) {
    SetNodeHiddenState(folder, HiddenState::kPresent);
  }
}

bool ListedInHiddenFile(std::uint32_t folder, std::string_view name) {
  HiddenState state = NodeHiddenState(folder);
  if (state == HiddenState::kAbsent) return false;
  int dirfd = -1;
  if (state != HiddenState::kLoaded && FolderDescriptor(folder, &dirfd) != noErr) return false;
  if (state == HiddenState::kUnknown) {
    // No listing told whether the folder holds one: ask once.
    struct stat st;
    if (sys::fstatat(dirfd, ".hidden", &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) return false; // not known; asked again next time
      SetNodeHiddenState(folder, HiddenState::kAbsent);
      return false;
    }
    state = S_ISREG(st.st_mode) ? HiddenState::kPresent : HiddenState::kAbsent;
    SetNodeHiddenState(folder, state);
    if (state == HiddenState::kAbsent) return false;
  }
  if (state == HiddenState::kPresent) {
    String8 text;
    bool cut = false;
    const bool read = ReadHiddenFile(dirfd, &text, &cut);
    PermanentAllocationScope permanent;
    // An unreadable file hides nothing, and is not read again.
    SetNodeHiddenNames(folder, read ? ParseHiddenFile(text, cut) : nullptr);
    SetNodeHiddenState(folder, HiddenState::kLoaded);
  }
  const HiddenNames *names = NodeHiddenNames(folder);
  return names && names->Contains(name);
}

} // namespace vp::files

using namespace vp::files;

extern "C" OSStatus LSCopyItemInfoForRef(const FSRef *inItemRef, LSRequestedInfo inWhichInfo,
                                         LSItemInfoRecord *outItemInfo) noexcept {
  if (!outItemInfo) return paramErr;
  std::memset(outItemInfo, 0, sizeof *outItemInfo);
  if (!inItemRef) return paramErr;
  std::lock_guard<FilesMutex> lock(FilesLock());
  LSItemInfoRecord info{};
  const OSStatus status = vp::Edge<OSStatus>(memFullErr, [&]() -> OSStatus {
    RefView view;
    if (OSErr err = DecodeRef(inItemRef, &view)) return err;
    if (!NodeAlive(view.node)) return fnfErr;
    NameBuffer buffer;
    const char *name = ItemName(view, &buffer);
    if (!name) return paramErr;
    Kind kind = view.isRoot ? kKindFolder : HintKind(view.hint);
    int dirfd = view.isRoot ? AT_FDCWD : -1;
    if (!view.isRoot && (kind == kKindUnknown || kind == kKindFolder)) {
      if (OSErr err = FolderDescriptor(view.node, &dirfd)) return err;
    }
    if (kind == kKindUnknown) {
      struct stat st;
      if (vp::sys::fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) != 0)
        return ErrnoToOSErr(errno);
      kind = KindFromMode(st.st_mode);
    }
    if (kind == kKindFile) info.flags |= kLSItemInfoIsPlainFile;
    if (kind == kKindLink) info.flags |= kLSItemInfoIsSymlink;
    if (kind == kKindFolder) {
      info.flags |= kLSItemInfoIsContainer;
      bool volume = view.isRoot;
      if (!volume) {
        if (OSErr err = IsMountRoot(dirfd, name, view.node, &volume)) return err;
      }
      if (volume) info.flags |= kLSItemInfoIsVolume;
    }
    if (!view.isRoot && (view.name.front() == '.' || ListedInHiddenFile(view.node, view.name)))
      info.flags |= kLSItemInfoIsInvisible;
    if (inWhichInfo & kLSRequestTypeCreator) {
      info.filetype = kLSUnknownType;
      info.creator = kLSUnknownCreator;
    }
    if (inWhichInfo & kLSRequestExtension) {
      const std::size_t dot = view.name.rfind('.');
      if (!view.isRoot && dot != std::string_view::npos && dot > 0 && dot + 1 < view.name.size()) {
        const std::string_view extension = view.name.substr(dot + 1);
        info.extension = VPStringCreateWithFileSystemBytes(
            nullptr, reinterpret_cast<const UInt8 *>(extension.data()),
            static_cast<CFIndex>(extension.size()));
        if (!info.extension) return memFullErr;
      }
    }
    return noErr;
  });
  if (status == noErr)
    *outItemInfo = info;
  else if (info.extension)
    CFRelease(info.extension);
  return status;
}

extern "C" CFSetRef VPHiddenNamesCreateFromDataForTesting(const UInt8 *bytes,
                                                          CFIndex length) noexcept {
  if (length < 0 || (!bytes && length != 0)) return nullptr;
  return vp::Edge<CFSetRef>(nullptr, [&]() -> CFSetRef {
    // What ReadHiddenFile would have read of a file of these bytes.
    const bool cut = static_cast<std::size_t>(length) > kHiddenFileLimit;
    const std::string_view text(reinterpret_cast<const char *>(bytes),
                                cut ? kHiddenFileLimit : static_cast<std::size_t>(length));
    struct Owned {
      HiddenNames *names;
      ~Owned() { vp::Delete(names); }
    } parsed{ParseHiddenFile(text, cut)};
    vp::Ref<> set(CFSetCreateMutable(nullptr, 0, &kCFTypeSetCallBacks));
    if (!set) throw std::bad_alloc();
    auto mutableSet = static_cast<CFMutableSetRef>(const_cast<void *>(set.get()));
    for (std::size_t i = 0; i < parsed.names->names.size(); ++i) {
      const std::string_view name = parsed.names->At(i);
      if (!parsed.names->Contains(name)) continue;
      vp::Ref<> text16(
          VPStringCreateWithFileSystemBytes(nullptr, reinterpret_cast<const UInt8 *>(name.data()),
                                            static_cast<CFIndex>(name.size())));
      if (!text16) throw std::bad_alloc();
      CFSetAddValue(mutableSet, text16.get());
      if (!CFSetContainsValue(mutableSet, text16.get())) throw std::bad_alloc();
    }
    return static_cast<CFSetRef>(set.release());
  });
}
