/* The contextual-menu plug-in protocol: the COM-style interface a plug-in
 * instance hands to the host, and the UUIDs that name the plug-in type and
 * its interfaces.
 *
 * A plug-in bundle declares a factory for kContextualMenuTypeID in its
 * Info.plist. The host calls the factory with that type ID and receives an
 * instance (an IUnknown: a pointer to a record whose first field points to
 * the function table) holding one reference; it asks that instance for
 * kContextualMenuInterfaceID through QueryInterface, which adds a reference
 * and hands out a pointer whose first field points to a
 * ContextualMenuInterfaceStruct, and gives every reference back with
 * Release. The instance is destroyed by the Release that brings its count
 * to zero. */
#ifndef VANTLOW_CARBON_CONTEXTUALMENUPLUGIN_H
#define VANTLOW_CARBON_CONTEXTUALMENUPLUGIN_H

#include <Carbon/AEDataModel.h>
#include <Carbon/MacTypes.h>
#include <CoreFoundation/CFBase.h>
#include <CoreFoundation/CFScalars.h>

VP_EXTERN_C_BEGIN

/* An interface ID, passed by value. */
typedef CFUUIDBytes REFIID;

/* The three functions every interface begins with. QueryInterface stores
 * null through ppv before anything else when ppv is not null; on S_OK it has
 * added a reference to the instance it stores there. AddRef and Release
 * return the new count. */
typedef struct IUnknownVTbl {
  void *_reserved; /* null */
  HRESULT (*QueryInterface)(void *thisPointer, REFIID iid, LPVOID *ppv);
  ULONG (*AddRef)(void *thisPointer);
  ULONG (*Release)(void *thisPointer);
} IUnknownVTbl;

/* The contextual-menu interface: IUnknown's three functions, then
 *   ExamineContext   the selection (a list of descriptors, read only) and
 *                    the host's command list, which the plug-in appends to;
 *   HandleSelection  the user chose the plug-in's command inCommandID;
 *   PostMenuCleanup  the menu has closed.
 * Each call's first argument is the interface pointer itself. */
typedef struct ContextualMenuInterfaceStruct {
  void *_reserved; /* null */
  HRESULT (*QueryInterface)(void *thisInstance, REFIID iid, LPVOID *ppv);
  ULONG (*AddRef)(void *thisInstance);
  ULONG (*Release)(void *thisInstance);
  OSStatus (*ExamineContext)(void *thisInstance, const AEDesc *inContext,
                             AEDescList *outCommandPairs);
  OSStatus (*HandleSelection)(void *thisInstance, AEDesc *inContext, SInt32 inCommandID);
  void (*PostMenuCleanup)(void *thisInstance);
} ContextualMenuInterfaceStruct;

/* The factory a bundle names in CFPlugInFactories: a new instance holding
 * one reference, or null when typeID is not a type it serves. */
typedef void *(*VPContextualMenuFactoryFunction)(CFAllocatorRef allocator, CFUUIDRef typeID);

/* 2F6522E9-3E66-11D5-80A7-003065B300BC: the contextual-menu plug-in type. */
#define kContextualMenuTypeID                                                                      \
  (CFUUIDGetConstantUUIDWithBytes(NULL, 0x2F, 0x65, 0x22, 0xE9, 0x3E, 0x66, 0x11, 0xD5, 0x80,      \
                                  0xA7, 0x00, 0x30, 0x65, 0xB3, 0x00, 0xBC))
/* 32997B62-3E66-11D5-BEAB-003065B300BC: the contextual-menu interface. */
#define kContextualMenuInterfaceID                                                                 \
  (CFUUIDGetConstantUUIDWithBytes(NULL, 0x32, 0x99, 0x7B, 0x62, 0x3E, 0x66, 0x11, 0xD5, 0xBE,      \
                                  0xAB, 0x00, 0x30, 0x65, 0xB3, 0x00, 0xBC))
/* 00000000-0000-0000-C000-000000000046: IUnknown. */
#define IUnknownUUID                                                                               \
  (CFUUIDGetConstantUUIDWithBytes(NULL, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0,      \
                                  0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46))

VP_EXTERN_C_END

#endif
