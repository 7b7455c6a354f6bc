// The GTK renderer of modal windows (see gtk_dialog.h). The modal loop asks
// for one action at a time; between two asks this renderer runs a nested
// GLib main loop until the user does something that becomes an action
// (signal handlers queue it and stop the nested loop). Values the loop sets
// are shown again in refresh, with the widgets' own signals muted so that
// showing a value is never taken for a click.
#include "gtk_dialog.h"

#include <deque>
#include <string>
#include <vector>

#include <Carbon/Carbon.h>
#include <gtk/gtk.h>

#include "menu_model.h"

namespace vantlow::host {
namespace {

std::string Title(OSStatus (*copy)(ControlRef, CFStringRef *), ControlRef control) {
  CFStringRef text = nullptr;
  if (copy(control, &text) != noErr || !text) return {};
  std::string utf8 = Utf8FromCFString(text);
  CFRelease(text);
  return utf8;
}

std::string ItemTitle(ControlRef control, ItemCount index) {
  CFStringRef text = nullptr;
  if (VPControlCopyItemTitle(control, index, &text) != noErr || !text) return {};
  std::string utf8 = Utf8FromCFString(text);
  CFRelease(text);
  return utf8;
}

UInt32 CommandOf(ControlRef control) {
  UInt32 command = 0;
  return GetControlCommandID(control, &command) == noErr ? command : 0;
}

// One control as shown.
struct ControlView {
  ControlRef control = nullptr;
  UInt32 kind = 0;
  GtkWidget *widget = nullptr;     // the check button or push button
  std::vector<GtkWidget *> radios; // a radio group's buttons, in order
  class Dialog *dialog = nullptr;
};

// The window being run, and the actions the user produced.
class Dialog {
public:
  OSStatus Present(WindowRef window);
  OSStatus NextAction(VPModalAction *action);
  void Refresh();
  void Dismiss();

private:
  static void OnRadioToggled(GtkToggleButton *button, gpointer user);
  static void OnCheckToggled(GtkToggleButton *button, gpointer user);
  static void OnButtonClicked(GtkButton *button, gpointer user);
  static gboolean OnDelete(GtkWidget *, GdkEvent *, gpointer user);
  static gboolean OnKey(GtkWidget *, GdkEventKey *event, gpointer user);
  static void OnDestroy(GtkWidget *, gpointer user);

  void Queue(const VPModalAction &action);
  void Cancel();
  void ShowValues();

  WindowRef window_ = nullptr;
  GtkWidget *gtkWindow_ = nullptr;
  std::deque<ControlView> views_; // stable addresses for the signal handlers
  std::deque<VPModalAction> pending_;
  GMainLoop *loop_ = nullptr;
  bool muted_ = false;
  bool gone_ = false; // the window was destroyed from outside
};

Dialog gDialog;

OSStatus Dialog::Present(WindowRef window) {
  Dismiss();
  window_ = window;
  gone_ = false;
  pending_.clear();

  gtkWindow_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  CFStringRef title = nullptr;
  if (CopyWindowTitleAsCFString(window, &title) == noErr && title) {
    gtk_window_set_title(GTK_WINDOW(gtkWindow_), Utf8FromCFString(title).c_str());
    CFRelease(title);
  }
  gtk_window_set_modal(GTK_WINDOW(gtkWindow_), TRUE);
  gtk_window_set_resizable(GTK_WINDOW(gtkWindow_), FALSE);
  gtk_window_set_keep_above(GTK_WINDOW(gtkWindow_), TRUE);
  gtk_window_set_type_hint(GTK_WINDOW(gtkWindow_), GDK_WINDOW_TYPE_HINT_DIALOG);
  switch (VPWindowGetPositionMethod(window)) {
  case 0:
    gtk_window_set_position(GTK_WINDOW(gtkWindow_), GTK_WIN_POS_MOUSE);
    break;
  default: // every method names a place on the main screen or its parent's
    gtk_window_set_position(GTK_WINDOW(gtkWindow_), GTK_WIN_POS_CENTER);
    break;
  }
  g_signal_connect(gtkWindow_, "delete-event", G_CALLBACK(&Dialog::OnDelete), this);
  g_signal_connect(gtkWindow_, "key-press-event", G_CALLBACK(&Dialog::OnKey), this);
  g_signal_connect(gtkWindow_, "destroy", G_CALLBACK(&Dialog::OnDestroy), this);

  GtkWidget *body = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_container_set_border_width(GTK_CONTAINER(body), 16);
  gtk_container_add(GTK_CONTAINER(gtkWindow_), body);
  GtkWidget *buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
  gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
  gtk_box_set_spacing(GTK_BOX(buttons), 8);
  GtkWidget *defaultButton = nullptr;

  const ItemCount count = VPWindowCountControls(window);
  for (ItemCount i = 1; i <= count; ++i) {
    ControlView &view = views_.emplace_back();
    view.control = VPWindowGetControlAtIndex(window, i);
    view.kind = VPControlGetKind(view.control);
    view.dialog = this;
    const std::string text = Title(&CopyControlTitleAsCFString, view.control);
    switch (view.kind) {
    case kVPControlKindStaticText: {
      GtkWidget *label = gtk_label_new(text.c_str());
      gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
      gtk_label_set_max_width_chars(GTK_LABEL(label), 48);
      gtk_label_set_xalign(GTK_LABEL(label), 0);
      gtk_box_pack_start(GTK_BOX(body), label, FALSE, FALSE, 0);
      break;
    }
    case kVPControlKindRadioGroup: {
      GtkWidget *group = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
      if (!text.empty()) {
        GtkWidget *label = gtk_label_new(text.c_str());
        gtk_label_set_xalign(GTK_LABEL(label), 0);
        gtk_box_pack_start(GTK_BOX(group), label, FALSE, FALSE, 0);
      }
      GtkWidget *grid = gtk_grid_new();
      gtk_widget_set_margin_start(grid, 12);
      gtk_grid_set_column_spacing(GTK_GRID(grid), 16);
      const ItemCount items = VPControlCountItems(view.control);
      // Long groups go in columns of at most five, so the window stays low.
      const ItemCount perColumn = items > 5 ? (items + 1) / 2 : items;
      GtkRadioButton *first = nullptr;
      for (ItemCount item = 1; item <= items; ++item) {
        GtkWidget *radio = gtk_radio_button_new_with_label_from_widget(
            first, ItemTitle(view.control, item).c_str());
        if (!first) first = GTK_RADIO_BUTTON(radio);
        view.radios.push_back(radio);
        gtk_grid_attach(GTK_GRID(grid), radio, static_cast<gint>((item - 1) / perColumn),
                        static_cast<gint>((item - 1) % perColumn), 1, 1);
        g_signal_connect(radio, "toggled", G_CALLBACK(&Dialog::OnRadioToggled), &view);
      }
      gtk_box_pack_start(GTK_BOX(group), grid, FALSE, FALSE, 0);
      gtk_box_pack_start(GTK_BOX(body), group, FALSE, FALSE, 0);
      break;
    }
    case kVPControlKindCheckbox:
      view.widget = gtk_check_button_new_with_label(text.c_str());
      g_signal_connect(view.widget, "toggled", G_CALLBACK(&Dialog::OnCheckToggled), &view);
      gtk_box_pack_start(GTK_BOX(body), view.widget, FALSE, FALSE, 0);
      break;
    case kVPControlKindPushButton:
      view.widget = gtk_button_new_with_label(text.c_str());
      g_signal_connect(view.widget, "clicked", G_CALLBACK(&Dialog::OnButtonClicked), &view);
      gtk_container_add(GTK_CONTAINER(buttons), view.widget);
      if (CommandOf(view.control) == kHICommandOK) defaultButton = view.widget;
      break;
    default: // a kind this renderer does not know is left out
      break;
    }
  }
  gtk_box_pack_end(GTK_BOX(body), buttons, FALSE, FALSE, 0);
  ShowValues();
  gtk_widget_show_all(gtkWindow_);
  if (defaultButton) {
    gtk_widget_set_can_default(defaultButton, TRUE);
    gtk_window_set_default(GTK_WINDOW(gtkWindow_), defaultButton);
    gtk_widget_grab_focus(defaultButton);
  }
  gtk_window_present(GTK_WINDOW(gtkWindow_));
  return noErr;
}

OSStatus Dialog::NextAction(VPModalAction *action) {
  while (pending_.empty()) {
    if (gone_ || !gtkWindow_) return userCanceledErr;
    loop_ = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop_);
    g_main_loop_unref(loop_);
    loop_ = nullptr;
  }
  *action = pending_.front();
  pending_.pop_front();
  return noErr;
}

void Dialog::Refresh() {
  ShowValues();
}

void Dialog::Dismiss() {
  if (gtkWindow_) {
    GtkWidget *window = gtkWindow_;
    gtkWindow_ = nullptr;
    g_signal_handlers_disconnect_by_data(window, this);
    gtk_widget_destroy(window);
    // Let the display server take the window away now, not when the
    // program next waits for events.
    while (gtk_events_pending())
      gtk_main_iteration_do(FALSE);
  }
  views_.clear();
  pending_.clear();
  window_ = nullptr;
}

void Dialog::ShowValues() {
  muted_ = true;
  for (ControlView &view : views_) {
    const SInt32 value = GetControl32BitValue(view.control);
    if (view.kind == kVPControlKindRadioGroup) {
      for (size_t i = 0; i < view.radios.size(); ++i)
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(view.radios[i]),
                                     value == static_cast<SInt32>(i + 1));
    } else if (view.kind == kVPControlKindCheckbox) {
      gtk_toggle_button_set_inconsistent(GTK_TOGGLE_BUTTON(view.widget), value == 2);
      gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(view.widget), value == 1);
    }
  }
  muted_ = false;
}

void Dialog::Queue(const VPModalAction &action) {
  pending_.push_back(action);
  if (loop_) g_main_loop_quit(loop_);
}

// Escape, or the window closed: what the Cancel button does.
void Dialog::Cancel() {
  for (const ControlView &view : views_) {
    if (view.kind == kVPControlKindPushButton && CommandOf(view.control) == kHICommandCancel) {
      Queue({kVPModalActionPress, view.control, 0, 0});
      return;
    }
  }
  Queue({kVPModalActionCommand, nullptr, 0, kHICommandCancel});
}

void Dialog::OnRadioToggled(GtkToggleButton *button, gpointer user) {
  ControlView *view = static_cast<ControlView *>(user);
  if (view->dialog->muted_ || !gtk_toggle_button_get_active(button)) return;
  for (size_t i = 0; i < view->radios.size(); ++i)
    if (view->radios[i] == GTK_WIDGET(button))
      view->dialog->Queue({kVPModalActionSetValue, view->control, static_cast<SInt32>(i + 1), 0});
}

void Dialog::OnCheckToggled(GtkToggleButton *button, gpointer user) {
  ControlView *view = static_cast<ControlView *>(user);
  if (view->dialog->muted_) return;
  gtk_toggle_button_set_inconsistent(button, FALSE);
  view->dialog->Queue(
      {kVPModalActionSetValue, view->control, gtk_toggle_button_get_active(button) ? 1 : 0, 0});
}

void Dialog::OnButtonClicked(GtkButton *, gpointer user) {
  ControlView *view = static_cast<ControlView *>(user);
  view->dialog->Queue({kVPModalActionPress, view->control, 0, 0});
}

gboolean Dialog::OnDelete(GtkWidget *, GdkEvent *, gpointer user) {
  static_cast<Dialog *>(user)->Cancel();
  return TRUE; // the window stays until the loop has ended
}

gboolean Dialog::OnKey(GtkWidget *, GdkEventKey *event, gpointer user) {
  if (event->keyval != GDK_KEY_Escape) return FALSE;
  static_cast<Dialog *>(user)->Cancel();
  return TRUE;
}

void Dialog::OnDestroy(GtkWidget *, gpointer user) {
  Dialog *dialog = static_cast<Dialog *>(user);
  dialog->gone_ = true;
  dialog->gtkWindow_ = nullptr;
  if (dialog->loop_) g_main_loop_quit(dialog->loop_);
}

OSStatus PresentCallback(void *, WindowRef window) {
  return gDialog.Present(window);
}
OSStatus NextActionCallback(void *, WindowRef, VPModalAction *action) {
  return gDialog.NextAction(action);
}
void RefreshCallback(void *, WindowRef) {
  gDialog.Refresh();
}
void DismissCallback(void *, WindowRef) {
  gDialog.Dismiss();
}

} // namespace

GtkDialogRenderer::GtkDialogRenderer() {
  VPModalEventSource source = {};
  source.version = kVPModalEventSourceVersion;
  source.present = &PresentCallback;
  source.nextAction = &NextActionCallback;
  source.refresh = &RefreshCallback;
  source.dismiss = &DismissCallback;
  installed_ = VPModalSetEventSource(&source) == noErr;
}

GtkDialogRenderer::~GtkDialogRenderer() {
  if (installed_) VPModalSetEventSource(nullptr);
  gDialog.Dismiss();
}

} // namespace vantlow::host
