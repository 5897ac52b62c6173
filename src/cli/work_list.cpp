#include "work_list.h"

#include <cerrno>
#include <cstdio>
#include <utility>

#include "platform.h"

namespace {

// What a run says of a link that leads out of the folder walked.
const char kLinkSentence[] = "points outside the folder, not followed";

bool IsVersionControlFolder(const std::string& name) {
  return name == ".git" || name == ".svn" || name == ".hg";
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  if (last == '/' || last == kPathSeparator || (kPathSeparator == '\\' && last == ':'))
    return folder + name;
  return folder + kPathSeparator + name;
}

}  // namespace

// A folder the walk is in: its entries, read once, its files handed out
// first, then its folders walked in turn.
struct WorkList::Frame {
  WalkFolder folder;
  std::string path;
  bool read = false;
  std::vector<FolderEntry> entries;
  size_t nextFile = 0;
  size_t nextFolder = 0;
};

WorkList::WorkList() = default;
WorkList::~WorkList() = default;

bool WorkList::Start(CliOptions& options) {
  args_ = ExpandWildcards(std::move(options.files));
  recursive_ = options.recursive;
  followLinks_ = options.followLinks;
  if (options.hasFilesFrom) {
    listName_ = options.filesFrom == "-" ? "standard input" : options.filesFrom;
    list_.reset(new NameList);
    if (std::error_code error = list_->Open(options.filesFrom, options.nullSeparated)) {
      ConsoleReporter().Report(listName_, error == std::errc::illegal_byte_sequence
                                              ? "a UTF-16 list that ends in half a character"
                                              : ErrorReason(error));
      return false;
    }
  } else if (!recursive_) {
    total_ = args_.size();
  }
  return true;
}

bool WorkList::NextName(std::string* name) {
  if (nextArg_ < args_.size()) {
    *name = std::move(args_[nextArg_++]);
    if (nextArg_ == args_.size()) std::vector<std::string>().swap(args_);
    return true;
  }
  if (!list_) return false;
  std::error_code error;
  if (list_->Next(name, &error)) return true;
  if (error) {
    ConsoleReporter().Report(listName_, error == std::errc::illegal_byte_sequence
                                            ? "a UTF-16 list that ends in half a character"
                                            : ErrorReason(error));
    failed_ = true;
  }
  list_.reset();
  return false;
}

// The walk goes as it did when a folder was walked whole before the run:
// the regular files of a folder in name order, then those of each of its
// folders in turn. A folder met again (a folder mounted inside itself) is
// not walked twice. An entry that cannot be examined, or a folder that
// cannot be opened or read, is handed out as an error; a link to a file
// outside the folder named, unless links are followed, as a note.
bool WorkList::NextOfWalk(WorkItem* item, const std::function<void()>& beforeRead) {
  Frame& top = *walk_.back();
  if (!top.read) {
    top.read = true;
    FileIdentity identity;
    if (top.folder.Identity(&identity) && !walked_.insert(identity).second) {
      walk_.pop_back();
      return false;
    }
    if (beforeRead) beforeRead();
    if (std::error_code error = top.folder.Read(&top.entries)) {
      item->path = top.path;
      item->error = error;
      walk_.pop_back();
      return true;
    }
  }
  while (top.nextFile < top.entries.size()) {
    const FolderEntry& e = top.entries[top.nextFile++];
    // A .git file stands for a repository kept elsewhere (a worktree, a
    // submodule): left out as a .git folder is.
    if (e.name == ".git") continue;
    // Another run's temporary file, or one that was and is gone: not a
    // user's file, and not missing.
    const bool tempNamed = e.name.compare(0, 3, "tmp") == 0;
    if (tempNamed && (e.error || e.kind == PathFile) &&
        top.folder.HoldsTempFileOfAConversion(e.name))
      continue;
    if (!e.error && e.kind != PathFile) continue;
    item->path = JoinPath(top.path, e.name);
    if (e.error) {
      item->error = e.error;
      return true;
    }
    if (e.link && !followLinks_) {
      if (!top.folder.LinkLeadsInto(e.name, walk_.front()->folder)) {
        item->error = kLinkNotFollowed;
        return true;
      }
      item->mustLieIn = rootPath_;
    }
    item->tempNamed = tempNamed;
    item->inWalkedFolder = !e.link;
    return true;
  }
  while (top.nextFolder < top.entries.size()) {
    const FolderEntry& e = top.entries[top.nextFolder++];
    if (e.kind != PathFolder || IsVersionControlFolder(e.name)) continue;
    std::unique_ptr<Frame> child(new Frame);
    child->path = JoinPath(top.path, e.name);
    if (std::error_code error = child->folder.OpenIn(top.folder, e.name, child->path)) {
      item->path = child->path;
      item->error = error;
      return true;
    }
    walk_.push_back(std::move(child));  // top is not used after this
    return false;
  }
  walk_.pop_back();
  return false;
}

bool WorkList::Next(WorkItem* item, const std::function<void()>& beforeRead) {
  *item = WorkItem();
  for (;;) {
    if (!walk_.empty()) {
      if (NextOfWalk(item, beforeRead)) break;
      continue;
    }
    std::string name;
    if (!NextName(&name)) {
      total_ = handedOut_;
      return false;
    }
    if (recursive_ && KindOf(name) == PathFolder) {
      std::unique_ptr<Frame> root(new Frame);
      root->path = name;
      if (std::error_code error = root->folder.Open(name)) {
        item->path = std::move(name);
        item->error = error;
        break;
      }
      rootPath_ = root->folder.ResolvedPath();
      walk_.push_back(std::move(root));
      continue;
    }
    item->path = std::move(name);
    break;
  }
  if (HoldsWildcard(item->path)) item->error = Errno(ENOENT);
  ++handedOut_;
  return true;
}

bool PassedOver(const WorkItem& item, ConsoleReporter* reporter, unsigned long* failed,
                std::string* target) {
  if (item.error == kLinkNotFollowed) {
    reporter->Report(item.path, kLinkSentence);
    return true;
  }
  if (item.error) {
    reporter->ReportFileError({item.path, item.error});
    ++*failed;
    return true;
  }
  *target = ResolvePath(item.path);
  if (item.tempNamed && IsTempFileOfAConversion(*target)) return true;
  if (item.mustLieIn && !PathLiesIn(*target, *item.mustLieIn)) {
    reporter->Report(item.path, kLinkSentence);
    return true;
  }
  return false;
}
