#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "convert/convert.h"
#include "platform.h"
#include "version.h"

const char kPathSeparator = '/';

namespace {

// A descriptor of 0 to 2 that is closed would be taken by the next file
// opened, and the tool's own output would then go into that file, or its
// input come from it: each is opened on the null device instead.
void OpenClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

// Runs before the program's static objects are made: some keep a descriptor
// from the start (the start-up folder's).
__attribute__((constructor(101))) void OpenClosedStandardDescriptorsFirst() {
  OpenClosedStandardDescriptors();
}

}  // namespace

void PrepareProcess() {
  OpenClosedStandardDescriptors();
  // A reader that goes away makes the next write fail with EPIPE, which is
  // reported, instead of ending the tool without a word.
  signal(SIGPIPE, SIG_IGN);
}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

bool StandardInputIsTerminal() { return isatty(STDIN_FILENO) == 1; }

int TerminalColumns() {
  winsize size;
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

// There is no resource section here: the version data is the shared header's.
bool ReadProgramVersion(std::string* name, std::string* version, std::string* copyright) {
  *name = QUENLAT_PRODUCT_NAME;
  *version = QUENLAT_PRODUCT_VERSION;
  *copyright = QUENLAT_COPYRIGHT;
  return true;
}

bool ReadStandardInput(void* buf, size_t n, size_t* got) {
  for (;;) {
    ssize_t r = read(STDIN_FILENO, buf, n);
    if (r >= 0) {
      *got = static_cast<size_t>(r);
      return true;
    }
    if (errno != EINTR) return false;
  }
}

bool WriteStandardOutput(const void* buf, size_t n) {
  const char* p = static_cast<const char*>(buf);
  while (n > 0) {
    ssize_t w = write(STDOUT_FILENO, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

namespace {

PathKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return PathFile;
  if (S_ISDIR(mode)) return PathFolder;
  return PathOther;
}

}  // namespace

PathKind KindOf(const std::string& path, FileIdentity* identity, bool* identified) {
  if (identified) *identified = false;
  struct stat st;
  if (!TakeResolvedLook(path, &st) && stat(path.c_str(), &st) != 0) return PathMissing;
  if (identity) {
    identity->volume = static_cast<uint64_t>(st.st_dev);
    identity->index = static_cast<uint64_t>(st.st_ino);
    if (identified) *identified = true;
  }
  return KindOfMode(st.st_mode);
}

namespace {

// The entry name of the folder open on dir, examined without a path.
FolderEntry ExamineEntry(int dir, const char* name) {
  FolderEntry entry{name, PathMissing};
  struct stat st;
  if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    entry.error = errno;
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
    if (errno != ENOENT && errno != ENOTDIR && errno != ELOOP) entry.error = errno;
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

struct WalkFolder::State {
  int fd = -1;
  std::string path;
};

WalkFolder::WalkFolder() : state_(new State) {}

WalkFolder::~WalkFolder() {
  if (state_->fd >= 0) close(state_->fd);
  delete state_;
}

int WalkFolder::Open(const std::string& path) {
  state_->path = path;
  state_->fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return state_->fd >= 0 ? 0 : errno;
}

int WalkFolder::OpenIn(const WalkFolder& parent, const std::string& name, const std::string& path) {
  state_->path = path;
  state_->fd =
      openat(parent.state_->fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  return state_->fd >= 0 ? 0 : errno;
}

bool WalkFolder::Identity(FileIdentity* identity) const {
  struct stat st;
  if (fstat(state_->fd, &st) != 0) return false;
  identity->volume = static_cast<uint64_t>(st.st_dev);
  identity->index = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool WalkFolder::Read(std::vector<FolderEntry>* entries) const {
  // The stream takes a descriptor of its own: this one stays for openat.
  const int fd = fcntl(state_->fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return false;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    const int error = errno;
    close(fd);
    errno = error;
    return false;
  }
  rewinddir(dir);
  entries->clear();
  errno = 0;
  while (dirent* e = readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    entries->push_back(ExamineEntry(state_->fd, e->d_name));
    errno = 0;
  }
  const int error = errno;
  closedir(dir);
  if (error != 0) {
    errno = error;
    return false;
  }
  std::sort(entries->begin(), entries->end(),
            [](const FolderEntry& a, const FolderEntry& b) { return NameLess(a.name, b.name); });
  return true;
}

bool WalkFolder::LinkLeadsInto(const std::string& name, const WalkFolder& root) const {
  const int target = openat(state_->fd, name.c_str(), O_PATH | O_CLOEXEC);
  if (target < 0) return false;
  const std::string to = PathOfDescriptor(target);
  close(target);
  const std::string base = root.ResolvedPath();
  return !to.empty() && !base.empty() && PathLiesIn(to, base);
}

std::string WalkFolder::ResolvedPath() const { return PathOfDescriptor(state_->fd); }

bool WalkFolder::HoldsTempFileOfAConversion(const std::string& name) const {
  return ::IsTempFileOfAConversion(state_->fd, name);
}

bool IsTempFileOfAConversion(const std::string& path) {
  return IsTempFileOfAConversion(AT_FDCWD, path);
}

bool PathLiesIn(const std::string& path, const std::string& folder) {
  if (folder.empty() || path.compare(0, folder.size(), folder) != 0) return false;
  return path.size() == folder.size() || folder.back() == '/' || path[folder.size()] == '/';
}

bool NameLess(const std::string& a, const std::string& b) { return a < b; }

bool IdentityOf(const std::string& path, FileIdentity* identity) {
  bool identified = false;
  KindOf(path, identity, &identified);
  return identified;
}

bool SameFile(const std::string& a, const std::string& b) {
  FileIdentity x, y;
  return IdentityOf(a, &x) && IdentityOf(b, &y) && !(x < y) && !(y < x);
}

std::vector<std::string> ExpandWildcards(std::vector<std::string> args) { return args; }

bool HoldsWildcard(const std::string&) { return false; }

std::FILE* OpenForReading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

bool WriteText(std::FILE* stream, const std::string& text) {
  return std::fputs(text.c_str(), stream) != EOF;
}

bool ListText(std::string*) { return true; }
