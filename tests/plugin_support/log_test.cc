// The diagnostics log: the exact lines, the phase names and the UTF-8
// conversion behind the file-item line.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include "autorelease_pool.h"
#include "log.h"
#include "status_codes.h"
#include "test_support.h"

namespace {

using vantlow_test::StdoutCapture;

TEST(Log, MessageLine) {
  StdoutCapture out;
  MyLogMessage("plain");
  MyLogMessage("ends with its own line feed\n");
  EXPECT_EQ(out.Take(), "Vantlow: plain\nVantlow: ends with its own line feed\n\n");
}

struct ErrorCase {
  const char *name;
  OSStatus err;
  UInt32 phase;
  std::string line;
};

// Rows print as their names in test listings.
void PrintTo(const ErrorCase &row, std::ostream *os) {
  *os << row.name;
}

class LogError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(LogError, PrintsExactLine) {
  const ErrorCase &c = GetParam();
  StdoutCapture out;
  MyLogError(c.err, c.phase);
  EXPECT_EQ(out.Take(), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LogError,
    ::testing::ValuesIn(std::vector<ErrorCase>{
        {"NoError", 0, 3, ""},
        {"NoBeep", kMyNoBeepErr, 3, ""},
        {"Negative", -50, 3, "Vantlow: execution fail: error=-50, phase is 'ExamineContext'\n"},
        {"MostNegative", INT32_MIN, 1,
         "Vantlow: execution fail: error=-2147483648, phase is 'Allocate'\n"},
        {"FourChars", kMyNilPointerErr, 4,
         "Vantlow: execution fail: error='NilP', phase is 'HandleSelection'\n"},
        {"LeadingZeroByteEndsTheText", 1, 2,
         "Vantlow: execution fail: error='', phase is 'Query'\n"},
        {"ZeroByteInside", 0x41004243, 5,
         "Vantlow: execution fail: error='A', phase is 'PostMenuCleanup'\n"},
        {"UnknownPhase", -108, 7, "Vantlow: execution fail: error=-108, phase is 'Undefined'\n"},
    }),
    [](const ::testing::TestParamInfo<ErrorCase> &row) { return std::string(row.param.name); });

TEST(Log, PhaseNames) {
  struct Case {
    UInt32 phase;
    const char *name;
  } cases[] = {{0, "Undefined"},
               {1, "Allocate"},
               {2, "Query"},
               {3, "ExamineContext"},
               {4, "HandleSelection"},
               {5, "PostMenuCleanup"},
               {6, "Dealloc"},
               {7, "Undefined"},
               {0x7FFFFFFF, "Undefined"},
               {static_cast<UInt32>(-1), "Undefined"}};
  for (const Case &c : cases)
    EXPECT_STREQ(GetPhaseName(c.phase), c.name) << c.phase;
}

TEST(Log, CreateUTF8CString) {
  const UniChar loneSurrogate[] = {'a', 0xDC80, 'b'};
  struct Case {
    const char *name;
    CFStringRef str; // owned by the case
    const char *expected;
  } cases[] = {
      {"null", nullptr, nullptr},
      {"empty", CFStringCreateWithCString(nullptr, "", kCFStringEncodingUTF8), ""},
      {"ascii", CFStringCreateWithCString(nullptr, "Permission denied", kCFStringEncodingUTF8),
       "Permission denied"},
      {"beyond ascii",
       CFStringCreateWithCString(nullptr, "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x81",
                                 kCFStringEncodingUTF8),
       "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x93\x81"},
      {"lone surrogate", CFStringCreateWithCharacters(nullptr, loneSurrogate, 3), "a?b"},
  };
  for (const Case &c : cases) {
    if (c.expected) {
      ASSERT_NE(c.str, nullptr) << c.name;
    }
    char *text = CreateUTF8CString(c.str);
    if (!c.expected) {
      EXPECT_EQ(text, nullptr) << c.name;
    } else {
      ASSERT_NE(text, nullptr) << c.name;
      EXPECT_STREQ(text, c.expected) << c.name;
    }
    free(text);
    if (c.str) CFRelease(c.str);
  }
}

TEST(Log, CreateUTF8CStringOutOfMemory) {
  CFStringRef str = CFStringCreateWithCString(nullptr, "text", kCFStringEncodingUTF8);
  ASSERT_NE(str, nullptr);
  vantlow_test::SweepAllocationFailures(
      [&](long) {
        char *text = CreateUTF8CString(str);
        if (text) {
          EXPECT_STREQ(text, "text");
        }
        free(text);
      },
      false);
  CFRelease(str);
}

TEST(Log, NullReferencesPrintNothing) {
  StdoutCapture out;
  MyLogPathForFSRef(CFSTR("Permission denied"), nullptr);
  MyLogPathForFSRef(nullptr, nullptr);
  EXPECT_EQ(out.Take(), "");
  EXPECT_EQ(CopyPathForRef(nullptr), nullptr);
}

// The line for a file-system item: the label, then the item's path as
// UTF-8 ('?' for a byte of the name that is not UTF-8).
TEST(Log, PathLines) {
  vantlow_test::TempDir dir;
  struct Case {
    const char *name;
    CFStringRef label;
    std::string labelShown;
    std::string file; // made in the temporary folder
    std::string shown;
  } cases[] = {
      {"ascii", CFSTR("Permission denied"), "Permission denied", "plain", "plain"},
      {"null label", nullptr, "", "plain", "plain"},
      {"beyond ascii", CFSTR("\xC3\xBC"), "\xC3\xBC", "caf\xC3\xA9 \xE2\x82\xAC",
       "caf\xC3\xA9 \xE2\x82\xAC"},
      {"not utf-8", CFSTR("x"), "x", "bad\xFFname", "bad?name"},
  };
  // The platform may show the folder through another spelling (without a
  // symbolic link); ask it for the one it uses.
  char real[4096];
  ASSERT_NE(realpath(dir.path().c_str(), real), nullptr);
  MyCFAutoreleasePool *pool = MyCFAutoreleasePoolCreate();
  for (const Case &c : cases) {
    std::string path = dir.MakeFile(c.file);
    FSRef ref;
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &ref, nullptr), noErr)
        << c.name;
    StdoutCapture out;
    MyLogPathForFSRef(c.label, &ref);
    EXPECT_EQ(out.Take(),
              "Vantlow: " + c.labelShown + ": " + std::string(real) + "/" + c.shown + "\n")
        << c.name;
  }
  MyCFAutoreleasePoolDispose(pool);
}

// Without a current pool the line is still printed, and the path made for
// it does not outlive the call.
TEST(Log, PathLineWithoutAPool) {
  vantlow_test::TempDir dir;
  std::string path = dir.MakeFile("item");
  FSRef ref;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &ref, nullptr), noErr);
  char real[4096];
  ASSERT_NE(realpath(path.c_str(), real), nullptr);
  long objects = VPLiveObjectCount();
  StdoutCapture out;
  MyLogPathForFSRef(CFSTR("Permission denied"), &ref);
  EXPECT_EQ(out.Take(), "Vantlow: Permission denied: " + std::string(real) + "\n");
  EXPECT_EQ(VPLiveObjectCount(), objects);
}

TEST(Log, PathLineOutOfMemory) {
  vantlow_test::TempDir dir;
  std::string path = dir.MakeFile("item");
  FSRef ref;
  ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &ref, nullptr), noErr);
  char real[4096];
  ASSERT_NE(realpath(path.c_str(), real), nullptr);
  const std::string line = "Vantlow: Permission denied: " + std::string(real) + "\n";
  vantlow_test::SweepAllocationFailures(
      [&](long n) {
        std::string printed;
        {
          StdoutCapture out;
          MyLogPathForFSRef(CFSTR("Permission denied"), &ref);
          printed = out.Take();
        }
        // The whole line or nothing.
        EXPECT_TRUE(printed.empty() || printed == line) << n << ": " << printed;
      },
      false);
}

} // namespace
