// The format engine behind CFStringCreateWithFormat: printf directives and
// %@, written out without any locale (a point as the decimal separator, no
// grouping), whatever setlocale chose. Formats come from localized strings
// tables, so they are data: each directive is checked against the kind of
// the argument it names, and one that cannot be honoured (its argument is
// missing or of another kind, its conversion unknown, its width absurd) is
// copied to the output as it stands. Arguments are never read past count.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "cf_string_internal.h"
#include "text_codec.h"

namespace {

using vp::String16;
using vp::String8;

// Widths and precisions above this are refused: text for people never needs
// them, and a wild format must not make megabytes of padding.
constexpr long kMaxField = 10000;
// Positional indexes and literal numbers stop growing here (then refused).
constexpr long kNumberCap = 1000000;

enum class Length { kNone, kChar, kShort, kLong, kLongLong, kSize, kMax, kPtrDiff, kLongDouble };

// Where a value comes from: the next argument in order, or a position (1-based).
struct Source {
  bool present = false; // a '*' (for width/precision) was written
  long position = 0;    // 0: the next argument in order
};

struct Directive {
  std::size_t end = 0; // one past the conversion character
  bool complete = false;
  long position = 0; // the value's argument position, 0 for the next one
  bool minus = false, plus = false, space = false, hash = false, zero = false;
  long width = 0;
  Source widthArg;
  bool hasPrecision = false;
  long precision = 0;
  Source precisionArg;
  Length length = Length::kNone;
  char16_t conversion = 0;
  bool tooBig = false; // a literal number beyond kMaxField
};

bool IsDigit(char16_t c) noexcept {
  return c >= u'0' && c <= u'9';
}

// Reads digits at f[i...]; the value saturates at kNumberCap.
long ReadNumber(const char16_t *f, std::size_t n, std::size_t &i) noexcept {
  long value = 0;
  while (i < n && IsDigit(f[i])) {
    value = std::min(kNumberCap, value * 10 + (f[i] - u'0'));
    ++i;
  }
  return value;
}

// "n$" at f[i...]: the position, with i moved past it; 0 (i unchanged) when
// there is none.
long ReadPosition(const char16_t *f, std::size_t n, std::size_t &i) noexcept {
  std::size_t k = i;
  if (k >= n || !IsDigit(f[k]) || f[k] == u'0') return 0;
  const long value = ReadNumber(f, n, k);
  if (k >= n || f[k] != u'$') return 0;
  i = k + 1;
  return value;
}

// Parses the directive whose '%' is at f[start].
Directive Parse(const char16_t *f, std::size_t n, std::size_t start) noexcept {
  Directive d;
  std::size_t i = start + 1;
  d.position = ReadPosition(f, n, i);
  for (; i < n; ++i) {
    const char16_t c = f[i];
    if (c == u'-')
      d.minus = true;
    else if (c == u'+')
      d.plus = true;
    else if (c == u' ')
      d.space = true;
    else if (c == u'#')
      d.hash = true;
    else if (c == u'0')
      d.zero = true;
    else if (c == u'\'')
      continue; // grouping: none without a locale
    else
      break;
  }
  if (i < n && f[i] == u'*') {
    ++i;
    d.widthArg.present = true;
    d.widthArg.position = ReadPosition(f, n, i);
  } else {
    d.width = ReadNumber(f, n, i);
    if (d.width > kMaxField) d.tooBig = true;
  }
  if (i < n && f[i] == u'.') {
    ++i;
    d.hasPrecision = true;
    if (i < n && f[i] == u'*') {
      ++i;
      d.precisionArg.present = true;
      d.precisionArg.position = ReadPosition(f, n, i);
    } else {
      d.precision = ReadNumber(f, n, i);
      if (d.precision > kMaxField) d.tooBig = true;
    }
  }
  if (i < n) {
    switch (f[i]) {
    case u'h':
      ++i;
      d.length = Length::kShort;
      if (i < n && f[i] == u'h') {
        ++i;
        d.length = Length::kChar;
      }
      break;
    case u'l':
      ++i;
      d.length = Length::kLong;
      if (i < n && f[i] == u'l') {
        ++i;
        d.length = Length::kLongLong;
      }
      break;
    case u'q':
      ++i;
      d.length = Length::kLongLong;
      break;
    case u'z':
      ++i;
      d.length = Length::kSize;
      break;
    case u'j':
      ++i;
      d.length = Length::kMax;
      break;
    case u't':
      ++i;
      d.length = Length::kPtrDiff;
      break;
    case u'L':
      ++i;
      d.length = Length::kLongDouble;
      break;
    default:
      break;
    }
  }
  if (i < n) {
    d.conversion = f[i];
    d.complete = true;
    d.end = i + 1;
  } else {
    d.end = n;
  }
  return d;
}

bool IsInteger(const VPFormatArg &a) noexcept {
  return a.kind == kVPFormatArgSigned || a.kind == kVPFormatArgUnsigned;
}

// The argument's bits as C passes them: a signed value in two's complement.
unsigned long long RawInteger(const VPFormatArg &a) noexcept {
  return a.kind == kVPFormatArgSigned ? static_cast<unsigned long long>(a.value.s) : a.value.u;
}

void AppendASCII(String16 &out, std::string_view text) {
  for (char c : text)
    out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
}

void AppendRepeated(String16 &out, char16_t c, long count) {
  if (count > 0) out.append(static_cast<std::size_t>(count), c);
}

// prefix (sign, "0x"), then zeros, then body, padded to the width: spaces on
// the left, or on the right with '-', or zeros after the prefix with '0'
// when zeroPad.
void EmitNumber(String16 &out, const Directive &d, std::string_view prefix, long zeros,
                std::string_view body, bool zeroPad) {
  const long length = static_cast<long>(prefix.size() + body.size()) + std::max(zeros, 0L);
  const long pad = d.width > length ? d.width - length : 0;
  const bool padZeros = zeroPad && d.zero && !d.minus;
  if (!d.minus && !padZeros) AppendRepeated(out, u' ', pad);
  AppendASCII(out, prefix);
  if (padZeros) AppendRepeated(out, u'0', pad);
  AppendRepeated(out, u'0', zeros);
  AppendASCII(out, body);
  if (d.minus) AppendRepeated(out, u' ', pad);
}

void EmitText(String16 &out, const Directive &d, const char16_t *text, std::size_t count) {
  const long pad = d.width > static_cast<long>(count) ? d.width - static_cast<long>(count) : 0;
  if (!d.minus) AppendRepeated(out, u' ', pad);
  out.append(text, count);
  if (d.minus) AppendRepeated(out, u' ', pad);
}

// At most `precision` units of text when one is given, never half a pair.
std::size_t Clip(const Directive &d, const char16_t *text, std::size_t count) noexcept {
  if (!d.hasPrecision || static_cast<std::size_t>(d.precision) >= count) return count;
  std::size_t keep = static_cast<std::size_t>(d.precision);
  if (keep > 0 && vp::text::IsHighSurrogate(text[keep - 1]) && vp::text::IsLowSurrogate(text[keep]))
    --keep;
  return keep;
}

void FormatInteger(String16 &out, const Directive &d, unsigned long long raw) {
  const char16_t conv = d.conversion;
  const bool isSigned = conv == u'd' || conv == u'i';
  bool negative = false;
  unsigned long long magnitude;
  if (isSigned) {
    long long v;
    switch (d.length) {
    case Length::kChar:
      v = static_cast<signed char>(raw);
      break;
    case Length::kShort:
      v = static_cast<short>(raw);
      break;
    case Length::kNone:
      v = static_cast<int>(raw);
      break;
    default:
      v = static_cast<long long>(raw);
      break;
    }
    negative = v < 0;
    magnitude =
        negative ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
  } else {
    switch (d.length) {
    case Length::kChar:
      magnitude = static_cast<unsigned char>(raw);
      break;
    case Length::kShort:
      magnitude = static_cast<unsigned short>(raw);
      break;
    case Length::kNone:
      magnitude = static_cast<unsigned int>(raw);
      break;
    default:
      magnitude = raw;
      break;
    }
  }
  const int base = conv == u'o' ? 8 : (conv == u'x' || conv == u'X') ? 16 : 10;
  char digits[32];
  std::size_t count = 0;
  // A precision of 0 prints no digit for the value 0.
  if (!(d.hasPrecision && d.precision == 0 && magnitude == 0)) {
    count = static_cast<std::size_t>(
        std::to_chars(digits, digits + sizeof digits, magnitude, base).ptr - digits);
    if (conv == u'X')
      for (std::size_t k = 0; k < count; ++k)
        if (digits[k] >= 'a' && digits[k] <= 'f')
          digits[k] = static_cast<char>(digits[k] - 'a' + 'A');
  }
  long zeros = d.hasPrecision ? d.precision - static_cast<long>(count) : 0;
  if (conv == u'o' && d.hash && zeros <= 0 && (count == 0 || digits[0] != '0')) zeros = 1;
  std::string_view prefix;
  if (isSigned) {
    prefix = negative ? "-" : d.plus ? "+" : d.space ? " " : "";
  } else if (d.hash && magnitude != 0 && conv == u'x') {
    prefix = "0x";
  } else if (d.hash && magnitude != 0 && conv == u'X') {
    prefix = "0X";
  }
  EmitNumber(out, d, prefix, zeros, std::string_view(digits, count), !d.hasPrecision);
}

// std::to_chars into buf (resized to fit): never uses the locale.
std::string_view ToChars(String8 &buf, double value, std::chars_format format, int precision) {
  // Fixed notation of the largest double has 309 integer digits.
  buf.resize(static_cast<std::size_t>(precision) + 330);
  const auto result = std::to_chars(buf.data(), buf.data() + buf.size(), value, format, precision);
  // Cannot happen with the room above; fail the call rather than show junk.
  if (result.ec != std::errc()) throw std::length_error("number text does not fit");
  return std::string_view(buf.data(), static_cast<std::size_t>(result.ptr - buf.data()));
}

// The exponent of scientific text "d.ddde+XX".
int ExponentOf(std::string_view scientific) noexcept {
  const std::size_t e = scientific.find('e');
  int exponent = 0;
  std::from_chars(scientific.data() + e + 1 + (scientific[e + 1] == '+' ? 1 : 0),
                  scientific.data() + scientific.size(), exponent);
  return exponent;
}

void FormatDouble(String16 &out, const Directive &d, double value) {
  const char16_t conv = d.conversion;
  const bool upper = conv == u'F' || conv == u'E' || conv == u'G';
  const bool negative = std::signbit(value);
  const std::string_view sign = negative ? "-" : d.plus ? "+" : d.space ? " " : "";
  if (!std::isfinite(value)) {
    const bool nan = std::isnan(value);
    EmitNumber(out, d, sign, 0, nan ? (upper ? "NAN" : "nan") : (upper ? "INF" : "inf"), false);
    return;
  }
  const double magnitude = std::fabs(value);
  const int precision = d.hasPrecision ? static_cast<int>(d.precision) : 6;
  String8 buf;
  String8 text;
  bool scientific = false;
  bool stripZeros = false;
  std::string_view body;
  if (conv == u'f' || conv == u'F') {
    body = ToChars(buf, magnitude, std::chars_format::fixed, precision);
  } else if (conv == u'e' || conv == u'E') {
    body = ToChars(buf, magnitude, std::chars_format::scientific, precision);
    scientific = true;
  } else {
    // %g: style e with precision P - 1 gives the exponent X; style f with
    // precision P - 1 - X when P > X >= -4, else style e with P - 1.
    const int p = precision == 0 ? 1 : precision;
    body = ToChars(buf, magnitude, std::chars_format::scientific, p - 1);
    const int x = ExponentOf(body);
    if (p > x && x >= -4) {
      body = ToChars(buf, magnitude, std::chars_format::fixed, p - 1 - x);
    } else {
      scientific = true;
    }
    stripZeros = !d.hash;
  }
  text.assign(body);
  std::size_t mantissaEnd = scientific ? text.find('e') : text.size();
  const std::size_t point = text.find('.');
  if (stripZeros && point != String8::npos && point < mantissaEnd) {
    std::size_t keep = mantissaEnd;
    while (keep > point + 1 && text[keep - 1] == '0')
      --keep;
    if (keep == point + 1) keep = point;
    text.erase(keep, mantissaEnd - keep);
    mantissaEnd = keep;
  }
  if (d.hash && text.find('.') == String8::npos) text.insert(mantissaEnd, 1, '.');
  if (upper)
    for (char &c : text)
      if (c == 'e') c = 'E';
  EmitNumber(out, d, sign, 0, text, true);
}

void FormatPointer(String16 &out, const Directive &d, const void *p) {
  if (!p) {
    EmitNumber(out, d, "", 0, "(nil)", false);
    return;
  }
  char digits[24];
  const auto result =
      std::to_chars(digits, digits + sizeof digits, reinterpret_cast<std::uintptr_t>(p), 16);
  EmitNumber(out, d, "0x", 0,
             std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)), false);
}

void FormatCString(String16 &out, const Directive &d, const char *s) {
  if (!s) {
    EmitText(out, d, u"(null)", 6);
    return;
  }
  // With a precision, at most that many bytes are read (the text need not end
  // in a zero byte then), and a character cut by the limit is left out.
  std::size_t length;
  if (d.hasPrecision) {
    const std::size_t limit = static_cast<std::size_t>(d.precision);
    length = strnlen(s, limit);
    if (length == limit && length > 0) {
      const auto *u = reinterpret_cast<const unsigned char *>(s);
      std::size_t lead = length - 1;
      while (lead > 0 && length - lead < 4 && (u[lead] & 0xC0) == 0x80)
        --lead;
      const std::size_t need = u[lead] >= 0xF0 ? 4 : u[lead] >= 0xE0 ? 3 : u[lead] >= 0xC0 ? 2 : 1;
      if (need > length - lead) length = lead;
    }
  } else {
    length = std::strlen(s);
  }
  const String16 text = vp::DecodeFileName(std::string_view(s, length));
  EmitText(out, d, text.data(), text.size());
}

// %@: a string's own text, another object's description, "(null)" for null.
void FormatObject(String16 &out, const Directive &d, const void *object) {
  if (!object) {
    EmitText(out, d, u"(null)", 6);
    return;
  }
  if (const String16 *units = vp::Units(object)) {
    EmitText(out, d, units->data(), Clip(d, units->data(), units->size()));
    return;
  }
  const String16 text = vp::AsObject(object)->Describe();
  EmitText(out, d, text.data(), Clip(d, text.data(), text.size()));
}

// %c: the code point of an integer argument; false when it is not one.
bool FormatCharacter(String16 &out, const Directive &d, const VPFormatArg &a) {
  if (a.kind == kVPFormatArgSigned && (a.value.s < 0 || a.value.s > 0x10FFFF)) return false;
  if (a.kind == kVPFormatArgUnsigned && a.value.u > 0x10FFFF) return false;
  const char32_t cp = static_cast<char32_t>(RawInteger(a));
  if (vp::text::IsSurrogate(cp)) return false;
  String16 text;
  vp::text::AppendCodePoint(text, cp);
  EmitText(out, d, text.data(), text.size());
  return true;
}

class Formatter {
public:
  Formatter(const VPFormatArg *args, CFIndex count) noexcept
      : args_(args), count_(args && count > 0 ? static_cast<std::size_t>(count) : 0) {}

  String16 Run(const String16 &format) {
    String16 out;
    out.reserve(format.size() + 16);
    const char16_t *f = format.data();
    const std::size_t n = format.size();
    std::size_t i = 0;
    while (i < n) {
      const std::size_t percent = format.find(u'%', i);
      if (percent == String16::npos) {
        out.append(f + i, n - i);
        break;
      }
      out.append(f + i, percent - i);
      const Directive d = Parse(f, n, percent);
      if (!Apply(out, d)) out.append(f + percent, d.end - percent); // as it stands
      i = d.end;
    }
    return out;
  }

private:
  // The argument at a position (1-based), or the next one in order; null
  // when there is none.
  const VPFormatArg *Take(long position) noexcept {
    const std::size_t index = position > 0 ? static_cast<std::size_t>(position - 1) : next_++;
    return index < count_ ? &args_[index] : nullptr;
  }

  // An integer width or precision from the arguments; false when missing,
  // not an integer or beyond kMaxField. A negative width means '-' and its
  // magnitude; a negative precision means none.
  bool TakeField(const Source &source, long &value) noexcept {
    const VPFormatArg *a = Take(source.position);
    if (!a || !IsInteger(*a)) return false;
    if (a->kind == kVPFormatArgUnsigned) {
      if (a->value.u > static_cast<unsigned long long>(kMaxField)) return false;
      value = static_cast<long>(a->value.u);
    } else {
      if (a->value.s > kMaxField) return false;
      value = a->value.s < -kMaxField ? -kMaxField - 1 : static_cast<long>(a->value.s);
    }
    return true;
  }

  // Writes the directive's text; false when it must be copied as it stands.
  bool Apply(String16 &out, Directive d) {
    if (!d.complete) return false;
    if (d.conversion == u'%') {
      out.push_back(u'%');
      return true;
    }
    static constexpr std::u16string_view kKnown = u"diuoxXcsfFeEgGp@";
    if (kKnown.find(d.conversion) == std::u16string_view::npos) return false;
    // Arguments are taken in C's order (width, precision, value) even when
    // the directive fails, so later directives still meet their own.
    bool ok = !d.tooBig;
    if (d.widthArg.present) {
      long w = 0;
      if (TakeField(d.widthArg, w)) {
        if (w < 0) {
          if (w < -kMaxField) ok = false;
          d.minus = true;
          w = -w;
        }
        d.width = w;
      } else {
        ok = false;
      }
    }
    if (d.precisionArg.present) {
      long p = 0;
      if (TakeField(d.precisionArg, p)) {
        d.hasPrecision = p >= 0;
        d.precision = p >= 0 ? p : 0;
      } else {
        ok = false;
      }
    }
    const VPFormatArg *a = Take(d.position);
    if (!ok || !a) return false;
    switch (d.conversion) {
    case u'd':
    case u'i':
    case u'u':
    case u'o':
    case u'x':
    case u'X':
      if (!IsInteger(*a)) return false;
      FormatInteger(out, d, RawInteger(*a));
      return true;
    case u'c':
      return IsInteger(*a) && FormatCharacter(out, d, *a);
    case u'f':
    case u'F':
    case u'e':
    case u'E':
    case u'g':
    case u'G':
      if (a->kind != kVPFormatArgDouble) return false;
      FormatDouble(out, d, a->value.d);
      return true;
    case u's':
      if (a->kind != kVPFormatArgCString) return false;
      FormatCString(out, d, a->value.str);
      return true;
    case u'@':
      if (a->kind != kVPFormatArgObject) return false;
      FormatObject(out, d, a->value.ptr);
      return true;
    case u'p':
      if (a->kind != kVPFormatArgPointer && a->kind != kVPFormatArgObject &&
          a->kind != kVPFormatArgCString)
        return false;
      FormatPointer(out, d, a->kind == kVPFormatArgCString ? a->value.str : a->value.ptr);
      return true;
    default:
      return false;
    }
  }

  const VPFormatArg *args_;
  std::size_t count_;
  std::size_t next_ = 0;
};

} // namespace

extern "C" CFStringRef VPStringCreateWithFormatArgs(CFAllocatorRef, CFDictionaryRef,
                                                    CFStringRef format, const VPFormatArg *args,
                                                    CFIndex count) noexcept {
  const String16 *units = vp::Units(format);
  if (!units) return nullptr;
  return vp::Edge<CFStringRef>(nullptr, [&] {
    Formatter formatter(args, count);
    return vp::NewString(formatter.Run(*units));
  });
}
