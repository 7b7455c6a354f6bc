// Menu construction and command handling: the feature side of the frame's
// contract (the eight functions declared in feature_contract.h). It makes
// and frees the feature record MyFileSizeData, reads the two preferences
// when the host queries the interface, builds the submenu for the selection
// that ExamineContext hands over, fills a deferred submenu in when the
// frame's populate handler calls back, and copies a chosen line to the
// clipboard.
//
// The submenu, as ExamineContext builds it:
//   1-4  the item-count, total, data-fork and resource-fork lines
//        (commands 2000-2003; "Dummy" in deferred mode)
//   5    separator
//   6    "Copy All Sizes" (2004)
//   7    separator
//   8    "Setup Period..." (2010)
//   9-10 immediate mode, when folders could not be read: a separator and
//        the section header "cannot scan %lu folder(s), ..." (command 0)
// It goes into the host's list as one submenu item titled "MenuTitle". In
// deferred mode the builder appends the identifier item after position 8,
// and the populate step later replaces the four lines and appends 9-10.
//
// A string that cannot be made (memory ran out) is reported as memFullErr
// wherever it happens: while building (no submenu, and the frame beeps and
// logs it), while filling a submenu in, and for a chosen line.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include "feature_contract.h"
#include "file_size_data.h"

// The preferences, stored under kMyBundleIdentifier; read at every accepted
// interface query, written by the period setup.
#define kMyLazyCalcPrefKey CFSTR("FileSize-LazyCalc")     // Boolean; default false
#define kMyLimitTicksPrefKey CFSTR("FileSize-LimitTicks") // ticks of 1/60 s, -1 no limit
enum : SInt32 { kMyDefaultLimitTicks = 60 };
