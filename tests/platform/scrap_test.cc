// The Scrap Manager's files: flavors byte for byte under their names, clear,
// replacing one text with another, writes that never leave a partial file,
// the folder's location and privacy, reading back in put order, and the
// failure paths under the allocation sweep.
#include <Carbon/Scrap.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using vantlow_test::ReadFile;
using vantlow_test::ScopedEnv;
using vantlow_test::TempDir;

// A flavor code from its four characters.
constexpr ScrapFlavorType Code(const char (&c)[5]) {
  return static_cast<ScrapFlavorType>(static_cast<UInt8>(c[0]) << 24 |
                                      static_cast<UInt8>(c[1]) << 16 |
                                      static_cast<UInt8>(c[2]) << 8 | static_cast<UInt8>(c[3]));
}

constexpr ScrapFlavorType kUtxt = kScrapFlavorTypeUnicode;
constexpr ScrapFlavorType kText = kScrapFlavorTypeText;

// Every name in a folder, sorted; empty when the folder does not exist.
std::vector<std::string> Names(const fs::path &folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator(folder, ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

ScrapRef CurrentScrap() {
  ScrapRef scrap = nullptr;
  EXPECT_EQ(noErr, GetCurrentScrap(&scrap));
  return scrap;
}

OSStatus Put(ScrapFlavorType flavor, const std::string &bytes) {
  return PutScrapFlavor(CurrentScrap(), flavor, kScrapFlavorMaskNone,
                        static_cast<Size>(bytes.size()), bytes.data());
}

// What GetScrapFlavorSize and GetScrapFlavorData report, or nullopt for
// noTypeErr.
std::optional<std::string> Get(ScrapFlavorType flavor) {
  Size size = -1;
  OSStatus status = GetScrapFlavorSize(CurrentScrap(), flavor, &size);
  if (status == noTypeErr) {
    EXPECT_EQ(0, size);
    return std::nullopt;
  }
  EXPECT_EQ(noErr, status);
  std::string bytes(static_cast<size_t>(size), '\0');
  Size count = size;
  EXPECT_EQ(noErr, GetScrapFlavorData(CurrentScrap(), flavor, &count, bytes.data()));
  EXPECT_EQ(size, count);
  return bytes;
}

// XDG_RUNTIME_DIR points at a fresh folder; HOME at another, so a fallback
// to ~/.cache shows.
class ScrapTest : public ::testing::Test {
protected:
  ScrapTest()
      : runtime_(tmp_.MakeDir("run")), home_(tmp_.MakeDir("home")),
        runtimeEnv_("XDG_RUNTIME_DIR", runtime_), homeEnv_("HOME", home_) {}
  void TearDown() override { VPSyscallReset(); }

  fs::path Folder() const { return fs::path(runtime_) / "vantlow" / "scrap"; }

  TempDir tmp_;
  std::string runtime_;
  std::string home_;
  ScopedEnv runtimeEnv_;
  ScopedEnv homeEnv_;
};

TEST_F(ScrapTest, FlavorsAreStoredByteForByte) {
  const std::u16string text(u"Größe\0€", 7); // includes a zero unit
  const std::string utxt(reinterpret_cast<const char *>(text.data()), text.size() * 2);
  const std::string bytes("\xff\x00\x7f\x80 size\n", 10);
  ASSERT_EQ(noErr, ClearCurrentScrap());
  ASSERT_EQ(noErr, Put(kUtxt, utxt));
  ASSERT_EQ(noErr, Put(kText, bytes));

  EXPECT_EQ(Names(Folder()), (std::vector<std::string>{"TEXT", "utxt"}));
  EXPECT_EQ(utxt, ReadFile(Folder() / "utxt"));
  EXPECT_EQ(bytes, ReadFile(Folder() / "TEXT"));
  EXPECT_EQ(utxt, Get(kUtxt));
  EXPECT_EQ(bytes, Get(kText));
  for (const fs::path &p : {Folder(), Folder().parent_path()}) {
    struct stat st;
    ASSERT_EQ(0, stat(p.c_str(), &st));
    EXPECT_EQ(0700u, st.st_mode & 0777) << p;
  }
}

struct NameCase {
  const char *name;
  ScrapFlavorType flavor;
  const char *file;
};

class ScrapNameTest : public ScrapTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(ScrapNameTest, FlavorFileIsNamedAfterTheFlavor) {
  const NameCase &c = GetParam();
  ASSERT_EQ(noErr, ClearCurrentScrap());
  ASSERT_EQ(noErr, Put(c.flavor, c.name));
  EXPECT_EQ(Names(Folder()), std::vector<std::string>{c.file});
  EXPECT_EQ(std::string(c.name), Get(c.flavor));
  EXPECT_EQ(std::nullopt, Get(c.flavor ^ 1)) << "a neighbouring flavor must not alias it";
}

const NameCase kNameCases[] = {
    {"unicode", Code("utxt"), "utxt"},
    {"text", Code("TEXT"), "TEXT"},
    {"digits_and_marks", Code("a_1-"), "a_1-"},
    {"slash", Code("a/b."), "0x612f622e"},
    {"dots", Code("..ab"), "0x2e2e6162"},
    {"space", Code("ab c"), "0x61622063"},
    {"control_bytes", 0x00000001, "0x00000001"},
    {"high_bytes", static_cast<ScrapFlavorType>(0xFF00AA55), "0xff00aa55"},
};

INSTANTIATE_TEST_SUITE_P(Flavors, ScrapNameTest, ::testing::ValuesIn(kNameCases),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(ScrapTest, ClearRemovesFlavorsAndStaleTemporariesOnly) {
  ASSERT_EQ(noErr, ClearCurrentScrap());
  ASSERT_EQ(noErr, Put(kUtxt, "u"));
  ASSERT_EQ(noErr, Put(Code("a/b."), "odd"));
  std::ofstream(Folder() / ".scrap-tmp-99999-1") << "left by a crashed writer";
  std::ofstream(Folder() / "notes.txt") << "not ours";

  ASSERT_EQ(noErr, ClearCurrentScrap());
  EXPECT_EQ(Names(Folder()), std::vector<std::string>{"notes.txt"});
  EXPECT_EQ(std::nullopt, Get(kUtxt));
  EXPECT_EQ(std::nullopt, Get(Code("a/b.")));
}

// Copying a second text replaces the whole first one: a flavor the second
// copy does not put must not survive from the first.
TEST_F(ScrapTest, NewTextReplacesEveryFlavorOfTheOld) {
  ASSERT_EQ(noErr, ClearCurrentScrap());
  ASSERT_EQ(noErr, Put(kUtxt, "first utxt"));
  ASSERT_EQ(noErr, Put(kText, "first TEXT"));
  ASSERT_EQ(noErr, ClearCurrentScrap());
  ASSERT_EQ(noErr, Put(kUtxt, "second"));
  EXPECT_EQ(std::string("second"), Get(kUtxt));
  EXPECT_EQ(std::nullopt, Get(kText));
}

TEST_F(ScrapTest, SecondPutOfAFlavorIsRefusedAndKeepsTheFirst) {
  ASSERT_EQ(noErr, ClearCurrentScrap());
  ASSERT_EQ(noErr, Put(kUtxt, "first"));
  EXPECT_EQ(duplicateScrapFlavorErr, Put(kUtxt, "second"));
  EXPECT_EQ(std::string("first"), Get(kUtxt));
  EXPECT_EQ(Names(Folder()), std::vector<std::string>{"utxt"});
}

TEST_F(ScrapTest, EmptyFlavorDiffersFromAMissingOne) {
  ASSERT_EQ(noErr, ClearCurrentScrap());
  ASSERT_EQ(noErr, PutScrapFlavor(CurrentScrap(), kText, kScrapFlavorMaskNone, 0, nullptr));
  EXPECT_EQ(std::string(), Get(kText));
  EXPECT_EQ(std::nullopt, Get(kUtxt));
}

struct BadPutCase {
  const char *name;
  bool foreignScrap;
  ScrapFlavorType flavor;
  ScrapFlavorFlags flags;
  Size size;
  bool nullData;
  OSStatus status;
};

class ScrapBadPutTest : public ScrapTest, public ::testing::WithParamInterface<BadPutCase> {};

TEST_P(ScrapBadPutTest, IsRefusedWithoutTouchingTheScrap) {
  const BadPutCase &c = GetParam();
  ASSERT_EQ(noErr, ClearCurrentScrap());
  int foreign = 0;
  ScrapRef scrap = c.foreignScrap ? reinterpret_cast<ScrapRef>(&foreign) : CurrentScrap();
  const char data[4] = {'d', 'a', 't', 'a'};
  EXPECT_EQ(c.status,
            PutScrapFlavor(scrap, c.flavor, c.flags, c.size, c.nullData ? nullptr : data));
  EXPECT_TRUE(Names(Folder()).empty());
}

const BadPutCase kBadPutCases[] = {
    {"negative_size", false, kText, 0, -1, false, paramErr},
    {"null_data_with_size", false, kText, 0, 4, true, paramErr},
    {"flavor_zero", false, 0, 0, 4, false, paramErr},
    {"unknown_flags", false, kText, 0x100, 4, false, paramErr},
    {"foreign_scrap_ref", true, kText, 0, 4, false, badScrapRefErr},
};

INSTANTIATE_TEST_SUITE_P(Arguments, ScrapBadPutTest, ::testing::ValuesIn(kBadPutCases),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(ScrapTest, ReadingWithANullScrapRefIsRefused) {
  Size size = 5;
  EXPECT_EQ(badScrapRefErr, GetScrapFlavorSize(nullptr, kText, &size));
  EXPECT_EQ(paramErr, GetScrapFlavorSize(CurrentScrap(), kText, nullptr));
  EXPECT_EQ(paramErr, GetCurrentScrap(nullptr));
}

TEST_F(ScrapTest, ShortBufferReceivesAPrefix) {
  ASSERT_EQ(noErr, ClearCurrentScrap());
  ASSERT_EQ(noErr, Put(kText, "0123456789"));
  char buffer[4] = {};
  Size count = sizeof buffer;
  EXPECT_EQ(noErr, GetScrapFlavorData(CurrentScrap(), kText, &count, buffer));
  EXPECT_EQ(4, count);
  EXPECT_EQ("0123", std::string(buffer, 4));
}

// A write that fails at any step leaves neither the flavor nor a temporary
// file: readers never see part of a flavor.
struct FailedWriteCase {
  const char *name;
  const char *call;
  int err;
  OSStatus status;
};

class ScrapFailedWriteTest : public ScrapTest,
                             public ::testing::WithParamInterface<FailedWriteCase> {};

TEST_P(ScrapFailedWriteTest, LeavesNothingBehind) {
  const FailedWriteCase &c = GetParam();
  ASSERT_EQ(noErr, ClearCurrentScrap());
  ASSERT_EQ(noErr, Put(kUtxt, "kept"));
  ASSERT_TRUE(VPSyscallFail(c.call, 1, c.err, FALSE, nullptr));
  EXPECT_EQ(c.status, Put(kText, std::string(100000, 'x')));
  VPSyscallReset();
  EXPECT_EQ(Names(Folder()), std::vector<std::string>{"utxt"});
  EXPECT_EQ(std::string("kept"), Get(kUtxt));
  EXPECT_EQ(noErr, Put(kText, "later")) << "a failed put must not block the next one";
}

const FailedWriteCase kFailedWriteCases[] = {
    {"write_no_space", "write", ENOSPC, ioErr},
    {"write_io", "write", EIO, ioErr},
    {"stamp", "futimens", EIO, ioErr},
    {"fsync", "fsync", EIO, ioErr},
    {"rename", "renameat", EACCES, afpAccessDenied},
};

INSTANTIATE_TEST_SUITE_P(Steps, ScrapFailedWriteTest, ::testing::ValuesIn(kFailedWriteCases),
                         [](const auto &row) { return std::string(row.param.name); });

// Where the scrap lives when XDG_RUNTIME_DIR cannot be used.
struct FallbackCase {
  const char *name;
  std::optional<std::string> runtime;
};

class ScrapFallbackTest : public ScrapTest, public ::testing::WithParamInterface<FallbackCase> {};

TEST_P(ScrapFallbackTest, UsesTheCacheFolderInHome) {
  const FallbackCase &c = GetParam();
  ScopedEnv runtime("XDG_RUNTIME_DIR", c.runtime);
  const std::string cwd = fs::current_path();
  fs::current_path(tmp_.path()); // a relative value must not land here
  ASSERT_EQ(noErr, ClearCurrentScrap());
  OSStatus status = Put(kText, "fallback");
  fs::current_path(cwd);
  ASSERT_EQ(noErr, status);
  EXPECT_EQ("fallback", ReadFile(fs::path(home_) / ".cache/vantlow/scrap/TEXT"));
  EXPECT_FALSE(fs::exists(fs::path(tmp_.path()) / "relative"));
  EXPECT_FALSE(fs::exists(Folder()));
}

const FallbackCase kFallbackCases[] = {
    {"unset", std::nullopt},
    {"empty", std::string()},
    {"relative", std::string("relative/run")},
};

INSTANTIATE_TEST_SUITE_P(Runtime, ScrapFallbackTest, ::testing::ValuesIn(kFallbackCases),
                         [](const auto &row) { return std::string(row.param.name); });

// A runtime folder that is set but missing is an error, not a reason to
// write somewhere else; reading finds an empty scrap.
TEST_F(ScrapTest, MissingRuntimeFolderIsReported) {
  ScopedEnv runtime("XDG_RUNTIME_DIR", runtime_ + "/gone");
  EXPECT_EQ(fnfErr, ClearCurrentScrap());
  EXPECT_EQ(fnfErr, Put(kText, "x"));
  EXPECT_EQ(std::nullopt, Get(kText));
  EXPECT_FALSE(fs::exists(fs::path(home_) / ".cache"));
}

TEST_F(ScrapTest, OpenFolderIsMadePrivate) {
  fs::create_directories(Folder());
  fs::permissions(Folder(), fs::perms(0755));
  ASSERT_EQ(noErr, ClearCurrentScrap());
  EXPECT_EQ(fs::perms(0700), fs::status(Folder()).permissions() & fs::perms::all);
}

// Someone else's folder, or a link to one, in the scrap folder's place is
// refused: the text must not go where another user can read it.
TEST_F(ScrapTest, ForeignOrLinkedFolderIsRefused) {
  const fs::path elsewhere = tmp_.MakeDir("elsewhere");
  fs::create_directories(Folder().parent_path());
  fs::create_directory_symlink(elsewhere, Folder());
  EXPECT_NE(noErr, Put(kText, "secret"));
  EXPECT_TRUE(Names(elsewhere).empty());

  if (geteuid() != 0) GTEST_SKIP() << "handing a folder to another user needs root";
  fs::remove(Folder());
  fs::create_directory(Folder());
  ASSERT_EQ(0, chown(Folder().c_str(), 65534, 65534));
  EXPECT_EQ(afpAccessDenied, Put(kText, "secret"));
  EXPECT_EQ(afpAccessDenied, ClearCurrentScrap());
  EXPECT_TRUE(Names(Folder()).empty());
}

// Host read-back: every flavor once, in the order it was put, whatever the
// names' order and however quickly the puts follow each other.
TEST_F(ScrapTest, VisitGivesFlavorsInPutOrder) {
  ASSERT_EQ(noErr, ClearCurrentScrap());
  const std::vector<std::pair<ScrapFlavorType, std::string>> put = {
      {kUtxt, "u"}, {kText, "t"}, {Code("zzzz"), "z"}, {Code("a/b."), "odd"}, {Code("AAAA"), ""}};
  for (const auto &[flavor, bytes] : put)
    ASSERT_EQ(noErr, Put(flavor, bytes));
  std::ofstream(Folder() / "notes.txt") << "not a flavor";

  std::vector<std::pair<ScrapFlavorType, std::string>> seen;
  auto visit = [](ScrapFlavorType flavor, const void *data, Size size, void *context) -> Boolean {
    static_cast<decltype(seen) *>(context)->emplace_back(
        flavor, std::string(static_cast<const char *>(data), static_cast<size_t>(size)));
    return TRUE;
  };
  ASSERT_EQ(noErr, VPScrapVisitFlavors(CurrentScrap(), visit, &seen));
  EXPECT_EQ(put, seen);
}

TEST_F(ScrapTest, VisitStopsWhenAskedAndFindsNothingWithoutAFolder) {
  int calls = 0;
  auto count = [](ScrapFlavorType, const void *, Size, void *context) -> Boolean {
    ++*static_cast<int *>(context);
    return FALSE;
  };
  EXPECT_EQ(noErr, VPScrapVisitFlavors(CurrentScrap(), count, &calls));
  EXPECT_EQ(0, calls);
  EXPECT_FALSE(fs::exists(Folder())) << "reading must not make the folder";
  ASSERT_EQ(noErr, ClearCurrentScrap());
  ASSERT_EQ(noErr, Put(kUtxt, "u"));
  ASSERT_EQ(noErr, Put(kText, "t"));
  EXPECT_EQ(noErr, VPScrapVisitFlavors(CurrentScrap(), count, &calls));
  EXPECT_EQ(1, calls);
  EXPECT_EQ(paramErr, VPScrapVisitFlavors(CurrentScrap(), nullptr, nullptr));
}

// The copy sequence under allocation failures: every step either works or
// says memFullErr, and what is on the scrap afterwards matches what the steps
// reported.
TEST_F(ScrapTest, CopySequenceUnderAllocationFailures) {
  for (bool repeat : {false, true}) {
    vantlow_test::SweepAllocationFailures(
        [&](long) {
          OSStatus cleared = ClearCurrentScrap();
          ScrapRef scrap = nullptr;
          OSStatus got = GetCurrentScrap(&scrap);
          OSStatus put = got == noErr ? PutScrapFlavor(scrap, kUtxt, 0, 3, "abc") : got;
          VPFaultDisarm();
          for (OSStatus s : {cleared, got, put})
            EXPECT_TRUE(s == noErr || s == memFullErr) << s;
          if (got != noErr) {
            EXPECT_EQ(nullptr, scrap);
          }
          if (put == noErr) {
            EXPECT_EQ(std::string("abc"), Get(kUtxt));
          } else if (cleared == noErr) {
            EXPECT_EQ(std::nullopt, Get(kUtxt));
          }
          EXPECT_EQ(noErr, ClearCurrentScrap());
          for (const std::string &name : Names(Folder()))
            ADD_FAILURE() << "left behind: " << name;
        },
        repeat);
  }
}

TEST_F(ScrapTest, VisitUnderAllocationFailures) {
  ASSERT_EQ(noErr, ClearCurrentScrap());
  ASSERT_EQ(noErr, Put(kUtxt, "u"));
  ASSERT_EQ(noErr, Put(kText, "t"));
  const ScrapRef scrap = CurrentScrap();
  vantlow_test::SweepAllocationFailures(
      [&](long) {
        int calls = 0;
        auto count = [](ScrapFlavorType, const void *, Size, void *context) -> Boolean {
          ++*static_cast<int *>(context);
          return TRUE;
        };
        OSStatus status = VPScrapVisitFlavors(scrap, count, &calls);
        if (status == noErr)
          EXPECT_EQ(2, calls);
        else
          EXPECT_EQ(memFullErr, status);
      },
      false);
}

} // namespace
