// Resource forks kept in AppleDouble files. Mac OS X, and Linux AFP and SMB
// servers, store the resource fork of "x" on foreign volumes in the file
// "._x" beside it: a header, a table of entries, and the entries' bytes;
// entry 2 is the resource fork. Such files come from anywhere, so they are
// read as untrusted input: only the header and the entry table are read,
// with bounded preads, and anything malformed means "no fork".
#pragma once

#include <cstddef>
#include <cstdint>

#include <Carbon/MacTypes.h>

namespace vp::files {

// What an open file holds.
enum class SidecarFork {
  kFork,   // a well-formed AppleDouble file with a resource-fork entry
  kNoFork, // not AppleDouble, malformed, or without a resource fork
  kError,  // reading failed; *err holds the errno
};

// Reads the resource fork's length from the AppleDouble file open on fd,
// whose size is fileSize: the header (magic 0x00051607, version 1 or 2),
// then the entry table, which must lie inside the file, then the first entry
// with id 2, whose bytes must lie inside the file after the table.
SidecarFork ReadResourceForkLength(int fd, std::uint64_t fileSize, std::uint64_t *length,
                                   int *err) noexcept;

// Reads exactly size bytes at offset into buf: false with *err set when
// reading failed, false with *err 0 when the file ends before that.
using ReadAtFn = bool (*)(void *context, void *buf, std::size_t size, std::uint64_t offset,
                          int *err) noexcept;
// The same parse over any reader: ReadResourceForkLength reads a descriptor,
// the test hook (files_testing.h) reads bytes in memory.
SidecarFork ParseResourceForkLength(ReadAtFn read, void *context, std::uint64_t fileSize,
                                    std::uint64_t *length, int *err) noexcept;

struct ForkSizes {
  std::uint64_t logical = 0;
  std::uint64_t physical = 0; // logical rounded up to the volume's fragment size
};

// The resource fork of the item name in the folder open on dirfd, from its
// AppleDouble file "._<name>". No such file, or one that is not a regular
// file or holds no valid fork: zero sizes and noErr. A sidecar that cannot be
// read: its error (afpAccessDenied, ioErr). Lock held (fragment sizes are
// cached per device). Throws std::bad_alloc.
OSErr ResourceForkSizes(int dirfd, const char *name, std::size_t nameSize, ForkSizes *out);

} // namespace vp::files
