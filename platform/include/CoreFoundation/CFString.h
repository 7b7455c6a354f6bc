/* Strings held as UTF-16 code units. File names travel through the lossless
 * byte mapping of CFStringCreateWithFileSystemRepresentation: valid UTF-8
 * decodes as usual and every byte of an invalid sequence becomes the lone
 * surrogate U+DC00 + byte, so any byte string round-trips exactly.
 *
 * Encodings: UTF-8, ASCII, ISO Latin 1, Mac OS Roman and the UTF-16 forms
 * below; any other value is refused (null, 0 or false). */
#ifndef VANTLOW_CFSTRING_H
#define VANTLOW_CFSTRING_H

#include <CoreFoundation/CFBase.h>

VP_EXTERN_C_BEGIN

typedef UInt32 CFStringEncoding;
enum {
  kCFStringEncodingMacRoman = 0,
  kCFStringEncodingASCII = 0x0600,
  kCFStringEncodingISOLatin1 = 0x0201,
  kCFStringEncodingUTF8 = 0x08000100,
  kCFStringEncodingUTF16 = 0x0100,
  kCFStringEncodingUnicode = 0x0100,
  kCFStringEncodingUTF16BE = 0x10000100,
  kCFStringEncodingUTF16LE = 0x14000100,
  kCFStringEncodingInvalidId = 0xffffffffU
};

typedef CFOptionFlags CFStringCompareFlags;
enum { kCFCompareCaseInsensitive = 1, kCFCompareBackwards = 4, kCFCompareNonliteral = 16 };

VP_EXPORT CFTypeID CFStringGetTypeID(void) VP_NOEXCEPT;

/* A constant string: made once per distinct text for the life of the
 * process, never freed, never failing; CFRetain/CFRelease leave it alone.
 * Safe to call from any thread. The text is UTF-8 (bytes that are not UTF-8
 * keep their value through the file-name mapping); null gives the empty
 * string. */
VP_EXPORT CFStringRef VPStringMakeConstant(const char *utf8) VP_NOEXCEPT;
#define CFSTR(cStr) VPStringMakeConstant("" cStr "")

/* Create rule for every Create/Copy below; null on failure (out of memory,
 * bytes that are not valid in the given encoding, a null string, a negative
 * count or a range outside the string).
 * CFStringCreateWithBytes, kCFStringEncodingUTF16: a leading byte-order mark
 * chooses the byte order and is dropped, without one the bytes are in this
 * machine's order; UTF16BE/UTF16LE keep a leading U+FEFF as a character.
 * UTF-16 input may hold lone surrogates. Reading ignores
 * isExternalRepresentation. */
VP_EXPORT CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char *cStr,
                                                CFStringEncoding encoding) VP_NOEXCEPT;
VP_EXPORT CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8 *bytes,
                                              CFIndex numBytes, CFStringEncoding encoding,
                                              Boolean isExternalRepresentation) VP_NOEXCEPT;
VP_EXPORT CFStringRef CFStringCreateWithCharacters(CFAllocatorRef alloc, const UniChar *chars,
                                                   CFIndex numChars) VP_NOEXCEPT;
VP_EXPORT CFStringRef CFStringCreateCopy(CFAllocatorRef alloc, CFStringRef theString) VP_NOEXCEPT;
VP_EXPORT CFStringRef CFStringCreateWithSubstring(CFAllocatorRef alloc, CFStringRef str,
                                                  CFRange range) VP_NOEXCEPT;
/* maxLength 0 means unbounded; otherwise an append that would make the
 * string longer than maxLength units is refused whole. CreateMutableCopy
 * gives null when theString is already longer. */
VP_EXPORT CFMutableStringRef CFStringCreateMutable(CFAllocatorRef alloc,
                                                   CFIndex maxLength) VP_NOEXCEPT;
VP_EXPORT CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef alloc, CFIndex maxLength,
                                                       CFStringRef theString) VP_NOEXCEPT;

/* Appending to a mutable string; on allocation failure, text that is not
 * valid in the encoding, or a maxLength that would be passed, the string
 * keeps its old contents. A string not made by CFStringCreateMutable* (a
 * constant above all) is never changed. */
VP_EXPORT void CFStringAppendCharacters(CFMutableStringRef theString, const UniChar *chars,
                                        CFIndex numChars) VP_NOEXCEPT;
VP_EXPORT void CFStringAppend(CFMutableStringRef theString, CFStringRef appendedString) VP_NOEXCEPT;
VP_EXPORT void CFStringAppendCString(CFMutableStringRef theString, const char *cStr,
                                     CFStringEncoding encoding) VP_NOEXCEPT;

/* The length in UTF-16 units (a character above U+FFFF counts 2); 0 for
 * null. */
VP_EXPORT CFIndex CFStringGetLength(CFStringRef theString) VP_NOEXCEPT;
/* 0 for an index outside the string. */
VP_EXPORT UniChar CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx) VP_NOEXCEPT;
/* Copies the range's units; writes nothing for a range outside the string. */
VP_EXPORT void CFStringGetCharacters(CFStringRef theString, CFRange range,
                                     UniChar *buffer) VP_NOEXCEPT;
/* Converts the range character by character; a valid surrogate pair is one
 * character. A character the encoding cannot hold becomes lossByte, or stops
 * the conversion when lossByte is 0; a lone surrogate (the file-name bytes
 * U+DC80..U+DCFF included) is such a character for every encoding but the
 * UTF-16 forms. With a buffer, at most maxBufLen bytes are written, never
 * part of a character; without one, nothing limits the count. Returns the
 * number of UTF-16 units converted and stores the bytes used (or needed,
 * when buffer is null) in *usedBufLen (0 for a range outside the string or
 * an unknown encoding). isExternalRepresentation puts a byte-order mark (this
 * machine's order) before kCFStringEncodingUTF16 text; other encodings
 * ignore it. */
VP_EXPORT CFIndex CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                                   UInt8 lossByte, Boolean isExternalRepresentation, UInt8 *buffer,
                                   CFIndex maxBufLen, CFIndex *usedBufLen) VP_NOEXCEPT;
/* Zero-terminated, without loss; false (and an empty buffer when it has
 * room) when it does not fit, cannot be converted, the encoding is a UTF-16
 * form or the string holds U+0000. */
VP_EXPORT Boolean CFStringGetCString(CFStringRef theString, char *buffer, CFIndex bufferSize,
                                     CFStringEncoding encoding) VP_NOEXCEPT;
/* The most bytes `length` units can take: 3 per unit in UTF-8, 2 in UTF-16
 * (without a byte-order mark), 1 otherwise; kCFNotFound for a negative
 * length, an unknown encoding or an overflow. */
VP_EXPORT CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length,
                                                    CFStringEncoding encoding) VP_NOEXCEPT;

/* Without options: a literal comparison of UTF-16 units (as unsigned
 * numbers). kCFCompareCaseInsensitive folds the ASCII letters only; the other
 * options are ignored. Null sorts before any string. */
VP_EXPORT CFComparisonResult CFStringCompare(CFStringRef theString1, CFStringRef theString2,
                                             CFStringCompareFlags compareOptions) VP_NOEXCEPT;
/* UTF-16 units compared literally; every string has the empty prefix and
 * suffix; false when either argument is null. */
VP_EXPORT Boolean CFStringHasPrefix(CFStringRef theString, CFStringRef prefix) VP_NOEXCEPT;
VP_EXPORT Boolean CFStringHasSuffix(CFStringRef theString, CFStringRef suffix) VP_NOEXCEPT;

/* The locale's character set (the host calls setlocale first): UTF-8 under
 * a UTF-8 locale, ISO Latin 1 under an ISO-8859-1 one, ASCII under C/POSIX.
 * Any other character set (ISO-8859-15, KOI8-R, EUC-JP, ...) has no encoding
 * here and gives ASCII, which every Linux locale's character set contains:
 * text stays readable, and what ASCII cannot hold becomes the loss byte. */
VP_EXPORT CFStringEncoding CFStringGetSystemEncoding(void) VP_NOEXCEPT;

/* File names: the lossless mapping described at the top of this file.
 * Going back, a lone surrogate U+DC80..U+DCFF becomes its byte and any other
 * lone surrogate its 3-byte generalized UTF-8 form (ED A0 80 for U+D800), so
 * nothing is dropped. An embedded zero byte cannot be in a file name:
 * CFStringCreateWithFileSystemRepresentation takes a C string. */
VP_EXPORT CFStringRef CFStringCreateWithFileSystemRepresentation(CFAllocatorRef alloc,
                                                                 const char *buffer) VP_NOEXCEPT;
VP_EXPORT CFStringRef VPStringCreateWithFileSystemBytes(CFAllocatorRef alloc, const UInt8 *bytes,
                                                        CFIndex numBytes) VP_NOEXCEPT;
/* Writes the zero-terminated bytes; false (and an empty buffer when it has
 * room) when they do not fit or the string holds U+0000, which names no
 * file. */
VP_EXPORT Boolean CFStringGetFileSystemRepresentation(CFStringRef string, char *buffer,
                                                      CFIndex maxBufLen) VP_NOEXCEPT;
/* The byte length of the file-system representation, without terminator;
 * 0 for null. */
VP_EXPORT CFIndex VPStringGetFileSystemRepresentationLength(CFStringRef string) VP_NOEXCEPT;

/* One argument of a format, captured with its type so that the format engine
 * never reads an argument as something it is not. Built by the C++ wrapper
 * below; C callers fill it themselves. */
typedef enum {
  kVPFormatArgSigned = 1,   /* integer types that are signed */
  kVPFormatArgUnsigned = 2, /* integer types that are unsigned */
  kVPFormatArgDouble = 3,   /* float and double */
  kVPFormatArgCString = 4,  /* const char * */
  kVPFormatArgObject = 5,   /* a CoreFoundation object (CFTypeRef) */
  kVPFormatArgPointer = 6   /* any other pointer: printed only by %p */
} VPFormatArgKind;

typedef struct {
  VPFormatArgKind kind;
  union {
    long long s;
    unsigned long long u;
    double d;
    const char *str;
    const void *ptr;
  } value;
} VPFormatArg;

/* printf directives without locale (a point for decimals, no grouping), plus
 * %@ for an object's description and positional %n$ forms:
 * - flags - + space # 0; width and precision as numbers or * (an integer
 *   argument, also *n$); lengths hh h l ll q z j t L; conversions
 *   d i u o x X c s f F e E g G p @ and %%. Each directive stands alone:
 *   positional and sequential ones may be mixed, and a position may be used
 *   more than once.
 * - Any integer argument serves any integer directive, converted as C's
 *   printf would by the length and signedness (%d of a long prints it as an
 *   int; %lu of -1L prints 18446744073709551615). Doubles serve only
 *   f F e E g G. %c prints an integer as a code point (U+0000..U+10FFFF, no
 *   surrogates). %s takes UTF-8 (other bytes keep their value through the
 *   file-name mapping; a precision limits the bytes read and never cuts a
 *   character) and %@ an object: a string's text, another object's
 *   description; null prints "(null)". Widths and precisions count UTF-16
 *   units for text.
 * - A directive whose argument is missing or of the wrong kind, whose
 *   conversion is unknown (%n included), or whose width or precision is
 *   above 10000 is copied to the output as it stands; arguments are never
 *   read past count.
 * formatOptions is ignored. Create rule; null for a null format or on
 * allocation failure. */
VP_EXPORT CFStringRef VPStringCreateWithFormatArgs(CFAllocatorRef alloc,
                                                   CFDictionaryRef formatOptions,
                                                   CFStringRef format, const VPFormatArg *args,
                                                   CFIndex count) VP_NOEXCEPT;

VP_EXTERN_C_END

#ifdef __cplusplus
#include <type_traits>

namespace vp_format {
template <class T> inline VPFormatArg Capture(T value) {
  VPFormatArg a{};
  using U = std::remove_cv_t<T>;
  if constexpr (std::is_same_v<U, bool>) {
    a.kind = kVPFormatArgUnsigned;
    a.value.u = value ? 1 : 0;
  } else if constexpr (std::is_enum_v<U>) {
    a.kind = kVPFormatArgSigned;
    a.value.s = static_cast<long long>(value);
  } else if constexpr (std::is_integral_v<U> && std::is_signed_v<U>) {
    a.kind = kVPFormatArgSigned;
    a.value.s = value;
  } else if constexpr (std::is_integral_v<U>) {
    a.kind = kVPFormatArgUnsigned;
    a.value.u = value;
  } else if constexpr (std::is_floating_point_v<U>) {
    a.kind = kVPFormatArgDouble;
    a.value.d = static_cast<double>(value);
  } else if constexpr (std::is_same_v<U, const char *> || std::is_same_v<U, char *>) {
    a.kind = kVPFormatArgCString;
    a.value.str = value;
  } else if constexpr (std::is_same_v<U, std::nullptr_t>) {
    a.kind = kVPFormatArgObject;
    a.value.ptr = nullptr;
  } else if constexpr (std::is_pointer_v<U>) {
    /* CFTypeRef is const void *, so an untyped pointer is taken to be an
     * object; pointers to our own object structs are objects too. */
    using P = std::remove_cv_t<std::remove_pointer_t<U>>;
    a.kind = (std::is_void_v<P> || std::is_class_v<P>) ? kVPFormatArgObject : kVPFormatArgPointer;
    a.value.ptr = static_cast<const void *>(value);
  } else {
    static_assert(sizeof(U) == 0, "argument type not supported by CFStringCreateWithFormat");
  }
  return a;
}
} // namespace vp_format

/* The call keeps its name; the arguments' types are captured here. */
template <class... Args>
inline CFStringRef CFStringCreateWithFormat(CFAllocatorRef alloc, CFDictionaryRef formatOptions,
                                            CFStringRef format, Args... args) noexcept {
  const VPFormatArg list[sizeof...(Args) + 1] = {vp_format::Capture(args)..., VPFormatArg{}};
  return VPStringCreateWithFormatArgs(alloc, formatOptions, format, list,
                                      static_cast<CFIndex>(sizeof...(Args)));
}
#endif

#endif
