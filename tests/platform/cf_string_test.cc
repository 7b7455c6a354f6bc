// CFString: decoding and encoding in every supported encoding, the
// CFStringGetBytes contract (loss byte, stopping, buffer limits, sizes),
// literal comparison, mutable strings, constants, the system encoding, and
// the Create functions under allocation failure.
#include <iconv.h>

#include <climits>
#include <clocale>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include "string_test_util.h"
#include "test_support.h"

namespace {

using string_test::Escaped;
using string_test::FromUnits;
using string_test::Owned;
using string_test::TextOf;
using string_test::UnitsOf;

// UTF-16 bytes of one unit in this machine's order.
std::string HostUnit(char16_t u) {
  char bytes[2];
  std::memcpy(bytes, &u, 2);
  return std::string(bytes, 2);
}

// ---- Decoding ----

struct DecodeCase {
  const char *name;
  CFStringEncoding encoding;
  std::string bytes;
  bool valid;
  std::u16string expected;
};

class Decode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, GivesTheUnitsOrNullForInvalidBytes) {
  const DecodeCase &c = GetParam();
  Owned s(CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>(c.bytes.data()),
                                  static_cast<CFIndex>(c.bytes.size()), c.encoding, false));
  if (!c.valid) {
    EXPECT_EQ(s, nullptr);
    return;
  }
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Escaped(UnitsOf(s.get())), Escaped(c.expected));
}

const DecodeCase kDecodeCases[] = {
    {"utf8_ascii", kCFStringEncodingUTF8, "abc", true, u"abc"},
    {"utf8_two_byte", kCFStringEncodingUTF8, "caf\xc3\xa9", true, u"caf\u00e9"},
    {"utf8_four_byte_is_a_pair", kCFStringEncodingUTF8, "\xf0\x9f\x98\x80", true, u"\xD83D\xDE00"},
    {"utf8_embedded_zero", kCFStringEncodingUTF8, std::string("a\0b", 3), true,
     std::u16string(u"a\0b", 3)},
    {"utf8_overlong", kCFStringEncodingUTF8, "\xc0\xaf", false, u""},
    {"utf8_encoded_surrogate", kCFStringEncodingUTF8, "\xed\xa0\x80", false, u""},
    {"utf8_above_10ffff", kCFStringEncodingUTF8, "\xf4\x90\x80\x80", false, u""},
    {"utf8_truncated", kCFStringEncodingUTF8, "a\xc3", false, u""},
    {"utf8_stray_continuation", kCFStringEncodingUTF8, "\x80", false, u""},
    {"ascii", kCFStringEncodingASCII, "Az~", true, u"Az~"},
    {"ascii_high_byte", kCFStringEncodingASCII, "a\x80", false, u""},
    {"latin1_every_byte", kCFStringEncodingISOLatin1, "\xe9\xff\x80", true, u"\u00e9\u00ff\u0080"},
    {"mac_roman", kCFStringEncodingMacRoman, "\x8e\xdb\xf0\xc6\xde", true,
     u"\u00e9\u20ac\uF8FF\u2206\uFB01"},
    {"utf16_bom_big_endian", kCFStringEncodingUTF16, std::string("\xfe\xff\x00\x61", 4), true,
     u"a"},
    {"utf16_bom_little_endian", kCFStringEncodingUTF16, std::string("\xff\xfe\x61\x00", 4), true,
     u"a"},
    {"utf16_host_order_without_bom", kCFStringEncodingUTF16, HostUnit(u'\u00e9') + HostUnit(u'b'),
     true, u"\u00e9b"},
    {"utf16be_keeps_feff", kCFStringEncodingUTF16BE, std::string("\xfe\xff\x00\x61", 4), true,
     u"\uFEFFa"},
    {"utf16le_pair", kCFStringEncodingUTF16LE, std::string("\x61\x00\x3d\xd8\x00\xde", 6), true,
     u"a\xD83D\xDE00"},
    {"utf16le_lone_surrogate_kept", kCFStringEncodingUTF16LE, std::string("\x00\xd8", 2), true,
     u"\xD800"},
    {"utf16_odd_length", kCFStringEncodingUTF16LE, "abc", false, u""},
    {"unknown_encoding", 0x0500, "abc", false, u""},
};

INSTANTIATE_TEST_SUITE_P(CFString, Decode, ::testing::ValuesIn(kDecodeCases),
                         string_test::RowName());

// ---- CFStringGetBytes ----

struct GetBytesCase {
  const char *name;
  std::u16string units;
  CFStringEncoding encoding;
  UInt8 lossByte;
  CFIndex bufferSize; // -1: no buffer, only the size is asked
  CFIndex expectedConverted;
  std::string expectedBytes; // with no buffer: only its length is checked
  bool external = false;
  CFIndex location = 0;
  CFIndex length = -1; // -1: the whole string
};

class GetBytes : public ::testing::TestWithParam<GetBytesCase> {};

TEST_P(GetBytes, ConvertsWholeCharactersWithinTheBuffer) {
  const GetBytesCase &c = GetParam();
  Owned s = FromUnits(c.units);
  ASSERT_NE(s, nullptr);
  const CFRange range =
      CFRangeMake(c.location, c.length < 0 ? static_cast<CFIndex>(c.units.size()) : c.length);
  std::string buffer(64, '\x5a');
  UInt8 *out = c.bufferSize < 0 ? nullptr : reinterpret_cast<UInt8 *>(buffer.data());
  CFIndex used = -7;
  const CFIndex converted = CFStringGetBytes(s.get(), range, c.encoding, c.lossByte, c.external,
                                             out, c.bufferSize, &used);
  EXPECT_EQ(converted, c.expectedConverted);
  EXPECT_EQ(used, static_cast<CFIndex>(c.expectedBytes.size()));
  if (out) {
    EXPECT_EQ(buffer.substr(0, static_cast<std::size_t>(used)), c.expectedBytes);
    // Nothing is written past the bytes reported.
    EXPECT_EQ(buffer[static_cast<std::size_t>(std::max<CFIndex>(used, 0))], '\x5a');
  }
}

const GetBytesCase kGetBytesCases[] = {
    {"utf8_needed_size", u"caf\u00e9", kCFStringEncodingUTF8, '?', -1, 4, "caf\xc3\xa9"},
    {"utf8_into_buffer", u"caf\u00e9", kCFStringEncodingUTF8, '?', 16, 4, "caf\xc3\xa9"},
    {"utf8_pair_is_four_bytes", u"a\xD83D\xDE00", kCFStringEncodingUTF8, '?', 16, 3,
     "a\xf0\x9f\x98\x80"},
    {"utf8_pair_never_split",
     u"a\xD83D\xDE00"
     u"b",
     kCFStringEncodingUTF8, '?', 4, 1, "a"},
    {"utf8_two_byte_never_split", u"\u00e9", kCFStringEncodingUTF8, '?', 1, 0, ""},
    {"utf8_zero_buffer", u"abc", kCFStringEncodingUTF8, '?', 0, 0, ""},
    {"utf8_buffer_stops_early", u"abcdef", kCFStringEncodingUTF8, '?', 4, 4, "abcd"},
    {"utf8_lone_high_surrogate_is_lost",
     u"a\xD800"
     u"b",
     kCFStringEncodingUTF8, '?', 16, 3, "a?b"},
    {"utf8_file_name_byte_is_lost", u"a\xDCFF", kCFStringEncodingUTF8, '?', 16, 2, "a?"},
    {"utf8_file_name_byte_size", u"a\xDCFF", kCFStringEncodingUTF8, '?', -1, 2, "a?"},
    {"utf8_reversed_pair_is_two_losses", u"\xDE00\xD83D", kCFStringEncodingUTF8, '?', 16, 2, "??"},
    {"utf8_zero_loss_byte_stops",
     u"a\xD800"
     u"b",
     kCFStringEncodingUTF8, 0, 16, 1, "a"},
    {"utf8_zero_loss_byte_stops_size",
     u"ab\xDC80"
     u"c",
     kCFStringEncodingUTF8, 0, -1, 2, "ab"},
    {"utf8_pair_split_by_range_is_lost", u"a\xD83D\xDE00", kCFStringEncodingUTF8, '?', 16, 2, "a?",
     false, 0, 2},
    {"utf8_subrange", u"abcd", kCFStringEncodingUTF8, '?', 16, 2, "bc", false, 1, 2},
    {"ascii_loss_byte", u"caf\u00e9", kCFStringEncodingASCII, '?', 16, 4, "caf?"},
    {"ascii_zero_loss_byte_stops", u"caf\u00e9!", kCFStringEncodingASCII, 0, 16, 3, "caf"},
    {"ascii_pair_is_one_loss_byte", u"\xD83D\xDE00", kCFStringEncodingASCII, '?', 16, 2, "?"},
    {"latin1", u"\u00e9\u20ac", kCFStringEncodingISOLatin1, '?', 16, 2, "\xe9?"},
    {"mac_roman", u"\u00e9\u20ac\uF8FF\u0394", kCFStringEncodingMacRoman, '?', 16, 4,
     "\x8e\xdb\xf0?"},
    {"utf16_external_has_host_bom", u"a", kCFStringEncodingUTF16, 0, 16, 1,
     HostUnit(0xFEFF) + HostUnit(u'a'), true},
    {"utf16_plain_has_no_bom", u"a", kCFStringEncodingUTF16, 0, 16, 1, HostUnit(u'a')},
    {"utf16be_pair", u"a\xD83D\xDE00", kCFStringEncodingUTF16BE, 0, 16, 3,
     std::string("\x00\x61\xd8\x3d\xde\x00", 6)},
    {"utf16be_external_has_no_bom", u"a", kCFStringEncodingUTF16BE, 0, 16, 1,
     std::string("\x00\x61", 2), true},
    {"utf16le_keeps_lone_surrogate", u"\xDCFF", kCFStringEncodingUTF16LE, 0, 16, 1, "\xff\xdc"},
    {"utf16_pair_never_split", u"\xD83D\xDE00", kCFStringEncodingUTF16BE, 0, 3, 0, ""},
    {"range_past_the_end", u"abc", kCFStringEncodingUTF8, '?', 16, 0, "", false, 2, 2},
    {"negative_range", u"abc", kCFStringEncodingUTF8, '?', 16, 0, "", false, -1, 1},
    {"unknown_encoding", u"abc", 0x0500, '?', 16, 0, ""},
};

INSTANTIATE_TEST_SUITE_P(CFString, GetBytes, ::testing::ValuesIn(kGetBytesCases),
                         string_test::RowName());

// ---- CFStringGetCString ----

TEST(CFStringGetCString, WritesAllOrNothing) {
  struct Case {
    const char *name;
    std::u16string units;
    CFStringEncoding encoding;
    CFIndex bufferSize;
    bool ok;
    std::string expected;
  } cases[] = {
      {"fits_exactly", u"caf\u00e9", kCFStringEncodingUTF8, 6, true, "caf\xc3\xa9"},
      {"one_byte_short", u"caf\u00e9", kCFStringEncodingUTF8, 5, false, ""},
      {"cannot_be_held", u"caf\u00e9", kCFStringEncodingASCII, 16, false, ""},
      {"mac_roman", u"caf\u00e9", kCFStringEncodingMacRoman, 16, true, "caf\x8e"},
      {"embedded_zero", std::u16string(u"a\0b", 3), kCFStringEncodingUTF8, 16, false, ""},
      {"utf16_refused", u"ab", kCFStringEncodingUTF16, 16, false, ""},
      {"empty", u"", kCFStringEncodingUTF8, 1, true, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Owned s = FromUnits(c.units);
    char buffer[16];
    std::memset(buffer, 'Z', sizeof buffer);
    EXPECT_EQ(CFStringGetCString(s.get(), buffer, c.bufferSize, c.encoding), c.ok);
    EXPECT_EQ(std::string(buffer), c.expected); // always terminated
  }
}

// ---- Comparison ----

struct CompareCase {
  const char *name;
  std::u16string a;
  std::u16string b;
  CFStringCompareFlags options;
  CFComparisonResult order;
  bool bIsPrefix;
  bool bIsSuffix;
};

class Compare : public ::testing::TestWithParam<CompareCase> {};

TEST_P(Compare, ComparesUnitsLiterally) {
  const CompareCase &c = GetParam();
  Owned a = FromUnits(c.a);
  Owned b = FromUnits(c.b);
  EXPECT_EQ(CFStringCompare(a.get(), b.get(), c.options), c.order);
  EXPECT_EQ(CFStringCompare(b.get(), a.get(), c.options), static_cast<CFComparisonResult>(-c.order))
      << "not antisymmetric";
  EXPECT_EQ(CFStringHasPrefix(a.get(), b.get()), c.bIsPrefix);
  EXPECT_EQ(CFStringHasSuffix(a.get(), b.get()), c.bIsSuffix);
}

const CompareCase kCompareCases[] = {
    {"equal", u"caf\u00e9", u"caf\u00e9", 0, kCFCompareEqualTo, true, true},
    {"non_ascii_after_ascii", u"\u00e9", u"z", 0, kCFCompareGreaterThan, false, false},
    // By UTF-16 units a surrogate (D83D) sorts before U+FFFD, although its
    // code point (U+1F600) is larger.
    {"surrogates_by_unit", u"\xD83D\xDE00", u"\uFFFD", 0, kCFCompareLessThan, false, false},
    {"prefix_is_half_a_pair", u"\xD83D\xDE00x", u"\xD83D", 0, kCFCompareGreaterThan, true, false},
    {"suffix_is_a_pair", u"x\xD83D\xDE00", u"\xD83D\xDE00", 0, kCFCompareLessThan, false, true},
    {"shorter_sorts_first", u"ab", u"abc", 0, kCFCompareLessThan, false, false},
    {"case_matters_without_option", u"ABC", u"abc", 0, kCFCompareLessThan, false, false},
    {"case_insensitive_ascii", u"ABC", u"abc", kCFCompareCaseInsensitive, kCFCompareEqualTo, false,
     false},
    {"case_insensitive_leaves_non_ascii", u"\u00c9", u"\u00e9", kCFCompareCaseInsensitive,
     kCFCompareLessThan, false, false},
    {"composed_is_not_decomposed", u"\u00e9", u"e\u0301", 0, kCFCompareGreaterThan, false, false},
    {"empty_is_prefix_and_suffix", u"abc", u"", 0, kCFCompareGreaterThan, true, true},
    {"path_prefix", u"/a/b/c", u"/a/b/", 0, kCFCompareGreaterThan, true, false},
    {"sibling_is_not_prefix", u"/a/bc", u"/a/b/", 0, kCFCompareGreaterThan, false, false},
};

INSTANTIATE_TEST_SUITE_P(CFString, Compare, ::testing::ValuesIn(kCompareCases),
                         string_test::RowName());

TEST(CFStringCompare, NullSortsFirstAndIsNeverAPrefix) {
  EXPECT_EQ(CFStringCompare(nullptr, CFSTR("a"), 0), kCFCompareLessThan);
  EXPECT_EQ(CFStringCompare(CFSTR("a"), nullptr, 0), kCFCompareGreaterThan);
  EXPECT_FALSE(CFStringHasPrefix(CFSTR("a"), nullptr));
  EXPECT_FALSE(CFStringHasSuffix(nullptr, CFSTR("")));
}

// ---- Mac OS Roman ----

// Our table against the C library's own MACINTOSH converter. Two bytes differ
// on purpose: 0xC6 is U+2206 INCREMENT (glibc: U+0394) and 0xF0 the Apple
// logo U+F8FF (glibc: U+E01E), as in Apple's current mapping.
TEST(MacRoman, EveryByteMatchesTheCLibraryAndRoundTrips) {
  iconv_t cd = iconv_open("UTF-16LE", "MACINTOSH");
  if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "no MACINTOSH converter";
  for (int byte = 0; byte < 256; ++byte) {
    SCOPED_TRACE(byte);
    const UInt8 in = static_cast<UInt8>(byte);
    Owned s(CFStringCreateWithBytes(nullptr, &in, 1, kCFStringEncodingMacRoman, false));
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(CFStringGetLength(s.get()), 1);
    const UniChar ours = CFStringGetCharacterAtIndex(s.get(), 0);

    char inBuf[1] = {static_cast<char>(in)};
    unsigned char outBuf[4] = {};
    char *inPtr = inBuf;
    char *outPtr = reinterpret_cast<char *>(outBuf);
    size_t inLeft = 1, outLeft = sizeof outBuf;
    ASSERT_NE(iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft), static_cast<size_t>(-1));
    const UniChar theirs = static_cast<UniChar>(outBuf[0] | (outBuf[1] << 8));
    if (byte == 0xC6) {
      EXPECT_EQ(ours, 0x2206);
    } else if (byte == 0xF0) {
      EXPECT_EQ(ours, 0xF8FF);
    } else {
      EXPECT_EQ(ours, theirs);
    }

    UInt8 back = 0;
    CFIndex used = 0;
    EXPECT_EQ(CFStringGetBytes(s.get(), CFRangeMake(0, 1), kCFStringEncodingMacRoman, 0, false,
                               &back, 1, &used),
              1);
    EXPECT_EQ(back, in);
  }
  iconv_close(cd);
}

// ---- Creating and copying ----

TEST(CFStringCreate, RefusesBadArguments) {
  Owned abc(CFStringCreateWithCString(nullptr, "abc", kCFStringEncodingUTF8));
  ASSERT_NE(abc, nullptr);
  EXPECT_EQ(CFStringCreateWithCharacters(nullptr, nullptr, 3), nullptr);
  EXPECT_EQ(CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar *>(u"a"), -1),
            nullptr);
  EXPECT_EQ(CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>("a"), -1,
                                    kCFStringEncodingUTF8, false),
            nullptr);
  EXPECT_EQ(CFStringCreateWithCString(nullptr, nullptr, kCFStringEncodingUTF8), nullptr);
  EXPECT_EQ(CFStringCreateCopy(nullptr, nullptr), nullptr);
  EXPECT_EQ(CFStringCreateWithSubstring(nullptr, abc.get(), CFRangeMake(2, 2)), nullptr);
  EXPECT_EQ(CFStringCreateWithSubstring(nullptr, abc.get(), CFRangeMake(1, LONG_MAX)), nullptr);
  EXPECT_EQ(CFStringCreateWithSubstring(nullptr, abc.get(), CFRangeMake(-1, 1)), nullptr);
  EXPECT_EQ(CFStringCreateMutable(nullptr, -1), nullptr);
  EXPECT_EQ(CFStringGetCharacterAtIndex(abc.get(), 3), 0);
  EXPECT_EQ(CFStringGetCharacterAtIndex(abc.get(), -1), 0);
  EXPECT_EQ(CFStringGetLength(nullptr), 0);
}

TEST(CFStringCreate, EmptyInputsMakeEmptyStrings) {
  Owned fromBytes(CFStringCreateWithBytes(nullptr, nullptr, 0, kCFStringEncodingUTF8, false));
  Owned fromChars(CFStringCreateWithCharacters(nullptr, nullptr, 0));
  Owned sub(CFStringCreateWithSubstring(nullptr, CFSTR("abc"), CFRangeMake(3, 0)));
  for (CFStringRef s : {fromBytes.get(), fromChars.get(), sub.get()}) {
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(CFStringGetLength(s), 0);
    EXPECT_TRUE(CFEqual(s, CFSTR("")));
  }
}

TEST(CFStringGetMaximumSizeForEncoding, BoundsEveryConversion) {
  struct Case {
    const char *name;
    CFIndex length;
    CFStringEncoding encoding;
    CFIndex expected;
  } cases[] = {
      {"utf8", 10, kCFStringEncodingUTF8, 30},
      {"utf16", 10, kCFStringEncodingUTF16LE, 20},
      {"mac_roman", 10, kCFStringEncodingMacRoman, 10},
      {"negative", -1, kCFStringEncodingUTF8, kCFNotFound},
      {"overflow", LONG_MAX / 2, kCFStringEncodingUTF8, kCFNotFound},
      {"unknown", 10, 0x0500, kCFNotFound},
  };
  for (const Case &c : cases)
    EXPECT_EQ(CFStringGetMaximumSizeForEncoding(c.length, c.encoding), c.expected) << c.name;
  // The bound holds for the worst case: units that each need 3 bytes.
  Owned s = FromUnits(u"\u20ac\u20ac\xD83D\xDE00");
  CFIndex used = 0;
  CFStringGetBytes(s.get(), CFRangeMake(0, 4), kCFStringEncodingUTF8, '?', false, nullptr, 0,
                   &used);
  EXPECT_LE(used, CFStringGetMaximumSizeForEncoding(4, kCFStringEncodingUTF8));
}

TEST(CFCopyDescription, OfAStringIsAnIndependentCopyOfItsText) {
  CFMutableStringRef m = CFStringCreateMutable(nullptr, 0);
  CFStringAppend(m, CFSTR("caf\u00e9"));
  Owned d(CFCopyDescription(m));
  CFStringAppend(m, CFSTR("!"));
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(TextOf(d.get()), "caf\xc3\xa9");
  EXPECT_EQ(CFCopyDescription(nullptr), nullptr);
  CFRelease(m);
}

// ---- Mutable strings ----

struct AppendCase {
  const char *name;
  CFIndex maxLength;
  std::u16string initial;
  void (*append)(CFMutableStringRef);
  std::u16string expected;
};

class Append : public ::testing::TestWithParam<AppendCase> {};

TEST_P(Append, ChangesTheStringOrLeavesItWhole) {
  const AppendCase &c = GetParam();
  Owned initial = FromUnits(c.initial);
  CFMutableStringRef m = CFStringCreateMutableCopy(nullptr, c.maxLength, initial.get());
  ASSERT_NE(m, nullptr);
  c.append(m);
  EXPECT_EQ(Escaped(UnitsOf(m)), Escaped(c.expected));
  CFRelease(m);
}

const AppendCase kAppendCases[] = {
    {"characters", 0, u"ab",
     [](CFMutableStringRef m) {
       const UniChar more[] = {0xD83D, 0xDE00};
       CFStringAppendCharacters(m, more, 2);
     },
     u"ab\xD83D\xDE00"},
    {"string", 0, u"ab", [](CFMutableStringRef m) { CFStringAppend(m, CFSTR("cd")); }, u"abcd"},
    {"itself", 0, u"ab", [](CFMutableStringRef m) { CFStringAppend(m, m); }, u"abab"},
    {"c_string_mac_roman", 0, u"a",
     [](CFMutableStringRef m) { CFStringAppendCString(m, "\x8e", kCFStringEncodingMacRoman); },
     u"a\u00e9"},
    {"invalid_c_string_adds_nothing", 0, u"a",
     [](CFMutableStringRef m) { CFStringAppendCString(m, "b\xff", kCFStringEncodingUTF8); }, u"a"},
    {"up_to_max_length", 4, u"ab", [](CFMutableStringRef m) { CFStringAppend(m, CFSTR("cd")); },
     u"abcd"},
    {"past_max_length_refused_whole", 4, u"ab",
     [](CFMutableStringRef m) { CFStringAppend(m, CFSTR("cde")); }, u"ab"},
};

INSTANTIATE_TEST_SUITE_P(CFString, Append, ::testing::ValuesIn(kAppendCases),
                         string_test::RowName());

TEST(CFStringAppend, NeverChangesAnImmutableString) {
  CFStringRef constant = CFSTR("fixed text");
  Owned created(CFStringCreateWithCString(nullptr, "made", kCFStringEncodingUTF8));
  CFStringAppend(const_cast<CFMutableStringRef>(constant), CFSTR("!"));
  CFStringAppendCString(const_cast<CFMutableStringRef>(created.get()), "!", kCFStringEncodingUTF8);
  EXPECT_EQ(TextOf(CFSTR("fixed text")), "fixed text");
  EXPECT_EQ(TextOf(created.get()), "made");
  EXPECT_EQ(CFStringCreateMutableCopy(nullptr, 2, CFSTR("abc")), nullptr);
}

TEST(CFStringAppend, KeepsItsTextWhenAllocationFails) {
  const int runs = vantlow_test::SweepAllocationFailures(
      [](long) {
        CFMutableStringRef m = CFStringCreateMutable(nullptr, 0);
        if (!m) return;
        CFStringAppend(m, CFSTR("short"));
        const std::u16string before = UnitsOf(m);
        EXPECT_TRUE(before == u"" || before == u"short") << Escaped(before);
        // Long enough to need a new block.
        CFStringAppend(m, CFSTR(" and then a much longer piece of text"));
        const std::u16string after = UnitsOf(m);
        EXPECT_TRUE(after == before || after == before + u" and then a much longer piece of text")
            << Escaped(after);
        CFRelease(m);
      },
      false);
  EXPECT_GT(runs, 1) << "no allocation was reached";
}

// ---- Constants ----

TEST(CFSTR, IsOneImmortalObjectPerTextEqualToCreatedStrings) {
  const std::string text = "a constant seen from two places";
  CFStringRef first = VPStringMakeConstant(text.c_str());
  CFStringRef second = VPStringMakeConstant(std::string(text).c_str());
  EXPECT_EQ(first, second);
  Owned created(CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8));
  EXPECT_TRUE(CFEqual(first, created.get()));
  EXPECT_EQ(CFHash(first), CFHash(created.get()));
  CFRelease(first);
  CFRelease(first);
  EXPECT_EQ(TextOf(first), text);
  EXPECT_TRUE(CFEqual(CFSTR("caf\u00e9"), CFSTR("caf\xc3\xa9")));
  EXPECT_EQ(CFStringGetLength(VPStringMakeConstant(nullptr)), 0);
}

TEST(CFSTR, NeverFailsOrCountsAsALeakUnderAllocationFailure) {
  int made = 0;
  vantlow_test::SweepAllocationFailures(
      [&](long n) {
        const std::string text = "constant made while allocation " + std::to_string(n) +
                                 " and later ones fail, long enough to need a block";
        CFStringRef s = VPStringMakeConstant(text.c_str());
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(TextOf(s), text);
        ++made;
      },
      true);
  EXPECT_GT(made, 0);
}

TEST(CFSTR, ThreadsAskingForTheSameTextGetTheSameObject) {
  constexpr int kThreads = 8;
  CFStringRef seen[kThreads] = {};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&seen, t] {
      for (int k = 0; k < 200; ++k)
        VPStringMakeConstant(("filler " + std::to_string(t * 1000 + k)).c_str());
      seen[t] = VPStringMakeConstant("raced for by every thread");
    });
  for (std::thread &th : threads)
    th.join();
  for (int t = 1; t < kThreads; ++t)
    EXPECT_EQ(seen[t], seen[0]);
  EXPECT_EQ(TextOf(seen[0]), "raced for by every thread");
}

// ---- System encoding ----

TEST(CFStringGetSystemEncoding, FollowsTheLocaleCharacterSet) {
  struct Case {
    const char *locale;
    CFStringEncoding expected;
  } cases[] = {{"C", kCFStringEncodingASCII}, {"C.UTF-8", kCFStringEncodingUTF8}};
  for (const Case &c : cases) {
    if (!std::setlocale(LC_ALL, c.locale)) continue;
    EXPECT_EQ(CFStringGetSystemEncoding(), c.expected) << c.locale;
  }
  std::setlocale(LC_ALL, "C");
}

// ---- Allocation failure ----

struct CreateCase {
  const char *name;
  CFStringRef (*create)();
  const char *expected;
};

class CreateUnderFailure : public ::testing::TestWithParam<CreateCase> {};

TEST_P(CreateUnderFailure, GivesTheStringOrNullAndLeaksNothing) {
  const CreateCase &c = GetParam();
  for (bool repeat : {false, true}) {
    const int runs = vantlow_test::SweepAllocationFailures(
        [&](long) {
          CFStringRef s = c.create();
          if (!s) return;
          EXPECT_EQ(TextOf(s), c.expected);
          CFRelease(s);
        },
        repeat);
    EXPECT_GT(runs, 1) << "no allocation was reached";
  }
}

const CreateCase kCreateCases[] = {
    {"with_c_string",
     [] {
       return CFStringCreateWithCString(nullptr, "a text long enough to need its own block",
                                        kCFStringEncodingUTF8);
     },
     "a text long enough to need its own block"},
    {"with_bytes_utf16",
     [] {
       return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>("\xfe\xff\x00\x61"),
                                      4, kCFStringEncodingUTF16, true);
     },
     "a"},
    {"copy",
     [] { return CFStringCreateCopy(nullptr, CFSTR("copied text long enough for a block")); },
     "copied text long enough for a block"},
    {"substring",
     [] {
       return CFStringCreateWithSubstring(nullptr, CFSTR("0123456789abcdefghij"),
                                          CFRangeMake(2, 12));
     },
     "23456789abcd"},
    {"mutable_copy",
     []() -> CFStringRef { return CFStringCreateMutableCopy(nullptr, 0, CFSTR("mutable")); },
     "mutable"},
    {"description", [] { return CFCopyDescription(CFSTR("described")); }, "described"},
};

INSTANTIATE_TEST_SUITE_P(CFString, CreateUnderFailure, ::testing::ValuesIn(kCreateCases),
                         string_test::RowName());

} // namespace
