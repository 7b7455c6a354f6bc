// Character encodings for CFString: byte strings to UTF-16 units and single
// characters back to bytes. Mac OS Roman follows Apple's published mapping
// (0xC6 is U+2206 INCREMENT, 0xDB the euro sign, 0xF0 the Apple logo at the
// private-use U+F8FF); every other byte value maps one to one.
#include "text_codec.h"

#include <bit>

namespace vp::text {
namespace {

// Bytes 0x80..0xFF of Mac OS Roman.
constexpr char16_t kMacRomanUpper[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, // 80
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8, // 88
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, // 90
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, // 98
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF, // A0
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, // A8
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211, // B0
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, // B8
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, // C0
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153, // C8
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, // D0
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, // D8
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, // E0
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, // E8
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC, // F0
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7, // F8
};

constexpr bool kLittleEndianHost = std::endian::native == std::endian::little;

bool IsContinuation(unsigned char b) noexcept {
  return (b & 0xC0) == 0x80;
}

// Byte order of the UTF-16 form: true for little-endian.
bool LittleEndianFor(CFStringEncoding encoding) noexcept {
  switch (encoding) {
  case kCFStringEncodingUTF16BE:
    return false;
  case kCFStringEncodingUTF16LE:
    return true;
  default:
    return kLittleEndianHost;
  }
}

void PutUnit(char16_t u, bool little, unsigned char *out) noexcept {
  const unsigned char hi = static_cast<unsigned char>(u >> 8);
  const unsigned char lo = static_cast<unsigned char>(u & 0xFF);
  out[0] = little ? lo : hi;
  out[1] = little ? hi : lo;
}

bool DecodeUTF8(const unsigned char *bytes, std::size_t n, String16 &out) {
  const std::size_t start = out.size();
  for (std::size_t i = 0; i < n;) {
    char32_t cp = 0;
    const std::size_t len = DecodeUTF8Sequence(bytes + i, n - i, &cp);
    if (len == 0) {
      out.resize(start);
      return false;
    }
    AppendCodePoint(out, cp);
    i += len;
  }
  return true;
}

bool DecodeUTF16(CFStringEncoding encoding, const unsigned char *bytes, std::size_t n,
                 String16 &out) {
  if (n % 2 != 0) return false;
  bool little = LittleEndianFor(encoding);
  std::size_t i = 0;
  if (encoding == kCFStringEncodingUTF16 && n >= 2) {
    if (bytes[0] == 0xFE && bytes[1] == 0xFF) {
      little = false;
      i = 2;
    } else if (bytes[0] == 0xFF && bytes[1] == 0xFE) {
      little = true;
      i = 2;
    }
  }
  out.reserve(out.size() + (n - i) / 2);
  for (; i < n; i += 2) {
    const char16_t u = little ? static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8))
                              : static_cast<char16_t>((bytes[i] << 8) | bytes[i + 1]);
    out.push_back(u);
  }
  return true;
}

} // namespace

bool IsKnownEncoding(CFStringEncoding encoding) noexcept {
  switch (encoding) {
  case kCFStringEncodingMacRoman:
  case kCFStringEncodingASCII:
  case kCFStringEncodingISOLatin1:
  case kCFStringEncodingUTF8:
  case kCFStringEncodingUTF16:
  case kCFStringEncodingUTF16BE:
  case kCFStringEncodingUTF16LE:
    return true;
  default:
    return false;
  }
}

bool IsUTF16Encoding(CFStringEncoding encoding) noexcept {
  return encoding == kCFStringEncodingUTF16 || encoding == kCFStringEncodingUTF16BE ||
         encoding == kCFStringEncodingUTF16LE;
}

std::size_t DecodeUTF8Sequence(const unsigned char *p, std::size_t avail, char32_t *cp) noexcept {
  if (avail == 0) return 0;
  const unsigned char b0 = p[0];
  if (b0 < 0x80) {
    *cp = b0;
    return 1;
  }
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xBF; // allowed range of the second byte
  char32_t value;
  if (b0 < 0xC2) {
    return 0; // a continuation byte, or the start of an overlong 2-byte form
  } else if (b0 < 0xE0) {
    len = 2;
    value = b0 & 0x1F;
  } else if (b0 < 0xF0) {
    len = 3;
    value = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0; // overlong
    if (b0 == 0xED) hi = 0x9F; // surrogates
  } else if (b0 < 0xF5) {
    len = 4;
    value = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90; // overlong
    if (b0 == 0xF4) hi = 0x8F; // above U+10FFFF
  } else {
    return 0;
  }
  if (avail < len) return 0;
  if (p[1] < lo || p[1] > hi) return 0;
  value = (value << 6) | (p[1] & 0x3F);
  for (std::size_t k = 2; k < len; ++k) {
    if (!IsContinuation(p[k])) return 0;
    value = (value << 6) | (p[k] & 0x3F);
  }
  *cp = value;
  return len;
}

void AppendCodePoint(String16 &out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    const char16_t pair[2] = {static_cast<char16_t>(0xD800 + (cp >> 10)),
                              static_cast<char16_t>(0xDC00 + (cp & 0x3FF))};
    out.append(pair, 2);
  }
}

char32_t CharacterAt(const char16_t *units, std::size_t n, std::size_t i,
                     std::size_t *width) noexcept {
  const char16_t u = units[i];
  if (IsHighSurrogate(u) && i + 1 < n && IsLowSurrogate(units[i + 1])) {
    *width = 2;
    return 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
  }
  *width = 1;
  return u;
}

bool Decode(CFStringEncoding encoding, const unsigned char *bytes, std::size_t n, String16 &out) {
  switch (encoding) {
  case kCFStringEncodingUTF8:
    return DecodeUTF8(bytes, n, out);
  case kCFStringEncodingASCII:
    for (std::size_t i = 0; i < n; ++i)
      if (bytes[i] >= 0x80) return false;
    out.append(bytes, bytes + n);
    return true;
  case kCFStringEncodingISOLatin1:
    out.append(bytes, bytes + n);
    return true;
  case kCFStringEncodingMacRoman: {
    out.reserve(out.size() + n);
    for (std::size_t i = 0; i < n; ++i)
      out.push_back(MacRomanToUnicode(bytes[i]));
    return true;
  }
  case kCFStringEncodingUTF16:
  case kCFStringEncodingUTF16BE:
  case kCFStringEncodingUTF16LE:
    return DecodeUTF16(encoding, bytes, n, out);
  default:
    return false;
  }
}

std::size_t EncodeCharacter(CFStringEncoding encoding, char32_t c, unsigned char *out) noexcept {
  switch (encoding) {
  case kCFStringEncodingUTF8:
    if (IsSurrogate(c) || c > 0x10FFFF) return 0;
    if (c < 0x80) {
      out[0] = static_cast<unsigned char>(c);
      return 1;
    }
    if (c < 0x800) {
      out[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
      out[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
      return 2;
    }
    if (c < 0x10000) {
      out[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
      out[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      out[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
      return 3;
    }
    out[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 4;
  case kCFStringEncodingASCII:
    if (c >= 0x80) return 0;
    out[0] = static_cast<unsigned char>(c);
    return 1;
  case kCFStringEncodingISOLatin1:
    if (c >= 0x100) return 0;
    out[0] = static_cast<unsigned char>(c);
    return 1;
  case kCFStringEncodingMacRoman:
    return UnicodeToMacRoman(c, out) ? 1 : 0;
  case kCFStringEncodingUTF16:
  case kCFStringEncodingUTF16BE:
  case kCFStringEncodingUTF16LE: {
    const bool little = LittleEndianFor(encoding);
    if (c > 0x10FFFF) return 0;
    if (c < 0x10000) {
      PutUnit(static_cast<char16_t>(c), little, out);
      return 2;
    }
    const char32_t v = c - 0x10000;
    PutUnit(static_cast<char16_t>(0xD800 + (v >> 10)), little, out);
    PutUnit(static_cast<char16_t>(0xDC00 + (v & 0x3FF)), little, out + 2);
    return 4;
  }
  default:
    return 0;
  }
}

std::size_t ByteOrderMark(CFStringEncoding encoding, unsigned char *out) noexcept {
  if (encoding != kCFStringEncodingUTF16) return 0;
  PutUnit(0xFEFF, kLittleEndianHost, out);
  return 2;
}

char16_t MacRomanToUnicode(unsigned char byte) noexcept {
  return byte < 0x80 ? static_cast<char16_t>(byte) : kMacRomanUpper[byte - 0x80];
}

bool UnicodeToMacRoman(char32_t c, unsigned char *byte) noexcept {
  if (c < 0x80) {
    *byte = static_cast<unsigned char>(c);
    return true;
  }
  for (unsigned k = 0; k < 128; ++k) {
    if (kMacRomanUpper[k] == c) {
      *byte = static_cast<unsigned char>(0x80 + k);
      return true;
    }
  }
  return false;
}

} // namespace vp::text
