// Arrays, dictionaries and sets: who holds which reference, lookups by
// value, stable sorting, custom and absent callbacks, descriptions, bad
// handles, and what a failed allocation leaves behind.
#include <algorithm>
#include <functional>
#include <random>
#include <vector>

#include "cf_objects.h"
#include "test_support.h"

namespace {

// Test cases print as their name in failure messages.
template <class Case>
requires requires(const Case &c) {
  c.name;
}
void PrintTo(const Case &c, std::ostream *os) {
  *os << c.name;
}

using cf_test::As;
using cf_test::Int;
using cf_test::Int64;
using cf_test::Owned;
using cf_test::Str;
using cf_test::Text;

class ArrayTest : public cf_test::LeakCheckedTest {};
class DictionaryTest : public cf_test::LeakCheckedTest {};
class SetTest : public cf_test::LeakCheckedTest {};

CFMutableArrayRef NewArray(CFIndex capacity = 0) {
  return CFArrayCreateMutable(nullptr, capacity, &kCFTypeArrayCallBacks);
}
CFMutableDictionaryRef NewDictionary() {
  return CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                   &kCFTypeDictionaryValueCallBacks);
}
CFMutableSetRef NewSet() {
  return CFSetCreateMutable(nullptr, 0, &kCFTypeSetCallBacks);
}

// Items sorted by key; seq remembers their order before sorting.
struct Item {
  int key;
  int seq; // position before sorting
};

CFComparisonResult CompareKeys(const void *p, const void *q, void *context) {
  ++*static_cast<long *>(context);
  int a = static_cast<const Item *>(p)->key, b = static_cast<const Item *>(q)->key;
  return a < b ? kCFCompareLessThan : a > b ? kCFCompareGreaterThan : kCFCompareEqualTo;
}

// ---- Ownership through an array ----

struct ArrayOwnershipCase {
  const char *name;
  void (*op)(CFMutableArrayRef a, CFTypeRef x, CFTypeRef y);
  CFIndex count; // elements afterwards
  CFIndex xRefs, yRefs;
};

const ArrayOwnershipCase kArrayOwnership[] = {
    {"append_twice_retains_twice",
     [](CFMutableArrayRef a, CFTypeRef x, CFTypeRef) {
       CFArrayAppendValue(a, x);
       CFArrayAppendValue(a, x);
     },
     2, 3, 1},
    {"insert_retains",
     [](CFMutableArrayRef a, CFTypeRef x, CFTypeRef y) {
       CFArrayAppendValue(a, y);
       CFArrayInsertValueAtIndex(a, 0, x);
     },
     2, 2, 2},
    {"remove_releases_one",
     [](CFMutableArrayRef a, CFTypeRef x, CFTypeRef) {
       CFArrayAppendValue(a, x);
       CFArrayAppendValue(a, x);
       CFArrayRemoveValueAtIndex(a, 0);
     },
     1, 2, 1},
    {"set_releases_replaced_value",
     [](CFMutableArrayRef a, CFTypeRef x, CFTypeRef y) {
       CFArrayAppendValue(a, x);
       CFArraySetValueAtIndex(a, 0, y);
     },
     1, 1, 2},
    {"set_same_value_keeps_it",
     [](CFMutableArrayRef a, CFTypeRef x, CFTypeRef) {
       CFArrayAppendValue(a, x);
       CFArraySetValueAtIndex(a, 0, x);
     },
     1, 2, 1},
    {"set_at_count_appends",
     [](CFMutableArrayRef a, CFTypeRef x, CFTypeRef) { CFArraySetValueAtIndex(a, 0, x); }, 1, 2, 1},
    {"remove_all_releases_every_element",
     [](CFMutableArrayRef a, CFTypeRef x, CFTypeRef y) {
       CFArrayAppendValue(a, x);
       CFArrayAppendValue(a, y);
       CFArrayAppendValue(a, x);
       CFArrayRemoveAllValues(a);
     },
     0, 1, 1},
    {"null_value_refused",
     [](CFMutableArrayRef a, CFTypeRef, CFTypeRef) {
       EXPECT_FALSE(VPArrayAppendValue(a, nullptr));
       CFArrayInsertValueAtIndex(a, 0, nullptr);
     },
     0, 1, 1},
    {"indexes_out_of_range_ignored",
     [](CFMutableArrayRef a, CFTypeRef x, CFTypeRef y) {
       CFArrayAppendValue(a, x);
       CFArrayInsertValueAtIndex(a, 2, y);
       CFArrayInsertValueAtIndex(a, -1, y);
       CFArraySetValueAtIndex(a, 2, y);
       CFArrayRemoveValueAtIndex(a, 1);
       CFArrayRemoveValueAtIndex(a, -1);
     },
     1, 2, 1},
};

class ArrayOwnership : public cf_test::LeakCheckedTest,
                       public ::testing::WithParamInterface<ArrayOwnershipCase> {};

TEST_P(ArrayOwnership, RetainsPerAdditionAndReleasesOnRemovalAndDestruction) {
  const ArrayOwnershipCase &c = GetParam();
  Owned<CFNumberRef> x(Int(1)), y(Int(2));
  CFMutableArrayRef a = NewArray();
  ASSERT_NE(a, nullptr);
  c.op(a, x.get(), y.get());
  EXPECT_EQ(CFArrayGetCount(a), c.count);
  EXPECT_EQ(CFGetRetainCount(x.get()), c.xRefs);
  EXPECT_EQ(CFGetRetainCount(y.get()), c.yRefs);
  CFRelease(a);
  EXPECT_EQ(CFGetRetainCount(x.get()), 1);
  EXPECT_EQ(CFGetRetainCount(y.get()), 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, ArrayOwnership, ::testing::ValuesIn(kArrayOwnership),
                         cf_test::CaseName());

TEST_F(ArrayTest, KeepsOrderOfAppendsAndInserts) {
  Owned<CFNumberRef> n0(Int(0)), n1(Int(1)), n2(Int(2)), n3(Int(3));
  Owned<CFMutableArrayRef> a(NewArray());
  CFArrayAppendValue(a.get(), n1.get());
  CFArrayAppendValue(a.get(), n3.get());
  CFArrayInsertValueAtIndex(a.get(), 0, n0.get());
  CFArrayInsertValueAtIndex(a.get(), 2, n2.get());
  EXPECT_EQ(Text(a.get()), "(0, 1, 2, 3)");
  EXPECT_EQ(CFArrayGetValueAtIndex(a.get(), 2), n2.get());
  EXPECT_EQ(CFArrayGetValueAtIndex(a.get(), 4), nullptr);
  EXPECT_EQ(CFArrayGetValueAtIndex(a.get(), -1), nullptr);
}

TEST_F(ArrayTest, MutableCopyHoldsTheSameElementsWithItsOwnReferences) {
  Owned<CFNumberRef> x(Int(1)), y(Int(2));
  Owned<CFMutableArrayRef> a(NewArray());
  CFArrayAppendValue(a.get(), x.get());
  CFArrayAppendValue(a.get(), y.get());
  Owned<CFMutableArrayRef> copy(CFArrayCreateMutableCopy(nullptr, 0, a.get()));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(CFArrayGetValueAtIndex(copy.get(), 0), x.get());
  EXPECT_EQ(CFArrayGetValueAtIndex(copy.get(), 1), y.get());
  EXPECT_EQ(CFGetRetainCount(x.get()), 3);
  EXPECT_TRUE(CFEqual(copy.get(), a.get()));

  // The copy is a list of its own: changing it leaves the original alone.
  CFArrayRemoveValueAtIndex(copy.get(), 0);
  EXPECT_EQ(CFArrayGetCount(a.get()), 2);
  EXPECT_EQ(CFGetRetainCount(x.get()), 2);
  copy.reset();
  EXPECT_EQ(CFGetRetainCount(y.get()), 2);
}

TEST_F(ArrayTest, CopiesKeepTheCallbacksOfTheOriginal) {
  // An array of raw pointers stays one: its copies retain nothing either.
  Owned<CFNumberRef> x(Int(1));
  Owned<CFMutableArrayRef> raw(CFArrayCreateMutable(nullptr, 0, nullptr));
  CFArrayAppendValue(raw.get(), x.get());
  Owned<CFMutableArrayRef> copy(CFArrayCreateMutableCopy(nullptr, 0, raw.get()));
  Owned<CFArrayRef> frozen(CFArrayCreateCopy(nullptr, raw.get()));
  ASSERT_NE(copy, nullptr);
  ASSERT_NE(frozen, nullptr);
  EXPECT_EQ(CFArrayGetCount(frozen.get()), 1);
  EXPECT_EQ(CFGetRetainCount(x.get()), 1);
}

TEST_F(ArrayTest, BoundedArrayRefusesToGrowPastItsCapacity) {
  Owned<CFNumberRef> x(Int(1));
  Owned<CFMutableArrayRef> a(NewArray(2));
  EXPECT_TRUE(VPArrayAppendValue(a.get(), x.get()));
  EXPECT_TRUE(VPArrayAppendValue(a.get(), x.get()));
  EXPECT_FALSE(VPArrayAppendValue(a.get(), x.get()));
  CFArrayInsertValueAtIndex(a.get(), 0, x.get());
  EXPECT_EQ(CFArrayGetCount(a.get()), 2);
  EXPECT_EQ(CFGetRetainCount(x.get()), 3);
  // A copy bounded below the elements it must hold cannot be made.
  EXPECT_EQ(CFArrayCreateMutableCopy(nullptr, 1, a.get()), nullptr);
}

TEST_F(ArrayTest, ImmutableArraysRefuseEveryChange) {
  Owned<CFNumberRef> x(Int(1)), y(Int(2));
  const void *values[] = {y.get(), x.get()};
  Owned<CFArrayRef> a(CFArrayCreate(nullptr, values, 2, &kCFTypeArrayCallBacks));
  ASSERT_NE(a, nullptr);
  CFMutableArrayRef m = As<CFMutableArrayRef>(a.get());
  EXPECT_FALSE(VPArrayAppendValue(m, x.get()));
  CFArrayInsertValueAtIndex(m, 0, x.get());
  CFArraySetValueAtIndex(m, 0, x.get());
  CFArrayRemoveValueAtIndex(m, 0);
  long calls = 0;
  CFArraySortValues(m, CFRangeMake(0, 2), CompareKeys, &calls);
  EXPECT_EQ(calls, 0);
  CFArrayRemoveAllValues(m);
  EXPECT_EQ(CFArrayGetValueAtIndex(a.get(), 0), y.get());
  EXPECT_EQ(CFArrayGetValueAtIndex(a.get(), 1), x.get());
  EXPECT_EQ(CFGetRetainCount(x.get()), 2);
}

TEST_F(ArrayTest, ContainsValueComparesByValueWithinTheRange) {
  Owned<CFNumberRef> one(Int(1)), two(Int(2)), probe(Int64(2));
  const void *values[] = {one.get(), two.get()};
  Owned<CFArrayRef> a(CFArrayCreate(nullptr, values, 2, &kCFTypeArrayCallBacks));
  EXPECT_TRUE(CFArrayContainsValue(a.get(), CFRangeMake(0, 2), probe.get()));
  EXPECT_FALSE(CFArrayContainsValue(a.get(), CFRangeMake(0, 1), probe.get()));
  EXPECT_FALSE(CFArrayContainsValue(a.get(), CFRangeMake(1, 2), probe.get())); // past the end
  EXPECT_FALSE(CFArrayContainsValue(a.get(), CFRangeMake(-1, 2), probe.get()));
}

// ---- Stable sort ----

struct SortCase {
  const char *name;
  int count;
  int distinctKeys; // few keys: many runs of equal elements
  bool descending;  // keys start in reverse order instead of shuffled
};

const SortCase kSortCases[] = {
    {"empty", 0, 1, false},
    {"one", 1, 1, false},
    {"two_equal", 2, 1, false},
    {"one_block", 20, 3, false},
    {"block_and_one", 21, 3, false},
    {"odd_blocks", 61, 4, false},
    {"many_duplicates", 1000, 5, false},
    {"all_distinct", 777, 1 << 30, false},
    {"reversed", 300, 1 << 30, true},
    {"reversed_runs", 300, 7, true},
};

class StableSort : public ::testing::TestWithParam<SortCase> {};

TEST_P(StableSort, OrdersByTheComparatorKeepingEqualElementsInOrder) {
  const SortCase &c = GetParam();
  std::mt19937 rng(12345);
  std::vector<Item> items;
  for (int i = 0; i < c.count; ++i) {
    int key = c.descending ? (c.count - i) % c.distinctKeys
                           : static_cast<int>(rng() % static_cast<unsigned>(c.distinctKeys));
    items.push_back({key, i});
  }
  Owned<CFMutableArrayRef> a(CFArrayCreateMutable(nullptr, 0, nullptr));
  for (const Item &it : items)
    CFArrayAppendValue(a.get(), &it);

  long calls = 0;
  CFArraySortValues(a.get(), CFRangeMake(0, c.count), CompareKeys, &calls);

  std::vector<Item> expected = items;
  std::stable_sort(expected.begin(), expected.end(),
                   [](const Item &p, const Item &q) { return p.key < q.key; });
  ASSERT_EQ(CFArrayGetCount(a.get()), c.count);
  for (int i = 0; i < c.count; ++i) {
    const Item *got = static_cast<const Item *>(CFArrayGetValueAtIndex(a.get(), i));
    ASSERT_EQ(got->seq, expected[static_cast<size_t>(i)].seq) << "at index " << i;
  }
  if (c.count > 1) {
    EXPECT_GT(calls, 0) << "the context reaches the comparator";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, StableSort, ::testing::ValuesIn(kSortCases), cf_test::CaseName());

TEST(ArraySortRange, SortsOnlyTheRangeAndIgnoresARangeOutsideTheArray) {
  std::vector<Item> items;
  for (int i = 0; i < 8; ++i)
    items.push_back({8 - i, i});
  Owned<CFMutableArrayRef> a(CFArrayCreateMutable(nullptr, 0, nullptr));
  for (const Item &it : items)
    CFArrayAppendValue(a.get(), &it);
  auto order = [&] {
    std::vector<int> seq;
    for (CFIndex i = 0; i < CFArrayGetCount(a.get()); ++i)
      seq.push_back(static_cast<const Item *>(CFArrayGetValueAtIndex(a.get(), i))->seq);
    return seq;
  };
  long calls = 0;
  const CFRange outside[] = {CFRangeMake(5, 4), CFRangeMake(-1, 3), CFRangeMake(0, -1),
                             CFRangeMake(9, 0)};
  for (CFRange r : outside)
    CFArraySortValues(a.get(), r, CompareKeys, &calls);
  CFArraySortValues(a.get(), CFRangeMake(0, 8), nullptr, nullptr);
  EXPECT_EQ(order(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(calls, 0);

  CFArraySortValues(a.get(), CFRangeMake(2, 3), CompareKeys, &calls);
  EXPECT_EQ(order(), (std::vector<int>{0, 1, 4, 3, 2, 5, 6, 7}));
}

// ---- Ownership through a dictionary ----

struct Objects {
  CFTypeRef k, kEqual, v, w; // kEqual: equal to k, another object
};

struct DictionaryOwnershipCase {
  const char *name;
  void (*op)(CFMutableDictionaryRef d, const Objects &o);
  CFIndex count;
  CFIndex kRefs, kEqualRefs, vRefs, wRefs;
  char found; // what k finds afterwards: 'v', 'w' or 0 for nothing
};

const DictionaryOwnershipCase kDictionaryOwnership[] = {
    {"add_retains_key_and_value",
     [](CFMutableDictionaryRef d, const Objects &o) { CFDictionaryAddValue(d, o.k, o.v); }, 1, 2, 1,
     2, 1, 'v'},
    {"add_on_present_key_keeps_first_value",
     [](CFMutableDictionaryRef d, const Objects &o) {
       CFDictionaryAddValue(d, o.k, o.v);
       CFDictionaryAddValue(d, o.kEqual, o.w);
       CFDictionaryAddValue(d, o.k, o.w);
     },
     1, 2, 1, 2, 1, 'v'},
    {"set_releases_replaced_value_and_keeps_key",
     [](CFMutableDictionaryRef d, const Objects &o) {
       CFDictionaryAddValue(d, o.k, o.v);
       CFDictionarySetValue(d, o.kEqual, o.w);
     },
     1, 2, 1, 1, 2, 'w'},
    {"set_same_value_keeps_it",
     [](CFMutableDictionaryRef d, const Objects &o) {
       CFDictionarySetValue(d, o.k, o.v);
       CFDictionarySetValue(d, o.k, o.v);
     },
     1, 2, 1, 2, 1, 'v'},
    {"remove_releases_key_and_value",
     [](CFMutableDictionaryRef d, const Objects &o) {
       CFDictionaryAddValue(d, o.k, o.v);
       CFDictionaryAddValue(d, o.w, o.w);
       CFDictionaryRemoveValue(d, o.kEqual);
     },
     1, 1, 1, 1, 3, 0},
    {"null_key_or_value_refused",
     [](CFMutableDictionaryRef d, const Objects &o) {
       CFDictionaryAddValue(d, nullptr, o.v);
       CFDictionarySetValue(d, o.k, nullptr);
     },
     0, 1, 1, 1, 1, 0},
};

class DictionaryOwnership : public cf_test::LeakCheckedTest,
                            public ::testing::WithParamInterface<DictionaryOwnershipCase> {};

TEST_P(DictionaryOwnership, RetainsOnInsertionAndReleasesWhatItLetsGo) {
  const DictionaryOwnershipCase &c = GetParam();
  Owned<CFNumberRef> k(Int(7)), kEqual(Int64(7)), v(Int(100)), w(Int(200));
  Objects o{k.get(), kEqual.get(), v.get(), w.get()};
  CFMutableDictionaryRef d = NewDictionary();
  ASSERT_NE(d, nullptr);
  c.op(d, o);
  EXPECT_EQ(CFDictionaryGetCount(d), c.count);
  EXPECT_EQ(CFGetRetainCount(o.k), c.kRefs);
  EXPECT_EQ(CFGetRetainCount(o.kEqual), c.kEqualRefs);
  EXPECT_EQ(CFGetRetainCount(o.v), c.vRefs);
  EXPECT_EQ(CFGetRetainCount(o.w), c.wRefs);
  CFTypeRef expected = c.found == 'v' ? o.v : c.found == 'w' ? o.w : nullptr;
  EXPECT_EQ(CFDictionaryGetValue(d, o.k), expected);
  CFRelease(d);
  for (CFTypeRef obj : {o.k, o.kEqual, o.v, o.w})
    EXPECT_EQ(CFGetRetainCount(obj), 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, DictionaryOwnership, ::testing::ValuesIn(kDictionaryOwnership),
                         cf_test::CaseName());

TEST_F(DictionaryTest, CreateAndCopiesHoldEveryPairRetained) {
  Owned<CFStringRef> k1(Str("one")), k2(Str("two"));
  Owned<CFNumberRef> v1(Int(1)), v2(Int(2));
  const void *keys[] = {k1.get(), k2.get()};
  const void *values[] = {v1.get(), v2.get()};
  Owned<CFDictionaryRef> d(CFDictionaryCreate(
      nullptr, keys, values, 2, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  ASSERT_NE(d, nullptr);
  Owned<CFMutableDictionaryRef> copy(CFDictionaryCreateMutableCopy(nullptr, 0, d.get()));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(CFGetRetainCount(k1.get()), 3);
  EXPECT_EQ(CFGetRetainCount(v2.get()), 3);
  EXPECT_TRUE(CFEqual(d.get(), copy.get()));

  CFDictionarySetValue(copy.get(), k1.get(), v2.get());
  EXPECT_FALSE(CFEqual(d.get(), copy.get()));
  EXPECT_EQ(CFDictionaryGetValue(d.get(), k1.get()), v1.get());

  const void *gotKeys[2], *gotValues[2];
  CFDictionaryGetKeysAndValues(copy.get(), gotKeys, gotValues);
  EXPECT_EQ(gotKeys[0], k1.get()); // insertion order
  EXPECT_EQ(gotValues[0], v2.get());
  EXPECT_EQ(gotKeys[1], k2.get());

  // The immutable original refuses changes.
  CFDictionaryRemoveValue(As<CFMutableDictionaryRef>(d.get()), k1.get());
  CFDictionaryAddValue(As<CFMutableDictionaryRef>(d.get()), v1.get(), v1.get());
  EXPECT_EQ(CFDictionaryGetCount(d.get()), 2);
}

TEST_F(DictionaryTest, KeyGivenTwiceAtCreationKeepsTheLastValue) {
  Owned<CFNumberRef> k(Int(1)), kEqual(Int64(1)), v1(Int(10)), v2(Int(20));
  const void *keys[] = {k.get(), kEqual.get()};
  const void *values[] = {v1.get(), v2.get()};
  Owned<CFDictionaryRef> d(CFDictionaryCreate(
      nullptr, keys, values, 2, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
  EXPECT_EQ(CFDictionaryGetCount(d.get()), 1);
  EXPECT_EQ(CFDictionaryGetValue(d.get(), k.get()), v2.get());
  EXPECT_EQ(CFGetRetainCount(v1.get()), 1);
}

TEST_F(DictionaryTest, ManyKeysStayFindableThroughGrowthAndRemoval) {
  Owned<CFMutableDictionaryRef> d(NewDictionary());
  std::vector<Owned<CFNumberRef>> keys;
  for (int i = 0; i < 500; ++i) {
    keys.emplace_back(Int(i));
    CFDictionaryAddValue(d.get(), keys.back().get(), keys.back().get());
  }
  for (int i = 0; i < 500; i += 2) {
    Owned<CFNumberRef> probe(Int64(i));
    CFDictionaryRemoveValue(d.get(), probe.get());
  }
  EXPECT_EQ(CFDictionaryGetCount(d.get()), 250);
  for (int i = 0; i < 500; ++i) {
    Owned<CFNumberRef> probe(Int64(i));
    const void *got = CFDictionaryGetValue(d.get(), probe.get());
    EXPECT_EQ(got, i % 2 ? keys[static_cast<size_t>(i)].get() : nullptr) << i;
  }
}

// ---- Lookups and membership by value ----

struct LookupCase {
  const char *name;
  CFTypeRef (*stored)();
  CFTypeRef (*probe)();
  bool found;
};

const LookupCase kLookups[] = {
    {"created_string_finds_constant_key", [] { return CFRetain(CFSTR("FileSize-LazyCalc")); },
     [] { return CFTypeRef(Str("FileSize-LazyCalc")); }, true},
    {"constant_string_finds_created_key", [] { return CFTypeRef(Str("Menu")); },
     [] { return CFRetain(CFSTR("Menu")); }, true},
    {"strings_compare_case_sensitively", [] { return CFTypeRef(Str("Menu")); },
     [] { return CFTypeRef(Str("menu")); }, false},
    {"sint32_finds_sint64", [] { return CFTypeRef(Int(3)); }, [] { return CFTypeRef(Int64(3)); },
     true},
    {"double_finds_sint32", [] { return CFTypeRef(Int(3)); },
     [] { return CFTypeRef(cf_test::Double(3.0)); }, true},
    {"fraction_misses_integer", [] { return CFTypeRef(Int(3)); },
     [] { return CFTypeRef(cf_test::Double(3.5)); }, false},
    {"number_misses_string_of_its_digits", [] { return CFTypeRef(Int(3)); },
     [] { return CFTypeRef(Str("3")); }, false},
    {"created_uuid_finds_constant_uuid",
     [] {
       return CFRetain(CFUUIDGetConstantUUIDWithBytes(nullptr, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
                                                      12, 13, 14, 15, 16));
     },
     [] {
       CFUUIDBytes b = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
       return CFTypeRef(CFUUIDCreateFromUUIDBytes(nullptr, b));
     },
     true},
    {"equal_data_finds_data",
     [] { return CFTypeRef(CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>("abc"), 3)); },
     [] { return CFTypeRef(CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>("abc"), 3)); },
     true},
};

class LookupByValue : public cf_test::LeakCheckedTest,
                      public ::testing::WithParamInterface<LookupCase> {};

TEST_P(LookupByValue, DictionaryKeysMatchByEquality) {
  const LookupCase &c = GetParam();
  Owned<CFTypeRef> stored(c.stored()), probe(c.probe());
  ASSERT_TRUE(stored && probe);
  Owned<CFMutableDictionaryRef> d(NewDictionary());
  CFDictionarySetValue(d.get(), stored.get(), kCFBooleanTrue);
  EXPECT_EQ(CFDictionaryGetValue(d.get(), probe.get()), c.found ? kCFBooleanTrue : nullptr);
  EXPECT_EQ(CFDictionaryContainsKey(d.get(), probe.get()), c.found);
  CFDictionaryAddValue(d.get(), probe.get(), kCFBooleanFalse);
  EXPECT_EQ(CFDictionaryGetCount(d.get()), c.found ? 1 : 2);
}

TEST_P(LookupByValue, SetMembershipMatchesByEquality) {
  const LookupCase &c = GetParam();
  Owned<CFTypeRef> stored(c.stored()), probe(c.probe());
  ASSERT_TRUE(stored && probe);
  Owned<CFMutableSetRef> s(NewSet());
  CFSetAddValue(s.get(), stored.get());
  EXPECT_EQ(CFSetContainsValue(s.get(), probe.get()), c.found);
  CFSetAddValue(s.get(), probe.get());
  EXPECT_EQ(CFSetGetCount(s.get()), c.found ? 1 : 2);
}

INSTANTIATE_TEST_SUITE_P(Cases, LookupByValue, ::testing::ValuesIn(kLookups), cf_test::CaseName());

// ---- Sets ----

TEST_F(SetTest, AddingAnEqualNumberRetainsNothingAndRemoveReleases) {
  Owned<CFNumberRef> first(Int(4)), same(Int64(4));
  Owned<CFMutableSetRef> s(NewSet());
  CFSetAddValue(s.get(), first.get());
  CFSetAddValue(s.get(), same.get());
  EXPECT_EQ(CFSetGetCount(s.get()), 1);
  EXPECT_EQ(CFGetRetainCount(first.get()), 2);
  EXPECT_EQ(CFGetRetainCount(same.get()), 1);
  const void *held = nullptr;
  CFSetGetValues(s.get(), &held);
  EXPECT_EQ(held, first.get());

  CFSetRemoveValue(s.get(), same.get());
  EXPECT_EQ(CFSetGetCount(s.get()), 0);
  EXPECT_EQ(CFGetRetainCount(first.get()), 1);
}

TEST_F(SetTest, ReleasesEveryElementWhenDestroyed) {
  std::vector<Owned<CFNumberRef>> numbers;
  CFMutableSetRef s = NewSet();
  for (int i = 0; i < 40; ++i) {
    numbers.emplace_back(Int(i));
    CFSetAddValue(s, numbers.back().get());
  }
  EXPECT_EQ(CFSetGetCount(s), 40);
  CFRelease(s);
  for (const auto &n : numbers)
    EXPECT_EQ(CFGetRetainCount(n.get()), 1);
}

// ---- Callbacks ----

TEST_F(SetTest, NullCallbacksHoldRawPointersByIdentity) {
  Owned<CFNumberRef> a(Int(5)), b(Int(5));
  Owned<CFMutableSetRef> s(CFSetCreateMutable(nullptr, 0, nullptr));
  CFSetAddValue(s.get(), a.get());
  CFSetAddValue(s.get(), b.get());
  EXPECT_EQ(CFSetGetCount(s.get()), 2);
  EXPECT_EQ(CFGetRetainCount(a.get()), 1);

  int plain = 0;
  Owned<CFMutableDictionaryRef> d(CFDictionaryCreateMutable(nullptr, 0, nullptr, nullptr));
  CFDictionarySetValue(d.get(), &plain, nullptr); // raw pointers: null is a value like any other
  const void *got = &plain;
  EXPECT_TRUE(CFDictionaryGetValueIfPresent(d.get(), &plain, &got));
  EXPECT_EQ(got, nullptr);
}

// Callbacks over plain ints that count what the collection asks of them.
struct Counting {
  static inline int retains = 0, releases = 0, equals = 0;
  static const void *Retain(CFAllocatorRef, const void *v) {
    ++retains;
    return v;
  }
  static void Release(CFAllocatorRef, const void *) { ++releases; }
  static Boolean Equal(const void *a, const void *b) {
    ++equals;
    return *static_cast<const int *>(a) == *static_cast<const int *>(b);
  }
  static CFHashCode Hash(const void *v) { return CFHashCode(*static_cast<const int *>(v)); }
};

TEST(CollectionCallbacks, CustomCallbacksAreUsedFieldByField) {
  Counting::retains = Counting::releases = Counting::equals = 0;
  const CFSetCallBacks byValue = {0,       Counting::Retain, Counting::Release,
                                  nullptr, Counting::Equal,  Counting::Hash};
  int one = 1, alsoOne = 1, two = 2;
  CFMutableSetRef s = CFSetCreateMutable(nullptr, 0, &byValue);
  CFSetAddValue(s, &one);
  CFSetAddValue(s, &alsoOne);
  CFSetAddValue(s, &two);
  EXPECT_EQ(CFSetGetCount(s), 2);
  EXPECT_EQ(Counting::retains, 2);
  EXPECT_GT(Counting::equals, 0);
  // A set that retains cannot hold null, so null never reaches the callbacks.
  EXPECT_FALSE(CFSetContainsValue(s, nullptr));
  CFRelease(s);
  EXPECT_EQ(Counting::releases, 2);

  // Retain and release only: equality falls back to identity.
  const CFArrayCallBacks countingOnly = {0, Counting::Retain, Counting::Release, nullptr, nullptr};
  CFMutableArrayRef a = CFArrayCreateMutable(nullptr, 0, &countingOnly);
  CFArrayAppendValue(a, &one);
  EXPECT_TRUE(CFArrayContainsValue(a, CFRangeMake(0, 1), &one));
  EXPECT_FALSE(CFArrayContainsValue(a, CFRangeMake(0, 1), &alsoOne));
  CFRelease(a);
  EXPECT_EQ(Counting::retains, 3);
  EXPECT_EQ(Counting::releases, 3);
}

// ---- Descriptions ----

struct DescriptionCase {
  const char *name;
  CFTypeRef (*make)();
  const char *text;
};

const DescriptionCase kDescriptions[] = {
    {"empty_array", [] { return CFTypeRef(NewArray()); }, "()"},
    {"array_of_strings",
     [] {
       CFMutableArrayRef a = NewArray();
       CFArrayAppendValue(a, CFSTR("a"));
       CFArrayAppendValue(a, CFSTR("b"));
       return CFTypeRef(a);
     },
     "(a, b)"},
    {"dictionary",
     [] {
       CFMutableDictionaryRef d = NewDictionary();
       Owned<CFNumberRef> v(Int(60));
       CFDictionaryAddValue(d, CFSTR("FileSize-LimitTicks"), v.get());
       CFDictionaryAddValue(d, CFSTR("FileSize-LazyCalc"), kCFBooleanFalse);
       return CFTypeRef(d);
     },
     "{FileSize-LimitTicks = 60, FileSize-LazyCalc = false}"},
    {"nested",
     [] {
       CFMutableArrayRef inner = NewArray();
       CFArrayAppendValue(inner, kCFBooleanTrue);
       CFMutableSetRef s = NewSet();
       CFSetAddValue(s, inner);
       CFRelease(inner);
       return CFTypeRef(s);
     },
     "{(true)}"},
};

class Description : public cf_test::LeakCheckedTest,
                    public ::testing::WithParamInterface<DescriptionCase> {};

TEST_P(Description, IsReadable) {
  Owned<CFTypeRef> obj(GetParam().make());
  EXPECT_EQ(Text(obj.get()), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Cases, Description, ::testing::ValuesIn(kDescriptions),
                         cf_test::CaseName());

// ---- Null and wrong handles ----

struct BadHandleCase {
  const char *name;
  // Calls one function with the bad handle; true when it answered "nothing".
  bool (*answersNothing)(CFTypeRef bad, CFTypeRef value);
};

const BadHandleCase kBadHandles[] = {
    {"array_get_count",
     [](CFTypeRef b, CFTypeRef) { return CFArrayGetCount(As<CFArrayRef>(b)) == 0; }},
    {"array_get_value",
     [](CFTypeRef b, CFTypeRef) { return !CFArrayGetValueAtIndex(As<CFArrayRef>(b), 0); }},
    {"array_append",
     [](CFTypeRef b, CFTypeRef v) { return !VPArrayAppendValue(As<CFMutableArrayRef>(b), v); }},
    {"array_contains",
     [](CFTypeRef b, CFTypeRef v) {
       return !CFArrayContainsValue(As<CFArrayRef>(b), CFRangeMake(0, 0), v);
     }},
    {"array_copies",
     [](CFTypeRef b, CFTypeRef) {
       return !CFArrayCreateCopy(nullptr, As<CFArrayRef>(b)) &&
              !CFArrayCreateMutableCopy(nullptr, 0, As<CFArrayRef>(b));
     }},
    {"array_changes",
     [](CFTypeRef b, CFTypeRef v) {
       CFMutableArrayRef a = As<CFMutableArrayRef>(b);
       CFArrayInsertValueAtIndex(a, 0, v);
       CFArraySetValueAtIndex(a, 0, v);
       CFArrayRemoveValueAtIndex(a, 0);
       CFArrayRemoveAllValues(a);
       CFArraySortValues(a, CFRangeMake(0, 0), CompareKeys, nullptr);
       return CFGetRetainCount(v) == 1;
     }},
    {"dictionary_reads",
     [](CFTypeRef b, CFTypeRef v) {
       CFDictionaryRef d = As<CFDictionaryRef>(b);
       const void *got = v;
       CFDictionaryGetKeysAndValues(d, nullptr, nullptr);
       return CFDictionaryGetCount(d) == 0 && !CFDictionaryGetValue(d, v) &&
              !CFDictionaryGetValueIfPresent(d, v, &got) && got == v &&
              !CFDictionaryContainsKey(d, v) && !CFDictionaryCreateMutableCopy(nullptr, 0, d);
     }},
    {"dictionary_changes",
     [](CFTypeRef b, CFTypeRef v) {
       CFMutableDictionaryRef d = As<CFMutableDictionaryRef>(b);
       CFDictionaryAddValue(d, v, v);
       CFDictionarySetValue(d, v, v);
       CFDictionaryRemoveValue(d, v);
       return CFGetRetainCount(v) == 1;
     }},
    {"set_calls",
     [](CFTypeRef b, CFTypeRef v) {
       CFMutableSetRef s = As<CFMutableSetRef>(b);
       CFSetAddValue(s, v);
       CFSetRemoveValue(s, v);
       CFSetGetValues(s, nullptr);
       return CFSetGetCount(s) == 0 && !CFSetContainsValue(s, v) && CFGetRetainCount(v) == 1;
     }},
};

class BadHandle : public ::testing::TestWithParam<BadHandleCase> {};

TEST_P(BadHandle, NullOrWrongTypeAnswersNothing) {
  Owned<CFNumberRef> value(Int(9));
  Owned<CFDataRef> notACollection(CFDataCreate(nullptr, nullptr, 0));
  EXPECT_TRUE(GetParam().answersNothing(nullptr, value.get())) << "null handle";
  EXPECT_TRUE(GetParam().answersNothing(notACollection.get(), value.get())) << "a data handle";
}

INSTANTIATE_TEST_SUITE_P(Cases, BadHandle, ::testing::ValuesIn(kBadHandles), cf_test::CaseName());

TEST(BadArguments, CreatesRefuseImpossibleRequests) {
  EXPECT_EQ(CFArrayCreate(nullptr, nullptr, 2, &kCFTypeArrayCallBacks), nullptr);
  EXPECT_EQ(CFArrayCreate(nullptr, nullptr, -1, &kCFTypeArrayCallBacks), nullptr);
  const void *withNull[] = {CFSTR("a"), nullptr};
  EXPECT_EQ(CFArrayCreate(nullptr, withNull, 2, &kCFTypeArrayCallBacks), nullptr);
  EXPECT_EQ(CFArrayCreateMutable(nullptr, -1, &kCFTypeArrayCallBacks), nullptr);
  EXPECT_EQ(CFDictionaryCreate(nullptr, withNull, nullptr, 1, &kCFTypeDictionaryKeyCallBacks,
                               &kCFTypeDictionaryValueCallBacks),
            nullptr);
  EXPECT_EQ(CFDictionaryCreate(nullptr, withNull, withNull, 2, &kCFTypeDictionaryKeyCallBacks,
                               &kCFTypeDictionaryValueCallBacks),
            nullptr);
  EXPECT_EQ(CFSetCreateMutable(nullptr, -1, &kCFTypeSetCallBacks), nullptr);
  // Raw-pointer arrays may hold null.
  Owned<CFArrayRef> raw(CFArrayCreate(nullptr, withNull, 2, nullptr));
  EXPECT_EQ(CFArrayGetCount(raw.get()), 2);
}

// ---- Failed allocations ----

struct SweepCase {
  const char *name;
  // Runs once with some allocation failing; checks the outcome itself.
  void (*run)(const std::vector<CFTypeRef> &pool);
};

const SweepCase kSweeps[] = {
    {"array_create",
     [](const std::vector<CFTypeRef> &p) {
       const void *values[] = {p[0], p[1], p[0]};
       CFArrayRef a = CFArrayCreate(nullptr, values, 3, &kCFTypeArrayCallBacks);
       EXPECT_EQ(CFGetRetainCount(p[0]), a ? 3 : 1);
       if (a) {
         EXPECT_EQ(CFArrayGetCount(a), 3);
       }
       if (a) CFRelease(a);
     }},
    {"array_append",
     [](const std::vector<CFTypeRef> &p) {
       Owned<CFMutableArrayRef> a(NewArray());
       if (!a) return;
       for (int i = 1; i <= 4; ++i)
         if (!VPArrayAppendValue(a.get(), p[static_cast<size_t>(i)])) return;
       Boolean added = false;
       bool failed = cf_test::FailedDuring([&] { added = VPArrayAppendValue(a.get(), p[0]); });
       EXPECT_EQ(added, !failed);
       EXPECT_EQ(CFArrayGetCount(a.get()), failed ? 4 : 5);
       EXPECT_EQ(CFGetRetainCount(p[0]), failed ? 1 : 2);
       EXPECT_EQ(CFArrayGetValueAtIndex(a.get(), 3), p[4]);
     }},
    {"array_insert",
     [](const std::vector<CFTypeRef> &p) {
       Owned<CFMutableArrayRef> a(NewArray());
       if (!a || !VPArrayAppendValue(a.get(), p[1])) return;
       bool failed = cf_test::FailedDuring([&] { CFArrayInsertValueAtIndex(a.get(), 0, p[0]); });
       EXPECT_EQ(CFArrayGetCount(a.get()), failed ? 1 : 2);
       EXPECT_EQ(CFArrayGetValueAtIndex(a.get(), 0), failed ? p[1] : p[0]);
       EXPECT_EQ(CFGetRetainCount(p[0]), failed ? 1 : 2);
     }},
    {"array_mutable_copy",
     [](const std::vector<CFTypeRef> &p) {
       const void *values[] = {p[0], p[1]};
       Owned<CFArrayRef> a(CFArrayCreate(nullptr, values, 2, &kCFTypeArrayCallBacks));
       if (!a) return;
       Owned<CFMutableArrayRef> copy(CFArrayCreateMutableCopy(nullptr, 0, a.get()));
       EXPECT_EQ(CFGetRetainCount(p[0]), copy ? 3 : 2);
       if (copy) {
         EXPECT_TRUE(CFEqual(copy.get(), a.get()));
       }
     }},
    {"dictionary_create",
     [](const std::vector<CFTypeRef> &p) {
       const void *keys[] = {p[0], p[1], p[2]};
       Owned<CFDictionaryRef> d(CFDictionaryCreate(nullptr, keys, keys, 3,
                                                   &kCFTypeDictionaryKeyCallBacks,
                                                   &kCFTypeDictionaryValueCallBacks));
       EXPECT_EQ(CFGetRetainCount(p[1]), d ? 3 : 1);
       if (d) {
         EXPECT_EQ(CFDictionaryGetValue(d.get(), p[2]), p[2]);
       }
     }},
    {"dictionary_add",
     [](const std::vector<CFTypeRef> &p) {
       Owned<CFMutableDictionaryRef> d(NewDictionary());
       if (!d) return;
       for (size_t i = 1; i <= 4; ++i) {
         CFDictionaryAddValue(d.get(), p[i], p[i]);
         if (CFDictionaryGetCount(d.get()) != CFIndex(i)) return;
       }
       bool failed = cf_test::FailedDuring([&] { CFDictionaryAddValue(d.get(), p[0], p[1]); });
       EXPECT_EQ(CFDictionaryGetCount(d.get()), failed ? 4 : 5);
       EXPECT_EQ(CFDictionaryGetValue(d.get(), p[0]), failed ? nullptr : p[1]);
       EXPECT_EQ(CFGetRetainCount(p[0]), failed ? 1 : 2);
       EXPECT_EQ(CFGetRetainCount(p[1]), failed ? 3 : 4);
       for (size_t i = 1; i <= 4; ++i)
         EXPECT_EQ(CFDictionaryGetValue(d.get(), p[i]), p[i]);
     }},
    {"dictionary_mutable_copy",
     [](const std::vector<CFTypeRef> &p) {
       Owned<CFMutableDictionaryRef> d(NewDictionary());
       if (!d) return;
       CFDictionarySetValue(d.get(), p[0], p[1]);
       if (CFDictionaryGetCount(d.get()) != 1) return;
       Owned<CFMutableDictionaryRef> copy(CFDictionaryCreateMutableCopy(nullptr, 0, d.get()));
       EXPECT_EQ(CFGetRetainCount(p[0]), copy ? 3 : 2);
       if (copy) {
         EXPECT_EQ(CFDictionaryGetValue(copy.get(), p[0]), p[1]);
       }
     }},
    {"set_add",
     [](const std::vector<CFTypeRef> &p) {
       Owned<CFMutableSetRef> s(NewSet());
       if (!s) return;
       for (size_t i = 1; i <= 4; ++i) {
         CFSetAddValue(s.get(), p[i]);
         if (CFSetGetCount(s.get()) != CFIndex(i)) return;
       }
       bool failed = cf_test::FailedDuring([&] { CFSetAddValue(s.get(), p[0]); });
       EXPECT_EQ(CFSetGetCount(s.get()), failed ? 4 : 5);
       EXPECT_EQ(CFSetContainsValue(s.get(), p[0]), !failed);
       EXPECT_EQ(CFGetRetainCount(p[0]), failed ? 1 : 2);
       for (size_t i = 1; i <= 4; ++i)
         EXPECT_TRUE(CFSetContainsValue(s.get(), p[i]));
     }},
};

class AllocationFailure : public ::testing::TestWithParam<SweepCase> {};

TEST_P(AllocationFailure, LeavesTheCollectionWholeAndLeaksNothing) {
  std::vector<Owned<CFNumberRef>> owned;
  std::vector<CFTypeRef> pool;
  for (int i = 0; i < 5; ++i) {
    owned.emplace_back(Int(i));
    pool.push_back(owned.back().get());
  }
  for (bool repeat : {false, true}) {
    SCOPED_TRACE(repeat ? "failing from allocation n on" : "failing allocation n only");
    int runs = vantlow_test::SweepAllocationFailures([&](long) { GetParam().run(pool); }, repeat);
    EXPECT_GT(runs, 1) << "the operation allocates, so some run must have failed";
    for (CFTypeRef n : pool)
      EXPECT_EQ(CFGetRetainCount(n), 1);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, AllocationFailure, ::testing::ValuesIn(kSweeps),
                         cf_test::CaseName());

} // namespace
