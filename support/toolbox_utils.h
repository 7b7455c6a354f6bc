// Toolbox utilities: the small questions the plug-in asks the platform and
// the small results it hands back. The system version and the plug-in's own
// bundle are looked up once and kept for the life of the process; the other
// functions keep nothing between calls. All of them run on the host's main
// thread (the two caches are not locked).
#pragma once

#include <Carbon/Carbon.h>

// The system version in binary-coded decimal (10.2.0 reads 0x1020), as
// Gestalt answers gestaltSystemVersion. Gestalt is asked at most once per
// process: when it fails, this call and every later one answer 0x1000, a
// version before 10.2.
SInt32 GetOSVersion(void);

// The loaded bundle with that identifier, lent by the platform (never
// released). Once a bundle has been found it is kept and returned for every
// later call, whatever identifier that call passes; a miss is not kept, so the
// next call asks again. Null when no loaded bundle has the identifier.
CFBundleRef GetMyBundle(CFStringRef bundleID);

// Fills *ref with a reference to the item at the POSIX path and answers true;
// false for a null argument or a path that names no existing item (*ref is
// then unspecified).
Boolean GetFileRefForPath(CFStringRef path, FSRef *ref /* OUT */);

// FSRef data (an immutable CFData of the reference's 80 bytes). Create rule:
// the caller releases it. Null for a null reference or when memory runs out.
CFDataRef CopyFileRefDataForRef(const FSRef *ref);

// FSRef data for the item at the POSIX path. Create rule: the caller releases
// it. Null when the path names no existing item or memory runs out.
CFDataRef CopyFileRefDataForPath(CFStringRef path);

// The current user's effective rights to the item (read 4, write 2, search 1)
// in *perm, which may be null. paramErr for a null reference; otherwise the
// catalog's result (fnfErr for an item that is gone, ...). On failure *perm
// keeps its old value.
OSStatus GetUserAccessPerm(const FSRef *ref, UInt8 *perm /* OUT, may be null */);

// Puts the text on the clipboard: the clipboard is cleared, then the text
// goes on as 'utxt' (its UTF-16 units in this machine's byte order) and then
// as 'TEXT' (the system encoding, '?' for every character it cannot hold);
// neither has a terminator or byte-order mark. `reserved` is never read.
// paramErr for a null or empty text (the clipboard is not touched); the
// errors of the Scrap Manager are returned unchanged; memFullErr when a
// conversion buffer cannot be had. After a failure the clipboard is empty or
// holds 'utxt' alone, never 'TEXT' without 'utxt'.
OSStatus SetTextToScrap(CFStringRef text, UInt32 reserved);

// userCanceledErr while Command-period or Escape is held (other keys held
// with them do not matter), else noErr. Reads the keys held at this moment.
OSStatus UserCanceled(void);
