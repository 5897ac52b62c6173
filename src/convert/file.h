// Converting one file in place, and the platform file services it stands on.
// One header; file_win32.cpp and file_posix.cpp supply the platform half,
// convert_file.cpp the rules that both share.
//
// Every failing call leaves the program's error number in errno:
//   ENOENT (2)  the file or path does not exist (also a bad drive or share name)
//   EACCES (13) access denied, a sharing or lock violation, a write-protected medium
//   ENOSPC (28) the disk is full, or a write stored nothing without saying why
//   anything else: some other failure (among them a path or a name longer
//                  than the system takes: ENAMETOOLONG on POSIX, EIO on Windows).
#ifndef QUENLAT_CONVERT_FILE_H
#define QUENLAT_CONVERT_FILE_H

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "translate.h"

// Size of the blocks read from and written to files: 1 MiB on Linux, where
// fewer and larger writes let the disk take the data sooner (a 512 MiB file
// took 0.43 s instead of 0.61 s in one measurement), and 256 KiB on
// Windows, where larger blocks gained little under Wine and would cost the
// program another 4 MiB of memory.
extern const size_t kFileBlockSize;

// Whether CopyStream writes on a second thread while it reads and translates
// the next block. On Linux that overlap shortens a conversion by about a fifth;
// the Windows program keeps to its one thread (under Wine it gained nothing).
extern const bool kWriteInBackground;

// Whether ConvertFile also flushes the new content to the disk on a second
// thread, through a handle of its own, each time another
// kBackgroundFlushBytes have been written: the disk then takes the data while
// the copy goes on, and the last flush finds little left. Under Wine that
// shortens a conversion of 512 MiB by about a quarter; on Linux the copy
// itself keeps a second thread busy (kWriteInBackground).
extern const bool kFlushInBackground;
const uint64_t kBackgroundFlushBytes = 16 * 1024 * 1024;

// An open file, closed by its destructor. Opens never deny other programs
// reading or writing the file at the same time.
class File {
 public:
  File();
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens an existing file for reading. A folder is refused with EACCES.
  bool OpenRead(const std::string& path);
  // Opens an existing file for writing and empties it.
  bool OpenWriteTruncate(const std::string& path);
  // Opens an existing file for writing, keeping its content.
  bool OpenWrite(const std::string& path);
  bool IsOpen() const;

  // Reads up to n bytes into buf; *got is 0 at the end of the file. A short
  // read is not an error.
  bool Read(void* buf, size_t n, size_t* got);
  // Writes all n bytes, going on after short writes.
  bool Write(const void* buf, size_t n);
  bool Tell(uint64_t* pos);
  // The file's size now; it may change while the file is open.
  bool Size(uint64_t* size);
  bool Seek(uint64_t pos);
  // Flushes the file's data to the disk.
  bool Sync();
  // Closes the file; false if the system reports a failure on closing.
  bool Close();

 private:
  intptr_t handle_;  // a HANDLE on Windows, a descriptor elsewhere
};

// The sentence that tells the user what an error number means.
const char* ErrorSentence(int error);

// The text of the error message for path: the path, a blank line, the sentence.
std::string FileErrorText(const std::string& path, int error);

// Where conversion failures go. The dialog shows a message box for each; tests
// and the console tool collect them.
class ErrorReporter {
 public:
  virtual ~ErrorReporter() {}
  // path is the file being converted or the temporary file's full name.
  virtual void ReportFileError(const std::string& path, int error) = 0;
};

// True when the first CR of the file is followed by LF. Reads raw bytes from
// the start and puts the file back at the position it had.
bool IsCrLfFile(File& file);

// Copies source to its end into destination, translating in the direction.
// False on a read or write error, with errno set.
bool CopyStream(File& destination, File& source, Direction direction);

// The direction a mode gives for a file whose first CR is (or is not)
// followed by LF.
Direction ResolveDirection(TranslationMode mode, bool firstCrIsCrLf);

// Converts the file at path in place with the mode. A relative path is taken
// relative to the directory that was current when the program started; the
// current directory is then made the file's folder. The file is replaced
// atomically and durably: at every moment its name holds either its old or its
// new content, whole. On failure the file is unchanged, no temporary file is
// left, one report has been made, and the result is false.
bool ConvertFile(const std::string& path, TranslationMode mode, ErrorReporter& reporter);

// Folders whose renames are not yet flushed to the disk. A batch that converts
// many files passes one to ConvertFile and calls Flush at its end: each folder
// is then flushed once, not after every file. At every moment each file still
// holds its old or its new content, whole; a replace that a crash of the
// system overtakes before the flush may leave the old content in place. Once
// Flush has succeeded, every replace is durable.
class DeferredFolderSync {
 public:
  void Add(const std::string& folder) { folders_.insert(folder); }
  // Flushes every folder added and forgets them. False (errno set, *failed the
  // folder) if one cannot be flushed; the others are still flushed.
  bool Flush(std::string* failed);

 private:
  std::set<std::string> folders_;
};

// As above; on POSIX, where the folder of a replaced file must be flushed to
// make the rename durable, that flush is left to deferred when it is given.
bool ConvertFile(const std::string& path, TranslationMode mode, ErrorReporter& reporter,
                 DeferredFolderSync* deferred);

// As above, reading the file through source, which the caller opened on path
// with OpenRead and may have read from: the file is then not opened again.
// Source is closed before the file is replaced, and in every case on return.
bool ConvertFile(const std::string& path, TranslationMode mode, ErrorReporter& reporter,
                 DeferredFolderSync* deferred, File& source);

// Opens the file for writing and closes it again, changing nothing. False
// (with errno set) when the file cannot be opened for writing.
bool ProbeWritable(const std::string& path);

// --- Path rules, shared by both platforms and testable anywhere.

// Length of the folder of path: its drive part (the first two characters when
// the second is ':') and its directory part (up to and including the last '\'
// or '/'). When isLeadByte is given, the byte after a lead byte of a
// double-byte character is never taken for a separator.
size_t FolderLength(const std::string& path, bool (*isLeadByte)(unsigned char) = nullptr);

// --- The platform half.

// The folder of path under the system's code page rules.
std::string FolderOf(const std::string& path);

// The directory that was current when the program started.
const std::string& StartupDirectory();

// The path the conversion works on: path made absolute against the start-up
// directory, and on POSIX a symbolic link followed to its target.
std::string ResolveTarget(const std::string& path);

// Makes folder the current directory; an empty folder changes nothing.
bool ChangeDirectory(const std::string& folder);

// Creates a new, empty file whose name begins with "tmp" in the folder of
// target, to become target's new content; *name gets its full name.
bool CreateTempFileFor(const std::string& target, std::string* name);

// Gives temp the name target in one step, replacing target, and makes that
// durable (on POSIX, with deferred given, once deferred is flushed; without
// it, a failed flush of the folder is not reported, for by then target holds
// its new content and the result must say it was replaced). Retries
// briefly while another program holds target open. On Windows a read-only
// target is never replaced (EACCES). On POSIX temp first gets target's
// permission bits, and its owner and group where allowed.
bool ReplaceWithTemp(const std::string& temp, const std::string& target,
                     DeferredFolderSync* deferred = nullptr);

// Flushes a folder's entries (new names, renames) to the disk; an empty
// folder is the current directory.
bool SyncFolder(const std::string& folder);

// Deletes a file; the result is not needed by the callers that clean up.
bool RemoveFile(const std::string& path);

#endif
