/* Loaded into the console tool (LD_PRELOAD) by tests: acts at each flush of a
   regular file's data (fsync, fdatasync, syncfs) before letting it run, as
   QUENLAT_AT_DATA_FLUSH says:
     stop         the tool stops itself (SIGSTOP) at the first such flush, so
                  that a test may act while it waits to go on;
     append=PATH  a CR-LF line ("added meanwhile") is appended to PATH at every
                  such flush of a file in PATH's folder or below it (where
                  the new content of PATH is made), as another program would
                  write to PATH while the tool converts it;
     append-once=PATH  the same at the first such flush only, so that the
                  tool's next try finds the file as it then stays.
   Flushes of folders (their new names) are passed through untouched; syncfs
   flushes every file's data, so it counts whatever it is given. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* The folder of the file at path, resolved; empty when it cannot be had. */
static void FolderOf(const char* path, char* folder) {
  char copy[PATH_MAX];
  folder[0] = '\0';
  if (strlen(path) >= sizeof copy) return;
  strcpy(copy, path);
  char* slash = strrchr(copy, '/');
  if (slash == NULL) {
    strcpy(copy, ".");
  } else if (slash == copy) {
    copy[1] = '\0';
  } else {
    *slash = '\0';
  }
  if (realpath(copy, folder) == NULL) folder[0] = '\0';
}

/* Whether what fd is open on is in folder or below it, or is folder. */
static int IsWithin(int fd, const char* folder) {
  char link[64], path[PATH_MAX];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return 0;
  path[n] = '\0';
  size_t length = strlen(folder);
  return strncmp(path, folder, length) == 0 &&
         (path[length] == '\0' || path[length] == '/' || strcmp(folder, "/") == 0);
}

static void AtDataFlush(int fd) {
  static int stopped = 0;
  const char* what = getenv("QUENLAT_AT_DATA_FLUSH");
  if (what == NULL) return;
  if (strcmp(what, "stop") == 0) {
    if (!__atomic_exchange_n(&stopped, 1, __ATOMIC_SEQ_CST)) raise(SIGSTOP);
  } else if (strncmp(what, "append=", 7) == 0 || strncmp(what, "append-once=", 12) == 0) {
    const int once = what[6] == '-';
    static int appended = 0;
    const char* path = strchr(what, '=') + 1;
    char folder[PATH_MAX];
    FolderOf(path, folder);
    if (folder[0] == '\0' || !IsWithin(fd, folder)) return;
    if (once && __atomic_exchange_n(&appended, 1, __ATOMIC_SEQ_CST)) return;
    int out = open(path, O_WRONLY | O_APPEND | O_CLOEXEC);
    if (out < 0) return;
    static const char kLine[] = "added meanwhile\r\n";
    (void)!write(out, kLine, sizeof kLine - 1);
    close(out);
  }
}

static int IsFolder(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
}

int fsync(int fd) {
  if (!IsFolder(fd)) AtDataFlush(fd);
  int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
  return real(fd);
}

int fdatasync(int fd) {
  if (!IsFolder(fd)) AtDataFlush(fd);
  int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
  return real(fd);
}

int syncfs(int fd) {
  AtDataFlush(fd);
  int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "syncfs");
  return real(fd);
}
