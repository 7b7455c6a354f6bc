// The file-size feature's record and its command IDs. One MyFileSizeData
// lives per plug-in instance: the size accumulation fills its counts and
// sums, the size text turns them into the submenu's lines, and the menu and
// period modules keep the mode, the time limit and the deferred selection in
// it. The record is allocated zero-filled with calloc and freed with free by
// the menu module.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

typedef struct MyFileSizeData {
  SInt32 fileCount;              // files counted (every item that is not a folder)
  SInt32 folderCount;            // folders counted, readable or not; selected folders included
  SInt32 invisibleFileCount;     // how many of the counted files are invisible
  SInt32 invisibleFolderCount;   // how many of the counted folders are invisible
  UInt32 unscannableFolderCount; // folders counted but not entered: no read or search access
  UInt64 dataPhysicalTotal;      // sum of the files' allocated data-fork sizes
  UInt64 dataLogicalTotal;       // sum of the files' data-fork lengths
  UInt64 rsrcPhysicalTotal;      // sum of the files' allocated resource-fork sizes
  UInt64 rsrcLogicalTotal;       // sum of the files' resource-fork lengths
  Boolean complete;              // the last calculation ended with noErr: the figures are exact
  Boolean lazyCalc;              // deferred mode: measure when the submenu opens
  SInt32 limitTicks;             // time limit of one calculation in 1/60 s; -1: no limit
  CFArrayRef targetRefs;         // owned, may be null: FSRef data of the deferred selection
} MyFileSizeData;

// Command IDs of the submenu's items. Separators and the section header
// carry 0; the values between kCmdCopyAllSizes and kCmdSetupPeriod belong to
// no item.
enum : SInt32 {
  kCmdItemCount = 2000,    // the item-count line
  kCmdTotalSize = 2001,    // the total size line
  kCmdDataSize = 2002,     // the data-fork size line
  kCmdRsrcSize = 2003,     // the resource-fork size line
  kCmdCopyAllSizes = 2004, // "Copy All Sizes"
  kCmdSetupPeriod = 2010   // "Setup Period..."
};
