/* Small value objects: data blocks, numbers, booleans and UUIDs. Create:
 * the caller releases the object; null on failure or bad arguments. A null
 * handle or one of another type gives null, 0 or false, or changes
 * nothing. */
#ifndef VANTLOW_CFSCALARS_H
#define VANTLOW_CFSCALARS_H

#include <CoreFoundation/CFBase.h>

VP_EXTERN_C_BEGIN

/* ---- CFData: an immutable or growable block of bytes ---- */
VP_EXPORT CFTypeID CFDataGetTypeID(void) VP_NOEXCEPT;
/* Copies the bytes (bytes may be null when length is 0). */
VP_EXPORT CFDataRef CFDataCreate(CFAllocatorRef alloc, const UInt8 *bytes,
                                 CFIndex length) VP_NOEXCEPT;
/* capacity 0 means unbounded; bounded data refuses to grow past it. */
VP_EXPORT CFMutableDataRef CFDataCreateMutable(CFAllocatorRef alloc, CFIndex capacity) VP_NOEXCEPT;
VP_EXPORT CFIndex CFDataGetLength(CFDataRef theData) VP_NOEXCEPT;
/* Lent: valid while the data lives and is not changed; never null for
 * data, even empty data. */
VP_EXPORT const UInt8 *CFDataGetBytePtr(CFDataRef theData) VP_NOEXCEPT;
/* Grows mutable data; the bytes may lie inside the data itself. On
 * allocation failure the data is left unchanged. */
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

/* Numbers compare and hash by value across types: 3 as SInt32, 3 as SInt64
 * and 3.0 are equal. */
VP_EXPORT CFTypeID CFNumberGetTypeID(void) VP_NOEXCEPT;
/* valuePtr points at a value of the C type theType names; null for a type
 * outside the list above. */
VP_EXPORT CFNumberRef CFNumberCreate(CFAllocatorRef alloc, CFNumberType theType,
                                     const void *valuePtr) VP_NOEXCEPT;
/* Converts to theType; false when the value does not fit exactly (the
 * nearest value is still stored: integers clamp to the type's range,
 * fractions round to the nearest integer, NaN reads as 0 for integer types,
 * finite values beyond the float range as the largest float). */
VP_EXPORT Boolean CFNumberGetValue(CFNumberRef number, CFNumberType theType,
                                   void *valuePtr) VP_NOEXCEPT;
/* The type the value is held as: kCFNumberSInt8Type to kCFNumberSInt64Type,
 * kCFNumberFloat32Type or kCFNumberFloat64Type (kCFNumberIntType reads as
 * kCFNumberSInt32Type, and so on). */
VP_EXPORT CFNumberType CFNumberGetType(CFNumberRef number) VP_NOEXCEPT;
VP_EXPORT Boolean CFNumberIsFloatType(CFNumberRef number) VP_NOEXCEPT;

/* ---- CFBoolean: two constant objects, usable from static constructors ---- */
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
/* One constant object per distinct value, never freed and never failing
 * (safe from any thread); lent, and releasing it does nothing. */
VP_EXPORT CFUUIDRef CFUUIDGetConstantUUIDWithBytes(CFAllocatorRef alloc, UInt8 byte0, UInt8 byte1,
                                                   UInt8 byte2, UInt8 byte3, UInt8 byte4,
                                                   UInt8 byte5, UInt8 byte6, UInt8 byte7,
                                                   UInt8 byte8, UInt8 byte9, UInt8 byte10,
                                                   UInt8 byte11, UInt8 byte12, UInt8 byte13,
                                                   UInt8 byte14, UInt8 byte15) VP_NOEXCEPT;
VP_EXPORT CFUUIDRef CFUUIDCreateFromUUIDBytes(CFAllocatorRef alloc, CFUUIDBytes bytes) VP_NOEXCEPT;
/* "2F6522E9-3E66-11D5-80A7-003065B300BC", either case; null when malformed. */
VP_EXPORT CFUUIDRef CFUUIDCreateFromString(CFAllocatorRef alloc, CFStringRef uuidStr) VP_NOEXCEPT;
/* Upper case with hyphens. Create rule. */
VP_EXPORT CFStringRef CFUUIDCreateString(CFAllocatorRef alloc, CFUUIDRef uuid) VP_NOEXCEPT;
/* All zero for a null or wrong handle. */
VP_EXPORT CFUUIDBytes CFUUIDGetUUIDBytes(CFUUIDRef uuid) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
