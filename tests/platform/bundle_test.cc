// Bundles on real folders: reading Info.plist and refusing broken bundles,
// the registry, resources, localized strings under each language setting,
// refused strings tables, loading the executable, and plug-in instance
// counts.
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using vantlow_test::TempDir;

// The factory the fixture bundle declares, written in lower case in its
// Info.plist: 2F6522E9-3E66-11D5-80A7-003065B300BC.
const char kFactoryText[] = "2f6522e9-3e66-11d5-80a7-003065b300bc";
CFUUIDRef FixtureFactory() {
  return CFUUIDGetConstantUUIDWithBytes(nullptr, 0x2F, 0x65, 0x22, 0xE9, 0x3E, 0x66, 0x11, 0xD5,
                                        0x80, 0xA7, 0x00, 0x30, 0x65, 0xB3, 0x00, 0xBC);
}
CFUUIDRef UndeclaredFactory() {
  return CFUUIDGetConstantUUIDWithBytes(nullptr, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                                        0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00);
}

std::string ToUTF8(CFStringRef s) {
  if (!s) return "<null>";
  char buf[4096];
  if (!CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingUTF8)) return "<unconvertible>";
  return buf;
}

// Takes over a Create/Copy result: its text, and it is released.
std::string Take(CFStringRef s) {
  std::string text = ToUTF8(s);
  if (s) CFRelease(s);
  return text;
}

CFStringRef Str(const std::string &utf8) {
  return CFStringCreateWithCString(nullptr, utf8.c_str(), kCFStringEncodingUTF8);
}

std::string PathOf(CFURLRef url) {
  if (!url) return "<null>";
  UInt8 buf[4096];
  if (!CFURLGetFileSystemRepresentation(url, true, buf, sizeof buf)) return "<too long>";
  return reinterpret_cast<char *>(buf);
}

std::string TakePath(CFURLRef url) {
  std::string path = PathOf(url);
  if (url) CFRelease(url);
  return path;
}

CFURLRef URLFor(const std::string &path) {
  return CFURLCreateFromFileSystemRepresentation(nullptr,
                                                 reinterpret_cast<const UInt8 *>(path.data()),
                                                 static_cast<CFIndex>(path.size()), true);
}

// Bundles stay registered for the life of the process, so every fixture
// bundle gets an identifier of its own.
std::string UniqueId(const std::string &stem) {
  static int counter = 0;
  return "org.vantlow.test." + stem + "." + std::to_string(++counter);
}

std::string InfoPlist(const std::string &identifier, const std::string &extra = "") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n"
         "  <key>CFBundleIdentifier</key>\n  <string>" +
         identifier + "</string>\n" + extra + "</dict>\n</plist>\n";
}

// Text as UTF-16LE with a byte-order mark.
std::string UTF16LE(const std::u16string &text) {
  std::string out = "\xFF\xFE";
  for (char16_t u : text) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out;
}

// Makes <dir>/<folder> with the files given (relative path -> contents) and
// returns the bundle made from it, or null (then *error holds the reason).
CFBundleRef MakeBundle(const TempDir &dir, const std::string &folder,
                       const std::map<std::string, std::string> &files,
                       std::string *error = nullptr) {
  std::string root = dir.MakeDir(folder);
  for (const auto &[relative, contents] : files)
    dir.MakeFile(folder + "/" + relative, contents);
  CFURLRef url = URLFor(root);
  CFStringRef why = nullptr;
  CFBundleRef bundle = VPBundleCreate(url, &why);
  if (url) CFRelease(url);
  std::string text = Take(why);
  if (error) *error = text;
  return bundle;
}

// Sets the four language variables (null: unset) and restores them after.
class LanguageEnv {
public:
  LanguageEnv(const char *language, const char *lcAll, const char *lcMessages, const char *lang) {
    const char *values[] = {language, lcAll, lcMessages, lang};
    for (int i = 0; i < 4; ++i) {
      const char *old = std::getenv(kNames[i]);
      saved_[i] = old ? std::optional<std::string>(old) : std::nullopt;
      Set(kNames[i], values[i]);
    }
  }
  ~LanguageEnv() {
    for (int i = 0; i < 4; ++i)
      Set(kNames[i], saved_[i] ? saved_[i]->c_str() : nullptr);
  }

private:
  static void Set(const char *name, const char *value) {
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  static constexpr const char *kNames[4] = {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
  std::optional<std::string> saved_[4];
};

// Captures what is written to file descriptor 2.
class StderrCapture {
public:
  StderrCapture() {
    std::fflush(stderr);
    char name[] = "/tmp/vantlow-stderr-XXXXXX";
    int fd = mkstemp(name);
    file_ = name;
    saved_ = dup(2);
    dup2(fd, 2);
    close(fd);
  }
  ~StderrCapture() { Take(); }
  std::string Take() {
    if (saved_ < 0) return {};
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
    std::ifstream in(file_, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(file_.c_str());
    return text;
  }

private:
  int saved_ = -1;
  std::string file_;
};

// ---- The fixture bundle shared by the suite ----

class FixtureBundle : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    identifier_ = new std::string(UniqueId("fixture"));
    std::string extra = "  <key>CFBundleExecutable</key>\n  <string>Fixture</string>\n"
                        "  <key>CFPlugInFactories</key>\n  <dict>\n    <key>" +
                        std::string(kFactoryText) +
                        "</key>\n    <string>FixtureFactory</string>\n  </dict>\n";
    std::string error;
    bundle_ = MakeBundle(
        *dir_, "Fixture.plugin",
        {{"Contents/Info.plist", InfoPlist(*identifier_, extra)},
         {"Contents/Resources/English.lproj/Localizable.strings",
          "/* English */\n\"Greeting\" = \"Hello\";\n\"OnlyEnglish\" = \"English only\";\n"
          "\"%ld file(s)\" = \"%ld file(s)\";\n"},
         {"Contents/Resources/German.lproj/Localizable.strings",
          UTF16LE(u"\"Greeting\" = \"Hallo\";\n\"Size\" = \"Gr\u00F6\u00DFe\";\n")},
         {"Contents/Resources/German.lproj/Other.strings", "\"Greeting\" = \"Servus\";\n"},
         {"Contents/Resources/English.lproj/Other.strings", "\"OtherOnly\" = \"Other English\";\n"},
         {"Contents/Resources/Preferences.dialog.plist", "<plist/>"},
         {"Contents/Resources/German.lproj/Flag.png", "de"},
         {"Contents/Resources/English.lproj/Flag.png", "en"},
         {"Contents/Resources/Sub/Thing.txt", "thing"}},
        &error);
    ASSERT_NE(bundle_, nullptr) << error;
  }
  // The bundle stays registered (and so alive) for the process; only the
  // caller's reference and the folder go.
  static void TearDownTestSuite() {
    if (bundle_) CFRelease(bundle_);
    delete identifier_;
    delete dir_;
  }
  void SetUp() override {
    if (!bundle_) GTEST_SKIP() << "the fixture bundle could not be made";
  }
  static std::string Resources() { return dir_->path() + "/Fixture.plugin/Contents/Resources"; }

  static TempDir *dir_;
  static std::string *identifier_;
  static CFBundleRef bundle_;
};

TempDir *FixtureBundle::dir_ = nullptr;
std::string *FixtureBundle::identifier_ = nullptr;
CFBundleRef FixtureBundle::bundle_ = nullptr;

TEST_F(FixtureBundle, IsFoundByItsIdentifierAndTellsItsInfo) {
  CFStringRef id = Str(*identifier_);
  EXPECT_EQ(CFBundleGetBundleWithIdentifier(id), bundle_);
  EXPECT_TRUE(CFEqual(CFBundleGetIdentifier(bundle_), id));
  CFRelease(id);
  EXPECT_EQ(CFBundleGetBundleWithIdentifier(CFSTR("org.vantlow.test.nobody")), nullptr);
  EXPECT_EQ(CFGetTypeID(bundle_), CFBundleGetTypeID());

  EXPECT_EQ(ToUTF8(static_cast<CFStringRef>(
                CFBundleGetValueForInfoDictionaryKey(bundle_, kCFBundleExecutableKey))),
            "Fixture");
  EXPECT_EQ(CFBundleGetValueForInfoDictionaryKey(bundle_, CFSTR("NoSuchKey")), nullptr);
  CFDictionaryRef info = CFBundleGetInfoDictionary(bundle_);
  ASSERT_NE(info, nullptr);
  EXPECT_TRUE(
      CFEqual(CFDictionaryGetValue(info, kCFBundleIdentifierKey), CFBundleGetIdentifier(bundle_)));
  EXPECT_EQ(TakePath(CFBundleCopyBundleURL(bundle_)), dir_->path() + "/Fixture.plugin");
  EXPECT_EQ(TakePath(CFBundleCopyExecutableURL(bundle_)),
            dir_->path() + "/Fixture.plugin/Contents/Linux/Fixture.so");
}

TEST_F(FixtureBundle, SameFolderGivesTheSameBundleHoweverItIsReached) {
  std::string link = dir_->path() + "/Link.plugin";
  fs::create_directory_symlink(dir_->path() + "/Fixture.plugin", link);
  for (const std::string &path :
       {dir_->path() + "/Fixture.plugin", dir_->path() + "/./Fixture.plugin/", link}) {
    CFURLRef url = URLFor(path);
    CFIndex before = CFGetRetainCount(bundle_);
    CFBundleRef again = CFBundleCreate(nullptr, url);
    CFRelease(url);
    EXPECT_EQ(again, bundle_) << path;
    EXPECT_EQ(CFGetRetainCount(bundle_), before + 1) << path;
    if (again) CFRelease(again);
  }
}

TEST(Bundle, FirstRegisteredOfTwoWithOneIdentifierIsFound) {
  TempDir dir;
  std::string id = UniqueId("twice");
  CFBundleRef first = MakeBundle(dir, "A.plugin", {{"Contents/Info.plist", InfoPlist(id)}});
  CFBundleRef second = MakeBundle(dir, "B.plugin", {{"Contents/Info.plist", InfoPlist(id)}});
  ASSERT_TRUE(first && second);
  EXPECT_NE(first, second);
  CFStringRef key = Str(id);
  EXPECT_EQ(CFBundleGetBundleWithIdentifier(key), first);
  CFRelease(key);
  CFRelease(first);
  CFRelease(second);
}

// ---- Broken bundles ----

struct BrokenCase {
  const char *name;
  std::map<std::string, std::string> files;
  const char *reasonPart;
};

const std::vector<BrokenCase> &BrokenCases() {
  static const std::vector<BrokenCase> cases = {
      {"NoInfoPlist", {{"Contents/Resources/x", ""}}, "missing"},
      {"MalformedXML", {{"Contents/Info.plist", "<plist><dict><key>a</key>"}}, "property list"},
      {"NotAPropertyList", {{"Contents/Info.plist", "hello"}}, "property list"},
      {"EmptyInfoPlist", {{"Contents/Info.plist", ""}}, "property list"},
      {"TopIsAnArray",
       {{"Contents/Info.plist", "<?xml version=\"1.0\"?><plist "
                                "version=\"1.0\"><array><string>x</string></array></plist>"}},
       "dictionary"},
      {"NoIdentifier",
       {{"Contents/Info.plist", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                                "<key>CFBundleExecutable</key><string>X</string></dict></plist>"}},
       "CFBundleIdentifier"},
      {"IdentifierNotAString",
       {{"Contents/Info.plist",
         "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
         "<key>CFBundleIdentifier</key><integer>7</integer></dict></plist>"}},
       "CFBundleIdentifier"},
      {"EmptyIdentifier", {{"Contents/Info.plist", InfoPlist("")}}, "CFBundleIdentifier"},
      {"InfoPlistIsAFolder", {{"Contents/Info.plist/x", ""}}, "regular file"},
  };
  return cases;
}

class BrokenBundle : public ::testing::TestWithParam<BrokenCase> {};

TEST_P(BrokenBundle, IsRefusedWithItsReasonAndNotRegistered) {
  TempDir dir;
  std::string error;
  long objects = VPLiveObjectCount();
  CFBundleRef bundle = MakeBundle(dir, "Broken.plugin", GetParam().files, &error);
  EXPECT_EQ(bundle, nullptr);
  EXPECT_NE(error.find(GetParam().reasonPart), std::string::npos) << error;
  EXPECT_EQ(VPLiveObjectCount(), objects);
  if (bundle) CFRelease(bundle);
}

INSTANTIATE_TEST_SUITE_P(Table, BrokenBundle, ::testing::ValuesIn(BrokenCases()),
                         [](const auto &row) { return std::string(row.param.name); });

TEST(Bundle, WhatIsNotABundleFolderIsRefused) {
  TempDir dir;
  std::string file = dir.MakeFile("plain.txt", "x");
  for (const std::string &path : {dir.path() + "/missing.plugin", file}) {
    CFURLRef url = URLFor(path);
    CFStringRef error = nullptr;
    EXPECT_EQ(VPBundleCreate(url, &error), nullptr) << path;
    EXPECT_NE(error, nullptr) << path;
    if (error) CFRelease(error);
    EXPECT_EQ(CFBundleCreate(nullptr, url), nullptr) << path;
    CFRelease(url);
  }
  CFStringRef error = nullptr;
  EXPECT_EQ(VPBundleCreate(nullptr, &error), nullptr);
  EXPECT_EQ(Take(error), "not a file URL");
}

TEST(Bundle, AllocationFailuresWhileReadingLeakNothing) {
  TempDir dir;
  std::string id = UniqueId("sweep");
  dir.MakeFile("S.plugin/Contents/Info.plist",
               InfoPlist(id, "  <key>CFPlugInFactories</key>\n  <dict>\n    <key>"
                             "0A0B0C0D-0000-1111-2222-333344445555</key>\n"
                             "    <string>F</string>\n  </dict>\n"));
  CFURLRef url = URLFor(dir.path() + "/S.plugin");
  ASSERT_NE(url, nullptr);
  CFUUIDRef factory =
      CFUUIDGetConstantUUIDWithBytes(nullptr, 0x0A, 0x0B, 0x0C, 0x0D, 0, 0, 0x11, 0x11, 0x22, 0x22,
                                     0x33, 0x33, 0x44, 0x44, 0x55, 0x55);
  CFBundleRef bundle = nullptr;
  for (long n = 1; n < 10000 && !bundle; ++n) {
    long objects = VPLiveObjectCount(), blocks = VPLiveAllocationCount();
    VPFaultArm(n, false);
    bundle = CFBundleCreate(nullptr, url);
    long failed = VPFaultFailedCount();
    VPFaultDisarm();
    if (bundle) break;
    ASSERT_GT(failed, 0) << "refused without a failure, allocation " << n;
    EXPECT_EQ(VPLiveObjectCount(), objects) << "allocation " << n;
    EXPECT_EQ(VPLiveAllocationCount(), blocks) << "allocation " << n;
    // A failed attempt neither registers the bundle nor its factory.
    CFStringRef key = Str(id);
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(key), nullptr) << "allocation " << n;
    CFRelease(key);
    EXPECT_EQ(VPPlugInGetBundleForFactory(factory), nullptr) << "allocation " << n;
  }
  ASSERT_NE(bundle, nullptr);
  EXPECT_EQ(VPPlugInGetBundleForFactory(factory), bundle);
  CFRelease(bundle);
  CFRelease(url);
}

// ---- Resources ----

struct ResourceCase {
  const char *name;
  const char *lang;
  const char *resource, *type, *subdir;
  const char *expected; // relative to Contents/Resources; null: none
};

const ResourceCase kResourceCases[] = {
    {"Unlocalized", "de_DE.UTF-8", "Preferences", "dialog.plist", nullptr,
     "Preferences.dialog.plist"},
    {"TypeWithDot", "C", "Preferences", ".dialog.plist", nullptr, "Preferences.dialog.plist"},
    {"WholeNameWithoutType", "C", "Preferences.dialog.plist", nullptr, nullptr,
     "Preferences.dialog.plist"},
    {"UserLanguageFirst", "de_DE.UTF-8", "Flag", "png", nullptr, "German.lproj/Flag.png"},
    {"EnglishWhenLanguageLacksIt", "fr_FR.UTF-8", "Flag", "png", nullptr, "English.lproj/Flag.png"},
    {"SubFolder", "C", "Thing", "txt", "Sub", "Sub/Thing.txt"},
    {"Missing", "C", "Nothing", "png", nullptr, nullptr},
    {"NameWithSlash", "C", "../Info", "plist", nullptr, nullptr},
    {"NameDotDot", "C", "..", nullptr, nullptr, nullptr},
    {"TypeWithSlash", "C", "Info", "plist/x", nullptr, nullptr},
    {"SubFolderLeadingOut", "C", "Info", "plist", "..", nullptr},
    {"SubFolderAbsolute", "C", "passwd", nullptr, "/etc", nullptr},
};

class FixtureResource : public FixtureBundle, public ::testing::WithParamInterface<ResourceCase> {};

TEST_P(FixtureResource, IsFoundInTheRightFolderOrNotAtAll) {
  const ResourceCase &c = GetParam();
  LanguageEnv env(nullptr, nullptr, nullptr, c.lang);
  CFStringRef name = Str(c.resource);
  CFStringRef type = c.type ? Str(c.type) : nullptr;
  CFStringRef sub = c.subdir ? Str(c.subdir) : nullptr;
  std::string found = TakePath(CFBundleCopyResourceURL(bundle_, name, type, sub));
  EXPECT_EQ(found, c.expected ? Resources() + "/" + c.expected : "<null>");
  CFRelease(name);
  if (type) CFRelease(type);
  if (sub) CFRelease(sub);
}

INSTANTIATE_TEST_SUITE_P(Table, FixtureResource, ::testing::ValuesIn(kResourceCases),
                         [](const auto &row) { return std::string(row.param.name); });

// ---- Localized strings ----

struct LocalizedCase {
  const char *name;
  const char *language, *lcAll, *lcMessages, *lang; // null: unset
  const char *key, *value, *table;                  // value/table null: not given
  const char *expected;
};

const LocalizedCase kLocalizedCases[] = {
    {"GermanLocale", nullptr, nullptr, nullptr, "de_DE.UTF-8", "Greeting", nullptr, nullptr,
     "Hallo"},
    {"GermanWithModifier", nullptr, nullptr, nullptr, "de_DE.UTF-8@euro", "Greeting", nullptr,
     nullptr, "Hallo"},
    {"GermanFromUTF16Table", nullptr, nullptr, nullptr, "de", "Size", nullptr, nullptr,
     "Gr\xC3\xB6\xC3\x9F"
     "e"},
    {"FrenchFallsBackToEnglish", nullptr, nullptr, nullptr, "fr", "Greeting", nullptr, nullptr,
     "Hello"},
    {"CIsEnglish", nullptr, nullptr, nullptr, "C", "Greeting", nullptr, nullptr, "Hello"},
    {"POSIXIsEnglish", nullptr, nullptr, nullptr, "POSIX", "Greeting", nullptr, nullptr, "Hello"},
    {"NothingSetIsEnglish", nullptr, nullptr, nullptr, nullptr, "Greeting", nullptr, nullptr,
     "Hello"},
    {"UnparsableIsEnglish", nullptr, nullptr, nullptr, "?!", "Greeting", nullptr, nullptr, "Hello"},
    {"MissingInGermanTakesEnglish", nullptr, nullptr, nullptr, "de_DE.UTF-8", "OnlyEnglish",
     nullptr, nullptr, "English only"},
    {"MissingEverywhereIsTheKey", nullptr, nullptr, nullptr, "de_DE.UTF-8", "Nowhere", nullptr,
     nullptr, "Nowhere"},
    {"MissingEverywhereIsTheValue", nullptr, nullptr, nullptr, "de_DE.UTF-8", "Nowhere", "Default",
     nullptr, "Default"},
    {"FoundTextBeatsTheValue", nullptr, nullptr, nullptr, "de", "Greeting", "Default", nullptr,
     "Hallo"},
    {"LanguageListFirstUsable", "fr:xx_YY:de_AT", nullptr, nullptr, "C", "Greeting", nullptr,
     nullptr, "Hallo"},
    {"LanguageBeforeEverything", "de", "C", "C", "C", "Greeting", nullptr, nullptr, "Hallo"},
    {"LanguageListWithoutFolderIsEnglish", "fr:it", nullptr, nullptr, "de", "Greeting", nullptr,
     nullptr, "Hello"},
    {"EmptyLanguageIsIgnored", "", nullptr, nullptr, "de", "Greeting", nullptr, nullptr, "Hallo"},
    {"LcAllBeforeLcMessages", nullptr, "de_DE.UTF-8", "C", "C", "Greeting", nullptr, nullptr,
     "Hallo"},
    {"LcMessagesBeforeLang", nullptr, nullptr, "de", "fr", "Greeting", nullptr, nullptr, "Hallo"},
    {"SetLcAllDecidesEvenWhenEnglish", nullptr, "C", nullptr, "de", "Greeting", nullptr, nullptr,
     "Hello"},
    {"NamedTable", nullptr, nullptr, nullptr, "de", "Greeting", nullptr, "Other", "Servus"},
    {"NamedTableFallsBackToItsEnglish", nullptr, nullptr, nullptr, "de", "OtherOnly", nullptr,
     "Other", "Other English"},
    {"NamedTableThatDoesNotExist", nullptr, nullptr, nullptr, "de", "Greeting", nullptr, "Nope",
     "Greeting"},
    {"EmptyTableNameIsLocalizable", nullptr, nullptr, nullptr, "de", "Greeting", nullptr, "",
     "Hallo"},
    {"TableNameLeadingOutIsNotRead", nullptr, nullptr, nullptr, "de", "Greeting", nullptr,
     "../German.lproj/Localizable", "Greeting"},
};

class FixtureLocalized : public FixtureBundle,
                         public ::testing::WithParamInterface<LocalizedCase> {};

TEST_P(FixtureLocalized, GivesTheTextOfTheUsersLanguage) {
  const LocalizedCase &c = GetParam();
  LanguageEnv env(c.language, c.lcAll, c.lcMessages, c.lang);
  CFStringRef key = Str(c.key);
  CFStringRef value = c.value ? Str(c.value) : nullptr;
  CFStringRef table = c.table ? Str(c.table) : nullptr;
  EXPECT_EQ(Take(CFBundleCopyLocalizedString(bundle_, key, value, table)), c.expected);
  CFRelease(key);
  if (value) CFRelease(value);
  if (table) CFRelease(table);
}

INSTANTIATE_TEST_SUITE_P(Table, FixtureLocalized, ::testing::ValuesIn(kLocalizedCases),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(FixtureBundle, LocalizedStringWithoutKeyOrBundle) {
  LanguageEnv env(nullptr, nullptr, nullptr, "de");
  EXPECT_EQ(Take(CFBundleCopyLocalizedString(bundle_, nullptr, nullptr, nullptr)), "");
  EXPECT_EQ(Take(CFBundleCopyLocalizedString(bundle_, nullptr, CFSTR("v"), nullptr)), "v");
  EXPECT_EQ(Take(CFBundleCopyLocalizedString(nullptr, CFSTR("Greeting"), nullptr, nullptr)),
            "Greeting");
}

TEST_F(FixtureBundle, ResultIsACopyOfAMutableValue) {
  LanguageEnv env(nullptr, nullptr, nullptr, "C");
  CFMutableStringRef value = CFStringCreateMutable(nullptr, 0);
  CFStringAppendCString(value, "before", kCFStringEncodingUTF8);
  CFStringRef result = CFBundleCopyLocalizedString(bundle_, CFSTR("Nowhere"), value, nullptr);
  CFStringAppendCString(value, " and after", kCFStringEncodingUTF8);
  EXPECT_EQ(Take(result), "before");
  CFRelease(value);
}

TEST_F(FixtureBundle, AllocationFailuresGiveNullOrTheRightText) {
  LanguageEnv env(nullptr, nullptr, nullptr, "de_DE.UTF-8");
  // Constants are made once for the process, so before the sweep.
  CFStringRef onlyEnglish = CFSTR("OnlyEnglish"), greeting = CFSTR("Greeting"),
              other = CFSTR("Other");
  for (bool repeat : {false, true}) {
    VPBundleForgetCaches(bundle_);
    int runs = vantlow_test::SweepAllocationFailures(
        [&](long) {
          CFStringRef text = CFBundleCopyLocalizedString(bundle_, onlyEnglish, nullptr, nullptr);
          if (text) {
            EXPECT_EQ(Take(text), "English only");
          }
          text = CFBundleCopyLocalizedString(bundle_, greeting, nullptr, other);
          if (text) {
            EXPECT_EQ(Take(text), "Servus");
          }
          VPBundleForgetCaches(bundle_);
        },
        repeat);
    EXPECT_GT(runs, 20) << "the sweep reached too few allocations";
  }
}

// ---- Choosing the language folder ----

struct FolderCase {
  const char *name;
  std::vector<std::string> folders; // under Contents/Resources, without ".lproj"
  const char *plainFile;            // a file (not a folder) there, or null
  const char *lang;
  const char *expected; // null: none
};

const std::vector<FolderCase> &FolderCases() {
  static const std::vector<FolderCase> cases = {
      {"RegionFolderFirst", {"de_DE", "de", "German", "English"}, nullptr, "de_DE.UTF-8", "de_DE"},
      {"LanguageFolderNext", {"de_DE", "de", "German", "English"}, nullptr, "de_AT.UTF-8", "de"},
      {"TraditionalName", {"German", "English"}, nullptr, "de_AT.UTF-8", "German"},
      {"OtherTraditionalNames", {"Japanese", "English"}, nullptr, "ja_JP.UTF-8", "Japanese"},
      {"DutchTraditionalName", {"Dutch", "en"}, nullptr, "nl_BE", "Dutch"},
      {"ThreeDigitRegion", {"es_419", "es"}, nullptr, "es_419.UTF-8", "es_419"},
      {"ScriptIsNoRegion", {"zh", "English"}, nullptr, "zh_Hans", "zh"},
      {"EnglishFolderFirst", {"English", "en"}, nullptr, "fr_FR", "English"},
      {"EnFolderWhenNoEnglish", {"en"}, nullptr, "fr_FR", "en"},
      {"EnglishLanguageFindsEnBeforeEnglish", {"English", "en"}, nullptr, "C", "en"},
      {"NoFolders", {}, nullptr, "de", nullptr},
      {"AFileIsNoFolder", {}, "German.lproj", "de", nullptr},
  };
  return cases;
}

class LanguageFolder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(LanguageFolder, IsTheFirstCandidateTheBundleHas) {
  const FolderCase &c = GetParam();
  TempDir dir;
  std::map<std::string, std::string> files = {{"Contents/Info.plist", InfoPlist(UniqueId("lang"))},
                                              {"Contents/Resources/x", ""}};
  for (const std::string &f : c.folders)
    files["Contents/Resources/" + f + ".lproj/x"] = "";
  if (c.plainFile) files["Contents/Resources/" + std::string(c.plainFile)] = "";
  std::string error;
  CFBundleRef bundle = MakeBundle(dir, "L.plugin", files, &error);
  ASSERT_NE(bundle, nullptr) << error;
  LanguageEnv env(nullptr, nullptr, nullptr, c.lang);
  CFStringRef folder = VPBundleCopyPreferredLocalization(bundle);
  EXPECT_EQ(Take(folder), c.expected ? c.expected : "<null>");
  CFRelease(bundle);
}

INSTANTIATE_TEST_SUITE_P(Table, LanguageFolder, ::testing::ValuesIn(FolderCases()),
                         [](const auto &row) { return std::string(row.param.name); });

// ---- Tables that are refused ----

struct RefusedCase {
  const char *name;
  std::string english, german; // contents of the two Localizable.strings ("" for none)
  const char *failOpenOf;      // make openat of this file fail with EIO, or null
  const char *expected;        // the text of "Greeting" with LANG=de
  const char *reportedFile;    // the file the stderr line names
  const char *reportedPart;    // and what else it says
};

const std::vector<RefusedCase> &RefusedCases() {
  static const std::vector<RefusedCase> cases = {
      {"MalformedOnlyTable", "\"Greeting\" = \"Hello\";\n\"Other\" = \"x\"\n", "", nullptr,
       "Greeting", "English.lproj/Localizable.strings", ":2: missing ';'"},
      {"MalformedGermanFallsBackToEnglish", "\"Greeting\" = \"Hello\";\n",
       "\"Greeting\" = \"Hallo;\n", nullptr, "Hello", "German.lproj/Localizable.strings",
       ":1: unterminated string"},
      {"UnreadableGermanFallsBackToEnglish", "\"Greeting\" = \"Hello\";\n",
       "\"Greeting\" = \"Hallo\";\n", "German.lproj/Localizable.strings", "Hello",
       "German.lproj/Localizable.strings", ": Input/output error"},
  };
  return cases;
}

class RefusedTable : public ::testing::TestWithParam<RefusedCase> {
protected:
  void TearDown() override { VPSyscallReset(); }
};

TEST_P(RefusedTable, IsReportedOnceAndItsKeysFallBack) {
  const RefusedCase &c = GetParam();
  TempDir dir;
  std::map<std::string, std::string> files = {{"Contents/Info.plist", InfoPlist(UniqueId("bad"))}};
  files["Contents/Resources/English.lproj/Localizable.strings"] = c.english;
  files["Contents/Resources/German.lproj/" +
        std::string(c.german.empty() ? "x" : "Localizable.strings")] = c.german;
  std::string error;
  CFBundleRef bundle = MakeBundle(dir, "R.plugin", files, &error);
  ASSERT_NE(bundle, nullptr) << error;
  LanguageEnv env(nullptr, nullptr, nullptr, "de_DE.UTF-8");
  if (c.failOpenOf) {
    ASSERT_TRUE(VPSyscallFail("openat", 1, EIO, true, c.failOpenOf));
  }

  StderrCapture capture;
  std::string first =
      Take(CFBundleCopyLocalizedString(bundle, CFSTR("Greeting"), nullptr, nullptr));
  std::string second =
      Take(CFBundleCopyLocalizedString(bundle, CFSTR("Greeting"), nullptr, nullptr));
  std::string other = Take(CFBundleCopyLocalizedString(bundle, CFSTR("Other"), nullptr, nullptr));
  std::string report = capture.Take();

  EXPECT_EQ(first, c.expected);
  EXPECT_EQ(second, c.expected);
  EXPECT_EQ(other, "Other");
  std::string file = dir.path() + "/R.plugin/Contents/Resources/" + c.reportedFile;
  EXPECT_EQ(report.rfind("vantlow: " + file + c.reportedPart, 0), 0u) << report;
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 1) << report;
  CFRelease(bundle);
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedTable, ::testing::ValuesIn(RefusedCases()),
                         [](const auto &row) { return std::string(row.param.name); });

// ---- The executable ----

struct LoadCase {
  const char *name;
  const char *executableKey; // CFBundleExecutable, or null for none
  const char *file;          // what Contents/Linux/Plug.so is: "module", "text", or null
  bool loads;
  const char *errorPart;
};

const LoadCase kLoadCases[] = {
    {"Module", "Plug", "module", true, ""},
    {"NoExecutableKey", nullptr, "module", false, "CFBundleExecutable"},
    {"ExecutableKeyWithSlash", "../Plug", "module", false, "CFBundleExecutable"},
    {"MissingFile", "Plug", nullptr, false, "Contents/Linux/Plug.so: No such file"},
    {"NotAnELFFile", "Plug", "text", false, "Plug.so"},
};

class BundleLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(BundleLoad, LoadsTheModuleOrSaysWhyNot) {
  const LoadCase &c = GetParam();
  TempDir dir;
  std::string extra;
  if (c.executableKey)
    extra = std::string("  <key>CFBundleExecutable</key>\n  <string>") + c.executableKey +
            "</string>\n";
  std::map<std::string, std::string> files = {
      {"Contents/Info.plist", InfoPlist(UniqueId("load"), extra)}};
  if (c.file && std::string(c.file) == "text") files["Contents/Linux/Plug.so"] = "not a library\n";
  std::string error;
  CFBundleRef bundle = MakeBundle(dir, "X.plugin", files, &error);
  ASSERT_NE(bundle, nullptr) << error;
  fs::create_directories(dir.path() + "/X.plugin/Contents/Linux");
  if (c.file && std::string(c.file) == "module")
    fs::copy_file(VANTLOW_BUNDLE_TEST_MODULE, dir.path() + "/X.plugin/Contents/Linux/Plug.so");

  CFStringRef why = nullptr;
  EXPECT_EQ(VPBundleLoadExecutable(bundle, &why) != 0, c.loads);
  std::string reason = Take(why);
  EXPECT_EQ(CFBundleIsExecutableLoaded(bundle) != 0, c.loads);
  using Answer = int (*)(void);
  auto answer = reinterpret_cast<Answer>(
      CFBundleGetFunctionPointerForName(bundle, CFSTR("VantlowBundleTestAnswer")));
  if (c.loads) {
    EXPECT_EQ(reason, "<null>");
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(CFBundleGetFunctionPointerForName(bundle, CFSTR("NoSuchFunction")), nullptr);
    EXPECT_TRUE(VPBundleLoadExecutable(bundle, nullptr)); // already loaded
  } else {
    EXPECT_NE(reason.find(c.errorPart), std::string::npos) << reason;
    EXPECT_EQ(answer, nullptr);
  }
  CFRelease(bundle);
}

INSTANTIATE_TEST_SUITE_P(Table, BundleLoad, ::testing::ValuesIn(kLoadCases),
                         [](const auto &row) { return std::string(row.param.name); });

TEST(BundleLoad, FunctionLookupLoadsTheExecutableFirst) {
  TempDir dir;
  std::string extra = "  <key>CFBundleExecutable</key>\n  <string>Plug</string>\n";
  CFBundleRef bundle =
      MakeBundle(dir, "Y.plugin", {{"Contents/Info.plist", InfoPlist(UniqueId("lazy"), extra)}});
  ASSERT_NE(bundle, nullptr);
  fs::create_directories(dir.path() + "/Y.plugin/Contents/Linux");
  fs::copy_file(VANTLOW_BUNDLE_TEST_MODULE, dir.path() + "/Y.plugin/Contents/Linux/Plug.so");
  EXPECT_FALSE(CFBundleIsExecutableLoaded(bundle));
  EXPECT_NE(CFBundleGetFunctionPointerForName(bundle, CFSTR("VantlowBundleTestAnswer")), nullptr);
  EXPECT_TRUE(CFBundleIsExecutableLoaded(bundle));
  CFRelease(bundle);
}

// ---- Plug-in instances ----

struct CountStep {
  enum Op { kAdd, kRemove } op;
  bool declared; // the fixture's factory, or one no bundle declares
  CFIndex declaredAfter, undeclaredAfter;
};

TEST_F(FixtureBundle, PlugInInstanceCountsFollowAddAndRemoveWithoutUnderflow) {
  const CountStep steps[] = {
      {CountStep::kRemove, true, 0, 0}, // never added: ignored
      {CountStep::kAdd, true, 1, 0},     {CountStep::kAdd, true, 2, 0},
      {CountStep::kAdd, false, 2, 1},    {CountStep::kRemove, true, 1, 1},
      {CountStep::kRemove, false, 1, 0}, {CountStep::kRemove, false, 1, 0},
      {CountStep::kRemove, true, 0, 0},  {CountStep::kRemove, true, 0, 0},
      {CountStep::kAdd, true, 1, 0},     {CountStep::kRemove, true, 0, 0},
  };
  int i = 0;
  for (const CountStep &s : steps) {
    CFUUIDRef factory = s.declared ? FixtureFactory() : UndeclaredFactory();
    if (s.op == CountStep::kAdd)
      CFPlugInAddInstanceForFactory(factory);
    else
      CFPlugInRemoveInstanceForFactory(factory);
    EXPECT_EQ(VPPlugInGetInstanceCount(FixtureFactory()), s.declaredAfter) << "step " << i;
    EXPECT_EQ(VPPlugInGetInstanceCount(UndeclaredFactory()), s.undeclaredAfter) << "step " << i;
    ++i;
  }
}

TEST_F(FixtureBundle, FactoriesAreComparedByValue) {
  // Declared in lower case, asked for with an object of its own.
  CFUUIDRef same = CFUUIDCreateFromString(nullptr, CFSTR("2F6522E9-3E66-11D5-80A7-003065B300BC"));
  ASSERT_NE(same, nullptr);
  EXPECT_EQ(VPPlugInGetBundleForFactory(same), bundle_);
  EXPECT_EQ(VPPlugInGetBundleForFactory(UndeclaredFactory()), nullptr);
  CFPlugInAddInstanceForFactory(same);
  EXPECT_EQ(VPPlugInGetInstanceCount(FixtureFactory()), 1);
  CFPlugInRemoveInstanceForFactory(FixtureFactory());
  EXPECT_EQ(VPPlugInGetInstanceCount(same), 0);
  CFRelease(same);
  // What is not a UUID is not a factory.
  CFPlugInAddInstanceForFactory(reinterpret_cast<CFUUIDRef>(CFSTR("x")));
  EXPECT_EQ(VPPlugInGetInstanceCount(reinterpret_cast<CFUUIDRef>(CFSTR("x"))), 0);
}

TEST(PlugIn, CountingAnUndeclaredFactoryHoldsNoMemoryOnceDone) {
  CFUUIDRef factory = UndeclaredFactory(); // made before the sweep: it lives for the process
  int runs = vantlow_test::SweepAllocationFailures(
      [&](long) {
        CFPlugInAddInstanceForFactory(factory);
        EXPECT_LE(VPPlugInGetInstanceCount(factory), 1);
        CFPlugInRemoveInstanceForFactory(factory);
        EXPECT_EQ(VPPlugInGetInstanceCount(factory), 0);
      },
      false);
  EXPECT_GT(runs, 1) << "the sweep reached too few allocations";
}

} // namespace
