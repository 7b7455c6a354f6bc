// The command list builder: the records of plain items, separators and
// submenus byte for byte, the identifier item and the registration of a
// deferred submenu, populate data per position, wrapping the host's list,
// failed appends, and an allocation sweep. The instance is the real frame's,
// with the recording fake of the feature behind it. Names travel as 'utxt'
// here (the platform's system version); cmd_list_text_test covers 'itxt'.
#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include <string>
#include <vector>

#include "cmd_list.h"
#include "fake_feature.h"
#include "frame_int.h"
#include "scoped_desc.h"
#include "status_codes.h"
#include "test_support.h"

namespace {

using vantlow_test::Desc;

struct ListHolder {
  ~ListHolder() { EXPECT_EQ(MyCMCmdListDispose(list), noErr); }
  MyCMCmdList *list = nullptr;
};

long Count(const AEDescList *list) {
  long count = -1;
  EXPECT_EQ(AECountItems(list, &count), noErr);
  return count;
}

// The record at index (from 1) of a list.
void RecordAt(const AEDescList *list, long index, AEDesc *record) {
  ASSERT_EQ(AEGetNthDesc(list, index, typeAERecord, nullptr, record), noErr) << index;
}

// The record's parameter keywords, in order.
std::vector<AEKeyword> Keywords(const AERecord *record) {
  std::vector<AEKeyword> keys;
  for (long i = 1; i <= Count(record); ++i) {
    Desc param;
    AEKeyword key = 0;
    EXPECT_EQ(AEGetNthDesc(record, i, typeWildCard, &key, &param.desc), noErr);
    keys.push_back(key);
  }
  return keys;
}

// The 'pnam' parameter: its type and its bytes.
std::pair<DescType, std::string> Name(const AERecord *record) {
  Desc name;
  EXPECT_EQ(AEGetParamDesc(record, keyAEName, typeWildCard, &name.desc), noErr);
  std::string bytes(static_cast<size_t>(AEGetDescDataSize(&name.desc)), '\0');
  if (!bytes.empty()) AEGetDescData(&name.desc, bytes.data(), static_cast<Size>(bytes.size()));
  return {name.desc.descriptorType, bytes};
}

SInt32 Number(const AERecord *record, AEKeyword key) {
  SInt32 value = -1;
  DescType type = 0;
  Size size = 0;
  EXPECT_EQ(AEGetParamPtr(record, key, typeWildCard, &type, &value, sizeof value, &size), noErr);
  EXPECT_EQ(type, static_cast<DescType>(typeSInt32));
  EXPECT_EQ(size, 4);
  return value;
}

// UTF-16 units in this machine's byte order, as 'utxt' holds them.
std::string Utxt(const std::u16string &text) {
  return std::string(reinterpret_cast<const char *>(text.data()), text.size() * 2);
}

// The text of a CFString as 'utxt' bytes.
std::string Utxt(CFStringRef text) {
  std::u16string units(static_cast<size_t>(CFStringGetLength(text)), u'\0');
  CFStringGetCharacters(text, CFRangeMake(0, CFStringGetLength(text)),
                        reinterpret_cast<UniChar *>(units.data()));
  return Utxt(units);
}

CFStringRef Str(const std::u16string &text) {
  return CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar *>(text.data()),
                                      static_cast<CFIndex>(text.size()));
}

class CmdListTest : public ::testing::Test {
protected:
  void SetUp() override {
    instance_ = AllocMyCMXType();
    ASSERT_NE(instance_, nullptr);
  }
  void TearDown() override {
    VPFaultDisarm();
    DeallocMyCMXType(instance_);
    fake_feature::Reset();
  }
  MyCMXType *instance_ = nullptr;
};

// ---- Plain items ----

struct ItemCase {
  const char *name;
  std::u16string text;
  SInt32 command;
  UInt32 attributes;
  bool separator; // added with MyCMCmdListAddSeparatorItem
  std::vector<AEKeyword> keywords;
};

void PrintTo(const ItemCase &row, std::ostream *os) {
  *os << row.name;
}

class ItemRecords : public CmdListTest, public ::testing::WithParamInterface<ItemCase> {};

TEST_P(ItemRecords, AreBuiltByteForByte) {
  const ItemCase &c = GetParam();
  ListHolder h;
  ASSERT_EQ(MyCMCmdListCreate(nullptr, &h.list, instance_), noErr);
  if (c.separator) {
    ASSERT_EQ(MyCMCmdListAddSeparatorItem(h.list), noErr);
  } else {
    CFStringRef text = Str(c.text);
    ASSERT_EQ(MyCMCmdListAddItem(h.list, text, c.command, c.attributes, nullptr), noErr);
    CFRelease(text);
  }
  ASSERT_EQ(MyCMCmdListCountItems(h.list), 1);
  Desc record;
  RecordAt(MyCMCmdListGetCommandList(h.list), 1, &record.desc);
  EXPECT_EQ(Keywords(&record.desc), c.keywords);
  EXPECT_EQ(Name(&record.desc),
            std::make_pair(static_cast<DescType>(typeUnicodeText), Utxt(c.text)));
  EXPECT_EQ(Number(&record.desc, keyContextualMenuCommandID), c.command);
  if (c.attributes) {
    EXPECT_EQ(Number(&record.desc, keyContextualMenuAttributes), static_cast<SInt32>(c.attributes));
  }
}

const std::vector<AEKeyword> kPlain = {keyAEName, keyContextualMenuCommandID};
const std::vector<AEKeyword> kWithAttributes = {keyAEName, keyContextualMenuCommandID,
                                                keyContextualMenuAttributes};

INSTANTIATE_TEST_SUITE_P(
    Rows, ItemRecords,
    ::testing::ValuesIn(std::vector<ItemCase>{
        {"PlainItemHasNameAndCommandOnly", u"Copy All Sizes", 2004, 0, false, kPlain},
        {"Separator", u"-", 0, kMenuItemAttrSeparator, true, kWithAttributes},
        {"SectionHeader", u"cannot scan 1 folder(s)", 0, kMenuItemAttrSectionHeader, false,
         kWithAttributes},
        {"UnicodeTextKeepsEveryUnit", u"Gr\u00f6\u00dfe \u2713 \U0001D11E", 2000, 0, false, kPlain},
        {"EmptyTextIsZeroBytes", u"", 7, 0, false, kPlain},
        {"NegativeCommand", u"x", -1, 0, false, kPlain},
    }),
    [](const ::testing::TestParamInfo<ItemCase> &row) { return std::string(row.param.name); });

TEST_F(CmdListTest, NullArguments) {
  MyCMCmdList *list = reinterpret_cast<MyCMCmdList *>(this); // must be overwritten
  EXPECT_EQ(MyCMCmdListCreate(nullptr, nullptr, instance_), paramErr);
  EXPECT_EQ(MyCMCmdListCreate(nullptr, &list, nullptr), paramErr);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(MyCMCmdListDispose(nullptr), noErr);
  EXPECT_EQ(MyCMCmdListCountItems(nullptr), 0);
  EXPECT_EQ(MyCMCmdListGetCommandList(nullptr), nullptr);
  EXPECT_EQ(MyCMCmdListGetMenuIdentifier(nullptr), nullptr);
  EXPECT_EQ(MyCMCmdListGetPopulateDataDic(nullptr), nullptr);
  EXPECT_EQ(MyCMCmdListAddItem(nullptr, CFSTR("x"), 1, 0, nullptr), paramErr);
  EXPECT_EQ(MyCMCmdListAddSeparatorItem(nullptr), paramErr);

  ListHolder h, sub;
  ASSERT_EQ(MyCMCmdListCreate(nullptr, &h.list, instance_), noErr);
  ASSERT_EQ(MyCMCmdListCreate(nullptr, &sub.list, instance_), noErr);
  EXPECT_EQ(MyCMCmdListAddItem(h.list, nullptr, 1, 0, nullptr), paramErr);
  EXPECT_EQ(MyCMCmdListAddSubmenuItem(h.list, nullptr, sub.list, 0, nullptr), paramErr);
  EXPECT_EQ(MyCMCmdListAddSubmenuItem(h.list, CFSTR("x"), nullptr, 0, nullptr), paramErr);
  EXPECT_EQ(MyCMCmdListAddSubmenuItem(nullptr, CFSTR("x"), sub.list, 0, nullptr), paramErr);
  EXPECT_EQ(MyCMCmdListCountItems(h.list), 0);
  EXPECT_TRUE(MyCMCmdListHasAttributeAndModifierKeys());
}

TEST_F(CmdListTest, CountsItsItems) {
  ListHolder h;
  ASSERT_EQ(MyCMCmdListCreate(nullptr, &h.list, instance_), noErr);
  EXPECT_EQ(MyCMCmdListCountItems(h.list), 0);
  EXPECT_EQ(MyCMCmdListAddItem(h.list, CFSTR("a"), 1, 0, nullptr), noErr);
  EXPECT_EQ(MyCMCmdListAddSeparatorItem(h.list), noErr);
  EXPECT_EQ(MyCMCmdListAddItem(h.list, CFSTR("b"), 2, 0, nullptr), noErr);
  EXPECT_EQ(MyCMCmdListCountItems(h.list), 3);
}

TEST_F(CmdListTest, WrapperAppendsToTheHostsListWhichOutlivesIt) {
  Desc host;
  ASSERT_EQ(AECreateList(nullptr, 0, false, &host.desc), noErr);
  MyCMCmdList *wrapper = nullptr;
  ASSERT_EQ(MyCMCmdListCreate(&host.desc, &wrapper, instance_), noErr);
  EXPECT_EQ(MyCMCmdListGetCommandList(wrapper), &host.desc);
  ASSERT_EQ(MyCMCmdListAddItem(wrapper, CFSTR("one"), 1, 0, nullptr), noErr);
  ASSERT_EQ(MyCMCmdListAddItem(wrapper, CFSTR("two"), 2, 0, nullptr), noErr);
  EXPECT_EQ(MyCMCmdListDispose(wrapper), noErr);
  ASSERT_EQ(Count(&host.desc), 2);
  Desc second;
  RecordAt(&host.desc, 2, &second.desc);
  EXPECT_EQ(Name(&second.desc).second, Utxt(u"two"));
}

TEST_F(CmdListTest, ListsMadeInARowCarryConsecutiveIdentifiers) {
  ClearMenuIdentifierBase(instance_);
  ListHolder first, second;
  ASSERT_EQ(MyCMCmdListCreate(nullptr, &first.list, instance_), noErr);
  Desc host;
  ASSERT_EQ(AECreateList(nullptr, 0, false, &host.desc), noErr);
  ASSERT_EQ(MyCMCmdListCreate(&host.desc, &second.list, instance_), noErr);
  CFStringRef base = GetMyMenuIdentifierBase(instance_);
  ASSERT_NE(base, nullptr);
  const std::string prefix = Utxt(base);
  EXPECT_EQ(Utxt(MyCMCmdListGetMenuIdentifier(first.list)), prefix + Utxt(u"-0**"));
  EXPECT_EQ(Utxt(MyCMCmdListGetMenuIdentifier(second.list)), prefix + Utxt(u"-1**"));
}

// ---- Submenus ----

struct SubmenuCase {
  const char *name;
  bool deferred;
  UInt32 attributes;
};

void PrintTo(const SubmenuCase &row, std::ostream *os) {
  *os << row.name;
}

class SubmenuRecords : public CmdListTest, public ::testing::WithParamInterface<SubmenuCase> {};

TEST_P(SubmenuRecords, CopyTheItemsAndPlantTheIdentifierWhenDeferred) {
  const SubmenuCase &c = GetParam();
  MyCMXTypeSetAllowInstallHandler(instance_, c.deferred);
  Desc host;
  ASSERT_EQ(AECreateList(nullptr, 0, false, &host.desc), noErr);
  ListHolder sub, wrapper;
  ASSERT_EQ(MyCMCmdListCreate(nullptr, &sub.list, instance_), noErr);
  ASSERT_EQ(MyCMCmdListAddItem(sub.list, CFSTR("Dummy"), 2000, 0, nullptr), noErr);
  ASSERT_EQ(MyCMCmdListAddSeparatorItem(sub.list), noErr);
  ASSERT_EQ(MyCMCmdListCreate(&host.desc, &wrapper.list, instance_), noErr);
  CFStringRef identifier = MyCMCmdListGetMenuIdentifier(sub.list);
  ASSERT_NE(identifier, nullptr);

  ASSERT_EQ(
      MyCMCmdListAddSubmenuItem(wrapper.list, CFSTR("Sizes"), sub.list, c.attributes, nullptr),
      noErr);

  ASSERT_EQ(Count(&host.desc), 1);
  Desc record;
  RecordAt(&host.desc, 1, &record.desc);
  std::vector<AEKeyword> keywords = {keyAEName, keyContextualMenuSubmenu};
  if (c.attributes) keywords.push_back(keyContextualMenuAttributes);
  EXPECT_EQ(Keywords(&record.desc), keywords) << "a submenu item has no command ID";
  EXPECT_EQ(Name(&record.desc).second, Utxt(u"Sizes"));

  Desc copied;
  ASSERT_EQ(AEGetParamDesc(&record.desc, keyContextualMenuSubmenu, typeAEList, &copied.desc),
            noErr);
  ASSERT_EQ(Count(&copied.desc), c.deferred ? 3 : 2);
  EXPECT_EQ(Count(MyCMCmdListGetCommandList(sub.list)), c.deferred ? 3 : 2);
  CFTypeRef registered = MyCMXTypeGetMPEDataForIdentifier(instance_, identifier);
  if (c.deferred) {
    Desc last;
    RecordAt(&copied.desc, 3, &last.desc);
    EXPECT_EQ(Keywords(&last.desc), kPlain) << "the identifier item has no attributes";
    EXPECT_EQ(Name(&last.desc).second, Utxt(identifier));
    EXPECT_EQ(Number(&last.desc, keyContextualMenuCommandID), 0);
    // The submenu's own dictionary, empty, held by the instance beyond the
    // submenu's list.
    ASSERT_NE(registered, nullptr);
    EXPECT_EQ(registered, MyCMCmdListGetPopulateDataDic(sub.list));
    EXPECT_EQ(CFDictionaryGetCount(static_cast<CFDictionaryRef>(registered)), 0);
    CFRetain(registered);
    EXPECT_EQ(MyCMCmdListDispose(sub.list), noErr);
    sub.list = nullptr;
    EXPECT_EQ(CFGetRetainCount(registered), 2);
    CFRelease(registered);
  } else {
    EXPECT_EQ(registered, nullptr);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, SubmenuRecords,
                         ::testing::ValuesIn(std::vector<SubmenuCase>{
                             {"Immediate", false, 0},
                             {"Deferred", true, 0},
                             {"WithAttributes", false, kMenuItemAttrDisabled},
                         }),
                         [](const ::testing::TestParamInfo<SubmenuCase> &row) {
                           return std::string(row.param.name);
                         });

TEST_F(CmdListTest, ItemsAddedAfterTheSubmenuDoNotReachTheParent) {
  ListHolder sub, parent;
  ASSERT_EQ(MyCMCmdListCreate(nullptr, &sub.list, instance_), noErr);
  ASSERT_EQ(MyCMCmdListCreate(nullptr, &parent.list, instance_), noErr);
  ASSERT_EQ(MyCMCmdListAddItem(sub.list, CFSTR("before"), 1, 0, nullptr), noErr);
  ASSERT_EQ(MyCMCmdListAddSubmenuItem(parent.list, CFSTR("Sub"), sub.list, 0, nullptr), noErr);
  ASSERT_EQ(MyCMCmdListAddItem(sub.list, CFSTR("after"), 2, 0, nullptr), noErr);
  Desc record, copied;
  RecordAt(MyCMCmdListGetCommandList(parent.list), 1, &record.desc);
  ASSERT_EQ(AEGetParamDesc(&record.desc, keyContextualMenuSubmenu, typeAEList, &copied.desc),
            noErr);
  EXPECT_EQ(Count(&copied.desc), 1);
}

TEST_F(CmdListTest, DeferredSubmenuWithoutIdentifierIsRefused) {
  MyCMXTypeSetAllowInstallHandler(instance_, true);
  // A list whose identifier could not be made: memory ran out for it alone.
  ListHolder sub;
  for (long n = 1; n < 100 && !sub.list; ++n) {
    MyCMCmdList *list = nullptr;
    VPFaultArm(n, false);
    const OSStatus err = MyCMCmdListCreate(nullptr, &list, instance_);
    VPFaultDisarm();
    if (err == noErr && !MyCMCmdListGetMenuIdentifier(list)) {
      sub.list = list;
    } else {
      MyCMCmdListDispose(list);
    }
  }
  ASSERT_NE(sub.list, nullptr) << "no allocation made the identifier alone fail";
  ListHolder parent;
  ASSERT_EQ(MyCMCmdListCreate(nullptr, &parent.list, instance_), noErr);
  ASSERT_NE(MyCMCmdListGetMenuIdentifier(parent.list), nullptr);
  // 'NilP': the object the deferred submenu needs could not be had.
  EXPECT_EQ(MyCMCmdListAddSubmenuItem(parent.list, CFSTR("Sub"), sub.list, 0, nullptr),
            kMyNilPointerErr);
  EXPECT_EQ(MyCMCmdListCountItems(parent.list), 0);
}

// ---- Populate data ----

TEST_F(CmdListTest, PopulateDataIsFiledUnderThePositionInDeferredModeOnly) {
  static const UInt8 bytes[] = {1, 2, 3};
  CFDataRef data = CFDataCreate(nullptr, bytes, sizeof bytes);
  for (bool deferred : {false, true}) {
    SCOPED_TRACE(deferred ? "deferred" : "immediate");
    MyCMXTypeSetAllowInstallHandler(instance_, deferred);
    ListHolder h, sub;
    ASSERT_EQ(MyCMCmdListCreate(nullptr, &h.list, instance_), noErr);
    ASSERT_EQ(MyCMCmdListCreate(nullptr, &sub.list, instance_), noErr);
    ASSERT_EQ(MyCMCmdListAddItem(h.list, CFSTR("first"), 1, 0, nullptr), noErr);
    ASSERT_EQ(MyCMCmdListAddItem(h.list, CFSTR("second"), 2, 0, data), noErr);
    ASSERT_EQ(MyCMCmdListAddSubmenuItem(h.list, CFSTR("third"), sub.list, 0, data), noErr);
    CFDictionaryRef dictionary = MyCMCmdListGetPopulateDataDic(h.list);
    ASSERT_NE(dictionary, nullptr);
    EXPECT_EQ(CFDictionaryGetCount(dictionary), deferred ? 2 : 0);
    for (SInt32 position : {2, 3}) {
      CFNumberRef key = CFNumberCreate(nullptr, kCFNumberSInt32Type, &position);
      EXPECT_EQ(CFDictionaryGetValue(dictionary, key), deferred ? data : nullptr) << position;
      CFRelease(key);
    }
  }
  CFRelease(data);
}

// An append that fails ends the operation: nothing is filed under the
// unchanged count (which belongs to the item before) and no submenu is
// registered that never reached the list.
TEST_F(CmdListTest, FailedAppendFilesAndRegistersNothing) {
  MyCMXTypeSetAllowInstallHandler(instance_, true);
  Desc notAList; // a record: items cannot be appended to it
  ASSERT_EQ(AECreateList(nullptr, 0, true, &notAList.desc), noErr);
  ListHolder wrapper, sub;
  ASSERT_EQ(MyCMCmdListCreate(&notAList.desc, &wrapper.list, instance_), noErr);
  ASSERT_EQ(MyCMCmdListCreate(nullptr, &sub.list, instance_), noErr);
  static const UInt8 bytes[] = {1};
  CFDataRef data = CFDataCreate(nullptr, bytes, sizeof bytes);

  EXPECT_EQ(MyCMCmdListAddItem(wrapper.list, CFSTR("x"), 1, 0, data), errAEWrongDataType);
  EXPECT_EQ(MyCMCmdListAddSubmenuItem(wrapper.list, CFSTR("Sub"), sub.list, 0, data),
            errAEWrongDataType);
  EXPECT_EQ(CFDictionaryGetCount(MyCMCmdListGetPopulateDataDic(wrapper.list)), 0);
  EXPECT_EQ(MyCMXTypeGetMPEDataForIdentifier(instance_, MyCMCmdListGetMenuIdentifier(sub.list)),
            nullptr);
  // The identifier item planted before the failure stays in the submenu.
  EXPECT_EQ(MyCMCmdListCountItems(sub.list), 1);
  CFRelease(data);
}

// ---- Allocation failures ----

TEST(CmdListSweep, DeferredSubmenuEndsInSuccessOrAReportedFailure) {
  static const UInt8 bytes[] = {9};
  int runs = vantlow_test::SweepAllocationFailures(
      [&](long n) {
        MyCMXType *instance = AllocMyCMXType();
        if (!instance) return;
        MyCMXTypeSetAllowInstallHandler(instance, true);
        Desc host;
        MyCMCmdList *sub = nullptr, *wrapper = nullptr;
        OSStatus err = AECreateList(nullptr, 0, false, &host.desc);
        if (err == noErr) err = MyCMCmdListCreate(nullptr, &sub, instance);
        CFDataRef data = CFDataCreate(nullptr, bytes, sizeof bytes);
        if (err == noErr) err = MyCMCmdListAddItem(sub, CFSTR("Dummy"), 2000, 0, data);
        if (err == noErr) err = MyCMCmdListAddSeparatorItem(sub);
        if (err == noErr) err = MyCMCmdListCreate(&host.desc, &wrapper, instance);
        if (err == noErr) err = MyCMCmdListAddSubmenuItem(wrapper, CFSTR("Sizes"), sub, 0, data);
        if (data) CFRelease(data);
        EXPECT_TRUE(err == noErr || err == memFullErr || err == kMyNilPointerErr || err == paramErr)
            << n << ": " << err;
        if (err == noErr) {
          EXPECT_EQ(Count(&host.desc), 1) << n;
          EXPECT_NE(MyCMXTypeGetMPEDataForIdentifier(instance, MyCMCmdListGetMenuIdentifier(sub)),
                    nullptr)
              << n;
        }
        MyCMCmdListDispose(wrapper);
        MyCMCmdListDispose(sub);
        DeallocMyCMXType(instance);
      },
      false);
  EXPECT_GT(runs, 10);
  fake_feature::Reset();
}

} // namespace
