// The GTK renderer of modal windows: an event source for the platform's
// modal loop (Carbon/Windows.h) that shows a window described by an
// interface file as a GTK window: static text as labels, a radio group as
// radio buttons under its label, a checkbox as a check button, and the push
// buttons in a row at the bottom. A click is handed to the loop as the
// matching action; the OK button is the default (Return) and Escape or
// closing the window presses the Cancel button, so both end the loop the way
// their commands say. The modal dialog module never knows which renderer
// served it.
#pragma once

namespace vantlow::host {

// Registers the renderer with VPModalSetEventSource (GTK must have been
// initialised, with a display). While it lives, every modal loop that no
// test script serves is shown through GTK; the previous state (no host
// source) comes back when it goes.
class GtkDialogRenderer {
public:
  GtkDialogRenderer();
  ~GtkDialogRenderer();
  GtkDialogRenderer(const GtkDialogRenderer &) = delete;
  GtkDialogRenderer &operator=(const GtkDialogRenderer &) = delete;
  // False when the platform refused the source.
  bool installed() const { return installed_; }

private:
  bool installed_ = false;
};

} // namespace vantlow::host
