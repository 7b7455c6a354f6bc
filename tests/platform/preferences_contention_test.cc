// Preferences under contention: several processes save the same
// application's preferences at once, over and over, each with a complete set
// of values of its own, while this process reads them back. Every read must
// find exactly one save's complete values: never a mixture of two writers,
// never a cut or empty file. No save may fail, and when the writers are done
// nothing is left beside the file: no temporary file, and no file set aside
// as unreadable (which a writer would do had it ever read a half-written
// one).
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>
#include <vantlow/platform_testing.h>

#include "cf_objects.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using cf_test::Owned;

constexpr const char *kKeys[] = {"A", "B", "C", "D", "E"};
constexpr int kWriters = 3;
// Each writer saves for this long, at least kMinRounds and at most
// kMaxRounds times, so the test stays short on any machine yet contended.
constexpr auto kWriteFor = std::chrono::milliseconds(700);
constexpr int kMinRounds = 20;
constexpr int kMaxRounds = 500;
// A value names its writer and its round: writer * kRoundSpan + round.
constexpr SInt64 kRoundSpan = 1000000;

CFStringRef App() {
  return CFSTR("org.vantlow.contention");
}

// One writer: every round gives every key the same new value and saves.
// Exits with 0, or 1 when a save failed.
[[noreturn]] void Writer(int id) {
  VPPreferencesResetForTesting(); // start as a new process would
  const auto deadline = std::chrono::steady_clock::now() + kWriteFor;
  for (int round = 0; round < kMaxRounds; ++round) {
    if (round >= kMinRounds && std::chrono::steady_clock::now() >= deadline) break;
    Owned<CFNumberRef> value(cf_test::Int64(id * kRoundSpan + round));
    for (const char *key : kKeys) {
      Owned<CFStringRef> k(cf_test::Str(key));
      CFPreferencesSetAppValue(k.get(), value.get(), App());
    }
    if (!CFPreferencesAppSynchronize(App())) _exit(1);
  }
  _exit(0);
}

// What one read found wrong, or nothing when it found one save's values.
std::optional<std::string> Inconsistency(CFDictionaryRef values) {
  std::optional<SInt64> common;
  for (const char *key : kKeys) {
    Owned<CFStringRef> k(cf_test::Str(key));
    const void *v = CFDictionaryGetValue(values, k.get());
    SInt64 n = -1;
    if (!v || CFGetTypeID(v) != CFNumberGetTypeID() ||
        !CFNumberGetValue(static_cast<CFNumberRef>(v), kCFNumberSInt64Type, &n))
      return std::string("no integer under ") + key;
    if (common && *common != n)
      return std::string("keys of different saves: ") + std::to_string(*common) + " and " +
             std::to_string(n) + " under " + key;
    common = n;
  }
  if (*common < 0 || *common / kRoundSpan >= kWriters) return "a value no writer saved";
  if (CFDictionaryGetCount(values) != static_cast<CFIndex>(std::size(kKeys)))
    return "keys no writer saved";
  return std::nullopt;
}

class PreferencesContention : public ::testing::Test {
protected:
  void SetUp() override { VPPreferencesResetForTesting(); }
  void TearDown() override { VPPreferencesResetForTesting(); }

  std::string Folder() const { return dir_.path() + "/config/vantlow"; }
  std::string File() const { return Folder() + "/org.vantlow.contention.plist"; }

  // The file's bytes as a property list; no value when there is no file yet.
  std::optional<std::optional<std::string>> ReadFile() const {
    std::ifstream in(File(), std::ios::binary);
    if (!in) return std::nullopt;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Owned<CFDataRef> data(CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(bytes.data()),
                                       static_cast<CFIndex>(bytes.size())));
    Owned<CFTypeRef> plist(CFPropertyListCreateWithData(
        nullptr, data.get(), kCFPropertyListImmutable, nullptr, nullptr));
    if (!plist || CFGetTypeID(plist.get()) != CFDictionaryGetTypeID())
      return std::optional<std::string>("not a dictionary: " + std::to_string(bytes.size()) +
                                        " bytes");
    return Inconsistency(static_cast<CFDictionaryRef>(plist.get()));
  }

  // The values as a fresh reader of the preferences sees them; no value
  // when nothing was saved yet.
  std::optional<std::optional<std::string>> ReadPreferences() const {
    if (!fs::exists(File())) return std::nullopt;
    VPPreferencesResetForTesting();
    Owned<CFMutableDictionaryRef> values(CFDictionaryCreateMutable(
        nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
    for (const char *key : kKeys) {
      Owned<CFStringRef> k(cf_test::Str(key));
      Owned<CFTypeRef> v(CFPreferencesCopyAppValue(k.get(), App()));
      if (v) CFDictionarySetValue(values.get(), k.get(), v.get());
    }
    VPPreferencesResetForTesting();
    return Inconsistency(values.get());
  }

  vantlow_test::TempDir dir_;

private:
  // The preferences folders in dir_ while the test runs.
  vantlow_test::ScopedEnv configHome_{"XDG_CONFIG_HOME", dir_.path() + "/config"};
  vantlow_test::ScopedEnv home_{"HOME", dir_.path() + "/home"};
};

TEST_F(PreferencesContention, EveryReadFindsOneSavesCompleteValues) {
  std::vector<pid_t> writers;
  for (int id = 0; id < kWriters; ++id) {
    const pid_t pid = fork();
    if (pid == 0) Writer(id);
    ASSERT_GT(pid, 0);
    writers.push_back(pid);
  }

  // Read, alternately the file itself and through the preferences, until
  // every writer is done.
  int reads = 0, bad = 0;
  std::string firstFault;
  std::vector<int> status(writers.size(), 0);
  std::vector<bool> done(writers.size(), false);
  for (std::size_t running = writers.size(); running > 0;) {
    for (std::size_t i = 0; i < writers.size(); ++i) {
      if (!done[i] && waitpid(writers[i], &status[i], WNOHANG) == writers[i]) {
        done[i] = true;
        --running;
      }
    }
    const auto found = reads % 2 ? ReadPreferences() : ReadFile();
    if (!found) continue; // nothing saved yet
    ++reads;
    if (*found && bad++ == 0) firstFault = **found;
  }

  for (int s : status)
    EXPECT_TRUE(WIFEXITED(s) && WEXITSTATUS(s) == 0) << "a save failed";
  EXPECT_GT(reads, 0) << "no read overlapped the saves";
  EXPECT_EQ(bad, 0) << "bad reads of " << reads << ", the first: " << firstFault;
  const auto last = ReadFile();
  ASSERT_TRUE(last.has_value());
  EXPECT_FALSE(last->has_value()) << **last;
  std::vector<std::string> beside;
  for (const auto &entry : fs::directory_iterator(Folder()))
    if (entry.path() != File()) beside.push_back(entry.path().filename().string());
  EXPECT_TRUE(beside.empty()) << beside.front();
}

} // namespace
