/* Application preferences: one XML property list per application ID in
 * ${XDG_CONFIG_HOME:-~/.config}/vantlow/<appID>.plist, read on first use and
 * written only by CFPreferencesAppSynchronize, atomically. */
#ifndef VANTLOW_CFPREFERENCES_H
#define VANTLOW_CFPREFERENCES_H

#include <CoreFoundation/CFBase.h>

VP_EXTERN_C_BEGIN

/* Copy rule; null when the key has no value. */
VP_EXPORT CFPropertyListRef CFPreferencesCopyAppValue(CFStringRef key,
                                                      CFStringRef applicationID) VP_NOEXCEPT;
/* *keyExistsAndHasValidFormat (may be null) tells whether the key exists
 * with a value of the right kind; otherwise the answer is false / 0. */
VP_EXPORT Boolean CFPreferencesGetAppBooleanValue(CFStringRef key, CFStringRef applicationID,
                                                  Boolean *keyExistsAndHasValidFormat) VP_NOEXCEPT;
VP_EXPORT CFIndex CFPreferencesGetAppIntegerValue(CFStringRef key, CFStringRef applicationID,
                                                  Boolean *keyExistsAndHasValidFormat) VP_NOEXCEPT;
/* Stores (retains) the value in memory; a null value removes the key. */
VP_EXPORT void CFPreferencesSetAppValue(CFStringRef key, CFPropertyListRef value,
                                        CFStringRef applicationID) VP_NOEXCEPT;
/* Writes the application's values to disk; false when they could not be
 * written, in which case the file on disk is unchanged. */
VP_EXPORT Boolean CFPreferencesAppSynchronize(CFStringRef applicationID) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
