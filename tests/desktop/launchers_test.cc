// The launchers as `cmake --install` puts them under a temporary prefix, and
// vantlow-install-launchers from there, run for a user whose home is a
// temporary folder: what it installs for each file manager, that a second run changes
// nothing, that Thunar's uca.xml keeps the user's own actions (and is left
// alone when it cannot be understood), that --uninstall takes out exactly
// what was put in, and that the Nautilus script hands each selected path,
// spaces and all, to vantlow as one argument.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using vantlow::testing::Child;
using vantlow::testing::ReadFile;

constexpr char kTheirAction[] = "<action>\n"
                                "\t<icon>utilities-terminal</icon>\n"
                                "\t<name>Open Terminal Here</name>\n"
                                "\t<unique-id>1234-1</unique-id>\n"
                                "\t<command>exo-open --working-directory %f</command>\n"
                                "\t<patterns>*</patterns>\n"
                                "\t<directories/>\n"
                                "</action>\n";

class LaunchersTest : public ::testing::Test {
protected:
  void SetUp() override {
    Child install({VANTLOW_CMAKE_COMMAND, "--install", VANTLOW_BINARY_DIR, "--component",
                   "launchers", "--prefix", prefix_.path()},
                  {"PATH=/usr/bin:/bin"}, prefix_.path() + "/install-out",
                  prefix_.path() + "/install-err");
    ASSERT_EQ(std::optional<int>(0), install.Wait(60s))
        << ReadFile(prefix_.path() + "/install-err");
    vantlow_ = prefix_.path() + "/bin/vantlow";
  }

  // Runs the installed vantlow-install-launchers with args; its exit status.
  int Install(const std::vector<std::string> &args) {
    std::vector<std::string> argv = {"/bin/sh", prefix_.path() + "/bin/vantlow-install-launchers"};
    argv.insert(argv.end(), args.begin(), args.end());
    Child child(argv, {"PATH=/usr/bin:/bin", "HOME=" + home_.path()}, home_.path() + "/out",
                home_.path() + "/err");
    return child.Wait(30s).value_or(-1000);
  }
  std::string Path(const std::string &relative) const { return home_.path() + "/" + relative; }
  std::string Uca() const { return ReadFile(Path(".config/Thunar/uca.xml")); }
  static bool Executable(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR);
  }
  static size_t Count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
      ++n;
    return n;
  }

  vantlow_test::TempDir prefix_;
  vantlow_test::TempDir home_;
  std::string vantlow_; // where the launchers expect the program
};

// For every user: Nemo's action and Dolphin's service menu in the prefix's
// share folder, naming the installed program.
TEST_F(LaunchersTest, SystemLaunchersNameTheInstalledProgram) {
  const std::string nemo = prefix_.path() + "/share/nemo/actions/vantlow.nemo_action";
  const std::string dolphin = prefix_.path() + "/share/kio/servicemenus/vantlow.desktop";
  EXPECT_NE(std::string::npos, ReadFile(nemo).find("Exec=" + vantlow_ + " --menu -- %F"))
      << ReadFile(nemo);
  EXPECT_TRUE(Executable(dolphin)); // Dolphin ignores a service menu without it
  EXPECT_NE(std::string::npos, ReadFile(dolphin).find("Exec=" + vantlow_ + " --menu -- %F"))
      << ReadFile(dolphin);
}

TEST_F(LaunchersTest, InstallsPerUserLaunchersOnceHoweverOftenRun) {
  ASSERT_EQ(0, Install({})) << ReadFile(Path("err"));
  const std::string script = Path(".local/share/nautilus/scripts/Vantlow Sizes");
  EXPECT_TRUE(Executable(script));
  EXPECT_NE(std::string::npos, ReadFile(script).find("--menu"));
  const std::string first = Uca();
  EXPECT_EQ(1u, Count(first, "<unique-id>vantlow-sizes</unique-id>")) << first;
  EXPECT_NE(std::string::npos, first.find("<command>'" + vantlow_ + "' --menu -- %F</command>"))
      << first;
  // Nemo and Dolphin come from the system's share folder unless --all.
  EXPECT_FALSE(fs::exists(Path(".local/share/nemo/actions/vantlow.nemo_action")));

  ASSERT_EQ(0, Install({})) << ReadFile(Path("err"));
  EXPECT_EQ(first, Uca());
}

TEST_F(LaunchersTest, ThunarKeepsTheUsersActionsAndUninstallRestoresTheFile) {
  fs::create_directories(Path(".config/Thunar"));
  const std::string original =
      std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n") + kTheirAction +
      "</actions>\n";
  std::ofstream(Path(".config/Thunar/uca.xml")) << original;

  ASSERT_EQ(0, Install({})) << ReadFile(Path("err"));
  const std::string installed = Uca();
  EXPECT_NE(std::string::npos, installed.find(kTheirAction)) << installed;
  EXPECT_EQ(1u, Count(installed, "<unique-id>vantlow-sizes</unique-id>")) << installed;
  EXPECT_EQ(1u, Count(installed, "</actions>")) << installed;

  ASSERT_EQ(0, Install({"--uninstall"})) << ReadFile(Path("err"));
  EXPECT_EQ(original, Uca());
  EXPECT_FALSE(fs::exists(Path(".local/share/nautilus/scripts/Vantlow Sizes")));
}

TEST_F(LaunchersTest, UcaFileItCannotUnderstandIsLeftUnchanged) {
  fs::create_directories(Path(".config/Thunar"));
  const std::string broken = std::string("<actions>\n") + kTheirAction; // cut short
  std::ofstream(Path(".config/Thunar/uca.xml")) << broken;
  EXPECT_NE(0, Install({}));
  EXPECT_EQ(broken, Uca());
  EXPECT_NE(std::string::npos, ReadFile(Path("err")).find("uca.xml")) << ReadFile(Path("err"));
}

TEST_F(LaunchersTest, AllAddsNemoAndDolphinAndUninstallTakesEverythingOut) {
  ASSERT_EQ(0, Install({"--all"})) << ReadFile(Path("err"));
  const std::string nemo = Path(".local/share/nemo/actions/vantlow.nemo_action");
  const std::string dolphin = Path(".local/share/kio/servicemenus/vantlow.desktop");
  EXPECT_NE(std::string::npos, ReadFile(nemo).find("Exec=" + vantlow_ + " --menu -- %F"));
  EXPECT_TRUE(Executable(dolphin));
  EXPECT_NE(std::string::npos, ReadFile(dolphin).find("Exec=" + vantlow_ + " --menu -- %F"));

  ASSERT_EQ(0, Install({"--uninstall"})) << ReadFile(Path("err"));
  EXPECT_FALSE(fs::exists(nemo));
  EXPECT_FALSE(fs::exists(dolphin));
  EXPECT_EQ(0u, Count(Uca(), "vantlow-sizes"));
}

TEST_F(LaunchersTest, UnknownArgumentIsAUsageError) {
  EXPECT_EQ(2, Install({"--frob"}));
  EXPECT_FALSE(fs::exists(Path(".local/share/nautilus")));
}

// The Nautilus script, pointed at a recorder in place of vantlow: each
// line of NAUTILUS_SCRIPT_SELECTED_FILE_PATHS is one argument.
TEST_F(LaunchersTest, NautilusScriptPassesEachSelectedPathWhole) {
  ASSERT_EQ(0, Install({})) << ReadFile(Path("err"));
  std::string script = ReadFile(Path(".local/share/nautilus/scripts/Vantlow Sizes"));
  const std::string quoted = "'" + vantlow_ + "'";
  const size_t at = script.find(quoted);
  ASSERT_NE(std::string::npos, at) << script;
  const std::string recorder =
      home_.MakeFile("recorder", "#!/bin/sh\nfor a; do echo \"[$a]\"; done\n");
  chmod(recorder.c_str(), 0755);
  script.replace(at, quoted.size(), "'" + recorder + "'");
  const std::string copy = home_.MakeFile("script", script);

  Child child({"/bin/sh", copy},
              {"PATH=/usr/bin:/bin",
               "NAUTILUS_SCRIPT_SELECTED_FILE_PATHS=/tmp/a b/one.txt\n/tmp/*\n/tmp/two\n"},
              Path("recorded"), Path("recorded-err"));
  ASSERT_EQ(std::optional<int>(0), child.Wait(10s)) << ReadFile(Path("recorded-err"));
  EXPECT_EQ("[--menu]\n[--]\n[/tmp/a b/one.txt]\n[/tmp/*]\n[/tmp/two]\n",
            ReadFile(Path("recorded")));
}

} // namespace
