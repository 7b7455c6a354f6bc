// The modal dialog (see modal_dialog.h): a window of an interface file, a
// command handler on its event target that ends the modal loop on OK or
// Cancel and remembers which, and access to the window's control values.
#include "modal_dialog.h"

#include <cstdlib>

namespace {

// Ends the loop on OK or Cancel and notes which; every other command goes
// on to the standard handlers, and the loop keeps running.
OSStatus MyEventHandler(EventHandlerCallRef callRef, EventRef event, void *userData) {
  (void)callRef;
  MyModalDialog *dialog = static_cast<MyModalDialog *>(userData);
  if (!dialog) return eventNotHandledErr;
  HICommand command;
  OSStatus err = GetEventParameter(event, kEventParamDirectObject, typeHICommand, NULL,
                                   sizeof(HICommand), NULL, &command);
  if (err != noErr) return eventNotHandledErr;
  if (command.commandID == kHICommandOK || command.commandID == kHICommandCancel) {
    if (dialog->window) QuitAppModalLoopForWindow(dialog->window);
    dialog->userAcknowledge = command.commandID;
    return noErr;
  }
  return eventNotHandledErr;
}

} // namespace

OSStatus MyModalDialogCreate(CFBundleRef bundle, CFStringRef fileName, CFStringRef windowName,
                             MyModalDialog **outDialog) {
  if (!bundle || !fileName || !windowName || !outDialog) return paramErr;

  MyModalDialog *dialog = static_cast<MyModalDialog *>(calloc(1, sizeof(MyModalDialog)));
  if (!dialog) {
    *outDialog = NULL;
    return memFullErr;
  }

  IBNibRef nib = NULL;
  OSStatus err = CreateNibReferenceWithCFBundle(bundle, fileName, &nib);
  if (err == noErr) err = CreateWindowFromNib(nib, windowName, &dialog->window);
  if (err == noErr) {
    static const EventTypeSpec kCommandEvents[] = {{kEventClassCommand, kEventCommandProcess}};
    dialog->handlerUPP = NewEventHandlerUPP(MyEventHandler);
    err = InstallEventHandler(GetWindowEventTarget(dialog->window), dialog->handlerUPP, 1,
                              kCommandEvents, dialog, &dialog->handlerRef);
  }
  if (nib) DisposeNibReference(nib);

  if (err != noErr) {
    MyModalDialogDispose(dialog);
    *outDialog = NULL;
    return err;
  }
  *outDialog = dialog;
  return noErr;
}

OSStatus MyModalDialogDispose(MyModalDialog *dialog) {
  if (!dialog) return paramErr;
  if (dialog->handlerRef) RemoveEventHandler(dialog->handlerRef);
  if (dialog->handlerUPP) DisposeEventHandlerUPP(dialog->handlerUPP);
  if (dialog->window) DisposeWindow(dialog->window);
  free(dialog);
  return noErr;
}

OSStatus MyModalDialogRunModalLoop(MyModalDialog *dialog) {
  if (!dialog || !dialog->window) return paramErr;
  OSStatus err = RepositionWindow(dialog->window, NULL, kWindowAlertPositionOnMainScreen);
  if (err != noErr) return err;
  ShowWindow(dialog->window);
  err = RunAppModalLoopForWindow(dialog->window);
  if (err == noErr) HideWindow(dialog->window);
  return err;
}

OSStatus MyModalDialogGetUserAcknowledge(MyModalDialog *dialog, UInt32 *outAck) {
  if (!dialog || !outAck) return paramErr;
  *outAck = dialog->userAcknowledge;
  return noErr;
}

OSStatus MyModalDialogGetControlByID(MyModalDialog *dialog, const ControlID *controlID,
                                     ControlRef *outControl) {
  if (!dialog || !controlID || !outControl) return paramErr;
  return GetControlByID(dialog->window, controlID, outControl);
}

OSStatus MyModalDialogGetControlValue(MyModalDialog *dialog, const ControlID *controlID,
                                      SInt32 *outValue) {
  if (!dialog || !controlID || !outValue) return paramErr;
  ControlRef control = NULL;
  OSStatus err = MyModalDialogGetControlByID(dialog, controlID, &control);
  if (err == noErr) *outValue = GetControl32BitValue(control);
  return err;
}

OSStatus MyModalDialogSetControlValue(MyModalDialog *dialog, const ControlID *controlID,
                                      SInt32 value) {
  if (!dialog || !controlID) return paramErr;
  ControlRef control = NULL;
  OSStatus err = MyModalDialogGetControlByID(dialog, controlID, &control);
  if (err == noErr) SetControl32BitValue(control, value);
  return err;
}
