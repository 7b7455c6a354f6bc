// File references: paths and URLs round-trip byte for byte (names that are
// not UTF-8, names too long to fit a reference, trees deeper than PATH_MAX),
// references stay valid when copied as bytes, malformed references are
// refused, symbolic links are never followed as items, and a folder
// replaced behind a reference is reported gone rather than read instead.
#include "files_test_util.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <functional>

namespace {

using namespace files_test;

std::string BytesOf(CFStringRef path) {
  const CFIndex n = VPStringGetFileSystemRepresentationLength(path);
  std::string bytes(static_cast<size_t>(n) + 1, '\0');
  EXPECT_TRUE(CFStringGetFileSystemRepresentation(path, bytes.data(), n + 1));
  bytes.resize(static_cast<size_t>(n));
  return bytes;
}

// ---- Paths and URLs round-trip ----

struct NameCase {
  const char *name;
  std::string bytes;
  bool spilled; // too long to be held inside the reference
};

class RoundTrip : public FilesTest, public ::testing::WithParamInterface<NameCase> {};

TEST_P(RoundTrip, PathAndURLGiveTheSameBytesBack) {
  const NameCase &c = GetParam();
  const std::string path = P("sub/" + c.bytes);
  dir_.MakeFile("sub/" + c.bytes, "x");
  const long spilledBefore = VPFilesSpilledNameCount();

  const FSRef ref = RefFor(path);
  EXPECT_EQ(PathOf(ref), path);
  EXPECT_EQ(PathOf(RefFor(path)), path); // the same long name is kept once
  EXPECT_EQ(VPFilesSpilledNameCount() - spilledBefore, c.spilled ? 1 : 0);

  CFURLRef url = CFURLCreateFromFSRef(nullptr, &ref);
  ASSERT_NE(url, nullptr);
  CFStringRef text = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(BytesOf(text), path);
  FSRef back;
  EXPECT_TRUE(CFURLGetFSRef(url, &back));
  EXPECT_EQ(FSCompareFSRefs(&ref, &back), noErr);
  CFRelease(text);
  CFRelease(url);
}

INSTANTIATE_TEST_SUITE_P(Names, RoundTrip,
                         ::testing::ValuesIn(std::vector<NameCase>{
                             {"ascii", "plain.txt", false},
                             {"space", "with space", false},
                             {"utf8", "caf\xc3\xa9", false},
                             {"emoji", "smile \xf0\x9f\x98\x80", false},
                             {"invalid_utf8", "bad \xff\xfe bytes", false},
                             {"sidecar_named_directly", "._orphan", false},
                             {"longest_inline", std::string(72, 'a'), false},
                             {"first_spilled", std::string(73, 'b'), true},
                             {"longest_name", std::string(255, 'c'), true},
                             {"long_invalid", std::string(200, '\xe9'), true},
                         }),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(FilesTest, PathsResolveAsTheKernelDoes) {
  dir_.MakeFile("a/b/file", "x");
  struct Case {
    const char *name;
    std::string path;
    OSStatus status;
    std::string resolved; // relative to the tree, "" for the tree itself
    bool folder;
  } cases[] = {
      {"plain", P("a/b/file"), noErr, "a/b/file", false},
      {"dot", P("a/./b/file"), noErr, "a/b/file", false},
      {"dotdot", P("a/b/../b/file"), noErr, "a/b/file", false},
      {"double_slash", P("a//b//file"), noErr, "a/b/file", false},
      {"folder_with_slash", P("a/b/"), noErr, "a/b", true},
      {"ends_in_dotdot", P("a/b/.."), noErr, "a", true},
      {"file_with_slash", P("a/b/file/"), fnfErr, "", false},
      {"through_a_file", P("a/b/file/x"), fnfErr, "", false},
      {"missing", P("a/none"), fnfErr, "", false},
      {"missing_folder", P("none/file"), fnfErr, "", false},
      {"empty", "", fnfErr, "", false},
  };
  for (const Case &c : cases) {
    FSRef ref;
    Boolean folder = 2;
    EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>(c.path.c_str()), &ref, &folder),
              c.status)
        << c.name;
    if (c.status != noErr) continue;
    EXPECT_EQ(PathOf(ref), c.resolved.empty() ? base_ : P(c.resolved)) << c.name;
    EXPECT_EQ(folder, c.folder) << c.name;
  }
}

TEST_F(FilesTest, RootIsAFolderOfItsOwn) {
  Boolean folder = false;
  const FSRef root = RefFor("/", &folder);
  EXPECT_TRUE(folder);
  EXPECT_EQ(PathOf(root), "/");
  EXPECT_EQ(PathOf(RefFor("/..")), "/");
  FSRef parent;
  EXPECT_EQ(FSGetCatalogInfo(&root, kFSCatInfoNone, nullptr, nullptr, nullptr, &parent), noErr);
  EXPECT_EQ(FSCompareFSRefs(&root, &parent), noErr);
}

TEST_F(FilesTest, RelativePathsStartAtTheCurrentFolder) {
  dir_.MakeFile("rel/file", "x");
  char saved[PATH_MAX];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(P("rel").c_str()), 0);
  const FSRef ref = RefFor("file");
  const FSRef up = RefFor("../rel/file");
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_EQ(PathOf(ref), P("rel/file"));
  EXPECT_EQ(FSCompareFSRefs(&ref, &up), noErr);
}

TEST_F(FilesTest, NullArgumentsAreRefused) {
  FSRef ref = RefFor(P(""));
  UInt8 buffer[16];
  EXPECT_EQ(FSPathMakeRef(nullptr, &ref, nullptr), paramErr);
  EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>("/"), nullptr, nullptr), paramErr);
  EXPECT_EQ(FSRefMakePath(nullptr, buffer, sizeof buffer), paramErr);
  EXPECT_EQ(FSRefMakePath(&ref, nullptr, 16), paramErr);
  EXPECT_EQ(FSRefMakePath(&ref, buffer, 0), paramErr);
  EXPECT_EQ(FSCompareFSRefs(&ref, nullptr), paramErr);
  EXPECT_EQ(CFURLCreateFromFSRef(nullptr, nullptr), nullptr);
  EXPECT_FALSE(CFURLGetFSRef(nullptr, &ref));
}

TEST_F(FilesTest, PathThatDoesNotFitTheBufferIsAnError) {
  dir_.MakeFile("file", "x");
  const FSRef ref = RefFor(P("file"));
  const std::string path = P("file");
  std::vector<UInt8> buffer(path.size() + 1, 0xEE);
  EXPECT_EQ(FSRefMakePath(&ref, buffer.data(), static_cast<UInt32>(path.size())), paramErr);
  EXPECT_EQ(buffer[0], 0); // an empty string, never a cut path
  EXPECT_EQ(FSRefMakePath(&ref, buffer.data(), static_cast<UInt32>(buffer.size())), noErr);
  EXPECT_EQ(reinterpret_cast<const char *>(buffer.data()), path);
}

TEST_F(FilesTest, URLOfAMissingItemGivesNoReference) {
  CFURLRef url = CFURLCreateFromFileSystemRepresentation(
      nullptr, reinterpret_cast<const UInt8 *>(P("none").c_str()),
      static_cast<CFIndex>(P("none").size()), false);
  ASSERT_NE(url, nullptr);
  FSRef ref;
  std::memset(&ref, 0x5A, sizeof ref);
  EXPECT_FALSE(CFURLGetFSRef(url, &ref));
  CFRelease(url);
}

// ---- References as bytes ----

TEST_F(FilesTest, ReferencesSurviveBeingCopiedAsBytes) {
  dir_.MakeFile("copy/one", "1");
  dir_.MakeFile("copy/" + std::string(100, 'L'), "22");
  std::vector<std::vector<unsigned char>> kept;
  {
    std::vector<Entry> entries = List(RefFor(P("copy")), kFSCatInfoNone);
    ASSERT_EQ(entries.size(), 2u);
    for (Entry &e : entries) {
      CFDataRef data = CFDataCreate(nullptr, e.ref.hidden, sizeof e.ref);
      ASSERT_NE(data, nullptr);
      kept.emplace_back(CFDataGetBytePtr(data), CFDataGetBytePtr(data) + CFDataGetLength(data));
      CFRelease(data);
      std::memset(&e.ref, 0, sizeof e.ref);
    }
  }
  VPFilesDropDescriptors();
  for (const auto &bytes : kept) {
    ASSERT_EQ(bytes.size(), sizeof(FSRef));
    auto *ref = new FSRef;
    std::memcpy(ref, bytes.data(), sizeof *ref);
    FSCatalogInfo info;
    ASSERT_EQ(FSGetCatalogInfo(ref, kFSCatInfoDataSizes, &info, nullptr, nullptr, nullptr), noErr);
    const std::string path = PathOf(*ref);
    struct stat st;
    ASSERT_EQ(lstat(path.c_str(), &st), 0) << path;
    EXPECT_EQ(info.dataLogicalSize, static_cast<UInt64>(st.st_size)) << path;
    delete ref;
  }
}

TEST_F(FilesTest, MalformedReferencesAreRefused) {
  dir_.MakeFile("item", "x");
  dir_.MakeFile(std::string(90, 's'), "x");
  const FSRef good = RefFor(P("item"));
  const FSRef spilled = RefFor(P(std::string(90, 's')));
  struct Case {
    const char *name;
    FSRef base;
    void (*damage)(FSRef &);
  } cases[] = {
      {"all_zero", good, [](FSRef &r) { std::memset(&r, 0, sizeof r); }},
      {"all_ones", good, [](FSRef &r) { std::memset(&r, 0xFF, sizeof r); }},
      {"magic", good, [](FSRef &r) { r.hidden[4] ^= 0x01; }},
      {"node_zero", good, [](FSRef &r) { std::memset(r.hidden, 0, 4); }},
      {"node_unknown", good, [](FSRef &r) { std::memset(r.hidden, 0x7F, 4); }},
      {"form", good, [](FSRef &r) { r.hidden[5] = 9; }},
      {"name_length_zero", good, [](FSRef &r) { r.hidden[7] = 0; }},
      {"name_length_past_end", good, [](FSRef &r) { r.hidden[7] = 200; }},
      {"garbage_after_name", good, [](FSRef &r) { r.hidden[79] = 'z'; }},
      {"slash_in_name", good, [](FSRef &r) { r.hidden[9] = '/'; }},
      {"dotdot", good, [](FSRef &r) { r.hidden[7] = 2, r.hidden[8] = '.', r.hidden[9] = '.'; }},
      {"spill_id", spilled, [](FSRef &r) { std::memset(r.hidden + 8, 0x6B, 4); }},
  };
  for (const Case &c : cases) {
    FSRef ref = c.base;
    c.damage(ref);
    FSCatalogInfo info;
    UInt8 path[PATH_MAX];
    LSItemInfoRecord ls;
    FSIterator iterator = nullptr;
    EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr),
              paramErr)
        << c.name;
    EXPECT_EQ(FSRefMakePath(&ref, path, sizeof path), paramErr) << c.name;
    EXPECT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestBasicFlagsOnly, &ls), paramErr) << c.name;
    EXPECT_EQ(FSOpenIterator(&ref, kFSIterateFlat, &iterator), paramErr) << c.name;
    EXPECT_EQ(iterator, nullptr) << c.name;
    EXPECT_EQ(CFURLCreateFromFSRef(nullptr, &ref), nullptr) << c.name;
    EXPECT_EQ(FSCompareFSRefs(&ref, &good), paramErr) << c.name;
  }
}

TEST_F(FilesTest, ComparingReferences) {
  dir_.MakeFile("cmp/a", "x");
  dir_.MakeFile("cmp/b", "x");
  const std::vector<Entry> listed = List(RefFor(P("cmp")), kFSCatInfoNone);
  ASSERT_EQ(listed.size(), 2u);
  for (const Entry &e : listed) {
    const FSRef fromPath = RefFor(PathOf(e.ref));
    EXPECT_EQ(FSCompareFSRefs(&e.ref, &fromPath), noErr);
  }
  EXPECT_EQ(FSCompareFSRefs(&listed[0].ref, &listed[1].ref), errFSRefsDifferent);
  const FSRef folder = RefFor(P("cmp"));
  FSRef parent;
  ASSERT_EQ(FSGetCatalogInfo(&listed[0].ref, kFSCatInfoNone, nullptr, nullptr, nullptr, &parent),
            noErr);
  EXPECT_EQ(FSCompareFSRefs(&folder, &parent), noErr);
}

// ---- Symbolic links ----

TEST_F(FilesTest, LinksAreItemsOfTheirOwn) {
  dir_.MakeFile("real/inner", "contents");
  ASSERT_EQ(symlink("real/inner", P("to_file").c_str()), 0);
  ASSERT_EQ(symlink("real", P("to_folder").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", P("dangling").c_str()), 0);

  for (const char *name : {"to_file", "to_folder", "dangling"}) {
    Boolean folder = true;
    const FSRef ref = RefFor(P(name), &folder);
    EXPECT_FALSE(folder) << name;
    EXPECT_EQ(PathOf(ref), P(name)) << name;
    FSCatalogInfo info;
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags | kFSCatInfoDataSizes, &info, nullptr,
                               nullptr, nullptr),
              noErr)
        << name;
    struct stat st;
    ASSERT_EQ(lstat(P(name).c_str(), &st), 0);
    EXPECT_EQ(info.nodeFlags & kFSNodeIsDirectoryMask, 0) << name;
    EXPECT_EQ(info.dataLogicalSize, static_cast<UInt64>(st.st_size)) << name;
    LSItemInfoRecord ls;
    ASSERT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestBasicFlagsOnly, &ls), noErr);
    EXPECT_EQ(ls.flags & (kLSItemInfoIsSymlink | kLSItemInfoIsContainer), kLSItemInfoIsSymlink)
        << name;
  }
  FSRef link = RefFor(P("to_folder"));
  FSIterator iterator = nullptr;
  EXPECT_EQ(FSOpenIterator(&link, kFSIterateFlat, &iterator), fnfErr);
  EXPECT_EQ(iterator, nullptr);

  CFURLRef url = CFURLCreateFromFileSystemRepresentation(
      nullptr, reinterpret_cast<const UInt8 *>(P("dangling").c_str()),
      static_cast<CFIndex>(P("dangling").size()), false);
  FSRef dangling;
  EXPECT_TRUE(CFURLGetFSRef(url, &dangling)); // the link exists, though its target does not
  CFRelease(url);
}

TEST_F(FilesTest, LinkedFoldersOnTheWayAreFollowedToTheRealFolder) {
  dir_.MakeFile("real/inner", "x");
  dir_.MakeDir("a");
  ASSERT_EQ(symlink(P("real").c_str(), P("absolute").c_str()), 0);
  ASSERT_EQ(symlink("../real", P("a/relative").c_str()), 0);
  ASSERT_EQ(symlink("loop", P("loop").c_str()), 0);
  EXPECT_EQ(PathOf(RefFor(P("absolute/inner"))), P("real/inner"));
  EXPECT_EQ(PathOf(RefFor(P("a/relative/inner"))), P("real/inner"));
  EXPECT_EQ(PathOf(RefFor(P("a/relative/"))), P("real"));
  FSRef ref;
  EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>(P("loop/x").c_str()), &ref, nullptr),
            fnfErr);
}

// ---- Folders behind references ----

TEST_F(FilesTest, ReplacedFolderIsReportedGoneNotReadInstead) {
  struct Case {
    const char *name;
    bool dropDescriptors; // the folder must be opened again by name
    bool keepOld;         // the old folder is moved away rather than removed
  } cases[] = {{"renamed_then_reopened", true, true},
               {"removed_then_reopened", true, false},
               {"removed_while_cached", false, false}};
  for (const Case &c : cases) {
    const std::string folder = std::string("swap_") + c.name;
    dir_.MakeFile(folder + "/f", "old");
    const FSRef ref = RefFor(P(folder + "/f"));
    FSCatalogInfo info;
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoDataSizes, &info, nullptr, nullptr, nullptr), noErr);
    if (c.dropDescriptors) VPFilesDropDescriptors();
    if (c.keepOld) {
      ASSERT_EQ(rename(P(folder).c_str(), P(folder + ".old").c_str()), 0);
    } else {
      ASSERT_EQ(unlink(P(folder + "/f").c_str()), 0);
      ASSERT_EQ(rmdir(P(folder).c_str()), 0);
    }
    dir_.MakeFile(folder + "/f", "a new file in a new folder");
    EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoDataSizes, &info, nullptr, nullptr, nullptr), fnfErr)
        << c.name;
    // The new folder is found by its path.
    const FSRef fresh = RefFor(P(folder + "/f"));
    ASSERT_EQ(FSGetCatalogInfo(&fresh, kFSCatInfoDataSizes, &info, nullptr, nullptr, nullptr),
              noErr);
    EXPECT_EQ(info.dataLogicalSize, 26u) << c.name;
  }
}

TEST_F(FilesTest, DescriptorCacheStaysBoundedAndReopensEvictedFolders) {
  const long oldCapacity = VPFilesSetDescriptorCapacity(4);
  std::vector<FSRef> refs;
  for (int i = 0; i < 30; ++i) {
    const std::string name = "cache/f" + std::to_string(i) + "/file";
    dir_.MakeFile(name, std::string(static_cast<size_t>(i), 'x'));
    refs.push_back(RefFor(P(name)));
  }
  for (int round = 0; round < 2; ++round) {
    for (size_t i = 0; i < refs.size(); ++i) {
      FSCatalogInfo info;
      ASSERT_EQ(FSGetCatalogInfo(&refs[i], kFSCatInfoDataSizes, &info, nullptr, nullptr, nullptr),
                noErr);
      EXPECT_EQ(info.dataLogicalSize, i);
      EXPECT_LE(VPFilesOpenDescriptorCount(), 4);
    }
  }
  VPFilesSetDescriptorCapacity(oldCapacity);
}

TEST_F(FilesTest, FoldersAreInternedFilesAreNot) {
  for (int i = 0; i < 200; ++i)
    dir_.MakeFile("many/file" + std::to_string(i), "x");
  RefFor(P("many/file0")); // interns the folders on the way
  const long nodes = VPFilesNodeCount();
  for (int i = 0; i < 200; ++i)
    RefFor(P("many/file" + std::to_string(i)));
  List(RefFor(P("many")), kFSCatInfoDataSizes);
  EXPECT_EQ(VPFilesNodeCount(), nodes);
}

TEST_F(FilesTest, AllocationFailuresAreReportedAndLeakNothing) {
  const std::string name = "caf\xc3\xa9 \xff.txt"; // decoding it allocates
  dir_.MakeFile("sweep/" + name, "data");
  const std::string path = P("sweep/" + name);
  const FSRef ref = RefFor(path);
  struct Case {
    const char *name;
    std::function<void()> op; // checks: success, or the documented failure
  } cases[] = {
      {"path_to_ref",
       [&] {
         FSRef out;
         const OSStatus status =
             FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &out, nullptr);
         EXPECT_TRUE(status == noErr || status == memFullErr) << status;
       }},
      {"ref_to_path",
       [&] {
         UInt8 buffer[PATH_MAX];
         const OSStatus status = FSRefMakePath(&ref, buffer, sizeof buffer);
         EXPECT_TRUE(status == noErr || status == memFullErr) << status;
       }},
      {"name",
       [&] {
         HFSUniStr255 out;
         const OSErr status =
             FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, &out, nullptr, nullptr);
         EXPECT_TRUE(status == noErr || status == memFullErr) << status;
       }},
      {"url_round_trip",
       [&] {
         CFURLRef url = CFURLCreateFromFSRef(nullptr, &ref);
         if (!url) return;
         FSRef back;
         if (CFURLGetFSRef(url, &back)) {
           EXPECT_EQ(FSCompareFSRefs(&ref, &back), noErr);
         }
         CFRelease(url);
       }},
      {"launch_services_extension",
       [&] {
         LSItemInfoRecord info;
         const OSStatus status = LSCopyItemInfoForRef(&ref, kLSRequestAllInfo, &info);
         if (status == noErr) {
           EXPECT_NE(info.extension, nullptr);
           CFRelease(info.extension);
         } else {
           EXPECT_EQ(status, memFullErr);
           EXPECT_EQ(info.extension, nullptr);
         }
       }},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    for (bool repeat : {false, true})
      vantlow_test::SweepAllocationFailures([&](long) { c.op(); }, repeat);
  }
}

// ---- Trees deeper than PATH_MAX ----

// Removes name (a tree) below dirfd without ever building a long path.
void RemoveTree(int parent, const char *name) {
  const int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  if (fd < 0) {
    unlinkat(parent, name, 0);
    return;
  }
  DIR *dir = fdopendir(fd);
  std::vector<std::string> children;
  while (dirent *e = readdir(dir))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      children.push_back(e->d_name);
  for (const std::string &child : children)
    RemoveTree(dirfd(dir), child.c_str());
  closedir(dir);
  unlinkat(parent, name, AT_REMOVEDIR);
}

class DeepTree : public FilesTest {
protected:
  static constexpr int kLevels = 24;
  void SetUp() override {
    level_ = std::string(200, 'd');
    int fd = open(base_.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i < kLevels; ++i) {
      ASSERT_EQ(mkdirat(fd, level_.c_str(), 0755), 0);
      const int next = openat(fd, level_.c_str(), O_RDONLY | O_DIRECTORY);
      close(fd);
      ASSERT_GE(next, 0);
      fd = next;
    }
    const int file = openat(fd, "leaf", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(write(file, "abc", 3), 3);
    close(file);
    close(fd);
    expected_ = base_;
    for (int i = 0; i < kLevels; ++i)
      expected_ += "/" + level_;
    expected_ += "/leaf";
    ASSERT_GT(expected_.size(), static_cast<size_t>(PATH_MAX));
  }
  void TearDown() override {
    const int fd = open(base_.c_str(), O_RDONLY | O_DIRECTORY);
    RemoveTree(fd, level_.c_str());
    close(fd);
    FilesTest::TearDown();
  }
  std::string level_, expected_;
};

TEST_F(DeepTree, WalkReachesItemsBeyondPathMax) {
  const long oldCapacity = VPFilesSetDescriptorCapacity(4);
  FSRef folder = RefFor(P(level_));
  for (int i = 1; i < kLevels; ++i) {
    const std::vector<Entry> entries = List(folder, kFSCatInfoNodeFlags);
    ASSERT_EQ(entries.size(), 1u);
    ASSERT_TRUE(entries[0].info.nodeFlags & kFSNodeIsDirectoryMask);
    folder = entries[0].ref;
    if (i == kLevels / 2) VPFilesDropDescriptors(); // reopened through the chain of parents
  }
  const std::vector<Entry> bottom = List(folder, kFSCatInfoDataSizes);
  ASSERT_EQ(bottom.size(), 1u);
  EXPECT_EQ(bottom[0].info.dataLogicalSize, 3u);
  EXPECT_EQ(PathOf(bottom[0].ref), expected_);

  UInt8 small[2048];
  EXPECT_EQ(FSRefMakePath(&bottom[0].ref, small, sizeof small), paramErr);

  VPFilesDropDescriptors();
  const FSRef byPath = RefFor(expected_);
  EXPECT_EQ(FSCompareFSRefs(&byPath, &bottom[0].ref), noErr);
  FSCatalogInfo info;
  EXPECT_EQ(FSGetCatalogInfo(&byPath, kFSCatInfoDataSizes, &info, nullptr, nullptr, nullptr),
            noErr);
  EXPECT_EQ(info.dataLogicalSize, 3u);
  VPFilesSetDescriptorCapacity(oldCapacity);
}

} // namespace
