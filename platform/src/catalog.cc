// Catalog information: FSGetCatalogInfo and the filling of one item's
// FSCatalogInfo that the folder iterator shares. A request costs only what
// its bits need: the node flags of an item whose type a listing reported
// cost nothing, the sizes one fstatat, the resource fork one more open of
// the AppleDouble file when there is one, the access byte one faccessat.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "appledouble.h"
#include "cf_string_internal.h"
#include "fsref.h"
#include "syscalls.h"

namespace vp::files {
namespace {

constexpr FSCatalogInfoBitmap kNeedsStat =
    kFSCatInfoVolume | kFSCatInfoNodeID | kFSCatInfoPermissions | kFSCatInfoDataSizes;
constexpr FSCatalogInfoBitmap kNeedsKind =
    kFSCatInfoNodeFlags | kFSCatInfoRsrcSizes | kFSCatInfoValence | kFSCatInfoDataSizes;

// Errors that deny one right rather than say the item cannot be asked about.
bool DeniesRight(int err) noexcept {
  return err == EACCES || err == EROFS || err == ETXTBSY || err == EPERM;
}

// The effective rights of this process, as the kernel answers them (ACLs,
// read-only mounts and root included): one call when every right is
// granted, single rights only when not.
OSErr UserAccess(int dirfd, const char *name, UInt8 *out) noexcept {
  constexpr int kFlags = AT_EACCESS | AT_SYMLINK_NOFOLLOW;
  if (sys::faccessat(dirfd, name, R_OK | W_OK | X_OK, kFlags) == 0) {
    *out = kioACAccessUserReadMask | kioACAccessUserWriteMask | kioACAccessUserSearchMask;
    return noErr;
  }
  if (!DeniesRight(errno)) return ErrnoToOSErr(errno);
  static constexpr struct {
    int mode;
    UInt8 bit;
  } kRights[] = {{R_OK, kioACAccessUserReadMask},
                 {W_OK, kioACAccessUserWriteMask},
                 {X_OK, kioACAccessUserSearchMask}};
  UInt8 bits = 0;
  for (const auto &right : kRights) {
    if (sys::faccessat(dirfd, name, right.mode, kFlags) == 0)
      bits |= right.bit;
    else if (!DeniesRight(errno))
      return ErrnoToOSErr(errno);
  }
  *out = bits;
  return noErr;
}

// The number of items a folder lists (partnered AppleDouble files left out).
OSErr Valence(int dirfd, const char *name, UInt32 *out) {
  const int fd = sys::openat(dirfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return ErrnoToOSErr(errno);
  struct Closer {
    int fd;
    ~Closer() { sys::close(fd); }
  } closer{fd};
  Listing listing;
  if (OSErr err = listing.Read(fd)) return err;
  const std::size_t count = listing.CountItems();
  *out = count > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<UInt32>(count);
  return noErr;
}

// The descriptor of the item's folder, opened when first needed.
OSErr Dir(ItemAt &item, int *fd) noexcept {
  if (item.dirfd == -1) {
    if (OSErr err = FolderDescriptor(item.folder, &item.dirfd)) return err;
  }
  *fd = item.dirfd;
  return noErr;
}

} // namespace

void NameToHFS(std::string_view name, HFSUniStr255 *out) {
  bool ascii = true;
  for (unsigned char c : name)
    if (c >= 0x80) ascii = false;
  std::size_t n = 0;
  if (ascii) {
    n = name.size() < 255 ? name.size() : 255;
    for (std::size_t i = 0; i < n; ++i)
      out->unicode[i] = static_cast<unsigned char>(name[i]);
  } else {
    const String16 units = DecodeFileName(name);
    n = units.size() < 255 ? units.size() : 255;
    // Never end a shortened name with half of a surrogate pair.
    if (n < units.size() && n > 0 && units[n - 1] >= 0xD800 && units[n - 1] <= 0xDBFF &&
        units[n] >= 0xDC00 && units[n] <= 0xDFFF)
      --n;
    for (std::size_t i = 0; i < n; ++i)
      out->unicode[i] = units[i];
  }
  out->length = static_cast<UInt16>(n);
}

OSErr FillCatalogInfo(ItemAt &item, FSCatalogInfoBitmap whichInfo, FSCatalogInfo *info,
                      HFSUniStr255 *name) {
  Kind kind = item.isRoot ? kKindFolder : HintKind(item.hint);
  struct stat st;
  const bool needStat =
      (whichInfo & kNeedsStat) || (kind == kKindUnknown && (whichInfo & kNeedsKind));
  int dirfd = -1;
  if (needStat) {
    if (OSErr err = Dir(item, &dirfd)) return err;
    if (sys::fstatat(dirfd, item.name, &st, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) != 0)
      return ErrnoToOSErr(errno);
    kind = KindFromMode(st.st_mode);
  }
  const bool folder = kind == kKindFolder;
  if (whichInfo & kFSCatInfoNodeFlags) info->nodeFlags = folder ? kFSNodeIsDirectoryMask : 0;
  if (whichInfo & kFSCatInfoVolume) info->volume = VolumeRefNum(st.st_dev);
  if (whichInfo & kFSCatInfoParentDirID)
    info->parentDirID = item.isRoot ? 1 : static_cast<UInt32>(NodeInode(item.folder));
  if (whichInfo & kFSCatInfoNodeID) info->nodeID = static_cast<UInt32>(st.st_ino);
  if (whichInfo & kFSCatInfoPermissions) {
    info->permissions.userID = st.st_uid;
    info->permissions.groupID = st.st_gid;
    info->permissions.reserved1 = 0;
    info->permissions.mode = static_cast<UInt16>(st.st_mode);
    info->permissions.reserved2 = 0;
  }
  if (whichInfo & kFSCatInfoUserAccess) {
    if (OSErr err = Dir(item, &dirfd)) return err;
    if (OSErr err = UserAccess(dirfd, item.name, &info->permissions.userAccess)) return err;
  }
  if (whichInfo & kFSCatInfoDataSizes) {
    // A folder has no data fork; a link's is what lstat says.
    info->dataLogicalSize = folder ? 0 : static_cast<UInt64>(st.st_size);
    info->dataPhysicalSize = folder ? 0 : static_cast<UInt64>(st.st_blocks) * 512;
  }
  if (whichInfo & kFSCatInfoRsrcSizes) {
    ForkSizes fork;
    const bool knownAbsent = (item.hint & kHintSidecarKnown) && !(item.hint & kHintSidecarPresent);
    if (kind == kKindFile && !item.isRoot && !knownAbsent) {
      if (OSErr err = Dir(item, &dirfd)) return err;
      if (OSErr err = ResourceForkSizes(dirfd, item.name, item.nameSize, &fork)) return err;
    }
    info->rsrcLogicalSize = fork.logical;
    info->rsrcPhysicalSize = fork.physical;
  }
  if (whichInfo & kFSCatInfoValence) {
    info->valence = 0;
    if (folder) {
      if (OSErr err = Dir(item, &dirfd)) return err;
      if (OSErr err = Valence(dirfd, item.name, &info->valence)) return err;
    }
  }
  if (name) NameToHFS(std::string_view(item.name, item.nameSize), name);
  return noErr;
}

} // namespace vp::files

using namespace vp::files;

extern "C" OSErr FSGetCatalogInfo(const FSRef *ref, FSCatalogInfoBitmap whichInfo,
                                  FSCatalogInfo *catalogInfo, HFSUniStr255 *outName,
                                  FSSpecPtr fsSpec, FSRef *parentRef) noexcept {
  if (!ref || fsSpec || (whichInfo && !catalogInfo) || (whichInfo & ~kSupportedCatalogInfo))
    return paramErr;
  std::lock_guard<FilesMutex> lock(FilesLock());
  return vp::Edge<OSErr>(memFullErr, [&]() -> OSErr {
    RefView view;
    if (OSErr err = DecodeRef(ref, &view)) return err;
    if (!NodeAlive(view.node)) return fnfErr;
    // A walk asks every item for its node flags alone, and the listing
    // that made the reference already told them.
    if (whichInfo == kFSCatInfoNodeFlags && !outName && !parentRef) {
      const Kind kind = view.isRoot ? kKindFolder : HintKind(view.hint);
      if (kind != kKindUnknown) {
        catalogInfo->nodeFlags = kind == kKindFolder ? kFSNodeIsDirectoryMask : 0;
        return noErr;
      }
    }
    NameBuffer buffer;
    ItemAt item;
    item.name = ItemName(view, &buffer);
    if (!item.name) return paramErr;
    item.nameSize = view.name.size();
    item.folder = view.node;
    item.isRoot = view.isRoot;
    item.hint = view.hint;
    if (view.isRoot) item.dirfd = AT_FDCWD;
    if (OSErr err = FillCatalogInfo(item, whichInfo, catalogInfo, outName)) return err;
    if (parentRef) EncodeFolderRef(view.node, parentRef);
    return noErr;
  });
}
