/* Application preferences: one XML property list per application ID in
 * ${XDG_CONFIG_HOME:-~/.config}/vantlow/<appID>.plist (a relative or empty
 * XDG_CONFIG_HOME is ignored), read on first use and written only by
 * CFPreferencesAppSynchronize, atomically. A file that cannot be read (not
 * a property list with a dictionary at the top, larger than 1 MiB, not a
 * regular file, a symbolic link, unreadable) reads as no values; the next
 * save keeps it beside the new one as <appID>.plist.corrupt.
 *
 * The application ID must be a non-empty string usable as a file name: no
 * '/', not "." or "..", no U+0000 or unpaired surrogate, at most 241 bytes
 * of UTF-8. Any other ID, and a key that is not a string, gives the "no
 * value" answer and stores nothing. */
#ifndef VANTLOW_CFPREFERENCES_H
#define VANTLOW_CFPREFERENCES_H

#include <CoreFoundation/CFBase.h>

VP_EXTERN_C_BEGIN

/* Copy rule; null when the key has no value. */
VP_EXPORT CFPropertyListRef CFPreferencesCopyAppValue(CFStringRef key,
                                                      CFStringRef applicationID) VP_NOEXCEPT;
/* *keyExistsAndHasValidFormat (may be null) tells whether the key exists
 * with a value of the right kind; otherwise the answer is false / 0.
 * Boolean: a CFBoolean, or a number that is the integer 0 or 1 (as a
 * hand-edited file may hold). Integer: a number whose value is a whole
 * number within the CFIndex range (60 and 60.0, not 60.5); booleans and
 * strings are not integers. */
VP_EXPORT Boolean CFPreferencesGetAppBooleanValue(CFStringRef key, CFStringRef applicationID,
                                                  Boolean *keyExistsAndHasValidFormat) VP_NOEXCEPT;
VP_EXPORT CFIndex CFPreferencesGetAppIntegerValue(CFStringRef key, CFStringRef applicationID,
                                                  Boolean *keyExistsAndHasValidFormat) VP_NOEXCEPT;
/* Stores (retains) the value in memory; a null value removes the key. A
 * value that is not a property list (CFPropertyListIsValid) is refused and
 * nothing changes. Nothing reaches the disk before
 * CFPreferencesAppSynchronize. A change that could not be kept for lack of
 * memory makes the next CFPreferencesAppSynchronize return false. */
VP_EXPORT void CFPreferencesSetAppValue(CFStringRef key, CFPropertyListRef value,
                                        CFStringRef applicationID) VP_NOEXCEPT;
/* Writes the application's values to disk: a temporary file in the same
 * folder, flushed, renamed over the old one, then the folder flushed. True
 * when nothing changed since the values were read or last written (nothing
 * is written then). False when they could not be written: the old file is
 * then whole and unchanged, except when only the final flush of the folder
 * failed, in which case the new file is in place but may not survive a
 * crash. After a false the values stay in memory and a later call tries
 * again. */
VP_EXPORT Boolean CFPreferencesAppSynchronize(CFStringRef applicationID) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
