// Flat folder iteration: FSOpenIterator, FSGetCatalogInfoBulk and
// FSCloseIterator, and the folder listing they hand out.
//
// Opening an iterator reads the folder's whole listing with getdents64 into
// one buffer that the iterator owns, so every entry is known before the first
// batch: an AppleDouble file "._x" whose partner "x" is listed is the
// partner's resource fork and is left out, and each reference carries what
// the listing told (the type, whether a sidecar exists), which later calls
// use instead of asking the disk again. Batches then cost one fstatat per
// entry only when the request needs it, and nothing is allocated per entry:
// the buffer goes with the iterator.
#include <cerrno>
#include <cstring>
#include <fcntl.h>

#include <vantlow/platform_testing.h>

#include "fsref.h"
#include "syscalls.h"

namespace vp::files {
namespace {

constexpr std::size_t kInitialBuffer = 32 * 1024;
constexpr std::size_t kMinimumRoom = 8 * 1024; // a few of the largest records
constexpr std::size_t kRecordHeader = 19;      // d_ino, d_off, d_reclen, d_type

bool IsRegularOrUnknown(unsigned char type) noexcept {
  return type == DT_REG || type == DT_UNKNOWN;
}

bool IsSidecarName(std::string_view name) noexcept {
  return name.size() > 2 && name[0] == '.' && name[1] == '_';
}

// A hash of a name for the listing's own table, which compares names on a
// match anyway: eight bytes at a time, each word mixed in by a multiply.
std::uint64_t HashBytes(std::string_view name) noexcept {
  std::uint64_t h = 0x9E3779B97F4A7C15ull ^ name.size();
  const char *p = name.data();
  std::size_t n = name.size();
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    h = (h ^ word) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 32;
  }
  if (n > 0) {
    std::uint64_t word = 0;
    for (std::size_t i = 0; i < n; ++i)
      word |= std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
    h = (h ^ word) * 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 32;
  }
  return h ^ (h >> 29);
}

// Listing buffers. A walk lists one folder after another, and a fresh
// buffer of tens of KiB per folder makes the C allocator sort out all the
// small blocks just freed (each large request consolidates them), which
// then costs every small allocation of the next listing. So the buffer of
// the last listing is kept as a spare for the next one. These buffers are
// process-wide, allocated and freed in a PermanentAllocationScope, and the
// lock guards the spare; the fault injector still reaches every listing
// through one probe allocation.
constexpr std::size_t kSpareLimit = 1 << 20; // a larger buffer is not kept
char *gSpare = nullptr;
std::size_t gSpareSize = 0;

void FreeBuffer(char *buffer) noexcept {
  PermanentAllocationScope permanent;
  Free(buffer);
}

} // namespace

Listing::~Listing() {
  if (buffer_ && capacity_ <= kSpareLimit && capacity_ > gSpareSize) {
    FreeBuffer(gSpare);
    gSpare = buffer_;
    gSpareSize = capacity_;
  } else {
    FreeBuffer(buffer_);
  }
}

OSErr Listing::Read(int fd) {
  used_ = 0;
  hasHidden_ = false;
  selfInode_ = 0;
  items_.clear();
  if (!VPFaultProbe()) throw std::bad_alloc();
  if (!buffer_ && gSpare) {
    buffer_ = gSpare;
    capacity_ = gSpareSize;
    gSpare = nullptr;
    gSpareSize = 0;
  }
  for (;;) {
    if (capacity_ - used_ < kMinimumRoom) {
      const std::size_t bigger = capacity_ ? capacity_ * 2 : kInitialBuffer;
      if (bigger > 0xFFFFFFF0u) return ioErr; // offsets are kept in 32 bits
      char *grown = nullptr;
      {
        PermanentAllocationScope permanent;
        grown = static_cast<char *>(Allocate(bigger));
      }
      if (!grown) throw std::bad_alloc();
      if (used_) std::memcpy(grown, buffer_, used_);
      FreeBuffer(buffer_);
      buffer_ = grown;
      capacity_ = bigger;
    }
    const long n = sys::getdents(fd, buffer_ + used_, capacity_ - used_);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoToOSErr(errno);
    }
    if (n == 0) break;
    used_ += static_cast<std::size_t>(n);
  }

  // Records: d_ino (8 bytes), d_off (8), d_reclen (2), d_type (1), the name.
  // The kernel ends each name with one zero and pads the record to 8 bytes
  // (the padding is not cleared), and a name holds no zero: so the name's
  // end lies in the record's last 8 bytes, and the search starts there.
  std::size_t records = 0;
  for (std::size_t pos = 0; pos + kRecordHeader < used_;) {
    std::uint16_t length = 0;
    std::memcpy(&length, buffer_ + pos + 16, sizeof length);
    if (length <= kRecordHeader || length > used_ - pos) break;
    ++records;
    pos += length;
  }
  items_.reserve(records);
  std::size_t sidecars = 0;
  for (std::size_t pos = 0; records > 0; --records) {
    std::uint16_t length = 0;
    std::memcpy(&length, buffer_ + pos + 16, sizeof length);
    const char *name = buffer_ + pos + kRecordHeader;
    const std::size_t room = length - kRecordHeader;
    std::size_t size = room > 8 ? room - 8 : 0;
    while (size < room && name[size] != '\0')
      ++size;
    const auto type = static_cast<unsigned char>(buffer_[pos + 18]);
    const std::string_view view(name, size);
    if (view == "." || view == ".." || view.empty() || size > kMaxNameBytes) {
      // "." names the folder itself; a record with no name or a name too
      // long for any folder cannot be an item.
      if (view == ".") std::memcpy(&selfInode_, buffer_ + pos, sizeof(std::uint64_t));
      pos += length;
      continue;
    }
    if (view == ".hidden" && type != DT_DIR) hasHidden_ = true;
    if (IsSidecarName(view) && IsRegularOrUnknown(type)) ++sidecars;
    items_.push_back(Item{static_cast<std::uint32_t>(pos + kRecordHeader),
                          static_cast<std::uint16_t>(size),
                          static_cast<std::uint8_t>(KindFromDirentType(type) | kHintSidecarKnown),
                          static_cast<std::uint8_t>(size < room)});
    pos += length;
  }
  if (sidecars) SortOutSidecars();
  return noErr;
}

// Leaves out each "._x" whose partner "x" is listed (it is x's resource fork,
// not an item) and marks each partner as having one. Regular files (or
// entries of unknown type) named "._x" count as sidecars.
void Listing::SortOutSidecars() {
  const std::size_t count = items_.size();
  std::size_t size = 16;
  while (size < count * 2)
    size *= 2;
  Vector<std::uint32_t> index(size, 0); // item number + 1, open addressing
  // One bit per hash of the partner name "x" of each "._x": most entries of
  // a folder with sidecars have none, and a clear bit says so without
  // building the sidecar's name and looking it up.
  constexpr std::size_t kFilterBits = 1024;
  std::uint64_t partners[kFilterBits / 64] = {};
  auto isSidecar = [&](std::size_t i) {
    const Kind kind = HintKind(items_[i].hint);
    return IsSidecarName(Name(i)) && (kind == kKindFile || kind == kKindUnknown);
  };
  Vector<std::uint64_t> hashes(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view name = Name(i);
    if (isSidecar(i)) {
      const std::size_t bit = HashBytes(name.substr(2)) % kFilterBits;
      partners[bit / 64] |= std::uint64_t{1} << (bit % 64);
    }
    hashes[i] = HashBytes(name);
    std::size_t slot = hashes[i] & (size - 1);
    while (index[slot])
      slot = (slot + 1) & (size - 1);
    index[slot] = static_cast<std::uint32_t>(i + 1);
  }
  // The item named name, or count when none is; sidecarsOnly asks for a
  // sidecar (a regular file or an entry of unknown type).
  auto find = [&](std::string_view name, bool sidecarsOnly) {
    for (std::size_t slot = HashBytes(name) & (size - 1); index[slot];
         slot = (slot + 1) & (size - 1)) {
      const std::size_t i = index[slot] - 1;
      if (Name(i) == name) return !sidecarsOnly || isSidecar(i) ? i : count;
    }
    return count;
  };
  constexpr std::uint8_t kDrop = 0x80; // marks a partnered sidecar until the compaction
  char sidecar[kMaxNameBytes + 1];
  sidecar[0] = '.';
  sidecar[1] = '_';
  for (std::size_t i = 0; i < count; ++i) {
    const std::string_view name = Name(i);
    if (isSidecar(i) && find(name.substr(2), false) != count) {
      items_[i].hint |= kDrop;
      continue;
    }
    if (name.size() + 2 > kMaxNameBytes) continue;
    const std::size_t bit = hashes[i] % kFilterBits;
    if (!(partners[bit / 64] >> (bit % 64) & 1)) continue;
    std::memcpy(sidecar + 2, name.data(), name.size());
    if (find(std::string_view(sidecar, name.size() + 2), true) != count)
      items_[i].hint |= kHintSidecarPresent;
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < count; ++i)
    if (!(items_[i].hint & kDrop)) items_[kept++] = items_[i];
  items_.resize(kept);
}

} // namespace vp::files

struct OpaqueFSIterator {
  OpaqueFSIterator() noexcept = default;
  OpaqueFSIterator(const OpaqueFSIterator &) = delete;
  OpaqueFSIterator &operator=(const OpaqueFSIterator &) = delete;
  ~OpaqueFSIterator() {
    if (fd >= 0) vp::sys::close(fd);
  }
  int fd = -1;            // the folder, open for reading
  std::uint32_t node = 0; // its node: the folder of every reference handed out
  vp::files::Listing listing;
  std::size_t cursor = 0; // the next item of the listing
};

using namespace vp::files;

namespace {

struct IteratorHolder {
  OpaqueFSIterator *p = nullptr;
  ~IteratorHolder() { vp::Delete(p); }
};

// Opens the folder ref names for reading and interns its node.
OSErr OpenFolder(const RefView &view, OpaqueFSIterator *it) {
  int dirfd = AT_FDCWD;
  NameBuffer name;
  if (view.isRoot) {
    name.Set("/");
  } else {
    if (!NodeAlive(view.node)) return fnfErr;
    if (OSErr err = FolderDescriptor(view.node, &dirfd)) return err;
    if (!name.Set(view.name)) return paramErr;
  }
  it->fd = vp::sys::openat(dirfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (it->fd < 0) return ErrnoToOSErr(errno);
  Identity identity;
  if (const int err = StatIdentity(it->fd, "", AT_EMPTY_PATH, &identity)) return ErrnoToOSErr(err);
  if (view.isRoot) return RootNode(&it->node);
  it->node = InternFolder(view.node, view.name, identity);
  return noErr;
}

} // namespace

extern "C" {

OSErr FSOpenIterator(const FSRef *container, FSIteratorFlags iteratorFlags,
                     FSIterator *iterator) noexcept {
  if (!iterator) return paramErr;
  *iterator = nullptr;
  if (!container) return paramErr;
  if (iteratorFlags == kFSIterateSubtree) return errFSIteratorNotSupported;
  if (iteratorFlags != kFSIterateFlat) return paramErr;
  std::lock_guard<FilesMutex> lock(FilesLock());
  return vp::Edge<OSErr>(memFullErr, [&]() -> OSErr {
    RefView view;
    if (OSErr err = DecodeRef(container, &view)) return err;
    IteratorHolder holder;
    holder.p = vp::New<OpaqueFSIterator>();
    if (OSErr err = OpenFolder(view, holder.p)) return err;
    if (OSErr err = holder.p->listing.Read(holder.p->fd)) return err;
    NoteHiddenFile(holder.p->node, holder.p->listing.HasHiddenFile());
    *iterator = holder.p;
    holder.p = nullptr;
    return noErr;
  });
}

OSErr FSCloseIterator(FSIterator iterator) noexcept {
  if (!iterator) return paramErr;
  std::lock_guard<FilesMutex> lock(FilesLock());
  // The folder's descriptor is worth keeping: the items just listed are
  // about to be asked about relative to it.
  AdoptFolderDescriptor(iterator->node, iterator->fd);
  iterator->fd = -1;
  vp::Delete(iterator);
  return noErr;
}

OSErr FSGetCatalogInfoBulk(FSIterator iterator, ItemCount maximumObjects, ItemCount *actualObjects,
                           Boolean *containerChanged, FSCatalogInfoBitmap whichInfo,
                           FSCatalogInfo *catalogInfos, FSRef *refs, FSSpecPtr specs,
                           HFSUniStr255 *names) noexcept {
  if (actualObjects) *actualObjects = 0;
  if (containerChanged) *containerChanged = false;
  if (!iterator || !actualObjects || specs || maximumObjects == 0 || (whichInfo && !catalogInfos) ||
      (whichInfo & ~kSupportedCatalogInfo))
    return paramErr;
  std::lock_guard<FilesMutex> lock(FilesLock());
  OpaqueFSIterator &it = *iterator;
  const Listing &listing = it.listing;
  const std::size_t items = listing.CountItems();
  ItemCount count = 0;
  while (count < maximumObjects && it.cursor < items) {
    const std::size_t i = it.cursor;
    const std::string_view name = listing.Name(i);
    NameBuffer buffer;
    ItemAt item;
    item.dirfd = it.fd;
    item.name = name.data();
    if (!listing.Terminated(i)) {
      buffer.Set(name);
      item.name = buffer.c_str();
    }
    item.nameSize = name.size();
    item.folder = it.node;
    item.hint = listing.Hint(i);
    const OSErr err = vp::Edge<OSErr>(memFullErr, [&]() -> OSErr {
      if (whichInfo || names) {
        FSCatalogInfo *info = catalogInfos ? &catalogInfos[count] : nullptr;
        if (OSErr e = FillCatalogInfo(item, whichInfo, info, names ? &names[count] : nullptr))
          return e;
      }
      if (refs) EncodeRef(it.node, name, item.hint, &refs[count]);
      return noErr;
    });
    if (err == fnfErr) { // gone since the listing: nothing to hand out
      ++it.cursor;
      continue;
    }
    if (err != noErr) {
      // The entries of this batch so far are good; the failing one is
      // tried again, alone, by the next call, which then reports the error.
      if (count > 0) break;
      return err;
    }
    ++count;
    ++it.cursor;
  }
  *actualObjects = count;
  return it.cursor >= items ? errFSNoMoreItems : noErr;
}

} // extern "C"
