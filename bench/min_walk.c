/* min_walk: the least work that sizes a tree on one thread, as a yardstick
 * for the plug-in's walk. One getdents64 listing per folder into a 128 KiB
 * buffer, one fstatat per entry relative to the open folder, one openat per
 * folder; nothing is allocated per entry and nothing is remembered.
 *
 *   min_walk DIR
 *
 * prints "MINWALK <entries> <folders> <st_size sum> <st_blocks x 512 sum>",
 * counting every entry below DIR (sidecars and links as entries of their
 * own) and DIR itself as a folder. Exits 1 when DIR or a folder below it
 * cannot be read, so that a short walk is never taken for a fast one. */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <inttypes.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

enum { kBufferSize = 128 * 1024 };

struct Totals {
  uint64_t entries, folders, bytes, blocks;
  int failed;
};

/* The kernel's record; glibc declares no type for getdents64. */
struct Record {
  uint64_t ino;
  int64_t off;
  unsigned short reclen;
  unsigned char type;
  char name[];
};

static void Fail(struct Totals *t, const char *what, const char *name) {
  fprintf(stderr, "min_walk: %s %s: %s\n", what, name, strerror(errno));
  t->failed = 1;
}

/* One listing buffer per folder level, made when the walk first goes that
 * deep and kept: a buffer this large would otherwise be mapped and unmapped
 * for every folder. */
static char **gBuffers;
static size_t gLevels;

static char *BufferForLevel(size_t level) {
  if (level >= gLevels) {
    const size_t levels = level + 16;
    char **grown = realloc(gBuffers, levels * sizeof *grown);
    if (!grown) return NULL;
    memset(grown + gLevels, 0, (levels - gLevels) * sizeof *grown);
    gBuffers = grown;
    gLevels = levels;
  }
  if (!gBuffers[level]) gBuffers[level] = malloc(kBufferSize);
  return gBuffers[level];
}

/* Walks the folder open on fd (closed here), level folders below the top. */
static void Walk(int fd, size_t level, struct Totals *t) {
  char *buffer = BufferForLevel(level);
  if (!buffer) {
    Fail(t, "malloc", "");
    close(fd);
    return;
  }
  for (;;) {
    const long n = syscall(SYS_getdents64, fd, buffer, kBufferSize);
    if (n < 0) Fail(t, "getdents64", "");
    if (n <= 0) break;
    for (long pos = 0; pos < n;) {
      const struct Record *r = (const struct Record *)(buffer + pos);
      pos += r->reclen;
      const char *name = r->name;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      t->entries++;
      if (r->type == DT_DIR) {
        t->folders++;
        const int sub = openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) {
          Fail(t, "openat", name);
          continue;
        }
        Walk(sub, level + 1, t);
      } else {
        struct stat st;
        if (fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
          Fail(t, "fstatat", name);
          continue;
        }
        t->bytes += (uint64_t)st.st_size;
        t->blocks += (uint64_t)st.st_blocks;
      }
    }
  }
  close(fd);
}

int main(int argc, char **argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: min_walk DIR\n");
    return 2;
  }
  const int fd = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    fprintf(stderr, "min_walk: %s: %s\n", argv[1], strerror(errno));
    return 1;
  }
  struct Totals t = {0, 1, 0, 0, 0};
  Walk(fd, 0, &t);
  printf("MINWALK %" PRIu64 " %" PRIu64 " %" PRIu64 " %" PRIu64 "\n", t.entries, t.folders, t.bytes,
         t.blocks * 512);
  return t.failed ? 1 : 0;
}
