// Apple Event descriptors: values, lists, records, copies, coercions and
// the failure guarantees (null outputs, unchanged inputs, nothing leaked).
#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include <cstring>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

// Checks that each test gives back every descriptor it made.
class AEDescTest : public ::testing::Test {
protected:
  void SetUp() override { blocks_ = VPLiveAllocationCount(); }
  void TearDown() override { EXPECT_EQ(VPLiveAllocationCount(), blocks_) << "storage leaked"; }

private:
  long blocks_ = 0;
};

// A descriptor disposed at the end of the scope.
struct Desc {
  AEDesc d{typeNull, nullptr};
  Desc() = default;
  Desc(const Desc &) = delete;
  ~Desc() { AEDisposeDesc(&d); }
  AEDesc *operator&() { return &d; }
};

std::string Bytes(const AEDesc *d) {
  std::string out(static_cast<size_t>(AEGetDescDataSize(d)), '\0');
  EXPECT_EQ(AEGetDescData(d, out.data(), static_cast<Size>(out.size())), noErr);
  return out;
}

std::string Int32Bytes(SInt32 v) {
  return std::string(reinterpret_cast<const char *>(&v), 4);
}

std::string Utxt(const std::u16string &s) {
  return std::string(reinterpret_cast<const char *>(s.data()), s.size() * 2);
}

void PutText(AEDescList *list, const std::string &text) {
  ASSERT_EQ(AEPutPtr(list, 0, typeChar, text.data(), static_cast<Size>(text.size())), noErr);
}

// The items of a list of 'TEXT' values, as strings.
std::vector<std::string> Texts(const AEDescList *list) {
  long n = -1;
  EXPECT_EQ(AECountItems(list, &n), noErr);
  std::vector<std::string> out;
  for (long i = 1; i <= n; ++i) {
    char buf[64];
    Size size = 0;
    EXPECT_EQ(AEGetNthPtr(list, i, typeChar, nullptr, nullptr, buf, sizeof buf, &size), noErr);
    out.emplace_back(buf, static_cast<size_t>(size));
  }
  return out;
}

bool IsNullDesc(const AEDesc &d) {
  return d.descriptorType == typeNull && !d.dataHandle;
}

TEST_F(AEDescTest, DuplicateIsIndependentAndDisposeLeavesANullDescriptor) {
  Desc original, copy;
  const SInt32 value = 42;
  ASSERT_EQ(AECreateDesc(typeSInt32, &value, 4, &original), noErr);
  ASSERT_EQ(AEDuplicateDesc(&original.d, &copy), noErr);
  EXPECT_NE(copy.d.dataHandle, original.d.dataHandle);

  EXPECT_EQ(AEDisposeDesc(&original), noErr);
  EXPECT_TRUE(IsNullDesc(original.d));
  EXPECT_EQ(AEDisposeDesc(&original), noErr) << "disposing a null descriptor is harmless";
  EXPECT_EQ(copy.d.descriptorType, static_cast<DescType>(typeSInt32));
  EXPECT_EQ(Bytes(&copy.d), Int32Bytes(42));
}

struct CreateCase {
  const char *name;
  DescType type;
  const char *data;
  Size size;
  OSErr err;
  DescType resultType;
};

class AECreateDescTest : public AEDescTest, public ::testing::WithParamInterface<CreateCase> {};

TEST_P(AECreateDescTest, MakesTheDescriptorOrAClearError) {
  const CreateCase &c = GetParam();
  Desc d;
  d.d.descriptorType = 0x6A756E6B; // 'junk': overwritten in every case
  EXPECT_EQ(AECreateDesc(c.type, c.data, c.size, &d), c.err);
  EXPECT_EQ(d.d.descriptorType, c.resultType);
  if (c.err != noErr || c.resultType == typeNull) {
    EXPECT_EQ(d.d.dataHandle, nullptr);
    return;
  }
  if (c.type == typeAEList || c.type == typeAERecord) {
    long n = -1;
    EXPECT_EQ(AECountItems(&d.d, &n), noErr);
    EXPECT_EQ(n, 0);
  } else {
    EXPECT_EQ(Bytes(&d.d), std::string(c.data ? c.data : "", static_cast<size_t>(c.size)));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, AECreateDescTest,
                         ::testing::ValuesIn(std::vector<CreateCase>{
                             {"bytes", typeChar, "abc", 3, noErr, typeChar},
                             {"embedded_zero", typeChar, "a\0b", 3, noErr, typeChar},
                             {"empty", typeUnicodeText, nullptr, 0, noErr, typeUnicodeText},
                             {"null_type", typeNull, nullptr, 0, noErr, typeNull},
                             {"null_type_with_data", typeNull, "x", 1, paramErr, typeNull},
                             {"empty_list", typeAEList, nullptr, 0, noErr, typeAEList},
                             {"empty_record", typeAERecord, nullptr, 0, noErr, typeAERecord},
                             {"list_from_bytes", typeAEList, "abcd", 4, errAEWrongDataType,
                              typeNull},
                             {"negative_size", typeChar, "abc", -1, paramErr, typeNull},
                             {"missing_data", typeChar, nullptr, 2, paramErr, typeNull},
                         }),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(AEDescTest, ListAppendsReplacesAndRefusesIndexesOutside) {
  Desc list;
  ASSERT_EQ(AECreateList(nullptr, 0, false, &list), noErr);
  EXPECT_EQ(list.d.descriptorType, static_cast<DescType>(typeAEList));
  PutText(&list.d, "one");                                    // index 0 appends
  ASSERT_EQ(AEPutPtr(&list.d, 2, typeChar, "two", 3), noErr); // count + 1 appends
  ASSERT_EQ(AEPutPtr(&list.d, 1, typeChar, "uno", 3), noErr); // replaces
  EXPECT_EQ(Texts(&list.d), (std::vector<std::string>{"uno", "two"}));

  for (long index : {-1L, 4L, 100L}) {
    EXPECT_EQ(AEPutPtr(&list.d, index, typeChar, "x", 1), errAEIllegalIndex) << index;
  }
  for (long index : {0L, 3L, -5L}) {
    Desc item;
    EXPECT_EQ(AEGetNthDesc(&list.d, index, typeWildCard, nullptr, &item), errAEIllegalIndex)
        << index;
    EXPECT_TRUE(IsNullDesc(item.d));
  }
  EXPECT_EQ(Texts(&list.d), (std::vector<std::string>{"uno", "two"}));
}

TEST_F(AEDescTest, PutCopiesTheDescriptorAndItemsComeBackWithoutKeyword) {
  Desc list, item, got;
  ASSERT_EQ(AECreateList(nullptr, 0, false, &list), noErr);
  ASSERT_EQ(AECreateDesc(typeAlias, "alias-bytes", 11, &item), noErr);
  ASSERT_EQ(AEPutDesc(&list.d, 0, &item.d), noErr);
  AEDisposeDesc(&item);

  AEKeyword keyword = 0;
  ASSERT_EQ(AEGetNthDesc(&list.d, 1, typeAlias, &keyword, &got), noErr);
  EXPECT_EQ(got.d.descriptorType, static_cast<DescType>(typeAlias));
  EXPECT_EQ(Bytes(&got.d), "alias-bytes");
  EXPECT_EQ(keyword, static_cast<AEKeyword>(typeWildCard));
}

TEST_F(AEDescTest, RecordKeepsOneParameterPerKeywordInFirstPutOrder) {
  Desc record;
  ASSERT_EQ(AECreateList(nullptr, 0, true, &record), noErr);
  EXPECT_EQ(record.d.descriptorType, static_cast<DescType>(typeAERecord));
  const SInt32 command = 2000, attributes = 64, replaced = 2001;
  ASSERT_EQ(AEPutParamPtr(&record.d, keyAEName, typeChar, "Sizes", 5), noErr);
  ASSERT_EQ(AEPutParamPtr(&record.d, keyContextualMenuCommandID, typeSInt32, &command, 4), noErr);
  ASSERT_EQ(AEPutParamPtr(&record.d, keyContextualMenuAttributes, typeSInt32, &attributes, 4),
            noErr);
  ASSERT_EQ(AEPutParamPtr(&record.d, keyContextualMenuCommandID, typeSInt32, &replaced, 4), noErr);

  long n = 0;
  ASSERT_EQ(AECountItems(&record.d, &n), noErr);
  EXPECT_EQ(n, 3);
  const AEKeyword order[] = {keyAEName, keyContextualMenuCommandID, keyContextualMenuAttributes};
  for (long i = 1; i <= 3; ++i) {
    Desc item;
    AEKeyword keyword = 0;
    EXPECT_EQ(AEGetNthDesc(&record.d, i, typeWildCard, &keyword, &item), noErr);
    EXPECT_EQ(keyword, order[i - 1]) << i;
  }
  SInt32 got = 0;
  DescType type = 0;
  Size size = 0;
  EXPECT_EQ(AEGetParamPtr(&record.d, keyContextualMenuCommandID, typeSInt32, &type, &got, 4, &size),
            noErr);
  EXPECT_EQ(got, 2001);
  EXPECT_EQ(type, static_cast<DescType>(typeSInt32));
  EXPECT_EQ(size, 4);

  Desc missing;
  EXPECT_EQ(AEGetParamDesc(&record.d, keyContextualMenuSubmenu, typeWildCard, &missing),
            errAEDescNotFound);
  EXPECT_TRUE(IsNullDesc(missing.d));
  EXPECT_EQ(
      AEGetParamPtr(&record.d, keyContextualMenuModifiers, typeSInt32, nullptr, &got, 4, nullptr),
      errAEDescNotFound);
}

TEST_F(AEDescTest, SubmenuListInsideARecordIsACopyThatSurvivesItsSources) {
  Desc commands;
  ASSERT_EQ(AECreateList(nullptr, 0, false, &commands), noErr);
  {
    Desc submenu, record;
    ASSERT_EQ(AECreateList(nullptr, 0, false, &submenu), noErr);
    PutText(&submenu.d, "3 files");
    PutText(&submenu.d, "12 KB");
    ASSERT_EQ(AECreateList(nullptr, 0, true, &record), noErr);
    ASSERT_EQ(AEPutParamPtr(&record.d, keyAEName, typeChar, "Sizes", 5), noErr);
    ASSERT_EQ(AEPutParamDesc(&record.d, keyContextualMenuSubmenu, &submenu.d), noErr);
    PutText(&submenu.d, "added later"); // not in the record's copy
    ASSERT_EQ(AEPutDesc(&commands.d, 0, &record.d), noErr);
  } // sources disposed here

  Desc record, submenu;
  ASSERT_EQ(AEGetNthDesc(&commands.d, 1, typeAERecord, nullptr, &record), noErr);
  ASSERT_EQ(AEGetParamDesc(&record.d, keyContextualMenuSubmenu, typeAEList, &submenu), noErr);
  EXPECT_EQ(Texts(&submenu.d), (std::vector<std::string>{"3 files", "12 KB"}));
}

TEST_F(AEDescTest, PuttingAListIntoItselfCopiesItsFormerContents) {
  Desc list;
  ASSERT_EQ(AECreateList(nullptr, 0, false, &list), noErr);
  PutText(&list.d, "a");
  ASSERT_EQ(AEPutDesc(&list.d, 0, &list.d), noErr);
  Desc inner;
  ASSERT_EQ(AEGetNthDesc(&list.d, 2, typeAEList, nullptr, &inner), noErr);
  EXPECT_EQ(Texts(&inner.d), std::vector<std::string>{"a"});
}

struct KindCase {
  const char *name;
  DescType made; // typeAEList, typeAERecord, typeChar or typeNull
  OSErr (*op)(AEDesc *);
  OSErr err;
};

OSErr Count(AEDesc *d) {
  long n = 0;
  return AECountItems(d, &n);
}
OSErr PutDesc(AEDesc *d) {
  AEDesc item{typeNull, nullptr};
  return AEPutDesc(d, 0, &item);
}
OSErr PutPtr(AEDesc *d) {
  return AEPutPtr(d, 0, typeChar, "x", 1);
}
OSErr PutParam(AEDesc *d) {
  return AEPutParamPtr(d, keyAEName, typeChar, "x", 1);
}
OSErr GetNth(AEDesc *d) {
  AEDesc out;
  OSErr err = AEGetNthDesc(d, 1, typeWildCard, nullptr, &out);
  AEDisposeDesc(&out);
  return err;
}
OSErr GetParam(AEDesc *d) {
  AEDesc out;
  OSErr err = AEGetParamDesc(d, keyAEName, typeWildCard, &out);
  AEDisposeDesc(&out);
  return err;
}

class AEKindTest : public AEDescTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(AEKindTest, ListAndRecordOperationsCheckWhatTheyAreGiven) {
  const KindCase &c = GetParam();
  Desc d;
  if (c.made == typeAEList || c.made == typeAERecord) {
    ASSERT_EQ(AECreateList(nullptr, 0, c.made == typeAERecord, &d), noErr);
  } else if (c.made == typeChar) {
    ASSERT_EQ(AECreateDesc(typeChar, "text", 4, &d), noErr);
  }
  EXPECT_EQ(c.op(&d.d), c.err);
  EXPECT_EQ(d.d.descriptorType, c.made) << "the input is untouched";
}

INSTANTIATE_TEST_SUITE_P(Cases, AEKindTest,
                         ::testing::ValuesIn(std::vector<KindCase>{
                             {"count_bytes", typeChar, Count, errAEWrongDataType},
                             {"count_null", typeNull, Count, errAEWrongDataType},
                             {"count_record", typeAERecord, Count, noErr},
                             {"put_desc_into_record", typeAERecord, PutDesc, errAEWrongDataType},
                             {"put_ptr_into_bytes", typeChar, PutPtr, errAEWrongDataType},
                             {"put_param_into_list", typeAEList, PutParam, errAEWrongDataType},
                             {"put_param_into_null", typeNull, PutParam, errAEWrongDataType},
                             {"get_nth_of_bytes", typeChar, GetNth, errAEWrongDataType},
                             {"get_nth_of_empty_list", typeAEList, GetNth, errAEIllegalIndex},
                             {"get_param_of_list", typeAEList, GetParam, errAEWrongDataType},
                         }),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(AEDescTest, NullArgumentsAndAliasedOutputsAreParamErr) {
  Desc list, item;
  ASSERT_EQ(AECreateList(nullptr, 0, false, &list), noErr);
  PutText(&list.d, "kept");
  long n = 0;
  char buf[4];
  EXPECT_EQ(AEDisposeDesc(nullptr), paramErr);
  EXPECT_EQ(AECreateDesc(typeChar, "x", 1, nullptr), paramErr);
  EXPECT_EQ(AECreateList(nullptr, 0, false, nullptr), paramErr);
  EXPECT_EQ(AECreateList(nullptr, -1, false, &item), paramErr);
  EXPECT_EQ(AECountItems(nullptr, &n), paramErr);
  EXPECT_EQ(AECountItems(&list.d, nullptr), paramErr);
  EXPECT_EQ(AEPutDesc(&list.d, 0, nullptr), paramErr);
  EXPECT_EQ(AEPutDesc(nullptr, 0, &item.d), paramErr);
  EXPECT_EQ(AEGetNthDesc(&list.d, 1, typeWildCard, nullptr, nullptr), paramErr);
  EXPECT_EQ(AEGetNthPtr(&list.d, 1, typeChar, nullptr, nullptr, nullptr, 4, nullptr), paramErr);
  EXPECT_EQ(AEGetDescData(nullptr, buf, 4), paramErr);
  EXPECT_EQ(AEGetDescData(&list.d, buf, -1), paramErr);
  EXPECT_EQ(AECoerceDesc(nullptr, typeAEList, &item.d), paramErr);
  EXPECT_EQ(AEGetDescDataSize(nullptr), 0);
  // An output that is the input would overwrite the caller's descriptor.
  EXPECT_EQ(AEDuplicateDesc(&list.d, &list.d), paramErr);
  EXPECT_EQ(AECoerceDesc(&list.d, typeAEList, &list.d), paramErr);
  EXPECT_EQ(AEGetNthDesc(&list.d, 1, typeWildCard, nullptr, &list.d), paramErr);
  EXPECT_EQ(Texts(&list.d), std::vector<std::string>{"kept"});
}

TEST_F(AEDescTest, DataCopiesAtMostTheGivenSizeAndListsHaveNoFlatData) {
  Desc text, list;
  ASSERT_EQ(AECreateDesc(typeChar, "abcdef", 6, &text), noErr);
  char buf[8] = "-------";
  EXPECT_EQ(AEGetDescDataSize(&text.d), 6);
  EXPECT_EQ(AEGetDescData(&text.d, buf, 3), noErr);
  EXPECT_EQ(std::string(buf, 7), "abc----");

  ASSERT_EQ(AECreateList(nullptr, 0, false, &list), noErr);
  PutText(&list.d, "abcdef");
  Size actual = 0;
  DescType type = 0;
  std::memset(buf, '-', sizeof buf);
  EXPECT_EQ(AEGetNthPtr(&list.d, 1, typeChar, nullptr, &type, buf, 2, &actual), noErr);
  EXPECT_EQ(std::string(buf, 3), "ab-");
  EXPECT_EQ(actual, 6) << "the full size tells the caller it got a prefix";

  EXPECT_EQ(AEGetDescDataSize(&list.d), 0);
  EXPECT_EQ(AEGetDescData(&list.d, buf, sizeof buf), errAEWrongDataType);
}

struct CoerceCase {
  const char *name;
  DescType from;
  std::string data;
  DescType to;
  OSErr err;
  DescType resultType;
  std::string result;
};

class AECoerceTest : public AEDescTest, public ::testing::WithParamInterface<CoerceCase> {};

TEST_P(AECoerceTest, CoercesOrFailsCleanly) {
  const CoerceCase &c = GetParam();
  Desc from, to;
  ASSERT_EQ(AECreateDesc(c.from, c.data.data(), static_cast<Size>(c.data.size()), &from), noErr);
  EXPECT_EQ(AECoerceDesc(&from.d, c.to, &to), c.err);
  EXPECT_EQ(to.d.descriptorType, c.resultType);
  if (c.err == noErr) {
    EXPECT_EQ(Bytes(&to.d), c.result);
  } else {
    EXPECT_EQ(to.d.dataHandle, nullptr);
  }
  EXPECT_EQ(Bytes(&from.d), c.data) << "the input is untouched";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AECoerceTest,
    ::testing::ValuesIn(std::vector<CoerceCase>{
        {"same_type", typeAlias, "xyz", typeAlias, noErr, typeAlias, "xyz"},
        {"wildcard", typeAlias, "xyz", typeWildCard, noErr, typeAlias, "xyz"},
        {"sint_to_uint", typeSInt32, Int32Bytes(5), typeUInt32, noErr, typeUInt32, Int32Bytes(5)},
        {"uint_to_sint", typeUInt32, Int32Bytes(0x7FFFFFFF), typeSInt32, noErr, typeSInt32,
         Int32Bytes(0x7FFFFFFF)},
        {"negative_to_uint", typeSInt32, Int32Bytes(-1), typeUInt32, errAECoercionFail, typeNull,
         ""},
        {"large_uint_to_sint", typeUInt32, Int32Bytes(INT32_MIN), typeSInt32, errAECoercionFail,
         typeNull, ""},
        {"short_integer", typeSInt32, "abc", typeUInt32, errAECoercionFail, typeNull, ""},
        {"utf8_to_utxt", typeChar, "h\xC3\xA9!", typeUnicodeText, noErr, typeUnicodeText,
         Utxt(u"h\u00E9!")},
        {"utxt_to_utf8", typeUnicodeText, Utxt(u"\u00E9\U0001F600"), typeChar, noErr, typeChar,
         "\xC3\xA9\xF0\x9F\x98\x80"},
        {"non_utf8_byte_kept", typeChar, "a\xFF", typeUnicodeText, noErr, typeUnicodeText,
         Utxt(u"a\xDCFF")},
        {"mapped_byte_back", typeUnicodeText, Utxt(u"a\xDCFF"), typeChar, noErr, typeChar, "a\xFF"},
        {"odd_utxt", typeUnicodeText, "abc", typeChar, errAECoercionFail, typeNull, ""},
        {"text_to_integer", typeChar, "12", typeSInt32, errAECoercionFail, typeNull, ""},
        {"integer_to_alias", typeSInt32, Int32Bytes(1), typeAlias, errAECoercionFail, typeNull, ""},
    }),
    [](const auto &row) { return std::string(row.param.name); });

TEST_F(AEDescTest, OneDescriptorCoercesToAListOfOneAndNothingToAnEmptyList) {
  struct Case {
    const char *name;
    bool record;
    DescType type;
    long count;
  } cases[] = {{"alias", false, typeAlias, 1},
               {"record", true, typeAERecord, 1},
               {"null", false, typeNull, 0}};
  for (const Case &c : cases) {
    Desc from, list;
    if (c.record) {
      ASSERT_EQ(AECreateList(nullptr, 0, true, &from), noErr);
    } else if (c.type != typeNull) {
      ASSERT_EQ(AECreateDesc(c.type, "item", 4, &from), noErr);
    }
    ASSERT_EQ(AECoerceDesc(&from.d, typeAEList, &list), noErr) << c.name;
    EXPECT_EQ(list.d.descriptorType, static_cast<DescType>(typeAEList)) << c.name;
    long n = -1;
    EXPECT_EQ(AECountItems(&list.d, &n), noErr) << c.name;
    EXPECT_EQ(n, c.count) << c.name;
    if (n == 1) {
      Desc item;
      ASSERT_EQ(AEGetNthDesc(&list.d, 1, typeWildCard, nullptr, &item), noErr) << c.name;
      EXPECT_EQ(item.d.descriptorType, c.type) << c.name;
    }
  }
}

TEST_F(AEDescTest, ListCoercedToAListIsACopy) {
  Desc list, copy;
  ASSERT_EQ(AECreateList(nullptr, 0, false, &list), noErr);
  PutText(&list.d, "a");
  ASSERT_EQ(AECoerceDesc(&list.d, typeAEList, &copy), noErr);
  PutText(&list.d, "b");
  EXPECT_EQ(Texts(&copy.d), std::vector<std::string>{"a"});
}

TEST_F(AEDescTest, GetNthCoercesTheItemAndReportsAFailedCoercion) {
  Desc list, item;
  ASSERT_EQ(AECreateList(nullptr, 0, false, &list), noErr);
  const SInt32 number = 7;
  ASSERT_EQ(AEPutPtr(&list.d, 0, typeSInt32, &number, 4), noErr);
  EXPECT_EQ(AEGetNthDesc(&list.d, 1, typeAlias, nullptr, &item), errAECoercionFail);
  EXPECT_TRUE(IsNullDesc(item.d));
  UInt32 asUnsigned = 0;
  DescType type = 0;
  EXPECT_EQ(AEGetNthPtr(&list.d, 1, typeUInt32, nullptr, &type, &asUnsigned, 4, nullptr), noErr);
  EXPECT_EQ(asUnsigned, 7u);
  EXPECT_EQ(type, static_cast<DescType>(typeUInt32));
}

// Builds a command list as the plug-in does, with every allocation failing
// in turn: each step succeeds or reports memFullErr, a failed put leaves its
// target as it was, and nothing leaks.
TEST(AEDescSweep, BuildingACommandListFailsCleanlyAtEveryAllocation) {
  auto countOf = [](const AEDesc *d) {
    long n = -1;
    AECountItems(d, &n);
    return n;
  };
  vantlow_test::SweepAllocationFailures(
      [&](long) {
        AEDesc commands{typeNull, nullptr}, submenu{typeNull, nullptr}, record{typeNull, nullptr};
        AEDesc copy{typeNull, nullptr}, coerced{typeNull, nullptr};
        const SInt32 command = 2000;
        OSErr err = AECreateList(nullptr, 0, false, &commands);
        if (err == noErr) err = AECreateList(nullptr, 0, false, &submenu);
        if (err == noErr) err = AEPutPtr(&submenu, 0, typeChar, "3 files", 7);
        if (err == noErr) err = AECreateList(nullptr, 0, true, &record);
        if (err == noErr) {
          err = AEPutParamPtr(&record, keyAEName, typeChar, "Sizes", 5);
          if (err != noErr) {
            EXPECT_EQ(countOf(&record), 0);
          }
        }
        if (err == noErr)
          err = AEPutParamPtr(&record, keyContextualMenuCommandID, typeSInt32, &command, 4);
        if (err == noErr) {
          err = AEPutParamDesc(&record, keyContextualMenuSubmenu, &submenu);
          if (err != noErr) {
            EXPECT_EQ(countOf(&record), 2);
          }
        }
        if (err == noErr) {
          err = AEPutDesc(&commands, 0, &record);
          if (err != noErr) {
            EXPECT_EQ(countOf(&commands), 0);
          }
        }
        if (err == noErr) err = AEDuplicateDesc(&commands, &copy);
        if (err == noErr) err = AECoercePtr(typeChar, "h\xC3\xA9", 3, typeUnicodeText, &coerced);
        EXPECT_TRUE(err == noErr || err == memFullErr) << err;
        if (err == noErr) {
          EXPECT_EQ(countOf(&copy), 1);
        }
        for (AEDesc *d : {&commands, &submenu, &record, &copy, &coerced})
          AEDisposeDesc(d);
      },
      false);
}

} // namespace
