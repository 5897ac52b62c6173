#include <dirent.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform.h"
#include "version.h"

const char kPathSeparator = '/';

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
  if (stat(path.c_str(), &st) != 0) return PathMissing;
  if (identity) {
    identity->volume = static_cast<uint64_t>(st.st_dev);
    identity->index = static_cast<uint64_t>(st.st_ino);
    if (identified) *identified = true;
  }
  return KindOfMode(st.st_mode);
}

bool ReadFolder(const std::string& folder, std::vector<FolderEntry>* entries) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return false;
  const std::string prefix =
      folder.empty() || folder.back() == '/' ? folder : folder + kPathSeparator;
  entries->clear();
  errno = 0;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = prefix + name;
    struct stat st;
    PathKind kind = PathMissing;
    if (lstat(path.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) {
        kind = KindOfMode(st.st_mode);
      } else if (stat(path.c_str(), &st) == 0) {
        kind = S_ISREG(st.st_mode) ? PathFile : PathOther;  // a link to a folder is not followed
      }
    }
    entries->push_back({name, kind});
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
