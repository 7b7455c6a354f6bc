/* Property lists: XML and binary read, XML write, mapped onto strings,
 * numbers, booleans, data, arrays and dictionaries with string keys. Input
 * is validated: anything else is refused. */
#ifndef VANTLOW_CFPROPERTYLIST_H
#define VANTLOW_CFPROPERTYLIST_H

#include <CoreFoundation/CFBase.h>
#include <CoreFoundation/CFString.h>

VP_EXTERN_C_BEGIN

typedef enum {
  kCFPropertyListOpenStepFormat = 1,
  kCFPropertyListXMLFormat_v1_0 = 100,
  kCFPropertyListBinaryFormat_v1_0 = 200
} CFPropertyListFormat;

enum { kCFPropertyListImmutable = 0, kCFPropertyListMutableContainers = 1 };

/* ---- CFError: a domain, a code and a description ---- */

/* The domains of the errors the platform makes: property-list failures are
 * in the Cocoa domain with the codes below; a bad argument (no data, an
 * unknown option, a format that is not written) is paramErr in the OSStatus
 * domain. Compare domains with CFEqual. */
#define kCFErrorDomainCocoa CFSTR("NSCocoaErrorDomain")
#define kCFErrorDomainOSStatus CFSTR("NSOSStatusErrorDomain")

enum {
  /* Malformed input, or a value of a kind we do not hold (dates, UIDs,
   * sets, nulls, unsigned integers above the signed 64-bit range). */
  kCFPropertyListReadCorruptError = 3840,
  /* A binary list of a version other than "bplist00". */
  kCFPropertyListReadUnknownVersionError = 3841,
  /* An object that cannot be written: not a property-list type, a
   * dictionary key that is not a string, text XML cannot hold (U+0000, an
   * unpaired surrogate), or containers nested too deeply or in a cycle. */
  kCFPropertyListWriteInvalidError = 3852
};

VP_EXPORT CFTypeID CFErrorGetTypeID(void) VP_NOEXCEPT;
/* 0, null and null for anything that is not an error. */
VP_EXPORT CFIndex CFErrorGetCode(CFErrorRef err) VP_NOEXCEPT;
/* Get rule: lent while the error lives. */
VP_EXPORT CFStringRef CFErrorGetDomain(CFErrorRef err) VP_NOEXCEPT;
/* Copy rule: one sentence in English saying what went wrong. */
VP_EXPORT CFStringRef CFErrorCopyDescription(CFErrorRef err) VP_NOEXCEPT;

/* Reads an XML or binary ("bplist00") property list. Create rule.
 * Strings become CFStrings (invalid UTF-8 is refused), integers CFNumbers
 * of kCFNumberSInt64Type, reals kCFNumberFloat64Type, booleans
 * kCFBooleanTrue/False, data CFData, arrays CFArrays and dictionaries
 * CFDictionaries with CFString keys; a dictionary that names a key twice is
 * refused. Containers nest at most 512 deep. With
 * kCFPropertyListMutableContainers every array and dictionary is mutable;
 * any other option bit is refused. *format (may be null) receives the
 * format read, and is left alone on failure.
 * On failure: null, and *error (when error is not null) receives a new
 * error that says why (Create rule), or null when memory ran out. */
VP_EXPORT CFPropertyListRef CFPropertyListCreateWithData(CFAllocatorRef alloc, CFDataRef data,
                                                         CFOptionFlags options,
                                                         CFPropertyListFormat *format,
                                                         CFErrorRef *error) VP_NOEXCEPT;
/* The XML text of a property list (Create rule). Only
 * kCFPropertyListXMLFormat_v1_0 is written, and options must be 0. The
 * output is deterministic: dictionary keys are written in the order of
 * their UTF-8 bytes. Failures as for CFPropertyListCreateWithData. */
VP_EXPORT CFDataRef CFPropertyListCreateData(CFAllocatorRef alloc, CFPropertyListRef propertyList,
                                             CFPropertyListFormat format, CFOptionFlags options,
                                             CFErrorRef *error) VP_NOEXCEPT;
/* True when plist is a property list that can be kept in the XML or binary
 * format: what CFPropertyListCreateData accepts. False for the OpenStep
 * format and for anything else. */
VP_EXPORT Boolean CFPropertyListIsValid(CFPropertyListRef plist,
                                        CFPropertyListFormat format) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
