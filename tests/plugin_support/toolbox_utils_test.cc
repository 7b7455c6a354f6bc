// The toolbox utilities: the system version and the bundle asked once per
// process, paths to references and FSRef data, the access byte, the text on
// the clipboard byte for byte in both flavors, and the cancel keys.
#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/carbon_testing.h>
#include <vantlow/platform_testing.h>
#include <vantlow/toolbox_testing.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

#include "fs_test_util.h"
#include "test_support.h"
#include "toolbox_utils.h"

namespace {

namespace fs = std::filesystem;
using support_test::PathString;
using support_test::RefFor;
using support_test::RunInChild;
using support_test::TreeTest;
using vantlow_test::ReadFile;
using vantlow_test::ScopedEnv;

std::string Hex(long value) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%lx", value);
  return text;
}

// ---- GetOSVersion ----

// Each row runs in a child of its own, so the version cache starts empty.
struct VersionCase {
  const char *name;
  SInt32 version;
  OSErr result;
  std::string answers; // of two calls, with Gestalt's answer changed between them
};

void PrintTo(const VersionCase &row, std::ostream *os) {
  *os << row.name;
}

class OSVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(OSVersion, GestaltIsAskedOnce) {
  const VersionCase &c = GetParam();
  const std::string answers = RunInChild([&] {
    VPGestaltSetSystemVersion(c.version, c.result);
    const SInt32 first = GetOSVersion();
    VPGestaltSetSystemVersion(0x1099, noErr); // a second question would see this
    const SInt32 second = GetOSVersion();
    return Hex(first) + " " + Hex(second);
  });
  EXPECT_EQ(answers, c.answers);
}

INSTANTIATE_TEST_SUITE_P(
    Gestalt, OSVersion,
    ::testing::ValuesIn(std::vector<VersionCase>{
        {"Answered", 0x1034, noErr, "0x1034 0x1034"},
        {"FailedReadsAsBefore10_2", 0, gestaltUndefSelectorErr, "0x1000 0x1000"},
    }),
    [](const ::testing::TestParamInfo<VersionCase> &row) { return std::string(row.param.name); });

// ---- GetMyBundle ----

TEST_F(TreeTest, BundleIsKeptOnceFoundButAMissIsAskedAgain) {
  dir_.MakeFile("Found.plugin/Contents/Info.plist",
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                "<plist version=\"1.0\"><dict>"
                "<key>CFBundleIdentifier</key><string>org.vantlow.test.found</string>"
                "</dict></plist>\n");
  const std::string bundlePath = P("Found.plugin");
  const std::string answers = RunInChild([&] {
    std::string text = GetMyBundle(CFSTR("org.vantlow.test.found")) ? "found" : "null";
    CFStringRef path = PathString(bundlePath);
    CFURLRef url = CFURLCreateWithFileSystemPath(nullptr, path, kCFURLPOSIXPathStyle, true);
    CFBundleRef bundle = CFBundleCreate(nullptr, url);
    CFRelease(url);
    CFRelease(path);
    if (!bundle) return std::string("cannot make the bundle");
    text += GetMyBundle(CFSTR("org.vantlow.test.found")) == bundle ? " bundle" : " other";
    text += GetMyBundle(CFSTR("org.vantlow.test.unknown")) == bundle ? " bundle" : " other";
    CFRelease(bundle);
    return text;
  });
  EXPECT_EQ(answers, "null bundle bundle");
}

// ---- Paths, references and FSRef data ----

struct PathCase {
  const char *name;
  const char *relative; // null: a null path
  bool nullRef;
  bool exists; // an item is at the path
};

void PrintTo(const PathCase &row, std::ostream *os) {
  *os << row.name;
}

class RefForPath : public TreeTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(RefForPath, ResolvesExistingItemsOnly) {
  const PathCase &c = GetParam();
  dir_.MakeFile("file.txt", "x");
  dir_.MakeDir("folder");
  dir_.MakeFile("caf\xe9", "not UTF-8");
  CFStringRef path = c.relative ? PathString(P(c.relative)) : nullptr;
  FSRef ref;
  EXPECT_EQ(GetFileRefForPath(path, c.nullRef ? nullptr : &ref), c.exists && !c.nullRef);
  if (c.exists && !c.nullRef) {
    const FSRef expected = RefFor(P(c.relative));
    EXPECT_EQ(FSCompareFSRefs(&ref, &expected), noErr);
  }
  CFDataRef data = CopyFileRefDataForPath(path);
  EXPECT_EQ(data != nullptr, c.exists);
  if (data) {
    ASSERT_EQ(CFDataGetLength(data), static_cast<CFIndex>(sizeof(FSRef)));
    EXPECT_EQ(support_test::PathOfData(data), P(c.relative));
    CFRelease(data);
  }
  if (path) CFRelease(path);
}

INSTANTIATE_TEST_SUITE_P(Paths, RefForPath,
                         ::testing::ValuesIn(std::vector<PathCase>{
                             {"File", "file.txt", false, true},
                             {"Folder", "folder", false, true},
                             {"NameThatIsNotUTF8", "caf\xe9", false, true},
                             {"Missing", "missing", false, false},
                             {"InsideAFile", "file.txt/x", false, false},
                             {"NullPath", nullptr, false, false},
                             {"NullRef", "file.txt", true, true},
                         }),
                         [](const ::testing::TestParamInfo<PathCase> &row) {
                           return std::string(row.param.name);
                         });

TEST_F(TreeTest, FileRefDataHoldsTheReferenceBytes) {
  const FSRef ref = RefFor(dir_.MakeFile("a"));
  CFDataRef data = CopyFileRefDataForRef(&ref);
  ASSERT_NE(data, nullptr);
  ASSERT_EQ(CFDataGetLength(data), static_cast<CFIndex>(sizeof ref));
  EXPECT_EQ(std::memcmp(CFDataGetBytePtr(data), ref.hidden, sizeof ref), 0);
  CFRelease(data);
  EXPECT_EQ(CopyFileRefDataForRef(nullptr), nullptr);
}

// ---- GetUserAccessPerm ----

struct AccessCase {
  const char *name;
  const char *relative;
  const char *failCall; // a system call made to fail with failErrno, or null
  int failErrno;
  bool removeFirst;
  bool nullByte;
  OSStatus status;
  int access; // -1: the byte keeps its old value
};

void PrintTo(const AccessCase &row, std::ostream *os) {
  *os << row.name;
}

class AccessPerm : public TreeTest, public ::testing::WithParamInterface<AccessCase> {};

TEST_P(AccessPerm, ReportsTheCatalogsAnswer) {
  const AccessCase &c = GetParam();
  const std::string folder = dir_.MakeDir("folder");
  const std::string file = dir_.MakeFile("file", "x");
  chmod(file.c_str(), 0644);
  const FSRef ref = RefFor(P(c.relative));
  if (c.removeFirst) std::filesystem::remove(P(c.relative));
  if (c.failCall) {
    ASSERT_TRUE(VPSyscallFail(c.failCall, 1, c.failErrno, true, nullptr));
  }
  UInt8 access = 0xEE;
  EXPECT_EQ(GetUserAccessPerm(&ref, c.nullByte ? nullptr : &access), c.status);
  EXPECT_EQ(access, c.access < 0 ? 0xEE : c.access);
}

INSTANTIATE_TEST_SUITE_P(
    Items, AccessPerm,
    ::testing::ValuesIn(std::vector<AccessCase>{
        {"Folder", "folder", nullptr, 0, false, false, noErr, 7},
        // Search on a file needs an execute bit, for root too.
        {"PlainFile", "file", nullptr, 0, false, false, noErr, 6},
        {"NullByteStillAsks", "folder", nullptr, 0, false, true, noErr, -1},
        {"Gone", "file", nullptr, 0, true, false, fnfErr, -1},
        {"IOError", "folder", "faccessat", EIO, false, false, ioErr, -1},
        {"NullByteReportsTheError", "file", nullptr, 0, true, true, fnfErr, -1},
    }),
    [](const ::testing::TestParamInfo<AccessCase> &row) { return std::string(row.param.name); });

TEST(AccessPermArguments, NullReferenceIsRefused) {
  UInt8 access = 0xEE;
  EXPECT_EQ(GetUserAccessPerm(nullptr, &access), paramErr);
  EXPECT_EQ(access, 0xEE);
}

// ---- SetTextToScrap ----

// Switches the process's locale until destroyed; ok() is false when the
// machine lacks it.
class ScopedLocale {
public:
  explicit ScopedLocale(const char *name) : ok_(std::setlocale(LC_ALL, name) != nullptr) {}
  ~ScopedLocale() { std::setlocale(LC_ALL, "C"); }
  bool ok() const { return ok_; }

private:
  bool ok_;
};

std::string Bytes(const std::u16string &units) {
  return std::string(reinterpret_cast<const char *>(units.data()), units.size() * sizeof(char16_t));
}

CFStringRef MakeText(const std::u16string &units) {
  return CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar *>(units.data()),
                                      static_cast<CFIndex>(units.size()));
}

// The scrap lives in a fresh runtime folder per test.
class ScrapTest : public TreeTest {
protected:
  ScrapTest() : runtime_(dir_.MakeDir("run")), env_("XDG_RUNTIME_DIR", runtime_) {}

  fs::path Folder() const { return fs::path(runtime_) / "vantlow" / "scrap"; }

  // The flavors in the order they were put, with their files' bytes.
  std::vector<std::pair<std::string, std::string>> Flavors() const {
    std::vector<std::pair<std::string, std::string>> flavors;
    ScrapRef scrap = nullptr;
    EXPECT_EQ(GetCurrentScrap(&scrap), noErr);
    std::vector<std::string> names;
    VPScrapVisitFlavors(
        scrap,
        [](ScrapFlavorType type, const void *, Size, void *context) -> Boolean {
          std::string name;
          for (int shift = 24; shift >= 0; shift -= 8)
            name.push_back(static_cast<char>(type >> shift));
          static_cast<std::vector<std::string> *>(context)->push_back(name);
          return true;
        },
        &names);
    for (const std::string &name : names) {
      flavors.emplace_back(name, ReadFile(Folder() / name));
    }
    return flavors;
  }

  void PutEarlierContents() {
    ScrapRef scrap = nullptr;
    ASSERT_EQ(ClearCurrentScrap(), noErr);
    ASSERT_EQ(GetCurrentScrap(&scrap), noErr);
    ASSERT_EQ(PutScrapFlavor(scrap, kScrapFlavorTypeText, 0, 3, "old"), noErr);
    ASSERT_EQ(PutScrapFlavor(scrap, 0x58595A5A /* 'XYZZ' */, 0, 1, "x"), noErr);
  }

  std::string runtime_;
  ScopedEnv env_;
};

struct ScrapCase {
  const char *name;
  const char *locale;
  std::u16string text;
  std::string textFlavor;
};

void PrintTo(const ScrapCase &row, std::ostream *os) {
  *os << row.name;
}

class ScrapText : public ScrapTest, public ::testing::WithParamInterface<ScrapCase> {};

TEST_P(ScrapText, BothFlavorsReplaceTheClipboardByteForByte) {
  const ScrapCase &c = GetParam();
  ScopedLocale locale(c.locale);
  if (!locale.ok()) GTEST_SKIP() << "locale " << c.locale << " is missing";
  PutEarlierContents();
  CFStringRef text = MakeText(c.text);
  EXPECT_EQ(SetTextToScrap(text, 0), noErr);
  CFRelease(text);
  const std::vector<std::pair<std::string, std::string>> expected = {{"utxt", Bytes(c.text)},
                                                                     {"TEXT", c.textFlavor}};
  EXPECT_EQ(Flavors(), expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, ScrapText,
                         ::testing::ValuesIn(std::vector<ScrapCase>{
                             {"Ascii", "C", u"12 files", "12 files"},
                             {"AccentUnderAscii", "C", u"caf\u00e9", "caf?"},
                             {"AccentUnderUtf8", "C.UTF-8", u"caf\u00e9", "caf\xc3\xa9"},
                             {"PairIsOneCharacter", "C", u"a\U0001F600b", "a?b"},
                             {"PairUnderUtf8", "C.UTF-8", u"a\U0001F600b",
                              "a\xf0\x9f\x98\x80"
                              "b"},
                             // A file-name byte that is not text stays in 'utxt' only.
                             {"FileNameByteUnderUtf8", "C.UTF-8", u"x\xdce9y", "x?y"},
                         }),
                         [](const ::testing::TestParamInfo<ScrapCase> &row) {
                           return std::string(row.param.name);
                         });

TEST_F(ScrapTest, NullOrEmptyTextLeavesTheClipboardAlone) {
  PutEarlierContents();
  const auto before = Flavors();
  EXPECT_EQ(SetTextToScrap(CFSTR(""), 0), paramErr);
  EXPECT_EQ(SetTextToScrap(nullptr, 0), paramErr);
  EXPECT_EQ(Flavors(), before);
}

TEST_F(ScrapTest, ClearingErrorIsReturned) {
  ScopedEnv missing("XDG_RUNTIME_DIR", P("no-such-folder"));
  EXPECT_EQ(SetTextToScrap(CFSTR("x"), 0), fnfErr);
}

TEST_F(ScrapTest, FailedTextFlavorLeavesUnicodeAlone) {
  ASSERT_TRUE(VPSyscallFail("renameat", 1, EIO, true, "TEXT"));
  EXPECT_EQ(SetTextToScrap(CFSTR("ab"), 0), ioErr);
  const std::vector<std::pair<std::string, std::string>> expected = {{"utxt", Bytes(u"ab")}};
  EXPECT_EQ(Flavors(), expected);
}

TEST_F(ScrapTest, FailedUnicodeFlavorLeavesTheClipboardEmpty) {
  PutEarlierContents();
  ASSERT_TRUE(VPSyscallFail("renameat", 1, EIO, true, "utxt"));
  EXPECT_EQ(SetTextToScrap(CFSTR("ab"), 0), ioErr);
  EXPECT_TRUE(Flavors().empty());
}

TEST_F(ScrapTest, AllocationSweepNeverReportsACopyThatDidNotHappen) {
  const std::vector<std::pair<std::string, std::string>> full = {{"utxt", Bytes(u"3 files")},
                                                                 {"TEXT", "3 files"}};
  vantlow_test::SweepAllocationFailures(
      [&](long n) {
        const OSStatus status = SetTextToScrap(CFSTR("3 files"), 0);
        VPFaultDisarm();
        if (status == noErr) {
          EXPECT_EQ(Flavors(), full) << "allocation " << n;
        } else {
          EXPECT_EQ(status, memFullErr) << "allocation " << n;
          const auto flavors = Flavors();
          EXPECT_TRUE(flavors.empty() || (flavors.size() == 1 && flavors[0] == full[0]))
              << "allocation " << n;
        }
      },
      false);
}

// ---- UserCanceled ----

struct KeyCase {
  const char *name;
  std::vector<UInt16> keys;
  bool latch;
  OSStatus status;
};

void PrintTo(const KeyCase &row, std::ostream *os) {
  *os << row.name;
}

class CancelKeys : public ::testing::TestWithParam<KeyCase> {
protected:
  void TearDown() override {
    VPTestSetKeyMap(nullptr);
    VPCancelLatchClear();
  }
};

TEST_P(CancelKeys, CommandPeriodOrEscapeCancels) {
  const KeyCase &c = GetParam();
  KeyMapByteArray map = {};
  for (UInt16 key : c.keys)
    map[key / 8] = static_cast<UInt8>(map[key / 8] | (1u << (key % 8)));
  VPTestSetKeyMap(map);
  if (c.latch) VPCancelLatchSet();
  EXPECT_EQ(UserCanceled(), c.status);
}

constexpr UInt16 kCommand = 55, kPeriod = 47, kEscape = 53, kShift = 56, kOption = 58, kA = 0;

INSTANTIATE_TEST_SUITE_P(
    Keys, CancelKeys,
    ::testing::ValuesIn(std::vector<KeyCase>{
        {"Nothing", {}, false, noErr},
        {"CommandAlone", {kCommand}, false, noErr},
        {"PeriodAlone", {kPeriod}, false, noErr},
        {"CommandA", {kCommand, kA}, false, noErr},
        {"CommandPeriod", {kCommand, kPeriod}, false, userCanceledErr},
        {"CommandOptionPeriod", {kCommand, kOption, kPeriod}, false, userCanceledErr},
        {"Escape", {kEscape}, false, userCanceledErr},
        {"ShiftEscape", {kShift, kEscape}, false, userCanceledErr},
        {"CancelLatch", {}, true, userCanceledErr},
    }),
    [](const ::testing::TestParamInfo<KeyCase> &row) { return std::string(row.param.name); });

} // namespace
