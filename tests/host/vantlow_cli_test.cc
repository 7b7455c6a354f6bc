// The `vantlow` command end to end: the built program run on temporary
// trees, with its home, configuration, runtime and data folders in
// temporary folders of the test's own and no desktop display, so that no
// real preferences, scrap or clipboard are touched. Each run starts in a
// session of its own without a terminal; the tests that need a terminal run
// the program on a pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "child_output.h"
#include "clipboard.h"
#include "named_rows.h"
#include "test_support.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using namespace vantlow_test;
using vantlow_test::PrintTo; // found beside the rows, for GoogleTest
using Result = ChildResult;

// Long enough for any run here; only a hang reaches it.
constexpr auto kHangGuard = std::chrono::seconds(120);

Result RunProgram(const std::string &exe, const std::vector<std::string> &args,
                  const Environment &env) {
  return RunChild(exe, args, env, kHangGuard);
}

// ---- A program on a pseudo-terminal ----

class PtyRun {
public:
  PtyRun(const std::string &exe, const std::vector<std::string> &args, const Environment &env) {
    ExecArgs exec(exe, args, env);
    winsize size{};
    size.ws_row = 30;
    size.ws_col = 100;
    pid_ = forkpty(&master_, nullptr, nullptr, &size);
    if (pid_ == 0) {
      execve(exe.c_str(), exec.argv(), exec.envp());
      _exit(127);
    }
    if (pid_ > 0) slaveName_ = ptsname(master_);
  }
  ~PtyRun() {
    if (pid_ > 0 && !finished_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  bool started() const { return pid_ > 0; }
  const std::string &output() const { return output_; }

  void Send(const std::string &keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
  }
  // Reads until needle has appeared in the output; false at the end of the
  // output or after the guard.
  bool ReadUntil(const std::string &needle) {
    const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
    while (output_.find(needle) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline || !ReadSome(1000)) return false;
    }
    return true;
  }
  // The terminal's modes as the program left them (read on the slave side).
  termios Modes() const {
    termios modes{};
    int fd = open(slaveName_.c_str(), O_RDWR | O_NOCTTY);
    if (fd >= 0) {
      tcgetattr(fd, &modes);
      close(fd);
    }
    return modes;
  }
  // Waits until the program has turned line editing off (it does so while
  // a calculation runs).
  bool WaitForNonCanonical(std::chrono::steady_clock::duration limit = kHangGuard) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Modes().c_lflag & ICANON) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      ReadSome(5);
    }
    return true;
  }
  // Stops the program as Ctrl-Z would, and waits until it has stopped. It
  // takes SIGSTOP: the program runs in a session of its own with no shell
  // watching over it, and there the kernel ignores a terminal's SIGTSTP.
  bool Stop() {
    int wait = 0;
    return kill(pid_, SIGSTOP) == 0 && waitpid(pid_, &wait, WUNTRACED) == pid_ && WIFSTOPPED(wait);
  }
  void Continue() { kill(pid_, SIGCONT); }
  // Turns line editing and echo back on, as a shell does for itself while
  // a job of its is stopped.
  void SetShellModes() {
    int fd = open(slaveName_.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) return;
    termios modes{};
    if (tcgetattr(fd, &modes) == 0) {
      modes.c_lflag |= ICANON | ECHO;
      tcsetattr(fd, TCSANOW, &modes);
    }
    close(fd);
  }
  // Reads the rest of the output and returns the exit status.
  int Finish() {
    const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
    while (ReadSome(1000) && std::chrono::steady_clock::now() < deadline) {
    }
    // The terminal closes as the program ends, a moment before it can be
    // waited for.
    int wait = 0;
    while (waitpid(pid_, &wait, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "the program did not finish";
        kill(pid_, SIGKILL);
        waitpid(pid_, &wait, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    finished_ = true;
    return StatusOf(wait);
  }

private:
  // False at the end of the output (the program is gone).
  bool ReadSome(int timeoutMs) {
    pollfd p{master_, POLLIN, 0};
    int ready = poll(&p, 1, timeoutMs);
    if (ready == 0) return true;
    char buffer[4096];
    ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) return false;
    output_.append(buffer, static_cast<size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int master_ = -1;
  std::string slaveName_;
  std::string output_;
  bool finished_ = false;
};

// ---- The fixture ----

// A home with its own configuration, runtime and data folders, and a tree
// whose figures are known: three files of 5, 10 (invisible) and 3000 bytes
// in two folders.
class CliTest : public ChildHomeTest {
protected:
  void SetUp() override {
    ChildHomeTest::SetUp();
    treeDir_ = tree_.MakeDir("tree");
    tree_.MakeFile("tree/a.txt", "hello");
    tree_.MakeFile("tree/.hidden", "0123456789");
    tree_.MakeFile("tree/sub/b.bin", std::string(3000, 'b'));
  }

  Environment Env() const {
    Environment env = HomeEnv();
    env["TERM"] = "xterm";
    return env;
  }

  Result Vantlow(const std::vector<std::string> &args) const {
    return RunProgram(kVantlow, args, Env());
  }

  // The text of each item of the opened Sizes submenu, by command ID.
  std::map<int, std::string> LinesByCommand() const {
    return TextsByCommand(SizesSubmenu(ParseJson(Vantlow({"--json", treeDir_}))));
  }

  TempDir tree_;
  std::string treeDir_;
};

const char kCountLine[] = "3 files (1 invisible), 2 folders (0 invisible)";

// ---- The menu ----

TEST_F(CliTest, TextMenuForPeople) {
  Result r = Vantlow({treeDir_});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::vector<std::string> lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 9u) << r.out;
  EXPECT_EQ(lines[0], "Sizes");
  EXPECT_EQ(lines[1], std::string("  ") + kCountLine);
  EXPECT_EQ(lines[2].rfind("  Total: ", 0), 0u) << lines[2];
  EXPECT_NE(lines[2].find("(3,015 bytes)"), std::string::npos) << lines[2];
  EXPECT_NE(lines[4].find("(0 bytes)"), std::string::npos) << lines[4];
  EXPECT_EQ(lines[5], "  ────");
  EXPECT_EQ(lines[6], "  Copy All Sizes");
  EXPECT_EQ(lines[7], "  ────");
  EXPECT_EQ(lines[8], "  Setup Period...");
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "no escapes when not on a terminal";
}

TEST_F(CliTest, JsonFollowsTheSchemaAndLeavesOutMissingPaths) {
  std::string other = tree_.MakeFile("other.txt", "xy");
  Result r = Vantlow({"--json", treeDir_, tree_.path() + "/missing", other});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.err), std::vector<std::string>{"vantlow: " + tree_.path() +
                                                   "/missing: No such file or directory"});
  Json root = Json::parse(r.out);
  std::vector<std::string> keys;
  for (auto it = root.begin(); it != root.end(); ++it)
    keys.push_back(it.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"selection", "plugins", "menu"}));
  EXPECT_EQ(root["selection"],
            Json({fs::canonical(treeDir_).string(), fs::canonical(other).string()}));
  EXPECT_EQ(root["plugins"],
            Json::parse(R"([{"identifier": ")" + kIdentifier + R"(", "status": 0}])"));
  ASSERT_EQ(root["menu"].size(), 1u);
  EXPECT_EQ(root["menu"][0]["text"], "Sizes");
  EXPECT_FALSE(root["menu"][0].contains("command"));
  const Json &submenu = root["menu"][0]["submenu"];
  const int commands[] = {2000, 2001, 2002, 2003, 0, 2004, 0, 2010};
  ASSERT_EQ(submenu.size(), std::size(commands)) << submenu.dump();
  for (size_t i = 0; i < submenu.size(); ++i) {
    EXPECT_EQ(submenu[i]["command"], commands[i]) << i;
    if (commands[i] == 0) {
      EXPECT_EQ(submenu[i]["attributes"], 64) << i;
    } else {
      EXPECT_FALSE(submenu[i].contains("attributes")) << i;
    }
  }
  EXPECT_EQ(submenu[0]["text"], "4 files (1 invisible), 2 folders (0 invisible)");
}

TEST_F(CliTest, NameThatIsNotUtf8ShowsAsReplacementCharacter) {
  std::string name = tree_.MakeFile("caf\xE9", "x");
  Result r = Vantlow({"--json", name});
  EXPECT_EQ(r.status, 0) << r.err;
  Json root = Json::parse(r.out); // throws on invalid UTF-8
  EXPECT_EQ(root["selection"][0], fs::canonical(tree_.path()).string() + "/caf" + kFFFD);
}

TEST_F(CliTest, DeferredModeFillsTheSubmenuWhenItOpens) {
  WritePreferences("<key>FileSize-LazyCalc</key><true/>");
  Json closed = SizesSubmenu(ParseJson(Vantlow({"--json", "--closed", treeDir_})));
  ASSERT_EQ(closed.size(), 9u) << closed.dump();
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(closed[i]["text"], "Dummy") << i;
  // The item by which the plug-in recognises its submenu when it opens.
  EXPECT_EQ(closed[8]["command"], 0);
  EXPECT_FALSE(closed[8].contains("attributes"));

  Json opened = SizesSubmenu(ParseJson(Vantlow({"--json", treeDir_})));
  ASSERT_EQ(opened.size(), 8u) << opened.dump();
  EXPECT_EQ(opened[0]["text"], kCountLine);
  EXPECT_EQ(opened[7]["text"], "Setup Period...");

  // A choice copies the figures measured when the submenu opened.
  Result chosen = Vantlow({"--no-clipboard", "--choose", "count", treeDir_});
  EXPECT_EQ(chosen.status, 0) << chosen.err;
  EXPECT_EQ(chosen.out, std::string(kCountLine) + "\n");
}

// ---- Choosing ----

struct ChooseCase {
  const char *name;
  std::string item;
  int command;
};

class ChooseTest : public CliTest, public testing::WithParamInterface<ChooseCase> {};

TEST_P(ChooseTest, PrintsWhatReachedTheScrap) {
  const ChooseCase &c = GetParam();
  std::map<int, std::string> lines = LinesByCommand();
  std::string expected = c.command == 2004 ? lines[2000] + "\n" + lines[2001] + "\n" + lines[2002] +
                                                 "\n" + lines[2003] + "\n"
                                           : lines[c.command] + "\n";
  Result r = Vantlow({"--choose", c.item, treeDir_});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "vantlow: not copied to the clipboard: no Wayland or X11 display and no "
                   "terminal\n");
  // The scrap holds the plug-in's own text: UTF-16, lines ended by CR.
  std::string utxt = ReadFile(runtime_ + "/vantlow/scrap/utxt");
  EXPECT_EQ(utxt.size(), 2 * (expected.size() - (c.command == 2004 ? 0 : 1)));
}

INSTANTIATE_TEST_SUITE_P(
    Items, ChooseTest,
    testing::Values(ChooseCase{"Count", "count", 2000}, ChooseCase{"Total", "total", 2001},
                    ChooseCase{"Data", "data", 2002}, ChooseCase{"Rsrc", "rsrc", 2003},
                    ChooseCase{"All", "all", 2004}, ChooseCase{"CommandID", "2001", 2001},
                    ChooseCase{"ItemText", "Copy All Sizes", 2004},
                    ChooseCase{"CountLineText", kCountLine, 2000}),
    RowName());

TEST_F(CliTest, ChosenInJsonCarriesTheScrapTextExactly) {
  std::map<int, std::string> lines = LinesByCommand();
  Result r = Vantlow({"--json", "--choose", "all", treeDir_});
  EXPECT_EQ(r.status, 0) << r.err;
  Json root = Json::parse(r.out);
  EXPECT_EQ(root["chosen"]["command"], 2004);
  EXPECT_EQ(root["chosen"]["status"], 0);
  EXPECT_EQ(root["chosen"]["copied"],
            lines[2000] + "\r" + lines[2001] + "\r" + lines[2002] + "\r" + lines[2003] + "\r");
}

TEST_F(CliTest, SetupWithoutATerminalIsAUsageError) {
  Result r = Vantlow({"--json", "--choose", "setup", treeDir_});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("vantlow: 'Setup Period...' needs a terminal to show its window"),
            std::string::npos)
      << r.err;
  Json root = Json::parse(r.out);
  EXPECT_EQ(root["chosen"]["command"], 2010);
  EXPECT_EQ(root["chosen"]["copied"], nullptr);
}

// A fake wl-copy on PATH stands for the desktop clipboard.
struct ClipboardCase {
  const char *name;
  bool noClipboard;
};

class ClipboardCliTest : public CliTest, public testing::WithParamInterface<ClipboardCase> {};

TEST_P(ClipboardCliTest, NoClipboardRunsNoTool) {
  std::string bin = home_.MakeDir("bin");
  std::string received = home_.path() + "/received";
  std::string tool = home_.MakeFile("bin/wl-copy", "#!/bin/sh\n/bin/cat > '" + received + "'\n");
  chmod(tool.c_str(), 0755);
  Environment env = Env();
  env["PATH"] = bin + ":/usr/bin:/bin";
  env["WAYLAND_DISPLAY"] = "wayland-test";
  std::vector<std::string> args = {"--choose", "total", treeDir_};
  if (GetParam().noClipboard) args.insert(args.begin(), "--no-clipboard");

  Result r = RunProgram(kVantlow, args, env);
  EXPECT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(Lines(r.out).size(), 1u);
  if (GetParam().noClipboard) {
    EXPECT_FALSE(fs::exists(received));
    EXPECT_EQ(r.err, "");
  } else {
    EXPECT_EQ(ReadFile(received), Lines(r.out)[0]);
    EXPECT_EQ(r.err, "vantlow: copied to the clipboard with wl-copy\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, ClipboardCliTest,
                         testing::Values(ClipboardCase{"Copied", false},
                                         ClipboardCase{"LeftAlone", true}),
                         RowName());

// ---- Plug-ins ----

TEST_F(CliTest, EveryPluginTakesPartAndChoicesGoToTheirOwner) {
  // The fixture plug-in, searched first, adds "Fixture" (command 1).
  TempDir plugins;
  fs::copy(fs::path(VANTLOW_FIXTURE_PLUGIN_DIR) / "FixturePlugin.plugin",
           fs::path(plugins.path()) / "FixturePlugin.plugin", fs::copy_options::recursive);
  Environment env = Env();
  env["VANTLOW_PLUGIN_PATH"] = plugins.path();
  Result r = RunProgram(kVantlow, {"--json", "--choose", "total", treeDir_}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  Json root = Json::parse(r.out);
  EXPECT_EQ(root["plugins"],
            Json::parse(R"([{"identifier": "org.vantlow.test.fixture", "status": 0},
                                              {"identifier": ")" +
                        kIdentifier + R"(", "status": 0}])"));
  ASSERT_EQ(root["menu"].size(), 2u);
  EXPECT_EQ(root["menu"][0], Json::parse(R"({"text": "Fixture", "command": 1})"));
  EXPECT_EQ(root["menu"][1]["text"], "Sizes");
  // Handed to the plug-in that made the item, not the first one asked.
  EXPECT_EQ(root["chosen"]["copied"], root["menu"][1]["submenu"][1]["text"]);
}

TEST_F(CliTest, BrokenBundleIsReportedOnceAndTheOthersWork) {
  TempDir plugins;
  plugins.MakeFile("Broken.plugin/Contents/Info.plist", "this is not a property list");
  Environment env = Env();
  env["VANTLOW_PLUGIN_PATH"] = plugins.path();
  Result r = RunProgram(kVantlow, {treeDir_}, env);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> err = Lines(r.err);
  ASSERT_EQ(err.size(), 1u) << r.err;
  EXPECT_NE(err[0].find("Broken.plugin"), std::string::npos) << err[0];
  EXPECT_EQ(Lines(r.out).at(0), "Sizes");
}

TEST_F(CliTest, NoPluginFound) {
  // A copy outside the build tree does not search the build's bundles, and
  // finds no installed ones beside it.
  std::string copy = home_.MakeDir("prefix/bin") + "/vantlow";
  fs::copy_file(kVantlow, copy);
  Result r = RunProgram(copy, {treeDir_}, Env());
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.rfind("vantlow: no plug-in found (searched: ", 0), 0u) << r.err;
}

TEST_F(CliTest, FailedPluginCallLogsOnStandardErrorOnly) {
  // Looking at one file of the tree fails: the calculation, and so
  // ExamineContext, fails.
  Environment env = Env();
  env["VANTLOW_TEST_SYSCALL_FAIL"] = "fstatat=1,b.bin";
  Result r = RunProgram(kVantlowWithFaults, {"--json", treeDir_}, env);
  EXPECT_EQ(r.status, 1);
  Json root = Json::parse(r.out); // the log line did not end up in here
  ASSERT_EQ(root["plugins"].size(), 1u);
  EXPECT_NE(root["plugins"][0]["status"], 0);
  EXPECT_NE(r.err.find("Vantlow: "), std::string::npos) << r.err;
}

// ---- Usage ----

struct UsageCase {
  const char *name;
  std::vector<std::string> args;
  int status;
  std::string outStart; // what standard output begins with
  std::string errStart; // what standard error begins with
};

class UsageTest : public CliTest, public testing::WithParamInterface<UsageCase> {};

TEST_P(UsageTest, ExitsWithItsStatus) {
  const UsageCase &c = GetParam();
  std::vector<std::string> args = c.args;
  for (std::string &arg : args)
    if (arg == "TREE") arg = treeDir_;
  Result r = Vantlow(args);
  EXPECT_EQ(r.status, c.status) << r.err;
  EXPECT_EQ(r.out.substr(0, c.outStart.size()), c.outStart) << r.out;
  EXPECT_EQ(r.err.substr(0, c.errStart.size()), c.errStart) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Table, UsageTest,
    testing::Values(UsageCase{"Help", {"--help"}, 0, "Usage: vantlow [OPTIONS] [PATH...]\n", ""},
                    UsageCase{"Version", {"--version"}, 0, "vantlow ", ""},
                    UsageCase{
                        "UnknownOption",
                        {"--frob", "TREE"},
                        2,
                        "",
                        "vantlow: unknown or ambiguous option '--frob'\nTry 'vantlow --help'"},
                    UsageCase{"OnlyMissingPaths",
                              {"/nonexistent/a", "/nonexistent/b"},
                              2,
                              "",
                              "vantlow: /nonexistent/a: No such file or directory\n"
                              "vantlow: /nonexistent/b: No such file or directory\n"
                              "vantlow: no PATH left to look at\n"},
                    // Without a display, or without a desktop menu in this build.
                    UsageCase{"DesktopMenuWithoutDisplay", {"--menu", "TREE"}, 2, "", "vantlow: "},
                    UsageCase{"InteractiveWithoutTerminal",
                              {"-i", "TREE"},
                              2,
                              "",
                              "vantlow: --interactive needs a terminal, and there is none\n"},
                    UsageCase{"MissingPluginFolder",
                              {"--plugins", "/nonexistent", "TREE"},
                              2,
                              "",
                              "vantlow: --plugins /nonexistent: "},
                    UsageCase{"ItemNotInTheMenu",
                              {"--choose", "Nothing Like It", "TREE"},
                              2,
                              "",
                              "vantlow: no item of the menu reads 'Nothing Like It'\n"}),
    RowName());

// ---- On a terminal ----

TEST_F(CliTest, InteractiveMenuPicksWithDigitsAndArrows) {
  std::map<int, std::string> lines = LinesByCommand();
  PtyRun run(kVantlow, {"-i", treeDir_}, Env());
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(run.ReadUntil("Choose an item")) << run.output();
  ASSERT_TRUE(run.ReadUntil("Setup Period...")) << run.output();
  run.Send("3");      // the data line
  run.Send("\x1b[A"); // up: the total line
  run.Send("\r");
  EXPECT_EQ(run.Finish(), 0) << run.output();
  const std::string &out = run.output();
  // The menu numbered what can be chosen.
  EXPECT_NE(out.find(" 6    Setup Period..."), std::string::npos) << out;
  // After the menu: the copied line, and the same text sent to the
  // terminal's clipboard.
  size_t after = out.rfind("\x1b[?1049l");
  ASSERT_NE(after, std::string::npos);
  std::string rest = out.substr(after);
  EXPECT_NE(rest.find(lines[2001] + "\r\n"), std::string::npos) << rest;
  EXPECT_NE(rest.find(vantlow::host::Osc52Sequence(lines[2001])), std::string::npos) << rest;
  EXPECT_NE(rest.find("vantlow: copied to the clipboard through the terminal (OSC 52)"),
            std::string::npos)
      << rest;
  termios modes = run.Modes();
  EXPECT_TRUE(modes.c_lflag & ICANON);
  EXPECT_TRUE(modes.c_lflag & ECHO);
}

// A tree that takes long to measure: many folders, every fstatat slowed
// down, no time limit. The cancel keys are looked at on entry to a folder.
class SlowCliTest : public CliTest {
protected:
  void SetUp() override {
    CliTest::SetUp();
    WritePreferences("<key>FileSize-LimitTicks</key><integer>-1</integer>");
    slowDir_ = tree_.MakeDir("slow");
    for (int folder = 0; folder < 60; ++folder)
      for (int file = 0; file < 5; ++file)
        tree_.MakeFile("slow/d" + std::to_string(folder) + "/f" + std::to_string(file), "x");
  }
  Environment SlowEnv() const {
    Environment env = Env();
    env["VANTLOW_TEST_SYSCALL_DELAY"] = "fstatat=20000";
    return env;
  }
  std::string slowDir_;
};

TEST_F(SlowCliTest, EscapeCancelsTheCalculation) {
  PtyRun run(kVantlowWithFaults, {"--no-clipboard", "--choose", "count", slowDir_}, SlowEnv());
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(run.WaitForNonCanonical()) << run.output();
  run.Send("\x1b");
  EXPECT_EQ(run.Finish(), 0) << run.output();
  // The figures read as a lower bound.
  EXPECT_NE(run.output().find("more than "), std::string::npos) << run.output();
  EXPECT_TRUE(run.Modes().c_lflag & ICANON);
}

TEST_F(SlowCliTest, GoingOnAfterAStopSetsTheCalculationsModesAgain) {
  PtyRun run(kVantlowWithFaults, {"--no-clipboard", "--choose", "count", slowDir_}, SlowEnv());
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(run.WaitForNonCanonical()) << run.output();
  ASSERT_TRUE(run.Stop());
  run.SetShellModes();
  run.Continue();
  // Escape reaches the calculation only while the terminal hands keys over
  // one by one, unechoed.
  ASSERT_TRUE(run.WaitForNonCanonical(std::chrono::seconds(10))) << run.output();
  EXPECT_FALSE(run.Modes().c_lflag & ECHO);
  run.Send("\x1b");
  EXPECT_EQ(run.Finish(), 0) << run.output();
  EXPECT_NE(run.output().find("more than "), std::string::npos) << run.output();
  termios modes = run.Modes();
  EXPECT_TRUE(modes.c_lflag & ICANON);
  EXPECT_TRUE(modes.c_lflag & ECHO);
}

TEST_F(SlowCliTest, SecondInterruptEndsTheProgramAndRestoresTheTerminal) {
  // Many PATHs and every statx slowed down: reading the selection takes
  // the plug-in long, and it does not look at the cancel keys meanwhile, so
  // the second Ctrl-C arrives within the same call.
  std::vector<std::string> args;
  for (int file = 0; file < 40; ++file)
    args.push_back(tree_.MakeFile("many/f" + std::to_string(file), "x"));
  Environment env = Env();
  env["VANTLOW_TEST_SYSCALL_DELAY"] = "statx=20000";
  PtyRun run(kVantlowWithFaults, args, env);
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(run.WaitForNonCanonical()) << run.output();
  run.Send("\x03");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  run.Send("\x03");
  EXPECT_EQ(run.Finish(), 130) << run.output();
  termios modes = run.Modes();
  EXPECT_TRUE(modes.c_lflag & ICANON);
  EXPECT_TRUE(modes.c_lflag & ECHO);
}

// ---- Installation ----

TEST_F(CliTest, InstalledTreeWorksWhereverItIsPut) {
  TempDir prefix;
  std::string install = std::string(VANTLOW_CMAKE_COMMAND) + " --install '" + VANTLOW_BINARY_DIR +
                        "' --prefix '" + prefix.path() + "' > /dev/null";
  ASSERT_EQ(std::system(install.c_str()), 0) << install;
  const fs::path root = prefix.path();
  EXPECT_TRUE(fs::exists(root / "share/man/man1/vantlow.1"));
  EXPECT_TRUE(fs::exists(root / "lib/vantlow/plugins/Vantlow.plugin/Contents/Info.plist"));
  bool soname = false;
  for (const auto &entry : fs::recursive_directory_iterator(root / "lib"))
    soname =
        soname || (entry.path().filename() == "libvantlow-platform.so.1" && entry.is_symlink());
  EXPECT_TRUE(soname);
  EXPECT_NE(ReadFile((root / "bin/vantlow").string()).find("$ORIGIN/../lib"), std::string::npos);

  Result r = RunProgram((root / "bin/vantlow").string(), {"--json", treeDir_}, Env());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  Json root_json = Json::parse(r.out);
  EXPECT_EQ(root_json["plugins"][0]["identifier"], kIdentifier);
  EXPECT_EQ(root_json["menu"][0]["submenu"][0]["text"], kCountLine);
}

} // namespace
