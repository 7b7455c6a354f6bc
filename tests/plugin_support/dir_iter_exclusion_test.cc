// The contained-item exclusion: the reduced list for selections whose paths
// sort with punctuation between a folder and its contents, the root, the same
// path twice and names that are not UTF-8; agreement with the plain
// definition on many random selections; and the iterator left unchanged by
// every failure.
#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "dir_iter_int.h"
#include "fs_test_util.h"
#include "status_codes.h"

namespace {

using support_test::PathOfData;
using support_test::RefArray;
using support_test::TreeTest;

// The paths of the iterator's list, in order.
std::vector<std::string> ListPaths(MyFSDirIter *iter) {
  std::vector<std::string> paths;
  CFArrayRef list = MyFSDirIterGetContentRefs(iter);
  for (CFIndex i = 0; i < CFArrayGetCount(list); ++i)
    paths.push_back(PathOfData(CFArrayGetValueAtIndex(list, i)));
  return paths;
}

class ExclusionTest : public TreeTest {
protected:
  // A path of the selection: absolute as written, else inside the tree.
  std::string Abs(const std::string &path) const { return path[0] == '/' ? path : P(path); }

  // Makes every item of the selection: a folder when another item of it
  // lies inside, a file otherwise.
  void MakeItems(const std::vector<std::string> &selection) const {
    for (const std::string &item : selection) {
      if (item[0] == '/') continue;
      const bool folder = std::any_of(selection.begin(), selection.end(), [&](const auto &other) {
        return other.rfind(item + "/", 0) == 0;
      });
      if (folder)
        dir_.MakeDir(item);
      else if (!std::filesystem::exists(P(item)))
        dir_.MakeFile(item, "x");
    }
  }

  std::vector<std::string> AbsAll(const std::vector<std::string> &paths) const {
    std::vector<std::string> out;
    for (const std::string &path : paths)
      out.push_back(Abs(path));
    return out;
  }
};

struct ExclusionCase {
  const char *name;
  std::vector<std::string> selection;
  std::vector<std::string> kept;
};

void PrintTo(const ExclusionCase &row, std::ostream *os) {
  *os << row.name;
}

class Exclusion : public ExclusionTest, public ::testing::WithParamInterface<ExclusionCase> {};

TEST_P(Exclusion, KeepsOuterItemsInPathOrder) {
  const ExclusionCase &c = GetParam();
  MakeItems(c.selection);
  CFMutableArrayRef selection = RefArray(AbsAll(c.selection));
  CFArrayRef untouched = CFArrayCreateCopy(nullptr, selection);
  MyFSDirIter *iter = nullptr;
  ASSERT_EQ(MyFSDirIterCreateWithFSRefArray(selection, &iter), noErr);
  MyFSDirIterNext(iter); // the exclusion rewinds from anywhere

  EXPECT_EQ(MyFSDirIterExcludeContainedItems(iter), noErr);
  EXPECT_EQ(ListPaths(iter), AbsAll(c.kept));
  EXPECT_EQ(iter->currentIndex, kMyFSDirIterBeforeFirst);
  EXPECT_TRUE(CFEqual(selection, untouched)) << "the caller's array belongs to the caller";
  MyFSDirIterDispose(iter);
  CFRelease(untouched);
  CFRelease(selection);
}

INSTANTIATE_TEST_SUITE_P(
    Selections, Exclusion,
    ::testing::ValuesIn(std::vector<ExclusionCase>{
        {"Empty", {}, {}},
        {"One", {"a"}, {"a"}},
        {"NestedChain", {"a/b/c", "a", "a/b"}, {"a"}},
        {"SortedByPath", {"b", "a"}, {"a", "b"}},
        {"FullStopSortsBeforeSlash", {"A", "A.txt", "A/b"}, {"A", "A.txt"}},
        {"SpaceSortsBeforeSlash", {"A/b", "A copy", "A"}, {"A", "A copy"}},
        {"HyphenSortsBeforeSlash", {"A/b", "A-1", "A"}, {"A", "A-1"}},
        {"InterleavedFolders",
         {"A/c", "A.txt/x", "A", "A b", "A/b/c", "A.txt", "A/b"},
         {"A", "A b", "A.txt"}},
        {"SharedBeginningIsNoContainment", {"Database", "Data"}, {"Data", "Database"}},
        {"SamePathTwice", {"A", "A"}, {"A", "A"}},
        {"SamePathTwiceWithContents", {"A", "A/b", "A"}, {"A", "A"}},
        {"CaseDiffers", {"a", "A/b"}, {"A/b", "a"}},
        {"RootHoldsEverything", {"x/y", "/", "b"}, {"/"}},
        {"RootTwice", {"/", "/"}, {"/"}},
        {"NameThatIsNotUtf8", {"caf\xe9/x", "caf\xe9", "cafe"}, {"cafe", "caf\xe9"}},
    }),
    [](const ::testing::TestParamInfo<ExclusionCase> &row) { return std::string(row.param.name); });

// The plain definition, quadratic: in sorted order an entry is dropped when
// it begins with the path of an earlier kept entry followed by "/".
std::vector<std::string> Expected(std::vector<std::string> paths) {
  std::sort(paths.begin(), paths.end());
  std::vector<std::string> kept;
  for (const std::string &path : paths) {
    const bool inside = std::any_of(kept.begin(), kept.end(), [&](const std::string &outer) {
      return path.rfind(outer + "/", 0) == 0;
    });
    if (!inside) kept.push_back(path);
  }
  return kept;
}

TEST_F(ExclusionTest, AgreesWithThePlainDefinitionOnRandomSelections) {
  // Names whose punctuation sorts before "/", three levels deep.
  const std::vector<std::string> names = {"a", "a b", "a-1", "a.x", "b"};
  std::vector<std::string> all;
  for (const std::string &one : names) {
    all.push_back(one);
    for (const std::string &two : names) {
      all.push_back(one + "/" + two);
      for (const std::string &three : names)
        all.push_back(one + "/" + two + "/" + three);
    }
  }
  for (const std::string &path : all)
    dir_.MakeDir(path);

  std::mt19937 random(20240611);
  for (int round = 0; round < 60; ++round) {
    std::vector<std::string> selection;
    const size_t size = 1 + random() % 30;
    for (size_t i = 0; i < size; ++i)
      selection.push_back(P(all[random() % all.size()]));
    CFMutableArrayRef refs = RefArray(selection);
    MyFSDirIter *iter = nullptr;
    ASSERT_EQ(MyFSDirIterCreateWithFSRefArray(refs, &iter), noErr);
    EXPECT_EQ(MyFSDirIterExcludeContainedItems(iter), noErr);
    EXPECT_EQ(ListPaths(iter), Expected(selection)) << "round " << round;
    MyFSDirIterDispose(iter);
    CFRelease(refs);
  }
}

// ---- Failures leave the iterator as it was ----

struct FailureCase {
  const char *name;
  bool removeSecond; // the second item is deleted after the list was made
  bool bogusSecond;  // the second item is a reference that names nothing
  OSStatus status;
};

void PrintTo(const FailureCase &row, std::ostream *os) {
  *os << row.name;
}

class ExclusionFailure : public ExclusionTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ExclusionFailure, LeavesListAndPositionAlone) {
  const FailureCase &c = GetParam();
  CFMutableArrayRef refs = RefArray({dir_.MakeDir("c"), dir_.MakeFile("b"), dir_.MakeFile("a")});
  if (c.bogusSecond) {
    const UInt8 zeros[sizeof(FSRef)] = {};
    CFDataRef bogus = CFDataCreate(nullptr, zeros, sizeof zeros);
    CFArraySetValueAtIndex(refs, 1, bogus);
    CFRelease(bogus);
  }
  if (c.removeSecond) std::filesystem::remove(P("b"));
  MyFSDirIter *iter = nullptr;
  ASSERT_EQ(MyFSDirIterCreateWithFSRefArray(refs, &iter), noErr);
  CFArrayRef listBefore = MyFSDirIterGetContentRefs(iter);
  const FSRef *first = MyFSDirIterNext(iter);

  EXPECT_EQ(MyFSDirIterExcludeContainedItems(iter), c.status);
  EXPECT_EQ(MyFSDirIterGetContentRefs(iter), listBefore);
  EXPECT_TRUE(CFEqual(MyFSDirIterGetContentRefs(iter), refs));
  EXPECT_EQ(iter->currentRef, first);
  EXPECT_EQ(MyFSDirIterNext(iter),
            static_cast<const FSRef *>(static_cast<const void *>(
                CFDataGetBytePtr(static_cast<CFDataRef>(CFArrayGetValueAtIndex(refs, 1))))));
  MyFSDirIterDispose(iter);
  CFRelease(refs);
}

INSTANTIATE_TEST_SUITE_P(Items, ExclusionFailure,
                         ::testing::ValuesIn(std::vector<FailureCase>{
                             {"ItemDeletedSince", true, false, kMyNilPointerErr},
                             {"ItemWithoutPath", false, true, paramErr},
                         }),
                         [](const ::testing::TestParamInfo<FailureCase> &row) {
                           return std::string(row.param.name);
                         });

TEST(ExclusionArguments, NullIteratorIsRefused) {
  EXPECT_EQ(MyFSDirIterExcludeContainedItems(nullptr), paramErr);
}

TEST_F(ExclusionTest, SurvivesAllocationFailures) {
  const std::vector<std::string> selection = {"B", "A/b", "A.txt", "A", "A/b/c"};
  MakeItems(selection);
  CFMutableArrayRef refs = RefArray(AbsAll(selection));
  const std::vector<std::string> kept = AbsAll({"A", "A.txt", "B"});
  vantlow_test::SweepAllocationFailures(
      [&](long n) {
        // Only the exclusion runs under the injector.
        VPFaultDisarm();
        MyFSDirIter *iter = nullptr;
        ASSERT_EQ(MyFSDirIterCreateWithFSRefArray(refs, &iter), noErr);
        MyFSDirIterNext(iter);
        const SInt32 index = iter->currentIndex;
        CFArrayRef listBefore = MyFSDirIterGetContentRefs(iter);
        VPFaultArm(n, false);
        const OSStatus status = MyFSDirIterExcludeContainedItems(iter);
        VPFaultDisarm();
        if (status == noErr) {
          EXPECT_EQ(ListPaths(iter), kept) << "allocation " << n;
        } else {
          EXPECT_TRUE(status == paramErr || status == kMyNilPointerErr)
              << "allocation " << n << ": " << status;
          EXPECT_EQ(MyFSDirIterGetContentRefs(iter), listBefore) << "allocation " << n;
          EXPECT_TRUE(CFEqual(listBefore, refs)) << "allocation " << n;
          EXPECT_EQ(iter->currentIndex, index) << "allocation " << n;
        }
        MyFSDirIterDispose(iter);
      },
      false);
  CFRelease(refs);
}

} // namespace
