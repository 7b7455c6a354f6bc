// What `vantlow` prints: the menu as text in each style, the JSON object
// read back against its schema, and the text conversions under both (bytes
// that are not UTF-8, control characters, Mac line ends).
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "display_text.h"
#include "menu_items.h"
#include "menu_model.h"
#include "named_rows.h"
#include "output.h"

namespace {

using vantlow::host::ChosenReport;
using vantlow::host::CopiedText;
using vantlow::host::MenuItem;
using vantlow::host::MenuText;
using vantlow::host::PrintableText;
using vantlow::host::ReportJson;
using vantlow::host::RunReport;
using vantlow::host::TextStyle;
using vantlow::host::UnixLineEnds;
using vantlow::host::ValidUtf8;
using namespace vantlow_test;
using vantlow_test::PrintTo; // found beside the rows, for GoogleTest

// A menu with one of everything: a submenu holding items, a separator, a
// hidden item, a disabled item, a section header and a nested submenu, and
// an item after it at the top.
std::vector<MenuItem> SampleMenu() {
  return {Submenu("Sizes", {Item("3 files", 2000), Item("-", 0, kMenuItemAttrSeparator),
                            Item("Copy All Sizes", 2004), Item("secret", 7, kMenuItemAttrHidden),
                            Item("greyed", 8, kMenuItemAttrDisabled),
                            Item("cannot scan 1 folder(s)", 0, kMenuItemAttrSectionHeader),
                            Submenu("Deeper", {Item("inner", 9)})}),
          Item("Top", 1)};
}

// ---- The menu as text ----

struct TextCase {
  const char *name;
  TextStyle style;
  std::string expected;
};

const TextCase kTextCases[] = {
    {"PlainUnicode",
     {false, true},
     "Sizes\n"
     "  3 files\n"
     "  ────\n"
     "  Copy All Sizes\n"
     "  greyed\n"
     "  ── cannot scan 1 folder(s) ──\n"
     "  Deeper\n"
     "    inner\n"
     "Top\n"},
    {"PlainAscii",
     {false, false},
     "Sizes\n"
     "  3 files\n"
     "  ----\n"
     "  Copy All Sizes\n"
     "  greyed\n"
     "  -- cannot scan 1 folder(s) --\n"
     "  Deeper\n"
     "    inner\n"
     "Top\n"},
    {"Terminal",
     {true, true},
     "\x1b[1mSizes\x1b[0m\n"
     "  3 files\n"
     "  \x1b[2m────\x1b[0m\n"
     "  Copy All Sizes\n"
     "  \x1b[2mgreyed\x1b[0m\n"
     "  \x1b[1mcannot scan 1 folder(s)\x1b[0m\n"
     "  \x1b[1mDeeper\x1b[0m\n"
     "    inner\n"
     "Top\n"},
};

class MenuTextTest : public testing::TestWithParam<TextCase> {};

TEST_P(MenuTextTest, ShowsEveryKindOfItem) {
  EXPECT_EQ(MenuText(SampleMenu(), GetParam().style), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Styles, MenuTextTest, testing::ValuesIn(kTextCases), RowName());

TEST(MenuTextTest, TextCannotDriveTheTerminal) {
  // A title escape (OSC), a bare CSI in its C1 form, and a line break: a
  // menu line stays one line of plain characters.
  std::vector<MenuItem> menu = {Item("evil\x1b]0;owned\x07 name\xC2\x9B"
                                     "2J\nnext",
                                     1)};
  EXPECT_EQ(MenuText(menu, {false, true}), "evil ]0;owned  name 2J next\n");
}

// ---- Text conversions ----

struct Utf8Case {
  const char *name;
  std::string in;
  std::string out;
};

const std::string kFFFD = "\xEF\xBF\xBD";

const Utf8Case kUtf8Cases[] = {
    {"Ascii", "plain", "plain"},
    {"ValidMultibyte", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
     "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
    {"Latin1Byte", "caf\xE9", "caf" + kFFFD},
    {"StrayContinuation",
     "a\x80"
     "b",
     "a" + kFFFD + "b"},
    {"TruncatedAtEnd", "x\xE2\x82", "x" + kFFFD + kFFFD},
    {"OverlongSlash", "\xC0\xAF", kFFFD + kFFFD},
    {"EncodedSurrogate", "\xED\xA0\x80", kFFFD + kFFFD + kFFFD},
    {"AboveUnicode", "\xF4\x90\x80\x80", kFFFD + kFFFD + kFFFD + kFFFD},
    {"LastCodePointKept", "\xF4\x8F\xBF\xBF", "\xF4\x8F\xBF\xBF"},
};

class ValidUtf8Test : public testing::TestWithParam<Utf8Case> {};

TEST_P(ValidUtf8Test, ReplacesEachByteThatIsNotText) {
  EXPECT_EQ(ValidUtf8(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Table, ValidUtf8Test, testing::ValuesIn(kUtf8Cases), RowName());

TEST(CopiedTextTest, MacLineEndsBecomeLineEndsAndTheLastLineIsEnded) {
  EXPECT_EQ(UnixLineEnds("a\rb\r\nc\n\r"), "a\nb\nc\n\n");
  EXPECT_EQ(CopiedText("one\rtwo\r"), "one\ntwo\n");
  EXPECT_EQ(CopiedText("Total: 3 KB"), "Total: 3 KB\n");
  EXPECT_EQ(CopiedText(""), "");
  EXPECT_EQ(CopiedText("tab\there\x1b[2J"), "tab\there [2J\n");
}

// ---- JSON ----

using Json = nlohmann::ordered_json;

std::vector<std::string> Keys(const Json &object) {
  std::vector<std::string> keys;
  for (auto it = object.begin(); it != object.end(); ++it)
    keys.push_back(it.key());
  return keys;
}

RunReport SampleReport() {
  RunReport report;
  report.selection = {"/tmp/caf\xE9", "/tmp/plain"};
  report.plugins = {{"org.example.first", 0}, {"org.vantlow.filesize", -43}};
  report.menu = SampleMenu();
  return report;
}

TEST(ReportJsonTest, FollowsTheSchema) {
  Json root = Json::parse(ReportJson(SampleReport()));
  EXPECT_EQ(Keys(root), (std::vector<std::string>{"selection", "plugins", "menu"}));
  EXPECT_EQ(root["selection"], Json({"/tmp/caf" + kFFFD, "/tmp/plain"}));
  EXPECT_EQ(root["plugins"], Json::parse(R"([{"identifier": "org.example.first", "status": 0},
                                              {"identifier": "org.vantlow.filesize", "status": -43}])"));

  const Json &sizes = root["menu"][0];
  EXPECT_EQ(Keys(sizes), (std::vector<std::string>{"text", "submenu"}));
  EXPECT_EQ(sizes["submenu"][0], Json::parse(R"({"text": "3 files", "command": 2000})"));
  EXPECT_EQ(sizes["submenu"][1], Json::parse(R"({"text": "-", "command": 0, "attributes": 64})"));
  EXPECT_EQ(sizes["submenu"][3]["attributes"], kMenuItemAttrHidden);
  EXPECT_EQ(sizes["submenu"][5]["attributes"], kMenuItemAttrSectionHeader);
  EXPECT_EQ(sizes["submenu"][6], Json::parse(R"({"text": "Deeper", "submenu": [
                                                  {"text": "inner", "command": 9}]})"));
  EXPECT_EQ(root["menu"][1], Json::parse(R"({"text": "Top", "command": 1})"));
}

TEST(ReportJsonTest, ChosenCarriesTheCopiedTextOrNull) {
  RunReport report = SampleReport();
  report.chosen = ChosenReport{2004, 0, std::string("a\rb\r")};
  Json root = Json::parse(ReportJson(report));
  EXPECT_EQ(Keys(root), (std::vector<std::string>{"selection", "plugins", "menu", "chosen"}));
  EXPECT_EQ(root["chosen"], Json::parse(R"({"command": 2004, "status": 0, "copied": "a\rb\r"})"));

  report.chosen = ChosenReport{2010, -128, std::nullopt};
  root = Json::parse(ReportJson(report));
  EXPECT_EQ(root["chosen"], Json::parse(R"({"command": 2010, "status": -128, "copied": null})"));
}

TEST(ReportJsonTest, TextThatIsNotUtf8StillGivesValidJson) {
  RunReport report;
  report.menu = {Item("name \xFF\xFE end", 1)};
  report.chosen = ChosenReport{1, 0, std::string("\xC3")};
  std::string text = ReportJson(report);
  EXPECT_EQ(ValidUtf8(text), text);
  Json root = Json::parse(text);
  EXPECT_EQ(root["menu"][0]["text"], "name " + kFFFD + kFFFD + " end");
  EXPECT_EQ(root["chosen"]["copied"], kFFFD);
}

} // namespace
