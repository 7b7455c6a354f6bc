// Windows and controls made from interface files: reading and checking a
// bundle's <Name>.dialog.plist, building a window of it with localized
// titles, and the window and control calls (position, visibility, values,
// lookup by ControlID, the queries renderers draw from). The format is
// described in Carbon/Windows.h. Live nib references and windows are kept in
// a registry, so that a stale handle is refused instead of followed.
#include <Carbon/Windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string_view>

#include "cf_bundle_internal.h"
#include "cf_property_list_internal.h"
#include "cf_string_internal.h"
#include "cf_url_internal.h"
#include "small_file.h"
#include "windows_internal.h"

struct OpaqueIBNibRef {
  vp::Ref<> bundle;  // CFBundleRef
  vp::Ref<> name;    // CFStringRef: the file's name, also its strings table
  vp::Ref<> windows; // CFDictionaryRef, checked: window name -> description
};

namespace {

using vp::Ref;
using vp::String16;
using vp::String8;

constexpr std::size_t kMaxInterfaceFileBytes = 1u << 20;

std::mutex gLock;
constinit vp::Vector<OpaqueWindowPtr *> gWindows;
constinit vp::Vector<OpaqueIBNibRef *> gNibs;

template <class T> bool Contains(const vp::Vector<T *> &list, const T *item) noexcept {
  for (const T *candidate : list)
    if (candidate == item) return true;
  return false;
}

template <class T> void Remove(vp::Vector<T *> &list, const T *item) noexcept {
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (*it == item) {
      list.erase(it);
      break;
    }
  }
  if (list.empty()) vp::Vector<T *>().swap(list); // an idle module holds no memory
}

OpaqueIBNibRef *LiveNib(IBNibRef nib) noexcept {
  std::lock_guard<std::mutex> lock(gLock);
  return nib && Contains(gNibs, nib) ? nib : nullptr;
}

OpaqueWindowPtr *LiveWindow(WindowRef window) noexcept {
  return vp::dialog::IsLiveWindow(window) ? window : nullptr;
}

OpaqueControlRef *LiveControl(ControlRef control) noexcept {
  return vp::dialog::IsLiveControl(control) ? control : nullptr;
}

// ---- Reading the description ----

// Why a description was refused, for the line on stderr.
struct Fault {
  String8 where; // "window "Preferences", control 2: "
  String8 what;
};

bool Is(CFTypeRef value, CFTypeID type) {
  return value && CFGetTypeID(value) == type;
}

String8 Quoted(CFStringRef text) {
  String8 out("\"");
  out += vp::ToUTF8Lossy(*vp::Units(text));
  out += '"';
  return out;
}

bool Fail(Fault &fault, const char *what) {
  fault.what = what;
  return false;
}

// A whole number that fits an SInt32.
bool ReadInt32(CFTypeRef value, SInt32 *out) {
  if (!Is(value, CFNumberGetTypeID()) || CFNumberIsFloatType(static_cast<CFNumberRef>(value)))
    return false;
  SInt64 v = 0;
  if (!CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt64Type, &v)) return false;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  *out = static_cast<SInt32>(v);
  return true;
}

// Four printable ASCII characters ("ok  "), or a whole number 0..0xFFFFFFFF.
bool ReadFourCharCode(CFTypeRef value, UInt32 *out) {
  if (Is(value, CFStringGetTypeID())) {
    const String16 &units = *vp::Units(value);
    if (units.size() != 4) return false;
    UInt32 code = 0;
    for (char16_t u : units) {
      if (u < 0x20 || u > 0x7E) return false;
      code = (code << 8) | static_cast<UInt32>(u);
    }
    *out = code;
    return true;
  }
  if (!Is(value, CFNumberGetTypeID()) || CFNumberIsFloatType(static_cast<CFNumberRef>(value)))
    return false;
  SInt64 v = 0;
  if (!CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt64Type, &v)) return false;
  if (v < 0 || v > static_cast<SInt64>(UINT32_MAX)) return false;
  *out = static_cast<UInt32>(v);
  return true;
}

// The entries of a dictionary, in its order. Throws std::bad_alloc.
void Entries(CFDictionaryRef dict, vp::Vector<const void *> &keys,
             vp::Vector<const void *> &values) {
  std::size_t n = static_cast<std::size_t>(CFDictionaryGetCount(dict));
  keys.assign(n, nullptr);
  values.assign(n, nullptr);
  if (n) CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
}

bool KeyIs(CFTypeRef key, std::u16string_view name) {
  const String16 *units = vp::Units(key);
  return units && std::u16string_view(units->data(), units->size()) == name;
}

// Localizes titles through the bundle's <Name>.strings; null: only check.
struct Localizer {
  CFBundleRef bundle;
  CFStringRef table;
  Ref<> Title(CFStringRef key) const {
    CFStringRef text = CFBundleCopyLocalizedString(bundle, key, key, table);
    if (!text) throw std::bad_alloc();
    return Ref<>(text);
  }
};

enum : UInt32 {
  kHasSignature = 1u << 0,
  kHasID = 1u << 1,
  kHasTitle = 1u << 2,
  kHasCommand = 1u << 3,
  kHasButtons = 1u << 4,
  kHasValue = 1u << 5,
  kHasMinimum = 1u << 6,
  kHasMaximum = 1u << 7,
};

// Checks one control description into c; with a localizer, also gives it
// its localized titles. Throws std::bad_alloc.
bool ReadControl(CFTypeRef description, const Localizer *localizer, OpaqueControlRef &c,
                 Fault &fault) {
  if (!Is(description, CFDictionaryGetTypeID())) return Fail(fault, "not a dictionary");
  vp::Vector<const void *> keys, values;
  Entries(static_cast<CFDictionaryRef>(description), keys, values);

  CFTypeRef kind = nullptr;
  for (std::size_t i = 0; i < keys.size(); ++i)
    if (KeyIs(keys[i], u"Kind")) kind = values[i];
  if (!kind) return Fail(fault, "no Kind");
  if (KeyIs(kind, u"RadioGroup")) {
    c.kind = kVPControlKindRadioGroup;
  } else if (KeyIs(kind, u"Checkbox")) {
    c.kind = kVPControlKindCheckbox;
  } else if (KeyIs(kind, u"PushButton")) {
    c.kind = kVPControlKindPushButton;
  } else if (KeyIs(kind, u"StaticText")) {
    c.kind = kVPControlKindStaticText;
  } else {
    return Fail(fault, "Kind is not RadioGroup, Checkbox, PushButton or StaticText");
  }

  UInt32 seen = 0;
  CFTypeRef title = nullptr, buttons = nullptr;
  SInt32 minimum = 0, maximum = 0, value = 0;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    CFTypeRef key = keys[i], v = values[i];
    if (KeyIs(key, u"Kind")) continue;
    if (KeyIs(key, u"Signature")) {
      if (!ReadFourCharCode(v, &c.id.signature))
        return Fail(fault, "Signature is not a four-character code");
      seen |= kHasSignature;
    } else if (KeyIs(key, u"ID")) {
      if (!ReadInt32(v, &c.id.id)) return Fail(fault, "ID is not a 32-bit integer");
      seen |= kHasID;
    } else if (KeyIs(key, u"Title")) {
      if (!Is(v, CFStringGetTypeID())) return Fail(fault, "Title is not a string");
      title = v;
      seen |= kHasTitle;
    } else if (KeyIs(key, u"Command")) {
      if (c.kind == kVPControlKindStaticText) return Fail(fault, "static text has no Command");
      if (!ReadFourCharCode(v, &c.command))
        return Fail(fault, "Command is not a four-character code");
      seen |= kHasCommand;
    } else if (KeyIs(key, u"Buttons")) {
      if (c.kind != kVPControlKindRadioGroup) return Fail(fault, "only a RadioGroup has Buttons");
      if (!Is(v, CFArrayGetTypeID()) || CFArrayGetCount(static_cast<CFArrayRef>(v)) == 0)
        return Fail(fault, "Buttons is not an array of at least one title");
      buttons = v;
      seen |= kHasButtons;
    } else if (KeyIs(key, u"Value")) {
      if (!ReadInt32(v, &value)) return Fail(fault, "Value is not a 32-bit integer");
      seen |= kHasValue;
    } else if (KeyIs(key, u"Minimum") || KeyIs(key, u"Maximum")) {
      if (c.kind == kVPControlKindRadioGroup)
        return Fail(fault, "a RadioGroup's range is fixed by its Buttons");
      bool isMin = KeyIs(key, u"Minimum");
      if (!ReadInt32(v, isMin ? &minimum : &maximum))
        return Fail(fault,
                    isMin ? "Minimum is not a 32-bit integer" : "Maximum is not a 32-bit integer");
      seen |= isMin ? kHasMinimum : kHasMaximum;
    } else {
      fault.what = "unknown key ";
      fault.what += Is(key, CFStringGetTypeID()) ? Quoted(static_cast<CFStringRef>(key)) : "?";
      return false;
    }
  }

  if (((seen & kHasSignature) != 0) != ((seen & kHasID) != 0))
    return Fail(fault, "Signature and ID go together");
  c.hasID = (seen & kHasSignature) != 0;
  if (!title && c.kind != kVPControlKindRadioGroup) return Fail(fault, "no Title");

  ItemCount count = 0;
  if (c.kind == kVPControlKindRadioGroup) {
    if (!buttons) return Fail(fault, "a RadioGroup needs Buttons");
    auto array = static_cast<CFArrayRef>(buttons);
    count = static_cast<ItemCount>(CFArrayGetCount(array));
    if (count > static_cast<ItemCount>(INT32_MAX)) return Fail(fault, "too many Buttons");
    for (ItemCount i = 0; i < count; ++i)
      if (!Is(CFArrayGetValueAtIndex(array, static_cast<CFIndex>(i)), CFStringGetTypeID()))
        return Fail(fault, "a button title is not a string");
    minimum = 0;
    maximum = static_cast<SInt32>(count);
  } else {
    if (!(seen & kHasMinimum)) minimum = 0;
    if (!(seen & kHasMaximum)) maximum = c.kind == kVPControlKindCheckbox ? 2 : 0;
  }
  if (!(seen & kHasValue)) value = minimum > 0 ? minimum : (maximum < 0 ? maximum : 0);
  if (minimum > maximum) return Fail(fault, "Minimum is above Maximum");
  if (value < minimum || value > maximum) return Fail(fault, "Value is outside its range");
  c.value = value;
  c.minimum = minimum;
  c.maximum = maximum;

  if (!localizer) return true;
  if (title)
    c.title = localizer->Title(static_cast<CFStringRef>(title));
  else
    c.title = Ref<>(vp::NewString(String16()));
  if (buttons) {
    auto array = static_cast<CFArrayRef>(buttons);
    c.items.reserve(count);
    for (ItemCount i = 0; i < count; ++i)
      c.items.push_back(localizer->Title(
          static_cast<CFStringRef>(CFArrayGetValueAtIndex(array, static_cast<CFIndex>(i)))));
  }
  return true;
}

// Checks one window description and, when out is not null, builds its
// controls and titles into it with the localizer (out->controls holds what
// was made, also after a throw). Throws std::bad_alloc.
bool ReadWindow(CFTypeRef description, const Localizer *localizer, OpaqueWindowPtr *out,
                Fault &fault) {
  if (!Is(description, CFDictionaryGetTypeID())) return Fail(fault, "not a dictionary");
  vp::Vector<const void *> keys, values;
  Entries(static_cast<CFDictionaryRef>(description), keys, values);
  CFTypeRef title = nullptr, controls = nullptr;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (KeyIs(keys[i], u"Title")) {
      if (!Is(values[i], CFStringGetTypeID())) return Fail(fault, "Title is not a string");
      title = values[i];
    } else if (KeyIs(keys[i], u"Controls")) {
      if (!Is(values[i], CFArrayGetTypeID())) return Fail(fault, "Controls is not an array");
      controls = values[i];
    } else {
      fault.what = "unknown key ";
      fault.what +=
          Is(keys[i], CFStringGetTypeID()) ? Quoted(static_cast<CFStringRef>(keys[i])) : "?";
      return false;
    }
  }
  if (!controls) return Fail(fault, "no Controls");

  auto array = static_cast<CFArrayRef>(controls);
  CFIndex count = CFArrayGetCount(array);
  vp::Vector<ControlID> ids;
  for (CFIndex i = 0; i < count; ++i) {
    OpaqueControlRef scratch;
    OpaqueControlRef *made = nullptr;
    if (out) {
      out->controls.reserve(static_cast<std::size_t>(count));
      made = vp::New<OpaqueControlRef>();
      out->controls.push_back(made); // reserved: never throws
      made->owner = out;
    }
    OpaqueControlRef &c = made ? *made : scratch;
    if (!ReadControl(CFArrayGetValueAtIndex(array, i), out ? localizer : nullptr, c, fault)) {
      char where[32];
      std::snprintf(where, sizeof where, "control %ld: ", static_cast<long>(i + 1));
      fault.where += where;
      return false;
    }
    if (c.hasID) {
      for (const ControlID &other : ids) {
        if (other.signature == c.id.signature && other.id == c.id.id) {
          char where[32];
          std::snprintf(where, sizeof where, "control %ld: ", static_cast<long>(i + 1));
          fault.where += where;
          return Fail(fault, "another control has the same Signature and ID");
        }
      }
      ids.push_back(c.id);
    }
  }
  if (out) {
    if (title)
      out->title = localizer->Title(static_cast<CFStringRef>(title));
    else
      out->title = Ref<>(vp::NewString(String16()));
  }
  return true;
}

// Checks a whole file; on success *windows holds its window dictionary.
bool ReadFile(CFTypeRef plist, Ref<> *windows, Fault &fault) {
  if (!Is(plist, CFDictionaryGetTypeID())) return Fail(fault, "the top is not a dictionary");
  vp::Vector<const void *> keys, values;
  Entries(static_cast<CFDictionaryRef>(plist), keys, values);
  CFTypeRef found = nullptr;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (KeyIs(keys[i], u"Format")) {
      SInt32 format = 0;
      if (!ReadInt32(values[i], &format) || format != 1)
        return Fail(fault, "Format is not 1, the only version there is");
    } else if (KeyIs(keys[i], u"Windows")) {
      if (!Is(values[i], CFDictionaryGetTypeID()))
        return Fail(fault, "Windows is not a dictionary");
      found = values[i];
    } else {
      fault.what = "unknown key ";
      fault.what +=
          Is(keys[i], CFStringGetTypeID()) ? Quoted(static_cast<CFStringRef>(keys[i])) : "?";
      return false;
    }
  }
  if (!found) return Fail(fault, "no Windows");
  auto dict = static_cast<CFDictionaryRef>(found);
  Entries(dict, keys, values);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (!ReadWindow(values[i], nullptr, nullptr, fault)) {
      String8 where("window ");
      where += Quoted(static_cast<CFStringRef>(keys[i]));
      where += ", ";
      where += fault.where;
      fault.where = std::move(where);
      return false;
    }
  }
  *windows = Ref<>::Retain(found);
  return true;
}

// One line on stderr about an interface file that is not used.
void Report(const String8 &path, const String8 &where, const char *what) {
  flockfile(stderr);
  std::fputs("vantlow: ", stderr);
  for (char ch : path) {
    unsigned char u = static_cast<unsigned char>(ch);
    putc_unlocked(u < 0x20 || u == 0x7f ? '?' : ch, stderr);
  }
  std::fprintf(stderr, ": %s%s; the interface file is not used\n", where.c_str(), what);
  funlockfile(stderr);
}

// Finds, reads and checks the interface file. Throws std::bad_alloc.
OSStatus OpenNib(CFBundleRef bundle, CFStringRef name, Ref<> *windows) {
  String16 file(*vp::Units(name));
  file += u".dialog";
  Ref<> resource(vp::NewString(std::move(file)));
  Ref<> type(vp::NewString(String16(u"plist")));
  Ref<> url(vp::CopyBundleResourceURL(bundle, static_cast<CFStringRef>(resource.get()),
                                      static_cast<CFStringRef>(type.get()), nullptr));
  const String8 *path = vp::URLPath(url.get());
  if (!path) return kIBCarbonRuntimeCantFindNibFile;

  String8 bytes;
  int err = vp::ReadSmallFile(path->c_str(), kMaxInterfaceFileBytes, &bytes);
  if (err == ENOENT || err == ENOTDIR) return kIBCarbonRuntimeCantFindNibFile;
  if (err != 0) {
    char buf[128];
    Report(*path, String8(), vp::DescribeReadError(err, buf, sizeof buf));
    if (err == EFBIG || err == EINVAL) return errCorruptWindowDescription;
    return ioErr;
  }

  vp::plist::Failure failure;
  Ref<> plist(vp::plist::Read(std::string_view(bytes.data(), bytes.size()), 0, nullptr, failure));
  if (!plist) {
    Report(*path, String8(), failure.message ? failure.message : "not a property list");
    return errCorruptWindowDescription;
  }
  Fault fault;
  if (!ReadFile(plist.get(), windows, fault)) {
    Report(*path, fault.where, fault.what.c_str());
    return errCorruptWindowDescription;
  }
  return noErr;
}

} // namespace

namespace vp::dialog {

bool IsLiveWindow(WindowRef window) noexcept {
  std::lock_guard<std::mutex> lock(gLock);
  return window && Contains(gWindows, window);
}

bool IsLiveControl(ControlRef control) noexcept {
  if (!control) return false;
  std::lock_guard<std::mutex> lock(gLock);
  for (const OpaqueWindowPtr *w : gWindows)
    for (const OpaqueControlRef *c : w->controls)
      if (c == control) return true;
  return false;
}

void FreeWindow(OpaqueWindowPtr *window) noexcept {
  if (!window) return;
  for (OpaqueControlRef *c : window->controls)
    vp::Delete(c);
  VPEventTargetDispose(window->target);
  vp::Delete(window);
}

} // namespace vp::dialog

extern "C" {

OSStatus CreateNibReferenceWithCFBundle(CFBundleRef inBundle, CFStringRef inNibName,
                                        IBNibRef *outNibRef) noexcept {
  if (outNibRef) *outNibRef = nullptr;
  if (!inBundle || !inNibName || !outNibRef) return paramErr;
  if (CFGetTypeID(inBundle) != CFBundleGetTypeID() || !vp::Units(inNibName)) return paramErr;
  return vp::Edge(static_cast<OSStatus>(memFullErr), [&]() -> OSStatus {
    Ref<> windows;
    OSStatus err = OpenNib(inBundle, inNibName, &windows);
    if (err != noErr) return err;
    OpaqueIBNibRef *nib = vp::New<OpaqueIBNibRef>();
    nib->bundle = Ref<>::Retain(inBundle);
    nib->windows = std::move(windows);
    CFStringRef name = CFStringCreateCopy(nullptr, inNibName);
    nib->name = Ref<>(name);
    try {
      if (!name) throw std::bad_alloc();
      std::lock_guard<std::mutex> lock(gLock);
      gNibs.push_back(nib);
    } catch (...) {
      vp::Delete(nib);
      throw;
    }
    *outNibRef = nib;
    return noErr;
  });
}

void DisposeNibReference(IBNibRef inNibRef) noexcept {
  {
    std::lock_guard<std::mutex> lock(gLock);
    if (!inNibRef || !Contains(gNibs, inNibRef)) return;
    Remove(gNibs, inNibRef);
  }
  vp::Delete(inNibRef);
}

OSStatus CreateWindowFromNib(IBNibRef inNibRef, CFStringRef inName, WindowRef *outWindow) noexcept {
  if (outWindow) *outWindow = nullptr;
  OpaqueIBNibRef *nib = LiveNib(inNibRef);
  if (!nib || !inName || !outWindow || !vp::Units(inName)) return paramErr;
  CFTypeRef description =
      CFDictionaryGetValue(static_cast<CFDictionaryRef>(nib->windows.get()), inName);
  if (!description) return kIBCarbonRuntimeCantFindObject;
  return vp::Edge(static_cast<OSStatus>(memFullErr), [&]() -> OSStatus {
    OpaqueWindowPtr *window = vp::New<OpaqueWindowPtr>();
    try {
      Localizer localizer{static_cast<CFBundleRef>(const_cast<void *>(nib->bundle.get())),
                          static_cast<CFStringRef>(nib->name.get())};
      Fault fault;
      if (!ReadWindow(description, &localizer, window, fault)) {
        // Checked when the file was opened; cannot happen.
        vp::dialog::FreeWindow(window);
        return errCorruptWindowDescription;
      }
      window->target = VPEventTargetCreate(GetApplicationEventTarget());
      if (!window->target) throw std::bad_alloc();
      std::lock_guard<std::mutex> lock(gLock);
      gWindows.push_back(window);
    } catch (...) {
      vp::dialog::FreeWindow(window);
      throw;
    }
    *outWindow = window;
    return noErr;
  });
}

void DisposeWindow(WindowRef window) noexcept {
  {
    std::lock_guard<std::mutex> lock(gLock);
    if (!window || !Contains(gWindows, window)) return;
    Remove(gWindows, window);
  }
  if (window->inModalLoop) {
    // The loop still uses the record; it frees it when it ends. Handlers
    // go now, as they would with the window.
    window->disposePending = true;
    VPEventTargetDispose(window->target);
    window->target = nullptr;
    return;
  }
  vp::dialog::FreeWindow(window);
}

EventTargetRef GetWindowEventTarget(WindowRef inWindow) noexcept {
  OpaqueWindowPtr *w = LiveWindow(inWindow);
  return w ? w->target : nullptr;
}

OSStatus RepositionWindow(WindowRef window, WindowRef parentWindow,
                          WindowPositionMethod method) noexcept {
  OpaqueWindowPtr *w = LiveWindow(window);
  if (!w) return errInvalidWindowRef;
  switch (method) {
  case kWindowCenterOnMainScreen:
  case kWindowCascadeOnMainScreen:
  case kWindowAlertPositionOnMainScreen:
    break;
  case kWindowCenterOnParentWindow:
  case kWindowCenterOnParentWindowScreen:
  case kWindowCascadeOnParentWindow:
  case kWindowCascadeOnParentWindowScreen:
  case kWindowAlertPositionOnParentWindow:
  case kWindowAlertPositionOnParentWindowScreen:
    if (parentWindow == window || !LiveWindow(parentWindow)) return paramErr;
    break;
  default:
    return paramErr;
  }
  w->position = method;
  return noErr;
}

WindowPositionMethod VPWindowGetPositionMethod(WindowRef window) noexcept {
  OpaqueWindowPtr *w = LiveWindow(window);
  return w ? w->position : 0;
}

void ShowWindow(WindowRef window) noexcept {
  if (OpaqueWindowPtr *w = LiveWindow(window)) w->visible = true;
}

void HideWindow(WindowRef window) noexcept {
  if (OpaqueWindowPtr *w = LiveWindow(window)) w->visible = false;
}

Boolean IsWindowVisible(WindowRef window) noexcept {
  OpaqueWindowPtr *w = LiveWindow(window);
  return w && w->visible;
}

OSStatus CopyWindowTitleAsCFString(WindowRef inWindow, CFStringRef *outString) noexcept {
  if (outString) *outString = nullptr;
  OpaqueWindowPtr *w = LiveWindow(inWindow);
  if (!outString) return paramErr;
  if (!w) return errInvalidWindowRef;
  CFStringRef copy = CFStringCreateCopy(nullptr, static_cast<CFStringRef>(w->title.get()));
  if (!copy) return memFullErr;
  *outString = copy;
  return noErr;
}

OSStatus GetControlByID(WindowRef inWindow, const ControlID *inID,
                        ControlRef *outControl) noexcept {
  if (outControl) *outControl = nullptr;
  if (!inID || !outControl) return paramErr;
  OpaqueWindowPtr *w = LiveWindow(inWindow);
  if (!w) return errInvalidWindowRef;
  for (OpaqueControlRef *c : w->controls) {
    if (c->hasID && c->id.signature == inID->signature && c->id.id == inID->id) {
      *outControl = c;
      return noErr;
    }
  }
  return errUnknownControl;
}

ItemCount VPWindowCountControls(WindowRef window) noexcept {
  OpaqueWindowPtr *w = LiveWindow(window);
  return w ? static_cast<ItemCount>(w->controls.size()) : 0;
}

ControlRef VPWindowGetControlAtIndex(WindowRef window, ItemCount index) noexcept {
  OpaqueWindowPtr *w = LiveWindow(window);
  if (!w || index < 1 || index > w->controls.size()) return nullptr;
  return w->controls[index - 1];
}

WindowRef GetControlOwner(ControlRef inControl) noexcept {
  OpaqueControlRef *c = LiveControl(inControl);
  return c ? c->owner : nullptr;
}

UInt32 VPControlGetKind(ControlRef inControl) noexcept {
  OpaqueControlRef *c = LiveControl(inControl);
  return c ? c->kind : 0;
}

SInt32 GetControl32BitValue(ControlRef theControl) noexcept {
  OpaqueControlRef *c = LiveControl(theControl);
  return c ? c->value : 0;
}

SInt32 GetControl32BitMinimum(ControlRef theControl) noexcept {
  OpaqueControlRef *c = LiveControl(theControl);
  return c ? c->minimum : 0;
}

SInt32 GetControl32BitMaximum(ControlRef theControl) noexcept {
  OpaqueControlRef *c = LiveControl(theControl);
  return c ? c->maximum : 0;
}

void SetControl32BitValue(ControlRef theControl, SInt32 newValue) noexcept {
  OpaqueControlRef *c = LiveControl(theControl);
  if (!c) return;
  c->value = newValue < c->minimum ? c->minimum : newValue > c->maximum ? c->maximum : newValue;
}

OSStatus GetControlID(ControlRef inControl, ControlID *outID) noexcept {
  if (!outID) return paramErr;
  OpaqueControlRef *c = LiveControl(inControl);
  if (!c) return errUnknownControl;
  *outID = c->hasID ? c->id : ControlID{0, 0};
  return noErr;
}

OSStatus GetControlCommandID(ControlRef inControl, UInt32 *outCommandID) noexcept {
  if (!outCommandID) return paramErr;
  OpaqueControlRef *c = LiveControl(inControl);
  if (!c) return errUnknownControl;
  *outCommandID = c->command;
  return noErr;
}

OSStatus CopyControlTitleAsCFString(ControlRef inControl, CFStringRef *outString) noexcept {
  if (outString) *outString = nullptr;
  if (!outString) return paramErr;
  OpaqueControlRef *c = LiveControl(inControl);
  if (!c) return errUnknownControl;
  CFStringRef copy = CFStringCreateCopy(nullptr, static_cast<CFStringRef>(c->title.get()));
  if (!copy) return memFullErr;
  *outString = copy;
  return noErr;
}

ItemCount VPControlCountItems(ControlRef inControl) noexcept {
  OpaqueControlRef *c = LiveControl(inControl);
  return c ? static_cast<ItemCount>(c->items.size()) : 0;
}

OSStatus VPControlCopyItemTitle(ControlRef inControl, ItemCount index,
                                CFStringRef *outString) noexcept {
  if (outString) *outString = nullptr;
  if (!outString) return paramErr;
  OpaqueControlRef *c = LiveControl(inControl);
  if (!c) return errUnknownControl;
  if (index < 1 || index > c->items.size()) return paramErr;
  CFStringRef copy =
      CFStringCreateCopy(nullptr, static_cast<CFStringRef>(c->items[index - 1].get()));
  if (!copy) return memFullErr;
  *outString = copy;
  return noErr;
}

} // extern "C"
