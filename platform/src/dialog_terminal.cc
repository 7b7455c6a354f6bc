// The terminal renderer: the event source that shows a modal window on the
// process's controlling terminal (/dev/tty) and reads the user's keys. It
// draws a framed box in the terminal's alternate screen (so the user's own
// screen comes back afterwards), keeps the terminal in raw mode while the
// loop runs and restores its settings on every way out. SIGINT, SIGTERM and
// SIGHUP end the loop: the settings are restored first and the signal is
// raised again afterwards, so the process's own handling of it follows.
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <wchar.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cf_string_internal.h"
#include "syscalls.h"
#include "windows_internal.h"

namespace {

using vp::String8;
using vp::Vector;
using vp::dialog::Action;

// How long the rest of an escape sequence may take to arrive before a lone
// Escape is taken to be the Escape key.
constexpr int kEscapeTimeoutMs = 50;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGWINCH};
constexpr std::size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];

// Written by the signal handler, read by the renderer that runs now.
volatile sig_atomic_t gWakeFd = -1;
volatile sig_atomic_t gPendingSignal = 0;

extern "C" void OnSignal(int sig) {
  int savedErrno = errno;
  if (sig != SIGWINCH) gPendingSignal = sig;
  int fd = gWakeFd;
  if (fd >= 0) {
    char byte = 1;
    ssize_t ignored = ::write(fd, &byte, 1); // the self-pipe; nothing to do when full
    (void)ignored;
  }
  errno = savedErrno;
}

enum class Key {
  kNone, // nothing the dialog answers
  kRedraw,
  kTab,
  kBackTab,
  kUp,
  kDown,
  kLeft,
  kRight,
  kSpace,
  kEnter,
  kCancel, // Escape, Ctrl-C
};

// One place the focus can rest: a radio button (item 1..n of its group), a
// checkbox or a push button (item 0).
struct Stop {
  ControlRef control;
  ItemCount item;
};

struct Segment {
  String8 text;
  bool focused;
};
using Line = Vector<Segment>;

// ---- Text in the terminal's character set ----

// Decodes one UTF-8 sequence of the (valid) text at i; advances i.
char32_t NextCodePoint(const String8 &text, std::size_t &i) {
  unsigned char c = static_cast<unsigned char>(text[i++]);
  if (c < 0x80) return c;
  int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
  char32_t cp = c & (0x3F >> extra);
  for (int k = 0; k < extra && i < text.size(); ++k)
    cp = (cp << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
  return cp;
}

void AppendUTF8(String8 &out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Columns a code point takes; control characters never reach here.
int Columns(char32_t cp) {
  if (cp < 0x80) return 1;
  int w = ::wcwidth(static_cast<wchar_t>(cp));
  return w < 0 ? 1 : w;
}

int Width(const String8 &text) {
  int width = 0;
  for (std::size_t i = 0; i < text.size();)
    width += Columns(NextCodePoint(text, i));
  return width;
}

// The first `columns` columns of text.
String8 Clip(const String8 &text, int columns) {
  String8 out;
  int used = 0;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t start = i;
    int w = Columns(NextCodePoint(text, i));
    if (used + w > columns) break;
    used += w;
    out.append(text, start, i - start);
  }
  return out;
}

String8 Spaces(int n) {
  return String8(n > 0 ? static_cast<std::size_t>(n) : 0, ' ');
}

// ---- The renderer ----

class TerminalSource final : public vp::dialog::EventSource {
public:
  explicit TerminalSource(int fd) noexcept : fd_(fd) {}
  ~TerminalSource() override {
    Restore();
    vp::sys::close(fd_);
  }

  OSStatus Present(WindowRef window) override;
  OSStatus Next(WindowRef window, Action *action) override;
  void Refresh(WindowRef window) override {
    try {
      Draw(window);
    } catch (...) {
      failure_ = memFullErr; // reported by the next Next
    }
  }
  void Dismiss(WindowRef window) override;

private:
  OSStatus ReadKey(Key *key);
  OSStatus Fill(int timeoutMs, bool *gotInput);
  void Draw(WindowRef window);
  void WriteAll(const String8 &bytes);
  void Restore() noexcept;
  String8 Text(CFStringRef string, bool multiline = false) const;
  void MoveToControl(int direction);
  ControlRef ButtonWithCommand(WindowRef window, UInt32 command) const;

  int fd_;
  struct termios saved_ {};
  bool raw_ = false;
  bool handlers_ = false;
  bool screen_ = false;
  int wake_[2] = {-1, -1};
  struct sigaction old_[kSignalCount] {};
  sig_atomic_t outerWakeFd_ = -1;
  sig_atomic_t outerPending_ = 0;
  bool utf8_ = false;
  OSStatus failure_ = noErr; // a failed write, reported by the next Next
  String8 input_;            // bytes read and not yet understood
  Vector<Stop> stops_;
  std::size_t focus_ = 0;
};

OSStatus TerminalSource::Present(WindowRef window) {
  if (::tcgetattr(fd_, &saved_) != 0) return ioErr;
  const char *codeset = ::nl_langinfo(CODESET);
  utf8_ = codeset && std::strcmp(codeset, "UTF-8") == 0;

  for (ItemCount i = 1, n = VPWindowCountControls(window); i <= n; ++i) {
    ControlRef c = VPWindowGetControlAtIndex(window, i);
    UInt32 kind = VPControlGetKind(c);
    if (kind == kVPControlKindRadioGroup) {
      for (ItemCount item = 1, count = VPControlCountItems(c); item <= count; ++item)
        stops_.push_back(Stop{c, item});
    } else if (kind == kVPControlKindCheckbox || kind == kVPControlKindPushButton) {
      stops_.push_back(Stop{c, 0});
    }
  }
  focus_ = 0;
  MoveToControl(0);

  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) return ioErr;
  outerWakeFd_ = gWakeFd;
  outerPending_ = gPendingSignal;
  gPendingSignal = 0;
  gWakeFd = wake_[1];
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0; // no SA_RESTART: a signal wakes a waiting poll
  for (std::size_t i = 0; i < kSignalCount; ++i)
    ::sigaction(kSignals[i], &sa, &old_[i]);
  handlers_ = true;

  struct termios raw = saved_;
  raw.c_iflag &=
      ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
  raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  // TCSANOW, not TCSAFLUSH: keys typed ahead are the user's answer.
  if (::tcsetattr(fd_, TCSANOW, &raw) != 0) return ioErr;
  raw_ = true;

  WriteAll(String8("\x1b[?1049h\x1b[?25l"));
  screen_ = true;
  Draw(window);
  return failure_;
}

void TerminalSource::Dismiss(WindowRef) {
  Restore();
}

void TerminalSource::Restore() noexcept {
  if (screen_) {
    screen_ = false;
    static const char kLeave[] = "\x1b[0m\x1b[?25h\x1b[?1049l";
    std::size_t done = 0;
    while (done < sizeof kLeave - 1) {
      ssize_t n = vp::sys::write(fd_, kLeave + done, sizeof kLeave - 1 - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
  }
  if (raw_) {
    raw_ = false;
    ::tcsetattr(fd_, TCSANOW, &saved_);
  }
  if (handlers_) {
    handlers_ = false;
    int pending = gPendingSignal;
    for (std::size_t i = 0; i < kSignalCount; ++i)
      ::sigaction(kSignals[i], &old_[i], nullptr);
    gWakeFd = outerWakeFd_;
    gPendingSignal = outerPending_;
    for (int &fd : wake_) {
      if (fd >= 0) ::close(fd);
      fd = -1;
    }
    // The terminal is itself again: let the process handle the signal as it
    // would have without us.
    if (pending != 0) ::raise(pending);
  }
}

void TerminalSource::WriteAll(const String8 &bytes) {
  std::size_t done = 0;
  while (failure_ == noErr && done < bytes.size()) {
    ssize_t n = vp::sys::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      // EIO: the terminal hung up and nobody is there to answer.
      failure_ = n < 0 && errno == EIO ? userCanceledErr : ioErr;
    }
  }
}

// Reads what the terminal has, waiting up to timeoutMs (-1: as long as it
// takes). *gotInput tells whether bytes arrived; a signal returns at once.
OSStatus TerminalSource::Fill(int timeoutMs, bool *gotInput) {
  *gotInput = false;
  for (;;) {
    if (gPendingSignal != 0) return userCanceledErr;
    struct pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    int ready = ::poll(fds, 2, timeoutMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return ioErr;
    }
    if (ready == 0) return noErr;
    if (fds[1].revents & POLLIN) {
      char drain[16];
      while (::read(wake_[0], drain, sizeof drain) > 0) {
      }
      if (gPendingSignal != 0) return userCanceledErr;
      return noErr; // a size change: the caller redraws
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
      char buf[64];
      ssize_t n = vp::sys::read(fd_, buf, sizeof buf);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      // End of input or a hang-up: the user is gone without an answer.
      if (n == 0 || (n < 0 && errno == EIO)) return userCanceledErr;
      if (n < 0) return ioErr;
      input_.append(buf, static_cast<std::size_t>(n));
      *gotInput = true;
      return noErr;
    }
  }
}

OSStatus TerminalSource::ReadKey(Key *key) {
  *key = Key::kNone;
  bool got = false;
  if (input_.empty()) {
    OSStatus err = Fill(-1, &got);
    if (err != noErr) return err;
    if (!got) {
      *key = Key::kRedraw;
      return noErr;
    }
  }
  std::size_t used = 1;
  unsigned char c = static_cast<unsigned char>(input_[0]);
  if (c == 0x1B) {
    // Wait briefly for the rest of an escape sequence.
    auto need = [&](std::size_t n) -> OSStatus {
      while (input_.size() < n) {
        OSStatus err = Fill(kEscapeTimeoutMs, &got);
        if (err != noErr) return err;
        if (!got) break;
      }
      return noErr;
    };
    if (OSStatus err = need(2); err != noErr) return err;
    if (input_.size() < 2 || input_[1] == 0x1B) {
      *key = Key::kCancel;
    } else if (input_[1] == '[' || input_[1] == 'O') {
      // CSI: parameters, then a final byte 0x40..0x7E; SS3: one letter.
      std::size_t end = 2;
      for (;;) {
        if (OSStatus err = need(end + 1); err != noErr) return err;
        if (input_.size() <= end) break; // cut short: drop what came
        unsigned char b = static_cast<unsigned char>(input_[end]);
        if (input_[1] == 'O' || (b >= 0x40 && b <= 0x7E)) {
          switch (b) {
          case 'A':
            *key = Key::kUp;
            break;
          case 'B':
            *key = Key::kDown;
            break;
          case 'C':
            *key = Key::kRight;
            break;
          case 'D':
            *key = Key::kLeft;
            break;
          case 'Z':
            *key = input_[1] == '[' ? Key::kBackTab : Key::kNone;
            break;
          default:
            break;
          }
          break;
        }
        if (++end > 32) break; // not a sequence we know: drop it
      }
      used = end + 1 < input_.size() ? end + 1 : input_.size();
    } else {
      used = 2; // Alt and a key: nothing the dialog answers
    }
  } else if (c == '\t') {
    *key = Key::kTab;
  } else if (c == '\r' || c == '\n') {
    *key = Key::kEnter;
  } else if (c == ' ') {
    *key = Key::kSpace;
  } else if (c == 0x03) {
    *key = Key::kCancel;
  }
  input_.erase(0, used);
  return noErr;
}

// Moves the focus to the next (1) or previous (-1) control that takes it,
// or (0) onto the control it rests on now; on a radio group, to its
// selected button.
void TerminalSource::MoveToControl(int direction) {
  if (stops_.empty()) return;
  std::size_t n = stops_.size();
  std::size_t at = focus_ % n;
  if (direction != 0) {
    ControlRef current = stops_[at].control;
    std::size_t i = at;
    // Leave the current control, then (going back) find its first stop.
    do {
      i = direction > 0 ? (i + 1) % n : (i + n - 1) % n;
    } while (stops_[i].control == current && i != at);
    if (direction < 0)
      while (stops_[(i + n - 1) % n].control == stops_[i].control && (i + n - 1) % n != at)
        i = (i + n - 1) % n;
    at = i;
  } else {
    while (at > 0 && stops_[at - 1].control == stops_[at].control)
      --at;
  }
  ControlRef target = stops_[at].control;
  if (stops_[at].item > 0) {
    SInt32 selected = GetControl32BitValue(target);
    for (std::size_t i = at; i < n && stops_[i].control == target; ++i)
      if (stops_[i].item == static_cast<ItemCount>(selected)) at = i;
  }
  focus_ = at;
}

ControlRef TerminalSource::ButtonWithCommand(WindowRef window, UInt32 command) const {
  for (const Stop &stop : stops_) {
    UInt32 c = 0;
    if (VPControlGetKind(stop.control) == kVPControlKindPushButton &&
        GetControlCommandID(stop.control, &c) == noErr && c == command)
      return stop.control;
  }
  (void)window;
  return nullptr;
}

OSStatus TerminalSource::Next(WindowRef window, Action *action) {
  for (;;) {
    if (failure_ != noErr) return failure_;
    Key key;
    OSStatus err = ReadKey(&key);
    if (err != noErr) return err;
    const Stop *stop = stops_.empty() ? nullptr : &stops_[focus_];
    std::size_t n = stops_.size();
    switch (key) {
    case Key::kNone:
      continue;
    case Key::kRedraw:
      break;
    case Key::kTab:
      MoveToControl(1);
      break;
    case Key::kBackTab:
      MoveToControl(-1);
      break;
    case Key::kDown:
    case Key::kRight:
      if (n) focus_ = (focus_ + 1) % n;
      break;
    case Key::kUp:
    case Key::kLeft:
      if (n) focus_ = (focus_ + n - 1) % n;
      break;
    case Key::kSpace:
      if (!stop) continue;
      action->control = stop->control;
      if (stop->item > 0) {
        action->kind = kVPModalActionSetValue;
        action->value = static_cast<SInt32>(stop->item);
      } else if (VPControlGetKind(stop->control) == kVPControlKindCheckbox) {
        action->kind = kVPModalActionSetValue;
        action->value = GetControl32BitValue(stop->control) == 1 ? 0 : 1;
      } else {
        action->kind = kVPModalActionPress;
      }
      return noErr;
    case Key::kEnter:
    case Key::kCancel: {
      if (key == Key::kEnter && stop &&
          VPControlGetKind(stop->control) == kVPControlKindPushButton) {
        action->kind = kVPModalActionPress;
        action->control = stop->control;
        return noErr;
      }
      UInt32 command = key == Key::kEnter ? kHICommandOK : kHICommandCancel;
      if (ControlRef button = ButtonWithCommand(window, command)) {
        action->kind = kVPModalActionPress;
        action->control = button;
      } else {
        action->kind = kVPModalActionCommand;
        action->command = command;
      }
      return noErr;
    }
    }
    Draw(window);
  }
}

// The text of a title as the terminal shows it: control characters become
// spaces (no title can move the cursor or change colours; line breaks stay
// in multiline text), and outside a UTF-8 locale every character beyond
// ASCII becomes '?'.
String8 TerminalSource::Text(CFStringRef string, bool multiline) const {
  String8 out;
  const vp::String16 *units = vp::Units(string);
  if (!units) return out;
  String8 utf8 = vp::ToUTF8Lossy(*units);
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t cp = NextCodePoint(utf8, i);
    if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0))
      cp = multiline && cp == '\n' ? '\n' : ' ';
    if (!utf8_ && cp >= 0x80) cp = '?';
    AppendUTF8(out, cp);
  }
  return out;
}

void Wrap(const String8 &text, int width, Vector<String8> &lines) {
  std::size_t i = 0;
  while (i <= text.size()) {
    std::size_t end = text.find('\n', i);
    if (end == String8::npos) end = text.size();
    String8 line;
    std::size_t j = i;
    while (j < end) {
      std::size_t space = text.find(' ', j);
      if (space == String8::npos || space > end) space = end;
      String8 word = text.substr(j, space - j);
      j = space + 1;
      if (word.empty()) continue;
      String8 candidate = line.empty() ? word : line + " " + word;
      if (Width(candidate) <= width) {
        line = std::move(candidate);
        continue;
      }
      if (!line.empty()) lines.push_back(std::move(line));
      line.clear();
      while (Width(word) > width) {
        String8 head = Clip(word, width);
        if (head.empty()) break;
        lines.push_back(head);
        word.erase(0, head.size());
      }
      line = std::move(word);
    }
    lines.push_back(std::move(line));
    i = end + 1;
  }
}

void TerminalSource::Draw(WindowRef window) {
  int rows = 24, cols = 80;
  struct winsize ws {};
  if (::ioctl(fd_, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0) {
    rows = ws.ws_row;
    cols = ws.ws_col;
  }
  const int limit = cols - 4 > 1 ? cols - 4 : 1;
  const char *bullet = utf8_ ? "(\xE2\x80\xA2)" : "(*)";

  // First the lines that do not wrap, to know how wide the box must be.
  CFStringRef titleString = nullptr;
  CopyWindowTitleAsCFString(window, &titleString);
  vp::Ref<> titleRef(titleString);
  String8 title = Text(titleString);
  int inner = Width(title) + 4;
  if (inner < 30) inner = 30;
  struct Item {
    ControlRef control;
    UInt32 kind;
    String8 text;
  };
  Vector<Item> items;
  for (ItemCount i = 1, n = VPWindowCountControls(window); i <= n; ++i) {
    ControlRef c = VPWindowGetControlAtIndex(window, i);
    CFStringRef s = nullptr;
    CopyControlTitleAsCFString(c, &s);
    vp::Ref<> hold(s);
    UInt32 kind = VPControlGetKind(c);
    items.push_back(Item{c, kind, Text(s, kind == kVPControlKindStaticText)});
    const Item &item = items.back();
    if (item.kind == kVPControlKindRadioGroup) {
      int w = Width(item.text);
      for (ItemCount k = 1, count = VPControlCountItems(c); k <= count; ++k) {
        CFStringRef t = nullptr;
        VPControlCopyItemTitle(c, k, &t);
        vp::Ref<> holdItem(t);
        int iw = Width(Text(t)) + 6;
        if (iw > w) w = iw;
      }
      if (w > inner) inner = w;
    } else if (item.kind == kVPControlKindCheckbox) {
      if (Width(item.text) + 4 > inner) inner = Width(item.text) + 4;
    } else if (item.kind == kVPControlKindStaticText) {
      int w = Width(item.text);
      if (w > 56) w = 56;
      if (w > inner) inner = w;
    }
  }
  // A row of buttons.
  for (std::size_t i = 0; i < items.size();) {
    int w = 0;
    std::size_t j = i;
    while (j < items.size() && items[j].kind == kVPControlKindPushButton)
      w += Width(items[j++].text) + 4 + (w ? 2 : 0);
    if (w > inner) inner = w;
    i = j > i ? j : i + 1;
  }
  if (inner > limit) inner = limit;

  Vector<Line> lines;
  auto blank = [&] {
    if (!lines.empty() && !lines.back().empty()) lines.emplace_back();
  };
  auto plain = [&](String8 text) {
    Line line;
    line.push_back(Segment{std::move(text), false});
    lines.push_back(std::move(line));
  };
  auto focusedOn = [&](ControlRef c, ItemCount item) {
    return !stops_.empty() && stops_[focus_].control == c && stops_[focus_].item == item;
  };
  lines.emplace_back();
  for (std::size_t i = 0; i < items.size(); ++i) {
    const Item &item = items[i];
    switch (item.kind) {
    case kVPControlKindStaticText: {
      Vector<String8> wrapped;
      Wrap(item.text, inner, wrapped);
      for (String8 &w : wrapped)
        plain(std::move(w));
      blank();
      break;
    }
    case kVPControlKindRadioGroup: {
      if (!item.text.empty()) plain(item.text);
      SInt32 selected = GetControl32BitValue(item.control);
      for (ItemCount k = 1, count = VPControlCountItems(item.control); k <= count; ++k) {
        CFStringRef t = nullptr;
        VPControlCopyItemTitle(item.control, k, &t);
        vp::Ref<> hold(t);
        String8 label(static_cast<SInt32>(k) == selected ? bullet : "( )");
        label += ' ';
        label += Text(t);
        Line line;
        line.push_back(Segment{String8("  "), false});
        line.push_back(Segment{std::move(label), focusedOn(item.control, k)});
        lines.push_back(std::move(line));
      }
      blank();
      break;
    }
    case kVPControlKindCheckbox: {
      SInt32 v = GetControl32BitValue(item.control);
      String8 label(v == 0 ? "[ ] " : v == 1 ? "[x] " : "[-] ");
      label += item.text;
      Line line;
      line.push_back(Segment{std::move(label), focusedOn(item.control, 0)});
      lines.push_back(std::move(line));
      blank();
      break;
    }
    case kVPControlKindPushButton: {
      Line line;
      int w = 0;
      std::size_t j = i;
      for (; j < items.size() && items[j].kind == kVPControlKindPushButton; ++j)
        w += Width(items[j].text) + 4 + (j > i ? 2 : 0);
      if (w < inner) line.push_back(Segment{Spaces((inner - w) / 2), false});
      for (std::size_t k = i; k < j; ++k) {
        if (k > i) line.push_back(Segment{String8("  "), false});
        String8 label("[ ");
        label += items[k].text;
        label += " ]";
        line.push_back(Segment{std::move(label), focusedOn(items[k].control, 0)});
      }
      lines.push_back(std::move(line));
      blank();
      i = j - 1;
      break;
    }
    default:
      break;
    }
  }
  blank();

  const char *h = utf8_ ? "\xE2\x94\x80" : "-";
  const char *v = utf8_ ? "\xE2\x94\x82" : "|";
  int width = inner + 4;
  int height = static_cast<int>(lines.size()) + 2;
  int left = cols > width ? (cols - width) / 2 : 0;
  WindowPositionMethod method = VPWindowGetPositionMethod(window);
  bool centred = method >= kWindowCenterOnMainScreen && method <= kWindowCenterOnParentWindowScreen;
  int top = rows > height ? (rows - height) / (centred ? 2 : 3) : 0;

  String8 out("\x1b[0m\x1b[H\x1b[2J");
  char move[32];
  auto at = [&](int row) {
    std::snprintf(move, sizeof move, "\x1b[%d;%dH", top + row + 1, left + 1);
    out += move;
  };
  // The frame's top edge carries the title.
  at(0);
  out += utf8_ ? "\xE2\x94\x8C" : "+";
  out += h;
  int used = 1;
  if (!title.empty() && inner > 2) {
    String8 t = Clip(title, inner - 1);
    out += ' ';
    out += t;
    out += ' ';
    used += Width(t) + 2;
  }
  for (; used < inner + 2; ++used)
    out += h;
  out += utf8_ ? "\xE2\x94\x90" : "+";
  for (std::size_t r = 0; r < lines.size() && top + static_cast<int>(r) + 1 < rows; ++r) {
    at(static_cast<int>(r) + 1);
    out += v;
    out += ' ';
    int room = inner;
    for (const Segment &segment : lines[r]) {
      String8 text = Clip(segment.text, room);
      if (segment.focused) out += "\x1b[7m";
      out += text;
      if (segment.focused) out += "\x1b[0m";
      room -= Width(text);
    }
    out += Spaces(room);
    out += ' ';
    out += v;
  }
  if (top + height - 1 < rows) {
    at(height - 1);
    out += utf8_ ? "\xE2\x94\x94" : "+";
    for (int k = 0; k < inner + 2; ++k)
      out += h;
    out += utf8_ ? "\xE2\x94\x98" : "+";
  }
  WriteAll(out);
}

} // namespace

namespace vp::dialog {

EventSource *NewTerminalSource(OSStatus *status) {
  *status = noErr;
  int fd = vp::sys::openat(AT_FDCWD, "/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    int err = errno;
    // No controlling terminal (ENXIO), or none on this system.
    bool none = err == ENXIO || err == ENOENT || err == ENODEV || err == ENOTTY;
    *status = none ? static_cast<OSStatus>(kVPModalNoEventSourceErr) : static_cast<OSStatus>(ioErr);
    return nullptr;
  }
  if (!::isatty(fd)) {
    vp::sys::close(fd);
    *status = kVPModalNoEventSourceErr;
    return nullptr;
  }
  try {
    return vp::New<TerminalSource>(fd);
  } catch (...) {
    vp::sys::close(fd);
    throw;
  }
}

} // namespace vp::dialog
