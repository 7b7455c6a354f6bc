// Helpers shared by the tests of the toolbox utilities, the directory
// iterator and the contained-item exclusion: references and FSRef data from
// paths and back, running a piece of a test in a child process (fresh
// process-wide caches, another user), and a fixture that owns a temporary
// tree and leaves no system-call failure armed behind it.
#pragma once

#include <Carbon/Carbon.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include <cstring>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "test_support.h"

namespace support_test {

// The reference for path; fails the test when there is none.
inline FSRef RefFor(const std::string &path) {
  FSRef ref;
  std::memset(&ref, 0, sizeof ref);
  EXPECT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>(path.c_str()), &ref, nullptr), noErr)
      << path;
  return ref;
}

// The POSIX path bytes of a reference; empty when it has none.
inline std::string PathOf(const FSRef *ref) {
  if (!ref) return "";
  std::vector<UInt8> buffer(8192);
  if (FSRefMakePath(ref, buffer.data(), static_cast<UInt32>(buffer.size())) != noErr) return "";
  return reinterpret_cast<const char *>(buffer.data());
}

inline std::string PathOfData(const void *data) {
  return PathOf(reinterpret_cast<const FSRef *>(CFDataGetBytePtr(static_cast<CFDataRef>(data))));
}

// A string holding the path bytes through the lossless file-name mapping.
// Create rule.
inline CFStringRef PathString(const std::string &bytes) {
  return VPStringCreateWithFileSystemBytes(nullptr, reinterpret_cast<const UInt8 *>(bytes.data()),
                                           static_cast<CFIndex>(bytes.size()));
}

// The file-name bytes a string stands for.
inline std::string BytesOf(CFStringRef text) {
  if (!text) return "<null>";
  std::vector<char> buffer(static_cast<size_t>(VPStringGetFileSystemRepresentationLength(text)) +
                           1);
  if (!CFStringGetFileSystemRepresentation(text, buffer.data(),
                                           static_cast<CFIndex>(buffer.size())))
    return "<unconvertible>";
  return buffer.data();
}

// A new array of FSRef data for the paths. Create rule.
inline CFMutableArrayRef RefArray(const std::vector<std::string> &paths) {
  CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  for (const std::string &path : paths) {
    const FSRef ref = RefFor(path);
    CFDataRef data = CFDataCreate(nullptr, ref.hidden, sizeof ref);
    CFArrayAppendValue(array, data);
    CFRelease(data);
  }
  return array;
}

// Runs body in a child process and returns what it returned, so that a test
// can start from empty process-wide caches or act as another user. The
// child leaves with _exit: nothing of the test framework runs there, so the
// body reports by its text and the parent checks it. A child that dies
// reports "<child died>".
inline std::string RunInChild(const std::function<std::string()> &body) {
  int fds[2];
  if (pipe(fds) != 0) return "<no pipe>";
  fflush(stdout);
  const pid_t pid = fork();
  if (pid < 0) return "<no fork>";
  if (pid == 0) {
    close(fds[0]);
    const std::string text = body();
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = write(fds[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  char buffer[512];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "<child died>";
  return text;
}

// A temporary tree per test; system-call failures a test armed are cleared
// after it.
class TreeTest : public ::testing::Test {
protected:
  void TearDown() override { VPSyscallReset(); }
  std::string P(const std::string &relative) const { return dir_.path() + "/" + relative; }
  vantlow_test::TempDir dir_;
};

} // namespace support_test
