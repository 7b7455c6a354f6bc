// The period setup: the "Setup Period..." command (kCmdSetupPeriod, 2010).
// It shows the window "Preferences" of the bundle's interface file
// "Preferences" as a modal dialog, in which the user chooses the time limit
// of one size calculation (a radio group of nine limits) and deferred mode
// (a checkbox: measure only when the submenu opens). An accepted choice goes
// to the feature record, the frame's deferred-mode flag and the preferences
// "FileSize-LimitTicks" and "FileSize-LazyCalc" under kMyBundleIdentifier.
// Runs on the host's main thread, inside HandleSelection; keeps no state.
#pragma once

#include <Carbon/Carbon.h>

#include "file_size_data.h"
#include "modal_dialog.h"

typedef struct MyCMXType MyCMXType;

// Command 2010 for MyCMXHandleSelectionSelf. Runs DoPrefsDialog on the
// record's limit and mode; Cancel changes nothing and gives noErr. After
// OK, each value that differs from the record's is stored in the record
// (the mode also in the instance's deferred-mode flag), then in the
// preferences and synchronized: the limit first, then the mode; unchanged
// values are neither written nor synchronized. Results: paramErr for a null
// record; DoPrefsDialog's error, and then nothing changes; memFullErr or
// ioErr when a changed value could not be saved (the record and the flag
// hold the new values all the same); else noErr. The clipboard is not
// touched.
OSStatus MyFileSizeHandleSetupPeriod(MyFileSizeData *data, MyCMXType *instance);

// Shows the dialog with *limit (ticks, -1: no limit) and *deferred, and sets
// *accepted to whether the user pressed OK; only then are the chosen limit
// and mode written to *limit and *deferred. paramErr for a null pointer or
// when the plug-in's bundle cannot be found; the platform's error when the
// interface file, the window or a control cannot be found or the modal loop
// fails (then *limit may already hold the new limit, *accepted may be true:
// use none of them). The dialog is always disposed before returning.
OSStatus DoPrefsDialog(SInt32 *limit /* IN, OUT */, Boolean *deferred /* IN, OUT */,
                       Boolean *accepted /* OUT */);

// Sets the radio group to the limit's button and the checkbox to the mode.
// paramErr for a null dialog; the first failing control's error.
OSStatus SetupDialog(MyModalDialog *dialog, SInt32 limit, Boolean deferred);

// Reads the chosen limit (a group without selection reads as 60 ticks) and
// mode. paramErr for a null argument; a control's error, returned at once:
// when the checkbox fails, *limit has already been written.
OSStatus GetNewValue(MyModalDialog *dialog, SInt32 *limit /* OUT */, Boolean *deferred /* OUT */);

// The radio button (1..9) of a limit in ticks: 6, 12, 30, 60, 120, 300, 600,
// 1200, -1 in order; any other value gives 4 (1 s).
SInt32 TicksToIndex(SInt32 ticks);
// The limit of a radio button; 0 (none selected) or any other index outside
// 1..9 gives 60 ticks.
SInt32 IndexToTicks(SInt32 index);
