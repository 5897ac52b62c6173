// The system layer under the engine and the console tool: owned descriptors
// and handles, open files, file identities and stamps, the loops that read
// and write through a descriptor, the path rules and the platform's
// services. file_win32.cpp and file_posix.cpp supply the platform half,
// chosen by the build; folder.h holds the folder reading.
//
// Every operation that can fail returns its error (see error.h); nothing is
// left in errno.
#ifndef QUENLAT_CONVERT_FILE_H
#define QUENLAT_CONVERT_FILE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "convert.h"

// Size of the blocks read from and written to files (larger on Linux, where
// fewer and larger writes let the disk take the data sooner).
extern const size_t kFileBlockSize;

// Whether the copy writes on a second thread while it reads and translates
// the next block (Linux; the Windows program gained nothing from it).
extern const bool kWriteInBackground;

// Whether ConvertFileInPlace also flushes the new content to the disk on a second
// thread, through a handle of its own, each time another
// kBackgroundFlushBytes have been written: the disk then takes the data while
// the copy goes on, and the last flush finds little left (Windows; on Linux
// the copy itself keeps a second thread busy).
extern const bool kFlushInBackground;
const uint64_t kBackgroundFlushBytes = 16 * 1024 * 1024;

// How many threads flush a batch's files at once. On Linux, 32: ext4 then
// commits many files' flushes together (10,000 small files took 2.0 s, with 8
// threads 2.3 s). Under Wine each thread costs about 1 MiB and its start a
// millisecond, more than the overlap gains: 2 (10,000 files took 16.7 s and
// 13 MiB at most; with 32 threads 19.4 s and 35 MiB).
extern const unsigned kFlushThreads;

// Whether a conversion compares the file's stamp once more as soon as it has
// read the file (Windows, where the file is closed before its replace, which
// can then no longer look at it; on Linux the replace compares it through
// the open file).
extern const bool kStampAfterRead;

// What tells two files apart whatever their names: the device and the inode,
// or on Windows the volume serial number and the file's 128-bit id (the file
// index where the system has no such id). A quick identity on Windows has
// volume 0: the system is slow to name the volume.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
#ifdef _WIN32
  // The upper half of the 128-bit id. Only here: the console tool keeps an
  // identity for every file done, and elsewhere the inode fits in index.
  uint64_t high = 0;
  bool operator<(const FileIdentity& o) const {
    if (volume != o.volume) return volume < o.volume;
    return high != o.high ? high < o.high : index < o.index;
  }
  bool operator==(const FileIdentity& o) const {
    return volume == o.volume && index == o.index && high == o.high;
  }
#else
  bool operator<(const FileIdentity& o) const {
    return volume != o.volume ? volume < o.volume : index < o.index;
  }
  bool operator==(const FileIdentity& o) const {
    return volume == o.volume && index == o.index;
  }
#endif
  bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

// What tells whether a file changed: which file it is (on Windows its quick
// identity) and its size and times. Equal stamps taken at two moments mean
// that nothing was written between them (as far as the system keeps count).
struct FileStamp : FileIdentity {
  uint64_t size = 0;
  int64_t modified = 0;  // the last write, in the system's units
  int64_t changed = 0;   // the last change of the file or of its status
  bool operator==(const FileStamp& o) const {
    return FileIdentity::operator==(o) && size == o.size && modified == o.modified &&
           changed == o.changed;
  }
  bool operator!=(const FileStamp& o) const { return !(*this == o); }
};

// The full identity of the file at path, links followed. False when it has
// none (it cannot be opened or found, or its file system numbers no file:
// then it is never taken for another).
bool IdentityOf(const std::string& path, FileIdentity* identity);

// True when a and b name one file: their full identities are equal.
bool SameFile(const std::string& a, const std::string& b);

#ifdef _WIN32
typedef void* NativeHandle;  // a HANDLE
#else
typedef int NativeHandle;  // a descriptor
#endif

// Owns a descriptor (a HANDLE on Windows) and closes it when it goes.
class OwnedHandle {
 public:
  OwnedHandle() : handle_(Invalid()) {}
  explicit OwnedHandle(NativeHandle handle) : handle_(handle) {}
  ~OwnedHandle() { Close(); }
  OwnedHandle(OwnedHandle&& o) : handle_(o.Release()) {}
  OwnedHandle& operator=(OwnedHandle&& o) {
    if (this != &o) Reset(o.Release());
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;

  // The value that stands for none: -1, or INVALID_HANDLE_VALUE.
  static NativeHandle Invalid();
  NativeHandle Get() const { return handle_; }
  bool Valid() const { return handle_ != Invalid(); }
  // Gives up ownership without closing.
  NativeHandle Release() {
    NativeHandle h = handle_;
    handle_ = Invalid();
    return h;
  }
  // Closes the handle held, if any, and holds handle.
  void Reset(NativeHandle handle) {
    Close();
    handle_ = handle;
  }
  // Closes it now: the error the system reports on closing, if any.
  std::error_code Close();

 private:
  NativeHandle handle_;
};

// Reads up to n bytes through handle into buf, going on after an
// interruption by a signal (and on POSIX making a non-blocking descriptor
// blocking); *got is 0 at the end (on Windows also when the writing end of a
// pipe was closed). A short read is not an error. The error as the system
// names it: on POSIX errno as it is (File folds it as LastSystemError
// does), on Windows folded.
std::error_code ReadSome(NativeHandle handle, void* buf, size_t n, size_t* got);

// Writes all n bytes through handle, going on after short writes and
// interruptions. ENOSPC when the system takes none without saying why; any
// other error as ReadSome gives it.
std::error_code WriteAll(NativeHandle handle, const void* buf, size_t n);

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
  std::error_code OpenRead(const std::string& path);
  // Opens an existing file for writing and empties it.
  std::error_code OpenWriteTruncate(const std::string& path);
  // Opens an existing file for writing, keeping its content.
  std::error_code OpenWrite(const std::string& path);
  bool IsOpen() const;

  // Reads up to n bytes into buf; *got is 0 at the end of the file. A short
  // read is not an error.
  std::error_code Read(void* buf, size_t n, size_t* got);
  // Writes all n bytes, going on after short writes.
  std::error_code Write(const void* buf, size_t n);
  // The file's size now; it may change while the file is open.
  std::error_code Size(uint64_t* size);
  // The file's stamp now.
  std::error_code Stamp(FileStamp* stamp);
  // How many names (hard links) the file has now.
  std::error_code LinkCount(uint64_t* count);
  std::error_code Seek(uint64_t pos);
  // Flushes the file's data to the disk.
  std::error_code Sync();
  // Tells the system that this program reads the file's content before end
  // no more: it may drop it from its cache now, while the program waits for
  // the disk anyway, rather than all at once when the file is deleted (POSIX;
  // nothing on Windows). Only a hint: nothing fails.
  void Forget(uint64_t end);
  // Closes the file; an error if the system reports a failure on closing.
  std::error_code Close();

  // Whether the system keeps the file sparse, its holes taking no room
  // (Windows); false where the system does not say (POSIX).
  bool IsSparse();

  // Asks the system to tell this file, opened for reading, when another
  // program opens it for writing or truncates it, from now until it is
  // closed (a read lease on Linux). 0 when that is held or the system
  // offers no such thing (another filesystem, another user's file, Windows);
  // kErrorInUse when it is refused because some program has the file open
  // for writing now.
  std::error_code WatchWriters();
  // Whether a program opened the file for writing or truncated it since
  // WatchWriters; false where nothing is watched.
  bool WrittenSinceWatched();

  NativeHandle Native() const { return handle_.Get(); }
  // Takes over an open file, closing the one open before.
  void Adopt(OwnedHandle handle) {
    handle_ = std::move(handle);
    watched_ = false;
  }
  // Takes over other's open file, with what other has seen of it.
  void TakeOver(File& other) {
    Adopt(other.Detach());
    seen_ = other.seen_;
  }
  // Gives up the open file, which this object no longer closes.
  OwnedHandle Detach() {
    watched_ = false;
    return std::move(handle_);
  }

 private:
  OwnedHandle handle_;
  bool watched_ = false;
  friend std::error_code OpenStamped(File&, const std::string&, FileStamp*, uint64_t*, bool);
  friend class NewContent;
  // What the open or the last Stamp saw of the file's identity, owner, group
  // and mode, where the new content needs them (POSIX; empty on Windows).
  struct Seen {
    FileIdentity identity;
    unsigned owner = 0, group = 0, mode = 0;
  };
  Seen seen_;
};

// Opens the file at path for reading, as File::OpenRead does, and gives its
// stamp and its number of names (hard links) at the open. With looked, the
// caller has just found a regular file at path: on POSIX it is opened
// without a look of its own, and refused after the open if it is none.
std::error_code OpenStamped(File& file, const std::string& path, FileStamp* stamp,
                            uint64_t* linkCount, bool looked = false);

// The stamp of the file at path, a symbolic link followed.
std::error_code StampOf(const std::string& path, FileStamp* stamp);

// --- Path rules, shared by both platforms and testable anywhere.

// Length of the folder of path: its drive part (the first two characters when
// the second is ':') and its folder part (up to and including the last '\'
// or '/'). When isLeadByte is given, the byte after a lead byte of a
// double-byte character is never taken for a separator.
size_t FolderLength(const std::string& path, bool (*isLeadByte)(unsigned char) = nullptr);

// --- The platform half.

// The folder of path under the system's code page rules.
std::string FolderOf(const std::string& path);

// The path the conversion works on: path made absolute against the start-up
// folder, and on POSIX a symbolic link followed to its target. A relative
// path never names a file outside the start-up folder: when that is gone,
// the result names nothing (ENOENT on every use).
std::string ResolveTarget(const std::string& path);

// Creates a new, empty folder whose name begins with "tmp" in the folder of
// target, to hold the temporary files of many of its files: in a folder of
// many files, Wine looks through them all for each new name, but through
// this one's few. *name gets its full name, ending with a separator. On
// POSIX none is made (ENOTSUP), and the temporary files go beside the files:
// there a rename from one folder to another costs ext4 more than a new name
// costs in a large folder (measured: 10,000 small files took 1.97 s beside,
// 3.48 s through such folders).
std::error_code CreateTempFolderFor(const std::string& target, std::string* name);

// Removes an empty folder.
std::error_code RemoveFolder(const std::string& folder);

// How many files this process may open at once, besides the few that a
// conversion holds open anyway: a batch keeps its files and their temporary
// files open until they are replaced.
size_t OpenFilesAllowed();

// A file's new content on its way: a temporary file whose name begins with
// "tmp", in the file's folder (or in a folder given), open for writing from
// its creation until it replaces the file. It is deleted when it goes,
// unless it replaced the file. On Linux it has no name at all until just
// before the replace where the filesystem allows that, and the folder is
// reached through a descriptor taken once: a name that someone else puts in
// its place is never written to or renamed. On Windows it is created with
// the file's own access rules (never more than the file allows anyone),
// encrypted and compressed as the file is, shared with readers only (no one
// else may write, rename or delete it), and every later step goes through
// its handle: it is never opened by name again.
class NewContent {
 public:
  NewContent();
  ~NewContent();
  NewContent(const NewContent&) = delete;
  NewContent& operator=(const NewContent&) = delete;

  // Makes it, empty and open for writing, to replace target, whose content
  // source has open: beside target, or in folder when that is given (a name
  // that ends with a separator). kErrorChangedMeanwhile when target's folder
  // no longer holds the file source has open under target's name. On
  // Windows kErrorAttributesNotKept when it cannot be encrypted or
  // compressed as target is, and under Wine kErrorOwnerNotKept for another
  // user's file.
  std::error_code Create(const std::string& target, File& source,
                         const std::string& folder = std::string());
  File& file() { return file_; }
  // Its device and inode once CarryBeforeFlush has looked (POSIX), its file
  // index and no volume once it has replaced the file (Windows); zeros
  // otherwise.
  const FileStamp& made() const { return made_; }
  // Its name, once it has one; reports name the user's file instead.
  const std::string& name() const { return name_; }

  // Gives it what target (open in source) keeps beyond its content, as far
  // as that can be done before its data is flushed, so that one flush makes
  // content and metadata durable together: on POSIX all of it, owner and
  // group first, while it is still private to this process. On Windows its
  // named streams and extended attributes (the rest: see CarryAfterFlush),
  // and source is closed: while the new content waits, other programs may
  // rename over the file or delete it. An error, the engine's own
  // (kErrorOwnerNotKept, ...) or the system's, when something that must be
  // kept cannot be: target must then not be replaced.
  std::error_code CarryBeforeFlush(File& source);
  // After its data is flushed: on Windows gives it, through its handle, the
  // hidden, system and not-indexed flags, the creation time, the mandatory
  // label, the audit list (where this process may read it) and the DACL of
  // target, marked for archiving. Nothing on POSIX.
  std::error_code CarryAfterFlush();

  // Replaces target with it in one step, if source is still the file that
  // was opened when its stamp was opened: unchanged since (and, where the
  // system tells, not opened for writing since), and still named target.
  // kErrorChangedMeanwhile when not: target is then left as it is. Makes the
  // replace durable: on POSIX, with deferred given, once deferred is flushed
  // (without it, a failed flush of the folder is not reported, for by then
  // target holds its new content; on Windows the folder is flushed where the
  // system allows). On Windows source is closed first, and a read-only
  // target is never replaced (EACCES).
  std::error_code Replace(File& source, const FileStamp& opened, DeferredFolderSync* deferred);

  // Deletes it now, unless it replaced target.
  void Discard();

 private:
  File file_;
  std::string target_;
  std::string name_;
  // POSIX: target's folder, as checked at Create; shared with the new
  // content of the files before and after it in the same folder.
  std::shared_ptr<struct TempFolder> folder_;
  int slot_ = -1;       // POSIX: its entry among the names removed on an interrupt
  FileStamp made_;      // POSIX: its identity, once CarryBeforeFlush has looked
};

// Nothing when the regular file at path may be written and replaced by this
// process; otherwise the error (kErrorNotRegularFile for what is no regular
// file). On POSIX nothing is opened: the access of the file and of its
// folder is asked for. On Windows the file is opened for writing and closed.
std::error_code CheckWritable(const std::string& path);

// CheckWritable for path, which names the regular file open in file.
std::error_code CheckOpenWritable(const std::string& path, File& file);

// Flushes a folder's entries (new names, renames) to the disk; an empty
// folder is the current folder. On Windows where the system lets the
// folder be opened for writing and flushed (NTFS does); elsewhere nothing.
std::error_code SyncFolder(const std::string& folder);

// Deletes a file.
std::error_code RemoveFile(const std::string& path);

#endif
