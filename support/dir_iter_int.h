// The directory iterator's record, shared by the files of the iterator module
// (the iterator itself, the contained-item exclusion, and constructors that
// fill the list from elsewhere). Code outside the module uses dir_iter.h.
#pragma once

#include "dir_iter.h"

// currentIndex before the first item and once the list is exhausted.
enum : SInt32 { kMyFSDirIterBeforeFirst = -1, kMyFSDirIterExhausted = 0x7FFFFFFF };

// Allocated zero-filled by the constructors, freed by MyFSDirIterDispose.
// Every move and every reset clears lsFlags, isContainer, userAccessPerm and
// both validity flags.
struct MyFSDirIter {
  CFMutableArrayRef contentRefs; // owned: the items as FSRef data, in the order handed out
  SInt32 currentIndex;           // -1, the current item's index, or kMyFSDirIterExhausted
  const FSRef *currentRef;       // lent: the bytes of the current element; null without one
  UInt32 lsFlags;                // Launch Services flags, valid while lsFlagsValid
  CFSetRef hiddenNames;          // owned, may be null: names from a volume root's ".hidden"
  UInt8 userAccessPerm;          // access byte, valid while userAccessPermValid
  Boolean isContainer;           // the current item is a folder
  Boolean lsFlagsValid;
  Boolean userAccessPermValid;
};
