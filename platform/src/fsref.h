// The File Manager's insides, shared by its modules: the folder node table
// with its bounded descriptor cache, the byte layout of an FSRef, the
// errno-to-result mapping, and the catalog and listing helpers that the
// public calls are built from.
//
// An FSRef names an item as (folder node, name). Folders are interned once
// for the life of the process as nodes (parent node, name, device and inode);
// files are never interned, so memory grows with the folders seen, not with
// the files. Every system call about an item is made relative to a cached
// descriptor of its folder, so resolving a reference costs about one call
// and paths longer than PATH_MAX work.
//
// Locking: one process-wide lock (FilesLock) guards the node table, the
// spilled names and the per-device tables. Every function below that takes
// or returns node ids or descriptors expects it to be held by the caller.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <sys/stat.h>
#include <sys/types.h>

#include <Carbon/Files.h>

#include "alloc.h"
#include "one_thread.h"

namespace vp::files {

// ---- Results ----

// The one errno-to-result mapping of the File Manager: EACCES/EPERM ->
// afpAccessDenied, ENOENT/ENOTDIR/ELOOP/ESTALE -> fnfErr, ENAMETOOLONG ->
// bdNamErr, ENOMEM -> memFullErr, anything else -> ioErr.
OSErr ErrnoToOSErr(int err) noexcept;

// The File Manager's lock. Every call about an item takes it, several
// times per entry of a folder walk, so taking and giving it back while no
// other thread holds it is one atomic instruction each, inline (a plain
// store while the process has one thread); a thread that finds it held
// sleeps in the kernel (futex) until it is given back. Not recursive. Used
// through std::lock_guard<FilesMutex>.
class FilesMutex {
public:
  void lock() noexcept {
    if (OneThread()) {
      state_.store(kHeldAlone, std::memory_order_relaxed);
      return;
    }
    int expected = kFree;
    if (!state_.compare_exchange_strong(expected, kHeld, std::memory_order_acquire,
                                        std::memory_order_relaxed))
      LockContended();
  }
  // Gives back what lock took the way it took it: a lock taken while the
  // process had one thread still has one (nothing here makes a thread).
  void unlock() noexcept {
    if (state_.load(std::memory_order_relaxed) == kHeldAlone) {
      state_.store(kFree, std::memory_order_relaxed);
      return;
    }
    if (state_.exchange(kFree, std::memory_order_release) == kHeldWithWaiters) WakeOne();
  }

private:
  static constexpr int kFree = 0, kHeld = 1, kHeldWithWaiters = 2, kHeldAlone = 3;
  void LockContended() noexcept;
  void WakeOne() noexcept;
  std::atomic<int> state_{kFree};
};

FilesMutex &FilesLock() noexcept;

// ---- What a reference knows about its item ----

// Item kinds, from a listing's d_type or from a stat.
enum Kind : std::uint8_t {
  kKindUnknown = 0,
  kKindFile = 1,
  kKindFolder = 2,
  kKindLink = 3,
  kKindOther = 4, // devices, pipes, sockets
};
Kind KindFromDirentType(unsigned char dtype) noexcept;
Kind KindFromMode(mode_t mode) noexcept;

// The hint byte of a reference: what the listing (or the stat that made the
// reference) told about the item, so that asking again costs nothing.
constexpr std::uint8_t kHintKindMask = 0x07;
constexpr std::uint8_t kHintSidecarKnown = 0x08;   // whether "._<name>" exists was known
constexpr std::uint8_t kHintSidecarPresent = 0x10; // ... and it does
inline Kind HintKind(std::uint8_t hint) noexcept {
  return static_cast<Kind>(hint & kHintKindMask);
}

// ---- References ----

constexpr std::size_t kMaxNameBytes = 255; // NAME_MAX on every Linux file system we meet

// A decoded reference. name points into the reference or into the spilled
// name table (which never frees or moves a name), and is not zero-terminated.
struct RefView {
  std::uint32_t node = 0; // the folder holding the item (the root itself for the root)
  bool isRoot = false;    // names the root folder "/"
  std::uint8_t hint = 0;
  std::string_view name; // "/" for the root
  // The name zero-terminated where the reference (or the spilled name
  // table) already holds it so, which is every name but an inline one that
  // fills all 72 bytes; null otherwise (see ItemName).
  const char *cname = nullptr;
};

// paramErr unless ref is a reference this process made.
OSErr DecodeRef(const FSRef *ref, RefView *out) noexcept;
// Makes the reference to name inside folder node. Names that do not fit the
// 80 bytes are kept in the spilled name table. Throws std::bad_alloc.
void EncodeRef(std::uint32_t node, std::string_view name, std::uint8_t hint, FSRef *out);
void EncodeRootRef(FSRef *out) noexcept;
// The reference naming folder node itself (its parent and its name).
void EncodeFolderRef(std::uint32_t node, FSRef *out);

// A name as a zero-terminated C string for the *at calls.
struct NameBuffer {
  char text[kMaxNameBytes + 1];
  std::size_t size = 0;
  // False when the name is too long to be one on disk.
  bool Set(std::string_view name) noexcept;
  const char *c_str() const noexcept { return text; }
};

// The decoded name as a C string for the *at calls: in place when the
// reference holds it zero-terminated, else copied into buffer. Null when
// the name cannot be one on disk.
inline const char *ItemName(const RefView &view, NameBuffer *buffer) noexcept {
  if (view.cname) return view.cname;
  return buffer->Set(view.name) ? buffer->c_str() : nullptr;
}

// Makes a reference to the item at a POSIX path (relative paths start at
// the current folder). Takes the lock.
OSErr PathMakeRef(std::string_view path, FSRef *ref, bool *isDirectory) noexcept;
// The absolute path of the item ref names. Takes the lock. Throws
// std::bad_alloc.
OSErr RefMakePath(const FSRef *ref, String8 *out);

// ---- Folder nodes ----

// Whether the folder holds a ".hidden" file, and the names it lists.
enum class HiddenState : std::uint8_t { kUnknown, kAbsent, kPresent, kLoaded };

struct HiddenNames; // launch_services.cc

// Who a folder is: device and inode, and its birth time where the file
// system keeps one, since a folder made after another was removed often
// gets the same inode number.
struct Identity {
  dev_t dev = 0;
  ino_t ino = 0;
  std::int64_t birthSeconds = 0;
  std::uint32_t birthNanoseconds = 0;
  bool hasBirth = false;
  mode_t mode = 0;
  bool Same(const Identity &other) const noexcept;
};
// statx of name relative to dirfd (AT_EMPTY_PATH with "" for dirfd itself),
// never following a last link; an errno on failure.
int StatIdentity(int dirfd, const char *name, int flags, Identity *out) noexcept;

// The root node, made on first use (fnfErr/ioErr when "/" cannot be read).
OSErr RootNode(std::uint32_t *out) noexcept;
// The interned child folder name of parent with the given identity: the
// existing node when it is the same folder, else a new node (a node whose
// folder was replaced stops naming anything). Throws std::bad_alloc.
std::uint32_t InternFolder(std::uint32_t parent, std::string_view name, const Identity &identity);

std::uint32_t NodeParent(std::uint32_t node) noexcept;
std::string_view NodeName(std::uint32_t node) noexcept;
dev_t NodeDevice(std::uint32_t node) noexcept;
ino_t NodeInode(std::uint32_t node) noexcept;
// False once the folder is known to have been replaced or removed.
bool NodeAlive(std::uint32_t node) noexcept;

// A descriptor of the folder (O_PATH, or a listing's descriptor), lent until
// the next call that may open another folder. Opens it through its parents
// when it is not cached, and checks that it is still the same folder: fnfErr
// when it is gone or replaced.
OSErr FolderDescriptor(std::uint32_t node, int *fd) noexcept;
// Hands a descriptor of the folder to the cache (which closes it when full);
// closes it when the folder already has one.
void AdoptFolderDescriptor(std::uint32_t node, int fd) noexcept;

HiddenState NodeHiddenState(std::uint32_t node) noexcept;
void SetNodeHiddenState(std::uint32_t node, HiddenState state) noexcept;
const HiddenNames *NodeHiddenNames(std::uint32_t node) noexcept;
void SetNodeHiddenNames(std::uint32_t node, const HiddenNames *names) noexcept;

// ---- Devices ----

// A small negative number per device, stable for the life of the process.
FSVolumeRefNum VolumeRefNum(dev_t dev);
// The fragment size of the file system on dev (statvfs f_frsize), asked once
// per device through fd (a descriptor on that device).
OSErr FragmentSize(dev_t dev, int fd, std::uint64_t *out);

// ---- Catalog information ----

// One item addressed relative to an open folder.
struct ItemAt {
  int dirfd = -1;             // -1: the folder's cached descriptor, fetched when needed;
                              // AT_FDCWD with name "/" for the root
  const char *name = nullptr; // zero-terminated
  std::size_t nameSize = 0;
  std::uint32_t folder = 0; // the node of the folder holding it
  bool isRoot = false;
  std::uint8_t hint = 0;
};

// Every request bit this File Manager serves.
constexpr FSCatalogInfoBitmap kSupportedCatalogInfo =
    kFSCatInfoNodeFlags | kFSCatInfoVolume | kFSCatInfoParentDirID | kFSCatInfoNodeID |
    kFSCatInfoPermissions | kFSCatInfoValence | kFSCatInfoDataSizes | kFSCatInfoRsrcSizes |
    kFSCatInfoUserAccess;

// Fills what whichInfo asks for (info may be null only for kFSCatInfoNone)
// and the display name. fnfErr when the item is gone. Throws std::bad_alloc.
OSErr FillCatalogInfo(ItemAt &item, FSCatalogInfoBitmap whichInfo, FSCatalogInfo *info,
                      HFSUniStr255 *name);

// The name as UTF-16 through the lossless file-name mapping, cut to 255
// units for display. Throws std::bad_alloc.
void NameToHFS(std::string_view name, HFSUniStr255 *out);

// ---- Listings ----

// The whole listing of one folder, read with getdents64 into one buffer and
// sorted out once: which entries are items (not "." or "..", and not an
// AppleDouble file "._x" whose partner "x" is listed too), and the hint each
// item's reference carries.
class Listing {
public:
  Listing() noexcept = default;
  ~Listing();
  Listing(const Listing &) = delete;
  Listing &operator=(const Listing &) = delete;

  // Reads the folder open on fd (O_RDONLY|O_DIRECTORY) from its start.
  // Throws std::bad_alloc; other failures are results.
  OSErr Read(int fd);

  // The items, in the listing's order.
  std::size_t CountItems() const noexcept { return items_.size(); }
  std::string_view Name(std::size_t i) const noexcept {
    return std::string_view(buffer_ + items_[i].offset, items_[i].size);
  }
  // Whether the name is followed by a zero in the buffer (the kernel ends
  // every name so), so that it serves as a C string in place.
  bool Terminated(std::size_t i) const noexcept { return items_[i].terminated != 0; }
  // The hint a reference to the item carries.
  std::uint8_t Hint(std::size_t i) const noexcept { return items_[i].hint; }

  bool HasHiddenFile() const noexcept { return hasHidden_; }
  // The inode number the listing gives for "." (the folder itself), 0 when
  // it lists none.
  ino_t SelfInode() const noexcept { return selfInode_; }

private:
  struct Item {
    std::uint32_t offset; // of the name in the buffer
    std::uint16_t size;
    std::uint8_t hint;
    std::uint8_t terminated;
  };
  void SortOutSidecars();

  char *buffer_ = nullptr;
  std::size_t used_ = 0;
  std::size_t capacity_ = 0;
  bool hasHidden_ = false;
  ino_t selfInode_ = 0;
  Vector<Item> items_;
};

// ---- Launch Services ----

// Whether the folder's ".hidden" file lists name (read once per folder,
// and only when the folder holds one). Throws std::bad_alloc.
bool ListedInHiddenFile(std::uint32_t folder, std::string_view name);
// What a listing of the folder showed: whether it holds a ".hidden" file.
void NoteHiddenFile(std::uint32_t folder, bool present) noexcept;

} // namespace vp::files
