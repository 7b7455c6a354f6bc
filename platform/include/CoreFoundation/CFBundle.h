/* Bundles: a folder with Contents/Info.plist, Contents/Linux/<executable>
 * and Contents/Resources/<lang>.lproj. Bundles made with CFBundleCreate join
 * a process-wide registry that CFBundleGetBundleWithIdentifier searches. */
#ifndef VANTLOW_CFBUNDLE_H
#define VANTLOW_CFBUNDLE_H

#include <CoreFoundation/CFBase.h>

VP_EXTERN_C_BEGIN

VP_EXPORT extern const CFStringRef kCFBundleIdentifierKey;
VP_EXPORT extern const CFStringRef kCFBundleExecutableKey;

VP_EXPORT CFTypeID CFBundleGetTypeID(void) VP_NOEXCEPT;
/* Reads the bundle at the URL (its Info.plist must be a valid property list
 * with a dictionary at the top) and registers it. Asking twice for the same
 * folder gives the same bundle, retained. Null when it cannot be read. */
VP_EXPORT CFBundleRef CFBundleCreate(CFAllocatorRef alloc, CFURLRef bundleURL) VP_NOEXCEPT;
/* Lends a registered bundle, or null. */
VP_EXPORT CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID) VP_NOEXCEPT;
VP_EXPORT CFStringRef CFBundleGetIdentifier(CFBundleRef bundle) VP_NOEXCEPT;
VP_EXPORT CFDictionaryRef CFBundleGetInfoDictionary(CFBundleRef bundle) VP_NOEXCEPT;
VP_EXPORT CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle,
                                                         CFStringRef key) VP_NOEXCEPT;
VP_EXPORT CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle) VP_NOEXCEPT;
/* Contents/Linux/<CFBundleExecutable>.so; null without that key. */
VP_EXPORT CFURLRef CFBundleCopyExecutableURL(CFBundleRef bundle) VP_NOEXCEPT;
/* Contents/Resources[/<subDirName>]/<name>[.<type>] when it exists, looking
 * first in the user's language folder, then English.lproj, then the
 * resources folder itself. */
VP_EXPORT CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName,
                                           CFStringRef resourceType,
                                           CFStringRef subDirName) VP_NOEXCEPT;
/* The text of key in the table (Localizable when tableName is null) of the
 * user's language, then of English; else value, or the key when value is
 * null. Copy rule; null only when out of memory. */
VP_EXPORT CFStringRef CFBundleCopyLocalizedString(CFBundleRef bundle, CFStringRef key,
                                                  CFStringRef value,
                                                  CFStringRef tableName) VP_NOEXCEPT;
/* The language folder chosen for this process ("English", "de", ...). */
VP_EXPORT CFStringRef VPBundleCopyPreferredLocalization(CFBundleRef bundle) VP_NOEXCEPT;

/* Loads the executable with dlopen(RTLD_NOW | RTLD_LOCAL); false on failure,
 * with the reason in *error (Copy rule) when error is not null. */
VP_EXPORT Boolean VPBundleLoadExecutable(CFBundleRef bundle, CFStringRef *error) VP_NOEXCEPT;
VP_EXPORT Boolean CFBundleIsExecutableLoaded(CFBundleRef bundle) VP_NOEXCEPT;
VP_EXPORT void *CFBundleGetFunctionPointerForName(CFBundleRef bundle,
                                                  CFStringRef functionName) VP_NOEXCEPT;

/* ---- CFPlugIn instance registration ---- */
/* An instance made by the factory registers itself; the bundle that
 * declares the factory stays loaded while any instance lives. */
VP_EXPORT void CFPlugInAddInstanceForFactory(CFUUIDRef factoryID) VP_NOEXCEPT;
VP_EXPORT void CFPlugInRemoveInstanceForFactory(CFUUIDRef factoryID) VP_NOEXCEPT;
/* How many instances of the factory live now. */
VP_EXPORT CFIndex VPPlugInGetInstanceCount(CFUUIDRef factoryID) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
