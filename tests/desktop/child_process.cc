// Child processes and file reading for the tests (see child_process.h).
#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace vantlow::testing {

using Clock = std::chrono::steady_clock;

Child::Child(const std::vector<std::string> &argv, const std::vector<std::string> &environment,
             const std::string &outputPath, const std::string &errorPath) {
  std::vector<char *> args, env;
  for (const std::string &a : argv)
    args.push_back(const_cast<char *>(a.c_str()));
  args.push_back(nullptr);
  for (const std::string &e : environment)
    env.push_back(const_cast<char *>(e.c_str()));
  env.push_back(nullptr);
  pid_ = fork();
  if (pid_ != 0) return;
  // Ends with the test, even when the test dies without cleaning up.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  int in = open("/dev/null", O_RDONLY);
  int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int err = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
    _exit(126);
  execve(args[0], args.data(), env.data());
  _exit(127);
}

Child::~Child() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  waitpid(pid_, nullptr, 0);
}

std::optional<int> Child::Wait(std::chrono::milliseconds timeout) {
  if (pid_ <= 0) return std::nullopt;
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      return -WTERMSIG(status);
    }
    if (Clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

} // namespace vantlow::testing
