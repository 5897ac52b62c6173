#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

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

// Taken before main runs, so before any conversion changes it. The
// descriptor keeps the folder itself: its name may be too long to have, or
// may come to name another folder, or none.
const std::string g_startupDirectory = CurrentDirectory();
const int g_startupFolder = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);

// A path that reaches the start-up folder now: its name while that names it
// still, else the folder through its descriptor (a folder that was removed
// holds no file), or empty when there is no descriptor.
std::string StartupBase() {
  if (g_startupFolder < 0) return std::string();
  struct stat named, kept;
  if (!g_startupDirectory.empty() && stat(g_startupDirectory.c_str(), &named) == 0 &&
      fstat(g_startupFolder, &kept) == 0 && named.st_dev == kept.st_dev &&
      named.st_ino == kept.st_ino)
    return g_startupDirectory;
  return "/proc/self/fd/" + std::to_string(g_startupFolder);
}

void StampFrom(const struct stat& st, FileStamp* stamp) {
  stamp->volume = static_cast<uint64_t>(st.st_dev);
  stamp->index = static_cast<uint64_t>(st.st_ino);
  stamp->size = static_cast<uint64_t>(st.st_size);
  stamp->modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp->changed = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
}

// Opens the regular file at path with flags. Its type is known before the
// open, which never waits (a pipe that was put in its place meanwhile is
// refused by the second look, not waited for). The descriptor or -error.
int OpenRegular(const std::string& path, int flags) {
  struct stat named;
  if (stat(path.c_str(), &named) != 0) return -LastError();
  if (S_ISDIR(named.st_mode)) return -EACCES;  // as Windows, which opens no folder
  if (!S_ISREG(named.st_mode)) return -kErrorNotRegularFile;
  int fd = open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -LastError();
  struct stat opened;
  int error = 0;
  if (fstat(fd, &opened) != 0) {
    error = LastError();
  } else if (!S_ISREG(opened.st_mode)) {
    error = S_ISDIR(opened.st_mode) ? EACCES : kErrorNotRegularFile;
  } else if (opened.st_dev != named.st_dev || opened.st_ino != named.st_ino) {
    error = kErrorChangedMeanwhile;
  } else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    error = LastError();
  }
  if (error == 0) return fd;
  close(fd);
  return -error;
}

}  // namespace

const size_t kFileBlockSize = 1024 * 1024;
const bool kWriteInBackground = true;
const bool kFlushInBackground = false;
const bool kMetadataBeforeFlush = true;
const unsigned kFlushThreads = 32;

File::File() : handle_(-1) {}

File::~File() { Close(); }

int File::OpenRead(const std::string& path) {
  Close();
  int fd = OpenRegular(path, O_RDONLY);
  if (fd < 0) return -fd;
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
  int fd = OpenRegular(path, O_WRONLY);
  if (fd < 0) return -fd;
  handle_ = fd;
  return 0;
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

int File::Stamp(FileStamp* stamp) {
  struct stat st;
  if (fstat(Fd(handle_), &st) != 0) return LastError();
  StampFrom(st, stamp);
  return 0;
}

int File::Names(uint64_t* names) {
  struct stat st;
  if (fstat(Fd(handle_), &st) != 0) return LastError();
  *names = static_cast<uint64_t>(st.st_nlink);
  return 0;
}

int StampOf(const std::string& path, FileStamp* stamp) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return LastError();
  StampFrom(st, stamp);
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
    absolute = StartupBase();
    if (absolute.empty()) return absolute;  // names nothing
    if (absolute.back() != '/') absolute += '/';
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
  return CreateTempFileIn(FolderOf(target), name);
}

int CreateTempFileIn(const std::string& folder, std::string* name) {
  std::string pattern = folder + "tmpXXXXXX";
  int fd = mkstemp(&pattern[0]);
  if (fd < 0) return LastError();
  close(fd);
  *name = pattern;
  return 0;
}

int CreateTempFolderFor(const std::string&, std::string*) { return ENOTSUP; }

size_t OpenFilesAllowed() {
  // Standard streams, the start-up folder, the file read, the probe, a
  // folder being flushed and what the C library opens: 16 is ample.
  const rlim_t kReserved = 16;
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  return limit.rlim_cur > kReserved ? static_cast<size_t>(limit.rlim_cur - kReserved) : 0;
}

int RemoveFolder(const std::string& folder) { return rmdir(folder.c_str()) == 0 ? 0 : LastError(); }

namespace {

const char kAccessAcl[] = "system.posix_acl_access";
// Dropped by a change of owner, so set after it.
const char kCapabilities[] = "security.capability";

// Reads a list or a value whose size is not known in advance: call(buffer,
// size) answers as listxattr and getxattr do. 0 or the system's errno.
template <typename Call>
int ReadSized(std::vector<char>* out, Call call) {
  for (;;) {
    ssize_t size = call(nullptr, 0);
    if (size < 0) return errno;
    out->resize(static_cast<size_t>(size) + 1);
    ssize_t got = call(out->data(), out->size());
    if (got >= 0) {
      out->resize(static_cast<size_t>(got));
      return 0;
    }
    if (errno != ERANGE) return errno;  // ERANGE: it grew in between
  }
}

bool IsAccessRule(const std::string& name) { return name.compare(0, 7, "system.") == 0; }

struct Attribute {
  std::string name;
  std::vector<char> value;
};

// Every extended attribute of path that this process can read.
int ReadAttributes(const std::string& path, std::vector<Attribute>* attributes) {
  const char* source = path.c_str();
  std::vector<char> names;
  int error = ReadSized(&names, [&](char* buf, size_t n) { return listxattr(source, buf, n); });
  if (error == ENOTSUP) return 0;  // a filesystem without them: nothing to keep
  if (error != 0) return kErrorAttributesNotKept;
  for (size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
    Attribute a;
    a.name = &names[at];
    error = ReadSized(&a.value,
                      [&](char* buf, size_t n) { return getxattr(source, a.name.c_str(), buf, n); });
    // Gone since the list was read, or not ours to read.
    if (error == ENODATA || error == EACCES || error == EPERM) continue;
    if (error != 0) return IsAccessRule(a.name) ? kErrorAccessNotKept : kErrorAttributesNotKept;
    attributes->push_back(std::move(a));
  }
  return 0;
}

// Sets the attribute on fd. 0, or the engine's error for what is not kept.
int SetAttribute(int fd, const Attribute& a) {
  if (fsetxattr(fd, a.name.c_str(), a.value.data(), a.value.size(), 0) == 0) return 0;
  // Labels of security modules: the system gave the new file its own, and a
  // refusal to set the old one stands.
  if (a.name.compare(0, 9, "security.") == 0 &&
      (errno == EPERM || errno == EACCES || errno == ENOTSUP))
    return 0;
  return IsAccessRule(a.name) ? kErrorAccessNotKept : kErrorAttributesNotKept;
}

// CarryMetadata on fd, the temporary file, which this process owns.
int CarryOnto(int fd, const std::string& target, const struct stat& st) {
  std::vector<Attribute> attributes;
  if (int error = ReadAttributes(target, &attributes)) return error;
  // While the file is still ours to change: the user attributes while it is
  // writable, then the ACLs, then the mode, whose group bits set the ACL's
  // mask to what it was. An ACL that the file got from its folder and target
  // has not is taken off.
  bool hasAccessAcl = false;
  for (int accessRules = 0; accessRules < 2; ++accessRules) {
    for (const Attribute& a : attributes) {
      if (IsAccessRule(a.name) != (accessRules == 1) || a.name == kCapabilities) continue;
      if (int error = SetAttribute(fd, a)) return error;
      if (a.name == kAccessAcl) hasAccessAcl = true;
    }
  }
  if (!hasAccessAcl && fremovexattr(fd, kAccessAcl) != 0 && errno != ENODATA && errno != ENOTSUP)
    return kErrorAccessNotKept;
  if (fchmod(fd, st.st_mode & 07777) != 0) return kErrorAccessNotKept;
  // Then the owner. Until now the file was this process's, with the access
  // that target gives others: never more.
  if (fchown(fd, st.st_uid, st.st_gid) != 0) return kErrorOwnerNotKept;
  // A change of owner drops the set-ID bits and file capabilities.
  int error = 0;
  if ((st.st_mode & (S_ISUID | S_ISGID)) != 0 && fchmod(fd, st.st_mode & 07777) != 0)
    error = kErrorAccessNotKept;
  for (const Attribute& a : attributes) {
    if (error == 0 && a.name == kCapabilities) error = SetAttribute(fd, a);
  }
  // Taken back, or it may not be ours to delete.
  if (error != 0) (void)!fchown(fd, geteuid(), getegid());
  return error;
}

}  // namespace

int CarryMetadata(const std::string& target, const std::string& temp) {
  struct stat st;
  if (stat(target.c_str(), &st) != 0) return LastError();
  int fd = open(temp.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return LastError();
  int error = CarryOnto(fd, target, st);
  close(fd);
  return error;
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
