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

// Reads the names of a list file: lines (a CR before the LF dropped) or
// NUL-terminated names; empty ones are left out. False with errno set.
bool ReadNameList(const std::string& list, bool nullSeparated, std::vector<std::string>* names) {
  std::FILE* f = nullptr;
  if (list != "-") {
    f = OpenForReading(list);
    if (!f) return false;
  }
  std::string text;
  std::vector<char> buf(64 * 1024);
  bool ok = true;
  for (;;) {
    size_t got = 0;
    if (f) {
      got = std::fread(buf.data(), 1, buf.size(), f);
      if (got == 0 && std::ferror(f)) ok = false;
    } else if (!ReadStandardInput(buf.data(), buf.size(), &got)) {
      ok = false;
    }
    if (got == 0) break;
    text.append(buf.data(), got);
  }
  const int error = errno;
  if (f) std::fclose(f);
  errno = error;
  if (!ok || !ListText(&text)) return false;
  const char end = nullSeparated ? '\0' : '\n';
  for (size_t start = 0; start < text.size();) {
    size_t stop = text.find(end, start);
    if (stop == std::string::npos) stop = text.size();
    size_t length = stop - start;
    if (!nullSeparated && length > 0 && text[stop - 1] == '\r') --length;
    if (length > 0) names->push_back(text.substr(start, length));
    start = stop + 1;
  }
  return true;
}

}  // namespace

// What a walk carries from folder to folder.
struct WorkList::WalkState {
  const WalkFolder* root;  // the folder named
  std::string rootPath;    // its path resolved
  bool followLinks;
  std::set<FileIdentity> walked;
};

void WorkList::AddError(const std::string& path, int error) {
  errors_[paths_.size()] = error;
  paths_.push_back(path);
}

// Adds the regular files of folder (at path) in name order, then those of
// each of its folders in turn. A folder met again (a folder mounted inside
// itself) is not walked twice. An entry that cannot be examined, or a folder
// that cannot be opened or read, is added as an error; a link to a file
// outside the folder named, unless links are followed, as a note.
void WorkList::Walk(const WalkFolder& folder, const std::string& path, WalkState* walk) {
  FileIdentity identity;
  if (folder.Identity(&identity) && !walk->walked.insert(identity).second) return;
  std::vector<FolderEntry> entries;
  if (!folder.Read(&entries)) {
    AddError(path, errno);
    return;
  }
  for (const FolderEntry& e : entries) {
    // A .git file stands for a repository kept elsewhere (a worktree, a
    // submodule): left out as a .git folder is.
    if (e.name == ".git") continue;
    // Another run's temporary file, or one that was and is gone: not a
    // user's file, and not missing.
    const bool tempNamed = e.name.compare(0, 3, "tmp") == 0;
    if (tempNamed && (e.error != 0 || e.kind == PathFile) &&
        folder.HoldsTempFileOfAConversion(e.name))
      continue;
    if (e.error != 0) {
      AddError(JoinPath(path, e.name), e.error);
    } else if (e.kind == PathFile) {
      if (e.link && !walk->followLinks) {
        if (!folder.LinkLeadsInto(e.name, *walk->root)) {
          AddError(JoinPath(path, e.name), kLinkNotFollowed);
          continue;
        }
        linksInto_[paths_.size()] = walk->rootPath;
      }
      if (tempNamed) tempNamed_.insert(paths_.size());
      paths_.push_back(JoinPath(path, e.name));
    }
  }
  for (const FolderEntry& e : entries) {
    if (e.kind != PathFolder || IsVersionControlFolder(e.name)) continue;
    const std::string sub = JoinPath(path, e.name);
    WalkFolder child;
    if (int error = child.OpenIn(folder, e.name, sub)) {
      AddError(sub, error);
      continue;
    }
    Walk(child, sub, walk);
  }
}

bool WorkList::Start(CliOptions& options) {
  std::vector<std::string> names = ExpandWildcards(std::move(options.files));
  if (options.hasFilesFrom && !ReadNameList(options.filesFrom, options.nullSeparated, &names)) {
    ConsoleReporter().Report(options.filesFrom == "-" ? "standard input" : options.filesFrom,
                             errno == EILSEQ ? "a UTF-16 list that ends in half a character"
                                             : ErrorReason(errno));
    return false;
  }
  if (!options.recursive) {
    paths_ = std::move(names);
  } else {
    WalkState walk{nullptr, std::string(), options.followLinks, {}};
    for (std::string& name : names) {
      if (KindOf(name) == PathFolder) {
        WalkFolder root;
        if (int error = root.Open(name)) {
          AddError(name, error);
          continue;
        }
        walk.root = &root;
        walk.rootPath = root.ResolvedPath();
        Walk(root, name, &walk);
      } else {
        paths_.push_back(std::move(name));
      }
    }
  }
  for (size_t i = 0; i < paths_.size(); ++i) {
    if (HoldsWildcard(paths_[i])) errors_[i] = ENOENT;
  }
  return true;
}

bool WorkList::Next(WorkItem* item) {
  if (next_ >= paths_.size()) return false;
  const size_t i = next_++;
  item->path = paths_[i];
  const auto error = errors_.find(i);
  item->error = error == errors_.end() ? 0 : error->second;
  const auto link = linksInto_.find(i);
  if (link == linksInto_.end()) {
    item->mustLieIn.reset();
  } else {
    item->mustLieIn = link->second;
  }
  item->tempNamed = tempNamed_.count(i) != 0;
  return true;
}

bool PassedOver(const WorkItem& item, ConsoleReporter* reporter, unsigned long* failed,
                std::string* target) {
  if (item.error == kLinkNotFollowed) {
    reporter->Report(item.path, kLinkSentence);
    return true;
  }
  if (item.error != 0) {
    reporter->ReportFileError(item.path, item.error);
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
