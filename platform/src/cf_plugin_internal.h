// What the bundle module tells the plug-in registry: which bundle declares
// which factories. The registry itself (instance counts per factory) lives
// in cf_plugin.cc.
#pragma once

#include "object.h"

namespace vp {

// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (hexadecimal digits in
// either case) into its 16 bytes; false for anything else.
bool ParseUUIDText(const String16 &text, CFUUIDBytes *out) noexcept;

// Records that the bundle declares the factories named by the keys of its
// CFPlugInFactories dictionary (UUID strings, compared case-insensitively
// because they are compared as bytes). Keys that are not UUID strings are
// skipped; a factory already declared by an earlier bundle stays with that
// bundle. Throws std::bad_alloc, and then the registry is as it was.
void RegisterPlugInFactories(CFBundleRef bundle, CFDictionaryRef factories);

// Forgets every factory declared by the bundle (undoes the call above when
// the bundle cannot be registered after all).
void UnregisterPlugInFactories(CFBundleRef bundle) noexcept;

} // namespace vp
