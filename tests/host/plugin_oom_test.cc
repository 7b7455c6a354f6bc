// Out-of-memory sweeps over every entry point of the plug-in, through the
// bundle built with the allocation wraps and loaded by the host's loader:
// the factory with QueryInterface, ExamineContext in immediate and deferred
// mode, the populate handler opening the deferred submenu, HandleSelection
// for every command (the period setup answered by a script), and the last
// Release. Everything around the call under test runs without failures;
// only the call itself sees allocation n fail (once, and from n on).
//
// Accepted results, per entry point:
//   factory                  an instance, or null (nothing registered)
//   QueryInterface           S_OK, or E_NOINTERFACE with null stored
//   ExamineContext           noErr, memFullErr, kMyNilPointerErr ('NilP': a
//                            needed object could not be had), paramErr (the
//                            contained-item exclusion answers paramErr when
//                            it cannot make an item's path)
//   populate (host's view)   noErr, eventNotHandledErr (the handler failed),
//                            memFullErr (the host could not make the event)
//   HandleSelection          noErr, memFullErr, kMyNilPointerErr; for the
//                            period setup also userCanceledErr, paramErr
//                            (the dialog's handler installed with a UPP
//                            that could not be made) and ioErr (the new
//                            settings could not be saved)
//   Release                  the count (0 for the last one)
// Each run must also leave nothing behind: no platform object or block, no
// block inside the bundle, no wrapped test block, no handler, no instance.
#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/carbon_testing.h>
#include <vantlow/dialog_testing.h>
#include <vantlow/platform_testing.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bundle_fixture.h"
#include "file_size_data.h"
#include "named_rows.h"
#include "plugin_identity.h"
#include "status_codes.h"

namespace {

namespace fs = std::filesystem;
using namespace vantlow::host;
using namespace vantlow_test;
using vantlow_test::PrintTo; // found beside the rows, for GoogleTest

const fs::path kWrappedPlugin = fs::path(VANTLOW_WRAPPED_PLUGIN_DIR) / "Vantlow.plugin";
const std::string kDummy = "Dummy";
const std::string kSentinel = "on the clipboard before";
const ControlID kLimitGroup = {0x50726673 /* 'Prfs' */, 3};
const ControlID kDeferredBox = {0x50726673, 4};

bool IsIdentifierItem(const MenuItem &item) {
  return item.text.rfind("**", 0) == 0 && item.text.size() > 4 &&
         item.text.compare(item.text.size() - 2, 2, "**") == 0 && item.command == 0 &&
         !item.hasSubmenu;
}

bool OneOf(OSStatus status, std::initializer_list<OSStatus> accepted) {
  for (OSStatus a : accepted)
    if (status == a) return true;
  return false;
}

class PluginOomTest : public BundleHostTest {
protected:
  void SetUp() override {
    BundleHostTest::SetUp();
    if (HasFatalFailure()) return;
    sel_ = tree_.MakeDir("sel");
    tree_.MakeFile("sel/a.txt", std::string(100, 'a'));
    tree_.MakeFile("sel/.dot", std::string(10, 'd'));
    tree_.MakeFile("sel/sub/c.bin", std::string(5000, 'c'));
    tree_.MakeFile("sel/locked/inside.txt", "not counted when locked");
    ASSERT_EQ(MakeContext({sel_}, &context_, nullptr), noErr);
  }

  void TearDown() override {
    VPScriptEnd();
    BundleHostTest::TearDown();
  }

  void WritePreferences(bool deferred, int limitTicks) {
    BundleHostTest::WritePreferences(
        std::string("<key>FileSize-LazyCalc</key>") + (deferred ? "<true/>" : "<false/>") +
        "<key>FileSize-LimitTicks</key><integer>" + std::to_string(limitTicks) + "</integer>");
  }

  // Some folder of the tree cannot be read (as the kernel would say for a
  // folder without rights, which root does not get).
  void LockFolder(bool locked) {
    VPSyscallReset();
    if (locked) {
      ASSERT_TRUE(VPSyscallFail("faccessat", 1, EACCES, true, "locked"));
    }
  }

  std::optional<LoadedPlugin> Load() {
    std::optional<LoadedPlugin> plugin = LoadQuietly(kWrappedPlugin);
    if (plugin && !blocks_) {
      blocks_ = LiveBlocksOf(*plugin);
      factory_ = reinterpret_cast<VPContextualMenuFactoryFunction>(
          CFBundleGetFunctionPointerForName(plugin->bundle(), CFSTR("MyCMMFactory")));
    }
    return plugin;
  }

  long BundleBlocks() const { return blocks_ ? blocks_() : 0; }

  // Runs the whole sweep of one entry point, once with one allocation
  // failing and once with every allocation from n on failing. run(n,
  // repeat) sets up without failures, arms the injector for the call under
  // test through Armed(), and tears down; the bundle's live blocks and the
  // installed handlers are compared around it here.
  void SweepBoth(const std::function<void(long n, bool repeat)> &run, bool allocates = true) {
    // A run without failures first, so that what lives for the whole process
    // (the loaded executable, the pool stack, the strings table, the
    // interface file, the scrap folder) exists before the counts are taken.
    run(0, false);
    VPPreferencesResetForTesting();
    ASSERT_NE(blocks_, nullptr);
    for (bool repeat : {false, true}) {
      SCOPED_TRACE(repeat ? "from n on" : "once");
      const int runs = SweepAllocationFailures(
          [&](long n) {
            VPFaultDisarm();
            const long before = BundleBlocks();
            run(n, repeat);
            VPFaultDisarm();
            // Preferences read during the run are held in memory; forget
            // them so that every run starts and ends in the same state.
            VPPreferencesResetForTesting();
            EXPECT_EQ(BundleBlocks(), before)
                << "blocks leaked inside the bundle, allocation " << n;
            EXPECT_EQ(VPEventTargetCountHandlers(GetApplicationEventTarget()), handlers_)
                << "a handler was left installed, allocation " << n;
            EXPECT_EQ(VPPlugInGetInstanceCount(kMyFactoryID), 0)
                << "an instance outlived its last Release, allocation " << n;
          },
          repeat);
      if (allocates) {
        EXPECT_GT(runs, 1) << "the call under test allocated nothing";
      }
      if (HasFailure()) return;
    }
  }

  // Calls fn with the injector armed for allocation n (not at all for n 0).
  // Arming resets the count of failed allocations, which the sweep reads
  // after the run, so that count tells only about fn. What the plug-in
  // prints meanwhile goes to *log (when given), not to the test's output.
  template <typename Fn>
  static void Armed(long n, bool repeat, Fn &&fn, std::string *log = nullptr) {
    StdoutCapture capture;
    if (n > 0) VPFaultArm(n, repeat);
    fn();
    VPFaultDisarm();
    const std::string printed = capture.Take();
    if (log) *log = printed;
  }

  // The closed submenu of an ExamineContext without failures.
  std::vector<MenuItem> ReferenceSubmenu() {
    std::optional<LoadedPlugin> plugin = Load();
    AEDescHolder commands;
    EXPECT_EQ(ExamineQuietly(*plugin, context_.get(), &commands), noErr);
    std::vector<MenuItem> items = CommandListItems(commands);
    plugin->PostMenuCleanup();
    EXPECT_EQ(items.size(), 1u) << Describe(items);
    return items.empty() ? std::vector<MenuItem>{} : items[0].submenu;
  }

  void PutSentinelOnScrap() {
    ASSERT_EQ(ClearCurrentScrap(), noErr);
    ScrapRef scrap = nullptr;
    ASSERT_EQ(GetCurrentScrap(&scrap), noErr);
    ASSERT_EQ(PutScrapFlavor(scrap, kScrapFlavorTypeText, kScrapFlavorMaskNone,
                             static_cast<Size>(kSentinel.size()), kSentinel.data()),
              noErr);
  }

  TempDir tree_;
  std::string sel_;
  AEDescHolder context_;
  long (*blocks_)() = nullptr;
  VPContextualMenuFactoryFunction factory_ = nullptr;
};

// ---- The factory and QueryInterface ----

struct QueryCase {
  const char *name;
  bool contextualMenuInterface; // else IUnknown
};

class QuerySweep : public PluginOomTest, public ::testing::WithParamInterface<QueryCase> {};

TEST_P(QuerySweep, FactoryAndQueryGiveAnInterfaceOrNothing) {
  const QueryCase &c = GetParam();
  WritePreferences(true, 120);
  { Load(); } // the bundle is loaded once and stays
  ASSERT_NE(factory_, nullptr);
  const CFUUIDRef type = kContextualMenuTypeID;
  const CFUUIDBytes interfaceID =
      CFUUIDGetUUIDBytes(c.contextualMenuInterface ? kContextualMenuInterfaceID : IUnknownUUID);
  SweepBoth([&](long n, bool repeat) {
    void *instance = nullptr;
    void *interface = reinterpret_cast<void *>(1);
    HRESULT result = E_NOINTERFACE;
    Armed(n, repeat, [&] {
      instance = factory_(nullptr, type);
      if (instance) {
        auto table = *static_cast<IUnknownVTbl **>(instance);
        result = table->QueryInterface(instance, interfaceID, &interface);
      }
    });
    if (!instance) {
      EXPECT_EQ(VPPlugInGetInstanceCount(kMyFactoryID), 0) << "a failed factory registered " << n;
      return;
    }
    auto table = *static_cast<IUnknownVTbl **>(instance);
    if (result == S_OK) {
      EXPECT_EQ(interface, instance) << n;
      EXPECT_EQ(table->Release(interface), 1u) << n;
    } else {
      EXPECT_EQ(result, E_NOINTERFACE) << n;
      EXPECT_EQ(interface, nullptr) << "a refused query must store null, allocation " << n;
    }
    EXPECT_EQ(VPPlugInGetInstanceCount(kMyFactoryID), 1) << n;
    EXPECT_EQ(table->Release(instance), 0u) << n;
  });
}

INSTANTIATE_TEST_SUITE_P(Interfaces, QuerySweep,
                         ::testing::ValuesIn(std::vector<QueryCase>{
                             {"ContextualMenu", true},
                             {"IUnknown", false},
                         }),
                         RowName());

// ---- ExamineContext ----

struct ExamineCase {
  const char *name;
  bool deferred;
  bool lockedFolder; // adds the separator and the header in immediate mode
  size_t items;      // of the whole submenu
};

class ExamineSweep : public PluginOomTest, public ::testing::WithParamInterface<ExamineCase> {};

// The host's command list ends with no item of the plug-in or with the
// whole submenu, exactly as a run without failures builds it.
TEST_P(ExamineSweep, CommandListHoldsNothingOrTheWholeSubmenu) {
  const ExamineCase &c = GetParam();
  WritePreferences(c.deferred, 60);
  LockFolder(c.lockedFolder);
  const std::vector<MenuItem> reference = ReferenceSubmenu();
  ASSERT_EQ(reference.size(), c.items) << Describe(reference);
  if (c.deferred) {
    ASSERT_TRUE(IsIdentifierItem(reference.back())) << Describe(reference);
  }
  SweepBoth([&](long n, bool repeat) {
    std::optional<LoadedPlugin> plugin = Load();
    if (!plugin) return;
    AEDescHolder commands;
    ASSERT_EQ(MakeCommandList(&commands), noErr);
    OSStatus status = noErr;
    std::string log;
    Armed(
        n, repeat, [&] { status = plugin->ExamineContext(context_.get(), commands.get()); }, &log);
    EXPECT_TRUE(OneOf(status, {noErr, memFullErr, kMyNilPointerErr, paramErr}))
        << "allocation " << n << ": " << status;
    if (status != noErr) {
      EXPECT_NE(log.find("Vantlow: "), std::string::npos) << n << ": " << status;
    }
    const std::vector<MenuItem> items = CommandListItems(commands);
    if (!items.empty()) {
      ASSERT_EQ(items.size(), 1u) << n << "\n" << Describe(items);
      EXPECT_EQ(items[0].text, "Sizes") << n;
      EXPECT_TRUE(items[0].hasSubmenu) << n;
      const std::vector<MenuItem> &submenu = items[0].submenu;
      ASSERT_EQ(submenu.size(), reference.size()) << n << "\n" << Describe(items);
      // The identifier item carries this run's tick count; the rest is fixed.
      const size_t fixed = c.deferred ? reference.size() - 1 : reference.size();
      for (size_t i = 0; i < fixed; ++i)
        EXPECT_EQ(submenu[i], reference[i]) << n << " item " << i << "\n" << Describe(items);
      if (c.deferred) {
        EXPECT_TRUE(IsIdentifierItem(submenu.back())) << n;
      }
    }
    plugin->PostMenuCleanup();
  });
}

INSTANTIATE_TEST_SUITE_P(Modes, ExamineSweep,
                         ::testing::ValuesIn(std::vector<ExamineCase>{
                             {"Immediate", false, false, 8},
                             {"ImmediateWithUnreadableFolder", false, true, 10},
                             {"Deferred", true, false, 9},
                             {"DeferredWithUnreadableFolder", true, true, 9},
                         }),
                         RowName());

// ---- The populate handler ----

struct PopulateCase {
  const char *name;
  bool lockedFolder;
};

class PopulateSweep : public PluginOomTest, public ::testing::WithParamInterface<PopulateCase> {};

// Opening the deferred submenu with allocations failing: each of the four
// lines is either still the placeholder or its complete figure, set in
// order; the fixed commands stay; an identifier item is either still there
// (nothing done yet, so a later opening tries again) or gone; the header
// lines are absent or come as a separator followed by the header.
TEST_P(PopulateSweep, SubmenuKeepsItsShape) {
  const PopulateCase &c = GetParam();
  LockFolder(c.lockedFolder);
  WritePreferences(false, 60);
  const std::vector<MenuItem> filled = ReferenceSubmenu(); // immediate: the figures
  ASSERT_EQ(filled.size(), c.lockedFolder ? 10u : 8u) << Describe(filled);
  WritePreferences(true, 60);
  SweepBoth([&](long n, bool repeat) {
    std::optional<LoadedPlugin> plugin = Load();
    if (!plugin) return;
    AEDescHolder commands;
    ASSERT_EQ(ExamineQuietly(*plugin, context_.get(), &commands), noErr);
    MenuHolder menu;
    ASSERT_EQ(BuildMenu(*commands.get(), &menu, nullptr), noErr);
    MenuRef submenu = nullptr;
    ASSERT_EQ(GetMenuItemHierarchicalMenu(menu.get(), 1, &submenu), noErr);
    ASSERT_NE(submenu, nullptr);
    OSStatus status = noErr;
    Armed(n, repeat, [&] { status = PopulateMenu(submenu); });
    EXPECT_TRUE(OneOf(status, {noErr, eventNotHandledErr, memFullErr})) << n << ": " << status;
    std::vector<MenuItem> items;
    ASSERT_EQ(ReadMenu(submenu, &items), noErr);
    const std::string shown = Describe(items);
    ASSERT_GE(items.size(), 8u) << n << "\n" << shown;
    bool placeholderSeen = false;
    for (size_t i = 0; i < 4; ++i) {
      if (items[i].text == kDummy) {
        placeholderSeen = true;
        EXPECT_EQ(items[i].command, filled[i].command) << n;
      } else {
        EXPECT_FALSE(placeholderSeen) << "lines are set in order, allocation " << n << "\n"
                                      << shown;
        EXPECT_EQ(items[i], filled[i]) << n << "\n" << shown;
      }
    }
    for (size_t i = 4; i < 8; ++i)
      EXPECT_EQ(items[i], filled[i]) << n << "\n" << shown;
    std::vector<MenuItem> rest(items.begin() + 8, items.end());
    if (!rest.empty() && IsIdentifierItem(rest[0])) {
      EXPECT_EQ(rest.size(), 1u) << n << "\n" << shown;
      EXPECT_EQ(items[0].text, kDummy) << "filled before the identifier went, " << n;
      EXPECT_NE(status, noErr) << "the submenu was left unopened, allocation " << n;
    } else if (!rest.empty()) {
      EXPECT_TRUE(c.lockedFolder) << n << "\n" << shown;
      EXPECT_EQ(rest[0], filled[8]) << n << "\n" << shown;
      if (rest.size() > 1) {
        EXPECT_EQ(rest[1], filled[9]) << n << "\n" << shown;
      }
      EXPECT_LE(rest.size(), 2u) << n << "\n" << shown;
    }
    if (status == noErr && !placeholderSeen && c.lockedFolder) {
      EXPECT_EQ(rest.size(), 2u) << "reported filled without its header, " << n << "\n" << shown;
    }
    plugin->PostMenuCleanup();
  });
}

INSTANTIATE_TEST_SUITE_P(Trees, PopulateSweep,
                         ::testing::ValuesIn(std::vector<PopulateCase>{
                             {"Readable", false},
                             {"WithUnreadableFolder", true},
                         }),
                         RowName());

// ---- HandleSelection ----

struct ChooseCase {
  const char *name;
  SInt32 command;
  bool copies; // else the clipboard is never touched
};

class ChooseSweep : public PluginOomTest, public ::testing::WithParamInterface<ChooseCase> {};

// A chosen line reaches the clipboard whole or not at all (a failure may
// leave the old contents, an empty clipboard, or the whole line as 'utxt'
// alone), and success is only reported when it did.
TEST_P(ChooseSweep, ClipboardGetsTheWholeLineOrKeepsWhatItHad) {
  const ChooseCase &c = GetParam();
  WritePreferences(false, 60);
  // The text a run without failures copies.
  ScrapText expected;
  {
    std::optional<LoadedPlugin> plugin = Load();
    AEDescHolder commands;
    ASSERT_EQ(ExamineQuietly(*plugin, context_.get(), &commands), noErr);
    PutSentinelOnScrap();
    ASSERT_EQ(Quietly([&] { return plugin->HandleSelection(context_.get(), c.command); }), noErr);
    expected = CurrentScrap();
    plugin->PostMenuCleanup();
  }
  if (c.copies) {
    ASSERT_TRUE(expected.unicode && expected.text);
    ASSERT_NE(*expected.text, kSentinel);
  } else {
    ASSERT_EQ(expected.text, kSentinel);
  }
  SweepBoth([&](long n, bool repeat) {
    std::optional<LoadedPlugin> plugin = Load();
    if (!plugin) return;
    AEDescHolder commands;
    ASSERT_EQ(ExamineQuietly(*plugin, context_.get(), &commands), noErr);
    PutSentinelOnScrap();
    OSStatus status = noErr;
    Armed(n, repeat, [&] { status = plugin->HandleSelection(context_.get(), c.command); });
    EXPECT_TRUE(OneOf(status, {noErr, memFullErr, kMyNilPointerErr})) << n << ": " << status;
    const ScrapText scrap = CurrentScrap();
    const bool whole = scrap.unicode == expected.unicode && scrap.text == expected.text;
    const bool before = !scrap.unicode && scrap.text == kSentinel;
    const bool cleared = !scrap.unicode && !scrap.text;
    // The clipboard is emptied first and 'utxt' goes on before 'TEXT', each
    // flavor written whole: a failure in between leaves the whole new text
    // as 'utxt' alone, never a 'TEXT' without it or a flavor cut short.
    const bool unicodeAlone = scrap.unicode == expected.unicode && !scrap.text;
    if (status == noErr) {
      EXPECT_TRUE(whole) << "success reported, clipboard not as expected, allocation " << n;
    } else {
      EXPECT_TRUE(whole || before || cleared || unicodeAlone)
          << "a partial clipboard, allocation " << n << ": 'utxt' "
          << (scrap.unicode ? std::to_string(scrap.unicode->size()) + " bytes" : "absent")
          << ", 'TEXT' " << (scrap.text ? "\"" + *scrap.text + "\"" : "absent");
    }
    if (!c.copies) {
      EXPECT_TRUE(before) << n;
    }
    plugin->PostMenuCleanup();
  });
}

INSTANTIATE_TEST_SUITE_P(Commands, ChooseSweep,
                         ::testing::ValuesIn(std::vector<ChooseCase>{
                             {"ItemCount", kCmdItemCount, true},
                             {"TotalSize", kCmdTotalSize, true},
                             {"DataSize", kCmdDataSize, true},
                             {"RsrcSize", kCmdRsrcSize, true},
                             {"CopyAllSizes", kCmdCopyAllSizes, true},
                             {"Unknown", 2007, false},
                         }),
                         RowName());

// "Setup Period..." with OK pressed after both controls changed: whatever
// fails, the stored settings are the old pair, the complete new pair, or
// the new limit with the old flag (the limit is stored and synchronized
// before the flag, each on its own), never the new flag without the new
// limit, an empty or a corrupt file, and nothing else is left in the
// folder. The modal dialog installs its handler without checking that the
// handler's UPP could be made, so a failure there reaches the caller as
// InstallEventHandler's paramErr.
TEST_F(PluginOomTest, SetupPeriodNeverLosesTheStoredSettings) {
  struct Stored {
    bool present = false;
    bool deferred = false;
    long limit = 0;
  };
  auto readStored = [&] {
    VPPreferencesResetForTesting();
    Stored s;
    Boolean lazyValid = false, limitValid = false;
    s.deferred = CFPreferencesGetAppBooleanValue(CFSTR("FileSize-LazyCalc"), kMyBundleIdentifier,
                                                 &lazyValid);
    s.limit = CFPreferencesGetAppIntegerValue(CFSTR("FileSize-LimitTicks"), kMyBundleIdentifier,
                                              &limitValid);
    s.present = lazyValid && limitValid;
    VPPreferencesResetForTesting();
    return s;
  };
  auto script = [] {
    VPScriptBegin();
    VPScriptAddSetValue(kLimitGroup, 9); // no limit
    VPScriptAddSetValue(kDeferredBox, 1);
    VPScriptAddPress(kHICommandOK);
    VPScriptAddExpectQuit();
  };
  SweepBoth([&](long n, bool repeat) {
    WritePreferences(false, 60);
    std::optional<LoadedPlugin> plugin = Load();
    if (!plugin) return;
    AEDescHolder commands;
    ASSERT_EQ(ExamineQuietly(*plugin, context_.get(), &commands), noErr);
    script();
    OSStatus status = noErr;
    Armed(n, repeat, [&] { status = plugin->HandleSelection(context_.get(), kCmdSetupPeriod); });
    VPScriptEnd();
    plugin->PostMenuCleanup();
    plugin.reset();
    EXPECT_TRUE(
        OneOf(status, {noErr, memFullErr, kMyNilPointerErr, userCanceledErr, paramErr, ioErr}))
        << n << ": " << status;
    const Stored s = readStored();
    EXPECT_TRUE(s.present) << "the stored settings were lost, allocation " << n;
    const bool old = !s.deferred && s.limit == 60;
    const bool updated = s.deferred && s.limit == -1;
    const bool limitOnly = !s.deferred && s.limit == -1;
    if (status == noErr) {
      EXPECT_TRUE(updated) << "success reported, settings not stored, allocation " << n;
    }
    EXPECT_TRUE(old || updated || limitOnly)
        << "allocation " << n << " (" << status << "): deferred " << s.deferred << ", limit "
        << s.limit;
    if (n == 0) {
      EXPECT_TRUE(updated) << "a run without failures stores the new values";
    }
    std::vector<std::string> left;
    for (const auto &entry : fs::directory_iterator(PreferencesFile().parent_path()))
      left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{PreferencesFile().filename().string()}) << n;
  });
}

// ---- Release ----

struct ReleaseCase {
  const char *name;
  bool deferred; // the instance then holds a handler's UPP and populate data
};

class ReleaseSweep : public PluginOomTest, public ::testing::WithParamInterface<ReleaseCase> {};

TEST_P(ReleaseSweep, LastReleaseFreesEverything) {
  const ReleaseCase &c = GetParam();
  WritePreferences(c.deferred, 60);
  SweepBoth(
      [&](long n, bool repeat) {
        std::optional<LoadedPlugin> plugin = Load();
        if (!plugin) return;
        {
          AEDescHolder commands;
          ASSERT_EQ(ExamineQuietly(*plugin, context_.get(), &commands), noErr);
          MenuHolder menu;
          ASSERT_EQ(BuildMenu(*commands.get(), &menu, nullptr), noErr);
          ASSERT_EQ(OpenAllSubmenus(menu.get()), noErr);
          plugin->PostMenuCleanup();
        }
        ASSERT_EQ(VPPlugInGetInstanceCount(kMyFactoryID), 1);
        ContextualMenuInterfaceStruct **interface = plugin->interface();
        // One more reference of the test's own, so that the call under test is
        // the last Release; the loader's reference goes first.
        ASSERT_EQ((*interface)->AddRef(interface), 2u);
        plugin.reset();
        ULONG count = 1;
        Armed(n, repeat, [&] { count = (*interface)->Release(interface); });
        EXPECT_EQ(count, 0u) << n;
      },
      /*allocates=*/false);
}

INSTANTIATE_TEST_SUITE_P(Modes, ReleaseSweep,
                         ::testing::ValuesIn(std::vector<ReleaseCase>{
                             {"Immediate", false},
                             {"Deferred", true},
                         }),
                         RowName());

} // namespace
