// What other platform modules may use of bundles: finding a resource in a
// way that tells a missing file from a lack of memory (the interface files
// of windows need both answers).
#pragma once

#include "object.h"

namespace vp {

// CFBundleCopyResourceURL (same lookup, same Create rule), except that a
// lack of memory throws std::bad_alloc instead of looking like a missing
// resource. Null when the bundle has no such resource.
CFURLRef CopyBundleResourceURL(CFBundleRef bundle, CFStringRef resourceName,
                               CFStringRef resourceType, CFStringRef subDirName);

} // namespace vp
