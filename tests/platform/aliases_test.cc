// Alias records: made for paths (any bytes, relative or not, links as items
// of their own), resolved back to the same item, refused when malformed
// without reading past the block, and converted through descriptors the way
// a host builds a context and the plug-in reads it.
#include <Carbon/AEDataModel.h>
#include <Carbon/Aliases.h>
#include <Carbon/Files.h>
#include <Carbon/Toolbox.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using vantlow_test::TempDir;

// The bytes of a well-formed record for path.
std::string Record(const std::string &path) {
  std::string r = "VPal";
  r += std::string("\x00\x01\x00\x00", 4);
  const UInt32 n = static_cast<UInt32>(path.size());
  for (int shift = 24; shift >= 0; shift -= 8)
    r.push_back(static_cast<char>(n >> shift));
  return r + path;
}

AliasHandle MakeHandle(const std::string &bytes) {
  Handle h = NewHandle(static_cast<Size>(bytes.size()));
  EXPECT_NE(nullptr, h);
  if (h && !bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
  return reinterpret_cast<AliasHandle>(h);
}

std::string HandleBytes(AliasHandle alias) {
  Handle h = reinterpret_cast<Handle>(alias);
  return std::string(*h, static_cast<size_t>(GetHandleSize(h)));
}

std::string DescBytes(const AEDesc &desc) {
  std::string bytes(static_cast<size_t>(AEGetDescDataSize(&desc)), '\0');
  EXPECT_EQ(noErr, AEGetDescData(&desc, bytes.data(), static_cast<Size>(bytes.size())));
  return bytes;
}

std::string PathOf(const FSRef &ref) {
  std::vector<UInt8> buffer(PATH_MAX * 2);
  EXPECT_EQ(noErr, FSRefMakePath(&ref, buffer.data(), static_cast<UInt32>(buffer.size())));
  return reinterpret_cast<const char *>(buffer.data());
}

FSRef RefOf(const std::string &path) {
  FSRef ref;
  EXPECT_EQ(noErr, FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &ref, nullptr))
      << path;
  return ref;
}

// An FSRef filled with a pattern, to see that failures leave it alone.
FSRef Untouched() {
  FSRef ref;
  std::memset(&ref, 0xAB, sizeof ref);
  return ref;
}

bool SameBytes(const FSRef &a, const FSRef &b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

class AliasTest : public ::testing::Test {
protected:
  AliasTest() {
    char *real = realpath(tmp_.path().c_str(), nullptr);
    root_ = real;
    std::free(real);
  }
  std::string At(const std::string &name) const { return root_ + "/" + name; }

  TempDir tmp_;
  std::string root_; // the temporary folder without symbolic links
};

enum class Kind { kFile, kFolder, kLinkToFile, kDanglingLink };

struct RoundTripCase {
  const char *name;
  Kind kind;
  const char *item; // name bytes, need not be UTF-8
};

class AliasRoundTripTest : public AliasTest, public ::testing::WithParamInterface<RoundTripCase> {};

TEST_P(AliasRoundTripTest, ResolvesToTheSameItem) {
  const RoundTripCase &c = GetParam();
  const std::string path = At(c.item);
  switch (c.kind) {
  case Kind::kFile:
    tmp_.MakeFile(c.item, "data");
    break;
  case Kind::kFolder:
    tmp_.MakeDir(c.item);
    break;
  case Kind::kLinkToFile:
    tmp_.MakeFile("target", "data");
    fs::create_symlink(At("target"), path);
    break;
  case Kind::kDanglingLink:
    fs::create_symlink(At("nowhere"), path);
    break;
  }

  AliasHandle alias = nullptr;
  ASSERT_EQ(noErr, VPNewAliasForPath(path.c_str(), &alias));
  EXPECT_EQ(Record(path), HandleBytes(alias));

  FSRef target;
  Boolean changed = TRUE;
  ASSERT_EQ(noErr, FSResolveAlias(nullptr, alias, &target, &changed));
  EXPECT_FALSE(changed);
  const FSRef direct = RefOf(path);
  EXPECT_EQ(noErr, FSCompareFSRefs(&target, &direct));
  EXPECT_EQ(path, PathOf(target));
  if (c.kind == Kind::kLinkToFile) {
    FSRef linked = RefOf(At("target"));
    EXPECT_EQ(errFSRefsDifferent, FSCompareFSRefs(&target, &linked)) << "the link was followed";
  }

  // The same record from the file reference.
  AliasHandle fromRef = nullptr;
  ASSERT_EQ(noErr, FSNewAlias(nullptr, &target, &fromRef));
  EXPECT_EQ(HandleBytes(alias), HandleBytes(fromRef));
  DisposeHandle(reinterpret_cast<Handle>(fromRef));
  DisposeHandle(reinterpret_cast<Handle>(alias));
}

const RoundTripCase kRoundTripCases[] = {
    {"file", Kind::kFile, "plain.txt"},
    {"folder", Kind::kFolder, "folder"},
    {"non_utf8_name", Kind::kFile, "caf\xe9-\xff\xfe"},
    {"space_and_newline", Kind::kFile, "a b\nc"},
    {"link_to_file", Kind::kLinkToFile, "link"},
    {"dangling_link", Kind::kDanglingLink, "dangling"},
};

INSTANTIATE_TEST_SUITE_P(Items, AliasRoundTripTest, ::testing::ValuesIn(kRoundTripCases),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(AliasTest, RelativePathsAreMadeAbsolute) {
  tmp_.MakeFile("sub/plain.txt");
  struct Case {
    const char *given;
    std::string expected;
  } cases[] = {{"sub/plain.txt", At("sub/plain.txt")},
               {"./sub/../sub/plain.txt", At("sub/plain.txt")},
               {".", root_}};
  const fs::path cwd = fs::current_path();
  fs::current_path(root_);
  for (const Case &c : cases) {
    AliasHandle alias = nullptr;
    EXPECT_EQ(noErr, VPNewAliasForPath(c.given, &alias)) << c.given;
    if (alias) {
      EXPECT_EQ(Record(c.expected), HandleBytes(alias)) << c.given;
    }
    DisposeHandle(reinterpret_cast<Handle>(alias));
  }
  fs::current_path(cwd);
}

TEST_F(AliasTest, NoAliasForAPathWithoutAnItem) {
  struct Case {
    const char *name;
    std::string path;
    bool nullPath;
    bool nullOut;
    OSErr status;
  } cases[] = {{"missing", At("missing"), false, false, fnfErr},
               {"missing_folder_on_the_way", At("missing/x"), false, false, fnfErr},
               {"empty", "", false, false, fnfErr},
               {"null_path", "", true, false, paramErr},
               {"null_out", At("."), false, true, paramErr}};
  for (const Case &c : cases) {
    AliasHandle alias = reinterpret_cast<AliasHandle>(&alias);
    EXPECT_EQ(c.status, VPNewAliasForPath(c.nullPath ? nullptr : c.path.c_str(),
                                          c.nullOut ? nullptr : &alias))
        << c.name;
    if (!c.nullOut) {
      EXPECT_EQ(nullptr, alias) << c.name;
    }
  }
}

TEST_F(AliasTest, VanishedItemIsNotFoundUntilItReturns) {
  const std::string path = tmp_.MakeFile("item", "data");
  AliasHandle alias = nullptr;
  ASSERT_EQ(noErr, VPNewAliasForPath(path.c_str(), &alias));
  fs::remove(path);
  FSRef target = Untouched();
  EXPECT_EQ(fnfErr, FSResolveAlias(nullptr, alias, &target, nullptr));
  EXPECT_TRUE(SameBytes(Untouched(), target));

  tmp_.MakeFile("item", "again");
  EXPECT_EQ(noErr, FSResolveAlias(nullptr, alias, &target, nullptr));
  EXPECT_EQ(path, PathOf(target));
  DisposeHandle(reinterpret_cast<Handle>(alias));
}

// Handles hold bytes anyone can write. Each block is allocated at exactly its
// size, so reading one byte too far shows under AddressSanitizer.
struct MalformedCase {
  const char *name;
  std::string (*make)(const std::string &validPath);
};

class AliasMalformedTest : public AliasTest, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(AliasMalformedTest, IsRefusedWithParamErr) {
  const std::string valid = tmp_.MakeFile("item");
  ASSERT_EQ(valid.substr(0, 1), "/");
  AliasHandle alias = MakeHandle(GetParam().make(valid));
  FSRef target = Untouched();
  Boolean changed = TRUE;
  EXPECT_EQ(paramErr, FSResolveAlias(nullptr, alias, &target, &changed));
  EXPECT_TRUE(SameBytes(Untouched(), target));
  EXPECT_FALSE(changed);
  DisposeHandle(reinterpret_cast<Handle>(alias));
}

std::string WithByte(std::string r, size_t at, char value) {
  r[at] = value;
  return r;
}

std::string WithLength(std::string r, UInt32 n) {
  for (int i = 0; i < 4; ++i)
    r[8 + i] = static_cast<char>(n >> (24 - 8 * i));
  return r;
}

const MalformedCase kMalformedCases[] = {
    {"empty_block", [](const std::string &) { return std::string(); }},
    {"truncated_header", [](const std::string &p) { return Record(p).substr(0, 11); }},
    {"truncated_path",
     [](const std::string &p) { return Record(p).substr(0, Record(p).size() - 1); }},
    {"wrong_magic", [](const std::string &p) { return WithByte(Record(p), 0, 'X'); }},
    {"wrong_version", [](const std::string &p) { return WithByte(Record(p), 5, 2); }},
    {"reserved_set", [](const std::string &p) { return WithByte(Record(p), 7, 1); }},
    {"length_past_the_end",
     [](const std::string &p) { return WithLength(Record(p), static_cast<UInt32>(p.size() + 1)); }},
    {"length_far_past_the_end", [](const std::string &p) { return WithLength(Record(p), ~0u); }},
    {"bytes_after_the_path", [](const std::string &p) { return Record(p) + "x"; }},
    {"empty_path", [](const std::string &) { return Record(""); }},
    {"relative_path", [](const std::string &) { return Record("item"); }},
    {"zero_byte_in_path", [](const std::string &p) { return Record(p + std::string("\0x", 2)); }},
};

INSTANTIATE_TEST_SUITE_P(Records, AliasMalformedTest, ::testing::ValuesIn(kMalformedCases),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(AliasTest, NullAliasOrTargetIsRefused) {
  const std::string path = tmp_.MakeFile("item");
  AliasHandle alias = MakeHandle(Record(path));
  FSRef target;
  EXPECT_EQ(paramErr, FSResolveAlias(nullptr, nullptr, &target, nullptr));
  EXPECT_EQ(paramErr, FSResolveAlias(nullptr, alias, nullptr, nullptr));
  // A record written by hand resolves like one the platform made.
  EXPECT_EQ(noErr, FSResolveAlias(&target, alias, &target, nullptr));
  DisposeHandle(reinterpret_cast<Handle>(alias));
}

TEST_F(AliasTest, DescriptorForAPath) {
  const std::string path = tmp_.MakeFile("item");
  AEDesc desc;
  ASSERT_EQ(noErr, VPCreateAliasDescForPath(path.c_str(), &desc));
  EXPECT_EQ(static_cast<DescType>(typeAlias), desc.descriptorType);
  EXPECT_EQ(Record(path), DescBytes(desc));
  AEDisposeDesc(&desc);

  EXPECT_EQ(fnfErr, VPCreateAliasDescForPath(At("missing").c_str(), &desc));
  EXPECT_EQ(static_cast<DescType>(typeNull), desc.descriptorType);
  EXPECT_EQ(nullptr, desc.dataHandle);
  EXPECT_EQ(paramErr, VPCreateAliasDescForPath(path.c_str(), nullptr));
}

// The road of a selection: the host makes a list of alias descriptors; the
// plug-in takes each item as typeAlias into a handle and resolves it, or asks
// for it as typeFSRef directly.
TEST_F(AliasTest, ContextListItemsResolveThroughDescriptors) {
  const std::vector<std::string> paths = {tmp_.MakeFile("first"), tmp_.MakeFile("vanishing"),
                                          tmp_.MakeDir("third")};
  AEDescList list;
  ASSERT_EQ(noErr, AECreateList(nullptr, 0, FALSE, &list));
  for (const std::string &path : paths) {
    AEDesc item;
    ASSERT_EQ(noErr, VPCreateAliasDescForPath(path.c_str(), &item));
    ASSERT_EQ(noErr, AEPutDesc(&list, 0, &item));
    AEDisposeDesc(&item);
  }
  fs::remove(paths[1]);

  for (long i = 1; i <= 3; ++i) {
    const bool present = i != 2;
    const std::string &path = paths[static_cast<size_t>(i - 1)];
    AEDesc item;
    AEInitializeDesc(&item);
    ASSERT_EQ(noErr, AEGetNthDesc(&list, i, typeAlias, nullptr, &item));
    Handle h = NewHandle(AEGetDescDataSize(&item));
    ASSERT_NE(nullptr, h);
    ASSERT_EQ(noErr, AEGetDescData(&item, *h, GetHandleSize(h)));
    FSRef target;
    EXPECT_EQ(present ? noErr : fnfErr,
              FSResolveAlias(nullptr, reinterpret_cast<AliasHandle>(h), &target, nullptr));
    if (present) {
      EXPECT_EQ(path, PathOf(target));
    }
    DisposeHandle(h);
    AEDisposeDesc(&item);

    AEDesc ref;
    EXPECT_EQ(present ? noErr : errAECoercionFail,
              AEGetNthDesc(&list, i, typeFSRef, nullptr, &ref));
    if (present) {
      ASSERT_EQ(sizeof(FSRef), static_cast<size_t>(AEGetDescDataSize(&ref)));
      FSRef fromDesc;
      ASSERT_EQ(noErr, AEGetDescData(&ref, &fromDesc, sizeof fromDesc));
      EXPECT_EQ(path, PathOf(fromDesc));
    }
    AEDisposeDesc(&ref);
  }
  AEDisposeDesc(&list);
}

// Other descriptors a host may hold for an item, made into aliases.
struct CoercionCase {
  const char *name;
  DescType from;
  const char *data; // "{}" stands for the temporary folder's path
  bool terminated;  // the data's terminating zero byte is passed too
  const char *item; // the item the alias names, or null when refused
};

class AliasCoercionTest : public AliasTest, public ::testing::WithParamInterface<CoercionCase> {};

TEST_P(AliasCoercionTest, MakesAnAliasForTheItem) {
  const CoercionCase &c = GetParam();
  tmp_.MakeFile("plain");
  tmp_.MakeFile("caf\xe9 x");
  std::string data = c.data;
  if (size_t at = data.find("{}"); at != std::string::npos) data.replace(at, 2, root_);
  AEDesc alias;
  const OSErr err =
      AECoercePtr(c.from, data.c_str(), static_cast<Size>(data.size() + (c.terminated ? 1 : 0)),
                  typeAlias, &alias);
  if (!c.item) {
    EXPECT_EQ(errAECoercionFail, err);
    EXPECT_EQ(static_cast<DescType>(typeNull), alias.descriptorType);
    return;
  }
  ASSERT_EQ(noErr, err);
  EXPECT_EQ(Record(At(c.item)), DescBytes(alias));
  AEDisposeDesc(&alias);
}

const CoercionCase kCoercionCases[] = {
    {"path", typeChar, "{}/plain", false, "plain"},
    {"path_with_terminator", typeChar, "{}/plain", true, "plain"},
    {"missing_path", typeChar, "{}/missing", false, nullptr},
    {"url", typeFileURL, "file://{}/plain", false, "plain"},
    {"url_escapes", typeFileURL, "file://{}/caf%E9%20x", false, "caf\xe9 x"},
    {"url_localhost", typeFileURL, "file://localhost{}/plain", false, "plain"},
    {"url_scheme_case", typeFileURL, "FILE://{}/plain", false, "plain"},
    {"url_other_host", typeFileURL, "file://example.org{}/plain", false, nullptr},
    {"url_other_scheme", typeFileURL, "http://{}/plain", false, nullptr},
    {"url_zero_escape", typeFileURL, "file://{}/plain%00", false, nullptr},
    {"url_cut_escape", typeFileURL, "file://{}/plain%4", false, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Sources, AliasCoercionTest, ::testing::ValuesIn(kCoercionCases),
                         [](const auto &row) { return std::string(row.param.name); });

TEST_F(AliasTest, FSRefDescriptorBecomesAnAlias) {
  const std::string path = tmp_.MakeFile("item");
  const FSRef ref = RefOf(path);
  AEDesc alias;
  ASSERT_EQ(noErr, AECoercePtr(typeFSRef, &ref, sizeof ref, typeAlias, &alias));
  EXPECT_EQ(Record(path), DescBytes(alias));
  AEDisposeDesc(&alias);
  EXPECT_EQ(errAECoercionFail, AECoercePtr(typeFSRef, &ref, sizeof ref - 1, typeAlias, &alias));
}

// A reference this process never made (descriptor data from anywhere) is
// refused at once, before any memory is asked for: not after growing path
// buffers towards the largest record, and never reported as a lack of memory.
TEST_F(AliasTest, MalformedFSRefIsRefusedAtOnce) {
  FSRef bogus;
  std::memset(&bogus, 0, sizeof bogus);
  AEDesc ref;
  ASSERT_EQ(noErr, AECreateDesc(typeFSRef, &bogus, sizeof bogus, &ref));
  VPFaultArm(1, true);
  AEDesc alias;
  const OSErr coerced = AECoerceDesc(&ref, typeAlias, &alias);
  AliasHandle handle = nullptr;
  const OSErr made = FSNewAlias(nullptr, &bogus, &handle);
  const long failed = VPFaultFailedCount();
  VPFaultDisarm();
  EXPECT_EQ(errAECoercionFail, coerced);
  EXPECT_EQ(static_cast<DescType>(typeNull), alias.descriptorType);
  EXPECT_EQ(paramErr, made);
  EXPECT_EQ(nullptr, handle);
  EXPECT_EQ(0, failed) << "memory was asked for";
  AEDisposeDesc(&ref);
}

TEST_F(AliasTest, MakingAndResolvingUnderAllocationFailures) {
  const std::string path = tmp_.MakeFile("folder/item");
  // Folders are interned once per process: meet them before counting blocks.
  RefOf(path);
  for (bool repeat : {false, true}) {
    vantlow_test::SweepAllocationFailures(
        [&](long) {
          AEDesc desc;
          OSErr made = VPCreateAliasDescForPath(path.c_str(), &desc);
          AEDesc ref;
          AEInitializeDesc(&ref);
          OSErr coerced = made == noErr ? AECoerceDesc(&desc, typeFSRef, &ref) : made;
          AliasHandle alias = nullptr;
          OSErr viaHandle = VPNewAliasForPath(path.c_str(), &alias);
          FSRef target;
          OSErr resolved =
              viaHandle == noErr ? FSResolveAlias(nullptr, alias, &target, nullptr) : viaHandle;
          VPFaultDisarm();
          for (OSErr e : {made, coerced, viaHandle, resolved})
            EXPECT_TRUE(e == noErr || e == memFullErr) << e;
          if (made != noErr) {
            EXPECT_EQ(static_cast<DescType>(typeNull), desc.descriptorType);
          }
          if (viaHandle != noErr) {
            EXPECT_EQ(nullptr, alias);
          }
          if (resolved == noErr) {
            EXPECT_EQ(path, PathOf(target));
          }
          DisposeHandle(reinterpret_cast<Handle>(alias));
          AEDisposeDesc(&ref);
          AEDisposeDesc(&desc);
        },
        repeat);
  }
}

} // namespace
