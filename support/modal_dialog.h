// The modal dialog: one window of a bundle's interface file shown as an
// application-modal dialog. The caller sets the window's control values,
// runs the modal loop until the user presses OK or Cancel, reads which of
// the two it was and, after OK, the controls' values. Used from the host's
// main thread only.
//
// Calling order: MyModalDialogCreate; set values; MyModalDialogRunModalLoop;
// MyModalDialogGetUserAcknowledge; when it is kHICommandOK, read values;
// MyModalDialogDispose, on every path after a successful creation.
#pragma once

#include <Carbon/Carbon.h>

// Allocated zero-filled by MyModalDialogCreate, freed by
// MyModalDialogDispose; every field is owned by the record.
typedef struct MyModalDialog {
  WindowRef window;           // the dialog's window, made from the interface file
  EventHandlerUPP handlerUPP; // the UPP of the dialog's command handler
  EventHandlerRef handlerRef; // the handler, installed on the window's event target
  UInt32 userAcknowledge;     // 0 until the user ends the dialog; then kHICommandOK or
                              // kHICommandCancel
} MyModalDialog;

// Makes the window windowName of the interface file fileName (without
// extension) in bundle, and installs the dialog's handler for command
// events on it. On success *outDialog receives the new dialog (dispose it
// with MyModalDialogDispose). paramErr for a null argument (nothing stored),
// memFullErr when the record cannot be allocated, otherwise the platform's
// error unchanged (no such file, no such window, the handler not
// installed); on every failure *outDialog is null and nothing made stays
// behind. The interface file is open only during this call.
OSStatus MyModalDialogCreate(CFBundleRef bundle, CFStringRef fileName, CFStringRef windowName,
                             MyModalDialog **outDialog /* OUT: dispose */);

// Removes the handler, disposes its UPP, then the window (each when
// present), and frees the record. paramErr for null, else noErr.
OSStatus MyModalDialogDispose(MyModalDialog *dialog);

// Places the window at the alert position, shows it and runs the
// application-modal loop until the user presses OK or Cancel; the window is
// hidden again when the loop ended with noErr. paramErr for a null dialog or
// one without window; the positioning error (the window is then not shown);
// otherwise the loop's result (after an error the window stays visible until
// the dialog is disposed).
OSStatus MyModalDialogRunModalLoop(MyModalDialog *dialog);

// The command that ended the dialog (0 before). paramErr for a null argument.
OSStatus MyModalDialogGetUserAcknowledge(MyModalDialog *dialog, UInt32 *outAck /* OUT */);

// The window's control with that ControlID (lent while the dialog lives).
// paramErr for a null argument, else GetControlByID's result.
OSStatus MyModalDialogGetControlByID(MyModalDialog *dialog, const ControlID *controlID,
                                     ControlRef *outControl /* OUT */);

// The control's 32-bit value. paramErr for a null argument; the lookup's
// error when there is no such control, and *outValue is then untouched.
OSStatus MyModalDialogGetControlValue(MyModalDialog *dialog, const ControlID *controlID,
                                      SInt32 *outValue /* OUT */);

// Sets the control's 32-bit value (clamped by the platform to the control's
// range). paramErr for a null dialog or ControlID; the lookup's error.
OSStatus MyModalDialogSetControlValue(MyModalDialog *dialog, const ControlID *controlID,
                                      SInt32 value);
