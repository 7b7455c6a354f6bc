// File URLs: how paths are made absolute and normalized, that file names
// which are not UTF-8 survive a trip through a URL byte for byte, and what
// a URL refuses.
#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

#include "test_support.h"

namespace {

std::string ToUTF8(CFStringRef s) {
  if (!s) return "<null>";
  char buf[4096];
  if (!CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingUTF8)) return "<unconvertible>";
  return buf;
}

std::string PathOf(CFURLRef url) {
  if (!url) return "<null>";
  UInt8 buf[4096];
  if (!CFURLGetFileSystemRepresentation(url, true, buf, sizeof buf)) return "<too long>";
  return reinterpret_cast<char *>(buf);
}

CFURLRef URLFromBytes(const std::string &bytes, bool isDirectory = false) {
  return CFURLCreateFromFileSystemRepresentation(nullptr,
                                                 reinterpret_cast<const UInt8 *>(bytes.data()),
                                                 static_cast<CFIndex>(bytes.size()), isDirectory);
}

// Runs with the current directory set to <temp>/work/here, restored after.
class InWorkDir : public ::testing::Test {
protected:
  void SetUp() override {
    char buf[4096];
    ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
    saved_ = buf;
    ASSERT_EQ(chdir(temp_.MakeDir("work/here").c_str()), 0);
    // As the system spells it (a temporary folder may lie behind a link).
    ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
    here_ = buf;
    top_ = here_.substr(0, here_.size() - std::string("/work/here").size());
  }
  void TearDown() override {
    ASSERT_EQ(chdir(saved_.c_str()), 0);
    VPSyscallReset();
  }
  // The expected path with "$CWD" replaced by the working folder and
  // "$TMP" by the temporary folder above it.
  std::string Expand(std::string text) const {
    for (const auto &[token, value] :
         {std::pair<std::string, std::string>{"$CWD", here_}, {"$TMP", top_}}) {
      for (size_t at; (at = text.find(token)) != std::string::npos;)
        text.replace(at, token.size(), value);
    }
    return text;
  }

  vantlow_test::TempDir temp_;
  std::string saved_, here_, top_;
};

struct NormalizeCase {
  const char *name;
  const char *input;
  const char *expected; // null: refused
};

const NormalizeCase kNormalizeCases[] = {
    {"Root", "/", "/"},
    {"Plain", "/a/b", "/a/b"},
    {"TrailingSlash", "/a/b/", "/a/b"},
    {"RepeatedSlashes", "//a///b//", "/a/b"},
    {"DotComponents", "/a/./b/.", "/a/b"},
    {"DotDotRemovesOne", "/a/b/../c", "/a/c"},
    {"DotDotAtEnd", "/a/b/..", "/a"},
    {"DotDotStopsAtRoot", "/a/../../..", "/"},
    {"DotDotFromRoot", "/..", "/"},
    {"DotsInNamesAreNames", "/a/.../..b/c..", "/a/.../..b/c.."},
    {"HiddenName", "/a/.config", "/a/.config"},
    {"RelativeName", "x", "$CWD/x"},
    {"RelativeNested", "x/y/", "$CWD/x/y"},
    {"RelativeDot", ".", "$CWD"},
    {"RelativeParent", "../z", "$TMP/work/z"},
    {"RelativeAboveEverything", "../../../../../../../../../../../..", "/"},
    {"Empty", "", nullptr},
};

class URLNormalize : public InWorkDir, public ::testing::WithParamInterface<NormalizeCase> {};

TEST_P(URLNormalize, PathComesBackAbsoluteAndNormalized) {
  const NormalizeCase &c = GetParam();
  CFStringRef input = CFStringCreateWithCString(nullptr, c.input, kCFStringEncodingUTF8);
  ASSERT_NE(input, nullptr);
  CFURLRef url = CFURLCreateWithFileSystemPath(nullptr, input, kCFURLPOSIXPathStyle, false);
  CFRelease(input);
  if (!c.expected) {
    EXPECT_EQ(url, nullptr);
    return;
  }
  ASSERT_NE(url, nullptr);
  CFStringRef path = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);
  EXPECT_EQ(ToUTF8(path), Expand(c.expected));
  EXPECT_EQ(PathOf(url), Expand(c.expected));
  if (path) CFRelease(path);
  CFRelease(url);
}

INSTANTIATE_TEST_SUITE_P(Table, URLNormalize, ::testing::ValuesIn(kNormalizeCases),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(InWorkDir, RelativePathIsResolvedWhenMadeNotWhenRead) {
  CFURLRef url = URLFromBytes("file");
  ASSERT_NE(url, nullptr);
  ASSERT_EQ(chdir(temp_.path().c_str()), 0);
  EXPECT_EQ(PathOf(url), here_ + "/file");
  CFRelease(url);
}

TEST_F(InWorkDir, UnreadableCurrentFolderRefusesOnlyRelativePaths) {
  ASSERT_TRUE(VPSyscallFail("getcwd", 1, EACCES, true, nullptr));
  EXPECT_EQ(URLFromBytes("relative"), nullptr);
  CFURLRef absolute = URLFromBytes("/abs/olute");
  EXPECT_EQ(PathOf(absolute), "/abs/olute");
  if (absolute) CFRelease(absolute);
}

struct ByteNameCase {
  const char *name;
  std::string bytes;
};

const ByteNameCase kByteNames[] = {
    {"ValidUTF8", "/tmp/caf\xC3\xA9/\xE2\x82\xAC"},
    {"LoneHighByte", "/tmp/\xFF/name"},
    {"Latin1Name", "/tmp/na\xEFve.txt"},
    {"TruncatedSequence", "/tmp/\xE2\x82"},
    {"OverlongSlash", "/tmp/\xC0\xAF"},
    {"EncodedSurrogate", "/tmp/\xED\xA0\x80"},
    {"BytesThatLookLikeTheMapping", "/tmp/\xED\xB3\xBF"},
};

class URLByteNames : public ::testing::TestWithParam<ByteNameCase> {};

TEST_P(URLByteNames, RoundTripThroughStringAndURLKeepsEveryByte) {
  const std::string &bytes = GetParam().bytes;
  CFURLRef first = URLFromBytes(bytes);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(PathOf(first), bytes);

  CFStringRef path = CFURLCopyFileSystemPath(first, kCFURLPOSIXPathStyle);
  ASSERT_NE(path, nullptr);
  CFURLRef second = CFURLCreateWithFileSystemPath(nullptr, path, kCFURLPOSIXPathStyle, false);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(PathOf(second), bytes);
  EXPECT_TRUE(CFEqual(first, second));
  EXPECT_EQ(CFHash(first), CFHash(second));
  CFRelease(second);
  CFRelease(path);
  CFRelease(first);
}

INSTANTIATE_TEST_SUITE_P(Table, URLByteNames, ::testing::ValuesIn(kByteNames),
                         [](const auto &row) { return std::string(row.param.name); });

TEST(URL, RefusesWhatNamesNoPath) {
  const std::string withNul("/a\0b", 4);
  EXPECT_EQ(URLFromBytes(withNul), nullptr);
  EXPECT_EQ(CFURLCreateFromFileSystemRepresentation(nullptr, nullptr, 3, false), nullptr);
  EXPECT_EQ(CFURLCreateFromFileSystemRepresentation(nullptr, reinterpret_cast<const UInt8 *>("/a"),
                                                    -1, false),
            nullptr);
  EXPECT_EQ(CFURLCreateWithFileSystemPath(nullptr, nullptr, kCFURLPOSIXPathStyle, false), nullptr);
  EXPECT_EQ(
      CFURLCreateWithFileSystemPath(nullptr, CFSTR("/a"), static_cast<CFURLPathStyle>(2), false),
      nullptr);
  // A string is not a URL.
  EXPECT_EQ(CFURLCopyFileSystemPath(reinterpret_cast<CFURLRef>(CFSTR("/a")), kCFURLPOSIXPathStyle),
            nullptr);
}

TEST(URL, FileSystemRepresentationNeedsRoomForTheTerminator) {
  CFURLRef url = URLFromBytes("/abc");
  ASSERT_NE(url, nullptr);
  UInt8 buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_FALSE(CFURLGetFileSystemRepresentation(url, true, buf, 4));
  EXPECT_TRUE(CFURLGetFileSystemRepresentation(url, true, buf, 5));
  EXPECT_STREQ(reinterpret_cast<char *>(buf), "/abc");
  EXPECT_FALSE(CFURLGetFileSystemRepresentation(url, true, nullptr, 5));
  CFRelease(url);
}

TEST(URL, EqualityFollowsThePathNotItsSpelling) {
  CFURLRef a = URLFromBytes("/x/./y//z/");
  CFURLRef b = URLFromBytes("/x/y/z", true);
  CFURLRef c = URLFromBytes("/x/y/zz");
  ASSERT_TRUE(a && b && c);
  EXPECT_TRUE(CFEqual(a, b));
  EXPECT_EQ(CFHash(a), CFHash(b));
  EXPECT_FALSE(CFEqual(a, c));
  EXPECT_EQ(CFGetTypeID(a), CFURLGetTypeID());
  CFRelease(a);
  CFRelease(b);
  CFRelease(c);
}

TEST(URL, DescriptionIsAPercentEncodedFileURL) {
  CFURLRef folder = URLFromBytes("/a b/\xFF%", true);
  CFURLRef file = URLFromBytes("/a b/\xFF%");
  ASSERT_TRUE(folder && file);
  CFStringRef d1 = CFCopyDescription(folder);
  CFStringRef d2 = CFCopyDescription(file);
  EXPECT_EQ(ToUTF8(d1), "file:///a%20b/%FF%25/");
  EXPECT_EQ(ToUTF8(d2), "file:///a%20b/%FF%25");
  if (d1) CFRelease(d1);
  if (d2) CFRelease(d2);
  CFRelease(folder);
  CFRelease(file);
}

TEST(URL, AllocationFailuresGiveNullAndLeakNothing) {
  int runs = vantlow_test::SweepAllocationFailures(
      [](long) {
        CFStringRef input =
            CFStringCreateWithCString(nullptr, "rel/../ative/\xC3\xA9", kCFStringEncodingUTF8);
        if (!input) return;
        CFURLRef url = CFURLCreateWithFileSystemPath(nullptr, input, kCFURLPOSIXPathStyle, false);
        CFRelease(input);
        if (!url) return;
        CFStringRef path = CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle);
        if (path) {
          EXPECT_NE(ToUTF8(path).find("/ative/\xC3\xA9"), std::string::npos);
          CFRelease(path);
        }
        CFRelease(url);
      },
      false);
  EXPECT_GT(runs, 4) << "the sweep reached too few allocations";
}

} // namespace
