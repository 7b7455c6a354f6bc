/* Small toolbox services: the tick clock, the alert sound, the system
 * version query and relocatable memory blocks (handles). */
#ifndef VANTLOW_CARBON_TOOLBOX_H
#define VANTLOW_CARBON_TOOLBOX_H

#include <Carbon/MacTypes.h>

VP_EXTERN_C_BEGIN

/* ---- Time ---- */

/* Ticks of 1/60 s since an arbitrary start (CLOCK_MONOTONIC), as an
 * unsigned 32-bit value that wraps: differences in unsigned arithmetic stay
 * right across the wrap. */
VP_EXPORT UInt32 TickCount(void) VP_NOEXCEPT;

/* ---- Alert sound ---- */

/* Sounds the alert: the bell on the process's controlling terminal when it
 * has one, nothing otherwise; or the host's handler, when one is set.
 * duration is ignored. Never fails. */
VP_EXPORT void SysBeep(short duration) VP_NOEXCEPT;
/* Replaces the terminal bell with handler (a desktop host's own alert, or a
 * host that rings its own terminal); null restores the bell. */
VP_EXPORT void VPSysBeepSetHandler(void (*handler)(void)) VP_NOEXCEPT;

/* ---- System facts ---- */

enum {
  gestaltSystemVersion = 0x73797376 /* 'sysv': the version in BCD, 10.4.0 = 0x1040 */
};

/* The answer to selector in *response. gestaltSystemVersion answers 0x1040:
 * a system of 10.2 or later, so menu texts travel as typeUnicodeText. Other
 * selectors: gestaltUndefSelectorErr. A null response is paramErr. On
 * failure *response is unchanged. */
VP_EXPORT OSErr Gestalt(OSType selector, SInt32 *response /* OUT */) VP_NOEXCEPT;

/* ---- Handles ---- */

/* A relocatable block of byteCount bytes (0 allowed), contents undefined; *h
 * is the block's address. Null when byteCount is negative or memory is
 * short. Freed with DisposeHandle. */
VP_EXPORT Handle NewHandle(Size byteCount) VP_NOEXCEPT;
/* Frees a handle from NewHandle. Null is ignored. */
VP_EXPORT void DisposeHandle(Handle h) VP_NOEXCEPT;
/* The block's size in bytes; 0 for null. */
VP_EXPORT Size GetHandleSize(Handle h) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
