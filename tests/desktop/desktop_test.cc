// `vantlow --menu` on a real (virtual) desktop: each test starts its own
// Xvfb, runs the built command against a small tree, and plays the user
// through XTEST — the pointer opens the submenu, a click chooses a line or
// opens the time-limit window, keys answer it. What is checked is what a
// user would see afterwards: the line on the CLIPBOARD selection after the
// program has ended (read back with xclip), the preferences file after OK
// or Cancel. Screenshots of the menu and the window are kept under
// test-artifacts/ in the build tree; no pixel is compared.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <X11/keysym.h>

#include "test_support.h"
#include "x_session.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vantlow::testing::Child;
using vantlow::testing::ReadFile;
using vantlow::testing::ScreenWindow;
using vantlow::testing::XDriver;
using vantlow::testing::XServer;

// What the plug-in shows for the fixture tree (two files of 5000 and 3
// bytes, two folders): the first line of its submenu.
constexpr char kCountLine[] = "2 files (0 invisible), 2 folders (0 invisible)";

std::string ArtifactPath(const std::string &name) {
  const fs::path folder = fs::path(VANTLOW_BINARY_DIR) / "test-artifacts";
  fs::create_directories(folder);
  return (folder / name).string();
}

// The processes whose command line has text in it.
std::vector<int> ProcessesNaming(const std::string &text) {
  std::vector<int> found;
  std::error_code ec;
  for (const auto &entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string cmdline = ReadFile(entry.path().string() + "/cmdline");
    for (char &c : cmdline)
      if (c == '\0') c = ' ';
    if (cmdline.find(text) != std::string::npos) found.push_back(std::stoi(name));
  }
  return found;
}

// A sanitizer build's settings go on to vantlow, with the toolkit's
// never-freed caches left out of the leak report.
std::vector<std::string> SanitizerEnvironment() {
  std::vector<std::string> environment;
  for (const char *name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
    if (const char *value = std::getenv(name))
      environment.push_back(std::string(name) + "=" + value);
  environment.push_back("LSAN_OPTIONS=suppressions=" VANTLOW_SOURCE_DIR
                        "/tests/desktop/toolkit-leaks.supp:print_suppressions=0");
  return environment;
}

bool HaveProgram(const char *name) {
  const char *path = std::getenv("PATH");
  std::string list = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    const fs::path candidate = fs::path(list.substr(start, end - start)) / name;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// One user session: an X server, a home of its own, the tree to look at,
// and the environment `vantlow` runs in.
class DesktopTest : public ::testing::Test {
protected:
  void SetUp() override {
    if (!HaveProgram("Xvfb")) GTEST_SKIP() << "Xvfb is not installed: desktop tests skipped";
    std::string why;
    server_ = XServer::Start(&why);
    if (!server_) GTEST_SKIP() << why << ": desktop tests skipped";
    driver_ = std::make_unique<XDriver>(server_->display());
    ASSERT_TRUE(driver_->ok()) << "cannot connect to " << server_->display();

    tree_ = home_.MakeDir("tree");
    home_.MakeFile("tree/a.bin", std::string(5000, 'x'));
    home_.MakeFile("tree/sub/b.txt", "hi\n");
    config_ = home_.MakeDir("config");
    runtime_ = home_.MakeDir("run");
    chmod(runtime_.c_str(), 0700);
  }

  std::vector<std::string> Environment() const {
    std::vector<std::string> environment = SanitizerEnvironment();
    const char *path = std::getenv("PATH");
    const std::vector<std::string> session = {"PATH=" + std::string(path ? path : "/usr/bin:/bin"),
                                              "HOME=" + home_.path(),
                                              "XDG_CONFIG_HOME=" + config_,
                                              "XDG_RUNTIME_DIR=" + runtime_,
                                              "XDG_DATA_HOME=" + home_.path() + "/data",
                                              "DISPLAY=" + server_->display(),
                                              "GDK_BACKEND=x11",
                                              "GSETTINGS_BACKEND=memory",
                                              "NO_AT_BRIDGE=1",
                                              "LANG=C.UTF-8"};
    environment.insert(environment.end(), session.begin(), session.end());
    return environment;
  }

  // Starts `vantlow --menu TREE` with the pointer at (x, y) and waits for
  // the popup.
  std::optional<ScreenWindow> OpenMenu(int x = 200, int y = 150) {
    driver_->MoveTo(x, y);
    vantlow_ = std::make_unique<Child>(
        std::vector<std::string>{VANTLOW_EXE, "--menu", "--plugins", VANTLOW_PLUGIN_DIR, tree_},
        Environment(), home_.path() + "/out", home_.path() + "/err");
    if (!vantlow_->started()) return std::nullopt;
    std::vector<ScreenWindow> menus = driver_->WaitForWindows(true, 1, 20s);
    if (menus.empty()) return std::nullopt;
    return menus.front();
  }

  // Clicks the menu's only item ("Sizes") and waits for its submenu.
  std::optional<ScreenWindow> OpenSubmenu(const ScreenWindow &menu) {
    driver_->MoveTo(menu.x + menu.width / 2, menu.y + menu.height / 2);
    driver_->Click();
    std::vector<ScreenWindow> menus = driver_->WaitForWindows(true, 2, 20s);
    if (menus.size() < 2) return std::nullopt;
    for (const ScreenWindow &w : menus)
      if (w.id != menu.id) return w;
    return std::nullopt;
  }

  std::string Diagnostics() const {
    return "stdout: " + ReadFile(home_.path() + "/out") +
           "\nstderr: " + ReadFile(home_.path() + "/err");
  }

  // The preferences files the plug-in wrote.
  std::vector<fs::path> PreferenceFiles() const {
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto &entry : fs::directory_iterator(fs::path(config_) / "vantlow", ec))
      if (entry.path().extension() == ".plist") files.push_back(entry.path());
    return files;
  }

  void WritePreferences(const std::string &dictBody) {
    fs::create_directories(fs::path(config_) / "vantlow");
    std::ofstream(fs::path(config_) / "vantlow" / (std::string(VANTLOW_BUNDLE_ID) + ".plist"))
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" << dictBody
        << "</dict></plist>\n";
  }

  void TearDown() override {
    vantlow_.reset();
    driver_.reset();
  }

  vantlow_test::TempDir home_;
  std::string tree_, config_, runtime_;
  std::unique_ptr<XServer> server_;
  std::unique_ptr<XDriver> driver_;
  std::unique_ptr<Child> vantlow_;
};

TEST(DesktopMenuWithoutDisplay, SaysSoAndExitsWithUsageStatus) {
  vantlow_test::TempDir home;
  Child vantlow({VANTLOW_EXE, "--menu", "--plugins", VANTLOW_PLUGIN_DIR, home.path()},
                {"PATH=/usr/bin:/bin", "HOME=" + home.path(), SanitizerEnvironment().back()},
                home.path() + "/out", home.path() + "/err");
  ASSERT_TRUE(vantlow.started());
  EXPECT_EQ(std::optional<int>(2), vantlow.Wait(20s));
  EXPECT_NE(std::string::npos, ReadFile(home.path() + "/err").find("display"))
      << ReadFile(home.path() + "/err");
}

// Escape closes the popup: nothing is chosen, nothing copied.
TEST_F(DesktopTest, EscapeClosesTheMenuWithoutChoosing) {
  std::optional<ScreenWindow> menu = OpenMenu();
  ASSERT_TRUE(menu) << "no popup appeared\n" << Diagnostics();
  driver_->Key(XK_Escape);
  ASSERT_EQ(std::optional<int>(0), vantlow_->Wait(20s)) << Diagnostics();
  EXPECT_EQ("", ReadFile(home_.path() + "/out"));
  EXPECT_TRUE(ProcessesNaming(tree_).empty()) << "a clipboard keeper stayed without a choice";
}

// A calculation without a time limit over a big folder, cancelled with a
// tap of Escape while the submenu is being filled: the main loop is blocked
// then, so the key reaches the plug-in only through the display server. The
// menu stays open and shows what was found so far, as a lower bound.
TEST_F(DesktopTest, EscapeTapCancelsTheCalculationAndTheMenuStays) {
  WritePreferences("<key>FileSize-LazyCalc</key><true/>"
                   "<key>FileSize-LimitTicks</key><integer>-1</integer>");
  tree_ = "/usr"; // tens of thousands of files on any machine that builds this
  std::optional<ScreenWindow> menu = OpenMenu();
  ASSERT_TRUE(menu) << "no popup appeared\n" << Diagnostics();
  driver_->MoveTo(menu->x + menu->width / 2, menu->y + menu->height / 2); // starts measuring
  std::this_thread::sleep_for(150ms);
  driver_->Key(XK_Escape);
  std::vector<ScreenWindow> menus = driver_->WaitForWindows(true, 2, 60s);
  ASSERT_EQ(2u, menus.size()) << "the menu did not stay open\n" << Diagnostics();
  const ScreenWindow &submenu = menus.front().id == menu->id ? menus.back() : menus.front();
  driver_->Screenshot(ArtifactPath("menu-cancelled.png"), menus);

  driver_->MoveTo(submenu.x + 40, submenu.y + menu->height / 2);
  std::this_thread::sleep_for(200ms);
  driver_->Click();
  ASSERT_EQ(std::optional<int>(0), vantlow_->Wait(20s)) << Diagnostics();
  EXPECT_EQ(0u, ReadFile(home_.path() + "/out").find("more than ")) << Diagnostics();
}

// Started from a file manager nobody reads standard error: when there is no
// menu to show, a window says why.
TEST_F(DesktopTest, NoMenuToShowIsExplainedInAWindow) {
  tree_ = home_.path() + "/gone";
  driver_->MoveTo(200, 150);
  vantlow_ = std::make_unique<Child>(
      std::vector<std::string>{VANTLOW_EXE, "--menu", "--plugins", VANTLOW_PLUGIN_DIR, tree_},
      Environment(), home_.path() + "/out", home_.path() + "/err");
  std::vector<ScreenWindow> windows = driver_->WaitForWindows(false, 1, 20s);
  ASSERT_FALSE(windows.empty()) << "no window explained the problem\n" << Diagnostics();
  driver_->Screenshot(ArtifactPath("problem.png"), windows);
  driver_->CloseWindow(windows.back().id);
  EXPECT_EQ(std::optional<int>(2), vantlow_->Wait(20s)) << Diagnostics();
  EXPECT_NE(std::string::npos, ReadFile(home_.path() + "/err").find("no PATH left"))
      << Diagnostics();
}

struct ClickCase {
  const char *name;
  bool deferred; // the plug-in measures only when the submenu opens
};

void PrintTo(const ClickCase &c, std::ostream *os) {
  *os << c.name;
}

class MenuClickTest : public DesktopTest, public ::testing::WithParamInterface<ClickCase> {};

// The line clicked in the submenu is on the clipboard after vantlow has
// gone: nobody else (no clipboard manager runs here) keeps it but the
// program's own background process.
TEST_P(MenuClickTest, ClickedLineStaysOnClipboardAfterExit) {
  if (!HaveProgram("xclip")) GTEST_SKIP() << "xclip is not installed";
  const ClickCase &c = GetParam();
  if (c.deferred) WritePreferences("<key>FileSize-LazyCalc</key><true/>");

  std::optional<ScreenWindow> menu = OpenMenu();
  ASSERT_TRUE(menu) << "no popup appeared\n" << Diagnostics();
  std::optional<ScreenWindow> submenu = OpenSubmenu(*menu);
  ASSERT_TRUE(submenu) << "the submenu did not open\n" << Diagnostics();
  driver_->Screenshot(ArtifactPath(std::string("menu-") + c.name + ".png"), {*menu, *submenu});

  // The submenu's first line sits level with the item that opened it.
  driver_->MoveTo(submenu->x + 40, submenu->y + menu->height / 2);
  std::this_thread::sleep_for(200ms);
  driver_->Click();
  ASSERT_EQ(std::optional<int>(0), vantlow_->Wait(20s)) << Diagnostics();
  EXPECT_TRUE(driver_->WaitForNoWindows(true, 5s));
  EXPECT_NE(std::string::npos, ReadFile(home_.path() + "/out").find(kCountLine)) << Diagnostics();

  Child xclip({"/usr/bin/xclip", "-o", "-selection", "clipboard"}, Environment(),
              home_.path() + "/clip", home_.path() + "/clip-err");
  ASSERT_EQ(std::optional<int>(0), xclip.Wait(10s)) << ReadFile(home_.path() + "/clip-err");
  EXPECT_EQ(kCountLine, ReadFile(home_.path() + "/clip")) << Diagnostics();

  // What kept the line (a process of vantlow's, nothing else runs here)
  // goes away once another program takes the clipboard.
  EXPECT_EQ(1u, ProcessesNaming(tree_).size());
  Child other({"/bin/sh", "-c", "printf other | xclip -i -selection clipboard"}, Environment(),
              "/dev/null", "/dev/null");
  ASSERT_EQ(std::optional<int>(0), other.Wait(10s));
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!ProcessesNaming(tree_).empty() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(ProcessesNaming(tree_).empty()) << "the clipboard keeper did not leave";
}

const ClickCase kClickCases[] = {{"Immediate", false}, {"Deferred", true}};
INSTANTIATE_TEST_SUITE_P(Modes, MenuClickTest, ::testing::ValuesIn(kClickCases),
                         [](const auto &p) { return std::string(p.param.name); });

struct DialogCase {
  const char *name;
  // Keys after the window appears, focus on OK: Shift-Tab reaches the
  // checkbox, Space toggles it, then the answer.
  std::vector<std::pair<unsigned long, bool>> keys;
  bool closeWindow; // then the window is closed as a window manager would
  bool saved;       // the choice reached the preferences file
};

void PrintTo(const DialogCase &c, std::ostream *os) {
  *os << c.name;
}

class SetupDialogTest : public DesktopTest, public ::testing::WithParamInterface<DialogCase> {};

TEST_P(SetupDialogTest, AnswerDecidesWhatIsSaved) {
  const DialogCase &c = GetParam();
  std::optional<ScreenWindow> menu = OpenMenu();
  ASSERT_TRUE(menu) << "no popup appeared\n" << Diagnostics();
  std::optional<ScreenWindow> submenu = OpenSubmenu(*menu);
  ASSERT_TRUE(submenu) << "the submenu did not open\n" << Diagnostics();

  // "Setup Period..." is the submenu's last line.
  driver_->MoveTo(submenu->x + 40, submenu->y + submenu->height - menu->height / 2);
  std::this_thread::sleep_for(200ms);
  driver_->Click();
  std::vector<ScreenWindow> windows = driver_->WaitForWindows(false, 1, 20s);
  ASSERT_FALSE(windows.empty()) << "the window did not open\n" << Diagnostics();
  const ScreenWindow &dialog = windows.back();
  driver_->MoveTo(dialog.x + dialog.width / 2, dialog.y + 10); // focus follows the pointer
  std::this_thread::sleep_for(300ms);
  driver_->Screenshot(ArtifactPath(std::string("dialog-") + c.name + ".png"), {dialog});

  for (const auto &[keysym, shift] : c.keys) {
    driver_->Key(keysym, shift);
    std::this_thread::sleep_for(100ms);
  }
  if (c.closeWindow) driver_->CloseWindow(dialog.id);
  ASSERT_EQ(std::optional<int>(0), vantlow_->Wait(20s)) << Diagnostics();
  EXPECT_TRUE(driver_->WaitForNoWindows(false, 5s));

  const std::vector<fs::path> files = PreferenceFiles();
  if (!c.saved) {
    EXPECT_TRUE(files.empty()) << "a cancelled window saved something";
    return;
  }
  ASSERT_EQ(1u, files.size());
  const std::string plist = ReadFile(files.front().string());
  const size_t key = plist.find("<key>FileSize-LazyCalc</key>");
  ASSERT_NE(std::string::npos, key) << plist;
  EXPECT_EQ(plist.find("<true/>", key), plist.find_first_of('<', key + 28)) << plist;
}

const DialogCase kDialogCases[] = {
    {"OkSavesTheChange",
     {{XK_Tab, true}, {XK_space, false}, {XK_Tab, false}, {XK_Return, false}},
     false,
     true},
    {"CancelSavesNothing",
     {{XK_Tab, true}, {XK_space, false}, {XK_Tab, false}, {XK_Tab, false}, {XK_space, false}},
     false,
     false},
    {"EscapeSavesNothing", {{XK_Tab, true}, {XK_space, false}, {XK_Escape, false}}, false, false},
    {"ClosingTheWindowSavesNothing", {{XK_Tab, true}, {XK_space, false}}, true, false},
};
INSTANTIATE_TEST_SUITE_P(Answers, SetupDialogTest, ::testing::ValuesIn(kDialogCases),
                         [](const auto &p) { return std::string(p.param.name); });

} // namespace
