// The period setup (see period_setup.h): the "Preferences" dialog that
// chooses the time limit of a calculation and deferred mode, the mapping
// between limits and the dialog's radio buttons, and command 2010, which
// puts an accepted choice into the feature record, the frame's deferred-mode
// flag and the stored preferences.
#include "period_setup.h"

#include "frame.h"
#include "plugin_identity.h"

namespace {

// The dialog's controls, constant for the life of the program.
const ControlID id_radioGroup = {0x50726673 /* 'Prfs' */, 3}; // the time limit
const ControlID id_chckbox = {0x50726673 /* 'Prfs' */, 4};    // deferred mode

// The radio buttons in order: the limit each stands for, in ticks (-1: none).
const SInt32 kLimitTicks[] = {6, 12, 30, 60, 120, 300, 600, 1200, -1};
const SInt32 kLimitCount = sizeof kLimitTicks / sizeof kLimitTicks[0];
const SInt32 kDefaultIndex = 4;  // 1 s
const SInt32 kDefaultTicks = 60; // 1 s

#define kLimitTicksKey CFSTR("FileSize-LimitTicks")
#define kLazyCalcKey CFSTR("FileSize-LazyCalc")

} // namespace

SInt32 TicksToIndex(SInt32 ticks) {
  for (SInt32 i = 0; i < kLimitCount; ++i)
    if (kLimitTicks[i] == ticks) return i + 1;
  return kDefaultIndex;
}

SInt32 IndexToTicks(SInt32 index) {
  if (index < 1 || index > kLimitCount) return kDefaultTicks;
  return kLimitTicks[index - 1];
}

OSStatus SetupDialog(MyModalDialog *dialog, SInt32 limit, Boolean deferred) {
  if (!dialog) return paramErr;
  OSStatus err = MyModalDialogSetControlValue(dialog, &id_radioGroup, TicksToIndex(limit));
  if (err != noErr) return err;
  return MyModalDialogSetControlValue(dialog, &id_chckbox, deferred ? 1 : 0);
}

OSStatus GetNewValue(MyModalDialog *dialog, SInt32 *limit, Boolean *deferred) {
  if (!dialog || !limit || !deferred) return paramErr;
  SInt32 value = 0;
  OSStatus err = MyModalDialogGetControlValue(dialog, &id_radioGroup, &value);
  if (err != noErr) return err;
  *limit = IndexToTicks(value);
  value = 0;
  err = MyModalDialogGetControlValue(dialog, &id_chckbox, &value);
  if (err != noErr) return err;
  *deferred = value != 0;
  return noErr;
}

OSStatus DoPrefsDialog(SInt32 *limit, Boolean *deferred, Boolean *accepted) {
  if (!limit || !deferred || !accepted) return paramErr;
  CFBundleRef bundle = CFBundleGetBundleWithIdentifier(kMyBundleIdentifier);
  MyModalDialog *dialog = NULL;
  OSStatus err = MyModalDialogCreate(bundle, CFSTR("Preferences"), CFSTR("Preferences"), &dialog);
  if (err != noErr) return err;

  UInt32 ack = 0;
  err = SetupDialog(dialog, *limit, *deferred);
  if (err == noErr) err = MyModalDialogRunModalLoop(dialog);
  if (err == noErr) err = MyModalDialogGetUserAcknowledge(dialog, &ack);
  if (err == noErr) {
    *accepted = ack == kHICommandOK;
    if (*accepted) err = GetNewValue(dialog, limit, deferred);
  }
  MyModalDialogDispose(dialog);
  return err;
}

OSStatus MyFileSizeHandleSetupPeriod(MyFileSizeData *data, MyCMXType *instance) {
  if (!data) return paramErr;
  SInt32 limit = data->limitTicks;
  Boolean deferred = data->lazyCalc;
  Boolean accepted = false;
  OSStatus err = DoPrefsDialog(&limit, &deferred, &accepted);
  if (err != noErr || !accepted) return err;

  // Only what changed is written, the limit first, each followed by its
  // own synchronization. The new values take effect in this instance even
  // when they cannot be saved; that failure is then the result, so that the
  // user learns the choice will not outlive the process. A flag is not
  // saved after its limit could not be: the file then keeps the old pair
  // rather than a mix the user never chose.
  OSStatus saved = noErr;
  if (limit != data->limitTicks) {
    data->limitTicks = limit;
    CFNumberRef number = CFNumberCreate(NULL, kCFNumberSInt32Type, &limit);
    if (number) {
      CFPreferencesSetAppValue(kLimitTicksKey, number, kMyBundleIdentifier);
      CFRelease(number);
      if (!CFPreferencesAppSynchronize(kMyBundleIdentifier)) saved = ioErr;
    } else {
      saved = memFullErr;
    }
  }
  if ((deferred != 0) != (data->lazyCalc != 0)) {
    data->lazyCalc = deferred != 0;
    MyCMXTypeSetAllowInstallHandler(instance, data->lazyCalc);
    if (saved == noErr) {
      CFPreferencesSetAppValue(kLazyCalcKey, data->lazyCalc ? kCFBooleanTrue : kCFBooleanFalse,
                               kMyBundleIdentifier);
      if (!CFPreferencesAppSynchronize(kMyBundleIdentifier)) saved = ioErr;
    }
  }
  return saved;
}
