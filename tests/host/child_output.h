// Running the built command as a child program and collecting what it
// prints, shared by the end-to-end tests: argv and envp for the exec
// functions, a run through posix_spawn with both outputs on pipes and a
// guard against hangs, reading the menu of a --json run back, and a
// fixture that gives each run a home with configuration, runtime and data
// folders of the test's own, so that no real preferences, scrap or
// clipboard are touched.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "test_support.h"

namespace vantlow_test {

// The built command, and its test build whose file-system calls can be made
// to fail or slowed down (VANTLOW_TEST_SYSCALL_FAIL, _ERRNO, _DELAY).
inline const std::string kVantlow = VANTLOW_EXE;
inline const std::string kVantlowWithFaults = VANTLOW_WITH_FAULTS_EXE;

// U+FFFD in UTF-8: what the command prints for bytes of a name that are not
// UTF-8.
inline const std::string kFFFD = "\xEF\xBF\xBD";

// The identifier of the plug-in the built command finds in the build tree.
inline const std::string kIdentifier = "org.vantlow.filesize";

// A child's environment, by variable name.
using Environment = std::map<std::string, std::string>;

// argv and envp as the exec functions want them, kept alive by the owner.
class ExecArgs {
public:
  ExecArgs(const std::string &exe, const std::vector<std::string> &args, const Environment &env) {
    args_.push_back(exe);
    args_.insert(args_.end(), args.begin(), args.end());
    for (const auto &[name, value] : env)
      env_.push_back(name + "=" + value);
    for (std::string &a : args_)
      argv_.push_back(a.data());
    argv_.push_back(nullptr);
    for (std::string &e : env_)
      envp_.push_back(e.data());
    envp_.push_back(nullptr);
  }
  char **argv() { return argv_.data(); }
  char **envp() { return envp_.data(); }

private:
  std::vector<std::string> args_, env_;
  std::vector<char *> argv_, envp_;
};

// The exit status of a wait status; 128 + n after signal n, -1 otherwise.
inline int StatusOf(int wait) {
  if (WIFEXITED(wait)) return WEXITSTATUS(wait);
  if (WIFSIGNALED(wait)) return 128 + WTERMSIG(wait);
  return -1;
}

// Reads both pipes until they close (or the deadline passes: the child is
// killed and a failure reported), closes them, reaps pid and returns its wait
// status.
inline int CollectChildOutput(pid_t pid, int outFd, int errFd,
                              std::chrono::steady_clock::time_point deadline,
                              const std::string &name, std::string *out, std::string *err) {
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string *sinks[2] = {out, err};
  int open = 2;
  while (open > 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << name << " did not finish";
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, 1000) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buffer[65536];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (pollfd &p : fds)
    if (p.fd >= 0) close(p.fd);
  int wait = 0;
  waitpid(pid, &wait, 0);
  return wait;
}

// What a child run left.
struct ChildResult {
  int status = -1; // the exit status; 128 + n after signal n
  std::string out;
  std::string err;
  double seconds = 0; // from the start to the child reaped
};

// Runs exe in a new session (no controlling terminal), standard input from
// /dev/null and only env as its environment, and collects both outputs; a
// run longer than hangGuard is killed and reported as a failure.
inline ChildResult RunChild(const std::string &exe, const std::vector<std::string> &args,
                            const Environment &env, std::chrono::steady_clock::duration hangGuard) {
  ChildResult result;
  const auto start = std::chrono::steady_clock::now();
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed: " << strerror(errno);
    return result;
  }
  if (pipe2(err, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe failed: " << strerror(errno);
    close(out[0]);
    close(out[1]);
    return result;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  ExecArgs exec(exe, args, env);
  pid_t pid = -1;
  int spawned = posix_spawn(&pid, exe.c_str(), &actions, &attributes, exec.argv(), exec.envp());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(out[1]);
  close(err[1]);
  if (spawned != 0) {
    ADD_FAILURE() << "cannot start " << exe << ": " << strerror(spawned);
    close(out[0]);
    close(err[0]);
    return result;
  }
  result.status = StatusOf(
      CollectChildOutput(pid, out[0], err[0], start + hangGuard, exe, &result.out, &result.err));
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

// ---- What a --json run printed ----

// The parsed standard output (a failure, and a discarded value, when it is
// not JSON).
inline nlohmann::ordered_json ParseJson(const ChildResult &r) {
  nlohmann::ordered_json root = nlohmann::ordered_json::parse(r.out, nullptr, false);
  EXPECT_FALSE(root.is_discarded()) << "not JSON: " << r.out << "\n" << r.err;
  return root;
}

// The Sizes submenu: the submenu of the menu's last top-level item (null
// when that item has none; a failure, and an empty array, when there is no
// menu).
inline nlohmann::ordered_json SizesSubmenu(const nlohmann::ordered_json &root) {
  if (!root.is_object() || !root.contains("menu") || !root["menu"].is_array() ||
      root["menu"].empty()) {
    ADD_FAILURE() << "no menu: " << root.dump();
    return nlohmann::ordered_json::array();
  }
  const nlohmann::ordered_json &last = root["menu"].back();
  return last.contains("submenu") ? last["submenu"] : nlohmann::ordered_json();
}

// The texts of a submenu's items by command ID (items without one left out).
inline std::map<int, std::string> TextsByCommand(const nlohmann::ordered_json &submenu) {
  std::map<int, std::string> texts;
  for (const nlohmann::ordered_json &item : submenu)
    if (item.contains("command")) texts[item["command"].get<int>()] = item["text"];
  return texts;
}

// A home of the test's own for runs of the command: its configuration,
// runtime (private, as XDG requires) and data folders inside it.
class ChildHomeTest : public ::testing::Test {
protected:
  void SetUp() override {
    config_ = home_.MakeDir("config");
    runtime_ = home_.MakeDir("runtime");
    chmod(runtime_.c_str(), 0700);
    data_ = home_.MakeDir("data");
  }

  // PATH, HOME, the three XDG folders and a UTF-8 locale; nothing else of
  // the test's own environment reaches the child.
  Environment HomeEnv() const {
    return {{"PATH", "/usr/bin:/bin"},     {"HOME", home_.path()},   {"XDG_CONFIG_HOME", config_},
            {"XDG_RUNTIME_DIR", runtime_}, {"XDG_DATA_HOME", data_}, {"LANG", "C.UTF-8"}};
  }

  // Where the command keeps the plug-in's preferences.
  std::string PreferencesPath() const { return config_ + "/vantlow/" + kIdentifier + ".plist"; }

  // Stores a property list whose top dictionary holds `entries` (XML) as
  // the plug-in's preferences.
  void WritePreferences(const std::string &entries) const {
    std::filesystem::create_directories(config_ + "/vantlow");
    std::ofstream(PreferencesPath())
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" << entries
        << "</dict></plist>\n";
  }

  TempDir home_;
  std::string config_, runtime_, data_;
};

} // namespace vantlow_test
