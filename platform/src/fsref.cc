// File references: the folder node table with its bounded descriptor cache,
// the 80-byte reference layout, and the conversions between references and
// POSIX paths (FSPathMakeRef, FSRefMakePath, FSCompareFSRefs).
//
// A reference is (folder node, name, hint). Folders are interned once, so a
// reference stays valid on its own for the life of the process; resolving it
// is one *at call relative to the folder's cached descriptor. The cache is
// an LRU list bounded far below the descriptor limit: an evicted folder is
// reopened through its parents, and its device and inode are checked so a
// folder replaced meanwhile is reported gone instead of read in its place.
#include "fsref.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <vantlow/files_testing.h>

#include "syscalls.h"

namespace vp::files {
namespace {

// ---- Reference layout ----
//
//   0..3   folder node id (little-endian)
//   4      magic
//   5      form: inline name, spilled name, or the root itself
//   6      hint (kind, sidecar)
//   7      inline name length
//   8..79  the name (inline), or the spilled name's id (8..11); zero after
//
// Unused bytes are zero, so two references made the same way are equal byte
// for byte.
constexpr std::uint8_t kMagic = 0xF5;
enum Form : std::uint8_t { kFormInline = 1, kFormSpilled = 2, kFormRoot = 3 };
constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kInlineCapacity = sizeof(FSRef) - kHeaderSize; // 72 bytes

std::uint32_t LoadU32(const UInt8 *p) noexcept {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void StoreU32(UInt8 *p, std::uint32_t v) noexcept {
  p[0] = static_cast<UInt8>(v);
  p[1] = static_cast<UInt8>(v >> 8);
  p[2] = static_cast<UInt8>(v >> 16);
  p[3] = static_cast<UInt8>(v >> 24);
}

// Every reference is decoded on every File Manager call, so these checks
// work a word at a time rather than byte by byte.
std::uint64_t LoadU64(const UInt8 *p) noexcept {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Whether the inline name area holds nothing after its first length bytes.
bool PaddingZero(const UInt8 *area, std::size_t length) noexcept {
  static_assert(kInlineCapacity % 8 == 0);
  std::uint64_t stray = 0;
#pragma GCC unroll 9
  for (std::size_t i = 0; i < kInlineCapacity; i += 8) {
    if (i + 8 <= length) continue;
    const std::uint64_t word = LoadU64(area + i);
    // Little-endian: byte k of the word is bits 8k..8k+7.
    stray |= i >= length ? word : word & (~std::uint64_t{0} << (8 * (length - i)));
  }
  return stray == 0;
}

bool SameBytes(const FSRef *a, const FSRef *b) noexcept {
  static_assert(sizeof(FSRef) % 8 == 0);
  std::uint64_t diff = 0;
#pragma GCC unroll 10
  for (std::size_t i = 0; i < sizeof(FSRef); i += 8)
    diff |= LoadU64(a->hidden + i) ^ LoadU64(b->hidden + i);
  return diff == 0;
}

// A name that can stand in a folder: not empty, not "." or "..", no "/" or NUL.
bool ValidName(std::string_view name) noexcept {
  if (name.empty() || name.size() > kMaxNameBytes) return false;
  if (name[0] == '.' && (name.size() == 1 || (name.size() == 2 && name[1] == '.'))) return false;
  for (const char c : name)
    if (c == '/' || c == '\0') return false;
  return true;
}

std::uint64_t HashName(std::uint32_t folder, std::string_view name) noexcept {
  std::uint64_t h = 1469598103934665603ull ^ folder;
  for (unsigned char c : name) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h ^ (h >> 29);
}

// An open-addressing set of ids (1 and up), looked up by a hash and a
// predicate, so that the keys live only once, in the records themselves.
class IdIndex {
public:
  template <class Match> std::uint32_t Find(std::uint64_t hash, Match &&match) const noexcept {
    if (slots_.empty()) return 0;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      const std::uint32_t id = slots_[i];
      if (id == kEmpty) return 0;
      if (id != kErased && match(id)) return id;
    }
  }
  // hashOf(id) gives the hash of any id already present (for growing).
  template <class HashOf> void Insert(std::uint64_t hash, std::uint32_t id, HashOf &&hashOf) {
    if ((filled_ + 1) * 10 > slots_.size() * 7) Grow(hashOf);
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = hash & mask;
    while (slots_[i] != kEmpty && slots_[i] != kErased)
      i = (i + 1) & mask;
    if (slots_[i] == kEmpty) ++filled_;
    slots_[i] = id;
  }
  void Erase(std::uint64_t hash, std::uint32_t id) noexcept {
    if (slots_.empty()) return;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask; slots_[i] != kEmpty; i = (i + 1) & mask) {
      if (slots_[i] == id) {
        slots_[i] = kErased;
        return;
      }
    }
  }

private:
  static constexpr std::uint32_t kEmpty = 0;
  static constexpr std::uint32_t kErased = 0xFFFFFFFFu;
  template <class HashOf> void Grow(HashOf &&hashOf) {
    Vector<std::uint32_t> old;
    old.swap(slots_);
    Vector<std::uint32_t> bigger(old.empty() ? 64 : old.size() * 2, kEmpty);
    slots_.swap(bigger);
    filled_ = 0;
    const std::size_t mask = slots_.size() - 1;
    for (std::uint32_t id : old) {
      if (id == kEmpty || id == kErased) continue;
      std::size_t i = hashOf(id) & mask;
      while (slots_[i] != kEmpty)
        i = (i + 1) & mask;
      slots_[i] = id;
      ++filled_;
    }
  }
  Vector<std::uint32_t> slots_;
  std::size_t filled_ = 0; // slots not empty (erased ones included)
};

struct Node {
  std::uint32_t parent = 0;
  Identity identity;
  String8 name;
  int fd = -1;
  std::uint32_t newer = 0, older = 0; // descriptor LRU links
  bool alive = true;
  HiddenState hidden = HiddenState::kUnknown;
  const HiddenNames *hiddenNames = nullptr;
};

struct Spill {
  std::uint32_t folder = 0;
  String8 name;
};

struct Device {
  dev_t dev;
  FSVolumeRefNum refNum;
  std::uint64_t fragment; // 0 until asked
};

// Everything here lives as long as the process; it is allocated outside the
// allocation fault injector's count (PermanentAllocationScope), like other
// process-wide tables.
struct Table {
  Vector<Node *> nodes; // node id n is nodes[n - 1]; 0 names nothing
  IdIndex nodeIndex;
  Vector<Spill *> spills; // spilled name id n is spills[n - 1]
  IdIndex spillIndex;
  Vector<Device> devices;
  std::uint32_t root = 0;
  std::uint32_t mru = 0, lru = 0; // descriptor cache ends
  long cached = 0;
  long capacity = 128;
};

// The futex calls take the lock word as a plain int.
static_assert(sizeof(std::atomic<int>) == sizeof(int) && std::atomic<int>::is_always_lock_free);

// What every File Manager call touches, kept together: the lock, and the
// last reference that decoded well. Node and spilled-name ids are never
// reused or taken back, so bytes that decoded well once decode the same way
// for the life of the process; a walk asks about each item several times in
// a row, and the repeated asks skip the checks (guarded by the lock). Each
// entry of a walk costs a system call, which leaves little of this
// process's data in the cache: two cache lines for all of it beats
// scattered ones.
struct alignas(64) HotState {
  FilesMutex lock;
  bool haveLastGood = false;
  FSRef lastGood;
};
HotState gHot;
FilesMutex &gLock = gHot.lock;

// Never destroyed: references may be used until the process ends. Built at
// compile time (every member starts empty), so reaching it costs no guard
// check on each call.
union TableHolder {
  Table table;
  constexpr TableHolder() : table() {}
  ~TableHolder() {}
};
constinit TableHolder gTable;

Table &T() noexcept {
  return gTable.table;
}

Node &N(std::uint32_t id) noexcept {
  return *T().nodes[id - 1];
}
Spill &S(std::uint32_t id) noexcept {
  return *T().spills[id - 1];
}

std::uint64_t NodeHash(std::uint32_t id) noexcept {
  return HashName(N(id).parent, N(id).name);
}

// ---- Descriptor cache ----

void Unlink(std::uint32_t id) noexcept {
  Table &t = T();
  Node &n = N(id);
  if (n.newer)
    N(n.newer).older = n.older;
  else
    t.mru = n.older;
  if (n.older)
    N(n.older).newer = n.newer;
  else
    t.lru = n.newer;
  n.newer = n.older = 0;
}

void PushMru(std::uint32_t id) noexcept {
  Table &t = T();
  Node &n = N(id);
  n.newer = 0;
  n.older = t.mru;
  if (t.mru) N(t.mru).newer = id;
  t.mru = id;
  if (!t.lru) t.lru = id;
}

void CloseCached(std::uint32_t id) noexcept {
  Node &n = N(id);
  if (n.fd < 0) return;
  Unlink(id);
  sys::close(n.fd);
  n.fd = -1;
  --T().cached;
}

void TrimCache() noexcept {
  Table &t = T();
  while (t.cached > t.capacity && t.lru)
    CloseCached(t.lru);
}

void Cache(std::uint32_t id, int fd) noexcept {
  N(id).fd = fd;
  PushMru(id);
  ++T().cached;
  TrimCache();
}

void Touch(std::uint32_t id) noexcept {
  if (T().mru == id) return;
  Unlink(id);
  PushMru(id);
}

// The folder was replaced or removed: the node stops naming anything, and a
// new lookup of the same name makes a new node.
void MarkGone(std::uint32_t id) noexcept {
  Node &n = N(id);
  if (!n.alive) return;
  CloseCached(id);
  n.alive = false;
  T().nodeIndex.Erase(NodeHash(id), id);
}

// Opens node id relative to its parent's cached descriptor (or "/" for the
// root) and checks its identity.
OSErr OpenNode(std::uint32_t id) noexcept {
  Table &t = T();
  Node &n = N(id);
  const bool isRoot = id == t.root;
  const int dirfd = isRoot ? AT_FDCWD : N(n.parent).fd;
  const int fd = sys::openat(dirfd, isRoot ? "/" : n.name.c_str(),
                             O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return ErrnoToOSErr(errno);
  Identity found;
  if (const int err = StatIdentity(fd, "", AT_EMPTY_PATH, &found)) {
    sys::close(fd);
    return ErrnoToOSErr(err);
  }
  if (!found.Same(n.identity)) {
    sys::close(fd);
    MarkGone(id);
    return fnfErr;
  }
  Cache(id, fd);
  return noErr;
}

// ---- Spilled names ----

std::uint32_t SpillName(std::uint32_t folder, std::string_view name) {
  Table &t = T();
  const std::uint64_t hash = HashName(folder, name);
  const std::uint32_t found = t.spillIndex.Find(
      hash, [&](std::uint32_t id) { return S(id).folder == folder && S(id).name == name; });
  if (found) return found;
  PermanentAllocationScope permanent;
  if (t.spills.size() >= 0xFFFFFFF0u) throw std::bad_alloc();
  Spill *s = New<Spill>();
  try {
    s->folder = folder;
    s->name.assign(name.data(), name.size());
    t.spills.push_back(s);
  } catch (...) {
    Delete(s);
    throw;
  }
  const auto id = static_cast<std::uint32_t>(t.spills.size());
  try {
    t.spillIndex.Insert(
        hash, id, [&](std::uint32_t other) { return HashName(S(other).folder, S(other).name); });
  } catch (...) {
    t.spills.pop_back();
    Delete(s);
    throw;
  }
  return id;
}

// ---- Paths ----

// Appends the absolute path of folder node (no trailing slash; "" for the
// root) to out.
void AppendFolderPath(std::uint32_t node, String8 *out) {
  const std::uint32_t root = T().root;
  std::size_t length = 0;
  for (std::uint32_t id = node; id != root; id = N(id).parent)
    length += 1 + N(id).name.size();
  const std::size_t start = out->size();
  out->resize(start + length);
  std::size_t pos = start + length;
  for (std::uint32_t id = node; id != root; id = N(id).parent) {
    const String8 &name = N(id).name;
    pos -= name.size();
    std::memcpy(out->data() + pos, name.data(), name.size());
    (*out)[--pos] = '/';
  }
}

OSErr CurrentDirectory(String8 *out) {
  std::size_t size = PATH_MAX;
  for (;;) {
    out->resize(size);
    if (sys::getcwd(out->data(), size)) {
      out->resize(std::strlen(out->c_str()));
      return noErr;
    }
    if (errno != ERANGE || size >= (std::size_t{1} << 20)) return ErrnoToOSErr(errno);
    size *= 2;
  }
}

// Resolves path (lock held). The last name is not followed; folders on the
// way are, as the kernel does, and their nodes are the real folders.
OSErr ResolvePath(std::string_view path, FSRef *ref, bool *isDirectory) {
  if (path.empty()) return fnfErr;
  if (path.find('\0') != std::string_view::npos) return paramErr;
  String8 work;
  if (path.front() != '/') {
    if (OSErr err = CurrentDirectory(&work)) return err;
    work.push_back('/');
  }
  work.append(path.data(), path.size());

  std::uint32_t current = 0;
  if (OSErr err = RootNode(&current)) return err;
  int links = 0;
  std::size_t pos = 0;
  auto folderResult = [&](std::uint32_t node) {
    EncodeFolderRef(node, ref);
    *isDirectory = true;
    return noErr;
  };
  for (;;) {
    while (pos < work.size() && work[pos] == '/')
      ++pos;
    if (pos == work.size()) return folderResult(current);
    std::size_t end = work.find('/', pos);
    if (end == String8::npos) end = work.size();
    const std::string_view component(work.data() + pos, end - pos);
    const bool last = end == work.size();
    pos = end;
    if (component == "." || component == "..") {
      if (component == ".." && current != T().root) current = N(current).parent;
      if (last) return folderResult(current);
      continue;
    }
    NameBuffer name;
    if (!name.Set(component)) return bdNamErr;
    int dirfd = -1;
    if (OSErr err = FolderDescriptor(current, &dirfd)) return err;
    Identity item;
    if (const int err = StatIdentity(dirfd, name.c_str(), AT_NO_AUTOMOUNT, &item))
      return ErrnoToOSErr(err);
    if (last) {
      EncodeRef(current, component, KindFromMode(item.mode), ref);
      *isDirectory = S_ISDIR(item.mode);
      return noErr;
    }
    if (S_ISDIR(item.mode)) {
      current = InternFolder(current, component, item);
      continue;
    }
    if (!S_ISLNK(item.mode)) return fnfErr; // a file where a folder must be
    if (++links > 40) return fnfErr;        // ELOOP, as the kernel counts
    char target[PATH_MAX];
    const ssize_t n = sys::readlinkat(dirfd, name.c_str(), target, sizeof target);
    if (n < 0) return ErrnoToOSErr(errno);
    if (n == 0 || static_cast<std::size_t>(n) >= sizeof target) return fnfErr;
    // The rest of the path now follows the link's target.
    String8 spliced(target, static_cast<std::size_t>(n));
    spliced.append(work, pos, String8::npos);
    work.swap(spliced);
    pos = 0;
    if (target[0] == '/') current = T().root;
  }
}

} // namespace

// ---- Shared helpers (fsref.h) ----

OSErr ErrnoToOSErr(int err) noexcept {
  switch (err) {
  case 0:
    return noErr;
  case EACCES:
  case EPERM:
    return afpAccessDenied;
  case ENOENT:
  case ENOTDIR:
  case ELOOP:
  case ESTALE:
    return fnfErr;
  case ENAMETOOLONG:
    return bdNamErr;
  case ENOMEM:
    return memFullErr;
  default:
    return ioErr;
  }
}

FilesMutex &FilesLock() noexcept {
  return gLock;
}

// The contended path (after the futex-based mutex of Drepper's "Futexes
// Are Tricky"): mark the lock as wanted by waiters, then sleep while it
// stays so; whoever gives it back wakes one sleeper.
void FilesMutex::LockContended() noexcept {
  int state = state_.exchange(kHeldWithWaiters, std::memory_order_acquire);
  while (state != kFree) {
    syscall(SYS_futex, reinterpret_cast<int *>(&state_), FUTEX_WAIT_PRIVATE, kHeldWithWaiters,
            nullptr, nullptr, 0);
    state = state_.exchange(kHeldWithWaiters, std::memory_order_acquire);
  }
}

void FilesMutex::WakeOne() noexcept {
  syscall(SYS_futex, reinterpret_cast<int *>(&state_), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

Kind KindFromDirentType(unsigned char dtype) noexcept {
  switch (dtype) {
  case DT_REG:
    return kKindFile;
  case DT_DIR:
    return kKindFolder;
  case DT_LNK:
    return kKindLink;
  case DT_UNKNOWN:
    return kKindUnknown;
  default:
    return kKindOther;
  }
}

Kind KindFromMode(mode_t mode) noexcept {
  if (S_ISREG(mode)) return kKindFile;
  if (S_ISDIR(mode)) return kKindFolder;
  if (S_ISLNK(mode)) return kKindLink;
  return kKindOther;
}

bool NameBuffer::Set(std::string_view name) noexcept {
  if (name.size() > kMaxNameBytes) return false;
  std::memcpy(text, name.data(), name.size());
  text[name.size()] = '\0';
  size = name.size();
  return true;
}

namespace {

// Decodes a reference, checking every byte.
OSErr DecodeChecked(const FSRef *ref, RefView *out) noexcept {
  const UInt8 *b = ref->hidden;
  if (b[4] != kMagic) return paramErr;
  Table &t = T();
  const std::uint32_t node = LoadU32(b);
  if (node == 0 || node > t.nodes.size()) return paramErr;
  out->node = node;
  out->hint = b[6];
  out->isRoot = false;
  out->cname = nullptr;
  switch (b[5]) {
  case kFormRoot:
    if (node != t.root || b[7] != 0 || !PaddingZero(b + kHeaderSize, 0)) return paramErr;
    out->isRoot = true;
    out->name = "/";
    out->cname = "/";
    return noErr;
  case kFormInline: {
    const std::size_t length = b[7];
    if (length == 0 || length > kInlineCapacity || !PaddingZero(b + kHeaderSize, length))
      return paramErr;
    out->name = std::string_view(reinterpret_cast<const char *>(b + kHeaderSize), length);
    // The zero padding after a shorter name terminates it in place.
    out->cname = length < kInlineCapacity ? out->name.data() : nullptr;
    return ValidName(out->name) ? noErr : paramErr;
  }
  case kFormSpilled: {
    const std::uint32_t id = LoadU32(b + kHeaderSize);
    if (b[7] != 0 || id == 0 || id > t.spills.size() || S(id).folder != node ||
        !PaddingZero(b + kHeaderSize, 4))
      return paramErr;
    out->name = S(id).name;
    out->cname = S(id).name.c_str();
    return noErr;
  }
  default:
    return paramErr;
  }
}

// Decodes a reference that decoded well before: its bytes need no checks.
void DecodeKnownGood(const FSRef *ref, RefView *out) noexcept {
  const UInt8 *b = ref->hidden;
  out->node = LoadU32(b);
  out->hint = b[6];
  out->isRoot = b[5] == kFormRoot;
  if (out->isRoot) {
    out->name = "/";
    out->cname = "/";
  } else if (b[5] == kFormInline) {
    out->name = std::string_view(reinterpret_cast<const char *>(b + kHeaderSize), b[7]);
    out->cname = b[7] < kInlineCapacity ? out->name.data() : nullptr;
  } else {
    const Spill &spill = S(LoadU32(b + kHeaderSize));
    out->name = spill.name;
    out->cname = spill.name.c_str();
  }
}

} // namespace

OSErr DecodeRef(const FSRef *ref, RefView *out) noexcept {
  if (!ref) return paramErr;
  if (gHot.haveLastGood && SameBytes(ref, &gHot.lastGood)) {
    DecodeKnownGood(ref, out);
    return noErr;
  }
  const OSErr err = DecodeChecked(ref, out);
  if (err == noErr) {
    std::memcpy(&gHot.lastGood, ref, sizeof(FSRef));
    gHot.haveLastGood = true;
  }
  return err;
}

void EncodeRef(std::uint32_t node, std::string_view name, std::uint8_t hint, FSRef *out) {
  // A long name is spilled first: if that throws, *out is untouched.
  const std::uint32_t spilled = name.size() > kInlineCapacity ? SpillName(node, name) : 0;
  UInt8 *b = out->hidden;
  std::memset(b, 0, sizeof(FSRef));
  StoreU32(b, node);
  b[4] = kMagic;
  b[6] = hint;
  if (!spilled) {
    b[5] = kFormInline;
    b[7] = static_cast<UInt8>(name.size());
    std::memcpy(b + kHeaderSize, name.data(), name.size());
  } else {
    b[5] = kFormSpilled;
    StoreU32(b + kHeaderSize, spilled);
  }
}

void EncodeRootRef(FSRef *out) noexcept {
  std::memset(out, 0, sizeof *out);
  StoreU32(out->hidden, T().root);
  out->hidden[4] = kMagic;
  out->hidden[5] = kFormRoot;
  out->hidden[6] = kKindFolder | kHintSidecarKnown;
}

void EncodeFolderRef(std::uint32_t node, FSRef *out) {
  if (node == T().root) return EncodeRootRef(out);
  EncodeRef(N(node).parent, N(node).name, kKindFolder, out);
}

bool Identity::Same(const Identity &other) const noexcept {
  if (dev != other.dev || ino != other.ino) return false;
  if (hasBirth && other.hasBirth)
    return birthSeconds == other.birthSeconds && birthNanoseconds == other.birthNanoseconds;
  return true;
}

int StatIdentity(int dirfd, const char *name, int flags, Identity *out) noexcept {
  struct statx stx;
  if (sys::statx(dirfd, name, flags | AT_SYMLINK_NOFOLLOW,
                 STATX_TYPE | STATX_MODE | STATX_INO | STATX_BTIME, &stx) != 0)
    return errno;
  out->dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
  out->ino = stx.stx_ino;
  out->mode = stx.stx_mode;
  out->hasBirth = (stx.stx_mask & STATX_BTIME) != 0;
  out->birthSeconds = out->hasBirth ? stx.stx_btime.tv_sec : 0;
  out->birthNanoseconds = out->hasBirth ? stx.stx_btime.tv_nsec : 0;
  return 0;
}

OSErr RootNode(std::uint32_t *out) noexcept {
  Table &t = T();
  if (!t.root) {
    Identity identity;
    if (const int err = StatIdentity(AT_FDCWD, "/", 0, &identity)) return ErrnoToOSErr(err);
    try {
      PermanentAllocationScope permanent;
      Node *n = New<Node>();
      n->identity = identity;
      try {
        t.nodes.push_back(n);
      } catch (...) {
        Delete(n);
        throw;
      }
      t.root = static_cast<std::uint32_t>(t.nodes.size());
      n->parent = t.root;
    } catch (...) {
      return memFullErr;
    }
  }
  *out = t.root;
  return noErr;
}

std::uint32_t InternFolder(std::uint32_t parent, std::string_view name, const Identity &identity) {
  Table &t = T();
  const std::uint64_t hash = HashName(parent, name);
  const std::uint32_t found = t.nodeIndex.Find(
      hash, [&](std::uint32_t id) { return N(id).parent == parent && N(id).name == name; });
  if (found) {
    if (N(found).identity.Same(identity)) return found;
    MarkGone(found);
  }
  PermanentAllocationScope permanent;
  if (t.nodes.size() >= 0xFFFFFFF0u) throw std::bad_alloc();
  Node *n = New<Node>();
  try {
    n->parent = parent;
    n->identity = identity;
    n->name.assign(name.data(), name.size());
    t.nodes.push_back(n);
  } catch (...) {
    Delete(n);
    throw;
  }
  const auto id = static_cast<std::uint32_t>(t.nodes.size());
  try {
    t.nodeIndex.Insert(hash, id, NodeHash);
  } catch (...) {
    t.nodes.pop_back();
    Delete(n);
    throw;
  }
  return id;
}

std::uint32_t NodeParent(std::uint32_t node) noexcept {
  return N(node).parent;
}
std::string_view NodeName(std::uint32_t node) noexcept {
  return N(node).name;
}
dev_t NodeDevice(std::uint32_t node) noexcept {
  return N(node).identity.dev;
}
ino_t NodeInode(std::uint32_t node) noexcept {
  return N(node).identity.ino;
}
bool NodeAlive(std::uint32_t node) noexcept {
  return N(node).alive;
}

OSErr FolderDescriptor(std::uint32_t node, int *fd) noexcept {
  Table &t = T();
  if (!N(node).alive) return fnfErr;
  if (N(node).fd >= 0) {
    Touch(node);
    *fd = N(node).fd;
    return noErr;
  }
  // Open the missing folders from the highest one down; each needs only
  // its parent's descriptor, which was just opened (so is not the one the
  // cache evicts next).
  for (;;) {
    std::uint32_t top = node;
    while (top != t.root && N(N(top).parent).fd < 0)
      top = N(top).parent;
    if (!N(top).alive) return fnfErr;
    if (top != t.root) Touch(N(top).parent);
    if (OSErr err = OpenNode(top)) return err;
    if (top == node) break;
  }
  *fd = N(node).fd;
  return noErr;
}

void AdoptFolderDescriptor(std::uint32_t node, int fd) noexcept {
  if (N(node).alive && N(node).fd < 0)
    Cache(node, fd);
  else
    sys::close(fd);
}

HiddenState NodeHiddenState(std::uint32_t node) noexcept {
  return N(node).hidden;
}
void SetNodeHiddenState(std::uint32_t node, HiddenState state) noexcept {
  N(node).hidden = state;
}
const HiddenNames *NodeHiddenNames(std::uint32_t node) noexcept {
  return N(node).hiddenNames;
}
void SetNodeHiddenNames(std::uint32_t node, const HiddenNames *names) noexcept {
  N(node).hiddenNames = names;
}

FSVolumeRefNum VolumeRefNum(dev_t dev) {
  Table &t = T();
  for (const Device &d : t.devices)
    if (d.dev == dev) return d.refNum;
  PermanentAllocationScope permanent;
  const auto refNum = static_cast<FSVolumeRefNum>(-1 - static_cast<long>(t.devices.size() % 32767));
  t.devices.push_back(Device{dev, refNum, 0});
  return refNum;
}

OSErr FragmentSize(dev_t dev, int fd, std::uint64_t *out) {
  VolumeRefNum(dev); // makes the device's entry
  for (Device &d : T().devices) {
    if (d.dev != dev) continue;
    if (!d.fragment) {
      struct statvfs vfs;
      if (sys::fstatvfs(fd, &vfs) != 0) return ErrnoToOSErr(errno);
      d.fragment = vfs.f_frsize ? vfs.f_frsize : (vfs.f_bsize ? vfs.f_bsize : 512);
    }
    *out = d.fragment;
    return noErr;
  }
  return ioErr;
}

OSErr PathMakeRef(std::string_view path, FSRef *ref, bool *isDirectory) noexcept {
  std::lock_guard<FilesMutex> lock(gLock);
  return Edge<OSErr>(memFullErr, [&] { return ResolvePath(path, ref, isDirectory); });
}

OSErr RefMakePath(const FSRef *ref, String8 *out) {
  std::lock_guard<FilesMutex> lock(gLock);
  RefView view;
  if (OSErr err = DecodeRef(ref, &view)) return err;
  out->clear();
  if (view.isRoot) {
    out->push_back('/');
    return noErr;
  }
  AppendFolderPath(view.node, out);
  out->push_back('/');
  out->append(view.name.data(), view.name.size());
  return noErr;
}

} // namespace vp::files

using namespace vp::files;

extern "C" {

OSStatus FSRefMakePath(const FSRef *ref, UInt8 *path, UInt32 maxPathSize) noexcept {
  if (!ref || !path || maxPathSize == 0) return paramErr;
  path[0] = 0;
  return vp::Edge<OSStatus>(memFullErr, [&]() -> OSStatus {
    vp::String8 text;
    if (OSErr err = RefMakePath(ref, &text)) return err;
    if (text.size() >= maxPathSize) return paramErr;
    std::memcpy(path, text.data(), text.size());
    path[text.size()] = 0;
    return noErr;
  });
}

OSStatus FSPathMakeRef(const UInt8 *path, FSRef *ref, Boolean *isDirectory) noexcept {
  if (!path || !ref) return paramErr;
  bool folder = false;
  const OSErr err =
      PathMakeRef(std::string_view(reinterpret_cast<const char *>(path)), ref, &folder);
  if (err == noErr && isDirectory) *isDirectory = folder;
  return err;
}

OSErr FSCompareFSRefs(const FSRef *ref1, const FSRef *ref2) noexcept {
  std::lock_guard<FilesMutex> lock(FilesLock());
  RefView a, b;
  if (DecodeRef(ref1, &a) != noErr || DecodeRef(ref2, &b) != noErr) return paramErr;
  const bool same = a.isRoot == b.isRoot && a.node == b.node && a.name == b.name;
  return same ? static_cast<OSErr>(noErr) : static_cast<OSErr>(errFSRefsDifferent);
}

long VPFilesNodeCount(void) noexcept {
  std::lock_guard<FilesMutex> lock(FilesLock());
  return static_cast<long>(T().nodes.size());
}

long VPFilesSpilledNameCount(void) noexcept {
  std::lock_guard<FilesMutex> lock(FilesLock());
  return static_cast<long>(T().spills.size());
}

long VPFilesOpenDescriptorCount(void) noexcept {
  std::lock_guard<FilesMutex> lock(FilesLock());
  return T().cached;
}

long VPFilesSetDescriptorCapacity(long capacity) noexcept {
  std::lock_guard<FilesMutex> lock(FilesLock());
  Table &t = T();
  const long old = t.capacity;
  t.capacity = capacity < 2 ? 2 : capacity;
  TrimCache();
  return old;
}

void VPFilesDropDescriptors(void) noexcept {
  std::lock_guard<FilesMutex> lock(FilesLock());
  Table &t = T();
  while (t.lru)
    CloseCached(t.lru);
}

} // extern "C"
