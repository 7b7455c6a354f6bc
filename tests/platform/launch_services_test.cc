// Launch Services flags: what kind of item a reference names, which items
// are invisible (a leading dot, or a name in the folder's ".hidden" file,
// read with the volume-root rules and treated as untrusted input), and which
// folders are volume roots (mount points, checked on real mounts when the
// test may mount).
#include "files_test_util.h"

#include <algorithm>
#include <cerrno>

namespace {

using namespace files_test;

LSItemInfoFlags FlagsOf(const std::string &path) {
  const FSRef ref = RefFor(path);
  LSItemInfoRecord info;
  EXPECT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestBasicFlagsOnly, &info), noErr) << path;
  return info.flags;
}

bool Invisible(const std::string &path) {
  return FlagsOf(path) & kLSItemInfoIsInvisible;
}

TEST_F(FilesTest, FlagsTellTheKindOfItem) {
  dir_.MakeFile("kinds/file", "x");
  dir_.MakeDir("kinds/folder");
  dir_.MakeFile("kinds/.dotfile", "x");
  dir_.MakeDir("kinds/.dotfolder");
  dir_.MakeFile("kinds/._orphan", "x");
  ASSERT_EQ(symlink("file", P("kinds/link").c_str()), 0);
  ASSERT_EQ(mkfifo(P("kinds/pipe").c_str(), 0644), 0);
  struct Case {
    const char *name;
    LSItemInfoFlags flags;
  } cases[] = {
      {"file", kLSItemInfoIsPlainFile},
      {"folder", kLSItemInfoIsContainer},
      {".dotfile", kLSItemInfoIsPlainFile | kLSItemInfoIsInvisible},
      {".dotfolder", kLSItemInfoIsContainer | kLSItemInfoIsInvisible},
      {"._orphan", kLSItemInfoIsPlainFile | kLSItemInfoIsInvisible},
      {"link", kLSItemInfoIsSymlink},
      {"pipe", 0},
  };
  for (const Case &c : cases)
    EXPECT_EQ(FlagsOf(P(std::string("kinds/") + c.name)), c.flags) << c.name;
  // The same through references from a listing, which know the kinds already.
  for (const Entry &e : List(RefFor(P("kinds")), kFSCatInfoNone)) {
    LSItemInfoRecord info;
    ASSERT_EQ(LSCopyItemInfoForRef(&e.ref, kLSRequestBasicFlagsOnly, &info), noErr);
    EXPECT_EQ(info.flags, FlagsOf(PathOf(e.ref))) << PathOf(e.ref);
  }
}

TEST_F(FilesTest, RootIsAVolume) {
  EXPECT_EQ(FlagsOf("/"), kLSItemInfoIsContainer | kLSItemInfoIsVolume);
  dir_.MakeDir("plain");
  EXPECT_EQ(FlagsOf(P("plain")) & kLSItemInfoIsVolume, 0u);
}

TEST_F(FilesTest, MountPointsAreVolumes) {
  const std::string mountPoint = dir_.MakeDir("mnt");
  if (!MountTmpfs(mountPoint, false, [] {})) GTEST_SKIP() << "cannot mount a file system here";
  dir_.MakeDir("mnt/inside");
  // With the kernel's mount-root attribute, and without it (older kernels):
  // then the device, which differs from the parent's, tells.
  const LSItemInfoFlags withStatx = FlagsOf(mountPoint);
  const LSItemInfoFlags insideWithStatx = FlagsOf(mountPoint + "/inside");
  const FSRef ref = RefFor(mountPoint);
  ASSERT_TRUE(VPSyscallFail("statx", 1, ENOSYS, true, "mnt"));
  LSItemInfoRecord info;
  EXPECT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestBasicFlagsOnly, &info), noErr);
  const LSItemInfoFlags withoutStatx = info.flags;
  VPSyscallReset();
  Unmount(mountPoint);
  EXPECT_EQ(withStatx, kLSItemInfoIsContainer | kLSItemInfoIsVolume);
  EXPECT_EQ(withoutStatx, kLSItemInfoIsContainer | kLSItemInfoIsVolume);
  EXPECT_EQ(insideWithStatx, kLSItemInfoIsContainer);
}

TEST_F(FilesTest, BindMountOnTheSameDeviceIsAVolume) {
  dir_.MakeDir("source");
  const std::string target = dir_.MakeDir("bound");
  if (geteuid() != 0 || mount(P("source").c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
    GTEST_SKIP() << "cannot bind-mount here";
  const LSItemInfoFlags flags = FlagsOf(target);
  Unmount(target);
  EXPECT_EQ(flags, kLSItemInfoIsContainer | kLSItemInfoIsVolume);
}

// ---- ".hidden" files ----

struct HiddenCase {
  const char *name;
  std::string contents;
  std::vector<std::string> hidden;  // items the file hides
  std::vector<std::string> visible; // items it does not
};

const std::vector<HiddenCase> &HiddenCases() {
  static const std::string x255(255, 'x'), y45(45, 'y');
  static const std::vector<HiddenCase> cases = {
      {"lines", "alpha\n\nbeta", {"alpha", "beta"}, {"Alpha", "gamma"}},
      {"cr_stays_part_of_the_name", "alpha\r\n", {"alpha\r"}, {"alpha"}},
      {"spaces_are_not_trimmed", " alpha\t\n", {" alpha\t"}, {"alpha"}},
      {"long_line_in_pieces", x255 + y45 + "\n", {x255, y45}, {"x"}},
      {"nul_ends_a_name", std::string("gam\0ma\n", 7), {"gam"}, {"gamma", "ma"}},
      {"not_utf8", "\xe9t\xe9\ncaf\xc3\xa9\n", {"\xe9t\xe9", "caf\xc3\xa9"}, {"ete"}},
      {"binary_garbage", std::string("\xff\xfe\x00\x01/\x80\x81", 7), {"\xff\xfe"}, {"a", "\xff"}},
      {"empty", "", {}, {"a"}},
  };
  return cases;
}

class HiddenFile : public FilesTest, public ::testing::WithParamInterface<HiddenCase> {};

TEST_P(HiddenFile, HidesExactlyTheNamesItLists) {
  const HiddenCase &c = GetParam();
  dir_.MakeDir("h");
  for (const std::string &name : c.hidden)
    dir_.MakeFile("h/" + name, "");
  for (const std::string &name : c.visible)
    dir_.MakeFile("h/" + name, "");
  WriteBytes(P("h/.hidden"), c.contents);
  // Through a listing, which saw the file, and through paths, which did not.
  for (const Entry &e : List(RefFor(P("h")), kFSCatInfoNone)) {
    const std::string path = PathOf(e.ref);
    const std::string name = path.substr(P("h/").size());
    if (name == ".hidden") continue;
    const bool expected = std::find(c.hidden.begin(), c.hidden.end(), name) != c.hidden.end();
    LSItemInfoRecord info;
    ASSERT_EQ(LSCopyItemInfoForRef(&e.ref, kLSRequestBasicFlagsOnly, &info), noErr);
    EXPECT_EQ((info.flags & kLSItemInfoIsInvisible) != 0, expected) << name;
    EXPECT_EQ(Invisible(path), expected) << name;
  }
  // The reader on bytes in memory (the one fuzzed) finds exactly these names.
  CFSetRef names = VPHiddenNamesCreateFromDataForTesting(
      reinterpret_cast<const UInt8 *>(c.contents.data()), static_cast<CFIndex>(c.contents.size()));
  ASSERT_NE(names, nullptr);
  EXPECT_EQ(CFSetGetCount(names), static_cast<CFIndex>(c.hidden.size()));
  for (const std::string &name : c.hidden) {
    CFStringRef text = VPStringCreateWithFileSystemBytes(
        nullptr, reinterpret_cast<const UInt8 *>(name.data()), static_cast<CFIndex>(name.size()));
    EXPECT_TRUE(CFSetContainsValue(names, text)) << name;
    CFRelease(text);
  }
  CFRelease(names);
}

INSTANTIATE_TEST_SUITE_P(Rules, HiddenFile, ::testing::ValuesIn(HiddenCases()),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(FilesTest, OnlyTheFirstMebibyteOfAHiddenFileCounts) {
  std::string contents = "early\n";
  while (contents.size() < (1u << 20) - 3)
    contents += "filler-line\n";
  contents += "cut-by-the-limit\nlate\n";
  dir_.MakeFile("big/early", "");
  dir_.MakeFile("big/late", "");
  dir_.MakeFile("big/cut", "");
  WriteBytes(P("big/.hidden"), contents);
  EXPECT_TRUE(Invisible(P("big/early")));
  EXPECT_FALSE(Invisible(P("big/late")));
  EXPECT_FALSE(Invisible(P("big/cut")));
}

TEST_F(FilesTest, HiddenFilesThatAreNotRegularFilesHideNothing) {
  dir_.MakeFile("elsewhere", "alpha\n");
  dir_.MakeFile("linked/alpha", "");
  ASSERT_EQ(symlink(P("elsewhere").c_str(), P("linked/.hidden").c_str()), 0);
  dir_.MakeFile("folder/alpha", "");
  dir_.MakeDir("folder/.hidden");
  EXPECT_FALSE(Invisible(P("linked/alpha")));
  EXPECT_FALSE(Invisible(P("folder/alpha")));
}

TEST_F(FilesTest, HiddenFileIsReadOnceAndOnlyWhereThereIsOne) {
  dir_.MakeFile("once/alpha", "");
  dir_.MakeFile("once/beta", "");
  dir_.MakeFile("none/alpha", "");
  WriteBytes(P("once/.hidden"), "alpha\n");
  EXPECT_TRUE(Invisible(P("once/alpha")));
  VPSyscallReset();
  EXPECT_FALSE(Invisible(P("once/beta")));
  EXPECT_EQ(VPSyscallCount("read"), 0); // the names are kept with the folder
  // A folder whose listing showed no ".hidden" costs no call at all.
  const std::vector<Entry> entries = List(RefFor(P("none")), kFSCatInfoNone);
  ASSERT_EQ(entries.size(), 1u);
  VPSyscallReset();
  LSItemInfoRecord info;
  ASSERT_EQ(LSCopyItemInfoForRef(&entries[0].ref, kLSRequestBasicFlagsOnly, &info), noErr);
  EXPECT_EQ(info.flags, kLSItemInfoIsPlainFile);
  for (const char *call : {"openat", "fstatat", "statx", "read", "faccessat"})
    EXPECT_EQ(VPSyscallCount(call), 0) << call;
}

// ---- Other requests ----

TEST_F(FilesTest, ExtensionIsCopiedWhenAsked) {
  struct Case {
    const char *name;
    const char *expected; // null: no extension
  } cases[] = {{"report.txt", "txt"}, {"archive.tar.gz", "gz"}, {".profile", nullptr},
               {"noext", nullptr},    {"trailing.", nullptr},   {"caf\xc3\xa9.\xff", "\xff"}};
  for (const Case &c : cases) {
    dir_.MakeFile(std::string("ext/") + c.name, "");
    const FSRef ref = RefFor(P(std::string("ext/") + c.name));
    LSItemInfoRecord info;
    ASSERT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestAllInfo, &info), noErr) << c.name;
    EXPECT_EQ(info.filetype, kLSUnknownType);
    if (!c.expected) {
      EXPECT_EQ(info.extension, nullptr) << c.name;
      continue;
    }
    ASSERT_NE(info.extension, nullptr) << c.name;
    char bytes[16];
    ASSERT_TRUE(CFStringGetFileSystemRepresentation(info.extension, bytes, sizeof bytes));
    EXPECT_STREQ(bytes, c.expected) << c.name;
    CFRelease(info.extension);
  }
}

TEST_F(FilesTest, LaunchServicesRefusesNullArguments) {
  dir_.MakeFile("f", "");
  const FSRef ref = RefFor(P("f"));
  LSItemInfoRecord info;
  std::memset(&info, 0x5A, sizeof info);
  EXPECT_EQ(LSCopyItemInfoForRef(nullptr, kLSRequestBasicFlagsOnly, &info), paramErr);
  EXPECT_EQ(info.flags, 0u);
  EXPECT_EQ(info.extension, nullptr);
  EXPECT_EQ(LSCopyItemInfoForRef(&ref, kLSRequestBasicFlagsOnly, nullptr), paramErr);
}

} // namespace
