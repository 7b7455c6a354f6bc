// Handing text to the desktop clipboard (see clipboard.h): a clipboard tool
// started with posix_spawnp and fed through a pipe, or OSC 52 written to the
// terminal.
#include "clipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char **environ;

namespace vantlow::host {
namespace {

using Clock = std::chrono::steady_clock;

// A file descriptor, closed when the holder goes.
class Fd {
public:
  explicit Fd(int fd = -1) noexcept : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd &) = delete;
  Fd &operator=(const Fd &) = delete;
  int get() const noexcept { return fd_; }
  void reset() noexcept {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

private:
  int fd_;
};

// While it lives, SIGPIPE is blocked on this thread; one that a write
// raised meanwhile is taken off the pending set before it is unblocked, so
// a tool that stops reading early cannot end the program.
class SigpipeBlock {
public:
  SigpipeBlock() noexcept {
    sigemptyset(&pipeSet_);
    sigaddset(&pipeSet_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipeSet_, &old_);
  }
  ~SigpipeBlock() {
    sigset_t pending;
    sigpending(&pending);
    if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
      timespec zero{};
      sigtimedwait(&pipeSet_, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeBlock(const SigpipeBlock &) = delete;
  SigpipeBlock &operator=(const SigpipeBlock &) = delete;

private:
  sigset_t pipeSet_;
  sigset_t old_;
  bool wasPending_ = false;
};

enum class ToolOutcome { kCopied, kNotFound, kFailed };

struct ToolRun {
  ToolOutcome outcome;
  std::string problem; // for kFailed: "exit status 1", ...
};

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Writes all of text to fd (non-blocking) before the deadline; an error
// text, or empty on success.
std::string WriteAll(int fd, const std::string &text, Clock::time_point deadline) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN)
      return std::string("could not take the text (") + std::strerror(errno) + ")";
    pollfd p{fd, POLLOUT, 0};
    int ready = poll(&p, 1, RemainingMs(deadline));
    if (ready == 0) return "did not read the text in time";
    if (ready < 0 && errno != EINTR) return std::string("poll: ") + std::strerror(errno);
  }
  return {};
}

// Waits for the child until the deadline, then kills it; how it ended, or
// empty when it exited with status 0.
std::string WaitFor(pid_t pid, Clock::time_point deadline) {
  int status = 0;
  for (;;) {
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (r < 0 && errno != EINTR) return std::string("waitpid: ") + std::strerror(errno);
    if (Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
      return "did not finish in time";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (WIFEXITED(status)) {
    if (WEXITSTATUS(status) == 0) return {};
    return "exit status " + std::to_string(WEXITSTATUS(status));
  }
  if (WIFSIGNALED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
  return "ended abnormally";
}

ToolRun RunTool(const std::vector<std::string> &command, const std::string &text,
                std::chrono::milliseconds timeout) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0)
    return {ToolOutcome::kFailed, std::string("pipe: ") + std::strerror(errno)};
  Fd readEnd(fds[0]), writeEnd(fds[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, readEnd.get(), 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // The tool must not inherit our signal mask or ignored signals.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char *> argv;
  std::vector<std::string> storage(command);
  for (std::string &arg : storage)
    argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_t pid = -1;
  int err = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (err == ENOENT) return {ToolOutcome::kNotFound, {}};
  if (err != 0)
    return {ToolOutcome::kFailed, std::string("could not start: ") + std::strerror(err)};
  readEnd.reset();

  const Clock::time_point deadline = Clock::now() + timeout;
  std::string problem;
  {
    SigpipeBlock block;
    fcntl(writeEnd.get(), F_SETFL, fcntl(writeEnd.get(), F_GETFL) | O_NONBLOCK);
    problem = WriteAll(writeEnd.get(), text, deadline);
    writeEnd.reset();
  }
  std::string ended = WaitFor(pid, deadline);
  if (!ended.empty()) problem = ended;
  if (!problem.empty()) return {ToolOutcome::kFailed, problem};
  return {ToolOutcome::kCopied, {}};
}

std::string Base64(const std::string &bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                 static_cast<unsigned char>(bytes[i + 1]) << 8 |
                 static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (size_t rest = bytes.size() - i; rest > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool WriteFully(int fd, const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

} // namespace

ClipboardSettings ClipboardSettings::FromEnvironment(int outputFd) {
  ClipboardSettings settings;
  const char *wayland = std::getenv("WAYLAND_DISPLAY");
  const char *x11 = std::getenv("DISPLAY");
  settings.waylandDisplay = wayland ? wayland : "";
  settings.display = x11 ? x11 : "";
  if (isatty(2) == 1)
    settings.terminalFd = 2;
  else if (outputFd >= 0 && isatty(outputFd) == 1)
    settings.terminalFd = outputFd;
  return settings;
}

std::string ClipboardResult::Describe() const {
  std::string failed;
  for (const std::string &f : failures)
    failed += (failed.empty() ? "" : "; ") + f;
  if (copied) {
    std::string line = method == "the terminal (OSC 52)"
                           ? "copied to the clipboard through the terminal (OSC 52)"
                           : "copied to the clipboard with " + method;
    if (!failed.empty()) line += " (" + failed + ")";
    return line;
  }
  if (!failed.empty()) return "not copied to the clipboard: " + failed;
  return "not copied to the clipboard: no Wayland or X11 display and no terminal";
}

std::string Osc52Sequence(const std::string &utf8) {
  return "\x1b]52;c;" + Base64(utf8) + "\x07";
}

ClipboardResult CopyToClipboard(const std::string &utf8, const ClipboardSettings &settings) {
  struct Tool {
    const char *name;
    std::vector<std::string> command;
    bool wayland;
  };
  const Tool tools[] = {
      {"wl-copy", {"wl-copy"}, true},
      {"xclip", {"xclip", "-selection", "clipboard", "-in"}, false},
      {"xsel", {"xsel", "--clipboard", "--input"}, false},
  };
  ClipboardResult result;
  for (const Tool &tool : tools) {
    const std::string &display = tool.wayland ? settings.waylandDisplay : settings.display;
    if (display.empty()) continue;
    ToolRun run = RunTool(tool.command, utf8, settings.toolTimeout);
    if (run.outcome == ToolOutcome::kCopied) {
      result.copied = true;
      result.method = tool.name;
      return result;
    }
    if (run.outcome == ToolOutcome::kFailed)
      result.failures.push_back(std::string(tool.name) + " failed (" + run.problem + ")");
  }
  if (settings.terminalFd >= 0) {
    if (WriteFully(settings.terminalFd, Osc52Sequence(utf8))) {
      result.copied = true;
      result.method = "the terminal (OSC 52)";
      return result;
    }
    result.failures.push_back(std::string("the terminal could not be written to (") +
                              std::strerror(errno) + ")");
  }
  if (result.failures.empty() && (!settings.waylandDisplay.empty() || !settings.display.empty()))
    result.failures.push_back(!settings.waylandDisplay.empty() && settings.display.empty()
                                  ? "wl-copy is not installed"
                                  : "no clipboard tool (wl-copy, xclip, xsel) is installed");
  return result;
}

} // namespace vantlow::host
