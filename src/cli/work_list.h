// The names a run of the console tool works on, in order: the arguments,
// then the names of a list; with --recursive, a folder's files instead of
// the folder.
#ifndef QUENLAT_CLI_WORK_LIST_H
#define QUENLAT_CLI_WORK_LIST_H

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "console.h"
#include "options.h"
#include "platform.h"

// A name to work on, with what gathering it found.
struct WorkItem {
  std::string path;
  // Why the name cannot be worked on (an error number), kLinkNotFollowed,
  // or 0.
  int error = 0;
  // For a link that a walk followed because it led into the folder walked:
  // that folder's resolved path. Checked again when its file's turn comes,
  // as the link may have been changed meanwhile.
  std::optional<std::string> mustLieIn;
  // A walk's file whose name begins as a temporary file's: looked at again
  // when its turn comes, and another run's is left out.
  bool tempNamed = false;
};

// In a WorkItem's error: a link that a walk found and did not follow. It is
// named, and is no failure.
const int kLinkNotFollowed = -1;

// The names of a run, handed out one by one.
class WorkList {
 public:
  // Takes the names of options.files and starts reading the list. False
  // when the list cannot be read, which has been reported.
  bool Start(CliOptions& options);
  // The next name, in order; false after the last.
  bool Next(WorkItem* item);
  // How many names the run has, or 0 while that is not known.
  size_t Total() const { return paths_.size(); }

 private:
  struct WalkState;
  void AddError(const std::string& path, int error);
  // Adds the files of folder (at path), as the walk goes.
  void Walk(const WalkFolder& folder, const std::string& path, WalkState* walk);

  std::vector<std::string> paths_;
  // By index in paths_: what WorkItem's fields of that name hold when they
  // are not empty. Kept lean: a run may be given hundreds of thousands of
  // names.
  std::map<size_t, int> errors_;
  std::map<size_t, std::string> linksInto_;
  std::set<size_t> tempNamed_;
  size_t next_ = 0;
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
