/* Seams for tests: the allocation fault injector, the system-call fault
 * table, and counters that show what is alive. Production code never calls
 * these; tests and the fault-injection builds do. */
#ifndef VANTLOW_PLATFORM_TESTING_H
#define VANTLOW_PLATFORM_TESTING_H

#include <Carbon/MacTypes.h>
#include <CoreFoundation/CFBase.h>

VP_EXTERN_C_BEGIN

/* ---- Allocation seam ----
 * Every allocation of the platform, and the plug-in's malloc/calloc/realloc
 * in builds linked with -Wl,--wrap, asks VPFaultAllocStep first. Arming the
 * injector makes allocation number nth (counted from 1 after arming) fail;
 * with repeat, every later one fails too. */
VP_EXPORT void VPFaultArm(long nth, Boolean repeat) VP_NOEXCEPT;
VP_EXPORT void VPFaultDisarm(void) VP_NOEXCEPT;
/* How many allocations failed since the injector was last armed. */
VP_EXPORT long VPFaultFailedCount(void) VP_NOEXCEPT;
/* Counts one allocation attempt; true when it must fail. */
VP_EXPORT Boolean VPFaultAllocStep(void) VP_NOEXCEPT;
/* Platform allocations not yet freed (blocks, not bytes). */
VP_EXPORT long VPLiveAllocationCount(void) VP_NOEXCEPT;
/* CoreFoundation objects alive now, constants excluded. */
VP_EXPORT long VPLiveObjectCount(void) VP_NOEXCEPT;
/* Makes one throw-away allocation through the seam while injection is
 * armed, so that calls which cannot fail here still reach their callers'
 * failure paths; false when it failed. */
VP_EXPORT Boolean VPFaultProbe(void) VP_NOEXCEPT;

/* ---- System-call table ----
 * File-system calls in the platform go through named entries. A test makes
 * call number nth (from 1, counted after this call) of one entry fail with
 * err; with repeat, every later call fails too. A path filter, when given,
 * limits counting to calls whose name argument ends with that text. */
VP_EXPORT Boolean VPSyscallFail(const char *name, long nth, int err, Boolean repeat,
                                const char *nameSuffix) VP_NOEXCEPT;
/* Sleeps this many microseconds before every call of the entry (0 stops). */
VP_EXPORT Boolean VPSyscallDelay(const char *name, long microseconds) VP_NOEXCEPT;
/* How many times the entry was called since the last reset. */
VP_EXPORT long VPSyscallCount(const char *name) VP_NOEXCEPT;
/* Clears every failure, delay and counter. */
VP_EXPORT void VPSyscallReset(void) VP_NOEXCEPT;

/* ---- Bundles and strings tables ----
 * Parses a strings table (the <lang>.lproj/<Table>.strings format) from
 * bytes into a dictionary of key to text. Create rule. A malformed table
 * gives null and *error (when error is not null) a new string "line N:
 * reason" (or just the reason when the fault is the whole input); null with
 * *error null means out of memory. */
VP_EXPORT CFDictionaryRef VPStringsTableCreateFromData(const UInt8 *bytes, CFIndex length,
                                                       CFStringRef *error) VP_NOEXCEPT;
/* Drops what the bundle has cached of its language folders and strings
 * tables, so the next lookup reads them again (and a malformed table is
 * reported again). Lets a sweep start every run from an empty cache. */
VP_EXPORT void VPBundleForgetCaches(CFBundleRef bundle) VP_NOEXCEPT;

/* ---- Preferences ----
 * Forgets every application's values held in memory, changed or not, so the
 * next call reads the files again, as a new process would. */
VP_EXPORT void VPPreferencesResetForTesting(void) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
