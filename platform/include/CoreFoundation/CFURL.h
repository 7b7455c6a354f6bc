/* File URLs: a POSIX path held as a string. Paths are converted to and from
 * bytes with the lossless file-name mapping (CFString.h). */
#ifndef VANTLOW_CFURL_H
#define VANTLOW_CFURL_H

#include <CoreFoundation/CFBase.h>

VP_EXTERN_C_BEGIN

struct FSRef;

typedef enum { kCFURLPOSIXPathStyle = 0 } CFURLPathStyle;

VP_EXPORT CFTypeID CFURLGetTypeID(void) VP_NOEXCEPT;
/* Only kCFURLPOSIXPathStyle is supported; another style gives null. A
 * relative path is taken relative to the current directory when made. */
VP_EXPORT CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef alloc, CFStringRef filePath,
                                                 CFURLPathStyle pathStyle,
                                                 Boolean isDirectory) VP_NOEXCEPT;
VP_EXPORT CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef alloc,
                                                           const UInt8 *buffer, CFIndex bufLen,
                                                           Boolean isDirectory) VP_NOEXCEPT;
/* The path without a trailing slash (except for "/"). Copy rule. */
VP_EXPORT CFStringRef CFURLCopyFileSystemPath(CFURLRef anURL,
                                              CFURLPathStyle pathStyle) VP_NOEXCEPT;
/* Zero-terminated path bytes; false when they do not fit. */
VP_EXPORT Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase,
                                                   UInt8 *buffer, CFIndex maxBufLen) VP_NOEXCEPT;
/* The URL of the item a file reference names; null when it cannot be made. */
VP_EXPORT CFURLRef CFURLCreateFromFSRef(CFAllocatorRef alloc, const struct FSRef *fsRef) VP_NOEXCEPT;
/* Fills fsRef and answers true only when an item exists at the URL's path. */
VP_EXPORT Boolean CFURLGetFSRef(CFURLRef url, struct FSRef *fsRef) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
