// The `vantlow` command (see app.h): plays the Contextual Menu Manager for a
// selection given as paths. It loads every plug-in on the search path, asks
// each one to add its commands for the selection, turns the command list
// into menus, opens the submenus as a user would, and shows the menu, as
// text, as JSON, or on the terminal for the user to pick from; a choice is
// handed to the plug-in that made the item, and the text it copied goes to
// standard output and the desktop clipboard.
#include "app.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <Carbon/Carbon.h>

#include "cli_options.h"
#include "clipboard.h"
#include "desktop_menu.h"
#include "display_text.h"
#include "exit_status.h"
#include "interactive.h"
#include "loader.h"
#include "menu_choice.h"
#include "menu_model.h"
#include "output.h"
#include "terminal.h"

namespace vantlow::host {
namespace {

namespace fs = std::filesystem;

// One line on standard error, after the program's name.
void Say(const std::string &line) {
  std::cerr << "vantlow: " << line << std::endl;
}

// The program's own standard output. Take() keeps the original standard
// output on a descriptor of its own and points descriptor 1 at standard
// error, where the plug-ins' printf lines then go; nothing a plug-in prints
// can end up in the menu or the JSON.
class Output {
public:
  Output() = default;
  ~Output() {
    if (fd_ > 2) close(fd_);
  }
  Output(const Output &) = delete;
  Output &operator=(const Output &) = delete;

  void Take() {
    std::fflush(stdout);
    fd_ = fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (dup2(2, 1) < 0 && fd_ >= 0) {
      // Descriptor 1 still is standard output: keep using it as it is.
      close(fd_);
      fd_ = 1;
    }
  }
  int fd() const { return fd_; }
  // False when standard output cannot take the text.
  bool Write(const std::string &text) const {
    if (fd_ < 0) {
      errno = EBADF;
      return false;
    }
    size_t done = 0;
    while (done < text.size()) {
      ssize_t n = write(fd_, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      done += static_cast<size_t>(n);
    }
    return true;
  }

private:
  int fd_ = -1;
};

// Why a path was left out of the selection.
std::string LeftOutReason(OSStatus error) {
  switch (error) {
  case fnfErr:
  case dirNFErr:
    return "No such file or directory";
  case afpAccessDenied:
  case permErr:
    return "Permission denied";
  case bdNamErr:
    return "not a valid file name";
  default:
    return "cannot be looked at (error " + std::to_string(error) + ")";
  }
}

// The absolute path of an item named by path as the selection takes it:
// the folders on the way resolved, the last name kept as it is (a symbolic
// link is an item of its own). "." and ".." and "/" are resolved whole.
std::string AbsolutePath(const std::string &path) {
  std::string full = path;
  if (full.empty() || full[0] != '/') {
    std::error_code ec;
    fs::path cwd = fs::current_path(ec);
    full = (ec ? std::string(".") : cwd.string()) + "/" + full;
  }
  while (full.size() > 1 && full.back() == '/')
    full.pop_back();
  size_t slash = full.rfind('/');
  std::string last = full.substr(slash + 1);
  std::string parent = slash == 0 ? "/" : full.substr(0, slash);
  auto resolved = [](const std::string &p) -> std::optional<std::string> {
    std::unique_ptr<char, decltype(&std::free)> real(realpath(p.c_str(), nullptr), &std::free);
    if (!real) return std::nullopt;
    return std::string(real.get());
  };
  if (last.empty() || last == "." || last == "..") {
    if (auto whole = resolved(full)) return *whole;
    return fs::path(full).lexically_normal().string();
  }
  std::string base = resolved(parent).value_or(fs::path(parent).lexically_normal().string());
  return base == "/" ? "/" + last : base + "/" + last;
}

std::string FolderList(const std::vector<fs::path> &folders) {
  std::string list;
  for (const fs::path &folder : folders)
    list += (list.empty() ? "" : ", ") + PrintableText(folder.string());
  return list;
}

// One run of the program, once the command line is understood.
class Run {
public:
  Run(const Options &options, Output &output) : options_(options), output_(output) {}
  int Execute();

private:
  int LoadAndExamine();
  int Choose(const ItemPath &path);
  int Finish(int status);
  void Print(const std::string &text, int *status);

  const Options &options_;
  Output &output_;
  std::unique_ptr<Tty> tty_;
  std::vector<LoadedPlugin> plugins_;
  std::vector<size_t> owners_; // the plug-in that added each top-level item
  AEDescHolder context_;
  AEDescHolder commandList_;
  MenuHolder menu_;
  RunReport report_;
};

int Run::Execute() {
  tty_ = Tty::Open();
  if (options_.interactive && !tty_) {
    Say("--interactive needs a terminal, and there is none");
    return kExitUsage;
  }
  for (const fs::path &folder : options_.pluginFolders) {
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
      Say("--plugins " + PrintableText(folder.string()) + ": " +
          (ec ? ec.message() : std::string("not a folder")));
      return kExitUsage;
    }
  }

  // The selection.
  std::vector<std::string> paths = options_.paths;
  if (paths.empty()) paths.push_back(".");
  std::vector<LeftOutPath> leftOut;
  OSStatus err = MakeContext(paths, &context_, &leftOut);
  if (err != noErr) {
    Say("the selection could not be made (error " + std::to_string(err) + ")");
    return kExitFailed;
  }
  for (const LeftOutPath &left : leftOut)
    Say(PrintableText(left.path) + ": " + LeftOutReason(left.error));
  for (const std::string &path : paths) {
    bool left = false;
    for (const LeftOutPath &l : leftOut)
      left = left || l.path == path;
    if (!left) report_.selection.push_back(AbsolutePath(path));
  }
  if (report_.selection.empty()) {
    Say("no PATH left to look at");
    return kExitUsage;
  }

  int status = LoadAndExamine();
  if (status != kExitSuccess && status != kExitFailed) return Finish(status);
  if (report_.menu.empty()) {
    Say("no plug-in added anything to the menu");
    status = kExitFailed;
    if (options_.json) Print(ReportJson(report_), &status);
    return Finish(status);
  }

  std::optional<ItemPath> chosen;
  if (options_.choose) {
    ItemPath path;
    std::string problem;
    if (!FindItem(report_.menu, *options_.choose, &path, &problem)) {
      Say(problem);
      return Finish(kExitUsage);
    }
    chosen = path;
  } else if (options_.interactive) {
    ItemPath path;
    switch (PickMenuItem(*tty_, report_.menu, &path)) {
    case PickResult::kChosen:
      chosen = path;
      break;
    case PickResult::kDismissed:
      break;
    case PickResult::kInterrupted:
      return Finish(kExitInterrupted);
    case PickResult::kFailed:
      Say("the terminal could not show the menu");
      return Finish(kExitFailed);
    }
  }
  if (chosen) {
    int choiceStatus = Choose(*chosen);
    if (choiceStatus != kExitSuccess) status = choiceStatus;
  }

  if (options_.json) {
    Print(ReportJson(report_), &status);
  } else if (!options_.choose && !options_.interactive) {
    Print(MenuText(report_.menu, TextStyleFor(output_.fd())), &status);
  }
  return Finish(status);
}

// Loads the plug-ins, asks each for its commands, and reads the menu the
// user would see into report_.menu. kExitFailed when a plug-in call failed
// (the menu holds what the others added), kExitUsage when no plug-in was
// found.
int Run::LoadAndExamine() {
  const std::vector<fs::path> folders = CommandSearchPath(options_.pluginFolders);
  PluginLoader loader(std::cerr);
  plugins_ = loader.LoadAll(folders);
  if (plugins_.empty()) {
    Say("no plug-in found (searched: " + FolderList(folders) + ")");
    return kExitUsage;
  }

  int status = kExitSuccess;
  OSStatus err = MakeCommandList(&commandList_);
  if (err != noErr) {
    Say("the command list could not be made (error " + std::to_string(err) + ")");
    return kExitFailed;
  }
  for (size_t i = 0; i < plugins_.size(); ++i) {
    long before = 0, after = 0;
    AECountItems(commandList_.get(), &before);
    OSStatus examined;
    {
      PluginCall call(tty_.get(), true);
      examined = plugins_[i].ExamineContext(context_.get(), commandList_.get());
    }
    AECountItems(commandList_.get(), &after);
    owners_.insert(owners_.end(), static_cast<size_t>(std::max(0L, after - before)), i);
    report_.plugins.push_back({plugins_[i].identifier(), examined});
    if (examined != noErr) status = kExitFailed;
  }

  std::string problem;
  if (options_.closed) {
    err = ReadCommandList(*commandList_.get(), &report_.menu, &problem);
  } else {
    err = BuildMenu(*commandList_.get(), &menu_, &problem);
    if (err == noErr) {
      PluginCall call(tty_.get(), true);
      err = OpenAllSubmenus(menu_.get());
    }
    if (err == noErr) err = ReadMenu(menu_.get(), &report_.menu);
  }
  if (err != noErr) {
    Say("the menu could not be made" + (problem.empty() ? "" : ": " + problem) + " (error " +
        std::to_string(err) + ")");
    report_.menu.clear();
    return kExitFailed;
  }
  return status;
}

// Hands the chosen item to the plug-in that added it, and shows and copies
// what it put on the scrap.
int Run::Choose(const ItemPath &path) {
  const MenuItem &item = ItemAt(report_.menu, path);
  const size_t owner = path.front() < owners_.size() ? owners_[path.front()] : 0;
  ChosenReport chosen;
  chosen.command = static_cast<SInt32>(item.command);

  // The scrap is cleared first so that what is on it afterwards is what
  // this choice put there, and nothing older is shown as copied.
  OSStatus cleared = ClearCurrentScrap();
  if (cleared != noErr)
    Say("the scrap could not be cleared (error " + std::to_string(cleared) +
        "); what it shows may be older than this choice");
  {
    PluginCall call(tty_.get(), false);
    chosen.status = plugins_[owner].HandleSelection(context_.get(), chosen.command);
  }
  ScrapText scrap;
  OSStatus read = ReadScrap(&scrap);
  if (read != noErr)
    Say("the scrap could not be read (error " + std::to_string(read) + ")");
  else
    chosen.copied = ScrapToUtf8(scrap);
  report_.chosen = chosen;

  int status = kExitSuccess;
  if (chosen.status == kVPModalNoEventSourceErr) {
    Say("'" + PrintableText(item.text) +
        "' needs a terminal to show its window, and there is none");
    status = kExitUsage;
  } else if (chosen.status != noErr) {
    status = kExitFailed; // the plug-in's log line says why
  }
  if (!chosen.copied) return status;

  if (!options_.json) Print(CopiedText(*chosen.copied), &status);
  if (options_.noClipboard || chosen.status != noErr) return status;
  ClipboardResult copy = CopyToClipboard(UnixLineEnds(*chosen.copied),
                                         ClipboardSettings::FromEnvironment(output_.fd()));
  Say(copy.Describe());
  return status;
}

// Writes text on the program's standard output; when that fails (a full
// disk, a closed descriptor) the user hears of it and the run fails.
void Run::Print(const std::string &text, int *status) {
  if (output_.Write(text)) return;
  Say(std::string("cannot write to standard output: ") + std::strerror(errno));
  if (*status == kExitSuccess) *status = kExitFailed;
}

// Closes the menu: the menus go, every plug-in that was asked hears
// PostMenuCleanup, and the plug-ins are released.
int Run::Finish(int status) {
  menu_.reset();
  for (const LoadedPlugin &plugin : plugins_) {
    PluginCall call(tty_.get(), false);
    plugin.PostMenuCleanup();
  }
  plugins_.clear();
  return status;
}

} // namespace

int RunVantlow(int argc, char **argv) {
  std::setlocale(LC_ALL, "");
  const CommandLine line = ParseCommandLine(argc, argv);
  switch (line.action) {
  case CommandLine::Action::kUsageError:
    Say(line.error);
    std::cerr << "Try 'vantlow --help' for more information." << std::endl;
    return kExitUsage;
  case CommandLine::Action::kHelp:
    std::cout << HelpText() << std::flush;
    return kExitSuccess;
  case CommandLine::Action::kVersion:
    std::cout << VersionText() << std::flush;
    return kExitSuccess;
  case CommandLine::Action::kRun:
    break;
  }
  if (line.options.desktopMenu) {
    if (DesktopMenuFunction desktopMenu = DesktopMenu()) return desktopMenu(line.options);
    Say("this build has no desktop menu (--menu: built only with GTK 3); use --interactive in a "
        "terminal, or --choose ITEM");
    return kExitUsage;
  }

  Output output;
  output.Take();
  InstallSignalHandlers();
  Run run(line.options, output);
  return run.Execute();
}

} // namespace vantlow::host
