// The command line of `vantlow` (see cli_options.h), parsed with
// getopt_long. Messages are our own (opterr is off) so that every usage
// error reads the same way and names the argument as it was typed.
#include "cli_options.h"

#include <getopt.h>

#include <cstring>

namespace vantlow::host {
namespace {

// Values of the long options that have no short form.
enum : int {
  kOptJson = 256,
  kOptClosed,
  kOptChoose,
  kOptNoClipboard,
  kOptMenu,
  kOptPlugins,
  kOptVersion
};

constexpr option kLongOptions[] = {{"json", no_argument, nullptr, kOptJson},
                                   {"closed", no_argument, nullptr, kOptClosed},
                                   {"choose", required_argument, nullptr, kOptChoose},
                                   {"no-clipboard", no_argument, nullptr, kOptNoClipboard},
                                   {"interactive", no_argument, nullptr, 'i'},
                                   {"menu", no_argument, nullptr, kOptMenu},
                                   {"plugins", required_argument, nullptr, kOptPlugins},
                                   {"help", no_argument, nullptr, 'h'},
                                   {"version", no_argument, nullptr, kOptVersion},
                                   {nullptr, 0, nullptr, 0}};

// The name of the long option whose value is val, or null.
const char *LongName(int val) {
  for (const option &o : kLongOptions)
    if (o.name && o.val == val) return o.name;
  return nullptr;
}

// How the user wrote the option that getopt could not accept: "-x" for a
// short one, otherwise the argument as typed up to any '='.
std::string Spelling(int shortOption, const char *argument) {
  if (shortOption > 0 && shortOption < 256 && (!argument || std::strncmp(argument, "--", 2) != 0))
    return std::string("-") + static_cast<char>(shortOption);
  if (!argument) return "?";
  std::string text = argument;
  if (size_t eq = text.find('='); eq != std::string::npos) text.resize(eq);
  return text;
}

CommandLine UsageError(std::string message) {
  CommandLine line;
  line.action = CommandLine::Action::kUsageError;
  line.error = std::move(message);
  return line;
}

} // namespace

CommandLine ParseCommandLine(int argc, const char *const argv[]) {
  // getopt_long permutes the array it is given: work on a copy.
  std::vector<std::string> storage(argv, argv + argc);
  std::vector<char *> args;
  for (std::string &s : storage)
    args.push_back(s.data());
  args.push_back(nullptr);

  CommandLine line;
  Options &options = line.options;
  opterr = 0;
  optind = 0; // 0 makes glibc start afresh, also after an earlier parse
  for (;;) {
    int c = getopt_long(argc, args.data(), ":ih", kLongOptions, nullptr);
    if (c == -1) break;
    // The element getopt just read: a long option, or a cluster of short
    // ones (for which optopt names the character).
    const char *typed = optind > 0 && optind - 1 < argc ? args[optind - 1] : nullptr;
    switch (c) {
    case 'h':
      line.action = CommandLine::Action::kHelp;
      return line;
    case kOptVersion:
      line.action = CommandLine::Action::kVersion;
      return line;
    case 'i':
      options.interactive = true;
      break;
    case kOptJson:
      options.json = true;
      break;
    case kOptClosed:
      options.closed = true;
      break;
    case kOptNoClipboard:
      options.noClipboard = true;
      break;
    case kOptMenu:
      options.desktopMenu = true;
      break;
    case kOptChoose:
      if (options.choose) return UsageError("--choose may be given only once");
      if (!*optarg)
        return UsageError("--choose needs an item (count, total, data, rsrc, all, "
                          "setup, a command ID or an item's text)");
      options.choose = optarg;
      break;
    case kOptPlugins:
      if (!*optarg) return UsageError("--plugins needs a folder");
      options.pluginFolders.emplace_back(optarg);
      break;
    case ':': {
      const char *name = LongName(optopt);
      if (name) return UsageError(std::string("option '--") + name + "' needs an argument");
      return UsageError("option '" + Spelling(optopt, typed) + "' needs an argument");
    }
    default: { // '?'
      // optopt is the option's value when a known option was misused
      // (--json=x), the character for an unknown short option, and 0 for
      // an unknown or ambiguous long one.
      const char *name = LongName(optopt);
      if (name && typed && std::strncmp(typed, "--", 2) == 0)
        return UsageError(std::string("option '--") + name + "' takes no argument");
      if (optopt == 0 && typed && std::strncmp(typed, "--", 2) == 0)
        return UsageError("unknown or ambiguous option '" + Spelling(0, typed) + "'");
      return UsageError("unknown option '" + Spelling(optopt, typed) + "'");
    }
    }
  }
  for (int i = optind; i < argc; ++i)
    options.paths.emplace_back(args[i]);

  if (options.interactive && options.choose)
    return UsageError("--choose and --interactive cannot be used together");
  return line;
}

std::string HelpText() {
  return "Usage: vantlow [OPTIONS] [PATH...]\n"
         "Show the contextual menu that the installed plug-ins offer for the files and\n"
         "folders PATH (the current folder when none is given), with every submenu\n"
         "opened as a user would open it.\n"
         "\n"
         "Options:\n"
         "      --json           print the menu as JSON\n"
         "      --closed         show the menu as the plug-ins built it, without opening\n"
         "                       its submenus\n"
         "      --choose ITEM    choose an item: count, total, data, rsrc, all, setup,\n"
         "                       a command ID, or an item's exact text; print the text it\n"
         "                       copied and put that text on the desktop clipboard\n"
         "      --no-clipboard   leave the desktop clipboard alone\n"
         "  -i, --interactive    pick an item from the menu with the keyboard\n"
         "      --menu           show the menu as a desktop popup at the pointer (GTK)\n"
         "      --plugins DIR    search DIR for plug-ins first (may be repeated)\n"
         "  -h, --help           show this help and exit\n"
         "      --version        show the version and exit\n"
         "\n"
         "While the sizes are being calculated in a terminal, Escape or Ctrl-C stops the\n"
         "calculation and the figures show what was counted so far; a second Ctrl-C ends\n"
         "the program.\n"
         "\n"
         "Exit status: 0 success; 1 a plug-in call failed or no plug-in added anything;\n"
         "2 a usage error, no PATH left, no plug-in found, or the choice needs a terminal\n"
         "and there is none.\n"
         "\n"
         "See vantlow(1) for the environment and the files it uses.\n";
}

std::string VersionText() {
  return std::string("vantlow ") + VANTLOW_VERSION + "\n";
}

} // namespace vantlow::host
