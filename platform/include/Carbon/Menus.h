/* The Menu Manager: in-process menus of items. Each item has a text, a
 * command ID, attribute bits and optionally a submenu. The host turns the
 * plug-in's command list into such menus and hands a submenu to the plug-in
 * in a menu-populate event; the plug-in reads and changes the items there.
 *
 * A MenuRef is reference counted: CreateNewMenu hands out one reference,
 * RetainMenu adds one, ReleaseMenu and DisposeMenu give one up, and the last
 * one frees the menu with its items. An item that has a submenu holds a
 * reference to it. Item indexes count from 1.
 *
 * Results: paramErr for a null menu or out pointer (or a handle that is not
 * a menu), menuItemNotFoundErr for an index outside 1..count, memFullErr
 * when storage cannot be had (the menu is then unchanged). */
#ifndef VANTLOW_CARBON_MENUS_H
#define VANTLOW_CARBON_MENUS_H

#include <Carbon/MacTypes.h>
#include <CoreFoundation/CFBase.h>

VP_EXTERN_C_BEGIN

typedef struct OpaqueMenuRef *MenuRef;
typedef MenuRef MenuHandle;
typedef SInt16 MenuID;
typedef UInt16 MenuItemIndex;
typedef UInt32 MenuCommand;
typedef UInt32 MenuAttributes;
typedef UInt32 MenuItemAttributes;

enum {
  kMenuItemAttrDisabled = 1u << 0,
  kMenuItemAttrIconDisabled = 1u << 1,
  kMenuItemAttrSubmenuParentChoosable = 1u << 2,
  kMenuItemAttrDynamic = 1u << 3,
  kMenuItemAttrNotPreviousAlternate = 1u << 4,
  kMenuItemAttrHidden = 1u << 5,
  kMenuItemAttrSeparator = 1u << 6,     /* 64: a dividing line */
  kMenuItemAttrSectionHeader = 1u << 7, /* 128: a header line, not chosen */
  kMenuItemAttrIgnoreMeta = 1u << 8,
  kMenuItemAttrAutoRepeat = 1u << 9
};

/* The most items one menu holds (indexes are 16-bit). */
enum { kVPMenuItemLimit = 0xFFFF };

/* A new empty menu with one reference; *outMenuRef null on failure. */
VP_EXPORT OSStatus CreateNewMenu(MenuID inMenuID, MenuAttributes inMenuAttributes,
                                 MenuRef *outMenuRef /* OUT: caller releases */) VP_NOEXCEPT;
VP_EXPORT OSStatus RetainMenu(MenuRef inMenu) VP_NOEXCEPT;
/* Gives up one reference; the last frees the menu. */
VP_EXPORT OSStatus ReleaseMenu(MenuRef inMenu) VP_NOEXCEPT;
/* The same as ReleaseMenu; null is ignored. */
VP_EXPORT void DisposeMenu(MenuRef theMenu) VP_NOEXCEPT;
/* The number of references held; 0 for null. */
VP_EXPORT ItemCount GetMenuRetainCount(MenuRef inMenu) VP_NOEXCEPT;
/* The ID given at creation; 0 for null. */
VP_EXPORT MenuID GetMenuID(MenuRef menu) VP_NOEXCEPT;

/* The number of items; 0 for null. */
VP_EXPORT UInt16 CountMenuItems(MenuRef theMenu) VP_NOEXCEPT;

/* Appends an item with a copy of the text. outNewItem may be null; on
 * success it receives the new item's index. A full menu (kVPMenuItemLimit
 * items) is memFullErr. */
VP_EXPORT OSStatus AppendMenuItemTextWithCFString(
    MenuRef menu, CFStringRef inString, MenuItemAttributes inAttributes, MenuCommand inCommandID,
    MenuItemIndex *outNewItem /* OUT, may be null */) VP_NOEXCEPT;
/* Inserts an item after inAfterItem: 0 puts it first, an index at or past
 * the last item appends. */
VP_EXPORT OSStatus InsertMenuItemTextWithCFString(MenuRef menu, CFStringRef inString,
                                                  MenuItemIndex inAfterItem,
                                                  MenuItemAttributes inAttributes,
                                                  MenuCommand inCommandID) VP_NOEXCEPT;
/* Removes the item (and its reference to a submenu); later items move up. */
VP_EXPORT OSStatus DeleteMenuItem(MenuRef theMenu, MenuItemIndex item) VP_NOEXCEPT;

/* A new string with the item's text; *outString null on failure. */
VP_EXPORT OSStatus CopyMenuItemTextAsCFString(MenuRef inMenu, MenuItemIndex inItem,
                                              CFStringRef *outString /* OUT: caller releases */)
    VP_NOEXCEPT;
/* Replaces the item's text with a copy of inString. */
VP_EXPORT OSStatus SetMenuItemTextWithCFString(MenuRef inMenu, MenuItemIndex inItem,
                                               CFStringRef inString) VP_NOEXCEPT;

VP_EXPORT OSErr GetMenuItemCommandID(MenuRef inMenu, MenuItemIndex inItem,
                                     MenuCommand *outCommandID /* OUT */) VP_NOEXCEPT;
VP_EXPORT OSErr SetMenuItemCommandID(MenuRef inMenu, MenuItemIndex inItem,
                                     MenuCommand inCommandID) VP_NOEXCEPT;

VP_EXPORT OSStatus GetMenuItemAttributes(MenuRef menu, MenuItemIndex item,
                                         MenuItemAttributes *outAttributes /* OUT */) VP_NOEXCEPT;
/* Sets the bits of setTheseAttributes, then clears those of
 * clearTheseAttributes. */
VP_EXPORT OSStatus ChangeMenuItemAttributes(MenuRef menu, MenuItemIndex item,
                                            MenuItemAttributes setTheseAttributes,
                                            MenuItemAttributes clearTheseAttributes) VP_NOEXCEPT;

/* Attaches inHierMenu as the item's submenu (the item retains it and
 * releases the one it had); null detaches. A menu cannot become a submenu
 * of itself or of one of its own submenus (paramErr): menus form a tree. */
VP_EXPORT OSStatus SetMenuItemHierarchicalMenu(MenuRef inMenu, MenuItemIndex inItem,
                                               MenuRef inHierMenu) VP_NOEXCEPT;
/* The item's submenu, lent (valid while the item holds it), or null. */
VP_EXPORT OSStatus GetMenuItemHierarchicalMenu(MenuRef inMenu, MenuItemIndex inItem,
                                               MenuRef *outHierMenu /* OUT */) VP_NOEXCEPT;

VP_EXTERN_C_END

#endif
