// The bundle's own translation unit. The whole plug-in lives in the frame,
// feature and support archives; this file names the exported factory so that
// the linker takes the frame from its archive, and with it everything the
// frame reaches, layer by layer.
#include "frame.h"

namespace {
[[maybe_unused]] void *(*const kExportedFactory)(CFAllocatorRef, CFUUIDRef) noexcept = MyCMMFactory;
} // namespace
