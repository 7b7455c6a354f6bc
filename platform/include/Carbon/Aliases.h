/* Alias records: how a host names the items of a selection, and how the
 * plug-in turns them back into file references.
 *
 * An alias record here holds the item's absolute path, made when the alias
 * is made, and resolves when an item exists at that path (a symbolic link is
 * an item of its own and is never followed). The record is a block of bytes,
 * all multi-byte fields big-endian:
 *
 *   offset  size  field
 *   0       4     magic 'VPal'
 *   4       2     version, 1
 *   6       2     reserved, 0
 *   8       4     n, the byte length of the path
 *   12      n     the path: absolute, no zero byte, no terminator
 *
 * and nothing after it. The bytes travel inside descriptors of typeAlias and
 * in handles that anyone can fill, so they are checked before use: a block
 * that is not exactly such a record is refused with paramErr.
 *
 * Descriptors convert through AECoerceDesc: typeAlias to typeFSRef resolves
 * the alias; typeFSRef, typeChar (a path, as VPNewAliasForPath takes it) and
 * typeFileURL (a "file://" URL, empty host or "localhost", %XX escapes) make
 * an alias. A coercion that cannot be made (a malformed record, no item at
 * the path, another kind of URL) is errAECoercionFail; memFullErr when memory
 * runs out. */
#ifndef VANTLOW_CARBON_ALIASES_H
#define VANTLOW_CARBON_ALIASES_H

#include <Carbon/AEDataModel.h>
#include <Carbon/Files.h>
#include <Carbon/MacTypes.h>

VP_EXTERN_C_BEGIN

/* The record's bytes are opaque to callers; an AliasHandle is a Handle whose
 * block holds one record (cast either way). */
typedef struct AliasRecord AliasRecord;
typedef AliasRecord *AliasPtr;
typedef AliasPtr *AliasHandle;

enum {
  typeFileURL = 0x6675726C /* 'furl': a file URL, "file:///path" */
};

/* Makes an alias for the item target names, in *inAlias (null on failure);
 * the caller disposes it with DisposeHandle. fromFile is ignored (aliases
 * hold absolute paths) and may be null. Fails with the error of FSRefMakePath
 * or memFullErr. */
VP_EXPORT OSErr FSNewAlias(const FSRef *fromFile, const FSRef *target,
                           AliasHandle *inAlias /* OUT: caller disposes */) VP_NOEXCEPT;

/* Resolves an alias (a handle from NewHandle, or from FSNewAlias or
 * VPNewAliasForPath): noErr and *target names the item at the record's path;
 * fnfErr when there is no item there, or the File Manager's error when the
 * path cannot be looked at (afpAccessDenied, memFullErr). paramErr for a null
 * alias or target and for a block that is not a well-formed record. fromFile
 * is ignored and may be null. *wasChanged (may be null) receives false: a
 * record is never updated. target is left as it was after a failure. */
VP_EXPORT OSErr FSResolveAlias(const FSRef *fromFile, AliasHandle alias, FSRef *target /* OUT */,
                               Boolean *wasChanged /* OUT, may be null */) VP_NOEXCEPT;

/* For hosts: an alias for the item at a POSIX path (relative paths are taken
 * from the current folder; the folders on the way are resolved, the last name
 * is not followed). fnfErr when nothing is at the path: a host reports missing
 * paths itself and leaves them out. *outAlias is null after a failure; the
 * caller disposes it with DisposeHandle. */
VP_EXPORT OSErr VPNewAliasForPath(const char *path,
                                  AliasHandle *outAlias /* OUT: caller disposes */) VP_NOEXCEPT;

/* The same, as a descriptor of typeAlias (a null descriptor after a failure);
 * the caller disposes it with AEDisposeDesc. */
VP_EXPORT OSErr VPCreateAliasDescForPath(const char *path,
                                         AEDesc *outDesc /* OUT: caller disposes */) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
