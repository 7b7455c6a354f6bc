// The script lookup for the 'itxt' text type: a fixed script and language
// code for each system encoding we support. Linux has no script system, so
// these are documented constants (TextEncoding.h), not a locale query.
#include <Carbon/TextEncoding.h>

#include <vantlow/platform_testing.h>

namespace {

struct ScriptInfo {
  TextEncoding encoding;
  ScriptCode script;
  LangCode language;
};

constexpr ScriptInfo kScriptInfo[] = {
    {kTextEncodingMacRoman, smRoman, langEnglish},
    {kTextEncodingISOLatin1, smRoman, langEnglish},
    {kTextEncodingUS_ASCII, smRoman, langEnglish},
    {kTextEncodingUTF8, smUnicodeScript, langUnspecified},
    {kTextEncodingUnicodeDefault, smUnicodeScript, langUnspecified},
    {kTextEncodingUTF16BE, smUnicodeScript, langUnspecified},
    {kTextEncodingUTF16LE, smUnicodeScript, langUnspecified},
};

} // namespace

extern "C" OSStatus RevertTextEncodingToScriptInfo(TextEncoding iEncoding,
                                                   ScriptCode *oTextScriptID,
                                                   LangCode *oTextLanguageID,
                                                   Str255 oTextFontname) noexcept {
  // A lookup that cannot fail here could on other systems: under the fault
  // injector it fails like an allocation, so callers' failure paths run.
  if (!VPFaultProbe()) return memFullErr;
  for (const ScriptInfo &info : kScriptInfo) {
    if (info.encoding != iEncoding) continue;
    if (oTextScriptID) *oTextScriptID = info.script;
    if (oTextLanguageID) *oTextLanguageID = info.language;
    if (oTextFontname) oTextFontname[0] = 0;
    return noErr;
  }
  return kTextUnsupportedEncodingErr;
}
