// What `vantlow` prints on its standard output: the menu for people
// (output_text.cc) and the whole run as one JSON object (output_json.cc).
// Both take the menu as menu_model.h reads it; neither prints anything
// itself, so the program decides where the text goes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <Carbon/Carbon.h>

#include "menu_model.h"

namespace vantlow::host {

// How the text for people may look.
struct TextStyle {
  // Bold and dim through terminal escapes: only for a terminal, and not
  // when NO_COLOR asks for plain text.
  bool emphasis = false;
  // Box-drawing rules ("────"); otherwise ASCII ("----"), for locales whose
  // character set is not UTF-8.
  bool unicode = true;
};

// The style for output going to fd: emphasis when fd is a terminal, TERM
// is not "dumb" and NO_COLOR is unset or empty; unicode when the locale's
// character set (setlocale must have run) is UTF-8.
TextStyle TextStyleFor(int fd);

// The menu for people, one line per item, each ended by a line end:
// submenu items indented two spaces per level under their title, separators
// as a rule, a section header set apart (bold on a terminal, between rules
// otherwise), disabled items dim on a terminal, hidden items left out.
std::string MenuText(const std::vector<MenuItem> &menu, const TextStyle &style);

// The text a choice copied, ready for a terminal: valid UTF-8, Mac line
// ends turned into line ends, and a final line end.
std::string CopiedText(const std::string &utf8);

// One plug-in that was asked, with the result of its ExamineContext.
struct PluginReport {
  std::string identifier; // CFBundleIdentifier
  OSStatus status = noErr;
};

// The item chosen with --choose or -i.
struct ChosenReport {
  SInt32 command = 0;
  OSStatus status = noErr;           // HandleSelection's result
  std::optional<std::string> copied; // the text that reached the scrap (UTF-8), if any
};

// Everything the JSON object holds.
struct RunReport {
  std::vector<std::string> selection; // absolute paths, as bytes
  std::vector<PluginReport> plugins;
  std::vector<MenuItem> menu;
  std::optional<ChosenReport> chosen;
};

// The JSON object, indented, with a final line end:
//   {"selection": [...], "plugins": [{"identifier", "status"}...],
//    "menu": [...], "chosen": {"command", "status", "copied"}}
// A submenu item has "text" and "submenu"; any other item "text",
// "command" and, when they are not 0, "attributes". "chosen" appears only
// when report.chosen is set; "copied" is null when nothing reached the
// scrap. Every string is valid UTF-8 (U+FFFD for what is not text).
std::string ReportJson(const RunReport &report);

} // namespace vantlow::host
