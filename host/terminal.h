// The host and its terminal: the controlling terminal (/dev/tty) when the
// program runs in the foreground of one; the signal handlers that let Ctrl-C
// cancel a calculation and a second Ctrl-C end the program; the watch that
// turns a lone Escape typed during a calculation into the platform's cancel
// latch; and raw key input for the interactive menu. Whatever the program
// changes on the terminal is put back on every way out: when the holder
// goes, and from the handlers of SIGINT, SIGTERM, SIGHUP and SIGQUIT; and
// what it set is set again when the program goes on after a stop.
#pragma once

#include <memory>
#include <thread>

#include <termios.h>

namespace vantlow::host {

// The controlling terminal, open for reading and writing.
class Tty {
public:
  // The terminal, or null when the process has none or runs in the
  // background of it (reading keys or changing its modes there would stop
  // the process).
  static std::unique_ptr<Tty> Open();
  ~Tty();
  Tty(const Tty &) = delete;
  Tty &operator=(const Tty &) = delete;

  int fd() const { return fd_; }
  // Writes all of text; false when the terminal fails.
  bool Write(const std::string_view &text) const;
  // Rows and columns (24 x 80 when the terminal does not say).
  void Size(int *rows, int *columns) const;

private:
  explicit Tty(int fd) : fd_(fd) {}
  int fd_;
};

// Installs the handlers (once per process):
// - SIGINT during a call into a plug-in (see PluginCall) sets the cancel
//   latch the first time; at any other moment, or the second time within a
//   call, it restores the terminal and ends the program with status 130.
// - SIGTERM, SIGHUP and SIGQUIT restore the terminal and are then raised
//   again with their default action.
// - SIGCONT (going on after Ctrl-Z and fg) sets the modes the program had
//   put on the terminal again, since the shell puts its own meanwhile.
void InstallSignalHandlers();

// A call into a plug-in is running while this lives: Ctrl-C cancels it
// (InstallSignalHandlers). With a terminal and watchKeys, the terminal is
// also put in non-canonical mode without echo (signals still on) and a
// thread reads it: a lone Escape, or Ctrl-period where the terminal reports
// it (CSI 46;5u or CSI 27;5;46~), sets the cancel latch; other keys are
// dropped. Everything is put back when the object goes.
class PluginCall {
public:
  PluginCall(const Tty *tty, bool watchKeys);
  ~PluginCall();
  PluginCall(const PluginCall &) = delete;
  PluginCall &operator=(const PluginCall &) = delete;

private:
  void Watch();
  const Tty *tty_;
  int stopPipe_[2] = {-1, -1};
  std::thread watcher_;
};

// Keys for the interactive menu.
enum class Key { kUp, kDown, kHome, kEnd, kEnter, kDigit, kCancel, kInterrupt, kOther, kGone };

// The terminal in raw mode (no line editing, no echo, no signals: Ctrl-C
// arrives as a key) and in its alternate screen with the cursor hidden,
// while this lives.
class RawScreen {
public:
  explicit RawScreen(const Tty &tty);
  ~RawScreen();
  RawScreen(const RawScreen &) = delete;
  RawScreen &operator=(const RawScreen &) = delete;
  bool ok() const { return ok_; }

  // Waits for the next key. kDigit stores the digit in *digit. kGone: the
  // terminal hung up or failed.
  Key ReadKey(int *digit);

private:
  const Tty &tty_;
  bool ok_ = false;
};

} // namespace vantlow::host
