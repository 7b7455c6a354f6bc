// Preferences: where the file lives, what reads as a valid Boolean or
// integer, the atomic save and what survives a failed one, unreadable files
// kept aside, other processes, and failing allocations.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include "cf_objects.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using cf_test::Owned;

struct RowNamer {
  template <class P> std::string operator()(const ::testing::TestParamInfo<P> &row) const {
    return row.param.name;
  }
};
constexpr RowNamer RowName;

CFStringRef App() {
  return CFSTR("org.vantlow.test");
}

std::string Doc(const std::string &body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body +
         "</plist>\n";
}

std::string Slurp(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The dictionary a file holds, or null when it holds none.
Owned<CFTypeRef> ParseFile(const std::string &path) {
  std::string bytes = Slurp(path);
  Owned<CFTypeRef> data(CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(bytes.data()),
                                     static_cast<CFIndex>(bytes.size())));
  Owned<CFTypeRef> plist(CFPropertyListCreateWithData(nullptr, static_cast<CFDataRef>(data.get()),
                                                      kCFPropertyListImmutable, nullptr, nullptr));
  if (!plist || CFGetTypeID(plist.get()) != CFDictionaryGetTypeID()) return nullptr;
  return plist;
}

// The integer a file holds under key, if any.
std::optional<SInt64> IntegerIn(const std::string &path, const char *key) {
  Owned<CFTypeRef> dict = ParseFile(path);
  if (!dict) return std::nullopt;
  Owned<CFStringRef> k(cf_test::Str(key));
  const void *v = CFDictionaryGetValue(static_cast<CFDictionaryRef>(dict.get()), k.get());
  SInt64 out = 0;
  if (!v || CFGetTypeID(v) != CFNumberGetTypeID() ||
      !CFNumberGetValue(static_cast<CFNumberRef>(v), kCFNumberSInt64Type, &out))
    return std::nullopt;
  return out;
}

void SetInteger(const char *key, SInt64 value) {
  Owned<CFStringRef> k(cf_test::Str(key));
  Owned<CFNumberRef> v(CFNumberCreate(nullptr, kCFNumberSInt64Type, &value));
  CFPreferencesSetAppValue(k.get(), v.get(), App());
}

CFIndex GetInteger(const char *key, Boolean *valid) {
  Owned<CFStringRef> k(cf_test::Str(key));
  return CFPreferencesGetAppIntegerValue(k.get(), App(), valid);
}

// Each test gets its own XDG_CONFIG_HOME and HOME in a temporary folder and
// starts and ends with nothing in memory; nothing may outlive it.
class Preferences : public ::testing::Test {
protected:
  void SetUp() override {
    VPPreferencesResetForTesting();
    VPSyscallReset();
    objects_ = VPLiveObjectCount();
  }

  void TearDown() override {
    VPSyscallReset();
    VPPreferencesResetForTesting();
    EXPECT_EQ(VPLiveObjectCount(), objects_) << "objects outlived the test";
  }

  std::string Folder() const { return dir_.path() + "/config/vantlow"; }
  std::string File() const { return Folder() + "/org.vantlow.test.plist"; }
  std::string Aside() const { return File() + ".corrupt"; }

  void Write(const std::string &contents) const {
    fs::create_directories(Folder());
    std::ofstream(File(), std::ios::binary | std::ios::trunc) << contents;
  }

  // Names in the folder other than the preference files: temporary files
  // left behind.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto &e : fs::directory_iterator(Folder(), ec)) {
      std::string name = e.path().filename().string();
      if (name != "org.vantlow.test.plist" && name != "org.vantlow.test.plist.corrupt")
        out.push_back(name);
    }
    return out;
  }

  vantlow_test::TempDir dir_;

private:
  // The preferences folders in dir_ while the test runs.
  vantlow_test::ScopedEnv configHome_{"XDG_CONFIG_HOME", dir_.path() + "/config"};
  vantlow_test::ScopedEnv home_{"HOME", dir_.path() + "/home"};
  long objects_ = 0;
};

TEST_F(Preferences, SavedValuesReachAPrivateFileAndAFreshRead) {
  SetInteger("FileSize-LimitTicks", 30);
  CFPreferencesSetAppValue(CFSTR("FileSize-LazyCalc"), kCFBooleanTrue, App());
  ASSERT_TRUE(CFPreferencesAppSynchronize(App()));

  struct stat st;
  ASSERT_EQ(lstat(File().c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ASSERT_EQ(stat(Folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_TRUE(Leftovers().empty());
  EXPECT_EQ(IntegerIn(File(), "FileSize-LimitTicks"), 30);

  VPPreferencesResetForTesting();
  Boolean valid = false;
  EXPECT_EQ(GetInteger("FileSize-LimitTicks", &valid), 30);
  EXPECT_TRUE(valid);
  EXPECT_TRUE(CFPreferencesGetAppBooleanValue(CFSTR("FileSize-LazyCalc"), App(), &valid));
  EXPECT_TRUE(valid);
}

// ---- What reads as a Boolean or an integer ----

struct FlagCase {
  const char *name;
  const char *stored; // the value element, or null for no key
  Boolean boolValid, boolValue;
  Boolean intValid;
  CFIndex intValue;
};

class PreferenceFlags : public Preferences, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(PreferenceFlags, TellWhetherTheKeyHoldsAValidValue) {
  const FlagCase &c = GetParam();
  std::string body = c.stored ? std::string("<key>k</key>") + c.stored : "";
  Write(Doc("<dict><key>other</key><true/>" + body + "</dict>"));
  Boolean boolValid = 2, intValid = 2;
  EXPECT_EQ(CFPreferencesGetAppBooleanValue(CFSTR("k"), App(), &boolValid), c.boolValue);
  EXPECT_EQ(boolValid, c.boolValid);
  EXPECT_EQ(CFPreferencesGetAppIntegerValue(CFSTR("k"), App(), &intValid), c.intValue);
  EXPECT_EQ(intValid, c.intValid);
  // The flag is optional.
  EXPECT_EQ(CFPreferencesGetAppIntegerValue(CFSTR("k"), App(), nullptr), c.intValue);
}

INSTANTIATE_TEST_SUITE_P(
    Values, PreferenceFlags,
    ::testing::ValuesIn(std::vector<FlagCase>{
        {"MissingKey", nullptr, false, false, false, 0},
        {"True", "<true/>", true, true, false, 0},
        {"False", "<false/>", true, false, false, 0},
        {"IntegerOne", "<integer>1</integer>", true, true, true, 1},
        {"IntegerZero", "<integer>0</integer>", true, false, true, 0},
        {"IntegerTwo", "<integer>2</integer>", false, false, true, 2},
        {"MinusOne", "<integer>-1</integer>", false, false, true, -1},
        {"SmallestInteger", "<integer>-9223372036854775808</integer>", false, false, true,
         LONG_MIN},
        {"WholeReal", "<real>60.0</real>", false, false, true, 60},
        {"RealOne", "<real>1</real>", false, false, true, 1},
        {"FractionalReal", "<real>60.5</real>", false, false, false, 0},
        {"RealPastTheRange", "<real>9223372036854775808.0</real>", false, false, false, 0},
        {"HugeReal", "<real>1e300</real>", false, false, false, 0},
        {"NotANumber", "<real>nan</real>", false, false, false, 0},
        {"String", "<string>60</string>", false, false, false, 0},
        {"Array", "<array><integer>1</integer></array>", false, false, false, 0},
    }),
    RowName);

// ---- Setting ----

TEST_F(Preferences, SettingNullRemovesTheKey) {
  Write(Doc("<dict><key>a</key><integer>1</integer><key>b</key><integer>2</integer></dict>"));
  CFPreferencesSetAppValue(CFSTR("a"), nullptr, App());
  Owned<CFTypeRef> gone(CFPreferencesCopyAppValue(CFSTR("a"), App()));
  EXPECT_FALSE(gone);
  ASSERT_TRUE(CFPreferencesAppSynchronize(App()));
  EXPECT_EQ(IntegerIn(File(), "a"), std::nullopt);
  EXPECT_EQ(IntegerIn(File(), "b"), 2);
}

TEST_F(Preferences, AValueThatIsNotAPropertyListIsRefused) {
  CFUUIDRef uuid = CFUUIDGetConstantUUIDWithBytes(nullptr, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                                                  13, 14, 15, 16);
  CFPreferencesSetAppValue(CFSTR("id"), uuid, App());
  Owned<CFTypeRef> stored(CFPreferencesCopyAppValue(CFSTR("id"), App()));
  EXPECT_FALSE(stored);
  EXPECT_TRUE(CFPreferencesAppSynchronize(App()));
  EXPECT_FALSE(fs::exists(File())) << "nothing changed, so nothing is written";
}

struct UnchangedCase {
  const char *name;
  std::function<void()> act;
};

class SynchronizeUnchanged : public Preferences,
                             public ::testing::WithParamInterface<UnchangedCase> {};

TEST_P(SynchronizeUnchanged, WritesNothingAndSucceeds) {
  std::string old = Doc("<dict><key>n</key><integer>5</integer></dict>");
  Write(old);
  GetParam().act();
  std::string before = Slurp(File());
  long writes = VPSyscallCount("write"), renames = VPSyscallCount("renameat");
  EXPECT_TRUE(CFPreferencesAppSynchronize(App()));
  EXPECT_EQ(VPSyscallCount("write"), writes);
  EXPECT_EQ(VPSyscallCount("renameat"), renames);
  EXPECT_EQ(Slurp(File()), before);
}

INSTANTIATE_TEST_SUITE_P(Cases, SynchronizeUnchanged,
                         ::testing::ValuesIn(std::vector<UnchangedCase>{
                             {"NeverRead", [] {}},
                             {"OnlyRead", [] { GetInteger("n", nullptr); }},
                             {"SetToAnEqualValue", [] { SetInteger("n", 5); }},
                             {"RemovedAMissingKey",
                              [] { CFPreferencesSetAppValue(CFSTR("absent"), nullptr, App()); }},
                             {"SavedAlready",
                              [] {
                                SetInteger("n", 6);
                                CFPreferencesAppSynchronize(App());
                                SetInteger("n", 5);
                                CFPreferencesAppSynchronize(App());
                              }},
                         }),
                         RowName);

TEST_F(Preferences, TheFileIsReadOnceAndKeptInMemory) {
  Write(Doc("<dict><key>n</key><integer>1</integer></dict>"));
  EXPECT_EQ(GetInteger("n", nullptr), 1);
  Write(Doc("<dict><key>n</key><integer>2</integer></dict>"));
  long opens = VPSyscallCount("openat");
  EXPECT_EQ(GetInteger("n", nullptr), 1);
  EXPECT_EQ(VPSyscallCount("openat"), opens);
  VPPreferencesResetForTesting();
  EXPECT_EQ(GetInteger("n", nullptr), 2);
}

// ---- Files that cannot be read ----

struct UnreadableCase {
  const char *name;
  // Puts the unreadable thing at the path (its folder exists).
  std::function<void(const std::string &file)> plant;
  // What must be found at <name>.corrupt after the save.
  std::function<void(const std::string &aside)> checkAside;
};

class UnreadableFile : public Preferences, public ::testing::WithParamInterface<UnreadableCase> {};

void ExpectKind(const std::string &path, mode_t kind) {
  struct stat st;
  ASSERT_EQ(lstat(path.c_str(), &st), 0) << path;
  EXPECT_EQ(st.st_mode & S_IFMT, kind);
}

std::vector<UnreadableCase> UnreadableCases() {
  std::string big = Doc("<dict><!--" + std::string(1100000, 'x') + "--></dict>");
  std::string valid = Doc("<dict><key>k</key><integer>9</integer></dict>");
  auto write = [](std::string contents) {
    return
        [contents](const std::string &file) { std::ofstream(file, std::ios::binary) << contents; };
  };
  auto holding = [](std::string contents) {
    return [contents](const std::string &aside) {
      ExpectKind(aside, S_IFREG);
      EXPECT_EQ(Slurp(aside), contents);
    };
  };
  return {
      {"NotAPropertyList", write("garbage\n"), holding("garbage\n")},
      {"ArrayAtTheTop", write(Doc("<array/>")), holding(Doc("<array/>"))},
      {"Truncated", write(valid.substr(0, 30)), holding(valid.substr(0, 30))},
      {"LargerThanOneMiB", write(big), holding(big)},
      {"SymlinkToDevZero",
       [](const std::string &file) { ASSERT_EQ(symlink("/dev/zero", file.c_str()), 0); },
       [](const std::string &aside) { ExpectKind(aside, S_IFLNK); }},
      {"Fifo", [](const std::string &file) { ASSERT_EQ(mkfifo(file.c_str(), 0600), 0); },
       [](const std::string &aside) { ExpectKind(aside, S_IFIFO); }},
      {"Folder", [](const std::string &file) { ASSERT_EQ(mkdir(file.c_str(), 0700), 0); },
       [](const std::string &aside) { ExpectKind(aside, S_IFDIR); }},
      // A file we may not open is kept too, though its contents are fine.
      {"OpenRefused",
       [write, valid](const std::string &file) {
         write(valid)(file);
         VPSyscallFail("openat", 1, EACCES, false, "test.plist");
       },
       holding(valid)},
      // So is one in a folder we could not open when the values were read.
      {"FolderOpenRefused",
       [write, valid](const std::string &file) {
         write(valid)(file);
         VPSyscallFail("openat", 1, EMFILE, false, "/vantlow");
       },
       holding(valid)},
  };
}

TEST_P(UnreadableFile, ReadsAsEmptyAndIsKeptAsideOnSave) {
  fs::create_directories(Folder());
  GetParam().plant(File());
  Owned<CFTypeRef> value(CFPreferencesCopyAppValue(CFSTR("k"), App()));
  EXPECT_FALSE(value);
  VPSyscallReset();

  SetInteger("k", 5);
  ASSERT_TRUE(CFPreferencesAppSynchronize(App()));
  ExpectKind(File(), S_IFREG);
  EXPECT_EQ(IntegerIn(File(), "k"), 5);
  GetParam().checkAside(Aside());
  EXPECT_TRUE(Leftovers().empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, UnreadableFile, ::testing::ValuesIn(UnreadableCases()), RowName);

// ---- Failed saves ----

struct FailedSaveCase {
  const char *name;
  const char *call;
  long nth;
  int err;
  const char *suffix;
};

class FailedSave : public Preferences, public ::testing::WithParamInterface<FailedSaveCase> {};

TEST_P(FailedSave, LeavesTheOldFileWholeAndIsTriedAgainLater) {
  const FailedSaveCase &c = GetParam();
  std::string old = Doc("<dict><key>n</key><integer>1</integer></dict>");
  Write(old);
  SetInteger("n", 2);
  ASSERT_TRUE(VPSyscallFail(c.call, c.nth, c.err, false, c.suffix));
  EXPECT_FALSE(CFPreferencesAppSynchronize(App()));
  EXPECT_EQ(Slurp(File()), old);
  EXPECT_TRUE(Leftovers().empty()) << Leftovers().size() << " files left";

  VPSyscallReset();
  ASSERT_TRUE(CFPreferencesAppSynchronize(App()));
  EXPECT_EQ(IntegerIn(File(), "n"), 2);
}

INSTANTIATE_TEST_SUITE_P(Calls, FailedSave,
                         ::testing::ValuesIn(std::vector<FailedSaveCase>{
                             {"CreatingTheTemporaryFile", "openat", 1, EACCES, ".tmp"},
                             {"SettingItsMode", "fchmod", 1, EPERM, nullptr},
                             {"WritingIt", "write", 1, ENOSPC, nullptr},
                             {"FlushingIt", "fsync", 1, EIO, nullptr},
                             {"RenamingItOverTheOldFile", "renameat", 1, EIO, nullptr},
                         }),
                         RowName);

TEST_F(Preferences, ACorruptFileIsPutBackWhenItsReplacementFails) {
  Write("garbage");
  Owned<CFTypeRef> none(CFPreferencesCopyAppValue(CFSTR("n"), App()));
  SetInteger("n", 2);
  // The second rename, the new file over the old name, fails.
  ASSERT_TRUE(VPSyscallFail("renameat", 1, EIO, false, "test.plist"));
  EXPECT_FALSE(CFPreferencesAppSynchronize(App()));
  EXPECT_EQ(Slurp(File()), "garbage");
  EXPECT_FALSE(fs::exists(Aside()));
  EXPECT_TRUE(Leftovers().empty());

  VPSyscallReset();
  ASSERT_TRUE(CFPreferencesAppSynchronize(App()));
  EXPECT_EQ(IntegerIn(File(), "n"), 2);
  EXPECT_EQ(Slurp(Aside()), "garbage");
}

TEST_F(Preferences, AFailedFlushOfTheFolderIsReportedAndTriedAgain) {
  Write(Doc("<dict><key>n</key><integer>1</integer></dict>"));
  SetInteger("n", 2);
  ASSERT_TRUE(VPSyscallFail("fsync", 2, EIO, false, nullptr));
  EXPECT_FALSE(CFPreferencesAppSynchronize(App()));
  // The new file is in place; only its durability is unknown.
  EXPECT_EQ(IntegerIn(File(), "n"), 2);
  VPSyscallReset();
  long writes = VPSyscallCount("write");
  EXPECT_TRUE(CFPreferencesAppSynchronize(App()));
  EXPECT_GT(VPSyscallCount("write"), writes);
  EXPECT_FALSE(fs::exists(Aside())) << "our own file is never taken for a corrupt one";
}

// ---- Where the file lives ----

struct LocationCase {
  const char *name;
  const char *configHome; // null: unset
};

class IgnoredConfigHome : public Preferences, public ::testing::WithParamInterface<LocationCase> {};

TEST_P(IgnoredConfigHome, FallsBackToTheHomeFolder) {
  if (GetParam().configHome)
    setenv("XDG_CONFIG_HOME", GetParam().configHome, 1);
  else
    unsetenv("XDG_CONFIG_HOME");
  fs::path cwd = fs::current_path();
  fs::current_path(dir_.path());
  SetInteger("n", 3);
  bool saved = CFPreferencesAppSynchronize(App());
  fs::current_path(cwd);
  EXPECT_TRUE(saved);
  EXPECT_EQ(IntegerIn(dir_.path() + "/home/.config/vantlow/org.vantlow.test.plist", "n"), 3);
  EXPECT_FALSE(fs::exists(dir_.path() + "/relative"));
}

INSTANTIATE_TEST_SUITE_P(Values, IgnoredConfigHome,
                         ::testing::ValuesIn(std::vector<LocationCase>{
                             {"Relative", "relative/config"},
                             {"Empty", ""},
                             {"Unset", nullptr},
                         }),
                         RowName);

struct BadIDCase {
  const char *name;
  std::u16string id;
};

class UnusableApplicationID : public Preferences,
                              public ::testing::WithParamInterface<BadIDCase> {};

TEST_P(UnusableApplicationID, StoresNothingAnywhere) {
  const std::u16string &units = GetParam().id;
  Owned<CFStringRef> id(
      CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar *>(units.data()),
                                   static_cast<CFIndex>(units.size())));
  ASSERT_TRUE(id);
  CFPreferencesSetAppValue(CFSTR("k"), kCFBooleanTrue, id.get());
  Owned<CFTypeRef> value(CFPreferencesCopyAppValue(CFSTR("k"), id.get()));
  EXPECT_FALSE(value);
  EXPECT_FALSE(CFPreferencesAppSynchronize(id.get()));
  std::error_code ec;
  EXPECT_FALSE(fs::exists(dir_.path() + "/config", ec)) << "nothing is made for it";
  EXPECT_FALSE(fs::exists(dir_.path() + "/escape.plist", ec));
}

INSTANTIATE_TEST_SUITE_P(IDs, UnusableApplicationID,
                         ::testing::ValuesIn(std::vector<BadIDCase>{
                             {"Empty", u""},
                             {"Dot", u"."},
                             {"DotDot", u".."},
                             {"Slash", u"org/vantlow"},
                             {"ClimbsOut", u"../../escape"},
                             {"Nul", std::u16string(u"a\0b", 3)},
                             {"UnpairedSurrogate", u"a\xD800"},
                             {"TooLong", std::u16string(242, u'x')},
                         }),
                         RowName);

TEST_F(Preferences, AnIDOfTheLongestLengthWorks) {
  Owned<CFStringRef> id(cf_test::Str(std::string(241, 'x').c_str()));
  CFPreferencesSetAppValue(CFSTR("k"), kCFBooleanTrue, id.get());
  EXPECT_TRUE(CFPreferencesAppSynchronize(id.get()));
  EXPECT_TRUE(fs::exists(Folder() + "/" + std::string(241, 'x') + ".plist"));
}

// ---- Other processes ----

// Runs body in a child process that starts with nothing in memory, as a new
// process would; returns its exit status (body's answer, 0 for success).
int InChild(const std::function<int()> &body) {
  pid_t pid = fork();
  if (pid == 0) {
    VPPreferencesResetForTesting();
    _exit(body());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(Preferences, AnotherProcessReadsWhatWasSaved) {
  SetInteger("n", 42);
  CFPreferencesSetAppValue(CFSTR("lazy"), kCFBooleanTrue, App());
  ASSERT_TRUE(CFPreferencesAppSynchronize(App()));
  EXPECT_EQ(InChild([] {
              Boolean intValid = false, boolValid = false;
              CFIndex n = GetInteger("n", &intValid);
              Boolean lazy = CFPreferencesGetAppBooleanValue(CFSTR("lazy"), App(), &boolValid);
              return intValid && n == 42 && boolValid && lazy ? 0 : 1;
            }),
            0);
}

TEST_F(Preferences, ConcurrentSavesAlwaysLeaveOneWritersCompleteValues) {
  constexpr int kRounds = 40;
  // Each writer stores its number, the round and a long text of its own
  // letter: a file mixing writers, or cut short, would show.
  auto writer = [](int id) {
    return [id] {
      std::string payload(4000, static_cast<char>('a' + id));
      for (int round = 0; round < kRounds; ++round) {
        SetInteger("writer", id);
        SetInteger("round", round);
        Owned<CFStringRef> text(cf_test::Str(payload.c_str()));
        CFPreferencesSetAppValue(CFSTR("payload"), text.get(), App());
        if (!CFPreferencesAppSynchronize(App())) return 1;
      }
      return 0;
    };
  };
  // One read of the file: whole, and all of one writer.
  auto consistent = [&](const std::string &path) {
    Owned<CFTypeRef> dict = ParseFile(path);
    if (!dict) return false;
    auto d = static_cast<CFDictionaryRef>(dict.get());
    auto id = static_cast<CFNumberRef>(CFDictionaryGetValue(d, CFSTR("writer")));
    auto payload = static_cast<CFStringRef>(CFDictionaryGetValue(d, CFSTR("payload")));
    SInt64 who = -1;
    if (!id || !CFNumberGetValue(id, kCFNumberSInt64Type, &who) || !payload ||
        CFStringGetLength(payload) != 4000)
      return false;
    return CFStringGetCharacterAtIndex(payload, 0) == 'a' + who &&
           CFStringGetCharacterAtIndex(payload, 3999) == 'a' + who;
  };

  pid_t children[2];
  for (int id = 0; id < 2; ++id) {
    children[id] = fork();
    if (children[id] == 0) {
      VPPreferencesResetForTesting();
      _exit(writer(id)());
    }
    ASSERT_GT(children[id], 0);
  }
  // While they run, every read of the file shows one writer's complete
  // values.
  int reads = 0, bad = 0, running = 2;
  int status[2] = {0, 0};
  bool done[2] = {false, false};
  while (running > 0) {
    for (int id = 0; id < 2; ++id) {
      if (!done[id] && waitpid(children[id], &status[id], WNOHANG) == children[id]) {
        done[id] = true;
        --running;
      }
    }
    if (!fs::exists(File())) continue;
    ++reads;
    if (!consistent(File())) ++bad;
  }
  for (int s : status)
    EXPECT_TRUE(WIFEXITED(s) && WEXITSTATUS(s) == 0);
  EXPECT_EQ(bad, 0) << "of " << reads << " reads";
  EXPECT_TRUE(consistent(File()));
  EXPECT_EQ(IntegerIn(File(), "round"), kRounds - 1);
  EXPECT_TRUE(Leftovers().empty());
}

// ---- Failing allocations ----

TEST_F(Preferences, SetAndSynchronizeEndInTheOldOrTheNewFileUnderFailingAllocations) {
  const std::string old = Doc("<dict><key>n</key><integer>1</integer><key>other</key>"
                              "<string>a value that must never be lost</string></dict>");
  CFStringRef key = CFSTR("n");
  CFStringRef other = CFSTR("other");
  Owned<CFNumberRef> two(cf_test::Int64(2));
  int runs = vantlow_test::SweepAllocationFailures(
      [&](long n) {
        Write(old);
        VPPreferencesResetForTesting();
        CFPreferencesSetAppValue(key, two.get(), App());
        Boolean saved = CFPreferencesAppSynchronize(App());
        VPPreferencesResetForTesting();
        VPFaultDisarm(); // the checks below must not fail themselves

        Owned<CFTypeRef> dict = ParseFile(File());
        ASSERT_TRUE(dict) << "the file is whole, allocation " << n;
        auto d = static_cast<CFDictionaryRef>(dict.get());
        EXPECT_TRUE(CFDictionaryContainsKey(d, other)) << "a value was lost, allocation " << n;
        std::optional<SInt64> now = IntegerIn(File(), "n");
        if (saved) {
          EXPECT_EQ(now, 2) << n;
        } else {
          EXPECT_TRUE(now == 1 || now == 2) << n;
        }
        EXPECT_FALSE(fs::exists(Aside())) << "a lack of memory made the file look corrupt, " << n;
        EXPECT_TRUE(Leftovers().empty()) << n;
      },
      false);
  EXPECT_GT(runs, 10);
}

TEST_F(Preferences, ReplacingACorruptFileUnderFailingAllocationsKeepsIt) {
  CFStringRef key = CFSTR("n");
  Owned<CFNumberRef> two(cf_test::Int64(2));
  int runs = vantlow_test::SweepAllocationFailures(
      [&](long n) {
        Write("garbage");
        fs::remove(Aside());
        VPPreferencesResetForTesting();
        CFPreferencesSetAppValue(key, two.get(), App());
        Boolean saved = CFPreferencesAppSynchronize(App());
        VPPreferencesResetForTesting();
        VPFaultDisarm();

        EXPECT_TRUE(Leftovers().empty()) << n;
        if (saved || fs::exists(Aside())) {
          EXPECT_EQ(IntegerIn(File(), "n"), 2) << n;
          EXPECT_EQ(Slurp(Aside()), "garbage") << n;
        } else {
          EXPECT_EQ(Slurp(File()), "garbage") << n;
        }
      },
      false);
  EXPECT_GT(runs, 5);
}

} // namespace
