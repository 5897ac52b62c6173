/* Loaded into the console tool (LD_PRELOAD) by tests: plays someone who may
   write the folder of the files converted. Whenever a name beginning with
   "tmp" appears in a folder (made by mkstemp, by an open that creates it, or
   by a new hard link), it is at once replaced by a symbolic link to the file
   named by QUENLAT_SWAP_TEMP_TO, before the tool can use the name again. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* Whether the last part of path begins with "tmp". */
static int IsTempName(const char* path) {
  const char* slash = strrchr(path, '/');
  return strncmp(slash ? slash + 1 : path, "tmp", 3) == 0;
}

static void Swap(int folder, const char* path) {
  const char* victim = getenv("QUENLAT_SWAP_TEMP_TO");
  if (victim == NULL || !IsTempName(path)) return;
  if (unlinkat(folder, path, 0) == 0) (void)!symlinkat(victim, folder, path);
}

int mkstemp(char* pattern) {
  int (*real)(char*) = (int (*)(char*))dlsym(RTLD_NEXT, "mkstemp");
  int fd = real(pattern);
  if (fd >= 0) Swap(AT_FDCWD, pattern);
  return fd;
}

static int OpenAt(const char* name, int folder, const char* path, int flags, mode_t mode) {
  int (*real)(int, const char*, int, ...) =
      (int (*)(int, const char*, int, ...))dlsym(RTLD_NEXT, name);
  int fd = real(folder, path, flags, mode);
  if (fd >= 0 && (flags & O_CREAT) != 0) Swap(folder, path);
  return fd;
}

int openat(int folder, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & (O_CREAT | __O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0;
  va_end(args);
  return OpenAt("openat", folder, path, flags, mode);
}

int openat64(int folder, const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = (flags & (O_CREAT | __O_TMPFILE)) != 0 ? va_arg(args, mode_t) : 0;
  va_end(args);
  return OpenAt("openat64", folder, path, flags, mode);
}

int linkat(int fromFolder, const char* from, int toFolder, const char* to, int flags) {
  int (*real)(int, const char*, int, const char*, int) =
      (int (*)(int, const char*, int, const char*, int))dlsym(RTLD_NEXT, "linkat");
  int result = real(fromFolder, from, toFolder, to, flags);
  if (result == 0) Swap(toFolder, to);
  return result;
}
