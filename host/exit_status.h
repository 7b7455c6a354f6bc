// The exit statuses of `vantlow`, the same for the terminal and the desktop
// popup.
#pragma once

namespace vantlow::host {

constexpr int kExitSuccess = 0;
// A plug-in call failed (its log line explains), or no plug-in added anything.
constexpr int kExitFailed = 1;
// A usage error, no PATH left, no plug-in found, or the choice needs a
// terminal (or a display) and there is none.
constexpr int kExitUsage = 2;
// A second Ctrl-C during a calculation, or Ctrl-C in the interactive menu.
constexpr int kExitInterrupted = 130;

} // namespace vantlow::host
