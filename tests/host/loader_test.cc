// The host's plug-in loader against the fixture bundles (the frame with a
// recording fake of the feature, built with the bundle function) and
// against bundles broken in every way the loader must survive, put together
// here from the same pieces. Also: what the bundles export, the search
// path, and an allocation sweep through a bundle built for fault injection.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/carbon_testing.h>
#include <vantlow/platform_testing.h>

#include "loader.h"
#include "named_rows.h"
#include "plugin_identity.h"
#include "status_codes.h"
#include "test_support.h"

namespace fs = std::filesystem;
using vantlow::host::IsInsideFolder;
using vantlow::host::LoadedPlugin;
using vantlow::host::PluginLoader;
using vantlow::host::PluginSearchPath;
using vantlow::host::SearchPathSettings;
using namespace vantlow_test;

namespace {

using vantlow_test::PrintTo; // found beside the rows, for GoogleTest

const fs::path kFixtures = VANTLOW_FIXTURE_PLUGIN_DIR;

fs::path Executable(const std::string &bundle) {
  std::string name = bundle.substr(0, bundle.size() - std::string(".plugin").size());
  return kFixtures / bundle / "Contents" / "Linux" / (name + ".so");
}

std::string Output(const std::string &command) {
  std::string out;
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe) return "(popen failed)";
  char buf[256];
  while (size_t n = fread(buf, 1, sizeof buf, pipe))
    out.append(buf, n);
  pclose(pipe);
  return out;
}

void NoBell() {}

// An Info.plist for a bundle put together by a test.
std::string InfoPlist(const std::string &identifier, const std::string &executable,
                      const std::string &typeUUID = "2F6522E9-3E66-11D5-80A7-003065B300BC",
                      const std::string &factoryFunction = "MyCMMFactory",
                      bool declareFactory = true) {
  std::string factories =
      declareFactory ? "<key>" VANTLOW_FACTORY_UUID "</key><string>" + factoryFunction + "</string>"
                     : "";
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
         "<key>CFBundleIdentifier</key><string>" +
         identifier +
         "</string>"
         "<key>CFBundleExecutable</key><string>" +
         executable +
         "</string>"
         "<key>CFPlugInFactories</key><dict>" +
         factories +
         "</dict>"
         "<key>CFPlugInTypes</key><dict><key>" +
         typeUUID + "</key><array><string>" VANTLOW_FACTORY_UUID "</string></array></dict>" +
         "</dict></plist>\n";
}

// Makes <folder>/<name>.plugin with the given Info.plist text (none when
// empty) and, when withExecutable, a copy of the fixture plug-in's
// executable as Contents/Linux/<name>.so.
fs::path MakeBundle(const TempDir &dir, const std::string &folder, const std::string &name,
                    const std::string &plist, bool withExecutable) {
  fs::path bundle = fs::path(dir.MakeDir(folder + "/" + name + ".plugin"));
  dir.MakeDir(folder + "/" + name + ".plugin/Contents/Linux");
  if (!plist.empty()) dir.MakeFile(folder + "/" + name + ".plugin/Contents/Info.plist", plist);
  if (withExecutable) {
    fs::copy_file(Executable("FixturePlugin.plugin"),
                  bundle / "Contents" / "Linux" / (name + ".so"));
  }
  return bundle;
}

class Loader : public ::testing::Test {
protected:
  void SetUp() override {
    VPSysBeepSetHandler(NoBell);
    instances_ = VPPlugInGetInstanceCount(kMyFactoryID);
  }
  void TearDown() override {
    VPFaultDisarm();
    VPSysBeepSetHandler(nullptr);
    EXPECT_EQ(VPPlugInGetInstanceCount(kMyFactoryID), instances_) << "instances left alive";
  }
  long instances_ = 0;
};

// ---- What a bundle exports ----

TEST(BundleExports, ExactlyTheFactory) {
  for (const char *bundle : {"FixturePlugin.plugin", "Refusing.plugin", "NullFactory.plugin"}) {
    fs::path so = Executable(bundle);
    ASSERT_TRUE(fs::exists(so)) << so;
    std::string symbols = Output("nm -D --defined-only '" + so.string() + "' | awk '{print $NF}'");
    EXPECT_EQ(symbols, "MyCMMFactory\n") << bundle;
  }
  // The fault-injection build adds its block counter, nothing else.
  std::string symbols =
      Output("nm -D --defined-only '" + Executable("FixtureWrapped.plugin").string() +
             "' | awk '{print $NF}' | sort");
  EXPECT_EQ(symbols, "MyCMMFactory\nVPBundleAllocWrapLiveBlocks\n");
}

TEST(BundleLayout, InfoPlistAndResources) {
  fs::path bundle = kFixtures / "FixturePlugin.plugin";
  EXPECT_TRUE(fs::is_regular_file(bundle / "Contents/Info.plist"));
  EXPECT_TRUE(fs::is_regular_file(bundle / "Contents/Linux/FixturePlugin.so"));
  EXPECT_TRUE(fs::is_regular_file(bundle / "Contents/Resources/English.lproj/Localizable.strings"));
  std::ifstream in(bundle / "Contents/Info.plist");
  std::string plist((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(plist.find("<string>FixturePlugin</string>"), std::string::npos);
  EXPECT_EQ(plist.find('@'), std::string::npos) << "a template variable was left unfilled";
}

// ---- The search path ----

TEST(SearchPath, Order) {
  struct Case {
    const char *name;
    SearchPathSettings settings;
    std::vector<fs::path> expected;
  } cases[] = {
      {"everything",
       {{"/first"}, "/a:/b", "/xdg", "/home/u", "/usr/lib/vantlow/plugins", "/build/plugins"},
       {"/first", "/a", "/b", "/xdg/vantlow/plugins", "/usr/lib/vantlow/plugins",
        "/build/plugins"}},
      {"empty entries of the list are skipped",
       {{}, ":/a::/b:", "", "/home/u", "/usr/lib/vantlow/plugins", ""},
       {"/a", "/b", "/home/u/.local/share/vantlow/plugins", "/usr/lib/vantlow/plugins"}},
      {"a relative XDG_DATA_HOME is ignored",
       {{}, "", "relative/data", "/home/u", "/usr/lib/vantlow/plugins", ""},
       {"/home/u/.local/share/vantlow/plugins", "/usr/lib/vantlow/plugins"}},
      {"no HOME and no XDG_DATA_HOME",
       {{}, "", "", "", "/usr/lib/vantlow/plugins", ""},
       {"/usr/lib/vantlow/plugins"}},
      {"a folder is searched once, where it first appears",
       {{"/usr/lib/vantlow/plugins/"},
        "/a:/usr/lib/vantlow/plugins:/a",
        "",
        "",
        "/usr/lib/vantlow/plugins",
        ""},
       {"/usr/lib/vantlow/plugins/", "/a"}},
  };
  for (const Case &c : cases)
    EXPECT_EQ(PluginSearchPath(c.settings), c.expected) << c.name;
}

TEST(SearchPath, FromEnvironment) {
  setenv("VANTLOW_PLUGIN_PATH", "/p1:/p2", 1);
  setenv("XDG_DATA_HOME", "/data", 1);
  setenv("HOME", "/home/someone", 1);
  SearchPathSettings s = SearchPathSettings::FromEnvironment("/install", "");
  EXPECT_EQ(s.pluginPathVariable, "/p1:/p2");
  EXPECT_EQ(s.xdgDataHome, "/data");
  EXPECT_EQ(s.home, "/home/someone");
  unsetenv("VANTLOW_PLUGIN_PATH");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(SearchPathSettings::FromEnvironment("/install", "").pluginPathVariable, "");
  // This test runs from the build tree, so its bundle folder is searched.
  EXPECT_EQ(SearchPathSettings::Defaults().buildPluginFolder,
            fs::path(VANTLOW_BINARY_DIR) / "plugins");
}

TEST(SearchPath, IsInsideFolder) {
  struct Case {
    const char *path;
    const char *folder;
    bool inside;
  } cases[] = {{"/a/b/c", "/a/b", true}, {"/a/b", "/a/b", true}, {"/a/b/c", "/a/b/", true},
               {"/a/bc", "/a/b", false}, {"/a", "/a/b", false},  {"/a/b/../c", "/a/b", false},
               {"/x/y", "/", true}};
  for (const Case &c : cases)
    EXPECT_EQ(IsInsideFolder(c.path, c.folder), c.inside) << c.path << " in " << c.folder;
}

// ---- Loading ----

TEST_F(Loader, LoadsGoodBundlesAndSkipsBrokenOnes) {
  std::ostringstream diagnostics;
  StdoutCapture pluginLog;
  {
    std::vector<LoadedPlugin> plugins = PluginLoader(diagnostics).LoadAll({kFixtures});
    ASSERT_EQ(plugins.size(), 2u);
    EXPECT_EQ(plugins[0].identifier(), "org.vantlow.test.fixture");
    EXPECT_EQ(plugins[0].bundlePath(), kFixtures / "FixturePlugin.plugin");
    EXPECT_EQ(plugins[1].identifier(), "org.vantlow.test.fixture-wrapped");
    // Exactly the two kept instances live: the refused one was released.
    EXPECT_EQ(VPPlugInGetInstanceCount(kMyFactoryID), instances_ + 2);
    EXPECT_TRUE(CFBundleIsExecutableLoaded(plugins[0].bundle()));
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(CFSTR("org.vantlow.test.fixture")),
              plugins[0].bundle());
  }
  EXPECT_EQ(VPPlugInGetInstanceCount(kMyFactoryID), instances_);
  EXPECT_EQ(Lines(diagnostics.str()),
            (std::vector<std::string>{
                "vantlow: skipping plug-in " + (kFixtures / "NullFactory.plugin").string() +
                    ": factory MyCMMFactory made no instance",
                "vantlow: skipping plug-in " + (kFixtures / "Refusing.plugin").string() +
                    ": its instance does not offer the contextual-menu interface",
            }));
  // The refusing plug-in's own report of its failed query.
  EXPECT_EQ(pluginLog.Take(), "Vantlow: execution fail: error=-50, phase is 'Query'\n");
}

TEST_F(Loader, CallsReachThePlugIn) {
  std::ostringstream diagnostics;
  std::string reason;
  std::optional<LoadedPlugin> plugin =
      PluginLoader(diagnostics).Load(kFixtures / "FixturePlugin.plugin", &reason);
  ASSERT_TRUE(plugin) << reason;
  AEDescList context, commands;
  AEInitializeDesc(&context);
  ASSERT_EQ(AECreateList(nullptr, 0, false, &context), noErr);
  ASSERT_EQ(AECreateList(nullptr, 0, false, &commands), noErr);
  VPCancelLatchSet(); // left over from before: the call must not see it
  EXPECT_EQ(plugin->ExamineContext(&context, &commands), noErr);
  EXPECT_FALSE(VPCancelLatchIsSet());
  long count = 0;
  EXPECT_EQ(AECountItems(&commands, &count), noErr);
  EXPECT_EQ(count, 1) << "the fixture's ExamineContext appends one item";
  EXPECT_EQ(plugin->HandleSelection(&context, 1), noErr);
  plugin->PostMenuCleanup();
  AEDisposeDesc(&commands);
  AEDisposeDesc(&context);
  EXPECT_EQ(diagnostics.str(), "");
}

TEST_F(Loader, MovingKeepsOneReference) {
  std::ostringstream diagnostics;
  std::string reason;
  std::optional<LoadedPlugin> plugin =
      PluginLoader(diagnostics).Load(kFixtures / "FixturePlugin.plugin", &reason);
  ASSERT_TRUE(plugin) << reason;
  LoadedPlugin moved = std::move(*plugin);
  plugin.reset();
  EXPECT_EQ(VPPlugInGetInstanceCount(kMyFactoryID), instances_ + 1);
  std::vector<LoadedPlugin> held;
  held.push_back(std::move(moved));
  EXPECT_EQ(VPPlugInGetInstanceCount(kMyFactoryID), instances_ + 1);
  held.clear();
  EXPECT_EQ(VPPlugInGetInstanceCount(kMyFactoryID), instances_);
}

struct BrokenCase {
  const char *name;
  std::string plist;   // Contents/Info.plist; empty: none
  bool withExecutable; // a copy of the fixture plug-in's executable
  const char *reason;  // a text the skip line must hold
};

class BrokenBundle : public Loader, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenBundle, IsSkippedWithOneLineAndOthersStillLoad) {
  const BrokenCase &c = GetParam();
  TempDir dir;
  fs::path broken = MakeBundle(dir, "plugins", c.name, c.plist, c.withExecutable);
  MakeBundle(dir, "plugins", "ZGood",
             InfoPlist(std::string("org.vantlow.test.good-beside-") + c.name, "ZGood"), true);
  std::ostringstream diagnostics;
  std::vector<LoadedPlugin> plugins = PluginLoader(diagnostics).LoadAll({dir.path() + "/plugins"});
  ASSERT_EQ(plugins.size(), 1u) << diagnostics.str();
  EXPECT_EQ(plugins[0].identifier(), std::string("org.vantlow.test.good-beside-") + c.name);
  std::vector<std::string> lines = Lines(diagnostics.str());
  ASSERT_EQ(lines.size(), 1u) << diagnostics.str();
  const std::string prefix = "vantlow: skipping plug-in " + broken.string() + ": ";
  EXPECT_EQ(lines[0].rfind(prefix, 0), 0u) << lines[0];
  EXPECT_NE(lines[0].find(c.reason), std::string::npos) << lines[0];
}

std::string Id(const char *name) {
  return std::string("org.vantlow.test.broken.") + name;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BrokenBundle,
    ::testing::ValuesIn(std::vector<BrokenCase>{
        {"NoInfoPlist", "", true, "Info.plist is missing"},
        {"MalformedInfoPlist", "<plist version=\"1.0\"><dict><key>oops", true,
         "not a valid property list"},
        {"InfoPlistNotADictionary", "<plist version=\"1.0\"><array/></plist>", true,
         "does not hold a dictionary"},
        {"NoIdentifier", "<plist version=\"1.0\"><dict/></plist>", true, "CFBundleIdentifier"},
        {"MissingExecutable", InfoPlist(Id("MissingExecutable"), "MissingExecutable"), false,
         "MissingExecutable.so"},
        {"NoExecutableKey",
         "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>" +
             Id("NoExecutableKey") +
             "</string><key>CFPlugInFactories</key><dict><key>" VANTLOW_FACTORY_UUID
             "</key><string>MyCMMFactory</string></dict><key>CFPlugInTypes</key><dict><key>"
             "2F6522E9-3E66-11D5-80A7-003065B300BC</key><array><string>" VANTLOW_FACTORY_UUID
             "</string></array></dict></dict></plist>",
         true, "CFBundleExecutable"},
        {"MissingFactorySymbol",
         InfoPlist(Id("MissingFactorySymbol"), "MissingFactorySymbol",
                   "2F6522E9-3E66-11D5-80A7-003065B300BC", "NoSuchFactory"),
         true, "no factory function NoSuchFactory"},
        {"NotAContextualMenuPlugIn",
         InfoPlist(Id("NotAContextualMenuPlugIn"), "NotAContextualMenuPlugIn",
                   "00000000-1111-2222-3333-444444444444"),
         true, "declares no factory for the contextual-menu type"},
        {"FactoryNotDeclared",
         InfoPlist(Id("FactoryNotDeclared"), "FactoryNotDeclared",
                   "2F6522E9-3E66-11D5-80A7-003065B300BC", "MyCMMFactory", false),
         true, "has no function name in CFPlugInFactories"},
    }),
    RowName());

TEST_F(Loader, FolderProblems) {
  TempDir dir;
  dir.MakeFile("Plain.plugin", "not a folder");
  dir.MakeFile("not-a-folder", "");
  std::ostringstream diagnostics;
  std::vector<LoadedPlugin> plugins =
      PluginLoader(diagnostics)
          .LoadAll({dir.path() + "/does-not-exist", dir.path() + "/not-a-folder", dir.path()});
  EXPECT_TRUE(plugins.empty());
  EXPECT_EQ(
      Lines(diagnostics.str()),
      (std::vector<std::string>{
          "vantlow: cannot read plug-in folder " + dir.path() + "/not-a-folder: Not a directory",
          "vantlow: skipping plug-in " + dir.path() + "/Plain.plugin: not a bundle folder",
      }));
}

TEST_F(Loader, EachIdentifierAndEachBundleOnce) {
  TempDir dir;
  fs::path first =
      MakeBundle(dir, "user", "Same", InfoPlist("org.vantlow.test.same", "Same"), true);
  fs::path second =
      MakeBundle(dir, "system", "Same", InfoPlist("org.vantlow.test.same", "Same"), true);
  fs::create_directory_symlink(dir.path() + "/user", dir.path() + "/link");
  std::ostringstream diagnostics;
  std::vector<LoadedPlugin> plugins =
      PluginLoader(diagnostics)
          .LoadAll({dir.path() + "/user", dir.path() + "/link", dir.path() + "/system"});
  ASSERT_EQ(plugins.size(), 1u);
  EXPECT_EQ(plugins[0].bundlePath(), first);
  EXPECT_EQ(Lines(diagnostics.str()),
            std::vector<std::string>{"vantlow: skipping plug-in " + second.string() +
                                     ": identifier org.vantlow.test.same is already loaded from " +
                                     first.string()});
  EXPECT_EQ(VPPlugInGetInstanceCount(kMyFactoryID), instances_ + 1);
}

// ---- Allocation sweep through a loaded bundle ----
// The bundle built with WRAP_ALLOC sends its own malloc family through the
// injector too, and counts its live blocks.
TEST_F(Loader, SweepThroughTheBundle) {
  const fs::path bundlePath = kFixtures / "FixtureWrapped.plugin";
  std::ostringstream warmUp;
  long (*bundleBlocks)() = nullptr;
  {
    // Registered and loaded once for the process, outside the sweep.
    std::string reason;
    std::optional<LoadedPlugin> plugin = PluginLoader(warmUp).Load(bundlePath, &reason);
    ASSERT_TRUE(plugin) << reason;
    bundleBlocks = reinterpret_cast<long (*)()>(
        CFBundleGetFunctionPointerForName(plugin->bundle(), CFSTR("VPBundleAllocWrapLiveBlocks")));
    ASSERT_NE(bundleBlocks, nullptr);
    AEDescList context, commands;
    AEInitializeDesc(&context);
    AECreateList(nullptr, 0, false, &commands);
    StdoutCapture quiet;
    plugin->ExamineContext(&context, &commands);
    plugin->PostMenuCleanup();
    AEDisposeDesc(&commands);
  }
  int runs = vantlow_test::SweepAllocationFailures(
      [&](long n) {
        long blocks = bundleBlocks();
        std::string reason;
        bool loaded = false;
        OSStatus examined = noErr, selected = noErr;
        {
          // The plug-in's own log lines stay out of the test's output; the
          // checks come after, so that their reports are seen.
          StdoutCapture quiet;
          std::ostringstream diagnostics;
          std::optional<LoadedPlugin> plugin = PluginLoader(diagnostics).Load(bundlePath, &reason);
          loaded = plugin.has_value();
          if (plugin) {
            AEDescList context, commands;
            AEInitializeDesc(&context);
            AEInitializeDesc(&commands);
            if (AECreateList(nullptr, 0, false, &commands) == noErr) {
              examined = plugin->ExamineContext(&context, &commands);
              selected = plugin->HandleSelection(&context, 1);
              plugin->PostMenuCleanup();
            }
            AEDisposeDesc(&commands);
          }
        }
        EXPECT_EQ(loaded, reason.empty()) << n << ": " << reason;
        EXPECT_TRUE(examined == noErr || examined == memFullErr || examined == kMyNilPointerErr ||
                    examined == paramErr)
            << n << ": " << examined;
        EXPECT_TRUE(selected == noErr || selected == kMyNilPointerErr) << n << ": " << selected;
        EXPECT_EQ(bundleBlocks(), blocks) << "blocks leaked inside the bundle, allocation " << n;
      },
      false);
  EXPECT_GT(runs, 5);
}

} // namespace
