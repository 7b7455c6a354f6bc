// Hostile trees end to end: the built `vantlow` command (and its test build
// whose file-system calls can fail or be slowed) run with --json on
// temporary trees that fight back: entries that vanish between the listing
// and the catalog read, a folder replaced by a file in the middle of the
// walk, symbolic link loops, a tree deeper than PATH_MAX, names with
// newlines and bytes that are not UTF-8, a FIFO and a device node, a folder
// of 200,000 entries, broken preference files and hostile ".hidden" files.
// Every run must finish promptly, exit as documented and print valid UTF-8.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <CoreFoundation/CoreFoundation.h>
#include <vantlow/platform_testing.h>

#include "child_output.h"
#include "named_rows.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using namespace vantlow_test;
using vantlow_test::PrintTo; // found beside the rows, for GoogleTest
using Result = ChildResult;

// Every run here ends in a few seconds; only a hang reaches this.
constexpr auto kHangGuard = std::chrono::seconds(60);

// Whether bytes are well-formed UTF-8 (no surrogates, no overlong forms).
bool IsUtf8(const std::string &s) {
  size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + len > s.size()) return false;
    unsigned long cp = len == 1 ? c : c & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (d & 0x3F);
    }
    static const unsigned long kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += len;
  }
  return true;
}

// A control character other than the line end, or DEL.
bool HasRawControl(const std::string &s) {
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c < 0x20 && c != '\n') || c == 0x7F) return true;
  }
  return false;
}

// Removes a chain of single folders named "d" of any depth without long
// paths: the second level is moved up beside the first, which can then go.
void RemoveChain(const std::string &top) {
  const std::string first = top + "/d", second = top + "/d/d", moved = top + "/d.next";
  while (access(first.c_str(), F_OK) == 0) {
    if (access(second.c_str(), F_OK) == 0) {
      ASSERT_EQ(rename(second.c_str(), moved.c_str()), 0) << strerror(errno);
      ASSERT_EQ(rmdir(first.c_str()), 0) << strerror(errno);
      ASSERT_EQ(rename(moved.c_str(), first.c_str()), 0) << strerror(errno);
    } else {
      fs::remove_all(first); // the last level, with its files: a short path
    }
  }
}

class HostileTreeTest : public ChildHomeTest {
protected:
  Environment Env() const {
    Environment env = HomeEnv();
    env["LANGUAGE"] = "en";
    return env;
  }

  // No time limit: counts are then exact whatever the machine's speed.
  void NoLimit() const { WritePreferences("<key>FileSize-LimitTicks</key><integer>-1</integer>"); }

  Result Run(const std::vector<std::string> &args, Environment extra = {},
             const std::string &exe = kVantlow) const {
    Environment env = Env();
    for (auto &[k, v] : extra)
      env[k] = v;
    Result r = RunChild(exe, args, env, kHangGuard);
    EXPECT_LT(r.status, 128) << "the command crashed\n" << r.err;
    EXPECT_TRUE(IsUtf8(r.out)) << "standard output is not UTF-8";
    return r;
  }

  // The count line of a --json run's Sizes submenu.
  static std::string CountLine(const Result &r) {
    return TextsByCommand(SizesSubmenu(ParseJson(r)))[2000];
  }

  TempDir tree_;
};

// ---- Entries that vanish or change during the walk ----

struct VanishCase {
  const char *name;
  const char *fail;     // VANTLOW_TEST_SYSCALL_FAIL
  int error;            // its errno
  const char *expected; // the count line
};

class VanishingEntries : public HostileTreeTest,
                         public ::testing::WithParamInterface<VanishCase> {};

// The listing shows the entry; reading its catalog information or opening
// it then fails as if it had gone (or been replaced by a file). The walk
// passes it over and counts the rest; the run ends normally. A file gone is
// not counted; a folder gone stays counted as the folder that was listed,
// without its contents.
TEST_P(VanishingEntries, WalkGoesOnWithoutThem) {
  const VanishCase &c = GetParam();
  NoLimit();
  const std::string sel = tree_.MakeDir("sel");
  tree_.MakeFile("sel/keep.txt", "kept");
  tree_.MakeFile("sel/gone.txt", "vanishes");
  tree_.MakeFile("sel/sub/inner.txt", "inner");
  tree_.MakeFile("sel/sub/other.txt", "other");
  Result r = Run({"--json", sel},
                 {{"VANTLOW_TEST_SYSCALL_FAIL", c.fail},
                  {"VANTLOW_TEST_SYSCALL_ERRNO", std::to_string(c.error)}},
                 kVantlowWithFaults);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CountLine(r), c.expected) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Rows, VanishingEntries,
                         ::testing::ValuesIn(std::vector<VanishCase>{
                             {"FileGoneBeforeItsStat", "fstatat=1,gone.txt", ENOENT,
                              "3 files (0 invisible), 2 folders (0 invisible)"},
                             {"EveryFileGoneBeforeItsStat", "fstatat=1,.txt", ENOENT,
                              "0 files (0 invisible), 2 folders (0 invisible)"},
                             {"FolderGoneBeforeItOpens", "openat=1,sub", ENOENT,
                              "2 files (0 invisible), 2 folders (0 invisible)"},
                             {"FolderReplacedByAFileBeforeItOpens", "openat=1,sub", ENOTDIR,
                              "2 files (0 invisible), 2 folders (0 invisible)"},
                         }),
                         RowName());

// A real race: the walk is slowed down while another thread replaces
// folders by files of the same name. Whatever the walk saw, it ends
// normally with a menu.
TEST_F(HostileTreeTest, FoldersReplacedByFilesWhileTheWalkRuns) {
  NoLimit();
  const std::string sel = tree_.MakeDir("sel");
  for (int i = 0; i < 20; ++i)
    tree_.MakeFile("sel/f" + std::to_string(i) + "/x.txt", "x");
  std::atomic<bool> done{false};
  std::thread swapper([&] {
    for (int i = 0; i < 20 && !done; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
      const std::string dir = sel + "/f" + std::to_string(i);
      fs::rename(dir, dir + ".old");
      std::ofstream(dir) << "now a file";
    }
  });
  Result r =
      Run({"--json", sel}, {{"VANTLOW_TEST_SYSCALL_DELAY", "fstatat=5000"}}, kVantlowWithFaults);
  done = true;
  swapper.join();
  EXPECT_EQ(r.status, 0) << r.err;
  // "<n> files (...), <m> folders (...)", whatever n and m came out.
  const std::string line = CountLine(r);
  const size_t digits = line.find_first_not_of("0123456789");
  EXPECT_TRUE(digits > 0 && digits != std::string::npos &&
              line.compare(digits, 7, " files ") == 0 &&
              line.find(" folders ", digits) != std::string::npos)
      << r.out;
}

// ---- Links ----

// Links are items of their own, sized by lstat and never followed: loops
// and links to the parent cannot make the walk go round.
TEST_F(HostileTreeTest, SymbolicLinkLoopsAreCountedNotFollowed) {
  NoLimit();
  const std::string sel = tree_.MakeDir("sel");
  tree_.MakeFile("sel/real.txt", "real");
  ASSERT_EQ(symlink("b", (sel + "/a").c_str()), 0);
  ASSERT_EQ(symlink("a", (sel + "/b").c_str()), 0);
  ASSERT_EQ(symlink("..", (sel + "/up").c_str()), 0);
  ASSERT_EQ(symlink(".", (sel + "/self").c_str()), 0);
  Result r = Run({"--json", sel});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CountLine(r), "5 files (0 invisible), 1 folders (0 invisible)");
  // Selected directly, the loop's links are items too.
  Result direct = Run({"--json", sel + "/a", sel + "/up"});
  EXPECT_EQ(direct.status, 0) << direct.err;
  EXPECT_EQ(CountLine(direct), "2 files (0 invisible), 0 folders (0 invisible)");
}

// ---- Depth ----

// 5,000 levels below the selection, far beyond PATH_MAX. The walk keeps its
// levels on a heap stack and reaches folders through a bounded cache of
// descriptors (each opened relative to its parent), so there is no depth
// limit short of memory: every level is counted.
TEST_F(HostileTreeTest, TreeDeeperThanPathMax) {
  NoLimit();
  const std::string sel = tree_.MakeDir("sel");
  constexpr int kDepth = 5000;
  int fd = open(sel.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int i = 0; i < kDepth; ++i) {
    ASSERT_EQ(mkdirat(fd, "d", 0755), 0) << i;
    int next = openat(fd, "d", O_RDONLY | O_DIRECTORY);
    close(fd);
    ASSERT_GE(next, 0);
    fd = next;
  }
  int leaf = openat(fd, "leaf.txt", O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(leaf, 0);
  ASSERT_EQ(write(leaf, "deep", 4), 4);
  close(leaf);
  close(fd);
  Result r = Run({"--json", sel});
  EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
  EXPECT_EQ(CountLine(r), "1 files (0 invisible), 5001 folders (0 invisible)");
  RemoveChain(sel);
}

// ---- Names ----

// Names with a newline and with bytes that are not UTF-8: the JSON stays
// valid UTF-8 with U+FFFD, and the text output shows no raw control
// character.
TEST_F(HostileTreeTest, NamesWithNewlinesAndInvalidBytes) {
  NoLimit();
  const std::string sel = tree_.MakeDir("sel");
  const std::string newline = tree_.MakeFile("sel/two\nlines.txt", "nl");
  const std::string invalid = tree_.MakeFile("sel/bad\xff\xfe.txt", "bad");
  const std::string escape = tree_.MakeFile("sel/esc\x1b[31m.txt", "esc");
  Result r = Run({"--json", newline, invalid, escape});
  ASSERT_EQ(r.status, 0) << r.err;
  const Json root = ParseJson(r);
  ASSERT_EQ(root["selection"].size(), 3u);
  EXPECT_EQ(root["selection"][0], newline);
  EXPECT_EQ(root["selection"][1], sel + "/bad" + kFFFD + kFFFD + ".txt");
  EXPECT_EQ(root["selection"][2], escape);
  EXPECT_EQ(TextsByCommand(SizesSubmenu(root))[2000],
            "3 files (0 invisible), 0 folders (0 invisible)");

  Result text = Run({sel});
  EXPECT_EQ(text.status, 0) << text.err;
  EXPECT_FALSE(HasRawControl(text.out)) << text.out;
  // A folder named like that which cannot be read is named in the log.
  const std::string locked = tree_.MakeDir("sel/dir\nwith\x1b"
                                           "esc");
  Result logged = Run({sel},
                      {{"VANTLOW_TEST_SYSCALL_FAIL", "faccessat=1,esc"},
                       {"VANTLOW_TEST_SYSCALL_ERRNO", std::to_string(EACCES)}},
                      kVantlowWithFaults);
  EXPECT_EQ(logged.status, 0) << logged.err;
  EXPECT_FALSE(HasRawControl(logged.out)) << logged.out;
  EXPECT_NE(logged.err.find("Vantlow: "), std::string::npos) << logged.err;
  (void)locked;
}

// ---- Special files ----

// A FIFO (and, as root, a character device) in the selection and inside a
// selected folder: sized by lstat, never opened, so nothing waits on them.
TEST_F(HostileTreeTest, FifoAndDeviceAreNeverOpened) {
  NoLimit();
  const std::string sel = tree_.MakeDir("sel");
  const std::string fifo = sel + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  std::vector<std::string> args = {"--json", sel, fifo};
  int files = 1;
  if (geteuid() == 0) {
    const std::string device = sel + "/null";
    ASSERT_EQ(mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0) << strerror(errno);
    args.push_back(device);
    files = 2;
  }
  Result r = Run(args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_LT(r.seconds, 20.0) << "the run waited on a special file";
  const std::string n = std::to_string(files);
  EXPECT_EQ(CountLine(r), n + " files (0 invisible), 1 folders (0 invisible)") << r.err;
}

// ---- Size ----

// One folder of 200,000 empty files, counted exactly.
TEST_F(HostileTreeTest, FolderOfTwoHundredThousandEntries) {
  NoLimit();
  const std::string sel = tree_.MakeDir("sel");
  constexpr int kEntries = 200000;
  int dir = open(sel.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(dir, 0);
  for (int i = 0; i < kEntries; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%06d", i);
    int fd = openat(dir, name, O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << name << ": " << strerror(errno);
    close(fd);
  }
  close(dir);
  Result r = Run({"--json", sel});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(CountLine(r), "200000 files (0 invisible), 1 folders (0 invisible)");
}

// ---- Preferences ----

struct PreferencesCase {
  const char *name;
  enum Kind { kCorrupt, kHuge, kDevZero } kind;
};

class BrokenPreferences : public HostileTreeTest,
                          public ::testing::WithParamInterface<PreferencesCase> {};

// The run uses the defaults (immediate mode), does not hang, and a later
// save keeps the unreadable file aside as .corrupt.
TEST_P(BrokenPreferences, RunUsesDefaultsAndASaveKeepsTheOldFileAside) {
  const PreferencesCase &c = GetParam();
  fs::create_directories(config_ + "/vantlow");
  const std::string path = PreferencesPath();
  switch (c.kind) {
  case PreferencesCase::kCorrupt:
    std::ofstream(path) << "<?xml version=\"1.0\"?><plist><dict><key>FileSize-LazyCalc</key>";
    break;
  case PreferencesCase::kHuge: {
    std::ofstream out(path, std::ios::binary);
    std::string junk(1 << 20, '\0');
    for (size_t i = 0; i < junk.size(); ++i)
      junk[i] = static_cast<char>((i * 7919) & 0xFF);
    for (int i = 0; i < 50; ++i)
      out << junk;
    break;
  }
  case PreferencesCase::kDevZero:
    ASSERT_EQ(symlink("/dev/zero", path.c_str()), 0);
    break;
  }
  struct stat before;
  ASSERT_EQ(lstat(path.c_str(), &before), 0);
  const std::string sel = tree_.MakeDir("sel");
  tree_.MakeFile("sel/a.txt", "a");
  Result r = Run({"--json", sel});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_LT(r.seconds, 20.0);
  EXPECT_EQ(CountLine(r), "1 files (0 invisible), 1 folders (0 invisible)") << "defaults";

  // A later save, through the platform's preferences in this process.
  setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
  VPPreferencesResetForTesting();
  Boolean valid = true;
  EXPECT_EQ(CFPreferencesGetAppIntegerValue(CFSTR("FileSize-LimitTicks"),
                                            CFSTR("org.vantlow.filesize"), &valid),
            0);
  EXPECT_FALSE(valid);
  const int limit = 300;
  CFNumberRef number = CFNumberCreate(nullptr, kCFNumberIntType, &limit);
  CFPreferencesSetAppValue(CFSTR("FileSize-LimitTicks"), number, CFSTR("org.vantlow.filesize"));
  CFRelease(number);
  EXPECT_TRUE(CFPreferencesAppSynchronize(CFSTR("org.vantlow.filesize")));
  VPPreferencesResetForTesting();
  valid = false;
  EXPECT_EQ(CFPreferencesGetAppIntegerValue(CFSTR("FileSize-LimitTicks"),
                                            CFSTR("org.vantlow.filesize"), &valid),
            limit);
  EXPECT_TRUE(valid);
  VPPreferencesResetForTesting();
  unsetenv("XDG_CONFIG_HOME");
  struct stat aside;
  ASSERT_EQ(lstat((path + ".corrupt").c_str(), &aside), 0) << "the old file was not kept";
  EXPECT_EQ(aside.st_ino, before.st_ino) << "the kept file is not the old one";
  struct stat now;
  ASSERT_EQ(lstat(path.c_str(), &now), 0);
  EXPECT_TRUE(S_ISREG(now.st_mode));
  EXPECT_EQ(now.st_mode & 0777, 0600u);
}

INSTANTIATE_TEST_SUITE_P(Rows, BrokenPreferences,
                         ::testing::ValuesIn(std::vector<PreferencesCase>{
                             {"Corrupt", PreferencesCase::kCorrupt},
                             {"Huge", PreferencesCase::kHuge},
                             {"SymlinkToDevZero", PreferencesCase::kDevZero},
                         }),
                         RowName());

// ---- .hidden ----

struct HiddenCase {
  const char *name;
  bool huge; // else binary
};

class HostileHiddenFile : public HostileTreeTest, public ::testing::WithParamInterface<HiddenCase> {
protected:
  void TearDown() override {
    if (mounted_) umount2(root_.c_str(), MNT_DETACH);
  }
  bool mounted_ = false;
  std::string root_;
};

// A ".hidden" of 20 MiB or of binary bytes, at a volume root (a tmpfs
// mounted for the test when running as root) or in an ordinary folder. Only
// its first MiB is read; names listed there are invisible, the rest of the
// file changes nothing, and the run stays quick.
TEST_P(HostileHiddenFile, ReadBoundedAndNamesStillMatch) {
  const HiddenCase &c = GetParam();
  NoLimit();
  root_ = tree_.MakeDir("root");
  if (geteuid() == 0 && mount("tmpfs", root_.c_str(), "tmpfs", 0, "size=64m") == 0) mounted_ = true;
  std::string hidden;
  if (c.huge) {
    hidden = "a.txt\n";
    while (hidden.size() < (20u << 20))
      hidden += "not-here-" + std::to_string(hidden.size()) + "\n";
    hidden += "b.txt\n"; // beyond what is read
  } else {
    hidden = std::string("\0\x01\xff\xfe\n", 5) + "a.txt\n" + std::string("\x80\x81\r\n", 4) +
             std::string(1000, '\0') + "\nb.txt";
  }
  {
    std::ofstream(root_ + "/.hidden", std::ios::binary) << hidden;
    std::ofstream(root_ + "/a.txt") << "a";
    std::ofstream(root_ + "/b.txt") << "b";
  }
  Result r = Run({"--json", root_});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_LT(r.seconds, 20.0);
  EXPECT_EQ(CountLine(r), c.huge ? "3 files (2 invisible), 1 folders (0 invisible)"
                                 : "3 files (3 invisible), 1 folders (0 invisible)")
      << (mounted_ ? "at a mount root" : "in a folder");
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileHiddenFile,
                         ::testing::ValuesIn(std::vector<HiddenCase>{
                             {"Huge", true},
                             {"Binary", false},
                         }),
                         RowName());

} // namespace
