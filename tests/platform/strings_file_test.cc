// The strings-table parser: what each construct of the format yields, that
// a fault anywhere refuses the whole table with the line where it lies, and
// that no input (every cut of a valid table, allocation failures) crashes
// it or leaks.
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include <map>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Entries = std::map<std::u16string, std::u16string>;

std::u16string Units(CFStringRef s) {
  std::u16string out(static_cast<size_t>(CFStringGetLength(s)), u'\0');
  CFStringGetCharacters(s, CFRangeMake(0, static_cast<CFIndex>(out.size())),
                        reinterpret_cast<UniChar *>(out.data()));
  return out;
}

std::string ToUTF8(CFStringRef s) {
  char buf[512];
  if (!s || !CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingUTF8)) return "<none>";
  return buf;
}

struct Parsed {
  bool ok = false;
  Entries entries;
  std::string error; // "line N: reason" when refused
};

Parsed Parse(const std::string &bytes) {
  Parsed p;
  CFStringRef error = nullptr;
  CFDictionaryRef dict = VPStringsTableCreateFromData(reinterpret_cast<const UInt8 *>(bytes.data()),
                                                      static_cast<CFIndex>(bytes.size()), &error);
  if (!dict) {
    p.error = ToUTF8(error);
    if (error) CFRelease(error);
    return p;
  }
  p.ok = true;
  CFIndex n = CFDictionaryGetCount(dict);
  std::vector<const void *> keys(static_cast<size_t>(n)), values(static_cast<size_t>(n));
  CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
  for (CFIndex i = 0; i < n; ++i)
    p.entries[Units(static_cast<CFStringRef>(keys[i]))] =
        Units(static_cast<CFStringRef>(values[i]));
  CFRelease(dict);
  return p;
}

// Text as UTF-16 bytes with a byte-order mark.
std::string UTF16(const std::u16string &text, bool bigEndian) {
  std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t u : text) {
    char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
  }
  return out;
}

struct ParseCase {
  const char *name;
  std::string input;
  Entries expected;            // when accepted
  long errorLine = -1;         // -1: accepted; else the line the fault is reported on
  const char *reasonPart = ""; // text the reason contains
};

const std::vector<ParseCase> &Cases() {
  static const std::vector<ParseCase> cases = {
      {"Basic", R"("a" = "b";)", {{u"a", u"b"}}},
      {"SeveralEntries", "\"a\" = \"1\";\n\"b\" = \"2\";\n", {{u"a", u"1"}, {u"b", u"2"}}},
      {"EmptyTable", "", {}},
      {"OnlyComments", "/* nothing */\n// here\n", {}},
      {"SimpleEscapes", R"("k" = "q\" b\\ s\' n\n t\t r\r";)", {{u"k", u"q\" b\\ s' n\n t\t r\r"}}},
      {"OctalEscapes",
       R"("k" = "\101\0x\377";)",
       {{u"k", std::u16string(u"A") + u'\0' + u"x\u00FF"}}},
      {"UnicodeEscapes", R"("k" = "\u00e9\U20AC";)", {{u"k", u"\u00E9\u20AC"}}},
      {"SurrogatePairEscapes", R"("k" = "\uD83D\uDE00";)", {{u"k", u"\U0001F600"}}},
      {"Comments",
       "/* block\n comment */ \"a\" = /* inside */ \"b\"; // line\n\"c\"=\"d\";",
       {{u"a", u"b"}, {u"c", u"d"}}},
      {"CommentMarkersInsideStrings",
       R"("a" = "/* not */ // either";)",
       {{u"a", u"/* not */ // either"}}},
      {"Unquoted", "key_1.x-y = Value2;", {{u"key_1.x-y", u"Value2"}}},
      {"KeyIsItsOwnValue", R"("self"; plain;)", {{u"self", u"self"}, {u"plain", u"plain"}}},
      {"WhitespaceAnywhere", "\n\t \"a\"\n=\r\n\"b\"\f\n;\v\n", {{u"a", u"b"}}},
      {"StringSpansLines", "\"a\" = \"x\ny\";", {{u"a", u"x\ny"}}},
      {"UTF8Text",
       "\"Gr\xC3\xB6\xC3\x9F"
       "e\" = \"\xE3\x82\xB5\xE3\x82\xA4\xE3\x82\xBA\xF0\x9F\x98\x80\";",
       {{u"Gr\u00F6\u00DFe", u"\u30B5\u30A4\u30BA\U0001F600"}}},
      {"UTF8ByteOrderMark", "\xEF\xBB\xBF\"a\"=\"b\";", {{u"a", u"b"}}},
      {"UTF16LittleEndian",
       UTF16(u"/* c */\n\"Gr\u00F6\u00DFe\" = \"\U0001F600\";", false),
       {{u"Gr\u00F6\u00DFe", u"\U0001F600"}}},
      {"UTF16BigEndian",
       UTF16(u"\"a\" = \"\u20AC\";\n\"b\";", true),
       {{u"a", u"\u20AC"}, {u"b", u"b"}}},
      {"LaterDefinitionWins", R"("a" = "1"; "b" = "x"; "a" = "2";)", {{u"a", u"2"}, {u"b", u"x"}}},
      {"EmptyKeyAndValue", R"("" = "";)", {{u"", u""}}},

      {"UnterminatedString", "\"a\" = \"b;\n\n", {}, 1, "unterminated string"},
      {"UnterminatedStringAfterBackslash", "\n\"a\" = \"b\\", {}, 2, "unterminated string"},
      {"MissingEquals", "\"a\" \"b\";", {}, 1, "'='"},
      {"MissingSemicolon", "\"a\" = \"b\"\n\"c\" = \"d\";", {}, 1, "';'"},
      {"MissingSemicolonAtEnd", "\"a\" = \"b\";\n\"c\" = \"d\"", {}, 2, "';'"},
      {"MissingValue", "\"a\" = ;", {}, 1, "value"},
      {"KeyAtEndOfFile", "\"a\" = \"b\";\n\n\"c\"", {}, 3, "'='"},
      {"UnknownEscape", "\n\"a\" = \"\\q\";", {}, 2, "escape"},
      {"ShortUnicodeEscape", "\"a\" = \"\\u12\";", {}, 1, "four hexadecimal"},
      {"LoneHighSurrogateEscape", "\"a\" = \"\\uD800x\";", {}, 1, "surrogate"},
      {"HighSurrogateThenNonLow", "\"a\" = \"\\uD800\\u0041\";", {}, 1, "surrogate"},
      {"LoneLowSurrogateEscape", "\n\n\"a\" = \"\\uDC00\";", {}, 3, "surrogate"},
      {"OctalAbove377", "\"a\" = \"\\400\";", {}, 1, "octal"},
      {"UnterminatedComment", "\"a\" = \"b\";\n\n/* open\n\n", {}, 3, "comment"},
      {"StrayCharacter", "\"a\" = \"b\";\n}", {}, 2, "key"},
      {"InvalidUTF8", "\"a\" = \"\xFF\";", {}, 1, "UTF-8"},
      {"InvalidUTF8OnLaterLine",
       "\"a\" = \"b\";\r\n\"c\" = \"d\";\r\n\"e\" = \"\xC3\";",
       {},
       3,
       "UTF-8"},
      {"OverlongUTF8", "\"a\" = \"\xC0\xAF\";", {}, 1, "UTF-8"},
      {"EncodedSurrogateUTF8", "\"a\" = \"\xED\xA0\x80\";", {}, 1, "UTF-8"},
      {"UTF16OddLength", UTF16(u"\"a\" = \"b\";\n", false) + "x", {}, 2, "odd"},
      {"UTF16LoneSurrogate", UTF16(u"\"a\" = \"b\";\n\"c\" = \"\xD800\";", true), {}, 2, "UTF-16"},
      {"UTF16WithoutByteOrderMark", std::string("\"\0a\0\"\0", 6), {}, 1, "byte-order mark"},
      {"CarriageReturnsCountAsLines", "\"a\"=\"b\";\r\"c\"=\"d\";\r\"e\" \"f\";", {}, 3, "'='"},
  };
  return cases;
}

class StringsTableParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(StringsTableParse, YieldsEntriesOrRefusesWithTheLine) {
  const ParseCase &c = GetParam();
  Parsed p = Parse(c.input);
  if (c.errorLine < 0) {
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.entries, c.expected);
    return;
  }
  ASSERT_FALSE(p.ok);
  std::string prefix = "line " + std::to_string(c.errorLine) + ": ";
  EXPECT_EQ(p.error.substr(0, prefix.size()), prefix) << p.error;
  EXPECT_NE(p.error.find(c.reasonPart), std::string::npos) << p.error;
}

INSTANTIATE_TEST_SUITE_P(Table, StringsTableParse, ::testing::ValuesIn(Cases()),
                         [](const auto &row) { return std::string(row.param.name); });

TEST(StringsTable, OversizedInputIsRefusedWhole) {
  std::string big(4u << 20, ' ');
  big += "\"a\" = \"b\";";
  Parsed p = Parse(big);
  EXPECT_FALSE(p.ok);
  EXPECT_NE(p.error.find("4 MiB"), std::string::npos) << p.error;
  EXPECT_TRUE(Parse(std::string((4u << 20) - 16, ' ') + "\"a\" = \"b\";").ok);
}

TEST(StringsTable, EveryCutOfAValidTableParsesOrIsRefusedWithinIt) {
  const std::string whole = UTF16(u"/* x */ \"k\\u00e9\" = \"v\\n\\101\";\n// c\nbare;\n", false);
  const std::string utf8 = "\xEF\xBB\xBF/* x */ \"k\xC3\xA9\" = \"v\\U00e9\\\"\";\n// c\nbare;\n";
  for (const std::string *text : {&whole, &utf8}) {
    for (size_t cut = 0; cut <= text->size(); ++cut) {
      Parsed p = Parse(text->substr(0, cut));
      if (p.ok) continue;
      // "line N: ..." with N within the three lines of the text.
      ASSERT_EQ(p.error.rfind("line ", 0), 0u) << cut << ": " << p.error;
      long line = std::stol(p.error.substr(5));
      EXPECT_GE(line, 1) << cut;
      EXPECT_LE(line, 4) << cut;
    }
  }
}

TEST(StringsTable, NullOrNegativeInputIsRefusedWithoutReason) {
  CFStringRef error = CFSTR("unchanged");
  EXPECT_EQ(VPStringsTableCreateFromData(nullptr, 4, &error), nullptr);
  EXPECT_EQ(error, nullptr);
  EXPECT_EQ(VPStringsTableCreateFromData(reinterpret_cast<const UInt8 *>("x"), -1, nullptr),
            nullptr);
  CFDictionaryRef empty = VPStringsTableCreateFromData(nullptr, 0, nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(CFDictionaryGetCount(empty), 0);
  CFRelease(empty);
}

TEST(StringsTable, AllocationFailuresGiveNullWithoutReasonAndLeakNothing) {
  const std::string good = "\"a\" = \"1\";\n\"b\" = \"\\u00e9\";\n\"a\" = \"2\";\nc;\n";
  const std::string bad = "\"a\" = \"1\";\n\"b\" = \"\\q\";\n";
  for (bool repeat : {false, true}) {
    int runs = vantlow_test::SweepAllocationFailures(
        [&](long) {
          CFStringRef error = nullptr;
          CFDictionaryRef dict =
              VPStringsTableCreateFromData(reinterpret_cast<const UInt8 *>(good.data()),
                                           static_cast<CFIndex>(good.size()), &error);
          EXPECT_EQ(error, nullptr);
          if (dict) {
            EXPECT_EQ(CFDictionaryGetCount(dict), 3);
            CFRelease(dict);
          }
        },
        repeat);
    EXPECT_GT(runs, 10) << "the sweep reached too few allocations";
    runs = vantlow_test::SweepAllocationFailures(
        [&](long) {
          CFStringRef error = nullptr;
          CFDictionaryRef dict =
              VPStringsTableCreateFromData(reinterpret_cast<const UInt8 *>(bad.data()),
                                           static_cast<CFIndex>(bad.size()), &error);
          EXPECT_EQ(dict, nullptr);
          if (error) {
            EXPECT_EQ(ToUTF8(error).rfind("line 2: ", 0), 0u);
            CFRelease(error);
          }
        },
        repeat);
    EXPECT_GT(runs, 3) << "the sweep reached too few allocations";
  }
}

} // namespace
