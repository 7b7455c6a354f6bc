// The size accumulation: measures a selection of files and folders into a
// MyFileSizeData. It walks every selected item and, depth first, every
// folder below it; counts files, folders, invisible ones and folders it may
// not read; and adds up the data and resource forks of every file, each as
// the allocated (physical) and the logical size. The walk runs under a time
// limit and stops when the user holds Command-period or Escape; whatever
// was added before a stop stays in the record as a lower bound.
#pragma once

#include <CoreFoundation/CoreFoundation.h>

#include "file_size_data.h"

// Measures refs, an array of FSRef data (only read: the same array can be
// measured again), into data. An item selected together with a folder that
// holds it is counted once. limit is the time the walk may take, in ticks
// of 1/60 s from the end of that exclusion; -1 means no limit (any other
// negative value acts as a very large one). Time and keys are tested on
// entry to each folder level, never between the items of one level.
//
// Results and what they leave in data:
// - noErr: the figures are exact.
// - paramErr for a null argument: nothing changed.
// - an error of making the iterator over refs or of the exclusion
//   (memFullErr, paramErr, kMyNilPointerErr): the previous figures
//   untouched.
// - userCanceledErr: the limit passed or a cancel key was held; the partial
//   figures stay.
// - an error listing a folder (afpAccessDenied, memFullErr, ...) or reading
//   a file's sizes: the walk ends there; the partial figures stay.
// A folder without read and search access is no error: it is counted in
// folderCount and unscannableFolderCount, its path is logged after
// "Permission denied", and it is not entered. Nor is an item that went
// away after its folder was listed (fnfErr, which includes a folder that
// is no longer a folder): a file gone is not counted, a folder gone stays
// counted as listed but is not entered, and the walk goes on.
OSStatus CalculateFileSizeForTarget(CFArrayRef refs, MyFileSizeData *data, SInt32 limit);

// Sets the five counts and the four sums to zero; complete, lazyCalc,
// limitTicks and targetRefs stay as they are. Null is ignored.
void ClearFileSizes(MyFileSizeData *data);
