/* Test seams for the Carbon stand-ins: a tick clock the test drives, a
 * count of alert sounds, a system version the test chooses, and a look at
 * event handler stacks. Production code never calls these. */
#ifndef VANTLOW_CARBON_TESTING_H
#define VANTLOW_CARBON_TESTING_H

#include <Carbon/CarbonEvents.h>
#include <Carbon/MacTypes.h>

VP_EXTERN_C_BEGIN

/* TickCount returns source() instead of the monotonic clock; null restores
 * the clock. */
VP_EXPORT void VPTickCountSetSource(UInt32 (*source)(void)) VP_NOEXCEPT;

/* How many times SysBeep was called since the process started (whether it
 * rang the terminal, called the host's handler or found nothing to ring). */
VP_EXPORT long VPSysBeepCount(void) VP_NOEXCEPT;

/* Gestalt(gestaltSystemVersion) answers version, or fails with result when
 * result is not noErr. */
VP_EXPORT void VPGestaltSetSystemVersion(SInt32 version, OSErr result) VP_NOEXCEPT;
/* Back to the built-in answer (0x1040). */
VP_EXPORT void VPGestaltReset(void) VP_NOEXCEPT;

/* The number of handlers installed on the target (0 for null). */
VP_EXPORT ItemCount VPEventTargetCountHandlers(EventTargetRef target) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
