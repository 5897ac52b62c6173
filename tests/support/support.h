// Helpers for tests that work on real files.
#ifndef QUENLAT_TESTS_SUPPORT_H
#define QUENLAT_TESTS_SUPPORT_H

#include <string>
#include <utility>
#include <vector>

#include "file.h"

// A new, empty folder, removed with its content when the object goes.
class ScratchDir {
 public:
  // Made in the system's temporary folder, or in parent when given.
  explicit ScratchDir(const std::string& parent = std::string());
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The folder's path, ending in a separator.
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
// Names in a folder, without "." and "..", sorted.
std::vector<std::string> ListFolder(const std::string& folder);
void MakeFolder(const std::string& path);
// The current directory, ending in a separator; "/" when it has been removed.
std::string CurrentFolder();
// The folder that was current when the test program started, ending in a
// separator.
const std::string& StartupFolder();
void EnterFolder(const std::string& path);

// A Unix path as this platform's programs name it.
std::string HostPath(const std::string& unixPath);

#ifndef _WIN32
// A thing that is not a regular file, made for a test to hand to the
// converter, and the file type (S_IFMT bits) it was made with.
struct SpecialFile {
  std::string name;
  unsigned type;
};

// Makes, in folder and never under /dev, what a test may hand to the converter
// as a file that is none: a character device with the null device's numbers
// and a block device of a driver this system lacks (both only as root; no
// data can be read from or written to either beyond the null device's), a
// named pipe and a bound socket. Those that could be made, in that order;
// each that could not is named on standard output with the reason.
std::vector<SpecialFile> MakeSpecialFiles(const std::string& folder);

// The file type (S_IFMT bits) of path itself, links not followed; 0 when
// there is nothing there.
unsigned FileTypeOf(const std::string& path);
#endif

// ConvertFileInPlace by mode, reporting to reporter.
inline bool ConvertWithMode(const std::string& path, TranslationMode mode, ErrorReporter& reporter,
                            DeferredFolderSync* deferred = nullptr,
                            SourceFile* source = nullptr) {
  ConvertOptions options;
  options.reporter = &reporter;
  options.mode = mode;
  options.deferred = deferred;
  options.source = source;
  return ConvertFileInPlace(path, options);
}

// Collects the reports of a conversion.
class CollectingReporter : public ErrorReporter {
 public:
  void ReportFileError(const FileError& error) override {
    reports.emplace_back(error.path, error.code);
  }
  std::vector<std::pair<std::string, std::error_code>> reports;
};

// Random access for large-file tests: writes bytes at an offset (extending the
// file as needed), reads n bytes at an offset, sets the size (new space is a
// hole where the filesystem allows), tells the size.
void WriteAt(const std::string& path, uint64_t at, const std::string& bytes);
std::string ReadAt(const std::string& path, uint64_t at, size_t n);
void SetSize(const std::string& path, uint64_t size);
uint64_t SizeOf(const std::string& path);

// Makes the file unreadable for this process until destroyed: on Windows
// another handle holds it without sharing, on POSIX its permissions say so.
class Unreadable {
 public:
  explicit Unreadable(const std::string& path);
  ~Unreadable();

 private:
  std::string path_;
  [[maybe_unused]] intptr_t handle_;  // the holding handle on Windows
};

// Makes replacing the file fail until destroyed: on Windows another handle
// keeps it open, on POSIX it and its sticky folder belong to another user
// (which needs root). ok() is false when that cannot be arranged.
class ReplaceBlocked {
 public:
  explicit ReplaceBlocked(const std::string& path);
  ~ReplaceBlocked();
  bool ok() const { return ok_; }

 private:
  std::string path_;
  [[maybe_unused]] intptr_t handle_;  // the holding handle on Windows
  bool ok_;
};

// How a file held open by another process is shared with others.
enum class Sharing {
  Read,       // others may read it, not write, delete or rename over it
  ReadWrite,  // others may read and write it, not delete or rename over it
};

// Holds a file open in another process (a small helper program) with the
// sharing given, until Release or destruction; both wait for the helper to
// end. The helper also lets go when this process ends. Only Windows has share
// modes: on POSIX ok() is false and nothing is held.
class HeldByOtherProcess {
 public:
  HeldByOtherProcess(const std::string& path, Sharing sharing);
  ~HeldByOtherProcess();
  HeldByOtherProcess(const HeldByOtherProcess&) = delete;
  HeldByOtherProcess& operator=(const HeldByOtherProcess&) = delete;

  // True while the helper holds the file.
  bool ok() const { return ok_; }
  // Lets the file go and waits until the helper has ended.
  void Release();

 private:
  [[maybe_unused]] intptr_t process_;  // the helper's process handle on Windows
  [[maybe_unused]] intptr_t input_;    // the write end of the helper's standard input
  bool ok_;
};

// Makes the file read-only: on Windows its attribute, on POSIX no write
// permission for anyone. True when the system then refuses to open it for
// writing; false where it does not (a process that may write anything).
bool MakeReadOnly(const std::string& path);

// A file in a folder where no new file can be made, with content "a\r\nb\r\n"
// (on POSIX made in scratch; elsewhere a read-only filesystem that the test
// setup mounted). Empty when there is none.
std::string FileInReadOnlyFolder(const ScratchDir& scratch);

#ifndef _WIN32
// Gives this thread back the right to change files it does not own
// (CAP_FOWNER), which root has and the test programs drop, while it lives;
// ok() is false where the process never had it.
class WithOwnerOverride {
 public:
  WithOwnerOverride();
  ~WithOwnerOverride();
  WithOwnerOverride(const WithOwnerOverride&) = delete;
  WithOwnerOverride& operator=(const WithOwnerOverride&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_;
};
#endif

// The root folder of a small filesystem (16 MiB) that the test setup
// mounted, or empty. One test program at a time uses it.
std::string SmallFilesystem();

// Fills the filesystem of folder with a file in folder until exactly bytes
// are left free, and deletes that file when destroyed. bytes should be a
// multiple of the filesystem's unit of space (4 KiB for tmpfs). ok() is false
// when that much was not free or the free space did not come out exact.
class FreeSpaceLeft {
 public:
  FreeSpaceLeft(const std::string& folder, uint64_t bytes);
  ~FreeSpaceLeft();
  FreeSpaceLeft(const FreeSpaceLeft&) = delete;
  FreeSpaceLeft& operator=(const FreeSpaceLeft&) = delete;
  bool ok() const { return ok_; }

 private:
  std::string filler_;
  bool ok_;
};

#endif
