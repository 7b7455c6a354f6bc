// The character encodings a CFString converts to and from: UTF-8, ASCII, ISO
// Latin 1, Mac OS Roman and the three UTF-16 forms. Strings are held as
// UTF-16 units; these functions move between units and bytes one character at
// a time so that CFStringGetBytes can stop at a character boundary, and decode
// whole byte strings for the Create functions. Internal to the platform.
#pragma once

#include <cstddef>
#include <cstdint>

#include <CoreFoundation/CFString.h>

#include "alloc.h"

namespace vp::text {

inline constexpr char32_t kNoCharacter = 0xFFFFFFFF;

inline bool IsHighSurrogate(char32_t u) noexcept {
  return u >= 0xD800 && u <= 0xDBFF;
}
inline bool IsLowSurrogate(char32_t u) noexcept {
  return u >= 0xDC00 && u <= 0xDFFF;
}
inline bool IsSurrogate(char32_t u) noexcept {
  return u >= 0xD800 && u <= 0xDFFF;
}

// True for the encodings listed above.
bool IsKnownEncoding(CFStringEncoding encoding) noexcept;
bool IsUTF16Encoding(CFStringEncoding encoding) noexcept;

// One valid UTF-8 sequence at p (of at most avail bytes): its length (1 to 4)
// with the code point in *cp, or 0 when the bytes at p do not start one
// (a stray or missing continuation byte, an overlong form, an encoded
// surrogate, a value above U+10FFFF, or the end of the input).
std::size_t DecodeUTF8Sequence(const unsigned char *p, std::size_t avail, char32_t *cp) noexcept;

// Appends the UTF-16 form of a code point (one unit, or a surrogate pair
// above U+FFFF). Throws std::bad_alloc.
void AppendCodePoint(String16 &out, char32_t cp);

// The character starting at units[i] of n: a code point made of a valid
// surrogate pair (*width 2), or the unit itself (*width 1), lone surrogates
// included.
char32_t CharacterAt(const char16_t *units, std::size_t n, std::size_t i,
                     std::size_t *width) noexcept;

// Appends the decoded bytes to out; false, with out unchanged, when the bytes
// are not valid in the encoding or the encoding is unknown. For
// kCFStringEncodingUTF16 a leading byte-order mark chooses the byte order and
// is dropped; without one the units are in this machine's order. UTF-16BE
// and UTF-16LE have a fixed order and keep a leading U+FEFF as a character.
// UTF-16 input may hold lone surrogates: a string is a sequence of units.
// Throws std::bad_alloc.
bool Decode(CFStringEncoding encoding, const unsigned char *bytes, std::size_t n, String16 &out);

// The bytes of one character (a code point or a lone surrogate) in the
// encoding, written to out (room for 4); returns their count, or 0 when the
// encoding cannot hold the character. UTF-8 cannot hold a lone surrogate;
// the UTF-16 forms hold every unit (kCFStringEncodingUTF16 in this machine's
// order).
std::size_t EncodeCharacter(CFStringEncoding encoding, char32_t c, unsigned char *out) noexcept;

// The byte-order mark written before kCFStringEncodingUTF16 text as an
// external representation (this machine's order); 0 bytes for other
// encodings.
std::size_t ByteOrderMark(CFStringEncoding encoding, unsigned char *out) noexcept;

// The Unicode value of a Mac OS Roman byte, and back (0 when the character
// has no Mac OS Roman byte; byte 0 is U+0000).
char16_t MacRomanToUnicode(unsigned char byte) noexcept;
bool UnicodeToMacRoman(char32_t c, unsigned char *byte) noexcept;

} // namespace vp::text
