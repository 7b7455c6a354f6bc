// Test helpers for the desktop tests: a private X server (Xvfb) for one
// test, and a driver that plays the user on it through the XTEST extension
// (pointer moves, clicks, keys), lists the windows on screen and saves a
// screenshot of the whole screen as a PNG. Nothing here compares pixels.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <X11/Xlib.h>

#include "child_process.h"

namespace vantlow::testing {

// An Xvfb server on a display number of its own choosing (-displayfd), so
// that tests running side by side never meet. Stopped when the object goes.
class XServer {
public:
  // Null when Xvfb is not installed or does not start; *why says which.
  static std::unique_ptr<XServer> Start(std::string *why);
  XServer(const XServer &) = delete;
  XServer &operator=(const XServer &) = delete;
  ~XServer();
  // ":N"
  const std::string &display() const { return display_; }

private:
  XServer(pid_t pid, std::string display) : pid_(pid), display_(std::move(display)) {}
  pid_t pid_ = -1;
  std::string display_;
};

// A mapped window directly below the root: a popup menu (override-redirect)
// or a top-level window.
struct ScreenWindow {
  Window id;
  int x, y, width, height;
  bool overrideRedirect;
  bool operator==(const ScreenWindow &) const = default;
};

// One connection to the server, for playing the user and looking on.
class XDriver {
public:
  explicit XDriver(const std::string &display);
  ~XDriver();
  XDriver(const XDriver &) = delete;
  XDriver &operator=(const XDriver &) = delete;
  bool ok() const { return display_ != nullptr; }

  void MoveTo(int x, int y);
  void Click(int button = 1);
  // keysym: XK_Return, XK_Escape, XK_Tab...; with Shift held when shift.
  void Key(unsigned long keysym, bool shift = false);

  // The windows that can be seen now, bottom to top.
  std::vector<ScreenWindow> Windows();
  // Waits until at least count windows matching overrideRedirect are on
  // screen and returns them (bottom to top); empty on time-out.
  std::vector<ScreenWindow> WaitForWindows(bool overrideRedirect, size_t count,
                                           std::chrono::milliseconds timeout);
  // Waits until no window matching overrideRedirect is on screen.
  bool WaitForNoWindows(bool overrideRedirect, std::chrono::milliseconds timeout);
  // Saves the screen, or the part of it that the windows cover (with a
  // margin), as a PNG; false when it cannot.
  bool Screenshot(const std::string &path);
  bool Screenshot(const std::string &path, const std::vector<ScreenWindow> &windows);
  // Asks the window to close, as a window manager's close button does
  // (WM_DELETE_WINDOW).
  void CloseWindow(Window window);

private:
  Display *display_ = nullptr;
};

} // namespace vantlow::testing
