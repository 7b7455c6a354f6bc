// The plug-in frame: the part of the plug-in that the host sees. It owns
// the instance record MyCMXType, counts references, wraps every call into
// the feature layer in an autorelease pool, beeps and logs failed entry
// points, makes the menu identifiers of deferred submenus and keeps their
// populate data. Other modules reach the instance only through the
// accessors below; every accessor accepts a null instance.
#pragma once

#include <Carbon/Carbon.h>

#include "status_codes.h"

typedef struct MyCMXType MyCMXType;

// The bundle's only exported symbol. A new instance holding one reference
// when typeID equals kContextualMenuTypeID; null for any other type, or
// when the instance cannot be made. allocator is not used.
extern "C" __attribute__((visibility("default"))) void *MyCMMFactory(CFAllocatorRef allocator,
                                                                     CFUUIDRef typeID) noexcept;

// Deferred mode: identifier items are planted and the populate handler is
// installed. False for null.
Boolean MyCMXTypeAllowInstallHandler(MyCMXType *instance);
void MyCMXTypeSetAllowInstallHandler(MyCMXType *instance, Boolean allow);

// A new menu identifier: the current base, a hyphen, the next number (0
// after each ExamineContext) and two asterisks. Copy rule: the caller
// releases it. Null for null, or when the base or the string cannot be made.
CFStringRef MyCMXTypeCopyMyMenuIdentifier(MyCMXType *instance);

// Registers populate data under a menu identifier; both are retained by the
// instance until it is destroyed. An identifier already present keeps its
// first data (still noErr). paramErr for a null argument or when the
// dictionary cannot be had; memFullErr when the entry cannot be stored.
OSStatus MyCMXTypeAddMPEDataForIdentifier(MyCMXType *instance, CFStringRef identifier,
                                          CFTypeRef data);

// The data registered under the identifier, lent, or null.
CFTypeRef MyCMXTypeGetMPEDataForIdentifier(MyCMXType *instance, CFStringRef identifier);

// The identifier-to-data dictionary, made on first use and lent; null for
// null or when it cannot be made.
CFMutableDictionaryRef MyCMXTypeGetMPEDataDictionary(MyCMXType *instance);
