// The file layer under ConvertFile: open files, the path rules and the
// platform's services. Internal to the engine (and its tests): callers use
// convert.h. file_win32.cpp and file_posix.cpp supply the platform half,
// chosen by the build.
//
// Every operation that can fail returns 0 or the program's error number (see
// convert.h); nothing is left in errno.
#ifndef QUENLAT_CONVERT_FILE_H
#define QUENLAT_CONVERT_FILE_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "convert.h"

// Size of the blocks read from and written to files (larger on Linux, where
// fewer and larger writes let the disk take the data sooner).
extern const size_t kFileBlockSize;

// Whether the copy writes on a second thread while it reads and translates
// the next block (Linux; the Windows program gained nothing from it).
extern const bool kWriteInBackground;

// Whether ConvertFile also flushes the new content to the disk on a second
// thread, through a handle of its own, each time another
// kBackgroundFlushBytes have been written: the disk then takes the data while
// the copy goes on, and the last flush finds little left (Windows; on Linux
// the copy itself keeps a second thread busy).
extern const bool kFlushInBackground;
const uint64_t kBackgroundFlushBytes = 16 * 1024 * 1024;

// Whether the temporary file gets what the file keeps beyond its content
// (CarryMetadata) before its data is flushed, so that the one flush covers
// both and a power loss never leaves the new content with the temporary
// file's owner and mode (Linux, where nothing else flushes a file's
// metadata). On Windows it is set after the flush.
extern const bool kMetadataBeforeFlush;

// How many threads flush a batch's files at once. On Linux, 32: ext4 then
// commits many files' flushes together (10,000 small files took 2.0 s, with 8
// threads 2.3 s). Under Wine each thread costs about 1 MiB and its start a
// millisecond, more than the overlap gains: 2 (10,000 files took 16.7 s and
// 13 MiB at most; with 32 threads 19.4 s and 35 MiB).
extern const unsigned kFlushThreads;

// What tells whether a file changed: which file it is and its size and times.
// Equal stamps taken at two moments mean that nothing was written between
// them (as far as the system keeps count).
struct FileStamp {
  uint64_t volume = 0;  // the device (POSIX; 0 on Windows)
  uint64_t index = 0;   // the inode, or the file index
  uint64_t size = 0;
  int64_t modified = 0;  // the last write, in the system's units
  int64_t changed = 0;   // the last change of the file or of its status
  bool operator==(const FileStamp& o) const {
    return volume == o.volume && index == o.index && size == o.size && modified == o.modified &&
           changed == o.changed;
  }
  bool operator!=(const FileStamp& o) const { return !(*this == o); }
};

// An open file, closed by its destructor. Opens never deny other programs
// reading or writing the file at the same time. OpenRead and OpenWrite take
// regular files only: anything else is refused before it is opened (a pipe is
// never waited for) with kErrorNotRegularFile, a folder with EACCES.
class File {
 public:
  File();
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Opens an existing file for reading. A folder is refused with EACCES.
  int OpenRead(const std::string& path);
  // Opens an existing file for writing and empties it.
  int OpenWriteTruncate(const std::string& path);
  // Opens an existing file for writing, keeping its content.
  int OpenWrite(const std::string& path);
  bool IsOpen() const;

  // Reads up to n bytes into buf; *got is 0 at the end of the file. A short
  // read is not an error.
  int Read(void* buf, size_t n, size_t* got);
  // Writes all n bytes, going on after short writes.
  int Write(const void* buf, size_t n);
  // The file's size now; it may change while the file is open.
  int Size(uint64_t* size);
  // The file's stamp now.
  int Stamp(FileStamp* stamp);
  // How many names (hard links) the file has now.
  int Names(uint64_t* names);
  int Seek(uint64_t pos);
  // Flushes the file's data to the disk.
  int Sync();
  // Closes the file; an error if the system reports a failure on closing.
  int Close();

 private:
  intptr_t handle_;  // a HANDLE on Windows, a descriptor elsewhere
};

// Copies source to its end into destination, translating in the direction.
int CopyStream(File& destination, File& source, Direction direction);

// The stamp of the file at path, a symbolic link followed.
int StampOf(const std::string& path, FileStamp* stamp);

// --- Path rules, shared by both platforms and testable anywhere.

// Length of the folder of path: its drive part (the first two characters when
// the second is ':') and its directory part (up to and including the last '\'
// or '/'). When isLeadByte is given, the byte after a lead byte of a
// double-byte character is never taken for a separator.
size_t FolderLength(const std::string& path, bool (*isLeadByte)(unsigned char) = nullptr);

// --- The platform half.

// The folder of path under the system's code page rules.
std::string FolderOf(const std::string& path);

// The directory that was current when the program started; empty when it
// could not be named.
const std::string& StartupDirectory();

// The path the conversion works on: path made absolute against the start-up
// directory, and on POSIX a symbolic link followed to its target. A relative
// path never names a file outside the start-up directory: when that is gone,
// the result names nothing (ENOENT on every use).
std::string ResolveTarget(const std::string& path);

// Makes folder the current directory; an empty folder changes nothing.
int ChangeDirectory(const std::string& folder);

// Creates a new, empty file whose name begins with "tmp" in the folder of
// target, to become target's new content; *name gets its full name.
int CreateTempFileFor(const std::string& target, std::string* name);

// Creates a new, empty folder whose name begins with "tmp" in the folder of
// target, to hold the temporary files of many of its files: in a folder of
// many files, Wine looks through them all for each new name, but through
// this one's few. *name gets its full name, ending with a separator. On
// POSIX none is made (ENOTSUP), and the temporary files go beside the files:
// there a rename from one folder to another costs ext4 more than a new name
// costs in a large folder (measured: 10,000 small files took 1.97 s beside,
// 3.48 s through such folders).
int CreateTempFolderFor(const std::string& target, std::string* name);

// CreateTempFileFor, the new file made in folder (a name that ends with a
// separator) rather than in target's folder.
int CreateTempFileIn(const std::string& folder, std::string* name);

// Removes an empty folder.
int RemoveFolder(const std::string& folder);

// How many files this process may open at once, besides the few that a
// conversion holds open anyway: a batch keeps its temporary files open until
// they are flushed.
size_t OpenFilesAllowed();

// Gives temp, the closed temporary file, what target keeps beyond its
// content, so that temp can replace it. On POSIX: the owner and group, every
// extended attribute this process can read (the ACLs among them; a security.*
// attribute the system refuses is left to the system) and the permission
// bits. On Windows: the hidden, system and not-indexed flags, the creation
// time and the security descriptor's DACL (its owner where allowed); the new
// content is marked for archiving. An error, the engine's own
// (kErrorOwnerNotKept, ...) or the system's, when something that must be kept
// could not be: target must then not be replaced.
int CarryMetadata(const std::string& target, const std::string& temp);

// Gives temp the name target in one step, replacing target, and makes that
// durable (on POSIX, with deferred given, once deferred is flushed; without
// it, a failed flush of the folder is not reported, for by then target holds
// its new content and the result must say it was replaced). Retries
// briefly while another program holds target open. On Windows a read-only
// target is never replaced (EACCES).
int ReplaceWithTemp(const std::string& temp, const std::string& target,
                    DeferredFolderSync* deferred = nullptr);

// Flushes a folder's entries (new names, renames) to the disk; an empty
// folder is the current directory.
int SyncFolder(const std::string& folder);

// Deletes a file.
int RemoveFile(const std::string& path);

#endif
