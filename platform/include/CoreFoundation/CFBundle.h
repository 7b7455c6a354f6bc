/* Bundles: a folder with Contents/Info.plist, Contents/Linux/<executable>.so
 * and Contents/Resources/<lang>.lproj. Bundles made with CFBundleCreate join
 * a process-wide registry that CFBundleGetBundleWithIdentifier searches; the
 * registry keeps its own reference, so a bundle lives as long as the process
 * and what Get functions lend from it stays valid. */
#ifndef VANTLOW_CFBUNDLE_H
#define VANTLOW_CFBUNDLE_H

#include <CoreFoundation/CFBase.h>

VP_EXTERN_C_BEGIN

VP_EXPORT extern const CFStringRef kCFBundleIdentifierKey;
VP_EXPORT extern const CFStringRef kCFBundleExecutableKey;

VP_EXPORT CFTypeID CFBundleGetTypeID(void) VP_NOEXCEPT;
/* Reads the bundle in the folder at the URL and registers it. Its
 * Contents/Info.plist must be a valid property list with a dictionary at the
 * top holding a CFBundleIdentifier string. Asking again for the same folder
 * (by any path that reaches it) gives the same bundle, retained. Create
 * rule; null when the bundle cannot be read. */
VP_EXPORT CFBundleRef CFBundleCreate(CFAllocatorRef alloc, CFURLRef bundleURL) VP_NOEXCEPT;
/* CFBundleCreate that says why it failed: on failure null, and *error (when
 * error is not null) receives a new string naming the reason, or null when
 * even that could not be made (out of memory). On success *error is null. */
VP_EXPORT CFBundleRef VPBundleCreate(CFURLRef bundleURL,
                                     CFStringRef *error /* OUT: Copy rule */) VP_NOEXCEPT;
/* Lends the registered bundle with that identifier, or null. When two
 * registered folders carry the same identifier, the one registered first is
 * found. */
VP_EXPORT CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID) VP_NOEXCEPT;
/* Get rule for these three: lent while the bundle lives. */
VP_EXPORT CFStringRef CFBundleGetIdentifier(CFBundleRef bundle) VP_NOEXCEPT;
VP_EXPORT CFDictionaryRef CFBundleGetInfoDictionary(CFBundleRef bundle) VP_NOEXCEPT;
VP_EXPORT CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle,
                                                         CFStringRef key) VP_NOEXCEPT;
/* Copy rule for the URLs below; null when there is none. */
VP_EXPORT CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle) VP_NOEXCEPT;
/* Contents/Linux/<CFBundleExecutable>.so; null without that key (or when it
 * is not a plain file name). Whether the file exists is not checked. */
VP_EXPORT CFURLRef CFBundleCopyExecutableURL(CFBundleRef bundle) VP_NOEXCEPT;
/* Contents/Resources/<lang>.lproj[/<subDirName>]/<name>[.<type>] when it
 * exists, looking in the user's language folder, then in the English one,
 * then in Contents/Resources[/<subDirName>] itself. resourceType may be null
 * (the name is then the whole file name) and may start with a dot. A name or
 * type holding "/", or a subfolder leading out of the bundle, gives null. */
VP_EXPORT CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName,
                                           CFStringRef resourceType,
                                           CFStringRef subDirName) VP_NOEXCEPT;
/* The text of key in <tableName>.strings (Localizable.strings when tableName
 * is null or empty) of the user's language, then of English; else value, or
 * the key when value is null, or the empty string when both are null. The
 * user's language comes from LANGUAGE (a colon list: the first entry the
 * bundle has a folder for), else from the first of LC_ALL, LC_MESSAGES and
 * LANG that is set ("C" and "POSIX" mean English); its folders are tried as
 * <ll>_<RR>.lproj, <ll>.lproj and the traditional English name of the
 * language (German.lproj, ...); English is English.lproj, then en.lproj.
 * Each table is read once per bundle; a table that cannot be parsed is
 * refused whole (as if it were missing) with one line on stderr naming the
 * file and the line of the fault. Copy rule; null only when out of memory. */
VP_EXPORT CFStringRef CFBundleCopyLocalizedString(CFBundleRef bundle, CFStringRef key,
                                                  CFStringRef value,
                                                  CFStringRef tableName) VP_NOEXCEPT;
/* The language folder that CFBundleCopyLocalizedString reads first for this
 * process's settings, without ".lproj" ("German", "de_DE", "English", ...).
 * Copy rule; null when the bundle has neither a folder for the user's
 * languages nor an English one. */
VP_EXPORT CFStringRef VPBundleCopyPreferredLocalization(CFBundleRef bundle) VP_NOEXCEPT;

/* Loads the executable with dlopen(RTLD_NOW | RTLD_LOCAL); true at once when
 * it is loaded already. False on failure, with the reason in *error (Copy
 * rule; null on success) when error is not null. A loaded executable stays
 * loaded for the life of the process. */
VP_EXPORT Boolean VPBundleLoadExecutable(CFBundleRef bundle, CFStringRef *error) VP_NOEXCEPT;
VP_EXPORT Boolean CFBundleIsExecutableLoaded(CFBundleRef bundle) VP_NOEXCEPT;
/* The address of the named symbol in the bundle's executable, loading it
 * first when needed; null when it cannot be loaded or has no such symbol. */
VP_EXPORT void *CFBundleGetFunctionPointerForName(CFBundleRef bundle,
                                                  CFStringRef functionName) VP_NOEXCEPT;

/* ---- CFPlugIn instance registration ---- */
/* An instance made by a factory registers itself when made and unregisters
 * when it goes. Factories are told apart by UUID value (CFEqual). Removing
 * an instance that was never added is ignored. Bundles are never unloaded,
 * so the bundle that declares a factory stays loaded while any instance
 * lives; the counts let a host check that none is left. */
VP_EXPORT void CFPlugInAddInstanceForFactory(CFUUIDRef factoryID) VP_NOEXCEPT;
VP_EXPORT void CFPlugInRemoveInstanceForFactory(CFUUIDRef factoryID) VP_NOEXCEPT;
/* How many instances of the factory live now. */
VP_EXPORT CFIndex VPPlugInGetInstanceCount(CFUUIDRef factoryID) VP_NOEXCEPT;
/* The registered bundle whose Info.plist declares the factory under
 * CFPlugInFactories (UUID strings in either case), lent; null when none
 * does. */
VP_EXPORT CFBundleRef VPPlugInGetBundleForFactory(CFUUIDRef factoryID) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
