// The desktop tests' X server, driver and child processes (see x_session.h).
#include "x_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

namespace vantlow::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Bits of a 32-bit TrueColor image to 8-bit channels.
unsigned Channel(unsigned long pixel, unsigned long mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (!((mask >> shift) & 1))
    ++shift;
  const unsigned long max = mask >> shift;
  return static_cast<unsigned>(((pixel & mask) >> shift) * 255 / max);
}

} // namespace

std::unique_ptr<XServer> XServer::Start(std::string *why) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    *why = std::string("pipe: ") + std::strerror(errno);
    return nullptr;
  }
  pid_t pid = fork();
  if (pid == 0) {
    // Ends with the test, even when the test dies without cleaning up. The
    // write end reaches Xvfb as descriptor 3; its chatter goes nowhere.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    int null = open("/dev/null", O_WRONLY);
    const bool passed = fds[1] == 3 ? fcntl(3, F_SETFD, 0) == 0 : dup2(fds[1], 3) == 3;
    if (null < 0 || !passed || dup2(null, 1) < 0 || dup2(null, 2) < 0) _exit(126);
    execlp("Xvfb", "Xvfb", "-displayfd", "3", "-screen", "0", "1024x768x24", "-nolisten", "tcp",
           "-noreset", static_cast<char *>(nullptr));
    _exit(127);
  }
  const int err = pid < 0 ? errno : 0;
  close(fds[1]);
  if (pid < 0) {
    close(fds[0]);
    *why = std::string("Xvfb cannot be started: ") + std::strerror(err);
    return nullptr;
  }
  std::string number;
  pollfd wait = {fds[0], POLLIN, 0};
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < deadline && number.find('\n') == std::string::npos) {
    if (poll(&wait, 1, 200) <= 0) continue;
    char buffer[32];
    ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    number.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  if (number.find('\n') == std::string::npos) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    *why = "Xvfb did not say which display it serves";
    return nullptr;
  }
  number.erase(number.find('\n'));
  return std::unique_ptr<XServer>(new XServer(pid, ":" + number));
}

XServer::~XServer() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

// Windows come and go while the driver looks at them (a menu closes between
// listing the windows and asking one's size): such a request fails, and the
// caller passes that window over, instead of Xlib ending the process.
int IgnoreXErrors(Display *, XErrorEvent *) {
  return 0;
}

XDriver::XDriver(const std::string &display) : display_(XOpenDisplay(display.c_str())) {
  XSetErrorHandler(&IgnoreXErrors);
}

XDriver::~XDriver() {
  if (display_) XCloseDisplay(display_);
}

void XDriver::MoveTo(int x, int y) {
  XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
  XSync(display_, False);
}

void XDriver::Click(int button) {
  XTestFakeButtonEvent(display_, static_cast<unsigned>(button), True, CurrentTime);
  XSync(display_, False);
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  XTestFakeButtonEvent(display_, static_cast<unsigned>(button), False, CurrentTime);
  XSync(display_, False);
}

void XDriver::Key(unsigned long keysym, bool shift) {
  const KeyCode shiftCode = XKeysymToKeycode(display_, XK_Shift_L);
  const KeyCode code = XKeysymToKeycode(display_, keysym);
  if (shift) XTestFakeKeyEvent(display_, shiftCode, True, CurrentTime);
  XTestFakeKeyEvent(display_, code, True, CurrentTime);
  XSync(display_, False);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  XTestFakeKeyEvent(display_, code, False, CurrentTime);
  if (shift) XTestFakeKeyEvent(display_, shiftCode, False, CurrentTime);
  XSync(display_, False);
}

std::vector<ScreenWindow> XDriver::Windows() {
  std::vector<ScreenWindow> found;
  Window root = DefaultRootWindow(display_), parent = 0, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display_, root, &root, &parent, &children, &count)) return found;
  for (unsigned i = 0; i < count; ++i) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(display_, children[i], &a)) continue;
    if (a.map_state != IsViewable || a.c_class != InputOutput || a.width <= 1 || a.height <= 1)
      continue;
    found.push_back({children[i], a.x, a.y, a.width, a.height, a.override_redirect != 0});
  }
  if (children) XFree(children);
  return found;
}

std::vector<ScreenWindow> XDriver::WaitForWindows(bool overrideRedirect, size_t count,
                                                  std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  std::vector<ScreenWindow> previous;
  for (;;) {
    std::vector<ScreenWindow> matching;
    for (const ScreenWindow &w : Windows())
      if (w.overrideRedirect == overrideRedirect) matching.push_back(w);
    // Settled: the same windows twice in a row (a menu may still be placed
    // or resized right after it is mapped).
    if (matching.size() >= count && matching == previous) return matching;
    if (Clock::now() > deadline) return {};
    previous = matching;
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
  }
}

bool XDriver::WaitForNoWindows(bool overrideRedirect, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (Clock::now() <= deadline) {
    bool any = false;
    for (const ScreenWindow &w : Windows())
      any = any || w.overrideRedirect == overrideRedirect;
    if (!any) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

bool XDriver::Screenshot(const std::string &path) {
  return Screenshot(path, {});
}

bool XDriver::Screenshot(const std::string &path, const std::vector<ScreenWindow> &windows) {
  const int screenWidth = DisplayWidth(display_, DefaultScreen(display_));
  const int screenHeight = DisplayHeight(display_, DefaultScreen(display_));
  int left = 0, top = 0, right = screenWidth, bottom = screenHeight;
  if (!windows.empty()) {
    constexpr int kMargin = 12;
    left = right = windows.front().x;
    top = bottom = windows.front().y;
    for (const ScreenWindow &w : windows) {
      left = std::min(left, w.x);
      top = std::min(top, w.y);
      right = std::max(right, w.x + w.width);
      bottom = std::max(bottom, w.y + w.height);
    }
    left = std::max(0, left - kMargin);
    top = std::max(0, top - kMargin);
    right = std::min(screenWidth, right + kMargin);
    bottom = std::min(screenHeight, bottom + kMargin);
  }
  const int width = right - left, height = bottom - top;
  if (width <= 0 || height <= 0) return false;
  XImage *image =
      XGetImage(display_, DefaultRootWindow(display_), left, top, static_cast<unsigned>(width),
                static_cast<unsigned>(height), AllPlanes, ZPixmap);
  if (!image) return false;
  GdkPixbuf *pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
  bool saved = false;
  if (pixbuf) {
    guchar *pixels = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const unsigned long pixel = XGetPixel(image, x, y);
        guchar *p = pixels + y * stride + x * 3;
        p[0] = static_cast<guchar>(Channel(pixel, image->red_mask));
        p[1] = static_cast<guchar>(Channel(pixel, image->green_mask));
        p[2] = static_cast<guchar>(Channel(pixel, image->blue_mask));
      }
    }
    saved = gdk_pixbuf_save(pixbuf, path.c_str(), "png", nullptr, nullptr);
    g_object_unref(pixbuf);
  }
  XDestroyImage(image);
  return saved;
}

void XDriver::CloseWindow(Window window) {
  XEvent event = {};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display_, window, False, NoEventMask, &event);
  XSync(display_, False);
}

} // namespace vantlow::testing
