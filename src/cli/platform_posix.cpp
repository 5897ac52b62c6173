#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "convert/file.h"
#include "platform.h"
#include "version.h"

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

std::error_code ReadStandardInput(void* buf, size_t n, size_t* got) {
  return ReadSome(STDIN_FILENO, buf, n, got);
}

std::error_code WriteStandardOutput(const void* buf, size_t n) {
  return WriteAll(STDOUT_FILENO, buf, n);
}

std::vector<std::string> ExpandWildcards(std::vector<std::string> args) { return args; }

bool HoldsWildcard(const std::string&) { return false; }

std::FILE* OpenForReading(const std::string& path, std::error_code* error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) *error = Errno(errno);
  return f;
}

std::error_code WriteText(std::FILE* stream, const std::string& text) {
  errno = 0;
  if (std::fputs(text.c_str(), stream) != EOF) return {};
  return Errno(errno != 0 ? errno : EIO);
}

