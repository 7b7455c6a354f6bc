// What the tests that drive a plug-in bundle through the host's library
// share: menu items written by hand (menu_items.h), the command list and
// scrap read back, loading a bundle through the host's loader and
// calling it with its log lines kept out of the test's output, and a fixture
// that prepares the process as the host does for the Vantlow bundle (its own
// configuration and runtime folders, English, a UTF-8 locale, no bell, an
// empty scrap) and checks afterwards that no handler was left installed.
#pragma once

#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/carbon_testing.h>
#include <vantlow/platform_testing.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "loader.h"
#include "menu_items.h"
#include "menu_model.h"
#include "test_support.h"

namespace vantlow_test {

// The identifier of the Vantlow bundle, which names its preferences file.
inline constexpr char kVantlowIdentifier[] = "org.vantlow.filesize";

// ---- Reading what the host reads ----

// The items of a command list (a failure when it cannot be read).
inline std::vector<vantlow::host::MenuItem>
CommandListItems(const vantlow::host::AEDescHolder &commands) {
  std::vector<vantlow::host::MenuItem> items;
  std::string problem;
  EXPECT_EQ(vantlow::host::ReadCommandList(*commands.get(), &items, &problem), noErr) << problem;
  return items;
}

// What the scrap holds now (a failure when it cannot be read).
inline vantlow::host::ScrapText CurrentScrap() {
  vantlow::host::ScrapText scrap;
  EXPECT_EQ(vantlow::host::ReadScrap(&scrap), noErr);
  return scrap;
}

// ---- The environment ----

// Environment variables as they were when saved, put back by Restore or
// when the object goes.
class SavedEnvironment {
public:
  SavedEnvironment() = default;
  explicit SavedEnvironment(std::initializer_list<const char *> names) { Save(names); }
  ~SavedEnvironment() { Restore(); }
  SavedEnvironment(const SavedEnvironment &) = delete;
  SavedEnvironment &operator=(const SavedEnvironment &) = delete;

  // Notes the present values of names (unset ones as unset).
  void Save(std::initializer_list<const char *> names) {
    for (const char *name : names) {
      const char *value = std::getenv(name);
      saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
    }
  }

  // Puts every noted variable back; what is restored is forgotten, so a
  // second call does nothing.
  void Restore() {
    for (const auto &[name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
    saved_.clear();
  }

private:
  std::map<std::string, std::optional<std::string>> saved_;
};

// ---- Calling a bundle ----

// Calls fn with what the plug-in prints kept out of the test's output.
template <typename Fn> auto Quietly(Fn &&fn) {
  StdoutCapture capture;
  return fn();
}

// Loads one bundle folder through the host's loader, as the command does.
// On failure: nothing, with the reason in *reason.
inline std::optional<vantlow::host::LoadedPlugin> LoadBundle(const std::filesystem::path &bundle,
                                                             std::string *reason) {
  std::ostringstream diagnostics; // Load reports through *reason only
  return vantlow::host::PluginLoader(diagnostics).Load(bundle, reason);
}

// The count of blocks the bundle built with the allocation wraps still
// holds; null for a bundle built without them.
using LiveBlocksFunction = long (*)();
inline LiveBlocksFunction LiveBlocksOf(const vantlow::host::LoadedPlugin &plugin) {
  return reinterpret_cast<LiveBlocksFunction>(
      CFBundleGetFunctionPointerForName(plugin.bundle(), CFSTR("VPBundleAllocWrapLiveBlocks")));
}

// Makes *commands a new command list and has the plug-in fill it for
// context; what the plug-in prints goes to *log (when given), not to the
// test's output. Returns ExamineContext's result; a command list that cannot
// be made is a failure, returned without calling the plug-in.
inline OSStatus ExamineQuietly(const vantlow::host::LoadedPlugin &plugin, const AEDesc *context,
                               vantlow::host::AEDescHolder *commands, std::string *log = nullptr) {
  const OSStatus made = vantlow::host::MakeCommandList(commands);
  if (made != noErr) {
    ADD_FAILURE() << "MakeCommandList: " << made;
    return made;
  }
  StdoutCapture capture;
  const OSStatus status = plugin.ExamineContext(context, commands->get());
  const std::string printed = capture.Take();
  if (log) *log = printed;
  return status;
}

// ---- The fixture ----

inline void NoBell() {}

// The process as the host prepares it for the Vantlow bundle: preferences
// and scrap in temporary folders of the test's own (the variables put back
// afterwards), English, a UTF-8 locale, a silent bell and an empty scrap.
// Every test must leave as many handlers installed on the application
// target as it found.
class BundleHostTest : public ::testing::Test {
protected:
  void SetUp() override {
    std::setlocale(LC_ALL, "C.UTF-8");
    saved_.Save({"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "LANGUAGE"});
    setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
    setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
    setenv("LANGUAGE", "en", 1);
    VPPreferencesResetForTesting();
    VPSysBeepSetHandler(NoBell);
    ASSERT_EQ(ClearCurrentScrap(), noErr);
    handlers_ = VPEventTargetCountHandlers(GetApplicationEventTarget());
  }

  void TearDown() override {
    VPFaultDisarm();
    VPSyscallReset();
    VPSysBeepSetHandler(nullptr);
    EXPECT_EQ(VPEventTargetCountHandlers(GetApplicationEventTarget()), handlers_)
        << "a handler was left installed";
    saved_.Restore();
    VPPreferencesResetForTesting();
    std::setlocale(LC_ALL, "C");
  }

  // Loads the bundle with what it prints kept out of the test's output; a
  // bundle that does not load is a failure, with the loader's reason.
  static std::optional<vantlow::host::LoadedPlugin>
  LoadQuietly(const std::filesystem::path &bundle) {
    std::string reason;
    std::optional<vantlow::host::LoadedPlugin> plugin =
        Quietly([&] { return LoadBundle(bundle, &reason); });
    EXPECT_TRUE(plugin) << reason;
    return plugin;
  }

  std::filesystem::path PreferencesFile() const {
    return std::filesystem::path(config_.path()) / "vantlow" /
           (std::string(kVantlowIdentifier) + ".plist");
  }

  // Stores a property list whose top dictionary holds `entries` (XML) as
  // the bundle's preferences, read afresh from then on.
  void WritePreferences(const std::string &entries) {
    std::filesystem::create_directories(PreferencesFile().parent_path());
    std::ofstream out(PreferencesFile());
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" << entries
        << "</dict></plist>\n";
    out.close();
    VPPreferencesResetForTesting();
  }

  TempDir config_, runtime_;
  SavedEnvironment saved_;
  ItemCount handlers_ = 0; // installed on the application target before the test
};

} // namespace vantlow_test
