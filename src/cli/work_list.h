// The names a run of the console tool works on, in order: the arguments,
// then the names of a list; with --recursive, a folder's files instead of
// the folder.
#ifndef QUENLAT_CLI_WORK_LIST_H
#define QUENLAT_CLI_WORK_LIST_H

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "console.h"
#include "name_list.h"
#include "options.h"
#include "convert/folder.h"
#include "platform.h"

// A name to work on, with what gathering it found.
struct WorkItem {
  std::string path;
  // Why the name cannot be worked on, kLinkNotFollowed, or nothing.
  std::error_code error;
  // For a link that a walk followed because it led into the folder walked:
  // that folder's resolved path. Checked again when its file's turn comes,
  // as the link may have been changed meanwhile.
  std::optional<std::string> mustLieIn;
  // A walk's file whose name begins as a temporary file's: looked at again
  // when its turn comes, and another run's is left out.
  bool tempNamed = false;
  // A file that a walk found in a folder it has read, not through a link:
  // whatever its conversion leaves beside it lies in a folder the walk will
  // not read again.
  bool inWalkedFolder = false;
};

// In a WorkItem's error: a link that a walk found and did not follow. It is
// named, and is no failure.
const std::error_code kLinkNotFollowed(-1, std::generic_category());

// The names of a run, handed out one by one as the run asks for them: the
// arguments, then the list's names read a block at a time, and a folder's
// files (with recursive) read a folder at a time as the walk reaches it. So
// the run holds only the arguments, a block of the list and the entries of
// the folders the walk is in, however many names it works on.
class WorkList {
 public:
  WorkList();
  ~WorkList();
  WorkList(const WorkList&) = delete;
  WorkList& operator=(const WorkList&) = delete;

  // Takes the names of options.files and opens the list, reading its first
  // block. False when the list cannot be read, which has been reported.
  bool Start(CliOptions& options);

  // The next name, in order; false after the last, or when the list cannot
  // be read on (reported; Failed tells). A walk calls beforeRead, when
  // given, before it reads a folder: a run whose temporary files might lie
  // in that folder is to finish them first.
  bool Next(WorkItem* item, const std::function<void()>& beforeRead = nullptr);

  // How many names the run has, once that is known (the arguments alone,
  // or every name handed out); 0 before.
  size_t Total() const { return total_; }

  // Whether the list could not be read to its end.
  bool Failed() const { return failed_; }

 private:
  struct Frame;
  // The next name of the arguments or the list.
  bool NextName(std::string* name);
  // The next item of the walk under way, if it gives one now (it may have
  // entered or left a folder instead).
  bool NextOfWalk(WorkItem* item, const std::function<void()>& beforeRead);

  std::vector<std::string> args_;
  size_t nextArg_ = 0;
  std::unique_ptr<NameList> list_;
  std::string listName_;  // as the reports name it
  bool recursive_ = false;
  bool followLinks_ = false;
  std::vector<std::unique_ptr<Frame>> walk_;  // the folders the walk is in, its root first
  std::string rootPath_;                      // the root's path resolved
  std::set<FileIdentity> walked_;             // the folders walked, met again through a mount
  size_t handedOut_ = 0;
  size_t total_ = 0;
  bool failed_ = false;
};

// What a run does first with a name, before it looks at its file: reports
// what gathering found about it (*failed counts it when it failed); leaves
// out a walk's name that has become another run's temporary file, without a
// word; and reports a link that a walk followed into its folder and that
// now leads out of it. True when the name is done with then; otherwise
// *target is its path resolved.
bool PassedOver(const WorkItem& item, ConsoleReporter* reporter, unsigned long* failed,
                std::string* target);

#endif
