// Flushes that fail. This program is linked so that the engine's calls to the
// system's flush (fsync on POSIX, FlushFileBuffers on Windows) come here
// first; a test makes them fail as a full disk or a failing device would, at
// the moment the system writes the data out. On Windows the replace's rename
// comes here too, to meet the sharing violations of a program that holds the
// file a moment.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "file.h"
#include "support.h"

namespace {

enum FlushKind { kFileFlush, kFolderFlush };

struct FlushFault {
  bool active;
  FlushKind kind;
  int error;  // errno on POSIX, a system error code on Windows
  int times;  // how many more flushes fail; -1: all of them
  uint64_t size;  // when not 0, only flushes of files of this size fail
} g_flushFault = {false, kFileFlush, 0, -1, 0};

// A batch flushes its files from several threads at once.
std::mutex g_flushMutex;

// Makes flushes of one kind fail with error while it lives: every one, or
// only the first times; with size, only those of files of that size.
class FlushesFail {
 public:
  FlushesFail(FlushKind kind, int error, int times = -1, uint64_t size = 0) {
    g_flushFault = {true, kind, error, times, size};
  }
  ~FlushesFail() { g_flushFault.active = false; }
};

// Run before each flush of a file's data while set: another program's
// change to the file being converted, made after the copy has read it.
std::function<void()> g_beforeFileFlush;

// True when the flush about to be made, of a file of size bytes, should
// fail, counting it.
bool FlushShouldFail(FlushKind kind, uint64_t size) {
  std::lock_guard<std::mutex> lock(g_flushMutex);
  if (kind == kFileFlush && g_beforeFileFlush) g_beforeFileFlush();
  if (!g_flushFault.active || g_flushFault.kind != kind || g_flushFault.times == 0) return false;
  if (g_flushFault.size != 0 && g_flushFault.size != size) return false;
  if (g_flushFault.times > 0) --g_flushFault.times;
  return true;
}

}  // namespace

#ifdef _WIN32
// The engine calls FlushFileBuffers through its import pointer; the linker
// (--wrap with the pointer's name) hands it this pointer instead. The build
// gives the assembly names of both, which differ by word size.
extern "C" BOOL WINAPI FlushThatMayFail(HANDLE file);
extern "C" BOOL(WINAPI* const g_realFlush)(HANDLE) __asm__(QUENLAT_REAL_FLUSH);
extern "C" BOOL(WINAPI* const g_wrappedFlush)(HANDLE) __asm__(QUENLAT_WRAPPED_FLUSH);
BOOL(WINAPI* const g_wrappedFlush)(HANDLE) = FlushThatMayFail;

extern "C" BOOL WINAPI FlushThatMayFail(HANDLE file) {
  // A folder is flushed through a handle of its own, after its renames.
  BY_HANDLE_FILE_INFORMATION info = {};
  GetFileInformationByHandle(file, &info);
  const FlushKind kind =
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? kFolderFlush : kFileFlush;
  LARGE_INTEGER size = {};
  if (kind == kFileFlush) GetFileSizeEx(file, &size);
  if (FlushShouldFail(kind, static_cast<uint64_t>(size.QuadPart))) {
    SetLastError(static_cast<DWORD>(g_flushFault.error));
    return FALSE;
  }
  return g_realFlush(file);
}

// How many more of the engine's renames fail with a sharing violation, as
// while a scanner holds the file; and how many it asked for.
int g_renameViolations = 0;
int g_renames = 0;

// Whether the rename now asked for meets a sharing violation.
bool RenameMeetsAViolation() {
  ++g_renames;
  if (g_renameViolations == 0) return false;
  --g_renameViolations;
  SetLastError(ERROR_SHARING_VIOLATION);
  return true;
}

// The replace renames through the new content's handle (FileRenameInfoEx,
// then FileRenameInfo), a call looked up by name; the lookup hands out this
// one in its place.
typedef BOOL(WINAPI* SetInformationCall)(HANDLE, int, void*, DWORD);
SetInformationCall g_realSetInformation = nullptr;

extern "C" BOOL WINAPI SetInformationThatMayMeetAViolation(HANDLE file, int kind, void* info,
                                                           DWORD size) {
  const int kRenameInfo = 3, kRenameInfoEx = 22;
  if ((kind == kRenameInfo || kind == kRenameInfoEx) && RenameMeetsAViolation()) return FALSE;
  return g_realSetInformation(file, kind, info, size);
}

extern "C" FARPROC WINAPI LookupThatWrapsTheRename(HMODULE module, LPCSTR name);
extern "C" FARPROC(WINAPI* const g_realLookup)(HMODULE, LPCSTR) __asm__(QUENLAT_REAL_LOOKUP);
extern "C" FARPROC(WINAPI* const g_wrappedLookup)(HMODULE, LPCSTR) __asm__(QUENLAT_WRAPPED_LOOKUP);
FARPROC(WINAPI* const g_wrappedLookup)(HMODULE, LPCSTR) = LookupThatWrapsTheRename;

extern "C" FARPROC WINAPI LookupThatWrapsTheRename(HMODULE module, LPCSTR name) {
  FARPROC real = g_realLookup(module, name);
  // A name below 0x10000 is an ordinal.
  if (real == nullptr || reinterpret_cast<uintptr_t>(name) <= 0xFFFF ||
      strcmp(name, "SetFileInformationByHandle") != 0)
    return real;
  g_realSetInformation = reinterpret_cast<SetInformationCall>(reinterpret_cast<void*>(real));
  return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(SetInformationThatMayMeetAViolation));
}
#else
// The steps that make a replace durable, in the order they were taken.
std::vector<std::string> g_steps;

extern "C" int __real_fsync(int fd);
extern "C" int __real_rename(const char* from, const char* to);
extern "C" int __real_renameat(int fromFolder, const char* from, int toFolder, const char* to);
extern "C" int __real_renameat2(int fromFolder, const char* from, int toFolder, const char* to,
                                unsigned flags);
extern "C" int __real_fchown(int fd, uid_t uid, gid_t gid);
extern "C" int __real_fchmod(int fd, mode_t mode);

// While set, each large write waits a little first, as a busy disk makes it:
// what the writer thread writes then comes late.
bool g_slowWrites = false;

extern "C" ssize_t __real_write(int fd, const void* buf, size_t n);

extern "C" ssize_t __wrap_write(int fd, const void* buf, size_t n) {
  if (g_slowWrites && n >= 64 * 1024) usleep(50 * 1000);
  return __real_write(fd, buf, n);
}

// Run once, at the next rename, while set: another program's change to the
// file made after every check the conversion makes before it.
std::function<void()> g_beforeRename;

// Records a rename and runs g_beforeRename, once.
void Renaming() {
  std::function<void()> change;
  {
    std::lock_guard<std::mutex> lock(g_flushMutex);
    g_steps.push_back("rename");
    change.swap(g_beforeRename);
  }
  if (change) change();
}

extern "C" int __wrap_rename(const char* from, const char* to) {
  Renaming();
  return __real_rename(from, to);
}

extern "C" int __wrap_renameat(int fromFolder, const char* from, int toFolder, const char* to) {
  Renaming();
  return __real_renameat(fromFolder, from, toFolder, to);
}

// While set, the system refuses what some filesystems lack, as they refuse
// it: files made without a name (O_TMPFILE), read leases, the exchange of
// two names.
bool g_noUnnamedFiles = false;
bool g_noLeases = false;
bool g_noExchange = false;
// How many files the engine made under a name.
int g_namedFiles = 0;

extern "C" int __wrap_renameat2(int fromFolder, const char* from, int toFolder, const char* to,
                                unsigned flags) {
  if (g_noExchange && (flags & RENAME_EXCHANGE) != 0) {
    errno = EINVAL;
    return -1;
  }
  Renaming();
  return __real_renameat2(fromFolder, from, toFolder, to, flags);
}

extern "C" int __real_openat(int folder, const char* path, int flags, ...);

extern "C" int __wrap_openat(int folder, const char* path, int flags, ...) {
  const bool unnamed = (flags & O_TMPFILE) == O_TMPFILE;
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || unnamed) {
    va_list args;
    va_start(args, flags);
    mode = static_cast<mode_t>(va_arg(args, int));
    va_end(args);
  }
  if (unnamed && g_noUnnamedFiles) {
    errno = EOPNOTSUPP;
    return -1;
  }
  if ((flags & O_CREAT) != 0) ++g_namedFiles;
  return __real_openat(folder, path, flags, mode);
}

extern "C" int __real_fcntl(int fd, int command, ...);

extern "C" int __wrap_fcntl(int fd, int command, ...) {
  va_list args;
  va_start(args, command);
  void* argument = va_arg(args, void*);  // as the C library reads it
  va_end(args);
  if (g_noLeases && command == F_SETLEASE && reinterpret_cast<intptr_t>(argument) == F_RDLCK) {
    errno = EINVAL;  // as a filesystem without leases answers
    return -1;
  }
  return __real_fcntl(fd, command, argument);
}

// Run once, after the first large block is read, while set: another
// program's change made while the copy reads the file.
std::function<void()> g_afterFirstBlock;

extern "C" ssize_t __real_read(int fd, void* buf, size_t n);

extern "C" ssize_t __wrap_read(int fd, void* buf, size_t n) {
  ssize_t got = __real_read(fd, buf, n);
  if (got > 0 && n >= 64 * 1024 && g_afterFirstBlock) {
    std::function<void()> change;
    change.swap(g_afterFirstBlock);
    change();
  }
  return got;
}

// The owner, group and mode a file had after each change of them (or of an
// attribute, which an ACL is) that was made through a descriptor.
std::vector<struct stat> g_states;

// Records the state of the file open on fd and passes result on.
int Recorded(int fd, int result) {
  struct stat st;
  const int error = errno;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    std::lock_guard<std::mutex> lock(g_flushMutex);
    g_states.push_back(st);
  }
  errno = error;
  return result;
}

extern "C" int __real_fsetxattr(int fd, const char* name, const void* value, size_t size,
                                int flags);
extern "C" int __real_fremovexattr(int fd, const char* name);

extern "C" int __wrap_fsetxattr(int fd, const char* name, const void* value, size_t size,
                                int flags) {
  return Recorded(fd, __real_fsetxattr(fd, name, value, size, flags));
}

extern "C" int __wrap_fremovexattr(int fd, const char* name) {
  return Recorded(fd, __real_fremovexattr(fd, name));
}

// A change of owner or group, and of the permission bits, named by what it
// changes.
extern "C" int __wrap_fchown(int fd, uid_t uid, gid_t gid) {
  {
    std::lock_guard<std::mutex> lock(g_flushMutex);
    if (uid != static_cast<uid_t>(-1)) g_steps.push_back("owner");
    if (gid != static_cast<gid_t>(-1)) g_steps.push_back("group");
  }
  return Recorded(fd, __real_fchown(fd, uid, gid));
}

extern "C" int __wrap_fchmod(int fd, mode_t mode) {
  {
    std::lock_guard<std::mutex> lock(g_flushMutex);
    g_steps.push_back("mode");
  }
  return Recorded(fd, __real_fchmod(fd, mode));
}

extern "C" int __wrap_fsync(int fd) {
  struct stat st;
  const bool folder = fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
  {
    std::lock_guard<std::mutex> lock(g_flushMutex);
    g_steps.push_back(folder ? "folder flush" : "data flush");
  }
  if (FlushShouldFail(folder ? kFolderFlush : kFileFlush, static_cast<uint64_t>(st.st_size))) {
    errno = g_flushFault.error;
    return -1;
  }
  return __real_fsync(fd);
}
#endif

namespace {

// The flush of the new content fails. Nothing is replaced, and the report
// names the user's file.
TEST(FlushFault, FlushOfTheNewContentFails) {
  const struct {
    const char* name;
    int error;     // what the system says
    int reported;  // the program's error number
  } kCases[] = {
#ifdef _WIN32
      {"disk_full", ERROR_DISK_FULL, ENOSPC},
      {"handle_disk_full", ERROR_HANDLE_DISK_FULL, ENOSPC},
      {"device_error", ERROR_IO_DEVICE, EIO},
#else
      {"disk_full", ENOSPC, ENOSPC},
      {"quota_exceeded", EDQUOT, ENOSPC},
      {"input_output_error", EIO, EIO},
#endif
  };
  for (const auto& c : kCases) {
    for (TranslationMode mode : {ModeAutomatic, ModeLfToCrLf}) {
      SCOPED_TRACE(std::string(c.name) + " in mode " + std::to_string(mode));
      ScratchDir scratch;
      CollectingReporter reporter;
      const std::string path = scratch / "f.txt";
      WriteBytes(path, "a\nb\n");
      {
        FlushesFail fault(kFileFlush, c.error);
        EXPECT_FALSE(ConvertWithMode(path, mode, reporter));
      }
      ASSERT_EQ(reporter.reports.size(), 1u);
      EXPECT_EQ(reporter.reports[0], std::make_pair(path, Errno(c.reported)));
      EXPECT_EQ(ReadBytes(path), "a\nb\n");
      EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"f.txt"});
    }
  }
}

// A file large enough to be flushed while it is written, whose first flush
// alone fails: data that a failed flush could not write may be gone whatever
// later flushes say, so the conversion fails as above.
TEST(FlushFault, FirstOfSeveralFlushesFails) {
  ScratchDir scratch;
  CollectingReporter reporter;
  const std::string path = scratch / "big.txt";
  std::string content;
  while (content.size() < kBackgroundFlushBytes + (1 << 20)) content += "line\n";
  WriteBytes(path, content);
  {
#ifdef _WIN32
    FlushesFail fault(kFileFlush, ERROR_IO_DEVICE, 1);
#else
    FlushesFail fault(kFileFlush, EIO, 1);
#endif
    EXPECT_FALSE(ConvertWithMode(path, ModeLfToCrLf, reporter));
  }
  ASSERT_EQ(reporter.reports.size(), 1u);
  EXPECT_EQ(reporter.reports[0], std::make_pair(path, Errno(EIO)));
  EXPECT_EQ(SizeOf(path), content.size());
  EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"big.txt"});
}

#ifndef _WIN32
// A file of several blocks that ends in a lone CR, to LF: the CR that the
// translator holds back until the end goes after the last block, also when
// that block is written late.
TEST(FlushFault, HeldBackCrComesAfterASlowLastBlock) {
  ScratchDir scratch;
  CollectingReporter reporter;
  std::string input;
  while (input.size() < 2 * kFileBlockSize + kFileBlockSize / 2) input += "line\r\n";
  input += "\r";
  std::string expected;
  for (size_t i = 0; i < input.size(); ++i) {
    if (!(input[i] == '\r' && i + 1 < input.size() && input[i + 1] == '\n')) expected += input[i];
  }
  const std::string path = scratch / "cr.txt";
  WriteBytes(path, input);
  g_slowWrites = true;
  const bool converted = ConvertWithMode(path, ModeCrLfToLf, reporter);
  g_slowWrites = false;
  EXPECT_TRUE(converted);
  EXPECT_TRUE(ReadBytes(path) == expected) << "the last CR is not last";
}

// What a crash of the system could undo is flushed, in this order: the new
// content with its group and mode (set before, so that one flush covers
// them), then the rename, then the folder that holds the new name (at once,
// or when the deferred flush is made). The group comes first and the owner
// last: at no step does anyone but the converter have more access to the
// new content than to the old file, nor a set-ID bit for another owner or
// group than the old file's.
TEST(FlushFault, EveryFlushInItsOrder) {
  const uid_t kNobody = 65534;  // another group than a new file gets, and another user
  const struct {
    const char* name;
    uid_t uid;  // -1: this process's own file
    mode_t mode;
    std::vector<std::string> steps;  // up to the data flush
  } kCases[] = {
      {"own_file_of_another_group", static_cast<uid_t>(-1), 0640, {"group", "mode"}},
      {"own_set_id_file", static_cast<uid_t>(-1), 06750, {"group", "mode"}},
      // Open to others, so that the converter, who does not own it, may read and write it.
      {"another_users_file", kNobody, 0666, {"group", "mode", "owner"}},
      {"another_users_set_id_file", kNobody, 06766, {"group", "mode", "owner", "mode"}},
  };
  for (const auto& c : kCases) {
    for (bool defer : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (defer ? ", deferred" : ", at once"));
      ScratchDir scratch;
      CollectingReporter reporter;
      const std::string path = scratch / "f.txt";
      WriteBytes(path, "a\n");
      if (chown(path.c_str(), c.uid, kNobody) != 0)
        GTEST_SKIP() << "cannot give a file away here";
      WithOwnerOverride root;  // to give another user's file its set-ID bits, as root may
      ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
      struct stat old;
      ASSERT_EQ(stat(path.c_str(), &old), 0);
      DeferredFolderSync deferred;
      g_steps.clear();
      g_states.clear();
      ASSERT_TRUE(ConvertWithMode(path, ModeLfToCrLf, reporter, defer ? &deferred : nullptr));
      std::vector<std::string> all = c.steps;
      for (const char* step : {"data flush", "rename", "folder flush"}) all.push_back(step);
      if (defer) {
        EXPECT_EQ(g_steps, std::vector<std::string>(all.begin(), all.end() - 1));
        EXPECT_FALSE(deferred.Flush());
      }
      EXPECT_EQ(g_steps, all);
      struct stat st;
      ASSERT_EQ(stat(path.c_str(), &st), 0);
      EXPECT_EQ(st.st_uid, old.st_uid);
      EXPECT_EQ(st.st_gid, old.st_gid);
      EXPECT_EQ(st.st_mode & 07777, c.mode);
      ASSERT_FALSE(g_states.empty());
      for (const struct stat& now : g_states) {
        const bool oldOwner = now.st_uid == old.st_uid, oldGroup = now.st_gid == old.st_gid;
        const std::string state = std::to_string(now.st_uid) + ":" + std::to_string(now.st_gid) +
                                  " " + std::to_string(now.st_mode & 07777);
        EXPECT_TRUE(now.st_uid == geteuid() || (oldOwner && (now.st_mode & ~old.st_mode & 0700) == 0))
            << state;
        EXPECT_EQ(now.st_mode & 070 & ~(oldGroup ? old.st_mode : 0), 0u) << state;
        EXPECT_EQ(now.st_mode & 07 & ~old.st_mode, 0u) << state;
        EXPECT_TRUE(oldOwner || (now.st_mode & S_ISUID) == 0) << state;
        EXPECT_TRUE(oldGroup || (now.st_mode & S_ISGID) == 0) << state;
      }
    }
  }
}

// A filesystem without files made without a name, without read leases,
// without the exchange of two names, or without any of them: the replace
// goes on without each. The file is converted, its group and mode set
// before the one flush; a line another program appends before the flush is
// found by the stamps alone and kept; a failed flush replaces nothing; no
// temporary file is left.
TEST(FlushFault, WithoutUnnamedFilesLeasesOrExchange) {
  const struct {
    const char* name;
    bool noUnnamedFiles, noLeases, noExchange;
  } kCases[] = {
      {"no_unnamed_files", true, false, false},
      {"no_leases", false, true, false},
      {"no_exchange", false, false, true},
      {"none_of_them", true, true, true},
  };
  const gid_t kGroup = 65534;
  struct Lacking {  // for one case, whatever the case's end
    Lacking(bool unnamed, bool leases, bool exchange) {
      g_noUnnamedFiles = unnamed;
      g_noLeases = leases;
      g_noExchange = exchange;
    }
    ~Lacking() { g_noUnnamedFiles = g_noLeases = g_noExchange = false; }
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Lacking lacking(c.noUnnamedFiles, c.noLeases, c.noExchange);
    g_namedFiles = 0;
    ScratchDir scratch;
    CollectingReporter reporter;
    const std::string path = scratch / "f.txt";

    WriteBytes(path, "a\nb\n");
    const bool grouped = chown(path.c_str(), static_cast<uid_t>(-1), kGroup) == 0;
    chmod(path.c_str(), 0640);
    g_steps.clear();
    EXPECT_TRUE(ConvertWithMode(path, ModeLfToCrLf, reporter));
    EXPECT_EQ(ReadBytes(path), "a\r\nb\r\n");
    const std::vector<std::string> kSteps = {"group", "mode", "data flush", "rename",
                                             "folder flush"};
    EXPECT_EQ(g_steps,
              grouped ? kSteps : std::vector<std::string>(kSteps.begin() + 1, kSteps.end()));
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (grouped) {
      EXPECT_EQ(st.st_gid, kGroup);
    }
    EXPECT_EQ(g_namedFiles, c.noUnnamedFiles ? 1 : 0);

    bool appended = false;
    g_beforeFileFlush = [&] {
      if (!appended) WriteAt(path, SizeOf(path), "more\r\n");
      appended = true;
    };
    EXPECT_TRUE(ConvertWithMode(path, ModeCrLfToLf, reporter));
    g_beforeFileFlush = nullptr;
    EXPECT_EQ(ReadBytes(path), "a\nb\nmore\n");

    {
      FlushesFail fault(kFileFlush, EIO);
      EXPECT_FALSE(ConvertWithMode(path, ModeLfToCrLf, reporter));
    }
    EXPECT_EQ(ReadBytes(path), "a\nb\nmore\n");
    ASSERT_EQ(reporter.reports.size(), 1u);
    EXPECT_EQ(reporter.reports[0], std::make_pair(path, Errno(EIO)));
    EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"f.txt"});
  }
}
#endif

// The deferred flush of a folder fails: the files already hold their new
// content, and the flush names the folder with the error.
TEST(FlushFault, DeferredFolderFlushFails) {
  ScratchDir scratch;
  CollectingReporter reporter;
  DeferredFolderSync deferred;
  WriteBytes(scratch / "f.txt", "a\n");
  ASSERT_TRUE(ConvertWithMode(scratch / "f.txt", ModeLfToCrLf, reporter, &deferred));
  std::optional<FileError> failed;
  {
#ifdef _WIN32
    FlushesFail fault(kFolderFlush, ERROR_DISK_FULL);
#else
    FlushesFail fault(kFolderFlush, ENOSPC);
#endif
    failed = deferred.Flush();
  }
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->code, Errno(ENOSPC));
  EXPECT_EQ(failed->path, scratch.path());
  EXPECT_EQ(ReadBytes(scratch / "f.txt"), "a\r\n");
  EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"f.txt"});
  EXPECT_TRUE(reporter.reports.empty());
}

// Another program writes to the file after the copy has read it to its end
// and before it is replaced (here: as the new content is flushed). The file
// is converted again from its start, twice at most; then it is left as the
// other program made it, with the general failure, and nothing is left over.
TEST(FlushFault, FileChangedWhileItWasConverted) {
  const std::string lines = std::string(2 * kFileBlockSize, 'x') + "\nend\n";
  const struct {
    const char* name;
    TranslationMode mode;
    int changes;   // how many of the tries see a change
    bool append;   // appended, or overwritten in place (the size stays)
    bool converted;
  } kCases[] = {
      {"appended_after_the_last_block", ModeLfToCrLf, 1, true, true},
      {"overwritten_in_place", ModeLfToCrLf, 1, false, true},
      {"changed_on_two_tries", ModeAutomatic, 2, true, true},
      {"changed_on_every_try", ModeLfToCrLf, 3, true, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    CollectingReporter reporter;
    const std::string path = scratch / "log.txt";
    WriteBytes(path, lines);
    int left = c.changes;
    std::string written = lines;
    g_beforeFileFlush = [&] {
      if (left == 0) return;
      --left;
      if (c.append) {
        WriteAt(path, written.size(), "more\n");
        written += "more\n";
      } else {
        WriteAt(path, 0, "y");
        written[0] = 'y';
      }
    };
    const bool result = ConvertWithMode(path, c.mode, reporter);
    g_beforeFileFlush = nullptr;
    EXPECT_EQ(left, 0);
    EXPECT_EQ(result, c.converted);
    std::string expected = written;
    if (c.converted) {
      expected.clear();
      for (char ch : written) {
        if (ch == '\n') expected += '\r';
        expected += ch;
      }
      EXPECT_TRUE(reporter.reports.empty());
    } else {
      ASSERT_EQ(reporter.reports.size(), 1u);
      EXPECT_EQ(reporter.reports[0].first, path);
      EXPECT_EQ(reporter.reports[0].second, kErrorChangedMeanwhile);
      EXPECT_STREQ(ErrorSentence(kErrorChangedMeanwhile), "Error: An error has occurred!");
    }
    EXPECT_TRUE(ReadBytes(path) == expected) << "the file does not hold what was written to it";
    EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"log.txt"});
  }
}

#ifndef _WIN32
// The file with LF breaks made CR-LF.
std::string ToCrLf(const std::string& lf) {
  std::string crlf;
  for (char ch : lf) crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
  return crlf;
}

// Another program rewrites the file while the copy reads it, done before
// the copy reads its second block: in place with the same size, or
// truncated and written anew as long as what the copy has read. The file is
// converted again from its start: it ends as the conversion of what the
// other program wrote, never a mixture of both or the first block alone.
TEST(FlushFault, FileRewrittenDuringTheRead) {
  const std::string before = std::string(3 * kFileBlockSize - 1, 'x') + "\n";
  const struct {
    const char* name;
    bool truncate;
    std::string after;
  } kCases[] = {
      {"same_size_in_place", false, std::string(3 * kFileBlockSize - 1, 'y') + "\n"},
      {"truncated_and_written", true, std::string(kFileBlockSize - 1, 'y') + "\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    CollectingReporter reporter;
    const std::string path = scratch / "f.txt";
    WriteBytes(path, before);
    g_afterFirstBlock = [&] {
      if (c.truncate) SetSize(path, 0);
      WriteAt(path, 0, c.after);
    };
    EXPECT_TRUE(ConvertWithMode(path, ModeLfToCrLf, reporter));
    g_afterFirstBlock = nullptr;
    EXPECT_TRUE(ReadBytes(path) == ToCrLf(c.after)) << "not the conversion of what was written";
    EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"f.txt"});
  }
}

// A line appended after the last check before the replace, at the moment
// of the rename: it is not lost. The file is converted again with it.
TEST(FlushFault, LineAppendedAtTheRenameIsKept) {
  ScratchDir scratch;
  CollectingReporter reporter;
  const std::string path = scratch / "log.txt";
  WriteBytes(path, "a\nb\n");
  g_beforeRename = [&] { WriteAt(path, 4, "more\n"); };
  EXPECT_TRUE(ConvertWithMode(path, ModeLfToCrLf, reporter));
  g_beforeRename = nullptr;
  EXPECT_EQ(ReadBytes(path), "a\r\nb\r\nmore\r\n");
  EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"log.txt"});
}
#endif

// Flushes that fail in a batch, which flushes its files from several threads
// at once: each file whose flush failed keeps its old content and is reported
// by its own name, its temporary file gone; every other file is converted.
TEST(FlushFault, FailedFlushesInABatch) {
#ifdef _WIN32
  const int kError = ERROR_IO_DEVICE;
#else
  const int kError = EIO;
#endif
  const struct {
    const char* name;
    uint64_t size;  // the size of the new content whose flush fails; 0: every one
  } kCases[] = {{"every_flush_fails", 0}, {"one_files_flush_fails", 10}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScratchDir scratch;
    CollectingReporter reporter;
    std::vector<std::string> paths;
    for (int i = 0; i < 40; ++i) {
      paths.push_back(scratch / ("f" + std::to_string(i) + ".txt"));
      // The new content of f7 alone is 10 bytes long.
      WriteBytes(paths.back(), i == 7 ? "abc\ndef\n" : "a\n" + std::to_string(i) + "\n");
    }
    ConversionBatch batch;
    ConvertOptions options;
    options.reporter = &reporter;
    options.mode = ModeLfToCrLf;
    for (const std::string& path : paths) ASSERT_TRUE(batch.Add(path, options));
    std::vector<bool> finished;
    {
      FlushesFail fault(kFileFlush, kError, -1, c.size);
      batch.Commit([&finished](bool converted) { finished.push_back(converted); });
    }
    ASSERT_EQ(finished.size(), paths.size());
    size_t failed = 0;
    for (size_t i = 0; i < paths.size(); ++i) {
      const bool fails = c.size == 0 || i == 7;
      EXPECT_EQ(finished[i], !fails) << paths[i];
      const std::string old = i == 7 ? "abc\ndef\n" : "a\n" + std::to_string(i) + "\n";
      std::string converted;
      for (char ch : old) converted += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
      EXPECT_EQ(ReadBytes(paths[i]), fails ? old : converted) << paths[i];
      if (fails) ++failed;
    }
    ASSERT_EQ(reporter.reports.size(), failed);
    for (const auto& report : reporter.reports) {
      EXPECT_EQ(report.first.substr(0, scratch.path().size() + 1), scratch / "f");
      EXPECT_EQ(report.second, Errno(EIO));
    }
    EXPECT_EQ(ListFolder(scratch.path()).size(), paths.size()) << "a temporary file was left";
  }
}

// A failure is reported while its new content is still there, and the
// temporary file goes only after the report: alone and in a batch.
TEST(FlushFault, ReportComesBeforeTheTemporaryFileGoes) {
#ifdef _WIN32
  const int kError = ERROR_IO_DEVICE;
#else
  const int kError = EIO;
  // The temporary file gets a name at its creation, which a listing shows.
  g_noUnnamedFiles = true;
  struct Named {
    ~Named() { g_noUnnamedFiles = false; }
  } named;
#endif
  // Lists the folder at each report.
  struct ListingReporter : CollectingReporter {
    std::string folder;
    std::vector<std::vector<std::string>> listings;
    void ReportFileError(const FileError& error) override {
      CollectingReporter::ReportFileError(error);
      listings.push_back(ListFolder(folder));
    }
  };
  for (bool batched : {false, true}) {
    SCOPED_TRACE(batched ? "in a batch" : "alone");
    ScratchDir scratch;
    ListingReporter reporter;
    reporter.folder = scratch.path();
    const std::string path = scratch / "f.txt";
    WriteBytes(path, "a\nb\n");
    ConvertOptions options;
    options.reporter = &reporter;
    options.mode = ModeLfToCrLf;
    ConversionBatch batch;
    if (batched) {
      ASSERT_TRUE(batch.Add(path, options));
    }
    {
      FlushesFail fault(kFileFlush, kError);
      if (batched) {
        batch.Commit([](bool converted) { EXPECT_FALSE(converted); });
      } else {
        EXPECT_FALSE(ConvertFileInPlace(path, options));
      }
    }
    ASSERT_EQ(reporter.listings.size(), 1u);
    EXPECT_EQ(reporter.listings[0].size(), 2u) << "the file and its new content's temporary file";
    EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"f.txt"});
    EXPECT_EQ(ReadBytes(path), "a\nb\n");
  }
}

}  // namespace

#ifdef _WIN32
namespace {

// The rename that replaces the file meets a sharing violation a few times, as
// while a scanner holds the file a moment: the replace tries again and
// succeeds, nothing reported. Violations that go on longer than it waits fail
// the conversion, and the file keeps its content.
TEST(ReplaceFault, SharingViolationsForAMomentThenTheRenameSucceeds) {
  const struct {
    int violations;
    bool converted;
  } kCases[] = {{3, true}, {1000, false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::to_string(c.violations) + " violations");
    ScratchDir scratch;
    const std::string path = scratch / "f.txt";
    WriteBytes(path, "a\nb\n");
    CollectingReporter reporter;
    g_renames = 0;
    g_renameViolations = c.violations;
    const bool converted = ConvertWithMode(path, ModeLfToCrLf, reporter);
    g_renameViolations = 0;
    EXPECT_EQ(converted, c.converted);
    EXPECT_EQ(ReadBytes(path), c.converted ? "a\r\nb\r\n" : "a\nb\n");
    if (c.converted) {
      EXPECT_EQ(g_renames, c.violations + 1);
      EXPECT_TRUE(reporter.reports.empty());
    } else {
      EXPECT_GT(g_renames, 1);
      ASSERT_EQ(reporter.reports.size(), 1u);
      EXPECT_EQ(reporter.reports[0].second, kErrorHeld);
    }
    EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"f.txt"});
  }
}

}  // namespace
#endif
