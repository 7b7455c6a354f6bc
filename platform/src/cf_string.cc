// CFString: immutable and mutable strings of UTF-16 units, the interned
// constants behind CFSTR, conversion to and from the byte encodings of
// text_codec.h, literal comparison, and the system encoding taken from the
// locale's character set.
#include <langinfo.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "cf_string_internal.h"
#include "text_codec.h"

namespace {

using vp::String16;

bool ValidRange(const String16 &units, CFRange range) noexcept {
  return range.location >= 0 && range.length >= 0 &&
         static_cast<std::size_t>(range.location) <= units.size() &&
         static_cast<std::size_t>(range.length) <= units.size() - range.location;
}

// The string when it may be changed: made by CFStringCreateMutable*, never a
// constant or an immutable string passed through a cast.
__CFString *Mutable(CFMutableStringRef s) noexcept {
  __CFString *m = vp::CastMutable<__CFString>(s);
  return m && m->mutable_ ? m : nullptr;
}

// Appends n units unless that would pass the string's maximum length; the
// string is unchanged when it throws (std::basic_string's strong guarantee).
void AppendUnits(__CFString *m, const char16_t *chars, std::size_t n) {
  if (m->maxLength > 0 && n > static_cast<std::size_t>(m->maxLength) - m->units.size()) return;
  m->units.append(chars, n);
}

// ---- Constants ----

// Text to constant, for the life of the process. Every change to the table
// and every constant is made inside a PermanentAllocationScope, so making a
// constant never fails under fault injection and never looks like a leak of
// the operation that first asked for it.
struct TextHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>()(text);
  }
};

struct ConstantTable {
  using Entry = std::pair<const vp::String8, const __CFString *>;
  std::mutex lock;
  std::unordered_map<vp::String8, const __CFString *, TextHash, std::equal_to<>,
                     vp::SeamAllocator<Entry>>
      strings;
};

ConstantTable &Constants() {
  // Never destroyed: constants stay valid while other statics are torn down.
  alignas(ConstantTable) static unsigned char storage[sizeof(ConstantTable)];
  static ConstantTable *table = ::new (storage) ConstantTable;
  return *table;
}

// ---- System encoding ----

// The character set's name in upper case without '-' and '_' (so "utf-8",
// "UTF8" and "ISO_8859-1" match), cut to fit out.
void NormalizeCharsetName(const char *name, char (&out)[32]) noexcept {
  std::size_t n = 0;
  for (const char *c = name; *c && n + 1 < sizeof out; ++c) {
    if (*c == '-' || *c == '_') continue;
    out[n++] = *c >= 'a' && *c <= 'z' ? static_cast<char>(*c - 'a' + 'A') : *c;
  }
  out[n] = '\0';
}

char16_t FoldASCII(char16_t u) noexcept {
  return u >= u'A' && u <= u'Z' ? static_cast<char16_t>(u - u'A' + u'a') : u;
}

} // namespace

bool __CFString::Equal(const vp::Object &other) const noexcept {
  return units == static_cast<const __CFString &>(other).units;
}

CFHashCode __CFString::Hash() const noexcept {
  // FNV-1a over the units: equal texts hash equally, whatever made them.
  std::uint64_t h = 1469598103934665603ULL;
  for (char16_t u : units) {
    h ^= static_cast<std::uint64_t>(u);
    h *= 1099511628211ULL;
  }
  return static_cast<CFHashCode>(h);
}

namespace vp {

CFStringRef NewString(String16 units) {
  return new __CFString(std::move(units));
}

CFStringRef NewStringFromUTF8(std::string_view utf8) {
  String16 units;
  if (!text::Decode(kCFStringEncodingUTF8, reinterpret_cast<const unsigned char *>(utf8.data()),
                    utf8.size(), units))
    throw std::invalid_argument("text is not valid UTF-8");
  return NewString(std::move(units));
}

} // namespace vp

extern "C" {

CFTypeID CFStringGetTypeID(void) noexcept {
  return __CFString::kTypeID;
}

CFStringRef VPStringMakeConstant(const char *utf8) noexcept {
  if (!utf8) utf8 = "";
  const std::string_view text(utf8);
  ConstantTable &table = Constants();
  std::lock_guard<std::mutex> hold(table.lock);
  auto found = table.strings.find(text);
  if (found != table.strings.end()) return found->second;
  try {
    vp::PermanentAllocationScope permanent;
    // Invalid UTF-8 in a constant keeps its bytes, as a file name would.
    __CFString *made = new __CFString(vp::DecodeFileName(text));
    made->MakeImmortal();
    table.strings.emplace(vp::String8(text), made);
    return made;
  } catch (...) {
    // Only a machine that is out of memory gets here; a constant string has
    // no failure result its callers could test.
    std::fputs("vantlow: out of memory making a constant string\n", stderr);
    std::abort();
  }
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef, const char *cStr,
                                      CFStringEncoding encoding) noexcept {
  if (!cStr) return nullptr;
  return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>(cStr),
                                 static_cast<CFIndex>(std::strlen(cStr)), encoding, false);
}

CFStringRef CFStringCreateWithBytes(CFAllocatorRef, const UInt8 *bytes, CFIndex numBytes,
                                    CFStringEncoding encoding, Boolean) noexcept {
  if (numBytes < 0 || (!bytes && numBytes > 0)) return nullptr;
  return vp::Edge<CFStringRef>(nullptr, [&]() -> CFStringRef {
    String16 units;
    static const unsigned char kNone = 0;
    if (!vp::text::Decode(encoding, bytes ? bytes : &kNone, static_cast<std::size_t>(numBytes),
                          units))
      return nullptr;
    return vp::NewString(std::move(units));
  });
}

CFStringRef CFStringCreateWithCharacters(CFAllocatorRef, const UniChar *chars,
                                         CFIndex numChars) noexcept {
  if (numChars < 0 || (!chars && numChars > 0)) return nullptr;
  return vp::Edge<CFStringRef>(nullptr, [&] {
    String16 units;
    if (numChars > 0) units.assign(reinterpret_cast<const char16_t *>(chars), numChars);
    return vp::NewString(std::move(units));
  });
}

CFStringRef CFStringCreateCopy(CFAllocatorRef, CFStringRef theString) noexcept {
  const String16 *units = vp::Units(theString);
  if (!units) return nullptr;
  return vp::Edge<CFStringRef>(nullptr, [&] { return vp::NewString(*units); });
}

CFStringRef CFStringCreateWithSubstring(CFAllocatorRef, CFStringRef str, CFRange range) noexcept {
  const String16 *units = vp::Units(str);
  if (!units || !ValidRange(*units, range)) return nullptr;
  return vp::Edge<CFStringRef>(nullptr, [&] {
    return vp::NewString(String16(units->data() + range.location, range.length));
  });
}

CFMutableStringRef CFStringCreateMutable(CFAllocatorRef, CFIndex maxLength) noexcept {
  if (maxLength < 0) return nullptr;
  return vp::Edge<CFMutableStringRef>(nullptr, [&] {
    __CFString *s = new __CFString(String16(), true);
    s->maxLength = maxLength;
    return s;
  });
}

CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef, CFIndex maxLength,
                                             CFStringRef theString) noexcept {
  const String16 *units = vp::Units(theString);
  if (!units || maxLength < 0) return nullptr;
  if (maxLength > 0 && units->size() > static_cast<std::size_t>(maxLength)) return nullptr;
  return vp::Edge<CFMutableStringRef>(nullptr, [&] {
    __CFString *s = new __CFString(*units, true);
    s->maxLength = maxLength;
    return s;
  });
}

void CFStringAppendCharacters(CFMutableStringRef theString, const UniChar *chars,
                              CFIndex numChars) noexcept {
  __CFString *m = Mutable(theString);
  if (!m || !chars || numChars <= 0) return;
  vp::EdgeVoid([&] {
    AppendUnits(m, reinterpret_cast<const char16_t *>(chars), static_cast<std::size_t>(numChars));
  });
}

void CFStringAppend(CFMutableStringRef theString, CFStringRef appendedString) noexcept {
  __CFString *m = Mutable(theString);
  const String16 *more = vp::Units(appendedString);
  if (!m || !more || more->empty()) return;
  vp::EdgeVoid([&] {
    if (more == &m->units) {
      const String16 copy(*more); // appending a string to itself
      AppendUnits(m, copy.data(), copy.size());
    } else {
      AppendUnits(m, more->data(), more->size());
    }
  });
}

void CFStringAppendCString(CFMutableStringRef theString, const char *cStr,
                           CFStringEncoding encoding) noexcept {
  __CFString *m = Mutable(theString);
  if (!m || !cStr) return;
  vp::EdgeVoid([&] {
    String16 decoded;
    if (!vp::text::Decode(encoding, reinterpret_cast<const unsigned char *>(cStr),
                          std::strlen(cStr), decoded))
      return;
    AppendUnits(m, decoded.data(), decoded.size());
  });
}

CFIndex CFStringGetLength(CFStringRef theString) noexcept {
  const String16 *units = vp::Units(theString);
  return units ? static_cast<CFIndex>(units->size()) : 0;
}

UniChar CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx) noexcept {
  const String16 *units = vp::Units(theString);
  if (!units || idx < 0 || static_cast<std::size_t>(idx) >= units->size()) return 0;
  return (*units)[idx];
}

void CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar *buffer) noexcept {
  const String16 *units = vp::Units(theString);
  if (!units || !buffer || !ValidRange(*units, range)) return;
  std::memcpy(buffer, units->data() + range.location, range.length * sizeof(UniChar));
}

CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                         UInt8 lossByte, Boolean isExternalRepresentation, UInt8 *buffer,
                         CFIndex maxBufLen, CFIndex *usedBufLen) noexcept {
  if (usedBufLen) *usedBufLen = 0;
  const String16 *units = vp::Units(theString);
  if (!units || !ValidRange(*units, range) || !vp::text::IsKnownEncoding(encoding)) return 0;
  // Without a buffer only the size is wanted, and no limit applies.
  const std::size_t limit = buffer ? static_cast<std::size_t>(std::max<CFIndex>(maxBufLen, 0))
                                   : std::numeric_limits<std::size_t>::max();
  std::size_t used = 0;
  if (isExternalRepresentation) {
    unsigned char mark[2];
    const std::size_t markLen = vp::text::ByteOrderMark(encoding, mark);
    if (markLen > limit) return 0;
    if (buffer) std::memcpy(buffer, mark, markLen);
    used = markLen;
  }
  const char16_t *p = units->data() + range.location;
  const std::size_t n = static_cast<std::size_t>(range.length);
  std::size_t i = 0;
  while (i < n) {
    std::size_t width = 1;
    const char32_t c = vp::text::CharacterAt(p, n, i, &width);
    unsigned char bytes[4];
    std::size_t count = vp::text::EncodeCharacter(encoding, c, bytes);
    if (count == 0) {
      if (lossByte == 0) break;
      bytes[0] = lossByte;
      count = 1;
    }
    if (count > limit - used) break; // never a partial character
    if (buffer) std::memcpy(buffer + used, bytes, count);
    used += count;
    i += width;
  }
  if (usedBufLen) *usedBufLen = static_cast<CFIndex>(used);
  return static_cast<CFIndex>(i);
}

Boolean CFStringGetCString(CFStringRef theString, char *buffer, CFIndex bufferSize,
                           CFStringEncoding encoding) noexcept {
  if (!buffer || bufferSize <= 0) return false;
  buffer[0] = '\0';
  const String16 *units = vp::Units(theString);
  // A C string has one zero byte at its end: no UTF-16, and no U+0000 inside.
  if (!units || vp::text::IsUTF16Encoding(encoding) || units->find(char16_t{0}) != String16::npos)
    return false;
  const CFIndex length = static_cast<CFIndex>(units->size());
  CFIndex used = 0;
  const CFIndex converted =
      CFStringGetBytes(theString, CFRangeMake(0, length), encoding, 0, false,
                       reinterpret_cast<UInt8 *>(buffer), bufferSize - 1, &used);
  if (converted != length) {
    buffer[0] = '\0';
    return false;
  }
  buffer[used] = '\0';
  return true;
}

CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) noexcept {
  if (length < 0 || !vp::text::IsKnownEncoding(encoding)) return kCFNotFound;
  // UTF-8 needs at most 3 bytes per unit (a surrogate pair, 2 units, takes 4).
  const CFIndex perUnit =
      encoding == kCFStringEncodingUTF8 ? 3 : (vp::text::IsUTF16Encoding(encoding) ? 2 : 1);
  if (length > std::numeric_limits<CFIndex>::max() / perUnit) return kCFNotFound;
  return length * perUnit;
}

CFComparisonResult CFStringCompare(CFStringRef theString1, CFStringRef theString2,
                                   CFStringCompareFlags compareOptions) noexcept {
  const String16 *a = vp::Units(theString1);
  const String16 *b = vp::Units(theString2);
  if (!a || !b) {
    // Not strings: ordered after nothing, so the answer is at least stable.
    if (!a && !b) return kCFCompareEqualTo;
    return a ? kCFCompareGreaterThan : kCFCompareLessThan;
  }
  const bool fold = (compareOptions & kCFCompareCaseInsensitive) != 0;
  const std::size_t n = std::min(a->size(), b->size());
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t x = fold ? FoldASCII((*a)[i]) : (*a)[i];
    const char16_t y = fold ? FoldASCII((*b)[i]) : (*b)[i];
    if (x != y) return x < y ? kCFCompareLessThan : kCFCompareGreaterThan;
  }
  if (a->size() == b->size()) return kCFCompareEqualTo;
  return a->size() < b->size() ? kCFCompareLessThan : kCFCompareGreaterThan;
}

Boolean CFStringHasPrefix(CFStringRef theString, CFStringRef prefix) noexcept {
  const String16 *s = vp::Units(theString);
  const String16 *p = vp::Units(prefix);
  return s && p && p->size() <= s->size() && std::equal(p->begin(), p->end(), s->begin());
}

Boolean CFStringHasSuffix(CFStringRef theString, CFStringRef suffix) noexcept {
  const String16 *s = vp::Units(theString);
  const String16 *p = vp::Units(suffix);
  return s && p && p->size() <= s->size() && std::equal(p->rbegin(), p->rend(), s->rbegin());
}

CFStringEncoding CFStringGetSystemEncoding(void) noexcept {
  const char *codeset = nl_langinfo(CODESET);
  if (!codeset) return kCFStringEncodingASCII;
  char normalized[32];
  NormalizeCharsetName(codeset, normalized);
  const std::string_view name(normalized);
  if (name == "UTF8") return kCFStringEncodingUTF8;
  if (name == "ISO88591" || name == "LATIN1") return kCFStringEncodingISOLatin1;
  // "ANSI_X3.4-1968" is what the C and POSIX locales report. Every other
  // character set of a Linux locale (ISO-8859-15, KOI8-R, EUC-JP, GB18030,
  // ...) contains ASCII unchanged, but none has an encoding here: ASCII is
  // used for them, so text stays readable and a character beyond ASCII
  // becomes the loss byte instead of bytes the terminal would misread.
  return kCFStringEncodingASCII;
}

CFStringRef CFCopyDescription(CFTypeRef cf) noexcept {
  if (!cf) return nullptr;
  return vp::Edge<CFStringRef>(nullptr,
                               [&] { return vp::NewString(vp::AsObject(cf)->Describe()); });
}

} // extern "C"
