// The modal dialog module over the real window services, answered by the
// scripted user: creation and its failures (nothing left behind), the
// commands that end the loop and those that do not, the window's visibility
// after each outcome, control values, the order of disposal, and an
// allocation sweep over creation.
#include <dlfcn.h>

#include <ostream>
#include <string>
#include <vector>

#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/carbon_testing.h>
#include <vantlow/dialog_testing.h>
#include <vantlow/platform_testing.h>

#include "dialog_fixture.h"
#include "modal_dialog.h"
#include "test_support.h"

using dialog_test::ScriptedUser;
using dialog_test::TestBundle;

// ---- Watching the order of disposal ----
// These definitions take the module's calls (the executable's symbols come
// first); each notes the call while recording is on and passes it on.
namespace {
bool gRecording = false;
std::vector<std::string> gCalls;

template <class F> F Next(const char *name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}
} // namespace

extern "C" OSStatus RemoveEventHandler(EventHandlerRef inHandlerRef) noexcept {
  if (gRecording) gCalls.push_back("RemoveEventHandler");
  static auto next = Next<OSStatus (*)(EventHandlerRef) noexcept>("RemoveEventHandler");
  return next(inHandlerRef);
}

extern "C" void DisposeEventHandlerUPP(EventHandlerUPP userUPP) noexcept {
  if (gRecording) gCalls.push_back("DisposeEventHandlerUPP");
  static auto next = Next<void (*)(EventHandlerUPP) noexcept>("DisposeEventHandlerUPP");
  next(userUPP);
}

extern "C" void DisposeWindow(WindowRef window) noexcept {
  if (gRecording) gCalls.push_back("DisposeWindow");
  static auto next = Next<void (*)(WindowRef) noexcept>("DisposeWindow");
  next(window);
}

namespace {

constexpr OSType kTest = 0x54657374;     // 'Test'
constexpr UInt32 kCmdOther = 0x6F746872; // 'othr'
constexpr ControlID kGroup = {kTest, 1};
constexpr ControlID kBox = {kTest, 2};

std::string Button(const char *title, const char *command) {
  return std::string("<dict><key>Kind</key><string>PushButton</string><key>Title</key><string>") +
         title + "</string><key>Command</key><string>" + command + "</string></dict>";
}

// The interface file "Dialog" with the window "Main".
std::string DialogFile() {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
         "<key>Windows</key><dict><key>Main</key><dict><key>Title</key><string>Main</string>"
         "<key>Controls</key><array>"
         "<dict><key>Kind</key><string>RadioGroup</string><key>Signature</key><string>Test"
         "</string><key>ID</key><integer>1</integer><key>Buttons</key><array><string>a</string>"
         "<string>b</string><string>c</string></array></dict>"
         "<dict><key>Kind</key><string>Checkbox</string><key>Signature</key><string>Test"
         "</string><key>ID</key><integer>2</integer><key>Title</key><string>Box</string></dict>" +
         Button("OK", "ok  ") + Button("Cancel", "not!") + Button("Other", "othr") +
         "</array></dict></dict></dict></plist>\n";
}

std::string NextIdentifier() {
  static int n = 0;
  return "org.vantlow.test.modal-dialog." + std::to_string(++n);
}

class ModalDialogTest : public ::testing::Test {
protected:
  void TearDown() override {
    gRecording = false;
    gCalls.clear();
  }
  MyModalDialog *Create() {
    MyModalDialog *dialog = nullptr;
    EXPECT_EQ(MyModalDialogCreate(bundle_.get(), CFSTR("Dialog"), CFSTR("Main"), &dialog), noErr);
    return dialog;
  }

  TestBundle bundle_{NextIdentifier(), {{"Dialog.dialog.plist", DialogFile()}}};
  ScriptedUser user_;
};

TEST_F(ModalDialogTest, CreateRefusesNullArguments) {
  MyModalDialog *const untouched = reinterpret_cast<MyModalDialog *>(0x1);
  struct Case {
    const char *name;
    bool bundle, file, window, out;
  };
  const Case cases[] = {{"no bundle", false, true, true, true},
                        {"no file name", true, false, true, true},
                        {"no window name", true, true, false, true},
                        {"nowhere to store", true, true, true, false}};
  for (const Case &c : cases) {
    MyModalDialog *dialog = untouched;
    EXPECT_EQ(MyModalDialogCreate(c.bundle ? bundle_.get() : nullptr,
                                  c.file ? CFSTR("Dialog") : nullptr,
                                  c.window ? CFSTR("Main") : nullptr, c.out ? &dialog : nullptr),
              paramErr)
        << c.name;
    EXPECT_EQ(dialog, untouched) << c.name << ": nothing is stored";
  }
}

TEST_F(ModalDialogTest, FailedCreationLeavesNothingBehind) {
  struct Case {
    const char *name;
    CFStringRef file;
    CFStringRef window;
    OSStatus expected;
  };
  const Case cases[] = {
      {"no such interface file", CFSTR("Missing"), CFSTR("Main"), kIBCarbonRuntimeCantFindNibFile},
      {"no such window", CFSTR("Dialog"), CFSTR("Other"), kIBCarbonRuntimeCantFindObject},
  };
  MyModalDialogDispose(Create()); // the bundle's caches are filled from now on
  for (const Case &c : cases) {
    long objects = VPLiveObjectCount();
    long blocks = VPLiveAllocationCount();
    long wrapped = vantlow_test::WrappedLiveCount();
    ItemCount appHandlers = VPEventTargetCountHandlers(GetApplicationEventTarget());
    MyModalDialog *dialog = reinterpret_cast<MyModalDialog *>(0x1);
    EXPECT_EQ(MyModalDialogCreate(bundle_.get(), c.file, c.window, &dialog), c.expected) << c.name;
    EXPECT_EQ(dialog, nullptr) << c.name;
    EXPECT_EQ(VPLiveObjectCount(), objects) << c.name;
    EXPECT_EQ(VPLiveAllocationCount(), blocks) << c.name << ": a window, nib or target is left";
    EXPECT_EQ(vantlow_test::WrappedLiveCount(), wrapped) << c.name << ": the record is left";
    EXPECT_EQ(VPEventTargetCountHandlers(GetApplicationEventTarget()), appHandlers) << c.name;
  }
}

TEST_F(ModalDialogTest, NewDialogHasItsHandlerAndNoAnswerYet) {
  MyModalDialog *dialog = Create();
  ASSERT_NE(dialog, nullptr);
  ASSERT_NE(dialog->window, nullptr);
  EXPECT_FALSE(IsWindowVisible(dialog->window));
  EXPECT_EQ(VPEventTargetCountHandlers(GetWindowEventTarget(dialog->window)), 1u);
  UInt32 ack = 99;
  EXPECT_EQ(MyModalDialogGetUserAcknowledge(dialog, &ack), noErr);
  EXPECT_EQ(ack, 0u);
  EXPECT_EQ(MyModalDialogGetUserAcknowledge(dialog, nullptr), paramErr);
  EXPECT_EQ(MyModalDialogGetUserAcknowledge(nullptr, &ack), paramErr);
  MyModalDialogDispose(dialog);
}

// What the dialog's record held each time the script's source redrew.
struct Watch {
  MyModalDialog *dialog = nullptr;
  std::vector<UInt32> acks;
  std::vector<bool> visible;
};

void WatchDialog(void *context, WindowRef window, UInt32 moment) {
  auto *w = static_cast<Watch *>(context);
  if (moment == kVPScriptDismissed) return;
  w->acks.push_back(w->dialog->userAcknowledge);
  w->visible.push_back(IsWindowVisible(window));
}

struct EndCase {
  const char *name;
  std::vector<UInt32> presses;
  UInt32 ack;
};
// Failures name the row, not its bytes.
void PrintTo(const EndCase &row, std::ostream *os) {
  *os << row.name;
}

class ModalDialogEndTest : public ModalDialogTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(ModalDialogEndTest, LoopEndsOnOKOrCancelOnly) {
  const EndCase &c = GetParam();
  MyModalDialog *dialog = Create();
  ASSERT_NE(dialog, nullptr);
  Watch watch;
  watch.dialog = dialog;
  VPScriptSetObserver(WatchDialog, &watch);
  for (UInt32 command : c.presses)
    ASSERT_EQ(VPScriptAddPress(command), noErr);
  ASSERT_EQ(VPScriptAddExpectQuit(), noErr);

  EXPECT_EQ(MyModalDialogRunModalLoop(dialog), noErr);
  EXPECT_EQ(ScriptedUser::Failures(), "");
  UInt32 ack = 0;
  EXPECT_EQ(MyModalDialogGetUserAcknowledge(dialog, &ack), noErr);
  EXPECT_EQ(ack, c.ack);
  EXPECT_FALSE(IsWindowVisible(dialog->window)) << "hidden before the loop's caller goes on";
  EXPECT_EQ(VPWindowGetPositionMethod(dialog->window),
            static_cast<WindowPositionMethod>(kWindowAlertPositionOnMainScreen));
  // Shown while the user answered; no answer before the last press.
  EXPECT_EQ(watch.acks, std::vector<UInt32>(c.presses.size(), 0u));
  EXPECT_EQ(watch.visible, std::vector<bool>(c.presses.size(), true));
  MyModalDialogDispose(dialog);
}

INSTANTIATE_TEST_SUITE_P(
    ModalDialog, ModalDialogEndTest,
    ::testing::ValuesIn(std::vector<EndCase>{
        {"OK", {kHICommandOK}, kHICommandOK},
        {"Cancel", {kHICommandCancel}, kHICommandCancel},
        {"OtherButtonThenOK", {kCmdOther, kHICommandOK}, kHICommandOK},
        {"MenuCommandThenCancel", {0x6D6E7558 /* 'mnuX' */, kHICommandCancel}, kHICommandCancel},
    }),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(ModalDialogTest, FailedLoopLeavesTheWindowShown) {
  MyModalDialog *dialog = Create();
  ASSERT_NE(dialog, nullptr);
  ASSERT_EQ(VPScriptAddFail(ioErr), noErr);
  EXPECT_EQ(MyModalDialogRunModalLoop(dialog), ioErr);
  EXPECT_TRUE(IsWindowVisible(dialog->window));
  UInt32 ack = 99;
  MyModalDialogGetUserAcknowledge(dialog, &ack);
  EXPECT_EQ(ack, 0u);
  MyModalDialogDispose(dialog);
}

TEST_F(ModalDialogTest, WindowThatCannotBePlacedIsNotShown) {
  MyModalDialog *dialog = Create();
  ASSERT_NE(dialog, nullptr);
  DisposeWindow(dialog->window); // the window is gone: it cannot be placed
  EXPECT_EQ(MyModalDialogRunModalLoop(dialog), errInvalidWindowRef);
  EXPECT_EQ(VPScriptCountPendingSteps(), 0u);
  MyModalDialogDispose(dialog);
}

TEST_F(ModalDialogTest, RunWithoutDialogOrWindow) {
  EXPECT_EQ(MyModalDialogRunModalLoop(nullptr), paramErr);
  MyModalDialog empty = {};
  EXPECT_EQ(MyModalDialogRunModalLoop(&empty), paramErr);
}

TEST_F(ModalDialogTest, ControlValues) {
  MyModalDialog *dialog = Create();
  ASSERT_NE(dialog, nullptr);
  const ControlID missing = {kTest, 9};
  struct Case {
    const char *name;
    const ControlID *id;
    SInt32 set;
    OSStatus status;
    SInt32 read; // what a read gives afterwards (untouched: 77)
  };
  const Case cases[] = {
      {"radio group", &kGroup, 2, noErr, 2},
      {"radio group, clamped by the platform", &kGroup, 5, noErr, 3},
      {"checkbox", &kBox, 1, noErr, 1},
      {"no such control", &missing, 1, errUnknownControl, 77},
      {"no ControlID", nullptr, 1, paramErr, 77},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(MyModalDialogSetControlValue(dialog, c.id, c.set), c.status) << c.name;
    SInt32 value = 77;
    EXPECT_EQ(MyModalDialogGetControlValue(dialog, c.id, &value), c.status) << c.name;
    EXPECT_EQ(value, c.read) << c.name;
  }
  ControlRef control = nullptr;
  EXPECT_EQ(MyModalDialogGetControlByID(dialog, &kBox, &control), noErr);
  EXPECT_EQ(GetControl32BitValue(control), 1);
  EXPECT_EQ(MyModalDialogGetControlByID(dialog, &kBox, nullptr), paramErr);
  EXPECT_EQ(MyModalDialogGetControlByID(nullptr, &kBox, &control), paramErr);
  EXPECT_EQ(MyModalDialogGetControlValue(dialog, &kBox, nullptr), paramErr);
  EXPECT_EQ(MyModalDialogSetControlValue(nullptr, &kBox, 1), paramErr);
  MyModalDialogDispose(dialog);
}

TEST_F(ModalDialogTest, DisposeRemovesTheHandlerBeforeTheWindow) {
  EXPECT_EQ(MyModalDialogDispose(nullptr), paramErr);
  MyModalDialog *dialog = Create();
  ASSERT_NE(dialog, nullptr);
  long wrapped = vantlow_test::WrappedLiveCount();
  gRecording = true;
  EXPECT_EQ(MyModalDialogDispose(dialog), noErr);
  gRecording = false;
  EXPECT_EQ(gCalls, (std::vector<std::string>{"RemoveEventHandler", "DisposeEventHandlerUPP",
                                              "DisposeWindow"}));
  EXPECT_EQ(vantlow_test::WrappedLiveCount(), wrapped - 1) << "the record is freed";
}

TEST_F(ModalDialogTest, SweepThroughCreation) {
  MyModalDialogDispose(Create()); // the bundle's caches are filled from now on
  vantlow_test::SweepAllocationFailures(
      [&](long n) {
        MyModalDialog *dialog = reinterpret_cast<MyModalDialog *>(0x1);
        OSStatus err = MyModalDialogCreate(bundle_.get(), CFSTR("Dialog"), CFSTR("Main"), &dialog);
        // paramErr: the handler's UPP could not be made, and installing a
        // null UPP is refused.
        EXPECT_TRUE(err == noErr || err == memFullErr || err == paramErr)
            << err << " at allocation " << n;
        EXPECT_EQ(err == noErr, dialog != nullptr) << "at allocation " << n;
        if (dialog) MyModalDialogDispose(dialog);
      },
      false);
}

} // namespace
