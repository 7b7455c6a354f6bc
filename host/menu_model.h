// The host's menu side: what a Contextual Menu Manager does around the
// plug-ins' calls. It makes the context from paths (a list of alias
// descriptors), turns the command list the plug-ins filled into Menu Manager
// menus, opens a submenu as a user would (a menu-populate event to the
// application target, where a plug-in in deferred mode fills it in), reads
// menus and command lists back as plain items to print, and reads the text a
// plug-in put on the scrap.
//
// Used by the `vantlow` command and the tests. Everything runs on the main
// thread, as the plug-ins do. The RAII holders below own exactly one
// descriptor, menu reference or event each.
//
// Item records of a command list, as plug-ins build them:
//   'pnam'  the text: 'utxt' (UTF-16, this machine's byte order), 'itxt'
//           (script code, language code, text in that script's encoding), or
//           anything the Apple Event Manager can coerce to 'utxt' ('TEXT')
//   'cmcd'  the command ID (typeSInt32); absent: 0
//   'cmat'  the menu item attributes (typeSInt32); absent: 0
//   'cmsb'  a submenu: a list of item records
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <Carbon/Carbon.h>

namespace vantlow::host {

// One Apple Event descriptor, a null descriptor until filled, disposed when
// the holder goes. Move-only.
class AEDescHolder {
public:
  AEDescHolder() noexcept { AEInitializeDesc(&desc_); }
  ~AEDescHolder() { AEDisposeDesc(&desc_); }
  AEDescHolder(AEDescHolder &&other) noexcept : desc_(other.desc_) {
    AEInitializeDesc(&other.desc_);
  }
  AEDescHolder &operator=(AEDescHolder &&other) noexcept {
    if (this != &other) {
      AEDisposeDesc(&desc_);
      desc_ = other.desc_;
      AEInitializeDesc(&other.desc_);
    }
    return *this;
  }
  AEDescHolder(const AEDescHolder &) = delete;
  AEDescHolder &operator=(const AEDescHolder &) = delete;

  // Lent; an out descriptor for the functions that fill one (dispose what
  // the holder has first with reset()).
  AEDesc *get() noexcept { return &desc_; }
  const AEDesc *get() const noexcept { return &desc_; }
  void reset() noexcept { AEDisposeDesc(&desc_); }

private:
  AEDesc desc_;
};

// One reference to a Menu Manager menu, released when the holder goes.
// Move-only.
class MenuHolder {
public:
  MenuHolder() noexcept = default;
  // Takes over one reference the caller holds (null allowed).
  explicit MenuHolder(MenuRef menu) noexcept : menu_(menu) {}
  ~MenuHolder() { reset(); }
  MenuHolder(MenuHolder &&other) noexcept : menu_(std::exchange(other.menu_, nullptr)) {}
  MenuHolder &operator=(MenuHolder &&other) noexcept {
    if (this != &other) {
      reset();
      menu_ = std::exchange(other.menu_, nullptr);
    }
    return *this;
  }
  MenuHolder(const MenuHolder &) = delete;
  MenuHolder &operator=(const MenuHolder &) = delete;

  MenuRef get() const noexcept { return menu_; }
  void reset(MenuRef menu = nullptr) noexcept {
    if (menu_) ReleaseMenu(menu_);
    menu_ = menu;
  }

private:
  MenuRef menu_ = nullptr;
};

// One reference to an event, released when the holder goes. Move-only.
class EventHolder {
public:
  EventHolder() noexcept = default;
  explicit EventHolder(EventRef event) noexcept : event_(event) {}
  ~EventHolder() { ReleaseEvent(event_); }
  EventHolder(EventHolder &&other) noexcept : event_(std::exchange(other.event_, nullptr)) {}
  EventHolder &operator=(EventHolder &&other) noexcept {
    if (this != &other) {
      ReleaseEvent(event_);
      event_ = std::exchange(other.event_, nullptr);
    }
    return *this;
  }
  EventHolder(const EventHolder &) = delete;
  EventHolder &operator=(const EventHolder &) = delete;

  EventRef get() const noexcept { return event_; }

private:
  EventRef event_ = nullptr;
};

// A path that could not be made part of the context, and why.
struct LeftOutPath {
  std::string path;
  OSStatus error; // fnfErr: nothing is at the path
};

// Makes the context for paths: a typeAEList holding one alias descriptor
// per path that names an existing item, in the order given (a symbolic link
// is an item of its own and is not followed). Paths that name nothing are
// left out and listed in *leftOut (which may be null) with the error;
// whether any is left is the caller's to check. The result is noErr, or
// memFullErr (then *context is a null descriptor).
OSStatus MakeContext(const std::vector<std::string> &paths, AEDescHolder *context /* OUT */,
                     std::vector<LeftOutPath> *leftOut /* OUT, may be null */);

// Makes an empty command list for ExamineContext.
OSStatus MakeCommandList(AEDescHolder *commandList /* OUT */);

// One item, as a user sees it.
struct MenuItem {
  // The text as UTF-8. What is not text (a lone surrogate, from a file name
  // that is not UTF-8) shows as U+FFFD.
  std::string text;
  UInt32 command = 0;
  UInt32 attributes = 0; // kMenuItemAttrSeparator, kMenuItemAttrSectionHeader, ...
  bool hasSubmenu = false;
  std::vector<MenuItem> submenu;

  bool operator==(const MenuItem &) const = default;
};

// Reads the item records of a command list as they are, submenus included,
// without making menus (what ExamineContext built). On a malformed record
// the result is its error, *problem (may be null) says which item and why,
// and *items holds what was read before it.
OSStatus ReadCommandList(const AEDescList &commandList, std::vector<MenuItem> *items /* OUT */,
                         std::string *problem /* OUT, may be null */);

// Turns a command list into a new Menu Manager menu: one item per record,
// with its text, command ID and attributes, and a submenu of its own for
// each 'cmsb'. On failure (a malformed record, as above, or memFullErr)
// *menu holds nothing.
OSStatus BuildMenu(const AEDescList &commandList, MenuHolder *menu /* OUT */,
                   std::string *problem /* OUT, may be null */);

// Tells the plug-ins that menu is about to open: a kEventMenuPopulate event
// with the menu as its direct object, sent to the application event target,
// where a plug-in's populate handler may change the menu. The cancel latch
// is cleared before and standard output flushed after, as for any call into
// a plug-in. The result is the dispatch's: eventNotHandledErr when no
// handler took the event (or a handler failed); paramErr for a null menu;
// memFullErr when the event cannot be made or the application target
// cannot be had.
OSStatus PopulateMenu(MenuRef menu);

// Opens every submenu below menu, depth first in item order, as a user who
// moves through the whole menu would: each submenu is populated before its
// own items are looked at. A populate that nobody handled is no error; the
// result is noErr unless an event could not be made or sent.
OSStatus OpenAllSubmenus(MenuRef menu);

// Reads a Menu Manager menu, submenus included. memFullErr or the Menu
// Manager's error; *items then holds what was read before.
OSStatus ReadMenu(MenuRef menu, std::vector<MenuItem> *items /* OUT */);

// What is on the scrap: each flavor's bytes exactly, or nothing when the
// flavor is not there.
struct ScrapText {
  std::optional<std::string> unicode; // 'utxt': UTF-16 in this machine's byte order
  std::optional<std::string> text;    // 'TEXT': the system encoding
};

// Reads the 'utxt' and 'TEXT' flavors back. The Scrap Manager's error (a
// missing flavor is none).
OSStatus ReadScrap(ScrapText *scrap /* OUT */);

// The text that reached the scrap as UTF-8: the Unicode flavor when it is
// there, else the plain text flavor read in the system encoding (its bytes
// made valid UTF-8 when that encoding cannot read them); nothing when
// neither flavor is there.
std::optional<std::string> ScrapToUtf8(const ScrapText &scrap);

// UTF-16 units in this machine's byte order (as 'utxt' holds them) as UTF-8;
// a lone surrogate, and a last odd byte, become U+FFFD.
std::string Utf8FromUtxt(const std::string &bytes);

// A string's text as UTF-8, with U+FFFD for a lone surrogate.
std::string Utf8FromCFString(CFStringRef text);

} // namespace vantlow::host
