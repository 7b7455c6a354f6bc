/* Test hooks of the File Manager: how many folders are interned, how many
 * folder descriptors are held open, and control over that bounded cache, so
 * tests can show that memory grows with folders and not with files, and that
 * a folder whose descriptor was dropped is found again (or reported gone).
 * Production code never calls these. */
#ifndef VANTLOW_FILES_TESTING_H
#define VANTLOW_FILES_TESTING_H

#include <Carbon/MacTypes.h>

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

VP_EXTERN_C_END

#endif
