#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "folder.h"

const char kPathSeparator = '/';

namespace {

PathKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return PathFile;
  if (S_ISDIR(mode)) return PathFolder;
  return PathOther;
}

// The entry name of the folder open on dir, examined without a path.
FolderEntry ExamineEntry(int dir, const char* name) {
  FolderEntry entry{name, PathMissing, {}};
  struct stat st;
  if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    entry.error = Errno(errno);
    return entry;
  }
  if (!S_ISLNK(st.st_mode)) {
    entry.kind = KindOfMode(st.st_mode);
    return entry;
  }
  if (fstatat(dir, name, &st, 0) != 0) {
    // A link that leads nowhere names no file; one that cannot be followed
    // for another reason (a folder on its way without search right) is an
    // entry that cannot be examined.
    if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP) entry.error = Errno(errno);
    return entry;
  }
  entry.kind = S_ISREG(st.st_mode) ? PathFile : PathOther;  // a link to a folder is not followed
  entry.link = entry.kind == PathFile;
  return entry;
}

// The path the system knows the file open on fd by, links resolved; empty
// when it does not tell.
std::string PathOfDescriptor(int fd) {
  std::string path(4096, '\0');
  for (;;) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = readlink(link.c_str(), &path[0], path.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < path.size()) {
      path.resize(static_cast<size_t>(n));
      return path.empty() || path[0] != '/' ? std::string() : path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace

PathKind KindOf(const std::string& path, FileIdentity* identity, bool* identified,
                std::error_code* error) {
  if (identified) *identified = false;
  struct stat st;
  if (!TakeResolvedLook(path, &st) && stat(path.c_str(), &st) != 0) {
    if (error) *error = Errno(errno);
    return PathMissing;
  }
  if (identity) {
    identity->volume = static_cast<uint64_t>(st.st_dev);
    identity->index = static_cast<uint64_t>(st.st_ino);
    if (identified) *identified = true;
  }
  return KindOfMode(st.st_mode);
}

WalkFolder::WalkFolder() {}

WalkFolder::~WalkFolder() {}

std::error_code WalkFolder::Open(const std::string& path) {
  path_ = path;
  handle_.Reset(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  return handle_.Valid() ? std::error_code() : Errno(errno);
}

std::error_code WalkFolder::OpenIn(const WalkFolder& parent, const std::string& name,
                                   const std::string& path) {
  path_ = path;
  handle_.Reset(openat(parent.handle_.Get(), name.c_str(),
                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  return handle_.Valid() ? std::error_code() : Errno(errno);
}

bool WalkFolder::Identity(FileIdentity* identity) const {
  struct stat st;
  if (fstat(handle_.Get(), &st) != 0) return false;
  identity->volume = static_cast<uint64_t>(st.st_dev);
  identity->index = static_cast<uint64_t>(st.st_ino);
  return true;
}

std::error_code WalkFolder::Read(std::vector<FolderEntry>* entries) const {
  // The stream takes a descriptor of its own: this one stays for openat.
  OwnedHandle own(fcntl(handle_.Get(), F_DUPFD_CLOEXEC, 0));
  if (!own.Valid()) return Errno(errno);
  DIR* dir = fdopendir(own.Get());
  if (!dir) return Errno(errno);
  own.Release();  // the stream's now
  rewinddir(dir);
  entries->clear();
  errno = 0;
  while (dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    entries->push_back(ExamineEntry(handle_.Get(), e->d_name));
    errno = 0;
  }
  const int error = errno;
  closedir(dir);
  if (error != 0) return Errno(error);
  std::sort(entries->begin(), entries->end(),
            [](const FolderEntry& a, const FolderEntry& b) { return NameLess(a.name, b.name); });
  return {};
}

bool WalkFolder::LinkLeadsInto(const std::string& name, const WalkFolder& root) const {
  OwnedHandle target(openat(handle_.Get(), name.c_str(), O_PATH | O_CLOEXEC));
  if (!target.Valid()) return false;
  const std::string to = PathOfDescriptor(target.Get());
  const std::string base = root.ResolvedPath();
  return !to.empty() && !base.empty() && PathLiesIn(to, base);
}

std::string WalkFolder::ResolvedPath() const { return PathOfDescriptor(handle_.Get()); }

bool WalkFolder::HoldsTempFileOfAConversion(const std::string& name) const {
  return ::IsTempFileOfAConversion(handle_.Get(), name);
}

bool IsTempFileOfAConversion(const std::string& path) {
  return IsTempFileOfAConversion(AT_FDCWD, path);
}

bool PathLiesIn(const std::string& path, const std::string& folder) {
  if (folder.empty() || path.compare(0, folder.size(), folder) != 0) return false;
  return path.size() == folder.size() || folder.back() == '/' || path[folder.size()] == '/';
}

bool NameLess(const std::string& a, const std::string& b) { return a < b; }
