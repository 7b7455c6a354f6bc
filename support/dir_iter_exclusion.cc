// The contained-item exclusion of the directory iterator: so that an item
// selected together with a folder that holds it is counted once, the list is
// reduced to the items that lie inside no other item of it. The test works on
// POSIX paths: the paths are sorted literally by UTF-16 units, and an entry
// lies inside an earlier one when it begins with that entry's path followed by
// "/" (the path itself when it already ends with "/", as the root does).
//
// In sorted order the paths that begin with one prefix stand together, but
// not always right after the entry that owns the prefix: "/x/A.txt" sorts
// between "/x/A" and "/x/A/b", since "." comes before "/". The scan therefore
// keeps a stack of the prefixes of unmarked entries whose contents may still
// come, the smallest on top. A prefix that the current path has passed (the
// path sorts after it without beginning with it) can never match again and
// is popped; then the path lies inside an earlier entry exactly when it
// begins with the prefix on top. Every prefix is pushed and popped once, so
// the scan is linear in the number of paths.
#include <climits>

#include "dir_iter_int.h"
#include "status_codes.h"
#include "toolbox_utils.h"

namespace {

// The POSIX paths of the iterator's items, in list order; null for a null
// iterator or list, when one item has no path, or when memory runs out. A
// second iterator walks the list, so the caller's position is not touched.
// Create rule.
CFMutableArrayRef CopyContentPathesMutable(MyFSDirIter *iter) {
  if (!iter || !iter->contentRefs) return nullptr;
  CFMutableArrayRef paths = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  if (!paths) return nullptr;
  MyFSDirIter *walker = nullptr;
  if (MyFSDirIterCreateWithFSRefArray(iter->contentRefs, &walker) != noErr) {
    CFRelease(paths);
    return nullptr;
  }
  bool complete = true;
  while (MyFSDirIterNext(walker)) {
    CFStringRef path = MyFSDirIterCopyPath(walker);
    const bool added = path && VPArrayAppendValue(paths, path);
    if (path) CFRelease(path);
    if (!added) {
      complete = false;
      break;
    }
  }
  MyFSDirIterDispose(walker);
  if (!complete) {
    CFRelease(paths);
    return nullptr;
  }
  return paths;
}

// The sort order of paths: literal and case-sensitive, by UTF-16 units.
CFComparisonResult comparePathes(const void *path1, const void *path2, void * /* context */) {
  return CFStringCompare(static_cast<CFStringRef>(path1), static_cast<CFStringRef>(path2), 0);
}

// The path followed by "/", or the path itself when it ends with "/". Create
// rule; null when memory runs out.
CFStringRef CopyPrefixForPath(CFStringRef path) {
  if (CFStringHasSuffix(path, CFSTR("/")))
    return CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%@"), path);
  return CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%@/"), path);
}

bool AddIndex(CFMutableSetRef set, SInt32 index) {
  CFNumberRef number = CFNumberCreate(nullptr, kCFNumberSInt32Type, &index);
  if (!number) return false;
  CFSetAddValue(set, number);
  // The set reports no failure of its own; an index it did not take would
  // count that item twice.
  const bool kept = CFSetContainsValue(set, number);
  CFRelease(number);
  return kept;
}

// The indexes (CFNumbers, SInt32) of the sorted paths that lie inside an
// earlier entry. Create rule; null for a null list, a null entry or when
// memory runs out.
CFSetRef CopyContainedItemIndexes(CFArrayRef sortedPaths) {
  if (!sortedPaths) return nullptr;
  const CFIndex count = CFArrayGetCount(sortedPaths);
  if (count > INT32_MAX) return nullptr;
  CFMutableSetRef contained = CFSetCreateMutable(nullptr, 0, &kCFTypeSetCallBacks);
  if (!contained) return nullptr;
  // Prefixes of unmarked entries whose contents may still come; each one
  // sorts before the one below it.
  CFMutableArrayRef open = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  bool ok = open != nullptr;
  for (CFIndex i = 0; ok && i < count; ++i) {
    CFStringRef path = static_cast<CFStringRef>(CFArrayGetValueAtIndex(sortedPaths, i));
    if (!path) {
      ok = false;
      break;
    }
    CFIndex depth = CFArrayGetCount(open);
    CFStringRef top = nullptr;
    while (depth > 0) {
      top = static_cast<CFStringRef>(CFArrayGetValueAtIndex(open, depth - 1));
      if (CFStringHasPrefix(path, top) || CFStringCompare(path, top, 0) != kCFCompareGreaterThan)
        break;
      CFArrayRemoveValueAtIndex(open, --depth);
      top = nullptr;
    }
    if (top && CFStringHasPrefix(path, top)) {
      ok = AddIndex(contained, static_cast<SInt32>(i));
    } else {
      CFStringRef prefix = CopyPrefixForPath(path);
      ok = prefix && VPArrayAppendValue(open, prefix);
      if (prefix) CFRelease(prefix);
    }
  }
  if (open) CFRelease(open);
  if (!ok) {
    CFRelease(contained);
    return nullptr;
  }
  return contained;
}

// FSRef data made afresh from every sorted path whose index is not in the
// set, in path order. Create rule; null for a null argument, a path that
// names no existing item, or when memory runs out.
CFMutableArrayRef CopyRefsExcludingWith(CFArrayRef sortedPaths, CFSetRef contained) {
  if (!sortedPaths || !contained) return nullptr;
  CFMutableArrayRef refs = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  if (!refs) return nullptr;
  const CFIndex count = CFArrayGetCount(sortedPaths);
  bool ok = count <= INT32_MAX;
  for (CFIndex i = 0; ok && i < count; ++i) {
    const SInt32 index = static_cast<SInt32>(i);
    CFNumberRef number = CFNumberCreate(nullptr, kCFNumberSInt32Type, &index);
    if (!number) {
      ok = false;
      break;
    }
    const bool skip = CFSetContainsValue(contained, number);
    CFRelease(number);
    if (skip) continue;
    CFStringRef path = static_cast<CFStringRef>(CFArrayGetValueAtIndex(sortedPaths, i));
    CFDataRef data = path ? CopyFileRefDataForPath(path) : nullptr;
    ok = data && VPArrayAppendValue(refs, data);
    if (data) CFRelease(data);
  }
  if (!ok) {
    CFRelease(refs);
    return nullptr;
  }
  return refs;
}

} // namespace

OSStatus MyFSDirIterExcludeContainedItems(MyFSDirIter *iter) {
  if (!iter || !iter->contentRefs) return paramErr;
  CFMutableArrayRef paths = CopyContentPathesMutable(iter);
  if (!paths) return paramErr;
  CFArraySortValues(paths, CFRangeMake(0, CFArrayGetCount(paths)), comparePathes, nullptr);
  OSStatus err = kMyNilPointerErr;
  CFSetRef contained = CopyContainedItemIndexes(paths);
  if (contained) {
    CFMutableArrayRef reduced = CopyRefsExcludingWith(paths, contained);
    if (reduced) {
      // Only now, with the whole reduced list in hand, is the old one let
      // go: a failure above leaves the iterator as it was.
      CFRelease(iter->contentRefs);
      iter->contentRefs = reduced;
      MyFSDirIterReset(iter);
      err = noErr;
    }
    CFRelease(contained);
  }
  CFRelease(paths);
  return err;
}
