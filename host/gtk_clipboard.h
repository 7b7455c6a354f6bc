// Keeping text on the X11 CLIPBOARD selection after `vantlow --menu` ends.
//
// An X11 selection lives only as long as the program that owns it. When a
// clipboard manager runs, GTK hands the text to it (gtk_clipboard_store);
// when none runs, a small background process must keep owning the selection,
// as xclip does. That process is forked before GTK starts (a process that
// already talks to the display server, or runs GLib's threads, cannot be
// forked safely); it waits for the text on a pipe, and only then opens its
// own connection to the display, owns CLIPBOARD, answers requests for it,
// and exits as soon as another program takes the clipboard. It is detached
// from the terminal and from the launcher's output, so nobody waits for it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>

namespace vantlow::host {

class ClipboardKeeper {
public:
  // Forks the waiting process; null when it cannot be started (errno tells).
  static std::unique_ptr<ClipboardKeeper> Start();
  // Without a Serve that succeeded, the waiting process is told there is
  // nothing to keep and is reaped.
  ~ClipboardKeeper();
  ClipboardKeeper(const ClipboardKeeper &) = delete;
  ClipboardKeeper &operator=(const ClipboardKeeper &) = delete;

  // Hands utf8 to the process and waits (at most timeout) until it owns the
  // clipboard. True when it does; false when it failed (no display, the
  // selection could not be taken) or did not answer in time. At most once.
  bool Serve(const std::string &utf8, std::chrono::milliseconds timeout);

private:
  ClipboardKeeper(pid_t pid, int toKeeper, int fromKeeper)
      : pid_(pid), toKeeper_(toKeeper), fromKeeper_(fromKeeper) {}
  pid_t pid_;
  int toKeeper_;   // the text goes here; closed without text: nothing to keep
  int fromKeeper_; // one byte back: '1' owns the clipboard, '0' failed
  bool serving_ = false;
};

} // namespace vantlow::host
