// Windows, controls and the modal loop: interface files that are missing or
// malformed, windows built from the project's "Preferences" file in each
// language, control values and lookup, the window calls, the modal loop
// driven by the scripted source and by a host's registered source, the
// terminal renderer driven by keys over a pseudo-terminal (with signals and
// hang-ups), and allocation sweeps.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/carbon_testing.h>
#include <vantlow/dialog_testing.h>
#include <vantlow/platform_testing.h>

#include "dialog_fixture.h"
#include "test_support.h"

namespace {

using dialog_test::kCheckboxID;
using dialog_test::kRadioGroupID;
using dialog_test::ScopedEnv;
using dialog_test::ScriptedUser;
using dialog_test::Take;
using dialog_test::TestBundle;

constexpr OSType kTest = 0x54657374;      // 'Test'
constexpr UInt32 kCmdOther = 0x6F746872;  // 'othr'
constexpr UInt32 kCmdRadio = 0x7264696F;  // 'rdio'
constexpr UInt32 kCmdNoItem = 0x6D6E7558; // 'mnuX': a command no control carries

std::string Plist(const std::string &body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body +
         "</plist>\n";
}

// A file with one window "Main" holding the given controls.
std::string OneWindow(const std::string &controls) {
  return Plist("<dict><key>Windows</key><dict><key>Main</key><dict><key>Title</key>"
               "<string>Main</string><key>Controls</key><array>" +
               controls + "</array></dict></dict></dict>");
}

const char kOKButton[] = "<dict><key>Kind</key><string>PushButton</string><key>Title</key>"
                         "<string>OK</string><key>Command</key><string>ok  </string></dict>";

// The window the loop tests run: a radio group that sends a command when
// clicked, a checkbox that does not, and three buttons.
std::string LoopWindow() {
  return OneWindow(
      "<dict><key>Kind</key><string>RadioGroup</string><key>Signature</key><string>Test</string>"
      "<key>ID</key><integer>1</integer><key>Command</key><string>rdio</string>"
      "<key>Buttons</key><array><string>a</string><string>b</string><string>c</string></array>"
      "</dict>"
      "<dict><key>Kind</key><string>Checkbox</string><key>Signature</key><string>Test</string>"
      "<key>ID</key><integer>2</integer><key>Title</key><string>Check</string></dict>" +
      std::string(kOKButton) +
      "<dict><key>Kind</key><string>PushButton</string><key>Title</key><string>Cancel</string>"
      "<key>Command</key><string>not!</string></dict>"
      "<dict><key>Kind</key><string>PushButton</string><key>Title</key><string>Other</string>"
      "<key>Command</key><string>othr</string></dict>");
}

// Every bundle gets an identifier of its own (the registry keeps them all).
std::string NextIdentifier() {
  static int n = 0;
  return "org.vantlow.test.dialog." + std::to_string(++n);
}

constexpr ControlID kGroup = {kTest, 1}; // the loop window's radio group
constexpr ControlID kBox = {kTest, 2};   // and its checkbox

// ---- Interface files ----

struct NibCase {
  const char *name;
  std::map<std::string, std::string> files; // below Contents/Resources
  const char *nibName;
  OSStatus nibStatus;
  OSStatus windowStatus; // when the file opened
};
// Failures name the row, not its bytes.
void PrintTo(const NibCase &row, std::ostream *os) {
  *os << row.name;
}

class NibFileTest : public ::testing::TestWithParam<NibCase> {};

TEST_P(NibFileTest, OpensOrRefuses) {
  const NibCase &c = GetParam();
  TestBundle bundle(NextIdentifier(), c.files);
  CFStringRef nibName = CFStringCreateWithCString(nullptr, c.nibName, kCFStringEncodingUTF8);
  IBNibRef nib = reinterpret_cast<IBNibRef>(1);
  long objects = VPLiveObjectCount();
  EXPECT_EQ(CreateNibReferenceWithCFBundle(bundle.get(), nibName, &nib), c.nibStatus);
  if (c.nibStatus != noErr) {
    EXPECT_EQ(nib, nullptr);
    EXPECT_EQ(VPLiveObjectCount(), objects) << "a refused file leaves nothing behind";
  }
  CFRelease(nibName);
  if (c.nibStatus != noErr) return;
  WindowRef window = reinterpret_cast<WindowRef>(1);
  EXPECT_EQ(CreateWindowFromNib(nib, CFSTR("Main"), &window), c.windowStatus);
  if (c.windowStatus != noErr) {
    EXPECT_EQ(window, nullptr);
  }
  DisposeWindow(window);
  DisposeNibReference(nib);
}

const char kRadioNoButtons[] =
    "<dict><key>Kind</key><string>RadioGroup</string><key>Signature</key><string>Test</string>"
    "<key>ID</key><integer>1</integer></dict>";

std::vector<NibCase> NibCases() {
  const std::string ok = OneWindow(kOKButton);
  auto file = [](const std::string &text) {
    return std::map<std::string, std::string>{{"Main.dialog.plist", text}};
  };
  auto control = [](const std::string &dict) { return OneWindow("<dict>" + dict + "</dict>"); };
  const OSStatus bad = errCorruptWindowDescription;
  return {
      {"ValidFile", file(ok), "Main", noErr, noErr},
      {"MissingFile", {}, "Main", kIBCarbonRuntimeCantFindNibFile, noErr},
      {"NameLeadsOutOfTheBundle", file(ok), "../Main", kIBCarbonRuntimeCantFindNibFile, noErr},
      {"MissingWindow",
       file(Plist("<dict><key>Windows</key><dict><key>Other</key><dict><key>Controls</key>"
                  "<array/></dict></dict></dict>")),
       "Main", noErr, kIBCarbonRuntimeCantFindObject},
      {"LocalizedCopyWins",
       {{"Main.dialog.plist", "not a property list"}, {"English.lproj/Main.dialog.plist", ok}},
       "Main",
       noErr,
       noErr},
      {"NotAPropertyList", file("<dict><key>Windows"), "Main", bad, noErr},
      {"TopIsAnArray", file(Plist("<array/>")), "Main", bad, noErr},
      {"FolderInsteadOfFile", {{"Main.dialog.plist/x", ""}}, "Main", bad, noErr},
      {"UnknownTopKey",
       file(Plist("<dict><key>Windows</key><dict/><key>Extra</key><true/></dict>")), "Main", bad,
       noErr},
      {"OtherFormatVersion",
       file(Plist("<dict><key>Format</key><integer>2</integer><key>Windows</key><dict/></dict>")),
       "Main", bad, noErr},
      {"ControlsNotAnArray",
       file(Plist("<dict><key>Windows</key><dict><key>Main</key><dict><key>Controls</key>"
                  "<dict/></dict></dict></dict>")),
       "Main", bad, noErr},
      {"MisspelledKey",
       file(control("<key>Kind</key><string>Checkbox</string><key>Tilte</key><string>x</string>")),
       "Main", bad, noErr},
      {"UnknownKind", file(control("<key>Kind</key><string>Slider</string>")), "Main", bad, noErr},
      {"TitleMissing", file(control("<key>Kind</key><string>PushButton</string>")), "Main", bad,
       noErr},
      {"RadioGroupWithoutButtons", file(OneWindow(kRadioNoButtons)), "Main", bad, noErr},
      {"RadioGroupWithRange",
       file(control("<key>Kind</key><string>RadioGroup</string><key>Buttons</key><array>"
                    "<string>a</string></array><key>Maximum</key><integer>5</integer>")),
       "Main", bad, noErr},
      {"ButtonTitleNotAString",
       file(control("<key>Kind</key><string>RadioGroup</string><key>Buttons</key><array>"
                    "<integer>1</integer></array>")),
       "Main", bad, noErr},
      {"ValueOutsideRange",
       file(control("<key>Kind</key><string>Checkbox</string><key>Title</key><string>x</string>"
                    "<key>Value</key><integer>3</integer>")),
       "Main", bad, noErr},
      {"ValueNotWhole",
       file(control("<key>Kind</key><string>Checkbox</string><key>Title</key><string>x</string>"
                    "<key>Value</key><real>1.5</real>")),
       "Main", bad, noErr},
      {"CommandTooShort",
       file(control("<key>Kind</key><string>PushButton</string><key>Title</key><string>x</string>"
                    "<key>Command</key><string>ok</string>")),
       "Main", bad, noErr},
      {"SignatureWithoutID",
       file(control("<key>Kind</key><string>Checkbox</string><key>Title</key><string>x</string>"
                    "<key>Signature</key><string>Test</string>")),
       "Main", bad, noErr},
      {"StaticTextWithCommand",
       file(control("<key>Kind</key><string>StaticText</string><key>Title</key><string>x</string>"
                    "<key>Command</key><string>ok  </string>")),
       "Main", bad, noErr},
      {"TwoControlsOneID",
       file(OneWindow("<dict><key>Kind</key><string>Checkbox</string><key>Title</key><string>x"
                      "</string><key>Signature</key><string>Test</string><key>ID</key><integer>"
                      "1</integer></dict><dict><key>Kind</key><string>Checkbox</string><key>Title"
                      "</key><string>y</string><key>Signature</key><string>Test</string><key>ID"
                      "</key><integer>1</integer></dict>")),
       "Main", bad, noErr},
  };
}

INSTANTIATE_TEST_SUITE_P(Dialog, NibFileTest, ::testing::ValuesIn(NibCases()),
                         [](const auto &row) { return std::string(row.param.name); });

TEST(NibFile, NullArgumentsAreRefused) {
  TestBundle bundle(NextIdentifier(), {{"Main.dialog.plist", OneWindow(kOKButton)}});
  IBNibRef nib = nullptr;
  EXPECT_EQ(CreateNibReferenceWithCFBundle(nullptr, CFSTR("Main"), &nib), paramErr);
  EXPECT_EQ(CreateNibReferenceWithCFBundle(bundle.get(), nullptr, &nib), paramErr);
  EXPECT_EQ(CreateNibReferenceWithCFBundle(bundle.get(), CFSTR("Main"), nullptr), paramErr);
  ASSERT_EQ(CreateNibReferenceWithCFBundle(bundle.get(), CFSTR("Main"), &nib), noErr);
  WindowRef window = nullptr;
  EXPECT_EQ(CreateWindowFromNib(nib, nullptr, &window), paramErr);
  EXPECT_EQ(CreateWindowFromNib(nib, CFSTR("Main"), nullptr), paramErr);
  DisposeNibReference(nib);
  EXPECT_EQ(CreateWindowFromNib(nib, CFSTR("Main"), &window), paramErr) << "a disposed reference";
  DisposeNibReference(nullptr);
}

TEST(NibFile, WindowOutlivesItsNibReference) {
  TestBundle bundle(NextIdentifier(), {{"Main.dialog.plist", OneWindow(kOKButton)}});
  IBNibRef nib = nullptr;
  ASSERT_EQ(CreateNibReferenceWithCFBundle(bundle.get(), CFSTR("Main"), &nib), noErr);
  WindowRef window = nullptr;
  ASSERT_EQ(CreateWindowFromNib(nib, CFSTR("Main"), &window), noErr);
  DisposeNibReference(nib);
  EXPECT_EQ(VPWindowCountControls(window), 1u);
  EXPECT_EQ(Take([&] {
              CFStringRef s = nullptr;
              CopyControlTitleAsCFString(VPWindowGetControlAtIndex(window, 1), &s);
              return s;
            }()),
            "OK");
  DisposeWindow(window);
}

// ---- The "Preferences" window in each language ----

struct LanguageCase {
  const char *name;
  const char *language;
  const char *windowTitle;
  const char *firstButton;
  const char *lastButton;
  const char *checkbox;
  const char *cancel;
};
// Failures name the row, not its bytes.
void PrintTo(const LanguageCase &row, std::ostream *os) {
  *os << row.name;
}

class PreferencesWindowTest : public ::testing::TestWithParam<LanguageCase> {};

TEST_P(PreferencesWindowTest, TitlesComeFromTheLanguagesTable) {
  const LanguageCase &c = GetParam();
  ScopedEnv language("LANGUAGE", std::string(c.language));
  ScopedEnv all("LC_ALL", std::nullopt);
  ScopedEnv messages("LC_MESSAGES", std::nullopt);
  ScopedEnv lang("LANG", std::nullopt);
  TestBundle bundle(NextIdentifier(), dialog_test::PreferencesResources());
  IBNibRef nib = nullptr;
  ASSERT_EQ(CreateNibReferenceWithCFBundle(bundle.get(), CFSTR("Preferences"), &nib), noErr);
  WindowRef window = nullptr;
  ASSERT_EQ(CreateWindowFromNib(nib, CFSTR("Preferences"), &window), noErr);
  DisposeNibReference(nib);

  CFStringRef title = nullptr;
  EXPECT_EQ(CopyWindowTitleAsCFString(window, &title), noErr);
  EXPECT_EQ(Take(title), c.windowTitle);
  ControlRef group = nullptr, checkbox = nullptr;
  ASSERT_EQ(GetControlByID(window, &kRadioGroupID, &group), noErr);
  ASSERT_EQ(GetControlByID(window, &kCheckboxID, &checkbox), noErr);
  EXPECT_EQ(VPControlGetKind(group), static_cast<UInt32>(kVPControlKindRadioGroup));
  ASSERT_EQ(VPControlCountItems(group), 9u);
  CFStringRef item = nullptr;
  VPControlCopyItemTitle(group, 1, &item);
  EXPECT_EQ(Take(item), c.firstButton);
  VPControlCopyItemTitle(group, 9, &item);
  EXPECT_EQ(Take(item), c.lastButton);
  EXPECT_EQ(GetControl32BitMaximum(group), 9);
  CopyControlTitleAsCFString(checkbox, &item);
  EXPECT_EQ(Take(item), c.checkbox);

  // The buttons carry the commands that end the dialog.
  std::vector<std::pair<std::string, UInt32>> buttons;
  for (ItemCount i = 1; i <= VPWindowCountControls(window); ++i) {
    ControlRef c2 = VPWindowGetControlAtIndex(window, i);
    if (VPControlGetKind(c2) != kVPControlKindPushButton) continue;
    UInt32 command = 0;
    GetControlCommandID(c2, &command);
    CopyControlTitleAsCFString(c2, &item);
    buttons.emplace_back(Take(item), command);
  }
  std::vector<std::pair<std::string, UInt32>> expected = {{"OK", kHICommandOK},
                                                          {c.cancel, kHICommandCancel}};
  EXPECT_EQ(buttons, expected);
  DisposeWindow(window);
}

INSTANTIATE_TEST_SUITE_P(Dialog, PreferencesWindowTest,
                         ::testing::ValuesIn(std::vector<LanguageCase>{
                             {"English", "en", "Time Limit", "0.1 s", "No limit",
                              "Measure only when the submenu opens", "Cancel"},
                             {"German", "de", "Zeitlimit", "0,1 s", "Ohne Limit",
                              "Erst messen, wenn das Untermenü geöffnet wird", "Abbrechen"},
                             {"UnknownLanguageFallsBackToEnglish", "xx", "Time Limit", "0.1 s",
                              "No limit", "Measure only when the submenu opens", "Cancel"},
                         }),
                         [](const auto &row) { return std::string(row.param.name); });

// ---- Controls and window calls ----

class WindowTest : public ::testing::Test {
protected:
  void SetUp() override {
    IBNibRef nib = nullptr;
    ASSERT_EQ(CreateNibReferenceWithCFBundle(bundle_.get(), CFSTR("Main"), &nib), noErr);
    ASSERT_EQ(CreateWindowFromNib(nib, CFSTR("Main"), &window_), noErr);
    DisposeNibReference(nib);
    ASSERT_EQ(GetControlByID(window_, &kGroup, &group_), noErr);
    ASSERT_EQ(GetControlByID(window_, &kBox, &checkbox_), noErr);
  }
  void TearDown() override { DisposeWindow(window_); }

  TestBundle bundle_{NextIdentifier(), {{"Main.dialog.plist", LoopWindow()}}};
  WindowRef window_ = nullptr;
  ControlRef group_ = nullptr;
  ControlRef checkbox_ = nullptr;
};

TEST_F(WindowTest, ValuesAreClampedToTheControlsRange) {
  struct Case {
    const char *name;
    bool checkbox;
    SInt32 set;
    SInt32 expected;
  };
  const Case cases[] = {
      {"group below range", false, -5, 0},   {"group: none selected", false, 0, 0},
      {"group in range", false, 2, 2},       {"group above range", false, 12, 3},
      {"checkbox mixed", true, 2, 2},        {"checkbox above range", true, 3, 2},
      {"checkbox below range", true, -1, 0},
  };
  for (const Case &c : cases) {
    ControlRef control = c.checkbox ? checkbox_ : group_;
    SetControl32BitValue(control, c.set);
    EXPECT_EQ(GetControl32BitValue(control), c.expected) << c.name;
  }
}

TEST_F(WindowTest, ControlsAreFoundByIDOnly) {
  ControlRef control = reinterpret_cast<ControlRef>(1);
  const ControlID missing = {kTest, 9};
  const ControlID otherSignature = {dialog_test::kPrfs, 1};
  EXPECT_EQ(GetControlByID(window_, &missing, &control), errUnknownControl);
  EXPECT_EQ(control, nullptr);
  EXPECT_EQ(GetControlByID(window_, &otherSignature, &control), errUnknownControl);
  EXPECT_EQ(GetControlByID(window_, nullptr, &control), paramErr);
  EXPECT_EQ(GetControlByID(window_, &kGroup, nullptr), paramErr);
  EXPECT_EQ(GetControlByID(nullptr, &kGroup, &control), errInvalidWindowRef);
  ControlID id{};
  EXPECT_EQ(GetControlID(group_, &id), noErr);
  EXPECT_EQ(id.signature, kTest);
  EXPECT_EQ(id.id, 1);
  EXPECT_EQ(GetControlOwner(group_), window_);
}

TEST_F(WindowTest, HandlesOfADisposedWindowAreRefused) {
  DisposeWindow(window_);
  WindowRef dead = window_;
  window_ = nullptr;
  ControlRef control = nullptr;
  EXPECT_EQ(GetControlByID(dead, &kGroup, &control), errInvalidWindowRef);
  EXPECT_EQ(GetWindowEventTarget(dead), nullptr);
  EXPECT_EQ(RepositionWindow(dead, nullptr, kWindowAlertPositionOnMainScreen), errInvalidWindowRef);
  EXPECT_EQ(RunAppModalLoopForWindow(dead), errInvalidWindowRef);
  EXPECT_EQ(VPControlGetKind(group_), 0u);
  SetControl32BitValue(group_, 1); // ignored, no crash
  DisposeWindow(dead);             // twice: ignored
}

TEST_F(WindowTest, RepositionAcceptsKnownMethods) {
  struct Case {
    const char *name;
    WindowPositionMethod method;
    bool withParent;
    OSStatus expected;
  };
  const Case cases[] = {
      {"alert position on the main screen", kWindowAlertPositionOnMainScreen, false, noErr},
      {"centred on the main screen", kWindowCenterOnMainScreen, false, noErr},
      {"relative to a parent", kWindowCenterOnParentWindow, true, noErr},
      {"relative to a missing parent", kWindowAlertPositionOnParentWindow, false, paramErr},
      {"no method", 0, false, paramErr},
      {"unknown method", 10, false, paramErr},
  };
  IBNibRef nib = nullptr;
  ASSERT_EQ(CreateNibReferenceWithCFBundle(bundle_.get(), CFSTR("Main"), &nib), noErr);
  WindowRef parent = nullptr;
  ASSERT_EQ(CreateWindowFromNib(nib, CFSTR("Main"), &parent), noErr);
  DisposeNibReference(nib);
  for (const Case &c : cases) {
    WindowPositionMethod before = VPWindowGetPositionMethod(window_);
    EXPECT_EQ(RepositionWindow(window_, c.withParent ? parent : nullptr, c.method), c.expected)
        << c.name;
    EXPECT_EQ(VPWindowGetPositionMethod(window_), c.expected == noErr ? c.method : before)
        << c.name;
  }
  EXPECT_EQ(RepositionWindow(window_, window_, kWindowCenterOnParentWindow), paramErr);
  DisposeWindow(parent);
}

TEST_F(WindowTest, ShowAndHide) {
  EXPECT_FALSE(IsWindowVisible(window_)) << "windows are made hidden";
  ShowWindow(window_);
  EXPECT_TRUE(IsWindowVisible(window_));
  HideWindow(window_);
  EXPECT_FALSE(IsWindowVisible(window_));
}

// Counts the commands that reach a target.
OSStatus CountCommand(EventHandlerCallRef, EventRef, void *userData) {
  ++*static_cast<int *>(userData);
  return eventNotHandledErr;
}

TEST_F(WindowTest, WindowTargetPassesUnhandledEventsToTheApplication) {
  EventTargetRef target = GetWindowEventTarget(window_);
  ASSERT_NE(target, nullptr);
  EXPECT_NE(target, GetApplicationEventTarget());
  int reached = 0;
  const EventTypeSpec commandEvent = {kEventClassCommand, kEventCommandProcess};
  EventHandlerUPP upp = NewEventHandlerUPP(CountCommand);
  EventHandlerRef handler = nullptr;
  ASSERT_EQ(
      InstallEventHandler(GetApplicationEventTarget(), upp, 1, &commandEvent, &reached, &handler),
      noErr);
  EventRef event = nullptr;
  ASSERT_EQ(CreateEvent(nullptr, kEventClassCommand, kEventCommandProcess, 0, 0, &event), noErr);
  SendEventToEventTarget(event, target);
  ReleaseEvent(event);
  EXPECT_EQ(reached, 1);
  RemoveEventHandler(handler);
  DisposeEventHandlerUPP(upp);
}

TEST_F(WindowTest, DisposingTheWindowRemovesItsHandlers) {
  EventTargetRef target = GetWindowEventTarget(window_);
  int reached = 0;
  const EventTypeSpec commandEvent = {kEventClassCommand, kEventCommandProcess};
  EventHandlerUPP upp = NewEventHandlerUPP(CountCommand);
  ASSERT_EQ(InstallEventHandler(target, upp, 1, &commandEvent, &reached, nullptr), noErr);
  EXPECT_EQ(VPEventTargetCountHandlers(target), 1u);
  long blocks = VPLiveAllocationCount();
  DisposeWindow(window_);
  window_ = nullptr;
  EXPECT_LT(VPLiveAllocationCount(), blocks);
  DisposeEventHandlerUPP(upp);
}

// ---- The modal loop, driven by a script ----

struct Seen {
  UInt32 command;
  UInt32 attributes;
  MenuRef menu;
  MenuItemIndex item;
};

// The window's command handler: notes every command; OK and Cancel end the
// loop, as a dialog's handler does.
struct Recorder {
  WindowRef window = nullptr;
  std::vector<Seen> seen;
  // What the handler does with one particular command (nest, dispose).
  UInt32 special = 0;
  std::function<void()> onSpecial;
};

OSStatus RecordCommand(EventHandlerCallRef, EventRef event, void *userData) {
  auto *r = static_cast<Recorder *>(userData);
  HICommand command{};
  if (GetEventParameter(event, kEventParamDirectObject, typeHICommand, nullptr, sizeof command,
                        nullptr, &command) != noErr)
    return eventNotHandledErr;
  r->seen.push_back(
      {command.commandID, command.attributes, command.menu.menuRef, command.menu.menuItemIndex});
  if (r->special && command.commandID == r->special && r->onSpecial) r->onSpecial();
  if (command.commandID == kHICommandOK || command.commandID == kHICommandCancel) {
    QuitAppModalLoopForWindow(r->window);
    return noErr;
  }
  return eventNotHandledErr;
}

class LoopTest : public WindowTest {
protected:
  void SetUp() override {
    WindowTest::SetUp();
    recorder_.window = window_;
    upp_ = NewEventHandlerUPP(RecordCommand);
    const EventTypeSpec commandEvent = {kEventClassCommand, kEventCommandProcess};
    ASSERT_EQ(InstallEventHandler(GetWindowEventTarget(window_), upp_, 1, &commandEvent, &recorder_,
                                  nullptr),
              noErr);
  }
  void TearDown() override {
    WindowTest::TearDown();
    DisposeEventHandlerUPP(upp_);
  }
  std::vector<UInt32> Commands() const {
    std::vector<UInt32> ids;
    for (const Seen &s : recorder_.seen)
      ids.push_back(s.command);
    return ids;
  }

  ScriptedUser user_;
  Recorder recorder_;
  EventHandlerUPP upp_ = nullptr;
};

struct Step {
  enum Kind { kSet, kPress, kCheck, kExpectQuit, kFail } kind;
  ControlID control;
  SInt32 value;
  UInt32 command;
};

Step Set(ControlID c, SInt32 v) {
  return {Step::kSet, c, v, 0};
}
Step Press(UInt32 command) {
  return {Step::kPress, {}, 0, command};
}
Step Check(ControlID c, SInt32 v) {
  return {Step::kCheck, c, v, 0};
}
Step ExpectQuit() {
  return {Step::kExpectQuit, {}, 0, 0};
}
Step FailWith(OSStatus status) {
  return {Step::kFail, {}, status, 0};
}

void Add(const std::vector<Step> &steps) {
  for (const Step &s : steps) {
    OSStatus err = noErr;
    switch (s.kind) {
    case Step::kSet:
      err = VPScriptAddSetValue(s.control, s.value);
      break;
    case Step::kPress:
      err = VPScriptAddPress(s.command);
      break;
    case Step::kCheck:
      err = VPScriptAddCheckValue(s.control, s.value);
      break;
    case Step::kExpectQuit:
      err = VPScriptAddExpectQuit();
      break;
    case Step::kFail:
      err = VPScriptAddFail(s.value);
      break;
    }
    ASSERT_EQ(err, noErr);
  }
}

struct LoopCase {
  const char *name;
  std::vector<Step> steps;
  OSStatus result;
  std::vector<UInt32> commands; // as the window's handler saw them
  const char *failure;          // a text the script's failures hold; "" for none
};
// Failures name the row, not its bytes.
void PrintTo(const LoopCase &row, std::ostream *os) {
  *os << row.name;
}

class ScriptedLoopTest : public LoopTest, public ::testing::WithParamInterface<LoopCase> {};

TEST_P(ScriptedLoopTest, RunsUntilAHandlerQuits) {
  const LoopCase &c = GetParam();
  Add(c.steps);
  EXPECT_EQ(RunAppModalLoopForWindow(window_), c.result);
  EXPECT_EQ(Commands(), c.commands);
  std::string failures = ScriptedUser::Failures();
  if (*c.failure)
    EXPECT_NE(failures.find(c.failure), std::string::npos) << failures;
  else
    EXPECT_EQ(failures, "");
  EXPECT_EQ(VPScriptCountPendingSteps(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Dialog, ScriptedLoopTest,
    ::testing::ValuesIn(std::vector<LoopCase>{
        {"OKEndsTheLoop", {Press(kHICommandOK), ExpectQuit()}, noErr, {kHICommandOK}, ""},
        {"CancelEndsTheLoop", {Press(kHICommandCancel)}, noErr, {kHICommandCancel}, ""},
        {"OtherButtonKeepsItRunning",
         {Press(kCmdOther), Press(kCmdOther), Press(kHICommandOK)},
         noErr,
         {kCmdOther, kCmdOther, kHICommandOK},
         ""},
        {"CommandOfNoControlKeepsItRunning",
         {Press(kCmdNoItem), Press(kHICommandOK)},
         noErr,
         {kCmdNoItem, kHICommandOK},
         ""},
        {"RadioClickSetsTheValueAndSendsItsCommand",
         {Set(kGroup, 2), Check(kGroup, 2), Press(kHICommandOK)},
         noErr,
         {kCmdRadio, kHICommandOK},
         ""},
        {"CheckboxClickSendsNothing",
         {Set(kBox, 1), Check(kBox, 1), Press(kHICommandCancel)},
         noErr,
         {kHICommandCancel},
         ""},
        {"ClickedValueIsClamped",
         {Set(kGroup, 7), Check(kGroup, 3), Press(kHICommandOK)},
         noErr,
         {kCmdRadio, kHICommandOK},
         ""},
        {"SourceFailure", {FailWith(ioErr)}, ioErr, {}, ""},
        {"UserGoesAway",
         {Press(kCmdOther), FailWith(userCanceledErr)},
         userCanceledErr,
         {kCmdOther},
         ""},
        {"ScriptRunsOut", {Press(kCmdOther)}, userCanceledErr, {kCmdOther}, "ran out"},
        {"ExpectedQuitDidNotHappen",
         {Press(kCmdOther), ExpectQuit()},
         userCanceledErr,
         {kCmdOther},
         "still running"},
        {"UnknownControlIsReported",
         {Set({kTest, 9}, 1), Press(kHICommandOK)},
         noErr,
         {kHICommandOK},
         "no control 'Test' 9"},
        {"WrongValueIsReported",
         {Check(kGroup, 2), Press(kHICommandOK)},
         noErr,
         {kHICommandOK},
         "holds 0, expected 2"},
    }),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(LoopTest, CommandsCarryTheirOrigin) {
  Add({Set(kGroup, 1), Press(kCmdNoItem), Press(kHICommandOK)});
  ASSERT_EQ(RunAppModalLoopForWindow(window_), noErr);
  ASSERT_EQ(recorder_.seen.size(), 3u);
  EXPECT_EQ(recorder_.seen[0].attributes, static_cast<UInt32>(kHICommandFromControl));
  EXPECT_EQ(recorder_.seen[1].attributes, static_cast<UInt32>(kHICommandFromWindow));
  EXPECT_EQ(recorder_.seen[2].attributes, static_cast<UInt32>(kHICommandFromControl));
  for (const Seen &s : recorder_.seen) {
    EXPECT_EQ(s.menu, nullptr);
    EXPECT_EQ(s.item, 0);
  }
}

TEST_F(LoopTest, ObserverSeesWhatWasShown) {
  struct Observed {
    std::vector<UInt32> moments;
    std::vector<SInt32> groupValues;
  } observed;
  VPScriptSetObserver(
      [](void *context, WindowRef window, UInt32 moment) {
        auto *o = static_cast<Observed *>(context);
        ControlRef group = nullptr;
        GetControlByID(window, &kGroup, &group);
        o->moments.push_back(moment);
        o->groupValues.push_back(GetControl32BitValue(group));
      },
      &observed);
  SetControl32BitValue(group_, 3);
  Add({Set(kGroup, 1), Press(kHICommandOK)});
  ASSERT_EQ(RunAppModalLoopForWindow(window_), noErr);
  EXPECT_EQ(observed.moments,
            (std::vector<UInt32>{kVPScriptShown, kVPScriptChanged, kVPScriptDismissed}));
  EXPECT_EQ(observed.groupValues, (std::vector<SInt32>{3, 1, 1}));
}

TEST_F(LoopTest, QuitOnlyEndsARunningLoop) {
  EXPECT_EQ(QuitAppModalLoopForWindow(window_), paramErr);
  EXPECT_EQ(QuitAppModalLoopForWindow(nullptr), errInvalidWindowRef);
  // A quit before the loop starts does not end the next loop at once.
  Add({Press(kCmdOther), Press(kHICommandOK)});
  EXPECT_EQ(RunAppModalLoopForWindow(window_), noErr);
  EXPECT_EQ(Commands(), (std::vector<UInt32>{kCmdOther, kHICommandOK}));
}

TEST_F(LoopTest, SecondLoopOnTheSameWindowIsRefused) {
  OSStatus nested = noErr;
  recorder_.special = kCmdOther;
  recorder_.onSpecial = [&] { nested = RunAppModalLoopForWindow(window_); };
  Add({Press(kCmdOther), Press(kHICommandOK)});
  EXPECT_EQ(RunAppModalLoopForWindow(window_), noErr);
  EXPECT_EQ(nested, paramErr);
}

TEST_F(LoopTest, LoopCanRunAgainAfterItEnded) {
  Add({Press(kHICommandCancel), Set(kGroup, 3), Press(kHICommandOK)});
  EXPECT_EQ(RunAppModalLoopForWindow(window_), noErr);
  EXPECT_EQ(RunAppModalLoopForWindow(window_), noErr);
  EXPECT_EQ(GetControl32BitValue(group_), 3);
  EXPECT_EQ(Commands(), (std::vector<UInt32>{kHICommandCancel, kCmdRadio, kHICommandOK}));
}

TEST_F(LoopTest, WindowDisposedByAHandlerEndsTheLoop) {
  long blocks = VPLiveAllocationCount();
  recorder_.special = kCmdOther;
  recorder_.onSpecial = [&] { DisposeWindow(window_); };
  Add({Press(kCmdOther), Press(kHICommandOK)});
  EXPECT_EQ(RunAppModalLoopForWindow(window_), errInvalidWindowRef);
  EXPECT_EQ(VPScriptCountPendingSteps(), 1u) << "the loop stopped at once";
  EXPECT_LT(VPLiveAllocationCount(), blocks) << "the window was freed";
  window_ = nullptr;
  VPScriptBegin(); // forget the step left over
}

// ---- A source a host registered ----

struct HostLog {
  std::vector<std::string> calls;
  ControlRef press = nullptr;
  OSStatus presentStatus = noErr;
};

const VPModalEventSource kHostSource = {
    kVPModalEventSourceVersion,
    nullptr,
    [](void *context, WindowRef) -> OSStatus {
      auto *log = static_cast<HostLog *>(context);
      log->calls.push_back("present");
      return log->presentStatus;
    },
    [](void *context, WindowRef, VPModalAction *action) -> OSStatus {
      auto *log = static_cast<HostLog *>(context);
      log->calls.push_back("next");
      action->kind = kVPModalActionPress;
      action->control = log->press;
      return noErr;
    },
    [](void *context, WindowRef) { static_cast<HostLog *>(context)->calls.push_back("refresh"); },
    [](void *context, WindowRef) { static_cast<HostLog *>(context)->calls.push_back("dismiss"); },
};

class HostSourceTest : public LoopTest {
protected:
  void SetUp() override {
    LoopTest::SetUp();
    VPScriptEnd(); // no script: the host's source serves the loop
    VPModalSetEventSource(nullptr);
  }
  void TearDown() override {
    VPModalSetEventSource(nullptr);
    LoopTest::TearDown();
  }
  ControlRef Button(UInt32 command) {
    for (ItemCount i = 1; i <= VPWindowCountControls(window_); ++i) {
      ControlRef c = VPWindowGetControlAtIndex(window_, i);
      UInt32 id = 0;
      if (GetControlCommandID(c, &id) == noErr && id == command) return c;
    }
    return nullptr;
  }
  HostLog log_;
};

TEST_F(HostSourceTest, RegisteredSourceAnswersTheDialog) {
  VPModalEventSource source = kHostSource;
  source.context = &log_;
  log_.press = Button(kCmdOther);
  recorder_.special = kCmdOther;
  recorder_.onSpecial = [&] { log_.press = Button(kHICommandOK); };
  ASSERT_EQ(VPModalSetEventSource(&source), noErr);
  EXPECT_EQ(RunAppModalLoopForWindow(window_), noErr);
  EXPECT_EQ(log_.calls,
            (std::vector<std::string>{"present", "next", "refresh", "next", "dismiss"}));
  EXPECT_EQ(Commands(), (std::vector<UInt32>{kCmdOther, kHICommandOK}));
}

TEST_F(HostSourceTest, FailedPresentationEndsTheLoop) {
  VPModalEventSource source = kHostSource;
  source.context = &log_;
  log_.presentStatus = ioErr;
  ASSERT_EQ(VPModalSetEventSource(&source), noErr);
  EXPECT_EQ(RunAppModalLoopForWindow(window_), ioErr);
  EXPECT_EQ(log_.calls, (std::vector<std::string>{"present", "dismiss"}));
}

TEST_F(HostSourceTest, ControlOfAnotherWindowIsRefused) {
  VPModalEventSource source = kHostSource;
  source.context = &log_;
  IBNibRef nib = nullptr;
  ASSERT_EQ(CreateNibReferenceWithCFBundle(bundle_.get(), CFSTR("Main"), &nib), noErr);
  WindowRef other = nullptr;
  ASSERT_EQ(CreateWindowFromNib(nib, CFSTR("Main"), &other), noErr);
  DisposeNibReference(nib);
  log_.press = VPWindowGetControlAtIndex(other, 3);
  ASSERT_EQ(VPModalSetEventSource(&source), noErr);
  EXPECT_EQ(RunAppModalLoopForWindow(window_), paramErr);
  EXPECT_TRUE(recorder_.seen.empty());
  DisposeWindow(other);
}

TEST_F(HostSourceTest, ScriptComesBeforeTheHost) {
  VPModalEventSource source = kHostSource;
  source.context = &log_;
  ASSERT_EQ(VPModalSetEventSource(&source), noErr);
  VPScriptBegin();
  Add({Press(kHICommandOK)});
  EXPECT_EQ(RunAppModalLoopForWindow(window_), noErr);
  EXPECT_TRUE(log_.calls.empty());
}

TEST_F(HostSourceTest, IncompleteSourceIsRefused) {
  VPModalEventSource source = kHostSource;
  source.nextAction = nullptr;
  EXPECT_EQ(VPModalSetEventSource(&source), paramErr);
  source = kHostSource;
  source.version = 7;
  EXPECT_EQ(VPModalSetEventSource(&source), paramErr);
}

// Without a script, a host's source or a terminal there is nobody to ask.
TEST_F(HostSourceTest, NoWayToAskTheUser) {
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setsid(); // no controlling terminal any more
    _exit(RunAppModalLoopForWindow(window_) == kVPModalNoEventSourceErr ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ---- The terminal renderer over a pseudo-terminal ----

// What one dialog in a child process on a pseudo-terminal came to.
struct TerminalRun {
  bool exited = false; // normally, with a report
  int signal = 0;      // the signal that ended the child, if one did
  OSStatus status = 1;
  UInt32 ack = 0;
  SInt32 group = -1;
  SInt32 checkbox = -1;
  bool restored = false;   // the child's terminal settings were as before
  bool handlerRan = false; // the child's own SIGINT handler was called
  bool cooked = false;     // seen from the master afterwards: canonical with echo
  std::string screen;      // everything the child drew
};

volatile sig_atomic_t gChildSigint = 0;

enum class Interrupt { kNone, kSigintWithHandler, kSigterm, kHangUp };

// Runs the "Preferences" dialog (1 s selected, checkbox off) in a child
// whose controlling terminal is a new pseudo-terminal; once it is drawn,
// types keys, then sends the interruption.
TerminalRun RunOnTerminal(CFBundleRef bundle, const std::string &keys, const char *locale,
                          const char *language, Interrupt interrupt) {
  TerminalRun run;
  int report[2];
  if (pipe(report) != 0) return run;
  int master = -1;
  struct winsize size = {30, 100, 0, 0};
  pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) return run;
  if (pid == 0) {
    close(report[0]);
    if (locale) std::setlocale(LC_ALL, locale);
    setenv("LANGUAGE", language, 1);
    if (interrupt == Interrupt::kSigintWithHandler) {
      struct sigaction sa {};
      sa.sa_handler = [](int) { gChildSigint = 1; };
      sigaction(SIGINT, &sa, nullptr);
    }
    IBNibRef nib = nullptr;
    WindowRef window = nullptr;
    if (CreateNibReferenceWithCFBundle(bundle, CFSTR("Preferences"), &nib) != noErr ||
        CreateWindowFromNib(nib, CFSTR("Preferences"), &window) != noErr)
      _exit(3);
    Recorder recorder;
    recorder.window = window;
    const EventTypeSpec commandEvent = {kEventClassCommand, kEventCommandProcess};
    InstallEventHandler(GetWindowEventTarget(window), NewEventHandlerUPP(RecordCommand), 1,
                        &commandEvent, &recorder, nullptr);
    ControlRef group = nullptr, checkbox = nullptr;
    GetControlByID(window, &kRadioGroupID, &group);
    GetControlByID(window, &kCheckboxID, &checkbox);
    SetControl32BitValue(group, 4);
    RepositionWindow(window, nullptr, kWindowAlertPositionOnMainScreen);
    struct termios before {
    }, after{};
    tcgetattr(0, &before);
    OSStatus status = RunAppModalLoopForWindow(window);
    tcgetattr(0, &after);
    bool restored = before.c_lflag == after.c_lflag && before.c_iflag == after.c_iflag;
    UInt32 ack = recorder.seen.empty() ? 0 : recorder.seen.back().command;
    char line[160];
    int n = std::snprintf(line, sizeof line, "%d %u %d %d %d %d\n", static_cast<int>(status),
                          static_cast<unsigned>(ack), static_cast<int>(GetControl32BitValue(group)),
                          static_cast<int>(GetControl32BitValue(checkbox)), restored ? 1 : 0,
                          gChildSigint ? 1 : 0);
    ssize_t ignored = write(report[1], line, static_cast<size_t>(n));
    (void)ignored;
    _exit(0);
  }
  close(report[1]);

  // Reads what the child draws until `until` appears (or the child is done).
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool open = true;
  auto pump = [&](const char *until) {
    while (open && std::chrono::steady_clock::now() < deadline) {
      if (until && run.screen.find(until) != std::string::npos) return true;
      struct pollfd pfd = {master, POLLIN, 0};
      if (poll(&pfd, 1, 100) <= 0) continue;
      char buf[4096];
      ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0)
        open = false; // EIO: the child closed the terminal
      else
        run.screen.append(buf, static_cast<size_t>(n));
    }
    return until && run.screen.find(until) != std::string::npos;
  };
  bool drawn = pump("OK ]");
  if (drawn) {
    ssize_t ignored = write(master, keys.data(), keys.size());
    (void)ignored;
    if (interrupt == Interrupt::kSigintWithHandler) kill(pid, SIGINT);
    if (interrupt == Interrupt::kSigterm) kill(pid, SIGTERM);
    if (interrupt == Interrupt::kHangUp) {
      close(master);
      open = false;
    }
  }
  pump(nullptr);
  int status = 0;
  if (!drawn || std::chrono::steady_clock::now() >= deadline) kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  if (interrupt != Interrupt::kHangUp) {
    struct termios seen {};
    if (tcgetattr(master, &seen) == 0)
      run.cooked = (seen.c_lflag & (ICANON | ECHO)) == (ICANON | ECHO);
    close(master);
  }
  if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  char text[160] = {};
  ssize_t n = read(report[0], text, sizeof text - 1);
  close(report[0]);
  int st = 0, group = 0, checkbox = 0, restored = 0, handler = 0;
  unsigned ack = 0;
  if (n > 0 && std::sscanf(text, "%d %u %d %d %d %d", &st, &ack, &group, &checkbox, &restored,
                           &handler) == 6) {
    run.exited = true;
    run.status = st;
    run.ack = ack;
    run.group = group;
    run.checkbox = checkbox;
    run.restored = restored != 0;
    run.handlerRan = handler != 0;
  }
  return run;
}

struct KeysCase {
  const char *name;
  std::string keys;
  const char *locale;
  const char *language;
  UInt32 ack;
  SInt32 group;
  SInt32 checkbox;
  std::vector<std::string> shown; // texts the drawing holds
};
// Failures name the row, not its bytes.
void PrintTo(const KeysCase &row, std::ostream *os) {
  *os << row.name;
}

class TerminalKeysTest : public ::testing::TestWithParam<KeysCase> {
protected:
  static void SetUpTestSuite() {
    bundle_ = new TestBundle(NextIdentifier(), dialog_test::PreferencesResources());
  }
  static void TearDownTestSuite() {
    delete bundle_;
    bundle_ = nullptr;
  }
  static TestBundle *bundle_;
};
TestBundle *TerminalKeysTest::bundle_ = nullptr;

TEST_P(TerminalKeysTest, KeysChooseAndEnd) {
  const KeysCase &c = GetParam();
  TerminalRun run = RunOnTerminal(bundle_->get(), c.keys, c.locale, c.language, Interrupt::kNone);
  ASSERT_TRUE(run.exited) << run.screen;
  EXPECT_EQ(run.status, noErr);
  EXPECT_EQ(run.ack, c.ack);
  EXPECT_EQ(run.group, c.group);
  EXPECT_EQ(run.checkbox, c.checkbox);
  EXPECT_TRUE(run.restored) << "raw mode left on";
  EXPECT_TRUE(run.cooked);
  for (const std::string &text : c.shown)
    EXPECT_NE(run.screen.find(text), std::string::npos) << "not drawn: " << text;
  EXPECT_NE(run.screen.find("\x1b[?1049l"), std::string::npos) << "alternate screen left on";
}

const std::string kDown = "\x1b[B", kUp = "\x1b[A", kShiftTab = "\x1b[Z", kEsc = "\x1b";

INSTANTIATE_TEST_SUITE_P(
    Dialog, TerminalKeysTest,
    ::testing::ValuesIn(std::vector<KeysCase>{
        {"ChooseLimitAndModeThenReturn",
         kDown + kDown + " \t \r",
         nullptr,
         "en",
         kHICommandOK,
         6,
         1,
         {"Time Limit", "(*) 1 s", "( ) 0.1 s", "[ ] Measure only when the submenu opens",
          "[ OK ]  [ Cancel ]", "(*) 5 s", "[x] Measure"}},
        {"EscapeCancels", kDown + " " + kEsc, nullptr, "en", kHICommandCancel, 5, 0, {}},
        {"CtrlCCancels", "\x03", nullptr, "en", kHICommandCancel, 4, 0, {}},
        {"ShiftTabWrapsToTheLastButton",
         kShiftTab + "\r",
         nullptr,
         "en",
         kHICommandCancel,
         4,
         0,
         {}},
        {"SpacePressesTheFocusedButton", "\t\t ", nullptr, "en", kHICommandOK, 4, 0, {}},
        {"ApplicationCursorKeys", "\x1bOB \r", nullptr, "en", kHICommandOK, 5, 0, {}},
        {"OtherSequencesAreIgnored",
         "\x1b[3~\x1b[15~" + kUp + " \r",
         nullptr,
         "en",
         kHICommandOK,
         3,
         0,
         {}},
        {"GermanInAUTF8Terminal",
         "\r",
         "C.UTF-8",
         "de",
         kHICommandOK,
         4,
         0,
         {"Zeitlimit", "(\xE2\x80\xA2) 1 s", "( ) 0,1 s", "[ OK ]  [ Abbrechen ]",
          "\xE2\x94\x8C\xE2\x94\x80 Zeitlimit "}},
    }),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(TerminalKeysTest, SigintEndsTheLoopAndReachesTheProcessHandler) {
  TerminalRun run = RunOnTerminal(bundle_->get(), "", nullptr, "en", Interrupt::kSigintWithHandler);
  ASSERT_TRUE(run.exited) << run.screen;
  EXPECT_EQ(run.status, userCanceledErr);
  EXPECT_TRUE(run.restored);
  EXPECT_TRUE(run.handlerRan);
  EXPECT_EQ(run.ack, 0u);
}

TEST_F(TerminalKeysTest, SigtermRestoresTheTerminalBeforeItEndsTheProcess) {
  TerminalRun run = RunOnTerminal(bundle_->get(), "", nullptr, "en", Interrupt::kSigterm);
  EXPECT_FALSE(run.exited);
  EXPECT_EQ(run.signal, SIGTERM);
  EXPECT_TRUE(run.cooked) << "the terminal stayed in raw mode";
  EXPECT_NE(run.screen.find("\x1b[?1049l"), std::string::npos);
}

TEST_F(TerminalKeysTest, HangUpEndsTheDialog) {
  TerminalRun run = RunOnTerminal(bundle_->get(), "", nullptr, "en", Interrupt::kHangUp);
  // The hang-up's SIGHUP ends the child as it would without a dialog; what
  // matters is that the dialog does not wait for keys that never come.
  EXPECT_TRUE(run.exited ? run.status == userCanceledErr : run.signal == SIGHUP)
      << "exited " << run.exited << " status " << run.status << " signal " << run.signal;
}

// ---- Allocation failures ----

TEST(DialogSweep, OpeningAFileAndMakingItsWindow) {
  TestBundle bundle(NextIdentifier(), dialog_test::PreferencesResources());
  vantlow_test::SweepAllocationFailures(
      [&](long n) {
        IBNibRef nib = nullptr;
        WindowRef window = nullptr;
        OSStatus err = CreateNibReferenceWithCFBundle(bundle.get(), CFSTR("Preferences"), &nib);
        if (err == noErr) {
          err = CreateWindowFromNib(nib, CFSTR("Preferences"), &window);
          DisposeNibReference(nib);
        }
        EXPECT_TRUE(err == noErr || err == memFullErr) << err << " at allocation " << n;
        EXPECT_EQ(err == noErr, window != nullptr);
        DisposeWindow(window);
        VPBundleForgetCaches(bundle.get());
      },
      false);
}

TEST_F(LoopTest, SweepThroughALoop) {
  recorder_.seen.reserve(8); // the handler must not allocate during the sweep
  vantlow_test::SweepAllocationFailures(
      [&](long n) {
        VPScriptBegin();
        Add({Set(kGroup, 2), Press(kCmdOther), Press(kHICommandOK)});
        recorder_.seen.clear();
        OSStatus err = RunAppModalLoopForWindow(window_);
        EXPECT_TRUE(err == noErr || err == memFullErr) << err << " at allocation " << n;
        if (err == noErr) {
          EXPECT_EQ(Commands().back(), kHICommandOK);
        }
      },
      false);
}

} // namespace
