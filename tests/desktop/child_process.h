// Test helpers: a child process started with an environment of its own and
// its output in files, and reading a whole file back.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vantlow::testing {

// A child process with its environment, output to files. Killed (SIGKILL)
// when the object goes while it still runs.
class Child {
public:
  Child(const std::vector<std::string> &argv, const std::vector<std::string> &environment,
        const std::string &outputPath, const std::string &errorPath);
  ~Child();
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;
  bool started() const { return pid_ > 0; }
  // The exit status, or empty when it did not end in time (or was killed
  // by a signal: then -signal).
  std::optional<int> Wait(std::chrono::milliseconds timeout);

private:
  pid_t pid_ = -1;
};

// The whole of a file, empty when it cannot be read.
std::string ReadFile(const std::string &path);

} // namespace vantlow::testing
