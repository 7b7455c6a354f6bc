// The host and its terminal (see terminal.h). The modes in force before a
// change are kept in process-wide state so that the signal handlers can put
// them back: only one change is ever in force (a plug-in call and the
// interactive menu never overlap), and everything a handler touches is an
// atomic or written before the atomic flag that publishes it.
#include "terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>
#include <string_view>

#include <Carbon/Keyboard.h>

namespace vantlow::host {
namespace {

constexpr unsigned char kEscape = 0x1b;
// How long the rest of an escape sequence may take to arrive: a terminal
// sends a sequence in one write, so a longer gap means a lone Escape.
constexpr int kEscapeGapMs = 40;
constexpr std::string_view kLeaveAltScreen = "\x1b[?25h\x1b[?1049l";
constexpr std::string_view kEnterAltScreen = "\x1b[?1049h\x1b[?25l";

std::atomic<int> gTtyFd{-1};
termios gSavedModes{}; // valid while gModesChanged
std::atomic<bool> gModesChanged{false};
termios gAppliedModes{}; // the modes set in their place, valid while gModesApplied
std::atomic<bool> gModesApplied{false};
std::atomic<bool> gAltScreen{false};
std::atomic<bool> gInPluginCall{false};
std::atomic<int> gInterrupts{0};

void WriteRaw(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(static_cast<size_t>(n));
  }
}

// Async-signal-safe: write and tcsetattr only.
void RestoreTerminal() {
  int fd = gTtyFd.load();
  if (fd < 0) return;
  if (gAltScreen.exchange(false)) WriteRaw(fd, kLeaveAltScreen);
  gModesApplied.store(false);
  if (gModesChanged.exchange(false)) tcsetattr(fd, TCSANOW, &gSavedModes);
}

// Keeps the terminal's present modes for RestoreTerminal and applies
// `change` to a copy; false when the terminal cannot be read or set.
template <class Change> bool ChangeModes(int fd, Change change) {
  termios modes{};
  if (tcgetattr(fd, &modes) != 0) return false;
  gSavedModes = modes;
  gTtyFd.store(fd);
  gModesChanged.store(true);
  change(&modes);
  if (tcsetattr(fd, TCSANOW, &modes) != 0) {
    gModesChanged.store(false);
    return false;
  }
  gAppliedModes = modes;
  gModesApplied.store(true);
  return true;
}

void OnInterrupt(int) {
  int savedErrno = errno;
  if (gInPluginCall.load() && gInterrupts.fetch_add(1) == 0) {
    VPCancelLatchSet();
    errno = savedErrno;
    return;
  }
  RestoreTerminal();
  _exit(130);
}

// The program was stopped (Ctrl-Z) and goes on: the shell has put its own
// modes on the terminal meanwhile, so the ones in force before the stop are
// set again. Async-signal-safe: tcsetattr only.
void OnContinue(int) {
  const int savedErrno = errno;
  const int fd = gTtyFd.load();
  if (fd >= 0 && gModesApplied.load()) tcsetattr(fd, TCSANOW, &gAppliedModes);
  errno = savedErrno;
}

void OnTerminate(int signal) {
  RestoreTerminal();
  // SA_RESETHAND has put back the default action; the signal is blocked
  // while this runs and is delivered again when it returns.
  raise(signal);
}

// True when text (which begins with ESC '[') reports Ctrl-period: the
// "CSI u" form (46;5u) or xterm's modifyOtherKeys form (27;5;46~).
bool IsControlPeriod(std::string_view sequence) {
  return sequence == "\x1b[46;5u" || sequence == "\x1b[27;5;46~";
}

// The length of the control sequence at the start of text (ESC '[' params
// final), or 0 when it is not complete yet.
size_t CsiLength(std::string_view text) {
  for (size_t i = 2; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x40 && c <= 0x7E) return i + 1;
  }
  return 0;
}

} // namespace

// ---- Tty ----

std::unique_ptr<Tty> Tty::Open() {
  int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (tcgetpgrp(fd) != getpgrp()) {
    close(fd);
    return nullptr;
  }
  return std::unique_ptr<Tty>(new Tty(fd));
}

Tty::~Tty() {
  if (gTtyFd.load() == fd_) {
    RestoreTerminal();
    gTtyFd.store(-1);
  }
  close(fd_);
}

bool Tty::Write(const std::string_view &text) const {
  std::string_view rest = text;
  while (!rest.empty()) {
    ssize_t n = write(fd_, rest.data(), rest.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    rest.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

void Tty::Size(int *rows, int *columns) const {
  winsize size{};
  if (ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
    *rows = size.ws_row;
    *columns = size.ws_col;
  } else {
    *rows = 24;
    *columns = 80;
  }
}

// ---- Signals ----

void InstallSignalHandlers() {
  static std::atomic<bool> installed{false};
  if (installed.exchange(true)) return;
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  action.sa_handler = OnContinue;
  sigaction(SIGCONT, &action, nullptr);
  action.sa_handler = OnTerminate;
  action.sa_flags = SA_RESTART | SA_RESETHAND;
  for (int signal : {SIGTERM, SIGHUP, SIGQUIT})
    sigaction(signal, &action, nullptr);
}

// ---- PluginCall ----

PluginCall::PluginCall(const Tty *tty, bool watchKeys) : tty_(tty) {
  gInterrupts.store(0);
  gInPluginCall.store(true);
  if (!tty_ || !watchKeys) return;
  ChangeModes(tty_->fd(), [](termios *modes) {
    modes->c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    modes->c_cc[VMIN] = 1;
    modes->c_cc[VTIME] = 0;
  });
  if (pipe2(stopPipe_, O_CLOEXEC) != 0) {
    stopPipe_[0] = stopPipe_[1] = -1;
    return;
  }
  watcher_ = std::thread(&PluginCall::Watch, this);
}

PluginCall::~PluginCall() {
  if (watcher_.joinable()) {
    WriteRaw(stopPipe_[1], "x");
    watcher_.join();
  }
  for (int fd : stopPipe_)
    if (fd >= 0) close(fd);
  if (tty_) RestoreTerminal();
  gInPluginCall.store(false);
}

void PluginCall::Watch() {
  // The signal handlers run on the main thread, not here.
  sigset_t all;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, nullptr);

  std::string pending;
  for (;;) {
    pollfd fds[2] = {{tty_->fd(), POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    int ready = poll(fds, 2, pending.empty() ? -1 : kEscapeGapMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) return;
    if (ready == 0) {
      // Nothing more came: a lone Escape cancels; an unfinished sequence
      // is dropped.
      if (pending.size() == 1 && static_cast<unsigned char>(pending[0]) == kEscape)
        VPCancelLatchSet();
      pending.clear();
      continue;
    }
    if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return;
    char buffer[64];
    ssize_t n = read(tty_->fd(), buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return;
    pending.append(buffer, static_cast<size_t>(n));

    while (!pending.empty()) {
      if (static_cast<unsigned char>(pending[0]) != kEscape) {
        pending.erase(0, 1); // typed ahead: not for us
        continue;
      }
      if (pending.size() == 1) break; // wait: lone, or the start of a sequence
      if (pending[1] == '[') {
        size_t length = CsiLength(pending);
        if (length == 0) break;
        if (IsControlPeriod(std::string_view(pending).substr(0, length))) VPCancelLatchSet();
        pending.erase(0, length);
      } else if (static_cast<unsigned char>(pending[1]) == kEscape) {
        VPCancelLatchSet(); // Escape pressed twice
        pending.erase(0, 1);
      } else if (pending[1] == 'O') {
        if (pending.size() < 3) break;
        pending.erase(0, 3);
      } else {
        pending.erase(0, 2); // Alt and a key
      }
    }
  }
}

// ---- RawScreen ----

RawScreen::RawScreen(const Tty &tty) : tty_(tty) {
  ok_ = ChangeModes(tty_.fd(), [](termios *modes) {
    modes->c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG | IEXTEN);
    modes->c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL | INLCR);
    modes->c_cc[VMIN] = 1;
    modes->c_cc[VTIME] = 0;
  });
  if (!ok_) return;
  gAltScreen.store(true);
  ok_ = tty_.Write(kEnterAltScreen);
}

RawScreen::~RawScreen() {
  RestoreTerminal();
}

Key RawScreen::ReadKey(int *digit) {
  auto readByte = [&](int timeoutMs, unsigned char *c) -> int {
    for (;;) {
      if (timeoutMs >= 0) {
        pollfd p{tty_.fd(), POLLIN, 0};
        int ready = poll(&p, 1, timeoutMs);
        if (ready == 0) return 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return -1;
      }
      ssize_t n = read(tty_.fd(), c, 1);
      if (n == 1) return 1;
      if (n < 0 && errno == EINTR) continue;
      return -1;
    }
  };
  unsigned char c = 0;
  if (readByte(-1, &c) != 1) return Key::kGone;
  switch (c) {
  case '\r':
  case '\n':
    return Key::kEnter;
  case 3:
    return Key::kInterrupt;
  case 4:
  case 'q':
  case 'Q':
    return Key::kCancel;
  case 'k':
    return Key::kUp;
  case 'j':
    return Key::kDown;
  default:
    break;
  }
  if (c >= '0' && c <= '9') {
    *digit = c - '0';
    return Key::kDigit;
  }
  if (c != kEscape) return Key::kOther;

  unsigned char next = 0;
  int got = readByte(kEscapeGapMs, &next);
  if (got < 0) return Key::kGone;
  if (got == 0) return Key::kCancel; // a lone Escape
  if (next != '[' && next != 'O') return Key::kOther;
  std::string sequence;
  for (;;) {
    unsigned char b = 0;
    int r = readByte(kEscapeGapMs, &b);
    if (r < 0) return Key::kGone;
    if (r == 0) return Key::kOther;
    sequence += static_cast<char>(b);
    if (b >= 0x40 && b <= 0x7E) break;
  }
  if (sequence == "A") return Key::kUp;
  if (sequence == "B") return Key::kDown;
  if (sequence == "H" || sequence == "1~" || sequence == "7~") return Key::kHome;
  if (sequence == "F" || sequence == "4~" || sequence == "8~") return Key::kEnd;
  return Key::kOther;
}

} // namespace vantlow::host
