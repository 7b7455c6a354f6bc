// measure_bench: how fast, and in how much memory, the plug-in measures a
// large tree, next to du (and ncdu and gdu when installed) on the same tree,
// and next to min_walk, the least work that sizes a tree on one thread.
//
//   measure_bench [--files N] [--small N] [--dir DIR] [--seed S] [--repeat R]
//
// It makes (or reuses) two deterministic trees under DIR, of N and of SMALL
// files, and for each:
// - walks it once with every tool so the page cache is warm;
// - checks the figures: a plain reference walk here counts files, folders,
//   invisible items and adds up st_size and st_blocks x 512 by the rules the
//   plug-in follows (symbolic links not followed and counted as files with
//   their own sizes, a "._x" sidecar beside "x" is x's resource fork and no
//   item, the top folder counted); the plug-in's figures must equal them,
//   and du's totals must equal the reference walk's own totals of every
//   inode. Any difference is printed and the program exits with 1;
// - times each tool R times in a child process of its own (fork and exec,
//   wait4 for CPU time and peak RSS; the plug-in's walk runs in a fresh
//   exec of this program, so its RSS is its own) and prints the median wall
//   time, the median CPU time and the largest peak RSS.
// Then it compares the plug-in's time per file on the two trees, and runs
// the time limit in practice: with a limit of half the full walk, the
// calculation must stop with userCanceledErr; it prints how far past the
// limit it returned.
//
//   measure_bench --walk DIR [--limit TICKS]
//
// runs one calculation over DIR in this process and prints its figures (the
// child mode; also handy under perf).
#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

#include <Carbon/Carbon.h>
#include <CoreFoundation/CoreFoundation.h>

#include "size_accumulation.h"
#include "tree_gen.h"

namespace {

using vantlow_bench::TreeRecipe;
using vantlow_bench::TreeShape;

constexpr double kTickMs = 1000.0 / 60.0;

double NowMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// ---- The figures ----

struct Figures {
  OSStatus result = noErr;
  long files = 0, folders = 0, invisibleFiles = 0, invisibleFolders = 0, unscannable = 0;
  std::uint64_t dataLogical = 0, dataPhysical = 0, rsrcLogical = 0, rsrcPhysical = 0;
  double callMs = 0; // the walk mode: the time of the call itself
};

// ---- Child mode: one calculation ----

void PrintFigures(OSStatus result, const MyFileSizeData &figures, double ms) {
  std::printf("RESULT %d %d %d %d %d %u %" PRIu64 " %" PRIu64 " %" PRIu64 " %" PRIu64 " %.3f\n",
              static_cast<int>(result), figures.fileCount, figures.folderCount,
              figures.invisibleFileCount, figures.invisibleFolderCount,
              figures.unscannableFolderCount, figures.dataLogicalTotal, figures.dataPhysicalTotal,
              figures.rsrcLogicalTotal, figures.rsrcPhysicalTotal, ms);
}

int WalkMode(const char *path, SInt32 limit) {
  FSRef ref;
  if (FSPathMakeRef(reinterpret_cast<const UInt8 *>(path), &ref, nullptr) != noErr) {
    std::fprintf(stderr, "measure_bench: no item at %s\n", path);
    return 2;
  }
  CFDataRef data = CFDataCreate(nullptr, ref.hidden, sizeof ref.hidden);
  CFMutableArrayRef refs = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
  if (!data || !refs) return 3;
  CFArrayAppendValue(refs, data);
  CFRelease(data);
  MyFileSizeData figures{};
  const double start = NowMs();
  const OSStatus result = CalculateFileSizeForTarget(refs, &figures, limit);
  const double ms = NowMs() - start;
  CFRelease(refs);
  PrintFigures(result, figures, ms);
  return 0;
}

// ---- Child mode: the batched walk ----
//
// Not the plug-in's walk: the same figures through the same File Manager,
// asked the other way. Each FSGetCatalogInfoBulk call brings up to 64 items
// with their node flags, sizes and names, so the platform stats a batch in a
// row; the plug-in's walk makes one data object per item and asks three
// calls about each. The difference between the two is what that per-item
// shape costs on top of the File Manager's own work.

constexpr UInt8 kReadAndSearch = kioACAccessUserReadMask | kioACAccessUserSearchMask;

// By the name alone: a volume root's ".hidden" list, which the generated
// trees never hold, is not read here.
bool Invisible(const HFSUniStr255 &name) {
  return name.length > 0 && name.unicode[0] == u'.';
}

// Adds what lies in the folder, and below its folders, to *f.
OSErr BatchedFolder(const FSRef &folder, MyFileSizeData *f) {
  constexpr ItemCount kBatch = 64;
  std::vector<FSRef> subfolders;
  FSIterator iterator = nullptr;
  OSErr err = FSOpenIterator(&folder, kFSIterateFlat, &iterator);
  if (err != noErr) return err;
  {
    // One batch at a time: the arrays are free again before the walk goes a
    // level deeper, and 32 KiB of names need not sit on every level's stack.
    static FSRef refs[kBatch];
    static FSCatalogInfo infos[kBatch];
    static HFSUniStr255 names[kBatch];
    for (;;) {
      ItemCount count = 0;
      err = FSGetCatalogInfoBulk(iterator, kBatch, &count, nullptr,
                                 kFSCatInfoNodeFlags | kFSCatInfoDataSizes | kFSCatInfoRsrcSizes,
                                 infos, refs, nullptr, names);
      if (err != noErr && err != errFSNoMoreItems) break;
      for (ItemCount i = 0; i < count; ++i) {
        const bool invisible = Invisible(names[i]);
        if (infos[i].nodeFlags & kFSNodeIsDirectoryMask) {
          f->folderCount += 1;
          f->invisibleFolderCount += invisible;
          subfolders.push_back(refs[i]);
        } else {
          f->fileCount += 1;
          f->invisibleFileCount += invisible;
          f->dataLogicalTotal += infos[i].dataLogicalSize;
          f->dataPhysicalTotal += infos[i].dataPhysicalSize;
          f->rsrcLogicalTotal += infos[i].rsrcLogicalSize;
          f->rsrcPhysicalTotal += infos[i].rsrcPhysicalSize;
        }
      }
      if (err == errFSNoMoreItems) {
        err = noErr;
        break;
      }
    }
  }
  FSCloseIterator(iterator);
  if (err != noErr) return err;
  for (const FSRef &sub : subfolders) {
    FSCatalogInfo access;
    if (FSGetCatalogInfo(&sub, kFSCatInfoUserAccess, &access, nullptr, nullptr, nullptr) != noErr ||
        (access.permissions.userAccess & kReadAndSearch) != kReadAndSearch) {
      f->unscannableFolderCount += 1;
      continue;
    }
    if ((err = BatchedFolder(sub, f)) != noErr) return err;
  }
  return noErr;
}

int BatchedWalkMode(const char *path) {
  FSRef ref;
  HFSUniStr255 name;
  FSCatalogInfo access;
  if (FSPathMakeRef(reinterpret_cast<const UInt8 *>(path), &ref, nullptr) != noErr ||
      FSGetCatalogInfo(&ref, kFSCatInfoUserAccess, &access, &name, nullptr, nullptr) != noErr) {
    std::fprintf(stderr, "measure_bench: no item at %s\n", path);
    return 2;
  }
  MyFileSizeData figures{};
  figures.folderCount = 1; // the selected folder, as the plug-in counts it
  figures.invisibleFolderCount = Invisible(name);
  const double start = NowMs();
  OSStatus result = noErr;
  if ((access.permissions.userAccess & kReadAndSearch) != kReadAndSearch)
    figures.unscannableFolderCount = 1;
  else
    result = BatchedFolder(ref, &figures);
  const double ms = NowMs() - start;
  PrintFigures(result, figures, ms);
  return 0;
}

bool ParseWalk(const std::string &out, Figures *f) {
  const std::size_t at = out.find("RESULT ");
  if (at == std::string::npos) return false;
  int result = 0;
  unsigned unscannable = 0;
  int files = 0, folders = 0, invFiles = 0, invFolders = 0;
  if (std::sscanf(out.c_str() + at,
                  "RESULT %d %d %d %d %d %u %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %lf",
                  &result, &files, &folders, &invFiles, &invFolders, &unscannable, &f->dataLogical,
                  &f->dataPhysical, &f->rsrcLogical, &f->rsrcPhysical, &f->callMs) != 11)
    return false;
  f->result = result;
  f->files = files;
  f->folders = folders;
  f->invisibleFiles = invFiles;
  f->invisibleFolders = invFolders;
  f->unscannable = unscannable;
  return true;
}

// ---- The reference walk ----

struct Reference {
  Figures figures;
  std::uint64_t allApparent = 0; // st_size of every inode below and with the top: du -sb
  std::uint64_t allBlocks = 0;   // st_blocks x 512 of the same: du -s in bytes
  std::uint64_t allEntries = 0;  // every name below the top, sidecars included
  long largestFolder = 0;
  std::string error;
};

std::uint32_t BigEndian32(const unsigned char *p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

// The length of the resource-fork entry of an AppleDouble file, 0 when it
// has none or is not one.
std::uint64_t ForkLength(int dirfd, const char *name) {
  const int fd = openat(dirfd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st;
  std::uint64_t length = 0;
  unsigned char head[26];
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && pread(fd, head, 26, 0) == 26 &&
      BigEndian32(head) == 0x00051607 &&
      (BigEndian32(head + 4) == 0x00010000 || BigEndian32(head + 4) == 0x00020000)) {
    const std::uint64_t count = static_cast<std::uint64_t>(head[24]) << 8 | head[25];
    const std::uint64_t tableEnd = 26 + 12 * count;
    const std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    std::vector<unsigned char> table(12 * count);
    if (tableEnd <= size &&
        pread(fd, table.data(), table.size(), 26) == static_cast<ssize_t>(table.size())) {
      for (std::uint64_t i = 0; i < count; ++i) {
        const unsigned char *e = table.data() + 12 * i;
        if (BigEndian32(e) != 2) continue;
        const std::uint64_t offset = BigEndian32(e + 4), entry = BigEndian32(e + 8);
        if (entry == 0 || (offset >= tableEnd && offset + entry <= size)) length = entry;
        break;
      }
    }
  }
  close(fd);
  return length;
}

void AddInode(Reference *r, const struct stat &st) {
  r->allApparent += static_cast<std::uint64_t>(st.st_size);
  r->allBlocks += static_cast<std::uint64_t>(st.st_blocks) * 512;
}

void ReferenceFolder(int fd, std::uint64_t fragment, Reference *r) {
  DIR *dir = fdopendir(fd);
  if (!dir) {
    r->error = std::string("fdopendir: ") + std::strerror(errno);
    close(fd);
    return;
  }
  std::vector<std::string> names;
  while (dirent *e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
      names.emplace_back(e->d_name);
  }
  const std::unordered_set<std::string> present(names.begin(), names.end());
  r->largestFolder = std::max(r->largestFolder, static_cast<long>(names.size()));
  r->allEntries += names.size();
  const int dfd = dirfd(dir);
  for (const std::string &name : names) {
    struct stat st;
    if (fstatat(dfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      r->error = "fstatat " + name + ": " + std::strerror(errno);
      break;
    }
    AddInode(r, st);
    Figures &f = r->figures;
    if (name.size() > 2 && name.compare(0, 2, "._") == 0 && present.count(name.substr(2))) {
      // A partnered sidecar: its partner's resource fork. A folder's fork is
      // not counted: folders are counted, never sized.
      struct stat partner;
      if (fstatat(dfd, name.c_str() + 2, &partner, AT_SYMLINK_NOFOLLOW) == 0 &&
          !S_ISDIR(partner.st_mode)) {
        const std::uint64_t fork = ForkLength(dfd, name.c_str());
        f.rsrcLogical += fork;
        f.rsrcPhysical += (fork + fragment - 1) / fragment * fragment;
      }
      continue;
    }
    const bool invisible = name[0] == '.';
    if (S_ISDIR(st.st_mode)) {
      f.folders += 1;
      f.invisibleFolders += invisible;
      const int sub = openat(dfd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) {
        r->error = "open " + name + ": " + std::strerror(errno);
        break;
      }
      ReferenceFolder(sub, fragment, r);
      if (!r->error.empty()) break;
    } else {
      f.files += 1;
      f.invisibleFiles += invisible;
      f.dataLogical += static_cast<std::uint64_t>(st.st_size);
      f.dataPhysical += static_cast<std::uint64_t>(st.st_blocks) * 512;
    }
  }
  closedir(dir);
}

Reference ReferenceWalk(const std::string &root) {
  Reference r;
  struct stat st;
  struct statvfs vfs;
  const int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || fstat(fd, &st) != 0 || fstatvfs(fd, &vfs) != 0) {
    r.error = "cannot open " + root;
    if (fd >= 0) close(fd);
    return r;
  }
  AddInode(&r, st);
  r.figures.folders = 1; // the selected folder itself
  r.figures.invisibleFolders = root.substr(root.rfind('/') + 1)[0] == '.';
  ReferenceFolder(fd, vfs.f_frsize ? vfs.f_frsize : 1, &r);
  return r;
}

// ---- Running a tool in a child ----

struct Run {
  double wallMs = 0, cpuMs = 0;
  long peakRssKiB = 0;
  int status = -1;
  std::string out;
};

Run RunCommand(const std::vector<std::string> &args) {
  Run run;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return run;
  const double start = NowMs();
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], 1);
    std::vector<char *> argv;
    for (const std::string &a : args)
      argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  close(pipeFds[1]);
  char buf[4096];
  ssize_t n;
  while ((n = read(pipeFds[0], buf, sizeof buf)) > 0)
    run.out.append(buf, static_cast<size_t>(n));
  close(pipeFds[0]);
  struct rusage usage {};
  if (pid > 0 && wait4(pid, &run.status, 0, &usage) == pid) {
    run.wallMs = NowMs() - start;
    run.cpuMs = (static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                 static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3);
    run.peakRssKiB = usage.ru_maxrss;
  }
  return run;
}

bool Installed(const char *tool) {
  return RunCommand({"sh", "-c", std::string("command -v ") + tool + " >/dev/null"}).status == 0;
}

// A tool's runs summed up: the median wall time and the median CPU time,
// each on its own (on a shared machine the two disturbances differ), and the
// largest peak RSS. The status is the first one that was not 0.
Run Median(const std::vector<Run> &runs) {
  std::vector<double> walls, cpus;
  Run summary = runs[0];
  for (const Run &r : runs) {
    walls.push_back(r.wallMs);
    cpus.push_back(r.cpuMs);
    summary.peakRssKiB = std::max(summary.peakRssKiB, r.peakRssKiB);
    if (summary.status == 0) summary.status = r.status;
  }
  std::sort(walls.begin(), walls.end());
  std::sort(cpus.begin(), cpus.end());
  summary.wallMs = walls[walls.size() / 2];
  summary.cpuMs = cpus[cpus.size() / 2];
  return summary;
}

// The median of one tool's throughput relative to another's, round by round:
// within a round the two ran a moment apart, so a machine whose speed
// drifts over minutes shifts both, and the ratio less than either time.
struct Ratios {
  double wall = 0, cpu = 0;
};
Ratios MedianRatios(const std::vector<Run> &tool, const std::vector<Run> &base) {
  std::vector<double> walls, cpus;
  for (std::size_t i = 0; i < tool.size() && i < base.size(); ++i) {
    walls.push_back(base[i].wallMs / tool[i].wallMs);
    cpus.push_back(base[i].cpuMs / tool[i].cpuMs);
  }
  std::sort(walls.begin(), walls.end());
  std::sort(cpus.begin(), cpus.end());
  return {walls[walls.size() / 2], cpus[cpus.size() / 2]};
}

struct Tool {
  std::string name;
  std::vector<std::string> args;
  Run run;
  Ratios toDu; // throughput relative to du -s, above 1 is faster
};

std::string SelfPath() {
  char buf[4096];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string("measure_bench");
}

// min_walk is built beside this program.
std::string MinWalkPath() {
  const std::string self = SelfPath();
  const std::size_t slash = self.rfind('/');
  return (slash == std::string::npos ? std::string() : self.substr(0, slash + 1)) + "min_walk";
}

// ---- One tree ----

struct TreeResult {
  double callMs = 0;  // the median time of the calculation itself, in its process
  double entryMs = 0; // the calculation's time per entry (files and folders)
  Reference reference;
  bool ok = true;
};

int Mismatch(const char *what, std::uint64_t got, std::uint64_t expected) {
  if (got == expected) return 0;
  std::printf("  MISMATCH %s: %" PRIu64 ", expected %" PRIu64 "\n", what, got, expected);
  return 1;
}

TreeResult MeasureTree(const std::string &root, const TreeShape &shape, int repeat) {
  TreeResult result;
  const std::string self = SelfPath();
  // The first four, by position.
  enum { kWalk, kDu, kDuApparent, kBatched };
  std::vector<Tool> tools = {
      {"vantlow CalculateFileSizeForTarget", {self, "--walk", root}, {}, {}},
      {"du -s", {"du", "-s", root}, {}, {}},
      {"du -s --apparent-size", {"du", "-s", "--apparent-size", root}, {}, {}},
      {"File Manager, batched (not the walk)", {self, "--walk", root, "--batched"}, {}, {}},
  };
  std::vector<std::string> absent;
  if (Installed("ncdu"))
    tools.push_back({"ncdu -0 -o /dev/null", {"ncdu", "-0", "-o", "/dev/null", root}, {}, {}});
  else
    absent.push_back("ncdu");
  if (Installed("gdu"))
    tools.push_back({"gdu -n -p", {"gdu", "-n", "-p", root}, {}, {}});
  else
    absent.push_back("gdu");
  const std::string minWalk = MinWalkPath();
  const bool haveMinWalk = access(minWalk.c_str(), X_OK) == 0;
  const std::vector<std::string> minWalkArgs = {minWalk, root};
  if (haveMinWalk)
    tools.push_back({"min_walk (one thread's ceiling)", minWalkArgs, {}, {}});
  else
    absent.push_back("min_walk (build the bench target)");

  // Warm the page cache: one walk with every tool, untimed.
  for (Tool &t : tools)
    RunCommand(t.args);

  // ---- The figures ----
  result.reference = ReferenceWalk(root);
  const Reference &ref = result.reference;
  if (!ref.error.empty()) {
    std::printf("  reference walk failed: %s\n", ref.error.c_str());
    result.ok = false;
    return result;
  }
  const Figures &f = ref.figures;
  int bad = 0;
  // Runs a walk of this program and compares its figures with the file
  // system's, each difference named after `who`; false when it printed none.
  auto checkWalk = [&](const Tool &tool, const std::string &who, Figures *got) {
    const Run check = RunCommand(tool.args);
    if (!ParseWalk(check.out, got)) {
      std::printf("  MISMATCH: %s printed no figures (status %d)\n", tool.name.c_str(),
                  check.status);
      return false;
    }
    auto compare = [&](const char *what, std::uint64_t value, std::uint64_t expected) {
      bad += Mismatch((who + what).c_str(), value, expected);
    };
    compare("result", static_cast<std::uint64_t>(got->result), noErr);
    compare("files", got->files, f.files);
    compare("folders", got->folders, f.folders);
    compare("invisible files", got->invisibleFiles, f.invisibleFiles);
    compare("invisible folders", got->invisibleFolders, f.invisibleFolders);
    compare("unscannable folders", got->unscannable, 0);
    compare("data logical (st_size)", got->dataLogical, f.dataLogical);
    compare("data physical (st_blocks x 512)", got->dataPhysical, f.dataPhysical);
    compare("resource logical", got->rsrcLogical, f.rsrcLogical);
    compare("resource physical", got->rsrcPhysical, f.rsrcPhysical);
    return true;
  };
  Figures ours, batched;
  if (!checkWalk(tools[kBatched], tools[kBatched].name + ": ", &batched) ||
      !checkWalk(tools[kWalk], "", &ours)) {
    result.ok = false;
    return result;
  }
  bad += Mismatch("files made by the generator", f.files, shape.files);
  bad += Mismatch("folders made by the generator", f.folders, shape.folders);
  // du counts every inode once, in KiB rounded up.
  const std::uint64_t duBlocks =
      std::strtoull(RunCommand(tools[kDu].args).out.c_str(), nullptr, 10);
  const std::uint64_t duApparent =
      std::strtoull(RunCommand(tools[kDuApparent].args).out.c_str(), nullptr, 10);
  bad += Mismatch("du -s (KiB)", duBlocks, (ref.allBlocks + 1023) / 1024);
  bad += Mismatch("du -s --apparent-size (KiB)", duApparent, (ref.allApparent + 1023) / 1024);
  if (haveMinWalk) {
    // min_walk knows no sidecars: it sees every entry below the top, and
    // every folder with the top.
    unsigned long long entries = 0, folders = 0;
    const Run run = RunCommand(minWalkArgs);
    if (run.status != 0 ||
        std::sscanf(run.out.c_str(), "MINWALK %llu %llu", &entries, &folders) != 2) {
      std::printf("  MISMATCH: min_walk failed (status %d)\n", run.status);
      ++bad;
    } else {
      bad += Mismatch("min_walk entries", entries, ref.allEntries);
      bad += Mismatch("min_walk folders", folders, static_cast<std::uint64_t>(f.folders));
    }
  }
  std::printf("  figures: %ld files (%ld invisible), %ld folders (%ld invisible); data %" PRIu64
              " bytes logical, %" PRIu64 " physical; resource forks %" PRIu64 " logical, %" PRIu64
              " physical: %s\n",
              ours.files, ours.invisibleFiles, ours.folders, ours.invisibleFolders,
              ours.dataLogical, ours.dataPhysical, ours.rsrcLogical, ours.rsrcPhysical,
              bad ? "DIFFER from the file system" : "equal to the file system and to du");
  if (bad) {
    result.ok = false;
    return result;
  }

  // ---- The times ----
  // The tools take turns, round after round: the speed of a virtual machine
  // drifts over minutes, and this way the drift weighs on every tool alike.
  std::vector<std::vector<Run>> runs(tools.size());
  for (int round = 0; round < repeat; ++round)
    for (std::size_t i = 0; i < tools.size(); ++i)
      runs[i].push_back(RunCommand(tools[i].args));
  for (std::size_t i = 0; i < tools.size(); ++i) {
    tools[i].run = Median(runs[i]);
    tools[i].toDu = MedianRatios(runs[i], runs[kDu]);
  }
  std::printf("  %-36s %9s %9s %9s %12s %9s %9s\n", "tool (medians of the rounds)", "wall ms",
              "cpu ms", "peak MiB", "files/s", "wall/du", "cpu/du");
  for (const Tool &t : tools) {
    if (t.run.status != 0) {
      std::printf("  %-36s failed (status %d)\n", t.name.c_str(), t.run.status);
      continue;
    }
    std::printf("  %-36s %9.1f %9.1f %9.1f %12.0f %8.2fx %8.2fx\n", t.name.c_str(), t.run.wallMs,
                t.run.cpuMs, static_cast<double>(t.run.peakRssKiB) / 1024.0,
                static_cast<double>(f.files) / (t.run.wallMs / 1e3), t.toDu.wall, t.toDu.cpu);
  }
  for (const std::string &a : absent)
    std::printf("  %-36s not installed\n", a.c_str());
  const Run &walk = tools[kWalk].run;
  const Run &du = tools[kDu].run;
  std::printf(
      "  plug-in vs du -s (median of the rounds' ratios): throughput %.2fx by wall time, %.2fx "
      "by CPU time (target >= 1.0, aim 1.1); peak RSS %+.1f MiB (target <= +8)\n",
      tools[kWalk].toDu.wall, tools[kWalk].toDu.cpu,
      static_cast<double>(walk.peakRssKiB - du.peakRssKiB) / 1024.0);
  // The calculation's own time, without the start of its process: what a
  // time limit is measured against.
  std::vector<double> calls;
  for (const Run &r : runs[kWalk]) {
    Figures timed;
    if (ParseWalk(r.out, &timed)) calls.push_back(timed.callMs);
  }
  std::sort(calls.begin(), calls.end());
  result.callMs = calls.empty() ? 0 : calls[calls.size() / 2];
  result.entryMs = result.callMs / static_cast<double>(f.files + f.folders);
  return result;
}

// ---- The time limit ----

bool RunLimit(const std::string &root, const TreeResult &full, long largestFolder) {
  if (full.callMs < 2 * kTickMs) {
    // A limit is counted in whole ticks, and the smallest one would let
    // this walk finish.
    std::printf("  time limit: not tried, the whole calculation takes less than two ticks "
                "(%.1f ms)\n",
                full.callMs);
    return true;
  }
  const SInt32 ticks = std::max<SInt32>(1, static_cast<SInt32>(full.callMs / 2 / kTickMs));
  const double limitMs = ticks * kTickMs;
  Figures partial;
  const Run run = RunCommand({SelfPath(), "--walk", root, "--limit", std::to_string(ticks)});
  if (!ParseWalk(run.out, &partial)) {
    std::printf("  time limit: the walk printed no figures (status %d)\n", run.status);
    return false;
  }
  const double levelMs = static_cast<double>(largestFolder) * full.entryMs;
  const double boundMs = kTickMs + levelMs;
  if (partial.result != userCanceledErr) {
    std::printf("  time limit %d ticks (%.1f ms): the walk ended with %d after %.1f ms, not with "
                "userCanceledErr (-128)\n",
                static_cast<int>(ticks), limitMs, static_cast<int>(partial.result), partial.callMs);
    return false;
  }
  const Figures &f = full.reference.figures;
  const bool lowerBound = partial.files <= f.files && partial.folders <= f.folders &&
                          partial.dataLogical <= f.dataLogical;
  const double past = partial.callMs - limitMs;
  std::printf("  time limit %d ticks (%.1f ms): userCanceledErr after %.1f ms, %.1f ms past the "
              "limit; %ld files and %ld folders counted so far%s\n",
              static_cast<int>(ticks), limitMs, partial.callMs, past, partial.files,
              partial.folders, lowerBound ? "" : " (MORE than the whole tree!)");
  std::printf("  allowed past the limit: one tick (%.1f ms) + one folder level (largest %ld "
              "entries x %.2f us = %.1f ms) = %.1f ms: %s\n",
              kTickMs, largestFolder, full.entryMs * 1e3, levelMs, boundMs,
              past <= boundMs ? "within" : "PAST IT");
  return lowerBound;
}

// ---- Time per file ----

// The calculation's own time (without its process's start) per file on the
// small tree and on the large one, the two walks taking turns so that a
// drift of the machine's speed falls on both: the medians of each, and the
// median of the rounds' ratios, which is what is judged.
void ComparePerFile(const std::string &dir, long small, long large, int repeat) {
  const std::string self = SelfPath();
  const std::string smallRoot = dir + "/tree-" + std::to_string(small);
  const std::string largeRoot = dir + "/tree-" + std::to_string(large);
  std::vector<double> smallUs, largeUs, ratios;
  for (int round = 0; round < repeat; ++round) {
    Figures a, b;
    if (!ParseWalk(RunCommand({self, "--walk", smallRoot}).out, &a) ||
        !ParseWalk(RunCommand({self, "--walk", largeRoot}).out, &b)) {
      std::printf("\ntime per file: a walk printed no figures\n");
      return;
    }
    smallUs.push_back(a.callMs * 1e3 / static_cast<double>(small));
    largeUs.push_back(b.callMs * 1e3 / static_cast<double>(large));
    ratios.push_back(largeUs.back() / smallUs.back());
  }
  for (auto *v : {&smallUs, &largeUs, &ratios})
    std::sort(v->begin(), v->end());
  const double change = (ratios[ratios.size() / 2] - 1) * 100;
  std::printf("\ntime per file of the calculation, the two walks taking turns (target within "
              "10%%): %.3f us at %ld files, %.3f us at %ld files; median change of the rounds "
              "%+.1f%%: %s\n",
              smallUs[smallUs.size() / 2], small, largeUs[largeUs.size() / 2], large, change,
              std::fabs(change) <= 10 ? "within" : "PAST IT");
}

// ---- Main ----

int Usage() {
  std::fprintf(stderr, "usage: measure_bench [--files N] [--small N] [--dir DIR] [--seed S] "
                       "[--repeat R]\n       measure_bench --walk DIR [--limit TICKS]\n");
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  long files = 200000, small = 20000;
  int repeat = 5;
  std::uint64_t seed = 1;
  std::string dir = "/tmp/vantlow-bench", walk;
  long limit = -1;
  bool batched = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--files" && hasValue)
      files = std::strtol(argv[++i], nullptr, 10);
    else if (arg == "--small" && hasValue)
      small = std::strtol(argv[++i], nullptr, 10);
    else if (arg == "--dir" && hasValue)
      dir = argv[++i];
    else if (arg == "--seed" && hasValue)
      seed = std::strtoull(argv[++i], nullptr, 10);
    else if (arg == "--repeat" && hasValue)
      repeat = static_cast<int>(std::strtol(argv[++i], nullptr, 10));
    else if (arg == "--walk" && hasValue)
      walk = argv[++i];
    else if (arg == "--limit" && hasValue)
      limit = std::strtol(argv[++i], nullptr, 10);
    else if (arg == "--batched")
      batched = true;
    else
      return Usage();
  }
  if (!walk.empty())
    return batched ? BatchedWalkMode(walk.c_str())
                   : WalkMode(walk.c_str(), static_cast<SInt32>(limit));
  if (files <= 0 || small <= 0 || repeat <= 0) return Usage();

  if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "measure_bench: cannot make %s: %s\n", dir.c_str(), std::strerror(errno));
    return 1;
  }
  utsname uts{};
  uname(&uts);
  double load[3] = {};
  getloadavg(load, 3);
  std::printf("measure_bench: %s %s, %ld CPUs, load %.2f; trees under %s, seed %" PRIu64
              ", median of %d runs\n",
              uts.sysname, uts.release, sysconf(_SC_NPROCESSORS_ONLN), load[0], dir.c_str(), seed,
              repeat);

  bool ok = true;
  std::vector<long> sizes = {small, files};
  std::vector<TreeResult> results;
  for (long n : sizes) {
    const std::string root = dir + "/tree-" + std::to_string(n);
    TreeRecipe recipe;
    recipe.seed = seed;
    recipe.files = n;
    TreeShape shape;
    bool reused = false;
    std::string error;
    const double start = NowMs();
    if (!vantlow_bench::EnsureTree(root, recipe, &shape, &reused, &error)) {
      std::fprintf(stderr, "measure_bench: %s\n", error.c_str());
      return 1;
    }
    const std::string how =
        reused ? "reused"
               : "made in " + std::to_string(std::lround((NowMs() - start) / 1e3)) + " s";
    std::printf("\n%s: %ld files (%ld symbolic links, %ld sparse), %ld folders, %ld sidecars, "
                "largest folder %ld entries, depth %d (%s)\n",
                root.c_str(), shape.files, shape.symlinks, shape.sparseFiles, shape.folders,
                shape.sidecars, shape.largestFolder, shape.depth, how.c_str());
    getloadavg(load, 3);
    std::printf("  load before measuring: %.2f\n", load[0]);
    TreeResult r = MeasureTree(root, shape, repeat);
    ok = ok && r.ok;
    results.push_back(r);
    if (!r.ok) continue;
    if (n == files && !RunLimit(root, r, shape.largestFolder)) ok = false;
  }
  if (results.size() == 2 && results[0].ok && results[1].ok)
    ComparePerFile(dir, small, files, repeat);
  if (!ok) std::printf("\nFAILED: see the lines above\n");
  return ok ? 0 : 1;
}
