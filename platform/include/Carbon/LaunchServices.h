/* Launch Services item information: what kind of item a file reference
 * names (file, folder, symbolic link, volume root) and whether people see it.
 *
 * On Linux an item is invisible when its name begins with "." or when the
 * file ".hidden" in its folder lists its name, one name per line, as Linux
 * file managers treat it. A volume is the root of a mount. */
#ifndef VANTLOW_CARBON_LAUNCHSERVICES_H
#define VANTLOW_CARBON_LAUNCHSERVICES_H

#include <Carbon/Files.h>
#include <Carbon/MacTypes.h>
#include <CoreFoundation/CFBase.h>

VP_EXTERN_C_BEGIN

typedef OptionBits LSRequestedInfo;
enum {
  kLSRequestExtension = 0x00000001,   /* extension: the name's extension */
  kLSRequestTypeCreator = 0x00000002, /* filetype and creator (always unknown here) */
  kLSRequestBasicFlagsOnly = 0x00000004,
  kLSRequestAllFlags = 0x00000010, /* the same flags as kLSRequestBasicFlagsOnly here */
  kLSRequestAllInfo = (LSRequestedInfo)0xFFFFFFFFU
};

typedef OptionBits LSItemInfoFlags;
enum {
  kLSItemInfoIsPlainFile = 0x00000001, /* a regular file */
  kLSItemInfoIsContainer = 0x00000008, /* a folder (a volume root is one too) */
  kLSItemInfoIsSymlink = 0x00000020,   /* a symbolic link (never followed) */
  kLSItemInfoIsInvisible = 0x00000040,
  kLSItemInfoIsVolume = 0x00001000 /* the root folder of a mount */
};

enum { kLSUnknownType = 0, kLSUnknownCreator = 0 };

typedef struct LSItemInfoRecord {
  LSItemInfoFlags flags;
  OSType filetype;       /* kLSUnknownType: Linux files carry no type code */
  OSType creator;        /* kLSUnknownCreator */
  CFStringRef extension; /* Copy rule: the caller releases it; null when not asked for,
                            or when the name has no extension */
} LSItemInfoRecord;

/* Fills the fields of outItemInfo that whichInfo asks for; the others are
 * zero. Request bits not named above are ignored. The flags of a reference
 * made by a folder listing usually cost no system call (the listing told
 * the type), except for the volume question, which costs one. A folder's
 * ".hidden" file is read once for the life of the process, and only when
 * the folder holds one. Failure: paramErr for a null argument or a
 * malformed reference, fnfErr when the item does not exist, memFullErr;
 * outItemInfo is then all zero. */
VP_EXPORT OSStatus LSCopyItemInfoForRef(const FSRef *inItemRef, LSRequestedInfo inWhichInfo,
                                        LSItemInfoRecord *outItemInfo /* OUT */) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
