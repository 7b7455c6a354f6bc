// Shared test helpers (see test_support.h).
#include "test_support.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <unistd.h>

#include <vantlow/platform_testing.h>

namespace vantlow_test {

int SweepAllocationFailures(const std::function<void(long n)> &op, bool repeat, long limit) {
  int runs = 0;
  for (long n = 1; n <= limit; ++n) {
    long objects = VPLiveObjectCount();
    long blocks = VPLiveAllocationCount();
    long wrapped = WrappedLiveCount();
    VPFaultArm(n, repeat);
    op(n);
    long failed = VPFaultFailedCount();
    VPFaultDisarm();
    ++runs;
    EXPECT_EQ(VPLiveObjectCount(), objects) << "objects leaked with allocation " << n << " failing";
    EXPECT_EQ(VPLiveAllocationCount(), blocks) << "platform blocks leaked, allocation " << n;
    EXPECT_EQ(WrappedLiveCount(), wrapped) << "malloc blocks leaked, allocation " << n;
    if (::testing::Test::HasFailure()) {
      ADD_FAILURE() << "sweep stopped at allocation " << n << (repeat ? " (and later)" : "");
      return runs;
    }
    if (failed == 0) return runs;
  }
  ADD_FAILURE() << "allocation sweep did not finish within " << limit << " runs";
  return runs;
}

TempDir::TempDir() {
  std::string base = std::filesystem::temp_directory_path().string() + "/vantlow-test-XXXXXX";
  char *made = mkdtemp(base.data());
  if (!made) throw std::runtime_error("mkdtemp failed");
  path_ = made;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may have taken rights away; give them back so the tree can go.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(path_, ec);
}

std::string TempDir::MakeFile(const std::string &relative, const std::string &contents) const {
  std::filesystem::path p = std::filesystem::path(path_) / relative;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary);
  out << contents;
  return p.string();
}

std::string TempDir::MakeDir(const std::string &relative) const {
  std::filesystem::path p = std::filesystem::path(path_) / relative;
  std::filesystem::create_directories(p);
  return p.string();
}

StdoutCapture::StdoutCapture() {
  std::fflush(stdout);
  char name[] = "/tmp/vantlow-stdout-XXXXXX";
  int fd = mkstemp(name);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  file_ = name;
  saved_ = dup(1);
  dup2(fd, 1);
  ::close(fd);
}

std::string StdoutCapture::Take() {
  if (taken_) return {};
  taken_ = true;
  std::fflush(stdout);
  dup2(saved_, 1);
  ::close(saved_);
  std::ifstream in(file_, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(file_.c_str());
  return text;
}

StdoutCapture::~StdoutCapture() {
  Take();
}

ScopedEnv::ScopedEnv(const char *name, std::optional<std::string> value) : name_(name) {
  if (const char *old = std::getenv(name)) old_ = old;
  if (value)
    setenv(name, value->c_str(), 1);
  else
    unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
  if (old_)
    setenv(name_, old_->c_str(), 1);
  else
    unsetenv(name_);
}

std::string ReadFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

} // namespace vantlow_test
