// The size accumulation (see size_accumulation.h). The walk is depth first
// in the iterators' order with one iterator per folder level, each holding
// that folder's list while the folders below it are walked. The levels are
// kept on an explicit stack rather than on the call stack, so that a tree
// nested tens of thousands of folders deep (which Linux allows below a
// selected folder) costs heap memory per level and cannot overflow the
// host's stack.
#include "size_accumulation.h"

#include <cstdlib>
#include <cstring>

#include "dir_iter.h"
#include "log.h"
#include "toolbox_utils.h"

namespace {

// Both rights a folder needs for its entries to be listed and reached.
constexpr UInt8 kReadAndSearch = kioACAccessUserReadMask | kioACAccessUserSearchMask;

// Levels held without a heap block; deeper walks move the stack to one.
constexpr size_t kInlineLevels = 64;

// Whether the calculation that began at tick start must stop now: a cancel
// key is held, or more than limit ticks have passed. The difference is taken
// in unsigned 32 bits, so a wrap of the tick counter still measures right;
// a limit of -1 never passes, and another negative one compares as a very
// large unsigned value.
Boolean TimeOut(UInt32 start, SInt32 limit) {
  if (UserCanceled() == userCanceledErr) return true;
  if (limit == -1) return false;
  const UInt32 elapsed = TickCount() - start;
  return elapsed > static_cast<UInt32>(limit);
}

// The iterators of the folder levels being walked, the innermost last. The
// bottom one belongs to the caller; the others are made and disposed here.
struct Levels {
  MyFSDirIter *inlineSlots[kInlineLevels];
  MyFSDirIter **slots;
  size_t count;
  size_t capacity;
};

void LevelsInit(Levels *levels, MyFSDirIter *bottom) {
  levels->slots = levels->inlineSlots;
  levels->capacity = kInlineLevels;
  levels->slots[0] = bottom;
  levels->count = 1;
}

// False when the stack cannot grow; it is unchanged then.
bool LevelsPush(Levels *levels, MyFSDirIter *iter) {
  if (levels->count == levels->capacity) {
    const size_t capacity = levels->capacity * 2;
    MyFSDirIter **grown = static_cast<MyFSDirIter **>(calloc(capacity, sizeof(MyFSDirIter *)));
    if (!grown) return false;
    memcpy(grown, levels->slots, levels->count * sizeof(MyFSDirIter *));
    if (levels->slots != levels->inlineSlots) free(levels->slots);
    levels->slots = grown;
    levels->capacity = capacity;
  }
  levels->slots[levels->count++] = iter;
  return true;
}

// Leaves the innermost level, disposing its iterator unless it is the
// caller's.
void LevelsPop(Levels *levels) {
  --levels->count;
  if (levels->count > 0) MyFSDirIterDispose(levels->slots[levels->count]);
}

void LevelsDispose(Levels *levels) {
  while (levels->count > 0)
    LevelsPop(levels);
  if (levels->slots != levels->inlineSlots) free(levels->slots);
}

// Adds everything that iter yields, and all that lies below its folders, to
// data. iter stands before its first item and stays the caller's. Time and
// keys are tested on entry to iter's level and to every folder entered.
OSStatus AddFileObjectSizeForIter(MyFSDirIter *iter, MyFileSizeData *data, UInt32 start,
                                  SInt32 limit) {
  if (!iter || !data) return paramErr;
  if (TimeOut(start, limit)) return userCanceledErr;

  Levels levels;
  LevelsInit(&levels, iter);
  OSStatus result = noErr;
  while (result == noErr && levels.count > 0) {
    MyFSDirIter *level = levels.slots[levels.count - 1];
    const FSRef *item = MyFSDirIterNext(level);
    if (!item) {
      LevelsPop(&levels);
      continue;
    }
    const SInt32 invisible = MyFSDirIterIsInvisible(level) ? 1 : 0;
    if (MyFSDirIterIsContainer(level)) {
      const bool unscannable =
          (MyFSDirIterGetUserAccessPerm(level) & kReadAndSearch) != kReadAndSearch;
      data->folderCount += 1;
      data->invisibleFolderCount += invisible;
      if (unscannable) {
        // Counted, reported and skipped: the rest of the tree is still
        // measured.
        data->unscannableFolderCount += 1;
        MyLogPathForFSRef(CFSTR("Permission denied"), item);
        continue;
      }
      // The level has just fetched this folder's Launch Services flags and
      // access byte; the new iterator uses them instead of asking again.
      MyFSDirIter *folder = nullptr;
      result = MyFSDirIterCreateForCurrentItem(level, &folder);
      if (result == fnfErr) {
        // Gone since the listing, or no longer a folder (the kernel's
        // ENOTDIR reads as fnfErr too): a live file system changed under
        // the walk. It stays counted as the folder the listing showed; its
        // contents are not, and the rest of the tree is still measured.
        result = noErr;
        continue;
      }
      if (result != noErr) break;
      if (!LevelsPush(&levels, folder)) {
        MyFSDirIterDispose(folder);
        result = memFullErr;
        break;
      }
      if (TimeOut(start, limit)) result = userCanceledErr;
    } else {
      FSCatalogInfo info;
      result = FSGetCatalogInfo(item, kFSCatInfoDataSizes | kFSCatInfoRsrcSizes, &info, nullptr,
                                nullptr, nullptr);
      if (result == fnfErr) {
        // Gone since the listing: there is nothing left to count.
        result = noErr;
        continue;
      }
      if (result != noErr) break; // this item is not counted
      data->fileCount += 1;
      data->invisibleFileCount += invisible;
      data->dataPhysicalTotal += info.dataPhysicalSize;
      data->dataLogicalTotal += info.dataLogicalSize;
      data->rsrcPhysicalTotal += info.rsrcPhysicalSize;
      data->rsrcLogicalTotal += info.rsrcLogicalSize;
    }
  }
  LevelsDispose(&levels);
  return result;
}

} // namespace

OSStatus CalculateFileSizeForTarget(CFArrayRef refs, MyFileSizeData *data, SInt32 limit) {
  if (!refs || !data) return paramErr;
  MyFSDirIter *iter = nullptr;
  OSStatus result = MyFSDirIterCreateWithFSRefArray(refs, &iter);
  if (result != noErr) return result;
  result = MyFSDirIterExcludeContainedItems(iter);
  if (result != noErr) {
    MyFSDirIterDispose(iter);
    return result; // the record keeps its previous figures
  }
  ClearFileSizes(data);
  // Read after the exclusion: its time does not count against the limit.
  const UInt32 start = TickCount();
  result = AddFileObjectSizeForIter(iter, data, start, limit);
  MyFSDirIterDispose(iter);
  return result;
}

void ClearFileSizes(MyFileSizeData *data) {
  if (!data) return;
  data->fileCount = 0;
  data->folderCount = 0;
  data->invisibleFileCount = 0;
  data->invisibleFolderCount = 0;
  data->unscannableFolderCount = 0;
  data->dataPhysicalTotal = 0;
  data->dataLogicalTotal = 0;
  data->rsrcPhysicalTotal = 0;
  data->rsrcLogicalTotal = 0;
}
