// The size and count text: the unit and comma renderings against their
// tables, which key and which figures each line maker hands to the bundle's
// strings (through a fixture bundle whose texts print every argument), the
// placeholder, the all-sizes text, and every line maker under allocation
// failure.
#include <cstdint>
#include <functional>
#include <string>

#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include "autorelease_pool.h"
#include "size_text.h"
#include "test_support.h"

namespace {

using vantlow_test::SweepAllocationFailures;
using vantlow_test::TempDir;

constexpr UInt64 kKiB = UInt64{1} << 10;
constexpr UInt64 kMiB = UInt64{1} << 20;
constexpr UInt64 kGiB = UInt64{1} << 30;
constexpr UInt64 kMax = UINT64_MAX;

std::string Text(CFStringRef s) {
  if (!s) return "<null>";
  char buf[1024];
  if (!CFStringGetCString(s, buf, sizeof buf, kCFStringEncodingUTF8)) return "<unconvertible>";
  return buf;
}

// Takes over a Create/Copy result: its text, and it is released.
std::string Take(CFStringRef s) {
  std::string text = Text(s);
  if (s) CFRelease(s);
  return text;
}

// Names each instance of a parameterized test after its row.
struct RowNamer {
  template <class Row> std::string operator()(const ::testing::TestParamInfo<Row> &row) const {
    return row.param.name;
  }
};
constexpr RowNamer RowName;

// ---- The two number renderings ----

struct RenderCase {
  const char *name;
  UInt64 bytes;
  const char *text;
};

class UnitText : public ::testing::TestWithParam<RenderCase> {};

TEST_P(UnitText, TruncatesToTheLargestUnitBelowTheSize) {
  EXPECT_EQ(Take(CopyBytesStringWithUnit(GetParam().bytes)), GetParam().text);
}

const RenderCase kUnitCases[] = {
    {"Zero", 0, "0 Byte"},
    {"LargestByteCount", kKiB - 1, "1023 Byte"},
    {"OneKilobyte", kKiB, "1 KB"},
    {"KilobytesAreTruncated", 2 * kKiB - 1, "1 KB"},
    {"LargestKilobyteCount", kMiB - 1, "1023 KB"},
    {"OneMegabyte", kMiB, "1.0 MB"},
    {"HalfMegabyte", kMiB + kMiB / 2, "1.5 MB"},
    {"TenthsAreTruncatedNotRounded", 10 * kMiB - 1, "9.9 MB"},
    {"LargestMegabyteCount", kGiB - 1, "1023.9 MB"},
    {"OneGigabyte", kGiB, "1.0 GB"},
    {"HalfGigabyte", kGiB + kGiB / 2, "1.5 GB"},
    {"GigabytesGoOnPast1024", UInt64{1} << 40, "1024.0 GB"},
    {"LargestSizeDoesNotOverflow", kMax, "17179869183.9 GB"},
};
INSTANTIATE_TEST_SUITE_P(Table, UnitText, ::testing::ValuesIn(kUnitCases), RowName);

class CommaText : public ::testing::TestWithParam<RenderCase> {};

TEST_P(CommaText, GroupsThreeDigitsFromTheRight) {
  EXPECT_EQ(Take(CopyBytesStringWithComma(GetParam().bytes)), GetParam().text);
}

const RenderCase kCommaCases[] = {
    {"Zero", 0, "0"},
    {"ThreeDigitsHaveNoComma", 999, "999"},
    {"FourDigits", 1000, "1,000"},
    {"FiveDigits", 65536, "65,536"},
    {"SixDigits", 100000, "100,000"},
    {"SevenDigits", 1000000, "1,000,000"},
    {"LargestSize", kMax, "18,446,744,073,709,551,615"},
};
INSTANTIATE_TEST_SUITE_P(Table, CommaText, ::testing::ValuesIn(kCommaCases), RowName);

// ---- Lines made through the bundle's strings ----

// A bundle whose strings print every argument they receive, in the order
// received, and tell the complete keys from the incomplete ones. The count
// texts name their arguments by position, so each one is seen at its place.
class SizeLines : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir();
    dir_->MakeFile(
        "Lines.plugin/Contents/Info.plist",
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
        "  <key>CFBundleIdentifier</key>\n  <string>org.vantlow.test.size-text</string>\n"
        "</dict>\n</plist>\n");
    dir_->MakeFile("Lines.plugin/Contents/Resources/English.lproj/Localizable.strings",
                   "\"%ld file(s)\" = \"count %1$ld/%2$ld/%3$ld/%4$ld\";\n"
                   "\"over %ld file(s)\" = \"over %1$ld/%2$ld/%3$ld/%4$ld\";\n"
                   "\"TotalFormat\" = \"total %@ (%@)\";\n"
                   "\"TotalFormat2\" = \"total over %@ (%@)\";\n"
                   "\"DataFormat\" = \"data %@ (%@)\";\n"
                   "\"DataFormat2\" = \"data over %@ (%@)\";\n"
                   "\"RsrcFormat\" = \"rsrc %@ (%@)\";\n"
                   "\"RsrcFormat2\" = \"rsrc over %@ (%@)\";\n");
    std::string root = dir_->path() + "/Lines.plugin";
    CFURLRef url = CFURLCreateFromFileSystemRepresentation(
        nullptr, reinterpret_cast<const UInt8 *>(root.data()), static_cast<CFIndex>(root.size()),
        true);
    bundle_ = CFBundleCreate(nullptr, url);
    if (url) CFRelease(url);
  }
  static void TearDownTestSuite() {
    // The registry keeps its own reference for the life of the process.
    if (bundle_) CFRelease(bundle_);
    bundle_ = nullptr;
    delete dir_;
    dir_ = nullptr;
  }

  void SetUp() override {
    ASSERT_NE(bundle_, nullptr) << "the fixture bundle could not be made";
    pool_ = MyCFAutoreleasePoolCreate();
    ASSERT_NE(pool_, nullptr);
  }
  void TearDown() override { MyCFAutoreleasePoolDispose(pool_); }

  static TempDir *dir_;
  static CFBundleRef bundle_;
  MyCFAutoreleasePool *pool_ = nullptr;
};
TempDir *SizeLines::dir_ = nullptr;
CFBundleRef SizeLines::bundle_ = nullptr;

// Three files, one of them invisible, in two folders; the four totals
// chosen so every line tells its forks apart.
MyFileSizeData Figures(bool complete) {
  MyFileSizeData data{};
  data.fileCount = 3;
  data.invisibleFileCount = 1;
  data.folderCount = 2;
  data.invisibleFolderCount = 0;
  data.dataPhysicalTotal = 4096;
  data.dataLogicalTotal = 1024;
  data.rsrcPhysicalTotal = 0;
  data.rsrcLogicalTotal = 0;
  data.complete = complete;
  return data;
}

TEST_F(SizeLines, PlaceholderIsDummyWhateverTheFigures) {
  MyFileSizeData data = Figures(true);
  EXPECT_EQ(Take(CreateItemCountString(&data, bundle_, true)), "Dummy");
  for (SInt32 command : {kCmdTotalSize, kCmdDataSize, kCmdRsrcSize})
    EXPECT_EQ(Take(CreateFileSizeString(&data, bundle_, command, true)), "Dummy") << command;
  // Nothing else is read: not even the record.
  EXPECT_EQ(Take(CreateItemCountString(nullptr, nullptr, true)), "Dummy");
  EXPECT_EQ(Take(CreateFileSizeString(nullptr, nullptr, kCmdDataSize, true)), "Dummy");
}

TEST_F(SizeLines, CountFormatReceivesTheFourCountsInOrder) {
  MyFileSizeData data = Figures(true);
  data.invisibleFolderCount = 1;
  EXPECT_EQ(Take(CreateItemCountString(&data, bundle_, false)), "count 3/1/2/1");
  data.complete = false;
  EXPECT_EQ(Take(CreateItemCountString(&data, bundle_, false)), "over 3/1/2/1");
}

TEST_F(SizeLines, DefaultCountTextShowsTheFileCount) {
  // Without a strings table each key is its own text.
  MyFileSizeData data = Figures(true);
  EXPECT_EQ(Take(CreateItemCountString(&data, nullptr, false)), "3 file(s)");
  data.complete = false;
  EXPECT_EQ(Take(CreateItemCountString(&data, nullptr, false)), "over 3 file(s)");
}

struct SizeLineCase {
  const char *name;
  MyFileSizeData data;
  SInt32 command;
  const char *text;
};

class SizeLine : public SizeLines, public ::testing::WithParamInterface<SizeLineCase> {};

TEST_P(SizeLine, ShowsThePhysicalWithUnitAndTheLogicalWithCommas) {
  EXPECT_EQ(Take(CreateFileSizeString(&GetParam().data, bundle_, GetParam().command, false)),
            GetParam().text);
}

MyFileSizeData WithTotals(UInt64 dataPhysical, UInt64 dataLogical, UInt64 rsrcPhysical,
                          UInt64 rsrcLogical, bool complete = true) {
  MyFileSizeData data = Figures(complete);
  data.dataPhysicalTotal = dataPhysical;
  data.dataLogicalTotal = dataLogical;
  data.rsrcPhysicalTotal = rsrcPhysical;
  data.rsrcLogicalTotal = rsrcLogical;
  return data;
}

const SizeLineCase kSizeLineCases[] = {
    {"DataFork", Figures(true), kCmdDataSize, "data 4 KB (1,024)"},
    {"EmptyResourceFork", Figures(true), kCmdRsrcSize, "rsrc 0 Byte (0)"},
    {"TotalOfOneFork", Figures(true), kCmdTotalSize, "total 4 KB (1,024)"},
    // The total adds the forks before it picks a unit.
    {"TotalAddsBeforeConverting", WithTotals(kMiB - 1, 999, 1, 1), kCmdTotalSize,
     "total 1.0 MB (1,000)"},
    {"DataForkOfThatTotal", WithTotals(kMiB - 1, 999, 1, 1), kCmdDataSize, "data 1023 KB (999)"},
    {"ResourceForkOfThatTotal", WithTotals(kMiB - 1, 999, 1, 1), kCmdRsrcSize, "rsrc 1 Byte (1)"},
    {"IncompleteTotal", Figures(false), kCmdTotalSize, "total over 4 KB (1,024)"},
    {"IncompleteDataFork", Figures(false), kCmdDataSize, "data over 4 KB (1,024)"},
    {"IncompleteResourceFork", WithTotals(0, 0, 8192, 5000, false), kCmdRsrcSize,
     "rsrc over 8 KB (5,000)"},
    {"OtherCommandHasNoLine", Figures(true), kCmdItemCount, "<null>"},
};
INSTANTIATE_TEST_SUITE_P(Table, SizeLine, ::testing::ValuesIn(kSizeLineCases), RowName);

TEST_F(SizeLines, SizeKeysWithoutATableShowAsTheirNames) {
  MyFileSizeData data = Figures(true);
  EXPECT_EQ(Take(CreateFileSizeString(&data, nullptr, kCmdDataSize, false)), "DataFormat");
}

TEST_F(SizeLines, AllSizesAreFourLinesEachEndedByACarriageReturn) {
  MyFileSizeData data = Figures(true);
  std::string all = Take(CreateAllSizeString(&data, bundle_));
  EXPECT_EQ(all, "count 3/1/2/0\rtotal 4 KB (1,024)\rdata 4 KB (1,024)\rrsrc 0 Byte (0)\r");
  EXPECT_EQ(all.find('\n'), std::string::npos);
}

// ---- Allocation failures ----

struct MakerCase {
  const char *name;
  std::function<CFStringRef(CFBundleRef)> make;
};

class LineMakerUnderFailure : public SizeLines, public ::testing::WithParamInterface<MakerCase> {};

// Each run gives either the full line or null, and leaves nothing behind
// (the count format goes to a pool made and disposed inside the run).
TEST_P(LineMakerUnderFailure, GivesTheWholeLineOrNull) {
  const MakerCase &c = GetParam();
  std::string expected = Take(c.make(bundle_)); // also makes the constants once
  ASSERT_NE(expected, "<null>");
  for (bool repeat : {false, true}) {
    int nulls = 0; // runs in which the failure reached the maker itself
    SweepAllocationFailures(
        [&](long n) {
          MyCFAutoreleasePool *pool = MyCFAutoreleasePoolCreate();
          if (!pool) return;
          std::string got = Take(c.make(bundle_));
          MyCFAutoreleasePoolDispose(pool);
          if (got == "<null>") {
            ++nulls;
          } else {
            EXPECT_EQ(got, expected) << "allocation " << n << " failing";
          }
        },
        repeat);
    EXPECT_GT(nulls, 0);
  }
}

const MyFileSizeData kSweepData = WithTotals(3 * kGiB + 17, 3221225489, 123456, 120000, true);

const MakerCase kMakerCases[] = {
    {"CountLine", [](CFBundleRef b) { return CreateItemCountString(&kSweepData, b, false); }},
    {"TotalLine",
     [](CFBundleRef b) { return CreateFileSizeString(&kSweepData, b, kCmdTotalSize, false); }},
    {"DataLine",
     [](CFBundleRef b) { return CreateFileSizeString(&kSweepData, b, kCmdDataSize, false); }},
    {"RsrcLine",
     [](CFBundleRef b) { return CreateFileSizeString(&kSweepData, b, kCmdRsrcSize, false); }},
    {"Placeholder",
     [](CFBundleRef b) { return CreateFileSizeString(&kSweepData, b, kCmdRsrcSize, true); }},
    {"AllSizes", [](CFBundleRef b) { return CreateAllSizeString(&kSweepData, b); }},
    {"UnitText", [](CFBundleRef) { return CopyBytesStringWithUnit(kMax); }},
    {"CommaText", [](CFBundleRef) { return CopyBytesStringWithComma(kMax); }},
};
INSTANTIATE_TEST_SUITE_P(Table, LineMakerUnderFailure, ::testing::ValuesIn(kMakerCases), RowName);

} // namespace
