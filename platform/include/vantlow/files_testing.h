/* Test hooks of the File Manager: how many folders are interned, how many
 * folder descriptors are held open, and control over that bounded cache, so
 * tests can show that memory grows with folders and not with files, and that
 * a folder whose descriptor was dropped is found again (or reported gone).
 * Production code never calls these. */
#ifndef VANTLOW_FILES_TESTING_H
#define VANTLOW_FILES_TESTING_H

#include <Carbon/MacTypes.h>
#include <CoreFoundation/CFBase.h>

VP_EXTERN_C_BEGIN

/* Folders interned since the process started (the root included). */
VP_EXPORT long VPFilesNodeCount(void) VP_NOEXCEPT;
/* Long names kept for references whose name does not fit inline. */
VP_EXPORT long VPFilesSpilledNameCount(void) VP_NOEXCEPT;
/* Folder descriptors held open by the cache now. */
VP_EXPORT long VPFilesOpenDescriptorCount(void) VP_NOEXCEPT;
/* Sets the most descriptors the cache may hold (at least 2; the default is
 * 128) and closes the least recently used ones beyond it. Returns the old
 * capacity. */
VP_EXPORT long VPFilesSetDescriptorCapacity(long capacity) VP_NOEXCEPT;
/* Closes every cached folder descriptor: the next use of each folder reopens
 * it through its parents and checks that it is still the same folder. */
VP_EXPORT void VPFilesDropDescriptors(void) VP_NOEXCEPT;

/* The parsers of the untrusted files the File Manager reads, run on bytes in
 * memory (for fuzzing and for tests of hostile input). */

/* Reads bytes as the AppleDouble file "._x" beside an item: true, with
 * *rsrcLength the resource fork's length, when they hold a well-formed
 * header and resource-fork entry; false (and *rsrcLength untouched) for
 * anything else. */
VP_EXPORT Boolean VPAppleDoubleParseForTesting(const UInt8 *bytes, CFIndex length,
                                               UInt64 *rsrcLength /* OUT */) VP_NOEXCEPT;

/* Reads bytes as a folder's ".hidden" file, under the same size limit:
 * the set of names it hides, as CFStrings through the file-name mapping
 * (each added after the folder's lookup has found it, so the set is what
 * lookups hide). Create rule; an empty set when it hides nothing; null for
 * bad arguments or when memory runs out. */
VP_EXPORT CFSetRef VPHiddenNamesCreateFromDataForTesting(const UInt8 *bytes,
                                                         CFIndex length) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
