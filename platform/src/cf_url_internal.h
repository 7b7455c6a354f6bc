// What other platform modules may use of CFURL's insides: making a file URL
// straight from path bytes and reading a URL's path bytes back, so that file
// names never have to pass through text on their way between the File
// Manager and URLs.
#pragma once

#include <string_view>

#include "object.h"

namespace vp {

// Removes "." and ".." components and repeated slashes from an absolute
// path, lexically (symbolic links are not resolved). ".." at the root stays
// at the root. No trailing slash except for "/". Throws std::bad_alloc.
String8 NormalizeAbsolutePath(std::string_view absolute);

// A new file URL for the path bytes (Create rule). A relative path is
// resolved against the current directory at this moment, then normalized
// as above. Null when the path is empty, holds a NUL byte, or is relative
// and the current directory cannot be read. Throws std::bad_alloc.
CFURLRef NewURLWithPath(std::string_view bytes, bool isDirectory);

// The URL's absolute, normalized path bytes, lent while the URL lives; null
// when cf is not a URL.
const String8 *URLPath(CFTypeRef cf) noexcept;

} // namespace vp
