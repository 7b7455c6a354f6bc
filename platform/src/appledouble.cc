// AppleDouble resource forks (see appledouble.h). The header is 26 bytes:
// magic, version, 16 filler bytes, and the big-endian entry count; each entry
// of the table that follows is 12 bytes: id, offset, length.
#include "appledouble.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

#include <vantlow/files_testing.h>

#include "fsref.h"
#include "syscalls.h"

namespace vp::files {
namespace {

constexpr std::uint32_t kAppleDoubleMagic = 0x00051607;
constexpr std::uint32_t kVersion1 = 0x00010000;
constexpr std::uint32_t kVersion2 = 0x00020000;
constexpr std::size_t kHeaderSize = 26;
constexpr std::size_t kEntrySize = 12;
constexpr std::uint32_t kResourceForkId = 2;
constexpr std::size_t kEntriesPerRead = 64;

std::uint32_t BigEndian32(const unsigned char *p) noexcept {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | static_cast<std::uint32_t>(p[3]);
}

// Reads exactly size bytes at offset; false with *err set on a failure, and
// false with *err 0 when the file is shorter than that.
bool ReadAt(int fd, void *buf, std::size_t size, std::uint64_t offset, int *err) noexcept {
  auto *p = static_cast<unsigned char *>(buf);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = sys::pread(fd, p + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      *err = errno;
      return false;
    }
    if (n == 0) {
      *err = 0;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The reader of a file open on a descriptor.
bool ReadFromFile(void *context, void *buf, std::size_t size, std::uint64_t offset,
                  int *err) noexcept {
  return ReadAt(*static_cast<const int *>(context), buf, size, offset, err);
}

struct Bytes {
  const unsigned char *data;
  std::uint64_t size;
};

// The reader of bytes in memory: short exactly where the file would be.
bool ReadFromBytes(void *context, void *buf, std::size_t size, std::uint64_t offset,
                   int *err) noexcept {
  const auto *bytes = static_cast<const Bytes *>(context);
  *err = 0;
  if (offset > bytes->size || size > bytes->size - offset) return false;
  if (size) std::memcpy(buf, bytes->data + offset, size);
  return true;
}

} // namespace

SidecarFork ParseResourceForkLength(ReadAtFn read, void *context, std::uint64_t fileSize,
                                    std::uint64_t *length, int *err) noexcept {
  *err = 0;
  if (fileSize < kHeaderSize) return SidecarFork::kNoFork;
  // The header and the first entries in one read: a sidecar's table is
  // short, so one read usually holds all that is needed. A read that comes
  // up short (the file shrank since its size was taken) falls back to
  // reading the header alone, as the parse below then reads each part.
  unsigned char prefix[kHeaderSize + kEntriesPerRead * kEntrySize];
  const std::size_t prefixSize =
      fileSize < sizeof prefix ? static_cast<std::size_t>(fileSize) : sizeof prefix;
  std::size_t have = prefixSize;
  if (!read(context, prefix, prefixSize, 0, err)) {
    if (*err) return SidecarFork::kError;
    have = 0;
    if (!read(context, prefix, kHeaderSize, 0, err))
      return *err ? SidecarFork::kError : SidecarFork::kNoFork;
  }
  const unsigned char *header = prefix;
  const std::uint32_t magic = BigEndian32(header);
  const std::uint32_t version = BigEndian32(header + 4);
  if (magic != kAppleDoubleMagic || (version != kVersion1 && version != kVersion2))
    return SidecarFork::kNoFork;
  const std::uint64_t count = static_cast<std::uint64_t>(header[24]) << 8 | header[25];
  const std::uint64_t tableEnd = kHeaderSize + count * kEntrySize;
  if (tableEnd > fileSize) return SidecarFork::kNoFork; // the table runs past the end

  unsigned char entries[kEntriesPerRead * kEntrySize];
  for (std::uint64_t first = 0; first < count; first += kEntriesPerRead) {
    const std::uint64_t batch = count - first < kEntriesPerRead ? count - first : kEntriesPerRead;
    const std::uint64_t batchOffset = kHeaderSize + first * kEntrySize;
    const unsigned char *table = entries;
    if (batchOffset + batch * kEntrySize <= have)
      table = prefix + batchOffset; // already read with the header
    else if (!read(context, entries, batch * kEntrySize, batchOffset, err))
      return *err ? SidecarFork::kError : SidecarFork::kNoFork; // the file shrank meanwhile
    for (std::uint64_t i = 0; i < batch; ++i) {
      const unsigned char *e = table + i * kEntrySize;
      if (BigEndian32(e) != kResourceForkId) continue;
      const std::uint64_t offset = BigEndian32(e + 4);
      const std::uint64_t size = BigEndian32(e + 8);
      if (size == 0) {
        *length = 0;
        return SidecarFork::kFork;
      }
      if (offset < tableEnd || offset + size > fileSize) return SidecarFork::kNoFork;
      *length = size;
      return SidecarFork::kFork;
    }
  }
  return SidecarFork::kNoFork;
}

SidecarFork ReadResourceForkLength(int fd, std::uint64_t fileSize, std::uint64_t *length,
                                   int *err) noexcept {
  return ParseResourceForkLength(ReadFromFile, &fd, fileSize, length, err);
}

OSErr ResourceForkSizes(int dirfd, const char *name, std::size_t nameSize, ForkSizes *out) {
  *out = ForkSizes{};
  if (nameSize + 2 > kMaxNameBytes) return noErr; // "._<name>" cannot exist
  char sidecar[kMaxNameBytes + 1];
  sidecar[0] = '.';
  sidecar[1] = '_';
  std::memcpy(sidecar + 2, name, nameSize);
  sidecar[nameSize + 2] = '\0';

  // O_NONBLOCK: a pipe named like a sidecar must not stall the walk.
  const int fd =
      sys::openat(dirfd, sidecar, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    if (e == ENOENT || e == ELOOP || e == ENXIO || e == ENOTDIR) return noErr;
    return ErrnoToOSErr(e);
  }
  struct Closer {
    int fd;
    ~Closer() { sys::close(fd); }
  } closer{fd};

  struct stat st;
  if (sys::fstatat(fd, "", &st, AT_EMPTY_PATH) != 0) return ErrnoToOSErr(errno);
  if (!S_ISREG(st.st_mode)) return noErr;
  std::uint64_t length = 0;
  int err = 0;
  switch (ReadResourceForkLength(fd, static_cast<std::uint64_t>(st.st_size), &length, &err)) {
  case SidecarFork::kNoFork:
    return noErr;
  case SidecarFork::kError:
    return ErrnoToOSErr(err);
  case SidecarFork::kFork:
    break;
  }
  if (length == 0) return noErr;
  std::uint64_t fragment = 0;
  if (OSErr e = FragmentSize(st.st_dev, fd, &fragment)) return e;
  out->logical = length;
  out->physical = (length + fragment - 1) / fragment * fragment;
  return noErr;
}

} // namespace vp::files

extern "C" Boolean VPAppleDoubleParseForTesting(const UInt8 *bytes, CFIndex length,
                                                UInt64 *rsrcLength) noexcept {
  if (length < 0 || (!bytes && length != 0) || !rsrcLength) return false;
  vp::files::Bytes file{bytes, static_cast<std::uint64_t>(length)};
  std::uint64_t fork = 0;
  int err = 0;
  if (vp::files::ParseResourceForkLength(vp::files::ReadFromBytes, &file, file.size, &fork, &err) !=
      vp::files::SidecarFork::kFork)
    return false;
  *rsrcLength = fork;
  return true;
}
