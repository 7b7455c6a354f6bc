// The menu as text for people (see output.h): indentation for submenus,
// rules for separators, and a little emphasis when a terminal shows it.
#include <langinfo.h>
#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "display_text.h"
#include "output.h"

namespace vantlow::host {
namespace {

constexpr const char *kBold = "\x1b[1m";
constexpr const char *kDim = "\x1b[2m";
constexpr const char *kPlain = "\x1b[0m";

void AppendItems(std::string *out, const std::vector<MenuItem> &items, int depth,
                 const TextStyle &style) {
  const std::string indent(static_cast<size_t>(depth) * 2, ' ');
  const std::string rule = style.unicode ? "────" : "----";
  const std::string ruleEnd = style.unicode ? "──" : "--";
  for (const MenuItem &item : items) {
    if (item.attributes & kMenuItemAttrHidden) continue;
    const std::string text = PrintableText(item.text);
    *out += indent;
    if (item.attributes & kMenuItemAttrSeparator) {
      *out += style.emphasis ? kDim + rule + kPlain : rule;
    } else if (item.attributes & kMenuItemAttrSectionHeader) {
      if (style.emphasis)
        *out += kBold + text + kPlain;
      else
        *out += ruleEnd + " " + text + " " + ruleEnd;
    } else if (style.emphasis && (item.attributes & kMenuItemAttrDisabled)) {
      *out += kDim + text + kPlain;
    } else if (style.emphasis && item.hasSubmenu) {
      *out += kBold + text + kPlain;
    } else {
      *out += text;
    }
    *out += '\n';
    if (item.hasSubmenu) AppendItems(out, item.submenu, depth + 1, style);
  }
}

} // namespace

TextStyle TextStyleFor(int fd) {
  TextStyle style;
  const char *noColor = std::getenv("NO_COLOR");
  const char *term = std::getenv("TERM");
  style.emphasis =
      isatty(fd) == 1 && !(noColor && *noColor) && !(term && !std::strcmp(term, "dumb"));
  const char *codeset = nl_langinfo(CODESET);
  style.unicode = codeset && (!strcasecmp(codeset, "UTF-8") || !strcasecmp(codeset, "utf8"));
  return style;
}

std::string MenuText(const std::vector<MenuItem> &menu, const TextStyle &style) {
  std::string out;
  AppendItems(&out, menu, 0, style);
  return out;
}

std::string CopiedText(const std::string &utf8) {
  std::string text = PrintableText(UnixLineEnds(utf8), "\n\t");
  if (!text.empty() && text.back() != '\n') text += '\n';
  return text;
}

} // namespace vantlow::host
