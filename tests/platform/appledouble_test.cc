// Resource forks from AppleDouble files "._<name>": a well-formed file gives
// its resource-fork entry's length, rounded up to the volume's fragment size
// for the physical size; every malformed or hostile one gives no fork
// without reading past what it holds; and a sidecar that cannot be read is
// an error, not a silent zero.
#include "files_test_util.h"

#include <cerrno>
#include <sys/statvfs.h>
#include <tuple>

namespace {

using namespace files_test;

constexpr uint32_t kAppleDouble = 0x00051607;
constexpr uint32_t kAppleSingle = 0x00051600;
constexpr uint32_t kVersion2 = 0x00020000;

void PutBigEndian(std::string &out, uint32_t value, int bytes) {
  for (int i = bytes - 1; i >= 0; --i)
    out.push_back(static_cast<char>(value >> (8 * i)));
}

struct EntrySpec {
  uint32_t id, offset, length;
};

// An AppleDouble file: header, entry table, then filler up to total bytes.
// count overrides the entry count written in the header.
std::string AppleDouble(const std::vector<EntrySpec> &entries, size_t total,
                        uint32_t magic = kAppleDouble, uint32_t version = kVersion2,
                        int count = -1) {
  std::string bytes;
  PutBigEndian(bytes, magic, 4);
  PutBigEndian(bytes, version, 4);
  bytes.append(16, '\0');
  PutBigEndian(bytes,
               count < 0 ? static_cast<uint32_t>(entries.size()) : static_cast<uint32_t>(count), 2);
  for (const EntrySpec &e : entries) {
    PutBigEndian(bytes, e.id, 4);
    PutBigEndian(bytes, e.offset, 4);
    PutBigEndian(bytes, e.length, 4);
  }
  if (bytes.size() < total) bytes.append(total - bytes.size(), 'r');
  return bytes;
}

// A table of 65535 entries of which only the last is the resource fork.
std::string LargestTable() {
  std::vector<EntrySpec> entries(65534, EntrySpec{9, 0, 0});
  const uint32_t dataStart = 26 + 65535 * 12;
  entries.push_back({2, dataStart, 5000});
  return AppleDouble(entries, dataStart + 5000);
}

struct SidecarCase {
  const char *name;
  std::string bytes;
  uint64_t fork; // resource fork length expected, 0 for none
};

const std::vector<SidecarCase> &SidecarCases() {
  static const std::vector<SidecarCase> cases = {
      {"valid", AppleDouble({{9, 50, 32}, {2, 82, 1000}}, 1082), 1000},
      {"version_1", AppleDouble({{2, 38, 300}}, 338, kAppleDouble, 0x00010000), 300},
      {"empty_fork", AppleDouble({{2, 38, 0}}, 38), 0},
      {"largest_table", LargestTable(), 5000},
      {"empty_file", "", 0},
      {"truncated_header", AppleDouble({{2, 38, 10}}, 48).substr(0, 20), 0},
      {"header_only_count_missing", AppleDouble({}, 0).substr(0, 25), 0},
      {"applesingle_magic", AppleDouble({{2, 38, 10}}, 48, kAppleSingle), 0},
      {"unknown_version", AppleDouble({{2, 38, 10}}, 48, kAppleDouble, 0x00030000), 0},
      {"table_past_end", AppleDouble({{2, 62, 10}}, 72, kAppleDouble, kVersion2, 5), 0},
      {"count_65535_in_small_file", AppleDouble({{2, 38, 10}}, 48, kAppleDouble, kVersion2, 65535),
       0},
      {"entry_length_past_end", AppleDouble({{2, 38, 1000}}, 100), 0},
      {"entry_offset_past_end", AppleDouble({{2, 5000, 10}}, 100), 0},
      {"offset_plus_length_wraps", AppleDouble({{2, 0xFFFFFFF0u, 0x20}}, 100), 0},
      {"entry_inside_header", AppleDouble({{2, 0, 30}}, 100), 0},
      {"no_resource_entry", AppleDouble({{9, 38, 32}}, 70), 0},
  };
  return cases;
}

class Sidecar : public FilesTest, public ::testing::WithParamInterface<SidecarCase> {
protected:
  uint64_t Fragment() const {
    struct statvfs vfs;
    EXPECT_EQ(statvfs(base_.c_str(), &vfs), 0);
    return vfs.f_frsize;
  }
};

TEST_P(Sidecar, ForkSizesComeFromTheResourceEntryOnly) {
  const SidecarCase &c = GetParam();
  dir_.MakeFile("item", "data");
  WriteBytes(P("._item"), c.bytes);
  const uint64_t fragment = Fragment();
  const uint64_t physical = (c.fork + fragment - 1) / fragment * fragment;
  // The same answer through a listing (which saw the sidecar) and through a
  // path (which did not look).
  const std::vector<Entry> listed = List(RefFor(base_), kFSCatInfoRsrcSizes | kFSCatInfoDataSizes);
  ASSERT_EQ(listed.size(), 1u);
  FSCatalogInfo byPath;
  const FSRef ref = RefFor(P("item"));
  ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes | kFSCatInfoDataSizes, &byPath, nullptr,
                             nullptr, nullptr),
            noErr);
  for (const FSCatalogInfo &info : {listed[0].info, byPath}) {
    EXPECT_EQ(info.rsrcLogicalSize, c.fork);
    EXPECT_EQ(info.rsrcPhysicalSize, physical);
    EXPECT_EQ(info.dataLogicalSize, 4u);
  }
  // The reader on bytes in memory (the one fuzzed) gives the same length.
  UInt64 length = 0;
  const Boolean found =
      VPAppleDoubleParseForTesting(reinterpret_cast<const UInt8 *>(c.bytes.data()),
                                   static_cast<CFIndex>(c.bytes.size()), &length);
  EXPECT_EQ(found ? length : 0, c.fork);
}

INSTANTIATE_TEST_SUITE_P(Files, Sidecar, ::testing::ValuesIn(SidecarCases()),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(FilesTest, SidecarsThatAreNotRegularFilesHoldNoFork) {
  const std::string valid = AppleDouble({{2, 38, 700}}, 738);
  dir_.MakeFile("real_sidecar", valid);
  struct Case {
    const char *name;
    void (*make)(const std::string &sidecar, const std::string &target);
  } cases[] = {
      {"folder",
       [](const std::string &s, const std::string &) { ASSERT_EQ(mkdir(s.c_str(), 0755), 0); }},
      {"link_to_a_valid_one",
       [](const std::string &s, const std::string &t) {
         ASSERT_EQ(symlink(t.c_str(), s.c_str()), 0);
       }},
      {"pipe",
       [](const std::string &s, const std::string &) { ASSERT_EQ(mkfifo(s.c_str(), 0644), 0); }},
  };
  for (const Case &c : cases) {
    const std::string item = std::string("odd_") + c.name;
    dir_.MakeFile(item, "x");
    c.make(P("._" + item), P("real_sidecar"));
    const FSRef ref = RefFor(P(item));
    FSCatalogInfo info;
    ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes, &info, nullptr, nullptr, nullptr), noErr)
        << c.name;
    EXPECT_EQ(info.rsrcLogicalSize, 0u) << c.name;
    EXPECT_EQ(info.rsrcPhysicalSize, 0u) << c.name;
  }
}

TEST_F(FilesTest, FoldersHaveNoResourceFork) {
  dir_.MakeDir("dir");
  WriteBytes(P("._dir"), AppleDouble({{2, 38, 700}}, 738));
  const FSRef ref = RefFor(P("dir"));
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes, &info, nullptr, nullptr, nullptr), noErr);
  EXPECT_EQ(info.rsrcLogicalSize, 0u);
}

TEST_F(FilesTest, ASidecarNamedDirectlyIsAnOrdinaryFile) {
  dir_.MakeFile("item", "x");
  const std::string sidecar = AppleDouble({{2, 38, 700}}, 738);
  WriteBytes(P("._item"), sidecar);
  Boolean folder = true;
  const FSRef ref = RefFor(P("._item"), &folder);
  EXPECT_FALSE(folder);
  FSCatalogInfo info;
  ASSERT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoDataSizes | kFSCatInfoRsrcSizes, &info, nullptr,
                             nullptr, nullptr),
            noErr);
  EXPECT_EQ(info.dataLogicalSize, sidecar.size());
  EXPECT_EQ(info.rsrcLogicalSize, 0u);
}

TEST_F(FilesTest, UnreadableSidecarIsAnError) {
  dir_.MakeFile("item", "x");
  WriteBytes(P("._item"), AppleDouble({{2, 38, 700}}, 738));
  const FSRef ref = RefFor(P("item"));
  struct Case {
    const char *name;
    const char *call;
    int err;
    OSErr expected;
  } cases[] = {{"open_eacces", "openat", EACCES, afpAccessDenied},
               {"open_eio", "openat", EIO, ioErr},
               {"read_eio", "pread", EIO, ioErr}};
  for (const Case &c : cases) {
    ASSERT_TRUE(VPSyscallFail(c.call, 1, c.err, true,
                              std::strcmp(c.call, "openat") == 0 ? "._item" : nullptr));
    FSCatalogInfo info;
    EXPECT_EQ(FSGetCatalogInfo(&ref, kFSCatInfoRsrcSizes, &info, nullptr, nullptr, nullptr),
              c.expected)
        << c.name;
    VPSyscallReset();
  }
}

} // namespace
