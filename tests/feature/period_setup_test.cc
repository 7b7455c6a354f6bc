// The period setup: the mapping between limits and radio buttons, what the
// dialog shows for the record's settings, what OK and Cancel write to the
// record, the frame's deferred-mode flag and the preferences file (and what
// they leave alone), broken interface files, saves that fail, another
// process reading the stored choice, and an allocation sweep. The dialog is
// the project's own "Preferences" file in a bundle registered under the
// plug-in's identifier, answered by the scripted user; the instance is a
// real frame instance over the recording fake of the feature layer.
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/dialog_testing.h>
#include <vantlow/platform_testing.h>

#include "dialog_fixture.h"
#include "fake_feature.h"
#include "frame_int.h"
#include "period_setup.h"
#include "plugin_identity.h"
#include "test_support.h"

namespace {

using dialog_test::kCheckboxID;
using dialog_test::kRadioGroupID;
using dialog_test::ScopedEnv;
using dialog_test::ScriptedUser;
using dialog_test::TestBundle;

// ---- The limit table ----

TEST(PeriodSetup, TicksAndButtonsMapBothWays) {
  struct Row {
    SInt32 index;
    SInt32 ticks;
  };
  const Row table[] = {{1, 6},   {2, 12},  {3, 30},   {4, 60}, {5, 120},
                       {6, 300}, {7, 600}, {8, 1200}, {9, -1}};
  for (const Row &row : table) {
    EXPECT_EQ(TicksToIndex(row.ticks), row.index) << row.ticks << " ticks";
    EXPECT_EQ(IndexToTicks(row.index), row.ticks) << "button " << row.index;
  }
}

TEST(PeriodSetup, ValuesOutsideTheTableMapToOneSecond) {
  for (SInt32 ticks : {0, 45, 61, -2, 1201, INT32_MAX, INT32_MIN})
    EXPECT_EQ(TicksToIndex(ticks), 4) << ticks << " ticks";
  for (SInt32 index : {0, 10, -1, INT32_MAX, INT32_MIN})
    EXPECT_EQ(IndexToTicks(index), 60) << "button " << index;
}

// ---- The dialog over the real interface file ----

// The plug-in's bundle for the whole run: the registry keeps the first
// bundle registered under an identifier, so it is made once.
TestBundle &PluginBundle() {
  static TestBundle *bundle =
      new TestBundle(VANTLOW_BUNDLE_IDENTIFIER, dialog_test::PreferencesResources());
  return *bundle;
}

const char kLimitKey[] = "FileSize-LimitTicks";
const char kLazyKey[] = "FileSize-LazyCalc";

// The values a fresh process finds in the preferences (nullopt: absent).
struct Stored {
  std::optional<long> limit;
  std::optional<bool> lazy;
};

Stored ReadStored() {
  VPPreferencesResetForTesting(); // read the file again, as a new process would
  Stored stored;
  CFPropertyListRef limit =
      CFPreferencesCopyAppValue(CFSTR("FileSize-LimitTicks"), kMyBundleIdentifier);
  if (limit) {
    long value = 0;
    if (CFGetTypeID(limit) == CFNumberGetTypeID() &&
        CFNumberGetValue(static_cast<CFNumberRef>(limit), kCFNumberLongType, &value))
      stored.limit = value;
    CFRelease(limit);
  }
  CFPropertyListRef lazy =
      CFPreferencesCopyAppValue(CFSTR("FileSize-LazyCalc"), kMyBundleIdentifier);
  if (lazy) {
    if (CFGetTypeID(lazy) == CFBooleanGetTypeID())
      stored.lazy = CFBooleanGetValue(static_cast<CFBooleanRef>(lazy));
    CFRelease(lazy);
  }
  return stored;
}

// What the dialog showed when it opened.
struct Shown {
  SInt32 group = -1;
  SInt32 checkbox = -1;
};

void NoteShown(void *context, WindowRef window, UInt32 moment) {
  if (moment != kVPScriptShown) return;
  auto *shown = static_cast<Shown *>(context);
  ControlRef control = nullptr;
  if (GetControlByID(window, &kRadioGroupID, &control) == noErr)
    shown->group = GetControl32BitValue(control);
  if (GetControlByID(window, &kCheckboxID, &control) == noErr)
    shown->checkbox = GetControl32BitValue(control);
}

// Each test: its own preferences folder, a fresh preferences cache, a
// record and a frame instance with the given settings, and a scripted user.
class PeriodSetupTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NE(PluginBundle().get(), nullptr);
    VPPreferencesResetForTesting();
    VPSyscallReset();
    instance_ = AllocMyCMXType();
    ASSERT_NE(instance_, nullptr);
    VPScriptSetObserver(NoteShown, &shown_);
  }
  void TearDown() override {
    DeallocMyCMXType(instance_);
    fake_feature::Reset();
    VPSyscallReset();
    VPPreferencesResetForTesting();
  }
  void Start(SInt32 limit, bool lazy) {
    data_.limitTicks = limit;
    data_.lazyCalc = lazy;
    MyCMXTypeSetAllowInstallHandler(instance_, lazy);
  }
  std::string PrefsFile() const {
    return config_.path() + "/vantlow/" VANTLOW_BUNDLE_IDENTIFIER ".plist";
  }

  vantlow_test::TempDir config_;
  ScopedEnv xdg_{"XDG_CONFIG_HOME", config_.path()};
  ScriptedUser user_;
  MyFileSizeData data_ = {};
  MyCMXType *instance_ = nullptr;
  Shown shown_;
};

struct Step {
  enum Kind { kGroup, kCheckbox, kPress, kFail } kind;
  SInt32 value;
};
Step Group(SInt32 index) {
  return {Step::kGroup, index};
}
Step Checkbox(SInt32 value) {
  return {Step::kCheckbox, value};
}
Step Press(UInt32 command) {
  return {Step::kPress, static_cast<SInt32>(command)};
}
Step FailWith(OSStatus status) {
  return {Step::kFail, status};
}

void AddSteps(const std::vector<Step> &steps) {
  for (const Step &s : steps) {
    switch (s.kind) {
    case Step::kGroup:
      ASSERT_EQ(VPScriptAddSetValue(kRadioGroupID, s.value), noErr);
      break;
    case Step::kCheckbox:
      ASSERT_EQ(VPScriptAddSetValue(kCheckboxID, s.value), noErr);
      break;
    case Step::kPress:
      ASSERT_EQ(VPScriptAddPress(static_cast<UInt32>(s.value)), noErr);
      break;
    case Step::kFail:
      ASSERT_EQ(VPScriptAddFail(s.value), noErr);
      break;
    }
  }
  ASSERT_EQ(VPScriptAddExpectQuit(), noErr);
}

struct SetupCase {
  const char *name;
  SInt32 limit; // the record's settings before
  bool lazy;
  std::vector<Step> steps;
  OSStatus result;
  Shown shown; // radio button and checkbox as the dialog opened
  SInt32 limitAfter;
  bool lazyAfter; // the record's and the instance's
  Stored stored;  // what the preferences file holds afterwards
  long saves;     // files written (renames)
};
// Failures name the row, not its bytes.
void PrintTo(const SetupCase &row, std::ostream *os) {
  *os << row.name;
}

class PeriodSetupCaseTest : public PeriodSetupTest,
                            public ::testing::WithParamInterface<SetupCase> {};

TEST_P(PeriodSetupCaseTest, AcceptedChoicesGoWhereTheyBelong) {
  const SetupCase &c = GetParam();
  Start(c.limit, c.lazy);
  AddSteps(c.steps);
  EXPECT_EQ(MyFileSizeHandleSetupPeriod(&data_, instance_), c.result);
  EXPECT_EQ(ScriptedUser::Failures(), "");
  EXPECT_EQ(shown_.group, c.shown.group);
  EXPECT_EQ(shown_.checkbox, c.shown.checkbox);
  EXPECT_EQ(data_.limitTicks, c.limitAfter);
  EXPECT_EQ(data_.lazyCalc, c.lazyAfter);
  EXPECT_EQ(MyCMXTypeAllowInstallHandler(instance_), c.lazyAfter);
  EXPECT_EQ(VPSyscallCount("renameat"), c.saves);
  if (!c.stored.limit && !c.stored.lazy) {
    EXPECT_FALSE(std::filesystem::exists(PrefsFile())) << "nothing is written";
  }
  Stored stored = ReadStored();
  EXPECT_EQ(stored.limit, c.stored.limit);
  EXPECT_EQ(stored.lazy, c.stored.lazy);
}

INSTANTIATE_TEST_SUITE_P(PeriodSetup, PeriodSetupCaseTest,
                         ::testing::ValuesIn(std::vector<SetupCase>{
                             {"CancelWritesNothing",
                              60,
                              false,
                              {Group(9), Checkbox(1), Press(kHICommandCancel)},
                              noErr,
                              {4, 0},
                              60,
                              false,
                              {},
                              0},
                             {"OKWithoutChangeWritesNothing",
                              60,
                              false,
                              {Press(kHICommandOK)},
                              noErr,
                              {4, 0},
                              60,
                              false,
                              {},
                              0},
                             {"OnlyTheCheckboxChanged",
                              60,
                              false,
                              {Checkbox(1), Press(kHICommandOK)},
                              noErr,
                              {4, 0},
                              60,
                              true,
                              {std::nullopt, true},
                              1},
                             {"DeferredModeTurnedOff",
                              300,
                              true,
                              {Checkbox(0), Press(kHICommandOK)},
                              noErr,
                              {6, 1},
                              300,
                              false,
                              {std::nullopt, false},
                              1},
                             {"LimitOutsideTheTableShowsAsOneSecond",
                              45,
                              false,
                              {Press(kHICommandOK)},
                              noErr,
                              {4, 0},
                              60,
                              false,
                              {60, std::nullopt},
                              1},
                             {"NoButtonSelectedReadsAsOneSecond",
                              120,
                              false,
                              {Group(0), Press(kHICommandOK)},
                              noErr,
                              {5, 0},
                              60,
                              false,
                              {60, std::nullopt},
                              1},
                             {"NoLimitIsTheNinthButton",
                              -1,
                              true,
                              {Press(kHICommandOK)},
                              noErr,
                              {9, 1},
                              -1,
                              true,
                              {},
                              0},
                             {"NoLimitIsStoredAsMinusOne",
                              60,
                              false,
                              {Group(9), Press(kHICommandOK)},
                              noErr,
                              {4, 0},
                              -1,
                              false,
                              {-1, std::nullopt},
                              1},
                             {"BothChangedAreSavedOneAfterTheOther",
                              60,
                              false,
                              {Group(2), Checkbox(1), Press(kHICommandOK)},
                              noErr,
                              {4, 0},
                              12,
                              true,
                              {12, true},
                              2},
                             {"FailedLoopChangesNothing",
                              60,
                              false,
                              {Group(9), Checkbox(1), FailWith(ioErr)},
                              ioErr,
                              {4, 0},
                              60,
                              false,
                              {},
                              0},
                         }),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(PeriodSetupTest, FailedSaveIsReportedAndTheChoiceStillApplies) {
  Start(60, false);
  AddSteps({Group(5), Checkbox(1), Press(kHICommandOK)});
  ASSERT_TRUE(VPSyscallFail("renameat", 1, EIO, true, nullptr));
  EXPECT_EQ(MyFileSizeHandleSetupPeriod(&data_, instance_), ioErr);
  EXPECT_EQ(data_.limitTicks, 120);
  EXPECT_TRUE(data_.lazyCalc);
  EXPECT_TRUE(MyCMXTypeAllowInstallHandler(instance_));
  VPSyscallReset();
  Stored stored = ReadStored();
  EXPECT_EQ(stored.limit, std::nullopt) << "nothing reached the disk";
  EXPECT_EQ(stored.lazy, std::nullopt);
}

TEST_F(PeriodSetupTest, NullArguments) {
  EXPECT_EQ(MyFileSizeHandleSetupPeriod(nullptr, instance_), paramErr);
  SInt32 limit = 60;
  Boolean deferred = false, accepted = false;
  EXPECT_EQ(DoPrefsDialog(nullptr, &deferred, &accepted), paramErr);
  EXPECT_EQ(DoPrefsDialog(&limit, nullptr, &accepted), paramErr);
  EXPECT_EQ(DoPrefsDialog(&limit, &deferred, nullptr), paramErr);
  EXPECT_EQ(SetupDialog(nullptr, 60, false), paramErr);
  EXPECT_EQ(GetNewValue(nullptr, &limit, &deferred), paramErr);
  EXPECT_EQ(VPScriptCountPendingSteps(), 0u) << "no dialog was shown";
}

// ---- Broken interface files ----

struct BrokenCase {
  const char *name;
  std::optional<std::string> file; // nullopt: removed
  OSStatus result;
};
// Failures name the row, not its bytes.
void PrintTo(const BrokenCase &row, std::ostream *os) {
  *os << row.name;
}

class BrokenFileTest : public PeriodSetupTest, public ::testing::WithParamInterface<BrokenCase> {
protected:
  void TearDown() override {
    dialog_test::TestBundle &bundle = PluginBundle();
    std::string path = bundle.resources() + "/Preferences.dialog.plist";
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        << dialog_test::SourceResource("Preferences.dialog.plist");
    PeriodSetupTest::TearDown();
  }
};

TEST_P(BrokenFileTest, ErrorChangesNothing) {
  const BrokenCase &c = GetParam();
  std::string path = PluginBundle().resources() + "/Preferences.dialog.plist";
  if (c.file) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << *c.file;
  } else {
    std::filesystem::remove(path);
  }
  Start(60, false);
  ASSERT_EQ(VPScriptAddSetValue(kRadioGroupID, 9), noErr);
  ASSERT_EQ(VPScriptAddPress(kHICommandOK), noErr);
  EXPECT_EQ(MyFileSizeHandleSetupPeriod(&data_, instance_), c.result);
  EXPECT_EQ(data_.limitTicks, 60);
  EXPECT_FALSE(data_.lazyCalc);
  EXPECT_EQ(VPScriptCountPendingSteps(), 2u) << "no dialog was shown";
  EXPECT_FALSE(std::filesystem::exists(PrefsFile()));
}

std::string WithoutCheckbox() {
  std::string file = dialog_test::SourceResource("Preferences.dialog.plist");
  std::string::size_type id = file.find("<integer>4</integer>");
  if (id != std::string::npos) file.replace(id, 20, "<integer>5</integer>");
  return file;
}

INSTANTIATE_TEST_SUITE_P(
    PeriodSetup, BrokenFileTest,
    ::testing::ValuesIn(std::vector<BrokenCase>{
        {"MissingFile", std::nullopt, kIBCarbonRuntimeCantFindNibFile},
        {"MalformedFile", std::string("<plist><dict><key>Windows</key></plist>"),
         errCorruptWindowDescription},
        {"MissingWindow",
         std::string("<plist version=\"1.0\"><dict><key>Windows</key><dict/></dict></plist>"),
         kIBCarbonRuntimeCantFindObject},
        {"MissingCheckbox", WithoutCheckbox(), errUnknownControl},
    }),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(PeriodSetupTest, ValuesAreReadUntilAControlIsMissing) {
  // A window with the radio group but without the checkbox: the limit is
  // written before the checkbox fails.
  TestBundle bundle("org.vantlow.test.period-setup.partial",
                    {{"Preferences.dialog.plist", WithoutCheckbox()}});
  MyModalDialog *dialog = nullptr;
  ASSERT_EQ(MyModalDialogCreate(bundle.get(), CFSTR("Preferences"), CFSTR("Preferences"), &dialog),
            noErr);
  EXPECT_EQ(SetupDialog(dialog, 300, true), errUnknownControl);
  SInt32 index = 0;
  EXPECT_EQ(MyModalDialogGetControlValue(dialog, &kRadioGroupID, &index), noErr);
  EXPECT_EQ(index, 6) << "the group was set before the checkbox failed";
  SInt32 limit = 0;
  Boolean deferred = 7;
  EXPECT_EQ(GetNewValue(dialog, &limit, &deferred), errUnknownControl);
  EXPECT_EQ(limit, 300);
  EXPECT_EQ(deferred, 7) << "left alone";
  MyModalDialogDispose(dialog);
}

// ---- Another process ----

TEST_F(PeriodSetupTest, AnotherProcessReadsTheStoredChoice) {
  Start(60, false);
  std::fflush(nullptr);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    VPScriptBegin();
    VPScriptAddSetValue(kRadioGroupID, 9);
    VPScriptAddSetValue(kCheckboxID, 1);
    VPScriptAddPress(kHICommandOK);
    _exit(MyFileSizeHandleSetupPeriod(&data_, instance_) == noErr && data_.limitTicks == -1 ? 0
                                                                                            : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  // This process has read nothing yet; it finds what the other one stored.
  EXPECT_EQ(data_.limitTicks, 60);
  Stored stored = ReadStored();
  EXPECT_EQ(stored.limit, -1);
  EXPECT_EQ(stored.lazy, true);
  Boolean valid = false;
  EXPECT_EQ(
      CFPreferencesGetAppIntegerValue(CFSTR("FileSize-LimitTicks"), kMyBundleIdentifier, &valid),
      -1);
  EXPECT_TRUE(valid);
}

// ---- Allocation failures ----

TEST_F(PeriodSetupTest, SweepThroughAnAcceptedChoice) {
  // Fill the bundle's caches first: they last as long as the bundle.
  Start(60, false);
  AddSteps({Press(kHICommandCancel)});
  ASSERT_EQ(MyFileSizeHandleSetupPeriod(&data_, instance_), noErr);
  VPScriptSetObserver(nullptr, nullptr);
  const std::string prefs = PrefsFile(); // nothing may allocate in the sweep
  vantlow_test::SweepAllocationFailures(
      [&](long n) {
        VPScriptBegin();
        VPScriptAddSetValue(kRadioGroupID, 2);
        VPScriptAddSetValue(kCheckboxID, 1);
        VPScriptAddPress(kHICommandOK);
        Start(60, false);
        OSStatus err = MyFileSizeHandleSetupPeriod(&data_, instance_);
        // paramErr: the dialog's handler could not be installed; memFullErr
        // or ioErr after OK: the choice applies but could not be saved.
        EXPECT_TRUE(err == noErr || err == memFullErr || err == paramErr || err == ioErr)
            << err << " at allocation " << n;
        bool applied = data_.limitTicks == 12 && data_.lazyCalc;
        bool untouched = data_.limitTicks == 60 && !data_.lazyCalc;
        EXPECT_TRUE(applied || untouched) << "half a choice at allocation " << n;
        if (err == noErr || err == ioErr) {
          EXPECT_TRUE(applied) << "at allocation " << n;
        }
        if (err == paramErr) {
          EXPECT_TRUE(untouched) << "at allocation " << n;
        }
        EXPECT_EQ(MyCMXTypeAllowInstallHandler(instance_), data_.lazyCalc);
        VPPreferencesResetForTesting();
        unlink(prefs.c_str());
      },
      false);
}

} // namespace
