// Who the plug-in is: its bundle identifier and its own factory UUID. The
// build reads the two VANTLOW_* strings below from this file to write the
// bundle's Info.plist (cmake/VantlowBundle.cmake), so the property list and
// the code cannot disagree; keep each on one line, in this form.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#define VANTLOW_BUNDLE_IDENTIFIER "org.vantlow.filesize"
#define VANTLOW_FACTORY_UUID "14194E5C-3176-44DA-BCC6-3BCA190DC9D3"

// Finds the bundle, names the preferences domain and enters every menu
// identifier. A constant string: never released.
#define kMyBundleIdentifier CFSTR(VANTLOW_BUNDLE_IDENTIFIER)

// The factory UUID above as a constant UUID object (never released).
#define kMyFactoryID                                                                               \
  (CFUUIDGetConstantUUIDWithBytes(NULL, 0x14, 0x19, 0x4E, 0x5C, 0x31, 0x76, 0x44, 0xDA, 0xBC,      \
                                  0xC6, 0x3B, 0xCA, 0x19, 0x0D, 0xC9, 0xD3))
