// The format engine: printf directives as the C library prints them in the C
// locale, %@ and positional arguments, formats that do not match their
// arguments (copied as they stand, never read past the arguments), the
// no-locale rule under a comma locale, and allocation failure.
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include "string_test_util.h"
#include "test_support.h"

namespace {

using string_test::Owned;
using string_test::TextOf;
using vp_format::Capture;

std::string Format(const char *format, const std::vector<VPFormatArg> &args) {
  Owned f(CFStringCreateWithCString(nullptr, format, kCFStringEncodingUTF8));
  Owned s(VPStringCreateWithFormatArgs(nullptr, nullptr, f.get(), args.data(),
                                       static_cast<CFIndex>(args.size())));
  return s ? TextOf(s.get()) : std::string("<null>");
}

// What the C library prints in the C locale.
template <class... Args> std::string CPrintf(const char *format, Args... args) {
  char buffer[512];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::snprintf(buffer, sizeof buffer, format, args...);
#pragma GCC diagnostic pop
  return buffer;
}

// ---- A table of formats and what they give ----

struct FormatCase {
  const char *name;
  const char *format;
  std::vector<VPFormatArg> args;
  std::string expected;
};

class Directives : public ::testing::TestWithParam<FormatCase> {};

TEST_P(Directives, PrintAsExpected) {
  const FormatCase &c = GetParam();
  EXPECT_EQ(Format(c.format, c.args), c.expected) << "format: " << c.format;
}

const std::vector<FormatCase> &DirectiveCases() {
  static const std::vector<FormatCase> cases = {
      // What the plug-in itself formats.
      {"menu_identifier_base",
       "**%lu-%@-%lu",
       {Capture(77ul), Capture(CFSTR("org.x")), Capture(77ul)},
       "**77-org.x-77"},
      {"menu_identifier", "%@-%lu**", {Capture(CFSTR("**7-b-7")), Capture(3ul)}, "**7-b-7-3**"},
      {"bytes_unit", "%qu %@", {Capture(1023ull), Capture(CFSTR("Byte"))}, "1023 Byte"},
      {"qu_is_unsigned_64", "%qu", {Capture(18446744073709551615ull)}, "18446744073709551615"},
      {"tenths", "%.1f %@", {Capture(10.5), Capture(CFSTR("MB"))}, "10.5 MB"},
      {"ld_negative", "over %ld file(s)", {Capture(-3l)}, "over -3 file(s)"},
      {"all_lines", "%@\r%@\r", {Capture(CFSTR("a")), Capture(CFSTR("b"))}, "a\rb\r"},
      {"prefix_with_slash", "%@/", {Capture(CFSTR("/tmp"))}, "/tmp/"},
      // Integers convert as C's printf converts them.
      {"d_of_long_is_an_int", "%d", {Capture(4294967301l)}, "5"},
      {"lu_of_minus_one", "%lu", {Capture(-1l)}, "18446744073709551615"},
      {"u_of_minus_one", "%u", {Capture(-1)}, "4294967295"},
      {"hhd_wraps", "%hhd", {Capture(300)}, "44"},
      {"hu_wraps", "%hu", {Capture(70000)}, "4464"},
      {"d_of_unsigned", "%d", {Capture(4294967295u)}, "-1"},
      {"zu_jd_td",
       "%zu %jd %td",
       {Capture(std::size_t{7}), Capture(std::intmax_t{-8}), Capture(std::ptrdiff_t{9})},
       "7 -8 9"},
      {"i_and_bool", "%i %d", {Capture(-2), Capture(true)}, "-2 1"},
      {"percent", "100%% of %d", {Capture(5)}, "100% of 5"},
      // Text.
      {"s_utf8", "[%s]", {Capture("caf\xc3\xa9")}, "[caf\xc3\xa9]"},
      {"s_width_counts_characters", "[%5s]", {Capture("\xc3\xa9")}, "[    \xc3\xa9]"},
      {"s_precision_never_cuts_a_character", "[%.2s]", {Capture("a\xc3\xa9")}, "[a]"},
      {"s_null", "%s", {Capture(static_cast<const char *>(nullptr))}, "(null)"},
      {"object_null", "%@", {Capture(nullptr)}, "(null)"},
      {"object_width_and_precision", "[%-6.3@]", {Capture(CFSTR("abcdef"))}, "[abc   ]"},
      {"c_ascii", "%c", {Capture(65)}, "A"},
      {"c_above_ffff", "%c", {Capture(0x1F600)}, "\xf0\x9f\x98\x80"},
      {"p_null", "%p", {Capture(static_cast<const int *>(nullptr))}, "(nil)"},
      // Width and precision from the arguments.
      {"star_width", "[%*d]", {Capture(5), Capture(42)}, "[   42]"},
      {"negative_star_width_left_aligns", "[%*d]", {Capture(-5), Capture(42)}, "[42   ]"},
      {"star_precision", "%.*f", {Capture(2), Capture(3.14159)}, "3.14"},
      {"negative_star_precision_is_none", "%.*f", {Capture(-1), Capture(3.14159)}, "3.141590"},
      // Positions.
      {"positions_reordered", "%2$@ %1$@", {Capture(CFSTR("a")), Capture(CFSTR("b"))}, "b a"},
      {"position_reused", "%1$@%1$@", {Capture(CFSTR("ab"))}, "abab"},
      {"positional_count",
       "%2$lu files in %1$@",
       {Capture(CFSTR("x")), Capture(3ul)},
       "3 files in x"},
      {"positional_star_width", "[%1$*2$d]", {Capture(42), Capture(4)}, "[  42]"},
      {"fewer_directives_than_arguments", "%lu file(s)", {Capture(2ul), Capture(5ul)}, "2 file(s)"},
      // Formats that do not match their arguments: copied as they stand.
      {"too_many_directives", "%d and %d", {Capture(1)}, "1 and %d"},
      {"no_arguments", "%@ %s %lu", {}, "%@ %s %lu"},
      {"object_given_an_integer", "%@", {Capture(5)}, "%@"},
      {"string_given_an_object", "%s", {Capture(CFSTR("x"))}, "%s"},
      {"integer_given_a_double", "%d", {Capture(1.5)}, "%d"},
      {"double_given_an_integer", "%.1f", {Capture(3)}, "%.1f"},
      {"object_given_a_c_string", "%@", {Capture("text")}, "%@"},
      {"mismatch_keeps_later_arguments_in_place", "%@ %d", {Capture(5), Capture(7)}, "%@ 7"},
      {"position_past_the_arguments", "%3$d", {Capture(1), Capture(2)}, "%3$d"},
      {"position_zero", "%0$d", {Capture(1)}, "%0$d"},
      {"star_given_a_double", "%*d", {Capture(2.0), Capture(3)}, "%*d"},
      {"c_surrogate", "%c", {Capture(0xD800)}, "%c"},
      {"c_negative", "%c", {Capture(-1)}, "%c"},
      {"c_above_10ffff", "%c", {Capture(0x110000)}, "%c"},
      {"n_is_never_written", "%n", {Capture(static_cast<int *>(nullptr))}, "%n"},
      {"unknown_conversion", "%k%lk", {Capture(1)}, "%k%lk"},
      {"format_ends_in_percent", "50%", {Capture(1)}, "50%"},
      {"format_ends_in_directive", "a%-5", {Capture(1)}, "a%-5"},
      {"absurd_width", "%99999999d", {Capture(1)}, "%99999999d"},
      {"absurd_precision", "%.20000f", {Capture(1.0)}, "%.20000f"},
      {"absurd_star_width", "%*d", {Capture(1000000), Capture(1)}, "%*d"},
      {"wild_format", "%@%@%s%n%99999999d", {Capture(CFSTR("a")), Capture(5)}, "a%@%s%n%99999999d"},
  };
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Format, Directives, ::testing::ValuesIn(DirectiveCases()),
                         string_test::RowName());

TEST(Format, NullFormatGivesNull) {
  const VPFormatArg arg = Capture(1);
  EXPECT_EQ(VPStringCreateWithFormatArgs(nullptr, nullptr, nullptr, &arg, 1), nullptr);
  // A null argument list is an empty one.
  Owned s(VPStringCreateWithFormatArgs(nullptr, nullptr, CFSTR("%d"), nullptr, 3));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(TextOf(s.get()), "%d");
}

TEST(Format, VariadicCallCapturesEachArgumentKind) {
  const int number = 3;
  Owned s(CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%d|%u|%s|%@|%.2f|%c"), number, 4u,
                                   "five", CFSTR("six"), 7.0, 'A'));
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(TextOf(s.get()), "3|4|five|six|7.00|A");
}

TEST(Format, PointerPrintsAsTheCLibraryDoes) {
  int target = 0;
  EXPECT_EQ(Format("%p", {Capture(&target)}), CPrintf("%p", static_cast<void *>(&target)));
  EXPECT_EQ(Format("[%20p]", {Capture(&target)}), CPrintf("[%20p]", static_cast<void *>(&target)));
}

// ---- Against the C library, in the C locale ----

TEST(Format, IntegersMatchTheCLibrary) {
  const char *formats[] = {"%d",    "%5d",    "%-5d|",  "%05d",  "%+d",   "% d",
                           "%.3d",  "%8.3d",  "%-08d|", "%.0d",  "%x",    "%X",
                           "%#x",   "%#X",    "%#o",    "%o",    "%u",    "%#.0o",
                           "%8.4x", "%-+6d|", "%+05d",  "%#08x", "% 05d", "%0-5d|"};
  const int values[] = {
      0, 1, -1, 42, -42, 255, std::numeric_limits<int>::max(), std::numeric_limits<int>::min()};
  for (const char *format : formats) {
    for (int v : values) {
      // The C library takes an int for d and i, an unsigned int for the rest.
      const std::string expected = CPrintf(format, v);
      EXPECT_EQ(Format(format, {Capture(v)}), expected) << format << " of " << v;
    }
  }
  const char *longFormats[] = {"%lld", "%llu", "%llx", "%+lld", "%20lld", "%-21llu|", "%#llo"};
  const long long longValues[] = {0, -1, std::numeric_limits<long long>::min(),
                                  std::numeric_limits<long long>::max()};
  for (const char *format : longFormats)
    for (long long v : longValues)
      EXPECT_EQ(Format(format, {Capture(v)}), CPrintf(format, v)) << format << " of " << v;
}

TEST(Format, DoublesMatchTheCLibrary) {
  const char *formats[] = {"%f",     "%.1f",     "%.0f",   "%#.0f", "%e",      "%.3E", "%.0e",
                           "%#.0e",  "%g",       "%G",     "%#g",   "%.10g",   "%.0g", "%#.3g",
                           "%10.3f", "%-12.2e|", "%+.2f",  "% f",   "%010.2f", "%F",   "%.15g",
                           "%.17g",  "%+010.3g", "%-10G|", "%.20f", "%12.4e"};
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {0.0,
                           -0.0,
                           1.05,
                           0.05,
                           0.25,
                           0.35,
                           2.5,
                           9.995,
                           99.95,
                           1e-5,
                           0.0001,
                           123456789.125,
                           100000.0,
                           999999.5,
                           1e15,
                           1e300,
                           std::numeric_limits<double>::max(),
                           std::numeric_limits<double>::denorm_min(),
                           -3.75,
                           inf,
                           -inf,
                           std::nan("")};
  for (const char *format : formats)
    for (double v : values) {
      if (std::string(format) == "%#g" && v == 999999.5) continue; // see the next test
      EXPECT_EQ(Format(format, {Capture(v)}), CPrintf(format, v)) << format << " of " << v;
    }
}

// With '#', %g keeps its trailing zeros. When rounding carries into the next
// power of ten, the C library drops them (it prints "1.e+06"); the C
// standard's rule (style e, precision P - 1) keeps them, and so do we.
TEST(Format, AlternateGKeepsItsZerosWhenRoundingCarries) {
  struct Case {
    const char *format;
    double value;
    const char *expected;
  } cases[] = {
      {"%#g", 999999.5, "1.00000e+06"},
      {"%#.2g", 99.5, "1.0e+02"},
      {"%#.1g", 9.5, "1.e+01"},
      {"%g", 999999.5, "1e+06"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Format(c.format, {Capture(c.value)}), c.expected) << c.format << " of " << c.value;
}

TEST(Format, SizeTextTenthsMatchTheCLibrary) {
  // The size text shows a whole number of tenths divided by 10.0, and 1.05
  // (which is a little above 1.05 in binary) rounds up.
  for (unsigned long long tenths = 0; tenths < 20000; tenths += 7) {
    const double value = static_cast<double>(tenths) / 10.0;
    ASSERT_EQ(Format("%.1f", {Capture(value)}), CPrintf("%.1f", value)) << tenths;
  }
  EXPECT_EQ(Format("%.1f KB", {Capture(1.05)}), "1.1 KB");
}

// ---- No locale ----

// A locale whose decimal separator is a comma: an installed one, or one
// compiled into a temporary folder when the locale sources are present.
class CommaLocale : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8",
                             "nl_NL.UTF-8", "ru_RU.UTF-8", "de_DE", "fr_FR"}) {
      if (UseIfComma(name)) return;
    }
    // Latin 1 compiles much faster than UTF-8 and has the same separators.
    const std::string made = folder_.path() + "/de_DE.ISO-8859-1";
    const std::string command = "localedef -i de_DE -f ISO-8859-1 '" + made + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) == 0) {
      setenv("LOCPATH", folder_.path().c_str(), 1);
      usedLocpath_ = true;
      if (UseIfComma("de_DE.ISO-8859-1")) return;
    }
    GTEST_SKIP() << "no locale with a decimal comma is available";
  }

  void TearDown() override {
    std::setlocale(LC_ALL, "C");
    if (usedLocpath_) unsetenv("LOCPATH");
  }

private:
  bool UseIfComma(const char *name) {
    if (!std::setlocale(LC_ALL, name)) return false;
    if (std::string(std::localeconv()->decimal_point) == ",") return true;
    std::setlocale(LC_ALL, "C");
    return false;
  }

  vantlow_test::TempDir folder_;
  bool usedLocpath_ = false;
};

TEST_F(CommaLocale, NumbersStillUseAPointAndNoGrouping) {
  ASSERT_EQ(CPrintf("%.1f", 0.5), "0,5") << "the locale is not in effect";
  struct Case {
    const char *format;
    std::vector<VPFormatArg> args;
    const char *expected;
  } cases[] = {
      {"%.1f %@", {Capture(1234.5), Capture(CFSTR("KB"))}, "1234.5 KB"},
      {"%g", {Capture(0.5)}, "0.5"},
      {"%e", {Capture(1.5)}, "1.500000e+00"},
      {"%'d", {Capture(1234567)}, "1234567"},
      {"%lu", {Capture(1234567ul)}, "1234567"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Format(c.format, c.args), c.expected) << c.format;
}

// ---- Allocation failure ----

TEST(Format, GivesTheTextOrNullWhenAllocationFails) {
  const std::string expected =
      "Folder: 12.3 MB, 4 files, name [   x] 100% \xc3\xa9 " + std::string(40, '.');
  for (bool repeat : {false, true}) {
    const int runs = vantlow_test::SweepAllocationFailures(
        [&](long) {
          CFStringRef s = CFStringCreateWithFormat(
              nullptr, nullptr, CFSTR("%@: %.1f MB, %lu files, name [%4s] %d%% %c %@"),
              CFSTR("Folder"), 12.25 + 0.05, 4ul, "x", 100, 0xE9,
              CFSTR("........................................"));
          if (!s) return;
          EXPECT_EQ(TextOf(s), expected);
          CFRelease(s);
        },
        repeat);
    EXPECT_GT(runs, 1) << "no allocation was reached";
  }
}

} // namespace
