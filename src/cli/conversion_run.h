// The console tool's conversion of files in place.
#ifndef QUENLAT_CLI_CONVERSION_RUN_H
#define QUENLAT_CLI_CONVERSION_RUN_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "console.h"
#include "convert/convert.h"
#include "done_set.h"
#include "options.h"
#include "convert/folder.h"
#include "platform.h"
#include "work_list.h"

// Converts the names of a work list in place, in order, as the batch dialog
// does (see ConvertFiles). Small files wait in a batch whose new content is
// flushed to the disk at once; their reports are held meanwhile and printed
// in the order of the names, as if each file had been converted alone.
class ConversionRun {
 public:
  explicit ConversionRun(const CliOptions& options);
  ConversionRun(const ConversionRun&) = delete;
  ConversionRun& operator=(const ConversionRun&) = delete;

  // Converts every name of work, then prints the summary. Returns the exit
  // status.
  int Run(WorkList& work);

 private:
  // How a name ended.
  enum Outcome { kConverted, kSkipped, kFailed };

  // A file whose new content waits in the batch.
  struct Waiting {
    Waiting(size_t index, const std::string& path, const std::string& target,
            const FileIdentity& identity, bool identified, uint64_t names,
            bool inWalkedFolder, ConsoleReporter* reporter);
    size_t index;
    std::string path;    // as given
    std::string target;  // resolved
    FileIdentity identity;  // the old content's, while it waits
    bool identified;
    uint64_t names;
    bool inWalkedFolder;  // as its WorkItem says
    // The engine's reports about it, passed on with its index; notes
    // whether the engine found it binary.
    class Reporter : public ErrorReporter {
     public:
      Reporter(ConsoleReporter* to, size_t index) : to_(to), index_(index) {}
      void ReportFileError(const FileError& error) override;
      bool binary = false;

     private:
      ConsoleReporter* to_;
      size_t index_;
    } reporter;
    std::optional<FileIdentity> made;  // its new content's, once it has it
  };

  // Works on the index-th name.
  void ConvertName(size_t index, const WorkItem& item);
  // Whether the file at target, with the quick identity given, is one the
  // run has dealt with under another name: reported and counted then. A
  // file that waits in the batch is done once the batch is; it may then be
  // another file, whose identity *identity becomes.
  bool AlreadyDone(const std::string& path, const std::string& target, FileIdentity* identity,
                   bool* identified);
  // Converts the scanned file on its own, after the files before it.
  void ConvertAlone(size_t index, const std::string& path, const std::string& target,
                    uint64_t names);
  // Adds the scanned file to the batch.
  void AddToBatch(size_t index, const WorkItem& item, const std::string& target,
                  const FileIdentity& identity, bool identified, uint64_t names);
  // Before a walk reads a folder: the batch is finished first when one of
  // its files may have left its temporary file (or, on Windows, a folder of
  // them) in it, so that the walk never meets them.
  void BeforeFolderRead();
  // A file converted: the note of its other names, and its new identity kept
  // for the names that follow (an older identity may go on naming the old
  // content through a hard link). made is that identity where the engine
  // told it.
  void Converted(size_t index, const std::string& path, const std::string& target,
                 uint64_t names, const std::optional<FileIdentity>& made);
  // The outcome of a file the engine tried to convert: converted, skipped
  // when it found the file binary, failed otherwise.
  static Outcome Of(bool converted, bool binary);
  void Count(Outcome outcome);
  // The batch's end of its first waiting file.
  void Finished(bool converted);
  // The batch flushes what it holds and starts anew; the files before those
  // still waiting are done with, and their reports printed.
  void Send();
  // The batch finishes every file it holds; every report is printed.
  void Commit();
  void ReleaseReports();
  // The end of the run: folders flushed, the summary and the count of
  // failures printed. The exit status; a failure also when the list of
  // names could not be read to its end (listFailed).
  int Finish(bool listFailed);

  const CliOptions options_;
  ProgressLine progress_;
  ConsoleReporter reporter_;
  // Each folder's renames are flushed once, at the end, rather than after
  // every file: many small files then cost one flush each, not two.
  DeferredFolderSync folders_;
  DoneSet done_;
  unsigned long converted_ = 0;
  unsigned long failed_ = 0;
  unsigned long skipped_ = 0;
  uint64_t bytes_ = 0;
  SourceFile file_;  // the conversion reads through it too: one open per file
  ConvertOptions convert_;
  ConversionBatch batch_;
  std::deque<Waiting> waiting_;  // in the order added; a deque keeps each in place
};

#endif
