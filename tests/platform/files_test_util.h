// Helpers shared by the File Manager tests: references from paths and back,
// listing a folder through the bulk call, and a fixture that owns a
// temporary tree and checks that no test leaves system-call failures armed.
#pragma once

#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/files_testing.h>
#include <vantlow/platform_testing.h>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "test_support.h"

namespace files_test {

// The reference for path; fails the test when there is none.
inline FSRef RefFor(const std::string &path, Boolean *isDirectory = nullptr) {
  FSRef ref;
  std::memset(&ref, 0, sizeof ref);
  const OSStatus status =
      FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &ref, isDirectory);
  EXPECT_EQ(status, noErr) << path;
  return ref;
}

inline std::string PathOf(const FSRef &ref) {
  std::vector<UInt8> buffer(1 << 16);
  const OSStatus status = FSRefMakePath(&ref, buffer.data(), static_cast<UInt32>(buffer.size()));
  EXPECT_EQ(status, noErr);
  return status == noErr ? std::string(reinterpret_cast<const char *>(buffer.data())) : "";
}

inline std::vector<UniChar> Units(const HFSUniStr255 &name) {
  return std::vector<UniChar>(name.unicode, name.unicode + name.length);
}

inline std::vector<UniChar> AsciiUnits(const std::string &text) {
  return std::vector<UniChar>(text.begin(), text.end());
}

struct Entry {
  FSRef ref;
  FSCatalogInfo info;
  HFSUniStr255 name;
};

// Lists folder with batches of `batch`, asking for whichInfo; the result of
// the last bulk call goes to *last.
inline std::vector<Entry> List(const FSRef &folder, FSCatalogInfoBitmap whichInfo,
                               ItemCount batch = 10, OSErr *last = nullptr) {
  std::vector<Entry> entries;
  FSIterator iterator = nullptr;
  OSErr status = FSOpenIterator(&folder, kFSIterateFlat, &iterator);
  EXPECT_EQ(status, noErr);
  if (status != noErr) {
    if (last) *last = status;
    return entries;
  }
  std::vector<FSRef> refs(batch);
  std::vector<FSCatalogInfo> infos(batch);
  std::vector<HFSUniStr255> names(batch);
  do {
    ItemCount count = 0;
    status = FSGetCatalogInfoBulk(iterator, batch, &count, nullptr, whichInfo,
                                  whichInfo ? infos.data() : nullptr, refs.data(), nullptr,
                                  names.data());
    for (ItemCount i = 0; i < count; ++i)
      entries.push_back({refs[i], infos[i], names[i]});
  } while (status == noErr);
  EXPECT_EQ(FSCloseIterator(iterator), noErr);
  if (last)
    *last = status;
  else
    EXPECT_EQ(status, errFSNoMoreItems);
  return entries;
}

inline std::vector<std::string> Names(const std::vector<Entry> &entries) {
  std::vector<std::string> names;
  for (const Entry &e : entries)
    names.push_back(std::string(e.name.unicode, e.name.unicode + e.name.length));
  return names;
}

inline void WriteBytes(const std::string &path, const std::string &bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
}

// Mounts a small tmpfs at path (made read-only after files were put there
// by fill, when asked). False when this process may not mount (not root, or
// a container that refuses): the caller skips.
template <class Fill> bool MountTmpfs(const std::string &path, bool readOnly, Fill &&fill) {
  if (geteuid() != 0) return false;
  if (::mount("vantlow-test", path.c_str(), "tmpfs", 0, "size=1m") != 0) return false;
  fill();
  if (readOnly && ::mount(nullptr, path.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=1m") != 0) {
    ::umount2(path.c_str(), MNT_DETACH);
    return false;
  }
  return true;
}
inline void Unmount(const std::string &path) {
  ::umount2(path.c_str(), MNT_DETACH);
}

// Runs body in a child process that has become the unprivileged user nobody
// (65534); body's result comes back as the child's exit status (0..255).
// -1 when this process cannot switch users (not root).
template <class Body> int RunAsNobody(Body &&body) {
  if (geteuid() != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(255);
    ::_exit(body() & 0xFF);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -2;
  return WEXITSTATUS(status);
}

// A temporary tree per test. Paths are spelled as the system resolves them
// (the temporary folder may lie behind a link), since references give back
// the folders' real paths.
class FilesTest : public ::testing::Test {
protected:
  FilesTest() {
    char *real = ::realpath(dir_.path().c_str(), nullptr);
    base_ = real ? real : dir_.path();
    std::free(real);
  }
  void TearDown() override { VPSyscallReset(); }
  std::string P(const std::string &relative) const { return base_ + "/" + relative; }
  vantlow_test::TempDir dir_;
  std::string base_;
};

} // namespace files_test
