/* io_faults: an LD_PRELOAD shim that makes the calls writing and syncing one file fail, for the
 * tests of what the writers do when the disk refuses a commit (tests/python/test_write_failures.py
 * builds it with the system's C compiler).
 *
 * SQLite's unix layer writes its files with pwrite64 and syncs them with fdatasync (fsync in a
 * build without it); the server's write-ahead log is written with write. SQLite calls them
 * through pointers taken from the libc symbols, so a preloaded definition replaces them. Each
 * call of a kind chosen below is checked against the path of its descriptor (readlink of
 * /proc/self/fd/N: one system call, and only for those kinds, so no cache goes stale when a
 * descriptor is closed and its number reused).
 *
 * Environment, read once when the shim is loaded:
 *   QUORVANE_FAULT_SUFFIX  the calls on a descriptor whose path ends with it are the matching
 *                          ones, e.g. "-wal" (SQLite's journal) or the database file's path.
 *                          Unset or empty: every call goes through.
 *   QUORVANE_FAULT_CALLS   the kinds, comma-separated: pwrite (pwrite64 and pwrite), write,
 *                          fdatasync, fsync. Default: all four.
 *   QUORVANE_FAULT_AFTER   let the first N matching calls through (default 0).
 *   QUORVANE_FAULT_COUNT   fail M matching calls, then let them through again (0 or unset: fail
 *                          every one from then on).
 *   QUORVANE_FAULT_ERRNO   "EIO" (default) or "ENOSPC": the errno of a failed call.
 *
 * io_faults_matched() and io_faults_injected() give how many matching calls there have been
 * and how many of them were failed, for a process to read through ctypes.CDLL(None).
 *
 * Threads: io_faults_refuse_threads(n), called by the process itself (through ctypes), makes
 * the next n calls of pthread_create fail with EAGAIN, as when the system refuses a new thread.
 * It works whether or not a suffix is set.
 *
 * Build: cc -shared -fPIC -O2 -o io_faults.so io_faults.c -ldl. Under AddressSanitizer the
 * sanitizer's runtime comes first in LD_PRELOAD and this shim after it. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

enum { KIND_PWRITE = 1, KIND_WRITE = 2, KIND_FDATASYNC = 4, KIND_FSYNC = 8 };

static char suffix[4096];
static size_t suffix_length; /* 0: the shim is off */
static int kinds;
static unsigned long after, count;
static int fault_errno = EIO;
static unsigned long matched, injected; /* updated with atomic builtins */

__attribute__((constructor)) static void configure(void) {
  const char* s = getenv("QUORVANE_FAULT_SUFFIX");
  if (s == NULL || *s == '\0' || strlen(s) >= sizeof suffix) return;
  const char* calls = getenv("QUORVANE_FAULT_CALLS");
  if (calls == NULL || *calls == '\0') calls = "pwrite,write,fdatasync,fsync";
  const char* names[] = {"pwrite", "write", "fdatasync", "fsync"};
  for (const char* p = calls; *p;) {
    size_t n = strcspn(p, ",");
    for (int i = 0; i < 4; ++i) {
      if (strlen(names[i]) == n && strncmp(p, names[i], n) == 0) kinds |= 1 << i;
    }
    p += n + (p[n] == ',');
  }
  const char* e;
  if ((e = getenv("QUORVANE_FAULT_AFTER")) != NULL) after = strtoul(e, NULL, 10);
  if ((e = getenv("QUORVANE_FAULT_COUNT")) != NULL) count = strtoul(e, NULL, 10);
  if ((e = getenv("QUORVANE_FAULT_ERRNO")) != NULL && strcmp(e, "ENOSPC") == 0) {
    fault_errno = ENOSPC;
  }
  strcpy(suffix, s);
  suffix_length = strlen(s);
}

/* True when this call is to fail (errno is then set); keeps errno otherwise. */
static int fails(int kind, int fd) {
  if (suffix_length == 0 || !(kinds & kind)) return 0;
  int saved = errno;
  char link[64], path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, path, sizeof path);
  errno = saved;
  if (n < (ssize_t)suffix_length || n == (ssize_t)sizeof path) return 0;
  if (memcmp(path + n - suffix_length, suffix, suffix_length) != 0) return 0;
  unsigned long seen = __atomic_fetch_add(&matched, 1, __ATOMIC_RELAXED);
  if (seen < after || (count != 0 && seen - after >= count)) return 0;
  __atomic_fetch_add(&injected, 1, __ATOMIC_RELAXED);
  errno = fault_errno;
  return 1;
}

unsigned long io_faults_matched(void) { return __atomic_load_n(&matched, __ATOMIC_RELAXED); }
unsigned long io_faults_injected(void) { return __atomic_load_n(&injected, __ATOMIC_RELAXED); }

/* The next definition of `name` (libc's), looked up at its first use. */
#define REAL(type, name, ...)                                                     \
  static type (*next)(__VA_ARGS__);                                               \
  type (*real)(__VA_ARGS__) = __atomic_load_n(&next, __ATOMIC_ACQUIRE);           \
  if (real == NULL) {                                                             \
    *(void**)&real = dlsym(RTLD_NEXT, name);                                      \
    __atomic_store_n(&next, real, __ATOMIC_RELEASE);                              \
  }

ssize_t pwrite64(int fd, const void* buf, size_t n, off64_t offset) {
  REAL(ssize_t, "pwrite64", int, const void*, size_t, off64_t);
  return fails(KIND_PWRITE, fd) ? -1 : real(fd, buf, n, offset);
}

ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) {
  REAL(ssize_t, "pwrite", int, const void*, size_t, off_t);
  return fails(KIND_PWRITE, fd) ? -1 : real(fd, buf, n, offset);
}

ssize_t write(int fd, const void* buf, size_t n) {
  REAL(ssize_t, "write", int, const void*, size_t);
  return fails(KIND_WRITE, fd) ? -1 : real(fd, buf, n);
}

int fdatasync(int fd) {
  REAL(int, "fdatasync", int);
  return fails(KIND_FDATASYNC, fd) ? -1 : real(fd);
}

int fsync(int fd) {
  REAL(int, "fsync", int);
  return fails(KIND_FSYNC, fd) ? -1 : real(fd);
}

static unsigned long threads_to_refuse; /* updated with atomic builtins */

void io_faults_refuse_threads(unsigned long n) {
  __atomic_store_n(&threads_to_refuse, n, __ATOMIC_RELAXED);
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                   void* arg) {
  REAL(int, "pthread_create", pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
  unsigned long left = __atomic_load_n(&threads_to_refuse, __ATOMIC_RELAXED);
  while (left != 0) {
    if (__atomic_compare_exchange_n(&threads_to_refuse, &left, left - 1, 0, __ATOMIC_RELAXED,
                                    __ATOMIC_RELAXED)) {
      return EAGAIN;
    }
  }
  return real(thread, attr, start, arg);
}
