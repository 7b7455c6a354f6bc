/* The scripted event source: what a test sets in place of a user answering
 * a dialog. While a script is active, every application-modal loop takes its
 * actions from the script's queue of steps, in order, instead of a terminal
 * or a host's renderer. Production code never calls these.
 *
 * Steps are consumed as loops ask for the user's next action, so one script
 * can answer several dialogs in a row:
 *   set value    a click: sets the control's value (clamped to its range) and
 *                sends the control's command when it has one
 *   press        presses the button of the window whose command this is, or,
 *                when no control carries it, sends the command as a menu item
 *                or key would
 *   check value  compares the control's value with the one expected; a
 *                difference is recorded as a failure and the script goes on
 *   expect quit  the previous step must have ended the loop: it is consumed
 *                when the loop ends; a loop that asks for an action with this
 *                step next has not ended, which is a failure, and the loop
 *                then ends with userCanceledErr
 *   fail         the source fails: the loop ends with the given status
 * A step that names a control the window does not have is a failure and is
 * skipped. When a loop asks for an action and the script is empty, that is a
 * failure too, and the loop ends with userCanceledErr (as when a user goes
 * away). */
#ifndef VANTLOW_DIALOG_TESTING_H
#define VANTLOW_DIALOG_TESTING_H

#include <Carbon/Windows.h>

VP_EXTERN_C_BEGIN

/* Makes an empty script active, forgetting earlier steps and failures (the
 * observer stays). */
VP_EXPORT void VPScriptBegin(void) VP_NOEXCEPT;
/* Ends the script: modal loops use the other sources again. Forgets the
 * steps, the failures and the observer. */
VP_EXPORT void VPScriptEnd(void) VP_NOEXCEPT;

/* Append a step. memFullErr when it cannot be stored; paramErr when no
 * script is active. */
VP_EXPORT OSStatus VPScriptAddSetValue(ControlID control, SInt32 value) VP_NOEXCEPT;
VP_EXPORT OSStatus VPScriptAddPress(UInt32 commandID) VP_NOEXCEPT;
VP_EXPORT OSStatus VPScriptAddCheckValue(ControlID control, SInt32 expected) VP_NOEXCEPT;
VP_EXPORT OSStatus VPScriptAddExpectQuit(void) VP_NOEXCEPT;
VP_EXPORT OSStatus VPScriptAddFail(OSStatus status) VP_NOEXCEPT;

/* Steps not yet consumed. */
VP_EXPORT ItemCount VPScriptCountPendingSteps(void) VP_NOEXCEPT;
/* Failures recorded since the script began, and their descriptions, one
 * line each, copied into buffer (zero-terminated, cut to fit). Returns the
 * number of failures. buffer may be null when size is 0. */
VP_EXPORT ItemCount VPScriptCopyFailures(char *buffer, ByteCount size) VP_NOEXCEPT;

/* What the dialog showed: the observer is called with the window when the
 * script's source presents it (kVPScriptShown), after every applied step
 * that left the loop running (kVPScriptChanged), and when the loop ends
 * (kVPScriptDismissed). The window's titles and values can be read with the
 * calls of Carbon/Windows.h. Null removes it. */
enum { kVPScriptShown = 1, kVPScriptChanged = 2, kVPScriptDismissed = 3 };
typedef void (*VPScriptObserver)(void *context, WindowRef window, UInt32 moment);
VP_EXPORT void VPScriptSetObserver(VPScriptObserver observer, void *context) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
