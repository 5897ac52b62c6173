// The walk's folders where they are not held open (Windows): each is known
// by its path, and its entries are read and examined through paths.
#include <cerrno>

#include "platform.h"

struct WalkFolder::State {
  std::string path;
};

WalkFolder::WalkFolder() : state_(new State) {}

WalkFolder::~WalkFolder() { delete state_; }

int WalkFolder::Open(const std::string& path) {
  state_->path = path;
  errno = 0;
  const PathKind kind = KindOf(path);
  if (kind == PathFolder) return 0;
  return kind == PathMissing && errno != 0 ? errno : ENOTDIR;
}

int WalkFolder::OpenIn(const WalkFolder&, const std::string&, const std::string& path) {
  return Open(path);
}

bool WalkFolder::Identity(FileIdentity* identity) const {
  return IdentityOf(state_->path, identity);
}

bool WalkFolder::Read(std::vector<FolderEntry>* entries) const {
  return ReadFolder(state_->path, entries);
}

// No entry here is a link to a file: the system follows such links itself.
bool WalkFolder::LinkLeadsInto(const std::string&, const WalkFolder&) const { return true; }

std::string WalkFolder::ResolvedPath() const { return state_->path; }

// Only a walk's links, which there are none of here, are checked with it.
bool PathLiesIn(const std::string&, const std::string&) { return true; }

// The engine marks no temporary file here: none is told apart.
bool WalkFolder::HoldsTempFileOfAConversion(const std::string&) const { return false; }

bool IsTempFileOfAConversion(const std::string&) { return false; }
