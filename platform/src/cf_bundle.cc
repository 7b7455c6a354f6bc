// Bundles: reading a bundle folder (Contents/Info.plist), the process-wide
// registry that CFBundleGetBundleWithIdentifier searches, resources and
// localized strings from Contents/Resources/<lang>.lproj, and loading the
// executable in Contents/Linux with dlopen. A registered bundle lives as long
// as the process: the registry keeps a reference, and a loaded executable is
// never closed, because instances of its code may be alive anywhere.
#include <dlfcn.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include <vantlow/platform_testing.h>

#include "cf_bundle_internal.h"
#include "cf_plugin_internal.h"
#include "cf_string_internal.h"
#include "cf_url_internal.h"
#include "small_file.h"
#include "strings_file.h"
#include "syscalls.h"

namespace vp::bundle_detail {

// Whether Contents/Resources/<name> is a folder, as first found out.
struct FolderState {
  String8 name; // "German.lproj"
  bool exists;
};

// One strings table of one language folder, parsed once.
struct CachedTable {
  String8 folder; // "German.lproj"
  String16 table; // "Localizable"
  bool usable;    // false: missing, unreadable or malformed (treated as missing)
  StringsTable entries;
};

} // namespace vp::bundle_detail

struct __CFBundle final : vp::Object {
  static constexpr CFTypeID kTypeID = vp::kTypeIDBundle;
  CFTypeID TypeID() const noexcept override { return kTypeID; }
  vp::String16 Describe() const override {
    vp::String16 out(u"CFBundle ");
    out += vp::DecodeFileName(std::string_view(path.data(), path.size()));
    out += handle.load() ? u" (loaded)" : u" (not loaded)";
    return out;
  }

  vp::String8 path;                 // the bundle folder, absolute and normalized
  vp::Ref<> url;                    // CFURLRef the bundle was made from
  vp::Ref<> info;                   // CFDictionaryRef of Info.plist
  CFStringRef identifier = nullptr; // lent from info
  dev_t dev = 0;
  ino_t ino = 0;

  std::atomic<void *> handle{nullptr}; // dlopen handle, never closed
  // Loading may run the executable's constructors, which may ask this bundle
  // for a symbol again on the same thread.
  std::recursive_mutex loadMutex;

  std::mutex cacheMutex; // guards the two caches
  vp::Vector<vp::bundle_detail::FolderState> folders;
  vp::Vector<vp::bundle_detail::CachedTable> tables;
};

namespace {

using vp::Ref;
using vp::String16;
using vp::String8;
using vp::bundle_detail::CachedTable;
using vp::bundle_detail::FolderState;

constexpr std::size_t kMaxInfoPlistBytes = 4u << 20;

// Never destroyed: the registry's references last for the life of the
// process, and static destructors of other modules may still look bundles
// up.
struct Registry {
  std::mutex mutex;
  vp::Vector<__CFBundle *> bundles; // each holds one reference of ours
};

Registry &TheRegistry() {
  alignas(Registry) static unsigned char storage[sizeof(Registry)];
  static Registry *registry = ::new (storage) Registry();
  return *registry;
}

// A constant key made when the library is loaded; it lasts as long as the
// process and so is not counted as anyone's allocation.
CFStringRef MakeImmortalKey(const char16_t *text) {
  vp::PermanentAllocationScope permanent;
  __CFString *s = new __CFString(String16(text));
  s->MakeImmortal();
  return s;
}

String8 Join(std::string_view a, std::string_view b) {
  String8 out(a.data(), a.size());
  out.push_back('/');
  out.append(b.data(), b.size());
  return out;
}

std::string_view View(const String8 &s) {
  return std::string_view(s.data(), s.size());
}

// A name that stays within its folder: not empty, no "/", no NUL, not "."
// or "..".
bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

// A relative folder path without ".." components (it cannot lead out).
bool IsInsidePath(std::string_view sub) {
  if (sub.empty()) return true;
  if (sub.front() == '/' || sub.find('\0') != std::string_view::npos) return false;
  size_t i = 0;
  while (i <= sub.size()) {
    size_t end = sub.find('/', i);
    if (end == std::string_view::npos) end = sub.size();
    if (sub.substr(i, end - i) == "..") return false;
    i = end + 1;
  }
  return true;
}

// ---- The user's language ----

struct Language {
  char code[4] = {};   // "de"
  char region[4] = {}; // "DE", or empty
};

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// "de_DE.UTF-8@euro" -> de, DE. "C" and "POSIX" are English. A part after
// the language that is not a region ("zh_Hans", "sr@latin") is dropped.
bool ParseLanguage(std::string_view text, Language *out) {
  *out = Language();
  size_t cut = text.find_first_of(".@");
  if (cut != std::string_view::npos) text = text.substr(0, cut);
  if (text == "C" || text == "POSIX") {
    std::memcpy(out->code, "en", 3);
    return true;
  }
  size_t sep = text.find_first_of("_-");
  std::string_view code = text.substr(0, sep);
  if (code.size() < 2 || code.size() > 3) return false;
  for (size_t i = 0; i < code.size(); ++i) {
    if (!IsAsciiLetter(code[i])) return false;
    out->code[i] = static_cast<char>(code[i] | 0x20);
  }
  if (sep == std::string_view::npos) return true;
  std::string_view region = text.substr(sep + 1);
  if (region.size() == 2 && IsAsciiLetter(region[0]) && IsAsciiLetter(region[1])) {
    out->region[0] = static_cast<char>(region[0] & ~0x20);
    out->region[1] = static_cast<char>(region[1] & ~0x20);
  } else if (region.size() == 3 &&
             region.find_first_not_of("0123456789") == std::string_view::npos) {
    std::memcpy(out->region, region.data(), 3);
  }
  return true;
}

constexpr int kMaxLanguages = 16;

// The languages the user asked for, in order: the entries of LANGUAGE, or
// else the one of the first set variable among LC_ALL, LC_MESSAGES, LANG.
int PreferredLanguages(Language (&out)[kMaxLanguages]) {
  int n = 0;
  const char *list = std::getenv("LANGUAGE");
  if (list && *list) {
    std::string_view rest(list);
    for (;;) {
      size_t colon = rest.find(':');
      if (n < kMaxLanguages && ParseLanguage(rest.substr(0, colon), &out[n])) ++n;
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
    if (n > 0) return n;
  }
  for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char *value = std::getenv(name);
    if (value && *value) return ParseLanguage(value, &out[0]) ? 1 : 0;
  }
  return 0;
}

const char *TraditionalName(const char *code) {
  static const struct {
    const char *code, *name;
  } kNames[] = {{"en", "English"}, {"de", "German"},  {"fr", "French"}, {"ja", "Japanese"},
                {"es", "Spanish"}, {"it", "Italian"}, {"nl", "Dutch"}};
  for (const auto &n : kNames)
    if (std::strcmp(n.code, code) == 0) return n.name;
  return nullptr;
}

// Whether Contents/Resources/<name> is a folder. A clear answer (there or
// not there) is remembered; a transient failure is not. Call with the cache
// lock held. Throws std::bad_alloc.
bool FolderExists(__CFBundle *b, std::string_view name) {
  for (const FolderState &f : b->folders)
    if (View(f.name) == name) return f.exists;
  String8 path = Join(Join(View(b->path), "Contents/Resources"), name);
  struct stat st;
  bool found = vp::sys::fstatat(AT_FDCWD, path.c_str(), &st, 0) == 0;
  bool exists = found && S_ISDIR(st.st_mode);
  if (found || errno == ENOENT || errno == ENOTDIR)
    b->folders.push_back(FolderState{String8(name.data(), name.size()), exists});
  return exists;
}

// The English folder: English.lproj, then en.lproj; empty when neither is
// there. Call with the cache lock held.
String8 EnglishFolder(__CFBundle *b) {
  for (const char *name : {"English.lproj", "en.lproj"})
    if (FolderExists(b, name)) return String8(name);
  return String8();
}

// The first folder of the user's languages that the bundle has; empty when
// it has none of them. Call with the cache lock held.
String8 PreferredFolder(__CFBundle *b) {
  Language languages[kMaxLanguages];
  int n = PreferredLanguages(languages);
  for (int i = 0; i < n; ++i) {
    const Language &l = languages[i];
    char name[32];
    if (l.region[0]) {
      std::snprintf(name, sizeof name, "%s_%s.lproj", l.code, l.region);
      if (FolderExists(b, name)) return String8(name);
    }
    std::snprintf(name, sizeof name, "%s.lproj", l.code);
    if (FolderExists(b, name)) return String8(name);
    if (const char *traditional = TraditionalName(l.code)) {
      std::snprintf(name, sizeof name, "%s.lproj", traditional);
      if (FolderExists(b, name)) return String8(name);
    }
  }
  return String8();
}

// Writes path bytes for people: control characters become '?'.
void PutPath(std::string_view path, FILE *f) {
  for (char c : path) {
    unsigned char u = static_cast<unsigned char>(c);
    putc_unlocked(u < 0x20 || u == 0x7f ? '?' : c, f);
  }
}

// One line on stderr about a table that is not used. Allocates nothing.
void ReportTable(std::string_view path, long line, const char *reason) {
  flockfile(stderr);
  fputs("vantlow: ", stderr);
  PutPath(path, stderr);
  if (line > 0) fprintf(stderr, ":%ld", line);
  fprintf(stderr, ": %s; the table is not used\n", reason);
  funlockfile(stderr);
}

// The text of key in <folder>/<table>.strings, lent (the table holds it);
// null when absent. Reads and parses the table the first time. Call with the
// cache lock held. Throws std::bad_alloc, and then nothing is cached.
CFStringRef FindText(__CFBundle *b, std::string_view folder, const String16 &table,
                     const String16 &key) {
  for (const CachedTable &t : b->tables)
    if (View(t.folder) == folder && t.table == table)
      return t.usable ? vp::FindInStringsTable(t.entries, key) : nullptr;

  String8 file = vp::EncodeFileName(table);
  file.append(".strings");
  String8 path = Join(Join(Join(View(b->path), "Contents/Resources"), folder), View(file));
  CachedTable made{String8(folder.data(), folder.size()), table, false, {}};
  String8 bytes;
  int err = vp::ReadSmallFile(path.c_str(), vp::kMaxStringsFileBytes, &bytes);
  const char *reason = nullptr;
  long line = 0;
  char errorText[128];
  if (err == 0) {
    vp::StringsFault fault;
    made.usable = vp::ParseStringsTable(View(bytes), &made.entries, &fault);
    if (!made.usable) {
      reason = fault.reason;
      line = fault.line;
    }
  } else if (err != ENOENT && err != ENOTDIR) {
    reason = vp::DescribeReadError(err, errorText, sizeof errorText);
  }
  // Remembered before it is reported, so the report comes once.
  b->tables.push_back(std::move(made));
  if (reason) ReportTable(View(path), line, reason);
  const CachedTable &t = b->tables.back();
  return t.usable ? vp::FindInStringsTable(t.entries, key) : nullptr;
}

// Contents/Linux/<CFBundleExecutable>.so, or false when the key is missing
// or does not name a plain file.
bool ExecutablePath(const __CFBundle *b, String8 *out) {
  const String16 *units = vp::Units(
      CFDictionaryGetValue(static_cast<CFDictionaryRef>(b->info.get()), kCFBundleExecutableKey));
  if (!units) return false;
  String8 name = vp::EncodeFileName(*units);
  if (!IsPlainName(View(name))) return false;
  name.append(".so");
  *out = Join(Join(View(b->path), "Contents/Linux"), View(name));
  return true;
}

CFStringRef NewMessage(std::string_view a, std::string_view b = {}) {
  String8 text(a.data(), a.size());
  text.append(b.data(), b.size());
  return vp::NewString(vp::DecodeFileName(View(text)));
}

void SetError(CFStringRef *error, CFStringRef message) {
  if (error)
    *error = message;
  else if (message)
    CFRelease(message);
}

// Reads and checks the bundle at path (a folder, dev/ino given); null with
// *reason (a new string) when it is not a usable bundle.
__CFBundle *ReadBundle(CFURLRef url, const String8 &path, const struct stat &st,
                       CFStringRef *reason) {
  String8 bytes;
  String8 infoPath = Join(View(path), "Contents/Info.plist");
  int err = vp::ReadSmallFile(infoPath.c_str(), kMaxInfoPlistBytes, &bytes);
  if (err == ENOENT || err == ENOTDIR) {
    *reason = NewMessage("Contents/Info.plist is missing");
    return nullptr;
  }
  if (err != 0) {
    char buf[128];
    *reason = NewMessage("Contents/Info.plist cannot be read: ",
                         vp::DescribeReadError(err, buf, sizeof buf));
    return nullptr;
  }
  Ref<> data(CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(bytes.data()),
                          static_cast<CFIndex>(bytes.size())));
  if (!data) throw std::bad_alloc();
  CFErrorRef parseError = nullptr;
  Ref<> plist(CFPropertyListCreateWithData(nullptr, static_cast<CFDataRef>(data.get()),
                                           kCFPropertyListImmutable, nullptr, &parseError));
  Ref<> parseErrorHolder(parseError);
  if (!plist) {
    Ref<> description(parseError ? CFErrorCopyDescription(parseError) : nullptr);
    const String16 *units = vp::Units(description.get());
    String8 detail = units ? vp::ToUTF8Lossy(*units) : String8("unknown fault");
    *reason = NewMessage("Contents/Info.plist is not a valid property list: ", View(detail));
    return nullptr;
  }
  if (CFGetTypeID(plist.get()) != vp::kTypeIDDictionary) {
    *reason = NewMessage("Contents/Info.plist does not hold a dictionary");
    return nullptr;
  }
  CFDictionaryRef info = static_cast<CFDictionaryRef>(plist.get());
  CFStringRef identifier =
      static_cast<CFStringRef>(CFDictionaryGetValue(info, kCFBundleIdentifierKey));
  const String16 *idUnits = vp::Units(identifier);
  if (!idUnits || idUnits->empty()) {
    *reason = NewMessage("Contents/Info.plist has no CFBundleIdentifier string");
    return nullptr;
  }
  __CFBundle *b = new __CFBundle();
  Ref<__CFBundle> guard(b);
  b->path = path;
  b->url = Ref<>::Retain(url);
  b->identifier = identifier;
  b->info = std::move(plist);
  b->dev = st.st_dev;
  b->ino = st.st_ino;
  return const_cast<__CFBundle *>(guard.release());
}

__CFBundle *MutableBundle(CFTypeRef cf) {
  return vp::CastMutable<__CFBundle>(cf);
}

// Whether the registered bundle is the folder st describes. The same device
// and inode are not enough on their own: once a folder is deleted its inode
// may be given to a new one, so the bundle's own path must still lead to
// that folder too.
bool IsSameFolder(const __CFBundle *b, const struct stat &st) {
  if (b->dev != st.st_dev || b->ino != st.st_ino) return false;
  struct stat now;
  return vp::sys::fstatat(AT_FDCWD, b->path.c_str(), &now, 0) == 0 && now.st_dev == st.st_dev &&
         now.st_ino == st.st_ino;
}

} // namespace

namespace vp {

CFURLRef CopyBundleResourceURL(CFBundleRef bundle, CFStringRef resourceName,
                               CFStringRef resourceType, CFStringRef subDirName) {
  __CFBundle *b = MutableBundle(bundle);
  const String16 *name = vp::Units(resourceName);
  if (!b || !name) return nullptr;
  String8 file = vp::EncodeFileName(*name);
  if (const String16 *type = vp::Units(resourceType)) {
    String8 ext = vp::EncodeFileName(*type);
    if (!ext.empty() && ext.front() == '.') ext.erase(0, 1);
    if (ext.find('/') != String8::npos) return nullptr;
    if (!ext.empty()) {
      file.push_back('.');
      file += ext;
    }
  }
  if (!IsPlainName(View(file))) return nullptr;
  String8 sub;
  if (const String16 *s = vp::Units(subDirName)) sub = vp::EncodeFileName(*s);
  if (!IsInsidePath(View(sub))) return nullptr;
  String8 relative = sub.empty() ? file : Join(View(sub), View(file));

  String8 preferred, english;
  {
    std::lock_guard<std::mutex> lock(b->cacheMutex);
    preferred = PreferredFolder(b);
    english = EnglishFolder(b);
  }
  String8 resources = Join(View(b->path), "Contents/Resources");
  String8 candidates[3];
  int n = 0;
  if (!preferred.empty())
    candidates[n++] = Join(Join(View(resources), View(preferred)), View(relative));
  if (!english.empty() && english != preferred)
    candidates[n++] = Join(Join(View(resources), View(english)), View(relative));
  candidates[n++] = Join(View(resources), View(relative));
  for (int i = 0; i < n; ++i) {
    struct stat st;
    if (vp::sys::fstatat(AT_FDCWD, candidates[i].c_str(), &st, 0) == 0)
      return vp::NewURLWithPath(View(candidates[i]), S_ISDIR(st.st_mode));
  }
  return nullptr;
}

} // namespace vp

extern "C" {

const CFStringRef kCFBundleIdentifierKey = MakeImmortalKey(u"CFBundleIdentifier");
const CFStringRef kCFBundleExecutableKey = MakeImmortalKey(u"CFBundleExecutable");

CFTypeID CFBundleGetTypeID(void) noexcept {
  return vp::kTypeIDBundle;
}

CFBundleRef VPBundleCreate(CFURLRef bundleURL, CFStringRef *error) noexcept {
  if (error) *error = nullptr;
  const String8 *path = vp::URLPath(bundleURL);
  return vp::Edge<CFBundleRef>(nullptr, [&]() -> CFBundleRef {
    if (!path) {
      SetError(error, NewMessage("not a file URL"));
      return nullptr;
    }
    struct stat st;
    if (vp::sys::fstatat(AT_FDCWD, path->c_str(), &st, 0) != 0) {
      char buf[128];
      SetError(error, NewMessage(strerror_r(errno, buf, sizeof buf)));
      return nullptr;
    }
    if (!S_ISDIR(st.st_mode)) {
      SetError(error, NewMessage("not a folder"));
      return nullptr;
    }

    Registry &r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (__CFBundle *b : r.bundles) {
      if (IsSameFolder(b, st)) {
        CFRetain(b);
        return b;
      }
    }
    CFStringRef reason = nullptr;
    __CFBundle *made = ReadBundle(bundleURL, *path, st, &reason);
    if (!made) {
      SetError(error, reason);
      return nullptr;
    }
    Ref<__CFBundle> guard(made);
    vp::RegisterPlugInFactories(
        made, static_cast<CFDictionaryRef>(CFDictionaryGetValue(
                  static_cast<CFDictionaryRef>(made->info.get()), CFSTR("CFPlugInFactories"))));
    // The room comes after the factories, so that a failure of either leaves
    // nothing behind (room made first would stay with the registry).
    try {
      r.bundles.reserve(r.bundles.size() + 1);
    } catch (...) {
      vp::UnregisterPlugInFactories(made);
      throw;
    }
    // Nothing below can fail: the registry takes its own reference and the
    // caller gets the one made with the bundle.
    CFRetain(made);
    r.bundles.push_back(made);
    return const_cast<__CFBundle *>(guard.release());
  });
}

CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef bundleURL) noexcept {
  return VPBundleCreate(bundleURL, nullptr);
}

CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID) noexcept {
  if (!vp::Units(bundleID)) return nullptr;
  Registry &r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (__CFBundle *b : r.bundles)
    if (CFEqual(b->identifier, bundleID)) return b;
  return nullptr;
}

CFStringRef CFBundleGetIdentifier(CFBundleRef bundle) noexcept {
  const __CFBundle *b = vp::Cast<__CFBundle>(bundle);
  return b ? b->identifier : nullptr;
}

CFDictionaryRef CFBundleGetInfoDictionary(CFBundleRef bundle) noexcept {
  const __CFBundle *b = vp::Cast<__CFBundle>(bundle);
  return b ? static_cast<CFDictionaryRef>(b->info.get()) : nullptr;
}

CFTypeRef CFBundleGetValueForInfoDictionaryKey(CFBundleRef bundle, CFStringRef key) noexcept {
  const __CFBundle *b = vp::Cast<__CFBundle>(bundle);
  if (!b || !key) return nullptr;
  return CFDictionaryGetValue(static_cast<CFDictionaryRef>(b->info.get()), key);
}

CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle) noexcept {
  const __CFBundle *b = vp::Cast<__CFBundle>(bundle);
  return b ? static_cast<CFURLRef>(CFRetain(b->url.get())) : nullptr;
}

CFURLRef CFBundleCopyExecutableURL(CFBundleRef bundle) noexcept {
  const __CFBundle *b = vp::Cast<__CFBundle>(bundle);
  if (!b) return nullptr;
  return vp::Edge<CFURLRef>(nullptr, [&]() -> CFURLRef {
    String8 path;
    if (!ExecutablePath(b, &path)) return nullptr;
    return vp::NewURLWithPath(View(path), false);
  });
}

CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName,
                                 CFStringRef resourceType, CFStringRef subDirName) noexcept {
  return vp::Edge<CFURLRef>(nullptr, [&] {
    return vp::CopyBundleResourceURL(bundle, resourceName, resourceType, subDirName);
  });
}

CFStringRef CFBundleCopyLocalizedString(CFBundleRef bundle, CFStringRef key, CFStringRef value,
                                        CFStringRef tableName) noexcept {
  __CFBundle *b = MutableBundle(bundle);
  const String16 *keyUnits = vp::Units(key);
  return vp::Edge<CFStringRef>(nullptr, [&]() -> CFStringRef {
    if (b && keyUnits) {
      String16 table(u"Localizable");
      if (const String16 *t = vp::Units(tableName); t && !t->empty()) table = *t;
      String8 tableBytes = vp::EncodeFileName(table);
      if (IsPlainName(View(tableBytes))) {
        std::lock_guard<std::mutex> lock(b->cacheMutex);
        String8 preferred = PreferredFolder(b);
        String8 english = EnglishFolder(b);
        CFStringRef text = nullptr;
        if (!preferred.empty()) text = FindText(b, View(preferred), table, *keyUnits);
        if (!text && !english.empty() && english != preferred)
          text = FindText(b, View(english), table, *keyUnits);
        if (text) return static_cast<CFStringRef>(CFRetain(text));
      }
    }
    if (vp::Units(value)) return CFStringCreateCopy(nullptr, value);
    if (keyUnits) return CFStringCreateCopy(nullptr, key);
    return static_cast<CFStringRef>(CFRetain(CFSTR("")));
  });
}

CFStringRef VPBundleCopyPreferredLocalization(CFBundleRef bundle) noexcept {
  __CFBundle *b = MutableBundle(bundle);
  if (!b) return nullptr;
  return vp::Edge<CFStringRef>(nullptr, [&]() -> CFStringRef {
    String8 folder;
    {
      std::lock_guard<std::mutex> lock(b->cacheMutex);
      folder = PreferredFolder(b);
      if (folder.empty()) folder = EnglishFolder(b);
    }
    if (folder.empty()) return nullptr;
    folder.resize(folder.size() - (sizeof ".lproj" - 1));
    return vp::NewString(vp::DecodeFileName(View(folder)));
  });
}

Boolean VPBundleLoadExecutable(CFBundleRef bundle, CFStringRef *error) noexcept {
  if (error) *error = nullptr;
  __CFBundle *b = MutableBundle(bundle);
  return vp::Edge<Boolean>(false, [&]() -> Boolean {
    if (!b) {
      SetError(error, NewMessage("not a bundle"));
      return false;
    }
    std::lock_guard<std::recursive_mutex> lock(b->loadMutex);
    if (b->handle.load()) return true;
    String8 path;
    if (!ExecutablePath(b, &path)) {
      SetError(error, NewMessage("Info.plist has no CFBundleExecutable naming a file"));
      return false;
    }
    struct stat st;
    if (vp::sys::fstatat(AT_FDCWD, path.c_str(), &st, 0) != 0) {
      char buf[128];
      String8 what = path.substr(b->path.size() + 1);
      what.append(": ");
      SetError(error, NewMessage(View(what), strerror_r(errno, buf, sizeof buf)));
      return false;
    }
    dlerror();
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char *why = dlerror();
      SetError(error, NewMessage(why ? why : "the executable could not be loaded"));
      return false;
    }
    b->handle.store(handle);
    return true;
  });
}

Boolean CFBundleIsExecutableLoaded(CFBundleRef bundle) noexcept {
  const __CFBundle *b = vp::Cast<__CFBundle>(bundle);
  return b && b->handle.load() != nullptr;
}

void *CFBundleGetFunctionPointerForName(CFBundleRef bundle, CFStringRef functionName) noexcept {
  __CFBundle *b = MutableBundle(bundle);
  const String16 *name = vp::Units(functionName);
  if (!b || !name) return nullptr;
  if (!b->handle.load() && !VPBundleLoadExecutable(bundle, nullptr)) return nullptr;
  return vp::Edge<void *>(nullptr, [&]() -> void * {
    String8 symbol = vp::EncodeFileName(*name);
    if (symbol.empty() || symbol.find('\0') != String8::npos) return nullptr;
    return dlsym(b->handle.load(), symbol.c_str());
  });
}

void VPBundleForgetCaches(CFBundleRef bundle) noexcept {
  __CFBundle *b = MutableBundle(bundle);
  if (!b) return;
  vp::Vector<FolderState> folders;
  vp::Vector<CachedTable> tables;
  {
    std::lock_guard<std::mutex> lock(b->cacheMutex);
    folders.swap(b->folders);
    tables.swap(b->tables);
  }
}

} // extern "C"
