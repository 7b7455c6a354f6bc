// `vantlow --menu` (see gtk_menu.h). One Session holds everything a run
// needs: the selection, the loaded plug-ins, the Menu Manager menu they
// filled, and the widgets that show it. The widgets are made from the Menu
// Manager menu, never from a copy of it: opening a submenu sends the
// populate event and then makes that submenu's widgets afresh from what the
// plug-ins left in it.
#include "gtk_menu.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <Carbon/Carbon.h>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include "clipboard.h"
#include "display_text.h"
#include "exit_status.h"
#include "gtk_clipboard.h"
#include "gtk_dialog.h"
#include "loader.h"
#include "menu_model.h"
#include "output.h"
#include "terminal.h"

namespace vantlow::host {
namespace {

namespace fs = std::filesystem;

// How long the clipboard keeper may take to own the clipboard.
constexpr std::chrono::milliseconds kKeeperTimeout{5000};

// What went wrong, one line each, for a user who started the program from a
// file manager and sees no standard error.
std::string gProblems;

void Say(const std::string &line) {
  std::cerr << "vantlow: " << line << std::endl;
  gProblems += (gProblems.empty() ? "" : "\n") + line;
}

// Tells the user, in a window, why no menu could be shown.
void ShowProblem(const std::string &problem) {
  GtkWidget *dialog =
      gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_CLOSE, "%s",
                             "Vantlow cannot show its menu");
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", problem.c_str());
  gtk_window_set_title(GTK_WINDOW(dialog), "Vantlow");
  gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_MOUSE);
  gtk_dialog_run(GTK_DIALOG(dialog));
  gtk_widget_destroy(dialog);
  while (gtk_events_pending())
    gtk_main_iteration_do(FALSE);
}

// ---- Escape while a calculation blocks the main loop (X11) ----

// GTK cannot see a key press while a plug-in computes on the main thread,
// so the key-state provider asks the display server itself, on a connection
// of its own: raw key presses (XInput 2.1 sends them to the root window
// whatever window or grab has the keyboard, so a quick tap between two polls
// is not missed) and, where XInput 2 is missing, the keys held right now.
struct KeyWatch {
  Display *display = nullptr;
  int xinputOpcode = -1; // -1: no raw events, only the held keys
  KeyCode escape = 0;
};
KeyWatch gKeys;

// Reads the raw presses that arrived since the last look; true when one was
// Escape.
bool EscapePressedSinceLastLook() {
  bool pressed = false;
  while (XPending(gKeys.display) > 0) {
    XEvent event;
    XNextEvent(gKeys.display, &event);
    XGenericEventCookie *cookie = &event.xcookie;
    if (cookie->type != GenericEvent || cookie->extension != gKeys.xinputOpcode) continue;
    if (!XGetEventData(gKeys.display, cookie)) continue;
    if (cookie->evtype == XI_RawKeyPress &&
        static_cast<const XIRawEvent *>(cookie->data)->detail == gKeys.escape)
      pressed = true;
    XFreeEventData(gKeys.display, cookie);
  }
  return pressed;
}

Boolean EscapeHeld() {
  if (!gKeys.display || gKeys.escape == 0) return FALSE;
  if (gKeys.xinputOpcode >= 0 && EscapePressedSinceLastLook()) return TRUE;
  char keys[32];
  XQueryKeymap(gKeys.display, keys);
  return (keys[gKeys.escape / 8] >> (gKeys.escape % 8)) & 1 ? TRUE : FALSE;
}

// Forgets the keys pressed so far: an Escape that closed a submenu earlier
// must not cancel the next calculation. Called before each call into a
// plug-in, next to the host clearing the cancel latch.
void ForgetEarlierKeys() {
  if (gKeys.display && gKeys.xinputOpcode >= 0) EscapePressedSinceLastLook();
}

// The provider is registered while this lives (X11 only).
class EscapeWatch {
public:
  explicit EscapeWatch(GdkDisplay *display) {
    if (!GDK_IS_X11_DISPLAY(display)) return;
    gKeys.display = XOpenDisplay(gdk_display_get_name(display));
    if (!gKeys.display) return;
    gKeys.escape = XKeysymToKeycode(gKeys.display, XK_Escape);
    int event = 0, error = 0, opcode = 0;
    int major = 2, minor = 2;
    if (XQueryExtension(gKeys.display, "XInputExtension", &opcode, &event, &error) &&
        XIQueryVersion(gKeys.display, &major, &minor) == Success &&
        (major > 2 || (major == 2 && minor >= 1))) {
      unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
      XISetMask(bits, XI_RawKeyPress);
      XIEventMask mask = {XIAllMasterDevices, static_cast<int>(sizeof bits), bits};
      XISelectEvents(gKeys.display, DefaultRootWindow(gKeys.display), &mask, 1);
      XSync(gKeys.display, False);
      gKeys.xinputOpcode = opcode;
    }
    VPKeyStateSetProvider(&EscapeHeld);
  }
  ~EscapeWatch() {
    VPKeyStateSetProvider(nullptr);
    if (gKeys.display) XCloseDisplay(gKeys.display);
    gKeys = KeyWatch();
  }
  EscapeWatch(const EscapeWatch &) = delete;
  EscapeWatch &operator=(const EscapeWatch &) = delete;
};

// The "wait" pointer over a window while this lives, shown at once (the
// main loop does not run while the plug-in computes).
class BusyCursor {
public:
  explicit BusyCursor(GdkWindow *window) : window_(window) {
    if (!window_) return;
    g_object_ref(window_);
    GdkDisplay *display = gdk_window_get_display(window_);
    GdkCursor *cursor = gdk_cursor_new_from_name(display, "wait");
    if (!cursor) cursor = gdk_cursor_new_for_display(display, GDK_WATCH);
    gdk_window_set_cursor(window_, cursor);
    if (cursor) g_object_unref(cursor);
    gdk_display_flush(display);
  }
  ~BusyCursor() {
    if (!window_) return;
    gdk_window_set_cursor(window_, nullptr);
    gdk_display_flush(gdk_window_get_display(window_));
    g_object_unref(window_);
  }
  BusyCursor(const BusyCursor &) = delete;
  BusyCursor &operator=(const BusyCursor &) = delete;

private:
  GdkWindow *window_;
};

class Session;

// What a line of the menu does when chosen.
struct Line {
  Session *session;
  size_t owner; // the plug-in that added the top-level item above it
  UInt32 command;
};

// A submenu as shown: its Menu Manager menu (one reference held) and the
// widget its items go in (a GtkMenu under X11, a box under Wayland).
struct Submenu {
  Session *session;
  size_t owner;
  MenuHolder menu;
  GtkWidget *container;
  bool populated = false;
};

class Session {
public:
  // outputFd: the program's own standard output (-1: none).
  Session(const Options &options, int outputFd) : options_(options), outputFd_(outputFd) {}
  ~Session();
  int Run(std::unique_ptr<ClipboardKeeper> keeper);
  // True once the menu was on screen.
  bool shown() const { return shown_; }

private:
  int LoadAndExamine();
  // Puts the items of menu into container; owner is the plug-in of every
  // item below the top level, or npos at the top (each item's own).
  void Fill(GtkWidget *container, MenuRef menu, size_t owner);
  void AddLine(GtkWidget *container, const std::string &text, UInt32 attributes, Line *line);
  void AddSubmenu(GtkWidget *container, const std::string &text, Submenu *submenu);
  void Populate(Submenu *submenu, GtkWidget *busy);
  void Choose(const Line *line);
  void Close();
  bool PopupAtPointer();
  bool PopupWindow();
  int CarryOut(const Line &line);
  void CopyToDesktop(const std::string &utf8);

  static void OnActivate(GtkMenuItem *, gpointer user);
  static void OnClicked(GtkButton *, gpointer user);
  static void OnSelect(GtkMenuItem *item, gpointer user);
  static void OnSubmenuShow(GtkWidget *menu, gpointer user);
  static void OnExpanded(GObject *expander, GParamSpec *, gpointer user);
  static void OnDeactivate(GtkMenuShell *, gpointer user);
  static gboolean OnQuitIdle(gpointer user);
  static gboolean OnWindowKey(GtkWidget *, GdkEventKey *event, gpointer user);
  static gboolean OnMenuKey(GtkWidget *, GdkEventKey *event, gpointer user);
  static gboolean OnFocusOut(GtkWidget *, GdkEvent *, gpointer user);
  static gboolean OnWindowDelete(GtkWidget *, GdkEvent *, gpointer user);

  const Options &options_;
  const int outputFd_;
  bool x11_ = true;
  std::vector<LoadedPlugin> plugins_;
  std::vector<size_t> owners_; // the plug-in that added each top-level item
  AEDescHolder context_;
  AEDescHolder commandList_;
  MenuHolder menu_;
  std::deque<Line> lines_;       // stable addresses for the signal handlers
  std::deque<Submenu> submenus_; // likewise
  GtkWidget *popup_ = nullptr;   // the GtkMenu, or the Wayland window
  GMainLoop *loop_ = nullptr;
  const Line *chosen_ = nullptr;
  bool busy_ = false;
  bool shown_ = false;
  bool swallowEscape_ = false; // an Escape pressed during a populate is pending
  std::unique_ptr<ClipboardKeeper> keeper_;
};

Session::~Session() {
  if (popup_) gtk_widget_destroy(popup_);
  submenus_.clear();
  menu_.reset();
  for (const LoadedPlugin &plugin : plugins_) {
    PluginCall call(nullptr, false);
    plugin.PostMenuCleanup();
  }
  plugins_.clear();
}

int Session::LoadAndExamine() {
  std::vector<LeftOutPath> leftOut;
  std::vector<std::string> paths = options_.paths;
  if (paths.empty()) paths.push_back(".");
  OSStatus err = MakeContext(paths, &context_, &leftOut);
  if (err != noErr) {
    Say("the selection could not be made (error " + std::to_string(err) + ")");
    return kExitFailed;
  }
  for (const LeftOutPath &left : leftOut)
    Say(ValidUtf8(left.path) + ": " +
        (left.error == fnfErr ? std::string("No such file or directory")
                              : "cannot be looked at (error " + std::to_string(left.error) + ")"));
  if (leftOut.size() == paths.size()) {
    Say("no PATH left to look at");
    return kExitUsage;
  }

  PluginLoader loader(std::cerr);
  const std::vector<fs::path> folders = CommandSearchPath(options_.pluginFolders);
  plugins_ = loader.LoadAll(folders);
  if (plugins_.empty()) {
    Say("no plug-in found");
    return kExitUsage;
  }
  err = MakeCommandList(&commandList_);
  if (err != noErr) {
    Say("the command list could not be made (error " + std::to_string(err) + ")");
    return kExitFailed;
  }
  int status = kExitSuccess;
  {
    // A plug-in may measure right away: show that the program is busy.
    BusyCursor busy(gdk_get_default_root_window());
    for (size_t i = 0; i < plugins_.size(); ++i) {
      long before = 0, after = 0;
      AECountItems(commandList_.get(), &before);
      OSStatus examined;
      {
        PluginCall call(nullptr, false);
        ForgetEarlierKeys();
        examined = plugins_[i].ExamineContext(context_.get(), commandList_.get());
      }
      AECountItems(commandList_.get(), &after);
      owners_.insert(owners_.end(), static_cast<size_t>(std::max(0L, after - before)), i);
      if (examined != noErr) status = kExitFailed; // its log line says why
    }
  }
  std::string problem;
  err = BuildMenu(*commandList_.get(), &menu_, &problem);
  if (err != noErr) {
    Say("the menu could not be made" + (problem.empty() ? "" : ": " + problem) + " (error " +
        std::to_string(err) + ")");
    return kExitFailed;
  }
  if (CountMenuItems(menu_.get()) == 0) {
    Say("no plug-in added anything to the menu");
    return kExitFailed;
  }
  return status;
}

void Session::Fill(GtkWidget *container, MenuRef menu, size_t owner) {
  const bool top = owner == static_cast<size_t>(-1);
  for (MenuItemIndex index = 1; index <= CountMenuItems(menu); ++index) {
    MenuItemAttributes attributes = 0;
    GetMenuItemAttributes(menu, index, &attributes);
    if (attributes & kMenuItemAttrHidden) continue;
    CFStringRef text = nullptr;
    std::string utf8;
    if (CopyMenuItemTextAsCFString(menu, index, &text) == noErr && text) {
      utf8 = Utf8FromCFString(text);
      CFRelease(text);
    }
    const size_t itemOwner = top ? (index - 1u < owners_.size() ? owners_[index - 1u] : 0) : owner;
    MenuRef sub = nullptr;
    if (GetMenuItemHierarchicalMenu(menu, index, &sub) == noErr && sub) {
      RetainMenu(sub);
      Submenu &submenu = submenus_.emplace_back(Submenu{this, itemOwner, MenuHolder(sub), nullptr});
      AddSubmenu(container, utf8, &submenu);
      continue;
    }
    MenuCommand command = 0;
    GetMenuItemCommandID(menu, index, &command);
    Line &line = lines_.emplace_back(Line{this, itemOwner, command});
    AddLine(container, utf8, attributes, &line);
  }
}

void Session::AddLine(GtkWidget *container, const std::string &text, UInt32 attributes,
                      Line *line) {
  const bool separator = attributes & kMenuItemAttrSeparator;
  const bool header = attributes & kMenuItemAttrSectionHeader;
  const bool disabled = attributes & kMenuItemAttrDisabled;
  GtkWidget *widget;
  if (separator) {
    widget = x11_ ? gtk_separator_menu_item_new() : gtk_separator_new(GTK_ORIENTATION_HORIZONTAL);
  } else if (header) {
    GtkWidget *label = gtk_label_new(nullptr);
    char *markup = g_markup_printf_escaped("<b>%s</b>", text.c_str());
    gtk_label_set_markup(GTK_LABEL(label), markup);
    g_free(markup);
    gtk_label_set_xalign(GTK_LABEL(label), 0);
    if (x11_) {
      widget = gtk_menu_item_new();
      gtk_container_add(GTK_CONTAINER(widget), label);
    } else {
      widget = label;
      gtk_widget_set_margin_start(widget, 8);
    }
    gtk_widget_set_sensitive(widget, FALSE);
  } else if (x11_) {
    widget = gtk_menu_item_new_with_label(text.c_str());
    g_signal_connect(widget, "activate", G_CALLBACK(&Session::OnActivate), line);
  } else {
    widget = gtk_button_new_with_label(text.c_str());
    gtk_button_set_relief(GTK_BUTTON(widget), GTK_RELIEF_NONE);
    if (GtkWidget *label = gtk_bin_get_child(GTK_BIN(widget)))
      gtk_label_set_xalign(GTK_LABEL(label), 0);
    g_signal_connect(widget, "clicked", G_CALLBACK(&Session::OnClicked), line);
  }
  if (disabled) gtk_widget_set_sensitive(widget, FALSE);
  if (x11_)
    gtk_menu_shell_append(GTK_MENU_SHELL(container), widget);
  else
    gtk_box_pack_start(GTK_BOX(container), widget, FALSE, FALSE, 0);
}

void Session::AddSubmenu(GtkWidget *container, const std::string &text, Submenu *submenu) {
  if (x11_) {
    GtkWidget *item = gtk_menu_item_new_with_label(text.c_str());
    submenu->container = gtk_menu_new();
    gtk_menu_item_set_submenu(GTK_MENU_ITEM(item), submenu->container);
    // Until it is opened it shows what the plug-in put there at first.
    Fill(submenu->container, submenu->menu.get(), submenu->owner);
    g_signal_connect(item, "select", G_CALLBACK(&Session::OnSelect), submenu);
    g_signal_connect(submenu->container, "show", G_CALLBACK(&Session::OnSubmenuShow), submenu);
    g_signal_connect(submenu->container, "key-press-event", G_CALLBACK(&Session::OnMenuKey), this);
    g_signal_connect(submenu->container, "key-release-event", G_CALLBACK(&Session::OnMenuKey),
                     this);
    gtk_menu_shell_append(GTK_MENU_SHELL(container), item);
  } else {
    GtkWidget *expander = gtk_expander_new(text.c_str());
    submenu->container = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_widget_set_margin_start(submenu->container, 12);
    gtk_container_add(GTK_CONTAINER(expander), submenu->container);
    g_signal_connect(expander, "notify::expanded", G_CALLBACK(&Session::OnExpanded), submenu);
    gtk_box_pack_start(GTK_BOX(container), expander, FALSE, FALSE, 0);
  }
}

// Opens a submenu the first time: the plug-ins hear the populate event
// (and may measure now), then its widgets are made from the menu afresh.
void Session::Populate(Submenu *submenu, GtkWidget *busy) {
  if (submenu->populated) return;
  submenu->populated = true;
  OSStatus err;
  {
    BusyCursor cursor(busy ? gtk_widget_get_window(busy) : nullptr);
    busy_ = true;
    PluginCall call(nullptr, false);
    ForgetEarlierKeys();
    err = PopulateMenu(submenu->menu.get());
    busy_ = false;
  }
  if (err != noErr && err != eventNotHandledErr)
    Say("a submenu could not be opened (error " + std::to_string(err) + ")");
  // The Escape that cancelled the calculation is still queued for the menu,
  // where it would close it: it has done its work already.
  if (VPCancelLatchIsSet()) swallowEscape_ = true;
  GList *children = gtk_container_get_children(GTK_CONTAINER(submenu->container));
  for (GList *child = children; child; child = child->next)
    gtk_widget_destroy(GTK_WIDGET(child->data));
  g_list_free(children);
  Fill(submenu->container, submenu->menu.get(), submenu->owner);
  gtk_widget_show_all(submenu->container);
}

void Session::OnSelect(GtkMenuItem *item, gpointer user) {
  Submenu *submenu = static_cast<Submenu *>(user);
  submenu->session->Populate(submenu, gtk_widget_get_toplevel(GTK_WIDGET(item)));
}

void Session::OnSubmenuShow(GtkWidget *menu, gpointer user) {
  Submenu *submenu = static_cast<Submenu *>(user);
  submenu->session->Populate(submenu, gtk_widget_get_toplevel(menu));
}

void Session::OnExpanded(GObject *expander, GParamSpec *, gpointer user) {
  if (!gtk_expander_get_expanded(GTK_EXPANDER(expander))) return;
  Submenu *submenu = static_cast<Submenu *>(user);
  submenu->session->Populate(submenu, gtk_widget_get_toplevel(GTK_WIDGET(expander)));
}

void Session::Choose(const Line *line) {
  chosen_ = line;
  if (!x11_) Close(); // a GtkMenu closes itself and says so (deactivate)
}

void Session::Close() {
  if (loop_ && g_main_loop_is_running(loop_)) g_main_loop_quit(loop_);
}

void Session::OnActivate(GtkMenuItem *, gpointer user) {
  const Line *line = static_cast<const Line *>(user);
  line->session->Choose(line);
}

void Session::OnClicked(GtkButton *, gpointer user) {
  const Line *line = static_cast<const Line *>(user);
  line->session->Choose(line);
}

// A GtkMenu is deactivated before the chosen item is activated: the loop
// ends once both have happened.
void Session::OnDeactivate(GtkMenuShell *, gpointer user) {
  g_idle_add(&Session::OnQuitIdle, user);
}

gboolean Session::OnQuitIdle(gpointer user) {
  static_cast<Session *>(user)->Close();
  return G_SOURCE_REMOVE;
}

gboolean Session::OnWindowKey(GtkWidget *widget, GdkEventKey *event, gpointer user) {
  if (event->keyval != GDK_KEY_Escape) return FALSE;
  if (OnMenuKey(widget, event, user)) return TRUE;
  static_cast<Session *>(user)->Close();
  return TRUE;
}

// Drops the Escape (press and release) that cancelled a calculation.
gboolean Session::OnMenuKey(GtkWidget *, GdkEventKey *event, gpointer user) {
  Session *session = static_cast<Session *>(user);
  if (event->keyval != GDK_KEY_Escape || !session->swallowEscape_) return FALSE;
  if (event->type == GDK_KEY_RELEASE) session->swallowEscape_ = false;
  return TRUE;
}

gboolean Session::OnFocusOut(GtkWidget *, GdkEvent *, gpointer user) {
  Session *session = static_cast<Session *>(user);
  if (!session->busy_) session->Close();
  return FALSE;
}

gboolean Session::OnWindowDelete(GtkWidget *, GdkEvent *, gpointer user) {
  static_cast<Session *>(user)->Close();
  return TRUE;
}

// Under X11: a popup menu at the pointer. The grab can fail for a moment
// while the file manager's own menu is still closing, so it is tried again
// for about half a second.
bool Session::PopupAtPointer() {
  popup_ = gtk_menu_new();
  Fill(popup_, menu_.get(), static_cast<size_t>(-1));
  gtk_widget_show_all(popup_);
  g_signal_connect(popup_, "deactivate", G_CALLBACK(&Session::OnDeactivate), this);
  g_signal_connect(popup_, "key-press-event", G_CALLBACK(&Session::OnMenuKey), this);
  g_signal_connect(popup_, "key-release-event", G_CALLBACK(&Session::OnMenuKey), this);

  GdkDisplay *display = gdk_display_get_default();
  GdkDevice *pointer = gdk_seat_get_pointer(gdk_display_get_default_seat(display));
  for (int attempt = 0; attempt < 10; ++attempt) {
    GdkScreen *screen = nullptr;
    gint x = 0, y = 0;
    gdk_device_get_position(pointer, &screen, &x, &y);
    GdkWindow *root = gdk_screen_get_root_window(screen);
    GdkRectangle at = {x, y, 1, 1};
    // No event opened this menu; a button press at the pointer stands in
    // for the one a file manager would have had.
    GdkEvent *trigger = gdk_event_new(GDK_BUTTON_PRESS);
    trigger->button.window = GDK_WINDOW(g_object_ref(root));
    trigger->button.send_event = TRUE;
    trigger->button.time = GDK_CURRENT_TIME;
    trigger->button.x = trigger->button.x_root = x;
    trigger->button.y = trigger->button.y_root = y;
    trigger->button.button = 3;
    gdk_event_set_device(trigger, pointer);
    gtk_menu_popup_at_rect(GTK_MENU(popup_), root, &at, GDK_GRAVITY_NORTH_WEST,
                           GDK_GRAVITY_NORTH_WEST, trigger);
    gdk_event_free(trigger);
    if (gtk_widget_get_visible(popup_)) return true;
    g_usleep(50000);
    while (gtk_events_pending())
      gtk_main_iteration_do(FALSE);
  }
  return false;
}

// Under Wayland: a small window the compositor places, one line per item,
// submenus opening in place.
bool Session::PopupWindow() {
  popup_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_decorated(GTK_WINDOW(popup_), FALSE);
  gtk_window_set_type_hint(GTK_WINDOW(popup_), GDK_WINDOW_TYPE_HINT_POPUP_MENU);
  gtk_window_set_keep_above(GTK_WINDOW(popup_), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(popup_), FALSE);
  gtk_window_set_title(GTK_WINDOW(popup_), "Vantlow");
  gtk_widget_set_size_request(popup_, 240, -1);
  GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
  gtk_container_set_border_width(GTK_CONTAINER(box), 4);
  gtk_container_add(GTK_CONTAINER(popup_), box);
  Fill(box, menu_.get(), static_cast<size_t>(-1));
  g_signal_connect(popup_, "key-press-event", G_CALLBACK(&Session::OnWindowKey), this);
  g_signal_connect(popup_, "key-release-event", G_CALLBACK(&Session::OnMenuKey), this);
  g_signal_connect(popup_, "focus-out-event", G_CALLBACK(&Session::OnFocusOut), this);
  g_signal_connect(popup_, "delete-event", G_CALLBACK(&Session::OnWindowDelete), this);
  gtk_widget_show_all(popup_);
  gtk_window_present(GTK_WINDOW(popup_));
  return true;
}

int Session::Run(std::unique_ptr<ClipboardKeeper> keeper) {
  keeper_ = std::move(keeper);
  x11_ = GDK_IS_X11_DISPLAY(gdk_display_get_default());
  int status = LoadAndExamine();
  if (status != kExitSuccess &&
      (status != kExitFailed || !menu_.get() || CountMenuItems(menu_.get()) == 0))
    return status;

  if (!(x11_ ? PopupAtPointer() : PopupWindow())) {
    Say("the menu could not be shown: another program holds the pointer");
    return kExitFailed;
  }
  shown_ = true;
  loop_ = g_main_loop_new(nullptr, FALSE);
  g_main_loop_run(loop_);
  g_main_loop_unref(loop_);
  loop_ = nullptr;
  // The menu goes before the choice is carried out, which may take time or
  // open a window of its own.
  gtk_widget_destroy(popup_);
  popup_ = nullptr;
  gdk_display_flush(gdk_display_get_default());
  while (gtk_events_pending())
    gtk_main_iteration_do(FALSE);

  if (!chosen_) return status;
  const int chosenStatus = CarryOut(*chosen_);
  return chosenStatus != kExitSuccess ? chosenStatus : status;
}

int Session::CarryOut(const Line &line) {
  OSStatus cleared = ClearCurrentScrap();
  if (cleared != noErr)
    Say("the scrap could not be cleared (error " + std::to_string(cleared) + ")");
  OSStatus handled;
  {
    GtkDialogRenderer renderer; // a choice may open a window
    BusyCursor busy(gdk_get_default_root_window());
    PluginCall call(nullptr, false);
    ForgetEarlierKeys();
    handled = plugins_[line.owner < plugins_.size() ? line.owner : 0].HandleSelection(
        context_.get(), static_cast<SInt32>(line.command));
  }
  if (handled != noErr) return kExitFailed; // the plug-in's log line says why
  ScrapText scrap;
  OSStatus read = ReadScrap(&scrap);
  if (read != noErr) {
    Say("the scrap could not be read (error " + std::to_string(read) + ")");
    return kExitFailed;
  }
  std::optional<std::string> copied = ScrapToUtf8(scrap);
  if (!copied) return kExitSuccess;
  // Shown on standard output too, for a user who started it from a
  // terminal; a launcher's closed output is no failure of the choice.
  const std::string shown = CopiedText(*copied);
  if (outputFd_ >= 0 && write(outputFd_, shown.data(), shown.size()) < 0) {
  }
  if (!options_.noClipboard) CopyToDesktop(UnixLineEnds(*copied));
  return kExitSuccess;
}

// The text goes on CLIPBOARD and stays there after the program ends: a
// clipboard manager takes it when one runs; otherwise the keeper serves it.
// Under Wayland the compositor's own tool (wl-copy) does that.
void Session::CopyToDesktop(const std::string &utf8) {
  if (!x11_) {
    ClipboardResult result = CopyToClipboard(utf8, ClipboardSettings::FromEnvironment(-1));
    Say(result.Describe());
    return;
  }
  GdkDisplay *display = gdk_display_get_default();
  if (gdk_display_supports_clipboard_persistence(display)) {
    GtkClipboard *clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    gtk_clipboard_set_text(clipboard, utf8.data(), static_cast<gint>(utf8.size()));
    gtk_clipboard_store(clipboard);
    Say("copied to the clipboard (kept by the clipboard manager)");
    return;
  }
  if (keeper_ && keeper_->Serve(utf8, kKeeperTimeout)) {
    Say("copied to the clipboard (served in the background until another program takes it)");
    return;
  }
  Say("not copied to the clipboard: no clipboard manager runs and the background process "
      "that would keep it could not take the clipboard");
}

} // namespace

int RunGtkMenu(const Options &options) {
  const char *x11 = std::getenv("DISPLAY");
  const char *wayland = std::getenv("WAYLAND_DISPLAY");
  if ((!x11 || !*x11) && (!wayland || !*wayland)) {
    Say("--menu needs a desktop display (X11 or Wayland), and there is none");
    return kExitUsage;
  }
  // The keeper is forked before GTK starts a thread or talks to a display.
  std::unique_ptr<ClipboardKeeper> keeper;
  if (!options.noClipboard) keeper = ClipboardKeeper::Start();
  if (!gtk_init_check(nullptr, nullptr)) {
    Say("--menu cannot open the desktop display");
    return kExitUsage;
  }
  // The plug-ins' log lines (standard output) go to standard error; the
  // program's own output keeps the original standard output.
  std::fflush(stdout);
  const int output = fcntl(1, F_DUPFD_CLOEXEC, 3);
  dup2(2, 1);
  InstallSignalHandlers();
  EscapeWatch escape(gdk_display_get_default());
  int status;
  {
    Session session(options, output);
    status = session.Run(std::move(keeper));
    if (!session.shown() && status != kExitSuccess && !gProblems.empty()) ShowProblem(gProblems);
  }
  if (output >= 0) close(output);
  return status;
}

} // namespace vantlow::host
