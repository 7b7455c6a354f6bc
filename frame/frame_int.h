// The insides of the plug-in instance, for the frame's own module and its
// tests. Everything else uses frame.h.
#pragma once

#include "frame.h"

// One instance. Its first field points to the interface table, so a pointer
// to the record is at the same time the interface pointer the host calls
// through.
struct MyCMXType {
  const ContextualMenuInterfaceStruct *ftbl; // always &interfaceFtbl
  CFUUIDRef factoryID;                       // retained; unregistered after the record is freed
  UInt32 refCount;                           // 1 at creation
  UInt32 phase;                              // the entry point that ran last (kPhase...)
  UInt32 examineCount;                       // ExamineContexts not yet cleaned up
  void *yourData;                            // the feature's data, owned
  CFMutableDictionaryRef mpeDataDictionary;  // owned; identifier -> populate data
  CFStringRef menuIdentifierBase;            // owned; null until made
  UInt32 menuIdentifierCount;                // the number the next identifier carries
  Boolean allowInstallHandler;               // deferred mode
  EventHandlerUPP eventHandlerUPP;           // owned; made at the first installation
  EventHandlerRef eventHandlerRef;           // owned; null while no handler is installed
};

// The interface functions, reached by the host through the table.
extern "C" {
HRESULT MyCMXQueryInterface(void *thisInstance, REFIID iid, LPVOID *ppv) noexcept;
ULONG MyCMXAddRef(void *thisInstance) noexcept;
ULONG MyCMXRelease(void *thisInstance) noexcept;
OSStatus MyCMXExamineContext(void *thisInstance, const AEDesc *context,
                             AEDescList *commandList) noexcept;
OSStatus MyCMXHandleSelection(void *thisInstance, AEDesc *context, SInt32 commandID) noexcept;
void MyCMXPostMenuCleanup(void *thisInstance) noexcept;
}

// A new instance with one reference (registered with its factory), or null.
MyCMXType *AllocMyCMXType(void);
// Frees the instance and everything it owns, then unregisters it. Null
// does nothing.
void DeallocMyCMXType(MyCMXType *instance);
// Beeps and logs a failed entry point (nothing for 0 and kMyNoBeepErr; only
// the beep for a null instance).
void MyCMXHandleError(OSStatus err, MyCMXType *instance);
// The current menu identifier base, lent; made from the tick count when
// there is none (which restarts the numbering). Null for null, or when it
// cannot be made.
CFStringRef GetMyMenuIdentifierBase(MyCMXType *instance);
// Releases the base (if any) and restarts the numbering.
void ClearMenuIdentifierBase(MyCMXType *instance);
// Installs the menu-populate handler on the application event target when
// deferred mode is on, the host's list is not empty and this is the
// outermost ExamineContext; noErr when there is nothing to install.
OSStatus InstallMyEventHandler(MyCMXType *instance, const AEDescList *commandList);
