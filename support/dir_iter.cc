// The directory iterator (see dir_iter.h): its constructors, the folder
// listing, the reading of a volume root's ".hidden" file, moving, and the
// questions about the current item. A folder is listed whole by its
// constructor, ten references per catalog call, and the catalog iterator is
// closed before the constructor returns, so a deep walk keeps only one array
// of references per level. Moving reads the node flags alone (the listing
// already told them); Launch Services flags, the access byte and the name
// are fetched only when asked, and the first two at most once per item.
#include "dir_iter_int.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "toolbox_utils.h"

namespace {

constexpr ItemCount kBulkCount = 10;
// Read and search: what a folder needs for its entries to be listed.
constexpr UInt8 kReadAndSearch = kioACAccessUserReadMask | kioACAccessUserSearchMask;

constexpr UInt32 kPathBufferSize = 2048;
constexpr char kHiddenFileName[] = ".hidden";
// fgets reads pieces of at most 255 bytes: a longer line gives one name per
// piece.
constexpr int kLineBufferSize = 256;
// The ".hidden" file is untrusted input on a volume someone else may have
// prepared: only its first 1 MiB is read (a piece cut by that limit is
// dropped), as Launch Services reads the same file.
constexpr long kHiddenFileLimit = 1L << 20;

MyFSDirIter *NewIter() {
  MyFSDirIter *iter = static_cast<MyFSDirIter *>(calloc(1, sizeof(MyFSDirIter)));
  if (iter) iter->currentIndex = kMyFSDirIterBeforeFirst;
  return iter;
}

// Forgets what was known about the current item.
void ClearItemState(MyFSDirIter *iter) {
  iter->lsFlags = 0;
  iter->isContainer = false;
  iter->userAccessPerm = 0;
  iter->lsFlagsValid = false;
  iter->userAccessPermValid = false;
}

bool IsFSRefData(const void *value) {
  CFTypeRef object = value;
  return object && CFGetTypeID(object) == CFDataGetTypeID() &&
         CFDataGetLength(static_cast<CFDataRef>(object)) == static_cast<CFIndex>(sizeof(FSRef));
}

// Opens the ".hidden" file for reading when it is a regular file. A FIFO or a
// device under that name would block the host or never end; a symbolic link
// is not followed, so the file is the one the folder itself holds.
FILE *OpenHiddenFile(const char *path) {
  const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  FILE *file = fdopen(fd, "r");
  if (!file) close(fd);
  return file;
}

// Reads the names of the volume root's ".hidden" file into a new set, or
// null when the file yields none: one name per line, the LF cut off and
// nothing else trimmed, a NUL ending the name, pieces of at most 255 bytes.
// Names are decoded as every file name is (the lossless file-name mapping),
// so they compare equal to the catalog names they list. fnfErr when the file
// cannot be opened (or its path does not fit the buffer); after a failure
// *outSet is untouched and nothing stays allocated.
OSStatus CreateSetOfHiddenFilesForRef(const FSRef *root, CFSetRef *outSet) {
  char *path = static_cast<char *>(malloc(kPathBufferSize));
  if (!path) return memFullErr;
  OSStatus err = FSRefMakePath(root, reinterpret_cast<UInt8 *>(path), kPathBufferSize);
  if (err != noErr) {
    free(path);
    return err;
  }
  const bool isSlash = strcmp(path, "/") == 0;
  const size_t needed = strlen(path) + (isSlash ? 0 : 1) + strlen(kHiddenFileName) + 1;
  if (needed > kPathBufferSize) {
    // A root this deep cannot name its ".hidden" file here: it has none.
    free(path);
    return fnfErr;
  }
  if (!isSlash) strcat(path, "/");
  strcat(path, kHiddenFileName);
  FILE *file = OpenHiddenFile(path);
  free(path);
  if (!file) return fnfErr;

  char *line = static_cast<char *>(malloc(kLineBufferSize));
  CFMutableSetRef names = line ? CFSetCreateMutable(nullptr, 0, &kCFTypeSetCallBacks) : nullptr;
  if (!names) {
    free(line);
    fclose(file);
    return memFullErr;
  }
  while (fgets(line, kLineBufferSize, file)) {
    if (ftell(file) > kHiddenFileLimit) break;
    const size_t length = strlen(line);
    if (length > 0 && line[length - 1] == '\n') line[length - 1] = '\0';
    CFStringRef name = CFStringCreateWithFileSystemRepresentation(nullptr, line);
    if (!name) {
      err = memFullErr;
      break;
    }
    CFSetAddValue(names, name);
    // The set reports no failure of its own: a name it did not take is
    // memory that ran out, and a set missing a name would show that item.
    const bool kept = CFSetContainsValue(names, name);
    CFRelease(name);
    if (!kept) {
      err = memFullErr;
      break;
    }
  }
  fclose(file);
  free(line);
  if (err != noErr) {
    CFRelease(names);
    return err;
  }
  if (CFSetGetCount(names) == 0) {
    CFRelease(names);
    *outSet = nullptr;
  } else {
    *outSet = names;
  }
  return noErr;
}

// Appends count references to items as FSRef data.
OSStatus AppendRefs(CFMutableArrayRef items, const FSRef *refs, ItemCount count) {
  for (ItemCount i = 0; i < count; ++i) {
    CFDataRef data = CopyFileRefDataForRef(&refs[i]);
    if (!data) return memFullErr;
    const bool added = VPArrayAppendValue(items, data);
    CFRelease(data);
    if (!added) return memFullErr;
  }
  return noErr;
}

// Lists the folder's direct entries as FSRef data, in the catalog's order.
// *outChanged tells whether the folder changed during the listing. After a
// failure *outItems is null and nothing stays allocated.
OSStatus MyFSGetDirectoryItems(const FSRef *folder, CFMutableArrayRef *outItems,
                               Boolean *outChanged) {
  if (!outItems || !outChanged) return paramErr;
  *outChanged = false;
  CFMutableArrayRef items = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  *outItems = items;
  if (!items) return memFullErr;
  FSIterator iterator = nullptr;
  OSStatus err = FSOpenIterator(folder, kFSIterateFlat, &iterator);
  if (err == noErr) {
    FSRef refs[kBulkCount];
    for (;;) {
      ItemCount count = 0;
      Boolean changed = false;
      err = FSGetCatalogInfoBulk(iterator, kBulkCount, &count, &changed, kFSCatInfoNone, nullptr,
                                 refs, nullptr, nullptr);
      if (changed) *outChanged = true;
      if (err != noErr && err != errFSNoMoreItems) break;
      // The last batch, the one that reports errFSNoMoreItems, may still
      // carry entries.
      const OSStatus appended = AppendRefs(items, refs, count < kBulkCount ? count : kBulkCount);
      if (appended != noErr) {
        err = appended;
        break;
      }
      if (err == errFSNoMoreItems) {
        err = noErr;
        break;
      }
    }
    FSCloseIterator(iterator);
  }
  if (err != noErr) {
    CFRelease(items);
    *outItems = nullptr;
  }
  return err;
}

// What the caller already knows about a folder: each answer, when present,
// stands for the catalog call that would fetch it.
struct KnownAnswers {
  const UInt32 *lsFlags = nullptr;
  const UInt8 *access = nullptr;
};

OSStatus PrepareForContainer(MyFSDirIter *iter, const FSRef *folder, KnownAnswers known = {}) {
  if (!iter || !folder) return paramErr;
  UInt32 flags = 0;
  if (known.lsFlags) {
    flags = *known.lsFlags;
  } else {
    LSItemInfoRecord info;
    const OSStatus err = LSCopyItemInfoForRef(folder, kLSRequestBasicFlagsOnly, &info);
    if (err == noErr && info.extension) CFRelease(info.extension);
    // Memory that ran out is reported as such; any other answer means that
    // the item cannot be taken for a folder.
    if (err == memFullErr) return memFullErr;
    if (err != noErr) return paramErr;
    flags = info.flags;
  }
  if (!(flags & kLSItemInfoIsContainer)) return paramErr;
  // Without the file, or after any failure in reading it, the iterator
  // simply has no hidden names.
  if (flags & kLSItemInfoIsVolume) (void)CreateSetOfHiddenFilesForRef(folder, &iter->hiddenNames);

  UInt8 access = 0;
  OSStatus err = noErr;
  if (known.access)
    access = *known.access;
  else if ((err = GetUserAccessPerm(folder, &access)) != noErr)
    return err;
  if ((access & kReadAndSearch) != kReadAndSearch) return afpAccessDenied;

  CFMutableArrayRef items = nullptr;
  Boolean changed = false; // a folder that changed meanwhile is listed as read
  err = MyFSGetDirectoryItems(folder, &items, &changed);
  if (err != noErr) return err;
  iter->contentRefs = items;
  iter->currentIndex = kMyFSDirIterBeforeFirst;
  return noErr;
}

OSStatus PrepareForRefs(MyFSDirIter *iter, CFArrayRef refs) {
  if (!iter || !refs || CFGetTypeID(refs) != CFArrayGetTypeID()) return paramErr;
  // The iterator reads each FSRef straight from its data's bytes: anything
  // else in the list would be read past its end.
  const CFIndex count = CFArrayGetCount(refs);
  for (CFIndex i = 0; i < count; ++i)
    if (!IsFSRefData(CFArrayGetValueAtIndex(refs, i))) return paramErr;
  CFMutableArrayRef copy = CFArrayCreateMutableCopy(nullptr, 0, refs);
  if (!copy) return memFullErr;
  iter->contentRefs = copy;
  iter->currentIndex = kMyFSDirIterBeforeFirst;
  return noErr;
}

// Fetches the current item's Launch Services flags unless they are known; a
// failure leaves them unknown, to be asked again.
void GetLSFlagsForCurrItem(MyFSDirIter *iter) {
  if (!iter || !iter->currentRef || iter->lsFlagsValid) return;
  LSItemInfoRecord info;
  if (LSCopyItemInfoForRef(iter->currentRef, kLSRequestBasicFlagsOnly, &info) != noErr) return;
  if (info.extension) CFRelease(info.extension);
  iter->lsFlags = info.flags;
  iter->lsFlagsValid = true;
}

// Whether the volume root's ".hidden" file names the current item.
Boolean IsHiddenFilesForRef(MyFSDirIter *iter) {
  if (!iter || !iter->hiddenNames) return false;
  CFStringRef name = MyFSDirIterCopyName(iter);
  if (!name) return false;
  const Boolean hidden = CFSetContainsValue(iter->hiddenNames, name);
  CFRelease(name);
  return hidden;
}

} // namespace

OSStatus MyFSDirIterCreate(const FSRef *folder, MyFSDirIter **outIter) {
  if (outIter) *outIter = nullptr;
  if (!folder || !outIter) return paramErr;
  MyFSDirIter *iter = NewIter();
  if (!iter) return memFullErr;
  const OSStatus err = PrepareForContainer(iter, folder);
  if (err != noErr) {
    MyFSDirIterDispose(iter);
    return err;
  }
  *outIter = iter;
  return noErr;
}

OSStatus MyFSDirIterCreateForCurrentItem(MyFSDirIter *parent, MyFSDirIter **outIter) {
  if (outIter) *outIter = nullptr;
  if (!parent || !parent->currentRef || !outIter) return paramErr;
  KnownAnswers known;
  if (parent->lsFlagsValid) known.lsFlags = &parent->lsFlags;
  if (parent->userAccessPermValid) known.access = &parent->userAccessPerm;
  MyFSDirIter *iter = NewIter();
  if (!iter) return memFullErr;
  const OSStatus err = PrepareForContainer(iter, parent->currentRef, known);
  if (err != noErr) {
    MyFSDirIterDispose(iter);
    return err;
  }
  *outIter = iter;
  return noErr;
}

OSStatus MyFSDirIterCreateWithFSRefArray(CFArrayRef refs, MyFSDirIter **outIter) {
  if (outIter) *outIter = nullptr;
  if (!refs || !outIter) return paramErr;
  MyFSDirIter *iter = NewIter();
  if (!iter) return memFullErr;
  const OSStatus err = PrepareForRefs(iter, refs);
  if (err != noErr) {
    MyFSDirIterDispose(iter);
    return err;
  }
  *outIter = iter;
  return noErr;
}

OSStatus MyFSDirIterDispose(MyFSDirIter *iter) {
  if (!iter) return noErr;
  if (iter->contentRefs) CFRelease(iter->contentRefs);
  if (iter->hiddenNames) CFRelease(iter->hiddenNames);
  free(iter);
  return noErr;
}

void MyFSDirIterReset(MyFSDirIter *iter) {
  if (!iter) return;
  iter->currentIndex = kMyFSDirIterBeforeFirst;
  iter->currentRef = nullptr;
  ClearItemState(iter);
}

CFArrayRef MyFSDirIterGetContentRefs(MyFSDirIter *iter) {
  return iter ? iter->contentRefs : nullptr;
}

const FSRef *MyFSDirIterNext(MyFSDirIter *iter) {
  if (!iter || iter->currentIndex == kMyFSDirIterExhausted) return nullptr;
  iter->currentRef = nullptr;
  ClearItemState(iter);
  const CFIndex next = static_cast<CFIndex>(iter->currentIndex) + 1;
  if (next >= CFArrayGetCount(iter->contentRefs) || next >= kMyFSDirIterExhausted) {
    // Exhausted: no current item, so the questions answer false, 0 or null.
    iter->currentIndex = kMyFSDirIterExhausted;
    return nullptr;
  }
  iter->currentIndex = static_cast<SInt32>(next);
  CFDataRef data = static_cast<CFDataRef>(CFArrayGetValueAtIndex(iter->contentRefs, next));
  iter->currentRef = reinterpret_cast<const FSRef *>(CFDataGetBytePtr(data));
  FSCatalogInfo info;
  if (FSGetCatalogInfo(iter->currentRef, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr) ==
      noErr)
    iter->isContainer = (info.nodeFlags & kFSNodeIsDirectoryMask) != 0;
  return iter->currentRef;
}

Boolean MyFSDirIterIsContainer(MyFSDirIter *iter) {
  return iter ? iter->isContainer : false;
}

Boolean MyFSDirIterIsInvisible(MyFSDirIter *iter) {
  if (!iter || !iter->currentRef) return false;
  GetLSFlagsForCurrItem(iter);
  if (iter->lsFlags & kLSItemInfoIsInvisible) return true;
  return IsHiddenFilesForRef(iter);
}

UInt8 MyFSDirIterGetUserAccessPerm(MyFSDirIter *iter) {
  if (!iter || !iter->currentRef) return 0;
  if (!iter->userAccessPermValid) {
    UInt8 access = 0;
    if (GetUserAccessPerm(iter->currentRef, &access) == noErr) {
      iter->userAccessPerm = access;
      iter->userAccessPermValid = true;
    }
  }
  return iter->userAccessPerm;
}

CFStringRef MyFSDirIterCopyPath(MyFSDirIter *iter) {
  if (!iter || !iter->currentRef) return nullptr;
  CFURLRef url = CFURLCreateFromFSRef(nullptr, iter->currentRef);
  if (!url) return nullptr;
  CFStringRef path = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);
  CFRelease(url);
  return path;
}

CFStringRef MyFSDirIterCopyName(MyFSDirIter *iter) {
  if (!iter || !iter->currentRef) return nullptr;
  HFSUniStr255 name;
  if (FSGetCatalogInfo(iter->currentRef, kFSCatInfoNone, nullptr, &name, nullptr, nullptr) != noErr)
    return nullptr;
  return CFStringCreateWithCharacters(nullptr, name.unicode, name.length);
}
