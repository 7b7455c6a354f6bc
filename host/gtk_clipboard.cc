// The clipboard keeper (see gtk_clipboard.h): the parent's side writes the
// text into a pipe and waits for one byte of answer; the child's side turns
// into a tiny GTK program that owns CLIPBOARD until someone else takes it.
#include "gtk_clipboard.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <gtk/gtk.h>

namespace vantlow::host {
namespace {

// The text is at most this long (a menu line is far shorter; the limit only
// keeps a broken writer from making the keeper read without end).
constexpr std::uint64_t kMaxText = 16u << 20;

bool WriteAll(int fd, const void *data, size_t size) {
  const char *p = static_cast<const char *>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, void *data, size_t size) {
  char *p = static_cast<char *>(data);
  while (size > 0) {
    ssize_t n = read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// The keeper's state, reached from GTK's callbacks.
struct Kept {
  std::string text;
  bool lost = false;
};

void OnGet(GtkClipboard *, GtkSelectionData *data, guint, gpointer user) {
  const std::string &text = static_cast<Kept *>(user)->text;
  gtk_selection_data_set_text(data, text.data(), static_cast<gint>(text.size()));
}

// Called when another program takes the clipboard: the keeper's job is done.
void OnClear(GtkClipboard *, gpointer user) {
  static_cast<Kept *>(user)->lost = true;
  gtk_main_quit();
}

// The child: waits for the text and keeps it. Never returns.
[[noreturn]] void KeeperMain(int in, int out) {
  Kept kept;
  std::uint64_t size = 0;
  if (!ReadAll(in, &size, sizeof size) || size > kMaxText) _exit(0); // nothing to keep
  kept.text.resize(static_cast<size_t>(size));
  if (size > 0 && !ReadAll(in, kept.text.data(), kept.text.size())) _exit(0);
  close(in);

  char answer = '0';
  if (!gtk_init_check(nullptr, nullptr)) {
    WriteAll(out, &answer, 1);
    _exit(1);
  }
  GtkClipboard *clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  GtkTargetList *list = gtk_target_list_new(nullptr, 0);
  gtk_target_list_add_text_targets(list, 0);
  gint count = 0;
  GtkTargetEntry *targets = gtk_target_table_new_from_list(list, &count);
  gboolean owned = gtk_clipboard_set_with_data(clipboard, targets, static_cast<guint>(count),
                                               &OnGet, &OnClear, &kept);
  gtk_target_table_free(targets, count);
  gtk_target_list_unref(list);
  // Make sure the server has seen the ownership before the parent (and
  // whoever started it) goes on.
  gdk_display_sync(gdk_display_get_default());
  answer = owned ? '1' : '0';
  WriteAll(out, &answer, 1);
  close(out);
  if (!owned) _exit(1);
  gtk_main();
  _exit(0);
}

} // namespace

std::unique_ptr<ClipboardKeeper> ClipboardKeeper::Start() {
  int toKeeper[2], fromKeeper[2];
  if (pipe2(toKeeper, O_CLOEXEC) != 0) return nullptr;
  if (pipe2(fromKeeper, O_CLOEXEC) != 0) {
    close(toKeeper[0]);
    close(toKeeper[1]);
    return nullptr;
  }
  pid_t pid = fork();
  if (pid < 0) {
    for (int fd : {toKeeper[0], toKeeper[1], fromKeeper[0], fromKeeper[1]})
      close(fd);
    return nullptr;
  }
  if (pid == 0) {
    // Its own session, away from the terminal; standard input, output and
    // error on /dev/null so that a launcher reading them is not kept
    // waiting; no other descriptor of the parent's.
    setsid();
    signal(SIGPIPE, SIG_IGN);
    int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
    }
    int in = dup2(toKeeper[0], 3);
    int out = dup2(fromKeeper[1], 4);
    if (in < 0 || out < 0) _exit(1);
    close_range(5, ~0u, 0);
    KeeperMain(in, out);
  }
  close(toKeeper[0]);
  close(fromKeeper[1]);
  return std::unique_ptr<ClipboardKeeper>(new ClipboardKeeper(pid, toKeeper[1], fromKeeper[0]));
}

ClipboardKeeper::~ClipboardKeeper() {
  if (toKeeper_ >= 0) close(toKeeper_);
  if (fromKeeper_ >= 0) close(fromKeeper_);
  // A keeper that serves goes on in the background (init reaps it when
  // this process has gone); one that was told nothing ends at once.
  if (!serving_) {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

bool ClipboardKeeper::Serve(const std::string &utf8, std::chrono::milliseconds timeout) {
  if (toKeeper_ < 0) return false;
  const std::uint64_t size = utf8.size();
  void (*previous)(int) = signal(SIGPIPE, SIG_IGN);
  bool sent =
      WriteAll(toKeeper_, &size, sizeof size) && WriteAll(toKeeper_, utf8.data(), utf8.size());
  signal(SIGPIPE, previous);
  close(toKeeper_);
  toKeeper_ = -1;
  if (!sent) return false;

  pollfd wait = {fromKeeper_, POLLIN, 0};
  int ready;
  do {
    ready = poll(&wait, 1, static_cast<int>(timeout.count()));
  } while (ready < 0 && errno == EINTR);
  char answer = '0';
  if (ready != 1 || read(fromKeeper_, &answer, 1) != 1) {
    // No answer in time: the keeper may still take the clipboard later;
    // it is left to run rather than killed with the text.
    serving_ = true;
    return false;
  }
  serving_ = answer == '1';
  return serving_;
}

} // namespace vantlow::host
