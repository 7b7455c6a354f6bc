// Shared test helpers: the allocation sweep, temporary trees, capturing
// standard output, environment variables set for a while, and reading files
// and text back.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vantlow_test {

// Blocks from the wrapped malloc family still held (test executables only).
long WrappedLiveCount();

// Runs op with allocation n failing, for n = 1, 2, ... until a run in which
// no allocation failed (with repeat, allocations n, n+1, ... all fail). op
// receives n and must itself check that its result is success or the
// documented failure. After every run the sweep checks that no object,
// platform allocation or wrapped malloc block was leaked. Returns the number
// of runs. `limit` stops a runaway sweep (a failure, reported).
int SweepAllocationFailures(const std::function<void(long n)> &op, bool repeat,
                            long limit = 100000);

// A temporary folder removed (with everything below it) when the object goes.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  const std::string &path() const { return path_; }
  // Makes parent folders as needed; returns the full path.
  std::string MakeFile(const std::string &relative, const std::string &contents = "") const;
  std::string MakeDir(const std::string &relative) const;

private:
  std::string path_;
};

// Captures what is written to file descriptor 1 (printf included) between
// construction and Take().
class StdoutCapture {
public:
  StdoutCapture();
  ~StdoutCapture();
  std::string Take();

private:
  int saved_ = -1;
  std::string file_;
  bool taken_ = false;
};

// Sets (or, with nullopt, unsets) an environment variable until the object
// goes, and then puts back what was there.
class ScopedEnv {
public:
  ScopedEnv(const char *name, std::optional<std::string> value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
  const char *name_;
  std::optional<std::string> old_;
};

// A file's bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path &path);

// The lines of text, without their line ends.
std::vector<std::string> Lines(const std::string &text);

} // namespace vantlow_test
