/* The File Manager: file references (FSRef), catalog information, flat
 * folder iteration and the conversions between file references and POSIX
 * paths.
 *
 * An FSRef is an 80-byte value that names one file-system item. Callers copy
 * it byte for byte and may keep it as long as the process lives: it stays
 * valid on its own and needs no disposal. Two references to the same item
 * need not be equal byte for byte (a reference made by a folder listing also
 * carries what the listing told about the item); FSCompareFSRefs tells
 * whether they name the same item. A reference is meaningful only inside the
 * process that made it. What a folder listing told about an item (its kind,
 * whether an AppleDouble file holds its resource fork) is answered from the
 * reference without asking the disk again, so it stays as of that listing.
 *
 * Symbolic links are never followed: a link is an item of its own, with the
 * sizes lstat gives. Folders named on the way by a path are resolved as the
 * kernel resolves them, so FSRefMakePath gives the folder part of a path
 * without symbolic links.
 *
 * Results: noErr; paramErr for a null argument, a reference this process did
 * not make, or a request it cannot serve; fnfErr for an item that does not
 * exist (or was replaced since the reference was made); afpAccessDenied when
 * the system refuses access; ioErr for other system errors; memFullErr when
 * memory runs out. */
#ifndef VANTLOW_CARBON_FILES_H
#define VANTLOW_CARBON_FILES_H

#include <Carbon/MacTypes.h>

VP_EXTERN_C_BEGIN

/* Result codes of this manager that MacTypes.h does not list. */
enum {
  errFSRefsDifferent = -1420,       /* FSCompareFSRefs: two different items */
  errFSIteratorNotSupported = -1425 /* FSOpenIterator: only flat iteration exists */
};

/* ---- File references ---- */
struct FSRef {
  UInt8 hidden[80];
};
typedef struct FSRef FSRef;
typedef FSRef *FSRefPtr;

/* Classic file specifications are not supported: every FSSpec argument must
 * be null. */
typedef void *FSSpecPtr;

/* A file name as UTF-16 units, at most 255 of them. */
typedef struct HFSUniStr255 {
  UInt16 length;
  UniChar unicode[255];
} HFSUniStr255;

typedef SInt16 FSVolumeRefNum;

/* ---- Catalog information ---- */

/* Ownership and the current user's rights. userAccess holds the effective
 * rights of this process: read kioACAccessUserReadMask, write
 * kioACAccessUserWriteMask, search (execute) kioACAccessUserSearchMask. mode
 * is the POSIX mode (type and permission bits, st_mode). */
typedef struct FSPermissionInfo {
  UInt32 userID;
  UInt32 groupID;
  UInt8 reserved1;
  UInt8 userAccess;
  UInt16 mode;
  UInt32 reserved2;
} FSPermissionInfo;

enum {
  kioACAccessUserReadMask = 0x04,
  kioACAccessUserWriteMask = 0x02,
  kioACAccessUserSearchMask = 0x01
};

/* nodeFlags */
enum {
  kFSNodeLockedBit = 0,
  kFSNodeLockedMask = 0x0001,
  kFSNodeIsDirectoryBit = 4,
  kFSNodeIsDirectoryMask = 0x0010
};

/* FSGetCatalogInfo and FSGetCatalogInfoBulk fill only the fields that the
 * request bits name; the other fields are left as they were. A request that
 * holds bits not named here is refused with paramErr. */
typedef UInt32 FSCatalogInfoBitmap;
enum {
  kFSCatInfoNone = 0x00000000,
  kFSCatInfoNodeFlags = 0x00000002,   /* nodeFlags: the directory bit */
  kFSCatInfoVolume = 0x00000004,      /* volume: a number per device, -1, -2, ... */
  kFSCatInfoParentDirID = 0x00000008, /* parentDirID: low 32 bits of the folder's inode */
  kFSCatInfoNodeID = 0x00000010,      /* nodeID: low 32 bits of the item's inode */
  kFSCatInfoPermissions = 0x00000400, /* permissions: userID, groupID, mode */
  kFSCatInfoValence = 0x00002000,     /* valence: a folder's listed items; 0 for a file */
  kFSCatInfoDataSizes = 0x00004000,   /* data fork: dataLogicalSize, dataPhysicalSize */
  kFSCatInfoRsrcSizes = 0x00008000,   /* resource fork: rsrcLogicalSize, rsrcPhysicalSize */
  kFSCatInfoUserAccess = 0x00080000   /* permissions.userAccess */
};

/* The catalog information of one item. The data fork is the file's
 * contents: logical size st_size, physical size st_blocks x 512. The
 * resource fork lives in the AppleDouble file "._<name>" beside the item:
 * its logical size is the length of that file's resource-fork entry, its
 * physical size that length rounded up to the volume's fragment size (0
 * when there is none). A folder has no forks (all sizes 0); a symbolic link
 * has the data fork lstat reports and no resource fork. permissions may also
 * be read through a pointer: (FSPermissionInfo *)&info.permissions. */
typedef struct FSCatalogInfo {
  UInt16 nodeFlags;
  FSVolumeRefNum volume;
  UInt32 parentDirID;
  UInt32 nodeID;
  FSPermissionInfo permissions;
  UInt64 dataLogicalSize;
  UInt64 dataPhysicalSize;
  UInt64 rsrcLogicalSize;
  UInt64 rsrcPhysicalSize;
  UInt32 valence;
} FSCatalogInfo;
typedef FSCatalogInfo *FSCatalogInfoPtr;

/* Fills the requested fields of catalogInfo (may be null when whichInfo is
 * kFSCatInfoNone), the item's name into outName (may be null), and the
 * folder that holds the item into parentRef (may be null; the root folder
 * "/" is its own parent). fsSpec must be null. Requests cost only what they
 * need: kFSCatInfoNodeFlags for an item whose type a listing reported needs
 * no system call.
 *
 * A name longer than 255 UTF-16 units would be cut to its first 255 units
 * in outName, for display only (the reference itself holds the full name);
 * a name of at most 255 bytes, the most Linux file systems allow, never has
 * more. On failure the outputs are unspecified. */
VP_EXPORT OSErr FSGetCatalogInfo(const FSRef *ref, FSCatalogInfoBitmap whichInfo,
                                 FSCatalogInfo *catalogInfo /* OUT, may be null */,
                                 HFSUniStr255 *outName /* OUT, may be null */, FSSpecPtr fsSpec,
                                 FSRef *parentRef /* OUT, may be null */) VP_NOEXCEPT;

/* ---- Folder iteration ---- */
typedef struct OpaqueFSIterator *FSIterator;
typedef OptionBits FSIteratorFlags;
enum {
  kFSIterateFlat = 0,   /* the folder's direct entries */
  kFSIterateSubtree = 1 /* not supported: errFSIteratorNotSupported */
};

/* Opens a flat iterator over the folder container names. The iterator owns
 * an open descriptor of the folder until FSCloseIterator. Failure: the out
 * pointer holds null; afpAccessDenied when the folder may not be read,
 * fnfErr when it does not exist or is not a folder (a symbolic link to a
 * folder is not one). */
VP_EXPORT OSErr FSOpenIterator(const FSRef *container, FSIteratorFlags iteratorFlags,
                               FSIterator *iterator /* OUT: the iterator, or null */) VP_NOEXCEPT;
/* Closes the iterator and frees it; null gives paramErr. */
VP_EXPORT OSErr FSCloseIterator(FSIterator iterator) VP_NOEXCEPT;

/* Hands out up to maximumObjects entries of the folder, in the order in
 * which the folder lists them, without "." and "..", and without the
 * AppleDouble files "._x" whose partner "x" is listed too (they are the
 * partners' resource forks, not items). For each entry i it fills, where
 * the array is given, catalogInfos[i] (per whichInfo), refs[i] and names[i]
 * (a name longer than 255 units is cut, as in FSGetCatalogInfo; refs[i]
 * holds the full name). specs must be null. An entry that vanished since the
 * listing is skipped. *actualObjects receives the number of entries handed
 * out; with the last of them (possibly none) the result is errFSNoMoreItems.
 * containerChanged (may be null) receives false: the entries come from one
 * listing of the folder. */
VP_EXPORT OSErr FSGetCatalogInfoBulk(FSIterator iterator, ItemCount maximumObjects,
                                     ItemCount *actualObjects /* OUT */,
                                     Boolean *containerChanged /* OUT, may be null */,
                                     FSCatalogInfoBitmap whichInfo,
                                     FSCatalogInfo *catalogInfos /* OUT, may be null */,
                                     FSRef *refs /* OUT, may be null */, FSSpecPtr specs,
                                     HFSUniStr255 *names /* OUT, may be null */) VP_NOEXCEPT;

/* ---- References and paths ---- */

/* Writes the item's absolute POSIX path, zero-terminated; paramErr when it
 * does not fit in maxPathSize bytes (the buffer then holds an empty
 * string when maxPathSize > 0). The path is made from the names the
 * reference remembers and is not checked against the disk. */
VP_EXPORT OSStatus FSRefMakePath(const FSRef *ref, UInt8 *path /* OUT */,
                                 UInt32 maxPathSize) VP_NOEXCEPT;
/* Makes a reference to the item at the zero-terminated POSIX path (relative
 * to the current folder when it does not begin with "/"). The last name is
 * not followed when it is a symbolic link; "." and ".." are resolved as the
 * kernel does. isDirectory (may be null) receives whether the item is a
 * folder. fnfErr when no item exists at the path. */
VP_EXPORT OSStatus FSPathMakeRef(const UInt8 *path, FSRef *ref /* OUT */,
                                 Boolean *isDirectory /* OUT, may be null */) VP_NOEXCEPT;
/* noErr when both references name the same item, errFSRefsDifferent when
 * they do not, paramErr for a null or malformed reference. Compares what the
 * references hold; the disk is not consulted. */
VP_EXPORT OSErr FSCompareFSRefs(const FSRef *ref1, const FSRef *ref2) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
