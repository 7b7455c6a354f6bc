// Catalog information of one item: sizes as the disk reports them, only the
// requested fields written (at only the cost they need), names through the
// lossless mapping, the current user's rights as the kernel answers them
// (root, an unprivileged user, a read-only mount), and failures of the
// system calls mapped to their results.
#include "files_test_util.h"

#include <cerrno>

namespace {

using namespace files_test;

FSCatalogInfo InfoOf(const FSRef &ref, FSCatalogInfoBitmap which, OSErr expected = noErr) {
  FSCatalogInfo info;
  std::memset(&info, 0, sizeof info);
  EXPECT_EQ(FSGetCatalogInfo(&ref, which, &info, nullptr, nullptr, nullptr), expected);
  return info;
}

struct stat LStat(const std::string &path) {
  struct stat st;
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

TEST_F(FilesTest, DataForkSizesAreWhatTheDiskReports) {
  struct Case {
    const char *name;
    std::string contents;
    off_t sparseSize; // > 0: a sparse file of this length instead
  } cases[] = {{"empty", "", 0},
               {"one_byte", "x", 0},
               {"one_block", std::string(4096, 'b'), 0},
               {"large", std::string(100000, 'l'), 0},
               {"sparse", "", 64 << 20}};
  for (const Case &c : cases) {
    const std::string path = dir_.MakeFile(std::string("sizes/") + c.name, c.contents);
    if (c.sparseSize) {
      ASSERT_EQ(truncate(path.c_str(), c.sparseSize), 0);
    }
    const struct stat st = LStat(path);
    const FSCatalogInfo info = InfoOf(RefFor(path), kFSCatInfoDataSizes | kFSCatInfoNodeFlags);
    EXPECT_EQ(info.dataLogicalSize, static_cast<UInt64>(st.st_size)) << c.name;
    EXPECT_EQ(info.dataPhysicalSize, static_cast<UInt64>(st.st_blocks) * 512) << c.name;
    EXPECT_EQ(info.nodeFlags & kFSNodeIsDirectoryMask, 0) << c.name;
  }
  const FSCatalogInfo folder =
      InfoOf(RefFor(P("sizes")), kFSCatInfoDataSizes | kFSCatInfoNodeFlags);
  EXPECT_NE(folder.nodeFlags & kFSNodeIsDirectoryMask, 0);
  EXPECT_EQ(folder.dataLogicalSize, 0u); // folders have no forks
  EXPECT_EQ(folder.dataPhysicalSize, 0u);
}

TEST_F(FilesTest, OnlyTheRequestedFieldsAreWritten) {
  dir_.MakeFile("f", "12345");
  const FSRef ref = RefFor(P("f"));
  FSCatalogInfo info;
  std::memset(&info, 0xAB, sizeof info);
  ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNodeFlags, &info, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(info.nodeFlags, 0);
  EXPECT_EQ(info.dataLogicalSize, 0xABABABABABABABABull);
  EXPECT_EQ(info.permissions.userAccess, 0xAB);
  std::memset(&info, 0xAB, sizeof info);
  ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoDataSizes, &info, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(info.dataLogicalSize, 5u);
  EXPECT_EQ(info.nodeFlags, 0xABAB);
  EXPECT_EQ(info.rsrcLogicalSize, 0xABABABABABABABABull);
}

TEST_F(FilesTest, BadRequestsAreRefused) {
  dir_.MakeFile("f", "x");
  const FSRef ref = RefFor(P("f"));
  FSCatalogInfo info;
  int fsSpec = 0;
  EXPECT_EQ(FSGetCatalogInfo(nullptr, kFSCatInfoNone, nullptr, nullptr, nullptr, nullptr),
            paramErr);
  EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoDataSizes, nullptr, nullptr, nullptr, nullptr),
            paramErr);
  EXPECT_EQ(
      FSGetCatalogInfo(&ref, 0x00000020 /* dates: not served */, &info, nullptr, nullptr, nullptr),
      paramErr);
  EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, nullptr, &fsSpec, nullptr), paramErr);
}

// What each request costs, on references from a listing (which told the
// types) in a folder without AppleDouble files.
TEST_F(FilesTest, RequestsCostOnlyWhatTheyNeed) {
  dir_.MakeFile("cost/file", "data");
  dir_.MakeDir("cost/folder");
  const std::vector<Entry> entries = List(RefFor(P("cost")), kFSCatInfoNone);
  ASSERT_EQ(entries.size(), 2u);
  const bool firstIsFile =
      std::string(entries[0].name.unicode, entries[0].name.unicode + 4) == "file";
  const FSRef &file = entries[firstIsFile ? 0 : 1].ref;
  const FSRef &folder = entries[firstIsFile ? 1 : 0].ref;
  struct Case {
    const char *name;
    const FSRef *ref;
    FSCatalogInfoBitmap which;
    long fstatat, openat, faccessat;
  } cases[] = {
      {"flags_of_a_file", &file, kFSCatInfoNodeFlags, 0, 0, 0},
      {"flags_of_a_folder", &folder, kFSCatInfoNodeFlags, 0, 0, 0},
      {"data_sizes", &file, kFSCatInfoDataSizes, 1, 0, 0},
      {"resource_fork_without_sidecar", &file, kFSCatInfoRsrcSizes, 0, 0, 0},
      {"both_forks", &file, kFSCatInfoDataSizes | kFSCatInfoRsrcSizes | kFSCatInfoNodeFlags, 1, 0,
       0},
      {"access_of_a_folder", &folder, kFSCatInfoUserAccess | kFSCatInfoPermissions, 1, 0, 1},
  };
  for (const Case &c : cases) {
    InfoOf(*c.ref, c.which); // the folder's descriptor is cached from here on
    VPSyscallReset();
    InfoOf(*c.ref, c.which);
    EXPECT_EQ(VPSyscallCount("fstatat") + VPSyscallCount("statx"), c.fstatat) << c.name;
    EXPECT_EQ(VPSyscallCount("openat"), c.openat) << c.name;
    EXPECT_EQ(VPSyscallCount("faccessat"), c.faccessat) << c.name;
  }
}

TEST_F(FilesTest, IdentityAndPermissionsComeFromStat) {
  dir_.MakeFile("id/a", "x");
  dir_.MakeFile("id/b", "x");
  ASSERT_EQ(chmod(P("id/a").c_str(), 0640), 0);
  const FSCatalogInfoBitmap which =
      kFSCatInfoPermissions | kFSCatInfoNodeID | kFSCatInfoParentDirID | kFSCatInfoVolume;
  const FSCatalogInfo a = InfoOf(RefFor(P("id/a")), which);
  const FSCatalogInfo b = InfoOf(RefFor(P("id/b")), which);
  const struct stat st = LStat(P("id/a"));
  EXPECT_EQ(a.permissions.userID, st.st_uid);
  EXPECT_EQ(a.permissions.groupID, st.st_gid);
  EXPECT_EQ(a.permissions.mode, static_cast<UInt16>(st.st_mode));
  EXPECT_EQ(a.nodeID, static_cast<UInt32>(st.st_ino));
  EXPECT_EQ(a.parentDirID, static_cast<UInt32>(LStat(P("id")).st_ino));
  EXPECT_EQ(b.parentDirID, a.parentDirID);
  EXPECT_NE(b.nodeID, a.nodeID);
  EXPECT_LT(a.volume, 0);
  EXPECT_EQ(a.volume, b.volume);
}

TEST_F(FilesTest, ValenceCountsTheItemsAFolderLists) {
  for (const char *name : {"a", "b", "._a", "._orphan", "sub/x"})
    dir_.MakeFile(std::string("v/") + name, "");
  dir_.MakeDir("v/empty");
  EXPECT_EQ(InfoOf(RefFor(P("v")), kFSCatInfoValence).valence, 5u); // a, b, ._orphan, sub, empty
  EXPECT_EQ(InfoOf(RefFor(P("v/empty")), kFSCatInfoValence).valence, 0u);
  EXPECT_EQ(InfoOf(RefFor(P("v/a")), kFSCatInfoValence).valence, 0u);
}

TEST_F(FilesTest, NamesComeBackAsUTF16ThroughTheLosslessMapping) {
  struct Case {
    const char *name;
    std::string bytes;
    std::vector<UniChar> units;
  } cases[] = {
      {"ascii", "plain", AsciiUnits("plain")},
      {"utf8", "caf\xc3\xa9", {'c', 'a', 'f', 0xE9}},
      {"not_utf8", "a\xff", {'a', 0xDCFF}},
      {"truncated_sequence", "\xc3", {0xDCC3}},
      {"astral", "\xf0\x9f\x98\x80", {0xD83D, 0xDE00}},
      {"longest", std::string(255, 'n'), AsciiUnits(std::string(255, 'n'))},
  };
  for (const Case &c : cases) {
    dir_.MakeFile("names/" + c.bytes, "");
    const FSRef ref = RefFor(P("names/" + c.bytes));
    HFSUniStr255 name;
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoNone, nullptr, &name, nullptr, nullptr), noErr)
        << c.name;
    EXPECT_EQ(Units(name), c.units) << c.name;
  }
}

// ---- The current user's rights ----

UInt8 AccessOf(const std::string &path) {
  FSRef ref;
  if (FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &ref, nullptr) != noErr)
    return 0xEE;
  FSCatalogInfo info;
  if (FSGetCatalogInfo(&ref, kFSCatInfoUserAccess | kFSCatInfoPermissions, &info, nullptr, nullptr,
                       nullptr) != noErr)
    return 0xEF;
  return info.permissions.userAccess;
}

struct AccessCase {
  const char *name;
  bool folder;
  mode_t mode;
  UInt8 asRoot;   // root reads and writes anything, and searches what has an x bit
  UInt8 asNobody; // an unprivileged user gets the "other" bits of files owned by root
};

const AccessCase kAccessCases[] = {
    {"file_0000", false, 0000, 6, 0},  {"file_0604", false, 0604, 6, 4},
    {"file_0606", false, 0606, 6, 6},  {"file_0607", false, 0607, 7, 7},
    {"file_0601", false, 0601, 7, 1},  {"folder_0700", true, 0700, 7, 0},
    {"folder_0705", true, 0705, 7, 5}, {"folder_0701", true, 0701, 7, 1},
    {"folder_0000", true, 0000, 7, 0},
};

class Access : public FilesTest {
protected:
  void SetUp() override {
    ASSERT_EQ(chmod(base_.c_str(), 0755), 0);
    for (const AccessCase &c : kAccessCases) {
      const std::string path = c.folder ? dir_.MakeDir(c.name) : dir_.MakeFile(c.name, "x");
      ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    }
  }
};

TEST_F(Access, AsTheCurrentUser) {
  if (geteuid() != 0) GTEST_SKIP() << "the expectations are root's";
  for (const AccessCase &c : kAccessCases)
    EXPECT_EQ(AccessOf(P(c.name)), c.asRoot) << c.name;
}

TEST_F(Access, AsAnUnprivilegedUser) {
  for (const AccessCase &c : kAccessCases) {
    const int got = RunAsNobody([&] { return static_cast<int>(AccessOf(P(c.name))); });
    if (got == -1) GTEST_SKIP() << "needs root to become another user";
    EXPECT_EQ(got, c.asNobody) << c.name;
  }
}

TEST_F(FilesTest, ReadOnlyMountDeniesWritingEvenToRoot) {
  const std::string mountPoint = dir_.MakeDir("ro");
  if (!MountTmpfs(mountPoint, true, [&] { WriteBytes(mountPoint + "/f", "x"); }))
    GTEST_SKIP() << "cannot mount a file system here";
  const UInt8 file = AccessOf(mountPoint + "/f");
  const UInt8 folder = AccessOf(mountPoint);
  Unmount(mountPoint);
  EXPECT_EQ(file, kioACAccessUserReadMask);
  EXPECT_EQ(folder, kioACAccessUserReadMask | kioACAccessUserSearchMask);
}

// ---- Failing system calls ----

TEST_F(FilesTest, SystemCallFailuresBecomeResults) {
  dir_.MakeFile("fail/target", "x");
  struct Case {
    const char *name;
    const char *call;
    int err;
    FSCatalogInfoBitmap which;
    OSErr expected;
  } cases[] = {
      {"stat_eio", "fstatat", EIO, kFSCatInfoDataSizes, ioErr},
      {"stat_eacces", "fstatat", EACCES, kFSCatInfoDataSizes, afpAccessDenied},
      {"stat_enoent", "fstatat", ENOENT, kFSCatInfoDataSizes, fnfErr},
      {"access_eio", "faccessat", EIO, kFSCatInfoUserAccess, ioErr},
      {"access_enoent", "faccessat", ENOENT, kFSCatInfoUserAccess, fnfErr},
  };
  const FSRef ref = RefFor(P("fail/target"));
  for (const Case &c : cases) {
    ASSERT_TRUE(VPSyscallFail(c.call, 1, c.err, true, "target"));
    InfoOf(ref, c.which, c.expected);
    VPSyscallReset();
    InfoOf(ref, c.which, noErr);
  }
}

} // namespace
