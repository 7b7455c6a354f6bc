// The host's menu side on command lists made here: the context from paths,
// records read back and turned into menus (every name type, submenus,
// attributes), malformed records reported with where they sit, the populate
// event that opens submenus, and the scrap read back.
#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bundle_fixture.h"
#include "named_rows.h"

namespace {

namespace fs = std::filesystem;
using namespace vantlow::host;
using namespace vantlow_test;
using vantlow_test::PrintTo; // found beside the rows, for GoogleTest

// ---- Building records by hand, as a plug-in would ----

std::string Utxt(const std::u16string &text) {
  return std::string(reinterpret_cast<const char *>(text.data()), text.size() * 2);
}

struct Record {
  AEDescHolder desc;
  Record() { EXPECT_EQ(AECreateList(nullptr, 0, true, desc.get()), noErr); }
  Record &Name(DescType type, const std::string &bytes) {
    EXPECT_EQ(
        AEPutParamPtr(desc.get(), keyAEName, type, bytes.data(), static_cast<Size>(bytes.size())),
        noErr);
    return *this;
  }
  Record &Number(AEKeyword key, SInt32 value) {
    EXPECT_EQ(AEPutParamPtr(desc.get(), key, typeSInt32, &value, sizeof value), noErr);
    return *this;
  }
  Record &Param(AEKeyword key, const AEDesc &value) {
    EXPECT_EQ(AEPutParamDesc(desc.get(), key, &value), noErr);
    return *this;
  }
};

AEDescHolder List(std::initializer_list<const AEDesc *> items) {
  AEDescHolder list;
  EXPECT_EQ(AECreateList(nullptr, 0, false, list.get()), noErr);
  for (const AEDesc *item : items)
    EXPECT_EQ(AEPutDesc(list.get(), 0, item), noErr);
  return list;
}

std::string IntlText(ScriptCode script, LangCode language, const std::string &text) {
  std::string bytes(4, '\0');
  std::memcpy(bytes.data(), &script, 2);
  std::memcpy(bytes.data() + 2, &language, 2);
  return bytes + text;
}

class MenuModel : public ::testing::Test {
protected:
  void SetUp() override { std::setlocale(LC_ALL, "C.UTF-8"); }
  void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

// ---- The context ----

TEST_F(MenuModel, ContextHoldsTheItemsThatExistInOrder) {
  TempDir dir;
  const std::string file = dir.MakeFile("file.txt", "x");
  const std::string folder = dir.MakeDir("folder");
  const std::string link = dir.path() + "/dangling";
  fs::create_symlink(dir.path() + "/nowhere", link);
  const std::string missing = dir.path() + "/missing";
  const std::string withZero = std::string(file) + '\0' + "tail";

  AEDescHolder context;
  std::vector<LeftOutPath> leftOut;
  ASSERT_EQ(MakeContext({file, missing, folder, withZero, link}, &context, &leftOut), noErr);
  ASSERT_EQ(context.get()->descriptorType, static_cast<DescType>(typeAEList));
  long count = 0;
  ASSERT_EQ(AECountItems(context.get(), &count), noErr);
  ASSERT_EQ(count, 3);
  // Each item is an alias of the item at its path; a link is not followed.
  const std::string expected[] = {file, folder, link};
  for (long i = 1; i <= count; ++i) {
    AEDescHolder ref;
    ASSERT_EQ(AEGetNthDesc(context.get(), i, typeFSRef, nullptr, ref.get()), noErr);
    FSRef bytes;
    ASSERT_EQ(AEGetDescData(ref.get(), &bytes, sizeof bytes), noErr);
    UInt8 path[4096];
    ASSERT_EQ(FSRefMakePath(&bytes, path, sizeof path), noErr);
    EXPECT_EQ(reinterpret_cast<const char *>(path), expected[i - 1]);
  }
  ASSERT_EQ(leftOut.size(), 2u);
  EXPECT_EQ(leftOut[0].path, missing);
  EXPECT_EQ(leftOut[0].error, fnfErr);
  EXPECT_EQ(leftOut[1].path, withZero);
  EXPECT_EQ(leftOut[1].error, bdNamErr);
}

TEST_F(MenuModel, CommandListStartsEmpty) {
  AEDescHolder list;
  ASSERT_EQ(MakeCommandList(&list), noErr);
  long count = -1;
  EXPECT_EQ(AECountItems(list.get(), &count), noErr);
  EXPECT_EQ(count, 0);
}

// ---- Records into items and menus ----

TEST_F(MenuModel, RecordsBecomeItemsAndMenus) {
  Record deep;
  deep.Name(typeUnicodeText, Utxt(u"deep")).Number(keyContextualMenuCommandID, 3);
  AEDescHolder deepList = List({deep.desc.get()});
  Record inner;
  inner.Name(typeUnicodeText, Utxt(u"inner")).Param(keyContextualMenuSubmenu, *deepList.get());
  Record unicode, intl, text, separator, header;
  unicode.Name(typeUnicodeText, Utxt(u"Gr\u00f6\u00dfe \U0001D11E"))
      .Number(keyContextualMenuCommandID, 2000);
  intl.Name(typeIntlText, IntlText(smUnicodeScript, langUnspecified, "caf\xc3\xa9"))
      .Number(keyContextualMenuCommandID, 2001);
  text.Name(typeChar, "plain").Number(keyContextualMenuCommandID, 2002);
  separator.Name(typeUnicodeText, Utxt(u"-"))
      .Number(keyContextualMenuCommandID, 0)
      .Number(keyContextualMenuAttributes, kMenuItemAttrSeparator);
  header.Name(typeUnicodeText, Utxt(u"not \xD800 text"))
      .Number(keyContextualMenuCommandID, 0)
      .Number(keyContextualMenuAttributes, kMenuItemAttrSectionHeader);
  AEDescHolder subList = List({unicode.desc.get(), intl.desc.get(), text.desc.get(),
                               separator.desc.get(), inner.desc.get(), header.desc.get()});
  Record top;
  top.Name(typeUnicodeText, Utxt(u"Sizes")).Param(keyContextualMenuSubmenu, *subList.get());
  Record other;
  other.Name(typeChar, "Other plug-in").Number(keyContextualMenuCommandID, 1);
  AEDescHolder commands = List({top.desc.get(), other.desc.get()});

  const std::vector<MenuItem> expected = {
      Submenu("Sizes", {Item("Gr\u00f6\u00dfe \U0001D11E", 2000), Item("caf\u00e9", 2001),
                        Item("plain", 2002), Item("-", 0, kMenuItemAttrSeparator),
                        Submenu("inner", {Item("deep", 3)}),
                        Item("not \uFFFD text", 0, kMenuItemAttrSectionHeader)}),
      Item("Other plug-in", 1)};

  std::vector<MenuItem> read;
  std::string problem;
  ASSERT_EQ(ReadCommandList(*commands.get(), &read, &problem), noErr) << problem;
  EXPECT_EQ(Describe(read), Describe(expected));
  EXPECT_EQ(read, expected);

  MenuHolder menu;
  ASSERT_EQ(BuildMenu(*commands.get(), &menu, &problem), noErr) << problem;
  ASSERT_NE(menu.get(), nullptr);
  std::vector<MenuItem> shown;
  ASSERT_EQ(ReadMenu(menu.get(), &shown), noErr);
  EXPECT_EQ(Describe(shown), Describe(expected));
  EXPECT_EQ(shown, expected);
}

TEST_F(MenuModel, RomanIntlTextIsMacRomanUnderAUnicodeSystem) {
  Record roman;
  roman.Name(typeIntlText, IntlText(smRoman, langEnglish, "caf\x8e"))
      .Number(keyContextualMenuCommandID, 1);
  AEDescHolder commands = List({roman.desc.get()});
  std::vector<MenuItem> read;
  ASSERT_EQ(ReadCommandList(*commands.get(), &read, nullptr), noErr);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].text, "caf\u00e9");
}

struct MalformedCase {
  const char *name;
  // Builds the command list.
  AEDescHolder (*make)();
  const char *problem; // the whole report
};

AEDescHolder InSubmenu(Record &bad) {
  Record good;
  good.Name(typeUnicodeText, Utxt(u"good")).Number(keyContextualMenuCommandID, 1);
  AEDescHolder subList = List({good.desc.get(), bad.desc.get()});
  Record top;
  top.Name(typeUnicodeText, Utxt(u"top")).Param(keyContextualMenuSubmenu, *subList.get());
  return List({good.desc.get(), top.desc.get()});
}

AEDescHolder NestedTooDeep() {
  Record leaf;
  leaf.Name(typeUnicodeText, Utxt(u"leaf"));
  AEDescHolder list = List({leaf.desc.get()});
  for (int depth = 0; depth < 33; ++depth) {
    Record level;
    level.Name(typeUnicodeText, Utxt(u"level")).Param(keyContextualMenuSubmenu, *list.get());
    list = List({level.desc.get()});
  }
  return list;
}

class MalformedRecords : public MenuModel, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedRecords, AreReportedWithTheirPlace) {
  const MalformedCase &c = GetParam();
  AEDescHolder commands = c.make();
  std::vector<MenuItem> read;
  std::string problem;
  EXPECT_NE(ReadCommandList(*commands.get(), &read, &problem), noErr);
  EXPECT_EQ(problem, c.problem);
  MenuHolder menu;
  problem.clear();
  EXPECT_NE(BuildMenu(*commands.get(), &menu, &problem), noErr);
  EXPECT_EQ(problem, c.problem);
  EXPECT_EQ(menu.get(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MalformedRecords,
    ::testing::ValuesIn(std::vector<MalformedCase>{
        {"ItemIsNotARecord",
         [] {
           AEDescHolder number;
           const SInt32 n = 5;
           EXPECT_EQ(AECreateDesc(typeSInt32, &n, sizeof n, number.get()), noErr);
           return List({number.get()});
         },
         "item 1: not an item record"},
        {"NoName",
         [] {
           Record r;
           r.Number(keyContextualMenuCommandID, 1);
           return InSubmenu(r);
         },
         "item 2 > item 2: no name ('pnam')"},
        {"NameIsNotText",
         [] {
           Record r;
           const SInt32 n = 5;
           AEDescHolder number;
           EXPECT_EQ(AECreateDesc(typeSInt32, &n, sizeof n, number.get()), noErr);
           r.Param(keyAEName, *number.get());
           return InSubmenu(r);
         },
         "item 2 > item 2: its name is of type 'long', which is not text"},
        {"OddUnicodeName",
         [] {
           Record r;
           r.Name(typeUnicodeText, "abc");
           return InSubmenu(r);
         },
         "item 2 > item 2: its 'utxt' name has an odd number of bytes"},
        {"IntlNameWithoutHeader",
         [] {
           Record r;
           r.Name(typeIntlText, "ab");
           return InSubmenu(r);
         },
         "item 2 > item 2: its 'itxt' name is shorter than its script and language codes"},
        {"IntlNameInAnUnknownScript",
         [] {
           Record r;
           r.Name(typeIntlText, IntlText(1, 11, "x")); // Japanese
           return InSubmenu(r);
         },
         "item 2 > item 2: its 'itxt' name is in script 1, which is not supported"},
        {"CommandIsNotANumber",
         [] {
           Record r;
           r.Name(typeUnicodeText, Utxt(u"x"));
           EXPECT_EQ(
               AEPutParamPtr(r.desc.get(), keyContextualMenuCommandID, typeUnicodeText, "1\0", 2),
               noErr);
           return InSubmenu(r);
         },
         "item 2 > item 2: its command ID or attributes are not numbers"},
        {"SubmenuHoldsNoRecords",
         [] {
           Record r;
           const SInt32 n = 5;
           AEDescHolder number;
           EXPECT_EQ(AECreateDesc(typeSInt32, &n, sizeof n, number.get()), noErr);
           r.Name(typeUnicodeText, Utxt(u"x")).Param(keyContextualMenuSubmenu, *number.get());
           return List({r.desc.get()});
         },
         "item 1 > item 1: not an item record"},
        {"NestedTooDeep", NestedTooDeep,
         "item 1 > item 1 > item 1 > item 1 > item 1 > item 1 > item 1 > item 1 > item 1 > item 1 "
         "> item 1 > item 1 > item 1 > item 1 > item 1 > item 1 > item 1 > item 1 > item 1 > item "
         "1 > item 1 > item 1 > item 1 > item 1 > item 1 > item 1 > item 1 > item 1 > item 1 > "
         "item 1 > item 1 > item 1 > item 1: submenus nested more than 32 deep"},
        {"CommandListIsNotAList",
         [] {
           Record r;
           r.Name(typeUnicodeText, Utxt(u"x"));
           return std::move(r.desc);
         },
         "command list: not a list of item records"},
    }),
    RowName());

// ---- Opening submenus ----

struct PopulateLog {
  std::vector<MenuRef> menus;
  std::vector<bool> latchSet;
};

OSStatus FillOnPopulate(EventHandlerCallRef, EventRef event, void *userData) {
  auto *log = static_cast<PopulateLog *>(userData);
  MenuRef menu = nullptr;
  if (GetEventParameter(event, kEventParamDirectObject, typeMenuRef, nullptr, sizeof menu, nullptr,
                        &menu) != noErr)
    return eventNotHandledErr;
  log->menus.push_back(menu);
  log->latchSet.push_back(VPCancelLatchIsSet());
  AppendMenuItemTextWithCFString(menu, CFSTR("filled"), 0, 99, nullptr);
  return noErr;
}

TEST_F(MenuModel, SubmenusAreOpenedDepthFirstThroughTheApplicationTarget) {
  Record deep, inner, a, b, plain;
  deep.Name(typeUnicodeText, Utxt(u"deep")).Number(keyContextualMenuCommandID, 3);
  AEDescHolder deepList = List({deep.desc.get()});
  inner.Name(typeUnicodeText, Utxt(u"inner")).Param(keyContextualMenuSubmenu, *deepList.get());
  AEDescHolder aList = List({inner.desc.get()});
  a.Name(typeUnicodeText, Utxt(u"A")).Param(keyContextualMenuSubmenu, *aList.get());
  plain.Name(typeUnicodeText, Utxt(u"plain")).Number(keyContextualMenuCommandID, 1);
  AEDescHolder bList = List({plain.desc.get()});
  b.Name(typeUnicodeText, Utxt(u"B")).Param(keyContextualMenuSubmenu, *bList.get());
  AEDescHolder commands = List({a.desc.get(), plain.desc.get(), b.desc.get()});
  MenuHolder menu;
  ASSERT_EQ(BuildMenu(*commands.get(), &menu, nullptr), noErr);

  // Nobody listens yet.
  EXPECT_EQ(PopulateMenu(menu.get()), eventNotHandledErr);
  EXPECT_EQ(PopulateMenu(nullptr), paramErr);

  PopulateLog log;
  EventHandlerUPP upp = NewEventHandlerUPP(FillOnPopulate);
  const EventTypeSpec populate = {kEventClassMenu, kEventMenuPopulate};
  EventHandlerRef handler = nullptr;
  ASSERT_EQ(InstallEventHandler(GetApplicationEventTarget(), upp, 1, &populate, &log, &handler),
            noErr);
  VPCancelLatchSet(); // a key pressed earlier must not reach the plug-in
  EXPECT_EQ(OpenAllSubmenus(menu.get()), noErr);
  RemoveEventHandler(handler);
  DisposeEventHandlerUPP(upp);

  std::vector<MenuItem> shown;
  ASSERT_EQ(ReadMenu(menu.get(), &shown), noErr);
  const std::vector<MenuItem> expected = {
      Submenu("A", {Submenu("inner", {Item("deep", 3), Item("filled", 99)}), Item("filled", 99)}),
      Item("plain", 1), Submenu("B", {Item("plain", 1), Item("filled", 99)})};
  EXPECT_EQ(Describe(shown), Describe(expected));
  ASSERT_EQ(log.menus.size(), 3u) << "the top menu is not a submenu";
  MenuRef aMenu = nullptr, innerMenu = nullptr, bMenu = nullptr;
  GetMenuItemHierarchicalMenu(menu.get(), 1, &aMenu);
  GetMenuItemHierarchicalMenu(aMenu, 1, &innerMenu);
  GetMenuItemHierarchicalMenu(menu.get(), 3, &bMenu);
  EXPECT_EQ(log.menus, (std::vector<MenuRef>{aMenu, innerMenu, bMenu}));
  EXPECT_EQ(log.latchSet, (std::vector<bool>{false, false, false}));
}

// ---- Text and the scrap ----

TEST(Utf8FromUtxt, ReplacesWhatIsNotText) {
  struct Row {
    std::string bytes;
    std::string utf8;
  } rows[] = {
      {"", ""},
      {Utxt(u"A\u00e9\u20ac"), "A\u00e9\u20ac"},
      {Utxt(u"\U0001F600"), "\U0001F600"},
      {Utxt(u"a\xD800"
            u"b"),
       "a\uFFFD"
       "b"},
      {Utxt(u"\xDC80"), "\uFFFD"},
      {Utxt(u"a") + "z", "a\uFFFD"},
  };
  for (const Row &row : rows)
    EXPECT_EQ(Utf8FromUtxt(row.bytes), row.utf8);
}

TEST(Scrap, ReadsBackBothFlavorsExactly) {
  TempDir runtime;
  SavedEnvironment saved{"XDG_RUNTIME_DIR"};
  setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);

  ScrapText scrap;
  ASSERT_EQ(ClearCurrentScrap(), noErr);
  ASSERT_EQ(ReadScrap(&scrap), noErr);
  EXPECT_FALSE(scrap.unicode);
  EXPECT_FALSE(scrap.text);

  ScrapRef current = nullptr;
  ASSERT_EQ(GetCurrentScrap(&current), noErr);
  const std::string unicode = Utxt(u"1\u00a0KB\r");
  const std::string text = "1\xc2\xa0KB\r";
  ASSERT_EQ(PutScrapFlavor(current, kScrapFlavorTypeUnicode, 0, static_cast<Size>(unicode.size()),
                           unicode.data()),
            noErr);
  ASSERT_EQ(ReadScrap(&scrap), noErr);
  EXPECT_EQ(scrap.unicode, unicode);
  EXPECT_FALSE(scrap.text);
  ASSERT_EQ(
      PutScrapFlavor(current, kScrapFlavorTypeText, 0, static_cast<Size>(text.size()), text.data()),
      noErr);
  ASSERT_EQ(ReadScrap(&scrap), noErr);
  EXPECT_EQ(scrap.unicode, unicode);
  EXPECT_EQ(scrap.text, text);
}

} // namespace
