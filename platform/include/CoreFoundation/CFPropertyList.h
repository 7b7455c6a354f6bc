/* Property lists: XML and binary read, XML write, mapped onto strings,
 * numbers, booleans, data, arrays and dictionaries with string keys. Input
 * is validated: anything else is refused. */
#ifndef VANTLOW_CFPROPERTYLIST_H
#define VANTLOW_CFPROPERTYLIST_H

#include <CoreFoundation/CFBase.h>

VP_EXTERN_C_BEGIN

typedef enum {
  kCFPropertyListOpenStepFormat = 1,
  kCFPropertyListXMLFormat_v1_0 = 100,
  kCFPropertyListBinaryFormat_v1_0 = 200
} CFPropertyListFormat;

enum { kCFPropertyListImmutable = 0, kCFPropertyListMutableContainers = 1 };

/* ---- CFError: a domain, a code and a description ---- */
VP_EXPORT CFTypeID CFErrorGetTypeID(void) VP_NOEXCEPT;
VP_EXPORT CFIndex CFErrorGetCode(CFErrorRef err) VP_NOEXCEPT;
VP_EXPORT CFStringRef CFErrorGetDomain(CFErrorRef err) VP_NOEXCEPT;
VP_EXPORT CFStringRef CFErrorCopyDescription(CFErrorRef err) VP_NOEXCEPT;

/* Create rule. On failure null, and *error (when given) receives a new
 * error that says why. */
VP_EXPORT CFPropertyListRef CFPropertyListCreateWithData(CFAllocatorRef alloc, CFDataRef data,
                                                         CFOptionFlags options,
                                                         CFPropertyListFormat *format,
                                                         CFErrorRef *error) VP_NOEXCEPT;
/* Only kCFPropertyListXMLFormat_v1_0 is written. */
VP_EXPORT CFDataRef CFPropertyListCreateData(CFAllocatorRef alloc, CFPropertyListRef propertyList,
                                             CFPropertyListFormat format, CFOptionFlags options,
                                             CFErrorRef *error) VP_NOEXCEPT;
VP_EXPORT Boolean CFPropertyListIsValid(CFPropertyListRef plist,
                                        CFPropertyListFormat format) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
