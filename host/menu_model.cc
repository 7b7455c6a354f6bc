// The host's menu side (see menu_model.h): the context from paths, command
// list records read into items or turned into Menu Manager menus, the
// populate event that opens a submenu, and the scrap read back. Command
// lists come from plug-ins, so every record is checked before use and a
// malformed one is reported with where it sits.
#include "menu_model.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <type_traits>

#include "display_text.h"

namespace vantlow::host {
namespace {

// One CoreFoundation reference, released when the holder goes.
struct CFReleaser {
  void operator()(const void *cf) const noexcept {
    if (cf) CFRelease(cf);
  }
};
using StringHolder = std::unique_ptr<std::remove_pointer_t<CFStringRef>, CFReleaser>;

// Deeper submenus than any menu a person can use: a record nested further is
// refused rather than followed down the stack.
constexpr int kMaxSubmenuDepth = 32;

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string *out, char32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::string Utf8FromUnits(const UniChar *units, size_t count) {
  std::string out;
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const char32_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      AppendUtf8(&out, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      AppendUtf8(&out, kReplacement);
    } else {
      AppendUtf8(&out, u);
    }
  }
  return out;
}

// "'utxt'", or the code in hex when it is not four printable characters.
std::string FourCC(UInt32 code) {
  char text[16];
  bool printable = true;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const unsigned c = (code >> shift) & 0xFF;
    printable = printable && c >= 0x20 && c < 0x7F;
  }
  if (printable) {
    std::snprintf(text, sizeof text, "'%c%c%c%c'", static_cast<char>(code >> 24),
                  static_cast<char>(code >> 16), static_cast<char>(code >> 8),
                  static_cast<char>(code));
  } else {
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
  }
  return text;
}

void Tell(std::string *problem, const std::string &where, const std::string &what) {
  if (problem) *problem = where + ": " + what;
}

// The encoding of 'itxt' text in the given script: the system encoding when
// it belongs to that script (the plug-in runs in this process and converted
// with it), else the script's own encoding; kCFStringEncodingInvalidId for
// a script we cannot read.
CFStringEncoding EncodingForScript(ScriptCode script) {
  const CFStringEncoding system = CFStringGetSystemEncoding();
  ScriptCode systemScript = -1;
  if (RevertTextEncodingToScriptInfo(system, &systemScript, nullptr, nullptr) == noErr &&
      systemScript == script)
    return system;
  if (script == smUnicodeScript) return kCFStringEncodingUTF8;
  if (script == smRoman) return kCFStringEncodingMacRoman;
  return kCFStringEncodingInvalidId;
}

// The text of a 'utxt' descriptor; null with *err set when it is malformed
// or memory runs out.
CFStringRef CopyUnicodeText(const AEDesc &desc, OSStatus *err, std::string *why) {
  const Size size = AEGetDescDataSize(&desc);
  if (size % 2 != 0) {
    *err = errAEWrongDataType;
    *why = "its 'utxt' name has an odd number of bytes";
    return nullptr;
  }
  std::vector<UniChar> units(static_cast<size_t>(size) / 2);
  if (size > 0) {
    *err = AEGetDescData(&desc, units.data(), size);
    if (*err != noErr) {
      *why = "its name cannot be read";
      return nullptr;
    }
  }
  CFStringRef text =
      CFStringCreateWithCharacters(nullptr, units.data(), static_cast<CFIndex>(units.size()));
  if (!text) *err = memFullErr;
  return text;
}

// The text of an 'itxt' descriptor: script code, language code, then the
// text in that script's encoding.
CFStringRef CopyIntlText(const AEDesc &desc, OSStatus *err, std::string *why) {
  const Size size = AEGetDescDataSize(&desc);
  constexpr Size kHeader = sizeof(ScriptCode) + sizeof(LangCode);
  if (size < kHeader) {
    *err = errAEWrongDataType;
    *why = "its 'itxt' name is shorter than its script and language codes";
    return nullptr;
  }
  std::vector<UInt8> bytes(static_cast<size_t>(size));
  *err = AEGetDescData(&desc, bytes.data(), size);
  if (*err != noErr) {
    *why = "its name cannot be read";
    return nullptr;
  }
  ScriptCode script = 0;
  std::memcpy(&script, bytes.data(), sizeof script);
  const CFStringEncoding encoding = EncodingForScript(script);
  if (encoding == kCFStringEncodingInvalidId) {
    *err = errAECoercionFail;
    *why = "its 'itxt' name is in script " + std::to_string(script) + ", which is not supported";
    return nullptr;
  }
  const UInt8 *text = bytes.data() + kHeader;
  const CFIndex length = static_cast<CFIndex>(size - kHeader);
  // UTF-8 goes through the file-name mapping: bytes that are not UTF-8
  // (a name made from a file name) survive and show as U+FFFD.
  CFStringRef result = encoding == kCFStringEncodingUTF8
                           ? VPStringCreateWithFileSystemBytes(nullptr, text, length)
                           : CFStringCreateWithBytes(nullptr, text, length, encoding, false);
  if (!result) {
    *err = errAECoercionFail;
    *why = "its 'itxt' name is not valid text in its script's encoding";
  }
  return result;
}

// A typeSInt32 parameter, 0 when the record has none.
OSStatus GetNumber(const AERecord &record, AEKeyword key, UInt32 *value) {
  SInt32 number = 0;
  Size actual = 0;
  const OSStatus err =
      AEGetParamPtr(&record, key, typeSInt32, nullptr, &number, sizeof number, &actual);
  if (err == errAEDescNotFound) {
    *value = 0;
    return noErr;
  }
  if (err != noErr) return err;
  if (actual != sizeof number) return errAEWrongDataType;
  *value = static_cast<UInt32>(number);
  return noErr;
}

// One item record, read and checked.
struct RecordItem {
  StringHolder text;
  UInt32 command = 0;
  UInt32 attributes = 0;
  bool hasSubmenu = false;
  AEDescHolder submenu; // typeAEList when hasSubmenu
};

OSStatus ReadRecord(const AEDescList &list, long index, const std::string &where, RecordItem *item,
                    std::string *problem) {
  AEDescHolder record;
  OSStatus err = AEGetNthDesc(&list, index, typeAERecord, nullptr, record.get());
  if (err == memFullErr) return err;
  if (err != noErr) {
    Tell(problem, where, "not an item record");
    return err;
  }

  AEDescHolder name;
  err = AEGetParamDesc(record.get(), keyAEName, typeWildCard, name.get());
  if (err != noErr) {
    Tell(problem, where, err == errAEDescNotFound ? "no name ('pnam')" : "its name cannot be read");
    return err;
  }
  std::string why;
  const DescType nameType = name.get()->descriptorType;
  if (nameType == typeUnicodeText) {
    item->text.reset(CopyUnicodeText(*name.get(), &err, &why));
  } else if (nameType == typeIntlText) {
    item->text.reset(CopyIntlText(*name.get(), &err, &why));
  } else {
    AEDescHolder unicode;
    err = AECoerceDesc(name.get(), typeUnicodeText, unicode.get());
    if (err == noErr) {
      item->text.reset(CopyUnicodeText(*unicode.get(), &err, &why));
    } else if (err != memFullErr) {
      why = "its name is of type " + FourCC(nameType) + ", which is not text";
    }
  }
  if (!item->text) {
    if (err == noErr) err = memFullErr;
    if (err != memFullErr) Tell(problem, where, why);
    return err;
  }

  err = GetNumber(*record.get(), keyContextualMenuCommandID, &item->command);
  if (err == noErr) err = GetNumber(*record.get(), keyContextualMenuAttributes, &item->attributes);
  if (err != noErr) {
    if (err != memFullErr) Tell(problem, where, "its command ID or attributes are not numbers");
    return err;
  }

  err = AEGetParamDesc(record.get(), keyContextualMenuSubmenu, typeAEList, item->submenu.get());
  if (err == errAEDescNotFound) return noErr;
  if (err != noErr) {
    if (err != memFullErr) Tell(problem, where, "its submenu ('cmsb') is not a list");
    return err;
  }
  item->hasSubmenu = true;
  return noErr;
}

std::string ItemPlace(const std::string &parent, long index) {
  return (parent.empty() ? "item " : parent + " > item ") + std::to_string(index);
}

OSStatus CountRecords(const AEDescList &list, const std::string &where, int depth, long *count,
                      std::string *problem) {
  if (depth > kMaxSubmenuDepth) {
    Tell(problem, where, "submenus nested more than " + std::to_string(kMaxSubmenuDepth) + " deep");
    return paramErr;
  }
  *count = 0;
  OSStatus err = errAEWrongDataType;
  if (list.descriptorType == typeAEList) err = AECountItems(&list, count);
  if (err != noErr && err != memFullErr) {
    Tell(problem, where.empty() ? "command list" : where, "not a list of item records");
  }
  return err;
}

// Reads the item records of a command list one after the other (the list
// and its depth checked first) and hands each to visit(record, place).
// Stops at the first error, of the reading or of visit, and returns it.
template <class Visit>
OSStatus ForEachRecord(const AEDescList &list, const std::string &where, int depth,
                       std::string *problem, Visit visit) {
  long count = 0;
  OSStatus err = CountRecords(list, where, depth, &count, problem);
  for (long index = 1; err == noErr && index <= count; ++index) {
    RecordItem record;
    const std::string place = ItemPlace(where, index);
    err = ReadRecord(list, index, place, &record, problem);
    if (err == noErr) err = visit(record, place);
  }
  return err;
}

OSStatus ReadRecords(const AEDescList &list, const std::string &where, int depth,
                     std::vector<MenuItem> *items, std::string *problem) {
  return ForEachRecord(
      list, where, depth, problem, [&](const RecordItem &record, const std::string &place) {
        MenuItem item;
        item.text = Utf8FromCFString(record.text.get());
        item.command = record.command;
        item.attributes = record.attributes;
        item.hasSubmenu = record.hasSubmenu;
        OSStatus err = noErr;
        if (record.hasSubmenu)
          err = ReadRecords(*record.submenu.get(), place, depth + 1, &item.submenu, problem);
        items->push_back(std::move(item));
        return err;
      });
}

// Menu IDs only tell menus apart when a person debugs the host.
MenuID NextMenuID() {
  static MenuID next = 0;
  return ++next;
}

OSStatus BuildInto(const AEDescList &list, const std::string &where, int depth, MenuRef menu,
                   std::string *problem) {
  return ForEachRecord(
      list, where, depth, problem, [&](const RecordItem &record, const std::string &place) {
        MenuItemIndex added = 0;
        OSStatus err = AppendMenuItemTextWithCFString(menu, record.text.get(), record.attributes,
                                                      record.command, &added);
        if (err != noErr || !record.hasSubmenu) return err;
        MenuRef created = nullptr;
        err = CreateNewMenu(NextMenuID(), 0, &created);
        MenuHolder submenu(created);
        if (err == noErr)
          err = BuildInto(*record.submenu.get(), place, depth + 1, created, problem);
        if (err == noErr) err = SetMenuItemHierarchicalMenu(menu, added, created);
        return err;
      });
}

} // namespace

std::string Utf8FromUtxt(const std::string &bytes) {
  std::vector<UniChar> units(bytes.size() / 2);
  if (!units.empty()) std::memcpy(units.data(), bytes.data(), units.size() * sizeof(UniChar));
  std::string text = Utf8FromUnits(units.data(), units.size());
  if (bytes.size() % 2 != 0) AppendUtf8(&text, kReplacement);
  return text;
}

std::string Utf8FromCFString(CFStringRef text) {
  const CFIndex length = text ? CFStringGetLength(text) : 0;
  if (length <= 0) return {};
  std::vector<UniChar> units(static_cast<size_t>(length));
  CFStringGetCharacters(text, CFRangeMake(0, length), units.data());
  return Utf8FromUnits(units.data(), units.size());
}

OSStatus MakeContext(const std::vector<std::string> &paths, AEDescHolder *context,
                     std::vector<LeftOutPath> *leftOut) {
  context->reset();
  AEDescHolder list;
  OSStatus err = AECreateList(nullptr, 0, false, list.get());
  if (err != noErr) return err;
  for (const std::string &path : paths) {
    // A name with a zero byte in it cannot name a file; cut at that byte it
    // would name another one.
    if (path.find('\0') != std::string::npos) {
      if (leftOut) leftOut->push_back({path, bdNamErr});
      continue;
    }
    AEDescHolder alias;
    err = VPCreateAliasDescForPath(path.c_str(), alias.get());
    if (err == memFullErr) return err;
    if (err != noErr) {
      if (leftOut) leftOut->push_back({path, err});
      continue;
    }
    err = AEPutDesc(list.get(), 0, alias.get());
    if (err != noErr) return err;
  }
  *context = std::move(list);
  return noErr;
}

OSStatus MakeCommandList(AEDescHolder *commandList) {
  commandList->reset();
  return AECreateList(nullptr, 0, false, commandList->get());
}

OSStatus ReadCommandList(const AEDescList &commandList, std::vector<MenuItem> *items,
                         std::string *problem) {
  items->clear();
  return ReadRecords(commandList, "", 0, items, problem);
}

OSStatus BuildMenu(const AEDescList &commandList, MenuHolder *menu, std::string *problem) {
  menu->reset();
  MenuRef created = nullptr;
  OSStatus err = CreateNewMenu(NextMenuID(), 0, &created);
  MenuHolder built(created);
  if (err == noErr) err = BuildInto(commandList, "", 0, created, problem);
  if (err == noErr) *menu = std::move(built);
  return err;
}

OSStatus PopulateMenu(MenuRef menu) {
  if (!menu) return paramErr;
  EventRef created = nullptr;
  OSStatus err =
      CreateEvent(nullptr, kEventClassMenu, kEventMenuPopulate, 0, kEventAttributeNone, &created);
  EventHolder event(created);
  if (err != noErr) return err;
  err = SetEventParameter(created, kEventParamDirectObject, typeMenuRef, sizeof menu, &menu);
  if (err != noErr) return err;
  // The target cannot be had only when the platform runs short of memory;
  // sending to no target would misreport that as a bad parameter.
  EventTargetRef target = GetApplicationEventTarget();
  if (!target) return memFullErr;
  VPCancelLatchClear();
  err = SendEventToEventTarget(created, target);
  std::fflush(stdout);
  return err;
}

OSStatus OpenAllSubmenus(MenuRef menu) {
  // The count is asked afresh: a populate may change the menu above it.
  for (MenuItemIndex index = 1; index <= CountMenuItems(menu); ++index) {
    MenuRef lent = nullptr;
    if (GetMenuItemHierarchicalMenu(menu, index, &lent) != noErr || !lent) continue;
    // Held while it is opened, in case a handler takes it off its item.
    RetainMenu(lent);
    MenuHolder submenu(lent);
    OSStatus err = PopulateMenu(lent);
    if (err != noErr && err != eventNotHandledErr) return err;
    err = OpenAllSubmenus(lent);
    if (err != noErr) return err;
  }
  return noErr;
}

OSStatus ReadMenu(MenuRef menu, std::vector<MenuItem> *items) {
  items->clear();
  if (!menu) return paramErr;
  const UInt16 count = CountMenuItems(menu);
  for (MenuItemIndex index = 1; index <= count; ++index) {
    MenuItem item;
    CFStringRef copied = nullptr;
    OSStatus err = CopyMenuItemTextAsCFString(menu, index, &copied);
    StringHolder text(copied);
    MenuCommand command = 0;
    MenuItemAttributes attributes = 0;
    MenuRef submenu = nullptr;
    if (err == noErr) err = GetMenuItemCommandID(menu, index, &command);
    if (err == noErr) err = GetMenuItemAttributes(menu, index, &attributes);
    if (err == noErr) err = GetMenuItemHierarchicalMenu(menu, index, &submenu);
    if (err != noErr) return err;
    item.text = Utf8FromCFString(text.get());
    item.command = command;
    item.attributes = attributes;
    if (submenu) {
      item.hasSubmenu = true;
      err = ReadMenu(submenu, &item.submenu);
      if (err != noErr) return err;
    }
    items->push_back(std::move(item));
  }
  return noErr;
}

OSStatus ReadScrap(ScrapText *scrap) {
  *scrap = ScrapText{};
  ScrapRef current = nullptr;
  OSStatus err = GetCurrentScrap(&current);
  if (err != noErr) return err;
  struct Flavor {
    ScrapFlavorType type;
    std::optional<std::string> *bytes;
  } flavors[] = {{kScrapFlavorTypeUnicode, &scrap->unicode}, {kScrapFlavorTypeText, &scrap->text}};
  for (const Flavor &flavor : flavors) {
    Size size = 0;
    err = GetScrapFlavorSize(current, flavor.type, &size);
    if (err == noTypeErr) continue;
    if (err != noErr) return err;
    std::string bytes(static_cast<size_t>(size), '\0');
    Size copied = size;
    err = GetScrapFlavorData(current, flavor.type, &copied, bytes.data());
    if (err == noTypeErr) continue; // taken off meanwhile
    if (err != noErr) return err;
    bytes.resize(static_cast<size_t>(copied));
    *flavor.bytes = std::move(bytes);
  }
  return noErr;
}

std::optional<std::string> ScrapToUtf8(const ScrapText &scrap) {
  if (scrap.unicode) return Utf8FromUtxt(*scrap.unicode);
  if (!scrap.text) return std::nullopt;
  CFStringRef string = CFStringCreateWithBytes(
      nullptr, reinterpret_cast<const UInt8 *>(scrap.text->data()),
      static_cast<CFIndex>(scrap.text->size()), CFStringGetSystemEncoding(), false);
  if (!string) return ValidUtf8(*scrap.text);
  std::string text = Utf8FromCFString(string);
  CFRelease(string);
  return text;
}

} // namespace vantlow::host
