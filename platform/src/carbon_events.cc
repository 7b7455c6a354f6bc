// The Carbon Event Manager: events with typed parameters, event targets in a
// parent chain (window -> application) and handler stacks on them. The
// plug-in's menu-populate handler and the modal dialog's command handler run
// through this dispatch.
//
// Handlers live in one process-wide list in install order; each has a serial
// number that never repeats, and an EventHandlerRef is that serial, so a
// stale reference is recognised instead of touching freed memory. A dispatch
// looks up the next handler afresh under the lock before every call, by
// serial, so handlers may be installed or removed (the running one included)
// while it runs: the running handler is pinned and freed after it returns.
// The lock is never held while a handler runs.
#include <Carbon/CarbonEvents.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <mutex>

#include <vantlow/carbon_testing.h>
#include <vantlow/platform_testing.h>

#include "alloc.h"

namespace {

constexpr UInt32 kEventMagic = 0x45766E74; // 'Evnt'
constexpr UInt32 kUPPMagic = 0x55505021;   // 'UPP!'

struct Parameter {
  EventParamName name;
  EventParamType type;
  vp::String8 bytes;
};

} // namespace

struct OpaqueEventRef {
  OpaqueEventRef(UInt32 c, UInt32 k, EventTime w, EventAttributes a) noexcept
      : eventClass(c), kind(k), when(w), attributes(a) {}
  ~OpaqueEventRef() { magic = 0; }
  UInt32 magic = kEventMagic;
  std::atomic<ItemCount> refs{1};
  UInt32 eventClass;
  UInt32 kind;
  EventTime when;
  EventAttributes attributes;
  vp::Vector<Parameter> parameters;
};

struct OpaqueEventHandlerUPP {
  UInt32 magic = kUPPMagic;
  EventHandlerProcPtr proc = nullptr;
};

struct OpaqueEventTargetRef {
  OpaqueEventTargetRef *parent = nullptr;
  int pins = 0;          // dispatches standing on this target
  bool disposed = false; // freed when the last pin goes
};

namespace {

struct Handler {
  std::uint64_t serial = 0;
  OpaqueEventTargetRef *target = nullptr;
  EventHandlerProcPtr proc = nullptr;
  void *userData = nullptr;
  vp::Vector<EventTypeSpec> types;
  int pins = 0;         // calls in progress
  bool removed = false; // no longer in gHandlers; freed when unpinned
};

// One running handler call; EventHandlerCallRef is its address. Frames of
// the calls in progress on this thread form a chain, so that a call
// reference can be checked before it is used.
struct CallFrame {
  CallFrame *outer;
  OpaqueEventTargetRef *target;
  std::uint64_t serial; // the running handler's
  std::uint64_t limit;  // handlers installed from this serial on are not called
  bool passedOn;        // the handler called CallNextEventHandler
};

std::mutex gLock;
OpaqueEventTargetRef gApplicationTarget;
// Window targets (disposed ones too, while a dispatch still stands on them)
// and handlers in install (serial) order. Each list gives its storage back
// when it becomes empty, so that an idle Event Manager holds no memory.
constinit vp::Vector<OpaqueEventTargetRef *> gTargets;
constinit vp::Vector<Handler *> gHandlers;
std::uint64_t gNextSerial = 1;
thread_local CallFrame *tFrames = nullptr;

template <class T> void GiveBackIfEmpty(vp::Vector<T> &list) noexcept {
  if (list.empty()) vp::Vector<T>().swap(list);
}

template <class T> void EraseOne(vp::Vector<T> &list, T value) noexcept {
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (*it == value) {
      list.erase(it);
      break;
    }
  }
  GiveBackIfEmpty(list);
}

OpaqueEventRef *Event(EventRef ref) noexcept {
  return ref && ref->magic == kEventMagic ? ref : nullptr;
}

// Under gLock: whether t is the application target or a live window target.
bool LiveTarget(const OpaqueEventTargetRef *t) noexcept {
  if (!t) return false;
  if (t == &gApplicationTarget) return true;
  for (const OpaqueEventTargetRef *candidate : gTargets)
    if (candidate == t) return !t->disposed;
  return false;
}

// Under gLock: frees a disposed target once nothing stands on it.
void MaybeFreeTarget(OpaqueEventTargetRef *t) noexcept {
  if (t == &gApplicationTarget || !t->disposed || t->pins > 0) return;
  EraseOne(gTargets, t);
  vp::Delete(t);
}

// Under gLock: takes h out of the list; frees it unless a call is running.
void Unlist(Handler *h) noexcept {
  EraseOne(gHandlers, h);
  h->removed = true;
  if (h->pins == 0) vp::Delete(h);
}

bool Matches(const Handler &h, UInt32 eventClass, UInt32 kind) noexcept {
  for (const EventTypeSpec &type : h.types)
    if (type.eventClass == eventClass && type.eventKind == kind) return true;
  return false;
}

// Under gLock: the newest handler on t for the event with a serial below
// `below` and below `limit`, or null.
Handler *NextHandler(const OpaqueEventTargetRef *t, const OpaqueEventRef *ev, std::uint64_t below,
                     std::uint64_t limit) noexcept {
  for (auto it = gHandlers.rbegin(); it != gHandlers.rend(); ++it) {
    Handler *h = *it;
    if (h->serial >= below || h->serial >= limit || h->target != t) continue;
    if (Matches(*h, ev->eventClass, ev->kind)) return h;
  }
  return nullptr;
}

// Sends ev through the handlers of `target` older than `below`, then
// through its parents. `target` is pinned by the caller on entry; the pin is
// moved along the chain and dropped on return.
OSStatus Dispatch(OpaqueEventRef *ev, OpaqueEventTargetRef *target, std::uint64_t below,
                  std::uint64_t limit) noexcept {
  OpaqueEventTargetRef *t = target;
  while (t) {
    for (;;) {
      Handler *h;
      {
        std::lock_guard<std::mutex> lock(gLock);
        h = NextHandler(t, ev, below, limit);
        if (h) ++h->pins;
      }
      if (!h) break;
      below = h->serial;
      CallFrame frame{tFrames, t, h->serial, limit, false};
      tFrames = &frame;
      OSStatus result = h->proc(reinterpret_cast<EventHandlerCallRef>(&frame), ev, h->userData);
      tFrames = frame.outer;
      {
        std::lock_guard<std::mutex> lock(gLock);
        if (--h->pins == 0 && h->removed) vp::Delete(h);
      }
      if (frame.passedOn || result != eventNotHandledErr) {
        std::lock_guard<std::mutex> lock(gLock);
        --t->pins;
        MaybeFreeTarget(t);
        return result;
      }
    }
    std::lock_guard<std::mutex> lock(gLock);
    OpaqueEventTargetRef *parent = t->parent;
    if (parent) ++parent->pins;
    --t->pins;
    MaybeFreeTarget(t);
    t = parent;
    below = UINT64_MAX;
  }
  return eventNotHandledErr;
}

} // namespace

extern "C" {

// ---- Events ----

EventTime GetCurrentEventTime(void) noexcept {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<EventTime>(ts.tv_sec) + static_cast<EventTime>(ts.tv_nsec) / 1e9;
}

OSStatus CreateEvent(CFAllocatorRef inAllocator, UInt32 inClassID, UInt32 inKind, EventTime inWhen,
                     EventAttributes inAttributes, EventRef *outEvent) noexcept {
  if (!outEvent) return paramErr;
  *outEvent = nullptr;
  if (inAllocator) return paramErr;
  const EventTime when = inWhen == 0 ? GetCurrentEventTime() : inWhen;
  return vp::Edge(static_cast<OSStatus>(memFullErr), [&]() -> OSStatus {
    *outEvent = vp::New<OpaqueEventRef>(inClassID, inKind, when, inAttributes);
    return noErr;
  });
}

EventRef RetainEvent(EventRef inEvent) noexcept {
  if (OpaqueEventRef *ev = Event(inEvent)) ev->refs.fetch_add(1, std::memory_order_relaxed);
  return inEvent;
}

void ReleaseEvent(EventRef inEvent) noexcept {
  OpaqueEventRef *ev = Event(inEvent);
  if (ev && ev->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) vp::Delete(ev);
}

ItemCount GetEventRetainCount(EventRef inEvent) noexcept {
  OpaqueEventRef *ev = Event(inEvent);
  return ev ? ev->refs.load(std::memory_order_relaxed) : 0;
}

UInt32 GetEventClass(EventRef inEvent) noexcept {
  OpaqueEventRef *ev = Event(inEvent);
  return ev ? ev->eventClass : 0;
}

UInt32 GetEventKind(EventRef inEvent) noexcept {
  OpaqueEventRef *ev = Event(inEvent);
  return ev ? ev->kind : 0;
}

EventTime GetEventTime(EventRef inEvent) noexcept {
  OpaqueEventRef *ev = Event(inEvent);
  return ev ? ev->when : 0;
}

OSStatus SetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inType,
                           ByteCount inSize, const void *inData) noexcept {
  OpaqueEventRef *ev = Event(inEvent);
  if (!ev || (!inData && inSize > 0)) return paramErr;
  return vp::Edge(static_cast<OSStatus>(memFullErr), [&]() -> OSStatus {
    vp::String8 bytes;
    if (inSize) bytes.assign(static_cast<const char *>(inData), inSize);
    for (Parameter &p : ev->parameters) {
      if (p.name == inName) {
        p.type = inType;
        p.bytes.swap(bytes);
        return noErr;
      }
    }
    ev->parameters.push_back(Parameter{inName, inType, std::move(bytes)});
    return noErr;
  });
}

OSStatus GetEventParameter(EventRef inEvent, EventParamName inName, EventParamType inDesiredType,
                           EventParamType *outActualType, ByteCount inBufferSize,
                           ByteCount *outActualSize, void *outData) noexcept {
  OpaqueEventRef *ev = Event(inEvent);
  if (!ev) return paramErr;
  const Parameter *found = nullptr;
  for (const Parameter &p : ev->parameters) {
    if (p.name == inName) {
      found = &p;
      break;
    }
  }
  if (!found) return eventParameterNotFoundErr;
  if (inDesiredType != typeWildCard && inDesiredType != found->type) return errAEWrongDataType;
  const ByteCount size = static_cast<ByteCount>(found->bytes.size());
  if (outActualType) *outActualType = found->type;
  if (outActualSize) *outActualSize = size;
  if (!outData) return noErr;
  if (inBufferSize < size) return paramErr; // never a silently cut value
  if (size) std::memcpy(outData, found->bytes.data(), size);
  return noErr;
}

// ---- Targets ----

EventTargetRef GetApplicationEventTarget(void) noexcept {
  // The target itself cannot fail here; on the original platform it could,
  // so under fault injection a probe lets callers' failure paths run.
  if (!VPFaultProbe()) return nullptr;
  return &gApplicationTarget;
}

EventTargetRef VPEventTargetCreate(EventTargetRef parent) noexcept {
  std::lock_guard<std::mutex> lock(gLock);
  if (parent && !LiveTarget(parent)) return nullptr;
  return vp::Edge(static_cast<EventTargetRef>(nullptr), [&]() -> EventTargetRef {
    gTargets.reserve(gTargets.size() + 1);
    OpaqueEventTargetRef *t = nullptr;
    try {
      t = vp::New<OpaqueEventTargetRef>();
    } catch (...) {
      GiveBackIfEmpty(gTargets); // the reserve of a first target
      throw;
    }
    t->parent = parent ? parent : &gApplicationTarget;
    gTargets.push_back(t); // cannot throw after the reserve
    return t;
  });
}

void VPEventTargetDispose(EventTargetRef target) noexcept {
  std::lock_guard<std::mutex> lock(gLock);
  if (target == &gApplicationTarget || !LiveTarget(target)) return;
  for (OpaqueEventTargetRef *t : gTargets)
    if (t->parent == target) t->parent = target->parent;
  // Unlist erases from the list, so walk a position rather than iterators.
  std::size_t i = 0;
  while (i < gHandlers.size()) {
    Handler *h = gHandlers[i];
    if (h->target == target)
      Unlist(h);
    else
      ++i;
  }
  target->disposed = true;
  MaybeFreeTarget(target);
}

// ---- Handlers ----

EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr userRoutine) noexcept {
  if (!userRoutine) return nullptr;
  return vp::Edge(static_cast<EventHandlerUPP>(nullptr), [&] {
    EventHandlerUPP upp = vp::New<OpaqueEventHandlerUPP>();
    upp->proc = userRoutine;
    return upp;
  });
}

void DisposeEventHandlerUPP(EventHandlerUPP userUPP) noexcept {
  if (!userUPP || userUPP->magic != kUPPMagic) return;
  userUPP->magic = 0;
  vp::Delete(userUPP);
}

OSStatus InvokeEventHandlerUPP(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                               void *inUserData, EventHandlerUPP userUPP) noexcept {
  if (!userUPP || userUPP->magic != kUPPMagic) return paramErr;
  return userUPP->proc(inHandlerCallRef, inEvent, inUserData);
}

OSStatus InstallEventHandler(EventTargetRef inTarget, EventHandlerUPP inHandler,
                             ItemCount inNumTypes, const EventTypeSpec *inList, void *inUserData,
                             EventHandlerRef *outRef) noexcept {
  if (outRef) *outRef = nullptr;
  if (!inTarget || !inHandler || inHandler->magic != kUPPMagic || (inNumTypes > 0 && !inList))
    return paramErr;
  std::lock_guard<std::mutex> lock(gLock);
  if (!LiveTarget(inTarget)) return paramErr;
  return vp::Edge(static_cast<OSStatus>(memFullErr), [&]() -> OSStatus {
    gHandlers.reserve(gHandlers.size() + 1);
    Handler *h = nullptr;
    try {
      h = vp::New<Handler>();
      h->types.assign(inList, inList + inNumTypes);
    } catch (...) {
      vp::Delete(h);
      GiveBackIfEmpty(gHandlers); // the reserve of a first handler
      throw;
    }
    h->serial = gNextSerial++;
    h->target = inTarget;
    h->proc = inHandler->proc;
    h->userData = inUserData;
    gHandlers.push_back(h); // cannot throw after the reserve
    if (outRef) *outRef = reinterpret_cast<EventHandlerRef>(static_cast<std::uintptr_t>(h->serial));
    return noErr;
  });
}

OSStatus RemoveEventHandler(EventHandlerRef inHandlerRef) noexcept {
  const std::uint64_t serial = reinterpret_cast<std::uintptr_t>(inHandlerRef);
  if (serial == 0) return paramErr;
  std::lock_guard<std::mutex> lock(gLock);
  for (Handler *h : gHandlers) {
    if (h->serial == serial) {
      Unlist(h);
      return noErr;
    }
  }
  return paramErr;
}

OSStatus SendEventToEventTarget(EventRef inEvent, EventTargetRef inTarget) noexcept {
  OpaqueEventRef *ev = Event(inEvent);
  if (!ev || !inTarget) return paramErr;
  std::uint64_t limit;
  {
    std::lock_guard<std::mutex> lock(gLock);
    if (!LiveTarget(inTarget)) return paramErr;
    ++inTarget->pins;
    limit = gNextSerial;
  }
  RetainEvent(inEvent); // a handler may release the sender's reference
  OSStatus result = Dispatch(ev, inTarget, UINT64_MAX, limit);
  ReleaseEvent(inEvent);
  return result;
}

OSStatus CallNextEventHandler(EventHandlerCallRef inCallRef, EventRef inEvent) noexcept {
  CallFrame *frame = nullptr;
  for (CallFrame *f = tFrames; f; f = f->outer) {
    if (reinterpret_cast<EventHandlerCallRef>(f) == inCallRef) {
      frame = f;
      break;
    }
  }
  OpaqueEventRef *ev = Event(inEvent);
  if (!frame || !ev) return paramErr;
  frame->passedOn = true;
  {
    std::lock_guard<std::mutex> lock(gLock);
    ++frame->target->pins;
  }
  RetainEvent(inEvent);
  OSStatus result = Dispatch(ev, frame->target, frame->serial, frame->limit);
  ReleaseEvent(inEvent);
  return result;
}

// ---- Test seam ----

ItemCount VPEventTargetCountHandlers(EventTargetRef target) noexcept {
  std::lock_guard<std::mutex> lock(gLock);
  if (!target) return 0;
  ItemCount n = 0;
  for (const Handler *h : gHandlers)
    if (h->target == target) ++n;
  return n;
}

} // extern "C"
