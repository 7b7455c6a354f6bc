/* Text encodings and the script lookup behind the 'itxt' text type.
 *
 * A TextEncoding has the same numbering as a CFStringEncoding, so the value
 * CFStringGetSystemEncoding returns can be passed here directly. The system
 * encoding on Linux is the locale's character set; the lookup below answers
 * with a fixed script and language code for each encoding we support. */
#ifndef VANTLOW_CARBON_TEXTENCODING_H
#define VANTLOW_CARBON_TEXTENCODING_H

#include <Carbon/MacTypes.h>

VP_EXTERN_C_BEGIN

/* Encodings (the same values as the matching kCFStringEncoding constants). */
enum {
  kTextEncodingMacRoman = 0,
  kTextEncodingISOLatin1 = 0x0201,
  kTextEncodingUS_ASCII = 0x0600,
  kTextEncodingUnicodeDefault = 0x0100, /* UTF-16 in the host's byte order */
  kTextEncodingUTF8 = 0x08000100,
  kTextEncodingUTF16BE = 0x10000100,
  kTextEncodingUTF16LE = 0x14000100
};

/* Script codes. */
enum { smRoman = 0, smUnicodeScript = 0x7E };

/* Language codes. */
enum { langEnglish = 0, langUnspecified = 32767 };

enum { kTextUnsupportedEncodingErr = -8738 };

/* The script, language and font name that go with an encoding:
 *
 *   encoding                          script            language
 *   Mac Roman, ISO Latin 1, US-ASCII  smRoman (0)       langEnglish (0)
 *   UTF-8, UTF-16 (any byte order)    smUnicodeScript   langUnspecified
 *                                     (0x7E)            (32767)
 *
 * No encoding has a font of its own: the font name, when asked for, is the
 * empty Pascal string. Each out-parameter may be null and is then skipped.
 * Any other encoding gives kTextUnsupportedEncodingErr and leaves all three
 * outputs as they were (so does memFullErr, which only the fault injector of
 * the tests produces). */
VP_EXPORT OSStatus RevertTextEncodingToScriptInfo(TextEncoding iEncoding,
                                                  ScriptCode *oTextScriptID /* OUT */,
                                                  LangCode *oTextLanguageID /* OUT */,
                                                  Str255 oTextFontname /* OUT */) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
