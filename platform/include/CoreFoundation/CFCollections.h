/* Arrays, dictionaries and sets of objects. With the kCFType callbacks,
 * adding an element retains it once per addition, and removing it or
 * destroying the collection releases it. Lookups compare with CFEqual and
 * CFHash. Null callbacks store raw pointers without retaining them; in a
 * custom callbacks record each null field means identity equality, the
 * address as hash, or no retain/release. A collection keeps its own copy of
 * the callbacks, and its copies use the same ones.
 *
 * Common rules: a collection whose callbacks retain refuses null elements
 * and keys. Every mutation completes or, when memory runs out, leaves the
 * collection unchanged (nothing retained, nothing lost). A null handle, a
 * handle of another type, an immutable collection passed to a mutating
 * function, or an index or range outside the collection gives null, 0 or
 * false, or changes nothing. Elements handed out by Get functions are lent
 * for as long as the collection holds them. */
#ifndef VANTLOW_CFCOLLECTIONS_H
#define VANTLOW_CFCOLLECTIONS_H

#include <CoreFoundation/CFBase.h>

VP_EXTERN_C_BEGIN

typedef const void *(*CFRetainCallBack)(CFAllocatorRef allocator, const void *value);
typedef void (*CFReleaseCallBack)(CFAllocatorRef allocator, const void *value);
typedef CFStringRef (*CFCopyDescriptionCallBack)(const void *value);
typedef Boolean (*CFEqualCallBack)(const void *value1, const void *value2);
typedef CFHashCode (*CFHashCallBack)(const void *value);

typedef struct {
  CFIndex version;
  CFRetainCallBack retain;
  CFReleaseCallBack release;
  CFCopyDescriptionCallBack copyDescription;
  CFEqualCallBack equal;
} CFArrayCallBacks;

typedef struct {
  CFIndex version;
  CFRetainCallBack retain;
  CFReleaseCallBack release;
  CFCopyDescriptionCallBack copyDescription;
  CFEqualCallBack equal;
  CFHashCallBack hash;
} CFDictionaryKeyCallBacks, CFSetCallBacks;

typedef struct {
  CFIndex version;
  CFRetainCallBack retain;
  CFReleaseCallBack release;
  CFCopyDescriptionCallBack copyDescription;
  CFEqualCallBack equal;
} CFDictionaryValueCallBacks;

VP_EXPORT extern const CFArrayCallBacks kCFTypeArrayCallBacks;
VP_EXPORT extern const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks;
VP_EXPORT extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;
VP_EXPORT extern const CFSetCallBacks kCFTypeSetCallBacks;

/* ---- CFArray ---- */
VP_EXPORT CFTypeID CFArrayGetTypeID(void) VP_NOEXCEPT;
/* Create/Copy: the caller releases the array; null on failure. The Copy
 * functions keep the original's callbacks. */
VP_EXPORT CFArrayRef CFArrayCreate(CFAllocatorRef alloc, const void **values, CFIndex numValues,
                                   const CFArrayCallBacks *callBacks) VP_NOEXCEPT;
VP_EXPORT CFArrayRef CFArrayCreateCopy(CFAllocatorRef alloc, CFArrayRef theArray) VP_NOEXCEPT;
/* capacity 0 means unbounded; a bounded array refuses to grow past it (and
 * a mutable copy cannot be bounded below the original's count). */
VP_EXPORT CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef alloc, CFIndex capacity,
                                                 const CFArrayCallBacks *callBacks) VP_NOEXCEPT;
VP_EXPORT CFMutableArrayRef CFArrayCreateMutableCopy(CFAllocatorRef alloc, CFIndex capacity,
                                                     CFArrayRef theArray) VP_NOEXCEPT;
VP_EXPORT CFIndex CFArrayGetCount(CFArrayRef theArray) VP_NOEXCEPT;
/* Lends the element; null for an index out of range. */
VP_EXPORT const void *CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) VP_NOEXCEPT;
/* On allocation failure the array is left unchanged and the value is not
 * retained; VPArrayAppendValue reports that failure as false. */
VP_EXPORT void CFArrayAppendValue(CFMutableArrayRef theArray, const void *value) VP_NOEXCEPT;
VP_EXPORT Boolean VPArrayAppendValue(CFMutableArrayRef theArray, const void *value) VP_NOEXCEPT;
/* idx may be the count (appends). */
VP_EXPORT void CFArrayInsertValueAtIndex(CFMutableArrayRef theArray, CFIndex idx,
                                         const void *value) VP_NOEXCEPT;
/* Replaces the element (the old one is released); idx == count appends. */
VP_EXPORT void CFArraySetValueAtIndex(CFMutableArrayRef theArray, CFIndex idx,
                                      const void *value) VP_NOEXCEPT;
VP_EXPORT void CFArrayRemoveValueAtIndex(CFMutableArrayRef theArray, CFIndex idx) VP_NOEXCEPT;
VP_EXPORT void CFArrayRemoveAllValues(CFMutableArrayRef theArray) VP_NOEXCEPT;
/* A stable sort of the range with the comparator (negative: the first
 * argument sorts first), which receives context. Needs no memory, so it
 * cannot fail. */
VP_EXPORT void CFArraySortValues(CFMutableArrayRef theArray, CFRange range,
                                 CFComparatorFunction comparator, void *context) VP_NOEXCEPT;
VP_EXPORT Boolean CFArrayContainsValue(CFArrayRef theArray, CFRange range,
                                       const void *value) VP_NOEXCEPT;

/* ---- CFDictionary ----
 * Pairs are kept in insertion order. Create/Copy: the caller releases the
 * dictionary; null on failure. CFDictionaryCreate keeps the last value of a
 * key given twice; the mutable copy keeps the original's callbacks. */
VP_EXPORT CFTypeID CFDictionaryGetTypeID(void) VP_NOEXCEPT;
VP_EXPORT CFDictionaryRef
CFDictionaryCreate(CFAllocatorRef alloc, const void **keys, const void **values, CFIndex numValues,
                   const CFDictionaryKeyCallBacks *keyCallBacks,
                   const CFDictionaryValueCallBacks *valueCallBacks) VP_NOEXCEPT;
VP_EXPORT CFMutableDictionaryRef CFDictionaryCreateMutable(
    CFAllocatorRef alloc, CFIndex capacity, const CFDictionaryKeyCallBacks *keyCallBacks,
    const CFDictionaryValueCallBacks *valueCallBacks) VP_NOEXCEPT;
VP_EXPORT CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFAllocatorRef alloc,
                                                               CFIndex capacity,
                                                               CFDictionaryRef theDict) VP_NOEXCEPT;
VP_EXPORT CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) VP_NOEXCEPT;
/* Lends the value, or null. */
VP_EXPORT const void *CFDictionaryGetValue(CFDictionaryRef theDict, const void *key) VP_NOEXCEPT;
VP_EXPORT Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef theDict, const void *key,
                                                const void **value) VP_NOEXCEPT;
VP_EXPORT Boolean CFDictionaryContainsKey(CFDictionaryRef theDict, const void *key) VP_NOEXCEPT;
/* Adds the pair (both retained) unless an equal key is present, in which
 * case nothing changes and nothing is retained. */
VP_EXPORT void CFDictionaryAddValue(CFMutableDictionaryRef theDict, const void *key,
                                    const void *value) VP_NOEXCEPT;
/* Adds, or replaces the value of an equal key: the new value is retained,
 * the old one released, and the key already held is kept. */
VP_EXPORT void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void *key,
                                    const void *value) VP_NOEXCEPT;
/* Removes the pair held under an equal key, releasing key and value. */
VP_EXPORT void CFDictionaryRemoveValue(CFMutableDictionaryRef theDict, const void *key) VP_NOEXCEPT;
/* Either array may be null; each must hold CFDictionaryGetCount entries.
 * Lends the pairs in insertion order. */
VP_EXPORT void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict, const void **keys,
                                            const void **values) VP_NOEXCEPT;

/* ---- CFSet ----
 * Elements are kept in insertion order. Create: the caller releases it. */
VP_EXPORT CFTypeID CFSetGetTypeID(void) VP_NOEXCEPT;
VP_EXPORT CFMutableSetRef CFSetCreateMutable(CFAllocatorRef alloc, CFIndex capacity,
                                             const CFSetCallBacks *callBacks) VP_NOEXCEPT;
VP_EXPORT CFIndex CFSetGetCount(CFSetRef theSet) VP_NOEXCEPT;
/* Adds (and retains) the value unless an equal one is present. */
VP_EXPORT void CFSetAddValue(CFMutableSetRef theSet, const void *value) VP_NOEXCEPT;
VP_EXPORT Boolean CFSetContainsValue(CFSetRef theSet, const void *value) VP_NOEXCEPT;
VP_EXPORT void CFSetRemoveValue(CFMutableSetRef theSet, const void *value) VP_NOEXCEPT;
/* values must hold CFSetGetCount entries; lends them in insertion order. */
VP_EXPORT void CFSetGetValues(CFSetRef theSet, const void **values) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
