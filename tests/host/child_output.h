// Collecting a child program's standard output and standard error, shared by
// the end-to-end tests that run the built command.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include <gtest/gtest.h>

namespace vantlow_test {

// Reads both pipes until they close (or the deadline passes: the child is
// killed and a failure reported), closes them, reaps pid and returns its wait
// status.
inline int CollectChildOutput(pid_t pid, int outFd, int errFd,
                              std::chrono::steady_clock::time_point deadline,
                              const std::string &name, std::string *out, std::string *err) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string *sinks[2] = {out, err};
  int open = 2;
  while (open > 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << name << " did not finish";
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, 1000) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buffer[65536];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (pollfd &p : fds)
    if (p.fd >= 0) close(p.fd);
  int wait = 0;
  waitpid(pid, &wait, 0);
  return wait;
}

} // namespace vantlow_test
