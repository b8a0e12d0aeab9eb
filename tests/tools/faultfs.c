/*
 * faultfs: a read-only FUSE file system with one regular file, "disk.img",
 * that behaves like a disk with bad and slow sectors.
 *
 *   faultfs MOUNTPOINT --size BYTES [--bad FIRST-LAST]... [--slow FIRST-LAST:MS]...
 *           [--backing FILE] [--trace FILE] [FUSE options such as -f, -d, -s]
 *
 * Ranges are in 512-byte sectors, both ends included ("1000" alone means
 * 1000-1000). A read that overlaps a bad range fails with EIO; a read that
 * overlaps a slow range first sleeps for that range's milliseconds (the
 * largest delay if it overlaps several), so a slow bad sector is both. Good
 * ranges read as zeros, or as the bytes of the backing file (zeros past its
 * end). Every read the daemon serves is appended to the trace file as one
 * line "OFFSET LENGTH RESULT" (RESULT "ok" or "EIO"), so a test can count
 * the requests that really reached the "disk".
 *
 * The file is opened with direct I/O so the kernel caches nothing: put a
 * loop device in direct-I/O mode on top and every O_DIRECT read of the loop
 * device becomes exactly one read here, errors included.
 */
#define FUSE_USE_VERSION 31

#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <inttypes.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define SECTOR_SIZE 512u
static const char kFileName[] = "disk.img";

struct range {
  uint64_t first; /* sectors, inclusive */
  uint64_t last;
  unsigned delay_ms; /* slow ranges only */
};

struct range_list {
  struct range *items;
  size_t count;
};

static struct {
  uint64_t size; /* bytes */
  struct range_list bad;
  struct range_list slow;
  int backing_fd; /* -1: good sectors read as zeros */
  int trace_fd;   /* -1: no trace */
} g_fs = {0, {NULL, 0}, {NULL, 0}, -1, -1};

static int is_disk_path(const char *path) { return path[0] == '/' && strcmp(path + 1, kFileName) == 0; }

static int overlaps(const struct range *r, uint64_t first, uint64_t last) {
  return r->first <= last && first <= r->last;
}

static void sleep_ms(unsigned ms) {
  struct timespec left = {(time_t)(ms / 1000u), (long)(ms % 1000u) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

/* One write per line: with O_APPEND concurrent requests never interleave. */
static void trace_read(off_t offset, size_t length, int failed) {
  char line[80];
  int n;

  if (g_fs.trace_fd < 0) return;
  n = snprintf(line, sizeof line, "%jd %zu %s\n", (intmax_t)offset, length, failed ? "EIO" : "ok");
  if (n > 0 && write(g_fs.trace_fd, line, (size_t)n) != n) perror("faultfs: trace");
}

static int fill_from_backing(char *buf, size_t n, off_t offset) {
  size_t done = 0;

  while (done < n) {
    ssize_t got = pread(g_fs.backing_fd, buf + done, n - done, offset + (off_t)done);
    if (got < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    if (got == 0) break; /* past the end of the backing file: zeros */
    done += (size_t)got;
  }
  memset(buf + done, 0, n - done);
  return 0;
}

static void *fs_init(struct fuse_conn_info *conn, struct fuse_config *cfg) {
  (void)conn;
  /* No page cache anywhere: a cached block would hide a bad one. */
  cfg->direct_io = 1;
  cfg->kernel_cache = 0;
  return NULL;
}

static int fs_getattr(const char *path, struct stat *st, struct fuse_file_info *fi) {
  (void)fi;
  memset(st, 0, sizeof *st);
  if (strcmp(path, "/") == 0) {
    st->st_mode = S_IFDIR | 0555;
    st->st_nlink = 2;
    return 0;
  }
  if (!is_disk_path(path)) return -ENOENT;
  st->st_mode = S_IFREG | 0444;
  st->st_nlink = 1;
  st->st_size = (off_t)g_fs.size;
  st->st_blksize = SECTOR_SIZE;
  return 0;
}

static int fs_readdir(const char *path, void *buf, fuse_fill_dir_t fill, off_t offset, struct fuse_file_info *fi,
                      enum fuse_readdir_flags flags) {
  (void)offset;
  (void)fi;
  (void)flags;
  if (strcmp(path, "/") != 0) return -ENOENT;
  fill(buf, ".", NULL, 0, 0);
  fill(buf, "..", NULL, 0, 0);
  fill(buf, kFileName, NULL, 0, 0);
  return 0;
}

static int fs_open(const char *path, struct fuse_file_info *fi) {
  if (!is_disk_path(path)) return -ENOENT;
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  fi->direct_io = 1;
  fi->keep_cache = 0;
  return 0;
}

static int fs_read(const char *path, char *buf, size_t length, off_t offset, struct fuse_file_info *fi) {
  uint64_t first, last;
  unsigned delay_ms = 0;
  int failed = 0;
  size_t n, i;

  (void)fi;
  if (!is_disk_path(path)) return -ENOENT;
  if (offset < 0) return -EINVAL;
  if ((uint64_t)offset >= g_fs.size || length == 0) {
    trace_read(offset, length, 0);
    return 0;
  }
  n = length;
  if ((uint64_t)n > g_fs.size - (uint64_t)offset) n = (size_t)(g_fs.size - (uint64_t)offset);

  first = (uint64_t)offset / SECTOR_SIZE;
  last = ((uint64_t)offset + n - 1) / SECTOR_SIZE;
  for (i = 0; i < g_fs.slow.count; ++i)
    if (overlaps(&g_fs.slow.items[i], first, last) && g_fs.slow.items[i].delay_ms > delay_ms)
      delay_ms = g_fs.slow.items[i].delay_ms;
  for (i = 0; i < g_fs.bad.count && !failed; ++i) failed = overlaps(&g_fs.bad.items[i], first, last);

  if (delay_ms > 0) sleep_ms(delay_ms);
  if (!failed) {
    if (g_fs.backing_fd >= 0)
      failed = fill_from_backing(buf, n, offset) != 0;
    else
      memset(buf, 0, n);
  }
  trace_read(offset, length, failed);
  return failed ? -EIO : (int)n;
}

static const struct fuse_operations kOperations = {
    .init = fs_init,
    .getattr = fs_getattr,
    .readdir = fs_readdir,
    .open = fs_open,
    .read = fs_read,
};

static void usage(FILE *out) {
  fprintf(out,
          "usage: faultfs MOUNTPOINT --size BYTES [--bad FIRST-LAST]... [--slow FIRST-LAST:MS]...\n"
          "               [--backing FILE] [--trace FILE] [FUSE options, e.g. -f -d -s]\n"
          "Serves one read-only file \"%s\" of BYTES bytes (default: the backing file's size).\n"
          "Ranges are 512-byte sectors, both ends included. Reads overlapping a bad range fail\n"
          "with EIO; reads overlapping a slow range sleep MS milliseconds first. --trace appends\n"
          "\"OFFSET LENGTH ok|EIO\" for every read served.\n",
          kFileName);
}

/* Plain decimal only: strtoull alone would take "-1", " 7" or "010" (octal with base 0). */
static int parse_u64(const char *s, const char **end, uint64_t *value) {
  char *stop;
  unsigned long long v;

  if (*s < '0' || *s > '9') return 0;
  errno = 0;
  v = strtoull(s, &stop, 10);
  if (errno != 0) return 0;
  *value = v;
  *end = stop;
  return 1;
}

/* "FIRST-LAST" or "FIRST"; with want_delay, followed by ":MS". */
static int parse_range(const char *text, int want_delay, struct range *r) {
  const char *p = text;
  uint64_t ms = 0;

  if (!parse_u64(p, &p, &r->first)) return 0;
  r->last = r->first;
  if (*p == '-' && !parse_u64(p + 1, &p, &r->last)) return 0;
  if (want_delay) {
    if (*p != ':' || !parse_u64(p + 1, &p, &ms) || ms > 3600000u) return 0;
  }
  r->delay_ms = (unsigned)ms;
  return *p == '\0' && r->first <= r->last;
}

static int add_range(struct range_list *list, const struct range *r) {
  struct range *grown = realloc(list->items, (list->count + 1) * sizeof *grown);
  if (grown == NULL) return 0;
  list->items = grown;
  list->items[list->count++] = *r;
  return 1;
}

int main(int argc, char *argv[]) {
  struct fuse_args args = FUSE_ARGS_INIT(0, NULL);
  const char *backing = NULL;
  const char *trace = NULL;
  int have_size = 0;
  int ok = fuse_opt_add_arg(&args, argv[0]) == 0;
  int rc;
  int i;

  for (i = 1; ok && i < argc; ++i) {
    const char *opt = argv[i];
    const char *value = i + 1 < argc ? argv[i + 1] : NULL;
    struct range r;

    if (strcmp(opt, "-h") == 0 || strcmp(opt, "--help") == 0) {
      usage(stdout);
      fuse_opt_free_args(&args);
      return 0;
    }
    if (strcmp(opt, "--size") != 0 && strcmp(opt, "--bad") != 0 && strcmp(opt, "--slow") != 0 &&
        strcmp(opt, "--backing") != 0 && strcmp(opt, "--trace") != 0) {
      /* Mount point and FUSE's own options go through unchanged. */
      ok = fuse_opt_add_arg(&args, opt) == 0;
      continue;
    }
    if (value == NULL) {
      fprintf(stderr, "faultfs: %s needs a value\n", opt);
      ok = 0;
      break;
    }
    ++i;
    if (strcmp(opt, "--size") == 0) {
      const char *end;
      ok = parse_u64(value, &end, &g_fs.size) && *end == '\0' && g_fs.size <= (uint64_t)INT64_MAX;
      have_size = 1;
    } else if (strcmp(opt, "--backing") == 0) {
      backing = value;
    } else if (strcmp(opt, "--trace") == 0) {
      trace = value;
    } else {
      int slow = strcmp(opt, "--slow") == 0;
      ok = parse_range(value, slow, &r) && add_range(slow ? &g_fs.slow : &g_fs.bad, &r);
    }
    if (!ok) fprintf(stderr, "faultfs: bad value for %s: '%s'\n", opt, value);
  }

  if (ok && backing != NULL) {
    struct stat st;
    g_fs.backing_fd = open(backing, O_RDONLY | O_CLOEXEC);
    if (g_fs.backing_fd < 0 || fstat(g_fs.backing_fd, &st) != 0) {
      fprintf(stderr, "faultfs: %s: %s\n", backing, strerror(errno));
      ok = 0;
    } else if (!have_size) {
      g_fs.size = (uint64_t)st.st_size;
      have_size = 1;
    }
  }
  if (ok && !have_size) {
    fprintf(stderr, "faultfs: --size (or --backing) is required\n");
    ok = 0;
  }
  if (ok && trace != NULL) {
    g_fs.trace_fd = open(trace, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (g_fs.trace_fd < 0) {
      fprintf(stderr, "faultfs: %s: %s\n", trace, strerror(errno));
      ok = 0;
    }
  }
  /* Read-only for everybody; allow_root lets root use it even when another user mounts it. */
  if (ok)
    ok = fuse_opt_add_arg(&args, "-o") == 0 &&
         fuse_opt_add_arg(&args, "ro,allow_root,fsname=faultfs,subtype=faultfs") == 0;
  /* libfuse 3.14 mistakes the unset idle-thread limit for an invalid thread count and
   * says so on every start; an explicit limit keeps the daemon's output clean. */
  if (ok) ok = fuse_opt_add_arg(&args, "-o") == 0 && fuse_opt_add_arg(&args, "max_idle_threads=10") == 0;

  if (ok) {
    rc = fuse_main(args.argc, args.argv, &kOperations, NULL);
  } else {
    usage(stderr);
    rc = 2;
  }

  fuse_opt_free_args(&args);
  free(g_fs.bad.items);
  free(g_fs.slow.items);
  if (g_fs.backing_fd >= 0) close(g_fs.backing_fd);
  if (g_fs.trace_fd >= 0) close(g_fs.trace_fd);
  return rc;
}
