// Toolbox utilities (see toolbox_utils.h): the two process-wide caches
// sysVersion and myCFBundleRef, the conversions between POSIX paths, file
// references and FSRef data, the access byte, the clipboard text and the
// cancel keys.
#include "toolbox_utils.h"

#include <climits>
#include <cstdlib>

namespace {

// -1 until Gestalt has been asked; 0x1000 when it failed.
SInt32 sysVersion = -1;
// Lent by the platform's bundle registry, which keeps bundles for the life
// of the process.
CFBundleRef myCFBundleRef = nullptr;

constexpr SInt32 kUnknownSystemVersion = 0x1000;

// Virtual key codes of the cancel keys.
constexpr unsigned kCommandKey = 55;
constexpr unsigned kPeriodKey = 47;
constexpr unsigned kEscapeKey = 53;

bool KeyIsDown(const UInt8 *keys, unsigned code) {
  return (keys[code / 8] >> (code % 8)) & 1u;
}

} // namespace

SInt32 GetOSVersion(void) {
  if (sysVersion == -1) {
    SInt32 answer = 0;
    sysVersion = Gestalt(gestaltSystemVersion, &answer) == noErr ? answer : kUnknownSystemVersion;
  }
  return sysVersion;
}

CFBundleRef GetMyBundle(CFStringRef bundleID) {
  if (!myCFBundleRef) myCFBundleRef = CFBundleGetBundleWithIdentifier(bundleID);
  return myCFBundleRef;
}

Boolean GetFileRefForPath(CFStringRef path, FSRef *ref) {
  if (!path || !ref) return false;
  CFURLRef url = CFURLCreateWithFileSystemPath(nullptr, path, kCFURLPOSIXPathStyle, false);
  if (!url) return false;
  Boolean found = CFURLGetFSRef(url, ref);
  CFRelease(url);
  return found;
}

CFDataRef CopyFileRefDataForRef(const FSRef *ref) {
  if (!ref) return nullptr;
  return CFDataCreate(nullptr, ref->hidden, sizeof(FSRef));
}

CFDataRef CopyFileRefDataForPath(CFStringRef path) {
  FSRef ref;
  if (!GetFileRefForPath(path, &ref)) return nullptr;
  return CopyFileRefDataForRef(&ref);
}

OSStatus GetUserAccessPerm(const FSRef *ref, UInt8 *perm) {
  if (!ref) return paramErr;
  // The access byte alone: the owner, group and mode would cost a stat of
  // their own (every folder of a walk is asked twice), and nothing here
  // reads them.
  FSCatalogInfo info;
  OSStatus err = FSGetCatalogInfo(ref, kFSCatInfoUserAccess, &info, nullptr, nullptr, nullptr);
  if (err == noErr && perm) *perm = info.permissions.userAccess;
  return err;
}

OSStatus SetTextToScrap(CFStringRef text, UInt32 /* reserved */) {
  const CFIndex length = text ? CFStringGetLength(text) : 0;
  if (length <= 0) return paramErr;
  // The 'utxt' size travels as a Size (32 bits): a text too long for it
  // cannot be put at all, which is a lack of room, not a bad argument.
  if (length > INT32_MAX / static_cast<CFIndex>(sizeof(UniChar))) return memFullErr;

  OSStatus err = ClearCurrentScrap();
  if (err != noErr) return err;
  ScrapRef scrap = nullptr;
  err = GetCurrentScrap(&scrap);
  if (err != noErr) return err;

  const CFRange whole = CFRangeMake(0, length);
  UniChar *units = static_cast<UniChar *>(calloc(static_cast<size_t>(length), sizeof(UniChar)));
  // A buffer that cannot be had is reported: answering noErr would tell the
  // user a text was copied while the clipboard stays empty.
  if (!units) return memFullErr;
  CFStringGetCharacters(text, whole, units);
  err = PutScrapFlavor(scrap, kScrapFlavorTypeUnicode, kScrapFlavorMaskNone,
                       static_cast<Size>(length * static_cast<CFIndex>(sizeof(UniChar))), units);
  free(units);
  if (err != noErr) return err;

  const CFStringEncoding encoding = CFStringGetSystemEncoding();
  CFIndex needed = 0;
  CFStringGetBytes(text, whole, encoding, '?', false, nullptr, 0, &needed);
  if (needed <= 0) return noErr; // 'utxt' alone
  if (needed > INT32_MAX) return memFullErr;
  UInt8 *bytes = static_cast<UInt8 *>(calloc(static_cast<size_t>(needed), 1));
  if (!bytes) return memFullErr; // 'utxt' stays, alone
  CFIndex used = 0;
  const CFIndex converted =
      CFStringGetBytes(text, whole, encoding, '?', false, bytes, needed, &used);
  if (converted > 0) {
    err = PutScrapFlavor(scrap, kScrapFlavorTypeText, kScrapFlavorMaskNone, static_cast<Size>(used),
                         bytes);
  }
  free(bytes);
  return err;
}

OSStatus UserCanceled(void) {
  KeyMap keys = {0, 0, 0, 0};
  GetKeys(keys);
  const UInt8 *bytes = reinterpret_cast<const UInt8 *>(keys);
  if (KeyIsDown(bytes, kCommandKey) && KeyIsDown(bytes, kPeriodKey)) return userCanceledErr;
  if (KeyIsDown(bytes, kEscapeKey)) return userCanceledErr;
  return noErr;
}
