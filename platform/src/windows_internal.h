// What the window module shares with the modal loop and its event sources:
// the window and control records, the check that a handle is alive, and the
// source interface the loop pulls the user's actions from.
#pragma once

#include <Carbon/Windows.h>

#include "object.h"

struct OpaqueControlRef {
  OpaqueWindowPtr *owner = nullptr;
  UInt32 kind = 0;
  bool hasID = false;
  ControlID id{0, 0};
  vp::Ref<> title; // CFStringRef, localized; empty for an unlabelled group
  UInt32 command = 0;
  SInt32 value = 0;
  SInt32 minimum = 0;
  SInt32 maximum = 0;
  vp::Vector<vp::Ref<>> items; // a radio group's button titles (CFStringRef)
};

struct OpaqueWindowPtr {
  vp::Ref<> title; // CFStringRef, localized
  vp::Vector<OpaqueControlRef *> controls;
  EventTargetRef target = nullptr;
  bool visible = false;
  WindowPositionMethod position = 0;
  // The modal loop's state: running, asked to end, disposed meanwhile
  // (unregistered at once, freed when the loop ends).
  bool inModalLoop = false;
  bool quitRequested = false;
  bool disposePending = false;
};

namespace vp::dialog {

// Whether the handle is a live window / a control of a live window. The
// registry is searched, so a stale handle is recognised without touching
// freed memory.
bool IsLiveWindow(WindowRef window) noexcept;
bool IsLiveControl(ControlRef control) noexcept;
// Frees the window record, its controls and its target; unregistered
// already (DisposeWindow does that first).
void FreeWindow(OpaqueWindowPtr *window) noexcept;

// The user's next action, as the loop applies it.
struct Action {
  UInt32 kind = 0; // kVPModalAction...
  ControlRef control = nullptr;
  SInt32 value = 0;
  UInt32 command = 0;
};

// One way of asking the user: presents a window and reports what the user
// does with it. The modal loop calls Present once, then Next until the loop
// ends (Refresh after every applied action), then Dismiss exactly once,
// whatever the outcome, Present's failure included.
class EventSource {
public:
  virtual ~EventSource() = default;
  virtual OSStatus Present(WindowRef window) = 0;
  // noErr with *action filled, or the status that ends the loop.
  virtual OSStatus Next(WindowRef window, Action *action) = 0;
  virtual void Refresh(WindowRef window) = 0;
  virtual void Dismiss(WindowRef window) = 0;
};

// The scripted source while a script is active, else null. Lent: it lives
// as long as the process.
EventSource *ActiveScriptSource() noexcept;

// The terminal renderer on the process's controlling terminal (Create
// rule: delete with vp::Delete). Null with *status kVPModalNoEventSourceErr
// when there is no terminal to open, ioErr when it cannot be opened for
// another reason; throws std::bad_alloc.
EventSource *NewTerminalSource(OSStatus *status);

} // namespace vp::dialog
