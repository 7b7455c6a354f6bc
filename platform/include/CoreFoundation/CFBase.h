/* The object model every CoreFoundation type shares: reference counting,
 * value equality, hashing and type identity. Ownership follows the naming
 * rule: what a Create or Copy function returns belongs to the caller and is
 * given up with CFRelease; Get functions lend. */
#ifndef VANTLOW_CFBASE_H
#define VANTLOW_CFBASE_H

#include <Carbon/MacTypes.h>

VP_EXTERN_C_BEGIN

typedef long CFIndex;
typedef unsigned long CFTypeID;
typedef unsigned long CFHashCode;
typedef unsigned long CFOptionFlags;
typedef const void *CFTypeRef;

typedef const struct __CFAllocator *CFAllocatorRef;
typedef const struct __CFString *CFStringRef;
typedef struct __CFString *CFMutableStringRef;
typedef const struct __CFArray *CFArrayRef;
typedef struct __CFArray *CFMutableArrayRef;
typedef const struct __CFDictionary *CFDictionaryRef;
typedef struct __CFDictionary *CFMutableDictionaryRef;
typedef const struct __CFSet *CFSetRef;
typedef struct __CFSet *CFMutableSetRef;
typedef const struct __CFData *CFDataRef;
typedef struct __CFData *CFMutableDataRef;
typedef const struct __CFNumber *CFNumberRef;
typedef const struct __CFBoolean *CFBooleanRef;
typedef const struct __CFUUID *CFUUIDRef;
typedef const struct __CFURL *CFURLRef;
typedef struct __CFBundle *CFBundleRef;
typedef struct __CFError *CFErrorRef;
typedef CFTypeRef CFPropertyListRef;

typedef struct {
  CFIndex location;
  CFIndex length;
} CFRange;

static inline CFRange CFRangeMake(CFIndex location, CFIndex length) {
  CFRange r;
  r.location = location;
  r.length = length;
  return r;
}

typedef enum {
  kCFCompareLessThan = -1,
  kCFCompareEqualTo = 0,
  kCFCompareGreaterThan = 1
} CFComparisonResult;

typedef CFComparisonResult (*CFComparatorFunction)(const void *val1, const void *val2,
                                                   void *context);

enum { kCFNotFound = -1 };

/* The only allocator is the default one; every Create accepts null for it. */
#define kCFAllocatorDefault ((CFAllocatorRef)0)

/* Adds a reference and returns the argument. Null is a caller error and is
 * returned unchanged. */
VP_EXPORT CFTypeRef CFRetain(CFTypeRef cf) VP_NOEXCEPT;
/* Gives up a reference; the object is destroyed with its last one. Constant
 * objects (CFSTR strings, constant UUIDs, the booleans) are never destroyed.
 * Null is ignored. */
VP_EXPORT void CFRelease(CFTypeRef cf) VP_NOEXCEPT;
/* The current count; constant objects report a very large count. */
VP_EXPORT CFIndex CFGetRetainCount(CFTypeRef cf) VP_NOEXCEPT;
/* Value equality: strings by UTF-16 units, numbers by value, UUIDs by bytes,
 * collections element by element. Objects of different types are unequal. */
VP_EXPORT Boolean CFEqual(CFTypeRef cf1, CFTypeRef cf2) VP_NOEXCEPT;
/* Equal objects hash equally. */
VP_EXPORT CFHashCode CFHash(CFTypeRef cf) VP_NOEXCEPT;
VP_EXPORT CFTypeID CFGetTypeID(CFTypeRef cf) VP_NOEXCEPT;
/* A readable description (a string's own text, a number's digits, ...).
 * Create rule; null when it cannot be made. */
VP_EXPORT CFStringRef CFCopyDescription(CFTypeRef cf) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
