// The command line of `vantlow`: what each form of argument asks for, and
// the message for each kind of usage error. One table, parsed in turn in one
// process, which also shows that parsing starts afresh every time.
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_options.h"
#include "named_rows.h"

namespace {

using vantlow::host::CommandLine;
using vantlow::host::Options;
using vantlow::host::ParseCommandLine;
using namespace vantlow_test;
using vantlow_test::PrintTo; // found beside the rows, for GoogleTest
using Action = CommandLine::Action;

struct Case {
  const char *name;
  std::vector<std::string> args; // after the program name
  Action action;
  Options expected;  // compared when action is kRun
  std::string error; // compared when action is kUsageError
};

Options With(void (*set)(Options *)) {
  Options options;
  set(&options);
  return options;
}

const Case kCases[] = {
    {"NothingGiven", {}, Action::kRun, {}, ""},
    {"PathsAndOptionsMixed",
     {"a", "--json", "b", "--closed"},
     Action::kRun,
     With([](Options *o) {
       o->json = o->closed = true;
       o->paths = {"a", "b"};
     }),
     ""},
    {"DoubleDashEndsOptions",
     {"--no-clipboard", "--", "-i", "--json"},
     Action::kRun,
     With([](Options *o) {
       o->noClipboard = true;
       o->paths = {"-i", "--json"};
     }),
     ""},
    {"ChooseTakesTheNextArgument",
     {"--choose", "total", "dir"},
     Action::kRun,
     With([](Options *o) {
       o->choose = "total";
       o->paths = {"dir"};
     }),
     ""},
    {"ChooseWithEqualsKeepsSpaces",
     {"--choose=Copy All Sizes"},
     Action::kRun,
     With([](Options *o) { o->choose = "Copy All Sizes"; }),
     ""},
    {"UnambiguousAbbreviation",
     {"--clo", "--inter"},
     Action::kRun,
     With([](Options *o) { o->closed = o->interactive = true; }),
     ""},
    {"PluginFoldersInOrder",
     {"--plugins", "first", "--plugins=second"},
     Action::kRun,
     With([](Options *o) {
       o->pluginFolders = {"first", "second"};
     }),
     ""},
    {"DesktopMenuIsParsed",
     {"--menu"},
     Action::kRun,
     With([](Options *o) { o->desktopMenu = true; }),
     ""},
    {"CombinedShortFlags", {"-ih"}, Action::kHelp, {}, ""},
    {"HelpWinsOverLaterErrors", {"--help", "--frob"}, Action::kHelp, {}, ""},
    {"Version", {"x", "--version"}, Action::kVersion, {}, ""},
    {"UnknownLongOption",
     {"dir", "--frob=1"},
     Action::kUsageError,
     {},
     "unknown or ambiguous option '--frob'"},
    {"AmbiguousAbbreviation",
     {"--c"},
     Action::kUsageError,
     {},
     "unknown or ambiguous option '--c'"},
    {"UnknownShortOption", {"-x"}, Action::kUsageError, {}, "unknown option '-x'"},
    {"UnknownShortOptionInACluster", {"-ix"}, Action::kUsageError, {}, "unknown option '-x'"},
    {"ErrorBeforeHelpWins",
     {"--frob", "--help"},
     Action::kUsageError,
     {},
     "unknown or ambiguous option '--frob'"},
    {"MissingArgument",
     {"dir", "--choose"},
     Action::kUsageError,
     {},
     "option '--choose' needs an argument"},
    {"ArgumentToAFlag",
     {"--json=yes"},
     Action::kUsageError,
     {},
     "option '--json' takes no argument"},
    {"EmptyChoice",
     {"--choose="},
     Action::kUsageError,
     {},
     "--choose needs an item (count, total, data, rsrc, all, setup, a command ID or an item's "
     "text)"},
    {"TwoChoices",
     {"--choose", "a", "--choose", "b"},
     Action::kUsageError,
     {},
     "--choose may be given only once"},
    {"EmptyPluginFolder", {"--plugins", ""}, Action::kUsageError, {}, "--plugins needs a folder"},
    {"ChooseAndInteractive",
     {"-i", "--choose", "total"},
     Action::kUsageError,
     {},
     "--choose and --interactive cannot be used together"},
};

class CommandLineTest : public testing::TestWithParam<Case> {};

TEST_P(CommandLineTest, Parses) {
  const Case &c = GetParam();
  std::vector<const char *> argv = {"vantlow"};
  for (const std::string &arg : c.args)
    argv.push_back(arg.c_str());
  CommandLine line = ParseCommandLine(static_cast<int>(argv.size()), argv.data());

  ASSERT_EQ(line.action, c.action) << line.error;
  if (c.action == Action::kUsageError) {
    EXPECT_EQ(line.error, c.error);
  }
  if (c.action != Action::kRun) return;
  const Options &o = line.options;
  const Options &e = c.expected;
  EXPECT_EQ(o.json, e.json);
  EXPECT_EQ(o.closed, e.closed);
  EXPECT_EQ(o.interactive, e.interactive);
  EXPECT_EQ(o.desktopMenu, e.desktopMenu);
  EXPECT_EQ(o.noClipboard, e.noClipboard);
  EXPECT_EQ(o.choose, e.choose);
  EXPECT_EQ(o.pluginFolders, e.pluginFolders);
  EXPECT_EQ(o.paths, e.paths);
}

INSTANTIATE_TEST_SUITE_P(Table, CommandLineTest, testing::ValuesIn(kCases), RowName());

} // namespace
