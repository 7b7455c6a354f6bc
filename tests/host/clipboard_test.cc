// Handing text to the desktop clipboard, against fake clipboard tools on a
// PATH of the test's own (no real clipboard is ever touched): which tool is
// used under which display, what it receives, how a failing, hanging or
// non-reading tool is reported, and the terminal's OSC 52 sequence.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "clipboard.h"
#include "named_rows.h"
#include "test_support.h"

namespace {

using vantlow::host::ClipboardResult;
using vantlow::host::ClipboardSettings;
using vantlow::host::CopyToClipboard;
using vantlow::host::Osc52Sequence;
using namespace vantlow_test;
using vantlow_test::PrintTo; // found beside the rows, for GoogleTest

enum class Behaviour { kCopies, kFails, kHangs, kIgnoresInput };

struct Tool {
  const char *name;
  Behaviour behaviour;
};

// A folder of fake tools that becomes the whole PATH while the fixture
// lives. Each tool records its arguments in <name>.args and its input in
// <name>.in.
class ClipboardTest : public testing::Test {
protected:
  void SetUp() override {
    const char *path = std::getenv("PATH");
    savedPath_ = path ? path : "";
    bin_ = dir_.MakeDir("bin");
    setenv("PATH", bin_.c_str(), 1);
  }
  void TearDown() override { setenv("PATH", savedPath_.c_str(), 1); }

  void Install(const Tool &tool) {
    std::string record = dir_.path() + "/" + tool.name;
    std::string body = "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + record + ".args'\n";
    switch (tool.behaviour) {
    case Behaviour::kCopies:
      body += "/bin/cat > '" + record + ".in'\nexit 0\n";
      break;
    case Behaviour::kFails:
      body += "/bin/cat > '" + record + ".in'\nexit 3\n";
      break;
    case Behaviour::kHangs:
      body += "exec /bin/sleep 30\n";
      break;
    case Behaviour::kIgnoresInput:
      body += "exit 0\n";
      break;
    }
    std::string file = dir_.MakeFile(std::string("bin/") + tool.name, body);
    chmod(file.c_str(), 0755);
  }
  std::string Received(const char *tool) { return ReadFile(dir_.path() + "/" + tool + ".in"); }
  std::string Arguments(const char *tool) { return ReadFile(dir_.path() + "/" + tool + ".args"); }
  bool Ran(const char *tool) {
    return access((dir_.path() + "/" + tool + ".args").c_str(), F_OK) == 0;
  }

  TempDir dir_;
  std::string bin_;
  std::string savedPath_;
};

struct Case {
  const char *name;
  std::string wayland;
  std::string display;
  std::vector<Tool> tools;
  bool terminal;
  const char *method; // empty: not copied
  std::string describe;
};

const Case kCases[] = {
    {"WaylandUsesWlCopy",
     "wayland-0",
     ":0",
     {{"wl-copy", Behaviour::kCopies}, {"xclip", Behaviour::kCopies}},
     true,
     "wl-copy",
     "copied to the clipboard with wl-copy"},
    {"X11UsesXclip",
     "",
     ":0",
     {{"wl-copy", Behaviour::kCopies}, {"xclip", Behaviour::kCopies}, {"xsel", Behaviour::kCopies}},
     true,
     "xclip",
     "copied to the clipboard with xclip"},
    {"X11WithoutXclipUsesXsel",
     "",
     ":0",
     {{"xsel", Behaviour::kCopies}},
     false,
     "xsel",
     "copied to the clipboard with xsel"},
    {"FailingWlCopyFallsBackAndIsTold",
     "wayland-0",
     ":0",
     {{"wl-copy", Behaviour::kFails}, {"xclip", Behaviour::kCopies}},
     false,
     "xclip",
     "copied to the clipboard with xclip (wl-copy failed (exit status 3))"},
    {"NoToolUsesTheTerminal",
     "wayland-0",
     ":0",
     {},
     true,
     "the terminal (OSC 52)",
     "copied to the clipboard through the terminal (OSC 52)"},
    {"NoDisplayUsesTheTerminal",
     "",
     "",
     {{"wl-copy", Behaviour::kCopies}},
     true,
     "the terminal (OSC 52)",
     "copied to the clipboard through the terminal (OSC 52)"},
    {"NothingAtAll",
     "",
     "",
     {{"wl-copy", Behaviour::kCopies}},
     false,
     "",
     "not copied to the clipboard: no Wayland or X11 display and no terminal"},
    {"DisplayButNoTool",
     "",
     ":0",
     {},
     false,
     "",
     "not copied to the clipboard: no clipboard tool (wl-copy, xclip, xsel) is installed"},
    {"HangingToolIsStopped",
     "",
     ":0",
     {{"xclip", Behaviour::kHangs}},
     false,
     "",
     "not copied to the clipboard: xclip failed (did not finish in time)"},
};

class ClipboardChoiceTest : public ClipboardTest, public testing::WithParamInterface<Case> {};

TEST_P(ClipboardChoiceTest, UsesTheFirstWayThatWorks) {
  const Case &c = GetParam();
  for (const Tool &tool : c.tools)
    Install(tool);
  int terminal[2] = {-1, -1};
  ASSERT_EQ(pipe(terminal), 0);
  ClipboardSettings settings;
  settings.waylandDisplay = c.wayland;
  settings.display = c.display;
  settings.terminalFd = c.terminal ? terminal[1] : -1;
  settings.toolTimeout = std::chrono::milliseconds(500);
  const std::string text = "Total: 12 KB (5,006 bytes)\nCaf\xC3\xA9\n";

  ClipboardResult result = CopyToClipboard(text, settings);
  close(terminal[1]);
  std::string written;
  char buffer[512];
  for (ssize_t n; (n = read(terminal[0], buffer, sizeof buffer)) > 0;)
    written.append(buffer, static_cast<size_t>(n));
  close(terminal[0]);

  EXPECT_EQ(result.copied, *c.method != '\0');
  EXPECT_EQ(result.method, c.method);
  EXPECT_EQ(result.Describe(), c.describe);
  if (std::string(c.method) == "the terminal (OSC 52)") {
    EXPECT_EQ(written, Osc52Sequence(text));
  } else {
    EXPECT_EQ(written, "");
    if (*c.method) {
      EXPECT_EQ(Received(c.method), text);
    }
  }
  // No tool runs for a display that is not there.
  if (c.wayland.empty()) {
    EXPECT_FALSE(Ran("wl-copy"));
  }
  if (c.display.empty()) {
    EXPECT_FALSE(Ran("xclip"));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ClipboardChoiceTest, testing::ValuesIn(kCases), RowName());

TEST_F(ClipboardTest, ToolsGetTheClipboardSelection) {
  Install({"xclip", Behaviour::kCopies});
  Install({"xsel", Behaviour::kCopies});
  ClipboardSettings settings;
  settings.display = ":0";
  ASSERT_TRUE(CopyToClipboard("x", settings).copied);
  EXPECT_EQ(Arguments("xclip"), "-selection\nclipboard\n-in\n");
  unlink((bin_ + "/xclip").c_str());
  ASSERT_TRUE(CopyToClipboard("x", settings).copied);
  EXPECT_EQ(Arguments("xsel"), "--clipboard\n--input\n");
}

TEST_F(ClipboardTest, ToolThatStopsReadingDoesNotEndTheProgram) {
  // More than a pipe holds: the write meets a closed pipe, which must be
  // reported, not raise SIGPIPE here.
  Install({"wl-copy", Behaviour::kIgnoresInput});
  ClipboardSettings settings;
  settings.waylandDisplay = "wayland-0";
  ClipboardResult result = CopyToClipboard(std::string(1 << 20, 'x'), settings);
  EXPECT_FALSE(result.copied);
  EXPECT_EQ(result.Describe(),
            "not copied to the clipboard: wl-copy failed (could not take the text (Broken pipe))");
}

struct Base64Case {
  const char *name;
  std::string text;
  std::string encoded;
};

class Osc52Test : public testing::TestWithParam<Base64Case> {};

TEST_P(Osc52Test, EncodesTheTextInBase64) {
  EXPECT_EQ(Osc52Sequence(GetParam().text), "\x1b]52;c;" + GetParam().encoded + "\x07");
}

// The test vectors of RFC 4648, and text beyond ASCII.
INSTANTIATE_TEST_SUITE_P(Rfc4648, Osc52Test,
                         testing::Values(Base64Case{"Empty", "", ""},
                                         Base64Case{"OneByte", "f", "Zg=="},
                                         Base64Case{"TwoBytes", "fo", "Zm8="},
                                         Base64Case{"ThreeBytes", "foo", "Zm9v"},
                                         Base64Case{"FourBytes", "foob", "Zm9vYg=="},
                                         Base64Case{"SixBytes", "foobar", "Zm9vYmFy"},
                                         Base64Case{"Utf8", "\xC3\xA9\n", "w6kK"}),
                         RowName());

} // namespace
