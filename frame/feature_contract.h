// The contract between the frame and the feature layer: eight functions the
// feature provides and the frame calls. The feature's data is opaque here:
// the feature makes it, the frame keeps the pointer in the instance and
// hands it back on every call. Every function whose name ends in Self runs
// inside an autorelease pool the frame opened for it (when one could be
// made).
#pragma once

#include <Carbon/Carbon.h>

typedef struct MyCMXType MyCMXType;

extern "C" {

// Called once when an instance is made; the result (null included) is kept
// as the instance's feature data.
void *MyCMXCreateYourData(void);
// Called once when the instance is destroyed; yourData may be null.
void MyCMXDisposeYourData(void *yourData);

// An accepted interface query. Non-zero refuses the interface (the frame
// beeps and logs it, and answers E_NOINTERFACE).
OSStatus MyCMXQueryInterfaceSelf(void *yourData, MyCMXType *instance);
// Builds the commands for the context into the host's command list.
// Non-zero is returned to the host, beeped and logged (kMyNoBeepErr: not).
OSStatus MyCMXExamineContextSelf(const AEDesc *context, AEDescList *commandList, void *yourData,
                                 MyCMXType *instance);
// The user chose commandID. Non-zero as for ExamineContext.
OSStatus MyCMXHandleSelectionSelf(AEDesc *context, SInt32 commandID, void *yourData,
                                  MyCMXType *instance);
// The menu has closed (the outermost cleanup only).
void MyCMXPostMenuCleanupSelf(void *yourData, MyCMXType *instance);
// A failed entry point was reported; err and the phase it happened in.
void MyCMXHandleErrorSelf(OSStatus err, UInt32 phase);
// A deferred submenu is opening: its identifier item has been deleted and
// populateData is what was registered under the identifier (null when
// nothing was). 0 tells the event system the event was handled.
OSStatus MyCMXHandleMenuPopulateSelf(void *yourData, MenuRef menu, CFTypeRef populateData,
                                     EventHandlerCallRef callRef, EventRef event);

} // extern "C"
