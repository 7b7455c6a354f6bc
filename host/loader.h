// The host's plug-in loader: finds contextual-menu plug-in bundles on the
// search path, registers each with the platform's bundle registry, loads
// its executable, creates an instance through the factory its Info.plist
// names for the contextual-menu type, and keeps the instance's
// contextual-menu interface until the LoadedPlugin goes. A broken bundle is
// skipped with one line naming it and the reason; the others still load.
// Bundles are never unloaded, so no instance can outlive its code.
#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include <Carbon/Carbon.h>

namespace vantlow::host {

// What the search path is made from. FromEnvironment fills the three
// environment values; the two folders come from the build.
struct SearchPathSettings {
  std::vector<std::filesystem::path> firstFolders; // --plugins DIR: searched first
  std::string pluginPathVariable;                  // $VANTLOW_PLUGIN_PATH, a colon list
  std::string xdgDataHome;                         // $XDG_DATA_HOME
  std::string home;                                // $HOME
  std::filesystem::path installPluginFolder;       // <install prefix>/lib/vantlow/plugins
  std::filesystem::path buildPluginFolder;         // the build tree's bundles; empty: none

  // The environment's values with the given folders.
  static SearchPathSettings FromEnvironment(std::filesystem::path installPluginFolder,
                                            std::filesystem::path buildPluginFolder);
  // The environment's values with the folders this program was built for;
  // the build tree's folder only when the running executable lies inside
  // the build tree.
  static SearchPathSettings Defaults();
};

// The folders to search, in order: firstFolders; each non-empty entry of
// pluginPathVariable; $XDG_DATA_HOME/vantlow/plugins when XDG_DATA_HOME is
// an absolute path, else $HOME/.local/share/vantlow/plugins when HOME is
// set; the install folder; the build folder when given. A folder that
// appears twice is searched once, where it first appears.
std::vector<std::filesystem::path> PluginSearchPath(const SearchPathSettings &settings);

// The folders the `vantlow` command searches, in every mode: firstFolders
// (its --plugins DIRs) first, then the usual ones of Defaults(). A program
// not run from the build tree looks beside itself
// (<prefix>/bin/../lib/vantlow/plugins) instead of the install folder it
// was built for, so that the installed tree works wherever it was put.
std::vector<std::filesystem::path>
CommandSearchPath(const std::vector<std::filesystem::path> &firstFolders);

// True when path lies inside folder (both made absolute and normal first).
bool IsInsideFolder(const std::filesystem::path &path, const std::filesystem::path &folder);

// One plug-in instance, holding its contextual-menu interface (one
// reference, given back with Release when the object goes) and its bundle.
// Move-only.
class LoadedPlugin {
public:
  LoadedPlugin(LoadedPlugin &&other) noexcept;
  LoadedPlugin &operator=(LoadedPlugin &&other) noexcept;
  LoadedPlugin(const LoadedPlugin &) = delete;
  LoadedPlugin &operator=(const LoadedPlugin &) = delete;
  ~LoadedPlugin();

  const std::filesystem::path &bundlePath() const { return bundlePath_; }
  // CFBundleIdentifier of the bundle.
  const std::string &identifier() const { return identifier_; }
  // Lent while this object lives.
  CFBundleRef bundle() const { return bundle_; }
  ContextualMenuInterfaceStruct **interface() const { return interface_; }

  // The interface's entry points. Each clears the cancel latch before the
  // call (a key pressed earlier must not cancel this one) and flushes
  // standard output after it, where the plug-in's log lines go.
  OSStatus ExamineContext(const AEDesc *context, AEDescList *commandList) const;
  OSStatus HandleSelection(AEDesc *context, SInt32 commandID) const;
  void PostMenuCleanup() const;

private:
  friend class PluginLoader;
  LoadedPlugin(std::filesystem::path bundlePath, std::string identifier, CFBundleRef bundle,
               ContextualMenuInterfaceStruct **interface) noexcept;
  void Reset() noexcept;

  std::filesystem::path bundlePath_;
  std::string identifier_;
  CFBundleRef bundle_ = nullptr;                        // one reference, ours
  ContextualMenuInterfaceStruct **interface_ = nullptr; // one reference, ours
};

class PluginLoader {
public:
  // Lines about skipped bundles go to diagnostics ("vantlow: skipping
  // plug-in <path>: <reason>").
  explicit PluginLoader(std::ostream &diagnostics);

  // Every *.plugin in the folders, in search-path order and by name within
  // a folder. A folder that does not exist is passed over silently; one
  // that cannot be read, a broken bundle, and a bundle whose identifier was
  // already loaded from an earlier folder are each reported in one line and
  // skipped. The same bundle reached twice is loaded once.
  std::vector<LoadedPlugin> LoadAll(const std::vector<std::filesystem::path> &folders);

  // One bundle folder. On failure: nothing, with the reason in *reason
  // (nothing is reported).
  std::optional<LoadedPlugin> Load(const std::filesystem::path &bundlePath, std::string *reason);

private:
  // Load, refusing a bundle whose identifier one of `loaded` carries.
  std::optional<LoadedPlugin> LoadUnlessLoaded(const std::filesystem::path &bundlePath,
                                               std::string *reason,
                                               const std::vector<LoadedPlugin> &loaded);
  void Skip(const std::filesystem::path &what, const std::string &reason);
  std::ostream &diagnostics_;
};

} // namespace vantlow::host
