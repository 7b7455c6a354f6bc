// The application-modal loop: picks the event source that asks the user (a
// script, the host's registered source, the terminal), presents the window
// through it and applies the user's actions one at a time (a value set on
// a control, a button press, a command sent to the window's event target)
// until a handler quits the loop. The sources never touch controls or send
// events themselves, so every renderer behaves the same.
#include <Carbon/Windows.h>

#include <mutex>

#include "windows_internal.h"

namespace {

using vp::dialog::Action;
using vp::dialog::EventSource;

std::mutex gSourceLock;
bool gHasHostSource = false;
VPModalEventSource gHostSource;

// The host's callbacks behind the source interface.
class HostSource final : public EventSource {
public:
  explicit HostSource(const VPModalEventSource &callbacks) noexcept : cb_(callbacks) {}
  OSStatus Present(WindowRef window) override { return cb_.present(cb_.context, window); }
  OSStatus Next(WindowRef window, Action *action) override {
    VPModalAction a{0, nullptr, 0, 0};
    OSStatus err = cb_.nextAction(cb_.context, window, &a);
    if (err != noErr) return err;
    action->kind = a.kind;
    action->control = a.control;
    action->value = a.value;
    action->command = a.commandID;
    return noErr;
  }
  void Refresh(WindowRef window) override {
    if (cb_.refresh) cb_.refresh(cb_.context, window);
  }
  void Dismiss(WindowRef window) override {
    if (cb_.dismiss) cb_.dismiss(cb_.context, window);
  }

private:
  VPModalEventSource cb_;
};

// Sends the command to the window's event target. Whether anybody handled
// it does not matter; only a command that cannot be made is an error.
OSStatus SendCommand(OpaqueWindowPtr *window, UInt32 commandID, UInt32 attributes) noexcept {
  EventRef event = nullptr;
  OSStatus err = CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0,
                             kEventAttributeUserEvent, &event);
  if (err != noErr) return err;
  HICommand command{};
  command.attributes = attributes;
  command.commandID = commandID;
  command.menu.menuRef = nullptr;
  command.menu.menuItemIndex = 0;
  err = SetEventParameter(event, kEventParamDirectObject, typeHICommand, sizeof command, &command);
  if (err == noErr) SendEventToEventTarget(event, window->target);
  ReleaseEvent(event);
  return err;
}

OSStatus Apply(OpaqueWindowPtr *window, const Action &action) noexcept {
  if (action.kind == kVPModalActionCommand)
    return SendCommand(window, action.command, kHICommandFromWindow);
  if (action.kind != kVPModalActionSetValue && action.kind != kVPModalActionPress) return paramErr;
  OpaqueControlRef *control = action.control;
  bool ours = false;
  for (OpaqueControlRef *c : window->controls)
    ours = ours || c == control;
  if (!ours) return paramErr;
  if (action.kind == kVPModalActionSetValue) SetControl32BitValue(control, action.value);
  if (control->command == 0) return noErr;
  return SendCommand(window, control->command, kHICommandFromControl);
}

// Runs the loop with a chosen source; Dismiss follows Present whatever
// happens. A source that runs out of memory ends the loop with memFullErr.
OSStatus Run(OpaqueWindowPtr *window, EventSource &source) noexcept {
  OSStatus result =
      vp::Edge(static_cast<OSStatus>(memFullErr), [&] { return source.Present(window); });
  while (result == noErr && !window->quitRequested && !window->disposePending) {
    Action action;
    result =
        vp::Edge(static_cast<OSStatus>(memFullErr), [&] { return source.Next(window, &action); });
    if (result != noErr) break;
    result = Apply(window, action);
    if (result == noErr && !window->quitRequested && !window->disposePending)
      vp::EdgeVoid([&] { source.Refresh(window); });
  }
  vp::EdgeVoid([&] { source.Dismiss(window); });
  if (window->quitRequested) return noErr;
  if (result == noErr && window->disposePending) return errInvalidWindowRef;
  return result;
}

} // namespace

extern "C" {

OSStatus RunAppModalLoopForWindow(WindowRef inWindow) noexcept {
  if (!vp::dialog::IsLiveWindow(inWindow)) return errInvalidWindowRef;
  OpaqueWindowPtr *window = inWindow;
  if (window->inModalLoop) return paramErr;

  EventSource *terminal = nullptr;
  EventSource *source = vp::dialog::ActiveScriptSource();
  VPModalEventSource host{};
  bool useHost = false;
  if (!source) {
    std::lock_guard<std::mutex> lock(gSourceLock);
    useHost = gHasHostSource;
    if (useHost) host = gHostSource;
  }
  HostSource hostSource(host);
  if (!source && useHost) source = &hostSource;
  if (!source) {
    OSStatus err = noErr;
    terminal = vp::Edge(static_cast<EventSource *>(nullptr),
                        [&] { return vp::dialog::NewTerminalSource(&err); });
    if (!terminal) return err != noErr ? err : memFullErr;
    source = terminal;
  }

  window->inModalLoop = true;
  window->quitRequested = false;
  OSStatus result = Run(window, *source);
  vp::Delete(terminal);
  window->inModalLoop = false;
  window->quitRequested = false;
  if (window->disposePending) vp::dialog::FreeWindow(window);
  return result;
}

OSStatus QuitAppModalLoopForWindow(WindowRef inWindow) noexcept {
  if (!vp::dialog::IsLiveWindow(inWindow)) return errInvalidWindowRef;
  if (!inWindow->inModalLoop) return paramErr;
  inWindow->quitRequested = true;
  return noErr;
}

OSStatus VPModalSetEventSource(const VPModalEventSource *source) noexcept {
  std::lock_guard<std::mutex> lock(gSourceLock);
  if (!source) {
    gHasHostSource = false;
    gHostSource = VPModalEventSource{};
    return noErr;
  }
  if (source->version != kVPModalEventSourceVersion || !source->present || !source->nextAction)
    return paramErr;
  gHostSource = *source;
  gHasHostSource = true;
  return noErr;
}

} // extern "C"
