// The plug-in frame: factory, instance record, reference counting, the
// three contextual-menu entry points, error reports, menu identifiers, the
// populate-data dictionary and the menu-populate handler of deferred mode.
// The real work is handed to the feature layer through feature_contract.h,
// each call inside an autorelease pool.
#include <cstdlib>

#include "autorelease_pool.h"
#include "feature_contract.h"
#include "frame_int.h"
#include "log.h"
#include "plugin_identity.h"

namespace {

// Shared by every instance and never changed.
const ContextualMenuInterfaceStruct interfaceFtbl = {
    nullptr,
    MyCMXQueryInterface,
    MyCMXAddRef,
    MyCMXRelease,
    MyCMXExamineContext,
    MyCMXHandleSelection,
    MyCMXPostMenuCleanup,
};

MyCMXType *AsInstance(void *thisInstance) {
  return static_cast<MyCMXType *>(thisInstance);
}

} // namespace

// The menu-populate handler of deferred mode (its user data is the
// instance): recognises a submenu built by the latest ExamineContext by its
// last item, removes that identifier item and lets the feature fill the
// submenu in. It neither beeps nor logs.
static OSStatus MyEventHandler(EventHandlerCallRef callRef, EventRef event, void *userData) {
  MyCMXType *self = static_cast<MyCMXType *>(userData);
  if (!callRef || !event || !self || GetEventKind(event) != kEventMenuPopulate)
    return eventNotHandledErr;

  MenuRef menu = nullptr;
  if (GetEventParameter(event, kEventParamDirectObject, typeMenuRef, nullptr, sizeof(MenuRef),
                        nullptr, &menu) != noErr)
    return eventNotHandledErr;
  if (!menu) return noErr;
  UInt16 count = CountMenuItems(menu);
  if (count == 0) return noErr;

  CFStringRef text = nullptr;
  if (CopyMenuItemTextAsCFString(menu, count, &text) != noErr || !text) return eventNotHandledErr;

  CFStringRef base = GetMyMenuIdentifierBase(self);
  if (!base || !CFStringHasPrefix(text, base)) {
    CFRelease(text);
    return noErr;
  }

  // The identifier item goes first, whatever happens next.
  DeleteMenuItem(menu, count);
  CFTypeRef populateData = MyCMXTypeGetMPEDataForIdentifier(self, text);
  MyCFAutoreleasePool *pool = MyCFAutoreleasePoolCreate();
  OSStatus status = MyCMXHandleMenuPopulateSelf(self->yourData, menu, populateData, callRef, event);
  MyCFAutoreleasePoolDispose(pool);
  CFRelease(text);
  return status == noErr ? noErr : eventNotHandledErr;
}

// ---- Creation and destruction ----

extern "C" void *MyCMMFactory(CFAllocatorRef allocator, CFUUIDRef typeID) noexcept {
  (void)allocator;
  if (!typeID || !CFEqual(typeID, kContextualMenuTypeID)) return nullptr;
  return AllocMyCMXType();
}

MyCMXType *AllocMyCMXType(void) {
  MyCMXType *self = static_cast<MyCMXType *>(calloc(1, sizeof(MyCMXType)));
  if (!self) return nullptr;
  self->ftbl = &interfaceFtbl;
  self->phase = kPhaseAllocate;
  self->factoryID = static_cast<CFUUIDRef>(CFRetain(kMyFactoryID));
  CFPlugInAddInstanceForFactory(self->factoryID);
  self->refCount = 1;
  self->yourData = MyCMXCreateYourData();
  return self;
}

void DeallocMyCMXType(MyCMXType *self) {
  if (!self) return;
  self->phase = kPhaseDealloc;
  MyCMXDisposeYourData(self->yourData);
  if (self->mpeDataDictionary) CFRelease(self->mpeDataDictionary);
  if (self->menuIdentifierBase) CFRelease(self->menuIdentifierBase);
  if (self->eventHandlerRef) RemoveEventHandler(self->eventHandlerRef);
  if (self->eventHandlerUPP) DisposeEventHandlerUPP(self->eventHandlerUPP);
  // The factory stays registered until the record is gone, so the bundle
  // cannot be unloaded while any of its code still runs for this instance.
  CFUUIDRef factoryID = self->factoryID;
  free(self);
  if (factoryID) {
    CFPlugInRemoveInstanceForFactory(factoryID);
    CFRelease(factoryID);
  }
}

// ---- The interface ----

extern "C" HRESULT MyCMXQueryInterface(void *thisInstance, REFIID iid, LPVOID *ppv) noexcept {
  if (ppv) *ppv = nullptr;
  MyCMXType *self = AsInstance(thisInstance);
  if (!self || !ppv) return E_NOINTERFACE;
  CFUUIDRef interfaceID = CFUUIDCreateFromUUIDBytes(nullptr, iid);
  if (!interfaceID) return E_NOINTERFACE;

  HRESULT result = E_NOINTERFACE;
  if (CFEqual(interfaceID, kContextualMenuInterfaceID) || CFEqual(interfaceID, IUnknownUUID)) {
    self->phase = kPhaseQuery;
    MyCFAutoreleasePool *pool = MyCFAutoreleasePoolCreate();
    if (pool) {
      OSStatus status = MyCMXQueryInterfaceSelf(self->yourData, self);
      if (status != noErr) {
        MyCMXHandleError(status, self);
      } else {
        MyCMXAddRef(self);
        *ppv = self;
        result = S_OK;
      }
      MyCFAutoreleasePoolDispose(pool);
    }
  }
  CFRelease(interfaceID);
  return result;
}

extern "C" ULONG MyCMXAddRef(void *thisInstance) noexcept {
  MyCMXType *self = AsInstance(thisInstance);
  if (!self) return 0xFFFFFFFF;
  return ++self->refCount;
}

extern "C" ULONG MyCMXRelease(void *thisInstance) noexcept {
  MyCMXType *self = AsInstance(thisInstance);
  if (!self) return 0xFFFFFFFF;
  UInt32 count = --self->refCount;
  if (count == 0) DeallocMyCMXType(self);
  return count;
}

extern "C" OSStatus MyCMXExamineContext(void *thisInstance, const AEDesc *context,
                                        AEDescList *commandList) noexcept {
  MyCMXType *self = AsInstance(thisInstance);
  OSStatus status = noErr;
  if (!self) {
    status = paramErr;
  } else {
    // Raised before anything can fail: the matching PostMenuCleanup lowers it.
    self->phase = kPhaseExamineContext;
    ++self->examineCount;
    MyCFAutoreleasePool *pool = MyCFAutoreleasePoolCreate();
    if (!pool) {
      status = kMyNilPointerErr;
    } else {
      ClearMenuIdentifierBase(self);
      status = MyCMXExamineContextSelf(context, commandList, self->yourData, self);
      MyCFAutoreleasePoolDispose(pool);
      if (status == noErr) status = InstallMyEventHandler(self, commandList);
    }
  }
  if (status != noErr) MyCMXHandleError(status, self);
  return status;
}

extern "C" OSStatus MyCMXHandleSelection(void *thisInstance, AEDesc *context,
                                         SInt32 commandID) noexcept {
  MyCMXType *self = AsInstance(thisInstance);
  OSStatus status = noErr;
  if (!self) {
    status = paramErr;
  } else {
    self->phase = kPhaseHandleSelection;
    MyCFAutoreleasePool *pool = MyCFAutoreleasePoolCreate();
    if (!pool) {
      status = kMyNilPointerErr;
    } else {
      status = MyCMXHandleSelectionSelf(context, commandID, self->yourData, self);
      MyCFAutoreleasePoolDispose(pool);
    }
  }
  if (status != noErr) MyCMXHandleError(status, self);
  return status;
}

extern "C" void MyCMXPostMenuCleanup(void *thisInstance) noexcept {
  MyCMXType *self = AsInstance(thisInstance);
  if (!self) return;
  self->phase = kPhasePostMenuCleanup;
  if (self->examineCount > 0) --self->examineCount;
  if (self->examineCount > 0) return; // an outer ExamineContext is still open

  if (self->eventHandlerRef) {
    RemoveEventHandler(self->eventHandlerRef);
    self->eventHandlerRef = nullptr;
  }
  if (self->menuIdentifierBase) {
    CFRelease(self->menuIdentifierBase);
    self->menuIdentifierBase = nullptr;
  }
  MyCFAutoreleasePool *pool = MyCFAutoreleasePoolCreate();
  MyCMXPostMenuCleanupSelf(self->yourData, self);
  MyCFAutoreleasePoolDispose(pool);
}

// ---- Error report ----

void MyCMXHandleError(OSStatus err, MyCMXType *self) {
  if (err == noErr || err == kMyNoBeepErr) return;
  SysBeep(0);
  if (!self) return;
  MyCFAutoreleasePool *pool = MyCFAutoreleasePoolCreate();
  MyLogError(err, self->phase);
  MyCMXHandleErrorSelf(err, self->phase);
  MyCFAutoreleasePoolDispose(pool);
}

// ---- Menu identifiers ----

CFStringRef GetMyMenuIdentifierBase(MyCMXType *self) {
  if (!self) return nullptr;
  if (!self->menuIdentifierBase) {
    unsigned long t = TickCount();
    self->menuIdentifierCount = 0;
    self->menuIdentifierBase = CFStringCreateWithFormat(nullptr, nullptr, CFSTR("**%lu-%@-%lu"), t,
                                                        kMyBundleIdentifier, t);
  }
  return self->menuIdentifierBase;
}

void ClearMenuIdentifierBase(MyCMXType *self) {
  if (!self) return;
  if (self->menuIdentifierBase) {
    CFRelease(self->menuIdentifierBase);
    self->menuIdentifierBase = nullptr;
  }
  self->menuIdentifierCount = 0;
}

CFStringRef MyCMXTypeCopyMyMenuIdentifier(MyCMXType *self) {
  if (!self) return nullptr;
  CFStringRef base = GetMyMenuIdentifierBase(self);
  // Without a base an identifier could not be recognised when its submenu
  // opens, and its text would show in the menu: no identifier at all.
  if (!base) return nullptr;
  unsigned long n = self->menuIdentifierCount;
  self->menuIdentifierCount = static_cast<UInt32>(n + 1);
  return CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%@-%lu**"), base, n);
}

// ---- Populate data ----

CFMutableDictionaryRef MyCMXTypeGetMPEDataDictionary(MyCMXType *self) {
  if (!self) return nullptr;
  if (!self->mpeDataDictionary) {
    self->mpeDataDictionary = CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                                        &kCFTypeDictionaryValueCallBacks);
  }
  return self->mpeDataDictionary;
}

OSStatus MyCMXTypeAddMPEDataForIdentifier(MyCMXType *self, CFStringRef identifier, CFTypeRef data) {
  if (!self || !identifier || !data) return paramErr;
  CFMutableDictionaryRef dictionary = MyCMXTypeGetMPEDataDictionary(self);
  if (!dictionary) return paramErr;
  CFDictionaryAddValue(dictionary, identifier, data);
  // Adding can run out of memory without saying so; data that was not
  // stored would leave its submenu unfilled for good.
  if (!CFDictionaryContainsKey(dictionary, identifier)) return memFullErr;
  return noErr;
}

CFTypeRef MyCMXTypeGetMPEDataForIdentifier(MyCMXType *self, CFStringRef identifier) {
  if (!self || !identifier) return nullptr;
  CFMutableDictionaryRef dictionary = MyCMXTypeGetMPEDataDictionary(self);
  if (!dictionary) return nullptr;
  return CFDictionaryGetValue(dictionary, identifier);
}

// ---- Deferred mode ----

Boolean MyCMXTypeAllowInstallHandler(MyCMXType *self) {
  return self ? self->allowInstallHandler : false;
}

void MyCMXTypeSetAllowInstallHandler(MyCMXType *self, Boolean allow) {
  if (self) self->allowInstallHandler = allow;
}

OSStatus InstallMyEventHandler(MyCMXType *self, const AEDescList *commandList) {
  if (!self || !commandList) return paramErr;
  long count = 0;
  AECountItems(commandList, &count);
  if (count <= 0 || !self->allowInstallHandler || self->examineCount != 1) return noErr;

  EventTargetRef target = GetApplicationEventTarget();
  if (!target) return kMyNilPointerErr;
  if (!self->eventHandlerUPP) {
    self->eventHandlerUPP = NewEventHandlerUPP(MyEventHandler);
    if (!self->eventHandlerUPP) return memFullErr;
  }
  const EventTypeSpec populate = {kEventClassMenu, kEventMenuPopulate};
  if (self->eventHandlerRef) {
    RemoveEventHandler(self->eventHandlerRef);
    self->eventHandlerRef = nullptr;
  }
  return InstallEventHandler(target, self->eventHandlerUPP, 1, &populate, self,
                             &self->eventHandlerRef);
}
