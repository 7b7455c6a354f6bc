// The interactive menu (see interactive.h): the menu flattened into rows,
// drawn whole on the alternate screen after every key, scrolled so that the
// highlighted row stays in view.
#include "interactive.h"

#include <algorithm>
#include <string>

#include "display_text.h"
#include "output.h"

namespace vantlow::host {
namespace {

struct Row {
  int depth = 0;
  const MenuItem *item = nullptr;
  int number = 0; // 1.. for an item that can be chosen, 0 otherwise
  ItemPath path;
};

void Flatten(const std::vector<MenuItem> &items, int depth, ItemPath *path, std::vector<Row> *rows,
             int *numbered) {
  for (size_t i = 0; i < items.size(); ++i) {
    const MenuItem &item = items[i];
    if (item.attributes & kMenuItemAttrHidden) continue;
    path->push_back(i);
    Row row;
    row.depth = depth;
    row.item = &item;
    row.path = *path;
    if (IsChoosable(item)) row.number = ++*numbered;
    rows->push_back(std::move(row));
    if (item.hasSubmenu) Flatten(item.submenu, depth + 1, path, rows, numbered);
    path->pop_back();
  }
}

// At most `columns` characters of text (counted as code points), so that a
// long line does not wrap and push the menu off the screen.
std::string Fit(const std::string &text, int columns) {
  int count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      if (count == columns) return text.substr(0, i);
      ++count;
    }
  }
  return text;
}

std::string RowText(const Row &row, size_t numberWidth, const TextStyle &style) {
  // The numbers right-aligned in a column, then the item indented by its
  // depth.
  const std::string number = row.number ? std::to_string(row.number) : "";
  std::string line = std::string(numberWidth + 1 - number.size(), ' ') + number + "  " +
                     std::string(static_cast<size_t>(row.depth) * 2, ' ');
  const MenuItem &item = *row.item;
  if (item.attributes & kMenuItemAttrSeparator)
    line += style.unicode ? "────" : "----";
  else
    line += PrintableText(item.text);
  return line;
}

} // namespace

PickResult PickMenuItem(const Tty &tty, const std::vector<MenuItem> &menu, ItemPath *path) {
  std::vector<Row> rows;
  ItemPath walk;
  int numbered = 0;
  Flatten(menu, 0, &walk, &rows, &numbered);
  if (numbered == 0) return PickResult::kDismissed;
  const size_t numberWidth = std::to_string(numbered).size();
  const TextStyle style = TextStyleFor(tty.fd());

  RawScreen screen(tty);
  if (!screen.ok()) return PickResult::kFailed;

  auto rowOf = [&](int number) {
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i].number == number) return i;
    return size_t(0);
  };
  int current = 1;
  std::string typed; // digits typed so far
  size_t top = 0;    // first row in view

  for (;;) {
    int height = 0, width = 0;
    tty.Size(&height, &width);
    const std::string help =
        style.unicode ? "Choose an item: ↑/↓ or its number, Enter to choose, Esc to close"
                      : "Choose an item: Up/Down or its number, Enter to choose, Esc to close";
    const size_t visible = static_cast<size_t>(std::max(1, height - 2));
    const size_t at = rowOf(current);
    if (at < top) top = at;
    if (at >= top + visible) top = at + 1 - visible;

    std::string frame = "\x1b[H\x1b[2J" + Fit(help, width) + "\r\n\r\n";
    for (size_t i = top; i < rows.size() && i < top + visible; ++i) {
      const Row &row = rows[i];
      std::string text = Fit(RowText(row, numberWidth, style), width);
      if (row.number == current)
        text = "\x1b[7m" + text + "\x1b[0m";
      else if (row.item->attributes & kMenuItemAttrSectionHeader)
        text = "\x1b[1m" + text + "\x1b[0m";
      else if (row.item->attributes & (kMenuItemAttrSeparator | kMenuItemAttrDisabled))
        text = "\x1b[2m" + text + "\x1b[0m";
      frame += text;
      if (i + 1 < rows.size() && i + 1 < top + visible) frame += "\r\n";
    }
    if (!tty.Write(frame)) return PickResult::kFailed;

    int digit = 0;
    Key key = screen.ReadKey(&digit);
    if (key != Key::kDigit) typed.clear();
    switch (key) {
    case Key::kUp:
      current = current > 1 ? current - 1 : numbered;
      break;
    case Key::kDown:
      current = current < numbered ? current + 1 : 1;
      break;
    case Key::kHome:
      current = 1;
      break;
    case Key::kEnd:
      current = numbered;
      break;
    case Key::kDigit: {
      std::string longer = typed + static_cast<char>('0' + digit);
      int value = std::stoi(longer);
      if (value >= 1 && value <= numbered) {
        typed = longer;
        current = value;
      } else if (digit >= 1 && digit <= numbered) {
        typed = std::string(1, static_cast<char>('0' + digit));
        current = digit;
      } else {
        typed.clear();
      }
      break;
    }
    case Key::kEnter:
      *path = rows[rowOf(current)].path;
      return PickResult::kChosen;
    case Key::kCancel:
      return PickResult::kDismissed;
    case Key::kInterrupt:
      return PickResult::kInterrupted;
    case Key::kGone:
      return PickResult::kFailed;
    case Key::kOther:
      break;
    }
  }
}

} // namespace vantlow::host
