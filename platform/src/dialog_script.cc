// The scripted event source of vantlow/dialog_testing.h: a queue of steps a
// test sets up in place of a user answering a dialog, checks of control
// values along the way, and an observer that sees what was shown. Test
// machinery: its storage is fixed in size and allocates nothing, so that a
// script set up during an allocation sweep neither fails nor counts as a
// leak.
#include <vantlow/dialog_testing.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "windows_internal.h"

namespace {

using vp::dialog::Action;

enum class Kind { kSetValue, kPress, kCheckValue, kExpectQuit, kFail };

struct Step {
  Kind kind;
  ControlID control;
  SInt32 value; // set value, check value
  UInt32 command;
  OSStatus status;
};

constexpr std::size_t kMaxSteps = 256;
constexpr std::size_t kFailureTextSize = 4096;

struct Script {
  std::mutex lock;
  bool active = false;
  Step steps[kMaxSteps];
  std::size_t head = 0; // next step
  std::size_t count = 0;
  ItemCount failures = 0;
  char failureText[kFailureTextSize] = {};
  std::size_t failureLength = 0;
  VPScriptObserver observer = nullptr;
  void *observerContext = nullptr;
};

Script gScript;

// Under the lock: appends one line to the failure text (cut when full).
void RecordFailure(const char *text) noexcept {
  ++gScript.failures;
  std::size_t room = kFailureTextSize - 1 - gScript.failureLength;
  std::size_t n = std::strlen(text);
  if (n + 1 > room) n = room > 0 ? room - 1 : 0;
  std::memcpy(gScript.failureText + gScript.failureLength, text, n);
  gScript.failureLength += n;
  if (gScript.failureLength < kFailureTextSize - 1)
    gScript.failureText[gScript.failureLength++] = '\n';
  gScript.failureText[gScript.failureLength] = '\0';
}

// "'Prfs' 3", with unprintable bytes of the signature as '?'.
void DescribeControl(const ControlID &id, char *out, std::size_t size) noexcept {
  char sig[5];
  for (int i = 0; i < 4; ++i) {
    unsigned char c = static_cast<unsigned char>(id.signature >> (24 - 8 * i));
    sig[i] = c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  }
  sig[4] = '\0';
  std::snprintf(out, size, "'%s' %ld", sig, static_cast<long>(id.id));
}

OSStatus Add(const Step &step) noexcept {
  std::lock_guard<std::mutex> guard(gScript.lock);
  if (!gScript.active) return paramErr;
  if (gScript.head == gScript.count) gScript.head = gScript.count = 0;
  if (gScript.count == kMaxSteps) return memFullErr;
  gScript.steps[gScript.count++] = step;
  return noErr;
}

void Notify(WindowRef window, UInt32 moment) noexcept {
  VPScriptObserver observer;
  void *context;
  {
    std::lock_guard<std::mutex> guard(gScript.lock);
    observer = gScript.observer;
    context = gScript.observerContext;
  }
  if (observer) observer(context, window, moment);
}

class ScriptSource final : public vp::dialog::EventSource {
public:
  OSStatus Present(WindowRef window) override {
    Notify(window, kVPScriptShown);
    return noErr;
  }

  OSStatus Next(WindowRef window, Action *action) override {
    std::lock_guard<std::mutex> guard(gScript.lock);
    for (;;) {
      if (gScript.head == gScript.count) {
        RecordFailure("the script ran out while a window waited for the user");
        return userCanceledErr;
      }
      const Step step = gScript.steps[gScript.head++];
      char what[64], line[160];
      ControlRef control = nullptr;
      switch (step.kind) {
      case Kind::kFail:
        return step.status;
      case Kind::kExpectQuit:
        RecordFailure("the loop was still running where the script expected it to have ended");
        return userCanceledErr;
      case Kind::kPress:
        action->command = step.command;
        action->kind = kVPModalActionCommand;
        for (ItemCount i = 1, n = VPWindowCountControls(window); i <= n; ++i) {
          ControlRef c = VPWindowGetControlAtIndex(window, i);
          UInt32 command = 0;
          if (GetControlCommandID(c, &command) == noErr && command == step.command &&
              VPControlGetKind(c) == kVPControlKindPushButton) {
            action->kind = kVPModalActionPress;
            action->control = c;
            break;
          }
        }
        return noErr;
      case Kind::kSetValue:
      case Kind::kCheckValue:
        DescribeControl(step.control, what, sizeof what);
        if (GetControlByID(window, &step.control, &control) != noErr) {
          std::snprintf(line, sizeof line, "%s: the window has no control %s",
                        step.kind == Kind::kSetValue ? "set value" : "check value", what);
          RecordFailure(line);
          continue;
        }
        if (step.kind == Kind::kSetValue) {
          action->kind = kVPModalActionSetValue;
          action->control = control;
          action->value = step.value;
          return noErr;
        }
        if (SInt32 actual = GetControl32BitValue(control); actual != step.value) {
          std::snprintf(line, sizeof line, "check value: control %s holds %ld, expected %ld", what,
                        static_cast<long>(actual), static_cast<long>(step.value));
          RecordFailure(line);
        }
        continue;
      }
    }
  }

  void Refresh(WindowRef window) override { Notify(window, kVPScriptChanged); }

  void Dismiss(WindowRef window) override {
    {
      std::lock_guard<std::mutex> guard(gScript.lock);
      if (gScript.head < gScript.count && gScript.steps[gScript.head].kind == Kind::kExpectQuit)
        ++gScript.head;
    }
    Notify(window, kVPScriptDismissed);
  }
};

ScriptSource gSource;

} // namespace

namespace vp::dialog {

EventSource *ActiveScriptSource() noexcept {
  std::lock_guard<std::mutex> guard(gScript.lock);
  return gScript.active ? &gSource : nullptr;
}

} // namespace vp::dialog

extern "C" {

void VPScriptBegin(void) noexcept {
  std::lock_guard<std::mutex> guard(gScript.lock);
  gScript.active = true;
  gScript.head = gScript.count = 0;
  gScript.failures = 0;
  gScript.failureLength = 0;
  gScript.failureText[0] = '\0';
}

void VPScriptEnd(void) noexcept {
  std::lock_guard<std::mutex> guard(gScript.lock);
  gScript.active = false;
  gScript.head = gScript.count = 0;
  gScript.failures = 0;
  gScript.failureLength = 0;
  gScript.failureText[0] = '\0';
  gScript.observer = nullptr;
  gScript.observerContext = nullptr;
}

OSStatus VPScriptAddSetValue(ControlID control, SInt32 value) noexcept {
  return Add(Step{Kind::kSetValue, control, value, 0, noErr});
}

OSStatus VPScriptAddPress(UInt32 commandID) noexcept {
  return Add(Step{Kind::kPress, ControlID{0, 0}, 0, commandID, noErr});
}

OSStatus VPScriptAddCheckValue(ControlID control, SInt32 expected) noexcept {
  return Add(Step{Kind::kCheckValue, control, expected, 0, noErr});
}

OSStatus VPScriptAddExpectQuit(void) noexcept {
  return Add(Step{Kind::kExpectQuit, ControlID{0, 0}, 0, 0, noErr});
}

OSStatus VPScriptAddFail(OSStatus status) noexcept {
  return Add(Step{Kind::kFail, ControlID{0, 0}, 0, 0, status});
}

ItemCount VPScriptCountPendingSteps(void) noexcept {
  std::lock_guard<std::mutex> guard(gScript.lock);
  return static_cast<ItemCount>(gScript.count - gScript.head);
}

ItemCount VPScriptCopyFailures(char *buffer, ByteCount size) noexcept {
  std::lock_guard<std::mutex> guard(gScript.lock);
  if (buffer && size > 0) {
    std::size_t n = gScript.failureLength < size - 1 ? gScript.failureLength : size - 1;
    std::memcpy(buffer, gScript.failureText, n);
    buffer[n] = '\0';
  }
  return gScript.failures;
}

void VPScriptSetObserver(VPScriptObserver observer, void *context) noexcept {
  std::lock_guard<std::mutex> guard(gScript.lock);
  gScript.observer = observer;
  gScript.observerContext = context;
}

} // extern "C"
