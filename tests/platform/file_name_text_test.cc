// The lossless mapping between file-name bytes and CFString text: any byte
// string survives decoding and encoding unchanged, bytes of invalid UTF-8
// show as U+DC80..U+DCFF, and text for people shows them as the loss byte.
#include <cstring>
#include <string>
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

Owned Decode(const std::string &bytes) {
  return Owned(VPStringCreateWithFileSystemBytes(
      nullptr, reinterpret_cast<const UInt8 *>(bytes.data()), static_cast<CFIndex>(bytes.size())));
}

// The file-system bytes of s, or "<refused>".
std::string Encode(CFStringRef s) {
  const CFIndex length = VPStringGetFileSystemRepresentationLength(s);
  std::vector<char> buffer(static_cast<std::size_t>(length) + 1, 'Z');
  if (!CFStringGetFileSystemRepresentation(s, buffer.data(), length + 1)) return "<refused>";
  EXPECT_EQ(buffer[static_cast<std::size_t>(length)], '\0');
  return std::string(buffer.data(), static_cast<std::size_t>(length));
}

struct NameCase {
  const char *name;
  std::string bytes;
  std::u16string units;
  std::string forPeople; // UTF-8 with the loss byte '?'
};

class FileNameRoundTrip : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileNameRoundTrip, DecodesToTheUnitsAndEncodesToTheSameBytes) {
  const NameCase &c = GetParam();
  Owned s(CFStringCreateWithFileSystemRepresentation(nullptr, c.bytes.c_str()));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Escaped(UnitsOf(s.get())), Escaped(c.units));
  EXPECT_EQ(Encode(s.get()), c.bytes);
  EXPECT_EQ(TextOf(s.get()), c.forPeople);
}

const NameCase kNameCases[] = {
    {"valid_two_byte", "caf\xc3\xa9", u"caf\u00e9", "caf\xc3\xa9"},
    {"lone_high_byte", "\xff", u"\xDCFF", "?"},
    {"truncated_sequence", "a\xc3", u"a\xDCC3", "a?"},
    {"encoded_surrogate", "\xed\xa0\x80", u"\xDCED\xDCA0\xDC80", "???"},
    {"overlong", "\xc0\xaf", u"\xDCC0\xDCAF", "??"},
    {"above_10ffff", "\xf4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80", "????"},
    {"valid_emoji", "\xf0\x9f\x98\x80", u"\xD83D\xDE00", "\xf0\x9f\x98\x80"},
    {"stray_continuation",
     "\x80"
     "abc",
     u"\xDC80"
     u"abc",
     "?abc"},
    {"valid_then_stray", "\xc3\xa9\xa9", u"\u00e9\xDCA9", "\xc3\xa9?"},
    {"truncated_three_byte", "\xe2\x82", u"\xDCE2\xDC82", "??"},
    {"latin1_path",
     "/tmp/Gr\xfc\xdf"
     "e/x",
     u"/tmp/Gr\xDCFC\xDCDF"
     u"e/x",
     "/tmp/Gr??e/x"},
    {"empty", "", u"", ""},
};

INSTANTIATE_TEST_SUITE_P(FileNames, FileNameRoundTrip, ::testing::ValuesIn(kNameCases),
                         string_test::RowName());

// Every string of one or two bytes, and three- and four-byte strings built
// around every lead byte and the boundaries of the continuation ranges.
TEST(FileNames, EveryShortByteStringRoundTrips) {
  std::vector<std::string> inputs;
  for (int a = 0; a < 256; ++a) {
    inputs.push_back(std::string(1, static_cast<char>(a)));
    for (int b = 0; b < 256; ++b)
      inputs.push_back({static_cast<char>(a), static_cast<char>(b)});
  }
  const unsigned char seconds[] = {0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
  const unsigned char thirds[] = {0x41, 0x80, 0xBF, 0xC2};
  for (int lead = 0xC0; lead < 0x100; ++lead)
    for (unsigned char second : seconds)
      for (unsigned char third : thirds)
        for (int fourth : {-1, 0x80, 0xBF, 0x30}) {
          std::string s = {static_cast<char>(lead), static_cast<char>(second),
                           static_cast<char>(third)};
          if (fourth >= 0) s.push_back(static_cast<char>(fourth));
          inputs.push_back(s);
        }
  int failures = 0;
  for (const std::string &bytes : inputs) {
    Owned s = Decode(bytes);
    ASSERT_NE(s, nullptr);
    if (bytes.find('\0') != std::string::npos) {
      // A zero byte decodes but names no file.
      EXPECT_EQ(Encode(s.get()), "<refused>");
      continue;
    }
    const std::string back = Encode(s.get());
    if (back != bytes && ++failures <= 10) {
      ADD_FAILURE() << "bytes do not survive: " << Escaped(UnitsOf(s.get()));
    }
  }
  EXPECT_EQ(failures, 0);
}

TEST(FileNames, DecodingAgreesWithStrictUTF8WhereTheBytesAreValid) {
  for (const char *text : {"plain", "caf\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80 x"}) {
    Owned strict(CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8));
    Owned name(CFStringCreateWithFileSystemRepresentation(nullptr, text));
    EXPECT_TRUE(CFEqual(strict.get(), name.get())) << text;
  }
}

TEST(FileNames, OtherLoneSurrogatesEncodeAsThreeBytes) {
  struct Case {
    const char *name;
    std::u16string units;
    std::string bytes;
  } cases[] = {
      {"high", u"\xD800", "\xed\xa0\x80"},        {"low_below_dc80", u"\xDC41", "\xed\xb1\x81"},
      {"highest_low", u"\xDFFF", "\xed\xbf\xbf"}, {"high_at_end", u"a\xD83D", "a\xed\xa0\xbd"},
      {"mapped_byte", u"\xDC80", "\x80"},
  };
  for (const Case &c : cases) {
    Owned s = FromUnits(c.units);
    EXPECT_EQ(Encode(s.get()), c.bytes) << c.name;
    EXPECT_EQ(VPStringGetFileSystemRepresentationLength(s.get()),
              static_cast<CFIndex>(c.bytes.size()))
        << c.name;
  }
}

TEST(FileNames, RepresentationNeedsRoomForTheTerminatorAndNoZero) {
  Owned name = Decode("ab\xff");
  char buffer[8];
  std::memset(buffer, 'Z', sizeof buffer);
  EXPECT_FALSE(CFStringGetFileSystemRepresentation(name.get(), buffer, 3));
  EXPECT_EQ(buffer[0], '\0') << "a refused buffer is left empty";
  EXPECT_TRUE(CFStringGetFileSystemRepresentation(name.get(), buffer, 4));
  EXPECT_EQ(std::string(buffer), "ab\xff");

  Owned withZero = FromUnits(std::u16string(u"a\0b", 3));
  EXPECT_FALSE(CFStringGetFileSystemRepresentation(withZero.get(), buffer, sizeof buffer));
  EXPECT_FALSE(CFStringGetFileSystemRepresentation(nullptr, buffer, sizeof buffer));
  EXPECT_FALSE(CFStringGetFileSystemRepresentation(name.get(), buffer, 0));
  EXPECT_EQ(VPStringGetFileSystemRepresentationLength(nullptr), 0);
  EXPECT_EQ(CFStringCreateWithFileSystemRepresentation(nullptr, nullptr), nullptr);
  EXPECT_EQ(VPStringCreateWithFileSystemBytes(nullptr, nullptr, 1), nullptr);
  EXPECT_EQ(VPStringCreateWithFileSystemBytes(nullptr, reinterpret_cast<const UInt8 *>("a"), -1),
            nullptr);
}

TEST(FileNames, ConstantWithInvalidUTF8KeepsItsBytes) {
  EXPECT_EQ(Encode(CFSTR("x\xff")), "x\xff");
}

TEST(FileNames, DecodingGivesTheNameOrNullWhenAllocationFails) {
  const std::string bytes = "/a/folder name long enough for a block/\xff\xfe/caf\xc3\xa9";
  const int runs = vantlow_test::SweepAllocationFailures(
      [&](long) {
        CFStringRef s = CFStringCreateWithFileSystemRepresentation(nullptr, bytes.c_str());
        if (!s) return;
        EXPECT_EQ(Encode(s), bytes);
        CFRelease(s);
      },
      false);
  EXPECT_GT(runs, 1) << "no allocation was reached";
}

} // namespace
