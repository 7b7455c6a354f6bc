// The directory iterator: folders listed whole in the catalog's order, the
// construction errors (not a folder, no access, a listing that fails), the
// questions about the current item and when they are asked, a volume root's
// ".hidden" file on a real mount, and allocation failures survived.
#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include <cerrno>
#include <filesystem>
#include <grp.h>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "dir_iter_int.h"
#include "fs_test_util.h"

namespace {

using support_test::BytesOf;
using support_test::PathOf;
using support_test::RefArray;
using support_test::RefFor;
using support_test::RunInChild;
using support_test::TreeTest;

// A pointer that is not null, to show that a failed call stores null.
MyFSDirIter *NotNull() {
  static char somewhere;
  return reinterpret_cast<MyFSDirIter *>(&somewhere);
}

// Frees the iterator at the end of a test.
struct IterHolder {
  MyFSDirIter *iter = nullptr;
  ~IterHolder() { MyFSDirIterDispose(iter); }
};

// The paths of what the iterator still hands out.
std::vector<std::string> Walk(MyFSDirIter *iter) {
  std::vector<std::string> paths;
  while (const FSRef *ref = MyFSDirIterNext(iter))
    paths.push_back(PathOf(ref));
  return paths;
}

// The folder's entries as the catalog's bulk calls hand them out.
std::vector<std::string> BulkOrder(const std::string &folder) {
  std::vector<std::string> paths;
  const FSRef ref = RefFor(folder);
  FSIterator iterator = nullptr;
  EXPECT_EQ(FSOpenIterator(&ref, kFSIterateFlat, &iterator), noErr);
  FSRef refs[10];
  OSErr status;
  do {
    ItemCount count = 0;
    status = FSGetCatalogInfoBulk(iterator, 10, &count, nullptr, kFSCatInfoNone, nullptr, refs,
                                  nullptr, nullptr);
    for (ItemCount i = 0; i < count; ++i)
      paths.push_back(PathOf(&refs[i]));
  } while (status == noErr);
  EXPECT_EQ(status, errFSNoMoreItems);
  FSCloseIterator(iterator);
  return paths;
}

long FileSystemCalls() {
  long total = 0;
  for (const char *call : {"openat", "fstatat", "statx", "getdents", "faccessat", "readlinkat"})
    total += VPSyscallCount(call);
  return total;
}

using DirIterTest = TreeTest;

TEST_F(DirIterTest, EmptyFolderYieldsNothing) {
  IterHolder h;
  const FSRef folder = RefFor(dir_.MakeDir("empty"));
  ASSERT_EQ(MyFSDirIterCreate(&folder, &h.iter), noErr);
  EXPECT_EQ(MyFSDirIterNext(h.iter), nullptr);
  EXPECT_EQ(MyFSDirIterNext(h.iter), nullptr);
}

TEST_F(DirIterTest, FolderIsListedWholeInBulkOrderWithoutAskingTheDiskPerMove) {
  std::set<std::string> folders;
  for (int i = 0; i < 25; ++i) {
    const std::string name = "many/e" + std::to_string(i * 37 % 100);
    if (i % 8 == 0)
      folders.insert(dir_.MakeDir(name));
    else
      dir_.MakeFile(name, "x");
  }
  const std::vector<std::string> expected = BulkOrder(P("many"));
  ASSERT_EQ(expected.size(), 25u);

  IterHolder h;
  const FSRef folder = RefFor(P("many"));
  ASSERT_EQ(MyFSDirIterCreate(&folder, &h.iter), noErr);
  const long before = FileSystemCalls();
  std::vector<std::string> seen;
  std::set<std::string> seenFolders;
  while (const FSRef *ref = MyFSDirIterNext(h.iter)) {
    seen.push_back(PathOf(ref));
    if (MyFSDirIterIsContainer(h.iter)) seenFolders.insert(seen.back());
  }
  EXPECT_EQ(FileSystemCalls(), before) << "moving must read only what the listing told";
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(seenFolders, folders);
}

// ---- Construction errors ----

struct CreateErrorCase {
  const char *name;
  const char *target;   // relative path handed to MyFSDirIterCreate
  bool removeFirst;     // the folder goes after its reference was made
  const char *failCall; // a system call made to fail, or null
  int failErrno;
  const char *failSuffix;
  OSStatus status;
};

void PrintTo(const CreateErrorCase &row, std::ostream *os) {
  *os << row.name;
}

class CreateError : public TreeTest, public ::testing::WithParamInterface<CreateErrorCase> {};

TEST_P(CreateError, ReportsItAndLeavesNothing) {
  const CreateErrorCase &c = GetParam();
  dir_.MakeFile("folder/a", "x");
  dir_.MakeFile("file", "x");
  const FSRef ref = RefFor(P(c.target));
  if (c.removeFirst) std::filesystem::remove_all(P(c.target));
  const long objects = VPLiveObjectCount();
  const long blocks = vantlow_test::WrappedLiveCount();
  if (c.failCall) {
    ASSERT_TRUE(VPSyscallFail(c.failCall, 1, c.failErrno, true, c.failSuffix));
  }
  MyFSDirIter *iter = NotNull(); // the call must store null
  EXPECT_EQ(MyFSDirIterCreate(&ref, &iter), c.status);
  EXPECT_EQ(iter, nullptr);
  VPSyscallReset();
  EXPECT_EQ(VPLiveObjectCount(), objects);
  EXPECT_EQ(vantlow_test::WrappedLiveCount(), blocks);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, CreateError,
    ::testing::ValuesIn(std::vector<CreateErrorCase>{
        {"File", "file", false, nullptr, 0, nullptr, paramErr},
        {"Gone", "folder", true, nullptr, 0, nullptr, paramErr},
        {"NoRights", "folder", false, "faccessat", EACCES, nullptr, afpAccessDenied},
        {"RightsUnreadable", "folder", false, "faccessat", EIO, nullptr, ioErr},
        {"ListingRefused", "folder", false, "openat", EACCES, "folder", afpAccessDenied},
        {"ListingFails", "folder", false, "getdents", EIO, nullptr, ioErr},
    }),
    [](const ::testing::TestParamInfo<CreateErrorCase> &row) {
      return std::string(row.param.name);
    });

TEST_F(DirIterTest, NullArgumentsAndNullIterator) {
  const FSRef folder = RefFor(dir_.MakeDir("f"));
  MyFSDirIter *iter = NotNull();
  EXPECT_EQ(MyFSDirIterCreate(nullptr, &iter), paramErr);
  EXPECT_EQ(iter, nullptr);
  EXPECT_EQ(MyFSDirIterCreate(&folder, nullptr), paramErr);
  iter = NotNull();
  EXPECT_EQ(MyFSDirIterCreateWithFSRefArray(nullptr, &iter), paramErr);
  EXPECT_EQ(iter, nullptr);

  EXPECT_EQ(MyFSDirIterNext(nullptr), nullptr);
  EXPECT_EQ(MyFSDirIterGetContentRefs(nullptr), nullptr);
  EXPECT_EQ(MyFSDirIterDispose(nullptr), noErr);
}

TEST_F(DirIterTest, ArrayOfAnythingButFSRefDataIsRefused) {
  CFMutableArrayRef refs = RefArray({dir_.MakeFile("a")});
  CFDataRef shortData = CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>("abc"), 3);
  CFArrayAppendValue(refs, shortData);
  MyFSDirIter *iter = NotNull();
  EXPECT_EQ(MyFSDirIterCreateWithFSRefArray(refs, &iter), paramErr);
  EXPECT_EQ(iter, nullptr);
  CFArrayRemoveValueAtIndex(refs, 1);
  CFArrayAppendValue(refs, CFSTR("/not/data"));
  EXPECT_EQ(MyFSDirIterCreateWithFSRefArray(refs, &iter), paramErr);
  EXPECT_EQ(MyFSDirIterCreateWithFSRefArray(reinterpret_cast<CFArrayRef>(shortData), &iter),
            paramErr);
  CFRelease(shortData);
  CFRelease(refs);
}

TEST_F(DirIterTest, ArrayIteratorHandsOutTheCallersItemsInOrder) {
  const std::vector<std::string> paths = {dir_.MakeFile("b"), dir_.MakeDir("a"),
                                          dir_.MakeFile("c")};
  CFMutableArrayRef refs = RefArray(paths);
  IterHolder h;
  ASSERT_EQ(MyFSDirIterCreateWithFSRefArray(refs, &h.iter), noErr);
  EXPECT_NE(MyFSDirIterGetContentRefs(h.iter), refs) << "the iterator keeps a copy of its own";
  EXPECT_EQ(Walk(h.iter), paths);
  CFRelease(refs);

  IterHolder empty;
  CFArrayRef none = CFArrayCreate(nullptr, nullptr, 0, &kCFTypeArrayCallBacks);
  ASSERT_EQ(MyFSDirIterCreateWithFSRefArray(none, &empty.iter), noErr);
  EXPECT_EQ(MyFSDirIterNext(empty.iter), nullptr);
  CFRelease(none);
}

// ---- Access rights as another user ----

struct RightsCase {
  const char *name;
  mode_t mode;
  bool ownedByNobody;
  OSStatus status;
};

void PrintTo(const RightsCase &row, std::ostream *os) {
  *os << row.name;
}

class Rights : public TreeTest, public ::testing::WithParamInterface<RightsCase> {};

TEST_P(Rights, ReadAndSearchAreBothNeeded) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const RightsCase &c = GetParam();
  constexpr uid_t kNobody = 65534;
  dir_.MakeFile("f/inside", "x");
  ASSERT_EQ(chmod(dir_.path().c_str(), 0755), 0);
  ASSERT_EQ(chown(P("f").c_str(), c.ownedByNobody ? kNobody : 0, c.ownedByNobody ? kNobody : 0), 0);
  ASSERT_EQ(chmod(P("f").c_str(), c.mode), 0);
  const std::string folder = P("f");
  const std::string answer = RunInChild([&] {
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)
      return std::string("cannot become nobody");
    const FSRef ref = RefFor(folder);
    MyFSDirIter *iter = nullptr;
    const OSStatus status = MyFSDirIterCreate(&ref, &iter);
    std::string text = std::to_string(status);
    if (iter) text += " " + std::to_string(Walk(iter).size());
    MyFSDirIterDispose(iter);
    return text;
  });
  const std::string expected = std::to_string(c.status) + (c.status == noErr ? " 1" : "");
  EXPECT_EQ(answer, expected);
}

INSTANTIATE_TEST_SUITE_P(Modes, Rights,
                         ::testing::ValuesIn(std::vector<RightsCase>{
                             {"ReadOnly", 0400, true, afpAccessDenied},
                             {"SearchOnly", 0100, true, afpAccessDenied},
                             {"ReadAndSearch", 0500, true, noErr},
                             {"All", 0700, true, noErr},
                             {"SomeoneElses", 0700, false, afpAccessDenied},
                         }),
                         [](const ::testing::TestParamInfo<RightsCase> &row) {
                           return std::string(row.param.name);
                         });

// ---- Questions about the current item ----

TEST_F(DirIterTest, WithoutACurrentItemQuestionsAnswerNothing) {
  dir_.MakeDir("f/.hidden-folder");
  IterHolder h;
  const FSRef folder = RefFor(P("f"));
  ASSERT_EQ(MyFSDirIterCreate(&folder, &h.iter), noErr);
  auto expectNothing = [&](const char *when) {
    EXPECT_FALSE(MyFSDirIterIsContainer(h.iter)) << when;
    EXPECT_FALSE(MyFSDirIterIsInvisible(h.iter)) << when;
    EXPECT_EQ(MyFSDirIterGetUserAccessPerm(h.iter), 0) << when;
    EXPECT_EQ(MyFSDirIterCopyPath(h.iter), nullptr) << when;
    EXPECT_EQ(MyFSDirIterCopyName(h.iter), nullptr) << when;
  };
  expectNothing("before the first item");
  ASSERT_NE(MyFSDirIterNext(h.iter), nullptr);
  EXPECT_TRUE(MyFSDirIterIsContainer(h.iter));
  EXPECT_TRUE(MyFSDirIterIsInvisible(h.iter));
  ASSERT_EQ(MyFSDirIterNext(h.iter), nullptr);
  expectNothing("after the last item");
}

TEST_F(DirIterTest, ExhaustedStaysExhaustedUntilReset) {
  dir_.MakeFile("f/one", "x");
  dir_.MakeFile("f/two", "x");
  IterHolder h;
  const FSRef folder = RefFor(P("f"));
  ASSERT_EQ(MyFSDirIterCreate(&folder, &h.iter), noErr);
  const std::vector<std::string> first = Walk(h.iter);
  ASSERT_EQ(first.size(), 2u);
  EXPECT_EQ(MyFSDirIterNext(h.iter), nullptr);
  MyFSDirIterReset(h.iter);
  EXPECT_EQ(Walk(h.iter), first);
}

TEST_F(DirIterTest, AnswersAreFetchedOncePerVisitAndAfreshAfterReset) {
  dir_.MakeDir("f/sub");
  IterHolder h;
  const FSRef folder = RefFor(P("f"));
  ASSERT_EQ(MyFSDirIterCreate(&folder, &h.iter), noErr);
  ASSERT_NE(MyFSDirIterNext(h.iter), nullptr);

  long access = VPSyscallCount("faccessat");
  EXPECT_EQ(MyFSDirIterGetUserAccessPerm(h.iter), 7);
  EXPECT_GT(VPSyscallCount("faccessat"), access);
  access = VPSyscallCount("faccessat");
  EXPECT_EQ(MyFSDirIterGetUserAccessPerm(h.iter), 7);
  EXPECT_EQ(VPSyscallCount("faccessat"), access) << "the access byte is kept for the item";

  long volume = VPSyscallCount("statx") + VPSyscallCount("fstatat");
  EXPECT_FALSE(MyFSDirIterIsInvisible(h.iter));
  EXPECT_GT(VPSyscallCount("statx") + VPSyscallCount("fstatat"), volume);
  volume = VPSyscallCount("statx") + VPSyscallCount("fstatat");
  EXPECT_FALSE(MyFSDirIterIsInvisible(h.iter));
  EXPECT_EQ(VPSyscallCount("statx") + VPSyscallCount("fstatat"), volume)
      << "Launch Services is asked once per item";

  MyFSDirIterReset(h.iter);
  ASSERT_NE(MyFSDirIterNext(h.iter), nullptr);
  access = VPSyscallCount("faccessat");
  volume = VPSyscallCount("statx") + VPSyscallCount("fstatat");
  EXPECT_EQ(MyFSDirIterGetUserAccessPerm(h.iter), 7);
  EXPECT_FALSE(MyFSDirIterIsInvisible(h.iter));
  EXPECT_GT(VPSyscallCount("faccessat"), access);
  EXPECT_GT(VPSyscallCount("statx") + VPSyscallCount("fstatat"), volume);
}

// ---- Entering the current item ----

struct EnterCase {
  const char *name;
  const char *item;   // the parent's item to stand on: the folder "sub" or "file"
  bool parentAsked;   // the parent fetched the item's flags and access byte first
  bool denyAfterward; // from then on, asking the item's access fails with EACCES
  OSStatus status;
  bool asksAccess; // the constructor asked for the access byte itself
};

void PrintTo(const EnterCase &row, std::ostream *os) {
  *os << row.name;
}

class EnterCurrent : public TreeTest, public ::testing::WithParamInterface<EnterCase> {};

TEST_P(EnterCurrent, UsesWhatTheParentFetchedAndAsksTheRest) {
  const EnterCase &c = GetParam();
  dir_.MakeFile("top/sub/a", "x");
  dir_.MakeFile("top/sub/b", "y");
  dir_.MakeFile("top/file", "z");
  IterHolder parent;
  const FSRef top = RefFor(P("top"));
  ASSERT_EQ(MyFSDirIterCreate(&top, &parent.iter), noErr);
  const FSRef *item = nullptr;
  while ((item = MyFSDirIterNext(parent.iter)) && PathOf(item) != P(std::string("top/") + c.item)) {
  }
  ASSERT_NE(item, nullptr);
  if (c.parentAsked) {
    EXPECT_FALSE(MyFSDirIterIsInvisible(parent.iter));
    EXPECT_NE(MyFSDirIterGetUserAccessPerm(parent.iter), 0);
  }
  if (c.denyAfterward) {
    ASSERT_TRUE(VPSyscallFail("faccessat", 1, EACCES, true, c.item));
  }
  const long access = VPSyscallCount("faccessat");
  MyFSDirIter *made = NotNull();
  EXPECT_EQ(MyFSDirIterCreateForCurrentItem(parent.iter, &made), c.status);
  EXPECT_EQ(VPSyscallCount("faccessat") > access, c.asksAccess);
  VPSyscallReset();
  IterHolder child{made};
  if (c.status != noErr) {
    EXPECT_EQ(made, nullptr);
    return;
  }
  IterHolder plain;
  ASSERT_EQ(MyFSDirIterCreate(item, &plain.iter), noErr);
  const std::vector<std::string> listed = Walk(child.iter);
  EXPECT_EQ(listed, Walk(plain.iter));
  EXPECT_EQ(listed.size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Items, EnterCurrent,
    ::testing::ValuesIn(std::vector<EnterCase>{
        {"FolderWithTheParentsAnswers", "sub", true, true, noErr, false},
        {"FolderWithoutThem", "sub", false, false, noErr, true},
        {"FolderDeniedWhenItAsksItself", "sub", false, true, afpAccessDenied, true},
        {"FileIsNoFolder", "file", true, false, paramErr, false},
        {"UnaskedFileIsNoFolder", "file", false, false, paramErr, false},
    }),
    [](const ::testing::TestParamInfo<EnterCase> &row) { return std::string(row.param.name); });

TEST_F(DirIterTest, EnteringWithoutACurrentItemIsRefused) {
  dir_.MakeDir("top/sub");
  IterHolder parent;
  const FSRef top = RefFor(P("top"));
  ASSERT_EQ(MyFSDirIterCreate(&top, &parent.iter), noErr);
  MyFSDirIter *made = NotNull();
  EXPECT_EQ(MyFSDirIterCreateForCurrentItem(parent.iter, &made), paramErr) << "before the first";
  EXPECT_EQ(made, nullptr);
  while (MyFSDirIterNext(parent.iter)) {
  }
  made = NotNull();
  EXPECT_EQ(MyFSDirIterCreateForCurrentItem(parent.iter, &made), paramErr) << "exhausted";
  EXPECT_EQ(made, nullptr);
  EXPECT_EQ(MyFSDirIterCreateForCurrentItem(nullptr, &made), paramErr);
  EXPECT_EQ(MyFSDirIterCreateForCurrentItem(parent.iter, nullptr), paramErr);
}

TEST_F(DirIterTest, FailedAccessReadIsTriedAgain) {
  dir_.MakeFile("f/vanishing", "x");
  IterHolder h;
  const FSRef folder = RefFor(P("f"));
  ASSERT_EQ(MyFSDirIterCreate(&folder, &h.iter), noErr);
  ASSERT_NE(MyFSDirIterNext(h.iter), nullptr);
  // The entry seems gone between the listing and the question, once.
  ASSERT_TRUE(VPSyscallFail("faccessat", 1, ENOENT, false, "vanishing"));
  EXPECT_EQ(MyFSDirIterGetUserAccessPerm(h.iter), 0);
  EXPECT_EQ(MyFSDirIterGetUserAccessPerm(h.iter), 6);
}

TEST_F(DirIterTest, ItemWhoseFlagsCannotBeReadPassesForAFile) {
  // Eighty bytes that no File Manager call recognises.
  CFMutableArrayRef refs = RefArray({dir_.MakeDir("folder")});
  const UInt8 zeros[sizeof(FSRef)] = {};
  CFDataRef bogus = CFDataCreate(nullptr, zeros, sizeof zeros);
  CFArrayInsertValueAtIndex(refs, 0, bogus);
  CFRelease(bogus);
  IterHolder h;
  ASSERT_EQ(MyFSDirIterCreateWithFSRefArray(refs, &h.iter), noErr);
  CFRelease(refs);
  ASSERT_NE(MyFSDirIterNext(h.iter), nullptr);
  EXPECT_FALSE(MyFSDirIterIsContainer(h.iter));
  EXPECT_FALSE(MyFSDirIterIsInvisible(h.iter));
  EXPECT_EQ(MyFSDirIterGetUserAccessPerm(h.iter), 0);
  EXPECT_EQ(MyFSDirIterCopyPath(h.iter), nullptr);
  EXPECT_EQ(MyFSDirIterCopyName(h.iter), nullptr);
  ASSERT_NE(MyFSDirIterNext(h.iter), nullptr);
  EXPECT_TRUE(MyFSDirIterIsContainer(h.iter));
}

TEST_F(DirIterTest, PathAndNameKeepEveryByte) {
  const std::string name = "caf\xe9 \xc3\xa9t\xc3\xa9";
  dir_.MakeFile("f/" + name, "x");
  IterHolder h;
  const FSRef folder = RefFor(P("f"));
  ASSERT_EQ(MyFSDirIterCreate(&folder, &h.iter), noErr);
  ASSERT_NE(MyFSDirIterNext(h.iter), nullptr);
  CFStringRef path = MyFSDirIterCopyPath(h.iter);
  CFStringRef copied = MyFSDirIterCopyName(h.iter);
  EXPECT_EQ(BytesOf(path), P("f/" + name));
  EXPECT_EQ(BytesOf(copied), name);
  if (path) CFRelease(path);
  if (copied) CFRelease(copied);
}

// ---- A volume root's ".hidden" file ----

// A tmpfs mounted at a folder for the life of the test; skipped where
// mounting is refused.
class VolumeTest : public TreeTest {
protected:
  // Mounts at `relative` (made first); false when refused.
  bool MountAt(const std::string &relative) {
    mountPoint_ = dir_.MakeDir(relative);
    mounted_ = mount("none", mountPoint_.c_str(), "tmpfs", 0, "size=1m") == 0;
    return mounted_;
  }
  void TearDown() override {
    TreeTest::TearDown();
    if (mounted_) umount2(mountPoint_.c_str(), MNT_DETACH);
  }
  std::string V(const std::string &relative) const { return mountPoint_ + "/" + relative; }
  // Launch Services reads every folder's ".hidden" on its own; refusing it
  // that file leaves the iterator's reading of the root's file as the only
  // way an item listed there becomes invisible.
  static void KeepLaunchServicesFromHiddenFiles() {
    ASSERT_TRUE(VPSyscallFail("openat", 1, EACCES, true, ".hidden"));
  }

  std::string mountPoint_;
  bool mounted_ = false;
};

std::set<std::u16string> HiddenNames(const MyFSDirIter *iter) {
  std::set<std::u16string> names;
  if (!iter->hiddenNames) return names;
  std::vector<const void *> values(static_cast<size_t>(CFSetGetCount(iter->hiddenNames)));
  CFSetGetValues(iter->hiddenNames, values.data());
  for (const void *value : values) {
    CFStringRef name = static_cast<CFStringRef>(value);
    std::u16string units(static_cast<size_t>(CFStringGetLength(name)), u'\0');
    CFStringGetCharacters(name, CFRangeMake(0, CFStringGetLength(name)),
                          reinterpret_cast<UniChar *>(units.data()));
    names.insert(units);
  }
  return names;
}

// Whether the item named `name` is invisible in the iterator's folder.
std::optional<bool> InvisibleIn(MyFSDirIter *iter, const std::string &name) {
  MyFSDirIterReset(iter);
  while (MyFSDirIterNext(iter)) {
    CFStringRef itemName = MyFSDirIterCopyName(iter);
    const bool match = BytesOf(itemName) == name;
    if (itemName) CFRelease(itemName);
    if (match) return MyFSDirIterIsInvisible(iter);
  }
  return std::nullopt;
}

enum class HiddenKind { kNone, kFile, kFifo, kSymlink };

struct HiddenCase {
  const char *name;
  HiddenKind kind;
  std::string contents;
  std::set<std::u16string> names;
  std::vector<std::string> hidden;  // root items that become invisible
  std::vector<std::string> visible; // root items that stay visible
};

void PrintTo(const HiddenCase &row, std::ostream *os) {
  *os << row.name;
}

class HiddenFile : public VolumeTest, public ::testing::WithParamInterface<HiddenCase> {};

TEST_P(HiddenFile, NamesRootItemsInvisible) {
  const HiddenCase &c = GetParam();
  if (!MountAt("vol")) GTEST_SKIP() << "cannot mount a tmpfs here";
  switch (c.kind) {
  case HiddenKind::kNone:
    break;
  case HiddenKind::kFile:
    dir_.MakeFile("vol/.hidden", c.contents);
    break;
  case HiddenKind::kFifo:
    ASSERT_EQ(mkfifo(V(".hidden").c_str(), 0644), 0);
    break;
  case HiddenKind::kSymlink:
    dir_.MakeFile("vol/list", c.contents);
    ASSERT_EQ(symlink("list", V(".hidden").c_str()), 0);
    break;
  }
  for (const std::string &item : c.hidden)
    dir_.MakeFile("vol/" + item, "x");
  for (const std::string &item : c.visible)
    dir_.MakeFile("vol/" + item, "x");
  KeepLaunchServicesFromHiddenFiles();

  IterHolder h;
  const FSRef root = RefFor(mountPoint_);
  ASSERT_EQ(MyFSDirIterCreate(&root, &h.iter), noErr);
  EXPECT_EQ(HiddenNames(h.iter), c.names);
  EXPECT_EQ(h.iter->hiddenNames == nullptr, c.names.empty()) << "an empty list is no list";
  for (const std::string &item : c.hidden)
    EXPECT_EQ(InvisibleIn(h.iter, item), true) << item;
  for (const std::string &item : c.visible)
    EXPECT_EQ(InvisibleIn(h.iter, item), false) << item;
}

const std::string k255(255, 'b');

INSTANTIATE_TEST_SUITE_P(
    Contents, HiddenFile,
    ::testing::ValuesIn(std::vector<HiddenCase>{
        {"NoFile", HiddenKind::kNone, "", {}, {}, {"alpha"}},
        {"EmptyFile", HiddenKind::kFile, "", {}, {}, {"alpha"}},
        {"AlphaLfLfBeta",
         HiddenKind::kFile,
         "alpha\n\nbeta",
         {u"alpha", u"", u"beta"},
         {"alpha", "beta"},
         {"Alpha", "gamma"}},
        {"CrStaysInTheName", HiddenKind::kFile, "alpha\r\n", {u"alpha\r"}, {}, {"alpha"}},
        {"LongLineGivesOneNamePerPiece",
         HiddenKind::kFile,
         std::string(300, 'a') + "\n",
         {std::u16string(255, u'a'), std::u16string(45, u'a')},
         {std::string(255, 'a')},
         {}},
        {"LineOf255AndItsLineFeed",
         HiddenKind::kFile,
         k255 + "\n",
         {std::u16string(255, u'b'), u""},
         {k255},
         {}},
        {"NulEndsTheName",
         HiddenKind::kFile,
         std::string("al\0pha\nbeta\n", 12),
         {u"al", u"beta"},
         {"al", "beta"},
         {"alpha"}},
        {"Utf8Name", HiddenKind::kFile, "caf\xc3\xa9\n", {u"caf\u00e9"}, {"caf\xc3\xa9"}, {"cafe"}},
        {"NameThatIsNotUtf8",
         HiddenKind::kFile,
         "caf\xe9\n",
         {u"caf\xdce9"},
         {"caf\xe9"},
         {"caf\xc3\xa9"}},
        {"FifoIsNotRead", HiddenKind::kFifo, "", {}, {}, {"alpha"}},
        {"SymbolicLinkIsNotFollowed", HiddenKind::kSymlink, "alpha\n", {}, {}, {"alpha"}},
    }),
    [](const ::testing::TestParamInfo<HiddenCase> &row) { return std::string(row.param.name); });

TEST_F(VolumeTest, HiddenNamesBelongToTheRootAlone) {
  if (!MountAt("vol")) GTEST_SKIP() << "cannot mount a tmpfs here";
  dir_.MakeFile("vol/.hidden", "alpha\n");
  dir_.MakeFile("vol/sub/alpha", "x");
  KeepLaunchServicesFromHiddenFiles();
  IterHolder h;
  const FSRef sub = RefFor(V("sub"));
  ASSERT_EQ(MyFSDirIterCreate(&sub, &h.iter), noErr);
  EXPECT_EQ(h.iter->hiddenNames, nullptr);
  EXPECT_EQ(InvisibleIn(h.iter, "alpha"), false);
}

// A root at a path of exactly `length` bytes: the 2048-byte path buffer
// holds "<root>/.hidden" up to a root of 2039 bytes.
struct DeepRootCase {
  const char *name;
  size_t length;
  bool namesRead;
};

void PrintTo(const DeepRootCase &row, std::ostream *os) {
  *os << row.name;
}

class DeepRoot : public VolumeTest, public ::testing::WithParamInterface<DeepRootCase> {};

TEST_P(DeepRoot, NeverOverflowsThePathBuffer) {
  const DeepRootCase &c = GetParam();
  std::string relative = "deep";
  size_t length = P(relative).size();
  ASSERT_LT(length + 60, c.length);
  while (c.length - length > 201) {
    relative += "/" + std::string(150, 'd');
    length += 151;
  }
  relative += "/" + std::string(c.length - length - 1, 'r');
  ASSERT_EQ(P(relative).size(), c.length);
  if (!MountAt(relative)) GTEST_SKIP() << "cannot mount a tmpfs here";
  dir_.MakeFile(relative + "/.hidden", "alpha\n");
  dir_.MakeFile(relative + "/alpha", "x");
  IterHolder h;
  const FSRef root = RefFor(mountPoint_);
  ASSERT_EQ(MyFSDirIterCreate(&root, &h.iter), noErr);
  EXPECT_EQ(h.iter->hiddenNames != nullptr, c.namesRead);
  EXPECT_EQ(Walk(h.iter).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Lengths, DeepRoot,
                         ::testing::ValuesIn(std::vector<DeepRootCase>{
                             {"JustFits", 2039, true},
                             {"OneByteShort", 2040, false},
                             {"RootFillsTheBuffer", 2047, false},
                             {"RootLongerThanTheBuffer", 2100, false},
                         }),
                         [](const ::testing::TestParamInfo<DeepRootCase> &row) {
                           return std::string(row.param.name);
                         });

// ---- Allocation failures ----

void SweepCreate(const std::string &folder, size_t entries) {
  const FSRef ref = RefFor(folder);
  IterHolder warm; // fills the File Manager's caches before counting
  ASSERT_EQ(MyFSDirIterCreate(&ref, &warm.iter), noErr);
  vantlow_test::SweepAllocationFailures(
      [&](long n) {
        MyFSDirIter *iter = nullptr;
        const OSStatus status = MyFSDirIterCreate(&ref, &iter);
        VPFaultDisarm();
        if (status == noErr) {
          EXPECT_EQ(Walk(iter).size(), entries) << "allocation " << n;
        } else {
          EXPECT_EQ(status, memFullErr) << "allocation " << n;
          EXPECT_EQ(iter, nullptr);
        }
        MyFSDirIterDispose(iter);
      },
      false);
}

TEST_F(DirIterTest, CreateSurvivesAllocationFailures) {
  for (int i = 0; i < 12; ++i)
    dir_.MakeFile("f/e" + std::to_string(i), "x");
  SweepCreate(P("f"), 12);
}

TEST_F(VolumeTest, VolumeRootSurvivesAllocationFailures) {
  if (!MountAt("vol")) GTEST_SKIP() << "cannot mount a tmpfs here";
  dir_.MakeFile("vol/.hidden", "alpha\nbeta\n");
  dir_.MakeFile("vol/alpha", "x");
  SweepCreate(mountPoint_, 2);
}

TEST_F(DirIterTest, ArrayCreateSurvivesAllocationFailures) {
  CFMutableArrayRef refs = RefArray({dir_.MakeFile("a"), dir_.MakeFile("b")});
  vantlow_test::SweepAllocationFailures(
      [&](long n) {
        MyFSDirIter *iter = nullptr;
        const OSStatus status = MyFSDirIterCreateWithFSRefArray(refs, &iter);
        VPFaultDisarm();
        if (status == noErr) {
          EXPECT_EQ(Walk(iter).size(), 2u) << "allocation " << n;
        } else {
          EXPECT_EQ(status, memFullErr) << "allocation " << n;
        }
        MyFSDirIterDispose(iter);
      },
      false);
  CFRelease(refs);
}

} // namespace
