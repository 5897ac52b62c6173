/* Loaded into the console tool (LD_PRELOAD) by a test: every flush of a
   folder fails as a failing device's would; files are flushed as usual. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <sys/stat.h>

int fsync(int fd) {
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    errno = EIO;
    return -1;
  }
  int (*real)(int) = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
  return real(fd);
}
