#include <sys/ioctl.h>
#include <unistd.h>

#include "platform.h"
#include "version.h"

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

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
