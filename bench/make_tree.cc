// make_tree: makes one deterministic benchmark tree (see tree_gen.h) and says
// what it holds, so a tree can be made by hand for other tools or for perf.
//
//   make_tree [--files N] [--seed S] DIR      (DIR must not exist yet)
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tree_gen.h"

int main(int argc, char **argv) {
  vantlow_bench::TreeRecipe recipe;
  std::string root;
  for (int i = 1; i < argc; ++i) {
    const char *arg = argv[i];
    if (std::strcmp(arg, "--files") == 0 && i + 1 < argc) {
      recipe.files = std::strtol(argv[++i], nullptr, 10);
    } else if (std::strcmp(arg, "--seed") == 0 && i + 1 < argc) {
      recipe.seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (arg[0] != '-' && root.empty()) {
      root = arg;
    } else {
      std::fprintf(stderr, "usage: make_tree [--files N] [--seed S] DIR\n");
      return 2;
    }
  }
  if (root.empty() || recipe.files < 0) {
    std::fprintf(stderr, "usage: make_tree [--files N] [--seed S] DIR\n");
    return 2;
  }
  vantlow_bench::TreeShape shape;
  std::string error;
  if (!vantlow_bench::GenerateTree(root, recipe, &shape, &error)) {
    std::fprintf(stderr, "make_tree: %s\n", error.c_str());
    return 1;
  }
  std::printf("%s: %ld files (%ld symbolic links, %ld sparse), %ld folders, %ld sidecars, "
              "largest folder %ld entries, depth %d\n",
              root.c_str(), shape.files, shape.symlinks, shape.sparseFiles, shape.folders,
              shape.sidecars, shape.largestFolder, shape.depth);
  return 0;
}
