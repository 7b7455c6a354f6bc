/* The Scrap Manager: the clipboard the plug-in copies its lines to.
 *
 * The scrap is per user and lives in files, so that the host (and any other
 * process of the same user) can read back what a plug-in put there and hand
 * it to the desktop clipboard: the folder is ${XDG_RUNTIME_DIR}/vantlow/scrap/
 * when XDG_RUNTIME_DIR is an absolute path, else ~/.cache/vantlow/scrap/
 * (a relative XDG_RUNTIME_DIR is ignored, as the XDG rules ask). Folders are
 * made as needed with mode 0700; a scrap folder owned by another user is
 * refused. Each flavor is one file named after its four characters ('utxt' is
 * "utxt", 'TEXT' is "TEXT"); a flavor code with a character other than a
 * letter, a digit, '_' or '-' is named "0x" and eight lowercase hex digits.
 * A file holds the flavor's bytes exactly ('utxt' in the host's byte order)
 * and appears complete or not at all: it is written to a temporary file in
 * the same folder, flushed and renamed into place. Cleared means no flavor
 * files.
 *
 * Errors from the file system map to fnfErr (a missing folder: a set but
 * missing XDG_RUNTIME_DIR is reported, not replaced by the fallback),
 * afpAccessDenied (no access, or a scrap folder of another user), memFullErr
 * and ioErr (anything else). Under the tests' fault injector every call here
 * can also fail with memFullErr, as it could on other systems. */
#ifndef VANTLOW_CARBON_SCRAP_H
#define VANTLOW_CARBON_SCRAP_H

#include <Carbon/MacTypes.h>

VP_EXTERN_C_BEGIN

/* The current scrap; not an object of its own: it stays valid for the life of
 * the process and is never released. */
typedef struct OpaqueScrapRef *ScrapRef;
typedef FourCharCode ScrapFlavorType;
typedef UInt32 ScrapFlavorFlags;

enum {
  kScrapFlavorMaskNone = 0,
  kScrapFlavorMaskSenderOnly = 1, /* accepted; every flavor is readable by all */
  kScrapFlavorMaskTranslated = 2  /* accepted and not kept */
};

enum {
  kScrapFlavorTypeUnicode = 0x75747874, /* 'utxt' */
  kScrapFlavorTypeText = 0x54455854     /* 'TEXT' */
};

enum {
  noTypeErr = -102,                /* the scrap holds no such flavor */
  duplicateScrapFlavorErr = -4989, /* the flavor is already on the scrap */
  badScrapRefErr = -4990           /* not the ScrapRef GetCurrentScrap gave */
};

/* Removes every flavor (and temporary files a crashed writer left behind);
 * makes the folder when it is missing. */
VP_EXPORT OSStatus ClearCurrentScrap(void) VP_NOEXCEPT;

/* The current scrap, in *scrap (null after a failure). */
VP_EXPORT OSStatus GetCurrentScrap(ScrapRef *scrap /* OUT */) VP_NOEXCEPT;

/* Puts a flavor of size bytes from data (data may be null only when size is
 * 0). A flavor goes on the scrap once per clear: putting one that is already
 * there gives duplicateScrapFlavorErr and keeps the first, since a second put
 * of the same flavor means the caller lost track of what it wrote (two
 * processes putting the same flavor at the same moment may both succeed; the
 * later complete file stays). A negative
 * size, null data with a size, flavor code 0 or unknown flag bits give
 * paramErr. After any failure the scrap is as it was: no partial file. */
VP_EXPORT OSStatus PutScrapFlavor(ScrapRef scrap, ScrapFlavorType flavorType,
                                  ScrapFlavorFlags flavorFlags, Size flavorSize,
                                  const void *flavorData) VP_NOEXCEPT;

/* The byte size of a flavor in *byteCount; noTypeErr when it is not there
 * (*byteCount is then 0). */
VP_EXPORT OSStatus GetScrapFlavorSize(ScrapRef scrap, ScrapFlavorType flavorType,
                                      Size *byteCount /* OUT */) VP_NOEXCEPT;

/* Copies a flavor into destination: *byteCount is the room there on entry and
 * the number of bytes copied on return (at most the room; compare with
 * GetScrapFlavorSize to see whether all of it fitted). noTypeErr, and
 * *byteCount 0, when the flavor is not there. */
VP_EXPORT OSStatus GetScrapFlavorData(ScrapRef scrap, ScrapFlavorType flavorType,
                                      Size *byteCount /* IN/OUT */, void *destination) VP_NOEXCEPT;

/* For hosts: calls visit once per flavor on the scrap, in the order the
 * flavors were put, with its bytes (lent for the call only). visit returns
 * false to stop early. A flavor removed while the walk runs is skipped. */
typedef Boolean (*VPScrapFlavorVisitor)(ScrapFlavorType flavorType, const void *data, Size size,
                                        void *context);
VP_EXPORT OSStatus VPScrapVisitFlavors(ScrapRef scrap, VPScrapFlavorVisitor visit,
                                       void *context) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
