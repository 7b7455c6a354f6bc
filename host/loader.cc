// The host's plug-in loader (see loader.h). Bundles are read through the
// platform (VPBundleCreate registers them, VPBundleLoadExecutable dlopens
// them with RTLD_NOW | RTLD_LOCAL); the factory is found through the
// bundle's CFPlugInTypes and CFPlugInFactories, whose UUID strings are
// compared as UUIDs, so their case does not matter.
#include "loader.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <set>
#include <system_error>
#include <utility>

namespace vantlow::host {
namespace fs = std::filesystem;

namespace {

// One CoreFoundation reference, released when the holder goes.
struct CFReleaser {
  void operator()(const void *cf) const noexcept {
    if (cf) CFRelease(cf);
  }
};
template <class T> using CFHolder = std::unique_ptr<std::remove_pointer_t<T>, CFReleaser>;

// Text for a diagnostic line: UTF-8, with '?' for what is not text.
std::string ToText(CFStringRef str) {
  if (!str) return {};
  CFIndex length = CFStringGetLength(str);
  CFIndex needed = 0;
  CFStringGetBytes(str, CFRangeMake(0, length), kCFStringEncodingUTF8, '?', false, nullptr, 0,
                   &needed);
  std::string text(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
  CFIndex used = 0;
  if (needed > 0) {
    CFStringGetBytes(str, CFRangeMake(0, length), kCFStringEncodingUTF8, '?', false,
                     reinterpret_cast<UInt8 *>(text.data()), needed, &used);
  }
  text.resize(static_cast<size_t>(used > 0 && used <= needed ? used : 0));
  return text;
}

// The UUID a string in an Info.plist names, or null (Create rule).
CFUUIDRef UUIDFromPlistString(CFTypeRef value) {
  if (!value || CFGetTypeID(value) != CFStringGetTypeID()) return nullptr;
  return CFUUIDCreateFromString(nullptr, static_cast<CFStringRef>(value));
}

CFDictionaryRef DictionaryFor(CFBundleRef bundle, CFStringRef key) {
  CFTypeRef value = CFBundleGetValueForInfoDictionaryKey(bundle, key);
  if (!value || CFGetTypeID(value) != CFDictionaryGetTypeID()) return nullptr;
  return static_cast<CFDictionaryRef>(value);
}

// The entries of a dictionary as two parallel vectors (both lent).
void Entries(CFDictionaryRef dict, std::vector<const void *> *keys,
             std::vector<const void *> *values) {
  CFIndex count = CFDictionaryGetCount(dict);
  keys->assign(static_cast<size_t>(count > 0 ? count : 0), nullptr);
  values->assign(keys->size(), nullptr);
  if (count > 0) CFDictionaryGetKeysAndValues(dict, keys->data(), values->data());
}

// The name of the function that makes contextual-menu instances: the first
// factory that CFPlugInTypes lists for the type and CFPlugInFactories
// names. Empty, with the reason, when there is none.
std::string FindFactoryFunction(CFBundleRef bundle, std::string *reason) {
  CFDictionaryRef types = DictionaryFor(bundle, CFSTR("CFPlugInTypes"));
  CFDictionaryRef factories = DictionaryFor(bundle, CFSTR("CFPlugInFactories"));
  std::vector<const void *> keys, values;
  CFArrayRef listed = nullptr;
  if (types) {
    Entries(types, &keys, &values);
    for (size_t i = 0; i < keys.size() && !listed; ++i) {
      CFHolder<CFUUIDRef> type(UUIDFromPlistString(keys[i]));
      if (type && CFEqual(type.get(), kContextualMenuTypeID) && values[i] &&
          CFGetTypeID(values[i]) == CFArrayGetTypeID())
        listed = static_cast<CFArrayRef>(values[i]);
    }
  }
  CFIndex listedCount = listed ? CFArrayGetCount(listed) : 0;
  if (listedCount <= 0) {
    *reason = "its Info.plist declares no factory for the contextual-menu type in CFPlugInTypes";
    return {};
  }
  keys.clear();
  values.clear();
  if (factories) Entries(factories, &keys, &values);
  std::string firstMissing;
  for (CFIndex n = 0; n < listedCount; ++n) {
    CFTypeRef listedID = CFArrayGetValueAtIndex(listed, n);
    CFHolder<CFUUIDRef> factory(UUIDFromPlistString(listedID));
    if (!factory) continue;
    for (size_t i = 0; i < keys.size(); ++i) {
      CFHolder<CFUUIDRef> declared(UUIDFromPlistString(keys[i]));
      if (declared && CFEqual(declared.get(), factory.get()) && values[i] &&
          CFGetTypeID(values[i]) == CFStringGetTypeID()) {
        std::string name = ToText(static_cast<CFStringRef>(values[i]));
        if (!name.empty()) return name;
      }
    }
    if (firstMissing.empty()) firstMissing = ToText(static_cast<CFStringRef>(listedID));
  }
  *reason = firstMissing.empty()
                ? "no factory listed for the contextual-menu type in CFPlugInTypes is a UUID"
                : "factory " + firstMissing + " has no function name in CFPlugInFactories";
  return {};
}

std::string BundleErrorText(CFStringRef error, const char *fallback) {
  std::string text = ToText(error);
  return text.empty() ? fallback : text;
}

} // namespace

// ---- Search path ----

SearchPathSettings SearchPathSettings::FromEnvironment(fs::path installPluginFolder,
                                                       fs::path buildPluginFolder) {
  SearchPathSettings settings;
  auto get = [](const char *name) {
    const char *value = std::getenv(name);
    return std::string(value ? value : "");
  };
  settings.pluginPathVariable = get("VANTLOW_PLUGIN_PATH");
  settings.xdgDataHome = get("XDG_DATA_HOME");
  settings.home = get("HOME");
  settings.installPluginFolder = std::move(installPluginFolder);
  settings.buildPluginFolder = std::move(buildPluginFolder);
  return settings;
}

SearchPathSettings SearchPathSettings::Defaults() {
  fs::path buildFolder;
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec && IsInsideFolder(exe, VANTLOW_BUILD_DIR)) buildFolder = VANTLOW_BUILD_PLUGIN_DIR;
  return FromEnvironment(VANTLOW_INSTALL_PLUGIN_DIR, buildFolder);
}

bool IsInsideFolder(const fs::path &path, const fs::path &folder) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(path, ec), ec);
  if (ec) return false;
  fs::path f = fs::weakly_canonical(fs::absolute(folder, ec), ec);
  if (ec) return false;
  auto [folderEnd, pathAt] = std::mismatch(f.begin(), f.end(), p.begin(), p.end());
  (void)pathAt;
  // A trailing separator leaves an empty last element.
  return folderEnd == f.end() || (std::next(folderEnd) == f.end() && folderEnd->empty());
}

std::vector<fs::path> PluginSearchPath(const SearchPathSettings &settings) {
  std::vector<fs::path> folders;
  std::set<fs::path> seen;
  auto add = [&](const fs::path &folder) {
    if (folder.empty()) return;
    std::error_code ec;
    fs::path key = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    if (ec) key = folder;
    key = key.lexically_normal();
    if (!key.has_filename() && key.has_relative_path()) key = key.parent_path(); // "dir/"
    if (seen.insert(key).second) folders.push_back(folder);
  };
  for (const fs::path &folder : settings.firstFolders)
    add(folder);
  size_t start = 0;
  const std::string &list = settings.pluginPathVariable;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    add(list.substr(start, end - start));
    start = end + 1;
  }
  if (!settings.xdgDataHome.empty() && fs::path(settings.xdgDataHome).is_absolute()) {
    add(fs::path(settings.xdgDataHome) / "vantlow" / "plugins");
  } else if (!settings.home.empty()) {
    add(fs::path(settings.home) / ".local" / "share" / "vantlow" / "plugins");
  }
  add(settings.installPluginFolder);
  add(settings.buildPluginFolder);
  return folders;
}

std::vector<fs::path> CommandSearchPath(const std::vector<fs::path> &firstFolders) {
  SearchPathSettings settings = SearchPathSettings::Defaults();
  settings.firstFolders = firstFolders;
  if (settings.buildPluginFolder.empty()) {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) settings.installPluginFolder = exe.parent_path().parent_path() / "lib/vantlow/plugins";
  }
  return PluginSearchPath(settings);
}

// ---- LoadedPlugin ----

LoadedPlugin::LoadedPlugin(fs::path bundlePath, std::string identifier, CFBundleRef bundle,
                           ContextualMenuInterfaceStruct **interface) noexcept
    : bundlePath_(std::move(bundlePath)), identifier_(std::move(identifier)), bundle_(bundle),
      interface_(interface) {}

LoadedPlugin::LoadedPlugin(LoadedPlugin &&other) noexcept
    : bundlePath_(std::move(other.bundlePath_)), identifier_(std::move(other.identifier_)),
      bundle_(std::exchange(other.bundle_, nullptr)),
      interface_(std::exchange(other.interface_, nullptr)) {}

LoadedPlugin &LoadedPlugin::operator=(LoadedPlugin &&other) noexcept {
  if (this != &other) {
    Reset();
    bundlePath_ = std::move(other.bundlePath_);
    identifier_ = std::move(other.identifier_);
    bundle_ = std::exchange(other.bundle_, nullptr);
    interface_ = std::exchange(other.interface_, nullptr);
  }
  return *this;
}

LoadedPlugin::~LoadedPlugin() {
  Reset();
}

void LoadedPlugin::Reset() noexcept {
  if (interface_) {
    (*interface_)->Release(interface_);
    std::fflush(stdout);
    interface_ = nullptr;
  }
  // The executable stays loaded: the platform never unloads a bundle.
  if (bundle_) {
    CFRelease(bundle_);
    bundle_ = nullptr;
  }
}

OSStatus LoadedPlugin::ExamineContext(const AEDesc *context, AEDescList *commandList) const {
  VPCancelLatchClear();
  OSStatus status = (*interface_)->ExamineContext(interface_, context, commandList);
  std::fflush(stdout);
  return status;
}

OSStatus LoadedPlugin::HandleSelection(AEDesc *context, SInt32 commandID) const {
  VPCancelLatchClear();
  OSStatus status = (*interface_)->HandleSelection(interface_, context, commandID);
  std::fflush(stdout);
  return status;
}

void LoadedPlugin::PostMenuCleanup() const {
  (*interface_)->PostMenuCleanup(interface_);
  std::fflush(stdout);
}

// ---- PluginLoader ----

PluginLoader::PluginLoader(std::ostream &diagnostics) : diagnostics_(diagnostics) {}

void PluginLoader::Skip(const fs::path &what, const std::string &reason) {
  diagnostics_ << "vantlow: skipping plug-in " << what.string() << ": " << reason << std::endl;
}

std::optional<LoadedPlugin> PluginLoader::Load(const fs::path &bundlePath, std::string *reason) {
  return LoadUnlessLoaded(bundlePath, reason, {});
}

std::optional<LoadedPlugin>
PluginLoader::LoadUnlessLoaded(const fs::path &bundlePath, std::string *reason,
                               const std::vector<LoadedPlugin> &loaded) {
  std::string ignored;
  if (!reason) reason = &ignored;
  std::error_code ec;
  if (!fs::is_directory(bundlePath, ec)) {
    *reason = ec && ec != std::errc::no_such_file_or_directory
                  ? "cannot be read: " + ec.message()
                  : (fs::exists(bundlePath, ec) ? "not a bundle folder" : "does not exist");
    return std::nullopt;
  }

  const std::string bytes = bundlePath.string();
  CFHolder<CFURLRef> url(CFURLCreateFromFileSystemRepresentation(
      nullptr, reinterpret_cast<const UInt8 *>(bytes.data()), static_cast<CFIndex>(bytes.size()),
      true));
  if (!url) {
    *reason = "out of memory";
    return std::nullopt;
  }
  CFStringRef createError = nullptr;
  CFHolder<CFBundleRef> bundle(VPBundleCreate(url.get(), &createError));
  CFHolder<CFStringRef> createErrorHolder(createError);
  if (!bundle) {
    *reason = BundleErrorText(createError, "cannot be read (out of memory)");
    return std::nullopt;
  }

  std::string identifier = ToText(CFBundleGetIdentifier(bundle.get()));
  for (const LoadedPlugin &earlier : loaded) {
    if (earlier.identifier() == identifier) {
      *reason =
          "identifier " + identifier + " is already loaded from " + earlier.bundlePath().string();
      return std::nullopt;
    }
  }

  std::string function = FindFactoryFunction(bundle.get(), reason);
  if (function.empty()) return std::nullopt;

  CFStringRef loadError = nullptr;
  Boolean executableLoaded = VPBundleLoadExecutable(bundle.get(), &loadError);
  CFHolder<CFStringRef> loadErrorHolder(loadError);
  if (!executableLoaded) {
    *reason = BundleErrorText(loadError, "its executable cannot be loaded (out of memory)");
    return std::nullopt;
  }

  CFHolder<CFStringRef> functionName(
      CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>(function.data()),
                              static_cast<CFIndex>(function.size()), kCFStringEncodingUTF8, false));
  if (!functionName) {
    *reason = "out of memory";
    return std::nullopt;
  }
  auto factory = reinterpret_cast<VPContextualMenuFactoryFunction>(
      CFBundleGetFunctionPointerForName(bundle.get(), functionName.get()));
  if (!factory) {
    *reason = "its executable has no factory function " + function;
    return std::nullopt;
  }

  auto **unknown = static_cast<IUnknownVTbl **>(factory(nullptr, kContextualMenuTypeID));
  std::fflush(stdout);
  if (!unknown || !*unknown || !(*unknown)->QueryInterface || !(*unknown)->Release) {
    *reason = "factory " + function + " made no instance";
    return std::nullopt;
  }
  void *interface = nullptr;
  HRESULT result = (*unknown)->QueryInterface(
      unknown, CFUUIDGetUUIDBytes(kContextualMenuInterfaceID), &interface);
  // The factory's own reference goes either way; on success the interface
  // holds the one QueryInterface added.
  (*unknown)->Release(unknown);
  std::fflush(stdout);
  if (result != S_OK || !interface) {
    *reason = "its instance does not offer the contextual-menu interface";
    return std::nullopt;
  }

  return LoadedPlugin(bundlePath, std::move(identifier), bundle.release(),
                      static_cast<ContextualMenuInterfaceStruct **>(interface));
}

std::vector<LoadedPlugin> PluginLoader::LoadAll(const std::vector<fs::path> &folders) {
  std::vector<LoadedPlugin> plugins;
  std::set<fs::path> seenBundles;
  for (const fs::path &folder : folders) {
    std::error_code ec;
    if (!fs::exists(folder, ec) && !ec) continue;
    std::vector<fs::path> bundles;
    fs::directory_iterator it(folder, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
      if (it->path().extension() == ".plugin") bundles.push_back(it->path());
    }
    if (ec) {
      diagnostics_ << "vantlow: cannot read plug-in folder " << folder.string() << ": "
                   << ec.message() << std::endl;
      continue;
    }
    std::sort(bundles.begin(), bundles.end());
    for (const fs::path &bundlePath : bundles) {
      fs::path key = fs::weakly_canonical(bundlePath, ec);
      if (ec) key = bundlePath;
      if (!seenBundles.insert(key).second) continue;
      std::string reason;
      std::optional<LoadedPlugin> plugin = LoadUnlessLoaded(bundlePath, &reason, plugins);
      if (plugin) {
        plugins.push_back(std::move(*plugin));
      } else {
        Skip(bundlePath, reason);
      }
    }
  }
  return plugins;
}

} // namespace vantlow::host
