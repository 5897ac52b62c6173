#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <vector>

#include "file.h"

namespace {

// Folds the system's error numbers into the program's.
std::error_code MapError(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return Errno(ENOENT);
    case EACCES:
    case EPERM:
    case EISDIR:  // a folder opened for writing: Windows denies access there
      return Errno(EACCES);
    case ENOSPC:
    case EDQUOT:
      return Errno(ENOSPC);
    default:
      return Errno(error);
  }
}

std::error_code LastError() { return MapError(errno); }

// After a read or write of fd failed with EAGAIN: whether fd could be made
// blocking, so that the call is worth making again.
bool MadeBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_NONBLOCK) != 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

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

std::string CurrentFolderPath() {
  char buf[PATH_MAX];
  return getcwd(buf, sizeof buf) ? std::string(buf) : std::string();
}

// Taken before main runs, so before any conversion changes it. The
// descriptor keeps the folder itself: its name may be too long to have, or
// may come to name another folder, or none.
const std::string g_startupPath = CurrentFolderPath();
const int g_startupFolder = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);

// A path that reaches the start-up folder now: its name while that names it
// still, else the folder through its descriptor (a folder that was removed
// holds no file), or empty when there is no descriptor.
std::string StartupBase() {
  if (g_startupFolder < 0) return std::string();
  // The folder kept is looked at once: only its name is looked up each time.
  static const struct stat kept = [] {
    struct stat st {};
    if (fstat(g_startupFolder, &st) != 0) st.st_ino = 0;
    return st;
  }();
  struct stat named;
  if (!g_startupPath.empty() && kept.st_ino != 0 &&
      stat(g_startupPath.c_str(), &named) == 0 && named.st_dev == kept.st_dev &&
      named.st_ino == kept.st_ino)
    return g_startupPath;
  return "/proc/self/fd/" + std::to_string(g_startupFolder);
}

// ResolveTarget's last look at a name that is no link, until it is taken or
// the engine opens or replaces a file (see TakeResolvedLook).
struct ResolvedLook {
  std::string path;
  struct stat st;
  bool valid = false;
};
thread_local ResolvedLook g_resolvedLook;

void ForgetResolvedLook() { g_resolvedLook.valid = false; }

void StampFrom(const struct stat& st, FileStamp* stamp) {
  stamp->volume = static_cast<uint64_t>(st.st_dev);
  stamp->index = static_cast<uint64_t>(st.st_ino);
  stamp->size = static_cast<uint64_t>(st.st_size);
  stamp->modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  stamp->changed = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
}

// Opens the regular file at path with flags. Its type is known before the
// open, which never waits (a pipe that was put in its place meanwhile is
// refused by the second look, not waited for). The descriptor, or -1 with
// *error set; *seen (when given) gets what the second look saw. The descriptor stays
// non-blocking, which reads and writes of a regular file do not heed (Read
// and Write take it off where they do).
// With looked, the caller has just had the first look.
int OpenRegular(const std::string& path, int flags, std::error_code* error,
                struct stat* seen = nullptr, bool looked = false) {
  struct stat named;
  if (!looked) {
    if (stat(path.c_str(), &named) != 0) {
      *error = LastError();
      return -1;
    }
    // A folder as Windows, which opens none: EACCES.
    *error = S_ISDIR(named.st_mode)    ? Errno(EACCES)
             : !S_ISREG(named.st_mode) ? make_error_code(kErrorNotRegularFile)
                                       : std::error_code();
    if (*error) return -1;
  }
  int fd = open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *error = LastError();
    return -1;
  }
  struct stat opened;
  if (fstat(fd, &opened) != 0) {
    *error = LastError();
  } else if (!S_ISREG(opened.st_mode)) {
    *error = S_ISDIR(opened.st_mode) ? Errno(EACCES) : make_error_code(kErrorNotRegularFile);
  } else if (!looked && (opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)) {
    *error = kErrorChangedMeanwhile;
  }
  if (!*error) {
    if (seen) *seen = opened;
    return fd;
  }
  close(fd);
  return -1;
}

}  // namespace

std::error_code LastSystemError() { return LastError(); }

const size_t kFileBlockSize = 1024 * 1024;
const bool kWriteInBackground = true;
const bool kFlushInBackground = false;
const unsigned kFlushThreads = 32;
const bool kStampAfterRead = false;

NativeHandle OwnedHandle::Invalid() { return -1; }

std::error_code OwnedHandle::Close() {
  if (handle_ < 0) return {};
  int fd = Release();
  return close(fd) == 0 ? std::error_code() : LastError();
}

File::File() {}

File::~File() { Close(); }

std::error_code File::OpenRead(const std::string& path) {
  FileStamp stamp;
  uint64_t linkCount = 0;
  return OpenStamped(*this, path, &stamp, &linkCount);
}

std::error_code OpenStamped(File& file, const std::string& path, FileStamp* stamp,
                            uint64_t* linkCount, bool looked) {
  ForgetResolvedLook();
  file.Close();
  struct stat st {};
  std::error_code error;
  int fd = OpenRegular(path, O_RDONLY, &error, &st, looked);
  if (fd < 0) return error;
  file.handle_.Reset(fd);
  StampFrom(st, stamp);
  *linkCount = static_cast<uint64_t>(st.st_nlink);
  file.seen_ = {*stamp, st.st_uid, st.st_gid, st.st_mode};
#ifdef POSIX_FADV_SEQUENTIAL
  // A file read in one block is not worth the call.
  if (static_cast<uint64_t>(st.st_size) >= kFileBlockSize)
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  return {};
}

std::error_code File::OpenWriteTruncate(const std::string& path) {
  Close();
  handle_.Reset(open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC));
  return handle_.Valid() ? std::error_code() : LastError();
}

std::error_code File::OpenWrite(const std::string& path) {
  Close();
  std::error_code error;
  int fd = OpenRegular(path, O_WRONLY, &error);
  if (fd < 0) return error;
  handle_.Reset(fd);
  return {};
}

bool File::IsOpen() const { return handle_.Valid(); }

std::error_code ReadSome(NativeHandle fd, void* buf, size_t n, size_t* got) {
  for (;;) {
    ssize_t r = read(fd, buf, n);
    if (r >= 0) {
      *got = static_cast<size_t>(r);
      return {};
    }
    if (errno == EAGAIN && MadeBlocking(fd)) continue;
    if (errno != EINTR) return Errno(errno);
  }
}

std::error_code WriteAll(NativeHandle fd, const void* buf, size_t n) {
  const char* p = static_cast<const char*>(buf);
  while (n > 0) {
    ssize_t w = write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR || (errno == EAGAIN && MadeBlocking(fd))) continue;
      return Errno(errno);
    }
    if (w == 0) return Errno(ENOSPC);
    p += w;
    n -= static_cast<size_t>(w);
  }
  return {};
}

std::error_code File::Read(void* buf, size_t n, size_t* got) {
  std::error_code error = ReadSome(handle_.Get(), buf, n, got);
  return error ? MapError(error.value()) : error;
}

std::error_code File::Write(const void* buf, size_t n) {
  if (std::error_code error = WriteAll(handle_.Get(), buf, n)) return MapError(error.value());
  if (n >= kWritebackFrom) StartWriteback(handle_.Get());
  return {};
}

std::error_code File::Size(uint64_t* size) {
  struct stat st;
  if (fstat(handle_.Get(), &st) != 0) return LastError();
  *size = static_cast<uint64_t>(st.st_size);
  return {};
}

std::error_code File::Stamp(FileStamp* stamp) {
  struct stat st;
  if (fstat(handle_.Get(), &st) != 0) return LastError();
  StampFrom(st, stamp);
  seen_ = {*stamp, st.st_uid, st.st_gid, st.st_mode};
  return {};
}

std::error_code File::LinkCount(uint64_t* count) {
  struct stat st;
  if (fstat(handle_.Get(), &st) != 0) return LastError();
  *count = static_cast<uint64_t>(st.st_nlink);
  return {};
}

std::error_code StampOf(const std::string& path, FileStamp* stamp) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return LastError();
  StampFrom(st, stamp);
  return {};
}

bool IdentityOf(const std::string& path, FileIdentity* identity) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  identity->volume = static_cast<uint64_t>(st.st_dev);
  identity->index = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool SameFile(const std::string& a, const std::string& b) {
  FileIdentity x, y;
  return IdentityOf(a, &x) && IdentityOf(b, &y) && x == y;
}

std::error_code File::Seek(uint64_t pos) {
  return lseek(handle_.Get(), static_cast<off_t>(pos), SEEK_SET) >= 0 ? std::error_code()
                                                                      : LastError();
}

std::error_code File::Sync() {
  return fsync(handle_.Get()) == 0 ? std::error_code() : LastError();
}

void File::Forget(uint64_t end) {
#ifdef POSIX_FADV_DONTNEED
  posix_fadvise(handle_.Get(), 0, static_cast<off_t>(end), POSIX_FADV_DONTNEED);
#else
  (void)end;
#endif
}

namespace {

// The descriptors that hold a lease, in a fixed table that the signal
// handler can read: a free slot holds -1.
const size_t kLeases = 1024;
std::atomic<int> g_leases[kLeases];
std::atomic<size_t> g_leasesUsed{0};  // slots at or past it were never used

bool RegisterLease(int fd) {
  for (size_t i = 0; i < kLeases; ++i) {
    if (i >= g_leasesUsed.load()) {
      // A slot never used: claimed by moving the mark past it.
      size_t used = i;
      if (!g_leasesUsed.compare_exchange_strong(used, i + 1)) continue;
      g_leases[i].store(fd);
      return true;
    }
    int free = -1;
    if (g_leases[i].compare_exchange_strong(free, fd)) return true;
  }
  return false;
}

void ForgetLease(int fd) {
  const size_t used = g_leasesUsed.load();
  for (size_t i = 0; i < used; ++i) {
    int held = fd;
    if (g_leases[i].compare_exchange_strong(held, -1)) return;
  }
}

// A writer's open waits until the lease is let go (or for the system's
// lease-break-time, 45 s by default): it is let go at once, from the signal
// that tells of it, and F_GETLEASE tells the conversion afterwards. The
// signal does not say which lease breaks (that would cost a call per file):
// each lease being broken reads as F_UNLCK.
void LetLeaseGo(int, siginfo_t*, void*) {
  const int saved = errno;
  const size_t used = g_leasesUsed.load();
  for (size_t i = 0; i < used; ++i) {
    const int fd = g_leases[i].load();
    if (fd >= 0 && fcntl(fd, F_GETLEASE) == F_UNLCK) fcntl(fd, F_SETLEASE, F_UNLCK);
  }
  errno = saved;
}

// Whether the signal that tells of a broken lease is this engine's.
bool LeaseSignalReady() {
  static const bool ready = [] {
    struct sigaction old;
    if (sigaction(SIGIO, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) != 0 ||
        old.sa_handler != SIG_DFL)
      return false;  // someone else's: leave it, and take no lease
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = LetLeaseGo;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    return sigaction(SIGIO, &action, nullptr) == 0;
  }();
  return ready;
}

}  // namespace

std::error_code File::Close() {
  if (watched_) ForgetLease(handle_.Get());
  watched_ = false;
  return handle_.Close();
}

std::error_code File::WatchWriters() {
  if (watched_) ForgetLease(handle_.Get());
  watched_ = false;
  // The lease's signal is SIGIO, whose handler lets go of every lease being
  // broken: it must know of the descriptor before the lease is taken.
  if (!LeaseSignalReady() || !RegisterLease(handle_.Get())) return {};
  // A program that writes a line and closes the file holds it open for a
  // moment: it is given half a second.
  for (int wait = 0;; ++wait) {
    if (fcntl(handle_.Get(), F_SETLEASE, F_RDLCK) == 0) {
      watched_ = true;
      return {};
    }
    // EAGAIN: some program has it open for writing. Anything else (another
    // user's file, a filesystem without leases, leases switched off): no
    // watch, the stamps alone tell.
    if (errno != EAGAIN || wait == 25) {
      ForgetLease(handle_.Get());
      return errno == EAGAIN ? make_error_code(kErrorInUse) : std::error_code();
    }
    usleep(20 * 1000);
  }
}

bool File::IsSparse() { return false; }

bool File::WrittenSinceWatched() {
  // A lease let go, or being broken, reads as F_UNLCK.
  return watched_ && fcntl(handle_.Get(), F_GETLEASE) != F_RDLCK;
}

// Only '/' separates here: a backslash or a colon is part of a name.
std::string FolderOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

bool TakeResolvedLook(const std::string& path, struct stat* st) {
  if (!g_resolvedLook.valid || g_resolvedLook.path != path) return false;
  g_resolvedLook.valid = false;
  *st = g_resolvedLook.st;
  return true;
}

std::string ResolveTarget(const std::string& path) {
  ForgetResolvedLook();
  std::string absolute = path;
  if (path.empty() || path[0] != '/') {
    absolute = StartupBase();
    if (absolute.empty()) return absolute;  // names nothing
    if (absolute.back() != '/') absolute += '/';
    absolute += path;
  }
  // Follow a symbolic link so that its target is converted and the link stays.
  struct stat st;
  if (lstat(absolute.c_str(), &st) != 0) return absolute;
  if (S_ISLNK(st.st_mode)) {
    char* real = realpath(absolute.c_str(), nullptr);
    if (real) {
      absolute = real;
      free(real);
    }
    return absolute;
  }
  // The same as a look that follows links would see.
  g_resolvedLook.path = absolute;
  g_resolvedLook.st = st;
  g_resolvedLook.valid = true;
  return absolute;
}

std::error_code CreateTempFolderFor(const std::string&, std::string*) { return Errno(ENOTSUP); }

size_t OpenFilesAllowed() {
  // Standard streams, the start-up folder, a folder being flushed and what
  // the C library opens: 16 is ample.
  const rlim_t kReserved = 16;
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return SIZE_MAX;
  return limit.rlim_cur > kReserved ? static_cast<size_t>(limit.rlim_cur - kReserved) : 0;
}

std::error_code RemoveFolder(const std::string& folder) {
  return rmdir(folder.c_str()) == 0 ? std::error_code() : LastError();
}

// A folder that new content is made in, open once for the files made in it
// one after another, with what a file made in it gets from it.
struct TempFolder {
  OwnedHandle fd;
  std::string path;  // as it was opened
  // Learnt from the first file made in it: whether a new file gets an ACL
  // (from the folder's default ACL), and its file flags.
  bool knowsAcl = false;
  bool givesAcl = true;
  bool knowsFlags = false;
  int givenFlags = 0;
  bool writable = false;  // the write probe has found it writable
};

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
    if (size == 0) {
      out->clear();
      return 0;
    }
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

// Every extended attribute of the file open in fd that this process can read.
std::error_code ReadAttributes(int fd, std::vector<Attribute>* attributes) {
  std::vector<char> names;
  int error = ReadSized(&names, [&](char* buf, size_t n) { return flistxattr(fd, buf, n); });
  if (error == ENOTSUP) return {};  // a filesystem without them: nothing to keep
  if (error != 0) return kErrorAttributesNotKept;
  for (size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1) {
    Attribute a;
    a.name = &names[at];
    error = ReadSized(&a.value,
                      [&](char* buf, size_t n) { return fgetxattr(fd, a.name.c_str(), buf, n); });
    // Gone since the list was read, or not ours to read.
    if (error == ENODATA || error == EACCES || error == EPERM) continue;
    if (error != 0) return IsAccessRule(a.name) ? kErrorAccessNotKept : kErrorAttributesNotKept;
    attributes->push_back(std::move(a));
  }
  return {};
}

// Sets the attribute on fd. The engine's error for what is not kept, if any.
std::error_code SetAttribute(int fd, const Attribute& a) {
  if (fsetxattr(fd, a.name.c_str(), a.value.data(), a.value.size(), 0) == 0) return {};
  // Labels of security modules: the system gave the new file its own, and a
  // refusal to set the old one stands. Not so the file's capabilities,
  // which would be lost.
  if (a.name.compare(0, 9, "security.") == 0 && a.name != kCapabilities &&
      (errno == EPERM || errno == EACCES || errno == ENOTSUP))
    return {};
  return IsAccessRule(a.name) ? kErrorAccessNotKept : kErrorAttributesNotKept;
}

// The file flags (chattr) a user sets on a file for its own sake, which the
// new content keeps. Immutable and append-only are not among them: a file
// that has them cannot be replaced anyway. The others describe how the
// filesystem stores the file and are its own business.
const int kCarriedFlags = FS_SECRM_FL | FS_UNRM_FL | FS_COMPR_FL | FS_SYNC_FL | FS_NODUMP_FL |
                          FS_NOATIME_FL | FS_JOURNAL_DATA_FL | FS_NOTAIL_FL | FS_NOCOW_FL |
                          FS_NOCOMP_FL;

// Gives fd, made in folder, the carried flags of the file open in source.
// kErrorAttributesNotKept when one of them does not hold.
std::error_code CarryFlags(int fd, int source, TempFolder* folder) {
  int wanted = 0, got = 0;
  // No flags on this filesystem: nothing to keep.
  if (ioctl(source, FS_IOC_GETFLAGS, &wanted) != 0) return {};
  if (folder->knowsFlags) {
    got = folder->givenFlags;
  } else if (ioctl(fd, FS_IOC_GETFLAGS, &got) != 0) {
    if ((wanted & kCarriedFlags) != 0) return kErrorAttributesNotKept;
    return {};
  } else {
    folder->knowsFlags = true;
    folder->givenFlags = got;
  }
  const int flags = (got & ~kCarriedFlags) | (wanted & kCarriedFlags);
  if (flags == got) return {};
  int set = flags;
  if (ioctl(fd, FS_IOC_SETFLAGS, &set) != 0 || ioctl(fd, FS_IOC_GETFLAGS, &got) != 0 ||
      (got & kCarriedFlags) != (wanted & kCarriedFlags))
    return kErrorAttributesNotKept;
  return {};
}

// Gives fd, the temporary file, which this process owns and no one else may
// open (0600), what the file open in source keeps. The group first, while
// the file is still private: from then on the group and everyone else get
// what the mode gives them on the old file, never more. Then the extended
// attributes and ACLs, the permission bits (setting the ACL's mask), the
// file capabilities and the file flags, while the file is still this
// process's to change; the owner last, which drops the set-ID bits and the
// capabilities, so they are given again after it (and for a file of another
// owner, the set-user-ID bit and the capabilities only then).
// st holds the source's owner, group and mode as its last stamp saw them
// (any change since shows in its change time, which the replace checks), own
// what the temporary file, made in folder, has. What the folder gives every
// file made in it is learnt from the first: a folder whose default ACL or
// flags another program changes during the run may leave them on the files
// made after that.
std::error_code CarryOnto(int fd, int source, const struct stat& st, const struct stat& own,
              TempFolder* folder) {
  std::vector<Attribute> attributes;
  if (std::error_code error = ReadAttributes(source, &attributes)) return error;
  if (own.st_gid != st.st_gid && fchown(fd, static_cast<uid_t>(-1), st.st_gid) != 0)
    return kErrorOwnerNotKept;
  std::error_code error;
  // The user attributes first, then the ACLs, then the mode, whose group
  // bits set the ACL's mask to what it was. An ACL that the file got from
  // its folder and source has not is taken off.
  bool hasAccessAcl = false;
  for (int accessRules = 0; accessRules < 2 && !error; ++accessRules) {
    for (const Attribute& a : attributes) {
      if (IsAccessRule(a.name) != (accessRules == 1) || a.name == kCapabilities) continue;
      if ((error = SetAttribute(fd, a))) break;
      if (a.name == kAccessAcl) hasAccessAcl = true;
    }
  }
  if (!error && !hasAccessAcl && !folder->knowsAcl) {
    // Whether the folder gives its files an ACL, from the first one's list.
    std::vector<char> names;
    const int listed = ReadSized(&names, [&](char* buf, size_t n) { return flistxattr(fd, buf, n); });
    if (listed == 0 || listed == ENOTSUP) {
      folder->knowsAcl = true;
      folder->givesAcl = false;
      for (size_t at = 0; at < names.size(); at += std::strlen(&names[at]) + 1)
        folder->givesAcl = folder->givesAcl || kAccessAcl == std::string(&names[at]);
    }
  }
  if (!error && !hasAccessAcl && (!folder->knowsAcl || folder->givesAcl) &&
      fremovexattr(fd, kAccessAcl) != 0 && errno != ENODATA && errno != ENOTSUP)
    error = kErrorAccessNotKept;
  // Until the owner is given, the file is this process's: a set-user-ID bit
  // or capabilities would let it run with this process's rights.
  const bool newOwner = own.st_uid != st.st_uid;
  const mode_t mode = st.st_mode & (newOwner ? 07777 & ~S_ISUID : 07777);
  // An ACL set or taken off may have moved the group bits.
  if (!error && (attributes.size() > 0 || (own.st_mode & 07777) != mode) &&
      fchmod(fd, mode) != 0)
    error = kErrorAccessNotKept;
  const auto capabilities = [&] {
    for (const Attribute& a : attributes) {
      if (!error && a.name == kCapabilities) error = SetAttribute(fd, a);
    }
  };
  if (!newOwner) capabilities();
  if (!error) error = CarryFlags(fd, source, folder);
  if (!error && newOwner) {
    if (fchown(fd, st.st_uid, static_cast<gid_t>(-1)) != 0) {
      error = kErrorOwnerNotKept;
    } else {
      if ((st.st_mode & (S_ISUID | S_ISGID)) != 0 && fchmod(fd, st.st_mode & 07777) != 0)
        error = kErrorAccessNotKept;
      capabilities();
    }
  }
  // Taken back: in a folder with the sticky bit it may not be ours to
  // delete otherwise.
  if (error) (void)!fchown(fd, geteuid(), getegid());
  return error;
}

// The names of temporary files that SIGINT, SIGTERM and SIGHUP delete: a
// fixed table that a signal handler can read. A slot is free while its
// folder is -1; -2 while it is being filled.
struct TempName {
  std::atomic<int> folder{-1};
  char name[16];
};
const size_t kTempNames = 1024;
TempName g_tempNames[kTempNames];

int RegisterTempName(int folder, const std::string& name) {
  for (size_t i = 0; i < kTempNames; ++i) {
    int free = -1;
    if (g_tempNames[i].folder.compare_exchange_strong(free, -2)) {
      std::strncpy(g_tempNames[i].name, name.c_str(), sizeof g_tempNames[i].name - 1);
      g_tempNames[i].name[sizeof g_tempNames[i].name - 1] = '\0';
      g_tempNames[i].folder.store(folder);
      return static_cast<int>(i);
    }
  }
  return -1;  // more than the table holds: left over if the process is stopped now
}

void ForgetTempName(int* slot) {
  if (*slot >= 0) g_tempNames[*slot].folder.store(-1);
  *slot = -1;
}

void RemoveTempNamesAndDie(int signal) {
  for (TempName& t : g_tempNames) {
    int folder = t.folder.load();
    if (folder >= 0) unlinkat(folder, t.name, 0);
  }
  struct sigaction dfl;
  std::memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  sigaction(signal, &dfl, nullptr);
  raise(signal);  // delivered once the handler returns
}

// A fresh name for a temporary file: "tmp" and six letters or digits. The
// names follow from one seed taken from the system once: a name someone
// else took already is never used (the file is made, or linked, only where
// no name is), so they need not be secret.
std::string FreshTempName() {
  static const char kDigits[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static std::atomic<uint64_t> state{[] {
    uint64_t seed = 0;
    if (getrandom(&seed, sizeof seed, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof seed))
      seed = static_cast<uint64_t>(getpid()) * 2654435761u + static_cast<uint64_t>(time(nullptr));
    return seed;
  }()};
  // splitmix64: each name from its own step of the sequence.
  uint64_t z = state.fetch_add(0x9E3779B97F4A7C15ull) + 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  std::string name = "tmp";
  for (int i = 0; i < 6; ++i, z >>= 8) name += kDigits[(z & 0xFF) % (sizeof kDigits - 1)];
  return name;
}

// Whether name is of the form FreshTempName gives.
bool HasTempNameForm(const std::string& name) {
  if (name.size() != 9 || name.compare(0, 3, "tmp") != 0) return false;
  for (size_t i = 3; i < name.size(); ++i) {
    const char c = name[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

// Marks a new temporary file, open on fd, as a conversion's own until it is
// closed: another run's walk, which may list its name, leaves it out (see
// IsTempFileOfAConversion). Where the system has no such locks, that run
// may report the name as a file that went missing.
void HoldAsTemp(int fd) { (void)flock(fd, LOCK_EX | LOCK_NB); }

// Whether O_TMPFILE files can be given a name here: through /proc, as an
// ordinary user may.
bool CanLinkUnnamed() {
  static const bool can = access("/proc/self/fd", X_OK) == 0;
  return can;
}

// The last part of a path: the name in its folder.
std::string BaseName(const std::string& path) { return path.substr(FolderOf(path).size()); }

// Whether the name in folder is the file with st's identity itself (not a
// link to it).
std::error_code NamesFile(int folder, const std::string& name, const FileIdentity& file) {
  struct stat named;
  if (fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? make_error_code(kErrorChangedMeanwhile) : LastError();
  }
  if (static_cast<uint64_t>(named.st_dev) == file.volume &&
      static_cast<uint64_t>(named.st_ino) == file.index && S_ISREG(named.st_mode))
    return {};
  return kErrorChangedMeanwhile;
}

// Whether source is still as it was opened: the same stamp, and not opened
// for writing since (where that is watched). Once it was renamed, its change
// time is the rename's: renamed tells to leave it out.
std::error_code Unchanged(File& source, const FileStamp& opened, bool renamed = false) {
  FileStamp now;
  if (std::error_code error = source.Stamp(&now)) return error;
  if (renamed) now.changed = opened.changed;
  if (now == opened && !source.WrittenSinceWatched()) return {};
  return kErrorChangedMeanwhile;
}

bool NoExchange(int error) {
  return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

}  // namespace

void RemoveTempFilesOnInterrupt() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = RemoveTempNamesAndDie;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, signal);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old;
    // A signal ignored when the program started (nohup) stays ignored.
    if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

NewContent::NewContent() {}

NewContent::~NewContent() { Discard(); }

namespace {

// The folder the last new content was made in, for the next one while some
// new content still holds it (a batch's files do): it is closed with the last.
std::mutex g_lastFolderLock;
std::weak_ptr<TempFolder> g_lastFolder;

}  // namespace

std::error_code NewContent::Create(const std::string& target, File& source,
                                   const std::string& folder) {
  ForgetResolvedLook();
  Discard();
  target_ = target;
  const std::string where = folder.empty() ? FolderOf(target) : folder;
  // The folder opened is the one that holds the file read, under its name:
  // the last one, if it still does, or the folder opened anew.
  FileIdentity read = source.seen_.identity;
  if (read.index == 0) {
    FileStamp stamp;
    if (std::error_code error = source.Stamp(&stamp)) return error;
    read = stamp;
  }
  static const uid_t euid = geteuid();
  static const gid_t egid = getegid();
  // Content made without a name is seen by no one until it gets one, right
  // after the look before the exchange, which finds a folder that does not
  // hold the file (and drops it, so that the next try opens it anew): for
  // it, a look now would only repeat that one.
  const bool unnamed = CanLinkUnnamed() && source.seen_.owner == euid;
  {
    std::lock_guard<std::mutex> lock(g_lastFolderLock);
    std::shared_ptr<TempFolder> last = g_lastFolder.lock();
    if (last && last->path == where) folder_ = std::move(last);
  }
  if (folder_ && !unnamed && NamesFile(folder_->fd.Get(), BaseName(target), read))
    folder_.reset();
  if (!folder_) {
    folder_ = std::make_shared<TempFolder>();
    folder_->path = where;
    folder_->fd.Reset(open(where.empty() ? "." : where.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!folder_->fd.Valid()) {
      std::error_code error = LastError();
      folder_.reset();
      return error;
    }
    if (!unnamed) {
      if (std::error_code error = NamesFile(folder_->fd.Get(), BaseName(target), read))
        return error;
    }
    std::lock_guard<std::mutex> lock(g_lastFolderLock);
    g_lastFolder = folder_;
  }
  // Without a name, no one else can reach it; it gets one at the replace.
  // Only for this process's own files: once the file is given to another
  // user, the system may refuse to link it (protected hard links). A file
  // of this process's group is made with its permission bits at once (no
  // one can open it before it has a name anyway); another group's gets them
  // once its group is right.
  if (unnamed) {
    const mode_t mode = source.seen_.group == egid ? (source.seen_.mode & 0777) : 0600;
    int fd = openat(folder_->fd.Get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd >= 0) {
      HoldAsTemp(fd);
      file_.Adopt(OwnedHandle(fd));
      return {};
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
      return LastError();
    // A name is made after all: only where the file is.
    if (std::error_code error = NamesFile(folder_->fd.Get(), BaseName(target), read))
      return error;
  }
  for (int attempt = 0;; ++attempt) {
    std::string name = FreshTempName();
    // Before the file exists, so that an interrupt in between leaves nothing.
    slot_ = RegisterTempName(folder_->fd.Get(), name);
    int fd = openat(folder_->fd.Get(), name.c_str(),
                    O_CREAT | O_EXCL | O_NOFOLLOW | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
      HoldAsTemp(fd);
      file_.Adopt(OwnedHandle(fd));
      name_ = where + name;
      return {};
    }
    std::error_code error = LastError();
    ForgetTempName(&slot_);
    if (errno != EEXIST || attempt == 100) return error;
  }
}

std::error_code NewContent::CarryBeforeFlush(File& source) {
  struct stat st, own;
  if (fstat(file_.Native(), &own) != 0) return LastError();
  StampFrom(own, &made_);
  st.st_uid = source.seen_.owner;
  st.st_gid = source.seen_.group;
  st.st_mode = source.seen_.mode;
  return CarryOnto(file_.Native(), source.Native(), st, own, folder_.get());
}

std::error_code NewContent::CarryAfterFlush() { return {}; }

std::error_code NewContent::Replace(File& source, const FileStamp& opened,
                                    DeferredFolderSync* deferred) {
  ForgetResolvedLook();
  const int folder = folder_->fd.Get();
  const std::string base = BaseName(target_);
  // Checked before the exchange too: a power loss between an exchange and
  // its undoing would leave the file's name on content that misses another
  // program's write.
  if (std::error_code error = Unchanged(source, opened)) return error;
  if (std::error_code error = NamesFile(folder, base, opened)) {
    // Not the folder that holds the file (any more): the next try opens it anew.
    std::lock_guard<std::mutex> lock(g_lastFolderLock);
    if (g_lastFolder.lock() == folder_) g_lastFolder.reset();
    return error;
  }
  std::string name = BaseName(name_);
  if (name_.empty()) {
    // The unnamed file gets a fresh name, right before the replace.
    const std::string self = "/proc/self/fd/" + std::to_string(file_.Native());
    for (int attempt = 0;; ++attempt) {
      name = FreshTempName();
      slot_ = RegisterTempName(folder, name);
      if (linkat(AT_FDCWD, self.c_str(), folder, name.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
      std::error_code error = LastError();
      ForgetTempName(&slot_);
      if (errno != EEXIST || attempt == 100) return error;
    }
    name_ = FolderOf(target_) + name;
  }
  // Whoever may write the folder may have put something else under the
  // temporary name: only this file is ever given the file's name. The
  // exchange is checked after it (and undone if need be), a rename over the
  // file before: the name was made just now, and a look between would close
  // no window.
  FileStamp mine = made_;
  if (mine.index == 0) {
    if (std::error_code error = file_.Stamp(&mine)) return error;
  }
  // While the names are exchanged, the old content has the temporary name:
  // an interrupt must not delete it.
  ForgetTempName(&slot_);
  if (renameat2(folder, name.c_str(), folder, base.c_str(), RENAME_EXCHANGE) == 0) {
    // The file that had the name is now under the temporary one: it must be
    // the file that was read, unchanged, and the name must hold this file.
    // Otherwise someone put another file there or wrote to it at the last
    // moment: it gets its name back.
    std::error_code error = NamesFile(folder, name, opened);
    if (!error) error = NamesFile(folder, base, mine);
    if (!error) error = Unchanged(source, opened, true);
    if (error) {
      if (renameat2(folder, name.c_str(), folder, base.c_str(), RENAME_EXCHANGE) != 0) {
        // Both files are kept: the other program's under the temporary name.
        error = LastError();
        name_.clear();
        return error;
      }
      slot_ = RegisterTempName(folder, name);
      return error;
    }
    unlinkat(folder, name.c_str(), 0);
  } else if (!NoExchange(errno)) {
    // The file's name gone: it was renamed or deleted meanwhile.
    std::error_code error =
        errno == ENOENT ? make_error_code(kErrorChangedMeanwhile) : LastError();
    slot_ = RegisterTempName(folder, name);
    return error;
  } else {
    slot_ = RegisterTempName(folder, name);
    if (std::error_code error = NamesFile(folder, name, mine)) return error;
    ForgetTempName(&slot_);
    if (renameat(folder, name.c_str(), folder, base.c_str()) != 0) {
      std::error_code error = LastError();
      slot_ = RegisterTempName(folder, name);
      return error;
    }
  }
  name_.clear();
  file_.Close();
  // The rename itself is durable once the folder is flushed.
  if (deferred) {
    deferred->Add(FolderOf(target_));
  } else {
    int dir = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
      fsync(dir);
      close(dir);
    }
  }
  folder_.reset();
  return {};
}

void NewContent::Discard() {
  made_ = FileStamp();
  // Taken back first: in a folder with the sticky bit, a file given to
  // another user may not be ours to delete.
  if (!name_.empty() && file_.IsOpen()) (void)!fchown(file_.Native(), geteuid(), getegid());
  file_.Close();
  ForgetTempName(&slot_);
  if (!name_.empty() && folder_) unlinkat(folder_->fd.Get(), BaseName(name_).c_str(), 0);
  name_.clear();
  folder_.reset();
}

std::error_code CheckWritable(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return LastError();
  if (S_ISDIR(st.st_mode)) return Errno(EACCES);  // as Windows, which opens no folder for writing
  if (!S_ISREG(st.st_mode)) return kErrorNotRegularFile;
  if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return LastError();
  const std::string folder = FolderOf(path);
  if (faccessat(AT_FDCWD, folder.empty() ? "." : folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    return LastError();
  return {};
}

std::error_code CheckOpenWritable(const std::string& path, File&) {
  // A regular file: only the access is asked for; the folder's once for the
  // files made in it one after another (a folder that stops being writable
  // meanwhile refuses the new content with the same error).
  if (faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return LastError();
  const std::string folder = FolderOf(path);
  std::shared_ptr<TempFolder> last;
  {
    std::lock_guard<std::mutex> lock(g_lastFolderLock);
    last = g_lastFolder.lock();
  }
  if (last && last->path == folder && last->writable) return {};
  if (faccessat(AT_FDCWD, folder.empty() ? "." : folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    return LastError();
  if (last && last->path == folder) last->writable = true;
  return {};
}

std::error_code SyncFolder(const std::string& folder) {
  OwnedHandle dir(open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.Valid()) return LastError();
  return fsync(dir.Get()) == 0 ? std::error_code() : LastError();
}

std::error_code RemoveFile(const std::string& path) {
  return unlink(path.c_str()) == 0 ? std::error_code() : LastError();
}

bool IsTempFileOfAConversion(int folder, const std::string& name) {
  if (!HasTempNameForm(BaseName(name))) return false;
  // Only a regular file is opened: opening a device may act on it.
  struct stat named, opened;
  if (fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (!S_ISREG(named.st_mode)) return false;
  const int fd =
      openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT;
  const bool held = fstat(fd, &opened) == 0 && opened.st_ino == named.st_ino &&
                    flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  close(fd);
  return held;
}
