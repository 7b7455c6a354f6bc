/* Windows, controls, interface files and the application-modal loop.
 *
 * An interface file is a property list in the bundle's resources,
 * Contents/Resources/[<lang>.lproj/]<Name>.dialog.plist (a copy in the
 * user's language folder wins over the one in Resources itself), that
 * describes windows by name and their controls. Its format:
 *
 *   <dict>
 *     Format    integer, optional: 1 (the only version there is)
 *     Windows   dict: window name -> window
 *   </dict>
 *
 *   window:  Title     string, optional (empty when absent)
 *            Controls  array of controls, in the order they are shown
 *
 *   control: Kind      string: RadioGroup, Checkbox, PushButton, StaticText
 *            Signature four-character string ("Prfs") or integer  } both or
 *            ID        integer                                    } neither
 *            Title     string; required except for RadioGroup (its label)
 *            Command   four-character string ("ok  ") or integer; not for
 *                      StaticText. Buttons send it when pressed; a radio
 *                      group or checkbox sends it after a click
 *            Buttons   RadioGroup only, required: array of at least one
 *                      string, the buttons' titles in order
 *            Value, Minimum, Maximum
 *                      integers, optional, Minimum <= Value <= Maximum.
 *                      Defaults: RadioGroup 0, 0 and the number of buttons
 *                      (fixed: the group's value is the number of the
 *                      selected button counted from 1, 0 for none);
 *                      Checkbox 0, 0, 2 (0 off, 1 on, 2 mixed); PushButton
 *                      and StaticText 0, 0, 0.
 *
 * Every title (window, control, radio button) is a key of the strings table
 * <Name>.strings of the bundle's language folders and is shown as its text
 * there, or as itself when the table has no entry, so one interface file
 * serves every language. A file that is not such a property list, holds an
 * unknown key, a value of the wrong kind, a four-character code that is not
 * four printable ASCII characters, or two controls of one window with the
 * same signature and ID, is refused whole (errCorruptWindowDescription), with
 * one line on stderr naming the file and the fault.
 *
 * Ownership: a nib reference, window and control are not CoreFoundation
 * objects. CreateNibReferenceWithCFBundle's reference is given up with
 * DisposeNibReference; a window from CreateWindowFromNib with DisposeWindow,
 * which also disposes its controls and its event target (with every handler
 * still installed there). ControlRefs are lent while their window lives.
 * Titles handed out by the Copy functions follow the Copy rule.
 *
 * Threads: these calls belong to the host's main thread. */
#ifndef VANTLOW_CARBON_WINDOWS_H
#define VANTLOW_CARBON_WINDOWS_H

#include <Carbon/CarbonEvents.h>
#include <Carbon/MacTypes.h>
#include <CoreFoundation/CFBase.h>

VP_EXTERN_C_BEGIN

typedef struct OpaqueWindowPtr *WindowRef;
typedef struct OpaqueControlRef *ControlRef;
typedef struct OpaqueIBNibRef *IBNibRef;
typedef UInt32 WindowPositionMethod;

typedef struct ControlID {
  OSType signature;
  SInt32 id;
} ControlID;

/* Results of this manager. */
enum {
  errInvalidWindowRef = -5600,              /* not a live window (null, disposed) */
  errCorruptWindowDescription = -5606,      /* the interface file is malformed */
  kIBCarbonRuntimeCantFindNibFile = -10960, /* the bundle has no such interface file */
  kIBCarbonRuntimeCantFindObject = -10962,  /* the interface file has no such window */
  /* No way to ask the user: no scripted source, no source registered by the
   * host, and no terminal (/dev/tty cannot be opened). */
  kVPModalNoEventSourceErr = 0x4E6F5549 /* 'NoUI' */
};
/* errUnknownControl (-30584, MacTypes.h): no control with that ControlID. */

/* Where RepositionWindow places a window. Renderers take it as a hint: the
 * alert position is centred horizontally, a third of the way down. */
enum {
  kWindowCenterOnMainScreen = 1,
  kWindowCenterOnParentWindow = 2,
  kWindowCenterOnParentWindowScreen = 3,
  kWindowCascadeOnMainScreen = 4,
  kWindowCascadeOnParentWindow = 5,
  kWindowCascadeOnParentWindowScreen = 6,
  kWindowAlertPositionOnMainScreen = 7,
  kWindowAlertPositionOnParentWindow = 8,
  kWindowAlertPositionOnParentWindowScreen = 9
};

/* Kinds of control (VPControlGetKind). */
enum {
  kVPControlKindRadioGroup = 0x72677270, /* 'rgrp' */
  kVPControlKindCheckbox = 0x63686278,   /* 'chbx' */
  kVPControlKindPushButton = 0x70757368, /* 'push' */
  kVPControlKindStaticText = 0x73747874  /* 'stxt' */
};

/* HICommand.attributes of the commands the modal loop sends. */
enum {
  kHICommandFromControl = 1u << 0, /* a button press, a click on a radio group or checkbox */
  kHICommandFromMenu = 1u << 1,
  kHICommandFromWindow = 1u << 2 /* a key the window answers (Escape, Return) */
};

/* ---- Interface files ---- */

/* Opens and checks the interface file inName (without ".dialog.plist") of
 * the bundle. paramErr for a null argument, kIBCarbonRuntimeCantFindNibFile
 * when the bundle has no such file, errCorruptWindowDescription when it is
 * malformed (or larger than 1 MiB, or not a regular file), ioErr when it
 * cannot be read, memFullErr. *outNibRef is null on failure. */
VP_EXPORT OSStatus CreateNibReferenceWithCFBundle(CFBundleRef inBundle, CFStringRef inNibName,
                                                  IBNibRef *outNibRef /* OUT: dispose */)
    VP_NOEXCEPT;
/* Null is ignored. Windows made from the reference stay. */
VP_EXPORT void DisposeNibReference(IBNibRef inNibRef) VP_NOEXCEPT;
/* A new, hidden window of that name from the file, its titles localized.
 * paramErr for a null argument or a disposed reference,
 * kIBCarbonRuntimeCantFindObject when the file has no such window,
 * memFullErr. *outWindow is null on failure. */
VP_EXPORT OSStatus CreateWindowFromNib(IBNibRef inNibRef, CFStringRef inName,
                                       WindowRef *outWindow /* OUT: dispose */) VP_NOEXCEPT;

/* ---- Windows ---- */

/* Disposes the window, its controls and its event target. Null and dead
 * windows are ignored. A window whose modal loop is running goes when the
 * loop has ended. */
VP_EXPORT void DisposeWindow(WindowRef window) VP_NOEXCEPT;
/* The window's event target, lent while the window lives; its parent is the
 * application target, so events the window leaves unhandled go on there.
 * Null for a dead window. */
VP_EXPORT EventTargetRef GetWindowEventTarget(WindowRef inWindow) VP_NOEXCEPT;
/* Records where the window is to be placed. errInvalidWindowRef for a dead
 * window; paramErr for an unknown method, for a method relative to a parent
 * without a live parent window, or for the window as its own parent. */
VP_EXPORT OSStatus RepositionWindow(WindowRef window, WindowRef parentWindow,
                                    WindowPositionMethod method) VP_NOEXCEPT;
/* The method last given to RepositionWindow, 0 when none (or a dead window). */
VP_EXPORT WindowPositionMethod VPWindowGetPositionMethod(WindowRef window) VP_NOEXCEPT;
/* Dead windows are ignored; false for them. */
VP_EXPORT void ShowWindow(WindowRef window) VP_NOEXCEPT;
VP_EXPORT void HideWindow(WindowRef window) VP_NOEXCEPT;
VP_EXPORT Boolean IsWindowVisible(WindowRef window) VP_NOEXCEPT;
/* The window's localized title (Copy rule). paramErr for a null out
 * pointer, errInvalidWindowRef, memFullErr; *outString null on failure. */
VP_EXPORT OSStatus CopyWindowTitleAsCFString(WindowRef inWindow,
                                             CFStringRef *outString /* OUT: release */) VP_NOEXCEPT;

/* ---- Controls ---- */

/* The control of the window with that signature and ID. paramErr for a
 * null inID or outControl, errInvalidWindowRef, errUnknownControl when there
 * is none; *outControl is null on failure. */
VP_EXPORT OSStatus GetControlByID(WindowRef inWindow, const ControlID *inID,
                                  ControlRef *outControl /* OUT: lent */) VP_NOEXCEPT;
/* The number of controls and the control at index 1..count in the order of
 * the interface file (null outside, or for a dead window). For renderers. */
VP_EXPORT ItemCount VPWindowCountControls(WindowRef window) VP_NOEXCEPT;
VP_EXPORT ControlRef VPWindowGetControlAtIndex(WindowRef window, ItemCount index) VP_NOEXCEPT;
/* The window the control belongs to; null for a dead control. */
VP_EXPORT WindowRef GetControlOwner(ControlRef inControl) VP_NOEXCEPT;
/* kVPControlKind...; 0 for a dead control. */
VP_EXPORT UInt32 VPControlGetKind(ControlRef inControl) VP_NOEXCEPT;
/* The value and its range; 0 for a dead control. */
VP_EXPORT SInt32 GetControl32BitValue(ControlRef theControl) VP_NOEXCEPT;
VP_EXPORT SInt32 GetControl32BitMinimum(ControlRef theControl) VP_NOEXCEPT;
VP_EXPORT SInt32 GetControl32BitMaximum(ControlRef theControl) VP_NOEXCEPT;
/* Sets the value, clamped to the control's range. A dead control is
 * ignored. Sends no command (only a user's click does). */
VP_EXPORT void SetControl32BitValue(ControlRef theControl, SInt32 newValue) VP_NOEXCEPT;
/* errUnknownControl for a dead control, paramErr for a null out pointer. A
 * control without ID answers {0, 0}; one without command answers 0. */
VP_EXPORT OSStatus GetControlID(ControlRef inControl, ControlID *outID /* OUT */) VP_NOEXCEPT;
VP_EXPORT OSStatus GetControlCommandID(ControlRef inControl,
                                       UInt32 *outCommandID /* OUT */) VP_NOEXCEPT;
/* The control's localized title (a radio group's label: empty when it has
 * none). Copy rule; errors as for GetControlID, and memFullErr. */
VP_EXPORT OSStatus CopyControlTitleAsCFString(
    ControlRef inControl, CFStringRef *outString /* OUT: release */) VP_NOEXCEPT;
/* A radio group's buttons: their number (0 for other kinds) and the
 * localized title of button 1..count (Copy rule; paramErr outside). */
VP_EXPORT ItemCount VPControlCountItems(ControlRef inControl) VP_NOEXCEPT;
VP_EXPORT OSStatus VPControlCopyItemTitle(ControlRef inControl, ItemCount index,
                                          CFStringRef *outString /* OUT: release */) VP_NOEXCEPT;

/* ---- The application-modal loop ----
 *
 * RunAppModalLoopForWindow presents the window through an event source and
 * applies what the user does, one action at a time, until
 * QuitAppModalLoopForWindow is called for the window (normally by a command
 * handler on the window's target); it then returns noErr. The source is, in
 * this order: the scripted source of vantlow/dialog_testing.h while a script
 * is active; the source a host registered with VPModalSetEventSource; the
 * terminal renderer on /dev/tty; none (kVPModalNoEventSourceErr).
 *
 * Actions: setting a value (a click on a radio button or the checkbox)
 * changes the control's value and, when the control has a command, then
 * sends it; pressing a button sends its command; a plain command is sent as
 * it is. A command is a kEventClassCommand / kEventCommandProcess event whose
 * kEventParamDirectObject (typeHICommand) is an HICommand with the command
 * ID, kHICommandFrom... attributes and menu {null, 0}, sent to the window's
 * event target with SendEventToEventTarget.
 *
 * The loop ends with another result when: the source cannot present the
 * window or fails (its error: ioErr when the terminal fails, memFullErr);
 * the user goes away without answering (userCanceledErr: the terminal hangs
 * up or reaches end of input, SIGINT, SIGTERM or SIGHUP arrives while the
 * terminal renderer runs, the script runs out); an action names a control
 * of another window (paramErr); a command cannot be sent (memFullErr); the
 * window is disposed by a handler before the loop was quit
 * (errInvalidWindowRef). A window already running a loop gives paramErr.
 *
 * The terminal renderer draws the window on /dev/tty in its alternate
 * screen: the title on the frame, static text, a radio group as "( )" and
 * "(•)" lines ("(*)" outside a UTF-8 locale), a checkbox as "[ ]" / "[x]"
 * ("[-]" mixed), push buttons as "[ OK ]  [ Cancel ]" on one row. Tab and Shift-Tab move the focus
 * from control to control (onto a group's selected button), the arrow keys from item to item; Space
 * selects the focused radio button, toggles the checkbox or presses the focused button; Return
 * presses the focused button, elsewhere the button whose command is kHICommandOK (or sends that
 * command); Escape or Ctrl-C presses the kHICommandCancel button (or sends
 * that command). The terminal's settings are restored on every way out; a
 * signal that ended the loop is raised again once they are, so that the
 * process's own handling of it (or the default) follows. */
VP_EXPORT OSStatus RunAppModalLoopForWindow(WindowRef inWindow) VP_NOEXCEPT;
/* errInvalidWindowRef for a dead window, paramErr when its loop is not
 * running. */
VP_EXPORT OSStatus QuitAppModalLoopForWindow(WindowRef inWindow) VP_NOEXCEPT;

/* ---- Event sources for hosts (a desktop renderer) ---- */

enum {
  kVPModalActionSetValue = 1, /* control, value */
  kVPModalActionPress = 2,    /* control: a button press */
  kVPModalActionCommand = 3   /* commandID, from the window (a key) */
};

typedef struct VPModalAction {
  UInt32 kind;        /* kVPModalAction... */
  ControlRef control; /* a control of the window being run */
  SInt32 value;
  UInt32 commandID;
} VPModalAction;

enum { kVPModalEventSourceVersion = 0 };

/* What a host provides to present windows and deliver the user's actions.
 * present and nextAction are required; refresh and dismiss may be null.
 * Each runs on the thread that called RunAppModalLoopForWindow. */
typedef struct VPModalEventSource {
  UInt32 version; /* kVPModalEventSourceVersion */
  void *context;  /* handed to every callback */
  /* Show the window (its controls, titles and values). Another result than
   * noErr ends the loop with it before any action. */
  OSStatus (*present)(void *context, WindowRef window);
  /* Wait for the user's next action and describe it in *action. noErr: the
   * loop applies it. Any other result ends the loop with it
   * (userCanceledErr when the user went away without answering). */
  OSStatus (*nextAction)(void *context, WindowRef window, VPModalAction *action /* OUT */);
  /* Values changed after an action: show them. */
  void (*refresh)(void *context, WindowRef window);
  /* The loop has ended (for any reason): stop presenting the window. */
  void (*dismiss)(void *context, WindowRef window);
} VPModalEventSource;

/* Copies the host's source, which then serves every modal loop that no
 * script serves; null removes it. paramErr for an unknown version or a
 * missing required callback (nothing changes then). */
VP_EXPORT OSStatus VPModalSetEventSource(const VPModalEventSource *source) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
