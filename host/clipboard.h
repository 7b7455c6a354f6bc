// Handing text to the desktop clipboard, the way a terminal program can on
// Linux: wl-copy under Wayland, xclip or xsel under X11, and otherwise the
// terminal's own clipboard sequence (OSC 52), which many terminal emulators
// honour, also over ssh. The first way that works is used; a tool that is
// missing is passed over, one that runs and fails is reported with the way
// that was used instead.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace vantlow::host {

struct ClipboardSettings {
  std::string waylandDisplay; // $WAYLAND_DISPLAY: empty when there is no Wayland display
  std::string display;        // $DISPLAY: empty when there is no X11 display
  int terminalFd = -1;        // a terminal for OSC 52, or -1
  // How long a clipboard tool may take to read the text and return.
  std::chrono::milliseconds toolTimeout{5000};

  // The environment's displays; the terminal is standard error when it is
  // one, else outputFd (the program's own standard output) when it is one.
  static ClipboardSettings FromEnvironment(int outputFd);
};

struct ClipboardResult {
  bool copied = false;
  // How the text went: "wl-copy", "xclip", "xsel" or "the terminal (OSC 52)";
  // empty when it did not go.
  std::string method;
  // Each way that was tried and failed, e.g. "wl-copy failed (exit status 1)".
  std::vector<std::string> failures;

  // One line for the user, without the program name or a line end, e.g.
  // "copied to the clipboard with xclip (wl-copy failed (exit status 1))" or
  // "not copied to the clipboard: no Wayland or X11 display and no terminal".
  std::string Describe() const;
};

// Copies utf8 to the clipboard as the settings allow (see the top of this
// file). The tools get the text on their standard input, with standard
// output and error on /dev/null (they stay in the background to serve the
// clipboard); SIGPIPE from a tool that went away is not raised.
ClipboardResult CopyToClipboard(const std::string &utf8, const ClipboardSettings &settings);

// The OSC 52 sequence that asks a terminal to put utf8 on its clipboard.
std::string Osc52Sequence(const std::string &utf8);

} // namespace vantlow::host
