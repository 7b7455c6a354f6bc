// The size accumulation on small real trees: what is counted and added up
// (files, folders, invisible items, unreadable folders, symbolic links,
// resource forks in AppleDouble files), how the time limit and the cancel
// keys stop a walk (on a tick clock the test drives), what a failing catalog
// read leaves behind, and the same calculation under allocation failure.
// Expected sizes come from lstat and statvfs, not from the File Manager.
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <vector>

#include <Carbon/Carbon.h>
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>
#include <vantlow/carbon_testing.h>
#include <vantlow/files_testing.h>
#include <vantlow/platform_testing.h>
#include <vantlow/toolbox_testing.h>

#include "size_accumulation.h"
#include "status_codes.h"
#include "test_support.h"

namespace {

using vantlow_test::StdoutCapture;
using vantlow_test::SweepAllocationFailures;
using vantlow_test::TempDir;

constexpr UInt16 kEscapeKey = 53;
constexpr UInt16 kCommandKey = 55;
constexpr UInt16 kPeriodKey = 47;

// An AppleDouble file whose resource-fork entry (id 2) holds forkLength
// bytes, after a Finder-info entry (id 9) as Mac OS X writes them.
std::string AppleDouble(std::uint32_t forkLength) {
  auto be32 = [](std::string &out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
      out += static_cast<char>((v >> shift) & 0xFF);
  };
  std::string out;
  be32(out, 0x00051607);
  be32(out, 0x00020000);
  out.append(16, '\0');
  out += '\0';
  out += '\2'; // two entries
  const std::uint32_t table = 26 + 2 * 12;
  be32(out, 9);
  be32(out, table);
  be32(out, 32);
  be32(out, 2);
  be32(out, table + 32);
  be32(out, forkLength);
  out.append(32, '\0');
  out.append(forkLength, 'r');
  return out;
}

// ---- The walk, case by case ----

struct Counts {
  SInt32 files, folders, invisibleFiles, invisibleFolders;
  UInt32 unscannable;
};

struct WalkCase {
  const char *name;
  std::function<void(const TempDir &)> make; // builds the tree
  std::vector<std::string> selection;        // relative paths, in this order
  SInt32 limit;
  std::function<void()> arrange; // keys, clock or failures, just before the call
  OSStatus result;
  Counts counts;
  std::vector<std::string> counted; // the files whose data forks are in the sums
  std::vector<std::uint32_t> forks; // the resource-fork lengths in the sums
  std::vector<std::string> denied;  // folders logged as "Permission denied", in order
};

// A tick clock the test drives: each call returns the next value of the
// script, and the last one from then on.
std::vector<UInt32> gTicks;
size_t gTickCalls = 0;
UInt32 ScriptedTicks() {
  const size_t i = gTickCalls < gTicks.size() ? gTickCalls : gTicks.size() - 1;
  ++gTickCalls;
  return gTicks[i];
}
std::function<void()> Clock(std::vector<UInt32> ticks) {
  return [ticks] {
    gTicks = ticks;
    gTickCalls = 0;
    VPTickCountSetSource(ScriptedTicks);
  };
}
std::function<void()> Keys(std::vector<UInt16> keys) {
  return [keys] {
    for (UInt16 k : keys)
      VPTestSetKeyDown(k, true);
  };
}
std::function<void()> FailCalls(const char *call, int err, const char *nameSuffix) {
  return [=] { EXPECT_TRUE(VPSyscallFail(call, 1, err, true, nameSuffix)) << call; };
}

class Calculation : public ::testing::Test {
protected:
  void SetUp() override {
    std::error_code ec;
    root_ = std::filesystem::canonical(dir_.path(), ec).string();
    objectsBefore_ = VPLiveObjectCount();
  }
  void TearDown() override {
    VPSyscallReset();
    VPTickCountSetSource(nullptr);
    VPTestSetKeyMap(nullptr);
    VPCancelLatchClear();
    EXPECT_EQ(VPLiveObjectCount(), objectsBefore_) << "objects leaked";
  }

  // The selection as an array of FSRef data.
  CFArrayRef Selection(const std::vector<std::string> &relative) const {
    CFMutableArrayRef refs = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    for (const std::string &r : relative) {
      std::string path = root_ + "/" + r;
      FSRef ref;
      EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &ref, nullptr), noErr)
          << path;
      CFDataRef data = CFDataCreate(nullptr, ref.hidden, sizeof ref.hidden);
      CFArrayAppendValue(refs, data);
      CFRelease(data);
    }
    return refs;
  }

  // The physical size the volume gives a resource fork of length bytes.
  UInt64 ForkPhysical(std::uint32_t length) const {
    struct statvfs vfs {};
    EXPECT_EQ(statvfs(root_.c_str(), &vfs), 0);
    const UInt64 fragment = vfs.f_frsize ? vfs.f_frsize : 1;
    return (length + fragment - 1) / fragment * fragment;
  }

  TempDir dir_;
  std::string root_;
  long objectsBefore_ = 0;
};

class Walk : public Calculation, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(Walk, CountsAndAddsUpWhatItVisits) {
  const WalkCase &c = GetParam();
  c.make(dir_);
  CFArrayRef refs = Selection(c.selection);
  MyFileSizeData data{};
  data.fileCount = 99; // a calculation starts from zero
  data.dataLogicalTotal = 99;

  StdoutCapture out;
  if (c.arrange) c.arrange();
  const OSStatus result = CalculateFileSizeForTarget(refs, &data, c.limit);
  VPSyscallReset();
  const std::string log = out.Take();
  CFRelease(refs);

  EXPECT_EQ(result, c.result);
  EXPECT_EQ(data.fileCount, c.counts.files);
  EXPECT_EQ(data.folderCount, c.counts.folders);
  EXPECT_EQ(data.invisibleFileCount, c.counts.invisibleFiles);
  EXPECT_EQ(data.invisibleFolderCount, c.counts.invisibleFolders);
  EXPECT_EQ(data.unscannableFolderCount, c.counts.unscannable);

  UInt64 logical = 0, physical = 0;
  for (const std::string &file : c.counted) {
    struct stat st {};
    ASSERT_EQ(lstat((root_ + "/" + file).c_str(), &st), 0) << file;
    logical += static_cast<UInt64>(st.st_size);
    physical += static_cast<UInt64>(st.st_blocks) * 512;
  }
  EXPECT_EQ(data.dataLogicalTotal, logical);
  EXPECT_EQ(data.dataPhysicalTotal, physical);
  UInt64 forkLogical = 0, forkPhysical = 0;
  for (std::uint32_t fork : c.forks) {
    forkLogical += fork;
    forkPhysical += ForkPhysical(fork);
  }
  EXPECT_EQ(data.rsrcLogicalTotal, forkLogical);
  EXPECT_EQ(data.rsrcPhysicalTotal, forkPhysical);

  std::string expectedLog;
  for (const std::string &folder : c.denied)
    expectedLog += "Vantlow: Permission denied: " + root_ + "/" + folder + "\n";
  EXPECT_EQ(log, expectedLog);
}

// A file, and a folder holding one file and one folder with one file: the
// tree on which the limit and the keys are tried. The selection order does
// not matter: the walk goes in sorted path order, "a" before "d".
void SmallTree(const TempDir &t) {
  t.MakeFile("a", std::string(3000, 'a'));
  t.MakeFile("d/f", std::string(5000, 'f'));
  t.MakeFile("d/sub/g", std::string(70000, 'g'));
}
const std::vector<std::string> kSmallSelection = {"d", "a"};
const Counts kSmallTreeCounts = {3, 2, 0, 0, 0};
const std::vector<std::string> kSmallTreeFiles = {"a", "d/f", "d/sub/g"};

const WalkCase kWalkCases[] = {
    {"OneFile",
     [](const TempDir &t) { t.MakeFile("one.txt", std::string(10000, 'x')); },
     {"one.txt"},
     -1,
     nullptr,
     noErr,
     {1, 0, 0, 0, 0},
     {"one.txt"},
     {},
     {}},
    {"FolderWithItsOwnFileCountsTheFileOnce",
     [](const TempDir &t) { t.MakeFile("d/f", std::string(5000, 'f')); },
     {"d/f", "d"},
     -1,
     nullptr,
     noErr,
     {1, 1, 0, 0, 0},
     {"d/f"},
     {},
     {}},
    {"EmptyFolder",
     [](const TempDir &t) { t.MakeDir("empty"); },
     {"empty"},
     -1,
     nullptr,
     noErr,
     {0, 1, 0, 0, 0},
     {},
     {},
     {}},
    {"InvisibleFileAndFolder",
     [](const TempDir &t) {
       t.MakeFile("d/seen", "1");
       t.MakeFile("d/.unseen", "22");
       t.MakeFile("d/.cache/inside", "333");
     },
     {"d"},
     -1,
     nullptr,
     noErr,
     {3, 2, 1, 1, 0},
     {"d/seen", "d/.unseen", "d/.cache/inside"},
     {},
     {}},
    {"SymbolicLinkIsAFileOfItsOwn",
     [](const TempDir &t) {
       t.MakeFile("target/big", std::string(100000, 'b'));
       t.MakeDir("d");
       std::filesystem::create_directory_symlink(t.path() + "/target", t.path() + "/d/link");
     },
     {"d"},
     -1,
     nullptr,
     noErr,
     {1, 1, 0, 0, 0},
     {"d/link"},
     {},
     {}},
    {"ResourceForksInSidecarsAreForksNotItems",
     [](const TempDir &t) {
       t.MakeFile("d/doc", std::string(100, 'd'));
       t.MakeFile("d/._doc", AppleDouble(5000));
       t.MakeFile("d/sub/pic", std::string(200, 'p'));
       t.MakeFile("d/sub/._pic", AppleDouble(0));
       t.MakeFile("d/._sub", AppleDouble(10)); // a folder's sidecar is not listed either
       t.MakeFile("d/._orphan", "no partner: an ordinary invisible file");
     },
     {"d"},
     -1,
     nullptr,
     noErr,
     {3, 2, 1, 0, 0},
     {"d/doc", "d/sub/pic", "d/._orphan"},
     {5000},
     {}},
    {"FolderWithoutAccessIsCountedLoggedAndSkipped",
     [](const TempDir &t) {
       t.MakeFile("d/locked/secret", "s");
       t.MakeFile("d/open/f", "ff");
     },
     {"d"},
     -1,
     FailCalls("faccessat", EACCES, "locked"),
     noErr,
     {1, 3, 0, 0, 1},
     {"d/open/f"},
     {},
     {"d/locked"}},
    {"FolderWhoseAccessCannotBeReadIsSkipped",
     [](const TempDir &t) {
       t.MakeFile("d/broken/secret", "s");
       t.MakeFile("d/open/f", "ff");
     },
     {"d"},
     -1,
     FailCalls("faccessat", EIO, "broken"),
     noErr,
     {1, 3, 0, 0, 1},
     {"d/open/f"},
     {},
     {"d/broken"}},
    {"SelectedFolderWithoutAccessIsSkippedToo",
     [](const TempDir &t) {
       t.MakeFile("locked/secret", "s");
       t.MakeFile("b", "bb");
     },
     {"locked", "b"},
     -1,
     FailCalls("faccessat", EACCES, "locked"),
     noErr,
     {1, 1, 0, 0, 1},
     {"b"},
     {},
     {"locked"}},
    {"EscapeStopsAWalkWithoutLimit",
     SmallTree,
     kSmallSelection,
     -1,
     Keys({kEscapeKey}),
     userCanceledErr,
     {0, 0, 0, 0, 0},
     {},
     {},
     {}},
    {"CommandPeriodStops",
     SmallTree,
     kSmallSelection,
     -1,
     Keys({kCommandKey, kPeriodKey}),
     userCanceledErr,
     {0, 0, 0, 0, 0},
     {},
     {},
     {}},
    {"CancelLatchSetByTheHostStops",
     SmallTree,
     kSmallSelection,
     -1,
     [] { VPCancelLatchSet(); },
     userCanceledErr,
     {0, 0, 0, 0, 0},
     {},
     {},
     {}},
    {"CommandAloneDoesNotStop",
     SmallTree,
     kSmallSelection,
     -1,
     Keys({kCommandKey}),
     noErr,
     kSmallTreeCounts,
     kSmallTreeFiles,
     {},
     {}},
    {"NoLimitIgnoresTheClock",
     SmallTree,
     kSmallSelection,
     -1,
     Clock({0, 1000000}),
     noErr,
     kSmallTreeCounts,
     kSmallTreeFiles,
     {},
     {}},
    // Start, then the selection's level at the same tick: "a" and "d" are
    // counted; entering "d" the clock has moved past the start.
    {"LimitZeroStopsOnceTheClockMoves",
     SmallTree,
     kSmallSelection,
     0,
     Clock({100, 100, 101}),
     userCanceledErr,
     {1, 1, 0, 0, 0},
     {"a"},
     {},
     {}},
    {"LimitIsNotPassedUntilExceeded",
     SmallTree,
     kSmallSelection,
     60,
     Clock({100, 130, 160}),
     noErr,
     kSmallTreeCounts,
     kSmallTreeFiles,
     {},
     {}},
    {"WrappedClockStillMeasuresElapsedTicks",
     SmallTree,
     kSmallSelection,
     2,
     Clock({0xFFFFFFFEu, 0xFFFFFFFFu, 0x00000001u}),
     userCanceledErr,
     {1, 1, 0, 0, 0},
     {"a"},
     {},
     {}},
    {"OtherNegativeLimitActsAsAVeryLargeOne",
     SmallTree,
     kSmallSelection,
     -2,
     Clock({0, 0x7FFFFFFF}),
     noErr,
     kSmallTreeCounts,
     kSmallTreeFiles,
     {},
     {}},
    // "sub" may be searched and read, yet cannot be opened: the walk ends
    // there with the listing's error.
    {"FolderThatCannotBeListedEndsTheWalk",
     [](const TempDir &t) {
       t.MakeFile("a", "aaaa");
       t.MakeFile("d/sub/x", "x");
     },
     {"a", "d"},
     -1,
     FailCalls("openat", EACCES, "sub"),
     afpAccessDenied,
     {1, 2, 0, 0, 0},
     {"a"},
     {},
     {}},
    // Every catalog read of "victim" fails: "a" was counted before it, the
    // rest of the walk is abandoned.
    {"FailingCatalogReadEndsTheWalk",
     [](const TempDir &t) {
       t.MakeFile("a", "aaaa");
       t.MakeFile("d/victim", "v");
       t.MakeFile("e/after", "e");
     },
     {"a", "d", "e"},
     -1,
     FailCalls("fstatat", EIO, "victim"),
     ioErr,
     {1, 1, 0, 0, 0},
     {"a"},
     {},
     {}},
    // Items that went away between the listing and their turn (the tree is
    // live): a file gone is not counted, a folder gone or turned into a
    // file stays counted as the folder listed but is not entered; either
    // way the rest of the walk goes on and the result is noErr.
    {"FileGoneSinceTheListingIsSkipped",
     [](const TempDir &t) {
       t.MakeFile("a", "aaaa");
       t.MakeFile("d/gone", "gone");
       t.MakeFile("d/kept", "kk");
       t.MakeFile("e/after", "e");
     },
     {"a", "d", "e"},
     -1,
     FailCalls("fstatat", ENOENT, "gone"),
     noErr,
     {3, 2, 0, 0, 0},
     {"a", "d/kept", "e/after"},
     {},
     {}},
    {"FolderGoneSinceTheListingIsNotEntered",
     [](const TempDir &t) {
       t.MakeFile("a", "aaaa");
       t.MakeFile("d/sub/x", "x");
       t.MakeFile("d/y", "yy");
       t.MakeFile("e/after", "e");
     },
     {"a", "d", "e"},
     -1,
     FailCalls("openat", ENOENT, "sub"),
     noErr,
     {3, 3, 0, 0, 0},
     {"a", "d/y", "e/after"},
     {},
     {}},
    {"FolderTurnedIntoAFileIsNotEntered",
     [](const TempDir &t) {
       t.MakeFile("a", "aaaa");
       t.MakeFile("d/sub/x", "x");
       t.MakeFile("d/y", "yy");
       t.MakeFile("e/after", "e");
     },
     {"a", "d", "e"},
     -1,
     FailCalls("openat", ENOTDIR, "sub"),
     noErr,
     {3, 3, 0, 0, 0},
     {"a", "d/y", "e/after"},
     {},
     {}},
};
struct RowNamer {
  template <class Row> std::string operator()(const ::testing::TestParamInfo<Row> &row) const {
    return row.param.name;
  }
};
INSTANTIATE_TEST_SUITE_P(Table, Walk, ::testing::ValuesIn(kWalkCases), RowNamer());

// ---- Around the walk ----

TEST_F(Calculation, SecondRunOverTheSameArrayGivesTheSameFigures) {
  SmallTree(dir_);
  dir_.MakeFile("d/._f", AppleDouble(700));
  CFArrayRef refs = Selection({"d/sub", "a", "d"});
  MyFileSizeData first{}, second{};
  ASSERT_EQ(CalculateFileSizeForTarget(refs, &first, -1), noErr);
  second = first;
  second.fileCount = 1234;
  second.rsrcLogicalTotal = 1234;
  ASSERT_EQ(CalculateFileSizeForTarget(refs, &second, -1), noErr);
  EXPECT_EQ(second.fileCount, 3);
  EXPECT_EQ(second.folderCount, 2);
  EXPECT_EQ(second.rsrcLogicalTotal, 700u);
  EXPECT_EQ(second.dataLogicalTotal, first.dataLogicalTotal);
  EXPECT_EQ(second.dataPhysicalTotal, first.dataPhysicalTotal);
  EXPECT_EQ(second.rsrcPhysicalTotal, first.rsrcPhysicalTotal);
  // The caller's array is only read: the contained "d/sub" is still there.
  EXPECT_EQ(CFArrayGetCount(refs), 3);
  CFRelease(refs);
}

TEST_F(Calculation, KeepsTheFlagsAndTheSelectionOfTheRecord) {
  SmallTree(dir_);
  CFArrayRef refs = Selection({"a"});
  MyFileSizeData data{};
  data.complete = true;
  data.lazyCalc = true;
  data.limitTicks = 42;
  data.targetRefs = refs;
  EXPECT_EQ(CalculateFileSizeForTarget(refs, &data, -1), noErr);
  EXPECT_TRUE(data.complete);
  EXPECT_TRUE(data.lazyCalc);
  EXPECT_EQ(data.limitTicks, 42);
  EXPECT_EQ(data.targetRefs, refs);
  CFRelease(refs);
}

TEST_F(Calculation, FailureBeforeTheWalkLeavesThePreviousFigures) {
  dir_.MakeFile("gone", "g");
  CFArrayRef refs = Selection({"gone"});
  std::filesystem::remove(root_ + "/gone");
  MyFileSizeData data{};
  data.fileCount = 7;
  data.folderCount = 5;
  data.dataLogicalTotal = 4096;
  EXPECT_EQ(CalculateFileSizeForTarget(refs, &data, -1), kMyNilPointerErr);
  EXPECT_EQ(data.fileCount, 7);
  EXPECT_EQ(data.folderCount, 5);
  EXPECT_EQ(data.dataLogicalTotal, 4096u);
  CFRelease(refs);
}

TEST_F(Calculation, NullArgumentsChangeNothing) {
  CFArrayRef refs = Selection({});
  MyFileSizeData data{};
  data.fileCount = 7;
  EXPECT_EQ(CalculateFileSizeForTarget(nullptr, &data, -1), paramErr);
  EXPECT_EQ(data.fileCount, 7);
  EXPECT_EQ(CalculateFileSizeForTarget(refs, nullptr, -1), paramErr);
  CFRelease(refs);
}

TEST_F(Calculation, ClearLeavesModeLimitAndSelection) {
  MyFileSizeData data{1, 2, 3, 4, 5, 6, 7, 8, 9, true, true, 60, nullptr};
  CFArrayRef refs = Selection({});
  data.targetRefs = refs;
  ClearFileSizes(&data);
  EXPECT_EQ(data.fileCount, 0);
  EXPECT_EQ(data.folderCount, 0);
  EXPECT_EQ(data.invisibleFileCount, 0);
  EXPECT_EQ(data.invisibleFolderCount, 0);
  EXPECT_EQ(data.unscannableFolderCount, 0u);
  EXPECT_EQ(data.dataPhysicalTotal + data.dataLogicalTotal + data.rsrcPhysicalTotal +
                data.rsrcLogicalTotal,
            0u);
  EXPECT_TRUE(data.complete);
  EXPECT_TRUE(data.lazyCalc);
  EXPECT_EQ(data.limitTicks, 60);
  EXPECT_EQ(data.targetRefs, refs);
  ClearFileSizes(nullptr);
  CFRelease(refs);
}

// Runs body on a thread whose stack is only stackBytes large.
void OnSmallStack(size_t stackBytes, std::function<void()> body) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, stackBytes);
  pthread_t thread;
  auto run = [](void *arg) -> void * {
    (*static_cast<std::function<void()> *>(arg))();
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attr, run, &body), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
}

// A chain of depth folders named "n" below root, with a 4-byte file at the
// bottom; made and removed one level at a time from inside, so that no
// path ever grows with the depth.
void MakeChain(const std::string &root, int depth) {
  ASSERT_EQ(chdir(root.c_str()), 0);
  for (int i = 0; i < depth; ++i)
    ASSERT_TRUE(mkdir("n", 0755) == 0 && chdir("n") == 0);
  std::ofstream("leaf") << "leaf";
}
void RemoveChain(const std::string &root, int depth) {
  ASSERT_EQ(chdir(root.c_str()), 0);
  for (int i = 0; i < depth; ++i)
    ASSERT_EQ(chdir("n"), 0);
  unlink("leaf");
  for (int i = 0; i < depth; ++i)
    ASSERT_TRUE(chdir("..") == 0 && rmdir("n") == 0);
}

// Each folder level costs the walk heap memory, not call stack: a tree
// thousands of folders deep is measured on a thread with a small stack.
TEST_F(Calculation, DeepTreeDoesNotGrowTheCallStack) {
  constexpr int kDepth = 3000;
  const std::filesystem::path cwd = std::filesystem::current_path();
  MakeChain(root_, kDepth);
  std::filesystem::current_path(cwd);
  CFArrayRef refs = Selection({"n"});
  MyFileSizeData data{};
  OSStatus result = paramErr;
  OnSmallStack(256 * 1024, [&] { result = CalculateFileSizeForTarget(refs, &data, -1); });
  EXPECT_EQ(result, noErr);
  EXPECT_EQ(data.folderCount, kDepth);
  EXPECT_EQ(data.fileCount, 1);
  EXPECT_EQ(data.dataLogicalTotal, 4u);
  CFRelease(refs);
  // Folder descriptors still open on a deleted chain make closing them slow.
  VPFilesDropDescriptors();
  RemoveChain(root_, kDepth);
  std::filesystem::current_path(cwd);
}

// ---- Allocation failures ----

TEST_F(Calculation, UnderAllocationFailureGivesExactFiguresOrAnError) {
  SmallTree(dir_);
  dir_.MakeFile("d/._f", AppleDouble(700));
  dir_.MakeFile("d/.hidden-file", "h");
  dir_.MakeFile("d/sub/deeper/more", "m");
  CFArrayRef refs = Selection({"d", "a", "d/sub"});
  MyFileSizeData expected{};
  ASSERT_EQ(CalculateFileSizeForTarget(refs, &expected, -1), noErr);
  for (bool repeat : {false, true}) {
    int failures = 0;
    SweepAllocationFailures(
        [&](long n) {
          MyFileSizeData data{};
          const OSStatus result = CalculateFileSizeForTarget(refs, &data, -1);
          if (result == noErr) {
            EXPECT_EQ(data.fileCount, expected.fileCount) << "allocation " << n;
            EXPECT_EQ(data.folderCount, expected.folderCount) << "allocation " << n;
            EXPECT_EQ(data.invisibleFileCount, expected.invisibleFileCount) << "allocation " << n;
            EXPECT_EQ(data.invisibleFolderCount, expected.invisibleFolderCount)
                << "allocation " << n;
            EXPECT_EQ(data.unscannableFolderCount, expected.unscannableFolderCount)
                << "allocation " << n;
            EXPECT_EQ(data.dataLogicalTotal, expected.dataLogicalTotal) << "allocation " << n;
            EXPECT_EQ(data.dataPhysicalTotal, expected.dataPhysicalTotal) << "allocation " << n;
            EXPECT_EQ(data.rsrcLogicalTotal, expected.rsrcLogicalTotal) << "allocation " << n;
            EXPECT_EQ(data.rsrcPhysicalTotal, expected.rsrcPhysicalTotal) << "allocation " << n;
          } else {
            ++failures;
            // The exclusion reports a path it could not make as paramErr.
            EXPECT_TRUE(result == memFullErr || result == kMyNilPointerErr || result == paramErr)
                << "allocation " << n << ": " << result;
          }
        },
        repeat);
    EXPECT_GT(failures, 0);
  }
  CFRelease(refs);
}

} // namespace
