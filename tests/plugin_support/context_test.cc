// The context reader over real temporary trees: null and single-item
// contexts, lists whose items no longer resolve or are no aliases at all,
// the iterator made once and rewound, the caller's list read in place or
// copied, and an allocation sweep.
#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include <filesystem>
#include <string>
#include <vector>

#include "context.h"
#include "fs_test_util.h"
#include "scoped_desc.h"

namespace {

using support_test::PathOf;
using support_test::PathOfData;
using support_test::TreeTest;

using vantlow_test::Desc;

struct ReaderHolder {
  ~ReaderHolder() { EXPECT_EQ(MyCMContextDispose(reader), noErr); }
  MyCMContext *reader = nullptr;
};

void AppendAlias(AEDescList *list, const std::string &path) {
  Desc alias;
  ASSERT_EQ(VPCreateAliasDescForPath(path.c_str(), &alias.desc), noErr) << path;
  ASSERT_EQ(AEPutDesc(list, 0, &alias.desc), noErr);
}

// A list of alias descriptors for the paths.
void MakeAliasList(const std::vector<std::string> &paths, AEDescList *list) {
  ASSERT_EQ(AECreateList(nullptr, 0, false, list), noErr);
  for (const std::string &path : paths)
    AppendAlias(list, path);
}

// The paths the iterator yields, in order.
std::vector<std::string> Walk(MyFSDirIter *iter) {
  std::vector<std::string> paths;
  while (const FSRef *ref = MyFSDirIterNext(iter))
    paths.push_back(PathOf(ref));
  return paths;
}

class ContextTest : public TreeTest {};

// ---- Contexts without items ----

TEST_F(ContextTest, NullContextsGiveANullReader) {
  Desc typeNullDesc;
  for (const AEDesc *context :
       {static_cast<const AEDesc *>(nullptr), static_cast<const AEDesc *>(&typeNullDesc.desc)}) {
    SCOPED_TRACE(context ? "typeNull descriptor" : "null pointer");
    ReaderHolder h;
    ASSERT_EQ(MyCMContextCreateWithContext(context, false, &h.reader), noErr);
    ASSERT_NE(h.reader, nullptr);
    EXPECT_TRUE(MyCMContextIsNull(h.reader));
    EXPECT_EQ(MyCMContextGetItemCount(h.reader), 0);
    EXPECT_FALSE(MyCMContextContainsAlias(h.reader));
    EXPECT_EQ(MyCMContextExtractAliasAt(h.reader, 1), nullptr);
    MyFSDirIter *iter = MyCMContextGetIterater(h.reader);
    ASSERT_NE(iter, nullptr);
    EXPECT_TRUE(Walk(iter).empty());
  }
}

TEST_F(ContextTest, NullReaderAndNullArguments) {
  EXPECT_TRUE(MyCMContextIsNull(nullptr));
  EXPECT_EQ(MyCMContextGetItemCount(nullptr), 0);
  EXPECT_FALSE(MyCMContextContainsAlias(nullptr));
  EXPECT_EQ(MyCMContextExtractAliasAt(nullptr, 1), nullptr);
  FSRef ref;
  EXPECT_FALSE(MyCMContextExtractFSRefAt(nullptr, 1, &ref));
  EXPECT_EQ(MyCMContextGetIterater(nullptr), nullptr);
  EXPECT_EQ(MyCMContextDispose(nullptr), noErr);
  EXPECT_EQ(MyCMContextCreateWithContext(nullptr, false, nullptr), paramErr);

  MyFSDirIter *iter = reinterpret_cast<MyFSDirIter *>(this); // must be overwritten
  EXPECT_EQ(MyFSDirIterCreateWithContext(nullptr, &iter), paramErr);
  EXPECT_EQ(iter, nullptr);
  ReaderHolder h;
  ASSERT_EQ(MyCMContextCreateWithContext(nullptr, false, &h.reader), noErr);
  EXPECT_EQ(MyFSDirIterCreateWithContext(h.reader, nullptr), paramErr);
  EXPECT_FALSE(MyCMContextExtractFSRefAt(h.reader, 1, nullptr));
}

// ---- What the items are ----

TEST_F(ContextTest, SingleDescriptorIsReadAsAListOfOne) {
  const std::string file = dir_.MakeFile("one.txt", "1");
  Desc alias;
  ASSERT_EQ(VPCreateAliasDescForPath(file.c_str(), &alias.desc), noErr);
  ReaderHolder h;
  ASSERT_EQ(MyCMContextCreateWithContext(&alias.desc, false, &h.reader), noErr);
  EXPECT_FALSE(MyCMContextIsNull(h.reader));
  EXPECT_EQ(MyCMContextGetItemCount(h.reader), 1);
  EXPECT_TRUE(MyCMContextContainsAlias(h.reader));
  EXPECT_EQ(Walk(MyCMContextGetIterater(h.reader)), std::vector<std::string>{file});
}

TEST_F(ContextTest, ItemsThatNoLongerResolveAreLeftOutInOrder) {
  const std::string a = dir_.MakeFile("a.txt"), b = dir_.MakeDir("b"), c = dir_.MakeDir("c");
  Desc list;
  MakeAliasList({a, b, c}, &list.desc);
  std::filesystem::remove(b);
  ReaderHolder h;
  ASSERT_EQ(MyCMContextCreateWithContext(&list.desc, false, &h.reader), noErr);
  EXPECT_EQ(MyCMContextGetItemCount(h.reader), 3);
  EXPECT_TRUE(MyCMContextContainsAlias(h.reader));
  FSRef ref;
  EXPECT_FALSE(MyCMContextExtractFSRefAt(h.reader, 2, &ref));
  ASSERT_TRUE(MyCMContextExtractFSRefAt(h.reader, 3, &ref));
  EXPECT_EQ(PathOf(&ref), c);
  MyFSDirIter *iter = MyCMContextGetIterater(h.reader);
  EXPECT_EQ(Walk(iter), (std::vector<std::string>{a, c}));
  // The list is FSRef data, 80 bytes each.
  CFArrayRef refs = MyFSDirIterGetContentRefs(iter);
  ASSERT_EQ(CFArrayGetCount(refs), 2);
  EXPECT_EQ(PathOfData(CFArrayGetValueAtIndex(refs, 0)), a);
}

TEST_F(ContextTest, NoItemResolves) {
  const std::string gone = dir_.MakeFile("gone");
  Desc list;
  MakeAliasList({gone}, &list.desc);
  std::filesystem::remove(gone);
  ReaderHolder h;
  ASSERT_EQ(MyCMContextCreateWithContext(&list.desc, false, &h.reader), noErr);
  EXPECT_EQ(MyCMContextGetItemCount(h.reader), 1);
  EXPECT_FALSE(MyCMContextContainsAlias(h.reader));
  MyFSDirIter *iter = MyCMContextGetIterater(h.reader);
  ASSERT_NE(iter, nullptr);
  EXPECT_TRUE(Walk(iter).empty());
}

// Items of other kinds: what can be made an alias that resolves is read,
// anything else is skipped without error.
struct ItemCase {
  const char *name;
  bool resolves;
};

class ContextItemKinds : public ContextTest, public ::testing::WithParamInterface<ItemCase> {
protected:
  // The item of this row, for the file at path.
  void MakeItem(const std::string &row, const std::string &path, AEDesc *item) {
    if (row == "Alias") {
      ASSERT_EQ(VPCreateAliasDescForPath(path.c_str(), item), noErr);
    } else if (row == "FSRef") {
      const FSRef ref = support_test::RefFor(path);
      ASSERT_EQ(AECreateDesc(typeFSRef, &ref, sizeof ref, item), noErr);
    } else if (row == "PathText") {
      ASSERT_EQ(AECreateDesc(typeChar, path.data(), static_cast<Size>(path.size()), item), noErr);
    } else if (row == "Number") {
      const SInt32 n = 7;
      ASSERT_EQ(AECreateDesc(typeSInt32, &n, sizeof n, item), noErr);
    } else if (row == "MalformedAlias") {
      const char junk[] = "VPal but not really an alias record";
      ASSERT_EQ(AECreateDesc(typeAlias, junk, sizeof junk, item), noErr);
    } else if (row == "EmptyAlias") {
      ASSERT_EQ(AECreateDesc(typeAlias, nullptr, 0, item), noErr);
    }
  }
};

TEST_P(ContextItemKinds, ResolvesOrIsSkipped) {
  const ItemCase &c = GetParam();
  const std::string file = dir_.MakeFile("item.txt", "x");
  const std::string other = dir_.MakeFile("other.txt", "y");
  Desc list, item;
  ASSERT_EQ(AECreateList(nullptr, 0, false, &list.desc), noErr);
  MakeItem(c.name, file, &item.desc);
  ASSERT_EQ(AEPutDesc(&list.desc, 0, &item.desc), noErr);
  AppendAlias(&list.desc, other);

  ReaderHolder h;
  ASSERT_EQ(MyCMContextCreateWithContext(&list.desc, false, &h.reader), noErr);
  EXPECT_EQ(MyCMContextGetItemCount(h.reader), 2);
  AliasHandle alias = MyCMContextExtractAliasAt(h.reader, 1);
  FSRef ref;
  EXPECT_EQ(MyCMContextExtractFSRefAt(h.reader, 1, &ref), c.resolves);
  if (alias) DisposeHandle(reinterpret_cast<Handle>(alias));
  const std::vector<std::string> expected =
      c.resolves ? std::vector<std::string>{file, other} : std::vector<std::string>{other};
  EXPECT_EQ(Walk(MyCMContextGetIterater(h.reader)), expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, ContextItemKinds,
                         ::testing::ValuesIn(std::vector<ItemCase>{
                             {"Alias", true},
                             {"FSRef", true},
                             {"PathText", true},
                             {"Number", false},
                             {"MalformedAlias", false},
                             {"EmptyAlias", false},
                         }),
                         [](const ::testing::TestParamInfo<ItemCase> &row) {
                           return std::string(row.param.name);
                         });

TEST_F(ContextTest, IndexesCountFromOne) {
  const std::string a = dir_.MakeFile("a"), b = dir_.MakeFile("b");
  Desc list;
  MakeAliasList({a, b}, &list.desc);
  ReaderHolder h;
  ASSERT_EQ(MyCMContextCreateWithContext(&list.desc, false, &h.reader), noErr);
  struct Row {
    long index;
    bool found;
  } rows[] = {{-1, false}, {0, false}, {1, true}, {2, true}, {3, false}};
  for (const Row &row : rows) {
    AliasHandle alias = MyCMContextExtractAliasAt(h.reader, row.index);
    EXPECT_EQ(alias != nullptr, row.found) << row.index;
    if (alias) DisposeHandle(reinterpret_cast<Handle>(alias));
    FSRef ref;
    EXPECT_EQ(MyCMContextExtractFSRefAt(h.reader, row.index, &ref), row.found) << row.index;
  }
}

// ---- The iterator ----

TEST_F(ContextTest, IteratorIsMadeOnceAndRewoundOnEveryCall) {
  const std::string a = dir_.MakeFile("a"), b = dir_.MakeFile("b");
  Desc list;
  MakeAliasList({a, b}, &list.desc);
  ReaderHolder h;
  ASSERT_EQ(MyCMContextCreateWithContext(&list.desc, false, &h.reader), noErr);
  MyFSDirIter *first = MyCMContextGetIterater(h.reader);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(MyFSDirIterNext(first), nullptr);
  ASSERT_NE(MyFSDirIterNext(first), nullptr);
  MyFSDirIter *second = MyCMContextGetIterater(h.reader);
  EXPECT_EQ(second, first);
  EXPECT_EQ(Walk(second), (std::vector<std::string>{a, b}));
}

TEST_F(ContextTest, IteratorThatCouldNotBeMadeIsTriedAgain) {
  const std::string a = dir_.MakeFile("a");
  Desc list;
  MakeAliasList({a}, &list.desc);
  ReaderHolder h;
  ASSERT_EQ(MyCMContextCreateWithContext(&list.desc, false, &h.reader), noErr);
  VPFaultArm(1, true);
  MyFSDirIter *failed = MyCMContextGetIterater(h.reader);
  VPFaultDisarm();
  EXPECT_EQ(failed, nullptr);
  EXPECT_EQ(Walk(MyCMContextGetIterater(h.reader)), std::vector<std::string>{a});
}

// ---- The caller's list ----

TEST_F(ContextTest, ListIsReadInPlaceAndLeftIntact) {
  const std::string a = dir_.MakeFile("a"), b = dir_.MakeFile("b");
  Desc list;
  MakeAliasList({a}, &list.desc);
  ReaderHolder h;
  ASSERT_EQ(MyCMContextCreateWithContext(&list.desc, false, &h.reader), noErr);
  // Read in place: an item the caller adds later is seen.
  AppendAlias(&list.desc, b);
  EXPECT_EQ(MyCMContextGetItemCount(h.reader), 2);
  EXPECT_EQ(MyCMContextDispose(h.reader), noErr);
  h.reader = nullptr;
  long count = 0;
  EXPECT_EQ(AECountItems(&list.desc, &count), noErr);
  EXPECT_EQ(count, 2) << "the reader disposed the caller's list";
}

TEST_F(ContextTest, DuplicatedListOutlivesTheCallersOne) {
  const std::string a = dir_.MakeFile("a");
  ReaderHolder h;
  {
    Desc list;
    MakeAliasList({a}, &list.desc);
    ASSERT_EQ(MyCMContextCreateWithContext(&list.desc, true, &h.reader), noErr);
  }
  EXPECT_EQ(MyCMContextGetItemCount(h.reader), 1);
  EXPECT_EQ(Walk(MyCMContextGetIterater(h.reader)), std::vector<std::string>{a});
}

TEST_F(ContextTest, ContextThatCannotBeMadeAListGivesNoReader) {
  // Every descriptor can be made a list here, unless memory runs out: the
  // record is the first allocation, the coercion comes after it.
  const std::string a = dir_.MakeFile("a");
  Desc alias;
  ASSERT_EQ(VPCreateAliasDescForPath(a.c_str(), &alias.desc), noErr);
  MyCMContext *reader = reinterpret_cast<MyCMContext *>(this); // must be overwritten
  const long wrapped = vantlow_test::WrappedLiveCount();
  VPFaultArm(2, true);
  const OSStatus err = MyCMContextCreateWithContext(&alias.desc, false, &reader);
  VPFaultDisarm();
  EXPECT_EQ(err, memFullErr);
  EXPECT_EQ(reader, nullptr);
  EXPECT_EQ(vantlow_test::WrappedLiveCount(), wrapped) << "the record was not freed";
}

// ---- Allocation failures ----

TEST_F(ContextTest, EveryAllocationFailureIsReportedAndLeaksNothing) {
  const std::string a = dir_.MakeFile("a"), b = dir_.MakeDir("b");
  Desc list, single;
  MakeAliasList({a, b}, &list.desc);
  ASSERT_EQ(VPCreateAliasDescForPath(a.c_str(), &single.desc), noErr);
  for (const AEDesc *context : {&list.desc, &single.desc}) {
    vantlow_test::SweepAllocationFailures(
        [&](long n) {
          MyCMContext *reader = nullptr;
          const OSStatus err = MyCMContextCreateWithContext(context, true, &reader);
          if (err != noErr) {
            EXPECT_EQ(err, memFullErr) << n;
            EXPECT_EQ(reader, nullptr);
            return;
          }
          // A question stays a question under memory pressure; the
          // iterator is either missing or whole, never short of an item.
          (void)MyCMContextContainsAlias(reader);
          MyFSDirIter *iter = MyCMContextGetIterater(reader);
          if (iter) {
            EXPECT_EQ(Walk(iter).size(), context == &list.desc ? 2u : 1u) << n;
          }
          EXPECT_EQ(MyCMContextDispose(reader), noErr);
        },
        false);
  }
}

} // namespace
