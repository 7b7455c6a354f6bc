// A deterministic generator of file trees for the size benchmarks: the same
// seed and file count always give the same names, sizes and layout. The tree
// looks like a real home folder rather than a uniform grid: folder sizes are
// skewed (a few folders hold thousands of entries, many hold a handful or
// none), folders nest up to 12 deep, sizes have a heavy tail with large
// sparse files (ftruncate, so they take no room), some names begin with a
// dot, some files carry an AppleDouble "._name" sidecar with a resource
// fork, and there are a few orphan sidecars, folder sidecars and symbolic
// links. No hard links: du counts a hard-linked file once and the plug-in
// counts every name, so the figures could not be compared.
#pragma once

#include <cstdint>
#include <string>

namespace vantlow_bench {

struct TreeRecipe {
  std::uint64_t seed = 1;
  long files = 200000; // items that count as files: regular files, links, orphan sidecars
};

// What the generator made, as the plug-in should count it.
struct TreeShape {
  long files = 0;         // regular files + symbolic links + orphan sidecars
  long folders = 0;       // the top folder included
  long symlinks = 0;      // of the files
  long sidecars = 0;      // partnered AppleDouble files (forks, not items)
  long sparseFiles = 0;   // files whose size was set with ftruncate past their data
  long largestFolder = 0; // the most entries one folder holds
  int depth = 0;          // the deepest folder below the top one
};

// Makes the tree at root (which must not exist yet; its parent must) and
// describes it in *shape. False with a message in *error on a failure.
bool GenerateTree(const std::string &root, const TreeRecipe &recipe, TreeShape *shape,
                  std::string *error);

// Makes the tree at root unless one made from the same recipe is already
// there (told by the file "<root>.manifest" beside it); an old tree of
// another recipe is removed first. *reused tells which happened.
bool EnsureTree(const std::string &root, const TreeRecipe &recipe, TreeShape *shape, bool *reused,
                std::string *error);

} // namespace vantlow_bench
