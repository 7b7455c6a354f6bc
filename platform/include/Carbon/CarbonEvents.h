/* The Carbon Event Manager: events with typed parameters, event targets
 * (the application and one per window) and stacks of handlers on them.
 *
 * Dispatch (SendEventToEventTarget): the handlers of the target whose event
 * type list holds the event's class and kind are called from the most
 * recently installed to the oldest. A handler that returns eventNotHandledErr
 * passes the event on to the next one; any other result (noErr included)
 * ends the dispatch and is its result. After the last handler of a target the
 * event goes to the target's parent (a window's parent is the application
 * target). When nobody handles it, the result is eventNotHandledErr.
 * Handlers installed during a dispatch are not called by it; a handler
 * removed during a dispatch (even by itself, while it runs) is not called
 * again and is freed once it has returned.
 *
 * Ownership: CreateEvent hands out one reference (ReleaseEvent gives it up);
 * a UPP from NewEventHandlerUPP is freed with DisposeEventHandlerUPP; an
 * installed handler is removed with RemoveEventHandler, or when its target
 * is disposed. The application target lives as long as the process.
 *
 * Sizes of parameters are sizeof the type on this build (a MenuRef is 8
 * bytes here); GetEventParameter never truncates. */
#ifndef VANTLOW_CARBON_CARBONEVENTS_H
#define VANTLOW_CARBON_CARBONEVENTS_H

#include <Carbon/AEDataModel.h>
#include <Carbon/MacTypes.h>
#include <Carbon/Menus.h>
#include <CoreFoundation/CFBase.h>

VP_EXTERN_C_BEGIN

typedef struct OpaqueEventRef *EventRef;
typedef struct OpaqueEventTargetRef *EventTargetRef;
typedef struct OpaqueEventHandlerRef *EventHandlerRef;
typedef struct OpaqueEventHandlerCallRef *EventHandlerCallRef;
typedef struct OpaqueEventHandlerUPP *EventHandlerUPP;

typedef OSStatus (*EventHandlerProcPtr)(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                                        void *inUserData);

typedef UInt32 EventParamName;
typedef UInt32 EventParamType;
typedef UInt32 EventAttributes;
typedef double EventTime; /* seconds */

typedef struct EventTypeSpec {
  OSType eventClass;
  UInt32 eventKind;
} EventTypeSpec;

/* A command, as buttons and menu items send it (kEventClassCommand). */
typedef struct HICommand {
  UInt32 attributes;
  UInt32 commandID;
  struct {
    MenuRef menuRef;
    MenuItemIndex menuItemIndex;
  } menu;
} HICommand;

enum { kEventAttributeNone = 0, kEventAttributeUserEvent = 1 };

/* Event classes and kinds. */
enum {
  kEventClassMenu = 0x6D656E75,       /* 'menu' */
  kEventClassCommand = 0x636D6473,    /* 'cmds' */
  kEventClassWindow = 0x77696E64,     /* 'wind' */
  kEventClassKeyboard = 0x6B657962,   /* 'keyb' */
  kEventClassMouse = 0x6D6F7573,      /* 'mous' */
  kEventClassControl = 0x636E746C,    /* 'cntl' */
  kEventClassApplication = 0x6170706C /* 'appl' */
};
enum {
  kEventMenuPopulate = 9,   /* kEventClassMenu: a menu is about to open;
                               kEventParamDirectObject is its MenuRef */
  kEventCommandProcess = 1, /* kEventClassCommand: kEventParamDirectObject is
                               the HICommand */
  kEventRawKeyDown = 1,     /* kEventClassKeyboard */
  kEventRawKeyRepeat = 2,
  kEventRawKeyUp = 3
};

/* Parameter names. */
enum {
  kEventParamDirectObject = 0x2D2D2D2D,   /* '----' */
  kEventParamKeyCode = 0x6B636F64,        /* 'kcod': typeUInt32 */
  kEventParamKeyModifiers = 0x6B6D6F64,   /* 'kmod': typeUInt32 */
  kEventParamKeyMacCharCodes = 0x6B636872 /* 'kchr': typeChar */
};

/* Commands. */
enum {
  kHICommandOK = 0x6F6B2020,    /* 'ok  ' */
  kHICommandCancel = 0x6E6F7421 /* 'not!' */
};

/* ---- Events ---- */

/* A new event without parameters. inAllocator must be null (the default);
 * inWhen 0 means now (GetCurrentEventTime). *outEvent null on failure. */
VP_EXPORT OSStatus CreateEvent(CFAllocatorRef inAllocator, UInt32 inClassID, UInt32 inKind,
                               EventTime inWhen, EventAttributes inAttributes,
                               EventRef *outEvent /* OUT: caller releases */) VP_NOEXCEPT;
/* Adds a reference; returns the event. */
VP_EXPORT EventRef RetainEvent(EventRef inEvent) VP_NOEXCEPT;
/* Gives up a reference; the last frees the event. Null is ignored. */
VP_EXPORT void ReleaseEvent(EventRef inEvent) VP_NOEXCEPT;
VP_EXPORT ItemCount GetEventRetainCount(EventRef inEvent) VP_NOEXCEPT;
/* 0 for null. */
VP_EXPORT UInt32 GetEventClass(EventRef inEvent) VP_NOEXCEPT;
VP_EXPORT UInt32 GetEventKind(EventRef inEvent) VP_NOEXCEPT;
VP_EXPORT EventTime GetEventTime(EventRef inEvent) VP_NOEXCEPT;
/* Seconds since an arbitrary start (CLOCK_MONOTONIC). */
VP_EXPORT EventTime GetCurrentEventTime(void) VP_NOEXCEPT;

/* Stores a copy of inSize bytes under inName with type inType, replacing a
 * parameter of that name. inData may be null only when inSize is 0. */
VP_EXPORT OSStatus SetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inType,
                                     ByteCount inSize, const void *inData) VP_NOEXCEPT;
/* Copies the parameter's bytes to outData. inDesiredType must be the
 * parameter's type or typeWildCard (no other coercion: errAEWrongDataType).
 * A missing parameter is eventParameterNotFoundErr. A buffer smaller than the
 * parameter is refused with paramErr and left untouched (never truncated);
 * outActualType and outActualSize are still filled, so the caller can see
 * what it needs. outData may be null to ask only the type and size.
 * outActualType and outActualSize may be null. */
VP_EXPORT OSStatus GetEventParameter(EventRef inEvent, EventParamName inName,
                                     EventParamType inDesiredType,
                                     EventParamType *outActualType /* OUT, may be null */,
                                     ByteCount inBufferSize,
                                     ByteCount *outActualSize /* OUT, may be null */,
                                     void *outData) VP_NOEXCEPT;

/* ---- Targets ---- */

/* The application's target, the root of every dispatch; never disposed. */
VP_EXPORT EventTargetRef GetApplicationEventTarget(void) VP_NOEXCEPT;
/* A new target whose events go on to parent (null: the application target)
 * when its own handlers leave them unhandled. For the window module: one per
 * window. Null on failure. */
VP_EXPORT EventTargetRef VPEventTargetCreate(EventTargetRef parent) VP_NOEXCEPT;
/* Removes every handler installed on the target (their EventHandlerRefs are
 * dead afterwards) and frees it; targets whose parent it was now lead to its
 * parent. Null and the application target are ignored. */
VP_EXPORT void VPEventTargetDispose(EventTargetRef target) VP_NOEXCEPT;

/* ---- Handlers ---- */

/* Null when proc is null or memory is short. */
VP_EXPORT EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr userRoutine) VP_NOEXCEPT;
/* Null is ignored. A handler installed with the UPP keeps working. */
VP_EXPORT void DisposeEventHandlerUPP(EventHandlerUPP userUPP) VP_NOEXCEPT;
VP_EXPORT OSStatus InvokeEventHandlerUPP(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                                         void *inUserData, EventHandlerUPP userUPP) VP_NOEXCEPT;

/* Installs a handler for the listed event types on top of the target's
 * stack. inList may be null only when inNumTypes is 0. outRef may be null
 * (the handler then goes with its target); otherwise it receives the
 * handler's reference, null on failure. */
VP_EXPORT OSStatus InstallEventHandler(EventTargetRef inTarget, EventHandlerUPP inHandler,
                                       ItemCount inNumTypes, const EventTypeSpec *inList,
                                       void *inUserData,
                                       EventHandlerRef *outRef /* OUT, may be null */) VP_NOEXCEPT;
/* Removes the handler; safe while it runs. An unknown or already removed
 * reference is paramErr. */
VP_EXPORT OSStatus RemoveEventHandler(EventHandlerRef inHandlerRef) VP_NOEXCEPT;

/* Sends the event through the target's handlers, then its parents' (see
 * above). paramErr for a null event or an unknown target. */
VP_EXPORT OSStatus SendEventToEventTarget(EventRef inEvent, EventTargetRef inTarget) VP_NOEXCEPT;
/* From inside a handler: passes the event to the handlers after the current
 * one (and the parents) now, and returns their result. The dispatch that
 * called the current handler then ends with the current handler's result.
 * A call reference that is not the one of a running handler is paramErr. */
VP_EXPORT OSStatus CallNextEventHandler(EventHandlerCallRef inCallRef,
                                        EventRef inEvent) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
