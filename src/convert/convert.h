// Converting one file in place: the engine's face to its callers (the dialog
// and the console tool). The file layer, the threads that write and flush in
// the background and the block sizes stay inside src/convert.
//
// Errors are std::error_code values, as error.h describes them.
#ifndef QUENLAT_CONVERT_CONVERT_H
#define QUENLAT_CONVERT_CONVERT_H

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "error.h"
#include "scan.h"
#include "translate.h"

class File;
struct FileStamp;
struct ConvertOptions;
struct PendingFile;

// The sentence that tells the user what an error means: one of the four the
// dialog shows.
const char* ErrorSentence(std::error_code error);

// The console tool's words for an error: the reason itself for the engine's
// own conditions ("cannot keep the file's owner") and for the system's errors
// that say something exact (a read-only file system, a busy device or mount
// point, a name too long, a folder, a program's file in use), the sentence
// for the others.
const char* ErrorReason(std::error_code error);

// The text of the error message for path: the path, a blank line, the sentence.
std::string FileErrorText(const std::string& path, std::error_code error);

// Where conversion failures go. The dialog shows a message box for each; tests
// and the console tool collect them.
class ErrorReporter {
 public:
  virtual ~ErrorReporter() {}
  // error.path is the file being converted, as the caller named it.
  virtual void ReportFileError(const FileError& error) = 0;
};

// Folders whose renames are not yet flushed to the disk. A batch that converts
// many files passes one to ConvertFileInPlace and calls Flush at its end: each folder
// is then flushed once, not after every file. At every moment each file still
// holds its old or its new content, whole; a replace that a crash of the
// system overtakes before the flush may leave the old content in place. Once
// Flush has succeeded, every replace is durable.
class DeferredFolderSync {
 public:
  void Add(const std::string& folder) { folders_.insert(folder); }
  // Flushes every folder added and forgets them. Nothing when all were
  // flushed; otherwise the first failure, with its folder (the others are
  // still flushed).
  std::optional<FileError> Flush();

 private:
  std::set<std::string> folders_;
};

// A file opened for reading ahead of its conversion: the console tool reads
// it to decide what to do, and ConvertFileInPlace then reads it through the same
// open instead of opening it again. The file's first block (a small file
// whole, in one read of the size the open found) is read once and kept:
// ConvertFileInPlace translates it from memory and reads on from where it ends,
// unless ReadInto has read further. One object serves any number of files in
// turn; its read buffer is made once.
class SourceFile {
 public:
  SourceFile();
  ~SourceFile();
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  // Opens the file at path (a relative path and a symbolic link taken as
  // ConvertFileInPlace takes them), closing any file open before. With resolved,
  // path is ResolvePath's result and the caller has just found a regular
  // file there, which is then opened without another look. The error, if
  // any; what is not a regular file is refused (kErrorNotRegularFile).
  std::error_code Open(const std::string& path, bool resolved = false);
  bool IsOpen() const;
  void Close();
  // The file's size when it was opened.
  uint64_t Size();
  // Whether the open file may be replaced by this process, as
  // ProbeWritable tells, with less to look up: false with *error the error
  // when not.
  bool ProbeWritable(std::error_code* error);
  // How many names (hard links) the file had when it was opened.
  // ConvertFileInPlace gives the new content to the name it is given only:
  // the other names keep the old content.
  uint64_t LinkCount();
  // Its first bytes, up to two, once TextEncoding or ReadInto has read them:
  // *n of them at the result.
  const unsigned char* First(size_t* n) const;
  // The encoding ConvertFileInPlace converts the file in, as its first bytes and its
  // size give it (DetectEncoding). The first call after Open reads them: the
  // next ReadInto then starts at the file's start.
  Encoding TextEncoding();

  // Reads from where the last read ended into scanner, block after block
  // (the first one kept from TextEncoding's read), until the end of the file
  // or until enough (when given) is true for the scanner after a block. The
  // error of a read, if any.
  std::error_code ReadInto(LinebreakScanner& scanner,
                           const std::function<bool(const LinebreakScanner&)>& enough = nullptr);

 private:
  friend bool ConvertFileInPlace(const std::string& path, const ConvertOptions& options);
  friend class ConversionBatch;
  friend struct PendingFile;
  std::unique_ptr<File> file_;
  std::unique_ptr<FileStamp> opened_;  // the file's stamp when it was opened
  // Reads the file's first block into buffer_, once after Open.
  std::error_code ReadFirst();

  std::unique_ptr<unsigned char[]> buffer_;
  std::string target_;                // the file opened: path resolved
  std::optional<Encoding> encoding_;  // once TextEncoding has read it
  uint64_t linkCount_ = 1;
  bool firstRead_ = false;  // the first block has been read
  size_t first_ = 0;        // its size, while buffer_ still holds it
  bool firstScanned_ = false;  // ReadInto has taken it
  bool atEnd_ = false;      // the file's end has been read
  uint64_t position_ = 0;   // the bytes read through file_ so far
  unsigned char start_[2] = {0, 0};
  size_t started_ = 0;      // how many of start_ the file has
};

// How ConvertFileInPlace converts a file and where its failure goes.
struct ConvertOptions {
  // Required: told of the failure, if any.
  ErrorReporter* reporter = nullptr;
  // The user's mode; automatic mode reads the file's first CR (in UTF-16,
  // the first 000D unit) to decide.
  TranslationMode mode = ModeAutomatic;
  // A direction already decided (by a scan of the file): mode is then unused
  // and the file is not read to decide it.
  std::optional<Direction> direction;
  // On POSIX, where the folder of a replaced file must be flushed to make the
  // rename durable, that flush is left to deferred when it is given.
  DeferredFolderSync* deferred = nullptr;
  // Whether a sparse file is converted all the same, its new content written
  // out whole (see kErrorSparse).
  bool fillSparse = false;
  // A file the caller opened on the same path (and may have read from): the
  // conversion reads through it and closes it before the file is replaced,
  // and in every case before it returns.
  SourceFile* source = nullptr;
  // The caller has read source's first block and found no NUL byte in it:
  // a NUL byte in the rest of a file read in bytes makes the conversion
  // stop, delete the new content and fail with kErrorBinaryFound.
  bool skipBinary = false;
  // Told, where the system numbers files so (POSIX), the device and inode
  // of the file's new content once the file has it.
  std::function<void(uint64_t volume, uint64_t index)> replaced;
};

// Converts the file at path in place. A relative path is taken relative to
// the folder that was current when the program started (and names nothing
// when that folder is gone); the process's current folder is never changed.
// Only a regular file is converted. The file is replaced atomically and
// durably: at every moment its name holds either its old or its new
// content, whole. A file that another program changes while it is converted
// is not replaced but converted again from its start, up to two more times
// (then kErrorChangedMeanwhile). On failure the file is unchanged by this
// call, no temporary file is left, one report has been made, and the result
// is false.
bool ConvertFileInPlace(const std::string& path, const ConvertOptions& options);

// Many files converted as ConvertFileInPlace converts each, with the cost of making
// their new content durable shared: Add writes a file's new content to its
// temporary file; Send flushes the files added so far to the disk at once,
// in the background while more are added, and Commit waits for the flushes
// and gives each file its new content. Until then each file keeps its old
// content; at every moment each holds its old or its new content, whole.
// The files added and those sent are each bounded (kMaxFiles files, fewer
// where the system lets a process open few; kMaxBytes bytes), so that the
// extra disk space and the open files stay few. On
// Windows their temporary files are made in a folder of their own ("tmp..."
// too) in each file's folder, which is removed once they are gone. Dropping a batch drops
// what it holds: the files keep their old content and the temporary files
// and folders are deleted.
class ConversionBatch {
 public:
  class Pool;
  static constexpr size_t kMaxFiles = 128;
  static constexpr uint64_t kMaxBytes = uint64_t(32) << 20;
  // A larger file is better converted alone: its flush costs more than the
  // batch would save.
  static constexpr uint64_t kMaxFileBytes = uint64_t(8) << 20;

  ConversionBatch();
  ~ConversionBatch();
  ConversionBatch(const ConversionBatch&) = delete;
  ConversionBatch& operator=(const ConversionBatch&) = delete;

  // Whether a file of size bytes may be added now: it is small enough and
  // there is room for it. A file that is not taken is converted alone, or
  // added after Send.
  bool Takes(uint64_t size) const;
  // The first half of the conversion of the file at path, as ConvertFileInPlace
  // takes path and options: the file is read and its new content written to
  // a temporary file beside it; options.source, if given, is closed. False
  // when that failed: the failure has been reported, and nothing of the file
  // is left in the batch.
  bool Add(const std::string& path, const ConvertOptions& options);
  // How many files wait for their new content: added and not yet finished.
  size_t Size() const;
  // Finishes the files sent before, if any (as Commit does), then starts to
  // flush the files added since to the disk in the background.
  void Send(const std::function<void(bool)>& finished);
  // Waits until the new content of every file is on the disk, then gives
  // each file its new content in the order they were added, as ConvertFileInPlace
  // would: a file that another program changed meanwhile is converted again
  // alone from its start; a file whose flush failed keeps its old content.
  // Calls finished(converted) for each file in that order, after its failure,
  // if any, has been reported. Leaves the batch empty.
  void Commit(const std::function<void(bool)>& finished);

 private:
  class Group;
  // Waits for the files sent, if any, and gives them their new content.
  void FinishSent(const std::function<void(bool)>& finished);

  std::unique_ptr<Group> filling_;  // added, not yet sent
  uint64_t bytes_ = 0;              // their size
  std::unique_ptr<Group> sent_;     // being flushed
  std::unique_ptr<Pool> pool_;      // the flushing threads, made once
};

// From now on, SIGINT, SIGTERM and SIGHUP first delete the temporary files
// of conversions under way that have a name (on Linux most have none), then
// end the process as the signal would have. For a program that converts
// files until it is stopped: the console tool. Nothing on Windows.
void RemoveTempFilesOnInterrupt();

#ifndef _WIN32
// Whether name, in the folder open on folder (or a path, with AT_FDCWD), is
// the temporary file of a conversion under way, in this process or another,
// or was one a moment ago: a name of the form of theirs ("tmp" and six
// letters or digits) that is gone by now, or whose file a conversion holds
// locked, as it does from before the file has a name until it replaces the
// user's file or is deleted. A walk leaves such names out: they are no
// user's files, and another run's may come and go at any moment.
bool IsTempFileOfAConversion(int folder, const std::string& name);

struct stat;
// What ResolvePath saw of path (a name that is no symbolic link, as it
// returns it) when it resolved it a moment ago, given out once: the caller's
// next look at the same name then costs no call. False when there is no
// such look, or the engine opened or replaced a file since.
bool TakeResolvedLook(const std::string& path, struct stat* st);
#endif

// The file that ConvertFileInPlace, SourceFile and ProbeWritable take path to name:
// path made absolute against the folder that was current when the program
// started, and on POSIX a symbolic link followed. A caller that looks at the
// file itself (its kind, its identity) goes through it: the current folder
// may have been changed since the start.
std::string ResolvePath(const std::string& path);

// Whether the file may be replaced by this process, changing nothing: false,
// with *error (when given) the error, when it is no regular file or
// may not be written. On POSIX nothing is opened: the file's and its
// folder's access are asked for; on Windows the file is opened for writing
// and closed again.
bool ProbeWritable(const std::string& path, std::error_code* error = nullptr);

#endif
