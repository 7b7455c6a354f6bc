/* Small value objects: data blocks, numbers, booleans and UUIDs. */
#ifndef VANTLOW_CFSCALARS_H
#define VANTLOW_CFSCALARS_H

#include <CoreFoundation/CFBase.h>

VP_EXTERN_C_BEGIN

/* ---- CFData: an immutable or growable block of bytes ---- */
VP_EXPORT CFTypeID CFDataGetTypeID(void) VP_NOEXCEPT;
/* Copies the bytes. */
VP_EXPORT CFDataRef CFDataCreate(CFAllocatorRef alloc, const UInt8 *bytes,
                                 CFIndex length) VP_NOEXCEPT;
VP_EXPORT CFMutableDataRef CFDataCreateMutable(CFAllocatorRef alloc, CFIndex capacity) VP_NOEXCEPT;
VP_EXPORT CFIndex CFDataGetLength(CFDataRef theData) VP_NOEXCEPT;
/* Valid while the data lives and is not changed. */
VP_EXPORT const UInt8 *CFDataGetBytePtr(CFDataRef theData) VP_NOEXCEPT;
VP_EXPORT void CFDataAppendBytes(CFMutableDataRef theData, const UInt8 *bytes,
                                 CFIndex length) VP_NOEXCEPT;

/* ---- CFNumber ---- */
typedef enum {
  kCFNumberSInt8Type = 1,
  kCFNumberSInt16Type = 2,
  kCFNumberSInt32Type = 3,
  kCFNumberSInt64Type = 4,
  kCFNumberFloat32Type = 5,
  kCFNumberFloat64Type = 6,
  kCFNumberCharType = 7,
  kCFNumberShortType = 8,
  kCFNumberIntType = 9,
  kCFNumberLongType = 10,
  kCFNumberLongLongType = 11,
  kCFNumberFloatType = 12,
  kCFNumberDoubleType = 13,
  kCFNumberCFIndexType = 14
} CFNumberType;

VP_EXPORT CFTypeID CFNumberGetTypeID(void) VP_NOEXCEPT;
VP_EXPORT CFNumberRef CFNumberCreate(CFAllocatorRef alloc, CFNumberType theType,
                                     const void *valuePtr) VP_NOEXCEPT;
/* Converts to theType; false when the value does not fit exactly (the
 * nearest value is still stored). */
VP_EXPORT Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType,
                                   void *valuePtr) VP_NOEXCEPT;
VP_EXPORT CFNumberType CFNumberGetType(CFNumberRef number) VP_NOEXCEPT;
VP_EXPORT Boolean CFNumberIsFloatType(CFNumberRef number) VP_NOEXCEPT;

/* ---- CFBoolean: two constant objects ---- */
VP_EXPORT extern const CFBooleanRef kCFBooleanTrue;
VP_EXPORT extern const CFBooleanRef kCFBooleanFalse;
VP_EXPORT CFTypeID CFBooleanGetTypeID(void) VP_NOEXCEPT;
VP_EXPORT Boolean CFBooleanGetValue(CFBooleanRef boolean) VP_NOEXCEPT;

/* ---- CFUUID ---- */
typedef struct {
  UInt8 byte0, byte1, byte2, byte3, byte4, byte5, byte6, byte7;
  UInt8 byte8, byte9, byte10, byte11, byte12, byte13, byte14, byte15;
} CFUUIDBytes;

VP_EXPORT CFTypeID CFUUIDGetTypeID(void) VP_NOEXCEPT;
/* One constant object per distinct value, never freed and never failing. */
VP_EXPORT CFUUIDRef CFUUIDGetConstantUUIDWithBytes(CFAllocatorRef alloc, UInt8 byte0, UInt8 byte1,
                                                   UInt8 byte2, UInt8 byte3, UInt8 byte4,
                                                   UInt8 byte5, UInt8 byte6, UInt8 byte7,
                                                   UInt8 byte8, UInt8 byte9, UInt8 byte10,
                                                   UInt8 byte11, UInt8 byte12, UInt8 byte13,
                                                   UInt8 byte14, UInt8 byte15) VP_NOEXCEPT;
VP_EXPORT CFUUIDRef CFUUIDCreateFromUUIDBytes(CFAllocatorRef alloc,
                                              CFUUIDBytes bytes) VP_NOEXCEPT;
/* "2F6522E9-3E66-11D5-80A7-003065B300BC", either case; null when malformed. */
VP_EXPORT CFUUIDRef CFUUIDCreateFromString(CFAllocatorRef alloc, CFStringRef uuidStr) VP_NOEXCEPT;
/* Upper case with hyphens. */
VP_EXPORT CFStringRef CFUUIDCreateString(CFAllocatorRef alloc, CFUUIDRef uuid) VP_NOEXCEPT;
VP_EXPORT CFUUIDBytes CFUUIDGetUUIDBytes(CFUUIDRef uuid) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
