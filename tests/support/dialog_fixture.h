// Test helpers for dialogs: a bundle made in a temporary folder (Info.plist
// and resources), the project's own "Preferences" interface file and its
// strings copied into it, a scripted user that is switched off again when
// the test ends, and environment variables set for one test.
#pragma once

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/dialog_testing.h>

#include "test_support.h"

namespace dialog_test {

inline std::string Text(CFStringRef s) {
  if (!s) return "(null)";
  CFIndex length = CFStringGetLength(s), needed = 0;
  CFStringGetBytes(s, CFRangeMake(0, length), kCFStringEncodingUTF8, '?', false, nullptr, 0,
                   &needed);
  std::string out(static_cast<size_t>(needed), '\0');
  CFStringGetBytes(s, CFRangeMake(0, length), kCFStringEncodingUTF8, '?', false,
                   reinterpret_cast<UInt8 *>(out.data()), needed, &needed);
  return out;
}

// The text of a Copy result, which is released.
inline std::string Take(CFStringRef s) {
  std::string text = Text(s);
  if (s) CFRelease(s);
  return text;
}

inline std::string ReadWhole(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The project's resources, as the bundle carries them.
inline std::string SourceResource(const std::string &relative) {
  return ReadWhole(std::string(VANTLOW_SOURCE_DIR) + "/resources/" + relative);
}

// A bundle folder <tmp>/Test.plugin with an Info.plist naming identifier
// and the given files below Contents/Resources, registered with the
// platform. The registry keeps bundles for the life of the process, so each
// test bundle needs an identifier of its own.
class TestBundle {
public:
  TestBundle(const std::string &identifier, const std::map<std::string, std::string> &resources) {
    dir_.MakeFile("Test.plugin/Contents/Info.plist",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key><string>" +
                      identifier + "</string></dict></plist>\n");
    for (const auto &[relative, contents] : resources)
      dir_.MakeFile("Test.plugin/Contents/Resources/" + relative, contents);
    std::string path = dir_.path() + "/Test.plugin";
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8 *>(path.data()), static_cast<CFIndex>(path.size()),
        true);
    bundle_ = CFBundleCreate(nullptr, url);
    if (url) CFRelease(url);
    EXPECT_NE(bundle_, nullptr) << "bundle " << identifier << " not made";
  }
  ~TestBundle() {
    if (bundle_) CFRelease(bundle_);
  }
  TestBundle(const TestBundle &) = delete;
  TestBundle &operator=(const TestBundle &) = delete;

  CFBundleRef get() const { return bundle_; }
  std::string resources() const { return dir_.path() + "/Test.plugin/Contents/Resources"; }

private:
  vantlow_test::TempDir dir_;
  CFBundleRef bundle_ = nullptr;
};

// The "Preferences" interface file with its English and German strings.
inline std::map<std::string, std::string> PreferencesResources() {
  return {
      {"Preferences.dialog.plist", SourceResource("Preferences.dialog.plist")},
      {"English.lproj/Preferences.strings", SourceResource("English.lproj/Preferences.strings")},
      {"de.lproj/Preferences.strings", SourceResource("de.lproj/Preferences.strings")},
  };
}

// A scripted user for one test: every modal loop takes the steps added to
// the script; the script ends (and the terminal is never used) with the
// object.
class ScriptedUser {
public:
  ScriptedUser() { VPScriptBegin(); }
  ~ScriptedUser() { VPScriptEnd(); }
  ScriptedUser(const ScriptedUser &) = delete;
  ScriptedUser &operator=(const ScriptedUser &) = delete;

  // The failures the script recorded, one per line ("" when none).
  static std::string Failures() {
    char text[4096];
    VPScriptCopyFailures(text, sizeof text);
    return text;
  }
};

// Environment variables set for one test.
using vantlow_test::ScopedEnv;

constexpr OSType kPrfs = 0x50726673; // 'Prfs'
constexpr ControlID kRadioGroupID = {kPrfs, 3};
constexpr ControlID kCheckboxID = {kPrfs, 4};

} // namespace dialog_test
