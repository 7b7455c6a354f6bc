// Vantlow.plugin end to end: the built bundle loaded through the host's
// loader, asked about real temporary trees as the Contextual Menu Manager
// asks it. The submenu in immediate and deferred mode, unreadable folders,
// calculations stopped by the limit or a cancel key or failed outright,
// overlapping and vanished selections, every command's text on the scrap,
// the German localization, the bundle's own files, and an allocation sweep
// through the bundle built for fault injection.
#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/carbon_testing.h>
#include <vantlow/dialog_testing.h>
#include <vantlow/platform_testing.h>
#include <vantlow/toolbox_testing.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
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

// The fixture names the preferences file after the identifier it knows.
static_assert(std::string_view(VANTLOW_BUNDLE_IDENTIFIER) == kVantlowIdentifier);

const fs::path kPlugin = fs::path(VANTLOW_BUILD_PLUGIN_DIR) / "Vantlow.plugin";
const fs::path kWrappedPlugin = fs::path(VANTLOW_WRAPPED_PLUGIN_DIR) / "Vantlow.plugin";

constexpr UInt32 kSeparator = kMenuItemAttrSeparator;
constexpr UInt32 kHeader = kMenuItemAttrSectionHeader;
constexpr UInt16 kEscapeKey = 53;

// 'utxt' bytes of UTF-8 text (this machine's byte order).
std::string UtxtOf(const std::string &utf8) {
  CFStringRef text = CFStringCreateWithCString(nullptr, utf8.c_str(), kCFStringEncodingUTF8);
  std::string bytes(static_cast<size_t>(CFStringGetLength(text)) * 2, '\0');
  CFStringGetCharacters(text, CFRangeMake(0, CFStringGetLength(text)),
                        reinterpret_cast<UniChar *>(bytes.data()));
  CFRelease(text);
  return bytes;
}

// The allocated size of the files at the paths, as the submenu shows it
// (the test trees stay below 1 MiB).
std::string PhysicalText(const std::vector<std::string> &files) {
  unsigned long long bytes = 0;
  for (const std::string &file : files) {
    struct stat st;
    EXPECT_EQ(lstat(file.c_str(), &st), 0) << file;
    bytes += static_cast<unsigned long long>(st.st_blocks) * 512;
  }
  EXPECT_LT(bytes, 1ull << 20) << "the expected texts below assume a small tree";
  if (bytes < 1024) return std::to_string(bytes) + " Byte";
  return std::to_string(bytes >> 10) + " KB";
}

// The fixed items 5 to 8 of the submenu.
std::vector<MenuItem> Commands() {
  return {Item("-", 0, kSeparator), Item("Copy All Sizes", kCmdCopyAllSizes),
          Item("-", 0, kSeparator), Item("Setup Period...", kCmdSetupPeriod)};
}

// A small tree: four files (one invisible) in two folders.
struct Tree {
  TempDir dir;
  std::string sel, a, b, dot, c;
  std::string physical; // of the four files
  Tree() {
    sel = dir.MakeDir("sel");
    a = dir.MakeFile("sel/a.txt", std::string(100, 'a'));
    b = dir.MakeFile("sel/b.txt", std::string(2000, 'b'));
    dot = dir.MakeFile("sel/.dot", std::string(10, 'd'));
    c = dir.MakeFile("sel/sub/c.bin", std::string(5000, 'c'));
    physical = PhysicalText({a, b, dot, c});
  }
  // The four lines after a complete calculation of sel.
  std::vector<MenuItem> Lines() const {
    return {Item("4 files (1 invisible), 2 folders (0 invisible)", kCmdItemCount),
            Item("Total: " + physical + " (7,110 bytes)", kCmdTotalSize),
            Item("Data forks: " + physical + " (7,110 bytes)", kCmdDataSize),
            Item("Resource forks: 0 Byte (0 bytes)", kCmdRsrcSize)};
  }
};

std::vector<MenuItem> Concat(std::vector<MenuItem> a, const std::vector<MenuItem> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// What one ExamineContext left: its result, its log and the lists.
struct Examined {
  OSStatus status = noErr;
  std::string log;
  AEDescHolder context;
  AEDescHolder commands;
};

class PluginTest : public BundleHostTest {
protected:
  void TearDown() override {
    plugin_.reset();
    VPTestSetKeyMap(nullptr);
    VPTickCountSetSource(nullptr);
    ForgetBundleCaches();
    BundleHostTest::TearDown();
  }

  // Strings tables are read once per bundle; a test that changes the
  // language starts from an empty cache.
  void ForgetBundleCaches() {
    if (CFBundleRef bundle = CFBundleGetBundleWithIdentifier(kMyBundleIdentifier))
      VPBundleForgetCaches(bundle);
  }

  // Loads the bundle; its instance reads the preferences now.
  void Load(const fs::path &bundle = kPlugin) {
    plugin_ = LoadQuietly(bundle);
    ASSERT_TRUE(plugin_);
    EXPECT_EQ(plugin_->identifier(), VANTLOW_BUNDLE_IDENTIFIER);
    ForgetBundleCaches();
  }

  Examined Examine(const std::vector<std::string> &paths) {
    Examined e;
    EXPECT_EQ(MakeContext(paths, &e.context, nullptr), noErr);
    e.status = ExamineQuietly(*plugin_, e.context.get(), &e.commands, &e.log);
    return e;
  }

  // The command list as ExamineContext built it.
  static std::vector<MenuItem> Closed(const Examined &e) { return CommandListItems(e.commands); }

  // The menu made from the command list with every submenu opened; *log
  // receives what the plug-in printed meanwhile.
  std::vector<MenuItem> Opened(const Examined &e, MenuHolder *menu, std::string *log = nullptr) {
    std::string problem;
    EXPECT_EQ(BuildMenu(*e.commands.get(), menu, &problem), noErr) << problem;
    StdoutCapture capture;
    EXPECT_EQ(OpenAllSubmenus(menu->get()), noErr);
    if (log) *log = capture.Take();
    std::vector<MenuItem> items;
    EXPECT_EQ(ReadMenu(menu->get(), &items), noErr);
    return items;
  }

  OSStatus Choose(const Examined &e, SInt32 command) {
    StdoutCapture quiet;
    AEDescHolder context;
    EXPECT_EQ(AEDuplicateDesc(e.context.get(), context.get()), noErr);
    return plugin_->HandleSelection(context.get(), command);
  }

  std::optional<LoadedPlugin> plugin_;
};

// ---- The bundle ----

TEST(Bundle, ExportsOnlyTheFactory) {
  for (const fs::path &bundle : {kPlugin, kWrappedPlugin}) {
    const fs::path so = bundle / "Contents/Linux/Vantlow.so";
    ASSERT_TRUE(fs::exists(so)) << so;
    FILE *pipe = popen(
        ("nm -D --defined-only '" + so.string() + "' | awk '{print $NF}' | sort").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string symbols;
    char buffer[256];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
      symbols.append(buffer, n);
    pclose(pipe);
    EXPECT_EQ(symbols,
              bundle == kPlugin ? "MyCMMFactory\n" : "MyCMMFactory\nVPBundleAllocWrapLiveBlocks\n");
  }
}

// Every key of the strings table has a text in every language, and each
// text takes exactly the arguments the plug-in passes it.
TEST(Bundle, EveryKeyHasAUsableTextInEveryLanguage) {
  enum Kind { kCounts, kSizes, kFolders, kPlain };
  const std::map<std::string, Kind> keys = {
      {"%ld file(s)", kCounts},   {"over %ld file(s)", kCounts},
      {"TotalFormat", kSizes},    {"TotalFormat2", kSizes},
      {"DataFormat", kSizes},     {"DataFormat2", kSizes},
      {"RsrcFormat", kSizes},     {"RsrcFormat2", kSizes},
      {"Copy All Sizes", kPlain}, {"Setup Period...", kPlain},
      {"MenuTitle", kPlain},      {"cannot scan %lu folder(s), check access privileges.", kFolders},
  };
  for (const char *language : {"English", "de"}) {
    SCOPED_TRACE(language);
    std::ifstream in(kPlugin / "Contents/Resources" / (std::string(language) + ".lproj") /
                         "Localizable.strings",
                     std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(bytes.empty());
    CFStringRef error = nullptr;
    CFDictionaryRef table = VPStringsTableCreateFromData(
        reinterpret_cast<const UInt8 *>(bytes.data()), static_cast<CFIndex>(bytes.size()), &error);
    ASSERT_NE(table, nullptr) << vantlow::host::Utf8FromCFString(error);
    EXPECT_EQ(CFDictionaryGetCount(table), static_cast<CFIndex>(keys.size()));
    for (const auto &[key, kind] : keys) {
      SCOPED_TRACE(key);
      CFStringRef cfKey = CFStringCreateWithCString(nullptr, key.c_str(), kCFStringEncodingUTF8);
      auto format = static_cast<CFStringRef>(CFDictionaryGetValue(table, cfKey));
      CFRelease(cfKey);
      ASSERT_NE(format, nullptr) << "no text";
      CFStringRef made = nullptr;
      std::vector<std::string> shown;
      switch (kind) {
      case kCounts:
        made = CFStringCreateWithFormat(nullptr, nullptr, format, 31L, 7L, 5L, 2L);
        shown = {"31", "7", "5", "2"};
        break;
      case kSizes:
        made = CFStringCreateWithFormat(nullptr, nullptr, format, CFSTR("UNIT"), CFSTR("COMMA"));
        shown = {"UNIT", "COMMA"};
        break;
      case kFolders:
        made = CFStringCreateWithFormat(nullptr, nullptr, format, 9UL);
        shown = {"9"};
        break;
      case kPlain:
        made = static_cast<CFStringRef>(CFRetain(format));
        break;
      }
      const std::string text = vantlow::host::Utf8FromCFString(made);
      CFRelease(made);
      EXPECT_FALSE(text.empty());
      EXPECT_EQ(text.find('%'), std::string::npos) << text;
      size_t at = 0;
      for (const std::string &part : shown) {
        at = text.find(part, at);
        EXPECT_NE(at, std::string::npos) << part << " missing or out of order in " << text;
        if (at == std::string::npos) break;
        at += part.size();
      }
    }
    CFRelease(table);
  }
}

// ---- Immediate mode ----

TEST_F(PluginTest, ImmediateModeShowsTheEightItems) {
  Load();
  Tree tree;
  Examined e = Examine({tree.sel});
  ASSERT_EQ(e.status, noErr) << e.log;
  EXPECT_EQ(e.log, "");
  const std::vector<MenuItem> expected = {Submenu("Sizes", Concat(tree.Lines(), Commands()))};
  EXPECT_EQ(Describe(Closed(e)), Describe(expected));
  EXPECT_EQ(Closed(e), expected);
  // Nothing is deferred: no handler, and opening the submenu changes nothing.
  EXPECT_EQ(VPEventTargetCountHandlers(GetApplicationEventTarget()), handlers_);
  MenuHolder menu;
  EXPECT_EQ(Opened(e, &menu), expected);
  plugin_->PostMenuCleanup();
}

TEST_F(PluginTest, UnreadableFolderAddsTheSeparatorAndTheHeader) {
  Load();
  Tree tree;
  const std::string locked = tree.dir.MakeDir("sel/locked");
  tree.dir.MakeFile("sel/locked/inside.txt", "not counted");
  ASSERT_TRUE(VPSyscallFail("faccessat", 1, EACCES, true, "locked"));
  Examined e = Examine({tree.sel});
  ASSERT_EQ(e.status, noErr) << e.log;
  EXPECT_EQ(e.log, "Vantlow: Permission denied: " + locked + "\n");
  std::vector<MenuItem> lines = tree.Lines();
  lines[0].text = "4 files (1 invisible), 3 folders (0 invisible)";
  const std::vector<MenuItem> expected = {Submenu(
      "Sizes", Concat(Concat(lines, Commands()),
                      {Item("-", 0, kSeparator),
                       Item("Cannot scan 1 folder(s), check access privileges.", 0, kHeader)}))};
  EXPECT_EQ(Describe(Closed(e)), Describe(expected));
  plugin_->PostMenuCleanup();
}

// The limit or a cancel key stops the walk: the partial figures are shown as
// lower bounds, and copied the same way.
struct StopCase {
  const char *name;
  bool cancelKey; // else the tick clock runs out
};

UInt32 gTicks = 0;
// Forty ticks pass at every look at the clock: the limit of 60 is over on
// the second folder entered.
UInt32 FastClock() {
  return gTicks += 40;
}

class StoppedCalculation : public PluginTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StoppedCalculation, ShowsTheIncompleteWording) {
  Load();
  Tree tree;
  tree.dir.MakeFile("sel/sub/deeper/d.txt", "d");
  if (GetParam().cancelKey) {
    VPTestSetKeyDown(kEscapeKey, true);
  } else {
    gTicks = 0;
    VPTickCountSetSource(FastClock);
  }
  Examined e = Examine({tree.sel});
  VPTestSetKeyMap(nullptr);
  VPTickCountSetSource(nullptr);
  ASSERT_EQ(e.status, noErr) << e.log;
  const std::vector<MenuItem> closed = Closed(e);
  ASSERT_EQ(closed.size(), 1u);
  const std::vector<MenuItem> &items = closed[0].submenu;
  ASSERT_EQ(items.size(), 8u) << Describe(closed);
  EXPECT_EQ(items[0].text.rfind("more than ", 0), 0u) << items[0].text;
  EXPECT_EQ(items[1].text.rfind("Total: over ", 0), 0u) << items[1].text;
  EXPECT_EQ(items[2].text.rfind("Data forks: over ", 0), 0u) << items[2].text;
  EXPECT_EQ(items[3].text.rfind("Resource forks: over ", 0), 0u) << items[3].text;
  if (GetParam().cancelKey) {
    EXPECT_EQ(items[0].text, "more than 0 files (0 invisible), 0 folders (0 invisible)");
  }
  EXPECT_EQ(Choose(e, kCmdItemCount), noErr);
  EXPECT_EQ(CurrentScrap().unicode, UtxtOf(items[0].text));
  plugin_->PostMenuCleanup();
}

INSTANTIATE_TEST_SUITE_P(Rows, StoppedCalculation,
                         ::testing::ValuesIn(std::vector<StopCase>{{"TimeLimit", false},
                                                                   {"CancelKey", true}}),
                         RowName());

TEST_F(PluginTest, FailedCalculationLeavesNoSubmenuAndIsReportedOnce) {
  Load();
  Tree tree;
  ASSERT_TRUE(VPSyscallFail("fstatat", 1, EIO, true, "b.txt"));
  const long beeps = VPSysBeepCount();
  Examined e = Examine({tree.sel});
  EXPECT_NE(e.status, noErr);
  EXPECT_EQ(Closed(e), std::vector<MenuItem>{});
  EXPECT_EQ(VPSysBeepCount(), beeps + 1);
  EXPECT_EQ(e.log, "Vantlow: execution fail: error=" + std::to_string(e.status) +
                       ", phase is 'ExamineContext'\n");
  plugin_->PostMenuCleanup();
}

// ---- What the selection holds ----

TEST_F(PluginTest, ItemsInsideSelectedFoldersAreCountedOnce) {
  Load();
  TempDir dir;
  const std::string folder = dir.MakeDir("x/A");
  const std::string inside = dir.MakeFile("x/A/b", std::string(1000, 'b'));
  const std::string other = dir.MakeFile("x/A/c", std::string(100, 'c'));
  const std::string beside = dir.MakeFile("x/A.txt", std::string(10, 't'));
  Examined e = Examine({folder, beside, inside});
  ASSERT_EQ(e.status, noErr) << e.log;
  const std::string physical = PhysicalText({inside, other, beside});
  const std::vector<MenuItem> expected = {Submenu(
      "Sizes", Concat({Item("3 files (0 invisible), 1 folders (0 invisible)", kCmdItemCount),
                       Item("Total: " + physical + " (1,110 bytes)", kCmdTotalSize),
                       Item("Data forks: " + physical + " (1,110 bytes)", kCmdDataSize),
                       Item("Resource forks: 0 Byte (0 bytes)", kCmdRsrcSize)},
                      Commands()))};
  EXPECT_EQ(Describe(Closed(e)), Describe(expected));
  plugin_->PostMenuCleanup();
}

TEST_F(PluginTest, SelectionWhoseOnlyItemIsGoneAddsNothing) {
  Load();
  TempDir dir;
  const std::string gone = dir.MakeFile("gone.txt", "x");
  Examined e;
  ASSERT_EQ(MakeContext({gone}, &e.context, nullptr), noErr);
  ASSERT_EQ(MakeCommandList(&e.commands), noErr);
  fs::remove(gone);
  const long beeps = VPSysBeepCount();
  StdoutCapture capture;
  EXPECT_EQ(plugin_->ExamineContext(e.context.get(), e.commands.get()), noErr);
  EXPECT_EQ(capture.Take(), "");
  EXPECT_EQ(Closed(e), std::vector<MenuItem>{});
  EXPECT_EQ(VPSysBeepCount(), beeps);
  plugin_->PostMenuCleanup();
}

// ---- Commands ----

struct CommandCase {
  const char *name;
  SInt32 command;
  int line; // the menu line it copies; -1: all four; -2: copies nothing
};

class ChosenCommand : public PluginTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(ChosenCommand, PutsItsLineOnTheScrapByteForByte) {
  const CommandCase &c = GetParam();
  Load();
  Tree tree;
  Examined e = Examine({tree.sel});
  ASSERT_EQ(e.status, noErr) << e.log;
  const std::vector<MenuItem> lines = tree.Lines();

  // Something of another program's, which a command that copies nothing
  // leaves alone.
  ScrapRef scrap = nullptr;
  ASSERT_EQ(GetCurrentScrap(&scrap), noErr);
  const std::string before = UtxtOf("earlier");
  ASSERT_EQ(PutScrapFlavor(scrap, kScrapFlavorTypeUnicode, 0, static_cast<Size>(before.size()),
                           before.data()),
            noErr);

  EXPECT_EQ(Choose(e, c.command), noErr);
  const ScrapText after = CurrentScrap();
  if (c.line == -2) {
    EXPECT_EQ(after.unicode, before);
    EXPECT_FALSE(after.text);
  } else {
    std::string text;
    if (c.line == -1) {
      for (const MenuItem &line : lines)
        text += line.text + "\r";
    } else {
      text = lines[static_cast<size_t>(c.line)].text;
    }
    EXPECT_EQ(after.unicode, UtxtOf(text));
    EXPECT_EQ(after.text, text) << "the system encoding is UTF-8 here";
  }
  plugin_->PostMenuCleanup();
}

INSTANTIATE_TEST_SUITE_P(Rows, ChosenCommand,
                         ::testing::ValuesIn(std::vector<CommandCase>{
                             {"ItemCount", kCmdItemCount, 0},
                             {"TotalSize", kCmdTotalSize, 1},
                             {"DataSize", kCmdDataSize, 2},
                             {"RsrcSize", kCmdRsrcSize, 3},
                             {"CopyAllSizesEndsEveryLineWithACarriageReturn", kCmdCopyAllSizes, -1},
                             {"BetweenCopyAllAndSetupIsNoCommand", 2005, -2},
                             {"Zero", 0, -2},
                             {"AnotherPlugInsCommand", 1, -2},
                         }),
                         RowName());

// ---- Deferred mode ----

struct DeferredCase {
  const char *name;
  bool unreadableFolder;
};

class DeferredMode : public PluginTest, public ::testing::WithParamInterface<DeferredCase> {};

TEST_P(DeferredMode, BuildsPlaceholdersAndFillsThemInWhenTheSubmenuOpens) {
  const DeferredCase &c = GetParam();
  WritePreferences("<key>FileSize-LazyCalc</key><true/>");
  Load();
  Tree tree;
  std::string locked;
  if (c.unreadableFolder) {
    locked = tree.dir.MakeDir("sel/locked");
    ASSERT_TRUE(VPSyscallFail("faccessat", 1, EACCES, true, "locked"));
  }
  Examined e = Examine({tree.sel});
  ASSERT_EQ(e.status, noErr) << e.log;
  EXPECT_EQ(e.log, "") << "nothing is measured before the submenu opens";
  EXPECT_EQ(VPEventTargetCountHandlers(GetApplicationEventTarget()), handlers_ + 1);

  // As built: placeholders, no header, and the identifier item last.
  std::vector<MenuItem> closed = Closed(e);
  ASSERT_EQ(closed.size(), 1u);
  ASSERT_EQ(closed[0].submenu.size(), 9u) << Describe(closed);
  const MenuItem identifier = closed[0].submenu.back();
  EXPECT_TRUE(
      std::regex_match(identifier.text, std::regex(R"(\*\*(\d+)-org\.vantlow\.filesize-\1-0\*\*)")))
      << identifier.text;
  EXPECT_EQ(identifier.command, 0u);
  EXPECT_EQ(identifier.attributes, 0u);
  closed[0].submenu.pop_back();
  const std::vector<MenuItem> placeholders = {
      Item("Dummy", kCmdItemCount), Item("Dummy", kCmdTotalSize), Item("Dummy", kCmdDataSize),
      Item("Dummy", kCmdRsrcSize)};
  EXPECT_EQ(Describe(closed), Describe({Submenu("Sizes", Concat(placeholders, Commands()))}));

  // Opened: the real lines, and the header when a folder was unreadable.
  MenuHolder menu;
  std::string log;
  const std::vector<MenuItem> opened = Opened(e, &menu, &log);
  std::vector<MenuItem> lines = tree.Lines();
  std::vector<MenuItem> submenu = Concat(lines, Commands());
  if (c.unreadableFolder) {
    submenu[0].text = "4 files (1 invisible), 3 folders (0 invisible)";
    submenu.push_back(Item("-", 0, kSeparator));
    submenu.push_back(Item("Cannot scan 1 folder(s), check access privileges.", 0, kHeader));
    EXPECT_EQ(log, "Vantlow: Permission denied: " + locked + "\n");
  } else {
    EXPECT_EQ(log, "");
  }
  const std::vector<MenuItem> expected = {Submenu("Sizes", submenu)};
  EXPECT_EQ(Describe(opened), Describe(expected));

  // Opening it again changes nothing.
  MenuRef sizes = nullptr;
  ASSERT_EQ(GetMenuItemHierarchicalMenu(menu.get(), 1, &sizes), noErr);
  {
    StdoutCapture quiet;
    EXPECT_EQ(PopulateMenu(sizes), noErr) << "the plug-in's handler claims its menus";
  }
  std::vector<MenuItem> again;
  ASSERT_EQ(ReadMenu(menu.get(), &again), noErr);
  EXPECT_EQ(again, expected);

  // A chosen line is the line as filled in.
  EXPECT_EQ(Choose(e, kCmdTotalSize), noErr);
  EXPECT_EQ(CurrentScrap().unicode, UtxtOf(submenu[1].text));

  plugin_->PostMenuCleanup();
  EXPECT_EQ(VPEventTargetCountHandlers(GetApplicationEventTarget()), handlers_);
}

INSTANTIATE_TEST_SUITE_P(Rows, DeferredMode,
                         ::testing::ValuesIn(std::vector<DeferredCase>{
                             {"AllFoldersReadable", false},
                             {"UnreadableFolder", true},
                         }),
                         RowName());

TEST_F(PluginTest, StoredLimitOfNoneLetsTheWalkRunPastTheClock) {
  WritePreferences("<key>FileSize-LimitTicks</key><integer>-1</integer>");
  Load();
  Tree tree;
  gTicks = 0;
  VPTickCountSetSource(FastClock);
  Examined e = Examine({tree.sel});
  VPTickCountSetSource(nullptr);
  ASSERT_EQ(e.status, noErr) << e.log;
  EXPECT_EQ(Describe(Closed(e)), Describe({Submenu("Sizes", Concat(tree.Lines(), Commands()))}));
  plugin_->PostMenuCleanup();
}

// "Setup Period..." runs the period setup's dialog (answered here by a
// script): OK with deferred mode ticked stores the preference and turns the
// same instance's next menu deferred; Cancel changes nothing.
struct SetupCase {
  const char *name;
  UInt32 button;
  bool deferredAfter;
};

class SetupPeriod : public PluginTest, public ::testing::WithParamInterface<SetupCase> {};

TEST_P(SetupPeriod, ChangesTheNextMenuOnlyWhenAccepted) {
  const SetupCase &c = GetParam();
  Load();
  Tree tree;
  Examined first = Examine({tree.sel});
  ASSERT_EQ(first.status, noErr) << first.log;
  plugin_->PostMenuCleanup();

  const ControlID limitGroup = {0x50726673 /* 'Prfs' */, 3};
  const ControlID deferredBox = {0x50726673, 4};
  VPScriptBegin();
  VPScriptAddCheckValue(limitGroup, 4); // the default limit of 1 s
  VPScriptAddCheckValue(deferredBox, 0);
  VPScriptAddSetValue(deferredBox, 1);
  VPScriptAddPress(c.button);
  VPScriptAddExpectQuit();
  const OSStatus chosen = Choose(first, kCmdSetupPeriod);
  char failures[1024] = "";
  EXPECT_EQ(VPScriptCopyFailures(failures, sizeof failures), 0u) << failures;
  EXPECT_EQ(VPScriptCountPendingSteps(), 0u);
  VPScriptEnd();
  EXPECT_EQ(chosen, noErr);
  EXPECT_FALSE(CurrentScrap().unicode) << "the setup copies nothing";

  EXPECT_EQ(fs::exists(PreferencesFile()), c.deferredAfter);

  Examined next = Examine({tree.sel});
  ASSERT_EQ(next.status, noErr) << next.log;
  const std::vector<MenuItem> closed = Closed(next);
  ASSERT_EQ(closed.size(), 1u);
  ASSERT_FALSE(closed[0].submenu.empty());
  EXPECT_EQ(closed[0].submenu[0].text, c.deferredAfter ? "Dummy" : tree.Lines()[0].text);
  EXPECT_EQ(VPEventTargetCountHandlers(GetApplicationEventTarget()),
            handlers_ + (c.deferredAfter ? 1 : 0));
  plugin_->PostMenuCleanup();
}

INSTANTIATE_TEST_SUITE_P(Rows, SetupPeriod,
                         ::testing::ValuesIn(std::vector<SetupCase>{
                             {"OK", kHICommandOK, true},
                             {"Cancel", kHICommandCancel, false},
                         }),
                         RowName());

// ---- Localization ----

TEST_F(PluginTest, SecondLocalizationIsChosenThroughTheLocale) {
  setenv("LANGUAGE", "de", 1);
  Load();
  Tree tree;
  Examined e = Examine({tree.sel});
  ASSERT_EQ(e.status, noErr) << e.log;
  const std::vector<MenuItem> closed = Closed(e);
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0].text, "Gr\u00f6\u00dfen");
  ASSERT_EQ(closed[0].submenu.size(), 8u);
  EXPECT_EQ(closed[0].submenu[0].text, "4 Dateien (1 unsichtbar), 2 Ordner (0 unsichtbar)");
  EXPECT_EQ(closed[0].submenu[1].text, "Gesamt: " + tree.physical + " (7,110 Byte)");
  EXPECT_EQ(closed[0].submenu[5].text, "Alle Gr\u00f6\u00dfen kopieren");
  EXPECT_EQ(closed[0].submenu[7].text, "Zeitlimit festlegen \u2026");
  EXPECT_EQ(Choose(e, kCmdCopyAllSizes), noErr);
  EXPECT_EQ(CurrentScrap().text, closed[0].submenu[0].text + "\r" + closed[0].submenu[1].text +
                                     "\r" + closed[0].submenu[2].text + "\r" +
                                     closed[0].submenu[3].text + "\r");
  plugin_->PostMenuCleanup();
}

// ---- Allocation failures through the bundle ----

// The bundle built for fault injection: a whole menu cycle in each mode
// (load, ExamineContext, the submenu opened, a line copied, PostMenuCleanup,
// Release), with every allocation failing in turn, ends in the menu or a
// reported failure and leaks nothing inside the bundle or in the platform.
// The instance lives for one run, as the populate data it keeps does.
TEST_F(PluginTest, MenuCyclesSurviveEveryAllocationFailure) {
  Tree tree;
  AEDescHolder context;
  ASSERT_EQ(MakeContext({tree.sel}, &context, nullptr), noErr);
  for (bool deferred : {false, true}) {
    SCOPED_TRACE(deferred ? "deferred" : "immediate");
    WritePreferences(deferred ? "<key>FileSize-LazyCalc</key><true/>" : "");
    LiveBlocksFunction blocks = nullptr;
    auto cycle = [&](long n) {
      const long before = blocks ? blocks() : 0;
      std::string reason;
      bool loaded = false;
      OSStatus examined = noErr, chosen = noErr;
      {
        StdoutCapture quiet;
        std::optional<LoadedPlugin> plugin = LoadBundle(kWrappedPlugin, &reason);
        loaded = plugin.has_value();
        AEDescHolder commands;
        if (plugin && MakeCommandList(&commands) == noErr) {
          if (!blocks) blocks = LiveBlocksOf(*plugin);
          examined = plugin->ExamineContext(context.get(), commands.get());
          MenuHolder menu;
          if (examined == noErr && BuildMenu(*commands.get(), &menu, nullptr) == noErr)
            OpenAllSubmenus(menu.get());
          chosen = plugin->HandleSelection(context.get(), kCmdCopyAllSizes);
          plugin->PostMenuCleanup();
        }
      }
      EXPECT_EQ(loaded, reason.empty()) << n << ": " << reason;
      // The contained-item exclusion reports a path it could not make as
      // paramErr.
      EXPECT_TRUE(examined == noErr || examined == memFullErr || examined == kMyNilPointerErr ||
                  examined == paramErr)
          << n << ": " << examined;
      EXPECT_TRUE(chosen == noErr || chosen == memFullErr || chosen == kMyNilPointerErr)
          << n << ": " << chosen;
      if (blocks && n > 0) {
        EXPECT_EQ(blocks(), before) << "blocks leaked inside the bundle, allocation " << n;
      }
    };
    // Once without failures, so that what lives for the whole process (the
    // loaded executable, the pool stack, the strings table, the scrap
    // folder) exists before the sweep counts.
    cycle(0);
    ASSERT_NE(blocks, nullptr);
    // A reference kept on a cached string shows only once the cache goes:
    // the count without the bundle's caches is compared at the end.
    ForgetBundleCaches();
    const long objects = VPLiveObjectCount();
    cycle(0);
    const int runs = vantlow_test::SweepAllocationFailures(cycle, false);
    EXPECT_GT(runs, 50);
    ForgetBundleCaches();
    EXPECT_EQ(VPLiveObjectCount(), objects) << "references leaked on cached objects";
  }
}

} // namespace
