// Reading a small file whole: the bundle's Info.plist and its strings
// tables. Every file-system call goes through the system-call table, and
// the size is capped so that a hostile or mistaken file cannot make us read
// without end.
#pragma once

#include <cstddef>

#include "alloc.h"

namespace vp {

// Reads the regular file at path into *out (replacing its contents).
// Returns 0, or an errno: EFBIG when the file holds more than maxBytes,
// EINVAL when it is not a regular file (a folder, a pipe, a device: never
// read, so a FIFO cannot block us), otherwise what the system call said.
// *out is unspecified after a failure. Throws std::bad_alloc.
int ReadSmallFile(const char *path, std::size_t maxBytes, String8 *out);

// Words for a ReadSmallFile failure, for a line meant for people; uses buf
// when it needs room.
const char *DescribeReadError(int err, char *buf, std::size_t size) noexcept;

} // namespace vp
