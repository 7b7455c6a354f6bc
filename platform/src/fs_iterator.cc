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

std::uint64_t HashBytes(std::string_view name) noexcept {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : name) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h ^ (h >> 31);
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
  if (!indexInBuffer_) Free(index_);
}

OSErr Listing::Read(int fd) {
  used_ = 0;
  hasHidden_ = false;
  sidecars_ = 0;
  if (!indexInBuffer_) Free(index_);
  index_ = nullptr;
  indexInBuffer_ = false;
  indexSize_ = 0;
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
  Entry entry;
  std::size_t next = 0;
  std::size_t entries = 0;
  for (std::size_t pos = 0; At(pos, &entry, &next); pos = next) {
    ++entries;
    if (entry.name == ".hidden" && entry.type != DT_DIR) hasHidden_ = true;
    if (IsSidecarName(entry.name)) ++sidecars_;
  }
  if (sidecars_) BuildIndex(entries);
  return noErr;
}

bool Listing::At(std::size_t pos, Entry *entry, std::size_t *next) const noexcept {
  if (pos + kRecordHeader >= used_) return false;
  std::uint16_t length = 0;
  std::memcpy(&length, buffer_ + pos + 16, sizeof length);
  if (length <= kRecordHeader || length > used_ - pos) return false;
  const char *name = buffer_ + pos + kRecordHeader;
  entry->name = std::string_view(name, strnlen(name, length - kRecordHeader));
  entry->type = static_cast<unsigned char>(buffer_[pos + 18]);
  *next = pos + length;
  return true;
}

void Listing::BuildIndex(std::size_t entries) {
  Entry entry;
  std::size_t next = 0;
  std::memset(partnerFilter_, 0, sizeof partnerFilter_);
  std::size_t size = 16;
  while (size < entries * 2)
    size *= 2;
  // The buffer always ends with room to spare (at least kMinimumRoom), which
  // holds the index of most folders without a block of its own.
  const std::size_t bytes = size * sizeof(std::uint32_t);
  const std::size_t start = (used_ + alignof(std::uint32_t) - 1) & ~(alignof(std::uint32_t) - 1);
  if (start <= capacity_ && bytes <= capacity_ - start) {
    index_ = reinterpret_cast<std::uint32_t *>(buffer_ + start);
    indexInBuffer_ = true;
  } else {
    index_ = static_cast<std::uint32_t *>(Allocate(bytes));
    if (!index_) throw std::bad_alloc();
  }
  std::memset(index_, 0, bytes);
  indexSize_ = size;
  for (std::size_t pos = 0; At(pos, &entry, &next); pos = next) {
    if (IsSidecarName(entry.name) && IsRegularOrUnknown(entry.type)) {
      const std::size_t bit = HashBytes(entry.name.substr(2)) % kFilterBits;
      partnerFilter_[bit / 64] |= std::uint64_t{1} << (bit % 64);
    }
    std::size_t i = HashBytes(entry.name) & (size - 1);
    while (index_[i])
      i = (i + 1) & (size - 1);
    index_[i] = static_cast<std::uint32_t>(pos + 1);
  }
}

bool Listing::Contains(std::string_view name, bool regularOnly) const noexcept {
  if (!index_) return false;
  for (std::size_t i = HashBytes(name) & (indexSize_ - 1); index_[i];
       i = (i + 1) & (indexSize_ - 1)) {
    Entry entry;
    std::size_t next = 0;
    if (At(index_[i] - 1, &entry, &next) && entry.name == name)
      return !regularOnly || IsRegularOrUnknown(entry.type);
  }
  return false;
}

bool Listing::IsItem(const Entry &entry) const noexcept {
  if (entry.name == "." || entry.name == ".." || entry.name.empty()) return false;
  if (sidecars_ && IsSidecarName(entry.name) && IsRegularOrUnknown(entry.type) &&
      Contains(entry.name.substr(2), false))
    return false;
  return true;
}

std::uint8_t Listing::HintFor(const Entry &entry) const noexcept {
  std::uint8_t hint = KindFromDirentType(entry.type) | kHintSidecarKnown;
  if (!sidecars_ || entry.name.size() + 2 > kMaxNameBytes) return hint;
  const std::size_t bit = HashBytes(entry.name) % kFilterBits;
  if (!(partnerFilter_[bit / 64] >> (bit % 64) & 1)) return hint;
  char sidecar[kMaxNameBytes + 1];
  sidecar[0] = '.';
  sidecar[1] = '_';
  std::memcpy(sidecar + 2, entry.name.data(), entry.name.size());
  if (Contains(std::string_view(sidecar, entry.name.size() + 2), true)) hint |= kHintSidecarPresent;
  return hint;
}

std::size_t Listing::CountItems() const noexcept {
  std::size_t count = 0;
  Entry entry;
  std::size_t next = 0;
  for (std::size_t pos = 0; At(pos, &entry, &next); pos = next)
    if (IsItem(entry)) ++count;
  return count;
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
  std::size_t cursor = 0; // byte offset of the next entry in the listing
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
  ItemCount count = 0;
  while (count < maximumObjects) {
    Listing::Entry entry;
    std::size_t next = 0;
    if (!listing.At(it.cursor, &entry, &next)) {
      it.cursor = listing.end();
      break;
    }
    if (!listing.IsItem(entry)) {
      it.cursor = next;
      continue;
    }
    // The kernel zero-terminates each name inside its record, so the
    // listing's bytes serve as the C string; a record without the zero is
    // copied.
    NameBuffer buffer;
    ItemAt item;
    item.dirfd = it.fd;
    item.name = entry.name.data();
    if (it.cursor + kRecordHeader + entry.name.size() >= next) {
      buffer.Set(entry.name);
      item.name = buffer.c_str();
    }
    item.nameSize = entry.name.size();
    item.folder = it.node;
    item.hint = listing.HintFor(entry);
    const OSErr err = vp::Edge<OSErr>(memFullErr, [&]() -> OSErr {
      if (whichInfo || names) {
        FSCatalogInfo *info = catalogInfos ? &catalogInfos[count] : nullptr;
        if (OSErr e = FillCatalogInfo(item, whichInfo, info, names ? &names[count] : nullptr))
          return e;
      }
      if (refs) EncodeRef(it.node, entry.name, item.hint, &refs[count]);
      return noErr;
    });
    if (err == fnfErr) { // gone since the listing: nothing to hand out
      it.cursor = next;
      continue;
    }
    if (err != noErr) {
      // The entries of this batch so far are good; the failing one is
      // tried again, alone, by the next call, which then reports the error.
      if (count > 0) break;
      return err;
    }
    ++count;
    it.cursor = next;
  }
  // Step over what is not an item, so the last batch carries the end.
  for (;;) {
    Listing::Entry entry;
    std::size_t next = 0;
    if (!listing.At(it.cursor, &entry, &next)) {
      it.cursor = listing.end();
      break;
    }
    if (listing.IsItem(entry)) break;
    it.cursor = next;
  }
  *actualObjects = count;
  return it.cursor >= listing.end() ? errFSNoMoreItems : noErr;
}

} // extern "C"
