#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "file.h"

namespace {

// Folds the system's error numbers into the program's.
int MapError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return ENOENT;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:  // a folder opened for writing: Windows denies access there
      return EACCES;
    case ENOSPC:
    case EDQUOT:
      return ENOSPC;
    default:
      return error;
  }
}

int Fd(intptr_t handle) { return static_cast<int>(handle); }

// The program's error number for the call that just failed.
int LastError() { return MapError(errno); }

// Asks the system to start writing the file's changed pages to the disk now,
// without waiting for it: the copy and the disk then work at the same time,
// and the final Sync finds most of the data already written. Linux has this.
// Small writes are left alone: a small file is flushed right after anyway.
const size_t kWritebackFrom = 64 * 1024;

void StartWriteback(int fd) {
#if defined(SYNC_FILE_RANGE_WRITE)
  sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
  (void)fd;
#endif
}

std::string CurrentDirectory() {
  char buf[PATH_MAX];
  return getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

// Taken before main runs, so before any conversion changes it.
const std::string g_startupDirectory = CurrentDirectory();

}  // namespace

const size_t kFileBlockSize = 1024 * 1024;
const bool kWriteInBackground = true;
const bool kFlushInBackground = false;

File::File() : handle_(-1) {}

File::~File() { Close(); }

int File::OpenRead(const std::string& path) {
  Close();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return LastError();
  // A folder opens for reading here, and only its first read would fail, long
  // after a temporary file was made; Windows refuses to open it at all.
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    return EACCES;
  }
  handle_ = fd;
#ifdef POSIX_FADV_SEQUENTIAL
  posix_fadvise(Fd(handle_), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return 0;
}

int File::OpenWriteTruncate(const std::string& path) {
  Close();
  handle_ = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  return Fd(handle_) >= 0 ? 0 : LastError();
}

int File::OpenWrite(const std::string& path) {
  Close();
  handle_ = open(path.c_str(), O_WRONLY | O_CLOEXEC);
  return Fd(handle_) >= 0 ? 0 : LastError();
}

bool File::IsOpen() const { return Fd(handle_) >= 0; }

int File::Read(void* buf, size_t n, size_t* got) {
  for (;;) {
    ssize_t r = read(Fd(handle_), buf, n);
    if (r >= 0) {
      *got = static_cast<size_t>(r);
      return 0;
    }
    if (errno != EINTR) return LastError();
  }
}

int File::Write(const void* buf, size_t n) {
  const size_t size = n;
  const char* p = static_cast<const char*>(buf);
  while (n > 0) {
    ssize_t w = write(Fd(handle_), p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (w == 0) return ENOSPC;
    p += w;
    n -= static_cast<size_t>(w);
  }
  if (size >= kWritebackFrom) StartWriteback(Fd(handle_));
  return 0;
}

int File::Size(uint64_t* size) {
  struct stat st;
  if (fstat(Fd(handle_), &st) != 0) return LastError();
  *size = static_cast<uint64_t>(st.st_size);
  return 0;
}

int File::Seek(uint64_t pos) {
  return lseek(Fd(handle_), static_cast<off_t>(pos), SEEK_SET) >= 0 ? 0 : LastError();
}

int File::Sync() { return fsync(Fd(handle_)) == 0 ? 0 : LastError(); }

int File::Close() {
  if (Fd(handle_) < 0) return 0;
  int fd = Fd(handle_);
  handle_ = -1;
  return close(fd) == 0 ? 0 : LastError();
}

// Only '/' separates here: a backslash or a colon is part of a name.
std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

const std::string& StartupDirectory() { return g_startupDirectory; }

std::string ResolveTarget(const std::string& path) {
  std::string absolute = path;
  if (path.empty() || path[0] != '/') {
    absolute = g_startupDirectory;
    if (absolute.empty() || absolute.back() != '/') absolute += '/';
    absolute += path;
  }
  // Follow a symbolic link so that its target is converted and the link stays.
  struct stat st;
  if (lstat(absolute.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    char* real = realpath(absolute.c_str(), nullptr);
    if (real) {
      absolute = real;
      free(real);
    }
  }
  return absolute;
}

int ChangeDirectory(const std::string& folder) {
  if (folder.empty()) return 0;
  return chdir(folder.c_str()) == 0 ? 0 : LastError();
}

int CreateTempFileFor(const std::string& target, std::string* name) {
  std::string pattern = FolderOf(target) + "tmpXXXXXX";
  int fd = mkstemp(&pattern[0]);
  if (fd < 0) return LastError();
  close(fd);
  *name = pattern;
  return 0;
}

int SyncFolder(const std::string& folder) {
  int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return LastError();
  int error = fsync(dir) == 0 ? 0 : LastError();
  close(dir);
  return error;
}

int ReplaceWithTemp(const std::string& temp, const std::string& target,
                     DeferredFolderSync* deferred) {
  // The new content keeps the file's permissions, and its owner and group
  // where this process may set them (otherwise it is ours, as a new file is).
  struct stat st;
  if (stat(target.c_str(), &st) == 0) {
    if (chown(temp.c_str(), st.st_uid, st.st_gid) != 0) {
      (void)!chown(temp.c_str(), static_cast<uid_t>(-1), st.st_gid);
    }
    chmod(temp.c_str(), st.st_mode & 07777);
  }
  if (rename(temp.c_str(), target.c_str()) != 0) {
    int error = LastError();
    // Take the temporary file back, or it may not be ours to delete.
    (void)!chown(temp.c_str(), geteuid(), getegid());
    return error;
  }
  // The rename itself is durable once the folder is flushed.
  if (deferred) {
    deferred->Add(FolderOf(target));
  } else {
    SyncFolder(FolderOf(target));
  }
  return 0;
}

int RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0 ? 0 : LastError(); }
