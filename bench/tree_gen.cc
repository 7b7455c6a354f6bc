// The benchmark tree generator (see tree_gen.h). It uses its own random
// numbers (splitmix64) and its own distributions, so a tree depends on the
// seed alone and not on the standard library's version.
#include "tree_gen.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vantlow_bench {
namespace {

constexpr int kMaxDepth = 12;
constexpr long kFilesPerFolder = 40;      // on average: the skew decides the rest
constexpr double kFolderSkew = 0.8;       // Zipf exponent of the files' folders
constexpr std::uint32_t kForkOffset = 82; // header 26 + two entries 24 + Finder info 32

class Random {
public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint64_t Below(std::uint64_t n) { return Next() % n; }
  double Real() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
  bool Chance(double p) { return Real() < p; }
  // Log-uniform in [lo, hi]: as many sizes per power of two, a heavy tail.
  std::uint64_t LogUniform(std::uint64_t lo, std::uint64_t hi) {
    const double l = std::log(static_cast<double>(lo)), h = std::log(static_cast<double>(hi));
    const double v = std::exp(l + Real() * (h - l));
    return std::clamp<std::uint64_t>(static_cast<std::uint64_t>(v), lo, hi);
  }

private:
  std::uint64_t state_;
};

struct Folder {
  std::string path;
  int depth;
  long entries;
};

void BigEndian32(unsigned char *p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v >> 24);
  p[1] = static_cast<unsigned char>(v >> 16);
  p[2] = static_cast<unsigned char>(v >> 8);
  p[3] = static_cast<unsigned char>(v);
}

std::string Fail(const std::string &what, const std::string &path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Writes size bytes of data, then sets the length to logical (a sparse tail
// when it is larger).
bool MakeFile(const std::string &path, const unsigned char *data, std::size_t size,
              std::uint64_t logical, std::string *error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = Fail("cannot create", path);
    return false;
  }
  bool ok = size == 0 || write(fd, data, size) == static_cast<ssize_t>(size);
  if (ok && logical > size) ok = ftruncate(fd, static_cast<off_t>(logical)) == 0;
  if (!ok) *error = Fail("cannot write", path);
  close(fd);
  return ok;
}

// An AppleDouble file whose resource-fork entry holds forkLength bytes (left
// sparse), after a Finder-info entry, as Mac OS X writes them.
bool MakeSidecar(const std::string &path, std::uint32_t forkLength, std::string *error) {
  unsigned char header[kForkOffset] = {};
  BigEndian32(header, 0x00051607);
  BigEndian32(header + 4, 0x00020000);
  header[25] = 2;
  BigEndian32(header + 26, 9); // Finder info
  BigEndian32(header + 30, 26 + 24);
  BigEndian32(header + 34, 32);
  BigEndian32(header + 38, 2); // resource fork
  BigEndian32(header + 42, kForkOffset);
  BigEndian32(header + 46, forkLength);
  return MakeFile(path, header, sizeof header, kForkOffset + std::uint64_t{forkLength}, error);
}

const char *const kExtensions[] = {".txt", ".jpg", ".c", ".h",    ".pdf",
                                   ".mp3", ".o",   "",   ".json", ".png"};

} // namespace

bool GenerateTree(const std::string &root, const TreeRecipe &recipe, TreeShape *shape,
                  std::string *error) {
  *shape = TreeShape{};
  Random rng(recipe.seed * 0x100000001B3ull ^ static_cast<std::uint64_t>(recipe.files));
  static unsigned char pattern[16384];
  for (std::size_t i = 0; i < sizeof pattern; ++i)
    pattern[i] = static_cast<unsigned char>(i * 7);

  // Folders: a chain that reaches the deepest level, then each new folder
  // under a random earlier one that is not yet at that level.
  const long folderCount = std::max<long>(kMaxDepth + 1, recipe.files / kFilesPerFolder);
  std::vector<Folder> folders;
  folders.reserve(static_cast<std::size_t>(folderCount));
  if (mkdir(root.c_str(), 0755) != 0) {
    *error = Fail("cannot make", root);
    return false;
  }
  folders.push_back({root, 0, 0});
  for (long i = 1; i < folderCount; ++i) {
    std::size_t parent = static_cast<std::size_t>(i - 1);
    if (i > kMaxDepth) {
      do {
        parent = static_cast<std::size_t>(rng.Below(static_cast<std::uint64_t>(i)));
      } while (folders[parent].depth >= kMaxDepth);
    }
    const std::string name = (rng.Chance(0.01) ? ".d" : "d") + std::to_string(i);
    Folder folder{folders[parent].path + "/" + name, folders[parent].depth + 1, 0};
    if (mkdir(folder.path.c_str(), 0755) != 0) {
      *error = Fail("cannot make", folder.path);
      return false;
    }
    folders[parent].entries += 1;
    // A folder's own sidecar: not an item, and no fork that is counted.
    if (rng.Chance(0.005)) {
      if (!MakeSidecar(folders[parent].path + "/._" + name, 100, error)) return false;
      folders[parent].entries += 1;
    }
    shape->depth = std::max(shape->depth, folder.depth);
    folders.push_back(std::move(folder));
  }
  shape->folders = folderCount;

  // Which folder a file goes to: Zipf over the folders in a shuffled order.
  std::vector<std::size_t> order(folders.size());
  for (std::size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  for (std::size_t i = order.size() - 1; i > 0; --i)
    std::swap(order[i], order[static_cast<std::size_t>(rng.Below(i + 1))]);
  std::vector<double> cumulative(folders.size());
  double sum = 0;
  for (std::size_t r = 0; r < cumulative.size(); ++r) {
    sum += 1.0 / std::pow(static_cast<double>(r + 1), kFolderSkew);
    cumulative[r] = sum;
  }

  for (long k = 0; k < recipe.files; ++k) {
    const double pick = rng.Real() * sum;
    const std::size_t rank = std::min<std::size_t>(
        static_cast<std::size_t>(std::upper_bound(cumulative.begin(), cumulative.end(), pick) -
                                 cumulative.begin()),
        cumulative.size() - 1);
    Folder &folder = folders[order[rank]];
    const double kind = rng.Real();
    if (kind < 0.002) {
      // A symbolic link, dangling or not: a file of its own, never followed.
      const std::string target = rng.Chance(0.5)
                                     ? "../d" + std::to_string(rng.Below(folders.size()))
                                     : "f" + std::to_string(rng.Below(recipe.files)) + ".txt";
      const std::string path = folder.path + "/l" + std::to_string(k);
      if (symlink(target.c_str(), path.c_str()) != 0) {
        *error = Fail("cannot link", path);
        return false;
      }
      shape->symlinks += 1;
    } else if (kind < 0.003) {
      // A sidecar without a partner: an ordinary invisible file.
      if (!MakeFile(folder.path + "/._ghost" + std::to_string(k), pattern,
                    static_cast<std::size_t>(rng.Below(4096)), 0, error))
        return false;
    } else {
      const std::string name = (rng.Chance(0.03) ? ".f" : "f") + std::to_string(k) +
                               kExtensions[rng.Below(std::size(kExtensions))];
      const std::string path = folder.path + "/" + name;
      const double size = rng.Real();
      bool ok;
      if (size < 0.10) {
        ok = MakeFile(path, pattern, 0, 0, error);
      } else if (size < 0.65) {
        const std::uint64_t length = rng.LogUniform(1, sizeof pattern);
        ok = MakeFile(path, pattern, static_cast<std::size_t>(length), length, error);
      } else {
        // Data at the start and a sparse tail, or nothing but the tail.
        const bool partial = size < 0.90;
        const std::uint64_t length = partial        ? rng.LogUniform(16384, 8u << 20)
                                     : size < 0.995 ? rng.LogUniform(8u << 20, 1ull << 30)
                                                    : rng.LogUniform(1ull << 30, 64ull << 30);
        ok = MakeFile(path, pattern, partial ? 4096 : 0, length, error);
        shape->sparseFiles += 1;
      }
      if (!ok) return false;
      if (rng.Chance(0.015)) {
        const std::uint32_t fork =
            rng.Chance(0.1) ? 0 : static_cast<std::uint32_t>(rng.LogUniform(1, 1u << 20));
        if (!MakeSidecar(folder.path + "/._" + name, fork, error)) return false;
        shape->sidecars += 1;
        folder.entries += 1;
      }
    }
    folder.entries += 1;
    shape->files += 1;
  }
  for (const Folder &folder : folders)
    shape->largestFolder = std::max(shape->largestFolder, folder.entries);
  return true;
}

bool EnsureTree(const std::string &root, const TreeRecipe &recipe, TreeShape *shape, bool *reused,
                std::string *error) {
  const std::string manifest = root + ".manifest";
  std::ostringstream head;
  head << "vantlow-tree v1 seed=" << recipe.seed << " files=" << recipe.files;
  *reused = false;
  {
    std::ifstream in(manifest);
    std::string line;
    TreeShape s;
    if (std::getline(in, line) && line == head.str() &&
        (in >> s.files >> s.folders >> s.symlinks >> s.sidecars >> s.sparseFiles >>
         s.largestFolder >> s.depth) &&
        std::filesystem::is_directory(root)) {
      *shape = s;
      *reused = true;
      return true;
    }
  }
  std::error_code ec;
  std::filesystem::remove(manifest, ec);
  std::filesystem::remove_all(root, ec);
  if (ec) {
    *error = "cannot remove the old tree " + root + ": " + ec.message();
    return false;
  }
  if (!GenerateTree(root, recipe, shape, error)) return false;
  std::ofstream out(manifest);
  out << head.str() << "\n"
      << shape->files << " " << shape->folders << " " << shape->symlinks << " " << shape->sidecars
      << " " << shape->sparseFiles << " " << shape->largestFolder << " " << shape->depth << "\n";
  if (!out) {
    *error = "cannot write " + manifest;
    return false;
  }
  return true;
}

} // namespace vantlow_bench
