// The command line of `vantlow`: what the options and PATHs ask for, parsed
// with getopt_long (GNU rules: options and PATHs may be mixed, short flags
// combine as in -ih, long options may be abbreviated while the abbreviation
// is unambiguous, and `--` ends the options so that a PATH may begin with
// '-'). Parsing only reads the arguments; deciding what to do with them is
// the program's.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vantlow::host {

struct Options {
  bool json = false;                                // --json
  bool closed = false;                              // --closed
  bool interactive = false;                         // -i, --interactive
  bool desktopMenu = false;                         // --menu
  bool noClipboard = false;                         // --no-clipboard
  std::optional<std::string> choose;                // --choose ITEM
  std::vector<std::filesystem::path> pluginFolders; // --plugins DIR, in the order given
  std::vector<std::string> paths;                   // the PATHs, as given
};

struct CommandLine {
  enum class Action {
    kRun,     // do the work the options describe
    kHelp,    // -h, --help: print HelpText() and succeed
    kVersion, // --version: print VersionText() and succeed
    kUsageError
  };
  Action action = Action::kRun;
  Options options;
  // For kUsageError: what is wrong, one line without the program name or a
  // line end, e.g. "unknown option '--frob'".
  std::string error;
};

// Parses argv[1..argc-1] (argv itself is not changed). --help or --version
// anywhere wins over everything else but a usage error earlier on the line.
CommandLine ParseCommandLine(int argc, const char *const argv[]);

// The text printed for --help, ending with a line end.
std::string HelpText();
// "vantlow <version>" and a line end.
std::string VersionText();

} // namespace vantlow::host
