// The Menu Manager: reference-counted menus of items (text, command ID,
// attributes, submenu). The host builds them from the plug-in's command list
// and the plug-in changes them while they are open, so every change either
// completes or leaves the menu as it was.
#include <Carbon/Menus.h>

#include <algorithm>
#include <atomic>
#include <utility>

#include "alloc.h"
#include "cf_string_internal.h"

namespace {

constexpr UInt32 kMenuMagic = 0x4D656E75; // 'Menu'

// A reference to a submenu held by an item; released with the item.
class SubmenuRef {
public:
  SubmenuRef() noexcept = default;
  SubmenuRef(const SubmenuRef &) = delete;
  SubmenuRef &operator=(const SubmenuRef &) = delete;
  SubmenuRef(SubmenuRef &&o) noexcept : menu_(std::exchange(o.menu_, nullptr)) {}
  SubmenuRef &operator=(SubmenuRef &&o) noexcept {
    SubmenuRef old(std::move(*this));
    menu_ = std::exchange(o.menu_, nullptr);
    return *this;
  }
  ~SubmenuRef() {
    if (menu_) ReleaseMenu(menu_);
  }
  // Holds menu, which the caller has retained.
  void Reset(MenuRef menu) noexcept {
    SubmenuRef old(std::move(*this));
    menu_ = menu;
  }
  MenuRef get() const noexcept { return menu_; }

private:
  MenuRef menu_ = nullptr;
};

struct MenuItem {
  vp::String16 text;
  MenuCommand command = 0;
  MenuItemAttributes attributes = 0;
  SubmenuRef submenu;
};

} // namespace

struct OpaqueMenuRef {
  OpaqueMenuRef(MenuID menuID, MenuAttributes menuAttributes) noexcept
      : id(menuID), attributes(menuAttributes) {}
  ~OpaqueMenuRef() { magic = 0; }
  UInt32 magic = kMenuMagic;
  std::atomic<ItemCount> refs{1};
  MenuID id;
  MenuAttributes attributes;
  vp::Vector<MenuItem> items;
};

namespace {

// The menu behind a handle, or null for null or a handle that is not a live
// menu.
OpaqueMenuRef *Menu(MenuRef ref) noexcept {
  return ref && ref->magic == kMenuMagic ? ref : nullptr;
}

// The item at a 1-based index, or null.
MenuItem *ItemAt(OpaqueMenuRef *menu, MenuItemIndex index) noexcept {
  if (index < 1 || index > menu->items.size()) return nullptr;
  return &menu->items[index - 1u];
}

// A copy of a CFString's units. False when cf is not a string. Throws
// std::bad_alloc.
bool CopyText(CFStringRef cf, vp::String16 *out) {
  const vp::String16 *units = vp::Units(cf);
  if (!units) return false;
  *out = *units;
  return true;
}

// Whether target is menu or one of the menus below it.
bool Reaches(const OpaqueMenuRef *menu, const OpaqueMenuRef *target) noexcept {
  if (menu == target) return true;
  for (const MenuItem &item : menu->items)
    if (item.submenu.get() && Reaches(item.submenu.get(), target)) return true;
  return false;
}

// Inserts a new item at a 0-based position. On failure the menu is unchanged.
OSStatus InsertItem(OpaqueMenuRef *menu, std::size_t position, CFStringRef text,
                    MenuItemAttributes attributes, MenuCommand command) noexcept {
  if (menu->items.size() >= kVPMenuItemLimit) return memFullErr;
  return vp::Edge(static_cast<OSStatus>(memFullErr), [&]() -> OSStatus {
    MenuItem item;
    if (!CopyText(text, &item.text)) return paramErr;
    item.command = command;
    item.attributes = attributes;
    menu->items.insert(menu->items.begin() + static_cast<std::ptrdiff_t>(position),
                       std::move(item));
    return noErr;
  });
}

} // namespace

extern "C" {

OSStatus CreateNewMenu(MenuID inMenuID, MenuAttributes inMenuAttributes,
                       MenuRef *outMenuRef) noexcept {
  if (!outMenuRef) return paramErr;
  *outMenuRef = nullptr;
  return vp::Edge(static_cast<OSStatus>(memFullErr), [&]() -> OSStatus {
    *outMenuRef = vp::New<OpaqueMenuRef>(inMenuID, inMenuAttributes);
    return noErr;
  });
}

OSStatus RetainMenu(MenuRef inMenu) noexcept {
  OpaqueMenuRef *menu = Menu(inMenu);
  if (!menu) return paramErr;
  menu->refs.fetch_add(1, std::memory_order_relaxed);
  return noErr;
}

OSStatus ReleaseMenu(MenuRef inMenu) noexcept {
  OpaqueMenuRef *menu = Menu(inMenu);
  if (!menu) return paramErr;
  if (menu->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) vp::Delete(menu);
  return noErr;
}

void DisposeMenu(MenuRef theMenu) noexcept {
  if (theMenu) ReleaseMenu(theMenu);
}

ItemCount GetMenuRetainCount(MenuRef inMenu) noexcept {
  OpaqueMenuRef *menu = Menu(inMenu);
  return menu ? menu->refs.load(std::memory_order_relaxed) : 0;
}

MenuID GetMenuID(MenuRef menu) noexcept {
  OpaqueMenuRef *m = Menu(menu);
  return m ? m->id : 0;
}

UInt16 CountMenuItems(MenuRef theMenu) noexcept {
  OpaqueMenuRef *menu = Menu(theMenu);
  return menu ? static_cast<UInt16>(menu->items.size()) : 0;
}

OSStatus AppendMenuItemTextWithCFString(MenuRef menu, CFStringRef inString,
                                        MenuItemAttributes inAttributes, MenuCommand inCommandID,
                                        MenuItemIndex *outNewItem) noexcept {
  OpaqueMenuRef *m = Menu(menu);
  if (!m || !inString) return paramErr;
  OSStatus err = InsertItem(m, m->items.size(), inString, inAttributes, inCommandID);
  if (err == noErr && outNewItem) *outNewItem = static_cast<MenuItemIndex>(m->items.size());
  return err;
}

OSStatus InsertMenuItemTextWithCFString(MenuRef menu, CFStringRef inString,
                                        MenuItemIndex inAfterItem, MenuItemAttributes inAttributes,
                                        MenuCommand inCommandID) noexcept {
  OpaqueMenuRef *m = Menu(menu);
  if (!m || !inString) return paramErr;
  const std::size_t position = std::min<std::size_t>(inAfterItem, m->items.size());
  return InsertItem(m, position, inString, inAttributes, inCommandID);
}

OSStatus DeleteMenuItem(MenuRef theMenu, MenuItemIndex item) noexcept {
  OpaqueMenuRef *menu = Menu(theMenu);
  if (!menu) return paramErr;
  if (!ItemAt(menu, item)) return menuItemNotFoundErr;
  // Move the item out first: releasing its submenu happens after the menu
  // is consistent again.
  MenuItem removed = std::move(menu->items[item - 1u]);
  menu->items.erase(menu->items.begin() + (item - 1));
  return noErr;
}

OSStatus CopyMenuItemTextAsCFString(MenuRef inMenu, MenuItemIndex inItem,
                                    CFStringRef *outString) noexcept {
  if (!outString) return paramErr;
  *outString = nullptr;
  OpaqueMenuRef *menu = Menu(inMenu);
  if (!menu) return paramErr;
  const MenuItem *item = ItemAt(menu, inItem);
  if (!item) return menuItemNotFoundErr;
  const vp::String16 &text = item->text;
  CFStringRef copy = CFStringCreateWithCharacters(
      nullptr, reinterpret_cast<const UniChar *>(text.data()), static_cast<CFIndex>(text.size()));
  if (!copy) return memFullErr;
  *outString = copy;
  return noErr;
}

OSStatus SetMenuItemTextWithCFString(MenuRef inMenu, MenuItemIndex inItem,
                                     CFStringRef inString) noexcept {
  OpaqueMenuRef *menu = Menu(inMenu);
  if (!menu || !inString) return paramErr;
  MenuItem *item = ItemAt(menu, inItem);
  if (!item) return menuItemNotFoundErr;
  return vp::Edge(static_cast<OSStatus>(memFullErr), [&]() -> OSStatus {
    vp::String16 text;
    if (!CopyText(inString, &text)) return paramErr;
    item->text.swap(text);
    return noErr;
  });
}

OSErr GetMenuItemCommandID(MenuRef inMenu, MenuItemIndex inItem,
                           MenuCommand *outCommandID) noexcept {
  OpaqueMenuRef *menu = Menu(inMenu);
  if (!menu || !outCommandID) return paramErr;
  const MenuItem *item = ItemAt(menu, inItem);
  if (!item) return menuItemNotFoundErr;
  *outCommandID = item->command;
  return noErr;
}

OSErr SetMenuItemCommandID(MenuRef inMenu, MenuItemIndex inItem, MenuCommand inCommandID) noexcept {
  OpaqueMenuRef *menu = Menu(inMenu);
  if (!menu) return paramErr;
  MenuItem *item = ItemAt(menu, inItem);
  if (!item) return menuItemNotFoundErr;
  item->command = inCommandID;
  return noErr;
}

OSStatus GetMenuItemAttributes(MenuRef menu, MenuItemIndex item,
                               MenuItemAttributes *outAttributes) noexcept {
  OpaqueMenuRef *m = Menu(menu);
  if (!m || !outAttributes) return paramErr;
  const MenuItem *it = ItemAt(m, item);
  if (!it) return menuItemNotFoundErr;
  *outAttributes = it->attributes;
  return noErr;
}

OSStatus ChangeMenuItemAttributes(MenuRef menu, MenuItemIndex item,
                                  MenuItemAttributes setTheseAttributes,
                                  MenuItemAttributes clearTheseAttributes) noexcept {
  OpaqueMenuRef *m = Menu(menu);
  if (!m) return paramErr;
  MenuItem *it = ItemAt(m, item);
  if (!it) return menuItemNotFoundErr;
  it->attributes = (it->attributes | setTheseAttributes) & ~clearTheseAttributes;
  return noErr;
}

OSStatus SetMenuItemHierarchicalMenu(MenuRef inMenu, MenuItemIndex inItem,
                                     MenuRef inHierMenu) noexcept {
  OpaqueMenuRef *menu = Menu(inMenu);
  if (!menu) return paramErr;
  OpaqueMenuRef *sub = nullptr;
  if (inHierMenu) {
    sub = Menu(inHierMenu);
    if (!sub) return paramErr;
  }
  MenuItem *item = ItemAt(menu, inItem);
  if (!item) return menuItemNotFoundErr;
  if (sub && Reaches(sub, menu)) return paramErr; // would make a cycle
  if (sub) RetainMenu(sub);
  item->submenu.Reset(sub);
  return noErr;
}

OSStatus GetMenuItemHierarchicalMenu(MenuRef inMenu, MenuItemIndex inItem,
                                     MenuRef *outHierMenu) noexcept {
  if (!outHierMenu) return paramErr;
  *outHierMenu = nullptr;
  OpaqueMenuRef *menu = Menu(inMenu);
  if (!menu) return paramErr;
  const MenuItem *item = ItemAt(menu, inItem);
  if (!item) return menuItemNotFoundErr;
  *outHierMenu = item->submenu.get();
  return noErr;
}

} // extern "C"
