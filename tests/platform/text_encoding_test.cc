// RevertTextEncodingToScriptInfo: the documented script and language codes,
// the refusal of other encodings, and that the system encoding CFString
// reports under the locales we run in is always one it knows.
#include <Carbon/TextEncoding.h>
#include <CoreFoundation/CFString.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include <clocale>
#include <cstring>
#include <string>

namespace {

struct ScriptCase {
  const char *name;
  TextEncoding encoding;
  OSStatus status;
  ScriptCode script;
  LangCode language;
};

class ScriptInfoTest : public ::testing::TestWithParam<ScriptCase> {};

constexpr ScriptCode kUntouchedScript = 0x5A5A;
constexpr LangCode kUntouchedLanguage = 0x3C3C;

TEST_P(ScriptInfoTest, GivesTheDocumentedCodes) {
  const ScriptCase &c = GetParam();
  ScriptCode script = kUntouchedScript;
  LangCode language = kUntouchedLanguage;
  Str255 font;
  std::memset(font, 'x', sizeof font);
  EXPECT_EQ(c.status, RevertTextEncodingToScriptInfo(c.encoding, &script, &language, font));
  EXPECT_EQ(c.script, script);
  EXPECT_EQ(c.language, language);
  // No encoding has a font: an empty Pascal string, or untouched on failure.
  EXPECT_EQ(c.status == noErr ? 0 : 'x', font[0]);
}

const ScriptCase kScriptCases[] = {
    {"MacRoman", kTextEncodingMacRoman, noErr, smRoman, langEnglish},
    {"ISOLatin1", kTextEncodingISOLatin1, noErr, smRoman, langEnglish},
    {"ASCII", kTextEncodingUS_ASCII, noErr, smRoman, langEnglish},
    {"UTF8", kCFStringEncodingUTF8, noErr, smUnicodeScript, langUnspecified},
    {"UTF16", kCFStringEncodingUTF16, noErr, smUnicodeScript, langUnspecified},
    {"UTF16BE", kCFStringEncodingUTF16BE, noErr, smUnicodeScript, langUnspecified},
    {"UTF16LE", kCFStringEncodingUTF16LE, noErr, smUnicodeScript, langUnspecified},
    {"WindowsLatin1", 0x0500, kTextUnsupportedEncodingErr, kUntouchedScript, kUntouchedLanguage},
    {"Invalid", kCFStringEncodingInvalidId, kTextUnsupportedEncodingErr, kUntouchedScript,
     kUntouchedLanguage},
};

INSTANTIATE_TEST_SUITE_P(Encodings, ScriptInfoTest, ::testing::ValuesIn(kScriptCases),
                         [](const auto &row) { return std::string(row.param.name); });

TEST(ScriptInfo, NullOutputsAreSkipped) {
  ScriptCode script = kUntouchedScript;
  EXPECT_EQ(noErr, RevertTextEncodingToScriptInfo(kTextEncodingUTF8, nullptr, nullptr, nullptr));
  EXPECT_EQ(noErr, RevertTextEncodingToScriptInfo(kTextEncodingUTF8, &script, nullptr, nullptr));
  EXPECT_EQ(smUnicodeScript, script);
}

// The 'itxt' text type asks for the codes of CFStringGetSystemEncoding: the
// lookup must know whatever that answers in a plain and in a UTF-8 locale.
TEST(ScriptInfo, KnowsTheSystemEncodingOfCommonLocales) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  for (const char *locale : {"C", "C.UTF-8"}) {
    if (!std::setlocale(LC_ALL, locale)) continue;
    CFStringEncoding encoding = CFStringGetSystemEncoding();
    EXPECT_EQ(noErr, RevertTextEncodingToScriptInfo(encoding, nullptr, nullptr, nullptr))
        << locale << " gives encoding " << std::hex << encoding;
  }
  std::setlocale(LC_ALL, saved.c_str());
}

TEST(ScriptInfo, InjectedFailureLeavesOutputsAlone) {
  ScriptCode script = kUntouchedScript;
  LangCode language = kUntouchedLanguage;
  VPFaultArm(1, FALSE);
  OSStatus status = RevertTextEncodingToScriptInfo(kTextEncodingUTF8, &script, &language, nullptr);
  VPFaultDisarm();
  EXPECT_EQ(memFullErr, status);
  EXPECT_EQ(kUntouchedScript, script);
  EXPECT_EQ(kUntouchedLanguage, language);
}

} // namespace
