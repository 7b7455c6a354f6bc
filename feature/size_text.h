// The size and count text: the four lines of the submenu (item count, total,
// data fork, resource fork) made from a MyFileSizeData, the all-sizes text
// that joins them, and the two number renderings every size line shows (a
// truncated figure with a unit, and an exact byte count with thousands
// separators). The wording comes from the bundle's Localizable.strings, one
// key per line and state; the number renderings, the unit words, the
// placeholder "Dummy" and the separators are not localized.
//
// Keys and the arguments their texts receive as formats, in this order:
//   "%ld file(s)" (complete), "over %ld file(s)" (incomplete):
//       fileCount, invisibleFileCount, folderCount, invisibleFolderCount (long)
//   "TotalFormat"/"TotalFormat2", "DataFormat"/"DataFormat2",
//   "RsrcFormat"/"RsrcFormat2" (complete/incomplete):
//       the unit text of the physical size, the comma text of the logical
//       size (two strings, %@)
// A key the table lacks is its own text. A null bundle is looked up like a
// bundle without a strings table: every key reads as itself.
//
// Every function returns a new string that the caller releases (Create
// rule), or null when a string it needs cannot be made; nothing it made
// along the way is left behind. The record is only read. Call the count
// line makers inside an autorelease pool: the localized count format is
// handed to the current pool.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include "file_size_data.h"

// The item-count line: "Dummy" when placeholder is true (nothing else is
// read), else the count key of the record's state formatted with the four
// counts.
CFStringRef CreateItemCountString(const MyFileSizeData *data, CFBundleRef bundle,
                                  Boolean placeholder);

// The size line of command kCmdTotalSize, kCmdDataSize or kCmdRsrcSize:
// "Dummy" when placeholder is true, else CreateSizeString2 with that line's
// key and sizes (the total adds the two forks first, in 64 bits). Null for
// any other command.
CFStringRef CreateFileSizeString(const MyFileSizeData *data, CFBundleRef bundle, SInt32 command,
                                 Boolean placeholder);

// The four real lines, each followed by a carriage return (0x0D), the last
// one too; no line feed.
CFStringRef CreateAllSizeString(const MyFileSizeData *data, CFBundleRef bundle);

// key looked up in the bundle and applied to the unit text of physical and
// the comma text of logical.
CFStringRef CreateSizeString2(CFBundleRef bundle, CFStringRef key, UInt64 physical, UInt64 logical);

// The size as a truncated figure and a unit of 1024 steps: "1023 Byte",
// "1 KB", "1.5 MB", "1024.0 GB". Byte and KB show whole numbers, MB and GB
// one truncated decimal; GB is the largest unit.
CFStringRef CopyBytesStringWithUnit(UInt64 bytes);

// The exact decimal byte count with a comma before every group of three
// digits from the right: "999", "1,000", "18,446,744,073,709,551,615".
CFStringRef CopyBytesStringWithComma(UInt64 bytes);
