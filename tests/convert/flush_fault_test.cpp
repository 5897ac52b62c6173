// Flushes that fail. This program is linked so that the engine's calls to the
// system's flush (fsync on POSIX, FlushFileBuffers on Windows) come here
// first; a test makes them fail as a full disk or a failing device would, at
// the moment the system writes the data out.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <string>

#include "file.h"
#include "support.h"

namespace {

enum FlushKind { kFileFlush, kFolderFlush };

struct FlushFault {
  bool active;
  FlushKind kind;
  int error;  // errno on POSIX, a system error code on Windows
  int times;  // how many more flushes fail; -1: all of them
} g_flushFault = {false, kFileFlush, 0, -1};

// Makes flushes of one kind fail with error while it lives: every one, or
// only the first times.
class FlushesFail {
 public:
  FlushesFail(FlushKind kind, int error, int times = -1) {
    g_flushFault = {true, kind, error, times};
  }
  ~FlushesFail() { g_flushFault.active = false; }
};

// True when the flush about to be made should fail, counting it.
bool FlushShouldFail(FlushKind kind) {
  if (!g_flushFault.active || g_flushFault.kind != kind || g_flushFault.times == 0) return false;
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
  // Windows has no flush of a folder: MOVEFILE_WRITE_THROUGH covers renames.
  if (FlushShouldFail(kFileFlush)) {
    SetLastError(static_cast<DWORD>(g_flushFault.error));
    return FALSE;
  }
  return g_realFlush(file);
}
#else
extern "C" int __real_fsync(int fd);

extern "C" int __wrap_fsync(int fd) {
  struct stat st;
  if (fstat(fd, &st) == 0 && FlushShouldFail(S_ISDIR(st.st_mode) ? kFolderFlush : kFileFlush)) {
    errno = g_flushFault.error;
    return -1;
  }
  return __real_fsync(fd);
}
#endif

namespace {

// The flush of the new content fails. Nothing is replaced, and the report
// names the temporary file, which is what could not be written.
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
      EXPECT_EQ(reporter.reports[0].first.substr(0, scratch.path().size() + 3), scratch / "tmp");
      EXPECT_EQ(reporter.reports[0].second, c.reported);
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
  EXPECT_EQ(reporter.reports[0].first.substr(0, scratch.path().size() + 3), scratch / "tmp");
  EXPECT_EQ(reporter.reports[0].second, EIO);
  EXPECT_EQ(SizeOf(path), content.size());
  EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"big.txt"});
}

#ifndef _WIN32
// The deferred flush of a folder fails: the files already hold their new
// content, and the flush names the folder with the error.
TEST(FlushFault, DeferredFolderFlushFails) {
  ScratchDir scratch;
  CollectingReporter reporter;
  DeferredFolderSync deferred;
  WriteBytes(scratch / "f.txt", "a\n");
  ASSERT_TRUE(ConvertWithMode(scratch / "f.txt", ModeLfToCrLf, reporter, &deferred));
  std::string failed;
  {
    FlushesFail fault(kFolderFlush, ENOSPC);
    EXPECT_EQ(deferred.Flush(&failed), ENOSPC);
  }
  EXPECT_EQ(failed, scratch.path());
  EXPECT_EQ(ReadBytes(scratch / "f.txt"), "a\r\n");
  EXPECT_EQ(ListFolder(scratch.path()), std::vector<std::string>{"f.txt"});
  EXPECT_TRUE(reporter.reports.empty());
}
#endif

}  // namespace
