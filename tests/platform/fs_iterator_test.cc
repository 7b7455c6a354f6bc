// Flat folder iteration: entries in the folder's own order, in batches that
// end with errFSNoMoreItems, AppleDouble files hidden behind their partners,
// entries that vanish skipped and failures that lose nothing, memory that
// does not grow with the number of files, and allocation failures survived.
#include "files_test_util.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <set>

namespace {

using namespace files_test;

// The folder's entries as readdir hands them out (getdents order).
std::vector<std::string> ReaddirOrder(const std::string &path) {
  std::vector<std::string> names;
  DIR *dir = opendir(path.c_str());
  EXPECT_NE(dir, nullptr);
  while (dirent *e = readdir(dir))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      names.push_back(e->d_name);
  closedir(dir);
  return names;
}

TEST_F(FilesTest, EntriesComeInTheFoldersOwnOrder) {
  for (int i = 0; i < 60; ++i)
    dir_.MakeFile("order/n" + std::to_string(i * 7919 % 1000), "");
  dir_.MakeDir("order/sub");
  EXPECT_EQ(Names(List(RefFor(P("order")), kFSCatInfoNone, 7)), ReaddirOrder(P("order")));
}

TEST_F(FilesTest, BatchesEndWithNoMoreItems) {
  struct Case {
    const char *name;
    int entries;
    ItemCount batch;
    std::vector<std::pair<ItemCount, OSErr>> calls;
  } cases[] = {
      {"empty", 0, 10, {{0, errFSNoMoreItems}}},
      {"one", 1, 10, {{1, errFSNoMoreItems}}},
      {"exactly_one_batch", 10, 10, {{10, errFSNoMoreItems}}},
      {"twenty_five", 25, 10, {{10, noErr}, {10, noErr}, {5, errFSNoMoreItems}}},
      {"one_at_a_time", 3, 1, {{1, noErr}, {1, noErr}, {1, errFSNoMoreItems}}},
  };
  for (const Case &c : cases) {
    const std::string folder = std::string("batches_") + c.name;
    dir_.MakeDir(folder);
    for (int i = 0; i < c.entries; ++i)
      dir_.MakeFile(folder + "/e" + std::to_string(i), "");
    const FSRef ref = RefFor(P(folder));
    FSIterator iterator = nullptr;
    ASSERT_EQ(FSOpenIterator(&ref, kFSIterateFlat, &iterator), noErr);
    std::vector<FSRef> refs(c.batch);
    std::set<std::string> seen;
    for (const auto &[count, status] : c.calls) {
      ItemCount actual = 99;
      Boolean changed = true;
      EXPECT_EQ(FSGetCatalogInfoBulk(iterator, c.batch, &actual, &changed, kFSCatInfoNone, nullptr,
                                     refs.data(), nullptr, nullptr),
                status)
          << c.name;
      EXPECT_EQ(actual, count) << c.name;
      EXPECT_FALSE(changed);
      for (ItemCount i = 0; i < actual; ++i)
        seen.insert(PathOf(refs[i]));
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(c.entries)) << c.name; // each entry once
    EXPECT_EQ(FSCloseIterator(iterator), noErr);
  }
}

TEST_F(FilesTest, PartneredAppleDoubleFilesAreNotItems) {
  for (const char *name :
       {"a", "._a", "._orphan", "._", "._._a", "dir/x", "._dir", "._gone", "._.", "._.."})
    dir_.MakeFile(std::string("sidecars/") + name, "");
  ASSERT_EQ(mkdir(P("sidecars/._folder_named_like_one").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(P("sidecars/folder_named_like_one").c_str(), 0755), 0);
  std::vector<std::string> names = Names(List(RefFor(P("sidecars")), kFSCatInfoNone));
  std::sort(names.begin(), names.end());
  // "._a" belongs to "a", "._._a" to "._a", "._dir" to "dir"; "._orphan" and
  // "._gone" have no partner, "._" names none, "._." and "._.." name the
  // folder and its parent, which are no items, and a folder is never a sidecar.
  EXPECT_EQ(names, (std::vector<std::string>{"._", "._.", "._..", "._folder_named_like_one",
                                             "._gone", "._orphan", "a", "dir",
                                             "folder_named_like_one"}));
}

TEST_F(FilesTest, ListingsOneAfterAnotherNeverMix) {
  // Listings of very different sizes in turn, as a walk makes them: a folder
  // of two thousand short names (whose buffer and sidecar index are large)
  // and small ones, each with a partnered and an orphan sidecar.
  std::vector<std::string> big = {"a", "._q"};
  for (int i = 0; i < 2044; ++i) {
    char name[8];
    std::snprintf(name, sizeof name, "%04x", i);
    big.push_back(name);
  }
  for (const std::string &name : big)
    dir_.MakeFile("big/" + name, "");
  dir_.MakeFile("big/._a", "");
  for (const char *name : {"b", "._b", "._orphan", "c"})
    dir_.MakeFile(std::string("small/") + name, "");
  dir_.MakeDir("empty");
  std::sort(big.begin(), big.end());
  const std::vector<std::string> small = {"._orphan", "b", "c"};

  struct Step {
    const char *folder;
    const std::vector<std::string> *expected;
  };
  const std::vector<std::string> none;
  for (const Step &step : {Step{"big", &big}, Step{"small", &small}, Step{"empty", &none},
                           Step{"big", &big}, Step{"small", &small}}) {
    std::vector<std::string> names = Names(List(RefFor(P(step.folder)), kFSCatInfoNone));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, *step.expected) << step.folder;
  }
}

TEST_F(FilesTest, BulkInformationMatchesTheSingleCall) {
  dir_.MakeFile("match/small", "abc");
  dir_.MakeFile("match/big", std::string(70000, 'z'));
  dir_.MakeFile("match/caf\xc3\xa9", "");
  dir_.MakeDir("match/sub");
  const FSCatalogInfoBitmap which = kFSCatInfoNodeFlags | kFSCatInfoDataSizes |
                                    kFSCatInfoRsrcSizes | kFSCatInfoPermissions |
                                    kFSCatInfoUserAccess | kFSCatInfoNodeID;
  const std::vector<Entry> entries = List(RefFor(P("match")), which, 3);
  ASSERT_EQ(entries.size(), 4u);
  for (const Entry &e : entries) {
    FSCatalogInfo single;
    std::memset(&single, 0, sizeof single); // as List's, so fields not asked for compare equal
    HFSUniStr255 name;
    ASSERT_EQ(FSGetCatalogInfo(&e.ref, which, &single, &name, nullptr, nullptr), noErr);
    EXPECT_EQ(std::memcmp(&single, &e.info, sizeof single), 0) << PathOf(e.ref);
    EXPECT_EQ(Units(name), Units(e.name));
  }
}

TEST_F(FilesTest, OpeningFailuresAreMapped) {
  dir_.MakeDir("target");
  dir_.MakeFile("file", "x");
  const FSRef folder = RefFor(P("target"));
  struct Case {
    const char *name;
    const char *call;
    int err;
    OSErr expected;
  } cases[] = {
      {"eacces", "openat", EACCES, afpAccessDenied},
      {"eperm", "openat", EPERM, afpAccessDenied},
      {"enoent", "openat", ENOENT, fnfErr},
      {"enotdir", "openat", ENOTDIR, fnfErr},
      {"eio", "openat", EIO, ioErr},
      {"emfile", "openat", EMFILE, ioErr},
      {"listing_eio", "getdents", EIO, ioErr},
  };
  for (const Case &c : cases) {
    ASSERT_TRUE(VPSyscallFail(c.call, 1, c.err, false,
                              std::strcmp(c.call, "openat") == 0 ? "target" : nullptr));
    int marker = 0;
    FSIterator iterator = reinterpret_cast<FSIterator>(&marker); // must become null
    EXPECT_EQ(FSOpenIterator(&folder, kFSIterateFlat, &iterator), c.expected) << c.name;
    EXPECT_EQ(iterator, nullptr) << c.name;
    VPSyscallReset();
  }
  const FSRef file = RefFor(P("file"));
  FSIterator iterator = nullptr;
  EXPECT_EQ(FSOpenIterator(&file, kFSIterateFlat, &iterator), fnfErr);
  EXPECT_EQ(FSOpenIterator(&folder, kFSIterateSubtree, &iterator), errFSIteratorNotSupported);
  EXPECT_EQ(FSOpenIterator(&folder, 7, &iterator), paramErr);
  EXPECT_EQ(FSOpenIterator(nullptr, kFSIterateFlat, &iterator), paramErr);
  EXPECT_EQ(FSOpenIterator(&folder, kFSIterateFlat, nullptr), paramErr);
  EXPECT_EQ(FSCloseIterator(nullptr), paramErr);
  ASSERT_EQ(rmdir(P("target").c_str()), 0);
  EXPECT_EQ(FSOpenIterator(&folder, kFSIterateFlat, &iterator), fnfErr);
}

TEST_F(FilesTest, BadBulkArgumentsAreRefused) {
  dir_.MakeFile("args/a", "");
  const FSRef folder = RefFor(P("args"));
  FSIterator iterator = nullptr;
  ASSERT_EQ(FSOpenIterator(&folder, kFSIterateFlat, &iterator), noErr);
  FSRef refs[2];
  FSCatalogInfo infos[2];
  ItemCount count = 5;
  int fsSpec = 0;
  EXPECT_EQ(FSGetCatalogInfoBulk(nullptr, 2, &count, nullptr, 0, nullptr, refs, nullptr, nullptr),
            paramErr);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(FSGetCatalogInfoBulk(iterator, 2, nullptr, nullptr, 0, nullptr, refs, nullptr, nullptr),
            paramErr);
  EXPECT_EQ(FSGetCatalogInfoBulk(iterator, 0, &count, nullptr, 0, nullptr, refs, nullptr, nullptr),
            paramErr);
  EXPECT_EQ(FSGetCatalogInfoBulk(iterator, 2, &count, nullptr, kFSCatInfoDataSizes, nullptr, refs,
                                 nullptr, nullptr),
            paramErr);
  EXPECT_EQ(FSGetCatalogInfoBulk(iterator, 2, &count, nullptr, 0, infos, refs, &fsSpec, nullptr),
            paramErr);
  // None of that moved the iterator.
  EXPECT_EQ(FSGetCatalogInfoBulk(iterator, 2, &count, nullptr, 0, nullptr, refs, nullptr, nullptr),
            errFSNoMoreItems);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(FSCloseIterator(iterator), noErr);
}

// ---- Entries that change under the listing ----

TEST_F(FilesTest, EntriesThatVanishAreSkipped) {
  for (const char *name : {"one", "two", "three"})
    dir_.MakeFile(std::string("vanish/") + name, "");
  const FSRef folder = RefFor(P("vanish"));
  FSIterator iterator = nullptr;
  ASSERT_EQ(FSOpenIterator(&folder, kFSIterateFlat, &iterator), noErr);
  ASSERT_EQ(unlink(P("vanish/two").c_str()), 0);                    // gone after the listing
  ASSERT_TRUE(VPSyscallFail("fstatat", 1, ENOENT, false, "three")); // and one more, injected
  FSRef refs[10];
  FSCatalogInfo infos[10];
  ItemCount count = 0;
  EXPECT_EQ(FSGetCatalogInfoBulk(iterator, 10, &count, nullptr, kFSCatInfoDataSizes, infos, refs,
                                 nullptr, nullptr),
            errFSNoMoreItems);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(PathOf(refs[0]), P("vanish/one"));
  EXPECT_EQ(FSCloseIterator(iterator), noErr);
}

TEST_F(FilesTest, AFailingEntryIsNotLost) {
  for (const char *name : {"one", "two", "three", "four"})
    dir_.MakeFile(std::string("lose/") + name, "");
  const FSRef folder = RefFor(P("lose"));
  FSIterator iterator = nullptr;
  ASSERT_EQ(FSOpenIterator(&folder, kFSIterateFlat, &iterator), noErr);
  ASSERT_TRUE(VPSyscallFail("fstatat", 1, EIO, true, "three"));
  std::multiset<std::string> seen;
  FSRef refs[10];
  FSCatalogInfo infos[10];
  OSErr status = noErr;
  bool failed = false;
  do {
    ItemCount count = 0;
    status = FSGetCatalogInfoBulk(iterator, 10, &count, nullptr, kFSCatInfoDataSizes, infos, refs,
                                  nullptr, nullptr);
    if (status == ioErr) {
      EXPECT_EQ(count, 0u); // the error comes alone, after the good entries
      failed = true;
      VPSyscallReset(); // the disk recovers: the entry comes with the next call
      status = noErr;
    }
    for (ItemCount i = 0; i < count; ++i)
      seen.insert(PathOf(refs[i]));
  } while (status == noErr);
  EXPECT_EQ(status, errFSNoMoreItems);
  EXPECT_TRUE(failed);
  EXPECT_EQ(seen, (std::multiset<std::string>{P("lose/four"), P("lose/one"), P("lose/three"),
                                              P("lose/two")}));
  EXPECT_EQ(FSCloseIterator(iterator), noErr);
}

// ---- Cost and memory ----

TEST_F(FilesTest, ListingCostsOneStatPerEntryOnlyWhenSizesAreAsked) {
  for (int i = 0; i < 100; ++i)
    dir_.MakeFile("cost/f" + std::to_string(i), "x");
  const FSRef folder = RefFor(P("cost"));
  struct Case {
    const char *name;
    FSCatalogInfoBitmap which;
    long stats;
  } cases[] = {
      {"refs_only", kFSCatInfoNone, 0},
      {"node_flags", kFSCatInfoNodeFlags, 0},
      {"both_forks", kFSCatInfoDataSizes | kFSCatInfoRsrcSizes | kFSCatInfoNodeFlags, 100}};
  for (const Case &c : cases) {
    List(folder, kFSCatInfoNone); // the folder's parent descriptor is cached from here on
    VPSyscallReset();
    EXPECT_EQ(List(folder, c.which, 10).size(), 100u);
    EXPECT_EQ(VPSyscallCount("fstatat"), c.stats) << c.name;
    EXPECT_EQ(VPSyscallCount("openat"), 1) << c.name; // the folder itself, no sidecars
    EXPECT_LE(VPSyscallCount("getdents"), 2) << c.name;
  }
}

TEST_F(FilesTest, MemoryDoesNotGrowWithTheNumberOfFiles) {
  for (int i = 0; i < 50; ++i)
    dir_.MakeFile("few/f" + std::to_string(i), "x");
  dir_.MakeDir("many");
  for (int i = 0; i < 5000; ++i)
    WriteBytes(P("many/file-number-" + std::to_string(i)), "x");
  const FSCatalogInfoBitmap which = kFSCatInfoNodeFlags | kFSCatInfoDataSizes |
                                    kFSCatInfoRsrcSizes | kFSCatInfoUserAccess |
                                    kFSCatInfoPermissions;
  // A walk as the size calculation does it: list, then ask about each item.
  auto walk = [&](const std::string &folder) {
    const std::vector<Entry> entries = List(RefFor(P(folder)), kFSCatInfoNone);
    for (const Entry &e : entries) {
      FSCatalogInfo info;
      LSItemInfoRecord ls;
      EXPECT_EQ(FSGetCatalogInfo(&e.ref, which, &info, nullptr, nullptr, nullptr), noErr);
      EXPECT_EQ(LSCopyItemInfoForRef(&e.ref, kLSRequestBasicFlagsOnly, &ls), noErr);
    }
    return entries.size();
  };
  const long before = VPLiveAllocationCount();
  EXPECT_EQ(walk("few"), 50u);
  const long afterFew = VPLiveAllocationCount();
  const long nodes = VPFilesNodeCount();
  EXPECT_EQ(walk("many"), 5000u);
  EXPECT_EQ(VPLiveAllocationCount(), afterFew);
  EXPECT_EQ(afterFew, before);
  EXPECT_EQ(VPFilesNodeCount(), nodes + 1); // the folder "many", not its files
}

TEST_F(FilesTest, AllocationFailuresDuringAListingAreReportedAndLeakNothing) {
  for (const char *name : {"plain", "caf\xc3\xa9", "\xff\xfe", "x", "._x", "y"})
    dir_.MakeFile(std::string("sweep/") + name, "data");
  const FSRef folder = RefFor(P("sweep"));
  for (bool repeat : {false, true}) {
    const int runs = vantlow_test::SweepAllocationFailures(
        [&](long) {
          FSIterator iterator = nullptr;
          const OSErr opened = FSOpenIterator(&folder, kFSIterateFlat, &iterator);
          if (opened != noErr) {
            EXPECT_EQ(opened, memFullErr);
            EXPECT_EQ(iterator, nullptr);
            return;
          }
          FSRef refs[2];
          FSCatalogInfo infos[2];
          HFSUniStr255 names[2];
          size_t items = 0;
          OSErr status = noErr;
          while (status == noErr) {
            ItemCount count = 0;
            status = FSGetCatalogInfoBulk(iterator, 2, &count, nullptr, kFSCatInfoDataSizes, infos,
                                          refs, nullptr, names);
            items += count;
          }
          EXPECT_TRUE(status == errFSNoMoreItems || status == memFullErr) << status;
          if (status == errFSNoMoreItems) {
            EXPECT_EQ(items, 5u);
          }
          EXPECT_EQ(FSCloseIterator(iterator), noErr);
        },
        repeat);
    EXPECT_GT(runs, 2); // the listing allocates, and those allocations were made to fail
  }
}

} // namespace
